// colour.cpp - sRGB, XYZ, L*a*b* and HSV conversions of single colours, 32-bit packing of
// colour quantities, and the CIE 1931 colour-matching lookup.
// Every double that becomes an integer here goes through a saturating conversion: NaN gives
// 0 and values beyond the target range give its end, never undefined behaviour.
// Inside: helpers - sRGB and XYZ - L*a*b* - HSV 16 - HSV 32 - packing - wavelengths
#include "core/colour.h"

#include <cmath>

namespace {

// ---- helpers ----

constexpr double kMax32 = 4294967295.0;
constexpr double kTwoPi = 6.283185307179586;

// Truncates towards zero into 0 .. 4294967295; NaN and negatives give 0.
inline uint32_t SatU32(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= kMax32) return 4294967295u;
  return static_cast<uint32_t>(v);
}

inline uint16_t SatU16(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 65535.0) return 65535;
  return static_cast<uint16_t>(v);
}

// Truncates towards zero into int64; NaN gives 0.
inline int64_t SatI64(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return INT64_C(9200000000000000000);
  if (v <= -9.2e18) return -INT64_C(9200000000000000000);
  return static_cast<int64_t>(v);
}

// NaN gives lo.
inline double Clamp(double v, double lo, double hi) {
  if (!(v > lo)) return lo;
  return v > hi ? hi : v;
}

inline double Linearise(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

inline double Encode(double c) {
  c = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
  return Clamp(c, 0.0, 1.0);
}

// L*a*b* companding with the exact CIE constants.
constexpr double kLabEpsilon = 216.0 / 24389.0;  // 0.008856451679035631
constexpr double kLabSlope = 108.0 / 841.0;      // 3 x (6/29)^2
constexpr double kLabOffset = 4.0 / 29.0;

inline double LabF(double t) { return t > kLabEpsilon ? std::cbrt(t) : t / kLabSlope + kLabOffset; }

template <class T>
inline void Put(T* p, T v) {
  if (p) *p = v;
}

}  // namespace

// ---- sRGB and XYZ ----

void SrgbToXyz(double r, double g, double b, double* X, double* Y, double* Z) {
  double R = Linearise(r), G = Linearise(g), B = Linearise(b);
  *X = 0.4124564 * R + 0.3575761 * G + 0.1804375 * B;
  *Y = 0.2126729 * R + 0.7151522 * G + 0.072175 * B;
  *Z = 0.0193339 * R + 0.119192 * G + 0.9503041 * B;
}

void XyzToSrgb(double X, double Y, double Z, double* r, double* g, double* b) {
  double R = 3.2404542 * X - 1.5371385 * Y - 0.4985314 * Z;
  double G = -0.969266 * X + 1.8760108 * Y + 0.041556 * Z;
  double B = 0.0556434 * X - 0.2040259 * Y + 1.0572252 * Z;
  *r = Encode(R);
  *g = Encode(G);
  *b = Encode(B);
}

void Rgb32ToXyz(uint32_t R, uint32_t G, uint32_t B, double* X, double* Y, double* Z) {
  double x, y, z;
  SrgbToXyz(R / kMax32, G / kMax32, B / kMax32, &x, &y, &z);
  Put(X, x);
  Put(Y, y);
  Put(Z, z);
}

void XyzToRgb32(double X, double Y, double Z, uint32_t* R, uint32_t* G, uint32_t* B) {
  double r, g, b;
  XyzToSrgb(X, Y, Z, &r, &g, &b);
  Put(R, SatU32(r * kMax32));
  Put(G, SatU32(g * kMax32));
  Put(B, SatU32(b * kMax32));
}

// ---- L*a*b* ----

int32_t XyzToLab(double X, double Y, double Z, double* L, double* a, double* b) {
  double fx = LabF(100.0 * X / 95.0489);
  double fy = LabF(100.0 * Y / 100.0);
  double fz = LabF(100.0 * Z / 108.884);
  Put(L, 116.0 * fy - 16.0);
  Put(a, 500.0 * (fx - fy));
  Put(b, 200.0 * (fy - fz));
  return 1;
}

// ---- HSV 16 ----

void Rgb16ToHsv16(uint16_t R, uint16_t G, uint16_t B, uint16_t* H, uint16_t* S, uint16_t* V) {
  int32_t r = R, g = G, b = B;
  int32_t mx = r > g ? r : g;
  if (b > mx) mx = b;
  int32_t mn = r < g ? r : g;
  if (b < mn) mn = b;
  int32_t delta = mx - mn;
  int32_t h = 0;
  if (delta != 0) {
    if (r == mx) {
      int32_t t = (g - b) * 10922 / delta;  // C++ division truncates towards zero
      h = (t + 65535) % 65535;
    } else if (g == mx) {
      h = (b - r) * 10922 / delta + 21844;
    } else {
      h = (r - g) * 10922 / delta + 43688;
    }
  }
  Put(H, static_cast<uint16_t>(h));
  Put(S, static_cast<uint16_t>(mx == 0 ? 0 : static_cast<uint32_t>(delta) * 65534u / static_cast<uint32_t>(mx)));
  Put(V, static_cast<uint16_t>(mx));
}

void Hsv16ToRgb16(uint16_t H, uint16_t S, uint16_t V, uint16_t* R, uint16_t* G, uint16_t* B) {
  if (S == 0) {
    Put(R, V);
    Put(G, V);
    Put(B, V);
    return;
  }
  double hh = H / 10922.0;
  int32_t i = static_cast<int32_t>(hh);  // 0 .. 6
  double f = hh - i;
  double s = S / 65534.0;
  double v = V;
  uint16_t p = SatU16((1.0 - s) * v + 0.5);
  uint16_t q = SatU16((1.0 - s * f) * v + 0.5);
  uint16_t t = SatU16((1.0 - (1.0 - f) * s) * v + 0.5);
  uint16_t r, g, b;
  switch (i % 6) {
    case 0: r = V, g = t, b = p; break;
    case 1: r = q, g = V, b = p; break;
    case 2: r = p, g = V, b = t; break;
    case 3: r = p, g = q, b = V; break;
    case 4: r = t, g = p, b = V; break;
    default: r = V, g = p, b = q; break;
  }
  Put(R, r);
  Put(G, g);
  Put(B, b);
}

// ---- HSV 32 ----

void Rgb32ToHsv32(uint32_t R, uint32_t G, uint32_t B, uint32_t* H, uint32_t* S, uint32_t* V) {
  uint32_t mx = R > G ? R : G;
  if (B > mx) mx = B;
  uint32_t mn = R < G ? R : G;
  if (B < mn) mn = B;
  uint32_t delta = mx - mn;
  uint32_t h = 0;
  if (delta != 0) {
    double d = delta;
    if (R == mx) {
      double t = (static_cast<double>(G) - static_cast<double>(B)) * 715827882.0 / d;
      h = static_cast<uint32_t>(static_cast<uint64_t>(SatI64(t + kMax32)) % UINT64_C(4294967295));
    } else if (G == mx) {
      double t = (static_cast<double>(B) - static_cast<double>(R)) * 715827882.0 / d;
      h = static_cast<uint32_t>(SatI64(t)) + 1431655764u;  // modulo 2^32
    } else {
      double t = (static_cast<double>(R) - static_cast<double>(G)) * 715827882.0 / d;
      h = static_cast<uint32_t>(SatI64(t)) + 2863311528u;
    }
  }
  Put(H, h);
  Put(S, mx == 0 ? 0u : SatU32(static_cast<double>(delta) * 4294967294.0 / mx));
  Put(V, mx);
}

void Hsv32ToRgb32(uint32_t H, uint32_t S, uint32_t V, uint32_t* R, uint32_t* G, uint32_t* B) {
  if (S == 0) {
    Put(R, V);
    Put(G, V);
    Put(B, V);
    return;
  }
  double hh = H / 715827882.0;
  int32_t i = static_cast<int32_t>(hh);  // 0 .. 6
  double f = hh - i;
  double s = S / 4294967294.0;
  double v = V;
  uint32_t p = SatU32((1.0 - s) * v + 0.5);
  uint32_t q = SatU32((1.0 - s * f) * v + 0.5);
  uint32_t t = SatU32((1.0 - (1.0 - f) * s) * v + 0.5);
  uint32_t r, g, b;
  switch (i % 6) {
    case 0: r = V, g = t, b = p; break;
    case 1: r = q, g = V, b = p; break;
    case 2: r = p, g = V, b = t; break;
    case 3: r = p, g = q, b = V; break;
    case 4: r = t, g = p, b = V; break;
    default: r = V, g = p, b = q; break;
  }
  Put(R, r);
  Put(G, g);
  Put(B, b);
}

// ---- packing ----

uint32_t PackXyz32(double v) { return SatU32(Clamp(v, 0.0, 1.1) / 1.1 * kMax32); }
uint32_t PackL32(double v) { return SatU32(Clamp(v, 0.0, 100.0) / 100.0 * kMax32); }
uint32_t PackAb32(double v) { return SatU32((Clamp(v, -128.0, 127.0) + 128.0) / 255.0 * kMax32); }
uint32_t PackC32(double v) { return SatU32(Clamp(v, 0.0, 135.0) / 135.0 * kMax32); }

uint32_t PackHue32(double h) {
  // The hue is brought into (0, 2 pi] from above and [0, 2 pi) from below, as repeated
  // subtraction or addition of 2 pi would, but with fmod so that huge values cannot make
  // the reduction loop for ever and infinities or NaN (which never reduce) give 0.
  if (!std::isfinite(h)) return 0;
  if (h > kTwoPi) {
    h = std::fmod(h, kTwoPi);
    if (h == 0.0) h = kTwoPi;
  } else if (h < 0.0) {
    double r = std::fmod(h, kTwoPi);
    h = r < 0.0 ? r + kTwoPi : 0.0;
  }
  return SatU32(h / kTwoPi * kMax32);
}

double UnpackXyz32(uint32_t v) { return v / kMax32 * 1.1; }
double UnpackL32(uint32_t v) { return v / kMax32 * 100.0; }
double UnpackAb32(uint32_t v) { return v / kMax32 * 255.0 - 128.0; }
double UnpackC32(uint32_t v) { return v / kMax32 * 135.0; }
double UnpackHue32(uint32_t v) { return v / kMax32 * kTwoPi; }

// ---- wavelengths ----

namespace {
// Table value at a whole nanometre; 0 outside the tabulated range.
inline void TableAt(int32_t nm, double* x, double* y, double* z) {
  if (nm < Cie1931FirstNm || nm > Cie1931LastNm) {
    *x = *y = *z = 0.0;
    return;
  }
  int32_t k = nm - Cie1931FirstNm;
  *x = Cie1931XBar[k];
  *y = Cie1931YBar[k];
  *z = Cie1931ZBar[k];
}
}  // namespace

void WavelengthToXyz(double nanometres, double* xbar, double* ybar, double* zbar) {
  double x = 0.0, y = 0.0, z = 0.0;
  // The range is tested on the double: a huge or NaN wavelength must never reach the
  // integer conversion below.
  if (nanometres >= 0.0 && nanometres < Cie1931LastNm + 1.0) {
    int32_t i = static_cast<int32_t>(nanometres);
    double f = nanometres - i;
    double x0, y0, z0;
    TableAt(i, &x0, &y0, &z0);
    if (f == 0.0) {
      x = x0, y = y0, z = z0;
    } else {
      double x1, y1, z1;
      TableAt(i + 1, &x1, &y1, &z1);
      x = x0 * (1.0 - f) + x1 * f;
      y = y0 * (1.0 - f) + y1 * f;
      z = z0 * (1.0 - f) + z1 * f;
    }
  }
  Put(xbar, x);
  Put(ybar, y);
  Put(zbar, z);
}
