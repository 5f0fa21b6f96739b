// tiff_fuzz.cpp - libFuzzer entry: a TIFF file from memory, opened and every frame read.
#include <cstdint>
#include <vector>

#include "media/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MediaFile f{};
  if (!TiffOpenMemory(&f, data, size)) return 0;
  uint64_t frame = f.info.width * f.info.height * f.info.bytesPerPixel;
  if (frame <= (uint64_t(64) << 20)) {  // keep within the fuzzer's memory limit
    std::vector<uint8_t> out(frame);
    uint64_t frames = f.info.frameCount < 8 ? f.info.frameCount : 8;
    for (uint64_t n = 0; n < frames; ++n) TiffReadFrames(&f, 0, n, 1, out.data());
  }
  TiffClose(&f);
  return 0;
}
