// ptvedit_test.cpp - the particle tracker's track edits, the id index against the store's
// own lookup, the vector grid built from tracks and the TRACK DATA / VECTOR DATA texts.
#include "measure/ptvedit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

ParticleRecord Pt(double x, double y, int32_t id, uint32_t valid = 1) { return {id, valid, x, y}; }

// Tracks 0..2 over 5 scenes: track 0 in scenes 0-4, track 1 in 1-3, track 2 in 0-2.
void ThreeTracks(CParticleData* d)
{
  ASSERT_EQ(1, d->SetFrameCount(5));
  for (int32_t s = 0; s < 5; ++s) d->AddParticle(s, Pt(10 + s, 20, 0));
  for (int32_t s = 1; s <= 3; ++s) d->AddParticle(s, Pt(50, 60 + s, 1));
  for (int32_t s = 0; s <= 2; ++s) d->AddParticle(s, Pt(90 + 2 * s, 5, 2));
}

std::vector<int32_t> ScenesOf(const CParticleData& d, int32_t id)
{
  std::vector<int32_t> scenes;
  ParticleRecord r;
  for (int32_t s = 0; s < d.sceneCount; ++s)
    if (d.GetParticle(s, id, &r)) scenes.push_back(s);
  return scenes;
}

TEST(PtvEdit, EraseRefusesBadInputAndRemovesTheRange)
{
  CParticleData d;
  ThreeTracks(&d);
  const int32_t bad[][3] = {{0, 1, 2}, {4, 1, 2}, {1, 3, 2}, {1, 0, 2}, {1, 2, 6}};
  for (const auto& b : bad) {
    EXPECT_EQ(kPtvEditBadInput, PtvEraseData(&d, b[0], b[1], b[2])) << b[0] << " " << b[1] << " " << b[2];
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4}), ScenesOf(d, 0));
  }
  EXPECT_EQ(kPtvEditDone, PtvEraseData(&d, 1, 2, 4));
  EXPECT_EQ((std::vector<int32_t>{0, 4}), ScenesOf(d, 0));
  EXPECT_EQ(3, d.IdCount());  // the count and list stay
}

TEST(PtvEdit, SplitMovesFromTheSceneOn)
{
  CParticleData d;
  ThreeTracks(&d);
  EXPECT_EQ(kPtvEditBadInput, PtvSplitId(&d, 4, 1));
  EXPECT_EQ(kPtvEditBadInput, PtvSplitId(&d, 1, 6));
  EXPECT_EQ(kPtvEditDone, PtvSplitId(&d, 1, 1));  // scene 1: the whole track moves
  EXPECT_TRUE(ScenesOf(d, 0).empty());
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4}), ScenesOf(d, 3));
  EXPECT_EQ(4, d.IdCount());
  EXPECT_EQ(kPtvEditDone, PtvSplitId(&d, 3, 5));  // after track 2's last scene: nothing moves
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2}), ScenesOf(d, 2));
  EXPECT_EQ(kPtvEditDone, PtvSplitId(&d, 2, 3));
  EXPECT_EQ((std::vector<int32_t>{1}), ScenesOf(d, 1));
  EXPECT_EQ((std::vector<int32_t>{2, 3}), ScenesOf(d, 4));
  ParticleRecord r;
  ASSERT_TRUE(d.GetParticle(3, 4, &r));
  EXPECT_EQ(63.0, r.y);
}

TEST(PtvEdit, ConcatFillsTheFirstAndRenumbers)
{
  CParticleData d;
  ThreeTracks(&d);
  EXPECT_EQ(kPtvEditBadInput, PtvConcatIds(&d, 1, 1));
  EXPECT_EQ(kPtvEditBadInput, PtvConcatIds(&d, 0, 1));
  EXPECT_EQ(kPtvEditBadInput, PtvConcatIds(&d, 3, 4));
  // An invalid record of the first id gives way to the second's particle.
  d.scenes[3].records[0].valid = 0;  // track 0 in scene 3 (invalid: ignored by the join)
  EXPECT_EQ(kPtvEditDone, PtvConcatIds(&d, 3, 1));  // track 1 (id 0) into track 3 (id 2)
  EXPECT_EQ(2, d.IdCount());
  // Track 3 is shown as 2 now (id 1): its own scenes 0-2, then track 1's 4 (scene 3's record was invalid).
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 4}), ScenesOf(d, 1));
  ParticleRecord r;
  ASSERT_TRUE(d.GetParticle(2, 1, &r));
  EXPECT_EQ(94.0, r.x);  // its own particle kept
  ASSERT_TRUE(d.GetParticle(4, 1, &r));
  EXPECT_EQ(14.0, r.x);
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), ScenesOf(d, 0));  // old track 2 moved down
}

TEST(PtvIdIndex, FindsWhatTheStoreFinds)
{
  CParticleData d;
  ASSERT_EQ(1, d.SetFrameCount(6));
  std::mt19937 rng(7);
  for (int32_t s = 0; s < 6; ++s)
    for (int32_t i = 0; i < 300; ++i) d.AddParticle(s, Pt(i, s, int32_t(rng() % 120) - 1));
  PtvIdIndex index;
  ASSERT_EQ(1, index.Build(d));
  for (int32_t s = -1; s <= 6; ++s) {
    for (int32_t id = -2; id < 125; ++id) {
      ParticleRecord r = {};
      const int32_t found = d.GetParticle(s, id, &r);
      const ParticleRecord* p = index.Find(d, s, id);
      ASSERT_EQ(found != 0, p != nullptr) << s << " " << id;
      if (p) {
        EXPECT_EQ(r.x, p->x);  // first record of the id wins
      }
    }
  }
}

TEST(PtvTables, TrackTableTexts)
{
  CParticleData d;
  ASSERT_EQ(1, d.SetFrameCount(50));
  for (int32_t id = 0; id < 3; ++id) d.AddParticle(1, Pt(10, 20, id));
  PtvIdIndex index;
  ASSERT_EQ(1, index.Build(d));
  uint64_t columns = 0, rows = 0;
  PtvTrackTableSize(d, &columns, &rows);
  EXPECT_EQ(7u, columns);
  EXPECT_EQ(52u, rows);
  PtvTableContext c;
  c.data = &d;
  c.index = &index;
  c.scale = 0.5;
  c.unit = L"mm";
  c.axisY = -1;
  c.sourceHeight = 480;
  int32_t align = -1;
  auto at = [&](uint64_t col, uint64_t row) { return std::wstring(PtvTrackCellText(c, col, row, &align)); };
  EXPECT_EQ(L"mm", at(0, 0));
  EXPECT_EQ(L"3", at(5, 0));
  EXPECT_EQ(L"", at(6, 0));
  EXPECT_EQ(L"X", at(1, 1));
  EXPECT_EQ(L"Y", at(2, 1));
  EXPECT_EQ(L"50", at(0, 51));
  EXPECT_EQ(1, align);
  EXPECT_EQ(L"5.0", at(3, 3));
  EXPECT_EQ(0, align);
  EXPECT_EQ(L"229.5", at(4, 3));
  EXPECT_EQ(L"", at(3, 2));   // no particle in scene 0
  EXPECT_EQ(L"", at(7, 3));   // outside the table
  c.unit = L"";
  EXPECT_EQ(L"pixel", at(0, 0));
  CParticleData empty;
  c.data = &empty;
  EXPECT_EQ(L"", at(0, 0));
}

TEST(PtvTables, VectorTableTexts)
{
  CFlowData grid;
  ASSERT_EQ(1, grid.Create(0, 0, 32, 2, 1, 3));
  *grid.GetVector(0, 0, 1) = {2 * 1.0, -1.0};
  *grid.GetVector(1, 0, 1) = {10.0, 0.0};
  uint64_t columns = 0, rows = 0;
  PtvVectorTableSize(grid, &columns, &rows);
  EXPECT_EQ(5u, columns);
  EXPECT_EQ(5u, rows);
  PtvTableContext c;
  c.grid = &grid;
  c.scale = 0.1;
  c.unit = L"mm";
  c.frameMicroseconds = 40000;
  int32_t align = -1;
  auto at = [&](uint64_t col, uint64_t row) { return std::wstring(PtvVectorCellText(c, col, row, &align)); };
  EXPECT_EQ(L"mm/s", at(0, 0));
  EXPECT_EQ(L"2,1", at(3, 0));
  EXPECT_EQ(L"rad", at(0, 1));
  EXPECT_EQ(L"speed", at(1, 1));
  EXPECT_EQ(L"direction", at(2, 1));
  EXPECT_EQ(L"5.6", at(1, 3));
  EXPECT_EQ(L"-0.46", at(2, 3));
  c.axisY = -1;
  EXPECT_EQ(L"0.46", at(2, 3));
  c.axisY = 1;
  c.scale = 1.0;
  c.frameMicroseconds = 33367;
  EXPECT_EQ(L"299.7", at(3, 3));
  EXPECT_EQ(L"0.0", at(1, 2));   // frame 0
  EXPECT_EQ(L"0.00", at(2, 2));
  c.frameMicroseconds = 0;
  EXPECT_EQ(L"---", at(1, 3));
  c.japanese = 1;
  EXPECT_EQ(L"速度", at(1, 1));
  c.unit = L"";
  EXPECT_EQ(L"pixel/s", at(0, 0));
}

TEST(PtvGrid, MeanDisplacementPerCellAndBorders)
{
  // Particles of a rigid shift (3, -2) plus detection noise of at most 0.3 px.
  CParticleData d;
  const int32_t scenes = 4;
  ASSERT_EQ(1, d.SetFrameCount(scenes));
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> noise(-0.3, 0.3), place(40, 200);
  std::vector<std::pair<double, double>> start;
  for (int32_t i = 0; i < 300; ++i) start.push_back({place(rng), place(rng)});
  for (int32_t s = 0; s < scenes; ++s)
    for (int32_t i = 0; i < 300; ++i)
      d.AddParticle(s, Pt(start[size_t(i)].first + 3 * s + noise(rng), start[size_t(i)].second - 2 * s + noise(rng), i));
  CFlowData grid;
  ASSERT_EQ(1, grid.CreateForImage(255, 255, 32, scenes));
  PtvIdIndex index;
  ASSERT_EQ(1, index.Build(d));
  int32_t failed = 0;
  PtvBuildVectorGridScenes(d, index, &grid, 0, 2, &failed);
  PtvBuildVectorGridScenes(d, index, &grid, 2, 2, &failed);
  EXPECT_EQ(0, failed);
  double sq = 0;
  int32_t n = 0;
  for (int32_t s = 1; s < scenes; ++s) {
    ASSERT_TRUE(grid.FlagsReady(s));
    for (int32_t y = 0; y < grid.Ny(); ++y)
      for (int32_t x = 0; x < grid.Nx(); ++x) {
        const FlowVector* v = grid.GetVector(x, y, s);
        EXPECT_EQ(0, grid.GetFlags(x, y, s));
        if (v->dx == 0 && v->dy == 0) continue;
        EXPECT_NEAR(3.0, v->dx, 0.6);
        EXPECT_NEAR(-2.0, v->dy, 0.6);
        sq += (v->dx - 3) * (v->dx - 3) + (v->dy + 2) * (v->dy + 2);
        ++n;
      }
  }
  ASSERT_GT(n, 10);
  EXPECT_LE(std::sqrt(sq / n), 0.25);
  EXPECT_EQ(0.0, grid.GetVector(0, 0, 0)->dx);  // scene 0 stays zero

  // Exactly on the right border: not counted; just inside the last cell: counted.
  CParticleData e;
  ASSERT_EQ(1, e.SetFrameCount(2));
  CFlowData g2;
  ASSERT_EQ(1, g2.Create(32, 32, 32, 2, 2, 2));
  e.AddParticle(0, Pt(90, 40, 0));
  e.AddParticle(1, Pt(96, 40, 0));      // cx = 96 = x0 + nx * step
  e.AddParticle(0, Pt(90, 40, 1));
  e.AddParticle(1, Pt(95.9, 41, 1));    // inside cell (1, 0)
  e.AddParticle(0, Pt(50, 50, 2));
  e.AddParticle(1, Pt(50, 50, 2));      // did not move: not counted
  ASSERT_EQ(1, index.Build(e));
  PtvBuildVectorGridScenes(e, index, &g2, 0, 2, &failed);
  EXPECT_NEAR(5.9, g2.GetVector(1, 0, 1)->dx, 1e-12);
  EXPECT_EQ(1.0, g2.GetVector(1, 0, 1)->dy);
  EXPECT_EQ(0.0, g2.GetVector(0, 0, 1)->dx);
}

}  // namespace

namespace {

TEST(PtvGrid, ParallelBuildMatchesOnePass)
{
  CParticleData d;
  ASSERT_EQ(1, d.SetFrameCount(40));
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> place(0, 300);
  for (int32_t s = 0; s < 40; ++s)
    for (int32_t i = 0; i < 200; ++i) d.AddParticle(s, Pt(place(rng), place(rng), int32_t(rng() % 50)));
  PtvIdIndex index;
  ASSERT_EQ(1, index.Build(d));
  CFlowData a, b;
  ASSERT_EQ(1, a.CreateForImage(299, 299, 16, 40));
  ASSERT_EQ(1, b.CreateForImage(299, 299, 16, 40));
  ASSERT_EQ(1, PtvBuildVectorGrid(d, index, &a));
  int32_t failed = 0;
  PtvBuildVectorGridScenes(d, index, &b, 0, 40, &failed);
  for (int32_t s = 0; s < 40; ++s)
    for (int32_t y = 0; y < a.Ny(); ++y)
      for (int32_t x = 0; x < a.Nx(); ++x) {
        ASSERT_EQ(b.GetVector(x, y, s)->dx, a.GetVector(x, y, s)->dx);
        ASSERT_EQ(b.GetVector(x, y, s)->dy, a.GetVector(x, y, s)->dy);
      }
  CFlowData none;
  EXPECT_EQ(0, PtvBuildVectorGrid(d, index, &none));  // an empty grid is a failed build
}

}  // namespace
