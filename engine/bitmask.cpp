// bitmask.cpp - bit masks, the run search over mask rows, picture-to-mask conversion and the
// general scanline seed fill.
// Inside: masks - row words - island runs - picture to mask - span queue - seed fill -
//         repaint predicates
#include "engine/bitmask.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/frame.h"
#include "engine/pixel.h"
#include "engine/simd.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

// ---- masks ---------------------------------------------------------------------------------

namespace {
// 2^34 bits (2 GiB of words) is far beyond any picture the image core can hold.
constexpr int64_t MaxMaskBits = int64_t(1) << 34;
}  // namespace

BitMask* BitMaskCreate(int32_t width, int32_t height) {
  // The padded row length must fit strideBits: the last 31 widths would round past it.
  if (width < 1 || height < 1 || width > INT32_MAX - 31) return nullptr;
  const int64_t stride = (int64_t(width) + 31) & ~int64_t(31);
  if (stride * height > MaxMaskBits) return nullptr;
  BitMask* m = static_cast<BitMask*>(std::malloc(sizeof(BitMask)));
  if (!m) return nullptr;
  m->bits = static_cast<uint32_t*>(std::calloc(size_t(stride / 32) * size_t(height), 4));
  if (!m->bits) {
    std::free(m);
    return nullptr;
  }
  m->width = width;
  m->height = height;
  m->strideBits = int32_t(stride);
  return m;
}

BitMask* BitMaskClone(const BitMask* mask) {
  if (!mask) return nullptr;
  BitMask* m = BitMaskCreate(mask->width, mask->height);
  if (!m) return nullptr;
  std::memcpy(m->bits, mask->bits, size_t(mask->strideBits / 32) * size_t(mask->height) * 4);
  return m;
}

void BitMaskDestroy(BitMask* mask) {
  if (!mask) return;
  std::free(mask->bits);
  std::free(mask);
}

int32_t BitMaskSetPixel(BitMask* mask, int32_t x, int32_t y, int32_t value) {
  if (!mask || x < 0 || y < 0 || x >= mask->width || y >= mask->height) return 0;
  uint32_t* row = BitMaskRow(mask, y);
  if (value) RowSet(row, x);
  else RowClear(row, x);
  return 1;
}

int32_t BitMaskGetPixel(const BitMask* mask, int32_t x, int32_t y) {
  if (!mask || x < 0 || y < 0 || x >= mask->width || y >= mask->height) return 0;
  return RowTest(BitMaskRow(mask, y), x);
}

void BitMaskClearAll(BitMask* mask) {
  if (!mask) return;
  std::memset(mask->bits, 0, size_t(mask->strideBits / 32) * size_t(mask->height) * 4);
}

// ---- row words -----------------------------------------------------------------------------

int32_t RowNextSet(const uint32_t* row, int32_t from, int32_t to) {
  if (from > to) return -1;
  int32_t wi = from >> 5;
  const int32_t last = to >> 5;
  uint32_t w = row[wi] & (0xFFFFFFFFu >> (from & 31));
  for (;;) {
    if (w) {
      const int32_t x = (wi << 5) + __builtin_clz(w);
      return x <= to ? x : -1;
    }
    if (++wi > last) return -1;
    w = row[wi];
  }
}

// Last set position of the run that holds the set bit x (padding bits are 0, so a run stops
// at the row's end).
int32_t RowRunEnd(const uint32_t* row, int32_t x, int32_t words) {
  int32_t wi = x >> 5;
  uint32_t w = ~row[wi] & (0xFFFFFFFFu >> (x & 31));
  for (;;) {
    if (w) return (wi << 5) + __builtin_clz(w) - 1;
    if (++wi >= words) return (words << 5) - 1;
    w = ~row[wi];
  }
}

// First position of the run that holds the set bit x.
int32_t RowRunStart(const uint32_t* row, int32_t x) {
  int32_t wi = x >> 5;
  uint32_t w = ~row[wi] & (0xFFFFFFFFu << (31 - (x & 31)));
  for (;;) {
    if (w) return (wi << 5) + 32 - __builtin_ctz(w);
    if (--wi < 0) return 0;
    w = ~row[wi];
  }
}

void RowSetRange(uint32_t* row, int32_t x0, int32_t x1) {
  const int32_t w0 = x0 >> 5, w1 = x1 >> 5;
  const uint32_t m0 = 0xFFFFFFFFu >> (x0 & 31);
  const uint32_t m1 = ~(0x7FFFFFFFu >> (x1 & 31));
  if (w0 == w1) {
    row[w0] |= m0 & m1;
    return;
  }
  row[w0] |= m0;
  for (int32_t i = w0 + 1; i < w1; ++i) row[i] = 0xFFFFFFFFu;
  row[w1] |= m1;
}

void RowClearRange(uint32_t* row, int32_t x0, int32_t x1) {
  const int32_t w0 = x0 >> 5, w1 = x1 >> 5;
  const uint32_t m0 = 0xFFFFFFFFu >> (x0 & 31);
  const uint32_t m1 = ~(0x7FFFFFFFu >> (x1 & 31));
  if (w0 == w1) {
    row[w0] &= ~(m0 & m1);
    return;
  }
  row[w0] &= ~m0;
  for (int32_t i = w0 + 1; i < w1; ++i) row[i] = 0;
  row[w1] &= ~m1;
}

// ---- island runs ---------------------------------------------------------------------------

int32_t BitMaskTakeIsland(BitMask* mask, int32_t x, int32_t y, int32_t conn8,
                          ScratchArray<MaskRun>* runs, MaskBox* box) {
  const int32_t words = BitMaskStrideWords(mask);
  const int32_t d = conn8 ? 1 : 0;
  uint32_t* row = BitMaskRow(mask, y);
  MaskRun first{y, RowRunStart(row, x), RowRunEnd(row, x, words)};
  RowClearRange(row, first.x0, first.x1);
  const size_t begin = runs->Size();
  if (!runs->Push(first)) return 0;
  *box = MaskBox{first.x0, y, first.x1, y};
  // The run list is its own work queue: every run taken is scanned once for runs touching it
  // in the rows above and below, which are taken out of the mask as they are found.
  for (size_t i = begin; i < runs->Size(); ++i) {
    const MaskRun r = (*runs)[i];
    if (r.x0 < box->x0) box->x0 = r.x0;
    if (r.x1 > box->x1) box->x1 = r.x1;
    if (r.y < box->y0) box->y0 = r.y;
    if (r.y > box->y1) box->y1 = r.y;
    const int32_t lo = r.x0 - d < 0 ? 0 : r.x0 - d;
    const int32_t hi = r.x1 + d >= mask->width ? mask->width - 1 : r.x1 + d;
    for (int32_t ny = r.y - 1; ny <= r.y + 1; ny += 2) {
      if (ny < 0 || ny >= mask->height) continue;
      uint32_t* nrow = BitMaskRow(mask, ny);
      int32_t p = RowNextSet(nrow, lo, hi);
      while (p >= 0) {
        MaskRun n{ny, RowRunStart(nrow, p), RowRunEnd(nrow, p, words)};
        RowClearRange(nrow, n.x0, n.x1);
        if (!runs->Push(n)) return 0;
        p = n.x1 + 2 <= hi ? RowNextSet(nrow, n.x1 + 2, hi) : -1;
      }
    }
  }
  return 1;
}

// ---- picture to mask -----------------------------------------------------------------------

namespace {

struct ToMaskJob {
  const C_ImgBuff* rec;
  BitMask* mask;
  RoiRect r;
  uint32_t background;
  int32_t typed;
  int32_t bands;
};

// Bit-reverses a word: the vector compare gives the first pixel in bit 0, the mask wants it
// in bit 31.
inline uint32_t Reverse32(uint32_t x) {
  x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
  x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
  x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
  return __builtin_bswap32(x);
}

}  // namespace

namespace {

// Gray 8 without AVX2: 32 pixels to a word by a byte compare.
void PackRowNotEqual8Base(const uint8_t* p, uint32_t* out, int32_t n, uint8_t bg) {
  int32_t x = 0;
#if defined(__SSE2__)
  const __m128i vbg = _mm_set1_epi8(char(bg));
  for (; x + 32 <= n; x += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x + 16));
    const uint32_t eq = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a, vbg))) |
                        (uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(b, vbg))) << 16);
    out[x >> 5] = Reverse32(~eq);
  }
#endif
  for (; x < n; x += 32) {
    const int32_t m = n - x < 32 ? n - x : 32;
    uint32_t w = 0;
    for (int32_t i = 0; i < m; ++i) w |= uint32_t(p[x + i] != bg) << (31 - i);
    out[x >> 5] = w;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// With AVX2 the 32 compare bytes are reversed in the register (a byte shuffle within each
// half, then the halves swapped), so the byte mask lands with the first pixel in bit 31 and
// no scalar bit reversal is needed.
__attribute__((target("avx2"))) void PackRowNotEqual8Avx2(const uint8_t* p, uint32_t* out,
                                                          int32_t n, uint8_t bg) {
  const __m256i vbg = _mm256_set1_epi8(char(bg));
  const __m256i rev = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                       15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  int32_t x = 0;
  for (; x + 32 <= n; x += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x));
    const __m256i eq = _mm256_cmpeq_epi8(a, vbg);
    const __m256i r = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(eq, rev), 0x4E);
    out[x >> 5] = ~uint32_t(_mm256_movemask_epi8(r));
  }
  if (x < n) PackRowNotEqual8Base(p + x, out + (x >> 5), n - x, bg);
}
#endif

std::atomic<int32_t> g_avx2Allowed{1};

}  // namespace

int32_t BitRowsAvx2() { return CpuHasAvx2() && g_avx2Allowed.load(std::memory_order_relaxed); }

void SetBitRowsAvx2(int32_t on) { g_avx2Allowed.store(on ? 1 : 0); }

void PackRowNotEqual8(const uint8_t* p, uint32_t* out, int32_t n, uint8_t bg) {
#if defined(__x86_64__) || defined(__i386__)
  if (BitRowsAvx2()) {
    PackRowNotEqual8Avx2(p, out, n, bg);
    return;
  }
#endif
  PackRowNotEqual8Base(p, out, n, bg);
}

namespace {

template <int NB, int CH>
void ToMaskRowTyped(const SampleType<NB>* p, uint32_t* out, int32_t n, uint32_t bg) {
  const SampleType<NB> b = SampleType<NB>(bg);
  for (int32_t x = 0; x < n; x += 32) {
    const int32_t m = n - x < 32 ? n - x : 32;
    uint32_t w = 0;
    const SampleType<NB>* q = p + int64_t(x) * CH;
    for (int32_t i = 0; i < m; ++i, q += CH) {
      uint32_t obj = q[0] != b;
      if constexpr (CH == 3) obj |= uint32_t(q[1] != b) | uint32_t(q[2] != b);
      w |= obj << (31 - i);
    }
    out[x >> 5] = w;
  }
}

// Formats 7 to 9 and the reference path: R, G, B (or the gray) through the accessors.
int32_t ObjectByAccessor(const C_ImgBuff* rec, int32_t x, int32_t y, uint32_t bg) {
  switch (GetFormatSlot(rec->format)) {
    case SlotGray8: {
      uint8_t v;
      rec->GetGray8(x, y, &v);
      return v != bg;
    }
    case SlotGray16: {
      uint16_t v;
      rec->GetGray16(x, y, &v);
      return v != bg;
    }
    case SlotGray32: {
      uint32_t v;
      rec->GetGray32(x, y, &v);
      return v != bg;
    }
    case SlotColour8: {
      uint8_t r, g, b;
      rec->GetRGB8(x, y, &r, &g, &b);
      return r != bg || g != bg || b != bg;
    }
    case SlotColour16: {
      uint16_t r, g, b;
      rec->GetRGB16(x, y, &r, &g, &b);
      return r != bg || g != bg || b != bg;
    }
    case SlotColour32: {
      uint32_t r, g, b;
      rec->GetRGB32(x, y, &r, &g, &b);
      return r != bg || g != bg || b != bg;
    }
    default: return 0;
  }
}

// Items are bands of rows.
void ToMaskBands(void* ctx, uint64_t first, uint64_t count) {
  const ToMaskJob& job = *static_cast<const ToMaskJob*>(ctx);
  const int64_t rows = RoiHeight(job.r);
  const int32_t yb = job.r.y0 + int32_t(rows * int64_t(first) / job.bands);
  const int32_t ye = job.r.y0 + int32_t(rows * int64_t(first + count) / job.bands);
  const int32_t n = int32_t(RoiWidth(job.r));
  for (int32_t y = yb; y < ye; ++y)
    ImageRowToBits(job.rec, job.r.x0, y, n, job.background, job.typed,
                   BitMaskRow(job.mask, y - job.r.y0));
}

// Pixels a pool item is worth, by cost class: a few hundred microseconds of work.
constexpr int64_t BandPixels[3] = {int64_t(1) << 14, int64_t(1) << 18, int64_t(1) << 22};
constexpr int64_t MinBandRows = 32;

}  // namespace

BitPassCost BitPassCostOf(int32_t format, int32_t typed) {
  if (!typed) return BitPassAccessor;
  return format == 1 ? BitPassGray8 : BitPassTyped;
}

int32_t BitPassBands(int64_t width, int64_t height, BitPassCost cost) {
  int64_t bands = width * height / BandPixels[cost];
  const int64_t workers = int64_t(ActiveWorkerCount());
  if (bands > workers) bands = workers;
  if (bands > height / MinBandRows) bands = height / MinBandRows;
  return bands < 1 ? 1 : int32_t(bands);
}

void ImageRowToBits(const C_ImgBuff* rec, int32_t x0, int32_t y, int32_t n, uint32_t background,
                    int32_t typed, uint32_t* out) {
  if (typed) {
    if (rec->format == 1) {
      PackRowNotEqual8(RowPtr<uint8_t>(rec, x0, y), out, n, uint8_t(background));
      return;
    }
    DispatchTyped(rec->format, [&]<int NB, int CH>() {
      ToMaskRowTyped<NB, CH>(RowPtr<SampleType<NB>>(rec, x0, y), out, n, background);
    });
    return;
  }
  std::memset(out, 0, size_t((n + 31) >> 5) * 4);
  for (int32_t i = 0; i < n; ++i)
    if (ObjectByAccessor(rec, x0 + i, y, background)) RowSet(out, i);
}

BitMask* ImageRegionToBitMask(const CImgBuff* img, int32_t invert, int32_t x0, int32_t y0,
                              int32_t x1, int32_t y1) {
  if (!img || !img->record) return nullptr;
  const C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return nullptr;
  if (x0 < 0 || y0 < 0 || x0 > x1 || y0 > y1 || x1 >= rec->width || y1 >= rec->height)
    return nullptr;
  BitMask* mask = BitMaskCreate(x1 - x0 + 1, y1 - y0 + 1);
  if (!mask) return nullptr;
  // Bands of rows may go to the pool: every mask row starts on a word of its own.
  const int32_t typed = IsTypedFormat(rec->format) && EngineTypedKernels();
  const int32_t bands = BitPassBands(int64_t(x1) - x0 + 1, int64_t(y1) - y0 + 1,
                                     BitPassCostOf(rec->format, typed));
  ToMaskJob job{rec, mask, RoiRect{x0, y0, x1, y1}, BinaryBackground(rec->format, invert), typed,
                bands};
  if (job.bands > 1) ParallelFor(ToMaskBands, &job, uint64_t(job.bands));
  else ToMaskBands(&job, 0, 1);
  return mask;
}

// ---- span queue ----------------------------------------------------------------------------

int32_t SpanQueueGrow(SpanQueue* q) {
  if (!q || q->capacity <= 0) return 0;
  if (q->capacity > q->limit / 2) return 0;
  const int32_t old = q->capacity;
  SeedSpan* e = static_cast<SeedSpan*>(std::realloc(q->entries, size_t(old) * 2 * sizeof(SeedSpan)));
  if (!e) return 0;
  q->entries = e;
  if (q->tail < q->head) {
    // The filled part wraps: its upper piece moves to the end of the larger block.
    std::memmove(e + q->head + old, e + q->head, size_t(old - q->head) * sizeof(SeedSpan));
    q->head += old;
  }
  q->capacity = old * 2;
  return 1;
}

void SpanQueuePickNarrowest(SpanQueue* q) {
  if (!q || q->capacity <= 0 || q->head == q->tail) return;
  int32_t best = q->head;
  int32_t bestWidth = q->entries[best].end - q->entries[best].start;
  for (int32_t i = q->head; i != q->tail; i = i + 1 == q->capacity ? 0 : i + 1) {
    const int32_t w = q->entries[i].end - q->entries[i].start;
    if (w < bestWidth) {
      best = i;
      bestWidth = w;
    }
  }
  if (best != q->head) {
    const SeedSpan t = q->entries[best];
    q->entries[best] = q->entries[q->head];
    q->entries[q->head] = t;
  }
}

static int32_t SpanQueuePush(SpanQueue* q, const SeedSpan& s) {
  if (q->capacity <= 0) return 0;
  const int32_t used = q->tail >= q->head ? q->tail - q->head : q->tail + q->capacity - q->head;
  if (used >= q->capacity - 1 && !SpanQueueGrow(q)) return 0;
  q->entries[q->tail] = s;
  q->tail = q->tail + 1 == q->capacity ? 0 : q->tail + 1;
  return 1;
}

// ---- seed fill -----------------------------------------------------------------------------

SeedFill* SeedFillCreate(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         SeedFillPredicate predicate, int32_t conn, void* user) {
  if (conn != 4 && conn != 8) return nullptr;
  if (x1 < x0 || y1 < y0) return nullptr;
  // The scans step up to three positions past the rectangle's far side and one before its
  // near side; those positions must still be numbers.
  if (x0 == INT32_MIN || y0 == INT32_MIN || x1 > INT32_MAX - 3 || y1 > INT32_MAX - 3)
    return nullptr;
  const int64_t w = int64_t(x1) - x0 + 1, h = int64_t(y1) - y0 + 1;
  if (w > INT32_MAX || h > INT32_MAX) return nullptr;
  SeedFill* f = static_cast<SeedFill*>(std::calloc(1, sizeof(SeedFill)));
  if (!f) return nullptr;
  f->x0 = x0;
  f->y0 = y0;
  f->x1 = x1;
  f->y1 = y1;
  f->columnSpans = w > h ? 1 : 0;
  f->conn8 = conn == 8;
  f->predicate = predicate;
  f->user = user;
  const int64_t shortSide = w > h ? h : w;
  const int64_t capacity = 2 * ((shortSide + 1) / 2) + 1;
  // Every queued span holds a pixel seen for the first time, so a fill never has more spans
  // queued than the rectangle has pixels; growth stops there instead of running away.
  const int64_t limit = w * h + 2;
  f->queue.limit = int32_t(limit > INT32_MAX / 2 ? INT32_MAX / 2 : limit);
  f->queue.capacity = int32_t(capacity);
  f->queue.entries = static_cast<SeedSpan*>(std::calloc(size_t(capacity), sizeof(SeedSpan)));
  f->visited = BitMaskCreate(int32_t(w), int32_t(h));
  if (!f->queue.entries || !f->visited) {
    SeedFillDestroy(f);
    return nullptr;
  }
  return f;
}

void SeedFillDestroy(SeedFill* fill) {
  if (!fill) return;
  std::free(fill->queue.entries);
  BitMaskDestroy(fill->visited);
  std::free(fill);
}

int32_t SeedFillScanSpan(SeedFill* f, int32_t x, int32_t y, int32_t* outStart,
                         int32_t* outEnd) {
  const int32_t col = f->columnSpans;
  int32_t start = col ? y : x, end = start;
  *outStart = start;
  *outEnd = end;
  if (x < f->x0 || x > f->x1 || y < f->y0 || y > f->y1) return 1;
  BitMask* v = f->visited;
  uint32_t* vrow = BitMaskRow(v, y - f->y0);
  if (RowTest(vrow, x - f->x0)) return 1;
  if (!f->predicate(x, y, f->user, v)) {
    RowSet(vrow, x - f->x0);
    return 1;
  }
  RowSet(vrow, x - f->x0);
  // The walk does not consult the visited bits: a pixel refused earlier is asked again.
  if (!col) {
    uint32_t* row = BitMaskRow(v, y - f->y0);
    for (int32_t p = x - 1; p >= f->x0; --p) {
      RowSet(row, p - f->x0);
      if (!f->predicate(p, y, f->user, v)) break;
      start = p;
    }
    for (int32_t p = x + 1; p <= f->x1; ++p) {
      RowSet(row, p - f->x0);
      if (!f->predicate(p, y, f->user, v)) break;
      end = p;
    }
  } else {
    for (int32_t p = y - 1; p >= f->y0; --p) {
      RowSet(BitMaskRow(v, p - f->y0), x - f->x0);
      if (!f->predicate(x, p, f->user, v)) break;
      start = p;
    }
    for (int32_t p = y + 1; p <= f->y1; ++p) {
      RowSet(BitMaskRow(v, p - f->y0), x - f->x0);
      if (!f->predicate(x, p, f->user, v)) break;
      end = p;
    }
  }
  *outStart = start;
  *outEnd = end;
  return SpanQueuePush(&f->queue, SeedSpan{start, end, col ? x : y});
}

int32_t SeedFillRun(SeedFill* f) {
  if (!f) return 0;
  SpanQueue* q = &f->queue;
  const int32_t d = f->conn8 ? 1 : 0;
  const int32_t col = f->columnSpans;
  const int32_t lineLo = col ? f->x0 : f->y0, lineHi = col ? f->x1 : f->y1;
  for (;;) {
    if (!f->conn8) SpanQueuePickNarrowest(q);
    if (q->capacity <= 0 || q->head == q->tail) return 1;
    const SeedSpan s = q->entries[q->head];
    q->head = q->head + 1 == q->capacity ? 0 : q->head + 1;
    for (int32_t line = s.line - 1; line <= s.line + 1; line += 2) {
      // A line outside the rectangle accepts nothing: skip the position-by-position scan.
      if (line < lineLo || line > lineHi) continue;
      int32_t p = s.start - d;
      while (p <= s.end + d) {
        int32_t a, b;
        if (!(col ? SeedFillScanSpan(f, line, p, &a, &b) : SeedFillScanSpan(f, p, line, &a, &b)))
          return 0;
        p = b + 1;
      }
    }
  }
}

int32_t SeedFillFrom(SeedFill* f, int32_t x, int32_t y) {
  if (!f || !f->visited) return 0;
  int32_t a, b;
  if (!SeedFillScanSpan(f, x, y, &a, &b)) return 0;
  return SeedFillRun(f);
}

// ---- repaint predicates --------------------------------------------------------------------

static int32_t FillTest(int32_t x, int32_t y, void* user, int32_t wantEqual) {
  FillRecord* r = static_cast<FillRecord*>(user);
  if (!r || !r->img || x < r->x0 || x > r->x1 || y < r->y0 || y > r->y1) return 0;
  uint8_t v = 0;
  // Outside the picture reads 0 (the checked accessor leaves the value untouched).
  r->img->GetGray8(x, y, &v);
  if ((v == r->oldValue) != (wantEqual != 0)) return 0;
  r->img->SetGray8(x, y, r->newValue);
  return 1;
}

int32_t FillIfEqual(int32_t x, int32_t y, void* user, BitMask*) { return FillTest(x, y, user, 1); }
int32_t FillIfNotEqual(int32_t x, int32_t y, void* user, BitMask*) {
  return FillTest(x, y, user, 0);
}
