// Island extraction on a 1920 x 1080 binary frame of about 5000 particles: count only (with
// and without nested islands kept apart), full measurement, small-island removal; OpenCV's
// connectedComponentsWithStats beside it.
#include "bench/engine/engine_bench_util.h"
#include "engine/islands.h"
#include "engine/small_islands.h"

using namespace enginebench;

namespace {

// Discs and rings of radius 2 to 6 at random places, about 5000 of them, some touching.
void Particles(uint8_t* p, int32_t stride) {
  std::mt19937 rng(5);
  for (int k = 0; k < 5000; ++k) {
    const int r = 2 + int(rng() % 5), cx = r + int(rng() % (W - 2 * r)), cy = r + int(rng() % (H - 2 * r));
    const bool ring = k % 5 == 0;
    for (int y = -r; y <= r; ++y)
      for (int x = -r; x <= r; ++x) {
        const int d = x * x + y * y;
        if (d <= r * r && (!ring || d >= (r - 2) * (r - 2))) p[(cy + y) * stride + cx + x] = 255;
      }
  }
}

CImgBuff& Frame() {
  static CImgBuff img;
  if (!img.Pixels()) {
    img.Allocate(W, H, 1);
    Particles(static_cast<uint8_t*>(img.Pixels()), W);
  }
  return img;
}

}  // namespace

static void BM_IslandsCount(benchmark::State& state) {
  Workers(state, state.range(0));
  IslandParams p{&Frame(), 0, 8, 0, 0, 1.0, 0, nullptr, nullptr};
  int32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = ExtractIslands(&p, nullptr, nullptr, 0, nullptr));
  state.counters["islands"] = n;
}
ENGINE_BENCH(BM_IslandsCount);

static void BM_IslandsCountSeparate(benchmark::State& state) {
  Workers(state, state.range(0));
  IslandParams p{&Frame(), 0, 8, 1, 0, 1.0, 0, nullptr, nullptr};
  for (auto _ : state) benchmark::DoNotOptimize(ExtractIslands(&p, nullptr, nullptr, 0, nullptr));
}
ENGINE_BENCH(BM_IslandsCountSeparate);

static void BM_IslandsMeasure(benchmark::State& state) {
  Workers(state, state.range(0));
  IslandParams p{&Frame(), 0, 8, 1, 0, 1.0, 0, nullptr, nullptr};
  std::vector<IslandRecord> rec(8192);
  IslandTotals t;
  int32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = ExtractIslands(&p, &t, rec.data(), 8192, nullptr));
  state.counters["islands"] = n;
}
ENGINE_BENCH(BM_IslandsMeasure);

static void BM_RemoveSmallIslands(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  img.Allocate(W, H, 1);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.Pixels(), Frame().Pixels(), size_t(W) * H);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RemoveSmallIslands(&img, 30, 0, 8, 0, nullptr));
  }
}
ENGINE_BENCH(BM_RemoveSmallIslands);

#ifdef QV_HAVE_OPENCV
static void BM_CvConnectedComponentsWithStats(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m(H, W, CV_8UC1, Frame().Pixels());
  cv::Mat labels, stats, centroids;
  int n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = cv::connectedComponentsWithStats(m, labels, stats, centroids, 8, CV_32S));
  state.counters["islands"] = n - 1;
}
ENGINE_BENCH(BM_CvConnectedComponentsWithStats);
#endif
