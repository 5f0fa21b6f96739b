// match.cpp - MatchTemplate (whole-pixel search with a half-size pyramid), HalveImage and the
// sub-pixel refinement.
//
// The search converts the part of the image that a level can read, and the template, into
// comparison planes once per level; candidate rows then go to the worker pool and every
// position is scored from the planes without allocation.  The pyramid halves only the part of
// each level that the coarser levels and the final 4 x 4 searches can reach (worked out from
// the windows before anything is halved), which gives the same pixels as halving the whole
// picture.  Best positions are merged by (score, distance to the centre, y, x), a total order,
// so the answer does not depend on how the rows were split.  Normalised gray and R, G, B
// levels run the row worker of matchstretch.cpp; SearchRows below stays as the plain path
// (MatchFastPaths off) that it is tested against.  The refinement takes its scores from a
// RegionScorer, or from RegionDissimilarityAt on the plain path.
// Inside: halving - level planning - level search - whole-pixel entry - sub-pixel refinement
#include "engine/match.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/matchsearch.h"
#include "engine/pixel.h"
#include "engine/region.h"
#include "engine/regionplane.h"

namespace {

int32_t Usable(const CImgBuff* img) {
  return img && img->record && IsValidFormat(img->record->format) && img->record->pixels &&
         img->record->width >= 1 && img->record->height >= 1;
}

// ---- halving -------------------------------------------------------------------------------

// Destination pixel (i, j) is the mean of the source's (2 (hx0 + i) - ox, 2 (hy0 + j) - oy)
// block: the source may itself be a part of a larger picture with its top-left at (ox, oy).
struct HalveJob {
  const C_ImgBuff* src;
  C_ImgBuff* dst;
  int32_t sx0, sy0;  // source pixel of destination (0, 0)
  int32_t typed;
};

template <int NB, int CH>
void HalveRowTyped(const HalveJob& job, int32_t j) {
  typedef SampleType<NB> T;
  const T* a = RowPtr<const T>(job.src, job.sx0, job.sy0 + 2 * j);
  const T* b = RowPtr<const T>(job.src, job.sx0, job.sy0 + 2 * j + 1);
  T* d = RowPtr<T>(job.dst, 0, j);
  const int32_t w = job.dst->width;
  for (int32_t i = 0; i < w; ++i, a += 2 * CH, b += 2 * CH, d += CH) {
    if constexpr (CH == 1) {
      const uint32_t s = GrayAt<NB, 1, 8>(a) + GrayAt<NB, 1, 8>(a + 1) + GrayAt<NB, 1, 8>(b + 1) +
                         GrayAt<NB, 1, 8>(b);
      StoreGray<NB, 1, 8>(d, s / 4);
    } else {
      uint32_t r[4], g[4], bl[4];
      RgbAt<NB, 3, 8>(a, &r[0], &g[0], &bl[0]);
      RgbAt<NB, 3, 8>(a + 3, &r[1], &g[1], &bl[1]);
      RgbAt<NB, 3, 8>(b + 3, &r[2], &g[2], &bl[2]);
      RgbAt<NB, 3, 8>(b, &r[3], &g[3], &bl[3]);
      StoreRgb<NB, 3, 8>(d, (r[0] + r[1] + r[2] + r[3]) / 4, (g[0] + g[1] + g[2] + g[3]) / 4,
                         (bl[0] + bl[1] + bl[2] + bl[3]) / 4);
    }
  }
}

void HalveRowAccessor(const HalveJob& job, int32_t j) {
  const C_ImgBuff* s = job.src;
  const int32_t y = job.sy0 + 2 * j;
  const int32_t colour = s->format >= 4;
  for (int32_t i = 0; i < job.dst->width; ++i) {
    const int32_t x = job.sx0 + 2 * i;
    const int32_t px[4] = {x, x + 1, x + 1, x}, py[4] = {y, y, y + 1, y + 1};
    uint32_t sum[3] = {0, 0, 0};
    for (int k = 0; k < 4; ++k) {
      uint8_t c[3] = {0, 0, 0};
      if (colour) s->GetRGB8(px[k], py[k], &c[0], &c[1], &c[2]);
      else s->GetGray8(px[k], py[k], &c[0]);
      for (int q = 0; q < 3; ++q) sum[q] += c[q];
    }
    if (colour) job.dst->SetRGB8(i, j, uint8_t(sum[0] / 4), uint8_t(sum[1] / 4), uint8_t(sum[2] / 4));
    else job.dst->SetGray8(i, j, uint8_t(sum[0] / 4));
  }
}

void HalveRows(void* ctx, uint64_t first, uint64_t count) {
  const HalveJob& job = *static_cast<const HalveJob*>(ctx);
  for (uint64_t j = first; j < first + count; ++j) {
    if (!job.typed || !DispatchTyped(job.src->format, [&]<int NB, int CH>() { HalveRowTyped<NB, CH>(job, int32_t(j)); }))
      HalveRowAccessor(job, int32_t(j));
  }
}

// dst = the halved pixels (hx0 .. hx0 + w - 1, hy0 .. hy0 + h - 1) of a level whose pixels src
// holds from (ox, oy) on; the caller keeps the needed source block inside src.
int32_t HalveRegion(const C_ImgBuff* src, int32_t ox, int32_t oy, int32_t hx0, int32_t hy0, int32_t w,
                    int32_t h, C_ImgBuff* dst) {
  if (!dst->Allocate(w, h, src->format)) return 0;
  HalveJob job{src, dst, 2 * hx0 - ox, 2 * hy0 - oy, IsTypedFormat(src->format) && EngineTypedKernels()};
  if (int64_t(w) * h >= ParallelPixelThreshold) ParallelFor(HalveRows, &job, uint64_t(h));
  else HalveRows(&job, 0, uint64_t(h));
  return 1;
}

// ---- level planning ------------------------------------------------------------------------

constexpr int32_t kMaxLevels = 32;

struct Rect64 {
  int64_t x0, y0, x1, y1;
  bool Empty() const { return x0 > x1 || y0 > y1; }
};

struct Level {
  int32_t iw = 0, ih = 0, tw = 0, th = 0;
  int32_t wx0 = 0, wy0 = 0, wx1 = 0, wy1 = 0;  // window as handed to this level
  int32_t cx = 0, cy = 0;
  Rect64 need{0, 0, -1, -1};  // pixels of this level any search may read
  CImgBuff pic;               // levels above 0: the needed pixels, top-left at need (x0, y0)
  CImgBuff tpl;               // levels above 0: the halved template
  const C_ImgBuff* rec = nullptr;
  const C_ImgBuff* trec = nullptr;
  int32_t ox = 0, oy = 0;
};

Rect64 ClampedWindow(const Level& L) {
  return Rect64{L.wx0 < 0 ? 0 : L.wx0, L.wy0 < 0 ? 0 : L.wy0,
                L.wx1 < int64_t(L.iw) - L.tw ? L.wx1 : int64_t(L.iw) - L.tw,
                L.wy1 < int64_t(L.ih) - L.th ? L.wy1 : int64_t(L.ih) - L.th};
}

Rect64 Union(const Rect64& a, const Rect64& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return Rect64{a.x0 < b.x0 ? a.x0 : b.x0, a.y0 < b.y0 ? a.y0 : b.y0, a.x1 > b.x1 ? a.x1 : b.x1,
                a.y1 > b.y1 ? a.y1 : b.y1};
}

// Pixels read by the positions of r with the level's template.
Rect64 Footprint(const Rect64& r, const Level& L) {
  if (r.Empty()) return r;
  return Rect64{r.x0, r.y0, r.x1 + L.tw - 1, r.y1 + L.th - 1};
}

// Positions a level below the coarsest can search: its own clamped window when the level
// above fails to build, or the 4 x 4 block around twice any coarse answer, which lies within
// two positions of the window (the coarse window is this one halved toward zero).
Rect64 ReachablePositions(const Level& L) {
  const int64_t hx = int64_t(L.iw) - L.tw, hy = int64_t(L.ih) - L.th;
  Rect64 r{int64_t(L.wx0) - 2, int64_t(L.wy0) - 2, (L.wx1 > 0 ? int64_t(L.wx1) : 0) + 2,
           (L.wy1 > 0 ? int64_t(L.wy1) : 0) + 2};
  if (r.x0 < 0) r.x0 = 0;
  if (r.y0 < 0) r.y0 = 0;
  if (r.x1 > hx) r.x1 = hx;
  if (r.y1 > hy) r.y1 = hy;
  return r;
}

// ---- level search --------------------------------------------------------------------------

std::atomic<int32_t> g_fastPaths{1};

void SearchRows(void* ctx, uint64_t first, uint64_t count) {
  SearchJob& job = *static_cast<SearchJob*>(ctx);
  NormaliseScratch scratch;
  if (job.normalise && job.tpl->mode != CompareLab &&
      !scratch.Prepare(job.img->format, int64_t(job.tpl->w) * job.tpl->h * job.tpl->Channels(), job.tpl->mode)) {
    job.failed.store(1);
    return;
  }
  const int32_t stretch = job.normalise && job.tpl->mode != CompareLab;
  const CompareMode mode = job.tpl->mode;
  // Stretched search: the extremes of every candidate of a row come from one pass over the
  // rows the candidates cover, not from rescanning each candidate.
  const int32_t across = job.x1 - job.x0 + 1;
  PlaneBuffer<uint8_t> extremes;
  if (stretch && !extremes.Reserve(2 * int64_t(across) + 2 * int64_t(across + job.tpl->w) * job.tpl->Channels())) {
    job.failed.store(1);
    return;
  }
  uint8_t* rowLo = extremes.Data();
  uint8_t* rowHi = rowLo + across;
  uint8_t* extremesScratch = rowHi + across;
  Best mine{0, 0, 0, 0};
  int32_t have = 0;
  // Unstretched sums only grow pixel by pixel: a position whose running sum passes the
  // piece's best sum can neither win nor tie, so it is left early.  Exact, not a heuristic.
  int64_t bestU8 = INT64_MAX;
  double bestLab = HUGE_VAL;
  for (uint64_t r = first; r < first + count; ++r) {
    const int32_t y = job.y0 + int32_t(r);
    const double dy = double(y) - double(job.cy);
    int32_t stop = 0;
    if (stretch)
      RegionExtremesRow(*job.img, job.x0 - job.px0, y - job.py0, across, job.tpl->w, job.tpl->h, rowLo, rowHi,
                        extremesScratch);
    for (int32_t x = job.x0; x <= job.x1; ++x) {
      if (job.cancel && job.cancel(job.user)) {
        job.cancelled.store(1);
        stop = 1;
        break;
      }
      double s;
      int64_t sumU8 = 0;
      double sumLab = 0;
      if (stretch) {
        const int64_t sad = StretchedSadU8(*job.img, x - job.px0, y - job.py0, *job.tpl, rowLo[x - job.x0],
                                           rowHi[x - job.x0], &scratch);
        s = ScoreFromSadU8(mode, sad, job.tpl->w, job.tpl->h);
      } else if (mode == CompareLab) {
        if (!BoundedSumLab(*job.img, x - job.px0, y - job.py0, *job.tpl, bestLab, &sumLab)) continue;
        s = ScoreFromSum(mode, sumLab, job.tpl->w, job.tpl->h);
      } else {
        if (!BoundedSumU8(*job.img, x - job.px0, y - job.py0, *job.tpl, bestU8, &sumU8)) continue;
        s = ScoreFromSum(mode, double(sumU8), job.tpl->w, job.tpl->h);
      }
      if (s < 0) continue;
      const double dx = double(x) - double(job.cx);
      const Best b{s, dx * dx + dy * dy, x, y};
      if (!have || Better(b, mine)) {
        mine = b;
        have = 1;
        bestU8 = sumU8;
        bestLab = sumLab;
      }
    }
    if (stop) break;
  }
  if (have) MergeBest(job, mine);
}

// Scores every position of the clamped window w of level L.  Returns 1 when a best position
// was found and no cancel was seen; writes outX, outY and the score whenever a position was
// scored, the score -1.0 otherwise.
int32_t SearchLevel(const Level& L, const Rect64& w, int32_t cx, int32_t cy, int32_t* outX, int32_t* outY,
                    int32_t normalise, int32_t colourMode, double* score, MatchCancelFn cancel, void* user) {
  auto fail = [&]() {
    if (score) *score = -1.0;
    return 0;
  };
  const CompareMode mode = CompareModeFor(L.trec->format, colourMode);
  const int32_t labFifty = normalise && mode == CompareLab;
  const int32_t pw = int32_t(w.x1 - w.x0) + L.tw, ph = int32_t(w.y1 - w.y0) + L.th;
  ComparePlane img, tpl;
  if (!BuildPlane(L.rec, int32_t(w.x0) - L.ox, int32_t(w.y0) - L.oy, pw, ph, mode, labFifty, 1, &img)) return fail();
  if (!BuildPlane(L.trec, 0, 0, L.tw, L.th, mode, labFifty, 1, &tpl)) return fail();
  if (normalise && mode != CompareLab && !NormalisePlaneU8(&tpl)) return fail();

  MergeLock lock;
  SearchJob job{&img, &tpl, normalise, int32_t(w.x0), int32_t(w.x1), int32_t(w.y0), int32_t(w.x0),
                int32_t(w.y0), cx, cy, cancel, user, lock.Get(), 0, Best{0, 0, 0, 0}, {0}, {0}};
  const int64_t rows = w.y1 - w.y0 + 1, positions = rows * (w.x1 - w.x0 + 1);
  const int32_t stretched = normalise && mode != CompareLab && MatchFastPaths();
  // Without a lock the pieces must not merge side by side; a small level is not worth
  // waking the pool.  The stretched worker sums only the few positions its bounds leave, some
  // ten nanoseconds a position: below about 16384 positions it is done before the pool would
  // have handed out the pieces.
  const int32_t onCaller = stretched ? positions < 16384
                                    : positions * int64_t(L.tw) * L.th < 16 * int64_t(ParallelPixelThreshold);
  const ParallelForFn worker = stretched ? StretchedSearchRows : SearchRows;
  if (!lock.Valid() || onCaller) worker(&job, 0, uint64_t(rows));
  else ParallelFor(worker, &job, uint64_t(rows));
  if (job.failed.load()) return fail();
  // A search stopped before any position was merged has no answer; reporting its cleared
  // record (0, 0) with score 0 would read as a perfect match.
  if (!job.merged) return fail();
  if (score) *score = job.best.score;
  *outX = job.best.x;
  *outY = job.best.y;
  if (job.cancelled.load()) return 0;
  if (cancel && cancel(user)) return 0;
  return 1;
}

}  // namespace

void MergeBest(SearchJob& job, const Best& mine) {
  MergeHold hold(job.lock);
  if (!job.merged || Better(mine, job.best)) {
    job.best = mine;
    job.merged = 1;
  }
}

int32_t MatchFastPaths() { return g_fastPaths.load(std::memory_order_relaxed); }
void SetMatchFastPaths(int32_t on) { g_fastPaths.store(on ? 1 : 0); }

// ---- whole-pixel entry ---------------------------------------------------------------------

int32_t MatchTemplate(CImgBuff* image, CImgBuff* templ, int32_t cx, int32_t cy, int32_t x0, int32_t y0,
                      int32_t x1, int32_t y1, int32_t* outX, int32_t* outY, int32_t normalise,
                      int32_t colourMode, int32_t pyramid, double* score, MatchCancelFn cancel, void* user) {
  auto fail = [&]() {
    if (score) *score = -1.0;
    return 0;
  };
  if (!Usable(image) || !Usable(templ) || !outX || !outY) return fail();

  // Plan the levels top-down exactly as the recursive search would descend.
  Level levels[kMaxLevels];
  int32_t count = 0;
  {
    Level& L = levels[0];
    L.iw = image->Width();
    L.ih = image->Height();
    L.tw = templ->Width();
    L.th = templ->Height();
    L.wx0 = x0, L.wy0 = y0, L.wx1 = x1, L.wy1 = y1;
    L.cx = cx, L.cy = cy;
    L.rec = image->record;
    L.trec = templ->record;
  }
  for (;;) {
    Level& L = levels[count++];
    if (int64_t(L.tw) + L.wx0 > L.iw || int64_t(L.th) + L.wy0 > L.ih) return fail();
    const bool halve = pyramid && L.tw >= 16 && L.th >= 16 && int64_t(L.wx1) - L.wx0 >= 7 &&
                       int64_t(L.wy1) - L.wy0 >= 7 && L.iw / 2 >= 1 && L.ih / 2 >= 1 && count < kMaxLevels;
    if (!halve) break;
    Level& C = levels[count];
    C.iw = L.iw / 2, C.ih = L.ih / 2, C.tw = L.tw / 2, C.th = L.th / 2;
    C.wx0 = L.wx0 / 2, C.wy0 = L.wy0 / 2, C.wx1 = L.wx1 / 2, C.wy1 = L.wy1 / 2;
    C.cx = L.cx / 2, C.cy = L.cy / 2;
  }
  // What each level can read, bottom-up: its own reachable positions and what the level
  // above halves from it.
  for (int32_t k = count - 1; k >= 1; --k) {
    Level& L = levels[k];
    Rect64 own = Footprint(k == count - 1 ? ClampedWindow(L) : ReachablePositions(L), L);
    if (k + 1 < count) {
      const Rect64& up = levels[k + 1].need;
      if (!up.Empty()) own = Union(own, Rect64{2 * up.x0, 2 * up.y0, 2 * up.x1 + 1, 2 * up.y1 + 1});
    }
    L.need = own;
  }
  // Halve top-down; a level that cannot be built makes the one below it the coarsest, which
  // then searches its whole window.
  for (int32_t k = 1; k < count; ++k) {
    Level& L = levels[k];
    const Level& F = levels[k - 1];
    if (L.need.Empty()) break;  // nothing reachable: the coarsest window is empty below
    const int32_t w = int32_t(L.need.x1 - L.need.x0 + 1), h = int32_t(L.need.y1 - L.need.y0 + 1);
    if (!HalveRegion(F.rec, F.ox, F.oy, int32_t(L.need.x0), int32_t(L.need.y0), w, h, L.pic.record) ||
        !HalveRegion(F.trec, 0, 0, 0, 0, L.tw, L.th, L.tpl.record)) {
      count = k;
      break;
    }
    L.rec = L.pic.record;
    L.trec = L.tpl.record;
    L.ox = int32_t(L.need.x0);
    L.oy = int32_t(L.need.y0);
  }

  // The coarsest level searches its clamped window; each finer one the 4 x 4 positions
  // around twice the answer below, that answer's double winning ties.
  const Level& top = levels[count - 1];
  const Rect64 w = ClampedWindow(top);
  if (w.Empty()) return fail();
  int32_t found = SearchLevel(top, w, top.cx, top.cy, outX, outY, normalise, colourMode, score, cancel, user);
  for (int32_t k = count - 2; k >= 0; --k) {
    if (!found) return fail();
    const Level& L = levels[k];
    const int64_t bx = 2 * int64_t(*outX), by = 2 * int64_t(*outY);
    Rect64 r{bx - 1, by - 1, bx + 2, by + 2};
    if (r.x0 < 0) r.x0 = 0;
    if (r.y0 < 0) r.y0 = 0;
    if (r.x1 > int64_t(L.iw) - L.tw) r.x1 = int64_t(L.iw) - L.tw;
    if (r.y1 > int64_t(L.ih) - L.th) r.y1 = int64_t(L.ih) - L.th;
    if (r.Empty()) return fail();
    found = SearchLevel(L, r, int32_t(bx), int32_t(by), outX, outY, normalise, colourMode, score, cancel, user);
  }
  return found;
}

// ---- halving entry -------------------------------------------------------------------------

int32_t HalveImage(CImgBuff* src, CImgBuff* dst) {
  if (!Usable(src) || !dst || !dst->record) return 0;
  const int32_t w = src->Width() / 2, h = src->Height() / 2;
  if (w < 1 || h < 1) {
    dst->Free();  // the allocation of an empty size fails and leaves the picture empty
    return 0;
  }
  if (dst->record == src->record) {
    CImgBuff half;
    if (!HalveRegion(src->record, 0, 0, 0, 0, w, h, half.record)) return 0;
    dst->CopyFrom(half);
    return Usable(dst);
  }
  return HalveRegion(src->record, 0, 0, 0, 0, w, h, dst->record);
}

// ---- sub-pixel refinement ------------------------------------------------------------------

namespace {

// The scores of the refinement: RegionDissimilarityAt itself, or a scorer that gives the
// same values from planes made once (prepared at the first score, after the cancel test).
struct RefineScores {
  RefineScores(CImgBuff* i, CImgBuff* t, int32_t n, int32_t c, int32_t f)
      : image(i), templ(t), normalise(n), colourMode(c), fast(f) {}
  CImgBuff* image;
  CImgBuff* templ;
  int32_t normalise, colourMode;
  int32_t fast;  // use the scorer
  int32_t prepared = 0;
  RegionScorer scorer;
  double At(double x, double y) {
    if (fast && !prepared) {
      prepared = 1;
      fast = scorer.Prepare(image, templ, normalise, colourMode);
    }
    return fast ? scorer.At(x, y) : RegionDissimilarityAt(image, templ, x, y, normalise, colourMode);
  }
};

int32_t RefineRange(RefineScores& scores, double x0, double y0, double x1, double y1, double* fx, double* fy,
                    double step, double* score, MatchCancelFn cancel, void* user) {
  if (cancel && cancel(user)) return 0;
  auto answer = [&](double s, double x, double y) {
    if (score) *score = s;
    *fx = x;
    *fy = y;
    return 1;
  };
  const double cx = (x0 + x1) * 0.5, cy = (y0 + y1) * 0.5;
  const double xs[3] = {x0, cx, x1}, ys[3] = {y0, cy, y1};
  double s[9];
  s[4] = scores.At(cx, cy);
  if (s[4] <= 0.0) return answer(s[4], cx, cy);
  for (int32_t k = 0; k < 9; ++k)
    if (k != 4) s[k] = scores.At(xs[k % 3], ys[k / 3]);

  static const int32_t kQuad[4][4] = {{0, 1, 3, 4}, {1, 2, 4, 5}, {3, 4, 6, 7}, {4, 5, 7, 8}};
  int32_t q = -1;
  double qSum = 0;
  for (int32_t i = 0; i < 4; ++i) {
    double sum = 0;
    bool bad = false;
    for (int32_t c = 0; c < 4; ++c) {
      const int32_t k = kQuad[i][c];
      if (k == 4) continue;
      if (s[k] < 0) bad = true;
      sum += s[k];
    }
    if (bad) continue;
    if (q < 0 || sum < qSum) {
      q = i;
      qSum = sum;
    }
  }
  if (q < 0) return answer(s[4], cx, cy);
  const int32_t first = kQuad[q][0], last = kQuad[q][3];

  // The halves must also be narrower than this level: with a step of 0 or below, or finer
  // than the positions can resolve, the midpoint lands on a corner and the descent would
  // otherwise never end.
  if (x1 - x0 > step && x0 < cx && cx < x1) {
    double sx = 0, sy = 0, s9 = -1.0;
    const int32_t got = RefineRange(scores, xs[first % 3], ys[first / 3], xs[last % 3], ys[last / 3], &sx, &sy, step,
                                    &s9, cancel, user);
    // Candidate: the deeper answer when it beats the centre, else the centre; then any grid
    // point with a smaller score, or an equal one nearer the centre by index (the deeper
    // answer counts as index 5).
    int32_t cand = 4;
    double cs = s[4], cxv = cx, cyv = cy;
    if (got == 1 && s9 >= 0 && s9 < s[4]) {
      cand = 5;
      cs = s9, cxv = sx, cyv = sy;
    }
    for (int32_t k = 0; k < 9; ++k) {
      if (s[k] < 0) continue;
      if (s[k] < cs || (s[k] == cs && std::abs(k - 4) < std::abs(cand - 4))) {
        cand = k;
        cs = s[k], cxv = xs[k % 3], cyv = ys[k / 3];
      }
    }
    return answer(cs, cxv, cyv);
  }
  int32_t pick = -1;
  for (int32_t c = 0; c < 4; ++c) {
    const int32_t k = kQuad[q][c];
    if (s[k] < 0) continue;
    if (pick < 0 || s[k] < s[pick]) pick = k;
  }
  return answer(s[pick], xs[pick % 3], ys[pick / 3]);
}

}  // namespace

int32_t MatchTemplateSubpixelRange(CImgBuff* image, CImgBuff* templ, double x0, double y0, double x1,
                                   double y1, double* fx, double* fy, int32_t normalise, int32_t colourMode,
                                   double step, double* score, MatchCancelFn cancel, void* user) {
  if (!fx || !fy) return 0;
  RefineScores scores(image, templ, normalise, colourMode, MatchFastPaths());
  return RefineRange(scores, x0, y0, x1, y1, fx, fy, step, score, cancel, user);
}

int32_t MatchTemplateSubpixel(CImgBuff* image, CImgBuff* templ, int32_t x, int32_t y, double* fx, double* fy,
                              int32_t normalise, int32_t colourMode, double step, double* score,
                              MatchCancelFn cancel, void* user) {
  if (!(step > 0)) return 0;
  return MatchTemplateSubpixelRange(image, templ, double(x) - 1.0, double(y) - 1.0, double(x) + 1.0,
                                    double(y) + 1.0, fx, fy, normalise, colourMode, step, score, cancel, user);
}
