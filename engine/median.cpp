// median.cpp - MedianFilter: element n / 2 of the sorted window samples, channel by channel.
// Nothing sorts a whole window.  Where the window is complete, 3 x 3 uses sorted columns
// (the median of nine is the middle of: the largest column minimum, the middle column
// middle, the smallest column maximum), 5 x 5 to 9 x 9 a selection network built from
// Batcher's odd-even merge sort and pruned to the one output it must give, run over 64
// samples at a time; 8-bit pictures with windows of 7 and more keep a sliding histogram
// along the row, which also serves the shrunken border windows.  Every other window
// (borders, sizes above 9) selects its element with nth_element.  All of them return the
// same element of the same multiset.
// Inside: selection networks - generic selection - row kernels - entry
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/convolve.h"
#include "engine/neighbourhood.h"

namespace {

// ---- selection networks --------------------------------------------------------------------

// One step of a network on lane arrays: both outputs, or only the one the median needs.
struct NetOp {
  uint16_t a, b;   // a < b: after a full step v[a] = min, v[b] = max
  uint8_t kind;    // 0 both, 1 only v[a] = min, 2 only v[b] = max
};

struct MedianNet {
  std::vector<NetOp> ops;
  int32_t n = 0;
};

// Batcher's odd-even merge sort for the next power of two, comparators beyond n dropped (the
// missing inputs act as +infinity and never move), then pruned backwards from output n / 2.
MedianNet BuildMedianNet(int32_t n) {
  int32_t p2 = 1;
  while (p2 < n) p2 <<= 1;
  std::vector<NetOp> all;
  for (int32_t p = 1; p < p2; p <<= 1) {
    for (int32_t k = p; k >= 1; k >>= 1) {
      for (int32_t j = k % p; j <= p2 - 1 - k; j += 2 * k) {
        for (int32_t i = 0; i <= std::min(k - 1, p2 - j - k - 1); ++i) {
          if ((i + j) / (2 * p) != (i + j + k) / (2 * p)) continue;
          const int32_t a = i + j, b = i + j + k;
          if (b < n) all.push_back(NetOp{uint16_t(a), uint16_t(b), 0});
        }
      }
    }
  }
  std::vector<char> needed(size_t(n), 0);
  needed[size_t(n / 2)] = 1;
  std::vector<NetOp> kept;
  for (size_t q = all.size(); q-- > 0;) {
    NetOp op = all[q];
    const bool na = needed[op.a] != 0, nb = needed[op.b] != 0;
    if (!na && !nb) continue;
    op.kind = uint8_t(na && nb ? 0 : (na ? 1 : 2));
    needed[op.a] = needed[op.b] = 1;
    kept.push_back(op);
  }
  std::reverse(kept.begin(), kept.end());
  MedianNet net;
  net.ops = std::move(kept);
  net.n = n;
  return net;
}

// Networks for 5 x 5, 7 x 7 and 9 x 9, built once.
const MedianNet& NetFor(int32_t size) {
  static std::once_flag once;
  static MedianNet nets[3];
  std::call_once(once, [] {
    nets[0] = BuildMedianNet(25);
    nets[1] = BuildMedianNet(49);
    nets[2] = BuildMedianNet(81);
  });
  return nets[(size - 5) / 2];
}

constexpr int32_t Lanes = 64;

#define QV_MEDIAN_CLONES __attribute__((target_clones("avx2", "default")))

template <class T>
QV_MEDIAN_CLONES void RunNet(const MedianNet& net, T* v /* [n][Lanes] */) {
  for (const NetOp& op : net.ops) {
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

// ---- generic selection ---------------------------------------------------------------------

struct MedianJob {
  const FilterSource* fs;
  int32_t size, r;
  int32_t wc, hc;
  std::atomic<int32_t> result;
  uint8_t* rowDone;  // staged formats: rows whose results exist (a failed worker leaves 0)
};

// Window of (x, y) clipped to the copy, channel c, element n / 2.
template <class T>
inline T SelectWindow(const MedianJob& job, int32_t x, int32_t y, int32_t c, T* buf) {
  const int32_t ch = job.fs->channels, r = job.r;
  const int32_t u0 = std::max(x - r, 0), u1 = std::min(x + r, job.wc - 1);
  const int32_t v0 = std::max(y - r, 0), v1 = std::min(y + r, job.hc - 1);
  int64_t n = 0;
  for (int32_t v = v0; v <= v1; ++v) {
    const T* s = FilterSrcRow<T>(*job.fs, v) + int64_t(u0) * ch + c;
    for (int32_t u = u0; u <= u1; ++u, s += ch) buf[n++] = *s;
  }
  std::nth_element(buf, buf + n / 2, buf + n);
  return buf[n / 2];
}

template <class T>
void SelectPixels(const MedianJob& job, int32_t y, int32_t xb, int32_t xe, T* out, T* buf) {
  const int32_t ch = job.fs->channels;
  for (int32_t x = xb; x < xe; ++x)
    for (int32_t c = 0; c < ch; ++c) out[int64_t(x) * ch + c] = SelectWindow<T>(job, x, y, c, buf);
}

// ---- row kernels ---------------------------------------------------------------------------

template <class T>
inline T Min(T a, T b) { return a < b ? a : b; }
template <class T>
inline T Max(T a, T b) { return a < b ? b : a; }

// 3 x 3 with all three rows inside: column sorts over the row, then the middle of the three
// column extremes and middles for the interior samples [ch, (wc - 1) x ch).
template <class T>
QV_MEDIAN_CLONES void Median3Span(const T* __restrict a, const T* __restrict b,
                                  const T* __restrict c, int64_t n, int32_t ch, T* __restrict out,
                                  T* __restrict lo, T* __restrict mid, T* __restrict hi) {
  for (int64_t k = 0; k < n; ++k) {
    const T p = Min(a[k], b[k]), q = Max(a[k], b[k]);
    lo[k] = Min(p, c[k]);
    const T r = Max(p, c[k]);
    mid[k] = Min(q, r);
    hi[k] = Max(q, r);
  }
  for (int64_t k = ch; k < n - ch; ++k) {
    const T l = Max(Max(lo[k - ch], lo[k]), lo[k + ch]);
    const T h = Min(Min(hi[k - ch], hi[k]), hi[k + ch]);
    const T m0 = mid[k - ch], m1 = mid[k], m2 = mid[k + ch];
    const T m = Max(Min(m0, m1), Min(Max(m0, m1), m2));
    out[k] = Max(Min(l, m), Min(Max(l, m), h));
  }
}

template <class T>
void Median3Row(const MedianJob& job, int32_t y, T* out, T* lo, T* mid, T* hi) {
  const int32_t ch = job.fs->channels;
  Median3Span<T>(FilterSrcRow<T>(*job.fs, y - 1), FilterSrcRow<T>(*job.fs, y),
                 FilterSrcRow<T>(*job.fs, y + 1), int64_t(job.wc) * ch, ch, out, lo, mid, hi);
}

// A complete window of 5 x 5 to 9 x 9: the pruned network over chunks of Lanes samples.
template <class T>
void MedianNetRow(const MedianJob& job, const MedianNet& net, int32_t y, T* out, T* lanes) {
  const int32_t ch = job.fs->channels, r = job.r, size = job.size;
  const int64_t k0 = int64_t(r) * ch, k1 = int64_t(job.wc - r) * ch;  // interior samples
  const T* rows[9];
  for (int32_t j = 0; j < size; ++j) rows[j] = FilterSrcRow<T>(*job.fs, y + j - r);
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

// 8-bit windows of 7 and more: one histogram per channel slides along the row; the median
// is tracked as a level m with lt = number of window samples below m.
void MedianHistRow(const MedianJob& job, int32_t y, uint8_t* out) {
  const int32_t ch = job.fs->channels, r = job.r, wc = job.wc;
  const int32_t v0 = std::max(y - r, 0), v1 = std::min(y + r, job.hc - 1);
  const int32_t rows = v1 - v0 + 1;
  const uint8_t* rp[512];  // rows of the window (the entry sends larger sizes elsewhere)
  for (int32_t v = v0; v <= v1; ++v) rp[v - v0] = FilterSrcRow<uint8_t>(*job.fs, v);
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

template <class T>
void MedianRowsT(MedianJob& job, int32_t yb, int32_t ye) {
  const FilterSource& fs = *job.fs;
  const int32_t ch = fs.channels, r = job.r, size = job.size, wc = job.wc, hc = job.hc;
  const bool hist = sizeof(T) == 1 && size >= 7 && size <= 511;  // rp[] holds the rows
  const bool net = !hist && size >= 5 && size <= 9;
  const int64_t window = int64_t(size) * size;
  const int64_t rowSamples = int64_t(wc) * ch;
  // One block per worker: the selection buffer, plus lanes or column sorts.
  int64_t need = std::min<int64_t>(window, int64_t(std::min(size, wc)) * std::min(size, hc));
  if (size == 3) need += 3 * rowSamples;
  if (net) need += window * Lanes;
  T* buf = static_cast<T*>(std::malloc(size_t(need) * sizeof(T)));
  if (!buf) {
    job.result.store(0);
    return;
  }
  if (job.rowDone) std::memset(job.rowDone + yb, 1, size_t(ye - yb));
  T* extra = buf + std::min<int64_t>(window, int64_t(std::min(size, wc)) * std::min(size, hc));
  for (int32_t y = yb; y < ye; ++y) {
    T* out = FilterDestRow<T>(fs, y);
    if constexpr (sizeof(T) == 1) {
      if (hist) {
        MedianHistRow(job, y, out);
        continue;
      }
    }
    const bool fullRows = y >= r && y + r < hc;
    const bool interior = fullRows && wc > 2 * r;
    if (interior && size == 3) {
      Median3Row<T>(job, y, out, extra, extra + rowSamples, extra + 2 * rowSamples);
    } else if (interior && net) {
      MedianNetRow<T>(job, NetFor(size), y, out, extra);
    } else {
      SelectPixels<T>(job, y, 0, wc, out, buf);
      continue;
    }
    SelectPixels<T>(job, y, 0, std::min(r, wc), out, buf);
    SelectPixels<T>(job, y, std::max(wc - r, r), wc, out, buf);
  }
  std::free(buf);
}

void MedianRows(void* ctx, uint64_t first, uint64_t count) {
  MedianJob& job = *static_cast<MedianJob*>(ctx);
  const int32_t yb = int32_t(first), ye = int32_t(first + count);
  switch (FormatClassBits(job.fs->format)) {
    case 8: MedianRowsT<uint8_t>(job, yb, ye); break;
    case 16: MedianRowsT<uint16_t>(job, yb, ye); break;
    default: MedianRowsT<uint32_t>(job, yb, ye); break;
  }
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t MedianFilter(CImgBuff* img, uint64_t size, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  if (size == 0 || (size & 1) == 0 || size >= 0x80000000ull) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  if (GetFormatSlot(img->Format()) == SlotNone || !img->Pixels()) return 0;
  FilterSource fs;
  if (!PrepareFilterSource(img, r, &fs)) return 0;
  const int32_t wc = fs.copy.Width(), hc = fs.copy.Height();
  // A window larger than the rectangle in both directions is the rectangle: clip the size so
  // that buffers stay the rectangle's size whatever the caller asked.
  const int64_t reach = std::max(wc, hc);
  int64_t s = int64_t(size);
  if (s > 2 * reach + 1) s = 2 * reach + 1;
  MedianJob job;
  job.fs = &fs;
  job.size = int32_t(s);
  job.r = int32_t(s / 2);
  job.wc = wc;
  job.hc = hc;
  job.result.store(1);
  job.rowDone = nullptr;
  if (fs.isStaged) {
    job.rowDone = static_cast<uint8_t*>(std::calloc(size_t(hc), 1));
    if (!job.rowDone) return 0;
  }
  RunRows(MedianRows, &job, RoiRect{0, 0, wc - 1, hc - 1});
  StoreStagedResults(img, r, fs, job.rowDone);
  std::free(job.rowDone);
  return job.result.load();
}
