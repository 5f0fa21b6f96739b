// program_e2e.h - what the end-to-end program tests share: a copy of quorvix-mini in a
// temporary folder on an X server of its own, driven only by synthetic X input (XTest pointer
// and keys) and read back through the window pixels the server holds.
//
//   e2e::Driver        the test's own X connection: clicks, drags, keys, window pixels, waits
//   e2e::ProgramTest   the fixture: own Xvfb, the program's copy, start, and the steps every
//                      tool test takes (menus, the file chooser, message boxes, saving a table)
//
// Every step waits for what it needs (a window title, pixels, a file) with generous deadlines:
// under the sanitizers on a loaded machine a menu can take seconds to draw.  There is no
// window manager: windows sit where the program puts them, and the driver does the two things
// one would do for the user: it gives the keyboard to a window clicked on, and it sends the
// close request.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/parallel.h"
#include "platform/window.h"
#include "tests/app/program_test_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

#if QV_HAVE_XTEST
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#endif

extern char** environ;

namespace e2e {

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Calls done() every 20 ms until it is true or ms have passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= until) return done();
    Pause(20);
  }
}

// A file that exists and has stopped growing (a save reports before the test reads it).
inline bool WaitFile(const std::string& path, int ms) {
  off_t last = -1;
  return WaitUntil([&] {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || st.st_size == 0) return false;
    const bool steady = st.st_size == last;
    last = st.st_size;
    return steady;
  }, ms);
}

// A comma-separated file as rows of cells; a cell in double quotes may hold commas (the
// tables quote a text such as "1,1"), and "" in it stands for one quote.
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  const std::string text = qvtest::ReadWholeFile(path);
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') cells.back() += text[++i];
      else if (c == '"') quoted = false;
      else cells.back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cells.emplace_back();
    } else if (c == '\n') {
      rows.push_back(cells);
      cells.assign(1, std::string());
    } else if (c != '\r') {
      cells.back() += c;
    }
  }
  if (cells.size() > 1 || !cells[0].empty()) rows.push_back(cells);
  return rows;
}

// Rows of whole numbers as one argument for a fixture program: "1,2,3;4,5,6".
inline std::string Tuples(const std::vector<std::vector<int>>& rows) {
  std::string out;
  for (const std::vector<int>& row : rows) {
    if (!out.empty()) out += ';';
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "," : "") + std::to_string(row[i]);
  }
  return out;
}

// Packed 0xRRGGBB helpers.
inline int Red(uint32_t c) { return int(c >> 16 & 0xFF); }
inline int Green(uint32_t c) { return int(c >> 8 & 0xFF); }
inline int Blue(uint32_t c) { return int(c & 0xFF); }
// The guide colour of a first start (red), as the view draws it over any picture.
inline bool IsGuideRed(uint32_t c) { return Red(c) > 200 && Green(c) < 80 && Blue(c) < 80; }

#if QV_HAVE_XTEST

// The test's own X connection: synthetic input and reading back window pixels.
class Driver {
 public:
  Driver() = default;
  ~Driver() {
    if (d_) XCloseDisplay(d_);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  // To the display DISPLAY names now (the fixture's own server once it runs).
  bool Connect() {
    if (!d_) d_ = XOpenDisplay(nullptr);
    return d_ != nullptr;
  }
  bool ok() const { return d_ != nullptr; }
  // Before the server goes: a connection it breaks ends the process.
  void Disconnect() {
    if (d_) XCloseDisplay(d_);
    d_ = nullptr;
  }

  // Waits (up to ms) for the program's top-level window with exactly this title, shown on the
  // screen (clicks go to whatever is under the pointer, so an unmapped one cannot take them).
  uint64_t WaitWindow(const std::wstring& title, pid_t pid, int ms = 30000) {
    uint64_t w = 0;
    WaitUntil([&] {
      w = PlatTestFindWindowByTitle(title.c_str(), pid);
      return w && Viewable(w);
    }, ms);
    return w && Viewable(w) ? w : 0;
  }
  // Until (up to ms) no window of that title is left.
  bool WaitGone(const std::wstring& title, pid_t pid, int ms = 30000) {
    return WaitUntil([&] { return !PlatTestFindWindowByTitle(title.c_str(), pid); }, ms);
  }
  bool Viewable(uint64_t w) {
    XWindowAttributes a;
    return XGetWindowAttributes(d_, Window(w), &a) && a.map_state == IsViewable;
  }
  // Whether a popup (an override-redirect window on the screen) covers (x, y) of window w;
  // with w 0, whether any popup is shown at all.
  bool Popup(uint64_t w = 0, int x = 0, int y = 0) {
    int rx = 0, ry = 0;
    Window child = 0, root = DefaultRootWindow(d_), parent = 0, *children = nullptr;
    if (w && !XTranslateCoordinates(d_, Window(w), root, x, y, &rx, &ry, &child)) return false;
    unsigned int count = 0;
    if (!XQueryTree(d_, root, &root, &parent, &children, &count)) return false;
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i) {
      XWindowAttributes a;
      if (!XGetWindowAttributes(d_, children[i], &a) || a.map_state != IsViewable || !a.override_redirect)
        continue;
      found = !w || (rx >= a.x && ry >= a.y && rx < a.x + a.width && ry < a.y + a.height);
    }
    if (children) XFree(children);
    return found;
  }
  // The window's client size.
  bool Size(uint64_t w, int* width, int* height) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d_, Window(w), &a)) return false;
    *width = a.width;
    *height = a.height;
    return true;
  }

  // The pointer to (x, y) inside window w.
  void MoveTo(uint64_t w, int x, int y) {
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(d_, Window(w), DefaultRootWindow(d_), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(d_, DefaultScreen(d_), rx, ry, CurrentTime);
    XSync(d_, False);
    Pause(30);
  }
  void Button(unsigned button, bool down) {
    XTestFakeButtonEvent(d_, button, down ? True : False, CurrentTime);
    XSync(d_, False);
    Pause(30);
  }
  // The keyboard to window w, as a click-to-focus window manager gives it on a click: without
  // one, a tool window opened from a menu never gets it (the menu hands it back to the main
  // window).  Not for a click into a popup, which holds the keyboard itself.
  void FocusOnClick(uint64_t w, int x, int y) {
    if (Popup(w, x, y)) return;
    XSetInputFocus(d_, Window(w), RevertToParent, CurrentTime);
    XSync(d_, False);
  }
  // A click of button (1 left, 3 right) at (x, y) inside window w.
  void Click(uint64_t w, int x, int y, unsigned button = 1) {
    MoveTo(w, x, y);
    FocusOnClick(w, x, y);
    Button(button, true);
    Button(button, false);
    Pause(120);
  }
  // Left press at (x0, y0), a few moves on the way, release at (x1, y1).
  void Drag(uint64_t w, int x0, int y0, int x1, int y1) {
    MoveTo(w, x0, y0);
    FocusOnClick(w, x0, y0);
    Button(1, true);
    for (int i = 1; i <= 4; ++i) MoveTo(w, x0 + (x1 - x0) * i / 4, y0 + (y1 - y0) * i / 4);
    Button(1, false);
    Pause(120);
  }
  // One key by keysym, with Shift where the keyboard map needs it; false when no key makes it.
  bool Key(KeySym sym) {
    const KeyCode code = XKeysymToKeycode(d_, sym);
    if (!code) return false;
    const bool shift = XkbKeycodeToKeysym(d_, code, 0, 0) != sym;
    const KeyCode shiftCode = XKeysymToKeycode(d_, XK_Shift_L);
    if (shift) XTestFakeKeyEvent(d_, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(d_, code, True, CurrentTime);
    XTestFakeKeyEvent(d_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(d_, shiftCode, False, CurrentTime);
    XSync(d_, False);
    Pause(5);
    return true;
  }
  bool Type(const std::string& text) {
    for (char c : text)
      if (!Key(KeySym(static_cast<unsigned char>(c)))) return false;  // ASCII keysyms are the characters
    return true;
  }

  // What the screen shows over the window's rectangle (x, y, width, height), other windows
  // on top included (as the user sees it), as packed 0xRRGGBB row by row; empty when the
  // window is gone or the rectangle leaves the screen.
  std::vector<uint32_t> Pixels(uint64_t w, int x, int y, int width, int height) {
    std::vector<uint32_t> out;
    int rx = 0, ry = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d_, Window(w), DefaultRootWindow(d_), x, y, &rx, &ry, &child))
      return out;
    XImage* image = XGetImage(d_, DefaultRootWindow(d_), rx, ry, unsigned(width), unsigned(height),
                              AllPlanes, ZPixmap);
    if (!image) return out;
    out.reserve(size_t(width) * size_t(height));
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) out.push_back(uint32_t(XGetPixel(image, i, j)) & 0xFFFFFFu);
    XDestroyImage(image);
    return out;
  }
  uint32_t Pixel(uint64_t w, int x, int y) {
    const std::vector<uint32_t> p = Pixels(w, x, y, 1, 1);
    return p.empty() ? 0 : p[0];
  }
  // The whole screen into test_out/name (PNG).
  bool ShotRoot(const std::string& name) {
    Window root = DefaultRootWindow(d_);
    return Shot(uint64_t(root), name);
  }
  // The whole window into test_out/name (PNG).
  bool Shot(uint64_t w, const std::string& name) {
    int width = 0, height = 0;
    if (!Size(w, &width, &height)) return false;
    const std::vector<uint32_t> p = Pixels(w, 0, 0, width, height);
    if (p.empty()) return false;
    std::vector<uint8_t> rgb;
    rgb.reserve(p.size() * 3);
    for (uint32_t c : p) {
      rgb.push_back(uint8_t(Red(c)));
      rgb.push_back(uint8_t(Green(c)));
      rgb.push_back(uint8_t(Blue(c)));
    }
    return toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/" + name, rgb, width, height) != 0;
  }

 private:
  Display* d_ = nullptr;
};

// Where things are in the program's windows (Japanese, the language of a first start).
// The main window: the menu titles in the bar, the items of an open popup.
constexpr int kMenuY = 10;
constexpr int kFileMenuX = 35, kViewMenuX = 92, kConfigMenuX = 134, kMeasureMenuX = 218,
              kToolMenuX = 267;
constexpr int kItemY0 = 31, kItemStep = 16;  // the first item's middle; one item further down
constexpr int kViewTop = 22;                 // the image view's top edge (under the menu strip)
constexpr int kBackgroundSubX = 310;         // Config > Background's submenu: black, white
// The file chooser: its name box and "OK".
constexpr int kNameBoxX = 246, kNameBoxY = 163;
constexpr int kOkX = 128, kOkY = 197;

#endif  // QV_HAVE_XTEST

// The fixture: an X server of its own (where Xvfb is installed) and a copy of the program.
class ProgramTest : public ::testing::Test {
 protected:
  explicit ProgramTest(const char* tag = "program_e2e") : folder_(tag) {}

  // One server for all the tests of a suite: this process's own display connection, opened by
  // the first test, stays with the server it first reached, and a server per test would cut it.
  static void SetUpTestSuite() { StartOwnServer(); }
  static void TearDownTestSuite() {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      qvtest::WaitExit(server_, 5000);
      server_ = -1;
      if (!previousDisplay_.empty()) setenv("DISPLAY", previousDisplay_.c_str(), 1);
    }
  }
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
#if !QV_HAVE_XTEST
    GTEST_SKIP() << "built without the XTest extension library";
#else
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(x_.Connect());
#endif
    ASSERT_EQ(std::system(("cp '" QV_PROGRAM "' '" + dir_ + "/quorvix-mini'").c_str()), 0);
  }
  void TearDown() override {
#if QV_HAVE_XTEST
    if (HasFailure() && x_.ok())  // the screen as the failure left it, to see why
      x_.ShotRoot(std::string("e2e_failure_") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png");
#endif
    if (pid_ > 0) {  // a step failed before the close: end the copy
      kill(pid_, SIGKILL);
      qvtest::WaitExit(pid_, 5000);
    }
#if QV_HAVE_XTEST
    x_.Disconnect();  // before the suite's end takes the server away
#endif
  }
  // Pointer clicks land on whatever window is on top, so other window tests sharing the
  // display could cover the program's windows: where Xvfb is installed the tests get a
  // server of their own.  Its display number is its own choice, away from the low numbers
  // other servers take, and guarded by the server's lock file (a server started with
  // -displayfd takes none, so another one may claim its number).
  static void StartOwnServer() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    const int first = 400 + int(getpid() % 400);
    for (int n = first; n < first + 40 && server_ <= 0; ++n) {
      const std::string display = ":" + std::to_string(n);
      char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>(display.c_str()),
                      const_cast<char*>("-screen"), const_cast<char*>("0"),
                      const_cast<char*>("1280x1024x24"), const_cast<char*>("-nolisten"),
                      const_cast<char*>("tcp"), nullptr};
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      pid_t pid = 0;
      const int rc = posix_spawn(&pid, "/usr/bin/Xvfb", &actions, nullptr, argv, environ);
      posix_spawn_file_actions_destroy(&actions);
      if (rc != 0) return;
      // Up once the lock is its own and it takes connections; a server that finds the number
      // taken ends.
      bool up = false, ended = false;
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      WaitUntil([&] {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) ended = true;
        if (!ended && std::atol(qvtest::ReadWholeFile(lock).c_str()) == long(pid)) {
          const std::string probe = "/usr/bin/xdpyinfo -display " + display + " >/dev/null 2>&1";
          up = std::system(probe.c_str()) == 0;
        }
        return up || ended;
      }, 20000);
      if (!up) {
        if (!ended) {
          kill(pid, SIGTERM);
          qvtest::WaitExit(pid, 5000);
        }
        continue;
      }
      server_ = pid;
      if (const char* d = getenv("DISPLAY")) previousDisplay_ = d;
      setenv("DISPLAY", display.c_str(), 1);
    }
  }
  // The copy, its standard error into the folder.
  pid_t Start() {
    pid_ = qvtest::SpawnProgram(dir_ + "/quorvix-mini", dir_ + "/stderr.txt", environ);
    return pid_;
  }
  std::string Stderr() const { return qvtest::ReadWholeFile(dir_ + "/stderr.txt"); }
  // The main window's title before a file is open.
  static std::wstring BaseTitle() {
    return L"quorvix mini 1.9.2 - " + std::to_wstring(GetProcessorCount()) + L"core";
  }
  // Runs a command of the outside tools; true on success (its output goes to the log).
  static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
  // Runs a Python program (numpy, OpenCV) with the arguments; what it printed, or "" when it
  // failed.  The program may call write_avi(path, frames): H x W x 3 BGR arrays into an
  // uncompressed AVI at 10 frames a second, written by ffmpeg.
  std::string Python(const std::string& program, const std::string& arguments) {
    const std::string path = dir_ + "/fixture.py";
    static const char kPrelude[] = R"(
import subprocess
def write_avi(path, frames):
    h, w = frames[0].shape[:2]
    cmd = ['ffmpeg', '-loglevel', 'error', '-y', '-f', 'rawvideo', '-pix_fmt', 'bgr24', '-s', f'{w}x{h}',
           '-r', '10', '-i', '-', '-c:v', 'rawvideo', '-pix_fmt', 'bgr24', path]
    subprocess.run(cmd, input=b''.join(f.tobytes() for f in frames), check=True)
)";
    qvtest::WriteWholeFile(path, kPrelude + program);
    const std::string out = qvtest::Capture("/usr/bin/python3 '" + path + "' " + arguments + " && echo ok");
    const size_t tail = out.rfind("ok\n");
    return tail != std::string::npos && tail + 3 == out.size() ? out.substr(0, tail) : "";
  }

#if QV_HAVE_XTEST
  // Starts the copy and waits for its main window; 0 when it does not come.
  uint64_t StartAndWaitMain() {
    if (Start() <= 0) return 0;
    main_ = x_.WaitWindow(BaseTitle(), pid_, 60000);
    return main_;
  }
  // Until a popup menu covers (x, y) of window w and shows its face there: a popup is a
  // window of its own, and a click made before the server maps it lands on the window below.
  bool WaitPopup(uint64_t w, int x, int y, int ms = 30000) {
    return WaitUntil([&] {
      if (!x_.Popup(w, x, y)) return false;
      int face = 0;
      for (uint32_t c : x_.Pixels(w, x - 8, y - 1, 16, 3)) face += c == 0xE6E6E6u;
      return face >= 8;
    }, ms);
  }
  // Until every popup is gone: while one is up it holds the pointer, and a click meant for a
  // window goes to it instead.
  bool WaitNoPopup(int ms = 30000) {
    return WaitUntil([&] { return !x_.Popup(); }, ms);
  }
  // Clicks the item of an open popup at (x, y) of window w until the popups close (a click
  // that comes while the popup is still being set up goes by unseen).
  bool ChooseItem(uint64_t w, int x, int y) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      Pause(200);
      x_.Click(w, x, y);
      if (WaitNoPopup(attempt < 3 ? 4000 : 30000)) return true;
      if (!x_.Popup(w, x, y)) return false;  // another popup, not this one
    }
    return false;
  }
  // A menu of window w (the main window unless told): its title at titleX, then the item at
  // (itemX, itemY), relative to the window.
  void Menu(int titleX, int itemY, int itemX, uint64_t w = 0) {
    if (!w) w = main_;
    ASSERT_TRUE(WaitNoPopup());
    x_.Click(w, titleX, kMenuY);
    ASSERT_TRUE(WaitPopup(w, itemX, itemY)) << "menu at " << titleX;
    ASSERT_TRUE(ChooseItem(w, itemX, itemY)) << "menu at " << titleX << " still open";
  }
  // An item of a submenu of the main window: the parent item at (itemX, itemY), then the
  // submenu's item at (subX, subY).
  void SubMenu(int titleX, int itemX, int itemY, int subX, int subY) {
    ASSERT_TRUE(WaitNoPopup());
    x_.Click(main_, titleX, kMenuY);
    ASSERT_TRUE(WaitPopup(main_, itemX, itemY)) << "menu at " << titleX;
    for (int attempt = 0; attempt < 4 && !x_.Popup(main_, subX, subY); ++attempt) {
      Pause(200);
      x_.Click(main_, itemX, itemY);
      WaitPopup(main_, subX, subY, attempt < 3 ? 4000 : 30000);
    }
    ASSERT_TRUE(WaitPopup(main_, subX, subY)) << "submenu at " << itemY;
    ASSERT_TRUE(ChooseItem(main_, subX, subY)) << "menu at " << titleX << " still open";
  }
  // The chooser titled title: the typed path over whatever the name box proposed, then OK
  // (again while the chooser is still there: a loaded machine may still be drawing the name).
  void Choose(const std::wstring& title, const std::string& typed) {
    const uint64_t chooser = x_.WaitWindow(title, pid_);
    ASSERT_NE(chooser, 0u) << Stderr();
    Pause(1500);  // built, drawn and in its loop
    x_.Click(chooser, kNameBoxX, kNameBoxY);
    Pause(300);
    ASSERT_TRUE(x_.Key(XK_End));
    for (int i = 0; i < 60; ++i) ASSERT_TRUE(x_.Key(XK_BackSpace));
    ASSERT_TRUE(x_.Type(typed)) << typed;
    Pause(1000);
    bool gone = false;
    for (int attempt = 0; attempt < 3 && !gone; ++attempt) {
      x_.Click(chooser, kOkX, kOkY);
      gone = x_.WaitGone(title, pid_, 8000);
    }
    ASSERT_TRUE(gone);
  }
  // File > Open image with the typed path; waits for the title that names the file.
  void OpenFile(const std::string& path) {
    ASSERT_NO_FATAL_FAILURE(Menu(kFileMenuX, kItemY0, 40));
    ASSERT_NO_FATAL_FAILURE(Choose(L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E", path));  // ファイルを選択
    const std::string name = path.substr(path.rfind('/') + 1);
    ASSERT_NE(x_.WaitWindow(BaseTitle() + L"  " + qvtest::Utf8Wide(name), pid_, 60000), 0u)
        << Stderr();
  }
  // Config > Background > black: white objects on black.
  void BlackBackground() {
    SubMenu(kConfigMenuX, kConfigMenuX + 20, kItemY0 + kItemStep, kBackgroundSubX, kItemY0 + kItemStep);
  }
  // View > Zoom > 100%: image pixel (x, y) at window pixel (x, kViewTop + y).
  void Zoom100() {
    SubMenu(kViewMenuX, kViewMenuX + 20, kItemY0 + 3 * kItemStep, kZoomSubX, kItemY0 + 6 * kItemStep);
  }
  // Answers the message box captioned caption by the button below its text at dx from the
  // middle: a one-button box's OK is centred, a question's OK sits left of it (dx -48).
  void Acknowledge(const std::wstring& caption, int dx = 0) {
    const uint64_t box = x_.WaitWindow(caption, pid_, 60000);
    ASSERT_NE(box, 0u) << Stderr();
    int w = 0, h = 0;
    ASSERT_TRUE(x_.Size(box, &w, &h));
    Pause(300);
    bool gone = false;
    for (int attempt = 0; attempt < 3 && !gone; ++attempt) {
      x_.Click(box, w / 2 + dx, h - 20);
      gone = x_.WaitGone(caption, pid_, 8000);
    }
    ASSERT_TRUE(gone);
  }
  // A result table window titled title: its File > Save CSV into path, the chooser and the
  // confirmation answered; waits for the file.
  void SaveTable(const std::wstring& title, const std::string& path) {
    const uint64_t table = x_.WaitWindow(title, pid_, 30000);
    ASSERT_NE(table, 0u) << Stderr();
    Pause(500);
    ASSERT_NO_FATAL_FAILURE(Menu(kFileMenuX, kItemY0, 40, table));
    ASSERT_NO_FATAL_FAILURE(Choose(L"\x30D5\x30A1\x30A4\x30EB\x9078\x629E", path));  // ファイル選択
    ASSERT_NO_FATAL_FAILURE(Acknowledge(L"\x78BA\x8A8D"));                          // 確認
    ASSERT_TRUE(WaitFile(path, 30000)) << path;
  }
  // Until the main window shows what pred accepts in the rectangle (up to ms); the pixels are
  // handed over row by row.
  bool WaitMain(int x, int y, int width, int height,
                const std::function<bool(const std::vector<uint32_t>&)>& pred, int ms = 60000) {
    return WaitUntil([&] {
      const std::vector<uint32_t> p = x_.Pixels(main_, x, y, width, height);
      return !p.empty() && pred(p);
    }, ms);
  }
  // A click at (x, y) of window w until the 9 x 9 pixels around it change (a check box ticked
  // or unticked, a tab page shown).  The change also tells that the program has taken the
  // click's release, so no capture of the pointer is left for the next click to run into.
  // Once more after 20 s without a change: a click can be lost while a window still holds
  // the pointer.
  bool ClickToChange(uint64_t w, int x, int y) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::vector<uint32_t> before = x_.Pixels(w, x - 4, y - 4, 9, 9);
      x_.Click(w, x, y);
      if (WaitUntil([&] { return x_.Pixels(w, x - 4, y - 4, 9, 9) != before; }, 20000)) return true;
    }
    return false;
  }
  // A click at (x, y) of window w until a window titled title shows (again after 10 s without
  // one); the window, or 0.
  uint64_t ClickForWindow(uint64_t w, int x, int y, const std::wstring& title) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      x_.Click(w, x, y);
      if (const uint64_t shown = x_.WaitWindow(title, pid_, attempt < 2 ? 10000 : 30000)) return shown;
    }
    return 0;
  }
  // Until the main window shows a cross in the guide colour at (x, y): arms of arm pixels each
  // way, two pixels of them allowed to miss (line ends).
  bool WaitCross(int x, int y, int arm, int ms = 60000) {
    const int side = 2 * arm + 1;
    return WaitMain(x - arm, y - arm, side, side, [&](const std::vector<uint32_t>& p) {
      int lit = 0;
      for (int d = 0; d < side; ++d)
        lit += IsGuideRed(p[size_t(arm * side + d)]) + IsGuideRed(p[size_t(d * side + arm)]);
      return lit >= 2 * side - 2;
    }, ms);
  }
  // Until the main window shows the segment (x0, y0)-(x1, y1) in the guide colour: each of
  // 19 points along it within a pixel of a lit one.
  bool WaitLine(int x0, int y0, int x1, int y1, int ms = 60000) {
    const int minX = std::min(x0, x1) - 1, minY = std::min(y0, y1) - 1;
    const int width = std::abs(x1 - x0) + 3, height = std::abs(y1 - y0) + 3;
    return WaitMain(minX, minY, width, height, [&](const std::vector<uint32_t>& p) {
      for (int i = 1; i < 20; ++i) {
        const double t = i / 20.0;
        const int cx = int(std::lround(x0 + t * (x1 - x0))) - minX;
        const int cy = int(std::lround(y0 + t * (y1 - y0))) - minY;
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy)
          for (int dx = -1; dx <= 1 && !near; ++dx) near = IsGuideRed(p[size_t((cy + dy) * width + cx + dx)]);
        if (!near) return false;
      }
      return true;
    }, ms);
  }
  // Closes the program the way a window manager asks it to; its exit status.  Any crash
  // fails, LeakSanitizer's own included: the program is started with the option that keeps
  // its exit-time tracer from crashing (qvtest::kAsanTlsOption).
  int Close() {
    if (PlatTestRequestClose(main_) != 1) return -2;
    int status = qvtest::WaitExit(pid_, 30000);
    if (status >= 0) pid_ = -1;
    return status;
  }
  static constexpr int kZoomSubX = 250;  // the zoom submenu's items

  Driver x_;
  uint64_t main_ = 0;
#endif

  qvtest::TempFolder folder_;
  const std::string& dir_ = folder_.path();
  pid_t pid_ = -1;
  static inline pid_t server_ = -1;
  static inline std::string previousDisplay_;
};

}  // namespace e2e
