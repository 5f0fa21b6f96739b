// button_test.cpp - push-button and check-box input rules, radio groups and their keys,
// without a display (the window layer's headless mode). Drawing is checked on a real
// server in widgets_x11_test.cpp.
#include "toolkit/button.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/icons.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

int g_calls = 0;
void Count(CFgUIButton*, void*) { ++g_calls; }
void CountChk(CFgUIChkButton*, void*) { ++g_calls; }

class Dialog : public CFgUIDialog {
 public:
  Dialog() {
    button.SetRect(10, 10, 80, 24);
    button.m_callback = Count;
    other.SetRect(10, 50, 80, 24);
    AddChild(&button);
    AddChild(&other);
  }
  CFgUIButton button;
  CFgUIButton other;
};

// Button events and results, replayed as a table:
//   d = left down inside, u = left up inside, o = left up far outside,
//   s / S = Space down / up, e / E = Enter down / up
TEST(ButtonTest, PressAndReleaseRules) {
  struct Case {
    const char* events;
    int calls;
    int pressedAfter;
  } cases[] = {
      {"du", 1, 0},
      {"do", 1, 0},     // release outside still fires (no hit test)
      {"dsSu", 1, 0},   // mouse, then Space before releasing: once
      {"eE", 1, 0},
      {"sS", 1, 0},
      {"u", 0, 0},      // release without press: nothing
      {"S", 0, 0},
      {"d", 0, 1},
      {"ddu", 1, 0},
  };
  for (const Case& c : cases) {
    Dialog dlg;
    dlg.SetFocus(&dlg.button);
    g_calls = 0;
    for (const char* e = c.events; *e; ++e) {
      switch (*e) {
        case 'd': dlg.OnLButtonDown(20, 20); break;
        case 'u': dlg.OnLButtonUp(20, 20); break;
        case 'o': dlg.OnLButtonUp(500, -40); break;
        case 's': dlg.OnKeyDown(32); break;
        case 'S': dlg.OnKeyUp(32); break;
        case 'e': dlg.OnKeyDown(10); break;
        case 'E': dlg.OnKeyUp(10); break;
      }
    }
    EXPECT_EQ(g_calls, c.calls) << c.events;
    EXPECT_EQ(dlg.button.m_pressed, c.pressedAfter) << c.events;
    if (c.pressedAfter)
      EXPECT_EQ(dlg.m_captureChild, &dlg.button) << c.events;
    else
      EXPECT_EQ(dlg.m_captureChild, nullptr) << c.events;
  }
}

TEST(ButtonTest, EnterStaysTabMoves) {
  Dialog dlg;
  dlg.SetFocus(&dlg.button);
  dlg.OnKeyDown(10);
  dlg.OnKeyUp(10);
  EXPECT_EQ(dlg.m_focusChild, &dlg.button);
  dlg.OnKeyUp(9);
  EXPECT_EQ(dlg.m_focusChild, &dlg.other);
}

class ChkDialog : public CFgUIDialog {
 public:
  ChkDialog() {
    for (int i = 0; i < 3; ++i) {
      radio[i].SetRect(10, 10 + 20 * i, 100, 18);
      radio[i].m_callback = CountChk;
      AddChild(&radio[i]);
    }
    box.SetRect(10, 80, 100, 18);
    box.m_callback = CountChk;
    AddChild(&box);
    CFgUIChkButton::AddToGroup(&radio[0], &radio[1]);
    CFgUIChkButton::AddToGroup(&radio[0], &radio[2]);
  }
  CFgUIChkButton radio[3];
  CFgUIChkButton box;
};

TEST(CheckBoxTest, TogglesOnActivationOnly) {
  ChkDialog dlg;
  g_calls = 0;
  dlg.OnLButtonDown(15, 85);
  EXPECT_EQ(dlg.box.m_checked, 0);
  EXPECT_EQ(dlg.box.m_pressed, 1);
  dlg.OnLButtonUp(400, 400);
  EXPECT_EQ(dlg.box.m_checked, 1);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(dlg.m_captureChild, nullptr);
  dlg.OnKeyDown(32);
  dlg.OnKeyUp(32);
  EXPECT_EQ(dlg.box.m_checked, 0);
  EXPECT_EQ(g_calls, 2);
  // Enter does not activate a check box: it moves the focus on.
  dlg.OnKeyDown(10);
  dlg.OnKeyUp(10);
  EXPECT_EQ(g_calls, 2);
  EXPECT_EQ(dlg.box.m_checked, 0);
  EXPECT_NE(dlg.m_focusChild, &dlg.box);
}

TEST(RadioGroupTest, BuildingRules) {
  CFgUIChkButton a, b, c, d, e;
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&a), -1);
  a.m_checked = 1;
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&a, &b), 1);
  b.m_checked = 1;
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&a, &c), 1);
  EXPECT_EQ(a.m_index, 0);
  EXPECT_EQ(b.m_index, 1);
  EXPECT_EQ(c.m_index, 2);
  EXPECT_EQ(c.m_checked, 0);
  EXPECT_EQ(a.m_leader, &a);
  EXPECT_EQ(a.m_nextMember, &b);
  EXPECT_EQ(c.m_nextMember, &a);  // the ring closes on the leader
  EXPECT_EQ(a.m_last, &c);
  EXPECT_EQ(c.m_last, &b);
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&d, &b), 0);   // b is grouped already
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&b, &d), 0);   // b leads no group of its own
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&a, nullptr), 0);
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&d, &d), 0);
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&d, &e), 1);    // another group
  EXPECT_EQ(CFgUIChkButton::AddToGroup(&a, &e), 0);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&e, 1, 0), 1);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&d), 1);
}

TEST(RadioGroupTest, SetGroupSelection) {
  CFgUIChkButton a, b, c, lone;
  CFgUIChkButton::AddToGroup(&a, &b);
  CFgUIChkButton::AddToGroup(&a, &c);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&b, 2, 0), 1);
  EXPECT_EQ(c.m_checked, 1);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&a), 2);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&a, 2, 0), 1);  // unchanged
  // Refused values change nothing: the old member stays checked.
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&a, -2, 0), 0);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&a, 3, 0), 0);
  EXPECT_EQ(c.m_checked, 1);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&c), 2);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&lone, 0, 0), 0);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&a, -1, 0), 1);
  EXPECT_EQ(c.m_checked, 0);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&b), -1);
  EXPECT_EQ(CFgUIChkButton::SetGroupSelection(&a, 0, 0), 1);
  EXPECT_EQ(a.m_checked, 1);
}

TEST(RadioGroupTest, ArrowKeysMoveTheSelectionAround) {
  ChkDialog dlg;
  dlg.SetFocus(&dlg.radio[1]);
  CFgUIChkButton::SetGroupSelection(&dlg.radio[0], 2, 0);
  g_calls = 0;
  struct Step {
    uint16_t flags;
    int32_t selection;
  } steps[] = {
      {FgKeyDown, 0},             // past the last: back to 0
      {FgKeyUp, 2},               // below 0: the last
      {FgKeyRight, 0},
      {FgKeyLeft, 2},
      {FgKeyDown | FgKeyUp, 0},   // Down is tested first
      {FgKeyShift, 0},            // no arrow: nothing
  };
  int expectedCalls = 0;
  for (const Step& s : steps) {
    dlg.SetKeyFlags(s.flags);
    dlg.OnKeyStateChanged();
    if (s.flags & (FgKeyDown | FgKeyUp | FgKeyLeft | FgKeyRight)) ++expectedCalls;
    EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&dlg.radio[0]), s.selection) << s.flags;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dlg.radio[i].m_checked, i == s.selection ? 1 : 0);
    EXPECT_EQ(g_calls, expectedCalls);
  }
  dlg.SetKeyFlags(0);
  // Clicking a member selects it; clicking it again keeps it selected.
  dlg.OnLButtonDown(15, 35);
  dlg.OnLButtonUp(15, 35);
  dlg.OnLButtonDown(15, 35);
  dlg.OnLButtonUp(15, 35);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&dlg.radio[2]), 1);
  EXPECT_EQ(dlg.radio[1].m_checked, 1);
  // An ungrouped box ignores key-state changes.
  dlg.SetFocus(&dlg.box);
  dlg.SetKeyFlags(FgKeyDown);
  dlg.OnKeyStateChanged();
  dlg.SetKeyFlags(0);
  EXPECT_EQ(dlg.box.m_checked, 0);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&dlg.radio[0]), 1);
}

TEST(IconSheetTest, ReferenceCountedAndWithinItsColours) {
  EXPECT_EQ(FgIconSheet(), nullptr);
  {
    CFgUIChkButton a, b;
    ASSERT_NE(FgIconSheet(), nullptr);
    CFgTexture* t = FgIconSheet();
    EXPECT_EQ(t->m_bufferWidth, 128u);
    EXPECT_EQ(t->m_bufferHeight, 32u);
    EXPECT_EQ(t->m_columns, 6u);
    EXPECT_EQ(t->m_rows, 2u);
  }
  EXPECT_EQ(FgIconSheet(), nullptr);
  const uint8_t* px = FgIconSheetPixels();
  auto at = [&](int x, int y) { return px + (size_t(y) * 96 + size_t(x)) * 4; };
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 6; ++col) {
      int ox = col * 16, oy = row * 16;
      // The 1-pixel margin is transparent.
      for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(at(ox + i, oy)[3], 0);
        EXPECT_EQ(at(ox + i, oy + 15)[3], 0);
        EXPECT_EQ(at(ox, oy + i)[3], 0);
        EXPECT_EQ(at(ox + 15, oy + i)[3], 0);
      }
      int state = col / 2;
      const uint8_t* centreLeft = at(ox + 11, oy + 11);  // inside, away from any mark
      uint8_t fill[3][3] = {{205, 243, 243}, {255, 255, 255}, {224, 224, 224}};
      EXPECT_EQ(centreLeft[0], fill[state][0]) << row << " " << col;
      EXPECT_EQ(centreLeft[1], fill[state][1]);
      EXPECT_EQ(centreLeft[2], fill[state][2]);
      // Frame colour at the left edge of the figure.
      const uint8_t* frame = at(ox + 1, oy + 8);
      EXPECT_EQ(frame[0], state == 2 ? 127 : 0);
      EXPECT_EQ(frame[3], 255);
      // The mark in the middle: only on checked icons.
      const uint8_t* mid = at(ox + (row ? 8 : 6), oy + (row ? 8 : 10));
      if (col % 2)
        EXPECT_EQ(mid[0], state == 2 ? 195 : 0) << row << " " << col;
      else
        EXPECT_EQ(mid[0], fill[state][0]) << row << " " << col;
    }
}

// The last check box of one window goes away while another thread draws icons into a
// window: dropping the sheet takes the draw lock before the sheet's own lock, as drawing
// does, so neither waits for the other forever.
TEST(IconSheetTest, LastReleaseWhileAnotherThreadDrawsIcons) {
  CFgScreen screen;
  ASSERT_EQ(screen.Create(0, 0, 64, 64, L"icons", FgStyleDialog, nullptr), 1);
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> hold(m);
    if (!cv.wait_for(hold, std::chrono::seconds(60), [&] { return finished; })) {
      fprintf(stderr, "icon sheet release and icon drawing deadlocked\n");
      std::abort();
    }
  });
  std::atomic<int> stop{0};
  std::thread drawer([&] {
    while (!stop.load()) {
      if (!screen.BeginDraw()) continue;
      FgDrawIcon(&screen, 0, 0, 1);
      screen.EndDraw(0);
    }
  });
  for (int i = 0; i < 20000; ++i) {
    if (!AcquireIconSheet()) {
      ADD_FAILURE() << "no sheet";
      break;
    }
    ReleaseIconSheet();
  }
  stop = 1;
  drawer.join();
  {
    std::lock_guard<std::mutex> hold(m);
    finished = true;
  }
  cv.notify_all();
  watchdog.join();
  EXPECT_EQ(FgIconSheet(), nullptr);
}

}  // namespace
