// spectrum.cpp - the Fourier filters' spectrum stack and their instance count.
#include "app/spectrum.h"

#include <cstdlib>
#include <cstring>

#include "platform/thread.h"

namespace {

SpectrumStack g_stack;

PlatformLock& StackLock() {
  static PlatformLock lock;
  return lock;
}

// Frees every block still on the stack; the lock is held.
void FreeBlocks() {
  for (uint64_t i = g_stack.count; i > 0; --i) FftFree(&g_stack.entries[i - 1].record);
  g_stack.count = 0;
}

}  // namespace

int32_t PushSpectrum(const SpectrumStackEntry* entry) {
  if (!entry) return 0;
  PlatformLockHold hold(StackLock());
  if (g_stack.count == g_stack.capacity) {
    uint64_t want = g_stack.capacity + 8;
    if (want > UINT64_MAX / sizeof(SpectrumStackEntry)) return 0;
    void* grown = std::realloc(g_stack.entries, want * sizeof(SpectrumStackEntry));
    if (!grown) return 0;
    g_stack.entries = static_cast<SpectrumStackEntry*>(grown);
    g_stack.capacity = want;
  }
  std::memcpy(static_cast<void*>(&g_stack.entries[g_stack.count]), entry, sizeof(*entry));
  g_stack.count++;
  return 1;
}

int32_t PopSpectrum(SpectrumStackEntry* out) {
  if (!out) return 0;
  PlatformLockHold hold(StackLock());
  if (g_stack.count == 0) {
    std::memset(static_cast<void*>(out), 0, sizeof(*out));
    return 0;
  }
  g_stack.count--;
  std::memcpy(static_cast<void*>(out), &g_stack.entries[g_stack.count], sizeof(*out));
  return 1;
}

uint64_t SpectrumStackCount() {
  PlatformLockHold hold(StackLock());
  return g_stack.count;
}

uint64_t SpectrumStackCapacity() {
  PlatformLockHold hold(StackLock());
  return g_stack.capacity;
}

void EmptySpectrumStack() {
  PlatformLockHold hold(StackLock());
  FreeBlocks();
}

void SpectrumStackAddInstance() {
  PlatformLockHold hold(StackLock());
  if (g_stack.instances != UINT64_MAX) g_stack.instances++;
}

void SpectrumStackReleaseInstance() {
  PlatformLockHold hold(StackLock());
  if (g_stack.instances == 0) return;
  if (--g_stack.instances != 0) return;
  // Entries no inverse filter took would wait for an emptying that no longer comes.
  FreeBlocks();
  std::free(g_stack.entries);
  g_stack.entries = nullptr;
  g_stack.capacity = 0;
}

uint64_t SpectrumStackInstances() {
  PlatformLockHold hold(StackLock());
  return g_stack.instances;
}
