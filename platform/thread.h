// thread.h - the operating-system pieces the rest of the program needs for threads, timing
// and pixel memory: locks, condition variables, auto-reset events, sleeps, the tick counter,
// the processor count, thread start and page-granular fixed memory blocks.
//
//   PlatformLock      recursive mutual-exclusion lock (the same thread may take it again)
//   PlatformLockHold  scope guard that takes a PlatformLock and releases it at scope end
//   PlatformCondVar   condition variable; every wait names the predicate it waits for
//   PlatformEvent     auto-reset event: one Set releases one Wait, then the event is clear
//   PlatformWaitWord  sleep on a 32-bit word until another thread wakes it (futex)
//   PlatformSleep ... sleeps, yield, tick counter, processor count, thread start, memory
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// Recursive: the draw lock and several filter locks are taken again by code that already
// holds them (a redraw asked for from inside a drawing section, a filter callback that
// locks its own filter), and a plain mutex would deadlock there.
class PlatformLock {
 public:
  PlatformLock() = default;
  PlatformLock(const PlatformLock&) = delete;
  PlatformLock& operator=(const PlatformLock&) = delete;

  void Enter() { lock(); }
  void Leave() { unlock(); }
  // 1 when the lock was free (and is now held), else 0.
  int32_t TryEnter() { return try_lock() ? 1 : 0; }
  // 1 when the calling thread holds the lock: callers that would wait for another thread
  // which needs this lock test it first (a wait under it could never end).
  int32_t HeldByThisThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id() ? 1 : 0;
  }

  // Lower-case names let std::condition_variable_any and std::unique_lock use the lock.
  void lock() {
    m_.lock();
    Took();
  }
  void unlock() {
    if (--depth_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
    m_.unlock();
  }
  bool try_lock() {
    if (!m_.try_lock()) return false;
    Took();
    return true;
  }

 private:
  void Took() {
    if (depth_++ == 0) owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }

  std::recursive_mutex m_;
  std::atomic<std::thread::id> owner_{};
  uint32_t depth_ = 0;  // changed only by the holder
};

class PlatformLockHold {
 public:
  explicit PlatformLockHold(PlatformLock& lock) : lock_(lock) { lock_.Enter(); }
  ~PlatformLockHold() { lock_.Leave(); }
  PlatformLockHold(const PlatformLockHold&) = delete;
  PlatformLockHold& operator=(const PlatformLockHold&) = delete;

 private:
  PlatformLock& lock_;
};

// Waits always re-test a predicate: the sleeper may wake without a signal, and a signal
// given before the wait began must not be lost.  The lock must be held exactly once by the
// waiting thread; it is released while asleep and held again when Wait returns.
class PlatformCondVar {
 public:
  PlatformCondVar() = default;
  PlatformCondVar(const PlatformCondVar&) = delete;
  PlatformCondVar& operator=(const PlatformCondVar&) = delete;

  void Wake() { cv_.notify_one(); }
  void WakeAll() { cv_.notify_all(); }

  template <class Pred>
  void Wait(PlatformLock& lock, Pred pred) {
    cv_.wait(lock, pred);
  }
  // 1 when pred became true, 0 when milliseconds passed first (pred still false).
  template <class Pred>
  int32_t WaitFor(PlatformLock& lock, uint32_t milliseconds, Pred pred) {
    return cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), pred) ? 1 : 0;
  }

 private:
  std::condition_variable_any cv_;
};

constexpr uint32_t PlatformInfinite = 0xFFFFFFFFu;

// Auto-reset event: Set wakes one waiter (or the next one to come); the wait consumes it.
class PlatformEvent {
 public:
  explicit PlatformEvent(int32_t initiallySet = 0) : set_(initiallySet != 0) {}
  PlatformEvent(const PlatformEvent&) = delete;
  PlatformEvent& operator=(const PlatformEvent&) = delete;

  void Set();
  void Reset();
  // 1 when the event was set (it is then clear again), 0 after milliseconds without it.
  // PlatformInfinite waits without limit.
  int32_t Wait(uint32_t milliseconds = PlatformInfinite);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_;
};

// Sleeps at least the given milliseconds; 0 only gives up the rest of the time slice.
void PlatformSleep(uint32_t milliseconds);
void PlatformYield();

// Milliseconds since an arbitrary fixed point; the 32-bit form wraps after about 49.7 days.
uint32_t PlatformTickCount();
uint64_t PlatformTickCount64();

// Logical processors of this machine, or the test override when one is set.
uint64_t PlatformProcessorCount();
// Tests pretend a machine with n logical processors; 0 goes back to the real count.
void PlatformSetProcessorCountOverride(uint64_t n);

// Sleeps while *word holds expected, until PlatformWakeWord on it; may return early for no
// reason, so callers test their condition again.  One system call each way, nothing else:
// the worker pool's hand-over is built on them.
void PlatformWaitWord(std::atomic<uint32_t>* word, uint32_t expected);
// Wakes one thread asleep in PlatformWaitWord on word.
void PlatformWakeWord(std::atomic<uint32_t>* word);

// Starts a detached thread running entry(arg); 1 on success, 0 when the system refuses.
// The thread's result is ignored; nothing is kept to join it.
typedef uint32_t (*PlatformThreadEntry)(void* arg);
int32_t PlatformStartThread(PlatformThreadEntry entry, void* arg);

// Page size of the fixed memory blocks.
constexpr uint64_t PlatformPageSize = 4096;

// A block of size bytes that never moves, aligned to PlatformPageSize, contents undefined;
// null when size is 0 or the system refuses.  Returned with PlatformFreeFixed only.
void* PlatformAllocFixed(uint64_t size);
void PlatformFreeFixed(void* block);
