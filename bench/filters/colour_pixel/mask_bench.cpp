// Mask subtraction on 1920 x 1080 pictures, one worker and all: 8-bit gray, 24-bit colour
// and 16-bit gray frames minus a mask of their own format, beside OpenCV's saturating
// subtract of two pictures.
#include "bench/engine/engine_bench_util.h"
#include "filters/colour_pixel/mask.h"

using namespace enginebench;

namespace {

const RoiRect kWhole{0, 0, W - 1, H - 1};

void Subtract(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  CImgBuff frame, mask;
  Fill(frame, format);
  Fill(mask, format, 7);
  for (auto _ : state) MaskApply(&frame, &mask, 0, 65535, kWhole);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes(frame)));
}

}  // namespace

static void BM_MaskGray8(benchmark::State& state) { Subtract(state, ImgFormatGray8); }
ENGINE_BENCH(BM_MaskGray8);
static void BM_MaskRgb24(benchmark::State& state) { Subtract(state, ImgFormatRgb24); }
ENGINE_BENCH(BM_MaskRgb24);
static void BM_MaskGray16(benchmark::State& state) { Subtract(state, ImgFormatGray16); }
ENGINE_BENCH(BM_MaskGray16);

#ifdef QV_HAVE_OPENCV
static void CvSubtract(benchmark::State& state, int type) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(type), k = RandomMat(type, 7);
  for (auto _ : state) cv::subtract(m, k, m);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
static void BM_CvSubtractGray8(benchmark::State& state) { CvSubtract(state, CV_8UC1); }
ENGINE_BENCH(BM_CvSubtractGray8);
static void BM_CvSubtractRgb24(benchmark::State& state) { CvSubtract(state, CV_8UC3); }
ENGINE_BENCH(BM_CvSubtractRgb24);
static void BM_CvSubtractGray16(benchmark::State& state) { CvSubtract(state, CV_16UC1); }
ENGINE_BENCH(BM_CvSubtractGray16);
#endif
