// draw.h - filled-rectangle primitives every widget draws with. Window pixels, inclusive
// corners, colours 0..1; called inside a drawing section of screen.
//
//   FgFillRect        one rectangle in one colour
//   FgFillFramedRect  a 1-pixel frame around a filled inside
//   FgDrawBevel       raised (light top-left grey, dark bottom-right) or sunken edges
//   FgFillTriangle    a triangle through three window pixels (corner gloss of buttons)
#pragma once

#include <cstdint>

#include "toolkit/screen.h"

void FgFillRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, double red,
                double green, double blue);
void FgFillFramedRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                      double fillRed, double fillGreen, double fillBlue, double frameRed,
                      double frameGreen, double frameBlue);
// Whole rectangle grey 0.5; x0..x1-1, y0..y1-1 topLeftGrey; x0+1..x1, y0+1..y1
// bottomRightGrey; the face inside. Corners (x1, y0) and (x0, y1) stay 0.5.
void FgDrawBevel(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                 double faceRed, double faceGreen, double faceBlue, double topLeftGrey,
                 double bottomRightGrey);
void FgFillTriangle(CFgScreen* screen, double x0, double y0, double x1, double y1, double x2,
                    double y2, double red, double green, double blue);
