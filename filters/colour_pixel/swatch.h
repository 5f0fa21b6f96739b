// swatch.h - the colour swatches of the colour filters' windows: a texture of one colour.
//
//   SwatchByte       the byte of a colour component 0 to 1
//   FillSwatch       fills a swatch texture with one colour and uploads it
//   ReadSwatchColour the swatch's first pixel, as the window shows it
#pragma once
#include <cstdint>

class CFgTexture;

// trunc(c x 4294967295) shifted right by 24: 1.0 gives 255, below 0 (or no number) 0.
uint8_t SwatchByte(double c);
// A width x height 8-bit RGB picture of (r, g, b) uploaded into texture, inside the draw
// lock.  0 when memory is short or the upload fails.
int32_t FillSwatch(CFgTexture* texture, int32_t width, int32_t height, double r, double g,
                   double b);
// 8-bit R, G, B of the texture's first pixel; 0 (and black) without a store.
int32_t ReadSwatchColour(CFgTexture* texture, uint8_t rgb[3]);
