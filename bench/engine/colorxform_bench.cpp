// ColorXformApply with the white-balance operation on 1920 x 1080 R,G,B 8-bit pictures: with
// every colour already cached, and the first apply of a new transform (every cell met is
// filled); OpenCV's RGB to L*a*b* conversion, and there and back, beside them.  Two pictures:
// smooth gradients with noise (colours as a photograph has them) and uniform random colours
// (every cell of the cube, a worst case for the cache).
#include <algorithm>
#include <cstring>
#include <random>

#include "bench/engine/engine_bench_util.h"
#include "engine/colorxform.h"
#include "engine/whitebalance.h"

using namespace enginebench;

namespace {

void FillSmooth(CImgBuff& img) {
  img.Allocate(W, H, 4);
  std::mt19937 rng(7);
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x, p += 3) {
      const int n = int(rng() % 9) - 4;
      p[0] = uint8_t(std::clamp(x * 255 / W + n, 0, 255));
      p[1] = uint8_t(std::clamp(y * 255 / H + n, 0, 255));
      p[2] = uint8_t(std::clamp((x + y) * 255 / (W + H) + n, 0, 255));
    }
}

void MakePicture(CImgBuff& img, int64_t kind) {
  if (kind == 0) FillSmooth(img);
  else Fill(img, 4);
}

void Cached(benchmark::State& state, int64_t kind) {
  Workers(state, state.range(0));
  CImgBuff img, orig;
  MakePicture(orig, kind);
  img.CopyFrom(orig);
  ColorXform* xf = BuildWhiteBalance(0.9, 0.8, 0.6);
  ColorXformApply(xf, &img);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.Pixels(), orig.Pixels(), Bytes(orig));
    state.ResumeTiming();
    benchmark::DoNotOptimize(ColorXformApply(xf, &img));
  }
  ColorXformDestroy(xf);
}

void First(benchmark::State& state, int64_t kind) {
  Workers(state, state.range(0));
  CImgBuff img, orig;
  MakePicture(orig, kind);
  img.CopyFrom(orig);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.Pixels(), orig.Pixels(), Bytes(orig));
    state.ResumeTiming();
    ColorXform* xf = BuildWhiteBalance(0.9, 0.8, 0.6);
    benchmark::DoNotOptimize(ColorXformApply(xf, &img));
    ColorXformDestroy(xf);
  }
}

}  // namespace

static void BM_ColorXformCachedSmooth(benchmark::State& state) { Cached(state, 0); }
ENGINE_BENCH(BM_ColorXformCachedSmooth);
static void BM_ColorXformCachedRandom(benchmark::State& state) { Cached(state, 1); }
ENGINE_BENCH(BM_ColorXformCachedRandom);
static void BM_ColorXformFirstSmooth(benchmark::State& state) { First(state, 0); }
ENGINE_BENCH(BM_ColorXformFirstSmooth);
static void BM_ColorXformFirstRandom(benchmark::State& state) { First(state, 1); }
ENGINE_BENCH(BM_ColorXformFirstRandom);

#ifdef QV_HAVE_OPENCV
static void BM_CvRgb2Lab(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), lab;
  for (auto _ : state) cv::cvtColor(m, lab, cv::COLOR_RGB2Lab);
}
ENGINE_BENCH(BM_CvRgb2Lab);

static void BM_CvRgb2LabAndBack(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), lab, back;
  for (auto _ : state) {
    cv::cvtColor(m, lab, cv::COLOR_RGB2Lab);
    cv::cvtColor(lab, back, cv::COLOR_Lab2RGB);
  }
}
ENGINE_BENCH(BM_CvRgb2LabAndBack);
#endif
