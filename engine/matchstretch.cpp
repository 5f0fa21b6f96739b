// matchstretch.cpp - the row worker of the contrast-stretched template search (normalised
// gray and R, G, B).  Each candidate region is stretched to its own extremes before it is
// compared, so a position used to cost a stretch and a sum over the whole template.  Here:
// - the extremes of every region of a block of candidate rows come from sliding windows;
// - positions with the same extremes share their stretch (a few pairs of extremes serve a
//   whole window);
// - every position gets a lower bound of its sum from sums over blocks of pixels, taken once
//   over the unstretched pixels and bracketed through the linear form of its stretch;
// - the position with the lowest bound is summed first, and afterwards only positions whose
//   bound does not pass the best sum are summed, in vector loops that stop once the running
//   sum passes it.
// A position left out has a sum above a sum already found, so it could neither win nor tie:
// the answer and its score are the plain worker's, and positions are still visited in scan
// order.
// Inside: extremes pairs - block sums and bounds - the row worker
#include <cstring>
#include <new>

#include "engine/matchsad.h"
#include "engine/simd.h"
#include "engine/matchsearch.h"

namespace {

// Scratch of the sliding-window extremes of one block of candidate rows, and the positions
// of one block: enough for a window of a few hundred positions a side in one block of rows.
constexpr int64_t kExtremesBytes = int64_t(1) << 22;
constexpr int64_t kBlockPositions = 65536;

// ---- extremes pairs --------------------------------------------------------------------------

// What the positions whose regions have the extremes (lo, hi) share: the stretch, and the
// bracket of its block sums the bounds use (see BoundOf).
struct Pair {
  uint8_t lo, hi;
  int32_t vector;  // f reproduces the stretch table
  StretchFactors f;
  uint16_t loSum, whole, fraction, slackLo, slackHi;
};

// Pairs of one block of rows: an open-addressed table from (lo, hi) to the pair's index.
constexpr int64_t kMaxPairs = 256 * 257 / 2;  // lo <= hi
class PairTable {
 public:
  ~PairTable() { delete[] pairs_; }
  int32_t Reset(int64_t positions) {
    int64_t n = 64;
    while (n < 2 * positions && n < 65536) n *= 2;
    if (!slots_.Reserve(n)) return 0;
    mask_ = uint32_t(n - 1);
    std::memset(slots_.Data(), 0, size_t(n) * sizeof(uint16_t));
    count_ = 0;
    return 1;
  }
  // The index of (lo, hi); *added is set when it is new (its other fields then to be made).
  // -1 when memory is short.
  int32_t Find(uint8_t lo, uint8_t hi, int32_t* added) {
    const uint32_t key = uint32_t(lo) << 8 | hi;
    uint32_t h = (key * 40503u) & mask_;
    uint16_t* slots = slots_.Data();
    *added = 0;
    for (;;) {
      if (!slots[h]) break;
      const Pair& p = pairs_[slots[h] - 1];
      if (p.lo == lo && p.hi == hi) return slots[h] - 1;
      h = (h + 1) & mask_;
    }
    if (count_ == capacity_ && !Grow()) return -1;
    pairs_[count_].lo = lo;
    pairs_[count_].hi = hi;
    slots[h] = uint16_t(++count_);
    *added = 1;
    return count_ - 1;
  }
  Pair& operator[](int32_t i) { return pairs_[i]; }

 private:
  // Most searches meet a few pairs: the list starts small and doubles.
  int32_t Grow() {
    int64_t n = capacity_ ? 2 * int64_t(capacity_) : 64;
    if (n > kMaxPairs) n = kMaxPairs;
    Pair* more = new (std::nothrow) Pair[size_t(n)];
    if (!more) return 0;
    if (count_) std::memcpy(static_cast<void*>(more), pairs_, sizeof(Pair) * size_t(count_));
    delete[] pairs_;
    pairs_ = more;
    capacity_ = int32_t(n);
    return 1;
  }
  // At most 256 x 257 / 2 pairs exist and the table is kept at most half full, so the
  // indices fit 16 bits and a probe always ends.
  PlaneBuffer<uint16_t> slots_;
  Pair* pairs_ = nullptr;
  int32_t capacity_ = 0, count_ = 0;
  uint32_t mask_ = 0;
};

// ---- block sums and bounds -------------------------------------------------------------------

#define QV_MATCHSTRETCH_CLONES QV_AVX2_CLONES

// sums[y x stride + x]: the sum of the step x step pixels (all channels) of src from pixel
// (x, y), for x <= w - step and y <= h - step.  One row of column sums moves down the block
// (a row added, a row dropped), and each row of block sums adds up `step` of its pixels, by
// doubling where step is a power of two.  work holds 3 x w x channels values.  A block of at
// most 16 x 16 gray or 9 x 9 colour pixels sums to less than 65536.
QV_MATCHSTRETCH_CLONES void BlockSums(const uint8_t* src, int64_t srcStride, int32_t w, int32_t h, int32_t ch,
                                      int32_t step, uint16_t* work, uint16_t* sums, int64_t stride) {
  const int32_t cols = w - step + 1, rows = h - step + 1;
  const int64_t elems = int64_t(w) * ch;
  uint16_t* col = work;
  uint16_t* a = work + elems;
  uint16_t* b = a + elems;
  for (int64_t e = 0; e < elems; ++e) col[e] = src[e];
  for (int32_t j = 1; j < step; ++j) {
    const uint8_t* r = src + j * srcStride;
    for (int64_t e = 0; e < elems; ++e) col[e] = uint16_t(col[e] + r[e]);
  }
  const int32_t doubling = ch == 1 && (step & (step - 1)) == 0;
  for (int32_t y = 0; y < rows; ++y) {
    if (y > 0) {
      const uint8_t* in = src + (y + step - 1) * srcStride;
      const uint8_t* out = src + (y - 1) * srcStride;
      for (int64_t e = 0; e < elems; ++e) col[e] = uint16_t(col[e] + in[e] - out[e]);
    }
    uint16_t* o = sums + y * stride;
    if (doubling) {
      // After the pass of width p, element x holds the sum of the p from x on.
      const uint16_t* from = col;
      int64_t n = elems;
      for (int32_t p = 1; p < step; p *= 2) {
        uint16_t* to = 2 * p == step ? o : (from == a ? b : a);
        n -= p;
        for (int64_t x = 0; x < n; ++x) to[x] = uint16_t(from[x] + from[x + p]);
        from = to;
      }
      if (step == 1)
        for (int32_t x = 0; x < cols; ++x) o[x] = col[x];
    } else {
      for (int32_t x = 0; x < cols; ++x) {
        uint32_t t = 0;
        for (int32_t i = 0; i < step * ch; ++i) t += col[x * ch + i];
        o[x] = uint16_t(t);
      }
    }
  }
}

// The block edge for the bounds: about 8 x 8 blocks over the template, so that a bound costs
// some 64 block differences for 16 positions at once; 0 where the sums are cheap enough
// without bounds.
int32_t BoundStep(int32_t tw, int32_t th, int32_t ch) {
  const int32_t side = tw < th ? tw : th;
  if (side < 4 || int64_t(tw) * th * ch < 256) return 0;
  int32_t step = side / 8;
  if (step < 2) step = 2;
  const int32_t most = ch == 1 ? 16 : 9;
  return step < most ? step : most;
}

// The stretch of a pair, and the bracket of its block sums.  A byte lo + d of a region becomes
// t(d) = table[lo + d]; with the linear form l(d) = whole x d + (fraction x d) >> 16 (the vector
// factors, or the nearest ones where those do not reproduce the table) t(d) lies between
// l(d) - lowDev and l(d) + highDev.  For a block of m bytes with D = sum of d, the sum of l(d)
// lies between G - (m - 1) and G, G = whole x D + (fraction x D) >> 16 (the fractions dropped
// by each byte add up to less than m), so the stretched block sum lies between
// G - slackLo and G + slackHi.
void MakePair(Pair& p, NormaliseScratch& s, CompareMode mode, int32_t m) {
  s.Use(mode, p.lo, p.hi);
  p.vector = s.vector;
  p.f = StretchFactors{p.lo, s.whole, s.fraction};
  const int32_t n = p.hi - p.lo;
  int64_t whole = s.whole, fraction = s.fraction, lowDev = 0, highDev = 0;
  if (!s.vector) {
    const double factor = n > 0 ? 255.0 / double(n) : 0.0;
    whole = int64_t(factor);
    fraction = int64_t((factor - double(whole)) * 65536.0);
    for (int32_t d = 0; d <= n; ++d) {
      const int64_t l = whole * d + ((fraction * d) >> 16), t = s.table[p.lo + d];
      lowDev = l - t > lowDev ? l - t : lowDev;
      highDev = t - l > highDev ? t - l : highDev;
    }
  }
  int64_t slackLo = (m - 1) + int64_t(m) * lowDev, slackHi = int64_t(m) * highDev;
  // R, G, B read back through a format that does not keep them move each pixel after the
  // table: no bracket, so no bound.
  if (mode == CompareRgb && !s.rgbExact) slackLo = slackHi = 65535;
  p.loSum = uint16_t(p.lo * m);  // m is at most 256: below 65536
  p.whole = uint16_t(whole);
  p.fraction = uint16_t(fraction);
  p.slackLo = uint16_t(slackLo < 65535 ? slackLo : 65535);
  p.slackHi = uint16_t(slackHi < 65535 ? slackHi : 65535);
}

}  // namespace

// ---- the row worker --------------------------------------------------------------------------

void StretchedSearchRows(void* ctx, uint64_t first, uint64_t count) {
  SearchJob& job = *static_cast<SearchJob*>(ctx);
  const ComparePlane& img = *job.img;
  const ComparePlane& tpl = *job.tpl;
  const CompareMode mode = tpl.mode;
  const int32_t ch = tpl.Channels(), tw = tpl.w, th = tpl.h;
  const int32_t rowBytes = tw * ch;
  const int64_t regionBytes = int64_t(rowBytes) * th;
  const int32_t across = job.x1 - job.x0 + 1;
  const int64_t lineBytes = (int64_t(across) + tw - 1) * ch;
  // Candidate rows per block: the extremes scratch and the positions within their budgets,
  // at least one row.
  int64_t blockRows = kExtremesBytes / (4 * lineBytes) - (th - 1);
  if (blockRows > kBlockPositions / across) blockRows = kBlockPositions / across;
  if (blockRows < 1) blockRows = 1;
  if (blockRows > int64_t(count)) blockRows = int64_t(count);

  const uint8_t* t = tpl.u8.Data();
  const int32_t step = BoundStep(tw, th, ch);
  const int32_t nbx = step ? tw / step : 0, nby = step ? th / step : 0, m = step * step * ch;
  const int64_t sumCols = int64_t(across) + tw - step, sumRows = blockRows + th - step;
  // All scratch of the piece in one block: the extremes and their scratch, each position's
  // pair and bound, the block sums of the unstretched pixels, the template's, and the lanes.
  const int64_t positions = blockRows * across;
  int64_t offsets[7], total = 0;
  const int64_t sizes[7] = {WindowExtremesScratch(across, int32_t(blockRows), tw, th, ch) + 2 * positions,
                            2 * positions,
                            step ? 2 * positions : 0,
                            step ? 2 * int64_t(nbx) * nby : 0,
                            step ? 2 * 3 * lineBytes : 0,
                            step ? 2 * sumRows * sumCols : 0,
                            step ? 2 * 5 * int64_t(across) : 0};
  for (int32_t i = 0; i < 7; ++i) {
    offsets[i] = total;
    total += (sizes[i] + 31) / 32 * 32;
  }
  NormaliseScratch scratch;
  PlaneBuffer<uint8_t> arena;
  PairTable pairs;
  if (!scratch.Prepare(img.format, regionBytes, mode) || !arena.Reserve(total)) {
    job.failed.store(1);
    return;
  }
  uint8_t* base = arena.Data();
  uint8_t* lo = base + offsets[0];
  uint8_t* hi = lo + positions;
  uint8_t* extremesScratch = hi + positions;
  uint16_t* which = reinterpret_cast<uint16_t*>(base + offsets[1]);
  uint16_t* bound = reinterpret_cast<uint16_t*>(base + offsets[2]);
  uint16_t* tsums = reinterpret_cast<uint16_t*>(base + offsets[3]);
  uint16_t* work = reinterpret_cast<uint16_t*>(base + offsets[4]);
  uint16_t* sums = reinterpret_cast<uint16_t*>(base + offsets[5]);
  uint16_t* laneData = reinterpret_cast<uint16_t*>(base + offsets[6]);
  // The template's block sums, once.
  for (int32_t bj = 0; bj < nby; ++bj)
    for (int32_t bi = 0; bi < nbx; ++bi) {
      uint32_t sum = 0;
      for (int32_t j = 0; j < step; ++j)
        for (int32_t i = 0; i < step * ch; ++i) sum += t[(bj * step + j) * tpl.stride + (bi * step) * ch + i];
      tsums[bj * nbx + bi] = uint16_t(sum);
    }

  Best mine{0, 0, 0, 0};
  int32_t have = 0;
  int64_t bestSad = INT64_MAX;  // the sum of mine once there is one
  // The sum of a position, left as soon as it passes limit (then some value above limit).
  auto sumAt = [&](const Pair& p, const uint8_t* region, int64_t limit) {
    if (p.vector) return StretchSadBoundedU8(region, img.stride, t, tpl.stride, rowBytes, th, p.f, limit);
    scratch.Use(mode, p.lo, p.hi);
    scratch.StretchRows(mode, region, img.stride, tw, th, scratch.buf.Data(), rowBytes);
    return SadBoundedU8(scratch.buf.Data(), rowBytes, t, tpl.stride, rowBytes, th, limit);
  };
  // A cancel stops the piece with the best it has.
  auto cancelled = [&]() {
    if (!job.cancel || !job.cancel(job.user)) return false;
    job.cancelled.store(1);
    if (have) MergeBest(job, mine);
    return true;
  };
  // A sum found offered as the piece's best by the order of positions: (score, distance, y, x).
  auto offer = [&](int32_t x, int32_t y, int64_t sad) {
    const double dx = double(x) - double(job.cx), dy = double(y) - double(job.cy);
    const Best b{ScoreFromSadU8(mode, sad, tw, th), dx * dx + dy * dy, x, y};
    if (!have || Better(b, mine)) {
      mine = b;
      have = 1;
      bestSad = sad;
    }
  };

  for (uint64_t r0 = first; r0 < first + count; r0 += uint64_t(blockRows)) {
    const int32_t rows = int32_t(first + count - r0 < uint64_t(blockRows) ? first + count - r0 : uint64_t(blockRows));
    const int32_t y0 = job.y0 + int32_t(r0);  // level row of the block's first candidates
    const int32_t ix0 = job.x0 - job.px0, iy0 = y0 - job.py0;  // plane position of its first region
    WindowExtremes(img, ix0, iy0, across, rows, tw, th, lo, hi, extremesScratch);

    // The pairs of extremes, each made once.
    if (!pairs.Reset(int64_t(rows) * across)) {
      job.failed.store(1);
      return;
    }
    int32_t pair = -1;
    for (int64_t i = 0; i < int64_t(rows) * across; ++i) {
      // Neighbours along a row mostly have the same extremes.
      if (pair < 0 || lo[i] != lo[i - 1] || hi[i] != hi[i - 1]) {
        int32_t added;
        pair = pairs.Find(lo[i], hi[i], &added);
        if (pair < 0) {
          job.failed.store(1);
          return;
        }
        if (added) MakePair(pairs[pair], scratch, mode, m ? m : 1);
      }
      which[i] = uint16_t(pair);
    }

    // Bounds of every position from the block sums of the unstretched pixels, and the
    // position with the lowest bound summed first.
    if (step) {
      const int32_t aw = across + tw - 1, ah = rows + th - 1;
      BlockSums(img.U8(ix0, iy0), img.stride, aw, ah, ch, step, work, sums, sumCols);
      const BoundLanes lane{laneData, laneData + across, laneData + 2 * across, laneData + 3 * across,
                            laneData + 4 * across};
      int64_t seed = 0;
      uint32_t lowest = 65536;
      for (int32_t r = 0; r < rows; ++r) {
        const uint16_t* w = which + int64_t(r) * across;
        for (int32_t k = 0; k < across; ++k) {
          const Pair& p = pairs[w[k]];
          laneData[k] = p.loSum;
          laneData[across + k] = p.whole;
          laneData[2 * across + k] = p.fraction;
          laneData[3 * across + k] = p.slackLo;
          laneData[4 * across + k] = p.slackHi;
        }
        uint16_t* out = bound + int64_t(r) * across;
        StretchedBoundsU16(sums + r * sumCols, sumCols, across, tsums, nbx, nby, step, lane, out);
        for (int32_t k = 0; k < across; ++k)
          if (out[k] < lowest) {
            lowest = out[k];
            seed = int64_t(r) * across + k;
          }
      }
      if (cancelled()) return;  // polled before this position as before any other
      const int32_t r = int32_t(seed / across), k = int32_t(seed % across);
      offer(job.x0 + k, y0 + r, sumAt(pairs[which[seed]], img.U8(ix0 + k, iy0 + r), INT64_MAX));
    }

    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t k = 0; k < across; ++k) {
        if (cancelled()) return;
        const int64_t at = int64_t(r) * across + k;
        // A larger sum scores strictly worse (distinct sums of fewer than 2^40 pixels never
        // round to one score), so a position whose bound or running sum passes the best sum
        // can neither win nor tie.
        const int64_t limit = bestSad;
        if (step && bound[at] > limit) continue;
        const int64_t sad = sumAt(pairs[which[at]], img.U8(ix0 + k, iy0 + r), limit);
        if (sad > limit) continue;
        offer(job.x0 + k, y0 + r, sad);
      }
    }
  }
  if (have) MergeBest(job, mine);
}
