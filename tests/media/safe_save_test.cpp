// safe_save_test.cpp - saves over an existing file: a save killed at any moment leaves the
// whole old or the whole new file, a save that fails part way leaves the old file and no
// temporary, and the temporaries a killed save left are swept by the next save there.
// Inside: helpers - killed saves - failed saves - numbered sequences
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/safefile.h"
#include "media/media_file.h"
#include "tests/temp_folder.h"

namespace {

// ---------------------------------------------------------------------------------------
// Helpers

enum class Kind { Avi, Mp4, Tiff, Csv, Png, Jpeg, Bmp };

struct KindCase {
  Kind kind;
  const char* ext;
  uint64_t frames;  // frames (pages) of the large save
};

// A pattern that differs with the seed everywhere, so an old and a new file never share a
// long run of bytes that could hide a torn file.
std::vector<uint8_t> Frame(int w, int h, int n, int seed) {
  std::vector<uint8_t> f(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &f[(size_t(y) * w + x) * 3];
      p[0] = uint8_t(x * 3 + n * 7 + seed * 40);
      p[1] = uint8_t(y * 5 + n * 3 + seed * 90);
      p[2] = uint8_t((x + y) + seed * 17);
    }
  return f;
}

constexpr int kWidth = 320, kHeight = 240;

// One whole save of `frames` frames of the seed's pattern to path; 1 when the handle (or
// the safe file) reported success.
int Save(Kind kind, const std::string& path, uint64_t frames, int seed) {
  if (kind == Kind::Csv) {
    SafeFile out;
    if (!SafeFileOpen(&out, path.c_str())) return 0;
    char line[128];
    for (uint64_t r = 0; r < frames; ++r) {
      snprintf(line, sizeof line, "%llu,%d,%llu.%03d,\"label %d\"\r\n", (unsigned long long)r, seed,
               (unsigned long long)(r * 37 + seed), seed * 11 % 1000, seed);
      fputs(line, out.stream);
    }
    return SafeFileCommit(&out);
  }
  const int video = kind == Kind::Avi || kind == Kind::Mp4;
  MediaInfo info{0, 1, frames, 3, kWidth, kHeight, video ? 40000u : 0u};
  MediaWriteOptions options{};
  options.jpegQuality = 90;
  options.h264QualityPct = 90;
  std::wstring wide(path.begin(), path.end());
  MediaFile* file = MediaCreate(wide.c_str(), &info, &options);
  if (!file) return 0;
  int ok = 1;
  for (uint64_t i = 0; i < frames && ok; ++i) {
    const std::vector<uint8_t> f = Frame(kWidth, kHeight, int(i), seed);
    ok = MediaWriteFrame(file, 0, 0, f.data());
  }
  const int closed = MediaClose(file);
  return ok && closed;
}

std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> found;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = d ? readdir(d) : nullptr)
    if (strncmp(e->d_name, ".qvsave-", 8) == 0) found.push_back(e->d_name);
  if (d) closedir(d);
  return found;
}

// Size of the largest temporary in the folder; -1 when there is none.
long long TemporarySize(const std::string& dir) {
  long long size = -1;
  for (const std::string& name : Temporaries(dir)) {
    struct stat st;
    if (stat((dir + "/" + name).c_str(), &st) == 0 && st.st_size > size) size = st.st_size;
  }
  return size;
}

std::string Describe(const std::string& got, const std::string& old, const std::string& fresh) {
  return "target of " + std::to_string(got.size()) + " bytes; old " + std::to_string(old.size()) + ", new " +
         std::to_string(fresh.size());
}

// ---------------------------------------------------------------------------------------
// Killed saves

class KilledSave : public ::testing::TestWithParam<KindCase> {};

// The child saves the new file over the old one; the parent kills it at a moment chosen
// by how far its temporary has grown (nothing yet, a third, two thirds, all of it: the
// sync and rename), or after a pseudo-random delay.  Wherever the kill lands the target
// is one whole file; the moment only decides which.
TEST_P(KilledSave, TargetIsTheWholeOldOrTheWholeNewFile) {
  const KindCase c = GetParam();
  qvtest::TempFolder ref("safe_ref"), work("safe_kill");
  ASSERT_TRUE(ref.ok() && work.ok());
  const std::string name = std::string("target.") + c.ext;
  const std::string oldPath = ref.File(std::string("old.") + c.ext), newPath = ref.File(std::string("new.") + c.ext);
  ASSERT_EQ(Save(c.kind, oldPath, c.frames, 1), 1);
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  ASSERT_EQ(Save(c.kind, newPath, c.frames, 2), 1);
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double took = double(end.tv_sec - start.tv_sec) * 1e6 + double(end.tv_nsec - start.tv_nsec) / 1e3;
  const std::string oldBytes = qvtest::ReadWholeFile(oldPath), newBytes = qvtest::ReadWholeFile(newPath);
  ASSERT_GT(newBytes.size(), 100000u);
  ASSERT_NE(oldBytes, newBytes);

  const std::string target = work.File(name);
  const long long full = (long long)newBytes.size();
  // Kill points: temporary sizes, then delays as fractions of how long the same save took
  // here (the last ones may land in the sync and rename, or after the end).
  const long long sizes[] = {0, full / 3, 2 * full / 3, full};
  const double delays[] = {0.3, 0.8, 0.95, 1.05, 1.3};
  int outcomesOld = 0, outcomesNew = 0;
  for (int moment = 0; moment < 9; ++moment) {
    qvtest::WriteWholeFile(target, oldBytes);
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(Save(c.kind, target, c.frames, 2) ? 0 : 1);
    if (moment < 4) {
      // Poll until the temporary reaches the size, or the child has finished on its own.
      int status = 0;
      for (;;) {
        if (TemporarySize(work.path()) >= sizes[moment]) break;
        if (waitpid(child, &status, WNOHANG) == child) break;
        usleep(200);
      }
    } else {
      usleep(useconds_t(delays[moment - 4] * took));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);  // reaped: a zombie would still count as a running process
    const std::string got = qvtest::ReadWholeFile(target);
    EXPECT_TRUE(got == oldBytes || got == newBytes) << c.ext << " kill " << moment << ": "
                                                    << Describe(got, oldBytes, newBytes);
    (got == oldBytes ? outcomesOld : outcomesNew) += 1;
  }
  // The next save in that folder sweeps what the killed children left.
  ASSERT_EQ(Save(c.kind, work.File(std::string("other.") + c.ext), 1, 3), 1);
  EXPECT_TRUE(Temporaries(work.path()).empty()) << Temporaries(work.path()).size() << " left";
  RecordProperty("old_kept", outcomesOld);
  RecordProperty("new_whole", outcomesNew);
}

INSTANTIATE_TEST_SUITE_P(Formats, KilledSave,
                         ::testing::Values(KindCase{Kind::Avi, "avi", 60}, KindCase{Kind::Mp4, "mp4", 40},
                                           KindCase{Kind::Tiff, "tif", 60}, KindCase{Kind::Csv, "csv", 300000}),
                         [](const ::testing::TestParamInfo<KindCase>& info) {
                           return std::string(info.param.ext);
                         });

// ---------------------------------------------------------------------------------------
// Failed saves

// A write that runs out of room part way (the file-size limit, as a full disk would):
// the save reports failure, the old file stays byte for byte and no temporary is left.
TEST(FailedSave, OldFileStaysAndNoTemporary) {
  const KindCase cases[] = {{Kind::Avi, "avi", 30}, {Kind::Mp4, "mp4", 30}, {Kind::Tiff, "tif", 30},
                            {Kind::Csv, "csv", 100000}, {Kind::Png, "png", 1}, {Kind::Jpeg, "jpg", 1},
                            {Kind::Bmp, "bmp", 1}};
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.ext);
    qvtest::TempFolder work("safe_fail");
    ASSERT_TRUE(work.ok());
    const std::string target = work.File(std::string("target.") + c.ext);
    // The limit is half the new file's size, found by a save without it; the old file is
    // larger than the limit: only the new one's writes meet it.
    const std::string probe = work.File(std::string("probe.") + c.ext);
    ASSERT_EQ(Save(c.kind, probe, c.frames, 2), 1);
    const size_t full = qvtest::ReadWholeFile(probe).size();
    ASSERT_EQ(unlink(probe.c_str()), 0);
    const std::string oldBytes(full + 1000, 'o');
    qvtest::WriteWholeFile(target, oldBytes);

    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = full / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int ok = Save(c.kind, target, c.frames, 2);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(qvtest::ReadWholeFile(target) == oldBytes);
    EXPECT_TRUE(Temporaries(work.path()).empty());
  }
}

// A frame refused part way through a video (here a write that fails mid-file) makes the
// close report failure even though the writer could finish its headers: a file with a
// frame missing must not replace the old one.
TEST(FailedSave, CloseAfterAFailedFrameKeepsTheOldFile) {
  qvtest::TempFolder work("safe_frame");
  ASSERT_TRUE(work.ok());
  const std::string target = work.File("clip.avi");
  const std::string oldBytes = "old video bytes";
  qvtest::WriteWholeFile(target, oldBytes);
  MediaInfo info{0, 1, 3, 3, kWidth, kHeight, 40000};
  MediaFile* file = MediaCreate(qvtest::Utf8Wide(target).c_str(), &info, nullptr);
  ASSERT_NE(file, nullptr);
  const std::vector<uint8_t> f = Frame(kWidth, kHeight, 0, 1);
  ASSERT_EQ(MediaWriteFrame(file, 0, 0, f.data()), 1);
  EXPECT_EQ(qvtest::ReadWholeFile(target), oldBytes);  // nothing visible before the close

  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 300000;  // the second frame crosses it
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int second = MediaWriteFrame(file, 0, 0, f.data());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(MediaClose(file), 0);
  EXPECT_EQ(qvtest::ReadWholeFile(target), oldBytes);
  EXPECT_TRUE(Temporaries(work.path()).empty());
}

// The whole life of a save: the target keeps the old bytes until the close, the temporary
// keeps the old file's permission bits, and a create refused by the writer leaves nothing.
TEST(SafeMediaSave, TargetChangesOnlyAtTheClose) {
  qvtest::TempFolder work("safe_life");
  ASSERT_TRUE(work.ok());
  const std::string target = work.File("still.png");
  qvtest::WriteWholeFile(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  MediaInfo info{0, 1, 1, 3, 8, 8, 0};
  MediaFile* file = MediaCreate(qvtest::Utf8Wide(target).c_str(), &info, nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(Temporaries(work.path()).size(), 1u);
  const std::vector<uint8_t> f = Frame(8, 8, 0, 1);
  ASSERT_EQ(MediaWriteFrame(file, 0, 0, f.data()), 1);
  EXPECT_EQ(qvtest::ReadWholeFile(target), "old");
  ASSERT_EQ(MediaClose(file), 1);
  EXPECT_EQ(qvtest::ReadWholeFile(target).substr(1, 3), "PNG");
  EXPECT_TRUE(Temporaries(work.path()).empty());
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // An MP4 of 2 bytes per pixel is refused by its writer after the temporary was made.
  const std::string movie = work.File("clip.mp4");
  qvtest::WriteWholeFile(movie, "old movie");
  MediaInfo gray16{0, 1, 2, 2, 16, 16, 40000};
  EXPECT_EQ(MediaCreate(qvtest::Utf8Wide(movie).c_str(), &gray16, nullptr), nullptr);
  EXPECT_EQ(qvtest::ReadWholeFile(movie), "old movie");
  EXPECT_TRUE(Temporaries(work.path()).empty());
}

// A folder the user may not write, a file they may: the save writes the file in place, as
// before saves went through a temporary.  (Root writes any folder: needs an ordinary user.)
TEST(SafeMediaSave, ClosedFolderWritableFileIsWrittenInPlace) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any folder";
  qvtest::TempFolder work("safe_closed");
  ASSERT_TRUE(work.ok());
  const std::string sub = work.File("closed");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::string target = sub + "/clip.avi";
  qvtest::WriteWholeFile(target, "old");
  ASSERT_EQ(chmod(sub.c_str(), 0555), 0);
  EXPECT_EQ(Save(Kind::Avi, target, 2, 1), 1);
  EXPECT_EQ(qvtest::ReadWholeFile(target).substr(0, 4), "RIFF");
  EXPECT_EQ(Save(Kind::Tiff, sub + "/new.tif", 1, 1), 0);  // no new file in that folder
  chmod(sub.c_str(), 0755);
}

// ---------------------------------------------------------------------------------------
// Numbered sequences

// Each file of a numbered sequence is its own save: a failure at the third file leaves the
// two before it saved, the third's old file whole, and no temporary.
TEST(SafeMediaSave, NumberedSequenceSavesEachFileOnItsOwn) {
  qvtest::TempFolder work("safe_seq");
  ASSERT_TRUE(work.ok());
  for (int i = 1; i <= 3; ++i) qvtest::WriteWholeFile(work.File("f0" + std::to_string(i) + ".bmp"), "old");
  MediaInfo info{0, 1, 3, 3, kWidth, kHeight, 0};
  MediaFile* seq = MediaCreateSequence(qvtest::Utf8Wide(work.File("f01.bmp")).c_str(), &info, nullptr);
  ASSERT_NE(seq, nullptr);
  const std::vector<uint8_t> f = Frame(kWidth, kHeight, 0, 1);
  ASSERT_EQ(MediaWriteFrame(seq, 0, 0, f.data()), 1);
  ASSERT_EQ(MediaWriteFrame(seq, 0, 0, f.data()), 1);
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int third = MediaWriteFrame(seq, 0, 0, f.data());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(third, 0);
  EXPECT_EQ(MediaClose(seq), 1);  // the handle itself holds no file
  EXPECT_EQ(qvtest::ReadWholeFile(work.File("f01.bmp")).substr(0, 2), "BM");
  EXPECT_EQ(qvtest::ReadWholeFile(work.File("f02.bmp")).substr(0, 2), "BM");
  EXPECT_EQ(qvtest::ReadWholeFile(work.File("f03.bmp")), "old");
  EXPECT_TRUE(Temporaries(work.path()).empty());
}

}  // namespace
