// Background creation over 100 frames of 1920 x 1080, gray and R, G, B 8-bit, one worker and
// all: the callback copies pre-made frames (its cost is given alone), and numpy's mean, max
// and min of the same amount of frames in one array are timed by a script beside them.
// Runs of 8 frames stand beside OpenCV's max, min and accumulate fed through the same
// callback, so both sides pay the same frame copy.
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

void PerFrame(benchmark::State& state, uint64_t frames) {
  state.counters["frame_time"] = benchmark::Counter(double(frames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void RunBackground(benchmark::State& state, int32_t format, int32_t mode, uint64_t frames = Frames) {
  Workers(state, state.range(0));
  FrameStore store(format);
  CImgBuff out;
  out.Allocate(W, H, format);
  for (auto _ : state) benchmark::DoNotOptimize(CreateBackground(&out, frames, mode, CopyFrame, &store));
  PerFrame(state, frames);
}

}  // namespace

static void RunFetchCopy(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  FrameStore store(format);
  CImgBuff out;
  for (auto _ : state)
    for (uint64_t i = 0; i < Frames; ++i) CopyFrame(i, &out, &store);
  PerFrame(state, Frames);
}

// One benchmark: runner(state, arguments...), one worker and all.
#define BACKGROUND_BENCH(name, runner, ...)                                       \
  static void name(benchmark::State& state) { runner(state, __VA_ARGS__); }     \
  BENCHMARK(name)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BACKGROUND_BENCH(BM_FetchCopyGray8, RunFetchCopy, 1)
BACKGROUND_BENCH(BM_FetchCopyRgb24, RunFetchCopy, 4)
BACKGROUND_BENCH(BM_BackgroundMeanGray8, RunBackground, 1, 0)
BACKGROUND_BENCH(BM_BackgroundMaxGray8, RunBackground, 1, 1)
BACKGROUND_BENCH(BM_BackgroundMinGray8, RunBackground, 1, -1)
BACKGROUND_BENCH(BM_BackgroundMeanRgb24, RunBackground, 4, 0)
BACKGROUND_BENCH(BM_BackgroundMaxRgb24, RunBackground, 4, 1)
BACKGROUND_BENCH(BM_BackgroundMinRgb24, RunBackground, 4, -1)

// Eight frames: a short run, where the set-up of a call (accumulators, the first frame) shows.
constexpr uint64_t ShortRun = 8;
BACKGROUND_BENCH(BM_Background8MeanGray8, RunBackground, 1, 0, ShortRun)
BACKGROUND_BENCH(BM_Background8MaxGray8, RunBackground, 1, 1, ShortRun)
BACKGROUND_BENCH(BM_Background8MinGray8, RunBackground, 1, -1, ShortRun)
BACKGROUND_BENCH(BM_Background8MeanRgb24, RunBackground, 4, 0, ShortRun)
BACKGROUND_BENCH(BM_Background8MaxRgb24, RunBackground, 4, 1, ShortRun)
BACKGROUND_BENCH(BM_Background8MinRgb24, RunBackground, 4, -1, ShortRun)

#ifdef QV_HAVE_OPENCV
namespace {

// OpenCV over the same frames, each fetched by the same callback into one picture: the first
// frame starts the accumulator, every later one is folded in by cv::max or cv::min; the mean
// accumulates in floats (cleared at the start of a run, allocated once, as the engine keeps
// its accumulators) and is scaled into 8 bits at the end.
void RunCvBackground(benchmark::State& state, int32_t format, int32_t mode) {
  Workers(state, state.range(0));
  FrameStore store(format);
  const int type = format == 1 ? CV_8UC1 : CV_8UC3;
  CImgBuff frame;
  cv::Mat acc, sums(H, W, CV_32FC(format == 1 ? 1 : 3)), out;
  for (auto _ : state) {
    for (uint64_t i = 0; i < ShortRun; ++i) {
      CopyFrame(i, &frame, &store);
      const cv::Mat f(H, W, type, frame.Pixels());
      if (mode == 0) {
        if (i == 0) sums.setTo(0);
        cv::accumulate(f, sums);
      } else if (i == 0) {
        f.copyTo(acc);
      } else if (mode > 0) {
        cv::max(acc, f, acc);
      } else {
        cv::min(acc, f, acc);
      }
    }
    if (mode == 0) sums.convertTo(out, type, 1.0 / double(ShortRun));
    benchmark::DoNotOptimize(mode == 0 ? out.data : acc.data);
  }
  PerFrame(state, ShortRun);
}

}  // namespace

BACKGROUND_BENCH(BM_Cv8AccumulateGray8, RunCvBackground, 1, 0)
BACKGROUND_BENCH(BM_Cv8MaxGray8, RunCvBackground, 1, 1)
BACKGROUND_BENCH(BM_Cv8MinGray8, RunCvBackground, 1, -1)
BACKGROUND_BENCH(BM_Cv8AccumulateRgb24, RunCvBackground, 4, 0)
BACKGROUND_BENCH(BM_Cv8MaxRgb24, RunCvBackground, 4, 1)
BACKGROUND_BENCH(BM_Cv8MinRgb24, RunCvBackground, 4, -1)
#endif

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
