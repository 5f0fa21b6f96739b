// simd.cpp - whether the AVX2 builds of the row kernels run.
#include "engine/simd.h"

#include <atomic>

namespace {

std::atomic<int32_t> gAvx2Allowed{1};

}  // namespace

int32_t CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  // Read once: the processor does not change under a running program.
  static const int32_t has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? 1 : 0;
  }();
  return has;
#else
  return 0;
#endif
}

int32_t EngineAvx2() { return QV_HAVE_AVX2_BUILD && CpuHasAvx2() && gAvx2Allowed.load(std::memory_order_relaxed); }

void SetEngineAvx2(int32_t on) { gAvx2Allowed.store(on ? 1 : 0); }
