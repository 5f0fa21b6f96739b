// fft_core.cpp - radix-2 complex FFT kernels on separate real and imaginary arrays of doubles,
// the 2-D transform of power-of-two planes, transposition, quadrant swap, power and log scale.
// Decimation in frequency, butterflies in place, bit reversal after the last stage.  Each
// element sees the same additions and products as the plain algorithm, in the same order,
// so the results equal it bit for bit; what is faster is only where the numbers come from:
// twiddles computed once per length and call, and column passes run on strips of columns
// (a cache-sized copy, butterflies across the strip) instead of two full transpositions.
// Inside: twiddle plans - butterflies - 1-D - 2-D rows and column strips - transpose, shift,
// power, log scale
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/fft.h"
#include "engine/simd.h"

// The butterflies are compute bound: wider vectors where the processor has them, chosen once
// at load time.  AVX2 without FMA, so no product and sum are fused and every result stays
// that of the plain algorithm.
#define QV_FFT_CLONES QV_AVX2_CLONES

namespace {

constexpr double kPi = 3.14159265358979323846;

// Loops this short run on the calling thread: waking the pool costs more.
constexpr uint64_t kInlineElements = 16384;

inline int32_t IsPow2(uint64_t n) { return n != 0 && (n & (n - 1)) == 0; }
inline uint32_t Log2(uint64_t n) {
  uint32_t b = 0;
  while ((uint64_t(1) << b) < n) ++b;
  return b;
}

void RunItems(ParallelForFn fn, void* ctx, uint64_t n, uint64_t itemCost) {
  if (n < 2 || n * itemCost < kInlineElements) {
    if (n) fn(ctx, 0, n);
    return;
  }
  ParallelFor(fn, ctx, n);
}

// ---- twiddle plans -------------------------------------------------------------------------

// sin(2 pi i / 4096) and cos(2 pi i / 4096), pair i at [2i], [2i + 1].
const double* TwiddleTable4096() {
  static const double* table = [] {
    static double t[8192];
    for (int i = 0; i < 4096; ++i) {
      t[2 * i] = std::sin(2.0 * kPi * i / 4096.0);
      t[2 * i + 1] = std::cos(2.0 * kPi * i / 4096.0);
    }
    return t;
  }();
  return table;
}

// One length's twiddles for every stage, each stage's run contiguous so the butterflies read
// them in step: the stage of span m holds k = 0 .. m/2 - 1 at [n - m, n - m/2).  The angle of
// (k, m) is sign x 2 pi x k / m; for the stage of span m / 2^j the same angle, to the last bit,
// is that of (k x 2^j, m) (scaling by powers of two is exact), so the first stage's values are
// computed and the others copied with a stride.  The bit reversal of every index follows.
struct FftPlan {
  uint64_t n;
  int32_t sign;
  double* c;
  double* s;
  uint32_t* rev;
  void* block;
};

void FreePlan(FftPlan* p) {
  std::free(p->block);
  p->block = nullptr;
}

int32_t MakePlan(FftPlan* p, uint64_t n, int32_t sign, int32_t tableFlag) {
  p->n = n;
  p->sign = sign;
  p->block = nullptr;
  const uint64_t bytes = n * (2 * sizeof(double) + sizeof(uint32_t));
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) return 0;
  p->block = block;
  p->c = static_cast<double*>(block);
  p->s = p->c + n;
  p->rev = reinterpret_cast<uint32_t*>(p->s + n);
  const uint64_t half = n / 2;
  const int32_t fromTable = tableFlag && n <= 4096;
  const double* table = fromTable ? TwiddleTable4096() : nullptr;
  for (uint64_t k = 0; k < half; ++k) {
    if (fromTable) {
      // Pair (k x s) mod 4096 with s = sign x 4096 / n, on the low 12 bits.
      const int64_t step = int64_t(sign) * int64_t(4096 / n);
      const uint64_t i = uint64_t(int64_t(k) * step) & 4095u;
      p->s[k] = table[2 * i];
      p->c[k] = table[2 * i + 1];
    } else {
      const double theta = double(sign) * 2.0 * kPi * double(k) / double(n);
      p->s[k] = std::sin(theta);
      p->c[k] = std::cos(theta);
    }
  }
  for (uint64_t m = half, stride = 2; m >= 2; m /= 2, stride *= 2) {
    double* cs = p->c + (n - m);
    double* ss = p->s + (n - m);
    for (uint64_t k = 0; k < m / 2; ++k) {
      cs[k] = p->c[k * stride];
      ss[k] = p->s[k * stride];
    }
  }
  const uint32_t bits = Log2(n);
  for (uint64_t k = 0; k < n; ++k) {
    uint64_t r = 0, v = k;
    for (uint32_t b = 0; b < bits; ++b, v >>= 1) r = (r << 1) | (v & 1);
    p->rev[k] = uint32_t(r);
  }
  return 1;
}

// ---- butterflies ---------------------------------------------------------------------------

// One run of butterflies sharing nothing but their twiddles: j in (rj, ij), l in (rl, il).
inline void ButterflyRun(double* __restrict rj, double* __restrict ij, double* __restrict rl,
                         double* __restrict il, const double* __restrict c,
                         const double* __restrict s, uint64_t count) {
  for (uint64_t k = 0; k < count; ++k) {
    const double dr = rj[k] - rl[k];
    const double di = ij[k] - il[k];
    rj[k] = rj[k] + rl[k];
    ij[k] = ij[k] + il[k];
    rl[k] = dr * c[k] - di * s[k];
    il[k] = dr * s[k] + di * c[k];
  }
}

// The same butterfly for `count` columns side by side with one twiddle (column passes).
inline void ButterflyCols(double* __restrict rj, double* __restrict ij, double* __restrict rl,
                          double* __restrict il, double c, double s, uint64_t count) {
  for (uint64_t k = 0; k < count; ++k) {
    const double dr = rj[k] - rl[k];
    const double di = ij[k] - il[k];
    rj[k] = rj[k] + rl[k];
    ij[k] = ij[k] + il[k];
    rl[k] = dr * c - di * s;
    il[k] = dr * s + di * c;
  }
}

// ---- 1-D -----------------------------------------------------------------------------------

QV_FFT_CLONES void FftWithPlan(const FftPlan& p, double* re, double* im) {
  const uint64_t n = p.n;
  for (uint64_t m = n; m >= 2; m /= 2) {
    const uint64_t half = m / 2;
    const double* c = p.c + (n - m);
    const double* s = p.s + (n - m);
    if (half == 1) {
      const double c0 = c[0], s0 = s[0];
      for (uint64_t b = 0; b < n; b += 2) ButterflyCols(re + b, im + b, re + b + 1, im + b + 1, c0, s0, 1);
    } else {
      for (uint64_t b = 0; b < n; b += m) ButterflyRun(re + b, im + b, re + b + half, im + b + half, c, s, half);
    }
  }
  for (uint64_t k = 0; k < n; ++k) {
    const uint64_t r = p.rev[k];
    if (r > k) {
      std::swap(re[k], re[r]);
      std::swap(im[k], im[r]);
    }
  }
  if (p.sign >= 1) {
    const double dn = double(n);
    for (uint64_t k = 0; k < n; ++k) {
      re[k] = re[k] / dn;
      im[k] = im[k] / dn;
    }
  }
}

// ---- 2-D -----------------------------------------------------------------------------------

// Columns of a strip go through a buffer of kStrip doubles per row: one cache line, so the
// copy in and out reads whole lines, and the butterflies run across the strip in vector width.
constexpr uint64_t kStrip = 16;

struct Fft2DJob {
  double* re;
  double* im;
  uint64_t w, h;
  const FftPlan* rowPlan;
  const FftPlan* colPlan;
  std::atomic<int32_t> failed;
};

void RowPassPiece(void* ctx, uint64_t first, uint64_t count) {
  Fft2DJob* j = static_cast<Fft2DJob*>(ctx);
  for (uint64_t r = first; r < first + count; ++r) FftWithPlan(*j->rowPlan, j->re + r * j->w, j->im + r * j->w);
}

// Strips first .. first + count - 1, strip i covering columns i x kStrip onwards.
QV_FFT_CLONES void ColumnPassPiece(void* ctx, uint64_t first, uint64_t count) {
  Fft2DJob* j = static_cast<Fft2DJob*>(ctx);
  const uint64_t w = j->w, h = j->h;
  const uint64_t sw = w < kStrip ? w : kStrip;
  double* buf = static_cast<double*>(std::aligned_alloc(64, ((2 * h * sw * sizeof(double)) + 63) / 64 * 64));
  if (!buf) {
    j->failed.store(1, std::memory_order_relaxed);
    return;
  }
  double* br = buf;
  double* bi = buf + h * sw;
  const FftPlan& p = *j->colPlan;
  for (uint64_t strip = first; strip < first + count; ++strip) {
    const uint64_t c0 = strip * sw;
    for (uint64_t r = 0; r < h; ++r) {
      std::memcpy(br + r * sw, j->re + r * w + c0, sw * sizeof(double));
      std::memcpy(bi + r * sw, j->im + r * w + c0, sw * sizeof(double));
    }
    for (uint64_t m = h; m >= 2; m /= 2) {
      const uint64_t half = m / 2;
      const double* c = p.c + (h - m);
      const double* s = p.s + (h - m);
      for (uint64_t b = 0; b < h; b += m)
        for (uint64_t k = 0; k < half; ++k) {
          const uint64_t rj = (b + k) * sw, rl = (b + k + half) * sw;
          ButterflyCols(br + rj, bi + rj, br + rl, bi + rl, c[k], s[k], sw);
        }
    }
    // Bit reversal on the way out; the inverse divides after it, as the 1-D transform does.
    const double dh = double(h);
    for (uint64_t r = 0; r < h; ++r) {
      double* dr = j->re + uint64_t(p.rev[r]) * w + c0;
      double* di = j->im + uint64_t(p.rev[r]) * w + c0;
      if (p.sign >= 1) {
        for (uint64_t k = 0; k < sw; ++k) {
          dr[k] = br[r * sw + k] / dh;
          di[k] = bi[r * sw + k] / dh;
        }
      } else {
        std::memcpy(dr, br + r * sw, sw * sizeof(double));
        std::memcpy(di, bi + r * sw, sw * sizeof(double));
      }
    }
  }
  std::free(buf);
}

int32_t Fft2D(double* re, double* im, uint64_t w, uint64_t h, int32_t sign) {
  if (!re || !im || w < 2 || h < 2 || !IsPow2(w) || !IsPow2(h)) return 0;
  if (w > (uint64_t(1) << 31) || h > (uint64_t(1) << 31) || w * h > (uint64_t(1) << 58)) return 0;
  // Forward transforms read the fixed table where it reaches; the inverse computes.
  const int32_t tableFlag = sign < 0 ? 1 : 0;
  FftPlan rowPlan, colPlan;
  if (!MakePlan(&rowPlan, w, sign, tableFlag)) return 0;
  if (h != w && !MakePlan(&colPlan, h, sign, tableFlag)) {
    FreePlan(&rowPlan);
    return 0;
  }
  Fft2DJob job{re, im, w, h, &rowPlan, h == w ? &rowPlan : &colPlan, {0}};
  RunItems(RowPassPiece, &job, h, w * Log2(w));
  const uint64_t strips = (w + kStrip - 1) / kStrip;
  RunItems(ColumnPassPiece, &job, strips, kStrip * h * Log2(h));
  FreePlan(&rowPlan);
  if (h != w) FreePlan(&colPlan);
  return job.failed.load() ? 0 : 1;
}

// ---- transpose -----------------------------------------------------------------------------

struct TransposeJob {
  double* dst;
  const double* src;
  uint64_t cols, rows;
};

constexpr uint64_t kTile = 32;

// Items are tiles of kTile source rows, each copied tile by tile so both sides stay in cache.
void TransposePiece(void* ctx, uint64_t first, uint64_t count) {
  TransposeJob* j = static_cast<TransposeJob*>(ctx);
  for (uint64_t t = first; t < first + count; ++t) {
    const uint64_t r0 = t * kTile, r1 = r0 + kTile < j->rows ? r0 + kTile : j->rows;
    for (uint64_t c0 = 0; c0 < j->cols; c0 += kTile) {
      const uint64_t c1 = c0 + kTile < j->cols ? c0 + kTile : j->cols;
      for (uint64_t r = r0; r < r1; ++r)
        for (uint64_t c = c0; c < c1; ++c) j->dst[c * j->rows + r] = j->src[r * j->cols + c];
    }
  }
}

// ---- shift, power, log scale ---------------------------------------------------------------

struct ShiftJob {
  double* plane;
  uint64_t w, h;
};

void ShiftPiece(void* ctx, uint64_t first, uint64_t count) {
  ShiftJob* j = static_cast<ShiftJob*>(ctx);
  const uint64_t w = j->w, hw = w / 2;
  for (uint64_t r = first; r < first + count; ++r) {
    double* a = j->plane + r * w;
    double* b = j->plane + (r + j->h / 2) * w;
    if (w % 2 == 0) {
      std::swap_ranges(a, a + hw, b + hw);
      std::swap_ranges(a + hw, a + w, b);
    } else {
      for (uint64_t c = 0; c < w; ++c) {
        uint64_t d = c + hw;
        if (d >= w) d -= w;
        std::swap(a[c], b[d]);
      }
    }
  }
}

struct PowerJob {
  double* out;
  const double* re;
  const double* im;
};

void PowerPiece(void* ctx, uint64_t first, uint64_t count) {
  PowerJob* j = static_cast<PowerJob*>(ctx);
  for (uint64_t i = first; i < first + count; ++i) j->out[i] = j->re[i] * j->re[i] + j->im[i] * j->im[i];
}

// The largest of n element values, each worker raising the shared maximum once under the
// call's lock: |x| of a plane for the log scale, re^2 + im^2 for a render.
struct MaxJob {
  const double* a;
  const double* b;
  double maximum;
  MergeLock* lock;
};

template <int Power>
void MaxPiece(void* ctx, uint64_t first, uint64_t count) {
  MaxJob* j = static_cast<MaxJob*>(ctx);
  double m = 0.0;
  for (uint64_t i = first; i < first + count; ++i) {
    const double v = Power ? std::fabs(j->a[i] * j->a[i] + j->b[i] * j->b[i]) : std::fabs(j->a[i]);
    if (v > m) m = v;
  }
  j->lock->Enter();
  if (m > j->maximum) j->maximum = m;
  j->lock->Leave();
}

struct LogJob {
  double* values;
  double scale;
};

void LogPiece(void* ctx, uint64_t first, uint64_t count) {
  LogJob* j = static_cast<LogJob*>(ctx);
  for (uint64_t i = first; i < first + count; ++i) j->values[i] = std::log10(std::fabs(j->values[i]) + 1.0) * j->scale;
}

}  // namespace

// ---- public kernels --------------------------------------------------------------------------

int32_t Fft1D(uint64_t n, int32_t sign, double* re, double* im, int32_t tableFlag) {
  if (!re || !im || !IsPow2(n) || n > (uint64_t(1) << 32) || (sign != -1 && sign != 1)) return 0;
  FftPlan p;
  if (!MakePlan(&p, n, sign, tableFlag)) return 0;
  FftWithPlan(p, re, im);
  FreePlan(&p);
  return 1;
}

int32_t Fft2DForward(double* re, double* im, uint64_t w, uint64_t h) { return Fft2D(re, im, w, h, -1); }

int32_t Fft2DInverse(double* re, double* im, uint64_t w, uint64_t h) { return Fft2D(re, im, w, h, 1); }

int32_t TransposeMatrix(double* dst, double* src, uint64_t cols, uint64_t rows) {
  if (!dst || !src) return 0;
  uint64_t n;
  if (__builtin_mul_overflow(cols, rows, &n) || n > (UINT64_MAX / sizeof(double))) return 0;
  if (n == 0) return 1;
  double* tmp = nullptr;
  const double* from = src;
  if (dst == src) {
    tmp = static_cast<double*>(std::malloc(n * sizeof(double)));
    if (!tmp) return 0;
    ParallelMemcpy(tmp, src, n * sizeof(double));
    from = tmp;
  }
  TransposeJob job{dst, from, cols, rows};
  RunItems(TransposePiece, &job, (rows + kTile - 1) / kTile, kTile * cols);
  std::free(tmp);
  return 1;
}

int32_t FftShiftQuadrants(double* plane, uint64_t w, uint64_t h) {
  if (!plane) return 0;
  ShiftJob job{plane, w, h};
  RunItems(ShiftPiece, &job, h / 2, w);
  return 1;
}

int32_t PowerSpectrum(double* out, const double* re, const double* im, uint64_t n) {
  if (!out || !re || !im || n == 0) return 0;
  PowerJob job{out, re, im};
  RunItems(PowerPiece, &job, n, 1);
  return 1;
}

int32_t MaxPowerSpectrum(const double* re, const double* im, uint64_t n, double* maximum) {
  if (!re || !im || !maximum) return 0;
  MergeLock lock;
  if (!lock.Valid()) return 0;
  MaxJob job{re, im, 0.0, &lock};
  RunItems(MaxPiece<1>, &job, n, 1);
  *maximum = job.maximum;
  return 1;
}

int32_t LogScaleSpectrum(double* values, uint64_t n, double* scale) {
  MergeLock lock;
  if (!lock.Valid()) return 0;
  MaxJob max{values, nullptr, 0.0, &lock};
  if (values && n) RunItems(MaxPiece<0>, &max, n, 1);
  // An all-zero spectrum (a black source) has no log scale: 0 keeps every value 0 instead of
  // dividing by log10(1).
  LogJob job{values, max.maximum > 0.0 ? 1.0 / std::log10(max.maximum + 1.0) : 0.0};
  if (values && n) RunItems(LogPiece, &job, n, 1);
  if (scale) *scale = job.scale;
  return 1;
}
