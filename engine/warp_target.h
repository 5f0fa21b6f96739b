// warp_target.h - what the in-place warps (RotateScale, TiltCorrect) share on their typed
// path: the block they write, and how their rows go to the workers.
//
//   WarpTargetTag   slot of the thread's kept picture (thread_kept.h) that a warp writes,
//                   reading the caller's picture where it lies, and then swaps in for it
//   RunWarpRows     the rows of a warp over the pool
#pragma once
#include <cstdint>

#include "core/parallel.h"

struct WarpTargetTag;

// Rows in chunks that free workers take in turn (rows near the picture's edges, mostly fill,
// are cheaper than the rest, and a worker held up elsewhere must not hold up a fixed share),
// or on the calling thread for a picture too small to pay for the hand-over.
inline void RunWarpRows(ParallelForFn fn, void* ctx, int32_t w, int32_t h) {
  if (int64_t(w) * h < 32 * 1024) fn(ctx, 0, uint64_t(h));
  else ParallelFor(fn, ctx, uint64_t(h));
}
