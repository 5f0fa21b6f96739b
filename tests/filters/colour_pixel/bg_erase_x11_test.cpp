// bg_erase_x11_test.cpp - the background removal window on a real X server in both
// languages: size and labels, a real click on "object extraction" that enables the level and
// tile rows and changes what the chain makes, and screenshots.
#include <gtest/gtest.h>

#include <string>

#include "filters/colour_pixel/bg_erase.h"
#include "media/imgio/imgio.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

class BgEraseX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(BgEraseX11, ExtractionByARealClick) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  qvtest::TempFolder dir("bgerase_x11");
  ASSERT_TRUE(dir.ok());
  CImgBuff bg;
  ASSERT_EQ(1, bg.Allocate(16, 16, ImgFormatRgb24));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) bg.SetRGB8(x, y, 100, 100, 100);
  ASSERT_EQ(1, SaveImageFile(&bg, dir.WideFile("bg.png").c_str(), nullptr, nullptr));
  CImgBuff frame;
  frame.CopyFrom(bg);
  for (int y = 4; y < 8; ++y)
    for (int x = 4; x < 8; ++x) frame.SetRGB8(x, y, 250, 20, 20);
  CTestHost host;
  host.SetLanguage(language);
  host.SetStill(frame);
  auto* f = new ShotWindow<CLfBgErase>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 304u : 352u, f->m_clientWidth);
  EXPECT_EQ(144u, f->m_clientHeight);
  EXPECT_STREQ(ja ? L"\x7269\x4F53\x62BD\x51FA" : L"object extraction", f->m_extractRadio.m_text);
  ASSERT_EQ(1, f->LoadBackground(dir.WideFile("bg.png").c_str()));
  f->m_pathEdit.SetLine(0, dir.WideFile("bg.png").c_str());
  SaveShot(f, ja ? "background_removal_jp.png" : "background_removal_en.png");
  EXPECT_EQ(0, f->m_levelBar.m_enabled);

  ClickControl(f, f->m_extractRadio);
  ASSERT_TRUE(PumpUntil([&] { return f->EraseType() == 1; }, 3000));
  EXPECT_EQ(1, f->m_levelBar.m_enabled);
  EXPECT_EQ(1, f->m_tileBar.m_enabled);
  host.Reprocess(0);
  uint8_t r, g, b;
  host.m_display.GetRGB8(1, 1, &r, &g, &b);
  EXPECT_TRUE(r == g && g == b && (r == 0 || r == 255))
      << "the background painted in the chain's background value";
  host.m_display.GetRGB8(5, 5, &r, &g, &b);
  EXPECT_EQ(250, r) << "the object stays";
  SaveShot(f, ja ? "background_removal_jp_extract.png" : "background_removal_en_extract.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, BgEraseX11, ::testing::Values(L"en", L"jp"));

}  // namespace
