// safefile.cpp - temporary beside the target, flush, sync, close, rename; the sweep of
// temporaries that a killed process left behind.
// Inside: names - sweep - open and reserve - commit and abort
#include "core/safefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/text.h"

namespace {

std::atomic<unsigned> g_counter{0};

constexpr char kTempPrefix[] = ".qvsave-";
constexpr char kTempSuffix[] = ".tmp";

void Release(SafeFile* file) {
  free(file->target);
  free(file->temporary);
  file->target = nullptr;
  file->temporary = nullptr;
  file->stream = nullptr;
}

// The temporary gets a short name of its own in the target's folder rather than the
// target's name plus a suffix: a target name near the system's limit must still save.
char* TemporaryName(const char* target, unsigned attempt) {
  const char* slash = strrchr(target, '/');
  const size_t folder = slash ? size_t(slash - target) + 1 : 0;
  char name[64];
  snprintf(name, sizeof name, "%s%ld-%u-%u%s", kTempPrefix, long(getpid()), g_counter.fetch_add(1), attempt,
           kTempSuffix);
  const size_t n = strlen(name);
  char* path = static_cast<char*>(malloc(folder + n + 1));
  if (!path) return nullptr;
  memcpy(path, target, folder);
  memcpy(path + folder, name, n + 1);
  return path;
}

// Reads a run of decimal digits; 0 for an empty run or one past `limit`.
int ParseDigits(const char** cursor, unsigned long long limit, unsigned long long* out) {
  const char* p = *cursor;
  unsigned long long v = 0;
  if (*p < '0' || *p > '9') return 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + unsigned(*p - '0');
    if (v > limit) return 0;
    ++p;
  }
  *cursor = p;
  *out = v;
  return 1;
}

// The pid of a name made by TemporaryName, exactly ".qvsave-<pid>-<n>-<n>.tmp"; 0 for any
// other name, so that no file of the user's is ever taken for one of ours.
long PidOfTemporaryName(const char* name) {
  const size_t prefix = sizeof kTempPrefix - 1;
  if (strncmp(name, kTempPrefix, prefix) != 0) return 0;
  const char* p = name + prefix;
  unsigned long long pid = 0, counter = 0, attempt = 0;
  if (!ParseDigits(&p, INT_MAX, &pid) || *p++ != '-') return 0;
  if (!ParseDigits(&p, UINT_MAX, &counter) || *p++ != '-') return 0;
  if (!ParseDigits(&p, UINT_MAX, &attempt)) return 0;
  if (strcmp(p, kTempSuffix) != 0 || pid == 0) return 0;
  return long(pid);
}

// Only a pid that surely names no process counts as gone: EPERM means a process of another
// user runs under it.  A zombie still answers, so a parent reaps its killed child first.
int ProcessIsGone(long pid) { return kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

void SweepFolder(const char* folder) {
  const int dirFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return;
  DIR* dir = fdopendir(dirFd);
  if (!dir) {
    close(dirFd);
    return;
  }
  while (dirent* entry = readdir(dir)) {
    const long pid = PidOfTemporaryName(entry->d_name);
    if (pid == 0 || pid == long(getpid()) || !ProcessIsGone(pid)) continue;
    // Regular files only: a folder or link that happens to carry such a name is not ours.
    struct stat st;
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    unlinkat(dirFd, entry->d_name, 0);
  }
  closedir(dir);
}

// The folder part of a path ("." for a bare name); null without memory.
char* FolderOf(const char* path) {
  const char* slash = strrchr(path, '/');
  if (!slash) return strdup(".");
  const size_t n = slash == path ? 1 : size_t(slash - path);
  char* folder = static_cast<char*>(malloc(n + 1));
  if (!folder) return nullptr;
  memcpy(folder, path, n);
  folder[n] = 0;
  return folder;
}

enum class Prepared { Failed, InPlace, Temporary };

// The common first half of SafeFileOpen and SafeFileReserve: the target's name (a link
// followed), the sweep, and the temporary, opened as *outFd.  InPlace for a device or pipe
// (file->target set, no temporary).
Prepared Prepare(SafeFile* file, const char* path, int sweep, int* outFd) {
  *outFd = -1;
  if (!path || !*path) return Prepared::Failed;
  const size_t length = strlen(path);
  // A path naming a folder ("dir/") has no file to replace.
  if (path[length - 1] == '/') return Prepared::Failed;
  // A link is followed: the file it names is replaced, and the link stays a link.
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    file->target = realpath(path, nullptr);
    if (!file->target) return Prepared::Failed;  // a dangling or looping link
  } else {
    file->target = static_cast<char*>(malloc(length + 1));
    if (!file->target) return Prepared::Failed;
    memcpy(file->target, path, length + 1);
  }

  const int existed = stat(file->target, &st) == 0;
  // A device or pipe ("/dev/stdout", a FIFO) cannot be replaced by a rename: written to
  // directly, as before.
  if (existed && !S_ISREG(st.st_mode)) return Prepared::InPlace;
  if (sweep) SafeFileSweep(file->target);
  // Keep the permission bits of the file being replaced; a new file gets the usual ones.
  mode_t mode = 0666;
  if (existed) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode &= ~mask;
  }

  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    char* temp = TemporaryName(file->target, attempt);
    if (!temp) break;
    const int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      free(temp);
      if (errno == EEXIST) continue;
      break;
    }
    fchmod(fd, mode);
    file->temporary = temp;
    *outFd = fd;
    return Prepared::Temporary;
  }
  return Prepared::Failed;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sweep

void SafeFileSweep(const char* path) {
  if (!path || !*path) return;
  char* folder = FolderOf(path);
  if (!folder) return;
  SweepFolder(folder);
  free(folder);
}

void SafeFileSweepWide(const wchar_t* path) {
  if (!path || !*path) return;
  char* narrow = WideToAnsi(path);
  if (!narrow) return;
  SafeFileSweep(narrow);
  free(narrow);
}

// ---------------------------------------------------------------------------------------
// Open and reserve

int SafeFileOpen(SafeFile* file, const char* path) {
  if (!file) return 0;
  *file = SafeFile{};
  int fd = -1;
  const Prepared how = Prepare(file, path, 1, &fd);
  if (how == Prepared::InPlace) {
    file->stream = fopen(file->target, "wb");
    if (!file->stream) Release(file);
    return file->stream ? 1 : 0;
  }
  if (how == Prepared::Temporary) {
    FILE* stream = fdopen(fd, "wb");
    if (stream) {
      file->stream = stream;
      return 1;
    }
    close(fd);
    unlink(file->temporary);
  }
  Release(file);
  return 0;
}

int SafeFileOpenWide(SafeFile* file, const wchar_t* path) {
  if (!file) return 0;
  *file = SafeFile{};
  if (!path || !*path) return 0;
  char* narrow = WideToAnsi(path);
  if (!narrow) return 0;
  const int ok = SafeFileOpen(file, narrow);
  free(narrow);
  return ok;
}

int SafeFileReserve(SafeFile* file, const char* path, int sweep) {
  if (!file) return 0;
  *file = SafeFile{};
  int fd = -1;
  const Prepared how = Prepare(file, path, sweep, &fd);
  if (how == Prepared::InPlace) return 1;
  if (how == Prepared::Temporary) {
    if (close(fd) == 0) return 1;
    unlink(file->temporary);
    free(file->temporary);
    file->temporary = nullptr;
  }
  // No temporary in that folder: an existing file that may be written is written in place,
  // as it was before saves went through a temporary.
  struct stat st;
  if (file->target && stat(file->target, &st) == 0 && S_ISREG(st.st_mode) && access(file->target, W_OK) == 0)
    return 1;
  Release(file);
  return 0;
}

const char* SafeFileWritePath(const SafeFile* file) {
  if (!file) return nullptr;
  return file->temporary ? file->temporary : file->target;
}

// ---------------------------------------------------------------------------------------
// Commit and abort

int SafeFileCommit(SafeFile* file) {
  if (!file || !file->stream) {
    if (file) SafeFileAbort(file);
    return 0;
  }
  int ok = ferror(file->stream) == 0;
  if (fflush(file->stream) != 0) ok = 0;
  if (!file->temporary) {  // written in place (a device or pipe)
    if (fclose(file->stream) != 0) ok = 0;
    Release(file);
    return ok;
  }
  // The rename must not reach the disk before the bytes it stands for.
  if (ok && fsync(fileno(file->stream)) != 0) ok = 0;
  if (fclose(file->stream) != 0) ok = 0;
  file->stream = nullptr;
  if (ok && rename(file->temporary, file->target) != 0) ok = 0;
  if (!ok) unlink(file->temporary);
  Release(file);
  return ok;
}

int SafeFileCommitClosed(SafeFile* file) {
  if (!file || !file->target) {
    if (file) Release(file);
    return 0;
  }
  if (!file->temporary) {  // written in place: the writer's own close said how it went
    Release(file);
    return 1;
  }
  // The writer's close put the bytes in the system's cache only; the rename must not reach
  // the disk before them.
  int ok = 0;
  const int fd = open(file->temporary, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ok = fsync(fd) == 0;
    if (close(fd) != 0) ok = 0;
  }
  if (ok && rename(file->temporary, file->target) != 0) ok = 0;
  if (!ok) unlink(file->temporary);
  Release(file);
  return ok;
}

void SafeFileAbort(SafeFile* file) {
  if (!file) return;
  if (file->stream) fclose(file->stream);
  // Also a reserved temporary, whose stream the writer held and has closed.
  if (file->temporary) unlink(file->temporary);
  Release(file);
}
