// bayer_x11_test.cpp - the Bayer conversion window on a real X server, in both languages: its
// size, labels and widths, a gain typed and left by Enter, a wrong gain put back, "gain"
// unticked and an operation chosen by real clicks, the frame after each run equal to the
// engine's own call, and screenshots.
#include <gtest/gtest.h>

#include <string>

#include "engine/demosaic.h"
#include "filters/colour_pixel/bayer.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;
using ShotBayer = filtertest::ShotWindow<CLfBayer>;

void Click(CFgScreen* s, const CFgUIObj& w) { filtertest::ClickControl(s, w); }
void Key(CFgScreen* s, uint32_t key) { filtertest::SendKey(s, key); }
void Shot(ShotBayer* f, const std::string& name) { filtertest::SaveShot(f, name); }

// Clicks into the box near its left edge (the caret goes first), empties it by Delete and
// types text.
void TypeInto(ShotBayer* f, const CFgUIEdit& edit, const char* text) {
  Click(f, edit);
  filtertest::Settle();
  for (int i = 0; i < 8; ++i) Key(f, 0xFFFF);
  for (const char* p = text; *p; ++p) Key(f, uint32_t(*p));
}

bool DisplayIs(CTestHost& host, uint32_t mode, uint32_t pattern, const double* gains) {
  host.WaitIdle();
  CImgBuff ref;
  apptest::MakePicture(ref, 20, 14, ImgFormatGray8, 4);
  if (Demosaic(&ref, mode, pattern, gains, nullptr) != 1) return false;
  return apptest::SamePixels(ref, host.m_display);
}

class BayerX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(BayerX11, GainsTypedAndOptionsClicked) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  const std::string lang = ja ? "jp" : "en";
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 20, 14, ImgFormatGray8, 4);
  host.SetStill(src);
  ShotBayer* f = new ShotBayer;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 280u : 330u, f->m_clientWidth);
  EXPECT_EQ(190u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\x521D\x671F\x5316" : L"RESET", f->m_resetButton.m_text);
  EXPECT_STREQ(L"BGGR", f->m_filterRadio[3].m_text);
  EXPECT_EQ(ja ? 104 : 64, f->m_actionRadio[0].m_width);
  EXPECT_EQ(ja ? 72 : 56, f->m_gainBox.m_width);
  EXPECT_EQ(ja ? 176 : 224, f->m_gainEdit[2].m_width);
  EXPECT_EQ(160, f->m_gainEdit[2].m_y);
  ASSERT_EQ(1, host.Reprocess(0));
  const double defaults[4] = {1.0, 3.344, 1.704, 8.772};
  EXPECT_TRUE(DisplayIs(host, 2, 0, defaults));
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  Shot(f, "bayer_convert_" + lang + ".png");

  // "2.5" typed into R and left by Enter: the R gain, and the frame with it.
  TypeInto(f, f->m_gainEdit[0], "2.5");
  EXPECT_STREQ(L"2.5", f->m_gainEdit[0].GetText());
  Key(f, 0xFF0D);  // Enter leaves the box (the toolkit keeps Tab in it)
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().gains[1] == 2.5; }, 3000));
  const double typed[4] = {1.0, 2.5, 1.704, 8.772};
  EXPECT_TRUE(DisplayIs(host, 2, 0, typed));
  // "1,5" into G: put back.
  TypeInto(f, f->m_gainEdit[1], "1,5");
  Key(f, 0xFF0D);  // Enter leaves the box (the toolkit keeps Tab in it)
  ASSERT_TRUE(PumpUntil([&] { return f->m_focusChild != &f->m_gainEdit[1]; }, 3000));
  filtertest::Settle();
  EXPECT_STREQ(L"1.704", f->m_gainEdit[1].GetText());
  EXPECT_EQ(1.704, f->GetSettings().gains[2]);
  Shot(f, "bayer_convert_" + lang + "_typed.png");

  // "gain" unticked: the boxes and RESET go grey, the frame has no gains.
  Click(f, f->m_gainBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().gain == 0; }, 3000));
  EXPECT_EQ(0, f->m_gainEdit[0].m_enabled);
  EXPECT_EQ(0, f->m_resetButton.m_enabled);
  EXPECT_TRUE(DisplayIs(host, 2, 0, nullptr));
  // "demosaic(linear)" and "RGGB".
  Click(f, f->m_actionRadio[1]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().action == 1; }, 3000));
  Click(f, f->m_filterRadio[2]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().filter == 2; }, 3000));
  EXPECT_TRUE(DisplayIs(host, 1, 2, nullptr));
  Shot(f, "bayer_convert_" + lang + "_nogain.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, BayerX11, ::testing::Values(L"en", L"jp"));

}  // namespace
