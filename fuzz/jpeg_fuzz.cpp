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
    void* frame = malloc(bytes);
    if (frame) {
      JpegReadImage(file, 0, 0, 1, frame);
      free(frame);
    }
    JpegClose(file);
  }
  free(file);
  return 0;
}
