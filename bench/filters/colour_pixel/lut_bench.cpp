// Pseudo-colour mapping on 1920 x 1080 pictures, one worker and all: a gray table on 8-bit
// gray beside OpenCV's LUT on one channel, a colour table on 24-bit colour (indexed by the
// luma, three entries written) beside OpenCV's LUT with a three-channel table.
#include "bench/engine/engine_bench_util.h"
#include "filters/colour_pixel/lut.h"

using namespace enginebench;

namespace {

const RoiRect kWhole{0, 0, W - 1, H - 1};

void Map(benchmark::State& state, int32_t format, int32_t preset) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, format);
  LutTables t{};
  LutPreset(preset, &t);
  const int32_t gray = LutIsGray(t);
  for (auto _ : state) LutMapRect(&img, t, gray, kWhole);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes(img)));
}

}  // namespace

static void BM_LutGray8(benchmark::State& state) { Map(state, ImgFormatGray8, 103); }
ENGINE_BENCH(BM_LutGray8);
static void BM_LutColourRgb24(benchmark::State& state) { Map(state, ImgFormatRgb24, 101); }
ENGINE_BENCH(BM_LutColourRgb24);

#ifdef QV_HAVE_OPENCV
static void BM_CvLutGray8(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1);
  cv::Mat lut(1, 256, CV_8UC1);
  for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = uint8_t(255 - i);
  for (auto _ : state) cv::LUT(m, lut, m);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvLutGray8);

static void BM_CvLutRgb24(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3);
  cv::Mat lut(1, 256, CV_8UC3);
  for (int i = 0; i < 256 * 3; ++i) lut.data[i] = uint8_t(i * 7);
  for (auto _ : state) cv::LUT(m, lut, m);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvLutRgb24);
#endif
