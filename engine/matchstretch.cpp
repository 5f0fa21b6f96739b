// matchstretch.cpp - the row worker of the contrast-stretched template search (normalised
// gray and R, G, B).  Each candidate region is stretched to its own extremes before it is
// compared, so a position used to cost a stretch and a sum over the whole template.  Here the
// extremes of every region of a block of candidate rows come from sliding windows; positions
// whose regions have the same extremes share one stretch, applied once to the block of
// pixels their regions cover when enough of them do; the sums run in wide vector loops; and
// a sum stops as soon as it passes the best sum of the piece, which cannot change the answer.
// Positions are still visited in scan order and scored exactly as the plain worker scores
// them.
// Inside: extremes pairs - the row worker
#include <cstring>
#include <new>

#include "engine/matchsad.h"
#include "engine/matchsearch.h"

namespace {

// Scratch of the sliding-window extremes of one block of candidate rows, and the stretched
// blocks of one block of candidate rows: enough for a search window of several hundred
// positions a side without running a block of rows twice.
constexpr int64_t kExtremesBytes = int64_t(1) << 22;
constexpr int64_t kStretchedBytes = int64_t(1) << 22;
constexpr int64_t kBlockPositions = 65536;

// ---- extremes pairs --------------------------------------------------------------------------

// The positions of a block of rows whose regions have the extremes (lo, hi).
struct Pair {
  uint8_t lo, hi;
  int32_t count;
  int32_t kx0, kx1, ky0, ky1;  // their bounding box, in positions of the block
  StretchFactors f;
  int32_t vector;              // f reproduces the stretch table
  int64_t block;               // offset of the pairs' stretched block, or -1: stretch per position
  int64_t blockStride;
};

// Pairs of one block of rows: an open-addressed table from (lo, hi) to the pair's index.
constexpr int64_t kMaxPairs = 256 * 257 / 2;  // lo <= hi
class PairTable {
 public:
  int32_t Reset(int64_t positions) {
    int64_t n = 64;
    while (n < 2 * positions && n < 65536) n *= 2;
    if (!slots_.Reserve(n)) return 0;
    mask_ = uint32_t(n - 1);
    std::memset(slots_.Data(), 0, size_t(n) * sizeof(uint16_t));
    count_ = 0;
    return 1;
  }
  // The index of (lo, hi), added with the position (kx, ky) when new; -1 when memory is short.
  int32_t Add(uint8_t lo, uint8_t hi, int32_t kx, int32_t ky) {
    const uint32_t key = uint32_t(lo) << 8 | hi;
    uint32_t h = (key * 40503u) & mask_;
    uint16_t* slots = slots_.Data();
    for (;;) {
      if (!slots[h]) break;
      Pair& p = pairs_[slots[h] - 1];
      if (p.lo == lo && p.hi == hi) {
        ++p.count;
        p.kx0 = kx < p.kx0 ? kx : p.kx0;
        p.kx1 = kx > p.kx1 ? kx : p.kx1;
        p.ky1 = ky;  // rows come in increasing order
        return slots[h] - 1;
      }
      h = (h + 1) & mask_;
    }
    if (count_ == capacity_ && !Grow()) return -1;
    pairs_[count_] = Pair{lo, hi, 1, kx, kx, ky, ky, StretchFactors{lo, 0, 0}, 0, -1, 0};
    slots[h] = uint16_t(++count_);
    return count_ - 1;
  }
  int32_t Count() const { return count_; }
  Pair& operator[](int32_t i) { return pairs_[i]; }
  ~PairTable() { delete[] pairs_; }

 private:
  // Most searches meet a few pairs: the list starts small and doubles.
  int32_t Grow() {
    const int64_t n = capacity_ ? 2 * int64_t(capacity_) : 64;
    Pair* more = new (std::nothrow) Pair[size_t(n < kMaxPairs ? n : kMaxPairs)];
    if (!more) return 0;
    if (count_) std::memcpy(static_cast<void*>(more), pairs_, sizeof(Pair) * size_t(count_));
    delete[] pairs_;
    pairs_ = more;
    capacity_ = int32_t(n < kMaxPairs ? n : kMaxPairs);
    return 1;
  }
  // At most 256 x 257 / 2 pairs exist, and the table is kept at most half full, so the
  // indices fit 16 bits and a probe always ends.
  PlaneBuffer<uint16_t> slots_;
  Pair* pairs_ = nullptr;
  int32_t capacity_ = 0;
  uint32_t mask_ = 0;
  int32_t count_ = 0;
};

// ---- block sums -------------------------------------------------------------------------------

#define QV_MATCHSTRETCH_CLONES __attribute__((target_clones("avx2", "default")))

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

// The block edge for the bounds: about 8 x 8 blocks over the template, so a bound costs some
// 64 operations for 16 positions at once; 0 where the sums are cheap enough without them.
int32_t BoundStep(int32_t tw, int32_t th, int32_t ch) {
  const int32_t side = tw < th ? tw : th;
  if (side < 4 || int64_t(tw) * th * ch < 256) return 0;
  int32_t step = side / 8;
  if (step < 2) step = 2;
  const int32_t most = ch == 1 ? 16 : 9;
  return step < most ? step : most;
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

  NormaliseScratch scratch;
  PlaneBuffer<uint8_t> extremes, stretched;
  PlaneBuffer<uint16_t> pairOf;
  PairTable pairs;
  if (!scratch.Prepare(img.format, regionBytes) ||
      !extremes.Reserve(WindowExtremesScratch(across, int32_t(blockRows), tw, th, ch) + 2 * blockRows * across) ||
      !pairOf.Reserve(blockRows * across)) {
    job.failed.store(1);
    return;
  }
  uint8_t* lo = extremes.Data();
  uint8_t* hi = lo + blockRows * across;
  uint8_t* extremesScratch = hi + blockRows * across;
  const uint8_t* t = tpl.u8.Data();

  // Lower bounds from block sums: the template's own, once.
  const int32_t step = BoundStep(tw, th, ch);
  const int32_t nbx = step ? tw / step : 0, nby = step ? th / step : 0;
  PlaneBuffer<uint16_t> tsums, bounds, horiz, sums, boundRow;
  if (step) {
    if (!tsums.Reserve(int64_t(nbx) * nby) || !bounds.Reserve(blockRows * across) || !boundRow.Reserve(across)) {
      job.failed.store(1);
      return;
    }
    for (int32_t bj = 0; bj < nby; ++bj)
      for (int32_t bi = 0; bi < nbx; ++bi) {
        uint32_t sum = 0;
        for (int32_t j = 0; j < step; ++j)
          for (int32_t i = 0; i < step * ch; ++i) sum += t[(bj * step + j) * tpl.stride + (bi * step) * ch + i];
        tsums.Data()[bj * nbx + bi] = uint16_t(sum);
      }
  }

  Best mine{0, 0, 0, 0};
  int32_t have = 0;
  int64_t bestSad = INT64_MAX;
  for (uint64_t r0 = first; r0 < first + count; r0 += uint64_t(blockRows)) {
    const int32_t rows = int32_t(first + count - r0 < uint64_t(blockRows) ? first + count - r0 : uint64_t(blockRows));
    const int32_t y0 = job.y0 + int32_t(r0);  // level row of the block's first candidates
    const int32_t ix0 = job.x0 - job.px0, iy0 = y0 - job.py0;  // plane position of its first region
    WindowExtremes(img, ix0, iy0, across, rows, tw, th, lo, hi, extremesScratch);

    // Group the positions by extremes; a group stretches its block once when the regions it
    // holds outweigh the block, else each of its regions is stretched as it is summed.
    if (!pairs.Reset(int64_t(rows) * across)) {
      job.failed.store(1);
      return;
    }
    uint16_t* which = pairOf.Data();
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t k = 0; k < across; ++k) {
        const int64_t i = int64_t(r) * across + k;
        const int32_t pair = pairs.Add(lo[i], hi[i], k, r);
        if (pair < 0) {
          job.failed.store(1);
          return;
        }
        which[i] = uint16_t(pair);
      }
    int64_t blockTotal = 0;
    for (int32_t i = 0; i < pairs.Count(); ++i) {
      Pair& p = pairs[i];
      scratch.Use(mode, p.lo, p.hi);
      p.vector = scratch.vector;
      p.f = StretchFactors{p.lo, scratch.whole, scratch.fraction};
      const int64_t stride = (int64_t(p.kx1) - p.kx0 + tw) * ch;
      const int64_t bytes = stride * (int64_t(p.ky1) - p.ky0 + th);
      // Stretching a region on the fly costs about what stretching a block byte does with the
      // table, and a few times more with the vector form than the plain sums that follow.
      const int64_t regions = int64_t(p.count) * regionBytes;
      const int32_t worth = p.vector ? regions >= 2 * bytes : regions >= bytes;
      if (worth && blockTotal + bytes <= kStretchedBytes) {
        p.block = blockTotal;
        p.blockStride = stride;
        blockTotal += bytes;
      }
    }
    if (blockTotal && !stretched.Reserve(blockTotal)) {
      job.failed.store(1);
      return;
    }
    // Stretch the shared blocks, and bound every sum they serve from block sums: a position
    // whose bound is above a sum already known can neither win nor tie.  The position with
    // the lowest bound is summed first, so that the scan starts with a good sum to beat.
    uint16_t* bound = bounds.Data();
    if (step) std::memset(bound, 0, sizeof(uint16_t) * size_t(rows) * size_t(across));
    int64_t seed = -1;
    for (int32_t i = 0; i < pairs.Count(); ++i) {
      Pair& p = pairs[i];
      if (p.block < 0) continue;
      uint8_t* b = stretched.Data() + p.block;
      const uint8_t* src = img.U8(ix0 + p.kx0, iy0 + p.ky0);
      const int32_t bw = int32_t(p.blockStride / ch), bh = p.ky1 - p.ky0 + th;
      if (p.vector) {
        StretchRowsU8(src, img.stride, b, p.blockStride, int32_t(p.blockStride), bh, p.f);
      } else {
        scratch.Use(mode, p.lo, p.hi);
        scratch.StretchRows(mode, src, img.stride, bw, bh, b, p.blockStride);
      }
      if (!step) continue;
      const int64_t cols = bw - step + 1;
      if (!horiz.Reserve(3 * int64_t(bw) * ch) || !sums.Reserve(int64_t(bh - step + 1) * cols)) {
        job.failed.store(1);
        return;
      }
      BlockSums(b, p.blockStride, bw, bh, ch, step, horiz.Data(), sums.Data(), cols);
      const int32_t kn = p.kx1 - p.kx0 + 1;
      for (int32_t r = p.ky0; r <= p.ky1; ++r) {
        BlockBoundsU16(sums.Data() + (r - p.ky0) * cols, cols, kn, tsums.Data(), nbx, nby, step, boundRow.Data());
        const int64_t row = int64_t(r) * across;
        for (int32_t k = 0; k < kn; ++k) {
          const int64_t at = row + p.kx0 + k;
          if (which[at] != i) continue;
          bound[at] = boundRow.Data()[k];
          if (seed < 0 || bound[at] < bound[seed]) seed = at;
        }
      }
    }
    if (seed >= 0) {
      const Pair& p = pairs[which[seed]];
      const int32_t r = int32_t(seed / across), k = int32_t(seed % across);
      const int64_t sad = SadBoundedU8(stretched.Data() + p.block + (r - p.ky0) * p.blockStride +
                                           int64_t(k - p.kx0) * ch,
                                       p.blockStride, t, tpl.stride, rowBytes, th, INT64_MAX);
      if (sad < bestSad) bestSad = sad;
    }

    for (int32_t r = 0; r < rows; ++r) {
      const int32_t y = y0 + r;
      const double dy = double(y) - double(job.cy);
      for (int32_t k = 0; k < across; ++k) {
        if (job.cancel && job.cancel(job.user)) {
          job.cancelled.store(1);
          if (have) MergeBest(job, mine);
          return;
        }
        const int64_t at = int64_t(r) * across + k;
        const int64_t limit = bestSad;
        if (step && bound[at] > limit) continue;
        Pair& p = pairs[which[at]];
        const uint8_t* region = img.U8(ix0 + k, iy0 + r);
        int64_t sad;
        if (p.block >= 0) {
          const uint8_t* b = stretched.Data() + p.block;
          sad = SadBoundedU8(b + (r - p.ky0) * p.blockStride + int64_t(k - p.kx0) * ch, p.blockStride, t, tpl.stride,
                             rowBytes, th, limit);
        } else if (p.vector) {
          sad = StretchSadBoundedU8(region, img.stride, t, tpl.stride, rowBytes, th, p.f, limit);
        } else {
          scratch.Use(mode, p.lo, p.hi);
          scratch.StretchRows(mode, region, img.stride, tw, th, scratch.buf.Data(), rowBytes);
          sad = SadBoundedU8(scratch.buf.Data(), rowBytes, t, tpl.stride, rowBytes, th, limit);
        }
        // A larger sum scores strictly worse (distinct sums of fewer than 2^40 pixels never
        // round to one score), so it can neither win nor tie.
        if (sad > limit) continue;
        const int32_t x = job.x0 + k;
        const double dx = double(x) - double(job.cx);
        const Best b{ScoreFromSadU8(mode, sad, tw, th), dx * dx + dy * dy, x, y};
        if (!have || Better(b, mine)) {
          mine = b;
          have = 1;
          bestSad = sad;
        }
      }
    }
  }
  if (have) MergeBest(job, mine);
}
