// track2d_test.cpp - the 2D tracking window on the scripted host without a display: name,
// key and window, the settings keys (order, defaults, refused values, the run options that
// follow them), the enable rules in every run state, the source change, the "TRACK DATA"
// texts and CSV, the colour panel's preview inside the selected box, and OPTION.
#include "measure/track2d.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

#include "app/cfgfile.h"
#include "platform/window.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Rig {
  CTestHost host;
  CLfTrack2d* f = new CLfTrack2d;
  explicit Rig(const wchar_t* language = L"en")
  {
    (void)g_headless;
    host.SetLanguage(language);
    host.AddFilter(f, nullptr);
  }
};

std::vector<std::pair<std::wstring, std::wstring>> Items(const CCfgPack& pack)
{
  std::vector<std::pair<std::wstring, std::wstring>> items;
  for (CCfgItem* i = pack.firstItem; i; i = i->next) items.emplace_back(i->key, i->value);
  return items;
}

TEST(Track2dWindow, NameKeyAndWindow)
{
  Rig rig(L"jp");
  EXPECT_STREQ(L"2D追跡", rig.f->GetName(L"jp"));
  EXPECT_STREQ(L"2D tracking", rig.f->GetName(L"en"));
  EXPECT_STREQ(L"2d_tracking", rig.f->GetKey());
  EXPECT_EQ(10021u, CLfTrack2d::kFilterId);
  ASSERT_NE(nullptr, rig.f->GetWindow());
  EXPECT_EQ(390u, rig.f->m_clientWidth);
  EXPECT_EQ(292u, rig.f->m_clientHeight);
  EXPECT_STREQ(L"2D追跡", rig.f->m_title);
  EXPECT_EQ(CLfTrack2d::kPageRegist, rig.f->CurrentPage());
  EXPECT_EQ(1, rig.f->m_panel.m_hueBar.m_visible);
  EXPECT_EQ(0, rig.f->m_stepButton.m_visible);
  EXPECT_STREQ(L"登録", rig.f->m_tab.m_pages[0].title);
  EXPECT_STREQ(L"オプション", rig.f->m_panel.m_option.m_text);
  // The ID list: "ALL" alone, selected.
  ASSERT_EQ(1, rig.f->m_idList.m_count);
  EXPECT_STREQ(L"ALL", rig.f->m_idList.m_items[0].text);
  EXPECT_EQ(1, rig.f->m_idList.m_items[0].flag);
  // Places from the table: tab, buttons on the track page, the bottom row.
  EXPECT_EQ(8, rig.f->m_tab.m_x);
  EXPECT_EQ(110, rig.f->m_tab.m_y);
  int32_t x0, y0, x1, y1;
  rig.f->m_tab.GetPageRect(&x0, &y0, &x1, &y1);
  EXPECT_EQ(x0 + 244, rig.f->m_autoButton.m_x);
  EXPECT_EQ(y0 + 56, rig.f->m_autoButton.m_y);
  EXPECT_EQ(x0 + 296, rig.f->m_delId.m_x);
  EXPECT_EQ(y1 + 8, rig.f->m_saveButton.m_y);
  EXPECT_EQ(317, rig.f->m_saveButton.m_x);
  EXPECT_LE(rig.f->m_saveButton.m_y + rig.f->m_saveButton.m_height, 292);
  // Another page hides the panel and ends its picking.
  rig.f->m_panel.m_setBox.m_checked = 1;
  rig.f->m_tab.SelectPage(CLfTrack2d::kPageTrack, 0);
  rig.f->m_tab.m_callback(&rig.f->m_tab, rig.f->m_tab.m_user, CLfTrack2d::kPageTrack, 0);
  EXPECT_EQ(0, rig.f->m_panel.m_hueBar.m_visible);
  EXPECT_EQ(0, rig.f->m_panel.Picking());
  EXPECT_EQ(1, rig.f->m_stepButton.m_visible);
  // A language change lays the window out again on the "regist" page.
  rig.host.SetLanguage(L"en");
  EXPECT_STREQ(L"2D tracking", rig.f->m_title);
  EXPECT_STREQ(L"regist", rig.f->m_tab.m_pages[0].title);
  EXPECT_STREQ(L"AUTO TRACK", rig.f->m_autoButton.m_text);
  EXPECT_EQ(CLfTrack2d::kPageRegist, rig.f->CurrentPage());
  EXPECT_EQ(1, rig.f->m_panel.m_hueBar.m_visible);
}

TEST(Track2dWindow, SettingsKeysInOrderWithDefaults)
{
  Rig rig;
  CCfgPack pack;
  rig.f->SaveParams(&pack);
  const std::vector<std::pair<std::wstring, std::wstring>> want = {
      {L"if_enable", L"1"},     {L"if_visible", L"1"},    {L"disp_id", L"1"},        {L"line_all", L"0"},
      {L"line_len", L"10"},     {L"active_scope", L"1"},  {L"revers", L"0"},         {L"track_order", L"0"},
      {L"connect", L"8"},       {L"multi_select", L"1"},  {L"noise_auto", L"1"},     {L"noise_enable_l", L"0"},
      {L"noise_enable_h", L"0"}, {L"noise_l", L"10"},     {L"noise_h", L"1000"},     {L"window_cut", L"0"},
      {L"holl_fill", L"1"},     {L"preview", L"1"}};
  EXPECT_EQ(want, Items(pack));
}

TEST(Track2dWindow, SettingsReadBackAndRefused)
{
  Rig rig;
  struct {
    const wchar_t *key, *value;
  } given[] = {{L"line_len", L"31"},   {L"track_order", L"3"},   {L"connect", L"6"},      {L"multi_select", L"3"},
               {L"noise_l", L"0"},     {L"noise_h", L"2147483648"}, {L"disp_id", L"2"},   {L"revers", L"yes"}};
  CCfgPack bad;
  for (const auto& g : given) bad.AddItem(g.key, g.value);
  rig.f->LoadParams(&bad);
  CCfgPack out;
  rig.f->SaveParams(&out);
  CCfgPack defaults;
  CLfTrack2d fresh;
  fresh.m_filterEnabled = 1;
  fresh.m_dialogVisible = 1;
  fresh.SaveParams(&defaults);
  EXPECT_EQ(Items(defaults), Items(out));

  CCfgPack good;
  struct {
    const wchar_t *key, *value;
  } set[] = {{L"disp_id", L"0"},       {L"line_all", L"1"},       {L"line_len", L"30"},   {L"active_scope", L"0"},
             {L"revers", L"1"},        {L"track_order", L"2"},    {L"connect", L"4"},     {L"multi_select", L"0"},
             {L"noise_auto", L"0"},    {L"noise_enable_l", L"1"}, {L"noise_enable_h", L"1"}, {L"noise_l", L"5"},
             {L"noise_h", L"2147483647"}, {L"window_cut", L"1"},  {L"holl_fill", L"0"},   {L"preview", L"0"}};
  for (const auto& s : set) good.AddItem(s.key, s.value);
  rig.f->LoadParams(&good);
  EXPECT_EQ(-1, rig.f->m_step);  // "revers" restored: the next run goes backwards
  EXPECT_EQ(2, rig.f->m_order);
  EXPECT_EQ(0, rig.f->m_predict);
  EXPECT_EQ(4, rig.f->binary.connect);
  EXPECT_EQ(2147483647, rig.f->binary.noiseH);
  EXPECT_EQ(0, rig.f->m_lineBar.m_enabled);  // "all scene" on
  CCfgPack back;
  rig.f->SaveParams(&back);
  auto items = Items(back);
  items.erase(items.begin(), items.begin() + 2);
  std::vector<std::pair<std::wstring, std::wstring>> want;
  for (const auto& s : set) want.emplace_back(s.key, s.value);
  EXPECT_EQ(want, items);
}

TEST(Track2dWindow, EnableRulesByRunState)
{
  Rig rig;
  CLfTrack2d& f = *rig.f;
  const struct {
    const char* state;
    uint32_t running, waiting, manual;
    int32_t idle, autoOn, manualOn, skip, lost;
  } cases[] = {
      {"idle", 0, 0, 0, 1, 1, 1, 0, 0},
      {"automatic run", 1, 0, 0, 0, 1, 0, 0, 0},
      {"automatic run waits", 1, 1, 0, 0, 1, 0, 1, 1},
      {"manual run", 1, 0, 1, 0, 0, 1, 1, 1},
      {"manual run waits", 1, 1, 1, 0, 0, 1, 1, 1},
      {"step waits", 0, 1, 0, 0, 0, 0, 1, 0},
  };
  for (const auto& k : cases) {
    f.m_running = k.running;
    f.m_waiting = k.waiting;
    f.m_manualRun = k.manual;
    f.RefreshDialog();
    for (CFgUIObj* c : std::vector<CFgUIObj*>{&f.m_group, &f.m_dispId, &f.m_lineAll, &f.m_idList, &f.m_tab,
                                              &f.m_predictBox, &f.m_reversBox, &f.m_orderRadio[2], &f.m_stepButton,
                                              &f.m_dataButton, &f.m_loadButton, &f.m_saveButton, &f.m_lineBar,
                                              &f.m_lineLabel})
      EXPECT_EQ(k.idle, c->m_enabled) << k.state;
    EXPECT_EQ(k.autoOn, f.m_autoButton.m_enabled) << k.state;
    EXPECT_EQ(k.manualOn, f.m_manualButton.m_enabled) << k.state;
    EXPECT_EQ(k.skip, f.m_skipButton.m_enabled) << k.state;
    EXPECT_EQ(k.skip, f.m_noDataButton.m_enabled) << k.state;
    EXPECT_EQ(k.lost, f.m_lostButton.m_enabled) << k.state;
  }
  f.m_running = f.m_waiting = f.m_manualRun = 0;
  // "line length" follows "all scene" even with no run.
  f.m_lineAll.m_checked = 1;
  f.m_lineAll.m_callback(&f.m_lineAll, f.m_lineAll.m_user);
  EXPECT_EQ(0, f.m_lineBar.m_enabled);
  EXPECT_EQ(0, f.m_lineLabel.m_enabled);
  EXPECT_EQ(1, f.m_dispId.m_enabled);
  f.m_lineAll.m_checked = 0;
  f.RefreshDialog();
  EXPECT_EQ(1, f.m_lineBar.m_enabled);
  // During a run the window can be neither closed nor disabled.
  f.m_running = 1;
  EXPECT_EQ(0, f.OnClose());
  EXPECT_EQ(1u, f.m_dialogVisible);
  f.EnableDialog(0);
  EXPECT_EQ(1, f.CFgUICtrl::m_enabled);
  f.m_running = 0;
}

// A 40 x 30 gray picture with a red block at (10, 8) to (17, 15).
void Picture(CImgBuff& pic)
{
  ASSERT_EQ(1, pic.Allocate(40, 30, ImgFormatRgb24));
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) pic.SetRGB8(x, y, 100, 100, 100);
  for (int32_t y = 8; y <= 15; ++y)
    for (int32_t x = 10; x <= 17; ++x) pic.SetRGB8(x, y, 255, 0, 0);
}

CTrackHSV* AddColourTarget(CLfTrack2d* f, int32_t x, int32_t y, int32_t w, int32_t h)
{
  auto* t = static_cast<CTrackHSV*>(f->m_panel.CreateTrack());
  t->x = x;
  t->y = y;
  t->w = w;
  t->h = h;
  EXPECT_GE(f->AddTrack(t), 0);
  return t;
}

TEST(Track2dWindow, SourceChangeRemovesEveryTargetAndSizesTheTable)
{
  Rig rig;
  CImgBuff pic;
  Picture(pic);
  rig.host.SetStill(pic);
  AddColourTarget(rig.f, 0, 0, 5, 5);
  AddColourTarget(rig.f, 3, 3, 5, 5);
  rig.f->m_idList.InsertItem(-1, L"1", 0, 0);
  rig.f->m_selected = 1;
  ASSERT_EQ(2, rig.f->trackCount);
  rig.f->OnSourceChanged(640, 480, 3, 57);
  EXPECT_EQ(0, rig.f->trackCount);
  EXPECT_EQ(0u, rig.f->table.header.ids);
  EXPECT_EQ(57u, rig.f->table.header.scenes);
  EXPECT_EQ(-1, rig.f->m_selected);
  ASSERT_EQ(1, rig.f->m_idList.m_count);
  EXPECT_STREQ(L"ALL", rig.f->m_idList.m_items[0].text);
  EXPECT_EQ(1, rig.f->m_idList.m_items[0].flag);
  EXPECT_EQ(480u, rig.f->m_sourceHeightCopy);
}

TEST(Track2dWindow, TrackDataTextsAndCsv)
{
  qvtest::TempFolder dir("track2d_csv");
  ASSERT_TRUE(dir.ok());
  Rig rig;
  CImgBuff pic;
  Picture(pic);
  rig.host.SetStill(pic);
  rig.host.SetScale(0.5, 1, L"mm");
  AddColourTarget(rig.f, 0, 0, 5, 5);
  ASSERT_EQ(1, rig.host.Reprocess(0));  // Process copies the calibration
  ASSERT_EQ(1, rig.f->table.SetPoint(0, 0, {10.0, 20.0}));
  EXPECT_EQ(0.5, rig.f->table.calibration.lengthPerPixel);
  EXPECT_STREQ("mm", rig.f->table.calibration.unit);
  rig.f->OpenTrackData();
  ASSERT_NE(nullptr, rig.f->m_table.GetWindow());
  EXPECT_STREQ(L"TRACK DATA", rig.f->m_table.m_title);
  EXPECT_EQ(300u, rig.f->m_table.m_clientWidth);
  EXPECT_EQ(3u, rig.f->m_table.m_cell.m_columns);
  EXPECT_EQ(3u, rig.f->m_table.m_cell.m_rows);
  EXPECT_EQ(2u, rig.f->m_table.m_cell.m_fixedRows);
  ASSERT_EQ(1, rig.f->m_table.m_cell.SaveText(dir.WideFile("t.csv").c_str()));
  EXPECT_EQ("mm,1,\r\n,X,Y\r\n1,5.0,10.0\r\n", qvtest::ReadWholeFile(dir.File("t.csv")));
  int32_t align = 5;
  CLfTrack2d::TrackCellText(0, 2, &align, nullptr, nullptr, nullptr, rig.f);
  EXPECT_GT(align, 0);  // scene numbers right-aligned, the rest centred
  CLfTrack2d::TrackCellText(1, 2, &align, nullptr, nullptr, nullptr, rig.f);
  EXPECT_EQ(0, align);

  // Y upwards with a source of 480 rows; an empty unit reads "pixel".
  rig.f->OnSourceChanged(640, 480, 3, 1);
  AddColourTarget(rig.f, 0, 0, 5, 5);
  rig.f->table.SetPoint(0, 0, {10.0, 20.0});
  rig.host.SetScale(0.5, -1, L"");
  ASSERT_EQ(1, rig.host.Reprocess(0));
  EXPECT_STREQ(L"229.5", CLfTrack2d::TrackCellText(2, 2, nullptr, nullptr, nullptr, nullptr, rig.f));
  EXPECT_STREQ(L"pixel", CLfTrack2d::TrackCellText(0, 0, nullptr, nullptr, nullptr, nullptr, rig.f));
  // Outside the table, or a point that does not count: empty.
  EXPECT_STREQ(L"", CLfTrack2d::TrackCellText(3, 2, nullptr, nullptr, nullptr, nullptr, rig.f));
  EXPECT_STREQ(L"", CLfTrack2d::TrackCellText(1, 3, nullptr, nullptr, nullptr, nullptr, rig.f));
  rig.f->table.SetPoint(0, 0, P2dNoPoint);
  EXPECT_STREQ(L"", CLfTrack2d::TrackCellText(1, 2, nullptr, nullptr, nullptr, nullptr, rig.f));
  // A refused calibration keeps the table's, while the texts follow the copy.
  rig.host.SetScale(0.0, 1, L"cm");
  ASSERT_EQ(1, rig.host.Reprocess(0));
  EXPECT_EQ(0.5, rig.f->table.calibration.lengthPerPixel);
  EXPECT_STREQ(L"cm", CLfTrack2d::TrackCellText(0, 0, nullptr, nullptr, nullptr, nullptr, rig.f));

  // The table window follows the language: retitled, and back at its place after the
  // settings window was laid out again.
  rig.f->m_table.ShowWindow(1);
  const int32_t tx = rig.f->m_table.m_x, ty = rig.f->m_table.m_y;
  rig.host.SetLanguage(L"jp");
  ASSERT_NE(nullptr, rig.f->m_table.GetWindow());
  EXPECT_STREQ(L"追跡データ", rig.f->m_table.m_title);
  EXPECT_EQ(tx, rig.f->m_table.m_x);
  EXPECT_EQ(ty, rig.f->m_table.m_y);
  EXPECT_EQ(0u, rig.f->m_table.m_english);
  // Closing the settings window closes the table.
  rig.f->ShowDialog(0, nullptr);
  EXPECT_EQ(nullptr, rig.f->m_table.GetWindow());
}

// A coordinate wider than its column widens it, whichever scene holds it; the calibration
// and the direction of y change the coordinates shown, and the widths follow.
TEST(Track2dWindow, TrackDataColumnsWidenToTheirWidestNumber)
{
  Rig rig;
  CImgBuff frames[3];
  for (CImgBuff& f : frames) Picture(f);
  ASSERT_EQ(1, rig.host.SetVideo({&frames[0], &frames[1], &frames[2]}, 40000));
  AddColourTarget(rig.f, 0, 0, 5, 5);
  AddColourTarget(rig.f, 3, 3, 5, 5);
  CP2dData& t = rig.f->table;
  ASSERT_EQ(2u, t.header.ids);
  ASSERT_EQ(3u, t.header.scenes);
  ASSERT_EQ(1, t.SetPoint(0, 0, {10.0, 20.0}));
  ASSERT_EQ(1, t.SetPoint(0, 1, {12345678.5, 20.0}));
  ASSERT_EQ(1, t.SetPoint(0, 2, {0.5, 21.0}));
  ASSERT_EQ(1, t.SetPoint(1, 0, {7.0, 3.0}));
  ASSERT_EQ(1, t.SetPoint(1, 2, {7.0, 9876543.25}));
  rig.f->OpenTrackData();
  CFgUICell& cell = rig.f->m_table.m_cell;
  ASSERT_EQ(5u, cell.m_columns);
  auto text = [&](uint64_t c, uint64_t r) {
    return std::wstring(CLfTrack2d::TrackCellText(c, r, nullptr, nullptr, nullptr, nullptr, rig.f));
  };
  EXPECT_EQ(L"12345678.5", text(1, 3));
  EXPECT_EQ(L"9876543.2", text(4, 4));
  const uint64_t wide[5] = {9, 10, 9, 9, 9};
  for (uint64_t c = 0; c < 5; ++c) EXPECT_EQ(wide[c], cell.m_widths[c]) << c;
  // A thousandth of a unit per pixel: every number fits the width again.
  rig.f->CopyCalibration(0.001, 1, L"m");
  for (uint64_t c = 0; c < 5; ++c) EXPECT_EQ(9u, cell.m_widths[c]) << c;
  // Y counted up from the bottom row: the far point is now the most negative.
  rig.f->CopyCalibration(1, -1, L"");
  EXPECT_EQ(L"-9876514.2", text(4, 4));
  const uint64_t flipped[5] = {9, 10, 9, 9, 10};
  for (uint64_t c = 0; c < 5; ++c) EXPECT_EQ(flipped[c], cell.m_widths[c]) << c;
  rig.f->RefreshTrackData();
  for (uint64_t c = 0; c < 5; ++c) EXPECT_EQ(flipped[c], cell.m_widths[c]) << c;
}

TEST(Track2dWindow, EmptyTableGivesAnEmptyGrid)
{
  Rig rig;
  rig.f->OpenTrackData();
  ASSERT_NE(nullptr, rig.f->m_table.GetWindow());
  EXPECT_EQ(0u, rig.f->m_table.m_cell.m_columns);
}

TEST(Track2dWindow, PreviewOnTheRegistPageInsideTheSelectedBoxOnly)
{
  Rig rig;
  CImgBuff pic;
  Picture(pic);
  rig.host.SetStill(pic);
  ColourWindow red;
  red.hue = 0;
  red.halfWidth = 2000;
  red.satLow = 30000;
  red.valLow = 30000;
  CTrackHSV* t = AddColourTarget(rig.f, 6, 4, 16, 16);
  t->SetWindow(red);
  ASSERT_EQ(1, rig.host.Reprocess(0));
  EXPECT_EQ(0, memcmp(pic.Pixels(), rig.host.m_display.Pixels(), 40 * 30 * 3));  // nothing selected
  rig.f->m_selected = 0;
  CTrack* plain = new CTrack;
  EXPECT_EQ(1, rig.f->AddTrack(plain));
  // The panel holds the selected target's window once the page is shown again.
  rig.f->m_tab.m_callback(&rig.f->m_tab, rig.f->m_tab.m_user, CLfTrack2d::kPageRegist, 0);
  EXPECT_EQ(2000, rig.f->m_panel.GetWindow().halfWidth);
  ASSERT_EQ(1, rig.host.Reprocess(0));
  const CImgBuff& out = rig.host.m_display;
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      uint8_t r, g, b, r0, g0, b0;
      out.GetRGB8(x, y, &r, &g, &b);
      pic.GetRGB8(x, y, &r0, &g0, &b0);
      const bool inBox = x >= 6 && x <= 21 && y >= 4 && y <= 19;
      const bool object = x >= 10 && x <= 17 && y >= 8 && y <= 15;
      if (inBox && !object) {
        EXPECT_NE(r0, r) << x << "," << y;  // tinted
      } else {
        EXPECT_EQ(r0, r) << x << "," << y;
        EXPECT_EQ(g0, g);
      }
    }
  // A plain box draws nothing; the tracker's connectivity follows the chain.
  rig.f->m_selected = 1;
  rig.host.m_connectivity = 4;
  ASSERT_EQ(1, rig.host.Reprocess(0));
  EXPECT_EQ(0, memcmp(pic.Pixels(), rig.host.m_display.Pixels(), 40 * 30 * 3));
  EXPECT_EQ(4, rig.f->binary.connect);
  // A bar moved with a colour target selected gives it the panel's window.
  rig.f->m_selected = 0;
  rig.f->m_panel.m_widthBar.MoveTo(100);
  EXPECT_EQ(100, t->GetWindow().halfWidth);
}

TEST(Track2dWindow, OptionOpensTheBinarySettingsOverTheWindow)
{
  Rig rig;
  CImgBuff pic;
  Picture(pic);
  rig.host.SetStill(pic);
  rig.f->m_panel.m_option.m_callback(&rig.f->m_panel.m_option, rig.f->m_panel.m_option.m_user);
  CTrack2ValOptUI& d = rig.f->m_options;
  ASSERT_NE(nullptr, d.GetWindow());
  EXPECT_STREQ(L"Binary tracking settings", d.m_title);
  EXPECT_EQ(rig.f->m_x + (390 - 232) / 2, d.m_x);
  EXPECT_EQ(rig.f->m_y + (292 - 262) / 2, d.m_y);
  EXPECT_EQ(&rig.f->binary, d.m_settings);
  const uint64_t before = rig.host.m_processedCount;
  d.m_preview.m_checked = 0;
  d.Apply();
  EXPECT_EQ(0, rig.f->binary.preview);
  EXPECT_GT(rig.host.m_processedCount.load(), before);  // the frame again, with the new settings
  rig.host.SetLanguage(L"jp");
  EXPECT_STREQ(L"2値化追跡設定", d.m_title);
  EXPECT_STREQ(L"設定", d.m_set.m_text);
  // Closing the tool's window closes the settings too.
  rig.f->ShowDialog(0, nullptr);
  EXPECT_EQ(nullptr, d.GetWindow());
}

}  // namespace
