// stream_fuzz.h - the shared body of the fuzz targets for still readers that read a stdio
// stream: the input is opened from memory, its frame read, the file closed.  Any input must
// end in a clean 0 or a frame of the size the reader reported.
#pragma once
#include <stdio.h>

#include <cstdint>
#include <cstdlib>

#include "media/media_file.h"

using FuzzOpenStream = int (*)(MediaFile* file, FILE* stream);
using FuzzReadImage = int (*)(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer);
using FuzzClose = int (*)(MediaFile* file);

inline int FuzzStillStream(const uint8_t* data, size_t size, uint64_t format, FuzzOpenStream open,
                           FuzzReadImage read, FuzzClose close) {
  if (size == 0) return 0;  // fmemopen refuses an empty block; the file path covers it
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!fp) return 0;
  MediaFile* file = static_cast<MediaFile*>(calloc(1, sizeof(MediaFile)));
  if (!file) {
    fclose(fp);
    return 0;
  }
  file->info.kind = MediaKindStill;
  file->format = format;
  file->mode = MediaModeRead;
  if (open(file, fp)) {
    const uint64_t bytes = file->info.width * file->info.height * file->info.bytesPerPixel;
    if (bytes == 0 || bytes > MediaMaxFrameBytes) abort();  // the reader promised otherwise
    // A few hundred bytes may claim a frame of hundreds of megabytes whose missing data
    // the decoder still fills in line by line: correct, but seconds per input.  Frames of
    // more than 4 megapixels are opened and closed only, so the fuzzer keeps its pace.
    void* frame = file->info.width * file->info.height <= (uint64_t(1) << 22) ? malloc(bytes) : nullptr;
    if (frame) {
      read(file, 0, 0, 1, frame);
      free(frame);
    }
    close(file);
  }
  free(file);
  return 0;
}
