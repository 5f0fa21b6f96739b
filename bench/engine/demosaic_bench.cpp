// Demosaic of 1920 x 1080 raws, one worker and all: linear ("RGGB") of 8- and 16-bit gray
// beside OpenCV's bilinear COLOR_BayerBG2RGB, and ACPI beside its edge-aware
// COLOR_BayerBG2RGB_EA, into a kept output and into a new one per call.  The raw is restored
// outside the timing (the call turns it into R,G,B).
#include <cstring>
#include <vector>

#include "bench/engine/engine_bench_util.h"
#include "engine/demosaic.h"

using namespace enginebench;

static void RunDemosaic(benchmark::State& state, int32_t format, uint32_t mode) {
  Workers(state, state.range(0));
  Fixture f(format);
  for (auto _ : state) {
    state.PauseTiming();
    f.img.Allocate(W, H, format);
    f.Restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(Demosaic(&f.img, mode, 2, nullptr, nullptr));
  }
}

static void BM_DemosaicLinearGray8(benchmark::State& state) { RunDemosaic(state, 1, 1); }
ENGINE_BENCH(BM_DemosaicLinearGray8);
static void BM_DemosaicLinearGray16(benchmark::State& state) { RunDemosaic(state, 2, 1); }
ENGINE_BENCH(BM_DemosaicLinearGray16);
static void BM_DemosaicAcpiGray8(benchmark::State& state) { RunDemosaic(state, 1, 2); }
ENGINE_BENCH(BM_DemosaicAcpiGray8);
static void BM_MosaicRgb24(benchmark::State& state) { RunDemosaic(state, 4, 0); }
ENGINE_BENCH(BM_MosaicRgb24);

#ifdef QV_HAVE_OPENCV
static void RunCv(benchmark::State& state, int type, int code) {
  Workers(state, state.range(0));
  cv::Mat raw = RandomMat(type), rgb;
  for (auto _ : state) cv::cvtColor(raw, rgb, code);
}
// Demosaic turns the raw into a new R,G,B picture on every call; this gives OpenCV a new
// output on every call as well.
static void RunCvNewOutput(benchmark::State& state, int type, int code) {
  Workers(state, state.range(0));
  cv::Mat raw = RandomMat(type);
  for (auto _ : state) {
    cv::Mat rgb;
    cv::cvtColor(raw, rgb, code);
    benchmark::DoNotOptimize(rgb.data);
  }
}
static void BM_CvBayerBG2RGBGray8NewOutput(benchmark::State& state) {
  RunCvNewOutput(state, CV_8UC1, cv::COLOR_BayerBG2RGB);
}
ENGINE_BENCH(BM_CvBayerBG2RGBGray8NewOutput);
static void BM_CvBayerBG2RGBGray16NewOutput(benchmark::State& state) {
  RunCvNewOutput(state, CV_16UC1, cv::COLOR_BayerBG2RGB);
}
ENGINE_BENCH(BM_CvBayerBG2RGBGray16NewOutput);
static void BM_CvBayerBG2RGBGray8(benchmark::State& state) { RunCv(state, CV_8UC1, cv::COLOR_BayerBG2RGB); }
ENGINE_BENCH(BM_CvBayerBG2RGBGray8);
static void BM_CvBayerBG2RGBGray16(benchmark::State& state) { RunCv(state, CV_16UC1, cv::COLOR_BayerBG2RGB); }
ENGINE_BENCH(BM_CvBayerBG2RGBGray16);
static void BM_CvBayerBG2RGB_EAGray8(benchmark::State& state) { RunCv(state, CV_8UC1, cv::COLOR_BayerBG2RGB_EA); }
ENGINE_BENCH(BM_CvBayerBG2RGB_EAGray8);
#endif
