// safefile.cpp - temporary beside the target, flush, sync, close, rename.
// Inside: names - open - commit and abort
#include "core/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/text.h"

namespace {

std::atomic<unsigned> g_counter{0};

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
  snprintf(name, sizeof name, ".qvsave-%ld-%u-%u.tmp", long(getpid()), g_counter.fetch_add(1),
           attempt);
  const size_t n = strlen(name);
  char* path = static_cast<char*>(malloc(folder + n + 1));
  if (!path) return nullptr;
  memcpy(path, target, folder);
  memcpy(path + folder, name, n + 1);
  return path;
}

}  // namespace

int SafeFileOpen(SafeFile* file, const char* path) {
  if (!file) return 0;
  *file = SafeFile{};
  if (!path || !*path) return 0;
  const size_t length = strlen(path);
  // A path naming a folder ("dir/") has no file to replace.
  if (path[length - 1] == '/') return 0;
  // A link is followed: the file it names is replaced, and the link stays a link.
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    file->target = realpath(path, nullptr);
    if (!file->target) return 0;  // a dangling or looping link
  } else {
    file->target = static_cast<char*>(malloc(length + 1));
    if (!file->target) return 0;
    memcpy(file->target, path, length + 1);
  }

  const int existed = stat(file->target, &st) == 0;
  if (existed && !S_ISREG(st.st_mode)) {
    // A device or pipe ("/dev/stdout", a FIFO) cannot be replaced by a rename: write to it
    // directly, as before.
    file->stream = fopen(file->target, "wb");
    if (!file->stream) Release(file);
    return file->stream ? 1 : 0;
  }
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
    FILE* stream = fdopen(fd, "wb");
    if (!stream) {
      close(fd);
      unlink(temp);
      free(temp);
      break;
    }
    file->temporary = temp;
    file->stream = stream;
    return 1;
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

int SafeFileCommit(SafeFile* file) {
  if (!file || !file->stream) {
    if (file) Release(file);
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

void SafeFileAbort(SafeFile* file) {
  if (!file) return;
  if (file->stream) {
    fclose(file->stream);
    if (file->temporary) unlink(file->temporary);
  }
  Release(file);
}
