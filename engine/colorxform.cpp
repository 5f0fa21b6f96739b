// colorxform.cpp - the colour cache: cells of 64 colours filled on first use, lock-free reads,
// runs of 8-, 16- and 32-bit R, G, B pixels, and the whole-picture apply.
// Inside: life cycle - cell lookup - pixel runs - apply
#include "engine/colorxform.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

inline uint32_t CellIndex(uint32_t r, uint32_t g, uint32_t b) { return (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2); }
inline uint32_t SlotIndex(uint32_t r, uint32_t g, uint32_t b) { return ((r & 3) * 4 + (g & 3)) * 4 + (b & 3); }

void FreeCells(ColorXform* xf) {
  for (ColorCell* c = xf->first; c;) {
    ColorCell* next = c->next;
    std::free(c);
    c = next;
  }
  xf->first = xf->last = nullptr;
}

// Claims, fills and publishes cell i, or waits for the thread that claimed it.  The block's
// address is stored with release only after its 64 colours are written, and read with
// acquire, so a reader that sees the address sees the colours.  Null when no block can be had:
// the entry goes back to empty and a later lookup tries again.
const ColorCell* FillCell(ColorXform* xf, uint32_t i) {
  std::atomic<uintptr_t>& entry = xf->cells[i];
  uint32_t waits = 0;
  for (;;) {
    uintptr_t e = entry.load(std::memory_order_acquire);
    if (e == 0) {
      xf->lock->Enter();
      e = entry.load(std::memory_order_relaxed);
      if (e == 0) entry.store(ColorCellClaimed, std::memory_order_relaxed);
      xf->lock->Leave();
      if (e != 0) continue;
      ColorCell* cell = static_cast<ColorCell*>(std::calloc(1, sizeof(ColorCell)));
      if (!cell) {
        entry.store(0, std::memory_order_release);
        return nullptr;
      }
      xf->lock->Enter();
      if (xf->last) xf->last->next = cell;
      else xf->first = cell;
      xf->last = cell;
      xf->lock->Leave();
      // The operation runs outside the lock, so other threads fill other cells meanwhile.
      const uint32_t r0 = (i >> 12) << 2, g0 = ((i >> 6) & 63) << 2, b0 = (i & 63) << 2;
      for (uint32_t ir = 0; ir < 4; ++ir)
        for (uint32_t ig = 0; ig < 4; ++ig)
          for (uint32_t ib = 0; ib < 4; ++ib) {
            uint8_t* c = cell->colours[(ir * 4 + ig) * 4 + ib];
            c[0] = uint8_t(r0 | ir);
            c[1] = uint8_t(g0 | ig);
            c[2] = uint8_t(b0 | ib);
            xf->op(&c[0], &c[1], &c[2], xf->params);
          }
      entry.store(reinterpret_cast<uintptr_t>(cell), std::memory_order_release);
      return cell;
    }
    if (e == ColorCellClaimed) {
      // Filling a cell takes microseconds: yield a while before the long sleeps.
      if (++waits <= 64) PlatformYield();
      else PlatformSleep(10);
      continue;
    }
    return reinterpret_cast<const ColorCell*>(e);
  }
}

inline const ColorCell* CellOf(ColorXform* xf, uint32_t i) {
  const uintptr_t e = xf->cells[i].load(std::memory_order_acquire);
  if (e != 0 && e != ColorCellClaimed) return reinterpret_cast<const ColorCell*>(e);
  return FillCell(xf, i);
}

// The cached result of one 8-bit colour; 0 when no block can be had.
inline int32_t Result(ColorXform* xf, uint32_t r, uint32_t g, uint32_t b, uint32_t* out) {
  const ColorCell* cell = CellOf(xf, CellIndex(r, g, b));
  if (!cell) return 0;
  const uint8_t* c = cell->colours[SlotIndex(r, g, b)];
  out[0] = c[0];
  out[1] = c[1];
  out[2] = c[2];
  return 1;
}

// ---- apply -----------------------------------------------------------------------------------

struct ApplyJob {
  ColorXform* xf;
  void* pixels;
  int32_t format;  // 4, 5 or 6
};

void ApplyPiece(void* ctx, uint64_t first, uint64_t count) {
  ApplyJob* j = static_cast<ApplyJob*>(ctx);
  if (j->format == ImgFormatRgb24) {
    ColorCacheTransformRun(j->xf, static_cast<uint8_t*>(j->pixels) + first * 3, count);
  } else if (j->format == ImgFormatRgb48) {
    ColorXformRun16(j->xf, static_cast<uint16_t*>(j->pixels) + first * 3, count);
  } else {
    uint32_t* p = static_cast<uint32_t*>(j->pixels) + first * 3;
    for (uint64_t i = 0; i < count; ++i) ColorXformPixel32(j->xf, p + i * 3);
  }
}

// The R,G,B format of a picture's depth that the pass works on.
int32_t WorkingFormat(int32_t format) {
  switch (format) {
    case ImgFormatGray8:
    case ImgFormatRgb24:
    case ImgFormatCmyk32: return ImgFormatRgb24;
    case ImgFormatGray16:
    case ImgFormatRgb48:
    case ImgFormatHsv48: return ImgFormatRgb48;
    case ImgFormatGray32:
    case ImgFormatRgb96:
    case ImgFormatXyz: return ImgFormatRgb96;
    default: return 0;
  }
}

}  // namespace

// ---- life cycle ------------------------------------------------------------------------------

ColorXform* ColorXformCreate() {
  ColorXform* xf = static_cast<ColorXform*>(std::calloc(1, sizeof(ColorXform)));
  if (!xf) return nullptr;
  // Zero bytes are an empty entry: std::atomic<uintptr_t> has the integer's representation.
  static_assert(sizeof(std::atomic<uintptr_t>) == sizeof(uintptr_t), "plain atomic entries");
  void* table = std::calloc(ColorCellCount, sizeof(std::atomic<uintptr_t>));
  xf->lock = CreateLock();
  if (!table || !xf->lock) {
    std::free(table);
    if (xf->lock) DestroyLock(xf->lock);
    std::free(xf);
    return nullptr;
  }
  xf->cells = static_cast<std::atomic<uintptr_t>*>(table);
  return xf;
}

void* ColorXformSetOperation(ColorXform* xf, ColorOpFn op, uint64_t paramSize) {
  if (!xf) return nullptr;
  FreeCells(xf);
  // The table would otherwise keep pointing at the blocks just freed.
  std::memset(static_cast<void*>(xf->cells), 0, ColorCellCount * sizeof(std::atomic<uintptr_t>));
  std::free(xf->params);
  xf->params = std::calloc(1, paramSize ? size_t(paramSize) : 1);
  xf->op = xf->params ? op : nullptr;
  return xf->params;
}

int32_t ColorXformDestroy(ColorXform* xf) {
  if (!xf) return 0;
  FreeCells(xf);
  std::free(xf->params);
  DestroyLock(xf->lock);
  std::free(xf->cells);
  std::free(xf);
  return 1;
}

// ---- lookups and runs ------------------------------------------------------------------------

int32_t ColorXformLookup(ColorXform* xf, uint8_t* r, uint8_t* g, uint8_t* b) {
  if (!xf || !xf->op || !r || !g || !b) return 0;
  uint32_t out[3];
  if (!Result(xf, *r, *g, *b, out)) return 0;
  *r = uint8_t(out[0]);
  *g = uint8_t(out[1]);
  *b = uint8_t(out[2]);
  return 1;
}

void ColorCacheTransformRun(ColorXform* xf, uint8_t* p, uint64_t count) {
  if (!xf || !xf->op || !p) return;
  // Pictures of many colours meet cells all over 50 MB of blocks, one cache miss after
  // another: the table entry of a pixel further on and the block of a nearer one are fetched
  // ahead, so the misses overlap.
  constexpr uint64_t kEntryAhead = 16, kBlockAhead = 8;
  for (uint64_t i = 0; i < count; ++i, p += 3) {
    if (i + kEntryAhead < count) {
      const uint8_t* q = p + 3 * kEntryAhead;
      __builtin_prefetch(&xf->cells[CellIndex(q[0], q[1], q[2])]);
    }
    if (i + kBlockAhead < count) {
      const uint8_t* q = p + 3 * kBlockAhead;
      const uintptr_t e = xf->cells[CellIndex(q[0], q[1], q[2])].load(std::memory_order_relaxed);
      if (e != 0 && e != ColorCellClaimed)
        __builtin_prefetch(reinterpret_cast<const ColorCell*>(e)->colours[SlotIndex(q[0], q[1], q[2])]);
    }
    const ColorCell* cell = CellOf(xf, CellIndex(p[0], p[1], p[2]));
    if (!cell) continue;
    const uint8_t* c = cell->colours[SlotIndex(p[0], p[1], p[2])];
    p[0] = c[0];
    p[1] = c[1];
    p[2] = c[2];
  }
}

void ColorXformRun16(ColorXform* xf, uint16_t* p, uint64_t count) {
  if (!xf || !xf->op || !p) return;
  for (uint64_t i = 0; i < count; ++i, p += 3) {
    uint32_t lo[3], hi[3], tlo[3], thi[3];
    for (int c = 0; c < 3; ++c) {
      lo[c] = p[c] >> 8;
      if (lo[c] * 257 > p[c]) --lo[c];
      hi[c] = lo[c] == 255 ? 255 : lo[c] + 1;
    }
    if (!Result(xf, lo[0], lo[1], lo[2], tlo) || !Result(xf, hi[0], hi[1], hi[2], thi)) continue;
    for (int c = 0; c < 3; ++c) {
      const int32_t range = int32_t(hi[c] * 257) - int32_t(lo[c] * 257);
      double out;
      if (range > 0)
        out = double(int32_t(p[c]) - int32_t(lo[c] * 257)) / double(range) *
                  double(int32_t(thi[c] * 257) - int32_t(tlo[c] * 257)) +
              double(tlo[c] * 257);
      else
        out = double(tlo[c] * 257);
      p[c] = out > 65535.0 ? 65535 : out > 0.0 ? uint16_t(out) : 0;
    }
  }
}

int32_t ColorXformPixel32(ColorXform* xf, uint32_t* p) {
  if (!xf || !xf->op || !p) return 0;
  uint32_t lo[3], hi[3], tlo[3], thi[3];
  for (int c = 0; c < 3; ++c) {
    lo[c] = p[c] >> 24;
    if (uint64_t(lo[c]) * 16843009u > p[c]) --lo[c];
    hi[c] = lo[c] == 255 ? 255 : lo[c] + 1;
  }
  if (!Result(xf, lo[0], lo[1], lo[2], tlo) || !Result(xf, hi[0], hi[1], hi[2], thi)) return 0;
  for (int c = 0; c < 3; ++c) {
    const int64_t range = (int64_t(hi[c]) - int64_t(lo[c])) * 16843009;
    double out;
    if (range > 0)
      out = double(int64_t(p[c]) - int64_t(lo[c]) * 16843009) / double(range) *
                double(int64_t(thi[c]) * 16843009 - int64_t(tlo[c]) * 16843009) +
            double(int64_t(tlo[c]) * 16843009);
    else
      out = double(int64_t(tlo[c]) * 16843009);
    p[c] = ClampTruncU32(out);
  }
  return 1;
}

int32_t ColorXformApply(ColorXform* xf, CImgBuff* img) {
  if (!xf || !img || !img->record) return 0;
  C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels || rec->width < 1 || rec->height < 1) return 0;
  if (!xf->op) return 1;
  const int32_t work = WorkingFormat(rec->format);
  CImgBuff copy;
  C_ImgBuff* target = rec;
  if (work != rec->format) {
    // Gray of every depth, H,S,V, XYZ and C,M,Y,K: through R,G,B of the same depth and back.
    copy.CopyFrom(*img);
    if (copy.Format() != rec->format || !copy.record->ConvertTo(work)) return 0;
    target = copy.record;
  }
  ApplyJob job{xf, target->pixels, work};
  const uint64_t n = uint64_t(target->width) * uint64_t(target->height);
  if (n < uint64_t(ParallelPixelThreshold)) ApplyPiece(&job, 0, n);
  else ParallelFor(ApplyPiece, &job, n);
  if (target != rec) {
    if (!copy.record->ConvertTo(rec->format)) return 0;
    // Same format and size again: a plain copy, which cannot fail and lose the picture.
    ParallelMemcpy(rec->pixels, copy.Pixels(),
                   uint64_t(rec->width) * uint64_t(rec->height) * uint64_t(ImgBytesPerPixel[rec->format]));
  }
  return 1;
}
