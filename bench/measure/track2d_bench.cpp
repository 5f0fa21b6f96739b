// track2d_bench.cpp - an automatic run of the 2D tracking tool (AUTO, forward, with
// prediction) over 100 scenes of 1920 x 1080 RGB with 10 colour targets in 41 x 41 boxes, on
// the tests' scripted host, in scenes per second; beside it, as yardsticks, OpenCV doing the
// same searches on the same frames: one frame copy per scene and per box cvtColor to HSV,
// inRange and connectedComponentsWithStats (the colour pipeline), and matchTemplate
// (TM_SQDIFF) of a 21 x 21 template over each box.
// The frames: ten hard-edged discs of radius 8, fully saturated, of ten hues 36 degrees apart,
// moving 3 pixels per scene in ten directions over a gray textured background; made once
// before timing.  "seek_share" is the part of the run's time that the host's seeks alone
// take (the frame copied to the source and through the chain); "faults_per_scene" the page
// faults per scene during the run (a few dozen: no frame-sized block is made anew per
// scene).  "error" is the mean distance of the last scene's points from the true
// centres, a sanity figure: the run must actually track.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/resource.h>

#include "core/imgbuff.h"
#include "core/parallel.h"
#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#ifdef QV_HAVE_TESTHOST
#include "measure/track2d.h"
#include "platform/window.h"
#include "tests/app/testhost.h"
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kScenes = 100, kTargets = 10, kBox = 41;
constexpr double kRadius = 8.0, kSpeed = 3.0;
const double kPi = std::acos(-1.0);

double HueDegrees(int32_t i) { return 18.0 + 36.0 * i; }  // no window crosses hue 0

// The true centre of disc i in scene s.
void DiscCentre(int32_t i, int32_t s, double* x, double* y)
{
  const double angle = 2.0 * kPi * (i + 0.3) / kTargets;
  *x = 360.0 + 300.0 * (i % 5) + 0.37 + kSpeed * s * std::cos(angle);
  *y = 380.0 + 320.0 * (i / 5) - 0.21 + kSpeed * s * std::sin(angle);
}

void HueToRgb(double hue, uint8_t rgb[3])
{
  const double h = hue / 60.0;
  const double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
  double r = 0, g = 0, b = 0;
  switch (int(h)) {
    case 0: r = 1, g = x; break;
    case 1: r = x, g = 1; break;
    case 2: g = 1, b = x; break;
    case 3: g = x, b = 1; break;
    case 4: r = x, b = 1; break;
    default: r = 1, b = x; break;
  }
  rgb[0] = uint8_t(std::lround(230 * r));
  rgb[1] = uint8_t(std::lround(230 * g));
  rgb[2] = uint8_t(std::lround(230 * b));
}

struct Frames {
  std::vector<std::unique_ptr<CImgBuff>> list;
  Frames()
  {
    // Gray texture 70..190 with a little colour noise: saturation stays below 30%.
    std::vector<uint8_t> background(size_t(kWidth) * kHeight * 3);
    uint32_t state = 12345;
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x) {
        state = state * 1664525u + 1013904223u;
        const int32_t base = 130 + int32_t(50.0 * std::sin(x * 0.031) * std::cos(y * 0.027)) + int32_t(state >> 28) - 8;
        uint8_t* p = &background[(size_t(y) * kWidth + x) * 3];
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(base + int32_t((state >> (8 + 4 * c)) & 7) - 4);
      }
    uint8_t colours[kTargets][3];
    for (int32_t i = 0; i < kTargets; ++i) HueToRgb(HueDegrees(i), colours[i]);
    for (int32_t s = 0; s < kScenes; ++s) {
      auto f = std::make_unique<CImgBuff>();
      f->Allocate(kWidth, kHeight, ImgFormatRgb24);
      auto* px = static_cast<uint8_t*>(f->Pixels());
      std::memcpy(px, background.data(), background.size());
      for (int32_t i = 0; i < kTargets; ++i) {
        double cx, cy;
        DiscCentre(i, s, &cx, &cy);
        for (int32_t y = int32_t(cy) - 10; y <= int32_t(cy) + 10; ++y)
          for (int32_t x = int32_t(cx) - 10; x <= int32_t(cx) + 10; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= kRadius * kRadius)
              std::memcpy(px + (size_t(y) * kWidth + x) * 3, colours[i], 3);
      }
      list.push_back(std::move(f));
    }
  }
};

const Frames& TheFrames()
{
  static const Frames frames;
  return frames;
}

// The mean distance of the last scene's points from the true centres.
double LastSceneError(const double (*points)[2])
{
  double sum = 0;
  for (int32_t i = 0; i < kTargets; ++i) {
    double tx, ty;
    DiscCentre(i, kScenes - 1, &tx, &ty);
    sum += std::hypot(points[i][0] - tx, points[i][1] - ty);
  }
  return sum / kTargets;
}

#ifdef QV_HAVE_TESTHOST
const int g_headless = (PlatTestSetHeadless(1), 0);

void BM_Track2dAuto(benchmark::State& state)
{
  (void)g_headless;
  StartWorkerPool();
  const Frames& frames = TheFrames();
  CTestHost host;
  host.SetLanguage(L"en");
  std::vector<const CImgBuff*> list;
  for (const auto& f : frames.list) list.push_back(f.get());
  if (host.SetVideo(list, 40000) != 1) {
    state.SkipWithError("no video");
    return;
  }
  auto* f = new CLfTrack2d;
  host.AddFilter(f, nullptr);
  f->m_tab.SelectPage(CLfTrack2d::kPageTrack, 0);
  f->m_tab.m_callback(&f->m_tab, f->m_tab.m_user, CLfTrack2d::kPageTrack, 0);
  for (int32_t i = 0; i < kTargets; ++i) {
    ColourWindow w;
    w.hue = uint16_t(std::lround(HueDegrees(i) / 360.0 * 65536.0));
    w.halfWidth = uint16_t(std::lround(10.0 / 360.0 * 65536.0));
    w.satLow = 30000;
    w.valLow = 30000;
    auto* t = new CTrackHSV;
    t->SetWindow(w);
    t->w = t->h = kBox;
    if (f->AddTrack(t) < 0) {
      state.SkipWithError("target refused");
      return;
    }
  }
  f->m_step = 1;
  f->m_predict = 1;
  f->m_order = 0;
  double points[kTargets][2] = {};
  int64_t found = 0;
  double run = 0, seeks = 0, faults = 0;
  for (auto _ : state) {
    for (int32_t i = 0; i < kTargets; ++i) {
      double cx, cy;
      DiscCentre(i, 0, &cx, &cy);
      f->tracks[i]->CentreOn(cx, cy);
    }
    host.SeekFrame(0);
    struct rusage r0, r1;
    getrusage(RUSAGE_SELF, &r0);
    const auto t0 = std::chrono::steady_clock::now();
    f->ExecuteAuto();
    getrusage(RUSAGE_SELF, &r1);
    faults += double(r1.ru_minflt - r0.ru_minflt);
    const auto t1 = std::chrono::steady_clock::now();
    // The host's part alone: the 100 seeks through the chain with nothing captured.
    for (int32_t s = 0; s < kScenes; ++s) host.SeekFrame(uint64_t(s));
    const auto t2 = std::chrono::steady_clock::now();
    run += std::chrono::duration<double>(t1 - t0).count();
    seeks += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    found = 0;
    for (int32_t i = 0; i < kTargets; ++i)
      for (int32_t s = 0; s < kScenes; ++s) {
        P2dPoint p = P2dNoPoint;
        if (f->table.GetPoint(i, s, &p) && P2dPointCounts(p)) {
          ++found;
          if (s == kScenes - 1) points[i][0] = p.x, points[i][1] = p.y;
        }
      }
  }
  state.SetItemsProcessed(state.iterations() * kScenes);
  state.counters["fps"] = benchmark::Counter(double(state.iterations() * kScenes), benchmark::Counter::kIsRate);
  state.counters["points"] = double(found);
  state.counters["error"] = LastSceneError(points);
  state.counters["faults_per_scene"] = faults / double(state.iterations() * kScenes);
  state.counters["seek_share"] = run > 0 ? seeks / run : 0;
}
BENCHMARK(BM_Track2dAuto)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
#endif

#ifdef QV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& f) { return cv::Mat(f.Height(), f.Width(), CV_8UC3, f.Pixels()); }

// The box of target i for the scene: centred on the constant-velocity guess from the two
// scenes before (as the tool predicts), else on the last point, clipped to the frame.
cv::Rect BoxFor(const double (*history)[2], int32_t n)
{
  double cx = history[n - 1][0], cy = history[n - 1][1];
  if (n >= 2) cx = 2 * history[n - 1][0] - history[n - 2][0], cy = 2 * history[n - 1][1] - history[n - 2][1];
  const int x = int(cx - (kBox - 1) / 2.0), y = int(cy - (kBox - 1) / 2.0);
  return cv::Rect(x, y, kBox, kBox) & cv::Rect(0, 0, kWidth, kHeight);
}

// Colour pipeline: the frame copied, then per box HSV, the window, the 8-connected islands
// with their statistics, and the island nearest the box centre.
void BM_OpenCvColour(benchmark::State& state)
{
  cv::setNumThreads(1);
  const Frames& frames = TheFrames();
  cv::Scalar low[kTargets], high[kTargets];
  for (int32_t i = 0; i < kTargets; ++i) {
    const double h = HueDegrees(i) / 2.0;
    low[i] = cv::Scalar(h - 5, 117, 117);
    high[i] = cv::Scalar(h + 5, 255, 255);
  }
  cv::Mat copy, hsv, mask, labels, stats, centroids;
  static double history[kTargets][kScenes + 1][2];
  int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (int32_t i = 0; i < kTargets; ++i) DiscCentre(i, 0, &history[i][0][0], &history[i][0][1]);
    int32_t count[kTargets];
    for (int32_t i = 0; i < kTargets; ++i) count[i] = 1;
    for (int32_t s = 0; s < kScenes; ++s) {
      Wrap(*frames.list[size_t(s)]).copyTo(copy);
      for (int32_t i = 0; i < kTargets; ++i) {
        const cv::Rect box = BoxFor(history[i], count[i]);
        cv::cvtColor(copy(box), hsv, cv::COLOR_RGB2HSV);
        cv::inRange(hsv, low[i], high[i], mask);
        const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
        int best = -1;
        double bestD = 0;
        for (int k = 1; k < n; ++k) {
          const double dx = centroids.at<double>(k, 0) - box.width * 0.5;
          const double dy = centroids.at<double>(k, 1) - box.height * 0.5;
          if (best < 0 || dx * dx + dy * dy < bestD) best = k, bestD = dx * dx + dy * dy;
        }
        if (best < 0) continue;
        history[i][count[i]][0] = box.x + centroids.at<double>(best, 0);
        history[i][count[i]][1] = box.y + centroids.at<double>(best, 1);
        ++count[i];
        ++found;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  double points[kTargets][2];
  for (int32_t i = 0; i < kTargets; ++i) points[i][0] = history[i][kScenes][0], points[i][1] = history[i][kScenes][1];
  state.SetItemsProcessed(state.iterations() * kScenes);
  state.counters["fps"] = benchmark::Counter(double(state.iterations() * kScenes), benchmark::Counter::kIsRate);
  state.counters["points"] = double(found);
  state.counters["error"] = LastSceneError(points);
}
BENCHMARK(BM_OpenCvColour)->Unit(benchmark::kMillisecond)->UseRealTime();

// Template search: per box the sum of squared differences of a 21 x 21 template cut from the
// first scene around the disc, the best place becoming the point.
void BM_OpenCvMatchTemplate(benchmark::State& state)
{
  cv::setNumThreads(1);
  const Frames& frames = TheFrames();
  cv::Mat templ[kTargets];
  for (int32_t i = 0; i < kTargets; ++i) {
    double cx, cy;
    DiscCentre(i, 0, &cx, &cy);
    templ[i] = Wrap(*frames.list[0])(cv::Rect(int(cx) - 10, int(cy) - 10, 21, 21)).clone();
  }
  cv::Mat result;
  static double history[kTargets][kScenes + 1][2];
  int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (int32_t i = 0; i < kTargets; ++i) DiscCentre(i, 0, &history[i][0][0], &history[i][0][1]);
    for (int32_t s = 0; s < kScenes; ++s) {
      const cv::Mat frame = Wrap(*frames.list[size_t(s)]);
      for (int32_t i = 0; i < kTargets; ++i) {
        const cv::Rect box = BoxFor(history[i], s + 1);
        cv::matchTemplate(frame(box), templ[i], result, cv::TM_SQDIFF);
        cv::Point at;
        cv::minMaxLoc(result, nullptr, nullptr, &at, nullptr);
        history[i][s + 1][0] = box.x + at.x + 10 + (history[i][0][0] - int(history[i][0][0]));
        history[i][s + 1][1] = box.y + at.y + 10 + (history[i][0][1] - int(history[i][0][1]));
        ++found;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  double points[kTargets][2];
  for (int32_t i = 0; i < kTargets; ++i) points[i][0] = history[i][kScenes][0], points[i][1] = history[i][kScenes][1];
  state.SetItemsProcessed(state.iterations() * kScenes);
  state.counters["fps"] = benchmark::Counter(double(state.iterations() * kScenes), benchmark::Counter::kIsRate);
  state.counters["points"] = double(found);
  state.counters["error"] = LastSceneError(points);
}
BENCHMARK(BM_OpenCvMatchTemplate)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
