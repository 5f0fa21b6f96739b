// uiobj_test.cpp - routing, hover, focus, capture and enabling of the widget container,
// without a display (the window layer's headless mode).
#include "toolkit/uiobj.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

std::vector<std::string>* g_log = nullptr;

class Probe : public CFgUIObj {
 public:
  explicit Probe(const char* name) : name_(name) {}
  void Add(const std::string& s) {
    if (g_log) g_log->push_back(name_ + " " + s);
  }
  static std::string P(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
  void OnMouseMove(int32_t x, int32_t y) override { Add("move " + P(x, y)); }
  void OnLButtonDown(int32_t x, int32_t y) override { Add("ldown " + P(x, y)); }
  void OnRButtonDown(int32_t x, int32_t y) override { Add("rdown " + P(x, y)); }
  void OnMouseWheel(int32_t x, int32_t y, int32_t n) override {
    Add("wheel " + P(x, y) + " " + std::to_string(n));
  }
  void OnMouseEnter() override { Add("enter"); }
  void OnMouseLeave() override { Add("leave"); }
  void OnFocus() override { Add("focus"); }
  void OnBlur(CFgUIObj*) override { Add("blur"); }
  void OnEnable(int32_t on) override { Add("enable " + std::to_string(on)); }
  void OnKeyDown(wchar_t c) override { Add("key " + std::to_string(int(c))); }
  void OnKeyUp(wchar_t c) override {
    Add("keyup " + std::to_string(int(c)));
    CFgUIObj::OnKeyUp(c);
  }
  void Draw(CFgScreen*, CFgFont*) override { Add("draw"); }

 private:
  std::string name_;
};

// The log without the redraws that focus changes cause.
std::vector<std::string> Events(const std::vector<std::string>& log) {
  std::vector<std::string> out;
  for (const std::string& e : log)
    if (e.size() < 5 || e.compare(e.size() - 5, 5, " draw") != 0) out.push_back(e);
  return out;
}

class TestDialog : public CFgUIDialog {
 public:
  int backgrounds = 0;
  int enableAllCalls = 0;
  void DrawBackground() override {
    ++backgrounds;
    CFgUIDialog::DrawBackground();
  }
  void OnEnableAll() override {
    ++enableAllCalls;
    CFgUIDialog::OnEnableAll();
  }
};

class UiObjTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    g_log = &log;
    ASSERT_EQ(a.SetRect(10, 10, 100, 50), 1);
    ASSERT_EQ(b.SetRect(60, 30, 100, 50), 1);  // overlaps a; added later, so on top
    ASSERT_EQ(c.SetRect(10, 100, 40, 20), 1);
    dlg.AddChild(&a);
    dlg.AddChild(&b);
    dlg.AddChild(&c);
    ASSERT_EQ(dlg.Create(0, 0, 300, 200, L"dialog", FgStyleDialog, nullptr), 1);
    log.clear();
  }
  void TearDown() override {
    dlg.Destroy();
    g_log = nullptr;
  }
  std::vector<std::string> log;
  Probe a{"a"}, b{"b"}, c{"c"};
  TestDialog dlg;
};

TEST_F(UiObjTest, ListLinksAndRectangles) {
  EXPECT_EQ(dlg.m_firstChild, &a);
  EXPECT_EQ(dlg.m_lastChild, &c);
  EXPECT_EQ(a.m_next, &b);
  EXPECT_EQ(c.m_prev, &b);
  EXPECT_EQ(b.m_owner, &dlg);
  EXPECT_EQ(a.SetRect(1, 2, 0, 5), 0);
  EXPECT_EQ(a.SetRect(1, 2, 5, -1), 0);
  EXPECT_EQ(a.m_width, 100);  // unchanged
}

TEST_F(UiObjTest, Routing) {
  struct Step {
    const char* name;
    void (*act)(CFgUIDialog&);
    std::vector<std::string> expected;
  };
  std::vector<Step> steps = {
      {"overlap: the later child takes the click",
       [](CFgUIDialog& d) { d.OnLButtonDown(70, 40); },
       {"b focus", "b enter", "b ldown 10,10"}},
      {"move within a keeps a's own coordinates",
       [](CFgUIDialog& d) { d.OnMouseMove(15, 12); },
       {"b leave", "a enter", "a move 5,2"}},
      {"nothing under the point clears the hover",
       [](CFgUIDialog& d) { d.OnMouseMove(250, 190); }, {"a leave"}},
      {"wheel goes to the child under the point",
       [](CFgUIDialog& d) { d.OnMouseWheel(20, 105, -1); },
       {"c enter", "c wheel 10,5 -1"}},
      {"right press focuses the child",
       [](CFgUIDialog& d) { d.OnRButtonDown(20, 105); }, {"b blur", "c focus", "c rdown 10,5"}},
  };
  for (const Step& s : steps) {
    log.clear();
    s.act(dlg);
    EXPECT_EQ(Events(log), s.expected) << s.name;
  }
}

TEST_F(UiObjTest, DisabledChildOnTopTakesTheEventAwayFromTheOneBelow) {
  dlg.OnMouseMove(20, 20);  // hover a
  b.m_enabled = 0;
  log.clear();
  dlg.OnLButtonDown(70, 40);  // b on top (disabled) and a below both contain it
  EXPECT_EQ((std::vector<std::string>{"a leave"}), log);
  EXPECT_EQ(dlg.m_hoverChild, nullptr);
  EXPECT_EQ(dlg.m_focusChild, nullptr);
  // A hidden child on top does not hide the one below.
  b.m_enabled = 1;
  b.m_visible = 0;
  log.clear();
  dlg.OnLButtonDown(70, 40);
  EXPECT_EQ((std::vector<std::string>{"a focus", "a enter", "a ldown 60,30"}), Events(log));
}

TEST_F(UiObjTest, CaptureTakesEveryEvent) {
  a.CaptureMouse();
  EXPECT_EQ(dlg.m_captureChild, &a);
  b.CaptureMouse();  // already held by a
  EXPECT_EQ(dlg.m_captureChild, &a);
  log.clear();
  dlg.OnMouseMove(5, 2);       // left of and above a
  dlg.OnMouseMove(250, 190);   // far beyond it
  EXPECT_EQ((std::vector<std::string>{"a enter", "a move -5,-8", "a move 240,180"}), log);
  b.ReleaseMouse();  // not b's to give up
  EXPECT_EQ(dlg.m_captureChild, &a);
  a.ReleaseMouse();
  EXPECT_EQ(dlg.m_captureChild, nullptr);
}

TEST_F(UiObjTest, FocusRules) {
  c.m_tabStop = 0;  // like a label
  dlg.OnLButtonDown(20, 105);
  EXPECT_EQ(dlg.m_focusChild, nullptr) << "left click does not focus a non-tab-stop";
  dlg.OnRButtonDown(20, 105);
  EXPECT_EQ(dlg.m_focusChild, &c) << "right click focuses it anyway";
  EXPECT_EQ(c.m_focused, 1);

  // Foreign widget refused.
  Probe stranger("s");
  EXPECT_EQ(dlg.SetFocus(&stranger), 0);

  // FocusNext walks forward, wrapping, over tab stops that are visible and enabled.
  EXPECT_EQ(dlg.FocusNext(), 1);
  EXPECT_EQ(dlg.m_focusChild, &a);
  EXPECT_EQ(c.m_focused, 0);
  EXPECT_EQ(dlg.FocusNext(), 1);
  EXPECT_EQ(dlg.m_focusChild, &b);
  EXPECT_EQ(dlg.FocusNext(), 1);
  EXPECT_EQ(dlg.m_focusChild, &a);
  EXPECT_EQ(b.FocusPrevious(), 1);
  EXPECT_EQ(dlg.m_focusChild, &b);

  // One eligible child that already has the focus keeps it, without a redraw.
  a.m_enabled = 0;
  int backgrounds = dlg.backgrounds;
  EXPECT_EQ(dlg.FocusNext(), 0);
  EXPECT_EQ(dlg.m_focusChild, &b);
  EXPECT_EQ(dlg.backgrounds, backgrounds);

  // Hiding the focused widget moves the focus on; with nothing eligible it is cleared.
  a.m_enabled = 1;
  b.Show(0);
  EXPECT_EQ(dlg.m_focusChild, &a);
  a.Show(0);
  EXPECT_EQ(dlg.m_focusChild, nullptr);
}

TEST_F(UiObjTest, KeysGoToTheFocusedChild) {
  dlg.OnKeyUp(9);  // no focus: Tab focuses the first eligible child
  EXPECT_EQ(dlg.m_focusChild, &a);
  log.clear();
  dlg.OnKeyDown(97);
  EXPECT_EQ((std::vector<std::string>{"a key 97"}), log);
  // Tab, Enter forward; Shift+Tab, Escape back (the widget's default key-up).
  struct Case {
    wchar_t key;
    uint16_t flags;
    CFgUIObj* expected;
  } cases[] = {{9, 0, &b}, {10, 0, &c}, {27, 0, &b}, {9, FgKeyShift, &a}, {65, 0, &a}};
  for (const Case& k : cases) {
    dlg.SetKeyFlags(k.flags);
    dlg.OnKeyUp(k.key);
    EXPECT_EQ(dlg.m_focusChild, k.expected) << int(k.key);
  }
  dlg.SetKeyFlags(0);
  a.m_enabled = 0;  // a disabled focused child gets no keys
  log.clear();
  dlg.OnKeyDown(97);
  dlg.OnChar(97);
  EXPECT_TRUE(log.empty());
}

TEST_F(UiObjTest, EnableAll) {
  dlg.SetFocus(&a);
  log.clear();
  dlg.EnableAll(0);
  EXPECT_EQ(a.m_enabled + b.m_enabled + c.m_enabled, 0);
  EXPECT_EQ(dlg.m_focusChild, nullptr);
  EXPECT_EQ(dlg.m_closeAllowed, 0);
  EXPECT_EQ(dlg.m_enabled, 0);
  EXPECT_EQ(dlg.enableAllCalls, 0);

  // The window now refuses to close.
  PlatMsg close;
  close.kind = PlatMsgClose;
  close.window = dlg.GetWindow();
  PlatPostMessage(close);
  ASSERT_EQ(FgPumpMessages(), 1);
  EXPECT_NE(dlg.GetWindow(), nullptr);

  dlg.EnableAll(1);
  EXPECT_EQ(a.m_enabled + b.m_enabled + c.m_enabled, 3);
  EXPECT_EQ(dlg.m_closeAllowed, 1);
  EXPECT_EQ(dlg.enableAllCalls, 1);
  PlatPostMessage(close);
  ASSERT_EQ(FgPumpMessages(), 1);
  EXPECT_EQ(dlg.GetWindow(), nullptr);
}

TEST_F(UiObjTest, RedrawDrawsVisibleChildrenInOrder) {
  b.m_visible = 0;
  log.clear();
  uint64_t swaps = PlatTestSwapCount(dlg.GetWindow());
  dlg.Redraw();
  EXPECT_EQ((std::vector<std::string>{"a draw", "c draw"}), log);
  EXPECT_EQ(PlatTestSwapCount(dlg.GetWindow()), swaps + 1);

  // Inside another drawing section it only counts, and the outer end swaps.
  ASSERT_EQ(dlg.BeginDraw(), 1);
  dlg.Redraw();
  EXPECT_EQ(PlatTestSwapCount(dlg.GetWindow()), swaps + 1);
  dlg.EndDraw(1);
  EXPECT_EQ(PlatTestSwapCount(dlg.GetWindow()), swaps + 2);
}

TEST(UiDialogTest, RedrawWithoutAWindowDoesNothing) {
  (void)g_headless;
  TestDialog d;
  Probe p("p");
  std::vector<std::string> log;
  g_log = &log;
  d.AddChild(&p);
  d.Redraw();
  EXPECT_EQ(d.backgrounds, 0);
  EXPECT_TRUE(log.empty());
  g_log = nullptr;
  // Colour defaults.
  EXPECT_DOUBLE_EQ(d.m_colors[FgColorFace][0], 0.9);
  EXPECT_DOUBLE_EQ(d.m_colors[FgColorFieldHighlight][1], 0.95);
  EXPECT_DOUBLE_EQ(d.m_colors[FgColorDisabledText][2], 0.7);
  EXPECT_DOUBLE_EQ(d.m_colors[FgColorFieldWhite][0], 1.0);
}

}  // namespace
