// particles_test.cpp - the particle store (sizing, lookups, removals, the ID count) and the
// linking of four particle lists: hand-made lists for the gates, the radii and the order of
// claims, and the bucketed window step against a literal scan of every particle in list
// order on random lists, ties and odd radii included.
#include "measure/particles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "measure/track_alloc.h"
#include "tests/measure/ptv_literal.h"

namespace {

using Records = ptvtest::Records;
using ptvtest::Literal;

ParticleRecord Pt(double x, double y, int32_t id = -1) { return {id, 1, x, y}; }

std::vector<int32_t> IdsOf(const CParticleData& d, int32_t scene)
{
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < d.scenes[scene].count; ++i) ids.push_back(d.scenes[scene].records[i].id);
  return ids;
}

// ---- store ----------------------------------------------------------------------------

TEST(ParticleData, SizingKeepsWhatFitsAndRefusesBadArguments)
{
  CParticleData d;
  EXPECT_EQ(0, d.IdCount());
  EXPECT_EQ(0, d.SetFrameCount(0));
  EXPECT_EQ(-1, d.AddParticle(0, Pt(1, 1, 0)));  // no scenes yet
  ASSERT_EQ(1, d.SetFrameCount(3));
  EXPECT_EQ(-1, d.scenes[2].highestId);
  EXPECT_EQ(0, d.AddParticle(1, Pt(1, 2, 4)));
  EXPECT_EQ(1, d.AddParticle(1, Pt(3, 4, 2)));
  EXPECT_EQ(-1, d.AddParticle(3, Pt(1, 1, 7)));  // beyond the scenes: nothing changes
  EXPECT_EQ(-1, d.AddParticle(-1, Pt(1, 1, 7)));
  EXPECT_EQ(5, d.IdCount());
  EXPECT_EQ(0, d.SetParticleCount(3, 1));
  EXPECT_EQ(0, d.SetParticleCount(0, -1));
  ASSERT_EQ(1, d.SetParticleCount(1, 3));
  EXPECT_EQ((std::vector<int32_t>{4, 2, -1}), IdsOf(d, 1));
  EXPECT_EQ(0u, d.scenes[1].records[2].valid);
  EXPECT_EQ(4, d.scenes[1].highestId);  // sizing leaves the highest id alone
  ASSERT_EQ(1, d.SetParticleCount(1, 1));
  EXPECT_EQ((std::vector<int32_t>{4}), IdsOf(d, 1));
  ASSERT_EQ(1, d.SetFrameCount(1));
  EXPECT_EQ(1, d.sceneCount);
  ASSERT_EQ(1, d.SetFrameCount(2));
  EXPECT_EQ(0, d.scenes[1].count);
  EXPECT_EQ(nullptr, d.scenes[1].records);
  EXPECT_EQ(5, d.IdCount());  // the cache survives resizing
  // Out of memory: nothing changes.
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(0, d.SetFrameCount(10));
  EXPECT_EQ(2, d.sceneCount);
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(-1, d.AddParticle(0, Pt(9, 9, 6)));  // the append failed, the id is still noted
  EXPECT_EQ(0, d.scenes[0].count);
  EXPECT_EQ(7, d.IdCount());
  FailTrackAllocationForTesting(0);
  d.Clear();
  EXPECT_EQ(0, d.sceneCount);
  EXPECT_EQ(0, d.IdCount());
}

TEST(ParticleData, LookupsAndRemovalsKeepOrderAndTheIdCount)
{
  CParticleData d;
  ASSERT_EQ(1, d.SetFrameCount(2));
  for (int32_t id = 0; id < 5; ++id) {
    d.AddParticle(0, Pt(id, 10 * id, id));
    d.AddParticle(1, Pt(id + 0.5, 10 * id, id));
  }
  d.AddParticle(0, Pt(99, 99, 1));  // a second record of id 1: lookups take the first
  ParticleRecord r;
  ASSERT_EQ(1, d.GetParticle(0, 1, &r));
  EXPECT_EQ(1.0, r.x);
  EXPECT_EQ(0, d.GetParticle(0, 5, &r));
  EXPECT_EQ(0, d.GetParticle(0, -1, &r));
  EXPECT_EQ(0, d.GetParticle(2, 0, &r));

  ASSERT_EQ(1, d.RemoveId(2));
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 1}), IdsOf(d, 0));
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), IdsOf(d, 1));
  ASSERT_EQ(1, d.GetParticle(1, 2, &r));
  EXPECT_EQ(3.5, r.x);  // the former 3
  EXPECT_EQ(4, d.IdCount());
  EXPECT_EQ(0, d.RemoveId(-1));

  // Removing a scene's highest id recounts it, and the ID count follows when it was the
  // last id.  Had RemoveId left the highest ids at 4, this would count 5 ids.
  ASSERT_EQ(1, d.RemoveParticle(0, 3));
  EXPECT_EQ(4, d.IdCount());  // scene 1 still holds id 3
  ASSERT_EQ(1, d.RemoveParticle(1, 3));
  EXPECT_EQ(3, d.IdCount());
  EXPECT_EQ(0, d.RemoveParticle(1, 3));
  EXPECT_EQ(0, d.RemoveParticle(5, 0));
  EXPECT_EQ(0, d.RemoveParticle(0, -2));
  ASSERT_EQ(1, d.RemoveParticle(0, 1));  // the first of the two records goes
  EXPECT_EQ((std::vector<int32_t>{0, 2, 1}), IdsOf(d, 0));
  EXPECT_EQ(99.0, d.scenes[0].records[2].x);

  CParticleData one;
  ASSERT_EQ(1, one.SetFrameCount(1));
  one.AddParticle(0, Pt(1, 1, 0));
  EXPECT_EQ(1, one.IdCount());
  ASSERT_EQ(1, one.RemoveId(0));
  EXPECT_EQ(0, one.IdCount());
  EXPECT_EQ(nullptr, one.scenes[0].records);
  one.idCount = 0;  // a recount after the removal finds nothing either
  EXPECT_EQ(0, one.IdCount());
}

TEST(ParticleData, GrowingSceneBySceneCountsOneAboveTheHighestId)
{
  CParticleData d;
  const int32_t ids[] = {3, 0, 7, 2, 7};
  for (int32_t s = 0; s < 5; ++s) {
    ASSERT_EQ(1, d.SetFrameCount(s + 1));
    d.AddParticle(s, Pt(s, s, ids[s]));
    EXPECT_EQ(1 + *std::max_element(ids, ids + s + 1), d.IdCount());
  }
  CParticleData other;
  other.TakeFrom(d);
  EXPECT_EQ(5, other.sceneCount);
  EXPECT_EQ(0, d.sceneCount);
  EXPECT_EQ(8, other.IdCount());
}

// The window under test, filled from plain lists.
struct Window {
  PtvWindow w;
  explicit Window(int32_t capacity = 4096) { EXPECT_EQ(1, PtvWindowCreate(&w, capacity)); }
  ~Window() { PtvWindowFree(&w); }
  void Set(int k, const Records& r)
  {
    ASSERT_LE(r.size(), size_t(w.lists[k].capacity));
    std::copy(r.begin(), r.end(), w.lists[k].records);
    w.lists[k].count = int32_t(r.size());
  }
  Records Get(int k) const { return Records(w.lists[k].records, w.lists[k].records + std::max(w.lists[k].count, 0)); }
  void Push(const Records& newest)
  {
    PtvWindowRotate(&w);
    Set(3, newest);
  }
};

std::vector<int32_t> Ids(const Records& r)
{
  std::vector<int32_t> ids;
  for (auto& p : r) ids.push_back(p.id);
  return ids;
}

TEST(PtvLinking, FourSteadyPointsMakeOneTrackInEverySetting)
{
  for (int P = 0; P < 2; ++P) {
    for (int A = 0; A < 2; ++A) {
      SCOPED_TRACE(testing::Message() << "P " << P << " A " << A);
      Window win;
      win.Set(0, {Pt(10, 10)});
      win.Set(1, {Pt(12, 10)});
      win.Set(2, {Pt(14, 10)});
      win.Set(3, {Pt(16, 10)});
      int32_t next = 0;
      PtvWindowStep(&win.w, &next, 5, 5, P, A);
      EXPECT_EQ(1, next);
      for (int k = 0; k < 4; ++k) EXPECT_EQ((std::vector<int32_t>{0}), Ids(win.Get(k)));
    }
  }
}

TEST(PtvLinking, AParticleStandingStillStartsNoTrack)
{
  Window win;
  win.Set(0, {Pt(10, 10)});
  win.Set(1, {Pt(10, 10)});
  win.Set(2, {Pt(10, 10)});
  win.Set(3, {Pt(10, 10)});
  int32_t next = 0;
  PtvWindowStep(&win.w, &next, 1e6, 1e6, 1, 1);
  EXPECT_EQ(0, next);
  EXPECT_EQ(0, win.w.lists[0].count);  // dropped, never stored
}

// R = 5 entered: the first displacement may be at most 5 pixels at any scale, while the
// gates use G = R / scale (scale = length per pixel).
TEST(PtvLinking, FirstStepUsesRAsEnteredAndGatesUseRInPixels)
{
  struct Case {
    double scale, first, gate;  // first displacement, distance of q2 and q3 from the last
    bool linked;
  } cases[] = {
      {0.5, 5.0, 9.9, true},   // G 10
      {0.5, 5.01, 1.0, false},
      {0.5, 5.0, 10.1, false},
      {2.0, 5.0, 2.4, true},   // G 2.5
      {2.0, 5.0, 2.6, false},
      {1.0, 0.0, 1.0, false},  // did not move
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << " first " << c.first << " gate " << c.gate);
    const double R = 5, G = R / c.scale;
    Window win;
    // Prediction off, fixed gate: q2 and q3 are looked for around the previous point.
    win.Set(0, {Pt(100, 100)});
    win.Set(1, {Pt(100 + c.first, 100)});
    win.Set(2, {Pt(100 + c.first, 100 + c.gate)});
    win.Set(3, {Pt(100 + c.first, 100 + 2 * c.gate)});
    int32_t next = 0;
    PtvWindowStep(&win.w, &next, R, G, 0, 0);
    EXPECT_EQ(c.linked ? 1 : 0, next);
  }
}

TEST(PtvLinking, TheFirstTrackInListZeroClaimsASharedPrediction)
{
  // Tracks 7 and 3 both predict (50, 50); track 7 comes first in list 0.  Track 3 takes
  // its next nearest particle inside its gate.
  Window win;
  win.Set(0, {Pt(44, 50, 7), Pt(50, 44, 3)});
  win.Set(1, {Pt(50, 46, 3), Pt(46, 50, 7)});
  win.Set(2, {Pt(48, 50, 7), Pt(50, 48, 3)});
  win.Set(3, {Pt(53, 50), Pt(50, 50), Pt(50, 52.5)});
  int32_t next = 8;
  PtvWindowStep(&win.w, &next, 5, 5, 1, 0);
  EXPECT_EQ((std::vector<int32_t>{-1, 7, 3}), Ids(win.Get(3)));
  EXPECT_EQ(8, next);
  // Without a second candidate in its gate the later track ends.
  win.Set(0, {Pt(44, 50, 7), Pt(50, 44, 3)});
  win.Set(1, {Pt(50, 46, 3), Pt(46, 50, 7)});
  win.Set(2, {Pt(48, 50, 7), Pt(50, 48, 3)});
  win.Set(3, {Pt(50, 50)});
  PtvWindowStep(&win.w, &next, 5, 5, 1, 0);
  EXPECT_EQ((std::vector<int32_t>{7}), Ids(win.Get(3)));
}

TEST(PtvLinking, TheAdaptiveGateIsNeverBelowTenPixels)
{
  for (double off : {9.9, 10.1}) {
    Window win;
    win.Set(0, {Pt(100, 100, 0)});
    win.Set(1, {Pt(100.5, 100, 0)});
    win.Set(2, {Pt(101, 100, 0)});  // |d| 0.5: 1 doubled, raised to 10
    win.Set(3, {Pt(101.5, 100 + off)});
    int32_t next = 1;
    PtvWindowStep(&win.w, &next, 8, 8, 1, 1);
    EXPECT_EQ(off < 10 ? 0 : -1, win.Get(3)[0].id) << off;
  }
}

TEST(PtvLinking, GateDistanceAndDropUnlinked)
{
  ParticleRecord a = Pt(0, 0), b = Pt(3, 4), c = Pt(6, 8), d = Pt(9, 12.5);
  const ParticleRecord* chain[4] = {&a, &b, &c, &d};
  EXPECT_EQ(0.0, PtvGateDistance(chain, 1, 2, 1, 0));      // c exactly at b + (b - a)
  EXPECT_EQ(25.0, PtvGateDistance(chain, 5, 2, 0, 0));     // around b, radius 5
  EXPECT_EQ(-1.0, PtvGateDistance(chain, 4.99, 2, 0, 0));
  EXPECT_EQ(0.25, PtvGateDistance(chain, 0.1, 3, 1, 1));   // adaptive: at least 10
  EXPECT_EQ(-1.0, PtvGateDistance(chain, 0.1, 3, 1, 0));
  ParticleRecord recs[] = {Pt(1, 1, -1), Pt(2, 2, 4), Pt(3, 3, -1), Pt(4, 4, 0)};
  PtvList list = {recs, 4, 4};
  EXPECT_EQ(1, PtvDropUnlinked(&list));
  ASSERT_EQ(2, list.count);
  EXPECT_EQ(4, recs[0].id);
  EXPECT_EQ(0, recs[1].id);
  list.count = -1;  // a failed detection
  PtvDropUnlinked(&list);
  EXPECT_EQ(0, list.count);
}

// Particles moving smoothly with noise, births and deaths; optionally on whole pixels so
// that many distances and costs tie.
struct Scene {
  std::vector<Records> frames;
};

Scene MakeScenes(std::mt19937& rng, int32_t n, int32_t scenes, double size, double speed, bool whole)
{
  std::uniform_real_distribution<double> u(0, 1);
  struct Body {
    double x, y, vx, vy;
  };
  std::vector<Body> bodies(static_cast<size_t>(n));
  auto born = [&](Body& b) {
    b.x = u(rng) * size;
    b.y = u(rng) * size;
    b.vx = (u(rng) * 2 - 1) * speed;
    b.vy = (u(rng) * 2 - 1) * speed;
  };
  for (auto& b : bodies) born(b);
  Scene s;
  for (int32_t t = 0; t < scenes; ++t) {
    Records list;
    for (auto& b : bodies) {
      if (u(rng) < 0.03) born(b);
      b.vx += (u(rng) - 0.5) * 0.4;
      b.vy += (u(rng) - 0.5) * 0.4;
      b.x += b.vx;
      b.y += b.vy;
      double x = b.x + (u(rng) - 0.5) * 0.3, y = b.y + (u(rng) - 0.5) * 0.3;
      if (whole) {
        x = std::round(x);
        y = std::round(y);
      }
      list.push_back(Pt(x, y));
    }
    std::shuffle(list.begin(), list.end(), rng);
    s.frames.push_back(list);
  }
  return s;
}

// Runs both over the scenes; every list must carry the same ids after every step.
void CompareRuns(const Scene& s, double R, double G, int P, int A)
{
  Literal lit;
  int32_t capacity = 1;
  for (auto& f : s.frames) capacity = std::max<int32_t>(capacity, int32_t(f.size()));
  Window win(capacity);
  int32_t nextLit = 0, nextWin = 0;
  for (size_t t = 0; t < s.frames.size(); ++t) {
    lit.Rotate(s.frames[t]);
    win.Push(s.frames[t]);
    if (t < 3) continue;
    lit.Step(&nextLit, R, G, P, A);
    PtvWindowStep(&win.w, &nextWin, R, G, P, A);
    ASSERT_EQ(nextLit, nextWin) << "step " << t;
    for (int k = 0; k < 4; ++k) ASSERT_EQ(Ids(lit.L[k]), Ids(win.Get(k))) << "step " << t << " list " << k;
  }
}

TEST(PtvLinking, BucketedStepHandsOutTheIdsOfTheLiteralScan)
{
  std::mt19937 rng(12345);
  const Scene dense = MakeScenes(rng, 2000, 7, 600, 3, false);
  const Scene tied = MakeScenes(rng, 2000, 7, 300, 3, true);
  int64_t tracks = 0;
  for (const Scene* s : {&dense, &tied}) {
    for (int P = 0; P < 2; ++P) {
      for (int A = 0; A < 2; ++A) {
        SCOPED_TRACE(testing::Message() << (s == &tied ? "whole pixels" : "dense") << " P " << P << " A " << A);
        CompareRuns(*s, 5, 5, P, A);
        CompareRuns(*s, 5, 8, P, A);  // scale 0.625: gates wider than the first step
        Literal lit;
        for (int t = 0; t < 4; ++t) lit.Rotate(s->frames[size_t(t)]);
        int32_t next = 0;
        lit.Step(&next, 5, 5, P, A);
        tracks += next;
      }
    }
  }
  EXPECT_GT(tracks, 1000);  // the cases really link
}

TEST(PtvLinking, OddRadiiAndPositionsMatchTheLiteralScan)
{
  std::mt19937 rng(777);
  Scene s = MakeScenes(rng, 60, 6, 80, 3, true);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  s.frames[2][0].x = nan;
  s.frames[3][1].y = inf;
  s.frames[4][2].x = -1e300;  // stretches the grid far beyond the cell capacity
  s.frames[5][3].x = 1e300;
  struct Radii {
    double R, G;
  } radii[] = {{5, 5}, {1e-3, 1e-3}, {5, inf}, {inf, 5}, {5, -5}, {5, nan}, {1e300, 1e300}, {30, 0.5}};
  for (const Radii& r : radii) {
    for (int P = 0; P < 2; ++P) {
      for (int A = 0; A < 2; ++A) {
        SCOPED_TRACE(testing::Message() << "R " << r.R << " G " << r.G << " P " << P << " A " << A);
        CompareRuns(s, r.R, r.G, P, A);
      }
    }
  }
}

}  // namespace
