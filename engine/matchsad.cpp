// matchsad.cpp - bounded sums of absolute differences, with and without the contrast
// stretch, the stretch of a block, bounds from block sums, 8-bit blends and extremes: plain
// loops, SSE2 forms (every x86-64) and AVX2 forms, the widest the processor has chosen once
// at run time.  All forms compute the same integers: the sums are exact and the stretch, the
// bounds and the blends are the same 16-bit arithmetic in every lane and in the plain loops.
// Inside: selection - SSE2 - AVX2 - entries
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

int64_t SadTail(const uint8_t* p, const uint8_t* q, int32_t from, int32_t to) {
  int64_t s = 0;
  for (int32_t i = from; i < to; ++i) s += std::abs(int32_t(p[i]) - int32_t(q[i]));
  return s;
}

int64_t StretchSadTail(const uint8_t* p, const uint8_t* q, int32_t from, int32_t to, const StretchFactors& f) {
  int64_t s = 0;
  for (int32_t i = from; i < to; ++i) s += std::abs(int32_t(StretchByte(p[i], f)) - int32_t(q[i]));
  return s;
}

// ---- plain loops -----------------------------------------------------------------------------

int64_t SadBoundedPlain(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t rowBytes,
                                         int32_t rows, int64_t limit) {
  int64_t sum = 0;
  for (int32_t j = 0; j < rows; ++j) {
    sum += SadTail(a + j * as, b + j * bs, 0, rowBytes);
    if (sum > limit) return sum;
  }
  return sum;
}

int64_t StretchSadBoundedPlain(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs,
                                                int32_t rowBytes, int32_t rows, const StretchFactors& f,
                                                int64_t limit) {
  int64_t sum = 0;
  for (int32_t j = 0; j < rows; ++j) {
    sum += StretchSadTail(a + j * as, b + j * bs, 0, rowBytes, f);
    if (sum > limit) return sum;
  }
  return sum;
}

void StretchRowsPlain(const uint8_t* src, int64_t ss, uint8_t* dst, int64_t ds, int32_t rowBytes,
                                       int32_t rows, const StretchFactors& f) {
  for (int32_t j = 0; j < rows; ++j)
    for (int32_t i = 0; i < rowBytes; ++i) dst[j * ds + i] = StretchByte(src[j * ss + i], f);
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

#if defined(QV_MATCH_X86)

// ---- SSE2 ------------------------------------------------------------------------------------

inline int64_t LaneSum128(__m128i acc) {
  return int64_t(_mm_cvtsi128_si64(acc)) + int64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
}

// 16 stretched bytes from 16 image bytes.
inline __m128i Stretch16(__m128i v, __m128i lo, __m128i whole, __m128i fraction) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i d = _mm_subs_epu8(v, lo);
  const __m128i d0 = _mm_unpacklo_epi8(d, zero), d1 = _mm_unpackhi_epi8(d, zero);
  const __m128i t0 = _mm_add_epi16(_mm_mullo_epi16(d0, whole), _mm_mulhi_epu16(d0, fraction));
  const __m128i t1 = _mm_add_epi16(_mm_mullo_epi16(d1, whole), _mm_mulhi_epu16(d1, fraction));
  return _mm_packus_epi16(t0, t1);
}

// 8 stretched bytes (in the low half) from the low 8 image bytes.
inline __m128i Stretch8(__m128i v, __m128i lo, __m128i whole, __m128i fraction) {
  const __m128i d0 = _mm_unpacklo_epi8(_mm_subs_epu8(v, lo), _mm_setzero_si128());
  const __m128i t0 = _mm_add_epi16(_mm_mullo_epi16(d0, whole), _mm_mulhi_epu16(d0, fraction));
  return _mm_packus_epi16(t0, _mm_setzero_si128());
}

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }

int64_t SadBoundedSse2(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t rowBytes, int32_t rows,
                       int64_t limit) {
  const int32_t every = RowsPerCheck(rowBytes);
  __m128i acc = _mm_setzero_si128();
  int64_t tail = 0;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * as;
    const uint8_t* q = b + j * bs;
    int32_t i = 0;
    for (; i + 16 <= rowBytes; i += 16) acc = _mm_add_epi64(acc, _mm_sad_epu8(Load16(p + i), Load16(q + i)));
    for (; i + 8 <= rowBytes; i += 8) acc = _mm_add_epi64(acc, _mm_sad_epu8(Load8(p + i), Load8(q + i)));
    if (i < rowBytes) tail += SadTail(p, q, i, rowBytes);
    if ((j + 1) % every == 0 || j + 1 == rows) {
      const int64_t sum = LaneSum128(acc) + tail;
      if (sum > limit || j + 1 == rows) return sum;
    }
  }
  return 0;
}

int64_t StretchSadBoundedSse2(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t rowBytes,
                              int32_t rows, const StretchFactors& f, int64_t limit) {
  const int32_t every = RowsPerCheck(rowBytes);
  const __m128i lo = _mm_set1_epi8(char(f.lo));
  const __m128i whole = _mm_set1_epi16(int16_t(f.whole)), fraction = _mm_set1_epi16(int16_t(f.fraction));
  __m128i acc = _mm_setzero_si128();
  int64_t tail = 0;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * as;
    const uint8_t* q = b + j * bs;
    int32_t i = 0;
    for (; i + 16 <= rowBytes; i += 16)
      acc = _mm_add_epi64(acc, _mm_sad_epu8(Stretch16(Load16(p + i), lo, whole, fraction), Load16(q + i)));
    for (; i + 8 <= rowBytes; i += 8)
      acc = _mm_add_epi64(acc, _mm_sad_epu8(Stretch8(Load8(p + i), lo, whole, fraction), Load8(q + i)));
    if (i < rowBytes) tail += StretchSadTail(p, q, i, rowBytes, f);
    if ((j + 1) % every == 0 || j + 1 == rows) {
      const int64_t sum = LaneSum128(acc) + tail;
      if (sum > limit || j + 1 == rows) return sum;
    }
  }
  return 0;
}

void StretchRowsSse2(const uint8_t* src, int64_t ss, uint8_t* dst, int64_t ds, int32_t rowBytes, int32_t rows,
                     const StretchFactors& f) {
  const __m128i lo = _mm_set1_epi8(char(f.lo));
  const __m128i whole = _mm_set1_epi16(int16_t(f.whole)), fraction = _mm_set1_epi16(int16_t(f.fraction));
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = src + j * ss;
    uint8_t* d = dst + j * ds;
    int32_t i = 0;
    for (; i + 16 <= rowBytes; i += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), Stretch16(Load16(p + i), lo, whole, fraction));
    for (; i < rowBytes; ++i) d[i] = StretchByte(p[i], f);
  }
}

inline __m128i Load8x16(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

int32_t StretchedBoundsSse2(const uint16_t* sums, int64_t stride, int32_t count, const uint16_t* tsums, int32_t nbx,
                            int32_t nby, int32_t step, const BoundLanes& L, uint16_t* out) {
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m128i loSum = Load8x16(L.loSum + k), whole = Load8x16(L.whole + k), fraction = Load8x16(L.fraction + k);
    const __m128i slackLo = Load8x16(L.slackLo + k), slackHi = Load8x16(L.slackHi + k);
    __m128i acc = _mm_setzero_si128();
    for (int32_t bj = 0; bj < nby; ++bj) {
      const uint16_t* row = sums + int64_t(bj) * step * stride + k;
      for (int32_t bi = 0; bi < nbx; ++bi) {
        const __m128i d = _mm_subs_epu16(Load8x16(row + bi * step), loSum);
        const __m128i g = _mm_add_epi16(_mm_mullo_epi16(d, whole), _mm_mulhi_epu16(d, fraction));
        const __m128i ts = _mm_set1_epi16(int16_t(tsums[bj * nbx + bi]));
        const __m128i below = _mm_subs_epu16(_mm_subs_epu16(g, slackLo), ts);
        const __m128i above = _mm_subs_epu16(ts, _mm_adds_epu16(g, slackHi));
        acc = _mm_adds_epu16(acc, _mm_or_si128(below, above));
      }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), acc);
  }
  return k;
}

// The products stay below 2^16 (weights add up to 256, bytes are below 256), so 16-bit lanes
// hold them exactly.
int32_t BlendBytesSse2(const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t n, uint32_t weight) {
  const __m128i wa = _mm_set1_epi16(int16_t(256 - weight)), wb = _mm_set1_epi16(int16_t(weight));
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i va = Load16(a + i), vb = Load16(b + i);
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), wa),
                                                    _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wb)),
                                      8);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), wa),
                                                    _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wb)),
                                      8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
  return i;
}

// ---- AVX2 ------------------------------------------------------------------------------------

#define QV_AVX2 __attribute__((target("avx2")))

QV_AVX2 inline int64_t LaneSum256(__m256i acc) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  return int64_t(_mm_cvtsi128_si64(s)) + int64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
}

// Unpacking and packing both work within each 128-bit half, so the bytes come back in order.
QV_AVX2 inline __m256i Stretch32(__m256i v, __m256i lo, __m256i whole, __m256i fraction) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i d = _mm256_subs_epu8(v, lo);
  const __m256i d0 = _mm256_unpacklo_epi8(d, zero), d1 = _mm256_unpackhi_epi8(d, zero);
  const __m256i t0 = _mm256_add_epi16(_mm256_mullo_epi16(d0, whole), _mm256_mulhi_epu16(d0, fraction));
  const __m256i t1 = _mm256_add_epi16(_mm256_mullo_epi16(d1, whole), _mm256_mulhi_epu16(d1, fraction));
  return _mm256_packus_epi16(t0, t1);
}

QV_AVX2 inline __m256i Load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

QV_AVX2 int64_t SadBoundedAvx2(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t rowBytes,
                               int32_t rows, int64_t limit) {
  const int32_t every = RowsPerCheck(rowBytes);
  __m256i acc = _mm256_setzero_si256();
  __m128i acc16 = _mm_setzero_si128();
  int64_t tail = 0;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * as;
    const uint8_t* q = b + j * bs;
    int32_t i = 0;
    for (; i + 64 <= rowBytes; i += 64) {
      const __m256i s0 = _mm256_sad_epu8(Load32(p + i), Load32(q + i));
      const __m256i s1 = _mm256_sad_epu8(Load32(p + i + 32), Load32(q + i + 32));
      acc = _mm256_add_epi64(acc, _mm256_add_epi64(s0, s1));
    }
    for (; i + 32 <= rowBytes; i += 32) acc = _mm256_add_epi64(acc, _mm256_sad_epu8(Load32(p + i), Load32(q + i)));
    for (; i + 16 <= rowBytes; i += 16) acc16 = _mm_add_epi64(acc16, _mm_sad_epu8(Load16(p + i), Load16(q + i)));
    for (; i + 8 <= rowBytes; i += 8) acc16 = _mm_add_epi64(acc16, _mm_sad_epu8(Load8(p + i), Load8(q + i)));
    if (i < rowBytes) tail += SadTail(p, q, i, rowBytes);
    if ((j + 1) % every == 0 || j + 1 == rows) {
      const int64_t sum = LaneSum256(acc) + LaneSum128(acc16) + tail;
      if (sum > limit || j + 1 == rows) return sum;
    }
  }
  return 0;
}

QV_AVX2 int64_t StretchSadBoundedAvx2(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t rowBytes,
                                      int32_t rows, const StretchFactors& f, int64_t limit) {
  const int32_t every = RowsPerCheck(rowBytes);
  const __m256i lo = _mm256_set1_epi8(char(f.lo));
  const __m256i whole = _mm256_set1_epi16(int16_t(f.whole)), fraction = _mm256_set1_epi16(int16_t(f.fraction));
  const __m128i lo16 = _mm256_castsi256_si128(lo), whole16 = _mm256_castsi256_si128(whole),
                fraction16 = _mm256_castsi256_si128(fraction);
  __m256i acc = _mm256_setzero_si256();
  __m128i acc16 = _mm_setzero_si128();
  int64_t tail = 0;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * as;
    const uint8_t* q = b + j * bs;
    int32_t i = 0;
    for (; i + 32 <= rowBytes; i += 32)
      acc = _mm256_add_epi64(acc, _mm256_sad_epu8(Stretch32(Load32(p + i), lo, whole, fraction), Load32(q + i)));
    for (; i + 16 <= rowBytes; i += 16)
      acc16 = _mm_add_epi64(acc16, _mm_sad_epu8(Stretch16(Load16(p + i), lo16, whole16, fraction16), Load16(q + i)));
    for (; i + 8 <= rowBytes; i += 8)
      acc16 = _mm_add_epi64(acc16, _mm_sad_epu8(Stretch8(Load8(p + i), lo16, whole16, fraction16), Load8(q + i)));
    if (i < rowBytes) tail += StretchSadTail(p, q, i, rowBytes, f);
    if ((j + 1) % every == 0 || j + 1 == rows) {
      const int64_t sum = LaneSum256(acc) + LaneSum128(acc16) + tail;
      if (sum > limit || j + 1 == rows) return sum;
    }
  }
  return 0;
}

QV_AVX2 void StretchRowsAvx2(const uint8_t* src, int64_t ss, uint8_t* dst, int64_t ds, int32_t rowBytes,
                             int32_t rows, const StretchFactors& f) {
  const __m256i lo = _mm256_set1_epi8(char(f.lo));
  const __m256i whole = _mm256_set1_epi16(int16_t(f.whole)), fraction = _mm256_set1_epi16(int16_t(f.fraction));
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = src + j * ss;
    uint8_t* d = dst + j * ds;
    int32_t i = 0;
    for (; i + 32 <= rowBytes; i += 32)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), Stretch32(Load32(p + i), lo, whole, fraction));
    for (; i < rowBytes; ++i) d[i] = StretchByte(p[i], f);
  }
}

QV_AVX2 inline __m256i Load16x16(const uint16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QV_AVX2 int32_t StretchedBoundsAvx2(const uint16_t* sums, int64_t stride, int32_t count, const uint16_t* tsums,
                                    int32_t nbx, int32_t nby, int32_t step, const BoundLanes& L, uint16_t* out) {
  int32_t k = 0;
  for (; k + 16 <= count; k += 16) {
    const __m256i loSum = Load16x16(L.loSum + k), whole = Load16x16(L.whole + k),
                  fraction = Load16x16(L.fraction + k);
    const __m256i slackLo = Load16x16(L.slackLo + k), slackHi = Load16x16(L.slackHi + k);
    __m256i acc = _mm256_setzero_si256();
    for (int32_t bj = 0; bj < nby; ++bj) {
      const uint16_t* row = sums + int64_t(bj) * step * stride + k;
      for (int32_t bi = 0; bi < nbx; ++bi) {
        const __m256i d = _mm256_subs_epu16(Load16x16(row + bi * step), loSum);
        const __m256i g = _mm256_add_epi16(_mm256_mullo_epi16(d, whole), _mm256_mulhi_epu16(d, fraction));
        const __m256i ts = _mm256_set1_epi16(int16_t(tsums[bj * nbx + bi]));
        const __m256i below = _mm256_subs_epu16(_mm256_subs_epu16(g, slackLo), ts);
        const __m256i above = _mm256_subs_epu16(ts, _mm256_adds_epu16(g, slackHi));
        acc = _mm256_adds_epu16(acc, _mm256_or_si256(below, above));
      }
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), acc);
  }
  return k;
}

QV_AVX2 int32_t BlendBytesAvx2(const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t n, uint32_t weight) {
  const __m256i wa = _mm256_set1_epi16(int16_t(256 - weight)), wb = _mm256_set1_epi16(int16_t(weight));
  const __m256i zero = _mm256_setzero_si256();
  int32_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i va = Load32(a + i), vb = Load32(b + i);
    const __m256i lo = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(va, zero), wa),
                         _mm256_mullo_epi16(_mm256_unpacklo_epi8(vb, zero), wb)),
        8);
    const __m256i hi = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(va, zero), wa),
                         _mm256_mullo_epi16(_mm256_unpackhi_epi8(vb, zero), wb)),
        8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(lo, hi));
  }
  return i;
}

QV_AVX2 void ByteExtremesAvx2(const uint8_t* p, int64_t stride, int32_t rowBytes, int32_t rows, uint8_t* lo,
                              uint8_t* hi) {
  __m256i mn = _mm256_set1_epi8(char(0xFF)), mx = _mm256_setzero_si256();
  uint8_t tlo = 255, thi = 0;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* r = p + j * stride;
    int32_t i = 0;
    for (; i + 32 <= rowBytes; i += 32) {
      const __m256i v = Load32(r + i);
      mn = _mm256_min_epu8(mn, v);
      mx = _mm256_max_epu8(mx, v);
    }
    for (; i < rowBytes; ++i) {
      tlo = r[i] < tlo ? r[i] : tlo;
      thi = r[i] > thi ? r[i] : thi;
    }
  }
  alignas(32) uint8_t a[32], b[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), mn);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), mx);
  for (int32_t i = 0; i < 32; ++i) {
    tlo = a[i] < tlo ? a[i] : tlo;
    thi = b[i] > thi ? b[i] : thi;
  }
  *lo = tlo;
  *hi = thi;
}

int32_t CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? 1 : 0;
}

#endif  // QV_MATCH_X86

std::atomic<int32_t> g_widestAllowed{MatchAvx2};

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
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  if (form == MatchAvx2) return SadBoundedAvx2(a, aStride, b, bStride, rowBytes, rows, limit);
  if (form == MatchSse2) return SadBoundedSse2(a, aStride, b, bStride, rowBytes, rows, limit);
#endif
  return SadBoundedPlain(a, aStride, b, bStride, rowBytes, rows, limit);
}

int64_t StretchSadBoundedU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride,
                            int32_t rowBytes, int32_t rows, const StretchFactors& f, int64_t limit) {
  if (rows <= 0 || rowBytes <= 0) return 0;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  if (form == MatchAvx2) return StretchSadBoundedAvx2(a, aStride, b, bStride, rowBytes, rows, f, limit);
  if (form == MatchSse2) return StretchSadBoundedSse2(a, aStride, b, bStride, rowBytes, rows, f, limit);
#endif
  return StretchSadBoundedPlain(a, aStride, b, bStride, rowBytes, rows, f, limit);
}

void StretchRowsU8(const uint8_t* src, int64_t srcStride, uint8_t* dst, int64_t dstStride, int32_t rowBytes,
                   int32_t rows, const StretchFactors& f) {
  if (rows <= 0 || rowBytes <= 0) return;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  if (form == MatchAvx2) return StretchRowsAvx2(src, srcStride, dst, dstStride, rowBytes, rows, f);
  if (form == MatchSse2) return StretchRowsSse2(src, srcStride, dst, dstStride, rowBytes, rows, f);
#endif
  StretchRowsPlain(src, srcStride, dst, dstStride, rowBytes, rows, f);
}

void StretchedBoundsU16(const uint16_t* sums, int64_t stride, int32_t count, const uint16_t* tsums, int32_t nbx,
                        int32_t nby, int32_t step, const BoundLanes& lanes, uint16_t* out) {
  int32_t k = 0;
#if defined(QV_MATCH_X86)
  const int32_t form = MatchKernelForm();
  // A short tail is done again as the last full vector of positions: the same values.
  auto shifted = [&](int32_t from) {
    return BoundLanes{lanes.loSum + from, lanes.whole + from, lanes.fraction + from, lanes.slackLo + from,
                      lanes.slackHi + from};
  };
  if (form == MatchAvx2 && count >= 16) {
    k = StretchedBoundsAvx2(sums, stride, count, tsums, nbx, nby, step, lanes, out);
    if (k < count)
      k = count - 16 +
          StretchedBoundsAvx2(sums + count - 16, stride, 16, tsums, nbx, nby, step, shifted(count - 16), out + count - 16);
  }
  if (form >= MatchSse2 && k < count && count >= 8) {
    k += StretchedBoundsSse2(sums + k, stride, count - k, tsums, nbx, nby, step, shifted(k), out + k);
    if (k < count)
      k = count - 8 +
          StretchedBoundsSse2(sums + count - 8, stride, 8, tsums, nbx, nby, step, shifted(count - 8), out + count - 8);
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
  if (form == MatchAvx2) i = BlendBytesAvx2(a, b, dst, n, weight);
  if (form >= MatchSse2) i += BlendBytesSse2(a + i, b + i, dst + i, n - i, weight);
#endif
  for (; i < n; ++i) dst[i] = BlendByte(a[i], b[i], weight);
}

void ByteExtremesU8(const uint8_t* p, int64_t stride, int32_t rowBytes, int32_t rows, uint8_t* lo, uint8_t* hi) {
#if defined(QV_MATCH_X86)
  if (MatchKernelForm() == MatchAvx2) return ByteExtremesAvx2(p, stride, rowBytes, rows, lo, hi);
#endif
  uint8_t tlo = 255, thi = 0;
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* r = p + j * stride;
    for (int32_t i = 0; i < rowBytes; ++i) {
      tlo = r[i] < tlo ? r[i] : tlo;
      thi = r[i] > thi ? r[i] : thi;
    }
  }
  *lo = tlo;
  *hi = thi;
}
