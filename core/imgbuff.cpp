// imgbuff.cpp - pixel formats, the page-granular pixel allocator, and the life of picture
// records and handles (allocate, clear, free).
// Inside: formats - pixel blocks - record - handle
#include "core/imgbuff.h"

#include <cstring>

#include "core/parallel.h"
#include "platform/thread.h"

// ---- formats ----

const int32_t ImgBytesPerPixel[ImgFormatCount] = {0, 1, 2, 4, 3, 6, 12, 24, 6, 4};

// ---- pixel blocks ----

namespace {
constexpr uint64_t kHeaderBytes = 8;
}

void* AllocPixelsUncleared(uint64_t count, uint64_t bytesPerPixel) {
  // Every size is checked before it is used: an overflowed product must not turn into a
  // small block that the caller then fills as if it were large.
  if (bytesPerPixel != 0 && count > UINT64_MAX / bytesPerPixel) return nullptr;
  uint64_t n = count * bytesPerPixel;
  if (n > UINT64_MAX - kHeaderBytes - (PlatformPageSize - 1)) return nullptr;
  uint64_t size = (n + kHeaderBytes + PlatformPageSize - 1) / PlatformPageSize * PlatformPageSize;
  unsigned char* block = static_cast<unsigned char*>(PlatformAllocFixed(size));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  return block + kHeaderBytes;
}

void* AllocPixels(uint64_t count, uint64_t bytesPerPixel) {
  void* pixels = AllocPixelsUncleared(count, bytesPerPixel);
  if (pixels) ParallelZeroFill(pixels, 0, count * bytesPerPixel);
  return pixels;
}

void FreePixels(void* pixels) {
  if (!pixels) return;
  PlatformFreeFixed(static_cast<unsigned char*>(pixels) - kHeaderBytes);
}

uint64_t PixelBlockSize(const void* pixels) {
  if (!pixels) return 0;
  uint64_t size;
  std::memcpy(&size, static_cast<const unsigned char*>(pixels) - kHeaderBytes, sizeof size);
  return size;
}

// ---- record ----

C_ImgBuff::C_ImgBuff() : format(0), width(0), height(0), pixels(nullptr) {
  // The first picture of a process brings the worker pool up.
  if (WorkerPoolReferenceCount() == 0) StartWorkerPool();
}

C_ImgBuff::~C_ImgBuff() {
  FreePixels(pixels);
  pixels = nullptr;
  format = width = height = 0;
}

int32_t C_ImgBuff::Allocate(int32_t w, int32_t h, int32_t f) {
  if (w == width && h == height && f == format) {
    Clear();
    return 1;
  }
  if (!AllocateUncleared(w, h, f)) return 0;
  ParallelZeroFill(pixels, 0, static_cast<uint64_t>(w) * static_cast<uint64_t>(h) *
                                  static_cast<uint64_t>(ImgBytesPerPixel[f]));
  return 1;
}

int32_t C_ImgBuff::AllocateUncleared(int32_t w, int32_t h, int32_t f) {
  if (w == width && h == height && f == format && pixels) return 1;
  FreePixels(pixels);
  pixels = nullptr;
  format = width = height = 0;
  if (w < 1 || h < 1 || f < 1 || f >= ImgFormatCount) return 0;
  // Offsets inside a picture are 32-bit: a block of 2^31 bytes or more is refused.
  uint64_t count = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
  uint64_t bytes = count * static_cast<uint64_t>(ImgBytesPerPixel[f]);
  if (bytes > ImgMaxPixelBytes) return 0;
  void* p = AllocPixelsUncleared(count, static_cast<uint64_t>(ImgBytesPerPixel[f]));
  if (!p) return 0;
  pixels = p;
  format = f;
  width = w;
  height = h;
  return 1;
}

void C_ImgBuff::Clear() {
  if (format < 1 || format >= ImgFormatCount || !pixels) return;
  uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
                   static_cast<uint64_t>(ImgBytesPerPixel[format]);
  ParallelZeroFill(pixels, 0, bytes);
}

int32_t C_ImgBuff::Contains(int32_t x, int32_t y) const {
  return (x >= 0 && x < width && y >= 0 && y < height) ? 1 : 0;
}

// ---- handle ----

CImgBuff::CImgBuff() : record(new C_ImgBuff) {}

CImgBuff::~CImgBuff() { delete record; }

void CImgBuff::Free() {
  FreePixels(record->pixels);
  record->pixels = nullptr;
  record->format = record->width = record->height = 0;
}

int32_t CImgBuff::Is8BitPerChannel() const {
  int32_t f = record->format;
  return (f == ImgFormatGray8 || f == ImgFormatRgb24 || f == ImgFormatCmyk32) ? 1 : 0;
}
