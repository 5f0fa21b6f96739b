// Background subtraction and object extraction on 1920 x 1080 pictures, one worker and all:
// SubtractBackground beside cv::subtract, ExtractObjects (pixel pass and 8 x 8 tiles) beside
// two float RGB to L*a*b* conversions (picture and background).  Pictures are restored
// outside the timing where the call changes them.
#include "bench/engine/engine_bench_util.h"
#include "engine/subtract.h"

using namespace enginebench;

static void RunSubtract(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  Fixture f(format);
  CImgBuff bg;
  Fill(bg, format, 7);
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(SubtractBackground(&f.img, &bg, 0, nullptr));
  }
}
static void BM_SubtractGray8(benchmark::State& state) { RunSubtract(state, 1); }
ENGINE_BENCH(BM_SubtractGray8);
static void BM_SubtractRgb24(benchmark::State& state) { RunSubtract(state, 4); }
ENGINE_BENCH(BM_SubtractRgb24);
static void BM_SubtractRgb48(benchmark::State& state) { RunSubtract(state, 5); }
ENGINE_BENCH(BM_SubtractRgb48);

static void RunExtract(benchmark::State& state, uint64_t tile) {
  Workers(state, state.range(0));
  Fixture f(4);
  CImgBuff bg;
  Fill(bg, 4, 7);
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(ExtractObjects(&f.img, &bg, 0, 30.0, tile, nullptr));
  }
}
static void BM_ExtractObjectsRgb24(benchmark::State& state) { RunExtract(state, 0); }
ENGINE_BENCH(BM_ExtractObjectsRgb24);
static void BM_ExtractObjectsTilesRgb24(benchmark::State& state) { RunExtract(state, 8); }
ENGINE_BENCH(BM_ExtractObjectsTilesRgb24);

#ifdef QV_HAVE_OPENCV
static void RunCvSubtract(benchmark::State& state, int type) {
  Workers(state, state.range(0));
  cv::Mat a = RandomMat(type), b = RandomMat(type, 7), d;
  for (auto _ : state) cv::subtract(a, b, d);
}
static void BM_CvSubtractGray8(benchmark::State& state) { RunCvSubtract(state, CV_8UC1); }
ENGINE_BENCH(BM_CvSubtractGray8);
static void BM_CvSubtractRgb24(benchmark::State& state) { RunCvSubtract(state, CV_8UC3); }
ENGINE_BENCH(BM_CvSubtractRgb24);
static void BM_CvSubtractRgb48(benchmark::State& state) { RunCvSubtract(state, CV_16UC3); }
ENGINE_BENCH(BM_CvSubtractRgb48);

static void BM_CvTwoFloatRgb2Lab(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat a, b, la, lb;
  RandomMat(CV_8UC3).convertTo(a, CV_32FC3, 1.0 / 255);
  RandomMat(CV_8UC3, 7).convertTo(b, CV_32FC3, 1.0 / 255);
  for (auto _ : state) {
    cv::cvtColor(a, la, cv::COLOR_RGB2Lab);
    cv::cvtColor(b, lb, cv::COLOR_RGB2Lab);
  }
}
ENGINE_BENCH(BM_CvTwoFloatRgb2Lab);
#endif
