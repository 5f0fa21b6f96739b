// dicom.cpp - not built yet: every entry point refuses, so the extension opens as a failure.
#include "media/media_file.h"

int DicomOpenRead(MediaFile*, const char*) { return 0; }
int DicomReadFrames(MediaFile*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
void DicomFree(DicomImage*) {}
