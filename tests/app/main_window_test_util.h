// main_window_test_util.h - the real main window on an X server for the tests of what lives
// in it (side panel, calibration): a window that keeps the picture of its last redraw, a
// fixture with a private settings file, a still source, and filters that change pixels.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/mainscreen.h"
#include "app_test_util.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"

namespace mwtest {

// The main window with a hook that draws over it (as its overlay would) before the picture
// is kept.
class HookedMainScreen : public CMainScreen {
 public:
  void DrawOverlay() override {
    CMainScreen::DrawOverlay();
    if (m_overlayHook) m_overlayHook();
  }
  std::function<void()> m_overlayHook;
};
using MainShot = filtertest::ShotWindow<HookedMainScreen>;

// Inverts every byte of the picture (a visible, exact processing step).
class InvertFilter : public apptest::RecordingFilter {
 public:
  using RecordingFilter::RecordingFilter;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t w, int64_t h,
               uint32_t c, uint32_t b) override {
    RecordingFilter::Process(picture, scene, x, y, w, h, c, b);
    if (!picture->Format()) return;
    uint8_t* p = static_cast<uint8_t*>(picture->Pixels());
    const uint64_t n = uint64_t(picture->Width()) * picture->Height() *
                       uint64_t(ImgBytesPerPixel[picture->Format()]);
    for (uint64_t i = 0; i < n; ++i) p[i] = uint8_t(255 - p[i]);
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(folder_.ok());
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
  }
  void TearDown() override {
    Close();
    SetConfigFilePathForTesting(nullptr);
  }
  void Open() {
    screen_ = new MainShot;
    ASSERT_EQ(screen_->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
    screen_->UpdateTitle();
    screen_->Layout();
    ASSERT_TRUE(toolkittest::PumpUntil(
        [&] { return PlatIsWindowMapped(screen_->GetWindow()) != 0; }, 3000));
  }
  // Filters log into logs on the test's stack: the screen must go before them.
  void Close() {
    delete screen_;
    screen_ = nullptr;
  }
  CSidePanel& Panel() { return screen_->m_sidePanel; }
  // A w x h 8-bit RGB still as the source, each byte set from its index.
  void ShowStill(int32_t w, int32_t h) {
    CImgBuff picture;
    apptest::MakePicture(picture, w, h, ImgFormatRgb24);
    screen_->ReplaceSource(&picture);
  }
  // The window point that shows image pixel (ix, iy), found by asking the view; false when
  // the pixel is not shown.
  bool WindowPointOf(int32_t ix, int32_t iy, int32_t* outX, int32_t* outY) {
    const CFgUIPicture& v = screen_->m_view;
    for (int32_t y = v.m_y; y < v.m_y + v.m_height; ++y)
      for (int32_t x = v.m_x; x < v.m_x + v.m_width; ++x) {
        int32_t px = x, py = y;
        if (v.ClientToImage(&px, &py) && px == ix && py == iy) {
          *outX = x;
          *outY = y;
          return true;
        }
      }
    return false;
  }
  void Click(int32_t x, int32_t y, uint32_t button = 1) {
    filtertest::SendButton(screen_, button, x, y);
  }
  // Redraws and returns the picture, top row first.
  const std::vector<uint8_t>& Picture() {
    screen_->pixels.clear();
    screen_->CFgUICtrl::Redraw();
    EXPECT_TRUE(toolkittest::PumpUntil([&] { return !screen_->pixels.empty(); }, 3000));
    return screen_->pixels;
  }
  void Save(const std::string& name) { filtertest::SaveShot(screen_, name); }
  // The filters' calls so far, without the overlay drawing every redraw of the view brings.
  std::vector<std::string> Calls() {
    std::vector<std::string> out;
    for (std::string& l : log_.Take())
      if (l.find(":DrawOverlay") == std::string::npos) out.push_back(std::move(l));
    return out;
  }

  qvtest::TempFolder folder_{"mainwindow"};
  apptest::CallLog log_;  // outlives the screen, whose filters write into it
  MainShot* screen_ = nullptr;
};

}  // namespace mwtest
