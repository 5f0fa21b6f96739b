// levels.cpp - level tables (gamma curve, linear stretch), their application, the direct
// 32-bit curves and the 256-bin histogram.  All work in place inside the rectangle.
// Inside: table builders - table application - direct 32-bit curves - histogram
#include "engine/levels.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

// ---- table builders ------------------------------------------------------------------------

namespace {

// A table with both its halves, or null; FreeLut releases it.
LevelLut* AllocateLut() {
  LevelLut* lut = static_cast<LevelLut*>(std::malloc(sizeof(LevelLut)));
  if (!lut) return nullptr;
  lut->table16 = static_cast<uint16_t*>(std::malloc(65536 * sizeof(uint16_t)));
  if (!lut->table16) {
    std::free(lut);
    return nullptr;
  }
  return lut;
}

}  // namespace

LevelLut* BuildGammaLut(double g0, double g1) {
  if (!(g0 > 0.0) || !(g1 > 0.0)) return nullptr;  // NaN refused too
  const double e = g1 / g0;
  if (std::isnan(e)) return nullptr;  // inf / inf
  LevelLut* lut = AllocateLut();
  if (!lut) return nullptr;
  for (int i = 0; i < 256; ++i) {
    const uint32_t v = ClampTruncU32(255.0 * std::pow(i / 255.0, e));
    lut->table8[i] = uint8_t(v > 255u ? 255u : v);
  }
  for (int i = 0; i < 65536; ++i) {
    const uint32_t v = ClampTruncU32(65535.0 * std::pow(i / 65535.0, e));
    lut->table16[i] = uint16_t(v > 65535u ? 65535u : v);
  }
  return lut;
}

LevelLut* BuildStretchLut(uint16_t lo, uint16_t hi) {
  if (lo > hi) return nullptr;
  LevelLut* lut = AllocateLut();
  if (!lut) return nullptr;
  const uint32_t span16 = uint32_t(hi) - lo;
  for (uint32_t i = 0; i < 65536; ++i) {
    uint32_t v;
    if (i < lo) v = 0;
    else if (i > hi) v = 65535;
    else v = span16 ? (i - lo) * 65535u / span16 : 0;
    lut->table16[i] = uint16_t(v);
  }
  const uint32_t lo8 = lo / 256u, hi8 = hi / 256u, span8 = hi8 - lo8;
  for (uint32_t j = 0; j < 256; ++j) {
    uint32_t v;
    if (j < lo8) v = 0;
    else if (j > hi8) v = 255;
    else v = span8 ? (j - lo8) * 255u / span8 : 0;
    lut->table8[j] = uint8_t(v);
  }
  return lut;
}

int32_t FreeLut(LevelLut* lut) {
  if (!lut) return 0;
  std::free(lut->table16);
  std::free(lut);
  return 1;
}

// ---- table application ---------------------------------------------------------------------

namespace {

struct LutJob {
  C_ImgBuff* rec;
  RoiRect r;
  const LevelLut* lut;
  int32_t typed;
};

// Typed kernels over the samples of a row span (gray or R, G, B alike).
void LutSamples8(uint8_t* p, int64_t n, const uint8_t* t) {
  for (int64_t i = 0; i < n; ++i) p[i] = t[p[i]];
}
void LutSamples16(uint16_t* p, int64_t n, const uint16_t* t) {
  for (int64_t i = 0; i < n; ++i) p[i] = t[p[i]];
}
// 32-bit samples go through the 16-bit table at their high half and are widened back, as
// GetGray16 / SetGray16 would do.
void LutSamples32(uint32_t* p, int64_t n, const uint16_t* t) {
  for (int64_t i = 0; i < n; ++i) p[i] = uint32_t(t[p[i] >> 16]) * 65537u;
}

void LutRowAccessor(C_ImgBuff* rec, const LevelLut* lut, int32_t y, int32_t x0, int32_t x1) {
  const uint8_t* t8 = lut->table8;
  const uint16_t* t16 = lut->table16;
  for (int32_t x = x0; x <= x1; ++x) {
    switch (rec->format) {
      case 1: {
        uint8_t v;
        if (rec->GetGray8(x, y, &v)) rec->SetGray8(x, y, t8[v]);
        break;
      }
      case 2:
      case 3: {
        uint16_t v;
        if (rec->GetGray16(x, y, &v)) rec->SetGray16(x, y, t16[v]);
        break;
      }
      case 4:
      case 9: {
        uint8_t r, g, b;
        if (rec->GetRGB8(x, y, &r, &g, &b)) rec->SetRGB8(x, y, t8[r], t8[g], t8[b]);
        break;
      }
      default: {  // 5, 6, 7, 8
        uint16_t r, g, b;
        if (rec->GetRGB16(x, y, &r, &g, &b)) rec->SetRGB16(x, y, t16[r], t16[g], t16[b]);
        break;
      }
    }
  }
}

void LutRows(void* ctx, uint64_t first, uint64_t count) {
  const LutJob& job = *static_cast<const LutJob*>(ctx);
  int32_t yb, ye;
  PieceRows(job.r, first, count, &yb, &ye);
  const int32_t f = job.rec->format;
  const int64_t samples = RoiWidth(job.r) * (IsGrayFormat(f) ? 1 : 3);
  for (int32_t y = yb; y < ye; ++y) {
    if (!job.typed) {
      LutRowAccessor(job.rec, job.lut, y, job.r.x0, job.r.x1);
    } else if (f == 1 || f == 4) {
      LutSamples8(RowPtr<uint8_t>(job.rec, job.r.x0, y), samples, job.lut->table8);
    } else if (f == 2 || f == 5) {
      LutSamples16(RowPtr<uint16_t>(job.rec, job.r.x0, y), samples, job.lut->table16);
    } else {
      LutSamples32(RowPtr<uint32_t>(job.rec, job.r.x0, y), samples, job.lut->table16);
    }
  }
}

}  // namespace

int32_t ApplyLevelLut(CImgBuff* img, const LevelLut* lut, const RoiRect* roi) {
  if (!img || !img->record || !lut || !lut->table16) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return 0;
  LutJob job{rec, r, lut, IsTypedFormat(rec->format) && EngineTypedKernels()};
  RunRows(LutRows, &job, r);
  return 1;
}

int32_t ApplyStretchLut(CImgBuff* img, const LevelLut* lut, const RoiRect* roi) {
  return ApplyLevelLut(img, lut, roi);
}

// ---- direct 32-bit curves ------------------------------------------------------------------

namespace {

// v' = 4294967295 x (v / 4294967295)^e, saturated.
inline uint32_t GammaSample32(uint32_t v, double e) {
  return ClampTruncU32(4294967295.0 * std::pow(v / 4294967295.0, e));
}

struct GammaJob {
  C_ImgBuff* rec;
  RoiRect r;
  double e;
  int32_t typed;
};

void GammaRows(void* ctx, uint64_t first, uint64_t count) {
  const GammaJob& job = *static_cast<const GammaJob*>(ctx);
  C_ImgBuff* rec = job.rec;
  int32_t yb, ye;
  PieceRows(job.r, first, count, &yb, &ye);
  for (int32_t y = yb; y < ye; ++y) {
    if (job.typed) {  // formats 3 and 6: every 32-bit sample of the span
      uint32_t* p = RowPtr<uint32_t>(rec, job.r.x0, y);
      const int64_t n = RoiWidth(job.r) * (rec->format == 3 ? 1 : 3);
      for (int64_t i = 0; i < n; ++i) p[i] = GammaSample32(p[i], job.e);
      continue;
    }
    for (int32_t x = job.r.x0; x <= job.r.x1; ++x) {
      if (IsGrayFormat(rec->format)) {
        uint32_t v;
        if (rec->GetGray32(x, y, &v)) rec->SetGray32(x, y, GammaSample32(v, job.e));
      } else {
        uint32_t r, g, b;
        if (rec->GetRGB32(x, y, &r, &g, &b))
          rec->SetRGB32(x, y, GammaSample32(r, job.e), GammaSample32(g, job.e),
                        GammaSample32(b, job.e));
      }
    }
  }
}

}  // namespace

int32_t GammaCorrect(CImgBuff* img, double g0, double g1, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  C_ImgBuff* rec = img->record;
  const int32_t bits = FormatClassBits(rec->format);
  if (bits == 0 || !rec->pixels) return 0;
  if (bits != 32) {
    LevelLut* lut = BuildGammaLut(g0, g1);
    if (!lut) return 0;
    const int32_t ok = ApplyLevelLut(img, lut, &r);
    FreeLut(lut);
    return ok;
  }
  if (!(g0 > 0.0) || !(g1 > 0.0)) return 0;
  const double e = g1 / g0;
  if (std::isnan(e)) return 0;
  GammaJob job{rec, r, e, IsTypedFormat(rec->format) && EngineTypedKernels()};
  RunRows(GammaRows, &job, r);
  return 1;
}

namespace {

struct StretchJob {
  C_ImgBuff* rec;
  RoiRect r;
  double low;    // lo x 65536
  double scale;  // 4294967295 / (H - L)
  const uint8_t* table8;  // formats 1 and 4: the curve for every 8-bit level, or null
  int32_t typed;
};

inline uint32_t StretchSample32(uint32_t v, double low, double scale) {
  return ClampTruncU32((double(v) - low) * scale);
}

void StretchRows(void* ctx, uint64_t first, uint64_t count) {
  const StretchJob& job = *static_cast<const StretchJob*>(ctx);
  C_ImgBuff* rec = job.rec;
  const int32_t f = rec->format;
  int32_t yb, ye;
  PieceRows(job.r, first, count, &yb, &ye);
  const int64_t n = RoiWidth(job.r) * (IsGrayFormat(f) ? 1 : 3);
  for (int32_t y = yb; y < ye; ++y) {
    if (job.typed) {
      if (f == 1 || f == 4) {
        LutSamples8(RowPtr<uint8_t>(rec, job.r.x0, y), n, job.table8);
      } else if (f == 2 || f == 5) {
        uint16_t* p = RowPtr<uint16_t>(rec, job.r.x0, y);
        for (int64_t i = 0; i < n; ++i)
          p[i] = Narrow32To16(StretchSample32(Widen16To32(p[i]), job.low, job.scale));
      } else {
        uint32_t* p = RowPtr<uint32_t>(rec, job.r.x0, y);
        for (int64_t i = 0; i < n; ++i) p[i] = StretchSample32(p[i], job.low, job.scale);
      }
      continue;
    }
    for (int32_t x = job.r.x0; x <= job.r.x1; ++x) {
      if (IsGrayFormat(f)) {
        uint32_t v;
        if (rec->GetGray32(x, y, &v))
          rec->SetGray32(x, y, StretchSample32(v, job.low, job.scale));
      } else {
        uint32_t r, g, b;
        if (rec->GetRGB32(x, y, &r, &g, &b))
          rec->SetRGB32(x, y, StretchSample32(r, job.low, job.scale),
                        StretchSample32(g, job.low, job.scale),
                        StretchSample32(b, job.low, job.scale));
      }
    }
  }
}

}  // namespace

int32_t StretchLevels(CImgBuff* img, uint16_t lo, uint16_t hi, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  // lo above hi would make the scale negative and turn the picture over; refuse it here
  // rather than trust every caller to have checked.
  if (lo > hi) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return 0;
  const uint32_t L = uint32_t(lo) * 65536u;
  const uint32_t H = uint32_t(hi) * 65536u + 65535u;
  StretchJob job{rec, r, double(L), 4294967295.0 / double(H - L), nullptr,
                 IsTypedFormat(rec->format) && EngineTypedKernels()};
  // An 8-bit sample widens to one of 256 values: the curve is a table for formats 1 and 4.
  uint8_t table8[256];
  for (int i = 0; i < 256; ++i)
    table8[i] = Narrow32To8(StretchSample32(Widen8To32(uint8_t(i)), job.low, job.scale));
  job.table8 = table8;
  RunRows(StretchRows, &job, r);
  return 1;
}

// ---- histogram -----------------------------------------------------------------------------

namespace {

// Four private histograms break the store-to-load chain when neighbours share a level.
// A piece holds fewer than 2^31 pixels, so 32-bit counts cannot overflow.
struct PrivateBins {
  uint32_t h[4][256];
};

// Counts every stride-th byte of a row span (the top byte of the sample that is counted).
void CountBytes(const uint8_t* p, int64_t n, int32_t stride, PrivateBins& pb) {
  int64_t i = 0;
  const int64_t step = stride;
  for (; i + 4 <= n; i += 4) {
    ++pb.h[0][p[0]];
    ++pb.h[1][p[step]];
    ++pb.h[2][p[2 * step]];
    ++pb.h[3][p[3 * step]];
    p += 4 * step;
  }
  for (; i < n; ++i, p += step) ++pb.h[0][*p];
}

template <class T>
void CountLuma(const T* p, int64_t n, int32_t shift, PrivateBins& pb) {
  if constexpr (sizeof(T) <= 2) {
    for (int64_t i = 0; i < n; ++i, p += 3) ++pb.h[i & 3][Luma16(p[0], p[1], p[2]) >> shift];
  } else {
    for (int64_t i = 0; i < n; ++i, p += 3) ++pb.h[i & 3][Luma(p[0], p[1], p[2]) >> shift];
  }
}

void CountRowTyped(const C_ImgBuff* rec, int32_t mode, int32_t y, int32_t x0, int64_t n,
                   PrivateBins& pb) {
  const int32_t f = rec->format;
  const uint8_t* row = RowPtr<const uint8_t>(rec, x0, y);
  if (IsGrayFormat(f)) {  // the top byte of the gray sample, every mode
    const int32_t bytes = ImgBytesPerPixel[f];
    CountBytes(row + bytes - 1, n, bytes, pb);
    return;
  }
  const int32_t channelBytes = ImgBytesPerPixel[f] / 3;
  if (mode == 1) {
    if (f == 4) CountLuma(row, n, 0, pb);
    else if (f == 5) CountLuma(reinterpret_cast<const uint16_t*>(row), n, 8, pb);
    else CountLuma(reinterpret_cast<const uint32_t*>(row), n, 24, pb);
    return;
  }
  CountBytes(row + (mode - 2) * channelBytes + channelBytes - 1, n, 3 * channelBytes, pb);
}

void CountRowAccessor(const C_ImgBuff* rec, int32_t mode, int32_t y, int32_t x0, int32_t x1,
                      PrivateBins& pb) {
  for (int32_t x = x0; x <= x1; ++x) {
    uint8_t v = 0;
    if (mode == 1 || IsGrayFormat(rec->format)) {
      if (!rec->GetGray8(x, y, &v)) continue;
    } else {
      uint8_t c[3];
      if (!rec->GetRGB8(x, y, &c[0], &c[1], &c[2])) continue;
      v = c[mode - 2];
    }
    ++pb.h[0][v];
  }
}

void HistogramRows(HistogramJob* job, int32_t mode, uint64_t first, uint64_t count) {
  if (!job->img || !job->bins) return;
  const C_ImgBuff* rec = job->img->record;
  RoiRect r;
  if (!PieceInPicture(rec, RoiRect{job->x0, job->y0, job->x1, job->y1}, first, count, &r))
    return;
  const int32_t yb = r.y0, ye = r.y1 + 1;
  PrivateBins local;  // 4 KiB, once per piece
  std::memset(&local, 0, sizeof local);
  PrivateBins* pb = &local;
  const int32_t typed = IsTypedFormat(rec->format) && EngineTypedKernels();
  for (int32_t y = yb; y < ye; ++y) {
    if (typed) CountRowTyped(rec, mode, y, r.x0, RoiWidth(r), *pb);
    else CountRowAccessor(rec, mode, y, r.x0, r.x1, *pb);
  }
  {
    MergeHold hold(job->lock);
    for (int k = 0; k < 256; ++k)
      job->bins[k] += uint64_t(pb->h[0][k]) + pb->h[1][k] + pb->h[2][k] + pb->h[3][k];
  }
}

}  // namespace

void HistogramRowsMode1(void* job, uint64_t first, uint64_t count) {
  HistogramRows(static_cast<HistogramJob*>(job), 1, first, count);
}
void HistogramRowsMode2(void* job, uint64_t first, uint64_t count) {
  HistogramRows(static_cast<HistogramJob*>(job), 2, first, count);
}
void HistogramRowsMode3(void* job, uint64_t first, uint64_t count) {
  HistogramRows(static_cast<HistogramJob*>(job), 3, first, count);
}
void HistogramRowsMode4(void* job, uint64_t first, uint64_t count) {
  HistogramRows(static_cast<HistogramJob*>(job), 4, first, count);
}

int32_t ComputeHistogram(CImgBuff* img, int32_t mode, uint64_t* bins, uint64_t* maxBin,
                         const RoiRect* roi) {
  if (!img || !img->record || mode < 1 || mode > 4 || !bins) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  if (!IsValidFormat(img->record->format) || !img->record->pixels) return 0;
  static const ParallelForFn workers[4] = {HistogramRowsMode1, HistogramRowsMode2,
                                           HistogramRowsMode3, HistogramRowsMode4};
  MergeLock lock;
  std::memset(bins, 0, 256 * sizeof(uint64_t));
  if (maxBin) *maxBin = 0;
  HistogramJob job{img, r.x0, r.y0, r.x1, r.y1, bins, lock.Get()};
  RunRowsMerged(workers[mode - 1], &job, r, lock);
  if (maxBin) {
    uint64_t m = 0;
    for (int k = 0; k < 256; ++k)
      if (bins[k] > m) m = bins[k];
    *maxBin = m;
  }
  return 1;
}
