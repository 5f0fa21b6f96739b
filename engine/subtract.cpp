// subtract.cpp - background subtraction and object extraction, in place inside a rectangle.
// Formats 1 to 6 are read and written directly: the subtraction runs a saturating row kernel
// on the picture's row and the background's (converted to the picture's slot first when the
// formats differ); the extraction converts a row of each picture to L*a*b* once, through
// tables of the image core's own sRGB products for 8-bit pictures, and compares the rows.
// Formats 7 to 9 go through the accessors, which remain the reference.
// Inside: slot reads - subtraction - L*a*b* rows - extraction passes - entries
#include "engine/subtract.h"
#include "engine/simd.h"

#include <cmath>
#include <cstring>
#include <new>

#include "core/colour.h"
#include "engine/pixel.h"
#include "engine/scratch.h"
#include "engine/slotaccess.h"

#define QV_SUBTRACT_CLONES QV_AVX2_CLONES

namespace {

// ---- slot reads ----------------------------------------------------------------------------

// n pixels of the background from (x0, y) as a picture of format (NB, CH) reads them.
template <int NB, int CH>
void BackgroundRow(const C_ImgBuff* bg, int32_t x0, int32_t y, int32_t n, SampleType<NB>* out) {
  typedef SampleType<NB> T;
  const int32_t typed = DispatchTyped(bg->format, [&]<int BNB, int BCH>() {
    const SampleType<BNB>* q = RowPtr<const SampleType<BNB>>(bg, x0, y);
    for (int32_t i = 0; i < n; ++i, q += BCH) {
      if constexpr (CH == 1) {
        out[i] = T(GrayAt<BNB, BCH, NB>(q));
      } else {
        uint32_t r, g, b;
        RgbAt<BNB, BCH, NB>(q, &r, &g, &b);
        out[3 * i] = T(r), out[3 * i + 1] = T(g), out[3 * i + 2] = T(b);
      }
    }
  });
  if (typed) return;
  for (int32_t i = 0; i < n; ++i) {
    uint32_t v[3];
    if constexpr (CH == 1) {
      AccessorGray<NB>(bg, x0 + i, y, v);
      out[i] = T(v[0]);
    } else {
      AccessorRgb<NB>(bg, x0 + i, y, v);
      out[3 * i] = T(v[0]), out[3 * i + 1] = T(v[1]), out[3 * i + 2] = T(v[2]);
    }
  }
}

// ---- subtraction ---------------------------------------------------------------------------

#define QV_SUBTRACT_ROW(name, T)                                                       \
  QV_SUBTRACT_CLONES void name(T* __restrict p, const T* __restrict q, int64_t n) {   \
    for (int64_t i = 0; i < n; ++i) p[i] = p[i] > q[i] ? T(p[i] - q[i]) : T(0);       \
  }
QV_SUBTRACT_ROW(SubtractRowU8, uint8_t)
QV_SUBTRACT_ROW(SubtractRowU16, uint16_t)
QV_SUBTRACT_ROW(SubtractRowU32, uint32_t)
#undef QV_SUBTRACT_ROW

inline void SubtractRow(uint8_t* p, const uint8_t* q, int64_t n) { SubtractRowU8(p, q, n); }
inline void SubtractRow(uint16_t* p, const uint16_t* q, int64_t n) { SubtractRowU16(p, q, n); }
inline void SubtractRow(uint32_t* p, const uint32_t* q, int64_t n) { SubtractRowU32(p, q, n); }

// Columns of row y that the background covers, counted from x0 (0 when none).
inline int32_t InsideCount(const C_ImgBuff* bg, const RoiRect& r, int32_t y) {
  if (y >= bg->height || r.x0 >= bg->width) return 0;
  const int32_t last = r.x1 < bg->width - 1 ? r.x1 : bg->width - 1;
  return last - r.x0 + 1;
}

template <int NB, int CH>
int32_t SubtractRowsTyped(const SubtractJob& job, int32_t yb, int32_t ye) {
  typedef SampleType<NB> T;
  C_ImgBuff* pic = job.picture->record;
  const C_ImgBuff* bg = job.background->record;
  const RoiRect r{job.x0, job.y0, job.x1, job.y1};
  const int32_t width = int32_t(RoiWidth(r));
  const int32_t same = bg->format == pic->format;
  ScratchArray<T> row;
  if (!same && !row.Reserve(size_t(width) * CH)) return 0;
  for (int32_t y = yb; y < ye; ++y) {
    T* p = RowPtr<T>(pic, r.x0, y);
    const int32_t inside = InsideCount(bg, r, y);
    if (inside > 0) {
      const T* q = RowPtr<const T>(bg, r.x0, y);
      if (!same) {
        BackgroundRow<NB, CH>(bg, r.x0, y, inside, row.Data());
        q = row.Data();
      }
      SubtractRow(p, q, int64_t(inside) * CH);
    }
    if (job.maskOutside && inside < width)
      std::memset(p + int64_t(inside) * CH, 0, size_t(width - inside) * CH * sizeof(T));
  }
  return 1;
}

// The reference: every pixel through the slot's getter and setter.
template <int D, int CH>
void SubtractPixelAccessor(const SubtractJob& job, int32_t x, int32_t y) {
  C_ImgBuff* pic = job.picture->record;
  const C_ImgBuff* bg = job.background->record;
  uint32_t p[3] = {0, 0, 0}, q[3];
  if (x < bg->width && y < bg->height) {
    if constexpr (CH == 1) AccessorGray<D>(pic, x, y, p), AccessorGray<D>(bg, x, y, q);
    else AccessorRgb<D>(pic, x, y, p), AccessorRgb<D>(bg, x, y, q);
    for (int32_t c = 0; c < CH; ++c) p[c] = p[c] > q[c] ? p[c] - q[c] : 0u;
  } else if (!job.maskOutside) {
    return;  // keeps its value
  }
  if constexpr (CH == 1) AccessorSetGray<D>(pic, x, y, p[0]);
  else AccessorSetRgb<D>(pic, x, y, p[0], p[1], p[2]);
}

struct SubtractPass {
  const SubtractJob* job;
  FormatSlot slot;
  int32_t typed;
};

void SubtractRows(void* ctx, uint64_t first, uint64_t count) {
  const SubtractPass& pass = *static_cast<const SubtractPass*>(ctx);
  const SubtractJob& job = *pass.job;
  const int32_t yb = job.y0 + int32_t(first), ye = job.y0 + int32_t(first + count);
  int32_t done = 0;
  if (pass.typed) {
    DispatchTyped(job.picture->Format(),
                  [&]<int NB, int CH>() { done = SubtractRowsTyped<NB, CH>(job, yb, ye); });
  }
  if (done) return;  // else the accessors: not a typed format, or no memory for a row
  for (int32_t y = yb; y < ye; ++y)
    for (int32_t x = job.x0; x <= job.x1; ++x) {
      switch (pass.slot) {
        case SlotGray8: SubtractPixelAccessor<8, 1>(job, x, y); break;
        case SlotGray16: SubtractPixelAccessor<16, 1>(job, x, y); break;
        case SlotGray32: SubtractPixelAccessor<32, 1>(job, x, y); break;
        case SlotColour8: SubtractPixelAccessor<8, 3>(job, x, y); break;
        case SlotColour16: SubtractPixelAccessor<16, 3>(job, x, y); break;
        default: SubtractPixelAccessor<32, 3>(job, x, y); break;
      }
    }
}

// ---- L*a*b* rows ---------------------------------------------------------------------------

// The image core's X, Y, Z of 8-bit sRGB as three columns of products, so that a pixel's
// X = (xr[r] + xg[g]) + xb[b] is the very double its accessor computes (adding the zero
// products of the other channels changes nothing), and the L*a*b* of the 256 grays.
struct LabTables {
  double xyz[3][3][256];  // [channel R, G, B][X, Y, Z][value]
  double gray[256][3];    // L*, a*, b* of gray v
  int32_t ready = 0;

  void Build() {
    for (int32_t v = 0; v < 256; ++v) {
      const double c = v / 255.0;
      SrgbToXyz(c, 0.0, 0.0, &xyz[0][0][v], &xyz[0][1][v], &xyz[0][2][v]);
      SrgbToXyz(0.0, c, 0.0, &xyz[1][0][v], &xyz[1][1][v], &xyz[1][2][v]);
      SrgbToXyz(0.0, 0.0, c, &xyz[2][0][v], &xyz[2][1][v], &xyz[2][2][v]);
      double X, Y, Z;
      SrgbToXyz(c, c, c, &X, &Y, &Z);
      XyzToLab(X, Y, Z, &gray[v][0], &gray[v][1], &gray[v][2]);
    }
    ready = 1;
  }
};

// 16- and 32-bit gray or R, G, B samples, divided by the depth's maximum as GetXYZ does.
template <class T>
void LabRowDeep(const T* p, int32_t ch, double max, int32_t n, double* lab) {
  double X, Y, Z;
  for (int32_t i = 0; i < n; ++i, p += ch) {
    SrgbToXyz(p[0] / max, p[ch == 3] / max, p[ch == 3 ? 2 : 0] / max, &X, &Y, &Z);
    XyzToLab(X, Y, Z, lab + 3 * i, lab + 3 * i + 1, lab + 3 * i + 2);
  }
}

// L*, a*, b* of n pixels from (x0, y), three doubles each, as GetXYZ and XyzToLab give them.
// Without tables every format goes through GetXYZ (the reference path).
void LabRow(const C_ImgBuff* rec, const LabTables* tables, int32_t x0, int32_t y, int32_t n,
            double* lab) {
  double X, Y, Z;
  const LabTables* t = tables;
  switch (t ? rec->format : 0) {
    case 1: {
      const uint8_t* p = RowPtr<const uint8_t>(rec, x0, y);
      for (int32_t i = 0; i < n; ++i) std::memcpy(lab + 3 * i, t->gray[p[i]], 3 * sizeof(double));
      return;
    }
    case 4: {
      const uint8_t* p = RowPtr<const uint8_t>(rec, x0, y);
      for (int32_t i = 0; i < n; ++i, p += 3) {
        X = t->xyz[0][0][p[0]] + t->xyz[1][0][p[1]] + t->xyz[2][0][p[2]];
        Y = t->xyz[0][1][p[0]] + t->xyz[1][1][p[1]] + t->xyz[2][1][p[2]];
        Z = t->xyz[0][2][p[0]] + t->xyz[1][2][p[1]] + t->xyz[2][2][p[2]];
        XyzToLab(X, Y, Z, lab + 3 * i, lab + 3 * i + 1, lab + 3 * i + 2);
      }
      return;
    }
    case 2:
    case 5: {
      const int32_t ch = rec->format == 2 ? 1 : 3;
      LabRowDeep(RowPtr<const uint16_t>(rec, x0, y), ch, 65535.0, n, lab);
      return;
    }
    case 3:
    case 6: {
      const int32_t ch = rec->format == 3 ? 1 : 3;
      LabRowDeep(RowPtr<const uint32_t>(rec, x0, y), ch, 4294967295.0, n, lab);
      return;
    }
    default:
      for (int32_t i = 0; i < n; ++i) {
        rec->GetXYZ(x0 + i, y, &X, &Y, &Z);
        XyzToLab(X, Y, Z, lab + 3 * i, lab + 3 * i + 1, lab + 3 * i + 2);
      }
      return;
  }
}

inline double RowDistance(const double* p, const double* q) {
  return LabSquaredDistance(p[0], p[1], p[2], q[0], q[1], q[2]);
}

// ---- extraction passes ---------------------------------------------------------------------

struct ExtractPass {
  const ExtractJob* job;
  const LabTables* tables;  // null: the accessor path
  uint64_t tilesPerRow;
};

// Paints n pixels from (x0, y) as SetGray8 of the fill value does: every channel 0, or the
// format's white (255 widened to the depth).
void PaintRun(C_ImgBuff* rec, int32_t x0, int32_t y, int32_t n, int32_t valueFlag,
              int32_t typed) {
  if (typed && IsTypedFormat(rec->format)) {
    const size_t bytes = size_t(n) * size_t(ImgBytesPerPixel[rec->format]);
    std::memset(RowPtr<uint8_t>(rec, x0, y), valueFlag ? 0xFF : 0, bytes);
    return;
  }
  for (int32_t i = 0; i < n; ++i) rec->SetGray8(x0 + i, y, valueFlag ? 255 : 0);
}

// Both pictures have valid formats (checked at the entry), so GetXYZ succeeds wherever a
// pixel exists: the only pixels skipped are those outside the background.
void ExtractPixelRows(void* ctx, uint64_t first, uint64_t count) {
  const ExtractPass& pass = *static_cast<const ExtractPass*>(ctx);
  const ExtractJob& job = *pass.job;
  C_ImgBuff* pic = job.picture->record;
  const C_ImgBuff* bg = job.background->record;
  const RoiRect r{job.x0, job.y0, job.x1, job.y1};
  const int32_t width = int32_t(RoiWidth(r));
  const double limit = job.level * job.level;
  ScratchArray<double> lab;
  const int32_t rows = lab.Reserve(size_t(width) * 6);
  for (int32_t y = job.y0 + int32_t(first); y < job.y0 + int32_t(first + count); ++y) {
    const int32_t inside = InsideCount(bg, r, y);
    if (inside <= 0) continue;
    if (!rows) {  // no memory for the row buffers: pixel by pixel
      for (int32_t x = r.x0; x < r.x0 + inside; ++x)
        if (LabDistance(job.picture, job.background, x, y) <= limit)
          PaintRun(pic, x, y, 1, job.valueFlag, 0);
      continue;
    }
    double* p = lab.Data();
    double* q = p + size_t(width) * 3;
    LabRow(pic, pass.tables, r.x0, y, inside, p);
    LabRow(bg, pass.tables, r.x0, y, inside, q);
    for (int32_t i = 0; i < inside; ++i) {
      if (!(RowDistance(p + 3 * i, q + 3 * i) <= limit)) continue;
      int32_t run = 1;  // a run of painted pixels is written at once
      while (i + run < inside && RowDistance(p + 3 * (i + run), q + 3 * (i + run)) <= limit) ++run;
      PaintRun(pic, r.x0 + i, y, run, job.valueFlag, pass.tables != nullptr);
      i += run - 1;
    }
  }
}

// Tile i of the rectangle, cut at its right and bottom edges; formed in 64 bits since the
// tile size may be anything up to 2^64 - 1.
RoiRect TileRect(const ExtractJob& job, uint64_t tilesPerRow, uint64_t i) {
  const uint64_t row = i / tilesPerRow, col = i % tilesPerRow, ts = job.tileSize;
  const int64_t tx0 = int64_t(job.x0) + int64_t(col * ts);
  const int64_t ty0 = int64_t(job.y0) + int64_t(row * ts);
  const int64_t tx1 = ts - 1 >= uint64_t(job.x1 - tx0) ? job.x1 : tx0 + int64_t(ts) - 1;
  const int64_t ty1 = ts - 1 >= uint64_t(job.y1 - ty0) ? job.y1 : ty0 + int64_t(ts) - 1;
  return RoiRect{int32_t(tx0), int32_t(ty0), int32_t(tx1), int32_t(ty1)};
}

void ExtractTiles(void* ctx, uint64_t first, uint64_t count) {
  const ExtractPass& pass = *static_cast<const ExtractPass*>(ctx);
  const ExtractJob& job = *pass.job;
  C_ImgBuff* pic = job.picture->record;
  const C_ImgBuff* bg = job.background->record;
  ScratchArray<double> lab;
  const int32_t rows = lab.Reserve(size_t(RoiWidth(TileRect(job, pass.tilesPerRow, 0))) * 6);
  for (uint64_t i = first; i < first + count; ++i) {
    const RoiRect t = TileRect(job, pass.tilesPerRow, i);
    const int32_t width = int32_t(RoiWidth(t));
    double sum = 0.0;
    for (int32_t y = t.y0; y <= t.y1; ++y) {
      const int32_t inside = InsideCount(bg, t, y);
      if (inside <= 0) continue;  // outside the background: distance 0
      if (!rows) {
        for (int32_t x = t.x0; x < t.x0 + inside; ++x)
          sum += LabDistance(job.picture, job.background, x, y);
        continue;
      }
      double* p = lab.Data();
      double* q = p + size_t(width) * 3;
      LabRow(pic, pass.tables, t.x0, y, inside, p);
      LabRow(bg, pass.tables, t.x0, y, inside, q);
      for (int32_t k = 0; k < inside; ++k) sum += RowDistance(p + 3 * k, q + 3 * k);
    }
    // Every pixel of the tile counts, also those outside the background.
    if (sum / double(RoiWidth(t) * RoiHeight(t)) <= job.level)
      for (int32_t y = t.y0; y <= t.y1; ++y)
        PaintRun(pic, t.x0, y, width, job.valueFlag, pass.tables != nullptr);
  }
}

// The L*a*b* conversion costs about a hundred nanoseconds a pixel.
constexpr int64_t MinLabBandPixels = 8 * 1024;
// The saturating subtraction moves gigabytes a second.
constexpr int64_t MinSubtractBandBytes = 4 * 1024 * 1024;
constexpr int64_t MinAccessorBandPixels = 16 * 1024;

}  // namespace

// ---- entries -------------------------------------------------------------------------------

double LabDistance(CImgBuff* picture, CImgBuff* background, int32_t x, int32_t y) {
  if (!picture || !background || !picture->record || !background->record) return 0.0;
  double X1, Y1, Z1, X2, Y2, Z2;
  // The handles' accessors test the point.
  if (!picture->GetXYZ(x, y, &X1, &Y1, &Z1) || !background->GetXYZ(x, y, &X2, &Y2, &Z2)) return 0.0;
  double L1, a1, b1, L2, a2, b2;
  XyzToLab(X1, Y1, Z1, &L1, &a1, &b1);
  XyzToLab(X2, Y2, Z2, &L2, &a2, &b2);
  return LabSquaredDistance(L1, a1, b1, L2, a2, b2);
}

int32_t SubtractBackground(CImgBuff* picture, CImgBuff* background, int32_t maskOutside,
                           const RoiRect* roi) {
  if (!picture || !picture->record) return 0;
  if (!background || !background->record || background->Format() == 0) return 1;
  RoiRect r;
  if (!GetRoi(&r, picture, roi)) return 0;
  const FormatSlot slot = GetFormatSlot(picture->Format());
  // A background record with a stray format code or no pixels has nothing to read.
  if (slot == SlotNone || !picture->Pixels() || !IsValidFormat(background->Format()) ||
      !background->Pixels())
    return 0;
  SubtractJob job{picture, background, maskOutside, r.x0, r.y0, r.x1, r.y1};
  SubtractPass pass{&job, slot, IsTypedFormat(picture->Format()) && EngineTypedKernels()};
  const int64_t perRow =
      pass.typed ? RoiWidth(r) * ImgBytesPerPixel[picture->Format()] : RoiWidth(r);
  RunBands(SubtractRows, &pass, RoiHeight(r), perRow,
           pass.typed ? MinSubtractBandBytes : MinAccessorBandPixels);
  return 1;
}

int32_t ExtractObjects(CImgBuff* picture, CImgBuff* background, int32_t valueFlag, double level,
                       uint64_t tileSize, const RoiRect* roi) {
  if (!picture || !picture->record) return 0;
  if (!background || !background->record || background->Format() == 0) return 1;
  // NaN passes a "below 0" test and then paints every tile; infinity paints everything too.
  if (!std::isfinite(level) || level < 0.0) return 0;
  RoiRect r;
  if (!GetRoi(&r, picture, roi)) return 0;
  if (!IsValidFormat(picture->Format()) || !picture->Pixels() ||
      !IsValidFormat(background->Format()) || !background->Pixels())
    return 0;
  ExtractJob job{picture, background, valueFlag, level, tileSize, r.x0, r.y0, r.x1, r.y1};
  // Without the tables (typed kernels off, or no memory): the accessor path.
  LabTables* tables = EngineTypedKernels() ? new (std::nothrow) LabTables : nullptr;
  if (tables) tables->Build();
  ExtractPass pass{&job, tables, 0};
  if (tileSize < 2) {
    RunBands(ExtractPixelRows, &pass, RoiHeight(r), RoiWidth(r), MinLabBandPixels);
  } else {
    const uint64_t w = uint64_t(RoiWidth(r)), h = uint64_t(RoiHeight(r));
    pass.tilesPerRow = tileSize >= w ? 1 : (w + tileSize - 1) / tileSize;
    const uint64_t tileRows = tileSize >= h ? 1 : (h + tileSize - 1) / tileSize;
    if (w * h < uint64_t(MinLabBandPixels)) ExtractTiles(&pass, 0, pass.tilesPerRow * tileRows);
    else ParallelFor(ExtractTiles, &pass, pass.tilesPerRow * tileRows);
  }
  delete tables;
  return 1;
}
