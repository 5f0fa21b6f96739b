// filter_x11_util.h - what the X window tests of the filter libraries share: a filter window
// that keeps the picture of its last redraw, a real click on one of its controls, and a
// screenshot of it into test_out/.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/toolkit/x11_test_util.h"

namespace filtertest {

// Keeps the picture of every redraw (the back buffer before the swap), top row first.
template <class Base>
class ShotWindow : public Base {
 public:
  void DrawOverlay() override {
    Base::DrawOverlay();
    uint64_t w = this->m_clientWidth, h = this->m_clientHeight;
    std::vector<uint8_t> up = toolkittest::ReadBack(w, h);
    pixels.assign(up.size(), 0);
    for (uint64_t y = 0; y < h; ++y)
      std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
                pixels.begin() + long(y * w * 3));
  }
  const uint8_t* At(int x, int y) const { return &pixels[(y * this->m_clientWidth + x) * 3]; }
  std::vector<uint8_t> pixels;
};

// A real left click near the control's left edge, half way down.
inline void ClickControl(CFgScreen* s, const CFgUIObj& w) {
  int32_t x = w.m_x + 8, y = w.m_y + w.m_height / 2;
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 0, 1, x, y));
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 1, 1, x, y));
}

// Redraws, waits for the picture and writes it to test_out/name.
template <class F>
void SaveShot(F* f, const std::string& name) {
  f->pixels.clear();
  f->CFgUICtrl::Redraw();
  ASSERT_TRUE(toolkittest::PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  std::string path = std::string(QV_TEST_OUT_DIR) + "/" + name;
  EXPECT_TRUE(
      toolkittest::WritePng(path, f->pixels, int(f->m_clientWidth), int(f->m_clientHeight)))
      << path;
}

}  // namespace filtertest
