// list_test.cpp - list box items, selection and check mode, the scroll-bar rule, mouse,
// wheel and keys, without a display (the window layer's headless mode).
#include "toolkit/list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

std::vector<int> g_reports;
void Report(CFgUIList*, void*, int32_t index) { g_reports.push_back(index); }

// A 130-pixel-high list at (10, 10) with the 14-pixel container font: 9 rows per page.
class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    ASSERT_EQ(dlg.Create(0, 0, 400, 300, L"list", FgStyleDialog, nullptr), 1);
    dlg.SetKeyFlags(0);
    list.SetRect(10, 10, 200, 130);
    dlg.AddChild(&list);
    list.SetRect(10, 10, 200, 130);
    list.m_callback = Report;
    g_reports.clear();
  }
  void TearDown() override { dlg.SetKeyFlags(0); }
  void Fill(const std::vector<const wchar_t*>& texts) {
    for (const wchar_t* t : texts) ASSERT_EQ(list.InsertItem(-1, t, 0, 0), 1);
  }
  std::wstring Texts() const {
    std::wstring s;
    for (int i = 0; i < list.m_count; ++i) s += list.m_items[i].text;
    return s;
  }
  std::wstring Flags() const {
    std::wstring s;
    for (int i = 0; i < list.m_count; ++i) s += list.m_items[i].flag ? L'1' : L'0';
    return s;
  }
  // Centre of row r (counted from the first shown item).
  void ClickRow(int r) { dlg.OnLButtonDown(10 + 50, 10 + 1 + r * 14 + 7); }
  void Key(uint16_t bit) {
    dlg.SetKeyFlags(bit);
    dlg.OnKeyStateChanged();
    dlg.SetKeyFlags(0);
    dlg.OnKeyStateChanged();
  }

  CFgUIDialog dlg;
  CFgUIList list;
};

TEST_F(ListTest, InsertAndRemove) {
  struct Case {
    int removeIndex;
    int ok;
    const wchar_t* left;
  } cases[] = {{0, 1, L"BCD"}, {2, 1, L"ABD"}, {3, 1, L"ABC"}, {4, 0, L"ABCD"}, {-1, 0, L"ABCD"}};
  for (const Case& c : cases) {
    list.Clear(0, 0);
    Fill({L"A", L"B", L"C", L"D"});
    EXPECT_EQ(list.RemoveItem(c.removeIndex), c.ok);
    EXPECT_EQ(Texts(), c.left) << c.removeIndex;
  }
  // Inserting at 0 while item 2 is selected: the flag moves with the item, the index stays.
  list.Clear(0, 0);
  Fill({L"A", L"B", L"C"});
  ASSERT_EQ(list.Select(2), 1);
  EXPECT_EQ(list.InsertItem(0, L"Z", 7, 0), 1);
  EXPECT_EQ(Texts(), L"ZABC");
  EXPECT_EQ(Flags(), L"0001");
  EXPECT_EQ(list.m_selected, 2);
  EXPECT_EQ(list.m_items[0].userValue, 7u);
  // Index checks: at or beyond the count, or below -1, is refused.
  EXPECT_EQ(list.InsertItem(4, L"X", 0, 0), 0);
  EXPECT_EQ(list.InsertItem(-2, L"X", 0, 0), 0);
  EXPECT_EQ(list.InsertItem(3, L"Y", 0, 0), 1);
  EXPECT_EQ(Texts(), L"ZABYC");
  // Removing an item before the selection leaves the index; removing the selected clears it.
  list.Select(4);
  EXPECT_EQ(list.RemoveItem(4), 1);
  EXPECT_EQ(list.m_selected, -1);
  list.Select(3);
  EXPECT_EQ(list.RemoveItem(0), 1);
  EXPECT_EQ(list.m_selected, -1);  // index 3 now names no item
  EXPECT_EQ(list.Select(2), 1);    // and selecting afterwards touches only real items
  // A long text keeps its first 255 characters; a null text is empty.
  std::wstring longText(300, L'x');
  EXPECT_EQ(list.InsertItem(-1, longText.c_str(), 0, 0), 1);
  EXPECT_EQ(std::wstring(list.m_items[list.m_count - 1].text), std::wstring(255, L'x'));
  EXPECT_EQ(list.InsertItem(-1, nullptr, 0, 0), 1);
  EXPECT_STREQ(list.m_items[list.m_count - 1].text, L"");
  // Removing everything frees the array.
  while (list.m_count) list.RemoveItem(0);
  EXPECT_EQ(list.m_items, nullptr);
  EXPECT_EQ(list.m_firstShown, -1);
}

TEST_F(ListTest, ScrollBarRule) {
  EXPECT_EQ(list.RowsPerPage(), 9);
  for (int i = 0; i < 9; ++i) list.InsertItem(-1, L"item", 0, 0);
  EXPECT_EQ(list.m_bar.m_visible, 0);  // (130 - 2) / 14 = 9 rows hold 9 items
  list.InsertItem(-1, L"tenth", 0, 0);
  EXPECT_EQ(list.m_bar.m_visible, 1);
  EXPECT_EQ(list.m_bar.m_enabled, 1);
  EXPECT_EQ(list.m_bar.m_minimum, 0);
  EXPECT_EQ(list.m_bar.m_maximum, 9);
  EXPECT_EQ(list.m_bar.m_page, 9);
  list.RemoveItem(0);
  EXPECT_EQ(list.m_bar.m_visible, 0);
  list.Clear(0, 1);
  EXPECT_EQ(list.m_bar.m_minimum, -1);
  EXPECT_EQ(list.m_bar.m_maximum, -1);
  // A hidden list never shows its bar; showing it again brings the bar back when in use.
  for (int i = 0; i < 20; ++i) list.InsertItem(-1, L"x", 0, 0);
  list.Show(0);
  EXPECT_EQ(list.m_bar.m_visible, 0);
  list.Show(1);
  EXPECT_EQ(list.m_bar.m_visible, 1);
}

TEST_F(ListTest, SelectionKeepsInViewAndWheel) {
  for (int i = 0; i < 20; ++i) list.InsertItem(-1, std::to_wstring(i).c_str(), 0, 0);
  EXPECT_EQ(list.Select(15), 1);
  EXPECT_EQ(list.m_firstShown, 7);  // 15 - 9 + 1
  EXPECT_EQ(list.m_bar.m_position, 7);
  EXPECT_EQ(list.Select(3), 1);
  EXPECT_EQ(list.m_firstShown, 3);
  EXPECT_EQ(list.Select(20), 0);
  EXPECT_EQ(list.Select(-2), 0);
  EXPECT_TRUE(g_reports.empty());  // Select never reports
  // The wheel stays inside 0 .. maximum - page + 1 = 11.
  dlg.OnMouseWheel(60, 60, 100);
  EXPECT_EQ(list.m_firstShown, 11);
  dlg.OnMouseWheel(60, 60, -3);
  EXPECT_EQ(list.m_firstShown, 8);
  dlg.OnMouseWheel(60, 60, -100);
  EXPECT_EQ(list.m_firstShown, 0);
  // The bar moving scrolls the list.
  list.m_bar.MoveTo(5);
  EXPECT_EQ(list.m_firstShown, 5);
  EXPECT_EQ(list.SetTopIndex(20), 0);
  EXPECT_EQ(list.SetTopIndex(2), 1);
  EXPECT_EQ(list.m_bar.m_position, 2);
}

TEST_F(ListTest, MouseAndKeysSingleSelection) {
  Fill({L"A", L"B", L"C"});
  dlg.SetFocus(&list);
  ClickRow(1);
  EXPECT_EQ(list.m_selected, 1);
  EXPECT_EQ(Flags(), L"010");
  ClickRow(5);  // below the last item: nothing
  EXPECT_EQ(list.m_selected, 1);
  EXPECT_EQ(g_reports, std::vector<int>({1}));
  Key(FgKeyDown);
  Key(FgKeyDown);  // already at the last item
  Key(FgKeyUp);
  Key(FgKeyUp);
  Key(FgKeyUp);  // at 0: nothing
  EXPECT_EQ(g_reports, std::vector<int>({1, 2, 1, 0}));
  EXPECT_EQ(Flags(), L"100");
  // Hover follows the mouse over items only.
  dlg.OnMouseMove(60, 10 + 1 + 14 + 3);
  EXPECT_EQ(list.m_hovered, 1);
  dlg.OnMouseMove(60, 10 + 1 + 5 * 14);
  EXPECT_EQ(list.m_hovered, -1);
  // The scroll-bar column is not part of the rows.
  g_reports.clear();
  dlg.OnLButtonDown(10 + 200 - 8, 10 + 5);
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(ListTest, CheckMode) {
  list.Clear(2, 0);
  Fill({L"A", L"B", L"C"});
  EXPECT_EQ(list.Select(0), 0);
  ClickRow(2);
  ClickRow(0);
  EXPECT_EQ(Flags(), L"101");
  EXPECT_EQ(list.m_selected, 0);
  Key(FgKeyDown);  // changes nothing, only redraws
  EXPECT_EQ(list.m_selected, 0);
  dlg.SetFocus(&list);
  dlg.OnKeyUp(32);  // Space toggles the last clicked item
  EXPECT_EQ(Flags(), L"001");
  EXPECT_EQ(g_reports, std::vector<int>({2, 0, 0}));
  EXPECT_EQ(list.SetChecked(1, 1), 1);
  EXPECT_EQ(list.SetChecked(3, 1), 0);
  EXPECT_EQ(Flags(), L"011");
  list.Clear(0, 0);  // check mode is for good
  EXPECT_EQ(list.m_checkMode, 1);
}

}  // namespace
