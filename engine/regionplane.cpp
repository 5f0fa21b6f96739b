// regionplane.cpp - comparison planes: conversion of a rectangle into 8-bit gray, 8-bit
// R, G, B or L*a*b* values, the contrast stretch, and the per-position score kernels.
// The stretch rewrites values exactly as storing them in the picture's format and reading
// them back would, so a plane scores what a stretched copy of the picture would score.
// Inside: conversion - stretch - kernels - score
#include "engine/regionplane.h"
#include "engine/simd.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/colour.h"
#include "engine/matchsad.h"
#include "engine/pixel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---- conversion ----------------------------------------------------------------------------

struct BuildJob {
  const C_ImgBuff* rec;
  int32_t x0, y0, w;
  CompareMode mode;
  int32_t normaliseLab;
  int32_t typed;
  ComparePlane* out;
};

template <int NB, int CH>
void GrayRowTyped(const C_ImgBuff* rec, int32_t x0, int32_t y, int32_t w, uint8_t* dst) {
  const SampleType<NB>* p = RowPtr<const SampleType<NB>>(rec, x0, y);
  if constexpr (NB == 8 && CH == 1) {
    std::memcpy(dst, p, size_t(w));
  } else {
    for (int32_t i = 0; i < w; ++i, p += CH) dst[i] = uint8_t(GrayAt<NB, CH, 8>(p));
  }
}

template <int NB, int CH>
void RgbRowTyped(const C_ImgBuff* rec, int32_t x0, int32_t y, int32_t w, uint8_t* dst) {
  const SampleType<NB>* p = RowPtr<const SampleType<NB>>(rec, x0, y);
  if constexpr (NB == 8 && CH == 3) {
    std::memcpy(dst, p, size_t(w) * 3);
  } else {
    for (int32_t i = 0; i < w; ++i, p += CH) {
      uint32_t r, g, b;
      RgbAt<NB, CH, 8>(p, &r, &g, &b);
      dst[3 * i] = uint8_t(r);
      dst[3 * i + 1] = uint8_t(g);
      dst[3 * i + 2] = uint8_t(b);
    }
  }
}

// L* = 50 with the pixel's own a* and b*, as a picture of this format stores it and gives it
// back.
void LabAtFifty(C_ImgBuff& one, double* lab) {
  double X, Y, Z;
  one.SetLab(0, 0, 50.0, lab[1], lab[2]);
  one.GetXYZ(0, 0, &X, &Y, &Z);
  XyzToLab(X, Y, Z, &lab[0], &lab[1], &lab[2]);
}

void BuildRows(void* ctx, uint64_t first, uint64_t count) {
  const BuildJob& job = *static_cast<const BuildJob*>(ctx);
  ComparePlane& out = *job.out;
  const C_ImgBuff* rec = job.rec;
  C_ImgBuff one;  // for the L*a*b* round trip, one per piece
  if (job.mode == CompareLab && job.normaliseLab && !one.Allocate(1, 1, rec->format)) return;
  for (uint64_t j = first; j < first + count; ++j) {
    const int32_t y = job.y0 + int32_t(j);
    if (job.mode == CompareLab) {
      double* dst = out.lab.Data() + int64_t(j) * out.stride;
      for (int32_t i = 0; i < job.w; ++i, dst += 3) {
        double X, Y, Z;
        rec->GetXYZ(job.x0 + i, y, &X, &Y, &Z);
        XyzToLab(X, Y, Z, &dst[0], &dst[1], &dst[2]);
        if (job.normaliseLab) LabAtFifty(one, dst);
      }
      continue;
    }
    uint8_t* dst = out.u8.Data() + int64_t(j) * out.stride;
    if (job.typed) {
      DispatchTyped(rec->format, [&]<int NB, int CH>() {
        if (job.mode == CompareGray) GrayRowTyped<NB, CH>(rec, job.x0, y, job.w, dst);
        else RgbRowTyped<NB, CH>(rec, job.x0, y, job.w, dst);
      });
      continue;
    }
    for (int32_t i = 0; i < job.w; ++i) {
      if (job.mode == CompareGray) rec->GetGray8(job.x0 + i, y, &dst[i]);
      else rec->GetRGB8(job.x0 + i, y, &dst[3 * i], &dst[3 * i + 1], &dst[3 * i + 2]);
    }
  }
}

// ---- stretch -------------------------------------------------------------------------------

// v' = trunc((v - min) * s), at most 255, s = 255 / (max - min) or 0 for a uniform set.
// Levels outside min..max take the ends' values: a block stretched for some positions also
// holds pixels that only other positions read, and those bytes must be defined.
void StretchTable(uint8_t lo, uint8_t hi, const uint8_t* back, uint8_t* table) {
  const double s = hi > lo ? 255.0 / double(hi - lo) : 0.0;
  for (int32_t v = lo; v <= hi; ++v) {
    const double t = double(v - lo) * s;
    const uint8_t nv = t >= 255.0 ? 255 : uint8_t(int32_t(t));
    table[v] = back ? back[nv] : nv;
  }
  for (int32_t v = 0; v < lo; ++v) table[v] = table[lo];
  for (int32_t v = hi + 1; v < 256; ++v) table[v] = table[hi];
}

// Gray levels and R, G, B triples that a picture of the format gives back after SetGray8 or
// SetRGB8.  Formats 1 to 6 store them exactly; the others are asked.
int32_t GrayBackExact(int32_t format) { return format >= 1 && format <= 6; }
int32_t RgbBackExact(int32_t format) { return format >= 4 && format <= 6; }

void RgbBack(C_ImgBuff& one, uint8_t* px) {
  one.SetRGB8(0, 0, px[0], px[1], px[2]);
  one.GetRGB8(0, 0, &px[0], &px[1], &px[2]);
}

// Maps rows through a table, then through the format's R, G, B read-back where it is not exact.
void TableRows(const uint8_t* table, const uint8_t* src, int64_t srcStride, int32_t w, int32_t rows,
               CompareMode mode, NormaliseScratch& s, uint8_t* dst, int64_t dstStride) {
  const int32_t rowElems = mode == CompareGray ? w : 3 * w;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* a = src + j * srcStride;
    uint8_t* b = dst + j * dstStride;
    for (int32_t i = 0; i < rowElems; ++i) b[i] = table[a[i]];
    if (mode == CompareRgb && !s.rgbExact)
      for (int32_t i = 0; i < w; ++i) RgbBack(s.one, b + 3 * i);
  }
}

// Stretches rows of src into dst (stride dstStride) with the set's own extremes.
void StretchU8(const uint8_t* src, int64_t srcStride, int32_t w, int32_t rows, CompareMode mode,
               NormaliseScratch& s, uint8_t* dst, int64_t dstStride) {
  const int32_t rowElems = mode == CompareGray ? w : 3 * w;
  uint8_t lo, hi;
  ByteExtremesU8(src, srcStride, rowElems, rows, &lo, &hi);
  s.Use(mode, lo, hi);
  // Where the vector form gives the table's bytes it writes them (in place too: each block
  // of bytes is read before it is written).
  if (s.vector) StretchRowsU8(src, srcStride, dst, dstStride, rowElems, rows, StretchFactors{lo, s.whole, s.fraction});
  else TableRows(s.table, src, srcStride, w, rows, mode, s, dst, dstStride);
}

}  // namespace

int32_t NormaliseScratch::Prepare(int32_t fmt, int64_t n, CompareMode mode) {
  if (!buf.Reserve(n)) return 0;
  // The one-pixel picture asks the format what it gives back: not needed where the format
  // keeps the 8-bit values the mode writes.
  const int32_t needOne = !GrayBackExact(fmt) || (mode == CompareRgb && !RgbBackExact(fmt));
  if (format == fmt && (!needOne || oneFormat == fmt)) return 1;
  format = 0;
  if (needOne && oneFormat != fmt) {
    oneFormat = 0;
    if (!one.Allocate(1, 1, fmt)) return 0;
    oneFormat = fmt;
  }
  for (int32_t v = 0; v < 256; ++v) {
    grayBack[v] = uint8_t(v);
    if (!GrayBackExact(fmt)) {
      one.SetGray8(0, 0, uint8_t(v));
      one.GetGray8(0, 0, &grayBack[v]);
    }
  }
  rgbExact = RgbBackExact(fmt);
  format = fmt;
  lastLo = lastHi = -1;
  return 1;
}

// ---- entries -------------------------------------------------------------------------------

int32_t BuildPlane(const C_ImgBuff* rec, int32_t x0, int32_t y0, int32_t w, int32_t h, CompareMode mode,
                   int32_t normaliseLab, int32_t parallel, ComparePlane* out) {
  out->mode = mode;
  out->format = rec->format;
  out->w = w;
  out->h = h;
  out->stride = mode == CompareGray ? w : 3 * int64_t(w);
  const int64_t n = out->stride * h;
  if (mode == CompareLab ? !out->lab.Reserve(n) : !out->u8.Reserve(n)) return 0;
  BuildJob job{rec, x0, y0, w, mode, normaliseLab, IsTypedFormat(rec->format) && EngineTypedKernels(), out};
  if (mode == CompareLab && normaliseLab) {
    C_ImgBuff probe;  // the pieces make their own; fail here rather than leave rows unset
    if (!probe.Allocate(1, 1, rec->format)) return 0;
  }
  if (parallel && int64_t(w) * h >= ParallelPixelThreshold) ParallelFor(BuildRows, &job, uint64_t(h));
  else BuildRows(&job, 0, uint64_t(h));
  return 1;
}

int32_t NormalisePlaneU8(ComparePlane* plane) {
  NormaliseScratch s;
  return NormalisePlaneU8(plane, &s);
}

int32_t NormalisePlaneU8(ComparePlane* plane, NormaliseScratch* s) {
  if (!s->Prepare(plane->format, 0, plane->mode)) return 0;
  StretchU8(plane->u8.Data(), plane->stride, plane->w, plane->h, plane->mode, *s, plane->u8.Data(),
            plane->stride);
  return 1;
}

// ---- kernels -------------------------------------------------------------------------------

#if defined(__SSE2__)
namespace {
// The two 64-bit lanes of a sum of absolute differences, added.
inline int64_t LaneSum(__m128i acc) {
  int64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
  return lanes[0] + lanes[1];
}
}  // namespace
#endif

int64_t SumAbsDiffU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride,
                     int32_t rowBytes, int32_t rows) {
  int64_t total = 0;
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128();
#endif
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * aStride;
    const uint8_t* q = b + j * bStride;
    int32_t i = 0;
#if defined(__SSE2__)
    for (; i + 32 <= rowBytes; i += 32) {
      const __m128i s0 = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i)));
      const __m128i s1 = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i + 16)));
      acc = _mm_add_epi64(acc, _mm_add_epi64(s0, s1));
    }
    for (; i + 16 <= rowBytes; i += 16)
      acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i))));
    for (; i + 8 <= rowBytes; i += 8)
      acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + i))));
#endif
    for (; i < rowBytes; ++i) total += std::abs(int32_t(p[i]) - int32_t(q[i]));
  }
#if defined(__SSE2__)
  total += LaneSum(acc);
#endif
  return total;
}

// Summed in scan order, pixel by pixel, so the result never depends on how work was split.
double SumLabDiff(const double* a, int64_t aStride, const double* b, int64_t bStride, int32_t w,
                  int32_t rows) {
  double sum = 0.0;
  for (int32_t j = 0; j < rows; ++j) {
    const double* p = a + j * aStride;
    const double* q = b + j * bStride;
    for (int32_t i = 0; i < w; ++i, p += 3, q += 3) {
      sum += std::fabs(p[0] - q[0]) + std::fabs(p[1] - q[1]) * 100.0 / 255.0 * 0.25 +
             std::fabs(p[2] - q[2]) * 100.0 / 255.0 * 0.25;
    }
  }
  return sum;
}

// ---- bounded sums --------------------------------------------------------------------------

int32_t BoundedSumU8(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl, int64_t limit,
                     int64_t* out) {
  const int32_t rowBytes = tmpl.w * tmpl.Channels();
  const uint8_t* a = img.U8(px, py);
  const uint8_t* b = tmpl.u8.Data();
  int64_t sum = 0;
  // Four rows at a time between the tests keeps the test off the critical path.
  for (int32_t j = 0; j < tmpl.h; j += 4) {
    const int32_t rows = tmpl.h - j < 4 ? tmpl.h - j : 4;
    sum += SumAbsDiffU8(a + j * img.stride, img.stride, b + j * tmpl.stride, tmpl.stride, rowBytes, rows);
    if (sum > limit) return 0;
  }
  *out = sum;
  return 1;
}

int32_t BoundedSumLab(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl, double limit,
                      double* out) {
  // Sums a rounding apart can give the same score, and an equal score still wins by its
  // distance to the centre: leave only once the running sum's own score is above the limit's.
  const double limitScore = ScoreFromSum(CompareLab, limit, tmpl.w, tmpl.h);
  double sum = 0.0;
  for (int32_t j = 0; j < tmpl.h; ++j) {
    const double* p = img.Lab(px, py + j);
    const double* q = tmpl.lab.Data() + j * tmpl.stride;
    for (int32_t i = 0; i < tmpl.w; ++i, p += 3, q += 3) {
      sum += std::fabs(p[0] - q[0]) + std::fabs(p[1] - q[1]) * 100.0 / 255.0 * 0.25 +
             std::fabs(p[2] - q[2]) * 100.0 / 255.0 * 0.25;
    }
    // Every term is >= 0, so the sum and its score only grow.
    if (sum > limit && ScoreFromSum(CompareLab, sum, tmpl.w, tmpl.h) > limitScore) return 0;
  }
  *out = sum;
  return 1;
}

double ScoreFromSum(CompareMode mode, double sum, int32_t w, int32_t h) {
  const double n = double(w) * double(h);
  if (mode == CompareLab) return sum / 3.0 * 255.0 / n / 255.0 * 100.0;
  if (mode == CompareRgb) return sum / 3.0 / n / 255.0 * 100.0;
  return sum / n / 255.0 * 100.0;
}

// ---- stretched sums ------------------------------------------------------------------------

void RegionExtremesRow(const ComparePlane& img, int32_t px0, int32_t py, int32_t count, int32_t tw, int32_t th,
                       uint8_t* lo, uint8_t* hi, uint8_t* scratch) {
  const int32_t ch = img.Channels();
  const int64_t len = int64_t(count + tw - 1) * ch, window = int64_t(tw) * ch;
  uint8_t* mn = scratch;
  uint8_t* mx = scratch + len;
  // Down the template's height first, then across with windows doubling in width: after
  // the pass of width p every element holds the extreme of the p elements from it on.
  const uint8_t* first = img.U8(px0, py);
  std::memcpy(mn, first, size_t(len));
  std::memcpy(mx, first, size_t(len));
  for (int32_t j = 1; j < th; ++j) {
    const uint8_t* r = first + j * img.stride;
    for (int64_t e = 0; e < len; ++e) {
      mn[e] = r[e] < mn[e] ? r[e] : mn[e];
      mx[e] = r[e] > mx[e] ? r[e] : mx[e];
    }
  }
  int64_t p = 1;
  for (; 2 * p <= window; p *= 2) {
    for (int64_t e = 0; e + p < len; ++e) {
      mn[e] = mn[e + p] < mn[e] ? mn[e + p] : mn[e];
      mx[e] = mx[e + p] > mx[e] ? mx[e + p] : mx[e];
    }
  }
  // Two overlapping runs of p cover the window.
  const int64_t rest = window - p;
  for (int32_t k = 0; k < count; ++k) {
    const int64_t e = int64_t(k) * ch;
    lo[k] = mn[e + rest] < mn[e] ? mn[e + rest] : mn[e];
    hi[k] = mx[e + rest] > mx[e] ? mx[e + rest] : mx[e];
  }
}

namespace {

#define QV_REGIONPLANE_CLONES QV_AVX2_CLONES

// Extremes of every window of k consecutive lines (rows of len bytes, stride apart) in blocks
// of k: a window starting at line r spans the rest of r's block (suffix) and the start of the
// next block up to r + k - 1 (prefix), so two running extremes per line give every window
// (van Herk, Gil and Werman).  lines = windows + k - 1; pre and suf hold lines x len each;
// the windows' extremes land in suf's first `windows` lines.
QV_REGIONPLANE_CLONES void SlidingLines(const uint8_t* src, int64_t stride, int64_t len, int32_t lines, int32_t k,
                                        int32_t windows, uint8_t* preMin, uint8_t* preMax, uint8_t* sufMin,
                                        uint8_t* sufMax) {
  for (int32_t r = 0; r < lines; ++r) {
    const uint8_t* s = src + r * stride;
    uint8_t* pn = preMin + r * len;
    uint8_t* px = preMax + r * len;
    if (r % k == 0) {
      std::memcpy(pn, s, size_t(len));
      std::memcpy(px, s, size_t(len));
      continue;
    }
    const uint8_t* qn = pn - len;
    const uint8_t* qx = px - len;
    for (int64_t e = 0; e < len; ++e) {
      pn[e] = s[e] < qn[e] ? s[e] : qn[e];
      px[e] = s[e] > qx[e] ? s[e] : qx[e];
    }
  }
  for (int32_t r = lines - 1; r >= 0; --r) {
    const uint8_t* s = src + r * stride;
    uint8_t* sn = sufMin + r * len;
    uint8_t* sx = sufMax + r * len;
    if (r % k == k - 1 || r == lines - 1) {
      std::memcpy(sn, s, size_t(len));
      std::memcpy(sx, s, size_t(len));
      continue;
    }
    const uint8_t* qn = sn + len;
    const uint8_t* qx = sx + len;
    for (int64_t e = 0; e < len; ++e) {
      sn[e] = s[e] < qn[e] ? s[e] : qn[e];
      sx[e] = s[e] > qx[e] ? s[e] : qx[e];
    }
  }
  for (int32_t r = 0; r < windows; ++r) {
    uint8_t* sn = sufMin + r * len;
    uint8_t* sx = sufMax + r * len;
    const uint8_t* pn = preMin + (r + k - 1) * len;
    const uint8_t* px = preMax + (r + k - 1) * len;
    for (int64_t e = 0; e < len; ++e) {
      sn[e] = pn[e] < sn[e] ? pn[e] : sn[e];
      sx[e] = px[e] > sx[e] ? px[e] : sx[e];
    }
  }
}

// Extremes of windows of k elements along lines by doubling: after the pass of width p every
// element holds the extreme of the p elements from it on, and two overlapping runs of p cover
// a window.  The passes run over all lines as one array (a window never reaches past its own
// line's end, so what a pass mixes across lines is never read); the arrays hold `total`
// elements plus k of slack, and the result lands in mn and mx.
QV_REGIONPLANE_CLONES void DoublingAlong(uint8_t* mn, uint8_t* mx, uint8_t* tmpMin, uint8_t* tmpMax, int64_t total,
                                         int64_t k) {
  int64_t p = 1;
  uint8_t* a = mn;
  uint8_t* b = mx;
  uint8_t* c = tmpMin;
  uint8_t* d = tmpMax;
  for (; 2 * p <= k; p *= 2) {
    for (int64_t e = 0; e < total; ++e) {
      c[e] = a[e + p] < a[e] ? a[e + p] : a[e];
      d[e] = b[e + p] > b[e] ? b[e + p] : b[e];
    }
    std::swap(a, c);
    std::swap(b, d);
  }
  const int64_t rest = k - p;
  for (int64_t e = 0; e < total; ++e) {
    c[e] = a[e + rest] < a[e] ? a[e + rest] : a[e];
    d[e] = b[e + rest] > b[e] ? b[e + rest] : b[e];
  }
  if (c != mn) {
    std::memcpy(mn, c, size_t(total));
    std::memcpy(mx, d, size_t(total));
  }
}

}  // namespace

int64_t WindowExtremesScratch(int32_t across, int32_t rows, int32_t tw, int32_t th, int32_t channels) {
  const int64_t len = (int64_t(across) + tw - 1) * channels, lines = int64_t(rows) + th - 1;
  const int64_t window = int64_t(tw) * channels;
  return 2 * lines * len + 2 * (lines * len + window) + 2 * (int64_t(rows) * len + window);
}

void WindowExtremes(const ComparePlane& img, int32_t px0, int32_t py0, int32_t across, int32_t rows, int32_t tw,
                    int32_t th, uint8_t* lo, uint8_t* hi, uint8_t* scratch) {
  const int32_t ch = img.Channels();
  const int64_t len = (int64_t(across) + tw - 1) * ch, window = int64_t(tw) * ch;
  const int32_t lines = rows + th - 1;
  const int64_t total = int64_t(rows) * len, all = int64_t(lines) * len;
  // Down the columns into suf's first rows, then along those rows as one array; each array the
  // doubling reads has `window` elements of defined slack after what it holds.
  uint8_t* preMin = scratch;
  uint8_t* preMax = preMin + all;
  uint8_t* sufMin = preMax + all;
  uint8_t* sufMax = sufMin + all + window;
  uint8_t* tmpMin = sufMax + all + window;
  uint8_t* tmpMax = tmpMin + total + window;
  SlidingLines(img.U8(px0, py0), img.stride, len, lines, th, rows, preMin, preMax, sufMin, sufMax);
  std::memset(sufMin + all, 0, size_t(window));
  std::memset(sufMax + all, 0, size_t(window));
  std::memset(tmpMin + total, 0, size_t(window));
  std::memset(tmpMax + total, 0, size_t(window));
  DoublingAlong(sufMin, sufMax, tmpMin, tmpMax, total, window);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t k = 0; k < across; ++k) {
      lo[int64_t(r) * across + k] = sufMin[r * len + int64_t(k) * ch];
      hi[int64_t(r) * across + k] = sufMax[r * len + int64_t(k) * ch];
    }
}

namespace {

// Where the format stores and reads back every 8-bit level exactly, the stretch of (lo, hi)
// depends on hi - lo alone: level lo + d becomes nv(d) for d = 0 .. hi - lo.  Those stretches
// and their vector factors are made once for the process.
struct ExactStretches {
  uint8_t levels[256][256];  // [hi - lo][d]
  int32_t vector[256];
  uint16_t whole[256], fraction[256];
  ExactStretches() {
    for (int32_t n = 0; n < 256; ++n) {
      uint8_t table[256];
      StretchTable(0, uint8_t(n), nullptr, table);
      std::memcpy(levels[n], table, 256);
      vector[n] = 0;
      whole[n] = fraction[n] = 0;
      const double factor = n > 0 ? 255.0 / double(n) : 0.0;
      const int32_t w = int32_t(factor);
      const int64_t base = int64_t((factor - w) * 65536.0);
      for (int64_t f : {base, base + 1, base - 1}) {
        if (f < 0 || f > 65535) continue;
        int32_t ok = 1;
        for (int32_t d = 0; d <= n && ok; ++d) ok = d * w + ((d * f) >> 16) == table[d];
        if (ok) {
          vector[n] = 1;
          whole[n] = uint16_t(w);
          fraction[n] = uint16_t(f);
          break;
        }
      }
    }
  }
};

const ExactStretches& Exact() {
  static const ExactStretches stretches;
  return stretches;
}

}  // namespace

void NormaliseScratch::Use(CompareMode mode, uint8_t lo, uint8_t hi) {
  NormaliseScratch& s = *this;
  if (s.lastLo == lo && s.lastHi == hi) return;
  s.lastLo = lo;
  s.lastHi = hi;
  s.vector = 0;
  const int32_t exactBack = mode == CompareGray ? GrayBackExact(s.format) : s.rgbExact;
  if (!exactBack) {
    StretchTable(lo, hi, mode == CompareGray ? s.grayBack : nullptr, s.table);
    return;
  }
  // The table with its factors: d x whole + (d x fraction) >> 16 in 16-bit lanes, the
  // fraction taken from the double factor or a neighbour of it, used only when it gives every
  // entry of the range.
  const ExactStretches& e = Exact();
  const int32_t n = hi - lo;
  std::memcpy(s.table + lo, e.levels[n], size_t(n) + 1);
  std::memset(s.table, s.table[lo], lo);
  std::memset(s.table + hi + 1, s.table[hi], size_t(255 - hi));
  s.vector = e.vector[n];
  s.whole = e.whole[n];
  s.fraction = e.fraction[n];
}

void NormaliseScratch::StretchRows(CompareMode mode, const uint8_t* src, int64_t srcStride, int32_t w,
                                   int32_t rows, uint8_t* dst, int64_t dstStride) {
  TableRows(table, src, srcStride, w, rows, mode, *this, dst, dstStride);
}

int64_t StretchedSadU8(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl, uint8_t lo,
                       uint8_t hi, NormaliseScratch* scratch) {
  NormaliseScratch& s = *scratch;
  s.Use(tmpl.mode, lo, hi);
  const int32_t rowBytes = tmpl.w * tmpl.Channels();
  const uint8_t* a = img.U8(px, py);
  const uint8_t* b = tmpl.u8.Data();
  if (!s.vector) {
    // The table, with the format's R, G, B read-back where it is not exact.
    uint8_t* buf = s.buf.Data();
    for (int32_t j = 0; j < tmpl.h; ++j) {
      const uint8_t* src = a + j * img.stride;
      uint8_t* dst = buf + int64_t(j) * rowBytes;
      for (int32_t i = 0; i < rowBytes; ++i) dst[i] = s.table[src[i]];
      if (tmpl.mode == CompareRgb && !s.rgbExact)
        for (int32_t i = 0; i < tmpl.w; ++i) RgbBack(s.one, dst + 3 * i);
    }
    return SumAbsDiffU8(buf, rowBytes, b, tmpl.stride, rowBytes, tmpl.h);
  }
  int64_t total = 0;
#if defined(__SSE2__)
  const __m128i vlo = _mm_set1_epi8(char(lo)), zero = _mm_setzero_si128();
  const __m128i whole = _mm_set1_epi16(int16_t(s.whole)), fraction = _mm_set1_epi16(int16_t(s.fraction));
  __m128i acc = _mm_setzero_si128();
#endif
  for (int32_t j = 0; j < tmpl.h; ++j) {
    const uint8_t* p = a + j * img.stride;
    const uint8_t* q = b + j * tmpl.stride;
    int32_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= rowBytes; i += 16) {
      const __m128i d = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), vlo);
      const __m128i d0 = _mm_unpacklo_epi8(d, zero), d1 = _mm_unpackhi_epi8(d, zero);
      const __m128i t0 = _mm_add_epi16(_mm_mullo_epi16(d0, whole), _mm_mulhi_epu16(d0, fraction));
      const __m128i t1 = _mm_add_epi16(_mm_mullo_epi16(d1, whole), _mm_mulhi_epu16(d1, fraction));
      const __m128i t = _mm_packus_epi16(t0, t1);
      acc = _mm_add_epi64(acc, _mm_sad_epu8(t, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i))));
    }
#endif
    for (; i < rowBytes; ++i) total += std::abs(int32_t(s.table[p[i]]) - int32_t(q[i]));
  }
#if defined(__SSE2__)
  total += LaneSum(acc);
#endif
  return total;
}

double ScoreFromSadU8(CompareMode mode, int64_t sad, int32_t w, int32_t h) {
  const double n = double(w) * double(h);
  const double sum = mode == CompareRgb ? double(sad) / 3.0 : double(sad);
  return sum / n / 255.0 * 100.0;
}

// ---- score ---------------------------------------------------------------------------------

double ScorePlanes(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl,
                   int32_t normalise, NormaliseScratch* scratch) {
  const double n = double(tmpl.w) * double(tmpl.h);
  if (tmpl.mode == CompareLab) {
    const double sum = SumLabDiff(img.Lab(px, py), img.stride, tmpl.lab.Data(), tmpl.stride, tmpl.w, tmpl.h);
    return sum / 3.0 * 255.0 / n / 255.0 * 100.0;
  }
  const int32_t rowBytes = tmpl.w * tmpl.Channels();
  int64_t sad;
  if (normalise) {
    StretchU8(img.U8(px, py), img.stride, tmpl.w, tmpl.h, tmpl.mode, *scratch, scratch->buf.Data(), rowBytes);
    sad = SumAbsDiffU8(scratch->buf.Data(), rowBytes, tmpl.u8.Data(), tmpl.stride, rowBytes, tmpl.h);
  } else {
    sad = SumAbsDiffU8(img.U8(px, py), img.stride, tmpl.u8.Data(), tmpl.stride, rowBytes, tmpl.h);
  }
  return ScoreFromSadU8(tmpl.mode, sad, tmpl.w, tmpl.h);
}
