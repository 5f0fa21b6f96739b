// warp_source.h - the copy of a picture's pixel block that the in-place warps (RotateScale,
// TiltCorrect) read from while they overwrite the picture.
//
//   WarpSource   a pixel-block copy for one call, from a buffer kept per calling thread
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/imgbuff.h"

// A warp runs frame after frame on the same thread (the filter worker, the video tools), so
// each thread keeps its last buffer (up to 64 MiB) for the next call: a frame then costs one
// copy, not a fresh allocation with a page fault on every page.  A nested warp on the same
// thread takes a buffer of its own.
class WarpSource {
 public:
  WarpSource() = default;
  ~WarpSource();
  WarpSource(const WarpSource&) = delete;
  WarpSource& operator=(const WarpSource&) = delete;

  // The record's pixel block, copied and followed by 16 zero bytes (a kernel may read a whole
  // word at the last pixel); null for an empty record or when memory is short.
  const void* Take(const C_ImgBuff* rec);

 private:
  void* block_ = nullptr;
  size_t capacity_ = 0;
};
