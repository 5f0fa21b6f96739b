// background.h - one background picture from every frame of a video, pulled one frame at a
// time through the caller's callback and folded into per-pixel accumulators.
//
//   FrameFetchFn          the frame source: fills a picture with frame `index`; 0 stops
//   BackgroundJob         job record of CreateBackground (mean, maximum, minimum)
//   BackgroundLabJob      job record of CreateBackgroundLab (noise-removing variants)
//   CreateBackground      per pixel and channel mean, maximum or minimum over all frames
//   CreateBackgroundLab   L*a*b* mean over the frames near the plain mean, or extremes
//                         bounded by the spread around the mean
//
// Results: 1 built, 0 failed, -1 stopped by the callback.  The first frame is fetched into
// `out` and sets its format and size; every frame is then fetched again (frame 0 twice, and
// every frame twice for the L*a*b* mean) into a picture of the call.  The callback runs on
// the caller's thread between parallel passes, never while row workers run.
#pragma once
#include <cstdint>

#include "engine/frame.h"

typedef int32_t (*FrameFetchFn)(uint64_t index, CImgBuff* picture, void* user);

struct BackgroundJob {
  int32_t mode;          // -1 minimum, 0 mean, 1 maximum
  CImgBuff* out;         // the first frame, then the result
  CImgBuff* frame;       // each fetched frame
  uint8_t* extremes8;    // maximum/minimum of the 8-bit slots
  uint16_t* extremes16;  // of the 16-bit slots
  uint32_t* extremes32;  // of the 32-bit slots
  double* sums;          // sums of the mean (when they may not fit 32-bit integers)
  uint32_t* sums32;      // exact integer sums of the mean, where they provably fit
  uint16_t* sums16;      // 8-bit slots: sums of up to 257 frames, then folded into sums32
  uint64_t width;
  uint64_t height;
  uint64_t frameCount;
};

struct BackgroundLabJob {
  int32_t mode;        // -1 minimum with noise removal, 0 L*a*b* mean, 1 maximum
  CImgBuff* out;
  CImgBuff* frame;
  double noiseLevel;   // bound on the squared colour distance (L*a*b* mean only)
  uint32_t* maxima;    // R, G, B per pixel at 32 bits
  uint32_t* minima;
  double* sums;        // R, G, B sums, or L*, a*, b* sums; later divided into means
  double* labSums;     // L*, a*, b* sums and the count of frames within the noise level
  uint64_t width;
  uint64_t height;
  uint64_t frameCount;
};

// mode -1 minimum, 0 mean (truncated), 1 maximum, per channel in the slot of out's format
// (gray or R, G, B at its depth; C,M,Y,K, H,S,V and XYZ as their R,G,B equivalent).
// 0 without a call of fetch for an empty out, frameCount 0, a mode outside -1..1 or no fetch;
// 0 (out keeps the first frame) when out is empty after the first fetch, a frame is smaller
// than the first or memory is short.  A larger frame is read in its top-left part.
int32_t CreateBackground(CImgBuff* out, uint64_t frameCount, int32_t mode, FrameFetchFn fetch,
                         void* user);

// mode 0: per pixel the L*a*b* mean of the frames whose squared distance to the plain mean
// is at most noiseLevel (lightness alone unless both are brighter than L* 50, then a quarter
// of the chroma too); a pixel with no such frame keeps the plain mean.  mode 1 / -1: per
// channel at 32 bits, the maximum limited to the mean plus the mean's distance from the
// minimum, or the minimum limited to the mean minus the maximum's distance from it.
// noiseLevel below 0 (or NaN) fails without a fetch; otherwise as CreateBackground.
int32_t CreateBackgroundLab(CImgBuff* out, uint64_t frameCount, int32_t mode, double noiseLevel,
                            FrameFetchFn fetch, void* user);
