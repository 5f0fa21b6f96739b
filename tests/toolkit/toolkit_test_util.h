// toolkit_test_util.h - small helpers shared by the toolkit tests that need no display.
#pragma once
#include <cstdlib>
#include <string>

#include "core/text.h"

namespace toolkittest {

// UTF-8 test text as the wide text the toolkit takes; empty when the conversion fails.
inline std::wstring Wide(const std::string& s) {
  wchar_t* w = Utf8ToWide(s.c_str());
  std::wstring r = w ? w : L"";
  free(w);
  return r;
}

}  // namespace toolkittest
