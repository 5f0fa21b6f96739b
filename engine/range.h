// range.h - binarisation by a colour or brightness window (hue interval, saturation and
// value ranges on the 16-bit HSV scale), computed per pixel or through a 15-bit colour table.
//
//   HsvRangeJob    context record of the computed-range row workers
//   HsvRangeTable  selection by 8-bit gray level and by 15-bit colour (C heap, free())
//   HsvTableJob    context record of the table row workers
//   ExtractHsvRange, ExtractLevelRange   whole operations on a rectangle
//   BuildHsvRangeTable, AdjustHueInterval
//
// A hue interval is (centre, halfWidth), halfWidth 0..32768, 32768 = the whole circle; its
// ends are (centre -/+ halfWidth) mod 65536 and it wraps when the low end lies above the high.
// Removed pixels get the background (0, or the format's white when valueFlag is non-zero);
// selected pixels keep their value, or with fill get the object value (the opposite).
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct HsvRangeJob {
  CImgBuff* picture;
  uint16_t hue, halfWidth;
  uint16_t satMin, satMax;
  uint16_t valMin, valMax;
  uint32_t reverse;    // non-zero: the pixels inside the window are the ones removed
  uint32_t valueFlag;  // background setting
  uint32_t fill;       // non-zero: selected pixels get the object value
  int32_t x0, y0, x1, y1;
};

struct HsvRangeTable {
  uint32_t grayValid;     // 1 when gray holds the value range (satMin was 0)
  uint8_t gray[256];      // by 8-bit gray level: 1 = selected
  uint8_t colour[32768];  // by (R >> 3) * 1024 + (G >> 3) * 32 + (B >> 3): 1 = selected
};

struct HsvTableJob {
  CImgBuff* picture;
  const HsvRangeTable* table;
  uint32_t valueFlag;
  uint32_t fill;
  int32_t x0, y0, x1, y1;  // inside the picture
};

// 0 for halfWidth > 32768, satMin > satMax, valMin > valMax or a refused rectangle.
int32_t ExtractHsvRange(CImgBuff* img, uint16_t hue, uint16_t halfWidth, uint16_t satMin,
                        uint16_t satMax, uint16_t valMin, uint16_t valMax, uint32_t reverse,
                        uint32_t fill, uint32_t valueFlag, const RoiRect* roi);
// The gray value against valMin..valMax (8-bit class: their high bytes).  0 for a refused
// rectangle.
int32_t ExtractLevelRange(CImgBuff* img, uint16_t valMin, uint16_t valMax, uint32_t reverse,
                          uint32_t fill, uint32_t valueFlag, const RoiRect* roi);
// A new table (free it with free()), or null for bad ranges or no memory.
HsvRangeTable* BuildHsvRangeTable(uint16_t hue, uint16_t halfWidth, uint16_t satMin,
                                  uint16_t satMax, uint16_t valMin, uint16_t valMax,
                                  int32_t reverse);
// Widens (centre, halfWidth) by the shorter way until it takes in hue; outputs may be null.
void AdjustHueInterval(uint16_t centre, uint16_t halfWidth, uint16_t hue, uint16_t* outCentre,
                       uint16_t* outHalfWidth);

// Row workers (ParallelForFn) over rows y0 + first .. of the job's rectangle, in place.
void ExtractRangeRowsGray8(void* job, uint64_t first, uint64_t count);   // HsvRangeJob
void ExtractRangeRowsGray16(void* job, uint64_t first, uint64_t count);  // HsvRangeJob
void ExtractRangeRowsHsv(void* job, uint64_t first, uint64_t count);     // HsvRangeJob
void ExtractRowsGray(void* job, uint64_t first, uint64_t count);         // HsvTableJob
void ExtractRowsColor(void* job, uint64_t first, uint64_t count);        // HsvTableJob
