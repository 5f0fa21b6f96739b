// wave.h - looking at a picture through a colour filter that passes one wavelength.
//
//   WaveFilterJob          context record of the row worker
//   WaveFilterColour       the filter's sRGB colour and luminance for a wavelength
//   ApplyWaveColorFilter   the operation
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct WaveFilterJob {
  CImgBuff* picture;
  uint32_t outputMode;  // 0 gain only (grey pictures), 1 colour output, 2 grey output
  double filterR, filterG, filterB;
  double gain;
  int32_t x0, y0, x1, y1;
};

// Filter colour = XyzToSrgb of the colour-matching functions at the wavelength (black outside
// 360..830 nm); luminance = 0.587 G + 0.299 R + 0.114 B.  Outputs may be null.
void WaveFilterColour(double wavelengthNm, double* r, double* g, double* b, double* luminance);

// outputMode 0..2, gainMode 0 off, 1 normalise (1 / luminance), 2 raw (luminance), 3 free
// (gain, with outputMode 0).  A grey picture given outputMode 1 becomes the colour format of
// its class, a colour picture given outputMode 2 the grey format of its class (whole picture).
// 1 on success and when there is nothing to do (empty picture, outputMode 0 on a colour
// picture, gain off, normalising a black filter); 0 for a negative or NaN wavelength, a mode
// out of range, a refused rectangle or a negative (or NaN) free gain.
int32_t ApplyWaveColorFilter(CImgBuff* img, double wavelengthNm, uint32_t outputMode,
                             uint32_t gainMode, double gain, const RoiRect* roi);
