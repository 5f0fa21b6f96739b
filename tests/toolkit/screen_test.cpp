// screen_test.cpp - screens, keys, loops and the clipboard driven by injected messages,
// without a display (the window layer's headless mode).
#include "toolkit/screen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

// Records every input slot as text, in order.
class RecordingScreen : public CFgScreen {
 public:
  std::vector<std::string> log;
  int32_t closeAnswer = 1;
  int closeCalls = 0;
  int32_t* doneOnClick = nullptr;

  void Add(const std::string& s) { log.push_back(s); }
  void OnMouseMove(int32_t x, int32_t y) override { Add("move " + P(x, y)); }
  void OnLButtonDown(int32_t x, int32_t y) override {
    Add("ldown " + P(x, y));
    if (doneOnClick) *doneOnClick = 1;
  }
  void OnMouseWheel(int32_t x, int32_t y, int32_t n) override {
    Add("wheel " + P(x, y) + " " + std::to_string(n));
  }
  void OnSpecialKeyDown(uint16_t c) override { Add("sdown " + std::to_string(c)); }
  void OnSpecialKeyUp(uint16_t c) override { Add("sup " + std::to_string(c)); }
  void OnKeyStateChanged() override { Add("state"); }
  void OnSpecialKeyRepeat() override { Add("repeat"); }
  void OnKeyDown(wchar_t c) override { Add("down " + std::to_string(int(c))); }
  void OnKeyUp(wchar_t c) override { Add("up " + std::to_string(int(c))); }
  void OnChar(wchar_t c) override { Add("char " + std::to_string(int(c))); }
  int32_t OnClose() override {
    ++closeCalls;
    return closeAnswer;
  }
  void OnSize(uint64_t w, uint64_t h) override { Add("size " + P(int(w), int(h))); }
  void OnShow(int32_t shown) override { Add("show " + std::to_string(shown)); }
  void OnExpose() override { Add("expose"); }

  static std::string P(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
};

PlatMsg Msg(CFgScreen& s, int kind) {
  PlatMsg m;
  m.kind = kind;
  m.window = s.GetWindow();
  return m;
}

PlatMsg Key(CFgScreen& s, int kind, uint16_t key, uint16_t lock = 0) {
  PlatMsg m = Msg(s, kind);
  m.key = key;
  m.lockState = lock;
  return m;
}

PlatMsg Ch(CFgScreen& s, uint32_t ch) {
  PlatMsg m = Msg(s, PlatMsgChar);
  m.ch = ch;
  return m;
}

void Drain() {
  ASSERT_EQ(FgPumpMessages(), 1);
}

// 1 when a thread other than the caller can take the drawing lock (it lets it go at once).
int DrawLockFreeOnAnotherThread() {
  std::atomic<int> got{0};
  std::thread t([&] {
    got = FgDrawLock().TryEnter();
    if (got) FgDrawLock().Leave();
  });
  t.join();
  return got.load();
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    QuitRequested = 0;
    CFgInput().SetKeyFlags(0);
    Drain();
    ASSERT_EQ(screen.Create(10, 20, 300, 200, L"test", FgStyleDialog, nullptr), 1);
    screen.log.clear();
  }
  void TearDown() override {
    screen.Destroy();  // posts the quit message when a test made it the main screen
    while (FgPumpMessages() == 0) {
    }
    QuitRequested = 0;
    CFgInput().SetKeyFlags(0);
  }
  RecordingScreen screen;
};

TEST_F(ScreenTest, WheelNotchesAndClientPosition) {
  struct Case {
    int32_t delta;
    const char* expected;
  } cases[] = {{120, "wheel 5,6 -1"}, {-120, "wheel 5,6 1"}, {60, "wheel 5,6 0"},
               {-60, "wheel 5,6 0"},  {240, "wheel 5,6 -2"}, {-360, "wheel 5,6 3"}};
  for (const Case& c : cases) {
    screen.log.clear();
    PlatMsg m = Msg(screen, PlatMsgWheel);
    m.x = 15;  // desktop pixels: client origin is 10, 20
    m.y = 26;
    m.wheelDelta = c.delta;
    PlatPostMessage(m);
    Drain();
    ASSERT_EQ(screen.log.size(), 1u) << c.delta;
    EXPECT_EQ(screen.log[0], c.expected) << c.delta;
  }
}

TEST_F(ScreenTest, KeySequences) {
  struct Case {
    const char* name;
    std::vector<PlatMsg> msgs;
    std::vector<std::string> expected;
  };
  RecordingScreen& s = screen;
  std::vector<Case> cases = {
      {"held A",
       {Key(s, PlatMsgKeyDown, 65), Ch(s, 97), Key(s, PlatMsgKeyDown, 65), Ch(s, 97),
        Key(s, PlatMsgKeyDown, 65), Ch(s, 97), Key(s, PlatMsgKeyUp, 65)},
       {"down 97", "char 97", "up 97", "down 97", "char 97", "up 97", "down 97", "char 97",
        "up 97"}},
      {"held Shift",
       {Key(s, PlatMsgKeyDown, 16), Key(s, PlatMsgKeyDown, 16), Key(s, PlatMsgKeyDown, 16),
        Key(s, PlatMsgKeyUp, 16), Key(s, PlatMsgKeyUp, 16)},
       {"sdown 1", "state", "repeat", "repeat", "sup 1", "state"}},
      {"held Delete",
       {Key(s, PlatMsgKeyDown, 46), Key(s, PlatMsgKeyDown, 46), Key(s, PlatMsgKeyUp, 46)},
       {"down 46", "char 127", "char 127", "up 46"}},
      {"Enter as 10",
       {Key(s, PlatMsgKeyDown, 13), Ch(s, 13), Key(s, PlatMsgKeyUp, 13)},
       {"down 10", "char 10", "up 10"}},
      {"CapsLock follows the keyboard's lock",
       {Key(s, PlatMsgKeyDown, 20, 1), Key(s, PlatMsgKeyUp, 20, 1), Key(s, PlatMsgKeyDown, 20, 1),
        Key(s, PlatMsgKeyDown, 65), Key(s, PlatMsgKeyUp, 65), Key(s, PlatMsgKeyDown, 20, 0)},
       {"sdown 0", "state", "down 65", "up 65", "sdown 0", "state"}},
      {"Ctrl and arrows keep flags",
       {Key(s, PlatMsgKeyDown, 17), Key(s, PlatMsgKeyDown, 37), Key(s, PlatMsgKeyUp, 37),
        Key(s, PlatMsgKeyDown, 40), Key(s, PlatMsgKeyUp, 40), Key(s, PlatMsgKeyUp, 17)},
       {"sdown 2", "state", "sdown 5", "state", "sup 5", "state", "sdown 4", "state", "sup 4",
        "state", "sup 2", "state"}},
  };
  for (const Case& c : cases) {
    screen.log.clear();
    for (const PlatMsg& m : c.msgs) PlatPostMessage(m);
    Drain();
    EXPECT_EQ(screen.log, c.expected) << c.name;
    EXPECT_EQ(screen.GetKeyFlags() & ~FgKeyCapsLock, 0) << c.name;
  }
}

TEST_F(ScreenTest, TranslateKey) {
  struct Case {
    uint16_t flags, key;
    wchar_t expected;
  } cases[] = {
      {FgKeyShift, 50, L'"'},     {0, 50, L'2'},          {0, 48, 48},
      {FgKeyShift, 48, 48},       {FgKeyShift, 49, L'!'}, {FgKeyShift, 57, L')'},
      {0, 65, L'a'},              {FgKeyShift, 65, L'A'}, {FgKeyCapsLock, 90, L'Z'},
      {FgKeyShift | FgKeyCapsLock, 65, L'a'},             {0, 186, L':'},
      {FgKeyShift, 186, L'*'},    {FgKeyShift, 189, L'='}, {0, 192, L'@'},
      {FgKeyShift, 192, L'`'},    {0, 220, L'\\'},        {FgKeyShift, 222, L'~'},
      {0, 226, L'\\'},            {FgKeyShift, 226, L'_'}, {0, 8, 8},
      {0, 27, 27},                {0, 112, 112},          {FgKeyShift, 112, 112},
      {0, 227, 227},              {FgKeyShift, 100, 100},
  };
  for (const Case& c : cases) {
    screen.SetKeyFlags(c.flags);
    EXPECT_EQ(screen.TranslateKey(c.key), c.expected) << c.flags << " " << c.key;
  }
}

TEST_F(ScreenTest, PixelToGlMapping) {
  RecordingScreen s;
  s.m_clientWidth = 640;
  s.m_clientHeight = 500;
  EXPECT_DOUBLE_EQ(s.PixelToGlX(0), -1 + 1.0 / 640);
  EXPECT_DOUBLE_EQ(s.PixelToGlX(320), 1.0 / 640);
  EXPECT_DOUBLE_EQ(s.PixelToGlX(640), 1 + 1.0 / 640);
  EXPECT_DOUBLE_EQ(s.PixelToGlY(0), 1 - 0.5 / 500);
  EXPECT_DOUBLE_EQ(s.PixelToGlY(250), -0.5 / 500);
  EXPECT_DOUBLE_EQ(s.PixelToGlY(500), -1 - 0.5 / 500);
  // A render target's size replaces the client size.
  s.m_renderTargetWidth = 1024;
  s.m_renderTargetHeight = 512;
  EXPECT_DOUBLE_EQ(s.PixelToGlX(512), 1.0 / 1024);
  EXPECT_DOUBLE_EQ(s.PixelToGlY(256), -0.5 / 512);
}

TEST_F(ScreenTest, NestedDrawingSectionsSwapOnlyAtTheOutermostEnd) {
  PlatWindow* w = screen.GetWindow();
  uint64_t swaps = PlatTestSwapCount(w);
  ASSERT_EQ(screen.BeginDraw(), 1);
  EXPECT_EQ(FgGetDrawSurface().kind, 1);
  EXPECT_EQ(FgGetDrawSurface().width, 300u);
  ASSERT_EQ(screen.BeginDraw(), 1);
  screen.EndDraw(1);  // nested: counts down, no swap
  EXPECT_EQ(PlatTestSwapCount(w), swaps);
  EXPECT_EQ(screen.m_drawNesting, 1u);
  screen.EndDraw(0);  // outermost without swap: front buffer kept
  EXPECT_EQ(PlatTestSwapCount(w), swaps);
  EXPECT_EQ(FgGetDrawSurface().kind, 0);
  screen.EndDraw(1);  // no open section: nothing
  EXPECT_EQ(PlatTestSwapCount(w), swaps);

  // The lock is free for another thread again.
  EXPECT_EQ(DrawLockFreeOnAnotherThread(), 1);

  ASSERT_EQ(screen.BeginDraw(), 1);
  screen.EndDraw(1);
  EXPECT_EQ(PlatTestSwapCount(w), swaps + 1);

  RecordingScreen noWindow;
  EXPECT_EQ(noWindow.BeginDraw(), 0);
  EXPECT_EQ(DrawLockFreeOnAnotherThread(), 1) << "a failed BeginDraw must not keep the lock";
}

TEST_F(ScreenTest, DestroyInsideAnOpenSectionLeavesTheLock) {
  ASSERT_EQ(screen.BeginDraw(), 1);
  ASSERT_EQ(screen.BeginDraw(), 1);
  screen.Destroy();
  EXPECT_EQ(screen.m_drawNesting, 0u);
  EXPECT_EQ(DrawLockFreeOnAnotherThread(), 1);
  screen.EndDraw(1);  // the caller's matching ends now do nothing
  screen.EndDraw(1);
}

TEST_F(ScreenTest, CloseRequests) {
  PlatWindow* w = screen.GetWindow();
  screen.m_closeAllowed = 0;
  PlatPostMessage(Msg(screen, PlatMsgClose));
  Drain();
  EXPECT_EQ(screen.closeCalls, 0);
  EXPECT_EQ(screen.GetWindow(), w);

  screen.m_closeAllowed = 1;
  screen.closeAnswer = 0;
  PlatPostMessage(Msg(screen, PlatMsgClose));
  Drain();
  EXPECT_EQ(screen.closeCalls, 1);
  EXPECT_EQ(screen.GetWindow(), w);

  screen.closeAnswer = 1;
  PlatPostMessage(Msg(screen, PlatMsgClose));
  PlatPostMessage(Msg(screen, PlatMsgLButtonDown));  // queued for a window that goes away
  Drain();
  EXPECT_EQ(screen.closeCalls, 2);
  EXPECT_EQ(screen.GetWindow(), nullptr);
  EXPECT_EQ(screen.m_clientWidth, 0u);
  EXPECT_TRUE(screen.log.empty());
  EXPECT_EQ(QuitRequested, 0);
}

TEST_F(ScreenTest, CreateArguments) {
  RecordingScreen s;
  EXPECT_EQ(s.Create(5, -1, 100, 100, L"x", 0, nullptr), 0);
  EXPECT_EQ(s.Create(-1, 5, 100, 100, L"x", 0, nullptr), 0);
  EXPECT_EQ(s.Create(-2, -2, 100, 100, L"x", 0, nullptr), 0);
  EXPECT_EQ(s.Create(0, 0, 0, 100, L"x", 0, nullptr), 0);
  EXPECT_EQ(s.Create(0, 0, 100, 0, L"x", 0, nullptr), 0);
  EXPECT_EQ(s.GetWindow(), nullptr);

  // Centred on the parent (client 300 x 200 at 10, 20).
  ASSERT_EQ(s.Create(-1, -1, 200, 100, L"child", FgStyleDialog, &screen), 1);
  EXPECT_EQ(s.m_x, 60);
  EXPECT_EQ(s.m_y, 70);
  EXPECT_EQ(s.m_parent, &screen);
  EXPECT_EQ(s.m_imeX, 0);
  EXPECT_EQ(s.m_visible, 1);

  // Framed windows get at least the minimum client size; popups keep theirs. The message
  // box's 112 x 66 is kept.
  ASSERT_EQ(s.Create(0, 0, 20, 10, L"small", FgStyleDialog, nullptr), 1);
  EXPECT_EQ(s.m_clientWidth, uint64_t(kPlatMinClientWidth));
  EXPECT_EQ(s.m_clientHeight, uint64_t(kPlatMinClientHeight));
  ASSERT_EQ(s.Create(0, 0, 112, 66, L"box", FgStyleDialog, nullptr), 1);
  EXPECT_EQ(s.m_clientWidth, 112u);
  EXPECT_EQ(s.m_clientHeight, 66u);
  ASSERT_EQ(s.Create(0, 0, 20, 10, L"popup", FgStylePopup, nullptr), 1);
  EXPECT_EQ(s.m_clientWidth, 20u);

  // A title longer than the field is cut at 257 units.
  std::wstring longTitle(400, L'x');
  ASSERT_EQ(s.Create(0, 0, 120, 40, longTitle.c_str(), 0, nullptr), 1);
  EXPECT_EQ(std::wstring(s.m_title).size(), 257u);
  s.Destroy();
  EXPECT_EQ(s.m_title[0], 0);
}

TEST_F(ScreenTest, ShowAndSizeRenewTheContext) {
  uint64_t gen = screen.m_contextGeneration;
  ASSERT_EQ(screen.ShowWindow(0), 1);
  EXPECT_EQ(screen.m_visible, 0);
  EXPECT_EQ(screen.m_contextLostWhileHidden, 1);
  ASSERT_EQ(screen.ShowWindow(1), 1);
  EXPECT_EQ(screen.m_visible, 1);
  EXPECT_EQ(screen.m_contextLostWhileHidden, 0);
  EXPECT_EQ(screen.m_contextGeneration, gen + 1);
  EXPECT_EQ((std::vector<std::string>{"show 0", "show 1"}), screen.log);

  screen.log.clear();
  PlatMsg m = Msg(screen, PlatMsgSize);
  m.x = 400;
  m.y = 250;
  PlatPostMessage(m);
  Drain();
  EXPECT_EQ(screen.m_contextGeneration, gen + 2);
  EXPECT_EQ((std::vector<std::string>{"size 400,250"}), screen.log);
}

TEST_F(ScreenTest, ModalLoopDropsInputForOtherWindows) {
  RecordingScreen other;
  ASSERT_EQ(other.Create(400, 20, 200, 100, L"other", 0, nullptr), 1);
  other.log.clear();
  int32_t done = 0;
  screen.doneOnClick = &done;
  PlatMsg click = Msg(other, PlatMsgLButtonDown);
  PlatPostMessage(click);
  PlatPostMessage(Key(other, PlatMsgKeyDown, 65));
  PlatPostMessage(Ch(other, 97));
  PlatPostMessage(Msg(other, PlatMsgExpose));  // repaint still runs
  PlatMsg move = Msg(other, PlatMsgMove);
  move.x = 420;
  move.y = 30;
  PlatPostMessage(move);
  PlatMsg own = Msg(screen, PlatMsgLButtonDown);
  own.x = 3;
  own.y = 4;
  PlatPostMessage(own);
  FgRunModal(&done, &screen);
  EXPECT_EQ(done, 1);
  EXPECT_EQ((std::vector<std::string>{"expose"}), other.log);
  EXPECT_EQ(other.m_x, 420);
  EXPECT_EQ((std::vector<std::string>{"ldown 3,4"}), screen.log);
  EXPECT_EQ(QuitRequested, 0);
}

TEST_F(ScreenTest, QuitInsideANestedLoopEndsTheMainLoop) {
  int32_t done = 0;
  PlatPostQuit();
  PlatPostMessage(Msg(screen, PlatMsgExpose));
  FgRunModal(&done, &screen);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(QuitRequested, 1);
  EXPECT_TRUE(screen.log.empty());
  // The main loop returns at once; the expose stays queued for whoever pumps next.
  FgRunMessageLoop(&screen);
  EXPECT_TRUE(screen.log.empty());
  EXPECT_EQ(FgMainScreen(), &screen);

  QuitRequested = 0;
  PlatPostQuit();
  EXPECT_EQ(FgPumpMessages(), 0);  // quit met: the expose after it stays queued
  EXPECT_EQ(QuitRequested, 1);
  Drain();
  EXPECT_EQ((std::vector<std::string>{"expose"}), screen.log);
}

TEST_F(ScreenTest, DestroyingTheMainScreenEndsTheMainLoop) {
  PlatPostMessage(Msg(screen, PlatMsgClose));
  FgRunMessageLoop(&screen);  // close destroys the window, which posts the quit message
  EXPECT_EQ(screen.GetWindow(), nullptr);
  EXPECT_EQ(QuitRequested, 0);  // the main loop's own quit needs no flag
}

TEST_F(ScreenTest, PostedMessageWakesTheBlockingLoop) {
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PlatPostQuit();
  });
  FgRunMessageLoop(&screen);
  poster.join();
  SUCCEED();
}

TEST(ClipboardTest, BufferRules) {
  ASSERT_EQ(SetClipboardText(L"ab\r\ncd"), 1);
  EXPECT_EQ(GetClipboardText(nullptr, 0), 6u);  // "ab\ncd" plus terminator
  struct Case {
    uint64_t capacity;
    std::wstring expected;
  } cases[] = {{100, L"ab\ncd"}, {6, L"ab\ncd"}, {5, L"ab\nc"}, {3, L"ab"}, {1, L""}};
  for (const Case& c : cases) {
    wchar_t buffer[128];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(GetClipboardText(buffer, c.capacity), 6u) << c.capacity;
    EXPECT_EQ(std::wstring(buffer), c.expected) << c.capacity;
    EXPECT_EQ(buffer[c.capacity], L'#') << "wrote past the capacity " << c.capacity;
  }
  wchar_t untouched[2] = {L'#', 0};
  EXPECT_EQ(GetClipboardText(untouched, 0), 6u);
  EXPECT_EQ(untouched[0], L'#');

  ASSERT_EQ(SetClipboardText(L""), 1);
  EXPECT_EQ(GetClipboardText(nullptr, 0), 0u);
  ASSERT_EQ(SetClipboardText(L"x"), 1);
  ASSERT_EQ(SetClipboardText(nullptr), 1);
  EXPECT_EQ(GetClipboardText(nullptr, 0), 0u);
}

TEST(HelperTest, NextPow2) {
  struct Case {
    uint64_t n, expected;
  } cases[] = {{0, 0},   {1, 1},        {2, 2},    {3, 4},
               {640, 1024}, {1024, 1024}, {1025, 2048},
               {uint64_t(1) << 63, uint64_t(1) << 63}, {(uint64_t(1) << 63) + 1, 0}};
  for (const Case& c : cases) EXPECT_EQ(NextPow2(c.n), c.expected) << c.n;
}

TEST(HelperTest, WaitSignalHandsOverBetweenThreads) {
  EXPECT_EQ(WaitSignal(nullptr, nullptr, nullptr), 0);
  PlatformEvent request, reply;
  PlatformLock lock;
  std::thread worker([&] {
    ASSERT_EQ(request.Wait(5000), 1);
    reply.Set();
  });
  lock.Enter();
  // Leaves the lock, wakes the worker and waits for its answer.
  EXPECT_EQ(WaitSignal(&request, &reply, &lock), 1);
  worker.join();
  EXPECT_EQ(lock.TryEnter(), 1);
  lock.Leave();

  // A reply set before the call is reset first and does not count.
  reply.Set();
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reply.Set();
  });
  EXPECT_EQ(WaitSignal(nullptr, &reply, nullptr), 1);
  late.join();
}

}  // namespace
