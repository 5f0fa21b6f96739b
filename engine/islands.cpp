// islands.cpp - island extraction and measurement.
// The object mask of the rectangle is searched in raster order; each island is taken out of it
// as row runs and worked on in a byte map of its own bounding box (one pixel of padding
// around it), reused from island to island, so the cost of an island is its box, never the
// rectangle.  A count without measuring is one labelling pass over runs where the result
// allows it.
// Inside: contour walk - rotated boxes - object mask - brightness rows - the island finder -
//         measuring - counting by runs - entry
#include "engine/islands.h"

#include <cmath>
#include <cstring>

#include "engine/pixel.h"

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Sqrt2 = 1.41421356237309504880;
constexpr double DegToRad = 0.017453292519943295;

// Chain directions clockwise from "up", y growing downward.
constexpr int32_t Dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int32_t Dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// ---- contour walk --------------------------------------------------------------------------

// Chain walk around the region holding (x, y); test(x, y) says whether a position is inside
// the region (positions one step outside the mask must read as not set).  Points are
// written with (ox, oy) added.  The walk is a closed cycle; maxSteps only guards against a
// region the rule was not made for.
template <class Test>
int32_t WalkContour(const Test& test, int32_t x, int32_t y, int32_t conn8, int32_t inner,
                    int64_t maxSteps, ScratchArray<ContourPoint>* out, double ox, double oy) {
  static constexpr int32_t Outer4[] = {2, 4}, Outer8[] = {2, 3, 4, 5};
  static constexpr int32_t Inner4[] = {4, 6}, Inner8[] = {3, 4, 5, 6};
  const int32_t* tries = inner ? (conn8 ? Inner8 : Inner4) : (conn8 ? Outer8 : Outer4);
  const int32_t nTries = conn8 ? 4 : 2;
  out->Clear();
  int32_t first = -1;
  for (int32_t i = 0; i < nTries; ++i) {
    if (test(x + Dx[tries[i]], y + Dy[tries[i]])) {
      first = tries[i];
      break;
    }
  }
  if (first < 0) return out->Push(ContourPoint{x + ox, y + oy}) ? 1 : -1;
  const int32_t step = conn8 ? 1 : 2, searches = conn8 ? 7 : 4;
  int32_t px = x, py = y, d = first;
  for (int64_t k = 0; k < maxSteps; ++k) {
    if (!out->Push(ContourPoint{px + ox, py + oy})) return -1;
    px += Dx[d];
    py += Dy[d];
    int32_t next = -1;
    for (int32_t t = 0, nd = (d + 6) & 7; t < searches; ++t, nd = (nd + step) & 7) {
      if (test(px + Dx[nd], py + Dy[nd])) {
        next = nd;
        break;
      }
    }
    if (next < 0) break;  // the way back is always among the tries; kept as a guard
    if (px == x && py == y && next == first) break;
    d = next;
  }
  return out->Size() > size_t(INT32_MAX) ? -1 : int32_t(out->Size());
}

// Closed polygon length of chain points: each step 1 or sqrt 2, the last joined to the first.
double ClosedChainLength(const ContourPoint* p, int32_t n) {
  double len = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const ContourPoint& a = p[i];
    const ContourPoint& b = p[i + 1 == n ? 0 : i + 1];
    len += (a.x != b.x && a.y != b.y) ? Sqrt2 : 1.0;
  }
  return len;
}

int64_t StepGuard(int64_t w, int64_t h) {
  const int64_t g = 8 * (w + 2) * (h + 2) + 16;
  return g > INT32_MAX ? INT32_MAX : g;
}

// ---- rotated boxes -------------------------------------------------------------------------

struct TrigTable {
  double c[90], s[90];
  TrigTable() {
    for (int32_t a = 0; a < 90; ++a) {
      c[a] = std::cos(a * DegToRad);
      s[a] = std::sin(a * DegToRad);
    }
  }
};
const TrigTable& Trig() {
  static const TrigTable table;
  return table;
}

double ExtentCS(const ContourPoint* pts, int32_t n, double c, double s, double* w, double* h) {
  double umin = 0, umax = 0, vmin = 0, vmax = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double u = pts[i].x * c - pts[i].y * s;
    const double v = pts[i].x * s + pts[i].y * c;
    if (i == 0 || u < umin) umin = u;
    if (i == 0 || u > umax) umax = u;
    if (i == 0 || v < vmin) vmin = v;
    if (i == 0 || v > vmax) vmax = v;
  }
  *w = umax - umin + 1.0;
  *h = vmax - vmin + 1.0;
  return *w * *h;
}

double ExtentAtDegree(const ContourPoint* pts, int32_t n, int32_t deg, double* w, double* h) {
  const TrigTable& t = Trig();
  return ExtentCS(pts, n, t.c[deg], t.s[deg], w, h);
}

}  // namespace

int32_t TraceContour(const BitMask* mask, int32_t x, int32_t y, int32_t conn, int32_t innerStart,
                     ScratchArray<ContourPoint>* out) {
  if (!mask || !out || (conn != 4 && conn != 8) || !BitMaskGetPixel(mask, x, y)) return -1;
  auto test = [mask](int32_t px, int32_t py) { return BitMaskGetPixel(mask, px, py) != 0; };
  return WalkContour(test, x, y, conn == 8, innerStart, StepGuard(mask->width, mask->height), out,
                     0.0, 0.0);
}

double RotatedExtent(const ContourPoint* pts, int32_t n, double angleDeg, double* outWidth,
                     double* outHeight) {
  double w = 0, h = 0;
  const double t = angleDeg * DegToRad;
  const double area = n > 0 ? ExtentCS(pts, n, std::cos(t), std::sin(t), &w, &h) : 0.0;
  if (outWidth) *outWidth = w;
  if (outHeight) *outHeight = h;
  return area;
}

void MinAreaRectAngle(const ContourPoint* pts, int32_t n, double* outShort, double* outLong,
                      double* outInclination) {
  double shortSide = 0, longSide = 0, incl = 0;
  if (pts && n > 0) {
    double area[30], bw = 0, bh = 0, best = 0;
    int32_t bestDeg = 0;
    for (int32_t k = 0; k < 30; ++k) {
      double w, h;
      area[k] = ExtentAtDegree(pts, n, 3 * k, &w, &h);
      if (k == 0 || area[k] < best) {
        best = area[k];
        bestDeg = 3 * k;
        bw = w;
        bh = h;
      }
    }
    auto refine = [&](int32_t deg) {
      double w, h;
      const double a = ExtentAtDegree(pts, n, deg, &w, &h);
      if (a < best) {
        best = a;
        bestDeg = deg;
        bw = w;
        bh = h;
      }
    };
    // 0 and 87 degrees are neighbours: a quarter turn gives the same box.
    const bool min0 = area[29] > area[0] && area[1] >= area[0];
    if (min0) {
      refine(1);
      refine(2);
    }
    for (int32_t k = 1; k < 30; ++k) {
      const bool isMin = k < 29 ? (area[k - 1] > area[k] && area[k + 1] >= area[k])
                                : (area[28] > area[29] && area[0] >= area[29]);
      if (!isMin) continue;
      const int32_t m = 3 * k;
      refine(m - 2);
      refine(m - 1);
      if (m + 1 < 90) refine(m + 1);
      if (m + 2 < 90) refine(m + 2);
    }
    if (min0) {
      refine(88);
      refine(89);
    }
    if (bw < bh) {
      shortSide = bw;
      longSide = bh;
      incl = Pi / 2 - bestDeg * Pi / 180;
    } else {
      shortSide = bh;
      longSide = bw;
      incl = 0.0 - bestDeg * Pi / 180;
    }
  }
  if (outShort) *outShort = shortSide;
  if (outLong) *outLong = longSide;
  if (outInclination) *outInclination = incl;
}

namespace {

// ---- object mask ---------------------------------------------------------------------------

struct ThresholdJob {
  const C_ImgBuff* rec;
  BitMask* mask;
  RoiRect r;
  uint32_t background;  // object range is every gray value but this one
  int32_t typed;
};

uint32_t GrayAtClassByAccessor(const C_ImgBuff* rec, int32_t x, int32_t y) {
  switch (FormatClassBits(rec->format)) {
    case 8: {
      uint8_t v = 0;
      rec->GetGray8(x, y, &v);
      return v;
    }
    case 16: {
      uint16_t v = 0;
      rec->GetGray16(x, y, &v);
      return v;
    }
    default: {
      uint32_t v = 0;
      rec->GetGray32(x, y, &v);
      return v;
    }
  }
}

void ThresholdRows(void* ctx, uint64_t first, uint64_t count) {
  const ThresholdJob& job = *static_cast<const ThresholdJob*>(ctx);
  int32_t yb, ye;
  PieceRows(job.r, first, count, &yb, &ye);
  const int32_t n = int32_t(RoiWidth(job.r));
  for (int32_t y = yb; y < ye; ++y) {
    uint32_t* out = BitMaskRow(job.mask, y - job.r.y0);
    if (job.typed && job.rec->format == 1) {
      PackRowNotEqual8(RowPtr<uint8_t>(job.rec, job.r.x0, y), out, n, uint8_t(job.background));
    } else if (job.typed) {
      DispatchTyped(job.rec->format, [&]<int NB, int CH>() {
        PackRowNotEqualTyped<NB, CH, NB>(RowPtr<SampleType<NB>>(job.rec, job.r.x0, y), out, n,
                                  job.background);
      });
    } else {
      for (int32_t i = 0; i < n; ++i)
        if (GrayAtClassByAccessor(job.rec, job.r.x0 + i, y) != job.background) RowSet(out, i);
    }
  }
}

// The object mask of the rectangle: gray at the depth class in [1, max] for a black
// background, [0, max - 1] for a white one, i.e. every value but the background.
BitMask* ThresholdToMask(const C_ImgBuff* rec, const RoiRect& r, int32_t valueFlag) {
  BitMask* mask = BitMaskCreate(int32_t(RoiWidth(r)), int32_t(RoiHeight(r)));
  if (!mask) return nullptr;
  ThresholdJob job{rec, mask, r, BinaryBackground(rec->format, valueFlag),
                   IsTypedFormat(rec->format) && EngineTypedKernels()};
  RunRows(ThresholdRows, &job, r);
  return mask;
}

// ---- brightness rows -----------------------------------------------------------------------

typedef unsigned __int128 U128;

// Brightness and gravity sums of one island, exact (no wrap-around at any size).
struct BrightSums {
  uint64_t count;
  uint32_t maxV, minV;
  U128 total, sw, swx, swy;
};

// Weight of a gray value v: 1 (unweighted), v, or class maximum - v (white background),
// the last being v XOR the all-ones maximum.
struct WeightRule {
  int32_t unweighted;
  uint32_t flip;
};

typedef void (*BrightRowFn)(const C_ImgBuff* rec, int32_t px, int32_t py, int32_t n, int32_t X0,
                            int32_t Y, WeightRule wr, BrightSums* s);

template <int NB, int CH>
void BrightRowTyped(const C_ImgBuff* rec, int32_t px, int32_t py, int32_t n, int32_t X0,
                    int32_t Y, WeightRule wr, BrightSums* s) {
  const SampleType<NB>* p = RowPtr<SampleType<NB>>(rec, px, py);
  uint32_t mx = s->maxV, mn = s->minV;
  uint64_t tot = 0, sw = 0;
  U128 swx = 0;
  for (int32_t i = 0; i < n; ++i, p += CH) {
    const uint32_t v = GrayAt<NB, CH, NB>(p);
    if (v > mx) mx = v;
    if (v < mn) mn = v;
    tot += v;
    const uint64_t w = wr.unweighted ? 1u : (v ^ wr.flip);
    sw += w;
    swx += U128(w) * uint64_t(X0 + i);
  }
  s->count += uint64_t(n);
  s->maxV = mx;
  s->minV = mn;
  s->total += tot;
  s->sw += sw;
  s->swx += swx;
  s->swy += U128(sw) * uint64_t(Y);
}

void BrightRowAccessor(const C_ImgBuff* rec, int32_t px, int32_t py, int32_t n, int32_t X0,
                       int32_t Y, WeightRule wr, BrightSums* s) {
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t v = GrayAtClassByAccessor(rec, px + i, py);
    if (v > s->maxV) s->maxV = v;
    if (v < s->minV) s->minV = v;
    s->total += v;
    const uint64_t w = wr.unweighted ? 1u : (v ^ wr.flip);
    s->sw += w;
    s->swx += U128(w) * uint64_t(X0 + i);
    s->swy += U128(w) * uint64_t(Y);
  }
  s->count += uint64_t(n);
}

BrightRowFn PickBrightRow(int32_t format) {
  if (!EngineTypedKernels()) return BrightRowAccessor;
  switch (format) {
    case 1: return BrightRowTyped<8, 1>;
    case 2: return BrightRowTyped<16, 1>;
    case 3: return BrightRowTyped<32, 1>;
    case 4: return BrightRowTyped<8, 3>;
    case 5: return BrightRowTyped<16, 3>;
    case 6: return BrightRowTyped<32, 3>;
    default: return BrightRowAccessor;
  }
}

// ---- the island finder ---------------------------------------------------------------------

// Byte map of an island's box, one pixel of padding around it.  Bits: 1 the island (mask A),
// 2 set in the hole mask (island, background reached from the box border, other islands'
// pixels inside the island), 4 padding.  0 is an enclosed background pixel: a hole.
constexpr uint8_t StIsland = 3, StReached = 2, StPad = 4;

struct IslandFinder {
  BitMask* mask = nullptr;    // object pixels not yet taken, rectangle coordinates
  BitMask* nested = nullptr;  // islands not yet counted as nested (separateNested only)
  int32_t width = 0, height = 0;
  ~IslandFinder() {
    BitMaskDestroy(mask);
    BitMaskDestroy(nested);
  }
};

struct FoundIsland {
  int32_t x = 0, y = 0, width = 0, height = 0;  // box, rectangle coordinates
  int64_t stride = 0;                           // width + 2
  ScratchArray<uint8_t> map;
  ScratchArray<MaskRun> runs;  // the island's own runs as taken from the mask
  uint64_t pixels = 0;         // pixels of A, joined islands included
  uint64_t holePixels = 0;     // enclosed background left after the joins
  uint64_t joined = 0;         // pixels of islands inside holes that joined this one
  uint64_t nested = 0;         // islands inside holes counted as nested

  uint8_t* At(int32_t bx, int32_t by) { return map.Data() + (by + 1) * stride + (bx + 1); }
};

struct Work {
  const IslandParams* p;
  const C_ImgBuff* rec;
  RoiRect r;
  int32_t conn8;
  IslandFinder finder;
  FoundIsland island;
  ScratchArray<int64_t> stack;
  ScratchArray<MaskRun> scratchRuns;
  ScratchArray<ContourPoint> contour, holeContour;
  BrightRowFn brightRow;
  WeightRule weight;
};

// 4-connected fill of the 0 pixels of the map from the seeds on the stack; each is set to
// `paint` and counted.  touchesIsland (may be null) is set when a filled pixel has a pixel of
// the island beside it.  0 without memory.
int32_t FillZeros(Work& w, uint8_t paint, uint64_t* count, int32_t* touchesIsland = nullptr) {
  FoundIsland& is = w.island;
  uint8_t* m = is.map.Data();
  const int64_t st = is.stride;
  while (w.stack.Size()) {
    const int64_t i = w.stack.Back();
    w.stack.Pop();
    const int64_t nb[4] = {i - st, i - 1, i + 1, i + st};
    for (int64_t j : nb) {
      if (touchesIsland && m[j] == StIsland) *touchesIsland = 1;
      if (m[j] != 0) continue;
      m[j] = paint;
      ++*count;
      if (!w.stack.Push(j)) return 0;
    }
  }
  return 1;
}

// Next island from the search position (sx, sy): taken out of the object mask with its box
// map ready (island, reached background, nested islands, holes).  1 found, 0 none, -1 no
// memory.
int32_t ExtractNextIsland(Work& w, int32_t sx, int32_t sy) {
  IslandFinder& f = w.finder;
  FoundIsland& is = w.island;
  int32_t fx = -1, fy = sy;
  for (int32_t x = sx; fy < f.height; ++fy, x = 0) {
    fx = RowNextSet(BitMaskRow(f.mask, fy), x, f.width - 1);
    if (fx >= 0) break;
  }
  if (fx < 0) return 0;
  is.runs.Clear();
  MaskBox box;
  if (!BitMaskTakeIsland(f.mask, fx, fy, w.conn8, &is.runs, &box)) return -1;
  is.x = box.x0;
  is.y = box.y0;
  is.width = box.x1 - box.x0 + 1;
  is.height = box.y1 - box.y0 + 1;
  is.stride = int64_t(is.width) + 2;
  is.nested = is.joined = is.holePixels = 0;
  const int64_t rows = int64_t(is.height) + 2;
  const int64_t size = is.stride * rows;
  if (!is.map.Reserve(size_t(size))) return -1;
  uint8_t* m = is.map.Data();
  std::memset(m, StPad, size_t(is.stride));
  std::memset(m + (rows - 1) * is.stride, StPad, size_t(is.stride));
  for (int64_t y = 1; y < rows - 1; ++y) {
    uint8_t* row = m + y * is.stride;
    row[0] = StPad;
    std::memset(row + 1, 0, size_t(is.width));
    row[is.width + 1] = StPad;
  }
  uint64_t pixels = 0;
  for (size_t i = 0; i < is.runs.Size(); ++i) {
    const MaskRun& run = is.runs[i];
    std::memset(is.At(run.x0 - is.x, run.y - is.y), StIsland, size_t(run.x1 - run.x0 + 1));
    pixels += uint64_t(run.x1 - run.x0 + 1);
  }
  is.pixels = pixels;
  const uint64_t boxPixels = uint64_t(is.width) * uint64_t(is.height);
  if (boxPixels == pixels) return 1;

  // Background of the box reached from its border with 4-connectivity, whatever conn is;
  // what stays 0 is enclosed by the island.
  uint64_t reached = 0;
  w.stack.Clear();
  auto seed = [&](int32_t bx, int32_t by) {
    uint8_t* q = is.At(bx, by);
    if (*q != 0) return 1;
    *q = StReached;
    ++reached;
    return w.stack.Push(q - m);
  };
  for (int32_t y = 0; y < is.height; ++y)
    if (!seed(0, y) || !seed(is.width - 1, y)) return -1;
  for (int32_t x = 0; x < is.width; ++x)
    if (!seed(x, 0) || !seed(x, is.height - 1)) return -1;
  if (!FillZeros(w, StReached, &reached)) return -1;
  uint64_t enclosed = boxPixels - pixels - reached;
  if (enclosed == 0) return 1;

  // Enclosed pixels: another island's pixel there is set in the hole mask; it is counted as
  // nested (separateNested) or joins this island.
  const int32_t separate = w.p->separateNested != 0;
  for (int32_t y = 1; y + 1 < is.height && enclosed; ++y) {
    uint8_t* row = is.At(0, y);
    uint32_t* orow = BitMaskRow(f.mask, is.y + y);
    for (int32_t x = 1; x + 1 < is.width; ++x) {
      if (row[x] != 0) continue;
      const int32_t gx = is.x + x, gy = is.y + y;
      if (!RowTest(orow, gx)) continue;
      --enclosed;
      if (separate) {
        row[x] = StReached;
        if (f.nested && RowTest(BitMaskRow(f.nested, gy), gx)) {
          ++is.nested;
          w.scratchRuns.Clear();
          MaskBox nb;
          if (!BitMaskTakeIsland(f.nested, gx, gy, w.conn8, &w.scratchRuns, &nb)) return -1;
        }
      } else {
        row[x] = StIsland;
        RowClear(orow, gx);
        ++is.joined;
        ++is.pixels;
      }
    }
  }
  is.holePixels = enclosed;
  return 1;
}

// ---- measuring -----------------------------------------------------------------------------

// Holes of the current island: a hole starts at an enclosed background pixel whose left
// neighbour is set in the hole mask.  The left neighbour may belong to a nested island that
// touches the island only at a corner, so the hole mask, not the island, is asked.  A piece
// of enclosed background that borders no pixel of the island lies inside a nested island's
// own hole (island option on): it is that island's hole, not this one's.
int32_t CountHoles(Work& w, IslandSummary* s, double* holeArea, double* holePerimeter) {
  FoundIsland& is = w.island;
  const double scale = w.p->scale;
  int32_t holes = 0;
  *holeArea = 0.0;
  *holePerimeter = 0.0;
  if (is.holePixels == 0) return 0;
  uint8_t* m = is.map.Data();
  const int64_t st = is.stride;
  auto inK = [&](int32_t x, int32_t y) { return (m[(y + 1) * st + (x + 1)] & 2) != 0; };
  const int64_t guard = StepGuard(is.width, is.height);
  uint64_t left = is.holePixels;
  for (int32_t y = 1; y + 1 < is.height && left; ++y) {
    uint8_t* row = is.At(0, y);
    for (int32_t x = 1; x + 1 < is.width; ++x) {
      if (row[x] != 0 || !(row[x - 1] & 2)) continue;
      const int32_t n = WalkContour(inK, x - 1, y, w.conn8, 1, guard, &w.holeContour, 0.0, 0.0);
      if (n < 0) return -1;
      uint64_t count = 1;
      int32_t touches = 0;
      row[x] = StReached;
      w.stack.Clear();
      if (!w.stack.Push(&row[x] - m) || !FillZeros(w, StReached, &count, &touches)) return -1;
      left -= count < left ? count : left;
      if (!touches) continue;
      ++holes;
      *holePerimeter += n >= 2 ? scale * ClosedChainLength(w.holeContour.Data(), n) : scale;
      *holeArea += double(count) * scale * scale;
      if (count == 1) ++s->singlePixelHoles;
    }
  }
  return holes;
}

int32_t MeasureIsland(Work& w, IslandSummary* s, IslandRecord* rec) {
  FoundIsland& is = w.island;
  const double scale = w.p->scale;
  const uint64_t nested = is.nested;
  std::memset(s, 0, sizeof(*s));
  std::memset(rec, 0, sizeof(*rec));
  s->nestedIslands = nested;
  const MaskRun& firstRun = is.runs[0];
  rec->firstX = firstRun.x0;
  rec->firstY = firstRun.y;

  // Outer contour of A from its first pixel.
  const uint8_t* m = is.map.Data();
  const int64_t st = is.stride;
  auto inA = [&](int32_t x, int32_t y) { return (m[(y + 1) * st + (x + 1)] & 1) != 0; };
  const int32_t n = WalkContour(inA, firstRun.x0 - is.x, 0, w.conn8, 0,
                                StepGuard(is.width, is.height), &w.contour, is.x, is.y);
  if (n < 0) return 0;
  const ContourPoint* pts = w.contour.Data();
  double sx = 0, sy = 0;
  for (int32_t i = 0; i < n; ++i) {
    sx += pts[i].x;
    sy += pts[i].y;
  }
  const double cx = sx / n, cy = sy / n;
  rec->contourX = cx;
  rec->contourY = cy;
  rec->perimeter = n >= 2 ? scale * ClosedChainLength(pts, n) : scale;

  // Brightness over A, read from the picture at the rectangle's offset.
  BrightSums b{0, 0u, 0xFFFFFFFFu, 0, 0, 0, 0};
  const int32_t ox = w.r.x0, oy = w.r.y0;
  if (is.joined == 0) {
    for (size_t i = 0; i < is.runs.Size(); ++i) {
      const MaskRun& run = is.runs[i];
      w.brightRow(w.rec, ox + run.x0, oy + run.y, run.x1 - run.x0 + 1, run.x0, run.y, w.weight, &b);
    }
  } else {
    for (int32_t y = 0; y < is.height; ++y) {
      const uint8_t* row = is.At(0, y);
      for (int32_t x = 0; x < is.width;) {
        if (!(row[x] & 1)) {
          ++x;
          continue;
        }
        int32_t e = x;
        while (e + 1 < is.width && (row[e + 1] & 1)) ++e;
        w.brightRow(w.rec, ox + is.x + x, oy + is.y + y, e - x + 1, is.x + x, is.y + y, w.weight, &b);
        x = e + 1;
      }
    }
  }
  rec->maxBrightness = b.maxV;
  rec->minBrightness = b.minV;
  rec->totalBrightness = double(b.total);
  if (b.sw) {
    rec->gravityX = double(b.swx) / double(b.sw);
    rec->gravityY = double(b.swy) / double(b.sw);
  }
  if (b.count) rec->averageBrightness = rec->totalBrightness / double(b.count);
  if (b.count == 1) s->singlePixelIslands = 1;
  rec->area = double(b.count) * scale * scale;

  double holeArea, holePerimeter;
  const int32_t holes = CountHoles(w, s, &holeArea, &holePerimeter);
  if (holes < 0) return 0;
  rec->holes = uint32_t(holes);
  rec->holeArea = holeArea;
  rec->holePerimeter = holePerimeter;

  rec->totalArea = rec->area + holeArea;
  const double d = 2.0 * std::sqrt(rec->totalArea / Pi);
  rec->equivalentDiameter = d;
  rec->sphereVolume = (d / 2) * (d / 2) * Pi * d * 2 / 3;
  rec->lineLength = (rec->perimeter + holePerimeter) * 0.5;
  // A calibration scale of 0 makes both area and perimeter 0; 0/0 would put a NaN into the
  // results table and every sum over it.
  rec->circularity =
      rec->perimeter > 0 ? 4 * Pi * rec->totalArea / (rec->perimeter * rec->perimeter) : 0.0;

  double rmax = 0, rmin = 0, rsum = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double r = scale * std::hypot(pts[i].x - cx, pts[i].y - cy);
    if (i == 0 || r > rmax) rmax = r;
    if (i == 0 || r < rmin) rmin = r;
    rsum += r;
  }
  rec->maxRadius = rmax;
  rec->minRadius = rmin;
  rec->averageRadius = rsum / n;

  if (w.p->yAxis == -1) {
    const double h = double(RoiHeight(w.r));
    for (int32_t i = 0; i < n; ++i) w.contour[i].y = (h - 1) - w.contour[i].y;
  }
  // Packed record: its doubles may sit off their alignment, so no pointers into it.
  double shortSide, longSide, inclination;
  MinAreaRectAngle(pts, n, &shortSide, &longSide, &inclination);
  rec->shortDiameter = shortSide;
  rec->longDiameter = longSide;
  rec->inclination = inclination;

  s->islands = 1;
  s->holes = uint64_t(holes);
  s->area = rec->area;
  s->holeArea = holeArea;
  s->maxBrightness = rec->maxBrightness;
  s->minBrightness = rec->minBrightness;
  s->totalBrightness = rec->totalBrightness;
  s->averageBrightness = rec->averageBrightness;
  s->pixels = b.count;
  return 1;
}

void AddSummary(IslandTotals* t, const IslandSummary& s) {
  t->rectArea += s.rectArea;
  t->islands += s.islands;
  t->holes += s.holes;
  t->nestedIslands += s.nestedIslands;
  t->singlePixelIslands += s.singlePixelIslands;
  t->singlePixelHoles += s.singlePixelHoles;
  t->area += s.area;
  t->holeArea += s.holeArea;
  t->maxBrightness += s.maxBrightness;
  t->minBrightness += s.minBrightness;
  t->totalBrightness += s.totalBrightness;
  t->averageBrightness += s.averageBrightness;
  t->pixels += s.pixels;
}

// ---- counting by runs ----------------------------------------------------------------------

struct RunNode {
  int32_t x0, x1;
  int32_t left;  // background run just left of an object run, -1 at column 0
};

int32_t FindRoot(int32_t* parent, int32_t i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}
// The smaller index stays the root: an island's root is its first run in raster order.
void Unite(int32_t* parent, int32_t a, int32_t b) {
  a = FindRoot(parent, a);
  b = FindRoot(parent, b);
  if (a < b) parent[b] = a;
  else if (b < a) parent[a] = b;
}

// Joins the runs of two consecutive rows that touch (reach = 1: also at a corner).
void UniteRows(int32_t* parent, const RunNode* runs, int32_t pb, int32_t pe, int32_t cb,
               int32_t ce, int32_t reach) {
  int32_t i = pb, j = cb;
  while (i < pe && j < ce) {
    const RunNode& a = runs[i];
    const RunNode& c = runs[j];
    if (a.x1 + reach < c.x0) {
      ++i;
    } else if (c.x1 + reach < a.x0) {
      ++j;
    } else {
      Unite(parent, i, j);
      if (a.x1 < c.x1) ++i;
      else ++j;
    }
  }
}

// Islands of the object mask in one labelling pass over row runs.  topLevelOnly: only
// islands that lie in no other island's hole - with 8-connected islands and 4-connected
// background those are exactly the islands whose first pixel has the outer background (the
// background reaching the rectangle's border) on its left.  Progress is reported per island
// in raster order.  -1 without memory.
int32_t CountIslandsByRuns(const BitMask* mask, int32_t conn8, int32_t topLevelOnly,
                           const IslandParams* p) {
  ScratchArray<RunNode> obj, bg;
  ScratchArray<int32_t> objParent, bgParent;
  const int32_t w = mask->width, h = mask->height;
  // Background node 0 stands for everything outside the rectangle.
  if (topLevelOnly && (!bg.Push(RunNode{0, -1, -1}) || !bgParent.Push(0))) return -1;
  int32_t prevObjB = 0, prevObjE = 0, prevBgB = 0, prevBgE = 0;
  const int32_t words = BitMaskStrideWords(mask);
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* row = BitMaskRow(mask, y);
    const int32_t objB = int32_t(obj.Size()), bgB = int32_t(bg.Size());
    int32_t start = 0;  // first column not yet covered by a run of this row
    for (int32_t x = RowNextSet(row, 0, w - 1); x >= 0;) {
      const int32_t e = RowRunEnd(row, x, words);
      int32_t left = -1;
      if (topLevelOnly && x > start) {
        left = int32_t(bg.Size());
        if (!bg.Push(RunNode{start, x - 1, -1}) || !bgParent.Push(left)) return -1;
      }
      const int32_t id = int32_t(obj.Size());
      if (!obj.Push(RunNode{x, e, left}) || !objParent.Push(id)) return -1;
      start = e + 1;
      x = e + 2 <= w - 1 ? RowNextSet(row, e + 2, w - 1) : -1;
    }
    if (topLevelOnly && start <= w - 1) {
      const int32_t id = int32_t(bg.Size());
      if (!bg.Push(RunNode{start, w - 1, -1}) || !bgParent.Push(id)) return -1;
    }
    const int32_t objE = int32_t(obj.Size()), bgE = int32_t(bg.Size());
    if (y > 0) UniteRows(objParent.Data(), obj.Data(), prevObjB, prevObjE, objB, objE, conn8);
    if (topLevelOnly) {
      int32_t* bp = bgParent.Data();
      for (int32_t i = bgB; i < bgE; ++i) {
        const RunNode& r = bg[i];
        if (y == 0 || y == h - 1 || r.x0 == 0 || r.x1 == w - 1) Unite(bp, 0, i);
      }
      if (y > 0) UniteRows(bp, bg.Data(), prevBgB, prevBgE, bgB, bgE, 0);
    }
    prevObjB = objB;
    prevObjE = objE;
    prevBgB = bgB;
    prevBgE = bgE;
  }
  int32_t count = 0;
  int32_t* op = objParent.Data();
  for (int32_t i = 0; i < int32_t(obj.Size()); ++i) {
    if (FindRoot(op, i) != i) continue;
    if (topLevelOnly && obj[i].left >= 0 && FindRoot(bgParent.Data(), obj[i].left) != 0) continue;
    ++count;
    if (p->progress && p->progress(count, 0, p->user)) break;
  }
  return count;
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t ExtractIslands(const IslandParams* params, IslandTotals* totals, IslandRecord* records,
                       int32_t maxRecords, const RoiRect* roi) {
  if (!params || !params->img || !params->img->record) return -1;
  if (maxRecords < 0 || (maxRecords > 0 && !records)) return -1;
  if (params->conn != 4 && params->conn != 8) return -1;
  RoiRect r;
  if (!GetRoi(&r, params->img, roi)) return -1;
  const C_ImgBuff* rec = params->img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return -1;

  Work w;
  w.p = params;
  w.rec = rec;
  w.r = r;
  w.conn8 = params->conn == 8;
  w.brightRow = PickBrightRow(rec->format);
  w.weight = WeightRule{params->unweighted != 0, params->valueFlag ? FormatClassMax(rec->format) : 0u};
  w.finder.width = int32_t(RoiWidth(r));
  w.finder.height = int32_t(RoiHeight(r));
  w.finder.mask = ThresholdToMask(rec, r, params->valueFlag);
  if (!w.finder.mask) return -1;

  if (maxRecords == 0) {
    // Islands inside holes join their encloser unless kept apart; the run labelling knows
    // enclosure only in the topology of 8-connected islands on 4-connected background.
    if (params->separateNested) return CountIslandsByRuns(w.finder.mask, w.conn8, 0, params);
    if (w.conn8) return CountIslandsByRuns(w.finder.mask, 1, 1, params);
  }

  if (params->separateNested && maxRecords > 0) {
    w.finder.nested = BitMaskClone(w.finder.mask);
    if (!w.finder.nested) return -1;
  }
  IslandTotals privateTotals;
  IslandTotals* t = totals ? totals : &privateTotals;
  if (maxRecords > 0) {
    std::memset(t, 0, sizeof(*t));
    t->rectArea = (double(RoiWidth(r)) * params->scale) * (double(RoiHeight(r)) * params->scale);
  }

  int32_t count = 0;
  int32_t sx = 0, sy = 0;
  int32_t failed = 0;
  for (;;) {
    const int32_t found = ExtractNextIsland(w, sx, sy);
    if (found == 0) break;
    if (found < 0) {
      failed = 1;
      break;
    }
    if (maxRecords > 0) {
      IslandSummary s;
      IslandRecord one;
      if (!MeasureIsland(w, &s, &one)) {
        failed = 1;
        break;
      }
      AddSummary(t, s);
      records[count] = one;
    }
    ++count;
    if (maxRecords > 0 && count == maxRecords) break;
    if (params->progress && params->progress(count, maxRecords, params->user)) break;
    sx = w.island.x + 1;
    sy = w.island.y;
  }

  // Rectangle coordinates to picture coordinates; centres in the caller's unit.
  const int32_t stored = maxRecords > 0 ? count : 0;
  const double H = double(rec->height);
  for (int32_t i = 0; i < stored; ++i) {
    IslandRecord& o = records[i];
    o.firstX += r.x0;
    o.firstY += r.y0;
    o.contourX += r.x0;
    o.contourY += r.y0;
    o.gravityX += r.x0;
    o.gravityY += r.y0;
    if (params->yAxis == -1) {
      o.contourY = (H - 1) - o.contourY;
      o.gravityY = (H - 1) - o.gravityY;
    }
    o.contourX *= params->scale;
    o.contourY *= params->scale;
    o.gravityX *= params->scale;
    o.gravityY *= params->scale;
  }
  return failed ? -1 : count;
}
