// clear_x11_test.cpp - the pixel value adjustment window on a real X server, in both
// languages: its size and labels, the bar dragged and the presets and radios clicked through
// the X server, the frame checked after each run, and screenshots.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filters/colour_pixel/clear.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

using ShotClear = filtertest::ShotWindow<CLfClear>;

void Click(CFgScreen* s, const CFgUIObj& w) { filtertest::ClickControl(s, w); }
void Shot(ShotClear* f, const char* name) { filtertest::SaveShot(f, name); }

class ClearX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ClearX11, BarPresetsAndRadiosChangeTheFrame) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(16, 8, ImgFormatGray8));
  std::memset(src.Pixels(), 200, 128);
  host.SetStill(src);
  ShotClear* f = new ShotClear;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(272u, f->m_clientWidth);
  EXPECT_EQ(92u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\x6700\x5927" : L"max", f->m_maxButton.m_text);
  EXPECT_EQ(ja ? 80 : 100, f->m_adjustRadio.m_width);
  EXPECT_EQ(64, f->m_bar.m_y);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  Shot(f, ja ? "pixel_value_adjustment_jp.png" : "pixel_value_adjustment_en.png");

  auto pixel = [&]() {
    host.WaitIdle();
    return static_cast<const uint8_t*>(host.m_display.Pixels())[100];
  };
  // "max" and "min": the bar follows, the frame is shifted by +127 and -128.
  Click(f, f->m_maxButton);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().value == 255; }, 3000));
  EXPECT_EQ(255, f->m_bar.m_position);
  EXPECT_EQ(255, pixel());
  Click(f, f->m_minButton);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().value == 0; }, 3000));
  EXPECT_EQ(72, pixel());

  // Drag the thumb: pressed and released through the X server; the test connection sends no
  // pointer motion, so the move between goes through the window's own mouse handler.
  FgScrollGeometry g = f->m_bar.Geometry();
  ASSERT_EQ(1, g.valid);
  const int32_t tx = int32_t(g.thumbStart + g.thumbLength / 2), ty = f->m_bar.m_y + 10;
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, tx, ty));
  ASSERT_TRUE(PumpUntil([&] { return f->m_bar.m_dragging != 0; }, 3000));
  f->OnMouseMove(tx + 120, ty);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, tx + 120, ty));
  ASSERT_TRUE(PumpUntil([&] { return f->m_bar.m_dragging == 0; }, 3000));
  const int32_t dragged = f->GetSettings().value;
  EXPECT_GT(dragged, 60);
  EXPECT_EQ(dragged, f->m_bar.m_position);
  int32_t expected = 200 + dragged - 128;
  EXPECT_EQ(uint8_t(expected < 0 ? 0 : expected > 255 ? 255 : expected), pixel());
  Shot(f, ja ? "pixel_value_adjustment_jp_drag.png" : "pixel_value_adjustment_en_drag.png");

  // "setting": every pixel of the frame takes the value.
  Click(f, f->m_settingRadio);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().mode == ClearModeSetting; }, 3000));
  EXPECT_EQ(dragged, pixel());
  Click(f, f->m_centerButton);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().value == 128; }, 3000));
  EXPECT_EQ(128, pixel());
  Shot(f, ja ? "pixel_value_adjustment_jp_setting.png" : "pixel_value_adjustment_en_setting.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, ClearX11, ::testing::Values(L"en", L"jp"));

}  // namespace
