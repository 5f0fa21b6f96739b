// Colour extraction of a 1920 x 1080 8-bit R, G, B frame, one worker and all: the filter's
// run without and with the tinted preview, beside OpenCV's cvtColor to HSV and inRange.
#include "bench/engine/engine_bench_util.h"
#include "app/cfgfile.h"
#include "filters/binary_geometry_fourier/extract.h"

using namespace enginebench;

namespace {

// Hue 40000 +/- 8000 (about 220 +/- 44 degrees), saturation and value from 5000.
void Configure(CLfExtract* f, int32_t preview) {
  CCfgPack pack;
  pack.AddItem(L"hc", L"40000");
  pack.AddItem(L"hw", L"8000");
  pack.AddItem(L"s", L"5000,65535");
  pack.AddItem(L"v", L"5000,65535");
  f->LoadParams(&pack);
  if (preview) {
    f->m_previewBox.m_checked = 1;
    f->m_previewBox.m_callback(&f->m_previewBox, f->m_previewBox.m_user);
  }
}

void Extract(benchmark::State& state, int32_t preview) {
  Workers(state, state.range(0));
  Fixture fx(ImgFormatRgb24);
  CLfExtract f;
  Configure(&f, preview);
  for (auto _ : state) {
    f.Process(&fx.img, 0, 0, 0, W, H, 8, 0);
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes(fx.img)));
}

}  // namespace

static void BM_Extract(benchmark::State& state) { Extract(state, 0); }
ENGINE_BENCH(BM_Extract);
static void BM_ExtractPreview(benchmark::State& state) { Extract(state, 1); }
ENGINE_BENCH(BM_ExtractPreview);

#ifdef QV_HAVE_OPENCV
// The same window in OpenCV's 8-bit HSV (hue in 2-degree steps, 0 to 180).
static void BM_CvCvtColorInRange(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3), hsv, mask;
  const double lo = (40000 - 8000) * 60.0 / 10922 / 2, hi = (40000 + 8000) * 60.0 / 10922 / 2;
  for (auto _ : state) {
    cv::cvtColor(m, hsv, cv::COLOR_RGB2HSV);
    cv::inRange(hsv, cv::Scalar(lo, 19, 19), cv::Scalar(hi, 255, 255), mask);
    benchmark::DoNotOptimize(mask.data);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m.total() * m.elemSize()));
}
ENGINE_BENCH(BM_CvCvtColorInRange);
#endif
