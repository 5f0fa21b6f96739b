// separate.h - separation of touching particles: background lines drawn where regions grown
// downhill from the summits of a height map meet.
//
//   SeparateParticles   the operation on a rectangle of a binary (or, in gray mode, any) picture
//   FailSeparateAllocationForTesting   test hook: makes one of its work planes fail to allocate
#pragma once
#include <cstdint>

#include "engine/frame.h"

// Heights are the chessboard distance of each object pixel to the background (binary mode;
// objects are the non-background pixels of valueFlag, the outside of the rectangle counts as
// background; 3 x 3 mean smoothed) or the 8-bit gray values (grayMode non-zero).  Every
// plateau of equal height (connectivity conn) that encloses nothing and touches no higher
// pixel is a summit with its own label (labels 1..255, given again from 1 past 255); labels
// grow downhill level by level, and pixels where different labels meet or that no label
// reaches are painted with the background (SetGray8 0, or 255 when valueFlag is non-zero).
// The rectangle must lie inside the picture with x0 <= x1 and y0 <= y1 (it is not clamped).
// 1, or 0 with the picture unchanged for a bad format, conn other than 4 or 8, a refused
// rectangle, no memory, or in binary mode a rectangle without object pixels.
int32_t SeparateParticles(CImgBuff* img, int32_t grayMode, int32_t conn, int32_t valueFlag,
                          const RoiRect* roi);

// Test hook: the n-th work plane SeparateParticles takes from now on fails as if memory ran
// out (1 = the next one); 0 switches the hook off.  The picture crop is not counted.
void FailSeparateAllocationForTesting(int32_t n);
