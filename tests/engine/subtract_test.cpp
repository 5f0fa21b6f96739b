// Background subtraction and object extraction: worked values, backgrounds smaller than the
// picture, the level's two scales, tiles, refusals, OpenCV's saturating subtraction, and the
// typed kernels against the accessor path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/subtract.h"
#include "tests/engine/engine_test_util.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

using namespace enginetest;

TEST(SubtractBackground, WorkedValues) {
  for (int32_t typed : {1, 0}) {
    SetEngineTypedKernels(typed);
    CImgBuff g8, b8, g32, b32, rgb, brgb;
    ASSERT_EQ(1, g8.Allocate(2, 1, 1));
    ASSERT_EQ(1, b8.Allocate(2, 1, 1));
    g8.SetGray8(0, 0, 100), b8.SetGray8(0, 0, 30);
    g8.SetGray8(1, 0, 30), b8.SetGray8(1, 0, 100);
    ASSERT_EQ(1, g32.Allocate(2, 1, 3));
    ASSERT_EQ(1, b32.Allocate(2, 1, 3));
    g32.SetGray32(0, 0, 4000000000u), b32.SetGray32(0, 0, 0);
    g32.SetGray32(1, 0, 0), b32.SetGray32(1, 0, 3000000000u);
    ASSERT_EQ(1, rgb.Allocate(1, 1, 4));
    ASSERT_EQ(1, brgb.Allocate(1, 1, 4));
    rgb.SetRGB8(0, 0, 200, 50, 90), brgb.SetRGB8(0, 0, 100, 100, 100);
    EXPECT_EQ(1, SubtractBackground(&g8, &b8, 0, nullptr));
    EXPECT_EQ(1, SubtractBackground(&g32, &b32, 0, nullptr));
    EXPECT_EQ(1, SubtractBackground(&rgb, &brgb, 0, nullptr));
    uint8_t a, b, c;
    g8.GetGray8(0, 0, &a), g8.GetGray8(1, 0, &b);
    EXPECT_EQ(70, a);
    EXPECT_EQ(0, b);
    uint32_t u, v;
    g32.GetGray32(0, 0, &u), g32.GetGray32(1, 0, &v);
    EXPECT_EQ(4000000000u, u);
    EXPECT_EQ(0u, v);
    rgb.GetRGB8(0, 0, &a, &b, &c);
    EXPECT_EQ(100, a);
    EXPECT_EQ(0, b);
    EXPECT_EQ(0, c);
    // A gray background under a colour picture is read as R = G = B.
    rgb.SetRGB8(0, 0, 200, 50, 90);
    b8.SetGray8(0, 0, 60);
    EXPECT_EQ(1, SubtractBackground(&rgb, &b8, 0, nullptr));
    rgb.GetRGB8(0, 0, &a, &b, &c);
    EXPECT_EQ(140, a);
    EXPECT_EQ(0, b);
    EXPECT_EQ(30, c);
  }
  SetEngineTypedKernels(1);
}

TEST(SubtractBackground, SmallerBackgroundMaskedOrKept) {
  for (int32_t typed : {1, 0})
    for (int32_t mask : {0, 1}) {
      SetEngineTypedKernels(typed);
      CImgBuff pic, orig, bg;
      FillRandom(pic, 200, 100, 4, 5);
      CopyPicture(orig, pic);
      ASSERT_EQ(1, bg.Allocate(100, 100, 4));  // black: the left half keeps its values
      EXPECT_EQ(1, SubtractBackground(&pic, &bg, mask, nullptr));
      int32_t wrong = 0;
      for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 200; ++x) {
          uint8_t r, g, b, r0, g0, b0;
          pic.GetRGB8(x, y, &r, &g, &b);
          orig.GetRGB8(x, y, &r0, &g0, &b0);
          const bool zero = mask && x >= 100;
          if (zero ? (r | g | b) != 0 : (r != r0 || g != g0 || b != b0)) ++wrong;
        }
      EXPECT_EQ(0, wrong) << "mask " << mask << " typed " << typed;
    }
  SetEngineTypedKernels(1);
}

TEST(SubtractBackground, Refusals) {
  CImgBuff pic, orig, bg, empty;
  FillRandom(pic, 10, 10, 1, 3);
  CopyPicture(orig, pic);
  FillRandom(bg, 10, 10, 1, 4);
  const RoiRect outside{10, 0, 12, 5};
  EXPECT_EQ(1, SubtractBackground(&pic, &empty, 1, nullptr)) << "no background: nothing to do";
  EXPECT_EQ(0, SubtractBackground(&pic, &bg, 1, &outside));
  EXPECT_EQ(0, SubtractBackground(&empty, &bg, 1, nullptr));
  EXPECT_EQ(0, SubtractBackground(nullptr, &bg, 1, nullptr));
  EXPECT_EQ(1, SubtractBackground(&pic, nullptr, 1, nullptr));
  EXPECT_TRUE(SamePixels(pic, orig));
}

TEST(SubtractBackground, TypedMatchesReference) {
  // Backgrounds of the same format and size, another format, and smaller than the picture.
  for (int32_t format = 1; format <= 9; ++format)
    for (int32_t bgFormat : {format, 1 + format % 9, 7})
      for (int32_t mask : {0, 1})
        for (int32_t small : {0, 1}) {
          CImgBuff bg;
          FillRandom(bg, small ? 50 : 97, small ? 30 : 61, bgFormat, uint32_t(format * 31 + bgFormat));
          ExpectTypedMatchesReference(
              format, "subtract bg " + std::to_string(bgFormat) + " mask " + std::to_string(mask) +
                          " small " + std::to_string(small),
              [&](CImgBuff* img, const RoiRect* roi) { return SubtractBackground(img, &bg, mask, roi); });
        }
}

#ifdef QV_HAVE_OPENCV
TEST(SubtractBackground, EqualsOpenCvSubtract) {
  struct Case {
    int32_t format;
    int cvType;
  } cases[] = {{1, CV_8UC1}, {2, CV_16UC1}, {4, CV_8UC3}, {5, CV_16UC3}};
  for (const Case& c : cases) {
    CImgBuff pic, bg;
    FillRandom(pic, 131, 77, c.format, 11);
    FillRandom(bg, 131, 77, c.format, 12);
    cv::Mat a(77, 131, c.cvType), b(77, 131, c.cvType), expected;
    std::memcpy(a.data, pic.Pixels(), a.total() * a.elemSize());
    std::memcpy(b.data, bg.Pixels(), b.total() * b.elemSize());
    cv::subtract(a, b, expected);
    EXPECT_EQ(1, SubtractBackground(&pic, &bg, 0, nullptr));
    EXPECT_EQ(0, std::memcmp(expected.data, pic.Pixels(), a.total() * a.elemSize())) << c.format;
  }
}
#endif

// XYZ pictures carry L*a*b* unrounded, so lightness differences are exact.
void SetLabRow(CImgBuff& img, const std::vector<double>& lightness) {
  ASSERT_EQ(1, img.Allocate(int32_t(lightness.size()), 1, 7));
  for (size_t i = 0; i < lightness.size(); ++i) img.SetLab(int32_t(i), 0, lightness[i], 0.0, 0.0);
}

bool IsFill(const CImgBuff& img, int32_t x, int32_t y, int32_t valueFlag) {
  CImgBuff one;
  one.Allocate(1, 1, img.Format());
  one.SetGray8(0, 0, valueFlag ? 255 : 0);
  const int32_t bpp = ImgBytesPerPixel[img.Format()];
  return std::memcmp(static_cast<const uint8_t*>(img.Pixels()) + (int64_t(y) * img.Width() + x) * bpp,
                     one.Pixels(), size_t(bpp)) == 0;
}

TEST(ExtractObjects, PixelPassComparesWithTheSquareOfTheLevel) {
  for (int32_t typed : {1, 0}) {
    SetEngineTypedKernels(typed);
    CImgBuff pic, bg;
    SetLabRow(pic, {29.0, 31.0, 20.0, 20.0 + 1e-9});
    SetLabRow(bg, {20.0, 20.0, 20.0, 20.0});
    EXPECT_EQ(1, ExtractObjects(&pic, &bg, 0, 10.0, 0, nullptr));
    EXPECT_TRUE(IsFill(pic, 0, 0, 0)) << "9 away: 81 <= 100";
    EXPECT_FALSE(IsFill(pic, 1, 0, 0)) << "11 away: 121 > 100";
    SetLabRow(pic, {29.0, 31.0, 20.0, 20.0 + 1e-6});
    EXPECT_EQ(1, ExtractObjects(&pic, &bg, 1, 0.0, 1, nullptr));
    EXPECT_FALSE(IsFill(pic, 0, 0, 1));
    EXPECT_TRUE(IsFill(pic, 2, 0, 1)) << "level 0 paints the exact match only";
    EXPECT_FALSE(IsFill(pic, 3, 0, 1));
  }
  SetEngineTypedKernels(1);
}

TEST(ExtractObjects, TilesCutAtTheRectangle) {
  for (int32_t typed : {1, 0}) {
    SetEngineTypedKernels(typed);
    // One pixel 40 units of lightness away at (9, 9): squared 1600, a mean of 400 in the
    // 2 x 2 corner tile but 100 in a 4 x 4 tile.  Level 200 keeps the corner tile only.
    CImgBuff pic, bg;
    ASSERT_EQ(1, pic.Allocate(10, 10, 7));
    ASSERT_EQ(1, bg.Allocate(10, 10, 7));
    for (int32_t i = 0; i < 100; ++i) {
      pic.SetLab(i % 10, i / 10, 30.0, 0.0, 0.0);
      bg.SetLab(i % 10, i / 10, 30.0, 0.0, 0.0);
    }
    pic.SetLab(9, 9, 70.0, 0.0, 0.0);
    EXPECT_EQ(1, ExtractObjects(&pic, &bg, 1, 200.0, 4, nullptr));
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 10; ++x)
        EXPECT_EQ(!(x >= 8 && y >= 8), IsFill(pic, x, y, 1)) << x << "," << y;
  }
  SetEngineTypedKernels(1);
}

TEST(ExtractObjects, OutsideTheBackground) {
  for (int32_t typed : {1, 0}) {
    SetEngineTypedKernels(typed);
    CImgBuff pic, orig, bg;
    FillRandom(pic, 10, 10, 4, 21);
    CopyPicture(orig, pic);
    ASSERT_EQ(1, bg.Allocate(4, 4, 4));
    bg.SetRGB8(0, 0, 1, 2, 3);
    // Pixel pass: only pixels inside the background are judged.
    EXPECT_EQ(1, ExtractObjects(&pic, &bg, 0, 1000.0, 0, nullptr));
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 10; ++x) {
        if (x < 4 && y < 4) continue;
        uint8_t r, g, b, r0, g0, b0;
        pic.GetRGB8(x, y, &r, &g, &b);
        orig.GetRGB8(x, y, &r0, &g0, &b0);
        EXPECT_TRUE(r == r0 && g == g0 && b == b0) << x << "," << y;
      }
    // Tile pass: a tile wholly outside has mean 0 and is painted even at level 0.
    CopyPicture(pic, orig);
    EXPECT_EQ(1, ExtractObjects(&pic, &bg, 0, 0.0, 5, nullptr));
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 10; ++x)
        if (x >= 5 || y >= 5) {
          EXPECT_TRUE(IsFill(pic, x, y, 0)) << x << "," << y;
        }
  }
  SetEngineTypedKernels(1);
}

TEST(ExtractObjects, WhiteOnDeepFormatsAndRefusals) {
  CImgBuff pic, bg, orig, empty;
  ASSERT_EQ(1, pic.Allocate(3, 3, 5));
  ASSERT_EQ(1, bg.Allocate(3, 3, 5));
  EXPECT_EQ(1, ExtractObjects(&pic, &bg, 1, 0.0, 0, nullptr));
  uint16_t r, g, b;
  pic.GetRGB16(1, 1, &r, &g, &b);
  EXPECT_EQ(65535, r);
  EXPECT_EQ(65535, g);
  EXPECT_EQ(65535, b);

  FillRandom(pic, 12, 9, 4, 8);
  FillRandom(bg, 12, 9, 4, 9);
  CopyPicture(orig, pic);
  const RoiRect outside{-5, -5, -1, 3};
  for (double level : {-0.5, std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_EQ(0, ExtractObjects(&pic, &bg, 0, level, 4, nullptr)) << level;
  EXPECT_EQ(0, ExtractObjects(&pic, &bg, 0, 1.0, 4, &outside));
  EXPECT_EQ(0, ExtractObjects(&empty, &bg, 0, 1.0, 4, nullptr));
  EXPECT_EQ(1, ExtractObjects(&pic, &empty, 0, -1.0, 4, nullptr)) << "no background";
  EXPECT_TRUE(SamePixels(pic, orig));
  // A tile larger than the picture is one tile; its corners do not overflow.
  EXPECT_EQ(1, ExtractObjects(&pic, &bg, 0, 1e9, UINT64_MAX, nullptr));
  for (int32_t i = 0; i < 12 * 9; ++i) EXPECT_TRUE(IsFill(pic, i % 12, i / 12, 0));
}

TEST(LabDistance, MissingPixelsGiveZero) {
  CImgBuff pic, bg, empty;
  SetLabRow(pic, {60.0, 20.0});
  ASSERT_EQ(1, bg.Allocate(1, 1, 7));
  bg.SetLab(0, 0, 70.0, 4.0, 0.0);
  EXPECT_NEAR(100.0 + 0.25 * 16.0, LabDistance(&pic, &bg, 0, 0), 1e-6);
  EXPECT_EQ(0.0, LabDistance(&pic, &bg, 1, 0));
  EXPECT_EQ(0.0, LabDistance(&pic, &bg, -1, 0));
  EXPECT_EQ(0.0, LabDistance(&pic, &empty, 0, 0));
}

TEST(ExtractObjects, TypedMatchesReference) {
  for (int32_t format = 1; format <= 9; ++format)
    for (int32_t bgFormat : {format, 1 + format % 9})
      for (uint64_t tile : {0, 1, 3, 8})
        for (int32_t small : {0, 1}) {
          CImgBuff bg;
          FillRandom(bg, small ? 50 : 97, small ? 30 : 61, bgFormat, uint32_t(format * 7 + bgFormat));
          const double level = tile < 2 ? 45.0 : 2500.0;
          ExpectTypedMatchesReference(
              format, "extract bg " + std::to_string(bgFormat) + " tile " + std::to_string(tile) +
                          " small " + std::to_string(small),
              [&](CImgBuff* img, const RoiRect* roi) {
                return ExtractObjects(img, &bg, int32_t(tile & 1), level, tile, roi);
              });
        }
}

}  // namespace
