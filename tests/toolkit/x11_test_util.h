// x11_test_util.h - helpers for the toolkit tests that run on a real X server: the skip when
// no display is there, pumping messages until a condition holds, reading the back buffer, and
// a small PNG writer for screenshots.
#pragma once
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "toolkit/screen.h"

#define REQUIRE_DISPLAY() \
  if (!PlatHasDisplay()) GTEST_SKIP() << "no X display"

namespace toolkittest {

// Pumps until pred holds or ms pass; 1 when it held.
template <class Pred>
int PumpUntil(Pred pred, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return 0;
    FgPumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return 1;
}

// The back buffer of the current drawing section as R,G,B bytes, bottom row first (GL order).
inline std::vector<uint8_t> ReadBack(uint64_t w, uint64_t h) {
  std::vector<uint8_t> rgb(size_t(w * h * 3));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);  // before the swap: the back buffer holds what was drawn
  glReadPixels(0, 0, GLsizei(w), GLsizei(h), GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  return rgb;
}

// ---- a small PNG writer (stored deflate blocks): enough for a screenshot ----
inline uint32_t Crc(const uint8_t* p, size_t n, uint32_t c = 0xFFFFFFFFu) {
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return c;
}
inline void Be32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
inline void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Be32(out, uint32_t(data.size()));
  std::vector<uint8_t> td(type, type + 4);
  td.insert(td.end(), data.begin(), data.end());
  out.insert(out.end(), td.begin(), td.end());
  Be32(out, Crc(td.data(), td.size()) ^ 0xFFFFFFFFu);
}
// rgb: rows top first.
inline int WritePng(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb.begin() + size_t(y) * size_t(w) * 3,
               rgb.begin() + size_t(y + 1) * size_t(w) * 3);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(uint8_t(n));
    z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n));
    z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Be32(z, (b << 16) | a);
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  Be32(ihdr, uint32_t(w));
  Be32(ihdr, uint32_t(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Chunk(out, "IHDR", ihdr);
  Chunk(out, "IDAT", z);
  Chunk(out, "IEND", {});
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  int ok = fwrite(out.data(), 1, out.size(), f) == out.size();
  return fclose(f) == 0 && ok;
}

}  // namespace toolkittest
