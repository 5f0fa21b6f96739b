// extract_x11_test.cpp - the colour extraction window on a real X server, in both languages:
// its size, labels and places, a real click on "pickup and set" followed by a pick on the red
// patch (as the view hands it on) that keeps only that patch, a right click that restores,
// the preview box, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/extract.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

class ExtractX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ExtractX11, PickKeepsThePatchAndRightClickRestores) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(40, 20, ImgFormatRgb24));
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 40; ++x)
      x < 20 ? src.SetRGB8(x, y, 210, 30, 20) : src.SetRGB8(x, y, 20, 120, 60);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfExtract>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(380u, f->m_clientWidth);
  EXPECT_EQ(190u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\u8272\u76F8" : L"hue", f->m_labels[0].m_text);
  EXPECT_STREQ(ja ? L"\u30DE\u30A6\u30B9\u3067\u8272\u9078\u629E" : L"pickup and set",
               f->m_pickSetBox.m_text);
  EXPECT_EQ(ja ? 60 : 80, f->m_labels[1].m_width);
  EXPECT_EQ(ja ? 75 : 95, f->m_hueBar.m_x);
  EXPECT_EQ(ja ? 294 : 274, f->m_valBar.m_width);
  EXPECT_EQ(245, f->m_previewBox.m_x);
  SaveShot(f, ja ? "extraction_jp.png" : "extraction_en.png");
  const std::vector<uint8_t> before = f->pixels;

  ClickControl(f, f->m_pickSetBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetPickMode() == CLfExtract::PickSet; }, 3000));
  ASSERT_EQ(1u, f->GetUndoCount());
  // A click on the red patch, as the main view hands it to the selected filter.
  f->OnLButtonDown(5, 5, 0);
  ASSERT_EQ(uint32_t(CLfExtract::PickAdd), f->GetPickMode());
  uint8_t r, g, b;
  host.m_display.GetRGB8(5, 5, &r, &g, &b);
  EXPECT_EQ(210, r);
  host.m_display.GetRGB8(30, 5, &r, &g, &b);
  EXPECT_EQ(255, r);
  EXPECT_EQ(255, g) << "the green patch becomes the white background";
  SaveShot(f, ja ? "extraction_jp_picked.png" : "extraction_en_picked.png");
  EXPECT_NE(before, f->pixels) << "bars and boxes moved by the pick";
  EXPECT_EQ(1, f->m_pickAddBox.m_checked);

  f->OnRButtonDown(5, 5, 0);
  ASSERT_TRUE(PumpUntil([&] { return apptest::SamePixels(src, host.m_display); }, 3000));

  // The preview box, clicked for real: the green patch is tinted, not replaced.
  ClickControl(f, f->m_pickSetBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetPickMode() == CLfExtract::PickSet; }, 3000));
  f->OnLButtonDown(5, 5, 0);
  ClickControl(f, f->m_previewBox);
  ASSERT_TRUE(PumpUntil(
      [&] {
        host.m_display.GetRGB8(24, 0, &r, &g, &b);
        return r == (20 + 192) / 2;
      },
      3000));
  EXPECT_EQ((120 + 0) / 2, g) << "the red guide's light cell";
  host.m_display.GetRGB8(5, 5, &r, &g, &b);
  EXPECT_EQ(210, r);
  SaveShot(f, ja ? "extraction_jp_preview.png" : "extraction_en_preview.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, ExtractX11, ::testing::Values(L"en", L"jp"));

}  // namespace
