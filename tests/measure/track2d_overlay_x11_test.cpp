// track2d_overlay_x11_test.cpp - the 2D tracking tool under X: the overlay drawn into a window
// of its own and read back (a box at zoom 2 with its selected outline; a screenshot goes to
// test_out/), and a run whose manual wait is answered by a real click on SKIP.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "measure/track2d.h"
#include "platform/window.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

// The overlay pass in a real main window with its font, the view at (10, 20), read back top
// row first.
std::vector<uint8_t> DrawPass(qvtest::MainWindowTarget& target, CFilterCtrl& ctrl, int32_t zoom) {
  return target.Pass(ctrl, target.Screen().m_font, 10, 20, 10 + 60 * zoom - 1, 20 + 40 * zoom - 1,
                     0, 0, 59, 39, zoom, true);
}

TEST(Track2dOverlayX11, BoxOutlinesAtZoomTwo)
{
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(220, 160, L"2D tracking overlay"));
  CMainScreen& screen = target.Screen();
  CTestHost host;
  host.SetOverlayColor(1, 0.5, 0);
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(60, 40, ImgFormatGray8));
  host.SetStill(picture);
  auto* f = new CLfTrack2d;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  auto* t = new CTrackHSV;
  t->x = t->y = 10;
  t->w = t->h = 5;
  ASSERT_EQ(0, f->AddTrack(t));
  f->AppendIdItem(0);
  const uint64_t w = screen.m_clientWidth;
  auto lit = [&](const std::vector<uint8_t>& px, int x, int y) { return px[size_t((y * int(w) + x) * 3)] > 100; };
  // Not selected: one outline (view origin 10, 20; box pixels 10..14 -> 20..29 at zoom 2).
  f->m_selected = -1;
  f->m_dispId.m_checked = 0;
  std::vector<uint8_t> px = DrawPass(target, host, 2);
  ASSERT_FALSE(px.empty());
  EXPECT_TRUE(lit(px, 10 + 20, 20 + 20));
  EXPECT_TRUE(lit(px, 10 + 29, 20 + 25));
  EXPECT_FALSE(lit(px, 10 + 25, 20 + 25));
  EXPECT_FALSE(lit(px, 10 + 18, 20 + 18));
  // Nothing right of the box without "id".
  for (int y = 20 + 18; y < 20 + 34; ++y)
    for (int x = 10 + 33; x < 10 + 50; ++x) ASSERT_FALSE(lit(px, x, y)) << x << "," << y;
  // Selected: a second outline 2 pixels out, and the number with "id" on.
  f->m_selected = 0;
  f->m_dispId.m_checked = 1;
  px = DrawPass(target, host, 2);
  EXPECT_TRUE(lit(px, 10 + 18, 20 + 18));
  EXPECT_TRUE(lit(px, 10 + 31, 20 + 31));
  EXPECT_FALSE(lit(px, 10 + 19, 20 + 25));
  // The number "1" in window pixels, 4 right of the box's right edge from its top edge down;
  // nothing in the window's corner, where view pixels taken for GL coordinates would put it.
  int number = 0, corner = 0;
  for (int y = 20 + 20; y < 20 + 20 + 14; ++y)
    for (int x = 10 + 29 + 4; x < 10 + 29 + 4 + 10; ++x) number += lit(px, x, y);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) corner += lit(px, x, y);
  EXPECT_GT(number, 4);
  EXPECT_EQ(corner, 0);
  toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/track2d_overlay.png", px, int(w),
                        int(screen.m_clientHeight));
}

// A run waits where the red disc is missing; SKIP is clicked with real X input while it waits.
TEST(Track2dRunX11, SkipClickedDuringTheWait)
{
  REQUIRE_DISPLAY();
  QuitRequested = 0;
  CTestHost host;
  host.SetLanguage(L"en");
  std::vector<std::unique_ptr<CImgBuff>> frames;
  std::vector<const CImgBuff*> list;
  for (int i = 0; i < 5; ++i) {
    auto pic = std::make_unique<CImgBuff>();
    ASSERT_EQ(1, pic->Allocate(64, 48, ImgFormatRgb24));
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const bool disc = i != 2 && (x - 30) * (x - 30) + (y - 20) * (y - 20) <= 64;
        pic->SetRGB8(x, y, disc ? 255 : 128, disc ? 0 : 128, disc ? 0 : 128);
      }
    list.push_back(pic.get());
    frames.push_back(std::move(pic));
  }
  ASSERT_EQ(1, host.SetVideo(list, 40000));
  auto* f = new CLfTrack2d;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  f->m_tab.SelectPage(CLfTrack2d::kPageTrack, 0);
  f->m_tab.m_callback(&f->m_tab, f->m_tab.m_user, CLfTrack2d::kPageTrack, 0);
  auto* t = new CTrackHSV;
  ColourWindow red;
  red.halfWidth = 2000;
  red.satLow = 30000;
  red.valLow = 30000;
  t->SetWindow(red);
  t->x = 20;
  t->y = 10;
  t->w = t->h = 21;
  ASSERT_EQ(0, f->AddTrack(t));
  std::atomic<int> clicks{0};
  host.m_onProcessedHook = [&] {
    if (!f->m_waiting || clicks.exchange(1) != 0) return;
    const CFgUIButton& b = f->m_skipButton;
    PlatTestSendInput(f->GetWindow(), 0, 1, b.m_x + 8, b.m_y + b.m_height / 2);
    PlatTestSendInput(f->GetWindow(), 1, 1, b.m_x + 8, b.m_y + b.m_height / 2);
  };
  f->ExecuteAuto();
  host.m_onProcessedHook = nullptr;
  EXPECT_EQ(1, clicks.load());
  P2dPoint p;
  ASSERT_TRUE(f->table.GetPoint(0, 2, &p));
  EXPECT_FALSE(P2dPointCounts(p));
  for (int s : {0, 1, 3, 4}) {
    ASSERT_TRUE(f->table.GetPoint(0, s, &p));
    EXPECT_TRUE(P2dPointCounts(p)) << s;
  }
  EXPECT_STREQ(L"EXEC", f->m_autoButton.m_text);
}

}  // namespace
