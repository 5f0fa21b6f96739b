// invert.h - the complement of every channel inside a rectangle.
#pragma once
#include <cstdint>

#include "engine/frame.h"

// Every channel v inside the rectangle becomes maximum - v at the format's depth (H,S,V,
// C,M,Y,K and XYZ pictures through their R,G,B equivalent).  1, or 0 for a refused rectangle
// or an empty picture.
int32_t Invert(CImgBuff* img, const RoiRect* roi);
