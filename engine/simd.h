// simd.h - row kernels built twice, for AVX2 and for the baseline processor, and the run-time
// choice between the two builds.
//
//   QV_KERNEL_BODY   marks a kernel's body: inlined into each build, so each is vectorised
//                    for its own instruction set
//   RunKernel<K>     calls K::Run through the AVX2 build when EngineAvx2(), else the baseline
//   QV_AVX2_CLONES   a whole function built for AVX2 and the baseline, chosen at load time
//   CpuHasAvx2       1 when the processor has AVX2
//   EngineAvx2       1 when the AVX2 builds run: the processor has AVX2 and tests allow it
//   SetEngineAvx2    tests: 0 runs the baseline builds, which are what a processor without
//                    AVX2 gets, so they are checked on every machine
//
// A kernel is a struct with a static Run (its body, QV_KERNEL_BODY); RunKernel<K>(args) picks
// the build once per call, so a kernel is handed a whole row or span, never one pixel.
#pragma once
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QV_AVX2_BUILD __attribute__((target("avx2")))
#define QV_HAVE_AVX2_BUILD 1
#else
#define QV_AVX2_BUILD
#define QV_HAVE_AVX2_BUILD 0
#endif
// target_clones makes an ifunc resolver that the loader runs while it relocates the program;
// under ThreadSanitizer that resolver is instrumented and crashes before main, so those builds
// get the baseline form only.
#if QV_HAVE_AVX2_BUILD && !defined(__SANITIZE_THREAD__)
#define QV_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QV_AVX2_CLONES
#endif
#define QV_KERNEL_BODY inline __attribute__((always_inline))

int32_t CpuHasAvx2();
int32_t EngineAvx2();
void SetEngineAvx2(int32_t on);

template <class K, class... A>
QV_AVX2_BUILD void RunKernelAvx2(A... a) {
  K::Run(a...);
}
template <class K, class... A>
void RunKernelBase(A... a) {
  K::Run(a...);
}
template <class K, class... A>
inline void RunKernel(A... a) {
#if QV_HAVE_AVX2_BUILD
  if (EngineAvx2()) {
    RunKernelAvx2<K>(a...);
    return;
  }
#endif
  RunKernelBase<K>(a...);
}
