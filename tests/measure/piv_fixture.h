// piv_fixture.h - pictures for the PIV tests and benchmark: a texture defined on absolute
// coordinates (so a whole-pixel shift is exact), and Gaussian particles rendered at known
// sub-pixel positions.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/imgbuff.h"

inline uint32_t PivHash(int32_t x, int32_t y)
{
  uint32_t h = uint32_t(x) * 0x9E3779B1u ^ (uint32_t(y) * 0x85EBCA77u + 0x165667B1u);
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// Pixel (x, y) shows the texture at (x + ox, y + oy): hashed values on a 4-pixel lattice,
// interpolated bilinearly (smooth enough for the half-size search), plus a little
// pixel noise.
inline void PivRandomTexture(CImgBuff* pic, int32_t w, int32_t h, int32_t ox, int32_t oy, int32_t format)
{
  pic->Allocate(w, h, format);
  auto value = [](int32_t x, int32_t y, uint32_t salt) {
    const int32_t gx = x >= 0 ? x / 4 : (x - 3) / 4, gy = y >= 0 ? y / 4 : (y - 3) / 4;
    const double fx = (x - 4 * gx) / 4.0, fy = (y - 4 * gy) / 4.0;
    auto at = [&](int32_t i, int32_t j) { return double((PivHash(gx + i, gy + j) >> salt) & 255); };
    const double smooth = (at(0, 0) * (1 - fx) + at(1, 0) * fx) * (1 - fy) + (at(0, 1) * (1 - fx) + at(1, 1) * fx) * fy;
    const double noise = double((PivHash(x, y) >> salt) & 31);
    return uint8_t(std::min(255.0, smooth * 0.85 + noise));
  };
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      if (format == ImgFormatGray8) pic->SetGray8(x, y, value(x + ox, y + oy, 0));
      else pic->SetRGB8(x, y, value(x + ox, y + oy, 0), value(x + ox, y + oy, 8), value(x + ox, y + oy, 16));
    }
}

struct PivParticle {
  double x, y;
};

// density particles per pixel, uniformly placed over a border of 12 pixels beyond the picture.
inline std::vector<PivParticle> PivRandomParticles(int32_t w, int32_t h, double density, std::mt19937* rng)
{
  std::uniform_real_distribution<double> ux(-12.0, w + 12.0), uy(-12.0, h + 12.0);
  const int64_t n = int64_t(density * (w + 24) * (h + 24));
  std::vector<PivParticle> out;
  for (int64_t i = 0; i < n; ++i) out.push_back({ux(*rng), uy(*rng)});
  return out;
}

// 8-bit gray: each particle a Gaussian of sigma 0.8 (about 3 pixels across) and peak 180 at
// its position p moved by move(p.x, p.y, &dx, &dy); overlaps add up to 255.
template <class Move>
inline void PivRenderMoved(CImgBuff* pic, int32_t w, int32_t h, const std::vector<PivParticle>& particles, Move move)
{
  std::vector<double> acc(size_t(w) * size_t(h), 0.0);
  const double sigma = 0.8;
  for (const PivParticle& p : particles) {
    double dx = 0, dy = 0;
    move(p.x, p.y, &dx, &dy);
    const double px = p.x + dx, py = p.y + dy;
    const int32_t x0 = std::max(0, int32_t(std::floor(px - 4))), x1 = std::min(w - 1, int32_t(std::ceil(px + 4)));
    const int32_t y0 = std::max(0, int32_t(std::floor(py - 4))), y1 = std::min(h - 1, int32_t(std::ceil(py + 4)));
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x)
        acc[size_t(y) * size_t(w) + size_t(x)] +=
            180.0 * std::exp(-((x - px) * (x - px) + (y - py) * (y - py)) / (2 * sigma * sigma));
  }
  pic->Allocate(w, h, ImgFormatGray8);
  uint8_t* d = static_cast<uint8_t*>(pic->Pixels());
  for (size_t i = 0; i < acc.size(); ++i) d[i] = uint8_t(std::min(255.0, std::floor(acc[i] + 0.5)));
}

// The particles moved by (sx + shear (y - h / 2), sy).
inline void PivRenderParticles(CImgBuff* pic, int32_t w, int32_t h, const std::vector<PivParticle>& particles,
                               double sx, double sy, double shear)
{
  PivRenderMoved(pic, w, h, particles, [&](double, double y, double* dx, double* dy) {
    *dx = sx + shear * (y - h / 2.0);
    *dy = sy;
  });
}
