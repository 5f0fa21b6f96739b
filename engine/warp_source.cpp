// warp_source.cpp - WarpSource: per-thread reuse of the warps' source copy.
#include "engine/warp_source.h"

#include <cstdlib>
#include <cstring>

#include "core/parallel.h"

namespace {

// Larger buffers are freed after the call rather than held by an idle thread.
constexpr size_t kKeepBytes = size_t(64) << 20;
constexpr size_t kPadBytes = 16;

struct ThreadBuffer {
  void* block = nullptr;
  size_t capacity = 0;
  ~ThreadBuffer() { std::free(block); }
};

thread_local ThreadBuffer tBuffer;

}  // namespace

const void* WarpSource::Take(const C_ImgBuff* rec) {
  if (!rec || !rec->pixels || rec->format < 1 || rec->format >= ImgFormatCount) return nullptr;
  const uint64_t bytes = uint64_t(rec->width) * uint64_t(rec->height) * uint64_t(ImgBytesPerPixel[rec->format]);
  if (bytes == 0 || bytes > SIZE_MAX - kPadBytes) return nullptr;
  if (!block_) {
    // Take the thread's buffer (the slot stays empty while this call holds it).
    block_ = tBuffer.block;
    capacity_ = tBuffer.capacity;
    tBuffer.block = nullptr;
    tBuffer.capacity = 0;
  }
  // Kernels may read a whole word at the last pixel: a few spare bytes, zeroed, follow.
  const uint64_t need = bytes + kPadBytes;
  if (capacity_ < need) {
    std::free(block_);
    capacity_ = 0;
    block_ = std::malloc(size_t(need));
    if (!block_) return nullptr;
    capacity_ = size_t(need);
  }
  ParallelMemcpy(block_, rec->pixels, bytes);
  std::memset(static_cast<uint8_t*>(block_) + bytes, 0, kPadBytes);
  return block_;
}

WarpSource::~WarpSource() {
  if (block_ && capacity_ <= kKeepBytes && !tBuffer.block) {
    tBuffer.block = block_;
    tBuffer.capacity = capacity_;
    return;
  }
  std::free(block_);
}
