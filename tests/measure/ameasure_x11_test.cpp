// ameasure_x11_test.cpp - auto measurement on a real X server: the table window (centred at
// 300 x 200, the menus by language, the grid below the menu after a size message, kept place
// and size when reopened), "Option" > "Island" and "File" > "Save CSV" chosen with real clicks
// through the bar and its popup, the crosses and "ID:n" labels drawn by the overlay pass at
// zoom 1, 2 and fit and with a calibration of 0.5, a total brightness of 1281375 drawn whole
// in its widened column, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "app/filterctrl.h"
#include "measure/ameasure.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/font.h"
#include "toolkit/menu.h"

namespace {

using toolkittest::PumpUntil;
using ShotAmeasure = filtertest::ShotWindow<CLfAmeasure>;

// A black 8-bit picture with white 3 x 3 squares centred at the points.
void Squares(CImgBuff& img, int32_t w, int32_t h, const std::vector<std::pair<int, int>>& at) {
  ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
  auto* p = static_cast<uint8_t*>(img.Pixels());
  for (auto [cx, cy] : at)
    for (int32_t y = cy - 1; y <= cy + 1; ++y)
      for (int32_t x = cx - 1; x <= cx + 1; ++x) p[y * w + x] = 255;
}

// Clicks a title of the bar, then the popup's item `item` (0 first) once it shows.
int g_item = -1;
void PickItem(CFgUIMenuCtrl* root) {
  CFgUIMenu* top = root->m_top;
  if (root->m_done || g_item < 0 || !top || !top->m_visible) return;
  const int32_t y = 5 + g_item * top->m_pitch;
  g_item = -1;
  PlatMsg move;
  move.kind = PlatMsgMouseMove;
  move.window = top->GetWindow();
  move.x = 5;
  move.y = y;
  PlatPostMessage(move);
  PlatTestSendInput(top->GetWindow(), 0, 1, 5, y);
  PlatTestSendInput(top->GetWindow(), 1, 1, 5, y);
}
void ChooseFromMenu(CLfAmeasure* f, int32_t menu, int32_t item) {
  const FgMenuRecord& m = f->m_menuBar.m_menus[menu];
  const int32_t x = f->m_menuBar.m_x + 8 + (m.first + m.last) / 2;
  g_item = item;
  FgSetPopupMenuHook(PickItem);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, x, 6));
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, x, 6));
}

class AmeasureX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(AmeasureX11, TableWindowMenusAndSaveThroughRealClicks) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CFgUIDialog owner;
  ASSERT_EQ(1, owner.Create(100, 100, 500, 400, L"owner", FgStyleDialog, nullptr));
  CTestHost host;
  host.m_parentScreen = &owner;
  host.m_background = 0;
  host.SetLanguage(language);
  host.SetScale(0.5, 1, L"mm");
  CImgBuff picture;
  Squares(picture, 60, 40, {{10, 10}, {30, 12}, {50, 30}});
  host.SetStill(picture);
  auto* f = new ShotAmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(300u, f->m_clientWidth);
  EXPECT_EQ(200u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_NEAR(f->m_x + 150, owner.m_x + 250, 2);  // centred on the owner
  EXPECT_NEAR(f->m_y + 100, owner.m_y + 200, 2);
  EXPECT_STREQ(ja ? L"ファイル" : L"File", f->m_menuBar.m_menus[0].title);
  EXPECT_STREQ(ja ? L"オプション" : L"Option", f->m_menuBar.m_menus[1].title);
  host.RequestProcess(0);
  ASSERT_EQ(3u, f->m_recordCount);
  const int32_t fs = f->m_font ? int32_t(f->m_font->Size()) : 14;
  EXPECT_EQ(fs + 8, f->m_grid.m_y);
  EXPECT_EQ(300, f->m_grid.m_width);
  EXPECT_EQ(200 - fs - 8, f->m_grid.m_height);
  filtertest::SaveShot(f, ja ? "auto_measurement_jp.png" : "auto_measurement_en.png");
  // Header colours differ from the body: the names column and a data cell are drawn.
  EXPECT_FALSE(f->pixels.empty());

  // A size message from the window system places the grid again below the menu.
  PlatMsg size;
  size.kind = PlatMsgSize;
  size.window = f->GetWindow();
  size.x = 420;
  size.y = 260;
  PlatPostMessage(size);
  ASSERT_TRUE(PumpUntil([&] { return f->m_grid.m_width == 420; }, 3000));
  EXPECT_EQ(fs + 8, f->m_grid.m_y);
  EXPECT_EQ(260 - fs - 8, f->m_grid.m_height);
  // The server's own size comes back with its next configure message.
  filtertest::Settle();

  // "Option" > "Island" through the bar and its popup, twice: each choice runs the frame.
  const uint64_t runs = host.m_processedCount.load();
  ChooseFromMenu(f, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return f->m_island.load() == 0; }, 5000));
  EXPECT_GT(host.m_processedCount.load(), runs);
  ChooseFromMenu(f, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return f->m_island.load() == 1; }, 5000));

  // "File" > "Save CSV": the chooser answers a path, the box is recorded.
  qvtest::TempFolder folder("ameasure_x11");
  ASSERT_TRUE(folder.ok());
  CScriptedDialogs dialogs;
  const std::string path = folder.File("islands.csv");
  dialogs.m_paths.push_back(qvtest::Utf8Wide(path));
  ChooseFromMenu(f, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !dialogs.m_shown.empty(); }, 5000));
  FgSetPopupMenuHook(nullptr);
  EXPECT_EQ(ja ? L"セーブしました" : L"saved", dialogs.m_shown[0].text);
  const std::string csv = qvtest::ReadWholeFile(path);
  EXPECT_EQ(0u, csv.find(ja ? "単位:mm,ID1,ID2,ID3\r\n輪郭の中心 X,5.000,15.000,25.000\r\n"
                            : "unit:mm,ID1,ID2,ID3\r\ncenter of contour x,5.000,15.000,25.000\r\n"))
      << csv;

  // Closed and opened again: the place and size it had.
  filtertest::Settle();
  const uint64_t keptWidth = f->m_clientWidth, keptHeight = f->m_clientHeight;
  f->m_x = owner.m_x + 20;
  f->m_y = owner.m_y + 30;
  EXPECT_EQ(0, f->OnClose());
  EXPECT_EQ(nullptr, f->GetWindow());
  f->m_dialogVisible = 1;
  f->ShowDialog(1, &owner);
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(keptWidth, f->m_clientWidth);
  EXPECT_EQ(keptHeight, f->m_clientHeight);
  EXPECT_NEAR(owner.m_x + 20, f->m_x, 2);
  EXPECT_NEAR(owner.m_y + 30, f->m_y, 2);
  // A language change reopens it in the same place and size, with the other menus.
  host.SetLanguage(ja ? L"en" : L"jp");
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(keptWidth, f->m_clientWidth);
  EXPECT_NEAR(owner.m_x + 20, f->m_x, 2);
  EXPECT_STREQ(ja ? L"File" : L"ファイル", f->m_menuBar.m_menus[0].title);
  EXPECT_STREQ(f->GetName(ja ? L"en" : L"jp"), f->m_title);
  filtertest::SaveShot(f, ja ? "auto_measurement_jp_to_en.png" : "auto_measurement_en_to_jp.png");
  owner.Destroy();
}

INSTANTIATE_TEST_SUITE_P(Languages, AmeasureX11, ::testing::Values(L"jp", L"en"));

// A white 67 x 75 area: its total brightness "1281375.000" is drawn whole, right-aligned in
// its cell, not cut on the left.  Read back from the window's pixels.
TEST(AmeasureX11, ABigTotalIsDrawnWhole) {
  REQUIRE_DISPLAY();
  CTestHost host;
  host.m_background = 0;
  host.SetLanguage(L"en");
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(120, 100, ImgFormatGray8));
  auto* p = static_cast<uint8_t*>(picture.Pixels());
  for (int32_t y = 10; y < 85; ++y)
    for (int32_t x = 10; x < 77; ++x) p[y * 120 + x] = 255;
  host.SetStill(picture);
  auto* f = new ShotAmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  host.RequestProcess(0);
  ASSERT_EQ(1u, f->m_recordCount);
  CFgUICell& grid = f->m_grid;
  int32_t align = 0;
  double red = 0, green = 0, blue = 0;
  const std::wstring text = CLfAmeasure::ResultCellText(1, 13, &align, &red, &green, &blue, f);
  ASSERT_EQ(L"1281375.000", text);
  ASSERT_EQ(1, grid.SetCurrentCell(1, 13));  // the total brightness row right below the header
  filtertest::SaveShot(f, "auto_measurement_big_total.png");
  ASSERT_FALSE(f->pixels.empty());

  const int32_t S = grid.FontSize(), rowH = S + 4;
  const int32_t x0 = grid.m_gridX0 + int32_t(grid.ColumnPixels(0)), x1 = x0 + int32_t(grid.ColumnPixels(1)) - 1;
  const int32_t y0 = grid.m_gridY0 + rowH;
  ASSERT_LT(x1, grid.m_gridX1);
  int32_t left = INT32_MAX, right = -1;
  for (int32_t y = y0 + 1; y < y0 + rowH - 1; ++y)
    for (int32_t x = x0; x <= x1; ++x) {
      const uint8_t* c = f->At(x, y);
      if (c[0] < 100 && c[1] < 100 && c[2] < 100) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  ASSERT_GE(right, 0) << "no text in the cell";
  // Right-aligned: the text ends 2 pixels inside the cell and starts where its width says,
  // its first digit within the first character's advance, clear of the cell's left edge.
  const int32_t start = x1 - 1 - int32_t(FgTextWidth(text.c_str(), uint64_t(S)));
  EXPECT_GE(left, start);
  EXPECT_LT(left, start + S / 2);
  EXPECT_GT(left, x0 + 1);
  EXPECT_LE(right, x1 - 2);
}

TEST(AmeasureStressX11, WorkerRedrawsWhileTheWindowDrawsAndSaves) {
  REQUIRE_DISPLAY();
  qvtest::TempFolder folder("ameasure_stress_x11");
  ASSERT_TRUE(folder.ok());
  CScriptedDialogs dialogs;
  // Scenes of 1 to 9 islands: each frame resizes the grid on the worker, which redraws the
  // window there while this thread draws it and saves it.
  std::vector<CImgBuff*> frames;
  for (int n = 1; n <= 9; ++n) {
    std::vector<std::pair<int, int>> at;
    for (int i = 0; i < n; ++i) at.push_back({3 + 6 * i, 3 + (i % 2) * 4});
    frames.push_back(new CImgBuff);
    Squares(*frames.back(), 60, 12, at);
  }
  CTestHost host;
  host.m_background = 0;
  host.SetLanguage(L"en");
  ASSERT_EQ(1, host.SetVideo(std::vector<const CImgBuff*>(frames.begin(), frames.end()), 40000));
  auto* f = new ShotAmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  // What holds whatever the scheduling: every seek is taken, every save is the whole table of
  // one frame (1 to 9 islands, every line as long as the first), and after the last seek the
  // table is that frame's.
  constexpr int kSeeks = 120;
  ASSERT_EQ(1, host.SeekFrame(0));  // every scene has islands: the table is never empty
  std::atomic<int> refusedSeeks{0};
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int k = 0; k < kSeeks; ++k)
      if (host.SeekFrame(uint64_t(k) * 4 % frames.size()) != 1) refusedSeeks++;
    done.store(true);
  });
  const std::string path = folder.File("stress.csv");
  auto saveAndCheck = [&](int i) {
    dialogs.m_paths.push_back(qvtest::Utf8Wide(path));
    CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
    f->CFgUICtrl::Redraw();
    FgPumpMessages();
    const std::string csv = qvtest::ReadWholeFile(path);
    size_t fields = 0, lineFields = 1, lines = 0;
    for (char c : csv) {
      if (c == ',') lineFields++;
      if (c == '\n') {
        if (lines == 0) fields = lineFields;
        EXPECT_EQ(fields, lineFields) << "line " << lines << " of save " << i;
        lineFields = 1;
        lines++;
      }
    }
    EXPECT_EQ(25u, lines) << i;
    EXPECT_GE(fields, 2u) << i;
    EXPECT_LE(fields, 10u) << i;
    return fields;
  };
  // At least 40 saves, and saves for as long as the feeder runs.
  for (int i = 0; i < 40 || !done.load(); ++i) saveAndCheck(i);
  feeder.join();
  EXPECT_EQ(0, refusedSeeks.load());
  // The last frame asked for is the one measured: 9 islands, 9 columns after the names.
  ASSERT_EQ(1, host.SeekFrame(8));
  EXPECT_EQ(10u, saveAndCheck(-1));
  filtertest::SaveShot(f, "auto_measurement_stress.png");
  for (CImgBuff* b : frames) delete b;
}

// The overlay pass in a real main window with its font, read back; top row first.
std::vector<uint8_t> DrawPass(qvtest::MainWindowTarget& target, CFilterCtrl& ctrl, int32_t vx1,
                              int32_t vy1, int32_t ix1, int32_t iy1, int32_t zoom) {
  return target.Pass(ctrl, target.Screen().m_font, 10, 20, vx1, vy1, 0, 0, ix1, iy1, zoom, true);
}

TEST(AmeasureOverlayX11, CrossesAndNumbersSitOnTheIslands) {
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(240, 200, L"auto measurement overlay"));
  CMainScreen& screen = target.Screen();
  CTestHost host;
  host.m_background = 0;
  host.SetLanguage(L"en");
  host.SetOverlayColor(0, 1, 0);
  CImgBuff picture;
  const std::vector<std::pair<int, int>> centres = {{5, 6}, {30, 8}, {12, 40}};
  Squares(picture, 60, 50, centres);
  host.SetStill(picture);
  auto* f = new CLfAmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->ShowDialog(0, nullptr);
  struct Case {
    const char* name;
    double scale;
    int32_t axisY;
    int32_t zoom;
    int32_t vx1, vy1;  // view rectangle from (10, 20)
    int32_t mul, half;  // expected view pixel: (c x mul) + half + view origin
  } cases[] = {{"zoom1", 1.0, 1, 1, 69, 69, 1, 0},
               {"zoom2", 1.0, 1, 2, 129, 119, 2, 1},
               {"fit3", 1.0, 1, 0, 189, 169, 3, 1},
               {"zoom2_scale05_yup", 0.5, -1, 2, 129, 119, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.SetScale(c.scale, c.axisY, L"mm");
    host.RequestProcess(0);
    ASSERT_EQ(3u, f->m_recordCount);
    std::vector<uint8_t> top = DrawPass(target, host, c.vx1, c.vy1, 59, 49, c.zoom);
    ASSERT_FALSE(top.empty());
    const int w = int(screen.m_clientWidth);
    auto lit = [&](int x, int y) {
      const uint8_t* p = &top[size_t(y * w + x) * 3];
      return p[1] > 128 && p[0] < 64 && p[2] < 64;  // the guide colour, green
    };
    EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/auto_measurement_" +
                                          c.name + ".png",
                                      top, w, int(screen.m_clientHeight)));
    for (auto [cx, cy] : centres) {
      const int px = cx * c.mul + c.half + 10, py = cy * c.mul + c.half + 20;
      for (int d = -3; d <= 3; ++d) {
        EXPECT_TRUE(lit(px + d, py)) << cx << "," << cy << " arm x " << d;
        EXPECT_TRUE(lit(px, py + d)) << cx << "," << cy << " arm y " << d;
      }
      EXPECT_FALSE(lit(px - 4, py));
      EXPECT_FALSE(lit(px, py - 4));
      EXPECT_FALSE(lit(px + 1, py + 1));
      // The number: lit pixels right of the vertical arm, below the horizontal one.
      int label = 0;
      for (int y = py + 3; y < py + 3 + 14; ++y)
        for (int x = px + 5; x < px + 3 + 28; ++x) label += lit(x, y);
      EXPECT_GT(label, 10) << cx << "," << cy;
    }
  }
  // Switched off: the pass draws nothing.
  f->m_filterEnabled = 0;
  std::vector<uint8_t> none = DrawPass(target, host, 69, 69, 59, 49, 1);
  int litCount = 0;
  for (size_t i = 0; i < none.size(); i += 3) litCount += none[i + 1] > 128;
  EXPECT_EQ(0, litCount);
}

}  // namespace
