// plot.h - integer rasterisers of a straight line and of the 256 x 256 diagram circle, handing
// every pixel to a plot callback.
//
//   PlotFn             the plot callback fn(x, y, ctx); its result is not used
//   PlotOctantRun      the line stepper: n pixels along the major axis, m along the minor
//   PlotCircleOctant   one eighth of the circle
//   PlotLine           every pixel from (x0, y0) to (x1, y1), both ends included
//   PlotCircle         the outline of the circle that exactly fills a 256 x 256 picture
//
// Both walk a step (u, v) with u the major axis; one of eight mappings turns it into picture
// coordinates about a centre (cx, cy):
//   1 (cx + u, cy + v)   2 (cx + v, cy + u)   3 (cx - v, cy + u)   4 (cx - u, cy + v)
//   5 (cx - u, cy - v)   6 (cx - v, cy - u)   7 (cx + v, cy - u)   8 (cx + u, cy - v)
// The plotters never test coordinates: the callback ignores what lies outside its picture.
#pragma once
#include <cstdint>

typedef int32_t (*PlotFn)(int32_t x, int32_t y, void* ctx);

// Draws from both ends toward the middle, so the two halves mirror each other and a middle
// pixel may be plotted twice.  Nothing for n < 1, m < 1, m > n or a mapping outside 1..8.
void PlotOctantRun(int32_t cx, int32_t cy, int32_t n, int32_t m, int32_t mapping, PlotFn plot,
                   void* ctx);
// 91 steps, u = 0..90, v falling from 128 to 91; nothing for a mapping outside 1..8.
void PlotCircleOctant(int32_t cx, int32_t cy, int32_t mapping, PlotFn plot, void* ctx);
// A single point plots (x0, y0) twice.  A line whose extent along either axis does not fit 31
// bits plots nothing (its pixel count would not fit the stepper).
void PlotLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PlotFn plot, void* ctx);
// Extreme pixels at 0 and 255 in both directions, centre between pixels 127 and 128.
// Returns 1.
int32_t PlotCircle(PlotFn plot, void* ctx);
