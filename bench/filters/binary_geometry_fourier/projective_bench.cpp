// The projective transformation of a 1920 x 1080 8-bit R, G, B frame (pan 20, tilt -10),
// one worker and all, beside OpenCV's bilinear warpPerspective of the same size.
#include "bench/engine/engine_bench_util.h"
#include "app/cfgfile.h"
#include "filters/binary_geometry_fourier/projective.h"

using namespace enginebench;

static void BM_Projective(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture fx(ImgFormatRgb24);
  CLfPtrans f;
  f.m_sourceWidth = W;
  f.m_sourceHeight = H;
  CCfgPack pack;
  pack.AddItem(L"f", L"8");
  pack.AddItem(L"size_pixel_us", L"5");
  pack.AddItem(L"pan", L"20");
  pack.AddItem(L"tilt", L"-10");
  f.LoadParams(&pack);
  for (auto _ : state) {
    f.Process(&fx.img, 0, 0, 0, W, H, 8, 0);
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
}
ENGINE_BENCH(BM_Projective);

#ifdef QV_HAVE_OPENCV
static void BM_CvWarpPerspective(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), out;
  const cv::Point2f from[4] = {{0, 0}, {1919, 0}, {1919, 1079}, {0, 1079}};
  const cv::Point2f to[4] = {{120, 40}, {1800, 0}, {1919, 1079}, {0, 1000}};
  const cv::Mat h = cv::getPerspectiveTransform(from, to);
  for (auto _ : state) cv::warpPerspective(m, out, h, m.size(), cv::INTER_LINEAR);
}
ENGINE_BENCH(BM_CvWarpPerspective);
#endif
