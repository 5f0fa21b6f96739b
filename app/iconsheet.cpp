// iconsheet.cpp - the panels' two-row icon sheets (ink decoding and the faded row).
#include "app/iconsheet.h"

#include <cstring>
#include <vector>

int32_t MakeFadedIconSheet(CFgTexture* texture, const uint8_t* source, int cell, int cells) {
  if (!texture || !source || cell < 1 || cells < 1) return 0;
  const size_t width = size_t(cell) * size_t(cells);
  std::vector<uint8_t> sheet(width * size_t(cell) * 2 * 4);
  for (size_t y = 0; y < size_t(cell); ++y)
    for (size_t x = 0; x < width; ++x) {
      const uint8_t* p = &source[(y * width + x) * 4];
      uint8_t* q = &sheet[(y * width + x) * 4];
      if (p[0] >= 1 && p[0] <= 254) {
        q[0] = q[1] = q[2] = 0;
        q[3] = uint8_t(255 - p[0]);
      } else {
        memcpy(q, p, 4);
      }
      uint8_t* f = &sheet[((y + size_t(cell)) * width + x) * 4];
      for (int k = 0; k < 3; ++k) f[k] = uint8_t(255 - ((255 - q[k]) >> 1));
      f[3] = q[3];
    }
  if (!texture->Create(uint64_t(cell), uint64_t(cell), uint64_t(cells), 2, 1, sheet.data()))
    return 0;
  return texture->Upload();
}
