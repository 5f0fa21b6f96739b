// composite_x11_test.cpp - the Composite window over the real main window: made by its
// factory, opened with the main screen as parent, driven by real clicks (SEL through the
// scripted chooser, a colour model, SAVE, OPEN), its preview read back, in both languages.
#include <gtest/gtest.h>

#include <string>

#include "filters/colour_pixel/composite.h"
#include "tests/app/mainscreen_fixture.h"
#include "tests/filters/filter_x11_util.h"

namespace {

using filtertest::SaveShot;
using filtertest::SendButton;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

class CompositeX11 : public mstest::MainScreenFixture,
                     public ::testing::WithParamInterface<const wchar_t*> {};

CCompositeUI* MakeShotComposite() { return new ShotWindow<CCompositeDialog>; }

void Click(CFgScreen* s, const CFgUIObj& w) {
  SendButton(s, 1, w.m_x + w.m_width / 2, w.m_y + w.m_height / 2);
}

TEST_P(CompositeX11, SelectModeSaveAndOpen) {
  const wchar_t* language = GetParam();
  const std::string tag = IsJapanese(language) ? "jp" : "en";
  ASSERT_TRUE(Run("/usr/bin/convert -size 40x30 xc:'gray(200)' -depth 8 -type Grayscale '" + File("r.png") + "'"));
  ASSERT_TRUE(Run("/usr/bin/convert -size 40x30 xc:'gray(40)' -depth 8 -type Grayscale '" + File("g.png") + "'"));
  SetCompositeFactory(&MakeShotComposite);
  Open(language);
  SetCompositeFactory(nullptr);
  auto* d = dynamic_cast<ShotWindow<CCompositeDialog>*>(screen_->m_composite);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(1, d->Show(screen_));
  EXPECT_EQ(308u, d->m_clientWidth);
  EXPECT_EQ(480u, d->m_clientHeight);
  EXPECT_STREQ(IsJapanese(language) ? L"\x6210\x5206\x5408\x6210" : L"Composite", d->m_title);
  EXPECT_EQ(0, d->m_save.m_enabled);

  Choose(File("r.png"));
  Click(d, d->m_select[0]);
  ASSERT_TRUE(PumpUntil([&] { return d->m_result.Format() != 0; }, 3000));
  Choose(File("g.png"));
  Click(d, d->m_select[1]);
  ASSERT_TRUE(PumpUntil([&] { return d->m_channels[1].Format() != 0; }, 3000));
  SaveShot(d, "composite_" + tag + "_rgb.png");
  // The preview shows the result's colour (200, 40, 0) near its top-left corner.
  const uint8_t* p = d->At(154, 154);
  EXPECT_NEAR(200, p[0], 2);
  EXPECT_NEAR(40, p[1], 2);
  EXPECT_NEAR(0, p[2], 2);

  Click(d, d->m_mode[2]);  // CMY: the complement
  ASSERT_TRUE(PumpUntil([&] { return d->Mode() == 2; }, 3000));
  uint8_t r, g, b;
  d->m_result.GetRGB8(5, 5, &r, &g, &b);
  EXPECT_EQ(55, r);
  EXPECT_EQ(215, g);
  EXPECT_EQ(255, b);
  SaveShot(d, "composite_" + tag + "_cmy.png");
  p = d->At(154, 154);
  EXPECT_NEAR(55, p[0], 2);

  Choose(File("out.png"));
  Click(d, d->m_save);
  ASSERT_TRUE(PumpUntil([&] { return !TakeMessages().empty(); }, 3000));  // "saved"
  ASSERT_TRUE(Run("/usr/bin/convert '" + File("out.png") + "' -depth 8 rgb:'" + File("out.rgb") + "'"));
  std::string raw = qvtest::ReadWholeFile(File("out.rgb"));
  ASSERT_EQ(size_t(40 * 30 * 3), raw.size());
  EXPECT_EQ(55, uint8_t(raw[0]));
  EXPECT_EQ(215, uint8_t(raw[1]));
  EXPECT_EQ(255, uint8_t(raw[2]));

  Click(d, d->m_open);
  ASSERT_TRUE(PumpUntil([&] { return screen_->m_source.Width() == 40; }, 3000));
  uint8_t sr, sg, sb;
  screen_->m_source.GetRGB8(3, 3, &sr, &sg, &sb);
  EXPECT_EQ(55, sr);
  EXPECT_EQ(215, sg);

  // A language change reopens the window in place with the other texts.
  const int32_t x = d->m_x, y = d->m_y;
  screen_->SetLanguage(IsJapanese(language) ? L"en" : L"jp");
  ASSERT_NE(nullptr, d->m_window);
  EXPECT_EQ(x, d->m_x);
  EXPECT_EQ(y, d->m_y);
  EXPECT_STREQ(IsJapanese(language) ? L"SEL" : L"\x9078\x629E", d->m_select[0].m_text);
}

INSTANTIATE_TEST_SUITE_P(Languages, CompositeX11, ::testing::Values(L"en", L"jp"));

}  // namespace
