// icons.h - the shared icon sheet of check boxes and radio buttons: one RGBA texture of
// 16 x 16 cells, 6 columns by 2 rows, alive while any check box exists.
//
// Row 0 check boxes, row 1 radio buttons; columns: 0 focused, 1 focused checked,
// 2 unfocused, 3 unfocused checked, 4 disabled, 5 disabled checked.
// The sheet is bound to a screen only for one icon draw (inside the draw lock), so every
// window can bind it next.
#pragma once

#include <cstdint>

#include "toolkit/texture.h"

constexpr int kFgIconCell = 16;
constexpr int kFgIconColumns = 6;
constexpr int kFgIconRows = 2;

// Reference counting; the first reference builds the sheet. 1/0.
int32_t AcquireIconSheet();
void ReleaseIconSheet();
// The sheet while referenced, else null.
CFgTexture* FgIconSheet();
// The sheet's pixels (96 x 32 RGBA, top row first), as uploaded.
const uint8_t* FgIconSheetPixels();
// Draws icon cell with its top-left at window pixel (x, y), 16 x 16, binding the sheet to
// screen for the draw and releasing it after. Inside a drawing section of screen.
int32_t FgDrawIcon(CFgScreen* screen, int32_t x, int32_t y, uint64_t cell);
