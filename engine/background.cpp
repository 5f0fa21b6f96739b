// background.cpp - background pictures built from every frame of a video: mean, maximum and
// minimum per channel, and the noise-removing L*a*b* mean and bounded extremes.
// One frame is held at a time; each frame is one parallel pass over its rows that folds it
// into per-pixel accumulators, and a last pass writes the result into the caller's picture.
// A frame in the output's format 1..6 is read by typed row kernels: 32-bit integer sums where
// they provably fit (the exact sum converts to the double the reference path sums, so the
// mean is identical) and vector maxima and minima; other frames go through the accessors of
// the output's slot, which remain the reference.  The first frame folded in is stored into
// the accumulators, which are therefore never cleared or preset, and the typed write-back
// copies the extremes and divides integer sums in vector loops.  The row kernels are built
// for AVX2 and for the baseline.
// Inside: accumulators - row kernels - frame reads - mean, maximum, minimum -
//         L*a*b* mean - bounded extremes - entries
#include "engine/background.h"

#include <cstdlib>
#include <cstring>

#include "core/colour.h"
#include "engine/pixel.h"
#include "engine/quotient.h"
#include "engine/simd.h"
#include "engine/subtract.h"
#include "engine/thread_kept.h"

namespace {

// ---- accumulators --------------------------------------------------------------------------

// Zero-filled count x size bytes, or null also when the size overflows.
void* AllocZeroed(uint64_t count, uint64_t size) {
  if (count == 0 || count > SIZE_MAX / size) return nullptr;
  return std::calloc(size_t(count), size_t(size));
}

// The accumulators of the mean, maximum and minimum, and the picture the frames are fetched
// into, are kept by the calling thread for its next build (see thread_kept.h); the
// accumulators need no clearing, since the first frame stores into them.
struct PlainSumsTag;
struct PlainFoldTag;
struct PlainExtremesTag;
struct FramePictureTag;

int32_t SameGeometry(const C_ImgBuff* a, const C_ImgBuff* b) {
  return a->pixels && b->pixels && a->format == b->format && a->width == b->width && a->height == b->height;
}

// count x size bytes of a kept block, or null also when the size overflows.
template <class Tag>
void* TakeUncleared(KeptBlock<Tag>& block, uint64_t count, uint64_t size) {
  if (count == 0 || count > SIZE_MAX / size) return nullptr;
  return block.Take(size_t(count * size));
}

// Frames summed at most this many times fit a 32-bit sum at the depth: 255 x 16843009 and
// 65535 x 65537 are 4294967295.
constexpr uint64_t MaxFramesSum8 = 16843009ull;
constexpr uint64_t MaxFramesSum16 = 65537ull;
// 8-bit frames are summed into 16 bits first (255 x 257 = 65535), which halves the bytes a
// frame's pass moves; every 257 frames the 16-bit sums are folded into the 32-bit ones.
constexpr uint64_t FramesPerSum16 = 257ull;

int32_t SlotChannels(FormatSlot slot) { return slot <= SlotGray32 ? 1 : 3; }
int32_t SlotBits(FormatSlot slot) {
  switch (slot) {
    case SlotGray8:
    case SlotColour8: return 8;
    case SlotGray16:
    case SlotColour16: return 16;
    default: return 32;
  }
}

// ---- row kernels ---------------------------------------------------------------------------

// Plain loops over one row of elements that the compiler turns into vector code.
template <class S, class A>
struct AddRow {
  static QV_KERNEL_BODY void Run(A* __restrict acc, const S* __restrict s, int64_t n) {
    for (int64_t i = 0; i < n; ++i) acc[i] += A(s[i]);
  }
};

// The first frame: the accumulator takes the samples.
template <class S, class A>
struct StoreRow {
  static QV_KERNEL_BODY void Run(A* __restrict acc, const S* __restrict s, int64_t n) {
    for (int64_t i = 0; i < n; ++i) acc[i] = A(s[i]);
  }
};

template <class T, bool IsMax>
struct ExtremeRowKernel {
  static QV_KERNEL_BODY void Run(T* __restrict acc, const T* __restrict s, int64_t n) {
    if constexpr (IsMax) {
      for (int64_t i = 0; i < n; ++i) acc[i] = s[i] > acc[i] ? s[i] : acc[i];
    } else {
      for (int64_t i = 0; i < n; ++i) acc[i] = s[i] < acc[i] ? s[i] : acc[i];
    }
  }
};

// The truncated mean of sums of at most 257 8-bit frames (below 2^16).
struct MeanRowU16 {
  static QV_KERNEL_BODY void Run(const uint16_t* __restrict sums, uint8_t* __restrict out, int64_t n,
                                 CappedQuotient mean) {
    for (int64_t i = 0; i < n; ++i) out[i] = uint8_t(mean(sums[i]));
  }
};

// The truncated mean of exact 32-bit sums: the correctly rounded double quotient of two
// integers below 2^53 never reaches the next integer, so truncating it gives sum / frames.
template <class T>
struct MeanRowU32 {
  static QV_KERNEL_BODY void Run(const uint32_t* __restrict sums, T* __restrict out, int64_t n, double frames) {
    for (int64_t i = 0; i < n; ++i) out[i] = T(uint32_t(double(sums[i]) / frames));
  }
};

// ---- frame reads ---------------------------------------------------------------------------

// The frame's value(s) at (x, y) as the output's slot reads them; the point lies inside.
inline void ReadSlot(const C_ImgBuff* f, FormatSlot slot, int32_t x, int32_t y, uint32_t* v) {
  switch (slot) {
    case SlotGray8: {
      uint8_t g;
      f->GetGray8(x, y, &g);
      v[0] = g;
      return;
    }
    case SlotGray16: {
      uint16_t g;
      f->GetGray16(x, y, &g);
      v[0] = g;
      return;
    }
    case SlotGray32: f->GetGray32(x, y, &v[0]); return;
    case SlotColour8: {
      uint8_t r, g, b;
      f->GetRGB8(x, y, &r, &g, &b);
      v[0] = r, v[1] = g, v[2] = b;
      return;
    }
    case SlotColour16: {
      uint16_t r, g, b;
      f->GetRGB16(x, y, &r, &g, &b);
      v[0] = r, v[1] = g, v[2] = b;
      return;
    }
    default: f->GetRGB32(x, y, &v[0], &v[1], &v[2]); return;
  }
}

inline void WriteSlot(C_ImgBuff* o, FormatSlot slot, int32_t x, int32_t y, const uint32_t* v) {
  switch (slot) {
    case SlotGray8: o->SetGray8(x, y, uint8_t(v[0])); return;
    case SlotGray16: o->SetGray16(x, y, uint16_t(v[0])); return;
    case SlotGray32: o->SetGray32(x, y, v[0]); return;
    case SlotColour8: o->SetRGB8(x, y, uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2])); return;
    case SlotColour16: o->SetRGB16(x, y, uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2])); return;
    default: o->SetRGB32(x, y, v[0], v[1], v[2]); return;
  }
}

// A fetched frame must cover the first frame's size: a smaller one would leave pixels out of
// the sums while the mean still divides by every frame, darkening them without a word.
int32_t FrameCovers(const CImgBuff& frame, uint64_t width, uint64_t height) {
  const C_ImgBuff* f = frame.record;
  return IsValidFormat(f->format) && f->pixels && uint64_t(f->width) >= width &&
         uint64_t(f->height) >= height;
}

// Rows of a pass: a typed pass over a full HD gray frame (two million samples) takes about
// 0.15 ms on one worker and a hand-over to the waiting pool a few microseconds, so typed
// passes go in bands of at least 128 Ki samples: one per worker for such a frame.
constexpr int64_t MinTypedBandElements = 128 * 1024;
constexpr int64_t MinAccessorBandPixels = 16 * 1024;

// Fetches frames 0 .. frameCount - 1 and runs pass(ctx) after each; -1 when the callback
// stops the build, 0 for a frame that doesn't cover the output, 1 when all are folded in.
template <class Pass>
int32_t FrameLoop(uint64_t frameCount, CImgBuff* frame, uint64_t width, uint64_t height,
                  FrameFetchFn fetch, void* user, Pass&& pass) {
  for (uint64_t i = 0; i < frameCount; ++i) {
    if (!fetch(i, frame, user)) return -1;
    if (!FrameCovers(*frame, width, height)) return 0;
    pass();
  }
  return 1;
}

// ---- mean, maximum, minimum ----------------------------------------------------------------

struct PlainPass {
  const BackgroundJob* job;
  FormatSlot slot;
  int32_t channels;
  int32_t direct;  // the frame has the output's format 1..6: typed row kernels
  int32_t store;   // the first frame into the accumulator (into sums16 after a fold)
  int32_t storeFold;  // the first fold of sums16 into sums32
};

// The frame's values of row y into an accumulator row, added or (store) stored.
template <class A>
void AddPixelsAccessor(const PlainPass& p, A* acc, int32_t y) {
  const C_ImgBuff* f = p.job->frame->record;
  uint32_t v[3];
  for (int32_t x = 0; x < int32_t(p.job->width); ++x, acc += p.channels) {
    ReadSlot(f, p.slot, x, y, v);
    for (int32_t c = 0; c < p.channels; ++c) acc[c] = p.store ? A(v[c]) : A(acc[c] + A(v[c]));
  }
}

template <class S, class A>
void AddOrStore(const PlainPass& p, A* acc, const void* s, int64_t n) {
  if (p.store) RunKernel<StoreRow<S, A>>(acc, static_cast<const S*>(s), n);
  else RunKernel<AddRow<S, A>>(acc, static_cast<const S*>(s), n);
}

void MeanRows(void* ctx, uint64_t first, uint64_t count) {
  const PlainPass& p = *static_cast<const PlainPass*>(ctx);
  const BackgroundJob& job = *p.job;
  const C_ImgBuff* f = job.frame->record;
  const int64_t n = int64_t(job.width) * p.channels;
  for (uint64_t y = first; y < first + count; ++y) {
    const size_t at = size_t(y) * size_t(n);
    if (p.direct) {
      const int32_t bits = SlotBits(p.slot);
      const void* s = RowPtr<const uint8_t>(f, 0, int32_t(y));
      if (job.sums16) AddOrStore<uint8_t>(p, job.sums16 + at, s, n);
      else if (job.sums32) AddOrStore<uint16_t>(p, job.sums32 + at, s, n);
      else if (bits == 8) AddOrStore<uint8_t>(p, job.sums + at, s, n);
      else if (bits == 16) AddOrStore<uint16_t>(p, job.sums + at, s, n);
      else AddOrStore<uint32_t>(p, job.sums + at, s, n);
    } else if (job.sums16) {
      AddPixelsAccessor(p, job.sums16 + at, int32_t(y));
    } else if (job.sums32) {
      AddPixelsAccessor(p, job.sums32 + at, int32_t(y));
    } else {
      AddPixelsAccessor(p, job.sums + at, int32_t(y));
    }
  }
}

// sums32 += sums16 (sums32 = sums16 the first time); the next frame stores into sums16.
void FoldSumsRows(void* ctx, uint64_t first, uint64_t count) {
  const PlainPass& p = *static_cast<const PlainPass*>(ctx);
  const BackgroundJob& job = *p.job;
  const size_t n = size_t(job.width) * size_t(p.channels);
  PlainPass fold = p;
  fold.store = p.storeFold;
  AddOrStore<uint16_t>(fold, job.sums32 + first * n, job.sums16 + first * n, int64_t(count * n));
}

template <class T>
void ExtremePixelsAccessor(const PlainPass& p, T* acc, int32_t y, int32_t isMax) {
  const C_ImgBuff* f = p.job->frame->record;
  uint32_t v[3];
  for (int32_t x = 0; x < int32_t(p.job->width); ++x, acc += p.channels) {
    ReadSlot(f, p.slot, x, y, v);
    for (int32_t c = 0; c < p.channels; ++c) {
      const T s = T(v[c]);
      if (p.store || (isMax ? s > acc[c] : s < acc[c])) acc[c] = s;
    }
  }
}

template <class T>
void ExtremeRow(const PlainPass& p, int32_t isMax, T* acc, const void* s, int64_t n) {
  const T* src = static_cast<const T*>(s);
  if (p.store) std::memcpy(acc, src, size_t(n) * sizeof(T));
  else if (isMax) RunKernel<ExtremeRowKernel<T, true>>(acc, src, n);
  else RunKernel<ExtremeRowKernel<T, false>>(acc, src, n);
}

void ExtremeRows(void* ctx, uint64_t first, uint64_t count) {
  const PlainPass& p = *static_cast<const PlainPass*>(ctx);
  const BackgroundJob& job = *p.job;
  const C_ImgBuff* f = job.frame->record;
  const int64_t n = int64_t(job.width) * p.channels;
  const int32_t isMax = job.mode > 0, bits = SlotBits(p.slot);
  for (uint64_t y = first; y < first + count; ++y) {
    const size_t at = size_t(y) * size_t(n);
    if (p.direct) {
      const void* s = RowPtr<const uint8_t>(f, 0, int32_t(y));
      if (bits == 8) ExtremeRow(p, isMax, job.extremes8 + at, s, n);
      else if (bits == 16) ExtremeRow(p, isMax, job.extremes16 + at, s, n);
      else ExtremeRow(p, isMax, job.extremes32 + at, s, n);
    } else if (bits == 8) {
      ExtremePixelsAccessor(p, job.extremes8 + at, int32_t(y), isMax);
    } else if (bits == 16) {
      ExtremePixelsAccessor(p, job.extremes16 + at, int32_t(y), isMax);
    } else {
      ExtremePixelsAccessor(p, job.extremes32 + at, int32_t(y), isMax);
    }
  }
}

// The finished value of element i: the truncated mean, or the stored extreme.
inline uint32_t PlainValue(const BackgroundJob& job, size_t i, double clamp) {
  if (job.mode == 0) {
    const double sum = job.sums32   ? double(job.sums32[i])
                       : job.sums16 ? double(job.sums16[i])
                                    : job.sums[i];
    double m = sum / double(job.frameCount);
    if (m > clamp) m = clamp;
    return ClampTruncU32(m);
  }
  if (job.extremes8) return job.extremes8[i];
  if (job.extremes16) return job.extremes16[i];
  return job.extremes32[i];
}

// Row y of a typed output (formats 1..6 store the slot's channels at its depth, so element i
// is sample i): the extremes as they are, integer sums divided in vector loops.  0 when the
// row needs the general path (double sums).
template <class T>
int32_t WriteTypedRow(const BackgroundJob& job, T* row, size_t at, int64_t n) {
  if (job.mode != 0) {
    const void* acc = job.extremes8 ? static_cast<const void*>(job.extremes8 + at)
                      : job.extremes16 ? static_cast<const void*>(job.extremes16 + at)
                                       : static_cast<const void*>(job.extremes32 + at);
    std::memcpy(row, acc, size_t(n) * sizeof(T));
    return 1;
  }
  if (job.sums32) {
    RunKernel<MeanRowU32<T>>(job.sums32 + at, row, n, double(job.frameCount));
    return 1;
  }
  if constexpr (sizeof(T) == 1) {
    if (job.sums16) {
      RunKernel<MeanRowU16>(job.sums16 + at, row, n, CappedQuotient(int64_t(job.frameCount), 255));
      return 1;
    }
  }
  return 0;
}

void PlainWriteRows(void* ctx, uint64_t first, uint64_t count) {
  const PlainPass& p = *static_cast<const PlainPass*>(ctx);
  const BackgroundJob& job = *p.job;
  C_ImgBuff* o = job.out->record;
  const double clamp = double(FormatClassMax(o->format));
  const int32_t typed = IsTypedFormat(o->format) && EngineTypedKernels();
  const int32_t bits = SlotBits(p.slot);
  for (uint64_t y = first; y < first + count; ++y) {
    size_t i = size_t(y) * job.width * size_t(p.channels);
    if (typed) {
      const int64_t n = int64_t(job.width) * p.channels;
      void* row = RowPtr<uint8_t>(o, 0, int32_t(y));
      const int32_t done = bits == 8    ? WriteTypedRow(job, static_cast<uint8_t*>(row), i, n)
                           : bits == 16 ? WriteTypedRow(job, static_cast<uint16_t*>(row), i, n)
                                        : WriteTypedRow(job, static_cast<uint32_t*>(row), i, n);
      if (done) continue;
      for (int64_t k = 0; k < n; ++k, ++i) {
        const uint32_t v = PlainValue(job, i, clamp);
        if (bits == 8) static_cast<uint8_t*>(row)[k] = uint8_t(v);
        else if (bits == 16) static_cast<uint16_t*>(row)[k] = uint16_t(v);
        else static_cast<uint32_t*>(row)[k] = v;
      }
      continue;
    }
    uint32_t v[3];
    for (int32_t x = 0; x < int32_t(job.width); ++x) {
      for (int32_t c = 0; c < p.channels; ++c, ++i) v[c] = PlainValue(job, i, clamp);
      WriteSlot(o, p.slot, x, int32_t(y), v);
    }
  }
}

void RunPlainPass(ParallelForFn fn, PlainPass& p, int32_t typedRows) {
  const int64_t perRow = typedRows ? int64_t(p.job->width) * p.channels : int64_t(p.job->width);
  RunBands(fn, &p, int64_t(p.job->height), perRow,
           typedRows ? MinTypedBandElements : MinAccessorBandPixels);
}

// Mean (mode 0), maximum (1) or minimum (-1): one accumulator, the frame loop, the write.
// The accumulators are not cleared: the first frame folded in stores into them (the maximum
// and minimum of one frame are that frame, as are its sums).
int32_t BuildPlainBackground(BackgroundJob* job, FrameFetchFn fetch, void* user) {
  const FormatSlot slot = GetFormatSlot(job->out->Format());
  if (slot == SlotNone) return 0;
  const int32_t channels = SlotChannels(slot), bits = SlotBits(slot);
  const int32_t typed = EngineTypedKernels();
  const uint64_t pixels = job->width * job->height;
  if (pixels / job->width != job->height || pixels > UINT64_MAX / 3) return 0;
  const uint64_t elements = pixels * uint64_t(channels);
  KeptBlock<PlainSumsTag> accBlock;
  KeptBlock<PlainFoldTag> foldBlock;
  KeptPicture<PlainExtremesTag> extremes;
  const int32_t extremesFormat = (bits == 8 ? 1 : bits == 16 ? 2 : 3) + (channels == 3 ? 3 : 0);
  void* acc = nullptr;
  int32_t fold = 0;  // 16-bit sums folded into 32-bit ones
  if (job->mode == 0) {
    const uint64_t fit = bits == 8 ? MaxFramesSum8 : bits == 16 ? MaxFramesSum16 : 0;
    if (typed && bits == 8 && job->frameCount <= fit) {
      acc = job->sums16 = static_cast<uint16_t*>(TakeUncleared(accBlock, elements, 2));
      fold = job->frameCount > FramesPerSum16;
      if (acc && fold && !(job->sums32 = static_cast<uint32_t*>(TakeUncleared(foldBlock, elements, 4))))
        acc = job->sums16 = nullptr;
    } else if (typed && job->frameCount <= fit) {
      acc = job->sums32 = static_cast<uint32_t*>(TakeUncleared(accBlock, elements, 4));
    } else {
      acc = job->sums = static_cast<double*>(TakeUncleared(accBlock, elements, 8));
    }
  } else if (extremes.Get() && extremes.Get()->record->AllocateUncleared(int32_t(job->width), int32_t(job->height),
                                                                          extremesFormat)) {
    acc = extremes.Get()->Pixels();
  }
  // The extremes are a picture of the slot's gray or R, G, B format, element i its sample i.
  auto pointExtremes = [&] {
    acc = extremes.Get()->Pixels();
    if (bits == 8) job->extremes8 = static_cast<uint8_t*>(acc);
    else if (bits == 16) job->extremes16 = static_cast<uint16_t*>(acc);
    else job->extremes32 = static_cast<uint32_t*>(acc);
  };
  if (!acc) return 0;
  if (job->mode != 0) pointExtremes();
  PlainPass p{job, slot, channels, 0, 1, 1};
  const ParallelForFn rows = job->mode == 0 ? MeanRows : ExtremeRows;
  uint64_t unfolded = 0;  // frames in the 16-bit sums
  auto foldFrame = [&] {
    p.direct = typed && IsTypedFormat(job->frame->Format()) &&
               job->frame->Format() == job->out->Format();
    if (job->mode != 0 && p.store && p.direct && SameGeometry(job->frame->record, extremes.Get()->record)) {
      // The first frame's extremes are the frame: its block becomes the accumulator, and the
      // accumulator's block the frame's for the next fetch.
      SwapPixelBlocks(job->frame->record, extremes.Get()->record);
      pointExtremes();
      p.store = 0;
      return;
    }
    RunPlainPass(rows, p, p.direct);
    p.store = 0;
    if (fold && ++unfolded == FramesPerSum16) {
      RunPlainPass(FoldSumsRows, p, 1);
      unfolded = 0;
      p.store = 1;  // sums16 starts again from the next frame
      p.storeFold = 0;
    }
  };
  const int32_t result =
      FrameLoop(job->frameCount, job->frame, job->width, job->height, fetch, user, foldFrame);
  if (result == 1 && fold && unfolded) RunPlainPass(FoldSumsRows, p, 1);
  if (result == 1) {
    if (job->mode != 0 && typed && SameGeometry(job->out->record, extremes.Get()->record)) {
      // A typed output holds its extremes exactly as the accumulator does: the blocks change
      // places (the output's old block, frame 0, goes back to the thread's kept picture).
      SwapPixelBlocks(job->out->record, extremes.Get()->record);
    } else {
      RunPlainPass(PlainWriteRows, p, typed && IsTypedFormat(job->out->Format()));
    }
  }
  job->sums = nullptr, job->sums32 = nullptr, job->sums16 = nullptr;
  job->extremes8 = nullptr, job->extremes16 = nullptr, job->extremes32 = nullptr;
  return result;
}

// ---- L*a*b* mean ---------------------------------------------------------------------------

struct LabPass {
  const BackgroundLabJob* job;
  int32_t second;  // 0: sum L*, a*, b*; 1: sum the frames within the noise level
};

void LabSumRows(void* ctx, uint64_t first, uint64_t count) {
  const LabPass& p = *static_cast<const LabPass*>(ctx);
  const BackgroundLabJob& job = *p.job;
  const C_ImgBuff* f = job.frame->record;
  for (uint64_t y = first; y < first + count; ++y) {
    double* s = job.sums + size_t(y) * job.width * 3;
    double* l = job.labSums + size_t(y) * job.width * 4;
    for (int32_t x = 0; x < int32_t(job.width); ++x, s += 3, l += 4) {
      double X, Y, Z, L, a, b;
      if (!f->GetXYZ(x, int32_t(y), &X, &Y, &Z)) continue;
      XyzToLab(X, Y, Z, &L, &a, &b);
      if (!p.second) {
        s[0] += L, s[1] += a, s[2] += b;
      } else if (job.noiseLevel >= LabSquaredDistance(s[0], s[1], s[2], L, a, b)) {
        l[0] += L, l[1] += a, l[2] += b, l[3] += 1.0;
      }
    }
  }
}

void LabDivideRows(void* ctx, uint64_t first, uint64_t count) {
  const BackgroundLabJob& job = *static_cast<const LabPass*>(ctx)->job;
  const double n = double(job.frameCount);
  double* s = job.sums + size_t(first) * job.width * 3;
  for (size_t i = 0; i < size_t(count) * job.width * 3; ++i) s[i] /= n;
}

void LabWriteRows(void* ctx, uint64_t first, uint64_t count) {
  const BackgroundLabJob& job = *static_cast<const LabPass*>(ctx)->job;
  C_ImgBuff* o = job.out->record;
  for (uint64_t y = first; y < first + count; ++y) {
    const double* s = job.sums + size_t(y) * job.width * 3;
    const double* l = job.labSums + size_t(y) * job.width * 4;
    for (int32_t x = 0; x < int32_t(job.width); ++x, s += 3, l += 4) {
      // No frame within the noise level: the plain mean, rather than 0 / 0.
      if (l[3] > 0.0) o->SetLab(x, int32_t(y), l[0] / l[3], l[1] / l[3], l[2] / l[3]);
      else o->SetLab(x, int32_t(y), s[0], s[1], s[2]);
    }
  }
}

int32_t BuildLabMeanBackground(BackgroundLabJob* job, FrameFetchFn fetch, void* user) {
  const uint64_t pixels = job->width * job->height;
  if (pixels / job->width != job->height || pixels > UINT64_MAX / 4) return 0;
  job->sums = static_cast<double*>(AllocZeroed(pixels * 3, 8));
  job->labSums = static_cast<double*>(AllocZeroed(pixels * 4, 8));
  int32_t result = 0;
  if (job->sums && job->labSums) {
    LabPass p{job, 0};
    const int64_t rows = int64_t(job->height), w = int64_t(job->width);
    result = FrameLoop(job->frameCount, job->frame, job->width, job->height, fetch, user,
                       [&] { RunBands(LabSumRows, &p, rows, w, MinAccessorBandPixels); });
    if (result == 1) {
      RunBands(LabDivideRows, &p, rows, w * 3, MinTypedBandElements);
      p.second = 1;
      result = FrameLoop(job->frameCount, job->frame, job->width, job->height, fetch, user,
                         [&] { RunBands(LabSumRows, &p, rows, w, MinAccessorBandPixels); });
    }
    if (result == 1) RunBands(LabWriteRows, &p, rows, w, MinAccessorBandPixels);
  }
  std::free(job->sums);
  std::free(job->labSums);
  job->sums = job->labSums = nullptr;
  return result;
}

// ---- bounded extremes ----------------------------------------------------------------------

void NoiseSumRows(void* ctx, uint64_t first, uint64_t count) {
  const BackgroundLabJob& job = *static_cast<const LabPass*>(ctx)->job;
  const C_ImgBuff* f = job.frame->record;
  for (uint64_t y = first; y < first + count; ++y) {
    const size_t at = size_t(y) * job.width * 3;
    double* s = job.sums + at;
    uint32_t* mx = job.maxima + at;
    uint32_t* mn = job.minima + at;
    for (int32_t x = 0; x < int32_t(job.width); ++x, s += 3, mx += 3, mn += 3) {
      uint32_t v[3];
      f->GetRGB32(x, int32_t(y), &v[0], &v[1], &v[2]);
      for (int32_t c = 0; c < 3; ++c) {
        s[c] += double(v[c]);
        if (v[c] < mn[c]) mn[c] = v[c];
        if (v[c] > mx[c]) mx[c] = v[c];
      }
    }
  }
}

void NoiseWriteRows(void* ctx, uint64_t first, uint64_t count) {
  const BackgroundLabJob& job = *static_cast<const LabPass*>(ctx)->job;
  C_ImgBuff* o = job.out->record;
  const double n = double(job.frameCount);
  for (uint64_t y = first; y < first + count; ++y) {
    const size_t at = size_t(y) * job.width * 3;
    for (int32_t x = 0; x < int32_t(job.width); ++x) {
      uint32_t v[3];
      for (int32_t c = 0; c < 3; ++c) {
        const size_t i = at + size_t(x) * 3 + size_t(c);
        // n <= m <= M, so neither difference is negative and neither result leaves n..M.
        const uint32_t m = ClampTruncU32(job.sums[i] / n), M = job.maxima[i], lo = job.minima[i];
        if (job.mode > 0) v[c] = M - m > m - lo ? 2 * m - lo : M;
        else v[c] = M - m <= m - lo ? 2 * m - M : lo;
      }
      o->SetRGB32(x, int32_t(y), v[0], v[1], v[2]);
    }
  }
}

int32_t BuildNoiseExtremeBackground(BackgroundLabJob* job, FrameFetchFn fetch, void* user) {
  const uint64_t pixels = job->width * job->height;
  if (pixels / job->width != job->height || pixels > UINT64_MAX / 3) return 0;
  job->sums = static_cast<double*>(AllocZeroed(pixels * 3, 8));
  job->maxima = static_cast<uint32_t*>(AllocZeroed(pixels * 3, 4));
  job->minima = static_cast<uint32_t*>(AllocZeroed(pixels * 3, 4));
  int32_t result = 0;
  if (job->sums && job->maxima && job->minima) {
    std::memset(job->minima, 0xFF, size_t(pixels * 3 * 4));
    LabPass p{job, 0};
    const int64_t rows = int64_t(job->height), w = int64_t(job->width);
    result = FrameLoop(job->frameCount, job->frame, job->width, job->height, fetch, user,
                       [&] { RunBands(NoiseSumRows, &p, rows, w, MinAccessorBandPixels); });
    if (result == 1) RunBands(NoiseWriteRows, &p, rows, w, MinAccessorBandPixels);
  }
  std::free(job->sums);
  std::free(job->maxima);
  std::free(job->minima);
  job->sums = nullptr, job->maxima = job->minima = nullptr;
  return result;
}

// The first fetch: frame 0 into out, whose format and size the build then takes.
int32_t FetchFirst(CImgBuff* out, FrameFetchFn fetch, void* user, uint64_t* width,
                   uint64_t* height) {
  fetch(0, out, user);  // its result is not looked at: frame 0 is fetched again in the loop
  const C_ImgBuff* o = out->record;
  if (!IsValidFormat(o->format) || !o->pixels || o->width < 1 || o->height < 1) return 0;
  *width = uint64_t(o->width);
  *height = uint64_t(o->height);
  return 1;
}

}  // namespace

// ---- entries -------------------------------------------------------------------------------

// The checks both entries share, then the first fetch: frame 0 into out.  The job's common
// fields are set on success.
template <class Job>
int32_t StartBuild(Job* job, CImgBuff* out, CImgBuff* frame, uint64_t frameCount, int32_t mode,
                   FrameFetchFn fetch, void* user) {
  if (!out || !out->record || out->Format() == 0 || frameCount == 0 || mode < -1 || mode > 1 ||
      !fetch)
    return 0;
  job->mode = mode;
  job->out = out;
  job->frame = frame;
  job->frameCount = frameCount;
  return FetchFirst(out, fetch, user, &job->width, &job->height);
}

int32_t CreateBackground(CImgBuff* out, uint64_t frameCount, int32_t mode, FrameFetchFn fetch,
                         void* user) {
  KeptPicture<FramePictureTag> frame;
  if (!frame.Get()) return 0;
  BackgroundJob job{};
  if (!StartBuild(&job, out, frame.Get(), frameCount, mode, fetch, user)) return 0;
  return BuildPlainBackground(&job, fetch, user);
}

int32_t CreateBackgroundLab(CImgBuff* out, uint64_t frameCount, int32_t mode, double noiseLevel,
                            FrameFetchFn fetch, void* user) {
  // !(>= 0) also refuses NaN, with which no distance could be compared; checked before the
  // first fetch like every other argument.
  if (!(noiseLevel >= 0.0)) return 0;
  CImgBuff frame;
  BackgroundLabJob job{};
  job.noiseLevel = noiseLevel;
  if (!StartBuild(&job, out, &frame, frameCount, mode, fetch, user)) return 0;
  return mode == 0 ? BuildLabMeanBackground(&job, fetch, user)
                   : BuildNoiseExtremeBackground(&job, fetch, user);
}
