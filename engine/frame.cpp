// frame.cpp - the rectangle rules, format slots and row split shared by every engine operation.
// Inside: rectangle of interest - format slots - kernel switch - row split
#include "engine/frame.h"

#include <atomic>
#include <utility>

// ---- rectangle of interest -----------------------------------------------------------------

int32_t NormalizeRoi(RoiRect* roi, const CImgBuff* img) {
  if (!roi) return 0;
  if (roi->x0 > roi->x1) std::swap(roi->x0, roi->x1);
  if (roi->y0 > roi->y1) std::swap(roi->y0, roi->y1);
  if (roi->x1 < 0 || roi->y1 < 0) return 0;
  if (roi->x0 < 0) roi->x0 = 0;
  if (roi->y0 < 0) roi->y0 = 0;
  // Without a usable picture there is nothing to clamp against: filters normalise the
  // chain's rectangle before they know the frame.
  if (!img || !img->record || !IsValidFormat(img->record->format)) return 1;
  const C_ImgBuff* rec = img->record;
  if (roi->x0 >= rec->width || roi->y0 >= rec->height) return 0;
  if (roi->x1 > rec->width - 1) roi->x1 = rec->width - 1;
  if (roi->y1 > rec->height - 1) roi->y1 = rec->height - 1;
  return 1;
}

int32_t GetRoi(RoiRect* out, const CImgBuff* img, const RoiRect* roi) {
  if (!out) return 0;
  if (roi) {
    *out = *roi;
    if (NormalizeRoi(out, img)) return 1;
    *out = RoiRect{0, 0, 0, 0};
    return 0;
  }
  if (img && img->record && IsValidFormat(img->record->format) && img->record->width >= 1 &&
      img->record->height >= 1) {
    *out = RoiRect{0, 0, img->record->width - 1, img->record->height - 1};
    return 1;
  }
  *out = RoiRect{0, 0, 0, 0};
  return 0;
}

// ---- format slots --------------------------------------------------------------------------

FormatSlot GetFormatSlot(int32_t format) {
  switch (format) {
    case 1: return SlotGray8;
    case 2: return SlotGray16;
    case 3: return SlotGray32;
    case 4:
    case 9: return SlotColour8;
    case 5:
    case 8: return SlotColour16;
    case 6:
    case 7: return SlotColour32;
    default: return SlotNone;
  }
}

// ---- kernel switch -------------------------------------------------------------------------

namespace {
std::atomic<int32_t> gTypedKernels{1};
}  // namespace

void SetEngineTypedKernels(int32_t on) { gTypedKernels.store(on ? 1 : 0); }
int32_t EngineTypedKernels() { return gTypedKernels.load(); }

// ---- row split -----------------------------------------------------------------------------

void RunRows(ParallelForFn fn, void* ctx, const RoiRect& r) {
  const int64_t rows = RoiHeight(r);
  if (rows <= 0) return;
  if (RoiWidth(r) * rows < ParallelPixelThreshold) {
    fn(ctx, 0, uint64_t(rows));
    return;
  }
  ParallelFor(fn, ctx, uint64_t(rows));
}

void RunRowsMerged(ParallelForFn fn, void* ctx, const RoiRect& r, const MergeLock& lock) {
  if (!lock.Valid()) {
    const int64_t rows = RoiHeight(r);
    if (rows > 0) fn(ctx, 0, uint64_t(rows));
    return;
  }
  RunRows(fn, ctx, r);
}

namespace {

struct BandJob {
  ParallelForFn rows;
  void* ctx;
  int64_t count, bands;
};

void RunBand(void* ctx, uint64_t first, uint64_t count) {
  const BandJob& b = *static_cast<const BandJob*>(ctx);
  const int64_t r0 = int64_t(first) * b.count / b.bands;
  const int64_t r1 = int64_t(first + count) * b.count / b.bands;
  if (r1 > r0) b.rows(b.ctx, uint64_t(r0), uint64_t(r1 - r0));
}

}  // namespace

void RunBands(ParallelForFn fn, void* ctx, int64_t rows, int64_t unitsPerRow, int64_t minBandUnits) {
  int64_t bands = unitsPerRow * rows / minBandUnits;
  if (bands > rows) bands = rows;
  if (bands > int64_t(ActiveWorkerCount())) bands = int64_t(ActiveWorkerCount());
  if (bands < 2) {
    fn(ctx, 0, uint64_t(rows));
    return;
  }
  BandJob b{fn, ctx, rows, bands};
  ParallelFor(RunBand, &b, uint64_t(bands));
}
