// scrollbar_test.cpp - scroll bar and range bar geometry, steps, mouse, wheel and keys,
// without a display (the window layer's headless mode).
#include "toolkit/scrollbar.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Calls {
  std::vector<int> positions;
  std::vector<std::pair<int, int>> ranges;
};

void OnScroll(CFgUIScrollBar*, void* user, int32_t pos) {
  static_cast<Calls*>(user)->positions.push_back(pos);
}
void OnRange(CFgUIRangeBar*, void* user, int32_t low, int32_t high) {
  static_cast<Calls*>(user)->ranges.push_back({low, high});
}

class BarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    ASSERT_EQ(dlg.Create(0, 0, 400, 300, L"bars", FgStyleDialog, nullptr), 1);
    dlg.SetKeyFlags(0);
  }
  void TearDown() override { dlg.SetKeyFlags(0); }
  // A vertical bar 16 x 100 at (10, 20), range 0..99, page 10.
  void AddVertical() {
    bar.m_kind = FgBarVertical;
    bar.SetRange(0, 99, 10, 0);
    bar.SetRect(10, 20, 16, 100);
    bar.m_callback = OnScroll;
    bar.m_user = &calls;
    dlg.AddChild(&bar);
  }
  CFgUIDialog dlg;
  CFgUIScrollBar bar;
  Calls calls;
};

TEST_F(BarTest, StepsStopAtTheEnds) {
  AddVertical();
  EXPECT_EQ(bar.LineUp(), 0);
  EXPECT_EQ(bar.PageUp(), 0);
  EXPECT_EQ(bar.PageDown(), 1);
  EXPECT_EQ(bar.m_position, 10);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(bar.PageDown(), 1);
  EXPECT_EQ(bar.m_position, 90);
  EXPECT_EQ(bar.PageDown(), 0);
  EXPECT_EQ(bar.LineDown(), 0);
  EXPECT_EQ(calls.positions.size(), 9u);

  struct Case {
    const char* name;
    int start;
    int32_t (CFgUIScrollBar::*step)();
    int result, end;
  } cases[] = {
      {"page down short of a page", 85, &CFgUIScrollBar::PageDown, 1, 90},
      {"page up short of a page", 4, &CFgUIScrollBar::PageUp, 1, 0},
      {"page up", 50, &CFgUIScrollBar::PageUp, 1, 40},
      {"line down", 89, &CFgUIScrollBar::LineDown, 1, 90},
      {"line down at end", 90, &CFgUIScrollBar::LineDown, 0, 90},
      {"line up", 1, &CFgUIScrollBar::LineUp, 1, 0},
  };
  for (const Case& c : cases) {
    bar.m_position = c.start;
    EXPECT_EQ((bar.*c.step)(), c.result) << c.name;
    EXPECT_EQ(bar.m_position, c.end) << c.name;
  }
}

TEST_F(BarTest, ThumbGeometry) {
  struct Case {
    const char* name;
    int kind, w, h, min, max, page, pos;
    int valid;
    int64_t track, thumb, thumbStart;
  } cases[] = {
      // 16 x 100 at y 20: A = 21, B = 118, T = 66, thumb 10 * 66 / 100 = 6
      {"top", 1, 16, 100, 0, 99, 10, 0, 1, 66, 6, 37},
      {"middle", 1, 16, 100, 0, 99, 10, 45, 1, 66, 6, 37 + 45 * 60 / 90},
      {"bottom", 1, 16, 100, 0, 99, 10, 90, 1, 66, 6, 97},
      {"small thumb floor", 1, 16, 100, 0, 9999, 1, 0, 1, 66, 4, 37},
      {"page covers range", 1, 16, 100, 0, 9, 20, 0, 1, 66, 132, 37},
      {"non-zero minimum", 2, 200, 16, 100, 199, 50, 150, 1, 166, 83, 27 + 50 * 83 / 50},
      {"inner 36", 1, 16, 38, 0, 9, 1, 0, 1, 4, 4, 37},
      {"inner 35", 1, 16, 37, 0, 9, 1, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CFgUIScrollBar b;
    b.m_kind = c.kind;
    b.SetRect(10, 20, c.w, c.h);
    b.SetRange(c.min, c.max, c.page, c.pos);
    FgScrollGeometry g = b.Geometry();
    EXPECT_EQ(g.valid, c.valid) << c.name;
    if (!c.valid) continue;
    EXPECT_EQ(g.track, c.track) << c.name;
    EXPECT_EQ(g.thumbLength, c.thumb) << c.name;
    EXPECT_EQ(g.thumbStart, c.thumbStart) << c.name;
  }
}

TEST_F(BarTest, PressesByPlace) {
  AddVertical();
  // Widget-relative y: arrows 1..16 and 83..98, thumb at 17..22 for position 0.
  struct Case {
    const char* name;
    int start, y, end, dragging;
  } cases[] = {
      {"first arrow", 5, 3, 4, 0},     {"first arrow at minimum", 0, 3, 0, 0},
      {"last arrow", 5, 95, 6, 0},     {"before thumb", 50, 20, 40, 0},
      {"after thumb", 0, 60, 10, 0},   {"on thumb", 0, 19, 0, 1},
  };
  for (const Case& c : cases) {
    bar.m_position = c.start;
    bar.m_dragging = 0;
    bar.OnLButtonDown(8, c.y);
    EXPECT_EQ(bar.m_position, c.end) << c.name;
    EXPECT_EQ(bar.m_dragging, c.dragging) << c.name;
    EXPECT_EQ(dlg.m_captureChild == &bar, c.dragging == 1) << c.name;
    bar.OnLButtonUp(8, c.y);
    EXPECT_EQ(dlg.m_captureChild, nullptr) << c.name;
  }
}

TEST_F(BarTest, ShortBarStepsForwardOnAnyPress) {
  bar.m_kind = FgBarHorizontal;
  bar.SetRange(0, 20, 5, 3);
  bar.SetRect(0, 0, 37, 16);  // 35 inner pixels
  dlg.AddChild(&bar);
  bar.OnLButtonDown(1, 5);
  EXPECT_EQ(bar.m_position, 4);
  bar.OnLButtonDown(30, 5);
  EXPECT_EQ(bar.m_position, 5);
  bar.OnMouseMove(100, 5);  // no drag on a short bar
  EXPECT_EQ(bar.m_position, 5);
}

TEST_F(BarTest, DragFollowsThePointerAndClamps) {
  AddVertical();
  bar.OnLButtonDown(8, 19);  // on the thumb, absolute y 39
  ASSERT_EQ(bar.m_dragging, 1);
  // N = 90, usable = T + 4 - thumb = 64: new = 90 * moved / 64
  struct Case {
    int y, pos;
  } cases[] = {{19 + 32, 45}, {19 + 1, 1}, {19 - 10, 0}, {19 + 64, 90}, {19 + 500, 90}};
  for (const Case& c : cases) {
    bar.OnMouseMove(8, c.y);
    EXPECT_EQ(bar.m_position, c.pos) << c.y;
  }
  EXPECT_EQ(calls.positions, (std::vector<int>{45, 1, 0, 90}));
  bar.OnLButtonUp(8, 0);
  bar.OnMouseMove(8, 19);
  EXPECT_EQ(bar.m_position, 90);
}

TEST_F(BarTest, DragWithPageCoveringTheRangeNeverMoves) {
  AddVertical();
  bar.SetRange(0, 9, 20, 0);  // thumb longer than the track: usable track below 1
  bar.OnLButtonDown(8, 20);
  ASSERT_EQ(bar.m_dragging, 1);
  bar.OnMouseMove(8, 80);
  bar.OnMouseMove(8, -80);
  EXPECT_EQ(bar.m_position, 0);
  EXPECT_TRUE(calls.positions.empty());
}

TEST_F(BarTest, WheelAndKeys) {
  AddVertical();
  bar.m_wheelStep = 3;
  struct Wheel {
    int start, notches, end;
  } wheels[] = {{0, 1, 3}, {88, 1, 90}, {90, 1, 90}, {2, -1, 0}, {0, -1, 0}, {50, -2, 44}};
  for (const Wheel& w : wheels) {
    bar.m_position = w.start;
    bar.OnMouseWheel(0, 0, w.notches);
    EXPECT_EQ(bar.m_position, w.end) << w.start << " " << w.notches;
  }
  struct Key {
    int kind;
    uint16_t flags;
    int start, end;
  } keys[] = {
      {1, FgKeyDown, 5, 6},          {1, FgKeyDown | FgKeyShift, 5, 15},
      {1, FgKeyUp, 5, 4},            {1, FgKeyUp | FgKeyShift, 5, 0},
      {1, FgKeyRight, 5, 5},         {2, FgKeyRight, 5, 6},
      {2, FgKeyLeft | FgKeyShift, 25, 15}, {2, FgKeyDown, 5, 5},
  };
  for (const Key& k : keys) {
    bar.m_kind = k.kind;
    bar.m_position = k.start;
    dlg.SetKeyFlags(k.flags);
    bar.OnKeyStateChanged();
    EXPECT_EQ(bar.m_position, k.end) << k.kind << " " << k.flags;
    bar.m_position = k.start;
    bar.OnSpecialKeyRepeat();
    EXPECT_EQ(bar.m_position, k.end) << "repeat " << k.kind << " " << k.flags;
  }
}

// A callback that steps the bar again: the inner step moves the position but neither
// calls back nor redraws.
void Reenter(CFgUIScrollBar* bar, void* user, int32_t pos) {
  static_cast<Calls*>(user)->positions.push_back(pos);
  bar->LineDown();
}

TEST_F(BarTest, CallbackIsGuardedAgainstReentry) {
  AddVertical();
  bar.m_callback = Reenter;
  EXPECT_EQ(bar.LineDown(), 1);
  EXPECT_EQ(bar.m_position, 2);
  EXPECT_EQ(calls.positions, std::vector<int>{1});
  EXPECT_EQ(bar.m_inCallback, 0);
}

TEST_F(BarTest, OtherKindsIgnoreInput) {
  bar.SetRange(0, 99, 10, 5);
  bar.SetRect(0, 0, 16, 100);
  dlg.AddChild(&bar);
  bar.OnLButtonDown(5, 50);
  bar.OnMouseWheel(5, 50, 2);
  EXPECT_EQ(bar.m_position, 5);
  dlg.Redraw();  // draws the frame only
}

class RangeTest : public BarTest {
 protected:
  // Horizontal range bar at x 10, 117 wide: P(v) = 18 + v * 100 / max for min 0.
  void AddRange(int min, int max, int low, int high) {
    range.m_kind = FgBarHorizontal;
    range.m_minimum = min;
    range.m_maximum = max;
    range.m_low = low;
    range.m_high = high;
    range.SetRect(10, 5, 117, 16);
    range.m_callback = OnRange;
    range.m_user = &calls;
    dlg.AddChild(&range);
  }
  CFgUIRangeBar range;
};

TEST_F(RangeTest, GripPositions) {
  struct Case {
    const char* name;
    int min, max, low, high;
    int64_t lowPos, highPos;
  } cases[] = {
      {"zero minimum", 0, 100, 10, 50, 28, 68},
      {"ends", 0, 100, 0, 100, 18, 118},
      {"non-zero minimum is the scale's start", 50, 150, 60, 100, 28, 68},
      {"negative minimum", -100, 0, -100, -50, 18, 68},
      {"empty range does not divide", 7, 7, 7, 7, 18, 18},
  };
  for (const Case& c : cases) {
    CFgUIRangeBar r;
    r.m_kind = FgBarHorizontal;
    r.m_minimum = c.min;
    r.m_maximum = c.max;
    r.m_low = c.low;
    r.m_high = c.high;
    r.SetRect(10, 5, 117, 16);
    FgRangeGeometry g = r.Geometry();
    ASSERT_EQ(g.valid, 1) << c.name;
    EXPECT_EQ(g.lowPos, c.lowPos) << c.name;
    EXPECT_EQ(g.highPos, c.highPos) << c.name;
  }
  CFgUIRangeBar tiny;
  tiny.m_kind = FgBarVertical;
  tiny.SetRect(0, 0, 16, 16);  // inner 14
  EXPECT_EQ(tiny.Geometry().valid, 0);
  tiny.OnLButtonDown(5, 5);
  tiny.OnMouseWheel(5, 5, 1);
  EXPECT_EQ(tiny.m_dragMode, 0);
}

TEST_F(RangeTest, DragModes) {
  AddRange(0, 100, 20, 60);  // P(20) = 38, P(60) = 78 (window x)
  // delta = 101 * moved / 101 = moved
  struct Case {
    const char* name;
    int pressX, moveX;
    int mode, low, high;
  } cases[] = {
      {"low grip", 34, 44, 1, 30, 60},
      {"low grip held under high", 34, 200, 1, 60, 60},
      {"low grip held at minimum", 34, -100, 1, 0, 60},
      {"span", 50, 40, 2, 10, 50},
      {"span cut at minimum", 50, -100, 2, 0, 40},
      {"span cut at maximum", 50, 200, 2, 60, 100},
      {"high grip", 82, 72, 3, 20, 50},
      {"high grip held above low", 82, -100, 3, 20, 20},
      {"outside the grips", 20, 40, 0, 20, 60},
  };
  for (const Case& c : cases) {
    range.m_low = 20;
    range.m_high = 60;
    range.OnLButtonDown(c.pressX - 10, 5);
    EXPECT_EQ(range.m_dragMode, c.mode) << c.name;
    range.OnMouseMove(c.moveX - 10, 5);
    EXPECT_EQ(range.m_low, c.low) << c.name;
    EXPECT_EQ(range.m_high, c.high) << c.name;
    range.OnLButtonUp(0, 0);
    EXPECT_EQ(range.m_dragMode, 0) << c.name;
    EXPECT_EQ(dlg.m_captureChild, nullptr) << c.name;
  }
}

TEST_F(RangeTest, EqualLowAndHigh) {
  AddRange(0, 100, 40, 40);  // P = 58
  range.OnLButtonDown(58 - 10, 5);
  ASSERT_EQ(range.m_dragMode, 2);
  range.OnMouseMove(63 - 10, 5);
  EXPECT_EQ(range.m_low, 45);
  EXPECT_EQ(range.m_high, 45);
  range.OnMouseMove(63 - 10, 5);  // same delta again: nothing
  EXPECT_EQ(calls.ranges.size(), 1u);
  range.OnLButtonUp(0, 0);

  struct Key {
    uint16_t flags;
    int low, high;
  } keys[] = {{FgKeyLeft | FgKeyCtrl, 44, 45}, {FgKeyLeft | FgKeyShift, 44, 44},
              {FgKeyLeft | FgKeyShift, 44, 44}, {FgKeyRight, 45, 45},
              {FgKeyRight | FgKeyShift, 45, 46}, {FgKeyRight | FgKeyCtrl, 46, 46},
              {FgKeyRight | FgKeyCtrl, 46, 46}, {FgKeyDown, 46, 46}};
  for (const Key& k : keys) {
    dlg.SetKeyFlags(k.flags);
    range.OnKeyStateChanged();
    EXPECT_EQ(range.m_low, k.low) << k.flags;
    EXPECT_EQ(range.m_high, k.high) << k.flags;
  }
  range.m_low = 0;
  range.m_high = 100;
  dlg.SetKeyFlags(FgKeyLeft);
  range.OnKeyStateChanged();
  dlg.SetKeyFlags(FgKeyRight);
  range.OnKeyStateChanged();
  EXPECT_EQ(range.m_low, 0);
  EXPECT_EQ(range.m_high, 100);
}

TEST_F(RangeTest, Wheel) {
  AddRange(0, 25, 10, 20);  // P(v) = 18 + v * 100 / 25: P(10) = 58, P(20) = 98
  struct Case {
    const char* name;
    int x, notches;
    int low, high;
  } cases[] = {
      {"span up, cut at maximum", 70, 10, 15, 25},
      {"span down, cut at minimum", 70, -30, 0, 10},
      {"low up, held at high", 30, 30, 20, 20},
      {"low down", 30, -3, 7, 20},
      {"high down, held at low", 110, -30, 10, 10},
      {"high up, held at maximum", 110, 9, 10, 25},
  };
  for (const Case& c : cases) {
    range.m_low = 10;
    range.m_high = 20;
    range.OnMouseWheel(c.x - 10, 5, c.notches);
    EXPECT_EQ(range.m_low, c.low) << c.name;
    EXPECT_EQ(range.m_high, c.high) << c.name;
  }
  dlg.Redraw();
}

TEST_F(RangeTest, OtherKindsIgnoreInput) {
  AddRange(0, 25, 10, 20);
  range.m_kind = 0;
  range.OnMouseWheel(60, 5, 3);  // over the span of a horizontal bar
  range.OnLButtonDown(60, 5);
  range.OnMouseMove(90, 5);
  dlg.SetKeyFlags(FgKeyRight);
  range.OnKeyStateChanged();
  EXPECT_EQ(range.m_low, 10);
  EXPECT_EQ(range.m_high, 20);
  EXPECT_TRUE(calls.ranges.empty());
  dlg.Redraw();  // draws the frame only
}

// The widest range and a pointer at the far end of the coordinate space: the drag stays in
// range without overflowing on the way.
TEST_F(BarTest, DragOverTheWholeIntegerRange) {
  AddVertical();
  bar.SetRange(INT32_MIN, INT32_MAX, 1, INT32_MIN);
  bar.OnLButtonDown(8, 19);
  ASSERT_EQ(bar.m_dragging, 1);
  bar.OnMouseMove(8, INT32_MAX);
  EXPECT_EQ(bar.m_position, INT32_MAX);
  bar.OnMouseMove(8, INT32_MIN);
  EXPECT_EQ(bar.m_position, INT32_MIN);
  bar.OnLButtonUp(8, 0);

  CFgUIRangeBar r;
  r.m_kind = FgBarHorizontal;
  r.m_minimum = INT32_MIN;
  r.m_maximum = INT32_MAX;
  r.m_low = INT32_MIN;
  r.m_high = 0;
  r.SetRect(10, 5, 117, 16);
  dlg.AddChild(&r);
  r.OnLButtonDown(50, 5);  // the span
  ASSERT_EQ(r.m_dragMode, 2);
  r.OnMouseMove(INT32_MAX, 5);
  EXPECT_EQ(r.m_high, INT32_MAX);
  EXPECT_EQ(r.m_low, -1);
  r.OnMouseMove(INT32_MIN, 5);
  EXPECT_EQ(r.m_low, INT32_MIN);
  r.OnLButtonUp(0, 0);
}

}  // namespace
