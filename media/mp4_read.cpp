// mp4_read.cpp - not built yet: every entry point refuses, so the extension opens as a failure.
#include "media/media_file.h"

int Mp4OpenRead(MediaFile*, const char*, MediaProgressFn, void*) { return 0; }
int Mp4ReadFrames(MediaFile*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
int Mp4Close(MediaFile*) { return 1; }
