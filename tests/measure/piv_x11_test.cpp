// piv_x11_test.cpp - the PIV tool on a real X server: its window on both pages, EXEC and DATA
// pressed through the X server (the run, then the VECTOR DATA window), and the overlay pass
// read back: the planned grid on "measure", speed-coloured arrows on "result"; screenshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/filterctrl.h"
#include "measure/piv.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/measure/piv_fixture.h"
#include "platform/window.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;
using ShotPiv = filtertest::ShotWindow<CLfPiv>;

// The overlay pass in a real main window at zoom 1 from view pixel (10, 20), read back
// top row first.
std::vector<uint8_t> DrawPass(qvtest::MainWindowTarget& target, CFilterCtrl& ctrl, int32_t iw,
                              int32_t ih) {
  return target.Pass(ctrl, nullptr, 10, 20, 10 + iw - 1, 20 + ih - 1, 0, 0, iw - 1, ih - 1, 1);
}

class PivX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(PivX11, RunFromTheWindowThenArrowsAndTheTable)
{
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const bool ja = IsJapanese(language) != 0;
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(200 + 20, 160 + 40, L"piv overlay"));
  CMainScreen& overlay = target.Screen();
  CTestHost host;
  host.SetLanguage(language);
  host.SetOverlayColor(1, 0, 1);
  std::vector<CImgBuff*> frames;
  for (int32_t i = 0; i < 3; ++i) {
    frames.push_back(new CImgBuff);
    PivRandomTexture(frames.back(), 200, 160, -4 * i, 0, ImgFormatGray8);  // (4, 0) a scene
  }
  ASSERT_EQ(1, host.SetVideo(std::vector<const CImgBuff*>(frames.begin(), frames.end()), 40000));
  auto* f = new ShotPiv;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->ShowDialog(1, nullptr);
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(224u, f->m_clientWidth);
  EXPECT_EQ(344u, f->m_clientHeight);
  EXPECT_STREQ(L"PIV", f->m_title);
  EXPECT_STREQ(ja ? L"実行" : L"EXEC", f->m_exec.m_text);
  EXPECT_STREQ(ja ? L"高速処理をする" : L"fast processing", f->m_fast.m_text);
  const std::string tag = ja ? "jp" : "en";
  filtertest::SaveShot(f, "piv_measure_" + tag + ".png");

  // "measure": the planned grid, 4 x 3 cells of 32 from (36, 32), in the guide colour.
  ASSERT_EQ(4, f->m_planNx);
  ASSERT_EQ(3, f->m_planNy);
  const int w = int(overlay.m_clientWidth);
  auto px = [&](const std::vector<uint8_t>& top, int x, int y) { return &top[size_t(y * w + x) * 3]; };
  auto is = [&](const std::vector<uint8_t>& top, int x, int y, int r, int g, int b) {
    const uint8_t* p = px(top, x, y);
    return (p[0] > 128) == (r != 0) && (p[1] > 128) == (g != 0) && (p[2] > 128) == (b != 0);
  };
  {
    std::vector<uint8_t> top = DrawPass(target, host, 200, 160);
    ASSERT_FALSE(top.empty());
    EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/piv_grid_" + tag + ".png", top, w,
                                      int(overlay.m_clientHeight)));
    for (int i = 0; i <= 4; ++i) EXPECT_TRUE(is(top, 10 + 36 + 32 * i, 20 + 50, 1, 0, 1)) << "column line " << i;
    for (int j = 0; j <= 3; ++j) EXPECT_TRUE(is(top, 10 + 60, 20 + 32 + 32 * j, 1, 0, 1)) << "row line " << j;
    EXPECT_TRUE(is(top, 10 + 20, 20 + 50, 0, 0, 0));  // outside the grid
  }

  // EXEC through the X server: the run ends on "result".
  filtertest::ClickControl(f, f->m_exec);
  ASSERT_TRUE(PumpUntil([&] { return f->m_tab.m_currentPage == 1 && !f->Running(); }, 60000));
  EXPECT_TRUE(host.m_enableOnlyCalls.size() >= 2);
  ASSERT_EQ(3, f->m_field.Frames());
  EXPECT_EQ(4.0, f->m_field.GetVector(1, 1, 1)->dx);
  EXPECT_EQ(0.0, f->m_field.GetVector(1, 1, 1)->dy);
  filtertest::SaveShot(f, "piv_result_" + tag + ".png");

  // "result", scene 1: every cell an arrow of length 4 x 3 (zoom x3.0), green (4 pixels a
  // frame: base 2 + step 2) from the cell centre to the right.
  ASSERT_EQ(1, host.SeekFrame(1));
  {
    std::vector<uint8_t> top = DrawPass(target, host, 200, 160);
    ASSERT_FALSE(top.empty());
    EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/piv_arrows_" + tag + ".png", top, w,
                                      int(overlay.m_clientHeight)));
    for (int cy = 0; cy < 3; ++cy) {
      for (int cx = 0; cx < 4; ++cx) {
        const int x0 = 10 + 36 + 32 * cx + 16, y0 = 20 + 32 + 32 * cy + 16;
        int shaft = 0;
        for (int d = 1; d <= 5; ++d) shaft += is(top, x0 + d, y0, 0, 1, 0);
        EXPECT_GE(shaft, 4) << cx << "," << cy;
        EXPECT_FALSE(is(top, x0 - 3, y0, 0, 1, 0)) << cx << "," << cy;
      }
    }
    EXPECT_TRUE(is(top, 10 + 36, 20 + 40, 1, 0, 1));  // the grid stays on
  }
  // Scene 0 has no vectors: the grid only.
  ASSERT_EQ(1, host.SeekFrame(0));
  {
    std::vector<uint8_t> top = DrawPass(target, host, 200, 160);
    int green = 0;
    for (int y = 0; y < int(overlay.m_clientHeight); ++y)
      for (int x = 0; x < w; ++x) green += is(top, x, y, 0, 1, 0);
    EXPECT_EQ(0, green);
  }

  // DATA through the X server: the VECTOR DATA window over the settings window.
  filtertest::ClickControl(f, f->m_data);
  ASSERT_TRUE(PumpUntil([&] { return f->m_table.GetWindow() != nullptr; }, 5000));
  EXPECT_STREQ(ja ? L"ベクトルデータ" : L"VECTOR DATA", f->m_table.m_title);
  EXPECT_EQ(300u, f->m_table.m_clientWidth);
  EXPECT_EQ(2u * 12 + 1, f->m_table.m_cell.m_columns);
  EXPECT_EQ(5u, f->m_table.m_cell.m_rows);
  f->m_table.Redraw();
  for (int i = 0; i < 20; ++i) FgPumpMessages();
  // A look at it: the scene rows and the speed and direction columns.
  const uint64_t xid = PlatTestFindWindowByTitle(f->m_table.m_title, int64_t(getpid()));
  ASSERT_NE(0u, xid);
  EXPECT_EQ(0, std::system(("/usr/bin/import -window " + std::to_string(xid) + " '" QV_TEST_OUT_DIR "/piv_table_" +
                            tag + ".png'")
                               .c_str()));
  // The settings window closing takes the table with it.
  f->ShowDialog(0, nullptr);
  EXPECT_EQ(nullptr, f->m_table.GetWindow());
  for (CImgBuff* b : frames) delete b;
}

INSTANTIATE_TEST_SUITE_P(Languages, PivX11, ::testing::Values(L"jp", L"en"));

// Every bar of the window is horizontal: arrows at both ends and a thumb drawn, and a click
// on an arrow steps it (its label follows), as in the other tool windows.
TEST(PivBarsX11, ArrowsAndThumbDrawnAndClicksStep)
{
  REQUIRE_DISPLAY();
  CTestHost host;
  host.SetLanguage(L"en");
  std::vector<CImgBuff> frames(2);
  for (int32_t i = 0; i < 2; ++i) PivRandomTexture(&frames[size_t(i)], 200, 160, -2 * i, 0, ImgFormatGray8);
  ASSERT_EQ(1, host.SetVideo({&frames[0], &frames[1]}, 40000));
  auto* f = new ShotPiv;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->ShowDialog(1, nullptr);
  ASSERT_NE(nullptr, f->GetWindow());
  auto colours = [&](int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    std::vector<uint32_t> seen;
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        const uint8_t* p = f->At(x, y);
        const uint32_t c = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
      }
    return seen.size();
  };
  struct BarCase {
    const char* name;
    int32_t page;
    CFgUIScrollBar* bar;
    const wchar_t* text;  // the text that shows the position, read after each click
  };
  const BarCase bars[] = {
      {"search", 0, &f->m_search, f->m_searchLabel.m_text},
      {"zoom", 1, &f->m_zoom, f->m_zoomLabel.m_text},
      {"color", 1, &f->m_color, f->m_colorLabel.m_text},
      {"direction", 1, &f->m_dirBar, f->m_eraseDir.m_text},
      {"length", 1, &f->m_lenBar, f->m_eraseLen.m_text},
  };
  for (const BarCase& c : bars) {
    SCOPED_TRACE(c.name);
    if (f->m_tab.m_currentPage != c.page) {  // the page's title clicked through the X server
      const TabPage& t = f->m_tab.m_pages[c.page];
      filtertest::SendButton(f, 1, f->m_tab.m_x + (t.x0 + t.x1) / 2, f->m_tab.m_y + (t.y0 + t.y1) / 2);
      ASSERT_TRUE(PumpUntil([&] { return f->m_tab.m_currentPage == c.page; }, 3000));
    }
    CFgUIScrollBar& bar = *c.bar;
    EXPECT_EQ(FgBarHorizontal, bar.m_kind);
    const FgScrollGeometry g = bar.Geometry();
    ASSERT_EQ(1, g.valid);
    filtertest::SaveShot(f, std::string("piv_bars_") + c.name + ".png");
    const int32_t y0 = bar.m_y + 2, y1 = bar.m_y + bar.m_height - 3, mid = bar.m_y + bar.m_height / 2;
    // The arrows: a glyph on a field, so more than one colour in each end cell.
    EXPECT_GT(colours(int32_t(g.innerStart) + 2, int32_t(g.innerStart) + 13, y0, y1), 1u);
    EXPECT_GT(colours(int32_t(g.innerEnd) - 13, int32_t(g.innerEnd) - 2, y0, y1), 1u);
    // The thumb keeps the face colour; the track beside it is painted.
    const int32_t thumb = int32_t(g.thumbStart + g.thumbLength / 2);
    const int32_t track = g.thumbStart > g.innerStart + 17 ? int32_t(g.innerStart) + 17 : int32_t(g.innerEnd) - 17;
    EXPECT_NE(0, std::memcmp(f->At(thumb, mid), f->At(track, mid), 3)) << thumb << " " << track;
    // The left arrow steps down to the lowest position, the right one up again.
    for (int i = 0; i < 200 && bar.m_position > bar.m_minimum; ++i)
      filtertest::SendButton(f, 1, int32_t(g.innerStart) + 8, mid);
    ASSERT_TRUE(PumpUntil([&] { return bar.m_position == bar.m_minimum; }, 3000));
    const std::wstring before = c.text;
    filtertest::SendButton(f, 1, int32_t(g.innerEnd) - 8, mid);
    ASSERT_TRUE(PumpUntil([&] { return bar.m_position == bar.m_minimum + 1; }, 3000));
    EXPECT_NE(before, std::wstring(c.text));
    filtertest::SendButton(f, 1, int32_t(g.innerStart) + 8, mid);
    ASSERT_TRUE(PumpUntil([&] { return bar.m_position == bar.m_minimum; }, 3000));
    EXPECT_EQ(before, std::wstring(c.text));
  }
  f->ShowDialog(0, nullptr);
}

}  // namespace
