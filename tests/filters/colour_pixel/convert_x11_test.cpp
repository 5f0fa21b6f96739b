// convert_x11_test.cpp - the component extraction window on a real X server, in both
// languages (and "jp " as English): its size, labels and radio widths, a grey frame that
// disables every control, real clicks that choose a component and tick "color" and "CMYK",
// the frame after each run, and screenshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/component.h"
#include "filters/colour_pixel/convert.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;
using ShotConvert = filtertest::ShotWindow<CLfConvert>;

void Click(CFgScreen* s, const CFgUIObj& w) { filtertest::ClickControl(s, w); }
void Shot(ShotConvert* f, const char* name) { filtertest::SaveShot(f, name); }

class ConvertX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ConvertX11, ClicksChooseTheComponentOfTheFrame) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  const std::string lang = ja ? "jp" : language[0] == L'j' ? "jp_blank" : "en";
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff grey, colour;
  apptest::MakePicture(grey, 24, 12, ImgFormatGray8, 2);
  apptest::MakePicture(colour, 24, 12, ImgFormatRgb24, 3);
  ASSERT_EQ(1, host.SetVideo({&grey, &colour}, 40000));
  ShotConvert* f = new ShotConvert;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 465u : 290u, f->m_clientWidth);
  EXPECT_EQ(125u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\x30B0\x30EC\x30FC" : L"GRAY", f->m_radio[3].m_text);
  EXPECT_STREQ(ja ? L"C*\x6210\x5206" : L"C", f->m_radio[17].m_text);
  EXPECT_EQ(ja ? 70 : 40, f->m_radio[0].m_width);
  EXPECT_EQ(ja ? 380 : 230, f->m_radio[17].m_x);
  EXPECT_EQ(ja ? 170 : 110, f->m_cmykBox.m_x);

  // The grey frame: all off, and a click on a radio does nothing.
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(0, f->m_radio[0].m_enabled);
  Click(f, f->m_radio[0]);
  filtertest::Settle();
  EXPECT_EQ(3, f->GetSettings().sel);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  Shot(f, ("component_extraction_" + lang + "_grey.png").c_str());

  // The colour frame: grey of the whole frame, controls on.
  ASSERT_EQ(1, host.SeekFrame(1));
  EXPECT_EQ(ImgFormatGray8, host.m_display.Format());
  EXPECT_EQ(1, f->m_radio[0].m_enabled);
  EXPECT_EQ(0, f->m_colorBox.m_enabled);

  // "R" clicked: the display holds the red samples.
  Click(f, f->m_radio[0]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().sel == 0; }, 3000));
  host.WaitIdle();
  ASSERT_EQ(ImgFormatGray8, host.m_display.Format());
  for (int32_t i = 0; i < 24 * 12; ++i)
    ASSERT_EQ(static_cast<const uint8_t*>(colour.Pixels())[3 * i],
              static_cast<const uint8_t*>(host.m_display.Pixels())[i]);
  // "color": red shown as (R, 0, 0) and the frame keeps its format.
  EXPECT_EQ(1, f->m_colorBox.m_enabled);
  Click(f, f->m_colorBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().color == 1; }, 3000));
  host.WaitIdle();
  CImgBuff ref;
  apptest::MakePicture(ref, 24, 12, ImgFormatRgb24, 3);
  ASSERT_EQ(1, ExtractComponent(&ref, 2, 1, nullptr));
  EXPECT_TRUE(apptest::SamePixels(ref, host.m_display));
  // "CMYK" enables "K"; "K" then disables "CMYK".
  EXPECT_EQ(0, f->m_radio[kConvertIndexK].m_enabled);
  Click(f, f->m_cmykBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().cmyk == 1; }, 3000));
  EXPECT_EQ(1, f->m_radio[kConvertIndexK].m_enabled);
  Click(f, f->m_radio[kConvertIndexK]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().sel == kConvertIndexK; }, 3000));
  EXPECT_EQ(0, f->m_cmykBox.m_enabled);
  host.WaitIdle();
  apptest::MakePicture(ref, 24, 12, ImgFormatRgb24, 3);
  ASSERT_EQ(1, ExtractComponent(&ref, 14, 1, nullptr));
  EXPECT_TRUE(apptest::SamePixels(ref, host.m_display));
  Shot(f, ("component_extraction_" + lang + "_k.png").c_str());
}

INSTANTIATE_TEST_SUITE_P(Languages, ConvertX11, ::testing::Values(L"en", L"jp", L"jp "));

}  // namespace
