// levels.h - level operations of the gamma and histogram filters.
//
//   LevelLut          8-bit and 16-bit level table of one curve (gamma or linear stretch)
//   HistogramJob      context record of the histogram row workers (also run by callers)
//   BuildGammaLut .. FreeLut      table builders and release
//   ApplyLevelLut / ApplyStretchLut  a table applied to the rectangle of a picture
//   GammaCorrect, StretchLevels   the same curves, computed directly for 32-bit samples
//   ComputeHistogram  256 bins of gray, R, G or B over a rectangle
#pragma once
#include <cstdint>

#include "engine/frame.h"

// Allocated from the C heap by its builder; freed with FreeLut.
struct LevelLut {
  uint8_t table8[256];  // new value of every 8-bit level
  uint16_t* table16;    // [65536], new value of every 16-bit level (its own heap block)
};

// Run as ParallelFor(worker, &job, y1 - y0 + 1); each worker counts into private bins and adds
// them to bins once under lock.  The caller zeroes bins beforehand.  A null lock is allowed
// only when the caller runs the pieces one after another.
struct HistogramJob {
  CImgBuff* img;
  int32_t x0, y0, x1, y1;  // inside the picture, as GetRoi gives it
  uint64_t* bins;          // [256]
  PlatformLock* lock;
};

// Exponent g1 / g0; null when g0 or g1 is not above 0 (NaN included) or memory is short.
LevelLut* BuildGammaLut(double g0, double g1);
// 0 below lo, linear from 0 at lo to 65535 at hi, 65535 above; the 8-bit table the same with
// lo / 256 and hi / 256.  Null when lo > hi or memory is short.
LevelLut* BuildStretchLut(uint16_t lo, uint16_t hi);
// 0 for null; otherwise frees both blocks and returns 1.
int32_t FreeLut(LevelLut* lut);

// Formats 1, 4, 9 through table8; 2, 3, 5 to 8 through table16 at 16 bits (32-bit samples lose
// their low half).  0 for a null table, a refused rectangle or an empty picture.
int32_t ApplyLevelLut(CImgBuff* img, const LevelLut* lut, const RoiRect* roi);
int32_t ApplyStretchLut(CImgBuff* img, const LevelLut* lut, const RoiRect* roi);

// Gamma curve with exponent g1 / g0: tables for the 8- and 16-bit classes, the direct curve
// for formats 3, 6, 7.  0 for g0 or g1 not above 0, a refused rectangle or an empty picture.
int32_t GammaCorrect(CImgBuff* img, double g0, double g1, const RoiRect* roi);
// Linear stretch of the 32-bit samples between lo x 65536 and hi x 65536 + 65535.  0 when
// lo > hi (nothing changes), for a refused rectangle or an empty picture.
int32_t StretchLevels(CImgBuff* img, uint16_t lo, uint16_t hi, const RoiRect* roi);

// mode 1 gray, 2 R, 3 G, 4 B (gray pictures count their gray in every mode), each value
// reduced to 8 bits.  bins[256] are set, *maxBin (optional) becomes the largest bin.  0 with
// nothing written for a mode outside 1..4, null bins, a refused rectangle or an empty picture.
int32_t ComputeHistogram(CImgBuff* img, int32_t mode, uint64_t* bins, uint64_t* maxBin,
                         const RoiRect* roi);

// Row workers for a HistogramJob (ParallelForFn).
void HistogramRowsMode1(void* job, uint64_t first, uint64_t count);
void HistogramRowsMode2(void* job, uint64_t first, uint64_t count);
void HistogramRowsMode3(void* job, uint64_t first, uint64_t count);
void HistogramRowsMode4(void* job, uint64_t first, uint64_t count);
