// extract_x11_test.cpp - the colour extraction window on a real X server, in both languages:
// its size, labels and places, a real click on "pickup and set" followed by a pick on the red
// patch (as the view hands it on) that keeps only that patch, a right click that restores,
// the preview box, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/config.h"
#include "app/mainscreen.h"
#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/extract.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/texture.h"

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

// Real presses on the main window's view reach the selected extraction filter as picture
// points: a left press on the red patch picks it, a right press takes the pick back.  The
// main window does not run the chain itself here, so the frame is processed as the worker
// does, by Process on a copy.
TEST(ExtractMainViewX11, PressesInTheViewPickAndUndo) {
  REQUIRE_DISPLAY();
  qvtest::TempFolder folder("extract_view");
  ASSERT_TRUE(folder.ok());
  SetConfigFilePathForTesting(folder.WideFile("quorvix_duvu.cfg").c_str());
  auto* screen = new CMainScreen;
  ASSERT_EQ(1, screen->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr));
  screen->Layout();
  ASSERT_TRUE(PumpUntil([&] { return PlatIsWindowMapped(screen->GetWindow()) != 0; }, 3000));
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(200, 150, ImgFormatRgb24));
  for (int32_t y = 0; y < 150; ++y)
    for (int32_t x = 0; x < 200; ++x)
      x < 100 ? src.SetRGB8(x, y, 210, 30, 20) : src.SetRGB8(x, y, 20, 120, 60);
  CFgTexture texture;
  ASSERT_EQ(1, UploadImageToTexture(&texture, &src, 1));
  screen->m_view.SetImage(&texture);
  screen->m_view.SetZoom(1);
  screen->m_view.Layout();
  screen->m_sidePanel.SetImageInfo(200, 150, 3, 1);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, screen->m_sidePanel.AddFilter(f, nullptr));
  ASSERT_EQ(1, screen->m_sidePanel.SelectFilter(0));
  ASSERT_NE(nullptr, f->m_window);
  ClickControl(f, f->m_pickSetBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetPickMode() == CLfExtract::PickSet; }, 3000));

  int32_t ix = 40, iy = 60;  // a window point on the red patch
  ASSERT_EQ(1, screen->m_view.ClientToImage(&ix, &iy));
  ASSERT_LT(ix, 100);
  filtertest::SendButton(screen, 1, 40, 60);
  CImgBuff frame;
  frame.CopyFrom(src);
  f->Process(&frame, 0, 0, 0, 200, 150, 8, 1);
  ASSERT_EQ(uint32_t(CLfExtract::PickAdd), f->GetPickMode()) << "the press reached the filter";
  uint8_t r, g, b;
  frame.GetRGB8(10, 10, &r, &g, &b);
  EXPECT_EQ(210, r);
  frame.GetRGB8(150, 10, &r, &g, &b);
  EXPECT_TRUE(r == 255 && g == 255 && b == 255) << "the green patch is dropped";

  filtertest::SendButton(screen, 3, 40, 60);
  ASSERT_TRUE(PumpUntil([&] { return f->GetUndoCount() == 1; }, 3000));
  frame.CopyFrom(src);
  f->Process(&frame, 0, 0, 0, 200, 150, 8, 1);
  EXPECT_TRUE(apptest::SamePixels(src, frame)) << "the whole window again";
  delete screen;
  SetConfigFilePathForTesting(nullptr);
}

}  // namespace
