// cfg_fuzz.cpp - the settings text format fed from memory: every pack read is written and
// read again, and what the writer accepted must come back equal (fuzz/cfg_fuzz.h).
#include "fuzz/cfg_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzCfgRoundTrip(data, size);
  return 0;
}
