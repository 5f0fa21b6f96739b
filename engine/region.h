// region.h - measures over rectangular regions: how different a template is from a region of
// an image (lower is more similar, 0 identical, negative = the template does not fit), and
// the L*a*b* statistics of a rectangle.
//
//   RegionStats                 17 doubles: L*, a*, b* extremes and means, row and column
//                               spreads and roughness of the channel means
//   RegionDissimilarity         score of a template at a whole-pixel position
//   RegionDissimilarityAt       score at a fractional position (linear interpolation)
//   RegionStatistics            fills a RegionStats over an inclusive rectangle
//
// Comparison modes follow the template's format: a gray template compares 8-bit gray values;
// a colour template compares 8-bit R, G, B (colour mode 0) or L*a*b* (any other colour mode).
// The image's pixels are converted by the accessors whatever its format.
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct RegionStats {
  // 0..2 min, max, mean of L*; 3..5 of a*; 6..8 of b*; 9, 10 row and column spread of L*;
  // 11, 12 the larger row and column spread of a* and b*; 13, 14 row and column roughness
  // of L*; 15, 16 the larger row and column roughness of a* and b*.
  double v[17];
};

// Score of the template against the region of the image with its top-left corner at (x, y):
// the mean absolute difference in percent of 255 (gray: 8-bit gray; RGB: the three 8-bit
// channels averaged); in L*a*b* 100/3 times the mean of |dL*| + (25/255)(|da*| + |db*|).
// A non-zero normalise flag first stretches each side to its own 0..255 range (gray, RGB) or
// sets L* to 50 (L*a*b*), on private copies.  -1.0 for a null or empty picture, a negative x
// or y, or a template that does not fit.  The score does not depend on the worker count.
double RegionDissimilarity(CImgBuff* image, CImgBuff* templ, int32_t x, int32_t y, int32_t normalise,
                           int32_t colourMode);

// The same at a fractional position: the image region one pixel larger than the template at
// (trunc x, trunc y) is shifted by minus the fractions (ShiftImage, fill 0) and compared at
// (0, 0).  -1.0 when x or y is negative or not finite, or when the enlarged region does not
// fit (so also on the last whole position of a row or column).
double RegionDissimilarityAt(CImgBuff* image, CImgBuff* templ, double x, double y, int32_t normalise,
                             int32_t colourMode);

// 1 with out filled; 0 (out untouched) for a null or empty picture, a null out, or a rectangle
// outside 0 <= x0 <= x1 < width, 0 <= y0 <= y1 < height.  Runs on the calling thread.
int32_t RegionStatistics(CImgBuff* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, RegionStats* out);
