// diagram_test.cpp - the colour diagram backgrounds: where the outlines lie, what is coloured
// inside them and how, and the disc point of a hue and saturation.
#include "filters/colour_pixel/diagram.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>

#include "core/colour.h"
#include "engine/plot.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb At(const CImgBuff& p, int32_t x, int32_t y) {
  Rgb c{};
  EXPECT_EQ(1, p.GetRGB8(x, y, &c.r, &c.g, &c.b));
  return c;
}

// The pixels PlotCircle draws, as a mask.
void CircleMask(bool mask[256][256]) {
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) mask[y][x] = false;
  PlotCircle(
      [](int32_t x, int32_t y, void* ctx) -> int32_t {
        if (x >= 0 && y >= 0 && x < 256 && y < 256) static_cast<bool(*)[256]>(ctx)[y][x] = true;
        return 1;
      },
      mask);
}

TEST(ColourDiagram, LocusStartsAt360nmAndOutsideIsBlack) {
  CImgBuff p;
  ASSERT_EQ(1, p.Allocate(256, 256, ImgFormatRgb24));
  DrawSpectralLocus(&p, 200);
  uint8_t v = 0;
  p.GetGray8(44, 254, &v);
  EXPECT_EQ(200, v);

  ASSERT_EQ(1, MakeXyDiagram(&p, 0.5, 0));
  EXPECT_EQ((Rgb{0, 0, 0}), At(p, 0, 0));
  EXPECT_EQ((Rgb{0, 0, 0}), At(p, 255, 0));
  EXPECT_EQ((Rgb{0, 0, 0}), At(p, 255, 255));
  // D65 white (x 0.3127, y 0.3290) lies inside and is coloured near neutral.
  int32_t wx = int32_t(0.3127 * 255), wy = 255 - int32_t(0.329 * 255);
  Rgb w = At(p, wx, wy);
  EXPECT_GT(w.r, 100);
  EXPECT_NEAR(w.r, w.g, 12);
  EXPECT_NEAR(w.g, w.b, 12);
  // Its exact colour is SetXYZ's of that chromaticity.
  CImgBuff one;
  ASSERT_EQ(1, one.Allocate(1, 1, ImgFormatRgb24));
  double cx = wx / 255.0, cy = (255 - wy) / 255.0;
  one.SetXYZ(0, 0, 0.5 / cy * cx, 0.5, 0.5 / cy * (1 - cx - cy));
  EXPECT_EQ(At(one, 0, 0), w);
  // A white background turns the outside white.
  ASSERT_EQ(1, MakeXyDiagram(&p, 0.5, 255));
  EXPECT_EQ((Rgb{255, 255, 255}), At(p, 0, 0));
  EXPECT_EQ(0, MakeXyDiagram(nullptr, 0.5, 0));
}

TEST(ColourDiagram, LabAndHsvColouredExactlyInsideTheCircle) {
  bool circle[256][256];
  CircleMask(circle);
  // Inside = on a row, between the circle's leftmost and rightmost pixel.
  for (int which = 0; which < 2; ++which) {
    CImgBuff p;
    ASSERT_EQ(1, which ? MakeHsvDiagram(&p, 0) : MakeLabDiagram(&p, 50, 0));
    CImgBuff one;
    ASSERT_EQ(1, one.Allocate(1, 1, ImgFormatRgb24));
    int32_t wrong = 0;
    for (int y = 0; y < 256; ++y) {
      int lo = 256, hi = -1;
      for (int x = 0; x < 256; ++x)
        if (circle[y][x]) lo = std::min(lo, x), hi = std::max(hi, x);
      for (int x = 0; x < 256; ++x) {
        Rgb expect{0, 0, 0};
        if (x >= lo && x <= hi) {
          if (which) {
            double dx = x - 128, dy = 128 - y;
            double a = std::atan2(dy, dx);
            if (a < 0) a += 2 * M_PI;
            double h = std::min(a / (2 * M_PI) * 65535, 65535.0);
            double s = std::min(std::sqrt(dx * dx + dy * dy) / 128 * 65535, 65535.0);
            one.SetHSV16(0, 0, uint16_t(h), uint16_t(s), 65535);
          } else {
            one.SetLab(0, 0, 50, x * 255.0 / 256 - 128, 128 - y * 255.0 / 256);
          }
          expect = At(one, 0, 0);
        }
        if (!(At(p, x, y) == expect)) ++wrong;
      }
    }
    EXPECT_EQ(0, wrong) << (which ? "HSV" : "L*a*b*");
    for (int c : {0, 255}) EXPECT_EQ((Rgb{0, 0, 0}), At(p, c, c));
  }
  // The circle reaches columns and rows 0 and 255.
  bool left = false, top = false;
  for (int i = 0; i < 256; ++i) left |= circle[i][0], top |= circle[0][i];
  EXPECT_TRUE(left && top);
}

TEST(ColourDiagram, HsvCentreWhiteAndRightEdgeRed) {
  CImgBuff p;
  ASSERT_EQ(1, MakeHsvDiagram(&p, 0));
  EXPECT_EQ((Rgb{255, 255, 255}), At(p, 128, 128));
  CImgBuff one;
  ASSERT_EQ(1, one.Allocate(1, 1, ImgFormatRgb24));
  one.SetHSV16(0, 0, 0, 65023, 65535);
  EXPECT_EQ(At(one, 0, 0), At(p, 255, 128));
  Rgb red = At(p, 255, 128);
  EXPECT_EQ(255, red.r);
  EXPECT_LT(red.g, 4);
}

TEST(ColourDiagram, DiscPoints) {
  struct Case {
    uint16_t hue, sat;
    uint32_t x, y;
  } cases[] = {
      {0, 0, 128, 128},     {40000, 0, 128, 128}, {65535, 0, 128, 128},
      {0, 65535, 255, 128}, {16384, 65535, 128, 255}, {32768, 65535, 0, 128},
      {49152, 65535, 128, 0}, {49151, 65535, 127, 0}, {0, 32768, 192, 128},
  };
  for (const Case& c : cases) {
    uint32_t x = 999, y = 999;
    EXPECT_EQ(1, HueSatToDiscPoint(256, c.hue, c.sat, &x, &y));
    EXPECT_EQ(c.x, x) << c.hue << " " << c.sat;
    EXPECT_EQ(c.y, y) << c.hue << " " << c.sat;
  }
  EXPECT_EQ(1, HueSatToDiscPoint(256, 1000, 1000, nullptr, nullptr));
  uint32_t x = 7, y = 7;
  EXPECT_EQ(1, HueSatToDiscPoint(0, 1000, 65535, &x, &y));
  EXPECT_EQ(0u, x);
  EXPECT_EQ(0u, y);
}

TEST(ColourDiagram, SharedBackgroundsMadeOnce) {
  EnsureDiagramBackgrounds();
  CImgBuff* xy = XyDiagramBackground;
  ASSERT_NE(nullptr, xy);
  ASSERT_NE(nullptr, LabDiagramBackground);
  ASSERT_NE(nullptr, HsvDiagramBackground);
  EnsureDiagramBackgrounds();
  EXPECT_EQ(xy, XyDiagramBackground);
}

}  // namespace
