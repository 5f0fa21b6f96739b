// Level tables, direct curves and the histogram on 1920 x 1080 pictures; OpenCV LUT and
// calcHist beside them.
#include "bench/engine/engine_bench_util.h"
#include "engine/levels.h"

using namespace enginebench;

static void BM_ApplyLevelLutGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 1);
  LevelLut* lut = BuildGammaLut(1, 2.2);
  for (auto _ : state) benchmark::DoNotOptimize(ApplyLevelLut(&img, lut, nullptr));
  FreeLut(lut);
}
ENGINE_BENCH(BM_ApplyLevelLutGray8);

static void BM_ApplyLevelLutRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 4);
  LevelLut* lut = BuildGammaLut(1, 2.2);
  for (auto _ : state) benchmark::DoNotOptimize(ApplyLevelLut(&img, lut, nullptr));
  FreeLut(lut);
}
ENGINE_BENCH(BM_ApplyLevelLutRgb24);

static void BM_GammaCorrectRgb24(benchmark::State& state) {  // table built per call
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 4);
  for (auto _ : state) benchmark::DoNotOptimize(GammaCorrect(&img, 1, 1.1, nullptr));
}
ENGINE_BENCH(BM_GammaCorrectRgb24);

static void BM_GammaCorrectGray32(benchmark::State& state) {  // direct curve
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 3);
  for (auto _ : state) benchmark::DoNotOptimize(GammaCorrect(&img, 1, 1.1, nullptr));
}
ENGINE_BENCH(BM_GammaCorrectGray32);

static void BM_StretchLevelsRgb48(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture fx(5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(StretchLevels(&fx.img, 10000, 50000, nullptr));
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
}
ENGINE_BENCH(BM_StretchLevelsRgb48);

static void BM_HistogramGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 1);
  uint64_t bins[256], maxBin;
  for (auto _ : state) benchmark::DoNotOptimize(ComputeHistogram(&img, 1, bins, &maxBin, nullptr));
}
ENGINE_BENCH(BM_HistogramGray8);

static void BM_HistogramRgb24Luma(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 4);
  uint64_t bins[256], maxBin;
  for (auto _ : state) benchmark::DoNotOptimize(ComputeHistogram(&img, 1, bins, &maxBin, nullptr));
}
ENGINE_BENCH(BM_HistogramRgb24Luma);

static void BM_HistogramRgb24Green(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 4);
  uint64_t bins[256], maxBin;
  for (auto _ : state) benchmark::DoNotOptimize(ComputeHistogram(&img, 3, bins, &maxBin, nullptr));
}
ENGINE_BENCH(BM_HistogramRgb24Green);

#ifdef QV_HAVE_OPENCV
static cv::Mat GammaTable() {
  cv::Mat t(1, 256, CV_8U);
  LevelLut* lut = BuildGammaLut(1, 2.2);
  for (int i = 0; i < 256; ++i) t.data[i] = lut->table8[i];
  FreeLut(lut);
  return t;
}

static void BM_CvLutGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1), t = GammaTable();
  for (auto _ : state) cv::LUT(m, t, m);
}
ENGINE_BENCH(BM_CvLutGray8);

static void BM_CvLutRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), t = GammaTable();
  for (auto _ : state) cv::LUT(m, t, m);
}
ENGINE_BENCH(BM_CvLutRgb24);

static void BM_CvCalcHistGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1), hist;
  const int channels[] = {0}, size[] = {256};
  const float range[] = {0, 256};
  const float* ranges[] = {range};
  for (auto _ : state) cv::calcHist(&m, 1, channels, cv::Mat(), hist, 1, size, ranges);
}
ENGINE_BENCH(BM_CvCalcHistGray8);

static void BM_CvCalcHistRgb24Green(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), hist;
  const int channels[] = {1}, size[] = {256};
  const float range[] = {0, 256};
  const float* ranges[] = {range};
  for (auto _ : state) cv::calcHist(&m, 1, channels, cv::Mat(), hist, 1, size, ranges);
}
ENGINE_BENCH(BM_CvCalcHistRgb24Green);
#endif
