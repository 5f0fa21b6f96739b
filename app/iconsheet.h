// iconsheet.h - the icon sheets of the main window's panels (scene bar, side panel): a row of
// square icons drawn in the program and a second row of the same icons faded, for a
// disabled panel.
#pragma once

#include <cstdint>

#include "toolkit/texture.h"

// source: cells icons of cell x cell RGBA pixels side by side (cells * cell wide, cell high).
// A pixel whose first byte is 1 to 254 is black with alpha 255 minus that byte (antialiased
// ink); any other pixel keeps its four bytes.  The faded row takes every colour channel c to
// 255 - ((255 - c) >> 1) and keeps alpha.  texture gets cells x 2 cells and is uploaded;
// 0 on failure.
int32_t MakeFadedIconSheet(CFgTexture* texture, const uint8_t* source, int cell, int cells);
