// avi_read.cpp - not built yet: every entry point refuses, so the extension opens as a failure.
#include "media/media_file.h"

AviFile* AviReaderOpen(const char*) { return nullptr; }
int AviReaderGetInfo(const AviFile*, MediaInfo*) { return 0; }
int AviReadFrames(MediaFile*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
