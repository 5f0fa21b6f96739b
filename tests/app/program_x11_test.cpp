// program_x11_test.cpp - the program itself: a copy of quorvix-mini in a temporary folder
// starts on the X server with its title and size, a screenshot goes to test_out/, the
// window manager's close request ends it with status 0, and it leaves the first-run
// settings file beside itself; at start it sweeps that folder of the temporaries a killed
// run left.  Without a display it says so on stderr and exits with 1.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "core/parallel.h"
#include "platform/window.h"
#include "tests/app/program_test_util.h"
#include "tests/temp_folder.h"

extern char** environ;

namespace {

using qvtest::ReadWholeFile;

using qvtest::Capture;
using qvtest::WaitExit;

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    ASSERT_EQ(std::system(("cp '" QV_PROGRAM "' '" + dir_ + "/quorvix-mini'").c_str()), 0);
  }
  pid_t Start(char** env) {
    return qvtest::SpawnProgram(dir_ + "/quorvix-mini", dir_ + "/stderr.txt", env);
  }
  qvtest::TempFolder folder_{"program"};
  const std::string& dir_ = folder_.path();
};

TEST_F(ProgramTest, StartsShowsItsWindowAndClosesWithItsSettingsFile) {
  if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
  // Beside the settings: the temporary of a settings write killed in an earlier run (its
  // process gone), one of a process that still runs (this test), and a file of the user's.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string stale = dir_ + "/.qvsave-" + std::to_string(gone) + "-0-0.tmp";
  const std::string live = dir_ + "/.qvsave-" + std::to_string(getpid()) + "-0-0.tmp";
  const std::string users = dir_ + "/.qvsave-notes.tmp";
  for (const std::string& p : {stale, live, users}) qvtest::WriteWholeFile(p, "x");
  const pid_t pid = Start(environ);
  ASSERT_GT(pid, 0);
  const std::wstring title = L"quorvix mini 1.9.2 - " + std::to_wstring(GetProcessorCount()) + L"core";
  uint64_t window = 0;
  for (int i = 0; i < 500 && !window; ++i) {
    window = PlatTestFindWindowByTitle(title.c_str(), pid);
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!window) kill(pid, SIGKILL);
  ASSERT_NE(window, 0u) << ReadWholeFile(dir_ + "/stderr.txt");
  // Swept at start, before any save: the window is up, the exit's settings write not yet.
  EXPECT_NE(access(stale.c_str(), F_OK), 0);
  EXPECT_EQ(access(live.c_str(), F_OK), 0);
  EXPECT_EQ(access(users.c_str(), F_OK), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // its first drawing
  const std::string id = std::to_string(window);
  const std::string info = Capture("xwininfo -id " + id);
  EXPECT_NE(info.find("Width: 640"), std::string::npos) << info;
  EXPECT_NE(info.find("Height: 500"), std::string::npos) << info;
  const std::string shot = std::string(QV_TEST_OUT_DIR) + "/quorvix_mini.png";
  EXPECT_EQ(std::system(("/usr/bin/import -window " + id + " '" + shot + "'").c_str()), 0);

  ASSERT_EQ(PlatTestRequestClose(window), 1);
  const int status = WaitExit(pid, 20000);
  if (status < 0) kill(pid, SIGKILL);
  EXPECT_EQ(status, 0) << ReadWholeFile(dir_ + "/stderr.txt");
  const std::string settings = ReadWholeFile(dir_ + "/quorvix_duvu.cfg");
  EXPECT_EQ(settings.rfind("[quorvix] {\n cfg_ver 1\n use_cpu " + std::to_string(GetProcessorCount()) +
                               "\n last_dir \n wheel_mode 2\n",
                           0),
            0u)
      << settings;
  EXPECT_NE(settings.find(" lang jp\n axis_y 1\n scale 1\n unit \n ext png\n"), std::string::npos);
}

TEST_F(ProgramTest, WithoutADisplayItSaysSoAndFails) {
  std::string display = "DISPLAY=:" + std::to_string(9000 + getpid() % 1000);  // no server there
  char* env[] = {const_cast<char*>(display.c_str()), nullptr};
  const pid_t pid = Start(env);
  ASSERT_GT(pid, 0);
  const int status = WaitExit(pid, 20000);
  if (status < 0) kill(pid, SIGKILL);
  EXPECT_EQ(status, 1);
  EXPECT_NE(ReadWholeFile(dir_ + "/stderr.txt").find("no display"), std::string::npos);
}

}  // namespace
