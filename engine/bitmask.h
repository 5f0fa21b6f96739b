// bitmask.h - one-bit-per-pixel pictures and the scanline seed fill that carry every binary
// operation of the engine.
//
//   BitMask               width x height bits; rows padded to whole 32-bit words, the first
//                         pixel of a word in its most significant bit; padding bits stay 0
//   BitMaskCreate ..      create, clone, destroy, set and read single bits
//   ImageRegionToBitMask  the object pixels of a rectangle of a picture as a new mask
//   ImageRowToBits        the same test for one row, for passes that keep no whole mask
//   BitPassBands          how many pool items a pass over bit rows is worth
//   BitRowsAvx2           whether the AVX2 row code runs (a switch for tests)
//   MaskRun, BitMaskTakeIsland  word-level run search and the fast extraction of one
//                         connected set of bits as runs (island finder, noise removal)
//   SeedFillPredicate     the caller's test-and-paint of one pixel
//   SeedSpan, SpanQueue   ring buffer of spans (start, end, line), narrowest-first option
//   SeedFill              one general fill engine over one rectangle with a visited mask
//   FillRecord            user record of FillIfEqual / FillIfNotEqual (8-bit gray repaint)
#pragma once
#include <cstdint>

#include "core/imgbuff.h"
#include "engine/pixel.h"
#include "engine/scratch.h"

struct BitMask {
  int32_t width;       // columns, at least 1
  int32_t height;      // rows, at least 1
  int32_t strideBits;  // bits per row: width raised to a multiple of 32
  uint32_t* bits;      // height x strideBits / 32 words
};

// A zero-filled mask; null for a size below 1, a width within 31 of INT32_MAX, a mask beyond
// 2^34 bits or no memory.
BitMask* BitMaskCreate(int32_t width, int32_t height);
// A new mask with the same size and bits; null for a null mask or no memory.
BitMask* BitMaskClone(const BitMask* mask);
// Frees the record and its words together (null allowed).
void BitMaskDestroy(BitMask* mask);
// Sets (value non-zero) or clears the bit of (x, y): 1, or 0 outside the mask.
int32_t BitMaskSetPixel(BitMask* mask, int32_t x, int32_t y, int32_t value);
// The bit of (x, y): 1 or 0; 0 outside the mask (and for a null mask).
int32_t BitMaskGetPixel(const BitMask* mask, int32_t x, int32_t y);
// Every bit cleared.
void BitMaskClearAll(BitMask* mask);

// ---- word access for kernels (no checks) ---------------------------------------------------

inline int32_t BitMaskStrideWords(const BitMask* m) { return m->strideBits >> 5; }
inline uint32_t* BitMaskRow(const BitMask* m, int32_t y) {
  return m->bits + int64_t(y) * (m->strideBits >> 5);
}
inline uint32_t BitOf(int32_t x) { return 0x80000000u >> (x & 31); }
inline int32_t RowTest(const uint32_t* row, int32_t x) { return (row[x >> 5] & BitOf(x)) != 0; }
inline void RowSet(uint32_t* row, int32_t x) { row[x >> 5] |= BitOf(x); }
inline void RowClear(uint32_t* row, int32_t x) { row[x >> 5] &= ~BitOf(x); }
// The bits of the last word of a row that are real pixels.
inline uint32_t LastWordMask(int32_t width) {
  const int32_t r = width & 31;
  return r ? ~(0xFFFFFFFFu >> r) : 0xFFFFFFFFu;
}
// First set bit in [from, to] of a row of `words` words, or -1.
int32_t RowNextSet(const uint32_t* row, int32_t from, int32_t to);
// Last / first position of the run of set bits that holds the set bit x; `words` is the
// row's word count (padding bits are 0, so a run ends at the row's last pixel).
int32_t RowRunEnd(const uint32_t* row, int32_t x, int32_t words);
int32_t RowRunStart(const uint32_t* row, int32_t x);
// Sets or clears the bits [x0, x1] of a row (x0 <= x1).
void RowSetRange(uint32_t* row, int32_t x0, int32_t x1);
void RowClearRange(uint32_t* row, int32_t x0, int32_t x1);

// ---- fast extraction of one connected set of bits -------------------------------------------

// One horizontal run of set bits: columns x0..x1 of row y.
struct MaskRun {
  int32_t y, x0, x1;
};
// Box of a set of runs, inclusive.
struct MaskBox {
  int32_t x0, y0, x1, y1;
};

// Takes the 4- or 8-connected set of bits of `mask` that holds (x, y) out of the mask (its
// bits are cleared) and appends it to `runs` as row runs, in the order they were found;
// `box` becomes their bounding box.  The bit at (x, y) must be set.  1, or 0 when the run list
// cannot grow (the runs taken so far are in the list and out of the mask).
int32_t BitMaskTakeIsland(BitMask* mask, int32_t x, int32_t y, int32_t conn8,
                          ScratchArray<MaskRun>* runs, MaskBox* box);

// ---- picture to mask -------------------------------------------------------------------------

// Packs n 8-bit samples into mask words: a bit is set where the sample differs from bg.
// The last word's bits past n are 0.
void PackRowNotEqual8(const uint8_t* p, uint32_t* out, int32_t n, uint8_t bg);
// The same for a typed row of CH channels of NB-bit samples, comparing the accessors' gray
// at depth D with bg.
template <int NB, int CH, int D>
void PackRowNotEqualTyped(const SampleType<NB>* p, uint32_t* out, int32_t n, uint32_t bg) {
  for (int32_t x = 0; x < n; x += 32) {
    const int32_t m = n - x < 32 ? n - x : 32;
    uint32_t w = 0;
    const SampleType<NB>* q = p + int64_t(x) * CH;
    for (int32_t i = 0; i < m; ++i, q += CH) w |= uint32_t(GrayAt<NB, CH, D>(q) != bg) << (31 - i);
    out[x >> 5] = w;
  }
}

// One row of that test: the n pixels from (x0, y) into (n + 31) / 32 words, first pixel in bit
// 31 of out[0], bits past n clear.  typed: the row kernels of formats 1 to 6 (the caller has
// checked the format); 0: the accessors.  No checks: the caller keeps the row in the picture.
void ImageRowToBits(const C_ImgBuff* rec, int32_t x0, int32_t y, int32_t n, uint32_t background,
                    int32_t typed, uint32_t* out);

// Pool items for one pass over a rectangle of bit rows: 1 means run it on the calling thread.
// Waking the pool costs tens to hundreds of microseconds on a busy machine, so an item is
// given about that much work or more by the pass's cost a pixel: 8-bit gray handled a word at
// a time (about a tenth of a nanosecond) gets items from a few megapixels up, the other typed
// formats from a quarter megapixel, the accessor path much sooner.  Each item is a band of at
// least 32 rows; never more items than active workers.
enum BitPassCost : int32_t { BitPassAccessor, BitPassTyped, BitPassGray8 };
BitPassCost BitPassCostOf(int32_t format, int32_t typed);
int32_t BitPassBands(int64_t width, int64_t height, BitPassCost cost);

// 1 when the AVX2 code for bit rows runs (packing 8-bit gray here, writing it back in the
// binary operations): the processor has AVX2 and it is switched on (the default).  Tests
// switch it off to check the plain word code that other processors run; not meant for
// switching while an operation runs.
int32_t BitRowsAvx2();
void SetBitRowsAvx2(int32_t on);

// A new mask of (x1-x0+1) x (y1-y0+1) whose set bits are the object pixels of that rectangle
// of the picture: any channel read at the depth class differs from the background, 0 for
// invert 0 and the class maximum otherwise.  Null for an empty picture, a rectangle not
// inside it or no memory.
BitMask* ImageRegionToBitMask(const CImgBuff* img, int32_t invert, int32_t x0, int32_t y0,
                              int32_t x1, int32_t y1);

// ---- general seed fill -----------------------------------------------------------------------

// Called with a picture position inside the fill's rectangle; non-zero = the pixel belongs.
// It may paint; it may be asked again about a pixel and must then answer consistently.
typedef int32_t (*SeedFillPredicate)(int32_t x, int32_t y, void* user, BitMask* visited);

struct SeedSpan {
  int32_t start, end, line;
};

struct SpanQueue {
  SeedSpan* entries;
  int32_t capacity;
  int32_t head;
  int32_t tail;
  int32_t limit;  // growth stops here: no fill can queue more spans than it has pixels
};

struct SeedFill {
  SpanQueue queue;
  BitMask* visited;        // rectangle-relative, never reset between fills
  int32_t x0, y0, x1, y1;  // inclusive, picture coordinates
  int32_t columnSpans;     // 0: spans along rows (line = y); 1: along columns (line = x)
  int32_t conn8;           // 0: 4-connectivity, 1: 8-connectivity
  SeedFillPredicate predicate;
  void* user;
};

// Null for a connectivity other than 4 or 8, an empty rectangle (x1 < x0 or y1 < y0), a
// rectangle at the very ends of the 32-bit range (x0 or y0 INT32_MIN, x1 or y1 above
// INT32_MAX - 3) or no memory.  Spans run along the shorter side of the rectangle.
SeedFill* SeedFillCreate(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         SeedFillPredicate predicate, int32_t conn, void* user);
void SeedFillDestroy(SeedFill* fill);
// One complete fill: scan the span through (x, y), then run.  1, or 0 when the queue could
// not grow, for a null fill or a fill without a visited mask.
int32_t SeedFillFrom(SeedFill* fill, int32_t x, int32_t y);
// Scans and queues the span through (x, y); outStart/outEnd get the accepted positions along
// the span (both x, or y for column spans, when nothing was accepted).  0 only when the
// queue cannot grow.
int32_t SeedFillScanSpan(SeedFill* fill, int32_t x, int32_t y, int32_t* outStart,
                         int32_t* outEnd);
// Processes queued spans until none is left; 1, or 0 when the queue cannot grow.
int32_t SeedFillRun(SeedFill* fill);
// Doubles the capacity keeping the order of the queued spans; 0 for capacity 0, past the
// queue's limit or without memory (queue unchanged).
int32_t SpanQueueGrow(SpanQueue* queue);
// Swaps the narrowest queued span (the earliest on ties) to the head.
void SpanQueuePickNarrowest(SpanQueue* queue);

// User record of FillIfEqual / FillIfNotEqual.
struct FillRecord {
  CImgBuff* img;
  int32_t x0, y0, x1, y1;  // positions outside are refused
  uint8_t oldValue;
  uint8_t newValue;
};
// Accept (and SetGray8 newValue) when the 8-bit gray equals / differs from oldValue.
int32_t FillIfEqual(int32_t x, int32_t y, void* user, BitMask* visited);
int32_t FillIfNotEqual(int32_t x, int32_t y, void* user, BitMask* visited);
