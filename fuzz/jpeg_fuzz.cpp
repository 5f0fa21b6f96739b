// jpeg_fuzz.cpp - the JPEG reader fed from memory: open, read the frame, close.  Any input
// must end in a clean 0 or a frame of the size the reader reported.
#include "fuzz/stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzStillStream(data, size, MediaFormatJpeg, JpegOpenReadStream, JpegReadImage, JpegClose);
}
