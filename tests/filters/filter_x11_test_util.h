// filter_x11_test_util.h - what the window tests of the filter libraries share: a filter that
// keeps the picture of each redraw, a click through the X server, and a screenshot to
// test_out/.
#pragma once
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/toolkit/x11_test_util.h"
#include "toolkit/screen.h"
#include "toolkit/uiobj.h"

namespace filtertest {

// F with the picture of every redraw kept (the back buffer before the swap), top row first.
template <class F>
class ShotFilter : public F {
 public:
  void DrawOverlay() override {
    F::DrawOverlay();
    uint64_t w = this->m_clientWidth, h = this->m_clientHeight;
    std::vector<uint8_t> up = toolkittest::ReadBack(w, h);
    pixels.assign(up.size(), 0);
    for (uint64_t y = 0; y < h; ++y)
      std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
                pixels.begin() + long(y * w * 3));
  }
  std::vector<uint8_t> pixels;
};

// A left click 8 pixels into the control, halfway down, sent through the X server.
inline void Click(CFgScreen* s, const CFgUIObj& w) {
  int32_t x = w.m_x + 8, y = w.m_y + w.m_height / 2;
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 0, 1, x, y));
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 1, 1, x, y));
}

// Redraws the window and writes its picture to test_out/name.
template <class F>
void Shot(ShotFilter<F>* f, const char* name) {
  f->CFgUICtrl::Redraw();
  std::string path = std::string(QV_TEST_OUT_DIR) + "/" + name;
  EXPECT_TRUE(toolkittest::WritePng(path, f->pixels, int(f->m_clientWidth),
                                    int(f->m_clientHeight)))
      << path;
}

}  // namespace filtertest
