// piv_window_test.cpp - the PIV settings and the VECTOR DATA table on the scripted host:
// defaults and labels, the enable rules, filter-list keys (round trip, out of range, not a
// number), the grid plan from a loaded cell size, the table's texts by calibration and
// language, the speed columns widened to their longest vectors, cell selection and
// deletion, and the CSV the table saves.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "measure/piv.h"
#include "tests/app/testhost.h"
#include "tests/measure/piv_fixture.h"
#include "tests/temp_folder.h"

namespace {

struct Rig {
  CTestHost host;
  CLfPiv* piv = new CLfPiv;
  CScriptedDialogs dialogs;
  std::vector<CImgBuff*> frames;

  Rig(int32_t w, int32_t h, int32_t n, uint64_t intervalUs = 40000)
  {
    for (int32_t i = 0; i < n; ++i) {
      frames.push_back(new CImgBuff);
      PivRandomTexture(frames.back(), w, h, -2 * i, 0, ImgFormatGray8);
    }
    std::vector<const CImgBuff*> list(frames.begin(), frames.end());
    EXPECT_EQ(1, host.SetVideo(list, intervalUs));
    host.SetLanguage(L"en");
    host.AddFilter(piv, nullptr);
  }
  ~Rig()
  {
    for (CImgBuff* f : frames) delete f;
  }
  std::wstring Cell(uint64_t column, uint64_t row, int32_t* alignment = nullptr)
  {
    int32_t a = 0;
    double r = 0, g = 0, b = 0;
    const wchar_t* t = CLfPiv::VectorCellText(column, row, &a, &r, &g, &b, piv);
    if (alignment) *alignment = a;
    return t ? t : L"";
  }
};

TEST(PivWindow, DefaultsAndLabels)
{
  Rig rig(320, 240, 2);
  CLfPiv* p = rig.piv;
  EXPECT_EQ(std::wstring(L"PIV"), p->GetName(L"jp"));
  EXPECT_EQ(std::wstring(L"piv"), p->GetKey());
  EXPECT_EQ(32, p->CellSize());
  EXPECT_EQ(1, p->m_fast.m_checked);
  EXPECT_EQ(1, p->m_large.m_checked);
  EXPECT_EQ(std::wstring(L"grid size"), p->m_searchLabel.m_text);
  EXPECT_EQ(std::wstring(L"zoom(x3.0)"), p->m_zoomLabel.m_text);
  EXPECT_EQ(std::wstring(L"color(every 2pixel/frame)"), p->m_colorLabel.m_text);
  EXPECT_EQ(std::wstring(L"del more than 45 deg"), p->m_eraseDir.m_text);
  EXPECT_EQ(std::wstring(L"del more than 2.0 times"), p->m_eraseLen.m_text);
  EXPECT_EQ(std::wstring(L"cross correlation"), p->m_methodLabel.m_text);
  EXPECT_EQ(1, p->m_eraseDir.m_checked);
  EXPECT_EQ(1, p->m_eraseLen.m_checked);
  EXPECT_EQ(1, p->m_grid.m_checked);
  EXPECT_EQ(0, p->m_cells.m_checked);
  EXPECT_EQ(0, p->m_tab.m_currentPage);
  rig.host.SetLanguage(L"jp");
  p->UpdateLabels();
  EXPECT_EQ(std::wstring(L"±グリッド"), p->m_searchLabel.m_text);
  EXPECT_EQ(std::wstring(L"ベクトルの表示倍率(x3.0)"), p->m_zoomLabel.m_text);
  EXPECT_EQ(std::wstring(L"削除目安45度以上異なる"), p->m_eraseDir.m_text);
}

TEST(PivWindow, EnableRules)
{
  Rig rig(320, 240, 2);
  CLfPiv* p = rig.piv;
  // Cell 8 without the big pattern: no pyramid level is left, "fast processing" is off but
  // keeps its tick.
  CFgUIChkButton::SetGroupSelection(&p->m_cell8, 0, 0);
  p->m_cell8.m_callback(&p->m_cell8, p->m_cell8.m_user);
  EXPECT_EQ(1, p->m_fast.m_enabled);
  p->m_large.m_checked = 0;
  p->m_large.m_callback(&p->m_large, p->m_large.m_user);
  EXPECT_EQ(0, p->m_fast.m_enabled);
  EXPECT_EQ(1, p->m_fast.m_checked);
  p->m_large.m_checked = 1;
  p->m_large.m_callback(&p->m_large, p->m_large.m_user);
  EXPECT_EQ(1, p->m_fast.m_enabled);
  // "level" 2: the hierarchical method has no big pattern.
  CCfgPack pack;
  pack.SetName(L"piv");
  pack.AddItem(L"level", L"2");
  p->LoadParams(&pack);
  EXPECT_EQ(0, p->m_large.m_enabled);
  EXPECT_EQ(2, p->Method());
  EXPECT_EQ(std::wstring(L"hierarchical correlation"), p->m_methodLabel.m_text);
}

TEST(PivWindow, SettingsKeys)
{
  Rig rig(640, 480, 2);
  CLfPiv* p = rig.piv;
  {
    CCfgPack pack;
    pack.SetName(L"piv");
    pack.AddItem(L"cell_size", L"3");
    pack.AddItem(L"arrow_zoom", L"5");   // below the range: ignored
    pack.AddItem(L"color_bar", L"x");    // not a number: 0, below the range
    pack.AddItem(L"grid", L"0");
    pack.AddItem(L"erase_l", L"0");
    pack.AddItem(L"erase_r_val", L"90");
    pack.AddItem(L"search_size", L"2");
    pack.AddItem(L"fast_scan", L"no");   // anything but "0" ticks
    pack.AddItem(L"large_pattern", L"0");
    p->LoadParams(&pack);
  }
  EXPECT_EQ(64, p->CellSize());
  EXPECT_EQ(8, p->m_planNx);
  EXPECT_EQ(5, p->m_planNy);
  EXPECT_EQ(64, p->m_planX);
  EXPECT_EQ(80, p->m_planY);
  EXPECT_EQ(30, p->m_zoom.m_position);
  EXPECT_EQ(2, p->m_color.m_position);
  EXPECT_EQ(0, p->m_grid.m_checked);
  EXPECT_EQ(0u, p->m_field.showGrid);
  EXPECT_EQ(0, p->m_eraseLen.m_checked);
  EXPECT_EQ(1, p->m_eraseDir.m_checked);
  EXPECT_EQ(std::wstring(L"del more than 90 deg"), p->m_eraseDir.m_text);
  EXPECT_DOUBLE_EQ(M_PI / 2, p->m_field.angleLimit);
  EXPECT_EQ(std::wstring(L"grid size x 2"), p->m_searchLabel.m_text);
  EXPECT_EQ(2, p->Factor());
  EXPECT_EQ(1, p->m_fast.m_checked);
  EXPECT_EQ(0, p->m_large.m_checked);
  {
    CCfgPack pack;
    pack.SetName(L"piv");
    pack.AddItem(L"cell_size", L"x");  // not a number: 8 pixels
    p->LoadParams(&pack);
    EXPECT_EQ(8, p->CellSize());
  }
  // Round trip into a fresh tool.
  CCfgPack saved;
  saved.SetName(L"piv");
  p->SaveParams(&saved);
  const wchar_t* keys[] = {L"if_enable",  L"if_visible", L"cell_size",   L"large_pattern", L"fast_scan",
                           L"search_size", L"grid",      L"cell",        L"arrow_zoom",    L"color_bar",
                           L"erase_r",    L"erase_r_val", L"erase_l",    L"erase_l_val"};
  for (const wchar_t* k : keys) EXPECT_NE(nullptr, saved.FindItem(k)) << k;
  EXPECT_EQ(std::wstring(L"0"), saved.FindItem(L"cell_size")->value);
  EXPECT_EQ(std::wstring(L"90"), saved.FindItem(L"erase_r_val")->value);
  CLfPiv other;
  other.LoadParams(&saved);
  EXPECT_EQ(8, other.CellSize());
  EXPECT_EQ(0, other.m_grid.m_checked);
  EXPECT_EQ(0, other.m_eraseLen.m_checked);
  EXPECT_EQ(1, other.m_eraseDir.m_checked);
  EXPECT_EQ(90, other.m_dirBar.m_position);
  EXPECT_EQ(2, other.m_search.m_position);
  EXPECT_EQ(0, other.m_large.m_checked);
}

TEST(PivTable, TextsByCalibrationAndLanguage)
{
  Rig rig(32, 32, 3);
  CLfPiv* p = rig.piv;
  CFgUIChkButton::SetGroupSelection(&p->m_cell8, 0, 0);
  p->m_cell8.m_callback(&p->m_cell8, p->m_cell8.m_user);
  p->Execute();
  ASSERT_TRUE(rig.dialogs.m_shown.empty());
  ASSERT_EQ(2, p->m_field.Nx());
  ASSERT_EQ(2, p->m_field.Ny());
  EXPECT_EQ(9u, p->m_table.m_cell.m_columns);
  EXPECT_EQ(5u, p->m_table.m_cell.m_rows);
  EXPECT_EQ(std::wstring(L"pixel/s"), rig.Cell(0, 0));
  EXPECT_EQ(std::wstring(L"rad"), rig.Cell(0, 1));
  int32_t a = 0;
  EXPECT_EQ(std::wstring(L"1"), rig.Cell(0, 2, &a));
  EXPECT_EQ(1, a);
  EXPECT_EQ(std::wstring(L"2,1"), rig.Cell(3, 0));
  EXPECT_EQ(std::wstring(L""), rig.Cell(4, 0));
  EXPECT_EQ(std::wstring(L"speed"), rig.Cell(1, 1));
  EXPECT_EQ(std::wstring(L"direction"), rig.Cell(2, 1));
  for (uint64_t c = 1; c < 9; ++c) EXPECT_EQ(std::wstring(c % 2 ? L"0.0" : L"0.00"), rig.Cell(c, 2));
  // Calibration: 0.1 mm a pixel, 40 ms a frame, (10, 0) -> 1 mm a frame -> 25 mm/s.
  p->SetScale(0.1, 1, L"mm");
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  *p->m_field.GetVector(1, 1, 1) = {10, 0};
  *p->m_field.GetVector(0, 0, 1) = {0, -5};
  EXPECT_EQ(std::wstring(L"mm/s"), rig.Cell(0, 0));
  EXPECT_EQ(std::wstring(L"25.0"), rig.Cell(7, 3));
  EXPECT_EQ(std::wstring(L"0.00"), rig.Cell(8, 3));
  EXPECT_EQ(std::wstring(L"-1.57"), rig.Cell(2, 3));
  p->SetScale(0.1, -1, L"mm");  // Y pointing up: moving up the screen is +pi/2
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(std::wstring(L"1.57"), rig.Cell(2, 3));
  rig.host.SetLanguage(L"jp");
  EXPECT_EQ(std::wstring(L"速度"), rig.Cell(1, 1));
  EXPECT_EQ(std::wstring(L"方位"), rig.Cell(2, 1));
  // A 60 fps interval keeps its fraction of a millisecond.
  rig.host.m_intervalUs = 16667;
  EXPECT_EQ(std::wstring(L"60.0"), rig.Cell(7, 3));
  // No frame time (a numbered sequence): no speed to show.
  rig.host.m_intervalUs = 0;
  EXPECT_EQ(std::wstring(L"---"), rig.Cell(7, 3));
}

// A speed wider than its column widens it (from the scene of the cell's longest vector) and
// the scene column with it; the calibration changes the speeds, and the widths follow.
TEST(PivTable, SpeedColumnsWidenToTheLongestVector)
{
  Rig rig(32, 32, 3);
  CLfPiv* p = rig.piv;
  CFgUIChkButton::SetGroupSelection(&p->m_cell8, 0, 0);
  p->m_cell8.m_callback(&p->m_cell8, p->m_cell8.m_user);
  ASSERT_EQ(1, p->m_field.Create(8, 8, 8, 2, 2, 3));
  // 40 ms a frame: 1000 pixels a frame is 25000 pixels a second.
  *p->m_field.GetVector(1, 0, 1) = {600, 800};
  *p->m_field.GetVector(1, 0, 2) = {-3, 4};
  *p->m_field.GetVector(0, 1, 2) = {0, -7};
  p->SizeVectorTable();
  CFgUICell& grid = p->m_table.m_cell;
  ASSERT_EQ(9u, grid.m_columns);
  EXPECT_EQ(std::wstring(L"25000.0"), rig.Cell(3, 3));
  for (uint64_t c = 0; c < 9; ++c) EXPECT_EQ(9u, grid.m_widths[c]) << c;
  p->SetScale(1000, 1, L"mm");
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(std::wstring(L"25000000.0"), rig.Cell(3, 3));
  EXPECT_EQ(std::wstring(L"125000.0"), rig.Cell(3, 4));
  const uint64_t widths[9] = {9, 9, 9, 10, 9, 9, 9, 9, 9};
  for (uint64_t c = 0; c < 9; ++c) EXPECT_EQ(widths[c], grid.m_widths[c]) << c;
  // Sized again for the same field: the same widths.
  p->SizeVectorTable();
  for (uint64_t c = 0; c < 9; ++c) EXPECT_EQ(widths[c], grid.m_widths[c]) << c;
  p->SetScale(1, 1, L"mm");
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(9u, grid.m_widths[3]);
}

TEST(PivTable, SelectAndDeleteWithTheMouse)
{
  Rig rig(96, 96, 2);
  CLfPiv* p = rig.piv;
  CFgUIChkButton::SetGroupSelection(&p->m_cell8, 1, 0);  // 16: 4 x 4 cells at 16
  p->m_cell8.m_callback(&p->m_cell8, p->m_cell8.m_user);
  p->m_field.Create(16, 16, 16, 4, 4, 2);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) *p->m_field.GetVector(x, y, 1) = {2, 0};
  // A long corner vector passes only while the long odd one beside it lifts the mean.
  *p->m_field.GetVector(0, 0, 1) = {5, 0};
  *p->m_field.GetVector(1, 1, 1) = {0, 6};
  p->m_field.CheckFrame(1);
  EXPECT_EQ(0, p->m_field.GetFlags(0, 0, 1));
  p->SizeVectorTable();
  ASSERT_EQ(1, rig.host.SeekFrame(1));
  p->OnLButtonDown(10, 40, 0);  // left of the grid
  EXPECT_EQ(-1, p->m_field.selectedX);
  p->OnLButtonDown(80, 40, 0);  // right of the grid
  EXPECT_EQ(-1, p->m_field.selectedX);
  p->OnLButtonDown(50, 20, 0);
  EXPECT_EQ(2, p->m_field.selectedX);
  EXPECT_EQ(0, p->m_field.selectedY);
  p->OnLButtonDown(63, 31, 0);  // again: cleared
  EXPECT_EQ(-1, p->m_field.selectedX);
  p->OnRButtonDown(0, 0, 0);  // nothing selected: nothing happens
  EXPECT_EQ(5.0, p->m_field.GetVector(0, 0, 1)->dx);
  p->OnLButtonDown(40, 40, 0);
  ASSERT_EQ(1, p->m_field.selectedX);
  p->OnRButtonDown(0, 0, 0);
  EXPECT_EQ(-1, p->m_field.selectedX);
  EXPECT_EQ(0.0, p->m_field.GetVector(1, 1, 1)->dy);
  EXPECT_EQ(std::wstring(L"0.0"), rig.Cell(2 * 5 + 1, 3));
  // The corner's neighbours now average 2: 5 is a length outlier.
  EXPECT_EQ(kFlowLengthOutlier, p->m_field.GetFlags(0, 0, 1));
  EXPECT_EQ(0, p->m_field.GetFlags(1, 1, 1));
  // A zero vector is not deleted again: the selection stays.
  p->OnLButtonDown(40, 40, 0);
  p->OnRButtonDown(0, 0, 0);
  EXPECT_EQ(1, p->m_field.selectedX);
}

TEST(PivTable, CsvOfATwoByOneGrid)
{
  Rig rig(64, 64, 2);
  CLfPiv* p = rig.piv;
  p->SetScale(0.5, 1, L"mm");
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(1, p->m_field.Create(8, 8, 16, 2, 1, 2));
  *p->m_field.GetVector(0, 0, 1) = {3, 4};
  *p->m_field.GetVector(1, 0, 1) = {-1, 0};
  p->SizeVectorTable();
  qvtest::TempFolder dir("piv");
  const std::string path = dir.File("v.csv");
  const std::wstring wpath = dir.WideFile("v.csv");
  ASSERT_EQ(1, p->m_table.m_cell.SaveText(wpath.c_str()));
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  // 2.5 mm a frame at 25 frames a second; (-1, 0) points to pi.
  EXPECT_EQ(std::string("mm/s,\"1,1\",,\"2,1\",\r\n"
                        "rad,speed,direction,speed,direction\r\n"
                        "1,0.0,0.00,0.0,0.00\r\n"
                        "2,62.5,0.93,12.5,3.14\r\n"),
            s.str());
}

}  // namespace
