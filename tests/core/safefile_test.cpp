// safefile_test.cpp - the replace-after-good-close save: the target changes only when every
// byte was written, and no temporary is ever left beside it.
#include "core/safefile.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/temp_folder.h"

#include <csignal>
#include <string>
#include <vector>

namespace {

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    if (d) closedir(d);
    return names;
  }
  static std::string Read(const std::string& path) { return qvtest::ReadWholeFile(path); }
  static void Write(const std::string& path, const std::string& text) {
    qvtest::WriteWholeFile(path, text);
  }
  qvtest::TempFolder folder_{"safefile"};
  const std::string& dir_ = folder_.path();
};

TEST_F(SafeFileTest, CommitReplacesTheTargetAndLeavesNoTemporary) {
  const std::string path = dir_ + "/settings.cfg";
  Write(path, "old");
  SafeFile f;
  ASSERT_EQ(SafeFileOpen(&f, path.c_str()), 1);
  fputs("new contents\n", f.stream);
  EXPECT_EQ(Read(path), "old");  // nothing visible before the commit
  EXPECT_EQ(SafeFileCommit(&f), 1);
  EXPECT_EQ(f.stream, nullptr);
  EXPECT_EQ(Read(path), "new contents\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"settings.cfg"});
}

TEST_F(SafeFileTest, NewFileThroughTheWidePath) {
  const std::string path = dir_ + "/\u8a2d\u5b9a.cfg";
  SafeFile f;
  ASSERT_EQ(SafeFileOpenWide(&f, (std::wstring(dir_.begin(), dir_.end()) + L"/\u8a2d\u5b9a.cfg").c_str()), 1);
  fputs("x", f.stream);
  ASSERT_EQ(SafeFileCommit(&f), 1);
  EXPECT_EQ(Read(path), "x");
}

TEST_F(SafeFileTest, AbortKeepsTheOldFile) {
  const std::string path = dir_ + "/list.txt";
  Write(path, "old");
  SafeFile f;
  ASSERT_EQ(SafeFileOpen(&f, path.c_str()), 1);
  fputs("half", f.stream);
  SafeFileAbort(&f);
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(), std::vector<std::string>{"list.txt"});
  SafeFileAbort(&f);  // an empty record does nothing
}

// A write that runs out of room (here the file-size limit, as a full disk would) fails the
// commit; the old settings survive whole.
TEST_F(SafeFileTest, FailedWriteKeepsTheOldFile) {
  const std::string path = dir_ + "/table.csv";
  Write(path, "old table");
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  SafeFile f;
  ASSERT_EQ(SafeFileOpen(&f, path.c_str()), 1);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string big(100000, 'z');
  fwrite(big.data(), 1, big.size(), f.stream);
  const int ok = SafeFileCommit(&f);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(Read(path), "old table");
  EXPECT_EQ(Entries(), std::vector<std::string>{"table.csv"});
}

TEST_F(SafeFileTest, PermissionBitsOfTheOldFileStay) {
  const std::string path = dir_ + "/track.txt";
  Write(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  SafeFile f;
  ASSERT_EQ(SafeFileOpen(&f, path.c_str()), 1);
  fputs("new", f.stream);
  ASSERT_EQ(SafeFileCommit(&f), 1);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A link stays a link and its file gets the new text; a device is written in place, never
// replaced by a regular file (a rename over /dev/full would swap the device node away).
TEST_F(SafeFileTest, LinksAndDevices) {
  const std::string real = dir_ + "/real.cfg";
  const std::string link = dir_ + "/link.cfg";
  Write(real, "old");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  SafeFile f;
  ASSERT_EQ(SafeFileOpen(&f, link.c_str()), 1);
  fputs("new", f.stream);
  ASSERT_EQ(SafeFileCommit(&f), 1);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Read(real), "new");

  ASSERT_EQ(SafeFileOpen(&f, "/dev/full"), 1);
  EXPECT_EQ(f.temporary, nullptr);
  fputs("x", f.stream);
  EXPECT_EQ(SafeFileCommit(&f), 0);  // no room on that device
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  ASSERT_EQ(SafeFileOpen(&f, "/dev/null"), 1);
  fputs("x", f.stream);
  EXPECT_EQ(SafeFileCommit(&f), 1);
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(SafeFileTest, RefusedPaths) {
  SafeFile f;
  EXPECT_EQ(SafeFileOpen(&f, nullptr), 0);
  EXPECT_EQ(SafeFileOpen(&f, ""), 0);
  EXPECT_EQ(SafeFileOpen(&f, (dir_ + "/").c_str()), 0);
  EXPECT_EQ(SafeFileOpen(&f, (dir_ + "/missing/x.cfg").c_str()), 0);
  EXPECT_EQ(f.stream, nullptr);
  EXPECT_EQ(SafeFileOpenWide(&f, nullptr), 0);
  EXPECT_EQ(SafeFileCommit(&f), 0);
  EXPECT_TRUE(Entries().empty());
}

// A pid that names no process: a child that has ended and been reaped.
long DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return long(child);
}

// A save sweeps its folder of temporaries whose process is gone, and only of those: a name
// that merely looks alike, a live process's temporary (our own, or init's), a folder or a
// link of that name all stay.
TEST_F(SafeFileTest, SaveSweepsTemporariesOfEndedProcessesOnly) {
  const std::string dead = std::to_string(DeadPid());
  const std::string self = std::to_string(long(getpid()));
  struct Case {
    std::string name;
    bool removed;
  };
  const Case cases[] = {
      {".qvsave-" + dead + "-0-0.tmp", true},
      {".qvsave-" + dead + "-17-3.tmp", true},
      {".qvsave-" + self + "-9999-0.tmp", false},  // this process: another thread may be saving
      {".qvsave-1-0-0.tmp", false},                // init runs
      {".qvsave-" + dead + "-0-0.tmp.bak", false},
      {"qvsave-" + dead + "-0-0.tmp", false},
      {".qvsave-" + dead + "-0.tmp", false},
      {".qvsave-" + dead + "-x-0.tmp", false},
      {".qvsave--0-0.tmp", false},
      {".qvsave-0-0-0.tmp", false},
      {".qvsave-99999999999999999999-0-0.tmp", false},
      {"notes.txt", false},
  };
  for (const Case& c : cases) Write(dir_ + "/" + c.name, "left");
  const std::string folderName = ".qvsave-" + dead + "-1-0.tmp";
  ASSERT_EQ(mkdir((dir_ + "/" + folderName).c_str(), 0755), 0);
  const std::string linkName = ".qvsave-" + dead + "-2-0.tmp";
  ASSERT_EQ(symlink("notes.txt", (dir_ + "/" + linkName).c_str()), 0);

  SafeFile f;
  ASSERT_EQ(SafeFileOpen(&f, (dir_ + "/settings.cfg").c_str()), 1);
  fputs("x", f.stream);
  ASSERT_EQ(SafeFileCommit(&f), 1);
  for (const Case& c : cases) {
    struct stat st;
    EXPECT_EQ(lstat((dir_ + "/" + c.name).c_str(), &st) != 0, c.removed) << c.name;
  }
  struct stat st;
  EXPECT_EQ(lstat((dir_ + "/" + folderName).c_str(), &st), 0);
  EXPECT_EQ(lstat((dir_ + "/" + linkName).c_str(), &st), 0);
  EXPECT_EQ(Read(dir_ + "/notes.txt"), "left");

  // The sweep on its own, as the program runs it at start in its settings folder.
  Write(dir_ + "/.qvsave-" + dead + "-5-0.tmp", "left");
  SafeFileSweepWide((std::wstring(dir_.begin(), dir_.end()) + L"/settings.cfg").c_str());
  EXPECT_NE(lstat((dir_ + "/.qvsave-" + dead + "-5-0.tmp").c_str(), &st), 0);
}

// For writers that open the file by name: the temporary exists, closed, until the commit
// renames it; an abort removes it; a device is written in place.
TEST_F(SafeFileTest, ReserveForAWriterThatOpensByName) {
  const std::string path = dir_ + "/clip.avi";
  Write(path, "old");
  SafeFile f;
  ASSERT_EQ(SafeFileReserve(&f, path.c_str(), 1), 1);
  ASSERT_NE(f.temporary, nullptr);
  EXPECT_EQ(f.stream, nullptr);
  EXPECT_STREQ(SafeFileWritePath(&f), f.temporary);
  Write(SafeFileWritePath(&f), "new");
  EXPECT_EQ(Read(path), "old");
  ASSERT_EQ(SafeFileCommitClosed(&f), 1);
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Entries(), std::vector<std::string>{"clip.avi"});

  ASSERT_EQ(SafeFileReserve(&f, path.c_str(), 1), 1);
  Write(SafeFileWritePath(&f), "half");
  SafeFileAbort(&f);
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Entries(), std::vector<std::string>{"clip.avi"});

  ASSERT_EQ(SafeFileReserve(&f, "/dev/null", 1), 1);
  EXPECT_EQ(f.temporary, nullptr);
  EXPECT_STREQ(SafeFileWritePath(&f), "/dev/null");
  EXPECT_EQ(SafeFileCommitClosed(&f), 1);

  EXPECT_EQ(SafeFileReserve(&f, (dir_ + "/missing/x.avi").c_str(), 1), 0);
  EXPECT_EQ(SafeFileWritePath(&f), nullptr);
  EXPECT_EQ(SafeFileCommitClosed(&f), 0);
}

// Where no temporary can be made in the folder but the file itself may be written, the
// writer writes it in place; a new file in such a folder cannot be made at all.  (Root
// writes any folder, so this needs an ordinary user.)
TEST_F(SafeFileTest, ReserveWritesInPlaceWhereTheFolderIsClosed) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any folder";
  const std::string sub = dir_ + "/closed";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::string path = sub + "/clip.avi";
  Write(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(chmod(sub.c_str(), 0555), 0);
  SafeFile f;
  ASSERT_EQ(SafeFileReserve(&f, path.c_str(), 1), 1);
  EXPECT_EQ(f.temporary, nullptr);
  EXPECT_STREQ(SafeFileWritePath(&f), path.c_str());
  EXPECT_EQ(SafeFileCommitClosed(&f), 1);
  EXPECT_EQ(SafeFileReserve(&f, (sub + "/new.avi").c_str(), 1), 0);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(SafeFileReserve(&f, path.c_str(), 1), 0);
  chmod(sub.c_str(), 0755);
}

}  // namespace
