// Stabilising a short 1920 x 1080 8-bit R, G, B clip shaken by whole pixels, one worker and
// all: the per-scene work of the anti-shake runs ("fixed" on two tracking blocks with
// fractional shifts, "moving" on the centre third) and of the plain composite (whole-pixel
// two-point alignment and the sums).  Each iteration is the whole clip.
#include <algorithm>
#include <vector>

#include "bench/engine/engine_bench_util.h"
#include "engine/match.h"
#include "engine/shift.h"
#include "engine/stabilize.h"
#include "filters/binary_geometry_fourier/anti_shake.h"

using namespace enginebench;

namespace {

constexpr int kScenes = 8;
const int32_t kShake[kScenes][2] = {{0, 0},   {3, -2}, {-5, 4}, {6, 6},
                                    {-6, -1}, {1, -6}, {2, 5},  {-3, 3}};

// The clip, the two blocks of scene 0 and the box size the tool would use.
struct Clip {
  std::vector<CImgBuff> scenes = std::vector<CImgBuff>(kScenes);
  CImgBuff templ[2];
  int32_t refX[2] = {0, 0}, refY[2] = {0, 0};
  int32_t box = std::max(std::min(W, H) / 16, 8);
  Clip() {
    CImgBuff base;
    Fill(base, ImgFormatRgb24);
    for (int i = 0; i < kScenes; ++i) {
      scenes[size_t(i)].CopyFrom(base);
      ShiftImageWhole(&scenes[size_t(i)], kShake[i][0], kShake[i][1], 0);
    }
    TrackBlock a{}, b{};
    SelectTrackingBlocks(&scenes[0], box, box, W - box, H - box, box, box, &a, &b);
    scenes[0].Crop(templ[0], a.x0, a.y0, a.x1, a.y1);
    scenes[0].Crop(templ[1], b.x0, b.y0, b.x1, b.y1);
    refX[0] = a.x0, refY[0] = a.y0, refX[1] = b.x0, refY[1] = b.y0;
  }
};

Clip& TheClip() {
  static Clip clip;
  return clip;
}

}  // namespace

static void BM_AntiShakeFixedClip(benchmark::State& state) {
  Workers(state, state.range(0));
  Clip& c = TheClip();
  CImgBuff* templates[2] = {&c.templ[0], &c.templ[1]};
  CImgBuff w;
  for (auto _ : state) {
    int32_t sx[2] = {c.refX[0], c.refX[1]}, sy[2] = {c.refY[0], c.refY[1]};
    for (const CImgBuff& scene : c.scenes) {
      w.CopyFrom(scene);
      double ox[2], oy[2];
      if (StabilizeTwoPointsEx(&w, templates, c.refX, c.refY, sx, sy, c.box, 0, ox, oy))
        for (int k = 0; k < 2; ++k) sx[k] = int32_t(ox[k]), sy[k] = int32_t(oy[k]);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kScenes);
}
ENGINE_BENCH(BM_AntiShakeFixedClip);

static void BM_AntiShakeMovingClip(benchmark::State& state) {
  Workers(state, state.range(0));
  Clip& c = TheClip();
  CImgBuff w, templ;
  for (auto _ : state) {
    c.scenes[0].Crop(templ, W / 3, H / 3, 2 * (W / 3) - 1, 2 * (H / 3) - 1);
    for (const CImgBuff& scene : c.scenes) {
      w.CopyFrom(scene);
      double dx = 0, dy = 0;
      if (MatchPointSubpixel(&w, &templ, W / 3, H / 3, std::min(W, H) / 6, &dx, &dy, 0) &&
          ShiftImage(&w, -dx, -dy, 0))
        w.Crop(templ, W / 3, H / 3, 2 * (W / 3) - 1, 2 * (H / 3) - 1);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kScenes);
}
ENGINE_BENCH(BM_AntiShakeMovingClip);

static void BM_CompositeClip(benchmark::State& state) {
  Workers(state, state.range(0));
  Clip& c = TheClip();
  CImgBuff* templates[2] = {&c.templ[0], &c.templ[1]};
  std::vector<double> s0(size_t(W) * H), s1(s0.size()), s2(s0.size());
  CImgBuff w;
  for (auto _ : state) {
    CompositeSums sums;
    sums.width = W, sums.height = H;
    sums.sum[0] = s0.data(), sums.sum[1] = s1.data(), sums.sum[2] = s2.data();
    std::fill(s0.begin(), s0.end(), 0.0);
    std::fill(s1.begin(), s1.end(), 0.0);
    std::fill(s2.begin(), s2.end(), 0.0);
    for (const CImgBuff& scene : c.scenes) {
      w.CopyFrom(scene);
      StabilizeTwoPoints(1, &w, templates, c.refX, c.refY, c.box, 0, 0);
      sums.picture = &w;
      ParallelFor(&CompositeAccumulateRows, &sums, H);
      ++sums.added;
    }
    sums.picture = &w;
    ParallelFor(&CompositeAverageRows, &sums, H);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kScenes);
}
ENGINE_BENCH(BM_CompositeClip);
