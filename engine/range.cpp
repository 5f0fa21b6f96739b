// range.cpp - range extraction: pixels inside a hue/saturation/value window (or a gray level
// window) are selected, the others become background; in place inside the rectangle.
// Typed kernels serve formats 1 to 6; formats 7 to 9 and the reference path use the accessors.
// Inside: hue interval and 16-bit HSV - row kernels - row workers - bands - entries - table -
//         hue pick
#include "engine/range.h"
#include "engine/simd.h"

#include <cstdlib>
#include <cstring>

#include "engine/pixel.h"

// The block kernels for R,G,B 8 pictures vectorise; wider vectors where the processor has
// them, chosen once at load time.
#define QV_RANGE_CLONES QV_AVX2_CLONES
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QV_RANGE_SSSE3 1
#endif

namespace {

// ---- hue interval and 16-bit HSV -----------------------------------------------------------

struct HueWindow {
  uint32_t lo, hi;
  uint32_t span;  // (hi - lo) mod 65536; 65535 for the whole circle (where lo equals hi)
  // Inside when h lies at most span above lo going round the circle, which covers the
  // plain (lo <= h <= hi) and the wrapped (h >= lo or h <= hi) interval without a branch.
  int32_t Contains(uint32_t h) const { return int32_t(((h - lo) & 0xFFFFu) <= span); }
};

HueWindow MakeHueWindow(uint16_t centre, uint16_t halfWidth) {
  HueWindow w;
  w.lo = (uint32_t(centre) - halfWidth) & 0xFFFFu;
  w.hi = (uint32_t(centre) + halfWidth) & 0xFFFFu;
  w.span = halfWidth >= 32768 ? 0xFFFFu : (w.hi - w.lo) & 0xFFFFu;
  return w;
}

// The image core's 16-bit HSV (sixth of the circle 10922, full saturation 65534, the red
// sector wrapping at 65535, R tested before G before B), inline for the row kernels.
inline void Hsv16Of(int32_t r, int32_t g, int32_t b, uint32_t* h, uint32_t* s, uint32_t* v) {
  const int32_t mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int32_t mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int32_t d = mx - mn;
  if (d == 0) *h = 0;
  else if (r == mx) *h = uint32_t((65535 + (g - b) * 10922 / d) % 65535);
  else if (g == mx) *h = uint32_t((b - r) * 10922 / d + 21844);
  else *h = uint32_t((r - g) * 10922 / d + 43688);
  *s = mx ? uint32_t(d) * 65534u / uint32_t(mx) : 0u;
  *v = uint32_t(mx);
}

struct Window {
  HueWindow hue;
  uint32_t satMin, satMax, valMin, valMax;
  int32_t Inside(uint32_t h, uint32_t s, uint32_t v) const {
    return hue.Contains(h) & int32_t(satMin <= s) & int32_t(s <= satMax) &
           int32_t(valMin <= v) & int32_t(v <= valMax);
  }
};

// What a row kernel writes: removed pixels the background, selected ones the object value
// with fill, or nothing.
struct Outcome {
  int32_t reverse, fill;
  uint32_t object, background;  // at the kernel's depth
};

Outcome MakeOutcome(uint32_t reverse, uint32_t fill, uint32_t valueFlag, uint32_t full) {
  return Outcome{reverse != 0, fill != 0, valueFlag ? 0u : full, valueFlag ? full : 0u};
}

// ---- row kernels ---------------------------------------------------------------------------

// Typed kernels work in blocks: a test fills one byte per pixel (1 = inside the window),
// then the block is written.  Every pixel is written, kept ones with their own value: on real
// pictures the choice is as good as random, and a branch on it cost more than the colour
// test itself.
constexpr int32_t Block = 256;

template <class T, int CH>
inline void ApplyBlock(T* __restrict p, int32_t n, const uint8_t* __restrict inside,
                       uint32_t reverse, uint32_t fill, T object, T background) {
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t selected = uint32_t(inside[i]) ^ reverse;
    const T put = selected ? object : background;
    const uint32_t keep = selected & (fill ^ 1u);
    for (int c = 0; c < CH; ++c) p[i * CH + c] = keep ? p[i * CH + c] : put;
  }
}
#ifdef QV_RANGE_SSSE3
// ApplyBlock for R,G,B 8, sixteen pixels (48 bytes) a step: the per-pixel choices are made
// as byte masks and spread to the three channels by byte shuffles.  Returns the pixels done.
alignas(16) constexpr int8_t SpreadToChannels[3][16] = {
    {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5},
    {5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10},
    {10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15},
};

__attribute__((target("ssse3"))) int32_t ApplyBlockRgb8Ssse3(uint8_t* p, int32_t n,
                                                             const uint8_t* inside,
                                                             uint32_t reverse, uint32_t fill,
                                                             uint8_t object, uint8_t background) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i flip = reverse ? zero : _mm_set1_epi8(-1);  // outside mask -> selected mask
  const __m128i keepSelected = fill ? zero : _mm_set1_epi8(-1);
  const __m128i obj = _mm_set1_epi8(char(object)), bg = _mm_set1_epi8(char(background));
  __m128i spread[3];
  for (int k = 0; k < 3; ++k)
    spread[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(SpreadToChannels[k]));
  int32_t i = 0;
  for (; i + 16 <= n; i += 16, p += 48) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inside + i));
    const __m128i selected = _mm_xor_si128(_mm_cmpeq_epi8(in, zero), flip);
    const __m128i put = _mm_or_si128(_mm_and_si128(selected, obj), _mm_andnot_si128(selected, bg));
    const __m128i keep = _mm_and_si128(selected, keepSelected);
    for (int k = 0; k < 3; ++k) {
      __m128i* q = reinterpret_cast<__m128i*>(p + 16 * k);
      const __m128i keepK = _mm_shuffle_epi8(keep, spread[k]);
      const __m128i putK = _mm_shuffle_epi8(put, spread[k]);
      const __m128i old = _mm_loadu_si128(q);
      _mm_storeu_si128(q, _mm_or_si128(_mm_and_si128(keepK, old), _mm_andnot_si128(keepK, putK)));
    }
  }
  return i;
}
#endif

QV_RANGE_CLONES void ApplyBlockRgb8Loop(uint8_t* p, int32_t n, const uint8_t* inside,
                                        uint32_t reverse, uint32_t fill, uint8_t object,
                                        uint8_t background) {
  ApplyBlock<uint8_t, 3>(p, n, inside, reverse, fill, object, background);
}

void ApplyBlockRgb8(uint8_t* p, int32_t n, const uint8_t* inside, uint32_t reverse,
                    uint32_t fill, uint8_t object, uint8_t background) {
  int32_t done = 0;
#ifdef QV_RANGE_SSSE3
  static const int32_t hasSsse3 = __builtin_cpu_supports("ssse3");
  if (hasSsse3) done = ApplyBlockRgb8Ssse3(p, n, inside, reverse, fill, object, background);
#endif
  ApplyBlockRgb8Loop(p + 3 * done, n - done, inside + done, reverse, fill, object, background);
}

// The hue window, saturation and value ranges of a block test.
struct HsvTest {
  uint32_t lo, span, satMin, satMax, valMin, valMax;
};

// Inside-the-window bytes of R,G,B 8 pixels with the 16-bit HSV of the accessors.  Widening
// by 257 scales the difference, the range and the maximum alike, so the 16-bit quotients are
// (g - b) x 10922 / d and d x 65534 / max of the 8-bit values.  Single-precision division
// gives them exactly: the numerators are whole numbers below 2^24, and a quotient that is
// not whole lies at least 1/255 from the next whole number, more than half a unit in the
// last place of any value below 65536 (checked for every d and max up to 255).
QV_RANGE_CLONES void HsvInsideRgb8(const uint8_t* __restrict p, int32_t n, const HsvTest& w,
                                   uint8_t* __restrict out) {
  const uint32_t lo = w.lo, span = w.span, satMin = w.satMin, satMax = w.satMax;
  const uint32_t valMin = w.valMin, valMax = w.valMax;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t r = p[3 * i], g = p[3 * i + 1], b = p[3 * i + 2];
    const int32_t mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int32_t mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const int32_t d = mx - mn;
    // Sector by the first channel equal to the maximum, R before G before B; red's negative
    // quotients wrap at 65535.
    const int32_t isR = r == mx, isG = (g == mx) & !isR;
    const int32_t a = isR ? g - b : isG ? b - r : r - g;
    const int32_t base = isR ? (a < 0 ? 65535 : 0) : isG ? 21844 : 43688;
    // d = 0 means a = 0; max = 0 means d = 0: dividing by 1 there gives the 0 required.
    const int32_t q = int32_t(float(a * 10922) / float(d | int32_t(d == 0)));
    const uint32_t h = uint32_t(base + q);
    const uint32_t s = uint32_t(int32_t(float(d * 65534) / float(mx | int32_t(mx == 0))));
    const uint32_t v = uint32_t(mx) * 257u;
    out[i] = uint8_t((((h - lo) & 0xFFFFu) <= span) & (s >= satMin) & (s <= satMax) &
                     (v >= valMin) & (v <= valMax));
  }
}

// The accessors' 8-bit gray of R,G,B 8 pixels, (299 R + 587 G + 114 B + 500) / 1000, with
// 32-bit products only: the sum is below 2^18, and dividing its eighth by 125 as
// x 33555 / 2^22 is exact below 2^15.
QV_RANGE_CLONES void GrayOfRgb8(const uint8_t* __restrict p, int32_t n,
                                uint8_t* __restrict out) {
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t sum = 299u * p[3 * i] + 587u * p[3 * i + 1] + 114u * p[3 * i + 2] + 500u;
    out[i] = uint8_t(((sum >> 3) * 33555u) >> 22);
  }
}

// D is the depth at which the kernel writes (SetGray8 or SetGray16); test(q, m, inside)
// fills inside[0 .. m-1] for the m pixels from q.
template <int NB, int CH, int D, class Test>
void RangeRowTyped(SampleType<NB>* p, int64_t n, const Outcome& o, Test test) {
  typedef SampleType<NB> T;
  const T object = T(Depth<D, NB>(o.object)), background = T(Depth<D, NB>(o.background));
  const uint32_t reverse = o.reverse ? 1u : 0u, fill = o.fill ? 1u : 0u;
  uint8_t inside[Block];
  for (int64_t i = 0; i < n; i += Block) {
    const int32_t m = int32_t(n - i < Block ? n - i : Block);
    T* q = p + i * CH;
    test(q, m, inside);
    if constexpr (NB == 8 && CH == 3)
      ApplyBlockRgb8(q, m, inside, reverse, fill, object, background);
    else ApplyBlock<T, CH>(q, m, inside, reverse, fill, object, background);
  }
}

// A block test from a per-pixel one.
template <int NB, int CH, class Pixel>
inline auto PerPixel(Pixel pixel) {
  return [pixel](const SampleType<NB>* q, int32_t m, uint8_t* inside) {
    for (int32_t j = 0; j < m; ++j) inside[j] = uint8_t(pixel(q + j * CH) != 0);
  };
}

// Format 1 against a level window: branch-free so that it vectorises.
void RangeRowGray8Fast(uint8_t* p, int64_t n, uint32_t lo, uint32_t hi, const Outcome& o) {
  const uint8_t span = uint8_t(hi >= lo ? hi - lo : 0);
  const int32_t empty = hi < lo;
  const uint8_t lo8 = uint8_t(lo), obj = uint8_t(o.object), bg = uint8_t(o.background);
  const uint8_t rev = o.reverse ? 1 : 0, fill = o.fill ? 1 : 0;
  for (int64_t i = 0; i < n; ++i) {
    const uint8_t v = p[i];
    const uint8_t inside = uint8_t(!empty & (uint8_t(v - lo8) <= span));
    const uint8_t selected = inside ^ rev;
    const uint8_t kept = fill ? obj : v;
    p[i] = selected ? kept : bg;
  }
}

// Accessor path: read(x, y, &inside) -> 1 when the pixel could be read; write(x, y, value).
template <class Read, class Write>
void RangeRowAccessor(int32_t y, int32_t x0, int32_t x1, const Outcome& o, Read read,
                      Write write) {
  for (int32_t x = x0; x <= x1; ++x) {
    int32_t inside = 0;
    if (!read(x, y, &inside)) inside = 0;  // an unreadable pixel reads as 0 everywhere
    const int32_t selected = inside != o.reverse;
    if (!selected) write(x, y, o.background);
    else if (o.fill) write(x, y, o.object);
  }
}

// ---- row workers ---------------------------------------------------------------------------

enum RangeKind { RangeGray8, RangeGray16, RangeHsv };

void RangeRows(const HsvRangeJob& job, RangeKind kind, uint64_t first, uint64_t count) {
  if (!job.picture) return;
  C_ImgBuff* rec = job.picture->record;
  RoiRect r;
  if (!PieceInPicture(rec, RoiRect{job.x0, job.y0, job.x1, job.y1}, first, count, &r)) return;
  const int32_t yb = r.y0, ye = r.y1 + 1;
  const uint32_t lo8 = job.valMin >> 8, hi8 = job.valMax >> 8;
  const Window w{MakeHueWindow(job.hue, job.halfWidth), job.satMin, job.satMax, job.valMin,
                 job.valMax};
  const Outcome o = MakeOutcome(job.reverse, job.fill, job.valueFlag,
                                kind == RangeGray8 ? 255u : 65535u);
  const int64_t n = RoiWidth(r);
  const int32_t typed = EngineTypedKernels();
  for (int32_t y = yb; y < ye; ++y) {
    if (typed && rec->format == 1 && kind == RangeGray8) {
      RangeRowGray8Fast(RowPtr<uint8_t>(rec, r.x0, y), n, lo8, hi8, o);
      continue;
    }
    const int32_t done = typed && DispatchTyped(rec->format, [&]<int NB, int CH>() {
      SampleType<NB>* p = RowPtr<SampleType<NB>>(rec, r.x0, y);
      if (kind == RangeGray8) {
        if constexpr (NB == 8 && CH == 3) {
          RangeRowTyped<NB, CH, 8>(p, n, o, [&](const uint8_t* q, int32_t m, uint8_t* inside) {
            GrayOfRgb8(q, m, inside);
            for (int32_t j = 0; j < m; ++j)
              inside[j] = uint8_t((lo8 <= inside[j]) & (inside[j] <= hi8));
          });
        } else {
          RangeRowTyped<NB, CH, 8>(p, n, o, PerPixel<NB, CH>([&](const SampleType<NB>* q) {
            const uint32_t v = GrayAt<NB, CH, 8>(q);
            return int32_t(lo8 <= v) & int32_t(v <= hi8);
          }));
        }
      } else if (kind == RangeGray16) {
        RangeRowTyped<NB, CH, 16>(p, n, o, PerPixel<NB, CH>([&](const SampleType<NB>* q) {
          const uint32_t v = GrayAt<NB, CH, 16>(q);
          return int32_t(job.valMin <= v) & int32_t(v <= job.valMax);
        }));
      } else if constexpr (NB == 8 && CH == 3) {
        const HsvTest test{w.hue.lo, w.hue.span, w.satMin, w.satMax, w.valMin, w.valMax};
        RangeRowTyped<NB, CH, 16>(p, n, o, [&](const uint8_t* q, int32_t m, uint8_t* inside) {
          HsvInsideRgb8(q, m, test, inside);
        });
      } else {
        RangeRowTyped<NB, CH, 16>(p, n, o, PerPixel<NB, CH>([&](const SampleType<NB>* q) {
          uint32_t h = 0, s = 0, v;
          if constexpr (CH == 1) {
            v = Depth<NB, 16>(q[0]);
          } else {
            uint32_t r16, g16, b16;
            RgbAt<NB, CH, 16>(q, &r16, &g16, &b16);
            Hsv16Of(int32_t(r16), int32_t(g16), int32_t(b16), &h, &s, &v);
          }
          return w.Inside(h, s, v);
        }));
      }
    });
    if (done) continue;
    if (kind == RangeGray8) {
      RangeRowAccessor(
          y, r.x0, r.x1, o,
          [&](int32_t x, int32_t yy, int32_t* in) {
            uint8_t v;
            if (!rec->GetGray8(x, yy, &v)) return 0;
            *in = lo8 <= v && v <= hi8;
            return 1;
          },
          [&](int32_t x, int32_t yy, uint32_t v) { rec->SetGray8(x, yy, uint8_t(v)); });
    } else if (kind == RangeGray16) {
      RangeRowAccessor(
          y, r.x0, r.x1, o,
          [&](int32_t x, int32_t yy, int32_t* in) {
            uint16_t v;
            if (!rec->GetGray16(x, yy, &v)) return 0;
            *in = job.valMin <= v && v <= job.valMax;
            return 1;
          },
          [&](int32_t x, int32_t yy, uint32_t v) { rec->SetGray16(x, yy, uint16_t(v)); });
    } else {
      RangeRowAccessor(
          y, r.x0, r.x1, o,
          [&](int32_t x, int32_t yy, int32_t* in) {
            uint16_t h, s, v;
            if (!rec->GetHSV16(x, yy, &h, &s, &v)) return 0;
            *in = w.Inside(h, s, v);
            return 1;
          },
          [&](int32_t x, int32_t yy, uint32_t v) { rec->SetGray16(x, yy, uint16_t(v)); });
    }
  }
}

enum TableKind { TableGray, TableColour };

inline uint32_t Index15(uint32_t r, uint32_t g, uint32_t b) {
  return (r >> 3) * 1024u + (g >> 3) * 32u + (b >> 3);
}

void TableRows(const HsvTableJob& job, TableKind kind, uint64_t first, uint64_t count) {
  if (!job.picture || !job.table) return;
  C_ImgBuff* rec = job.picture->record;
  RoiRect r;
  if (!PieceInPicture(rec, RoiRect{job.x0, job.y0, job.x1, job.y1}, first, count, &r)) return;
  const HsvRangeTable& t = *job.table;
  const int32_t yb = r.y0, ye = r.y1 + 1;
  // The table already holds reverse: a 1 selects.
  const Outcome o = MakeOutcome(0, job.fill, job.valueFlag, 255u);
  const int64_t n = RoiWidth(r);
  const int32_t typed = EngineTypedKernels();
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t done = typed && DispatchTyped(rec->format, [&]<int NB, int CH>() {
      SampleType<NB>* p = RowPtr<SampleType<NB>>(rec, r.x0, y);
      if (kind == TableGray) {
        if constexpr (NB == 8 && CH == 3) {
          RangeRowTyped<NB, CH, 8>(p, n, o, [&](const uint8_t* q, int32_t m, uint8_t* inside) {
            GrayOfRgb8(q, m, inside);
            for (int32_t j = 0; j < m; ++j) inside[j] = uint8_t(t.gray[inside[j]] != 0);
          });
        } else {
          RangeRowTyped<NB, CH, 8>(p, n, o, PerPixel<NB, CH>([&](const SampleType<NB>* q) {
            return int32_t(t.gray[GrayAt<NB, CH, 8>(q)] != 0);
          }));
        }
      } else {
        // Removed pixels are written as (v, v, v) with v 0 or 255, which every format stores
        // exactly as the gray v: one store serves both cases.
        RangeRowTyped<NB, CH, 8>(p, n, o, PerPixel<NB, CH>([&](const SampleType<NB>* q) {
          uint32_t r8, g8, b8;
          RgbAt<NB, CH, 8>(q, &r8, &g8, &b8);
          return int32_t(t.colour[Index15(r8, g8, b8)] != 0);
        }));
      }
    });
    if (done) continue;
    if (kind == TableGray) {
      RangeRowAccessor(
          y, r.x0, r.x1, o,
          [&](int32_t x, int32_t yy, int32_t* in) {
            uint8_t v;
            if (!rec->GetGray8(x, yy, &v)) return 0;
            *in = t.gray[v] != 0;
            return 1;
          },
          [&](int32_t x, int32_t yy, uint32_t v) { rec->SetGray8(x, yy, uint8_t(v)); });
    } else {
      RangeRowAccessor(
          y, r.x0, r.x1, o,
          [&](int32_t x, int32_t yy, int32_t* in) {
            uint8_t r8, g8, b8;
            if (!rec->GetRGB8(x, yy, &r8, &g8, &b8)) return 0;
            *in = t.colour[Index15(r8, g8, b8)] != 0;
            return 1;
          },
          [&](int32_t x, int32_t yy, uint32_t v) {
            if (job.fill) rec->SetGray8(x, yy, uint8_t(v));
            else rec->SetRGB8(x, yy, uint8_t(v), uint8_t(v), uint8_t(v));
          });
    }
  }
}

// ---- bands ---------------------------------------------------------------------------------

// Pixels a band needs, by what a pixel costs.  On a virtual machine handing out a job took
// 50 to 250 microseconds, so a band should hold a few hundred microseconds of work: the
// 8-bit gray level test streams memory like a copy, the other typed gray tests take a
// quarter of a nanosecond a pixel, the R,G,B 8 colour test about one and a half, the
// accessors tens.
int64_t MinBandPixels(int32_t format, ParallelForFn worker) {
  if (!IsTypedFormat(format) || !EngineTypedKernels()) return 16 * 1024;
  if (format == 1 && worker == ExtractRangeRowsGray8) return 4 * 1024 * 1024;
  if (worker == ExtractRangeRowsHsv && !IsGrayFormat(format)) return 128 * 1024;
  return 1024 * 1024;
}

}  // namespace

void ExtractRangeRowsGray8(void* job, uint64_t first, uint64_t count) {
  RangeRows(*static_cast<const HsvRangeJob*>(job), RangeGray8, first, count);
}
void ExtractRangeRowsGray16(void* job, uint64_t first, uint64_t count) {
  RangeRows(*static_cast<const HsvRangeJob*>(job), RangeGray16, first, count);
}
void ExtractRangeRowsHsv(void* job, uint64_t first, uint64_t count) {
  RangeRows(*static_cast<const HsvRangeJob*>(job), RangeHsv, first, count);
}
void ExtractRowsGray(void* job, uint64_t first, uint64_t count) {
  TableRows(*static_cast<const HsvTableJob*>(job), TableGray, first, count);
}
void ExtractRowsColor(void* job, uint64_t first, uint64_t count) {
  TableRows(*static_cast<const HsvTableJob*>(job), TableColour, first, count);
}

// ---- entries -------------------------------------------------------------------------------

int32_t ExtractHsvRange(CImgBuff* img, uint16_t hue, uint16_t halfWidth, uint16_t satMin,
                        uint16_t satMax, uint16_t valMin, uint16_t valMax, uint32_t reverse,
                        uint32_t fill, uint32_t valueFlag, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  if (halfWidth > 32768 || satMin > satMax || valMin > valMax) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  const int32_t f = img->record->format;
  // An empty picture passes GetRoi with a rectangle: nothing to read, nothing to write.
  if (!IsValidFormat(f) || !img->record->pixels) return 1;
  HsvRangeJob job{img,     hue,  halfWidth, satMin, satMax, valMin, valMax,
                  reverse, valueFlag, fill, r.x0, r.y0, r.x1, r.y1};
  ParallelForFn worker = ExtractRangeRowsHsv;
  if (IsGrayFormat(f) && satMin == 0) worker = f == 1 ? ExtractRangeRowsGray8 : ExtractRangeRowsGray16;
  RunBands(worker, &job, RoiHeight(r), RoiWidth(r), MinBandPixels(f, worker));
  return 1;
}

int32_t ExtractLevelRange(CImgBuff* img, uint16_t valMin, uint16_t valMax, uint32_t reverse,
                          uint32_t fill, uint32_t valueFlag, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  const int32_t f = img->record->format;
  if (!IsValidFormat(f) || !img->record->pixels) return 1;
  HsvRangeJob job{img,     0,         32768, 0,    65535, valMin, valMax,
                  reverse, valueFlag, fill,  r.x0, r.y0,  r.x1,   r.y1};
  ParallelForFn worker = FormatClassBits(f) == 8 ? ExtractRangeRowsGray8 : ExtractRangeRowsGray16;
  RunBands(worker, &job, RoiHeight(r), RoiWidth(r), MinBandPixels(f, worker));
  return 1;
}

// ---- table ---------------------------------------------------------------------------------

HsvRangeTable* BuildHsvRangeTable(uint16_t hue, uint16_t halfWidth, uint16_t satMin,
                                  uint16_t satMax, uint16_t valMin, uint16_t valMax,
                                  int32_t reverse) {
  if (halfWidth > 32768 || satMin > satMax || valMin > valMax) return nullptr;
  HsvRangeTable* t = static_cast<HsvRangeTable*>(std::malloc(sizeof(HsvRangeTable)));
  if (!t) return nullptr;
  const uint8_t start = reverse ? 1 : 0, inside = reverse ? 0 : 1;
  std::memset(t->gray, start, sizeof t->gray);
  std::memset(t->colour, start, sizeof t->colour);
  const Window w{MakeHueWindow(hue, halfWidth), satMin, satMax, valMin, valMax};
  for (uint32_t i = 0; i < 32768; ++i) {
    // 5 bits widened to 16 by repeating them: 31 gives 65535, 1 gives 2114.
    auto widen = [](uint32_t c) { return int32_t(c * 2048 + c * 64 + c * 2 + (c >> 4)); };
    uint32_t h, s, v;
    Hsv16Of(widen(i >> 10), widen((i >> 5) & 31), widen(i & 31), &h, &s, &v);
    if (w.Inside(h, s, v)) t->colour[i] = inside;
  }
  if (satMin == 0) {
    t->grayValid = 1;
    for (uint32_t j = valMin >> 8; j <= uint32_t(valMax >> 8); ++j) t->gray[j] = inside;
  } else {
    t->grayValid = 0;
  }
  return t;
}

// ---- hue pick ------------------------------------------------------------------------------

void AdjustHueInterval(uint16_t centre, uint16_t halfWidth, uint16_t hue, uint16_t* outCentre,
                       uint16_t* outHalfWidth) {
  uint32_t c = centre, w = halfWidth;
  const HueWindow win = MakeHueWindow(centre, halfWidth);
  if (!win.Contains(hue)) {
    const uint32_t down = (win.lo - hue) & 0xFFFFu;  // from hue up to the low end
    const uint32_t up = (uint32_t(hue) - win.hi) & 0xFFFFu;  // from the high end up to hue
    uint32_t k;
    if (down > up) {
      k = (up + 1) / 2;
      c = (c + k) & 0xFFFFu;
    } else {
      k = (down + 1) / 2;
      c = (c - k) & 0xFFFFu;
    }
    w = w + k > 32768 ? 32768 : w + k;
  }
  if (outCentre) *outCentre = uint16_t(c);
  if (outHalfWidth) *outHalfWidth = uint16_t(w);
}
