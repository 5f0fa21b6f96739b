// neighbourhood.h - the read-from-a-copy frame of the window filters (convolution, median).
//
//   FilterSource          the copy the workers read and where their results go
//   PrepareFilterSource   crops the rectangle; stages formats 7 to 9 as R, G, B of their class
//   FilterDestRow         typed pointer to the first result sample of a row
//   StoreStagedResults    writes staged results back through the R, G, B setters
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct FilterSource {
  CImgBuff copy;      // the rectangle; formats 7..9 converted to R, G, B of their class
  CImgBuff staged;    // formats 7..9 only: the results, before they go through the setters
  int32_t format;     // format of copy, 1..6
  int32_t channels;   // 1 or 3
  int32_t isStaged;   // 1 for formats 7..9
  C_ImgBuff* dest;    // where results are written: the caller's record or staged
  int32_t destX0;     // column and row of copy pixel (0, 0) in dest
  int32_t destY0;
};

// 1, or 0 when the crop or the staging pictures cannot be made (nothing written).
int32_t PrepareFilterSource(CImgBuff* img, const RoiRect& r, FilterSource* fs);

template <class T>
inline T* FilterDestRow(const FilterSource& fs, int32_t y) {
  return RowPtr<T>(fs.dest, fs.destX0, fs.destY0 + y);
}
template <class T>
inline const T* FilterSrcRow(const FilterSource& fs, int32_t y) {
  return RowPtr<const T>(fs.copy.record, 0, y);
}

// Formats 7..9: every staged result through SetRGB8/16/32 of the class at (x0 + x, y0 + y);
// with rowDone, only the rows whose flag is non-zero.
void StoreStagedResults(CImgBuff* img, const RoiRect& r, const FilterSource& fs,
                        const uint8_t* rowDone = nullptr);
