// convolution_menu_test.cpp - the convolution filter's menu without a window: the menu
// template, the presets, the enable rules, and ".fmx" files: the bytes written, a round trip
// of the whole grid, refused and cut-short files (nothing changes), the overwrite question and
// a failed save, with the chooser and the message box scripted.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "filters/colour_pixel/convolution.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"

namespace {

using filtertest::PackLines;

class CountingHost : public CTestHost {
 public:
  void RequestProcess(uint32_t async) override {
    m_requests++;
    m_lastAsync = async;
    CTestHost::RequestProcess(async);
  }
  std::atomic<uint64_t> m_requests{0};
  uint32_t m_lastAsync = 99;
};

// Everything a load may change: the applied pack, the pending values and the window state.
std::vector<std::wstring> State(CLfFilter& f) {
  CCfgPack pack;
  pack.SetName(L"filter");
  f.SaveParams(&pack);
  std::vector<std::wstring> out = PackLines(&pack);
  out.push_back(L"pending " + std::to_wstring(f.m_pendingSize) + L" " +
                std::to_wstring(f.m_pendingDiv) + L" " + std::to_wstring(f.m_pendingMedian) +
                L" " + std::to_wstring(f.m_pendingAutoDiv) + L" " +
                std::to_wstring(f.m_modified) + L" " + f.m_divEdit.GetText());
  std::wstring grid;
  for (int32_t r = 0; r < 9; ++r)
    for (int32_t c = 0; c < 9; ++c) grid += std::to_wstring(f.m_grid.m_values[r][c]) + L",";
  out.push_back(grid + L" size " + std::to_wstring(f.m_grid.m_size));
  out.push_back(L"enabled " + std::to_wstring(f.m_filterEnabled) + L" visible " +
                std::to_wstring(f.m_dialogVisible));
  return out;
}

TEST(ConvolutionMenu, TemplateAndCommandRange) {
  CFgUIMenuBar bar;
  CLfFilter::BuildMenu(&bar, L"en");
  ASSERT_EQ(1, bar.m_menuCount);
  EXPECT_EQ(0, CLfFilter::s_menuIndex);
  EXPECT_STREQ(L"Filter", bar.m_menus[0].title);
  EXPECT_STREQ(L"Open filter\t1\nSave filter\t2\nPreset\t{Smooth\t101\nSmooth2\t104\n"
               L"Sharpen\t102\nSharpen2\t105\nEdge\t103\n}\n",
               bar.m_menus[0].text);
  CLfFilter::BuildMenu(&bar, L"jp");
  ASSERT_EQ(1, bar.m_menuCount);  // built anew, not added
  EXPECT_STREQ(L"\x30D5\x30A3\x30EB\x30BF\x30FC", bar.m_menus[0].title);
  EXPECT_STREQ(L"\x30D5\x30A3\x30EB\x30BF\x30FC\x3092\x958B\x304F\t1\n"
               L"\x30D5\x30A3\x30EB\x30BF\x30FC\x3092\x4FDD\x5B58\t2\n"
               L"\x30D7\x30EA\x30BB\x30C3\x30C8\t{\x30B9\x30E0\x30FC\x30B8\x30F3\x30B0\t101\n"
               L"\x30B9\x30E0\x30FC\x30B8\x30F3\x30B0" L"2\t104\n"
               L"\x30B7\x30E3\x30FC\x30D7\x30CD\x30B9\t102\n"
               L"\x30B7\x30E3\x30FC\x30D7\x30CD\x30B9" L"2\t105\n\x30A8\x30C3\x30B8\t103\n}\n",
               bar.m_menus[0].text);
  CLfFilter::BuildMenu(&bar, L"jp ");
  EXPECT_STREQ(L"Filter", bar.m_menus[0].title);

  // Another menu's index, or a command outside 1 to 105: nothing asked, nothing changed.
  CScriptedDialogs dialogs;
  CLfFilter f;
  const std::vector<std::wstring> before = State(f);
  for (int32_t menu : {1, -1}) CLfFilter::OnMenuCommand(&f.m_menuBar, &f, menu, CLfFilter::kSmooth);
  for (int32_t command : {0, -1, 3, 100, 106, 1001})
    CLfFilter::OnMenuCommand(&f.m_menuBar, &f, CLfFilter::s_menuIndex, command);
  EXPECT_EQ(before, State(f));
  EXPECT_TRUE(dialogs.m_asked.empty());
  CLfFilter::OnMenuCommand(&f.m_menuBar, &f, CLfFilter::s_menuIndex, CLfFilter::kEdge);
  EXPECT_EQ(1, f.GetApplied().div);
  EXPECT_EQ(12, f.GetApplied().matrix[4][4]);
}

TEST(ConvolutionMenu, Presets) {
  struct Case {
    int32_t command;
    int32_t kernel[9];
    int32_t div;
  } cases[] = {
      {CLfFilter::kSmooth, {1, 2, 1, 2, 12, 2, 1, 2, 1}, 24},
      {CLfFilter::kSmooth2, {1, 2, 1, 2, 3, 2, 1, 2, 1}, 15},
      {CLfFilter::kSharpen, {-1, -2, -1, -2, 24, -2, -1, -2, -1}, 12},
      {CLfFilter::kSharpen2, {-1, -2, -1, -2, 18, -2, -1, -2, -1}, 6},
      {CLfFilter::kEdge, {-1, -2, -1, -2, 12, -2, -1, -2, -1}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    CLfFilter f;
    ASSERT_EQ(1, f.ApplyPreset(c.command));
    const CLfFilter::Applied a = f.GetApplied();
    EXPECT_EQ(3u, a.size);
    EXPECT_EQ(c.div, a.div);
    EXPECT_EQ(1u, a.autoDiv);
    EXPECT_EQ(0u, a.type);
    const int32_t indexes[9] = {30, 31, 32, 39, 40, 41, 48, 49, 50};
    for (int32_t i = 0; i < 9; ++i) {
      EXPECT_EQ(c.kernel[i], a.matrix[indexes[i] / 9][indexes[i] % 9]);
      EXPECT_EQ(c.kernel[i], a.kernel[i]);
    }
    EXPECT_EQ(std::to_wstring(c.div), f.m_divEdit.GetText());
    EXPECT_EQ(0, f.m_setButton.m_enabled);
  }
  CLfFilter f;
  EXPECT_EQ(0, f.ApplyPreset(106));
}

// Sharpen over a full 9 x 9 median grid on the host: size 3, outer cells 0, box "12", "auto
// div" ticked, "median" not, one waiting request; enabled flag and window as they were.
TEST(ConvolutionMenu, SharpenOverAFullGrid) {
  CountingHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(9, 7, ImgFormatGray8));
  host.SetStill(src);
  auto* f = new CLfFilter;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  CCfgPack full;
  full.SetName(L"filter");
  std::wstring list;
  for (int i = 0; i < 81; ++i) list += std::wstring(i ? L"," : L"") + std::to_wstring(i + 5);
  full.AddItem(L"size", L"9");
  full.AddItem(L"filter_array", list.c_str());
  full.AddItem(L"auto_div", L"0");
  full.AddItem(L"div", L"7");
  full.AddItem(L"type", L"1");
  f->LoadParams(&full);
  const uint32_t visible = f->m_dialogVisible;
  EXPECT_EQ(1, f->m_medianBox.m_checked);
  EXPECT_EQ(0, f->m_grid.m_enabled);
  host.WaitIdle();
  const uint64_t before = host.m_requests;
  CLfFilter::OnMenuCommand(&f->m_menuBar, f, CLfFilter::s_menuIndex, CLfFilter::kSharpen);
  EXPECT_EQ(before + 1, host.m_requests.load());
  EXPECT_EQ(0u, host.m_lastAsync);
  const CLfFilter::Applied a = f->GetApplied();
  EXPECT_EQ(3u, a.size);
  EXPECT_EQ(3, f->m_grid.m_size);
  EXPECT_EQ(0, CFgUIChkButton::GetGroupSelection(&f->m_sizeRadio[0]));
  for (int32_t r = 0; r < 9; ++r)
    for (int32_t c = 0; c < 9; ++c)
      if (r < 3 || r > 5 || c < 3 || c > 5) {
        EXPECT_EQ(0, f->m_grid.m_values[r][c]) << r << "," << c;
      }
  EXPECT_EQ(24, f->m_grid.m_values[4][4]);
  EXPECT_STREQ(L"12", f->m_divEdit.GetText());
  EXPECT_EQ(1, f->m_autoDivBox.m_checked);
  EXPECT_EQ(0, f->m_medianBox.m_checked);
  EXPECT_EQ(1, f->m_grid.m_enabled);
  EXPECT_EQ(0, f->m_divEdit.m_enabled);  // "auto div" on
  EXPECT_EQ(1u, f->m_filterEnabled);
  EXPECT_EQ(visible, f->m_dialogVisible);
}

TEST(ConvolutionMenu, EnableRules) {
  struct Case {
    uint32_t median, autoDiv;
    int32_t grid, divBox, autoBox;
  } cases[] = {{0, 1, 1, 0, 1}, {0, 0, 1, 1, 1}, {1, 1, 0, 0, 0}, {1, 0, 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "median " << c.median << " auto " << c.autoDiv);
    CLfFilter f;
    f.m_autoDivBox.m_checked = int32_t(c.autoDiv);
    f.m_autoDivBox.m_callback(&f.m_autoDivBox, f.m_autoDivBox.m_user);
    f.m_medianBox.m_checked = int32_t(c.median);
    f.m_medianBox.m_callback(&f.m_medianBox, f.m_medianBox.m_user);
    EXPECT_EQ(c.grid, f.m_grid.m_enabled);
    EXPECT_EQ(c.divBox, f.m_divEdit.m_enabled);
    EXPECT_EQ(c.divBox, f.m_divLabel.m_enabled);
    EXPECT_EQ(c.autoBox, f.m_autoDivBox.m_enabled);
    EXPECT_EQ(1, f.m_setButton.m_enabled);  // each box flagged a change
  }
  // Clearing "median" with "auto div" ticked: grid and "auto div" on, the divisor off.
  CLfFilter f;
  f.m_medianBox.m_checked = 1;
  f.m_medianBox.m_callback(&f.m_medianBox, f.m_medianBox.m_user);
  f.m_medianBox.m_checked = 0;
  f.m_medianBox.m_callback(&f.m_medianBox, f.m_medianBox.m_user);
  EXPECT_EQ(1, f.m_grid.m_enabled);
  EXPECT_EQ(1, f.m_autoDivBox.m_enabled);
  EXPECT_EQ(0, f.m_divEdit.m_enabled);
  // A window disabled as a whole stays so when a preset applies.
  f.EnableDialog(0);
  f.ApplyPreset(CLfFilter::kSmooth);
  EXPECT_EQ(0, f.m_grid.m_enabled);
  f.EnableDialog(1);
  EXPECT_EQ(1, f.m_grid.m_enabled);
  EXPECT_EQ(0, f.m_divEdit.m_enabled);
}

class FmxFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder.ok()); }
  qvtest::TempFolder folder{"fmx"};
  CScriptedDialogs dialogs;
};

// A new filter, enabled with its window open: the exact bytes; the chooser asked with its
// title, start path and extension; "saved".
TEST_F(FmxFiles, BytesOfANewFilter) {
  CLfFilter f;
  f.m_language = L"en";
  f.m_filterEnabled = 1;
  f.m_dialogVisible = 1;
  dialogs.m_paths.push_back(folder.WideFile("new.fmx"));
  CLfFilter::OnMenuCommand(&f.m_menuBar, &f, CLfFilter::s_menuIndex, CLfFilter::kSaveFilter);
  std::string list;
  for (int i = 0; i < 81; ++i) list += std::string(i ? "," : "") + (i == 40 ? "1" : "0");
  EXPECT_EQ("[filter] {\n fmx_ver 1\n if_enable 1\n if_visible 1\n size 3\n filter_array " +
                list + "\n div 1\n auto_div 1\n type 0\n}\n",
            qvtest::ReadWholeFile(folder.File("new.fmx")));
  ASSERT_EQ(1u, dialogs.m_asked.size());
  EXPECT_EQ(L"select file name to save", dialogs.m_asked[0].title);
  EXPECT_EQ(L"fmx", dialogs.m_asked[0].extensions);
  const std::wstring start = dialogs.m_asked[0].startPath;
  EXPECT_EQ(L"/temp.fmx", start.substr(start.size() - 9));
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"saved", dialogs.m_shown[0].text);
  EXPECT_EQ(L"confirmation", dialogs.m_shown[0].caption);
  EXPECT_EQ(1, dialogs.m_shown[0].kind);
}

// A 5 x 5 grid with values outside its block: all 81 cells, size, divisor and flags come
// back in a new filter, which is processed again when enabled.
TEST_F(FmxFiles, RoundTripOfTheWholeGrid) {
  CLfFilter a;
  CCfgPack pack;
  pack.SetName(L"filter");
  std::wstring list;
  for (int i = 0; i < 81; ++i) list += std::wstring(i ? L"," : L"") + std::to_wstring(i * 3 - 100);
  pack.AddItem(L"size", L"5");
  pack.AddItem(L"filter_array", list.c_str());
  pack.AddItem(L"div", L"37");
  pack.AddItem(L"auto_div", L"0");
  pack.AddItem(L"type", L"1");
  a.LoadParams(&pack);
  a.m_filterEnabled = 1;
  dialogs.m_paths.push_back(folder.WideFile("grid.fmx"));
  a.SaveFilterFile();
  CountingHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(9, 7, ImgFormatGray8));
  host.SetStill(src);
  auto* b = new CLfFilter;
  ASSERT_EQ(1, host.AddFilter(b, nullptr));
  b->m_filterEnabled = 1;
  host.WaitIdle();
  const uint64_t before = host.m_requests;
  dialogs.m_paths.push_back(folder.WideFile("grid.fmx"));
  b->OpenFilterFile();
  EXPECT_EQ(before + 1, host.m_requests.load());
  CCfgPack pa, pb;
  pa.SetName(L"filter");
  pb.SetName(L"filter");
  a.SaveParams(&pa);
  b->SaveParams(&pb);
  EXPECT_EQ(PackLines(&pa), PackLines(&pb));
  EXPECT_EQ(L"filter_array " + list, PackLines(&pb)[3]);
  EXPECT_EQ(5, b->m_grid.m_size);
  EXPECT_EQ(-100, b->m_grid.m_values[0][0]);
  EXPECT_STREQ(L"37", b->m_divEdit.GetText());
  EXPECT_EQ(1, b->m_medianBox.m_checked);
  EXPECT_EQ(1u, b->m_filterEnabled);
  ASSERT_EQ(1u, dialogs.m_shown.size());  // "saved" only, no message on a good load
}

// Refused files, in both languages: one message each, nothing changed.  A file cut short
// anywhere lacks its closing line and is refused as a whole.
TEST_F(FmxFiles, RefusedFilesChangeNothing) {
  std::string list;
  for (int i = 0; i < 81; ++i) list += std::string(i ? "," : "") + std::to_string(i + 1);
  const std::string good = "[filter] {\n fmx_ver 1\n if_enable 1\n if_visible 1\n size 5\n"
                           " filter_array " + list + "\n div 9\n auto_div 0\n type 1\n}\n";
  struct Case {
    const char* name;
    std::string bytes;  // "-" : no file at all
    int32_t newer;
  } cases[] = {
      {"version 2", "[filter] {\n fmx_ver 2\n size 5\n div 9\n}\n", 1},
      {"version 10", "[filter] {\n fmx_ver 10\n size 5\n div 9\n}\n", 1},
      {"version -1", "[filter] {\n fmx_ver -1\n div 9\n}\n", 1},
      {"version of 30 digits", "[filter] {\n fmx_ver 123456789012345678901234567890\n}\n", 1},
      {"no fmx_ver", "[filter] {\n size 5\n div 9\n}\n", 0},
      {"pack filterx", "[filterx] {\n fmx_ver 1\n div 9\n}\n", 0},
      {"binary junk", std::string("\x00\xff\xfe[\x01\x80\x90junk\n\xc3", 13), 0},
      {"empty file", "", 0},
      {"missing file", "-", 0},
      {"cut after the header", good.substr(0, 11), 0},
      {"cut in the list", good.substr(0, 120), 0},
      {"cut before the closing line", good.substr(0, good.size() - 2), 0},
  };
  for (const wchar_t* language : {L"en", L"jp"})
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << (language[0] == L'j' ? " jp" : " en"));
      CLfFilter f;
      f.m_language = language;
      f.m_filterEnabled = 1;
      ASSERT_EQ(1, f.ApplyPreset(CLfFilter::kSharpen2));
      const std::vector<std::wstring> before = State(f);
      const std::string path = folder.File("bad.fmx");
      std::remove(path.c_str());
      if (c.bytes != "-") qvtest::WriteWholeFile(path, c.bytes);
      dialogs.m_shown.clear();
      dialogs.m_paths.push_back(folder.WideFile("bad.fmx"));
      f.OpenFilterFile();
      EXPECT_EQ(before, State(f));
      ASSERT_EQ(1u, dialogs.m_shown.size());
      const bool ja = language[0] == L'j';
      EXPECT_EQ(c.newer ? (ja ? L"\x3088\x308A\x65B0\x3057\x3044\x30D0\x30FC\x30B8\x30E7\x30F3"
                                L"\x3067\x4F5C\x6210\x3055\x308C\x305F\x30D5\x30A1\x30A4\x30EB"
                                L"\x306A\x306E\x3067\x8AAD\x3081\x307E\x305B\x3093"
                              : L"It is a file created with a newer version and can not be read")
                        : (ja ? L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F"
                              : L"loading failed"),
                dialogs.m_shown[0].text);
      EXPECT_EQ(ja ? L"\x30A8\x30E9\x30FC" : L"error", dialogs.m_shown[0].caption);
      EXPECT_EQ(1, dialogs.m_shown[0].kind);
    }
}

// "fmx_ver" read by its leading digits; a valid pack loads item by item (a bad divisor keeps
// the old one, the rest still loads).
TEST_F(FmxFiles, VersionReadingAndItemsInsideAValidPack) {
  struct Case {
    const char* version;
    int32_t loads;
  } cases[] = {{"1", 1}, {"0", 1}, {"1abc", 1}, {"abc", 1}, {"01", 1}, {"2abc", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    CLfFilter f;
    qvtest::WriteWholeFile(folder.File("v.fmx"), std::string("[filter] {\n fmx_ver ") +
                                                     c.version +
                                                     "\n size 7\n filter_array 4,5\n div 24.5\n"
                                                     " auto_div 0\n}\n");
    dialogs.m_shown.clear();
    dialogs.m_paths.push_back(folder.WideFile("v.fmx"));
    f.OpenFilterFile();
    const CLfFilter::Applied a = f.GetApplied();
    EXPECT_EQ(c.loads ? 7u : 3u, a.size);
    EXPECT_EQ(c.loads ? 4 : 0, a.matrix[0][0]);
    EXPECT_EQ(1, a.div);
    EXPECT_EQ(c.loads ? 0u : 1u, a.autoDiv);
    EXPECT_EQ(c.loads ? 0u : 1u, dialogs.m_shown.size());
  }
}

TEST_F(FmxFiles, CancelledChooserAndOverwriteAndFailedSave) {
  CLfFilter f;
  f.m_language = L"en";
  // Cancelled chooser: nothing written, nothing shown.
  f.SaveFilterFile();
  f.OpenFilterFile();
  EXPECT_EQ(2u, dialogs.m_asked.size());
  EXPECT_TRUE(dialogs.m_shown.empty());
  EXPECT_EQ(L"select file", dialogs.m_asked[1].title);
  // An existing file and Cancel to the question: kept as it was, no further message.
  const std::string old = "[filter] {\n fmx_ver 1\n div 5\n}\n";
  qvtest::WriteWholeFile(folder.File("old.fmx"), old);
  dialogs.m_paths.push_back(folder.WideFile("old.fmx"));
  dialogs.m_answers.push_back(0);
  f.m_language = L"jp";
  f.SaveFilterFile();
  EXPECT_EQ(old, qvtest::ReadWholeFile(folder.File("old.fmx")));
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"\x4E0A\x66F8\x304D\x4FDD\x5B58\x3057\x307E\x3059\x304B\xFF1F", dialogs.m_shown[0].text);
  EXPECT_EQ(L"\x78BA\x8A8D", dialogs.m_shown[0].caption);
  EXPECT_EQ(0, dialogs.m_shown[0].kind);
  EXPECT_EQ(L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E",
            dialogs.m_asked.back().title);
  // OK: overwritten.
  dialogs.m_shown.clear();
  dialogs.m_paths.push_back(folder.WideFile("old.fmx"));
  dialogs.m_answers.push_back(1);
  f.SaveFilterFile();
  EXPECT_NE(old, qvtest::ReadWholeFile(folder.File("old.fmx")));
  ASSERT_EQ(2u, dialogs.m_shown.size());
  EXPECT_EQ(L"\x30BB\x30FC\x30D6\x3057\x307E\x3057\x305F", dialogs.m_shown[1].text);
  // A folder that does not exist, and a folder in the target's place: "saving failed", the
  // folder left as it was.
  f.m_language = L"en";
  for (const char* target : {"missing/x.fmx", "dir.fmx"}) {
    SCOPED_TRACE(target);
    ASSERT_EQ(0, system(("mkdir -p '" + folder.File("dir.fmx") + "'").c_str()));
    dialogs.m_shown.clear();
    dialogs.m_paths.push_back(folder.WideFile(target));
    dialogs.m_answers.push_back(1);  // overwrite, where asked
    f.SaveFilterFile();
    ASSERT_FALSE(dialogs.m_shown.empty());
    EXPECT_EQ(L"saving failed", dialogs.m_shown.back().text);
    EXPECT_EQ(L"error", dialogs.m_shown.back().caption);
    dialogs.m_answers.clear();
  }
  EXPECT_EQ(0, system(("test -d '" + folder.File("dir.fmx") + "'").c_str()));
}

}  // namespace
