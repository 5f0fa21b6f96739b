// Range extraction on 1920 x 1080 pictures; OpenCV inRange (and cvtColor to HSV + inRange for
// the hue window) beside it.
#include <cstdlib>

#include "bench/engine/engine_bench_util.h"
#include "engine/range.h"

using namespace enginebench;

static void BM_ExtractLevelRangeGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture fx(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractLevelRange(&fx.img, 0x4000, 0xC0FF, 0, 1, 0, nullptr));
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
}
ENGINE_BENCH(BM_ExtractLevelRangeGray8);

static void BM_ExtractHsvRangeRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture fx(4);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ExtractHsvRange(&fx.img, 40000, 8000, 5000, 65535, 5000, 65535, 0, 1, 0, nullptr));
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
}
ENGINE_BENCH(BM_ExtractHsvRangeRgb24);

static void BM_ExtractRowsColorRgb24(benchmark::State& state) {  // the table road
  Workers(state, state.range(0));
  Fixture fx(4);
  HsvRangeTable* t = BuildHsvRangeTable(40000, 8000, 5000, 65535, 5000, 65535, 0);
  for (auto _ : state) {
    HsvTableJob job{&fx.img, t, 0, 1, 0, 0, W - 1, H - 1};
    RunRows(ExtractRowsColor, &job, RoiRect{0, 0, W - 1, H - 1});
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
  std::free(t);
}
ENGINE_BENCH(BM_ExtractRowsColorRgb24);

#ifdef QV_HAVE_OPENCV
static void BM_CvInRangeGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1), out;
  for (auto _ : state) cv::inRange(m, cv::Scalar(0x40), cv::Scalar(0xC0), out);
}
ENGINE_BENCH(BM_CvInRangeGray8);

static void BM_CvHsvInRangeRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), hsv, out;
  for (auto _ : state) {
    cv::cvtColor(m, hsv, cv::COLOR_BGR2HSV);
    cv::inRange(hsv, cv::Scalar(98, 20, 20), cv::Scalar(122, 255, 255), out);
  }
}
ENGINE_BENCH(BM_CvHsvInRangeRgb24);
#endif
