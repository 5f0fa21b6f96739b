// dicom_fuzz.cpp - libFuzzer entry: a DICOM file from memory, opened and every frame read.
#include <cstdint>
#include <vector>

#include "media/dicom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MediaFile f{};
  if (!DicomOpenMemory(&f, data, size)) return 0;
  uint64_t frame = f.info.width * f.info.height * f.info.bytesPerPixel;
  if (frame <= (uint64_t(64) << 20)) {
    std::vector<uint8_t> out(frame);
    uint64_t frames = f.info.frameCount < 8 ? f.info.frameCount : 8;
    for (uint64_t n = 0; n < frames; ++n) DicomReadFrames(&f, 0, n, 1, out.data());
  }
  DicomFree(f.dicom);
  return 0;
}
