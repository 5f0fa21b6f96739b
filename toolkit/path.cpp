// path.cpp - path helpers, folder listing and the extension filter of the file chooser.
// Inside: bounded copies - remembered folder - program and Documents folders - joining,
// cutting, canonicalisation - listing - extension lists
#include "toolkit/path.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "core/text.h"
#include "platform/dir.h"

wchar_t LastFolder[kFgPathUnits] = {};

int32_t PathCopy(wchar_t* dst, uint64_t capacity, const wchar_t* src) {
  if (!dst || !src || capacity == 0) return 0;
  size_t n = wcslen(src);
  if (uint64_t(n) >= capacity) return 0;
  wmemmove(dst, src, n + 1);
  return 1;
}

int32_t FgRememberFolder(const wchar_t* folder) {
  wchar_t copy[kFgPathUnits];
  if (!PathCopy(copy, kFgPathUnits, folder)) return 0;
  CanonicalisePath(copy);
  size_t n = wcslen(copy);
  while (n > 1 && copy[n - 1] == L'/') copy[--n] = 0;
  wmemcpy(LastFolder, copy, n + 1);
  return 1;
}

namespace {

// Copies a UTF-8 path into a static wide buffer; 0 when it cannot be converted or is too
// long for the buffer.
int32_t StoreWide(wchar_t* buffer, uint64_t capacity, const std::string& utf8) {
  wchar_t* wide = Utf8ToWide(utf8.c_str());
  int32_t ok = PathCopy(buffer, capacity, wide);
  free(wide);
  return ok;
}

}  // namespace

const wchar_t* GetProgramFolder() {
  static wchar_t folder[kFgPathUnits];
  folder[0] = 0;
  std::string path;
  if (PlatProgramPath(&path) && StoreWide(folder, kFgPathUnits, path))
    PathRemoveLast(folder);
  else
    folder[0] = 0;
  return folder;
}

const wchar_t* GetDocumentsFolder() {
  static wchar_t folder[kFgPathUnits];
  std::string path;
  if (!PlatDocumentsFolder(&path) || !StoreWide(folder, kFgPathUnits, path))
    PathCopy(folder, kFgPathUnits, L"/");
  return folder;
}

const wchar_t* PathFileName(const wchar_t* path) {
  if (!path || !*path) return nullptr;
  const wchar_t* slash = wcsrchr(path, L'/');
  return slash ? slash + 1 : path;
}

wchar_t* PathFileName(wchar_t* path) {
  return const_cast<wchar_t*>(PathFileName(static_cast<const wchar_t*>(path)));
}

int32_t PathAppend(wchar_t* buffer, uint64_t capacity, const wchar_t* name) {
  if (!name) return 1;
  if (!buffer || capacity == 0) return 0;
  size_t n = wcslen(buffer), m = wcslen(name);
  int slash = n > 0 && buffer[n - 1] != L'/';
  if (uint64_t(n) + slash + m >= capacity) return 0;
  if (slash) buffer[n++] = L'/';
  wmemcpy(buffer + n, name, m + 1);
  return 1;
}

void PathRemoveLast(wchar_t* path) {
  if (!path) return;
  wchar_t* slash = wcsrchr(path, L'/');
  if (!slash) return;
  if (slash == path)
    slash[1] = 0;  // the root keeps its "/"
  else
    *slash = 0;
}

void CanonicalisePath(wchar_t* path) {
  if (!path || !*path) return;
  int absolute = path[0] == L'/';
  size_t out = 0;  // the result grows behind the reading position, never ahead of it
  for (size_t i = 0; path[i];) {
    wchar_t* p = path + i;
    if (p[0] == L'/' && p[1] == L'.' && (p[2] == L'/' || p[2] == 0)) {
      i += 2;
      continue;
    }
    if (p[0] == L'/' && p[1] == L'.' && p[2] == L'.' && (p[3] == L'/' || p[3] == 0)) {
      while (out > 0 && path[out - 1] != L'/') --out;
      if (out > 0) --out;  // the "/" before the removed part goes too
      i += 3;
      // A relative path whose first part went: the "/" that follows would make it absolute.
      if (out == 0 && !absolute && path[i] == L'/') ++i;
      continue;
    }
    path[out++] = path[i++];
  }
  if (out == 0 && absolute) path[out++] = L'/';
  path[out] = 0;
}

// ---------------------------------------------------------------------------------------
// Listing
namespace {

int32_t ListUtf8(const wchar_t* folder, std::vector<PlatDirEntry>* out) {
  if (!folder || !*folder) return 0;
  char* utf8 = WideToUtf8(folder);
  if (!utf8) return 0;
  int32_t ok = PlatListFolder(utf8, out);
  free(utf8);
  return ok;
}

int SortEntries(const void* a, const void* b) {
  return CompareFolderEntries(static_cast<const FolderEntry*>(a),
                              static_cast<const FolderEntry*>(b));
}

int Rank(const wchar_t* name) {
  if (wcscmp(name, L".") == 0) return 0;
  if (wcscmp(name, L"..") == 0) return 1;
  return 2;
}

}  // namespace

int32_t FolderExists(const wchar_t* folder) {
  std::vector<PlatDirEntry> entries;
  return ListUtf8(folder, &entries) && !entries.empty();
}

int CompareFolderEntries(const FolderEntry* a, const FolderEntry* b) {
  int ra = Rank(a->name), rb = Rank(b->name);
  if (ra != rb || ra < 2) return ra < rb ? -1 : ra > rb ? 1 : 0;
  for (size_t i = 0;; ++i) {
    uint32_t ca = uint32_t(a->name[i]), cb = uint32_t(b->name[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (!ca) return 0;
  }
}

FolderEntry* ListFolder(const wchar_t* folder, uint64_t* outCount) {
  if (outCount) *outCount = 0;
  std::vector<PlatDirEntry> entries;
  if (!ListUtf8(folder, &entries) || entries.empty()) return nullptr;
  FolderEntry* list = static_cast<FolderEntry*>(malloc(entries.size() * sizeof(FolderEntry)));
  if (!list) return nullptr;
  uint64_t n = 0;
  for (const PlatDirEntry& e : entries) {
    wchar_t* wide = Utf8ToWide(e.name.c_str());
    if (!wide) break;  // out of memory: keep what we have
    if (PathCopy(list[n].name, kFgNameUnits, wide)) {
      list[n].isFolder = e.isFolder ? 1 : 0;
      ++n;
    }
    free(wide);
  }
  if (n == 0) {
    free(list);
    return nullptr;
  }
  qsort(list, size_t(n), sizeof(FolderEntry), SortEntries);
  if (outCount) *outCount = n;
  return list;
}

// ---------------------------------------------------------------------------------------
// Extension lists
namespace {

int IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }
wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - 32) : c; }

}  // namespace

wchar_t* NormaliseExtensionList(const wchar_t* list) {
  if (!list || !*list) return nullptr;
  size_t n = wcslen(list);
  wchar_t* out = static_cast<wchar_t*>(calloc(n + 1, sizeof(wchar_t)));
  if (!out) return nullptr;
  size_t k = 0;
  int pendingBlank = 0;
  for (size_t i = 0; i < n; ++i) {
    if (IsBlank(list[i])) {
      pendingBlank = k > 0;
      continue;
    }
    if (pendingBlank) out[k++] = L' ';
    pendingBlank = 0;
    out[k++] = Upper(list[i]);
  }
  if (k == 0) {
    free(out);
    return nullptr;
  }
  out[k] = 0;
  return out;
}

int32_t MatchExtension(const wchar_t* list, const wchar_t* extension) {
  if (!list) return 1;
  if (!extension) return 0;
  const wchar_t* p = list;
  while (*p) {
    const wchar_t* end = p;
    while (*end && *end != L' ') ++end;
    size_t i = 0;
    while (p + i < end && extension[i] && Upper(extension[i]) == Upper(p[i])) ++i;
    if (p + i == end && !extension[i]) return 1;
    p = *end ? end + 1 : end;
  }
  return 0;
}
