// simd.cpp - whether the AVX2 builds of the row kernels run.
#include "engine/simd.h"

#include <atomic>

namespace {

int32_t CpuHasAvx2() {
#if QV_HAVE_AVX2_BUILD
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? 1 : 0;
#else
  return 0;
#endif
}

std::atomic<int32_t> gAvx2Allowed{1};

}  // namespace

int32_t EngineAvx2() {
  // Read once: the processor does not change under a running program.
  static const int32_t has = CpuHasAvx2();
  return has && gAvx2Allowed.load(std::memory_order_relaxed);
}

void SetEngineAvx2(int32_t on) { gAvx2Allowed.store(on ? 1 : 0); }
