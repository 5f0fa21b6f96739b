// subtract.h - comparing a picture with a stored background picture of the same scene, pixel
// by pixel at the picture's own coordinates.
//
//   SubtractJob         job record of SubtractBackground
//   ExtractJob          job record of ExtractObjects
//   LabSquaredDistance  the distance rule on two L*a*b* colours (also the background builder's)
//   LabDistance         the squared L*a*b* distance of one picture pixel to the background's
//   SubtractBackground  channel-wise difference to the background, clamped at 0
//   ExtractObjects      paints the pixels or tiles close to the background in the chain's
//                       background value, so that what differs stands out
//
// The background may have any format and size; a picture pixel at or beyond the background's
// width or height lies outside it.
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct SubtractJob {
  CImgBuff* picture;
  CImgBuff* background;
  int32_t maskOutside;  // 0 keep pixels outside the background, non-zero clear them
  int32_t x0, y0, x1, y1;
};

struct ExtractJob {
  CImgBuff* picture;
  CImgBuff* background;
  int32_t valueFlag;  // 0 paint black, non-zero paint white
  double level;
  uint64_t tileSize;  // 0 or 1 pixel by pixel, otherwise square tiles
  int32_t x0, y0, x1, y1;
};

// The squared colour distance of the background rules: lightness alone unless both colours
// are brighter than L* 50, then a quarter of the squared chroma difference as well.
inline double LabSquaredDistance(double L1, double a1, double b1, double L2, double a2,
                                 double b2) {
  const double dL = L2 - L1;
  if (L1 <= 50.0 || L2 <= 50.0) return dL * dL;
  return dL * dL + 0.25 * ((a2 - a1) * (a2 - a1) + (b2 - b1) * (b2 - b1));
}

// D = (L2 - L1)^2 when either lightness is at most 50, plus 0.25 x ((a2 - a1)^2 + (b2 - b1)^2)
// when both exceed 50; not square-rooted.  0.0 when (x, y) is missing from either picture.
double LabDistance(CImgBuff* picture, CImgBuff* background, int32_t x, int32_t y);

// Each channel p becomes p - q when p > q, else 0, with q the background read as the picture's
// slot reads it (gray or R, G, B at the picture's depth).  Outside the background: 0 with
// maskOutside, else unchanged.  1 also for an empty background (nothing done); 0 for a
// refused rectangle or an empty picture.
int32_t SubtractBackground(CImgBuff* picture, CImgBuff* background, int32_t maskOutside,
                           const RoiRect* roi);

// Pixel pass (tileSize 0 or 1): a pixel inside the background with D <= level x level is
// painted.  Tile pass: a tile whose mean D (pixels outside the background count 0) is at
// most level is painted whole.  Painting writes SetGray8(255 when valueFlag, else 0).
// 1 also for an empty background; 0 for a negative or non-finite level (NaN would paint
// everything), a refused rectangle or an empty picture.
int32_t ExtractObjects(CImgBuff* picture, CImgBuff* background, int32_t valueFlag, double level,
                       uint64_t tileSize, const RoiRect* roi);
