// Region dissimilarity and region statistics: worked scores per mode, the fit rules, the
// contrast stretch, every image and template format against a literal per-pixel reference,
// independence from the worker count, fractional positions, and the statistics entries.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/colour.h"
#include "core/parallel.h"
#include "engine/matchsad.h"
#include "engine/region.h"
#include "engine/regionplane.h"
#include "engine/shift.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

void Uniform(CImgBuff& img, int32_t w, int32_t h, int32_t format, uint8_t r, uint8_t g, uint8_t b) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) img.SetRGB8(x, y, r, g, b);
}

// The score as the algorithm reads literally: stretched copies through the accessors, one
// running sum over all template pixels.
double Reference(CImgBuff& image, CImgBuff& templ, int32_t x, int32_t y, int32_t norm, int32_t colourMode) {
  const int32_t tw = templ.Width(), th = templ.Height();
  const int32_t mode = templ.Format() >= 4 ? (colourMode == 0 ? 1 : 2) : 0;
  CImgBuff a, b;
  CImgBuff* A = &image;
  CImgBuff* B = &templ;
  int32_t ax = x, ay = y;
  if (norm) {
    if (!image.Crop(a, x, y, x + tw - 1, y + th - 1)) return -1.0;
    b.CopyFrom(templ);
    for (CImgBuff* p : {&a, &b}) {
      if (mode == 2) {
        for (int32_t j = 0; j < th; ++j)
          for (int32_t i = 0; i < tw; ++i) {
            double X, Y, Z, L, aa, bb;
            p->GetXYZ(i, j, &X, &Y, &Z);
            XyzToLab(X, Y, Z, &L, &aa, &bb);
            p->SetLab(i, j, 50.0, aa, bb);
          }
        continue;
      }
      int mn = 255, mx = 0;
      for (int32_t j = 0; j < th; ++j)
        for (int32_t i = 0; i < tw; ++i) {
          uint8_t c[3];
          if (mode == 0) p->GetGray8(i, j, &c[0]), c[1] = c[2] = c[0];
          else p->GetRGB8(i, j, &c[0], &c[1], &c[2]);
          for (int k = 0; k < 3; ++k) mn = std::min<int>(mn, c[k]), mx = std::max<int>(mx, c[k]);
        }
      const double s = mx > mn ? 255.0 / (mx - mn) : 0.0;
      auto st = [&](uint8_t v) {
        const double t = (v - mn) * s;
        return uint8_t(t >= 255.0 ? 255 : int(t));
      };
      for (int32_t j = 0; j < th; ++j)
        for (int32_t i = 0; i < tw; ++i) {
          uint8_t c[3];
          if (mode == 0) {
            p->GetGray8(i, j, &c[0]);
            p->SetGray8(i, j, st(c[0]));
          } else {
            p->GetRGB8(i, j, &c[0], &c[1], &c[2]);
            p->SetRGB8(i, j, st(c[0]), st(c[1]), st(c[2]));
          }
        }
    }
    A = &a, B = &b, ax = 0, ay = 0;
  }
  double sum = 0;
  for (int32_t j = 0; j < th; ++j)
    for (int32_t i = 0; i < tw; ++i) {
      if (mode == 0) {
        uint8_t g1, g2;
        A->GetGray8(ax + i, ay + j, &g1);
        B->GetGray8(i, j, &g2);
        sum += std::abs(g1 - g2);
      } else if (mode == 1) {
        uint8_t p[3], q[3];
        A->GetRGB8(ax + i, ay + j, &p[0], &p[1], &p[2]);
        B->GetRGB8(i, j, &q[0], &q[1], &q[2]);
        sum += std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]);
      } else {
        double X, Y, Z, p[3], q[3];
        A->GetXYZ(ax + i, ay + j, &X, &Y, &Z);
        XyzToLab(X, Y, Z, &p[0], &p[1], &p[2]);
        B->GetXYZ(i, j, &X, &Y, &Z);
        XyzToLab(X, Y, Z, &q[0], &q[1], &q[2]);
        sum += std::fabs(p[0] - q[0]) + std::fabs(p[1] - q[1]) * 100 / 255 * 0.25 +
               std::fabs(p[2] - q[2]) * 100 / 255 * 0.25;
      }
    }
  if (mode == 1) sum /= 3;
  if (mode == 2) sum = sum / 3 * 255;
  return 0.0 + sum / (double(tw) * th) / 255 * 100;
}

TEST(RegionDissimilarity, WorkedScores) {
  CImgBuff img, tpl;
  // Identical regions score 0 in every mode; one column beyond the right edge is -1.
  FillRandom(img, 20, 12, 4, 5);
  ASSERT_EQ(1, img.Crop(tpl, 6, 3, 13, 9));
  for (int32_t cm : {0, 1})
    for (int32_t norm : {0, 1}) {
      EXPECT_EQ(0.0, RegionDissimilarity(&img, &tpl, 6, 3, norm, cm)) << cm << norm;
      EXPECT_EQ(-1.0, RegionDissimilarity(&img, &tpl, 13, 3, norm, cm)) << cm << norm;
      EXPECT_EQ(-1.0, RegionDissimilarity(&img, &tpl, 6, 6, norm, cm)) << cm << norm;
    }
  EXPECT_GE(RegionDissimilarity(&img, &tpl, 12, 5, 0, 0), 0.0);  // the last column that fits

  // Gray mode of a 16-bit picture reads the high bytes.
  ASSERT_EQ(1, img.Allocate(2, 1, 2));
  img.SetGray16(0, 0, 0x12FF);
  img.SetGray16(1, 0, 0x3400);
  ASSERT_EQ(1, tpl.Allocate(2, 1, 1));
  tpl.SetGray8(0, 0, 0x12);
  tpl.SetGray8(1, 0, 0x34);
  EXPECT_EQ(0.0, RegionDissimilarity(&img, &tpl, 0, 0, 0, 0));

  // RGB: (|3| + 0 + |6|) / 3 over one pixel, in percent of 255.
  Uniform(img, 1, 1, 4, 10, 20, 30);
  Uniform(tpl, 1, 1, 4, 13, 20, 24);
  EXPECT_DOUBLE_EQ(3.0 / 255 * 100, RegionDissimilarity(&img, &tpl, 0, 0, 0, 0));

  // L*a*b*: black against white differs by 100 in L*: 100 / 3 * 255 / 255 * 100.
  Uniform(img, 1, 1, 4, 255, 255, 255);
  Uniform(tpl, 1, 1, 4, 0, 0, 0);
  const double lab = RegionDissimilarity(&img, &tpl, 0, 0, 0, 1);
  EXPECT_NEAR(3333.33, lab, 0.1);
  // Stretched L*a*b* sets L* to 50: only the (near zero) a*, b* differences remain.
  EXPECT_LT(RegionDissimilarity(&img, &tpl, 0, 0, 1, 1), 1.0);
}

TEST(RegionDissimilarity, ContrastStretch) {
  // Region 10..20, template the same doubled (20..40): equal after the stretch.
  CImgBuff img, tpl;
  ASSERT_EQ(1, img.Allocate(6, 2, 1));
  ASSERT_EQ(1, tpl.Allocate(6, 2, 1));
  double diff = 0;
  for (int32_t i = 0; i < 12; ++i) {
    const int v = 10 + (i * 7) % 11;
    img.SetGray8(i % 6, i / 6, uint8_t(v));
    tpl.SetGray8(i % 6, i / 6, uint8_t(2 * v));
    diff += v;
  }
  EXPECT_EQ(0.0, RegionDissimilarity(&img, &tpl, 0, 0, 1, 0));
  EXPECT_DOUBLE_EQ(diff / 12 / 255 * 100, RegionDissimilarity(&img, &tpl, 0, 0, 0, 0));
  // Uniform regions stretch to all 0, whatever their levels.
  Uniform(img, 4, 4, 1, 50, 50, 50);
  Uniform(tpl, 4, 4, 1, 80, 80, 80);
  EXPECT_EQ(0.0, RegionDissimilarity(&img, &tpl, 0, 0, 1, 0));
  Uniform(img, 4, 4, 4, 50, 60, 70);
  Uniform(tpl, 4, 4, 4, 90, 90, 90);
  EXPECT_GT(RegionDissimilarity(&img, &tpl, 0, 0, 1, 0), 0.0);  // channels share one range
  Uniform(img, 4, 4, 4, 70, 70, 70);
  EXPECT_EQ(0.0, RegionDissimilarity(&img, &tpl, 0, 0, 1, 0));
}

TEST(RegionDissimilarity, RefusesWhatDoesNotFit) {
  CImgBuff img, tpl, empty;
  FillRandom(img, 10, 10, 1, 1);
  FillRandom(tpl, 4, 4, 1, 2);
  const int32_t pos[][2] = {{-1, 0}, {0, -1}, {7, 0}, {0, 7}, {2147483647, 0}, {-2147483647 - 1, 3}};
  for (const auto& p : pos) EXPECT_EQ(-1.0, RegionDissimilarity(&img, &tpl, p[0], p[1], 0, 0)) << p[0] << "," << p[1];
  EXPECT_EQ(-1.0, RegionDissimilarity(&empty, &tpl, 0, 0, 0, 0));
  EXPECT_EQ(-1.0, RegionDissimilarity(&img, &empty, 0, 0, 0, 0));
  EXPECT_EQ(-1.0, RegionDissimilarity(nullptr, &tpl, 0, 0, 0, 0));
  EXPECT_EQ(-1.0, RegionDissimilarity(&img, nullptr, 0, 0, 0, 0));
}

TEST(RegionDissimilarity, EveryFormatMatchesTheLiteralReference) {
  // Small templates (one pass) and one of 4096 pixels and more (converted on the pool).
  const int32_t sizes[][2] = {{7, 5}, {70, 60}};
  for (const auto& sz : sizes)
    for (int32_t imgFormat = 1; imgFormat <= 9; ++imgFormat)
      for (int32_t tplFormat : {1, 2, 4, 7, 8, 9}) {
        CImgBuff img, tpl;
        FillRandom(img, sz[0] + 9, sz[1] + 4, imgFormat, uint32_t(imgFormat * 13 + tplFormat));
        FillRandom(tpl, sz[0], sz[1], tplFormat, uint32_t(tplFormat * 17 + imgFormat));
        for (int32_t norm : {0, 1})
          for (int32_t cm : {0, 2}) {
            if (sz[0] > 10 && cm && norm && (imgFormat % 3)) continue;  // keep the slow cases few
            const double got = RegionDissimilarity(&img, &tpl, 5, 3, norm, cm);
            const double want = Reference(img, tpl, 5, 3, norm, cm);
            EXPECT_EQ(want, got) << "image " << imgFormat << " template " << tplFormat << " norm " << norm
                                 << " colour " << cm << " size " << sz[0];
          }
      }
}

TEST(RegionDissimilarity, SameScoreWithAnyWorkerCount) {
  CImgBuff img, tpl;
  FillRandom(img, 120, 90, 4, 8);
  FillRandom(tpl, 100, 80, 4, 9);
  const uint64_t all = GetProcessorCount();
  double scores[2][3];
  for (int run = 0; run < 2; ++run) {
    SetWorkerCount(run == 0 ? 1 : all);
    for (int32_t m = 0; m < 3; ++m) scores[run][m] = RegionDissimilarity(&img, &tpl, 11, 7, m == 2, m);
  }
  SetWorkerCount(all);
  for (int32_t m = 0; m < 3; ++m) EXPECT_EQ(scores[0][m], scores[1][m]) << m;
}

TEST(RegionDissimilarityAt, FractionalPositions) {
  CImgBuff img, tpl;
  FillRandom(img, 30, 20, 5, 4);
  FillRandom(tpl, 8, 6, 4, 6);
  // At whole positions inside it equals the whole-pixel score; the last column and row have
  // no neighbour to interpolate with.
  for (int32_t cm : {0, 1})
    for (int32_t norm : {0, 1}) {
      EXPECT_EQ(RegionDissimilarity(&img, &tpl, 9, 4, norm, cm), RegionDissimilarityAt(&img, &tpl, 9, 4, norm, cm));
      EXPECT_EQ(RegionDissimilarity(&img, &tpl, 0, 0, norm, cm), RegionDissimilarityAt(&img, &tpl, 0, 0, norm, cm));
    }
  EXPECT_GE(RegionDissimilarity(&img, &tpl, 22, 14, 0, 0), 0.0);
  EXPECT_EQ(-1.0, RegionDissimilarityAt(&img, &tpl, 22, 3, 0, 0));
  EXPECT_EQ(-1.0, RegionDissimilarityAt(&img, &tpl, 3, 14, 0, 0));
  EXPECT_GE(RegionDissimilarityAt(&img, &tpl, 21.9, 13.9, 0, 0), 0.0);
  // Positions between -1 and 0 are refused, not truncated to 0; so are non-finite ones.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double bad[][2] = {{-0.5, 1}, {1, -0.25}, {-3, 2}, {nan, 1}, {1, INFINITY}, {1e12, 1}};
  for (const auto& p : bad) EXPECT_EQ(-1.0, RegionDissimilarityAt(&img, &tpl, p[0], p[1], 0, 0)) << p[0] << "," << p[1];

  // A ramp of 0, 100, 200 read half-way between its first two pixels is 50.
  ASSERT_EQ(1, img.Allocate(3, 2, 1));
  img.SetGray8(1, 0, 100);
  img.SetGray8(2, 0, 200);
  ASSERT_EQ(1, tpl.Allocate(1, 1, 1));
  tpl.SetGray8(0, 0, 50);
  EXPECT_EQ(0.0, RegionDissimilarityAt(&img, &tpl, 0.5, 0, 0, 0));
  EXPECT_DOUBLE_EQ(50.0 / 255 * 100, RegionDissimilarityAt(&img, &tpl, 1.0, 0, 0, 0));
}

// The scorer of the refinement gives RegionDissimilarityAt's value at every point: whole,
// quarter, 256th and other fractions, the last column and row, refused points, asked once or
// twice, in every format, mode and normalisation, with its 8-bit kernels in every form.
TEST(RegionScorer, EqualsRegionDissimilarityAtEverywhere) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double points[][2] = {{0, 0},      {3, 2},       {3.25, 2.5},  {7.75, 0.5}, {4 + 1.0 / 256, 6 + 255.0 / 256},
                              {2.1, 3.7},  {5.5, 1.0 / 3}, {22, 3},    {21.5, 13.75}, {21.99, 13.5},
                              {3, 14},     {-0.25, 1},   {1, nan},     {3.25, 2.5}, {0.5, 0}};
  for (int32_t format = 1; format <= 9; ++format) {
    CImgBuff img, tpl;
    FillRandom(img, 30, 20, format, uint32_t(format + 50));
    ASSERT_EQ(1, img.Crop(tpl, 4, 5, 11, 10));
    tpl.SetGray8(3, 3, 9);
    for (int32_t cm : {0, 1})
      for (int32_t norm : {0, 1})
        for (int32_t form : {MatchAvx2, MatchSse2, MatchPlain}) {
          SetMatchKernelForm(form);
          RegionScorer scorer;
          ASSERT_EQ(1, scorer.Prepare(&img, &tpl, norm, cm));
          for (const auto& p : points) {
            const double want = RegionDissimilarityAt(&img, &tpl, p[0], p[1], norm, cm);
            EXPECT_EQ(want, scorer.At(p[0], p[1]))
                << "format " << format << " colour " << cm << " norm " << norm << " form " << form << " at " << p[0]
                << "," << p[1];
          }
        }
    SetMatchKernelForm(MatchAvx2);
  }
  // A template as large as the image has no point with the extra column: not prepared, and
  // every point refused as RegionDissimilarityAt refuses it.
  CImgBuff img, tpl;
  FillRandom(img, 8, 8, 1, 3);
  FillRandom(tpl, 8, 8, 1, 4);
  RegionScorer scorer;
  EXPECT_EQ(0, scorer.Prepare(&img, &tpl, 1, 0));
  EXPECT_EQ(-1.0, scorer.At(0, 0));
  EXPECT_EQ(0, scorer.Prepare(nullptr, &tpl, 1, 0));
  EXPECT_EQ(-1.0, scorer.At(0.5, 0));
}

// ---- statistics ----------------------------------------------------------------------------

void PixelLab(const CImgBuff& img, int32_t x, int32_t y, double* lab) {
  double X, Y, Z;
  img.GetXYZ(x, y, &X, &Y, &Z);
  XyzToLab(X, Y, Z, &lab[0], &lab[1], &lab[2]);
}

// The template search's stretched sums against ScorePlanes with the stretch, position by
// position: every pair of extremes (each value of its range present), then random planes
// of gray and colour formats whose candidates have ranges of every width, the extremes
// from the row pass checked against a scan of each candidate.
TEST(StretchedSum, EqualsTheStretchedScoreForEveryRange) {
  CImgBuff tplPic;
  ASSERT_EQ(1, tplPic.Allocate(256, 1, 1));
  std::mt19937 rng(9);
  for (int32_t x = 0; x < 256; ++x) tplPic.SetGray8(x, 0, uint8_t(rng()));
  ComparePlane tpl;
  ASSERT_EQ(1, BuildPlane(tplPic.record, 0, 0, 256, 1, CompareGray, 0, 0, &tpl));
  ASSERT_EQ(1, NormalisePlaneU8(&tpl));
  NormaliseScratch fast, slow;
  ASSERT_EQ(1, fast.Prepare(1, 256));
  ASSERT_EQ(1, slow.Prepare(1, 256));
  CImgBuff pic;
  ASSERT_EQ(1, pic.Allocate(256, 1, 1));
  int bad = 0;
  for (int32_t lo = 0; lo < 256 && bad < 5; ++lo) {
    for (int32_t hi = lo; hi < 256 && bad < 5; ++hi) {
      for (int32_t x = 0; x < 256; ++x) pic.SetGray8(x, 0, uint8_t(lo + x % (hi - lo + 1)));
      ComparePlane img;
      ASSERT_EQ(1, BuildPlane(pic.record, 0, 0, 256, 1, CompareGray, 0, 0, &img));
      const double want = ScorePlanes(img, 0, 0, tpl, 1, &slow);
      const double got = ScoreFromSadU8(CompareGray, StretchedSadU8(img, 0, 0, tpl, uint8_t(lo), uint8_t(hi), &fast),
                                        256, 1);
      if (got != want) {
        ADD_FAILURE() << "lo " << lo << " hi " << hi;
        ++bad;
      }
    }
  }

  struct Case {
    int32_t format, tw, th;
  } cases[] = {{1, 32, 32}, {1, 17, 5}, {1, 3, 40}, {2, 33, 9}, {4, 32, 32}, {4, 7, 6}, {5, 11, 12}, {9, 16, 8}, {7, 20, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " template " << c.tw << "x" << c.th);
    const int32_t w = 70, h = 50;
    CImgBuff image, templ;
    ASSERT_EQ(1, image.Allocate(w, h, c.format));
    // Bands of narrow and wide ranges, so that candidates see extremes of every spread.
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int32_t base = (y * 37 + x / 9 * 11) % 200, spread = 1 + (x * y) % 56;
        const auto v = [&] { return uint8_t(base + int32_t(rng() % uint32_t(spread))); };
        image.SetRGB8(x, y, v(), v(), v());
      }
    ASSERT_EQ(1, image.Crop(templ, 5, 7, 5 + c.tw - 1, 7 + c.th - 1));
    templ.SetGray8(0, 0, 0);
    const CompareMode mode = CompareModeFor(c.format, 0);
    ComparePlane img, tpl;
    ASSERT_EQ(1, BuildPlane(image.record, 0, 0, w, h, mode, 0, 0, &img));
    ASSERT_EQ(1, BuildPlane(templ.record, 0, 0, c.tw, c.th, mode, 0, 0, &tpl));
    ASSERT_EQ(1, NormalisePlaneU8(&tpl));
    NormaliseScratch f, s;
    const int64_t bytes = int64_t(c.tw) * c.th * tpl.Channels();
    ASSERT_EQ(1, f.Prepare(c.format, bytes));
    ASSERT_EQ(1, s.Prepare(c.format, bytes));
    const int32_t count = w - c.tw + 1;
    std::vector<uint8_t> lo(static_cast<size_t>(count)), hi(static_cast<size_t>(count));
    std::vector<uint8_t> scratch(static_cast<size_t>(2 * (count + c.tw) * tpl.Channels()));
    int wrong = 0;
    for (int32_t y = 0; y + c.th <= h && wrong < 3; ++y) {
      RegionExtremesRow(img, 0, y, count, c.tw, c.th, lo.data(), hi.data(), scratch.data());
      for (int32_t x = 0; x < count && wrong < 3; ++x) {
        uint8_t mn = 255, mx = 0;
        for (int32_t j = 0; j < c.th; ++j)
          for (int32_t i = 0; i < c.tw * tpl.Channels(); ++i) {
            const uint8_t v = img.U8(x, y + j)[i];
            mn = v < mn ? v : mn;
            mx = v > mx ? v : mx;
          }
        const double want = ScorePlanes(img, x, y, tpl, 1, &s);
        const double got = ScoreFromSadU8(mode, StretchedSadU8(img, x, y, tpl, lo[size_t(x)], hi[size_t(x)], &f),
                                          c.tw, c.th);
        if (lo[size_t(x)] != mn || hi[size_t(x)] != mx || got != want) {
          ADD_FAILURE() << "position " << x << "," << y << " extremes " << int(lo[size_t(x)]) << ".."
                        << int(hi[size_t(x)]) << " of " << int(mn) << ".." << int(mx);
          ++wrong;
        }
      }
    }
  }
}

TEST(RegionStatistics, Entries) {
  CImgBuff img;
  FillRandom(img, 12, 9, 4, 21);
  RegionStats st;
  // A single pixel: its own values, no spread or roughness.
  ASSERT_EQ(1, RegionStatistics(&img, 4, 5, 4, 5, &st));
  double lab[3];
  PixelLab(img, 4, 5, lab);
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(lab[c], st.v[3 * c + k]) << c << k;
  for (int k = 9; k < 17; ++k) EXPECT_EQ(0.0, st.v[k]) << k;

  // Three rows: no row roughness yet (it counts from the fourth row); columns have it.
  ASSERT_EQ(1, RegionStatistics(&img, 0, 2, 11, 4, &st));
  EXPECT_EQ(0.0, st.v[13]);
  EXPECT_EQ(0.0, st.v[15]);
  EXPECT_GT(st.v[14], 0.0);
  EXPECT_GT(st.v[9], 0.0);
}

TEST(RegionStatistics, RowsAgainstColumns) {
  // Rows of one gray each, levels 0, 40, 80, 160, 100: column means are all equal, row means
  // follow L* of the levels.
  const uint8_t levels[5] = {0, 40, 80, 160, 100};
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(6, 5, 1));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x) img.SetGray8(x, y, levels[y]);
  RegionStats st;
  ASSERT_EQ(1, RegionStatistics(&img, 0, 0, 5, 4, &st));
  double L[5], mean = 0;
  for (int y = 0; y < 5; ++y) {
    double lab[3];
    PixelLab(img, 0, y, lab);
    L[y] = lab[0];
    mean += 6 * L[y];
  }
  mean /= 30;
  double dev = 0;
  for (int y = 0; y < 5; ++y) dev += (L[y] - mean) * (L[y] - mean);
  const double rough = std::fabs((L[3] - L[2]) - (L[2] - L[1])) + std::fabs((L[4] - L[3]) - (L[3] - L[2]));
  EXPECT_DOUBLE_EQ(L[0], st.v[0]);
  EXPECT_DOUBLE_EQ(L[3], st.v[1]);
  EXPECT_NEAR(mean, st.v[2], 1e-12);
  EXPECT_NEAR(std::sqrt(dev / 5), st.v[9], 1e-12);
  EXPECT_NEAR(0.0, st.v[10], 1e-12);
  EXPECT_NEAR(rough, st.v[13], 1e-12);
  EXPECT_NEAR(0.0, st.v[14], 1e-12);
  EXPECT_NEAR(0.0, st.v[11], 1e-3);  // gray: a*, b* near 0
}

TEST(RegionStatistics, RefusedRectanglesLeaveOutUntouched) {
  CImgBuff img, empty;
  FillRandom(img, 10, 8, 1, 2);
  const int32_t bad[][4] = {{0, 0, 10, 7}, {0, 0, 9, 8}, {-1, 0, 3, 3}, {0, -1, 3, 3}, {5, 0, 4, 3}, {0, 5, 3, 4}};
  for (const auto& r : bad) {
    RegionStats st;
    for (double& v : st.v) v = 7.5;
    EXPECT_EQ(0, RegionStatistics(&img, r[0], r[1], r[2], r[3], &st));
    for (double v : st.v) EXPECT_EQ(7.5, v);
  }
  RegionStats st;
  EXPECT_EQ(0, RegionStatistics(&empty, 0, 0, 0, 0, &st));
  EXPECT_EQ(0, RegionStatistics(nullptr, 0, 0, 0, 0, &st));
  EXPECT_EQ(0, RegionStatistics(&img, 0, 0, 1, 1, nullptr));
  EXPECT_EQ(1, RegionStatistics(&img, 0, 0, 9, 7, &st));
}

}  // namespace
