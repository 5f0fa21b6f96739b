// match.h - finding a template in an image: at whole pixels inside a window of candidate
// positions, with an optional half-size pyramid, then at fractions of a pixel.  Positions are
// the template's top-left corner; scores are those of RegionDissimilarity (lower is better).
//
//   MatchCancelFn                fn(user), polled from pool threads; non-zero stops a search
//   MatchTemplate                whole-pixel search with tie rule and cancel polling
//   MatchTemplateSubpixelRange   descent through nested quadrants of a rectangle of positions
//   MatchTemplateSubpixel        the same over +/-1 pixel around a whole-pixel answer
//   HalveImage                   half-size picture by 2 x 2 means at 8 bits
//   MatchFastPaths               whether the contrast-stretched search and the refinement take
//                                their fast paths (a switch for tests; same answers either way)
#pragma once
#include <cstdint>

#include "engine/frame.h"

// May be called from several threads at once: it should only read a flag.
typedef int32_t (*MatchCancelFn)(void* user);

// Searches the positions x0..x1, y0..y1 (inclusive, clamped to where the template fits) for
// the lowest score; equal scores go to the position nearer (cx, cy) in squared distance, then
// to the earlier one in scan order (smaller y, then smaller x), whatever the worker count.
// With pyramid set, a template of at least 16 x 16 and a window of at least 8 x 8 positions,
// the halved image and template are searched first (recursively) and the full size only at
// the 4 x 4 positions around the doubled coarse answer, which may lie up to two positions
// outside the window (never where the template does not fit).
// 1 with outX, outY and *score written.  0 with *score = -1.0 (outX, outY untouched) for bad
// arguments, a template that does not fit at (x0, y0), an empty clamped window, a failed
// coarse level, or a search stopped by cancel before any position was scored.  A search
// cancelled after scoring writes the best it had and returns 0.
int32_t MatchTemplate(CImgBuff* image, CImgBuff* templ, int32_t cx, int32_t cy, int32_t x0, int32_t y0,
                      int32_t x1, int32_t y1, int32_t* outX, int32_t* outY, int32_t normalise,
                      int32_t colourMode, int32_t pyramid, double* score, MatchCancelFn cancel, void* user);

// Evaluates the 3 x 3 grid of corners and centre of the rectangle of positions with
// RegionDissimilarityAt, descends into the best quadrant (smallest sum of its three outer
// corners) while the rectangle is wider than step and its halves are narrower than it, and
// answers the best point found.
// 1 with fx, fy and *score written (the score may be negative when the centre does not fit);
// 0, nothing written, when cancel is set at entry or fx / fy is null.
int32_t MatchTemplateSubpixelRange(CImgBuff* image, CImgBuff* templ, double x0, double y0, double x1,
                                   double y1, double* fx, double* fy, int32_t normalise, int32_t colourMode,
                                   double step, double* score, MatchCancelFn cancel, void* user);

// MatchTemplateSubpixelRange over (x - 1, y - 1) .. (x + 1, y + 1); 0 (nothing written) when
// step is not above 0.
int32_t MatchTemplateSubpixel(CImgBuff* image, CImgBuff* templ, int32_t x, int32_t y, double* fx, double* fy,
                              int32_t normalise, int32_t colourMode, double step, double* score,
                              MatchCancelFn cancel, void* user);

// dst becomes (width / 2) x (height / 2) in src's format; pixel (i, j) is the truncated mean
// of src's 2 x 2 block at (2i, 2j), read and written as 8-bit R, G, B for colour formats and
// as 8-bit gray otherwise.  An odd last column or row is dropped.  1, or 0 for a null or empty
// source or a destination that cannot be allocated (a source narrower or lower than 2).
// dst may be src itself.
int32_t HalveImage(CImgBuff* src, CImgBuff* dst);

// 1 (the default) runs the normalised gray and R, G, B search with shared stretches, vector
// sums and early exits, and the refinement with its scores made from one prepared template
// and remembered per point; 0 runs the plain paths they replace.  Same positions and scores
// either way; the switch is for tests that compare the two.
int32_t MatchFastPaths();
void SetMatchFastPaths(int32_t on);
