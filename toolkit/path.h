// path.h - the small path functions of the file chooser and its callers: the program's and
// the user's Documents folder, the file name of a path, joining and cutting, in-place
// canonicalisation, folder listing, and the extension filter.
//
//   FolderEntry   one entry of ListFolder: name and folder flag
//   LastFolder    the chooser's remembered start folder (process-wide, empty at start)
//
// Paths use "/" between parts; "/" alone is the root, where ".." leads to the root again.
// Fixed buffers are kFgPathUnits long; nothing is ever cut to fit: a copy or join that does
// not fit fails and leaves the buffer as it was.
#pragma once

#include <cstdint>

constexpr uint64_t kFgPathUnits = 1024;  // path buffers, terminator included
constexpr uint64_t kFgNameUnits = 256;   // a folder entry's name (the system allows 255 bytes)

struct FolderEntry {
  wchar_t name[kFgNameUnits];
  int32_t isFolder;
};

extern wchar_t LastFolder[kFgPathUnits];

// Copies src with its terminator into dst of capacity units; 0 (dst untouched) for a null
// argument, a capacity of 0 or a text that does not fit.
int32_t PathCopy(wchar_t* dst, uint64_t capacity, const wchar_t* src);

// LastFolder becomes folder, canonicalised, without trailing "/" (the root keeps its "/").
// 0 (LastFolder unchanged) for null or a folder longer than LastFolder holds.
int32_t FgRememberFolder(const wchar_t* folder);

// The folder of the running program file (empty when unknown); a static buffer, overwritten
// by the next call.
const wchar_t* GetProgramFolder();
// The user's Documents folder (see PlatDocumentsFolder), "/" when no home folder is known or
// it does not fit; a static buffer, overwritten by the next call.
const wchar_t* GetDocumentsFolder();

// Pointer just after the last "/", the path itself without one; null for null or "".
const wchar_t* PathFileName(const wchar_t* path);
wchar_t* PathFileName(wchar_t* path);
// Adds "/" when buffer does not end with one (nor is empty), then name. A null name does
// nothing (1). 0, buffer unchanged, when the result does not fit capacity units.
int32_t PathAppend(wchar_t* buffer, uint64_t capacity, const wchar_t* name);
// Cuts at the last "/"; a "/" in first place stays ("/x" gives "/"); no "/": unchanged.
void PathRemoveLast(wchar_t* path);
// In place, left to right: "/." before "/" or the end is removed; "/.." before "/" or the end
// is removed with the part before it back to (and with) the previous "/". A path that started
// with "/" and ends up empty becomes "/" ("/a/.." gives "/"); a relative one stays relative
// ("a/../b" gives "b"). Other dots stay.
void CanonicalisePath(wchar_t* path);

// 1 when folder can be listed.
int32_t FolderExists(const wchar_t* folder);
// Entries of folder sorted by CompareFolderEntries; null and 0 when it cannot be listed
// (also for a folder holding nothing at all). Release with free. Running out of memory
// keeps the entries read so far. Names that do not fit an entry are left out.
FolderEntry* ListFolder(const wchar_t* folder, uint64_t* outCount);
// "." first, ".." second, then plain comparison of the code units (case matters).
int CompareFolderEntries(const FolderEntry* a, const FolderEntry* b);

// A copy with blanks (space, TAB, line feed) trimmed at both ends and each inner run made
// one space, a..z as A..Z; null for null, empty or blank-only lists (and without memory).
// Release with free.
wchar_t* NormaliseExtensionList(const wchar_t* list);
// 1 for a null list (no filter); 0 for a null extension; else 1 when an entry of the
// normalised list equals the extension, a..z taken as A..Z.
int32_t MatchExtension(const wchar_t* list, const wchar_t* extension);
