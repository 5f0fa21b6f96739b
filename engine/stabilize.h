// stabilize.h - holding a video steady on two textured blocks: the block grid and its scores,
// the point matcher to a tenth of a pixel, the shift that undoes a displacement, and the
// two-point stabilisation (turn and scale undone, then the first point moved home).
//
//   TrackBlock              a block of the grid with its four texture measures
//   BuildTrackingBlocks     scores every block of a centred grid over a rectangle
//   SelectTrackingBlocks    the best block and a second, high-scoring block far from it
//   MatchPointSubpixel      whole-pixel search around a point, then tenths
//   CompensateShift         moves a picture by minus a displacement, whole or fractional
//   StabilizeTwoPoints      two-point stabilisation against reference positions
//   StabilizeTwoPointsEx    the same searching around given points, reporting them
//
// Positions are template top-left corners in picture pixels; point pairs are two arrays of
// two, element 0 the best block.  The fill (0 or 255) is the white argument of RotateScale
// and the fill of the shift.
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct TrackBlock {
  int32_t x0, y0, x1, y1;   // inclusive rectangle in the picture
  double rowColSpreadL;     // the smaller of the row and column spread of L*
  double rowColSpreadAB;    // the smaller of the row and column spread of a*, b*
  double rowColRoughL;      // the smaller of the row and column roughness of L*
  double rowColRoughAB;     // the smaller of the row and column roughness of a*, b*
};

// The sum of the four measures: high only when rows and columns both vary.
inline double TrackBlockScore(const TrackBlock& b) {
  return b.rowColSpreadL + b.rowColSpreadAB + b.rowColRoughL + b.rowColRoughAB;
}

// Cuts the inclusive rectangle into blocks of blockW x blockH, the grid centred (the odd
// margin pixel on the right and bottom), block rows from the top, each left to right, and
// measures each with RegionStatistics.  Returns the count with *out a list the caller
// releases with std::free; 0 (*out untouched) unless the picture is valid, 0 <= x0 <= x1 <
// width, 0 <= y0 <= y1 < height, the block fits the rectangle and out is given, or when
// memory is short.
int32_t BuildTrackingBlocks(CImgBuff* img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t blockW,
                            int32_t blockH, TrackBlock** out);

// best = the highest score (the first in list order among equals); second = the block whose
// score weighted by its corner distance from the best (over the rectangle's diagonal) is
// highest, where the last block (or the one before it when that is the best) stands with its
// plain score as the bar to clear.  1, or 0 (nothing written) when fewer than two blocks fit.
int32_t SelectTrackingBlocks(CImgBuff* img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t blockW,
                             int32_t blockH, TrackBlock* best, TrackBlock* second);

// Finds templ near (x, y): radius 2 or more searches whole pixels within +/-(radius - 1) with
// the pyramid (radius 1 takes (x, y) itself), then tenths within +/-1 pixel.  1 with *dx, *dy
// = the found position minus (x, y); 0 (outputs untouched) for a null or empty picture or
// template, null outputs, a radius below 1, a window beyond 32 bits, or a failed search.
int32_t MatchPointSubpixel(CImgBuff* image, CImgBuff* templ, int32_t x, int32_t y, int32_t radius, double* dx,
                           double* dy, int32_t colourMode);

// Moves the picture by (-dx, -dy): wholePixels non-zero by ShiftImageWhole of the parts
// truncated toward zero (2.9 moves by -2), else by ShiftImage.  The shift's result, or 0
// (unchanged) for a displacement that is not finite or whose whole part does not fit 32 bits.
int32_t CompensateShift(int32_t wholePixels, CImgBuff* img, double dx, double dy, uint8_t fill);

// Finds templates[0] and [1] within +/-radius of refX[i], refY[i], refines them to tenths,
// turns and scales the frame (RotateScale about (w / 2, h / 2)) so that the measured pair
// lines up with the reference pair, finds templates[0] again near its predicted place and
// moves the frame so that it lands on (refX[0], refY[0]): in whole pixels when wholePixels is
// non-zero, else by fractions.  1, or 0: frame unchanged when an argument is bad, a search
// fails, or the two points coincide (no turn or scale can be measured); after the turn, the
// shift's result.
int32_t StabilizeTwoPoints(int32_t wholePixels, CImgBuff* frame, CImgBuff* const* templates, const int32_t* refX,
                           const int32_t* refY, int32_t radius, uint8_t fill, int32_t colourMode);

// As StabilizeTwoPoints with colour mode 0 and fractional shifts, but searching around
// (searchX[i], searchY[i]); outX / outY (each may be null) receive the measured positions
// before any correction.
int32_t StabilizeTwoPointsEx(CImgBuff* frame, CImgBuff* const* templates, const int32_t* refX, const int32_t* refY,
                             const int32_t* searchX, const int32_t* searchY, int32_t radius, uint8_t fill,
                             double* outX, double* outY);
