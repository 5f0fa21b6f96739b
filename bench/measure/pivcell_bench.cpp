// pivcell_bench.cpp - the PIV cell matching against an FFT cross-correlation PIV on the same
// pair of 1024 x 1024 particle frames (3-pixel Gaussian particles, 0.03 per pixel, moved by
// (3.25, -1.5)) with 32 x 32 cells: 30 x 30 = 900 vectors per pair, at 1 worker and at 8.
//
//   BM_PivFullSearch  one pair through the tool's own pair work (cut, match, store), full
//                     search ("fast processing" off) or the pyramid
//   BM_FftPiv         per cell, cv::dft of the two windows, the product with the conjugate,
//                     the inverse, the peak and a three-point parabola; cells over OpenCV's
//                     threads
//   BM_PivCellMatcher one cell's whole-pixel search and refinement, for profiling
//
// Two set-ups, the second argument: 0 = the pattern of the cell alone (32 x 32) searched
// over +/-16 pixels (33 x 33 positions) beside 32 x 32 FFT windows, which see the same
// +/-16; 1 = the tool's defaults, the big pattern (64 x 64) over +/-32 (65 x 65 positions)
// beside 64 x 64 windows.
// The ratios are taken from one run with interleaved repetitions:
//   bench_measure_pivcell_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//                               --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "engine/match.h"
#include "measure/piv.h"
#include "tests/measure/piv_fixture.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int32_t kSide = 1024, kCell = 32;
constexpr double kShiftX = 3.25, kShiftY = -1.5;

struct Frames {
  CImgBuff a, b;
  Frames()
  {
    std::mt19937 rng(11);
    const auto particles = PivRandomParticles(kSide, kSide, 0.03, &rng);
    PivRenderParticles(&a, kSide, kSide, particles, 0, 0, 0);
    PivRenderParticles(&b, kSide, kSide, particles, kShiftX, kShiftY, 0);
  }
};

const Frames& TheFrames()
{
  static const Frames frames;
  return frames;
}

void UseWorkers(benchmark::State& state, int64_t n)
{
  static CImgBuff keepPoolRunning;  // holds the pool for the whole program
  StartWorkerPool();
  const uint64_t all = GetProcessorCount();
  const uint64_t want = uint64_t(n) < all ? uint64_t(n) : all;
  SetWorkerCount(want);
#ifdef QV_HAVE_OPENCV
  cv::setNumThreads(int(want));
#endif
  state.SetLabel(std::to_string(want) + (want == 1 ? " worker" : " workers") +
                 (state.range(1) ? ", pattern 64, +/-32" : ", pattern 32, +/-16"));
}

void CountRight(benchmark::State& state, int64_t right, int64_t vectors)
{
  state.SetItemsProcessed(state.iterations() * vectors);
  state.counters["vectors"] = double(vectors);
  state.counters["right_share"] = vectors ? double(right) / double(vectors) : 0;
}

// Arguments: workers, set-up, method (0 pyramid, 1 full search).
void BM_PivFullSearch(benchmark::State& state)
{
  UseWorkers(state, state.range(0));
  const Frames& f = TheFrames();
  CFlowData field;
  if (!field.CreateForImage(kSide - 1, kSide - 1, kCell, 2)) {
    state.SkipWithError("no field");
    return;
  }
  for (auto _ : state) {
    PivJob job;
    job.previous = const_cast<CImgBuff*>(&f.a);
    job.current = const_cast<CImgBuff*>(&f.b);
    job.scene = 1;
    job.method = int32_t(state.range(2));
    job.large = state.range(1) ? 1 : 0;
    job.factor = state.range(1) ? 1 : -2;
    job.field = &field;
    CLfPiv::WorkerBody(&job);
    if (job.result.load() != 1) state.SkipWithError("pair failed");
  }
  int64_t right = 0;
  for (int32_t y = 0; y < field.Ny(); ++y)
    for (int32_t x = 0; x < field.Nx(); ++x) {
      const FlowVector* v = field.GetVector(x, y, 1);
      right += std::fabs(v->dx - kShiftX) < 0.5 && std::fabs(v->dy - kShiftY) < 0.5;
    }
  CountRight(state, right, int64_t(field.Nx()) * field.Ny());
}
BENCHMARK(BM_PivFullSearch)
    ->ArgsProduct({{1, 8}, {0, 1}, {1}})
    ->Args({1, 1, 0})
    ->Args({8, 1, 0})
    ->ArgNames({"workers", "setup", "method"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One cell in the middle of the frames, matched as the pair work matches it.
void BM_PivCellMatcher(benchmark::State& state)
{
  UseWorkers(state, 1);
  const Frames& f = TheFrames();
  const int32_t large = state.range(1) ? 1 : 0;
  const int32_t grow = large ? kCell / 2 : 0, range = large ? kCell : kCell / 2;
  const int32_t x0 = 496 - grow, y0 = 496 - grow;
  CImgBuff pattern;
  f.b.Crop(pattern, x0, y0, x0 + kCell + 2 * grow - 1, y0 + kCell + 2 * grow - 1);
  CImgBuff* searched = const_cast<CImgBuff*>(&f.a);
  const int32_t refine = int32_t(state.range(2));
  for (auto _ : state) {
    int32_t X = 0, Y = 0;
    double score = 0, fx = 0, fy = 0;
    MatchTemplate(searched, &pattern, x0, y0, x0 - range, y0 - range, x0 + range, y0 + range, &X, &Y, 1, 0, 0, &score,
                  nullptr, nullptr);
    if (refine)
      MatchTemplateSubpixelRange(searched, &pattern, X - 1, Y - 1, X + 1, Y + 1, &fx, &fy, 1, 0, 0.5, &score, nullptr,
                                 nullptr);
    benchmark::DoNotOptimize(fx);
  }
}
BENCHMARK(BM_PivCellMatcher)
    ->ArgsProduct({{1}, {0, 1}, {0, 1}})
    ->ArgNames({"workers", "setup", "refine"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

#ifdef QV_HAVE_OPENCV
// The displacement of the peak of a window pair's cross-correlation, to a tenth of a pixel
// or so by a parabola through the peak and its two neighbours on each axis.
struct FftWindows {
  cv::Mat a, b, fa, fb, prod, corr;
  explicit FftWindows(int32_t n) : a(n, n, CV_32F), b(n, n, CV_32F) {}

  static void Load(const CImgBuff& pic, int32_t x0, int32_t y0, cv::Mat* out)
  {
    const int32_t n = out->rows;
    const uint8_t* p = static_cast<const uint8_t*>(pic.record->pixels);
    const int64_t stride = pic.record->width;  // 8-bit gray, rows packed
    double sum = 0;
    for (int32_t y = 0; y < n; ++y) {
      float* d = out->ptr<float>(y);
      const uint8_t* s = p + (y0 + y) * stride + x0;
      for (int32_t x = 0; x < n; ++x) sum += d[x] = float(s[x]);
    }
    *out -= cv::Scalar(sum / (double(n) * n));
  }

  void Displacement(const CImgBuff& prev, const CImgBuff& cur, int32_t x0, int32_t y0, double* dx, double* dy)
  {
    const int32_t n = a.rows;
    Load(prev, x0, y0, &a);
    Load(cur, x0, y0, &b);
    cv::dft(a, fa);
    cv::dft(b, fb);
    cv::mulSpectrums(fb, fa, prod, 0, true);
    cv::dft(prod, corr, cv::DFT_INVERSE | cv::DFT_REAL_OUTPUT);
    cv::Point at;
    cv::minMaxLoc(corr, nullptr, nullptr, nullptr, &at);
    auto v = [&](int32_t x, int32_t y) { return double(corr.at<float>((y + n) % n, (x + n) % n)); };
    auto vertex = [](double l, double c, double r) {
      const double d = l - 2 * c + r;
      return d < 0 ? 0.5 * (l - r) / d : 0.0;
    };
    const double px = at.x + vertex(v(at.x - 1, at.y), v(at.x, at.y), v(at.x + 1, at.y));
    const double py = at.y + vertex(v(at.x, at.y - 1), v(at.x, at.y), v(at.x, at.y + 1));
    *dx = px > n / 2 ? px - n : px;
    *dy = py > n / 2 ? py - n : py;
  }
};

void BM_FftPiv(benchmark::State& state)
{
  UseWorkers(state, state.range(0));
  const Frames& f = TheFrames();
  const int32_t window = state.range(1) ? 2 * kCell : kCell, grow = (window - kCell) / 2;
  const int32_t nx = kSide / kCell - 2, ny = nx;
  const int32_t ox = (kSide - kCell * nx) / 2, oy = ox;
  std::vector<double> dx(size_t(nx) * ny), dy(dx.size());
  for (auto _ : state) {
    cv::parallel_for_(cv::Range(0, nx * ny), [&](const cv::Range& r) {
      FftWindows w(window);
      for (int32_t k = r.start; k < r.end; ++k) {
        const int32_t cx = k % nx, cy = k / nx;
        w.Displacement(f.a, f.b, ox + kCell * cx - grow, oy + kCell * cy - grow, &dx[size_t(k)], &dy[size_t(k)]);
      }
    });
  }
  int64_t right = 0;
  for (size_t k = 0; k < dx.size(); ++k) right += std::fabs(dx[k] - kShiftX) < 0.5 && std::fabs(dy[k] - kShiftY) < 0.5;
  CountRight(state, right, int64_t(nx) * ny);
}
BENCHMARK(BM_FftPiv)
    ->ArgsProduct({{1, 8}, {0, 1}})
    ->ArgNames({"workers", "setup"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

}  // namespace
