// Colour map counting on a 1920 x 1080 8-bit R,G,B frame, each view, one worker and all,
// beside OpenCV's cvtColor to Lab plus calcHist of a* and b* (the nearest yardstick of the
// a*b* view).  The whole filter run (count, paint, upload) is measured too.  The first frame
// of a new colour set fills the per-colour cell table; BM_CountLabColdCache shows that cost.
#include "bench/engine/engine_bench_util.h"
#include "filters/colour_pixel/colormap.h"

#include <vector>

using namespace enginebench;

namespace {

const RoiRect kWhole{0, 0, W - 1, H - 1};

void Count(benchmark::State& state, uint32_t view) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, ImgFormatRgb24);
  std::vector<uint32_t> counts(65536);
  for (auto _ : state) benchmark::DoNotOptimize(ColorMapCount(&img, kWhole, view, counts.data()));
  state.SetItemsProcessed(int64_t(state.iterations()) * W * H);
}

}  // namespace

static void BM_CountXy(benchmark::State& state) { Count(state, ColorMapXy); }
ENGINE_BENCH(BM_CountXy);
static void BM_CountLab(benchmark::State& state) { Count(state, ColorMapLab); }
ENGINE_BENCH(BM_CountLab);
static void BM_CountHsv(benchmark::State& state) { Count(state, ColorMapHsv); }
ENGINE_BENCH(BM_CountHsv);

static void BM_CountLabColdCache(benchmark::State& state) {
  Workers(state, state.range(0));
  std::vector<uint32_t> counts(65536);
  uint32_t seed = 1000;
  for (auto _ : state) {
    state.PauseTiming();
    CImgBuff img;
    Fill(img, ImgFormatRgb24, seed++);  // new random colours: mostly unseen cells
    state.ResumeTiming();
    benchmark::DoNotOptimize(ColorMapCount(&img, kWhole, ColorMapLab, counts.data()));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * W * H);
}
BENCHMARK(BM_CountLabColdCache)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(8);

static void BM_FilterRunLab(benchmark::State& state) {
  Workers(state, state.range(0));
  CImgBuff img;
  Fill(img, ImgFormatRgb24);
  CLfColorMap map;
  map.OnCommand(102);
  for (auto _ : state) map.Process(&img, 0, 0, 0, W, H, 0, 0);
  state.SetItemsProcessed(int64_t(state.iterations()) * W * H);
}
ENGINE_BENCH(BM_FilterRunLab);

#ifdef QV_HAVE_OPENCV
static void BM_CvLabHist(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC3);
  cv::Mat lab, hist;
  const int channels[] = {1, 2};
  const int sizes[] = {256, 256};
  const float range[] = {0, 256};
  const float* ranges[] = {range, range};
  for (auto _ : state) {
    cv::cvtColor(m, lab, cv::COLOR_RGB2Lab);
    cv::calcHist(&lab, 1, channels, cv::Mat(), hist, 2, sizes, ranges);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * W * H);
}
ENGINE_BENCH(BM_CvLabHist);
#endif
