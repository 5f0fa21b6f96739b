// colour_test.cpp - sRGB / XYZ / L*a*b*, 16- and 32-bit HSV, packing, colour matching.
#include "core/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(Colour, SrgbXyzLab) {
  double X, Y, Z;
  SrgbToXyz(1, 1, 1, &X, &Y, &Z);
  EXPECT_NEAR(X, 0.95047, 1e-6);
  EXPECT_NEAR(Y, 1.0, 1e-6);
  EXPECT_NEAR(Z, 1.08883, 1e-6);
  double L, a, b;
  EXPECT_EQ(XyzToLab(X, Y, Z, &L, &a, &b), 1);
  EXPECT_NEAR(L, 100.0, 1e-4);
  EXPECT_NEAR(a, 0.0, 0.01);
  EXPECT_NEAR(b, 0.0, 0.01);
  EXPECT_EQ(XyzToLab(X, Y, Z, nullptr, nullptr, nullptr), 1);

  // The linear segment near black, and a negative channel that stays negative.
  SrgbToXyz(0.04, 0, 0, &X, &Y, &Z);
  EXPECT_NEAR(X, 0.4124564 * 0.04 / 12.92, 1e-12);
  SrgbToXyz(-0.5, 0, 0, &X, &Y, &Z);
  EXPECT_LT(X, 0.0);

  // Back to sRGB: the round trip, and clamping outside the gamut (NaN included).
  double r, g, bb;
  SrgbToXyz(0.2, 0.5, 0.8, &X, &Y, &Z);
  XyzToSrgb(X, Y, Z, &r, &g, &bb);
  EXPECT_NEAR(r, 0.2, 1e-6);
  EXPECT_NEAR(g, 0.5, 1e-6);
  EXPECT_NEAR(bb, 0.8, 1e-6);
  XyzToSrgb(5, 5, 5, &r, &g, &bb);
  EXPECT_EQ(r, 1.0);
  EXPECT_EQ(g, 1.0);
  EXPECT_EQ(bb, 1.0);
  XyzToSrgb(-1, -1, -1, &r, &g, &bb);
  EXPECT_EQ(r, 0.0);
  EXPECT_EQ(g, 0.0);
  EXPECT_EQ(bb, 0.0);
  XyzToSrgb(kNaN, 0, 0, &r, &g, &bb);
  EXPECT_EQ(r, 0.0);

  // 32-bit forms: white, and NaN never reaches an integer conversion.
  uint32_t R, G, B;
  XyzToRgb32(X, Y, Z, &R, &G, nullptr);
  XyzToRgb32(0.95047, 1.0, 1.08883, &R, &G, &B);
  EXPECT_GE(R, 4294967295u - 4096);
  XyzToRgb32(kNaN, kInf, -kInf, &R, &G, &B);
  Rgb32ToXyz(4294967295u, 4294967295u, 4294967295u, &X, nullptr, &Z);
  EXPECT_NEAR(X, 0.95047, 1e-6);
}

TEST(Colour, Hsv16) {
  struct Case {
    uint16_t r, g, b, h, s, v;
  };
  const Case cases[] = {
      {65535, 0, 0, 0, 65534, 65535},
      {0, 65535, 0, 21844, 65534, 65535},
      {0, 0, 65535, 43688, 65534, 65535},
      {65535, 0, 1, 0, 65534, 65535},          // t = -10922 / 65535 is 0 towards zero
      {65535, 0, 65535, 54613, 65534, 65535},  // R is maximal first
      {0, 0, 0, 0, 0, 0},
      {1000, 1000, 1000, 0, 0, 1000},
      {65535, 65535, 0, 10922, 65534, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b);
    uint16_t h, s, v;
    Rgb16ToHsv16(c.r, c.g, c.b, &h, &s, &v);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(s, c.s);
    EXPECT_EQ(v, c.v);
  }

  uint16_t r, g, b;
  for (uint32_t h = 0; h <= 65535; h += 4369) {
    Hsv16ToRgb16(static_cast<uint16_t>(h), 0, 1234, &r, &g, &b);
    EXPECT_EQ(r, 1234);
    EXPECT_EQ(g, 1234);
    EXPECT_EQ(b, 1234);
  }
  // H = 65534 is sector 0 with f about 0.0002.
  Hsv16ToRgb16(65534, 65534, 65535, &r, &g, &b);
  EXPECT_EQ(r, 65535);
  EXPECT_EQ(g, 12);
  EXPECT_EQ(b, 0);
  // S = 65535 (beyond full) must not wrap below zero.
  Hsv16ToRgb16(0, 65535, 65535, &r, &g, &b);
  EXPECT_EQ(b, 0);

  // Round trip over a grid of colours stays close.  Not exact by design: the forward red
  // sector wraps at 65535 while the inverse closes the circle at 6 x 10922 = 65532, which
  // moves magenta-red hues by up to 3 hue units (about 18 channel units at full chroma).
  int worst = 0;
  for (uint32_t R = 0; R <= 65535; R += 5461)
    for (uint32_t G = 0; G <= 65535; G += 7281)
      for (uint32_t B = 0; B <= 65535; B += 9362) {
        uint16_t h, s, v;
        Rgb16ToHsv16(R, G, B, &h, &s, &v);
        Hsv16ToRgb16(h, s, v, &r, &g, &b);
        worst = std::max({worst, std::abs(int(r) - int(R)), std::abs(int(g) - int(G)), std::abs(int(b) - int(B))});
      }
  EXPECT_LE(worst, 24);
}

TEST(Colour, Hsv32) {
  uint32_t h, s, v;
  Rgb32ToHsv32(4294967295u, 1431655765u, 0, &h, &s, &v);
  EXPECT_EQ(h, 238609294u);
  EXPECT_EQ(s, 4294967294u);
  EXPECT_EQ(v, 4294967295u);
  Rgb32ToHsv32(0, 4294967295u, 0, &h, nullptr, nullptr);
  EXPECT_EQ(h, 1431655764u);
  Rgb32ToHsv32(0, 0, 4294967295u, &h, nullptr, nullptr);
  EXPECT_EQ(h, 2863311528u);
  Rgb32ToHsv32(4294967295u, 0, 4294967295u, &h, nullptr, nullptr);
  EXPECT_EQ(h, 4294967295u - 715827882u);
  Rgb32ToHsv32(7, 7, 7, &h, &s, &v);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(v, 7u);

  uint32_t r, g, b;
  Hsv32ToRgb32(123456789u, 0, 99u, &r, &g, &b);
  EXPECT_EQ(r, 99u);
  EXPECT_EQ(g, 99u);
  EXPECT_EQ(b, 99u);
  Hsv32ToRgb32(4294967295u, 4294967295u, 4294967295u, &r, &g, &b);  // sector 6 is 0
  EXPECT_EQ(r, 4294967295u);
  EXPECT_EQ(b, 0u);
  Rgb32ToHsv32(3000000000u, 1000000000u, 2000000000u, &h, &s, &v);
  Hsv32ToRgb32(h, s, v, &r, &g, &b);
  EXPECT_NEAR(double(r), 3000000000.0, 16.0);
  EXPECT_NEAR(double(g), 1000000000.0, 16.0);
  EXPECT_NEAR(double(b), 2000000000.0, 16.0);
}

TEST(Colour, Packing) {
  struct Case {
    const char* name;
    uint32_t (*pack)(double);
    double in;
    uint32_t out;
  };
  const Case cases[] = {
      {"xyz over", PackXyz32, 1.2, 4294967295u},
      {"xyz top", PackXyz32, 1.1, 4294967295u},
      {"xyz half", PackXyz32, 0.55, 2147483647u},
      {"xyz below", PackXyz32, -3, 0},
      {"xyz nan", PackXyz32, kNaN, 0},
      {"xyz inf", PackXyz32, kInf, 4294967295u},
      {"L top", PackL32, 100, 4294967295u},
      {"L nan", PackL32, kNaN, 0},
      {"ab low", PackAb32, -200, 0},
      {"ab top", PackAb32, 127, 4294967295u},
      {"ab nan", PackAb32, kNaN, 0},
      {"C top", PackC32, 500, 4294967295u},
      {"C neg inf", PackC32, -kInf, 0},
      {"hue nan", PackHue32, kNaN, 0},
      {"hue inf", PackHue32, kInf, 0},
      {"hue -inf", PackHue32, -kInf, 0},
      {"hue 0", PackHue32, 0, 0},
      {"hue 2pi", PackHue32, 2 * kPi, 4294967295u},
  };
  for (const Case& c : cases) EXPECT_EQ(c.pack(c.in), c.out) << c.name;

  EXPECT_EQ(PackHue32(-kPi / 2), PackHue32(3 * kPi / 2));
  EXPECT_EQ(PackHue32(kPi / 3 + 4 * kPi), PackHue32(kPi / 3 + 4 * kPi - 4 * kPi));
  // Huge hues reduce at once rather than looping; the result is a valid hue.
  EXPECT_LE(UnpackHue32(PackHue32(1e300)), 2 * kPi);
  EXPECT_LE(UnpackHue32(PackHue32(-1e300)), 2 * kPi);

  EXPECT_NEAR(UnpackXyz32(PackXyz32(0.3)), 0.3, 1e-9);
  EXPECT_NEAR(UnpackL32(PackL32(42.5)), 42.5, 1e-7);
  EXPECT_NEAR(UnpackAb32(PackAb32(-17.25)), -17.25, 1e-7);
  EXPECT_NEAR(UnpackC32(PackC32(88)), 88, 1e-7);
  EXPECT_NEAR(UnpackHue32(PackHue32(2.5)), 2.5, 1e-8);
  EXPECT_EQ(UnpackAb32(0), -128.0);
}

TEST(Colour, WavelengthToXyz) {
  double x, y, z;
  WavelengthToXyz(555, &x, &y, &z);
  EXPECT_EQ(y, 1.0);
  EXPECT_EQ(x, 0.5120501);
  EXPECT_EQ(z, 0.005749999);
  WavelengthToXyz(360, &x, nullptr, nullptr);
  EXPECT_EQ(x, 0.0001299);
  WavelengthToXyz(830, &x, &y, &z);
  EXPECT_EQ(x, 1.25114e-06);
  EXPECT_EQ(y, 4.5181e-07);
  EXPECT_EQ(z, 0.0);

  // Half a nanometre outside the table is half the end value; linear between whole ones.
  WavelengthToXyz(830.5, &x, &y, nullptr);
  EXPECT_DOUBLE_EQ(x, 1.25114e-06 / 2);
  EXPECT_DOUBLE_EQ(y, 4.5181e-07 / 2);
  WavelengthToXyz(359.5, &x, nullptr, nullptr);
  EXPECT_DOUBLE_EQ(x, 0.0001299 / 2);
  WavelengthToXyz(554.25, nullptr, &y, nullptr);
  EXPECT_DOUBLE_EQ(y, 0.9997482 * 0.75 + 1.0 * 0.25);

  for (double w : {831.0, 359.0, 359.0 - 1e-9, -1.0, -0.5, 1e300, kInf, -kInf, kNaN, 4294967296.0}) {
    x = y = z = 7;
    WavelengthToXyz(w, &x, &y, &z);
    EXPECT_EQ(x, 0.0) << w;
    EXPECT_EQ(y, 0.0) << w;
    EXPECT_EQ(z, 0.0) << w;
  }
  EXPECT_EQ(Cie1931Count, 471);
  EXPECT_EQ(Cie1931YBar[555 - Cie1931FirstNm], 1.0);
}
