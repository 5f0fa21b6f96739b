// small_islands.cpp - removal of islands by size and the window cut.
// Size removal takes each island out of an object mask as row runs (each pixel is tested
// once per call) and erases whole runs; the window cut fills from the object pixels of the
// chosen edges with the general seed fill, whose predicate clears as it goes.
// Inside: object mask - erasing runs - size removal - window cut
#include "engine/small_islands.h"

#include "engine/bitmask.h"
#include "engine/pixel.h"
#include "engine/scratch.h"

namespace {

// ---- object mask ---------------------------------------------------------------------------

// Gray at 8 bits in the 8-bit class, at 16 bits otherwise.
struct GrayMaskJob {
  const C_ImgBuff* rec;
  BitMask* mask;
  RoiRect r;
  uint32_t background;
  int32_t depth;  // 8 or 16
  int32_t typed;
};

void GrayMaskRows(void* ctx, uint64_t first, uint64_t count) {
  const GrayMaskJob& job = *static_cast<const GrayMaskJob*>(ctx);
  int32_t yb, ye;
  PieceRows(job.r, first, count, &yb, &ye);
  const int32_t n = int32_t(RoiWidth(job.r));
  for (int32_t y = yb; y < ye; ++y) {
    uint32_t* out = BitMaskRow(job.mask, y - job.r.y0);
    if (job.typed && job.rec->format == 1) {
      PackRowNotEqual8(RowPtr<uint8_t>(job.rec, job.r.x0, y), out, n, uint8_t(job.background));
    } else if (job.typed) {
      DispatchTyped(job.rec->format, [&]<int NB, int CH>() {
        const SampleType<NB>* p = RowPtr<SampleType<NB>>(job.rec, job.r.x0, y);
        if (job.depth == 8) PackRowNotEqualTyped<NB, CH, 8>(p, out, n, job.background);
        else PackRowNotEqualTyped<NB, CH, 16>(p, out, n, job.background);
      });
    } else {
      for (int32_t i = 0; i < n; ++i) {
        uint32_t v;
        if (job.depth == 8) {
          uint8_t g = 0;
          job.rec->GetGray8(job.r.x0 + i, y, &g);
          v = g;
        } else {
          uint16_t g = 0;
          job.rec->GetGray16(job.r.x0 + i, y, &g);
          v = g;
        }
        if (v != job.background) RowSet(out, i);
      }
    }
  }
}

// ---- erasing runs --------------------------------------------------------------------------

typedef void (*EraseRunFn)(C_ImgBuff* rec, int32_t x, int32_t y, int32_t n, uint32_t v);

template <int NB, int CH, int D>
void EraseRunTyped(C_ImgBuff* rec, int32_t x, int32_t y, int32_t n, uint32_t v) {
  SampleType<NB>* p = RowPtr<SampleType<NB>>(rec, x, y);
  for (int32_t i = 0; i < n; ++i, p += CH) StoreGray<NB, CH, D>(p, v);
}
void EraseRunAccessor8(C_ImgBuff* rec, int32_t x, int32_t y, int32_t n, uint32_t v) {
  for (int32_t i = 0; i < n; ++i) rec->SetGray8(x + i, y, uint8_t(v));
}
void EraseRunAccessor16(C_ImgBuff* rec, int32_t x, int32_t y, int32_t n, uint32_t v) {
  for (int32_t i = 0; i < n; ++i) rec->SetGray16(x + i, y, uint16_t(v));
}

EraseRunFn PickEraseRun(int32_t format) {
  if (!EngineTypedKernels()) return FormatClassBits(format) == 8 ? EraseRunAccessor8 : EraseRunAccessor16;
  switch (format) {
    case 1: return EraseRunTyped<8, 1, 8>;
    case 2: return EraseRunTyped<16, 1, 16>;
    case 3: return EraseRunTyped<32, 1, 16>;
    case 4: return EraseRunTyped<8, 3, 8>;
    case 5: return EraseRunTyped<16, 3, 16>;
    case 6: return EraseRunTyped<32, 3, 16>;
    case 9: return EraseRunAccessor8;
    default: return EraseRunAccessor16;
  }
}

// ---- window cut predicate ------------------------------------------------------------------

struct CutUser {
  C_ImgBuff* rec;
  uint8_t background;
};

int32_t ClearIfObject(int32_t x, int32_t y, void* user, BitMask*) {
  CutUser* u = static_cast<CutUser*>(user);
  uint8_t v = 0;
  u->rec->GetGray8(x, y, &v);
  if (v == u->background) return 0;
  u->rec->SetGray8(x, y, u->background);
  return 1;
}

}  // namespace

// ---- size removal --------------------------------------------------------------------------

int32_t RemoveSmallIslands(CImgBuff* img, uint32_t minSize, int32_t maxSize, int32_t conn,
                           int32_t valueFlag, const RoiRect* roi) {
  if (conn != 4 && conn != 8) return 0;
  if (minSize == 0 && maxSize == 0) return 1;  // nothing to do, whatever the rectangle
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return 0;
  const int32_t depth = img->Is8BitPerChannel() ? 8 : 16;
  const uint32_t bg = valueFlag ? (depth == 8 ? 255u : 65535u) : 0u;
  BitMask* o = BitMaskCreate(int32_t(RoiWidth(r)), int32_t(RoiHeight(r)));
  if (!o) return 0;
  GrayMaskJob job{rec, o, r, bg, depth, IsTypedFormat(rec->format) && EngineTypedKernels()};
  RunRows(GrayMaskRows, &job, r);

  const uint32_t maxU = uint32_t(maxSize);
  const EraseRunFn erase = PickEraseRun(rec->format);
  ScratchArray<MaskRun> runs;
  int32_t result = 1;
  for (int32_t y = 0; y < o->height; ++y) {
    uint32_t* row = BitMaskRow(o, y);
    for (int32_t x = RowNextSet(row, 0, o->width - 1); x >= 0; x = RowNextSet(row, x, o->width - 1)) {
      runs.Clear();
      MaskBox box;
      if (!BitMaskTakeIsland(o, x, y, conn == 8, &runs, &box)) {
        // The pixels taken so far stay out of the mask and are not erased.
        result = 0;
        break;
      }
      uint64_t count = 0;
      for (size_t i = 0; i < runs.Size(); ++i) count += uint64_t(runs[i].x1 - runs[i].x0 + 1);
      if ((minSize != 0 && count <= minSize) || (maxU != 0 && count >= maxU)) {
        for (size_t i = 0; i < runs.Size(); ++i)
          erase(rec, r.x0 + runs[i].x0, r.y0 + runs[i].y, runs[i].x1 - runs[i].x0 + 1, bg);
      }
    }
  }
  BitMaskDestroy(o);
  return result;
}

// ---- window cut ----------------------------------------------------------------------------

int32_t WindowCutClearBorder(CImgBuff* img, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, int32_t conn, int32_t valueFlag, const RoiRect* roi) {
  if (conn != 4 && conn != 8) return 0;
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return 0;
  CutUser user{rec, uint8_t(valueFlag ? 255 : 0)};
  // One fill engine for every edge object: a pixel it has visited was cleared or was
  // background, so a later fill would skip it anyway, and the visited mask is made once.
  SeedFill* fill = nullptr;
  int32_t partial = 0;
  auto from = [&](int32_t x, int32_t y) {
    uint8_t v = 0;
    rec->GetGray8(x, y, &v);
    if (v == user.background) return 1;
    if (!fill) fill = SeedFillCreate(r.x0, r.y0, r.x1, r.y1, ClearIfObject, conn, &user);
    if (!fill) return 0;
    // A run that stops for lack of memory leaves this object partly cleared; the other
    // edges are still worked, and the call reports the failure.
    if (!SeedFillFrom(fill, x, y)) partial = 1;
    return 1;
  };
  int32_t ok = 1;
  if (left)
    for (int32_t y = r.y0; y <= r.y1 && ok; ++y) ok = from(r.x0, y);
  if (right)
    for (int32_t y = r.y0; y <= r.y1 && ok; ++y) ok = from(r.x1, y);
  if (top)
    for (int32_t x = r.x0; x <= r.x1 && ok; ++x) ok = from(x, r.y0);
  if (bottom)
    for (int32_t x = r.x0; x <= r.x1 && ok; ++x) ok = from(x, r.y1);
  SeedFillDestroy(fill);
  return ok && !partial;
}
