// menu_test.cpp - menu templates, popup sizes and popup input logic, menu bar layout and
// keys, without a display (the window layer's headless mode).
#include "toolkit/menu.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

std::wstring Describe(const CFgUIMenu& m) {
  std::wstring s;
  for (uint64_t i = 0; i < m.m_count; ++i) {
    s += m.m_items[i].label;
    s += L"=" + std::to_wstring(m.m_items[i].id);
    if (m.m_items[i].submenu) s += L"{" + Describe(*m.m_items[i].submenu) + L"}";
    s += L";";
  }
  return s;
}

TEST(MenuTest, Templates) {
  (void)g_headless;
  struct Case {
    const wchar_t* text;
    int ok;
    const wchar_t* items;
    int64_t widest;
  } cases[] = {
      {L"A\t1\nB\t{C\t2\n}\n", 1, L"A=1;B=-1{C=2;};", 2},
      {L"Save image\t1\n", 1, L"Save image=1;", 10},
      {L"A\t1", 0, L"", 0},
      {L"A\t", 0, L"", 0},
      {L"A\t{B\t1\n", 0, L"", 0},
      {L"A\t{B\t1\n}", 0, L"", 0},
      {L"A\t{B\t{C\t3\n}x\n}junk\nD\t4\n", 1, L"A=-1{B=-1{C=3;};};D=4;", 2},
      {L"Off\t-5\nOn\t7 trailing\n", 1, L"Off=-2;On=7;", 3},
      {L"A\t1\nrest without a tab", 1, L"A=1;", 1},
      {L"A\t1\n}B\t2\n", 1, L"A=1;", 1},
      {L"", 1, L"", 0},
      {L"日本語\t3\n", 1, L"日本語=3;", 6},
      {L"X\tabc\n", 1, L"X=0;", 1},
      {L"Big\t99999999999999999999\n", 1, L"Big=2147483647;", 3},
  };
  for (const Case& c : cases) {
    CFgUIMenuCtrl root;
    CFgUIMenu m(&root, nullptr);
    EXPECT_EQ(m.Parse(c.text, nullptr), c.ok) << c.text;
    EXPECT_EQ(Describe(m), c.items) << c.text;
    EXPECT_EQ(m.m_widest, c.widest) << c.text;
  }
  CFgUIMenuCtrl root;
  CFgUIMenu m(&root, nullptr);
  EXPECT_EQ(m.Parse(nullptr, nullptr), 0);
  EXPECT_EQ(FgPopupMenu(L"A\t1", 10, 10, nullptr, nullptr, 0), -1);
}

TEST(MenuTest, PopupSize) {
  CFgUIMenuCtrl root;
  CFgUIMenu m(&root, nullptr);
  ASSERT_EQ(m.Parse(L"abcdef\t1\nab\t2\nabc\t3\n", nullptr), 1);
  m.Measure();
  EXPECT_EQ(m.m_width, 52);
  EXPECT_EQ(m.m_height, 56);
  struct Hit {
    int x, y, item;
  } hits[] = {{2, 2, 0}, {49, 17, 0}, {10, 18, -1}, {10, 19, -1}, {10, 20, 1},
              {10, 53, 2}, {10, 54, -1}, {1, 5, -1}, {50, 5, -1}};
  for (const Hit& h : hits) EXPECT_EQ(m.ItemAt(h.x, h.y), h.item) << h.x << "," << h.y;
}

// Drives a shown menu tree directly: the popup input without the message loop.
TEST(MenuTest, PopupInput) {
  CFgUIMenuCtrl root;
  CFgUIMenu* top = new CFgUIMenu(&root, nullptr);
  root.m_top = top;
  root.m_upCloses = 1;
  ASSERT_EQ(top->Parse(L"A\t1\nB\t{C\t2\nD\t-1\n}\nE\t-3\n", nullptr), 1);
  ASSERT_EQ(top->Show(100, 100, nullptr, -1), 1);
  root.m_active = top;
  CFgUIMenu* sub = top->m_items[1].submenu;
  int p = top->m_pitch;

  top->SetKeyFlags(FgKeyDown);
  top->OnKeyStateChanged();
  EXPECT_EQ(top->m_highlight, 0);
  EXPECT_EQ(root.m_chosen, 1);
  top->OnKeyStateChanged();
  EXPECT_EQ(root.m_chosen, -1);  // a submenu item chooses nothing
  top->SetKeyFlags(FgKeyRight);
  top->OnKeyStateChanged();
  EXPECT_EQ(top->GetKeyFlags() & FgKeyRight, 0);
  EXPECT_EQ(root.m_active, sub);
  EXPECT_EQ(sub->m_highlight, 0);
  EXPECT_EQ(root.m_chosen, 2);
  top->SetKeyFlags(FgKeyLeft);
  sub->OnKeyStateChanged();
  EXPECT_EQ(root.m_active, top);
  EXPECT_EQ(root.m_chosen, -1);
  EXPECT_EQ(sub->m_visible, 0);

  // Mouse: the disabled item E highlights but cannot be chosen.
  top->OnMouseMove(5, 2 + 2 * p + 3);
  EXPECT_EQ(top->m_highlight, 2);
  EXPECT_EQ(root.m_chosen, -1);
  top->OnLButtonUp(5, 2 + 2 * p + 3);
  EXPECT_EQ(root.m_done, 0);
  // Release on B opens the submenu with nothing highlighted; D is disabled.
  top->OnMouseMove(5, 2 + p + 3);
  top->OnLButtonUp(5, 2 + p + 3);
  EXPECT_EQ(root.m_active, sub);
  EXPECT_EQ(sub->m_highlight, -1);
  sub->OnMouseMove(5, 2 + p + 3);
  EXPECT_EQ(root.m_chosen, -1);
  sub->OnChar(10);
  EXPECT_EQ(root.m_done, 0);
  // A press inside the parent menu leaves everything open; its release goes to the parent.
  int32_t px = int32_t(top->m_x - sub->m_x + 5), py = int32_t(top->m_y - sub->m_y + 3);
  sub->OnLButtonDown(px, py);
  EXPECT_EQ(root.m_done, 0);
  sub->OnLButtonUp(px, py);
  EXPECT_EQ(root.m_active, top);
  EXPECT_EQ(root.m_done, 1);
  EXPECT_EQ(root.m_chosen, 1);

  // Up at the first item of the top menu closes with -1; so does Escape and a click
  // outside every menu.
  const char* closers[] = {"up", "escape", "outside"};
  for (const char* how : closers) {
    root.m_done = 0;
    top->Show(100, 100, nullptr, 0);
    root.m_active = top;
    root.m_chosen = 1;
    if (std::string(how) == "up") {
      top->SetKeyFlags(FgKeyUp);
      top->OnKeyStateChanged();
    } else if (std::string(how) == "escape") {
      top->OnChar(27);
    } else {
      top->OnLButtonDown(-30, 5);
    }
    EXPECT_EQ(root.m_done, 1) << how;
    EXPECT_EQ(root.m_chosen, -1) << how;
    EXPECT_EQ(top->m_visible, 0) << how;
  }
  top->SetKeyFlags(0);
  delete top;
}

TEST(MenuTest, BarTitlesAndKeys) {
  CFgUIDialog dlg;
  CFgUIMenuBar bar;
  EXPECT_EQ(bar.AddMenu(L"", L"A\t1\n", nullptr, nullptr), -1);
  EXPECT_EQ(bar.AddMenu(nullptr, L"A\t1\n", nullptr, nullptr), -1);
  EXPECT_EQ(bar.AddMenu(L"File", L"A\t1\n", nullptr, nullptr), 0);
  EXPECT_EQ(bar.AddMenu(L"表示", nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(bar.AddMenu(L"Config", L"A\t1\n", nullptr, nullptr), 2);
  dlg.AddChild(&bar);
  ASSERT_EQ(dlg.Create(0, 0, 300, 200, L"bar", FgStyleDialog, nullptr), 1);
  // s = 14, h = 7: "File" 28, "表示" 28, "Config" 42.
  EXPECT_EQ(bar.m_barHeight, 22);
  EXPECT_STREQ(bar.m_titleLine, L"File  表示  Config");
  struct Span {
    int first, last;
  } spans[] = {{0, 27}, {42, 69}, {84, 125}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(bar.m_menus[i].first, spans[i].first) << i;
    EXPECT_EQ(bar.m_menus[i].last, spans[i].last) << i;
  }
  struct Move {
    int x, y, highlight;
  } moves[] = {{8, 5, 0}, {35, 5, 0}, {36, 5, -1}, {50, 5, 1}, {133, 21, 2}, {133, 22, -1}};
  for (const Move& m : moves) {
    bar.OnMouseMove(m.x, m.y);
    EXPECT_EQ(bar.m_highlight, m.highlight) << m.x << "," << m.y;
  }
  dlg.SetFocus(&bar);
  EXPECT_EQ(bar.m_highlight, 0);
  struct Key {
    uint16_t flags;
    int highlight;
  } keys[] = {{FgKeyLeft, 2}, {FgKeyRight, 0}, {FgKeyRight, 1}, {FgKeyRight, 2}, {FgKeyRight, 0}};
  for (const Key& k : keys) {
    dlg.SetKeyFlags(k.flags);
    bar.OnKeyStateChanged();
    EXPECT_EQ(bar.m_highlight, k.highlight);
  }
  dlg.SetKeyFlags(0);
  dlg.SetFocus(nullptr);
  EXPECT_EQ(bar.m_highlight, -1);
  dlg.Redraw();
  EXPECT_EQ(bar.m_width, 300);
  EXPECT_EQ(bar.m_height, 22);
  bar.ClearMenus();
  EXPECT_EQ(bar.m_menuCount, 0);
}

// The main window's bar is rebuilt (a language switch) while the filter worker redraws the
// window: the titles and the title line the drawing reads must never be freed under it.
TEST(MenuTest, BarRebuiltWhileAnotherThreadRedraws) {
  CFgUIDialog dlg;
  CFgUIMenuBar bar;
  bar.AddMenu(L"File", L"A\t1\n", nullptr, nullptr);
  dlg.AddChild(&bar);
  ASSERT_EQ(dlg.Create(0, 0, 300, 200, L"bar", FgStyleDialog, nullptr), 1);
  std::atomic<int> stop{0};
  std::thread worker([&] {
    while (!stop.load()) dlg.Redraw();
  });
  for (int i = 0; i < 3000; ++i) {
    bar.ClearMenus();
    bar.AddMenu(i % 2 ? L"File" : L"\x30D5\x30A1\x30A4\x30EB", L"A\t1\n", nullptr, nullptr);
    bar.AddMenu(L"View", nullptr, nullptr, nullptr);
  }
  stop = 1;
  worker.join();
  EXPECT_EQ(bar.m_menuCount, 2);
  EXPECT_STREQ(bar.m_titleLine, L"File  View");
}

}  // namespace
