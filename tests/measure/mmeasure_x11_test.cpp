// mmeasure_x11_test.cpp - manual measurement on a real X server: its window in both
// languages with "CLS" pressed through the X server, clicks on the real main screen's view
// reaching the filter as image points and giving the result line, and the marks the overlay
// pass draws for one to four points in the guide colour at zoom 1 and 3; screenshots.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/mainscreen.h"
#include "measure/mmeasure.h"
#include "tests/app/app_test_util.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/texture.h"

namespace {

using toolkittest::PumpUntil;
using ShotMmeasure = filtertest::ShotWindow<CLfMmeasure>;

class MmeasureX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(MmeasureX11, WindowTextAndClearButton) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  host.SetScale(2.0, 1, L"mm");
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(100, 100, ImgFormatGray8));
  host.SetStill(picture);
  auto* f = new ShotMmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(256u, f->m_clientWidth);
  EXPECT_EQ(48u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"クリア" : L"CLS", f->m_clear.m_text);
  f->OnLButtonDown(0, 0, 0);
  f->OnLButtonDown(3, 4, 0);
  EXPECT_STREQ(ja ? L"距離:10.000000mm" : L"length:10.000000mm", f->m_result.m_text);
  filtertest::SaveShot(f, ja ? "manual_measurement_jp.png" : "manual_measurement_en.png");
  // The line is drawn: dark text pixels inside the label's rectangle.
  int dark = 0;
  for (int y = f->m_result.m_y; y < f->m_result.m_y + f->m_result.m_height; ++y)
    for (int x = f->m_result.m_x; x < f->m_result.m_x + f->m_result.m_width; ++x)
      dark += f->At(x, y)[0] < 96;
  EXPECT_GT(dark, 20);
  const uint64_t redraws = host.m_redrawCount.load();
  filtertest::ClickControl(f, f->m_clear);
  ASSERT_TRUE(PumpUntil([&] { return f->PointCount() == 0; }, 3000));
  EXPECT_STREQ(L"", f->m_result.m_text);
  EXPECT_GT(host.m_redrawCount.load(), redraws);  // the view drops the marks
  filtertest::SaveShot(f, ja ? "manual_measurement_jp_clear.png" : "manual_measurement_en_clear.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, MmeasureX11, ::testing::Values(L"jp", L"en"));

TEST(MmeasureMainScreenX11, ClicksOnTheViewGiveTheLine) {
  REQUIRE_DISPLAY();
  qvtest::TempFolder folder("mmeasure_main");
  ASSERT_TRUE(folder.ok());
  SetConfigFilePathForTesting(folder.WideFile("quorvix_duvu.cfg").c_str());
  auto* screen = new CMainScreen;
  ASSERT_EQ(1, screen->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr));
  screen->Layout();
  ASSERT_TRUE(PumpUntil([&] { return PlatIsWindowMapped(screen->GetWindow()) != 0; }, 3000));
  CImgBuff picture;
  apptest::MakePicture(picture, 200, 150, ImgFormatRgb24);
  CFgTexture texture;
  ASSERT_EQ(1, UploadImageToTexture(&texture, &picture, 1));
  screen->m_view.SetImage(&texture);
  screen->m_view.SetZoom(1);
  screen->m_view.Layout();
  screen->m_sidePanel.SetImageInfo(200, 150, 3, 1);
  screen->m_sidePanel.SetLanguage(L"en");
  auto* f = new CLfMmeasure;
  ASSERT_EQ(1, screen->m_sidePanel.AddFilter(f, nullptr));
  ASSERT_EQ(1, screen->m_sidePanel.SelectFilter(0));
  auto click = [&](int32_t wx, int32_t wy, uint32_t button) {
    ASSERT_EQ(1, PlatTestSendInput(screen->GetWindow(), 0, button, wx, wy));
    ASSERT_EQ(1, PlatTestSendInput(screen->GetWindow(), 1, button, wx, wy));
  };
  int32_t ax = 40, ay = 60, bx = 70, by = 100;
  ASSERT_EQ(1, screen->m_view.ClientToImage(&ax, &ay));
  ASSERT_EQ(1, screen->m_view.ClientToImage(&bx, &by));
  click(40, 60, 1);
  ASSERT_TRUE(PumpUntil([&] { return f->PointCount() == 1; }, 3000));
  EXPECT_EQ(L"pos(" + std::to_wstring(ax) + L", " + std::to_wstring(ay) + L")",
            std::wstring(f->m_result.m_text));
  click(70, 100, 1);
  ASSERT_TRUE(PumpUntil([&] { return f->PointCount() == 2; }, 3000));
  wchar_t expected[64];
  swprintf(expected, 64, L"length:%f", std::sqrt(double((bx - ax) * (bx - ax) + (by - ay) * (by - ay))));
  EXPECT_STREQ(expected, f->m_result.m_text);
  click(70, 100, 3);  // the right button forgets the last point
  ASSERT_TRUE(PumpUntil([&] { return f->PointCount() == 1; }, 3000));
  delete screen;
  SetConfigFilePathForTesting(nullptr);
}

// The overlay pass in a real main window, read back; top row first.
std::vector<uint8_t> DrawPass(qvtest::MainWindowTarget& target, CFilterCtrl& ctrl, int32_t vx1,
                              int32_t vy1, int32_t zoom) {
  return target.Pass(ctrl, nullptr, 10, 20, vx1, vy1, 0, 0, 59, 39, zoom);
}

TEST(MmeasureOverlayX11, MarksForOneToFourPoints) {
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(220, 160, L"manual measurement overlay"));
  CMainScreen& screen = target.Screen();
  CTestHost host;
  host.SetOverlayColor(0, 0, 1);
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(60, 40, ImgFormatGray8));
  host.SetStill(picture);
  auto* f = new CLfMmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  const int32_t px[4] = {5, 25, 25, 45}, py[4] = {5, 5, 30, 30};
  for (int32_t zoom : {1, 3}) {
    CLfMmeasure::OnClear(&f->m_clear, f);
    const int32_t vx1 = 10 + 60 * zoom - 1, vy1 = 20 + 40 * zoom - 1;
    const int32_t half = zoom > 1 ? zoom / 2 : 0;
    auto view = [&](int i, int32_t* x, int32_t* y) {
      *x = px[i] * zoom + half + 10;
      *y = py[i] * zoom + half + 20;
    };
    for (int n = 1; n <= 4; ++n) {
      SCOPED_TRACE("zoom " + std::to_string(zoom) + " points " + std::to_string(n));
      f->OnLButtonDown(px[n - 1], py[n - 1], 0);
      std::vector<uint8_t> top = DrawPass(target, host, vx1, vy1, zoom);
      ASSERT_FALSE(top.empty());
      const int w = int(screen.m_clientWidth);
      auto lit = [&](int32_t x, int32_t y) {
        const uint8_t* p = &top[size_t(y * w + x) * 3];
        return p[2] > 128 && p[0] < 64 && p[1] < 64;  // the guide colour, blue
      };
      EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/manual_measurement_z" +
                                            std::to_string(zoom) + "_n" + std::to_string(n) +
                                            ".png",
                                        top, w, int(screen.m_clientHeight)));
      int32_t x0, y0, x1, y1, x2, y2, x3, y3;
      view(0, &x0, &y0);
      view(1, &x1, &y1);
      view(2, &x2, &y2);
      view(3, &x3, &y3);
      switch (n) {
        case 1:
          for (int d = -4; d <= 4; ++d) {
            EXPECT_TRUE(lit(x0 + d, y0)) << d;
            EXPECT_TRUE(lit(x0, y0 + d)) << d;
          }
          EXPECT_FALSE(lit(x0 + 1, y0 + 1));
          break;
        case 2:
          for (int32_t x = x0; x <= x1; ++x) EXPECT_TRUE(lit(x, y0)) << x;  // the end point too
          EXPECT_FALSE(lit(x0, y0 + 4));  // the cross is gone
          break;
        case 3:
          for (int32_t x = x0; x < x1; ++x) EXPECT_TRUE(lit(x, y0)) << x;
          for (int32_t y = y1; y <= y2; ++y) EXPECT_TRUE(lit(x1, y)) << y;
          break;
        default:
          for (int32_t x = x0; x <= x1; ++x) EXPECT_TRUE(lit(x, y0)) << x;
          for (int32_t x = x2; x <= x3; ++x) EXPECT_TRUE(lit(x, y2)) << x;
          EXPECT_FALSE(lit(x1, (y1 + y2) / 2));  // no line between the two segments
          break;
      }
    }
  }
  // "CLS" empties the overlay.
  CLfMmeasure::OnClear(&f->m_clear, f);
  std::vector<uint8_t> none = DrawPass(target, host, 69, 59, 1);
  int litCount = 0;
  for (size_t i = 0; i < none.size(); i += 3) litCount += none[i + 2] > 128;
  EXPECT_EQ(0, litCount);
}

}  // namespace
