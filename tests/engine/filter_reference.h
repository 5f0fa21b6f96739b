// filter_reference.h - plain pixel-by-pixel versions of the window filters, written straight
// from their rules with the picture accessors, that the fast kernels are compared against.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/frame.h"
#include "tests/engine/engine_test_util.h"

namespace filterref {

inline int32_t Bits(const CImgBuff& img) { return FormatClassBits(img.Format()); }

// The samples a filter sees at (x, y): the gray value, or R, G, B at the class depth.
inline int32_t Read(const CImgBuff& img, int32_t x, int32_t y, uint32_t v[3]) {
  const int32_t f = img.Format(), bits = Bits(img);
  if (IsGrayFormat(f)) {
    if (bits == 8) { uint8_t a; img.GetGray8(x, y, &a); v[0] = a; }
    else if (bits == 16) { uint16_t a; img.GetGray16(x, y, &a); v[0] = a; }
    else { uint32_t a; img.GetGray32(x, y, &a); v[0] = a; }
    return 1;
  }
  if (bits == 8) { uint8_t r, g, b; img.GetRGB8(x, y, &r, &g, &b); v[0] = r; v[1] = g; v[2] = b; }
  else if (bits == 16) { uint16_t r, g, b; img.GetRGB16(x, y, &r, &g, &b); v[0] = r; v[1] = g; v[2] = b; }
  else img.GetRGB32(x, y, &v[0], &v[1], &v[2]);
  return 3;
}

inline void Write(CImgBuff& img, int32_t x, int32_t y, const uint32_t v[3]) {
  const int32_t f = img.Format(), bits = Bits(img);
  if (IsGrayFormat(f)) {
    if (bits == 8) img.SetGray8(x, y, uint8_t(v[0]));
    else if (bits == 16) img.SetGray16(x, y, uint16_t(v[0]));
    else img.SetGray32(x, y, v[0]);
    return;
  }
  if (bits == 8) img.SetRGB8(x, y, uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]));
  else if (bits == 16) img.SetRGB16(x, y, uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2]));
  else img.SetRGB32(x, y, v[0], v[1], v[2]);
}

inline RoiRect Rect(const CImgBuff& img, const RoiRect* roi) {
  RoiRect r;
  GetRoi(&r, &img, roi);
  return r;
}

// size x size integer kernel: sum (128-bit, so nothing overflows) and weight sum of the
// entries inside the rectangle, zero weights skipped; automatic or fixed division toward
// zero; saturated.
inline int32_t ConvolveInt(CImgBuff* img, uint64_t size, const int32_t* k, int32_t autoDiv,
                           int32_t divisor, const RoiRect* roi) {
  if (size == 0 || size % 2 == 0 || (!autoDiv && divisor <= 0)) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  CImgBuff src;
  enginetest::CopyPicture(src, *img);
  const int32_t half = int32_t(size / 2);
  const __int128 maxv = FormatClassMax(img->Format());
  for (int32_t y = r.y0; y <= r.y1; ++y) {
    for (int32_t x = r.x0; x <= r.x1; ++x) {
      __int128 sum[3] = {0, 0, 0};
      int64_t wsum = 0;
      int32_t ch = 1;
      for (int64_t j = 0; j < int64_t(size); ++j) {
        for (int64_t i = 0; i < int64_t(size); ++i) {
          const int32_t w = k[j * int64_t(size) + i];
          const int64_t u = x + i - half, v = y + j - half;
          if (w == 0 || u < r.x0 || u > r.x1 || v < r.y0 || v > r.y1) continue;
          uint32_t s[3];
          ch = Read(src, int32_t(u), int32_t(v), s);
          for (int32_t c = 0; c < ch; ++c) sum[c] += __int128(int64_t(w) * int64_t(s[c]));
          wsum += w;
        }
      }
      uint32_t out[3];
      uint32_t dummy[3];
      ch = Read(src, x, y, dummy);
      for (int32_t c = 0; c < ch; ++c) {
        __int128 s = sum[c];
        if (s != 0) {
          if (autoDiv) { if (wsum > 1) s /= wsum; }
          else s /= divisor;
        }
        out[c] = uint32_t(s < 0 ? 0 : (s > maxv ? maxv : s));
      }
      if (ch == 1) out[1] = out[2] = out[0];
      Write(*img, x, y, out);
    }
  }
  return 1;
}

inline uint32_t StoreDouble(double v, uint32_t maxv) {
  if (v >= double(maxv)) return maxv;
  if (v <= 0.0 || v != v) return 0;
  return uint32_t(v);
}

inline int32_t ConvolveDouble(CImgBuff* img, const double* k) {
  RoiRect r;
  if (!GetRoi(&r, img, nullptr)) return 0;
  CImgBuff src;
  enginetest::CopyPicture(src, *img);
  const uint32_t maxv = FormatClassMax(img->Format());
  for (int32_t y = r.y0; y <= r.y1; ++y) {
    for (int32_t x = r.x0; x <= r.x1; ++x) {
      double sum[3] = {0, 0, 0}, wsum = 0.0;
      int32_t ch = 1;
      for (int32_t j = 0; j < 3; ++j) {
        for (int32_t i = 0; i < 3; ++i) {
          const int32_t u = x + i - 1, v = y + j - 1;
          if (u < r.x0 || u > r.x1 || v < r.y0 || v > r.y1) continue;
          uint32_t s[3];
          ch = Read(src, u, v, s);
          for (int32_t c = 0; c < ch; ++c) sum[c] += double(s[c]) * k[j * 3 + i];
          wsum += k[j * 3 + i];
        }
      }
      const double div = wsum < 1.0 ? 1.0 : wsum;
      uint32_t out[3];
      for (int32_t c = 0; c < ch; ++c) out[c] = StoreDouble(sum[c] / div, maxv);
      if (ch == 1) out[1] = out[2] = out[0];
      Write(*img, x, y, out);
    }
  }
  return 1;
}

// Full sort of the window, element n / 2.
inline int32_t MedianFilter(CImgBuff* img, uint64_t size, const RoiRect* roi) {
  if (size == 0 || size % 2 == 0) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  CImgBuff src;
  enginetest::CopyPicture(src, *img);
  const int64_t half = int64_t(size / 2);
  for (int32_t y = r.y0; y <= r.y1; ++y) {
    for (int32_t x = r.x0; x <= r.x1; ++x) {
      std::vector<uint32_t> win[3];
      int32_t ch = 1;
      for (int64_t v = std::max<int64_t>(y - half, r.y0); v <= std::min<int64_t>(y + half, r.y1); ++v) {
        for (int64_t u = std::max<int64_t>(x - half, r.x0); u <= std::min<int64_t>(x + half, r.x1); ++u) {
          uint32_t s[3];
          ch = Read(src, int32_t(u), int32_t(v), s);
          for (int32_t c = 0; c < ch; ++c) win[c].push_back(s[c]);
        }
      }
      uint32_t out[3];
      for (int32_t c = 0; c < ch; ++c) {
        std::sort(win[c].begin(), win[c].end());
        out[c] = win[c][win[c].size() / 2];
      }
      if (ch == 1) out[1] = out[2] = out[0];
      Write(*img, x, y, out);
    }
  }
  return 1;
}

}  // namespace filterref
