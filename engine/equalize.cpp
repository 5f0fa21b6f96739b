// equalize.cpp - EqualizeHistogram: rank every pixel of a plane, hand out the levels from the
// brightest down in equal shares.
// The ranking is a sort on one composite key per pixel: (maximum - value) above (key range
// top - key), ascending, stable on the row-major index - exactly the order of the records'
// merge sort.  8-bit planes need 17 key bits: bands of rows count their keys side by side
// and keep each pixel's tie part, the counts give every (key, band) its first rank (a prefix
// cut into key ranges over the workers), and each band then hands its pixels the levels of
// their ranks in one raster pass, a running counter per key - the order is never stored.
// Deeper planes sort in 11-bit radix passes, skipping digits that every pixel shares.
// Inside: tie keys - ranking - level hand-out - planes - merge sort
#include "engine/equalize.h"

#include <cstdlib>
#include <cstring>

#include "engine/pixel.h"
#include "engine/thread_kept.h"

namespace {

// ---- tie keys ------------------------------------------------------------------------------

inline int32_t LimitKey(int64_t k) {
  if (k < -2147483647ll - 1) return -2147483647 - 1;
  if (k > 2147483647ll) return 2147483647;
  return int32_t(k);
}

// (sum of the neighbours - count x value) / count, truncated toward zero: the exact mean
// minus the value.
inline int32_t TieKey(uint64_t sum, int32_t count, uint32_t value) {
  if (count == 0) return LimitKey(-int64_t(value));
  return LimitKey((int64_t(sum) - int64_t(count) * int64_t(value)) / count);
}

}  // namespace

int32_t NeighbourMean(const CImgBuff* plane, int32_t w, int32_t h, uint32_t value, int32_t x,
                      int32_t y) {
  uint64_t sum = 0;
  int32_t count = 0;
  if (plane && plane->record && plane->Pixels()) {
    const int32_t bits = FormatClassBits(plane->Format());
    for (int32_t dy = -1; dy <= 1; ++dy) {
      for (int32_t dx = -1; dx <= 1; ++dx) {
        const int32_t u = x + dx, v = y + dy;
        if ((dx == 0 && dy == 0) || u < 0 || v < 0 || u >= w || v >= h) continue;
        if (u >= plane->Width() || v >= plane->Height()) continue;
        if (bits == 8) { uint8_t s; plane->GetGray8(u, v, &s); sum += s; }
        else if (bits == 16) { uint16_t s; plane->GetGray16(u, v, &s); sum += s; }
        else { uint32_t s; plane->GetGray32(u, v, &s); sum += s; }
        ++count;
      }
    }
  }
  return TieKey(sum, count, value);
}

namespace {

// ---- ranking -------------------------------------------------------------------------------

struct KeyJob {
  const C_ImgBuff* plane;
  int32_t w, h;
  int32_t bits, keyBits;
  uint64_t* keys;
};

// Keys of the pixels 1 .. w - 2 of a row with rows above and below: eight neighbours each,
// so (sum - 8 value) / 8 in 32 bits (8- and 16-bit samples cannot reach the limits), a
// constant division the compiler does with shifts, in vector code.
template <class T, class K>
void InnerKeysT(const T* __restrict up, const T* __restrict mid, const T* __restrict dn,
                K* __restrict out, int32_t w, int32_t keyBits, int32_t maxv) {
  for (int32_t x = 1; x + 1 < w; ++x) {
    const int32_t v = mid[x];
    const int32_t sum = int32_t(up[x - 1]) + up[x] + up[x + 1] + mid[x - 1] + mid[x + 1] + dn[x - 1] + dn[x] + dn[x + 1];
    const int32_t key = (sum - 8 * v) / 8;
    out[x] = (K(uint32_t(maxv - v)) << keyBits) | K(uint32_t(maxv - key));
  }
}

// Composite keys of one row: value descending above tie key descending, both as ascending
// unsigned fields.  up or dn null: no row there.  Into out, or out32 when out is null.
template <class T>
void KeyRowT(const T* up, const T* mid, const T* dn, int32_t w, int32_t bits, int32_t keyBits, uint64_t* out,
             uint32_t* out32) {
  const uint64_t maxv = bits == 32 ? 0xFFFFFFFFull : (uint64_t(1) << bits) - 1;
  const int64_t keyTop = bits == 32 ? 2147483647ll : int64_t(maxv);
  {
    const int32_t rowsAround = (up ? 1 : 0) + (dn ? 1 : 0);
    const bool inner = sizeof(T) < 4 && up && dn && w > 2;
    if (inner) {
      if (!out) InnerKeysT<T, uint32_t>(up, mid, dn, out32, w, keyBits, int32_t(maxv));
      else InnerKeysT<T, uint64_t>(up, mid, dn, out, w, keyBits, int32_t(maxv));
    }
    for (int32_t x = 0; x < w; ++x) {
      if (inner && x == 1) x = w - 1;
      uint64_t sum = 0;
      int32_t count = 0;
      const int32_t u0 = x > 0 ? x - 1 : 0, u1 = x + 1 < w ? x + 1 : w - 1;
      for (int32_t u = u0; u <= u1; ++u) {
        if (up) sum += up[u];
        if (dn) sum += dn[u];
        if (u != x) sum += mid[u];
      }
      count = (u1 - u0 + 1) * (rowsAround + 1) - 1;
      const uint32_t v = mid[x];
      const int64_t key = TieKey(sum, count, v);
      const uint64_t composite = ((maxv - v) << keyBits) | uint64_t(keyTop - key);
      if (out) out[x] = composite;
      else out32[x] = uint32_t(composite);
    }
  }
}

template <class T>
void KeyRowsT(const KeyJob& job, int32_t yb, int32_t ye) {
  for (int32_t y = yb; y < ye; ++y) {
    const T* up = y > 0 ? RowPtr<const T>(job.plane, 0, y - 1) : nullptr;
    const T* dn = y + 1 < job.h ? RowPtr<const T>(job.plane, 0, y + 1) : nullptr;
    KeyRowT<T>(up, RowPtr<const T>(job.plane, 0, y), dn, job.w, job.bits, job.keyBits,
               job.keys + int64_t(y) * job.w, nullptr);
  }
}

void KeyRows(void* ctx, uint64_t first, uint64_t count) {
  const KeyJob& job = *static_cast<const KeyJob*>(ctx);
  const int32_t yb = int32_t(first), ye = int32_t(first + count);
  if (job.bits == 8) KeyRowsT<uint8_t>(job, yb, ye);
  else if (job.bits == 16) KeyRowsT<uint16_t>(job, yb, ye);
  else KeyRowsT<uint32_t>(job, yb, ye);
}

// Stable ascending order of keys[0..n) as indices into order[], in 11-bit radix passes.
// 0 when memory is short.
int32_t RankKeys(const uint64_t* keys, uint32_t n, int32_t totalBits, uint32_t* order) {
  constexpr int32_t D = 11;
  constexpr uint32_t B = 1u << D;
  uint64_t* k2 = static_cast<uint64_t*>(std::malloc(size_t(n) * 2 * sizeof(uint64_t)));
  uint32_t* o2 = static_cast<uint32_t*>(std::malloc(size_t(n) * sizeof(uint32_t)));
  uint32_t* count = static_cast<uint32_t*>(std::malloc(B * sizeof(uint32_t)));
  if (!k2 || !o2 || !count) {
    std::free(k2);
    std::free(o2);
    std::free(count);
    return 0;
  }
  uint64_t* ka = k2;
  uint64_t* kb = k2 + n;
  std::memcpy(ka, keys, size_t(n) * sizeof(uint64_t));
  uint32_t* oa = order;
  uint32_t* ob = o2;
  for (uint32_t i = 0; i < n; ++i) oa[i] = i;
  for (int32_t shift = 0; shift < totalBits; shift += D) {
    std::memset(count, 0, B * sizeof(uint32_t));
    for (uint32_t i = 0; i < n; ++i) ++count[(ka[i] >> shift) & (B - 1)];
    if (count[(ka[0] >> shift) & (B - 1)] == n) continue;  // every key shares this digit
    uint32_t run = 0;
    for (uint32_t b = 0; b < B; ++b) {
      const uint32_t c = count[b];
      count[b] = run;
      run += c;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t p = count[(ka[i] >> shift) & (B - 1)]++;
      kb[p] = ka[i];
      ob[p] = oa[i];
    }
    uint64_t* kt = ka; ka = kb; kb = kt;
    uint32_t* ot = oa; oa = ob; ob = ot;
  }
  if (oa != order) std::memcpy(order, oa, size_t(n) * sizeof(uint32_t));
  std::free(k2);
  std::free(o2);
  std::free(count);
  return 1;
}

// ---- level hand-out ------------------------------------------------------------------------

// The level of every rank, brightest first: px[order[i]] for the pixel of rank i.  With
// order null, px[i] itself (the level table of the banded hand-out).
template <class T>
void HandOut(T* px, const uint32_t* order, uint32_t n, int32_t bits) {
  const uint64_t levels = uint64_t(1) << bits;
  if (bits < 32 && n >= levels) {
    // Equal shares: n / levels per level with the fraction carried; the fractions are
    // multiples of 1 / levels, so counting in those units is exact.
    uint64_t acc = 0, i = 0;
    for (int64_t level = int64_t(levels) - 1; level >= 0; --level) {
      acc += n;
      const uint64_t give = acc / levels;
      acc %= levels;
      for (uint64_t g = 0; g < give; ++g) px[order ? order[i++] : i++] = T(level);
    }
    return;
  }
  // Spread: the step and its carried fraction are doubles, as the rule has them.
  const double step = double(levels) / double(n);
  int64_t level = int64_t(levels) - 1;
  double frac = 0.0;
  uint32_t i = 0;
  for (; i < n; ++i) {
    px[order ? order[i] : i] = T(level);
    frac += step;
    const int64_t whole = int64_t(frac);
    frac -= double(whole);
    if (level - whole < 0) {
      ++i;
      break;
    }
    level -= whole;
  }
  for (; i < n; ++i) px[order ? order[i] : i] = 0;  // left without a level by rounding
}

// ---- banded ranking of 8-bit planes --------------------------------------------------------
// One key pass: a band makes each row's keys, counts them in its own table and keeps each
// pixel's tie part (9 bits, in 16) for the hand-out, where the value part comes from the
// pixel itself, read just before its level overwrites it.  The tables, the tie plane and
// the row buffers stay with the calling thread from one call to the next (a 1080p frame
// would otherwise fault in 8 MB of fresh pages per call).

constexpr uint32_t kKeys8 = 1u << 17;  // 8 value bits above 9 tie-key bits
// Key ranges the prefix over all bands' tables is cut into, per band.
constexpr uint32_t kPrefixSegmentsPerBand = 4;

struct CountTablesTag;
struct TiePlaneTag;

// Level of each rank under equal shares (n >= 256): bucket p >> shift, level top or top - 1.
struct EqualShares {
  uint32_t shift;
  uint8_t top[512];
  uint32_t cut[512];  // first rank of the bucket with level top - 1; all ones when none
};

struct BandJob {
  uint8_t* px;
  const EqualShares* shares;
  const uint8_t* levelOfRank;  // the spread of fewer pixels than levels; null for equal shares
  uint32_t* counts;            // [band][key]: first counts, then each band's next rank per key
  uint16_t* ties;              // w x h: each pixel's tie-key part
  uint32_t* keyRows;           // per band: keys of one row (w words, from a 64-byte line)
  uint64_t* segmentBase;       // per key range of the prefix: its total, then its first rank
  int32_t w, h;
  uint32_t bands, segments;
};

inline int32_t BandRow(const BandJob& j, uint32_t b) { return int32_t(uint64_t(j.h) * b / j.bands); }
inline uint64_t KeyRowStride(int32_t w) { return (uint64_t(w) + 15) / 16 * 16; }
inline uint32_t SegmentKey(const BandJob& j, uint32_t s) { return uint32_t(uint64_t(kKeys8) * s / j.segments); }

void CountBands(void* ctx, uint64_t first, uint64_t count) {
  const BandJob& j = *static_cast<const BandJob*>(ctx);
  // Locals: the byte and 16-bit stores below could alias the job as far as the compiler
  // knows, and it would read the width again for every pixel.
  const int32_t w = j.w, h = j.h;
  for (uint32_t b = uint32_t(first); b < uint32_t(first + count); ++b) {
    uint32_t* __restrict c = j.counts + uint64_t(b) * kKeys8;
    // The table is cleared by the band that fills it: the clearing is spread over the
    // workers, and the table is in this worker's cache for the counting.
    std::memset(c, 0, kKeys8 * sizeof(uint32_t));
    uint32_t* __restrict keys = j.keyRows + uint64_t(b) * KeyRowStride(w);
    for (int32_t y = BandRow(j, b); y < BandRow(j, b + 1); ++y) {
      const uint8_t* row = j.px + int64_t(y) * w;
      uint16_t* __restrict tie = j.ties + int64_t(y) * w;
      KeyRowT<uint8_t>(y > 0 ? row - w : nullptr, row, y + 1 < h ? row + w : nullptr, w, 8, 9, nullptr, keys);
      for (int32_t x = 0; x < w; ++x) {
        ++c[keys[x]];
        tie[x] = uint16_t(keys[x] & 0x1FF);
      }
    }
  }
}

// Ranks in key order, and within a key band by band, as the row-major order has them: the
// prefix runs over (key, band).  Cut by key ranges: first each range's total, then, from the
// totals before it, each range's own running ranks.
void SumSegments(void* ctx, uint64_t first, uint64_t count) {
  const BandJob& j = *static_cast<const BandJob*>(ctx);
  for (uint32_t s = uint32_t(first); s < uint32_t(first + count); ++s) {
    uint64_t total = 0;
    for (uint32_t b = 0; b < j.bands; ++b) {
      const uint32_t* c = j.counts + uint64_t(b) * kKeys8;
      for (uint32_t k = SegmentKey(j, s); k < SegmentKey(j, s + 1); ++k) total += c[k];
    }
    j.segmentBase[s] = total;
  }
}

void RankSegments(void* ctx, uint64_t first, uint64_t count) {
  const BandJob& j = *static_cast<const BandJob*>(ctx);
  for (uint32_t s = uint32_t(first); s < uint32_t(first + count); ++s) {
    uint32_t run = uint32_t(j.segmentBase[s]);
    for (uint32_t k = SegmentKey(j, s); k < SegmentKey(j, s + 1); ++k) {
      for (uint32_t b = 0; b < j.bands; ++b) {
        uint32_t& c = j.counts[uint64_t(b) * kKeys8 + k];
        const uint32_t here = c;
        c = run;
        run += here;
      }
    }
  }
}

void HandOutBands(void* ctx, uint64_t first, uint64_t count) {
  const BandJob& j = *static_cast<const BandJob*>(ctx);
  const int32_t w = j.w;  // locals, as in CountBands
  const uint8_t* __restrict levelOfRank = j.levelOfRank;
  const uint8_t* __restrict top = j.shares->top;
  const uint32_t* __restrict cut = j.shares->cut;
  const uint32_t shift = j.shares->shift;
  for (uint32_t b = uint32_t(first); b < uint32_t(first + count); ++b) {
    uint32_t* __restrict next = j.counts + uint64_t(b) * kKeys8;
    for (int32_t y = BandRow(j, b); y < BandRow(j, b + 1); ++y) {
      uint8_t* __restrict row = j.px + int64_t(y) * w;
      const uint16_t* __restrict tie = j.ties + int64_t(y) * w;
      if (levelOfRank) {
        for (int32_t x = 0; x < w; ++x) row[x] = levelOfRank[next[(uint32_t(255 - row[x]) << 9) | tie[x]]++];
      } else {
        for (int32_t x = 0; x < w; ++x) {
          const uint32_t p = next[(uint32_t(255 - row[x]) << 9) | tie[x]]++;
          const uint32_t bucket = p >> shift;
          row[x] = uint8_t(top[bucket] - (p >= cut[bucket] ? 1 : 0));
        }
      }
    }
  }
}

// Equal shares give the first floor(t n / 256) ranks to the top t levels, so rank p has
// level 256 - ceil((p + 1) 256 / n).
inline uint32_t EqualShareLevel(uint64_t p, uint64_t n) { return uint32_t(256 - ((p + 1) * 256 + n - 1) / n); }

// Each level of equal shares spans at least floor(n / 256) ranks, so buckets of ranks no
// longer than that hold at most one step down: per bucket, the level at its start and the
// first rank of the next level, found once per call, replace a division per pixel.
void MakeEqualShares(EqualShares* t, uint32_t n) {
  uint32_t shift = 0;
  while ((uint64_t(2) << shift) <= n / 256) ++shift;
  t->shift = shift;
  const uint64_t size = uint64_t(1) << shift;
  for (uint64_t b = 0; b * size < n; ++b) {
    const uint64_t lo = b * size, hi = (lo + size < n ? lo + size : n);
    const uint32_t top = EqualShareLevel(lo, n);
    uint64_t a = lo, z = hi;  // first rank below top in [lo, hi), or hi
    while (a < z) {
      const uint64_t m = a + (z - a) / 2;
      if (EqualShareLevel(m, n) < top) z = m;
      else a = m + 1;
    }
    t->top[b] = uint8_t(top);
    t->cut[b] = a < hi ? uint32_t(a) : 0xFFFFFFFFu;
  }
}

// Equalises an 8-bit plane; 0 when memory is short (plane unchanged).
int32_t EqualizeBands8(uint8_t* px, int32_t w, int32_t h) {
  const uint32_t n = uint32_t(w) * uint32_t(h);
  // The bands only share out the work: the ranks, and so the result, are the same for any
  // number of them.  One per worker, since each has a count table of its own.
  uint64_t workers = ActiveWorkerCount();
  uint32_t bands = uint32_t(workers < 8 ? workers : 8);
  if (bands > uint32_t(h)) bands = uint32_t(h);
  if (bands < 1) bands = 1;
  const bool pool = int64_t(w) * h >= ParallelPixelThreshold;
  if (!pool) bands = 1;
  const uint32_t segments = bands * kPrefixSegmentsPerBand;
  KeptBlock<CountTablesTag> tables;
  KeptBlock<TiePlaneTag> tiePlane;
  const size_t countBytes = size_t(bands) * kKeys8 * sizeof(uint32_t);
  const size_t rowBytes = size_t(bands) * KeyRowStride(w) * sizeof(uint32_t);
  const size_t segmentBytes = size_t(segments) * sizeof(uint64_t);
  uint8_t* block = static_cast<uint8_t*>(tables.Take(countBytes + rowBytes + segmentBytes));
  uint16_t* ties = static_cast<uint16_t*>(tiePlane.Take(size_t(n) * sizeof(uint16_t)));
  if (!block || !ties) return 0;
  uint8_t levelOfRank[256];
  EqualShares shares;
  shares.shift = 0;  // read by the hand-out even where the spread table serves
  if (n < 256) HandOut<uint8_t>(levelOfRank, nullptr, n, 8);
  else MakeEqualShares(&shares, n);
  BandJob job{px,
              &shares,
              n < 256 ? levelOfRank : nullptr,
              reinterpret_cast<uint32_t*>(block),
              ties,
              reinterpret_cast<uint32_t*>(block + countBytes),
              reinterpret_cast<uint64_t*>(block + countBytes + rowBytes),
              w,
              h,
              bands,
              segments};
  if (pool) ParallelFor(CountBands, &job, bands);
  else CountBands(&job, 0, bands);
  if (pool && bands > 1) {
    ParallelFor(SumSegments, &job, segments);
    uint64_t run = 0;
    for (uint32_t s = 0; s < segments; ++s) {
      const uint64_t here = job.segmentBase[s];
      job.segmentBase[s] = run;
      run += here;
    }
    ParallelFor(RankSegments, &job, segments);
  } else {
    job.segments = 1;
    job.segmentBase[0] = 0;
    RankSegments(&job, 0, 1);
  }
  if (pool) ParallelFor(HandOutBands, &job, bands);
  else HandOutBands(&job, 0, bands);
  return 1;
}

}  // namespace

// ---- planes --------------------------------------------------------------------------------

int32_t EqualizeGrayPlane(CImgBuff* plane, int32_t w, int32_t h) {
  if (!plane || !plane->record || !plane->Pixels() || !IsGrayFormat(plane->Format())) return 0;
  if (w < 1 || h < 1 || w > 65536 || h > 65536 || w != plane->Width() || h != plane->Height())
    return 0;
  // The ranking counts and indexes pixels in 32 bits: 65536 x 65536 would wrap to 0.
  if (uint64_t(w) * uint64_t(h) > 0xFFFFFFFFull) return 0;
  const uint32_t n = uint32_t(w) * uint32_t(h);
  const int32_t bits = FormatClassBits(plane->Format());
  const int32_t keyBits = bits == 32 ? 32 : bits + 1;
  if (bits == 8) return EqualizeBands8(static_cast<uint8_t*>(plane->Pixels()), w, h);
  uint64_t* keys = static_cast<uint64_t*>(std::malloc(size_t(n) * sizeof(uint64_t)));
  uint32_t* order = static_cast<uint32_t*>(std::malloc(size_t(n) * sizeof(uint32_t)));
  if (!keys || !order) {
    std::free(keys);
    std::free(order);
    return 0;
  }
  KeyJob job{plane->record, w, h, bits, keyBits, keys};
  RunRows(KeyRows, &job, RoiRect{0, 0, w - 1, h - 1});
  const int32_t ok = RankKeys(keys, n, bits + keyBits, order);
  std::free(keys);
  if (ok) {
    if (bits == 16) HandOut<uint16_t>(static_cast<uint16_t*>(plane->Pixels()), order, n, 16);
    else HandOut<uint32_t>(static_cast<uint32_t*>(plane->Pixels()), order, n, 32);
  }
  std::free(order);
  return ok;
}

namespace {

struct ChannelJob {
  C_ImgBuff* crop;
  C_ImgBuff* plane;
  int32_t w, channel, bits;
  int32_t typed;  // formats 4..6: the channel is the stored sample
};

template <class T>
inline uint32_t GetChannel(const C_ImgBuff* c, int32_t x, int32_t y, int32_t ch, int32_t bits) {
  uint32_t v[3];
  if (bits == 8) { uint8_t r, g, b; c->GetRGB8(x, y, &r, &g, &b); v[0] = r; v[1] = g; v[2] = b; }
  else if (bits == 16) { uint16_t r, g, b; c->GetRGB16(x, y, &r, &g, &b); v[0] = r; v[1] = g; v[2] = b; }
  else c->GetRGB32(x, y, &v[0], &v[1], &v[2]);
  return v[ch];
}

void ExtractChannelRows(void* ctx, uint64_t first, uint64_t count) {
  const ChannelJob& j = *static_cast<const ChannelJob*>(ctx);
  for (int32_t y = int32_t(first); y < int32_t(first + count); ++y) {
    for (int32_t x = 0; x < j.w; ++x) {
      const int64_t i = int64_t(y) * j.w + x;
      if (j.bits == 8) {
        static_cast<uint8_t*>(j.plane->pixels)[i] =
            j.typed ? RowPtr<uint8_t>(j.crop, x, y)[j.channel] : uint8_t(GetChannel<uint8_t>(j.crop, x, y, j.channel, 8));
      } else if (j.bits == 16) {
        static_cast<uint16_t*>(j.plane->pixels)[i] =
            j.typed ? RowPtr<uint16_t>(j.crop, x, y)[j.channel] : uint16_t(GetChannel<uint16_t>(j.crop, x, y, j.channel, 16));
      } else {
        static_cast<uint32_t*>(j.plane->pixels)[i] =
            j.typed ? RowPtr<uint32_t>(j.crop, x, y)[j.channel] : GetChannel<uint32_t>(j.crop, x, y, j.channel, 32);
      }
    }
  }
}

// The channel replaced and the pixel stored back with the R, G, B setter of the class depth.
void StoreChannelRows(void* ctx, uint64_t first, uint64_t count) {
  const ChannelJob& j = *static_cast<const ChannelJob*>(ctx);
  for (int32_t y = int32_t(first); y < int32_t(first + count); ++y) {
    for (int32_t x = 0; x < j.w; ++x) {
      const int64_t i = int64_t(y) * j.w + x;
      if (j.typed) {
        if (j.bits == 8) RowPtr<uint8_t>(j.crop, x, y)[j.channel] = static_cast<uint8_t*>(j.plane->pixels)[i];
        else if (j.bits == 16) RowPtr<uint16_t>(j.crop, x, y)[j.channel] = static_cast<uint16_t*>(j.plane->pixels)[i];
        else RowPtr<uint32_t>(j.crop, x, y)[j.channel] = static_cast<uint32_t*>(j.plane->pixels)[i];
        continue;
      }
      if (j.bits == 8) {
        uint8_t c[3];
        j.crop->GetRGB8(x, y, &c[0], &c[1], &c[2]);
        c[j.channel] = static_cast<uint8_t*>(j.plane->pixels)[i];
        j.crop->SetRGB8(x, y, c[0], c[1], c[2]);
      } else if (j.bits == 16) {
        uint16_t c[3];
        j.crop->GetRGB16(x, y, &c[0], &c[1], &c[2]);
        c[j.channel] = static_cast<uint16_t*>(j.plane->pixels)[i];
        j.crop->SetRGB16(x, y, c[0], c[1], c[2]);
      } else {
        uint32_t c[3];
        j.crop->GetRGB32(x, y, &c[0], &c[1], &c[2]);
        c[j.channel] = static_cast<uint32_t*>(j.plane->pixels)[i];
        j.crop->SetRGB32(x, y, c[0], c[1], c[2]);
      }
    }
  }
}

}  // namespace

int32_t EqualizeHistogram(CImgBuff* img, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  const int32_t format = img->Format();
  if (!IsValidFormat(format) || !img->Pixels()) return 0;
  // Positions are 16-bit in the records: wider rectangles would wrap.
  if (RoiWidth(r) > 65536 || RoiHeight(r) > 65536) return 0;
  if (RoiWidth(r) * RoiHeight(r) > 0xFFFFFFFFll) return 0;  // 2^32 pixels: see EqualizeGrayPlane
  // A gray picture equalised whole needs no copy: the plane's own failures all come before
  // its first write.
  if (IsGrayFormat(format) && RoiWidth(r) == img->Width() && RoiHeight(r) == img->Height()) {
    return EqualizeGrayPlane(img, img->Width(), img->Height());
  }
  // The crop and the channel plane are kept with the thread: fresh blocks of a frame's size
  // cost a page fault per page on every call.
  KeptPicture<struct EqualizeCropTag> keptCrop;
  KeptPicture<struct EqualizePlaneTag> keptPlane;
  if (!keptCrop.Get() || !keptPlane.Get()) return 0;
  CImgBuff& crop = *keptCrop.Get();
  if (!img->Crop(crop, r.x0, r.y0, r.x1, r.y1)) return 0;
  const int32_t w = crop.Width(), h = crop.Height();
  if (IsGrayFormat(format)) {
    if (!EqualizeGrayPlane(&crop, w, h)) return 0;
    return img->Paste(crop, r.x0, r.y0);
  }
  const int32_t bits = FormatClassBits(format);
  CImgBuff& plane = *keptPlane.Get();
  // Every sample of the plane is written by the extraction.
  if (!plane.record->AllocateUncleared(w, h, bits == 8 ? 1 : (bits == 16 ? 2 : 3))) return 0;
  for (int32_t c = 0; c < 3; ++c) {
    ChannelJob job{crop.record, plane.record, w, c, bits, IsTypedFormat(format)};
    const RoiRect all{0, 0, w - 1, h - 1};
    RunRows(ExtractChannelRows, &job, all);
    if (!EqualizeGrayPlane(&plane, w, h)) return 0;  // the crop is dropped: picture unchanged
    RunRows(StoreChannelRows, &job, all);
  }
  return img->Paste(crop, r.x0, r.y0);
}

// ---- merge sort ----------------------------------------------------------------------------

namespace {

inline bool Before(const EqualizeRecord& a, const EqualizeRecord& b) {
  return a.value != b.value ? a.value > b.value : a.key > b.key;
}

struct MergeJob {
  const EqualizeRecord* from;
  EqualizeRecord* to;
  uint64_t n, width;
};

void MergeRange(const EqualizeRecord* from, EqualizeRecord* to, uint64_t lo, uint64_t mid,
                uint64_t hi) {
  uint64_t i = lo, j = mid, o = lo;
  while (i < mid && j < hi) to[o++] = Before(from[j], from[i]) ? from[j++] : from[i++];
  while (i < mid) to[o++] = from[i++];
  while (j < hi) to[o++] = from[j++];
}

void MergePairs(void* ctx, uint64_t first, uint64_t count) {
  const MergeJob& j = *static_cast<const MergeJob*>(ctx);
  for (uint64_t p = first; p < first + count; ++p) {
    const uint64_t lo = p * 2 * j.width;
    MergeRange(j.from, j.to, lo, lo + j.width, lo + 2 * j.width);
  }
}

}  // namespace

int32_t ParallelMergeSort(EqualizeRecord* records, uint64_t n) {
  if (!records || n == 0) return 0;
  if (n == 1) return 1;
  EqualizeRecord* other = static_cast<EqualizeRecord*>(std::malloc(size_t(n) * sizeof(EqualizeRecord)));
  if (!other) return 0;
  EqualizeRecord* a = records;
  EqualizeRecord* b = other;
  for (uint64_t width = 1; width < n; width *= 2) {
    const uint64_t pairs = n / (2 * width);  // complete pairs
    MergeJob job{a, b, n, width};
    if (pairs > 0) ParallelFor(MergePairs, &job, pairs);
    const uint64_t lo = pairs * 2 * width;
    if (lo < n) {
      const uint64_t mid = lo + width < n ? lo + width : n;
      MergeRange(a, b, lo, mid, n);  // the last incomplete pair, or a lone run copied
    }
    EqualizeRecord* t = a; a = b; b = t;
  }
  if (a != records) std::memcpy(records, a, size_t(n) * sizeof(EqualizeRecord));
  std::free(other);
  return 1;
}
