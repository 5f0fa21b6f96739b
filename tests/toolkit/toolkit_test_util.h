// toolkit_test_util.h - small helpers shared by the toolkit tests that need no display.
#pragma once
#include <cstdio>
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

// The whole file as bytes; "<missing>" when it cannot be opened.
inline std::string ReadFile(const std::string& path) {
  std::string s;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

}  // namespace toolkittest
