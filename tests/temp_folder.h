// temp_folder.h - a fresh folder under /tmp for one test, removed with everything in it when
// the test ends, and whole-file reads and writes for checking what a save left there.
#pragma once
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace qvtest {

class TempFolder {
 public:
  // tag names the test in the folder's name: /tmp/qv_<tag>_XXXXXX.
  explicit TempFolder(const std::string& tag) {
    std::string pattern = "/tmp/qv_" + tag + "_XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    if (!path_.empty()) (void)!std::system(("rm -rf '" + path_ + "'").c_str());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Wide form of File for the system's own operations (ASCII and UTF-8 names).
  std::wstring WideFile(const std::string& name) const;

 private:
  std::string path_;
};

inline std::wstring Utf8Wide(const std::string& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = c;
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (n > 1) cp = c & (0x7F >> n);
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += wchar_t(cp);
    i += size_t(n);
  }
  return out;
}

inline std::wstring TempFolder::WideFile(const std::string& name) const { return Utf8Wide(File(name)); }

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace qvtest
