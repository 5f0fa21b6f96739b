// screen.cpp - screens, the draw lock, the window procedure and key translation, the
// message loops, the clipboard and two small helpers (NextPow2, WaitSignal).
// Inside: process-wide state - CFgInput - CFgScreen creation and destruction - drawing
// sections and coordinates - window procedure - key translation - loops - clipboard, helpers
#include "toolkit/screen.h"

#include <GL/gl.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <string>

// ---------------------------------------------------------------------------------------
// Process-wide state
namespace {

std::atomic<uint16_t> g_keyFlags{0};
FgDrawSurface g_surface;
CFgScreen* g_mainScreen = nullptr;

// Desktop sizes above this fail creation: no window system offers them.
constexpr uint64_t kMaxClientSide = 32767;

}  // namespace

int32_t QuitRequested = 0;

PlatformLock& FgDrawLock() {
  static PlatformLock* lock = new PlatformLock;  // never destroyed: the worker may outlive main
  return *lock;
}

FgDrawSurface FgGetDrawSurface() { return g_surface; }

void FgSetDrawSurface(int32_t kind, uint64_t width, uint64_t height) {
  g_surface.kind = kind;
  g_surface.width = width;
  g_surface.height = height;
}

CFgScreen* FgMainScreen() { return g_mainScreen; }

// ---------------------------------------------------------------------------------------
// CFgInput defaults
CFgInput::~CFgInput() = default;
void CFgInput::SetKeyFlags(uint16_t flags) { g_keyFlags.store(flags); }
uint16_t CFgInput::GetKeyFlags() { return g_keyFlags.load(); }
void CFgInput::OnMouseMove(int32_t, int32_t) {}
void CFgInput::OnLButtonDown(int32_t, int32_t) {}
void CFgInput::OnLButtonUp(int32_t, int32_t) {}
void CFgInput::OnRButtonDown(int32_t, int32_t) {}
void CFgInput::OnRButtonUp(int32_t, int32_t) {}
void CFgInput::OnMButtonDown(int32_t, int32_t) {}
void CFgInput::OnMButtonUp(int32_t, int32_t) {}
void CFgInput::OnMouseWheel(int32_t, int32_t, int32_t) {}
void CFgInput::OnSpecialKeyDown(uint16_t) {}
void CFgInput::OnSpecialKeyUp(uint16_t) {}
void CFgInput::OnKeyStateChanged() {}
void CFgInput::OnSpecialKeyRepeat() {}
void CFgInput::OnKeyDown(wchar_t) {}
void CFgInput::OnKeyUp(wchar_t) {}
void CFgInput::OnChar(wchar_t) {}

// ---------------------------------------------------------------------------------------
// CFgScreen creation and destruction
CFgScreen::CFgScreen() = default;

CFgScreen::~CFgScreen() {
  Destroy();
  if (g_mainScreen == this) g_mainScreen = nullptr;
}

int32_t CFgScreen::OnClose() { return 1; }
void CFgScreen::OnSize(uint64_t, uint64_t) {}
void CFgScreen::OnShow(int32_t) {}
void CFgScreen::OnCreate() {}
void CFgScreen::OnExpose() {}

int32_t CFgScreen::Create(int32_t x, int32_t y, uint64_t width, uint64_t height,
                          const wchar_t* title, int32_t style, CFgScreen* parent) {
  int bothDefault = x == -1 && y == -1;
  if (!bothDefault && (x < 0 || y < 0)) return 0;
  if (width == 0 || height == 0 || width > kMaxClientSide || height > kMaxClientSide) return 0;

  if (m_window && !title) {
    // Re-creation: the window stays, only the context is renewed.
    style = m_style;
    parent = m_parent;
    x = m_x;
    y = m_y;
    if (m_style != FgStyleResizable) {
      width = m_clientWidth;
      height = m_clientHeight;
    }
    PlatformLockHold hold(FgDrawLock());
    PlatDestroyGlContext(m_glContext);
    m_glContext = PlatCreateGlContext(m_window);
    if (!m_glContext) return 0;
  } else {
    if (style != FgStylePopup) {
      if (width < uint64_t(kPlatMinClientWidth)) width = kPlatMinClientWidth;
      if (height < uint64_t(kPlatMinClientHeight)) height = kPlatMinClientHeight;
    }
    if (parent && parent->m_window && (x < 0 || y < 0)) {
      x = int32_t((int64_t(parent->m_clientWidth) - int64_t(width)) / 2 + parent->m_x);
      y = int32_t((int64_t(parent->m_clientHeight) - int64_t(height)) / 2 + parent->m_y);
    }
    Destroy();
    PlatWindowDesc desc;
    desc.x = x;
    desc.y = y;
    desc.width = int32_t(width);
    desc.height = int32_t(height);
    desc.style = style == FgStyleResizable ? PlatStyleResizable
                 : style == FgStylePopup   ? PlatStylePopup
                                           : PlatStyleFixed;
    desc.owner = parent ? parent->m_window : nullptr;
    desc.title = title;
    desc.handler = FgScreenWndProc;
    desc.user = this;
    // Creation happens under the draw lock so no other thread draws into a half-made screen.
    PlatformLockHold hold(FgDrawLock());
    m_window = PlatCreateWindow(desc);
    if (!m_window) return 0;
    m_glContext = PlatCreateGlContext(m_window);
    if (!m_glContext) return 0;  // the window stays, as a failed pixel format leaves it
  }
  {
    PlatformLockHold hold(FgDrawLock());
    int32_t w = 0, h = 0;
    PlatGetClientSize(m_window, &w, &h);
    m_parent = parent;
    m_clientWidth = uint64_t(w);
    m_clientHeight = uint64_t(h);
    PlatGetClientOrigin(m_window, &m_x, &m_y);
    m_visible = 1;
    m_style = style;
    m_imeX = 0;
    m_imeY = 0;
    if (title) {
      // The field holds 257 units; a longer title is cut there.
      size_t n = wcslen(title);
      if (n > size_t(kFgTitleUnits - 1)) n = kFgTitleUnits - 1;
      wmemcpy(m_title, title, n);
      m_title[n] = 0;
      if (n != wcslen(title)) PlatSetWindowTitle(m_window, m_title);
    }
    ++m_contextGeneration;
  }
  PlatShowWindow(m_window, 1);
  {
    // The server may place or size the window otherwise than asked.
    PlatformLockHold hold(FgDrawLock());
    int32_t w = 0, h = 0;
    PlatGetClientSize(m_window, &w, &h);
    m_clientWidth = uint64_t(w);
    m_clientHeight = uint64_t(h);
    PlatGetClientOrigin(m_window, &m_x, &m_y);
  }
  m_contextLostWhileHidden = 0;
  OnCreate();
  return 1;
}

void CFgScreen::Destroy() {
  if (!m_window && !m_glContext) return;
  PlatWindow* window = nullptr;
  {
    PlatformLockHold hold(FgDrawLock());
    if (m_drawNesting > 0) {
      // A section of this thread is still open (another thread's would have kept us out of
      // the lock): end it, or the lock it holds would never be left.
      PlatMakeCurrent(nullptr, nullptr);
      FgSetDrawSurface(0, 0, 0);
      m_drawNesting = 0;
      FgDrawLock().Leave();
    }
    PlatDestroyGlContext(m_glContext);
    m_glContext = nullptr;
    window = m_window;
    m_clientWidth = 0;
    m_clientHeight = 0;
    m_style = 0;
    m_title[0] = 0;
    m_visible = 0;
  }
  // The destroy message reaches FgScreenWndProc from inside this call (m_window still set
  // so the handler sees the screen as it was).
  // Under the draw lock as well: drawing threads read m_window while holding it.
  PlatformLockHold hold(FgDrawLock());
  PlatDestroyWindow(window);
  m_window = nullptr;
}

int32_t CFgScreen::ShowWindow(int32_t show) {
  if (!m_window) return 0;
  int32_t r = PlatShowWindow(m_window, show);
  if (show && r) {
    PlatformLockHold hold(FgDrawLock());
    PlatGetClientOrigin(m_window, &m_x, &m_y);
  }
  return r;
}

int32_t CFgScreen::SetTitle(const wchar_t* title) {
  if (!title) title = L"";
  size_t n = wcslen(title);
  if (n > size_t(kFgTitleUnits - 1)) n = kFgTitleUnits - 1;
  wmemcpy(m_title, title, n);
  m_title[n] = 0;
  return m_window ? PlatSetWindowTitle(m_window, m_title) : 0;
}

int32_t CFgScreen::CaptureMouse() { return m_window ? PlatCaptureMouse(m_window) : 0; }
void CFgScreen::ReleaseMouse() { PlatReleaseMouse(); }

// ---------------------------------------------------------------------------------------
// Drawing sections and coordinates
int32_t CFgScreen::BeginDraw() {
  PlatformLock& lock = FgDrawLock();
  lock.Enter();
  if (!m_window || !m_glContext) {
    lock.Leave();
    return 0;
  }
  if (m_drawNesting == 0) {
    if (!PlatMakeCurrent(m_window, m_glContext)) {
      lock.Leave();
      return 0;
    }
    m_drawNesting = 1;
    glViewport(0, 0, GLsizei(m_clientWidth), GLsizei(m_clientHeight));
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    FgSetDrawSurface(1, m_clientWidth, m_clientHeight);
    return 1;  // the lock stays held until the outermost EndDraw
  }
  if (m_drawNesting != UINT64_MAX) ++m_drawNesting;
  lock.Leave();
  return 1;
}

void CFgScreen::EndDraw(int32_t swap) {
  PlatformLock& lock = FgDrawLock();
  lock.Enter();
  if (m_drawNesting == 0) {
    lock.Leave();
    return;
  }
  if (m_drawNesting > 1) {
    --m_drawNesting;  // only the outermost end swaps
    lock.Leave();
    return;
  }
  if (swap && m_window && m_glContext) PlatSwapBuffers(m_window);
  PlatMakeCurrent(nullptr, nullptr);
  m_drawNesting = 0;
  FgSetDrawSurface(0, 0, 0);
  lock.Leave();
  lock.Leave();  // the hold of the outermost BeginDraw
}

double CFgScreen::PixelToGlX(double x) const {
  double w = double(m_renderTargetWidth ? m_renderTargetWidth : m_clientWidth);
  if (w <= 0) return 0;
  return (x - w / 2) / (w / 2) + 1 / w;  // centre of the pixel column
}

double CFgScreen::PixelToGlY(double y) const {
  double h = double(m_renderTargetHeight ? m_renderTargetHeight : m_clientHeight);
  if (h <= 0) return 0;
  // A quarter of a pixel below the top edge of row y (0.5 / h, not 1 / h).
  return ((h - y) - h / 2) / (h / 2) - 0.5 / h;
}

int32_t CFgScreen::SetClipRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  glClearStencil(1);
  glClear(GL_STENCIL_BUFFER_BIT);
  glEnable(GL_STENCIL_TEST);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glDepthMask(GL_FALSE);
  glStencilFunc(GL_ALWAYS, 0, 0xFF);
  glStencilOp(GL_REPLACE, GL_REPLACE, GL_REPLACE);
  glBegin(GL_QUADS);
  glVertex2d(PixelToGlX(x0), PixelToGlY(y0));
  glVertex2d(PixelToGlX(double(x1) + 1), PixelToGlY(y0));
  glVertex2d(PixelToGlX(double(x1) + 1), PixelToGlY(double(y1) + 1));
  glVertex2d(PixelToGlX(x0), PixelToGlY(double(y1) + 1));
  glEnd();
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glDepthMask(GL_TRUE);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  glStencilFunc(GL_EQUAL, 0, 0xFF);
  return 1;
}

int32_t CFgScreen::SetImePoint(int32_t x, int32_t y) {
  if (x < 0 || y < 0) return 0;
  m_imeX = x;
  m_imeY = y;
  if (m_window) PlatSetImeSpot(m_window, x, y);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Window procedure
namespace {

// Key number, flag bit, special-key code of the six keys that keep a flag.
struct SpecialKey {
  uint16_t key, flag, code;
};
constexpr SpecialKey kSpecialKeys[] = {
    {16, FgKeyShift, FgSpecialShift}, {17, FgKeyCtrl, FgSpecialCtrl},
    {37, FgKeyLeft, FgSpecialLeft},   {39, FgKeyRight, FgSpecialRight},
    {38, FgKeyUp, FgSpecialUp},       {40, FgKeyDown, FgSpecialDown}};

const SpecialKey* FindSpecial(uint16_t key) {
  for (const SpecialKey& s : kSpecialKeys)
    if (s.key == key) return &s;
  return nullptr;
}

constexpr uint16_t kKeyCapsLock = 20, kKeyImeProcess = 229, kKeyDelete = 46, kKeyEnter = 13;

// Key down, by key:
//   CapsLock / IME process: flag bit 64 follows the keyboard's lock; on a change
//                           special down 0 + state changed, else nothing
//   Shift Ctrl arrows:      bit clear: set it, special down + state changed;
//                           bit set (auto-repeat): special repeat only
//   Delete:                 key down (first press only), then char 127 on every press
//   other (Enter as 10):    key down unless it equals the last key (repeat suppressed)
void KeyDown(CFgScreen* s, const PlatMsg& msg) {
  uint16_t key = msg.key;
  if (key == kKeyCapsLock || key == kKeyImeProcess) {
    uint16_t flags = s->GetKeyFlags();
    int locked = msg.lockState != 0;
    if (((flags & FgKeyCapsLock) != 0) != locked) {
      s->SetKeyFlags(locked ? uint16_t(flags | FgKeyCapsLock) : uint16_t(flags & ~FgKeyCapsLock));
      s->OnSpecialKeyDown(FgSpecialCapsLock);
      s->OnKeyStateChanged();
    }
    return;
  }
  if (const SpecialKey* sk = FindSpecial(key)) {
    uint16_t flags = s->GetKeyFlags();
    if (!(flags & sk->flag)) {
      s->SetKeyFlags(uint16_t(flags | sk->flag));
      s->OnSpecialKeyDown(sk->code);
      s->OnKeyStateChanged();
    } else {
      s->OnSpecialKeyRepeat();
    }
    return;
  }
  if (key == kKeyDelete) {
    if (s->m_lastKey != kKeyDelete) {
      s->m_lastKey = kKeyDelete;
      s->OnKeyDown(s->TranslateKey(kKeyDelete));
    }
    s->OnChar(127);
    return;
  }
  if (key == kKeyEnter) key = 10;
  if (key == s->m_lastKey) return;
  s->m_lastKey = key;
  s->OnKeyDown(s->TranslateKey(key));
}

// Key up: CapsLock / IME process nothing; the six flag keys clear their bit (special up +
// state changed) when set; any other key clears last key and character, then key up.
void KeyUp(CFgScreen* s, const PlatMsg& msg) {
  uint16_t key = msg.key;
  if (key == kKeyCapsLock || key == kKeyImeProcess) return;
  if (const SpecialKey* sk = FindSpecial(key)) {
    uint16_t flags = s->GetKeyFlags();
    if (flags & sk->flag) {
      s->SetKeyFlags(uint16_t(flags & ~sk->flag));
      s->OnSpecialKeyUp(sk->code);
      s->OnKeyStateChanged();
    }
    return;
  }
  s->m_lastKey = 0;
  s->m_lastChar = 0;
  if (key == kKeyEnter) key = 10;
  s->OnKeyUp(s->TranslateKey(key));
}

// Character: while a character key repeats (last character set) key up and key down of
// the last key come first, so a held key reads down, char, (up, down, char)...
void Char(CFgScreen* s, const PlatMsg& msg) {
  wchar_t ch = wchar_t(msg.ch == 13 ? 10 : msg.ch);
  if (s->m_lastChar) {
    s->OnKeyUp(s->TranslateKey(s->m_lastKey));
    s->OnKeyDown(s->TranslateKey(s->m_lastKey));
  }
  s->OnChar(ch);
  s->m_lastChar = ch;
}

void Show(CFgScreen* s, int32_t shown) {
  if (s->m_showGuard) return;
  s->OnShow(shown);
  s->m_visible = shown;
  if (!s->m_glContext) return;
  if (!shown) {
    s->m_contextLostWhileHidden = 1;
  } else if (s->m_contextLostWhileHidden) {
    ++s->m_showGuard;
    s->Create(-1, -1, s->m_clientWidth, s->m_clientHeight, nullptr, 0, nullptr);
    --s->m_showGuard;
  }
}

}  // namespace

void FgScreenWndProc(PlatWindow* window, const PlatMsg& msg) {
  CFgScreen* s = static_cast<CFgScreen*>(PlatGetWindowUser(window));
  if (!s) return;
  switch (msg.kind) {
    case PlatMsgMouseMove: s->OnMouseMove(msg.x, msg.y); break;
    case PlatMsgLButtonDown: s->OnLButtonDown(msg.x, msg.y); break;
    case PlatMsgLButtonUp: s->OnLButtonUp(msg.x, msg.y); break;
    case PlatMsgRButtonDown: s->OnRButtonDown(msg.x, msg.y); break;
    case PlatMsgRButtonUp: s->OnRButtonUp(msg.x, msg.y); break;
    case PlatMsgMButtonDown: s->OnMButtonDown(msg.x, msg.y); break;
    case PlatMsgMButtonUp: s->OnMButtonUp(msg.x, msg.y); break;
    case PlatMsgWheel:
      // Desktop position made client-relative; a notch away from the user is -1, and a
      // partial delta truncates toward zero (60 gives 0).
      s->OnMouseWheel(msg.x - s->m_x, msg.y - s->m_y, -int32_t(int16_t(msg.wheelDelta)) / 120);
      break;
    case PlatMsgClose:
      if (!s->m_closeAllowed) break;
      if (s->OnClose()) s->Destroy();
      break;
    case PlatMsgDestroy:
      if (s == g_mainScreen) PlatPostQuit();
      break;
    case PlatMsgMove:
      s->m_x = msg.x;
      s->m_y = msg.y;
      break;
    case PlatMsgSize:
      if (msg.x <= 0 || msg.y <= 0) break;
      {
        PlatformLockHold hold(FgDrawLock());
        s->m_clientWidth = uint64_t(msg.x);
        s->m_clientHeight = uint64_t(msg.y);
      }
      s->Create(-1, -1, uint64_t(msg.x), uint64_t(msg.y), nullptr, 0, nullptr);
      s->OnSize(uint64_t(msg.x), uint64_t(msg.y));
      break;
    case PlatMsgShow: Show(s, msg.shown); break;
    case PlatMsgExpose: s->OnExpose(); break;
    case PlatMsgImeStart:
      if (s->m_imeX >= 0) PlatSetImeSpot(window, s->m_imeX, s->m_imeY);
      break;
    case PlatMsgKeyDown: KeyDown(s, msg); break;
    case PlatMsgKeyUp: KeyUp(s, msg); break;
    case PlatMsgChar: Char(s, msg); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------
// Key translation for the JIS layout
wchar_t CFgScreen::TranslateKey(uint16_t key) {
  uint16_t flags = GetKeyFlags();
  int shift = (flags & FgKeyShift) != 0;
  if (key >= 65 && key <= 90) {
    int upper = shift != ((flags & FgKeyCapsLock) != 0);
    return wchar_t(upper ? key : key + 32);
  }
  if (key < 49 || key > 226) return wchar_t(key);
  if (key <= 57) return wchar_t(shift ? key - 16 : key);  // "!" ... ")" over 1 ... 9
  struct Pair {
    uint16_t key;
    wchar_t plain, shifted;
  };
  static const Pair kPairs[] = {{186, L':', L'*'},  {187, L';', L'+'}, {188, L',', L'<'},
                                {189, L'-', L'='},  {190, L'.', L'>'}, {191, L'/', L'?'},
                                {192, L'@', L'`'},  {219, L'[', L'{'}, {220, L'\\', L'|'},
                                {221, L']', L'}'},  {222, L'^', L'~'}, {226, L'\\', L'_'}};
  for (const Pair& p : kPairs)
    if (p.key == key) return shift ? p.shifted : p.plain;
  return wchar_t(key);
}

// ---------------------------------------------------------------------------------------
// Message loops
int32_t FgPumpMessages() {
  PlatMsg msg;
  while (PlatPeekMessage(&msg)) {
    if (msg.kind == PlatMsgQuit) {
      QuitRequested = 1;
      return 0;
    }
    PlatDispatchMessage(msg);
  }
  return 1;
}

void FgRunMessageLoop(CFgScreen* mainScreen) {
  g_mainScreen = mainScreen;
  if (QuitRequested) return;
  PlatMsg msg;
  while (PlatGetMessage(&msg)) {
    if (msg.kind == PlatMsgQuit) break;
    PlatDispatchMessage(msg);
    if (QuitRequested) break;
  }
}

void FgRunModal(int32_t* done, CFgScreen* modal) {
  if (!done) {
    FgRunMessageLoop(g_mainScreen);
    return;
  }
  *done = 0;
  // The modal window takes the keyboard: without a window manager nobody else hands it over,
  // and a menu that opened it has just given the focus back to its owner, whose keys are
  // dropped below.
  if (modal && modal->m_window) PlatFocusWindow(modal->m_window);
  PlatMsg msg;
  while (PlatGetMessage(&msg)) {
    if (msg.kind == PlatMsgQuit) break;
    // Input for other windows is dropped; their repaints, moves and closes still run.
    if (modal && PlatIsInputMsg(msg.kind) && msg.window != modal->m_window) continue;
    PlatDispatchMessage(msg);
    if (*done) return;
  }
  QuitRequested = 1;
}

// ---------------------------------------------------------------------------------------
// Clipboard and helpers
uint64_t GetClipboardText(wchar_t* buffer, uint64_t capacity) {
  std::wstring text;
  if (!PlatClipboardGetText(&text)) return 0;
  std::wstring clean;
  clean.reserve(text.size());
  for (wchar_t c : text)
    if (c != 13) clean += c;
  uint64_t need = uint64_t(clean.size()) + 1;
  if (buffer && capacity > 0) {
    // Never more than the buffer holds, terminator included.
    uint64_t n = clean.size() < capacity - 1 ? clean.size() : capacity - 1;
    wmemcpy(buffer, clean.data(), size_t(n));
    buffer[n] = 0;
  }
  return need;
}

int32_t SetClipboardText(const wchar_t* text) { return PlatClipboardSetText(text); }

uint64_t NextPow2(uint64_t n) {
  if (n == 0) return 0;
  if (n > (uint64_t(1) << 63)) return 0;  // no 64-bit power of two is that large
  uint64_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

int32_t WaitSignal(PlatformEvent* toSet, PlatformEvent* waitFor, PlatformLock* lock) {
  if (!waitFor) return 0;
  waitFor->Reset();
  if (lock) lock->Leave();
  // Auto-reset events keep a signal until it is taken, so setting one and then waiting
  // loses nothing against a single atomic step.
  if (toSet) toSet->Set();
  return waitFor->Wait(PlatformInfinite);
}
