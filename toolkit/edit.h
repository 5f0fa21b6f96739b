// edit.h - CFgUIEdit: the one-line text box of every dialog (numbers, names, paths).
//
// Keeps its own text, caret, horizontal scroll and selection in columns (textcol.h: the
// measuring rule for the text width, the position rule for everything that places the
// caret); draws with the container's font; copies and pastes clipboard text; places the
// input-method window at its caret. Owners set the callback fields and CallbackArg after
// construction and read back only the text (GetText).
//
// Characters (OnChar), with Ctrl held only these act:
//   Ctrl+C (3, C, c)    copy the selection; nothing else (no redraw, no callback)
//   Ctrl+V (22, V, v)   paste: each clipboard character typed as below, Shift/Ctrl/Caps off
//   Ctrl+X (24, X, x)   copy, and only when the copy succeeded delete the selection
//   Ctrl+A B D E F G K L M N O P Q R S U W Y   OnCtrlKey (no redraw by itself)
// Without Ctrl:
//   8 Backspace   anchor: delete the selection, drop selection and anchor; else remove the
//                 character ending at the caret (nothing at column 0); OnChanged
//   9 TAB         ignored (it neither inserts nor moves the focus)
//   10 Enter      anchor: delete the selection; then OnEnterEsc(10); unhandled: focus moves
//                 forward at the key release
//   27 Esc        OnEnterEsc(27); unhandled: focus moves back (forward with Shift)
//   127 Delete    anchor: as Backspace; else remove the character at the caret; OnChanged
//   other         anchor: delete the selection; insert at the caret; OnChanged
// OnChanged follows every edit that changed the text (selection deletions included), so an
// owner's stored value always matches the box. After each character but Ctrl+C: scroll to
// the caret (OnScrolled when it scrolled), end a selection that a plain move ended, redraw
// when something changed.
//
// Arrow keys (OnKeyStateChanged, repeated by OnSpecialKeyRepeat): the first of Up, Down,
// Left, Right acts; Shift (or a drag) grows a selection from the anchor, a move without
// Shift ends it. Mouse: a press places the caret (Shift extends), a drag selects.
#pragma once

#include <cstdint>

#include "toolkit/uiobj.h"

class CFgUIEdit;
typedef void (*FgEditCallback)(CFgUIEdit* edit, void* arg);
typedef int32_t (*FgEditKeyCallback)(CFgUIEdit* edit, void* arg, int32_t key);
typedef void (*FgEditCtrlKeyCallback)(CFgUIEdit* edit, void* arg, int32_t key);
typedef void (*FgEditWheelCallback)(CFgUIEdit* edit, void* arg, int32_t notches);

// Longest text a box holds (units); typing and pasting stop there, SetLine refuses more.
// Keeps every column count far inside 32 bits.
constexpr int64_t kFgEditMaxUnits = int64_t(1) << 20;

class CFgUIEdit : public CFgUIObj {
 public:
  CFgUIEdit();
  ~CFgUIEdit() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void OnKeyUp(wchar_t ch) override;
  void OnChar(wchar_t ch) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;
  void OnFocus() override;
  void OnBlur(CFgUIObj* next) override;

  // Replaces the text (index must be 0; a trailing line feed is dropped). Keeps the scroll
  // and the selection, lowers the caret to the new end. OnChanged; no redraw. 0 for another
  // index, a null text, a text over kFgEditMaxUnits or no memory (the old text stays).
  int32_t SetLine(int32_t index, const wchar_t* text);
  // The text ("" when empty); null only when construction found no memory. Valid until
  // the next change of the text.
  const wchar_t* GetText() const { return m_text; }
  // Empties text, caret, scroll, selection and anchor; OnChanged; no redraw.
  void Clear();

  // Operations the handlers use.
  int32_t SetCaret(int32_t column, int32_t line);
  int32_t ScrollToCaret();
  int32_t SetSelection(int32_t startLine, int32_t startColumn, int32_t endLine,
                       int32_t endColumn);
  // 1 when characters were removed.
  int32_t DeleteSelection();
  // 1 when the selection went to the clipboard.
  int32_t Copy();
  void Paste();

  // Columns shown in the text area (0 for a box under 5 x 5 pixels: it never scrolls).
  int32_t VisibleColumns() const;
  // Font size S the geometry uses (the container font's, 14 without one).
  int32_t FontSize() const;

  double m_ownTextColor[3] = {0, 0, 0};
  double m_ownFieldColor[3] = {1, 1, 1};
  int32_t m_redrawNeeded = 0;
  FgEditCallback OnChanged = nullptr;
  FgEditKeyCallback OnEnterEsc = nullptr;
  FgEditCtrlKeyCallback OnCtrlKey = nullptr;
  FgEditCallback OnFocusLost = nullptr;
  FgEditWheelCallback OnWheel = nullptr;
  FgEditCallback OnScrolled = nullptr;
  void* CallbackArg = nullptr;

  // The one line: owned, always terminated.
  wchar_t* m_text = nullptr;
  int64_t m_length = 0;
  int64_t m_capacity = 0;
  int32_t m_lineCount = 0;
  int32_t m_textWidth = 0;  // measuring rule
  int32_t m_caretColumn = 0;
  int32_t m_scrollColumn = 0;
  int32_t m_shiftHeld = 0;
  int32_t m_dragging = 0;
  int32_t m_endSelectionAfterMove = 0;
  int32_t m_selStartLine = -1, m_selStartColumn = 0, m_selEndLine = -1, m_selEndColumn = 0;
  int32_t m_anchorLine = -1, m_anchorColumn = 0;
  int32_t m_pendingFocusMove = 0;

 private:
  int32_t HasSelection() const { return m_selStartLine >= 0; }
  int32_t HasAnchor() const { return m_anchorLine >= 0; }
  void DropSelectionAndAnchor();
  void SelectFromAnchor();
  void PlaceImeWindow();
  void Changed();
  int32_t EndColumn() const;
  void RecomputeWidth();
  int32_t InsertAt(int64_t index, wchar_t ch);
  void RemoveRange(int64_t first, int64_t count);
  int32_t MapColumn(int32_t x, int32_t y, int32_t* outColumn);
  void RedrawIfNeeded();

  int32_t m_pasting = 0;  // a paste draws and places the input window once, at its end
  // Kept with the text width so typing at the end needs no walk over the whole text (a
  // long paste stays linear): the first line's position-rule width and its length.
  int32_t m_lineColumns = 0;
  int64_t m_firstLineLength = 0;
};
