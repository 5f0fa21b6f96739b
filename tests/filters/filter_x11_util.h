// filter_x11_util.h - what the X window tests of the filter libraries share: a filter window
// that keeps the picture of its last redraw, a real click on one of its controls, and a
// screenshot of it into test_out/; a filter that saves its own screenshot, and button and key
// senders that let the window take each event before the next.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
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
