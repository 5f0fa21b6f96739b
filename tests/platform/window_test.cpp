// window_test.cpp - the window layer's message queue in headless mode: order, dispatch to
// the window's handler, messages of destroyed windows dropped, synchronous show and destroy.
#include "platform/window.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

std::vector<std::string> g_seen;

void Handler(PlatWindow* w, const PlatMsg& m) {
  g_seen.push_back(std::string(static_cast<const char*>(PlatGetWindowUser(w))) + " " +
                   std::to_string(m.kind));
}

PlatWindow* Make(const char* name) {
  PlatWindowDesc d;
  d.x = 1;
  d.y = 2;
  d.width = 30;
  d.height = 20;
  d.handler = Handler;
  d.user = const_cast<char*>(name);
  return PlatCreateWindow(d);
}

TEST(WindowLayerTest, QueueOrderDispatchAndDestroyedWindows) {
  (void)g_headless;
  ASSERT_EQ(PlatInit(), 1);
  g_seen.clear();
  PlatWindow* a = Make("a");
  PlatWindow* b = Make("b");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  int32_t w = 0, h = 0;
  PlatGetClientSize(a, &w, &h);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 20);

  // Show reaches the handler synchronously, once per change.
  PlatShowWindow(a, 1);
  PlatShowWindow(a, 1);
  EXPECT_EQ((std::vector<std::string>{"a " + std::to_string(PlatMsgShow)}), g_seen);
  g_seen.clear();

  PlatMsg m;
  m.kind = PlatMsgMouseMove;
  m.window = a;
  PlatPostMessage(m);
  m.window = b;
  m.kind = PlatMsgLButtonDown;
  PlatPostMessage(m);
  m.window = a;
  m.kind = PlatMsgChar;
  PlatPostMessage(m);
  PlatDestroyWindow(b);  // destroy message now; b's queued click is dropped
  EXPECT_EQ((std::vector<std::string>{"b " + std::to_string(PlatMsgDestroy)}), g_seen);
  g_seen.clear();
  PlatMsg got;
  while (PlatPeekMessage(&got)) PlatDispatchMessage(got);
  EXPECT_EQ((std::vector<std::string>{"a " + std::to_string(PlatMsgMouseMove),
                                      "a " + std::to_string(PlatMsgChar)}),
            g_seen);

  // A message posted from another thread wakes a waiting PlatGetMessage.
  std::thread poster([] { PlatPostQuit(); });
  ASSERT_EQ(PlatGetMessage(&got), 1);
  poster.join();
  EXPECT_EQ(got.kind, PlatMsgQuit);
  EXPECT_EQ(got.window, nullptr);
  PlatDestroyWindow(a);
}

TEST(WindowLayerTest, InputKinds) {
  struct Case {
    int kind, input;
  } cases[] = {{PlatMsgMouseMove, 1}, {PlatMsgWheel, 1},  {PlatMsgKeyDown, 1},
               {PlatMsgChar, 1},      {PlatMsgMButtonUp, 1}, {PlatMsgExpose, 0},
               {PlatMsgMove, 0},      {PlatMsgClose, 0},  {PlatMsgQuit, 0}};
  for (const Case& c : cases) EXPECT_EQ(PlatIsInputMsg(c.kind), c.input) << c.kind;
}

}  // namespace
