// invert.cpp - Invert: maximum - v for every channel inside a rectangle, in place.
// Formats 1 to 6 store gray or R, G, B as plain integers, so their complement is the bitwise
// NOT of every byte of the row span; formats 7 to 9 go through the accessors of their slot.
// Inside: row kernels - accessor path - bands - entry
#include "engine/invert.h"
#include "engine/simd.h"

#include <cstring>

// The byte loop is memory bound: wider vectors where the processor has them, chosen once at
// load time.
#define QV_INVERT_CLONES QV_AVX2_CLONES

namespace {

struct InvertJob {
  C_ImgBuff* rec;
  RoiRect r;
  FormatSlot slot;
  int32_t typed;
  int32_t wholeRows;  // the rectangle spans every column: its rows are one run of bytes
};

// ---- row kernels ---------------------------------------------------------------------------

// NOT of n bytes; plain loops the compiler turns into vector code.  The bytes before the
// first 64-byte boundary go first: pixel blocks start 8 bytes past a page, and vector stores
// that straddle cache lines made the main loop a third slower.
QV_INVERT_CLONES void InvertBytes(uint8_t* __restrict p, int64_t n) {
  int64_t head = int64_t((64 - (reinterpret_cast<uintptr_t>(p) & 63)) & 63);
  if (head > n) head = n;
  for (int64_t i = 0; i < head; ++i) p[i] = uint8_t(~p[i]);
  p += head;
  n -= head;
  for (int64_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
}

// ---- accessor path -------------------------------------------------------------------------

void InvertRowAccessor(C_ImgBuff* rec, FormatSlot slot, int32_t y, int32_t x0, int32_t x1) {
  for (int32_t x = x0; x <= x1; ++x) {
    switch (slot) {
      case SlotGray8: {
        uint8_t v;
        if (rec->GetGray8(x, y, &v)) rec->SetGray8(x, y, uint8_t(255 - v));
        break;
      }
      case SlotGray16: {
        uint16_t v;
        if (rec->GetGray16(x, y, &v)) rec->SetGray16(x, y, uint16_t(65535 - v));
        break;
      }
      case SlotGray32: {
        uint32_t v;
        if (rec->GetGray32(x, y, &v)) rec->SetGray32(x, y, 4294967295u - v);
        break;
      }
      case SlotColour8: {
        uint8_t r, g, b;
        if (rec->GetRGB8(x, y, &r, &g, &b))
          rec->SetRGB8(x, y, uint8_t(255 - r), uint8_t(255 - g), uint8_t(255 - b));
        break;
      }
      case SlotColour16: {
        uint16_t r, g, b;
        if (rec->GetRGB16(x, y, &r, &g, &b))
          rec->SetRGB16(x, y, uint16_t(65535 - r), uint16_t(65535 - g), uint16_t(65535 - b));
        break;
      }
      case SlotColour32: {
        uint32_t r, g, b;
        if (rec->GetRGB32(x, y, &r, &g, &b))
          rec->SetRGB32(x, y, 4294967295u - r, 4294967295u - g, 4294967295u - b);
        break;
      }
      default: return;
    }
  }
}

void InvertRows(void* ctx, uint64_t first, uint64_t count) {
  const InvertJob& job = *static_cast<const InvertJob*>(ctx);
  int32_t yb, ye;
  PieceRows(job.r, first, count, &yb, &ye);
  if (job.typed) {
    const int64_t span = RoiWidth(job.r) * ImgBytesPerPixel[job.rec->format];
    if (job.wholeRows) {
      InvertBytes(RowPtr<uint8_t>(job.rec, 0, yb), span * (ye - yb));
      return;
    }
    for (int32_t y = yb; y < ye; ++y) InvertBytes(RowPtr<uint8_t>(job.rec, job.r.x0, y), span);
    return;
  }
  for (int32_t y = yb; y < ye; ++y) InvertRowAccessor(job.rec, job.slot, y, job.r.x0, job.r.x1);
}

// ---- bands ---------------------------------------------------------------------------------

// Handing a job to the pool took 50 to 250 microseconds on a virtual machine, while the
// typed kernels invert 2 MB in about 30: cutting a full HD gray picture into a piece per
// worker made the call several times slower than one thread.  Rows are therefore handed out
// in bands of at least this many bytes, at most one band per worker.
constexpr int64_t MinTypedBandBytes = 8 * 1024 * 1024;
// The accessor path costs tens of nanoseconds a pixel: bands of a few thousand pixels pay.
constexpr int64_t MinAccessorBandPixels = 16 * 1024;

void RunInvertBands(const InvertJob& job) {
  const int64_t perRow = job.typed ? RoiWidth(job.r) * ImgBytesPerPixel[job.rec->format]
                                   : RoiWidth(job.r);
  const int64_t minBand = job.typed ? MinTypedBandBytes : MinAccessorBandPixels;
  RunBands(InvertRows, const_cast<InvertJob*>(&job), RoiHeight(job.r), perRow, minBand);
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t Invert(CImgBuff* img, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  C_ImgBuff* rec = img->record;
  // An empty picture passes GetRoi when a rectangle is given; it has no pixels to touch.
  const FormatSlot slot = GetFormatSlot(rec->format);
  if (slot == SlotNone || !rec->pixels) return 0;
  InvertJob job{rec, r, slot, IsTypedFormat(rec->format) && EngineTypedKernels(),
                r.x0 == 0 && r.x1 == rec->width - 1};
  RunInvertBands(job);
  return 1;
}
