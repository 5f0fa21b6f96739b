// filterlist_x11_test.cpp - filter-list files on a real main screen, with stand-in classes
// registered under the table's ids: the file written byte for byte, the round trip, the
// files that are refused with the chain kept, and the File menu's two items.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "app/filterlist.h"
#include "app/mainscreen.h"
#include "app/registry.h"
#include "core/parallel.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"
#include "toolkit/filesel.h"
#include "toolkit/path.h"

namespace {

const int g_cpus = (SetProcessorCountForTesting(8), 0);

// A filter with a settings window and one key of its own ("value"); names from the table.
template <uint32_t Id>
class WindowStandIn : public CImgFilter, public CFgUIDialog {
 public:
  const wchar_t* GetName(const wchar_t* language) override {
    const FilterTableEntry* e = FindFilterEntry(Id);
    return IsJapanese(language) ? e->nameJa : e->nameEn;
  }
  int32_t HasDialog() override { return 1; }
  void ShowDialog(int32_t show, CFgScreen* parent) override {
    if (show && !GetWindow()) Create(-1, -1, 120, 60, L"stand-in", FgStyleDialog, parent);
    if (!show && GetWindow()) Destroy();
  }
  void SaveParams(CCfgPack* pack) override {
    CImgFilter::SaveParams(pack);
    wchar_t text[32];
    swprintf(text, 32, L"%g", m_value);
    pack->AddItem(L"value", text);
  }
  void LoadParams(CCfgPack* pack) override {
    CImgFilter::LoadParams(pack);
    if (CCfgItem* item = pack->FindItem(L"value")) m_value = wcstod(item->value, nullptr);
  }
  double m_value = 1.5;
};

// The mask filter rewrites its pack's "if_visible" before the base reads it.
class MaskStandIn : public WindowStandIn<kFilterIdMask> {
 public:
  void LoadParams(CCfgPack* pack) override {
    if (CCfgItem* item = pack->FindItem(L"if_visible")) item->Set(nullptr, L"1");
    WindowStandIn::LoadParams(pack);
  }
};

class GroupStandIn : public CImgFilter {
 public:
  const wchar_t* GetName(const wchar_t* language) override {
    return IsJapanese(language) ? L"グループタグ" : L"Group tag";
  }
};

using Gamma = WindowStandIn<10007>;

template <class T>
CImgFilter* Make() {
  return new T;
}

class FilterListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(folder_.ok());
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
    ClearFilterClassesForTesting();
    // Registered before the screen: its construction builds the key registry.
    RegisterFilterClass({10007, L"gamma", &Make<Gamma>}, nullptr);
    RegisterFilterClass({kFilterIdMask, L"mask", &Make<MaskStandIn>}, nullptr);
    RegisterFilterClass({kFilterIdGroupTag, L"group_tag", &Make<GroupStandIn>}, nullptr);
    screen_ = new CMainScreen;
    ASSERT_EQ(screen_->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
    screen_->Layout();
  }
  void TearDown() override {
    delete screen_;
    ClearFilterClassesForTesting();
    SetConfigFilePathForTesting(nullptr);
  }
  CSidePanel& Panel() { return screen_->m_sidePanel; }
  std::vector<std::wstring> Keys() {
    std::vector<std::wstring> keys;
    for (uint64_t i = 0; i < Panel().FilterCount(); ++i) keys.push_back(Panel().FilterAt(i)->GetKey());
    return keys;
  }
  Gamma* GammaAt(uint64_t i) { return dynamic_cast<Gamma*>(Panel().FilterAt(i)); }
  std::wstring Path(const std::string& name) { return folder_.WideFile(name); }
  std::string Read(const std::string& name) { return qvtest::ReadWholeFile(folder_.File(name)); }
  void Write(const std::string& name, const std::string& bytes) {
    qvtest::WriteWholeFile(folder_.File(name), bytes);
  }

  qvtest::TempFolder folder_{"filterlist"};
  CMainScreen* screen_ = nullptr;
};

const char kOneGamma[] =
    "[quorvix] {\n ifl_ver 1\n connect 8\n bg 1\n axis_y 1\n scale 1\n unit \n}\n"
    "[gamma] {\n if_enable 1\n if_visible 1\n value 1.5\n}\n";

TEST_F(FilterListTest, OneGammaIsWrittenByteForByte) {
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"gamma"), 1), 1u);
  EXPECT_EQ(screen_->m_sidePlace.shown, 1);
  ASSERT_NE(GammaAt(0)->GetWindow(), nullptr);  // the chain opened its window
  ASSERT_EQ(SaveFilterList(screen_, Path("one.ifl").c_str()), 1);
  EXPECT_EQ(Read("one.ifl"), kOneGamma);
  EXPECT_EQ(SaveFilterList(screen_, Path("no/such/folder.ifl").c_str()), 0);
  EXPECT_EQ(SaveFilterList(screen_, L""), 0);
}

TEST_F(FilterListTest, ChainAndSettingsRoundTrip) {
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"gamma"), 1), 1u);
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"group_tag"), 1), 1u);
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"gamma"), 1), 1u);
  GammaAt(0)->m_value = 2.25;
  GammaAt(0)->m_filterEnabled = 0;
  GammaAt(2)->m_dialogVisible = 0;
  ASSERT_EQ(screen_->SetConnectivity(4), 1);
  Panel().m_background = 0;
  screen_->m_calibration.m_axisY = -1;
  screen_->m_calibration.m_scale = 0.05;
  wcscpy(screen_->m_calibration.m_unit, L"µm");
  ASSERT_EQ(SaveFilterList(screen_, Path("chain.ifl").c_str()), 1);
  const std::string saved = Read("chain.ifl");
  EXPECT_EQ(saved.substr(0, saved.find("[gamma]")),
            "[quorvix] {\n ifl_ver 1\n connect 4\n bg 0\n axis_y -1\n scale 0.05\n unit µm\n}\n");

  // Everything changed, then the list brings it back.
  Panel().RemoveAllFilters(0);
  ASSERT_EQ(screen_->SetConnectivity(8), 1);
  Panel().m_background = 1;
  screen_->m_calibration.m_axisY = 1;
  screen_->m_calibration.m_scale = 1;
  wcscpy(screen_->m_calibration.m_unit, L"mm");
  screen_->HideSidePanel();
  ASSERT_EQ(LoadFilterList(screen_, Path("chain.ifl").c_str()), 1);
  EXPECT_EQ(Keys(), (std::vector<std::wstring>{L"gamma", L"group_tag", L"gamma"}));
  EXPECT_EQ(Panel().FilterAt(1)->m_type, 1u);
  EXPECT_EQ(GammaAt(0)->m_value, 2.25);
  EXPECT_EQ(GammaAt(0)->m_filterEnabled, 0u);
  EXPECT_EQ(GammaAt(2)->GetWindow(), nullptr);  // "if_visible 0" closed it again
  EXPECT_EQ(Panel().m_connectivity, 4u);
  EXPECT_EQ(Panel().m_background, 0u);
  EXPECT_EQ(screen_->m_calibration.m_axisY, -1);
  EXPECT_EQ(screen_->m_calibration.m_scale, 0.05);
  EXPECT_STREQ(screen_->m_calibration.m_unit, L"µm");
  // The chain's filters were told the calibration.
  EXPECT_EQ(Panel().m_scale, 0.05);
  EXPECT_EQ(GammaAt(0)->m_axisY, -1);
  EXPECT_EQ(screen_->m_sidePlace.shown, 1);
  ASSERT_EQ(SaveFilterList(screen_, Path("again.ifl").c_str()), 1);
  EXPECT_EQ(Read("again.ifl"), saved);
}

TEST_F(FilterListTest, AcceptedVariants) {
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::wstring> keys;
    int32_t panelShown;
  };
  const std::vector<Case> cases = {
      {"version followed by letters",
       "[quorvix] {\n ifl_ver 1abc\n}\n[gamma] {\n if_enable 1\n}\n", {L"gamma"}, 1},
      {"version 0 and no settings", "[quorvix] {\n ifl_ver 0\n}\n[gamma] {\n}\n", {L"gamma"}, 1},
      {"two gamma packs",
       "[quorvix] {\n ifl_ver 1\n}\n[gamma] {\n value 3\n}\n[gamma] {\n value 4\n}\n",
       {L"gamma", L"gamma"}, 1},
      {"an empty chain", "[quorvix] {\n ifl_ver 1\n connect 8\n bg 1\n}\n", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"group_tag"), 1), 1u);
    Write("case.ifl", c.file);
    ASSERT_EQ(LoadFilterList(screen_, Path("case.ifl").c_str()), 1);
    EXPECT_EQ(Keys(), c.keys);
    EXPECT_EQ(screen_->m_sidePlace.shown, c.panelShown);
    if (c.keys.size() == 2) {
      EXPECT_EQ(GammaAt(0)->m_value, 3);
      EXPECT_EQ(GammaAt(1)->m_value, 4);
    }
  }
  // An empty chain saves only the "quorvix" pack, and that file empties the chain again.
  ASSERT_EQ(SaveFilterList(screen_, Path("empty.ifl").c_str()), 1);
  EXPECT_EQ(Read("empty.ifl"),
            "[quorvix] {\n ifl_ver 1\n connect 8\n bg 1\n axis_y 1\n scale 1\n unit \n}\n");
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"gamma"), 1), 1u);
  ASSERT_EQ(LoadFilterList(screen_, Path("empty.ifl").c_str()), 1);
  EXPECT_EQ(Panel().FilterCount(), 0u);
  EXPECT_EQ(screen_->m_sidePlace.shown, 0);
}

TEST_F(FilterListTest, RefusedFilesKeepChainPanelAndSettings) {
  struct Case {
    const char* name;
    const char* file;  // null: no file at all
  };
  const Case cases[] = {
      {"missing file", nullptr},
      {"no quorvix pack first", "[gamma] {\n}\n[quorvix] {\n ifl_ver 1\n}\n"},
      {"no version", "[quorvix] {\n connect 4\n}\n[gamma] {\n}\n"},
      {"newer version", "[quorvix] {\n ifl_ver 2\n connect 4\n}\n[gamma] {\n}\n"},
      {"negative version", "[quorvix] {\n ifl_ver -1\n connect 4\n}\n"},
      {"capital key", "[quorvix] {\n ifl_ver 1\n connect 4\n bg 0\n}\n[gamma] {\n}\n[Gamma] {\n}\n"},
      {"table key without a class", "[quorvix] {\n ifl_ver 1\n connect 4\n}\n[extraction] {\n}\n"},
      {"unknown key", "[quorvix] {\n ifl_ver 1\n scale 9\n}\n[gamma] {\n}\n[nosuch] {\n}\n"},
      {"empty file", ""},
  };
  CScriptedDialogs dialogs;
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"gamma"), 1), 1u);
  CImgFilter* kept = Panel().FilterAt(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs.m_shown.clear();
    if (c.file) Write("bad.ifl", c.file);
    const std::wstring path = c.file ? Path("bad.ifl") : Path("absent.ifl");
    EXPECT_EQ(LoadFilterList(screen_, path.c_str()), 0);
    ASSERT_EQ(Panel().FilterCount(), 1u);
    EXPECT_EQ(Panel().FilterAt(0), kept);
    EXPECT_EQ(screen_->m_sidePlace.shown, 1);
    EXPECT_EQ(Panel().m_connectivity, 8u);
    EXPECT_EQ(Panel().m_background, 1u);
    EXPECT_EQ(screen_->m_calibration.m_scale, 1.0);
    const bool newer = std::string(c.name) == "newer version" || std::string(c.name) == "negative version";
    ASSERT_EQ(dialogs.m_shown.size(), newer ? 1u : 0u);
    if (newer) {
      EXPECT_EQ(dialogs.m_shown[0].text, L"より新しいバージョンで作成されたファイルなので読めません");
      EXPECT_EQ(dialogs.m_shown[0].caption, L"エラー");
    }
  }
}

TEST_F(FilterListTest, FileMenuItemsInBothLanguages) {
  CScriptedDialogs dialogs;
  wcscpy(LastFolder, L"/images");
  ASSERT_EQ(screen_->AddFilter(CreateFilterByKey(L"gamma"), 1), 1u);

  // Saving: the default name in the program folder, then the chosen path is kept.
  dialogs.m_paths = {Path("menu.ifl")};
  screen_->SaveFilterList();
  ASSERT_EQ(dialogs.m_asked.size(), 1u);
  EXPECT_EQ(dialogs.m_asked[0].title, L"保存するファイル名を選択");
  EXPECT_EQ(dialogs.m_asked[0].extensions, L"ifl");
  const std::wstring start = dialogs.m_asked[0].startPath;
  EXPECT_EQ(start.substr(start.size() - 17), L"/quorvix_duvu.ifl");
  ASSERT_EQ(dialogs.m_shown.size(), 1u);
  EXPECT_EQ(dialogs.m_shown[0].text, L"セーブしました");
  EXPECT_EQ(dialogs.m_shown[0].caption, L"確認");
  EXPECT_EQ(std::wstring(screen_->m_filterListPath), Path("menu.ifl"));
  EXPECT_EQ(Read("menu.ifl"), kOneGamma);

  // Over an existing file: Cancel keeps it untouched.
  GammaAt(0)->m_value = 7;
  dialogs.m_paths = {Path("menu.ifl")};
  dialogs.m_answers = {0};
  screen_->SaveFilterList();
  EXPECT_EQ(dialogs.m_asked.back().startPath, Path("menu.ifl"));
  ASSERT_EQ(dialogs.m_shown.size(), 2u);
  EXPECT_EQ(dialogs.m_shown[1].text, L"上書き保存しますか？");
  EXPECT_EQ(dialogs.m_shown[1].kind, 0);
  EXPECT_EQ(Read("menu.ifl"), kOneGamma);

  // Opening a newer file in English: its message, then "loading failed"; the path stays.
  screen_->SetLanguage(L"en");
  Write("newer.ifl", "[quorvix] {\n ifl_ver 2\n}\n");
  dialogs.m_shown.clear();
  dialogs.m_paths = {Path("newer.ifl")};
  screen_->OpenFilterList();
  EXPECT_EQ(dialogs.m_asked.back().title, L"select file");
  ASSERT_EQ(dialogs.m_shown.size(), 2u);
  EXPECT_EQ(dialogs.m_shown[0].text, L"It is a file created with a newer version and can not be read");
  EXPECT_EQ(dialogs.m_shown[0].caption, L"error");
  EXPECT_EQ(dialogs.m_shown[1].text, L"loading failed");
  EXPECT_EQ(std::wstring(screen_->m_filterListPath), Path("menu.ifl"));
  EXPECT_EQ(Panel().FilterCount(), 1u);

  // A good one: no message, the chain replaced, the path kept for the next chooser.
  dialogs.m_shown.clear();
  dialogs.m_paths = {Path("menu.ifl")};
  screen_->OpenFilterList();
  EXPECT_TRUE(dialogs.m_shown.empty());
  EXPECT_EQ(GammaAt(0)->m_value, 1.5);
  // Saving fails into a missing folder: "saving failed", the path stays.
  dialogs.m_paths = {Path("missing/x.ifl")};
  screen_->SaveFilterList();
  EXPECT_EQ(dialogs.m_shown.back().text, L"saving failed");
  EXPECT_EQ(dialogs.m_shown.back().caption, L"error");
  EXPECT_EQ(std::wstring(screen_->m_filterListPath), Path("menu.ifl"));
  // A cancelled chooser does nothing.
  const size_t shown = dialogs.m_shown.size();
  screen_->OpenFilterList();
  EXPECT_EQ(dialogs.m_shown.size(), shown);
  EXPECT_STREQ(LastFolder, L"/images");
}

// The real chooser remembers the folder it ended in; the lists' folder must not become the
// one in which images are opened.
std::wstring g_chosen;
int32_t ChooserThatMovesTheFolder(wchar_t* buffer, uint64_t size, const FileSelectOptions*,
                                  CFgScreen*) {
  FgRememberFolder(L"/somewhere/else");
  if (g_chosen.size() >= size) return 0;
  wcscpy(buffer, g_chosen.c_str());
  return 1;
}

TEST_F(FilterListTest, ChoosingAListKeepsTheImageFolder) {
  CScriptedDialogs dialogs;
  FgSetSelectFileOverride(&ChooserThatMovesTheFolder);
  wcscpy(LastFolder, L"/images");
  Write("list.ifl", kOneGamma);
  g_chosen = Path("list.ifl");
  screen_->OpenFilterList();
  EXPECT_EQ(Panel().FilterCount(), 1u);
  EXPECT_STREQ(LastFolder, L"/images");
  g_chosen = Path("saved.ifl");
  screen_->SaveFilterList();
  EXPECT_EQ(Read("saved.ifl"), kOneGamma);
  EXPECT_STREQ(LastFolder, L"/images");
}

TEST_F(FilterListTest, ARewrittenVisibleFlagOpensTheWindow) {
  Write("mask.ifl", "[quorvix] {\n ifl_ver 1\n}\n[mask] {\n if_enable 1\n if_visible 0\n}\n");
  ASSERT_EQ(LoadFilterList(screen_, Path("mask.ifl").c_str()), 1);
  ASSERT_EQ(Panel().FilterCount(), 1u);
  auto* mask = dynamic_cast<MaskStandIn*>(Panel().FilterAt(0));
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(mask->m_dialogVisible, 1u);
  EXPECT_NE(mask->GetWindow(), nullptr);
}

}  // namespace
