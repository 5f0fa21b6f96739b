// rect_x11_test.cpp - on a real X server: the process rectangle's outline, drawn through the
// overlay pass in a real main window, lights exactly the window pixels of its corners' loop.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/filterctrl.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/overlay_target.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

TEST(ProcessRectX11, OutlineLandsOnItsPixels) {
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(200, 160, L"process rect"));
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
    const std::vector<uint8_t> top =
        target.Pass(ctrl, nullptr, 10, 20, c.vx1, c.vy1, 0, 0, 99, 79, c.zoom);
    ASSERT_FALSE(top.empty());
    const uint64_t w = target.Width(), h = target.Height();
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
}

}  // namespace
