// edit.cpp - the one-line edit box: text storage, caret and selection in columns, keys,
// mouse, clipboard and drawing.
// Inside: text storage - content operations - caret, scroll, selection - characters -
// arrow keys and focus moves - mouse - focus - drawing
#include "toolkit/edit.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/textcol.h"

namespace {

constexpr int64_t kFarColumn = INT64_MAX / 2;

// Position-rule width of one character (a tab is placed by its column, not here).
int32_t PositionWidth(wchar_t c) { return uint32_t(c) < 256 ? 1 : 2; }

}  // namespace

// ---------------------------------------------------------------------------------------
// Text storage
CFgUIEdit::CFgUIEdit() {
  m_text = static_cast<wchar_t*>(calloc(16, sizeof(wchar_t)));
  if (m_text) {
    m_capacity = 16;
    m_lineCount = 1;
  }
}

CFgUIEdit::~CFgUIEdit() {
  // No callback may run while the box goes away.
  OnChanged = nullptr;
  OnEnterEsc = nullptr;
  OnCtrlKey = nullptr;
  OnFocusLost = nullptr;
  OnWheel = nullptr;
  OnScrolled = nullptr;
  free(m_text);
  m_text = nullptr;
}

int32_t CFgUIEdit::FontSize() const {
  if (m_owner && m_owner->m_font && m_owner->m_font->Size() >= 2)
    return int32_t(m_owner->m_font->Size() > 4096 ? 4096 : m_owner->m_font->Size());
  return 14;
}

int32_t CFgUIEdit::VisibleColumns() const {
  if (m_width < 5 || m_height < 5) return 0;
  int32_t even = (FontSize() + 1) / 2 * 2;
  return (m_width - 4) / (even / 2);
}

void CFgUIEdit::RecomputeWidth() {
  m_textWidth = int32_t(TextColumns(m_text, 0));
  m_lineColumns = int32_t(LineColumnStart(m_text, kFarColumn));
  m_firstLineLength = LineCharAtColumn(m_text, kFarColumn);
}

// The column just after the last character; the caret never goes further. Both rules
// are asked, so the caret reaches the end whichever of them a character counts wider.
int32_t CFgUIEdit::EndColumn() const {
  return m_lineColumns > m_textWidth ? m_lineColumns : m_textWidth;
}

int32_t CFgUIEdit::InsertAt(int64_t index, wchar_t ch) {
  if (!m_text || m_length >= kFgEditMaxUnits) return 0;
  if (m_length + 2 > m_capacity) {
    int64_t cap = m_capacity * 2;
    wchar_t* grown = static_cast<wchar_t*>(realloc(m_text, size_t(cap) * sizeof(wchar_t)));
    if (!grown) return 0;
    m_text = grown;
    m_capacity = cap;
  }
  if (index > m_length) index = m_length;
  wmemmove(m_text + index + 1, m_text + index, size_t(m_length - index + 1));
  m_text[index] = ch;
  ++m_length;
  return 1;
}

void CFgUIEdit::RemoveRange(int64_t first, int64_t count) {
  if (!m_text || first >= m_length || count <= 0) return;
  if (count > m_length - first) count = m_length - first;
  wmemmove(m_text + first, m_text + first + count, size_t(m_length - first - count + 1));
  m_length -= count;
}

// ---------------------------------------------------------------------------------------
// Content operations
int32_t CFgUIEdit::SetLine(int32_t index, const wchar_t* text) {
  if (index != 0 || !text) return 0;
  size_t n = wcslen(text);
  if (n > 0 && text[n - 1] == 10) --n;
  if (int64_t(n) > kFgEditMaxUnits) return 0;
  int64_t cap = m_capacity > int64_t(n) + 1 ? m_capacity : int64_t(n) + 16;
  wchar_t* copy = static_cast<wchar_t*>(malloc(size_t(cap) * sizeof(wchar_t)));
  if (!copy) return 0;
  wmemcpy(copy, text, n);
  copy[n] = 0;
  free(m_text);
  m_text = copy;
  m_capacity = cap;
  m_length = int64_t(n);
  m_lineCount = 1;
  RecomputeWidth();
  // The caret stays at the start of a character, at most at the new end.
  m_caretColumn = int32_t(LineColumnStart(m_text, m_caretColumn));
  m_redrawNeeded = 1;
  Changed();
  return 1;
}

void CFgUIEdit::Clear() {
  if (m_text) {
    m_text[0] = 0;
    m_length = 0;
  }
  m_caretColumn = 0;
  m_scrollColumn = 0;
  m_textWidth = 0;
  m_lineColumns = 0;
  m_firstLineLength = 0;
  m_selStartLine = m_selEndLine = -1;
  m_anchorLine = -1;
  m_redrawNeeded = 1;
  Changed();
}

void CFgUIEdit::Changed() {
  if (OnChanged) OnChanged(this, CallbackArg);
}

// ---------------------------------------------------------------------------------------
// Caret, scroll, selection
int32_t CFgUIEdit::SetCaret(int32_t column, int32_t line) {
  if (column < 0 || column > EndColumn() || line != 0 || !m_text) return 0;
  m_caretColumn = int32_t(LineColumnStart(m_text, column));
  if (ScrollToCaret() && OnScrolled) OnScrolled(this, CallbackArg);
  m_redrawNeeded = 1;
  return 1;
}

void CFgUIEdit::PlaceImeWindow() {
  CFgScreen* s = GetScreen();
  if (!s || m_pasting) return;
  int64_t x = int64_t(m_x) + 2 + int64_t(m_caretColumn - m_scrollColumn) * (FontSize() / 2);
  s->SetImePoint(int32_t(x), m_y + 2);
}

int32_t CFgUIEdit::ScrollToCaret() {
  int32_t old = m_scrollColumn;
  int32_t visible = VisibleColumns();
  if (visible > 0) {
    if (m_caretColumn < m_scrollColumn)
      m_scrollColumn = m_caretColumn;
    else if (int64_t(m_caretColumn) - m_scrollColumn + 1 > visible)
      m_scrollColumn = m_caretColumn - visible + 1;
  }
  PlaceImeWindow();
  if (m_scrollColumn != old) {
    m_redrawNeeded = 1;
    return 1;
  }
  return 0;
}

int32_t CFgUIEdit::SetSelection(int32_t startLine, int32_t startColumn, int32_t endLine,
                                int32_t endColumn) {
  int32_t had = HasSelection();
  if (startLine < 0) {
    m_selStartLine = m_selEndLine = -1;
    if (had) m_redrawNeeded = 1;
    return 1;
  }
  if (startLine > endLine || (startLine == endLine && startColumn > endColumn)) {
    std::swap(startLine, endLine);
    std::swap(startColumn, endColumn);
  }
  if (startLine != 0 || endLine != 0 || !m_text) return 0;
  // The line's width for this check counts a tab as one column.
  int64_t width = 0;
  for (int64_t i = 0; i < m_length; ++i) width += m_text[i] == 9 ? 1 : PositionWidth(m_text[i]);
  if (startColumn < 0 || startColumn >= width || endColumn >= width) return 0;
  m_selStartLine = startLine;
  m_selStartColumn = startColumn;
  m_selEndLine = endLine;
  m_selEndColumn = endColumn;
  m_redrawNeeded = 1;
  return 1;
}

void CFgUIEdit::DropSelectionAndAnchor() {
  SetSelection(-1, 0, 0, 0);
  m_anchorLine = -1;
}

void CFgUIEdit::SelectFromAnchor() {
  if (m_endSelectionAfterMove || !HasAnchor()) return;
  if (m_caretColumn < m_anchorColumn)
    SetSelection(0, m_caretColumn, 0, m_anchorColumn - 1);
  else if (m_caretColumn > m_anchorColumn)
    SetSelection(0, m_anchorColumn, 0, m_caretColumn - 1);
  else
    SetSelection(-1, 0, 0, 0);
}

int32_t CFgUIEdit::DeleteSelection() {
  if (!HasSelection() || !m_text) return 0;
  int64_t first = LineCharAtColumn(m_text, m_selStartColumn);
  int64_t last = LineCharAtColumn(m_text, m_selEndColumn);
  int64_t before = m_length;
  if (first < m_length) RemoveRange(first, (last < m_length ? last : m_length - 1) - first + 1);
  RecomputeWidth();
  int32_t start = m_selStartColumn;
  SetSelection(-1, 0, 0, 0);
  if (start > EndColumn()) start = EndColumn();
  SetCaret(start, 0);
  m_redrawNeeded = 1;
  return m_length != before;
}

int32_t CFgUIEdit::Copy() {
  CFgScreen* s = GetScreen();
  if (!s || !HasSelection() || !m_text) return 0;
  int64_t first = LineCharAtColumn(m_text, m_selStartColumn);
  int64_t last = LineCharAtColumn(m_text, m_selEndColumn);
  if (last >= m_length) last = m_length - 1;
  if (first > last) return 0;
  std::wstring part(m_text + first, size_t(last - first + 1));
  return SetClipboardText(part.c_str());
}

void CFgUIEdit::Paste() {
  if (!GetScreen()) return;
  uint64_t need = GetClipboardText(nullptr, 0);
  if (need < 2) return;
  wchar_t* text = static_cast<wchar_t*>(malloc(size_t(need) * sizeof(wchar_t)));
  if (!text) return;
  // The clipboard may change between the two calls; the copy never exceeds need units,
  // and a clipboard gone meanwhile leaves nothing to type (the block is not yet written).
  if (!GetClipboardText(text, need)) {
    free(text);
    return;
  }
  uint16_t flags = GetKeyFlags();
  SetKeyFlags(uint16_t(flags & ~(FgKeyShift | FgKeyCtrl | FgKeyCapsLock)));
  int32_t outer = m_pasting;
  m_pasting = 1;
  for (const wchar_t* p = text; *p; ++p) OnChar(*p);
  m_pasting = outer;
  SetKeyFlags(flags);
  free(text);
  if (!m_pasting) PlaceImeWindow();
}

// ---------------------------------------------------------------------------------------
// Characters
void CFgUIEdit::RedrawIfNeeded() {
  if (m_redrawNeeded && m_owner && !m_pasting) m_owner->Redraw();
}

void CFgUIEdit::OnChar(wchar_t ch) {
  if (!m_text) return;
  uint16_t flags = GetKeyFlags();
  int32_t changed = 0;
  if (flags & FgKeyCtrl) {
    switch (ch) {
      case 3: case L'C': case L'c':
        Copy();
        return;
      case 22: case L'V': case L'v':
        Paste();
        m_redrawNeeded = 1;
        break;
      case 24: case L'X': case L'x':
        if (Copy() && DeleteSelection()) changed = 1;
        m_redrawNeeded = 1;
        break;
      default: {
        wchar_t up = ch >= L'a' && ch <= L'z' ? wchar_t(ch - 32) : ch;
        static const wchar_t kLetters[] = L"ABDEFGKLMNOPQRSUWY";
        if (up < L'A' || up > L'Z' || !wcschr(kLetters, up)) return;
        if (OnCtrlKey) OnCtrlKey(this, CallbackArg, int32_t(ch));
        break;
      }
    }
  } else {
    switch (ch) {
      case 0:  // would end the text early
      case 9:
        return;
      case 8:
        if (HasAnchor()) {
          changed = DeleteSelection();
          DropSelectionAndAnchor();
        } else {
          if (m_caretColumn > 0) {
            int64_t i = LineCharAtColumn(m_text, m_caretColumn - 1);
            int32_t back = int32_t(LineColumnStart(m_text, m_caretColumn - 1));
            RemoveRange(i, 1);
            m_caretColumn = back;
            RecomputeWidth();
          }
          changed = 1;  // also at column 0, so the owner hears of the key
        }
        m_redrawNeeded = 1;
        break;
      case 10:
        if (HasAnchor()) {
          changed = DeleteSelection();
          DropSelectionAndAnchor();
          m_redrawNeeded = 1;
        }
        if (changed) Changed();
        changed = 0;
        if (OnEnterEsc && OnEnterEsc(this, CallbackArg, 10))
          m_redrawNeeded = 1;
        else
          m_pendingFocusMove = 1;
        break;
      case 27:
        if (OnEnterEsc && OnEnterEsc(this, CallbackArg, 27))
          m_redrawNeeded = 1;
        else
          m_pendingFocusMove = (flags & FgKeyShift) ? 1 : -1;
        break;
      case 127:
        if (HasAnchor()) {
          changed = DeleteSelection();
          DropSelectionAndAnchor();
        } else {
          int64_t i = LineCharAtColumn(m_text, m_caretColumn);
          if (i < m_length) {
            RemoveRange(i, 1);
            RecomputeWidth();
          }
          changed = 1;  // also at the end, so the owner hears of the key
        }
        m_redrawNeeded = 1;
        break;
      default:
        if (HasAnchor()) {
          changed = DeleteSelection();
          DropSelectionAndAnchor();
        }
        if (m_caretColumn == m_lineColumns && m_firstLineLength == m_length &&
            ch != 10) {
          // Typing at the end (every character of a paste): the widths simply grow.
          if (InsertAt(m_length, ch)) {
            m_caretColumn += PositionWidth(ch);
            m_lineColumns += PositionWidth(ch);
            m_textWidth += int32_t(FgIsHalfWidth(uint32_t(ch)) ? 1 : 2);
            m_firstLineLength = m_length;
            changed = 1;
          }
        } else if (InsertAt(LineCharAtColumn(m_text, m_caretColumn), ch)) {
          m_caretColumn += PositionWidth(ch);
          RecomputeWidth();
          changed = 1;
        }
        m_redrawNeeded = 1;
        break;
    }
  }
  if (changed) Changed();
  if (ScrollToCaret() && OnScrolled) OnScrolled(this, CallbackArg);
  if (m_endSelectionAfterMove) {
    DropSelectionAndAnchor();
    m_endSelectionAfterMove = 0;
  }
  RedrawIfNeeded();
}

// ---------------------------------------------------------------------------------------
// Arrow keys and focus moves
void CFgUIEdit::OnKeyStateChanged() {
  if (!m_text) return;
  uint16_t flags = GetKeyFlags();
  m_shiftHeld = (flags & FgKeyShift) ? 1 : 0;
  if (flags & (FgKeyUp | FgKeyDown | FgKeyLeft | FgKeyRight)) {
    if (HasAnchor() && !m_shiftHeld && !m_dragging) {
      m_endSelectionAfterMove = 1;
    } else if (!HasAnchor() && (m_shiftHeld || m_dragging)) {
      m_anchorLine = 0;
      m_anchorColumn = m_caretColumn;
    }
    if (flags & (FgKeyUp | FgKeyDown)) {
      // One line: up and down do not move the caret.
    } else if (flags & FgKeyLeft) {
      if (m_caretColumn > 0) {
        m_caretColumn = int32_t(LineColumnStart(m_text, m_caretColumn - 1));
        m_redrawNeeded = 1;
      }
    } else {
      int64_t i = LineCharAtColumn(m_text, m_caretColumn);
      if (i < m_length) {
        wchar_t c = m_text[i];
        m_caretColumn = c == 9 ? m_caretColumn + 4 - m_caretColumn % 4
                               : m_caretColumn + PositionWidth(c);
        m_redrawNeeded = 1;
      }
    }
    SelectFromAnchor();
  }
  ScrollToCaret();
  if (m_endSelectionAfterMove) {
    DropSelectionAndAnchor();
    m_endSelectionAfterMove = 0;
  }
  RedrawIfNeeded();
}

void CFgUIEdit::OnSpecialKeyRepeat() { OnKeyStateChanged(); }

void CFgUIEdit::OnKeyUp(wchar_t) {
  // Not the base rule: TAB must not move the focus out of an edit box.
  int32_t move = m_pendingFocusMove;
  m_pendingFocusMove = 0;
  if (!m_owner) return;
  if (move > 0)
    m_owner->FocusNext();
  else if (move < 0)
    FocusPrevious();
}

// ---------------------------------------------------------------------------------------
// Mouse
// Maps a widget-relative point to a column; 0 when it lies below the line.
int32_t CFgUIEdit::MapColumn(int32_t x, int32_t y, int32_t* outColumn) {
  int32_t even = (FontSize() + 1) / 2 * 2;
  int64_t line = (int64_t(y) - 2) / (even + 2);
  if (line != 0) return 0;
  *outColumn = int32_t((int64_t(x) - 2) / (even / 2) + m_scrollColumn);
  return 1;
}

void CFgUIEdit::OnLButtonDown(int32_t x, int32_t y) {
  if (!m_text) return;
  SetSelection(-1, 0, 0, 0);
  int32_t column = 0;
  int32_t onLine = MapColumn(x, y, &column);
  if (column > EndColumn()) column = EndColumn();
  if (!(GetKeyFlags() & FgKeyShift)) {
    m_anchorLine = -1;
  } else if (!HasAnchor()) {
    m_anchorLine = 0;
    m_anchorColumn = m_caretColumn;
  }
  if (onLine) SetCaret(column < 0 ? 0 : column, 0);
  SelectFromAnchor();
  m_dragging = 1;
  if (m_owner && !m_owner->m_captureChild) CaptureMouse();
  if (m_owner) m_owner->Redraw();
}

void CFgUIEdit::OnMouseMove(int32_t x, int32_t y) {
  if (!m_dragging || !m_text) return;
  int32_t column = 0;
  if (!MapColumn(x, y, &column) || column < 0) return;
  if (column > EndColumn()) column = EndColumn();
  if (!HasAnchor()) {
    m_anchorLine = 0;
    m_anchorColumn = m_caretColumn;
  }
  SetCaret(column, 0);
  SelectFromAnchor();
  if (m_endSelectionAfterMove) {
    DropSelectionAndAnchor();
    m_endSelectionAfterMove = 0;
  }
  if (m_owner) m_owner->Redraw();
}

void CFgUIEdit::OnLButtonUp(int32_t, int32_t) {
  if (!m_dragging) return;
  m_dragging = 0;
  ReleaseMouse();
}

void CFgUIEdit::OnMouseWheel(int32_t, int32_t, int32_t notches) {
  if (OnWheel) OnWheel(this, CallbackArg, notches);
}

// ---------------------------------------------------------------------------------------
// Focus
void CFgUIEdit::OnAttach() {
  for (int k = 0; k < 3; ++k) {
    m_ownTextColor[k] = m_owner->m_colors[FgColorFieldText][k];
    m_ownFieldColor[k] = m_owner->m_colors[FgColorFieldWhite][k];
  }
}

void CFgUIEdit::OnFocus() {
  PlaceImeWindow();
  m_redrawNeeded = 1;
}

void CFgUIEdit::OnBlur(CFgUIObj*) {
  if (CFgScreen* s = GetScreen()) {
    // Back to the system's own placement of the composition window.
    s->m_imeX = -1;
    s->m_imeY = -1;
  }
  m_shiftHeld = 0;
  // A drag cut short by a focus change must not keep every mouse event for this box.
  if (m_dragging) ReleaseMouse();
  m_dragging = 0;
  m_redrawNeeded = 1;
  if (OnFocusLost) OnFocusLost(this, CallbackArg);
}

// ---------------------------------------------------------------------------------------
// Drawing
void CFgUIEdit::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_owner) return;
  const double* text = m_owner->m_colors[m_enabled ? FgColorFieldText : FgColorDisabledText];
  const double* field =
      m_owner->m_colors[!m_enabled ? FgColorFace
                                   : m_focused ? FgColorFieldHighlight : FgColorFieldWhite];
  int32_t x1 = m_x + m_width - 1, y1 = m_y + m_height - 1;
  FgFillFramedRect(screen, m_x, m_y, x1, y1, field[0], field[1], field[2], 0, 0, 0);
  int32_t tx0 = m_x + 2, ty0 = m_y + 2, tx1 = m_x + m_width - 3, ty1 = m_y + m_height - 3;
  screen->SetClipRect(tx0, ty0, tx1, ty1);
  int32_t S = FontSize(), half = S / 2;
  int32_t top = (ty0 + ty1) / 2 - S / 2;
  if (m_text && font && m_textWidth > m_scrollColumn) {
    std::wstring shown = ExpandTabs(m_text);
    const wchar_t* s = shown.c_str();
    int64_t index = LineCharAtColumn(s, m_scrollColumn);
    int64_t column = LineColumnStart(s, m_scrollColumn);
    int64_t x = int64_t(tx0) - int64_t(m_scrollColumn - column) * half;
    for (; s[index] && s[index] != 10 && x <= tx1; ++index) {
      wchar_t c = s[index];
      int32_t w = PositionWidth(c);
      int selected = HasSelection() && column + w > m_selStartColumn && column <= m_selEndColumn;
      if (selected) {
        int32_t box = uint32_t(c) < 256 ? half : S;
        FgFillRect(screen, int32_t(x), top, int32_t(x) + box - 1, top + S - 1, text[0], text[1],
                   text[2]);
        glColor3d(field[0], field[1], field[2]);
      } else {
        glColor3d(text[0], text[1], text[2]);
      }
      font->DrawChar(double(x), double(top), c);
      column += w;
      x += int64_t(w) * half;
    }
  }
  if (m_focused) {
    int64_t cx = int64_t(tx0) + int64_t(m_caretColumn - m_scrollColumn) * half;
    int32_t ctop = (ty0 + ty1) / 2 - (S + 2) / 2;
    FgFillRect(screen, int32_t(cx), ctop, int32_t(cx) + 1, ctop + S - 1, text[0], text[1],
               text[2]);
  }
  glDisable(GL_STENCIL_TEST);
  m_redrawNeeded = 0;
}
