// tiff.h - TIFF reading and writing behind the media handle, and the two strip decoders.
//
//   TiffReader         a loaded file with its table of readable pages (tiff_read.cpp)
//   TiffWriter         an open little-endian file that grows by one page per frame (tiff_write.cpp)
//   TiffLzwDecode      LZW strips, codes of 9 to 12 bits, most significant bit first (tiff_strip.cpp)
//   TiffPackBitsDecode PackBits strips (tiff_strip.cpp)
#pragma once
#include <cstddef>
#include <cstdint>

#include "media/media_file.h"

// Decodes one LZW strip into at most outSize bytes.  Returns the number of bits written
// (8 per byte), 0 when nothing was decoded or an argument is missing.  Never writes a
// partial string and never beyond outSize.
uint64_t TiffLzwDecode(void* ignored, uint8_t* out, uint64_t outSize, const uint8_t* in, uint64_t inSize);
// Decodes one PackBits strip; returns the bytes written (at most outSize), 0 for bad arguments.
uint64_t TiffPackBitsDecode(uint8_t* out, uint64_t outSize, const uint8_t* in, uint64_t inSize);

// The most bytes one input byte can turn into, used to refuse pages whose strips cannot
// possibly fill them.  An LZW code has at least 9 bits and stands for at most 3840 bytes.
constexpr uint64_t TiffLzwMaxBytesPerInputByte = 3414;
constexpr uint64_t TiffPackBitsMaxBytesPerInputByte = 64;

// Opens a TIFF file held in memory (copied); the same checks as TiffOpenRead.
int TiffOpenMemory(MediaFile* file, const void* data, size_t size);

// Frees a reader and its decoded pages (the read half of TiffClose).
void TiffFreeReader(TiffReader* reader);

// Appends one page; colour 0 for gray (1, 2 or 4 bytes per pixel), nonzero for R,G,B
// (3, 6 or 12).  Fails without writing when the page would end beyond 4 GiB - 1.
int TiffWriterAddPage(TiffWriter* writer, uint64_t width, uint64_t height, uint64_t bytesPerPixel, int colour,
                      const void* pixels);
// Closes the file and frees the writer; 0 when a write or the close failed.
int TiffWriterClose(TiffWriter* writer);
