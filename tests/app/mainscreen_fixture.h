// mainscreen_fixture.h - the real main window on the X server for window tests of opening,
// scene loading and the overlay: messages and file choosers answered by script (and
// recorded), the picture of every redraw kept (the worker redraws too), and fixture files
// made by outside tools.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/mainscreen.h"
#include "core/parallel.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"

namespace mstest {

// Eight processors, whatever the machine: the title shows them.
inline const int g_eightCores = (SetProcessorCountForTesting(8), 0);

// One message box the program showed.
struct Shown {
  std::wstring text, caption;
};

inline std::mutex g_scriptLock;
inline std::vector<Shown> g_messages;
inline std::deque<std::wstring> g_choices;  // answers of the next choosers; empty: Cancel
inline std::vector<std::wstring> g_chooserTitles;

inline int32_t RecordMessage(const wchar_t* text, const wchar_t* caption, int32_t, CFgScreen*) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_messages.push_back({text ? text : L"", caption ? caption : L""});
  return 0;
}

inline int32_t ScriptedChooser(wchar_t* buffer, uint64_t size, const FileSelectOptions* options,
                               CFgScreen*) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_chooserTitles.push_back(options && options->title ? options->title : L"");
  if (g_choices.empty()) return 0;
  std::wstring answer = g_choices.front();
  g_choices.pop_front();
  if (answer.size() + 1 > size) return 0;
  wcscpy(buffer, answer.c_str());
  return 1;
}

// The main screen keeping the back buffer of its last redraw, top row first.
class ShotMainScreen : public CMainScreen {
 public:
  void DrawOverlay() override {
    CFgUIDialog::DrawOverlay();
    const uint64_t w = m_clientWidth, h = m_clientHeight;
    std::vector<uint8_t> up = toolkittest::ReadBack(w, h);
    std::lock_guard<std::mutex> hold(lock);
    pixels.assign(up.size(), 0);
    for (uint64_t y = 0; y < h; ++y)
      std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
                pixels.begin() + long(y * w * 3));
    width = w;
    ++redraws;
  }
  // R, G, B at window pixel (x, y) of the last redraw; all -1 before one.
  std::vector<int> At(int32_t x, int32_t y) {
    std::lock_guard<std::mutex> hold(lock);
    const uint64_t i = (uint64_t(y) * width + uint64_t(x)) * 3;
    if (pixels.empty() || i + 2 >= pixels.size()) return {-1, -1, -1};
    return {pixels[i], pixels[i + 1], pixels[i + 2]};
  }
  std::mutex lock;
  std::vector<uint8_t> pixels;
  uint64_t width = 0;
  uint64_t redraws = 0;
};

class MainScreenFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(folder_.ok());
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
    {
      std::lock_guard<std::mutex> hold(g_scriptLock);
      g_messages.clear();
      g_choices.clear();
      g_chooserTitles.clear();
    }
    FgSetMessageBoxOverride(RecordMessage);
    FgSetSelectFileOverride(ScriptedChooser);
  }
  void TearDown() override {
    delete screen_;
    screen_ = nullptr;
    FgSetMessageBoxOverride(nullptr);
    FgSetSelectFileOverride(nullptr);
    SetConfigFilePathForTesting(nullptr);
  }
  // The window with English texts (unless told otherwise), the view at zoom 1 so that
  // image pixel (x, y) lies at window pixel (view x + x, view y + y).
  void Open(const wchar_t* language = L"en") {
    screen_ = new ShotMainScreen;
    ASSERT_EQ(screen_->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
    screen_->SetLanguage(language);
    screen_->m_view.SetZoom(1);
    screen_->UpdateTitle();
    screen_->Layout();
    ASSERT_TRUE(toolkittest::PumpUntil(
        [&] { return PlatIsWindowMapped(screen_->GetWindow()) != 0; }, 3000));
  }
  std::vector<Shown> TakeMessages() {
    std::lock_guard<std::mutex> hold(g_scriptLock);
    std::vector<Shown> out;
    out.swap(g_messages);
    return out;
  }
  static void Choose(const std::string& path) {
    std::lock_guard<std::mutex> hold(g_scriptLock);
    g_choices.push_back(qvtest::Utf8Wide(path));
  }
  std::string File(const std::string& name) const { return folder_.File(name); }
  std::wstring WFile(const std::string& name) const { return folder_.WideFile(name); }
  // Runs an outside tool quietly; true on success.
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  // The image pixel (x, y) as the window shows it now (after a fresh redraw).
  std::vector<int> ViewPixel(int32_t x, int32_t y) {
    screen_->Redraw();
    return screen_->At(screen_->m_view.m_x + x, screen_->m_view.m_y + y);
  }
  // The window's picture into test_out/name.
  void Shot(const std::string& name) {
    screen_->Redraw();
    std::vector<uint8_t> copy;
    {
      std::lock_guard<std::mutex> hold(screen_->lock);
      copy = screen_->pixels;
    }
    EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/" + name, copy,
                                      int(screen_->m_clientWidth), int(screen_->m_clientHeight)));
  }

  qvtest::TempFolder folder_{"mainscreen"};
  ShotMainScreen* screen_ = nullptr;
};

}  // namespace mstest
