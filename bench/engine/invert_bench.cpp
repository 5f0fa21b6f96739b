// Invert on 1920 x 1080 pictures, one worker and all; OpenCV bitwise_not beside it.
#include "bench/engine/engine_bench_util.h"
#include "engine/invert.h"

using namespace enginebench;

static void BM_InvertGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 1);
  for (auto _ : state) benchmark::DoNotOptimize(Invert(&img, nullptr));
}
ENGINE_BENCH(BM_InvertGray8);

static void BM_InvertRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 4);
  for (auto _ : state) benchmark::DoNotOptimize(Invert(&img, nullptr));
}
ENGINE_BENCH(BM_InvertRgb24);

static void BM_InvertRgb48(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 5);
  for (auto _ : state) benchmark::DoNotOptimize(Invert(&img, nullptr));
}
ENGINE_BENCH(BM_InvertRgb48);

// A VGA gray picture: too little work to be worth waking the pool, so all workers must cost
// what one does.
static void BM_InvertGray8Vga(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  img.Allocate(640, 480, 1);
  for (auto _ : state) benchmark::DoNotOptimize(Invert(&img, nullptr));
}
ENGINE_BENCH(BM_InvertGray8Vga);

static void BM_InvertCmyk(benchmark::State& state) {  // accessor path
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, 9);
  for (auto _ : state) benchmark::DoNotOptimize(Invert(&img, nullptr));
}
ENGINE_BENCH(BM_InvertCmyk);

#ifdef QV_HAVE_OPENCV
static void BM_CvBitwiseNotGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1);
  for (auto _ : state) cv::bitwise_not(m, m);
}
ENGINE_BENCH(BM_CvBitwiseNotGray8);

static void BM_CvBitwiseNotGray8Vga(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m(480, 640, CV_8UC1, cv::Scalar(7));
  for (auto _ : state) cv::bitwise_not(m, m);
}
ENGINE_BENCH(BM_CvBitwiseNotGray8Vga);

static void BM_CvBitwiseNotRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3);
  for (auto _ : state) cv::bitwise_not(m, m);
}
ENGINE_BENCH(BM_CvBitwiseNotRgb24);
#endif
