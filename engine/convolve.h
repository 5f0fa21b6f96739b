// convolve.h - square-window filters: 3 x 3 convolution with double weights, size x size
// convolution with integer weights, and the median, channel by channel.
//
//   ConvolveDouble   3 x 3 double kernel over the whole picture, divided by the weights inside
//   ConvolveInt      size x size integer kernel inside a rectangle, fixed or automatic divisor
//   MedianFilter     median of the size x size window inside a rectangle
//
// The window never reaches past the rectangle (for ConvolveDouble: the picture): it shrinks
// at the border instead of extending the picture.  Every output pixel is computed from the
// unchanged input; pixels outside the rectangle are never written.  Gray and R, G, B formats
// are filtered sample by sample as stored; C,M,Y,K, H,S,V and XYZ pictures are filtered as
// their R, G, B at the depth of their class and stored back through the R, G, B setters.
#pragma once
#include <cstdint>

#include "engine/frame.h"

// kernel: 9 weights, row-major.  reserved is not read; the whole picture is filtered.  Each
// sample becomes sum(value x weight) / max(1, sum of the weights inside), saturated to the
// format's range and truncated toward zero (NaN gives 0).  1, or 0 for an empty picture, a
// null kernel or no memory.
int32_t ConvolveDouble(CImgBuff* img, const void* reserved, const double* kernel);

// kernel: size x size weights, row-major, centred on the pixel.  autoDiv non-zero divides by
// the sum of the weights whose pixels lie inside the rectangle when that sum is above 1
// (otherwise the sum is not divided); autoDiv 0 divides by divisor.  Divisions truncate
// toward zero; the result is saturated to the format's range.  0 with the picture unchanged
// for size 0, even or beyond 2^31, a null kernel, autoDiv 0 with divisor <= 0, a refused
// rectangle or no memory.
int32_t ConvolveInt(CImgBuff* img, uint64_t size, const int32_t* kernel, int32_t autoDiv,
                    int32_t divisor, const RoiRect* roi);

// Each sample becomes element n / 2 of the n window samples sorted ascending (for an even n
// at a shrunken border the upper middle).  0 with the picture unchanged for size 0, even or
// beyond 2^31, a refused rectangle or no memory before the first write; 0 also when a worker
// could not get its buffers (its rows then stay as they were, all others are filtered).
int32_t MedianFilter(CImgBuff* img, uint64_t size, const RoiRect* roi);
