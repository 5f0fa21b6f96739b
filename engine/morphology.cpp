// morphology.cpp - erosion, dilation, hole filling, whisker shaving, outline, thinning and
// exclusive dilation on binary pictures.
// Works on bit masks, 32 pixels a word: a neighbourhood is the mask row and the rows above
// and below shifted by one bit, so one word operation decides 32 pixels.  Results are
// written back only where a pixel changes, a whole word of 8-bit gray at a time.
// Inside: thinning flags - word neighbourhoods - writing pixels - erosion, dilation and
//         outline - hole filling - thinning - exclusive dilation - whisker shaving
#include "engine/morphology.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "engine/pixel.h"
#include "engine/scratch.h"

// ---- thinning flags ------------------------------------------------------------------------

const uint8_t ThinningFlags[256] = {
    0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x11, 0x00, 0x40, 0x50, 0x55, 0x00, 0x00, 0x50, 0x55,  // 0-15
    0x00, 0x00, 0x90, 0x90, 0x80, 0x00, 0x99, 0x99, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 16-31
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x40, 0x44, 0x50, 0x55, 0x00, 0x04, 0x50, 0x55,  // 32-47
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x09, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 48-63
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x60, 0x40, 0x40, 0x00, 0x00, 0x40, 0x40,  // 64-79
    0xA0, 0x00, 0x80, 0x80, 0xA0, 0x00, 0x80, 0x80, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // 80-95
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x66, 0x66, 0x40, 0x44, 0x06, 0x06, 0x40, 0x44,  // 96-111
    0xA0, 0x00, 0x80, 0x80, 0xA0, 0x00, 0x80, 0x80, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // 112-127
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x05,  // 128-143
    0x80, 0x00, 0x90, 0x90, 0x88, 0x08, 0x99, 0x99, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 144-159
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x00, 0x05, 0x00, 0x04, 0x00, 0x05,  // 160-175
    0x00, 0x00, 0x00, 0x00, 0x08, 0x08, 0x09, 0x09, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 176-191
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x60, 0x40, 0x40, 0x00, 0x00, 0x40, 0x40,  // 192-207
    0xAA, 0x0A, 0x80, 0x80, 0xAA, 0x0A, 0x88, 0x88, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // 208-223
    0x22, 0x02, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x66, 0x66, 0x40, 0x44, 0x06, 0x06, 0x40, 0x44,  // 224-239
    0xAA, 0x0A, 0x80, 0x80, 0xAA, 0x0A, 0x88, 0x88, 0x22, 0x22, 0x00, 0x00, 0x22, 0x22, 0x00, 0x00,  // 240-255
};

namespace {

// ---- word neighbourhoods -------------------------------------------------------------------

// A mask row seen from one pixel to the right: each bit holds its left neighbour.
inline uint32_t FromLeft(const uint32_t* row, int32_t i) {
  return (row[i] >> 1) | (i > 0 ? row[i - 1] << 31 : 0u);
}
// Each bit holds its right neighbour.
inline uint32_t FromRight(const uint32_t* row, int32_t i, int32_t words) {
  return (row[i] << 1) | (i + 1 < words ? row[i + 1] >> 31 : 0u);
}

// Rows outside the mask read as background.
struct RowTriple {
  const uint32_t* up;
  const uint32_t* mid;
  const uint32_t* down;
};
RowTriple Rows(const BitMask* m, int32_t y, const uint32_t* zero) {
  return RowTriple{y > 0 ? BitMaskRow(m, y - 1) : zero, BitMaskRow(m, y),
                   y + 1 < m->height ? BitMaskRow(m, y + 1) : zero};
}

// Pixels of word i with any neighbour of the connectivity set.
inline uint32_t AnySet(const RowTriple& r, int32_t i, int32_t words, int32_t conn8) {
  uint32_t a = FromLeft(r.mid, i) | FromRight(r.mid, i, words) | r.up[i] | r.down[i];
  if (conn8)
    a |= FromLeft(r.up, i) | FromRight(r.up, i, words) | FromLeft(r.down, i) |
         FromRight(r.down, i, words);
  return a;
}

// ---- writing pixels ------------------------------------------------------------------------

// Writes the 8-bit value v as SetGray8 does at every set bit of `bits`: bit i is picture
// (x0 + i, y), for i below n; bits from n on are clear.
typedef void (*WriteBitsFn)(C_ImgBuff* rec, int32_t x0, int32_t y, const uint32_t* bits,
                            int32_t n, uint8_t v);

template <int NB, int CH>
void WriteBitsTyped(C_ImgBuff* rec, int32_t x0, int32_t y, const uint32_t* bits, int32_t n,
                    uint8_t v) {
  SampleType<NB>* row = RowPtr<SampleType<NB>>(rec, x0, y);
  const int32_t words = (n + 31) >> 5;
  for (int32_t i = 0; i < words; ++i) {
    for (uint32_t w = bits[i]; w; w &= w - 1) {
      const int32_t x = (i << 5) + 31 - __builtin_ctz(w);
      StoreGray<NB, CH, 8>(row + int64_t(x) * CH, v);
    }
  }
}

// Gray 8 a word at a time: the 32 bits become 32 byte masks and the row's bytes are blended
// with v, so a changed word costs a few instructions whatever its bit pattern (a loop over
// the set bits mispredicts on every ragged particle edge).  Words (with AVX2, groups of
// four) that change nothing are skipped; a last word that is only partly inside the row goes
// bit by bit, so no byte past the row's n pixels is ever read or written.
struct ExpandTable {
  uint64_t bytes[256];  // byte k is 0xFF where bit 7 - k of the index is set
  constexpr ExpandTable() : bytes() {
    for (int32_t b = 0; b < 256; ++b)
      for (int32_t k = 0; k < 8; ++k)
        if (b & (0x80 >> k)) bytes[b] |= uint64_t(0xFF) << (8 * k);
  }
};
constexpr ExpandTable Expand8{};

inline void WriteTailGray8(uint8_t* row, int32_t full, const uint32_t* bits, int32_t n, uint8_t v) {
  if ((full << 5) < n)
    for (uint32_t w = bits[full]; w; w &= w - 1) row[(full << 5) + 31 - __builtin_ctz(w)] = v;
}

void WriteBitsGray8(C_ImgBuff* rec, int32_t x0, int32_t y, const uint32_t* bits, int32_t n,
                    uint8_t v) {
  uint8_t* row = RowPtr<uint8_t>(rec, x0, y);
  const int32_t full = n >> 5;
  const uint64_t v8 = uint64_t(v) * 0x0101010101010101ull;
  for (int32_t i = 0; i < full; ++i) {
    const uint32_t w = bits[i];
    if (!w) continue;
    uint8_t* p = row + (int64_t(i) << 5);
    for (int32_t k = 0; k < 4; ++k) {
      const uint64_t m = Expand8.bytes[(w >> (24 - 8 * k)) & 0xFF];
      uint64_t d;
      std::memcpy(&d, p + 8 * k, 8);
      d = (d & ~m) | (v8 & m);
      std::memcpy(p + 8 * k, &d, 8);
    }
  }
  WriteTailGray8(row, full, bits, n, v);
}

#if defined(__x86_64__) || defined(__i386__)
// 32 pixels from bit word w blended with `value` at p.  Pixels 0-7 come from the word's top
// byte, 8-15 from the next, and so on; within a byte the first pixel is the top bit.
__attribute__((target("avx2"))) inline void BlendWordAvx2(uint8_t* p, uint32_t w, __m256i value) {
  const __m256i spread = _mm256_setr_epi8(3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2,
                                          1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i select = _mm256_setr_epi8(char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1,
                                          char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1,
                                          char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1,
                                          char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1);
  const __m256i b = _mm256_shuffle_epi8(_mm256_set1_epi32(int32_t(w)), spread);
  const __m256i m = _mm256_cmpeq_epi8(_mm256_and_si256(b, select), select);
  __m256i* q = reinterpret_cast<__m256i*>(p);
  _mm256_storeu_si256(q, _mm256_blendv_epi8(_mm256_loadu_si256(q), value, m));
}

// Groups of four words (128 pixels) are skipped when none changes; inside a group every word
// is blended, changed or not, which costs less than a branch per word on ragged edges.
__attribute__((target("avx2"))) void WriteBitsGray8Avx2(C_ImgBuff* rec, int32_t x0, int32_t y,
                                                        const uint32_t* bits, int32_t n, uint8_t v) {
  uint8_t* row = RowPtr<uint8_t>(rec, x0, y);
  const int32_t full = n >> 5;
  const __m256i value = _mm256_set1_epi8(char(v));
  int32_t i = 0;
  for (; i + 4 <= full; i += 4) {
    if (!(bits[i] | bits[i + 1] | bits[i + 2] | bits[i + 3])) continue;
    for (int32_t k = 0; k < 4; ++k) BlendWordAvx2(row + (int64_t(i + k) << 5), bits[i + k], value);
  }
  for (; i < full; ++i) BlendWordAvx2(row + (int64_t(i) << 5), bits[i], value);
  WriteTailGray8(row, full, bits, n, v);
}
#endif

WriteBitsFn PickWriteGray8() {
#if defined(__x86_64__) || defined(__i386__)
  if (BitRowsAvx2()) return WriteBitsGray8Avx2;
#endif
  return WriteBitsGray8;
}

void WriteBitsAccessor(C_ImgBuff* rec, int32_t x0, int32_t y, const uint32_t* bits, int32_t n,
                       uint8_t v) {
  const int32_t words = (n + 31) >> 5;
  for (int32_t i = 0; i < words; ++i)
    for (uint32_t w = bits[i]; w; w &= w - 1) rec->SetGray8(x0 + (i << 5) + 31 - __builtin_ctz(w), y, v);
}

WriteBitsFn PickWriteBits(int32_t format) {
  if (!EngineTypedKernels()) return WriteBitsAccessor;
  switch (format) {
    case 1: return PickWriteGray8();
    case 2: return WriteBitsTyped<16, 1>;
    case 3: return WriteBitsTyped<32, 1>;
    case 4: return WriteBitsTyped<8, 3>;
    case 5: return WriteBitsTyped<16, 3>;
    case 6: return WriteBitsTyped<32, 3>;
    default: return WriteBitsAccessor;
  }
}

// Words per mask row, at most 1024 on the stack (32768 pixels), more from the heap.
struct RowBuffer {
  uint32_t local[1024];
  uint32_t* p;
  explicit RowBuffer(int32_t words) {
    p = words <= 1024 ? local : static_cast<uint32_t*>(std::calloc(size_t(words), 4));
    if (p == local) std::memset(local, 0, sizeof(local));
  }
  ~RowBuffer() {
    if (p != local) std::free(p);
  }
  RowBuffer(const RowBuffer&) = delete;
  RowBuffer& operator=(const RowBuffer&) = delete;
};

// ---- erosion, dilation and outline ---------------------------------------------------------

enum MorphKind { KindErode, KindDilate, KindOutline };

// One mask row's result from the rows above, at and below it.  The rows are padded: index -1
// and index `words` read 0, so the left and right neighbours of every word come from plain
// loads and the loop has no branch (it vectorises).  Erode: a = set pixels with a clear
// neighbour.  Dilate: a = clear pixels with a set neighbour (bits past the row's end are
// cleared by the caller).  Outline: a = interior pixels, b = the other set pixels.
// Full: all eight neighbours, else the four.
template <int Kind, int Full>
__attribute__((always_inline)) inline void MorphRowBody(
    const uint32_t* __restrict up, const uint32_t* __restrict mid, const uint32_t* __restrict dn,
    uint32_t* __restrict a, uint32_t* __restrict b, int32_t words) {
  for (int32_t i = 0; i < words; ++i) {
    const uint32_t c = mid[i];
    const uint32_t l = (c >> 1) | (mid[i - 1] << 31), r = (c << 1) | (mid[i + 1] >> 31);
    uint32_t ud = 0;
    if constexpr (Full) {
      const uint32_t u = up[i], d = dn[i];
      const uint32_t ul = (u >> 1) | (up[i - 1] << 31), ur = (u << 1) | (up[i + 1] >> 31);
      const uint32_t dl = (d >> 1) | (dn[i - 1] << 31), dr = (d << 1) | (dn[i + 1] >> 31);
      ud = Kind == KindDilate ? (ul | ur | dl | dr) : (ul & ur & dl & dr);
    }
    if constexpr (Kind == KindErode) {
      uint32_t all = l & r & up[i] & dn[i];
      if constexpr (Full) all &= ud;
      a[i] = c & ~all;
    } else if constexpr (Kind == KindDilate) {
      uint32_t any = l | r | up[i] | dn[i];
      if constexpr (Full) any |= ud;
      a[i] = ~c & any;
    } else {
      uint32_t interior = c & l & r & up[i] & dn[i];
      if constexpr (Full) interior &= ud;
      a[i] = interior;
      b[i] = c & ~interior;
    }
  }
}

typedef void (*MorphRowFn)(const uint32_t*, const uint32_t*, const uint32_t*, uint32_t*,
                           uint32_t*, int32_t);

// The same loop compiled twice; with AVX2 it handles eight words an instruction.
template <int Kind, int Full>
void MorphRowPlain(const uint32_t* up, const uint32_t* mid, const uint32_t* dn, uint32_t* a,
                   uint32_t* b, int32_t words) {
  MorphRowBody<Kind, Full>(up, mid, dn, a, b, words);
}

#if defined(__x86_64__) || defined(__i386__)
template <int Kind, int Full>
__attribute__((target("avx2"))) void MorphRowAvx2(const uint32_t* up, const uint32_t* mid,
                                                  const uint32_t* dn, uint32_t* a, uint32_t* b,
                                                  int32_t words) {
  MorphRowBody<Kind, Full>(up, mid, dn, a, b, words);
}
#endif

template <int Kind, int Full>
MorphRowFn MorphRowFor() {
#if defined(__x86_64__) || defined(__i386__)
  if (BitRowsAvx2()) return MorphRowAvx2<Kind, Full>;
#endif
  return MorphRowPlain<Kind, Full>;
}

MorphRowFn PickMorphRow(MorphKind kind, int32_t full) {
  switch (kind) {
    case KindErode: return full ? MorphRowFor<KindErode, 1>() : MorphRowFor<KindErode, 0>();
    case KindDilate: return full ? MorphRowFor<KindDilate, 1>() : MorphRowFor<KindDilate, 0>();
    default: return full ? MorphRowFor<KindOutline, 1>() : MorphRowFor<KindOutline, 0>();
  }
}

// The rectangle is cut into bands of rows, one pool item each.  A band keeps three padded
// mask rows and makes each from the picture (or copies it from the caller's mask) just
// before it is needed, so a pass reads the picture once and keeps no whole mask.
//
// Without a caller's mask the picture is both read and written, and a band reads one row
// past each of its ends.  The first and last row of a band are therefore not written during
// the job: their results wait in the band's scratch and are written after every band has
// finished, so no band ever reads a row its neighbour has already changed.  Interior rows
// are read only by their own band, before it writes them.
struct MorphJob {
  const BitMask* mask;  // the caller's object mask, or null: rows come from the picture
  C_ImgBuff* rec;
  RoiRect r;
  int32_t width, height, words;
  uint32_t background;
  int32_t typed;
  MorphRowFn kernel;
  WriteBitsFn write;
  uint8_t valueA, valueB;  // written at the a and b bits
  int32_t twoResults;      // outline writes b too
  int32_t dilate;          // a's bits past the row's end must be cleared
  int32_t bands;
  int32_t defer;       // bands hold back their end rows
  uint32_t* scratch;   // BandWords() words per band
};

inline int64_t PaddedWords(int32_t words) { return int64_t(words) + 2; }
// Three padded rows, the a and b results, and a and b for the two held-back rows.
inline int64_t BandWords(int32_t words) { return 3 * PaddedWords(words) + 6 * int64_t(words); }
inline int32_t BandStart(const MorphJob& job, int32_t band) {
  return int32_t(int64_t(job.height) * band / job.bands);
}
inline uint32_t* HeldRow(const MorphJob& job, int32_t band, int32_t which) {
  return job.scratch + int64_t(band) * BandWords(job.words) + 3 * PaddedWords(job.words) +
         (2 + 2 * which) * int64_t(job.words);
}

// Fills the padded row p (p[0] and p[words + 1] are the pads) with mask row y.
void LoadRow(const MorphJob& job, int32_t y, uint32_t* p) {
  uint32_t* row = p + 1;
  if (y < 0 || y >= job.height) std::memset(row, 0, size_t(job.words) * 4);
  else if (job.mask) std::memcpy(row, BitMaskRow(job.mask, y), size_t(job.words) * 4);
  else ImageRowToBits(job.rec, job.r.x0, job.r.y0 + y, job.width, job.background, job.typed, row);
}

void WriteResults(const MorphJob& job, int32_t y, const uint32_t* a, const uint32_t* b) {
  job.write(job.rec, job.r.x0, job.r.y0 + y, a, job.width, job.valueA);
  if (job.twoResults) job.write(job.rec, job.r.x0, job.r.y0 + y, b, job.width, job.valueB);
}

void MorphBand(const MorphJob& job, int32_t band) {
  const int32_t words = job.words, ys = BandStart(job, band), ye = BandStart(job, band + 1);
  if (ys >= ye) return;
  uint32_t* base = job.scratch + int64_t(band) * BandWords(words);
  uint32_t* ring[3] = {base, base + PaddedWords(words), base + 2 * PaddedWords(words)};
  uint32_t* a = base + 3 * PaddedWords(words);
  uint32_t* b = a + words;
  for (uint32_t* p : ring) p[0] = p[words + 1] = 0;
  LoadRow(job, ys - 1, ring[0]);
  LoadRow(job, ys, ring[1]);
  const uint32_t last = LastWordMask(job.width);
  const int32_t holdFirst = job.defer && band > 0;
  const int32_t holdLast = job.defer && band + 1 < job.bands;
  for (int32_t y = ys; y < ye; ++y) {
    LoadRow(job, y + 1, ring[2]);
    job.kernel(ring[0] + 1, ring[1] + 1, ring[2] + 1, a, b, words);
    if (job.dilate) a[words - 1] &= last;
    if ((y == ys && holdFirst) || (y == ye - 1 && holdLast)) {
      const int32_t which = y == ys && holdFirst ? 0 : 1;
      std::memcpy(HeldRow(job, band, which), a, size_t(words) * 4);
      if (job.twoResults) std::memcpy(HeldRow(job, band, which) + words, b, size_t(words) * 4);
    } else {
      WriteResults(job, y, a, b);
    }
    uint32_t* t = ring[0];
    ring[0] = ring[1];
    ring[1] = ring[2];
    ring[2] = t;
  }
}

void MorphBands(void* ctx, uint64_t first, uint64_t count) {
  const MorphJob& job = *static_cast<const MorphJob*>(ctx);
  for (uint64_t k = first; k < first + count; ++k) MorphBand(job, int32_t(k));
}

// 1, or 0 without memory for the bands' rows (picture unchanged).
int32_t RunMorph(const BitMask* mask, C_ImgBuff* rec, const RoiRect& r, int32_t conn8,
                 MorphKind kind, int32_t valueFlag) {
  MorphJob job{};
  job.mask = mask;
  job.rec = rec;
  job.r = r;
  job.width = int32_t(RoiWidth(r));
  job.height = int32_t(RoiHeight(r));
  // A row this wide has no word count in 32 bits (nor can a mask hold it).
  if (job.width > INT32_MAX - 31) return 0;
  job.words = (job.width + 31) >> 5;
  job.background = BinaryBackground(rec->format, valueFlag);
  job.typed = IsTypedFormat(rec->format) && EngineTypedKernels();
  // The outline's interior takes the other neighbourhood: the 4-neighbours for conn 8.
  job.kernel = PickMorphRow(kind, kind == KindOutline ? !conn8 : conn8);
  job.write = PickWriteBits(rec->format);
  job.valueA = kind == KindDilate ? BinaryObjectValue8(valueFlag) : BinaryEraseValue8(valueFlag);
  job.valueB = BinaryObjectValue8(valueFlag);
  job.twoResults = kind == KindOutline;
  job.dilate = kind == KindDilate;
  const int32_t bands = BitPassBands(job.width, job.height, BitPassCostOf(rec->format, job.typed));
  job.bands = bands;
  job.defer = !mask && bands > 1;
  const size_t scratchWords = size_t(bands) * size_t(BandWords(job.words));
  job.scratch = static_cast<uint32_t*>(std::malloc(scratchWords * 4));
  if (!job.scratch) return 0;
  if (bands > 1) ParallelFor(MorphBands, &job, uint64_t(bands));
  else MorphBand(job, 0);
  if (job.defer) {
    for (int32_t band = 0; band < job.bands; ++band) {
      const int32_t ys = BandStart(job, band), ye = BandStart(job, band + 1);
      if (ys >= ye) continue;
      if (band > 0) WriteResults(job, ys, HeldRow(job, band, 0), HeldRow(job, band, 0) + job.words);
      if (band + 1 < job.bands && (ye - 1 != ys || band == 0))
        WriteResults(job, ye - 1, HeldRow(job, band, 1), HeldRow(job, band, 1) + job.words);
    }
  }
  std::free(job.scratch);
  return 1;
}

// Checks a picture and a caller's rectangle already normalised.
int32_t RectInside(const CImgBuff* img, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!img || !img->record || !IsValidFormat(img->record->format) || !img->record->pixels) return 0;
  return x0 >= 0 && y0 >= 0 && x0 <= x1 && y0 <= y1 && x1 < img->record->width &&
         y1 < img->record->height;
}

// GetRoi, a picture with pixels, and the object mask of the rectangle.
BitMask* PrepareMask(CImgBuff* img, int32_t valueFlag, const RoiRect* roi, RoiRect* r) {
  if (!img || !img->record) return nullptr;
  if (!GetRoi(r, img, roi)) return nullptr;
  if (!RectInside(img, r->x0, r->y0, r->x1, r->y1)) return nullptr;
  return ImageRegionToBitMask(img, valueFlag, r->x0, r->y0, r->x1, r->y1);
}

}  // namespace

void ErodeStep(const BitMask* mask, CImgBuff* img, int32_t conn, int32_t valueFlag, int32_t x0,
               int32_t y0, int32_t x1, int32_t y1) {
  if (!mask || !RectInside(img, x0, y0, x1, y1)) return;
  if (mask->width != x1 - x0 + 1 || mask->height != y1 - y0 + 1) return;
  RunMorph(mask, img->record, RoiRect{x0, y0, x1, y1}, conn == 8, KindErode, valueFlag);
}

namespace {

// Dilation and outline make their mask rows from the picture inside the pass.
int32_t MorphPass(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi,
                  MorphKind kind) {
  if (conn != 4 && conn != 8) return 0;
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi) || !RectInside(img, r.x0, r.y0, r.x1, r.y1)) return 0;
  return RunMorph(nullptr, img->record, r, conn == 8, kind, valueFlag);
}

}  // namespace

int32_t DilateStep(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi) {
  return MorphPass(img, conn, valueFlag, roi, KindDilate);
}

int32_t ExtractOutline(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi) {
  return MorphPass(img, conn, valueFlag, roi, KindOutline);
}

// ---- hole filling --------------------------------------------------------------------------

int32_t FillHoles(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi) {
  if (conn != 4 && conn != 8) return 0;
  RoiRect r;
  BitMask* m = PrepareMask(img, valueFlag, roi, &r);
  if (!m) return 0;
  // Background becomes the set bits; fills from the border take what they reach out of it.
  const int32_t words = BitMaskStrideWords(m);
  const uint32_t last = LastWordMask(m->width);
  for (int32_t y = 0; y < m->height; ++y) {
    uint32_t* row = BitMaskRow(m, y);
    for (int32_t i = 0; i < words; ++i) row[i] = ~row[i];
    row[words - 1] &= last;
  }
  const int32_t bgConn8 = conn == 4;  // the background's connectivity is the other one
  ScratchArray<MaskRun> runs;
  MaskBox box;
  int32_t ok = 1;
  auto seed = [&](int32_t x, int32_t y) {
    if (!RowTest(BitMaskRow(m, y), x)) return;
    runs.Clear();
    // Without memory this border region stays unreached: it is left as it was rather than
    // filled, and the result reports the failure.
    if (!BitMaskTakeIsland(m, x, y, bgConn8, &runs, &box)) {
      ok = 0;
      for (size_t i = 0; i < runs.Size(); ++i) RowClearRange(BitMaskRow(m, runs[i].y), runs[i].x0, runs[i].x1);
    }
  };
  for (int32_t y = 0; y < m->height; ++y) {
    seed(0, y);
    seed(m->width - 1, y);
  }
  for (int32_t x = 0; x < m->width; ++x) {
    seed(x, 0);
    seed(x, m->height - 1);
  }
  if (ok) {
    const WriteBitsFn write = PickWriteBits(img->record->format);
    const uint8_t v = BinaryObjectValue8(valueFlag);
    for (int32_t y = 0; y < m->height; ++y)
      write(img->record, r.x0, r.y0 + y, BitMaskRow(m, y), m->width, v);
  }
  BitMaskDestroy(m);
  return ok;
}

// ---- thinning ------------------------------------------------------------------------------

namespace {

// One sub-iteration over bands of rows, as erosion does: each band keeps three padded copies
// of mask rows taken before it changes them, selects a row's deletions from the copies and
// applies them to the mask and the picture at once.  Other bands' rows are read only at a
// band's two ends, whose deletions are held back until every band has finished, so every
// selection sees the mask as it was before the sub-iteration.
struct ThinJob {
  BitMask* m;
  C_ImgBuff* rec;
  RoiRect r;
  int32_t words;
  int32_t side;  // sub-iteration: 0 up, 1 down, 2 left, 3 right
  uint8_t bit;   // its flag bit
  uint8_t erase;
  WriteBitsFn write;
  int32_t bands;
  uint32_t* scratch;  // ThinBandWords() per band
  std::atomic<int32_t>* changed;
  int32_t avx2;
  uint8_t codeBits[32];  // bit j of byte k: the flag bit is set for code 8k + j
  int32_t step;          // sub-iterations run so far, from 4 on
  int32_t* lastChange;   // per mask row: the step that last deleted pixels in it (0: none)
};

// Three padded rows, the deletions of a row and those of the two held-back rows.
inline int64_t ThinBandWords(int32_t words) { return 3 * PaddedWords(words) + 3 * int64_t(words); }
inline int32_t ThinBandStart(const ThinJob& job, int32_t band) {
  return int32_t(int64_t(job.m->height) * band / job.bands);
}

void CopyMaskRow(const BitMask* m, int32_t y, uint32_t* padded) {
  const size_t bytes = size_t(BitMaskStrideWords(m)) * 4;
  if (y < 0 || y >= m->height) std::memset(padded + 1, 0, bytes);
  else std::memcpy(padded + 1, BitMaskRow(m, y), bytes);
}

// Deletions of one row.  Every code flagged for a sub-iteration has the 4-neighbour on its
// side clear, so only the set pixels with that neighbour clear look their code up.
void ThinRowSelect(const uint32_t* up, const uint32_t* mid, const uint32_t* dn, uint32_t* del,
                   int32_t words, int32_t side, uint8_t bit) {
  for (int32_t i = 0; i < words; ++i) {
    const uint32_t c = mid[i];
    uint32_t out = 0;
    if (c) {
      const uint32_t u = up[i], d = dn[i];
      const uint32_t l = (c >> 1) | (mid[i - 1] << 31), r = (c << 1) | (mid[i + 1] >> 31);
      uint32_t cand = c & ~(side == 0 ? u : side == 1 ? d : side == 2 ? l : r);
      if (cand) {
        const uint32_t ul = (u >> 1) | (up[i - 1] << 31), ur = (u << 1) | (up[i + 1] >> 31);
        const uint32_t dl = (d >> 1) | (dn[i - 1] << 31), dr = (d << 1) | (dn[i + 1] >> 31);
        for (; cand; cand &= cand - 1) {
          const int32_t b = __builtin_ctz(cand);
          // Thinning code: up-left (bit 7), up, up-right, left, right, down-left, down,
          // down-right (bit 0).
          const uint32_t code = ((ul >> b) & 1u) << 7 | ((u >> b) & 1u) << 6 |
                                ((ur >> b) & 1u) << 5 | ((l >> b) & 1u) << 4 |
                                ((r >> b) & 1u) << 3 | ((dl >> b) & 1u) << 2 |
                                ((d >> b) & 1u) << 1 | ((dr >> b) & 1u);
          if (ThinningFlags[code] & bit) out |= 1u << b;
        }
      }
    }
    del[i] = out;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// The same decision for 32 pixels at once: the eight neighbour words become 32 code bytes
// (each word spread to one byte a pixel and weighted by its code bit), and each code byte
// looks its flag up in a 256-bit table: byte code >> 3 by two 16-entry shuffles, bit code & 7
// by a third.
__attribute__((target("avx2"))) inline __m256i SpreadBits(uint32_t w, uint8_t weight) {
  const __m256i spread = _mm256_setr_epi8(3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2,
                                          1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i select = _mm256_setr_epi8(char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1,
                                          char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1,
                                          char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1,
                                          char(0x80), 0x40, 0x20, 0x10, 8, 4, 2, 1);
  const __m256i b = _mm256_shuffle_epi8(_mm256_set1_epi32(int32_t(w)), spread);
  const __m256i on = _mm256_cmpeq_epi8(_mm256_and_si256(b, select), select);
  return _mm256_and_si256(on, _mm256_set1_epi8(char(weight)));
}

__attribute__((target("avx2"))) void ThinRowSelectAvx2(const uint32_t* up, const uint32_t* mid,
                                                       const uint32_t* dn, uint32_t* del,
                                                       int32_t words, int32_t side,
                                                       const uint8_t* codeBits) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codeBits));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codeBits + 16));
  const __m256i tableLo = _mm256_broadcastsi128_si256(lo), tableHi = _mm256_broadcastsi128_si256(hi);
  const __m256i pow2 = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, char(128), 0, 0, 0, 0, 0, 0, 0, 0,
                                        1, 2, 4, 8, 16, 32, 64, char(128), 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i rev = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                       15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m256i low4 = _mm256_set1_epi8(0x0F), seven = _mm256_set1_epi8(7);
  const __m256i sixteen = _mm256_set1_epi8(16), zero = _mm256_setzero_si256();
  for (int32_t i = 0; i < words; ++i) {
    const uint32_t c = mid[i];
    const uint32_t u = up[i], d = dn[i];
    const uint32_t l = (c >> 1) | (mid[i - 1] << 31), r = (c << 1) | (mid[i + 1] >> 31);
    const uint32_t cand = c & ~(side == 0 ? u : side == 1 ? d : side == 2 ? l : r);
    if (!cand) {
      del[i] = 0;
      continue;
    }
    const uint32_t ul = (u >> 1) | (up[i - 1] << 31), ur = (u << 1) | (up[i + 1] >> 31);
    const uint32_t dl = (d >> 1) | (dn[i - 1] << 31), dr = (d << 1) | (dn[i + 1] >> 31);
    __m256i code = _mm256_or_si256(SpreadBits(ul, 0x80), SpreadBits(u, 0x40));
    code = _mm256_or_si256(code, _mm256_or_si256(SpreadBits(ur, 0x20), SpreadBits(l, 0x10)));
    code = _mm256_or_si256(code, _mm256_or_si256(SpreadBits(r, 0x08), SpreadBits(dl, 0x04)));
    code = _mm256_or_si256(code, _mm256_or_si256(SpreadBits(d, 0x02), SpreadBits(dr, 0x01)));
    // Byte index code >> 3 (0..31): its low four bits pick within a half of the table, bit 4
    // picks the half.
    const __m256i index = _mm256_and_si256(_mm256_srli_epi16(code, 3), _mm256_set1_epi8(0x1F));
    const __m256i inLo = _mm256_shuffle_epi8(tableLo, _mm256_and_si256(index, low4));
    const __m256i inHi = _mm256_shuffle_epi8(tableHi, _mm256_and_si256(index, low4));
    const __m256i upper = _mm256_cmpeq_epi8(_mm256_and_si256(index, sixteen), sixteen);
    const __m256i entry = _mm256_blendv_epi8(inLo, inHi, upper);
    const __m256i bitOf = _mm256_shuffle_epi8(pow2, _mm256_and_si256(code, seven));
    const __m256i off = _mm256_cmpeq_epi8(_mm256_and_si256(entry, bitOf), zero);
    // Pixel j is byte j; the mask wants pixel 0 in bit 31.
    const __m256i flipped = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(off, rev), 0x4E);
    del[i] = cand & ~uint32_t(_mm256_movemask_epi8(flipped));
  }
}
#endif

void SelectRow(const ThinJob& job, const uint32_t* up, const uint32_t* mid, const uint32_t* dn,
               uint32_t* del) {
#if defined(__x86_64__) || defined(__i386__)
  if (job.avx2) {
    ThinRowSelectAvx2(up, mid, dn, del, job.words, job.side, job.codeBits);
    return;
  }
#endif
  ThinRowSelect(up, mid, dn, del, job.words, job.side, job.bit);
}

void ThinApplyRow(const ThinJob& job, int32_t y, const uint32_t* del) {
  uint32_t* mrow = BitMaskRow(job.m, y);
  uint32_t any = 0;
  for (int32_t i = 0; i < job.words; ++i) {
    mrow[i] &= ~del[i];
    any |= del[i];
  }
  if (any) {
    job.write(job.rec, job.r.x0, job.r.y0 + y, del, job.m->width, job.erase);
    job.changed->store(1, std::memory_order_relaxed);
    job.lastChange[y] = job.step;
  }
}

// A row's deletions depend only on its three rows.  When none of them has changed since the
// same sub-iteration of the previous pass, that one decided on the same rows and deleted
// nothing there (else the row would have changed), so this one would delete nothing either.
// The first pass looks at every row.  Rows of neighbouring bands read here are the held-back
// end rows, whose steps are only written after the job.
int32_t RowMayChange(const ThinJob& job, int32_t y) {
  if (job.step < 8) return 1;
  int32_t last = job.lastChange[y];
  if (y > 0 && job.lastChange[y - 1] > last) last = job.lastChange[y - 1];
  if (y + 1 < job.m->height && job.lastChange[y + 1] > last) last = job.lastChange[y + 1];
  return last >= job.step - 4;
}

void ThinBand(const ThinJob& job, int32_t band) {
  const int32_t words = job.words, ys = ThinBandStart(job, band), ye = ThinBandStart(job, band + 1);
  if (ys >= ye) return;
  uint32_t* base = job.scratch + int64_t(band) * ThinBandWords(words);
  uint32_t* ring[3] = {base, base + PaddedWords(words), base + 2 * PaddedWords(words)};
  uint32_t* del = base + 3 * PaddedWords(words);
  uint32_t* held[2] = {del + words, del + 2 * words};
  for (uint32_t* p : ring) p[0] = p[words + 1] = 0;
  CopyMaskRow(job.m, ys - 1, ring[0]);
  CopyMaskRow(job.m, ys, ring[1]);
  const int32_t holdFirst = band > 0, holdLast = band + 1 < job.bands;
  for (int32_t y = ys; y < ye; ++y) {
    CopyMaskRow(job.m, y + 1, ring[2]);
    uint32_t* out = y == ys && holdFirst ? held[0] : y == ye - 1 && holdLast ? held[1] : del;
    if (RowMayChange(job, y)) {
      SelectRow(job, ring[0] + 1, ring[1] + 1, ring[2] + 1, out);
      if (out == del) ThinApplyRow(job, y, del);
    } else if (out != del) {
      std::memset(out, 0, size_t(words) * 4);
    }
    uint32_t* t = ring[0];
    ring[0] = ring[1];
    ring[1] = ring[2];
    ring[2] = t;
  }
}

void ThinBands(void* ctx, uint64_t first, uint64_t count) {
  const ThinJob& job = *static_cast<const ThinJob*>(ctx);
  for (uint64_t k = first; k < first + count; ++k) ThinBand(job, int32_t(k));
}

}  // namespace

int32_t Thin(CImgBuff* img, int32_t conn, int32_t valueFlag, const RoiRect* roi) {
  if (conn != 4 && conn != 8) return 0;
  RoiRect r;
  BitMask* m = PrepareMask(img, valueFlag, roi, &r);
  if (!m) return 0;
  std::atomic<int32_t> changed{1};
  ThinJob job{};
  job.m = m;
  job.rec = img->record;
  job.r = r;
  job.words = BitMaskStrideWords(m);
  job.erase = BinaryEraseValue8(valueFlag);
  job.write = PickWriteBits(img->record->format);
  // A sub-iteration looks codes up pixel by pixel along every edge: worth the pool sooner
  // than a word-at-a-time pass, whatever the format.
  const int32_t typed = IsTypedFormat(img->record->format) && EngineTypedKernels();
  const BitPassCost cost = typed ? BitPassTyped : BitPassAccessor;
  const int32_t maxBands = BitPassBands(m->width, m->height, cost);
  job.changed = &changed;
  job.avx2 = BitRowsAvx2();
  job.step = 4;
  job.scratch = static_cast<uint32_t*>(
      std::malloc(size_t(maxBands) * size_t(ThinBandWords(job.words)) * 4));
  job.lastChange = static_cast<int32_t*>(std::calloc(size_t(m->height), sizeof(int32_t)));
  if (!job.scratch || !job.lastChange) {
    std::free(job.scratch);
    std::free(job.lastChange);
    BitMaskDestroy(m);
    return 0;
  }
  while (changed.load()) {
    changed.store(0);
    for (int32_t s = 0; s < 4; ++s) {
      job.side = s;
      job.bit = uint8_t(1 << (conn == 8 ? 4 + s : s));
      for (int32_t k = 0; k < 32; ++k) {
        uint8_t b = 0;
        for (int32_t j = 0; j < 8; ++j)
          if (ThinningFlags[8 * k + j] & job.bit) b |= uint8_t(1 << j);
        job.codeBits[k] = b;
      }
      // Later passes touch few rows: the pool only while there is work enough for it.
      job.bands = 1;
      if (maxBands > 1) {
        int32_t active = 0;
        for (int32_t y = 0; y < m->height; ++y) active += RowMayChange(job, y);
        job.bands = BitPassBands(m->width, active, cost);
        if (job.bands > maxBands) job.bands = maxBands;
      }
      if (job.bands > 1) ParallelFor(ThinBands, &job, uint64_t(job.bands));
      else ThinBand(job, 0);
      // The held-back end rows of the bands, now that no band reads them any more.
      for (int32_t band = 0; band < job.bands; ++band) {
        const int32_t ys = ThinBandStart(job, band), ye = ThinBandStart(job, band + 1);
        if (ys >= ye) continue;
        const uint32_t* held = job.scratch + int64_t(band) * ThinBandWords(job.words) +
                               3 * PaddedWords(job.words) + job.words;
        if (band > 0) ThinApplyRow(job, ys, held);
        if (band + 1 < job.bands && (ye - 1 != ys || band == 0)) ThinApplyRow(job, ye - 1, held + job.words);
      }
      ++job.step;
    }
  }
  std::free(job.scratch);
  std::free(job.lastChange);
  BitMaskDestroy(m);
  return 1;
}

// ---- exclusive dilation --------------------------------------------------------------------

int32_t DilateExclusive(CImgBuff* img, int32_t conn, int32_t valueFlag, int32_t x0, int32_t y0,
                        int32_t x1, int32_t y1) {
  if (!RectInside(img, x0, y0, x1, y1)) return 0;
  BitMask* m = ImageRegionToBitMask(img, valueFlag, x0, y0, x1, y1);
  if (!m) return 0;
  if (conn != 4 && conn != 8) {  // refused at the first island, as the fill would be
    int32_t any = 0;
    for (int32_t y = 0; y < m->height && !any; ++y) any = RowNextSet(BitMaskRow(m, y), 0, m->width - 1) >= 0;
    BitMaskDestroy(m);
    return any ? 0 : 1;
  }
  const int32_t conn8 = conn == 8;
  BitMask* u = BitMaskClone(m);          // objects and growth so far
  BitMask* is = BitMaskCreate(m->width, m->height);  // the island being grown
  const int32_t words = BitMaskStrideWords(m);
  RowBuffer zero(words);
  ScratchArray<MaskRun> runs;
  ScratchArray<uint32_t> grow;  // growth of the island's box, rows of the box's words
  const WriteBitsFn write = PickWriteBits(img->record->format);
  const uint8_t objectValue = BinaryObjectValue8(valueFlag);
  int32_t ok = u && is && zero.p;
  for (int32_t y = 0; ok && y < m->height; ++y) {
    for (int32_t x = RowNextSet(BitMaskRow(m, y), 0, m->width - 1); x >= 0;
         x = RowNextSet(BitMaskRow(m, y), x, m->width - 1)) {
      runs.Clear();
      MaskBox box;
      if (!BitMaskTakeIsland(m, x, y, conn8, &runs, &box)) {
        ok = 0;
        break;
      }
      for (size_t k = 0; k < runs.Size(); ++k) RowSetRange(BitMaskRow(is, runs[k].y), runs[k].x0, runs[k].x1);
      // The box widened by one pixel where the mask allows; whole words of it.
      const int32_t bx0 = box.x0 > 0 ? box.x0 - 1 : 0, by0 = box.y0 > 0 ? box.y0 - 1 : 0;
      const int32_t bx1 = box.x1 + 1 < m->width ? box.x1 + 1 : box.x1;
      const int32_t by1 = box.y1 + 1 < m->height ? box.y1 + 1 : box.y1;
      const int32_t w0 = bx0 >> 5, w1 = bx1 >> 5, span = w1 - w0 + 1;
      if (!grow.Reserve(size_t(span) * size_t(by1 - by0 + 1))) {
        ok = 0;
        break;
      }
      // Growth candidates: clear in the island with a neighbour in it; kept only without a
      // neighbour among the other objects and their growth (U without this island).  All
      // are decided before any is added, as from copies of the masks.
      for (int32_t yy = by0; yy <= by1; ++yy) {
        const RowTriple ri = Rows(is, yy, zero.p);
        const RowTriple ru = Rows(u, yy, zero.p);
        uint32_t* g = grow.Data() + size_t(yy - by0) * span;
        for (int32_t i = w0; i <= w1; ++i) {
          uint32_t cand = ~ri.mid[i] & AnySet(ri, i, words, conn8);
          // V = U & ~I on this row and its neighbours; neighbourhood of V.
          const uint32_t vUp[3] = {i > 0 ? ru.up[i - 1] & ~ri.up[i - 1] : 0u, ru.up[i] & ~ri.up[i],
                                   i + 1 < words ? ru.up[i + 1] & ~ri.up[i + 1] : 0u};
          const uint32_t vMid[3] = {i > 0 ? ru.mid[i - 1] & ~ri.mid[i - 1] : 0u, ru.mid[i] & ~ri.mid[i],
                                    i + 1 < words ? ru.mid[i + 1] & ~ri.mid[i + 1] : 0u};
          const uint32_t vDn[3] = {i > 0 ? ru.down[i - 1] & ~ri.down[i - 1] : 0u,
                                   ru.down[i] & ~ri.down[i],
                                   i + 1 < words ? ru.down[i + 1] & ~ri.down[i + 1] : 0u};
          auto left = [](const uint32_t* v) { return (v[1] >> 1) | (v[0] << 31); };
          auto right = [](const uint32_t* v) { return (v[1] << 1) | (v[2] >> 31); };
          uint32_t near = left(vMid) | right(vMid) | vUp[1] | vDn[1];
          if (conn8) near |= left(vUp) | right(vUp) | left(vDn) | right(vDn);
          cand &= ~near;
          // Only the widened box.
          if (i == w0) cand &= 0xFFFFFFFFu >> (bx0 & 31);
          if (i == w1) cand &= ~(0x7FFFFFFFu >> (bx1 & 31));
          g[i - w0] = cand;
        }
      }
      // Pixels from the box's first word to the mask's right edge, at most the box's words.
      const int32_t toEdge = m->width - (w0 << 5);
      const int32_t boxPixels = toEdge < (span << 5) ? toEdge : span << 5;
      for (int32_t yy = by0; yy <= by1; ++yy) {
        const uint32_t* g = grow.Data() + size_t(yy - by0) * span;
        uint32_t* urow = BitMaskRow(u, yy);
        uint32_t any = 0;
        for (int32_t i = 0; i < span; ++i) {
          urow[w0 + i] |= g[i];
          any |= g[i];
        }
        if (any) write(img->record, x0 + (w0 << 5), y0 + yy, g, boxPixels, objectValue);
        // Clear the island from I again: only its box was touched.
        RowClearRange(BitMaskRow(is, yy), bx0, bx1);
      }
    }
  }
  BitMaskDestroy(m);
  BitMaskDestroy(u);
  BitMaskDestroy(is);
  return ok;
}

// ---- whisker shaving -----------------------------------------------------------------------

namespace {

struct WhiskerEntry {
  uint32_t x, y, r, g, b;
};

struct Shaver {
  C_ImgBuff* w;  // the working picture
  uint32_t bg;
  int32_t conn8;
  int32_t Object(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= w->width || y >= w->height) return 0;
    uint32_t v;
    w->GetGray32(x, y, &v);
    return v != bg;
  }
  // Object neighbours by connectivity; 0 for a background pixel.
  int32_t Count(int32_t x, int32_t y) const {
    if (!Object(x, y)) return 0;
    static constexpr int32_t Dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    static constexpr int32_t Dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
    int32_t c = 0;
    for (int32_t d = 0; d < 8; d += conn8 ? 1 : 2) c += Object(x + Dx[d], y + Dy[d]);
    return c;
  }
};

void TraceWhisker(const Shaver& s, int32_t x, int32_t y, int32_t maxLength, WhiskerEntry* rec) {
  static constexpr int32_t Dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  static constexpr int32_t Dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  int32_t d = -1;
  for (int32_t k = 0; k < 8 && d < 0; ++k)
    if (s.Object(x + Dx[k], y + Dy[k])) d = k;
  int32_t n = 0;
  for (int32_t step = 0; step < maxLength; ++step) {
    const int32_t c = s.Count(x, y);
    if (c > 1) return;  // reached a junction: the whisker stays shaved
    if (c == 0) break;
    WhiskerEntry& e = rec[n++];
    e.x = uint32_t(x);
    e.y = uint32_t(y);
    s.w->GetRGB32(x, y, &e.r, &e.g, &e.b);
    s.w->SetGray32(x, y, s.bg);
    if (d >= 0 && s.Object(x + Dx[d], y + Dy[d])) {
      x += Dx[d];
      y += Dy[d];
      continue;
    }
    for (int32_t t = -3; t <= 3; ++t) {
      const int32_t nd = (d + t + 8) & 7;
      if (s.Object(x + Dx[nd], y + Dy[nd])) {
        d = nd;
        x += Dx[nd];
        y += Dy[nd];
        break;
      }
    }
  }
  for (int32_t i = 0; i < n; ++i) s.w->SetRGB32(int32_t(rec[i].x), int32_t(rec[i].y), rec[i].r, rec[i].g, rec[i].b);
}

}  // namespace

int32_t ShaveWhiskers(CImgBuff* img, int32_t maxLength, int32_t conn, int32_t valueFlag,
                      const RoiRect* roi) {
  if (conn != 4 && conn != 8) return 0;
  if (!img || !img->record || !IsValidFormat(img->record->format) || !img->record->pixels) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  CImgBuff work;
  if (!img->Crop(work, r.x0, r.y0, r.x1, r.y1)) return 0;
  // A whisker never has more pixels than the rectangle.
  const int64_t area = RoiWidth(r) * RoiHeight(r);
  const int32_t steps = maxLength < 0 ? 0 : int32_t(maxLength > area ? area : maxLength);
  WhiskerEntry local[256];
  WhiskerEntry* rec = local;
  if (steps + 1 > 256) {
    rec = static_cast<WhiskerEntry*>(std::malloc(size_t(steps + 1) * sizeof(WhiskerEntry)));
    if (!rec) return 0;
  }
  const Shaver s{work.record, valueFlag ? 4294967295u : 0u, conn == 8};
  const int32_t w = work.Width(), h = work.Height();
  int32_t px = 0, py = 0;
  for (;;) {
    // Next end point in raster order from the position: the rest of its row, then the rows
    // below.  One sweep: end points that shaving uncovers behind the position are not
    // revisited.
    int32_t fx = -1, fy = -1;
    for (int32_t y = py, x = px; y < h && fx < 0; ++y, x = 0) {
      for (; x < w; ++x) {
        if (s.Count(x, y) == 1) {
          fx = x;
          fy = y;
          break;
        }
      }
    }
    if (fx < 0) break;
    TraceWhisker(s, fx, fy, steps, rec);
    px = fx + 1;
    py = fy;
    if (px >= w) {
      px = 0;
      ++py;
    }
  }
  if (rec != local) std::free(rec);
  img->Paste(work, r.x0, r.y0);
  return 1;
}
