// program_e2e_x11_test.cpp - the program end to end, as a user drives it: a copy of
// quorvix-mini in a temporary folder, only synthetic X input (XTest pointer and keys).
// File > Open image with a PNG typed into the chooser, then an AVI typed over the name the
// chooser proposes; the scene bar's step forward / step back / play / stop buttons change
// the picture as they should; File > Save video writes an AVI that ffprobe reads with every
// frame; a screenshot of the main window goes to test_out/; the close request ends the
// program with status 0 and the settings file remembers the folder used.  Measure > Auto
// measurement on a large white area shows its area whole in the table window.
// There is no window manager: the chooser has to take the keyboard itself.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/parallel.h"
#include "platform/window.h"
#include "tests/app/program_test_util.h"
#include "tests/temp_folder.h"

#if QV_HAVE_XTEST
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#endif

extern char** environ;

namespace {

using qvtest::ReadWholeFile;

using qvtest::Capture;
using qvtest::WaitExit;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#if QV_HAVE_XTEST

// The test's own X connection: synthetic input and reading back window pixels.
class Driver {
 public:
  Driver() : d_(XOpenDisplay(nullptr)) {}
  ~Driver() {
    if (d_) XCloseDisplay(d_);
  }
  bool ok() const { return d_ != nullptr; }

  // Waits (up to ms) for the program's top-level window with exactly this title.
  uint64_t WaitWindow(const std::wstring& title, pid_t pid, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (uint64_t w = PlatTestFindWindowByTitle(title.c_str(), pid)) return w;
      Pause(20);
    }
    return 0;
  }
  // Until (up to ms) no window of that title is left.
  bool WaitGone(const std::wstring& title, pid_t pid, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (!PlatTestFindWindowByTitle(title.c_str(), pid)) return true;
      Pause(20);
    }
    return false;
  }

  // Left click at (x, y) inside window w.
  void Click(uint64_t w, int x, int y) {
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(d_, Window(w), DefaultRootWindow(d_), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(d_, DefaultScreen(d_), rx, ry, CurrentTime);
    XTestFakeButtonEvent(d_, 1, True, CurrentTime);
    XTestFakeButtonEvent(d_, 1, False, CurrentTime);
    XSync(d_, False);
    Pause(150);
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

  // The window's pixels as packed 0xRRGGBB, row by row.
  std::vector<uint32_t> Pixels(uint64_t w, int x, int y, int width, int height) {
    std::vector<uint32_t> out;
    XImage* image = XGetImage(d_, Window(w), x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!image) return out;
    out.reserve(size_t(width) * size_t(height));
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) out.push_back(uint32_t(XGetPixel(image, i, j)) & 0xFFFFFFu);
    XDestroyImage(image);
    return out;
  }

 private:
  Display* d_;
};

// Where things are in the program's windows (Japanese, the first-run language).
constexpr int kFileMenuX = 35, kMenuY = 10;  // the title "ファイル" in the bar
constexpr int kItemX = 40;                   // popup items, relative to the main window
constexpr int kOpenImageY = 31, kSaveVideoY = 63;
constexpr int kNameBoxX = 246, kNameBoxY = 163;  // the chooser's name box
constexpr int kOkX = 128, kOkY = 197;            // the chooser's "OK"
constexpr int kBarY = 480;                       // the scene bar's buttons
constexpr int kStopX = 507, kStepBackX = 557, kStepForwardX = 588, kPlayForwardX = 620;
// The picture area that shows the scene (between the menu strip and the scene bar).
constexpr int kViewX = 40, kViewY = 40, kViewW = 560, kViewH = 400;
constexpr int kMeasureMenuX = 218;  // the title "計測" in the bar
constexpr int kMeasureItemX = 230;  // its popup's items, relative to the main window
constexpr int kAutoMeasureY = 31;

// Chooses an item of main's menu bar: the title at titleX, then the popup's item at (itemX,
// itemY), until a window titled title shows.  A loaded machine may take the item's click
// before the popup is there; the menu is then chosen again, with more time.  The window, or 0
// (with a picture of the screen in test_out/).
uint64_t ChooseMenu(Driver& x, uint64_t main, pid_t pid, int titleX, int itemX, int itemY, const std::wstring& title) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    x.Click(main, titleX, kMenuY);
    Pause(400 + 800 * attempt);
    x.Click(main, itemX, itemY);
    if (const uint64_t w = x.WaitWindow(title, pid, 10000)) return w;
  }
  (void)!std::system(("/usr/bin/import -window root '" QV_TEST_OUT_DIR "/quorvix_mini_e2e_menu.png'"));
  return 0;
}

// Opens through main's File menu: the item at itemY, the chooser titled title, the typed
// path over whatever the name box proposed, then OK.
void Choose(Driver& x, uint64_t main, pid_t pid, const std::string& dir, int itemY, const std::wstring& title,
            const std::string& typed) {
  const uint64_t chooser = ChooseMenu(x, main, pid, kFileMenuX, kItemX, itemY, title);
  ASSERT_NE(chooser, 0u) << ReadWholeFile(dir + "/stderr.txt");
  Pause(2000);  // built, drawn and in its loop (slow under sanitizers on a loaded machine)
  x.Click(chooser, kNameBoxX, kNameBoxY);
  Pause(300);
  ASSERT_TRUE(x.Key(XK_End));
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(x.Key(XK_BackSpace));
  ASSERT_TRUE(x.Type(typed)) << typed;
  Pause(1500);  // the typed name drawn before OK
  // A loaded machine may still be drawing the typed name when the click comes and let it
  // pass; OK again while the chooser is there.
  bool gone = false;
  for (int attempt = 0; attempt < 3 && !gone; ++attempt) {
    x.Click(chooser, kOkX, kOkY);
    gone = x.WaitGone(title, pid, 5000);
  }
  if (!gone)  // what the chooser showed, to see why
    (void)!std::system(("/usr/bin/import -window root '" QV_TEST_OUT_DIR "/quorvix_mini_e2e_chooser.png'"));
  ASSERT_TRUE(gone);
}

const std::wstring kOpenTitle = L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E";  // ファイルを選択

#endif  // QV_HAVE_XTEST

class ProgramEndToEndTest : public ::testing::Test {
 protected:
  // One server for all the tests here: this process's own display connection, opened by the
  // first test, stays with the server it first reached, and a server per test would cut it.
  static void SetUpTestSuite() { StartOwnServer(); }
  static void TearDownTestSuite() {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      WaitExit(server_, 5000);
      server_ = -1;
      if (!previousDisplay_.empty()) setenv("DISPLAY", previousDisplay_.c_str(), 1);
    }
  }
  void SetUp() override {
#if !QV_HAVE_XTEST
    GTEST_SKIP() << "built without the XTest extension library";
#else
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(x_.ok());
#endif
    ASSERT_TRUE(folder_.ok());
    ASSERT_EQ(std::system(("cp '" QV_PROGRAM "' '" + dir_ + "/quorvix-mini'").c_str()), 0);
  }
  void TearDown() override {
    if (pid_ > 0) {  // a step failed before the close: end the copy
      kill(pid_, SIGKILL);
      WaitExit(pid_, 5000);
    }
  }
  // Pointer clicks land on whatever window is on top, so other window tests sharing the
  // display could cover the chooser: where Xvfb is installed the tests get a server of their own.
  static void StartOwnServer() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"),
                    const_cast<char*>(fd.c_str()), const_cast<char*>("-screen"),
                    const_cast<char*>("0"), const_cast<char*>("1280x1024x24"),
                    const_cast<char*>("-nolisten"), const_cast<char*>("tcp"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/usr/bin/Xvfb", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      return;
    }
    server_ = pid;
    // The server writes its display number once it accepts connections.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    if (const char* d = getenv("DISPLAY")) previousDisplay_ = d;
    setenv("DISPLAY", (":" + number).c_str(), 1);
  }
#if QV_HAVE_XTEST
  // Starts the copy and waits for its main window's first drawing; 0 when it does not show.
  uint64_t StartMain(Driver& x) {
    if (Start() <= 0) return 0;
    const uint64_t main = x.WaitWindow(MainTitle(), pid_);
    if (main) Pause(500);  // its first drawing
    return main;
  }
  static std::wstring MainTitle() {
    return L"quorvix mini 1.9.2 - " + std::to_wstring(GetProcessorCount()) + L"core";
  }
#endif
  // The close request ends the program with status 0.
  void CloseMain(uint64_t main) {
    ASSERT_EQ(PlatTestRequestClose(main), 1);
    const int status = WaitExit(pid_, 20000);
    if (status >= 0) pid_ = -1;
    EXPECT_EQ(status, 0) << ReadWholeFile(dir_ + "/stderr.txt");
  }
  pid_t Start() {
    const std::string path = dir_ + "/quorvix-mini";
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string err = dir_ + "/stderr.txt";
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    pid_ = rc == 0 ? pid : -1;
    return pid_;
  }
  qvtest::TempFolder folder_{"program_e2e"};
  const std::string& dir_ = folder_.path();
  pid_t pid_ = -1;
  static inline pid_t server_ = -1;
  static inline std::string previousDisplay_;
#if QV_HAVE_XTEST
  Driver x_;  // on the tests' own server, which the suite starts first
#endif
};

TEST_F(ProgramEndToEndTest, OpensAPictureAndAVideoStepsPlaysStopsSavesAndCloses) {
#if QV_HAVE_XTEST
  Driver& x = x_;
  // Fixtures by independent tools: a 40 x 30 gradient PNG and a 30-frame 10 fps MJPEG AVI.
  ASSERT_EQ(std::system(("/usr/bin/convert -size 40x30 gradient:red-blue '" + dir_ + "/pic.png'").c_str()), 0);
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 30 "
                         "-c:v mjpeg -q:v 3 '" + dir_ + "/clip.avi'").c_str()),
            0);

  const uint64_t main = StartMain(x);
  ASSERT_NE(main, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
  const std::wstring base = MainTitle();
  const std::wstring saveTitle =
      L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E";  // 保存するファイル名を選択
  auto choose = [&](int itemY, const std::wstring& title, const std::string& typed) {
    Choose(x, main, pid_, dir_, itemY, title, typed);
  };

  // The PNG: the window names it and shows red at the top, blue at the bottom.
  choose(kOpenImageY, kOpenTitle, dir_ + "/pic.png");
  ASSERT_NE(x.WaitWindow(base + L"  pic.png", pid_), 0u);
  Pause(500);
  {
    const std::vector<uint32_t> top = x.Pixels(main, 320, 30, 1, 1), bottom = x.Pixels(main, 320, 490, 1, 1);
    ASSERT_EQ(top.size(), 1u);
    ASSERT_EQ(bottom.size(), 1u);
    EXPECT_GT(top[0] >> 16, 0xC0u) << std::hex << top[0];
    EXPECT_GT(bottom[0] & 0xFF, 0xC0u) << std::hex << bottom[0];
  }

  // The AVI, typed over the name the chooser proposes.
  choose(kOpenImageY, kOpenTitle, dir_ + "/clip.avi");
  ASSERT_NE(x.WaitWindow(base + L"  clip.avi", pid_), 0u);
  Pause(700);
  auto view = [&] { return x.Pixels(main, kViewX, kViewY, kViewW, kViewH); };
  const std::vector<uint32_t> first = view();
  ASSERT_EQ(first.size(), size_t(kViewW) * kViewH);

  // Step forward shows another scene; step back the first again, pixel for pixel.
  x.Click(main, kStepForwardX, kBarY);
  Pause(700);
  const std::vector<uint32_t> second = view();
  EXPECT_NE(second, first);
  x.Click(main, kStepBackX, kBarY);
  Pause(700);
  EXPECT_EQ(view(), first);

  // Play forward moves on by itself; stop holds the picture still, short of the end.
  x.Click(main, kPlayForwardX, kBarY);
  Pause(1200);  // about 12 of the 30 scenes at 10 fps
  x.Click(main, kStopX, kBarY);
  Pause(500);
  const std::vector<uint32_t> stopped = view();
  EXPECT_NE(stopped, first);
  EXPECT_NE(stopped, second);
  Pause(800);
  EXPECT_EQ(view(), stopped) << "still playing after stop";

  // The main window with the video, for a look.
  const std::string shot = std::string(QV_TEST_OUT_DIR) + "/quorvix_mini_e2e.png";
  EXPECT_EQ(std::system(("/usr/bin/import -window " + std::to_string(main) + " '" + shot + "'").c_str()), 0);

  // Save video as AVI: every scene, read back by ffprobe.
  choose(kSaveVideoY, saveTitle, dir_ + "/out.avi");
  const uint64_t done = x.WaitWindow(L"\x78BA\x8A8D", pid_, 60000);  // 確認: "セーブしました"
  ASSERT_NE(done, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
  Pause(300);
  x.Click(done, 65, 40);
  EXPECT_TRUE(x.WaitGone(L"\x78BA\x8A8D", pid_));
  const std::string probe =
      Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
              "stream=nb_read_frames,width,height -of csv=p=0 '" + dir_ + "/out.avi'");
  EXPECT_EQ(probe, "64,48,30\n");

  // Closing writes the settings file beside the program, remembering the folder used.
  CloseMain(main);
  const std::string settings = ReadWholeFile(dir_ + "/quorvix_duvu.cfg");
  EXPECT_EQ(settings.rfind("[quorvix] {\n cfg_ver 1\n", 0), 0u) << settings;
  EXPECT_NE(settings.find("\n last_dir " + dir_), std::string::npos) << settings;
#endif
}

// Measure > Auto measurement on a 640 x 480 picture holding a white area of 600 x 440.  On
// the default white background the island is the black frame around it, so the table lists
// the white area as its hole, "264000.000", and its total area "307200.000": ten characters
// where a column holds nine.  Read from the window's pixels: the column is as wide as ten
// characters and both numbers start where ten characters, right-aligned, start.
TEST_F(ProgramEndToEndTest, AutoMeasurementShowsALargeAreaWhole) {
#if QV_HAVE_XTEST
  Driver& x = x_;
  ASSERT_EQ(std::system(("/usr/bin/convert -size 640x480 xc:black -fill white -draw 'rectangle 20,20 619,459' "
                         "-type Grayscale -depth 8 '" + dir_ + "/area.png'").c_str()),
            0);
  const uint64_t main = StartMain(x);
  ASSERT_NE(main, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
  Choose(x, main, pid_, dir_, kOpenImageY, kOpenTitle, dir_ + "/area.png");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_NE(x.WaitWindow(MainTitle() + L"  area.png", pid_), 0u);
  Pause(500);

  const uint64_t table =
      ChooseMenu(x, main, pid_, kMeasureMenuX, kMeasureItemX, kAutoMeasureY, L"\x81EA\x52D5\x8A08\x6E2C");  // 自動計測
  ASSERT_NE(table, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
  Pause(2000);  // the frame measured and the table drawn
  const std::string shot = std::string(QV_TEST_OUT_DIR) + "/quorvix_mini_e2e_auto_measurement.png";
  EXPECT_EQ(std::system(("/usr/bin/import -window " + std::to_string(table) + " '" + shot + "'").c_str()), 0);

  // The grid below the menu line: header cells are raised, with a black line along their
  // right and bottom.  The top-left cell's bottom line gives the row pitch, the header
  // row's right lines the columns' edges.
  const int w = 300, h = 200;
  const std::vector<uint32_t> px = x.Pixels(table, 0, 0, w, h);
  ASSERT_EQ(px.size(), size_t(w) * h);
  auto at = [&](int i, int j) { return px[size_t(j) * w + i]; };
  int top = -1;  // the grid's first row: the header's white top line under the menu's face
  for (int j = 1; j < h && top < 0; ++j)
    if (at(2, j) == 0xFFFFFFu && at(2, j - 1) != 0xFFFFFFu) top = j;
  ASSERT_GT(top, 0);
  int pitch = -1;
  for (int j = top + 1; j < h && pitch < 0; ++j)
    if (at(2, j) == 0) pitch = j - top + 1;
  ASSERT_GT(pitch, 8);
  const int half = (pitch - 4) / 2;
  std::vector<int> edges;
  for (int i = 0; i < w; ++i)
    if (at(i, top + 1) == 0) edges.push_back(i);
  ASSERT_GE(edges.size(), 2u);
  const int x0 = edges[0] + 1, x1 = edges[1];  // the first island's column
  EXPECT_GE(x1 - x0 + 1, 10 * half + 4) << "the column holds fewer than ten characters";
  // Rows 7 and 8, the hole's area and the total area: their ink starts where ten
  // right-aligned characters start.
  for (int row : {7, 8}) {
    const int y0 = top + row * pitch;
    int left = w, right = -1;
    for (int j = y0 + 1; j < y0 + pitch - 1; ++j)
      for (int i = x0; i <= x1; ++i) {
        const uint32_t c = at(i, j);
        if ((c >> 16) < 100 && ((c >> 8) & 0xFF) < 100 && (c & 0xFF) < 100) {
          left = std::min(left, i);
          right = std::max(right, i);
        }
      }
    ASSERT_GE(right, 0) << "no number in row " << row;
    EXPECT_GE(left, x1 - 1 - 10 * half) << row;
    EXPECT_LT(left, x1 - 1 - 9 * half) << row;
    EXPECT_GT(left, x0 + 1) << row;
  }

  CloseMain(main);
#endif
}

}  // namespace
