// Adding a 1920 x 1080 frame to the doubled-resolution composite, gray and R, G, B 8-bit, one
// worker and all: stabilisation onto the two blocks, the doubled copy and its fine match, and
// the accumulation.  The frame is the first frame moved by a few pixels, restored outside the
// timing; Create and Finish run once, outside it.
#include "bench/engine/engine_bench_util.h"
#include "engine/shift.h"
#include "engine/upscale.h"

using namespace enginebench;

namespace {

void RunAddFrame(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  Fixture f(format);
  UpscaleComposite* comp = CompositeUpscaleCreate(&f.img);
  if (!comp) {
    state.SkipWithError("no composite");
    return;
  }
  f.Restore();
  ShiftImageWhole(&f.img, 4, -2, 0);
  std::memcpy(f.orig.data(), f.img.Pixels(), f.orig.size());
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    if (!CompositeUpscaleAddFrame(comp, &f.img, 0)) state.SkipWithError("frame not added");
  }
  CImgBuff result;
  CompositeUpscaleFinish(comp, &result);
}

}  // namespace

static void BM_CompositeUpscaleAddFrameGray(benchmark::State& state) { RunAddFrame(state, 1); }
ENGINE_BENCH(BM_CompositeUpscaleAddFrameGray);
static void BM_CompositeUpscaleAddFrameRgb(benchmark::State& state) { RunAddFrame(state, 4); }
ENGINE_BENCH(BM_CompositeUpscaleAddFrameRgb);
