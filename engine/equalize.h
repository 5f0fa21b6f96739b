// equalize.h - exact histogram equalisation: every output level gets the same number of
// pixels (or as nearly as the count allows), pixels ranked by value and, among equal values,
// by the brightness of their eight neighbours, then by row-major position.
//
//   EqualizeRecord      one pixel: value, tie key, position (12 bytes)
//   EqualizeHistogram   the operation on a rectangle (colour channel by channel)
//   EqualizeGrayPlane   one gray plane in place
//   NeighbourMean       the tie key of a pixel
//   ParallelMergeSort   stable sort of records, brightest first
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct EqualizeRecord {
  uint32_t value;  // gray value at the plane's depth
  int32_t key;     // NeighbourMean
  uint16_t x, y;
};
static_assert(sizeof(EqualizeRecord) == 12, "records are packed 12 bytes apart");

// 1, or 0 with the picture unchanged for a refused rectangle, one wider or taller than 65536
// pixels (positions are kept in 16 bits) or of 2^32 pixels, an empty picture or no memory.
int32_t EqualizeHistogram(CImgBuff* img, const RoiRect* roi);

// plane: gray format 1, 2 or 3 of w x h pixels (w, h in 1..65536, w x h below 2^32).  1, or
// 0 (unchanged) for a bad plane or no memory.
int32_t EqualizeGrayPlane(CImgBuff* plane, int32_t w, int32_t h);

// Mean of the neighbours inside w x h minus value, truncated toward zero and limited to the
// signed 32-bit range; -value (limited) for a pixel without neighbours.
int32_t NeighbourMean(const CImgBuff* plane, int32_t w, int32_t h, uint32_t value, int32_t x,
                      int32_t y);

// Decreasing value, then decreasing key; equal records keep their order.  1, or 0 for a null
// array, a count of 0 or no memory.
int32_t ParallelMergeSort(EqualizeRecord* records, uint64_t n);
