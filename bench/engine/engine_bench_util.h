// engine_bench_util.h - a 1920 x 1080 picture of random pixels and the worker count of a run
// (argument 1 = one worker, 0 = every worker), for the engine benchmarks and their OpenCV
// counterparts.
#pragma once
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/parallel.h"
#include "engine/frame.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace enginebench {

constexpr int32_t W = 1920, H = 1080;

inline void Fill(CImgBuff& img, int32_t format, uint32_t seed = 42) {
  img.Allocate(W, H, format);
  std::mt19937 rng(seed);
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  const size_t n = size_t(W) * H * ImgBytesPerPixel[format];
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t(rng() >> 11);
}

inline size_t Bytes(const CImgBuff& img) {
  return size_t(img.Width()) * img.Height() * ImgBytesPerPixel[img.Format()];
}

// Sets the pool's worker count for a run and names it in the report.
inline void Workers(benchmark::State& state, int64_t arg) {
  static CImgBuff keepPoolRunning;  // the first picture starts the worker pool
  const uint64_t all = GetProcessorCount();
  const uint64_t n = arg == 1 ? 1 : all;
  SetWorkerCount(n);
#ifdef QV_HAVE_OPENCV
  cv::setNumThreads(int(n));
#endif
  state.SetLabel(arg == 1 ? "1 worker" : std::to_string(n) + " workers");
}

// Picture and a pristine copy, restored outside the timing where an operation's result
// would change the work of the next iteration.
struct Fixture {
  CImgBuff img;
  std::vector<uint8_t> orig;
  explicit Fixture(int32_t format) {
    Fill(img, format);
    orig.assign(static_cast<uint8_t*>(img.Pixels()), static_cast<uint8_t*>(img.Pixels()) + Bytes(img));
  }
  void Restore() { std::memcpy(img.Pixels(), orig.data(), orig.size()); }
};

#ifdef QV_HAVE_OPENCV
inline cv::Mat RandomMat(int type, uint32_t seed = 42) {
  cv::Mat m(H, W, type);
  std::mt19937 rng(seed);
  const size_t n = m.total() * m.elemSize();
  for (size_t i = 0; i < n; ++i) m.data[i] = uint8_t(rng() >> 11);
  return m;
}
#endif

}  // namespace enginebench

#define ENGINE_BENCH(fn) BENCHMARK(fn)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime()
