// bmp_fuzz.cpp - libFuzzer entry: a BMP file from memory, opened and its frame read.
#include <cstdint>
#include <vector>

#include "media/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MediaFile f{};
  if (!BmpOpenMemory(&f, data, size)) return 0;
  uint64_t frame = f.info.width * f.info.height * f.info.bytesPerPixel;
  if (frame <= (uint64_t(64) << 20)) {
    std::vector<uint8_t> out(frame);
    BmpReadImage(&f, 0, 0, 1, out.data());
  }
  BmpClose(&f);
  return 0;
}
