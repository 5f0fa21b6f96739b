// warp_target.h - what the in-place warps (RotateScale, TiltCorrect) share on their typed
// path: the block they write, and how their rows go to the workers.
//
//   WarpTargetTag   slot of the thread's kept picture (thread_kept.h) that a warp writes,
//                   reading the caller's picture where it lies, and then swaps in for it
//   RunWarpRows     the rows of a warp over the pool
//   BlendRgb8Chunk  8-bit R, G, B neighbours gathered as 32-bit words, blended channel by
//                   channel into interleaved pixels
#pragma once
#include <cstdint>

#include "core/parallel.h"
#include "engine/simd.h"

struct WarpTargetTag;

// Rows in chunks that free workers take in turn (rows near the picture's edges, mostly fill,
// are cheaper than the rest, and a worker held up elsewhere must not hold up a fixed share),
// or on the calling thread for a picture too small to pay for the hand-over.
inline void RunWarpRows(ParallelForFn fn, void* ctx, int32_t w, int32_t h) {
  if (int64_t(w) * h < 32 * 1024) fn(ctx, 0, uint64_t(h));
  else ParallelFor(fn, ctx, uint64_t(h));
}

// Each neighbour of pixel i is one word holding its three channels in its low three bytes;
// Blend::Of(p00, p10, p01, p11, fx[i], fy[i]) gives a channel's value.
template <class F, class Blend>
struct BlendRgb8Chunk {
  static QV_KERNEL_BODY void Run(const uint32_t* __restrict q00, const uint32_t* __restrict q10,
                                 const uint32_t* __restrict q01, const uint32_t* __restrict q11,
                                 const F* __restrict fx, const F* __restrict fy, int32_t n, uint8_t* __restrict out) {
    for (int32_t i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c) {
        const uint32_t s = 8 * c;
        out[3 * i + c] = uint8_t(Blend::Of((q00[i] >> s) & 255u, (q10[i] >> s) & 255u, (q01[i] >> s) & 255u,
                                           (q11[i] >> s) & 255u, fx[i], fy[i]));
      }
  }
};
