// tab_test.cpp - tab pages, title rectangles, selection by mouse and keys, page and group
// rectangles, without a display (the window layer's headless mode).
#include "toolkit/tab.h"

#include <gtest/gtest.h>

#include <vector>

#include "toolkit/font.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

class CountingDialog : public CFgUIDialog {
 public:
  int backgrounds = 0;
  void DrawBackground() override {
    ++backgrounds;
    CFgUIDialog::DrawBackground();
  }
};

struct Selection {
  int newPage, oldPage;
};

void OnSelect(CFgUITab*, void* user, int32_t newPage, int32_t oldPage) {
  static_cast<std::vector<Selection>*>(user)->push_back({newPage, oldPage});
}

class TabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    tab.SetRect(10, 20, 300, 200);
    tab.m_callback = OnSelect;
    tab.m_user = &selections;
    dlg.AddChild(&tab);
    for (CFgUIObj* w : widgets) dlg.AddChild(w);
    ASSERT_EQ(dlg.Create(0, 0, 400, 300, L"tabs", FgStyleDialog, nullptr), 1);
    dlg.SetKeyFlags(0);
  }
  void TearDown() override { dlg.SetKeyFlags(0); }
  int64_t FontSize() const { return dlg.m_font ? int64_t(dlg.m_font->Size()) : 14; }

  CountingDialog dlg;
  CFgUITab tab;
  CFgUIObj w0, w1, w2;
  CFgUIObj* widgets[3] = {&w0, &w1, &w2};
  std::vector<Selection> selections;
};

struct Rect {
  int32_t x0, y0, x1, y1;
  bool operator==(const Rect& o) const {
    return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1;
  }
};
Rect TitleRect(const CFgUITab& t, int page) {
  const TabPage& p = t.m_pages[page];
  return {p.x0, p.y0, p.x1, p.y1};
}

TEST_F(TabTest, TitleRectanglesSitSideBySide) {
  ASSERT_EQ(FontSize(), 14);
  EXPECT_EQ(tab.AddPage(L"abc"), 0);
  EXPECT_EQ(tab.AddPage(L"abcdefg"), 1);
  EXPECT_EQ(tab.AddPage(L"日本x"), 2);
  EXPECT_TRUE(TitleRect(tab, 0) == (Rect{1, 1, 26, 21}));
  EXPECT_TRUE(TitleRect(tab, 1) == (Rect{28, 1, 81, 21}));
  EXPECT_TRUE(TitleRect(tab, 2) == (Rect{83, 1, 83 + 35 + 4, 21}));
  EXPECT_EQ(tab.m_currentPage, 0);

  // Renaming page 0 leaves the later rectangles where they were.
  EXPECT_EQ(tab.SetPageTitle(0, L"a much longer title"), 1);
  EXPECT_TRUE(TitleRect(tab, 0) == (Rect{1, 1, 1 + 19 * 7 + 4, 21}));
  EXPECT_TRUE(TitleRect(tab, 1) == (Rect{28, 1, 81, 21}));

  struct Bad {
    int page;
    const wchar_t* title;
  } bad[] = {{-1, L"x"}, {3, L"x"}, {0, L""}, {0, nullptr}};
  for (const Bad& b : bad) EXPECT_EQ(tab.SetPageTitle(b.page, b.title), 0) << b.page;
  EXPECT_EQ(tab.AddPage(L""), -1);
  EXPECT_EQ(tab.AddPage(nullptr), -1);
  EXPECT_EQ(tab.m_pageCount, 3);
}

TEST_F(TabTest, PageAndGroupRectangles) {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  ASSERT_EQ(tab.GetPageRect(&x0, &y0, &x1, &y1), 1);
  EXPECT_TRUE((Rect{x0, y0, x1, y1}) == (Rect{12, 41, 307, 217}));
  EXPECT_EQ(tab.GetPageRect(nullptr, &y0, nullptr, nullptr), 1);

  CFgUIGroup group;
  group.SetRect(10, 20, 300, 200);
  group.SetTitle(L"AUTO TRACK");
  ASSERT_EQ(group.GetInnerRect(&x0, &y0, &x1, &y1), 1);  // outside a container: S = 14
  EXPECT_TRUE((Rect{x0, y0, x1, y1}) == (Rect{12, 36, 307, 217}));
  CFgUIGroup empty;
  EXPECT_EQ(empty.GetInnerRect(&x0, nullptr, nullptr, nullptr), 0);
  CFgUITab unsized;
  EXPECT_EQ(unsized.GetPageRect(&x0, nullptr, nullptr, nullptr), 0);
  dlg.AddChild(&group);
  dlg.Redraw();
}

TEST_F(TabTest, SelectingHidesAndShowsPageWidgets) {
  tab.AddPage(L"one");
  tab.AddPage(L"two");
  ASSERT_EQ(tab.AddWidget(0, &w0), 1);
  ASSERT_EQ(tab.AddWidget(1, &w1), 1);
  ASSERT_EQ(tab.AddWidget(1, &w2), 1);
  EXPECT_EQ(tab.AddWidget(2, &w2), 0);
  EXPECT_EQ(tab.AddWidget(0, nullptr), 0);
  EXPECT_EQ(w0.m_visible, 1);
  EXPECT_EQ(w1.m_visible, 0);
  EXPECT_EQ(w2.m_visible, 0);

  dlg.SetFocus(&w0);
  int before = dlg.backgrounds;
  ASSERT_EQ(tab.SelectPage(1, 0), 1);
  EXPECT_EQ(w0.m_visible, 0);
  EXPECT_EQ(w1.m_visible, 1);
  EXPECT_EQ(w2.m_visible, 1);
  EXPECT_NE(dlg.m_focusChild, &w0);  // the hidden widget passed the focus on
  EXPECT_GT(dlg.backgrounds, before);
  ASSERT_EQ(selections.size(), 1u);
  EXPECT_EQ(selections[0].newPage, 1);
  EXPECT_EQ(selections[0].oldPage, 0);

  // The current page again: nothing without force, everything with it.
  before = dlg.backgrounds;
  EXPECT_EQ(tab.SelectPage(1, 0), 1);
  EXPECT_EQ(dlg.backgrounds, before);
  EXPECT_EQ(selections.size(), 1u);
  w1.m_visible = 0;
  EXPECT_EQ(tab.SelectPage(1, 1), 1);
  EXPECT_EQ(w1.m_visible, 1);
  ASSERT_EQ(selections.size(), 2u);
  EXPECT_EQ(selections[1].newPage, 1);
  EXPECT_EQ(selections[1].oldPage, 1);

  EXPECT_EQ(tab.SelectPage(2, 1), 0);
  EXPECT_EQ(tab.SelectPage(-1, 1), 0);
}

TEST_F(TabTest, PressOnTitleReleaseAnywhere) {
  tab.AddPage(L"abc");
  tab.AddPage(L"abcdefg");
  tab.OnLButtonDown(40, 10);  // page 1's title (widget-relative)
  EXPECT_EQ(tab.m_pressed, 1);
  EXPECT_EQ(tab.m_pressedPage, 1);
  EXPECT_EQ(dlg.m_captureChild, &tab);
  tab.OnLButtonUp(250, 150);
  EXPECT_EQ(tab.m_currentPage, 1);
  EXPECT_EQ(tab.m_pressed, 0);
  EXPECT_EQ(dlg.m_captureChild, nullptr);

  tab.OnLButtonDown(27, 10);  // the gap between titles
  EXPECT_EQ(tab.m_pressed, 0);
  tab.OnLButtonDown(100, 100);  // the page area
  EXPECT_EQ(tab.m_pressed, 0);
  tab.OnLButtonUp(1, 1);
  EXPECT_EQ(tab.m_currentPage, 1);
}

TEST_F(TabTest, ArrowKeysWrap) {
  tab.AddPage(L"a");
  struct Case {
    uint16_t flags;
    int current;
  } single[] = {{FgKeyRight, 0}};
  for (const Case& c : single) {
    dlg.SetKeyFlags(c.flags);
    tab.OnKeyStateChanged();
    EXPECT_EQ(tab.m_currentPage, c.current);
  }
  tab.AddPage(L"b");
  tab.AddPage(L"c");
  Case cases[] = {{FgKeyRight, 1}, {FgKeyRight, 2}, {FgKeyRight, 0}, {FgKeyLeft, 2},
                  {FgKeyLeft | FgKeyRight, 2}, {FgKeyDown, 2}, {FgKeyLeft, 1}};
  for (const Case& c : cases) {
    dlg.SetKeyFlags(c.flags);
    tab.OnKeyStateChanged();
    EXPECT_EQ(tab.m_currentPage, c.current) << c.flags;
  }
}

TEST_F(TabTest, RemovingPages) {
  const wchar_t* titles[] = {L"p0", L"p1", L"p2", L"p3"};
  for (const wchar_t* t : titles) tab.AddPage(t);
  tab.AddWidget(3, &w0);
  ASSERT_EQ(tab.SelectPage(2, 0), 1);
  ASSERT_EQ(tab.RemovePage(0), 1);
  EXPECT_EQ(tab.m_pageCount, 3);
  EXPECT_EQ(tab.m_currentPage, 2);
  EXPECT_STREQ(tab.m_pages[2].title, L"p3");
  EXPECT_EQ(tab.m_pages[2].count, 1u);
  ASSERT_EQ(tab.RemovePage(2), 1);
  EXPECT_EQ(tab.m_currentPage, 1);  // the last page
  EXPECT_EQ(tab.RemovePage(5), 0);
  tab.Clear();
  EXPECT_EQ(tab.m_pageCount, 0);
  EXPECT_EQ(tab.m_currentPage, -1);
  EXPECT_EQ(tab.AddPage(L"again"), 0);
  EXPECT_EQ(tab.m_currentPage, 0);
  dlg.Redraw();
}

}  // namespace
