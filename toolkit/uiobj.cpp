// uiobj.cpp - widget base, container and dialog: mouse routing, hover, focus moves,
// capture, enabling, and the synchronous full redraw.
// Inside: CFgUIObj - CFgUICtrl (routing, focus, redraw, enabling) - CFgUIDialog
#include "toolkit/uiobj.h"

#include <GL/gl.h>

#include "toolkit/font.h"

namespace {

// Every dialog gets the toolkit's glyph font unless a test installs hooks of its own.
FgContainerFontHooks DefaultFontHooks() {
  FgContainerFontHooks h;
  h.create = FgCreateContainerFont;
  h.destroy = FgDestroyContainerFont;
  h.share = ShareDefaultFont;
  return h;
}
FgContainerFontHooks g_fontHooks = DefaultFontHooks();

int Eligible(const CFgUIObj* c) { return c->m_visible && c->m_enabled && c->m_tabStop; }

}  // namespace

void FgSetContainerFontHooks(const FgContainerFontHooks& hooks) { g_fontHooks = hooks; }

// ---------------------------------------------------------------------------------------
// CFgUIObj
CFgUIObj::CFgUIObj() = default;
CFgUIObj::~CFgUIObj() = default;

CFgScreen* CFgUIObj::GetScreen() const { return m_owner ? m_owner->m_screen : nullptr; }

void CFgUIObj::SetKeyFlags(uint16_t flags) {
  if (CFgScreen* s = GetScreen()) s->SetKeyFlags(flags);
}

uint16_t CFgUIObj::GetKeyFlags() {
  CFgScreen* s = GetScreen();
  return s ? s->GetKeyFlags() : 0;
}

void CFgUIObj::OnKeyUp(wchar_t ch) {
  if (!m_owner) return;
  if (ch == 9) {
    if (GetKeyFlags() & FgKeyShift)
      FocusPrevious();
    else
      m_owner->FocusNext();
  } else if (ch == 10) {
    m_owner->FocusNext();
  } else if (ch == 27) {
    FocusPrevious();
  }
}

void CFgUIObj::Draw(CFgScreen*, CFgFont*) {}
void CFgUIObj::OnAttach() {}
void CFgUIObj::OnRect(int32_t, int32_t, int32_t, int32_t) {}
void CFgUIObj::OnShow(int32_t, intptr_t) {}
void CFgUIObj::OnEnable(int32_t) {}
void CFgUIObj::OnFocus() {}
void CFgUIObj::OnBlur(CFgUIObj*) {}
void CFgUIObj::OnMouseEnter() {}
void CFgUIObj::OnMouseLeave() {}

int32_t CFgUIObj::SetRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return 0;
  m_x = x;
  m_y = y;
  m_width = width;
  m_height = height;
  OnRect(x, y, width, height);
  return 1;
}

int32_t CFgUIObj::Contains(int32_t x, int32_t y) const {
  return int64_t(x) >= m_x && int64_t(x) < int64_t(m_x) + m_width && int64_t(y) >= m_y &&
         int64_t(y) < int64_t(m_y) + m_height;
}

void CFgUIObj::Show(int32_t shown, intptr_t argument) {
  m_visible = shown != 0;
  OnShow(m_visible, argument);
  if (!m_visible && m_owner && m_owner->m_focusChild == this) m_owner->FocusNext();
}

void CFgUIObj::CaptureMouse() {
  if (!m_owner || m_owner->m_captureChild) return;
  m_owner->m_captureChild = this;
  if (CFgScreen* s = GetScreen()) s->CaptureMouse();  // a refused grab is no failure
}

void CFgUIObj::ReleaseMouse() {
  if (!m_owner || m_owner->m_captureChild != this) return;
  m_owner->m_captureChild = nullptr;
  if (CFgScreen* s = GetScreen()) s->ReleaseMouse();
}

int32_t CFgUIObj::FocusPrevious() {
  CFgUICtrl* o = m_owner;
  if (!o) return 0;
  if (!o->m_lastChild) return o->SetFocus(nullptr);
  CFgUIObj* focus = o->m_focusChild;
  CFgUIObj* start = focus && focus->m_prev ? focus->m_prev : o->m_lastChild;
  CFgUIObj* c = start;
  do {
    if (Eligible(c)) return o->SetFocus(c);
    c = c->m_prev ? c->m_prev : o->m_lastChild;
  } while (c != start);
  if (focus && Eligible(focus)) return o->SetFocus(focus);
  return o->SetFocus(nullptr);
}

// ---------------------------------------------------------------------------------------
// CFgUICtrl
CFgUICtrl::CFgUICtrl() {
  static const double kDefaults[FgColorCount][3] = {
      {0, 0, 0},   {1, 1, 1},       {0.8, 0.95, 0.95}, {0, 0, 0},
      {0, 0, 0},   {0.9, 0.9, 0.9}, {0.8, 0.95, 0.95}, {0.7, 0.7, 0.7}};
  for (int i = 0; i < FgColorCount; ++i)
    for (int k = 0; k < 3; ++k) m_colors[i][k] = kDefaults[i][k];
}

CFgUICtrl::~CFgUICtrl() = default;
void CFgUICtrl::DrawBackground() {}
void CFgUICtrl::DrawOverlay() {}

void CFgUICtrl::OnEnableAll() {
  for (CFgUIObj* c = m_firstChild; c; c = c->m_next) {
    c->m_enabled = 1;
    c->OnEnable(1);
  }
}

void CFgUICtrl::SetColor(int index, double r, double g, double b) {
  if (index < 0 || index >= FgColorCount) return;
  m_colors[index][0] = r;
  m_colors[index][1] = g;
  m_colors[index][2] = b;
}

void CFgUICtrl::UseColor(int index) const {
  if (index < 0 || index >= FgColorCount) return;
  glColor3d(m_colors[index][0], m_colors[index][1], m_colors[index][2]);
}

void CFgUICtrl::AddChild(CFgUIObj* child) {
  if (!child || child->m_owner) return;  // added once only
  child->m_prev = m_lastChild;
  child->m_next = nullptr;
  if (m_lastChild)
    m_lastChild->m_next = child;
  else
    m_firstChild = child;
  m_lastChild = child;
  child->m_owner = this;
  child->OnAttach();
}

int32_t CFgUICtrl::SetFocus(CFgUIObj* child) {
  if (child && child->m_owner != this) return 0;
  if (child == m_focusChild) return 0;
  CFgUIObj* old = m_focusChild;
  if (old) {
    old->m_focused = 0;
    old->OnBlur(child);
  }
  m_focusChild = child;
  if (child) {
    child->m_focused = 1;
    child->OnFocus();
  }
  Redraw();
  return 1;
}

int32_t CFgUICtrl::FocusNext() {
  if (!m_firstChild) return SetFocus(nullptr);
  CFgUIObj* focus = m_focusChild;
  CFgUIObj* start = focus && focus->m_next ? focus->m_next : m_firstChild;
  CFgUIObj* c = start;
  do {
    if (Eligible(c)) return SetFocus(c);
    c = c->m_next ? c->m_next : m_firstChild;
  } while (c != start);
  if (focus && Eligible(focus)) return SetFocus(focus);
  return SetFocus(nullptr);
}

// Routing of one mouse event:
//   capture held            -> the capturing child, wherever the point is
//   topmost visible child
//   containing the point    -> that child when enabled; when disabled, no child (the event
//                              does not fall through to a child below it)
//   no target               -> hover cleared (mouse-leave), event dropped
//   left press              -> focus to a tab stop;  right / middle press -> focus always
//   target not hovered      -> old hover leaves, target enters
//   then the target's slot with widget-relative x, y
void CFgUICtrl::Route(MouseEvent event, int32_t x, int32_t y, int32_t notches) {
  CFgUIObj* target = m_captureChild;
  if (!target) {
    for (CFgUIObj* c = m_lastChild; c; c = c->m_prev) {
      if (c->m_visible && c->Contains(x, y)) {
        target = c->m_enabled ? c : nullptr;
        break;
      }
    }
  }
  if (!target) {
    if (CFgUIObj* old = m_hoverChild) {
      m_hoverChild = nullptr;
      old->OnMouseLeave();
    }
    return;
  }
  if ((event == MouseEvent::LDown && target->m_tabStop) || event == MouseEvent::RDown ||
      event == MouseEvent::MDown)
    SetFocus(target);
  if (target != m_hoverChild) {
    CFgUIObj* old = m_hoverChild;
    m_hoverChild = target;
    if (old) old->OnMouseLeave();
    target->OnMouseEnter();
  }
  int32_t rx = int32_t(int64_t(x) - target->m_x), ry = int32_t(int64_t(y) - target->m_y);
  switch (event) {
    case MouseEvent::Move: target->OnMouseMove(rx, ry); break;
    case MouseEvent::LDown: target->OnLButtonDown(rx, ry); break;
    case MouseEvent::LUp: target->OnLButtonUp(rx, ry); break;
    case MouseEvent::RDown: target->OnRButtonDown(rx, ry); break;
    case MouseEvent::RUp: target->OnRButtonUp(rx, ry); break;
    case MouseEvent::MDown: target->OnMButtonDown(rx, ry); break;
    case MouseEvent::MUp: target->OnMButtonUp(rx, ry); break;
    case MouseEvent::Wheel: target->OnMouseWheel(rx, ry, notches); break;
  }
}

void CFgUICtrl::OnMouseMove(int32_t x, int32_t y) { Route(MouseEvent::Move, x, y, 0); }
void CFgUICtrl::OnLButtonDown(int32_t x, int32_t y) { Route(MouseEvent::LDown, x, y, 0); }
void CFgUICtrl::OnLButtonUp(int32_t x, int32_t y) { Route(MouseEvent::LUp, x, y, 0); }
void CFgUICtrl::OnRButtonDown(int32_t x, int32_t y) { Route(MouseEvent::RDown, x, y, 0); }
void CFgUICtrl::OnRButtonUp(int32_t x, int32_t y) { Route(MouseEvent::RUp, x, y, 0); }
void CFgUICtrl::OnMButtonDown(int32_t x, int32_t y) { Route(MouseEvent::MDown, x, y, 0); }
void CFgUICtrl::OnMButtonUp(int32_t x, int32_t y) { Route(MouseEvent::MUp, x, y, 0); }
void CFgUICtrl::OnMouseWheel(int32_t x, int32_t y, int32_t notches) {
  Route(MouseEvent::Wheel, x, y, notches);
}

void CFgUICtrl::Redraw() {
  CFgScreen* s = m_screen;
  if (!s || !s->BeginDraw()) return;
  if (g_fontHooks.share && m_font) g_fontHooks.share(m_font);
  DrawBackground();
  for (CFgUIObj* c = m_firstChild; c; c = c->m_next)
    if (c->m_visible) c->Draw(s, m_font);
  DrawOverlay();
  if (g_fontHooks.share && m_font) g_fontHooks.share(m_font);
  s->EndDraw(1);
}

void CFgUICtrl::EnableAll(int32_t on) {
  on = on != 0;
  for (CFgUIObj* c = m_firstChild; c; c = c->m_next) {
    c->m_enabled = on;
    c->OnEnable(on);
    if (!on && m_focusChild == c) FocusNext();
  }
  if (on) OnEnableAll();
  // A dialog whose controls are all disabled refuses to be closed as well.
  if (m_screen) m_screen->m_closeAllowed = on;
  m_enabled = on;
  Redraw();
}

// ---------------------------------------------------------------------------------------
// CFgUIDialog
CFgUIDialog::CFgUIDialog() {
  m_screen = this;
  if (g_fontHooks.create) m_font = g_fontHooks.create(this);
}

CFgUIDialog::~CFgUIDialog() {
  {
    // Cleared inside the lock: a redraw on another thread reads m_font once it holds it.
    PlatformLockHold hold(FgDrawLock());
    if (m_font && g_fontHooks.destroy) g_fontHooks.destroy(m_font);
    m_font = nullptr;
  }
  Destroy();
}

void CFgUIDialog::OnMouseMove(int32_t x, int32_t y) { CFgUICtrl::OnMouseMove(x, y); }
void CFgUIDialog::OnLButtonDown(int32_t x, int32_t y) { CFgUICtrl::OnLButtonDown(x, y); }
void CFgUIDialog::OnLButtonUp(int32_t x, int32_t y) { CFgUICtrl::OnLButtonUp(x, y); }
void CFgUIDialog::OnRButtonDown(int32_t x, int32_t y) { CFgUICtrl::OnRButtonDown(x, y); }
void CFgUIDialog::OnRButtonUp(int32_t x, int32_t y) { CFgUICtrl::OnRButtonUp(x, y); }
void CFgUIDialog::OnMButtonDown(int32_t x, int32_t y) { CFgUICtrl::OnMButtonDown(x, y); }
void CFgUIDialog::OnMButtonUp(int32_t x, int32_t y) { CFgUICtrl::OnMButtonUp(x, y); }
void CFgUIDialog::OnMouseWheel(int32_t x, int32_t y, int32_t notches) {
  CFgUICtrl::OnMouseWheel(x, y, notches);
}

CFgUIObj* CFgUIDialog::KeyTarget() const {
  CFgUIObj* f = m_focusChild;
  return f && f->m_visible && f->m_enabled ? f : nullptr;
}

void CFgUIDialog::OnSpecialKeyDown(uint16_t code) {
  if (CFgUIObj* t = KeyTarget()) t->OnSpecialKeyDown(code);
}
void CFgUIDialog::OnSpecialKeyUp(uint16_t code) {
  if (CFgUIObj* t = KeyTarget()) t->OnSpecialKeyUp(code);
}
void CFgUIDialog::OnKeyStateChanged() {
  if (CFgUIObj* t = KeyTarget()) t->OnKeyStateChanged();
}
void CFgUIDialog::OnSpecialKeyRepeat() {
  if (CFgUIObj* t = KeyTarget()) t->OnSpecialKeyRepeat();
}
void CFgUIDialog::OnKeyDown(wchar_t ch) {
  if (CFgUIObj* t = KeyTarget()) t->OnKeyDown(ch);
}
void CFgUIDialog::OnKeyUp(wchar_t ch) {
  if (m_focusChild) {
    if (CFgUIObj* t = KeyTarget()) t->OnKeyUp(ch);
    return;
  }
  if (ch == 9) FocusNext();  // SetFocus redraws when a child got the focus
}
void CFgUIDialog::OnChar(wchar_t ch) {
  if (CFgUIObj* t = KeyTarget()) t->OnChar(ch);
}

int32_t CFgUIDialog::OnClose() { return 1; }
void CFgUIDialog::OnCreate() { Redraw(); }
void CFgUIDialog::OnExpose() { Redraw(); }

void CFgUIDialog::DrawBackground() {
  UseColor(FgColorFace);
  glBegin(GL_QUADS);
  glVertex2d(-1, -1);
  glVertex2d(1, -1);
  glVertex2d(1, 1);
  glVertex2d(-1, 1);
  glEnd();
}
