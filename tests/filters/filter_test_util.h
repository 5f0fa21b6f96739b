// filter_test_util.h - what the tests of the filter libraries share: a pack's lines as text.
#pragma once
#include <string>
#include <vector>

#include "app/cfgfile.h"

namespace filtertest {

// "key value" per item, in order; empty for a null pack.
inline std::vector<std::wstring> PackLines(const CCfgPack* pack) {
  std::vector<std::wstring> out;
  for (CCfgItem* i = pack ? pack->firstItem : nullptr; i; i = i->next)
    out.push_back(std::wstring(i->key) + L" " + i->value);
  return out;
}

}  // namespace filtertest
