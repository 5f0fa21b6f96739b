// cell_test.cpp - cell table layout and scroll bars, hit testing and the press rules, the
// wheel, and the exact bytes of SaveText, without a display (headless window layer).
#include "toolkit/cell.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "tests/toolkit/toolkit_test_util.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

// Provider over a table of texts, row by row; missing cells are empty.
struct Table {
  std::vector<std::vector<std::wstring>> cells;
  int32_t align = 0;
};
const wchar_t* Provide(uint64_t c, uint64_t r, int32_t* align, double*, double*, double*,
                       void* user) {
  Table* t = static_cast<Table*>(user);
  *align = t->align;
  if (r >= t->cells.size() || c >= t->cells[r].size()) return L"";
  return t->cells[r][c].c_str();
}

using toolkittest::ReadFile;

std::wstring OutPath(const char* name) {
  std::string p = std::string(QV_TEST_OUT_DIR) + "/cell_" + std::to_string(getpid()) + "_" + name;
  return std::wstring(p.begin(), p.end());
}
std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::vector<std::string> g_events;
void Press(uint64_t c, uint64_t r, void*) { g_events.push_back("p" + std::to_string(c) + std::to_string(r)); }
void Move(uint64_t c, uint64_t r, void*) { g_events.push_back("m" + std::to_string(c) + std::to_string(r)); }
void Release(uint64_t c, uint64_t r, void*) { g_events.push_back("r" + std::to_string(c) + std::to_string(r)); }

class CellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    ASSERT_EQ(dlg.Create(0, 0, 700, 500, L"cells", FgStyleDialog, nullptr), 1);
    dlg.AddChild(&cell);
    cell.m_textFn = Provide;
    cell.m_user = &table;
    g_events.clear();
  }
  CFgUIDialog dlg;
  CFgUICell cell;
  Table table;
};

TEST_F(CellTest, RectAndBars) {
  EXPECT_EQ(cell.SetRect(640, 22, 640, 400), 1);
  EXPECT_EQ(cell.m_x, 0);
  EXPECT_EQ(cell.m_y, 22);
  EXPECT_EQ(cell.m_width, 640);
  EXPECT_EQ(cell.SetRect(0, 0, 0, 10), 0);

  // Columns 9 * 7 + 4 = 67 pixels, rows 18: a 3 x 4 grid fits.
  ASSERT_EQ(cell.SetSize(3, 4, 1), 1);
  EXPECT_EQ(cell.m_hBarOn, 0);
  EXPECT_EQ(cell.m_vBarOn, 0);
  // Wider than the widget: the horizontal bar; the vertical one only when h - 16 is short.
  for (int i = 0; i < 3; ++i) cell.m_widths[i] = 40;  // 284 pixels each
  cell.Layout();
  EXPECT_EQ(cell.m_hBarOn, 1);
  EXPECT_EQ(cell.m_vBarOn, 0);
  EXPECT_EQ(cell.m_hBar.m_visible, 1);
  EXPECT_EQ(cell.m_gridY1, 22 + 400 - 1 - 16);
  EXPECT_EQ(cell.m_hBar.m_maximum, 2);
  EXPECT_EQ(cell.m_hBar.m_page, 2);  // 568 of 640 pixels hold the last two columns
  cell.SetSize(3, 22, 0);  // 22 rows = 396 pixels: fits 400 but not 384
  for (int i = 0; i < 3; ++i) cell.m_widths[i] = 40;
  cell.Layout();
  EXPECT_EQ(cell.m_hBarOn, 1);
  EXPECT_EQ(cell.m_vBarOn, 1);
  EXPECT_EQ(cell.m_gridX1, 640 - 1 - 16);
  // Empty grids hide both.
  EXPECT_EQ(cell.SetSize(0, 5, 0), 0);
  EXPECT_EQ(cell.m_hasContent, 0);
  EXPECT_EQ(cell.m_hBar.m_visible, 0);
  EXPECT_EQ(cell.m_vBar.m_visible, 0);
  EXPECT_EQ(cell.SetSize(uint64_t(1) << 40, 2, 0), 0);
}

TEST_F(CellTest, FixedRowsAndTheWheel) {
  cell.SetRect(0, 0, 300, 200);  // grid 184 high when the horizontal bar is off
  ASSERT_EQ(cell.SetSize(3, 50, 0), 1);
  EXPECT_EQ(cell.SelectRow(0, 50, 0), 0);
  ASSERT_EQ(cell.SelectRow(0, 2, 0), 1);
  EXPECT_EQ(cell.m_firstRow, 2u);
  EXPECT_EQ(cell.m_firstColumn, 1u);
  EXPECT_EQ(cell.m_vBarOn, 1);
  // (200 - 36) / 18 = 9 scrolling rows shown; range 2 .. 49.
  EXPECT_EQ(cell.m_vBar.m_minimum, 2);
  EXPECT_EQ(cell.m_vBar.m_maximum, 49);
  EXPECT_EQ(cell.m_vBar.m_page, 9);
  cell.OnMouseWheel(10, 10, -3);
  EXPECT_EQ(cell.m_firstRow, 2u);
  cell.OnMouseWheel(10, 10, 3);
  EXPECT_EQ(cell.m_firstRow, 5u);
  cell.OnMouseWheel(10, 10, -10);
  EXPECT_EQ(cell.m_firstRow, 2u);  // not above the fixed rows
  cell.OnMouseWheel(10, 10, 1000);
  EXPECT_EQ(cell.m_firstRow, 41u);  // the last row is in view
  cell.OnMouseWheel(10, 10, 1);
  EXPECT_EQ(cell.m_firstRow, 41u);
  EXPECT_EQ(cell.SetCurrentCell(0, 10), 0);  // the fixed column cannot scroll
  EXPECT_EQ(cell.SetCurrentCell(1, 1), 0);
  EXPECT_EQ(cell.SetCurrentCell(1, 10), 1);
  EXPECT_EQ(cell.m_vBar.m_position, 10);
  // The bar moving scrolls the rows.
  cell.m_vBar.MoveTo(20);
  EXPECT_EQ(cell.m_firstRow, 20u);
}

TEST_F(CellTest, HitTestAndPressRules) {
  cell.SetRect(0, 0, 300, 200);
  ASSERT_EQ(cell.SetSize(3, 4, 0), 1);
  cell.m_onPress = Press;
  cell.m_onMove = Move;
  cell.m_onRelease = Release;
  uint64_t c = 9, r = 9;
  EXPECT_EQ(cell.HitTest(70, 20, &c, &r), 1);
  EXPECT_EQ(c, 1u);
  EXPECT_EQ(r, 1u);
  EXPECT_EQ(cell.HitTest(250, 20, &c, &r), 0);  // right of the last column
  EXPECT_EQ(cell.HitTest(10, 100, &c, &r), 0);  // below the last row
  // Press, move over another cell, release outside: stays pressed; a new press is ignored;
  // moves still report; a release over a cell ends it.
  dlg.OnLButtonDown(10, 5);
  dlg.OnMouseMove(12, 6);
  dlg.OnMouseMove(80, 5);
  dlg.OnLButtonUp(290, 190);
  dlg.OnLButtonDown(10, 25);
  dlg.OnMouseMove(150, 60);
  dlg.OnLButtonUp(150, 60);
  dlg.OnLButtonDown(10, 25);
  EXPECT_EQ(g_events, std::vector<std::string>({"p00", "m00", "m10", "m23", "r23", "p01", "m01"}));
}

TEST_F(CellTest, SaveTextBytes) {
  ASSERT_EQ(cell.SetSize(3, 2, 0), 1);
  table.cells = {{L"ID", L"X", L"Y"}, {L"1", L"10.5", L""}};
  std::wstring path = OutPath("small.csv");
  ASSERT_EQ(cell.SaveText(path.c_str()), 1);
  EXPECT_EQ(ReadFile(Narrow(path)), "ID,X,Y\r\n1,10.5,\r\n");

  struct Case {
    const char* name;
    std::vector<std::vector<std::wstring>> cells;
    uint64_t columns, rows;
    std::string bytes;
  } cases[] = {
      // A comma, quote or line break quotes the field, so the columns after it stay put.
      {"comma", {{L"a,b", L"c"}}, 2, 1, "\"a,b\",c\r\n"},
      {"pair", {{L"1,1", L"2"}}, 2, 1, "\"1,1\",2\r\n"},
      // A line feed inside a text ends in CR LF as every line feed of the file does.
      {"quote", {{L"say \"hi\"", L"x\ny\r"}}, 2, 1, "\"say \"\"hi\"\"\",\"x\r\ny\r\"\r\n"},
      {"plain", {{L"a b", L"-1.5"}}, 2, 1, "a b,-1.5\r\n"},
      {"utf8", {{L"\x3042", L"\x00e9"}}, 2, 1, "\xe3\x81\x82,\xc3\xa9\r\n"},
      {"one", {{L"z"}}, 1, 3, "z\r\n\r\n\r\n"},
  };
  for (const Case& k : cases) {
    cell.SetSize(k.columns, k.rows, 0);
    table.cells = k.cells;
    std::wstring p = OutPath(k.name);
    ASSERT_EQ(cell.SaveText(p.c_str()), 1) << k.name;
    EXPECT_EQ(ReadFile(Narrow(p)), k.bytes) << k.name;
  }

  // No rows: an empty file, success. No provider: empty cells.
  cell.Reset(0);
  std::wstring empty = OutPath("empty.csv");
  ASSERT_EQ(cell.SaveText(empty.c_str()), 1);
  EXPECT_EQ(ReadFile(Narrow(empty)), "");
  cell.SetSize(2, 2, 0);
  cell.m_textFn = nullptr;
  ASSERT_EQ(cell.SaveText(empty.c_str()), 1);
  EXPECT_EQ(ReadFile(Narrow(empty)), ",\r\n,\r\n");

  // Failures: no folder, a full device, no path.
  EXPECT_EQ(cell.SaveText((OutPath("none") + L"/x/y.csv").c_str()), 0);
  EXPECT_EQ(cell.SaveText(L"/dev/full"), 0);
  EXPECT_EQ(cell.SaveText(nullptr), 0);
  EXPECT_EQ(cell.SaveText(L""), 0);

  // A failed save leaves the old file as it was and no temporary file beside it: a file size
  // limit makes the writes of a longer table fail part way.
  std::wstring keep = OutPath("keep.csv");
  cell.SetSize(1, 1, 0);
  cell.m_textFn = Provide;
  table.cells = {{L"old"}};
  ASSERT_EQ(cell.SaveText(keep.c_str()), 1);
  cell.SetSize(1, 4000, 0);
  table.cells.assign(4000, {L"a longer text than the old file"});
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  int32_t result = cell.SaveText(keep.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFile(Narrow(keep)), "old\r\n");
  std::string prefix = std::filesystem::path(Narrow(keep)).filename().string() + ".";
  int stray = 0;
  for (const auto& e : std::filesystem::directory_iterator(QV_TEST_OUT_DIR))
    if (e.path().filename().string().rfind(prefix, 0) == 0) ++stray;
  EXPECT_EQ(stray, 0);
}

}  // namespace
