// parallel_test.cpp - worker pool: how jobs are cut and handed out, inline cases, reference
// counting, nested and concurrent jobs, start/stop cycles, copies, fills, thread start.
// Every test pretends a processor count of its own, so the results do not depend on the
// machine that runs them.
#include "core/parallel.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Stops the pool completely and pretends `processors` logical processors.
void ResetPool(uint64_t processors) {
  while (WorkerPoolReferenceCount() > 0) StopWorkerPool();
  ASSERT_EQ(SetProcessorCountForTesting(processors), 1);
}

class PoolTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetPool(0); }
};

struct PieceLog {
  std::mutex m;
  std::vector<ParallelPiece> pieces;
  std::vector<std::thread::id> threads;
};

void LogPiece(void* ctx, uint64_t first, uint64_t count) {
  PieceLog* log = static_cast<PieceLog*>(ctx);
  std::lock_guard<std::mutex> hold(log->m);
  log->pieces.push_back({first, count});
  log->threads.push_back(std::this_thread::get_id());
}

std::vector<std::pair<uint64_t, uint64_t>> Sorted(const std::vector<ParallelPiece>& v) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  for (const ParallelPiece& p : v) out.push_back({p.first, p.count});
  std::sort(out.begin(), out.end());
  return out;
}

// Items processed, one counter each; a job is correct when every counter is exactly 1.
struct CountJob {
  std::vector<std::atomic<uint32_t>>* counts;
  uint64_t nestedItems;  // > 0: each piece runs a nested job over this many items
};

void CountItems(void* ctx, uint64_t first, uint64_t count) {
  CountJob* job = static_cast<CountJob*>(ctx);
  for (uint64_t i = first; i < first + count; i++) (*job->counts)[i].fetch_add(1);
  if (job->nestedItems > 0) {
    std::vector<std::atomic<uint32_t>> inner(job->nestedItems);
    CountJob innerJob{&inner, 0};
    std::thread::id self = std::this_thread::get_id();
    ParallelFor(CountItems, &innerJob, job->nestedItems);
    for (auto& c : inner) EXPECT_EQ(c.load(), 1u);
    EXPECT_EQ(self, std::this_thread::get_id());
  }
}

bool RunCountJob(uint64_t n, uint64_t nested) {
  std::vector<std::atomic<uint32_t>> counts(n);
  CountJob job{&counts, nested};
  if (ParallelFor(CountItems, &job, n) != 1) return false;
  for (auto& c : counts) {
    if (c.load() != 1) return false;
  }
  return true;
}

}  // namespace

TEST(ParallelPlan, PiecesForEightWorkers) {
  struct Case {
    const char* name;
    uint64_t n, active, capacity;
    std::vector<ParallelPiece> workers, queued;
  };
  std::vector<Case> cases = {
      {"n5", 5, 8, 16, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}}, {}},
      {"n8", 8, 8, 16, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}}, {}},
      {"n12", 12, 8, 16,
       {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}},
       {{8, 1}, {9, 1}, {10, 1}, {11, 1}}},
      {"n100",
       100,
       8,
       16,
       {{0, 7}, {7, 7}, {14, 7}, {21, 7}, {28, 6}, {34, 6}, {40, 6}, {46, 6}},
       {{52, 6}, {58, 6}, {64, 6}, {70, 6}, {76, 6}, {82, 6}, {88, 6}, {94, 6}}},
      {"n100_active2",
       100,
       2,
       16,
       {{0, 7}, {7, 7}},
       {{14, 7}, {21, 7}, {28, 6}, {34, 6}, {40, 6}, {46, 6}, {52, 6}, {58, 6}, {64, 6}, {70, 6}, {76, 6},
        {82, 6}, {88, 6}, {94, 6}}},
      {"n16_exact", 16, 8, 16,
       {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}},
       {{8, 1}, {9, 1}, {10, 1}, {11, 1}, {12, 1}, {13, 1}, {14, 1}, {15, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ParallelPiece> w(c.capacity), q(c.capacity);
    uint64_t nw = 99, nq = 99;
    ParallelPlan(c.n, c.active, c.capacity, w.data(), &nw, q.data(), &nq);
    ASSERT_EQ(nw, c.workers.size());
    ASSERT_EQ(nq, c.queued.size());
    for (uint64_t i = 0; i < nw; i++) {
      EXPECT_EQ(w[i].first, c.workers[i].first) << "worker " << i;
      EXPECT_EQ(w[i].count, c.workers[i].count) << "worker " << i;
    }
    for (uint64_t i = 0; i < nq; i++) {
      EXPECT_EQ(q[i].first, c.queued[i].first) << "queued " << i;
      EXPECT_EQ(q[i].count, c.queued[i].count) << "queued " << i;
    }
  }
}

TEST_F(PoolTest, JobsRunOnWorkersAsPlanned) {
  ResetPool(8);
  ASSERT_EQ(StartWorkerPool(), 1);
  ASSERT_EQ(WorkerPoolLiveThreads(), 8u);
  std::thread::id caller = std::this_thread::get_id();

  struct Case {
    uint64_t n, active;
  };
  for (Case c : {Case{5, 8}, Case{12, 8}, Case{100, 8}, Case{100, 2}, Case{1000003, 8}}) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << " active " << c.active);
    ASSERT_EQ(SetWorkerCount(c.active), 1);
    PieceLog log;
    ASSERT_EQ(ParallelFor(LogPiece, &log, c.n), 1);

    std::vector<ParallelPiece> w(16), q(16);
    uint64_t nw, nq;
    ParallelPlan(c.n, c.active, 16, w.data(), &nw, q.data(), &nq);
    std::vector<ParallelPiece> all(w.begin(), w.begin() + nw);
    all.insert(all.end(), q.begin(), q.begin() + nq);
    EXPECT_EQ(Sorted(log.pieces), Sorted(all));

    std::set<std::thread::id> threads(log.threads.begin(), log.threads.end());
    EXPECT_EQ(threads.count(caller), 0u) << "the caller runs no piece of its own job";
    EXPECT_LE(threads.size(), c.active);
    if (c.n <= c.active) {
      EXPECT_EQ(threads.size(), c.n) << "one piece per worker";
    }
  }
}

TEST_F(PoolTest, InlineCases) {
  std::thread::id caller = std::this_thread::get_id();
  auto expectInline = [&](uint64_t n) {
    PieceLog log;
    ASSERT_EQ(ParallelFor(LogPiece, &log, n), 1);
    ASSERT_EQ(log.pieces.size(), 1u);
    EXPECT_EQ(log.pieces[0].first, 0u);
    EXPECT_EQ(log.pieces[0].count, n);
    EXPECT_EQ(log.threads[0], caller);
  };

  // One processor: nothing starts, nothing is counted, every job runs inline.
  ResetPool(1);
  EXPECT_EQ(StartWorkerPool(), 1);
  EXPECT_EQ(WorkerPoolReferenceCount(), 0u);
  EXPECT_EQ(WorkerPoolLiveThreads(), 0u);
  expectInline(100);
  StopWorkerPool();

  // Pool not running.
  ResetPool(8);
  expectInline(100);

  ASSERT_EQ(StartWorkerPool(), 1);
  expectInline(1);  // a single item
  ASSERT_EQ(SetWorkerCount(1), 1);
  expectInline(100);  // one active worker

  PieceLog none;
  EXPECT_EQ(ParallelFor(LogPiece, &none, 0), 1);
  EXPECT_TRUE(none.pieces.empty());
  EXPECT_EQ(ParallelFor(nullptr, nullptr, 10), 0);
}

TEST_F(PoolTest, SetWorkerCountLimits) {
  ResetPool(8);
  EXPECT_EQ(GetProcessorCount(), 8u);
  EXPECT_EQ(ActiveWorkerCount(), 8u);
  EXPECT_EQ(SetWorkerCount(0), 0);
  EXPECT_EQ(SetWorkerCount(9), 0);
  EXPECT_EQ(ActiveWorkerCount(), 8u);
  EXPECT_EQ(SetWorkerCount(3), 1);
  EXPECT_EQ(ActiveWorkerCount(), 3u);

  // Refused while a job runs (asked from inside a piece).
  ASSERT_EQ(StartWorkerPool(), 1);
  std::atomic<int32_t> during{-1};
  auto piece = [](void* ctx, uint64_t first, uint64_t) {
    if (first == 0) static_cast<std::atomic<int32_t>*>(ctx)->store(SetWorkerCount(2));
  };
  ASSERT_EQ(ParallelFor(piece, &during, 10), 1);
  EXPECT_EQ(during.load(), 0);
  EXPECT_EQ(ActiveWorkerCount(), 3u);
}

TEST_F(PoolTest, ReferenceCounting) {
  ResetPool(4);
  ASSERT_EQ(StartWorkerPool(), 1);
  ASSERT_EQ(StartWorkerPool(), 1);
  EXPECT_EQ(WorkerPoolReferenceCount(), 2u);
  EXPECT_EQ(WorkerPoolLiveThreads(), 4u) << "a second start only counts";
  EXPECT_EQ(SetProcessorCountForTesting(2), 0) << "refused while the pool runs";
  StopWorkerPool();
  EXPECT_EQ(WorkerPoolReferenceCount(), 1u);
  EXPECT_EQ(WorkerPoolLiveThreads(), 4u) << "the matching stop ends nothing";
  EXPECT_TRUE(RunCountJob(1000, 0));
  StopWorkerPool();
  EXPECT_EQ(WorkerPoolReferenceCount(), 0u);
  EXPECT_EQ(WorkerPoolLiveThreads(), 0u) << "the last stop ends every worker";
  StopWorkerPool();  // one too many: harmless
  EXPECT_EQ(WorkerPoolReferenceCount(), 0u);
  EXPECT_TRUE(RunCountJob(1000, 0)) << "inline after the stop";
}

TEST_F(PoolTest, NestedJobRunsInlineInItsPiece) {
  ResetPool(8);
  ASSERT_EQ(StartWorkerPool(), 1);
  for (uint64_t n : {2u, 8u, 13u, 100u, 4097u}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(RunCountJob(n, 7));
  }
}

TEST_F(PoolTest, StressTwoThreadsNestedAndStartStopCycles) {
  ResetPool(8);
  ASSERT_EQ(StartWorkerPool(), 1);  // held by this test for the concurrent part
  std::atomic<int> failures{0};
  auto jobs = [&](uint64_t seed) {
    uint64_t x = seed;
    for (int j = 0; j < 300; j++) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      uint64_t n = (x >> 33) % 3000;
      uint64_t nested = (j % 5 == 0) ? (x >> 20) % 40 : 0;
      if (!RunCountJob(n, nested)) failures++;
    }
  };
  // A third thread takes and drops references while jobs run; the test's own reference
  // keeps the workers alive throughout.
  auto cycles = [&] {
    for (int i = 0; i < 200; i++) {
      if (StartWorkerPool() != 1) failures++;
      StopWorkerPool();
    }
  };
  std::thread a(jobs, 1), b(jobs, 2), c(cycles);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(WorkerPoolReferenceCount(), 1u);
  StopWorkerPool();
  EXPECT_EQ(WorkerPoolLiveThreads(), 0u);

  // Whole start/stop cycles with jobs in between.
  for (int cycle = 0; cycle < 20; cycle++) {
    ASSERT_EQ(StartWorkerPool(), 1);
    EXPECT_EQ(WorkerPoolLiveThreads(), 8u);
    EXPECT_TRUE(RunCountJob(257 + cycle, cycle % 2 ? 9 : 0));
    StopWorkerPool();
    EXPECT_EQ(WorkerPoolLiveThreads(), 0u);
  }
}

// Threads of this process other than the caller that the kernel lists as runnable.
int CountOtherRunnableThreads() {
  int runnable = 0;
  const long self = static_cast<long>(syscall(SYS_gettid));
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::atol(e->d_name) == self) continue;
    std::ifstream stat(std::string("/proc/self/task/") + e->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    // The state letter follows the command name, which is in parentheses and may hold blanks.
    size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'R') runnable++;
  }
  closedir(dir);
  return runnable;
}

// Many jobs too small to be worth a thread, as a filter chain asks for them: every item
// exactly once while a second thread's jobs and nested jobs cut in, and the pool coming and
// going in between.
TEST_F(PoolTest, ManySmallJobsWithASecondThreadAndRestarts) {
  ResetPool(8);
  ASSERT_EQ(StartWorkerPool(), 1);
  std::atomic<int> failures{0};
  std::atomic<bool> mainDone{false};
  std::thread other([&] {
    uint64_t x = 3;
    while (!mainDone.load()) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      if (!RunCountJob(2 + (x >> 33) % 40, (x >> 40) % 3 == 0 ? 5 : 0)) failures++;
    }
  });
  for (int j = 0; j < 10000; j++) {
    uint64_t n = (j % 3 == 0) ? 8 : 2 + uint64_t(j) % 37;
    if (!RunCountJob(n, j % 50 == 0 ? 11 : 0)) failures++;
  }
  mainDone.store(true);
  other.join();
  EXPECT_EQ(failures.load(), 0);
  StopWorkerPool();
  EXPECT_EQ(WorkerPoolLiveThreads(), 0u);

  for (int cycle = 0; cycle < 100; cycle++) {
    ASSERT_EQ(StartWorkerPool(), 1);
    ASSERT_EQ(WorkerPoolLiveThreads(), 8u);
    EXPECT_TRUE(RunCountJob(8, 0));
    EXPECT_TRUE(RunCountJob(100, cycle % 4 == 0 ? 3 : 0));
    StopWorkerPool();
    ASSERT_EQ(WorkerPoolLiveThreads(), 0u);
  }
}

// Workers poll for a little while after a job, then sleep: an idle program costs no processor.
TEST_F(PoolTest, IdleWorkersSleepAfterTheSpinWindow) {
  ResetPool(8);
  ASSERT_EQ(StartWorkerPool(), 1);
  for (int j = 0; j < 100; j++) ASSERT_TRUE(RunCountJob(64, 0));
  // A worker that never went to sleep would stay runnable for good; one on its way to sleep
  // may stay runnable for as long as a loaded machine keeps it waiting for a processor.  So
  // look until none is, with a limit far beyond any such wait, not for a fixed while.
  int runnable = -1;
  for (int look = 0; look < 1200 && runnable != 0; look++) {
    PlatformSleep(50);
    runnable = CountOtherRunnableThreads();
  }
  EXPECT_EQ(runnable, 0);
}

// Times each thread of this process other than the caller has gone to sleep, by thread id.
std::map<long, long> SleepsPerThread() {
  std::map<long, long> sleeps;
  const long self = static_cast<long>(syscall(SYS_gettid));
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return sleeps;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::atol(e->d_name) == self) continue;
    std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) sleeps[std::atol(e->d_name)] = std::atol(line.c_str() + 24);
    }
  }
  closedir(dir);
  return sleeps;
}

// After a pause every worker is asleep; a job of n items fewer than the workers wakes n of
// them and leaves the others asleep (each woken one goes to sleep once more afterwards).
TEST_F(PoolTest, JobAfterAPauseWakesOnlyAsManyWorkersAsItems) {
  ResetPool(8);
  // The pool's threads are the ones that come with its start (a sanitizer may run threads
  // of its own, which wake on their own schedule).
  const std::map<long, long> earlier = SleepsPerThread();
  ASSERT_EQ(StartWorkerPool(), 1);
  std::set<long> workers;
  for (const auto& entry : SleepsPerThread()) {
    if (!earlier.count(entry.first)) workers.insert(entry.first);
  }
  ASSERT_EQ(workers.size(), 8u);
  for (uint64_t n : {uint64_t(2), uint64_t(5), uint64_t(8)}) {
    SCOPED_TRACE(testing::Message() << n << " items");
    // Far beyond the spin window, as in IdleWorkersSleepAfterTheSpinWindow.
    int runnable = -1;
    for (int look = 0; look < 20 && runnable != 0; look++) {
      PlatformSleep(50);
      runnable = CountOtherRunnableThreads();
    }
    ASSERT_EQ(runnable, 0);
    const std::map<long, long> before = SleepsPerThread();
    ASSERT_TRUE(RunCountJob(n, 0));
    runnable = -1;
    for (int look = 0; look < 20 && runnable != 0; look++) {
      PlatformSleep(50);
      runnable = CountOtherRunnableThreads();
    }
    ASSERT_EQ(runnable, 0);
    const std::map<long, long> after = SleepsPerThread();
    uint64_t woken = 0;
    for (long tid : workers) {
      auto a = after.find(tid), b = before.find(tid);
      if (a != after.end() && b != before.end() && a->second != b->second) woken++;
    }
    EXPECT_EQ(woken, n);
  }
}

TEST_F(PoolTest, LastStopWaitsForARunningJob) {
  ResetPool(4);
  ASSERT_EQ(StartWorkerPool(), 1);
  std::atomic<int> started{0};
  std::vector<std::atomic<uint32_t>> counts(64);
  struct Slow {
    std::vector<std::atomic<uint32_t>>* counts;
    std::atomic<int>* started;
  } job{&counts, &started};
  auto slow = [](void* ctx, uint64_t first, uint64_t count) {
    Slow* s = static_cast<Slow*>(ctx);
    s->started->fetch_add(1);
    PlatformSleep(20);
    for (uint64_t i = first; i < first + count; i++) (*s->counts)[i].fetch_add(1);
  };
  std::thread runner([&] { ParallelFor(slow, &job, counts.size()); });
  while (started.load() == 0) PlatformYield();
  StopWorkerPool();  // the last reference, while the job is still going
  runner.join();
  for (auto& c : counts) EXPECT_EQ(c.load(), 1u);
  EXPECT_EQ(WorkerPoolLiveThreads(), 0u);
}

TEST_F(PoolTest, MemcpyAndZeroFillAroundTheThreshold) {
  ResetPool(4);
  ASSERT_EQ(StartWorkerPool(), 1);
  for (uint64_t n : {uint64_t(0), uint64_t(1), uint64_t(1048575), uint64_t(1048576), uint64_t(1048576 * 3 + 17)}) {
    SCOPED_TRACE(n);
    // Guard bytes on both sides catch a piece that strays outside its range.
    std::vector<unsigned char> src(n + 2), dst(n + 2, 0xEE);
    for (uint64_t i = 0; i < n + 2; i++) src[i] = static_cast<unsigned char>(i * 131 + 7);
    EXPECT_EQ(ParallelMemcpy(dst.data() + 1, src.data() + 1, n), dst.data() + 1);
    EXPECT_EQ(dst[0], 0xEE);
    EXPECT_EQ(dst[n + 1], 0xEE);
    EXPECT_EQ(std::memcmp(dst.data() + 1, src.data() + 1, n), 0);

    EXPECT_EQ(ParallelZeroFill(dst.data() + 1, 0, n), dst.data() + 1);
    EXPECT_EQ(dst[0], 0xEE);
    EXPECT_EQ(dst[n + 1], 0xEE);
    EXPECT_EQ(std::count(dst.begin() + 1, dst.end() - 1, 0), static_cast<std::ptrdiff_t>(n));
  }
}

TEST_F(PoolTest, CreateLockMergesPartialSums) {
  ResetPool(8);
  ASSERT_EQ(StartWorkerPool(), 1);
  struct Sum {
    PlatformLock* lock;
    uint64_t total;
  } sum{CreateLock(), 0};
  ASSERT_NE(sum.lock, nullptr);
  auto add = [](void* ctx, uint64_t first, uint64_t count) {
    Sum* s = static_cast<Sum*>(ctx);
    uint64_t part = 0;
    for (uint64_t i = first; i < first + count; i++) part += i;
    PlatformLockHold hold(*s->lock);
    s->total += part;
  };
  ASSERT_EQ(ParallelFor(add, &sum, 100000), 1);
  EXPECT_EQ(sum.total, 100000ull * 99999 / 2);
  DestroyLock(sum.lock);
}

TEST(ThreadStart, TrampolineHandsOverBeforeRunning) {
  // Called directly: the flag is already clear when the entry runs, so the creator's block
  // may be gone by then.
  struct Seen {
    ThreadStartBlock* block;
    int32_t flagAtEntry;
  } seen{nullptr, -1};
  ThreadStartBlock block{[](void* arg) -> uint32_t {
                           Seen* s = static_cast<Seen*>(arg);
                           s->flagAtEntry = s->block->started.load();
                           return 77;
                         },
                         &seen, 1};
  seen.block = &block;
  EXPECT_EQ(ThreadStartTrampoline(&block), 0u) << "the entry's own result is ignored";
  EXPECT_EQ(seen.flagAtEntry, 0);

  // Through a real thread.
  struct Done {
    std::atomic<int> value{0};
  } done;
  ASSERT_EQ(StartThreadWithTrampoline(
                [](void* arg) -> uint32_t {
                  static_cast<Done*>(arg)->value.store(42);
                  return 0;
                },
                &done),
            1);
  while (done.value.load() != 42) PlatformYield();
  EXPECT_EQ(StartThreadWithTrampoline(nullptr, nullptr), 0);
}
