// fft.cpp - releasing a spectrum record's planes.
#include "engine/fft.h"

#include <cstdlib>
#include <cstring>

int32_t FftFree(SpectrumRecord* rec) {
  if (!rec) return 0;
  std::free(rec->block);
  std::memset(static_cast<void*>(rec), 0, sizeof(*rec));
  return 1;
}
