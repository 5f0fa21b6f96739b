// rect_x11_test.cpp - on a real X server: the process rectangle's outline, drawn through the
// overlay pass, lights exactly the window pixels of its corners' loop.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/filterctrl.h"
#include "filters/colour_pixel/rect.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

TEST(ProcessRectX11, OutlineLandsOnItsPixels) {
  REQUIRE_DISPLAY();
  CFgScreen screen;
  ASSERT_EQ(1, screen.Create(50, 50, 200, 160, L"process rect", FgStyleDialog, nullptr));
  SetOverlayMainWindow(&screen);
  CFilterCtrl ctrl;
  ctrl.SetImageInfo(100, 80, 1, 1);
  CLfRect* rect = new CLfRect;
  ASSERT_EQ(1, ctrl.AddFilter(rect, nullptr));
  ctrl.SetOverlayColor(1, 1, 1);
  rect->m_filterEnabled = 1;
  rect->OnLButtonDown(5, 6, 0);  // no host answers requests here: a plain controller
  rect->OnMouseMove(14, 25, 0);
  rect->OnLButtonUp(14, 25, 0);
  struct Case {
    int32_t zoom;
    int32_t vx1, vy1;
  } cases[] = {{1, 109, 99}, {3, 189, 149}, {0, 189, 149}, {-2, 109, 99}};
  for (const Case& c : cases) {
    ASSERT_EQ(1, screen.BeginDraw());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ctrl.DrawOverlays(&screen, nullptr, 10, 20, c.vx1, c.vy1, 0, 0, 99, 79, c.zoom);
    glFinish();
    const uint64_t w = screen.m_clientWidth, h = screen.m_clientHeight;
    std::vector<uint8_t> rgb = toolkittest::ReadBack(w, h);
    screen.EndDraw(1);
    // Top row first, for the screenshot and the checks.
    std::vector<uint8_t> top(rgb.size());
    for (uint64_t y = 0; y < h; ++y)
      std::copy(rgb.begin() + long((h - 1 - y) * w * 3), rgb.begin() + long((h - y) * w * 3),
                top.begin() + long(y * w * 3));
    std::string path = std::string(QV_TEST_OUT_DIR) + "/process_rect_zoom" +
                       std::to_string(c.zoom) + ".png";
    EXPECT_TRUE(toolkittest::WritePng(path, top, int(w), int(h))) << path;
    int32_t a, b, cc, d;
    RectOverlayCorners(5, 6, 10, 20, 10, 20, c.vx1, c.vy1, 0, 0, 99, 79, c.zoom, &a, &b, &cc, &d);
    std::set<std::pair<int, int>> outline;
    for (int x = a; x <= cc; ++x) outline.insert({x, b}), outline.insert({x, d});
    for (int y = b; y <= d; ++y) outline.insert({a, y}), outline.insert({cc, y});
    std::set<std::pair<int, int>> lit;
    for (uint64_t y = 0; y < h; ++y)
      for (uint64_t x = 0; x < w; ++x)
        if (top[(y * w + x) * 3] > 128) lit.insert({int(x), int(y)});
    // Line rasterisation may leave out the far corner (a segment's last pixel belongs to
    // the next segment only when the diamond rule says so); nothing else may differ.
    if (!lit.count({cc, d})) outline.erase({cc, d});
    EXPECT_EQ(outline, lit) << "zoom " << c.zoom << " corners " << a << "," << b << " " << cc
                            << "," << d;
  }
  SetOverlayMainWindow(nullptr);
}

}  // namespace
