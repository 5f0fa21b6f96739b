// program_e2e_x11_test.cpp - the program end to end, as a user drives it: a copy of
// quorvix-mini in a temporary folder, only synthetic X input (XTest pointer and keys).
// File > Open image with a PNG typed into the chooser, then an AVI typed over the name the
// chooser proposes; the scene bar's step forward / step back / play / stop buttons change
// the picture as they should; File > Save video writes an AVI that ffprobe reads with every
// frame; a screenshot of the main window goes to test_out/; the close request ends the
// program with status 0 and the settings file remembers the folder used.
// There is no window manager: the chooser has to take the keyboard itself.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

#endif  // QV_HAVE_XTEST

class ProgramEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    StartOwnServer();
    ASSERT_EQ(std::system(("cp '" QV_PROGRAM "' '" + dir_ + "/quorvix-mini'").c_str()), 0);
  }
  void TearDown() override {
    if (pid_ > 0) {  // a step failed before the close: end the copy
      kill(pid_, SIGKILL);
      WaitExit(pid_, 5000);
    }
    if (server_ > 0) {
      kill(server_, SIGTERM);
      WaitExit(server_, 5000);
      if (!previousDisplay_.empty()) setenv("DISPLAY", previousDisplay_.c_str(), 1);
    }
  }
  // Pointer clicks land on whatever window is on top, so other window tests sharing the
  // display could cover the chooser: where Xvfb is installed the test gets a server of its own.
  void StartOwnServer() {
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
  pid_t server_ = -1;
  std::string previousDisplay_;
};

TEST_F(ProgramEndToEndTest, OpensAPictureAndAVideoStepsPlaysStopsSavesAndCloses) {
#if !QV_HAVE_XTEST
  GTEST_SKIP() << "built without the XTest extension library";
#else
  if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
  Driver x;
  ASSERT_TRUE(x.ok());
  // Fixtures by independent tools: a 40 x 30 gradient PNG and a 30-frame 10 fps MJPEG AVI.
  ASSERT_EQ(std::system(("/usr/bin/convert -size 40x30 gradient:red-blue '" + dir_ + "/pic.png'").c_str()), 0);
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 30 "
                         "-c:v mjpeg -q:v 3 '" + dir_ + "/clip.avi'").c_str()),
            0);

  ASSERT_GT(Start(), 0);
  const std::wstring base = L"quorvix mini 1.9.2 - " + std::to_wstring(GetProcessorCount()) + L"core";
  const uint64_t main = x.WaitWindow(base, pid_);
  ASSERT_NE(main, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
  Pause(500);  // its first drawing
  const std::wstring openTitle = L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E";  // ファイルを選択
  const std::wstring saveTitle =
      L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E";  // 保存するファイル名を選択

  // Opens through the File menu: item at y, the chooser titled title, the typed path over
  // whatever the name box proposed, then OK.
  auto choose = [&](int itemY, const std::wstring& title, const std::string& typed) {
    x.Click(main, kFileMenuX, kMenuY);
    Pause(400);
    x.Click(main, kItemX, itemY);
    const uint64_t chooser = x.WaitWindow(title, pid_);
    ASSERT_NE(chooser, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
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
      gone = x.WaitGone(title, pid_, 5000);
    }
    if (!gone)  // what the chooser showed, to see why
      (void)!std::system(("/usr/bin/import -window root '" QV_TEST_OUT_DIR "/quorvix_mini_e2e_chooser.png'"));
    ASSERT_TRUE(gone);
  };

  // The PNG: the window names it and shows red at the top, blue at the bottom.
  choose(kOpenImageY, openTitle, dir_ + "/pic.png");
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
  choose(kOpenImageY, openTitle, dir_ + "/clip.avi");
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
  ASSERT_EQ(PlatTestRequestClose(main), 1);
  const int status = WaitExit(pid_, 20000);
  if (status >= 0) pid_ = -1;
  EXPECT_EQ(status, 0) << ReadWholeFile(dir_ + "/stderr.txt");
  const std::string settings = ReadWholeFile(dir_ + "/quorvix_duvu.cfg");
  EXPECT_EQ(settings.rfind("[quorvix] {\n cfg_ver 1\n", 0), 0u) << settings;
  EXPECT_NE(settings.find("\n last_dir " + dir_), std::string::npos) << settings;
#endif
}

}  // namespace
