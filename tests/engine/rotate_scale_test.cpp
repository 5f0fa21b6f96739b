// RotateScale and NormalizeAngle: the geometry of the turn (centre, direction, mirror, even
// sizes), exact quarter turns against the core's, the blend and its truncation, fills, the
// refusals, and the typed kernels against the accessor path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "engine/rotate_scale.h"
#include "engine/simd.h"
#include "tests/engine/engine_test_util.h"

using namespace enginetest;

namespace {

constexpr double kPi = 3.141592653589793;

uint32_t Gray32At(const CImgBuff& img, int32_t x, int32_t y) {
  uint32_t v = 0;
  img.GetGray32(x, y, &v);
  return v;
}

uint8_t Gray8At(const CImgBuff& img, int32_t x, int32_t y) {
  uint8_t v = 0;
  img.GetGray8(x, y, &v);
  return v;
}

}  // namespace

TEST(NormalizeAngle, FoldsIntoTheHalfTurnEitherWay) {
  struct Case {
    double degrees, radians;
  } cases[] = {
      {0, 0},          {180, kPi},       {540, kPi},           {-540, -kPi},
      {-180, -kPi},    {190, -170 * kPi / 180},                {-190, 170 * kPi / 180},
      {720.5, 0.5 * kPi / 180},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.radians, NormalizeAngle(c.degrees), 1e-9) << c.degrees;
  EXPECT_EQ(kPi, NormalizeAngle(540));  // exactly, as the stepping loop gives
  const double huge = NormalizeAngle(1e300);  // folded by remainder, not 1e298 steps
  EXPECT_TRUE(huge >= -kPi && huge <= kPi) << huge;
  EXPECT_TRUE(std::isnan(NormalizeAngle(std::numeric_limits<double>::infinity())));
}

// Centred, unturned and unscaled: every typed format comes back unchanged; mirrored, each
// row is reversed.  Formats 7 to 9 pass through R, G, B and are not exact round trips.
TEST(RotateScale, IdentityAndMirrorAboutTheCentre) {
  for (int32_t format = 1; format <= 6; ++format) {
    for (int32_t mirror = 0; mirror <= 1; ++mirror) {
      CImgBuff img, orig;
      FillRandom(img, 13, 8, format, 5u + format);
      CopyPicture(orig, img);
      ASSERT_EQ(1, RotateScale(&img, 6, 3, 0.0, 1.0, mirror, 1));
      const int32_t bpp = ImgBytesPerPixel[format];
      for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 13; ++x) {
          const int32_t sx = mirror ? 12 - x : x;
          ASSERT_EQ(0, std::memcmp(RowPtr<uint8_t>(img.record, x, y), RowPtr<uint8_t>(orig.record, sx, y), bpp))
              << "format " << format << " mirror " << mirror << " (" << x << ", " << y << ")";
        }
    }
  }
}

// Even size, centre (w / 2, h / 2): output (x, y) shows source (x + 1, y + 1); the last
// column and row take the fill, 65535 on a 16-bit picture with white.
TEST(RotateScale, EvenSizeCentreShowsTheNextPixel) {
  CImgBuff img, orig;
  FillRandom(img, 10, 6, 2, 77);
  CopyPicture(orig, img);
  ASSERT_EQ(1, RotateScale(&img, 5, 3, 0.0, 1.0, 0, 1));
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 10; ++x) {
      uint16_t got, want = 65535;
      img.GetGray16(x, y, &got);
      if (x < 9 && y < 5) orig.GetGray16(x + 1, y + 1, &want);
      ASSERT_EQ(want, got) << x << ", " << y;
    }
}

// A source offset (1, 0) from the centre lands at (0, 1) for 90 degrees; 90, 180 and 270 on
// odd squares (and the angles that fold onto them) equal the core's exact quarter turns.
TEST(RotateScale, QuarterTurnsAreExact) {
  CImgBuff dot;
  ASSERT_EQ(1, dot.Allocate(7, 7, 1));
  dot.SetGray8(4, 3, 200);
  ASSERT_EQ(1, RotateScale(&dot, 3, 3, 90.0, 1.0, 0, 0));
  EXPECT_EQ(200, Gray8At(dot, 3, 4));
  EXPECT_EQ(0, Gray8At(dot, 4, 3));

  struct Case {
    double angle;
    int32_t turns;
  } cases[] = {{90, 1}, {180, 2}, {270, 3}, {-90, 3}, {540, 2}, {-180, 2}, {450, 1}, {-270, 1}};
  for (int32_t format : {1, 3, 4, 6}) {
    for (const Case& c : cases) {
      CImgBuff img, want;
      FillRandom(img, 9, 9, format, 31);
      CopyPicture(want, img);
      ASSERT_EQ(1, RotateImageQuarterTurns(&want, c.turns));
      ASSERT_EQ(1, RotateScale(&img, 4, 4, c.angle, 1.0, 0, 0));
      EXPECT_TRUE(SamePixels(img, want)) << "format " << format << " angle " << c.angle << ": "
                                         << FirstDifference(img, want);
    }
  }
}

// -190 turns as 170 does; 540 as 180, bit for bit.
TEST(RotateScale, FoldedAnglesGiveTheSamePicture) {
  struct Case {
    double a, b;
  } cases[] = {{-190, 170}, {540, 180}, {370.25, 10.25}, {-723, -3}};
  for (const Case& c : cases) {
    CImgBuff p, q;
    FillRandom(p, 31, 17, 4, 9);
    CopyPicture(q, p);
    ASSERT_EQ(1, RotateScale(&p, 15, 8, c.a, 1.3, 0, 0));
    ASSERT_EQ(1, RotateScale(&q, 15, 8, c.b, 1.3, 0, 0));
    EXPECT_TRUE(SamePixels(p, q)) << c.a << " vs " << c.b << ": " << FirstDifference(p, q);
  }
}

// The blend: scale 2 puts output (hx + 1, hy) on source (hx + 0.5, hy), the truncated mean;
// scale 4 about (0, hy) puts output (3, hy) on source x = -0.25, where column 0 weighs 0.75
// and the fill 0.25; a 32-bit picture keeps its full range.
TEST(RotateScale, BilinearBlendTruncates) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(9, 5, 1));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 9; ++x) img.SetGray8(x, y, uint8_t(10 * x + y + 1));
  CImgBuff two;
  two.CopyFrom(img);
  ASSERT_EQ(1, RotateScale(&two, 4, 2, 0.0, 2.0, 0, 0));
  EXPECT_EQ((43 + 53) / 2, Gray8At(two, 5, 2));
  EXPECT_EQ(43, Gray8At(two, 4, 2));

  struct Case {
    uint16_t white;
    uint8_t want;
  } cases[] = {{0, uint8_t(0.75 * 3)}, {1, uint8_t(0.25 * 255 + 0.75 * 3)}};
  for (const Case& c : cases) {
    CImgBuff four;
    four.CopyFrom(img);
    ASSERT_EQ(1, RotateScale(&four, 0, 2, 0.0, 4.0, 0, c.white));
    EXPECT_EQ(c.want, Gray8At(four, 3, 2)) << "white " << c.white;
    EXPECT_EQ(c.white ? 255 : 0, Gray8At(four, 0, 2));  // source x = -1: all outside
  }

  CImgBuff deep;
  ASSERT_EQ(1, deep.Allocate(3, 1, 3));
  deep.SetGray32(1, 0, 4294967295u);
  deep.SetGray32(2, 0, 4294967295u);
  ASSERT_EQ(1, RotateScale(&deep, 1, 0, 0.0, 2.0, 0, 0));
  EXPECT_EQ(4294967295u, Gray32At(deep, 2, 0));
  EXPECT_EQ(4294967295u, Gray32At(deep, 1, 0));
  EXPECT_EQ(2147483647u, Gray32At(deep, 0, 0));  // half of the maximum, truncated
}

// Points that fall outside take the fill at the working depth, also through the converting
// setters: white on C,M,Y,K reads back as R = G = B = 255.
TEST(RotateScale, OutsideTakesTheFill) {
  struct Case {
    int32_t format;
    uint16_t white;
  } cases[] = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {4, 0}, {9, 0}};
  for (const Case& c : cases) {
    CImgBuff img;
    FillRandom(img, 6, 5, c.format, 3);
    ASSERT_EQ(1, RotateScale(&img, 1000, -1000, 33.0, 0.5, 0, c.white));
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        uint8_t r, g, b;
        img.GetRGB8(x, y, &r, &g, &b);
        const uint8_t want = c.white ? 255 : 0;
        ASSERT_TRUE(r == want && g == want && b == want)
            << "format " << c.format << " (" << x << ", " << y << "): " << int(r) << " " << int(g) << " " << int(b);
      }
  }
}

TEST(RotateScale, RefusesBadArgumentsAndLeavesThePicture) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  struct Case {
    const char* name;
    double angle, scale;
  } cases[] = {{"scale 0", 0, 0},          {"scale -1", 0, -1},     {"scale NaN", 0, nan},
               {"scale infinite", 0, inf}, {"angle NaN", nan, 1},   {"angle infinite", inf, 1},
               {"scale denormal", 0, 1e-320}};
  for (const Case& c : cases) {
    CImgBuff img, orig;
    FillRandom(img, 7, 4, 5, 1);
    CopyPicture(orig, img);
    EXPECT_EQ(0, RotateScale(&img, 3, 2, c.angle, c.scale, 0, 0)) << c.name;
    EXPECT_TRUE(SamePixels(img, orig)) << c.name;
  }
  CImgBuff empty;
  EXPECT_EQ(0, RotateScale(&empty, 0, 0, 0, 1, 0, 0));
  EXPECT_EQ(0, RotateScale(nullptr, 0, 0, 0, 1, 0, 0));
  // Extreme centres are no error: everything is the fill.
  CImgBuff far;
  FillRandom(far, 5, 5, 1, 2);
  EXPECT_EQ(1, RotateScale(&far, 2147483647, -2147483647 - 1, 1e300, 1e-300, 1, 1));
  for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(255, Gray8At(far, x, 4));
}

// The typed kernels give the accessor path's pixels, borders, interior and mirror included,
// on pictures large enough to be split over the workers, and on one-pixel-wide strips.
TEST(RotateScale, TypedKernelsEqualTheAccessorPath) {
  struct Case {
    int32_t cx, cy;
    double angle, scale;
    int32_t mirror;
    uint16_t white;
  } cases[] = {{48, 30, 17.3, 1.0, 0, 0},  {10, 50, -123.0, 2.7, 1, 1}, {48, 30, 0.0, 0.37, 0, 1},
               {90, 2, 90.0, 1.0, 1, 0},  {48, 30, 45.0, 1.4142, 0, 1}, {-20, 70, 200.5, 0.8, 0, 0}};
  // With the AVX2 and the baseline builds; the larger picture's rows go to the workers.
  for (int32_t avx2 : {1, 0}) {
    SetEngineAvx2(avx2);
    for (auto [w, h] : {std::pair<int32_t, int32_t>{97, 61}, {300, 140}})
      for (int32_t format = 1; format <= 6; ++format)
        for (const Case& c : cases)
          ExpectTypedMatchesReference(format, "RotateScale avx2 " + std::to_string(avx2), [&](CImgBuff* img, const RoiRect*) {
            return RotateScale(img, c.cx, c.cy, c.angle, c.scale, c.mirror, c.white);
          }, w, h);
    for (int32_t format : {1, 4})
      for (int32_t w : {1, 2})
        ExpectTypedMatchesReference(format, "RotateScale strip", [&](CImgBuff* img, const RoiRect*) {
          return RotateScale(img, 0, 20, 30.0, 1.1, 0, 1);
        }, w, 40);
  }
  SetEngineAvx2(1);
}
