// colorxform.h - a per-colour operation applied to whole pictures through a lazily filled
// cache of its results on the 8-bit colour cube.
//   ColorOpFn    the operation: fn(r, g, b, params) replaces one 8-bit R, G, B colour in place;
//                it depends only on the colour and its parameter block and may run on many
//                threads at once
//   ColorCell    the results for the 64 colours of one 4 x 4 x 4 cell of the cube
//   ColorXform   the operation, its parameter block and the 2^18-entry cell table
//
// The first time any colour of a cell is met, the operation runs on all 64 colours of the cell
// and the results stay for the life of the transform.  16- and 32-bit pictures interpolate
// between the results of two neighbouring 8-bit colours and never run the operation themselves.
// Lookups read the table without a lock; only claiming an empty cell takes the transform's lock.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/frame.h"

typedef void (*ColorOpFn)(uint8_t* r, uint8_t* g, uint8_t* b, void* params);

struct ColorCell {
  uint8_t colours[64][3];  // colour (r & 3, g & 3, b & 3) at slot ((r & 3) x 4 + (g & 3)) x 4 + (b & 3)
  ColorCell* next;         // the transform's list of blocks, for freeing
};

// A cell entry: 0 empty, ColorCellClaimed while a thread fills it, else its ColorCell.
constexpr uintptr_t ColorCellClaimed = ~uintptr_t(0);
constexpr uint32_t ColorCellCount = 1u << 18;

struct ColorXform {
  std::atomic<uintptr_t>* cells;  // ColorCellCount entries, index (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2)
  ColorCell* first;               // list of every cell block
  ColorCell* last;
  ColorOpFn op;                   // null until ColorXformSetOperation
  void* params;                   // the operation's parameter block, owned
  PlatformLock* lock;             // claims of empty cells and the block list
};

// A new empty transform, or null (nothing leaked).
ColorXform* ColorXformCreate();
// Sets the operation and returns its new zero-filled parameter block of paramSize bytes for the
// caller to fill; every cached result and the old parameter block are dropped.  Null when xf is
// null or memory is short (the operation is then cleared).  Not while an apply runs.
void* ColorXformSetOperation(ColorXform* xf, ColorOpFn op, uint64_t paramSize);
// Frees everything; 1, or 0 for null.
int32_t ColorXformDestroy(ColorXform* xf);
// Transforms the whole picture in place: R,G,B of 8, 16 and 32 bits directly, gray, H,S,V,
// XYZ and C,M,Y,K through an R,G,B working copy of their depth.  1 (also with no operation,
// the picture then unchanged), or 0 for a null transform, an empty picture, or a working copy
// that cannot be made or converted back (the picture unchanged).
int32_t ColorXformApply(ColorXform* xf, CImgBuff* img);

// One 8-bit colour through the cache; 1, or 0 when no cell block can be had (colour unchanged).
int32_t ColorXformLookup(ColorXform* xf, uint8_t* r, uint8_t* g, uint8_t* b);
// A run of count 8-bit R, G, B pixels in place.
void ColorCacheTransformRun(ColorXform* xf, uint8_t* pixels, uint64_t count);
// A run of count 16-bit R, G, B pixels in place.
void ColorXformRun16(ColorXform* xf, uint16_t* pixels, uint64_t count);
// One 32-bit R, G, B pixel in place; 1, or 0 with the pixel unchanged.
int32_t ColorXformPixel32(ColorXform* xf, uint32_t* rgb);
