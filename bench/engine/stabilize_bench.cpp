// Two-point stabilisation of a 1920 x 1080 frame, gray and R, G, B 8-bit (L*a*b* matching, as
// the composite uses), one worker and all: 32 x 32 templates searched within +/-32 pixels, the
// frame moved by a few pixels against the reference and restored outside the timing.
#include "bench/engine/engine_bench_util.h"
#include "engine/shift.h"
#include "engine/stabilize.h"

using namespace enginebench;

namespace {

void RunStabilize(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  CImgBuff ref;
  Fill(ref, format);
  CImgBuff a, b;
  const int32_t refX[2] = {600, 1300}, refY[2] = {400, 700};
  ref.Crop(a, refX[0], refY[0], refX[0] + 31, refY[0] + 31);
  ref.Crop(b, refX[1], refY[1], refX[1] + 31, refY[1] + 31);
  CImgBuff* templates[2] = {&a, &b};
  Fixture f(format);
  std::memcpy(f.img.Pixels(), ref.Pixels(), Bytes(ref));
  ShiftImageWhole(&f.img, 5, -3, 0);
  std::memcpy(f.orig.data(), f.img.Pixels(), f.orig.size());
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    if (!StabilizeTwoPoints(0, &f.img, templates, refX, refY, 32, 0, 1)) state.SkipWithError("stabilisation failed");
  }
}

}  // namespace

static void BM_StabilizeTwoPointsGray(benchmark::State& state) { RunStabilize(state, 1); }
ENGINE_BENCH(BM_StabilizeTwoPointsGray);
static void BM_StabilizeTwoPointsRgb(benchmark::State& state) { RunStabilize(state, 4); }
ENGINE_BENCH(BM_StabilizeTwoPointsRgb);
