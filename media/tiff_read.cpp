// tiff_read.cpp - the TIFF reader behind the media handle: loads the whole file, walks the
// chain of image file directories, keeps each readable one as a page and delivers page n as
// frame n at the bytes per pixel the first page decides.  Both byte orders; uncompressed,
// LZW and PackBits strips; gray, RGB, palette, transparency mask and CMYK pages.
// Every offset, count and size comes from a file we do not trust: each is checked against
// the loaded bytes in 64-bit arithmetic before use, and a bad page reads as black.
// Inside: loading - entries - page table - strip decoding - pixel conversion - entry points
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "media/tiff.h"

namespace {

// Nothing real comes near this; it keeps every product of a width, a height and a sample
// size far inside 64 bits.
constexpr uint64_t kMaxSide = uint64_t(1) << 24;
// A directory chain longer than this is cut there.
constexpr uint64_t kMaxPages = 65536;
// Decoded pages are kept until close while they fit this budget; beyond it a page is
// decoded again each time it is read.
constexpr uint64_t kDecodedBudget = uint64_t(512) << 20;
// The loaded file is followed by this many zero bytes.
constexpr uint64_t kSlack = 32;
// A compressed page is decoded whole before it is cut to the frame.  A few megabytes of LZW
// can claim gigabytes; a page may store more bytes per pixel than the frame shows (16-bit
// pages behind an 8-bit first page), hence the factor, but no more than that is taken.
constexpr uint64_t kMaxDecodedPage = 4 * MediaMaxFrameBytes;

enum TagSlot {
  kWidth, kHeight, kBits, kCompression, kPhotometric, kStripOffsets, kSamples, kRowsPerStrip,
  kStripCounts, kPlanar, kPredictor, kColorMap, kSampleFormat, kSlotCount
};

int SlotOfTag(uint16_t tag) {
  switch (tag) {
    case 256: return kWidth;
    case 257: return kHeight;
    case 258: return kBits;
    case 259: return kCompression;
    case 262: return kPhotometric;
    case 273: return kStripOffsets;
    case 277: return kSamples;
    case 278: return kRowsPerStrip;
    case 279: return kStripCounts;
    case 284: return kPlanar;
    case 317: return kPredictor;
    case 320: return kColorMap;
    case 339: return kSampleFormat;
    default: return -1;
  }
}

// One directory entry as found: where its values start, when they lie inside the file.
struct TiffEntry {
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t valuePos = 0;  // byte position of element 0
  bool present = false;
};

enum PageKind { kGray, kRgb, kPalette, kMask, kCmyk };

struct TiffPage {
  uint64_t ifdOffset = 0;
  uint32_t compression = 1;
  uint32_t predictor = 1;
  uint64_t width = 0, height = 0, rowsPerStrip = 0;
  TiffEntry stripOffsets, stripCounts, colorMap;
  PageKind kind = kGray;
  bool whiteIsZero = false;
  bool isFloat = false;
  uint32_t bits = 1;           // bits of one sample
  uint32_t samples = 1;        // samples per pixel as stored
  uint64_t rowSize = 0;        // bytes of one stored row
  int fillable = -1;           // -1 not yet checked, 0 the strips cannot fill the page, 1 they can
  uint8_t* decoded = nullptr;  // compressed pages, once decoded
};

}  // namespace

struct TiffReader {
  uint8_t* bytes = nullptr;  // the whole file plus kSlack zero bytes
  uint64_t size = 0;
  bool bigEndian = false;
  uint32_t firstIfd = 0;
  std::vector<TiffPage> pages;
  uint64_t decodedBytes = 0;
};

namespace {

// ---- loading --------------------------------------------------------------------------

uint16_t Get16(const TiffReader& r, uint64_t pos) {
  const uint8_t* p = r.bytes + pos;
  return r.bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}
uint32_t Get32(const TiffReader& r, uint64_t pos) {
  const uint8_t* p = r.bytes + pos;
  return r.bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
uint16_t Row16(const uint8_t* p, bool be) { return be ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]); }
uint32_t Row32(const uint8_t* p, bool be) {
  return be ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
            : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

void FreeReader(TiffReader* r) {
  if (!r) return;
  for (TiffPage& p : r->pages) std::free(p.decoded);
  std::free(r->bytes);
  delete r;
}

// ---- entries --------------------------------------------------------------------------

uint64_t ElementSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// Records the entry at `pos` when all its values lie inside the file.
TiffEntry MakeEntry(const TiffReader& r, uint64_t pos) {
  TiffEntry e;
  e.type = Get16(r, pos + 2);
  e.count = Get32(r, pos + 4);
  uint64_t elem = ElementSize(e.type);
  if (elem == 0 || e.count == 0) return e;
  uint64_t total = elem * e.count;
  uint64_t at = total <= 4 ? pos + 8 : Get32(r, pos + 8);
  if (at > r.size || total > r.size - at) return e;
  e.valuePos = at;
  e.present = true;
  return e;
}

// Element i of an integer entry (BYTE, SHORT or LONG).
int EntryUint(const TiffReader& r, const TiffEntry& e, uint64_t i, uint64_t* out) {
  if (!e.present || i >= e.count) return 0;
  switch (e.type) {
    case 1: *out = r.bytes[e.valuePos + i]; return 1;
    case 3: *out = Get16(r, e.valuePos + 2 * i); return 1;
    case 4: *out = Get32(r, e.valuePos + 4 * i); return 1;
    default: return 0;
  }
}

uint64_t EntryUintOr(const TiffReader& r, const TiffEntry& e, uint64_t fallback) {
  uint64_t v;
  return EntryUint(r, e, 0, &v) ? v : fallback;
}

// ---- page table -----------------------------------------------------------------------

uint64_t CeilDiv(uint64_t a, uint64_t b) { return a / b + (a % b != 0); }

// Fills `page` from the directory's entries; 0 when the directory cannot be read as a page.
int ParsePage(const TiffReader& r, const TiffEntry* tags, TiffPage* page) {
  uint64_t photometric;
  if (!EntryUint(r, tags[kPhotometric], 0, &photometric)) return 0;
  if (photometric == 34892) photometric = 1;  // linear raw: plain gray
  page->compression = uint32_t(EntryUintOr(r, tags[kCompression], 1));
  page->predictor = uint32_t(EntryUintOr(r, tags[kPredictor], 1));
  uint64_t sampleFormat = EntryUintOr(r, tags[kSampleFormat], 1);
  if (!EntryUint(r, tags[kWidth], 0, &page->width) || !EntryUint(r, tags[kHeight], 0, &page->height)) return 0;
  if (page->width == 0 || page->height == 0 || page->width > kMaxSide || page->height > kMaxSide) return 0;
  uint64_t rps;
  if (!EntryUint(r, tags[kRowsPerStrip], 0, &rps) || rps == 0) return 0;
  page->rowsPerStrip = rps < page->height ? rps : page->height;
  page->stripOffsets = tags[kStripOffsets];
  page->stripCounts = tags[kStripCounts];
  if (!page->stripOffsets.present || !page->stripCounts.present) return 0;
  if (page->stripOffsets.count != page->stripCounts.count) return 0;
  uint64_t samples = EntryUintOr(r, tags[kSamples], 0);
  // Separate planes are not read: taking them as interleaved would give a wrong picture.
  if (samples > 1 && EntryUintOr(r, tags[kPlanar], 1) == 2) return 0;
  page->isFloat = sampleFormat == 3;
  const TiffEntry& bitsEntry = tags[kBits];
  uint64_t bits = EntryUintOr(r, bitsEntry, 1);
  switch (photometric) {
    case 0:
    case 1: {
      page->kind = kGray;
      page->whiteIsZero = photometric == 0;
      if (samples == 0) samples = 1;
      if (samples > 64) return 0;
      if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 10 && bits != 12 && bits != 14 &&
          bits != 16 && bits != 32)
        return 0;
      if (page->isFloat && bits != 32) return 0;
      if (bits % 8 != 0 && samples != 1) return 0;  // packed samples: gray alone
      page->bits = uint32_t(bits);
      page->samples = uint32_t(samples);
      page->rowSize = CeilDiv(page->width * bits * samples, 8);
      break;
    }
    case 2: {
      page->kind = kRgb;
      if (samples == 0) samples = 3;
      if (samples < 3 || samples > 64 || bitsEntry.count < 3) return 0;
      uint64_t b0, b1, b2;
      if (!EntryUint(r, bitsEntry, 0, &b0) || !EntryUint(r, bitsEntry, 1, &b1) || !EntryUint(r, bitsEntry, 2, &b2))
        return 0;
      // 10, 12 and 14 bits would need conversions nobody asks for; refuse rather than show black.
      if (b0 != b1 || b0 != b2 || (b0 != 8 && b0 != 16 && b0 != 32)) return 0;
      if (page->isFloat && b0 != 32) return 0;
      page->bits = uint32_t(b0);
      page->samples = uint32_t(samples);
      page->rowSize = page->width * (b0 / 8) * samples;
      break;
    }
    case 3: {
      page->kind = kPalette;
      if (samples == 0) samples = 1;
      uint64_t b;
      if (samples != 1 || !EntryUint(r, bitsEntry, 0, &b)) return 0;
      if (b != 1 && b != 2 && b != 4 && b != 8) return 0;
      page->colorMap = tags[kColorMap];
      if (!page->colorMap.present || page->colorMap.type != 3 || page->colorMap.count != (3u << b)) return 0;
      page->bits = uint32_t(b);
      page->rowSize = CeilDiv(page->width * b, 8);
      break;
    }
    case 4:
      page->kind = kMask;
      page->bits = 1;
      page->rowSize = CeilDiv(page->width, 8);
      break;
    case 5: {
      page->kind = kCmyk;
      if (samples == 0) samples = 4;
      if (samples < 4 || samples > 64 || bitsEntry.count < 4) return 0;
      for (uint64_t i = 0; i < 4; ++i) {
        uint64_t b;
        if (!EntryUint(r, bitsEntry, i, &b) || b != 8) return 0;
      }
      page->bits = 8;
      page->samples = uint32_t(samples);
      page->rowSize = page->width * samples;
      break;
    }
    default:
      return 0;
  }
  if (page->isFloat && (page->kind != kGray && page->kind != kRgb)) return 0;
  return 1;
}

// Walks the directory chain; stops at a loop, at the edge of the file or at the page cap.
// The entries looked at over all directories are bounded by the file size, since real
// directories never overlap.
int BuildPageTable(TiffReader* r) {
  std::unordered_set<uint64_t> seen;
  uint64_t entryBudget = r->size / 12 + 16;
  uint64_t off = r->firstIfd;
  while (off != 0 && r->pages.size() < kMaxPages) {
    if (!seen.insert(off).second) break;
    if (off > r->size || r->size - off < 2) break;
    uint64_t n = Get16(*r, off);
    if (n > entryBudget) break;
    entryBudget -= n;
    if (r->size - off - 2 < 12 * n + 4) break;
    TiffEntry tags[kSlotCount];
    bool found[kSlotCount] = {};
    for (uint64_t i = 0; i < n; ++i) {
      uint64_t pos = off + 2 + 12 * i;
      int slot = SlotOfTag(Get16(*r, pos));
      if (slot < 0 || found[slot]) continue;  // the first entry of a tag counts
      found[slot] = true;
      tags[slot] = MakeEntry(*r, pos);
    }
    TiffPage page;
    page.ifdOffset = off;
    if (ParsePage(*r, tags, &page)) r->pages.push_back(page);
    off = Get32(*r, off + 2 + 12 * n);
  }
  return !r->pages.empty();
}

// ---- strip decoding -------------------------------------------------------------------

bool SupportedCompression(uint32_t c) { return c == 1 || c == 5 || c == 32773; }

uint64_t StripsNeeded(const TiffPage& p) { return CeilDiv(p.height, p.rowsPerStrip); }

uint64_t StripRows(const TiffPage& p, uint64_t strip) {
  uint64_t first = strip * p.rowsPerStrip;
  return p.height - first < p.rowsPerStrip ? p.height - first : p.rowsPerStrip;
}

// Whether the strips inside the file can produce the whole page at all.  Refusing the rest
// keeps a few bytes of file from asking for gigabytes of picture.
int PageFillable(const TiffReader& r, TiffPage* p) {
  if (p->fillable >= 0) return p->fillable;
  p->fillable = 0;
  if (!SupportedCompression(p->compression)) return 0;
  uint64_t need = p->rowSize * p->height;
  uint64_t strips = StripsNeeded(*p);
  if (strips > p->stripOffsets.count) strips = p->stripOffsets.count;
  uint64_t have = 0;
  for (uint64_t i = 0; i < strips && have < r.size; ++i) {
    uint64_t off, count;
    if (!EntryUint(r, p->stripOffsets, i, &off) || !EntryUint(r, p->stripCounts, i, &count)) return 0;
    if (off >= r.size) continue;
    uint64_t room = r.size - off;
    if (p->compression == 1) count = StripRows(*p, i) * p->rowSize;
    have += count < room ? count : room;
  }
  if (have > r.size) have = r.size;  // strips sharing bytes do not add up
  uint64_t factor = p->compression == 5 ? TiffLzwMaxBytesPerInputByte
                  : p->compression == 32773 ? TiffPackBitsMaxBytesPerInputByte : 1;
  p->fillable = need <= have * factor;
  return p->fillable;
}

// Undoes horizontal differencing over `rows` rows, in the file's byte order.
void UndoPredictor2(uint8_t* data, uint64_t rows, const TiffPage& p, bool be) {
  uint64_t spp = p.samples;
  uint64_t n = p.width * spp;  // samples per row
  for (uint64_t y = 0; y < rows; ++y) {
    uint8_t* row = data + y * p.rowSize;
    if (p.bits == 8) {
      for (uint64_t i = spp; i < n; ++i) row[i] = uint8_t(row[i] + row[i - spp]);
    } else if (p.bits == 16) {
      for (uint64_t i = spp; i < n; ++i) {
        uint16_t v = uint16_t(Row16(row + 2 * i, be) + Row16(row + 2 * (i - spp), be));
        row[2 * i + (be ? 0 : 1)] = uint8_t(v >> 8);
        row[2 * i + (be ? 1 : 0)] = uint8_t(v);
      }
    } else if (p.bits == 32) {
      for (uint64_t i = spp; i < n; ++i) {
        uint32_t v = Row32(row + 4 * i, be) + Row32(row + 4 * (i - spp), be);
        for (int k = 0; k < 4; ++k) row[4 * i + (be ? k : 3 - k)] = uint8_t(v >> (24 - 8 * k));
      }
    }
  }
}

// Floating-point prediction: bytes differenced across the row, then stored by significance
// (all most significant bytes first).  Rebuilt here in the file's byte order.
int UndoPredictor3(uint8_t* data, uint64_t rows, const TiffPage& p, bool be) {
  if (p.bits != 32 || !p.isFloat) return 0;
  uint64_t spp = p.samples;
  uint64_t wc = p.width * spp;
  uint64_t bytes = wc * 4;
  uint8_t* tmp = static_cast<uint8_t*>(std::malloc(bytes));
  if (!tmp) return 0;
  for (uint64_t y = 0; y < rows; ++y) {
    uint8_t* row = data + y * p.rowSize;
    for (uint64_t i = spp; i < bytes; ++i) row[i] = uint8_t(row[i] + row[i - spp]);
    std::memcpy(tmp, row, bytes);
    for (uint64_t c = 0; c < wc; ++c)
      for (uint64_t b = 0; b < 4; ++b) row[4 * c + b] = tmp[(be ? b : 3 - b) * wc + c];
  }
  std::free(tmp);
  return 1;
}

// Decodes strip i into its rows of `out`; 0 when the strip fails.
int DecodeStrip(const TiffReader& r, const TiffPage& p, uint64_t i, uint8_t* out) {
  uint64_t off, count;
  if (!EntryUint(r, p.stripOffsets, i, &off) || !EntryUint(r, p.stripCounts, i, &count)) return 0;
  if (off >= r.size) return 0;
  if (count > r.size - off) count = r.size - off;
  uint64_t rows = StripRows(p, i);
  uint64_t expect = rows * p.rowSize;
  uint8_t* dst = out + i * p.rowsPerStrip * p.rowSize;
  uint64_t produced = p.compression == 5 ? TiffLzwDecode(nullptr, dst, expect, r.bytes + off, count) / 8
                                         : TiffPackBitsDecode(dst, expect, r.bytes + off, count);
  if (produced == 0) return 0;
  if (p.predictor == 1) return 1;
  if (p.predictor == 3) return UndoPredictor3(dst, rows, p, r.bigEndian);
  if (p.predictor != 2) return 0;
  // Packed samples carry no prediction; TIFF writers do not difference them.
  if (p.bits % 8 == 0 && p.kind != kMask) UndoPredictor2(dst, rows, p, r.bigEndian);
  return 1;
}

// Decodes a compressed page whole; leaves `decoded` empty when it fails.
void DecodePage(TiffReader* r, TiffPage* p) {
  if (p->decoded || !PageFillable(*r, p)) return;
  uint64_t need = p->rowSize * p->height;
  if (need > kMaxDecodedPage) return;  // reads black
  // Zero-filled, so rows a short strip leaves out read as black; a few spare bytes let the
  // packed-sample reader take whole bytes at a row's end.
  uint8_t* buf = static_cast<uint8_t*>(std::calloc(need + 8, 1));
  if (!buf) return;
  uint64_t strips = StripsNeeded(*p);
  if (strips > p->stripOffsets.count) strips = p->stripOffsets.count;
  for (uint64_t i = 0; i < strips; ++i) {
    if (!DecodeStrip(*r, *p, i, buf)) {
      std::free(buf);
      return;
    }
  }
  p->decoded = buf;
  r->decodedBytes += need;
}

const uint8_t* RowPointer(const TiffReader& r, const TiffPage& p, uint64_t y) {
  if (y >= p.height) return nullptr;
  if (p.compression != 1) return p.decoded ? p.decoded + y * p.rowSize : nullptr;
  uint64_t strip = y / p.rowsPerStrip, off;
  if (!EntryUint(r, p.stripOffsets, strip, &off)) return nullptr;
  uint64_t pos = off + (y % p.rowsPerStrip) * p.rowSize;
  if (off > r.size || pos > r.size || p.rowSize > r.size - pos) return nullptr;
  return r.bytes + pos;
}

// ---- pixel conversion -----------------------------------------------------------------

// Bit-packed sample x of `bits` bits, most significant bit first.
uint32_t PackedSample(const uint8_t* row, uint64_t x, uint32_t bits) {
  uint64_t bit = x * bits;
  const uint8_t* p = row + (bit >> 3);
  uint32_t skip = uint32_t(bit & 7);
  uint32_t nbytes = (skip + bits + 7) / 8;
  uint32_t w = 0;
  for (uint32_t i = 0; i < nbytes; ++i) w = (w << 8) | p[i];
  return (w >> (nbytes * 8 - skip - bits)) & ((1u << bits) - 1);
}

// A float sample as a 32-bit fraction of full scale; NaN and values outside [0, 1] clamp.
uint32_t FloatToU32(uint32_t raw, bool invert) {
  float f;
  std::memcpy(&f, &raw, 4);
  if (!(f > 0.0f)) f = 0.0f;  // NaN too
  if (f > 1.0f) f = 1.0f;
  if (invert) f = 1.0f - f;
  return uint32_t(double(f) * 4294967295.0);
}

uint32_t Sample32(const TiffPage& p, const uint8_t* s, bool be) {
  uint32_t raw = Row32(s, be);
  if (p.isFloat) return FloatToU32(raw, p.whiteIsZero);
  return p.whiteIsZero ? 0xFFFFFFFFu - raw : raw;
}

// Colour map as 16-bit R, G, B triples.
void LoadColorMap(const TiffReader& r, const TiffPage& p, uint16_t* map) {
  uint64_t n = uint64_t(1) << p.bits;
  for (uint64_t i = 0; i < n; ++i)
    for (uint64_t c = 0; c < 3; ++c) map[3 * i + c] = Get16(r, p.colorMap.valuePos + 2 * (c * n + i));
}

// One page row as 16-bit R, G, B for n pixels.
void RowRgb16(const TiffPage& p, const uint8_t* row, uint64_t n, bool be, const uint16_t* map, uint16_t* out) {
  switch (p.kind) {
    case kGray: {
      const uint32_t b = p.bits;
      const uint64_t stride = uint64_t(b / 8) * p.samples;
      for (uint64_t x = 0; x < n; ++x) {
        uint32_t g;
        if (b == 8) g = row[x * stride] * 257u;
        else if (b == 16) g = Row16(row + x * stride, be);
        else if (b == 32) {
          out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = uint16_t(Sample32(p, row + x * stride, be) >> 16);
          continue;
        } else {
          uint32_t v = PackedSample(row, x, b);
          g = b == 1 ? v * 65535u : b == 2 ? v * 85u * 257u : b == 4 ? v * 17u * 257u : v << (16 - b);
        }
        if (p.whiteIsZero) g = 65535u - g;
        out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = uint16_t(g);
      }
      break;
    }
    case kRgb: {
      const uint64_t sb = p.bits / 8, stride = sb * p.samples;
      for (uint64_t x = 0; x < n; ++x) {
        const uint8_t* s = row + x * stride;
        for (uint64_t c = 0; c < 3; ++c) {
          const uint8_t* v = s + c * sb;
          out[3 * x + c] = sb == 1 ? uint16_t(*v * 257u) : sb == 2 ? Row16(v, be) : uint16_t(Sample32(p, v, be) >> 16);
        }
      }
      break;
    }
    case kPalette:
      for (uint64_t x = 0; x < n; ++x) {
        uint32_t i = p.bits == 8 ? row[x] : PackedSample(row, x, p.bits);
        std::memcpy(out + 3 * x, map + 3 * i, 6);
      }
      break;
    case kMask:
      for (uint64_t x = 0; x < n; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = PackedSample(row, x, 1) ? 65535 : 0;
      break;
    case kCmyk:
      for (uint64_t x = 0; x < n; ++x) {
        const uint8_t* s = row + x * p.samples;
        uint32_t k = s[3];
        for (int c = 0; c < 3; ++c) {
          uint32_t v = s[c] * (255u - k) / 255u + k;
          out[3 * x + c] = uint16_t((255u - (v > 255u ? 255u : v)) * 257u);
        }
      }
      break;
  }
}

// One row of a 32-bit gray or RGB page as 32-bit R, G, B.
void RowRgb32(const TiffPage& p, const uint8_t* row, uint64_t n, bool be, uint32_t* out) {
  const uint64_t stride = 4 * uint64_t(p.samples);
  for (uint64_t x = 0; x < n; ++x) {
    const uint8_t* s = row + x * stride;
    if (p.kind == kGray) {
      out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = Sample32(p, s, be);
    } else {
      for (int c = 0; c < 3; ++c) out[3 * x + c] = Sample32(p, s + 4 * c, be);
    }
  }
}

template <typename T>
T GrayOf(T r, T g, T b) {
  if (r == g && g == b) return r;
  return T((299 * uint64_t(r) + 587 * uint64_t(g) + 114 * uint64_t(b) + 500) / 1000);
}

// Writes n pixels at the frame's bytes per pixel from 16-bit or 32-bit R, G, B.
void StoreRow16(const uint16_t* rgb, uint64_t n, uint64_t bpp, uint8_t* dst) {
  for (uint64_t x = 0; x < n; ++x) {
    const uint16_t* s = rgb + 3 * x;
    switch (bpp) {
      case 1: dst[x] = GrayOf<uint8_t>(uint8_t(s[0] >> 8), uint8_t(s[1] >> 8), uint8_t(s[2] >> 8)); break;
      case 2: { uint16_t g = GrayOf<uint16_t>(s[0], s[1], s[2]); std::memcpy(dst + 2 * x, &g, 2); break; }
      case 3: for (int c = 0; c < 3; ++c) dst[3 * x + c] = uint8_t(s[c] >> 8); break;
      case 4: { uint32_t g = GrayOf<uint16_t>(s[0], s[1], s[2]) * 65537u; std::memcpy(dst + 4 * x, &g, 4); break; }
      case 6: std::memcpy(dst + 6 * x, s, 6); break;
      case 12: for (int c = 0; c < 3; ++c) { uint32_t v = s[c] * 65537u; std::memcpy(dst + 12 * x + 4 * c, &v, 4); } break;
    }
  }
}

void StoreRow32(const uint32_t* rgb, uint64_t n, uint64_t bpp, uint8_t* dst) {
  for (uint64_t x = 0; x < n; ++x) {
    const uint32_t* s = rgb + 3 * x;
    if (bpp == 4) {
      uint32_t g = GrayOf<uint32_t>(s[0], s[1], s[2]);
      std::memcpy(dst + 4 * x, &g, 4);
    } else {
      std::memcpy(dst + 12 * x, s, 12);
    }
  }
}

// Converts page `p` into one frame of the handle's size; pixels the page cannot give stay 0.
void ReadPage(TiffReader* r, TiffPage* p, const MediaInfo& info, uint8_t* frame) {
  const uint64_t bpp = info.bytesPerPixel;
  const uint64_t frameRow = info.width * bpp;
  std::memset(frame, 0, frameRow * info.height);
  if (!PageFillable(*r, p)) return;
  if (p->compression != 1) DecodePage(r, p);
  if (p->compression != 1 && !p->decoded) return;
  const uint64_t n = p->width < info.width ? p->width : info.width;
  const uint64_t rows = p->height < info.height ? p->height : info.height;
  uint16_t map[3 * 256] = {};
  if (p->kind == kPalette) LoadColorMap(*r, *p, map);
  const bool wide = p->bits == 32 && (bpp == 4 || bpp == 12);
  void* scratch = std::malloc(n * 3 * (wide ? 4 : 2));
  if (scratch) {
    for (uint64_t y = 0; y < rows; ++y) {
      const uint8_t* row = RowPointer(*r, *p, y);
      if (!row) continue;
      uint8_t* dst = frame + y * frameRow;
      if (wide) {
        RowRgb32(*p, row, n, r->bigEndian, static_cast<uint32_t*>(scratch));
        StoreRow32(static_cast<uint32_t*>(scratch), n, bpp, dst);
      } else {
        RowRgb16(*p, row, n, r->bigEndian, map, static_cast<uint16_t*>(scratch));
        StoreRow16(static_cast<uint16_t*>(scratch), n, bpp, dst);
      }
    }
    std::free(scratch);
  }
  if (p->decoded && r->decodedBytes > kDecodedBudget) {
    r->decodedBytes -= p->rowSize * p->height;
    std::free(p->decoded);
    p->decoded = nullptr;
  }
}

uint64_t FrameBytesPerPixel(const TiffPage& p) {
  switch (p.kind) {
    case kGray: return p.bits < 8 ? 1 : CeilDiv(p.bits, 8);
    case kRgb: return 3 * p.bits / 8;
    default: return 3;
  }
}

// Takes ownership of `bytes` (size + kSlack, slack zeroed).
int OpenLoaded(MediaFile* file, uint8_t* bytes, uint64_t size) {
  TiffReader* r = new (std::nothrow) TiffReader;
  if (!r) {
    std::free(bytes);
    return 0;
  }
  r->bytes = bytes;
  r->size = size;
  if (size < 8 || !((bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M'))) {
    FreeReader(r);
    return 0;
  }
  r->bigEndian = bytes[0] == 'M';
  r->firstIfd = Get32(*r, 4);
  if (!BuildPageTable(r) || !SupportedCompression(r->pages[0].compression) || !PageFillable(*r, &r->pages[0])) {
    FreeReader(r);
    return 0;
  }
  const TiffPage& first = r->pages[0];
  // The caller allocates the frame from these numbers: refuse what no reader hands out.
  if (first.width * first.height * FrameBytesPerPixel(first) > MediaMaxFrameBytes) {
    FreeReader(r);
    return 0;
  }
  file->info.planes = 1;
  file->info.frameCount = r->pages.size();
  file->info.width = first.width;
  file->info.height = first.height;
  file->info.bytesPerPixel = FrameBytesPerPixel(first);
  file->tiffReader = r;
  return 1;
}

}  // namespace

// ---- entry points ---------------------------------------------------------------------

int TiffOpenMemory(MediaFile* file, const void* data, size_t size) {
  if (!file || !data || size == 0 || uint64_t(size) >= (uint64_t(1) << 32)) return 0;
  uint8_t* bytes = static_cast<uint8_t*>(std::calloc(size + kSlack, 1));
  if (!bytes) return 0;
  std::memcpy(bytes, data, size);
  return OpenLoaded(file, bytes, size);
}

int TiffOpenRead(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath) return 0;
  FILE* f = std::fopen(ansiPath, "rb");
  if (!f) return 0;
  uint8_t* bytes = nullptr;
  // Sized by the file system, not by seeking: a folder opens too and seeks to an end
  // that is no size at all.
  struct stat st;
  int64_t size = -1;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) size = int64_t(st.st_size);
  // Offsets are 32-bit: a file of 4 GiB or more cannot be a TIFF we read.
  if (size > 0 && size < (int64_t(1) << 32)) {
    bytes = static_cast<uint8_t*>(std::calloc(uint64_t(size) + kSlack, 1));
    if (bytes && std::fread(bytes, 1, uint64_t(size), f) != uint64_t(size)) {
      std::free(bytes);
      bytes = nullptr;
    }
  }
  std::fclose(f);
  if (!bytes) return 0;
  return OpenLoaded(file, bytes, uint64_t(size));
}

int TiffReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer) {
  if (!file || !file->tiffReader || plane != 0) return 0;
  TiffReader* r = file->tiffReader;
  if (first > r->pages.size() || count > r->pages.size() - first) return 0;
  if (count == 0) return 1;
  const MediaInfo& info = file->info;
  uint64_t bpp = info.bytesPerPixel;
  if (bpp != 1 && bpp != 2 && bpp != 3 && bpp != 4 && bpp != 6 && bpp != 12) return 0;
  if (!buffer || info.width == 0 || info.height == 0 || info.width > kMaxSide || info.height > kMaxSide) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint64_t frameBytes = info.width * info.height * bpp;
  for (uint64_t i = 0; i < count; ++i) ReadPage(r, &r->pages[first + i], info, out + i * frameBytes);
  return 1;
}

void TiffFreeReader(TiffReader* reader) { FreeReader(reader); }
