// component.h - replaces every pixel of a rectangle by one colour component of itself.
//
//   ComponentJob       context record of the row workers
//   ExtractComponent   the operation
//
// Modes (one above the chain's component codes): 1 grey, 2..4 R, G, B, 5..7 H, S, V, 8..10
// C, M, Y, 11..13 C, M, Y with black removed, 14 K, 15..17 X, Y, Z, 18..20 L*, a*, b*, 21 C*,
// 22 h.  The component is written as a grey through the picture's own setters (the format is
// kept), or with colorize as a colour that shows it.
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct ComponentJob {
  CImgBuff* picture;
  int32_t colorize;  // non-zero: write a colour showing the component
  int32_t mode;      // 1..22
  int32_t x0, y0, x1, y1;
};

// 1 when the rectangle was processed or there was nothing to do (grey picture without
// colorize in modes 1..4 and 7; an empty picture with a rectangle); 0 for a mode outside
// 1..22, colorize on a picture that is not a colour format (4..9), or a refused rectangle.
int32_t ExtractComponent(CImgBuff* img, int32_t mode, int32_t colorize, const RoiRect* roi);
