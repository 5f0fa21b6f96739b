// dir.h - the file-system questions of the file chooser: folder listing, whether a path is
// a folder, the running program's own path and the user's home and Documents folders.
// Paths are UTF-8 byte strings as the system calls take them; no length limit of our own
// (the system refuses what it cannot take).
//
//   PlatDirEntry     one entry of a listing: name and folder flag
//   PlatListFolder   every entry of a folder, "." and ".." included when the system gives them
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PlatDirEntry {
  std::string name;
  int32_t isFolder = 0;  // a link to a folder counts as a folder
};

// Appends the folder's entries in the system's order; 0 when it cannot be opened (the
// output is then untouched). A read error midway keeps what was read.
int32_t PlatListFolder(const char* folder, std::vector<PlatDirEntry>* out);
// 1 when path names a folder (following links).
int32_t PlatIsFolder(const char* path);
// Absolute path of the running program file; 0 when it cannot be read.
int32_t PlatProgramPath(std::string* out);
// $HOME, else the account's home folder; 0 when neither is known.
int32_t PlatHomeFolder(std::string* out);
// XDG_DOCUMENTS_DIR from the user-dirs file when it names an existing folder, else
// $HOME/Documents when it exists, else the home folder; 0 without a home folder.
int32_t PlatDocumentsFolder(std::string* out);
