// label.h - CFgUILabel: one centred line of text in the container's font; not a tab stop.
#pragma once

#include <cstdint>

#include "toolkit/uiobj.h"

constexpr int kFgWidgetTextUnits = 256;  // widget text fields, terminator included

// Copies text into a widget's text field (at most kFgWidgetTextUnits - 1 units, cut there).
void FgSetWidgetText(wchar_t* field, const wchar_t* text);

class CFgUILabel : public CFgUIObj {
 public:
  CFgUILabel();
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void SetText(const wchar_t* text) { FgSetWidgetText(m_text, text); }

  wchar_t m_text[kFgWidgetTextUnits] = {};
};
