// packread_fuzz.cpp - the filters' pack readers (PackReadFlag ... PackReadSignedList) over
// every key of packs read from memory.  A reader that stores reports 1 and stores a value
// inside its bounds; one that refuses leaves the value as it was; "found" agrees with the
// pack; a list stores no more elements than asked for, each inside the bounds.
#include <cmath>

#include "filters/common/scaffold.h"
#include "fuzz/cfg_fuzz.h"

namespace {

constexpr uint64_t kUntouched = 0xA5A5A5A5A5A5A5A5ull;

void CheckKey(const CCfgPack* pack, const wchar_t* key) {
  const bool present = pack->FindItem(key) != nullptr;
  int32_t found = -1;
  uint32_t flag = 7;
  int32_t r = PackReadFlag(pack, key, &flag, &found);
  if (found != int32_t(present) || (r ? flag > 1 : flag != 7)) abort();
  flag = 7;
  r = PackReadFlagLenient(pack, key, &flag, &found);
  if (found != int32_t(present) || (r ? flag > 1 : flag != 7)) abort();

  for (uint64_t max : {uint64_t(0), uint64_t(255), UINT64_MAX}) {
    uint64_t u = kUntouched;
    r = PackReadUnsigned(pack, key, max, &u, &found);
    if (found != int32_t(present) || (r ? u > max : u != kUntouched)) abort();
  }
  struct Range {
    int64_t min, max;
  } const ranges[] = {{-5, 5}, {0, 0}, {INT64_MIN, INT64_MAX}};
  for (const Range& range : ranges) {
    int64_t s = int64_t(kUntouched);
    r = PackReadSigned(pack, key, range.min, range.max, &s, &found);
    if (found != int32_t(present) || (r ? s < range.min || s > range.max : s != int64_t(kUntouched))) abort();
    int64_t list[5];
    for (int64_t& e : list) e = int64_t(kUntouched);
    r = PackReadSignedList(pack, key, range.min, range.max, list, 4, &found);
    if (found != int32_t(present) || r < 0 || r > 4 || list[4] != int64_t(kUntouched)) abort();
    int32_t stored = 0;
    for (int i = 0; i < 4; ++i) {
      if (list[i] == int64_t(kUntouched)) continue;
      if (list[i] < range.min || list[i] > range.max) abort();
      ++stored;
    }
    if (stored > r) abort();
  }
  double d = -0.5;
  r = PackReadDouble(pack, key, &d, &found);
  if (found != int32_t(present) || (r ? !std::isfinite(d) : d != -0.5)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CCfgFile cfg;
  FuzzReadCfg(data, size, &cfg);
  for (const CCfgPack* pack = cfg.firstPack; pack; pack = pack->next) {
    for (const CCfgItem* it = pack->firstItem; it; it = it->next) CheckKey(pack, it->key);
    CheckKey(pack, L"absent key");
  }
  return 0;
}
