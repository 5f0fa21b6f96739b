// edit_x11_test.cpp - an edit box on a display server: a long clipboard text pasted and
// drawn without overflow, and characters typed through the server's key events.
#include "toolkit/edit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "toolkit/textcol.h"

namespace {

class EditX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no display";
    ASSERT_EQ(dlg.Create(-1, -1, 320, 80, L"edit", FgStyleDialog, nullptr), 1);
    box.SetRect(10, 20, 300, 22);
    dlg.AddChild(&box);
    dlg.SetFocus(&box);
    dlg.SetKeyFlags(0);
  }
  void TearDown() override { dlg.SetKeyFlags(0); }
  CFgUIDialog dlg;
  CFgUIEdit box;
};

TEST_F(EditX11, LongPasteFromTheClipboard) {
  // Half-width, full-width, Latin-1, tabs and CR LF, 200000 units.
  std::wstring text;
  const std::wstring chunk = L"ab\x3042\x00e9\t12\r\n";
  while (text.size() < 200000) text += chunk;
  std::wstring want;
  for (wchar_t c : text)
    if (c != L'\r' && c != L'\n' && c != L'\t') want += c;

  // Own the selection right before reading it; the paste reads it at once.
  ASSERT_EQ(SetClipboardText(text.c_str()), 1);
  dlg.SetKeyFlags(FgKeyCtrl);
  box.OnChar(L'v');
  dlg.SetKeyFlags(0);
  // Still ours afterwards: nobody replaced it in between, so the text must be exactly it.
  wchar_t probe[8] = {};
  GetClipboardText(probe, 8);
  std::wstring got = box.GetText();
  EXPECT_LE(box.m_length, kFgEditMaxUnits);
  EXPECT_EQ(box.m_length, int64_t(got.size()));
  EXPECT_EQ(box.m_textWidth, int32_t(TextColumns(got.c_str(), 0)));
  EXPECT_LE(box.m_caretColumn - box.m_scrollColumn + 1, box.VisibleColumns());
  if (std::wstring(probe) == text.substr(0, 7)) {
    EXPECT_TRUE(got == want);
  }
  // Drawing the long text, selected in part, stays inside the box.
  box.SetSelection(0, 3, 0, 40);
  dlg.Redraw();
  box.SetCaret(0, 0);
  dlg.Redraw();
}

TEST_F(EditX11, TypedKeysReachTheBox) {
  for (const char* p = "ab1"; *p; ++p) {
    ASSERT_EQ(PlatTestSendInput(dlg.GetWindow(), 2, uint32_t(*p), 0, 0), 1);
    ASSERT_EQ(PlatTestSendInput(dlg.GetWindow(), 3, uint32_t(*p), 0, 0), 1);
  }
  for (int i = 0; i < 300 && box.m_length < 3; ++i) {
    FgPumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_STREQ(box.GetText(), L"ab1");
}

}  // namespace
