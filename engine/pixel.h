// pixel.h - typed access to the pixels of formats 1 to 6 with the image core's values, for
// row kernels: a gray or R, G, B sample of native depth NB read or written at another depth
// exactly as the C_ImgBuff accessors convert it.
//
//   SampleType<NB>   the integer type of an NB-bit sample
//   Depth<From,To>   widening by bit replication, narrowing by keeping the high part
//   GrayAt<D>        the accessors' gray at depth D of a typed pixel (GetGray8/16/32)
//   RgbAt<D>         the accessors' R, G, B at depth D (GetRGB8/16/32)
//   StoreGray<D>     SetGray8/16/32 of a typed pixel
//   StoreRgb<D>      SetRGB8/16/32 of a typed pixel
//   ClampTruncSample<NB>  a blended double as an NB-bit sample: the maximum above it, else truncated
#pragma once
#include <cstdint>

#include "engine/frame.h"

template <int NB> struct SampleTypeOf;
template <> struct SampleTypeOf<8> { typedef uint8_t type; };
template <> struct SampleTypeOf<16> { typedef uint16_t type; };
template <> struct SampleTypeOf<32> { typedef uint32_t type; };
template <int NB> using SampleType = typename SampleTypeOf<NB>::type;

template <int From, int To>
inline uint32_t Depth(uint32_t v) {
  if constexpr (From == To) {
    return v;
  } else if constexpr (To > From) {
    constexpr uint32_t full = To == 32 ? 0xFFFFFFFFu : (1u << To) - 1u;
    return v * (full / ((1u << From) - 1u));
  } else {
    return v >> (From - To);
  }
}

// Gray from colour at depth D: channels widened first when D is deeper than the picture,
// luma first and then narrowed when it is shallower (the accessors' order).
template <int NB, int CH, int D>
inline uint32_t GrayAt(const SampleType<NB>* p) {
  if constexpr (CH == 1) {
    return Depth<NB, D>(p[0]);
  } else if constexpr (D > NB) {
    if constexpr (D <= 16) return Luma16(Depth<NB, D>(p[0]), Depth<NB, D>(p[1]), Depth<NB, D>(p[2]));
    else return Luma(Depth<NB, D>(p[0]), Depth<NB, D>(p[1]), Depth<NB, D>(p[2]));
  } else if constexpr (NB <= 16) {
    return Depth<NB, D>(Luma16(p[0], p[1], p[2]));
  } else {
    return Depth<NB, D>(Luma(p[0], p[1], p[2]));
  }
}

template <int NB, int CH, int D>
inline void RgbAt(const SampleType<NB>* p, uint32_t* r, uint32_t* g, uint32_t* b) {
  if constexpr (CH == 1) {
    *r = *g = *b = Depth<NB, D>(p[0]);
  } else {
    *r = Depth<NB, D>(p[0]);
    *g = Depth<NB, D>(p[1]);
    *b = Depth<NB, D>(p[2]);
  }
}

template <int NB, int CH, int D>
inline void StoreGray(SampleType<NB>* p, uint32_t v) {
  const SampleType<NB> s = SampleType<NB>(Depth<D, NB>(v));
  p[0] = s;
  if constexpr (CH == 3) p[1] = p[2] = s;
}

// Gray pictures take the luma of the channels, widened first when the picture is deeper.
template <int NB, int CH, int D>
inline void StoreRgb(SampleType<NB>* p, uint32_t r, uint32_t g, uint32_t b) {
  if constexpr (CH == 3) {
    p[0] = SampleType<NB>(Depth<D, NB>(r));
    p[1] = SampleType<NB>(Depth<D, NB>(g));
    p[2] = SampleType<NB>(Depth<D, NB>(b));
  } else if constexpr (NB > D) {
    p[0] = SampleType<NB>(Luma(Depth<D, NB>(r), Depth<D, NB>(g), Depth<D, NB>(b)));
  } else {
    p[0] = SampleType<NB>(Depth<D, NB>(Luma(r, g, b)));
  }
}

// A blend of samples computed in doubles, stored at NB bits: above the maximum it is the
// maximum, otherwise truncated toward zero (NaN and negatives give 0 at 32 bits).
template <int NB>
inline SampleType<NB> ClampTruncSample(double v) {
  if constexpr (NB == 32) {
    return ClampTruncU32(v);
  } else {
    constexpr double kMax = NB == 8 ? 255.0 : 65535.0;
    return v > kMax ? SampleType<NB>(kMax) : SampleType<NB>(int32_t(v));
  }
}

// Calls fn.template operator()<NB, CH>() for a typed format 1..6; returns 0 for others.
template <class Fn>
inline int32_t DispatchTyped(int32_t format, Fn&& fn) {
  switch (format) {
    case 1: fn.template operator()<8, 1>(); return 1;
    case 2: fn.template operator()<16, 1>(); return 1;
    case 3: fn.template operator()<32, 1>(); return 1;
    case 4: fn.template operator()<8, 3>(); return 1;
    case 5: fn.template operator()<16, 3>(); return 1;
    case 6: fn.template operator()<32, 3>(); return 1;
    default: return 0;
  }
}
