// select_x11_test.cpp - the component selection window on a real X server, in both
// languages: its size and labels, real clicks through the X server that select a component
// the chain then works on, the "CMYK" box, where it reopens, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/colour_pixel/pixel.h"
#include "filters/colour_pixel/select.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

using ShotSelect = filtertest::ShotFilter<CLfSelect>;

void Click(CFgScreen* s, const CFgUIObj& w) {
  int32_t x = w.m_x + 8, y = w.m_y + w.m_height / 2;
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 0, 1, x, y));
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 1, 1, x, y));
}

void Shot(ShotSelect* f, const char* name) { f->Save(name); }

class SelectX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(SelectX11, ClicksSelectTheComponentTheChainWorksOn) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 32, 16, ImgFormatRgb24);
  host.SetStill(src);
  ShotSelect* f = new ShotSelect;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfReversal, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 450u : 325u, f->m_clientWidth);
  EXPECT_EQ(125u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"G\x6210\x5206" : L"G", f->m_radio[2].m_text);
  EXPECT_EQ(ja ? 160 : 120, f->m_radio[7].m_x);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  Shot(f, ja ? "select_components_jp.png" : "select_components_en.png");

  // "G": only green is inverted.
  Click(f, f->m_radio[2]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().sel == 2; }, 3000));
  EXPECT_EQ(2u, f->CurrentCode());
  ASSERT_EQ(ImgFormatRgb24, host.m_display.Format());
  const uint8_t* in = static_cast<const uint8_t*>(src.Pixels());
  const uint8_t* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  for (int i = 0; i < 32 * 16 * 3; i += 3) {
    ASSERT_EQ(in[i], out[i]) << i;
    ASSERT_EQ(255 - in[i + 1], out[i + 1]) << i;
    ASSERT_EQ(in[i + 2], out[i + 2]) << i;
  }

  // "K" is disabled until "CMYK" is ticked; then "C" gives the four-colour C.
  EXPECT_EQ(0, f->m_radio[kSelectIndexK].m_enabled);
  Click(f, f->m_cmykBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().cmyk == 1; }, 3000));
  EXPECT_EQ(1, f->m_radio[kSelectIndexK].m_enabled);
  Click(f, f->m_radio[7]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().sel == 7; }, 3000));
  EXPECT_EQ(10u, f->CurrentCode());
  // "K" selected: the box cannot be switched off.
  Click(f, f->m_radio[kSelectIndexK]);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().sel == kSelectIndexK; }, 3000));
  EXPECT_EQ(13u, f->CurrentCode());
  EXPECT_EQ(0, f->m_cmykBox.m_enabled);
  Click(f, f->m_cmykBox);
  for (int i = 0; i < 20; ++i) FgPumpMessages();
  EXPECT_EQ(1u, f->GetSettings().cmyk);
  Shot(f, ja ? "select_components_jp_k.png" : "select_components_en_k.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, SelectX11, ::testing::Values(L"en", L"jp"));

// Reopens where it was, after a language change too; a second instance opens at the class's
// place.
TEST(SelectPlaceX11, ReopensWhereItWas) {
  REQUIRE_DISPLAY();
  CLfSelect::s_classPlace = FilterWindowPlace{};
  CTestHost host;
  host.SetLanguage(L"en");
  CLfSelect* a = new CLfSelect;
  ASSERT_EQ(1, host.AddFilter(a, nullptr));
  ASSERT_NE(nullptr, a->m_window);
  const int32_t x = a->m_x, y = a->m_y;
  EXPECT_EQ(0, a->OnClose());  // hides, remembers the place
  EXPECT_EQ(1u, a->m_place.kept);
  EXPECT_EQ(x, a->m_place.x);
  EXPECT_EQ(1u, CLfSelect::s_classPlace.kept);
  a->m_dialogVisible = 1;
  a->ShowDialog(1, nullptr);
  EXPECT_EQ(x, a->m_x);
  EXPECT_EQ(y, a->m_y);
  // Another language: laid out anew, at the same place.
  host.SetLanguage(L"jp");
  EXPECT_EQ(450u, a->m_clientWidth);
  EXPECT_EQ(x, a->m_x);
  EXPECT_EQ(y, a->m_y);
  EXPECT_STREQ(L"\x6210\x5206\x9078\x629E", a->m_title);
  // A second one opens at the class's place, not centred (a wider window centres elsewhere).
  CLfSelect* b = new CLfSelect;
  ASSERT_EQ(1, host.AddFilter(b, nullptr));
  EXPECT_EQ(x, b->m_x);
  EXPECT_EQ(y, b->m_y);
  CLfSelect::s_classPlace = FilterWindowPlace{};
}

}  // namespace
