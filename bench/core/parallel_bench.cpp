// parallel_bench.cpp - cost of handing a job to the worker pool, and parallel byte copies
// and zero fills against one plain call.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/parallel.h"

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
