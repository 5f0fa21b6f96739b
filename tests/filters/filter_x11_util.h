// filter_x11_util.h - what the window tests of the filter libraries share: a filter class
// that keeps the picture of its window's every redraw and saves it as a PNG screenshot.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
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

// Lets the window take what the X server delivered, a little at a time.
inline void Settle() {
  for (int i = 0; i < 5; ++i) {
    FgPumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
// A press and release of a mouse button at (x, y) (4 and 5 the wheel), then Settle.
inline void SendButton(CFgScreen* s, uint32_t button, int32_t x, int32_t y) {
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 0, button, x, y));
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 1, button, x, y));
  Settle();
}
// A press and release of one key, then Settle: the boxes read the key state of each key
// before the next arrives.
inline void SendKey(CFgScreen* s, uint32_t key) {
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 2, key, 0, 0));
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 3, key, 0, 0));
  Settle();
}

}  // namespace filtertest
