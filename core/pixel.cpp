// pixel.cpp - per-pixel getters and setters of the picture record and handle, converting on
// the fly between the stored format and the form asked for.
// Depth changes: widening replicates bits (8->16 v*257, 8->32 v*16843009, 16->32 v*65537),
// narrowing keeps the high part; luma L = (299 R + 587 G + 114 B + 500) / 1000 in 64 bits.
// Each accessor is one switch on the format with inline arithmetic; no allocation.
// Inside: helpers - integer getters - other getters - setters - handle
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/colour.h"
#include "core/imgbuff.h"

namespace {

// ---- helpers ----

constexpr double kMax32 = 4294967295.0;

inline bool ValidFormat(int32_t f) { return f >= 1 && f < ImgFormatCount; }

// Loads and stores through memcpy: no alignment or aliasing assumptions on the block.
template <class T>
inline T Ld(const unsigned char* p, int i) {
  T v;
  std::memcpy(&v, p + i * sizeof(T), sizeof(T));
  return v;
}
template <class T>
inline void St(unsigned char* p, int i, T v) {
  std::memcpy(p + i * sizeof(T), &v, sizeof(T));
}

inline uint16_t W8to16(uint32_t v) { return static_cast<uint16_t>(v * 257u); }
inline uint32_t W8to32(uint32_t v) { return v * 16843009u; }
inline uint32_t W16to32(uint32_t v) { return v * 65537u; }
inline uint8_t N16to8(uint32_t v) { return static_cast<uint8_t>(v >> 8); }
inline uint8_t N32to8(uint32_t v) { return static_cast<uint8_t>(v >> 24); }
inline uint16_t N32to16(uint32_t v) { return static_cast<uint16_t>(v >> 16); }

inline uint64_t Luma(uint64_t r, uint64_t g, uint64_t b) { return (299 * r + 587 * g + 114 * b + 500) / 1000; }

// CMYK ink amounts to 8-bit colour: R = 255 - C - K when C + K < 256, else 0.
inline uint8_t InkToChannel(uint32_t ink, uint32_t k) { return ink + k < 256 ? static_cast<uint8_t>(255 - ink - k) : 0; }

inline void RgbToCmyk(uint32_t r, uint32_t g, uint32_t b, uint8_t* c, uint8_t* m, uint8_t* y, uint8_t* k) {
  uint32_t mx = r > g ? r : g;
  if (b > mx) mx = b;
  *k = static_cast<uint8_t>(255 - mx);
  *c = static_cast<uint8_t>(mx - r);  // 255 - K - R
  *m = static_cast<uint8_t>(mx - g);
  *y = static_cast<uint8_t>(mx - b);
}

inline double ClampUnit(double v) {
  if (!(v > 0.0)) return 0.0;  // NaN too
  return v > 1.0 ? 1.0 : v;
}

template <class T>
inline void Put(T* p, T v) {
  if (p) *p = v;
}

// Colour of a pixel in the picture's own format family, for formats whose conversion goes
// through a colour space: an XYZ pixel as 32-bit R, G, B; an HSV pixel as 16-bit R, G, B;
// a CMYK pixel as 8-bit R, G, B.
inline void XyzPixelRgb32(const unsigned char* p, uint32_t* r, uint32_t* g, uint32_t* b) {
  XyzToRgb32(Ld<double>(p, 0), Ld<double>(p, 1), Ld<double>(p, 2), r, g, b);
}
inline void HsvPixelRgb16(const unsigned char* p, uint16_t* r, uint16_t* g, uint16_t* b) {
  Hsv16ToRgb16(Ld<uint16_t>(p, 0), Ld<uint16_t>(p, 1), Ld<uint16_t>(p, 2), r, g, b);
}
inline void CmykPixelRgb8(const unsigned char* p, uint8_t* r, uint8_t* g, uint8_t* b) {
  uint32_t k = p[3];
  *r = InkToChannel(p[0], k);
  *g = InkToChannel(p[1], k);
  *b = InkToChannel(p[2], k);
}

inline void StoreXyzFromSrgb(unsigned char* p, double r, double g, double b) {
  double X, Y, Z;
  SrgbToXyz(r, g, b, &X, &Y, &Z);
  St<double>(p, 0, X);
  St<double>(p, 1, Y);
  St<double>(p, 2, Z);
}
inline void StoreHsvFromRgb16(unsigned char* p, uint16_t r, uint16_t g, uint16_t b) {
  uint16_t h, s, v;
  Rgb16ToHsv16(r, g, b, &h, &s, &v);
  St<uint16_t>(p, 0, h);
  St<uint16_t>(p, 1, s);
  St<uint16_t>(p, 2, v);
}
inline void StoreCmykFromRgb8(unsigned char* p, uint32_t r, uint32_t g, uint32_t b) {
  RgbToCmyk(r, g, b, &p[0], &p[1], &p[2], &p[3]);
}
inline void Store3x16(unsigned char* p, uint16_t a, uint16_t b, uint16_t c) {
  St<uint16_t>(p, 0, a);
  St<uint16_t>(p, 1, b);
  St<uint16_t>(p, 2, c);
}
inline void Store3x32(unsigned char* p, uint32_t a, uint32_t b, uint32_t c) {
  St<uint32_t>(p, 0, a);
  St<uint32_t>(p, 1, b);
  St<uint32_t>(p, 2, c);
}

inline const unsigned char* PixelAt(const C_ImgBuff& img, int32_t x, int32_t y) {
  return static_cast<const unsigned char*>(img.pixels) +
         (static_cast<ptrdiff_t>(y) * img.width + x) * ImgBytesPerPixel[img.format];
}
inline unsigned char* PixelAt(C_ImgBuff& img, int32_t x, int32_t y) {
  return static_cast<unsigned char*>(img.pixels) +
         (static_cast<ptrdiff_t>(y) * img.width + x) * ImgBytesPerPixel[img.format];
}

// Setters and checked getters: a valid format and a point inside the picture.
inline bool Writable(const C_ImgBuff& img, int32_t x, int32_t y) {
  return ValidFormat(img.format) && img.pixels && img.Contains(x, y);
}

}  // namespace

// ---- integer getters (no coordinate test) ----

int32_t C_ImgBuff::GetGray8(int32_t x, int32_t y, uint8_t* v) const {
  if (!v) return 1;
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: *v = p[0]; break;
    case ImgFormatGray16: *v = N16to8(Ld<uint16_t>(p, 0)); break;
    case ImgFormatGray32: *v = N32to8(Ld<uint32_t>(p, 0)); break;
    case ImgFormatRgb24: *v = static_cast<uint8_t>(Luma(p[0], p[1], p[2])); break;
    case ImgFormatRgb48:
      *v = N16to8(static_cast<uint32_t>(Luma(Ld<uint16_t>(p, 0), Ld<uint16_t>(p, 1), Ld<uint16_t>(p, 2))));
      break;
    case ImgFormatRgb96:
      *v = N32to8(static_cast<uint32_t>(Luma(Ld<uint32_t>(p, 0), Ld<uint32_t>(p, 1), Ld<uint32_t>(p, 2))));
      break;
    case ImgFormatXyz: {
      uint32_t r, g, b;
      XyzPixelRgb32(p, &r, &g, &b);
      *v = N32to8(static_cast<uint32_t>(Luma(r, g, b)));
      break;
    }
    case ImgFormatHsv48: {
      uint16_t r, g, b;
      HsvPixelRgb16(p, &r, &g, &b);
      *v = N16to8(static_cast<uint32_t>(Luma(r, g, b)));
      break;
    }
    default: {
      uint8_t r, g, b;
      CmykPixelRgb8(p, &r, &g, &b);
      *v = static_cast<uint8_t>(Luma(r, g, b));
      break;
    }
  }
  return 1;
}

int32_t C_ImgBuff::GetGray16(int32_t x, int32_t y, uint16_t* v) const {
  if (!v) return 1;
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: *v = W8to16(p[0]); break;
    case ImgFormatGray16: *v = Ld<uint16_t>(p, 0); break;
    case ImgFormatGray32: *v = N32to16(Ld<uint32_t>(p, 0)); break;
    case ImgFormatRgb24: *v = static_cast<uint16_t>(Luma(W8to16(p[0]), W8to16(p[1]), W8to16(p[2]))); break;
    case ImgFormatRgb48:
      *v = static_cast<uint16_t>(Luma(Ld<uint16_t>(p, 0), Ld<uint16_t>(p, 1), Ld<uint16_t>(p, 2)));
      break;
    case ImgFormatRgb96:
      *v = N32to16(static_cast<uint32_t>(Luma(Ld<uint32_t>(p, 0), Ld<uint32_t>(p, 1), Ld<uint32_t>(p, 2))));
      break;
    case ImgFormatXyz: {
      uint32_t r, g, b;
      XyzPixelRgb32(p, &r, &g, &b);
      *v = N32to16(static_cast<uint32_t>(Luma(r, g, b)));
      break;
    }
    case ImgFormatHsv48: {
      uint16_t r, g, b;
      HsvPixelRgb16(p, &r, &g, &b);
      *v = static_cast<uint16_t>(Luma(r, g, b));
      break;
    }
    default: {
      uint8_t r, g, b;
      CmykPixelRgb8(p, &r, &g, &b);
      *v = W8to16(static_cast<uint32_t>(Luma(r, g, b)));
      break;
    }
  }
  return 1;
}

int32_t C_ImgBuff::GetGray32(int32_t x, int32_t y, uint32_t* v) const {
  if (!v) return 1;
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: *v = W8to32(p[0]); break;
    case ImgFormatGray16: *v = W16to32(Ld<uint16_t>(p, 0)); break;
    case ImgFormatGray32: *v = Ld<uint32_t>(p, 0); break;
    case ImgFormatRgb24: *v = static_cast<uint32_t>(Luma(W8to32(p[0]), W8to32(p[1]), W8to32(p[2]))); break;
    case ImgFormatRgb48:
      *v = static_cast<uint32_t>(
          Luma(W16to32(Ld<uint16_t>(p, 0)), W16to32(Ld<uint16_t>(p, 1)), W16to32(Ld<uint16_t>(p, 2))));
      break;
    case ImgFormatRgb96:
      *v = static_cast<uint32_t>(Luma(Ld<uint32_t>(p, 0), Ld<uint32_t>(p, 1), Ld<uint32_t>(p, 2)));
      break;
    case ImgFormatXyz: {
      uint32_t r, g, b;
      XyzPixelRgb32(p, &r, &g, &b);
      *v = static_cast<uint32_t>(Luma(r, g, b));
      break;
    }
    case ImgFormatHsv48: {
      uint16_t r, g, b;
      HsvPixelRgb16(p, &r, &g, &b);
      *v = W16to32(static_cast<uint32_t>(Luma(r, g, b)));
      break;
    }
    default: {
      uint8_t r, g, b;
      CmykPixelRgb8(p, &r, &g, &b);
      *v = W8to32(static_cast<uint32_t>(Luma(r, g, b)));
      break;
    }
  }
  return 1;
}

int32_t C_ImgBuff::GetRGB8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const {
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  uint8_t R, G, B;
  switch (format) {
    case ImgFormatGray8: R = G = B = p[0]; break;
    case ImgFormatGray16: R = G = B = N16to8(Ld<uint16_t>(p, 0)); break;
    case ImgFormatGray32: R = G = B = N32to8(Ld<uint32_t>(p, 0)); break;
    case ImgFormatRgb24: R = p[0], G = p[1], B = p[2]; break;
    case ImgFormatRgb48:
      R = N16to8(Ld<uint16_t>(p, 0)), G = N16to8(Ld<uint16_t>(p, 1)), B = N16to8(Ld<uint16_t>(p, 2));
      break;
    case ImgFormatRgb96:
      R = N32to8(Ld<uint32_t>(p, 0)), G = N32to8(Ld<uint32_t>(p, 1)), B = N32to8(Ld<uint32_t>(p, 2));
      break;
    case ImgFormatXyz: {
      uint32_t r32, g32, b32;
      XyzPixelRgb32(p, &r32, &g32, &b32);
      R = N32to8(r32), G = N32to8(g32), B = N32to8(b32);
      break;
    }
    case ImgFormatHsv48: {
      uint16_t r16, g16, b16;
      HsvPixelRgb16(p, &r16, &g16, &b16);
      R = N16to8(r16), G = N16to8(g16), B = N16to8(b16);
      break;
    }
    default: CmykPixelRgb8(p, &R, &G, &B); break;
  }
  Put(r, R);
  Put(g, G);
  Put(b, B);
  return 1;
}

int32_t C_ImgBuff::GetRGB16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const {
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  uint16_t R, G, B;
  switch (format) {
    case ImgFormatGray8: R = G = B = W8to16(p[0]); break;
    case ImgFormatGray16: R = G = B = Ld<uint16_t>(p, 0); break;
    case ImgFormatGray32: R = G = B = N32to16(Ld<uint32_t>(p, 0)); break;
    case ImgFormatRgb24: R = W8to16(p[0]), G = W8to16(p[1]), B = W8to16(p[2]); break;
    case ImgFormatRgb48: R = Ld<uint16_t>(p, 0), G = Ld<uint16_t>(p, 1), B = Ld<uint16_t>(p, 2); break;
    case ImgFormatRgb96:
      R = N32to16(Ld<uint32_t>(p, 0)), G = N32to16(Ld<uint32_t>(p, 1)), B = N32to16(Ld<uint32_t>(p, 2));
      break;
    case ImgFormatXyz: {
      uint32_t r32, g32, b32;
      XyzPixelRgb32(p, &r32, &g32, &b32);
      R = N32to16(r32), G = N32to16(g32), B = N32to16(b32);
      break;
    }
    case ImgFormatHsv48: HsvPixelRgb16(p, &R, &G, &B); break;
    default: {
      uint8_t r8, g8, b8;
      CmykPixelRgb8(p, &r8, &g8, &b8);
      R = W8to16(r8), G = W8to16(g8), B = W8to16(b8);
      break;
    }
  }
  Put(r, R);
  Put(g, G);
  Put(b, B);
  return 1;
}

int32_t C_ImgBuff::GetRGB32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const {
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  uint32_t R, G, B;
  switch (format) {
    case ImgFormatGray8: R = G = B = W8to32(p[0]); break;
    case ImgFormatGray16: R = G = B = W16to32(Ld<uint16_t>(p, 0)); break;
    case ImgFormatGray32: R = G = B = Ld<uint32_t>(p, 0); break;
    case ImgFormatRgb24: R = W8to32(p[0]), G = W8to32(p[1]), B = W8to32(p[2]); break;
    case ImgFormatRgb48:
      R = W16to32(Ld<uint16_t>(p, 0)), G = W16to32(Ld<uint16_t>(p, 1)), B = W16to32(Ld<uint16_t>(p, 2));
      break;
    case ImgFormatRgb96: R = Ld<uint32_t>(p, 0), G = Ld<uint32_t>(p, 1), B = Ld<uint32_t>(p, 2); break;
    case ImgFormatXyz: XyzPixelRgb32(p, &R, &G, &B); break;
    case ImgFormatHsv48: {
      uint16_t r16, g16, b16;
      HsvPixelRgb16(p, &r16, &g16, &b16);
      R = W16to32(r16), G = W16to32(g16), B = W16to32(b16);
      break;
    }
    default: {
      uint8_t r8, g8, b8;
      CmykPixelRgb8(p, &r8, &g8, &b8);
      R = W8to32(r8), G = W8to32(g8), B = W8to32(b8);
      break;
    }
  }
  Put(r, R);
  Put(g, G);
  Put(b, B);
  return 1;
}

int32_t C_ImgBuff::GetHSV16(int32_t x, int32_t y, uint16_t* h, uint16_t* s, uint16_t* v) const {
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  uint16_t H = 0, S = 0, V = 0;
  switch (format) {
    case ImgFormatGray8: V = W8to16(p[0]); break;
    case ImgFormatGray16: V = Ld<uint16_t>(p, 0); break;
    case ImgFormatGray32: V = N32to16(Ld<uint32_t>(p, 0)); break;
    case ImgFormatHsv48: H = Ld<uint16_t>(p, 0), S = Ld<uint16_t>(p, 1), V = Ld<uint16_t>(p, 2); break;
    default: {
      // Every colour format goes through its 16-bit R, G, B.
      uint16_t r, g, b;
      GetRGB16(x, y, &r, &g, &b);
      Rgb16ToHsv16(r, g, b, &H, &S, &V);
      break;
    }
  }
  Put(h, H);
  Put(s, S);
  Put(v, V);
  return 1;
}

int32_t C_ImgBuff::GetCMYK8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const {
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  uint8_t C, M, Y, K;
  if (format == ImgFormatCmyk32) {
    C = p[0], M = p[1], Y = p[2], K = p[3];
  } else {
    // CMYK of the 8-bit colour; for gray that is 0, 0, 0, 255 - v.
    uint8_t r, g, b;
    GetRGB8(x, y, &r, &g, &b);
    RgbToCmyk(r, g, b, &C, &M, &Y, &K);
  }
  Put(c, C);
  Put(m, M);
  Put(ye, Y);
  Put(k, K);
  return 1;
}

int32_t C_ImgBuff::GetXYZ(int32_t x, int32_t y, double* X, double* Y, double* Z) const {
  if (!ValidFormat(format)) return 0;
  const unsigned char* p = PixelAt(*this, x, y);
  double r, g, b;
  switch (format) {
    case ImgFormatXyz:
      Put(X, Ld<double>(p, 0));
      Put(Y, Ld<double>(p, 1));
      Put(Z, Ld<double>(p, 2));
      return 1;
    case ImgFormatGray8: r = g = b = p[0] / 255.0; break;
    case ImgFormatGray16: r = g = b = Ld<uint16_t>(p, 0) / 65535.0; break;
    case ImgFormatGray32: r = g = b = Ld<uint32_t>(p, 0) / kMax32; break;
    case ImgFormatRgb24: r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0; break;
    case ImgFormatRgb48:
      r = Ld<uint16_t>(p, 0) / 65535.0, g = Ld<uint16_t>(p, 1) / 65535.0, b = Ld<uint16_t>(p, 2) / 65535.0;
      break;
    case ImgFormatRgb96:
      r = Ld<uint32_t>(p, 0) / kMax32, g = Ld<uint32_t>(p, 1) / kMax32, b = Ld<uint32_t>(p, 2) / kMax32;
      break;
    case ImgFormatHsv48: {
      uint16_t r16, g16, b16;
      HsvPixelRgb16(p, &r16, &g16, &b16);
      r = r16 / 65535.0, g = g16 / 65535.0, b = b16 / 65535.0;
      break;
    }
    default: {
      uint8_t r8, g8, b8;
      CmykPixelRgb8(p, &r8, &g8, &b8);
      r = r8 / 255.0, g = g8 / 255.0, b = b8 / 255.0;
      break;
    }
  }
  double xx, yy, zz;
  SrgbToXyz(r, g, b, &xx, &yy, &zz);
  Put(X, xx);
  Put(Y, yy);
  Put(Z, zz);
  return 1;
}

// ---- other getters (coordinates tested) ----

int32_t C_ImgBuff::GetRGBF(int32_t x, int32_t y, double* r, double* g, double* b) const {
  if (!Writable(*this, x, y)) return 0;
  double R, G, B;
  if (format == ImgFormatXyz) {
    const unsigned char* p = PixelAt(*this, x, y);
    XyzToSrgb(Ld<double>(p, 0), Ld<double>(p, 1), Ld<double>(p, 2), &R, &G, &B);
  } else {
    // The widened 32-bit value over 4294967295 equals v / 255 or v / 65535 exactly.
    uint32_t r32, g32, b32;
    GetRGB32(x, y, &r32, &g32, &b32);
    R = r32 / kMax32, G = g32 / kMax32, B = b32 / kMax32;
  }
  Put(r, R);
  Put(g, G);
  Put(b, B);
  return 1;
}

int32_t C_ImgBuff::GetGrayF(int32_t x, int32_t y, double* v) const {
  if (!Contains(x, y)) return 0;
  if (!v) return 1;
  if (!ValidFormat(format) || !pixels) return 0;
  if (format == ImgFormatGray8 || format == ImgFormatGray16 || format == ImgFormatGray32) {
    uint32_t g32;
    GetGray32(x, y, &g32);
    *v = g32 / kMax32;
    return 1;
  }
  double r, g, b;
  GetRGBF(x, y, &r, &g, &b);
  *v = (r == g && g == b) ? r : 0.299 * r + 0.587 * g + 0.114 * b;
  return 1;
}

int32_t C_ImgBuff::GetLab(int32_t x, int32_t y, double* L, double* a, double* b) const {
  if (!Writable(*this, x, y)) return 0;
  double X, Y, Z;
  GetXYZ(x, y, &X, &Y, &Z);
  return XyzToLab(X, Y, Z, L, a, b);
}

int32_t C_ImgBuff::GetLCh(int32_t x, int32_t y, double* L, double* C, double* h) const {
  double l, a, b;
  if (!GetLab(x, y, &l, &a, &b)) return 0;
  Put(L, l);
  Put(C, std::sqrt(a * a + b * b));
  Put(h, std::atan2(b, a));
  return 1;
}

// ---- setters (coordinates tested) ----

int32_t C_ImgBuff::SetGray8(int32_t x, int32_t y, uint8_t v) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: p[0] = v; break;
    case ImgFormatGray16: St<uint16_t>(p, 0, W8to16(v)); break;
    case ImgFormatGray32: St<uint32_t>(p, 0, W8to32(v)); break;
    case ImgFormatRgb24: p[0] = p[1] = p[2] = v; break;
    case ImgFormatRgb48: Store3x16(p, W8to16(v), W8to16(v), W8to16(v)); break;
    case ImgFormatRgb96: Store3x32(p, W8to32(v), W8to32(v), W8to32(v)); break;
    case ImgFormatXyz: StoreXyzFromSrgb(p, v / 255.0, v / 255.0, v / 255.0); break;
    case ImgFormatHsv48: Store3x16(p, 0, 0, W8to16(v)); break;
    default: p[0] = p[1] = p[2] = 0, p[3] = static_cast<uint8_t>(255 - v); break;
  }
  return 1;
}

int32_t C_ImgBuff::SetGray16(int32_t x, int32_t y, uint16_t v) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: p[0] = N16to8(v); break;
    case ImgFormatGray16: St<uint16_t>(p, 0, v); break;
    case ImgFormatGray32: St<uint32_t>(p, 0, W16to32(v)); break;
    case ImgFormatRgb24: p[0] = p[1] = p[2] = N16to8(v); break;
    case ImgFormatRgb48: Store3x16(p, v, v, v); break;
    case ImgFormatRgb96: Store3x32(p, W16to32(v), W16to32(v), W16to32(v)); break;
    case ImgFormatXyz: StoreXyzFromSrgb(p, v / 65535.0, v / 65535.0, v / 65535.0); break;
    case ImgFormatHsv48: Store3x16(p, 0, 0, v); break;
    default: p[0] = p[1] = p[2] = 0, p[3] = static_cast<uint8_t>(255 - N16to8(v)); break;
  }
  return 1;
}

int32_t C_ImgBuff::SetGray32(int32_t x, int32_t y, uint32_t v) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: p[0] = N32to8(v); break;
    case ImgFormatGray16: St<uint16_t>(p, 0, N32to16(v)); break;
    case ImgFormatGray32: St<uint32_t>(p, 0, v); break;
    case ImgFormatRgb24: p[0] = p[1] = p[2] = N32to8(v); break;
    case ImgFormatRgb48: Store3x16(p, N32to16(v), N32to16(v), N32to16(v)); break;
    case ImgFormatRgb96: Store3x32(p, v, v, v); break;
    case ImgFormatXyz: StoreXyzFromSrgb(p, v / kMax32, v / kMax32, v / kMax32); break;
    case ImgFormatHsv48: Store3x16(p, 0, 0, N32to16(v)); break;
    default: p[0] = p[1] = p[2] = 0, p[3] = static_cast<uint8_t>(255 - N32to8(v)); break;
  }
  return 1;
}

int32_t C_ImgBuff::SetRGB8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: p[0] = static_cast<uint8_t>(Luma(r, g, b)); break;
    case ImgFormatGray16: St<uint16_t>(p, 0, static_cast<uint16_t>(Luma(W8to16(r), W8to16(g), W8to16(b)))); break;
    case ImgFormatGray32: St<uint32_t>(p, 0, static_cast<uint32_t>(Luma(W8to32(r), W8to32(g), W8to32(b)))); break;
    case ImgFormatRgb24: p[0] = r, p[1] = g, p[2] = b; break;
    case ImgFormatRgb48: Store3x16(p, W8to16(r), W8to16(g), W8to16(b)); break;
    case ImgFormatRgb96: Store3x32(p, W8to32(r), W8to32(g), W8to32(b)); break;
    case ImgFormatXyz: StoreXyzFromSrgb(p, r / 255.0, g / 255.0, b / 255.0); break;
    case ImgFormatHsv48: StoreHsvFromRgb16(p, W8to16(r), W8to16(g), W8to16(b)); break;
    default: StoreCmykFromRgb8(p, r, g, b); break;
  }
  return 1;
}

int32_t C_ImgBuff::SetRGB16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: p[0] = N16to8(static_cast<uint32_t>(Luma(r, g, b))); break;
    case ImgFormatGray16: St<uint16_t>(p, 0, static_cast<uint16_t>(Luma(r, g, b))); break;
    case ImgFormatGray32: St<uint32_t>(p, 0, static_cast<uint32_t>(Luma(W16to32(r), W16to32(g), W16to32(b)))); break;
    case ImgFormatRgb24: p[0] = N16to8(r), p[1] = N16to8(g), p[2] = N16to8(b); break;
    case ImgFormatRgb48: Store3x16(p, r, g, b); break;
    case ImgFormatRgb96: Store3x32(p, W16to32(r), W16to32(g), W16to32(b)); break;
    case ImgFormatXyz: StoreXyzFromSrgb(p, r / 65535.0, g / 65535.0, b / 65535.0); break;
    case ImgFormatHsv48: StoreHsvFromRgb16(p, r, g, b); break;
    default: StoreCmykFromRgb8(p, N16to8(r), N16to8(g), N16to8(b)); break;
  }
  return 1;
}

int32_t C_ImgBuff::SetRGB32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  switch (format) {
    case ImgFormatGray8: p[0] = N32to8(static_cast<uint32_t>(Luma(r, g, b))); break;
    case ImgFormatGray16: St<uint16_t>(p, 0, N32to16(static_cast<uint32_t>(Luma(r, g, b)))); break;
    case ImgFormatGray32: St<uint32_t>(p, 0, static_cast<uint32_t>(Luma(r, g, b))); break;
    case ImgFormatRgb24: p[0] = N32to8(r), p[1] = N32to8(g), p[2] = N32to8(b); break;
    case ImgFormatRgb48: Store3x16(p, N32to16(r), N32to16(g), N32to16(b)); break;
    case ImgFormatRgb96: Store3x32(p, r, g, b); break;
    case ImgFormatXyz: StoreXyzFromSrgb(p, r / kMax32, g / kMax32, b / kMax32); break;
    case ImgFormatHsv48: StoreHsvFromRgb16(p, N32to16(r), N32to16(g), N32to16(b)); break;
    default: StoreCmykFromRgb8(p, N32to8(r), N32to8(g), N32to8(b)); break;
  }
  return 1;
}

int32_t C_ImgBuff::SetRGBF(int32_t x, int32_t y, double r, double g, double b) {
  if (!Writable(*this, x, y)) return 0;
  r = ClampUnit(r), g = ClampUnit(g), b = ClampUnit(b);
  switch (format) {
    case ImgFormatGray8:
    case ImgFormatRgb24:
    case ImgFormatCmyk32:
      return SetRGB8(x, y, static_cast<uint8_t>(r * 255.0), static_cast<uint8_t>(g * 255.0),
                     static_cast<uint8_t>(b * 255.0));
    case ImgFormatGray16:
    case ImgFormatRgb48:
    case ImgFormatHsv48:
      return SetRGB16(x, y, static_cast<uint16_t>(r * 65535.0), static_cast<uint16_t>(g * 65535.0),
                      static_cast<uint16_t>(b * 65535.0));
    case ImgFormatGray32:
    case ImgFormatRgb96:
      return SetRGB32(x, y, static_cast<uint32_t>(r * kMax32), static_cast<uint32_t>(g * kMax32),
                      static_cast<uint32_t>(b * kMax32));
    default:
      StoreXyzFromSrgb(PixelAt(*this, x, y), r, g, b);
      return 1;
  }
}

int32_t C_ImgBuff::SetHSV16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v) {
  if (!Writable(*this, x, y)) return 0;
  if (format == ImgFormatHsv48) {
    Store3x16(PixelAt(*this, x, y), h, s, v);
    return 1;
  }
  uint16_t r, g, b;
  Hsv16ToRgb16(h, s, v, &r, &g, &b);
  if (format == ImgFormatGray32) {
    St<uint32_t>(PixelAt(*this, x, y), 0, W16to32(static_cast<uint32_t>(Luma(r, g, b))));
    return 1;
  }
  return SetRGB16(x, y, r, g, b);
}

int32_t C_ImgBuff::SetCMYK8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k) {
  if (!Writable(*this, x, y)) return 0;
  unsigned char* p = PixelAt(*this, x, y);
  if (format == ImgFormatCmyk32) {
    p[0] = c, p[1] = m, p[2] = ye, p[3] = k;
    return 1;
  }
  uint8_t r = InkToChannel(c, k), g = InkToChannel(m, k), b = InkToChannel(ye, k);
  if (format == ImgFormatGray16) {
    St<uint16_t>(p, 0, W8to16(static_cast<uint32_t>(Luma(r, g, b))));
    return 1;
  }
  if (format == ImgFormatGray32) {
    St<uint32_t>(p, 0, W8to32(static_cast<uint32_t>(Luma(r, g, b))));
    return 1;
  }
  return SetRGB8(x, y, r, g, b);
}

int32_t C_ImgBuff::SetXYZ(int32_t x, int32_t y, double X, double Y, double Z) {
  if (!Writable(*this, x, y)) return 0;
  if (format == ImgFormatXyz) {
    unsigned char* p = PixelAt(*this, x, y);
    St<double>(p, 0, X);
    St<double>(p, 1, Y);
    St<double>(p, 2, Z);
    return 1;
  }
  uint32_t r, g, b;
  XyzToRgb32(X, Y, Z, &r, &g, &b);
  return SetRGB32(x, y, r, g, b);
}

int32_t C_ImgBuff::SetLab(int32_t x, int32_t y, double L, double a, double b) {
  if (!Writable(*this, x, y)) return 0;
  // Inverse of XyzToLab with the same white and constants.
  constexpr double kDelta = 6.0 / 29.0;
  constexpr double kSlope = 108.0 / 841.0;
  constexpr double kOffset = 4.0 / 29.0;
  auto inv = [](double f) { return f > kDelta ? f * f * f : (f - kOffset) * kSlope; };
  double fy = (L + 16.0) / 116.0;
  double fx = fy + a / 500.0;
  double fz = fy - b / 200.0;
  return SetXYZ(x, y, inv(fx) * 95.0489 / 100.0, inv(fy) * 100.0 / 100.0, inv(fz) * 108.884 / 100.0);
}

int32_t C_ImgBuff::SetLCh(int32_t x, int32_t y, double L, double C, double h) {
  if (!Writable(*this, x, y)) return 0;
  // The hue is brought into [-3.14159265, 3.14159265] by steps of 6.2831853; the step count
  // is computed rather than looped so that a huge hue cannot hang, and a hue that is not a
  // finite number counts as 0.
  constexpr double kHalf = 3.14159265;
  constexpr double kTurn = 6.2831853;
  if (!std::isfinite(h)) {
    h = 0.0;
  } else if (h > kHalf) {
    h -= std::ceil((h - kHalf) / kTurn) * kTurn;
    if (h > kHalf) h -= kTurn;
    if (h < -kHalf) h = std::fmod(h, kTurn);  // only for hues too large to reduce exactly
  } else if (h < -kHalf) {
    h += std::ceil((-kHalf - h) / kTurn) * kTurn;
    if (h < -kHalf) h += kTurn;
    if (h > kHalf) h = std::fmod(h, kTurn);
  }
  if (C < 0.0) C = 0.0;
  return SetLab(x, y, L, C * std::cos(h), C * std::sin(h));
}

// ---- handle: every accessor tests the point ----

int32_t CImgBuff::SetGray8(int32_t x, int32_t y, uint8_t v) { return record->SetGray8(x, y, v); }
int32_t CImgBuff::SetGray16(int32_t x, int32_t y, uint16_t v) { return record->SetGray16(x, y, v); }
int32_t CImgBuff::SetGray32(int32_t x, int32_t y, uint32_t v) { return record->SetGray32(x, y, v); }
int32_t CImgBuff::SetRGB8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) { return record->SetRGB8(x, y, r, g, b); }
int32_t CImgBuff::SetRGB16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b) {
  return record->SetRGB16(x, y, r, g, b);
}
int32_t CImgBuff::SetRGB32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b) {
  return record->SetRGB32(x, y, r, g, b);
}
int32_t CImgBuff::SetHSV16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v) {
  return record->SetHSV16(x, y, h, s, v);
}
int32_t CImgBuff::SetCMYK8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k) {
  return record->SetCMYK8(x, y, c, m, ye, k);
}
int32_t CImgBuff::SetXYZ(int32_t x, int32_t y, double X, double Y, double Z) { return record->SetXYZ(x, y, X, Y, Z); }
int32_t CImgBuff::SetLab(int32_t x, int32_t y, double L, double a, double b) { return record->SetLab(x, y, L, a, b); }
int32_t CImgBuff::SetLCh(int32_t x, int32_t y, double L, double C, double h) { return record->SetLCh(x, y, L, C, h); }
int32_t CImgBuff::GetLab(int32_t x, int32_t y, double* L, double* a, double* b) const {
  return record->GetLab(x, y, L, a, b);
}
int32_t CImgBuff::GetLCh(int32_t x, int32_t y, double* L, double* C, double* h) const {
  return record->GetLCh(x, y, L, C, h);
}

int32_t CImgBuff::GetGray8(int32_t x, int32_t y, uint8_t* v) const {
  return record->Contains(x, y) ? record->GetGray8(x, y, v) : 0;
}
int32_t CImgBuff::GetGray16(int32_t x, int32_t y, uint16_t* v) const {
  return record->Contains(x, y) ? record->GetGray16(x, y, v) : 0;
}
int32_t CImgBuff::GetGray32(int32_t x, int32_t y, uint32_t* v) const {
  return record->Contains(x, y) ? record->GetGray32(x, y, v) : 0;
}
int32_t CImgBuff::GetRGB8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const {
  return record->Contains(x, y) ? record->GetRGB8(x, y, r, g, b) : 0;
}
int32_t CImgBuff::GetRGB16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const {
  return record->Contains(x, y) ? record->GetRGB16(x, y, r, g, b) : 0;
}
int32_t CImgBuff::GetRGB32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const {
  return record->Contains(x, y) ? record->GetRGB32(x, y, r, g, b) : 0;
}
int32_t CImgBuff::GetCMYK8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const {
  return record->Contains(x, y) ? record->GetCMYK8(x, y, c, m, ye, k) : 0;
}
int32_t CImgBuff::GetXYZ(int32_t x, int32_t y, double* X, double* Y, double* Z) const {
  return record->Contains(x, y) ? record->GetXYZ(x, y, X, Y, Z) : 0;
}
