// avi_fuzz.cpp - libFuzzer entry for the AVI reader fed from memory: open, then read every
// frame (up to a bound that keeps one run short).
#include "media/avi.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AviFile* avi = AviReaderOpenMemory(data, size);
  if (!avi) return 0;
  MediaInfo info{};
  AviReaderGetInfo(avi, &info);
  uint64_t bytes = info.width * info.height * info.bytesPerPixel;
  // Headers may claim large frames that the tiny input cannot fill; the reader refuses those
  // frames itself, but decoding a huge compressed frame would only slow the run.
  if (bytes <= (uint64_t(1) << 24)) {
    std::vector<uint8_t> out(bytes);
    for (uint64_t i = 0; i < info.frameCount && i < 256; ++i) AviReadFramesDirect(avi, i, 1, out.data());
  }
  AviReaderFree(avi);
  return 0;
}
