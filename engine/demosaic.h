// demosaic.h - between a colour picture and the raw picture of a single-sensor camera behind
// a colour filter array: mosaic, linear demosaic and adaptive colour plane interpolation.
//
//   CfaColor              the colour a filter cell sees: 1 R, 2 G, 3 B, 255 none
//   BayerPattern          period and cells of one filter array
//   BayerPatternTable     "GRBG", "GBRG", "RGGB", "BGGR" (2 x 2), "XTRANS", "XTRANS4" (6 x 6)
//   XtransNeighbourTable  the eight weighted neighbours of the 6 x 6 linear interpolation
//   DemosaicJob           context record of the row workers
//   Demosaic              the operation
//   RoundToU32            the kernels' rounding before the depth cap
//
// The period is anchored at the picture's top-left pixel whatever the rectangle.  Every
// sample is read from a full copy of the picture, so neighbours outside the rectangle but
// inside the picture take part.
#pragma once
#include <cstdint>

#include "engine/frame.h"

typedef uint8_t CfaColor;
constexpr CfaColor CfaRed = 1, CfaGreen = 2, CfaBlue = 3, CfaNone = 255;

struct BayerPattern {
  const char* name;
  int32_t width, height;
  CfaColor cells[36];  // row order
};
extern const BayerPattern BayerPatternTable[6];

struct XtransNeighbour {
  int32_t dx, dy, weight;
};
extern const XtransNeighbour XtransNeighbourTable[8];

// The colour of picture pixel (x, y), x and y >= 0, under pattern 0..5.
inline CfaColor CfaColorAt(uint32_t pattern, int64_t x, int64_t y) {
  const BayerPattern& p = BayerPatternTable[pattern];
  return p.cells[(y % p.height) * p.width + (x % p.width)];
}

struct DemosaicJob {
  CImgBuff* source;       // full copy of the picture as it was (gains applied by ACPI)
  CImgBuff* destination;  // the caller's picture
  CImgBuff* green;        // ACPI green plane, else null
  int32_t x0, y0, x1, y1;
  int32_t pattern;
  const double* gains;    // indexed by CfaColor 1..3
};

// + 0.5, clamped to [0, 4294967295] (NaN gives 0), truncated.
uint32_t RoundToU32(double v);

// mode 0 mosaic, 1 linear demosaic, 2 ACPI demosaic; pattern 0..5; gains null (all 1.0) or
// R, G, B at indices 1, 2, 3 (divided out by the mosaic, multiplied in by the demosaics).
// Demosaic turns a gray picture into R,G,B of its depth; a mosaic of the whole picture turns
// a colour picture into gray of its depth.  Result 1, or 0 with the picture unchanged for a
// mode above 2, a pattern above 5, a rectangle refused or narrower or lower than 2 pixels,
// an empty picture or no memory for the copy, the new format or the green plane.
int32_t Demosaic(CImgBuff* picture, uint32_t mode, uint32_t pattern, const double* gains,
                 const RoiRect* roi);
