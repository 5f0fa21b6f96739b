// dir.cpp - folder listing with opendir/readdir (stat where the entry type is unknown or a
// link), the program path from /proc/self/exe, and the home and Documents folders.
#include "platform/dir.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t PlatListFolder(const char* folder, std::vector<PlatDirEntry>* out) {
  if (!folder || !*folder || !out) return 0;
  DIR* d = opendir(folder);
  if (!d) return 0;
  std::string base = folder;
  if (base.back() != '/') base += '/';
  while (dirent* e = readdir(d)) {
    PlatDirEntry entry;
    entry.name = e->d_name;
    if (e->d_type == DT_DIR) {
      entry.isFolder = 1;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      // Some file systems leave the type open; a link is a folder when its target is.
      struct stat st;
      std::string full = base + e->d_name;
      entry.isFolder = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    out->push_back(std::move(entry));
  }
  closedir(d);
  return 1;
}

int32_t PlatIsFolder(const char* path) {
  if (!path || !*path) return 0;
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int32_t PlatProgramPath(std::string* out) {
  if (!out) return 0;
  // readlink does not say whether it cut the name: grow until the answer fits with room.
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return 0;
    if (size_t(n) < buf.size()) {
      out->assign(buf.data(), size_t(n));
      return 1;
    }
    if (buf.size() >= (size_t(1) << 20)) return 0;
    buf.resize(buf.size() * 2);
  }
}

int32_t PlatHomeFolder(std::string* out) {
  if (!out) return 0;
  const char* home = getenv("HOME");
  if (home && *home) {
    *out = home;
    return 1;
  }
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) {
    *out = pw->pw_dir;
    return 1;
  }
  return 0;
}

namespace {

// The value of XDG_DOCUMENTS_DIR in the user-dirs file: a line
//   XDG_DOCUMENTS_DIR="$HOME/Documents"
// whose value is either absolute or starts with $HOME/. Empty when there is none.
std::string UserDirsDocuments(const std::string& home) {
  std::string file;
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config && *config == '/')
    file = std::string(config) + "/user-dirs.dirs";
  else
    file = home + "/.config/user-dirs.dirs";
  FILE* f = fopen(file.c_str(), "r");
  if (!f) return std::string();
  std::string result;
  char line[4096];
  static const char kKey[] = "XDG_DOCUMENTS_DIR=";
  while (fgets(line, sizeof line, f)) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (strncmp(p, kKey, sizeof kKey - 1) != 0) continue;
    p += sizeof kKey - 1;
    if (*p != '"') continue;
    ++p;
    const char* end = strchr(p, '"');
    if (!end) continue;
    std::string value(p, size_t(end - p));
    if (value.compare(0, 6, "$HOME/") == 0)
      value = home + value.substr(5);
    else if (value == "$HOME")
      value = home;
    else if (value.empty() || value[0] != '/')
      continue;  // the file's own rule: absolute or relative to $HOME
    result = value;
  }
  fclose(f);
  return result;
}

}  // namespace

int32_t PlatDocumentsFolder(std::string* out) {
  if (!out) return 0;
  std::string home;
  if (!PlatHomeFolder(&home)) return 0;
  std::string xdg = UserDirsDocuments(home);
  if (!xdg.empty() && PlatIsFolder(xdg.c_str())) {
    *out = xdg;
    return 1;
  }
  std::string docs = home + (home.back() == '/' ? "" : "/") + "Documents";
  *out = PlatIsFolder(docs.c_str()) ? docs : home;
  return 1;
}
