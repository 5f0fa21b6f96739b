// screen_x11_test.cpp - screens on a real X server (Xvfb under scripts/test): contexts,
// stencil clipping read back, drawing from a second thread while the UI thread pumps,
// prompt delivery of posted messages and clicks, keys through the server, the clipboard
// with another program (xclip).
#include "platform/window.h"
#include "toolkit/screen.h"
#include "toolkit/uiobj.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/toolkit/x11_test_util.h"

namespace {

using namespace toolkittest;

using Clock = std::chrono::steady_clock;

class Recorder : public CFgScreen {
 public:
  std::atomic<int> clicks{0};
  int32_t* done = nullptr;
  std::vector<std::string> keys;
  void OnLButtonDown(int32_t, int32_t) override {
    ++clicks;
    if (done) *done = 1;
  }
  void OnKeyDown(wchar_t c) override { keys.push_back("down " + std::to_string(int(c))); }
  void OnKeyUp(wchar_t c) override { keys.push_back("up " + std::to_string(int(c))); }
  void OnChar(wchar_t c) override { keys.push_back("char " + std::to_string(int(c))); }
};

// Pixel (x, y) with row 0 at the top of the window.
const unsigned char* At(const std::vector<unsigned char>& rgb, uint64_t w, uint64_t h, int x,
                        int y) {
  return &rgb[size_t(((h - 1 - uint64_t(y)) * w + uint64_t(x)) * 3)];
}

void FillWindow(double r, double g, double b) {
  glColor3d(r, g, b);
  glBegin(GL_QUADS);
  glVertex2d(-1, -1);
  glVertex2d(1, -1);
  glVertex2d(1, 1);
  glVertex2d(-1, 1);
  glEnd();
}

TEST(ScreenX11Test, TwoWindowsEachWithItsOwnContext) {
  REQUIRE_DISPLAY();
  Recorder a, b;
  ASSERT_EQ(a.Create(20, 20, 160, 120, L"first", FgStyleDialog, nullptr), 1);
  ASSERT_EQ(b.Create(-1, -1, 140, 100, L"second ウィンドウ", FgStyleResizable, &a), 1);
  EXPECT_NE(a.m_glContext, b.m_glContext);
  EXPECT_EQ(b.m_clientWidth, 140u);
  struct Case {
    Recorder* s;
    unsigned char r, g;
  } cases[] = {{&a, 255, 0}, {&b, 0, 255}, {&a, 255, 0}};
  for (const Case& c : cases) {
    ASSERT_EQ(c.s->BeginDraw(), 1);
    FillWindow(c.r / 255.0, c.g / 255.0, 0);
    std::vector<unsigned char> rgb = ReadBack(c.s->m_clientWidth, c.s->m_clientHeight);
    c.s->EndDraw(1);
    const unsigned char* p = At(rgb, c.s->m_clientWidth, c.s->m_clientHeight, 5, 5);
    EXPECT_EQ(p[0], c.r);
    EXPECT_EQ(p[1], c.g);
  }
  b.Destroy();
  a.Destroy();
}

TEST(ScreenX11Test, StencilClippedFillReadBack) {
  REQUIRE_DISPLAY();
  CFgUIDialog d;
  ASSERT_EQ(d.Create(40, 40, 200, 150, L"clip", FgStyleDialog, nullptr), 1);
  const uint64_t w = d.m_clientWidth, h = d.m_clientHeight;
  ASSERT_EQ(w, 200u);
  ASSERT_EQ(h, 150u);
  ASSERT_EQ(d.BeginDraw(), 1);
  d.DrawBackground();                  // triple 5, light gray
  ASSERT_EQ(d.SetClipRect(20, 30, 79, 89), 1);
  FillWindow(1, 0, 0);                 // clipped to the 60 x 60 rectangle
  glDisable(GL_STENCIL_TEST);
  std::vector<unsigned char> rgb = ReadBack(w, h);
  d.EndDraw(1);

  struct Probe {
    int x, y, red;
  } probes[] = {{20, 30, 1}, {79, 30, 1}, {20, 89, 1}, {79, 89, 1}, {50, 60, 1},
                {19, 30, 0}, {80, 30, 0}, {20, 29, 0}, {20, 90, 0}, {80, 90, 0}, {0, 0, 0}};
  for (const Probe& p : probes) {
    const unsigned char* px = At(rgb, w, h, p.x, p.y);
    if (p.red) {
      EXPECT_EQ(px[0], 255) << p.x << "," << p.y;
      EXPECT_EQ(px[1], 0) << p.x << "," << p.y;
    } else {
      EXPECT_NEAR(px[0], 230, 1) << p.x << "," << p.y;  // 0.9 gray
      EXPECT_NEAR(px[1], 230, 1) << p.x << "," << p.y;
    }
  }
  int redCount = 0;
  for (size_t i = 0; i < rgb.size(); i += 3) redCount += rgb[i] == 255 && rgb[i + 1] == 0;
  EXPECT_EQ(redCount, 60 * 60);

  // Screenshot: PPM (rows top first), turned into PNG by ImageMagick.
  std::string ppm = std::string(QV_TEST_OUT_DIR) + "/stencil_clip.ppm";
  std::string png = std::string(QV_TEST_OUT_DIR) + "/stencil_clip.png";
  FILE* f = std::fopen(ppm.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "P6\n%d %d\n255\n", int(w), int(h));
  for (uint64_t y = 0; y < h; ++y) std::fwrite(At(rgb, w, h, 0, int(y)), 1, size_t(w * 3), f);
  std::fclose(f);
  std::remove(png.c_str());
  EXPECT_EQ(std::system(("/usr/bin/convert '" + ppm + "' '" + png + "'").c_str()), 0);
  FILE* check = std::fopen(png.c_str(), "rb");
  EXPECT_NE(check, nullptr);
  if (check) std::fclose(check);
}

TEST(ScreenX11Test, SecondThreadDrawsWhileTheUiThreadPumps) {
  REQUIRE_DISPLAY();
  CFgUIDialog d;
  ASSERT_EQ(d.Create(60, 60, 160, 120, L"worker", FgStyleResizable, nullptr), 1);
  std::atomic<int> finished{0};
  std::atomic<int> failures{0};
  const int kSections = 3000;
  std::thread worker([&] {
    for (int i = 0; i < kSections; ++i) {
      if (!d.BeginDraw()) {
        ++failures;
        continue;
      }
      FillWindow((i & 1) ? 1 : 0, 0, 1);
      d.Redraw();  // nested section: only counts
      d.EndDraw(1);
    }
    finished = 1;
  });
  int uiRedraws = 0;
  auto until = Clock::now() + std::chrono::seconds(60);
  while (!finished && Clock::now() < until) {
    FgPumpMessages();
    d.Redraw();  // the UI thread draws the same window in between
    ++uiRedraws;
  }
  worker.join();
  EXPECT_EQ(finished.load(), 1);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(uiRedraws, 0);
  EXPECT_EQ(d.m_drawNesting, 0u);
}

TEST(ScreenX11Test, PostedMessageWakesTheBlockingLoopPromptly) {
  REQUIRE_DISPLAY();
  Recorder s;
  ASSERT_EQ(s.Create(80, 80, 120, 80, L"wake", FgStyleDialog, nullptr), 1);
  FgPumpMessages();
  std::atomic<uint64_t> timeoutsAtPost{0};
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    timeoutsAtPost = PlatTestWaitTimeouts();
    PlatMsg m;
    m.kind = PlatMsgLButtonDown;
    m.window = s.GetWindow();
    PlatPostMessage(m);
  });
  int32_t done = 0;
  s.done = &done;
  FgRunModal(&done, &s);
  poster.join();
  EXPECT_EQ(done, 1);
  // The loop's wait has a safety time-out; the post must end the wait by its wake-up, not
  // by that time-out, however late this or the posting thread got to run.
  EXPECT_EQ(PlatTestWaitTimeouts(), timeoutsAtPost.load());
  EXPECT_EQ(QuitRequested, 0);
}

TEST(ScreenX11Test, ClickArrivesWhileAnotherThreadSwapsContinuously) {
  REQUIRE_DISPLAY();
  Recorder s;
  ASSERT_EQ(s.Create(100, 100, 160, 120, L"swap", FgStyleDialog, nullptr), 1);
  FgPumpMessages();
  std::atomic<int> stop{0};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!stop) {
      if (s.BeginDraw()) {
        FillWindow(0, 0.5, 0);
        s.EndDraw(1);
        ++swaps;
      }
    }
  });
  // The clicks are meant to come while the other thread swaps: wait for its first swap.
  for (int look = 0; look < 30000 && swaps.load() == 0; ++look)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(swaps.load(), 0) << "the swapping thread never drew";
  std::vector<uint64_t> lateWakes;
  for (int round = 0; round < 5; ++round) {
    int32_t done = 0;
    s.done = &done;
    std::atomic<uint64_t> timeoutsAtSend{0};
    std::thread clicker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      timeoutsAtSend = PlatTestWaitTimeouts();
      PlatTestSendInput(s.GetWindow(), 0, 1, 10, 10);
    });
    FgRunModal(&done, &s);
    clicker.join();
    lateWakes.push_back(PlatTestWaitTimeouts() - timeoutsAtSend.load());
  }
  stop = 1;
  swapper.join();
  // A click that another thread's read left in Xlib's queue would wait for the loop's
  // safety time-out: none may, however late any thread got to run.
  for (uint64_t n : lateWakes) EXPECT_EQ(n, 0u) << "click stranded in Xlib's queue";
}

TEST(ScreenX11Test, KeysThroughTheServer) {
  REQUIRE_DISPLAY();
  Recorder s;
  ASSERT_EQ(s.Create(120, 120, 120, 80, L"keys", FgStyleDialog, nullptr), 1);
  FgPumpMessages();
  CFgInput().SetKeyFlags(0);
  struct Case {
    uint32_t keysym;
    std::vector<std::string> expected;
  } cases[] = {
      {'a', {"down 97", "char 97", "up 97"}},
      {'7', {"down 55", "char 55", "up 55"}},
      {0xFFFF /* Delete */, {"down 46", "char 127", "up 46"}},
      {0xFF0D /* Return */, {"down 10", "char 10", "up 10"}},
  };
  for (const Case& c : cases) {
    s.keys.clear();
    ASSERT_EQ(PlatTestSendInput(s.GetWindow(), 2, c.keysym, 0, 0), 1);
    ASSERT_EQ(PlatTestSendInput(s.GetWindow(), 3, c.keysym, 0, 0), 1);
    PumpUntil([&] { return s.keys.size() >= c.expected.size(); }, 3000);
    FgPumpMessages();
    EXPECT_EQ(s.keys, c.expected) << c.keysym;
  }
}

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Runs a command on another thread while this (the UI) thread keeps answering clipboard
// requests; bounded.
std::string RunWhilePumping(const std::string& cmd) {
  std::atomic<int> finished{0};
  std::string out;
  std::thread t([&] {
    out = RunCommand(cmd);
    finished = 1;
  });
  PumpUntil([&] { return finished.load() != 0; }, 10000);
  t.join();
  return out;
}

TEST(ScreenX11Test, ClipboardRoundTrips) {
  REQUIRE_DISPLAY();
  Recorder s;
  ASSERT_EQ(s.Create(140, 140, 120, 80, L"clip", FgStyleDialog, nullptr), 1);
  const std::wstring text = L"h\u00e9llo \u65e5\u672c";
  const std::string utf8 = "h\xc3\xa9llo \xe6\x97\xa5\xe6\x9c\xac";

  // Within the process.
  ASSERT_EQ(SetClipboardText(text.c_str()), 1);
  wchar_t buffer[64];
  EXPECT_EQ(GetClipboardText(buffer, 64), text.size() + 1);
  EXPECT_EQ(std::wstring(buffer), text);

  if (std::system("command -v xclip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xclip";
  const std::string xclip = "timeout 10 xclip -selection clipboard";

  // Out to another program: small, then large enough for INCR chunks.
  EXPECT_EQ(RunWhilePumping(xclip + " -o"), utf8);
  EXPECT_EQ(RunWhilePumping(xclip + " -o -t TARGETS").find("UTF8_STRING") != std::string::npos,
            true);
  std::wstring big;
  std::string bigUtf8;
  for (int i = 0; i < 300000; ++i) {
    wchar_t c = wchar_t(L'a' + i % 26);
    big += c;
    bigUtf8 += char(c);
  }
  ASSERT_EQ(SetClipboardText(big.c_str()), 1);
  std::string got = RunWhilePumping(xclip + " -o");
  EXPECT_EQ(got.size(), bigUtf8.size());
  EXPECT_TRUE(got == bigUtf8);

  // In from another program: carriage returns dropped.
  std::string in = std::string(QV_TEST_OUT_DIR) + "/clip_in.txt";
  FILE* f = std::fopen(in.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("abc\r\ndef \xe3\x81\x82", f);
  std::fclose(f);
  ASSERT_EQ(std::system((xclip + " -i '" + in + "' >/dev/null 2>&1").c_str()), 0);
  std::wstring read;
  PumpUntil(
      [&] {
        uint64_t n = GetClipboardText(buffer, 64);
        read = n ? std::wstring(buffer) : L"";
        return read == L"abc\ndef \u3042";
      },
      3000);
  EXPECT_EQ(read, L"abc\ndef \u3042");

  // Large text from another program arrives whole (INCR on its side).
  f = std::fopen(in.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bigUtf8.data(), 1, bigUtf8.size(), f);
  std::fclose(f);
  ASSERT_EQ(std::system((xclip + " -i '" + in + "' >/dev/null 2>&1").c_str()), 0);
  uint64_t need = 0;
  PumpUntil([&] { return (need = GetClipboardText(nullptr, 0)) == bigUtf8.size() + 1; }, 5000);
  EXPECT_EQ(need, bigUtf8.size() + 1);

  // Taking the clipboard back ends the other program's ownership.
  ASSERT_EQ(SetClipboardText(L"mine"), 1);
  EXPECT_EQ(GetClipboardText(buffer, 64), 5u);
  EXPECT_EQ(std::wstring(buffer), L"mine");
  ASSERT_EQ(SetClipboardText(nullptr), 1);
  EXPECT_EQ(GetClipboardText(nullptr, 0), 0u);
}

}  // namespace
