// scratch.h - growable scratch arrays for the engine's per-call work buffers (spans, runs,
// contour points, fill stacks).  malloc-based so that running out of memory is a result (0),
// never an exception; the buffer is reused across the islands of one call and freed with it.
//
//   ScratchArray<T>   trivially copyable elements; Reserve / Push / Clear, freed on destruction
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

template <class T>
class ScratchArray {
  static_assert(std::is_trivially_copyable<T>::value, "plain records only");

 public:
  ScratchArray() = default;
  ~ScratchArray() { std::free(data_); }
  ScratchArray(const ScratchArray&) = delete;
  ScratchArray& operator=(const ScratchArray&) = delete;

  // Room for at least n elements; 1, or 0 (contents kept) when memory cannot be had.
  int32_t Reserve(size_t n) {
    if (n <= capacity_) return 1;
    size_t cap = capacity_ ? capacity_ : 64;
    while (cap < n) {
      if (cap > (SIZE_MAX / sizeof(T)) / 2) return 0;
      cap *= 2;
    }
    T* p = static_cast<T*>(std::realloc(data_, cap * sizeof(T)));
    if (!p) return 0;
    data_ = p;
    capacity_ = cap;
    return 1;
  }
  int32_t Push(const T& v) {
    if (size_ == capacity_ && !Reserve(size_ + 1)) return 0;
    data_[size_++] = v;
    return 1;
  }
  // Sets the element count; only within a Reserve'd capacity.
  void Resize(size_t n) { size_ = n; }
  void Clear() { size_ = 0; }
  size_t Size() const { return size_; }
  T* Data() { return data_; }
  const T* Data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& Back() { return data_[size_ - 1]; }
  void Pop() { --size_; }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
