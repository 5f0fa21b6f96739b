// convolution_menu_x11_test.cpp - the convolution filter's "Filter" menu on a real X server,
// in both languages: the title clicked, Preset > Smooth chosen by keys in the real popup
// (driven through its hook) and the frame equal to the engine's call; a ".fmx" file saved and
// opened, and a choice cancelled, through the real file chooser (driven through its hook),
// with the chooser's start folder unchanged after each; a file that hides the window opened
// from the window's own menu; screenshots of the window and menu.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/convolve.h"
#include "filters/colour_pixel/convolution.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/filesel.h"
#include "toolkit/path.h"

namespace {

using toolkittest::PumpUntil;

// ---- the popup, driven from its hook ------------------------------------------------------
struct MenuScript {
  int stage = 0;
  std::string shot;  // the submenu's screenshot
  int open = 0;      // 1: "Open filter" instead of the preset
};
MenuScript* g_menu = nullptr;

void MenuKey(CFgUIMenu* m, uint32_t keysym) {
  PlatTestSendInput(m->GetWindow(), 2, keysym, 0, 0);
  PlatTestSendInput(m->GetWindow(), 3, keysym, 0, 0);
}

void ShootMenu(CFgUIMenu* m, const std::string& path) {
  if (!m->BeginDraw()) return;
  m->DrawMenu();  // nested: no swap, the back buffer keeps the drawing
  std::vector<uint8_t> up = toolkittest::ReadBack(m->m_clientWidth, m->m_clientHeight);
  m->EndDraw(0);
  const uint64_t w = m->m_clientWidth, h = m->m_clientHeight;
  std::vector<uint8_t> top(up.size());
  for (uint64_t y = 0; y < h; ++y)
    std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
              top.begin() + long(y * w * 3));
  toolkittest::WritePng(path, top, int(w), int(h));
}

// Down three times to "Preset", Right into its submenu (its first item, Smooth), Return.
void DriveMenu(CFgUIMenuCtrl* root) {
  MenuScript* s = g_menu;
  if (!s || root->m_done) return;
  CFgUIMenu* top = root->m_top;
  CFgUIMenu* sub = top->m_count > 2 ? top->m_items[2].submenu : nullptr;
  if (s->stage == 0 && s->open) {
    s->stage = 2;
    MenuKey(top, 0xff54);  // Down: "Open filter"
    MenuKey(top, 0xff0d);
  } else if (s->stage == 0) {
    s->stage = 1;
    for (int i = 0; i < 3; ++i) MenuKey(top, 0xff54);
    MenuKey(top, 0xff53);
  } else if (s->stage == 1 && sub && root->m_active == sub && sub->m_visible) {
    s->stage = 2;
    ShootMenu(sub, s->shot);
    MenuKey(sub, 0xff0d);
  }
}

// ---- the chooser, driven from its hook ----------------------------------------------------
struct ChooserScript {
  std::wstring folder, name;  // empty name: Cancel
  int shown = 0;
};
ChooserScript* g_chooser = nullptr;

void DriveChooser(CFgFileSelectScreen* c) {
  ChooserScript* s = g_chooser;
  if (!s) return;
  ++s->shown;
  if (s->name.empty()) {
    filtertest::ClickControl(c, c->m_cancel);
    return;
  }
  ASSERT_EQ(1, c->Navigate(s->folder.c_str()));
  c->m_name.SetLine(0, s->name.c_str());
  c->UpdatePath();
  filtertest::ClickControl(c, c->m_ok);
}

class ConvolutionMenuX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ConvolutionMenuX11, PresetFromThePopupAndFilesThroughTheChooser) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  const std::string lang = ja ? "jp" : "en";
  qvtest::TempFolder folder("fmx_x11");
  ASSERT_TRUE(folder.ok());
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 24, 16, ImgFormatGray8, 6);
  host.SetStill(src);
  auto* f = new filtertest::ShotFilter<CLfFilter>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_NE(nullptr, f->m_window);
  ASSERT_EQ(1, f->m_menuBar.m_menuCount);
  EXPECT_STREQ(ja ? L"\x30D5\x30A3\x30EB\x30BF\x30FC" : L"Filter", f->m_menuBar.m_menus[0].title);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save("filter_menu_" + lang + ".png");

  // The title clicked through the X server; the popup chooses Preset > Smooth.
  MenuScript menu;
  menu.shot = std::string(QV_TEST_OUT_DIR) + "/filter_menu_" + lang + "_preset.png";
  g_menu = &menu;
  FgSetPopupMenuHook(DriveMenu);
  filtertest::SendButton(f, 1, 8 + 5, 8);
  ASSERT_TRUE(PumpUntil([&] { return f->GetApplied().div == 24; }, 5000));
  FgSetPopupMenuHook(nullptr);
  g_menu = nullptr;
  EXPECT_EQ(2, menu.stage);
  EXPECT_STREQ(L"24", f->m_divEdit.GetText());
  host.WaitIdle();
  const int32_t smooth[9] = {1, 2, 1, 2, 12, 2, 1, 2, 1};
  CImgBuff ref;
  apptest::MakePicture(ref, 24, 16, ImgFormatGray8, 6);
  RoiRect roi{0, 0, 23, 15};
  ASSERT_EQ(1, ConvolveInt(&ref, 3, smooth, 1, 24, &roi));
  EXPECT_TRUE(apptest::SamePixels(ref, host.m_display));
  f->Save("filter_menu_" + lang + "_smooth.png");

  // Files through the real chooser; the messages scripted.  The start folder stays.
  CScriptedDialogs dialogs;
  FgSetSelectFileOverride(nullptr);
  ASSERT_EQ(1, FgRememberFolder(L"/tmp"));
  ChooserScript chooser;
  g_chooser = &chooser;
  FgSetFileSelectHook(DriveChooser);
  chooser.folder = qvtest::Utf8Wide(folder.path());
  chooser.name = L"smooth.fmx";
  f->SaveFilterFile();
  EXPECT_EQ(1, chooser.shown);
  EXPECT_STREQ(L"/tmp", LastFolder);
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(ja ? L"\x30BB\x30FC\x30D6\x3057\x307E\x3057\x305F" : L"saved", dialogs.m_shown[0].text);
  EXPECT_NE(std::string::npos, qvtest::ReadWholeFile(folder.File("smooth.fmx")).find(" div 24\n"));
  // Edge applied, then the saved Smooth opened again.
  ASSERT_EQ(1, f->ApplyPreset(CLfFilter::kEdge));
  EXPECT_EQ(1, f->GetApplied().div);
  f->OpenFilterFile();
  EXPECT_EQ(2, chooser.shown);
  EXPECT_STREQ(L"/tmp", LastFolder);
  EXPECT_EQ(24, f->GetApplied().div);
  EXPECT_EQ(12, f->GetApplied().matrix[4][4]);
  // Cancelled: nothing changes, the folder stays.
  chooser.name.clear();
  f->OpenFilterFile();
  EXPECT_EQ(3, chooser.shown);
  EXPECT_STREQ(L"/tmp", LastFolder);
  EXPECT_EQ(24, f->GetApplied().div);
  EXPECT_EQ(1u, dialogs.m_shown.size());
  // A file that closes the window ("if_visible 0"), opened from the window's own menu: the
  // window hides under its own menu's call, and the divisor is taken.
  qvtest::WriteWholeFile(folder.File("hide.fmx"),
                         "[filter] {\n fmx_ver 1\n if_visible 0\n div 5\n}\n");
  chooser.name = L"hide.fmx";
  MenuScript open;
  open.open = 1;
  g_menu = &open;
  FgSetPopupMenuHook(DriveMenu);
  filtertest::SendButton(f, 1, 8 + 5, 8);
  ASSERT_TRUE(PumpUntil([&] { return f->GetApplied().div == 5; }, 5000));
  FgSetPopupMenuHook(nullptr);
  g_menu = nullptr;
  filtertest::Settle();
  EXPECT_EQ(4, chooser.shown);
  EXPECT_EQ(0u, f->m_dialogVisible);
  EXPECT_STREQ(L"/tmp", LastFolder);
  FgSetFileSelectHook(nullptr);
  g_chooser = nullptr;
  LastFolder[0] = 0;
}

INSTANTIATE_TEST_SUITE_P(Languages, ConvolutionMenuX11, ::testing::Values(L"en", L"jp"));

}  // namespace
