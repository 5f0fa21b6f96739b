// upconvert.h - raising a gray or R, G, B picture to 16 or 32 bits per channel, with the new
// low bits filled by a smoothing step after each widening.
//
//   UpConvert   the operation (format changes to the gray or R, G, B format of the depth)
#pragma once
#include <cstdint>

#include "engine/frame.h"

// bits 16 or 32.  Each widening (8 to 16, 16 to 32) replicates the old bits and is followed by
// a weighted mean, a mild sharpening and a 3 x 3 mean that replaces each pixel lying within
// 512 (16-bit) or 131072 (32-bit) of it, on every channel for colour.  32 to 16 bits only
// narrows.  1 (also when the depth is already right), or 0 for other bits, formats 7 to 9 or
// an empty picture (unchanged), or a failed step (the picture keeps the depth reached).
int32_t UpConvert(CImgBuff* img, uint32_t bits);
