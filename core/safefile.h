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
//   SafeFileReserve  for writers that open the file by name (the media codecs): the temporary
//                    is made and closed again, and its name handed to the writer
//   SafeFileCommitClosed  after such a writer closed its file: sync and rename
//   SafeFileSweep    removes temporaries left by a process that no longer runs
//
// Every save of a settings, list, table or track file, and every media file written through
// the media handle, goes through here.
//
// Temporaries are named ".qvsave-<pid>-<n>-<attempt>.tmp".  A process killed during a save
// leaves one behind; each save sweeps its folder of those whose process is gone (the pid in
// the name), and the program sweeps its settings folder at start.
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

// For a writer that opens its file by name: as SafeFileOpen, but the temporary is closed
// again at once (stream stays null) and the writer opens SafeFileWritePath (file) itself.
// When no temporary can be made in the folder but the target exists and may be written (a
// folder the user may not write, a file they may), or the target is a device, the record
// names no temporary and the writer writes the target in place, as without this record.
// sweep 0 skips the sweep of the folder (the second and later files of a numbered sequence,
// whose folder was swept at the first).
int SafeFileReserve(SafeFile* file, const char* path, int sweep);
// The path the writer opens: the temporary, or the target when written in place.
const char* SafeFileWritePath(const SafeFile* file);
// After the writer has closed its file: sync the temporary and rename it over the target.
// 1 when the target now holds the new file (or it was written in place); 0 after removing
// the temporary, target unchanged.  The record is empty afterwards in both cases.
int SafeFileCommitClosed(SafeFile* file);
// Removes, in the folder of `path` (a file path; "." when it names no folder), every regular
// file named like our temporaries whose pid names no running process.  Never a file of
// another name, never one of a live process (our own included: another thread may be
// saving).  A pid that was reused since keeps its temporary until that process ends.
void SafeFileSweep(const char* path);
void SafeFileSweepWide(const wchar_t* path);
