// Background creation over 100 frames of 1920 x 1080, gray and R, G, B 8-bit, one worker and
// all: the callback copies pre-made frames (its cost is given alone), and numpy's mean, max
// and min of the same amount of frames in one array are timed by a script beside them.
// The counter frame_time is the time per frame.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/engine/engine_bench_util.h"
#include "engine/background.h"

using namespace enginebench;

namespace {

constexpr uint64_t Frames = 100;
constexpr size_t Distinct = 8;  // frames cycled: 8 x 6 MB already outgrow every cache

struct FrameStore {
  std::vector<std::unique_ptr<CImgBuff>> frames;
  explicit FrameStore(int32_t format) {
    for (size_t i = 0; i < Distinct; ++i) {
      frames.push_back(std::make_unique<CImgBuff>());
      Fill(*frames.back(), format, uint32_t(100 + i));
    }
  }
};

int32_t CopyFrame(uint64_t index, CImgBuff* picture, void* user) {
  FrameStore* s = static_cast<FrameStore*>(user);
  picture->CopyFrom(*s->frames[index % Distinct]);
  return 1;
}

void PerFrame(benchmark::State& state) {
  state.counters["frame_time"] = benchmark::Counter(double(Frames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void RunBackground(benchmark::State& state, int32_t format, int32_t mode) {
  Workers(state, state.range(0));
  FrameStore store(format);
  CImgBuff out;
  out.Allocate(W, H, format);
  for (auto _ : state) benchmark::DoNotOptimize(CreateBackground(&out, Frames, mode, CopyFrame, &store));
  PerFrame(state);
}

}  // namespace

static void RunFetchCopy(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  FrameStore store(format);
  CImgBuff out;
  for (auto _ : state)
    for (uint64_t i = 0; i < Frames; ++i) CopyFrame(i, &out, &store);
  PerFrame(state);
}
static void BM_FetchCopyGray8(benchmark::State& state) { RunFetchCopy(state, 1); }
BENCHMARK(BM_FetchCopyGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
static void BM_FetchCopyRgb24(benchmark::State& state) { RunFetchCopy(state, 4); }
BENCHMARK(BM_FetchCopyRgb24)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

#define BACKGROUND_BENCH(name, format, mode)                                                    \
  static void name(benchmark::State& state) { RunBackground(state, format, mode); }           \
  BENCHMARK(name)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BACKGROUND_BENCH(BM_BackgroundMeanGray8, 1, 0)
BACKGROUND_BENCH(BM_BackgroundMaxGray8, 1, 1)
BACKGROUND_BENCH(BM_BackgroundMinGray8, 1, -1)
BACKGROUND_BENCH(BM_BackgroundMeanRgb24, 4, 0)
BACKGROUND_BENCH(BM_BackgroundMaxRgb24, 4, 1)
BACKGROUND_BENCH(BM_BackgroundMinRgb24, 4, -1)
#undef BACKGROUND_BENCH

// numpy's figures, milliseconds per frame, as counters of one run of the script.
static void BM_NumpyReference(benchmark::State& state) {
  const std::string script = QV_BENCH_DIR "/engine/background_numpy.py";
  for (auto _ : state) {
    FILE* p = popen(("/usr/bin/python3 '" + script + "' 2>/dev/null").c_str(), "r");
    if (!p) {
      state.SkipWithError("python3 not started");
      return;
    }
    char name[16], op[16];
    double ms;
    while (std::fscanf(p, "%15s %15s %lf", name, op, &ms) == 3)
      state.counters[std::string(name) + "_" + op + "_ms"] = ms;
    if (pclose(p) != 0 || state.counters.empty()) state.SkipWithError("numpy script failed");
  }
}
BENCHMARK(BM_NumpyReference)->Iterations(1)->Unit(benchmark::kMillisecond);
