// Zoom (a turned rectangle enlarged over the whole frame) of a 1920 x 1080 8-bit R, G, B
// frame, one worker and all, beside OpenCV's bilinear warpAffine of the same size.
#include "bench/engine/engine_bench_util.h"
#include "app/cfgfile.h"
#include "filters/binary_geometry_fourier/zoom.h"

using namespace enginebench;

static void BM_Zoom(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture fx(ImgFormatRgb24);
  CLfAtrans f;
  CCfgPack pack;
  pack.AddItem(L"enable", L"1");
  pack.AddItem(L"diagonal", L"400,300,1300,900");
  f.LoadParams(&pack);
  for (auto _ : state) {
    f.Process(&fx.img, 0, 0, 0, W, H, 8, 0);
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
}
ENGINE_BENCH(BM_Zoom);

#ifdef QV_HAVE_OPENCV
static void BM_CvWarpAffine(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), out;
  const cv::Mat a = cv::getRotationMatrix2D(cv::Point2f(850, 600), -20, 2.0);
  for (auto _ : state) cv::warpAffine(m, out, a, m.size(), cv::INTER_LINEAR);
}
ENGINE_BENCH(BM_CvWarpAffine);

#endif
