// scene_test_util.h - a still scene of soft random blobs rendered into gray 8-bit frames,
// turned and moved by known amounts, for the stabilisation and composite tests.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/imgbuff.h"

namespace enginetest {

// A still scene of soft blobs: smooth enough for sub-pixel matching, textured everywhere.
struct Scene {
  struct Blob {
    double x, y, r, a;
  };
  std::vector<Blob> blobs;
  explicit Scene(uint32_t seed, int32_t w, int32_t h) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> px(-20, w + 20), py(-20, h + 20), pr(2.5, 7), pa(-90, 90);
    for (int32_t i = 0; i < w * h / 120; ++i) blobs.push_back({px(rng), py(rng), pr(rng), pa(rng)});
  }
  double At(double x, double y) const {
    double v = 128;
    for (const Blob& b : blobs) {
      const double d2 = (x - b.x) * (x - b.x) + (y - b.y) * (y - b.y);
      if (d2 < 25 * b.r * b.r) v += b.a * std::exp(-d2 / (2 * b.r * b.r));
    }
    return v < 0 ? 0 : v > 255 ? 255 : v;
  }
  // Frame whose content is the scene turned by deg (clockwise as displayed) about (cx, cy)
  // and then moved by (mx, my).
  void Render(CImgBuff& img, int32_t w, int32_t h, double deg = 0, double mx = 0, double my = 0) const {
    ASSERT_EQ(1, img.Allocate(w, h, 1));
    const double cx = w / 2, cy = h / 2, t = -deg * 3.141592653589793 / 180, c = std::cos(t), s = std::sin(t);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const double qx = x - mx - cx, qy = y - my - cy;
        img.SetGray8(x, y, uint8_t(At(cx + c * qx - s * qy, cy + s * qx + c * qy) + 0.5));
      }
  }
};

}  // namespace enginetest
