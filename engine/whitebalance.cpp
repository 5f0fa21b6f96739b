// whitebalance.cpp - white balance (a*b* shift), six-colour hue correction, their builders,
// and the white estimate of a picture (plain mean or the mean of near-neutral bright blocks).
// Inside: channel conversions - grey axis - LabShiftOp - HueSectorOp - builders - EstimateWhite
#include "engine/whitebalance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/colour.h"
#include "engine/pixel.h"

namespace {

// ---- channel conversions ---------------------------------------------------------------------

// trunc(c x 4294967295) of a colour already limited to 0..1.
inline uint32_t Full32(double c) { return ClampTruncU32(c * 4294967295.0); }
inline double Clamp01(double c) { return c < 0.0 ? 0.0 : c > 1.0 ? 1.0 : c; }

// HSV on the 16-bit scale, integers (the image core's conversion).
inline void Hsv16(uint32_t r, uint32_t g, uint32_t b, uint16_t* h, uint16_t* s, uint16_t* v) {
  Rgb16ToHsv16(uint16_t(r), uint16_t(g), uint16_t(b), h, s, v);
}

// (x mod 65536) for any integer.
inline int64_t Mod65536(int64_t x) { return ((x % 65536) + 65536) % 65536; }

inline uint16_t ClampU16(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 65535.0) return 65535;
  return uint16_t(v);
}

// ---- L*a*b* back to XYZ ----------------------------------------------------------------------

inline double LabFInverse(double f) {
  return f > 0.20689655172413793 ? f * f * f : 0.12841854934601665 * (f - 0.13793103448275862);
}

// ---- EstimateWhite ---------------------------------------------------------------------------

// Sums of R, G, B read as 16 bits over columns x0 .. x1 - 1 of row y.
template <int NB, int CH>
void SumRowTyped(const C_ImgBuff* rec, int32_t y, int32_t x0, int32_t x1, uint64_t* sums) {
  const SampleType<NB>* p = RowPtr<const SampleType<NB>>(rec, x0, y);
  uint64_t s0 = 0, s1 = 0, s2 = 0;
  for (int32_t x = x0; x < x1; ++x, p += CH) {
    uint32_t r, g, b;
    RgbAt<NB, CH, 16>(p, &r, &g, &b);
    s0 += r;
    s1 += g;
    s2 += b;
  }
  sums[0] += s0;
  sums[1] += s1;
  sums[2] += s2;
}

void SumRowAccessor(const C_ImgBuff* rec, int32_t y, int32_t x0, int32_t x1, uint64_t* sums) {
  for (int32_t x = x0; x < x1; ++x) {
    uint16_t r, g, b;
    rec->GetRGB16(x, y, &r, &g, &b);
    sums[0] += r;
    sums[1] += g;
    sums[2] += b;
  }
}

inline void SumRow(const C_ImgBuff* rec, int32_t y, int32_t x0, int32_t x1, uint64_t* sums) {
  if (!DispatchTyped(rec->format, [&]<int NB, int CH>() { SumRowTyped<NB, CH>(rec, y, x0, x1, sums); }))
    SumRowAccessor(rec, y, x0, x1, sums);
}

// Plain mean: integer sums, exact in any order.
struct MeanJob {
  const C_ImgBuff* rec;
  uint64_t sums[3];
  PlatformLock* lock;
};

void MeanPiece(void* ctx, uint64_t first, uint64_t count) {
  MeanJob* j = static_cast<MeanJob*>(ctx);
  uint64_t s[3] = {0, 0, 0};
  for (uint64_t y = first; y < first + count; ++y) SumRow(j->rec, int32_t(y), 0, j->rec->width, s);
  MergeHold hold(j->lock);
  for (int c = 0; c < 3; ++c) j->sums[c] += s[c];
}

// Blocks: each row of blocks writes its own totals; they are added in row order afterwards.
constexpr int32_t kMaxBlocksAcross = 32;

struct BlockRowTotals {
  double sum[3];
  uint64_t count;
};

struct BlockJob {
  const C_ImgBuff* rec;
  int32_t bw, bh, across;
  uint32_t satLimit, valLimit;
  BlockRowTotals* rows;
};

void BlockPiece(void* ctx, uint64_t first, uint64_t count) {
  BlockJob* j = static_cast<BlockJob*>(ctx);
  const C_ImgBuff* rec = j->rec;
  for (uint64_t by = first; by < first + count; ++by) {
    uint64_t sums[kMaxBlocksAcross][3];
    std::memset(sums, 0, sizeof sums);
    const int32_t y0 = int32_t(by) * j->bh;
    const int32_t y1 = y0 + j->bh < rec->height ? y0 + j->bh : rec->height;
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t bx = 0; bx < j->across; ++bx) {
        const int32_t x0 = bx * j->bw;
        const int32_t x1 = x0 + j->bw < rec->width ? x0 + j->bw : rec->width;
        SumRow(rec, y, x0, x1, sums[bx]);
      }
    BlockRowTotals t{{0, 0, 0}, 0};
    for (int32_t bx = 0; bx < j->across; ++bx) {
      const int32_t x0 = bx * j->bw;
      const int32_t x1 = x0 + j->bw < rec->width ? x0 + j->bw : rec->width;
      const double pixels = double(x1 - x0) * double(y1 - y0);
      double mean[3];
      uint32_t m16[3];
      for (int c = 0; c < 3; ++c) {
        mean[c] = double(sums[bx][c]) / pixels;
        m16[c] = uint32_t(mean[c]);
      }
      const uint32_t mx = std::max({m16[0], m16[1], m16[2]});
      const uint32_t mn = std::min({m16[0], m16[1], m16[2]});
      const uint32_t s = mx == 0 ? 0 : (mx - mn) * 65534u / mx;
      if (s <= j->satLimit && mx >= j->valLimit) {
        for (int c = 0; c < 3; ++c) t.sum[c] += mean[c];
        ++t.count;
      }
    }
    j->rows[by] = t;
  }
}

int32_t PlainMean(const C_ImgBuff* rec, double* mean) {
  MergeLock lock;
  MeanJob job{rec, {0, 0, 0}, lock.Get()};
  RunRowsMerged(MeanPiece, &job, RoiRect{0, 0, rec->width - 1, rec->height - 1}, lock);
  const double pixels = double(rec->width) * double(rec->height);
  for (int c = 0; c < 3; ++c) mean[c] = double(job.sums[c]) / pixels;
  return 1;
}

}  // namespace

// ---- grey axis -------------------------------------------------------------------------------

const GreyAxisTable* BuildGreyAxisTable() {
  static GreyAxisTable table;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int v = 0; v < 256; ++v) {
      double X, Y, Z;
      SrgbToXyz(v / 255.0, v / 255.0, v / 255.0, &X, &Y, &Z);
      XyzToLab(X, Y, Z, &table.L[v], &table.ab[v][0], &table.ab[v][1]);
    }
  });
  return &table;
}

// ---- operations ------------------------------------------------------------------------------

void LabShiftOp(uint8_t* r, uint8_t* g, uint8_t* b, void* params) {
  const LabShiftParams* p = static_cast<const LabShiftParams*>(params);
  double X, Y, Z, L, A, B;
  SrgbToXyz(*r / 255.0, *g / 255.0, *b / 255.0, &X, &Y, &Z);
  XyzToLab(X, Y, Z, &L, &A, &B);
  A += p->da;
  B += p->db;
  const double fy = (L + 16.0) / 116.0;
  const double fx = fy + A / 500.0;
  const double fz = fy - B / 200.0;
  X = LabFInverse(fx) * 95.0489 / 100.0;
  Y = LabFInverse(fy);
  Z = LabFInverse(fz) * 108.884 / 100.0;
  double rr, gg, bb;
  XyzToSrgb(X, Y, Z, &rr, &gg, &bb);
  *r = uint8_t(Full32(rr) >> 24);
  *g = uint8_t(Full32(gg) >> 24);
  *b = uint8_t(Full32(bb) >> 24);
}

void HueSectorOp(uint8_t* r, uint8_t* g, uint8_t* b, void* params) {
  const HueSectorParams* p = static_cast<const HueSectorParams*>(params);
  uint16_t h16, s16, v16;
  Hsv16(*r * 257u, *g * 257u, *b * 257u, &h16, &s16, &v16);
  const int64_t H = h16;
  int32_t sector = -1, backward = 0;
  for (int32_t i = 0; i < 6 && sector < 0; ++i) {
    const int64_t lo = p->imgH[i], hi = p->imgH[i + 1];
    if (lo < hi) {
      if (lo <= H && H < hi) sector = i;
    } else if (lo - hi >= 32768) {  // forward through 0
      if (H >= lo || H < hi) sector = i;
    } else if (hi < H && H <= lo) {
      sector = i;
      backward = 1;
    }
  }
  if (sector < 0) return;
  const int32_t i = sector;
  const int64_t lo = p->imgH[i], hi = p->imgH[i + 1];
  double frac, h;
  if (!backward) {
    frac = double(Mod65536(H - lo)) / double(Mod65536(hi - lo));
    h = p->stdH[i] + double(Mod65536(int64_t(p->stdH[i + 1]) - p->stdH[i])) * frac;
  } else {
    frac = double(Mod65536(lo - H)) / double(Mod65536(lo - hi));
    h = p->stdH[i] - double(Mod65536(int64_t(p->stdH[i]) - p->stdH[i + 1])) * frac;
  }
  const uint16_t hOut = uint16_t(Mod65536(int64_t(std::trunc(h))));
  // The measured level at this hue becomes the standard one, scaled linearly below and above.
  auto follow = [frac](uint16_t x, const uint16_t* img, const uint16_t* std, int32_t k) -> uint16_t {
    const double m = ClampU16(std::trunc(img[k] + (double(img[k + 1]) - double(img[k])) * frac));
    const double t = ClampU16(std::trunc(std[k] + (double(std[k + 1]) - double(std[k])) * frac));
    const double out = x > m ? (x - m) / (65535.0 - m) * (65535.0 - t) + t : x / m * t;
    return ClampU16(std::trunc(out));
  };
  const uint16_t sOut = p->correctS == 1 ? follow(s16, p->imgS, p->stdS, i) : s16;
  const uint16_t vOut = p->correctV == 1 ? follow(v16, p->imgV, p->stdV, i) : v16;
  uint16_t R, G, B;
  Hsv16ToRgb16(hOut, sOut, vOut, &R, &G, &B);
  *r = uint8_t(R >> 8);
  *g = uint8_t(G >> 8);
  *b = uint8_t(B >> 8);
}

// ---- builders --------------------------------------------------------------------------------

ColorXform* BuildWhiteBalance(double r, double g, double b) {
  if (!std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) return nullptr;
  const GreyAxisTable* grey = BuildGreyAxisTable();
  ColorXform* xf = ColorXformCreate();
  if (!xf) return nullptr;
  LabShiftParams* p = static_cast<LabShiftParams*>(ColorXformSetOperation(xf, LabShiftOp, sizeof(LabShiftParams)));
  if (!p) {
    ColorXformDestroy(xf);
    return nullptr;
  }
  double X, Y, Z, L, A, B;
  SrgbToXyz(Clamp01(r), Clamp01(g), Clamp01(b), &X, &Y, &Z);
  XyzToLab(X, Y, Z, &L, &A, &B);
  // The grey of the colour's own lightness: the a*b* of the greys differ slightly from 0.
  int32_t nearest = 0;
  for (int32_t v = 1; v < 256; ++v)
    if (std::fabs(grey->L[v] - L) < std::fabs(grey->L[nearest] - L)) nearest = v;
  p->da = -(A - grey->ab[nearest][0]);
  p->db = -(B - grey->ab[nearest][1]);
  return xf;
}

ColorXform* BuildColorCorrection(const double* imgR, const double* imgG, const double* imgB,
                                 const double* stdR, const double* stdG, const double* stdB,
                                 int32_t correctS, int32_t correctV) {
  if (!imgR || !imgG || !imgB || !stdR || !stdG || !stdB) return nullptr;
  for (int32_t i = 0; i < 6; ++i)
    for (const double* a : {imgR, imgG, imgB, stdR, stdG, stdB})
      if (!std::isfinite(a[i])) return nullptr;
  HueSectorParams q{};
  q.correctS = correctS ? 1 : 0;
  q.correctV = correctV ? 1 : 0;
  for (int32_t i = 0; i < 6; ++i) {
    Hsv16(Full32(Clamp01(imgR[i])) >> 16, Full32(Clamp01(imgG[i])) >> 16, Full32(Clamp01(imgB[i])) >> 16,
          &q.imgH[i], &q.imgS[i], &q.imgV[i]);
    Hsv16(Full32(Clamp01(stdR[i])) >> 16, Full32(Clamp01(stdG[i])) >> 16, Full32(Clamp01(stdB[i])) >> 16,
          &q.stdH[i], &q.stdS[i], &q.stdV[i]);
  }
  for (uint16_t* a : {q.imgH, q.imgS, q.imgV, q.stdH, q.stdS, q.stdV}) a[6] = a[0];
  for (int32_t i = 0; i < 6; ++i) {
    if (q.imgH[i] == q.imgH[i + 1] || q.stdH[i] == q.stdH[i + 1]) return nullptr;
    if (!q.imgS[i] || !q.stdS[i] || !q.imgV[i] || !q.stdV[i]) return nullptr;
  }
  ColorXform* xf = ColorXformCreate();
  if (!xf) return nullptr;
  void* p = ColorXformSetOperation(xf, HueSectorOp, sizeof(HueSectorParams));
  if (!p) {
    ColorXformDestroy(xf);
    return nullptr;
  }
  std::memcpy(p, &q, sizeof q);
  return xf;
}

// ---- EstimateWhite ---------------------------------------------------------------------------

int32_t EstimateWhite(const CImgBuff* img, double* r, double* g, double* b, uint32_t satPct,
                      uint32_t valPct, uint32_t* limitsUsed) {
  if (satPct > 100 || valPct > 100) return 0;
  const uint32_t satLimit = satPct == 0 ? 65535u : satPct * 65535u / 100u;
  const uint32_t valLimit = valPct * 65535u / 100u;
  if (!img || !img->record) return 0;
  const C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels || rec->width < 1 || rec->height < 1) return 0;
  if (limitsUsed) *limitsUsed = 0;
  double mean[3];
  int32_t fromBlocks = 0;
  if ((satLimit != 65535u || valLimit != 0) && rec->width >= 128 && rec->height >= 128) {
    const int32_t bw = rec->width / 16, bh = rec->height / 16;
    const int32_t across = (rec->width + bw - 1) / bw, down = (rec->height + bh - 1) / bh;
    BlockRowTotals rows[kMaxBlocksAcross];  // down <= 19 as across: a width of 16 x bw + 15 at most
    static_assert(kMaxBlocksAcross >= 19, "blocks of width / 16 give at most 19 across");
    BlockJob job{rec, bw, bh, across, satLimit, valLimit, rows};
    if (down * int64_t(rec->width) * bh < ParallelPixelThreshold) BlockPiece(&job, 0, uint64_t(down));
    else ParallelFor(BlockPiece, &job, uint64_t(down));
    double total[3] = {0, 0, 0};
    uint64_t count = 0;
    for (int32_t y = 0; y < down; ++y) {
      for (int c = 0; c < 3; ++c) total[c] += rows[y].sum[c];
      count += rows[y].count;
    }
    if (count) {
      for (int c = 0; c < 3; ++c) mean[c] = total[c] / double(count);
      fromBlocks = 1;
    }
  }
  if (!fromBlocks) PlainMean(rec, mean);
  else if (limitsUsed) *limitsUsed = 1;
  if (r) *r = double(uint16_t(mean[0])) / 65535.0;
  if (g) *g = double(uint16_t(mean[1])) / 65535.0;
  if (b) *b = double(uint16_t(mean[2])) / 65535.0;
  return 1;
}
