// shift.h - moving the content of a whole picture by whole and fractional displacements.
// A positive dx moves the content right (pixel x receives what was at x - dx), a positive dy
// moves it down; pixels the move vacates take a fill gray level.
#pragma once
#include <cstdint>

#include "engine/frame.h"

// Moves by whole pixels in place: first the rows by dx, then the columns by dy.  Vacated
// pixels get the fill as SetGray8 writes it (every channel, widened to the depth).  Pixels
// are moved exactly as stored.  1, or 0 for a null handle or an empty picture (unchanged);
// a displacement of the width (height) or more fills everything.
int32_t ShiftImageWhole(CImgBuff* img, int32_t dx, int32_t dy, uint8_t fill);

// Moves by any real displacement: each component splits toward zero into a whole part,
// moved by ShiftImageWhole, and a fraction (keeping the sign) applied by linear
// interpolation with the neighbour, rows first, then columns on the rows' result.  The
// fraction's fill is the gray level at the working depth (v, v * 257, v * 16843009; XYZ
// pictures the XYZ of that gray).  Channels are blended in doubles, then clamped to the
// depth's maximum and truncated; XYZ values are stored as computed.
// 1, or 0 (picture unchanged) for a null handle, an empty picture, or a displacement that
// is not finite or whose whole part does not fit 32 bits.
int32_t ShiftImage(CImgBuff* img, double dx, double dy, uint8_t fill);
