// zoom_x11_test.cpp - the zoom on a real X server: its window in both languages (size,
// labels, places), a drag and a real click on "set" that change the frame as RotateScale
// does, and the working rectangle's loop drawn through the overlay pass in the guide colour at
// zoom codes 1, 2, -2 and with one picture column shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "engine/rotate_scale.h"
#include "filters/binary_geometry_fourier/zoom.h"
#include "tests/app/app_test_util.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

class ZoomX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ZoomX11, DragAndSetChangeTheFrame) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 160, 120, ImgFormatRgb24, 6);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfAtrans>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(230u, f->m_clientWidth);
  EXPECT_EQ(110u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\u9818\u57DF\u6307\u5B9A" : L"input area", f->m_inputBox.m_text);
  EXPECT_STREQ(ja ? L"\u6C7A\u5B9A" : L"set", f->m_setButton.m_text);
  EXPECT_EQ(ja ? 85 : 120, f->m_inputBox.m_width);
  EXPECT_EQ(210, f->m_setButton.m_width);
  SaveShot(f, ja ? "zoom_jp.png" : "zoom_en.png");

  f->OnLButtonDown(20, 10, 1);  // Shift: a free, turned diagonal
  f->OnMouseMove(100, 70, 1);
  f->OnLButtonUp(100, 70, 1);
  ClickControl(f, f->m_setButton);
  ASSERT_TRUE(PumpUntil([&] { return f->GetState().enable == 1; }, 3000));
  ASSERT_TRUE(PumpUntil([&] { return f->m_inputBox.m_checked == 0; }, 3000));
  const CLfAtrans::State s = f->GetState();
  CImgBuff want;
  want.CopyFrom(src);
  ASSERT_EQ(1, RotateScale(&want, s.transform.cx, s.transform.cy, s.transform.angle,
                           s.transform.scale, 0, 1));
  ASSERT_TRUE(PumpUntil([&] { return apptest::SamePixels(want, host.m_display); }, 3000));
  SaveShot(f, ja ? "zoom_jp_set.png" : "zoom_en_set.png");
  EXPECT_EQ(0, f->m_setButton.m_enabled);

  // "mirror" clicked for real: the frame is mirrored as well.
  ClickControl(f, f->m_mirrorBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetState().mirror == 1; }, 3000));
  want.CopyFrom(src);
  ASSERT_EQ(1, RotateScale(&want, s.transform.cx, s.transform.cy, s.transform.angle,
                           s.transform.scale, 1, 1));
  ASSERT_TRUE(PumpUntil([&] { return apptest::SamePixels(want, host.m_display); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(Languages, ZoomX11, ::testing::Values(L"en", L"jp"));

// The loop through the four mapped corners, drawn in the guide colour; the point at corner 1.
TEST(ZoomOverlayX11, LoopInTheGuideColour) {
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(240, 200, L"zoom overlay"));
  CFilterCtrl ctrl;
  ctrl.SetImageInfo(100, 80, 1, 1);
  auto* f = new CLfAtrans;
  ASSERT_EQ(1, ctrl.AddFilter(f, nullptr));
  ctrl.SetOverlayColor(0, 1, 0);
  f->m_filterEnabled = 1;
  struct Case {
    const char* name;
    uint8_t shift;
    int32_t zoom;
    int32_t vx1, vy1, ix0, ix1;
  } cases[] = {
      {"straight_zoom1", 0, 1, 109, 99, 0, 99},   {"straight_zoom2", 0, 2, 209, 179, 0, 99},
      {"turned_zoom1", 1, 1, 109, 99, 0, 99},     {"turned_zoom2", 1, 2, 209, 179, 0, 99},
      {"turned_zoom-2", 1, -2, 59, 59, 0, 99},    {"turned_one_column", 1, 0, 29, 99, 20, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f->OnLButtonDown(20, 15, c.shift);
    f->OnMouseMove(c.shift ? 60 : 60, c.shift ? 40 : 60, c.shift);
    f->OnLButtonUp(60, 60, c.shift);
    const CLfAtrans::State s = f->GetState();
    int32_t p[4][2];
    ZoomOverlayPoints(s.corners, 10, 20, c.vx1, c.vy1, c.ix0, 0, c.ix1, 79, c.zoom, p);
    const std::vector<uint8_t> top =
        target.Pass(ctrl, nullptr, 10, 20, c.vx1, c.vy1, c.ix0, 0, c.ix1, 79, c.zoom);
    ASSERT_FALSE(top.empty());
    const uint64_t w = target.Width(), h = target.Height();
    std::string path = std::string(QV_TEST_OUT_DIR) + "/zoom_overlay_" + c.name + ".png";
    EXPECT_TRUE(toolkittest::WritePng(path, top, int(w), int(h))) << path;
    int32_t minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
    for (auto& q : p) {
      minX = std::min(minX, q[0]);
      maxX = std::max(maxX, q[0]);
      minY = std::min(minY, q[1]);
      maxY = std::max(maxY, q[1]);
    }
    uint64_t lit = 0;
    for (uint64_t y = 0; y < h; ++y)
      for (uint64_t x = 0; x < w; ++x) {
        const uint8_t* px = &top[(y * w + x) * 3];
        if (!(px[0] | px[1] | px[2])) continue;
        ++lit;
        EXPECT_TRUE(px[0] == 0 && px[1] == 255 && px[2] == 0) << x << "," << y;
        EXPECT_TRUE(int32_t(x) >= minX - 1 && int32_t(x) <= maxX + 1 && int32_t(y) >= minY - 1 &&
                    int32_t(y) <= maxY + 1)
            << x << "," << y;
      }
    // With one column shown the loop runs mostly past the window's edge.
    const bool oneColumn = c.ix0 == c.ix1;
    EXPECT_GT(lit, oneColumn ? uint64_t(20) : uint64_t(maxX - minX + maxY - minY))
        << "the loop is drawn";
    const uint8_t* first = &top[(uint64_t(p[0][1]) * w + uint64_t(p[0][0])) * 3];
    EXPECT_EQ(255, first[1]) << "the point at corner 1";
  }
}

}  // namespace
