// tilt.cpp - SetCameraModel and TiltCorrect: the object plane of a tilted camera seen
// square-on.  The call fits a window of plane coordinates to the mapped picture outline; each
// output pixel is a point of that window, turned back into the camera frame and projected
// through the camera centre onto the picture, where a tenth-pixel bilinear sample in integers
// gives its value.
// Typed kernels (formats 1 to 6, built for AVX2 and for the baseline) read the picture's own
// block where it lies and write a second block, kept by the thread from one call to the next,
// which then takes the picture's place: no copy of the picture is made.  They trace a chunk of
// a row at a time (a loop the compiler vectorises), then sample the chunk without fill tests
// when all of it lies inside, or pixel by pixel with them.  Formats 7 to 9 read a copy
// through the accessors.  Every path does the same double arithmetic term by term (no
// contraction in this file).
// Inside: camera and angles - plane mapping - job record - typed kernels - accessor path -
//         the sampler - entry
#include "engine/tilt.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "engine/pixel.h"
#include "engine/rotate_scale.h"
#include "engine/simd.h"
#include "engine/thread_kept.h"
#include "engine/warp_target.h"

// ---- camera and angles ---------------------------------------------------------------------

int32_t SetCameraModel(CameraModel* out, double focalMm, uint32_t width, uint32_t height, double pitchXUm,
                       double pitchYUm) {
  if (!out || width == 0 || height == 0) return 0;
  // Written so that NaN fails too.
  if (!(focalMm > 0) || !(pitchXUm > 0) || !(pitchYUm > 0)) return 0;
  const double fx = focalMm / (pitchXUm / 1000.0), fy = focalMm / (pitchYUm / 1000.0);
  if (!std::isfinite(fx) || !std::isfinite(fy)) return 0;
  *out = CameraModel{fx, fy, double(width) * 0.5, double(height) * 0.5};
  return 1;
}

void AngleSinCos(AngleRecord* out, double degrees) {
  const double q = NormalizeAngle(degrees);
  *out = AngleRecord{std::sin(q), std::cos(q), std::sin(-q), std::cos(-q)};
}

// ---- plane mapping -------------------------------------------------------------------------

namespace {

// The plane frame's coordinates of a camera-frame point: about the vertical axis by -p, then
// about the horizontal axis by -t.
void ToPlaneFrame(const TiltPlane& P, double x, double y, double z, double* X, double* Y, double* Z) {
  const double x1 = x * P.cosNegP - z * P.sinNegP;
  const double z1 = x * P.sinNegP + z * P.cosNegP;
  *X = x1;
  *Y = y * P.cosNegT - z1 * P.sinNegT;
  *Z = y * P.sinNegT + z1 * P.cosNegT;
}

inline double PlaneDepth(const double* abcd, double x, double y) {
  return -(abcd[0] * x + abcd[1] * y + abcd[3]) / abcd[2];
}

}  // namespace

int32_t MapThroughTiltedPlane(const TiltPlane* plane, const double* c, double x, double y, double* u, double* v,
                              double* Z, const AngleRecord* r) {
  const TiltPlane& P = *plane;
  const double qx = x - c[0], qy = y - c[1], qz = 0.0 - c[2];
  const double den = P.a * qx + P.b * qy + P.c * qz;
  if (den == 0.0) return 0;
  const double s = -(P.a * c[0] + P.b * c[1] + P.c * c[2] + P.d) / den;
  double X, Y, ZZ;
  ToPlaneFrame(P, c[0] + s * qx, c[1] + s * qy, c[2] + s * qz, &X, &Y, &ZZ);
  *u = X * r->cosQ - Y * r->sinQ;
  *v = X * r->sinQ + Y * r->cosQ;
  if (Z) *Z = ZZ;
  return 1;
}

int32_t IsPlaneInFront(uint32_t width, uint32_t height, const double* abcd) {
  const double w = width, h = height;
  return PlaneDepth(abcd, w, 0) >= 0 && PlaneDepth(abcd, 0, h) >= 0 && PlaneDepth(abcd, w, h) >= 0;
}

namespace {

// ---- job record ----------------------------------------------------------------------------

struct TiltJob {
  CImgBuff* destination;     // the caller's picture (typed kernels: the block that replaces it)
  CImgBuff* source;
  int32_t x0, y0, x1, y1;
  const double* camera;      // the camera centre C
  const TiltPlane* plane;
  const AngleRecord* rotation;
  double umin, vmin, stepU, stepV;
  int32_t width, height;
  uint16_t fill;             // neighbour fill at the sampler's depth: 0, 255 or 65535
  uint8_t fill8;             // the outside fill as SetGray8 writes it: 0 or 255
  const void* sourcePixels;  // typed kernels: the picture's pixel block, rows of width pixels
};

// a when c is 1, b when c is 0, by bits: the vectoriser leaves a loop with selects of
// doubles as they are written here unvectorised, but not this.
inline double Pick(int64_t c, double a, double b) {
  int64_t ia, ib;
  std::memcpy(&ia, &a, sizeof ia);
  std::memcpy(&ib, &b, sizeof ib);
  const int64_t r = (ia & -c) | (ib & ~-c);
  double d;
  std::memcpy(&d, &r, sizeof d);
  return d;
}

// A source point's tenth-pixel grid position.  tx * 10 within 1e-6 of an integer is that
// integer: the identity correction traces pixel x to 10 x minus a few ulps, which truncation
// would turn into 10 x - 1 and a blend of a tenth of the neighbour.  Only positions from -1
// to hi can lie inside; any other (or NaN) is given as -1, outside, so that the nearest
// integer comes from a conversion in range rather than floor, which keeps the loops over
// chunks vectorised.
inline double Tenths(double s, double hi) {
  double t = s * 10.0;
  t = Pick((t >= -1.0) & (t <= hi), t, -1.0);
  const double n = double(int32_t(t + 1.5)) - 1.0;
  return Pick(std::fabs(t - n) <= 1e-6, n, t);
}

// Output pixel (x, y) traced back to its source point (sx, sy).
struct TiltMap {
  double umin, vmin, stepU, stepV;
  double cosNegR, sinNegR;
  double zp, sinT, cosT, sinP, cosP;
  double cx, cy, cz;

  inline void At(double x, double y, double* sx, double* sy) const {
    const double U = umin + x * stepU, V = vmin + y * stepV;
    const double X = U * cosNegR - V * sinNegR;
    const double Y = U * sinNegR + V * cosNegR;
    // About the horizontal axis by t, then the vertical axis by p.
    const double y1 = Y * cosT - zp * sinT;
    const double z1 = Y * sinT + zp * cosT;
    const double gx = X * cosP - z1 * sinP;
    const double gz = X * sinP + z1 * cosP;
    const double k = (0.0 - cz) / (gz - cz);
    *sx = cx + k * (gx - cx);
    *sy = cy + k * (y1 - cy);
  }
};

TiltMap MakeMap(const TiltJob& j) {
  const TiltPlane& P = *j.plane;
  return TiltMap{j.umin, j.vmin, j.stepU, j.stepV, j.rotation->cosNegQ, j.rotation->sinNegQ, P.zp, P.sinT,
                 P.cosT, P.sinP, P.cosP, j.camera[0], j.camera[1], j.camera[2]};
}

// Inside the picture in tenths (and a number): the sampler may read pixel (tx / 10, ty / 10).
// Tested on the tenths, not on the point: a point a hair below the width still makes 10 x
// width after the multiplication, one column past the last.
inline int32_t InsideTenths(double tx, double ty, int32_t w, int32_t h) {
  return tx >= 0.0 && tx < 10.0 * double(w) && ty >= 0.0 && ty < 10.0 * double(h);
}

// The tenth-pixel blend; every neighbour a case does not need has weight 0.
inline uint32_t BlendTenths(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, uint32_t fx, uint32_t fy) {
  return ((10 - fy) * ((10 - fx) * p00 + fx * p10) + fy * ((10 - fx) * p01 + fx * p11)) / 100;
}

// ---- typed kernels (formats 1 to 6) --------------------------------------------------------

constexpr int32_t kChunk = 256;

// Tenths of a chunk of output pixels x .. x + n - 1 of row y; *interior gets how many lie
// inside the picture with all four neighbours (ix + 1 < w, iy + 1 < h), and tx, ty the
// clamped integer tenths (0 for a point outside, so that no conversion sees an out-of-range
// double).
struct TraceChunk {
  static QV_KERNEL_BODY void Run(const TiltMap& map, int32_t x, int32_t n, double y, int32_t w, int32_t h,
                                 int32_t* __restrict tx, int32_t* __restrict ty, uint8_t* __restrict inside,
                                 int32_t* __restrict interiorOut) {
    const double limX = 10.0 * double(w), limY = 10.0 * double(h);
    const double inX = 10.0 * double(w - 1), inY = 10.0 * double(h - 1);
    // A local copy: the byte stores below could alias the caller's record, which would keep
    // its fields from being held in registers.
    const TiltMap m = map;
    int32_t interior = 0;
    // Tests joined with & rather than &&: no branches, so the loop is vectorised.
    for (int32_t i = 0; i < n; ++i) {
      double a, b;
      m.At(double(x + i), y, &a, &b);
      a = Tenths(a, limX + 1.0);
      b = Tenths(b, limY + 1.0);
      const int64_t in = (a >= 0.0) & (a < limX) & (b >= 0.0) & (b < limY);
      interior += int32_t((a >= 0.0) & (a < inX) & (b >= 0.0) & (b < inY));
      inside[i] = uint8_t(in);
      tx[i] = int32_t(Pick(in, a, 0.0));
      ty[i] = int32_t(Pick(in, b, 0.0));
    }
    *interiorOut = interior;
  }
};

// The tenth-pixel blend over a chunk of gathered samples (all interior), in integers.
struct BlendTenthsChunk {
  static QV_KERNEL_BODY void Run(const uint32_t* __restrict p00, const uint32_t* __restrict p10,
                                 const uint32_t* __restrict p01, const uint32_t* __restrict p11,
                                 const uint32_t* __restrict fx, const uint32_t* __restrict fy, int32_t n,
                                 uint32_t* __restrict out) {
    for (int32_t i = 0; i < n; ++i) out[i] = BlendTenths(p00[i], p10[i], p01[i], p11[i], fx[i], fy[i]);
  }
};

// The same for 8-bit R, G, B (see BlendRgb8Chunk).
struct TenthsBlend {
  static inline uint32_t Of(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, uint32_t fx, uint32_t fy) {
    return BlendTenths(p00, p10, p01, p11, fx, fy);
  }
};

// Cells and grid fractions of a chunk of interior tenths.
struct ChunkCells {
  static QV_KERNEL_BODY void Run(const int32_t* __restrict tx, const int32_t* __restrict ty, int32_t n, int32_t w,
                                 int32_t* __restrict cell, uint32_t* __restrict fx, uint32_t* __restrict fy) {
    for (int32_t i = 0; i < n; ++i) {
      const int32_t ix = tx[i] / 10, iy = ty[i] / 10;
      fx[i] = uint32_t(tx[i] - 10 * ix);
      fy[i] = uint32_t(ty[i] - 10 * iy);
      cell[i] = iy * w + ix;
    }
  }
};

template <int NB, int CH>
struct TypedTilt {
  typedef SampleType<NB> T;
  static constexpr int D = NB == 8 ? 8 : 16;  // the sampler's depth
  const TiltJob& job;
  TiltMap m;
  const T* src;
  int32_t w, h;

  inline void Read(const T* p, uint32_t* v) const {
    if constexpr (CH == 1) v[0] = GrayAt<NB, 1, D>(p);
    else RgbAt<NB, 3, D>(p, v, v + 1, v + 2);
  }
  inline void Write(T* p, const uint32_t* v) const {
    if constexpr (CH == 1) StoreGray<NB, 1, D>(p, v[0]);
    else StoreRgb<NB, 3, D>(p, v[0], v[1], v[2]);
  }

  // A chunk of n pixels whose four neighbours are all inside: no tests.  Cells first, then
  // per channel the neighbours gathered into planes and blended, then stored.
  void Interior(T* o, const int32_t* tx, const int32_t* ty, int32_t n) const {
    int32_t cell[kChunk];
    uint32_t fx[kChunk], fy[kChunk], q00[kChunk], q10[kChunk], q01[kChunk], q11[kChunk], v[CH][kChunk];
    RunKernel<ChunkCells>(tx, ty, n, w, cell, fx, fy);
    const int64_t stride = int64_t(w) * CH;
    if constexpr (NB == 8 && CH == 3 && std::endian::native == std::endian::little) {
      // Four loads a pixel instead of twelve.  The lower right neighbour may be the picture's
      // last pixel, so its word is loaded from the byte before it and shifted.
      for (int32_t i = 0; i < n; ++i) {
        const T* p = src + int64_t(cell[i]) * 3;
        std::memcpy(&q00[i], p, 4);
        std::memcpy(&q10[i], p + 3, 4);
        std::memcpy(&q01[i], p + stride, 4);
        std::memcpy(&q11[i], p + stride + 2, 4);
        q11[i] >>= 8;
      }
      RunKernel<BlendRgb8Chunk<uint32_t, TenthsBlend>>(q00, q10, q01, q11, fx, fy, n, o);
      return;
    }
    for (int c = 0; c < CH; ++c) {
      for (int32_t i = 0; i < n; ++i) {
        // Gray pictures are their own gray, R, G, B pictures their own channels: the
        // accessors' values at the sampler's depth are the samples at that depth.
        const T* p = src + int64_t(cell[i]) * CH + c;
        q00[i] = Depth<NB, D>(p[0]);
        q10[i] = Depth<NB, D>(p[CH]);
        q01[i] = Depth<NB, D>(p[stride]);
        q11[i] = Depth<NB, D>(p[stride + CH]);
      }
      RunKernel<BlendTenthsChunk>(q00, q10, q01, q11, fx, fy, n, v[c]);
    }
    for (int32_t i = 0; i < n; ++i)
      for (int c = 0; c < CH; ++c) o[int64_t(i) * CH + c] = T(Depth<D, NB>(v[c][i]));
  }

  // A point inside whose right or lower neighbours may be missing.
  inline void Edge(T* o, int32_t tx, int32_t ty) const {
    const int32_t ix = tx / 10, iy = ty / 10;
    const uint32_t fx = uint32_t(tx - 10 * ix), fy = uint32_t(ty - 10 * iy);
    const uint32_t nf = job.fill;
    uint32_t p[4][3] = {{nf, nf, nf}, {nf, nf, nf}, {nf, nf, nf}, {nf, nf, nf}};
    for (int k = 0; k < 4; ++k) {
      const int32_t nx = ix + (k & 1), ny = iy + (k >> 1);
      if (nx < w && ny < h) Read(src + (int64_t(ny) * w + nx) * CH, p[k]);
    }
    uint32_t v[3];
    for (int k = 0; k < CH; ++k) v[k] = BlendTenths(p[0][k], p[1][k], p[2][k], p[3][k], fx, fy);
    Write(o, v);
  }

  void Rows(int32_t yb, int32_t ye) const {
    int32_t tx[kChunk], ty[kChunk];
    uint8_t inside[kChunk];
    for (int32_t y = yb; y < ye; ++y) {
      T* row = RowPtr<T>(job.destination->record, 0, y);
      for (int32_t x = 0; x < w; x += kChunk) {
        const int32_t n = w - x < kChunk ? w - x : kChunk;
        T* o = row + int64_t(x) * CH;
        int32_t interior;
        RunKernel<TraceChunk>(m, x, n, double(y), w, h, tx, ty, inside, &interior);
        if (interior == n) {
          Interior(o, tx, ty, n);
          continue;
        }
        for (int32_t i = 0; i < n; ++i) {
          if (inside[i]) Edge(o + int64_t(i) * CH, tx[i], ty[i]);
          else StoreGray<NB, CH, 8>(o + int64_t(i) * CH, job.fill8);
        }
      }
    }
  }
};

template <int NB, int CH>
void TiltRowsTyped(void* ctx, uint64_t first, uint64_t count) {
  const TiltJob& job = *static_cast<const TiltJob*>(ctx);
  TypedTilt<NB, CH> k{job, MakeMap(job), static_cast<const SampleType<NB>*>(job.sourcePixels), job.width,
                      job.height};
  k.Rows(int32_t(first), int32_t(first + count));
}

// ---- accessor path (every format; the only path for 7 to 9) --------------------------------

enum TiltSlot { TiltGray8, TiltGray16, TiltColour8, TiltColour16 };

TiltSlot SlotOf(int32_t format) {
  switch (format) {
    case 1: return TiltGray8;
    case 2: case 3: return TiltGray16;
    case 4: case 9: return TiltColour8;
    default: return TiltColour16;
  }
}

void ReadSlot(const CImgBuff* img, TiltSlot slot, int32_t x, int32_t y, uint32_t* v) {
  switch (slot) {
    case TiltGray8: { uint8_t g = 0; img->GetGray8(x, y, &g); v[0] = g; break; }
    case TiltGray16: { uint16_t g = 0; img->GetGray16(x, y, &g); v[0] = g; break; }
    case TiltColour8: {
      uint8_t r = 0, g = 0, b = 0;
      img->GetRGB8(x, y, &r, &g, &b);
      v[0] = r, v[1] = g, v[2] = b;
      break;
    }
    default: {
      uint16_t r = 0, g = 0, b = 0;
      img->GetRGB16(x, y, &r, &g, &b);
      v[0] = r, v[1] = g, v[2] = b;
      break;
    }
  }
}

void WriteSlot(CImgBuff* img, TiltSlot slot, int32_t x, int32_t y, const uint32_t* v) {
  switch (slot) {
    case TiltGray8: img->SetGray8(x, y, uint8_t(v[0])); break;
    case TiltGray16: img->SetGray16(x, y, uint16_t(v[0])); break;
    case TiltColour8: img->SetRGB8(x, y, uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2])); break;
    default: img->SetRGB16(x, y, uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2])); break;
  }
}

void TiltRowsAccessor(void* ctx, uint64_t first, uint64_t count) {
  const TiltJob& job = *static_cast<const TiltJob*>(ctx);
  const TiltMap m = MakeMap(job);
  const TiltSlot slot = SlotOf(job.source->Format());
  for (int32_t y = job.y0 + int32_t(first); y < job.y0 + int32_t(first + count); ++y) {
    for (int32_t x = job.x0; x <= job.x1; ++x) {
      double sx, sy;
      uint32_t v[3];
      m.At(double(x), double(y), &sx, &sy);
      if (SampleTenths(job.source, sx, sy, job.fill8, v)) WriteSlot(job.destination, slot, x, y, v);
      else job.destination->SetGray8(x, y, job.fill8);
    }
  }
}

int32_t AllFinite(const double* v, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return 0;
  return 1;
}

}  // namespace

// ---- the sampler ---------------------------------------------------------------------------

int32_t SampleTenths(const CImgBuff* img, double sx, double sy, uint32_t white, uint32_t* v) {
  if (!img || !img->record || !IsValidFormat(img->Format()) || !img->Pixels() || !v) return 0;
  const TiltSlot slot = SlotOf(img->Format());
  const uint32_t nf = white ? (slot == TiltGray8 || slot == TiltColour8 ? 255u : 65535u) : 0u;
  const int32_t w = img->Width(), h = img->Height();
  const double a = Tenths(sx, 10.0 * double(w) + 1.0), b = Tenths(sy, 10.0 * double(h) + 1.0);
  if (!InsideTenths(a, b, w, h)) {
    v[0] = v[1] = v[2] = nf;
    return 0;
  }
  const int32_t tx = int32_t(a), ty = int32_t(b);
  const int32_t ix = tx / 10, iy = ty / 10;
  const uint32_t fx = uint32_t(tx - 10 * ix), fy = uint32_t(ty - 10 * iy);
  // Only the neighbours whose weight can be non-zero are read.
  uint32_t p[4][3] = {{nf, nf, nf}, {nf, nf, nf}, {nf, nf, nf}, {nf, nf, nf}};
  ReadSlot(img, slot, ix, iy, p[0]);
  if (fx != 0 && ix + 1 < w) ReadSlot(img, slot, ix + 1, iy, p[1]);
  if (fy != 0 && iy + 1 < h) ReadSlot(img, slot, ix, iy + 1, p[2]);
  if (fx != 0 && fy != 0 && ix + 1 < w && iy + 1 < h) ReadSlot(img, slot, ix + 1, iy + 1, p[3]);
  const int32_t channels = slot == TiltGray8 || slot == TiltGray16 ? 1 : 3;
  v[1] = v[2] = 0;
  for (int k = 0; k < channels; ++k) v[k] = BlendTenths(p[0][k], p[1][k], p[2][k], p[3][k], fx, fy);
  if (channels == 1) v[1] = v[2] = v[0];
  return 1;
}

// ---- entry ---------------------------------------------------------------------------------

int32_t TiltCorrect(CImgBuff* img, const CameraModel* camera, const double* angles, double scale, uint32_t white) {
  if (!img || !img->record || !IsValidFormat(img->Format()) || !img->Pixels() || !camera || !angles) return 0;
  const int32_t format = img->Format();
  const int32_t w = img->Width(), h = img->Height();
  // The sampler counts tenths of a pixel in 32 bits.
  if (w > 214748364 || h > 214748364) return 0;
  const uint16_t fill = white ? (FormatClassBits(format) == 8 ? 255 : 65535) : 0;
  const double pan = angles[0], tilt = angles[1], rot = angles[2];
  const double cam[4] = {camera->fx, camera->fy, camera->cx, camera->cy};
  if (!AllFinite(cam, 4) || !std::isfinite(rot) || !std::isfinite(scale)) return 0;
  // Also refuses NaN.
  if (!(pan > -90 && pan < 90 && tilt > -90 && tilt < 90 && scale > 0)) return 0;

  AngleRecord r, p, t;
  AngleSinCos(&r, rot);
  AngleSinCos(&p, pan);
  AngleSinCos(&t, tilt);
  const double C[3] = {camera->cx, camera->cy, -(camera->fx + camera->fy) / 2};

  TiltPlane P{};
  P.a = p.sinQ * t.cosQ;
  P.b = t.sinQ;
  P.c = -p.cosQ * t.cosQ;
  P.sinP = p.sinQ, P.cosP = p.cosQ, P.sinNegP = p.sinNegQ, P.cosNegP = p.cosNegQ;
  P.sinT = t.sinQ, P.cosT = t.cosQ, P.sinNegT = t.sinNegQ, P.cosNegT = t.cosNegQ;
  // Anchor: the first corner through which the plane, at depth 1 there, lies at depth 0 or
  // more at all four corners; (0, 0) when none does.
  const double corners[4][2] = {{0, 0}, {double(w), 0}, {double(w), double(h)}, {0, double(h)}};
  int32_t anchor = 0;
  for (int32_t k = 0; k < 4; ++k) {
    const double d = -(P.a * corners[k][0] + P.b * corners[k][1] + P.c * 1.0);
    const double abcd[4] = {P.a, P.b, P.c, d};
    if (PlaneDepth(abcd, 0, 0) >= 0 && IsPlaneInFront(uint32_t(w), uint32_t(h), abcd)) {
      anchor = k;
      break;
    }
  }
  P.anchorX = corners[anchor][0];
  P.anchorY = corners[anchor][1];
  P.anchorZ = 1.0;
  P.d = -(P.a * P.anchorX + P.b * P.anchorY + P.c * 1.0);

  // The plane depth: the ray through the picture origin.
  AngleRecord none;
  AngleSinCos(&none, 0);
  double u0, v0, zp;
  if (!MapThroughTiltedPlane(&P, C, 0, 0, &u0, &v0, &zp, &none)) return 0;
  P.zp = zp;

  const double outline[4][2] = {{0, 0}, {double(w), 0}, {0, double(h)}, {double(w), double(h)}};
  double umin = 0, umax = 0, vmin = 0, vmax = 0;
  for (int32_t k = 0; k < 4; ++k) {
    double u, v;
    if (!MapThroughTiltedPlane(&P, C, outline[k][0], outline[k][1], &u, &v, nullptr, &r)) return 0;
    if (k == 0 || u < umin) umin = u;
    if (k == 0 || u > umax) umax = u;
    if (k == 0 || v < vmin) vmin = v;
    if (k == 0 || v > vmax) vmax = v;
  }
  const double A = double(w) / double(h), du = umax - umin, dv = vmax - vmin;
  if (A > du / dv) {
    const double e = (dv * A - du) / 2;
    umin -= e, umax += e;
  } else if (du / dv > A) {
    const double e = (du / A - dv) / 2;
    vmin -= e, vmax += e;
  }
  if (scale != 1) {
    const double uc = (umin + umax) / 2, vc = (vmin + vmax) / 2;
    umin = (umin - uc) / scale + uc, umax = (umax - uc) / scale + uc;
    vmin = (vmin - vc) / scale + vc, vmax = (vmax - vc) / scale + vc;
  }
  const double stepU = (umax - umin) / w, stepV = (vmax - vmin) / h;
  // A degenerate outline (a camera placed on the picture) leaves no usable window.
  const double window[4] = {umin, vmin, stepU, stepV};
  if (!AllFinite(window, 4) || !AllFinite(&P.zp, 1)) return 0;

  TiltJob job{img, nullptr, 0, 0, w - 1, h - 1, C, &P, &r, umin, vmin, stepU, stepV, w, h, fill,
              uint8_t(white ? 255 : 0), nullptr};
  if (IsTypedFormat(format) && EngineTypedKernels()) {
    // Every output pixel is written into a block of the picture's size, read from the
    // picture's own block, and the two blocks change places.
    KeptPicture<WarpTargetTag> target;
    if (!target.Get() || !target.Get()->record->AllocateUncleared(w, h, format)) return 0;
    job.sourcePixels = img->Pixels();
    job.destination = target.Get();
    DispatchTyped(format, [&]<int NB, int CH>() { RunWarpRows(TiltRowsTyped<NB, CH>, &job, w, h); });
    SwapPixelBlocks(img->record, target.Get()->record);
    return 1;
  }
  CImgBuff copy;
  copy.CopyFrom(*img);
  if (!copy.Pixels()) return 0;
  job.source = &copy;
  RunBands(TiltRowsAccessor, &job, h, w, 16 * 1024);
  return 1;
}
