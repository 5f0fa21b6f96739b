// ameasure_test.cpp - automatic measurement on the test host without a display: the table of
// a binary frame (sizes, headers, the 24 texts of a known square), the island option, the
// current cell across frames, CSV bytes in both languages, the record fallback when memory
// is short, settings, and frames processed while the UI thread saves.
#include "measure/ameasure.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "platform/window.h"
#include "toolkit/font.h"
#include "toolkit/screen.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

using filtertest::PackLines;

// A black 8-bit picture with white rectangles {x0, y0, x1, y1} (inclusive).
struct Box {
  int32_t x0, y0, x1, y1;
};
using Picture = std::unique_ptr<CImgBuff>;
Picture Binary(int32_t w, int32_t h, const std::vector<Box>& boxes, uint8_t value = 255) {
  Picture img = std::make_unique<CImgBuff>();
  EXPECT_EQ(1, img->Allocate(w, h, ImgFormatGray8));
  auto* p = static_cast<uint8_t*>(img->Pixels());
  for (const Box& b : boxes)
    for (int32_t y = b.y0; y <= b.y1; ++y)
      for (int32_t x = b.x0; x <= b.x1; ++x) p[y * w + x] = value;
  return img;
}

// A ring (7 x 7 square less its 5 x 5 inside) at (x, y) with a dot in the middle of the hole.
Picture RingWithDot() {
  Picture img = Binary(20, 20, {{4, 4, 10, 10}});
  auto* p = static_cast<uint8_t*>(img->Pixels());
  for (int32_t y = 5; y <= 9; ++y)
    for (int32_t x = 5; x <= 9; ++x) p[y * 20 + x] = 0;
  p[7 * 20 + 7] = 255;
  return img;
}

std::wstring Cell(CLfAmeasure* f, uint64_t c, uint64_t r, int32_t* align = nullptr) {
  int32_t a = 0;
  double red = 0, green = 0, blue = 0;
  const wchar_t* s = CLfAmeasure::ResultCellText(c, r, &a, &red, &green, &blue, f);
  if (align) *align = a;
  return s ? s : L"";
}

// A host with black background and one auto measurement filter on a still.
struct Rig {
  CTestHost host;
  CLfAmeasure* f = new CLfAmeasure;
  explicit Rig(const CImgBuff& picture, const wchar_t* language = L"en") {
    host.m_background = 0;
    host.SetLanguage(language);
    host.SetStill(picture);
    EXPECT_EQ(1, host.AddFilter(f, nullptr));
  }
  void Run(const CImgBuff& picture) {
    host.SetStill(picture);
    host.RequestProcess(0);
  }
};

std::wstring Wide(const std::string& s) { return qvtest::Utf8Wide(s); }

TEST(AutoMeasure, NameKeyMenusAndSettings) {
  (void)g_headless;
  CLfAmeasure f;
  EXPECT_STREQ(L"Auto measurement", f.GetName(L"en"));
  EXPECT_STREQ(L"自動計測", f.GetName(L"jp"));
  EXPECT_STREQ(L"auto_measurement", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  EXPECT_EQ(12u, AmeasureNameColumnWidth(0));
  EXPECT_EQ(26u, AmeasureNameColumnWidth(1));
  ASSERT_EQ(2, f.m_menuBar.m_menuCount);
  EXPECT_STREQ(L"ファイル", f.m_menuBar.m_menus[0].title);
  EXPECT_STREQ(L"CSV保存\t101\n", f.m_menuBar.m_menus[0].text);
  EXPECT_STREQ(L"オプション", f.m_menuBar.m_menus[1].title);
  EXPECT_STREQ(L"✓島処理\t201\n", CLfAmeasure::IslandMenuLabel(&f));
  f.OnLanguageChanged(L"en");
  EXPECT_STREQ(L"File", f.m_menuBar.m_menus[0].title);
  EXPECT_STREQ(L"Save CSV\t101\n", f.m_menuBar.m_menus[0].text);
  EXPECT_STREQ(L"Option", f.m_menuBar.m_menus[1].title);
  EXPECT_STREQ(L"*Island\t201\n", CLfAmeasure::IslandMenuLabel(&f));
  CLfAmeasure::OnMenu(&f.m_menuBar, &f, 1, CLfAmeasure::kIsland);  // no host: only the flag
  EXPECT_STREQ(L" Island\t201\n", CLfAmeasure::IslandMenuLabel(&f));
  f.OnLanguageChanged(L"jp");
  EXPECT_STREQ(L"　島処理\t201\n", CLfAmeasure::IslandMenuLabel(&f));

  CCfgPack pack;
  pack.SetName(L"auto_measurement");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"island 0"}),
            PackLines(&pack));
  // Only "0" and "1" change the flag.
  const struct {
    const wchar_t* value;
    uint32_t expected;
  } cases[] = {{L"1", 1}, {L"2", 1}, {L"0", 0}, {L"", 0}, {L"01", 0}, {L"1", 1}, {L"yes", 1}};
  for (const auto& k : cases) {
    CCfgPack p;
    p.SetName(L"auto_measurement");
    p.AddItem(L"island", k.value);
    f.LoadParams(&p);
    EXPECT_EQ(k.expected, f.m_island.load()) << k.value;
  }
}

TEST(AutoMeasure, WindowKeepsItsPlaceAndSize) {
  CFgUIDialog owner;
  ASSERT_EQ(1, owner.Create(100, 100, 500, 400, L"owner", FgStyleDialog, nullptr));
  CTestHost host;
  host.m_parentScreen = &owner;
  host.SetLanguage(L"en");
  auto* f = new CLfAmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(300u, f->m_clientWidth);
  EXPECT_EQ(200u, f->m_clientHeight);
  EXPECT_EQ(FgStyleResizable, f->m_style);
  // The user makes it bigger and moves it (as the window system reports them).
  f->m_clientWidth = 420;
  f->m_clientHeight = 260;
  f->OnSize(420, 260);
  const int32_t fs = f->m_font ? int32_t(f->m_font->Size()) : 14;
  EXPECT_EQ(fs + 8, f->m_grid.m_y);
  EXPECT_EQ(420, f->m_grid.m_width);
  EXPECT_EQ(260 - fs - 8, f->m_grid.m_height);
  f->m_x = 40;
  f->m_y = 50;
  EXPECT_EQ(0, f->OnClose());
  EXPECT_EQ(nullptr, f->GetWindow());
  EXPECT_EQ(1u, host.m_dialogClosedCount.load());
  f->m_dialogVisible = 1;
  f->ShowDialog(1, &owner);
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(420u, f->m_clientWidth);
  EXPECT_EQ(260u, f->m_clientHeight);
  EXPECT_EQ(40, f->m_x);
  EXPECT_EQ(50, f->m_y);
  host.SetLanguage(L"jp");
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(420u, f->m_clientWidth);
  EXPECT_EQ(40, f->m_x);
  EXPECT_STREQ(L"自動計測", f->m_title);
  // Another filter object opens centred at 300 x 200: the place is not the class's.
  auto* g = new CLfAmeasure;
  ASSERT_EQ(1, host.AddFilter(g, nullptr));
  EXPECT_EQ(300u, g->m_clientWidth);
  EXPECT_NE(40, g->m_x);
  owner.Destroy();
}

TEST(AutoMeasure, TableOfThreeIslandsAndTheTextsOfASquare) {
  // The square at x 10-12, y 20-22 is found second (raster order of first pixels).
  Rig rig(*Binary(40, 40, {{30, 2, 31, 3}, {10, 20, 12, 22}, {2, 30, 8, 31}}));
  rig.host.RequestProcess(0);
  CLfAmeasure* f = rig.f;
  ASSERT_EQ(3u, f->m_recordCount);
  EXPECT_EQ(4u, f->m_grid.m_columns);
  EXPECT_EQ(25u, f->m_grid.m_rows);
  EXPECT_EQ(1u, f->m_grid.m_fixedColumns);
  EXPECT_EQ(1u, f->m_grid.m_fixedRows);
  EXPECT_EQ(26u, f->m_grid.m_widths[0]);
  EXPECT_EQ(9u, f->m_grid.m_widths[1]);
  int32_t align = 5;
  EXPECT_EQ(L"", Cell(f, 0, 0, &align));  // no unit
  EXPECT_EQ(-1, align);
  EXPECT_EQ(L"ID1", Cell(f, 1, 0, &align));
  EXPECT_EQ(0, align);
  EXPECT_EQ(L"ID2", Cell(f, 2, 0));
  EXPECT_EQ(L"ID3", Cell(f, 3, 0));
  EXPECT_EQ(L"", Cell(f, 4, 0));
  EXPECT_EQ(L"center of contour x", Cell(f, 0, 1, &align));
  EXPECT_EQ(-1, align);
  EXPECT_EQ(L"inclination of major axis", Cell(f, 0, 24));
  const wchar_t* square[24] = {L"11.000", L"21.000", L"11.000", L"21.000", L"9.000",
                               L"0",      L"0.000",  L"9.000",  L"8.000",  L"0.000",
                               L"255",    L"255",    L"2295.000", L"255.000", L"4.000",
                               L"1.767",  L"3.385",  L"20.311", L"1.414",  L"1.000",
                               L"1.207",  L"3.000",  L"3.000",  L"0.000"};
  for (uint64_t r = 1; r <= 24; ++r) {
    EXPECT_EQ(square[r - 1], Cell(f, 2, r, &align)) << "row " << r;
    EXPECT_EQ(1, align);
  }
  EXPECT_EQ(L"", Cell(f, 2, 25));
  // The names follow the language at once.
  f->OnLanguageChanged(L"jp");
  EXPECT_EQ(L"輪郭の中心 X", Cell(f, 0, 1));
  EXPECT_EQ(L"長径の傾き", Cell(f, 0, 24));
  EXPECT_EQ(12u, f->m_grid.m_widths[0]);
  rig.host.SetScale(1.0, 1, L"px");
  EXPECT_EQ(L"単位:px", Cell(f, 0, 0));
}

// A white 67 x 75 area has a total brightness of 1281375: its column widens to the 11
// characters of "1281375.000", the small square's stays at 9, and either text fits its cell.
TEST(AutoMeasure, ColumnsWidenToTheirWidestNumber) {
  Rig rig(*Binary(120, 100, {{10, 10, 76, 84}, {100, 90, 102, 92}}));
  rig.host.RequestProcess(0);
  CLfAmeasure* f = rig.f;
  ASSERT_EQ(2u, f->m_recordCount);
  EXPECT_EQ(L"5025.000", Cell(f, 1, 5));
  EXPECT_EQ(L"1281375.000", Cell(f, 1, 13));
  EXPECT_EQ(L"2295.000", Cell(f, 2, 13));
  EXPECT_EQ(26u, f->m_grid.m_widths[0]);
  EXPECT_EQ(11u, f->m_grid.m_widths[1]);
  EXPECT_EQ(9u, f->m_grid.m_widths[2]);
  const int32_t S = f->m_grid.FontSize();
  for (uint64_t c = 1; c <= 2; ++c)
    for (uint64_t r = 1; r <= 24; ++r)
      EXPECT_GE(f->m_grid.ColumnPixels(c), FgTextWidth(Cell(f, c, r).c_str(), uint64_t(S)) + 3) << c << ", " << r;
  // The next frame's islands size the columns afresh.
  rig.Run(*Binary(120, 100, {{100, 90, 102, 92}}));
  ASSERT_EQ(1u, f->m_recordCount);
  EXPECT_EQ(9u, f->m_grid.m_widths[1]);
}

TEST(AutoMeasure, IslandOptionDecidesWhetherANestedDotIsItsOwnIsland) {
  Rig rig(*RingWithDot());
  CLfAmeasure* f = rig.f;
  rig.host.RequestProcess(0);
  ASSERT_EQ(2u, f->m_recordCount);
  EXPECT_EQ(L"24.000", Cell(f, 1, 5));  // the ring alone
  EXPECT_EQ(L"1.000", Cell(f, 2, 5));   // the dot
  // What one waiting request leaves in the host's count, to compare the menu's with.
  uint64_t before = rig.host.m_processedCount.load();
  rig.host.RequestProcess(0);
  const uint64_t perRequest = rig.host.m_processedCount.load() - before;
  before = rig.host.m_processedCount.load();
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 1, CLfAmeasure::kIsland);
  EXPECT_EQ(before + perRequest, rig.host.m_processedCount.load());
  ASSERT_EQ(1u, f->m_recordCount);
  EXPECT_EQ(L"25.000", Cell(f, 1, 5));  // the ring with the dot
  EXPECT_EQ(0u, f->m_island.load());
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kIsland);  // from either menu
  EXPECT_EQ(before + 2 * perRequest, rig.host.m_processedCount.load());
  EXPECT_EQ(2u, f->m_recordCount);
  EXPECT_EQ(1u, f->m_island.load());
  // Other commands do nothing.
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 1, 202);
  EXPECT_EQ(before + 2 * perRequest, rig.host.m_processedCount.load());
  // Switched off: the flag changes, no frame is asked for.
  f->m_filterEnabled = 0;
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 1, CLfAmeasure::kIsland);
  EXPECT_EQ(before + 2 * perRequest, rig.host.m_processedCount.load());
  EXPECT_EQ(0u, f->m_island.load());
}

TEST(AutoMeasure, EmptyFramesEmptyTheTableAndTheCurrentCellStays) {
  const Picture three = Binary(40, 40, {{1, 1, 2, 2}, {10, 10, 11, 11}, {20, 20, 20, 20}});
  const Picture two = Binary(40, 40, {{1, 1, 2, 2}, {10, 10, 11, 11}});
  const Picture none = Binary(40, 40, {});
  Rig rig(*three);
  CLfAmeasure* f = rig.f;
  rig.host.RequestProcess(0);
  ASSERT_EQ(4u, f->m_grid.m_columns);
  EXPECT_EQ(1u, f->m_grid.m_firstColumn);
  EXPECT_EQ(1u, f->m_grid.m_firstRow);
  ASSERT_EQ(1, f->m_grid.SetCurrentCell(3, 7));
  rig.Run(*three);
  EXPECT_EQ(3u, f->m_grid.m_firstColumn);
  EXPECT_EQ(7u, f->m_grid.m_firstRow);
  // Column 3 is gone with two islands: the cell moves to the first data cell.
  rig.Run(*two);
  EXPECT_EQ(3u, f->m_grid.m_columns);
  EXPECT_EQ(1u, f->m_grid.m_firstColumn);
  EXPECT_EQ(1u, f->m_grid.m_firstRow);
  ASSERT_EQ(1, f->m_grid.SetCurrentCell(2, 9));
  rig.Run(*none);
  EXPECT_EQ(0u, f->m_recordCount);
  EXPECT_EQ(nullptr, f->m_records);
  EXPECT_EQ(0u, f->m_grid.m_columns);
  EXPECT_EQ(0u, f->m_grid.m_rows);
  EXPECT_EQ(L"", Cell(f, 0, 1));
  rig.Run(*three);
  EXPECT_EQ(4u, f->m_grid.m_columns);
  EXPECT_EQ(1u, f->m_grid.m_firstColumn);
  EXPECT_EQ(1u, f->m_grid.m_firstRow);
  // A refused connectivity empties the table as well.
  rig.host.m_connectivity = 6;
  rig.host.RequestProcess(0);
  EXPECT_EQ(0u, f->m_grid.m_columns);
  rig.host.m_connectivity = 8;
  // Switching off empties the grid; the records stay for the next frame.
  rig.host.RequestProcess(0);
  f->m_filterEnabled = 0;
  f->OnEnable(0);
  EXPECT_EQ(0u, f->m_grid.m_columns);
  EXPECT_EQ(3u, f->m_recordCount);
}

TEST(AutoMeasure, OnlyTheFirstIslandsWhenMemoryIsShort) {
  std::vector<Box> boxes;
  for (int32_t i = 0; i < 5; ++i) boxes.push_back({2 + 4 * i, 2, 3 + 4 * i, 3});
  Rig rig(*Binary(30, 8, boxes));
  CLfAmeasure* f = rig.f;
  const struct {
    uint64_t limit, kept;
  } cases[] = {{UINT64_MAX, 5}, {4, 4}, {3, 2}, {1, 1}, {0, 0}};
  for (const auto& k : cases) {
    SetAmeasureRecordLimitForTesting(k.limit);
    rig.host.RequestProcess(0);
    EXPECT_EQ(k.kept, f->m_recordCount) << k.limit;
    EXPECT_EQ(k.kept ? k.kept + 1 : 0, f->m_grid.m_columns) << k.limit;
    if (k.kept) {
      EXPECT_EQ(std::to_wstring(4 * k.kept - 2) + L".500", Cell(f, k.kept, 1)) << k.limit;
    }
  }
  SetAmeasureRecordLimitForTesting(UINT64_MAX);
}

TEST(AutoMeasure, SaveCsvBytes) {
  qvtest::TempFolder folder("ameasure");
  ASSERT_TRUE(folder.ok());
  CScriptedDialogs dialogs;
  Rig rig(*Binary(40, 40, {{10, 20, 12, 22}, {30, 5, 30, 5}}));
  CLfAmeasure* f = rig.f;
  rig.host.SetScale(0.5, 1, L"mm");
  rig.host.RequestProcess(0);
  ASSERT_EQ(2u, f->m_recordCount);
  const std::string path = folder.File("table.csv");
  dialogs.m_paths.push_back(Wide(path));
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"saved", dialogs.m_shown[0].text);
  EXPECT_EQ(L"confirmation", dialogs.m_shown[0].caption);
  EXPECT_EQ(1, dialogs.m_shown[0].kind);
  EXPECT_EQ(L"", dialogs.m_asked[0].title);
  const std::string csv = qvtest::ReadWholeFile(path);
  EXPECT_EQ(0u, csv.find("unit:mm,ID1,ID2\r\n"
                         "center of contour x,15.000,5.500\r\n"
                         "center of contour y,2.500,10.500\r\n"
                         "center of gravity x,15.000,5.500\r\n"
                         "center of gravity y,2.500,10.500\r\n"
                         "area,0.250,2.250\r\n"
                         "number of holes,0,0\r\n"))
      << csv;
  size_t lines = 0;
  for (char c : csv) lines += c == '\n';
  EXPECT_EQ(25u, lines);
  EXPECT_NE(std::string::npos, csv.find("\r\ninclination of major axis,0.000,0.000\r\n"));
  EXPECT_EQ(csv.size() - 2, csv.rfind("\r\n"));

  // Japanese: the names in UTF-8, the Japanese messages.
  f->OnLanguageChanged(L"jp");
  dialogs.m_paths.push_back(Wide(folder.File("表.csv")));
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
  EXPECT_EQ(L"セーブしました", dialogs.m_shown.back().text);
  EXPECT_EQ(L"確認", dialogs.m_shown.back().caption);
  const std::string jp = qvtest::ReadWholeFile(folder.File("表.csv"));
  EXPECT_EQ(0u, jp.find("単位:mm,ID1,ID2\r\n輪郭の中心 X,15.000,5.500\r\n")) << jp;

  // A target that cannot be written: the message, and the old file as it was.
  ASSERT_EQ(0, chmod(folder.path().c_str(), 0500));
  const bool rootWrites = access(folder.path().c_str(), W_OK) == 0;  // root ignores modes
  if (!rootWrites) {
    dialogs.m_paths.push_back(Wide(path));
    CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
    EXPECT_EQ(L"セーブできませんでした", dialogs.m_shown.back().text);
    EXPECT_EQ(csv, qvtest::ReadWholeFile(path));
  }
  chmod(folder.path().c_str(), 0700);
  f->OnLanguageChanged(L"en");
  dialogs.m_paths.push_back(Wide(folder.File("no/such/folder.csv")));
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
  EXPECT_EQ(L"saving failed", dialogs.m_shown.back().text);
  EXPECT_EQ(L"error", dialogs.m_shown.back().caption);
  // A cancelled chooser writes and shows nothing.
  const size_t shown = dialogs.m_shown.size();
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
  EXPECT_EQ(shown, dialogs.m_shown.size());

  // No islands: an empty file and "saved".
  rig.Run(*Binary(40, 40, {}));
  dialogs.m_paths.push_back(Wide(path));
  CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
  EXPECT_EQ(L"saved", dialogs.m_shown.back().text);
  EXPECT_EQ("", qvtest::ReadWholeFile(path));
}

TEST(AutoMeasure, FramesProcessedWhileTheTableIsSaved) {
  qvtest::TempFolder folder("ameasure_stress");
  ASSERT_TRUE(folder.ok());
  CScriptedDialogs dialogs;
  // Frames of 1 to 12 islands, requested back to back from the worker itself.
  std::vector<Picture> frames;
  for (int32_t n = 1; n <= 12; ++n) {
    std::vector<Box> boxes;
    for (int32_t i = 0; i < n; ++i) boxes.push_back({1 + 5 * i, 1 + (i % 3), 2 + 5 * i, 3});
    frames.push_back(Binary(64, 8, boxes));
  }
  std::vector<const CImgBuff*> pointers;
  for (const Picture& b : frames) pointers.push_back(b.get());
  CTestHost host;
  host.m_background = 0;
  host.SetLanguage(L"en");
  ASSERT_EQ(1, host.SetVideo(pointers, 40000));
  auto* f = new CLfAmeasure;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  // The frames change on the worker while this thread saves and redraws.  What must hold
  // whatever the scheduling: every seek is taken, every save holds the whole table of one
  // frame (1 to 12 islands, every line as long as the first), and after the last seek the
  // table is that frame's.
  constexpr int kSeeks = 240;
  ASSERT_EQ(1, host.SeekFrame(0));  // a measured frame before the first save
  std::atomic<int> refusedSeeks{0};
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int k = 0; k < kSeeks; ++k)
      if (host.SeekFrame(uint64_t(k) * 5 % frames.size()) != 1) refusedSeeks++;
    done.store(true);
  });
  const std::string path = folder.File("stress.csv");
  auto saveAndCheck = [&](int i) {
    dialogs.m_paths.push_back(Wide(path));
    CLfAmeasure::OnMenu(&f->m_menuBar, f, 0, CLfAmeasure::kSaveCsv);
    f->CFgUICtrl::Redraw();
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
    EXPECT_EQ(25u, lines) << "save " << i;
    EXPECT_GE(fields, 2u) << "save " << i;
    EXPECT_LE(fields, 13u) << "save " << i;
    return fields;
  };
  // At least 60 saves, and saves for as long as the feeder runs.
  for (int i = 0; i < 60 || !done.load(); ++i) saveAndCheck(i);
  feeder.join();
  EXPECT_EQ(0, refusedSeeks.load());
  // The last frame asked for is the one measured: 12 islands, 12 columns after the names.
  ASSERT_EQ(1, host.SeekFrame(11));
  EXPECT_EQ(12u, f->m_recordCount);
  EXPECT_EQ(13u, saveAndCheck(-1));
  for (const CScriptedDialogs::Shown& s : dialogs.m_shown) EXPECT_EQ(L"saved", s.text);
}

}  // namespace
