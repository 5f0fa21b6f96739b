// Template matching on a 1920 x 1080 picture: a 32 x 32 template searched in a +/-32 pixel
// window (65 x 65 positions) in gray, R, G, B and L*a*b*, exhaustively and with the pyramid;
// the sub-pixel refinement; one worker and all.  OpenCV matchTemplate (TM_SQDIFF, and
// TM_CCOEFF_NORMED beside the normalised search) over the same 96 x 96 search area.
#include "bench/engine/engine_bench_util.h"
#include "engine/match.h"
#include "engine/shift.h"

using namespace enginebench;

namespace {

constexpr int32_t kTx = 900, kTy = 500, kT = 32, kR = 32;

struct MatchFixture {
  CImgBuff img, tpl;
  explicit MatchFixture(int32_t format, int32_t fractional = 0) {
    Fill(img, format);
    img.Crop(tpl, kTx + 3, kTy - 2, kTx + 3 + kT - 1, kTy - 2 + kT - 1);
    // A template a fraction of a pixel off, so that the refinement descends all its levels.
    if (fractional) ShiftImage(&tpl, 0.37, -0.21, 0);
  }
};

void RunMatch(benchmark::State& state, int32_t format, int32_t colourMode, int32_t pyramid) {
  Workers(state, state.range(0));
  MatchFixture f(format);
  int32_t x = 0, y = 0;
  double s = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(MatchTemplate(&f.img, &f.tpl, kTx, kTy, kTx - kR, kTy - kR, kTx + kR, kTy + kR, &x, &y, 0,
                                           colourMode, pyramid, &s, nullptr, nullptr));
  }
  if (x != kTx + 3 || y != kTy - 2) state.SkipWithError("template not found");
}

}  // namespace

static void BM_MatchGray(benchmark::State& state) { RunMatch(state, 1, 0, 0); }
ENGINE_BENCH(BM_MatchGray);
static void BM_MatchGrayPyramid(benchmark::State& state) { RunMatch(state, 1, 0, 1); }
ENGINE_BENCH(BM_MatchGrayPyramid);
static void BM_MatchRgb(benchmark::State& state) { RunMatch(state, 4, 0, 0); }
ENGINE_BENCH(BM_MatchRgb);
static void BM_MatchRgbPyramid(benchmark::State& state) { RunMatch(state, 4, 0, 1); }
ENGINE_BENCH(BM_MatchRgbPyramid);
static void BM_MatchLab(benchmark::State& state) { RunMatch(state, 4, 1, 0); }
ENGINE_BENCH(BM_MatchLab);
static void BM_MatchLabPyramid(benchmark::State& state) { RunMatch(state, 4, 1, 1); }
ENGINE_BENCH(BM_MatchLabPyramid);

static void BM_MatchGrayNormalised(benchmark::State& state) {
  Workers(state, state.range(0));
  MatchFixture f(1);
  int32_t x, y;
  double s;
  for (auto _ : state)
    benchmark::DoNotOptimize(MatchTemplate(&f.img, &f.tpl, kTx, kTy, kTx - kR, kTy - kR, kTx + kR, kTy + kR, &x, &y,
                                           1, 0, 0, &s, nullptr, nullptr));
}
ENGINE_BENCH(BM_MatchGrayNormalised);

// Refinement around a whole-pixel answer with the stabilisation's step of 0.1 (six levels).
static void BM_SubpixelGray(benchmark::State& state) {
  Workers(state, state.range(0));
  MatchFixture f(1, 1);
  double fx, fy, s;
  for (auto _ : state)
    benchmark::DoNotOptimize(MatchTemplateSubpixel(&f.img, &f.tpl, kTx + 3, kTy - 2, &fx, &fy, 0, 0, 0.1, &s,
                                                   nullptr, nullptr));
}
ENGINE_BENCH(BM_SubpixelGray);

static void BM_SubpixelRgb(benchmark::State& state) {
  Workers(state, state.range(0));
  MatchFixture f(4, 1);
  double fx, fy, s;
  for (auto _ : state)
    benchmark::DoNotOptimize(MatchTemplateSubpixel(&f.img, &f.tpl, kTx + 3, kTy - 2, &fx, &fy, 0, 0, 0.1, &s,
                                                   nullptr, nullptr));
}
ENGINE_BENCH(BM_SubpixelRgb);

#ifdef QV_HAVE_OPENCV
static void RunCv(benchmark::State& state, int type) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(type);
  const cv::Mat area = m(cv::Rect(kTx - kR, kTy - kR, 2 * kR + kT, 2 * kR + kT));
  const cv::Mat tpl = m(cv::Rect(kTx + 3, kTy - 2, kT, kT)).clone();
  cv::Mat result;
  for (auto _ : state) {
    cv::matchTemplate(area, tpl, result, cv::TM_SQDIFF);
    double mn;
    cv::Point at;
    cv::minMaxLoc(result, &mn, nullptr, &at, nullptr);
    benchmark::DoNotOptimize(at);
  }
}
// The contrast-normalised counterpart of the normalised search.
static void BM_CvMatchTemplateCcoeffNormedGray(benchmark::State& state) {
  Workers(state, state.range(0));
  cv::Mat m = RandomMat(CV_8UC1);
  const cv::Mat area = m(cv::Rect(kTx - kR, kTy - kR, 2 * kR + kT, 2 * kR + kT));
  const cv::Mat tpl = m(cv::Rect(kTx + 3, kTy - 2, kT, kT)).clone();
  cv::Mat result;
  for (auto _ : state) {
    cv::matchTemplate(area, tpl, result, cv::TM_CCOEFF_NORMED);
    double mx;
    cv::Point at;
    cv::minMaxLoc(result, nullptr, &mx, nullptr, &at);
    benchmark::DoNotOptimize(at);
  }
}
ENGINE_BENCH(BM_CvMatchTemplateCcoeffNormedGray);
static void BM_CvMatchTemplateGray(benchmark::State& state) { RunCv(state, CV_8UC1); }
ENGINE_BENCH(BM_CvMatchTemplateGray);
static void BM_CvMatchTemplateRgb(benchmark::State& state) { RunCv(state, CV_8UC3); }
ENGINE_BENCH(BM_CvMatchTemplateRgb);
#endif
