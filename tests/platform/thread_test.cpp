// thread_test.cpp - locks, condition variables, auto-reset events, tick counter, processor
// count override, thread start and fixed memory blocks.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

TEST(PlatformThread, LockIsRecursive) {
  PlatformLock lock;
  lock.Enter();
  lock.Enter();  // the same thread again
  std::atomic<int32_t> other{-1};
  std::thread t([&] { other = lock.TryEnter(); });
  t.join();
  EXPECT_EQ(other.load(), 0);
  lock.Leave();
  lock.Leave();
  std::thread t2([&] {
    other = lock.TryEnter();
    if (other) lock.Leave();
  });
  t2.join();
  EXPECT_EQ(other.load(), 1);
}

TEST(PlatformThread, ConditionWaitsForItsPredicate) {
  PlatformLock lock;
  PlatformCondVar cv;
  int32_t stage = 0;
  std::thread t([&] {
    PlatformLockHold hold(lock);
    stage = 1;
    cv.WakeAll();  // a wake-up that does not satisfy the waiter
    cv.Wait(lock, [&] { return stage == 2; });
    stage = 3;
    cv.WakeAll();
  });
  {
    PlatformLockHold hold(lock);
    cv.Wait(lock, [&] { return stage == 1; });
    stage = 2;
    cv.WakeAll();
    cv.Wait(lock, [&] { return stage == 3; });
  }
  t.join();
  EXPECT_EQ(stage, 3);

  PlatformLockHold hold(lock);
  EXPECT_EQ(cv.WaitFor(lock, 1, [] { return false; }), 0);
  EXPECT_EQ(cv.WaitFor(lock, 1, [] { return true; }), 1);
}

TEST(PlatformThread, AutoResetEvent) {
  PlatformEvent ev;
  EXPECT_EQ(ev.Wait(0), 0);
  ev.Set();
  ev.Set();  // a second Set before any wait is the same single signal
  EXPECT_EQ(ev.Wait(0), 1);
  EXPECT_EQ(ev.Wait(1), 0) << "the wait consumed the signal";

  PlatformEvent initially(1);
  EXPECT_EQ(initially.Wait(0), 1);
  initially.Set();
  initially.Reset();
  EXPECT_EQ(initially.Wait(0), 0);

  // Set from another thread releases a waiting one exactly once.
  std::atomic<int> woken{0};
  std::thread t([&] {
    if (ev.Wait(PlatformInfinite)) woken++;
  });
  ev.Set();
  t.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(PlatformThread, TickCounterAndSleep) {
  uint64_t t0 = PlatformTickCount64();
  PlatformSleep(30);
  uint64_t t1 = PlatformTickCount64();
  EXPECT_GE(t1 - t0, 29u);  // the counter truncates to whole milliseconds
  // The 32-bit form is the low part: it lies between two 64-bit reads taken around it,
  // however long this thread is held between them.
  const uint64_t before = PlatformTickCount64();
  const uint32_t low = PlatformTickCount();
  const uint64_t after = PlatformTickCount64();
  EXPECT_LE(low - static_cast<uint32_t>(before), static_cast<uint32_t>(after - before))
      << "the 32-bit form is the low part";
  PlatformSleep(0);
  PlatformYield();
}

TEST(PlatformThread, ProcessorCountOverride) {
  uint64_t real = PlatformProcessorCount();
  EXPECT_GE(real, 1u);
  PlatformSetProcessorCountOverride(8);
  EXPECT_EQ(PlatformProcessorCount(), 8u);
  PlatformSetProcessorCountOverride(0);
  EXPECT_EQ(PlatformProcessorCount(), real);
}

TEST(PlatformThread, StartThread) {
  std::atomic<int> value{0};
  ASSERT_EQ(PlatformStartThread(
                [](void* arg) -> uint32_t {
                  static_cast<std::atomic<int>*>(arg)->store(5);
                  return 0;
                },
                &value),
            1);
  while (value.load() != 5) PlatformYield();
  EXPECT_EQ(PlatformStartThread(nullptr, nullptr), 0);
}

TEST(PlatformThread, FixedBlocks) {
  for (uint64_t size : {uint64_t(1), uint64_t(4096), uint64_t(4097), uint64_t(1) << 20}) {
    void* p = PlatformAllocFixed(size);
    ASSERT_NE(p, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % PlatformPageSize, 0u);
    static_cast<unsigned char*>(p)[size - 1] = 1;  // the whole size is usable
    PlatformFreeFixed(p);
  }
  EXPECT_EQ(PlatformAllocFixed(0), nullptr);
  EXPECT_EQ(PlatformAllocFixed(UINT64_MAX), nullptr);
  EXPECT_EQ(PlatformAllocFixed(UINT64_MAX - 100), nullptr);
  PlatformFreeFixed(nullptr);
}
