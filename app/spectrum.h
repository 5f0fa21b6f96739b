// spectrum.h - the process-wide stack of forward transforms that the Fourier filters share
// within one chain run, and the count of Fourier filters alive that owns its storage.
//
//   SpectrumStackEntry  one transform: its record (owning the coefficient block) and the
//                       rectangle of the picture it was taken from
//   SpectrumStack       entries oldest first, count, capacity (grown 8 at a time), instances
//   PushSpectrum ...    the stack operations; EmptySpectrumStack runs at the start of every
//                       chain run
//
// Pushes, pops and the emptying run on the filter worker; instances come and go on the UI
// thread (the menu builder's temporary filters too).  One small lock serialises them all, so
// the last instance can free the array while the worker empties it.
#pragma once
#include <cstdint>

#include "engine/fft.h"

struct SpectrumStackEntry {
  SpectrumRecord record;
  int32_t x0, y0, x1, y1;  // inclusive, picture coordinates
};

struct SpectrumStack {
  SpectrumStackEntry* entries = nullptr;
  uint64_t count = 0;
  uint64_t capacity = 0;
  uint64_t instances = 0;
};

// Appends a copy of entry (the stack then owns its block).  0, the stack unchanged, when the
// array cannot grow.
int32_t PushSpectrum(const SpectrumStackEntry* entry);
// Moves the newest entry out (its block then belongs to the caller); 1.  The caller tests
// SpectrumStackCount() > 0 first; an empty stack gives 0 and a zeroed entry.
int32_t PopSpectrum(SpectrumStackEntry* out);
uint64_t SpectrumStackCount();
uint64_t SpectrumStackCapacity();
// From the newest entry down: frees its block and zeroes its record; then count 0.  The
// array and the capacity stay.
void EmptySpectrumStack();

// Each Fourier filter's constructor and destructor.  The count stays at its maximum once
// there; the release that brings it from 1 to 0 frees the blocks still on the stack and the
// array.
void SpectrumStackAddInstance();
void SpectrumStackReleaseInstance();
uint64_t SpectrumStackInstances();
