// csvviewer_x11_test.cpp - the result table window on a real X server: centred on its owner
// at 300 x 300, the menu by language, "Save CSV" chosen with real clicks through the bar and
// its popup (the chooser and the message box scripted), and screenshots.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "measure/csvviewer.h"
#include "tests/app/testhost.h"
#include "tests/toolkit/toolkit_test_util.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/menu.h"

namespace {

using toolkittest::PumpUntil;

// Keeps the picture of every redraw (the back buffer before the swap), top row first.
class ShotViewer : public CCsvViewer {
 public:
  void DrawOverlay() override {
    CCsvViewer::DrawOverlay();
    uint64_t w = m_clientWidth, h = m_clientHeight;
    std::vector<uint8_t> up = toolkittest::ReadBack(w, h);
    pixels.assign(up.size(), 0);
    for (uint64_t y = 0; y < h; ++y)
      std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
                pixels.begin() + long(y * w * 3));
  }
  std::vector<uint8_t> pixels;
};

const wchar_t* Text(uint64_t c, uint64_t r, int32_t* align, double*, double*, double*, void*) {
  static wchar_t buf[64];
  if (c == 0) {
    *align = -1;
    swprintf(buf, 64, r == 0 ? L"unit:mm" : L"row %lu", (unsigned long)r);
  } else {
    *align = 1;
    swprintf(buf, 64, r == 0 ? L"ID%lu" : L"%lu.%03lu", (unsigned long)c, (unsigned long)r);
  }
  return buf;
}

using toolkittest::ReadFile;

// Opens the bar's first menu with a real click and picks its first item.
int g_stage = 0;
void Drive(CFgUIMenuCtrl* root) {
  CFgUIMenu* top = root->m_top;
  if (root->m_done || g_stage != 0 || !top || !top->m_visible) return;
  g_stage = 1;
  PlatMsg move;
  move.kind = PlatMsgMouseMove;
  move.window = top->GetWindow();
  move.x = 5;
  move.y = 5;
  PlatPostMessage(move);
  PlatTestSendInput(top->GetWindow(), 0, 1, 5, 5);
  PlatTestSendInput(top->GetWindow(), 1, 1, 5, 5);
}

class CsvViewerX11 : public ::testing::TestWithParam<const char*> {};

TEST_P(CsvViewerX11, OpensCentredAndSavesThroughTheMenu) {
  REQUIRE_DISPLAY();
  const char* language = GetParam();
  const bool jp = std::string(language) == "jp";
  CFgUIDialog owner;
  ASSERT_EQ(owner.Create(100, 100, 500, 400, L"owner", FgStyleDialog, nullptr), 1);
  ShotViewer v;
  v.m_cell.m_textFn = Text;
  v.SetLanguage(language);
  v.m_cell.SetSize(4, 25, 0);
  v.m_cell.SelectRow(0, 1, 0);
  v.m_cell.Layout();
  ASSERT_EQ(v.Create(-1, -1, 300, 300, L"TRACK DATA", FgStyleResizable, &owner), 1);
  EXPECT_EQ(v.m_clientWidth, 300u);
  EXPECT_EQ(v.m_clientHeight, 300u);
  // Centred on the owner.
  EXPECT_NEAR(v.m_x + 150, owner.m_x + 250, 2);
  EXPECT_NEAR(v.m_y + 150, owner.m_y + 200, 2);
  EXPECT_STREQ(v.m_menuBar.m_menus[0].title, jp ? L"ファイル" : L"File");
  ASSERT_TRUE(PumpUntil([&] { return !v.pixels.empty() && v.m_cell.m_width > 0; }, 3000));
  // The grid fills the window below the menu bar.
  int32_t f = v.m_font ? int32_t(v.m_font->Size()) : 14;
  EXPECT_EQ(v.m_cell.m_y, f + 8);
  EXPECT_EQ(v.m_cell.m_width, 300);
  EXPECT_EQ(v.m_cell.m_height, 300 - f - 8);
  v.CFgUICtrl::Redraw();
  std::string shot = std::string(QV_TEST_OUT_DIR) + "/csvviewer_" + language + ".png";
  EXPECT_TRUE(toolkittest::WritePng(shot, v.pixels, 300, 300));

  // "File" > "Save CSV" with real clicks; the chooser answers a path, the box "OK".
  CScriptedDialogs dialogs;
  std::string path = std::string(QV_TEST_OUT_DIR) + "/csvviewer_x11_" +
                     std::to_string(getpid()) + "_" + language + ".csv";
  dialogs.m_paths.push_back(std::wstring(path.begin(), path.end()));
  g_stage = 0;
  FgSetPopupMenuHook(Drive);
  ASSERT_EQ(PlatTestSendInput(v.GetWindow(), 0, 1, 10, 6), 1);
  ASSERT_EQ(PlatTestSendInput(v.GetWindow(), 1, 1, 10, 6), 1);
  EXPECT_TRUE(PumpUntil([&] { return !dialogs.m_shown.empty(); }, 5000));
  FgSetPopupMenuHook(nullptr);
  ASSERT_EQ(dialogs.m_shown.size(), 1u);
  EXPECT_EQ(dialogs.m_shown[0].text, jp ? L"セーブしました" : L"saved");
  std::string csv = ReadFile(path);
  EXPECT_EQ(csv.substr(0, 26), "unit:mm,ID1,ID2,ID3\r\nrow 1");
  size_t lines = 0;
  for (char c : csv) lines += c == '\n';
  EXPECT_EQ(lines, 25u);
  v.Destroy();
  owner.Destroy();
}

INSTANTIATE_TEST_SUITE_P(Languages, CsvViewerX11, ::testing::Values("jp", "en"));

}  // namespace
