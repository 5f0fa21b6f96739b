// Invert: worked values, double inversion, rectangles, and the typed kernels against the
// accessor path.
#include <gtest/gtest.h>

#include "engine/invert.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

TEST(Invert, WorkedValues) {
  CImgBuff g8, g16, g32, rgb;
  ASSERT_EQ(1, g8.Allocate(2, 1, 1));
  g8.SetGray8(0, 0, 0);
  g8.SetGray8(1, 0, 200);
  ASSERT_EQ(1, g16.Allocate(1, 1, 2));
  g16.SetGray16(0, 0, 1000);
  ASSERT_EQ(1, g32.Allocate(1, 1, 3));
  ASSERT_EQ(1, rgb.Allocate(1, 1, 4));
  rgb.SetRGB8(0, 0, 10, 20, 30);
  for (CImgBuff* p : {&g8, &g16, &g32, &rgb}) EXPECT_EQ(1, Invert(p, nullptr));
  uint8_t a, b, c;
  g8.GetGray8(0, 0, &a);
  g8.GetGray8(1, 0, &b);
  EXPECT_EQ(255, a);
  EXPECT_EQ(55, b);
  uint16_t v16;
  g16.GetGray16(0, 0, &v16);
  EXPECT_EQ(64535, v16);
  uint32_t v32;
  g32.GetGray32(0, 0, &v32);
  EXPECT_EQ(4294967295u, v32);
  rgb.GetRGB8(0, 0, &a, &b, &c);
  EXPECT_EQ(245, a);
  EXPECT_EQ(235, b);
  EXPECT_EQ(225, c);
}

TEST(Invert, TwiceRestoresFormatsOneToSix) {
  for (int32_t f = 1; f <= 6; ++f) {
    CImgBuff img, orig;
    FillRandom(img, 53, 41, f, 77u + f);
    CopyPicture(orig, img);
    const RoiRect r{3, -2, 70, 30};
    EXPECT_EQ(1, Invert(&img, &r));
    EXPECT_FALSE(SamePixels(img, orig)) << f;
    EXPECT_EQ(1, Invert(&img, &r));
    EXPECT_TRUE(SamePixels(img, orig)) << f;
  }
}

TEST(Invert, OnlyInsideTheRectangle) {
  CImgBuff img;
  FillRandom(img, 20, 10, 4, 5);
  CImgBuff orig;
  CopyPicture(orig, img);
  const RoiRect r{5, 2, 9, 4};
  ASSERT_EQ(1, Invert(&img, &r));
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 20; ++x) {
      uint8_t p[3], q[3];
      img.GetRGB8(x, y, &p[0], &p[1], &p[2]);
      orig.GetRGB8(x, y, &q[0], &q[1], &q[2]);
      const bool inside = x >= 5 && x <= 9 && y >= 2 && y <= 4;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(inside ? 255 - q[k] : q[k], p[k]) << x << "," << y;
    }
}

TEST(Invert, RefusalsLeaveThePictureUnchanged) {
  CImgBuff img, orig;
  FillRandom(img, 10, 10, 1, 9);
  CopyPicture(orig, img);
  const RoiRect outside{10, 0, 12, 5};
  EXPECT_EQ(0, Invert(&img, &outside));
  EXPECT_TRUE(SamePixels(img, orig));
  CImgBuff empty;
  const RoiRect any{0, 0, 5, 5};
  EXPECT_EQ(0, Invert(&empty, nullptr));
  EXPECT_EQ(0, Invert(&empty, &any));  // no pixels to touch, even with a rectangle
  EXPECT_EQ(0, Invert(nullptr, nullptr));
}

TEST(Invert, LargePicturesSplitIntoBandsMatchAccessors) {
  // 18 MB of 32-bit R,G,B: the typed kernels hand a few bands of rows to the workers, the
  // accessor path more and smaller ones; both must cover every row once.
  {
    CImgBuff typed, reference;
    FillRandom(typed, 1000, 1500, 6, 17);
    CopyPicture(reference, typed);
    const RoiRect r{3, 1, 996, 1498};
    SetEngineTypedKernels(1);
    ASSERT_EQ(1, Invert(&typed, &r));
    SetEngineTypedKernels(0);
    ASSERT_EQ(1, Invert(&reference, &r));
    SetEngineTypedKernels(1);
    EXPECT_TRUE(SamePixels(typed, reference)) << FirstDifference(typed, reference);
  }
  // A 17 MB gray picture against the complement computed here, with a rectangle whose rows
  // don't divide evenly into bands.
  const int32_t w = 4201, h = 4100;
  CImgBuff img, orig;
  FillRandom(img, w, h, 1, 31);
  CopyPicture(orig, img);
  const RoiRect r{1, 2, w - 2, h - 2};
  ASSERT_EQ(1, Invert(&img, &r));
  const uint8_t* p = static_cast<const uint8_t*>(img.Pixels());
  const uint8_t* q = static_cast<const uint8_t*>(orig.Pixels());
  int64_t wrong = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x, ++p, ++q) {
      const bool inside = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
      if (*p != (inside ? uint8_t(~*q) : *q)) ++wrong;
    }
  EXPECT_EQ(0, wrong);
}

TEST(Invert, TypedKernelsMatchAccessors) {
  for (int32_t f = 1; f <= 9; ++f)
    ExpectTypedMatchesReference(f, "Invert", [](CImgBuff* p, const RoiRect* r) {
      return Invert(p, r);
    });
}

}  // namespace
