// component.cpp - component extraction: grey, R, G, B, H, S, V, inks, CIE X, Y, Z, L*, a*,
// b*, C*, h of every pixel in a rectangle, written back in place.
// Typed kernels serve formats 1 to 6 (depth class = sample depth, so "the class's accessors"
// are plain loads and stores); formats 7 to 9, the colour forms of modes 15 to 22 and the
// reference path go through the accessors one pixel at a time.
// Inside: shared component math - typed kernels - accessor path - bands - entry
#include "engine/component.h"
#include "engine/simd.h"

#include <cmath>
#include <cstring>

#include "core/colour.h"
#include "engine/pixel.h"

// The R,G,B 8 kernels vectorise; wider vectors where the processor has them, chosen once at
// load time.
#define QV_COMPONENT_CLONES QV_AVX2_CLONES
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QV_COMPONENT_SSSE3 1
#endif

namespace {

// ---- shared component math -----------------------------------------------------------------

constexpr double TwoPi = 6.283185307179586;

// The image core's 16-bit HSV hue and saturation (R tested first, wrap at 65535).
inline void HueSat16(int32_t r, int32_t g, int32_t b, uint32_t* h, uint32_t* s) {
  const int32_t mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int32_t mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int32_t d = mx - mn;
  if (d == 0) *h = 0;
  else if (r == mx) *h = uint32_t((65535 + (g - b) * 10922 / d) % 65535);
  else if (g == mx) *h = uint32_t((b - r) * 10922 / d + 21844);
  else *h = uint32_t((r - g) * 10922 / d + 43688);
  *s = mx ? uint32_t(d) * 65534u / uint32_t(mx) : 0u;
}

inline uint32_t Max3(uint32_t a, uint32_t b, uint32_t c) {
  const uint32_t m = a > b ? a : b;
  return m > c ? m : c;
}

// The same of 8-bit channels without an integer division.  Widening by 257 scales the
// difference, the range and the maximum alike, so the 16-bit quotients are (g - b) x 10922 / d
// and d x 65534 / max of the 8-bit values.  Single-precision division gives them exactly: the
// numerators are whole numbers below 2^24, and a quotient that is not whole lies at least
// 1/255 from the next whole number, more than half a unit in the last place of any value
// below 65536 (checked for every d and max up to 255).
inline uint32_t Hue16OfRgb8(int32_t r, int32_t g, int32_t b) {
  const int32_t mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int32_t mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int32_t d = mx - mn;
  // Sector by the first channel equal to the maximum, R before G before B; red's negative
  // quotients wrap at 65535.  d = 0 means a = 0, and dividing by 1 there gives the 0 required.
  const int32_t isR = r == mx, isG = (g == mx) & !isR;
  const int32_t a = isR ? g - b : isG ? b - r : r - g;
  const int32_t base = isR ? (a < 0 ? 65535 : 0) : isG ? 21844 : 43688;
  return uint32_t(base + int32_t(float(a * 10922) / float(d | int32_t(d == 0))));
}
inline uint32_t Sat16OfRgb8(int32_t r, int32_t g, int32_t b) {
  const int32_t mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int32_t mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int32_t d = mx - mn;
  return uint32_t(int32_t(float(d * 65534) / float(mx | int32_t(mx == 0))));  // max 0: d 0
}

// Modes 15..22 from X, Y, Z (white Y = 1): the packed 32-bit grey.
uint32_t PackCie(int32_t mode, double X, double Y, double Z) {
  switch (mode) {
    case 15: return PackXyz32(X);
    case 16: return PackXyz32(Y);
    case 17: return PackXyz32(Z);
    default: break;
  }
  double L = 0, a = 0, b = 0;
  XyzToLab(X, Y, Z, &L, &a, &b);
  switch (mode) {
    case 18: return PackL32(L);
    case 19: return PackAb32(a);
    case 20: return PackAb32(b);
    case 21: return PackC32(std::sqrt(a * a + b * b));
    default: {
      double h = std::atan2(b, a);  // -pi..pi, or NaN for a NaN colour (packs as 0)
      while (h > TwoPi) h -= TwoPi;
      while (h < 0) h += TwoPi;
      return PackHue32(h);
    }
  }
}

// SrgbToXyz of 8-bit channels without its three powers a pixel: X, Y and Z are sums
// coefficient x linearised channel, added R, G, B in that order, and a channel of 0
// linearises to exactly 0, so SrgbToXyz of (c / 255, 0, 0) is the R product alone (the
// zero terms add nothing).  Summing the stored products in the same order gives the same
// doubles bit for bit.
struct SrgbProducts8 {
  double x[3][256], y[3][256], z[3][256];  // [channel R, G, B][8-bit value]
};

const SrgbProducts8& GetSrgbProducts8() {
  static const SrgbProducts8* const table = [] {
    static SrgbProducts8 t;
    for (int32_t c = 0; c < 256; ++c) {
      const double v = double(c) / 255.0;
      SrgbToXyz(v, 0, 0, &t.x[0][c], &t.y[0][c], &t.z[0][c]);
      SrgbToXyz(0, v, 0, &t.x[1][c], &t.y[1][c], &t.z[1][c]);
      SrgbToXyz(0, 0, v, &t.x[2][c], &t.y[2][c], &t.z[2][c]);
    }
    return &t;
  }();
  return *table;
}

// L* of 8-bit pictures without a cube root a pixel.  The byte stored is the top byte of
// PackL32 of L* = 116 f(Y) - 16, which depends on Y alone and never falls as Y grows; so
// it is the number of steps first[1..255] at or below Y, where first[k] is the smallest
// double Y whose byte is k or more, found once by bisection over the doubles through the
// image core's own functions (checked against the accessors for every 8-bit colour).
// A pixel finds its step from the byte at the start of its slice of Y, 1/8192 wide: the
// byte climbs at most about 2300 per unit of Y, so a slice holds at most one step (checked
// when the table is made; where that failed a pixel would search all the steps).
constexpr int32_t LightnessSlices = 8192;

struct LightnessSteps8 {
  double first[257];                     // first[0] = 0, first[256] = infinity
  uint8_t atSlice[LightnessSlices + 2];  // the byte at Y = i / LightnessSlices
  int32_t oneStepPerSlice;
};

uint32_t LightnessByte(double Y) {
  double L = 0;
  XyzToLab(0, Y, 0, &L, nullptr, nullptr);
  return PackL32(L) >> 24;
}

// Without branches: on a real picture each comparison goes either way.
inline uint32_t SearchLightnessSteps(const LightnessSteps8& t, double Y) {
  uint32_t k = 0;
  for (uint32_t step = 128; step >= 1; step >>= 1)
    k += step & (0u - uint32_t(t.first[k + step] <= Y));
  return k;
}

const LightnessSteps8& GetLightnessSteps8() {
  static const LightnessSteps8* const table = [] {
    static LightnessSteps8 t;
    t.first[0] = 0.0;
    t.first[256] = HUGE_VAL;
    // Non-negative doubles order as their bit patterns: bisect on those.
    auto bits = [](double d) {
      uint64_t u;
      std::memcpy(&u, &d, sizeof u);
      return u;
    };
    auto value = [](uint64_t u) {
      double d;
      std::memcpy(&d, &u, sizeof d);
      return d;
    };
    for (uint32_t k = 1; k < 256; ++k) {
      uint64_t lo = bits(0.0), hi = bits(2.0);  // byte(lo) < k <= byte(hi) = 255
      while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (LightnessByte(value(mid)) >= k) hi = mid;
        else lo = mid;
      }
      t.first[k] = value(hi);
    }
    t.oneStepPerSlice = 1;
    for (int32_t i = 0; i <= LightnessSlices + 1; ++i) {
      const double y = double(i) / LightnessSlices;
      const uint32_t k = SearchLightnessSteps(t, y);
      t.atSlice[i] = uint8_t(k);
      if (i <= LightnessSlices && k < 255 &&
          t.first[k + 2 > 256 ? 256 : k + 2] < double(i + 1) / LightnessSlices)
        t.oneStepPerSlice = 0;
    }
    return &t;
  }();
  return *table;
}

inline uint32_t LightnessByteFromSteps(const LightnessSteps8& t, double Y) {
  // Y of an 8-bit colour lies in 0 .. about 1.0000001: slice at most LightnessSlices.
  const int32_t slice = int32_t(Y * LightnessSlices);
  const uint32_t k = t.atSlice[slice > LightnessSlices ? LightnessSlices : slice];
  return k + uint32_t(t.first[k + 1] <= Y);
}

// ---- typed kernels -------------------------------------------------------------------------

// Grey, hue and saturation of R,G,B 8 pixels as plain index loops over 32-bit indices, so
// that they vectorise, the stores of all three channels included (the byte shuffles of
// three-channel pixels need more than the baseline vector set: built for AVX2 as well).
// The accessors' grey (299 R + 587 G + 114 B + 500) / 1000 in 16-bit lanes: the eighth of
// the sum is 37 R + 73 G + 14 B + 62 plus the eighth of the remainder 3 R + 3 G + 2 B + 4
// (below 2^15), and its division by 125 is the high half of x 33555, shifted by 6 (checked
// for every colour).
QV_COMPONENT_CLONES void GreyRgb8(uint8_t* __restrict p, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const uint16_t r = p[3 * i], g = p[3 * i + 1], b = p[3 * i + 2];
    const uint16_t eighth = uint16_t(37 * r + 73 * g + 14 * b + 62 +
                                     (uint16_t(3 * r + 3 * g + 2 * b + 4) >> 3));
    const uint8_t v = uint8_t(uint16_t((uint32_t(eighth) * 33555u) >> 16) >> 6);
    p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = v;
  }
}
// SetGray16 of an 8-bit picture keeps the high byte.
QV_COMPONENT_CLONES void HueGreyRgb8(uint8_t* __restrict p, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t v = uint8_t(Hue16OfRgb8(p[3 * i], p[3 * i + 1], p[3 * i + 2]) >> 8);
    p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = v;
  }
}
QV_COMPONENT_CLONES void SatGreyRgb8(uint8_t* __restrict p, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t v = uint8_t(Sat16OfRgb8(p[3 * i], p[3 * i + 1], p[3 * i + 2]) >> 8);
    p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = v;
  }
}

#ifdef QV_COMPONENT_SSSE3
// The same grey eight pixels (24 bytes) a step with byte shuffles and byte-pair multiply-adds:
// every coefficient of the 16-bit form (37, 73, 14 and the remainder's 3, 3, 2) fits a signed
// byte and every partial sum a signed 16-bit lane.  Pixels 0..4 are read from the 16 bytes at
// p, pixels 5..7 from the 16 bytes at p + 8.  The steps return the pixels done; the caller
// finishes the tail.
alignas(16) constexpr int8_t GreyShuffles[6][16] = {
    {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, -1, -1, -1, -1, -1, -1},     // R, G of pixels 0..4
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, 8, 10, 11, 13, 14},  // R, G of pixels 5..7
    {2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1},   // B, 0 of pixels 0..4
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, -1, 12, -1, 15, -1},  // B, 0 of pixels 5..7
    {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5},                // greys to bytes 0..15
    {5, 5, 6, 6, 6, 7, 7, 7, -1, -1, -1, -1, -1, -1, -1, -1},         // greys to bytes 16..23
};
constexpr int16_t GreyWeightsRg = int16_t(73 << 8 | 37), GreyRemainderRg = int16_t(3 << 8 | 3);
constexpr int16_t GreyWeightB = 14, GreyRemainderB = 2;

__attribute__((target("ssse3"))) inline __m128i GreyShuffle(int32_t k) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(GreyShuffles[k]));
}

__attribute__((target("ssse3"))) int64_t GreyRgb8Ssse3(uint8_t* p, int64_t n) {
  const __m128i rgLo = GreyShuffle(0), rgHi = GreyShuffle(1);
  const __m128i bLo = GreyShuffle(2), bHi = GreyShuffle(3);
  const __m128i spread0 = GreyShuffle(4), spread1 = GreyShuffle(5);
  const __m128i kRg = _mm_set1_epi16(GreyWeightsRg), kB = _mm_set1_epi16(GreyWeightB);
  const __m128i kRemRg = _mm_set1_epi16(GreyRemainderRg), kRemB = _mm_set1_epi16(GreyRemainderB);
  const __m128i c62 = _mm_set1_epi16(62), c4 = _mm_set1_epi16(4);
  const __m128i c33555 = _mm_set1_epi16(int16_t(33555));
  int64_t i = 0;
  for (; i + 8 <= n; i += 8, p += 24) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i rg = _mm_or_si128(_mm_shuffle_epi8(lo, rgLo), _mm_shuffle_epi8(hi, rgHi));
    const __m128i b = _mm_or_si128(_mm_shuffle_epi8(lo, bLo), _mm_shuffle_epi8(hi, bHi));
    const __m128i main = _mm_add_epi16(_mm_maddubs_epi16(rg, kRg), _mm_maddubs_epi16(b, kB));
    const __m128i rem = _mm_add_epi16(_mm_maddubs_epi16(rg, kRemRg), _mm_maddubs_epi16(b, kRemB));
    const __m128i eighth =
        _mm_add_epi16(_mm_add_epi16(main, c62), _mm_srli_epi16(_mm_add_epi16(rem, c4), 3));
    const __m128i grey = _mm_srli_epi16(_mm_mulhi_epu16(eighth, c33555), 6);
    const __m128i bytes = _mm_packus_epi16(grey, grey);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(bytes, spread0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm_shuffle_epi8(bytes, spread1));
  }
  return i;
}

__attribute__((target("avx2"))) inline __m256i GreyShuffle2(int32_t k) {
  const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(GreyShuffles[k]));
  return _mm256_broadcastsi128_si256(v);
}
__attribute__((target("avx2"))) inline __m256i LoadHalves(const uint8_t* a, const uint8_t* b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// Sixteen pixels a step: each 128-bit half does the SSSE3 step, pixels 0..7 from p and
// 8..15 from p + 24.
__attribute__((target("avx2"))) int64_t GreyRgb8Avx2(uint8_t* p, int64_t n) {
  const __m256i rgLo = GreyShuffle2(0), rgHi = GreyShuffle2(1);
  const __m256i bLo = GreyShuffle2(2), bHi = GreyShuffle2(3);
  const __m256i spread0 = GreyShuffle2(4), spread1 = GreyShuffle2(5);
  const __m256i kRg = _mm256_set1_epi16(GreyWeightsRg), kB = _mm256_set1_epi16(GreyWeightB);
  const __m256i kRemRg = _mm256_set1_epi16(GreyRemainderRg);
  const __m256i kRemB = _mm256_set1_epi16(GreyRemainderB);
  const __m256i c62 = _mm256_set1_epi16(62), c4 = _mm256_set1_epi16(4);
  const __m256i c33555 = _mm256_set1_epi16(int16_t(33555));
  int64_t i = 0;
  for (; i + 16 <= n; i += 16, p += 48) {
    const __m256i lo = LoadHalves(p, p + 24);
    const __m256i hi = LoadHalves(p + 8, p + 32);
    const __m256i rg =
        _mm256_or_si256(_mm256_shuffle_epi8(lo, rgLo), _mm256_shuffle_epi8(hi, rgHi));
    const __m256i b = _mm256_or_si256(_mm256_shuffle_epi8(lo, bLo), _mm256_shuffle_epi8(hi, bHi));
    const __m256i main =
        _mm256_add_epi16(_mm256_maddubs_epi16(rg, kRg), _mm256_maddubs_epi16(b, kB));
    const __m256i rem =
        _mm256_add_epi16(_mm256_maddubs_epi16(rg, kRemRg), _mm256_maddubs_epi16(b, kRemB));
    const __m256i eighth = _mm256_add_epi16(_mm256_add_epi16(main, c62),
                                            _mm256_srli_epi16(_mm256_add_epi16(rem, c4), 3));
    const __m256i grey = _mm256_srli_epi16(_mm256_mulhi_epu16(eighth, c33555), 6);
    const __m256i bytes = _mm256_packus_epi16(grey, grey);
    const __m256i out0 = _mm256_shuffle_epi8(bytes, spread0);
    const __m256i out1 = _mm256_shuffle_epi8(bytes, spread1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(out0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm256_castsi256_si128(out1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 24), _mm256_extracti128_si256(out0, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 40), _mm256_extracti128_si256(out1, 1));
  }
  return i;
}
#endif

// 0 for a mode and colour option these loops don't serve.
inline int32_t ComponentRowRgb8Loops(uint8_t* p, int64_t n, int32_t mode, int32_t colorize) {
  void (*loop)(uint8_t*, int32_t) = nullptr;
  if (mode == 1) loop = GreyRgb8;
  else if (mode == 5 && !colorize) loop = HueGreyRgb8;
  else if (mode == 6 && !colorize) loop = SatGreyRgb8;
  if (!loop) return 0;
#ifdef QV_COMPONENT_SSSE3
  static const int32_t hasSsse3 = __builtin_cpu_supports("ssse3");
  static const int32_t hasAvx2 = __builtin_cpu_supports("avx2");
  if (mode == 1 && hasAvx2) {
    const int64_t done = GreyRgb8Avx2(p, n);
    p += 3 * done;
    n -= done;
  }
  if (mode == 1 && hasSsse3) {
    const int64_t done = GreyRgb8Ssse3(p, n);
    p += 3 * done;
    n -= done;
  }
#endif
  constexpr int64_t Block = 4096;  // keeps 3 x index inside 32 bits on any row
  for (int64_t i = 0; i < n; i += Block) loop(p + 3 * i, int32_t(n - i < Block ? n - i : Block));
  return 1;
}

#if defined(__GNUC__)
#define QV_COMPONENT_INLINE inline __attribute__((always_inline))
#else
#define QV_COMPONENT_INLINE inline
#endif

// Modes 1..14 at any colorize, 15..22 without it; NB is also the depth class here.  Inlined
// into its callers so that the R,G,B 8 wrapper compiles it for wider vectors too.
template <int NB, int CH>
QV_COMPONENT_INLINE void ComponentRowTyped(SampleType<NB>* p, int64_t n, int32_t mode,
                                           int32_t colorize) {
  typedef SampleType<NB> T;
  constexpr uint32_t F = NB == 32 ? 0xFFFFFFFFu : (1u << NB) - 1u;
  auto each = [&](auto fn) {
    T* q = p;
    for (int64_t i = 0; i < n; ++i, q += CH) fn(q);
  };
  if constexpr (NB == 8 && CH == 3) {
    if (ComponentRowRgb8Loops(p, n, mode, colorize)) return;
  }
  switch (mode) {
    case 1:
      each([](T* q) { StoreGray<NB, CH, NB>(q, GrayAt<NB, CH, NB>(q)); });
      return;
    case 2:
    case 3:
    case 4: {
      const int32_t c = mode - 2;
      each([&](T* q) {
        uint32_t v[3];
        RgbAt<NB, CH, NB>(q, &v[0], &v[1], &v[2]);
        if (!colorize) {
          StoreGray<NB, CH, NB>(q, v[c]);
        } else {
          uint32_t o[3] = {0, 0, 0};
          o[c] = v[c];
          StoreRgb<NB, CH, NB>(q, o[0], o[1], o[2]);
        }
      });
      return;
    }
    case 5:
    case 6:
      if constexpr (NB == 32) {
        each([&](T* q) {
          uint32_t r, g, b, h, s;
          RgbAt<NB, CH, 32>(q, &r, &g, &b);
          Rgb32ToHsv32(r, g, b, &h, &s, nullptr);
          if (!colorize) {
            StoreGray<NB, CH, 32>(q, mode == 5 ? h : s);
          } else {
            uint32_t o[3];
            if (mode == 5) Hsv32ToRgb32(h, 4294967295u, 4294967295u, &o[0], &o[1], &o[2]);
            else Hsv32ToRgb32(0, s, 4294967295u, &o[0], &o[1], &o[2]);
            StoreRgb<NB, CH, 32>(q, o[0], o[1], o[2]);
          }
        });
      } else {
        each([&](T* q) {
          uint32_t h = 0, s = 0;
          if constexpr (NB == 8 && CH == 3) {
            h = Hue16OfRgb8(q[0], q[1], q[2]);
            s = Sat16OfRgb8(q[0], q[1], q[2]);
          } else if constexpr (CH == 3) {
            uint32_t r, g, b;
            RgbAt<NB, CH, 16>(q, &r, &g, &b);
            HueSat16(int32_t(r), int32_t(g), int32_t(b), &h, &s);
          }
          if (!colorize) {
            StoreGray<NB, CH, 16>(q, mode == 5 ? h : s);
          } else {
            uint16_t o[3];
            if (mode == 5) Hsv16ToRgb16(uint16_t(h), 65535, 65535, &o[0], &o[1], &o[2]);
            else Hsv16ToRgb16(0, uint16_t(s), 65535, &o[0], &o[1], &o[2]);
            StoreRgb<NB, CH, 16>(q, o[0], o[1], o[2]);
          }
        });
      }
      return;
    case 7: {
      constexpr int VD = NB == 32 ? 32 : 16;
      each([](T* q) {
        uint32_t r, g, b;
        RgbAt<NB, CH, VD>(q, &r, &g, &b);
        StoreGray<NB, CH, VD>(q, Max3(r, g, b));
      });
      return;
    }
    case 8:
    case 9:
    case 10: {
      const int32_t c = mode - 8;
      each([&](T* q) {
        uint32_t v[3];
        RgbAt<NB, CH, NB>(q, &v[0], &v[1], &v[2]);
        if (!colorize) {
          StoreGray<NB, CH, NB>(q, F - v[c]);
        } else {
          uint32_t o[3] = {F, F, F};
          o[c] = v[c];
          StoreRgb<NB, CH, NB>(q, o[0], o[1], o[2]);
        }
      });
      return;
    }
    case 11:
    case 12:
    case 13:
    case 14: {
      // C = max - R (= full - K - R), K = full - max; the 8-bit class reads the same values
      // through GetCMYK8, and its ink-on-white colour (SetCMYK8 with one ink) is the R,G,B
      // below.
      const int32_t c = mode - 11;
      each([&](T* q) {
        uint32_t v[3];
        RgbAt<NB, CH, NB>(q, &v[0], &v[1], &v[2]);
        const uint32_t mx = Max3(v[0], v[1], v[2]);
        const uint32_t ink = c == 3 ? F - mx : mx - v[c];
        if (!colorize) {
          StoreGray<NB, CH, NB>(q, ink);
        } else if (c == 3) {
          StoreRgb<NB, CH, NB>(q, F - ink, F - ink, F - ink);
        } else {
          uint32_t o[3] = {F, F, F};
          o[c] = F - ink;
          StoreRgb<NB, CH, NB>(q, o[0], o[1], o[2]);
        }
      });
      return;
    }
    default:  // 15..22, colorize off
      if constexpr (NB == 8) {
        const SrgbProducts8& t = GetSrgbProducts8();
        if (mode == 18) {
          const LightnessSteps8& steps = GetLightnessSteps8();
          if (steps.oneStepPerSlice) {
            each([&](T* q) {
              uint32_t r, g, b;
              RgbAt<NB, CH, 8>(q, &r, &g, &b);
              const double Y = t.y[0][r] + t.y[1][g] + t.y[2][b];
              StoreGray<NB, CH, 8>(q, LightnessByteFromSteps(steps, Y));
            });
          } else {
            each([&](T* q) {
              uint32_t r, g, b;
              RgbAt<NB, CH, 8>(q, &r, &g, &b);
              const double Y = t.y[0][r] + t.y[1][g] + t.y[2][b];
              StoreGray<NB, CH, 8>(q, SearchLightnessSteps(steps, Y));
            });
          }
          return;
        }
        each([&](T* q) {
          uint32_t r, g, b;
          RgbAt<NB, CH, 8>(q, &r, &g, &b);
          // The sums in the order SrgbToXyz forms them.
          const double X = t.x[0][r] + t.x[1][g] + t.x[2][b];
          const double Y = t.y[0][r] + t.y[1][g] + t.y[2][b];
          const double Z = t.z[0][r] + t.z[1][g] + t.z[2][b];
          StoreGray<NB, CH, 32>(q, PackCie(mode, X, Y, Z));
        });
        return;
      }
      each([&](T* q) {
        uint32_t r, g, b;
        RgbAt<NB, CH, NB>(q, &r, &g, &b);
        double X, Y, Z;
        SrgbToXyz(double(r) / double(F), double(g) / double(F), double(b) / double(F), &X, &Y,
                  &Z);
        StoreGray<NB, CH, 32>(q, PackCie(mode, X, Y, Z));
      });
      return;
  }
}

// R,G,B 8 is the common picture: its kernel is also built for wider vectors.
QV_COMPONENT_CLONES void ComponentRowRgb8(uint8_t* p, int64_t n, int32_t mode,
                                          int32_t colorize) {
  ComponentRowTyped<8, 3>(p, n, mode, colorize);
}

// ---- accessor path -------------------------------------------------------------------------

struct ClassIo {
  C_ImgBuff* rec;
  int32_t bits;
  int32_t GetRgb(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const {
    if (bits == 8) {
      uint8_t a, c, d;
      if (!rec->GetRGB8(x, y, &a, &c, &d)) return 0;
      *r = a, *g = c, *b = d;
    } else if (bits == 16) {
      uint16_t a, c, d;
      if (!rec->GetRGB16(x, y, &a, &c, &d)) return 0;
      *r = a, *g = c, *b = d;
    } else {
      if (!rec->GetRGB32(x, y, r, g, b)) return 0;
    }
    return 1;
  }
  int32_t GetGray(int32_t x, int32_t y, uint32_t* v) const {
    if (bits == 8) {
      uint8_t a;
      if (!rec->GetGray8(x, y, &a)) return 0;
      *v = a;
    } else if (bits == 16) {
      uint16_t a;
      if (!rec->GetGray16(x, y, &a)) return 0;
      *v = a;
    } else {
      if (!rec->GetGray32(x, y, v)) return 0;
    }
    return 1;
  }
  void SetGray(int32_t x, int32_t y, uint32_t v) const {
    if (bits == 8) rec->SetGray8(x, y, uint8_t(v));
    else if (bits == 16) rec->SetGray16(x, y, uint16_t(v));
    else rec->SetGray32(x, y, v);
  }
  void SetRgb(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b) const {
    if (bits == 8) rec->SetRGB8(x, y, uint8_t(r), uint8_t(g), uint8_t(b));
    else if (bits == 16) rec->SetRGB16(x, y, uint16_t(r), uint16_t(g), uint16_t(b));
    else rec->SetRGB32(x, y, r, g, b);
  }
};

void ComponentPixelAccessor(const ClassIo& io, int32_t x, int32_t y, int32_t mode,
                            int32_t colorize) {
  C_ImgBuff* rec = io.rec;
  const uint32_t F = io.bits == 8 ? 255u : io.bits == 16 ? 65535u : 4294967295u;
  if (mode == 1) {
    uint32_t v;
    if (io.GetGray(x, y, &v)) io.SetGray(x, y, v);
    return;
  }
  if (mode >= 15) {
    double X, Y, Z;
    if (!rec->GetXYZ(x, y, &X, &Y, &Z)) return;
    if (!colorize) {
      rec->SetGray32(x, y, PackCie(mode, X, Y, Z));
      return;
    }
    double L = 0, a = 0, b = 0;
    if (mode >= 18) XyzToLab(X, Y, Z, &L, &a, &b);
    switch (mode) {
      case 15: rec->SetXYZ(x, y, X, 0, 0); break;
      case 16: rec->SetXYZ(x, y, 0, Y, 0); break;
      case 17: rec->SetXYZ(x, y, 0, 0, Z); break;
      case 18: rec->SetLab(x, y, L, 0, 0); break;
      case 19: rec->SetLab(x, y, 50, a, 0); break;
      case 20: rec->SetLab(x, y, 50, 0, b); break;
      case 21: rec->SetLCh(x, y, 100, std::sqrt(a * a + b * b), 0); break;
      default: {
        double h = std::atan2(b, a);
        while (h > TwoPi) h -= TwoPi;
        while (h < 0) h += TwoPi;
        rec->SetLCh(x, y, 50, 135, h);
        break;
      }
    }
    return;
  }
  if ((mode == 5 || mode == 6) && io.bits != 32) {
    uint16_t h, s;
    if (!rec->GetHSV16(x, y, &h, &s, nullptr)) return;
    if (!colorize) rec->SetGray16(x, y, mode == 5 ? h : s);
    else if (mode == 5) rec->SetHSV16(x, y, h, 65535, 65535);
    else rec->SetHSV16(x, y, 0, s, 65535);
    return;
  }
  if ((mode >= 11 && mode <= 14) && io.bits == 8) {
    uint8_t ink[4];
    if (!rec->GetCMYK8(x, y, &ink[0], &ink[1], &ink[2], &ink[3])) return;
    const uint8_t v = ink[mode - 11];
    if (!colorize) rec->SetGray8(x, y, v);
    else if (mode == 11) rec->SetCMYK8(x, y, v, 0, 0, 0);
    else if (mode == 12) rec->SetCMYK8(x, y, 0, v, 0, 0);
    else if (mode == 13) rec->SetCMYK8(x, y, 0, 0, v, 0);
    else rec->SetCMYK8(x, y, 0, 0, 0, v);
    return;
  }
  uint32_t c[3];
  if (mode == 7) {  // V = max at 16 bits (8/16-bit class) or 32, always grey
    if (io.bits == 32) {
      if (!rec->GetRGB32(x, y, &c[0], &c[1], &c[2])) return;
      rec->SetGray32(x, y, Max3(c[0], c[1], c[2]));
    } else {
      uint16_t a, b, d;
      if (!rec->GetRGB16(x, y, &a, &b, &d)) return;
      rec->SetGray16(x, y, uint16_t(Max3(a, b, d)));
    }
    return;
  }
  if (!io.GetRgb(x, y, &c[0], &c[1], &c[2])) return;
  if (mode == 5 || mode == 6) {  // 32-bit class
    uint32_t h, s, o[3];
    Rgb32ToHsv32(c[0], c[1], c[2], &h, &s, nullptr);
    if (!colorize) {
      rec->SetGray32(x, y, mode == 5 ? h : s);
      return;
    }
    if (mode == 5) Hsv32ToRgb32(h, 4294967295u, 4294967295u, &o[0], &o[1], &o[2]);
    else Hsv32ToRgb32(0, s, 4294967295u, &o[0], &o[1], &o[2]);
    rec->SetRGB32(x, y, o[0], o[1], o[2]);
    return;
  }
  if (mode <= 4) {
    const int32_t k = mode - 2;
    if (!colorize) {
      io.SetGray(x, y, c[k]);
    } else {
      uint32_t o[3] = {0, 0, 0};
      o[k] = c[k];
      io.SetRgb(x, y, o[0], o[1], o[2]);
    }
    return;
  }
  if (mode <= 10) {
    const int32_t k = mode - 8;
    if (!colorize) {
      io.SetGray(x, y, F - c[k]);
    } else {
      uint32_t o[3] = {F, F, F};
      o[k] = c[k];
      io.SetRgb(x, y, o[0], o[1], o[2]);
    }
    return;
  }
  // 11..14 in the 16- and 32-bit classes
  const uint32_t mx = Max3(c[0], c[1], c[2]);
  const uint32_t K = F - mx;
  if (mode == 14) {
    if (!colorize) io.SetGray(x, y, K);
    else io.SetRgb(x, y, F - K, F - K, F - K);
    return;
  }
  const int32_t k = mode - 11;
  const uint32_t ink = mx - c[k];
  if (!colorize) {
    io.SetGray(x, y, ink);
  } else {
    uint32_t o[3] = {F, F, F};
    o[k] = F - ink;
    io.SetRgb(x, y, o[0], o[1], o[2]);
  }
}

void ComponentRows(void* ctx, uint64_t first, uint64_t count) {
  const ComponentJob& job = *static_cast<const ComponentJob*>(ctx);
  C_ImgBuff* rec = job.picture->record;
  const RoiRect r{job.x0, job.y0, job.x1, job.y1};
  int32_t yb, ye;
  PieceRows(r, first, count, &yb, &ye);
  const int32_t typed = EngineTypedKernels() && !(job.colorize && job.mode >= 15);
  const ClassIo io{rec, FormatClassBits(rec->format)};
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t done = typed && DispatchTyped(rec->format, [&]<int NB, int CH>() {
      if constexpr (NB == 8 && CH == 3)
        ComponentRowRgb8(RowPtr<uint8_t>(rec, r.x0, y), RoiWidth(r), job.mode, job.colorize);
      else
        ComponentRowTyped<NB, CH>(RowPtr<SampleType<NB>>(rec, r.x0, y), RoiWidth(r), job.mode,
                                  job.colorize);
    });
    if (done) continue;
    for (int32_t x = r.x0; x <= r.x1; ++x) ComponentPixelAccessor(io, x, y, job.mode, job.colorize);
  }
}

// ---- bands ---------------------------------------------------------------------------------

// Pixels a band needs, by what a pixel costs.  On a virtual machine handing out a job took
// 50 to 250 microseconds, so a band should hold a few hundred microseconds of work: the
// typed grey, channel and ink modes take a fifth of a nanosecond a pixel (a full HD grey
// picture ran slower on three bands than on one thread), 8-bit hue, saturation and L* a
// few, the other CIE modes, the other hue kernels and the accessors tens to hundreds.
int64_t MinBandPixels(int32_t format, int32_t mode, int32_t colorize) {
  if (!IsTypedFormat(format) || !EngineTypedKernels() || (colorize && mode >= 15))
    return 4 * 1024;
  if (mode == 18 && FormatClassBits(format) == 8) return 64 * 1024;  // L* from the Y steps
  if (mode >= 15) return 4 * 1024;
  if (mode == 5 || mode == 6) return format == 4 && !colorize ? 128 * 1024 : 4 * 1024;
  return 1024 * 1024;
}

void RunComponentBands(const ComponentJob& job, const RoiRect& r) {
  RunBands(ComponentRows, const_cast<ComponentJob*>(&job), RoiHeight(r), RoiWidth(r),
           MinBandPixels(job.picture->record->format, job.mode, job.colorize));
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t ExtractComponent(CImgBuff* img, int32_t mode, int32_t colorize, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  if (mode > 22) return 0;
  const int32_t f = img->record->format;
  if (colorize && !(f >= 4 && f <= 9)) return 0;  // grey and empty pictures cannot take a colour
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  if (!colorize && IsGrayFormat(f) && (mode <= 4 || mode == 7) && mode >= 1) return 1;
  if (mode < 1) return 0;
  // An empty picture reaches here only with a rectangle: every setter would refuse it.
  if (!IsValidFormat(f) || !img->record->pixels) return 1;
  ComponentJob job{img, colorize, mode, r.x0, r.y0, r.x1, r.y1};
  RunComponentBands(job, r);
  return 1;
}
