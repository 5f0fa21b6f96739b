// median.cpp - MedianFilter: element n / 2 of the sorted window samples, channel by channel.
// Nothing sorts a whole window.  Where the window is complete, 3 x 3 uses sorted columns
// (the median of nine is the middle of: the largest column minimum, the middle column
// middle, the smallest column maximum); 5 x 5 sorts each column of five once, merges
// neighbouring columns into sorted tens once, and takes the median of two such tens and a
// column with a fixed network of 48 steps; 7 x 7 and 9 x 9 run a selection network built
// from Batcher's odd-even merge sort, pruned to the one output it must give, over 64
// samples at a time; 8-bit pictures with windows of 7 and more keep a sliding histogram
// along the row instead.  Rows that the rectangle's top or bottom cuts run the same kernels
// with the missing rows padded by 0 and the maximum in the proportion that keeps the
// element in the middle; rectangles narrower than a window walk a histogram (8-bit) or a
// sorted array along the row.  Every other window (left and right borders, sizes above 9)
// selects its element by insertion sort or nth_element.  All of them return the same
// element of the same multiset.
// Sources: for formats 1 to 6 and windows up to 9 x 9 the rows are filtered in place, in
// bands: each band keeps the originals of the rows it has overwritten and still needs in a
// ring of r + 1 rows, and the r rows beyond each end of a band are saved before any band
// starts.
// Larger windows and formats 7 to 9 read a copy of the rectangle.
// Inside: selection networks - fixed networks - generic selection - row kernels - rows and
//         bands - entry
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/parallel.h"
#include "engine/convolve.h"
#include "engine/simd.h"
#include "engine/neighbourhood.h"

namespace {

// ---- selection networks --------------------------------------------------------------------

// One step of a network on lane arrays: both outputs, or only the one the median needs.
struct NetOp {
  uint16_t a, b;   // a < b: after a full step v[a] = min, v[b] = max
  uint8_t kind;    // 0 both, 1 only v[a] = min, 2 only v[b] = max
};

// Batcher's network for 128 inputs has 1471 steps; 81 inputs keep fewer.
constexpr int32_t MaxNetOps = 1536;

struct MedianNet {
  NetOp ops[MaxNetOps];  // fixed storage: building a network never allocates
  int32_t count = 0;
  int32_t n = 0;
};

// Batcher's odd-even merge sort for the next power of two, comparators beyond n dropped (the
// missing inputs act as +infinity and never move), then pruned backwards from output n / 2.
// n <= 81.
void BuildMedianNet(int32_t n, MedianNet* net) {
  static NetOp all[MaxNetOps];  // only ever used under NetFor's once flag
  int32_t count = 0;
  int32_t p2 = 1;
  while (p2 < n) p2 <<= 1;
  for (int32_t p = 1; p < p2; p <<= 1) {
    for (int32_t k = p; k >= 1; k >>= 1) {
      for (int32_t j = k % p; j <= p2 - 1 - k; j += 2 * k) {
        for (int32_t i = 0; i <= std::min(k - 1, p2 - j - k - 1); ++i) {
          if ((i + j) / (2 * p) != (i + j + k) / (2 * p)) continue;
          const int32_t a = i + j, b = i + j + k;
          if (b < n) all[count++] = NetOp{uint16_t(a), uint16_t(b), 0};
        }
      }
    }
  }
  char needed[81] = {};
  needed[n / 2] = 1;
  net->count = 0;
  for (int32_t q = count; q-- > 0;) {
    NetOp op = all[q];
    const bool na = needed[op.a] != 0, nb = needed[op.b] != 0;
    if (!na && !nb) continue;
    op.kind = uint8_t(na && nb ? 0 : (na ? 1 : 2));
    needed[op.a] = needed[op.b] = 1;
    net->ops[net->count++] = op;
  }
  std::reverse(net->ops, net->ops + net->count);
  net->n = n;
}

// Networks for 7 x 7 and 9 x 9, built once.
const MedianNet& NetFor(int32_t size) {
  static std::once_flag once;
  static MedianNet nets[2];
  std::call_once(once, [] {
    BuildMedianNet(49, &nets[0]);
    BuildMedianNet(81, &nets[1]);
  });
  return nets[(size - 7) / 2];
}

constexpr int32_t Lanes = 64;

// clang does not clone templates, and other processors have no such targets.
#define QV_MEDIAN_CLONES QV_AVX2_CLONES

template <class T>
QV_MEDIAN_CLONES void RunNet(const MedianNet& net, T* v /* [n][Lanes] */) {
  for (int32_t q = 0; q < net.count; ++q) {
    const NetOp& op = net.ops[q];
    T* a = v + size_t(op.a) * Lanes;
    T* b = v + size_t(op.b) * Lanes;
    if (op.kind == 0) {
      for (int32_t k = 0; k < Lanes; ++k) {
        const T x = a[k], y = b[k];
        a[k] = x < y ? x : y;
        b[k] = x < y ? y : x;
      }
    } else if (op.kind == 1) {
      for (int32_t k = 0; k < Lanes; ++k) a[k] = a[k] < b[k] ? a[k] : b[k];
    } else {
      for (int32_t k = 0; k < Lanes; ++k) b[k] = a[k] < b[k] ? b[k] : a[k];
    }
  }
}

// ---- fixed networks ------------------------------------------------------------------------

// Compare-exchange steps with constant indices, unrolled so the values stay in registers and
// the loops around them vectorise.
struct FixedStep {
  uint8_t a, b;   // a < b
  uint8_t kind;   // as NetOp: 0 both, 1 only v[a] = min, 2 only v[b] = max
};

// Sorts five.
constexpr FixedStep kSort5[] = {{0, 1, 0}, {3, 4, 0}, {2, 4, 0}, {2, 3, 0}, {0, 3, 0},
                                {0, 2, 0}, {1, 4, 0}, {1, 3, 0}, {1, 2, 0}};
// Merges two sorted fives (0..4, 5..9) into a sorted ten.
constexpr FixedStep kMerge5x5[] = {
    {4, 5, 0}, {5, 7, 0}, {5, 6, 0}, {0, 4, 0}, {1, 5, 0}, {2, 6, 0}, {2, 4, 0},
    {3, 5, 0}, {3, 4, 0}, {5, 6, 0}, {4, 8, 0}, {5, 9, 0}, {3, 5, 0}, {6, 8, 0},
    {7, 9, 0}, {1, 2, 0}, {3, 4, 0}, {5, 6, 0}, {7, 8, 0}};
// Element 12 of 25 given as two sorted tens (0..9, 10..19) and a sorted five (20..24); the
// result is left in v[12].  Batcher's network for 25 with every step that these sorted
// inputs make redundant removed (checked on every 0-1 input with sorted parts, which by the
// 0-1 principle covers all inputs with sorted parts).
constexpr FixedStep kMedian10x10x5[] = {
    {8, 10, 0},  {9, 11, 0},  {10, 14, 1}, {11, 15, 1}, {16, 20, 0}, {17, 21, 0}, {18, 22, 0},
    {19, 23, 1}, {10, 12, 0}, {11, 13, 0}, {18, 20, 0}, {19, 21, 0}, {0, 8, 2},   {1, 9, 2},
    {2, 10, 2},  {3, 11, 2},  {4, 12, 0},  {5, 13, 0},  {4, 8, 2},   {5, 9, 2},   {6, 10, 0},
    {7, 11, 0},  {20, 24, 0}, {6, 8, 0},   {7, 9, 0},   {10, 12, 0}, {11, 13, 0}, {22, 24, 1},
    {7, 8, 0},   {9, 10, 0},  {11, 12, 0}, {17, 18, 0}, {19, 20, 0}, {21, 22, 0}, {6, 22, 1},
    {8, 16, 2},  {9, 17, 2},  {10, 18, 1}, {11, 19, 1}, {12, 20, 1}, {13, 21, 1}, {6, 10, 2},
    {7, 11, 2},  {12, 16, 1}, {13, 17, 1}, {10, 12, 2}, {11, 13, 1}, {11, 12, 2}};

template <class T>
inline T Min(T a, T b) { return a < b ? a : b; }
template <class T>
inline T Max(T a, T b) { return a < b ? b : a; }

template <int A, int B, int K, class T>
inline void Step(T* v) {
  if constexpr (K == 0) {
    const T x = v[A], y = v[B];
    v[A] = Min(x, y);
    v[B] = Max(x, y);
  } else if constexpr (K == 1) {
    v[A] = Min(v[A], v[B]);
  } else {
    v[B] = Max(v[A], v[B]);
  }
}

template <const auto& Net, class T, size_t... I>
inline void RunFixed(T* v, std::index_sequence<I...>) {
  (Step<Net[I].a, Net[I].b, Net[I].kind>(v), ...);
}
template <const auto& Net, class T>
inline void RunFixed(T* v) {
  RunFixed<Net>(v, std::make_index_sequence<sizeof(Net) / sizeof(Net[0])>());
}

// ---- generic selection ---------------------------------------------------------------------

struct MedianJob {
  int32_t size, r;
  int32_t wc, hc;     // the rectangle (or its copy)
  int32_t ch;         // samples per pixel: 1 or 3
  int32_t bits;       // 8, 16 or 32
  // Copy path: rows read from fs->copy, results written through fs.
  const FilterSource* fs;
  // In-place path: rows of the caller's picture from (x0, y0), filtered band by band.
  C_ImgBuff* pic;
  int32_t x0, y0;
  int32_t bandRows;   // rows per band
  uint8_t* halo;      // per band: the r rows above it, then the r rows below it
  std::atomic<int32_t> result;
  uint8_t* rowDone;   // staged formats: rows whose results exist (a failed worker leaves 0)
};

// The rows of one output row's window: win[j] is source row y - r + j, null outside.
template <class T>
struct Window {
  const T* const* win;
  int32_t y;
  const T* Row(const MedianJob& job, int32_t v) const { return win[v - y + job.r]; }
};

// Window of (x, y) clipped to the rectangle, channel c, element n / 2.
template <class T>
inline T SelectWindow(const MedianJob& job, const Window<T>& w, int32_t x, int32_t c, T* buf) {
  const int32_t ch = job.ch, r = job.r, y = w.y;
  const int32_t u0 = std::max(x - r, 0), u1 = std::min(x + r, job.wc - 1);
  const int32_t v0 = std::max(y - r, 0), v1 = std::min(y + r, job.hc - 1);
  int64_t n = 0;
  for (int32_t v = v0; v <= v1; ++v) {
    const T* s = w.Row(job, v) + int64_t(u0) * ch + c;
    for (int32_t u = u0; u <= u1; ++u, s += ch) buf[n++] = *s;
  }
  if (n <= 32) {
    // Border windows are small: an insertion sort beats nth_element's partitioning.
    for (int64_t i = 1; i < n; ++i) {
      const T v = buf[i];
      int64_t j = i;
      for (; j > 0 && v < buf[j - 1]; --j) buf[j] = buf[j - 1];
      buf[j] = v;
    }
  } else {
    std::nth_element(buf, buf + n / 2, buf + n);
  }
  return buf[n / 2];
}

template <class T>
void SelectPixels(const MedianJob& job, const Window<T>& w, int32_t xb, int32_t xe, T* out,
                  T* buf) {
  const int32_t ch = job.ch;
  for (int32_t x = xb; x < xe; ++x)
    for (int32_t c = 0; c < ch; ++c) out[int64_t(x) * ch + c] = SelectWindow<T>(job, w, x, c, buf);
}

// ---- row kernels ---------------------------------------------------------------------------

// Samples of one pass of the 3 x 3 and 5 x 5 kernels: at most this many outputs at a time,
// so that the sorted columns (and merged pairs) of a piece stay in the first-level cache.
constexpr int64_t Piece = 1024;
constexpr int64_t PieceStride = Piece + 12;  // a piece and its reach of 2 pixels of 3 samples

// 3 x 3 with all three rows inside, outputs [k0, k1) (samples): each column sorted once, then
// the middle of the three column extremes and middles.  CH, the sample stride between
// neighbouring columns, is a constant so the loops vectorise with fixed offsets.
template <class T, int32_t CH>
QV_MEDIAN_CLONES void Median3Span(const T* const* rows, int64_t k0, int64_t k1, T* __restrict out,
                                  T* __restrict work) {
  T* __restrict lo = work;
  T* __restrict mid = work + PieceStride;
  T* __restrict hi = work + 2 * PieceStride;
  for (int64_t s0 = k0; s0 < k1; s0 += Piece) {
    const int64_t s1 = std::min(k1, s0 + Piece), len = s1 - s0;
    const T* __restrict a = rows[0] + s0 - CH;
    const T* __restrict b = rows[1] + s0 - CH;
    const T* __restrict c = rows[2] + s0 - CH;
    for (int64_t t = 0; t < len + 2 * CH; ++t) {
      const T p = Min(a[t], b[t]), q = Max(a[t], b[t]);
      lo[t] = Min(p, c[t]);
      const T r = Max(p, c[t]);
      mid[t] = Min(q, r);
      hi[t] = Max(q, r);
    }
    T* __restrict o = out + s0;
    for (int64_t t = 0; t < len; ++t) {
      const T l = Max(Max(lo[t], lo[t + CH]), lo[t + 2 * CH]);
      const T h = Min(Min(hi[t], hi[t + CH]), hi[t + 2 * CH]);
      const T m0 = mid[t], m1 = mid[t + CH], m2 = mid[t + 2 * CH];
      const T m = Max(Min(m0, m1), Min(Max(m0, m1), m2));
      o[t] = Max(Min(l, m), Min(Max(l, m), h));
    }
  }
}

// 5 x 5 with all five rows inside, outputs [k0, k1) (samples): every column of five is sorted
// once (col), neighbouring sorted columns are merged once into sorted tens (pair), and each
// output takes element 12 of pair(k - 2ch), pair(k) and col(k + 2ch).
template <class T, int32_t CH>
QV_MEDIAN_CLONES void Median5Span(const T* const* rows, int64_t k0, int64_t k1, T* __restrict out,
                                  T* __restrict work) {
  T* __restrict col = work;
  T* __restrict pair = work + 5 * PieceStride;
  constexpr int64_t reach = 2 * CH;
  for (int64_t s0 = k0; s0 < k1; s0 += Piece) {
    const int64_t s1 = std::min(k1, s0 + Piece), len = s1 - s0;
    const T* __restrict r0 = rows[0] + s0 - reach;
    const T* __restrict r1 = rows[1] + s0 - reach;
    const T* __restrict r2 = rows[2] + s0 - reach;
    const T* __restrict r3 = rows[3] + s0 - reach;
    const T* __restrict r4 = rows[4] + s0 - reach;
    // col[j * PieceStride + t]: rank j of the column at sample s0 - reach + t.
    for (int64_t t = 0; t < len + 2 * reach; ++t) {
      T v[5] = {r0[t], r1[t], r2[t], r3[t], r4[t]};
      RunFixed<kSort5>(v);
      for (int32_t j = 0; j < 5; ++j) col[j * PieceStride + t] = v[j];
    }
    // pair[j * PieceStride + t]: rank j of the columns at samples s0 - reach + t and + ch.
    for (int64_t t = 0; t < len + reach; ++t) {
      T v[10];
      for (int32_t j = 0; j < 5; ++j) {
        v[j] = col[j * PieceStride + t];
        v[5 + j] = col[j * PieceStride + t + CH];
      }
      RunFixed<kMerge5x5>(v);
      for (int32_t j = 0; j < 10; ++j) pair[j * PieceStride + t] = v[j];
    }
    T* __restrict o = out + s0;
    for (int64_t t = 0; t < len; ++t) {
      T v[25];
      for (int32_t j = 0; j < 10; ++j) {
        v[j] = pair[j * PieceStride + t];
        v[10 + j] = pair[j * PieceStride + t + reach];
      }
      for (int32_t j = 0; j < 5; ++j) v[20 + j] = col[j * PieceStride + t + 2 * reach];
      RunFixed<kMedian10x10x5>(v);
      o[t] = v[12];
    }
  }
}

// A complete window of 7 x 7 or 9 x 9: the pruned network over chunks of Lanes samples.
template <class T>
void MedianNetRow(const MedianJob& job, const MedianNet& net, const T* const* rows, T* out,
                  T* lanes) {
  const int32_t ch = job.ch, r = job.r, size = job.size;
  const int64_t k0 = int64_t(r) * ch, k1 = int64_t(job.wc - r) * ch;  // interior samples
  const int32_t mid = net.n / 2;
  for (int64_t k = k0; k < k1; k += Lanes) {
    // The last chunk is moved back to end at k1 (samples computed twice give the same value).
    const int64_t kb = k + Lanes <= k1 ? k : std::max<int64_t>(k0, k1 - Lanes);
    const int32_t len = int32_t(std::min<int64_t>(Lanes, k1 - kb));
    int32_t idx = 0;
    for (int32_t j = 0; j < size; ++j) {
      for (int32_t i = 0; i < size; ++i, ++idx) {
        const T* s = rows[j] + kb + int64_t(i - r) * ch;
        T* d = lanes + size_t(idx) * Lanes;
        std::memcpy(d, s, size_t(len) * sizeof(T));
        if (len < Lanes) std::memset(d + len, 0, size_t(Lanes - len) * sizeof(T));
      }
    }
    RunNet<T>(net, lanes);
    std::memcpy(out + kb, lanes + size_t(mid) * Lanes, size_t(len) * sizeof(T));
    if (kb != k) break;
  }
}

// 8-bit windows of 7 and more, and the rows of smaller 8-bit windows that the rectangle's
// top or bottom cuts: one histogram per channel slides along the row; the median is tracked
// as a level m with lt = number of window samples below m.
void MedianHistRow(const MedianJob& job, const Window<uint8_t>& w, uint8_t* out) {
  const int32_t ch = job.ch, r = job.r, wc = job.wc, y = w.y;
  const int32_t v0 = std::max(y - r, 0), v1 = std::min(y + r, job.hc - 1);
  const int32_t rows = v1 - v0 + 1;
  const uint8_t* const* rp = w.win + (v0 - y + r);
  for (int32_t c = 0; c < ch; ++c) {
    uint32_t hist[256];
    std::memset(hist, 0, sizeof(hist));
    int32_t m = 0;
    int64_t lt = 0;
    auto add = [&](int32_t u) {
      for (int32_t j = 0; j < rows; ++j) {
        const uint8_t v = rp[j][int64_t(u) * ch + c];
        ++hist[v];
        lt += v < m;
      }
    };
    auto drop = [&](int32_t u) {
      for (int32_t j = 0; j < rows; ++j) {
        const uint8_t v = rp[j][int64_t(u) * ch + c];
        --hist[v];
        lt -= v < m;
      }
    };
    for (int32_t u = 0; u <= std::min(r, wc - 1); ++u) add(u);
    for (int32_t x = 0; x < wc; ++x) {
      if (x > 0) {
        if (x + r < wc) add(x + r);
        if (x - r - 1 >= 0) drop(x - r - 1);
      }
      const int64_t cols = int64_t(std::min(x + r, wc - 1)) - std::max(x - r, 0) + 1;
      const int64_t k = cols * rows / 2;
      while (lt > k) lt -= hist[--m];
      while (lt + hist[m] <= k) lt += hist[m++];
      out[int64_t(x) * ch + c] = uint8_t(m);
    }
  }
}

// Windows cut by the rectangle's top or bottom (or rows narrower than a window) at other
// depths: per channel, a sorted array of the window's samples slides along the row, one
// column leaving and one entering at each step.
template <class T>
void MedianSlideRow(const MedianJob& job, const Window<T>& w, T* out, T* sorted) {
  const int32_t ch = job.ch, r = job.r, wc = job.wc, y = w.y;
  const int32_t v0 = std::max(y - r, 0), v1 = std::min(y + r, job.hc - 1);
  const int32_t rows = v1 - v0 + 1;
  const T* const* rp = w.win + (v0 - y + r);
  for (int32_t c = 0; c < ch; ++c) {
    int64_t n = 0;
    auto add = [&](int32_t u) {
      for (int32_t j = 0; j < rows; ++j) {
        const T v = rp[j][int64_t(u) * ch + c];
        int64_t i = n++;
        for (; i > 0 && v < sorted[i - 1]; --i) sorted[i] = sorted[i - 1];
        sorted[i] = v;
      }
    };
    auto drop = [&](int32_t u) {
      for (int32_t j = 0; j < rows; ++j) {
        const T v = rp[j][int64_t(u) * ch + c];
        int64_t i = 0;
        while (sorted[i] != v) ++i;  // v is in the window
        for (--n; i < n; ++i) sorted[i] = sorted[i + 1];
      }
    };
    for (int32_t u = 0; u <= std::min(r, wc - 1); ++u) add(u);
    for (int32_t x = 0; x < wc; ++x) {
      if (x > 0) {
        if (x + r < wc) add(x + r);
        if (x - r - 1 >= 0) drop(x - r - 1);
      }
      out[int64_t(x) * ch + c] = sorted[n / 2];
    }
  }
}

// ---- rows and bands ------------------------------------------------------------------------

// Rows [yb, ye).  Copy path (band < 0): source rows from the copy.  In-place path: band is the
// band's index; the band's rows after y are still the originals and are read where they are,
// row y and the r rows before it from a ring of originals copied just before each row is
// overwritten, the rows beyond the band from its saved halo.
template <class T>
void MedianRowsT(MedianJob& job, int32_t yb, int32_t ye, int32_t band) {
  const int32_t ch = job.ch, r = job.r, size = job.size, wc = job.wc, hc = job.hc;
  const bool hist = sizeof(T) == 1 && size >= 7;
  const bool five = size == 5;
  const bool net = !hist && size >= 7 && size <= 9;
  const int64_t window = int64_t(size) * size;
  const int64_t rowSamples = int64_t(wc) * ch;
  const int64_t ringRows = band >= 0 ? int64_t(r) + 1 : 0;
  // One block per worker: the selection buffer, the kernel's work rows, the ring, and the
  // window's row pointers.
  const int64_t select =
      std::min<int64_t>(window, int64_t(std::min(size, wc)) * std::min(size, hc));
  int64_t extra = 0;
  if (size == 3) extra = 3 * PieceStride;
  if (five) extra = 15 * PieceStride;
  if (net) extra = window * Lanes;
  const bool padded = size == 3 || five || net;
  if (padded) extra += int64_t(size + 1) * rowSamples;  // pad rows
  const int64_t samples = select + extra + ringRows * rowSamples;
  const size_t ptrOffset = (size_t(samples) * sizeof(T) + 15) & ~size_t(15);
  uint8_t* block = static_cast<uint8_t*>(std::malloc(ptrOffset + size_t(size) * sizeof(T*)));
  if (!block) {
    job.result.store(0);
    return;
  }
  T* buf = reinterpret_cast<T*>(block);
  T* work = buf + select;
  T* ring = work + extra;
  const T** win = reinterpret_cast<const T**>(block + ptrOffset);
  if (job.rowDone) std::memset(job.rowDone + yb, 1, size_t(ye - yb));
  // Rows cut by the rectangle's top or bottom run the complete-window kernels with each
  // missing row replaced by a pad row of 0 and the largest value.  A window of n real samples
  // takes element n / 2; padded to N = size x size with N / 2 - n / 2 zeros and the rest
  // maxima, element N / 2 of the padded window is that same sample (ties included).  Pad row
  // z holds 0 in the first z columns of every period of size columns, so each window of size
  // consecutive columns meets exactly z zeros in it.
  T* pads = nullptr;
  if (padded) {
    pads = work + extra - int64_t(size + 1) * rowSamples;
    for (int32_t z = 0; z <= size; ++z)
      for (int64_t k = 0; k < rowSamples; ++k)
        pads[z * rowSamples + k] = (k / ch) % size < z ? T(0) : T(~T(0));
  }
  const T* padWin[9];
  const size_t rowBytes = size_t(rowSamples) * sizeof(T);
  auto picRow = [&](int32_t v) { return RowPtr<T>(job.pic, job.x0, job.y0 + v); };
  auto ringRow = [&](int32_t v) { return ring + int64_t(v % ringRows) * rowSamples; };
  const T* haloTop = nullptr;
  const T* haloBottom = nullptr;
  if (band >= 0 && job.halo) {
    haloTop = reinterpret_cast<const T*>(job.halo) + int64_t(band) * 2 * r * rowSamples;
    haloBottom = haloTop + int64_t(r) * rowSamples;
  }
  for (int32_t y = yb; y < ye; ++y) {
    // Row y is about to be overwritten: keep its original for the next r rows.
    if (band >= 0) std::memcpy(ringRow(y), picRow(y), rowBytes);
    for (int32_t j = 0; j < size; ++j) {
      const int32_t v = y - r + j;
      if (v < 0 || v >= hc) win[j] = nullptr;
      else if (band < 0) win[j] = FilterSrcRow<T>(*job.fs, v);
      else if (v < yb) win[j] = haloTop + int64_t(v - (yb - r)) * rowSamples;
      else if (v >= ye) win[j] = haloBottom + int64_t(v - ye) * rowSamples;
      else if (v <= y) win[j] = ringRow(v);
      else win[j] = picRow(v);  // not written before row v's turn
    }
    const Window<T> w{win, y};
    T* out = band < 0 ? FilterDestRow<T>(*job.fs, y) : picRow(y);
    if constexpr (sizeof(T) == 1) {
      if (hist) {
        MedianHistRow(job, w, out);
        continue;
      }
    }
    const bool fullRows = y >= r && y + r < hc;
    const bool interior = fullRows && wc > 2 * r;
    const T* const* kernelRows = win;
    if (padded && !fullRows && wc > 2 * r) {
      const int32_t missing = std::max(r - y, 0) + std::max(y + r - (hc - 1), 0);
      const int64_t n = int64_t(size) * (size - missing);
      int64_t zeros = int64_t(size) * size / 2 - n / 2;
      for (int32_t j = 0; j < size; ++j) {
        if (win[j]) {
          padWin[j] = win[j];
          continue;
        }
        const int64_t z = std::min<int64_t>(zeros, size);
        zeros -= z;
        padWin[j] = pads + z * rowSamples;
      }
      kernelRows = padWin;
    }
    const bool complete = padded ? wc > 2 * r : interior;
    if (!complete && size <= 9) {
      // Shrunken windows along a whole row: a walk along the row beats a selection per pixel.
      // (The sorted array's shifts grow with the window: large ones select per pixel.)
      if constexpr (sizeof(T) == 1) MedianHistRow(job, w, out);
      else MedianSlideRow<T>(job, w, out, buf);
      continue;
    }
    if (complete && size == 3) {
      if (ch == 1) Median3Span<T, 1>(kernelRows, 1, rowSamples - 1, out, work);
      else Median3Span<T, 3>(kernelRows, 3, rowSamples - 3, out, work);
    } else if (complete && five) {
      if (ch == 1) Median5Span<T, 1>(kernelRows, 2, rowSamples - 2, out, work);
      else Median5Span<T, 3>(kernelRows, 6, rowSamples - 6, out, work);
    } else if (complete && net) {
      MedianNetRow<T>(job, NetFor(size), kernelRows, out, work);
    } else {
      SelectPixels<T>(job, w, 0, wc, out, buf);  // windows above 9 x 9
      continue;
    }
    SelectPixels<T>(job, w, 0, std::min(r, wc), out, buf);
    SelectPixels<T>(job, w, std::max(wc - r, r), wc, out, buf);
  }
  std::free(block);
}

template <int32_t Band>
void MedianPieces(void* ctx, uint64_t first, uint64_t count) {
  MedianJob& job = *static_cast<MedianJob*>(ctx);
  auto run = [&](int32_t yb, int32_t ye, int32_t band) {
    switch (job.bits) {
      case 8: MedianRowsT<uint8_t>(job, yb, ye, band); break;
      case 16: MedianRowsT<uint16_t>(job, yb, ye, band); break;
      default: MedianRowsT<uint32_t>(job, yb, ye, band); break;
    }
  };
  if (!Band) {
    run(int32_t(first), int32_t(first + count), -1);
    return;
  }
  for (uint64_t b = first; b < first + count; ++b) {
    const int32_t yb = int32_t(b) * job.bandRows;
    run(yb, std::min(job.hc, yb + job.bandRows), int32_t(b));
  }
}

// In place: bands of rows, their halos saved first; 0 (nothing written) without memory.
int32_t MedianInPlace(CImgBuff* img, const RoiRect& rc, MedianJob& job) {
  const int32_t hc = job.hc, r = job.r;
  const int64_t pixels = int64_t(job.wc) * hc;
  const uint64_t workers = ActiveWorkerCount();
  int64_t bands = 1;
  if (pixels >= ParallelPixelThreshold && workers >= 2) {
    // A few bands per worker so that uneven workers even out; each band several windows tall
    // so that the saved halos stay small beside the band.
    const int64_t minRows = std::max<int64_t>(16, 4 * int64_t(r) + 2);
    bands = std::min<int64_t>(int64_t(workers) * 3, std::max<int64_t>(1, hc / minRows));
  }
  job.bandRows = int32_t((hc + bands - 1) / bands);
  bands = (hc + job.bandRows - 1) / job.bandRows;
  job.pic = img->record;
  job.x0 = rc.x0;
  job.y0 = rc.y0;
  job.halo = nullptr;
  const size_t rowBytes = size_t(job.wc) * size_t(job.ch) * size_t(job.bits / 8);
  if (bands > 1 && r > 0) {  // a 1 x 1 window needs no neighbour rows
    job.halo = static_cast<uint8_t*>(std::malloc(size_t(bands) * 2 * size_t(r) * rowBytes));
    if (!job.halo) return 0;
    for (int64_t b = 0; b < bands; ++b) {
      const int32_t yb = int32_t(b) * job.bandRows, ye = std::min(hc, yb + job.bandRows);
      uint8_t* top = job.halo + size_t(b) * 2 * size_t(r) * rowBytes;
      uint8_t* bottom = top + size_t(r) * rowBytes;
      for (int32_t i = 0; i < r; ++i) {
        if (yb - r + i >= 0)
          std::memcpy(top + size_t(i) * rowBytes,
                      RowPtr<uint8_t>(job.pic, job.x0, job.y0 + yb - r + i), rowBytes);
        if (ye + i < hc)
          std::memcpy(bottom + size_t(i) * rowBytes,
                      RowPtr<uint8_t>(job.pic, job.x0, job.y0 + ye + i), rowBytes);
      }
    }
  }
  ParallelFor(MedianPieces<1>, &job, uint64_t(bands));
  std::free(job.halo);
  return job.result.load();
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t MedianFilter(CImgBuff* img, uint64_t size, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  if (size == 0 || (size & 1) == 0 || size >= 0x80000000ull) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  if (GetFormatSlot(img->Format()) == SlotNone || !img->Pixels()) return 0;
  const int32_t wc = r.x1 - r.x0 + 1, hc = r.y1 - r.y0 + 1;
  // A window larger than the rectangle in both directions is the rectangle: clip the size so
  // that buffers stay the rectangle's size whatever the caller asked.
  const int64_t reach = std::max(wc, hc);
  int64_t s = int64_t(size);
  if (s > 2 * reach + 1) s = 2 * reach + 1;
  MedianJob job;
  job.size = int32_t(s);
  job.r = int32_t(s / 2);
  job.wc = wc;
  job.hc = hc;
  job.fs = nullptr;
  job.pic = nullptr;
  job.x0 = job.y0 = 0;
  job.bandRows = 0;
  job.halo = nullptr;
  job.result.store(1);
  job.rowDone = nullptr;
  if (IsTypedFormat(img->Format()) && s <= 9) {
    job.ch = IsGrayFormat(img->Format()) ? 1 : 3;
    job.bits = FormatClassBits(img->Format());
    return MedianInPlace(img, r, job);
  }
  FilterSource fs;
  if (!PrepareFilterSource(img, r, &fs)) return 0;
  job.fs = &fs;
  job.ch = fs.channels;
  job.bits = FormatClassBits(fs.format);
  if (fs.isStaged) {
    job.rowDone = static_cast<uint8_t*>(std::calloc(size_t(hc), 1));
    if (!job.rowDone) return 0;
  }
  RunRows(MedianPieces<0>, &job, RoiRect{0, 0, wc - 1, hc - 1});
  StoreStagedResults(img, r, fs, job.rowDone);
  std::free(job.rowDone);
  return job.result.load();
}
