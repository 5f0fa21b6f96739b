// x11_test_util.h - helpers for the toolkit tests that run on a real X server: the skip when
// no display is there, pumping messages until a condition holds, and reading the back buffer.
#pragma once
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "toolkit/screen.h"

#define REQUIRE_DISPLAY() \
  if (!PlatHasDisplay()) GTEST_SKIP() << "no X display"

namespace toolkittest {

// Pumps until pred holds or ms pass; 1 when it held.
template <class Pred>
int PumpUntil(Pred pred, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return 0;
    FgPumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return 1;
}

// The back buffer of the current drawing section as R,G,B bytes, bottom row first (GL order).
inline std::vector<uint8_t> ReadBack(uint64_t w, uint64_t h) {
  std::vector<uint8_t> rgb(size_t(w * h * 3));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);  // before the swap: the back buffer holds what was drawn
  glReadPixels(0, 0, GLsizei(w), GLsizei(h), GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  return rgb;
}

}  // namespace toolkittest
