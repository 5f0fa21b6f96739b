// Component extraction: the worked values of the modes, refusals, rectangles, and the typed
// kernels against the accessor path.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/component.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

struct Rgb {
  uint8_t r, g, b;
};

Rgb Extract8(Rgb in, int32_t mode, int32_t colorize) {
  CImgBuff img;
  EXPECT_EQ(1, img.Allocate(1, 1, 4));
  img.SetRGB8(0, 0, in.r, in.g, in.b);
  EXPECT_EQ(1, ExtractComponent(&img, mode, colorize, nullptr)) << mode;
  Rgb out{};
  img.GetRGB8(0, 0, &out.r, &out.g, &out.b);
  return out;
}

TEST(ExtractComponent, EightBitGreyValues) {
  struct Case {
    Rgb in;
    int32_t mode;
    uint8_t grey;
  };
  const Case cases[] = {
      {{0, 255, 0}, 5, 85},     {{0, 0, 255}, 5, 170},    {{255, 0, 0}, 5, 0},
      {{0, 255, 0}, 6, 255},    {{90, 90, 90}, 5, 0},     {{90, 90, 90}, 6, 0},
      {{200, 100, 50}, 8, 55},  {{200, 100, 50}, 9, 155}, {{200, 100, 50}, 10, 205},
      {{200, 100, 50}, 11, 0},  {{200, 100, 50}, 12, 100}, {{200, 100, 50}, 13, 150},
      {{200, 100, 50}, 14, 55}, {{200, 100, 50}, 7, 200}, {{200, 100, 50}, 1, 124},
      {{200, 100, 50}, 3, 100},
  };
  for (const Case& c : cases) {
    const Rgb out = Extract8(c.in, c.mode, 0);
    EXPECT_EQ(c.grey, out.r) << "mode " << c.mode;
    EXPECT_EQ(out.r, out.g) << "mode " << c.mode;
    EXPECT_EQ(out.r, out.b) << "mode " << c.mode;
  }
}

TEST(ExtractComponent, EightBitColourForms) {
  struct Case {
    int32_t mode;
    Rgb out;
  };
  const Case cases[] = {
      {2, {200, 0, 0}},     {8, {200, 255, 255}}, {11, {255, 255, 255}},
      {12, {255, 155, 255}}, {14, {200, 200, 200}}, {7, {200, 200, 200}},
      {1, {124, 124, 124}},
  };
  for (const Case& c : cases) {
    const Rgb out = Extract8({200, 100, 50}, c.mode, 1);
    EXPECT_EQ(c.out.r, out.r) << "mode " << c.mode;
    EXPECT_EQ(c.out.g, out.g) << "mode " << c.mode;
    EXPECT_EQ(c.out.b, out.b) << "mode " << c.mode;
  }
}

TEST(ExtractComponent, CiePacking) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(1, 1, 6));
  // White: L* = 100 packs to the maximum; a* and b* near 0 pack to about the middle.
  img.SetRGB32(0, 0, 4294967295u, 4294967295u, 4294967295u);
  ASSERT_EQ(1, ExtractComponent(&img, 18, 0, nullptr));
  uint32_t v;
  img.GetGray32(0, 0, &v);
  EXPECT_GE(v, 4294967295u - 4096u);
  img.SetRGB32(0, 0, 4294967295u, 4294967295u, 4294967295u);
  ASSERT_EQ(1, ExtractComponent(&img, 19, 0, nullptr));
  img.GetGray32(0, 0, &v);
  EXPECT_NEAR(2155905152.0, double(v), 4294967295.0 * 0.01 / 255);  // a* of white within 0.01

  CImgBuff x8;
  ASSERT_EQ(1, x8.Allocate(1, 1, 7));
  x8.SetXYZ(0, 0, 1.0, 0.5, 2.0);
  ASSERT_EQ(1, ExtractComponent(&x8, 15, 0, nullptr));
  double X, Y, Z;
  ASSERT_EQ(1, x8.GetXYZ(0, 0, &X, &Y, &Z));
  uint32_t packedX;
  x8.GetGray32(0, 0, &packedX);
  // 1.0 packs to 3904515722; read back through the picture's own XYZ setter that is a grey.
  EXPECT_NEAR(3904515722.0, double(packedX), 4294967295.0 / 255);
}

TEST(ExtractComponent, GreyPicturesAndRefusals) {
  CImgBuff g, orig;
  FillRandom(g, 12, 9, 1, 4);
  CopyPicture(orig, g);
  for (int32_t mode : {1, 2, 3, 4, 7}) {
    EXPECT_EQ(1, ExtractComponent(&g, mode, 0, nullptr));
    EXPECT_TRUE(SamePixels(g, orig)) << mode;
  }
  EXPECT_EQ(0, ExtractComponent(&g, 2, 1, nullptr));  // no colour on a grey picture
  EXPECT_EQ(0, ExtractComponent(&g, 0, 0, nullptr));
  EXPECT_EQ(0, ExtractComponent(&g, 23, 0, nullptr));
  const RoiRect outside{-9, -9, -1, 4};
  EXPECT_EQ(0, ExtractComponent(&g, 8, 0, &outside));
  EXPECT_TRUE(SamePixels(g, orig));
  ASSERT_EQ(1, ExtractComponent(&g, 8, 0, nullptr));  // mode 8 inverts a grey picture
  for (int32_t x = 0; x < 12; ++x) {
    uint8_t a, b;
    g.GetGray8(x, 3, &a);
    orig.GetGray8(x, 3, &b);
    EXPECT_EQ(255 - b, a);
  }
  ASSERT_EQ(1, ExtractComponent(&g, 5, 0, nullptr));  // hue of grey: black
  uint8_t v;
  g.GetGray8(5, 5, &v);
  EXPECT_EQ(0, v);

  CImgBuff empty;
  const RoiRect any{0, 0, 3, 3};
  EXPECT_EQ(1, ExtractComponent(&empty, 3, 0, &any));
  EXPECT_EQ(0, ExtractComponent(&empty, 3, 0, nullptr));
  EXPECT_EQ(0, ExtractComponent(&empty, 3, 1, &any));
}

TEST(ExtractComponent, OnlyInsideTheRectangle) {
  CImgBuff img, orig;
  FillRandom(img, 30, 20, 4, 8);
  CopyPicture(orig, img);
  const RoiRect r{4, 3, 12, 9};
  ASSERT_EQ(1, ExtractComponent(&img, 2, 0, &r));
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 30; ++x) {
      uint8_t p[3], q[3];
      img.GetRGB8(x, y, &p[0], &p[1], &p[2]);
      orig.GetRGB8(x, y, &q[0], &q[1], &q[2]);
      const bool inside = x >= 4 && x <= 12 && y >= 3 && y <= 9;
      if (inside) {
        EXPECT_EQ(q[0], p[1]);
        EXPECT_EQ(q[0], p[2]);
      } else {
        EXPECT_EQ(0, std::memcmp(p, q, 3));
      }
    }
}

TEST(ExtractComponent, TypedKernelsMatchAccessors) {
  for (int32_t f = 1; f <= 9; ++f)
    for (int32_t mode = 1; mode <= 22; ++mode)
      for (int32_t colorize = 0; colorize <= 1; ++colorize)
        ExpectTypedMatchesReference(
            f, "ExtractComponent mode " + std::to_string(mode) + " colorize " +
                   std::to_string(colorize),
            [&](CImgBuff* p, const RoiRect* r) { return ExtractComponent(p, mode, colorize, r); },
            41, 23);
}

}  // namespace

namespace {

using namespace enginetest;

TEST(ExtractComponent, EightBitGreyOfEveryColour) {
  // All 2^24 colours: pixel (x, y) of a 4096 x 4096 picture is (y >> 4, x >> 4, (y & 15) x
  // 16 + (x & 15)).
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(4096, 4096, 4));
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (int32_t y = 0; y < 4096; ++y)
    for (int32_t x = 0; x < 4096; ++x, p += 3) {
      p[0] = uint8_t(y >> 4);
      p[1] = uint8_t(x >> 4);
      p[2] = uint8_t((y & 15) * 16 + (x & 15));
    }
  ASSERT_EQ(1, ExtractComponent(&img, 1, 0, nullptr));
  const uint8_t* q = static_cast<const uint8_t*>(img.Pixels());
  int64_t wrong = 0;
  for (int32_t y = 0; y < 4096; ++y)
    for (int32_t x = 0; x < 4096; ++x, q += 3) {
      const uint32_t r = uint32_t(y >> 4), g = uint32_t(x >> 4);
      const uint32_t b = uint32_t((y & 15) * 16 + (x & 15));
      const uint32_t grey = (299 * r + 587 * g + 114 * b + 500) / 1000;
      if (q[0] != grey || q[1] != grey || q[2] != grey) ++wrong;
    }
  EXPECT_EQ(0, wrong);
}

TEST(ExtractComponent, EightBitHueAndSaturationMatchAccessorsOnEveryQuotient) {
  for (int32_t mode : {5, 6})
    for (int32_t colorize = 0; colorize <= 1; ++colorize) {
      CImgBuff typed, reference;
      FillEveryQuotient(typed);
      CopyPicture(reference, typed);
      const RoiRect inner{2, 1, 510, 507};
      SetEngineTypedKernels(1);
      ASSERT_EQ(1, ExtractComponent(&typed, mode, colorize, &inner));
      SetEngineTypedKernels(0);
      ASSERT_EQ(1, ExtractComponent(&reference, mode, colorize, &inner));
      SetEngineTypedKernels(1);
      EXPECT_TRUE(SamePixels(typed, reference))
          << mode << " " << colorize << ": " << FirstDifference(typed, reference);
    }
}

TEST(ExtractComponent, EightBitCieModesMatchAccessorsForEveryChannelValue) {
  // Every value of each channel alone, of all three together and mixed with the others.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(256, 6, 4));
  for (int32_t c = 0; c < 256; ++c) {
    const uint8_t v = uint8_t(c), w = uint8_t(255 - c), h = uint8_t(c / 2);
    img.SetRGB8(c, 0, v, 0, 0);
    img.SetRGB8(c, 1, 0, v, 0);
    img.SetRGB8(c, 2, 0, 0, v);
    img.SetRGB8(c, 3, v, v, v);
    img.SetRGB8(c, 4, v, w, h);
    img.SetRGB8(c, 5, h, v, w);
  }
  for (int32_t mode = 15; mode <= 22; ++mode) {
    CImgBuff typed, reference;
    CopyPicture(typed, img);
    CopyPicture(reference, img);
    SetEngineTypedKernels(1);
    ASSERT_EQ(1, ExtractComponent(&typed, mode, 0, nullptr));
    SetEngineTypedKernels(0);
    ASSERT_EQ(1, ExtractComponent(&reference, mode, 0, nullptr));
    SetEngineTypedKernels(1);
    EXPECT_TRUE(SamePixels(typed, reference)) << mode << ": " << FirstDifference(typed, reference);
  }
}

TEST(ExtractComponent, EightBitLightnessMatchesAccessors) {
  // Every R and G with four B each, and every gray level: L* is written from steps in Y,
  // which must give the accessors' byte wherever a colour's Y lands.
  CImgBuff rgb, reference;
  ASSERT_EQ(1, rgb.Allocate(1024, 256, 4));
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 1024; ++x)
      rgb.SetRGB8(x, y, uint8_t(y), uint8_t(x >> 2), uint8_t((x & 3) * 85 + (y & 7)));
  CopyPicture(reference, rgb);
  CImgBuff gray, grayReference;
  ASSERT_EQ(1, gray.Allocate(256, 1, 1));
  for (int32_t x = 0; x < 256; ++x) gray.SetGray8(x, 0, uint8_t(x));
  CopyPicture(grayReference, gray);
  SetEngineTypedKernels(1);
  ASSERT_EQ(1, ExtractComponent(&rgb, 18, 0, nullptr));
  ASSERT_EQ(1, ExtractComponent(&gray, 18, 0, nullptr));
  SetEngineTypedKernels(0);
  ASSERT_EQ(1, ExtractComponent(&reference, 18, 0, nullptr));
  ASSERT_EQ(1, ExtractComponent(&grayReference, 18, 0, nullptr));
  SetEngineTypedKernels(1);
  EXPECT_TRUE(SamePixels(rgb, reference)) << FirstDifference(rgb, reference);
  EXPECT_TRUE(SamePixels(gray, grayReference)) << FirstDifference(gray, grayReference);
  uint8_t black = 1, white = 0;
  gray.GetGray8(0, 0, &black);
  gray.GetGray8(255, 0, &white);
  EXPECT_EQ(0, black);
  EXPECT_EQ(255, white);
}

TEST(ExtractComponent, LargePicturesSplitIntoBandsMatchAccessors) {
  // Large enough that the entry hands bands of rows to several workers; the rectangle's rows
  // don't divide evenly into bands.
  CImgBuff picture;
  FillRandom(picture, 1600, 1400, 4, 23);
  const RoiRect r{1, 2, 1597, 1398};
  for (int32_t mode : {1, 5, 14}) {
    CImgBuff typed, reference;
    CopyPicture(typed, picture);
    CopyPicture(reference, picture);
    SetEngineTypedKernels(1);
    ASSERT_EQ(1, ExtractComponent(&typed, mode, 0, &r));
    SetEngineTypedKernels(0);
    ASSERT_EQ(1, ExtractComponent(&reference, mode, 0, &r));
    SetEngineTypedKernels(1);
    EXPECT_TRUE(SamePixels(typed, reference)) << mode << ": " << FirstDifference(typed, reference);
  }
}

}  // namespace

namespace {

using namespace enginetest;

// Every 8-bit colour in a picture of the given width, colour i at pixel i.
void FillEveryColour(CImgBuff& img, int32_t width) {
  ASSERT_EQ(1, img.Allocate(width, (1 << 24) / width, 4));
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (uint32_t i = 0; i < (1u << 24); ++i, p += 3) {
    p[0] = uint8_t(i >> 16);
    p[1] = uint8_t(i >> 8);
    p[2] = uint8_t(i);
  }
}

TEST(ExtractComponent, EightBitGreyOfEveryColourOnEveryRowKernel) {
  // The grey of R,G,B 8 rows runs sixteen pixels a step with AVX2, eight with SSSE3, the rest
  // one at a time; the row width decides which: 16 goes through the AVX2 step, 8 through the
  // SSSE3 step alone, 7 through the plain loop alone.
  for (int32_t width : {16, 8, 7}) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(width, ((1 << 24) + width - 1) / width, 4));
    uint8_t* p = static_cast<uint8_t*>(img.Pixels());
    for (uint32_t i = 0; i < (1u << 24); ++i, p += 3) {
      p[0] = uint8_t(i >> 16);
      p[1] = uint8_t(i >> 8);
      p[2] = uint8_t(i);
    }
    ASSERT_EQ(1, ExtractComponent(&img, 1, 0, nullptr));
    const uint8_t* q = static_cast<const uint8_t*>(img.Pixels());
    int64_t wrong = 0;
    for (uint32_t i = 0; i < (1u << 24); ++i, q += 3) {
      const uint32_t grey = (299 * (i >> 16) + 587 * ((i >> 8) & 255) + 114 * (i & 255) + 500) / 1000;
      if (q[0] != grey || q[1] != grey || q[2] != grey) ++wrong;
    }
    EXPECT_EQ(0, wrong) << "row width " << width;
  }
}

TEST(ExtractComponent, EightBitHueAndSaturationOfEveryColourMatchAccessors) {
  // Every order and tie of the channels picks its sector as the accessors do.
  for (int32_t mode : {5, 6})
    for (int32_t colorize = 0; colorize <= 1; ++colorize) {
      CImgBuff typed, reference;
      FillEveryColour(typed, 4096);
      CopyPicture(reference, typed);
      SetEngineTypedKernels(1);
      ASSERT_EQ(1, ExtractComponent(&typed, mode, colorize, nullptr));
      SetEngineTypedKernels(0);
      ASSERT_EQ(1, ExtractComponent(&reference, mode, colorize, nullptr));
      SetEngineTypedKernels(1);
      EXPECT_TRUE(SamePixels(typed, reference))
          << mode << " " << colorize << ": " << FirstDifference(typed, reference);
    }
}

TEST(ExtractComponent, EightBitLightnessOfEveryColourMatchesAccessors) {
  // L* of 8-bit pictures comes from steps in Y: every colour must land on the accessors' byte.
  CImgBuff typed, reference;
  FillEveryColour(typed, 4096);
  CopyPicture(reference, typed);
  SetEngineTypedKernels(1);
  ASSERT_EQ(1, ExtractComponent(&typed, 18, 0, nullptr));
  SetEngineTypedKernels(0);
  ASSERT_EQ(1, ExtractComponent(&reference, 18, 0, nullptr));
  SetEngineTypedKernels(1);
  EXPECT_TRUE(SamePixels(typed, reference)) << FirstDifference(typed, reference);
}

}  // namespace
