// whitebalance.h - colour operations that run inside a ColorXform: white balance by a shift in
// the CIE a*b* plane, and six-colour hue correction on the 16-bit HSV scale; their builders
// and the estimate of a picture's white.  Colours in and out are doubles 0..1 (sRGB, gamma
// encoded); a double becomes a channel as the top bits of trunc(c x 4294967295).
//   GreyAxisTable    a* and b* (and L*) of the 256 sRGB greys; built once per process
//   HueSectorParams  the parameter block of HueSectorOp: six measured and six standard colours
#pragma once
#include <cstdint>

#include "engine/colorxform.h"

struct GreyAxisTable {
  double ab[256][2];  // a*, b* of the grey (v/255, v/255, v/255)
  double L[256];      // its L*, for picking the grey nearest a colour's lightness
};
// Builds the table on the first call (once, also when threads race) and returns it.
const GreyAxisTable* BuildGreyAxisTable();

// Parameter block of LabShiftOp.
struct LabShiftParams {
  double da;
  double db;
};
// a* += da, b* += db at unchanged L*.
void LabShiftOp(uint8_t* r, uint8_t* g, uint8_t* b, void* params);

struct HueSectorParams {
  uint32_t correctS;  // 1: saturation follows the references too
  uint32_t correctV;  // 1: value follows the references too
  uint16_t stdH[7];   // the six standard colours; element 6 repeats element 0
  uint16_t stdS[7];
  uint16_t stdV[7];
  uint16_t imgH[7];   // the six measured colours; element 6 repeats element 0
  uint16_t imgS[7];
  uint16_t imgV[7];
};
// Maps the hue piecewise linearly from the measured hues to the standard ones; sector i runs
// from reference i to i + 1 (sector 5 back to 0), forward or backward as the hues lie.
void HueSectorOp(uint8_t* r, uint8_t* g, uint8_t* b, void* params);

// A transform that moves the colour (r, g, b) onto the grey axis, every colour by the same
// a*b* offset.  Null for a non-finite channel or no memory.
ColorXform* BuildWhiteBalance(double r, double g, double b);
// A transform taking the six measured colours to the six standard colours.  Null when the
// references are unusable (a grey or black reference, equal neighbouring hues, a non-finite
// channel) or memory is short.
ColorXform* BuildColorCorrection(const double* imgR, const double* imgG, const double* imgB,
                                 const double* stdR, const double* stdG, const double* stdB,
                                 int32_t correctS, int32_t correctV);
// The colour that should be neutral: the mean of the picture read as 16-bit R,G,B, or, with a
// saturation or value limit on a picture of at least 128 x 128, the mean of the 16 x 16 grid
// blocks whose mean colour passes them (limitsUsed 1).  Percentages 0..100; satPct 0 and 100
// and valPct 0 set no limit.  1, or 0 for a percentage above 100 or an empty picture (nothing
// written).  Sums run in row order, so the result does not depend on the worker count.
int32_t EstimateWhite(const CImgBuff* img, double* r, double* g, double* b, uint32_t satPct,
                      uint32_t valPct, uint32_t* limitsUsed);
