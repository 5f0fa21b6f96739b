// sidepanel_x11_test.cpp - the side panel in the real main window, driven by X input: rows
// and the scroll bar, the row boxes, Shift ranges, the buttons, right-button dragging, FLUSH,
// the chain tabs, the texts of both languages, its picture; and the host operations that
// filters meet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "app/mainscreen.h"
#include "app/sidepanel.h"
#include "main_window_test_util.h"
#include "media/media.h"
#include "testhost.h"

namespace {

using apptest::RecordingFilter;
using mwtest::InvertFilter;

constexpr uint32_t kShiftKey = 0xffe1;  // Shift_L

class SidePanelTest : public mwtest::MainWindowTest {
 protected:
  // Opens the window with the panel shown and n filters f0.. (those in withDialog have a
  // settings window); the log emptied.
  void OpenWith(int n, std::vector<int> withDialog = {}) {
    Open();
    screen_->ShowSidePanel();
    for (int i = 0; i < n; ++i) {
      int dialog = 0;
      for (int d : withDialog) dialog |= d == i;
      ASSERT_EQ(Panel().AddFilter(new RecordingFilter(&log_, "f" + std::to_string(i), dialog)), 1);
    }
    Calls();
  }
  // Window point of a row (scroll position 0) at a column of the list.
  void RowPoint(int row, int column, int32_t* x, int32_t* y) {
    *x = int32_t(Panel().m_listX + column);
    *y = int32_t(Panel().m_listY + 20 * row + 10);
  }
  void ClickRow(int row, int column, uint32_t button = 1) {
    int32_t x, y;
    RowPoint(row, column, &x, &y);
    Click(x, y, button);
  }
  void ShiftClickRow(int row) {
    ASSERT_EQ(1, PlatTestSendInput(screen_->GetWindow(), 2, kShiftKey, 0, 0));
    filtertest::Settle();
    ClickRow(row, 60);
    ASSERT_EQ(1, PlatTestSendInput(screen_->GetWindow(), 3, kShiftKey, 0, 0));
    filtertest::Settle();
  }
  // The chain's names in order.
  std::string Order() {
    std::string out;
    for (uint64_t i = 0; i < Panel().FilterCount(); ++i)
      out += static_cast<RecordingFilter*>(Panel().FilterAt(i))->name_ + " ";
    return out;
  }
  int64_t Selected() {
    const FilterChain& c = Panel().CurrentChain();
    return c.selected ? int64_t(c.selectedIndex) : -1;
  }
  // How many lines of the log contain what.
  static size_t Count(const std::vector<std::string>& lines, const std::string& what) {
    size_t n = 0;
    for (const std::string& l : lines) n += l.find(what) != std::string::npos;
    return n;
  }
};

// ---------------------------------------------------------------------------------------
// Rows and scroll bar

TEST_F(SidePanelTest, RowCountsFollowTheListHeightAndTheBarTheFilterCount) {
  OpenWith(0);
  struct Case {
    int32_t listHeight;
    int filters;
    uint64_t full, visible;
    uint32_t scroll;
    int64_t listWidth;
  } const cases[] = {
      {100, 5, 5, 5, 0, 173}, {100, 6, 5, 5, 1, 157}, {101, 5, 5, 6, 0, 173},
      {101, 6, 5, 6, 1, 157}, {19, 1, 0, 1, 1, 157},  // lower than one row: the bar still scrolls
                                                      // one at a time
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.listHeight) + " px, " + std::to_string(c.filters) + " filters");
    Panel().RemoveAllFilters(1);
    for (int i = 0; i < c.filters; ++i) Panel().AddFilter(new RecordingFilter(nullptr, "x"));
    const CFgUIObj& w = Panel();
    ASSERT_EQ(Panel().SetRect(w.m_x, w.m_y, 184, c.listHeight + 88), 1);
    Panel().Layout();
    EXPECT_EQ(Panel().m_fullRows, c.full);
    EXPECT_EQ(Panel().m_visibleRows, c.visible);
    EXPECT_EQ(Panel().m_scrollNeeded, c.scroll);
    EXPECT_EQ(Panel().m_rows.m_visible, int32_t(c.scroll));
    EXPECT_EQ(Panel().m_listWidth, c.listWidth);
    EXPECT_GE(Panel().m_rows.m_page, 1);
    EXPECT_EQ(Panel().m_rows.m_maximum, c.filters - 1);
  }
  // Scrolled to the end, a shorter chain pulls the position back so the page stays full.
  Panel().RemoveAllFilters(1);
  for (int i = 0; i < 10; ++i) Panel().AddFilter(new RecordingFilter(nullptr, "x"));
  const CFgUIObj& w = Panel();
  Panel().SetRect(w.m_x, w.m_y, 184, 100 + 88);
  Panel().Layout();
  Panel().m_rows.m_position = 5;
  Panel().m_chains[0].selected = Panel().FilterAt(9);
  Panel().m_chains[0].selectedIndex = 9;
  Panel().Delete();
  Panel().m_chains[0].selected = Panel().FilterAt(8);
  Panel().m_chains[0].selectedIndex = 8;
  Panel().Delete();
  EXPECT_EQ(Panel().m_rows.m_position, 3);
  // A list lower than one row: the position cannot pass the last row.
  Panel().SetRect(w.m_x, w.m_y, 184, 10 + 88);
  Panel().m_rows.m_position = 20;
  Panel().Layout();
  EXPECT_EQ(Panel().m_rows.m_page, 1);
  EXPECT_EQ(Panel().m_rows.m_position, 7);
  EXPECT_EQ(Panel().m_rows.m_maximum, 7);
  // A hidden panel never shows its bar, and shows it again with the panel.
  screen_->HideSidePanel();
  EXPECT_EQ(Panel().m_rows.m_visible, 0);
  Panel().Layout();
  EXPECT_EQ(Panel().m_rows.m_visible, 0);
  screen_->ShowSidePanel();
  Panel().SetRect(w.m_x, w.m_y, 184, 100 + 88);
  Panel().Layout();
  EXPECT_EQ(Panel().m_rows.m_visible, 1);
}

// ---------------------------------------------------------------------------------------
// Row boxes and selection

TEST_F(SidePanelTest, ClicksOnTheBoxesAndBelowTheRows) {
  OpenWith(3, {1});
  ShowStill(40, 30);
  Calls();
  // Below the last row, and on the list's empty part: nothing.
  ClickRow(3, 60);
  ClickRow(7, 5);
  EXPECT_EQ(Selected(), 2);  // the last added
  EXPECT_TRUE(Calls().empty());
  // The enable box turns the filter off and runs the chain once.
  ClickRow(0, 5);
  EXPECT_EQ(Panel().FilterAt(0)->m_filterEnabled, 0u);
  std::vector<std::string> lines = Calls();
  EXPECT_EQ(Count(lines, "f0:OnEnable(0)"), 1u);
  EXPECT_EQ(Count(lines, "f0:Process"), 0u);
  EXPECT_EQ(Count(lines, "f1:Process"), 1u);
  EXPECT_EQ(Count(lines, "f2:Process"), 1u);
  // The window box: only a filter with a settings window reacts.
  ClickRow(0, 25);
  EXPECT_TRUE(Calls().empty());
  CImgFilter* f1 = Panel().FilterAt(1);
  ASSERT_EQ(f1->m_dialogVisible, 1u);  // opened when added
  ClickRow(1, 25);
  EXPECT_EQ(f1->m_dialogVisible, 0u);
  EXPECT_EQ(f1->m_dialogParent, nullptr);
  EXPECT_EQ(Calls(), std::vector<std::string>{"f1:ShowDialog(0,null)"});
  ClickRow(1, 25);
  EXPECT_EQ(f1->m_dialogVisible, 1u);
  EXPECT_EQ(f1->m_dialogParent, static_cast<CFgScreen*>(screen_));
  EXPECT_EQ(Calls(), std::vector<std::string>{"f1:ShowDialog(1,parent)"});
  // The name selects.
  ClickRow(0, 60);
  EXPECT_EQ(Selected(), 0);
  // Scrolled, a row counts from the bar's position.
  for (int i = 3; i < 12; ++i) Panel().AddFilter(new RecordingFilter(&log_, "f" + std::to_string(i)));
  const CFgUIObj& w = Panel();
  Panel().SetRect(w.m_x, w.m_y, 184, 100 + 88);
  Panel().Layout();
  ASSERT_EQ(Panel().m_rows.m_visible, 1);
  Panel().m_rows.MoveTo(5);
  ClickRow(1, 60);
  EXPECT_EQ(Selected(), 6);
  ClickRow(4, 60);
  EXPECT_EQ(Selected(), 9);
}

TEST_F(SidePanelTest, ShiftClicksMakeRanges) {
  OpenWith(5);
  ClickRow(1, 60);
  ShiftClickRow(3);
  EXPECT_EQ(Selected(), -1);
  EXPECT_EQ(Panel().m_rangeFirst, 1);
  EXPECT_EQ(Panel().m_rangeLast, 3);
  EXPECT_EQ(Panel().m_anchor, 1);
  // Upward from the same anchor.
  ShiftClickRow(0);
  EXPECT_EQ(Panel().m_rangeFirst, 0);
  EXPECT_EQ(Panel().m_rangeLast, 1);
  // On the anchor itself: that row alone, the anchor kept.
  ShiftClickRow(1);
  EXPECT_EQ(Selected(), 1);
  EXPECT_EQ(Panel().m_rangeFirst, -1);
  EXPECT_EQ(Panel().m_anchor, 1);
  // A plain click forgets the anchor; Shift on the selected row's own row leaves no range.
  ClickRow(2, 60);
  EXPECT_EQ(Panel().m_anchor, -1);
  ShiftClickRow(2);
  EXPECT_EQ(Selected(), 2);
  EXPECT_EQ(Panel().m_rangeFirst, -1);
  EXPECT_EQ(Panel().m_anchor, 2);
}

// ---------------------------------------------------------------------------------------
// Buttons

TEST_F(SidePanelTest, ButtonsDeleteAndMove) {
  OpenWith(5);
  ShowStill(8, 8);
  // DEL on a range of one row removes exactly that filter (a real click on the button).
  Panel().m_rangeFirst = Panel().m_rangeLast = 2;
  Panel().m_chains[0].selected = nullptr;
  filtertest::ClickControl(screen_, Panel().m_del);
  filtertest::Settle();
  EXPECT_EQ(Order(), "f0 f1 f3 f4 ");
  EXPECT_EQ(Panel().m_rangeFirst, -1);
  // DEL with a range removes it whole.
  ClickRow(1, 60);
  ShiftClickRow(2);
  Panel().Delete();
  EXPECT_EQ(Order(), "f0 f4 ");
  EXPECT_EQ(Selected(), -1);
  for (int i = 5; i < 8; ++i)
    Panel().AddFilter(new RecordingFilter(&log_, "f" + std::to_string(i)));
  // f0 f4 f5 f6 f7.  UP with a range starting at row 0: nothing, but the anchor is gone.
  ClickRow(0, 60);
  ShiftClickRow(1);
  Calls();
  Panel().Up();
  EXPECT_EQ(Order(), "f0 f4 f5 f6 f7 ");
  EXPECT_EQ(Panel().m_anchor, -1);
  EXPECT_TRUE(Calls().empty());
  // DOWN moves the range a row, keeping its order, and runs the chain.
  filtertest::ClickControl(screen_, Panel().m_down);
  filtertest::Settle();
  EXPECT_EQ(Order(), "f5 f0 f4 f6 f7 ");
  EXPECT_EQ(Panel().m_rangeFirst, 1);
  EXPECT_EQ(Panel().m_rangeLast, 2);
  EXPECT_GE(Count(Calls(), ":Process"), 1u);
  // UP on a single selection; DOWN with the selection on the last row does nothing.
  ClickRow(3, 60);
  Panel().Up();
  EXPECT_EQ(Order(), "f5 f0 f6 f4 f7 ");
  EXPECT_EQ(Selected(), 2);
  ClickRow(4, 60);
  Panel().Down();
  EXPECT_EQ(Order(), "f5 f0 f6 f4 f7 ");
  EXPECT_EQ(Selected(), 4);
}

TEST_F(SidePanelTest, RightDragMovesABlockAndStopsAtTheEnd) {
  OpenWith(5);
  ShowStill(8, 8);
  ClickRow(1, 60);
  ShiftClickRow(2);
  Calls();
  // Pressed on the block, released three rows lower: one motion of three rows.
  int32_t x, y;
  RowPoint(1, 60, &x, &y);
  ASSERT_EQ(1, PlatTestSendInput(screen_->GetWindow(), 0, 3, x, y));
  filtertest::Settle();
  EXPECT_EQ(Panel().m_dragging, 1u);
  // The test's X events move no pointer: the motion goes in through the window's handler.
  screen_->OnMouseMove(x, y + 60);
  ASSERT_EQ(1, PlatTestSendInput(screen_->GetWindow(), 1, 3, x, y + 60));
  filtertest::Settle();
  // Only two rows were free below it.
  EXPECT_EQ(Order(), "f0 f3 f4 f1 f2 ");
  EXPECT_EQ(Panel().m_rangeFirst, 3);
  EXPECT_EQ(Panel().m_rangeLast, 4);
  EXPECT_EQ(Panel().m_dragging, 0u);
  EXPECT_EQ(screen_->m_captureChild, nullptr);
  std::vector<std::string> lines = Calls();
  EXPECT_EQ(Count(lines, "f0:Process"), 1u);  // one run, at the release
  // A press outside the range selects that row and drags it alone, upward to the top.
  RowPoint(2, 60, &x, &y);
  ASSERT_EQ(1, PlatTestSendInput(screen_->GetWindow(), 0, 3, x, y));
  filtertest::Settle();
  EXPECT_EQ(Panel().m_rangeFirst, -1);
  EXPECT_EQ(Selected(), 2);
  screen_->OnMouseMove(x, y - 100);
  ASSERT_EQ(1, PlatTestSendInput(screen_->GetWindow(), 1, 3, x, y - 100));
  filtertest::Settle();
  EXPECT_EQ(Order(), "f4 f0 f3 f1 f2 ");
  EXPECT_EQ(Selected(), 0);
  // A drag that ends where it began runs nothing.
  Calls();
  Panel().OnRButtonDown(x - Panel().PanelX(), y - Panel().PanelY());
  Panel().OnMouseMove(x - Panel().PanelX(), y - Panel().PanelY() + 19);
  Panel().OnRButtonUp(0, 0);
  EXPECT_TRUE(Calls().empty());
}

// ---------------------------------------------------------------------------------------
// FLUSH

TEST_F(SidePanelTest, FlushCommitsTheProcessedStillAndEmptiesEveryChain) {
  Open();
  screen_->ShowSidePanel();
  ShowStill(6, 4);
  CImgBuff original;
  original.CopyFrom(screen_->m_source);
  ASSERT_EQ(Panel().AddFilter(new InvertFilter(&log_, "inv")), 1);
  ASSERT_EQ(Panel().SelectChainTab(2), 1);
  ASSERT_EQ(Panel().AddFilter(new RecordingFilter(&log_, "other")), 1);
  ASSERT_EQ(Panel().SelectChainTab(0), 1);
  Panel().Layout();
  EXPECT_EQ(Panel().m_flush.m_enabled, 1);

  CScriptedDialogs dialogs;
  dialogs.m_answers = {0, 1};
  // Cancel: nothing changes.
  Panel().Flush();
  ASSERT_EQ(dialogs.m_shown.size(), 1u);
  EXPECT_EQ(dialogs.m_shown[0].text, L"処理を確定しメモリー上のデータを更新します");
  EXPECT_EQ(dialogs.m_shown[0].caption, L"確認");
  EXPECT_EQ(dialogs.m_shown[0].kind, 0);
  EXPECT_TRUE(apptest::SamePixels(screen_->m_source, original));
  EXPECT_EQ(Panel().m_chains[0].count, 1u);
  EXPECT_EQ(Panel().m_chains[2].count, 1u);
  // OK: the processed frame is the new source and original; all four chains are empty.
  screen_->SetLanguage(L"en");
  Panel().Flush();
  ASSERT_EQ(dialogs.m_shown.size(), 2u);
  EXPECT_EQ(dialogs.m_shown[1].text, L"Confirm confirmation process and update data in memory");
  EXPECT_EQ(dialogs.m_shown[1].caption, L"Confirmation");
  ASSERT_EQ(screen_->m_source.Width(), 6);
  const uint8_t* s = static_cast<const uint8_t*>(screen_->m_source.Pixels());
  const uint8_t* o = static_cast<const uint8_t*>(original.Pixels());
  for (int i = 0; i < 6 * 4 * 3; ++i) ASSERT_EQ(s[i], uint8_t(255 - o[i])) << i;
  EXPECT_TRUE(apptest::SamePixels(screen_->m_original, screen_->m_source));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(Panel().m_chains[c].count, 0u) << c;
  EXPECT_EQ(Panel().m_currentChain, 0);
  // With the chain empty FLUSH asks nothing.
  Panel().Flush();
  EXPECT_EQ(dialogs.m_shown.size(), 2u);
}

TEST_F(SidePanelTest, FlushDoesNothingForSeveralScenesOrAnOpenVideo) {
  Open();
  screen_->ShowSidePanel();
  ShowStill(6, 4);
  ASSERT_EQ(Panel().AddFilter(new InvertFilter(&log_, "inv")), 1);
  CImgBuff before;
  before.CopyFrom(screen_->m_source);
  CScriptedDialogs dialogs;
  dialogs.m_answers = {1, 1, 1};
  // A play range of several scenes.
  screen_->m_videoPanel.m_count = 3;
  Panel().Layout();
  EXPECT_EQ(Panel().m_flush.m_enabled, 0);
  Panel().Flush();
  // A video narrowed to one scene is still a video: its frame is no still to commit.
  const std::string first = folder_.File("seq_1.png"), last = folder_.File("seq_2.png");
  ASSERT_EQ(std::system(("/usr/bin/convert -size 6x4 xc:red '" + first +
                         "' && /usr/bin/convert -size 6x4 xc:blue '" + last + "'")
                            .c_str()),
            0);
  MediaFile* video =
      MediaOpenSequence(qvtest::Utf8Wide(first).c_str(), qvtest::Utf8Wide(last).c_str());
  ASSERT_NE(video, nullptr);
  screen_->m_media = video;  // the screen closes it
  screen_->m_videoPanel.m_count = 1;
  Panel().Layout();
  EXPECT_EQ(Panel().m_flush.m_enabled, 0);
  Panel().Flush();
  EXPECT_TRUE(dialogs.m_shown.empty());
  EXPECT_TRUE(apptest::SamePixels(screen_->m_source, before));
  EXPECT_EQ(Panel().FilterCount(), 1u);
}

// ---------------------------------------------------------------------------------------
// Tabs, texts, picture

TEST_F(SidePanelTest, TabsParkAndUnparkTheFilterWindows) {
  OpenWith(2, {0});
  CImgFilter* f0 = Panel().FilterAt(0);
  ASSERT_EQ(f0->m_dialogVisible, 1u);
  // A tab beyond the four is refused before anything is parked.
  EXPECT_EQ(Panel().SelectChainTab(4), 0);
  EXPECT_EQ(Panel().m_currentChain, 0);
  EXPECT_EQ(f0->m_parked, 0u);
  EXPECT_TRUE(Calls().empty());
  // A real click on tab 2.
  const int64_t* t = Panel().m_tabs[1];
  Click(int32_t(t[0] + 5), int32_t(t[1] + 5));
  EXPECT_EQ(Panel().m_currentChain, 1);
  EXPECT_EQ(f0->m_parked, 1u);
  EXPECT_EQ(f0->m_dialogVisible, 1u);  // kept for the way back
  EXPECT_EQ(Count(Calls(), "f0:ShowDialog(0,null)"), 1u);
  EXPECT_EQ(Panel().m_rows.m_maximum, 0);
  ASSERT_EQ(Panel().AddFilter(new RecordingFilter(&log_, "g", 1)), 1);
  CImgFilter* g = Panel().FilterAt(0);
  Calls();
  Click(int32_t(Panel().m_tabs[0][0] + 5), int32_t(Panel().m_tabs[0][1] + 5));
  EXPECT_EQ(Panel().m_currentChain, 0);
  EXPECT_EQ(f0->m_parked, 0u);
  EXPECT_EQ(g->m_parked, 1u);
  std::vector<std::string> lines = Calls();
  EXPECT_EQ(Count(lines, "g:ShowDialog(0,null)"), 1u);
  EXPECT_EQ(Count(lines, "f0:ShowDialog(1,parent)"), 1u);
  EXPECT_EQ(Count(lines, "f1:ShowDialog"), 0u);  // no window, nothing to show
}

TEST_F(SidePanelTest, ButtonTextsInBothLanguages) {
  OpenWith(1);
  EXPECT_STREQ(Panel().m_del.m_text, L"削除");
  EXPECT_STREQ(Panel().m_up.m_text, L"↑");
  EXPECT_STREQ(Panel().m_down.m_text, L"↓");
  EXPECT_STREQ(Panel().m_flush.m_text, L"確定");
  screen_->SetLanguage(L"en");
  EXPECT_STREQ(Panel().m_del.m_text, L"DEL");
  EXPECT_STREQ(Panel().m_up.m_text, L"UP");
  EXPECT_STREQ(Panel().m_down.m_text, L"DOWN");
  EXPECT_STREQ(Panel().m_flush.m_text, L"FLUSH");
  // Placed by the panel's corner and height.
  const CFgUIObj& w = Panel();
  EXPECT_EQ(Panel().m_del.m_x, w.m_x + 5);
  EXPECT_EQ(Panel().m_down.m_x, w.m_x + 143);
  EXPECT_EQ(Panel().m_flush.m_y, w.m_y + w.m_height - 29);
  EXPECT_EQ(Panel().m_flush.m_width, 174);
}

TEST_F(SidePanelTest, PictureShowsTheSelectedRowHighlightedAndTheIcons) {
  OpenWith(3, {1});
  ShowStill(64, 48);
  ClickRow(1, 60);
  ClickRow(2, 5);  // f2 off
  const std::vector<uint8_t>& px = Picture();
  const uint64_t w = screen_->m_clientWidth;
  auto at = [&](int64_t x, int64_t y) { return &px[size_t((uint64_t(y) * w + uint64_t(x)) * 3)]; };
  auto is = [&](int64_t x, int64_t y, const double* c) {
    const uint8_t* p = at(x, y);
    for (int k = 0; k < 3; ++k)
      if (std::abs(int(p[k]) - int(std::lround(c[k] * 255))) > 1) return false;
    return true;
  };
  const double(*colors)[3] = screen_->m_colors;
  const int64_t lx = Panel().m_listX, ly = Panel().m_listY;
  // Row 1 in the highlight, rows 0 and 2 white, below the rows the list's grey.
  EXPECT_TRUE(is(lx + 150, ly + 1 + 20 + 2, colors[FgColorFieldHighlight]));
  EXPECT_TRUE(is(lx + 150, ly + 1 + 2, colors[FgColorFieldWhite]));
  EXPECT_TRUE(is(lx + 150, ly + 1 + 40 + 2, colors[FgColorFieldWhite]));
  EXPECT_TRUE(is(lx + 150, ly + 1 + 80 + 5, colors[FgColorDisabledText]));
  // The enable box of row 0 holds the tick's ink; f2's box is empty (white inside).
  bool ink = false;
  for (int y = 5; y < 15; ++y)
    for (int x = 5; x < 15; ++x) {
      const uint8_t* p = at(lx + 1 + x, ly + 1 + y);
      ink |= p[0] < 80 && p[1] < 80 && p[2] < 80;
    }
  EXPECT_TRUE(ink);
  const uint8_t* empty = at(lx + 1 + 10, ly + 1 + 40 + 10);
  EXPECT_GT(empty[0], 240);
  // The current tab is black, the others the face colour inside a black border.
  EXPECT_TRUE(is(Panel().m_tabs[0][0] + 3, Panel().m_tabs[0][1] + 15, colors[FgColorFieldText]));
  EXPECT_TRUE(is(Panel().m_tabs[1][0] + 3, Panel().m_tabs[1][1] + 15, colors[FgColorFace]));
  Save("side_panel.png");
  // Disabled with the window's lock: every row white, the icons faded (no black ink left).
  screen_->LockUI();
  const std::vector<uint8_t>& locked = Picture();
  auto lockedAt = [&](int64_t x, int64_t y) {
    return &locked[size_t((uint64_t(y) * w + uint64_t(x)) * 3)];
  };
  const uint8_t* row1 = lockedAt(lx + 150, ly + 1 + 20 + 2);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(row1[k], std::lround(colors[FgColorFieldWhite][k] * 255), 1);
  int darkest = 255;
  for (int y = 5; y < 15; ++y)
    for (int x = 5; x < 15; ++x) darkest = std::min<int>(darkest, lockedAt(lx + 1 + x, ly + 1 + y)[0]);
  EXPECT_GE(darkest, 120);
  EXPECT_LE(darkest, 135);
  filtertest::SaveShot(screen_, "side_panel_locked.png");
  screen_->UnlockUI();
}

// ---------------------------------------------------------------------------------------
// Host operations

// Asks for one more run, asynchronously, from inside its first run.
class AskingFilter : public RecordingFilter {
 public:
  using RecordingFilter::RecordingFilter;
  void Process(CImgBuff* p, uint64_t scene, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t c,
               uint32_t b) override {
    RecordingFilter::Process(p, scene, x, y, w, h, c, b);
    if (runs_++ == 0) m_host->RequestProcess(1);
  }
  std::atomic<int> runs_{0};
};

class MouseFilter : public RecordingFilter {
 public:
  using RecordingFilter::RecordingFilter;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t) override {
    Log("ldown(" + std::to_string(x) + "," + std::to_string(y) + ")");
  }
};

TEST_F(SidePanelTest, RequestProcessWaitsForTheShownFrameOrReturnsAtOnce) {
  Open();
  screen_->ShowSidePanel();
  ShowStill(16, 8);
  ASSERT_EQ(Panel().AddFilter(new InvertFilter(&log_, "inv")), 1);
  Calls();
  Panel().RequestProcess(0);
  // Done and shown on return: the display is the inverted source, and so is the texture.
  ASSERT_EQ(screen_->m_display.Width(), 16);
  const uint8_t* s = static_cast<const uint8_t*>(screen_->m_source.Pixels());
  const uint8_t* d = static_cast<const uint8_t*>(screen_->m_display.Pixels());
  for (int i = 0; i < 16 * 8 * 3; ++i) ASSERT_EQ(d[i], uint8_t(255 - s[i]));
  EXPECT_EQ(screen_->m_view.PictureWidth(), 16);
  EXPECT_EQ(screen_->m_view.m_texture.m_store[0], d[0]);
  EXPECT_EQ(Count(Calls(), "inv:Process"), 1u);
  // Asynchronous from inside a run: one more run follows, without a dead lock.
  auto* asking = new AskingFilter(&log_, "ask");
  ASSERT_EQ(Panel().AddFilter(asking), 1);
  EXPECT_TRUE(toolkittest::PumpUntil([&] { return asking->runs_ >= 2; }, 3000));
  Panel().WaitIdle();
  // The copies the host hands out.
  CImgBuff src, out;
  EXPECT_EQ(Panel().GetSourceImage(&src), 1);
  EXPECT_TRUE(apptest::SamePixels(src, screen_->m_source));
  EXPECT_EQ(Panel().GetOutputImage(&out), 1);
  EXPECT_TRUE(apptest::SamePixels(out, screen_->m_display));
  EXPECT_EQ(Panel().GetSourceImage(nullptr), 0);
}

TEST_F(SidePanelTest, ScenesAndIntervalsWithoutAVideo) {
  Open();
  ShowStill(8, 8);
  EXPECT_EQ(Panel().SeekFrame(0), 1);
  EXPECT_EQ(Panel().SeekFrame(1), 0);
  EXPECT_EQ(Panel().GetCurrentScene(), 0u);
  EXPECT_EQ(Panel().GetSourceFrameTime(), 0u);
  EXPECT_EQ(Panel().GetSourceFrameIntervalUs(), 0u);
  screen_->m_playInterval = 40;
  EXPECT_EQ(Panel().GetPlaybackInterval(), 40u);
}

TEST_F(SidePanelTest, ScenesAndIntervalsOfAVideo) {
  Open();
  // 3 frames at 30 per second, made by an independent tool: 33333 microseconds a frame.
  const std::string avi = folder_.File("clip.avi");
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=32x24:rate=30 "
                         "-frames:v 3 -c:v mjpeg '" + avi + "'").c_str()),
            0);
  MediaFile* video = MediaOpen(qvtest::Utf8Wide(avi).c_str(), nullptr, nullptr);
  ASSERT_NE(video, nullptr);
  screen_->m_media = video;  // the screen closes it
  screen_->m_videoPanel.m_count = 3;
  EXPECT_EQ(Panel().GetSourceFrameIntervalUs(), 33333u);
  EXPECT_EQ(Panel().GetSourceFrameTime(), 33u);
  EXPECT_EQ(Panel().SeekFrame(3), 0);
  EXPECT_EQ(Panel().GetCurrentScene(), 0u);
  EXPECT_EQ(Panel().SeekFrame(2), 1);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 2u);
  EXPECT_EQ(Panel().GetCurrentScene(), 2u);
  // With a play range the scene is the bar's position within it, not the file's frame.
  screen_->m_rangeActive = 1;
  screen_->m_rangeFirst = 1;
  screen_->m_rangeStep = 1;
  screen_->m_videoPanel.m_count = 2;
  EXPECT_EQ(Panel().SeekFrame(1), 1);
  EXPECT_EQ(Panel().GetCurrentScene(), 1u);
  EXPECT_EQ(screen_->m_currentScene, 2u);
}

TEST_F(SidePanelTest, EnableOnlyLocksTheWindowAndImageInputLetsClicksThrough) {
  Open();
  screen_->ShowSidePanel();
  ShowStill(200, 150);
  screen_->m_view.SetZoom(1);
  screen_->m_view.Layout();
  auto* f = new MouseFilter(&log_, "m", 1);
  ASSERT_EQ(Panel().AddFilter(new RecordingFilter(&log_, "o", 1)), 1);
  ASSERT_EQ(Panel().AddFilter(f), 1);
  ASSERT_EQ(Panel().SelectedFilter(), f);
  Calls();
  Panel().EnableOnly(1, f);
  EXPECT_EQ(Panel().m_del.m_enabled, 0);
  EXPECT_EQ(screen_->m_view.m_enabled, 0);
  std::vector<std::string> lines = Calls();
  EXPECT_EQ(Count(lines, "o:EnableDialog(0)"), 1u);
  EXPECT_EQ(Count(lines, "o:OnEnable(0)"), 1u);
  EXPECT_EQ(Count(lines, "m:OnEnable(1)"), 1u);
  int32_t x, y;
  ASSERT_TRUE(WindowPointOf(20, 30, &x, &y));
  Click(x, y);
  EXPECT_EQ(Count(Calls(), "ldown"), 0u);
  Panel().EnableImageInput(1);
  EXPECT_EQ(screen_->m_imageInput, 1);
  EXPECT_EQ(screen_->m_view.m_enabled, 1);
  Click(x, y);
  EXPECT_EQ(Calls(), std::vector<std::string>{"m:ldown(20,30)"});
  Panel().EnableImageInput(0);
  EXPECT_EQ(screen_->m_view.m_enabled, 0);
  Panel().EnableOnly(0, f);
  EXPECT_EQ(Panel().m_del.m_enabled, 1);
  lines = Calls();
  EXPECT_EQ(Count(lines, "o:OnEnable(1)"), 1u);
  EXPECT_GE(Count(lines, "o:EnableDialog(1)"), 1u);  // the container enables twice
  // Unlocked, the flag alone changes.
  Panel().EnableImageInput(1);
  EXPECT_EQ(screen_->m_imageInput, 1);
}

TEST_F(SidePanelTest, EncodeSettingsPassQualityAndKeyIntervalOnlyWhenSwitchedOn) {
  Open();
  CEncodeUI& e = screen_->m_encode;
  e.m_jpegQuality = 80;
  e.m_codec = 2;
  e.m_bitRate = 123456;
  e.m_quality = 40;
  e.m_keyInterval = 7;
  struct Case {
    uint32_t rateMode, keySwitch, quality, key;
  } const cases[] = {{0, 0, 0, 0}, {1, 0, 40, 0}, {0, 1, 0, 7}, {1, 1, 40, 7}};
  for (const Case& c : cases) {
    e.m_rateMode = c.rateMode;
    e.m_keyFrames = c.keySwitch;
    MediaWriteOptions o{};
    o.reserved = 99;
    Panel().GetEncodeSettings(&o);
    EXPECT_EQ(o.jpegQuality, 80u);
    EXPECT_EQ(o.aviCodec, 2u);
    EXPECT_EQ(o.h264BitRate, 123456u);
    EXPECT_EQ(o.h264QualityPct, c.quality);
    EXPECT_EQ(o.h264KeyInterval, c.key);
  }
}

TEST_F(SidePanelTest, ApplyCalibrationReachesTheDialogAndTheFilters) {
  OpenWith(2);
  ShowStill(8, 8);
  Panel().ApplyCalibration(0.25, -1, L"mm");
  EXPECT_EQ(screen_->m_calibration.m_scale, 0.25);
  EXPECT_EQ(screen_->m_calibration.m_axisY, -1);
  EXPECT_STREQ(screen_->m_calibration.m_unit, L"mm");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Panel().FilterAt(i)->m_scale, 0.25);
    EXPECT_EQ(Panel().FilterAt(i)->m_axisY, -1);
  }
  // No real length per pixel: refused whole (a track file's 0 or infinity).
  for (double bad : {0.0, -2.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    Panel().ApplyCalibration(bad, 1, L"km");
    EXPECT_EQ(screen_->m_calibration.m_scale, 0.25);
    EXPECT_EQ(Panel().FilterAt(0)->m_scale, 0.25);
    EXPECT_STREQ(screen_->m_calibration.m_unit, L"mm");
  }
}

}  // namespace
