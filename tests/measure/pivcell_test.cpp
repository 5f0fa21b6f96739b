// pivcell_test.cpp - the PIV cell matcher's fast paths against the plain ones it replaced
// (MatchFastPaths off): on particle pictures moved uniformly, turned about their centre and
// sheared, every cell's whole-pixel position and score and its refined position and score are
// the same bit for bit, with the kernels in every form, for each cell size, pattern size,
// search range and search method the tool offers; and the pair's vectors are the same.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "engine/match.h"
#include "engine/matchsad.h"
#include "measure/piv.h"
#include "tests/measure/piv_fixture.h"

namespace {

constexpr int32_t kSide = 192;

struct Motion {
  const char* name;
  double sx, sy, shear, turn;  // turn in radians about the centre
};

const Motion kMotions[] = {
    {"uniform", 3.25, -1.5, 0, 0},
    {"turning", 0, 0, 0, 0.07},
    {"sheared", 0.5, 0.75, 0.06, 0},
};

void RenderPair(const Motion& m, CImgBuff* previous, CImgBuff* current)
{
  std::mt19937 rng(21);
  const auto particles = PivRandomParticles(kSide, kSide, 0.03, &rng);
  PivRenderParticles(previous, kSide, kSide, particles, 0, 0, 0);
  std::vector<PivParticle> moved = particles;
  const double c = kSide / 2.0, cs = std::cos(m.turn), sn = std::sin(m.turn);
  for (PivParticle& p : moved) {
    const double x = p.x - c, y = p.y - c;
    p = PivParticle{c + cs * x - sn * y, c + sn * x + cs * y};
  }
  PivRenderParticles(current, kSide, kSide, moved, m.sx, m.sy, m.shear);
}

struct CellAnswer {
  int32_t found = 0, x = 0, y = 0;
  double score = -99;
  int32_t refined = 0;
  double fx = -99, fy = -99, refinedScore = -99;
  bool operator==(const CellAnswer& o) const
  {
    return found == o.found && x == o.x && y == o.y && score == o.score && refined == o.refined && fx == o.fx &&
           fy == o.fy && refinedScore == o.refinedScore;
  }
};

std::ostream& operator<<(std::ostream& os, const CellAnswer& a)
{
  os.precision(17);
  return os << "{" << a.found << " (" << a.x << ", " << a.y << ") " << a.score << " | " << a.refined << " (" << a.fx
            << ", " << a.fy << ") " << a.refinedScore << "}";
}

struct GridSetup {
  int32_t cell, large, factor, pyramid;
};

// Every cell of the grid the tool lays over the pair, matched as its cells are: the pattern
// cut from the current picture, searched in the previous one around its own place, refined
// over +/-1 pixel in half-pixel steps.
std::vector<CellAnswer> MatchGrid(CImgBuff& previous, CImgBuff& current, const GridSetup& s)
{
  const int32_t n = kSide / s.cell - 2, origin = (kSide - s.cell * n) / 2, grow = s.large ? s.cell / 2 : 0;
  const int32_t range = s.factor == 2 ? 2 * s.cell : s.factor == -2 ? s.cell / 2 : s.cell;
  std::vector<CellAnswer> out;
  for (int32_t cy = 0; cy < n; ++cy)
    for (int32_t cx = 0; cx < n; ++cx) {
      const int32_t x0 = origin + s.cell * cx - grow, y0 = origin + s.cell * cy - grow;
      CImgBuff pattern;
      EXPECT_EQ(1, current.Crop(pattern, x0, y0, x0 + s.cell + 2 * grow - 1, y0 + s.cell + 2 * grow - 1));
      CellAnswer a;
      a.found = MatchTemplate(&previous, &pattern, x0, y0, x0 - range, y0 - range, x0 + range, y0 + range, &a.x, &a.y,
                              1, 0, s.pyramid, &a.score, nullptr, nullptr);
      if (a.found)
        a.refined = MatchTemplateSubpixelRange(&previous, &pattern, a.x - 1, a.y - 1, a.x + 1, a.y + 1, &a.fx, &a.fy, 1,
                                               0, 0.5, &a.refinedScore, nullptr, nullptr);
      out.push_back(a);
    }
  return out;
}

TEST(PivCellMatcher, FastPathsGiveTheSamePositionsAndScores)
{
  const GridSetup setups[] = {
      {32, 0, -2, 0}, {32, 1, 1, 0}, {32, 1, 1, 1}, {16, 1, 2, 0}, {16, 0, 1, 1}, {8, 1, 1, 0},
  };
  for (const Motion& m : kMotions) {
    CImgBuff previous, current;
    RenderPair(m, &previous, &current);
    for (const GridSetup& s : setups) {
      const std::string what = std::string(m.name) + " cell " + std::to_string(s.cell) + " large " +
                               std::to_string(s.large) + " factor " + std::to_string(s.factor) + " pyramid " +
                               std::to_string(s.pyramid);
      SetMatchFastPaths(0);
      const std::vector<CellAnswer> plain = MatchGrid(previous, current, s);
      SetMatchFastPaths(1);
      for (int32_t form : {MatchAvx2, MatchSse2, MatchPlain}) {
        SetMatchKernelForm(form);
        const std::vector<CellAnswer> fast = MatchGrid(previous, current, s);
        ASSERT_EQ(plain.size(), fast.size());
        for (size_t k = 0; k < plain.size(); ++k)
          EXPECT_EQ(plain[k], fast[k]) << what << " form " << form << " cell " << k;
      }
      SetMatchKernelForm(MatchAvx2);
    }
  }
}

// The pair as the tool computes it, cells spread over the workers: the same vectors.
TEST(PivCellMatcher, PairVectorsAreTheSame)
{
  StartWorkerPool();
  for (const Motion& m : kMotions) {
    CImgBuff previous, current;
    RenderPair(m, &previous, &current);
    for (int32_t method : {0, 1}) {
      std::vector<double> vectors[2];
      for (int32_t fast : {0, 1}) {
        SetMatchFastPaths(fast);
        CFlowData field;
        ASSERT_EQ(1, field.CreateForImage(kSide - 1, kSide - 1, 32, 2));
        PivJob job;
        job.previous = &previous;
        job.current = &current;
        job.scene = 1;
        job.method = method;
        job.large = 1;
        job.factor = 1;
        job.field = &field;
        CLfPiv::WorkerBody(&job);
        ASSERT_EQ(1, job.result.load());
        for (int32_t y = 0; y < field.Ny(); ++y)
          for (int32_t x = 0; x < field.Nx(); ++x) {
            const FlowVector* v = field.GetVector(x, y, 1);
            vectors[fast].push_back(v->dx);
            vectors[fast].push_back(v->dy);
          }
      }
      SetMatchFastPaths(1);
      EXPECT_EQ(vectors[0], vectors[1]) << m.name << " method " << method;
    }
  }
  StopWorkerPool();
}

}  // namespace
