// The fast paths of the contrast-normalised search and of the refinement against the plain
// paths they replace (MatchFastPaths off), with the kernels in every form: the same
// positions and bit for bit the same scores on pictures of every format whose local contrast
// varies (so that regions have many different extremes), on periodic pictures full of equal
// scores (so that the tie rule decides), with windows that go to the worker pool or are too
// many positions for one block of rows, and at the picture's edges.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "core/parallel.h"
#include "engine/match.h"
#include "engine/matchsad.h"
#include "engine/region.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

// Blocks of 9 x 7 pixels, each with values drawn from its own range: some flat, some of a few
// levels, some of the whole range.  Periodic: the blocks repeat every `period` pixels when
// period is not 0, so that many positions score alike.
void Patchy(CImgBuff& img, int32_t w, int32_t h, int32_t format, uint32_t seed, int32_t period = 0) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  std::mt19937 rng(seed);
  const int32_t amps[] = {0, 2, 9, 40, 130, 255};
  auto value = [&](int32_t x, int32_t y, int32_t c) -> uint8_t {
    if (period) x %= period, y %= period;
    const uint32_t block = uint32_t(x / 9) * 7919u + uint32_t(y / 7) * 104729u + uint32_t(c) * 15485863u + seed;
    std::mt19937 b(block);
    const int32_t amp = amps[b() % 6];
    const int32_t base = int32_t(b() % uint32_t(256 - amp));
    std::mt19937 px(block ^ (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u));
    return uint8_t(base + (amp ? int32_t(px() % uint32_t(amp + 1)) : 0));
  };
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t noise = rng();
      switch (format) {
        case ImgFormatGray8: img.SetGray8(x, y, value(x, y, 0)); break;
        // Low bits the comparison's 8-bit reads drop.
        case ImgFormatGray16: img.SetGray16(x, y, uint16_t(value(x, y, 0) << 8 | (noise & 255))); break;
        case ImgFormatGray32: img.SetGray32(x, y, uint32_t(value(x, y, 0)) << 24 | (noise & 0xFFFFFF)); break;
        default: img.SetRGB8(x, y, value(x, y, 0), value(x, y, 1), value(x, y, 2)); break;
      }
    }
}

struct Answer {
  int32_t ok = 0, x = -99, y = -99;
  double score = -99;
  int32_t refined = 0;
  double fx = -99, fy = -99, refinedScore = -99;
  bool operator==(const Answer& o) const {
    return ok == o.ok && x == o.x && y == o.y && score == o.score && refined == o.refined && fx == o.fx &&
           fy == o.fy && refinedScore == o.refinedScore;
  }
};

std::ostream& operator<<(std::ostream& os, const Answer& a) {
  os.precision(17);
  return os << "{" << a.ok << " (" << a.x << ", " << a.y << ") " << a.score << " | " << a.refined << " (" << a.fx
            << ", " << a.fy << ") " << a.refinedScore << "}";
}

struct Search {
  int32_t cx, cy, x0, y0, x1, y1, norm, colourMode, pyramid;
  double step;
};

// The matcher as the PIV cell uses it: the whole-pixel search, then the refinement over +/-1
// pixel around its answer.
Answer Cell(CImgBuff& img, CImgBuff& tpl, const Search& s) {
  Answer a;
  a.ok = MatchTemplate(&img, &tpl, s.cx, s.cy, s.x0, s.y0, s.x1, s.y1, &a.x, &a.y, s.norm, s.colourMode, s.pyramid,
                       &a.score, nullptr, nullptr);
  if (a.ok)
    a.refined = MatchTemplateSubpixelRange(&img, &tpl, a.x - 1, a.y - 1, a.x + 1, a.y + 1, &a.fx, &a.fy, s.norm,
                                           s.colourMode, s.step, &a.refinedScore, nullptr, nullptr);
  return a;
}

// The plain answer, then the fast one with the AVX2, SSE2 and plain kernels: all equal.
void ExpectSameAnswers(CImgBuff& img, CImgBuff& tpl, const Search& s, const std::string& what) {
  SetMatchFastPaths(0);
  const Answer plain = Cell(img, tpl, s);
  SetMatchFastPaths(1);
  for (int32_t form : {MatchAvx2, MatchSse2, MatchPlain}) {
    SetMatchKernelForm(form);
    EXPECT_EQ(plain, Cell(img, tpl, s)) << what << " form " << form;
  }
  SetMatchKernelForm(MatchAvx2);
}

TEST(MatchStretch, SameAnswersOnEveryFormat) {
  struct Tpl {
    int32_t w, h;
  } const tpls[] = {{3, 3}, {5, 4}, {8, 8}, {13, 9}, {16, 16}, {20, 17}};
  for (int32_t format = 1; format <= 9; ++format) {
    CImgBuff img;
    Patchy(img, 72, 60, format, uint32_t(format * 11));
    for (const Tpl& t : tpls) {
      // A template cut from the picture a little way off the centre and spoilt in one pixel,
      // and one from elsewhere that matches nowhere well.
      CImgBuff near, far;
      ASSERT_EQ(1, img.Crop(near, 30, 22, 30 + t.w - 1, 22 + t.h - 1));
      near.SetGray8(t.w / 2, t.h / 2, 77);
      ASSERT_EQ(1, img.Crop(far, 2, 40, 2 + t.w - 1, 40 + t.h - 1));
      for (CImgBuff* tpl : {&near, &far}) {
        const Search searches[] = {
            {27, 20, 20, 12, 38, 30, 1, 0, 0, 0.5},    // a window inside the picture
            {27, 20, -9, -9, 90, 90, 1, 0, 0, 0.5},    // the whole picture, clamped
            {27, 20, 20, 12, 38, 30, 1, 0, 1, 0.5},    // with the pyramid
            {27, 20, 20, 12, 38, 30, 1, 1, 0, 0.5},    // L*a*b* for colour templates
            {27, 20, 20, 12, 38, 30, 0, 0, 0, 0.5},    // without normalisation
            {27, 20, 20, 12, 38, 30, 1, 0, 0, 0.1},    // a refinement step that is not in 256ths
        };
        for (const Search& s : searches)
          ExpectSameAnswers(img, *tpl, s,
                            "format " + std::to_string(format) + " template " + std::to_string(t.w) + "x" +
                                std::to_string(t.h) + (tpl == &near ? " near" : " far") + " window " +
                                std::to_string(s.x0) + "," + std::to_string(s.y0) + " norm " + std::to_string(s.norm) +
                                " colour " + std::to_string(s.colourMode) + " pyramid " + std::to_string(s.pyramid) +
                                " step " + std::to_string(s.step));
      }
    }
  }
}

// Random small cases: every format, templates from one pixel up (with and without bounds),
// windows reaching outside the picture, any centre, flags and refinement step.
TEST(MatchStretch, SameAnswersOnRandomCases) {
  std::mt19937 rng(2024);
  auto pick = [&](int32_t lo, int32_t hi) { return lo + int32_t(rng() % uint32_t(hi - lo + 1)); };
  for (int32_t n = 0; n < 150; ++n) {
    const int32_t format = pick(1, 9), w = pick(8, 48), h = pick(8, 40);
    CImgBuff img, tpl;
    Patchy(img, w, h, format, uint32_t(n + 1), n % 5 == 0 ? pick(5, 12) : 0);
    const int32_t tw = pick(1, w / 2 + 1), th = pick(1, h / 2 + 1);
    const int32_t tx = pick(0, w - tw), ty = pick(0, h - th);
    ASSERT_EQ(1, img.Crop(tpl, tx, ty, tx + tw - 1, ty + th - 1));
    if (n % 3) tpl.SetGray8(pick(0, tw - 1), pick(0, th - 1), uint8_t(rng()));
    const int32_t x0 = pick(-5, w - tw), y0 = pick(-5, h - th);
    const Search s{pick(-3, w), pick(-3, h), x0, y0, x0 + pick(0, w), y0 + pick(0, h), n % 4 ? 1 : 0, n % 7 == 0,
                   n % 6 == 0, n % 2 ? 0.5 : 0.125};
    ExpectSameAnswers(img, tpl, s, "case " + std::to_string(n) + " format " + std::to_string(format));
  }
}

// A picture that repeats every 9 pixels: many positions score exactly alike and the tie rule
// (distance to the centre, then scan order) picks the answer.
TEST(MatchStretch, EqualScoresGoByTheTieRule) {
  for (int32_t format : {ImgFormatGray8, ImgFormatRgb24, ImgFormatGray16}) {
    CImgBuff img, tpl;
    Patchy(img, 90, 80, format, 3, 9);
    ASSERT_EQ(1, img.Crop(tpl, 18, 18, 18 + 11, 18 + 11));
    for (const auto& c : {std::pair<int32_t, int32_t>{31, 29}, {40, 40}, {0, 0}, {36, 36}}) {
      const Search s{c.first, c.second, 0, 0, 70, 60, 1, 0, 0, 0.5};
      ExpectSameAnswers(img, tpl, s, "format " + std::to_string(format) + " centre " + std::to_string(c.first));
      SetMatchFastPaths(1);
      Answer a = Cell(img, tpl, s);
      EXPECT_EQ(0.0, a.score);  // the period makes exact copies
    }
  }
}

// Windows large enough for the worker pool, and more positions than one block of rows holds
// (with a single worker the whole window is one piece).
TEST(MatchStretch, LargeWindowsAnyWorkerCount) {
  StartWorkerPool();
  CImgBuff img, tpl;
  Patchy(img, 112, 720, ImgFormatGray8, 9);
  ASSERT_EQ(1, img.Crop(tpl, 50, 300, 55, 305));
  tpl.SetGray8(2, 2, 200);
  const uint64_t all = GetProcessorCount();
  for (uint64_t workers : {uint64_t(1), all}) {
    ASSERT_EQ(1, SetWorkerCount(workers));
    ExpectSameAnswers(img, tpl, Search{50, 300, 0, 0, 200, 800, 1, 0, 0, 0.5}, "workers " + std::to_string(workers));
  }
  CImgBuff rgb, rgbTpl;
  Patchy(rgb, 200, 140, ImgFormatRgb24, 12);
  ASSERT_EQ(1, rgb.Crop(rgbTpl, 70, 50, 70 + 23, 50 + 23));
  for (uint64_t workers : {uint64_t(1), all}) {
    ASSERT_EQ(1, SetWorkerCount(workers));
    ExpectSameAnswers(rgb, rgbTpl, Search{60, 60, 0, 0, 200, 200, 1, 0, 0, 0.5}, "rgb workers " + std::to_string(workers));
  }
  SetWorkerCount(all);
  StopWorkerPool();
}

int32_t CancelAlways(void*) { return 1; }
int32_t CancelAfter(void* user) { return --*static_cast<int32_t*>(user) < 0; }

// Cancelled before any position: no answer and the outputs untouched, as on the plain path.
// Cancelled part way: 0 with a position that was scored, and its true score.
TEST(MatchStretch, Cancel) {
  CImgBuff img, tpl;
  Patchy(img, 80, 60, ImgFormatGray8, 5);
  ASSERT_EQ(1, img.Crop(tpl, 30, 20, 45, 35));
  SetWorkerCount(1);
  for (int32_t fast : {1, 0}) {
    SetMatchFastPaths(fast);
    int32_t x = -99, y = -99;
    double score = -99;
    EXPECT_EQ(0, MatchTemplate(&img, &tpl, 30, 20, 0, 0, 64, 44, &x, &y, 1, 0, 0, &score, CancelAlways, nullptr));
    EXPECT_EQ(-99, x);
    EXPECT_EQ(-99, y);
    EXPECT_EQ(-1.0, score);
    int32_t after = 300;
    EXPECT_EQ(0, MatchTemplate(&img, &tpl, 30, 20, 0, 0, 64, 44, &x, &y, 1, 0, 0, &score, CancelAfter, &after));
    EXPECT_GE(score, 0.0) << "fast " << fast;
    EXPECT_EQ(RegionDissimilarity(&img, &tpl, x, y, 1, 0), score) << "fast " << fast;
  }
  SetMatchFastPaths(1);
  SetWorkerCount(GetProcessorCount());
}

// Refinements at the picture's edges, where grid points do not fit, and over rectangles that
// are not around whole pixels.
TEST(MatchStretch, RefinementAtEdgesAndOddRectangles) {
  for (int32_t format : {ImgFormatGray8, ImgFormatRgb24, ImgFormatRgb48, ImgFormatXyz}) {
    CImgBuff img, tpl;
    Patchy(img, 40, 30, format, uint32_t(format + 100));
    ASSERT_EQ(1, img.Crop(tpl, 10, 8, 10 + 9, 8 + 9));
    const double rects[][4] = {{-1, -1, 1, 1},    {29, 19, 31, 21}, {30, 20, 32, 22}, {9.3, 7.1, 11.3, 9.1},
                               {0, 0, 0.5, 0.5},  {5, 5, 5, 5},     {28.5, 3, 30.5, 5}};
    for (int32_t norm : {1, 0})
      for (int32_t cm : {0, 1})
        for (double step : {0.5, 0.1, 0.0})
          for (const auto& r : rects) {
            double fx[2], fy[2], sc[2];
            int32_t ok[2];
            for (int32_t fast : {0, 1}) {
              SetMatchFastPaths(fast);
              fx[fast] = fy[fast] = sc[fast] = -99;
              ok[fast] = MatchTemplateSubpixelRange(&img, &tpl, r[0], r[1], r[2], r[3], &fx[fast], &fy[fast], norm, cm,
                                                    step, &sc[fast], nullptr, nullptr);
            }
            SetMatchFastPaths(1);
            EXPECT_EQ(ok[0], ok[1]);
            EXPECT_EQ(fx[0], fx[1]) << "format " << format << " rect " << r[0] << "," << r[1] << " step " << step;
            EXPECT_EQ(fy[0], fy[1]) << "format " << format << " rect " << r[0] << "," << r[1] << " step " << step;
            EXPECT_EQ(sc[0], sc[1]) << "format " << format << " rect " << r[0] << "," << r[1] << " step " << step;
          }
  }
}

}  // namespace
