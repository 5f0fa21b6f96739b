// morphology.h - binary morphology on pictures: one layer of erosion or dilation, hole
// filling, whisker shaving, outline, thinning and exclusive dilation (growth that never
// merges islands).  Object and background follow the background setting valueFlag: 0 means
// background 0 with objects written as 255, non-zero background at the format's maximum
// with objects written as 0 (through SetGray8, so every channel and the format's white).
#pragma once
#include <cstdint>

#include "engine/bitmask.h"
#include "engine/frame.h"

// One layer of erosion: every object pixel of the rectangle with a clear neighbour (the 8
// neighbours for conn 8, the 4 for any other value; outside the rectangle is background)
// is written with the background value.  `mask` is the object mask of the rectangle made by
// the caller with ImageRegionToBitMask; the rectangle has passed NormalizeRoi with the
// picture.  A mask that doesn't fit the rectangle or picture is ignored.
void ErodeStep(const BitMask* mask, CImgBuff* img, int32_t conn, int32_t valueFlag, int32_t x0,
               int32_t y0, int32_t x1, int32_t y1);
// One layer of dilation: background pixels with an object neighbour become objects.
int32_t DilateStep(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi);
// Background that no fill from the rectangle's border reaches (with the other connectivity:
// 8 for conn 4, 4 for conn 8) becomes object.
int32_t FillHoles(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi);
// Removes lines of fewer than maxLength pixels that run from a free end into a junction
// (objects: 32-bit gray differs from 0 or 4294967295); one raster sweep.
int32_t ShaveWhiskers(CImgBuff* img, int32_t maxLength, int32_t conn, int32_t valueFlag,
                      const RoiRect* roi);
// Object pixels with all neighbours set (the 4-neighbours for conn 8, all eight for conn 4)
// become background, the other object pixels the object value.
int32_t ExtractOutline(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi);
// Thins objects to lines by passes of four directional sub-iterations until a pass deletes
// nothing.
int32_t Thin(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi);
// One layer of growth for every island that never touches another island or its growth.
// The rectangle has passed NormalizeRoi with the picture.
int32_t DilateExclusive(CImgBuff* img, int32_t conn, int32_t valueFlag, int32_t x0, int32_t y0,
                        int32_t x1, int32_t y1);

// The 256 thinning flags by neighbour code (up-left bit 7 .. down-right bit 0): bit s deletes
// in sub-iteration s with 4-connectivity, bit 4 + s with 8-connectivity.
extern const uint8_t ThinningFlags[256];
