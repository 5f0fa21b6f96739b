// Pixel value adjustment on 1920 x 1080 pictures, one worker and all: "adjustment" beside
// OpenCV's LUT (8-bit, the same table) and subtract with a scalar (16-bit), "setting" beside
// Mat::setTo.
#include "bench/engine/engine_bench_util.h"
#include "filters/colour_pixel/clear.h"

using namespace enginebench;

namespace {

const RoiRect kWhole{0, 0, W - 1, H - 1};
constexpr uint8_t kValue = 40;  // shift -88: some samples clamp, most do not

void Adjust(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, format);
  for (auto _ : state) ClearRect(&img, kWhole, ClearModeAdjustment, kValue);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes(img)));
}

void Set(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, format);
  for (auto _ : state) ClearRect(&img, kWhole, ClearModeSetting, kValue);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes(img)));
}

}  // namespace

static void BM_AdjustRgb24(benchmark::State& state) { Adjust(state, ImgFormatRgb24); }
ENGINE_BENCH(BM_AdjustRgb24);
static void BM_AdjustGray16(benchmark::State& state) { Adjust(state, ImgFormatGray16); }
ENGINE_BENCH(BM_AdjustGray16);
static void BM_SetRgb24(benchmark::State& state) { Set(state, ImgFormatRgb24); }
ENGINE_BENCH(BM_SetRgb24);
static void BM_SetGray16(benchmark::State& state) { Set(state, ImgFormatGray16); }
ENGINE_BENCH(BM_SetGray16);

#ifdef QV_HAVE_OPENCV
static void BM_CvLutRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3);
  cv::Mat lut(1, 256, CV_8UC1);
  for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = cv::saturate_cast<uint8_t>(i + kValue - 128);
  for (auto _ : state) cv::LUT(m, lut, m);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvLutRgb24);

static void BM_CvSubtractGray16(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_16UC1);
  const cv::Scalar shift((128 - kValue) * 257);
  for (auto _ : state) cv::subtract(m, shift, m);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvSubtractGray16);

static void BM_CvSetToRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3);
  for (auto _ : state) m.setTo(cv::Scalar::all(kValue));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvSetToRgb24);

static void BM_CvSetToGray16(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_16UC1);
  for (auto _ : state) m.setTo(cv::Scalar::all(kValue * 257));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvSetToGray16);
#endif
