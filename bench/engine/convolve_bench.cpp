// Convolution, median, up-conversion, equalisation and particle separation on 1920 x 1080
// pictures, one worker and all; OpenCV filter2D, medianBlur, equalizeHist and
// distanceTransform beside them where found.
#include <cstring>
#include <random>
#include <vector>

#include "bench/engine/engine_bench_util.h"
#include "engine/convolve.h"
#include "engine/equalize.h"
#include "engine/separate.h"
#include "engine/upconvert.h"

using namespace enginebench;

namespace {

// The convolution filter's kind of kernel: a centred smoothing of size x size.
std::vector<int32_t> Kernel(int32_t size) {
  std::vector<int32_t> k(size_t(size) * size);
  for (int32_t j = 0; j < size; ++j)
    for (int32_t i = 0; i < size; ++i) k[size_t(j) * size + i] = 1 + (i == size / 2) + (j == size / 2);
  return k;
}

void ConvInt(benchmark::State& state, int32_t format, int32_t size) {
  Workers(state, state.range(0));
  Fixture f(format);
  const std::vector<int32_t> k = Kernel(size);
  for (auto _ : state) benchmark::DoNotOptimize(ConvolveInt(&f.img, uint64_t(size), k.data(), 1, 1, nullptr));
}
void Median(benchmark::State& state, int32_t format, int32_t size) {
  Workers(state, state.range(0));
  Fixture f(format);
  for (auto _ : state) benchmark::DoNotOptimize(MedianFilter(&f.img, uint64_t(size), nullptr));
}

// A few thousand touching discs.
void Particles(CImgBuff& img) {
  img.Allocate(W, H, 1);
  std::mt19937 rng(3);
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (int k = 0; k < 4000; ++k) {
    const int cx = int(rng() % W), cy = int(rng() % H), r = 4 + int(rng() % 8);
    for (int y = std::max(0, cy - r); y <= std::min(H - 1, cy + r); ++y)
      for (int x = std::max(0, cx - r); x <= std::min(W - 1, cx + r); ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) p[size_t(y) * W + x] = 255;
  }
}

}  // namespace

static void BM_ConvolveInt3Gray8(benchmark::State& s) { ConvInt(s, 1, 3); }
static void BM_ConvolveInt5Gray8(benchmark::State& s) { ConvInt(s, 1, 5); }
static void BM_ConvolveInt9Gray8(benchmark::State& s) { ConvInt(s, 1, 9); }
static void BM_ConvolveInt3Gray16(benchmark::State& s) { ConvInt(s, 2, 3); }
static void BM_ConvolveInt5Gray16(benchmark::State& s) { ConvInt(s, 2, 5); }
static void BM_ConvolveInt9Gray16(benchmark::State& s) { ConvInt(s, 2, 9); }
static void BM_ConvolveInt3Rgb24(benchmark::State& s) { ConvInt(s, 4, 3); }
ENGINE_BENCH(BM_ConvolveInt3Gray8);
ENGINE_BENCH(BM_ConvolveInt5Gray8);
ENGINE_BENCH(BM_ConvolveInt9Gray8);
ENGINE_BENCH(BM_ConvolveInt3Gray16);
ENGINE_BENCH(BM_ConvolveInt5Gray16);
ENGINE_BENCH(BM_ConvolveInt9Gray16);
ENGINE_BENCH(BM_ConvolveInt3Rgb24);

// The 5 x 5 binomial (1 4 6 4 1 by itself), a kernel that splits into a row and a column.
static void BM_ConvolveIntBinomial5Gray8(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture f(1);
  const int32_t b[5] = {1, 4, 6, 4, 1};
  int32_t k[25];
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 5; ++i) k[j * 5 + i] = b[j] * b[i];
  for (auto _ : state) benchmark::DoNotOptimize(ConvolveInt(&f.img, 5, k, 1, 1, nullptr));
}
ENGINE_BENCH(BM_ConvolveIntBinomial5Gray8);

static void BM_ConvolveDoubleGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture f(1);
  const double k[9] = {1, 2, 1, 2, 3, 2, 1, 2, 1};
  for (auto _ : state) benchmark::DoNotOptimize(ConvolveDouble(&f.img, nullptr, k));
}
ENGINE_BENCH(BM_ConvolveDoubleGray8);

static void BM_Median3Gray8(benchmark::State& s) { Median(s, 1, 3); }
static void BM_Median5Gray8(benchmark::State& s) { Median(s, 1, 5); }
static void BM_Median9Gray8(benchmark::State& s) { Median(s, 1, 9); }
static void BM_Median3Gray16(benchmark::State& s) { Median(s, 2, 3); }
static void BM_Median5Gray16(benchmark::State& s) { Median(s, 2, 5); }
static void BM_Median9Gray16(benchmark::State& s) { Median(s, 2, 9); }
static void BM_Median3Rgb24(benchmark::State& s) { Median(s, 4, 3); }
static void BM_Median5Rgb24(benchmark::State& s) { Median(s, 4, 5); }
static void BM_Median3Rgb48(benchmark::State& s) { Median(s, 5, 3); }
static void BM_Median5Rgb48(benchmark::State& s) { Median(s, 5, 5); }
static void BM_Median7Gray8(benchmark::State& s) { Median(s, 1, 7); }
static void BM_Median3Gray32(benchmark::State& s) { Median(s, 3, 3); }
static void BM_Median5Gray32(benchmark::State& s) { Median(s, 3, 5); }
// The picture's inner 1900 x 1060: the in-place path with a rectangle of interest.
static void BM_Median5Gray8Rect(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture f(1);
  const RoiRect r{10, 10, W - 11, H - 11};
  for (auto _ : state) benchmark::DoNotOptimize(MedianFilter(&f.img, 5, &r));
}
ENGINE_BENCH(BM_Median3Gray8);
ENGINE_BENCH(BM_Median5Gray8);
ENGINE_BENCH(BM_Median9Gray8);
ENGINE_BENCH(BM_Median3Gray16);
ENGINE_BENCH(BM_Median5Gray16);
ENGINE_BENCH(BM_Median9Gray16);
ENGINE_BENCH(BM_Median3Rgb24);
ENGINE_BENCH(BM_Median5Rgb24);
ENGINE_BENCH(BM_Median3Rgb48);
ENGINE_BENCH(BM_Median5Rgb48);
ENGINE_BENCH(BM_Median7Gray8);
ENGINE_BENCH(BM_Median3Gray32);
ENGINE_BENCH(BM_Median5Gray32);
ENGINE_BENCH(BM_Median5Gray8Rect);

static void BM_UpConvertGray8To16(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff src, img;
  Fill(src, 1);
  for (auto _ : state) {
    state.PauseTiming();
    img.CopyFrom(src);
    state.ResumeTiming();
    benchmark::DoNotOptimize(UpConvert(&img, 16));
  }
}
ENGINE_BENCH(BM_UpConvertGray8To16);

static void BM_EqualizeGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture f(1);
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(EqualizeHistogram(&f.img, nullptr));
  }
}
ENGINE_BENCH(BM_EqualizeGray8);

static void BM_EqualizeGray16(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture f(2);
  for (auto _ : state) {
    state.PauseTiming();
    f.Restore();
    state.ResumeTiming();
    benchmark::DoNotOptimize(EqualizeHistogram(&f.img, nullptr));
  }
}
ENGINE_BENCH(BM_EqualizeGray16);

static void BM_SeparateParticles(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff src, img;
  Particles(src);
  for (auto _ : state) {
    state.PauseTiming();
    img.CopyFrom(src);
    state.ResumeTiming();
    benchmark::DoNotOptimize(SeparateParticles(&img, 0, 8, 0, nullptr));
  }
}
ENGINE_BENCH(BM_SeparateParticles);

#ifdef QV_HAVE_OPENCV
namespace {
void CvFilter(benchmark::State& state, int type, int size) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(type), out;
  std::vector<int32_t> k = Kernel(size);
  cv::Mat kf(size, size, CV_32F);
  double sum = 0;
  for (int i = 0; i < size * size; ++i) sum += k[size_t(i)];
  for (int i = 0; i < size * size; ++i) kf.at<float>(i / size, i % size) = float(k[size_t(i)] / sum);
  for (auto _ : state) cv::filter2D(m, out, -1, kf);
}
void CvMedian(benchmark::State& state, int type, int size) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(type), out;
  for (auto _ : state) cv::medianBlur(m, out, size);
}
}  // namespace
static void BM_CvFilter2D3Gray8(benchmark::State& s) { CvFilter(s, CV_8UC1, 3); }
static void BM_CvFilter2D5Gray8(benchmark::State& s) { CvFilter(s, CV_8UC1, 5); }
static void BM_CvFilter2D9Gray8(benchmark::State& s) { CvFilter(s, CV_8UC1, 9); }
static void BM_CvFilter2D3Gray16(benchmark::State& s) { CvFilter(s, CV_16UC1, 3); }
static void BM_CvFilter2D5Gray16(benchmark::State& s) { CvFilter(s, CV_16UC1, 5); }
static void BM_CvFilter2D9Gray16(benchmark::State& s) { CvFilter(s, CV_16UC1, 9); }
static void BM_CvFilter2D3Rgb24(benchmark::State& s) { CvFilter(s, CV_8UC3, 3); }
ENGINE_BENCH(BM_CvFilter2D3Gray8);
ENGINE_BENCH(BM_CvFilter2D5Gray8);
ENGINE_BENCH(BM_CvFilter2D9Gray8);
ENGINE_BENCH(BM_CvFilter2D3Gray16);
ENGINE_BENCH(BM_CvFilter2D5Gray16);
ENGINE_BENCH(BM_CvFilter2D9Gray16);
ENGINE_BENCH(BM_CvFilter2D3Rgb24);
static void BM_CvMedian3Gray8(benchmark::State& s) { CvMedian(s, CV_8UC1, 3); }
static void BM_CvMedian5Gray8(benchmark::State& s) { CvMedian(s, CV_8UC1, 5); }
static void BM_CvMedian9Gray8(benchmark::State& s) { CvMedian(s, CV_8UC1, 9); }
static void BM_CvMedian3Gray16(benchmark::State& s) { CvMedian(s, CV_16UC1, 3); }
static void BM_CvMedian5Gray16(benchmark::State& s) { CvMedian(s, CV_16UC1, 5); }
static void BM_CvMedian3Rgb24(benchmark::State& s) { CvMedian(s, CV_8UC3, 3); }
static void BM_CvMedian5Rgb24(benchmark::State& s) { CvMedian(s, CV_8UC3, 5); }
static void BM_CvMedian3Rgb48(benchmark::State& s) { CvMedian(s, CV_16UC3, 3); }
static void BM_CvMedian5Rgb48(benchmark::State& s) { CvMedian(s, CV_16UC3, 5); }
static void BM_CvMedian7Gray8(benchmark::State& s) { CvMedian(s, CV_8UC1, 7); }
ENGINE_BENCH(BM_CvMedian3Gray8);
ENGINE_BENCH(BM_CvMedian5Gray8);
ENGINE_BENCH(BM_CvMedian9Gray8);
ENGINE_BENCH(BM_CvMedian3Gray16);
ENGINE_BENCH(BM_CvMedian5Gray16);
ENGINE_BENCH(BM_CvMedian3Rgb24);
ENGINE_BENCH(BM_CvMedian5Rgb24);
ENGINE_BENCH(BM_CvMedian3Rgb48);
ENGINE_BENCH(BM_CvMedian5Rgb48);
ENGINE_BENCH(BM_CvMedian7Gray8);

// GaussianBlur with the binomial 5 x 5 weights (sigma 0 at size 5 gives 1 4 6 4 1 / 16).
static void BM_CvGaussianBlur5Gray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1), out;
  for (auto _ : state) cv::GaussianBlur(m, out, cv::Size(5, 5), 0, 0, cv::BORDER_REPLICATE);
}
ENGINE_BENCH(BM_CvGaussianBlur5Gray8);

static void BM_CvEqualizeHistGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1), out;
  for (auto _ : state) cv::equalizeHist(m, out);
}
ENGINE_BENCH(BM_CvEqualizeHistGray8);

static void BM_CvDistanceTransformC(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff src;
  Particles(src);
  cv::Mat m(H, W, CV_8UC1, src.Pixels()), out;
  for (auto _ : state) cv::distanceTransform(m, out, cv::DIST_C, 3, CV_8U);
}
ENGINE_BENCH(BM_CvDistanceTransformC);
#endif
