// matchsad.cpp - bounded sums of absolute differences, with and without the contrast
// stretch, the stretch of a block, bounds from block sums, 8-bit blends and extremes: plain
// loops, SSE2 forms (every x86-64) and AVX2 forms, the widest the processor has chosen once
// at run time.  The vector forms are one text (matchsad_form.h) compiled for each width; an
// entry runs the widest form over the columns it fits and narrower ones over the rest.  All
// forms compute the same integers: the sums are exact, and the stretch, the bounds and the
// blends are the same 16-bit arithmetic in every lane and in the plain loops.
// Inside: plain loops - vector forms - selection - entries
#include "engine/matchsad.h"

#include <atomic>
#include <cstdlib>

#if defined(__x86_64__)
#include <immintrin.h>
#define QV_MATCH_X86 1
#endif

namespace {

// Rows between two looks at the running sum: about 256 bytes, so the horizontal add and the
// test stay off the inner loop.
inline int32_t RowsPerCheck(int32_t rowBytes) {
  return rowBytes >= 256 ? 1 : rowBytes > 0 ? 256 / rowBytes : 1;
}

// ---- plain loops -----------------------------------------------------------------------------

int64_t SadPlain(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t cols, int32_t rows,
                 int64_t limit) {
  int64_t sum = 0;
  for (int32_t j = 0; j < rows; ++j) {
    for (int32_t i = 0; i < cols; ++i) sum += std::abs(int32_t(a[j * as + i]) - int32_t(b[j * bs + i]));
    if (sum > limit) return sum;
  }
  return sum;
}

int64_t StretchSadPlain(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t cols, int32_t rows,
                        const StretchFactors& f, int64_t limit) {
  int64_t sum = 0;
  for (int32_t j = 0; j < rows; ++j) {
    for (int32_t i = 0; i < cols; ++i)
      sum += std::abs(int32_t(StretchByte(a[j * as + i], f)) - int32_t(b[j * bs + i]));
    if (sum > limit) return sum;
  }
  return sum;
}

// One position's bound, as the lanes compute it.
uint16_t BoundOne(const uint16_t* sums, int64_t stride, const uint16_t* tsums, int32_t nbx, int32_t nby, int32_t step,
                  uint16_t loSum, uint16_t whole, uint16_t fraction, uint16_t slackLo, uint16_t slackHi) {
  auto subs = [](int32_t a, int32_t b) { return a > b ? a - b : 0; };
  int64_t acc = 0;
  for (int32_t bj = 0; bj < nby; ++bj) {
    const uint16_t* row = sums + int64_t(bj) * step * stride;
    for (int32_t bi = 0; bi < nbx; ++bi) {
      const uint32_t d = uint32_t(subs(row[bi * step], loSum));
      const int32_t g = uint16_t(uint16_t(d * whole) + uint16_t((d * fraction) >> 16));
      const int32_t ts = tsums[bj * nbx + bi];
      const int32_t up = g + slackHi < 65535 ? g + slackHi : 65535;
      acc += subs(subs(g, slackLo), ts) | subs(ts, up);
    }
  }
  // Adding non-negative terms with saturation ends at the total or at the top, whatever the
  // order: the total, capped once.
  return uint16_t(acc < 65535 ? acc : 65535);
}

inline uint8_t BlendByte(uint8_t a, uint8_t b, uint32_t weight) {
  return uint8_t(((256 - weight) * a + weight * b) >> 8);
}

// ---- vector forms ----------------------------------------------------------------------------

#if defined(QV_MATCH_X86)

namespace sse2 {
#define QV_FORM
typedef __m128i V;
constexpr int32_t kBytes = 16;
inline V Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline V Zero() { return _mm_setzero_si128(); }
inline V Bytes(uint8_t b) { return _mm_set1_epi8(char(b)); }
inline V Words(uint16_t w) { return _mm_set1_epi16(int16_t(w)); }
inline V SubsU8(V a, V b) { return _mm_subs_epu8(a, b); }
inline V UnpackLo8(V a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
inline V UnpackHi8(V a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
inline V MulLo16(V a, V b) { return _mm_mullo_epi16(a, b); }
inline V MulHiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
inline V Add16(V a, V b) { return _mm_add_epi16(a, b); }
inline V PackUs16(V a, V b) { return _mm_packus_epi16(a, b); }
inline V SadU8(V a, V b) { return _mm_sad_epu8(a, b); }
inline V Add64(V a, V b) { return _mm_add_epi64(a, b); }
inline V SubsU16(V a, V b) { return _mm_subs_epu16(a, b); }
inline V AddsU16(V a, V b) { return _mm_adds_epu16(a, b); }
inline V Or(V a, V b) { return _mm_or_si128(a, b); }
inline V Shr16By8(V a) { return _mm_srli_epi16(a, 8); }
inline V MinU8(V a, V b) { return _mm_min_epu8(a, b); }
inline V MaxU8(V a, V b) { return _mm_max_epu8(a, b); }
inline int64_t Sum64(V a) {
  return int64_t(_mm_cvtsi128_si64(a)) + int64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(a, a)));
}
inline void Extremes(V mn, V mx, uint8_t* lo, uint8_t* hi) {
  alignas(16) uint8_t a[16], b[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(a), mn);
  _mm_store_si128(reinterpret_cast<__m128i*>(b), mx);
  for (int32_t i = 0; i < 16; ++i) {
    *lo = a[i] < *lo ? a[i] : *lo;
    *hi = b[i] > *hi ? b[i] : *hi;
  }
}
#include "engine/matchsad_form.h"
#undef QV_FORM
}  // namespace sse2

namespace avx2 {
#define QV_FORM __attribute__((target("avx2")))
typedef __m256i V;
constexpr int32_t kBytes = 32;
QV_FORM inline V Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
QV_FORM inline void Store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
QV_FORM inline V Zero() { return _mm256_setzero_si256(); }
QV_FORM inline V Bytes(uint8_t b) { return _mm256_set1_epi8(char(b)); }
QV_FORM inline V Words(uint16_t w) { return _mm256_set1_epi16(int16_t(w)); }
QV_FORM inline V SubsU8(V a, V b) { return _mm256_subs_epu8(a, b); }
QV_FORM inline V UnpackLo8(V a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
QV_FORM inline V UnpackHi8(V a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }
QV_FORM inline V MulLo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
QV_FORM inline V MulHiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
QV_FORM inline V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
QV_FORM inline V PackUs16(V a, V b) { return _mm256_packus_epi16(a, b); }
QV_FORM inline V SadU8(V a, V b) { return _mm256_sad_epu8(a, b); }
QV_FORM inline V Add64(V a, V b) { return _mm256_add_epi64(a, b); }
QV_FORM inline V SubsU16(V a, V b) { return _mm256_subs_epu16(a, b); }
QV_FORM inline V AddsU16(V a, V b) { return _mm256_adds_epu16(a, b); }
QV_FORM inline V Or(V a, V b) { return _mm256_or_si256(a, b); }
QV_FORM inline V Shr16By8(V a) { return _mm256_srli_epi16(a, 8); }
QV_FORM inline V MinU8(V a, V b) { return _mm256_min_epu8(a, b); }
QV_FORM inline V MaxU8(V a, V b) { return _mm256_max_epu8(a, b); }
QV_FORM inline int64_t Sum64(V a) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
  return int64_t(_mm_cvtsi128_si64(s)) + int64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
}
QV_FORM inline void Extremes(V mn, V mx, uint8_t* lo, uint8_t* hi) {
  alignas(32) uint8_t a[32], b[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), mn);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), mx);
  for (int32_t i = 0; i < 32; ++i) {
    *lo = a[i] < *lo ? a[i] : *lo;
    *hi = b[i] > *hi ? b[i] : *hi;
  }
}
#include "engine/matchsad_form.h"
#undef QV_FORM
}  // namespace avx2

int32_t CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? 1 : 0;
}

#endif  // QV_MATCH_X86

// ---- selection -------------------------------------------------------------------------------

std::atomic<int32_t> g_widestAllowed{MatchAvx2};

// Columns from `done` on that whole registers of `bytes` cover: a multiple of bytes.
inline int32_t Whole(int32_t cols, int32_t done, int32_t bytes) { return (cols - done) / bytes * bytes; }

// A bounded sum over rowBytes columns: the widest form over the columns it fits, narrower ones
// over the rest, each with what is left of the limit.  Every part gives its exact sum or a
// value above its limit, so the total is the sum or a value above limit.
template <class Part>
int64_t ByColumns(int32_t rowBytes, int64_t limit, Part part) {
  int32_t done = 0;
  int64_t sum = 0;
  for (int32_t form = MatchKernelForm(); form >= MatchPlain && done < rowBytes; --form) {
    const int32_t cols = form == MatchAvx2 ? Whole(rowBytes, done, 32)
                         : form == MatchSse2 ? Whole(rowBytes, done, 16)
                                             : rowBytes - done;
    if (!cols) continue;
    sum += part(form, done, cols, limit - sum);
    done += cols;
    if (sum > limit) return sum;
  }
  return sum;
}

}  // namespace

// ---- entries ---------------------------------------------------------------------------------

int32_t MatchKernelForm() {
#if defined(QV_MATCH_X86)
  // Read once: the processor does not change under a running program.
  static const int32_t widest = CpuHasAvx2() ? MatchAvx2 : MatchSse2;
  const int32_t allowed = g_widestAllowed.load(std::memory_order_relaxed);
  return allowed < widest ? allowed : widest;
#else
  return MatchPlain;
#endif
}

void SetMatchKernelForm(int32_t widest) {
  g_widestAllowed.store(widest < MatchPlain ? MatchPlain : widest > MatchAvx2 ? MatchAvx2 : widest);
}

int64_t SadBoundedU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride, int32_t rowBytes,
                     int32_t rows, int64_t limit) {
  if (rows <= 0 || rowBytes <= 0) return 0;
  return ByColumns(rowBytes, limit, [&](int32_t form, int32_t at, int32_t cols, int64_t left) -> int64_t {
#if defined(QV_MATCH_X86)
    if (form == MatchAvx2) return avx2::SadColumns(a + at, aStride, b + at, bStride, cols, rows, left);
    if (form == MatchSse2) return sse2::SadColumns(a + at, aStride, b + at, bStride, cols, rows, left);
#endif
    return SadPlain(a + at, aStride, b + at, bStride, cols, rows, left);
  });
}

int64_t StretchSadBoundedU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride,
                            int32_t rowBytes, int32_t rows, const StretchFactors& f, int64_t limit) {
  if (rows <= 0 || rowBytes <= 0) return 0;
  return ByColumns(rowBytes, limit, [&](int32_t form, int32_t at, int32_t cols, int64_t left) -> int64_t {
#if defined(QV_MATCH_X86)
    if (form == MatchAvx2) return avx2::StretchSadColumns(a + at, aStride, b + at, bStride, cols, rows, f, left);
    if (form == MatchSse2) return sse2::StretchSadColumns(a + at, aStride, b + at, bStride, cols, rows, f, left);
#endif
    return StretchSadPlain(a + at, aStride, b + at, bStride, cols, rows, f, left);
  });
}

void StretchRowsU8(const uint8_t* src, int64_t srcStride, uint8_t* dst, int64_t dstStride, int32_t rowBytes,
                   int32_t rows, const StretchFactors& f) {
  if (rows <= 0 || rowBytes <= 0) return;
  int32_t done = 0;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  if (form == MatchAvx2 && Whole(rowBytes, done, 32)) {
    avx2::StretchColumns(src, srcStride, dst, dstStride, Whole(rowBytes, done, 32), rows, f);
    done += Whole(rowBytes, done, 32);
  }
  if (form >= MatchSse2 && Whole(rowBytes, done, 16)) {
    sse2::StretchColumns(src + done, srcStride, dst + done, dstStride, Whole(rowBytes, done, 16), rows, f);
    done += Whole(rowBytes, done, 16);
  }
#endif
  for (int32_t j = 0; j < rows; ++j)
    for (int32_t i = done; i < rowBytes; ++i) dst[j * dstStride + i] = StretchByte(src[j * srcStride + i], f);
}

void StretchedBoundsU16(const uint16_t* sums, int64_t stride, int32_t count, const uint16_t* tsums, int32_t nbx,
                        int32_t nby, int32_t step, const BoundLanes& lanes, uint16_t* out) {
  int32_t k = 0;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  // A short tail is done again as the last whole register of positions: the same values.
  auto from = [&](int32_t at) {
    return BoundLanes{lanes.loSum + at, lanes.whole + at, lanes.fraction + at, lanes.slackLo + at, lanes.slackHi + at};
  };
  if (form == MatchAvx2 && count >= 16) {
    k = avx2::BoundsPositions(sums, stride, count, tsums, nbx, nby, step, lanes, out);
    if (k < count)
      k = count - 16 + avx2::BoundsPositions(sums + count - 16, stride, 16, tsums, nbx, nby, step, from(count - 16),
                                             out + count - 16);
  }
  if (form >= MatchSse2 && k < count && count >= 8) {
    k += sse2::BoundsPositions(sums + k, stride, count - k, tsums, nbx, nby, step, from(k), out + k);
    if (k < count)
      k = count - 8 + sse2::BoundsPositions(sums + count - 8, stride, 8, tsums, nbx, nby, step, from(count - 8),
                                            out + count - 8);
  }
#endif
  for (; k < count; ++k)
    out[k] = BoundOne(sums + k, stride, tsums, nbx, nby, step, lanes.loSum[k], lanes.whole[k], lanes.fraction[k],
                      lanes.slackLo[k], lanes.slackHi[k]);
}

void BlendBytesU8(const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t n, uint32_t weight) {
  int32_t i = 0;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  if (form == MatchAvx2) i = avx2::BlendBytes(a, b, dst, n, weight);
  if (form >= MatchSse2) i += sse2::BlendBytes(a + i, b + i, dst + i, n - i, weight);
#endif
  for (; i < n; ++i) dst[i] = BlendByte(a[i], b[i], weight);
}

void ByteExtremesU8(const uint8_t* p, int64_t stride, int32_t rowBytes, int32_t rows, uint8_t* lo, uint8_t* hi) {
  uint8_t tlo = 255, thi = 0;
  int32_t done = 0;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  if (form == MatchAvx2 && Whole(rowBytes, done, 32)) {
    avx2::ExtremesColumns(p, stride, Whole(rowBytes, done, 32), rows, &tlo, &thi);
    done += Whole(rowBytes, done, 32);
  }
  if (form >= MatchSse2 && Whole(rowBytes, done, 16)) {
    sse2::ExtremesColumns(p + done, stride, Whole(rowBytes, done, 16), rows, &tlo, &thi);
    done += Whole(rowBytes, done, 16);
  }
#endif
  for (int32_t j = 0; j < rows; ++j)
    for (int32_t i = done; i < rowBytes; ++i) {
      const uint8_t v = p[j * stride + i];
      tlo = v < tlo ? v : tlo;
      thi = v > thi ? v : thi;
    }
  *lo = tlo;
  *hi = thi;
}
