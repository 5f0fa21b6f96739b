// rotate_scale.cpp - RotateScale: a whole picture turned, scaled and mirrored about a source
// point, every output pixel a bilinear blend in doubles of the four copy pixels around its
// source point.
// Formats 1 to 6 read the picture's own block where it lies and write a second block of the
// same size, kept by the thread from one call to the next; the blocks then change places, so
// no copy of the picture is made.  Each output row splits into the span whose four neighbours
// all lie inside the picture, where a typed kernel (built for AVX2 and for the baseline) reads
// them straight from the rows with no fill tests, and the columns either side, which test
// every neighbour.  Formats 7 to 9 (and every format when the typed kernels are off) read a
// copy through the accessors with a one-cell sample cache.
// The per-pixel arithmetic is the same on every path, term by term (this file is compiled
// without floating-point contraction), so the paths agree bit for bit.
// Inside: angle folding - job record - typed kernels - accessor path - entry
#include "engine/rotate_scale.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "engine/pixel.h"
#include "engine/simd.h"
#include "engine/thread_kept.h"
#include "engine/warp_target.h"

// ---- angle folding -------------------------------------------------------------------------

double NormalizeAngle(double degrees) {
  // fmod is exact, and so is every step of 360 from a value above 180 (both are multiples of
  // the value's spacing), so this equals the stepping loop for every finite angle.
  double v = std::fmod(degrees, 360.0);
  if (v > 180.0) v -= 360.0;
  if (v < -180.0) v += 360.0;
  return v * 3.141592653589793 / 180.0;
}

namespace {

// ---- job record ----------------------------------------------------------------------------

struct RotationJob {
  CImgBuff* source;       // accessor path: the copy; only read
  CImgBuff* destination;  // the caller's picture (typed kernels: the block that replaces it)
  int32_t cx, cy;
  int32_t hx, hy;
  int32_t mirror;
  double sinA, cosA;
  double invScale;
  int32_t x0, y0, x1, y1;
  uint32_t white;
  const void* sourcePixels;  // typed kernels: the picture's pixel block, rows of width pixels
};

// A sine or cosine this close to 0 comes from a multiple of 90 degrees: sin(pi) is 1.2e-16,
// not 0, and would leave a quarter of a half-turned picture's pixels one level low after
// truncation.  Taking it as 0 makes quarter and half turns move pixels exactly.
inline double SnapZero(double v) { return std::fabs(v) < 1e-12 ? 0.0 : v; }

// Source point of output (x, y): the rotation's own terms, in this order.
struct SourceMap {
  double sinA, cosA, invScale, cx, cy, hx, hy;
  inline void At(double dx, double dy, double* sx, double* sy) const {
    *sx = (dx * cosA - dy * sinA) * invScale + cx;
    *sy = (dx * sinA + dy * cosA) * invScale + cy;
  }
};

SourceMap MakeMap(const RotationJob& j) {
  return SourceMap{j.sinA, j.cosA, j.invScale, double(j.cx), double(j.cy), double(j.hx), double(j.hy)};
}

// A source point whose four neighbours all lie outside (or that is not a number) takes the
// fill as it is: blending four fills in doubles could truncate 255 to 254.
inline int32_t NearPicture(double sx, double sy, int32_t w, int32_t h) {
  return sx > -1.0 && sx < double(w) && sy > -1.0 && sy < double(h);
}

inline double Blend(double p00, double p10, double p01, double p11, double fx, double fy) {
  return (p00 * (1 - fx) + p10 * fx) * (1 - fy) + (p01 * (1 - fx) + p11 * fx) * fy;
}

// ---- typed kernels (formats 1 to 6) --------------------------------------------------------

// Interior pixels are worked in chunks: the source points of a chunk first (a loop the
// compiler vectorises), then the blends.
constexpr int32_t kChunk = 256;

// Stage 1 of a chunk: source points, cells and fractions.  Every point is interior, so both
// coordinates are at least 0 and truncation is the floor; the cell index fits 32 bits as the
// picture's byte count does.
struct ChunkCells {
  static QV_KERNEL_BODY void Run(const SourceMap& m, int32_t x, int32_t n, double dy, int32_t w,
                                 int32_t* __restrict cell, double* __restrict fx, double* __restrict fy) {
    const double t = dy * m.sinA, u = dy * m.cosA;
    for (int32_t i = 0; i < n; ++i) {
      const double dx = double(x + i) - m.hx;
      const double sx = (dx * m.cosA - t) * m.invScale + m.cx;
      const double sy = (dx * m.sinA + u) * m.invScale + m.cy;
      const int32_t ix = int32_t(sx), iy = int32_t(sy);
      fx[i] = sx - ix;
      fy[i] = sy - iy;
      cell[i] = iy * w + ix;
    }
  }
};

// Stage 3: the blend of gathered samples, clamped and truncated.
template <int NB>
struct BlendChunk {
  static QV_KERNEL_BODY void Run(const SampleType<NB>* __restrict p00, const SampleType<NB>* __restrict p10,
                                 const SampleType<NB>* __restrict p01, const SampleType<NB>* __restrict p11,
                                 const double* __restrict fx, const double* __restrict fy, int32_t n,
                                 SampleType<NB>* __restrict out) {
    for (int32_t i = 0; i < n; ++i)
      out[i] = ClampTruncSample<NB>(Blend(p00[i], p10[i], p01[i], p11[i], fx[i], fy[i]));
  }
};

// Stage 3 for 8-bit R, G, B (see BlendRgb8Chunk).
struct ClampedBlend {
  static inline uint32_t Of(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, double fx, double fy) {
    return ClampTruncSample<8>(Blend(p00, p10, p01, p11, fx, fy));
  }
};

// Is every neighbour of output x inside?  Each step of the source point's arithmetic is a
// rounded operation that never reverses order, so sx and sy are monotone along a row: when
// both ends of a span are interior, so is every pixel between them.
inline int32_t Interior(const SourceMap& m, int32_t x, double dy, int32_t w, int32_t h) {
  double sx, sy;
  m.At(double(x) - m.hx, dy, &sx, &sy);
  return sx >= 0.0 && sx < double(w - 1) && sy >= 0.0 && sy < double(h - 1);
}

// The columns lo..hi where a coordinate a x + b stays in [0, limit), widened by a column
// either side for rounding; the walk in InteriorSpan settles the ends exactly.
void SolveSpan(double a, double b, double limit, double* lo, double* hi) {
  if (a == 0.0) {
    if (!(b >= 0.0 && b < limit)) *lo = 1.0, *hi = 0.0;
    return;
  }
  double p = (0.0 - b) / a, q = (limit - b) / a;
  if (p > q) std::swap(p, q);
  *lo = std::max(*lo, std::floor(p) - 1.0);
  *hi = std::min(*hi, std::ceil(q) + 1.0);
}

// First and last interior column of a row; *xa > *xb when there is none.
void InteriorSpan(const SourceMap& m, double dy, int32_t w, int32_t h, int32_t* xa, int32_t* xb) {
  *xa = 1;
  *xb = 0;
  if (w < 2 || h < 2) return;
  double lo = 0.0, hi = double(w - 1);
  // sx = (x - hx) cos invScale - dy sin invScale + cx; sy likewise.
  SolveSpan(m.cosA * m.invScale, (-m.hx * m.cosA - dy * m.sinA) * m.invScale + m.cx, double(w - 1), &lo, &hi);
  SolveSpan(m.sinA * m.invScale, (-m.hx * m.sinA + dy * m.cosA) * m.invScale + m.cy, double(h - 1), &lo, &hi);
  if (!(lo <= hi)) return;
  int32_t a = int32_t(lo), b = int32_t(hi);
  while (a <= b && !Interior(m, a, dy, w, h)) ++a;
  while (b >= a && !Interior(m, b, dy, w, h)) --b;
  if (a > b) return;
  while (a > 0 && Interior(m, a - 1, dy, w, h)) --a;
  while (b < w - 1 && Interior(m, b + 1, dy, w, h)) ++b;
  *xa = a;
  *xb = b;
}

template <int NB, int CH>
struct TypedRotation {
  typedef SampleType<NB> T;
  const RotationJob& job;
  SourceMap m;
  const T* src;
  int32_t w, h;
  double fill;

  inline T* Out(T* row, int32_t x) const { return row + int64_t(job.mirror ? w - 1 - x : x) * CH; }

  // A pixel whose neighbours may lie outside: each is tested.
  void Border(T* row, int32_t x, double dy) const {
    double sx, sy;
    m.At(double(x) - m.hx, dy, &sx, &sy);
    T* o = Out(row, x);
    if (!NearPicture(sx, sy, w, h)) {
      for (int c = 0; c < CH; ++c) o[c] = ClampTruncSample<NB>(fill);
      return;
    }
    const double fsx = std::floor(sx), fsy = std::floor(sy);
    const int32_t ix = int32_t(fsx), iy = int32_t(fsy);
    const double fx = sx - ix, fy = sy - iy;
    const T* p[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int k = 0; k < 4; ++k) {
      const int32_t nx = ix + (k & 1), ny = iy + (k >> 1);
      if (nx >= 0 && nx < w && ny >= 0 && ny < h) p[k] = src + (int64_t(ny) * w + nx) * CH;
    }
    for (int c = 0; c < CH; ++c) {
      const double v = Blend(p[0] ? double(p[0][c]) : fill, p[1] ? double(p[1][c]) : fill,
                             p[2] ? double(p[2][c]) : fill, p[3] ? double(p[3][c]) : fill, fx, fy);
      o[c] = ClampTruncSample<NB>(v);
    }
  }

  // Pixels xa .. xa + n - 1, all interior: no tests.  A chunk at a time: cells and
  // fractions; per channel the four neighbours gathered into planes and blended; then the
  // channels interleaved into the row (in reverse pixel order when mirrored).
  void Interior(T* row, int32_t xa, int32_t n, double dy) const {
    int32_t cell[kChunk];
    double fx[kChunk], fy[kChunk];
    T p00[CH][kChunk], p10[CH][kChunk], p01[CH][kChunk], p11[CH][kChunk], blended[CH][kChunk];
    const int64_t stride = int64_t(w) * CH;
    for (int32_t done = 0; done < n; done += kChunk) {
      const int32_t k = n - done < kChunk ? n - done : kChunk;
      const int32_t x = xa + done;
      RunKernel<ChunkCells>(m, x, k, dy, w, cell, fx, fy);
      if constexpr (NB == 8 && CH == 3 && std::endian::native == std::endian::little) {
        // Four loads a pixel instead of twelve.  The lower right neighbour may be the
        // picture's last pixel, so its word is loaded from the byte before it and shifted.
        uint32_t q00[kChunk], q10[kChunk], q01[kChunk], q11[kChunk];
        for (int32_t i = 0; i < k; ++i) {
          const T* p = src + int64_t(cell[i]) * 3;
          std::memcpy(&q00[i], p, 4);
          std::memcpy(&q10[i], p + 3, 4);
          std::memcpy(&q01[i], p + stride, 4);
          std::memcpy(&q11[i], p + stride + 2, 4);
          q11[i] >>= 8;
        }
        T* out = job.mirror ? &blended[0][0] : row + int64_t(x) * 3;
        RunKernel<BlendRgb8Chunk<double, ClampedBlend>>(q00, q10, q01, q11, fx, fy, k, out);
        if (job.mirror) {
          T* o = row + int64_t(w - 1 - x) * 3;
          for (int32_t i = 0; i < k; ++i)
            for (int c = 0; c < 3; ++c) o[-int64_t(i) * 3 + c] = out[i * 3 + c];
        }
        continue;
      }
      for (int32_t i = 0; i < k; ++i) {
        const T* p = src + int64_t(cell[i]) * CH;
        for (int c = 0; c < CH; ++c) {
          p00[c][i] = p[c];
          p10[c][i] = p[CH + c];
          p01[c][i] = p[stride + c];
          p11[c][i] = p[stride + CH + c];
        }
      }
      if (CH == 1 && !job.mirror) {
        RunKernel<BlendChunk<NB>>(p00[0], p10[0], p01[0], p11[0], fx, fy, k, row + x);
        continue;
      }
      for (int c = 0; c < CH; ++c)
        RunKernel<BlendChunk<NB>>(p00[c], p10[c], p01[c], p11[c], fx, fy, k, blended[c]);
      if (!job.mirror) {
        T* out = row + int64_t(x) * CH;
        for (int32_t i = 0; i < k; ++i)
          for (int c = 0; c < CH; ++c) out[int64_t(i) * CH + c] = blended[c][i];
      } else {
        T* out = row + int64_t(w - 1 - x) * CH;
        for (int32_t i = 0; i < k; ++i)
          for (int c = 0; c < CH; ++c) out[-int64_t(i) * CH + c] = blended[c][i];
      }
    }
  }

  void Rows(int32_t yb, int32_t ye) const {
    for (int32_t y = yb; y < ye; ++y) {
      const double dy = double(y) - m.hy;
      T* row = RowPtr<T>(job.destination->record, 0, y);
      int32_t xa, xb;
      InteriorSpan(m, dy, w, h, &xa, &xb);
      if (xa > xb) xa = xb = w;  // no interior: every column is a border column
      for (int32_t x = 0; x < xa; ++x) Border(row, x, dy);
      if (xa < w) Interior(row, xa, xb - xa + 1, dy);
      for (int32_t x = xa < w ? xb + 1 : w; x < w; ++x) Border(row, x, dy);
    }
  }
};

template <int NB, int CH>
void RotateRowsTyped(void* ctx, uint64_t first, uint64_t count) {
  const RotationJob& job = *static_cast<const RotationJob*>(ctx);
  const C_ImgBuff* d = job.destination->record;
  const double fill = job.white ? double(FormatClassMax(d->format)) : 0.0;
  TypedRotation<NB, CH> k{job, MakeMap(job), static_cast<const SampleType<NB>*>(job.sourcePixels), d->width,
                          d->height, fill};
  k.Rows(int32_t(first), int32_t(first + count));
}

// ---- accessor path (every format; the only path for 7 to 9) --------------------------------

// Reads and writes one slot's samples as doubles; gray slots use channel 0 only.
struct SlotIo {
  FormatSlot slot;
  int32_t channels;
  double maximum;

  int32_t Read(const CImgBuff* img, int32_t x, int32_t y, double* v) const {
    switch (slot) {
      case SlotGray8: { uint8_t g; if (!img->GetGray8(x, y, &g)) return 0; v[0] = g; return 1; }
      case SlotGray16: { uint16_t g; if (!img->GetGray16(x, y, &g)) return 0; v[0] = g; return 1; }
      case SlotGray32: { uint32_t g; if (!img->GetGray32(x, y, &g)) return 0; v[0] = g; return 1; }
      case SlotColour8: {
        uint8_t r, g, b;
        if (!img->GetRGB8(x, y, &r, &g, &b)) return 0;
        v[0] = r, v[1] = g, v[2] = b;
        return 1;
      }
      case SlotColour16: {
        uint16_t r, g, b;
        if (!img->GetRGB16(x, y, &r, &g, &b)) return 0;
        v[0] = r, v[1] = g, v[2] = b;
        return 1;
      }
      default: {
        uint32_t r, g, b;
        if (!img->GetRGB32(x, y, &r, &g, &b)) return 0;
        v[0] = r, v[1] = g, v[2] = b;
        return 1;
      }
    }
  }

  uint32_t Clamp(double v) const { return v > maximum ? uint32_t(maximum) : ClampTruncU32(v); }

  void Write(CImgBuff* img, int32_t x, int32_t y, const double* v) const {
    switch (slot) {
      case SlotGray8: img->SetGray8(x, y, uint8_t(Clamp(v[0]))); break;
      case SlotGray16: img->SetGray16(x, y, uint16_t(Clamp(v[0]))); break;
      case SlotGray32: img->SetGray32(x, y, Clamp(v[0])); break;
      case SlotColour8: img->SetRGB8(x, y, uint8_t(Clamp(v[0])), uint8_t(Clamp(v[1])), uint8_t(Clamp(v[2]))); break;
      case SlotColour16:
        img->SetRGB16(x, y, uint16_t(Clamp(v[0])), uint16_t(Clamp(v[1])), uint16_t(Clamp(v[2])));
        break;
      default: img->SetRGB32(x, y, Clamp(v[0]), Clamp(v[1]), Clamp(v[2])); break;
    }
  }
};

SlotIo MakeSlotIo(int32_t format) {
  SlotIo io{GetFormatSlot(format), IsGrayFormat(format) ? 1 : 3, double(FormatClassMax(format))};
  return io;
}

// The four neighbour samples of the last cell read, private to one worker call.
struct SampleCache {
  int32_t valid = 0;
  int32_t ix = 0, iy = 0;
  double p[4][3] = {};
};

void RotateRowsAccessor(void* ctx, uint64_t first, uint64_t count) {
  const RotationJob& job = *static_cast<const RotationJob*>(ctx);
  const SlotIo io = MakeSlotIo(job.source->Format());
  const SourceMap m = MakeMap(job);
  const int32_t w = job.source->Width(), h = job.source->Height();
  const double fill = job.white ? io.maximum : 0.0;
  SampleCache cache;
  for (int32_t y = job.y0 + int32_t(first); y < job.y0 + int32_t(first + count); ++y) {
    for (int32_t x = job.x0; x <= job.x1; ++x) {
      double sx, sy, v[3] = {fill, fill, fill};
      m.At(double(x) - m.hx, double(y) - m.hy, &sx, &sy);
      if (NearPicture(sx, sy, w, h)) {
        const int32_t ix = int32_t(std::floor(sx)), iy = int32_t(std::floor(sy));
        const double fx = sx - ix, fy = sy - iy;
        if (!cache.valid || cache.ix != ix || cache.iy != iy) {
          for (int k = 0; k < 4; ++k) {
            const int32_t nx = ix + (k & 1), ny = iy + (k >> 1);
            double* p = cache.p[k];
            p[0] = p[1] = p[2] = fill;
            if (nx >= 0 && nx < w && ny >= 0 && ny < h && !io.Read(job.source, nx, ny, p))
              p[0] = p[1] = p[2] = fill;
          }
          cache.valid = 1;
          cache.ix = ix;
          cache.iy = iy;
        }
        for (int c = 0; c < io.channels; ++c)
          v[c] = Blend(cache.p[0][c], cache.p[1][c], cache.p[2][c], cache.p[3][c], fx, fy);
      }
      io.Write(job.destination, job.mirror ? job.x0 + job.x1 - x : x, y, v);
    }
  }
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t RotateScale(CImgBuff* img, int32_t cx, int32_t cy, double angle, double scale, int32_t mirror,
                    uint16_t white) {
  if (!img || !img->record || !IsValidFormat(img->Format()) || !img->Pixels()) return 0;
  // NaN passes "scale > 0" only when asked that way round; an infinite angle has no sine.
  if (!(scale > 0.0) || !std::isfinite(scale) || !std::isfinite(angle)) return 0;
  const double invScale = 1.0 / scale;
  if (!std::isfinite(invScale)) return 0;
  const int32_t w = img->Width(), h = img->Height();
  const double a = NormalizeAngle(-angle);
  RotationJob job{nullptr, img, cx, cy, (w - 1) / 2, (h - 1) / 2, mirror ? 1 : 0,
                  SnapZero(std::sin(a)), SnapZero(std::cos(a)), invScale, 0, 0, w - 1, h - 1, white, nullptr};
  if (IsTypedFormat(img->Format()) && EngineTypedKernels()) {
    // Every output pixel is written into a block of the picture's size, read from the
    // picture's own block, and the two blocks change places.
    KeptPicture<WarpTargetTag> target;
    if (!target.Get() || !target.Get()->record->AllocateUncleared(w, h, img->Format())) return 0;
    job.sourcePixels = img->Pixels();
    job.destination = target.Get();
    DispatchTyped(img->Format(), [&]<int NB, int CH>() { RunWarpRows(RotateRowsTyped<NB, CH>, &job, w, h); });
    SwapPixelBlocks(img->record, target.Get()->record);
    return 1;
  }
  CImgBuff copy;
  copy.CopyFrom(*img);
  if (!copy.Pixels()) return 0;
  job.source = &copy;
  RunBands(RotateRowsAccessor, &job, h, w, 16 * 1024);
  return 1;
}
