// White balance and colour correction: the references and sectors of the hue correction, the
// a*b* shift of white balance on greys and on a cast picture, and the white estimate's plain
// and block means.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/colour.h"
#include "engine/whitebalance.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

struct Owned {
  ColorXform* xf;
  explicit Owned(ColorXform* x) : xf(x) {}
  ~Owned() { ColorXformDestroy(xf); }
};

void Lab8(uint8_t r, uint8_t g, uint8_t b, double* L, double* A, double* B) {
  double X, Y, Z;
  SrgbToXyz(r / 255.0, g / 255.0, b / 255.0, &X, &Y, &Z);
  XyzToLab(X, Y, Z, L, A, B);
}

void Hsv8(uint8_t r, uint8_t g, uint8_t b, uint16_t* h, uint16_t* s, uint16_t* v) {
  Rgb16ToHsv16(uint16_t(r * 257), uint16_t(g * 257), uint16_t(b * 257), h, s, v);
}

// Six colours (1, g/255, 0) of increasing hue, and the primaries and secondaries.
struct Refs {
  double r[6], g[6], b[6];
};
Refs RedToOrange() {
  Refs x{};
  const int gs[6] = {0, 24, 47, 70, 94, 117};  // hues 0, 1027, 2013, 2998, 4026, 5011
  for (int i = 0; i < 6; ++i) {
    x.r[i] = 1.0;
    x.g[i] = gs[i] / 255.0;
    x.b[i] = 0.0;
  }
  return x;
}
Refs Primaries(double lo) {
  // Red with a trace of blue sits just below 65535, so sector 0 runs forward through 0.
  return Refs{{1, 1, lo, lo, lo, 1}, {lo, 1, 1, 1, lo, lo}, {1.0 / 255, lo, lo, 1, 1, 1}};
}

ColorXform* Correction(const Refs& img, const Refs& std, int32_t s, int32_t v) {
  return BuildColorCorrection(img.r, img.g, img.b, std.r, std.g, std.b, s, v);
}

TEST(ColorCorrection, IdenticalReferencesChangeOnlyByHsvTruncation) {
  const Refs p = Primaries(0.0);
  Owned x(Correction(p, p, 1, 1));
  ASSERT_NE(nullptr, x.xf);
  const HueSectorParams* q = static_cast<const HueSectorParams*>(x.xf->params);
  EXPECT_GT(q->imgH[0], 65000);
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 3)
      for (int b = 0; b < 256; b += 7) {
        uint8_t c[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
        uint16_t h, s, v, R, G, B;
        Hsv8(c[0], c[1], c[2], &h, &s, &v);
        Hsv16ToRgb16(h, s, v, &R, &G, &B);
        HueSectorOp(&c[0], &c[1], &c[2], x.xf->params);
        EXPECT_LE(std::abs(c[0] - (R >> 8)), 1) << r << " " << g << " " << b;
        EXPECT_LE(std::abs(c[1] - (G >> 8)), 1) << r << " " << g << " " << b;
        EXPECT_LE(std::abs(c[2] - (B >> 8)), 1) << r << " " << g << " " << b;
      }
}

TEST(ColorCorrection, SectorsRunInTheOrderGiven) {
  const Refs img = RedToOrange();
  // Standard colours: full saturation and value, hues about 10922 further on (from yellow).
  Refs std{};
  for (int i = 0; i < 6; ++i) {
    std.r[i] = 1.0 - img.g[i];
    std.g[i] = 1.0;
    std.b[i] = 0.0;
  }
  Owned x(Correction(img, std, 0, 0));
  ASSERT_NE(nullptr, x.xf);
  const HueSectorParams* q = static_cast<const HueSectorParams*>(x.xf->params);
  const uint16_t wantImg[7] = {0, 1027, 2013, 2998, 4026, 5011, 0};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(wantImg[i], q->imgH[i]) << i;
  struct Case {
    uint8_t r, g, b;
    int32_t sector;  // -1: no sector, colour unchanged
  };
  // Hue 5011 lies in sector 5 only (backward from 5011 to 0); cyan (32766) in none.
  const Case cases[] = {{255, 117, 0, 5}, {0, 255, 255, -1}, {255, 35, 0, 1}, {255, 0, 0, 0}};
  for (const Case& c : cases) {
    uint8_t p[3] = {c.r, c.g, c.b};
    HueSectorOp(&p[0], &p[1], &p[2], x.xf->params);
    if (c.sector < 0) {
      EXPECT_EQ(c.r, p[0]);
      EXPECT_EQ(c.g, p[1]);
      EXPECT_EQ(c.b, p[2]);
      continue;
    }
    uint16_t h, s, v, hs, ss, vs;
    Hsv8(c.r, c.g, c.b, &h, &s, &v);
    Hsv8(p[0], p[1], p[2], &hs, &ss, &vs);
    const int i = c.sector;
    const double frac = i == 5 ? double(q->imgH[5] - h) / q->imgH[5] : double(h - q->imgH[i]) / (q->imgH[i + 1] - q->imgH[i]);
    // Standard hues are interpolated in the sector's direction, modulo 65536.
    const double want = i == 5 ? q->stdH[5] - ((q->stdH[5] - q->stdH[6] + 65536) % 65536) * frac
                               : q->stdH[i] + ((q->stdH[i + 1] - q->stdH[i] + 65536) % 65536) * frac;
    EXPECT_NEAR(want, hs, 120) << int(c.g);  // back through 8-bit channels
    EXPECT_EQ(v, vs);
  }
}

TEST(ColorCorrection, UnusableReferencesGiveNull) {
  const Refs good = Primaries(0.0);
  EXPECT_NE(nullptr, Owned(Correction(good, good, 0, 0)).xf);
  Refs gray = good;
  gray.r[3] = gray.g[3] = gray.b[3] = 0.5;
  EXPECT_EQ(nullptr, Correction(gray, good, 0, 0));
  EXPECT_EQ(nullptr, Correction(good, gray, 0, 0));
  Refs black = good;
  black.r[0] = black.g[0] = black.b[0] = 0.0;
  EXPECT_EQ(nullptr, Correction(black, good, 0, 0));
  Refs repeated = good;
  repeated.r[2] = repeated.r[1], repeated.g[2] = repeated.g[1], repeated.b[2] = repeated.b[1];
  EXPECT_EQ(nullptr, Correction(repeated, good, 0, 0));
  Refs wrapped = good;  // element 6 repeats element 0: the last and first neighbour too
  wrapped.r[5] = wrapped.r[0], wrapped.g[5] = wrapped.g[0], wrapped.b[5] = wrapped.b[0];
  EXPECT_EQ(nullptr, Correction(wrapped, good, 0, 0));
  Refs nan = good;
  nan.g[4] = std::nan("");
  EXPECT_EQ(nullptr, Correction(nan, good, 0, 0));
}

TEST(ColorCorrection, SaturationAndValueFollowOnlyWhenAsked) {
  const Refs img = Primaries(0.3);  // washed-out measured colours
  const Refs std = Primaries(0.0);
  Owned hueOnly(Correction(img, std, 0, 0));
  Owned both(Correction(img, std, 1, 1));
  ASSERT_NE(nullptr, hueOnly.xf);
  ASSERT_NE(nullptr, both.xf);
  for (int r = 0; r < 256; r += 9)
    for (int g = 0; g < 256; g += 11)
      for (int b = 0; b < 256; b += 13) {
        uint8_t p[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
        uint16_t h, s, v, h2, s2, v2;
        Hsv8(p[0], p[1], p[2], &h, &s, &v);
        HueSectorOp(&p[0], &p[1], &p[2], hueOnly.xf->params);
        Hsv8(p[0], p[1], p[2], &h2, &s2, &v2);
        EXPECT_EQ(v, v2);
        if (v > 5000) {
          EXPECT_NEAR(s, s2, 65534.0 * 2.0 / (v / 257.0)) << r << " " << g << " " << b;
        }
      }
  // With both corrections a measured colour becomes its standard colour.
  for (int i = 0; i < 6; ++i) {
    uint8_t p[3] = {uint8_t(img.r[i] * 255 + 0.5), uint8_t(img.g[i] * 255 + 0.5), uint8_t(img.b[i] * 255 + 0.5)};
    HueSectorOp(&p[0], &p[1], &p[2], both.xf->params);
    EXPECT_NEAR(std.r[i] * 255, p[0], 2) << i;
    EXPECT_NEAR(std.g[i] * 255, p[1], 2) << i;
    EXPECT_NEAR(std.b[i] * 255, p[2], 2) << i;
  }
}

TEST(WhiteBalance, GreyAxisAndGreyWhites) {
  const GreyAxisTable* t = BuildGreyAxisTable();
  ASSERT_EQ(t, BuildGreyAxisTable());
  for (int v = 0; v < 256; ++v) {
    EXPECT_LT(std::fabs(t->ab[v][0]), 0.004);
    EXPECT_LT(std::fabs(t->ab[v][1]), 0.004);
  }
  for (double v : {0.0, 0.25, 0.5, 128 / 255.0, 1.0}) {
    Owned x(BuildWhiteBalance(v, v, v));
    ASSERT_NE(nullptr, x.xf);
    const LabShiftParams* p = static_cast<const LabShiftParams*>(x.xf->params);
    EXPECT_LT(std::fabs(p->da), 0.004) << v;
    EXPECT_LT(std::fabs(p->db), 0.004) << v;
    uint8_t c[3] = {200, 100, 50};
    LabShiftOp(&c[0], &c[1], &c[2], x.xf->params);
    EXPECT_NEAR(200, c[0], 1);
    EXPECT_NEAR(100, c[1], 1);
    EXPECT_NEAR(50, c[2], 1);
  }
  EXPECT_EQ(nullptr, BuildWhiteBalance(std::nan(""), 0.5, 0.5));
  EXPECT_EQ(nullptr, BuildWhiteBalance(0.5, INFINITY, 0.5));
  Owned clamped(BuildWhiteBalance(1.5, 1.0, -3.0));  // treated as (1, 1, 0)
  ASSERT_NE(nullptr, clamped.xf);
  uint8_t y[3] = {255, 255, 0};
  LabShiftOp(&y[0], &y[1], &y[2], clamped.xf->params);
  double L, A, B;
  Lab8(y[0], y[1], y[2], &L, &A, &B);
  EXPECT_LT(std::fabs(B), 30.0);  // pure yellow (b* about 94) pulled toward the grey axis
}

TEST(WhiteBalance, CastPictureTurnsNeutral) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(200, 150, 4));
  std::mt19937 rng(9);
  for (int32_t y = 0; y < 150; ++y)
    for (int32_t x = 0; x < 200; ++x) {
      const int v = 60 + int(rng() % 120);  // greys under a warm light
      img.SetRGB8(x, y, uint8_t(std::min(255, v * 6 / 5)), uint8_t(v), uint8_t(v * 3 / 4));
    }
  double r, g, b;
  uint32_t flag = 7;
  ASSERT_EQ(1, EstimateWhite(&img, &r, &g, &b, 0, 0, &flag));
  EXPECT_EQ(0u, flag);
  Owned x(BuildWhiteBalance(r, g, b));
  ASSERT_NE(nullptr, x.xf);
  ASSERT_EQ(1, ColorXformApply(x.xf, &img));
  ASSERT_EQ(1, EstimateWhite(&img, &r, &g, &b, 0, 0, nullptr));
  double L, A, B, X, Y, Z;
  SrgbToXyz(r, g, b, &X, &Y, &Z);
  XyzToLab(X, Y, Z, &L, &A, &B);
  EXPECT_LT(std::fabs(A), 1.0);
  EXPECT_LT(std::fabs(B), 1.0);
}

TEST(EstimateWhite, PlainMeanAndBlockMean) {
  // Plain mean: sums of 16-bit channels over the picture, truncated, over 65535.
  CImgBuff tall;
  FillRandom(tall, 127, 500, 4, 10);
  uint64_t sum[3] = {0, 0, 0};
  const uint8_t* p = static_cast<const uint8_t*>(tall.Pixels());
  for (int64_t i = 0; i < 127 * 500; ++i)
    for (int c = 0; c < 3; ++c) sum[c] += p[3 * i + c] * 257u;
  double want[3];
  for (int c = 0; c < 3; ++c) want[c] = double(uint16_t(double(sum[c]) / (127.0 * 500))) / 65535.0;
  struct Case {
    uint32_t sat, val;
  };
  for (const Case& c : {Case{60, 40}, Case{0, 0}, Case{100, 0}}) {
    double rgb[3] = {-1, -1, -1};
    uint32_t flag = 9;
    ASSERT_EQ(1, EstimateWhite(&tall, &rgb[0], &rgb[1], &rgb[2], c.sat, c.val, &flag));
    EXPECT_EQ(0u, flag);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(want[k], rgb[k]);
  }

  // 256 x 256: left half saturated red, top right bright grey 200, bottom right dark grey 40.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(256, 256, 4));
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x) {
      if (x < 128) img.SetRGB8(x, y, 255, 0, 0);
      else if (y < 128) img.SetRGB8(x, y, 200, 200, 200);
      else img.SetRGB8(x, y, 40, 40, 40);
    }
  double r = -1, g = -1, b = -1;
  uint32_t flag = 0;
  ASSERT_EQ(1, EstimateWhite(&img, &r, &g, &b, 60, 40, &flag));
  EXPECT_EQ(1u, flag);
  EXPECT_EQ(200 / 255.0, r);
  EXPECT_EQ(200 / 255.0, g);
  EXPECT_EQ(200 / 255.0, b);
  // Only a value limit: the dark blocks drop out, the red ones stay.
  ASSERT_EQ(1, EstimateWhite(&img, &r, &g, &b, 0, 40, &flag));
  EXPECT_EQ(1u, flag);
  EXPECT_EQ(double(uint16_t((2 * 65535.0 + 200 * 257.0) / 3)) / 65535.0, r);
  EXPECT_EQ(double(uint16_t(200 * 257.0 / 3)) / 65535.0, g);

  // All blocks saturated: the plain mean, flag 0.
  CImgBuff red;
  ASSERT_EQ(1, red.Allocate(160, 130, 4));
  for (int32_t y = 0; y < 130; ++y)
    for (int32_t x = 0; x < 160; ++x) red.SetRGB8(x, y, 250, uint8_t(x % 20), 0);
  ASSERT_EQ(1, EstimateWhite(&red, &r, &g, &b, 60, 40, &flag));
  EXPECT_EQ(0u, flag);
  EXPECT_EQ(250 / 255.0, r);
  EXPECT_EQ(0.0, b);

  r = g = b = -1;
  flag = 5;
  EXPECT_EQ(0, EstimateWhite(&img, &r, &g, &b, 101, 0, &flag));
  EXPECT_EQ(0, EstimateWhite(&img, &r, &g, &b, 0, 101, &flag));
  CImgBuff empty;
  EXPECT_EQ(0, EstimateWhite(&empty, &r, &g, &b, 0, 0, &flag));
  EXPECT_EQ(0, EstimateWhite(nullptr, &r, &g, &b, 0, 0, &flag));
  EXPECT_EQ(-1.0, r);
  EXPECT_EQ(5u, flag);
  EXPECT_EQ(1, EstimateWhite(&img, nullptr, nullptr, nullptr, 60, 40, nullptr));
}

TEST(EstimateWhite, SameResultWithAnyWorkerCountAndFormat) {
  CImgBuff img;
  FillRandom(img, 1001, 777, 5, 12);
  double a[3], b[3];
  uint32_t fa = 0, fb = 0;
  ASSERT_EQ(1, SetWorkerCount(1));
  ASSERT_EQ(1, EstimateWhite(&img, &a[0], &a[1], &a[2], 90, 10, &fa));
  ASSERT_EQ(1, SetWorkerCount(GetProcessorCount()));
  ASSERT_EQ(1, EstimateWhite(&img, &b[0], &b[1], &b[2], 90, 10, &fb));
  EXPECT_EQ(1u, fa);  // the block means, summed as doubles
  EXPECT_EQ(fa, fb);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(a[c], b[c]);
  // Accessor formats read as their 16-bit R,G,B: an H,S,V copy gives the same white.
  CImgBuff hsv;
  CopyPicture(hsv, img);
  ASSERT_EQ(1, hsv.record->ConvertTo(8));
  CImgBuff back;
  CopyPicture(back, hsv);
  ASSERT_EQ(1, back.record->ConvertTo(5));
  ASSERT_EQ(1, EstimateWhite(&hsv, &a[0], &a[1], &a[2], 0, 0, &fa));
  ASSERT_EQ(1, EstimateWhite(&back, &b[0], &b[1], &b[2], 0, 0, &fb));
  for (int c = 0; c < 3; ++c) EXPECT_EQ(a[c], b[c]);
}

}  // namespace
