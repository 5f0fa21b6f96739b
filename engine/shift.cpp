// shift.cpp - ShiftImageWhole and ShiftImage: whole-pixel moves by row and column copies,
// fractional moves by linear interpolation with the neighbour along one axis at a time.
// Both steps work in place: a line is walked away from the side the content moves toward,
// so every pixel is read before it is overwritten; rows (or column bands) are independent
// and split over the worker pool.
// Inside: whole-pixel step - fraction kernels (typed) - fraction path (accessors) - entries
#include "engine/shift.h"

#include <cmath>
#include <cstring>

#include "core/colour.h"
#include "engine/pixel.h"

namespace {

// The pool is worth waking only for pictures of some size.
void RunUnits(ParallelForFn fn, void* ctx, int64_t units, int64_t pixels) {
  if (units <= 0) return;
  if (pixels < ParallelPixelThreshold) fn(ctx, 0, uint64_t(units));
  else ParallelFor(fn, ctx, uint64_t(units));
}

// ---- whole-pixel step ----------------------------------------------------------------------

struct WholeShiftJob {
  C_ImgBuff* rec;
  int32_t length;   // pixels along the moved axis (width for rows, height for columns)
  int32_t shift;    // already limited to -length .. length
  int32_t bpp;
  uint8_t fillPixel[32];  // the fill as SetGray8 stores it in this format
};

void FillPixels(uint8_t* p, int64_t count, const WholeShiftJob& job) {
  if (job.bpp == 1) {
    std::memset(p, job.fillPixel[0], size_t(count));
    return;
  }
  for (int64_t i = 0; i < count; ++i) std::memcpy(p + i * job.bpp, job.fillPixel, size_t(job.bpp));
}

void ShiftWholeRows(void* ctx, uint64_t first, uint64_t count) {
  const WholeShiftJob& job = *static_cast<const WholeShiftJob*>(ctx);
  const int64_t n = job.length, s = job.shift, bpp = job.bpp;
  for (uint64_t k = first; k < first + count; ++k) {
    uint8_t* row = RowPtr<uint8_t>(job.rec, 0, int32_t(k));
    if (s > 0) {
      std::memmove(row + s * bpp, row, size_t((n - s) * bpp));
      FillPixels(row, s, job);
    } else {
      std::memmove(row, row - s * bpp, size_t((n + s) * bpp));
      FillPixels(row + (n + s) * bpp, -s, job);
    }
  }
}

// Units are columns; a piece moves its band of columns down (or up) row by row, so the
// copies stay contiguous and no other piece's pixels are touched.
void ShiftWholeColumns(void* ctx, uint64_t first, uint64_t count) {
  const WholeShiftJob& job = *static_cast<const WholeShiftJob*>(ctx);
  const int32_t n = job.length, s = job.shift;
  const size_t span = size_t(count) * size_t(job.bpp);
  const int32_t x = int32_t(first);
  if (s > 0) {
    for (int32_t y = n - 1; y >= s; --y)
      std::memcpy(RowPtr<uint8_t>(job.rec, x, y), RowPtr<uint8_t>(job.rec, x, y - s), span);
    for (int32_t y = s - 1; y >= 0; --y) FillPixels(RowPtr<uint8_t>(job.rec, x, y), int64_t(count), job);
  } else {
    for (int32_t y = 0; y < n + s; ++y)
      std::memcpy(RowPtr<uint8_t>(job.rec, x, y), RowPtr<uint8_t>(job.rec, x, y - s), span);
    for (int32_t y = n + s > 0 ? n + s : 0; y < n; ++y)
      FillPixels(RowPtr<uint8_t>(job.rec, x, y), int64_t(count), job);
  }
}

int32_t LimitShift(int64_t s, int32_t n) {
  if (s > n) return n;
  if (s < -int64_t(n)) return -n;
  return int32_t(s);
}

// ---- fraction kernels (formats 1 to 6) -----------------------------------------------------

struct FractionJob {
  C_ImgBuff* rec;
  double f;       // -1 < f < 1, not 0
  uint8_t fill;
};

template <int NB>
inline double FillAtDepth(uint8_t fill) {
  return double(Depth<8, NB>(fill));
}

// One row of n pixels, CH channels each, in place.
template <int NB, int CH>
void FractionRowTyped(SampleType<NB>* p, int32_t n, double f, double fillValue) {
  if (f > 0) {
    const double a = 1.0 - f;
    for (int64_t i = int64_t(n) - 1; i >= 1; --i)
      for (int c = 0; c < CH; ++c)
        p[i * CH + c] = ClampTruncSample<NB>(a * p[i * CH + c] + f * p[(i - 1) * CH + c]);
    for (int c = 0; c < CH; ++c) p[c] = ClampTruncSample<NB>(a * p[c] + f * fillValue);
  } else {
    const double g = -f, a = 1.0 - g;
    for (int64_t i = 0; i + 1 < n; ++i)
      for (int c = 0; c < CH; ++c)
        p[i * CH + c] = ClampTruncSample<NB>(a * p[i * CH + c] + g * p[(i + 1) * CH + c]);
    const int64_t last = (int64_t(n) - 1) * CH;
    for (int c = 0; c < CH; ++c) p[last + c] = ClampTruncSample<NB>(a * p[last + c] + g * fillValue);
  }
}

// Row `dst` blended in place with the neighbouring row `nb` (or the fill when nb is null).
template <int NB>
void BlendSpan(SampleType<NB>* dst, const SampleType<NB>* nb, int64_t samples, double a, double w,
               double fillValue) {
  if (nb) {
    for (int64_t i = 0; i < samples; ++i) dst[i] = ClampTruncSample<NB>(a * dst[i] + w * nb[i]);
  } else {
    for (int64_t i = 0; i < samples; ++i) dst[i] = ClampTruncSample<NB>(a * dst[i] + w * fillValue);
  }
}

template <int NB, int CH>
void FractionRowsTyped(void* ctx, uint64_t first, uint64_t count) {
  const FractionJob& job = *static_cast<const FractionJob*>(ctx);
  const double fillValue = FillAtDepth<NB>(job.fill);
  for (uint64_t y = first; y < first + count; ++y)
    FractionRowTyped<NB, CH>(RowPtr<SampleType<NB>>(job.rec, 0, int32_t(y)), job.rec->width, job.f,
                             fillValue);
}

// Units are columns: a piece blends its band of every row with the row above (content moving
// down) walking up from the bottom, or with the row below walking down from the top.
template <int NB, int CH>
void FractionColumnsTyped(void* ctx, uint64_t first, uint64_t count) {
  const FractionJob& job = *static_cast<const FractionJob*>(ctx);
  const double fillValue = FillAtDepth<NB>(job.fill);
  const int32_t h = job.rec->height, x = int32_t(first);
  const int64_t samples = int64_t(count) * CH;
  auto row = [&](int32_t y) { return RowPtr<SampleType<NB>>(job.rec, x, y); };
  if (job.f > 0) {
    const double f = job.f, a = 1.0 - f;
    for (int32_t y = h - 1; y >= 1; --y) BlendSpan<NB>(row(y), row(y - 1), samples, a, f, fillValue);
    BlendSpan<NB>(row(0), nullptr, samples, a, f, fillValue);
  } else {
    const double g = -job.f, a = 1.0 - g;
    for (int32_t y = 0; y + 1 < h; ++y) BlendSpan<NB>(row(y), row(y + 1), samples, a, g, fillValue);
    BlendSpan<NB>(row(h - 1), nullptr, samples, a, g, fillValue);
  }
}

// ---- fraction path through the accessors (every format; the only path for 7 to 9) ----------

// A sample of the slot: gray in v[0], or three channels; XYZ doubles unclamped.
struct Sample3 {
  double v[3];
};

struct AccessorLine {
  C_ImgBuff* rec;
  FormatSlot slot;
  int32_t xyz;        // format 7: XYZ doubles through GetXYZ / SetXYZ
  int32_t channels;   // 1 for gray slots, 3 otherwise
  double maximum;     // clamp for integer slots
  Sample3 fill;

  Sample3 Read(int32_t x, int32_t y) const {
    Sample3 s{{0, 0, 0}};
    if (xyz) {
      rec->GetXYZ(x, y, &s.v[0], &s.v[1], &s.v[2]);
      return s;
    }
    switch (slot) {
      case SlotGray8: { uint8_t g; rec->GetGray8(x, y, &g); s.v[0] = g; break; }
      case SlotGray16: { uint16_t g; rec->GetGray16(x, y, &g); s.v[0] = g; break; }
      case SlotGray32: { uint32_t g; rec->GetGray32(x, y, &g); s.v[0] = g; break; }
      case SlotColour8: {
        uint8_t r, g, b;
        rec->GetRGB8(x, y, &r, &g, &b);
        s = Sample3{{double(r), double(g), double(b)}};
        break;
      }
      case SlotColour16: {
        uint16_t r, g, b;
        rec->GetRGB16(x, y, &r, &g, &b);
        s = Sample3{{double(r), double(g), double(b)}};
        break;
      }
      default: {
        uint32_t r, g, b;
        rec->GetRGB32(x, y, &r, &g, &b);
        s = Sample3{{double(r), double(g), double(b)}};
        break;
      }
    }
    return s;
  }

  uint32_t Clamp(double v) const { return v > maximum ? uint32_t(maximum) : ClampTruncU32(v); }

  void Write(int32_t x, int32_t y, const Sample3& s) const {
    if (xyz) {
      rec->SetXYZ(x, y, s.v[0], s.v[1], s.v[2]);
      return;
    }
    switch (slot) {
      case SlotGray8: rec->SetGray8(x, y, uint8_t(Clamp(s.v[0]))); break;
      case SlotGray16: rec->SetGray16(x, y, uint16_t(Clamp(s.v[0]))); break;
      case SlotGray32: rec->SetGray32(x, y, Clamp(s.v[0])); break;
      case SlotColour8:
        rec->SetRGB8(x, y, uint8_t(Clamp(s.v[0])), uint8_t(Clamp(s.v[1])), uint8_t(Clamp(s.v[2])));
        break;
      case SlotColour16:
        rec->SetRGB16(x, y, uint16_t(Clamp(s.v[0])), uint16_t(Clamp(s.v[1])), uint16_t(Clamp(s.v[2])));
        break;
      default: rec->SetRGB32(x, y, Clamp(s.v[0]), Clamp(s.v[1]), Clamp(s.v[2])); break;
    }
  }

  Sample3 Blend(const Sample3& cur, const Sample3& nb, double a, double w) const {
    Sample3 o{{0, 0, 0}};
    for (int c = 0; c < channels; ++c) o.v[c] = a * cur.v[c] + w * nb.v[c];
    return o;
  }
};

struct AccessorJob {
  AccessorLine line;
  double f;
  int32_t vertical;  // 0: units are rows; 1: units are columns
};

// One line of n pixels; point(i) gives the pixel.  The previous sample is kept so that each
// pixel is read once, before it is overwritten.
template <class PointFn>
void FractionLineAccessor(const AccessorLine& L, int32_t n, double f, PointFn point) {
  int32_t x, y;
  if (f > 0) {
    const double a = 1.0 - f;
    point(n - 1, &x, &y);
    Sample3 cur = L.Read(x, y);
    for (int32_t i = n - 1; i >= 1; --i) {
      int32_t px, py;
      point(i - 1, &px, &py);
      const Sample3 prev = L.Read(px, py);
      point(i, &x, &y);
      L.Write(x, y, L.Blend(cur, prev, a, f));
      cur = prev;
    }
    point(0, &x, &y);
    L.Write(x, y, L.Blend(cur, L.fill, a, f));
  } else {
    const double g = -f, a = 1.0 - g;
    point(0, &x, &y);
    Sample3 cur = L.Read(x, y);
    for (int32_t i = 0; i + 1 < n; ++i) {
      int32_t nx, ny;
      point(i + 1, &nx, &ny);
      const Sample3 next = L.Read(nx, ny);
      point(i, &x, &y);
      L.Write(x, y, L.Blend(cur, next, a, g));
      cur = next;
    }
    point(n - 1, &x, &y);
    L.Write(x, y, L.Blend(cur, L.fill, a, g));
  }
}

void FractionLinesAccessor(void* ctx, uint64_t first, uint64_t count) {
  const AccessorJob& job = *static_cast<const AccessorJob*>(ctx);
  for (uint64_t k = first; k < first + count; ++k) {
    const int32_t u = int32_t(k);
    if (job.vertical) {
      FractionLineAccessor(job.line, job.line.rec->height, job.f, [u](int32_t i, int32_t* x, int32_t* y) {
        *x = u;
        *y = i;
      });
    } else {
      FractionLineAccessor(job.line, job.line.rec->width, job.f, [u](int32_t i, int32_t* x, int32_t* y) {
        *x = i;
        *y = u;
      });
    }
  }
}

AccessorLine MakeAccessorLine(C_ImgBuff* rec, uint8_t fill) {
  AccessorLine L{};
  L.rec = rec;
  L.slot = GetFormatSlot(rec->format);
  L.xyz = rec->format == ImgFormatXyz;
  L.channels = IsGrayFormat(rec->format) ? 1 : 3;
  const uint32_t bits = rec->format == ImgFormatXyz ? 32 : uint32_t(FormatClassBits(rec->format));
  L.maximum = bits == 8 ? 255.0 : bits == 16 ? 65535.0 : 4294967295.0;
  const double f = bits == 8 ? double(fill) : bits == 16 ? double(fill) * 257.0 : double(Widen8To32(fill));
  if (L.xyz) {
    Rgb32ToXyz(Widen8To32(fill), Widen8To32(fill), Widen8To32(fill), &L.fill.v[0], &L.fill.v[1], &L.fill.v[2]);
  } else {
    L.fill = Sample3{{f, f, f}};
  }
  return L;
}

// One fractional pass (rows when vertical is 0, columns otherwise).
void RunFraction(C_ImgBuff* rec, double f, uint8_t fill, int32_t vertical) {
  const int64_t pixels = int64_t(rec->width) * rec->height;
  const int64_t units = vertical ? rec->width : rec->height;
  if (IsTypedFormat(rec->format) && EngineTypedKernels()) {
    FractionJob job{rec, f, fill};
    DispatchTyped(rec->format, [&]<int NB, int CH>() {
      RunUnits(vertical ? FractionColumnsTyped<NB, CH> : FractionRowsTyped<NB, CH>, &job, units, pixels);
    });
    return;
  }
  AccessorJob job{MakeAccessorLine(rec, fill), f, vertical};
  RunUnits(FractionLinesAccessor, &job, units, pixels);
}

int32_t Shiftable(const CImgBuff* img) {
  return img && img->record && IsValidFormat(img->record->format) && img->record->pixels &&
         img->record->width >= 1 && img->record->height >= 1;
}

}  // namespace

// ---- entries -------------------------------------------------------------------------------

int32_t ShiftImageWhole(CImgBuff* img, int32_t dx, int32_t dy, uint8_t fill) {
  if (!Shiftable(img)) return 0;
  if (dx == 0 && dy == 0) return 1;
  C_ImgBuff* rec = img->record;
  WholeShiftJob job{};
  job.rec = rec;
  job.bpp = ImgBytesPerPixel[rec->format];
  {
    // The fill exactly as SetGray8 stores it in this format.
    C_ImgBuff one;
    if (!one.Allocate(1, 1, rec->format)) return 0;
    one.SetGray8(0, 0, fill);
    std::memcpy(job.fillPixel, one.pixels, size_t(job.bpp));
  }
  const int64_t pixels = int64_t(rec->width) * rec->height;
  if (dx != 0) {
    job.length = rec->width;
    job.shift = LimitShift(dx, rec->width);
    RunUnits(ShiftWholeRows, &job, rec->height, pixels);
  }
  if (dy != 0) {
    job.length = rec->height;
    job.shift = LimitShift(dy, rec->height);
    RunUnits(ShiftWholeColumns, &job, rec->width, pixels);
  }
  return 1;
}

int32_t ShiftImage(CImgBuff* img, double dx, double dy, uint8_t fill) {
  if (!Shiftable(img)) return 0;
  if (!std::isfinite(dx) || !std::isfinite(dy)) return 0;
  const double tx = std::trunc(dx), ty = std::trunc(dy);
  // A whole part beyond 32 bits cannot be represented as a pixel shift; refusing it keeps
  // the conversion below defined.
  if (tx < -2147483648.0 || tx > 2147483647.0 || ty < -2147483648.0 || ty > 2147483647.0) return 0;
  const int32_t ix = int32_t(tx), iy = int32_t(ty);
  const double fx = dx - tx, fy = dy - ty;  // keep the displacement's sign
  if (!ShiftImageWhole(img, ix, iy, fill)) return 0;
  C_ImgBuff* rec = img->record;
  if (fx != 0) RunFraction(rec, fx, fill, 0);
  if (fy != 0) RunFraction(rec, fy, fill, 1);
  return 1;
}
