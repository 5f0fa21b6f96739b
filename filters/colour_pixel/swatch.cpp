// swatch.cpp - filling and reading back a one-colour swatch texture.
#include "filters/colour_pixel/swatch.h"

#include <cmath>

#include "core/imgbuff.h"
#include "platform/thread.h"
#include "toolkit/screen.h"
#include "toolkit/texture.h"

uint8_t SwatchByte(double c) {
  if (!(c > 0)) return 0;
  if (c >= 1) return 255;
  return uint8_t(uint32_t(std::trunc(c * 4294967295.0)) >> 24);
}

int32_t FillSwatch(CFgTexture* texture, int32_t width, int32_t height, double r, double g,
                   double b) {
  if (!texture) return 0;
  CImgBuff picture;
  if (picture.Allocate(width, height, ImgFormatRgb24) != 1) return 0;
  const uint8_t rgb[3] = {SwatchByte(r), SwatchByte(g), SwatchByte(b)};
  auto* p = static_cast<uint8_t*>(picture.Pixels());
  for (int64_t i = 0; i < int64_t(width) * height; ++i)
    for (int c = 0; c < 3; ++c) p[i * 3 + c] = rgb[c];
  PlatformLockHold draw(FgDrawLock());
  return UploadImageToTexture(texture, &picture, 1);
}

int32_t ReadSwatchColour(CFgTexture* texture, uint8_t rgb[3]) {
  rgb[0] = rgb[1] = rgb[2] = 0;
  if (!texture) return 0;
  CImgBuff picture;
  PlatformLockHold draw(FgDrawLock());
  if (CopyTextureToImage(&picture, texture) != 1) return 0;
  const auto* p = static_cast<const uint8_t*>(picture.Pixels());
  for (int c = 0; c < 3; ++c) rgb[c] = p[c];
  return 1;
}
