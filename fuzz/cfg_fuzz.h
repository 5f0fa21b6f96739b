// cfg_fuzz.h - what the fuzz targets of the settings text format share: packs read from
// memory, a file in memory for the readers that take a path, and the write-then-read body
// that the settings-text target and the reader's deterministic test both run.
//
//   FuzzReadCfg        bytes -> the packs of a CCfgFile, through its stream entry point
//   FuzzMemoryFile     bytes behind a path of their own (a memory file, no disk)
//   FuzzCfgRoundTrip   read, write, read again: what the writer accepts reads back equal
#pragma once
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/cfgfile.h"
#include "core/text.h"

// Appends every pack of the bytes to cfg; the reader's own result (1, or 0 when a pack or
// an item could not be added).  Empty input holds no pack.
inline int FuzzReadCfg(const uint8_t* data, size_t size, CCfgFile* cfg) {
  if (size == 0) return 1;  // fmemopen refuses an empty block; nothing to read either way
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!fp) return 0;
  int ok = cfg->Read(fp);
  fclose(fp);
  return ok;
}

// The bytes in an anonymous memory file, reachable by path for readers that open a path
// themselves ("/proc/self/fd/N"); closed and gone with the object.
class FuzzMemoryFile {
 public:
  FuzzMemoryFile(const uint8_t* data, size_t size) {
    m_fd = memfd_create("qv_fuzz", 0);
    if (m_fd < 0) return;
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(m_fd, data + done, size - done);
      if (n <= 0) {
        close(m_fd);
        m_fd = -1;
        return;
      }
      done += size_t(n);
    }
    snprintf(m_path, sizeof m_path, "/proc/self/fd/%d", m_fd);
    for (size_t i = 0; i <= strlen(m_path); ++i) m_wide[i] = wchar_t(m_path[i]);
  }
  ~FuzzMemoryFile() {
    if (m_fd >= 0) close(m_fd);
  }
  FuzzMemoryFile(const FuzzMemoryFile&) = delete;
  FuzzMemoryFile& operator=(const FuzzMemoryFile&) = delete;

  bool ok() const { return m_fd >= 0; }
  const char* path() const { return m_path; }
  const wchar_t* widePath() const { return m_wide; }

 private:
  int m_fd = -1;
  char m_path[64] = {};
  wchar_t m_wide[64] = {};
};

// "name:key=value;...|name:..." - every pack and item, in order.
inline std::wstring FuzzDescribeCfg(const CCfgFile& cfg) {
  std::wstring s;
  for (const CCfgPack* p = cfg.firstPack; p; p = p->next) {
    s += p->name;
    s += L'\x01';
    for (const CCfgItem* it = p->firstItem; it; it = it->next) {
      s += it->key;
      s += L'\x02';
      s += it->value;
      s += L'\x03';
    }
    s += L'\x04';
  }
  return s;
}

// Reads the bytes, writes what was read, reads that again.  Aborts when a promise of the
// format is broken: a pack the writer accepted that does not read back equal, an item it
// refused although the reader made it (only a carriage return inside a line, which the
// writer cannot carry, may be refused), or a written line longer than kCfgLineMax bytes.
// 1 when every pack was written.
inline int FuzzCfgRoundTrip(const uint8_t* data, size_t size) {
  CCfgFile first;
  FuzzReadCfg(data, size, &first);
  int all = 1;
  for (const CCfgPack* pack = first.firstPack; pack; pack = pack->next) {
    char* buf = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&buf, &len);
    if (!out) abort();
    const int written = pack->Write(out);
    fclose(out);
    // Lines of what was written, line feeds not counted.
    size_t start = 0;
    for (size_t i = 0; i < len; ++i) {
      if (buf[i] != '\n') continue;
      if (i - start > size_t(kCfgLineMax)) abort();
      start = i + 1;
    }
    if (written) {
      CCfgFile back;
      FuzzReadCfg(reinterpret_cast<const uint8_t*>(buf), len, &back);
      CCfgFile alone;
      CCfgPack* copy = alone.AddPack(pack->name);
      if (!copy) abort();
      for (const CCfgItem* it = pack->firstItem; it; it = it->next)
        if (!copy->AddItem(it->key, it->value)) abort();
      if (FuzzDescribeCfg(back) != FuzzDescribeCfg(alone)) abort();
    } else {
      all = 0;
      bool carriageReturn = wcschr(pack->name, L'\r') != nullptr;
      for (const CCfgItem* it = pack->firstItem; it; it = it->next)
        if (wcschr(it->key, L'\r') || wcschr(it->value, L'\r')) carriageReturn = true;
      if (!carriageReturn) abort();
    }
    free(buf);
  }
  return all;
}
