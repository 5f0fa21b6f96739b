// overlay_target.h - a real main window as the target of the overlay pass, for the window
// tests that draw a filter's marks themselves: the main screen points the pixel-to-GL mapping
// at itself when it is made, so the tests see what the program's own window gives, and its
// settings file goes to a folder of the test's own.  One pass of a chain's overlays over a
// black window, read back top row first (also for the mapping's own tests on a plain window).
#pragma once
#include <GL/gl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/mainscreen.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

namespace qvtest {

// The overlays of ctrl's chain over screen cleared to black, the view (vx0, vy0)-(vx1, vy1)
// showing image (ix0, iy0)-(ix1, iy1) at zoom; blend on for smoothed text.  Top row first;
// empty when the window cannot be drawn.
inline std::vector<uint8_t> OverlayPass(CFgScreen& screen, CFilterCtrl& ctrl, CFgFont* font,
                                        int32_t vx0, int32_t vy0, int32_t vx1, int32_t vy1,
                                        int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                                        int32_t zoom, bool blend = false) {
  std::vector<uint8_t> top;
  if (!screen.BeginDraw()) return top;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  if (blend) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  ctrl.DrawOverlays(&screen, font, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom);
  glFinish();
  const uint64_t w = screen.m_clientWidth, h = screen.m_clientHeight;
  std::vector<uint8_t> rgb = toolkittest::ReadBack(w, h);
  if (blend) glDisable(GL_BLEND);
  screen.EndDraw(1);
  top.resize(rgb.size());
  for (uint64_t y = 0; y < h; ++y)
    std::copy(rgb.begin() + long((h - 1 - y) * w * 3), rgb.begin() + long((h - y) * w * 3),
              top.begin() + long(y * w * 3));
  return top;
}

class MainWindowTarget {
 public:
  MainWindowTarget() = default;
  MainWindowTarget(const MainWindowTarget&) = delete;
  MainWindowTarget& operator=(const MainWindowTarget&) = delete;
  ~MainWindowTarget() {
    delete screen_;
    if (folder_.ok()) SetConfigFilePathForTesting(nullptr);
  }
  // A main window of width x height client pixels; false when it cannot be made.
  bool Open(int32_t width, int32_t height, const wchar_t* title = L"overlay target") {
    if (!folder_.ok()) return false;
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
    screen_ = new CMainScreen;
    return screen_->Create(50, 50, uint64_t(width), uint64_t(height), title, FgStyleDialog,
                           nullptr) == 1;
  }
  CMainScreen& Screen() { return *screen_; }
  uint64_t Width() const { return screen_->m_clientWidth; }
  uint64_t Height() const { return screen_->m_clientHeight; }

  // One pass over this window (OverlayPass below).
  std::vector<uint8_t> Pass(CFilterCtrl& ctrl, CFgFont* font, int32_t vx0, int32_t vy0,
                            int32_t vx1, int32_t vy1, int32_t ix0, int32_t iy0, int32_t ix1,
                            int32_t iy1, int32_t zoom, bool blend = false);

 private:
  TempFolder folder_{"overlay_target"};
  CMainScreen* screen_ = nullptr;
};

inline std::vector<uint8_t> MainWindowTarget::Pass(CFilterCtrl& ctrl, CFgFont* font, int32_t vx0,
                                                   int32_t vy0, int32_t vx1, int32_t vy1,
                                                   int32_t ix0, int32_t iy0, int32_t ix1,
                                                   int32_t iy1, int32_t zoom, bool blend) {
  return OverlayPass(*screen_, ctrl, font, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom, blend);
}

}  // namespace qvtest
