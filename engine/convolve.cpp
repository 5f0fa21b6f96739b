// convolve.cpp - ConvolveInt and ConvolveDouble, and the copy-and-stage frame of the window
// filters (the median lives in median.cpp).
// Each output row is split into an interior, where the window's columns are all inside and
// the row's weight sum is the same for every pixel, and the border columns, computed pixel by
// pixel with their own shrunken window.  The interior accumulates one kernel entry at a time
// over the whole span of samples (gray or interleaved R, G, B alike: a neighbour column is
// `channels` samples away), which the compiler turns into vector code.  A kernel that is the
// product of a column and a row of integers (binomial, box, Sobel) runs its interior as a
// row pass, kept for the kernel's height of rows, and a column pass over those: the same
// integer sums in another order, so the same results.
// An 8-bit picture under a kernel whose window sums span fewer than 2^16 values (255 times the
// sum of the absolute weights) sums in 16-bit lanes, twice as many a vector: the sums are
// kept modulo 2^16, which no wrap can spoil, and the true sum is the one value of its range
// with that residue.  Other kernels and depths sum in 32 or more bits.
// Inside: filter source - integer convolution - 16-bit sums - double convolution
#include "engine/convolve.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "engine/neighbourhood.h"
#include "engine/quotient.h"
#include "engine/simd.h"

// ---- filter source -------------------------------------------------------------------------

namespace {

int32_t RgbFormatOfClass(int32_t format) {
  switch (FormatClassBits(format)) {
    case 8: return 4;
    case 16: return 5;
    case 32: return 6;
    default: return 0;
  }
}

struct StageJob {
  const C_ImgBuff* from;
  C_ImgBuff* to;
  int32_t width;
  int32_t bits;
  int32_t toX0, toY0;  // StoreStaged: where staged (0, 0) lands in the caller's picture
  const uint8_t* rowDone;
};

// Crop of a format 7..9 picture -> R, G, B picture of the class, through the getters.
void StageRows(void* ctx, uint64_t first, uint64_t count) {
  const StageJob& j = *static_cast<const StageJob*>(ctx);
  for (int32_t y = int32_t(first); y < int32_t(first + count); ++y) {
    for (int32_t x = 0; x < j.width; ++x) {
      if (j.bits == 8) {
        uint8_t* p = RowPtr<uint8_t>(j.to, x, y);
        j.from->GetRGB8(x, y, p, p + 1, p + 2);
      } else if (j.bits == 16) {
        uint16_t* p = RowPtr<uint16_t>(j.to, x, y);
        j.from->GetRGB16(x, y, p, p + 1, p + 2);
      } else {
        uint32_t* p = RowPtr<uint32_t>(j.to, x, y);
        j.from->GetRGB32(x, y, p, p + 1, p + 2);
      }
    }
  }
}

void UnstageRows(void* ctx, uint64_t first, uint64_t count) {
  const StageJob& j = *static_cast<const StageJob*>(ctx);
  for (int32_t y = int32_t(first); y < int32_t(first + count); ++y) {
    if (j.rowDone && !j.rowDone[y]) continue;
    for (int32_t x = 0; x < j.width; ++x) {
      if (j.bits == 8) {
        const uint8_t* p = RowPtr<const uint8_t>(j.from, x, y);
        j.to->SetRGB8(j.toX0 + x, j.toY0 + y, p[0], p[1], p[2]);
      } else if (j.bits == 16) {
        const uint16_t* p = RowPtr<const uint16_t>(j.from, x, y);
        j.to->SetRGB16(j.toX0 + x, j.toY0 + y, p[0], p[1], p[2]);
      } else {
        const uint32_t* p = RowPtr<const uint32_t>(j.from, x, y);
        j.to->SetRGB32(j.toX0 + x, j.toY0 + y, p[0], p[1], p[2]);
      }
    }
  }
}

}  // namespace

int32_t PrepareFilterSource(CImgBuff* img, const RoiRect& r, FilterSource* fs) {
  if (!img->Crop(fs->copy, r.x0, r.y0, r.x1, r.y1)) return 0;
  const int32_t format = img->Format();
  fs->isStaged = !IsTypedFormat(format);
  if (!fs->isStaged) {
    fs->format = format;
    fs->channels = IsGrayFormat(format) ? 1 : 3;
    fs->dest = img->record;
    fs->destX0 = r.x0;
    fs->destY0 = r.y0;
    return 1;
  }
  // Formats 7..9 are filtered as their R, G, B: raw XYZ doubles or HSV / CMYK samples are
  // not intensities, and filtering them would store nonsense (or broken doubles).
  const int32_t w = fs->copy.Width(), h = fs->copy.Height();
  CImgBuff rgb;
  if (!rgb.Allocate(w, h, RgbFormatOfClass(format))) return 0;
  if (!fs->staged.Allocate(w, h, rgb.Format())) return 0;
  StageJob job{fs->copy.record, rgb.record, w, FormatClassBits(format), 0, 0, nullptr};
  RunRows(StageRows, &job, RoiRect{0, 0, w - 1, h - 1});
  fs->copy.CopyFrom(rgb);
  if (!fs->copy.Pixels()) return 0;
  fs->format = rgb.Format();
  fs->channels = 3;
  fs->dest = fs->staged.record;
  fs->destX0 = 0;
  fs->destY0 = 0;
  return 1;
}

void StoreStagedResults(CImgBuff* img, const RoiRect& r, const FilterSource& fs,
                        const uint8_t* rowDone) {
  if (!fs.isStaged) return;
  const int32_t w = fs.staged.Width(), h = fs.staged.Height();
  StageJob job{fs.staged.record, img->record, w, FormatClassBits(img->Format()), r.x0, r.y0,
               rowDone};
  RunRows(UnstageRows, &job, RoiRect{0, 0, w - 1, h - 1});
}

// ---- integer convolution -------------------------------------------------------------------

namespace {

struct KernelEntry {
  int32_t j, i;  // kernel row and column
  int32_t w;
};

struct ConvIntJob {
  const FilterSource* fs;
  const int32_t* colWeights;  // separable kernels: weight of kernel row j, else null
  const int32_t* rowWeights;  // separable kernels: weight of kernel column i
  const KernelEntry* entries;
  const int32_t* rowStart;  // [size + 1]: first entry of kernel row j
  const int64_t* rowWeightPrefix;  // [size + 1]: sum of the weights of kernel rows < j
  int32_t size, r;
  int32_t autoDiv;
  int64_t divisor;
  int32_t wc, hc;  // copy size
  // 16-bit sums: the lowest window sum (255 times the sum of the negative weights), and the
  // weights modulo 2^16 of the separable passes.
  int32_t lo16;
  const uint16_t* colWeights16;
  const uint16_t* rowWeights16;
};

// Sum types: Acc holds a window's sum, Prod one product.  Chosen per call from the sum of the
// absolute weights times the format maximum, so no sum can overflow.
template <class Acc> struct ProdOf { typedef int64_t type; };
template <> struct ProdOf<int32_t> { typedef int32_t type; };
// 16-bit sums are kept modulo 2^16: products in unsigned 32 bits, where a wrap is defined.
template <> struct ProdOf<uint16_t> { typedef uint32_t type; };

// 0 for a sum <= 0 (a positive divisor keeps the sign), else min(maximum, sum / d).
template <class Acc>
inline uint32_t FinishSum(Acc s, int64_t d, uint32_t maxv) {
  if (s <= 0) return 0;
  const Acc q = s / Acc(d);
  return q > Acc(maxv) ? maxv : uint32_t(q);
}

// The interior's finish for 32-bit sums, exact and free of scalar divisions.
template <class T>
struct FinishRowI32 {
  static QV_KERNEL_BODY void Run(const int32_t* __restrict acc, T* __restrict out, int64_t n, int64_t d,
                                 uint32_t maxv) {
    if (d == 1) {
      for (int64_t k = 0; k < n; ++k) {
        const int32_t s = acc[k];
        out[k] = T(s <= 0 ? 0u : (uint32_t(s) > maxv ? maxv : uint32_t(s)));
      }
      return;
    }
    const CappedQuotient finish(d, maxv);
    for (int64_t k = 0; k < n; ++k) out[k] = T(finish(acc[k]));
  }
};

template <class T, class Acc>
void FinishRow(const Acc* acc, T* out, int64_t n, int64_t d, uint32_t maxv) {
  if constexpr (sizeof(Acc) == 4 && sizeof(T) <= 2) {
    RunKernel<FinishRowI32<T>>(acc, out, n, d, maxv);
  } else {
    for (int64_t k = 0; k < n; ++k) out[k] = T(FinishSum<Acc>(acc[k], d, maxv));
  }
}

// One kernel entry over the interior span.  restrict: the 8-bit source could otherwise alias
// the sums and keep the loop scalar.
template <class T, class Acc, class Prod>
struct AccumulateSpanKernel {
  static QV_KERNEL_BODY void Run(Acc* __restrict acc, const T* __restrict s, Prod w, int64_t n) {
    for (int64_t k = 0; k < n; ++k) acc[k] = Acc(acc[k] + Acc(w * Prod(s[k])));
  }
};
template <class T, class Acc, class Prod>
void AccumulateSpan(Acc* acc, const T* s, Prod w, int64_t n) {
  RunKernel<AccumulateSpanKernel<T, Acc, Prod>>(acc, s, w, n);
}

// ---- 16-bit sums ----
// 8-bit samples under small kernels: every sum is kept modulo 2^16 (uint16_t arithmetic
// wraps, and a wrap changes no residue), the weights too.  A window's true sum lies in
// lo .. lo + 65535 (lo = 255 times the sum of its negative weights, at least the kernel's),
// so the residue of sum - lo is sum - lo itself.

// Sums never below 0 divided by 2^shift: a shift and the cap (the binomial kernels, whose
// weight sums are powers of two, and every undivided sum).
struct FinishShift16 {
  static QV_KERNEL_BODY void Run(const uint16_t* __restrict acc, uint8_t* __restrict out, int64_t n, int32_t shift) {
    for (int64_t k = 0; k < n; ++k) {
      const uint32_t q = uint32_t(acc[k]) >> shift;
      out[k] = uint8_t(q > 255u ? 255u : q);
    }
  }
};

// Any lowest sum and divisor: the true sum, then the 32-bit finish.
struct FinishDivide16 {
  static QV_KERNEL_BODY void Run(const uint16_t* __restrict acc, uint8_t* __restrict out, int64_t n, int32_t lo,
                                 CappedQuotient finish) {
    for (int64_t k = 0; k < n; ++k) out[k] = uint8_t(finish(int32_t(uint16_t(acc[k] - lo)) + lo));
  }
};

void FinishRow16(const uint16_t* acc, uint8_t* out, int64_t n, int64_t d, int32_t lo) {
  if (lo == 0 && (d & (d - 1)) == 0) {
    int32_t shift = 0;
    while ((int64_t(1) << shift) < d) ++shift;
    RunKernel<FinishShift16>(acc, out, n, shift);
  } else {
    RunKernel<FinishDivide16>(acc, out, n, lo, CappedQuotient(d, 255));
  }
}

// Columns 0 .. xa - 1 and xb .. wc - 1 of row y, each with its own shrunken window; src(t)
// gives source row t of the rectangle.
template <class T, class Acc, class SrcRow>
void ConvIntBorderRowFrom(const ConvIntJob& job, int32_t y, int32_t xa, int32_t xb, SrcRow src) {
  typedef typename ProdOf<Acc>::type Prod;
  const FilterSource& fs = *job.fs;
  const int32_t ch = fs.channels, r = job.r, wc = job.wc, hc = job.hc;
  const uint32_t maxv = T(~T(0));
  const int32_t jlo = r - y > 0 ? r - y : 0;
  const int32_t jhi = (hc - 1 - y + r) < job.size - 1 ? (hc - 1 - y + r) : job.size - 1;
  const int32_t e0 = job.rowStart[jlo], e1 = job.rowStart[jhi + 1];
  T* out = FilterDestRow<T>(fs, y);
  for (int32_t x = 0; x < wc; ++x) {
    if (x == xa) x = xb;
    if (x >= wc) break;
    Acc sum[3] = {0, 0, 0};
    int64_t wsum = 0;
    for (int32_t e = e0; e < e1; ++e) {
      const KernelEntry& ke = job.entries[e];
      const int32_t u = x + ke.i - r;
      if (u < 0 || u >= wc) continue;
      const T* s = src(y + ke.j - r) + int64_t(u) * ch;
      for (int32_t c = 0; c < ch; ++c) sum[c] += Acc(Prod(ke.w) * Prod(s[c]));
      wsum += ke.w;
    }
    const int64_t d = job.autoDiv ? (wsum > 1 ? wsum : 1) : job.divisor;
    for (int32_t c = 0; c < ch; ++c) out[int64_t(x) * ch + c] = T(FinishSum<Acc>(sum[c], d, maxv));
  }
}

template <class T, class Acc>
void ConvIntBorderRow(const ConvIntJob& job, int32_t y, int32_t xa, int32_t xb) {
  const FilterSource& fs = *job.fs;
  ConvIntBorderRowFrom<T, Acc>(job, y, xa, xb, [&fs](int32_t t) { return FilterSrcRow<T>(fs, t); });
}

// Acc uint16_t: the 16-bit sums of 8-bit samples (the border columns sum in 32 bits).
template <class T, class Acc>
void ConvIntRowsT(const ConvIntJob& job, int32_t yb, int32_t ye) {
  constexpr bool lanes16 = std::is_same_v<Acc, uint16_t>;
  typedef typename ProdOf<Acc>::type Prod;
  typedef std::conditional_t<lanes16, int32_t, Acc> BorderAcc;
  const FilterSource& fs = *job.fs;
  const int32_t ch = fs.channels, r = job.r, wc = job.wc, hc = job.hc;
  const uint32_t maxv = T(~T(0));
  // The interior: columns whose window lies inside horizontally.
  const int32_t xa = r, xb = wc - 1 - r;
  const int64_t span = xa <= xb ? int64_t(xb - xa + 1) * ch : 0;
  Acc* acc = span ? static_cast<Acc*>(std::malloc(size_t(span) * sizeof(Acc))) : nullptr;
  const int32_t xEnd = acc ? xa : wc;  // without a buffer every column goes the slow way
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t jlo = r - y > 0 ? r - y : 0;
    const int32_t jhi = (hc - 1 - y + r) < job.size - 1 ? (hc - 1 - y + r) : job.size - 1;
    const int32_t e0 = job.rowStart[jlo], e1 = job.rowStart[jhi + 1];
    T* out = FilterDestRow<T>(fs, y);
    if (acc) {
      std::memset(acc, 0, size_t(span) * sizeof(Acc));
      for (int32_t e = e0; e < e1; ++e) {
        const KernelEntry& ke = job.entries[e];
        const T* s = FilterSrcRow<T>(fs, y + ke.j - r) + int64_t(ke.i) * ch;
        AccumulateSpan<T, Acc, Prod>(acc, s, Prod(ke.w), span);
      }
      const int64_t wsum = job.rowWeightPrefix[jhi + 1] - job.rowWeightPrefix[jlo];
      const int64_t d = job.autoDiv ? (wsum > 1 ? wsum : 1) : job.divisor;
      if constexpr (lanes16) FinishRow16(acc, out + int64_t(xa) * ch, span, d, job.lo16);
      else FinishRow<T, Acc>(acc, out + int64_t(xa) * ch, span, d, maxv);
    }
    // Border columns (all columns when the window is wider than the rectangle).
    ConvIntBorderRow<T, BorderAcc>(job, y, acc ? xEnd : wc, xb + 1);
  }
  std::free(acc);
}

// ---- separable kernels ----
// A kernel col[j] x row[i] runs band by band.  Each source row goes once through the row
// weights into a ring of the kernel's height, and each output row is the column-weighted
// sum of its ring rows (only for 32-bit sums: a row sum is bounded by the whole kernel's
// absolute sum).  Gray and R, G, B pictures are filtered where they lie, without a copy: a
// band reads each row of its own r rows before its output reaches that row, and the r rows
// on either side of a band, which its neighbours overwrite, are saved before the bands
// start.  The rows a band has read stay in a second ring for the border columns' windows.

// N weights over N sources in one pass, the partial sums kept in registers rather than
// taken through memory N times: the row pass (sources CH samples apart) and the column pass
// (N rows of row sums) of the common kernel sizes.  S is the sums' type, int32_t or the
// 16-bit residues; W its products' (see ProdOf).
template <class T, class S, int N, int CH>
struct RowPassN {
  typedef typename ProdOf<S>::type W;
  static QV_KERNEL_BODY void Run(const T* __restrict s, const S* __restrict weights, S* __restrict h, int64_t n) {
    W w[N];
    for (int i = 0; i < N; ++i) w[i] = W(weights[i]);
    for (int64_t k = 0; k < n; ++k) {
      W sum = 0;
      for (int i = 0; i < N; ++i) sum += w[i] * W(s[k + i * CH]);
      h[k] = S(sum);
    }
  }
};

template <class S, int N>
struct ColumnPassN {
  typedef typename ProdOf<S>::type W;
  static QV_KERNEL_BODY void Run(const S* const* rows, const S* __restrict weights, S* __restrict acc, int64_t n) {
    const S* r[N];
    W w[N];
    for (int i = 0; i < N; ++i) r[i] = rows[i], w[i] = W(weights[i]);
    for (int64_t k = 0; k < n; ++k) {
      W sum = 0;
      for (int i = 0; i < N; ++i) sum += w[i] * W(r[i][k]);
      acc[k] = S(sum);
    }
  }
};

// 1 when a fused pass of this size did the row.
template <class T, class S>
int32_t RowPass(const T* s, int32_t ch, int32_t n, const S* w, S* h, int64_t span) {
  switch (n * 4 + (ch == 3 ? 1 : 0)) {
    case 3 * 4: RunKernel<RowPassN<T, S, 3, 1>>(s, w, h, span); return 1;
    case 3 * 4 + 1: RunKernel<RowPassN<T, S, 3, 3>>(s, w, h, span); return 1;
    case 5 * 4: RunKernel<RowPassN<T, S, 5, 1>>(s, w, h, span); return 1;
    case 5 * 4 + 1: RunKernel<RowPassN<T, S, 5, 3>>(s, w, h, span); return 1;
    case 7 * 4: RunKernel<RowPassN<T, S, 7, 1>>(s, w, h, span); return 1;
    case 7 * 4 + 1: RunKernel<RowPassN<T, S, 7, 3>>(s, w, h, span); return 1;
    case 9 * 4: RunKernel<RowPassN<T, S, 9, 1>>(s, w, h, span); return 1;
    case 9 * 4 + 1: RunKernel<RowPassN<T, S, 9, 3>>(s, w, h, span); return 1;
    default: return 0;
  }
}

template <class S>
int32_t ColumnPass(const S* const* rows, int32_t n, const S* w, S* acc, int64_t span) {
  switch (n) {
    case 3: RunKernel<ColumnPassN<S, 3>>(rows, w, acc, span); return 1;
    case 5: RunKernel<ColumnPassN<S, 5>>(rows, w, acc, span); return 1;
    case 7: RunKernel<ColumnPassN<S, 7>>(rows, w, acc, span); return 1;
    case 9: RunKernel<ColumnPassN<S, 9>>(rows, w, acc, span); return 1;
    default: return 0;
  }
}

struct SplitBandsJob {
  const ConvIntJob* job;
  int32_t bands;
  const uint8_t* halo;  // per inner band boundary: rows (top - r) .. (top + r - 1)
  uint8_t* scratch;     // perBand bytes for each band
  size_t perBand;
  int64_t rowBytes;
};

inline int32_t BandTop(int32_t hc, int32_t bands, int32_t b) { return int32_t(int64_t(hc) * b / bands); }

// S: the sums' type, int32_t, or uint16_t for the 16-bit sums of 8-bit samples.
template <class T, class S>
void ConvIntBandSeparable(const SplitBandsJob& sj, int32_t band) {
  constexpr bool lanes16 = std::is_same_v<S, uint16_t>;
  typedef typename ProdOf<S>::type W;
  const S* colWeights;
  const S* rowWeights;
  if constexpr (lanes16) colWeights = sj.job->colWeights16, rowWeights = sj.job->rowWeights16;
  else colWeights = sj.job->colWeights, rowWeights = sj.job->rowWeights;
  const ConvIntJob& job = *sj.job;
  const FilterSource& fs = *job.fs;
  const int32_t ch = fs.channels, r = job.r, n = job.size, wc = job.wc, hc = job.hc;
  const int32_t yb = BandTop(hc, sj.bands, band), ye = BandTop(hc, sj.bands, band + 1);
  const uint32_t maxv = T(~T(0));
  const int32_t xa = r, xb = wc - 1 - r;
  const int64_t span = int64_t(xb - xa + 1) * ch;
  const bool copied = fs.copy.Pixels() != nullptr;
  // Row t of the rectangle as it was before the filter.
  auto source = [&](int32_t t) -> const T* {
    if (copied) return FilterSrcRow<T>(fs, t);
    if (t < yb) return reinterpret_cast<const T*>(sj.halo + (int64_t(band - 1) * 2 * r + (t - (yb - r))) * sj.rowBytes);
    if (t >= ye) return reinterpret_cast<const T*>(sj.halo + (int64_t(band) * 2 * r + (t - (ye - r))) * sj.rowBytes);
    return FilterDestRow<T>(fs, t);
  };
  uint8_t* block = sj.scratch + sj.perBand * size_t(band);
  S* ring = reinterpret_cast<S*>(block);
  S* acc = ring + span * n;
  uint8_t* kept = block + size_t(span) * size_t(n + 1) * sizeof(int32_t);
  auto keptRow = [&](int32_t t) { return reinterpret_cast<const T*>(kept + int64_t(t % n) * sj.rowBytes); };
  int32_t next = yb - r > 0 ? yb - r : 0;  // next source row to pass through the row weights
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t last = y + r < hc - 1 ? y + r : hc - 1;
    for (; next <= last; ++next) {
      T* keep = reinterpret_cast<T*>(kept + int64_t(next % n) * sj.rowBytes);
      std::memcpy(keep, source(next), size_t(sj.rowBytes));
      S* h = ring + int64_t(next % n) * span;
      if (RowPass<T, S>(keep, ch, n, rowWeights, h, span)) continue;
      std::memset(h, 0, size_t(span) * sizeof(S));
      for (int32_t i = 0; i < n; ++i)
        if (rowWeights[i]) AccumulateSpan<T, S, W>(h, keep + int64_t(i) * ch, W(rowWeights[i]), span);
    }
    const int32_t jlo = r - y > 0 ? r - y : 0;
    const int32_t jhi = (hc - 1 - y + r) < n - 1 ? (hc - 1 - y + r) : n - 1;
    const S* rows[9];
    for (int32_t j = 0; j < n && n <= 9; ++j) rows[j] = ring + int64_t((y + j - r + n) % n) * span;
    // Rows whose window is cut by the top or bottom take the general sum over their rows.
    if (jlo != 0 || jhi != n - 1 || !ColumnPass<S>(rows, n, colWeights, acc, span)) {
      std::memset(acc, 0, size_t(span) * sizeof(S));
      for (int32_t j = jlo; j <= jhi; ++j)
        if (colWeights[j])
          AccumulateSpan<S, S, W>(acc, ring + int64_t((y + j - r) % n) * span, W(colWeights[j]), span);
    }
    const int64_t wsum = job.rowWeightPrefix[jhi + 1] - job.rowWeightPrefix[jlo];
    const int64_t d = job.autoDiv ? (wsum > 1 ? wsum : 1) : job.divisor;
    T* out = FilterDestRow<T>(fs, y) + int64_t(xa) * ch;
    if constexpr (lanes16) FinishRow16(acc, out, span, d, job.lo16);
    else FinishRow<T, int32_t>(acc, out, span, d, maxv);
    // The border columns from the kept rows y - r .. y + r, which no write has touched.
    ConvIntBorderRowFrom<T, int32_t>(job, y, xa, xb + 1, keptRow);
  }
}

template <class T, class S>
void ConvIntBandsSplit(void* ctx, uint64_t first, uint64_t count) {
  const SplitBandsJob& sj = *static_cast<const SplitBandsJob*>(ctx);
  for (uint64_t b = first; b < first + count; ++b) ConvIntBandSeparable<T, S>(sj, int32_t(b));
}

template <class Acc>
void ConvIntRowsAcc(void* ctx, uint64_t first, uint64_t count) {
  const ConvIntJob& job = *static_cast<const ConvIntJob*>(ctx);
  const int32_t yb = int32_t(first), ye = int32_t(first + count);
  if constexpr (std::is_same_v<Acc, uint16_t>) {
    ConvIntRowsT<uint8_t, uint16_t>(job, yb, ye);
  } else {
    switch (FormatClassBits(job.fs->format)) {
      case 8: ConvIntRowsT<uint8_t, Acc>(job, yb, ye); break;
      case 16: ConvIntRowsT<uint16_t, Acc>(job, yb, ye); break;
      default: ConvIntRowsT<uint32_t, Acc>(job, yb, ye); break;
    }
  }
}

// The bands of a separable kernel: every band's scratch and the rows around the band
// boundaries are had before any band writes, so a refusal leaves the picture unchanged.
int32_t RunSplit(const ConvIntJob& job, int32_t sampleBytes) {
  const FilterSource& fs = *job.fs;
  const int32_t r = job.r, n = job.size, hc = job.hc;
  const int64_t rowBytes = int64_t(job.wc) * fs.channels * sampleBytes;
  const int64_t span = int64_t(job.wc - 2 * r) * fs.channels;
  // Bands of at least 64 rows: the r rows a band reads twice are then a small share.
  const bool copied = fs.copy.Pixels() != nullptr;
  int32_t bands = hc / 64;
  bands = bands < 1 ? 1 : (bands > 64 ? 64 : bands);
  // Rounded to a cache line: each band's sums start aligned, and bands do not share lines.
  const size_t perBand = (size_t(span) * size_t(n + 1) * sizeof(int32_t) + size_t(rowBytes) * size_t(n) + 63) / 64 * 64;
  const size_t haloBytes = copied ? 0 : size_t(bands - 1) * size_t(2 * r) * size_t(rowBytes);
  uint8_t* block = static_cast<uint8_t*>(std::malloc(perBand * size_t(bands) + haloBytes + 1));
  if (!block) return 0;
  uint8_t* halo = block + perBand * size_t(bands);
  for (int32_t b = 1; b < bands && !copied; ++b) {
    const int32_t top = BandTop(hc, bands, b);
    for (int32_t t = top - r; t < top + r; ++t) {
      if (t < 0 || t >= hc) continue;
      std::memcpy(halo + (int64_t(b - 1) * 2 * r + (t - (top - r))) * rowBytes,
                  RowPtr<uint8_t>(fs.dest, 0, fs.destY0 + t) + int64_t(fs.destX0) * fs.channels * sampleBytes,
                  size_t(rowBytes));
    }
  }
  SplitBandsJob sj{&job, bands, halo, block, perBand, rowBytes};
  const ParallelForFn fn = sampleBytes == 2        ? ConvIntBandsSplit<uint16_t, int32_t>
                           : job.rowWeights16 ? ConvIntBandsSplit<uint8_t, uint16_t>
                                              : ConvIntBandsSplit<uint8_t, int32_t>;
  if (int64_t(job.wc) * hc >= ParallelPixelThreshold) ParallelFor(fn, &sj, uint64_t(bands));
  else fn(&sj, 0, uint64_t(bands));
  std::free(block);
  return 1;
}

int64_t Gcd(int64_t a, int64_t b) {
  while (b != 0) {
    const int64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// 1 when kernel[j][i] = col[j] x row[i] for integer vectors (the row made coprime), else 0.
int32_t SplitKernel(const int32_t* kernel, int32_t n, std::vector<int32_t>* col, std::vector<int32_t>* row) {
  const auto at = [&](int32_t j, int32_t i) { return int64_t(kernel[int64_t(j) * n + i]); };
  int32_t j0 = -1, i0 = -1;
  for (int32_t j = 0; j < n && j0 < 0; ++j)
    for (int32_t i = 0; i < n; ++i)
      if (at(j, i) != 0) {
        j0 = j, i0 = i;
        break;
      }
  if (j0 < 0) return 0;
  int64_t g = 0;
  for (int32_t i = 0; i < n; ++i) g = Gcd(g, std::llabs(at(j0, i)));
  row->assign(size_t(n), 0);
  col->assign(size_t(n), 0);
  for (int32_t i = 0; i < n; ++i) (*row)[size_t(i)] = int32_t(at(j0, i) / g);
  const int64_t b0 = (*row)[size_t(i0)];
  for (int32_t j = 0; j < n; ++j) {
    if (at(j, i0) % b0 != 0) return 0;
    const int64_t a = at(j, i0) / b0;
    for (int32_t i = 0; i < n; ++i)
      if (a * (*row)[size_t(i)] != at(j, i)) return 0;
    (*col)[size_t(j)] = int32_t(a);
  }
  return 1;
}

}  // namespace

int32_t ConvolveInt(CImgBuff* img, uint64_t size, const int32_t* kernel, int32_t autoDiv,
                    int32_t divisor, const RoiRect* roi) {
  if (!img || !img->record || !kernel) return 0;
  // A kernel of 2^31 rows could not be held in memory; refusing keeps offsets in 32 bits.
  if (size == 0 || (size & 1) == 0 || size >= 0x80000000ull) return 0;
  if (!autoDiv && divisor <= 0) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  if (GetFormatSlot(img->Format()) == SlotNone || !img->Pixels()) return 0;

  // Only the entries that can meet a pixel of the rectangle matter: rows and columns further
  // than the rectangle's size from the centre never do.
  const int32_t n = int32_t(size), half = n / 2;
  const int64_t reachX = RoiWidth(r) - 1, reachY = RoiHeight(r) - 1;
  std::vector<KernelEntry> entries;
  std::vector<int32_t> rowStart(size_t(n) + 1, 0);
  std::vector<int64_t> rowPrefix(size_t(n) + 1, 0);
  int64_t absSum = 0;  // sum of |w| over the entries kept, saturated far below overflow
  int64_t negSum = 0;  // sum of the negative weights kept, likewise
  for (int32_t j = 0; j < n; ++j) {
    rowStart[j] = int32_t(entries.size());
    rowPrefix[j + 1] = rowPrefix[j];
    if (std::llabs(int64_t(j) - half) > reachY) continue;
    for (int32_t i = 0; i < n; ++i) {
      if (std::llabs(int64_t(i) - half) > reachX) continue;
      const int32_t w = kernel[uint64_t(j) * size + uint64_t(i)];
      if (w == 0) continue;
      entries.push_back(KernelEntry{j, i, w});
      rowPrefix[j + 1] += w;
      absSum += std::llabs(int64_t(w));
      if (absSum > (int64_t(1) << 62)) absSum = int64_t(1) << 62;
      if (w < 0 && negSum > -(int64_t(1) << 62)) negSum += w;
    }
  }
  rowStart[n] = int32_t(entries.size());

  // A kernel that splits runs as two 1-D passes; that needs every kernel entry (a rectangle
  // at least the kernel's size), samples of 8 or 16 bits and sums inside 32 bits.
  const int32_t wc = int32_t(RoiWidth(r)), hc = int32_t(RoiHeight(r));
  const uint64_t classMax = FormatClassMax(IsTypedFormat(img->Format()) ? img->Format() : RgbFormatOfClass(img->Format()));
  std::vector<int32_t> colWeights, rowWeights;
  const bool split = wc >= n && hc >= n && classMax <= 65535 && absSum <= int64_t(2147483647 / classMax) &&
                     SplitKernel(kernel, n, &colWeights, &rowWeights);

  FilterSource fs;
  if (split && IsTypedFormat(img->Format())) {
    // Filtered where it lies: no copy of the rectangle.
    fs.format = img->Format();
    fs.channels = IsGrayFormat(fs.format) ? 1 : 3;
    fs.isStaged = 0;
    fs.dest = img->record;
    fs.destX0 = r.x0;
    fs.destY0 = r.y0;
  } else if (!PrepareFilterSource(img, r, &fs)) {
    return 0;
  }
  // Every window sum of 8-bit samples lies within 255 x (the kernel's negative sum) and
  // 255 x (its positive sum), 255 x absSum apart: within 65535 the residue modulo 2^16 tells it.
  const uint64_t maxv = FormatClassMax(fs.format);
  const bool lanes16 = maxv == 255 && absSum <= 65535 / 255;
  ConvIntJob job{&fs, nullptr, nullptr, entries.data(), rowStart.data(), rowPrefix.data(), n, half,
                 autoDiv, autoDiv ? 1 : int64_t(divisor), wc, hc, lanes16 ? int32_t(255 * negSum) : 0, nullptr, nullptr};
  if (split) {
    job.colWeights = colWeights.data();
    job.rowWeights = rowWeights.data();
    std::vector<uint16_t> col16(colWeights.begin(), colWeights.end()), row16(rowWeights.begin(), rowWeights.end());
    if (lanes16) job.colWeights16 = col16.data(), job.rowWeights16 = row16.data();
    if (!RunSplit(job, maxv == 255 ? 1 : 2)) return 0;
    StoreStagedResults(img, r, fs);
    return 1;
  }
  ParallelForFn fn;
  if (lanes16) fn = ConvIntRowsAcc<uint16_t>;
  else if (absSum <= int64_t(2147483647 / maxv)) fn = ConvIntRowsAcc<int32_t>;
  else if (absSum <= int64_t(9223372036854775807ull / maxv)) fn = ConvIntRowsAcc<int64_t>;
  else fn = ConvIntRowsAcc<__int128>;  // 32-bit samples under huge weights
  RunRows(fn, &job, RoiRect{0, 0, job.wc - 1, job.hc - 1});
  StoreStagedResults(img, r, fs);
  return 1;
}

// ---- double convolution --------------------------------------------------------------------

namespace {

struct ConvDoubleJob {
  const FilterSource* fs;
  double k[9];
  int32_t wc, hc;
};

// The stored value: the maximum at or above it, 0 at or below 0 (NaN too), else truncated.
inline uint32_t StoreDouble(double v, uint32_t maxv) {
  if (v >= double(maxv)) return maxv;
  if (!(v > 0.0)) return 0;
  return uint32_t(v);
}

// Sums in kernel row-major order, the window's order, so every pixel rounds like the
// pixel-by-pixel definition; zero weights are skipped (adding 0.0 changes nothing).
template <class T>
void ConvDoubleRowsT(const ConvDoubleJob& job, int32_t yb, int32_t ye) {
  const FilterSource& fs = *job.fs;
  const int32_t ch = fs.channels, wc = job.wc, hc = job.hc;
  const uint32_t maxv = T(~T(0));
  const int64_t span = wc > 2 ? int64_t(wc - 2) * ch : 0;
  double* acc = span ? static_cast<double*>(std::malloc(size_t(span) * sizeof(double))) : nullptr;
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t jlo = y == 0 ? 1 : 0, jhi = y == hc - 1 ? 1 : 2;
    T* out = FilterDestRow<T>(fs, y);
    if (acc) {
      std::memset(acc, 0, size_t(span) * sizeof(double));
      double wsum = 0.0;
      for (int32_t j = jlo; j <= jhi; ++j) {
        const T* s = FilterSrcRow<T>(fs, y + j - 1);
        for (int32_t i = 0; i < 3; ++i) {
          const double w = job.k[j * 3 + i];
          wsum += w;
          if (w == 0.0) continue;
          const T* si = s + int64_t(i) * ch;
          for (int64_t k = 0; k < span; ++k) acc[k] += double(si[k]) * w;
        }
      }
      const double div = wsum < 1.0 ? 1.0 : wsum;
      T* o = out + ch;
      for (int64_t k = 0; k < span; ++k) o[k] = T(StoreDouble(acc[k] / div, maxv));
    }
    for (int32_t x = 0; x < wc; ++x) {
      if (acc && x == 1) x = wc - 1;
      double sum[3] = {0.0, 0.0, 0.0};
      double wsum = 0.0;
      for (int32_t j = jlo; j <= jhi; ++j) {
        for (int32_t i = 0; i < 3; ++i) {
          const int32_t u = x + i - 1;
          if (u < 0 || u >= wc) continue;
          const double w = job.k[j * 3 + i];
          wsum += w;
          if (w == 0.0) continue;
          const T* s = FilterSrcRow<T>(fs, y + j - 1) + int64_t(u) * ch;
          for (int32_t c = 0; c < ch; ++c) sum[c] += double(s[c]) * w;
        }
      }
      const double div = wsum < 1.0 ? 1.0 : wsum;
      for (int32_t c = 0; c < ch; ++c) out[int64_t(x) * ch + c] = T(StoreDouble(sum[c] / div, maxv));
    }
  }
  std::free(acc);
}

void ConvDoubleRows(void* ctx, uint64_t first, uint64_t count) {
  const ConvDoubleJob& job = *static_cast<const ConvDoubleJob*>(ctx);
  const int32_t yb = int32_t(first), ye = int32_t(first + count);
  switch (FormatClassBits(job.fs->format)) {
    case 8: ConvDoubleRowsT<uint8_t>(job, yb, ye); break;
    case 16: ConvDoubleRowsT<uint16_t>(job, yb, ye); break;
    default: ConvDoubleRowsT<uint32_t>(job, yb, ye); break;
  }
}

}  // namespace

int32_t ConvolveDouble(CImgBuff* img, const void* reserved, const double* kernel) {
  (void)reserved;  // the whole picture is always filtered
  if (!img || !img->record || !kernel) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, nullptr)) return 0;
  if (!img->Pixels()) return 0;
  FilterSource fs;
  if (!PrepareFilterSource(img, r, &fs)) return 0;
  ConvDoubleJob job;
  job.fs = &fs;
  std::memcpy(job.k, kernel, sizeof(job.k));
  job.wc = fs.copy.Width();
  job.hc = fs.copy.Height();
  RunRows(ConvDoubleRows, &job, RoiRect{0, 0, job.wc - 1, job.hc - 1});
  StoreStagedResults(img, r, fs);
  return 1;
}
