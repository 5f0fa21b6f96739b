// 2-D forward transforms of 512 x 512 and 2048 x 2048 complex planes, one worker and all,
// beside OpenCV's dft (CV_64FC2) and FFTW (one thread, measured plan); the picture transform
// and render of a 1920 x 1080 R,G,B picture.
#include <cstring>
#include <random>
#include <vector>

#include "bench/engine/engine_bench_util.h"
#include "engine/fft.h"

#ifdef QV_HAVE_FFTW
#include <fftw3.h>
#endif

using namespace enginebench;

namespace {

std::vector<double> RandomValues(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = d(rng);
  return v;
}

// The plane is restored outside the timing: repeated forward transforms would grow the values
// to infinity.
void Fft2D(benchmark::State& state, uint64_t n) {
  Workers(state, state.range(0));
  const std::vector<double> r0 = RandomValues(n * n, 1), i0 = RandomValues(n * n, 2);
  std::vector<double> re = r0, im = i0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Fft2DForward(re.data(), im.data(), n, n));
    state.PauseTiming();
    std::memcpy(re.data(), r0.data(), n * n * 8);
    std::memcpy(im.data(), i0.data(), n * n * 8);
    state.ResumeTiming();
  }
}

}  // namespace

static void BM_Fft2DForward512(benchmark::State& state) { Fft2D(state, 512); }
ENGINE_BENCH(BM_Fft2DForward512);
static void BM_Fft2DForward2048(benchmark::State& state) { Fft2D(state, 2048); }
ENGINE_BENCH(BM_Fft2DForward2048);

static void BM_FftForwardRenderRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img, shown;
  Fill(img, 4);
  SpectrumRecord rec{};
  // The record's block and the output are allocated once, as a filter reusing its record has them.
  FftForward(&rec, &img);
  FftRender(&rec, &shown);
  for (auto _ : state) {
    benchmark::DoNotOptimize(FftForward(&rec, &img));
    benchmark::DoNotOptimize(FftRender(&rec, &shown));
  }
  FftFree(&rec);
}
ENGINE_BENCH(BM_FftForwardRenderRgb24);

#ifdef QV_HAVE_OPENCV
static void CvDft(benchmark::State& state, int n) {
  Workers(state, state.range(0));
  cv::Mat src(n, n, CV_64FC2), dst;
  cv::randu(src, -1.0, 1.0);
  for (auto _ : state) cv::dft(src, dst);
}
static void BM_CvDft512(benchmark::State& state) { CvDft(state, 512); }
ENGINE_BENCH(BM_CvDft512);
static void BM_CvDft2048(benchmark::State& state) { CvDft(state, 2048); }
ENGINE_BENCH(BM_CvDft2048);
#endif

#ifdef QV_HAVE_FFTW
// One thread whatever the argument: the single-threaded yardstick.
static void Fftw(benchmark::State& state, int n) {
  fftw_complex* in = fftw_alloc_complex(size_t(n) * n);
  fftw_complex* out = fftw_alloc_complex(size_t(n) * n);
  fftw_plan plan = fftw_plan_dft_2d(n, n, in, out, FFTW_FORWARD, FFTW_MEASURE);
  const std::vector<double> v = RandomValues(size_t(n) * n * 2, 3);
  std::memcpy(in, v.data(), v.size() * 8);
  state.SetLabel("FFTW, 1 thread");
  for (auto _ : state) fftw_execute(plan);
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
}
static void BM_Fftw512(benchmark::State& state) { Fftw(state, 512); }
BENCHMARK(BM_Fftw512)->Unit(benchmark::kMicrosecond)->UseRealTime();
static void BM_Fftw2048(benchmark::State& state) { Fftw(state, 2048); }
BENCHMARK(BM_Fftw2048)->Unit(benchmark::kMicrosecond)->UseRealTime();
#endif
