// colour.h - single-colour conversions between gamma-encoded sRGB, CIE XYZ (D65 white,
// Y of white = 1), CIE L*a*b*, and 16- and 32-bit HSV; packing of colour quantities into
// full-range 32-bit integers; the CIE 1931 2-degree colour-matching functions.
// No state, no allocation, no failure: every function may be called per pixel.
//
// 16-bit HSV: hue 10922 per 60 degrees (green 21844, blue 43688), full saturation 65534,
// value = largest channel.  32-bit HSV: 715827882 per 60 degrees, full saturation 4294967294.
#pragma once
#include <cstdint>

// Results of SrgbToXyz and XyzToSrgb are required; elsewhere a null result is not written.
void SrgbToXyz(double r, double g, double b, double* X, double* Y, double* Z);
// Each result clamped to [0, 1].
void XyzToSrgb(double X, double Y, double Z, double* r, double* g, double* b);
// Always 1.
int32_t XyzToLab(double X, double Y, double Z, double* L, double* a, double* b);

void Rgb32ToXyz(uint32_t R, uint32_t G, uint32_t B, double* X, double* Y, double* Z);
void XyzToRgb32(double X, double Y, double Z, uint32_t* R, uint32_t* G, uint32_t* B);

void Rgb16ToHsv16(uint16_t R, uint16_t G, uint16_t B, uint16_t* H, uint16_t* S, uint16_t* V);
void Hsv16ToRgb16(uint16_t H, uint16_t S, uint16_t V, uint16_t* R, uint16_t* G, uint16_t* B);
void Rgb32ToHsv32(uint32_t R, uint32_t G, uint32_t B, uint32_t* H, uint32_t* S, uint32_t* V);
void Hsv32ToRgb32(uint32_t H, uint32_t S, uint32_t V, uint32_t* R, uint32_t* G, uint32_t* B);

// Packing spans: X, Y, Z 0..1.1; L* 0..100; a*, b* -128..127; C* 0..135; hue 0..2 pi radians.
// Values outside are clamped (hue wrapped); NaN packs as 0.
uint32_t PackXyz32(double v);
uint32_t PackL32(double v);
uint32_t PackAb32(double v);
uint32_t PackC32(double v);
uint32_t PackHue32(double h);
double UnpackXyz32(uint32_t v);
double UnpackL32(uint32_t v);
double UnpackAb32(uint32_t v);
double UnpackC32(uint32_t v);
double UnpackHue32(uint32_t v);

// CIE 1931 2-degree colour-matching functions at a wavelength in nanometres, interpolated
// linearly between whole nanometres and falling to 0 over the last nanometre outside
// 360..830 nm; 0 outside that and for NaN.
void WavelengthToXyz(double nanometres, double* xbar, double* ybar, double* zbar);

// The CIE 1-nm tabulation, one entry per nanometre from Cie1931FirstNm to Cie1931LastNm.
constexpr int32_t Cie1931FirstNm = 360;
constexpr int32_t Cie1931LastNm = 830;
constexpr int32_t Cie1931Count = Cie1931LastNm - Cie1931FirstNm + 1;
extern const double Cie1931XBar[Cie1931Count];
extern const double Cie1931YBar[Cie1931Count];
extern const double Cie1931ZBar[Cie1931Count];
