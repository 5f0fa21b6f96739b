// chainrun_x11_test.cpp - on a real X server: a filter's overlay, drawn through the overlay
// pass with the converters it is handed, lands on the window pixel it names.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include "app/filterctrl.h"
#include "tests/app/overlay_target.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

// Draws one point at a fixed window pixel through ImageToView and the converters.
class PointFilter : public CImgFilter {
 public:
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*, int32_t vx0,
                   int32_t vy0, int32_t vx1, int32_t vy1, int32_t ix0, int32_t iy0, int32_t ix1,
                   int32_t iy1, int32_t zoom) override {
    int32_t x = imageX, y = imageY;
    ImageToView(&x, &y, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom);
    glPointSize(1.0f);
    glColor3d(m_guide[0], m_guide[1], m_guide[2]);
    glBegin(GL_POINTS);
    glVertex2d(toGlX(x), toGlY(y));
    glEnd();
  }
  int32_t imageX = 0, imageY = 0;
};

TEST(OverlayX11, APointLandsOnItsPixel) {
  REQUIRE_DISPLAY();
  CFgScreen screen;
  ASSERT_EQ(1, screen.Create(50, 50, 160, 120, L"overlay", FgStyleDialog, nullptr));
  SetOverlayMainWindow(&screen);
  CFilterCtrl ctrl;
  PointFilter* f = new PointFilter;
  ASSERT_EQ(1, ctrl.AddFilter(f, nullptr));
  ctrl.SetOverlayColor(1, 1, 1);
  struct Case {
    int32_t ix, iy, zoom, wx, wy;  // image point, zoom code, expected window pixel
  } cases[] = {{0, 0, 1, 10, 20}, {37, 41, 1, 47, 61}, {12, 9, 2, 34, 38}, {99, 79, -2, 59, 59}};
  for (const Case& c : cases) {
    f->imageX = c.ix;
    f->imageY = c.iy;
    const std::vector<uint8_t> top =
        qvtest::OverlayPass(screen, ctrl, nullptr, 10, 20, 149, 119, 0, 0, 139, 99, c.zoom);
    ASSERT_FALSE(top.empty());
    int lit = 0, at = 0;
    for (uint64_t row = 0; row < screen.m_clientHeight; ++row)
      for (uint64_t col = 0; col < screen.m_clientWidth; ++col) {
        if (top[size_t((row * screen.m_clientWidth + col) * 3)] > 128) {
          lit++;
          if (int(col) == c.wx && int(row) == c.wy) at = 1;
        }
      }
    EXPECT_EQ(1, lit) << c.ix << "," << c.iy;
    EXPECT_EQ(1, at) << c.ix << "," << c.iy;
  }
  SetOverlayMainWindow(nullptr);
}

}  // namespace
