// progress.cpp - progress bar drawing and the progress box's layout, text line and abort.
#include "toolkit/progress.h"

#include <GL/gl.h>

#include <algorithm>

#include "toolkit/draw.h"
#include "toolkit/font.h"

namespace {

constexpr int64_t kDefaultFontSize = 14;

int64_t FontSizeOf(const CFgUICtrl* c) {
  if (c && c->m_font && c->m_font->Size()) return int64_t(c->m_font->Size());
  return kDefaultFontSize;
}

void OnAbort(CFgUIButton*, void* user) { static_cast<CFgUIProgressBox*>(user)->m_abort = 1; }

}  // namespace

// ---------------------------------------------------------------------------------------
// Progress bar
CFgUIProgressBar::CFgUIProgressBar() = default;

// e = x + 2 + current * (w - 2) / maximum, in 64 bits with current held to 0..maximum (a
// stray value must not draw outside the bar or wrap); maximum 0 shows the bar full.
int64_t CFgUIProgressBar::UnfilledStart() const {
  int64_t x1 = int64_t(m_x) + m_width - 1;
  if (m_maximum == 0) return x1;
  uint64_t cur = m_current < 0 ? 0 : uint64_t(m_current);
  if (cur > m_maximum) cur = m_maximum;
  // Both factors stay below 2^31 here, so the product fits 64 bits.
  uint64_t inner = m_width > 2 ? uint64_t(m_width - 2) : 0;
  uint64_t filled = cur * inner / m_maximum;
  return int64_t(m_x) + 2 + int64_t(filled);
}

void CFgUIProgressBar::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || m_width < 1 || m_height < 1) return;
  const CFgUICtrl* o = m_owner;
  static const double kBlack[3] = {0, 0, 0}, kWhite[3] = {1, 1, 1};
  const double* dark = o ? o->m_colors[FgColorFieldText] : kBlack;
  const double* light = o ? o->m_colors[FgColorFieldWhite] : kWhite;
  int64_t x = m_x, y = m_y, x1 = x + m_width - 1, y1 = y + m_height - 1;
  FgFillRect(screen, int32_t(x), int32_t(y), int32_t(x1), int32_t(y1), dark[0], dark[1],
             dark[2]);
  int64_t e = UnfilledStart();
  if (e < x1 && y + 1 <= y1 - 1)
    FgFillRect(screen, int32_t(e), int32_t(y + 1), int32_t(x1 - 1), int32_t(y1 - 1), light[0],
               light[1], light[2]);
  if (m_text && m_text[0] && font) {
    int64_t s = int64_t(font->Size());
    int64_t tw = font->TextWidth(m_text);
    int64_t tx = std::max<int64_t>((x + m_width - tw) / 2, x + 2);
    int64_t ty = std::max<int64_t>((y + m_height - s) / 2, y + 2);
    glColor3d((dark[0] + light[0]) / 2, (dark[1] + light[1]) / 2, (dark[2] + light[2]) / 2);
    font->DrawText(double(tx), double(ty), m_text);
  }
}

// ---------------------------------------------------------------------------------------
// Progress box
CFgUIProgressBox::CFgUIProgressBox() {
  m_button.SetText(L"中断");
  m_button.m_callback = OnAbort;
  m_button.m_user = this;
  AddChild(&m_bar);
  AddChild(&m_button);
}

CFgUIProgressBox::~CFgUIProgressBox() = default;

// s the font size, b = width of "中断", t = max(16 s, text width) (16 s without text):
//   client W = t + 20, H = 3 s + 52; bar (8, s + 16) t + 4 by s + 4;
//   text line x = (W - t) / 2, y = 8; button ((W - (b + s + 16)) / 2, 2 s + 28),
//   b + s + 16 by s + 16.
void CFgUIProgressBox::Layout(const wchar_t* text, int32_t* outWidth, int32_t* outHeight) {
  int64_t s = FontSizeOf(this);
  int64_t b = FgTextWidth(L"中断", uint64_t(s));
  int64_t t = 16 * s;
  if (text && text[0]) t = std::max<int64_t>(t, FgTextWidth(text, uint64_t(s)));
  // A text wider than any window is cut to what a window can hold.
  t = std::min<int64_t>(t, 30000);
  int64_t w = t + 20, h = 3 * s + 52;
  m_abort = 0;
  m_bar.m_maximum = 0;
  m_bar.m_current = 0;
  m_bar.SetRect(8, int32_t(s + 16), int32_t(t + 4), int32_t(s + 4));
  m_textX = int32_t((w - t) / 2);
  m_textY = 8;
  m_textWidth = int32_t(t);
  m_button.SetRect(int32_t((w - (b + s + 16)) / 2), int32_t(2 * s + 28), int32_t(b + s + 16),
                   int32_t(s + 16));
  m_button.Show(1);
  if (outWidth) *outWidth = int32_t(w);
  if (outHeight) *outHeight = int32_t(h);
}

int32_t CFgUIProgressBox::Open(uint64_t maximum, uint64_t, const wchar_t* title,
                               const wchar_t* text, CFgScreen* parent) {
  int32_t w = 0, h = 0;
  Layout(text, &w, &h);
  m_bar.m_maximum = maximum;
  m_bar.m_current = 0;
  m_bar.m_text = text;
  m_closeAllowed = 0;
  return Create(-1, -1, uint64_t(w), uint64_t(h), title ? title : L"", FgStyleDialog, parent);
}

// The line above the bar: x = (area width + text x - text width) / 2 (signed), y = text y.
void CFgUIProgressBox::DrawOverlay() {
  if (!m_text || !m_text[0] || !m_font) return;
  int64_t tw = m_font->TextWidth(m_text);
  UseColor(FgColorFieldText);
  m_font->DrawText(double((int64_t(m_textWidth) + m_textX - tw) / 2), double(m_textY), m_text);
}
