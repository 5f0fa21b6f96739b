// small_islands.h - clean-up of binary pictures: removal of islands by size, and clearing of
// the objects that touch chosen edges of the rectangle (window cut).
#pragma once
#include <cstdint>

#include "engine/frame.h"

// Erases every island of at most minSize pixels (minSize not 0) or at least maxSize pixels
// (maxSize not 0, taken as unsigned).  Objects: the 8-bit gray differs from 0 / 255 in the
// 8-bit class, the 16-bit gray from 0 / 65535 otherwise; erased pixels are written through
// SetGray8 or SetGray16 with the background.  1; 1 at once when both sizes are 0; 0 for a
// connectivity other than 4 or 8, a refused rectangle, an empty picture or no memory.
int32_t RemoveSmallIslands(CImgBuff* img, uint32_t minSize, int32_t maxSize, int32_t conn,
                           int32_t valueFlag, const RoiRect* roi);
// Clears (to the background byte through SetGray8) every object that touches an enabled edge
// of the rectangle, inside the rectangle only.  Objects: the 8-bit gray differs from 0 / 255.
// 1, or 0 for a connectivity other than 4 or 8, a refused rectangle, an empty picture or no
// memory (objects cleared so far stay cleared).
int32_t WindowCutClearBorder(CImgBuff* img, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, int32_t conn, int32_t valueFlag, const RoiRect* roi);
