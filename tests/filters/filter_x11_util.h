// filter_x11_util.h - what the window tests of the filter libraries share: a filter class
// that keeps the picture of its window's every redraw and saves it as a PNG screenshot.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/toolkit/x11_test_util.h"

namespace filtertest {

// Keeps the picture of every redraw (the back buffer before the swap), top row first.
template <class Base>
class ShotFilter : public Base {
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
  // Redraws, then writes the last picture to test_out/name.
  void Save(const std::string& name) {
    this->CFgUICtrl::Redraw();
    for (int i = 0; i < 5; ++i) FgPumpMessages();
    std::string path = std::string(QV_TEST_OUT_DIR) + "/" + name;
    EXPECT_TRUE(toolkittest::WritePng(path, pixels, int(this->m_clientWidth),
                                      int(this->m_clientHeight)))
        << path;
  }
  std::vector<uint8_t> pixels;
};

}  // namespace filtertest
