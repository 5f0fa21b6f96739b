// x11_private.h - what the window layer's own sources share: the X connection, the window
// and context records, the wake-up of the message loop and the clipboard's event hook.
// Included only by platform/*.cpp; the X headers must never reach the rest of the program
// (their macros None, Bool, Status, FocusIn and types Window, Font collide with our names).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <GL/glx.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/window.h"

struct PlatWindow {
  uint64_t id = 0;
  Window xwin = 0;
  Colormap colormap = 0;
  XIC xic = nullptr;
  int imePosition = 0;  // the input context takes a spot location
  PlatMsgHandler handler = nullptr;
  void* user = nullptr;
  int style = 0;
  int32_t width = 0, height = 0;
  int32_t originX = 0, originY = 0;
  int shown = 0;   // as last asked by PlatShowWindow
  int mapped = 0;  // as the server last reported
  std::atomic<uint64_t> swaps{0};
};

struct PlatGlContext {
  GLXContext glx = nullptr;
  PlatWindow* window = nullptr;
};

namespace platx {

Display* Dpy();          // null in headless mode or without a display
int ScreenNumber();
Window Root();
Atom GetAtom(const char* name);

// Wakes a PlatGetMessage that waits in poll().
void WakeLoop();
// After another thread's round trip on the shared connection: when Xlib has read events
// into its queue, the waiting loop would not see them in poll(), so wake it.
void WakeIfQueued();

// The visual every window and context uses (double buffer, RGBA 8-8-8, depth, stencil).
XVisualInfo* GlVisual();

// Clipboard events (selection requests, property changes of transfers); 1 when consumed.
int ClipboardHandleEvent(XEvent& event);

// Waits (bounded) for an event of the given type on a window, without touching others.
int WaitForWindowEvent(Window window, int type, XEvent* outEvent, int milliseconds);

std::string WideToUtf8(const wchar_t* text);
std::wstring Utf8ToWide(const char* text, size_t bytes);

}  // namespace platx
