// parallel.cpp - the worker pool: one thread per logical processor, lent to one ParallelFor
// job at a time.  Each worker sleeps on its own condition variable; the caller of a job and
// the stop sleep on one all-done condition variable.  Every wait re-tests its predicate, so
// a spurious wake-up can neither run a piece twice nor let the caller return early.
// Inside: pool state - processor count - plan - workers - start and stop - ParallelFor -
//         locks, copies and fills - thread start
#include "core/parallel.h"

#include <cstring>
#include <new>

namespace {

// ---- pool state ----

struct PoolWorker {
  PlatformCondVar wake;
  uint64_t stop = 0;
  ParallelForFn fn = nullptr;
  void* ctx = nullptr;
  uint64_t first = 0;
  uint64_t count = 0;
  uint64_t hasPiece = 0;  // set when a piece is handed over, cleared when the worker takes it
};

struct PoolState {
  // Counts read without the lock are atomics; they are still only written under it.
  std::atomic<uint64_t> processorCount{0};  // 0 until first read
  std::atomic<uint64_t> active{0};
  std::atomic<uint64_t> refs{0};
  std::atomic<int32_t> busy{0};
  std::atomic<uint64_t> liveThreads{0};

  PoolWorker* workers = nullptr;
  uint64_t workerCount = 0;
  ParallelPiece* queue = nullptr;  // chunks waiting for a free worker
  uint64_t capacity = 0;           // 2 x processor count
  uint64_t queueNext = 0;
  uint64_t queueEnd = 0;
  uint64_t outstanding = 0;  // pieces not yet finished; during a stop, workers not yet ended
  uint64_t yetToStart = 0;
  PlatformCondVar* allDone = nullptr;
};

PoolState g_pool;

// The pool lock lives for the whole process: a worker that has just signalled its end may
// still be inside the lock's release when the stopping thread takes it again, so freeing
// the lock on stop would race with that release.
PlatformLock& PoolLock() {
  static PlatformLock* lock = new PlatformLock;
  return *lock;
}

void FreePoolArrays() {
  delete[] g_pool.workers;
  delete[] g_pool.queue;
  delete g_pool.allDone;
  g_pool.workers = nullptr;
  g_pool.queue = nullptr;
  g_pool.allDone = nullptr;
  g_pool.workerCount = 0;
  g_pool.capacity = 0;
  g_pool.queueNext = g_pool.queueEnd = 0;
}

// ---- workers ----

uint32_t WorkerThreadMain(void* arg) {
  PoolWorker* w = static_cast<PoolWorker*>(arg);
  PlatformLock& lock = PoolLock();
  lock.Enter();
  g_pool.liveThreads.fetch_add(1);
  g_pool.yetToStart--;
  g_pool.allDone->WakeAll();
  for (;;) {
    w->wake.Wait(lock, [w] { return w->hasPiece != 0 || w->stop != 0; });
    if (w->stop) {
      w->stop = 0;
      g_pool.liveThreads.fetch_sub(1);
      if (--g_pool.outstanding == 0) g_pool.allDone->WakeAll();
      // Nothing of the pool is touched after this release: the stop frees it.
      lock.Leave();
      return 0;
    }
    ParallelForFn fn = w->fn;
    void* ctx = w->ctx;
    uint64_t first = w->first;
    uint64_t count = w->count;
    w->hasPiece = 0;
    for (;;) {
      lock.Leave();
      fn(ctx, first, count);
      lock.Enter();
      g_pool.outstanding--;
      if (g_pool.queueNext == g_pool.queueEnd) break;
      first = g_pool.queue[g_pool.queueNext].first;
      count = g_pool.queue[g_pool.queueNext].count;
      g_pool.queueNext++;
    }
    if (g_pool.outstanding == 0) g_pool.allDone->WakeAll();
  }
}

// Stops workers 0 .. n-1 (all started and idle) and waits until each has left.  Lock held.
void EndWorkers(uint64_t n) {
  PlatformLock& lock = PoolLock();
  g_pool.outstanding = n;
  for (uint64_t i = 0; i < n; i++) {
    g_pool.workers[i].stop = 1;
    g_pool.workers[i].wake.Wake();
  }
  g_pool.allDone->Wait(lock, [] { return g_pool.outstanding == 0; });
}

void RunInline(ParallelForFn fn, void* ctx, uint64_t n) { fn(ctx, 0, n); }

// ---- locks, copies and fills ----

struct CopyRange {
  unsigned char* dst;
  const unsigned char* src;
};

void CopyRangeTask(void* ctx, uint64_t first, uint64_t count) {
  CopyRange* c = static_cast<CopyRange*>(ctx);
  std::memcpy(c->dst + first, c->src + first, static_cast<size_t>(count));
}

struct FillRange {
  unsigned char* dst;
  int value;
};

void FillRangeTask(void* ctx, uint64_t first, uint64_t count) {
  FillRange* f = static_cast<FillRange*>(ctx);
  std::memset(f->dst + first, f->value, static_cast<size_t>(count));
}

uint32_t TrampolineEntry(void* block) {
  return ThreadStartTrampoline(static_cast<ThreadStartBlock*>(block));
}

}  // namespace

// ---- processor count ----

uint64_t GetProcessorCount() {
  uint64_t n = g_pool.processorCount.load();
  if (n != 0) return n;
  n = PlatformProcessorCount();
  if (n == 0) n = 1;
  uint64_t expected = 0;
  if (g_pool.processorCount.compare_exchange_strong(expected, n)) {
    g_pool.active.store(n);
    return n;
  }
  return expected;
}

uint64_t ActiveWorkerCount() {
  GetProcessorCount();
  return g_pool.active.load();
}

int32_t SetWorkerCount(uint64_t n) {
  uint64_t processors = GetProcessorCount();
  if (n < 1 || n > processors) return 0;
  PlatformLockHold hold(PoolLock());
  if (g_pool.busy.load()) return 0;
  g_pool.active.store(n);
  return 1;
}

uint64_t WorkerPoolReferenceCount() { return g_pool.refs.load(); }

uint64_t WorkerPoolLiveThreads() { return g_pool.liveThreads.load(); }

int32_t SetProcessorCountForTesting(uint64_t n) {
  PlatformLockHold hold(PoolLock());
  if (g_pool.refs.load() != 0 || g_pool.workers) return 0;
  PlatformSetProcessorCountOverride(n);
  g_pool.processorCount.store(0);
  g_pool.active.store(0);
  return 1;
}

// ---- plan ----

void ParallelPlan(uint64_t n, uint64_t active, uint64_t capacity, ParallelPiece* workerPieces,
                  uint64_t* outWorkers, ParallelPiece* queued, uint64_t* outQueued) {
  if (capacity < active) capacity = active;
  uint64_t nw = 0, nq = 0;
  if (n <= active) {
    for (uint64_t i = 0; i < n; i++) workerPieces[nw++] = {i, 1};
  } else if (n < capacity) {
    for (uint64_t i = 0; i < active; i++) workerPieces[nw++] = {i, 1};
    for (uint64_t i = active; i < n; i++) queued[nq++] = {i, 1};
  } else {
    // C contiguous chunks; the first n mod C of them one item longer.
    uint64_t q = n / capacity, r = n % capacity, start = 0;
    for (uint64_t k = 0; k < capacity; k++) {
      uint64_t len = q + (k < r ? 1 : 0);
      if (k < active) {
        workerPieces[nw++] = {start, len};
      } else {
        queued[nq++] = {start, len};
      }
      start += len;
    }
  }
  *outWorkers = nw;
  *outQueued = nq;
}

// ---- start and stop ----

int32_t StartWorkerPool() {
  uint64_t processors = GetProcessorCount();
  if (processors < 2) return 1;
  PlatformLock& lock = PoolLock();
  PlatformLockHold hold(lock);
  uint64_t refs = g_pool.refs.load();
  if (refs > 0) {
    if (refs == UINT64_MAX) return 0;
    g_pool.refs.store(refs + 1);
    return 1;
  }
  if (processors > UINT64_MAX / 2) return 0;
  g_pool.workers = new (std::nothrow) PoolWorker[processors];
  g_pool.queue = new (std::nothrow) ParallelPiece[processors * 2];
  g_pool.allDone = new (std::nothrow) PlatformCondVar;
  if (!g_pool.workers || !g_pool.queue || !g_pool.allDone) {
    FreePoolArrays();
    return 0;
  }
  g_pool.workerCount = processors;
  g_pool.capacity = processors * 2;
  g_pool.queueNext = g_pool.queueEnd = 0;
  g_pool.outstanding = 0;
  g_pool.yetToStart = processors;

  uint64_t started = 0;
  while (started < processors && StartThreadWithTrampoline(WorkerThreadMain, &g_pool.workers[started])) {
    started++;
  }
  // Each started worker counts itself under the lock, then goes to sleep releasing it.
  g_pool.allDone->Wait(lock, [&] { return g_pool.yetToStart == processors - started; });
  if (started < processors) {
    // A refused thread: end the ones that came up rather than leave them asleep on an
    // array nobody owns any more.
    EndWorkers(started);
    FreePoolArrays();
    return 0;
  }
  g_pool.refs.store(1);
  return 1;
}

void StopWorkerPool() {
  if (GetProcessorCount() < 2) return;
  PlatformLock& lock = PoolLock();
  PlatformLockHold hold(lock);
  uint64_t refs = g_pool.refs.load();
  if (refs == 0) return;
  g_pool.refs.store(refs - 1);
  if (refs > 1) return;
  // The last reference is gone, so no new job reaches the pool; one still running on
  // another thread finishes first instead of losing its workers under it.
  g_pool.allDone->Wait(lock, [] { return g_pool.busy.load() == 0; });
  EndWorkers(g_pool.workerCount);
  FreePoolArrays();
}

// ---- ParallelFor ----

int32_t ParallelFor(ParallelForFn fn, void* ctx, uint64_t n) {
  if (n == 0) return 1;
  if (!fn) return 0;
  // Quick tests without the lock; the decisive ones are repeated under it.
  if (g_pool.busy.load(std::memory_order_acquire) || g_pool.refs.load() == 0 || ActiveWorkerCount() < 2 ||
      n < 2) {
    RunInline(fn, ctx, n);
    return 1;
  }
  PlatformLock& lock = PoolLock();
  lock.Enter();
  if (g_pool.busy.load() || g_pool.refs.load() == 0 || !g_pool.workers) {
    lock.Leave();
    RunInline(fn, ctx, n);
    return 1;
  }
  uint64_t active = g_pool.active.load();
  if (active > g_pool.workerCount) active = g_pool.workerCount;
  if (active < 2) {
    lock.Leave();
    RunInline(fn, ctx, n);
    return 1;
  }
  g_pool.busy.store(1, std::memory_order_release);

  // Worker pieces are handed straight to the worker records; the plan writes them to the
  // queue's tail first (the queue has room for all C pieces).
  uint64_t nw = 0, nq = 0;
  ParallelPiece* pieces = g_pool.queue;
  ParallelPiece firstPieces[64];
  ParallelPiece* workerPieces = active <= 64 ? firstPieces : new (std::nothrow) ParallelPiece[active];
  if (!workerPieces) {
    g_pool.busy.store(0);
    g_pool.allDone->WakeAll();
    lock.Leave();
    RunInline(fn, ctx, n);
    return 1;
  }
  ParallelPlan(n, active, g_pool.capacity, workerPieces, &nw, pieces, &nq);
  g_pool.queueNext = 0;
  g_pool.queueEnd = nq;
  g_pool.outstanding = nw + nq;
  for (uint64_t i = 0; i < nw; i++) {
    PoolWorker& w = g_pool.workers[i];
    w.fn = fn;
    w.ctx = ctx;
    w.first = workerPieces[i].first;
    w.count = workerPieces[i].count;
    w.hasPiece = 1;
    w.wake.Wake();
  }
  if (workerPieces != firstPieces) delete[] workerPieces;
  g_pool.allDone->Wait(lock, [] { return g_pool.outstanding == 0; });
  g_pool.queueNext = g_pool.queueEnd = 0;
  g_pool.busy.store(0, std::memory_order_release);
  g_pool.allDone->WakeAll();  // a stop may be waiting for the job to end
  lock.Leave();
  return 1;
}

// ---- locks, copies and fills ----

PlatformLock* CreateLock() { return new (std::nothrow) PlatformLock; }

void DestroyLock(PlatformLock* lock) { delete lock; }

void* ParallelMemcpy(void* dst, const void* src, uint64_t n) {
  if (n == 0 || !dst || !src) return dst;
  if (n < ParallelByteThreshold) {
    std::memcpy(dst, src, static_cast<size_t>(n));
    return dst;
  }
  CopyRange ctx{static_cast<unsigned char*>(dst), static_cast<const unsigned char*>(src)};
  ParallelFor(CopyRangeTask, &ctx, n);
  return dst;
}

void* ParallelZeroFill(void* dst, int32_t /*fill*/, uint64_t n) {
  if (n == 0 || !dst) return dst;
  if (n < ParallelByteThreshold) {
    std::memset(dst, 0, static_cast<size_t>(n));
    return dst;
  }
  FillRange ctx{static_cast<unsigned char*>(dst), 0};
  ParallelFor(FillRangeTask, &ctx, n);
  return dst;
}

// ---- thread start ----

uint32_t ThreadStartTrampoline(ThreadStartBlock* block) {
  ThreadEntryFn entry = block->entry;
  void* argument = block->argument;
  // From here on the creator may leave and its stack block is gone.
  block->started.store(0, std::memory_order_release);
  entry(argument);
  return 0;
}

int32_t StartThreadWithTrampoline(ThreadEntryFn entry, void* argument) {
  if (!entry) return 0;
  ThreadStartBlock block{entry, argument, 1};
  if (!PlatformStartThread(TrampolineEntry, &block)) return 0;
  while (block.started.load(std::memory_order_acquire) != 0) PlatformYield();
  return 1;
}
