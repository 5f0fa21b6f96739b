// window.h - our own small window layer: top-level windows, one OpenGL context per
// window, a message queue with blocking and non-blocking loops, keyboard and mouse input
// with the toolkit's key codes, the text clipboard and input-method placement.
// No system header leaks through here: every type is our own, handles are opaque.
//
// Types:
//   PlatWindow     - one top-level window (opaque)
//   PlatGlContext  - one OpenGL context made for one window (opaque)
//   PlatMsg        - one message: kind, target window and the kind's parameters
//   PlatMsgHandler - the function a window hands its messages to
//
// Threads: the thread that gets messages (the UI thread) is the only one that dispatches
// them, creates or destroys windows and touches the clipboard. Any thread may post
// messages and make a context current (one thread at a time per context; the toolkit's
// draw lock sees to that).
#pragma once

#include <cstdint>
#include <string>

struct PlatWindow;
struct PlatGlContext;

// Message kinds. Parameters by kind:
//   mouse move, button down/up: x, y in client pixels
//   wheel: x, y in desktop pixels; wheelDelta +120 per notch away from the user
//   move: x, y = client origin on the desktop;  size: x, y = client width, height
//   show: shown (0/1)
//   key down / key up: key (toolkit key code), lockState = CapsLock locked (0/1)
//   char: ch (one character); expose, close, destroy, ime start, quit: none
//   user: param (free for the poster)
enum PlatMsgKind : int {
  PlatMsgNone = 0,
  PlatMsgMouseMove,
  PlatMsgLButtonDown,
  PlatMsgLButtonUp,
  PlatMsgRButtonDown,
  PlatMsgRButtonUp,
  PlatMsgMButtonDown,
  PlatMsgMButtonUp,
  PlatMsgWheel,
  PlatMsgKeyDown,
  PlatMsgKeyUp,
  PlatMsgChar,
  PlatMsgClose,
  PlatMsgDestroy,
  PlatMsgMove,
  PlatMsgSize,
  PlatMsgShow,
  PlatMsgExpose,
  PlatMsgImeStart,
  PlatMsgQuit,
  PlatMsgUser
};

struct PlatMsg {
  int kind = PlatMsgNone;
  PlatWindow* window = nullptr;  // null for thread messages (quit, user without window)
  int32_t x = 0;
  int32_t y = 0;
  int32_t wheelDelta = 0;
  int32_t shown = 0;
  uint16_t key = 0;
  uint16_t lockState = 0;
  uint32_t ch = 0;
  intptr_t param = 0;
};

// Mouse, wheel and keyboard messages: the ones a modal loop holds back from other windows.
int PlatIsInputMsg(int kind);

typedef void (*PlatMsgHandler)(PlatWindow* window, const PlatMsg& msg);

// Styles of PlatCreateWindow.
enum PlatWindowStyle : int {
  PlatStyleFixed = 0,      // dialog frame, not resizable
  PlatStyleResizable = 1,  // sizing frame
  PlatStylePopup = 2       // no frame, not managed; takes the keyboard focus itself
};

// Smallest client area a framed window gets; a message box of 112 x 66 keeps its size.
constexpr int kPlatMinClientWidth = 112;
constexpr int kPlatMinClientHeight = 27;

struct PlatWindowDesc {
  int32_t x = -1, y = -1;        // client origin on the desktop; -1, -1 picks a default place
  int32_t width = 0, height = 0; // client size
  int style = PlatStyleFixed;
  PlatWindow* owner = nullptr;   // kept above its owner
  const wchar_t* title = nullptr;
  PlatMsgHandler handler = nullptr;
  void* user = nullptr;
};

// Connection. PlatInit is called by every entry point below that needs the display;
// it returns 0 when no display can be opened (and then windows cannot be created).
int PlatInit();
int PlatHasDisplay();

// Windows. Create makes the window without showing it. Show sends the show message to the
// handler synchronously, then maps or unmaps the window (waiting, bounded, until mapped).
// Destroy sends the destroy message synchronously, then removes the window; queued
// messages for it are dropped.
PlatWindow* PlatCreateWindow(const PlatWindowDesc& desc);
void PlatDestroyWindow(PlatWindow* window);
int PlatShowWindow(PlatWindow* window, int show);
void* PlatGetWindowUser(PlatWindow* window);
void PlatSetWindowUser(PlatWindow* window, void* user);
int PlatSetWindowTitle(PlatWindow* window, const wchar_t* title);
// Client size and client origin on the desktop as the server last reported them.
void PlatGetClientSize(PlatWindow* window, int32_t* outWidth, int32_t* outHeight);
void PlatGetClientOrigin(PlatWindow* window, int32_t* outX, int32_t* outY);
int PlatIsWindowMapped(PlatWindow* window);

// Mouse capture: every mouse event goes to the window, in its client coordinates, until
// released. When the grab is refused the window goes on without it (returns 0).
int PlatCaptureMouse(PlatWindow* window);
void PlatReleaseMouse();
// Gives the keyboard focus to a shown window (popup menus hand it back to their owner).
int PlatFocusWindow(PlatWindow* window);

// OpenGL contexts: a legacy context on the window's double-buffered RGBA visual with
// depth and stencil. MakeCurrent with a null context releases the calling thread's one.
PlatGlContext* PlatCreateGlContext(PlatWindow* window);
void PlatDestroyGlContext(PlatGlContext* context);
int PlatMakeCurrent(PlatWindow* window, PlatGlContext* context);
void PlatSwapBuffers(PlatWindow* window);
// Looks up an OpenGL entry point by name; null when it is unknown.
void* PlatGetGlProc(const char* name);

// Messages. GetMessage waits for the next message (0 only when the layer cannot run);
// PeekMessage takes one without waiting (0 when there is none). Both answer clipboard
// requests of other programs on the way. Dispatch hands a message to its window's handler.
int PlatGetMessage(PlatMsg* outMsg);
int PlatPeekMessage(PlatMsg* outMsg);
void PlatDispatchMessage(const PlatMsg& msg);
// Thread-safe; wakes a waiting PlatGetMessage.
void PlatPostMessage(const PlatMsg& msg);
void PlatPostQuit();

// Keyboard state: CapsLock locked (0/1).
int PlatCapsLockState();

// Input method: the composition spot of a window, in client pixels.
int PlatSetImeSpot(PlatWindow* window, int32_t x, int32_t y);

// Clipboard (text). Set with null or empty text gives up the clipboard (empties it).
// Get returns 0 when there is no text or the owner does not answer in time.
int PlatClipboardSetText(const wchar_t* text);
int PlatClipboardGetText(std::wstring* outText);

// Test hook. Headless mode must be chosen before the first call into the layer: windows
// are then plain records (no display), contexts are tokens, make-current and swap succeed
// without drawing, and messages come only from PlatPostMessage.
void PlatTestSetHeadless(int headless);
int PlatIsHeadless();
// Number of buffer swaps of a window so far (tests use it to see whether a swap happened).
uint64_t PlatTestSwapCount(PlatWindow* window);
// Number of waits for messages, on any thread, that ended by their time limit rather than by
// a wake-up: tests read it around a post or an input to see that the wake-up came, whatever
// the scheduling.
uint64_t PlatTestWaitTimeouts();
// Sends an input event to a window through the display server, from a connection of its
// own, as another program would: kind 0 button press, 1 button release (detail = button
// 1 to 5, x, y client pixels), 2 key press, 3 key release (detail = the character or
// keysym of the key on its first level), 4 a request for the clipboard's text as
// UTF8_STRING from the requestor window detail (which need not exist: a program that quit
// before its answer came). 1 when sent.
int PlatTestSendInput(PlatWindow* window, int kind, uint32_t detail, int32_t x, int32_t y);
// The window of another program on this display (a started copy of the program): the first
// top-level window whose title (UTF-8 _NET_WM_NAME) is exactly title and, unless pid is -1,
// whose _NET_WM_PID is pid (tests run side by side with windows of the same title); 0 when
// there is none;
// and the window manager's close request (WM_DELETE_WINDOW) sent to such a window, as a
// click on its close box would.  1 when sent.
uint64_t PlatTestFindWindowByTitle(const wchar_t* title, int64_t pid);
int PlatTestRequestClose(uint64_t window);
