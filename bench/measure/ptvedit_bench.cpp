// ptvedit_bench.cpp - the particle tracker's result paths at the size a run can leave:
// 4,096 tracks over 100 scenes.  Every cell text of the TRACK DATA table (what a CSV save
// asks for), the lookups of an "ALL" overlay in one scene with 10-scene trails, and a
// vector grid build; each over the id index, with the index build measured on its own.
#include <benchmark/benchmark.h>

#include <random>

#include "measure/ptvedit.h"

namespace {

constexpr int32_t kTracks = 4096, kScenes = 100;

CParticleData& Store()
{
  static CParticleData data;
  if (data.sceneCount == 0) {
    data.SetFrameCount(kScenes);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> place(32, 990);
    for (int32_t id = 0; id < kTracks; ++id) {
      double x = place(rng), y = place(rng);
      for (int32_t s = 0; s < kScenes; ++s) data.AddParticle(s, {id, 1, x + 1.5 * s, y - 0.5 * s});
    }
  }
  return data;
}

void BM_IdIndexBuild(benchmark::State& state)
{
  CParticleData& d = Store();
  PtvIdIndex index;
  for (auto _ : state) benchmark::DoNotOptimize(index.Build(d));
}
BENCHMARK(BM_IdIndexBuild)->Unit(benchmark::kMillisecond);

void BM_TrackTableAllCells(benchmark::State& state)
{
  CParticleData& d = Store();
  PtvIdIndex index;
  index.Build(d);
  PtvTableContext c;
  c.data = &d;
  c.index = &index;
  c.unit = L"mm";
  uint64_t columns, rows;
  PtvTrackTableSize(d, &columns, &rows);
  for (auto _ : state) {
    size_t chars = 0;
    int32_t align;
    for (uint64_t r = 0; r < rows; ++r)
      for (uint64_t col = 0; col < columns; ++col) chars += wcslen(PtvTrackCellText(c, col, r, &align));
    benchmark::DoNotOptimize(chars);
  }
}
BENCHMARK(BM_TrackTableAllCells)->Unit(benchmark::kMillisecond);

void BM_AllOverlayLookups(benchmark::State& state)
{
  CParticleData& d = Store();
  PtvIdIndex index;
  index.Build(d);
  for (auto _ : state) {
    double sum = 0;
    for (int32_t id = 0; id < kTracks; ++id)
      for (int32_t s = 50; s >= 40; --s)
        if (const ParticleRecord* p = index.Find(d, s, id)) sum += p->x;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_AllOverlayLookups)->Unit(benchmark::kMillisecond);

void BM_VectorGridBuild(benchmark::State& state)
{
  CParticleData& d = Store();
  PtvIdIndex index;
  index.Build(d);
  CFlowData grid;
  grid.CreateForImage(1023, 1023, 32, kScenes);
  for (auto _ : state) benchmark::DoNotOptimize(PtvBuildVectorGrid(d, index, &grid));
}
BENCHMARK(BM_VectorGridBuild)->Unit(benchmark::kMillisecond);

}  // namespace
