// convolution_grid.cpp - CFEdit: clicks, arrows, typed numbers and the drawing of the grid.
// Inside: editing - drawing
//
// Events and results (only inside the active block):
//   left / right click    cell +1 / -1, selected, fresh; client told; redraw
//   one of up / down      row moves, wrapping inside the block; fresh; redraw (client not told)
//   one of left / right   column likewise
//   'C' or 'c'            cell 0; fresh; client told; redraw
//   digit, '-', backspace fresh: cell 0, sign from '-'; digit appends, backspace drops the
//                         last digit (0 makes it fresh again); client told; redraw
//   a digit that would leave the signed 32-bit range is not taken
#include "filters/colour_pixel/convolution_grid.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cwchar>

#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/screen.h"

CFEdit::CFEdit() = default;

int32_t CFEdit::IsActive(int32_t column, int32_t row) const {
  int32_t lo = 4 - m_size / 2, hi = 4 + m_size / 2;
  return column >= lo && column <= hi && row >= lo && row <= hi;
}

int32_t CFEdit::GetKernel(int32_t* dst) const {
  if (!dst) return 0;
  if (m_size < 1) return 1;
  int32_t lo = 4 - m_size / 2;
  for (int32_t r = 0; r < m_size; ++r)
    for (int32_t c = 0; c < m_size; ++c) dst[r * m_size + c] = m_values[lo + r][lo + c];
  return 1;
}

void CFEdit::Edited() {
  if (m_client) m_client->OnEdited();
  if (m_owner) m_owner->Redraw();
}

// ---------------------------------------------------------------------------------------
// Editing (click points arrive relative to the widget)
void CFEdit::Click(int32_t x, int32_t y, int32_t delta) {
  if (x < 0 || y < 0) return;
  int32_t column = x / m_cellWidth, row = y / m_cellHeight;
  if (column >= 9 || row >= 9 || !IsActive(column, row)) return;
  int64_t v = int64_t(m_values[row][column]) + delta;
  if (v >= INT32_MIN && v <= INT32_MAX) m_values[row][column] = int32_t(v);
  m_selColumn = column;
  m_selRow = row;
  m_fresh = 1;
  Edited();
}

void CFEdit::OnLButtonDown(int32_t x, int32_t y) { Click(x, y, 1); }
void CFEdit::OnRButtonDown(int32_t x, int32_t y) { Click(x, y, -1); }

void CFEdit::OnKeyStateChanged() {
  if (!IsActive(m_selColumn, m_selRow)) return;
  uint16_t keys = GetKeyFlags();
  int32_t lo = 4 - m_size / 2, hi = 4 + m_size / 2;
  int32_t moved = 0;
  int32_t up = (keys & FgKeyUp) != 0, down = (keys & FgKeyDown) != 0;
  int32_t left = (keys & FgKeyLeft) != 0, right = (keys & FgKeyRight) != 0;
  if (up != down) {
    m_selRow = up ? (m_selRow == lo ? hi : m_selRow - 1) : (m_selRow == hi ? lo : m_selRow + 1);
    moved = 1;
  }
  if (left != right) {
    m_selColumn = left ? (m_selColumn == lo ? hi : m_selColumn - 1)
                       : (m_selColumn == hi ? lo : m_selColumn + 1);
    moved = 1;
  }
  if (!moved) return;
  m_fresh = 1;
  if (m_owner) m_owner->Redraw();
}

void CFEdit::OnChar(wchar_t ch) {
  if (!IsActive(m_selColumn, m_selRow)) return;
  int32_t& value = m_values[m_selRow][m_selColumn];
  if (ch == L'C' || ch == L'c') {
    value = 0;
    m_fresh = 1;
    Edited();
    return;
  }
  if (ch != 8 && ch != L'-' && (ch < L'0' || ch > L'9')) return;
  int32_t started = 0;
  if (m_fresh) {
    value = 0;
    if (ch != 8) m_fresh = 0;
    m_sign = ch == L'-' ? -1 : 1;
    started = ch == L'-';
  }
  if (!started) {
    if (ch == 8) {
      value /= 10;
      if (value == 0) m_fresh = 1;
    } else if (ch != L'-') {
      int64_t magnitude = std::llabs(int64_t(value)) * 10 + (ch - L'0');
      int64_t next = magnitude * m_sign;
      if (next < INT32_MIN || next > INT32_MAX) return;  // an over-long number stops
      value = int32_t(next);
    }
  }
  Edited();
}

// ---------------------------------------------------------------------------------------
// Drawing
void CFEdit::Draw(CFgScreen* screen, CFgFont* font) { Paint(screen, font, m_x, m_y); }

void CFEdit::Paint(CFgScreen* screen, CFgFont* font, int32_t x, int32_t y) {
  if (!screen) return;
  const double border = m_enabled ? 0.0 : 0.3;
  for (int32_t r = 0; r < 9; ++r) {
    for (int32_t c = 0; c < 9; ++c) {
      int32_t x0 = x + m_cellWidth * c, y0 = y + m_cellHeight * r;
      int32_t x1 = x0 + m_cellWidth, y1 = y0 + m_cellHeight;
      FgFillFramedRect(screen, x0, y0, x1, y1, 0.7, 0.7, 0.7, border, border, border);
      if (!IsActive(c, r)) continue;
      int32_t v = m_values[r][c];
      double fill = 0.7, text = 0.9;
      if (m_enabled) {
        fill = v > 0 ? 1.0 : v == 0 ? 0.9 : 0.0;
        text = v < 0 ? 1.0 : 0.0;
      }
      FgFillFramedRect(screen, x0, y0, x1, y1, fill, fill, fill, border, border, border);
      if (font) {
        wchar_t digits[16];
        swprintf(digits, 16, L"%ld", long(v));
        int64_t s = int64_t(font->Size());
        int64_t tw = font->TextWidth(digits);
        glColor3d(text, text, text);
        screen->SetClipRect(x0 + 1, y0 + 1, x1 - 1, y1 - 1);
        font->DrawText(double((x0 + x1 - tw) / 2), double((y0 + y1 - s) / 2), digits);
        glDisable(GL_STENCIL_TEST);
      }
    }
  }
  if (m_focused && IsActive(m_selColumn, m_selRow)) {
    int32_t x0 = x + m_cellWidth * m_selColumn, y0 = y + m_cellHeight * m_selRow;
    FgFillRect(screen, x0, y0, x0 + m_cellWidth, y0, 1, 0, 0);
    FgFillRect(screen, x0, y0 + m_cellHeight, x0 + m_cellWidth, y0 + m_cellHeight, 1, 0, 0);
    FgFillRect(screen, x0, y0, x0, y0 + m_cellHeight, 1, 0, 0);
    FgFillRect(screen, x0 + m_cellWidth, y0, x0 + m_cellWidth, y0 + m_cellHeight, 1, 0, 0);
  }
}
