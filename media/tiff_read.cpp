// tiff_read.cpp - not built yet: every entry point refuses, so the extension opens as a failure.
#include "media/media_file.h"

int TiffOpenRead(MediaFile*, const char*) { return 0; }
int TiffReadFrames(MediaFile*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
