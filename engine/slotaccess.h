// slotaccess.h - the accessors of a per-format slot at a depth chosen at compile time, for
// the reference paths of row kernels: gray or R, G, B of a pixel at 8, 16 or 32 bits as
// C_ImgBuff's getters and setters convert them.  The point must lie inside the picture.
//
//   AccessorGray<D> / AccessorRgb<D>        read through GetGray8/16/32, GetRGB8/16/32
//   AccessorSetGray<D> / AccessorSetRgb<D>  write through SetGray8/16/32, SetRGB8/16/32
#pragma once
#include <cstdint>

#include "core/imgbuff.h"

template <int D>
inline void AccessorGray(const C_ImgBuff* r, int32_t x, int32_t y, uint32_t* v) {
  if constexpr (D == 8) {
    uint8_t t;
    r->GetGray8(x, y, &t);
    *v = t;
  } else if constexpr (D == 16) {
    uint16_t t;
    r->GetGray16(x, y, &t);
    *v = t;
  } else {
    r->GetGray32(x, y, v);
  }
}

template <int D>
inline void AccessorRgb(const C_ImgBuff* r, int32_t x, int32_t y, uint32_t* v) {
  if constexpr (D == 8) {
    uint8_t a, b, c;
    r->GetRGB8(x, y, &a, &b, &c);
    v[0] = a, v[1] = b, v[2] = c;
  } else if constexpr (D == 16) {
    uint16_t a, b, c;
    r->GetRGB16(x, y, &a, &b, &c);
    v[0] = a, v[1] = b, v[2] = c;
  } else {
    r->GetRGB32(x, y, &v[0], &v[1], &v[2]);
  }
}

template <int D>
inline void AccessorSetGray(C_ImgBuff* r, int32_t x, int32_t y, uint32_t v) {
  if constexpr (D == 8) r->SetGray8(x, y, uint8_t(v));
  else if constexpr (D == 16) r->SetGray16(x, y, uint16_t(v));
  else r->SetGray32(x, y, v);
}

template <int D>
inline void AccessorSetRgb(C_ImgBuff* r, int32_t x, int32_t y, uint32_t a, uint32_t b, uint32_t c) {
  if constexpr (D == 8) r->SetRGB8(x, y, uint8_t(a), uint8_t(b), uint8_t(c));
  else if constexpr (D == 16) r->SetRGB16(x, y, uint16_t(a), uint16_t(b), uint16_t(c));
  else r->SetRGB32(x, y, a, b, c);
}
