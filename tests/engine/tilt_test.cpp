// SetCameraModel, the plane helpers, SampleTenths and TiltCorrect: the camera numbers, the
// anchor rule, the tenth-pixel sampler, the identity and the exact window of a quarter turn,
// the zoom, the refusals and the typed kernels against the accessor path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "engine/simd.h"
#include "engine/tilt.h"
#include "tests/engine/engine_test_util.h"

using namespace enginetest;

namespace {

CameraModel Camera(int32_t w, int32_t h) {
  CameraModel m{};
  EXPECT_EQ(1, SetCameraModel(&m, 8.0, uint32_t(w), uint32_t(h), 5.0, 5.0));
  return m;
}

}  // namespace

TEST(SetCameraModel, PixelsFromMillimetresAndRefusals) {
  CameraModel m{};
  ASSERT_EQ(1, SetCameraModel(&m, 8.0, 640, 480, 5.0, 5.0));
  EXPECT_DOUBLE_EQ(1600, m.fx);
  EXPECT_DOUBLE_EQ(1600, m.fy);
  EXPECT_EQ(320, m.cx);
  EXPECT_EQ(240, m.cy);
  ASSERT_EQ(1, SetCameraModel(&m, 12.0, 101, 7, 4.0, 6.0));
  EXPECT_DOUBLE_EQ(3000, m.fx);
  EXPECT_DOUBLE_EQ(2000, m.fy);
  EXPECT_EQ(50.5, m.cx);
  EXPECT_EQ(3.5, m.cy);

  const double nan = std::nan("");
  struct Case {
    const char* name;
    double focal;
    uint32_t w, h;
    double px, py;
  } cases[] = {{"focal 0", 0, 640, 480, 5, 5},    {"width 0", 8, 0, 480, 5, 5},   {"height 0", 8, 640, 0, 5, 5},
               {"pitch x -1", 8, 640, 480, -1, 5}, {"pitch y 0", 8, 640, 480, 5, 0}, {"focal NaN", nan, 640, 480, 5, 5},
               {"pitch NaN", 8, 640, 480, nan, 5}, {"pitch tiny", 8, 640, 480, 1e-320, 5}};
  for (const Case& c : cases) {
    CameraModel keep{1, 2, 3, 4};
    EXPECT_EQ(0, SetCameraModel(&keep, c.focal, c.w, c.h, c.px, c.py)) << c.name;
    EXPECT_EQ(1, keep.fx) << c.name;
    EXPECT_EQ(4, keep.cy) << c.name;
  }
  EXPECT_EQ(0, SetCameraModel(nullptr, 8, 640, 480, 5, 5));
}

// The anchor rule on 640 x 480: with pan 30 the plane through corner (0, 0) at depth 1 lies in
// front at every corner; with pan -30 it falls behind at the right corners, and the plane
// through (640, 0) is the first that passes.
TEST(TiltPlaneHelpers, AnchorCornersAndMapping) {
  const double kPi = 3.141592653589793;
  auto plane = [&](double panDeg, double x, double y, double* abcd) {
    const double p = panDeg * kPi / 180;
    abcd[0] = std::sin(p);
    abcd[1] = 0;
    abcd[2] = -std::cos(p);
    abcd[3] = -(abcd[0] * x + abcd[1] * y + abcd[2]);
  };
  double abcd[4];
  plane(30, 0, 0, abcd);
  EXPECT_EQ(1, IsPlaneInFront(640, 480, abcd));
  plane(-30, 0, 0, abcd);
  EXPECT_EQ(0, IsPlaneInFront(640, 480, abcd));
  plane(-30, 640, 0, abcd);
  EXPECT_EQ(1, IsPlaneInFront(640, 480, abcd));

  AngleRecord r;
  AngleSinCos(&r, 450);
  EXPECT_DOUBLE_EQ(1, r.sinQ);
  EXPECT_DOUBLE_EQ(-1, r.sinNegQ);
  AngleSinCos(&r, -190);
  EXPECT_NEAR(std::sin(170 * kPi / 180), r.sinQ, 1e-15);

  // Square-on plane at depth 1, camera 1600 px away: a picture point maps to itself scaled by
  // the plane depth, (u, v) = (x, y) * 1601 / 1600 about the principal point's ray.
  TiltPlane P{};
  P.a = 0, P.b = 0, P.c = -1, P.d = 1;
  P.sinP = 0, P.cosP = 1, P.sinNegP = 0, P.cosNegP = 1, P.sinT = 0, P.cosT = 1, P.sinNegT = 0, P.cosNegT = 1;
  const double C[3] = {320, 240, -1600};
  AngleRecord none;
  AngleSinCos(&none, 0);
  double u = 0, v = 0, Z = 0;
  ASSERT_EQ(1, MapThroughTiltedPlane(&P, C, 0, 0, &u, &v, &Z, &none));
  EXPECT_NEAR(-320.0 / 1600, u, 1e-12);
  EXPECT_NEAR(-240.0 / 1600, v, 1e-12);
  EXPECT_NEAR(1, Z, 1e-12);
  // A plane containing the ray: parallel, nothing written.
  P.a = 1, P.c = 0, P.d = 0;
  u = v = 7;
  EXPECT_EQ(0, MapThroughTiltedPlane(&P, C, 320, 240, &u, &v, nullptr, &none));
  EXPECT_EQ(7, u);
}

// The sampler: (10.37, 5.0) blends columns 10 and 11 by 7 : 3; a point on the last column
// with a fraction blends the neighbour fill; a point at -0.3 or beyond the last row is outside.
TEST(SampleTenths, TenthGridBlendAndFills) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(12, 8, 2));
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 12; ++x) img.SetGray16(x, y, uint16_t(1000 * x + 7 * y + 3));
  struct Case {
    const char* name;
    double sx, sy;
    uint32_t white;
    int32_t inside;
    uint32_t want;
  } cases[] = {
      {"(10.37, 5.0)", 10.37, 5.0, 0, 1, (7 * 10038u + 3 * 11038u) / 10},
      {"both fractions", 2.55, 3.21, 0, 1, (8 * (5 * 2024u + 5 * 3024u) + 2 * (5 * 2031u + 5 * 3031u)) / 100},
      {"last column, white", 11.5, 2.0, 1, 1, (5 * 11017u + 5 * 65535u) / 10},
      {"last column, black", 11.5, 2.0, 0, 1, (5 * 11017u) / 10},
      {"last column exact", 11.0, 2.0, 1, 1, 11017},
      {"a hair below a tenth", 3.0999999999, 1.0, 0, 1, (9 * 3010u + 1 * 4010u) / 10},
      {"x -0.3", -0.3, 2.0, 1, 0, 65535},
      {"a hair below 0", -1e-9, 2.0, 0, 1, 17},
      {"y 8", 3.0, 8.0, 0, 0, 0},
      {"x NaN", std::nan(""), 1.0, 0, 0, 0},
      {"x huge", 1e300, 1.0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t v[3] = {1, 1, 1};
    EXPECT_EQ(c.inside, SampleTenths(&img, c.sx, c.sy, c.white, v)) << c.name;
    EXPECT_EQ(c.want, v[0]) << c.name;
  }
  // A point a hair below the width still truncates to 10 x width tenths: outside, no read.
  uint32_t v[3];
  EXPECT_EQ(0, SampleTenths(&img, std::nextafter(12.0, 0.0), 1.0, 0, v));
}

// Pan = tilt = rotation = 0 and scale 1 give the picture back exactly, on every typed format
// and on 640 x 480 (where the traced points land a few ulps off the pixels).
TEST(TiltCorrect, IdentityReturnsThePicture) {
  struct Case {
    int32_t w, h, format;
  } cases[] = {{640, 480, 1}, {64, 48, 2}, {64, 48, 3}, {33, 47, 4}, {64, 48, 5}, {20, 20, 6}};
  for (const Case& c : cases) {
    CImgBuff img, orig;
    FillRandom(img, c.w, c.h, c.format, 11);
    // 32-bit channels are sampled at 16 bits: keep them representable.
    if (c.format == 3 || c.format == 6) {
      uint32_t* p = static_cast<uint32_t*>(img.Pixels());
      for (int64_t i = 0; i < int64_t(c.w) * c.h * (c.format == 6 ? 3 : 1); ++i) p[i] = (p[i] >> 16) * 65537u;
    }
    CopyPicture(orig, img);
    const CameraModel cam = Camera(c.w, c.h);
    const double angles[3] = {0, 0, 0};
    ASSERT_EQ(1, TiltCorrect(&img, &cam, angles, 1.0, 0));
    EXPECT_TRUE(SamePixels(img, orig)) << c.w << " x " << c.h << " format " << c.format << ": "
                                       << FirstDifference(img, orig);
  }
}

// Rotation 90 on 101 x 101: the fitted window starts half a picture left of the principal
// point, so output (x, y) shows source (y, 101 - x) and column 0 (source row 101) is the fill.
TEST(TiltCorrect, QuarterTurnWindow) {
  for (uint32_t white : {0u, 1u}) {
    CImgBuff img, orig;
    FillRandom(img, 101, 101, 1, 4);
    CopyPicture(orig, img);
    const CameraModel cam = Camera(101, 101);
    const double angles[3] = {0, 0, 90};
    ASSERT_EQ(1, TiltCorrect(&img, &cam, angles, 1.0, white));
    for (int32_t y = 0; y < 101; ++y)
      for (int32_t x = 0; x < 101; ++x) {
        uint8_t got, want = white ? 255 : 0;
        img.GetGray8(x, y, &got);
        if (x > 0) orig.GetGray8(y, 101 - x, &want);
        ASSERT_EQ(want, got) << "white " << white << " (" << x << ", " << y << ")";
      }
  }
}

// Scale 2 shows the middle half enlarged: even output pixels are the source pixels of the
// middle, odd ones the truncated mean of two (or four) of them.
TEST(TiltCorrect, ZoomShowsTheMiddleHalf) {
  CImgBuff img, orig;
  FillRandom(img, 64, 48, 1, 8);
  CopyPicture(orig, img);
  const CameraModel cam = Camera(64, 48);
  const double angles[3] = {0, 0, 0};
  ASSERT_EQ(1, TiltCorrect(&img, &cam, angles, 2.0, 0));
  auto at = [](const CImgBuff& p, int32_t x, int32_t y) {
    uint8_t v;
    p.GetGray8(x, y, &v);
    return uint32_t(v);
  };
  for (int32_t y = 0; y < 48; y += 2)
    for (int32_t x = 0; x < 64; x += 2) {
      ASSERT_EQ(at(orig, 16 + x / 2, 12 + y / 2), at(img, x, y)) << x << ", " << y;
      ASSERT_EQ((at(orig, 16 + x / 2, 12 + y / 2) * 5 + at(orig, 17 + x / 2, 12 + y / 2) * 5) / 10, at(img, x + 1, y))
          << x + 1 << ", " << y;
    }
}

TEST(TiltCorrect, RefusesAndLeavesThePicture) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  const CameraModel good = Camera(30, 20);
  struct Case {
    const char* name;
    double pan, tilt, rot, scale;
    CameraModel cam;
  } cases[] = {
      {"pan 90", 90, 0, 0, 1, good},          {"pan -90", -90, 0, 0, 1, good},
      {"tilt 90", 0, 90, 0, 1, good},         {"tilt -120", 0, -120, 0, 1, good},
      {"scale 0", 0, 0, 0, 0, good},          {"scale -1", 0, 0, 0, -1, good},
      {"pan NaN", nan, 0, 0, 1, good},        {"rotation infinite", 0, 0, inf, 1, good},
      {"scale NaN", 0, 0, 0, nan, good},      {"camera NaN", 0, 0, 0, 1, CameraModel{nan, 1600, 15, 10}},
      {"camera infinite", 0, 0, 0, 1, CameraModel{1600, 1600, inf, 10}},
  };
  for (const Case& c : cases) {
    CImgBuff img, orig;
    FillRandom(img, 30, 20, 4, 2);
    CopyPicture(orig, img);
    const double angles[3] = {c.pan, c.tilt, c.rot};
    EXPECT_EQ(0, TiltCorrect(&img, &c.cam, angles, c.scale, 0)) << c.name;
    EXPECT_TRUE(SamePixels(img, orig)) << c.name;
  }
  CImgBuff img, empty;
  FillRandom(img, 30, 20, 1, 2);
  const double angles[3] = {0, 0, 0};
  EXPECT_EQ(0, TiltCorrect(&empty, &good, angles, 1, 0));
  EXPECT_EQ(0, TiltCorrect(&img, nullptr, angles, 1, 0));
  EXPECT_EQ(0, TiltCorrect(&img, &good, nullptr, 1, 0));
  EXPECT_EQ(0, TiltCorrect(nullptr, &good, angles, 1, 0));
}

// A strong tilt leaves outside points: the fill as SetGray8 writes it, the format's white.
TEST(TiltCorrect, OutsideTakesTheFormatsWhite) {
  for (int32_t format = 1; format <= 9; ++format) {
    CImgBuff img;
    FillRandom(img, 40, 30, format, 6);
    const CameraModel cam = Camera(40, 30);
    const double angles[3] = {0, 0, 45};
    ASSERT_EQ(1, TiltCorrect(&img, &cam, angles, 0.5, 1));
    uint8_t r, g, b;
    img.GetRGB8(0, 0, &r, &g, &b);  // a corner of the half-size turned picture lies outside
    EXPECT_TRUE(r == 255 && g == 255 && b == 255) << "format " << format;
  }
}

TEST(TiltCorrect, TypedKernelsEqualTheAccessorPath) {
  struct Case {
    double pan, tilt, rot, scale;
    uint32_t white;
  } cases[] = {{20, -15, 0, 1.2, 0}, {-35, 10, 30, 1.0, 1}, {0, 0, 0, 1.0, 0},
               {60, 50, -100, 0.7, 1}, {0, 0, 90, 1.0, 1}, {5, 5, 5, 3.0, 0}};
  // With the AVX2 and the baseline builds; the larger picture's rows go to the workers.
  for (int32_t avx2 : {1, 0}) {
    SetEngineAvx2(avx2);
    for (auto [w, h] : {std::pair<int32_t, int32_t>{97, 61}, {300, 140}})
      for (int32_t format = 1; format <= 6; ++format)
        for (const Case& c : cases)
          ExpectTypedMatchesReference(format, "TiltCorrect avx2 " + std::to_string(avx2), [&](CImgBuff* img, const RoiRect*) {
            const CameraModel cam = Camera(img->Width(), img->Height());
            const double angles[3] = {c.pan, c.tilt, c.rot};
            return TiltCorrect(img, &cam, angles, c.scale, c.white);
          }, w, h);
  }
  SetEngineAvx2(1);
}
