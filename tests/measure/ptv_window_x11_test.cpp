// ptv_window_x11_test.cpp - the particle tracker's window on a real X server in both
// languages: its size and title, the pages switched by clicks on their titles, the scale
// labels, DATA pressed through the X server opening TRACK DATA (its CSV compared byte for
// byte) and, on "ptv", VECTOR DATA (every CSV row with the same field count); screenshots.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/filterctrl.h"
#include "measure/ptv.h"
#include "platform/window.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;
using ShotPtv = filtertest::ShotWindow<CLfPtv>;

// A real click on a page title of the tab.
void ClickPage(CLfPtv* f, int32_t page)
{
  const TabPage& p = f->m_tab.m_pages[page];
  const int32_t x = f->m_tab.m_x + (p.x0 + p.x1) / 2, y = f->m_tab.m_y + (p.y0 + p.y1) / 2;
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, x, y));
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, x, y));
  ASSERT_TRUE(PumpUntil([&] { return f->m_page == page; }, 5000)) << "page " << page;
}

std::string ReadAll(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Fields of one CSV line, a quoted comma not counting.
int FieldCount(const std::string& line)
{
  int fields = 1;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (c == ',' && !quoted) ++fields;
  }
  return fields;
}

void ShootTable(CLfPtv* f, const std::string& name)
{
  const uint64_t xid = PlatTestFindWindowByTitle(f->m_table.m_title, int64_t(getpid()));
  ASSERT_NE(0u, xid);
  const std::string path = std::string(QV_TEST_OUT_DIR) + "/" + name;
  // The window may be mapped and drawn a little after it opened: grab again until the
  // picture holds more than one colour.
  for (int attempt = 0; attempt < 10; ++attempt) {
    for (int i = 0; i < 10; ++i) {
      f->m_table.Redraw();
      FgPumpMessages();
      usleep(10000);
    }
    ASSERT_EQ(0, std::system(("/usr/bin/import -window " + std::to_string(xid) + " '" + path + "'").c_str()));
    if (ReadAll(path).size() > 400) break;
  }
}

class PtvWindowX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(PtvWindowX11, PagesLabelsAndBothTables)
{
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const bool ja = IsJapanese(language) != 0;
  const std::string tag = ja ? "jp" : "en";
  CTestHost host;
  host.SetLanguage(language);
  std::vector<CImgBuff> frames(6);
  std::vector<const CImgBuff*> list;
  for (auto& b : frames) {
    ASSERT_EQ(1, b.Allocate(256, 128, ImgFormatGray8));
    list.push_back(&b);
  }
  ASSERT_EQ(1, host.SetVideo(list, 40000));
  auto* f = new ShotPtv;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  EXPECT_EQ(1, f->HasDialog());

  // Three tracks as a run leaves them.
  CParticleData& d = f->m_data;
  ASSERT_EQ(1, d.SetFrameCount(6));
  for (int32_t s = 0; s < 6; ++s) d.AddParticle(s, {0, 1, 40.0 + 2 * s, 40.0 - s});
  for (int32_t s = 1; s < 4; ++s) d.AddParticle(s, {1, 1, 100.0, 60.0 + s});
  for (int32_t s = 0; s < 3; ++s) d.AddParticle(s, {2, 1, 150.0, 50.0});
  d.idCount = 3;
  f->RebuildIndex();
  f->RebuildIdList();

  f->m_dialogVisible = 1;
  f->ShowDialog(1, nullptr);
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(390u, f->m_clientWidth);
  EXPECT_EQ(276u, f->m_clientHeight);
  EXPECT_STREQ(ja ? L"粒子追跡/PTV" : L"Particle tracking / PTV", f->m_title);
  EXPECT_STREQ(ja ? L"検索半径" : L"search r", f->m_searchLabel.m_text);
  EXPECT_STREQ(ja ? L"実行" : L"EXEC", f->m_exec.m_text);
  EXPECT_STREQ(ja ? L"データ" : L"DATA", f->m_dataButton.m_text);
  EXPECT_STREQ(L"5", f->m_searchEdit.GetText());
  // Every control inside the window, the bottom buttons below the tab.
  const CFgUIObj* all[] = {&f->m_group, &f->m_tab, &f->m_idList, &f->m_lineLen, &f->m_exec, &f->m_dataButton,
                           &f->m_load, &f->m_save, &f->m_concatButton, &f->m_colorStep};
  for (const CFgUIObj* w : all) {
    EXPECT_GE(w->m_x, 0);
    EXPECT_LE(w->m_x + w->m_width, 390);
    EXPECT_LE(w->m_y + w->m_height, 276);
  }
  EXPECT_GT(f->m_dataButton.m_y, f->m_tab.m_y + f->m_tab.m_height - 8);
  filtertest::SaveShot(f, "ptv_window_track_" + tag + ".png");

  ClickPage(f, 1);
  EXPECT_TRUE(f->m_eraseButton.m_visible);
  EXPECT_FALSE(f->m_exec.m_visible);
  EXPECT_STREQ(ja ? L"データ削除" : L"DATA ERASE", f->m_eraseButton.m_text);
  filtertest::SaveShot(f, "ptv_window_edit_" + tag + ".png");

  ClickPage(f, 2);
  EXPECT_STREQ(ja ? L"表示倍率(x3.0)" : L"zoom(x3.0)", f->m_zoomLabel.m_text);
  EXPECT_STREQ(ja ? L"2pixel/frame毎" : L"every 2pixel/frame", f->m_colorLabel.m_text);
  // On "ptv" the group, LOAD and SAVE are off; DATA stays.
  EXPECT_FALSE(f->m_group.m_enabled);
  EXPECT_FALSE(f->m_load.m_enabled);
  EXPECT_FALSE(f->m_save.m_enabled);
  EXPECT_TRUE(f->m_dataButton.m_enabled);
  filtertest::SaveShot(f, "ptv_window_ptv_" + tag + ".png");

  // DATA on "track": TRACK DATA, 3 ids over 6 scenes.
  ClickPage(f, 0);
  filtertest::ClickControl(f, f->m_dataButton);
  ASSERT_TRUE(PumpUntil([&] { return f->m_table.GetWindow() != nullptr; }, 5000));
  EXPECT_STREQ(ja ? L"追跡データ" : L"TRACK DATA", f->m_table.m_title);
  EXPECT_EQ(300u, f->m_table.m_clientWidth);
  EXPECT_EQ(7u, f->m_table.m_cell.m_columns);
  EXPECT_EQ(8u, f->m_table.m_cell.m_rows);
  ShootTable(f, "ptv_track_table_" + tag + ".png");
  qvtest::TempFolder tmp("ptv_window");
  const std::string trackCsv = tmp.File("track.csv");
  const std::wstring wide = tmp.WideFile("track.csv");
  ASSERT_EQ(1, f->m_table.m_cell.SaveText(wide.c_str()));
  std::string expected = "pixel,1,,2,,3,\r\n,X,Y,X,Y,X,Y\r\n";
  for (int s = 0; s < 6; ++s) {
    char row[160];
    std::snprintf(row, sizeof row, "%d,%.1f,%.1f,", s + 1, 40.0 + 2 * s, 40.0 - s);
    expected += row;
    if (s >= 1 && s < 4) std::snprintf(row, sizeof row, "100.0,%.1f,", 60.0 + s);
    else std::snprintf(row, sizeof row, ",,");
    expected += row;
    expected += s < 3 ? "150.0,50.0\r\n" : ",\r\n";
  }
  EXPECT_EQ(expected, ReadAll(trackCsv));

  // DATA on "ptv": VECTOR DATA for the built grid, the "cx,cy" headers quoted.
  ClickPage(f, 2);
  filtertest::ClickControl(f, f->m_gridExec);
  ASSERT_TRUE(PumpUntil([&] { return f->m_grid.Frames() == 6; }, 5000));
  filtertest::ClickControl(f, f->m_dataButton);
  ASSERT_TRUE(PumpUntil([&] { return f->m_table.m_cell.m_rows == 8u && f->m_table.m_cell.m_columns != 7u; }, 5000));
  EXPECT_EQ(2u * uint64_t(f->m_grid.Nx()) * uint64_t(f->m_grid.Ny()) + 1, f->m_table.m_cell.m_columns);
  ShootTable(f, "ptv_vector_table_" + tag + ".png");
  const std::string vectorCsv = tmp.File("vector.csv");
  const std::wstring wideV = tmp.WideFile("vector.csv");
  ASSERT_EQ(1, f->m_table.m_cell.SaveText(wideV.c_str()));
  const std::string text = ReadAll(vectorCsv);
  ASSERT_EQ(0u, text.find("pixel/s,\"1,1\",,\"2,1\","));
  std::istringstream lines(text);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(int(f->m_table.m_cell.m_columns), FieldCount(line)) << line;
    ++rows;
  }
  EXPECT_EQ(8, rows);

  // A language change takes the table with the window and reopens both.
  const wchar_t* other = ja ? L"en" : L"jp";
  host.SetLanguage(other);
  ASSERT_NE(nullptr, f->GetWindow());
  ASSERT_NE(nullptr, f->m_table.GetWindow());
  EXPECT_STREQ(ja ? L"Particle tracking / PTV" : L"粒子追跡/PTV", f->m_title);

  // The settings window closing takes the table with it.
  f->ShowDialog(0, nullptr);
  EXPECT_EQ(nullptr, f->m_table.GetWindow());
}

INSTANTIATE_TEST_SUITE_P(Languages, PtvWindowX11, ::testing::Values(L"jp", L"en"));

}  // namespace
