// safefile.h - writing a text or data file so that a failed write never costs the old one.
// The bytes go to a temporary file beside the target (same folder, so the final rename
// stays on one file system); only after a flush, a sync and a clean close does the
// temporary replace the target.  On any failure the temporary is removed and the target
// is left as it was.
//
//   SafeFile         one file being written: the stream to write to and the two names
//   SafeFileOpen     makes the temporary beside the target and opens it for writing
//   SafeFileCommit   flush, sync, close, rename over the target
//   SafeFileAbort    close and remove the temporary; the target is untouched
//
// Every save of a settings, list, table or track file goes through here.
#pragma once

#include <cstdio>

struct SafeFile {
  FILE* stream = nullptr;   // write here between open and commit or abort
  char* target = nullptr;   // the path that the commit replaces (malloc'ed)
  char* temporary = nullptr;  // the temporary's path (malloc'ed); null when written in place
};

// path in the system's encoding (UTF-8).  The temporary keeps the permission bits of an
// existing target.  A link is followed (the file it names is replaced, the link stays); a
// target that is no regular file (a device, a pipe) cannot be renamed over and is written
// in place.  0 (file left empty) for a null or empty path, or when the temporary
// cannot be made (folder missing or not writable, no memory).
int SafeFileOpen(SafeFile* file, const char* path);
// The same for a wide path.
int SafeFileOpenWide(SafeFile* file, const wchar_t* path);
// 1 when every byte reached the target; 0 after removing the temporary, target unchanged.
// A stream that saw a write error (ferror) fails here, so callers may write on without
// checking each call.  The record is empty afterwards in both cases.
int SafeFileCommit(SafeFile* file);
// Closes and removes the temporary; nothing for an empty record.
void SafeFileAbort(SafeFile* file);
