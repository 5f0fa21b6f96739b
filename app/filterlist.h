// filterlist.h - filter-list files ("ifl", default "quorvix_duvu.ifl"): the current chain of
// the main screen in the settings text format.
//
//   [quorvix] {          ifl_ver 1, connect, bg, axis_y, scale, unit
//   [<filter key>] {     one pack per filter of the current chain, in chain order, holding
//                        what the filter's SaveParams writes
//
//   LoadFilterList   a file -> the current chain (the other three chains stay)
//   SaveFilterList   the current chain -> a file
#pragma once
#include <cstdint>

class CMainScreen;

// Replaces the current chain with the file's filters (each added through the side panel,
// then reading its pack) and takes its connectivity, background and calibration; the frame
// is processed again.  1; 0 with chain, panel and settings as they were when the file
// cannot be read, its first pack is not "quorvix" with "ifl_ver", it is of a newer version
// (the newer-version message is shown here), or a pack names a key that makes no filter.
int32_t LoadFilterList(CMainScreen* screen, const wchar_t* path);
// Writes the "quorvix" pack and one pack per filter of the current chain through a
// temporary beside path that replaces the old file only when every pack was written.  1/0.
int32_t SaveFilterList(CMainScreen* screen, const wchar_t* path);
