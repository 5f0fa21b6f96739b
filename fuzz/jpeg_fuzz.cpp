// jpeg_fuzz.cpp - the JPEG reader fed from memory: open, read the frame, close.  Any input
// must end in a clean 0 or a frame of the size the reader reported.
#include <stdio.h>

#include <cstdint>
#include <cstdlib>

#include "media/media_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty block; the file path covers it
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!fp) return 0;
  MediaFile* file = static_cast<MediaFile*>(calloc(1, sizeof(MediaFile)));
  if (!file) {
    fclose(fp);
    return 0;
  }
  file->info.kind = MediaKindStill;
  file->format = MediaFormatJpeg;
  file->mode = MediaModeRead;
  if (JpegOpenReadStream(file, fp)) {
    const uint64_t bytes = file->info.width * file->info.height * file->info.bytesPerPixel;
    if (bytes == 0 || bytes > MediaMaxFrameBytes) abort();  // the reader promised otherwise
    // A few hundred bytes may claim a frame of hundreds of megabytes whose missing data
    // the decoder still fills in line by line: correct, but seconds per input.  Frames of
    // more than 4 megapixels are opened and closed only, so the fuzzer keeps its pace.
    void* frame = file->info.width * file->info.height <= (uint64_t(1) << 22) ? malloc(bytes) : nullptr;
    if (frame) {
      JpegReadImage(file, 0, 0, 1, frame);
      free(frame);
    }
    JpegClose(file);
  }
  free(file);
  return 0;
}
