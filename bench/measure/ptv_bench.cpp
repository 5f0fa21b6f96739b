// ptv_bench.cpp - the window step of particle tracking on lists of 10,000 particles in
// smooth motion over 100 scenes (time per scene), beside the literal scan of every particle
// in list order and, as a yardstick of neighbour search, an exact OpenCV FLANN k-d tree
// built on the newest list and asked each particle's nearest neighbour.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "measure/particles.h"
#include "tests/measure/ptv_literal.h"

#ifdef QV_HAVE_OPENCV_FLANN
#include <opencv2/flann.hpp>
#endif

namespace {

constexpr int32_t kParticles = 10000;
constexpr int32_t kScenes = 100;
constexpr double kR = 5.0;

// 10,000 particles on a 2,000 x 2,000 field (about 20 pixels apart), each turning slowly
// at up to 3 pixels a scene; a few leave and are born again.
const std::vector<ptvtest::Records>& Scenes()
{
  static const std::vector<ptvtest::Records> scenes = [] {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> u(0, 1);
    struct Body {
      double x, y, speed, angle, turn;
    };
    std::vector<Body> bodies(static_cast<size_t>(kParticles));
    auto born = [&](Body& b) {
      b = {u(rng) * 2000, u(rng) * 2000, 0.5 + u(rng) * 2.5, u(rng) * 6.2832, (u(rng) - 0.5) * 0.1};
    };
    for (auto& b : bodies) born(b);
    std::vector<ptvtest::Records> out;
    for (int32_t t = 0; t < kScenes; ++t) {
      ptvtest::Records list;
      for (auto& b : bodies) {
        if (u(rng) < 0.005) born(b);
        b.angle += b.turn;
        b.x += b.speed * std::cos(b.angle);
        b.y += b.speed * std::sin(b.angle);
        list.push_back({-1, 1, b.x, b.y});
      }
      out.push_back(list);
    }
    return out;
  }();
  return scenes;
}

// One iteration = one scene: rotate, take the scene in, one window step.
void BM_PtvWindowStep(benchmark::State& state)
{
  const auto& scenes = Scenes();
  const int32_t P = int32_t(state.range(0)), A = int32_t(state.range(1));
  PtvWindow w;
  if (!PtvWindowCreate(&w, kParticles)) {
    state.SkipWithError("no memory");
    return;
  }
  size_t t = 0;
  int32_t next = 0;
  int64_t steps = 0;
  for (auto _ : state) {
    if (t == scenes.size()) {
      state.PauseTiming();
      for (auto& l : w.lists) l.count = 0;
      t = 0;
      state.ResumeTiming();
    }
    PtvWindowRotate(&w);
    std::copy(scenes[t].begin(), scenes[t].end(), w.lists[3].records);
    w.lists[3].count = kParticles;
    if (t >= 3) {
      PtvWindowStep(&w, &next, kR, kR, P, A);
      ++steps;
    }
    ++t;
  }
  state.counters["tracks"] = double(next);
  PtvWindowFree(&w);
}
BENCHMARK(BM_PtvWindowStep)->Args({1, 1})->Args({0, 0})->Args({1, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);

// The same steps as a scan of every particle in list order (few iterations: it is slow).
void BM_PtvLiteralStep(benchmark::State& state)
{
  const auto& scenes = Scenes();
  ptvtest::Literal lit;
  for (int t = 0; t < 3; ++t) lit.Rotate(scenes[size_t(t)]);
  size_t t = 3;
  int32_t next = 0;
  for (auto _ : state) {
    lit.Rotate(scenes[t]);
    lit.Step(&next, kR, kR, 1, 1);
    t = t + 1 < scenes.size() ? t + 1 : 3;
  }
}
BENCHMARK(BM_PtvLiteralStep)->Iterations(3)->Unit(benchmark::kMillisecond);

#ifdef QV_HAVE_OPENCV_FLANN
// Exact nearest neighbours: one k-d tree built on the newest list, unlimited checks, and
// each particle of the list before it asked for its nearest.
void BM_FlannNearest(benchmark::State& state)
{
  const auto& scenes = Scenes();
  std::vector<cv::Mat> points, queries;
  for (size_t t = 0; t + 1 < scenes.size(); ++t) {
    cv::Mat p(kParticles, 2, CV_32F), q(kParticles, 2, CV_32F);
    for (int32_t i = 0; i < kParticles; ++i) {
      p.at<float>(i, 0) = float(scenes[t + 1][size_t(i)].x);
      p.at<float>(i, 1) = float(scenes[t + 1][size_t(i)].y);
      q.at<float>(i, 0) = float(scenes[t][size_t(i)].x);
      q.at<float>(i, 1) = float(scenes[t][size_t(i)].y);
    }
    points.push_back(p);
    queries.push_back(q);
  }
  cv::Mat indices(kParticles, 1, CV_32S), dists(kParticles, 1, CV_32F);
  size_t t = 0;
  for (auto _ : state) {
    cv::flann::Index index(points[t], cv::flann::KDTreeIndexParams(1));
    index.knnSearch(queries[t], indices, dists, 1, cv::flann::SearchParams(-1));
    benchmark::DoNotOptimize(indices.data);
    t = (t + 1) % points.size();
  }
}
BENCHMARK(BM_FlannNearest)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
