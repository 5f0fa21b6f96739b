// alloc_util.h - vector growth that reports a failed allocation as false instead of
// throwing.  Table and buffer sizes in the media readers and writers come from the files
// they handle; when the machine cannot supply that much memory the open or read fails
// through its ordinary error path rather than ending the process.
//   TryResize / TryAssign / TryReserve / TryPushBack / TryAppend   false when memory runs out
//   g_mediaAllocFailAt                                             test hook: fail the n-th growth
// The catch stays inside these helpers: call them only from our own C++ code, never from a
// libpng or libjpeg callback or between a setjmp and the library call it guards.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

// Tests set this to n to make the n-th following growth fail (1 = the next one); it
// counts down to 0 and then stays off.  0 (the default) never fails anything.
inline std::atomic<long> g_mediaAllocFailAt{0};

inline bool MediaAllocForcedFailure() {
  long n = g_mediaAllocFailAt.load(std::memory_order_relaxed);
  while (n > 0) {
    if (g_mediaAllocFailAt.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) return n == 1;
  }
  return false;
}

template <class T>
bool TryResize(std::vector<T>& v, size_t n) {
  if (n > v.size() && MediaAllocForcedFailure()) return false;
  try {
    v.resize(n);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

template <class T>
bool TryAssign(std::vector<T>& v, size_t n, const T& value) {
  if (MediaAllocForcedFailure()) return false;
  try {
    v.assign(n, value);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

template <class T>
bool TryReserve(std::vector<T>& v, size_t n) {
  if (n > v.capacity() && MediaAllocForcedFailure()) return false;
  try {
    v.reserve(n);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

template <class T>
bool TryPushBack(std::vector<T>& v, const T& value) {
  if (v.size() == v.capacity() && MediaAllocForcedFailure()) return false;
  try {
    v.push_back(value);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

// Appends [first, last); on failure `v` is left as it was.
template <class T, class It>
bool TryAppend(std::vector<T>& v, It first, It last) {
  if (first != last && MediaAllocForcedFailure()) return false;
  try {
    v.insert(v.end(), first, last);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}
