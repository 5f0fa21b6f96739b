// filterpack_fuzz.cpp - the body of a filter-list pack: the first byte picks a filter key of
// the registry, the second the picture's format, the rest is the pack's lines.  As a filter
// list loads it: CreateFilterByKey, into the chain, LoadParams; then the chain runs the
// filter on the picture (Process), and what the filter keeps must be writable again whole
// (SaveParams, then the pack's Write).
#include <string>

#include "app/cfgfile.h"
#include "app/filter.h"
#include "fuzz/cfg_fuzz.h"
#include "fuzz/filter_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzWorld();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  FuzzFilterWorld& world = FuzzWorld();
  const FilterRegistryRecord& record = FilterRegistryRecords()[data[0] % FilterRegistryCount()];
  world.ShowPicture(data[1]);

  std::string text = "[";
  for (const wchar_t* k = record.key; *k; ++k) text += char(*k);  // keys are ASCII
  text += "] {\n";
  text.append(reinterpret_cast<const char*>(data + 2), size - 2);
  CCfgFile cfg;
  FuzzReadCfg(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &cfg);
  CCfgPack* pack = cfg.firstPack;
  if (!pack || wcscmp(pack->name, record.key) != 0) abort();  // the header is always read

  CImgFilter* filter = CreateFilterByKey(record.key);
  if (!filter) return 0;  // an id without a class
  uint64_t index = 0;
  if (!world.host.AddFilter(filter, &index)) {
    delete filter;
    return 0;
  }
  filter->LoadParams(pack);
  filter->m_dialogVisible = 0;  // no window: showing it is the chain's business, not the pack's
  filter->m_filterEnabled = 1;
  world.host.Reprocess(0);

  CCfgPack saved;
  saved.SetName(record.key);
  filter->SaveParams(&saved);
  FILE* sink = fopen("/dev/null", "wb");
  if (sink) {
    if (saved.Write(sink) != 1) abort();
    fclose(sink);
  }
  world.host.RemoveFilter(index);
  return 0;
}
