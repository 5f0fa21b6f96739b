// upscale.h - the doubled-resolution stabilised composite: frames of a shaking video of a still
// scene stabilised onto two blocks of the first frame, their half-pixel offsets measured on
// doubled copies, and their pixels added into a lattice of twice the width and height.
//
//   UpscaleComposite            the work record between Create and Finish
//   UpscaleImage2x              a picture replaced by its pixel-doubled version
//   CompositeUpscaleInit        tracking blocks and templates from the first frame
//   CompositeUpscaleCreate      a new record with the first frame added
//   CompositeUpscaleAddFrame    one more frame stabilised and added
//   CompositeUpscaleFinish      holes filled from neighbours, means written, record released
//   CompositeCellOffset         the cell offset of a frame from its fine-match offset
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct UpscaleComposite {
  CImgBuff* templateA;     // crop of the first frame at the best tracking block
  CImgBuff* templateB;     // crop at the second block
  CImgBuff* work;          // the first frame doubled: the result's starting content
  CImgBuff* fineTemplate;  // templateA doubled
  int32_t colorMode;       // colour mode of all matching, always 1
  int32_t refXA, refYA;    // top-left corner of the best block in the first frame
  int32_t refXB, refYB;    // top-left corner of the second block
  int32_t width, height;   // the frame size every added frame must have
  int32_t factor;          // always 2
  uint32_t* sumR;          // planes of 2w x 2h cells, row by row: sums of 8-bit samples
  uint32_t* sumG;
  uint32_t* sumB;
  uint32_t* count;         // samples per cell (after the hole fill: the sum of weights)
};

// Each pixel (x, y), read as 8-bit R, G, B, is written to the four pixels (2x, 2y) ..
// (2x + 1, 2y + 1) of a picture of twice the size in the same format (deeper pictures lose
// their low bits).  1, or 0 for a null or empty picture (unchanged) or no memory (unchanged
// when the doubled picture cannot be made; empty when the final copy into it fails).
int32_t UpscaleImage2x(CImgBuff* img);

// Selects the two 32 x 32 tracking blocks inside a 32-pixel margin of the first frame, crops
// them into templateA and templateB and doubles templateA into fineTemplate.  1, or 0 when no
// two blocks fit or memory is short.
int32_t CompositeUpscaleInit(UpscaleComposite* comp, CImgBuff* first);

// A new record for frames of the first frame's size, with the first frame already added (and
// stabilised in place); null for a bad frame, one too small for two blocks inside the margin
// (95 pixels or more each way), or no memory.  Release it with CompositeUpscaleFinish.
UpscaleComposite* CompositeUpscaleCreate(CImgBuff* first);

// Stabilises the frame in place onto the two blocks in whole pixels (fill 0 or 255 for what
// the move uncovers), measures its remaining offset on a doubled copy, and adds its 8-bit
// R, G, B into the cells at that half-pixel offset.  1, or 0 (sums unchanged, frame perhaps
// already stabilised) for a bad record or frame, another size, or a failed step.
int32_t CompositeUpscaleAddFrame(UpscaleComposite* comp, CImgBuff* frame, uint8_t fill);

// -nearest(e), halves away from zero: a frame found e doubled pixels off lands that many
// cells back (0.5 gives -1, -0.5 gives 1, 0.49 gives 0).  e must lie within +/-2^30.
int32_t CompositeCellOffset(double e);

// The result becomes the doubled first frame with every cell that received samples, or that
// the hole fill reached from its neighbours, replaced by its truncated mean (8-bit R, G, B).
// Releases the record whatever happens; 1, or 0 for a null record or result.
int32_t CompositeUpscaleFinish(UpscaleComposite* comp, CImgBuff* result);
