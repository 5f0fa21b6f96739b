// menus_x11_test.cpp - the six menus on a real main screen: the texts written from the
// screen's state in both languages, the fixed filter menus in their order, and the commands
// reaching the screen (zoom, playback speed, repeated values that run nothing, CPU count,
// filters added or refused).
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "app/mainscreen.h"
#include "app/registry.h"
#include "core/parallel.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"

namespace {

const int g_cpus = (SetProcessorCountForTesting(8), 0);

std::atomic<int> g_runs{0};

// Counts the chain's runs; a window-less filter named by the table.
template <uint32_t Id>
class Counting : public CImgFilter {
 public:
  const wchar_t* GetName(const wchar_t* language) override {
    const FilterTableEntry* e = FindFilterEntry(Id);
    return IsJapanese(language) ? e->nameJa : e->nameEn;
  }
  void Process(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t) override {
    ++g_runs;
  }
};

// A renamed class: the menu shows the class's name, not the table's.
class Renamed : public Counting<10007> {
 public:
  const wchar_t* GetName(const wchar_t* language) override {
    return IsJapanese(language) ? L"ガンマ試験" : L"Gamma test";
  }
};

template <class T>
CImgFilter* Make() {
  return new T;
}

class MenusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(folder_.ok());
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
    ClearFilterClassesForTesting();
    RegisterFilterClass({10007, L"gamma", &Make<Renamed>}, nullptr);
    RegisterFilterClass({10000, L"process_rect", &Make<Counting<10000>>}, nullptr);
    RegisterFilterClass({10012, L"auto_measurement", &Make<Counting<10012>>}, nullptr);
    screen_ = new CMainScreen;
    ASSERT_EQ(screen_->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
    screen_->Layout();
    SetCpuCount(8);
  }
  void TearDown() override {
    delete screen_;
    ClearFilterClassesForTesting();
    SetConfigFilePathForTesting(nullptr);
  }
  void Command(MainMenu menu, int32_t id) {
    CMainScreen::OnMenuCommand(&screen_->m_menuBar, screen_, g_menuIndex[menu], id);
  }
  void OpenStill(int32_t w, int32_t h) {
    CImgBuff picture;
    ASSERT_EQ(picture.Allocate(w, h, ImgFormatRgb24), 1);
    screen_->ReplaceSource(&picture);
  }
  // The line of a menu text that holds label (first match), "" when none.
  static std::wstring Line(const std::wstring& text, const std::wstring& label) {
    const size_t at = text.find(label);
    if (at == std::wstring::npos) return L"";
    // A line starts after a line feed or after a submenu's opening brace.
    const size_t start = text.find_last_of(L"\n{", at);
    const size_t begin = start == std::wstring::npos ? 0 : start + 1;
    return text.substr(begin, text.find(L'\n', at) - begin);
  }

  qvtest::TempFolder folder_{"menus"};
  CMainScreen* screen_ = nullptr;
};

TEST_F(MenusTest, FileMenuFollowsWhatIsOpen) {
  EXPECT_EQ(std::wstring(BuildFileMenu(screen_)),
            L"画像を開く\t0\n画像を保存\t-1\n動画を保存\t-1\nマルチページ画像を保存\t-1\n"
            L"連番画像を開く\t2\n連番画像を保存\t-1\n画像情報\t-1\n画像処理を開く\t7\n"
            L"画像処理を保存\t8\n");
  screen_->SetLanguage(L"en");
  EXPECT_EQ(std::wstring(BuildFileMenu(screen_)),
            L"Open image\t0\nSave image\t-1\nSave video\t-1\nSave multi page\t-1\n"
            L"Open multi file\t2\nSave multi file\t-1\nInfo\t-1\nOpen filter list\t7\n"
            L"Save filter list\t8\n");
  // A still: one scene.
  OpenStill(8, 6);
  EXPECT_EQ(std::wstring(BuildFileMenu(screen_)),
            L"Open image\t0\nSave image\t1\nSave video\t-1\nSave multi page\t-1\n"
            L"Open multi file\t2\nSave multi file\t-1\nImage info\t6\nOpen filter list\t7\n"
            L"Save filter list\t8\n");
  const std::wstring view = BuildViewMenu(screen_);
  EXPECT_EQ(Line(view, L"Video playback range"), L" Video playback range\t-1");
  // Scenes as the scene bar counts them.
  screen_->m_videoPanel.m_count = 10;
  const std::wstring many = BuildFileMenu(screen_);
  EXPECT_EQ(Line(many, L"Save video"), L"Save video\t5");
  EXPECT_EQ(Line(many, L"Save multi page"), L"Save multi page\t4");
  EXPECT_EQ(Line(many, L"Save multi file"), L"Save multi file\t3");
  EXPECT_EQ(Line(BuildViewMenu(screen_), L"Video playback range"), L" Video playback range\t20004");
}

TEST_F(MenusTest, ViewMenuTicksAndCommands) {
  screen_->SetLanguage(L"en");
  screen_->m_displayMode = 2;
  screen_->m_colorPicker = 1;
  screen_->m_guideColor = 1;
  std::wstring view = BuildViewMenu(screen_);
  EXPECT_EQ(view.substr(0, 42), L" Image\t{*Std\t2\n Guide off\t1\n Original\t0\n}\n");
  EXPECT_EQ(Line(view, L"RGB"), L"*RGB\t11");
  EXPECT_EQ(Line(view, L"Red"), L"*Red\t401");
  EXPECT_EQ(Line(view, L"White"), L" White\t407");
  EXPECT_NE(view.find(L" Color picker\t{"), std::wstring::npos);

  // 1600% sends 1916 and sets zoom 16, ticked after.
  Command(kMenuView, 1916);
  EXPECT_EQ(screen_->m_view.m_zoom, 16);
  EXPECT_EQ(Line(BuildViewMenu(screen_), L"1600%"), L"*1600%\t1916");
  Command(kMenuView, 1000);
  EXPECT_EQ(screen_->m_view.m_zoom, 0);

  // Auto with a 30 fps source: both ticked; " 30fps" clears auto and keeps 33.
  screen_->m_sourceFrameTime = 33;
  Command(kMenuView, 299);
  EXPECT_EQ(screen_->m_autoFrameInterval, 1);
  EXPECT_EQ(screen_->m_playInterval, 33u);
  view = BuildViewMenu(screen_);
  EXPECT_EQ(Line(view, L"Video"), L"* Video\t299");
  EXPECT_EQ(Line(view, L"30fps"), L"* 30fps\t203");
  Command(kMenuView, 203);
  EXPECT_EQ(screen_->m_autoFrameInterval, 0);
  EXPECT_EQ(screen_->m_playInterval, 33u);
  EXPECT_EQ(Line(BuildViewMenu(screen_), L"Video\t"), L"  Video\t299");
  Command(kMenuView, 200);
  EXPECT_EQ(screen_->m_playInterval, 333u);
  EXPECT_EQ(screen_->m_videoPanel.m_interval, 333u);
  // Skip frame follows into the bar.
  Command(kMenuView, 100);
  EXPECT_EQ(screen_->m_frameSkip, 1);
  EXPECT_EQ(screen_->m_videoPanel.m_skip, 1u);
  // Colour picker, guide colour, side panel.
  Command(kMenuView, 13);
  EXPECT_EQ(screen_->m_colorPicker, 3u);
  Command(kMenuView, 405);
  EXPECT_EQ(screen_->m_guideColor, 5u);
  Command(kMenuView, 102);
  EXPECT_EQ(screen_->m_sidePlace.shown, 1);
  EXPECT_EQ(Line(BuildViewMenu(screen_), L"Side panel"), L"*Side panel\t102");
  Command(kMenuView, 102);
  EXPECT_EQ(screen_->m_sidePlace.shown, 0);

  // Japanese ticks.
  screen_->SetLanguage(L"jp");
  view = BuildViewMenu(screen_);
  EXPECT_EQ(view.substr(0, 7), L"　表示内容\t{");
  EXPECT_EQ(Line(view, L"マゼンタ"), L"✓マゼンタ\t405");
  EXPECT_EQ(Line(view, L"シアン"), L"　シアン\t404");
}

TEST_F(MenusTest, ConfigMenuCpuLanguageAndRepeatsThatRunNothing) {
  std::wstring config = BuildConfigMenu(screen_);
  EXPECT_NE(config.find(L"言語\t{✓日本語\t300\n　Engish\t301\n}\n"), std::wstring::npos);
  EXPECT_NE(config.find(L"CPU\t{　1\t401\n　2\t402\n　3\t403\n　4\t404\n　5\t405\n　6\t406\n"
                        L"　7\t407\n✓8\t408\n}\n"),
            std::wstring::npos);
  EXPECT_EQ(config.rfind(L"回転\t{✓  0\t500\n　-90\t503\n　 90\t501\n　180\t502\n}\n", 0), 0u);
  Command(kMenuConfig, 402);
  EXPECT_EQ(ActiveWorkerCount(), 2u);
  EXPECT_NE(std::wstring(BuildConfigMenu(screen_)).find(L"✓2\t402"), std::wstring::npos);
  Command(kMenuConfig, 465);  // beyond 64: nothing
  EXPECT_EQ(ActiveWorkerCount(), 2u);
  Command(kMenuConfig, 408);

  Command(kMenuConfig, 301);
  config = BuildConfigMenu(screen_);
  EXPECT_NE(config.find(L"Language\t{ 日本語\t300\n*English\t301\n}\n"), std::wstring::npos);
  EXPECT_NE(config.find(L"Bg color\t{ Black\t0\n*White\t255\n}\n"), std::wstring::npos);
  EXPECT_NE(config.find(L"Connect\t{ 4\t4\n*8\t8\n}\n"), std::wstring::npos);
  EXPECT_NE(config.find(L"Mouse wheel\t{ Off\t100\n Zoom\t101\n*Video\t102\n}\n"),
            std::wstring::npos);
  Command(kMenuConfig, 101);
  EXPECT_EQ(screen_->m_wheelMode, 1u);

  // A chain with a counting filter on a still picture.
  OpenStill(16, 12);
  Command(kMenuProcessing, 10000);
  ASSERT_EQ(screen_->m_sidePanel.FilterCount(), 1u);
  int before = g_runs;
  Command(kMenuConfig, 255);  // white already
  Command(kMenuConfig, 8);    // 8 already
  Command(kMenuConfig, 500);  // no turn already
  Command(kMenuView, 2);      // "Std" already
  EXPECT_EQ(g_runs, before);
  // A change runs the frame again and waits for it.
  Command(kMenuConfig, 0);
  EXPECT_EQ(screen_->m_sidePanel.m_background, 0u);
  EXPECT_GT(g_runs, before);
  before = g_runs;
  Command(kMenuConfig, 4);
  EXPECT_EQ(screen_->m_sidePanel.m_connectivity, 4u);
  EXPECT_GT(g_runs, before);
  // The dialogs open once; a second choice while open changes nothing.
  Command(kMenuConfig, 20001);
  ASSERT_TRUE(screen_->m_calibration.IsOpen());
  void* calibration = screen_->m_calibration.GetWindow();
  Command(kMenuConfig, 20001);
  EXPECT_EQ(screen_->m_calibration.GetWindow(), calibration);
  Command(kMenuConfig, 20002);
  ASSERT_NE(screen_->m_encode.GetWindow(), nullptr);
  // A quarter turn tells the chain the exchanged size and loads the scene again.
  before = g_runs;
  Command(kMenuConfig, 501);
  EXPECT_EQ(screen_->m_rotation, 1);
  EXPECT_GT(g_runs, before);
  EXPECT_EQ(screen_->m_sidePanel.CFilterCtrl::m_width, 12u);
  EXPECT_EQ(screen_->m_sidePanel.CFilterCtrl::m_height, 16u);
  Command(kMenuConfig, 503);
  EXPECT_EQ(screen_->m_rotation, -1);
  Command(kMenuConfig, 502);
  EXPECT_EQ(screen_->m_sidePanel.CFilterCtrl::m_width, 16u);
}

TEST_F(MenusTest, FixedMenusListTheFiltersInOrder) {
  const FgMenuRecord& processing = screen_->m_menuBar.m_menus[g_menuIndex[kMenuProcessing]];
  const std::wstring text = processing.text;
  // Class names where registered, the table's otherwise; never the mask filter.
  EXPECT_EQ(text.rfind(L"処理領域\t10000\nグループタグ\t10022\nアップコンバート\t10023\n"
                      L"ダウンコンバート\t10024\nカラー画像処理\t{",
                      0),
            0u);
  EXPECT_NE(text.find(L"ガンマ試験\t10007\n"), std::wstring::npos);
  EXPECT_EQ(text.find(L"10014"), std::wstring::npos);
  const wchar_t* order[] = {L"10030", L"10018", L"10001", L"10025", L"10026", L"10028",
                            L"10003", L"10027", L"10007", L"10006", L"10017", L"10010",
                            L"10029", L"10019", L"10015", L"10034", L"10002", L"10011",
                            L"10004", L"10005", L"10035", L"10040", L"10008", L"10009",
                            L"10036", L"10037", L"10039", L"10038"};
  size_t at = 0;
  for (const wchar_t* id : order) {
    const size_t next = text.find(std::wstring(L"\t") + id + L"\n");
    ASSERT_NE(next, std::wstring::npos) << id;
    EXPECT_GT(next, at) << id;
    at = next;
  }
  EXPECT_NE(text.find(L"カラー画像処理\t{色分布図\t10030\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"フーリエ変換\t{FFT\t10036\nIFFT\t10037\nIFFT EX\t10039\n周波数マスク\t10038\n}\n"),
            std::wstring::npos);
  EXPECT_EQ(std::wstring(screen_->m_menuBar.m_menus[g_menuIndex[kMenuMeasure]].text),
            L"自動計測\t10012\nマニュアル計測\t10013\n");
  EXPECT_EQ(std::wstring(screen_->m_menuBar.m_menus[g_menuIndex[kMenuTool]].text),
            L"成分合成\t20003\n背景画像の作成\t10016\nストロボ写真の合成\t10031\n"
            L"ブレ補正 / 加算平均\t10032\nPIV\t10033\n粒子追跡/PTV\t10020\n2D追跡\t10021\n");
  EXPECT_EQ(screen_->m_menuBar.m_menuCount, 6);
  // Rebuilt in the new language.
  screen_->SetLanguage(L"en");
  const std::wstring english = screen_->m_menuBar.m_menus[g_menuIndex[kMenuProcessing]].text;
  EXPECT_EQ(english.substr(0, 14), L"Process rect\t1");
  EXPECT_NE(english.find(L"Gamma test\t10007\n"), std::wstring::npos);
  EXPECT_EQ(std::wstring(screen_->m_menuBar.m_menus[g_menuIndex[kMenuTool]].title), L"Tool");
}

TEST_F(MenusTest, FiltersAddedOrRefusedWithTheMessage) {
  CScriptedDialogs dialogs;
  OpenStill(8, 8);
  Command(kMenuMeasure, 10012);
  ASSERT_EQ(screen_->m_sidePanel.FilterCount(), 1u);
  EXPECT_EQ(std::wstring(screen_->m_sidePanel.FilterAt(0)->GetKey()), L"auto_measurement");
  EXPECT_EQ(screen_->m_sidePlace.shown, 1);
  EXPECT_TRUE(dialogs.m_shown.empty());
  // An id of another menu, or the mask, does nothing at all.
  Command(kMenuMeasure, 10000);
  Command(kMenuProcessing, 10014);
  Command(kMenuProcessing, 10012);
  EXPECT_EQ(screen_->m_sidePanel.FilterCount(), 1u);
  EXPECT_TRUE(dialogs.m_shown.empty());
  // A listed id without a class: the message in each language, nothing added.
  Command(kMenuProcessing, 10030);
  ASSERT_EQ(dialogs.m_shown.size(), 1u);
  EXPECT_EQ(dialogs.m_shown[0].text, L"フィルターを追加できませんでした");
  EXPECT_EQ(dialogs.m_shown[0].caption, L"エラー");
  EXPECT_EQ(dialogs.m_shown[0].kind, 1);
  screen_->SetLanguage(L"en");
  Command(kMenuTool, 10033);
  ASSERT_EQ(dialogs.m_shown.size(), 2u);
  EXPECT_EQ(dialogs.m_shown[1].text, L"can't add filter");
  EXPECT_EQ(dialogs.m_shown[1].caption, L"error");
  EXPECT_EQ(screen_->m_sidePanel.FilterCount(), 1u);
  // Unknown menus and ids are ignored.
  Command(kMenuFile, 99);
  CMainScreen::OnMenuCommand(&screen_->m_menuBar, screen_, 17, 0);
  EXPECT_EQ(dialogs.m_shown.size(), 2u);
}

}  // namespace

namespace {

TEST_F(MenusTest, EveryMenuTextIsAValidTemplate) {
  for (const wchar_t* language : {L"jp", L"en"}) {
    screen_->SetLanguage(language);
    const std::wstring texts[] = {BuildFileMenu(screen_), BuildViewMenu(screen_),
                                  BuildConfigMenu(screen_),
                                  screen_->m_menuBar.m_menus[g_menuIndex[kMenuProcessing]].text,
                                  screen_->m_menuBar.m_menus[g_menuIndex[kMenuMeasure]].text,
                                  screen_->m_menuBar.m_menus[g_menuIndex[kMenuTool]].text};
    for (const std::wstring& text : texts) {
      CFgUIMenuCtrl root;
      CFgUIMenu menu(&root, nullptr);
      EXPECT_EQ(menu.Parse(text.c_str(), nullptr), 1) << language << " " << text.substr(0, 20);
    }
  }
}

}  // namespace

namespace {

uint64_t g_popupItems = 0;

TEST_F(MenusTest, EveryMenuOpensAsAPopup) {
  FgSetPopupMenuHook([](CFgUIMenuCtrl* root) {
    g_popupItems = root->m_top->m_count;
    root->m_done = 1;
  });
  const uint64_t expected[kMenuCount] = {9, 9, 8, 9, 2, 7};
  for (int32_t m = 0; m < kMenuCount; ++m) {
    g_popupItems = 0;
    screen_->m_menuBar.OpenMenu(g_menuIndex[m], 0);
    EXPECT_EQ(g_popupItems, expected[m]) << m;
  }
  FgSetPopupMenuHook(nullptr);
}

}  // namespace
