// screen.h - the bottom of the toolkit: the input interface, top-level screens with their
// own OpenGL context, the process-wide draw lock, the message loops and the clipboard.
//
//   CFgInput      input slots shared by screens and widgets (mouse, wheel, keys, chars)
//   CFgScreen     one top-level window with its own context; turns window messages into
//                 input calls and adds close, size, show and create notifications
//   FgDrawSurface what the current drawing section draws into (window or render target)
//   free functions: draw lock, message loops, quit flag, clipboard, NextPow2, WaitSignal
//
// Drawing discipline: all OpenGL work runs between the outermost BeginDraw and its EndDraw
// on one thread, with the process-wide recursive draw lock held and the screen's context
// current; nested sections only count. Any thread may draw; only the UI thread (the one
// running the message loops) creates, shows and destroys screens.
#pragma once

#include <cstdint>

#include "platform/thread.h"
#include "platform/window.h"

// Key-flag word bits (one word for the whole process).
enum : uint16_t {
  FgKeyUp = 1,
  FgKeyDown = 2,
  FgKeyLeft = 4,
  FgKeyRight = 8,
  FgKeyShift = 16,
  FgKeyCtrl = 32,
  FgKeyCapsLock = 64
};

// Special-key codes of OnSpecialKeyDown and OnSpecialKeyUp.
enum : uint16_t {
  FgSpecialCapsLock = 0,
  FgSpecialShift = 1,
  FgSpecialCtrl = 2,
  FgSpecialUp = 3,
  FgSpecialDown = 4,
  FgSpecialLeft = 5,
  FgSpecialRight = 6
};

class CFgInput {
 public:
  virtual ~CFgInput();
  virtual void SetKeyFlags(uint16_t flags);
  virtual uint16_t GetKeyFlags();
  virtual void OnMouseMove(int32_t x, int32_t y);
  virtual void OnLButtonDown(int32_t x, int32_t y);
  virtual void OnLButtonUp(int32_t x, int32_t y);
  virtual void OnRButtonDown(int32_t x, int32_t y);
  virtual void OnRButtonUp(int32_t x, int32_t y);
  virtual void OnMButtonDown(int32_t x, int32_t y);
  virtual void OnMButtonUp(int32_t x, int32_t y);
  virtual void OnMouseWheel(int32_t x, int32_t y, int32_t notches);
  virtual void OnSpecialKeyDown(uint16_t code);
  virtual void OnSpecialKeyUp(uint16_t code);
  virtual void OnKeyStateChanged();
  virtual void OnSpecialKeyRepeat();
  virtual void OnKeyDown(wchar_t ch);
  virtual void OnKeyUp(wchar_t ch);
  virtual void OnChar(wchar_t ch);
};

// Screen styles.
enum : int32_t { FgStyleDialog = 0, FgStyleResizable = 1, FgStylePopup = 2 };

constexpr int kFgTitleUnits = 258;  // title field, terminator included

class CFgScreen : public CFgInput {
 public:
  CFgScreen();
  ~CFgScreen() override;
  CFgScreen(const CFgScreen&) = delete;
  CFgScreen& operator=(const CFgScreen&) = delete;

  // Non-zero lets the window close.
  virtual int32_t OnClose();
  virtual void OnSize(uint64_t width, uint64_t height);
  virtual void OnShow(int32_t shown);
  virtual void OnCreate();
  // The window system lost the window's picture (X keeps no contents): draw it all again.
  virtual void OnExpose();

  // x, y: client origin on the desktop; -1, -1 centres on the parent (or a default place
  // without one). A null title with an existing window only renews the GL context.
  int32_t Create(int32_t x, int32_t y, uint64_t width, uint64_t height, const wchar_t* title,
                 int32_t style, CFgScreen* parent);
  void Destroy();
  // Shows or hides an existing window (the object and its context stay).
  int32_t ShowWindow(int32_t show);
  int32_t SetTitle(const wchar_t* title);

  int32_t BeginDraw();
  void EndDraw(int32_t swap);
  double PixelToGlX(double x) const;
  double PixelToGlY(double y) const;
  int32_t SetClipRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
  int32_t SetImePoint(int32_t x, int32_t y);
  wchar_t TranslateKey(uint16_t key);

  // Mouse capture for this screen's window (widgets take it through their container).
  int32_t CaptureMouse();
  void ReleaseMouse();

  PlatWindow* GetWindow() const { return m_window; }

  // State.
  int32_t m_showGuard = 0;
  int32_t m_closeAllowed = 1;
  uint16_t m_lastKey = 0;
  wchar_t m_lastChar = 0;
  CFgScreen* m_parent = nullptr;
  int32_t m_x = 0, m_y = 0;
  uint64_t m_clientWidth = 0, m_clientHeight = 0;
  uint64_t m_renderTargetWidth = 0, m_renderTargetHeight = 0;
  int32_t m_visible = 0;
  int32_t m_style = 0;
  int32_t m_contextLostWhileHidden = 0;
  wchar_t m_title[kFgTitleUnits] = {};
  uint64_t m_contextGeneration = 0;
  int32_t m_imeX = -1, m_imeY = -1;
  PlatGlContext* m_glContext = nullptr;
  PlatWindow* m_window = nullptr;
  uint64_t m_drawNesting = 0;
};

// Turns one window message into screen calls (installed as every screen window's handler).
void FgScreenWndProc(PlatWindow* window, const PlatMsg& msg);

// The process-wide recursive draw lock; exists from the first call on.
PlatformLock& FgDrawLock();

// Current drawing surface: kind 0 none, 1 a screen's window, 2 a texture render target.
// Read and written only with the draw lock held.
struct FgDrawSurface {
  int32_t kind = 0;
  uint64_t width = 0, height = 0;
};
FgDrawSurface FgGetDrawSurface();
void FgSetDrawSurface(int32_t kind, uint64_t width, uint64_t height);

// Set when a loop meets the quit message; never cleared by the program.
extern int32_t QuitRequested;

// Dispatches every queued message without waiting; 1 when the queue is empty, 0 after the
// quit message (QuitRequested set, the rest left queued).
int32_t FgPumpMessages();
// The main loop; remembers the main screen (its destruction posts the quit message).
void FgRunMessageLoop(CFgScreen* mainScreen);
// A nested loop until *done is set by a handler. With a modal screen, mouse and key
// messages for other windows are dropped. A null done flag runs the main loop.
void FgRunModal(int32_t* done, CFgScreen* modal);
CFgScreen* FgMainScreen();

// Text clipboard. Get: without a buffer the size a buffer needs (length + 1); with one,
// at most capacity - 1 units and a terminator; carriage returns are dropped; 0 when there
// is no text. Set: null or empty empties the clipboard.
uint64_t GetClipboardText(wchar_t* buffer, uint64_t capacity);
int32_t SetClipboardText(const wchar_t* text);

// Smallest power of two not below n; 0 for 0 and for n above the largest one.
uint64_t NextPow2(uint64_t n);

// Resets waitFor, leaves lock once when given, sets toSet when given and waits for waitFor
// without a time limit; 1 when waitFor was signalled, 0 without an event to wait for.
int32_t WaitSignal(PlatformEvent* toSet, PlatformEvent* waitFor, PlatformLock* lock);
