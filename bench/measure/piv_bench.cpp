// piv_bench.cpp - the vectors of one 1920 x 1080 frame pair of particles (3-pixel Gaussian
// particles, 0.03 per pixel, moved by (3.25, -1.5)) in 32 x 32 cells: 58 x 31 = 1,798
// vectors, counted as items per second, with the defaults ("fast processing", big pattern,
// a cell of search) and with "fast processing" off; beside it, as a yardstick, scikit-image's
// phase_cross_correlation over each cell's window of 32 and 64 pixels (piv_skimage.py).
// Also: a small pair on its own thread against the same work called directly, and (with
// the tests' scripted host) a whole 20-scene run against the sum of its seeks and pairs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "measure/piv.h"
#include "tests/measure/piv_fixture.h"
#ifdef QV_HAVE_TESTHOST
#include "tests/app/testhost.h"
#endif

namespace {

struct Pair {
  CImgBuff a, b;
  Pair()
  {
    std::mt19937 rng(11);
    const auto particles = PivRandomParticles(1920, 1080, 0.03, &rng);
    PivRenderParticles(&a, 1920, 1080, particles, 0, 0, 0);
    PivRenderParticles(&b, 1920, 1080, particles, 3.25, -1.5, 0);
  }
};

const Pair& ThePair()
{
  static const Pair pair;
  return pair;
}

void BM_PivPair(benchmark::State& state)
{
  StartWorkerPool();
  const Pair& pair = ThePair();
  CFlowData field;
  if (!field.CreateForImage(1919, 1079, 32, 2)) {
    state.SkipWithError("no field");
    return;
  }
  const int32_t method = int32_t(state.range(0));
  for (auto _ : state) {
    PivJob job;
    job.previous = const_cast<CImgBuff*>(&pair.a);
    job.current = const_cast<CImgBuff*>(&pair.b);
    job.scene = 1;
    job.method = method;
    job.large = 1;
    job.factor = 1;
    job.field = &field;
    CLfPiv::WorkerBody(&job);
    if (job.result.load() != 1) state.SkipWithError("pair failed");
  }
  const int64_t vectors = int64_t(field.Nx()) * field.Ny();
  state.SetItemsProcessed(state.iterations() * vectors);
  state.counters["vectors"] = double(vectors);
  // Sanity figures: the share of cells within half a pixel of the true shift, and the RMS
  // error of a component against it.
  int64_t right = 0;
  double squares = 0;
  for (int32_t y = 0; y < field.Ny(); ++y)
    for (int32_t x = 0; x < field.Nx(); ++x) {
      const FlowVector* v = field.GetVector(x, y, 1);
      right += std::fabs(v->dx - 3.25) < 0.5 && std::fabs(v->dy + 1.5) < 0.5;
      squares += (v->dx - 3.25) * (v->dx - 3.25) + (v->dy + 1.5) * (v->dy + 1.5);
    }
  state.counters["right_share"] = double(right) / double(vectors);
  state.counters["rms_error"] = std::sqrt(squares / double(2 * vectors));
}
BENCHMARK(BM_PivPair)->Arg(0)->Arg(1)->ArgName("method")->Unit(benchmark::kMillisecond)->UseRealTime();

// One small pair (96 x 96, one cell) on a thread of its own with the UI thread waiting for it
// (RunInThread), beside the same work called directly: the wait costs the thread start and
// one message, not a fixed sleep.
void BM_PivSmallPairThread(benchmark::State& state)
{
  StartWorkerPool();
  CImgBuff a, b;
  PivRandomTexture(&a, 96, 96, 0, 0, ImgFormatGray8);
  PivRandomTexture(&b, 96, 96, -2, 0, ImgFormatGray8);
  CFlowData field;
  field.CreateForImage(95, 95, 32, 2);
  CLfPiv piv;
  const bool threaded = state.range(0) != 0;
  for (auto _ : state) {
    if (threaded) {
      if (!piv.RunInThread(&a, &b, 1, 0, 1, 1, &field)) state.SkipWithError("pair failed");
    } else {
      PivJob job;
      job.previous = &a;
      job.current = &b;
      job.scene = 1;
      job.large = 1;
      job.field = &field;
      CLfPiv::WorkerBody(&job);
    }
  }
}
BENCHMARK(BM_PivSmallPairThread)->Arg(0)->Arg(1)->ArgName("thread")->Unit(benchmark::kMicrosecond)->UseRealTime();

#ifdef QV_HAVE_TESTHOST
// A whole run of 20 scenes of 640 x 480 particles on the scripted host (EXEC to the end),
// beside the sum of its parts done directly: the 20 seeks through the chain and the 19
// pairs.  "overhead" is the run's time over that sum.
void BM_PivRun20(benchmark::State& state)
{
  StartWorkerPool();
  std::mt19937 rng(5);
  const auto particles = PivRandomParticles(640, 480, 0.03, &rng);
  std::vector<CImgBuff*> frames;
  for (int32_t i = 0; i < 20; ++i) {
    frames.push_back(new CImgBuff);
    PivRenderParticles(frames.back(), 640, 480, particles, 1.5 * i, 0.5 * i, 0);
  }
  CTestHost host;
  host.SetVideo(std::vector<const CImgBuff*>(frames.begin(), frames.end()), 40000);
  host.SetLanguage(L"en");
  CLfPiv* piv = new CLfPiv;
  host.AddFilter(piv, nullptr);
  double run = 0, parts = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    piv->Execute();
    auto t1 = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < 20; ++i) host.SeekFrame(i);
    for (int32_t i = 1; i < 20; ++i) {
      PivJob job;
      job.previous = frames[size_t(i - 1)];
      job.current = frames[size_t(i)];
      job.scene = i;
      job.large = 1;
      job.field = &piv->m_field;
      CLfPiv::WorkerBody(&job);
    }
    auto t2 = std::chrono::steady_clock::now();
    run += std::chrono::duration<double>(t1 - t0).count();
    parts += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  state.counters["overhead"] = parts > 0 ? run / parts : 0;
  for (CImgBuff* f : frames) delete f;
}
BENCHMARK(BM_PivRun20)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
#endif

// scikit-image's phase correlation per window, timed by the script on the same kind of
// pair; reported as vectors per second.
void BM_SkimagePhaseCorrelation(benchmark::State& state)
{
  const std::string script = std::string(QV_BENCH_DIR) + "/measure/piv_skimage.py";
  double rate = 0;
  for (auto _ : state) {
    FILE* p = popen(("/usr/bin/python3 '" + script + "' " + std::to_string(state.range(0)) + " 2>/dev/null").c_str(),
                    "r");
    if (!p) {
      state.SkipWithError("python3 not started");
      return;
    }
    if (fscanf(p, "%lf", &rate) != 1) rate = 0;
    pclose(p);
  }
  if (rate <= 0) {
    state.SkipWithError("scikit-image not available");
    return;
  }
  state.counters["vectors_per_second"] = rate;
}
BENCHMARK(BM_SkimagePhaseCorrelation)->Arg(32)->Arg(64)->ArgName("window")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
