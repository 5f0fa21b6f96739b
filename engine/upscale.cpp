// upscale.cpp - the doubled-resolution composite and the pixel doubling it measures with.
// Frames are added into integer sums and counts (one read and four additions a pixel); all
// division happens once, in Finish, after the hole fill has grown the covered cells into the
// ones no frame reached.  Typed kernels read and write formats 1 to 6 directly; 7 to 9 go
// through the accessors.
// Inside: doubling - record lifetime - adding a frame - hole fill and output
#include "engine/upscale.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/pixel.h"
#include "engine/stabilize.h"

// ---- doubling ------------------------------------------------------------------------------

namespace {

int32_t Usable(const CImgBuff* img) {
  return img && img->record && IsValidFormat(img->Format()) && img->Pixels() && img->Width() >= 1 &&
         img->Height() >= 1;
}

struct DoublingJob {
  CImgBuff* source;
  CImgBuff* destination;
  int32_t sourceWidth;
};

template <int NB, int CH>
void DoubleRowsTyped(void* ctx, uint64_t first, uint64_t count) {
  const DoublingJob& job = *static_cast<const DoublingJob*>(ctx);
  typedef SampleType<NB> T;
  for (int32_t y = int32_t(first); y < int32_t(first + count); ++y) {
    const T* s = RowPtr<const T>(job.source->record, 0, y);
    T* d0 = RowPtr<T>(job.destination->record, 0, 2 * y);
    T* d1 = RowPtr<T>(job.destination->record, 0, 2 * y + 1);
    for (int32_t x = 0; x < job.sourceWidth; ++x) {
      // Through 8-bit R, G, B, as GetRGB8 and SetRGB8 would.
      uint32_t r, g, b;
      RgbAt<NB, CH, 8>(s + int64_t(x) * CH, &r, &g, &b);
      T px[CH];
      StoreRgb<NB, CH, 8>(px, r, g, b);
      for (int c = 0; c < CH; ++c) {
        d0[(2 * int64_t(x)) * CH + c] = d0[(2 * int64_t(x) + 1) * CH + c] = px[c];
        d1[(2 * int64_t(x)) * CH + c] = d1[(2 * int64_t(x) + 1) * CH + c] = px[c];
      }
    }
  }
}

void DoubleRowsAccessor(void* ctx, uint64_t first, uint64_t count) {
  const DoublingJob& job = *static_cast<const DoublingJob*>(ctx);
  for (int32_t y = int32_t(first); y < int32_t(first + count); ++y)
    for (int32_t x = 0; x < job.sourceWidth; ++x) {
      uint8_t r, g, b;
      job.source->GetRGB8(x, y, &r, &g, &b);
      job.destination->SetRGB8(2 * x, 2 * y, r, g, b);
      job.destination->SetRGB8(2 * x + 1, 2 * y, r, g, b);
      job.destination->SetRGB8(2 * x + 1, 2 * y + 1, r, g, b);
      job.destination->SetRGB8(2 * x, 2 * y + 1, r, g, b);
    }
}

// Bands of at least this many source pixels for the typed kernels (a few nanoseconds each).
constexpr int64_t kMinTypedBand = 256 * 1024;

}  // namespace

int32_t UpscaleImage2x(CImgBuff* img) {
  if (!Usable(img)) return 0;
  const int32_t w = img->Width(), h = img->Height(), format = img->Format();
  if (w > INT32_MAX / 2 || h > INT32_MAX / 2) return 0;
  // Built beside the picture, which stays untouched when memory is short.
  CImgBuff doubled;
  if (!doubled.Allocate(2 * w, 2 * h, format)) return 0;
  DoublingJob job{img, &doubled, w};
  if (IsTypedFormat(format) && EngineTypedKernels()) {
    DispatchTyped(format, [&]<int NB, int CH>() { RunBands(DoubleRowsTyped<NB, CH>, &job, h, w, kMinTypedBand); });
  } else {
    RunBands(DoubleRowsAccessor, &job, h, w, 16 * 1024);
  }
  img->CopyFrom(doubled);
  return img->Pixels() != nullptr;
}

// ---- record lifetime -----------------------------------------------------------------------

namespace {

void Release(UpscaleComposite* comp) {
  if (!comp) return;
  delete comp->templateA;
  delete comp->templateB;
  delete comp->work;
  delete comp->fineTemplate;
  std::free(comp->sumR);
  std::free(comp->sumG);
  std::free(comp->sumB);
  std::free(comp->count);
  std::free(comp);
}

}  // namespace

int32_t CompositeUpscaleInit(UpscaleComposite* comp, CImgBuff* first) {
  if (!comp || !Usable(first) || !comp->templateA || !comp->templateB || !comp->fineTemplate) return 0;
  const int32_t w = first->Width(), h = first->Height();
  TrackBlock best, second;
  if (!SelectTrackingBlocks(first, 32, 32, w - 32, h - 32, 32, 32, &best, &second)) return 0;
  comp->refXA = best.x0, comp->refYA = best.y0;
  comp->refXB = second.x0, comp->refYB = second.y0;
  if (!first->Crop(*comp->templateA, best.x0, best.y0, best.x1, best.y1)) return 0;
  if (!first->Crop(*comp->templateB, second.x0, second.y0, second.x1, second.y1)) return 0;
  comp->fineTemplate->CopyFrom(*comp->templateA);
  return UpscaleImage2x(comp->fineTemplate);
}

UpscaleComposite* CompositeUpscaleCreate(CImgBuff* first) {
  if (!Usable(first)) return nullptr;
  const int32_t w = first->Width(), h = first->Height();
  if (w > INT32_MAX / 2 || h > INT32_MAX / 2) return nullptr;
  UpscaleComposite* comp = static_cast<UpscaleComposite*>(std::calloc(1, sizeof(UpscaleComposite)));
  if (!comp) return nullptr;
  comp->colorMode = 1;
  comp->width = w;
  comp->height = h;
  comp->factor = 2;
  const size_t cells = size_t(2 * w) * size_t(2 * h);
  comp->sumR = static_cast<uint32_t*>(std::calloc(cells, sizeof(uint32_t)));
  comp->sumG = static_cast<uint32_t*>(std::calloc(cells, sizeof(uint32_t)));
  comp->sumB = static_cast<uint32_t*>(std::calloc(cells, sizeof(uint32_t)));
  comp->count = static_cast<uint32_t*>(std::calloc(cells, sizeof(uint32_t)));
  comp->templateA = new (std::nothrow) CImgBuff;
  comp->templateB = new (std::nothrow) CImgBuff;
  comp->work = new (std::nothrow) CImgBuff;
  comp->fineTemplate = new (std::nothrow) CImgBuff;
  if (!comp->sumR || !comp->sumG || !comp->sumB || !comp->count || !comp->templateA || !comp->templateB ||
      !comp->work || !comp->fineTemplate || !CompositeUpscaleInit(comp, first)) {
    Release(comp);
    return nullptr;
  }
  comp->work->CopyFrom(*first);
  if (!UpscaleImage2x(comp->work)) {
    Release(comp);
    return nullptr;
  }
  CompositeUpscaleAddFrame(comp, first, 0);
  return comp;
}

// ---- adding a frame ------------------------------------------------------------------------

namespace {

struct AccumulateJob {
  const UpscaleComposite* comp;
  CImgBuff* frame;
  int32_t ox, oy;
};

// Source rows land on distinct cell rows (2y + oy), so rows can be added side by side.
template <class ReadFn>
void AccumulateRows(const AccumulateJob& job, int32_t yb, int32_t ye, ReadFn read) {
  const UpscaleComposite& c = *job.comp;
  const int64_t W = int64_t(2) * c.width;
  for (int32_t y = yb; y < ye; ++y) {
    const int64_t Y = 2 * int64_t(y) + job.oy;
    if (Y < 0) continue;
    // Column 0 falls off the lattice when the offset is -1.
    const int32_t xStart = job.ox < 0 ? 1 : 0;
    for (int32_t x = xStart; x < c.width; ++x) {
      const int64_t cell = Y * W + 2 * int64_t(x) + job.ox;
      uint32_t r, g, b;
      read(x, y, &r, &g, &b);
      c.sumR[cell] += r;
      c.sumG[cell] += g;
      c.sumB[cell] += b;
      c.count[cell] += 1;
    }
  }
}

template <int NB, int CH>
void AccumulateRowsTyped(void* ctx, uint64_t first, uint64_t count) {
  const AccumulateJob& job = *static_cast<const AccumulateJob*>(ctx);
  const C_ImgBuff* rec = job.frame->record;
  AccumulateRows(job, int32_t(first), int32_t(first + count), [rec](int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) {
    RgbAt<NB, CH, 8>(RowPtr<const SampleType<NB>>(rec, x, y), r, g, b);
  });
}

void AccumulateRowsAccessor(void* ctx, uint64_t first, uint64_t count) {
  const AccumulateJob& job = *static_cast<const AccumulateJob*>(ctx);
  const CImgBuff* frame = job.frame;
  AccumulateRows(job, int32_t(first), int32_t(first + count), [frame](int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) {
    uint8_t r8 = 0, g8 = 0, b8 = 0;
    frame->GetRGB8(x, y, &r8, &g8, &b8);
    *r = r8, *g = g8, *b = b8;
  });
}

}  // namespace

int32_t CompositeCellOffset(double e) { return e >= 0 ? -int32_t(e + 0.5) : int32_t(-e + 0.5); }

int32_t CompositeUpscaleAddFrame(UpscaleComposite* comp, CImgBuff* frame, uint8_t fill) {
  if (!comp || !Usable(frame)) return 0;
  if (frame->Width() != comp->width || frame->Height() != comp->height) return 0;
  CImgBuff* templates[2] = {comp->templateA, comp->templateB};
  const int32_t refX[2] = {comp->refXA, comp->refXB}, refY[2] = {comp->refYA, comp->refYB};
  if (!StabilizeTwoPoints(1, frame, templates, refX, refY, 32, fill, comp->colorMode)) return 0;
  CImgBuff doubled;
  doubled.CopyFrom(*frame);
  if (!doubled.Pixels() || !UpscaleImage2x(&doubled)) return 0;
  double ex, ey;
  if (!MatchPointSubpixel(&doubled, comp->fineTemplate, 2 * comp->refXA, 2 * comp->refYA, 1, &ex, &ey,
                          comp->colorMode))
    return 0;
  // Radius 1 refines within one doubled pixel, so the offsets are -1, 0 or 1 (and anything
  // else could not be converted, let alone added).
  if (!(std::fabs(ex) <= 1.0 && std::fabs(ey) <= 1.0)) return 0;
  AccumulateJob job{comp, frame, CompositeCellOffset(ex), CompositeCellOffset(ey)};
  const int32_t format = frame->Format();
  if (IsTypedFormat(format) && EngineTypedKernels()) {
    DispatchTyped(format, [&]<int NB, int CH>() {
      RunBands(AccumulateRowsTyped<NB, CH>, &job, comp->height, comp->width, kMinTypedBand);
    });
  } else {
    RunBands(AccumulateRowsAccessor, &job, comp->height, comp->width, 16 * 1024);
  }
  return 1;
}

// ---- hole fill and output ------------------------------------------------------------------

namespace {

// mask: 1 for a cell with samples, only read during a pass; fresh: 1 for a cell filled in
// this pass, which becomes a neighbour from the next pass on.
struct HoleFillJob {
  int32_t W, H;
  uint32_t *sumR, *sumG, *sumB, *count;
  const uint8_t* mask;
  uint8_t* fresh;
  std::atomic<int64_t> holesLeft;
  std::atomic<int64_t> filled;
};

struct Neighbour {
  int32_t dx, dy, weight;
};
// Side neighbours weigh 2, corner neighbours 1.
constexpr Neighbour kNeighbours[8] = {{-1, -1, 1}, {0, -1, 2}, {1, -1, 1}, {1, 0, 2},
                                      {1, 1, 1},   {0, 1, 2},  {-1, 1, 1}, {-1, 0, 2}};

void HoleFillRows(void* ctx, uint64_t first, uint64_t count) {
  HoleFillJob& job = *static_cast<HoleFillJob*>(ctx);
  int64_t holes = 0, filled = 0;
  for (int32_t Y = int32_t(first); Y < int32_t(first + count); ++Y) {
    for (int32_t X = 0; X < job.W; ++X) {
      const int64_t cell = int64_t(Y) * job.W + X;
      if (job.mask[cell] != 0) continue;
      uint32_t r = 0, g = 0, b = 0, weight = 0;
      for (const Neighbour& n : kNeighbours) {
        const int32_t nx = X + n.dx, ny = Y + n.dy;
        if (nx < 0 || ny < 0 || nx >= job.W || ny >= job.H) continue;
        const int64_t k = int64_t(ny) * job.W + nx;
        if (job.mask[k] != 1) continue;
        // Each neighbour's mean is truncated before it is weighted.
        r += uint32_t(n.weight) * (job.sumR[k] / job.count[k]);
        g += uint32_t(n.weight) * (job.sumG[k] / job.count[k]);
        b += uint32_t(n.weight) * (job.sumB[k] / job.count[k]);
        weight += uint32_t(n.weight);
      }
      if (weight == 0) {
        ++holes;
        continue;
      }
      job.sumR[cell] = r;
      job.sumG[cell] = g;
      job.sumB[cell] = b;
      job.count[cell] = weight;
      job.fresh[cell] = 1;
      ++filled;
    }
  }
  job.holesLeft += holes;
  job.filled += filled;
}

struct OutputJob {
  CImgBuff* result;
  int32_t W;
  const uint32_t *sumR, *sumG, *sumB, *count;
};

template <int NB, int CH>
void OutputRowsTyped(void* ctx, uint64_t first, uint64_t count) {
  const OutputJob& job = *static_cast<const OutputJob*>(ctx);
  typedef SampleType<NB> T;
  for (int32_t Y = int32_t(first); Y < int32_t(first + count); ++Y) {
    T* row = RowPtr<T>(job.result->record, 0, Y);
    const int64_t base = int64_t(Y) * job.W;
    for (int32_t X = 0; X < job.W; ++X) {
      const uint32_t n = job.count[base + X];
      if (n == 0) continue;
      StoreRgb<NB, CH, 8>(row + int64_t(X) * CH, uint8_t(job.sumR[base + X] / n), uint8_t(job.sumG[base + X] / n),
                          uint8_t(job.sumB[base + X] / n));
    }
  }
}

void OutputRowsAccessor(void* ctx, uint64_t first, uint64_t count) {
  const OutputJob& job = *static_cast<const OutputJob*>(ctx);
  for (int32_t Y = int32_t(first); Y < int32_t(first + count); ++Y) {
    const int64_t base = int64_t(Y) * job.W;
    for (int32_t X = 0; X < job.W; ++X) {
      const uint32_t n = job.count[base + X];
      if (n == 0) continue;
      job.result->SetRGB8(X, Y, uint8_t(job.sumR[base + X] / n), uint8_t(job.sumG[base + X] / n),
                          uint8_t(job.sumB[base + X] / n));
    }
  }
}

}  // namespace

int32_t CompositeUpscaleFinish(UpscaleComposite* comp, CImgBuff* result) {
  if (!comp) return 0;
  if (!result) {
    Release(comp);
    return 0;
  }
  result->CopyFrom(*comp->work);
  const int32_t W = 2 * comp->width, H = 2 * comp->height;
  const size_t cells = size_t(W) * size_t(H);
  uint8_t* mask = static_cast<uint8_t*>(std::malloc(cells));
  uint8_t* fresh = static_cast<uint8_t*>(std::calloc(cells, 1));
  if (mask && fresh && result->Pixels()) {
    for (size_t k = 0; k < cells; ++k) mask[k] = comp->count[k] != 0;
    HoleFillJob job{W, H, comp->sumR, comp->sumG, comp->sumB, comp->count, mask, fresh, {0}, {0}};
    // Each pass grows the covered cells by one in every direction.  A pass that fills nothing
    // ends the loop: with no sample at all no pass ever could, and the result stays the
    // doubled first frame.
    for (;;) {
      job.holesLeft = 0;
      job.filled = 0;
      RunBands(HoleFillRows, &job, H, W, 64 * 1024);
      for (size_t k = 0; k < cells; ++k) mask[k] |= fresh[k];
      if (job.holesLeft == 0 || job.filled == 0) break;
    }
    OutputJob out{result, W, comp->sumR, comp->sumG, comp->sumB, comp->count};
    const int32_t format = result->Format();
    if (IsTypedFormat(format) && EngineTypedKernels()) {
      DispatchTyped(format, [&]<int NB, int CH>() { RunBands(OutputRowsTyped<NB, CH>, &out, H, W, kMinTypedBand); });
    } else {
      RunBands(OutputRowsAccessor, &out, H, W, 16 * 1024);
    }
  }
  std::free(mask);
  std::free(fresh);
  Release(comp);
  return 1;
}
