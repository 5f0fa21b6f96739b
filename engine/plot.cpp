// plot.cpp - line and circle rasterisers for the colour diagram outlines.
// Inside: octant mapping - line stepper - line - circle
#include "engine/plot.h"

namespace {

// The step is formed in 64 bits: a line's far end may lie up to 2^31 - 1 from its start.
void PlotMapped(int64_t cx, int64_t cy, int64_t u, int64_t v, int32_t mapping, PlotFn plot,
                void* ctx) {
  int64_t x = cx, y = cy;
  switch (mapping) {
    case 1: x += u; y += v; break;
    case 2: x += v; y += u; break;
    case 3: x -= v; y += u; break;
    case 4: x -= u; y += v; break;
    case 5: x -= u; y -= v; break;
    case 6: x -= v; y -= u; break;
    case 7: x += v; y -= u; break;
    default: x += u; y -= v; break;  // 8
  }
  plot(int32_t(x), int32_t(y), ctx);
}

}  // namespace

void PlotOctantRun(int32_t cx, int32_t cy, int32_t n, int32_t m, int32_t mapping, PlotFn plot,
                   void* ctx) {
  if (!plot || n < 1 || m < 1 || m > n || mapping < 1 || mapping > 8) return;
  // e + m reaches 2n, past 32 bits for the longest lines.
  int64_t e = n >> 1;
  int64_t uA = 0, vA = 0, uB = int64_t(n) - 1, vB = int64_t(m) - 1;
  while (uA < n) {
    PlotMapped(cx, cy, uA, vA, mapping, plot, ctx);
    PlotMapped(cx, cy, uB, vB, mapping, plot, ctx);
    if (vB - vA < 2 && uB - uA < 2) break;  // the ends have met
    e += m;
    if (e >= n) {
      e -= n;
      ++vA;
      --vB;
    }
    ++uA;
    --uB;
  }
}

void PlotLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PlotFn plot, void* ctx) {
  const int64_t dx = int64_t(x1) - x0, dy = int64_t(y1) - y0;
  const int64_t ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  // The stepper counts pixels in 32 bits: n = extent + 1 must fit.
  if (ax >= INT32_MAX || ay >= INT32_MAX) return;
  const int32_t nx = int32_t(ax + 1), ny = int32_t(ay + 1);
  int32_t mapping;
  if (dx >= 0 && dy > 0) mapping = ax >= ay ? 1 : 2;
  else if (dx < 0 && dy >= 0) mapping = ax >= ay ? 4 : 3;
  else if (dx < 0) mapping = ax >= ay ? 5 : 6;
  else mapping = ax >= ay ? 8 : 7;  // dx >= 0, dy <= 0
  const int32_t major = ax >= ay ? nx : ny, minor = ax >= ay ? ny : nx;
  PlotOctantRun(x0, y0, major, minor, mapping, plot, ctx);
}

void PlotCircleOctant(int32_t cx, int32_t cy, int32_t mapping, PlotFn plot, void* ctx) {
  if (!plot || mapping < 1 || mapping > 8) return;
  int64_t r = 128;
  for (int64_t i = 0; i <= 90; ++i) {
    int64_t e1 = (r - 1) * (r - 1) + i * i - 16384, e0 = r * r + i * i - 16384;
    if (e1 < 0) e1 = -e1;
    if (e0 < 0) e0 = -e0;
    if (e1 < e0) --r;  // a tie keeps r
    PlotMapped(cx, cy, i, r, mapping, plot, ctx);
  }
}

int32_t PlotCircle(PlotFn plot, void* ctx) {
  static const int32_t octants[8][3] = {{127, 127, 2}, {127, 127, 1}, {128, 127, 4},
                                        {128, 127, 3}, {128, 128, 6}, {128, 128, 5},
                                        {127, 128, 8}, {127, 128, 7}};
  for (const auto& o : octants) PlotCircleOctant(o[0], o[1], o[2], plot, ctx);
  return 1;
}
