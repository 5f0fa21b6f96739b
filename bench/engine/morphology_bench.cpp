// Binary morphology on a 1920 x 1080 binary frame of about 5000 particles: one layer of
// erosion (the caller's mask included, as the binary filter makes it) and dilation, outline,
// hole filling and thinning; OpenCV's erode and dilate (3 x 3 square) beside them.
#include "bench/engine/engine_bench_util.h"
#include "engine/morphology.h"

using namespace enginebench;

namespace {

CImgBuff& Frame() {
  static CImgBuff img;
  if (!img.Pixels()) {
    img.Allocate(W, H, 1);
    uint8_t* p = static_cast<uint8_t*>(img.Pixels());
    std::mt19937 rng(5);
    for (int k = 0; k < 5000; ++k) {
      const int r = 2 + int(rng() % 5), cx = r + int(rng() % (W - 2 * r)), cy = r + int(rng() % (H - 2 * r));
      const bool ring = k % 5 == 0;
      for (int y = -r; y <= r; ++y)
        for (int x = -r; x <= r; ++x) {
          const int d = x * x + y * y;
          if (d <= r * r && (!ring || d >= (r - 2) * (r - 2))) p[(cy + y) * W + cx + x] = 255;
        }
    }
  }
  return img;
}

// A fresh copy of the frame for every iteration, made outside the timing.
template <class Op>
void RunOnCopy(benchmark::State& state, Op op) {
  CImgBuff img;
  img.Allocate(W, H, 1);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.Pixels(), Frame().Pixels(), size_t(W) * H);
    state.ResumeTiming();
    op(&img);
  }
}

}  // namespace

static void BM_Erode(benchmark::State& state) {
  Workers(state, state.range(0));
  RunOnCopy(state, [](CImgBuff* img) {
    BitMask* m = ImageRegionToBitMask(img, 0, 0, 0, W - 1, H - 1);
    ErodeStep(m, img, 8, 0, 0, 0, W - 1, H - 1);
    BitMaskDestroy(m);
  });
}
ENGINE_BENCH(BM_Erode);

static void BM_Dilate(benchmark::State& state) {
  Workers(state, state.range(0));
  RunOnCopy(state, [](CImgBuff* img) { DilateStep(img, 8, 0, nullptr); });
}
ENGINE_BENCH(BM_Dilate);

static void BM_Outline(benchmark::State& state) {
  Workers(state, state.range(0));
  RunOnCopy(state, [](CImgBuff* img) { ExtractOutline(img, 8, 0, nullptr); });
}
ENGINE_BENCH(BM_Outline);

static void BM_FillHoles(benchmark::State& state) {
  Workers(state, state.range(0));
  RunOnCopy(state, [](CImgBuff* img) { FillHoles(img, 8, 0, nullptr); });
}
ENGINE_BENCH(BM_FillHoles);

static void BM_Thin(benchmark::State& state) {
  Workers(state, state.range(0));
  RunOnCopy(state, [](CImgBuff* img) { Thin(img, 8, 0, nullptr); });
}
ENGINE_BENCH(BM_Thin);

#ifdef QV_HAVE_OPENCV
static void BM_CvErode(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat src(H, W, CV_8UC1, Frame().Pixels()), dst;
  const cv::Mat k = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
  for (auto _ : state) cv::erode(src, dst, k);
}
ENGINE_BENCH(BM_CvErode);

static void BM_CvDilate(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat src(H, W, CV_8UC1, Frame().Pixels()), dst;
  const cv::Mat k = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
  for (auto _ : state) cv::dilate(src, dst, k);
}
ENGINE_BENCH(BM_CvDilate);
#endif
