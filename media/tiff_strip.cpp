// tiff_strip.cpp - the decoders of compressed TIFF strips: LZW (compression 5) and
// PackBits (compression 32773).  Plain functions, no state between calls; both stop where
// the data stops making sense and report what they produced, never writing past the output.
// Inside: LZW - PackBits
#include <cstdlib>
#include <cstring>

#include "media/tiff.h"

namespace {

constexpr uint32_t kLzwClear = 256;
constexpr uint32_t kLzwEnd = 257;
constexpr uint32_t kLzwFirstFree = 258;
constexpr uint32_t kLzwTableSize = 4096;
constexpr uint16_t kLzwRoot = 0xFFFF;

struct LzwTable {
  uint16_t prefix[kLzwTableSize];  // kLzwRoot for the 256 single-symbol entries
  uint16_t length[kLzwTableSize];  // symbols in the entry's whole string
  uint8_t last[kLzwTableSize];
  uint8_t first[kLzwTableSize];    // kept so the KwKwK case needs no chain walk
};

// Most significant bit first, as TIFF writes its codes.
struct BitReader {
  const uint8_t* data;
  uint64_t bitCount;
  uint64_t bitPos;
  int Read(uint32_t width, uint32_t* code) {
    if (bitCount - bitPos < width) return 0;
    // A code of at most 12 bits spans at most 3 bytes; bytes past the end read as 0.
    uint64_t byte = bitPos >> 3;
    uint64_t byteCount = bitCount >> 3;
    uint32_t w = 0;
    for (uint64_t i = 0; i < 3; ++i) w = (w << 8) | (byte + i < byteCount ? data[byte + i] : 0u);
    uint32_t v = (w >> (24 - (bitPos & 7) - width)) & ((1u << width) - 1);
    bitPos += width;
    *code = v;
    return 1;
  }
};

// Writes the string of `code` at out[pos]; nothing when it does not fit whole.
int LzwEmit(const LzwTable& t, uint32_t code, uint8_t* out, uint64_t outSize, uint64_t* pos) {
  uint64_t len = t.length[code];
  if (len > outSize - *pos) return 0;
  uint8_t* p = out + *pos + len;
  for (uint32_t c = code; c != kLzwRoot; c = t.prefix[c]) *--p = t.last[c];
  *pos += len;
  return 1;
}

}  // namespace

uint64_t TiffLzwDecode(void*, uint8_t* out, uint64_t outSize, const uint8_t* in, uint64_t inSize) {
  if (!in || inSize == 0 || !out || outSize == 0) return 0;
  if (inSize > (UINT64_MAX >> 3)) return 0;
  LzwTable* t = static_cast<LzwTable*>(std::malloc(sizeof(LzwTable)));
  if (!t) return 0;
  for (uint32_t i = 0; i < 256; ++i) {
    t->prefix[i] = kLzwRoot;
    t->length[i] = 1;
    t->last[i] = t->first[i] = uint8_t(i);
  }
  BitReader br{in, inSize * 8, 0};
  uint64_t pos = 0;
  uint32_t next = kLzwFirstFree;
  uint32_t width = 9;
  uint32_t prev = 0;
  // A stream that does not begin with a clear code is read as if it did.
  bool havePrev = false;
  uint32_t code;
  while (br.Read(width, &code)) {
    if (code == kLzwEnd) break;
    if (code == kLzwClear) {
      next = kLzwFirstFree;
      width = 9;
      havePrev = false;
      continue;
    }
    if (!havePrev) {
      if (code >= 256) break;  // after a clear only a single symbol makes sense
      if (!LzwEmit(*t, code, out, outSize, &pos)) break;
      prev = code;
      havePrev = true;
      continue;
    }
    if (prev >= next) break;
    if (next < kLzwTableSize) {
      if (code > next) break;
      t->prefix[next] = uint16_t(prev);
      t->first[next] = t->first[prev];
      t->last[next] = code == next ? t->first[prev] : t->first[code];
      t->length[next] = uint16_t(t->length[prev] + 1);
      ++next;
      // The width grows one code early, as every TIFF writer does.
      if ((next == 511 || next == 1023 || next == 2047) && width < 12) ++width;
    }
    if (code >= next) break;
    if (!LzwEmit(*t, code, out, outSize, &pos)) break;
    prev = code;
  }
  std::free(t);
  return pos * 8;
}

uint64_t TiffPackBitsDecode(uint8_t* out, uint64_t outSize, const uint8_t* in, uint64_t inSize) {
  if (!in || inSize == 0 || !out || outSize == 0) return 0;
  uint64_t ip = 0, op = 0;
  while (inSize - ip >= 2 && op < outSize) {
    int n = int8_t(in[ip++]);
    if (n >= 0) {
      uint64_t run = uint64_t(n) + 1;
      if (run > inSize - ip) run = inSize - ip;
      if (run > outSize - op) run = outSize - op;
      std::memcpy(out + op, in + ip, run);
      ip += run;
      op += run;
    } else if (n != -128) {
      uint64_t run = uint64_t(1 - n);
      if (run > outSize - op) run = outSize - op;
      std::memset(out + op, in[ip++], run);
      op += run;
    }
  }
  return op;
}
