// avi.h - the AVI reader and writer shared between avi_read.cpp and avi_write.cpp.
//
//   AviFrameCodec  how frames are stored: uncompressed DIB, MJPG or PNG
//   RiffChunk      one chunk of the file's RIFF tree (flat, in pre-order)
//   RiffFile       the data source (a file or a memory block) and its chunk tree
//   AviIndexEntry  where one frame's data lies in the file
//   AviFile        one open reader or writer (the record is shared; `writing` tells which)
//
// The media handle reaches these through the entry points of media_file.h; the functions
// below are for the other AVI source, tests, the fuzz target and benchmarks.
#pragma once
#include "media/media_file.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

enum AviFrameCodec : uint32_t { AviCodecDib = 0, AviCodecMjpg = 1, AviCodecPng = 2 };

// Four-character code as stored in the file (first character in the lowest byte).
constexpr uint32_t AviFourCc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

// A part of an OpenDML file must stay below 2 GB so that 32-bit offsets inside it hold.
constexpr uint64_t kAviPartLimit = 0x80000000ull;
// The header area in front of the first "movi" list.
constexpr uint32_t kAviHeaderReserve = 2048;

struct RiffChunk {
  uint32_t id;
  uint32_t listType;   // "RIFF" and "LIST" only; 0 otherwise
  uint32_t size;       // as stored: bytes after the 8-byte header, list type included
  int32_t parent;      // index of the holding list, -1 at the top level
  uint64_t position;   // file offset of the chunk header
};

struct RiffFile {
  FILE* stream = nullptr;          // file source, or null for a memory source
  const uint8_t* memory = nullptr; // memory source (not owned)
  uint64_t fileSize = 0;
  std::vector<RiffChunk> chunks;   // the whole tree in pre-order
};

struct AviIndexEntry {
  uint64_t offset;  // file offset of the frame's data (after its chunk header)
  uint32_t size;    // size as the index gives it; 0 marks a frame that was not found
};

struct AviSuperEntry {
  uint64_t offset;
  uint32_t size;
  uint32_t duration;
};

struct AviFile {
  int writing = 0;
  AviFrameCodec codec = AviCodecDib;
  uint32_t width = 0, height = 0;
  uint32_t bitCount = 0;
  uint32_t stride = 0;
  uint32_t frameIntervalUs = 0;
  int grayPalette = 0;
  uint8_t palette[256][3] = {};

  // Reading side
  RiffFile riff;
  int topDown = 0;             // rows stored top row first (negative DIB height, Y800)
  uint32_t frameCount = 0;
  uint32_t streamIdDb = 0, streamIdDc = 0;  // "00db", "00dc" for the video stream's number
  std::vector<AviIndexEntry> index;
  std::vector<uint8_t> scratch;  // one stored frame
  std::vector<uint8_t> planar;   // decoded 8-bit indexes of a colour-palette frame

  // Writing side
  FILE* stream = nullptr;
  uint32_t chunkId = 0;
  int quality = 75;
  int odml = 0;
  int ioFailed = 0;
  uint64_t partLimit = kAviPartLimit;
  uint32_t totalFrames = 0;
  uint64_t position = 0;
  uint32_t junkPosition = 0, junkSize = 0;
  uint32_t hdrlSize = 0, strlSize = 0;
  uint64_t partStart = 0, partSize = 0;
  uint32_t partFrames = 0;
  uint64_t partFrameBytes = 0;
  uint32_t firstPartFrames = 0;
  int firstPart = 1;
  std::vector<uint32_t> partDataOffsets;  // from partStart to each frame's data
  std::vector<uint32_t> partDataSizes;
  std::vector<AviSuperEntry> superIndex;
  uint8_t* encoded = nullptr;  // the frame being written (malloc: libjpeg grows it)
  size_t encodedCapacity = 0;
  size_t encodedSize = 0;
};

// Reader
AviFile* AviReaderOpenMemory(const uint8_t* data, size_t size);
void AviReaderFree(AviFile* avi);
int AviReadFrame(AviFile* avi, uint32_t frame, uint8_t* buffer);  // stream's own form
int AviReadFramesDirect(AviFile* avi, uint64_t first, uint64_t count, uint8_t* buffer);
uint32_t AviOutputBytesPerPixel(const AviFile* avi);

// Writer
AviFile* AviWriterOpen(const char* path, uint32_t width, uint32_t height, uint32_t bitCount,
                       uint32_t frameIntervalUs, uint32_t codec, uint32_t quality);
int AviWriteFrame(AviFile* avi, const uint8_t* frame);
// Lowers the size at which a part ends; tests use it to reach OpenDML parts with small files.
void AviWriterSetPartLimit(AviFile* avi, uint64_t limit);

// Frame codecs shared by the two sides (avi_read.cpp)
int AviDecodeMjpeg(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint32_t components,
                   uint8_t* out);
int AviProbeMjpeg(const uint8_t* data, size_t size, uint32_t* outComponents);
int AviDecodePng(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint32_t components,
                 uint8_t* out);
int AviProbePng(const uint8_t* data, size_t size, uint32_t* outComponents);
