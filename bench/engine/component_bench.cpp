// Component extraction and the wavelength filter on 1920 x 1080 pictures; OpenCV cvtColor to
// grey, to HSV and to L*a*b* beside them.
#include "bench/engine/engine_bench_util.h"
#include "engine/component.h"
#include "engine/wave.h"

using namespace enginebench;

static void RunComponent(benchmark::State& state, int32_t format, int32_t mode) {
  Workers(state, state.range(0));
  Fixture fx(format);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractComponent(&fx.img, mode, 0, nullptr));
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
}

static void BM_ComponentGreyRgb24(benchmark::State& state) { RunComponent(state, 4, 1); }
ENGINE_BENCH(BM_ComponentGreyRgb24);
static void BM_ComponentHueRgb24(benchmark::State& state) { RunComponent(state, 4, 5); }
ENGINE_BENCH(BM_ComponentHueRgb24);
static void BM_ComponentKRgb24(benchmark::State& state) { RunComponent(state, 4, 14); }
ENGINE_BENCH(BM_ComponentKRgb24);
static void BM_ComponentLRgb24(benchmark::State& state) { RunComponent(state, 4, 18); }
ENGINE_BENCH(BM_ComponentLRgb24);
static void BM_ComponentHueHsv48(benchmark::State& state) { RunComponent(state, 8, 5); }
ENGINE_BENCH(BM_ComponentHueHsv48);

static void RunWave(benchmark::State& state, int32_t format, uint32_t outputMode) {
  Workers(state, state.range(0));
  Fixture fx(format);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ApplyWaveColorFilter(&fx.img, 580, outputMode, 1, 1, nullptr));
    state.PauseTiming();
    fx.img.Allocate(W, H, format);
    fx.Restore();
    state.ResumeTiming();
  }
}
static void BM_WaveColourRgb24(benchmark::State& state) { RunWave(state, 4, 1); }
ENGINE_BENCH(BM_WaveColourRgb24);
static void BM_WaveGreyRgb24(benchmark::State& state) { RunWave(state, 4, 2); }
ENGINE_BENCH(BM_WaveGreyRgb24);
static void BM_WaveColourRgb48(benchmark::State& state) { RunWave(state, 5, 1); }
ENGINE_BENCH(BM_WaveColourRgb48);

#ifdef QV_HAVE_OPENCV
static void BM_CvCvtColorGrayRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), out;
  for (auto _ : state) cv::cvtColor(m, out, cv::COLOR_BGR2GRAY);
}
ENGINE_BENCH(BM_CvCvtColorGrayRgb24);

static void BM_CvCvtColorHsvRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), out;
  for (auto _ : state) cv::cvtColor(m, out, cv::COLOR_BGR2HSV);
}
ENGINE_BENCH(BM_CvCvtColorHsvRgb24);

static void BM_CvCvtColorLabRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), out;
  for (auto _ : state) cv::cvtColor(m, out, cv::COLOR_BGR2Lab);
}
ENGINE_BENCH(BM_CvCvtColorLabRgb24);
#endif
