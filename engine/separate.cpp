// separate.cpp - SeparateParticles on 8-bit level pictures of the rectangle's size.
//  - Levels: a two-pass chessboard distance transform (the fixed point of the level-by-level
//    grassfire, capped at 255), then the 3 x 3 box mean of ConvolveInt.
//  - Seeds: plateaus (equal level, connectivity c1) are labelled once with union-find.  A
//    plateau is a seed when it encloses nothing - its Euler number, summed from 2 x 2 bit
//    quads (c1 foreground, dual background), is 1 - and no pixel of it touches higher ground.
//  - Seed components (8-connected) are numbered in raster order of their first pixel.
//  - Growth: each level's pixels are visited through wave-front queues: a sweep looks only at
//    pixels beside those labelled by the previous sweep, and all decisions of a sweep are
//    taken before any is applied, so the result is that of full synchronous sweeps.
//  - Boundary cut (in place, raster order), notch refill (8-connectivity), painting.
//  - Every work array is taken at the entry, before any step runs: running out of memory
//    is a result (0, picture unchanged), never an exception.  The steps share four index
//    planes and three byte planes between them.
// Inside: work planes - levels - plateaus and seeds - seed labels - growth - cut and refill -
//         painting - entry
#include "engine/separate.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/convolve.h"
#include "engine/pixel.h"
#include "engine/scratch.h"

namespace {

constexpr int32_t kN4[4][2] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
constexpr int32_t kN8[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};

struct Plane {
  int32_t w, h;
  int64_t n;
};

// ---- work planes ---------------------------------------------------------------------------

std::atomic<int32_t> failCountdown{0};  // test hook: the n-th plane taken from now on fails

template <class T>
int32_t TakePlane(ScratchArray<T>& a, int64_t n) {
  const int32_t c = failCountdown.load();
  if (c > 0) {
    failCountdown.store(c - 1);
    if (c == 1) return 0;
  }
  if (!a.Reserve(size_t(n))) return 0;
  a.Resize(size_t(n));
  return 1;
}

// The planes of one call, each w x h.  Which step uses which:
//   idx[0]  distance (levels) - parent (seeds, labels) - pixels by level (growth)
//   idx[1]  plateau root (seeds) - sweep stamp (growth)
//   idx[2]  Euler number x 4 (seeds) - candidates (growth)
//   idx[3]  next candidates (growth)
//   flag    higher ground (seeds) - label of a root (labels) - grown label (growth)
//   seed    seed pixels (seeds, labels) - snapshot (notch refill)
//   label   labels (labels to painting)
struct Work {
  ScratchArray<int32_t> idx[4];
  ScratchArray<uint8_t> flag, seed, label;
  int32_t Take(int64_t n) {
    for (ScratchArray<int32_t>& a : idx)
      if (!TakePlane(a, n)) return 0;
    return TakePlane(flag, n) && TakePlane(seed, n) && TakePlane(label, n);
  }
};

int32_t Find(int32_t* parent, int32_t i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

void Unite(int32_t* parent, int32_t a, int32_t b) {
  a = Find(parent, a);
  b = Find(parent, b);
  if (a == b) return;
  if (a < b) parent[b] = a;
  else parent[a] = b;
}

// ---- levels --------------------------------------------------------------------------------

// Chessboard distance to the nearest 0 pixel or to the outside of the plane, capped at 255.
// d: a plane of scratch.
void ChessboardLevels(uint8_t* lv, const Plane& p, int32_t* d) {
  const int32_t w = p.w, h = p.h;
  for (int64_t i = 0; i < p.n; ++i) d[size_t(i)] = lv[i] ? 0xFFFF : 0;
  auto at = [&](int32_t x, int32_t y) -> uint32_t {
    return (x < 0 || y < 0 || x >= w || y >= h) ? 0u : uint32_t(d[size_t(int64_t(y) * w + x)]);
  };
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      int32_t& v = d[size_t(int64_t(y) * w + x)];
      if (!v) continue;
      uint32_t m = at(x - 1, y - 1);
      m = std::min(m, at(x, y - 1));
      m = std::min(m, at(x + 1, y - 1));
      m = std::min(m, at(x - 1, y));
      v = int32_t(std::min<uint32_t>(uint32_t(v), m + 1));
    }
  for (int32_t y = h - 1; y >= 0; --y)
    for (int32_t x = w - 1; x >= 0; --x) {
      int32_t& v = d[size_t(int64_t(y) * w + x)];
      if (!v) continue;
      uint32_t m = at(x + 1, y + 1);
      m = std::min(m, at(x, y + 1));
      m = std::min(m, at(x - 1, y + 1));
      m = std::min(m, at(x + 1, y));
      v = int32_t(std::min<uint32_t>(uint32_t(v), m + 1));
    }
  for (int64_t i = 0; i < p.n; ++i) lv[i] = uint8_t(d[size_t(i)] > 255 ? 255 : d[size_t(i)]);
}

// ---- plateaus and seeds --------------------------------------------------------------------

// seed[i] = 1 at the pixels of the plateaus that are summits.
void FindSeeds(const uint8_t* lv, const Plane& p, int32_t c1, Work& wk, uint8_t* seed) {
  const int32_t w = p.w, h = p.h;
  int32_t* parent = wk.idx[0].Data();
  for (int64_t i = 0; i < p.n; ++i) parent[size_t(i)] = int32_t(i);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int64_t i = int64_t(y) * w + x;
      const uint8_t v = lv[i];
      if (!v) continue;
      if (x > 0 && lv[i - 1] == v) Unite(parent, int32_t(i), int32_t(i - 1));
      if (y > 0 && lv[i - w] == v) Unite(parent, int32_t(i), int32_t(i - w));
      if (c1 == 8 && y > 0) {
        if (x > 0 && lv[i - w - 1] == v) Unite(parent, int32_t(i), int32_t(i - w - 1));
        if (x + 1 < w && lv[i - w + 1] == v) Unite(parent, int32_t(i), int32_t(i - w + 1));
      }
    }
  int32_t* root = wk.idx[1].Data();
  for (int64_t i = 0; i < p.n; ++i) root[i] = lv[i] ? Find(parent, int32_t(i)) : -1;
  // Euler number x 4 per plateau from the 2 x 2 quads, and the higher-ground flag.
  int32_t* euler4 = wk.idx[2].Data();
  uint8_t* higher = wk.flag.Data();
  std::fill(euler4, euler4 + p.n, 0);
  std::fill(higher, higher + p.n, uint8_t(0));
  const int32_t diag = c1 == 8 ? -2 : 2;
  auto rootAt = [&](int32_t x, int32_t y) -> int32_t {
    return (x < 0 || y < 0 || x >= w || y >= h) ? -1 : root[size_t(int64_t(y) * w + x)];
  };
  for (int32_t y = -1; y < h; ++y)
    for (int32_t x = -1; x < w; ++x) {
      const int32_t q[4] = {rootAt(x, y), rootAt(x + 1, y), rootAt(x, y + 1), rootAt(x + 1, y + 1)};
      for (int32_t k = 0; k < 4; ++k) {
        const int32_t L = q[k];
        if (L < 0) continue;
        bool seen = false;
        for (int32_t m = 0; m < k; ++m) seen = seen || q[m] == L;
        if (seen) continue;
        const int32_t bits = (q[0] == L) | (q[1] == L) << 1 | (q[2] == L) << 2 | (q[3] == L) << 3;
        const int32_t count = __builtin_popcount(unsigned(bits));
        if (count == 1) euler4[size_t(L)] += 1;
        else if (count == 3) euler4[size_t(L)] -= 1;
        else if (bits == 0x9 || bits == 0x6) euler4[size_t(L)] += diag;
      }
    }
  const int32_t(*nb)[2] = c1 == 8 ? kN8 : kN4;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int64_t i = int64_t(y) * w + x;
      const uint8_t v = lv[i];
      if (!v || higher[size_t(root[size_t(i)])]) continue;
      for (int32_t k = 0; k < c1; ++k) {
        const int32_t u = x + nb[k][0], t = y + nb[k][1];
        if (u < 0 || t < 0 || u >= w || t >= h) continue;
        if (lv[int64_t(t) * w + u] > v) {
          higher[size_t(root[size_t(i)])] = 1;
          break;
        }
      }
    }
  for (int64_t i = 0; i < p.n; ++i) {
    const int32_t L = root[size_t(i)];
    seed[i] = L >= 0 && euler4[size_t(L)] == 4 && !higher[size_t(L)];
  }
}

// ---- seed labels ---------------------------------------------------------------------------

// 8-connected seed components numbered 1, 2, ..., 255, 1, ... in raster order of their first
// pixel; label[] = 0 elsewhere.
void LabelSeeds(const uint8_t* seed, const Plane& p, Work& wk, uint8_t* label) {
  const int32_t w = p.w, h = p.h;
  int32_t* parent = wk.idx[0].Data();
  for (int64_t i = 0; i < p.n; ++i) parent[size_t(i)] = int32_t(i);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int64_t i = int64_t(y) * w + x;
      if (!seed[i]) continue;
      if (x > 0 && seed[i - 1]) Unite(parent, int32_t(i), int32_t(i - 1));
      if (y > 0) {
        if (seed[i - w]) Unite(parent, int32_t(i), int32_t(i - w));
        if (x > 0 && seed[i - w - 1]) Unite(parent, int32_t(i), int32_t(i - w - 1));
        if (x + 1 < w && seed[i - w + 1]) Unite(parent, int32_t(i), int32_t(i - w + 1));
      }
    }
  // A root is the smallest index of its component, i.e. its first pixel in raster order.
  uint8_t* rootLabel = wk.flag.Data();
  std::memset(rootLabel, 0, size_t(p.n));
  int32_t next = 1;
  for (int64_t i = 0; i < p.n; ++i) {
    if (!seed[i]) {
      label[i] = 0;
      continue;
    }
    const int32_t r = Find(parent, int32_t(i));
    if (!rootLabel[size_t(r)]) {
      rootLabel[size_t(r)] = uint8_t(next);
      next = next == 255 ? 1 : next + 1;
    }
    label[i] = rootLabel[size_t(r)];
  }
}

// ---- growth --------------------------------------------------------------------------------

// The label that every labelled neighbour carries, or 0 when there is none or two differ.
inline uint8_t AgreedLabel(const uint8_t* S, const Plane& p, int32_t conn, int32_t x, int32_t y) {
  const int32_t(*nb)[2] = conn == 8 ? kN8 : kN4;
  uint8_t found = 0;
  for (int32_t k = 0; k < conn; ++k) {
    const int32_t u = x + nb[k][0], t = y + nb[k][1];
    if (u < 0 || t < 0 || u >= p.w || t >= p.h) continue;
    const uint8_t l = S[int64_t(t) * p.w + u];
    if (!l) continue;
    if (found && l != found) return 0;
    found = l;
  }
  return found;
}

void GrowRegions(uint8_t* S, const uint8_t* lv, const Plane& p, int32_t maxLevel, int32_t conn,
                 Work& wk) {
  const int32_t w = p.w;
  // Pixels bucketed by level, in raster order.
  int64_t start[257] = {};
  for (int64_t i = 0; i < p.n; ++i) ++start[size_t(lv[i]) + 1];
  for (int32_t l = 0; l < 256; ++l) start[size_t(l) + 1] += start[size_t(l)];
  int32_t* byLevel = wk.idx[0].Data();
  {
    int64_t at[256];
    std::memcpy(at, start, sizeof(at));
    for (int64_t i = 0; i < p.n; ++i) byLevel[at[lv[i]]++] = int32_t(i);
  }
  const int32_t(*nb)[2] = conn == 8 ? kN8 : kN4;
  uint32_t* stamp = reinterpret_cast<uint32_t*>(wk.idx[1].Data());  // sweep that last queued it
  std::memset(stamp, 0, size_t(p.n) * sizeof(uint32_t));
  uint32_t sweep = 0;
  // Candidates of a sweep; those that grow are packed to the front, their labels beside them.
  int32_t* cand = wk.idx[2].Data();
  int32_t* next = wk.idx[3].Data();
  uint8_t* grownLabel = wk.flag.Data();
  const int32_t top = maxLevel == 0 ? 255 : maxLevel - 1;
  for (int32_t L = top; L >= 1; --L) {
    int64_t nc = 0;
    for (int64_t k = start[size_t(L)]; k < start[size_t(L) + 1]; ++k) {
      const int32_t i = byLevel[k];
      if (!S[i]) cand[nc++] = i;
    }
    while (nc > 0) {
      ++sweep;
      int64_t ng = 0;
      for (int64_t c = 0; c < nc; ++c) {
        const int32_t i = cand[c];
        const uint8_t l = AgreedLabel(S, p, conn, i % w, i / w);
        if (!l) continue;
        cand[ng] = i;
        grownLabel[ng++] = l;
      }
      if (ng == 0) break;
      for (int64_t g = 0; g < ng; ++g) S[cand[g]] = grownLabel[g];
      // Only pixels beside this sweep's growth can change in the next one.
      int64_t nn = 0;
      for (int64_t g = 0; g < ng; ++g) {
        const int32_t i = cand[g];
        const int32_t x = i % w, y = i / w;
        for (int32_t k = 0; k < conn; ++k) {
          const int32_t u = x + nb[k][0], t = y + nb[k][1];
          if (u < 0 || t < 0 || u >= w || t >= p.h) continue;
          const int32_t j = t * w + u;
          if (lv[j] != L || S[j] || stamp[j] == sweep) continue;
          stamp[j] = sweep;
          next[nn++] = j;
        }
      }
      std::swap(cand, next);
      nc = nn;
    }
  }
}

// ---- cut and refill ------------------------------------------------------------------------

// In place, raster order: a labelled pixel beside a smaller non-zero label becomes 0.
void CutBoundaries(uint8_t* S, const Plane& p, int32_t conn) {
  const int32_t(*nb)[2] = conn == 8 ? kN8 : kN4;
  for (int32_t y = 0; y < p.h; ++y)
    for (int32_t x = 0; x < p.w; ++x) {
      uint8_t& a = S[int64_t(y) * p.w + x];
      if (!a) continue;
      for (int32_t k = 0; k < conn; ++k) {
        const int32_t u = x + nb[k][0], t = y + nb[k][1];
        if (u < 0 || t < 0 || u >= p.w || t >= p.h) continue;
        const uint8_t n = S[int64_t(t) * p.w + u];
        if (n && n < a) {
          a = 0;
          break;
        }
      }
    }
}

// An unlabelled pixel whose 4 neighbours show exactly three equal labels before any other
// label gets that label; read from a snapshot.
// snapshot: a byte plane of scratch.
void RefillNotches(uint8_t* S, const Plane& p, uint8_t* snapshot) {
  const uint8_t* G = snapshot;
  std::memcpy(snapshot, S, size_t(p.n));
  for (int32_t y = 0; y < p.h; ++y)
    for (int32_t x = 0; x < p.w; ++x) {
      const int64_t i = int64_t(y) * p.w + x;
      if (G[i]) continue;
      uint8_t cand = 0;
      int32_t count = 0;
      for (int32_t k = 0; k < 4; ++k) {
        const int32_t u = x + kN4[k][0], t = y + kN4[k][1];
        if (u < 0 || t < 0 || u >= p.w || t >= p.h) continue;
        const uint8_t l = G[int64_t(t) * p.w + u];
        if (!l) continue;
        if (!cand) {
          cand = l;
          count = 1;
        } else if (l == cand) {
          ++count;
        } else {
          break;
        }
      }
      if (count == 3) S[i] = cand;
    }
}

// ---- painting ------------------------------------------------------------------------------

struct PaintJob {
  C_ImgBuff* rec;
  RoiRect r;
  const uint8_t* label;
  uint8_t fill;
};

void PaintRows(void* ctx, uint64_t first, uint64_t count) {
  const PaintJob& j = *static_cast<const PaintJob*>(ctx);
  int32_t yb, ye;
  PieceRows(j.r, first, count, &yb, &ye);
  const int32_t w = j.r.x1 - j.r.x0 + 1;
  for (int32_t y = yb; y < ye; ++y) {
    const uint8_t* lab = j.label + int64_t(y - j.r.y0) * w;
    auto paint = [&]<int NB, int CH>() {
      for (int32_t x = 0; x < w; ++x)
        if (!lab[x]) StoreGray<NB, CH, 8>(RowPtr<SampleType<NB>>(j.rec, j.r.x0 + x, y), j.fill);
    };
    if (!DispatchTyped(j.rec->format, paint))
      for (int32_t x = 0; x < w; ++x)
        if (!lab[x]) j.rec->SetGray8(j.r.x0 + x, y, j.fill);
  }
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

void FailSeparateAllocationForTesting(int32_t n) { failCountdown.store(n > 0 ? n : 0); }

int32_t SeparateParticles(CImgBuff* img, int32_t grayMode, int32_t conn, int32_t valueFlag,
                          const RoiRect* roi) {
  if (!img || !img->record || !IsValidFormat(img->Format()) || !img->Pixels()) return 0;
  if (img->Width() < 1 || img->Height() < 1 || (conn != 4 && conn != 8)) return 0;
  RoiRect r{0, 0, img->Width() - 1, img->Height() - 1};
  if (roi) {
    r = *roi;
    if (r.x0 < 0 || r.y0 < 0 || r.x0 > r.x1 || r.y0 > r.y1 || r.x1 >= img->Width() ||
        r.y1 >= img->Height())
      return 0;
  }
  const uint8_t fill = valueFlag ? 255 : 0;
  CImgBuff lvPic;
  if (!img->Crop(lvPic, r.x0, r.y0, r.x1, r.y1) || !lvPic.record->ConvertTo(1)) return 0;
  const Plane p{lvPic.Width(), lvPic.Height(), int64_t(lvPic.Width()) * lvPic.Height()};
  // Pixels are indexed with 32 bits in the union-find and growth planes.
  if (p.n > 0x7FFFFFFF) return 0;
  Work wk;
  if (!wk.Take(p.n)) return 0;
  uint8_t* lv = static_cast<uint8_t*>(lvPic.Pixels());
  int32_t maxLevel = 0;
  if (!grayMode) {
    for (int64_t i = 0; i < p.n; ++i) lv[i] = (valueFlag ? uint8_t(255 - lv[i]) : lv[i]) ? 1 : 0;
    ChessboardLevels(lv, p, wk.idx[0].Data());
    static const int32_t box[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    if (!ConvolveInt(&lvPic, 3, box, 1, 1, nullptr)) return 0;
  }
  for (int64_t i = 0; i < p.n; ++i) maxLevel = lv[i] > maxLevel ? lv[i] : maxLevel;
  if (!grayMode && maxLevel == 0) return 0;

  const int32_t c1 = conn;
  uint8_t* seed = wk.seed.Data();
  uint8_t* label = wk.label.Data();
  FindSeeds(lv, p, c1, wk, seed);
  LabelSeeds(seed, p, wk, label);
  GrowRegions(label, lv, p, maxLevel, conn, wk);
  CutBoundaries(label, p, conn);
  if (conn == 8) RefillNotches(label, p, seed);

  PaintJob job{img->record, r, label, fill};
  RunRows(PaintRows, &job, r);
  return 1;
}
