// msgbox.h - the modal message box: centred lines of text and one or two buttons, run in a
// loop of its own until a button is pressed.
//
//   FgMessageBox      shows the box and returns the answer
//   CMsgboxScreen     the box's window (a dialog)
//   SplitMessageLines text -> measured line records (shared with callers that lay out text)
//
// Kinds: 0 "OK" / "Cancel", 2 "はい" / "いいえ", any other a single "OK". The first of two
// buttons gives 1, the second or the single "OK" 0; a loop ended by the quit message -1
// (QuitRequested set); a window that cannot be made 0. The close box does nothing.
#pragma once

#include <cstdint>

#include "toolkit/button.h"
#include "toolkit/font.h"
#include "toolkit/uiobj.h"

struct FgMessageLine {
  wchar_t* text = nullptr;  // owned copy without the line feed
  uint64_t width = 0;       // pixels by the half-width rule
  int32_t x = 0, y = 0;     // top-left in the window
};

// Splits text at line feeds (a final line feed adds no empty line); widths by the font's
// size, y = line number x size. Null with 0 lines for a null or empty text; when memory
// runs out, the lines made so far. Free with FreeMessageLines.
FgMessageLine* SplitMessageLines(CFgFont* font, const wchar_t* text, uint64_t* outCount,
                                 uint64_t* outWidest, uint64_t* outTotalHeight);
void FreeMessageLines(FgMessageLine* lines, uint64_t count);

class CMsgboxScreen : public CFgUIDialog {
 public:
  CMsgboxScreen();
  ~CMsgboxScreen() override;
  int32_t OnClose() override;
  void DrawOverlay() override;

  CFgUIButton m_first;
  CFgUIButton m_second;
  int32_t m_done = 0;
  FgMessageLine* m_lines = nullptr;
  uint64_t m_lineCount = 0;
  const wchar_t* m_caption = nullptr;
  int32_t m_kind = 0;
  int32_t m_contentWidth = 0, m_textHeight = 0, m_fontSize = 0;
  int32_t m_result = -1;
};

int32_t FgMessageBox(const wchar_t* text, const wchar_t* caption, int32_t kind,
                     CFgScreen* parent);

// Test hook: called once per box after its layout and first redraw, before its loop.
void FgSetMessageBoxHook(void (*hook)(CMsgboxScreen* box));

// Test-only override: while set, FgMessageBox opens no window and returns what the override
// answers (tests of code that asks the user record the question and script the answer).
// Null restores the real box.
typedef int32_t (*FgMessageBoxOverride)(const wchar_t* text, const wchar_t* caption,
                                        int32_t kind, CFgScreen* parent);
void FgSetMessageBoxOverride(FgMessageBoxOverride override);
