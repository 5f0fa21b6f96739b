// parallel.h - the process-wide worker pool and ParallelFor, the one device for parallel work.
// One worker per logical processor (none below two); a job's range is cut into disjoint
// pieces that the workers run while the caller waits.  One job at a time: a job asked for
// while another runs (nested in a piece, or from another thread) runs inline at once.
//
//   ParallelForFn      piece callback fn(ctx, first, count)
//   ParallelPiece      one piece of a job (first item, item count)
//   ParallelPlan       how a job is handed out: one piece per worker, the rest queued
//   ThreadStartBlock   hand-over record of ThreadStartTrampoline
//   StartWorkerPool .. pool start and stop with a reference count
//   CreateLock         lock factory for merging partial results of a job
//   ParallelMemcpy, ParallelZeroFill  byte copy and zero fill, parallel from 1 MiB up
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/thread.h"

// Processes items first .. first + count - 1 of the caller's range.
typedef void (*ParallelForFn)(void* ctx, uint64_t first, uint64_t count);

// Byte copies and fills of this size and more go to the pool.
constexpr uint64_t ParallelByteThreshold = 1048576;
// Row work goes to the pool when width x height is at least this many pixels.
constexpr int32_t ParallelPixelThreshold = 4096;

// 1 on success (also on a machine with fewer than two processors, where nothing starts and
// nothing is counted); 0 when memory, a lock or a thread cannot be had.
int32_t StartWorkerPool();
// Drops one reference; the last one ends every worker and frees the pool.  Waits for a job
// still running on another thread to finish before ending the workers.
void StopWorkerPool();
// Runs fn over items 0 .. n-1 in disjoint pieces and returns 1 when all have returned.
// Inline (fn(ctx, 0, n) on the calling thread) for n < 2, fewer than two active workers,
// while the pool is not running or while another job runs.
int32_t ParallelFor(ParallelForFn fn, void* ctx, uint64_t n);

// Logical processors, read once and kept; the first call also sets ActiveWorkerCount.
uint64_t GetProcessorCount();
// 1 <= n <= GetProcessorCount() and no job running: sets the active count, 1; else 0.
int32_t SetWorkerCount(uint64_t n);
// Workers that take part in a job (shown in the main window's title).
uint64_t ActiveWorkerCount();
// References held on the pool (0 when it is not running).
uint64_t WorkerPoolReferenceCount();
// Worker threads currently alive (started and not yet ended), for tests and diagnostics.
uint64_t WorkerPoolLiveThreads();
// Test hook: forget the kept processor count and pretend n processors (0 = the real count).
// Refused (0) while the pool runs.
int32_t SetProcessorCountForTesting(uint64_t n);

// How a job of n items is handed out with `active` workers and a queue of `capacity`
// (= 2 x processor count) entries: workerPieces[0 .. *outWorkers-1] start on workers
// 0, 1, ...; queued[0 .. *outQueued-1] are taken in order by whichever worker is free.
// The arrays need `capacity` entries each.  Requires n >= 2, active >= 2, capacity >= active.
struct ParallelPiece {
  uint64_t first;
  uint64_t count;
};
void ParallelPlan(uint64_t n, uint64_t active, uint64_t capacity, ParallelPiece* workerPieces,
                  uint64_t* outWorkers, ParallelPiece* queued, uint64_t* outQueued);

// A new lock on the heap, or null; release it with DestroyLock.
PlatformLock* CreateLock();
void DestroyLock(PlatformLock* lock);

// Copies n bytes (the ranges must not overlap) and returns dst.
void* ParallelMemcpy(void* dst, const void* src, uint64_t n);
// Sets n bytes to zero and returns dst; fill is not used (it is 0 at every call).
void* ParallelZeroFill(void* dst, int32_t fill, uint64_t n);

// Every thread of the system starts through ThreadStartTrampoline.  The creator fills a
// block on its own stack with started = 1 and keeps it there until started is 0: the new
// thread takes entry and argument out first, then clears the flag, then runs entry(argument).
typedef uint32_t (*ThreadEntryFn)(void* argument);
struct ThreadStartBlock {
  ThreadEntryFn entry;
  void* argument;
  std::atomic<int32_t> started;
};
uint32_t ThreadStartTrampoline(ThreadStartBlock* block);
// The whole start: a block on this stack, the platform thread, the wait for the hand-over.
// 1 when the thread runs, 0 when the system refused it.
int32_t StartThreadWithTrampoline(ThreadEntryFn entry, void* argument);
