// bgf_test_util.h - helpers of the binary, geometric and Fourier filter tests.
#pragma once
#include <cstdint>

#include "filters/colour_pixel/rect.h"

namespace bgftest {

// Draws the rectangle (x0, y0)-(x1, y1) into a rectangle filter as the mouse does.
inline void Draw(CLfRect* rect, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  rect->OnLButtonDown(x0, y0, 0);
  rect->OnMouseMove(x1, y1, 0);
  rect->OnLButtonUp(x1, y1, 0);
}

}  // namespace bgftest
