// engine_test_util.h - pictures for the engine tests: random fills of every format, byte
// comparison, and the check that an operation's typed kernels give what the accessor path
// gives on the same picture and rectangle.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/frame.h"

namespace enginetest {

// Random pixels; XYZ pictures get doubles in 0..1.1 so that they stay meaningful colours.
inline void FillRandom(CImgBuff& img, int32_t w, int32_t h, int32_t format, uint32_t seed) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  std::mt19937 rng(seed);
  const int64_t bytes = int64_t(w) * h * ImgBytesPerPixel[format];
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  if (format == 7) {
    std::uniform_real_distribution<double> d(0.0, 1.1);
    double* q = static_cast<double*>(img.Pixels());
    for (int64_t i = 0; i < int64_t(w) * h * 3; ++i) q[i] = d(rng);
    return;
  }
  for (int64_t i = 0; i < bytes; ++i) p[i] = uint8_t(rng() >> 13);
  // Some pixels with equal or extreme channels: greys, black, white, ties in the maximum.
  const int32_t bpp = ImgBytesPerPixel[format];
  for (int64_t i = 0; i < int64_t(w) * h; i += 7) {
    uint8_t* px = p + i * bpp;
    const int32_t kind = int32_t(rng() % 4);
    if (kind == 0) std::memset(px, 0, bpp);
    else if (kind == 1) std::memset(px, 0xFF, bpp);
    else if (kind == 2 && bpp % 3 == 0 && format != 8) {
      std::memcpy(px + bpp / 3, px, bpp / 3);  // R = G
    }
  }
}

inline void CopyPicture(CImgBuff& dst, const CImgBuff& src) {
  ASSERT_EQ(1, dst.Allocate(src.Width(), src.Height(), src.Format()));
  std::memcpy(dst.Pixels(), src.Pixels(),
              size_t(src.Width()) * src.Height() * ImgBytesPerPixel[src.Format()]);
}

inline bool SamePixels(const CImgBuff& a, const CImgBuff& b) {
  if (a.Format() != b.Format() || a.Width() != b.Width() || a.Height() != b.Height()) return false;
  if (a.Format() == 0) return true;
  return std::memcmp(a.Pixels(), b.Pixels(),
                     size_t(a.Width()) * a.Height() * ImgBytesPerPixel[a.Format()]) == 0;
}

// The first differing pixel, for a readable failure.
inline std::string FirstDifference(const CImgBuff& a, const CImgBuff& b) {
  if (a.Format() != b.Format()) return "formats differ";
  const int32_t bpp = ImgBytesPerPixel[a.Format()];
  const uint8_t* p = static_cast<const uint8_t*>(a.Pixels());
  const uint8_t* q = static_cast<const uint8_t*>(b.Pixels());
  for (int64_t i = 0; i < int64_t(a.Width()) * a.Height(); ++i) {
    if (std::memcmp(p + i * bpp, q + i * bpp, bpp) != 0) {
      std::string s = "pixel (" + std::to_string(i % a.Width()) + ", " +
                      std::to_string(i / a.Width()) + "): typed";
      for (int k = 0; k < bpp; ++k) s += " " + std::to_string(p[i * bpp + k]);
      s += " / reference";
      for (int k = 0; k < bpp; ++k) s += " " + std::to_string(q[i * bpp + k]);
      return s;
    }
  }
  return "none";
}

// An R,G,B 8 picture of 512 x 512 with every pair the 8-bit hue and saturation kernels
// divide: rows 0..255 hold red-maximum pixels with every difference d = row and every g - b
// from -d to d; rows 256..511 every maximum (row - 256) with every range d up to it.  The
// other channel orders follow from the same quotients; random pictures cover them.
inline void FillEveryQuotient(CImgBuff& img) {
  ASSERT_EQ(1, img.Allocate(512, 512, 4));
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 512; ++x) {
      const int32_t d = y, a = std::clamp(x - 255, -d, d), mn = 255 - d;
      img.SetRGB8(x, y, 255, uint8_t(mn + (a > 0 ? a : 0)), uint8_t(mn + (a < 0 ? -a : 0)));
      const int32_t mx = y, dd = std::min(x / 2, mx);
      img.SetRGB8(x, y + 256, uint8_t(mx), uint8_t(mx - dd), uint8_t(mx - dd));
    }
}

// Rectangles that touch every edge, a thin column, an interior block and the whole picture.
inline std::vector<RoiRect> TestRects(int32_t w, int32_t h) {
  return {{0, 0, w - 1, h - 1}, {0, 0, w - 1, 2},      {w - 3, h - 2, w + 5, h + 5},
          {-4, 3, 5, h - 1},    {w - 1, 0, w - 1, h - 1}, {7, 5, w - 8, h - 6}};
}

// Runs op on one random picture with the typed kernels and on a copy through the accessor
// path, for the whole picture (null rectangle) and every test rectangle, and compares.
// 97 x 61 pixels: the whole picture is large enough to be split over the worker pool.
inline void ExpectTypedMatchesReference(
    int32_t format, const std::string& what,
    const std::function<int32_t(CImgBuff*, const RoiRect*)>& op, int32_t w = 97,
    int32_t h = 61) {
  std::vector<RoiRect> rects = TestRects(w, h);
  for (size_t k = 0; k <= rects.size(); ++k) {
    const RoiRect* roi = k == 0 ? nullptr : &rects[k - 1];
    CImgBuff typed, reference;
    FillRandom(typed, w, h, format, uint32_t(1234 + k * 7 + format));
    CopyPicture(reference, typed);
    SetEngineTypedKernels(1);
    const int32_t a = op(&typed, roi);
    SetEngineTypedKernels(0);
    const int32_t b = op(&reference, roi);
    SetEngineTypedKernels(1);
    EXPECT_EQ(a, b) << what << " format " << format << " rect " << k;
    EXPECT_TRUE(SamePixels(typed, reference))
        << what << " format " << format << " rect " << k << ": "
        << FirstDifference(typed, reference);
  }
}

}  // namespace enginetest
