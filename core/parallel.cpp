// parallel.cpp - the worker pool: one thread per logical processor, lent to one ParallelFor
// job at a time.  A job reaches the workers without the pool lock: the caller writes each
// worker's piece and raises that worker's ticket.  A worker that has just finished spins on
// its own ticket for a short while (a chain calls ParallelFor many times per frame, and a
// wake-up from the kernel costs more than most of those jobs), then sleeps on a word of its
// own.  Only the workers of the job that are asleep are woken, one system call each; each
// such call costs the waker several microseconds (on a virtual machine the interrupt to an
// idle processor dominates), so the caller does not make them one after the other: it puts
// the sleepers on a wake list, and every thread already awake for the job - the caller and
// each worker it has woken, before its own piece - takes the next name off the list, so the
// number of wakers doubles at each round.  The caller spins, then sleeps, on the count of
// unfinished pieces.  The lock only guards start, stop, the busy flag and the worker count.
// Inside: pool state - processor count - plan - workers - start and stop - ParallelFor -
//         locks, copies and fills - thread start
#include "core/parallel.h"

#include <chrono>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// ---- pool state ----

// How long a worker that has run out of pieces, and a caller whose job is not done yet,
// poll before they sleep.  Long enough to cover the gap between the jobs of one engine
// operation, short enough that an idle program is asleep at once for a person watching.
constexpr std::chrono::microseconds kSpinWindow{50};
// The caller of a job polls longer: it has nothing else to do until the job ends, it offers
// its processor between rounds, and once asleep it would pay a second wake-up from the
// kernel on top of the workers' - on a busy machine a job that had to wake its workers
// often runs past the workers' window.
constexpr std::chrono::microseconds kCallerSpinWindow{400};

// One cache line each, so that a worker polling its ticket does not fight over the line the
// caller writes for its neighbour.
struct alignas(64) PoolWorker {
  // Written by the caller before it raises the ticket; read by the worker after it sees it.
  ParallelForFn fn = nullptr;
  void* ctx = nullptr;
  uint64_t first = 0;
  uint64_t count = 0;
  // 2 x the number of the last job that called this worker, + 1 when that job gave it a
  // piece of its own (first, count above) rather than a share of the queue.
  std::atomic<uint64_t> ticket{0};
  std::atomic<uint32_t> stop{0};
  // 1 while the worker is asleep (or about to be) on this word; a waker sets it to 0 and
  // wakes it.  Set by the worker before its last look at the ticket, read by the caller after
  // it raised the ticket (both sequentially consistent): one of the two sees the other.
  std::atomic<uint32_t> sleeping{0};
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
  ParallelPiece* queue = nullptr;         // chunks waiting for a free worker
  ParallelPiece* workerPieces = nullptr;  // the plan's first pieces, one per worker
  uint64_t capacity = 0;                  // 2 x processor count
  uint64_t yetToStart = 0;
  uint64_t stopping = 0;  // during a stop, workers not yet ended
  PlatformCondVar* allDone = nullptr;

  // The job in flight; owned by whoever set busy.  The hand-over words live as long as the
  // process: a worker touches the done signal after its last piece, possibly after the
  // caller has returned and the pool has been stopped.
  uint64_t jobNumber = 0;
  ParallelForFn jobFn = nullptr;  // of the queued chunks
  void* jobCtx = nullptr;
  // Sleeping workers of the job still to wake: wakeList[index .. end) is to be woken, the job's
  // number in the high 32 bits of wakeCursor, end in bits 16 .. 31, index in bits 0 .. 15.  A
  // name taken for a job that has ended by then only wakes a worker for nothing (it looks at
  // its ticket and sleeps again); every job's own names are taken before its caller returns.
  std::atomic<uint32_t>* wakeList = nullptr;
  alignas(64) std::atomic<uint64_t> wakeCursor{0};
  // Next chunk to claim: the job's number in the high 32 bits, the chunk's index in the low
  // ones, so that a worker late for a job that has ended claims nothing of the next one.
  alignas(64) std::atomic<uint64_t> queueHead{0};
  std::atomic<uint64_t> queueEnd{0};
  alignas(64) std::atomic<uint64_t> outstanding{0};  // pieces of the job not yet finished
  std::atomic<uint32_t> doneSignal{0};               // bumped when outstanding reaches 0
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
  delete[] g_pool.workerPieces;
  delete[] g_pool.wakeList;
  delete g_pool.allDone;
  g_pool.workers = nullptr;
  g_pool.queue = nullptr;
  g_pool.workerPieces = nullptr;
  g_pool.wakeList = nullptr;
  g_pool.allDone = nullptr;
  g_pool.workerCount = 0;
  g_pool.capacity = 0;
}

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

// Polls until pred() holds or the spin window has passed; pred() at the end.  Between
// rounds the poller offers its processor: the caller of a job is one thread more than there
// are processors, and a worker holding a piece may be waiting for the very processor that
// an idle worker or the caller is polling on.
template <class Pred>
bool SpinUntil(Pred pred, std::chrono::microseconds window = kSpinWindow) {
  if (pred()) return true;
  const auto deadline = std::chrono::steady_clock::now() + window;
  for (;;) {
    // The clock is read once every few rounds: a pause costs far less than a clock read.
    for (int i = 0; i < 16; i++) {
      CpuRelax();
      if (pred()) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    PlatformYield();
  }
}

// ---- workers ----

constexpr uint64_t kWakeListMax = 0xFFFF;  // names a cursor can count

void WakeWorker(PoolWorker& w) {
  w.sleeping.store(0);
  PlatformWakeWord(&w.sleeping);
}

// Takes names off the wake list of job `job` and wakes them until none is left.
void HelpWake(uint32_t job) {
  uint64_t cur = g_pool.wakeCursor.load(std::memory_order_acquire);
  for (;;) {
    if (uint32_t(cur >> 32) != job) return;
    const uint64_t index = cur & 0xFFFF, end = (cur >> 16) & 0xFFFF;
    if (index >= end) return;
    const uint32_t worker = g_pool.wakeList[index].load(std::memory_order_relaxed);
    if (!g_pool.wakeCursor.compare_exchange_weak(cur, cur + 1, std::memory_order_acq_rel)) continue;
    WakeWorker(g_pool.workers[worker]);
    cur = g_pool.wakeCursor.load(std::memory_order_acquire);
  }
}

void FinishPiece() {
  if (g_pool.outstanding.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    g_pool.doneSignal.fetch_add(1);
    g_pool.doneSignal.notify_all();
  }
}

// A job of more items than workers puts every chunk in the queue, and the workers it calls
// claim them as they come: a worker the system has not yet put on a processor leaves its
// share to the others instead of holding the job up.  A claimed chunk keeps the job (its
// queue and fields) alive until it is finished; a claim only succeeds while the head still
// carries this job's number, and the caller renumbers the head before it rewrites the end
// (both in one total order), so a late worker never takes an end that belongs to the next job.
void ClaimChunks(uint32_t job) {
  uint64_t head = g_pool.queueHead.load();
  for (;;) {
    if (uint32_t(head >> 32) != job) return;
    uint64_t index = head & 0xFFFFFFFFu;
    if (index >= g_pool.queueEnd.load()) return;
    if (!g_pool.queueHead.compare_exchange_weak(head, head + 1)) continue;
    g_pool.jobFn(g_pool.jobCtx, g_pool.queue[index].first, g_pool.queue[index].count);
    FinishPiece();
    head = g_pool.queueHead.load();
  }
}

uint32_t WorkerThreadMain(void* arg) {
  PoolWorker* w = static_cast<PoolWorker*>(arg);
  PlatformLock& lock = PoolLock();
  lock.Enter();
  g_pool.liveThreads.fetch_add(1);
  g_pool.yetToStart--;
  g_pool.allDone->WakeAll();
  uint64_t taken = w->ticket.load();
  lock.Leave();
  auto hasWork = [w, &taken] {
    return w->ticket.load(std::memory_order_acquire) != taken || w->stop.load(std::memory_order_acquire) != 0;
  };
  for (;;) {
    if (!hasWork()) {
      if (SpinUntil(hasWork)) continue;
      // Sequentially consistent from here: the caller raises the ticket, then reads sleeping.
      w->sleeping.store(1);
      while (w->ticket.load() == taken && w->stop.load() == 0 && w->sleeping.load() == 1) {
        PlatformWaitWord(&w->sleeping, 1);
      }
      w->sleeping.store(0);
      continue;
    }
    if (w->stop.load(std::memory_order_acquire)) {
      lock.Enter();
      w->stop.store(0);
      g_pool.liveThreads.fetch_sub(1);
      if (--g_pool.stopping == 0) g_pool.allDone->WakeAll();
      // Nothing of the pool is touched after this release: the stop frees it.
      lock.Leave();
      return 0;
    }
    taken = w->ticket.load(std::memory_order_acquire);
    // Workers still asleep for this job wait for a waker: help before the own piece.
    HelpWake(uint32_t(taken >> 1));
    if (taken & 1) {
      // A piece of its own: the job waits for this worker, so the fields stay put.
      w->fn(w->ctx, w->first, w->count);
      FinishPiece();
    } else {
      ClaimChunks(uint32_t(taken >> 1));
    }
  }
}

// Stops workers 0 .. n-1 (all started and idle) and waits until each has left.  Lock held.
void EndWorkers(uint64_t n) {
  PlatformLock& lock = PoolLock();
  g_pool.stopping = n;
  for (uint64_t i = 0; i < n; i++) {
    g_pool.workers[i].stop.store(1);
    if (g_pool.workers[i].sleeping.load() == 1) WakeWorker(g_pool.workers[i]);
  }
  g_pool.allDone->Wait(lock, [] { return g_pool.stopping == 0; });
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
  g_pool.workerPieces = new (std::nothrow) ParallelPiece[processors * 2];
  g_pool.wakeList = new (std::nothrow) std::atomic<uint32_t>[processors];
  g_pool.allDone = new (std::nothrow) PlatformCondVar;
  if (!g_pool.workers || !g_pool.queue || !g_pool.workerPieces || !g_pool.wakeList || !g_pool.allDone) {
    FreePoolArrays();
    return 0;
  }
  g_pool.workerCount = processors;
  g_pool.capacity = processors * 2;
  g_pool.queueEnd.store(0);
  g_pool.outstanding.store(0);
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
  // The busy flag makes this thread the owner of the job fields and arrays; a stop waits for
  // it to clear, so they stay while the lock is free.
  lock.Leave();

  const uint64_t job = ++g_pool.jobNumber;
  const uint64_t nw = n < active ? n : active;
  uint64_t nq = 0, planned = 0;
  ParallelPlan(n, active, g_pool.capacity, g_pool.workerPieces, &planned, g_pool.queue + nw, &nq);
  if (nq == 0) {
    // No more items than workers: one each, as planned.
    g_pool.outstanding.store(nw, std::memory_order_relaxed);
    for (uint64_t i = 0; i < nw; i++) {
      PoolWorker& w = g_pool.workers[i];
      w.fn = fn;
      w.ctx = ctx;
      w.first = g_pool.workerPieces[i].first;
      w.count = g_pool.workerPieces[i].count;
      w.ticket.store(job * 2 + 1);
    }
  } else {
    // The workers' first chunks go in front of the queued ones, in plan order.
    g_pool.queueHead.store(uint64_t(uint32_t(job)) << 32);
    std::memcpy(g_pool.queue, g_pool.workerPieces, sizeof(ParallelPiece) * nw);
    g_pool.jobFn = fn;
    g_pool.jobCtx = ctx;
    g_pool.queueEnd.store(nw + nq);
    g_pool.outstanding.store(nw + nq, std::memory_order_relaxed);
    for (uint64_t i = 0; i < nw; i++) g_pool.workers[i].ticket.store(job * 2);
  }
  // Only the job's own workers, and of those only the ones asleep, need the kernel; the
  // ones still spinning have seen their tickets.  Beyond what a cursor counts the caller
  // wakes them itself.
  uint64_t sleepers = 0;
  for (uint64_t i = 0; i < nw; i++) {
    if (g_pool.workers[i].sleeping.load() != 1) continue;
    if (sleepers < kWakeListMax) g_pool.wakeList[sleepers++].store(uint32_t(i), std::memory_order_relaxed);
    else WakeWorker(g_pool.workers[i]);
  }
  if (sleepers > 0) {
    g_pool.wakeCursor.store((uint64_t(uint32_t(job)) << 32) | (sleepers << 16), std::memory_order_release);
    HelpWake(uint32_t(job));
  }

  auto done = [] { return g_pool.outstanding.load(std::memory_order_acquire) == 0; };
  if (!SpinUntil(done, kCallerSpinWindow)) {
    for (;;) {
      // The signal is read before the count: a worker that ends the job after that read
      // bumps the signal, so the wait cannot miss it.
      uint32_t signal = g_pool.doneSignal.load();
      if (done()) break;
      g_pool.doneSignal.wait(signal);
    }
  }

  lock.Enter();
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
