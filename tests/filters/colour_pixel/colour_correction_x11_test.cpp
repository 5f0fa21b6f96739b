// colour_correction_x11_test.cpp - the colour correction and colour map windows on a real X
// server, in both languages: the patches as drawn, real clicks and arrow keys, the diagram
// as painted, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "filters/colour_pixel/colormap.h"
#include "filters/colour_pixel/colour_correction.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::SaveShot;
using filtertest::SendButton;
using filtertest::SendKey;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

class CorrectionX11 : public ::testing::TestWithParam<const wchar_t*> {};

bool Near(const uint8_t* p, int r, int g, int b) {
  return std::abs(p[0] - r) <= 1 && std::abs(p[1] - g) <= 1 && std::abs(p[2] - b) <= 1;
}

TEST_P(CorrectionX11, PatchesClicksAndArrows) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const std::string tag = IsJapanese(language) ? "jp" : "en";
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(32, 32, ImgFormatRgb24));
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) src.SetRGB8(x, y, 40, 200, 60);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfColorCorrection>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(320u, f->m_clientWidth);
  EXPECT_EQ(216u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  SaveShot(f, "color_correction_" + tag + ".png");
  // Red top left, cyan below it, yellow bottom right.
  EXPECT_TRUE(Near(f->At(50, 20), 175, 54, 60));
  EXPECT_TRUE(Near(f->At(50, 180), 8, 133, 161));
  EXPECT_TRUE(Near(f->At(260, 180), 231, 199, 31));

  // Select green (patch 2), pick the frame's green, then Down to magenta, Left to cyan.
  SendButton(f, 1, 112 + 30, 8 + 20);
  ASSERT_TRUE(PumpUntil([&] { return f->Selected() == 2; }, 3000));
  f->OnLButtonDown(int64_t(16), int64_t(16), uint8_t(0));
  ASSERT_TRUE(PumpUntil([&] { return f->PickPending() == 0; }, 3000));
  SaveShot(f, "color_correction_" + tag + "_picked.png");
  EXPECT_TRUE(Near(f->At(112 + 48, 8 + 20), 40, 200, 60)) << "measured half";
  EXPECT_TRUE(Near(f->At(112 + 48, 8 + 80), 70, 148, 73)) << "standard half";
  EXPECT_EQ(0, f->At(112 - 3, 8 + 40)[0]) << "black frame of the selection";
  EXPECT_EQ(255, f->At(112 - 1, 8 + 40)[0]) << "white frame of the selection";
  host.Reprocess(0);
  uint8_t r, g, b;
  host.m_display.GetRGB8(5, 5, &r, &g, &b);
  // The hue moves to the standard green's; saturation and value stay.
  EXPECT_EQ(200, g);
  EXPECT_EQ(40, r);
  EXPECT_LT(b, 55) << int(r) << " " << int(g) << " " << int(b);

  SendKey(f, 0xFF54);  // Down
  ASSERT_TRUE(PumpUntil([&] { return f->Selected() == 5; }, 3000));
  SendKey(f, 0xFF51);  // Left
  ASSERT_TRUE(PumpUntil([&] { return f->Selected() == 3; }, 3000));
  SendButton(f, 1, 112 + 30, 8 + 70);  // green's lower half: measured back to standard
  ASSERT_TRUE(PumpUntil([&] { return f->Patch(2).imgR == f->Patch(2).stdR; }, 3000));
  EXPECT_EQ(2, f->Selected());
  SaveShot(f, "color_correction_" + tag + "_reset.png");
  EXPECT_TRUE(Near(f->At(112 + 48, 8 + 20), 70, 148, 73));
}

TEST_P(CorrectionX11, ColorMapWindowShowsTheDiagram) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const std::string tag = IsJapanese(language) ? "jp" : "en";
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(64, 64, ImgFormatRgb24));
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) src.SetRGB8(x, y, uint8_t(x * 4), uint8_t(y * 4), 128);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfColorMap>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(264u, f->m_clientWidth);
  EXPECT_EQ(286u, f->m_clientHeight);
  ASSERT_EQ(2, f->m_menuBar.m_menuCount);
  host.Reprocess(0);
  SaveShot(f, "color_map_" + tag + "_xy.png");
  CImgBuff diagram;
  ASSERT_EQ(1, f->CopyDiagram(&diagram));
  // The window shows the diagram at (4, 26).
  for (int i = 0; i < 3; ++i) {
    int x = 60 + 50 * i, y = 120;
    uint8_t r, g, b;
    diagram.GetRGB8(x, y, &r, &g, &b);
    EXPECT_TRUE(Near(f->At(4 + x, 26 + y), r, g, b)) << x;
  }
  f->OnCommand(103);
  host.Reprocess(0);
  SaveShot(f, "color_map_" + tag + "_hsv.png");
  f->OnCommand(102);
  f->OnCommand(302);
  host.Reprocess(0);
  SaveShot(f, "color_map_" + tag + "_lab_white.png");
  EXPECT_TRUE(Near(f->At(4 + 1, 26 + 1), 255, 255, 255));
}

INSTANTIATE_TEST_SUITE_P(Languages, CorrectionX11, ::testing::Values(L"en", L"jp"));

}  // namespace
