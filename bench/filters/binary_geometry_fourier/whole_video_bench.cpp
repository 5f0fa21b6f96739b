// The whole-video tools over a short 1920 x 1080 R, G, B sequence of 8 scenes: the
// background tool's methods (plain and noise-removing) as the tool runs them, fed by a
// callback that copies pre-made frames, and the strobe composition's block change test and
// whole run (six moving squares on a textured background).  numpy's mean and median of the
// same amount of frames are timed by a script beside them.  frame_time is per scene fetched.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "engine/background.h"
#include "filters/binary_geometry_fourier/strobe_compose.h"

namespace {

constexpr int32_t W = 1920, H = 1080;
constexpr uint64_t Frames = 8;

struct Sequence {
  std::vector<std::unique_ptr<CImgBuff>> frames;
  uint64_t fetched = 0;
  Sequence() {
    std::mt19937 rng(42);
    CImgBuff bg;
    bg.Allocate(W, H, ImgFormatRgb24);
    uint8_t* p = static_cast<uint8_t*>(bg.Pixels());
    for (size_t i = 0; i < size_t(W) * H * 3; ++i) p[i] = uint8_t(90 + rng() % 9);
    for (uint64_t f = 0; f < Frames; ++f) {
      frames.push_back(std::make_unique<CImgBuff>());
      CImgBuff& s = *frames.back();
      s.CopyFrom(bg);
      const int32_t x0 = 100 + int32_t(f) * 200, y0 = 400;  // a 96 x 96 object moving right
      for (int32_t y = y0; y < y0 + 96; ++y)
        std::memset(static_cast<uint8_t*>(s.Pixels()) + (size_t(y) * W + x0) * 3, 250, 96 * 3);
    }
  }
};

int32_t CopyFrame(uint64_t index, CImgBuff* picture, void* user) {
  auto* s = static_cast<Sequence*>(user);
  picture->CopyFrom(*s->frames[index % Frames]);
  ++s->fetched;
  return 1;
}

class SequenceScenes : public StrobeScenes {
 public:
  explicit SequenceScenes(Sequence* s) : s_(s) {}
  int32_t Fetch(uint64_t scene, CImgBuff* out) override { return CopyFrame(scene, out, s_); }

 private:
  Sequence* s_;
};

void PerFetch(benchmark::State& state, const Sequence& s) {
  state.counters["frame_time"] = benchmark::Counter(
      double(s.fetched) / double(state.iterations()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void RunMethod(benchmark::State& state, int32_t method) {
  Sequence seq;
  CImgBuff out;
  static const int32_t kModes[6] = {0, 1, -1, 0, 1, -1};
  for (auto _ : state) {
    CopyFrame(0, &out, &seq);
    const int32_t r = method < 3
                          ? CreateBackground(&out, Frames, kModes[method], CopyFrame, &seq)
                          : CreateBackgroundLab(&out, Frames, kModes[method], method == 3 ? 2.0 : 0.0,
                                                CopyFrame, &seq);
    if (r != 1) state.SkipWithError("background failed");
  }
  PerFetch(state, seq);
}

}  // namespace

#define METHOD_BENCH(name, method)                                              \
  static void name(benchmark::State& state) { RunMethod(state, method); }     \
  BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseRealTime();
METHOD_BENCH(BM_BgToolMean, 0)
METHOD_BENCH(BM_BgToolMaximum, 1)
METHOD_BENCH(BM_BgToolMinimum, 2)
METHOD_BENCH(BM_BgToolLabMean, 3)
METHOD_BENCH(BM_BgToolBoundedMaximum, 4)
METHOD_BENCH(BM_BgToolBoundedMinimum, 5)
#undef METHOD_BENCH

static void BM_StrobeChangedBlocks(benchmark::State& state) {
  Sequence seq;
  StrobeGrid grid;
  for (auto _ : state) StrobeChangedBlocks(*seq.frames[0], *seq.frames[1], &grid);
}
BENCHMARK(BM_StrobeChangedBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_StrobeComposeAll(benchmark::State& state) {
  Sequence seq;
  SequenceScenes scenes(&seq);
  StrobeJob job;
  job.scenes = &scenes;
  job.sceneCount = Frames;
  CImgBuff out;
  for (auto _ : state)
    if (StrobeComposeAll(&out, job) != 1) state.SkipWithError("composition failed");
  PerFetch(state, seq);
}
BENCHMARK(BM_StrobeComposeAll)->Unit(benchmark::kMillisecond)->UseRealTime();

// numpy's figures, milliseconds per frame, as counters of one run of the script.
static void BM_NumpyReference(benchmark::State& state) {
  const std::string script = QV_BENCH_DIR "/filters/binary_geometry_fourier/bg_numpy.py";
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
