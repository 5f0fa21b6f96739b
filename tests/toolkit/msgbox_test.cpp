// msgbox_test.cpp - message box layout, results, line splitting and its modal loop,
// driven by messages posted to the box (the window layer's headless mode).
#include "toolkit/msgbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Seen {
  uint64_t clientW = 0, clientH = 0;
  std::vector<FgMessageLine> lines;
  std::vector<std::wstring> texts;
  int32_t bx[2] = {0, 0}, by[2] = {0, 0}, bw[2] = {0, 0}, bh[2] = {0, 0};
  std::wstring label[2];
  int buttons = 0;
  CFgUIObj* focus = nullptr;
  CFgUIObj* first = nullptr;
  int32_t closeAllowed = -1;
};
Seen g_seen;
std::function<void(CMsgboxScreen*)> g_action;

void Hook(CMsgboxScreen* box) {
  Seen s;
  s.clientW = box->m_clientWidth;
  s.clientH = box->m_clientHeight;
  for (uint64_t i = 0; i < box->m_lineCount; ++i) {
    s.lines.push_back(box->m_lines[i]);
    s.texts.push_back(box->m_lines[i].text);
  }
  int n = 0;
  for (CFgUIObj* c = box->m_firstChild; c; c = c->m_next, ++n) {
    CFgUIButton* b = static_cast<CFgUIButton*>(c);
    s.bx[n] = b->m_x;
    s.by[n] = b->m_y;
    s.bw[n] = b->m_width;
    s.bh[n] = b->m_height;
    s.label[n] = b->m_text;
  }
  s.buttons = n;
  s.focus = box->m_focusChild;
  s.first = &box->m_first;
  s.closeAllowed = box->m_closeAllowed;
  g_seen = s;
  if (g_action) g_action(box);
}

void Post(CMsgboxScreen* box, int kind, int32_t x = 0, int32_t y = 0, uint16_t key = 0) {
  PlatMsg m;
  m.kind = kind;
  m.window = box->GetWindow();
  m.x = x;
  m.y = y;
  m.key = key;
  PlatPostMessage(m);
}

// Clicks the centre of button n.
void Click(CMsgboxScreen* box, int n) {
  CFgUIButton& b = n == 0 ? box->m_first : box->m_second;
  Post(box, PlatMsgLButtonDown, b.m_x + b.m_width / 2, b.m_y + b.m_height / 2);
  Post(box, PlatMsgLButtonUp, b.m_x + b.m_width / 2, b.m_y + b.m_height / 2);
}

class MsgboxTest : public ::testing::Test {
 protected:
  void SetUp() override { FgSetMessageBoxHook(Hook); }
  void TearDown() override {
    FgSetMessageBoxHook(nullptr);
    g_action = nullptr;
  }
};

TEST_F(MsgboxTest, LayoutOfTheWorkedExamples) {
  g_action = [](CMsgboxScreen* b) { Click(b, 0); };
  EXPECT_EQ(FgMessageBox(L"abc", L"caption", 1, nullptr), 0);
  EXPECT_EQ(g_seen.clientW, 112u);
  EXPECT_EQ(g_seen.clientH, 66u);
  ASSERT_EQ(g_seen.lines.size(), 1u);
  EXPECT_EQ(g_seen.lines[0].x, 45);
  EXPECT_EQ(g_seen.lines[0].y, 8);
  ASSERT_EQ(g_seen.buttons, 1);
  EXPECT_EQ(g_seen.bx[0], 16);
  EXPECT_EQ(g_seen.by[0], 30);
  EXPECT_EQ(g_seen.bw[0], 80);
  EXPECT_EQ(g_seen.bh[0], 24);
  EXPECT_EQ(g_seen.label[0], L"OK");
  EXPECT_EQ(g_seen.focus, g_seen.first);  // the single button takes the focus
  EXPECT_EQ(g_seen.closeAllowed, 0);

  EXPECT_EQ(FgMessageBox(L"abc", L"caption", 0, nullptr), 1);
  EXPECT_EQ(g_seen.clientW, 208u);
  EXPECT_EQ(g_seen.clientH, 66u);
  ASSERT_EQ(g_seen.buttons, 2);
  EXPECT_EQ(g_seen.bx[0], 16);
  EXPECT_EQ(g_seen.by[0], 34);
  EXPECT_EQ(g_seen.bx[1], 112);
  EXPECT_EQ(g_seen.by[1], 34);
  EXPECT_EQ(g_seen.label[0], L"OK");
  EXPECT_EQ(g_seen.label[1], L"Cancel");
  EXPECT_EQ(g_seen.focus, nullptr);
}

TEST_F(MsgboxTest, ResultsByKindAndButton) {
  struct Case {
    int32_t kind;
    int button;
    int32_t result;
    const wchar_t* first;
    const wchar_t* second;
  } cases[] = {
      {0, 0, 1, L"OK", L"Cancel"},
      {0, 1, 0, L"OK", L"Cancel"},
      {2, 0, 1, L"\x306F\x3044", L"\x3044\x3044\x3048"},
      {2, 1, 0, L"\x306F\x3044", L"\x3044\x3044\x3048"},
      {1, 0, 0, L"OK", nullptr},
      {3, 0, 0, L"OK", nullptr},
      {-5, 0, 0, L"OK", nullptr},
  };
  for (const Case& c : cases) {
    g_action = [&](CMsgboxScreen* b) { Click(b, c.button); };
    EXPECT_EQ(FgMessageBox(L"Question?", L"confirmation", c.kind, nullptr), c.result)
        << c.kind << " " << c.button;
    EXPECT_EQ(g_seen.label[0], c.first);
    if (c.second) {
      EXPECT_EQ(g_seen.label[1], c.second);
    }
    // The minimum width: 80 for kind 1, 176 for every other kind, single button or not.
    EXPECT_EQ(g_seen.clientW, c.kind == 1 ? 112u : 208u) << c.kind;
  }
}

TEST_F(MsgboxTest, CloseAndEscapeDoNothingTabThenSpacePressesTheFirst) {
  g_action = [](CMsgboxScreen* b) {
    Post(b, PlatMsgClose);
    Post(b, PlatMsgKeyDown, 0, 0, 27);
    Post(b, PlatMsgKeyUp, 0, 0, 27);
    Post(b, PlatMsgKeyUp, 0, 0, 9);    // Tab: the first button takes the focus
    Post(b, PlatMsgKeyDown, 0, 0, 32);
    Post(b, PlatMsgKeyUp, 0, 0, 32);
  };
  EXPECT_EQ(FgMessageBox(L"Overwrite?", L"confirmation", 0, nullptr), 1);
}

TEST_F(MsgboxTest, InputForOtherWindowsIsDropped) {
  static int otherCalls = 0;
  CFgUIDialog other;
  CFgUIButton button;
  button.SetRect(0, 0, 100, 100);
  button.m_callback = [](CFgUIButton*, void*) { ++otherCalls; };
  other.AddChild(&button);
  ASSERT_TRUE(other.Create(10, 10, 200, 200, L"other", 0, nullptr));
  g_action = [&](CMsgboxScreen* b) {
    PlatMsg m;
    m.window = other.GetWindow();
    m.x = m.y = 50;
    m.kind = PlatMsgLButtonDown;
    PlatPostMessage(m);
    m.kind = PlatMsgLButtonUp;
    PlatPostMessage(m);
    Click(b, 1);
  };
  EXPECT_EQ(FgMessageBox(L"x", L"c", 0, &other), 0);
  EXPECT_EQ(otherCalls, 0);
}

TEST_F(MsgboxTest, LinesAreSplitAtLineFeedsAndCentred) {
  g_action = [](CMsgboxScreen* b) { Click(b, 0); };
  EXPECT_EQ(FgMessageBox(L"first line\n\x3042\x3044\n", L"c", 1, nullptr), 0);
  ASSERT_EQ(g_seen.texts.size(), 2u);  // a final line feed adds no line
  EXPECT_EQ(g_seen.texts[1], L"\x3042\x3044");
  // Widest line 70 -> W = 80; client 112 x (28 + 38 + 14).
  EXPECT_EQ(g_seen.clientH, 80u);
  EXPECT_EQ(g_seen.lines[0].x, (112 - 70) / 2);
  EXPECT_EQ(g_seen.lines[1].x, (112 - 28) / 2);
  EXPECT_EQ(g_seen.lines[1].y, 8 + 14);
  EXPECT_EQ(g_seen.by[0], 28 + 16);
  // A long line widens the box beyond its minimum.
  EXPECT_EQ(FgMessageBox(L"0123456789012345678901234567890123456789", L"c", 1, nullptr), 0);
  EXPECT_EQ(g_seen.clientW, 280u + 32);
  EXPECT_EQ(g_seen.bx[0], (280 - 48) / 2);
}

TEST(MessageLinesTest, SplitTable) {
  CFgFont font;
  font.CreateGdiFont(14, nullptr);
  struct Case {
    const wchar_t* text;
    std::vector<std::wstring> lines;
    uint64_t widest;
  } cases[] = {
      {L"ab\ncd\n", {L"ab", L"cd"}, 14},
      {L"ab\n\ncd", {L"ab", L"", L"cd"}, 14},
      {L"\n", {L""}, 0},
      {L"\x3042\xFF71", {L"\x3042\xFF71"}, 21},
      {L"", {}, 0},
      {nullptr, {}, 0},
  };
  for (const Case& c : cases) {
    uint64_t count = 99, widest = 99, total = 99;
    FgMessageLine* lines = SplitMessageLines(&font, c.text, &count, &widest, &total);
    ASSERT_EQ(count, c.lines.size());
    EXPECT_EQ(lines == nullptr, c.lines.empty());
    EXPECT_EQ(widest, c.widest);
    EXPECT_EQ(total, 14 * c.lines.size());
    for (uint64_t i = 0; i < count; ++i) {
      EXPECT_EQ(std::wstring(lines[i].text), c.lines[i]);
      EXPECT_EQ(lines[i].y, int32_t(14 * i));
      EXPECT_EQ(lines[i].x, 0);
    }
    FreeMessageLines(lines, count);
  }
}

// Last: the quit message sets the process-wide flag for good.
TEST_F(MsgboxTest, QuitMessageEndsTheBoxWithMinusOne) {
  g_action = [](CMsgboxScreen*) { PlatPostQuit(); };
  EXPECT_EQ(FgMessageBox(L"x", L"c", 0, nullptr), -1);
  EXPECT_EQ(QuitRequested, 1);
}

}  // namespace
