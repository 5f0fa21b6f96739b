// media_fixtures.h - builders of small TIFF, BMP and DICOM files for the reader tests and
// the mutation runs, a reference LZW and PackBits encoder, and helpers around the tools.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "media/media_file.h"
#include "tests/test_files.h"

namespace fixtures {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, uint64_t v, int n, bool be = false) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * (be ? n - 1 - i : i))));
}
inline void Set32(Bytes& b, size_t at, uint32_t v, bool be = false) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * (be ? 3 - i : i)));
}
inline uint32_t FloatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// ---- LZW and PackBits, written the way TIFF writers do --------------------------------

struct MsbBitWriter {
  Bytes out;
  uint64_t acc = 0;
  int nbits = 0;
  void Put(uint32_t code, int width) {
    acc = (acc << width) | code;
    nbits += width;
    while (nbits >= 8) {
      out.push_back(uint8_t(acc >> (nbits - 8)));
      nbits -= 8;
    }
  }
  Bytes Finish() {
    if (nbits) out.push_back(uint8_t(acc << (8 - nbits)));
    nbits = 0;
    return out;
  }
};

inline Bytes LzwEncode(const Bytes& in) {
  MsbBitWriter w;
  std::map<std::pair<uint32_t, uint8_t>, uint32_t> dict;
  uint32_t next = 258;
  auto width = [&] { return next >= 2048 ? 12 : next >= 1024 ? 11 : next >= 512 ? 10 : 9; };
  w.Put(256, 9);
  if (in.empty()) {
    w.Put(257, 9);
    return w.Finish();
  }
  uint32_t cur = in[0];
  for (size_t i = 1; i < in.size(); ++i) {
    auto it = dict.find({cur, in[i]});
    if (it != dict.end()) {
      cur = it->second;
      continue;
    }
    w.Put(cur, width());
    dict[{cur, in[i]}] = next++;
    if (next == 4094) {  // table nearly full: start again, as libtiff does
      w.Put(256, 12);
      dict.clear();
      next = 258;
    }
    cur = in[i];
  }
  w.Put(cur, width());
  ++next;
  w.Put(257, next == 4094 ? 12 : width());
  return w.Finish();
}

inline Bytes PackBitsEncode(const Bytes& in) {
  Bytes out;
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      out.push_back(uint8_t(int8_t(1 - int(run))));
      out.push_back(in[i]);
      i += run;
      continue;
    }
    size_t lit = std::min<size_t>(128, in.size() - i);
    for (size_t k = 0; k + 2 < lit; ++k)
      if (in[i + k] == in[i + k + 1] && in[i + k] == in[i + k + 2]) {
        lit = std::max<size_t>(k, 1);
        break;
      }
    out.push_back(uint8_t(lit - 1));
    out.insert(out.end(), in.begin() + i, in.begin() + i + lit);
    i += lit;
  }
  return out;
}

// ---- TIFF ----------------------------------------------------------------------------

struct TiffTag {
  uint16_t tag;
  uint16_t type;  // 1 BYTE, 3 SHORT, 4 LONG, 11 FLOAT (values are the raw bits)
  std::vector<uint32_t> values;
};

struct TiffPageSpec {
  std::vector<TiffTag> tags;  // StripOffsets and StripByteCounts are added unless present
  std::vector<Bytes> strips;
};

inline int TypeSize(uint16_t type) { return type == 1 || type == 2 ? 1 : type == 3 ? 2 : 4; }

// Lays out the header, then per page its strips, its long values and its directory.
inline Bytes BuildTiff(const std::vector<TiffPageSpec>& pages, bool be = false) {
  Bytes b;
  b.push_back(be ? 'M' : 'I');
  b.push_back(be ? 'M' : 'I');
  Put(b, 42, 2, be);
  Put(b, 0, 4, be);
  size_t linkAt = 4;
  for (const TiffPageSpec& page : pages) {
    std::vector<TiffTag> tags = page.tags;
    bool hasStrips = std::any_of(tags.begin(), tags.end(), [](const TiffTag& t) { return t.tag == 273; });
    if (!hasStrips) {
      TiffTag offs{273, 4, {}}, counts{279, 4, {}};
      for (const Bytes& s : page.strips) {
        offs.values.push_back(uint32_t(b.size()));
        counts.values.push_back(uint32_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
      }
      tags.push_back(offs);
      tags.push_back(counts);
    } else {
      for (const Bytes& s : page.strips) b.insert(b.end(), s.begin(), s.end());
    }
    std::stable_sort(tags.begin(), tags.end(), [](const TiffTag& a, const TiffTag& c) { return a.tag < c.tag; });
    std::vector<uint32_t> valueAt(tags.size(), 0);
    for (size_t i = 0; i < tags.size(); ++i) {
      if (tags[i].values.size() * TypeSize(tags[i].type) <= 4) continue;
      if (b.size() & 1) b.push_back(0);
      valueAt[i] = uint32_t(b.size());
      for (uint32_t v : tags[i].values) Put(b, v, TypeSize(tags[i].type), be);
    }
    if (b.size() & 1) b.push_back(0);
    Set32(b, linkAt, uint32_t(b.size()), be);
    Put(b, tags.size(), 2, be);
    for (size_t i = 0; i < tags.size(); ++i) {
      const TiffTag& t = tags[i];
      Put(b, t.tag, 2, be);
      Put(b, t.type, 2, be);
      Put(b, t.values.size(), 4, be);
      if (valueAt[i]) {
        Put(b, valueAt[i], 4, be);
      } else {
        Bytes field;
        for (uint32_t v : t.values) Put(field, v, TypeSize(t.type), be);
        field.resize(4, 0);
        b.insert(b.end(), field.begin(), field.end());
      }
    }
    linkAt = b.size();
    Put(b, 0, 4, be);
  }
  return b;
}

// The usual tags of a one-strip page.
inline std::vector<TiffTag> BasicTags(uint32_t w, uint32_t h, uint32_t photometric, std::vector<uint32_t> bits,
                                      uint32_t samples, uint32_t compression = 1) {
  return {{256, 4, {w}}, {257, 4, {h}}, {258, 3, bits}, {259, 3, {compression}},
          {262, 3, {photometric}}, {277, 3, {samples}}, {278, 4, {h}}};
}

// ---- BMP -----------------------------------------------------------------------------

struct BmpSpec {
  int32_t width = 1, height = 1;
  uint16_t bits = 24, planes = 1;
  uint32_t compression = 0, coloursUsed = 0, headerSize = 40;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  std::vector<uint32_t> masks;    // written after a 40-byte header, inside a larger one
  Bytes rows;                     // bottom-up, padded; built from `pixel` when empty
  int64_t dataOffset = -1;        // -1: right after the palette or masks
  uint32_t (*pixel)(int x, int y) = nullptr;
};

inline uint64_t BmpRowSize(int32_t w, int bits) { return (uint64_t(bits) * w + 31) / 32 * 4; }

inline Bytes BuildBmp(const BmpSpec& s) {
  Bytes rows = s.rows;
  if (rows.empty() && s.pixel) {
    uint64_t rs = BmpRowSize(s.width, s.bits);
    rows.assign(rs * s.height, 0);
    for (int y = 0; y < s.height; ++y) {
      uint8_t* r = rows.data() + uint64_t(s.height - 1 - y) * rs;
      for (int x = 0; x < s.width; ++x) {
        uint32_t v = s.pixel(x, y);
        switch (s.bits) {
          case 1: r[x / 8] |= uint8_t((v & 1) << (7 - x % 8)); break;
          case 4: r[x / 2] |= uint8_t((v & 15) << (x % 2 ? 0 : 4)); break;
          case 8: r[x] = uint8_t(v); break;
          case 16: r[2 * x] = uint8_t(v); r[2 * x + 1] = uint8_t(v >> 8); break;
          case 24: r[3 * x] = uint8_t(v); r[3 * x + 1] = uint8_t(v >> 8); r[3 * x + 2] = uint8_t(v >> 16); break;
          case 32: for (int k = 0; k < 4; ++k) r[4 * x + k] = uint8_t(v >> (8 * k)); break;
        }
      }
    }
  }
  Bytes h;
  Put(h, s.headerSize, 4);
  Put(h, uint32_t(s.width), 4);
  Put(h, uint32_t(s.height), 4);
  Put(h, s.planes, 2);
  Put(h, s.bits, 2);
  Put(h, s.compression, 4);
  Put(h, rows.size(), 4);
  Put(h, 2835, 4);
  Put(h, 2835, 4);
  Put(h, s.coloursUsed, 4);
  Put(h, 0, 4);
  bool masksInside = s.headerSize >= 52 && !s.masks.empty();
  if (masksInside)
    for (uint32_t m : s.masks) Put(h, m, 4);
  h.resize(s.headerSize, 0);
  Bytes table;
  if (!masksInside)
    for (uint32_t m : s.masks) Put(table, m, 4);
  for (uint32_t c : s.palette) Put(table, c, 4);
  uint64_t offset = s.dataOffset >= 0 ? uint64_t(s.dataOffset) : 14 + h.size() + table.size();
  Bytes b;
  Put(b, 0x4D42, 2);
  Put(b, 0, 4);
  Put(b, 0, 4);
  Put(b, offset, 4);
  b.insert(b.end(), h.begin(), h.end());
  b.insert(b.end(), table.begin(), table.end());
  if (b.size() < offset) b.resize(offset, 0);
  b.resize(offset);
  b.insert(b.end(), rows.begin(), rows.end());
  Set32(b, 2, uint32_t(b.size()));
  return b;
}

// ---- DICOM ---------------------------------------------------------------------------

struct DicomWriter {
  Bytes b;
  bool implicit = false;
  DicomWriter() {
    b.assign(128, 0);
    b.insert(b.end(), {'D', 'I', 'C', 'M'});
  }
  static bool Long(const char* vr) {
    static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* v : kLong)
      if (!std::strcmp(v, vr)) return true;
    return false;
  }
  // Element header; `forceExplicit` for the meta group, which is always explicit.
  void Header(uint16_t g, uint16_t e, const char* vr, uint32_t len, bool forceExplicit = false) {
    Put(b, g, 2);
    Put(b, e, 2);
    if (g == 0xFFFE || (implicit && !forceExplicit)) {
      Put(b, len, 4);
      return;
    }
    b.push_back(uint8_t(vr[0]));
    b.push_back(uint8_t(vr[1]));
    if (Long(vr)) {
      Put(b, 0, 2);
      Put(b, len, 4);
    } else {
      Put(b, len, 2);
    }
  }
  void Element(uint16_t g, uint16_t e, const char* vr, const Bytes& value) {
    Header(g, e, vr, uint32_t(value.size()), g == 2);
    b.insert(b.end(), value.begin(), value.end());
  }
  void U16(uint16_t g, uint16_t e, uint16_t v) { Element(g, e, "US", {uint8_t(v), uint8_t(v >> 8)}); }
  void Text(uint16_t g, uint16_t e, const char* vr, std::string s) {
    if (s.size() & 1) s.push_back(vr[0] == 'U' && vr[1] == 'I' ? '\0' : ' ');
    Element(g, e, vr, Bytes(s.begin(), s.end()));
  }
  void Meta(const char* syntax) { Text(2, 0x10, "UI", syntax); }
  void Geometry(uint16_t rows, uint16_t cols, uint16_t bits, uint16_t samples = 1) {
    U16(0x28, 2, samples);
    U16(0x28, 0x10, rows);
    U16(0x28, 0x11, cols);
    U16(0x28, 0x100, bits);
    U16(0x28, 0x101, bits);
  }
  void Pixels(const Bytes& data) { Element(0x7FE0, 0x10, "OW", data); }
};

// ---- tools and files -----------------------------------------------------------------

inline bool HaveTool(const char* path) { return std::system((std::string("test -x ") + path).c_str()) == 0; }

inline int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

inline bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0; }

// What cmd writes to its standard output; empty when it cannot be started.
inline std::string RunCapture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

inline std::string OutPath(const std::string& name) { return std::string(QV_TEST_OUT_DIR) + "/" + name; }

using testfiles::ReadFile;
using testfiles::WriteFile;

// Deterministic pseudo-random numbers for fixtures and mutation runs.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
};

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace fixtures
