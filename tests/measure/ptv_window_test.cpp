// ptv_window_test.cpp - the particle tracker's settings keys, its edits read from the edit
// boxes with the ID list that follows them, and the vector grid and its cell size, on the
// scripted host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "measure/ptv.h"
#include "tests/app/testhost.h"

namespace {

struct Rig {
  CTestHost host;
  CLfPtv* ptv = new CLfPtv;
  CScriptedDialogs dialogs;

  Rig()
  {
    std::vector<CImgBuff> frames(6);
    std::vector<const CImgBuff*> list;
    for (auto& f : frames) {
      EXPECT_EQ(1, f.Allocate(256, 128, ImgFormatGray8));
      list.push_back(&f);
    }
    EXPECT_EQ(1, host.SetVideo(list, 40000));
    host.SetLanguage(L"en");
    host.AddFilter(ptv, nullptr);
  }
  // Three tracks over the 6 scenes, the ID list as a run leaves it.
  void ThreeTracks()
  {
    CParticleData& d = ptv->m_data;
    ASSERT_EQ(1, d.SetFrameCount(6));
    for (int32_t s = 0; s < 6; ++s) d.AddParticle(s, {0, 1, 40.0 + 2 * s, 40.0 - s});
    for (int32_t s = 1; s < 4; ++s) d.AddParticle(s, {1, 1, 100.0, 60.0 + s});
    for (int32_t s = 0; s < 3; ++s) d.AddParticle(s, {2, 1, 150.0, 50.0});
    ptv->RebuildIndex();
    ptv->RebuildIdList();
  }
  std::vector<std::wstring> IdList() const
  {
    std::vector<std::wstring> items;
    for (int32_t i = 0; i < ptv->m_idList.m_count; ++i) items.push_back(ptv->m_idList.m_items[i].text);
    return items;
  }
  std::wstring LastShown() const { return dialogs.m_shown.empty() ? L"" : dialogs.m_shown.back().text; }
};

void Load(CLfPtv* p, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> items)
{
  CCfgPack pack;
  pack.SetName(L"particle_tracking_/_ptv");
  for (auto& i : items) pack.AddItem(i.first, i.second);
  p->LoadParams(&pack);
}

// The track table's X and Y columns widen to the widest number of the records it shows (a
// later record of the same track in a scene is not shown and does not count); the vector
// table's speed columns to the longest vector's speed.
TEST(PtvWindow, TableColumnsWidenToTheirWidestNumber)
{
  Rig rig;
  rig.ThreeTracks();
  CLfPtv* p = rig.ptv;
  CParticleData& d = p->m_data;
  ASSERT_GE(d.AddParticle(4, {3, 1, 98765432.1, 5.0}), 0);
  ASSERT_GE(d.AddParticle(2, {0, 1, 123456789.0, 1.0}), 0);  // a second record of track 1
  d.idCount = 0;
  p->RebuildIndex();
  ASSERT_EQ(4, d.IdCount());
  p->OpenDataWindow();
  CFgUICell& cell = p->m_table.m_cell;
  ASSERT_EQ(9u, cell.m_columns);
  const uint64_t tracks[9] = {9, 9, 9, 9, 9, 9, 9, 10, 9};
  for (uint64_t c = 0; c < 9; ++c) EXPECT_EQ(tracks[c], cell.m_widths[c]) << c;

  // The vector table: 40 ms a frame, 1000 pixels a frame at 100 units a pixel.
  p->SetScale(100, 1, L"mm");
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(1, p->m_grid.Create(0, 0, 64, 2, 1, 6));
  *p->m_grid.GetVector(0, 0, 3) = {600, 800};
  p->m_page = 2;
  p->OpenDataWindow();
  ASSERT_EQ(5u, cell.m_columns);
  EXPECT_EQ(L"2500000.0", std::wstring(CLfPtv::VectorCellText(1, 5, nullptr, nullptr, nullptr, nullptr, p)));
  const uint64_t vectors[5] = {9, 9, 9, 9, 9};
  for (uint64_t c = 0; c < 5; ++c) EXPECT_EQ(vectors[c], cell.m_widths[c]) << c;
  // Ten times the scale: the speed column follows the calibration at once.
  p->SetScale(1000, 1, L"mm");
  p->Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(L"25000000.0", std::wstring(CLfPtv::VectorCellText(1, 5, nullptr, nullptr, nullptr, nullptr, p)));
  EXPECT_EQ(10u, cell.m_widths[1]);
  EXPECT_EQ(9u, cell.m_widths[2]);
}

TEST(PtvWindow, SettingsKeys)
{
  Rig rig;
  CLfPtv* p = rig.ptv;
  Load(p, {{L"cell_size", L"x"}, {L"grid", L""}, {L"line_len", L"12abc"}, {L"search_r", L"0.03"},
           {L"arrow_zoom", L"5"}, {L"disp_id", L"2"}, {L"line_all", L"1"}});
  EXPECT_EQ(8, p->m_cellSize);
  EXPECT_EQ(0, CFgUIChkButton::GetGroupSelection(&p->m_cell8));
  EXPECT_EQ(1, p->m_gridOn.m_checked);
  EXPECT_EQ(12, p->m_lineLen.m_position);
  EXPECT_DOUBLE_EQ(0.03, p->m_searchRadius);
  EXPECT_EQ(std::wstring(L"0.03"), p->m_searchEdit.GetText());
  EXPECT_EQ(30, p->m_arrowZoom.m_position);
  EXPECT_EQ(1, p->m_dispId.m_checked);  // only "0" or "1"
  EXPECT_EQ(1, p->m_lineAll.m_checked);
  Load(p, {{L"cell_size", L"7"}, {L"grid", L"2"}, {L"line_len", L"31"}, {L"search_r", L"0"}, {L"color_bar", L"32"}});
  EXPECT_EQ(8, p->m_cellSize);
  EXPECT_EQ(1, p->m_gridOn.m_checked);
  EXPECT_EQ(12, p->m_lineLen.m_position);
  EXPECT_DOUBLE_EQ(0.03, p->m_searchRadius);
  EXPECT_EQ(32, p->m_colorStep.m_position);
  Load(p, {{L"grid", L"0"}, {L"cell", L"yes"}});
  EXPECT_EQ(0, p->m_gridOn.m_checked);
  EXPECT_EQ(0u, p->m_grid.showGrid);
  EXPECT_EQ(1, p->m_cellColor.m_checked);

  CCfgPack saved;
  saved.SetName(L"particle_tracking_/_ptv");
  p->SaveParams(&saved);
  std::vector<std::wstring> keys, values;
  for (CCfgItem* i = saved.firstItem; i; i = i->next) {
    if (keys.empty() && std::wstring(i->key) != L"disp_id") continue;  // the base keys come first
    keys.push_back(i->key);
    values.push_back(i->value);
  }
  EXPECT_EQ((std::vector<std::wstring>{L"disp_id", L"line_all", L"line_len", L"search_r",
                                       L"active_scope", L"active_range", L"cell_size", L"grid", L"cell",
                                       L"arrow_zoom", L"color_bar"}),
            keys);
  EXPECT_EQ((std::vector<std::wstring>{L"1", L"1", L"12", L"0.03", L"1", L"1", L"0", L"0", L"1", L"30", L"32"}),
            values);
  // An old one-decimal value still reads.
  Load(p, {{L"search_r", L"7.5"}});
  EXPECT_DOUBLE_EQ(7.5, p->m_searchRadius);
}

TEST(PtvWindow, EditsFromTheBoxes)
{
  Rig rig;
  rig.ThreeTracks();
  CLfPtv* p = rig.ptv;
  const wchar_t* kBad = L"The input content is incorrect";
  struct Case {
    const wchar_t *id, *first, *last;
  } bad[] = {{L"0", L"1", L"2"}, {L"1", L"3", L"2"}, {L"1", L"1", L"7"}, {L"", L"1", L"2"}};
  for (const Case& c : bad) {
    p->m_eraseId.SetLine(0, c.id);
    p->m_eraseFirst.SetLine(0, c.first);
    p->m_eraseLast.SetLine(0, c.last);
    p->EraseData();
    EXPECT_EQ(kBad, rig.LastShown());
    rig.dialogs.m_shown.clear();
  }
  ParticleRecord r;
  for (int32_t s = 0; s < 6; ++s) EXPECT_EQ(1, p->m_data.GetParticle(s, 0, &r));
  p->m_eraseId.SetLine(0, L"1abc");  // the leading number counts
  p->m_eraseFirst.SetLine(0, L"2");
  p->m_eraseLast.SetLine(0, L"3");
  p->EraseData();
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  EXPECT_EQ(nullptr, p->m_index.Find(p->m_data, 1, 0));  // the index followed
  EXPECT_NE(nullptr, p->m_index.Find(p->m_data, 3, 0));

  // Split after the last scene of track 3: nothing moves, the list still grows.
  p->m_splitIdEdit.SetLine(0, L"3");
  p->m_splitScene.SetLine(0, L"6");
  p->SplitId();
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"1", L"2", L"3", L"4"}), rig.IdList());
  // Concat 1, 1 is refused; 3 and 1 joins track 1 into 3.
  p->m_concat1.SetLine(0, L"1");
  p->m_concat2.SetLine(0, L"1");
  p->ConcatIds();
  EXPECT_EQ(kBad, rig.LastShown());
  rig.dialogs.m_shown.clear();
  p->m_concat1.SetLine(0, L"3");
  p->ConcatIds();
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"1", L"2", L"3"}), rig.IdList());
  // Shown as 2 now: its own scenes 0-2, then track 1's 3-5 (1 and 2 were erased, but track
  // 3 held those).
  const ParticleRecord* q = p->m_index.Find(p->m_data, 4, 1);
  ASSERT_NE(nullptr, q);
  EXPECT_EQ(48.0, q->x);
}

TEST(PtvWindow, GridBuildAndCellSize)
{
  Rig rig;
  CLfPtv* p = rig.ptv;
  // The source change laid an empty grid for the picture.
  EXPECT_EQ(32, p->m_grid.Step());
  EXPECT_EQ(6, p->m_grid.Nx());
  EXPECT_EQ(2, p->m_grid.Ny());
  rig.ThreeTracks();
  p->BuildVectorGrid();
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  // Track 1 moves (2, -1) from (40, 40): cell (0, 0) of the grid from (32, 32).
  ASSERT_EQ(32, p->m_grid.OriginX());
  const FlowVector* v = p->m_grid.GetVector(0, 0, 1);
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(2.0, v->dx);
  EXPECT_EQ(-1.0, v->dy);
  // A new cell size keeps the tracks and empties the grid.
  p->OnCellSizeChosen(16);
  EXPECT_EQ(16, p->m_grid.Step());
  EXPECT_EQ(0.0, p->m_grid.GetVector(0, 0, 1)->dx);
  EXPECT_EQ(3, p->m_data.IdCount());
  // A grid that cannot be laid (cells too big for the picture) is a failed build.
  p->OnCellSizeChosen(64);
  p->BuildVectorGrid();
  EXPECT_EQ(L"failed", rig.LastShown());
}

TEST(PtvWindow, RadiusAndParticlePicks)
{
  Rig rig;
  rig.ThreeTracks();
  CLfPtv* p = rig.ptv;
  p->m_copyScale = 0.1;
  p->OnLButtonDown(20, 30, 0);  // the circle appears at the current radius
  EXPECT_EQ(1, p->m_pickCount);
  EXPECT_DOUBLE_EQ(5.0, p->m_searchRadius);
  p->OnLButtonDown(23, 30, 0);
  EXPECT_DOUBLE_EQ(0.30000000000000004, p->m_searchRadius);  // used as computed
  EXPECT_EQ(std::wstring(L"0.3"), p->m_searchEdit.GetText());
  p->OnLButtonDown(20, 30, 0);  // on the centre: R stays
  EXPECT_DOUBLE_EQ(0.30000000000000004, p->m_searchRadius);
  p->OnLButtonDown(20, 34, 0);  // still around the same centre
  EXPECT_DOUBLE_EQ(0.4, p->m_searchRadius);
  p->OnRButtonDown(0, 0, 0);
  EXPECT_EQ(0, p->m_pickCount);
  p->OnRButtonDown(0, 0, 0);
  EXPECT_EQ(0, p->m_pickCount);

  // The edit page: the nearest particle of the current scene.
  p->OnPageChanged(1, 0);
  ASSERT_EQ(1, rig.host.SeekFrame(2));
  p->OnLButtonDown(101, 61, 0);  // track 2 (id 1), scenes 2 to 4
  EXPECT_EQ(std::wstring(L"2"), p->m_eraseId.GetText());
  EXPECT_EQ(std::wstring(L"2"), p->m_splitIdEdit.GetText());
  EXPECT_EQ(std::wstring(L"2"), p->m_concat1.GetText());
  EXPECT_EQ(std::wstring(L"2"), p->m_eraseFirst.GetText());
  EXPECT_EQ(std::wstring(L"4"), p->m_eraseLast.GetText());
  EXPECT_EQ(std::wstring(L"3"), p->m_splitScene.GetText());
  p->OnLButtonDown(149, 50, 16);  // Shift: only ID2
  EXPECT_EQ(std::wstring(L"3"), p->m_concat2.GetText());
  EXPECT_EQ(std::wstring(L"2"), p->m_concat1.GetText());
  // The ptv page: nothing but a redraw.
  p->OnPageChanged(2, 1);
  p->m_filterEnabled = 1;
  const uint64_t before = rig.host.m_redrawCount.load();
  p->OnLButtonDown(40, 40, 0);
  EXPECT_GT(rig.host.m_redrawCount.load(), before);
  EXPECT_EQ(std::wstring(L"2"), p->m_eraseId.GetText());
  p->m_filterEnabled = 0;
}

TEST(PtvWindow, IdListAndEnableRules)
{
  Rig rig;
  rig.ThreeTracks();
  CLfPtv* p = rig.ptv;
  auto checked = [&] {
    std::vector<int32_t> on;
    for (int32_t i = 0; i < p->m_idList.m_count; ++i)
      if (p->m_idList.m_items[i].flag) on.push_back(i);
    return on;
  };
  EXPECT_EQ((std::vector<int32_t>{0}), checked());
  p->m_idList.SetChecked(3, 1);  // the list ticks the clicked item, then reports it
  p->OnIdListClick(3);
  EXPECT_EQ((std::vector<int32_t>{3}), checked());
  p->OnIdListClick(0);
  EXPECT_EQ((std::vector<int32_t>{0}), checked());

  EXPECT_EQ(1, p->m_lineLen.m_enabled);
  p->m_lineAll.m_checked = 1;
  p->m_lineAll.m_callback(&p->m_lineAll, p->m_lineAll.m_user);
  EXPECT_EQ(0, p->m_lineLen.m_enabled);
  EXPECT_EQ(1, p->m_idList.m_enabled);
  p->OnPageChanged(2, 0);
  EXPECT_EQ(0, p->m_idList.m_enabled);
  EXPECT_EQ(0, p->m_load.m_enabled);
  EXPECT_EQ(0, p->m_save.m_enabled);
  EXPECT_EQ(0, p->m_dispId.m_enabled);
  EXPECT_EQ(1, p->m_gridOn.m_enabled);
  EXPECT_EQ(1, p->m_searchEdit.m_enabled);
  p->OnPageChanged(0, 2);
  EXPECT_EQ(1, p->m_load.m_enabled);
}

}  // namespace
