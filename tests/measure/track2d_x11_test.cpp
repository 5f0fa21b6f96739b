// track2d_x11_test.cpp - the 2D tracking window on a real X server in both languages: the
// window and its colour panel (screenshots in test_out/), OPTION clicked for real opening
// the binary tracking settings centred on it, a language switch relabelling both, the hue
// bar moved with real mouse events changing the selected target's window, and the
// processed picture with the tint inside the selected box only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/imgbuff.h"
#include "measure/track2d.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

// A 120 x 90 gray picture with a red block from (40, 30) to (55, 45).
void Picture(CImgBuff& pic)
{
  ASSERT_EQ(1, pic.Allocate(120, 90, ImgFormatRgb24));
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 120; ++x) pic.SetRGB8(x, y, 90, 90, 90);
  for (int32_t y = 30; y <= 45; ++y)
    for (int32_t x = 40; x <= 55; ++x) pic.SetRGB8(x, y, 230, 20, 10);
}

std::vector<uint8_t> Rgb(const CImgBuff& pic)
{
  std::vector<uint8_t> out(size_t(pic.Width()) * size_t(pic.Height()) * 3);
  for (int32_t y = 0; y < pic.Height(); ++y)
    for (int32_t x = 0; x < pic.Width(); ++x) {
      uint8_t* p = &out[(size_t(y) * size_t(pic.Width()) + size_t(x)) * 3];
      pic.GetRGB8(x, y, &p[0], &p[1], &p[2]);
    }
  return out;
}

class Track2dX11 : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  std::string Name(const char* stem, const wchar_t* language) const
  {
    return std::string(stem) + (IsJapanese(language) ? "_jp.png" : "_en.png");
  }
};

TEST_P(Track2dX11, WindowPanelOptionAndPreview)
{
  REQUIRE_DISPLAY();
  const wchar_t* lang = GetParam();
  const wchar_t* other = IsJapanese(lang) ? L"en" : L"jp";
  const bool ja = IsJapanese(lang);
  CImgBuff pic;
  Picture(pic);
  CTestHost host;
  host.SetLanguage(lang);
  host.SetStill(pic);
  auto* f = new filtertest::ShotFilter<CLfTrack2d>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(390u, f->m_clientWidth);
  EXPECT_EQ(292u, f->m_clientHeight);
  EXPECT_STREQ(ja ? L"2D追跡" : L"2D tracking", f->m_title);

  // A colour target around the block, selected, its window in the panel.
  auto* t = static_cast<CTrackHSV*>(f->m_panel.CreateTrack());
  ColourWindow red;
  red.halfWidth = 2000;
  red.satLow = 30000;
  red.valLow = 30000;
  t->SetWindow(red);
  t->x = 30;
  t->y = 20;
  t->w = t->h = 36;
  ASSERT_EQ(0, f->AddTrack(t));
  f->m_selected = 0;
  f->m_tab.m_callback(&f->m_tab, f->m_tab.m_user, CLfTrack2d::kPageRegist, 0);
  f->Save(Name("track2d_window", lang));
  ASSERT_FALSE(f->pixels.empty());
  EXPECT_STREQ(ja ? L"色相(中心)" : L"H center", f->m_panel.m_hueLabel.m_text);
  EXPECT_STREQ(ja ? L"色選択" : L"color set", f->m_panel.m_setBox.m_text);
  int32_t x0, y0, x1, y1;
  f->m_tab.GetPageRect(&x0, &y0, &x1, &y1);
  EXPECT_EQ(x0 + (ja ? 96 : 80), f->m_panel.m_satBar.m_x);
  EXPECT_EQ(x1 - x0 - (ja ? 104 : 88), f->m_panel.m_satBar.m_width);

  // OPTION with a real click: the binary settings open centred on the window.
  filtertest::ClickControl(f, f->m_panel.m_option);
  CTrack2ValOptUI& d = f->m_options;
  ASSERT_TRUE(PumpUntil([&] { return d.GetWindow() != nullptr; }, 3000));
  EXPECT_STREQ(ja ? L"2値化追跡設定" : L"Binary tracking settings", d.m_title);
  EXPECT_EQ(232u, d.m_clientWidth);
  EXPECT_EQ(262u, d.m_clientHeight);
  EXPECT_EQ(f->m_x + (390 - 232) / 2, d.m_x);
  EXPECT_EQ(f->m_y + (292 - 262) / 2, d.m_y);
  {
    // The same dialog as a picture of its own (the member keeps no picture of its redraws).
    filtertest::ShotWindow<CTrack2ValOptUI> shot;
    shot.Build(lang);
    TrackBinarySettings s;
    ASSERT_EQ(1, shot.Open(&s, f));
    filtertest::SaveShot(&shot, Name("track2d_options", lang));
  }

  // A language switch while both are open relabels both.
  host.SetLanguage(other);
  filtertest::Settle();
  ASSERT_NE(nullptr, d.GetWindow());
  EXPECT_STREQ(ja ? L"Binary tracking settings" : L"2値化追跡設定", d.m_title);
  EXPECT_STREQ(ja ? L"SET" : L"設定", d.m_set.m_text);
  EXPECT_STREQ(ja ? L"2D tracking" : L"2D追跡", f->m_title);
  EXPECT_STREQ(ja ? L"OPTION" : L"オプション", f->m_panel.m_option.m_text);
  f->Save(Name("track2d_window_switched", lang));
  d.OnClose();
  host.SetLanguage(lang);
  filtertest::Settle();

  // The hue bar moved by a real click on its track right of the thumb (the test input
  // sends presses and releases, no pointer motion, so a drag cannot be sent).
  CFgUIScrollBar& bar = f->m_panel.m_hueBar;
  const FgScrollGeometry g = bar.Geometry();
  ASSERT_EQ(1, g.valid);
  const int32_t gx = int32_t(g.thumbStart + g.thumbLength + 10);
  ASSERT_LT(gx, g.innerEnd - 15);
  const int32_t gy = bar.m_y + bar.m_height / 2;
  const int32_t before = bar.m_position;
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, gx, gy));
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, gx, gy));
  ASSERT_TRUE(PumpUntil([&] { return bar.m_position != before; }, 3000));
  EXPECT_GT(bar.m_position, before);
  EXPECT_EQ(bar.m_position, t->GetWindow().hue);  // the selected target took it
  EXPECT_EQ(2000, t->GetWindow().halfWidth);
  t->SetWindow(red);
  f->m_panel.LoadFromTrack(t);

  // The processed picture: tinted inside the box around the block, unchanged elsewhere.
  ASSERT_EQ(1, host.Reprocess(0));
  const CImgBuff& out = host.m_display;
  int32_t tinted = 0;
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 120; ++x) {
      uint8_t r, gg, b, r0, g0, b0;
      out.GetRGB8(x, y, &r, &gg, &b);
      pic.GetRGB8(x, y, &r0, &g0, &b0);
      const bool inBox = x >= 30 && x <= 65 && y >= 20 && y <= 55;
      const bool object = x >= 40 && x <= 55 && y >= 30 && y <= 45;
      const bool changed = r != r0 || gg != g0 || b != b0;
      EXPECT_EQ(inBox && !object, changed) << x << "," << y;
      tinted += changed;
    }
  EXPECT_EQ(36 * 36 - 16 * 16, tinted);
  EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/" + Name("track2d_preview", lang), Rgb(out),
                                    120, 90));
}

INSTANTIATE_TEST_SUITE_P(Languages, Track2dX11, ::testing::Values(L"jp", L"en"));

}  // namespace
