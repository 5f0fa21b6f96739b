// colour_x11_test.cpp - the colour filter and white balance windows on a real X server, in
// both languages: size and labels, the swatches as drawn, real clicks that change what the
// chain makes, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "filters/colour_pixel/wave_filter.h"
#include "filters/colour_pixel/white_balance.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::ShotWindow;

class ColourX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ColourX11, RedFilterInColourLeavesRed) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(8, 8, ImgFormatRgb24));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) src.SetRGB8(x, y, 200, 100, 50);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfWave>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(260u, f->m_clientWidth);
  EXPECT_EQ(200u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\x30AB\x30E9\x30FC\x51FA\x529B" : L"color image",
               f->m_filterRadio[1].m_text);
  EXPECT_EQ(ja ? 38 : 87, f->m_waveEdit.m_x);
  SaveShot(f, ja ? "color_filter_jp.png" : "color_filter_en.png");
  EXPECT_EQ(0, f->At(30, 130)[0]) << "black swatch at wave length 0";

  ClickControl(f, f->m_waveButton[0]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().waveLength == 610.0; }, 3000));
  ClickControl(f, f->m_filterRadio[1]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().filterMode == 1; }, 3000));
  uint8_t r, g, b;
  ASSERT_EQ(1, host.m_display.GetRGB8(3, 3, &r, &g, &b));
  EXPECT_EQ(200, r);
  EXPECT_EQ(0, g);
  EXPECT_EQ(0, b);
  EXPECT_EQ(0, f->m_gainRadio[0].m_enabled);
  SaveShot(f, ja ? "color_filter_jp_red.png" : "color_filter_en_red.png");
  const uint8_t* swatch = f->At(60, 134);
  EXPECT_EQ(255, swatch[0]);
  EXPECT_EQ(0, swatch[1]);
  EXPECT_EQ(0, swatch[2]);
}

TEST_P(ColourX11, WhiteBalanceAutoNeutralisesACast) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(16, 16, ImgFormatRgb24));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) src.SetRGB8(x, y, 200, 170, 140);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfWhiteBalance>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(216u, f->m_clientWidth);
  EXPECT_EQ(194u, f->m_clientHeight);
  EXPECT_STREQ(ja ? L"\x30AA\x30FC\x30C8" : L"auto", f->m_autoButton.m_text);
  SaveShot(f, ja ? "white_balance_jp.png" : "white_balance_en.png");
  EXPECT_EQ(255, f->At(50, 50)[2]) << "white swatch";

  ClickControl(f, f->m_autoButton);
  int32_t has = 0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        f->GetGains(nullptr, nullptr, nullptr, &has);
        return has == 1;
      },
      3000));
  host.Reprocess(0);
  uint8_t r, g, b;
  ASSERT_EQ(1, host.m_display.GetRGB8(3, 3, &r, &g, &b));
  EXPECT_LE(std::abs(int(r) - int(b)), 3) << int(r) << " " << int(g) << " " << int(b);
  EXPECT_LE(std::abs(int(r) - int(g)), 3);
  SaveShot(f, ja ? "white_balance_jp_auto.png" : "white_balance_en_auto.png");
  const uint8_t* swatch = f->At(50, 50);
  EXPECT_GT(int(swatch[0]), int(swatch[2]) + 40) << "the warm reference";
  EXPECT_GT(f->m_bar[2].m_position, f->m_bar[0].m_position);

  // A real click on the blue bar's track pages it along; the reference follows it.
  double before = 0, after = 0;
  f->GetGains(nullptr, nullptr, &before, nullptr);
  const CFgUIScrollBar& bar = f->m_bar[2];
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, bar.m_x + bar.m_width - 30,
                                 bar.m_y + bar.m_height / 2));
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, bar.m_x + bar.m_width - 30,
                                 bar.m_y + bar.m_height / 2));
  ASSERT_TRUE(PumpUntil(
      [&] {
        f->GetGains(nullptr, nullptr, &after, nullptr);
        return after != before;
      },
      3000));
  EXPECT_NEAR((255 - f->m_bar[2].m_position) / 255.0, after, 1e-12);
  SaveShot(f, ja ? "white_balance_jp_bar.png" : "white_balance_en_bar.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, ColourX11, ::testing::Values(L"en", L"jp"));

}  // namespace
