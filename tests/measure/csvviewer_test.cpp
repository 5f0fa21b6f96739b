// csvviewer_test.cpp - the result table window without a display: menu by language, grid
// placement, "Save CSV" through the scripted chooser and message box; which texts read as
// numbers, and a column widened to its widest number with the scroll range following.
#include "measure/csvviewer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/window.h"
#include "tests/app/testhost.h"
#include "tests/toolkit/toolkit_test_util.h"
#include "toolkit/font.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Owner {
  std::vector<std::vector<std::wstring>> cells;
};
const wchar_t* Text(uint64_t c, uint64_t r, int32_t*, double*, double*, double*, void* user) {
  Owner* o = static_cast<Owner*>(user);
  if (r >= o->cells.size() || c >= o->cells[r].size()) return L"";
  return o->cells[r][c].c_str();
}

using toolkittest::ReadFile;
std::string OutPath(const char* name) {
  return std::string(QV_TEST_OUT_DIR) + "/csvviewer_" + std::to_string(getpid()) + "_" + name;
}
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(CsvViewer, MenuByLanguage) {
  (void)g_headless;
  CCsvViewer v;
  EXPECT_EQ(v.m_english, 0u);
  ASSERT_EQ(v.m_menuBar.m_menuCount, 1);
  EXPECT_STREQ(v.m_menuBar.m_menus[0].title, L"ファイル");
  EXPECT_STREQ(v.m_menuBar.m_menus[0].text, L"CSV保存\t101\n");
  EXPECT_EQ(v.m_firstChild, &v.m_menuBar);
  EXPECT_EQ(v.m_menuBar.m_callback, &CCsvViewer::OnMenu);
  const struct {
    const char* language;
    uint32_t english;
    const wchar_t* title;
  } cases[] = {{"en", 1, L"File"}, {"jp", 0, L"ファイル"}, {"jpn", 1, L"File"}, {"", 1, L"File"}};
  for (const auto& k : cases) {
    v.SetLanguage(k.language);
    EXPECT_EQ(v.m_english, k.english) << k.language;
    ASSERT_EQ(v.m_menuBar.m_menuCount, 1) << k.language;
    EXPECT_STREQ(v.m_menuBar.m_menus[0].title, k.title) << k.language;
  }
}

TEST(CsvViewer, GridBelowTheMenu) {
  CCsvViewer v;
  ASSERT_EQ(v.Create(-1, -1, 300, 300, L"table", FgStyleResizable, nullptr), 1);
  Owner o;
  o.cells = {{L"a"}};
  v.m_cell.m_textFn = Text;
  v.m_cell.m_user = &o;
  v.m_cell.SetSize(1, 1, 0);
  int32_t f = v.m_font ? int32_t(v.m_font->Size()) : 14;
  for (auto wh : {std::pair<uint64_t, uint64_t>{300, 300}, {640, 200}, {120, 500}}) {
    v.OnSize(wh.first, wh.second);
    EXPECT_EQ(v.m_cell.m_x, 0);
    EXPECT_EQ(v.m_cell.m_y, f + 8);
    EXPECT_EQ(v.m_cell.m_width, int32_t(wh.first));
    EXPECT_EQ(v.m_cell.m_height, int32_t(wh.second) - f - 8);
  }
}

TEST(CsvViewer, SaveCsv) {
  CScriptedDialogs dialogs;
  CCsvViewer v;
  Owner o;
  v.m_cell.m_textFn = Text;
  v.m_cell.m_user = &o;
  v.SetLanguage("en");
  // 3 x 2: two lines of three fields, an empty text an empty field, a comma quoted.
  v.m_cell.SetSize(3, 2, 0);
  o.cells = {{L"unit:mm", L"ID1", L"ID2"}, {L"area", L"", L"1,1"}};
  std::string path = OutPath("grid.csv");
  dialogs.m_paths.push_back(Wide(path));
  CCsvViewer::OnMenu(&v.m_menuBar, &v, 0, 101);
  EXPECT_EQ(ReadFile(path), "unit:mm,ID1,ID2\r\narea,,\"1,1\"\r\n");
  ASSERT_EQ(dialogs.m_shown.size(), 1u);
  EXPECT_EQ(dialogs.m_shown[0].text, L"saved");
  EXPECT_EQ(dialogs.m_shown[0].caption, L"confirmation");
  EXPECT_EQ(dialogs.m_shown[0].kind, 1);
  // The chooser gets no title, start path or extensions of its own.
  ASSERT_EQ(dialogs.m_asked.size(), 1u);
  EXPECT_EQ(dialogs.m_asked[0].title, L"");
  EXPECT_EQ(dialogs.m_asked[0].extensions, L"");

  // Other commands do nothing; a cancelled chooser writes and shows nothing.
  CCsvViewer::OnMenu(&v.m_menuBar, &v, 0, 102);
  CCsvViewer::OnMenu(&v.m_menuBar, &v, 0, 101);
  EXPECT_EQ(dialogs.m_shown.size(), 1u);
  EXPECT_EQ(dialogs.m_asked.size(), 2u);

  // An empty grid: an empty file and "saved".
  v.m_cell.Reset(0);
  dialogs.m_paths.push_back(Wide(path));
  CCsvViewer::OnMenu(&v.m_menuBar, &v, 0, 101);
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(dialogs.m_shown.back().text, L"saved");

  // An unwritable target (no such folder), in Japanese.
  v.SetLanguage("jp");
  dialogs.m_paths.push_back(Wide(OutPath("none") + "/x/y.csv"));
  CCsvViewer::OnMenu(&v.m_menuBar, &v, 0, 101);
  EXPECT_EQ(dialogs.m_shown.back().text, L"セーブできませんでした");
  EXPECT_EQ(dialogs.m_shown.back().caption, L"エラー");
  v.m_cell.SetSize(1, 1, 0);
  dialogs.m_paths.push_back(Wide(path));
  CCsvViewer::OnMenu(&v.m_menuBar, &v, 0, 101);
  EXPECT_EQ(dialogs.m_shown.back().text, L"セーブしました");
  EXPECT_EQ(dialogs.m_shown.back().caption, L"確認");
  EXPECT_EQ(ReadFile(path), "unit:mm\r\n");
}

TEST(NumberColumns, WhatReadsAsANumber) {
  const struct {
    const wchar_t* text;
    uint64_t width;
  } cases[] = {{L"1281375.000", 11}, {L"-3.14", 5},  {L"+7", 2},    {L"12", 2},      {L"0.5", 3},
               {L".5", 2},           {L"5.", 2},     {L"1e-05", 5}, {L"-2.5E+10", 8}, {L"---", 0},
               {L"58,31", 0},        {L"ID12", 0},   {L"speed", 0}, {L"", 0},        {L".", 0},
               {L"-", 0},            {L"1e", 0},     {L"1e+", 0},   {L"inf", 0},     {L"-nan", 0},
               {L"12 ", 0},          {L" 12", 0},    {L"1.2.3", 0}, {L"１２", 0}};
  for (const auto& k : cases) EXPECT_EQ(k.width, NumberTextWidth(k.text)) << std::wstring(k.text).c_str();
  EXPECT_EQ(0u, NumberTextWidth(nullptr));
}

// A wide number widens its column, and only as far as the rows the owner names reach; text
// that is not a number stays clipped; the column never drops below the width and narrows
// back to it; the horizontal range follows the widths.
TEST(NumberColumns, AColumnFitsItsWidestNumberNeverBelowTheWidth) {
  CCsvViewer v;
  ASSERT_EQ(v.Create(-1, -1, 180, 200, L"table", FgStyleResizable, nullptr), 1);
  Owner o;
  o.cells = {{L"unit", L"a header wider than nine", L"ID2", L"ID3"},
             {L"1", L"5.0", L"a text wider than nine", L"-12345678.250"},
             {L"2", L"1281375.000", L"7", L"1.0"},
             {L"3", L"---", L"8", L"2.0"}};
  v.m_cell.m_textFn = Text;
  v.m_cell.m_user = &o;
  ASSERT_EQ(1, v.m_cell.SetSize(4, 4, 0));
  ASSERT_EQ(1, v.m_cell.SelectRow(0, 1, 0));
  const uint64_t body[3] = {1, 2, 3}, lastTwo[2] = {2, 3};
  for (uint64_t c = 0; c < 3; ++c) FitColumnToNumbers(&v.m_cell, c, body, 3, kResultColumnWidth);
  FitColumnToNumbers(&v.m_cell, 3, lastTwo, 2, kResultColumnWidth);  // row 1 not named
  FitColumnToNumbers(&v.m_cell, 4, body, 3, kResultColumnWidth);      // outside: nothing
  const uint64_t outside[2] = {1, 9};
  FitColumnToNumbers(&v.m_cell, 0, outside, 2, 3);  // rows outside are skipped
  EXPECT_EQ(3u, v.m_cell.m_widths[0]);
  EXPECT_EQ(11u, v.m_cell.m_widths[1]);
  EXPECT_EQ(9u, v.m_cell.m_widths[2]);
  EXPECT_EQ(9u, v.m_cell.m_widths[3]);
  // Drawn right-aligned 2 pixels inside the cell, the widest text starts inside it too.
  const int32_t S = v.m_cell.FontSize();
  EXPECT_GE(v.m_cell.ColumnPixels(1), FgTextWidth(L"1281375.000", uint64_t(S)) + 3);

  // The scroll range follows: two columns of 9 fit beside the fixed one, but not one of 13
  // beside one of 9.
  v.m_cell.Layout();
  ASSERT_EQ(1, v.m_cell.m_hBarOn);
  EXPECT_EQ(1, v.m_cell.m_hBar.m_minimum);
  EXPECT_EQ(3, v.m_cell.m_hBar.m_maximum);
  const int64_t room = v.m_cell.m_gridX1 - v.m_cell.m_gridX0 + 1 - v.m_cell.ColumnPixels(0);
  ASSERT_GE(room, 2 * v.m_cell.ColumnPixels(2));
  EXPECT_EQ(2, v.m_cell.m_hBar.m_page);
  FitColumnToNumbers(&v.m_cell, 3, body, 3, kResultColumnWidth);
  EXPECT_EQ(13u, v.m_cell.m_widths[3]);
  v.m_cell.Layout();
  ASSERT_LT(room, v.m_cell.ColumnPixels(2) + v.m_cell.ColumnPixels(3));
  EXPECT_EQ(1, v.m_cell.m_hBar.m_page);

  // Smaller numbers later: back to the width, not below it.
  o.cells[2][1] = L"1.000";
  o.cells[1][3] = L"1.0";
  FitColumnToNumbers(&v.m_cell, 1, body, 3, kResultColumnWidth);
  FitColumnToNumbers(&v.m_cell, 3, body, 3, kResultColumnWidth);
  EXPECT_EQ(9u, v.m_cell.m_widths[1]);
  EXPECT_EQ(9u, v.m_cell.m_widths[3]);
  // Without a provider the column takes the width.
  v.m_cell.m_widths[1] = 20;
  v.m_cell.m_textFn = nullptr;
  FitColumnToNumbers(&v.m_cell, 1, body, 3, kResultColumnWidth);
  EXPECT_EQ(9u, v.m_cell.m_widths[1]);
  FitColumnToNumbers(nullptr, 1, body, 3, kResultColumnWidth);
}

}  // namespace
