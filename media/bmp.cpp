// bmp.cpp - not built yet: every entry point refuses, so the extension opens as a failure.
#include "media/media_file.h"

int BmpOpenRead(MediaFile*, const char*) { return 0; }
int BmpReadImage(MediaFile*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
int BmpOpenWrite(MediaFile*) { return 0; }
int BmpWriteImage(MediaFile*, uint64_t, uint64_t, const void*) { return 0; }
int BmpClose(MediaFile*) { return 1; }
