// Template matching: the whole-pixel answer against an exhaustive search and against a literal
// recursive pyramid over whole halved pictures, the pyramid thresholds, the tie rule, cancel,
// refusals, halving, and the sub-pixel refinement on pictures with known fractional shifts.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

#include "core/parallel.h"
#include "engine/match.h"
#include "engine/region.h"
#include "engine/shift.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

// A smooth texture: three sinusoids of different directions (so that it never repeats
// exactly), sampled at (x + ox, y + oy).
double Texture(double x, double y) {
  return 128 + 55 * std::sin(0.25 * x + 0.07 * y) + 45 * std::cos(0.22 * y - 0.09 * x + 1.0) +
         25 * std::sin(0.13 * (x + 0.6 * y) + 2.0);
}

// 8-bit formats take the texture truncated; 16-bit formats keep 8 more bits, so that the
// 8-bit values the comparison reads are truncated alike at whole and fractional positions.
void Render(CImgBuff& img, int32_t w, int32_t h, int32_t format, double ox, double oy) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double v = Texture(x + ox, y + oy);
      const uint16_t q = uint16_t(std::lround(v * 256));
      switch (format) {
        case 2: img.SetGray16(x, y, q); break;
        case 5: img.SetRGB16(x, y, q, uint16_t(65535 - q), uint16_t(q / 2 + 9000)); break;
        case 4: img.SetRGB8(x, y, uint8_t(v), uint8_t(255 - v), uint8_t(0.5 * v + 40)); break;
        default: img.SetGray8(x, y, uint8_t(v)); break;
      }
    }
}

struct Found {
  int32_t ok, x, y;
  double score;
  bool operator==(const Found& o) const { return ok == o.ok && x == o.x && y == o.y && score == o.score; }
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
  return os << "{ok " << f.ok << ", (" << f.x << ", " << f.y << "), " << f.score << "}";
}

Found Match(CImgBuff& img, CImgBuff& tpl, int32_t cx, int32_t cy, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
            int32_t norm, int32_t cm, int32_t pyr, MatchCancelFn cancel = nullptr, void* user = nullptr) {
  Found f{0, -99, -99, -99};
  f.ok = MatchTemplate(&img, &tpl, cx, cy, x0, y0, x1, y1, &f.x, &f.y, norm, cm, pyr, &f.score, cancel, user);
  return f;
}

// Exhaustive search by RegionDissimilarity over the clamped window with the tie order.
Found Exhaustive(CImgBuff& img, CImgBuff& tpl, int32_t cx, int32_t cy, int32_t x0, int32_t y0, int32_t x1,
                 int32_t y1, int32_t norm, int32_t cm) {
  Found best{0, -99, -99, -99};
  double bestD = 0;
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min(x1, img.Width() - tpl.Width()), y1 = std::min(y1, img.Height() - tpl.Height());
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x) {
      const double s = RegionDissimilarity(&img, &tpl, x, y, norm, cm);
      if (s < 0) continue;
      const double d = double(x - cx) * (x - cx) + double(y - cy) * (y - cy);
      if (!best.ok || s < best.score || (s == best.score && d < bestD)) {
        best = Found{1, x, y, s};
        bestD = d;
      }
    }
  return best;
}

// The pyramid as a recursion over whole halved pictures.
Found Literal(CImgBuff& img, CImgBuff& tpl, int32_t cx, int32_t cy, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              int32_t norm, int32_t cm, int32_t pyr) {
  const int32_t tw = tpl.Width(), th = tpl.Height();
  if (tw + x0 > img.Width() || th + y0 > img.Height()) return Found{0, -99, -99, -1};
  if (pyr && tw >= 16 && th >= 16 && x1 - x0 >= 7 && y1 - y0 >= 7) {
    CImgBuff hi, ht;
    if (HalveImage(&img, &hi) && HalveImage(&tpl, &ht)) {
      const Found c = Literal(hi, ht, cx / 2, cy / 2, x0 / 2, y0 / 2, x1 / 2, y1 / 2, norm, cm, pyr);
      if (!c.ok) return Found{0, c.x, c.y, -1};
      cx = 2 * c.x, cy = 2 * c.y;
      x0 = cx - 1, x1 = cx + 2, y0 = cy - 1, y1 = cy + 2;
    }
  }
  return Exhaustive(img, tpl, cx, cy, x0, y0, x1, y1, norm, cm);
}

TEST(MatchTemplate, WholePixelAnswerIsTheExhaustiveMinimum) {
  struct Case {
    int32_t format, tw, th, norm, cm;
  } cases[] = {{1, 12, 10, 0, 0}, {1, 9, 9, 1, 0}, {4, 8, 7, 0, 0}, {4, 6, 6, 1, 0},
               {4, 6, 5, 0, 1},   {2, 10, 8, 0, 0}, {9, 5, 5, 1, 0}, {4, 5, 4, 1, 1}};
  for (const Case& c : cases) {
    CImgBuff img, tpl;
    FillRandom(img, 60, 44, c.format, uint32_t(c.format * 7 + c.tw));
    ASSERT_EQ(1, img.Crop(tpl, 23, 17, 23 + c.tw - 1, 17 + c.th - 1));
    // Spoil the exact copy a little so the minimum is not simply 0.
    tpl.SetGray8(1, 1, 3);
    const int32_t windows[][4] = {{-5, -3, 70, 60}, {10, 8, 30, 25}, {20, 15, 20, 15}, {25, 0, 40, 10}};
    for (const auto& w : windows) {
      const Found got = Match(img, tpl, 31, 12, w[0], w[1], w[2], w[3], c.norm, c.cm, 0);
      const Found want = Exhaustive(img, tpl, 31, 12, w[0], w[1], w[2], w[3], c.norm, c.cm);
      EXPECT_EQ(want, got) << "format " << c.format << " norm " << c.norm << " colour " << c.cm << " window "
                           << w[0] << "," << w[1] << "," << w[2] << "," << w[3];
    }
  }
}

TEST(MatchTemplate, PyramidEqualsRecursionOverWholeHalvedPictures) {
  struct Case {
    int32_t format, tw, th, norm, cm;
    int32_t x0, y0, x1, y1, cx, cy;
  } cases[] = {
      {1, 20, 20, 0, 0, 30, 20, 39, 29, 35, 25},    // 20 x 20 in a 10 x 10 window
      {1, 33, 35, 0, 0, 0, 0, 80, 70, 40, 30},      // two coarse levels
      {1, 16, 16, 1, 0, -9, -5, 200, 200, 0, 0},    // window beyond every edge
      {4, 24, 18, 0, 0, 40, 30, 60, 52, 50, 40},
      {4, 17, 19, 0, 1, 10, 10, 31, 29, 20, 20},
      {2, 40, 32, 0, 0, 7, 3, 60, 61, 33, 33},
      {8, 18, 16, 1, 0, 5, 9, 30, 22, 11, 11},      // H,S,V picture through its R,G,B
      {1, 20, 20, 0, 0, -30, -30, -1, -1, 0, 0},    // window wholly above-left of the picture
  };
  for (const Case& c : cases) {
    CImgBuff img, tpl;
    Render(img, 131, 107, c.format == 8 ? 4 : c.format, 0, 0);
    if (c.format == 8) {
      ASSERT_EQ(1, img.record->ConvertTo(8));
    }
    ASSERT_EQ(1, img.Crop(tpl, 44, 37, 44 + c.tw - 1, 37 + c.th - 1));
    tpl.SetGray8(2, 3, 0);
    const Found got = Match(img, tpl, c.cx, c.cy, c.x0, c.y0, c.x1, c.y1, c.norm, c.cm, 1);
    const Found want = Literal(img, tpl, c.cx, c.cy, c.x0, c.y0, c.x1, c.y1, c.norm, c.cm, 1);
    EXPECT_EQ(want, got) << "template " << c.tw << "x" << c.th << " format " << c.format;
    EXPECT_EQ(1, got.ok);
    // Never where the template does not fit.
    EXPECT_GE(got.x, 0);
    EXPECT_LE(got.x, img.Width() - c.tw);
  }
}

TEST(MatchTemplate, PyramidThresholds) {
  // The best position lies one column right of the window: only the pyramid's 4 x 4 search
  // around the doubled coarse answer can reach it.
  CImgBuff img, tpl;
  Render(img, 64, 64, 1, 0, 0);
  struct Case {
    int32_t tw, th, x1, y1;
    bool pyramid;
  } cases[] = {
      {16, 16, 7, 7, true},    // 8 x 8 positions: halved
      {16, 16, 6, 7, false},   // x1 - x0 = 6
      {16, 16, 7, 6, false},   // y1 - y0 = 6
      {15, 16, 7, 7, false},   // template 15 wide
      {16, 15, 7, 7, false},   // template 15 high
  };
  for (const Case& c : cases) {
    const int32_t tx = c.x1 + 1;
    ASSERT_EQ(1, img.Crop(tpl, tx, 3, tx + c.tw - 1, 3 + c.th - 1));
    const Found on = Match(img, tpl, 0, 0, 0, 0, c.x1, c.y1, 0, 0, 1);
    const Found off = Match(img, tpl, 0, 0, 0, 0, c.x1, c.y1, 0, 0, 0);
    EXPECT_EQ(1, on.ok);
    if (c.pyramid) {
      EXPECT_EQ(tx, on.x) << c.tw << "x" << c.th << " window " << c.x1 << "," << c.y1;
      EXPECT_EQ(0.0, on.score);
    } else {
      EXPECT_EQ(off, on) << c.tw << "x" << c.th << " window " << c.x1 << "," << c.y1;
      EXPECT_LE(on.x, c.x1);
    }
  }
}

TEST(MatchTemplate, TiesGoToTheCentreThenScanOrder) {
  CImgBuff img, tpl;
  // Uniform picture: every position scores 0, the centre (or the nearest position) wins.
  ASSERT_EQ(1, img.Allocate(50, 40, 1));
  ASSERT_EQ(1, tpl.Allocate(6, 6, 1));
  EXPECT_EQ((Found{1, 17, 9, 0.0}), Match(img, tpl, 17, 9, 0, 0, 40, 30, 0, 0, 0));
  EXPECT_EQ((Found{1, 0, 30, 0.0}), Match(img, tpl, -100, 33, 0, 0, 40, 30, 0, 0, 0));
  EXPECT_EQ((Found{1, 17, 9, 0.0}), Match(img, tpl, 17, 9, 0, 0, 40, 30, 0, 0, 1));

  // Equal score and equal distance: the earlier in scan order, with any number of workers.
  // One bright pixel spoils the positions whose region covers it, the centre among them;
  // (101, 100) and (100, 101) are then the nearest perfect positions.
  ASSERT_EQ(1, img.Allocate(240, 230, 1));
  ASSERT_EQ(1, tpl.Allocate(4, 4, 1));
  img.SetGray8(100, 100, 255);
  const uint64_t all = GetProcessorCount();
  for (uint64_t workers : {uint64_t(1), all}) {
    SetWorkerCount(workers);
    EXPECT_EQ((Found{1, 101, 100, 0.0}), Match(img, tpl, 100, 100, 0, 0, 236, 226, 0, 0, 0)) << workers;
    // Along one row: (4, 5) and (6, 5) tie at distance 1 from (5, 5), whose region differs.
    CImgBuff row, one;
    ASSERT_EQ(1, row.Allocate(11, 11, 1));
    ASSERT_EQ(1, one.Allocate(1, 1, 1));
    for (int32_t y = 0; y < 11; ++y)
      for (int32_t x = 0; x < 11; ++x) row.SetGray8(x, y, x == 4 || x == 6 ? 100 : 0);
    one.SetGray8(0, 0, 100);
    EXPECT_EQ((Found{1, 4, 5, 0.0}), Match(row, one, 5, 5, 3, 5, 7, 5, 0, 0, 0)) << workers;
  }
  SetWorkerCount(all);

  // L*a*b*: the three positions of a 3 x 1 template over (c0, c1, c2, c0, c1) add the same
  // three differences in rotated order; the sums differ in their last bit, the scores do not.
  // Position 2 has the larger sum but is the centre, so it must still win the tie.
  const uint32_t colours[3] = {0x448456, 0xfd988d, 0x49d7e9};
  ASSERT_EQ(1, img.Allocate(5, 1, 4));
  for (int32_t x = 0; x < 5; ++x)
    img.SetRGB8(x, 0, uint8_t(colours[x % 3] >> 16), uint8_t(colours[x % 3] >> 8), uint8_t(colours[x % 3]));
  ASSERT_EQ(1, tpl.Allocate(3, 1, 4));
  for (int32_t x = 0; x < 3; ++x) tpl.SetRGB8(x, 0, 128, 128, 128);
  const double s0 = RegionDissimilarity(&img, &tpl, 0, 0, 0, 1);
  ASSERT_EQ(s0, RegionDissimilarity(&img, &tpl, 2, 0, 0, 1));
  EXPECT_EQ((Found{1, 2, 0, s0}), Match(img, tpl, 2, 0, 0, 0, 2, 0, 0, 1, 0));
  EXPECT_EQ(Exhaustive(img, tpl, 2, 0, 0, 0, 2, 0, 0, 1), Match(img, tpl, 2, 0, 0, 0, 2, 0, 0, 1, 0));
}

TEST(MatchTemplate, SameAnswerWithAnyWorkerCount) {
  CImgBuff img, tpl;
  FillRandom(img, 300, 200, 4, 77);
  FillRandom(tpl, 12, 10, 4, 78);
  const uint64_t all = GetProcessorCount();
  Found r[2][3];
  for (int run = 0; run < 2; ++run) {
    SetWorkerCount(run == 0 ? 1 : all);
    for (int32_t m = 0; m < 3; ++m) r[run][m] = Match(img, tpl, 150, 100, 0, 0, 299, 199, m == 2, m, 0);
  }
  SetWorkerCount(all);
  for (int32_t m = 0; m < 3; ++m) EXPECT_EQ(r[0][m], r[1][m]) << m;
}

std::atomic<int32_t> gPolls{0};
int32_t CancelAlways(void*) { return 1; }
int32_t CancelAfter(void* user) { return gPolls.fetch_add(1) >= *static_cast<int32_t*>(user) ? 1 : 0; }

TEST(MatchTemplate, CancelAndRefusals) {
  CImgBuff img, tpl, empty;
  FillRandom(img, 80, 60, 1, 5);
  ASSERT_EQ(1, img.Crop(tpl, 30, 20, 45, 35));

  // Cancelled before any position is scored: failure, score -1 (never a "perfect" 0), the
  // outputs untouched; with and without the pyramid.
  for (int32_t pyr : {0, 1}) {
    const Found f = Match(img, tpl, 30, 20, 0, 0, 64, 44, 0, 0, pyr, CancelAlways, nullptr);
    EXPECT_EQ((Found{0, -99, -99, -1.0}), f) << pyr;
  }
  // Cancelled part way: 0, with the best found so far written.
  int32_t after = 200;
  gPolls = 0;
  SetWorkerCount(1);
  const Found part = Match(img, tpl, 30, 20, 0, 0, 64, 44, 0, 0, 0, CancelAfter, &after);
  SetWorkerCount(GetProcessorCount());
  EXPECT_EQ(0, part.ok);
  EXPECT_GE(part.score, 0.0);
  // 200 polls on one worker: rows 0 to 2 and the start of row 3 were scored.
  EXPECT_LE(part.y, 3);
  EXPECT_EQ(RegionDissimilarity(&img, &tpl, part.x, part.y, 0, 0), part.score);
  EXPECT_LE(part.score, Exhaustive(img, tpl, 30, 20, 0, 0, 64, 2, 0, 0).score);
  // A cancel function that never fires changes nothing.
  int32_t never = 1 << 30;
  gPolls = 0;
  EXPECT_EQ((Found{1, 30, 20, 0.0}), Match(img, tpl, 0, 0, 0, 0, 64, 44, 0, 0, 1, CancelAfter, &never));

  // Refusals: the template does not fit at (x0, y0); the clamped window is empty; empty
  // pictures; missing outputs.
  EXPECT_EQ((Found{0, -99, -99, -1.0}), Match(img, tpl, 0, 0, 65, 0, 70, 5, 0, 0, 0));
  EXPECT_EQ((Found{0, -99, -99, -1.0}), Match(img, tpl, 0, 0, 0, 45, 5, 50, 0, 0, 1));
  EXPECT_EQ((Found{0, -99, -99, -1.0}), Match(img, tpl, 0, 0, -20, 0, -10, 5, 0, 0, 0));
  EXPECT_EQ((Found{0, -99, -99, -1.0}), Match(img, empty, 0, 0, 0, 0, 5, 5, 0, 0, 0));
  EXPECT_EQ((Found{0, -99, -99, -1.0}), Match(empty, tpl, 0, 0, 0, 0, 5, 5, 0, 0, 0));
  double s = 5;
  int32_t x = 0;
  EXPECT_EQ(0, MatchTemplate(&img, &tpl, 0, 0, 0, 0, 5, 5, &x, nullptr, 0, 0, 0, &s, nullptr, nullptr));
  EXPECT_EQ(-1.0, s);
  // Extreme corners do not overflow.
  EXPECT_EQ(1, Match(img, tpl, 2147483647, -2147483647 - 1, -2147483647 - 1, -2147483647 - 1, 2147483647,
                     2147483647, 0, 0, 1).ok);
  // A template as large as the picture has the single position (0, 0).
  EXPECT_EQ((Found{1, 0, 0, 0.0}), Match(img, img, 5, 5, -3, -3, 10, 10, 0, 0, 1));
}

TEST(HalveImage, MeansOfTwoByTwoBlocks) {
  CImgBuff src, dst;
  ASSERT_EQ(1, src.Allocate(5, 3, 1));
  const uint8_t v[3][5] = {{10, 11, 100, 200, 7}, {12, 14, 50, 51, 7}, {9, 9, 9, 9, 9}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) src.SetGray8(x, y, v[y][x]);
  ASSERT_EQ(1, HalveImage(&src, &dst));
  ASSERT_EQ(2, dst.Width());
  ASSERT_EQ(1, dst.Height());
  uint8_t g;
  dst.GetGray8(0, 0, &g);
  EXPECT_EQ((10 + 11 + 12 + 14) / 4, g);
  dst.GetGray8(1, 0, &g);
  EXPECT_EQ((100 + 200 + 50 + 51) / 4, g);

  // 16-bit gray carries 8-bit precision, widened back.
  ASSERT_EQ(1, src.Allocate(2, 2, 2));
  src.SetGray16(0, 0, 0x10FF);
  src.SetGray16(1, 1, 0x2000);
  ASSERT_EQ(1, HalveImage(&src, &dst));
  uint16_t g16;
  dst.GetGray16(0, 0, &g16);
  EXPECT_EQ(((0x10 + 0x20) / 4) * 257, g16);

  // Colour channel by channel; halving in place.
  ASSERT_EQ(1, src.Allocate(2, 2, 4));
  src.SetRGB8(0, 0, 255, 0, 4);
  src.SetRGB8(1, 1, 1, 8, 4);
  ASSERT_EQ(1, HalveImage(&src, &src));
  uint8_t r, gg, b;
  src.GetRGB8(0, 0, &r, &gg, &b);
  EXPECT_EQ(64, r);
  EXPECT_EQ(2, gg);
  EXPECT_EQ(2, b);

  // Typed kernels against the accessors, every format.
  for (int32_t format = 1; format <= 9; ++format) {
    CImgBuff a, t, ref;
    FillRandom(a, 37, 29, format, uint32_t(format));
    ASSERT_EQ(1, HalveImage(&a, &t));
    SetEngineTypedKernels(0);
    ASSERT_EQ(1, HalveImage(&a, &ref));
    SetEngineTypedKernels(1);
    EXPECT_TRUE(SamePixels(t, ref)) << format << ": " << FirstDifference(t, ref);
  }

  // Nothing to halve.
  ASSERT_EQ(1, src.Allocate(1, 9, 1));
  EXPECT_EQ(0, HalveImage(&src, &dst));
  CImgBuff empty;
  EXPECT_EQ(0, HalveImage(&empty, &dst));
  EXPECT_EQ(0, HalveImage(nullptr, &dst));
}

// ---- sub-pixel refinement ------------------------------------------------------------------

TEST(MatchTemplateSubpixel, FindsKnownFractionalShifts) {
  const double truths[][2] = {{40.3, 30.7},  {51.5, 22.25}, {33.82, 41.1}, {46.05, 35.95},
                              {45.0, 28.0},  {36.6, 44.4},  {31.2, 26.9},  {49.77, 39.38}};
  for (int32_t format : {2, 5}) {
    CImgBuff img;
    Render(img, 140, 120, format, 0, 0);
    for (const auto& t : truths) {
      CImgBuff tpl;
      Render(tpl, 32, 32, format, t[0], t[1]);
      int32_t x, y;
      double s;
      ASSERT_EQ(1, MatchTemplate(&img, &tpl, 40, 35, 8, 4, 72, 60, &x, &y, 0, 0, 0, &s, nullptr, nullptr));
      EXPECT_EQ(Exhaustive(img, tpl, 40, 35, 8, 4, 72, 60, 0, 0), (Found{1, x, y, s}));
      EXPECT_LE(std::fabs(x - t[0]), 1.0);
      EXPECT_LE(std::fabs(y - t[1]), 1.0);
      double fx = -1, fy = -1;
      ASSERT_EQ(1, MatchTemplateSubpixel(&img, &tpl, x, y, &fx, &fy, 0, 0, 0.1, &s, nullptr, nullptr));
      EXPECT_NEAR(t[0], fx, 0.05) << "format " << format << " truth " << t[0] << ", " << t[1];
      EXPECT_NEAR(t[1], fy, 0.05) << "format " << format << " truth " << t[0] << ", " << t[1];
      // The PIV form: +/-1 pixel with a step of 0.5 ends on a grid of 0.25.
      ASSERT_EQ(1, MatchTemplateSubpixelRange(&img, &tpl, x - 1, y - 1, x + 1, y + 1, &fx, &fy, 0, 0, 0.5, &s,
                                              nullptr, nullptr));
      EXPECT_NEAR(t[0], fx, 0.25);
      EXPECT_NEAR(t[1], fy, 0.25);
      EXPECT_EQ(0.0, std::fmod(fx * 4, 1.0));
    }
  }
}

// 8-bit pictures.  A fractional position is scored on an 8-bit copy moved by ShiftImage, whose
// interpolation truncates; a template moved the same way is found to within the final grid.
// A template sampled from the pattern on its own differs from that copy by the truncation
// (up to a level or so at fractional positions, nothing at whole ones), which pulls the
// answer toward whole and half pixels: there the bound is 0.1 pixel, not 0.05.
TEST(MatchTemplateSubpixel, EightBitPictures) {
  const double truths[][2] = {{40.3, 30.7},  {51.5, 22.25}, {33.82, 41.1}, {46.05, 35.95},
                              {45.0, 28.0},  {36.6, 44.4},  {31.2, 26.9},  {49.77, 39.38}};
  for (int32_t format : {1, 4}) {
    CImgBuff img;
    Render(img, 140, 120, format, 0, 0);
    for (const auto& t : truths) {
      for (int32_t ownShift : {1, 0}) {
        CImgBuff tpl;
        if (ownShift) {
          CImgBuff big;
          const int32_t ix = int32_t(t[0]), iy = int32_t(t[1]);
          ASSERT_EQ(1, img.Crop(big, ix, iy, ix + 32, iy + 32));
          ASSERT_EQ(1, ShiftImage(&big, -(t[0] - ix), -(t[1] - iy), 0));
          ASSERT_EQ(1, big.Crop(tpl, 0, 0, 31, 31));
        } else {
          Render(tpl, 32, 32, format, t[0], t[1]);
        }
        int32_t x, y;
        double s, fx = -1, fy = -1;
        ASSERT_EQ(1, MatchTemplate(&img, &tpl, 40, 35, 8, 4, 72, 60, &x, &y, 0, 0, 0, &s, nullptr, nullptr));
        ASSERT_EQ(1, MatchTemplateSubpixel(&img, &tpl, x, y, &fx, &fy, 0, 0, 0.1, &s, nullptr, nullptr));
        const double bound = ownShift ? 0.05 : 0.1 + 1e-9;
        EXPECT_NEAR(t[0], fx, bound) << "format " << format << " own shift " << ownShift << " truth " << t[0];
        EXPECT_NEAR(t[1], fy, bound) << "format " << format << " own shift " << ownShift << " truth " << t[1];
      }
    }
  }
}

TEST(MatchTemplateSubpixel, EdgesAndRefusals) {
  CImgBuff img, tpl;
  FillRandom(img, 40, 30, 1, 3);
  ASSERT_EQ(1, img.Crop(tpl, 10, 8, 19, 15));
  double fx = -7, fy = -7, s = -7;
  // An exact match scores 0 at the centre and returns at once.
  ASSERT_EQ(1, MatchTemplateSubpixel(&img, &tpl, 10, 8, &fx, &fy, 0, 0, 0.1, &s, nullptr, nullptr));
  EXPECT_EQ(10.0, fx);
  EXPECT_EQ(8.0, fy);
  EXPECT_EQ(0.0, s);
  // The last whole column: the centre cannot be interpolated; answered with score -1.
  ASSERT_EQ(1, img.Crop(tpl, 30, 8, 39, 15));
  ASSERT_EQ(1, MatchTemplateSubpixel(&img, &tpl, 30, 8, &fx, &fy, 0, 0, 0.1, &s, nullptr, nullptr));
  EXPECT_EQ(30.0, fx);
  EXPECT_EQ(-1.0, s);
  // Near x = 0 the quadrants left of the picture are never chosen.
  ASSERT_EQ(1, img.Crop(tpl, 0, 5, 9, 12));
  tpl.SetGray8(0, 0, 1);
  ASSERT_EQ(1, MatchTemplateSubpixel(&img, &tpl, 0, 5, &fx, &fy, 0, 0, 0.5, &s, nullptr, nullptr));
  EXPECT_GE(fx, 0.0);
  EXPECT_GE(s, 0.0);
  // Steps that are not above 0, cancel at entry, missing outputs: 0 and nothing written.
  for (double step : {0.0, -0.1, std::numeric_limits<double>::quiet_NaN()}) {
    fx = fy = s = -7;
    EXPECT_EQ(0, MatchTemplateSubpixel(&img, &tpl, 5, 5, &fx, &fy, 0, 0, step, &s, nullptr, nullptr));
    EXPECT_EQ(-7.0, fx);
    EXPECT_EQ(-7.0, s);
  }
  EXPECT_EQ(0, MatchTemplateSubpixel(&img, &tpl, 5, 5, &fx, &fy, 0, 0, 0.1, &s, CancelAlways, nullptr));
  EXPECT_EQ(-7.0, fx);
  EXPECT_EQ(0, MatchTemplateSubpixelRange(&img, &tpl, 4, 4, 6, 6, nullptr, &fy, 0, 0, 0.1, &s, nullptr, nullptr));
  // A range wholly outside answers its centre with a negative score.
  ASSERT_EQ(1, MatchTemplateSubpixelRange(&img, &tpl, 100, 100, 102, 102, &fx, &fy, 0, 0, 0.5, &s, nullptr, nullptr));
  EXPECT_EQ(101.0, fx);
  EXPECT_EQ(-1.0, s);
  // A tiny step stays bounded: the spans halve until they are no wider than it.
  ASSERT_EQ(1, MatchTemplateSubpixel(&img, &tpl, 3, 6, &fx, &fy, 0, 0, 1e-6, &s, nullptr, nullptr));
  EXPECT_GE(s, 0.0);
  // Steps below what the positions can resolve (0, negative, denormal) stop descending once
  // the rectangle no longer narrows, rather than recursing without end.
  for (double step : {0.0, -1.0, 1e-300}) {
    fx = fy = s = -7;
    ASSERT_EQ(1, MatchTemplateSubpixelRange(&img, &tpl, 2, 5, 4, 7, &fx, &fy, 0, 0, step, &s, nullptr, nullptr))
        << step;
    EXPECT_GE(s, 0.0) << step;
    EXPECT_LE(std::fabs(fx - 3), 1.0) << step;
    EXPECT_LE(std::fabs(fy - 6), 1.0) << step;
  }
}

}  // namespace
