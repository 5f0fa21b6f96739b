// test_files.h - whole files of bytes written and read back, for tests that hand data to
// outside tools (ffmpeg, python3 with numpy) and read their answers.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testfiles {

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

// Empty when the file cannot be opened.
inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> b;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return b;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
  std::fclose(f);
  return b;
}

}  // namespace testfiles
