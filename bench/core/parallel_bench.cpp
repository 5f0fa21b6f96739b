// parallel_bench.cpp - cost of handing a job to the worker pool, back to back and after the
// workers have gone to sleep, beside TBB where found; parallel byte copies and zero fills
// against one plain call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "core/parallel.h"

#ifdef QV_HAVE_TBB
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#endif

namespace {

void Trivial(void* ctx, uint64_t first, uint64_t count) {
  benchmark::DoNotOptimize(ctx);
  benchmark::DoNotOptimize(first + count);
}

struct PoolHold {
  PoolHold() { StartWorkerPool(); }
  ~PoolHold() { StopWorkerPool(); }
};

// The whole round trip of a job whose pieces do nothing: wake, run, all-done.
void BM_ParallelForTrivial(benchmark::State& state) {
  PoolHold pool;
  uint64_t n = static_cast<uint64_t>(state.range(0));
  for (auto _ : state) ParallelFor(Trivial, nullptr, n);
  state.counters["workers"] = static_cast<double>(ActiveWorkerCount());
}
BENCHMARK(BM_ParallelForTrivial)->Arg(2)->Arg(8)->Arg(1000)->UseRealTime();

// The first job after a pause longer than the workers' spin window, as every engine call that
// follows a click pays it: the pause is left out of the time, the job's round trip is in.
// Every worker takes part.
constexpr auto kPause = std::chrono::milliseconds(2);

void BM_ParallelForAfterPause(benchmark::State& state) {
  PoolHold pool;
  SetWorkerCount(GetProcessorCount());
  uint64_t n = static_cast<uint64_t>(state.range(0));
  for (auto _ : state) {
    std::this_thread::sleep_for(kPause);
    auto t0 = std::chrono::steady_clock::now();
    ParallelFor(Trivial, nullptr, n);
    auto t1 = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  state.counters["workers"] = static_cast<double>(ActiveWorkerCount());
}
BENCHMARK(BM_ParallelForAfterPause)->Arg(8)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

#ifdef QV_HAVE_TBB
// The same two jobs through tbb::parallel_for with as many threads as processors; simple
// partitioner with grain 1 for 8 items, so that each item may go to its own thread.
void TbbTrivial(uint64_t n) {
  if (n <= 8) {
    tbb::parallel_for(tbb::blocked_range<uint64_t>(0, n, 1),
                      [](const tbb::blocked_range<uint64_t>& r) { Trivial(nullptr, r.begin(), r.size()); },
                      tbb::simple_partitioner());
  } else {
    tbb::parallel_for(tbb::blocked_range<uint64_t>(0, n),
                      [](const tbb::blocked_range<uint64_t>& r) { Trivial(nullptr, r.begin(), r.size()); });
  }
}

void BM_TbbTrivial(benchmark::State& state) {
  tbb::global_control threads(tbb::global_control::max_allowed_parallelism, GetProcessorCount());
  uint64_t n = static_cast<uint64_t>(state.range(0));
  for (auto _ : state) TbbTrivial(n);
}
BENCHMARK(BM_TbbTrivial)->Arg(8)->Arg(1000)->UseRealTime();

void BM_TbbAfterPause(benchmark::State& state) {
  tbb::global_control threads(tbb::global_control::max_allowed_parallelism, GetProcessorCount());
  uint64_t n = static_cast<uint64_t>(state.range(0));
  for (auto _ : state) {
    std::this_thread::sleep_for(kPause);
    auto t0 = std::chrono::steady_clock::now();
    TbbTrivial(n);
    auto t1 = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
}
BENCHMARK(BM_TbbAfterPause)->Arg(8)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
#endif

void BM_InlineTrivial(benchmark::State& state) {
  for (auto _ : state) Trivial(nullptr, 0, 1000);
}
BENCHMARK(BM_InlineTrivial);

constexpr size_t kCopyBytes = size_t(64) << 20;

void BM_ParallelMemcpy64MiB(benchmark::State& state) {
  PoolHold pool;
  std::vector<unsigned char> src(kCopyBytes, 1), dst(kCopyBytes, 0);
  for (auto _ : state) {
    ParallelMemcpy(dst.data(), src.data(), kCopyBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCopyBytes));
}
BENCHMARK(BM_ParallelMemcpy64MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Memcpy64MiB(benchmark::State& state) {
  std::vector<unsigned char> src(kCopyBytes, 1), dst(kCopyBytes, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kCopyBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCopyBytes));
}
BENCHMARK(BM_Memcpy64MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ParallelZeroFill64MiB(benchmark::State& state) {
  PoolHold pool;
  std::vector<unsigned char> dst(kCopyBytes, 1);
  for (auto _ : state) {
    ParallelZeroFill(dst.data(), 0, kCopyBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCopyBytes));
}
BENCHMARK(BM_ParallelZeroFill64MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
