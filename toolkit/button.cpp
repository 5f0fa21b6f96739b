// button.cpp - push buttons, check boxes and radio groups: input rules, drawing, groups.
// Inside: CFgUIButton - CFgUIChkButton input - radio groups - drawing
#include "toolkit/button.h"

#include <GL/gl.h>

#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/icons.h"

namespace {

// The container's capture goes whoever holds it, and the pointer is let go.
void DropCapture(CFgUIObj* widget) {
  CFgUICtrl* owner = widget->m_owner;
  if (!owner) return;
  owner->m_captureChild = nullptr;
  if (CFgScreen* s = owner->m_screen) s->ReleaseMouse();
}

void RedrawOwner(CFgUIObj* widget) {
  if (widget->m_owner) widget->m_owner->Redraw();
}

const double* Triple(CFgUIObj* w, int index) { return w->m_owner->m_colors[index]; }

}  // namespace

// ---------------------------------------------------------------------------------------
// CFgUIButton
CFgUIButton::CFgUIButton() = default;

void CFgUIButton::Press() {
  m_pressed = 1;
  RedrawOwner(this);
  CaptureMouse();  // only when no child holds the capture
}

void CFgUIButton::Release() {
  if (!m_pressed) return;
  m_pressed = 0;
  RedrawOwner(this);
  DropCapture(this);
  if (m_callback) m_callback(this, m_user);
}

void CFgUIButton::OnLButtonDown(int32_t, int32_t) { Press(); }
void CFgUIButton::OnLButtonUp(int32_t, int32_t) { Release(); }

void CFgUIButton::OnKeyDown(wchar_t ch) {
  if (ch == 32 || ch == 10) Press();
}

void CFgUIButton::OnKeyUp(wchar_t ch) {
  if (ch == 32 || ch == 10) {
    Release();  // so Enter on a button never moves the focus
    return;
  }
  CFgUIObj::OnKeyUp(ch);
}

//   grey 0.5 frame; not pressed: white edge at top/left, black at bottom/right one pixel
//   inside; the face; a white gloss triangle top-left; the text centred, clipped inside
void CFgUIButton::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_owner) return;
  int32_t x = m_x, y = m_y, x1 = m_x + m_width - 1, y1 = m_y + m_height - 1;
  int text = m_enabled ? FgColorControlText : FgColorDisabledText;
  int face = m_enabled && m_focused ? FgColorFocusedFace : FgColorFace;
  FgFillRect(screen, x, y, x1, y1, 0.5, 0.5, 0.5);
  if (!m_pressed) {
    FgFillRect(screen, x + 1, y + 1, x1 - 2, y1 - 2, 1, 1, 1);
    FgFillRect(screen, x + 2, y + 2, x1 - 1, y1 - 1, 0, 0, 0);
  }
  const double* f = Triple(this, face);
  FgFillRect(screen, x + 2, y + 2, x1 - 2, y1 - 2, f[0], f[1], f[2]);
  FgFillTriangle(screen, x + 2, y + 2, x + 10, y + 2, x + 2, y + 10, 1, 1, 1);
  if (!font) return;
  m_owner->UseColor(text);
  screen->SetClipRect(x + 1, y + 1, x1 - 1, y1 - 1);
  int64_t tw = font->TextWidth(m_text), s = int64_t(font->Size());
  font->DrawText(double((int64_t(x) + x1 + 1 - tw) / 2), double((int64_t(y) + y1 + 1 - s) / 2),
                 m_text);
  glDisable(GL_STENCIL_TEST);
}

// ---------------------------------------------------------------------------------------
// CFgUIChkButton input
CFgUIChkButton::CFgUIChkButton() { AcquireIconSheet(); }
CFgUIChkButton::~CFgUIChkButton() { ReleaseIconSheet(); }

void CFgUIChkButton::Press() {
  m_pressed = 1;
  RedrawOwner(this);
  CaptureMouse();
}

// Activation: a radio member selects itself, a plain box toggles; then capture dropped,
// callback, redraw.
void CFgUIChkButton::Activate() {
  m_pressed = 0;
  if (m_leader)
    SetGroupSelection(this, m_index, 0);
  else
    m_checked = !m_checked;
  DropCapture(this);
  if (m_callback) m_callback(this, m_user);
  RedrawOwner(this);
}

void CFgUIChkButton::OnLButtonDown(int32_t, int32_t) { Press(); }

void CFgUIChkButton::OnLButtonUp(int32_t, int32_t) {
  if (m_pressed) Activate();
}

void CFgUIChkButton::OnKeyDown(wchar_t ch) {
  if (ch == 32) Press();
}

void CFgUIChkButton::OnKeyUp(wchar_t ch) {
  if (ch == 32) {
    if (m_pressed) Activate();
    return;
  }
  CFgUIObj::OnKeyUp(ch);
}

// Down or Right (tested first): next index, 0 after the last; Up or Left: previous, the
// last below 0; the member found is pressed and activated at once.
void CFgUIChkButton::OnKeyStateChanged() {
  CFgUIChkButton* leader = m_leader;
  if (!leader || !leader->m_last) return;
  uint16_t flags = GetKeyFlags();
  int32_t lastIndex = leader->m_last->m_index, target;
  if (flags & (FgKeyDown | FgKeyRight))
    target = leader->m_selection + 1 > lastIndex ? 0 : leader->m_selection + 1;
  else if (flags & (FgKeyUp | FgKeyLeft))
    target = leader->m_selection - 1 < 0 ? lastIndex : leader->m_selection - 1;
  else
    return;
  CFgUIChkButton* c = leader->m_nextMember;
  for (int32_t guard = 0; c && guard <= lastIndex; ++guard, c = c->m_nextMember) {
    if (c->m_index == target) {
      c->m_pressed = 1;
      c->Activate();
      return;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Radio groups
namespace {

CFgUIChkButton* FindMember(CFgUIChkButton* leader, int32_t index) {
  CFgUIChkButton* c = leader;
  do {
    if (c->m_index == index) return c;
    c = c->m_nextMember;
  } while (c && c != leader);
  return nullptr;
}

}  // namespace

int32_t CFgUIChkButton::AddToGroup(CFgUIChkButton* leader, CFgUIChkButton* button) {
  if (!leader || !button || button == leader || button->m_leader) return 0;
  if (leader->m_leader && leader->m_leader != leader) return 0;
  if (!leader->m_leader) {
    leader->m_leader = leader;
    leader->m_index = 0;
    leader->m_nextMember = leader;
    leader->m_last = leader;
  }
  CFgUIChkButton* prev = leader->m_last;
  button->m_checked = 0;
  button->m_last = prev;
  prev->m_nextMember = button;
  button->m_nextMember = leader;
  leader->m_last = button;
  button->m_index = prev->m_index + 1;
  button->m_leader = leader;
  return 1;
}

int32_t CFgUIChkButton::GetGroupSelection(CFgUIChkButton* button) {
  if (!button || !button->m_leader) return -1;
  return button->m_leader->m_selection;
}

int32_t CFgUIChkButton::SetGroupSelection(CFgUIChkButton* button, int32_t n,
                                          int32_t giveFocus) {
  if (!button || n < -1) return 0;
  CFgUIChkButton* leader = button->m_leader;
  if (!leader) return 0;
  if (n == leader->m_selection) return 1;
  // The new member is found before anything is unchecked: a bad n changes nothing.
  CFgUIChkButton* target = nullptr;
  if (n >= 0) {
    target = FindMember(leader, n);
    if (!target) return 0;
  }
  if (leader->m_selection >= 0)
    if (CFgUIChkButton* old = FindMember(leader, leader->m_selection)) old->m_checked = 0;
  leader->m_selection = n;
  if (target) {
    target->m_checked = 1;
    if (giveFocus && target->m_owner) target->m_owner->SetFocus(target);
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// Drawing: icon cell = column (0 focused, 2 unfocused, 4 disabled) + checked + 6 grouped,
// 16 x 16 at x, centred vertically; text 24 pixels right of x.
void CFgUIChkButton::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_owner) return;
  int32_t x = m_x, y = m_y, x1 = m_x + m_width - 1, y1 = m_y + m_height - 1;
  int text = m_enabled ? FgColorControlText : FgColorDisabledText;
  uint64_t column = !m_enabled ? 4 : (m_focused ? 0 : 2);
  uint64_t cell = column + (m_checked ? 1 : 0) + (m_leader ? 6 : 0);
  screen->SetClipRect(x, y, x1, y1);
  m_owner->UseColor(FgColorFieldWhite);
  FgDrawIcon(screen, x, (y1 - 16 + y) / 2, cell);
  if (font) {
    screen->SetClipRect(x + 3, y + 3, x1 - 3, y1 - 3);
    m_owner->UseColor(text);
    int64_t s = int64_t(font->Size());
    font->DrawText(double(x + 24), double((int64_t(y) + y1 + 1 - s) / 2), m_text);
  }
  glDisable(GL_STENCIL_TEST);
}
