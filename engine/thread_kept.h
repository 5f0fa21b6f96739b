// thread_kept.h - large work blocks and pictures that the calling thread keeps from one call
// of an operation to the next.  Operations run frame after frame on the same thread (the
// filter worker, the video tools), and a block of a frame's size allocated afresh on every
// call costs a page fault on every page whenever the C library has handed its memory back;
// a kept block costs nothing after the first call.  Each use site has its own slot (Tag);
// the slot stays empty while a call holds its block, so a nested call on the same thread
// allocates its own.  Blocks above 64 MiB are freed after the call rather than held by an
// idle thread.
//
//   KeptBlock<Tag>     malloc'd bytes, contents undefined
//   KeptPicture<Tag>   a picture handle whose pixel block is kept with it
//   SwapPixelBlocks    exchanges the pixels, format and size of two records
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "core/imgbuff.h"

constexpr size_t kThreadKeptBytes = size_t(64) << 20;

template <class Tag>
class KeptBlock {
 public:
  KeptBlock() = default;
  ~KeptBlock() {
    Slot& s = SlotOf();
    if (block_ && capacity_ <= kThreadKeptBytes && !s.block) {
      s.block = block_;
      s.capacity = capacity_;
      return;
    }
    std::free(block_);
  }
  KeptBlock(const KeptBlock&) = delete;
  KeptBlock& operator=(const KeptBlock&) = delete;

  // At least bytes bytes, the kept block when it is large enough; null when memory is short.
  void* Take(size_t bytes) {
    if (!block_) {
      Slot& s = SlotOf();
      std::swap(block_, s.block);
      std::swap(capacity_, s.capacity);
    }
    if (capacity_ < bytes) {
      std::free(block_);
      block_ = std::malloc(bytes ? bytes : 1);
      capacity_ = block_ ? bytes : 0;
    }
    return block_;
  }

 private:
  struct Slot {
    void* block = nullptr;
    size_t capacity = 0;
    ~Slot() { std::free(block); }
  };
  static Slot& SlotOf() {
    thread_local Slot slot;
    return slot;
  }
  void* block_ = nullptr;
  size_t capacity_ = 0;
};

template <class Tag>
class KeptPicture {
 public:
  KeptPicture() {
    Slot& s = SlotOf();
    picture_ = s.picture;
    s.picture = nullptr;
    if (!picture_) picture_ = new (std::nothrow) CImgBuff;
  }
  ~KeptPicture() {
    Slot& s = SlotOf();
    const C_ImgBuff* r = picture_ ? picture_->record : nullptr;
    const uint64_t bytes = r && r->format > 0 && r->format < ImgFormatCount
                               ? uint64_t(r->width) * uint64_t(r->height) * uint64_t(ImgBytesPerPixel[r->format])
                               : 0;
    if (picture_ && bytes <= kThreadKeptBytes && !s.picture) {
      s.picture = picture_;
      return;
    }
    delete picture_;
  }
  KeptPicture(const KeptPicture&) = delete;
  KeptPicture& operator=(const KeptPicture&) = delete;

  // Null only when not even an empty handle could be had.
  CImgBuff* Get() const { return picture_; }

 private:
  struct Slot {
    CImgBuff* picture = nullptr;
    ~Slot() { delete picture; }
  };
  static Slot& SlotOf() {
    thread_local Slot slot;
    return slot;
  }
  CImgBuff* picture_ = nullptr;
};

inline void SwapPixelBlocks(C_ImgBuff* a, C_ImgBuff* b) {
  std::swap(a->format, b->format);
  std::swap(a->width, b->width);
  std::swap(a->height, b->height);
  std::swap(a->pixels, b->pixels);
}
