// thread.cpp - auto-reset events, sleeps, tick counter, processor count, detached thread
// start and page-aligned fixed memory blocks on POSIX.
// Inside: events - time - processors - threads - words to sleep on - memory
#include "platform/thread.h"

#include <pthread.h>
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#endif
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

// ---- events ----

void PlatformEvent::Set() {
  {
    std::lock_guard<std::mutex> hold(m_);
    set_ = true;
  }
  cv_.notify_one();
}

void PlatformEvent::Reset() {
  std::lock_guard<std::mutex> hold(m_);
  set_ = false;
}

int32_t PlatformEvent::Wait(uint32_t milliseconds) {
  std::unique_lock<std::mutex> hold(m_);
  if (milliseconds == PlatformInfinite) {
    cv_.wait(hold, [this] { return set_; });
  } else if (!cv_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return set_; })) {
    return 0;
  }
  set_ = false;  // auto-reset: this wait consumed the signal
  return 1;
}

// ---- time ----

void PlatformSleep(uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
    // interrupted by a signal: sleep the rest
  }
}

void PlatformYield() { sched_yield(); }

uint64_t PlatformTickCount64() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t PlatformTickCount() { return static_cast<uint32_t>(PlatformTickCount64()); }

// ---- processors ----

namespace {
std::atomic<uint64_t> g_processorOverride{0};
}

uint64_t PlatformProcessorCount() {
  uint64_t over = g_processorOverride.load(std::memory_order_relaxed);
  if (over != 0) return over;
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n < 1 ? 1 : static_cast<uint64_t>(n);
}

void PlatformSetProcessorCountOverride(uint64_t n) {
  g_processorOverride.store(n, std::memory_order_relaxed);
}

// ---- threads ----

namespace {
struct ThreadLaunch {
  PlatformThreadEntry entry;
  void* arg;
};

void* ThreadLaunchMain(void* p) {
  ThreadLaunch launch = *static_cast<ThreadLaunch*>(p);
  delete static_cast<ThreadLaunch*>(p);
  launch.entry(launch.arg);
  return nullptr;
}
}  // namespace

int32_t PlatformStartThread(PlatformThreadEntry entry, void* arg) {
  if (!entry) return 0;
  ThreadLaunch* launch = new (std::nothrow) ThreadLaunch{entry, arg};
  if (!launch) return 0;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete launch;
    return 0;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, ThreadLaunchMain, launch);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete launch;
    return 0;
  }
  return 1;
}

// ---- words to sleep on ----

void PlatformWaitWord(std::atomic<uint32_t>* word, uint32_t expected) {
#if defined(__linux__)
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex is a plain 32-bit word");
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
#else
  word->wait(expected);
#endif
}

void PlatformWakeWord(std::atomic<uint32_t>* word) {
#if defined(__linux__)
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#else
  word->notify_one();
#endif
}

// ---- memory ----

// No single block beyond 1 TiB: no machine this runs on can give one, and asking the
// allocator for an absurd size aborts under the address sanitizer instead of failing.
constexpr uint64_t kMaxFixedBlock = uint64_t(1) << 40;

void* PlatformAllocFixed(uint64_t size) {
  if (size == 0 || size > kMaxFixedBlock) return nullptr;
  // aligned_alloc wants a multiple of the alignment.
  uint64_t rounded = (size + PlatformPageSize - 1) / PlatformPageSize * PlatformPageSize;
  if (rounded > SIZE_MAX) return nullptr;
  return std::aligned_alloc(PlatformPageSize, static_cast<size_t>(rounded));
}

void PlatformFreeFixed(void* block) { std::free(block); }
