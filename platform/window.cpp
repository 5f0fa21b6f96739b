// window.cpp - the window layer over Xlib: connection, windows, the message queue and
// loop, keyboard translation to the toolkit's key codes, mouse capture, input method.
// Inside: connection - registry and queues - windows - key codes - event conversion -
// message loop - capture, input method, test hook
#include "platform/x11_private.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

// ---------------------------------------------------------------------------------------
// Connection
namespace {

struct QueuedMsg {
  PlatMsg msg;
  uint64_t windowId = 0;  // 0: a thread message
};

struct LayerState {
  std::mutex initMutex;
  int initDone = 0;
  int headless = 0;
  Display* dpy = nullptr;
  int screen = 0;
  int wakeFd = -1;
  XIM im = nullptr;
  Atom wmProtocols = 0, wmDelete = 0, netWmName = 0, utf8String = 0;

  std::mutex queueMutex;
  std::deque<QueuedMsg> posted;           // any thread
  std::deque<QueuedMsg> fromServer;       // UI thread only
  std::unordered_map<uint64_t, PlatWindow*> byId;
  std::unordered_map<Window, PlatWindow*> byXid;
  uint64_t nextId = 1;
  PlatWindow* grabWindow = nullptr;
};

LayerState& State() {
  static LayerState* state = new LayerState;  // never destroyed: threads may outlive main
  return *state;
}

int OpenInputMethod(LayerState& s) {
  // Xlib picks the input method from XMODIFIERS; when that server is not running (as under
  // Xvfb) XOpenIM fails, and "@im=none" still gives the local method (compose keys, UTF-8).
  // XOpenIM needs a locale Xlib supports; the program keeps the "C" locale, so a UTF-8
  // one is chosen just for the opening and the method stays bound to it.
  std::string saved = setlocale(LC_CTYPE, nullptr) ? setlocale(LC_CTYPE, nullptr) : "C";
  int switched = 0;
  if (saved == "C" || saved == "POSIX") {
    if (setlocale(LC_CTYPE, "C.UTF-8") || setlocale(LC_CTYPE, "C.utf8")) switched = 1;
  }
  if (XSupportsLocale()) {
    XSetLocaleModifiers("");
    s.im = XOpenIM(s.dpy, nullptr, nullptr, nullptr);
    if (!s.im) {
      XSetLocaleModifiers("@im=none");
      s.im = XOpenIM(s.dpy, nullptr, nullptr, nullptr);
    }
  }
  if (switched) setlocale(LC_CTYPE, saved.c_str());
  return s.im != nullptr;
}

// Xlib's own handler ends the process on any protocol error. Errors here come from
// requests about windows that other programs own and may have closed meanwhile (the
// requestor of a clipboard transfer, a focus target being unmapped): the request is lost,
// the program goes on.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

void PlatTestSetHeadless(int headless) {
  LayerState& s = State();
  std::lock_guard<std::mutex> hold(s.initMutex);
  if (!s.initDone) s.headless = headless ? 1 : 0;
}

int PlatIsHeadless() { return State().headless; }

int PlatInit() {
  LayerState& s = State();
  std::lock_guard<std::mutex> hold(s.initMutex);
  if (s.initDone) return s.headless || s.dpy != nullptr;
  s.initDone = 1;
  s.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s.headless) return 1;
  // The filter worker draws through GLX on the same connection as the UI thread.
  XInitThreads();
  s.dpy = XOpenDisplay(nullptr);
  if (!s.dpy) return 0;
  XSetErrorHandler(IgnoreXError);
  s.screen = DefaultScreen(s.dpy);
  s.wmProtocols = XInternAtom(s.dpy, "WM_PROTOCOLS", False);
  s.wmDelete = XInternAtom(s.dpy, "WM_DELETE_WINDOW", False);
  s.netWmName = XInternAtom(s.dpy, "_NET_WM_NAME", False);
  s.utf8String = XInternAtom(s.dpy, "UTF8_STRING", False);
  // A held key repeats key presses only; no release between them.
  Bool supported = False;
  XkbSetDetectableAutoRepeat(s.dpy, True, &supported);
  OpenInputMethod(s);
  return 1;
}

int PlatHasDisplay() { return PlatInit() && State().dpy != nullptr; }

namespace platx {

Display* Dpy() { return State().dpy; }
int ScreenNumber() { return State().screen; }
Window Root() { return RootWindow(State().dpy, State().screen); }
Atom GetAtom(const char* name) { return XInternAtom(State().dpy, name, False); }

void WakeLoop() {
  int fd = State().wakeFd;
  if (fd < 0) return;
  uint64_t one = 1;
  ssize_t r = write(fd, &one, sizeof one);
  (void)r;
}

void WakeIfQueued() {
  Display* dpy = State().dpy;
  if (dpy && XEventsQueued(dpy, QueuedAfterReading) > 0) WakeLoop();
}

int WaitForWindowEvent(Window window, int type, XEvent* outEvent, int milliseconds) {
  Display* dpy = State().dpy;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (XCheckTypedWindowEvent(dpy, window, type, outEvent)) return 1;
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return 0;
    XFlush(dpy);
    // Short slices: another thread's GLX round trip may have read the event already.
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    poll(&p, 1, 5);
  }
}

std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) {
    uint32_t c = uint32_t(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const char* text, size_t bytes) {
  std::wstring out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < bytes) {
    uint32_t c = p[i];
    if (c < 0x80) {
      out += wchar_t(c);
      ++i;
      continue;
    }
    size_t extra = 0;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      c &= 0x07;
    }
    size_t k = 1;
    if (extra && extra < bytes - i) {
      for (; k <= extra && (p[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (p[i + k] & 0x3F);
    }
    if (!extra || k <= extra) {
      out += wchar_t(0xFFFD);  // stray, broken or truncated sequence
      i += k;
      continue;
    }
    out += wchar_t(c);
    i += extra + 1;
  }
  return out;
}

}  // namespace platx

// ---------------------------------------------------------------------------------------
// Registry and queues
namespace {

PlatWindow* FindById(LayerState& s, uint64_t id) {
  auto it = s.byId.find(id);
  return it == s.byId.end() ? nullptr : it->second;
}

PlatWindow* FindByXid(LayerState& s, Window w) {
  auto it = s.byXid.find(w);
  return it == s.byXid.end() ? nullptr : it->second;
}

void PushServerMsg(LayerState& s, PlatWindow* w, PlatMsg msg) {
  msg.window = w;
  s.fromServer.push_back(QueuedMsg{msg, w->id});
}

}  // namespace

int PlatIsInputMsg(int kind) {
  switch (kind) {
    case PlatMsgMouseMove: case PlatMsgLButtonDown: case PlatMsgLButtonUp:
    case PlatMsgRButtonDown: case PlatMsgRButtonUp: case PlatMsgMButtonDown:
    case PlatMsgMButtonUp: case PlatMsgWheel: case PlatMsgKeyDown: case PlatMsgKeyUp:
    case PlatMsgChar:
      return 1;
    default:
      return 0;
  }
}

void PlatPostMessage(const PlatMsg& msg) {
  LayerState& s = State();
  PlatInit();
  {
    std::lock_guard<std::mutex> hold(s.queueMutex);
    s.posted.push_back(QueuedMsg{msg, msg.window ? msg.window->id : 0});
  }
  platx::WakeLoop();
}

void PlatPostQuit() {
  PlatMsg msg;
  msg.kind = PlatMsgQuit;
  PlatPostMessage(msg);
}

// ---------------------------------------------------------------------------------------
// Windows
namespace {

void SetSizeHints(Display* dpy, PlatWindow* w, int explicitPosition) {
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = 0;
  if (explicitPosition) {
    hints->flags |= USPosition | PPosition;
    hints->x = w->originX;
    hints->y = w->originY;
  }
  if (w->style == PlatStyleFixed) {
    hints->flags |= PMinSize | PMaxSize;
    hints->min_width = hints->max_width = w->width;
    hints->min_height = hints->max_height = w->height;
  } else {
    hints->flags |= PMinSize;
    hints->min_width = kPlatMinClientWidth;
    hints->min_height = kPlatMinClientHeight;
  }
  XSetWMNormalHints(dpy, w->xwin, hints);
  XFree(hints);
}

void CreateInputContext(LayerState& s, PlatWindow* w) {
  if (!s.im) return;
  XIMStyles* styles = nullptr;
  if (XGetIMValues(s.im, XNQueryInputStyle, &styles, nullptr) || !styles) return;
  XIMStyle chosen = 0;
  const XIMStyle wanted[] = {XIMPreeditPosition | XIMStatusNothing,
                             XIMPreeditNothing | XIMStatusNothing,
                             XIMPreeditNone | XIMStatusNone};
  for (XIMStyle want : wanted) {
    for (unsigned i = 0; i < styles->count_styles && !chosen; ++i)
      if (styles->supported_styles[i] == want) chosen = want;
    if (chosen) break;
  }
  XFree(styles);
  if (!chosen) return;
  if (chosen & XIMPreeditPosition) {
    XPoint spot{0, 0};
    XVaNestedList preedit = XVaCreateNestedList(0, XNSpotLocation, &spot, nullptr);
    w->xic = XCreateIC(s.im, XNInputStyle, chosen, XNClientWindow, w->xwin, XNFocusWindow,
                       w->xwin, XNPreeditAttributes, preedit, nullptr);
    XFree(preedit);
    w->imePosition = w->xic != nullptr;
  } else {
    w->xic = XCreateIC(s.im, XNInputStyle, chosen, XNClientWindow, w->xwin, XNFocusWindow,
                       w->xwin, nullptr);
  }
  if (w->xic) {
    long filter = 0;
    if (!XGetICValues(w->xic, XNFilterEvents, &filter, nullptr) && filter) {
      XWindowAttributes attrs;
      XGetWindowAttributes(s.dpy, w->xwin, &attrs);
      XSelectInput(s.dpy, w->xwin, attrs.your_event_mask | filter);
    }
  }
}

void QueryOrigin(Display* dpy, PlatWindow* w) {
  int x = 0, y = 0;
  Window child = 0;
  if (XTranslateCoordinates(dpy, w->xwin, RootWindow(dpy, State().screen), 0, 0, &x, &y,
                            &child)) {
    w->originX = x;
    w->originY = y;
  }
}

}  // namespace

PlatWindow* PlatCreateWindow(const PlatWindowDesc& desc) {
  if (!PlatInit() || desc.width <= 0 || desc.height <= 0) return nullptr;
  LayerState& s = State();
  PlatWindow* w = new PlatWindow;
  w->handler = desc.handler;
  w->user = desc.user;
  w->style = desc.style;
  w->width = desc.width;
  w->height = desc.height;
  int explicitPosition = !(desc.x == -1 && desc.y == -1);
  if (s.headless) {
    w->originX = explicitPosition ? desc.x : 0;
    w->originY = explicitPosition ? desc.y : 0;
  } else {
    Display* dpy = s.dpy;
    XVisualInfo* vi = platx::GlVisual();
    if (!vi) {
      delete w;
      return nullptr;
    }
    Window root = RootWindow(dpy, s.screen);
    if (explicitPosition) {
      w->originX = desc.x;
      w->originY = desc.y;
    } else {
      // Centred on the desktop: where users expect a first window without a parent.
      w->originX = (DisplayWidth(dpy, s.screen) - desc.width) / 2;
      w->originY = (DisplayHeight(dpy, s.screen) - desc.height) / 2;
      if (w->originX < 0) w->originX = 0;
      if (w->originY < 0) w->originY = 0;
    }
    XSetWindowAttributes swa;
    std::memset(&swa, 0, sizeof swa);
    w->colormap = XCreateColormap(dpy, root, vi->visual, AllocNone);
    swa.colormap = w->colormap;
    swa.border_pixel = 0;
    swa.background_pixmap = 0;  // no background: the window is always drawn whole
    swa.override_redirect = desc.style == PlatStylePopup ? True : False;
    swa.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                     ButtonReleaseMask | PointerMotionMask | StructureNotifyMask |
                     FocusChangeMask;
    w->xwin = XCreateWindow(dpy, root, w->originX, w->originY, unsigned(desc.width),
                            unsigned(desc.height), 0, vi->depth, InputOutput, vi->visual,
                            CWColormap | CWBorderPixel | CWBackPixmap | CWOverrideRedirect |
                                CWEventMask,
                            &swa);
    if (!w->xwin) {
      XFreeColormap(dpy, w->colormap);
      delete w;
      return nullptr;
    }
    SetSizeHints(dpy, w, explicitPosition);
    XSetWMProtocols(dpy, w->xwin, &s.wmDelete, 1);
    // Whose window this is, for window managers and for tests that look for a program's
    // own window among others of the same title.
    const long pid = long(getpid());
    XChangeProperty(dpy, w->xwin, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    if (desc.owner && desc.owner->xwin) XSetTransientForHint(dpy, w->xwin, desc.owner->xwin);
    CreateInputContext(s, w);
  }
  {
    std::lock_guard<std::mutex> hold(s.queueMutex);
    w->id = s.nextId++;
    s.byId[w->id] = w;
    if (w->xwin) s.byXid[w->xwin] = w;
  }
  if (desc.title) PlatSetWindowTitle(w, desc.title);
  return w;
}

void PlatDestroyWindow(PlatWindow* w) {
  if (!w) return;
  LayerState& s = State();
  if (w->handler) {
    PlatMsg msg;
    msg.kind = PlatMsgDestroy;
    msg.window = w;
    w->handler(w, msg);
  }
  {
    std::lock_guard<std::mutex> hold(s.queueMutex);
    s.byId.erase(w->id);
    if (w->xwin) s.byXid.erase(w->xwin);
  }
  if (s.grabWindow == w) PlatReleaseMouse();
  if (s.dpy && w->xwin) {
    if (w->xic) XDestroyIC(w->xic);
    XDestroyWindow(s.dpy, w->xwin);
    XFreeColormap(s.dpy, w->colormap);
    XFlush(s.dpy);
  }
  delete w;
}

int PlatShowWindow(PlatWindow* w, int show) {
  if (!w) return 0;
  LayerState& s = State();
  show = show ? 1 : 0;
  // No show message when nothing changes: the handlers lay out and redraw on every one, and
  // callers show or hide without asking first.
  // The state changes before the message so that a handler showing the window again
  // from inside it does not recurse.
  if (w->shown == show) return 1;
  w->shown = show;
  if (w->handler) {
    PlatMsg msg;
    msg.kind = PlatMsgShow;
    msg.window = w;
    msg.shown = show;
    w->handler(w, msg);
  }
  if (!s.dpy || !w->xwin) {
    w->mapped = show;
    return 1;
  }
  if (show) {
    if (w->mapped) return 1;
    XMapRaised(s.dpy, w->xwin);
    XEvent ev;
    // Drawing before the map is done would go nowhere; wait for it, bounded.
    if (platx::WaitForWindowEvent(w->xwin, MapNotify, &ev, 3000)) w->mapped = 1;
    XWindowAttributes attrs;
    if (XGetWindowAttributes(s.dpy, w->xwin, &attrs)) {
      w->width = attrs.width;
      w->height = attrs.height;
    }
    QueryOrigin(s.dpy, w);
    if (w->style == PlatStylePopup && w->mapped) {
      // Not managed: nobody else gives an override-redirect window the keyboard.
      XSetInputFocus(s.dpy, w->xwin, RevertToParent, CurrentTime);
    }
    XFlush(s.dpy);
    return w->mapped;
  }
  if (!w->mapped) return 1;
  if (w->style == PlatStylePopup)
    XUnmapWindow(s.dpy, w->xwin);
  else
    XWithdrawWindow(s.dpy, w->xwin, s.screen);
  w->mapped = 0;
  XFlush(s.dpy);
  return 1;
}

void* PlatGetWindowUser(PlatWindow* w) { return w ? w->user : nullptr; }
void PlatSetWindowUser(PlatWindow* w, void* user) {
  if (w) w->user = user;
}

int PlatSetWindowTitle(PlatWindow* w, const wchar_t* title) {
  if (!w) return 0;
  LayerState& s = State();
  if (!s.dpy || !w->xwin) return 1;
  std::string utf8 = platx::WideToUtf8(title ? title : L"");
  XChangeProperty(s.dpy, w->xwin, s.netWmName, s.utf8String, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(utf8.data()), int(utf8.size()));
  // WM_NAME for managers that do not read the UTF-8 name: Latin-1 where it fits, else
  // compound text.
  char* list[1] = {const_cast<char*>(utf8.c_str())};
  XTextProperty prop;
  if (Xutf8TextListToTextProperty(s.dpy, list, 1, XStdICCTextStyle, &prop) >= 0) {
    XSetWMName(s.dpy, w->xwin, &prop);
    XFree(prop.value);
  }
  XFlush(s.dpy);
  return 1;
}

void PlatGetClientSize(PlatWindow* w, int32_t* outWidth, int32_t* outHeight) {
  if (outWidth) *outWidth = w ? w->width : 0;
  if (outHeight) *outHeight = w ? w->height : 0;
}

void PlatGetClientOrigin(PlatWindow* w, int32_t* outX, int32_t* outY) {
  if (outX) *outX = w ? w->originX : 0;
  if (outY) *outY = w ? w->originY : 0;
}

int PlatIsWindowMapped(PlatWindow* w) { return w ? w->mapped : 0; }

uint64_t PlatTestSwapCount(PlatWindow* w) { return w ? w->swaps.load() : 0; }

namespace {
// Waits for messages that ended by their time limit (PlatTestWaitTimeouts).
std::atomic<uint64_t> g_waitTimeouts{0};
}  // namespace

uint64_t PlatTestWaitTimeouts() { return g_waitTimeouts.load(); }

// ---------------------------------------------------------------------------------------
// Key codes: the toolkit's key numbers for the keysym on a key's first level.
namespace {

uint16_t KeysymToKey(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return uint16_t(sym - XK_a + 65);
  if (sym >= XK_A && sym <= XK_Z) return uint16_t(sym - XK_A + 65);
  if (sym >= XK_0 && sym <= XK_9) return uint16_t(sym - XK_0 + 48);
  if (sym >= XK_F1 && sym <= XK_F24) return uint16_t(sym - XK_F1 + 112);
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return uint16_t(sym - XK_KP_0 + 96);
  switch (sym) {
    case XK_BackSpace: return 8;
    case XK_Tab: case XK_ISO_Left_Tab: return 9;
    case XK_Return: case XK_KP_Enter: return 13;
    case XK_Shift_L: case XK_Shift_R: return 16;
    case XK_Control_L: case XK_Control_R: return 17;
    case XK_Alt_L: case XK_Alt_R: return 18;
    case XK_Pause: return 19;
    case XK_Caps_Lock: return 20;
    case XK_Escape: return 27;
    case XK_space: return 32;
    case XK_Prior: case XK_KP_Prior: return 33;
    case XK_Next: case XK_KP_Next: return 34;
    case XK_End: case XK_KP_End: return 35;
    case XK_Home: case XK_KP_Home: return 36;
    case XK_Left: case XK_KP_Left: return 37;
    case XK_Up: case XK_KP_Up: return 38;
    case XK_Right: case XK_KP_Right: return 39;
    case XK_Down: case XK_KP_Down: return 40;
    case XK_Insert: case XK_KP_Insert: return 45;
    case XK_Delete: case XK_KP_Delete: return 46;
    case XK_KP_Multiply: return 106;
    case XK_KP_Add: return 107;
    case XK_KP_Subtract: return 109;
    case XK_KP_Decimal: return 110;
    case XK_KP_Divide: return 111;
    // Punctuation: the key numbers whose translation gives the keysym's character.
    case XK_colon: return 186;
    case XK_semicolon: return 187;
    case XK_comma: return 188;
    case XK_minus: return 189;
    case XK_period: return 190;
    case XK_slash: return 191;
    case XK_at: return 192;
    case XK_bracketleft: return 219;
    case XK_backslash: return 220;
    case XK_bracketright: return 221;
    case XK_asciicircum: return 222;
    case XK_underscore: return 226;
    default: return 0;
  }
}

int CapsLocked(Display* dpy) {
  XkbStateRec state;
  if (XkbGetState(dpy, XkbUseCoreKbd, &state) != Success) return 0;
  return (state.locked_mods & LockMask) ? 1 : 0;
}

}  // namespace

int PlatCapsLockState() {
  if (!PlatInit() || !State().dpy) return 0;
  return CapsLocked(State().dpy);
}

// ---------------------------------------------------------------------------------------
// Event conversion (UI thread)
namespace {

void ConvertKeyPress(LayerState& s, PlatWindow* w, XKeyEvent& ev) {
  // Text committed by an input method comes with keycode 0: characters only.
  uint16_t key = 0;
  if (ev.keycode) key = KeysymToKey(XkbKeycodeToKeysym(s.dpy, KeyCode(ev.keycode), 0, 0));
  if (key) {
    PlatMsg msg;
    msg.kind = PlatMsgKeyDown;
    msg.key = key;
    msg.lockState = uint16_t(CapsLocked(s.dpy));
    PushServerMsg(s, w, msg);
  }
  std::wstring text;
  KeySym sym = 0;
  if (w->xic) {
    char small[64];
    Status status = 0;
    int n = Xutf8LookupString(w->xic, &ev, small, sizeof small, &sym, &status);
    if (status == XBufferOverflow) {
      std::vector<char> big(size_t(n) + 1);
      n = Xutf8LookupString(w->xic, &ev, big.data(), int(big.size()), &sym, &status);
      if (status == XLookupChars || status == XLookupBoth) text = platx::Utf8ToWide(big.data(), size_t(n));
    } else if (status == XLookupChars || status == XLookupBoth) {
      text = platx::Utf8ToWide(small, size_t(n));
    }
  } else {
    char latin1[32];
    int n = XLookupString(&ev, latin1, sizeof latin1, &sym, nullptr);
    for (int i = 0; i < n; ++i) text += wchar_t(static_cast<unsigned char>(latin1[i]));
  }
  // Delete gives no character: the toolkit sends 127 for it itself.
  if (key == 46) return;
  for (wchar_t c : text) {
    PlatMsg msg;
    msg.kind = PlatMsgChar;
    msg.ch = uint32_t(c);
    PushServerMsg(s, w, msg);
  }
}

void ConvertEvent(LayerState& s, XEvent& ev) {
  if (platx::ClipboardHandleEvent(ev)) return;
  PlatWindow* w = FindByXid(s, ev.xany.window);
  if (!w) return;
  PlatMsg msg;
  switch (ev.type) {
    case MotionNotify:
      msg.kind = PlatMsgMouseMove;
      msg.x = ev.xmotion.x;
      msg.y = ev.xmotion.y;
      PushServerMsg(s, w, msg);
      break;
    case ButtonPress:
    case ButtonRelease: {
      int down = ev.type == ButtonPress;
      msg.x = ev.xbutton.x;
      msg.y = ev.xbutton.y;
      switch (ev.xbutton.button) {
        case Button1: msg.kind = down ? PlatMsgLButtonDown : PlatMsgLButtonUp; break;
        case Button2: msg.kind = down ? PlatMsgMButtonDown : PlatMsgMButtonUp; break;
        case Button3: msg.kind = down ? PlatMsgRButtonDown : PlatMsgRButtonUp; break;
        case Button4:
        case Button5:
          if (!down) return;
          // Wheel: desktop coordinates, +120 a notch away from the user (button 4).
          msg.kind = PlatMsgWheel;
          msg.x = ev.xbutton.x_root;
          msg.y = ev.xbutton.y_root;
          msg.wheelDelta = ev.xbutton.button == Button4 ? 120 : -120;
          break;
        default:
          return;
      }
      PushServerMsg(s, w, msg);
      break;
    }
    case KeyPress:
      ConvertKeyPress(s, w, ev.xkey);
      break;
    case KeyRelease: {
      uint16_t key = KeysymToKey(XkbKeycodeToKeysym(s.dpy, KeyCode(ev.xkey.keycode), 0, 0));
      if (!key) return;
      msg.kind = PlatMsgKeyUp;
      msg.key = key;
      msg.lockState = uint16_t(CapsLocked(s.dpy));
      PushServerMsg(s, w, msg);
      break;
    }
    case ConfigureNotify: {
      int32_t oldX = w->originX, oldY = w->originY;
      QueryOrigin(s.dpy, w);
      if (w->originX != oldX || w->originY != oldY) {
        msg.kind = PlatMsgMove;
        msg.x = w->originX;
        msg.y = w->originY;
        PushServerMsg(s, w, msg);
      }
      if (ev.xconfigure.width != w->width || ev.xconfigure.height != w->height) {
        w->width = ev.xconfigure.width;
        w->height = ev.xconfigure.height;
        PlatMsg size;
        size.kind = PlatMsgSize;
        size.x = w->width;
        size.y = w->height;
        PushServerMsg(s, w, size);
      }
      break;
    }
    case Expose:
      if (ev.xexpose.count != 0) return;
      // X keeps no window contents: the whole window is drawn again, once per burst.
      for (const QueuedMsg& q : s.fromServer)
        if (q.windowId == w->id && q.msg.kind == PlatMsgExpose) return;
      msg.kind = PlatMsgExpose;
      PushServerMsg(s, w, msg);
      break;
    case ClientMessage:
      if (ev.xclient.message_type == s.wmProtocols &&
          Atom(ev.xclient.data.l[0]) == s.wmDelete) {
        msg.kind = PlatMsgClose;
        PushServerMsg(s, w, msg);
      }
      break;
    case FocusIn:
      if (w->xic) XSetICFocus(w->xic);
      msg.kind = PlatMsgImeStart;
      PushServerMsg(s, w, msg);
      break;
    case FocusOut:
      if (w->xic) XUnsetICFocus(w->xic);
      break;
    case MapNotify:
      w->mapped = 1;
      break;
    case UnmapNotify:
      w->mapped = 0;
      break;
    default:
      break;
  }
}

// Reads every event Xlib has or can read without waiting; 1 when any was read.
int ReadServerEvents(LayerState& s) {
  int any = 0;
  while (XPending(s.dpy) > 0) {
    XEvent ev;
    XNextEvent(s.dpy, &ev);
    any = 1;
    // The input method sees every event first; what it keeps is not ours.
    if (XFilterEvent(&ev, 0)) continue;
    ConvertEvent(s, ev);
  }
  return any;
}

// Takes the next message whose window still exists; 1 when one was taken.
int TakeQueued(LayerState& s, PlatMsg* out) {
  std::lock_guard<std::mutex> hold(s.queueMutex);
  for (std::deque<QueuedMsg>* q : {&s.posted, &s.fromServer}) {
    while (!q->empty()) {
      QueuedMsg m = q->front();
      q->pop_front();
      if (m.windowId) {
        PlatWindow* w = FindById(s, m.windowId);
        if (!w) continue;  // destroyed since it was queued
        m.msg.window = w;
      } else {
        m.msg.window = nullptr;
      }
      *out = m.msg;
      return 1;
    }
  }
  return 0;
}

void DrainWake(LayerState& s) {
  uint64_t value;
  while (read(s.wakeFd, &value, sizeof value) > 0) {
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Message loop

int PlatPeekMessage(PlatMsg* out) {
  if (!out || !PlatInit()) return 0;
  LayerState& s = State();
  if (TakeQueued(s, out)) return 1;
  if (s.dpy && ReadServerEvents(s)) return TakeQueued(s, out);
  return 0;
}

int PlatGetMessage(PlatMsg* out) {
  if (!out || !PlatInit()) return 0;
  LayerState& s = State();
  for (;;) {
    if (TakeQueued(s, out)) return 1;
    if (s.dpy && ReadServerEvents(s)) continue;
    pollfd fds[2];
    int n = 0;
    fds[n++] = pollfd{s.wakeFd, POLLIN, 0};
    if (s.dpy) fds[n++] = pollfd{ConnectionNumber(s.dpy), POLLIN, 0};
    if (s.dpy) XFlush(s.dpy);
    // The wake-up fd covers posted messages and events read by other threads; the time
    // limit is only a safety net against a wake-up that never comes.
    if (poll(fds, nfds_t(n), 5000) == 0) g_waitTimeouts.fetch_add(1);
    DrainWake(s);
  }
}

void PlatDispatchMessage(const PlatMsg& msg) {
  if (msg.window && msg.window->handler) msg.window->handler(msg.window, msg);
}

// ---------------------------------------------------------------------------------------
// Capture and input method
int PlatCaptureMouse(PlatWindow* w) {
  if (!w) return 0;
  LayerState& s = State();
  s.grabWindow = w;
  if (!s.dpy || !w->xwin) return 1;
  int r = XGrabPointer(s.dpy, w->xwin, False,
                       ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                       GrabModeAsync, 0, 0, CurrentTime);
  XFlush(s.dpy);
  return r == GrabSuccess;
}

void PlatReleaseMouse() {
  LayerState& s = State();
  s.grabWindow = nullptr;
  if (!s.dpy) return;
  XUngrabPointer(s.dpy, CurrentTime);
  XFlush(s.dpy);
}

int PlatFocusWindow(PlatWindow* w) {
  if (!w) return 0;
  LayerState& s = State();
  if (!s.dpy || !w->xwin) return 1;
  if (!w->mapped) return 0;
  XSetInputFocus(s.dpy, w->xwin, RevertToParent, CurrentTime);
  XFlush(s.dpy);
  return 1;
}

int PlatSetImeSpot(PlatWindow* w, int32_t x, int32_t y) {
  if (!w || x < 0 || y < 0) return 0;
  if (!w->xic || !w->imePosition) return 1;
  XPoint spot{short(x > 32767 ? 32767 : x), short(y > 32767 ? 32767 : y)};
  XVaNestedList preedit = XVaCreateNestedList(0, XNSpotLocation, &spot, nullptr);
  XSetICValues(w->xic, XNPreeditAttributes, preedit, nullptr);
  XFree(preedit);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Test hook: input through the server
namespace {

// A connection of the test's own to the display the layer uses.
Display* TestConnection() {
  static std::mutex m;
  static Display* other = nullptr;
  std::lock_guard<std::mutex> hold(m);
  if (!other && PlatInit() && State().dpy) other = XOpenDisplay(DisplayString(State().dpy));
  return other;
}

}  // namespace

uint64_t PlatTestFindWindowByTitle(const wchar_t* title, int64_t pid) {
  Display* d = TestConnection();
  if (!d || !title) return 0;
  const Atom netWmPid = XInternAtom(d, "_NET_WM_PID", False);
  const std::string want = platx::WideToUtf8(title);
  const Atom netWmName = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, RootWindow(d, DefaultScreen(d)), &root, &parent, &children, &count)) return 0;
  uint64_t found = 0;
  for (unsigned int i = 0; i < count && !found; ++i) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, children[i], netWmName, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) == Success && data) {
      if (format == 8 && std::string(reinterpret_cast<char*>(data), items) == want) found = children[i];
      XFree(data);
    }
    if (found && pid >= 0) {
      data = nullptr;
      const bool same = XGetWindowProperty(d, children[i], netWmPid, 0, 1, False, XA_CARDINAL, &type,
                                           &format, &items, &after, &data) == Success &&
                        data && format == 32 && items == 1 &&
                        *reinterpret_cast<long*>(data) == long(pid);
      if (data) XFree(data);
      if (!same) found = 0;
    }
  }
  if (children) XFree(children);
  return found;
}

int PlatTestRequestClose(uint64_t window) {
  Display* d = TestConnection();
  if (!d || !window) return 0;
  XEvent ev;
  std::memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = Window(window);
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  if (!XSendEvent(d, Window(window), False, NoEventMask, &ev)) return 0;
  XFlush(d);
  return 1;
}

int PlatTestSendInput(PlatWindow* w, int kind, uint32_t detail, int32_t x, int32_t y) {
  LayerState& s = State();
  if (!w || !s.dpy || !w->xwin) return 0;
  static std::mutex sendMutex;
  static Display* other = nullptr;
  std::lock_guard<std::mutex> hold(sendMutex);
  if (!other) other = XOpenDisplay(DisplayString(s.dpy));
  if (!other) return 0;
  XEvent ev;
  std::memset(&ev, 0, sizeof ev);
  Window root = RootWindow(other, DefaultScreen(other));
  if (kind == 0 || kind == 1) {
    ev.type = kind == 0 ? ButtonPress : ButtonRelease;
    XButtonEvent& b = ev.xbutton;
    b.display = other;
    b.window = w->xwin;
    b.root = root;
    b.time = CurrentTime;
    b.x = x;
    b.y = y;
    b.x_root = w->originX + x;
    b.y_root = w->originY + y;
    b.button = detail;
    b.same_screen = True;
    XSendEvent(other, w->xwin, True, kind == 0 ? ButtonPressMask : ButtonReleaseMask, &ev);
  } else if (kind == 2 || kind == 3) {
    ev.type = kind == 2 ? KeyPress : KeyRelease;
    XKeyEvent& k = ev.xkey;
    k.display = other;
    k.window = w->xwin;
    k.root = root;
    k.time = CurrentTime;
    k.same_screen = True;
    k.keycode = XKeysymToKeycode(other, KeySym(detail));
    if (!k.keycode) return 0;
    XSendEvent(other, w->xwin, True, kind == 2 ? KeyPressMask : KeyReleaseMask, &ev);
  } else if (kind == 4) {
    Atom clipboard = XInternAtom(other, "CLIPBOARD", False);
    Window owner = XGetSelectionOwner(other, clipboard);
    if (!owner) return 0;
    ev.type = SelectionRequest;
    XSelectionRequestEvent& r = ev.xselectionrequest;
    r.display = other;
    r.owner = owner;
    r.requestor = Window(detail);
    r.selection = clipboard;
    r.target = XInternAtom(other, "UTF8_STRING", False);
    r.property = XInternAtom(other, "QV_TEST_PROPERTY", False);
    r.time = CurrentTime;
    XSendEvent(other, owner, False, 0, &ev);
  } else {
    return 0;
  }
  XFlush(other);
  return 1;
}
