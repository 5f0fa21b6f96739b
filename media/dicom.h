// dicom.h - the DICOM reader behind the media handle (dicom.cpp).
//
//   DicomImage        one opened file: geometry, colour mode and where each frame's bytes lie
//   DicomParseMemory  parses a whole file held in memory (copied)
//   DicomOpenMemory   the media handle's open, fed from memory
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/media_file.h"

struct DicomImage {
  uint16_t columns = 0;
  uint16_t rows = 0;
  uint16_t bitsAllocated = 0;  // 8 or 16
  uint16_t bitsStored = 0;     // 8 to 16
  uint16_t colourMode = 0;     // 0 gray, 1 interleaved R,G,B, 2 planar (all R, all G, all B)
  uint64_t frameCount = 0;
  uint64_t frameSize = 0;      // bytes of one frame
  // Pixel data elements as runs of whole frames inside `bytes`.
  struct Run {
    uint64_t offset;
    uint64_t frames;
  };
  std::vector<Run> runs;
  uint8_t* bytes = nullptr;  // the whole file
  uint64_t size = 0;
};

DicomImage* DicomParse(const char* ansiPath);
DicomImage* DicomParseMemory(const void* data, size_t size);
int DicomOpenMemory(MediaFile* file, const void* data, size_t size);
