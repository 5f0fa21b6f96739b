// binary_art.h - binary test pictures drawn as text: "#" an object pixel, "." background,
// for either background colour, and read back the same way; random binary pictures; islands
// counted.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/imgbuff.h"

namespace binarytest {

typedef std::vector<std::string> Art;

// Objects are 255 on background 0 and 0 on background 1 (every channel).
inline void FromArt(CImgBuff& img, const Art& rows, int32_t format, uint32_t bg) {
  const int32_t h = int32_t(rows.size()), w = h ? int32_t(rows[0].size()) : 0;
  ASSERT_EQ(1, img.Allocate(w, h, format));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t v = (rows[size_t(y)][size_t(x)] == '#') != (bg != 0) ? 255 : 0;
      ASSERT_EQ(1, img.SetRGB8(x, y, v, v, v));
    }
}

// "#" where any channel of the 8-bit colour differs from the background's.
inline Art ToArt(const CImgBuff& img, uint32_t bg) {
  Art rows;
  const uint8_t b = bg ? 255 : 0;
  for (int32_t y = 0; y < img.Height(); ++y) {
    std::string row;
    for (int32_t x = 0; x < img.Width(); ++x) {
      uint8_t r = 0, g = 0, bl = 0;
      img.GetRGB8(x, y, &r, &g, &bl);
      row += (r != b || g != b || bl != b) ? '#' : '.';
    }
    rows.push_back(row);
  }
  return rows;
}

// About 40 % object pixels in clumps, and a few pixels with one channel off the background
// (objects too, for the operations that look at every channel).
inline void RandomBinary(CImgBuff& img, int32_t w, int32_t h, int32_t format, uint32_t bg,
                         uint32_t seed) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&s] { return (s = s * 1664525u + 1013904223u) >> 8; };
  const uint8_t back = bg ? 255 : 0, object = bg ? 0 : 255;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) img.SetRGB8(x, y, back, back, back);
  for (int32_t k = 0; k < w * h / 12; ++k) {  // clumps of 1 to 3 x 1 to 3
    const int32_t cx = int32_t(next() % uint32_t(w)), cy = int32_t(next() % uint32_t(h));
    const int32_t cw = 1 + int32_t(next() % 3), ch = 1 + int32_t(next() % 3);
    for (int32_t y = cy; y < cy + ch && y < h; ++y)
      for (int32_t x = cx; x < cx + cw && x < w; ++x) img.SetRGB8(x, y, object, object, object);
  }
  for (int32_t k = 0; k < w * h / 40; ++k) {
    const int32_t x = int32_t(next() % uint32_t(w)), y = int32_t(next() % uint32_t(h));
    img.SetRGB8(x, y, back, uint8_t(back ^ 0x40), back);
  }
}

// Number of connected sets of "#" (4 or 8 neighbours).
inline int32_t CountIslands(Art art, int32_t conn) {
  int32_t count = 0;
  const int32_t h = int32_t(art.size()), w = h ? int32_t(art[0].size()) : 0;
  std::vector<std::pair<int32_t, int32_t>> stack;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      if (art[size_t(y)][size_t(x)] != '#') continue;
      ++count;
      stack.push_back({x, y});
      art[size_t(y)][size_t(x)] = '.';
      while (!stack.empty()) {
        auto [px, py] = stack.back();
        stack.pop_back();
        for (int32_t dy = -1; dy <= 1; ++dy)
          for (int32_t dx = -1; dx <= 1; ++dx) {
            if ((dx == 0 && dy == 0) || (conn == 4 && dx != 0 && dy != 0)) continue;
            const int32_t nx = px + dx, ny = py + dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
            if (art[size_t(ny)][size_t(nx)] != '#') continue;
            art[size_t(ny)][size_t(nx)] = '.';
            stack.push_back({nx, ny});
          }
      }
    }
  return count;
}

// Fills the rectangle (x0, y0)-(x1, y1), inclusive, with objects.
inline void AddBlock(Art& art, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x) art[size_t(y)][size_t(x)] = '#';
}
// w x h of background.
inline Art Blank(int32_t w, int32_t h) { return Art(size_t(h), std::string(size_t(w), '.')); }

}  // namespace binarytest
