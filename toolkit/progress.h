// progress.h - the progress window of long operations run on the UI thread.
//
//   CFgUIProgressBar  a framed bar: the done part in triple 0, the rest in triple 1, with an
//                     optional text inside
//   CFgUIProgressBox  a small dialog with a text line, the bar and an abort button "中断";
//                     no loop of its own: the operation sets the bar, redraws, pumps the
//                     messages (FgPumpMessages) and polls m_abort, and destroys the window
//                     when done. Its close box does nothing.
#pragma once

#include <cstdint>

#include "toolkit/button.h"
#include "toolkit/uiobj.h"

class CFgUIProgressBar : public CFgUIObj {
 public:
  CFgUIProgressBar();
  void Draw(CFgScreen* screen, CFgFont* font) override;
  // Left edge of the unfilled part for the bar's rectangle (x1 = x + w - 1 when full).
  int64_t UnfilledStart() const;

  const wchar_t* m_text = nullptr;  // not owned
  uint64_t m_maximum = 0;           // 0 shows the bar full
  int32_t m_current = 0;
};

class CFgUIProgressBox : public CFgUIDialog {
 public:
  CFgUIProgressBox();
  ~CFgUIProgressBox() override;
  void DrawOverlay() override;

  // Lays the box out for text, refuses the close box and creates the window centred on
  // parent; returns at once (1/0). The second number is not used.
  int32_t Open(uint64_t maximum, uint64_t unused, const wchar_t* title, const wchar_t* text,
               CFgScreen* parent);
  // The layout Open applies, without making the window (client width and height out).
  void Layout(const wchar_t* text, int32_t* outWidth, int32_t* outHeight);

  int32_t m_abort = 0;
  CFgUIProgressBar m_bar;
  CFgUIButton m_button;
  const wchar_t* m_text = nullptr;  // the line above the bar; not owned
  int32_t m_textX = 0, m_textY = 8, m_textWidth = 0;
};
