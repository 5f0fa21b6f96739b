// png_fuzz.cpp - the PNG reader fed from memory: open, read the frame, close.  Any input
// must end in a clean 0 or a frame of the size the reader reported.
#include "fuzz/stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzStillStream(data, size, MediaFormatPng, PngOpenReadStream, PngReadImage, PngClose);
}
