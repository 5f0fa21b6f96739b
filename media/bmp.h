// bmp.h - BMP reading and writing behind the media handle (bmp.cpp).
//
//   BmpImage       one picture in memory: file header fields, palette or channel masks, rows
//   BmpReadMemory  parses a whole file held in memory (what BmpReadFile does after loading)
//   BmpOpenMemory  the media handle's open, fed from memory
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "media/media_file.h"

struct BmpImage {
  uint16_t magic = 0x4D42;  // "BM"
  uint32_t fileSize = 54;
  uint32_t reserved = 0;
  uint32_t dataOffset = 54;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bitsPerPixel = 0;
  uint32_t compression = 0;  // 0 BI_RGB, 3 BI_BITFIELDS
  uint32_t coloursUsed = 0;
  uint32_t paletteCount = 0;      // entries in palette, at most 256
  uint8_t palette[256 * 4] = {};  // B, G, R, 0
  uint32_t masks[3] = {};         // R, G, B as the file holds them (BI_BITFIELDS)
  uint32_t maskDown[3] = {};      // per channel R, G, B: the mask moved down to bit 0
  uint32_t shift[3] = {};
  int32_t adjust[3] = {};         // mask width - 8
  uint64_t rowSize = 0;           // bytes per stored row, padded to 4
  uint8_t* rows = nullptr;        // bottom row first, as in the file
  bool frameWritten = false;      // writer: a frame was accepted
};

int BmpReadMemory(BmpImage* image, const uint8_t* data, uint64_t size);
int BmpReadFile(BmpImage* image, FILE* file);
int BmpWriteFile(const BmpImage* image, FILE* file);
int BmpCreate(BmpImage* image, int64_t width, int64_t height, uint32_t bitsPerPixel, uint32_t coloursUsed);
int BmpNormalize(BmpImage* image);
int BmpIsGrayPalette(const BmpImage* image);
void BmpFreeImage(BmpImage* image);
int BmpOpenMemory(MediaFile* file, const void* data, size_t size);
