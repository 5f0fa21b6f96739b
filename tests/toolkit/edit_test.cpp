// edit_test.cpp - edit box content, keys, selection, clipboard, mouse, focus moves and the
// input-method point, without a display (the window layer's headless mode; its clipboard
// lives in the process).
#include "toolkit/edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/textcol.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Log {
  int changed = 0, scrolled = 0, focusLost = 0;
  std::vector<std::wstring> values;  // the text at each OnChanged
  std::vector<int> ctrlKeys, wheels, enterEsc;
  int handleEnterEsc = 0;
};

void Changed(CFgUIEdit* e, void* a) {
  Log* l = static_cast<Log*>(a);
  ++l->changed;
  l->values.push_back(e->GetText());
}
void Scrolled(CFgUIEdit*, void* a) { ++static_cast<Log*>(a)->scrolled; }
void FocusLost(CFgUIEdit*, void* a) { ++static_cast<Log*>(a)->focusLost; }
void CtrlKey(CFgUIEdit*, void* a, int32_t k) { static_cast<Log*>(a)->ctrlKeys.push_back(k); }
void Wheel(CFgUIEdit*, void* a, int32_t n) { static_cast<Log*>(a)->wheels.push_back(n); }
int32_t EnterEsc(CFgUIEdit*, void* a, int32_t k) {
  Log* l = static_cast<Log*>(a);
  l->enterEsc.push_back(k);
  return l->handleEnterEsc;
}

// Three boxes in a row, the middle one under test; 14-pixel container font.
class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    ASSERT_EQ(dlg.Create(0, 0, 400, 200, L"edit", FgStyleDialog, nullptr), 1);
    dlg.SetKeyFlags(0);
    before.SetRect(10, 10, 100, 20);
    box.SetRect(10, 40, 100, 20);
    after.SetRect(10, 70, 100, 20);
    dlg.AddChild(&before);
    dlg.AddChild(&box);
    dlg.AddChild(&after);
    box.OnChanged = Changed;
    box.OnScrolled = Scrolled;
    box.OnFocusLost = FocusLost;
    box.OnCtrlKey = CtrlKey;
    box.OnWheel = Wheel;
    box.CallbackArg = &log;
    dlg.SetFocus(&box);
  }
  void TearDown() override { dlg.SetKeyFlags(0); }

  // Replays keys through the dialog as the window procedure would:
  //   < > ^ v   Left Right Up Down (press and release);  { }  Shift+Left, Shift+Right
  //   B D E X   Backspace, Delete, Enter, Esc (char then key release);  S  Shift+Esc
  //   T         TAB (char then release);  anything else: that character typed
  void Keys(const wchar_t* keys) {
    for (const wchar_t* k = keys; *k; ++k) {
      switch (*k) {
        case L'<': Arrow(FgKeyLeft, 0); break;
        case L'>': Arrow(FgKeyRight, 0); break;
        case L'^': Arrow(FgKeyUp, 0); break;
        case L'v': Arrow(FgKeyDown, 0); break;
        case L'{': Arrow(FgKeyLeft, 1); break;
        case L'}': Arrow(FgKeyRight, 1); break;
        case L'B': Type(8); break;
        case L'D': Type(127); break;
        case L'E': Type(10); break;
        case L'X': Type(27); break;
        case L'S':
          dlg.SetKeyFlags(FgKeyShift);
          Type(27);
          dlg.SetKeyFlags(0);
          break;
        case L'T': Type(9); break;
        default: Type(*k); break;
      }
    }
  }
  void Type(wchar_t c) {
    dlg.OnChar(c);
    dlg.OnKeyUp(c);
  }
  void Arrow(uint16_t bit, int shift) {
    uint16_t base = shift ? FgKeyShift : 0;
    dlg.SetKeyFlags(uint16_t(base | bit));
    dlg.OnKeyStateChanged();
    dlg.SetKeyFlags(base);
    dlg.OnKeyStateChanged();
    dlg.SetKeyFlags(0);
  }
  void Ctrl(wchar_t c) {
    dlg.SetKeyFlags(FgKeyCtrl);
    dlg.OnChar(c);
    dlg.SetKeyFlags(0);
  }
  std::wstring Sel() const {
    if (box.m_selStartLine < 0) return L"none";
    return std::to_wstring(box.m_selStartColumn) + L".." + std::to_wstring(box.m_selEndColumn);
  }

  CFgUIDialog dlg;
  CFgUIEdit before, box, after;
  Log log;
};

TEST_F(EditTest, SetLineGetTextClear) {
  EXPECT_STREQ(box.GetText(), L"");
  EXPECT_EQ(box.SetLine(0, L"12.5\n"), 1);
  EXPECT_STREQ(box.GetText(), L"12.5");
  EXPECT_EQ(log.changed, 1);
  EXPECT_EQ(box.SetLine(1, L"x"), 0);
  EXPECT_EQ(box.SetLine(0, nullptr), 0);
  EXPECT_STREQ(box.GetText(), L"12.5");
  EXPECT_EQ(log.changed, 1);
  EXPECT_EQ(box.SetLine(0, L"a\n\n"), 1);  // only one trailing line feed goes
  EXPECT_EQ(box.m_length, 2);

  // A shorter text keeps the scroll column and lowers the caret to the new end.
  box.SetLine(0, L"");
  Keys(L"abcdefghijklmnopqrst");  // 20 columns in a 13-column box
  EXPECT_EQ(box.m_caretColumn, 20);
  EXPECT_EQ(box.m_scrollColumn, 8);
  box.SetLine(0, L"abc");
  EXPECT_EQ(box.m_caretColumn, 3);
  EXPECT_EQ(box.m_scrollColumn, 8);
  Keys(L"<");  // the caret moves and the view scrolls back
  EXPECT_EQ(box.m_scrollColumn, 2);

  Keys(L"{");
  EXPECT_EQ(Sel(), L"1..1");
  box.Clear();
  EXPECT_EQ(Sel(), L"none");
  EXPECT_EQ(box.m_anchorLine, -1);
  EXPECT_EQ(box.m_caretColumn, 0);
  EXPECT_EQ(box.m_scrollColumn, 0);
  EXPECT_EQ(box.m_textWidth, 0);
  EXPECT_STREQ(box.GetText(), L"");

  std::wstring tooLong(size_t(kFgEditMaxUnits) + 1, L'x');
  EXPECT_EQ(box.SetLine(0, tooLong.c_str()), 0);
  EXPECT_STREQ(box.GetText(), L"");
}

TEST_F(EditTest, TypingScrollsAndPlacesTheInputWindow) {
  EXPECT_EQ(box.VisibleColumns(), 13);  // (100 - 4) / 7
  Keys(L"abcdefghijkl");
  EXPECT_EQ(box.m_caretColumn, 12);
  EXPECT_EQ(box.m_scrollColumn, 0);
  EXPECT_EQ(log.scrolled, 0);
  Keys(L"m");
  EXPECT_EQ(box.m_caretColumn, 13);
  EXPECT_EQ(box.m_scrollColumn, 1);
  EXPECT_EQ(log.scrolled, 1);
  EXPECT_EQ(log.changed, 13);
  // x + 2 + (caret - scroll) * S / 2, y + 2
  EXPECT_EQ(dlg.m_imeX, 10 + 2 + (13 - 1) * 7);
  EXPECT_EQ(dlg.m_imeY, 40 + 2);

  // Full-width characters take two columns.
  box.Clear();
  Keys(L"\x3042" L"b");
  EXPECT_EQ(box.m_caretColumn, 3);
  EXPECT_EQ(box.m_textWidth, 3);
  EXPECT_EQ(dlg.m_imeX, 10 + 2 + 3 * 7);

  // Losing the focus hands the input window back to the system.
  dlg.SetFocus(nullptr);
  EXPECT_EQ(dlg.m_imeX, -1);
  EXPECT_EQ(dlg.m_imeY, -1);
  EXPECT_EQ(log.focusLost, 1);
}

// Key sequences from a starting text with the caret at its end.
TEST_F(EditTest, KeyTable) {
  struct Case {
    const wchar_t* start;
    const wchar_t* keys;
    const wchar_t* text;
    int caret;
    const wchar_t* sel;
    int changed;  // OnChanged calls during keys
  } cases[] = {
      {L"abcd", L"<<B", L"acd", 1, L"none", 1},
      {L"abcd", L"<<D", L"abd", 2, L"none", 1},
      {L"abcd", L"<<<<B", L"abcd", 0, L"none", 1},  // column 0: nothing, still OnChanged
      {L"abcd", L"D", L"abcd", 4, L"none", 1},      // at the end: nothing, still OnChanged
      {L"abcd", L"<<x", L"abxcd", 3, L"none", 1},
      {L"abcd", L"T", L"abcd", 4, L"none", 0},      // TAB is ignored
      {L"abcd", L"^v", L"abcd", 4, L"none", 0},     // up and down do not move
      {L"abcd", L"<<<<}}}", L"abcd", 3, L"0..2", 0},
      {L"abcd", L"<<<<}}}>", L"abcd", 4, L"none", 0},
      {L"abcd", L"<<<<}}}B", L"d", 0, L"none", 1},  // selection deletion reports the change
      {L"abcd", L"<<<<}}}D", L"d", 0, L"none", 1},
      {L"abcd", L"<<<<}}}z", L"zd", 1, L"none", 1},
      {L"abcd", L"<{}", L"abcd", 3, L"none", 0},    // anchor without selection...
      {L"abcd", L"<{}B", L"abcd", 3, L"none", 0},   // ...Backspace only drops the anchor
      {L"abcd", L"{{<", L"abcd", 1, L"none", 0},
      {L"a\x3042" L"b", L"<{", L"a\x3042" L"b", 1, L"1..2", 0},
      {L"a\x3042" L"b", L"<B", L"ab", 1, L"none", 1},
      {L"a\x3042" L"b", L"<<D", L"ab", 1, L"none", 1},
      {L"a\tb", L"<<", L"a\tb", 1, L"none", 0},     // right of the tab is column 4
      {L"a\tb", L"<<>", L"a\tb", 4, L"none", 0},
      {L"", L"<B>D", L"", 0, L"none", 2},
  };
  for (const Case& c : cases) {
    box.SetLine(0, c.start);
    box.SetSelection(-1, 0, 0, 0);
    box.m_anchorLine = -1;
    while (box.m_caretColumn < box.m_textWidth && box.m_caretColumn < 100) Keys(L">");
    log = Log();
    Keys(c.keys);
    EXPECT_STREQ(box.GetText(), c.text) << c.start << " / " << c.keys;
    EXPECT_EQ(box.m_caretColumn, c.caret) << c.start << " / " << c.keys;
    EXPECT_EQ(Sel(), c.sel) << c.start << " / " << c.keys;
    EXPECT_EQ(log.changed, c.changed) << c.start << " / " << c.keys;
    if (!log.values.empty()) {
      EXPECT_EQ(log.values.back(), std::wstring(box.GetText()));
    }
  }
}

TEST_F(EditTest, EnterAndEscMoveTheFocusOnRelease) {
  struct Case {
    const wchar_t* keys;
    int handled;
    CFgUIObj* focus;
  } cases[] = {
      {L"E", 0, &after}, {L"X", 0, &before}, {L"S", 0, &after},
      {L"T", 0, &box},   {L"E", 1, &box},    {L"X", 1, &box},
  };
  for (const Case& c : cases) {
    dlg.SetFocus(&box);
    log = Log();
    box.OnEnterEsc = EnterEsc;
    log.handleEnterEsc = c.handled;
    Keys(c.keys);
    EXPECT_EQ(dlg.m_focusChild, c.focus) << c.keys << " handled " << c.handled;
  }
  // Without OnEnterEsc, Enter moves on as well; the key reached the callback only when set.
  box.OnEnterEsc = nullptr;
  dlg.SetFocus(&box);
  Keys(L"E");
  EXPECT_EQ(dlg.m_focusChild, &after);
  // Enter over a selection deletes it first, reporting the new text.
  box.OnEnterEsc = EnterEsc;
  log = Log();
  log.handleEnterEsc = 1;
  dlg.SetFocus(&box);
  box.SetLine(0, L"abc");
  Keys(L">>>{{E");
  EXPECT_STREQ(box.GetText(), L"a");
  EXPECT_EQ(log.values.back(), L"a");
  EXPECT_EQ(log.enterEsc, std::vector<int>({10}));
}

TEST_F(EditTest, CtrlKeys) {
  box.SetLine(0, L"abc");
  for (wchar_t c : std::wstring(L"ABDEFGKLMNOPQRSUWYabdefgklmnopqrsuwy")) Ctrl(c);
  EXPECT_EQ(log.ctrlKeys.size(), 36u);
  log = Log();
  // Every code not in the table is ignored, among them H I J T Z in either case and 1.
  for (wchar_t c : std::wstring(L"HIJTZhijtz\x01" L"1 .")) Ctrl(c);
  EXPECT_TRUE(log.ctrlKeys.empty());
  EXPECT_EQ(log.changed, 0);
  EXPECT_STREQ(box.GetText(), L"abc");
}

TEST_F(EditTest, CopyCutPaste) {
  box.SetLine(0, L"abcd");
  SetClipboardText(L"");
  box.SetSelection(0, 1, 0, 2);
  Ctrl(3);
  wchar_t clip[16] = {};
  ASSERT_EQ(GetClipboardText(clip, 16), 3u);
  EXPECT_STREQ(clip, L"bc");
  EXPECT_EQ(log.changed, 1);  // the SetLine only
  EXPECT_STREQ(box.GetText(), L"abcd");

  // Ctrl+X copies and deletes, and tells the owner.
  box.m_anchorLine = 0;
  box.m_anchorColumn = 3;
  box.SetSelection(0, 0, 0, 1);
  SetClipboardText(L"");
  Ctrl(L'x');
  ASSERT_EQ(GetClipboardText(clip, 16), 3u);
  EXPECT_STREQ(clip, L"ab");
  EXPECT_STREQ(box.GetText(), L"cd");
  EXPECT_EQ(log.values.back(), L"cd");
  EXPECT_EQ(box.m_caretColumn, 0);

  // Ctrl+X without a selection changes nothing.
  int before = log.changed;
  Ctrl(24);
  EXPECT_STREQ(box.GetText(), L"cd");
  EXPECT_EQ(log.changed, before);

  // Paste types each character: a, Enter handling, b; carriage returns never arrive.
  box.Clear();
  dlg.SetFocus(&box);
  SetClipboardText(L"a\r\nb");
  Ctrl(22);
  EXPECT_STREQ(box.GetText(), L"ab");
  EXPECT_EQ(box.m_pendingFocusMove, 1);
  dlg.OnKeyUp(L'v');
  EXPECT_EQ(dlg.m_focusChild, &after);
  EXPECT_EQ(dlg.GetKeyFlags(), 0);  // the flags come back as they were (Ctrl set by Ctrl())

  // Paste over a selection replaces it.
  dlg.SetFocus(&box);
  box.SetLine(0, L"xyz");
  box.m_anchorLine = 0;
  box.m_anchorColumn = 0;
  box.SetSelection(0, 0, 0, 1);
  SetClipboardText(L"Q");
  Ctrl(L'V');
  EXPECT_STREQ(box.GetText(), L"Qz");
}

TEST_F(EditTest, LongPasteStaysInsideTheBox) {
  // A long mixed text, more than the box may hold; typing stops at the limit.
  std::wstring chunk = L"abc\x3042\x00e9\t\r\n";
  std::wstring text;
  while (text.size() / chunk.size() * 5 < size_t(kFgEditMaxUnits) + 1000) text += chunk;
  box.OnChanged = nullptr;
  ASSERT_EQ(SetClipboardText(text.c_str()), 1);
  Ctrl(L'v');
  EXPECT_EQ(box.m_length, kFgEditMaxUnits);
  std::wstring want;
  for (wchar_t c : text)
    if (c != L'\r' && c != L'\n' && c != L'\t') want += c;
  want.resize(size_t(kFgEditMaxUnits));
  EXPECT_TRUE(std::wstring(box.GetText()) == want);
  EXPECT_EQ(box.m_textWidth, int32_t(TextColumns(want.c_str(), 0)));
  EXPECT_EQ(box.m_caretColumn, int32_t(LineColumnStart(want.c_str(), INT64_MAX / 2)));
  EXPECT_EQ(box.m_caretColumn - box.m_scrollColumn + 1, box.VisibleColumns());
}

TEST_F(EditTest, MouseAndDrag) {
  box.SetLine(0, L"abcdefgh");
  // Columns are 7 pixels wide from x = 2 inside the box.
  dlg.OnLButtonDown(10 + 2 + 3 * 7 + 1, 45);
  dlg.OnLButtonUp(10 + 2 + 3 * 7 + 1, 45);
  EXPECT_EQ(box.m_caretColumn, 3);
  EXPECT_EQ(Sel(), L"none");
  // Past the end: the end.
  dlg.OnLButtonDown(10 + 90, 45);
  dlg.OnLButtonUp(10 + 90, 45);
  EXPECT_EQ(box.m_caretColumn, 8);
  // Drag from column 1 to column 5 selects 1..4 and holds the capture until release.
  dlg.OnLButtonDown(10 + 2 + 7, 45);
  EXPECT_EQ(dlg.m_captureChild, &box);
  dlg.OnMouseMove(10 + 2 + 5 * 7, 45);
  EXPECT_EQ(Sel(), L"1..4");
  dlg.OnLButtonUp(10 + 2 + 5 * 7, 45);
  EXPECT_EQ(dlg.m_captureChild, nullptr);
  // A click elsewhere and one Backspace remove the character before the new caret.
  dlg.OnLButtonDown(10 + 2 + 7 * 7, 45);
  dlg.OnLButtonUp(10 + 2 + 7 * 7, 45);
  EXPECT_EQ(Sel(), L"none");
  Keys(L"B");
  EXPECT_STREQ(box.GetText(), L"abcdefh");
  // Shift+click extends from the old caret.
  dlg.SetKeyFlags(FgKeyShift);
  dlg.OnLButtonDown(10 + 2 + 2 * 7, 45);
  dlg.OnLButtonUp(10 + 2 + 2 * 7, 45);
  dlg.SetKeyFlags(0);
  EXPECT_EQ(Sel(), L"2..5");
  // The wheel goes to OnWheel only.
  dlg.OnMouseWheel(20, 45, -2);
  EXPECT_EQ(log.wheels, std::vector<int>({-2}));
}

TEST_F(EditTest, FocusLossDuringADragGivesUpTheCapture) {
  box.SetLine(0, L"abc");
  dlg.OnLButtonDown(15, 45);
  ASSERT_EQ(dlg.m_captureChild, &box);
  dlg.SetFocus(&after);
  EXPECT_EQ(dlg.m_captureChild, nullptr);
  EXPECT_EQ(box.m_dragging, 0);
}

TEST_F(EditTest, SetCaretAndSelectionBounds) {
  box.SetLine(0, L"a\x3042" L"b");  // columns: a 0, あ 1-2, b 3; width 4
  struct Case {
    int column, line, ok, caret;
  } carets[] = {{-1, 0, 0, -1}, {5, 0, 0, -1}, {0, 1, 0, -1}, {2, 0, 1, 1},
                {4, 0, 1, 4},   {3, 0, 1, 3},  {0, 0, 1, 0}};
  for (const Case& c : carets) {
    int32_t old = box.m_caretColumn;
    EXPECT_EQ(box.SetCaret(c.column, c.line), c.ok) << c.column;
    EXPECT_EQ(box.m_caretColumn, c.caret < 0 ? old : c.caret) << c.column;
  }
  EXPECT_EQ(box.SetSelection(0, 3, 0, 1), 1);  // ends put in order
  EXPECT_EQ(Sel(), L"1..3");
  EXPECT_EQ(box.SetSelection(0, 0, 0, 4), 0);  // column 4 is not below the width
  EXPECT_EQ(box.SetSelection(0, 0, 1, 0), 0);
  EXPECT_EQ(Sel(), L"1..3");
  EXPECT_EQ(box.DeleteSelection(), 1);
  EXPECT_STREQ(box.GetText(), L"a");
  EXPECT_EQ(box.m_caretColumn, 1);
}

TEST(EditStandalone, WithoutContainerNothingBreaks) {
  CFgUIEdit e;
  e.SetRect(0, 0, 3, 3);
  EXPECT_EQ(e.VisibleColumns(), 0);
  for (wchar_t c : std::wstring(L"hello")) e.OnChar(c);
  EXPECT_STREQ(e.GetText(), L"hello");
  EXPECT_EQ(e.m_scrollColumn, 0);  // a box this small never scrolls
  e.SetSelection(0, 0, 0, 1);
  EXPECT_EQ(e.Copy(), 0);  // no screen: nothing
  e.Paste();
  e.OnKeyUp(10);
  e.OnLButtonDown(5, 1);
  e.OnMouseMove(9, 1);
  e.OnLButtonUp(9, 1);
  EXPECT_STREQ(e.GetText(), L"hello");
}

}  // namespace
