// label.cpp - CFgUILabel: one centred line of text; the widget text field helper.
#include "toolkit/label.h"

#include <GL/gl.h>

#include <cwchar>

#include "toolkit/font.h"

void FgSetWidgetText(wchar_t* field, const wchar_t* text) {
  if (!field) return;
  if (!text) text = L"";
  size_t n = wcslen(text);
  if (n > size_t(kFgWidgetTextUnits - 1)) n = kFgWidgetTextUnits - 1;
  wmemcpy(field, text, n);
  field[n] = 0;
}

CFgUILabel::CFgUILabel() { m_tabStop = 0; }

// Text centred: x = (x + x1 + 1 - text width) / 2, y = (y + y1 + 1 - size) / 2, clipped to
// the label's rectangle.
void CFgUILabel::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !font || !m_owner) return;
  int32_t x1 = m_x + m_width - 1, y1 = m_y + m_height - 1;
  int64_t s = int64_t(font->Size());
  int64_t tw = font->TextWidth(m_text);
  m_owner->UseColor(m_enabled ? FgColorControlText : FgColorDisabledText);
  screen->SetClipRect(m_x, m_y, x1, y1);
  font->DrawText(double((int64_t(m_x) + x1 + 1 - tw) / 2), double((int64_t(m_y) + y1 + 1 - s) / 2),
                 m_text);
  glDisable(GL_STENCIL_TEST);
}
