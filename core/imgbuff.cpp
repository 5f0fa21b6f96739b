// imgbuff.cpp - pixel formats, the page-granular pixel allocator with its cache of large
// blocks, and the life of picture records and handles (allocate, clear, free).
// Inside: formats - large block cache - pixel blocks - record - handle
#include "core/imgbuff.h"

#include <cstring>
#include <mutex>

#include "core/parallel.h"
#include "platform/thread.h"

#if defined(__SANITIZE_ADDRESS__)
#define QV_POISON_CACHED_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_POISON_CACHED_BLOCKS 1
#endif
#endif
#ifdef QV_POISON_CACHED_BLOCKS
#include <sanitizer/asan_interface.h>
#endif

// ---- formats ----

const int32_t ImgBytesPerPixel[ImgFormatCount] = {0, 1, 2, 4, 3, 6, 12, 24, 6, 4};

// ---- large block cache ----
// A picture replaced by one of its own size (a conversion, a frame after frame, a copy made
// again) would otherwise give its block back to the system inside the operation and fault
// in every page of a fresh one: on a virtual machine a page fault costs microseconds, and
// the unmapping stops every processor that ran a worker.  Freed blocks of a few megabytes
// and more wait here instead; an allocation of the same size takes one back with its pages
// in place.  A trimming thread gives back what has waited past kCacheKeepMs, outside any
// operation, so an idle program holds nothing for long.  Under the address sanitizer a
// waiting block is poisoned: a use after free still reports.

namespace {

constexpr uint64_t kHeaderBytes = 8;
constexpr uint64_t kCachedBlockMin = uint64_t(4) << 20;
constexpr uint64_t kCacheBytesMax = uint64_t(256) << 20;
constexpr int32_t kCacheSlots = 4;
constexpr uint64_t kCacheKeepMs = 1000;
constexpr uint32_t kTrimPeriodMs = 250;

struct BlockCache {
  std::mutex m;
  struct Entry {
    unsigned char* block;
    uint64_t size;
    uint64_t freedAt;  // PlatformTickCount64
  } entries[kCacheSlots] = {};
  int32_t count = 0;
  uint64_t bytes = 0;
  bool trimmer = false;  // the trimming thread runs
  PlatformEvent filled;  // set when a block comes in, so the trimmer starts counting
};

// Never destroyed: the trimming thread may still wait on it while the process ends.
BlockCache& Cache() {
  static BlockCache* cache = new BlockCache;
  return *cache;
}

void PoisonBlock(unsigned char* block, uint64_t size, bool poison) {
#ifdef QV_POISON_CACHED_BLOCKS
  if (poison) ASAN_POISON_MEMORY_REGION(block, size);
  else ASAN_UNPOISON_MEMORY_REGION(block, size);
#else
  (void)block;
  (void)size;
  (void)poison;
#endif
}

// Removes entry i (lock held) and returns its block, unpoisoned.
unsigned char* TakeEntry(BlockCache& c, int32_t i) {
  unsigned char* block = c.entries[i].block;
  const uint64_t size = c.entries[i].size;
  c.entries[i] = c.entries[--c.count];
  c.bytes -= size;
  PoisonBlock(block, size, false);
  return block;
}

uint32_t TrimCache(void*) {
  BlockCache& c = Cache();
  for (;;) {
    bool waiting;
    {
      std::lock_guard<std::mutex> hold(c.m);
      waiting = c.count > 0;
    }
    // Asleep without a timer while nothing waits.
    c.filled.Wait(waiting ? kTrimPeriodMs : PlatformInfinite);
    unsigned char* stale[kCacheSlots];
    int32_t n = 0;
    {
      std::lock_guard<std::mutex> hold(c.m);
      const uint64_t now = PlatformTickCount64();
      for (int32_t i = c.count - 1; i >= 0; --i) {
        if (now - c.entries[i].freedAt >= kCacheKeepMs) stale[n++] = TakeEntry(c, i);
      }
    }
    for (int32_t i = 0; i < n; ++i) PlatformFreeFixed(stale[i]);
  }
}

unsigned char* TakeCachedBlock(uint64_t size) {
  if (size < kCachedBlockMin) return nullptr;
  BlockCache& c = Cache();
  std::lock_guard<std::mutex> hold(c.m);
  for (int32_t i = 0; i < c.count; ++i) {
    if (c.entries[i].size == size) return TakeEntry(c, i);
  }
  return nullptr;
}

// 1 when the cache took the block; 0 when the caller frees it.
int32_t CacheBlock(unsigned char* block, uint64_t size) {
  if (size < kCachedBlockMin || size > kCacheBytesMax) return 0;
  BlockCache& c = Cache();
  unsigned char* evicted[kCacheSlots];
  int32_t n = 0;
  {
    std::lock_guard<std::mutex> hold(c.m);
    if (!c.trimmer) {
      // Without a trimmer nothing would ever go back: then the block goes back at once.
      if (!StartThreadWithTrampoline(TrimCache, nullptr)) return 0;
      c.trimmer = true;
    }
    // Room by the oldest first: the newest is the likeliest to be asked for again.
    while (c.count > 0 && (c.count == kCacheSlots || c.bytes + size > kCacheBytesMax)) {
      int32_t oldest = 0;
      for (int32_t i = 1; i < c.count; ++i) {
        if (c.entries[i].freedAt < c.entries[oldest].freedAt) oldest = i;
      }
      evicted[n++] = TakeEntry(c, oldest);
    }
    PoisonBlock(block, size, true);
    c.entries[c.count++] = {block, size, PlatformTickCount64()};
    c.bytes += size;
  }
  c.filled.Set();
  for (int32_t i = 0; i < n; ++i) PlatformFreeFixed(evicted[i]);
  return 1;
}

}  // namespace

uint64_t CachedPixelBytes() {
  BlockCache& c = Cache();
  std::lock_guard<std::mutex> hold(c.m);
  return c.bytes;
}

// ---- pixel blocks ----

void* AllocPixelsUncleared(uint64_t count, uint64_t bytesPerPixel) {
  // Every size is checked before it is used: an overflowed product must not turn into a
  // small block that the caller then fills as if it were large.
  if (bytesPerPixel != 0 && count > UINT64_MAX / bytesPerPixel) return nullptr;
  uint64_t n = count * bytesPerPixel;
  if (n > UINT64_MAX - kHeaderBytes - (PlatformPageSize - 1)) return nullptr;
  uint64_t size = (n + kHeaderBytes + PlatformPageSize - 1) / PlatformPageSize * PlatformPageSize;
  unsigned char* block = TakeCachedBlock(size);
  if (!block) block = static_cast<unsigned char*>(PlatformAllocFixed(size));
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
  unsigned char* block = static_cast<unsigned char*>(pixels) - kHeaderBytes;
  if (!CacheBlock(block, PixelBlockSize(pixels))) PlatformFreeFixed(block);
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
