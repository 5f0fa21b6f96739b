// demosaic.cpp - Bayer and 6 x 6 colour filter arrays: mosaic, linear and ACPI demosaic.
// Every kernel reads a full copy of the picture taken on entry (for a whole-picture call the
// old pixel block itself becomes the copy) and writes only its own pixel.  The reference
// kernels go through the accessors at the depth of the picture's class, so any of the nine
// formats is accepted.  8- and 16-bit gray raws take typed kernels: linear ones under a 2 x 2
// pattern with unit gains, whose integer rounding equals the reference's (the mean of two
// samples plus 0.5, truncated, is (a + b + 1) >> 1, and of four (s + 2) >> 2; the picture's
// edges too, through mirrored neighbours), run as vector loops built for AVX2 and for the
// baseline, and ACPI ones for the interior of both passes.
// Inside: tables - rounding - mosaic - linear - ACPI - typed linear - typed ACPI - passes -
//         entry
#include "engine/demosaic.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "engine/simd.h"
#include "engine/slotaccess.h"

// ---- tables --------------------------------------------------------------------------------

namespace {
constexpr CfaColor R_ = CfaRed, G_ = CfaGreen, B_ = CfaBlue, N_ = CfaNone;
}  // namespace

const BayerPattern BayerPatternTable[6] = {
    {"GRBG", 2, 2, {G_, R_, B_, G_}},
    {"GBRG", 2, 2, {G_, B_, R_, G_}},
    {"RGGB", 2, 2, {R_, G_, G_, B_}},
    {"BGGR", 2, 2, {B_, G_, G_, R_}},
    {"XTRANS", 6, 6, {G_, B_, G_, G_, R_, G_, R_, G_, R_, B_, G_, B_, G_, B_, G_, G_, R_, G_,
                      G_, R_, G_, G_, B_, G_, B_, G_, B_, R_, G_, R_, G_, R_, G_, G_, B_, G_}},
    {"XTRANS4", 6, 6, {G_, B_, G_, G_, R_, G_, R_, G_, R_, B_, G_, B_, G_, B_, G_, G_, R_, G_,
                       N_, R_, N_, N_, B_, N_, B_, G_, B_, R_, G_, R_, N_, R_, G_, N_, B_, G_}},
};

const XtransNeighbour XtransNeighbourTable[8] = {{-1, -1, 2}, {0, -1, 3}, {1, -1, 2}, {1, 0, 3},
                                                 {1, 1, 2},   {0, 1, 3},  {-1, 1, 2}, {-1, 0, 3}};

// ---- rounding ------------------------------------------------------------------------------

uint32_t RoundToU32(double v) {
  v += 0.5;
  if (!(v > 0.0)) return 0u;  // also NaN
  if (v >= 4294967295.0) return 4294967295u;
  return uint32_t(v);
}

namespace {

template <int D>
inline uint32_t RoundCap(double v) {
  const uint32_t u = RoundToU32(v);
  if constexpr (D == 32) return u;
  else return u > (1u << D) - 1u ? (1u << D) - 1u : u;
}

template <int D>
inline double Sample(const C_ImgBuff* rec, int32_t x, int32_t y) {
  uint32_t v;
  AccessorGray<D>(rec, x, y, &v);
  return double(v);
}

struct Pass {
  const DemosaicJob* job;
  RoiRect rect;   // the rows and columns this pass covers
  int32_t bits;   // depth class of the picture on entry
  int32_t typed;  // linear pass: the typed kernel serves the interior
};

inline int32_t Inside(const C_ImgBuff* rec, int64_t x, int64_t y) {
  return x >= 0 && y >= 0 && x < rec->width && y < rec->height;
}

// Mean of the samples at the given offsets that lie inside the picture; count 0 gives 0.
template <int D, int N>
inline double MeanInside(const C_ImgBuff* rec, int32_t x, int32_t y, const int32_t (&off)[N][2],
                         int32_t* count = nullptr) {
  double sum = 0.0;
  int32_t n = 0;
  for (int32_t k = 0; k < N; ++k) {
    const int32_t nx = x + off[k][0], ny = y + off[k][1];
    if (!Inside(rec, nx, ny)) continue;
    sum += Sample<D>(rec, nx, ny);
    ++n;
  }
  if (count) *count = n;
  return n ? sum / n : 0.0;
}

constexpr int32_t Horizontal[2][2] = {{-1, 0}, {1, 0}};
constexpr int32_t Vertical[2][2] = {{0, -1}, {0, 1}};
constexpr int32_t Diagonal[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
constexpr int32_t Cross[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};

// ---- mosaic --------------------------------------------------------------------------------

template <int D>
void MosaicPixel(const DemosaicJob& job, int32_t x, int32_t y) {
  uint32_t v[3];
  AccessorRgb<D>(job.source->record, x, y, v);
  const CfaColor c = CfaColorAt(uint32_t(job.pattern), x, y);
  const double value = c == CfaNone ? 0.0 : double(v[c - 1]) / job.gains[c];
  AccessorSetGray<D>(job.destination->record, x, y, RoundCap<D>(value));
}

// ---- linear --------------------------------------------------------------------------------

template <int D>
void LinearDemosaicPixel(const DemosaicJob& job, int32_t x, int32_t y) {
  const C_ImgBuff* s = job.source->record;
  const uint32_t pattern = uint32_t(job.pattern);
  const double c = Sample<D>(s, x, y);
  const double h = MeanInside<D>(s, x, y, Horizontal), v = MeanInside<D>(s, x, y, Vertical);
  double r, g, b;
  switch (CfaColorAt(pattern, x, y)) {
    case CfaRed: r = c, g = (h + v) / 2, b = MeanInside<D>(s, x, y, Diagonal); break;
    case CfaBlue: r = MeanInside<D>(s, x, y, Diagonal), g = (h + v) / 2, b = c; break;
    default:  // green; the right neighbour's colour is looked up even beyond the picture
      g = c;
      if (CfaColorAt(pattern, int64_t(x) + 1, y) == CfaRed) r = h, b = v;
      else r = v, b = h;
      break;
  }
  AccessorSetRgb<D>(job.destination->record, x, y, RoundCap<D>(r * job.gains[1]),
                    RoundCap<D>(g * job.gains[2]), RoundCap<D>(b * job.gains[3]));
}

// Works at 32 bits for every class: narrower samples are widened by the accessors and the
// result narrowed by keeping the high part, so a mean between two 8-bit steps truncates.
void XtransLinearPixel(const DemosaicJob& job, int32_t x, int32_t y) {
  const C_ImgBuff* s = job.source->record;
  const uint32_t pattern = uint32_t(job.pattern);
  double sum[4] = {0, 0, 0, 0}, weight[4] = {0, 0, 0, 0};
  for (const XtransNeighbour& n : XtransNeighbourTable) {
    const int32_t nx = x + n.dx, ny = y + n.dy;
    if (!Inside(s, nx, ny)) continue;
    const CfaColor c = CfaColorAt(pattern, nx, ny);
    if (c == CfaNone) continue;  // a cell that sees nothing adds to no colour
    sum[c] += n.weight * Sample<32>(s, nx, ny);
    weight[c] += n.weight;
  }
  const CfaColor own = CfaColorAt(pattern, x, y);
  double v[4];
  for (int32_t c = 1; c <= 3; ++c)
    v[c] = c == own ? Sample<32>(s, x, y) : weight[c] > 0 ? sum[c] / weight[c] : 0.0;
  AccessorSetRgb<32>(job.destination->record, x, y, RoundToU32(v[1] * job.gains[1]),
                     RoundToU32(v[2] * job.gains[2]), RoundToU32(v[3] * job.gains[3]));
}

// ---- ACPI ----------------------------------------------------------------------------------

template <int D>
void AcpiGainPixel(const DemosaicJob& job, int32_t x, int32_t y) {
  C_ImgBuff* s = job.source->record;
  const CfaColor c = CfaColorAt(uint32_t(job.pattern), x, y);
  const double gain = c == CfaRed ? job.gains[1] : c == CfaGreen ? job.gains[2] : job.gains[3];
  AccessorSetGray<D>(s, x, y, RoundCap<D>(Sample<D>(s, x, y) * gain));
}

// Gradients and estimates in doubles: every sample is an integer below 2^32, so the
// gradients are exact, as integer arithmetic would give them.
template <int D>
void AcpiGreenPixel(const DemosaicJob& job, int32_t x, int32_t y) {
  const C_ImgBuff* s = job.source->record;
  C_ImgBuff* plane = job.green->record;
  const double c = Sample<D>(s, x, y);
  if (CfaColorAt(uint32_t(job.pattern), x, y) == CfaGreen) {
    AccessorSetGray<D>(plane, x, y, uint32_t(c));
    return;
  }
  const int32_t rowOk = x >= 2 && x <= s->width - 3, colOk = y >= 2 && y <= s->height - 3;
  double est;
  if (!rowOk && !colOk) {
    est = MeanInside<D>(s, x, y, Cross);
  } else {
    double h[5] = {0, 0, c, 0, 0}, v[5] = {0, 0, c, 0, 0}, dH = 0, dV = 0;
    for (int32_t k = -2; k <= 2; ++k) {
      if (rowOk && k) h[k + 2] = Sample<D>(s, x + k, y);
      if (colOk && k) v[k + 2] = Sample<D>(s, x, y + k);
    }
    if (rowOk) dH = std::fabs(2 * c - h[0] - h[4]) + std::fabs(h[1] - h[3]);
    if (colOk) dV = std::fabs(2 * c - v[0] - v[4]) + std::fabs(v[1] - v[3]);
    const int32_t useH = rowOk && (!colOk || dH <= dV), useV = colOk && (!rowOk || dV <= dH);
    if (useH && useV) {
      est = (h[1] + h[3] + v[1] + v[3]) / 4 + (4 * c - h[0] - h[4] - v[0] - v[4]) / 8;
    } else {
      const double* n = useH ? h : v;
      est = (n[1] + n[3]) / 2 + (2 * c - n[0] - n[4]) / 4;
    }
  }
  AccessorSetGray<D>(plane, x, y, RoundCap<D>(est));
}

template <int D>
void AcpiColorPixel(const DemosaicJob& job, int32_t x, int32_t y) {
  const C_ImgBuff* s = job.source->record;
  const C_ImgBuff* plane = job.green->record;
  const uint32_t pattern = uint32_t(job.pattern);
  auto S = [&](int32_t i, int32_t j) { return Sample<D>(s, x + i, y + j); };
  auto P = [&](int32_t i, int32_t j) { return Sample<D>(plane, x + i, y + j); };
  const double pc = P(0, 0);
  const CfaColor c = CfaColorAt(pattern, x, y);
  const int32_t rightIsRed = CfaColorAt(pattern, int64_t(x) + 1, y) == CfaRed;
  double r, b;
  if (x >= 1 && y >= 1 && x <= s->width - 2 && y <= s->height - 2) {
    if (c == CfaGreen) {
      const double hE = (2 * pc - P(-1, 0) - P(1, 0)) / 4 + (S(-1, 0) + S(1, 0)) / 2;
      const double vE = (2 * pc - P(0, -1) - P(0, 1)) / 4 + (S(0, -1) + S(0, 1)) / 2;
      r = rightIsRed ? hE : vE;
      b = rightIsRed ? vE : hE;
    } else {
      const double dA = std::fabs(2 * pc - P(1, -1) - P(-1, 1)) + std::fabs(S(1, -1) - S(-1, 1));
      const double dF = std::fabs(2 * pc - P(-1, -1) - P(1, 1)) + std::fabs(S(-1, -1) - S(1, 1));
      double e;
      if (dA < dF) {
        e = (2 * pc - P(1, -1) - P(-1, 1)) / 4 + (S(1, -1) + S(-1, 1)) / 2;
      } else if (dF < dA) {
        e = (2 * pc - P(-1, -1) - P(1, 1)) / 4 + (S(-1, -1) + S(1, 1)) / 2;
      } else {
        e = (4 * pc - P(-1, -1) - P(1, -1) - P(-1, 1) - P(1, 1)) / 8 +
            (S(-1, -1) + S(1, -1) + S(-1, 1) + S(1, 1)) / 4;
      }
      r = c == CfaRed ? S(0, 0) : e;
      b = c == CfaRed ? e : S(0, 0);
    }
  } else if (c == CfaGreen) {  // outermost rows and columns: border means only
    const double h = RoundCap<D>(MeanInside<D>(s, x, y, Horizontal));
    const double v = RoundCap<D>(MeanInside<D>(s, x, y, Vertical));
    r = rightIsRed ? h : v;
    b = rightIsRed ? v : h;
  } else {
    const double d = RoundCap<D>(MeanInside<D>(s, x, y, Diagonal));
    r = c == CfaRed ? S(0, 0) : d;
    b = c == CfaRed ? d : S(0, 0);
  }
  AccessorSetRgb<D>(job.destination->record, x, y, RoundCap<D>(r), uint32_t(pc), RoundCap<D>(b));
}

// ---- typed linear --------------------------------------------------------------------------

// One pixel of colour C in a row whose samples are up, mid, down; o is the R,G,B row.
// xl and xr are the columns left and right of x; at the picture's first and last column both
// are the one neighbour inside (see LinearTypedInterior).
template <class T, CfaColor C, bool RowHasRed>
inline void LinearTypedPixel(const T* __restrict u, const T* __restrict m, const T* __restrict d,
                             T* __restrict o, int32_t x, int32_t xl, int32_t xr) {
  if constexpr (C == CfaGreen) {
    const uint32_t h = (uint32_t(m[xl]) + m[xr] + 1) >> 1;
    const uint32_t v = (uint32_t(u[x]) + d[x] + 1) >> 1;
    o[3 * x] = T(RowHasRed ? h : v);
    o[3 * x + 1] = m[x];
    o[3 * x + 2] = T(RowHasRed ? v : h);
  } else {
    const T g = T((uint32_t(m[xl]) + m[xr] + u[x] + d[x] + 2) >> 2);
    const T dg = T((uint32_t(u[xl]) + u[xr] + d[xl] + d[xr] + 2) >> 2);
    o[3 * x] = C == CfaRed ? m[x] : dg;
    o[3 * x + 1] = g;
    o[3 * x + 2] = C == CfaRed ? dg : m[x];
  }
}

// Where a channel of a 2 x 2 linear demosaic comes from: the pixel's own sample, the mean of
// its left and right, of its upper and lower, of those four, or of its four diagonal samples.
enum LinearSource { FromOwn, FromHorizontal, FromVertical, FromCross, FromDiagonal };

// Channel c (0 R, 1 G, 2 B) of a pixel of colour C in a row with or without red cells.
constexpr LinearSource SourceOf(CfaColor C, bool rowHasRed, int c) {
  if (C == CfaGreen) return c == 1 ? FromOwn : (c == 0) == rowHasRed ? FromHorizontal : FromVertical;
  if (c == 1) return FromCross;
  return (c == 0) == (C == CfaRed) ? FromOwn : FromDiagonal;
}

template <LinearSource S>
inline uint32_t Pick(uint32_t own, uint32_t h, uint32_t v, uint32_t cross, uint32_t diag) {
  if constexpr (S == FromOwn) return own;
  else if constexpr (S == FromHorizontal) return h;
  else if constexpr (S == FromVertical) return v;
  else if constexpr (S == FromCross) return cross;
  else return diag;
}

// Columns x0 .. x0 + n - 1 of an interior row (x0 even, C0 at even and C1 at odd columns), in
// two vector loops: the three channels as planes, each lane choosing by its column's parity
// among the five means, then the planes interleaved into R, G, B.
template <class T, CfaColor C0, CfaColor C1>
struct LinearRowPlanes {
  static constexpr int32_t kChunk = 256;
  static QV_KERNEL_BODY void Run(const T* __restrict u, const T* __restrict m, const T* __restrict d,
                                 T* __restrict o, int32_t x0, int32_t n) {
    constexpr bool red = C0 == CfaRed || C1 == CfaRed;
    T p0[kChunk], p1[kChunk], p2[kChunk];
    for (int32_t done = 0; done < n; done += kChunk) {
      const int32_t k = n - done < kChunk ? n - done : kChunk;
      const int32_t x = x0 + done;
      const T *uu = u + x, *mm = m + x, *dd = d + x;
      for (int32_t i = 0; i < k; ++i) {
        const uint32_t own = mm[i];
        const uint32_t h = (uint32_t(mm[i - 1]) + mm[i + 1] + 1) >> 1;
        const uint32_t v = (uint32_t(uu[i]) + dd[i] + 1) >> 1;
        const uint32_t cross = (uint32_t(mm[i - 1]) + mm[i + 1] + uu[i] + dd[i] + 2) >> 2;
        const uint32_t diag = (uint32_t(uu[i - 1]) + uu[i + 1] + dd[i - 1] + dd[i + 1] + 2) >> 2;
        const bool odd = (i & 1) != 0;
        p0[i] = T(odd ? Pick<SourceOf(C1, red, 0)>(own, h, v, cross, diag)
                      : Pick<SourceOf(C0, red, 0)>(own, h, v, cross, diag));
        p1[i] = T(odd ? Pick<SourceOf(C1, red, 1)>(own, h, v, cross, diag)
                      : Pick<SourceOf(C0, red, 1)>(own, h, v, cross, diag));
        p2[i] = T(odd ? Pick<SourceOf(C1, red, 2)>(own, h, v, cross, diag)
                      : Pick<SourceOf(C0, red, 2)>(own, h, v, cross, diag));
      }
      T* out = o + int64_t(x) * 3;
      for (int32_t i = 0; i < k; ++i) {
        out[3 * i] = p0[i];
        out[3 * i + 1] = p1[i];
        out[3 * i + 2] = p2[i];
      }
    }
  }
};

// Columns xb..xe of a row of a picture w wide, C0 at even and C1 at odd columns.
template <class T, CfaColor C0, CfaColor C1>
void LinearTypedRow(const T* u, const T* m, const T* d, T* o, int32_t xb, int32_t xe, int32_t w) {
  constexpr bool red = C0 == CfaRed || C1 == CfaRed;
  auto edge = [&](int32_t x) {
    const int32_t xl = x > 0 ? x - 1 : x + 1, xr = x < w - 1 ? x + 1 : x - 1;
    if (x & 1) LinearTypedPixel<T, C1, red>(u, m, d, o, x, xl, xr);
    else LinearTypedPixel<T, C0, red>(u, m, d, o, x, xl, xr);
  };
  int32_t x = xb, last = xe;
  if (x == 0) edge(x++);
  if (last == w - 1 && last >= x) edge(last--);
  if (x <= last && (x & 1)) edge(x++);
  if (x <= last) RunKernel<LinearRowPlanes<T, C0, C1>>(u, m, d, o, x, last - x + 1);
}

// Row y, columns xb..xe.  A pixel on the picture's edge takes the mean of the neighbours
// inside: the same as the interior rule with each missing neighbour replaced by its mirror
// image across the pixel (a mean of one sample doubled is that sample, of two diagonal ones
// doubled their mean, and so on; every such mean is an exact multiple of a quarter), so the
// top row reads the row below as its row above, the bottom row the other way round, and the
// first and last columns their one horizontal neighbour on both sides.
template <class T>
void LinearTypedInterior(const DemosaicJob& job, int32_t y, int32_t xb, int32_t xe) {
  const C_ImgBuff* s = job.source->record;
  const T* m = RowPtr<const T>(s, 0, y);
  const T* u = y > 0 ? m - s->width : m + s->width;
  const T* d = y < s->height - 1 ? m + s->width : m - s->width;
  T* o = RowPtr<T>(job.destination->record, 0, y);
  const uint32_t pattern = uint32_t(job.pattern);
  const CfaColor c0 = CfaColorAt(pattern, 0, y), c1 = CfaColorAt(pattern, 1, y);
  const int32_t w = s->width;
  if (c0 == CfaGreen && c1 == CfaRed) LinearTypedRow<T, CfaGreen, CfaRed>(u, m, d, o, xb, xe, w);
  else if (c0 == CfaRed) LinearTypedRow<T, CfaRed, CfaGreen>(u, m, d, o, xb, xe, w);
  else if (c0 == CfaGreen) LinearTypedRow<T, CfaGreen, CfaBlue>(u, m, d, o, xb, xe, w);
  else LinearTypedRow<T, CfaBlue, CfaGreen>(u, m, d, o, xb, xe, w);
}

// ---- typed ACPI ----------------------------------------------------------------------------

// The colours of row y, cells[x % period] for x = 0, 1, ...
inline const CfaColor* PatternRow(uint32_t pattern, int32_t y) {
  const BayerPattern& p = BayerPatternTable[pattern];
  return p.cells + (y % p.height) * p.width;
}

// Pass 1 on rows where both lines may be usable; the columns and rows within two of the
// edges go to the reference kernel.  Integer gradients, and estimates in doubles formed from
// exact integer sums, give the reference's very values.
template <class T, int D>
void AcpiGreenTypedRow(const DemosaicJob& job, int32_t y, int32_t xb, int32_t xe) {
  const C_ImgBuff* s = job.source->record;
  const int32_t w = s->width, h = s->height;
  if (y < 2 || y > h - 3) {
    for (int32_t x = xb; x <= xe; ++x) AcpiGreenPixel<D>(job, x, y);
    return;
  }
  const T* m = RowPtr<const T>(s, 0, y);
  const T *u2 = m - 2 * int64_t(w), *u1 = m - w, *d1 = m + w, *d2 = m + 2 * int64_t(w);
  T* g = RowPtr<T>(job.green->record, 0, y);
  const BayerPattern& pat = BayerPatternTable[job.pattern];
  const CfaColor* cells = PatternRow(uint32_t(job.pattern), y);
  for (int32_t x = xb; x <= xe; ++x) {
    if (x < 2 || x > w - 3) {
      AcpiGreenPixel<D>(job, x, y);
      continue;
    }
    const int32_t c = m[x];
    if (cells[x % pat.width] == CfaGreen) {
      g[x] = T(c);
      continue;
    }
    const int32_t dH = std::abs(2 * c - m[x - 2] - m[x + 2]) + std::abs(m[x - 1] - m[x + 1]);
    const int32_t dV = std::abs(2 * c - u2[x] - d2[x]) + std::abs(u1[x] - d1[x]);
    double est;
    if (dH < dV) {
      est = double(m[x - 1] + m[x + 1]) / 2 + double(2 * c - m[x - 2] - m[x + 2]) / 4;
    } else if (dV < dH) {
      est = double(u1[x] + d1[x]) / 2 + double(2 * c - u2[x] - d2[x]) / 4;
    } else {
      est = double(m[x - 1] + m[x + 1] + u1[x] + d1[x]) / 4 +
            double(4 * c - m[x - 2] - m[x + 2] - u2[x] - d2[x]) / 8;
    }
    g[x] = T(RoundCap<D>(est));
  }
}

// Pass 2 inside the outermost rows and columns; those go to the reference kernel.
template <class T, int D>
void AcpiColorTypedRow(const DemosaicJob& job, int32_t y, int32_t xb, int32_t xe) {
  const C_ImgBuff* s = job.source->record;
  const int32_t w = s->width, h = s->height;
  if (y < 1 || y > h - 2) {
    for (int32_t x = xb; x <= xe; ++x) AcpiColorPixel<D>(job, x, y);
    return;
  }
  const T* sm = RowPtr<const T>(s, 0, y);
  const T *su = sm - w, *sd = sm + w;
  const T* pm = RowPtr<const T>(job.green->record, 0, y);
  const T *pu = pm - w, *pd = pm + w;
  T* o = RowPtr<T>(job.destination->record, 0, y);
  const BayerPattern& pat = BayerPatternTable[job.pattern];
  const CfaColor* cells = PatternRow(uint32_t(job.pattern), y);
  for (int32_t x = xb; x <= xe; ++x) {
    if (x < 1 || x > w - 2) {
      AcpiColorPixel<D>(job, x, y);
      continue;
    }
    const int32_t pc = pm[x];
    const CfaColor c = cells[x % pat.width];
    double r, b;
    if (c == CfaGreen) {
      const double hE =
          double(2 * pc - pm[x - 1] - pm[x + 1]) / 4 + double(sm[x - 1] + sm[x + 1]) / 2;
      const double vE = double(2 * pc - pu[x] - pd[x]) / 4 + double(su[x] + sd[x]) / 2;
      const int32_t rightIsRed = cells[(x + 1) % pat.width] == CfaRed;
      r = rightIsRed ? hE : vE;
      b = rightIsRed ? vE : hE;
    } else {
      const int32_t dA = std::abs(2 * pc - pu[x + 1] - pd[x - 1]) + std::abs(su[x + 1] - sd[x - 1]);
      const int32_t dF = std::abs(2 * pc - pu[x - 1] - pd[x + 1]) + std::abs(su[x - 1] - sd[x + 1]);
      double e;
      if (dA < dF) {
        e = double(2 * pc - pu[x + 1] - pd[x - 1]) / 4 + double(su[x + 1] + sd[x - 1]) / 2;
      } else if (dF < dA) {
        e = double(2 * pc - pu[x - 1] - pd[x + 1]) / 4 + double(su[x - 1] + sd[x + 1]) / 2;
      } else {
        e = double(4 * pc - pu[x - 1] - pu[x + 1] - pd[x - 1] - pd[x + 1]) / 8 +
            double(su[x - 1] + su[x + 1] + sd[x - 1] + sd[x + 1]) / 4;
      }
      r = c == CfaRed ? double(sm[x]) : e;
      b = c == CfaRed ? e : double(sm[x]);
    }
    o[3 * x] = T(RoundCap<D>(r));
    o[3 * x + 1] = T(pc);
    o[3 * x + 2] = T(RoundCap<D>(b));
  }
}

// ---- passes --------------------------------------------------------------------------------

template <int D, void (*Kernel)(const DemosaicJob&, int32_t, int32_t)>
void RunKernelRows(const Pass& p, int32_t yb, int32_t ye) {
  for (int32_t y = yb; y < ye; ++y)
    for (int32_t x = p.rect.x0; x <= p.rect.x1; ++x) Kernel(*p.job, x, y);
}

#define QV_DEMOSAIC_ROWS(name, kernel)                                       \
  void name(void* ctx, uint64_t first, uint64_t count) {                     \
    const Pass& p = *static_cast<const Pass*>(ctx);                          \
    int32_t yb, ye;                                                          \
    PieceRows(p.rect, first, count, &yb, &ye);                               \
    if (p.bits == 8) RunKernelRows<8, kernel<8>>(p, yb, ye);                 \
    else if (p.bits == 16) RunKernelRows<16, kernel<16>>(p, yb, ye);         \
    else RunKernelRows<32, kernel<32>>(p, yb, ye);                           \
  }
QV_DEMOSAIC_ROWS(MosaicRows, MosaicPixel)
QV_DEMOSAIC_ROWS(AcpiGainRows, AcpiGainPixel)
#undef QV_DEMOSAIC_ROWS

template <void (*Row8)(const DemosaicJob&, int32_t, int32_t, int32_t),
          void (*Row16)(const DemosaicJob&, int32_t, int32_t, int32_t),
          void (*Kernel8)(const DemosaicJob&, int32_t, int32_t),
          void (*Kernel16)(const DemosaicJob&, int32_t, int32_t),
          void (*Kernel32)(const DemosaicJob&, int32_t, int32_t)>
void AcpiRows(void* ctx, uint64_t first, uint64_t count) {
  const Pass& p = *static_cast<const Pass*>(ctx);
  int32_t yb, ye;
  PieceRows(p.rect, first, count, &yb, &ye);
  for (int32_t y = yb; y < ye; ++y) {
    if (p.typed) {
      (p.bits == 8 ? Row8 : Row16)(*p.job, y, p.rect.x0, p.rect.x1);
      continue;
    }
    for (int32_t x = p.rect.x0; x <= p.rect.x1; ++x)
      (p.bits == 8 ? Kernel8 : p.bits == 16 ? Kernel16 : Kernel32)(*p.job, x, y);
  }
}
constexpr ParallelForFn AcpiGreenRows =
    AcpiRows<AcpiGreenTypedRow<uint8_t, 8>, AcpiGreenTypedRow<uint16_t, 16>, AcpiGreenPixel<8>,
             AcpiGreenPixel<16>, AcpiGreenPixel<32>>;
constexpr ParallelForFn AcpiColorRows =
    AcpiRows<AcpiColorTypedRow<uint8_t, 8>, AcpiColorTypedRow<uint16_t, 16>, AcpiColorPixel<8>,
             AcpiColorPixel<16>, AcpiColorPixel<32>>;

template <int D>
void LinearRowsOf(const Pass& p, int32_t yb, int32_t ye) {
  const DemosaicJob& job = *p.job;
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t xb = p.rect.x0, xe = p.rect.x1;
    if (p.typed) {
      if constexpr (D == 8) LinearTypedInterior<uint8_t>(job, y, xb, xe);
      else if constexpr (D == 16) LinearTypedInterior<uint16_t>(job, y, xb, xe);
      continue;
    }
    for (int32_t x = xb; x <= xe; ++x) {
      if (job.pattern >= 4) XtransLinearPixel(job, x, y);
      else LinearDemosaicPixel<D>(job, x, y);
    }
  }
}

void LinearDemosaicRows(void* ctx, uint64_t first, uint64_t count) {
  const Pass& p = *static_cast<const Pass*>(ctx);
  int32_t yb, ye;
  PieceRows(p.rect, first, count, &yb, &ye);
  if (p.bits == 8) LinearRowsOf<8>(p, yb, ye);
  else if (p.bits == 16) LinearRowsOf<16>(p, yb, ye);
  else LinearRowsOf<32>(p, yb, ye);
}

// The rectangle grown by n on every side, cut to the picture.
RoiRect Grow(const RoiRect& r, int32_t n, const C_ImgBuff* rec) {
  return RoiRect{r.x0 - n < 0 ? 0 : r.x0 - n, r.y0 - n < 0 ? 0 : r.y0 - n,
                 r.x1 + n > rec->width - 1 ? rec->width - 1 : r.x1 + n,
                 r.y1 + n > rec->height - 1 ? rec->height - 1 : r.y1 + n};
}

// The typed kernels need 8- or 16-bit gray samples written into R,G,B of the same depth.
int32_t TypedRaw(const DemosaicJob& job) {
  const int32_t src = job.source->Format(), dst = job.destination->Format();
  return EngineTypedKernels() && ((src == 1 && dst == 4) || (src == 2 && dst == 5));
}

// The typed linear kernel also needs a 2 x 2 pattern and gains that change nothing.
int32_t LinearTyped(const DemosaicJob& job, const double* gains) {
  const int32_t unit = !gains || (gains[1] == 1.0 && gains[2] == 1.0 && gains[3] == 1.0);
  return TypedRaw(job) && unit && job.pattern <= 3;
}

// Moves the pixels of one record into another (empty) one: the old block becomes the copy.
void SwapRecords(C_ImgBuff* a, C_ImgBuff* b) {
  std::swap(a->format, b->format);
  std::swap(a->width, b->width);
  std::swap(a->height, b->height);
  std::swap(a->pixels, b->pixels);
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t Demosaic(CImgBuff* picture, uint32_t mode, uint32_t pattern, const double* gains,
                 const RoiRect* roi) {
  if (!picture || !picture->record || mode > 2 || pattern > 5) return 0;
  RoiRect r;
  if (!GetRoi(&r, picture, roi)) return 0;
  if (r.x1 - r.x0 < 1 || r.y1 - r.y0 < 1) return 0;  // two columns and two rows at least
  C_ImgBuff* rec = picture->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return 0;
  const int32_t bits = FormatClassBits(rec->format);
  const int32_t grayFormat = bits == 8 ? 1 : bits == 16 ? 2 : 3;
  const int32_t whole = r.x0 == 0 && r.y0 == 0 && r.x1 == rec->width - 1 && r.y1 == rec->height - 1;
  int32_t format = rec->format;
  if (mode >= 1 && IsGrayFormat(format)) format = grayFormat + 3;
  else if (mode == 0 && !IsGrayFormat(format) && whole) format = grayFormat;

  // Everything that can fail comes before the first write: the green plane, then the copy
  // and the picture's new format.
  CImgBuff source, green;
  if (mode == 2 && !green.Allocate(rec->width, rec->height, grayFormat)) return 0;
  if (whole) {
    // Every pixel is rewritten: the old block serves as the copy, and the picture gets a new
    // block in its new format without a conversion pass.
    SwapRecords(source.record, rec);
    // Every sample of formats 1 to 6 is written by the pass (every pixel lies in the
    // rectangle, and their setters store every byte): no zero fill first.
    const int32_t fresh = IsTypedFormat(format) ? rec->AllocateUncleared(source.Width(), source.Height(), format)
                                                : rec->Allocate(source.Width(), source.Height(), format);
    if (!fresh) {
      SwapRecords(source.record, rec);
      return 0;
    }
  } else {
    source.CopyFrom(*picture);
    if (source.Format() == 0) return 0;
    if (format != rec->format && !rec->ConvertTo(format)) return 0;
  }

  static const double unitGains[4] = {1.0, 1.0, 1.0, 1.0};
  DemosaicJob job{&source, picture, mode == 2 ? &green : nullptr, r.x0, r.y0, r.x1, r.y1,
                  int32_t(pattern), gains ? gains : unitGains};
  Pass p{&job, r, bits, 0};
  switch (mode) {
    case 0: RunRows(MosaicRows, &p, r); break;
    case 1:
      p.typed = LinearTyped(job, gains);
      RunRows(LinearDemosaicRows, &p, r);
      break;
    default: {
      // Pass 1 reads samples two pixels away and pass 2 the plane one pixel away: the gains
      // cover the rectangle grown by 3 and the plane the rectangle grown by 1, so that a
      // rectangle gives what the whole picture gives inside it.
      if (gains) {
        p.rect = Grow(r, 3, source.record);
        RunRows(AcpiGainRows, &p, p.rect);
      }
      p.typed = TypedRaw(job);
      p.rect = Grow(r, 1, source.record);
      RunRows(AcpiGreenRows, &p, p.rect);
      p.rect = r;
      RunRows(AcpiColorRows, &p, r);
      break;
    }
  }
  return 1;
}
