// p2d_fuzz.cpp - the track-file loader fed from memory.  Any input must end in a clean
// failure or a table whose counts fit the input.  Run with -malloc_limit_mb=64: no input
// may make the loader ask for more memory than the input could fill.
#include "fuzz/p2d_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzP2dLoad(data, size);
  return 0;
}
