// window_x11_test.cpp - the window layer on a real X server (Xvfb under scripts/test):
// requests from other programs that fail on the server must not end the process.
#include "platform/window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

void Handler(PlatWindow*, const PlatMsg&) {}

// Reads and dispatches messages for ms milliseconds.
void Pump(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  PlatMsg m;
  while (std::chrono::steady_clock::now() < until) {
    while (PlatPeekMessage(&m)) PlatDispatchMessage(m);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// A program asks for the clipboard and quits before the answer: writing the answer onto
// its window fails on the server (BadWindow). The layer goes on, and still serves the
// clipboard afterwards.
TEST(WindowLayerX11Test, ClipboardRequestFromVanishedWindowIsSurvived) {
  if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
  PlatWindowDesc d;
  d.width = 40;
  d.height = 30;
  d.handler = Handler;
  PlatWindow* w = PlatCreateWindow(d);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(PlatClipboardSetText(L"kept"), 1);
  // Window ids with the top bits set are never handed out by the server.
  ASSERT_EQ(PlatTestSendInput(w, 4, 0x3FFFFFF0u, 0, 0), 1);
  Pump(200);
  PlatCapsLockState();  // a round trip: the error, if any, has come back by now
  Pump(50);
  std::wstring text;
  ASSERT_EQ(PlatClipboardGetText(&text), 1);
  EXPECT_EQ(text, L"kept");
  PlatDestroyWindow(w);
}

}  // namespace
