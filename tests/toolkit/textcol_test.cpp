// textcol_test.cpp - column measures, the two column rules, tab stops and tab expansion
// with its buffer limit.
#include "toolkit/textcol.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(TextColumnsTest, MeasuringRule) {
  struct Case {
    const wchar_t* text;
    int32_t countLf;
    int64_t expected;
  } cases[] = {
      {L"\ta\t", 0, 8},            // 4, 5, 8
      {L"a\x3042", 0, 3},
      {L"", 0, 0},
      {nullptr, 0, 0},
      {L"a\nb", 0, 2},
      {L"a\nb", 1, 3},
      {L"\x00A5\x203E\xFF71", 0, 3},  // yen, overline, half-width katakana: one each
      {L"\x00E9", 0, 2},              // Latin-1 letters are full width by this rule
      {L"abcd\t", 0, 8},              // a tab at a multiple of 4 advances a full 4
  };
  for (const Case& c : cases)
    EXPECT_EQ(TextColumns(c.text, c.countLf), c.expected) << (c.text ? "text" : "null");
}

TEST(TextColumnsTest, PositionRuleWalks) {
  const wchar_t* t = L"ab\tc";
  struct Case {
    int64_t column, start, index;
  } cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 2, 2}, {4, 4, 3}, {9, 5, 4}, {-1, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(LineColumnStart(t, c.column), c.start) << c.column;
    EXPECT_EQ(LineCharAtColumn(t, c.column), c.index) << c.column;
  }
  // Yen and Latin-1 count one column, half-width katakana two (unlike the measuring rule).
  EXPECT_EQ(LineColumnStart(L"\x00A5\x00E9x", 9), 3);
  EXPECT_EQ(LineColumnStart(L"\xFF71x", 9), 3);
  // The first line only; CharAtColumn goes on past the line feed and stops at the end.
  EXPECT_EQ(LineColumnStart(L"ab\ncd", 9), 2);
  EXPECT_EQ(LineCharAtColumn(L"ab\ncd", 9), 2);
  EXPECT_EQ(CharAtColumn(L"ab\ncd", 4), 4);
  EXPECT_EQ(CharAtColumn(L"ab\ncd", 1000), 5);
  EXPECT_EQ(CharAtColumn(nullptr, 3), 0);
}

TEST(TextColumnsTest, CharColumnsAt) {
  int32_t flag = 0;
  EXPECT_EQ(CharColumnsAt(L"ab\tc", 2, &flag), 2);  // the tab at column 2 ends at 4
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(CharColumnsAt(L"abcd\t", 4, nullptr), 4);
  EXPECT_EQ(CharColumnsAt(L"a\x3042", 1, nullptr), 2);
  EXPECT_EQ(CharColumnsAt(L"a\x3042", 0, nullptr), 1);
  EXPECT_EQ(CharColumnsAt(L"a", 50, nullptr), 1);  // past the end: the terminator
}

TEST(TextColumnsTest, ExpandTabs) {
  struct Case {
    const wchar_t* text;
    const wchar_t* expected;
  } cases[] = {
      {L"\tx", L"    x"},
      {L"x\n", L"x"},
      {L"", L""},
      {L"ab\tc", L"ab  c"},
      {L"\x3042\tb", L"\x3042  b"},  // the hiragana takes two columns
      {L"a\n\tb", L"a\n    b"},     // tab stops count from the line's start
  };
  for (const Case& c : cases) {
    wchar_t buf[kFgExpandTabsUnits];
    uint64_t n = ExpandTabs(c.text, buf, kFgExpandTabsUnits);
    EXPECT_EQ(std::wstring(buf), std::wstring(c.expected));
    EXPECT_EQ(n, std::wstring(c.expected).size());
    EXPECT_EQ(ExpandTabs(c.text), std::wstring(c.expected));
  }
}

TEST(TextColumnsTest, ExpandTabsNeverWritesPastItsBuffer) {
  // 2000 tabs expand to 8000 blanks: the buffer keeps 1023 and the terminator.
  std::wstring tabs(2000, L'\t');
  std::vector<wchar_t> buf(kFgExpandTabsUnits + 16, L'#');
  EXPECT_EQ(ExpandTabs(tabs.c_str(), buf.data(), kFgExpandTabsUnits), kFgExpandTabsUnits - 1);
  EXPECT_EQ(buf[kFgExpandTabsUnits - 1], 0);
  for (size_t i = kFgExpandTabsUnits; i < buf.size(); ++i) EXPECT_EQ(buf[i], L'#');
  EXPECT_EQ(ExpandTabs(tabs.c_str()).size(), 8000u);
  wchar_t one[1] = {L'#'};
  EXPECT_EQ(ExpandTabs(L"abc", one, 1), 0u);
  EXPECT_EQ(one[0], 0);
  EXPECT_EQ(ExpandTabs(L"abc", nullptr, 10), 0u);
}

TEST(TextColumnsTest, ExpandTabsOnManyThreadsAtOnce) {
  // Nothing is shared between calls: every thread sees its own expansion.
  std::vector<std::thread> threads;
  std::vector<int> ok(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t, &ok] {
      std::wstring in = std::wstring(size_t(t), L'x') + L"\ty";
      std::wstring want = std::wstring(size_t(t), L'x') + std::wstring(size_t(4 - t % 4), L' ') + L"y";
      int good = 1;
      for (int i = 0; i < 2000; ++i) {
        wchar_t buf[64];
        ExpandTabs(in.c_str(), buf, 64);
        good &= std::wstring(buf) == want;
      }
      ok[size_t(t)] = good;
    });
  for (auto& th : threads) th.join();
  for (int v : ok) EXPECT_EQ(v, 1);
}

}  // namespace
