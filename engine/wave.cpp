// wave.cpp - the wavelength colour filter: multiply by the filter colour, reduce to the
// luminance of the filtered colour, or scale grey pictures by a gain; in place in a rectangle.
// The worker's arithmetic is in doubles 0..1 as GetRGBF / SetRGBF give and take them; typed
// kernels reproduce those values for formats 1 to 6, with per-level tables for 8-bit samples.
// Inside: filter colour - sample arithmetic - typed kernels - accessor path - entry
#include "engine/wave.h"

#include <cmath>

#include "core/colour.h"
#include "engine/pixel.h"

// ---- filter colour -------------------------------------------------------------------------

void WaveFilterColour(double wavelengthNm, double* r, double* g, double* b, double* luminance) {
  double X = 0, Y = 0, Z = 0;
  // Beyond the tables (and for NaN or infinity) the colour-matching functions are 0.
  if (wavelengthNm >= 0 && wavelengthNm <= 831.0) WavelengthToXyz(wavelengthNm, &X, &Y, &Z);
  double R, G, B;
  XyzToSrgb(X, Y, Z, &R, &G, &B);
  if (r) *r = R;
  if (g) *g = G;
  if (b) *b = B;
  if (luminance) *luminance = 0.587 * G + 0.299 * R + 0.114 * B;
}

namespace {

// ---- sample arithmetic ---------------------------------------------------------------------

// "Lowered to 1 when above 1"; a NaN (0 x an infinite gain) counts as 0 so that no NaN
// reaches a conversion.  SetRGBF clamps below 0 itself.
inline double CapOne(double v) {
  if (v > 1.0) return 1.0;
  if (!(v >= 0.0)) return 0.0;
  return v;
}

// SetRGBF's scaling of a clamped double to an NB-bit sample.
template <int NB>
inline uint32_t ToSample(double c) {
  if (!(c > 0.0)) return 0;
  if (c > 1.0) c = 1.0;
  if constexpr (NB == 8) return uint32_t(c * 255.0);
  else if constexpr (NB == 16) return uint32_t(c * 65535.0);
  else return uint32_t(c * 4294967295.0);
}

template <int NB>
inline double FromSample(uint32_t v) {
  constexpr double full = NB == 8 ? 255.0 : NB == 16 ? 65535.0 : 4294967295.0;
  return double(v) / full;
}

// ---- typed kernels -------------------------------------------------------------------------

struct WaveTables {  // formats 1 and 4: results by 8-bit level
  uint8_t grey[256];     // outputMode 0 and 2 on format 1; outputMode 1 unused
  uint8_t colour[3][256];  // outputMode 1 on format 4: each channel times its filter channel
  double term[3][256];   // outputMode 2 on format 4: 0.299 r R, 0.587 g G, 0.114 b B
};

void BuildWaveTables(const WaveFilterJob& job, WaveTables* t) {
  for (uint32_t v = 0; v < 256; ++v) {
    const double c = FromSample<8>(v);
    double y;
    if (job.outputMode == 0) {
      y = CapOne(c * job.gain);
    } else {
      // A grey pixel is its own R, G and B: the filtered luminance in the same order.
      y = CapOne((0.587 * (c * job.filterG) + 0.299 * (c * job.filterR) +
                  0.114 * (c * job.filterB)) * job.gain);
    }
    t->grey[v] = uint8_t(ToSample<8>(y));
    t->colour[0][v] = uint8_t(ToSample<8>(c * job.filterR));
    t->colour[1][v] = uint8_t(ToSample<8>(c * job.filterG));
    t->colour[2][v] = uint8_t(ToSample<8>(c * job.filterB));
    t->term[0][v] = 0.299 * (c * job.filterR);
    t->term[1][v] = 0.587 * (c * job.filterG);
    t->term[2][v] = 0.114 * (c * job.filterB);
  }
}

template <int NB, int CH>
void WaveRowTyped(const WaveFilterJob& job, const WaveTables& t, SampleType<NB>* p, int64_t n) {
  typedef SampleType<NB> T;
  if constexpr (NB == 8 && CH == 1) {
    for (int64_t i = 0; i < n; ++i) p[i] = t.grey[p[i]];
  } else if constexpr (NB == 8) {
    if (job.outputMode == 1) {
      for (int64_t i = 0; i < n; ++i, p += 3) {
        p[0] = t.colour[0][p[0]];
        p[1] = t.colour[1][p[1]];
        p[2] = t.colour[2][p[2]];
      }
    } else {
      for (int64_t i = 0; i < n; ++i, p += 3) {
        const double y = CapOne((t.term[1][p[1]] + t.term[0][p[0]] + t.term[2][p[2]]) * job.gain);
        p[0] = p[1] = p[2] = T(ToSample<8>(y));
      }
    }
  } else if constexpr (CH == 1) {
    for (int64_t i = 0; i < n; ++i) {
      const double c = FromSample<NB>(p[i]);
      double y;
      if (job.outputMode == 0) y = CapOne(c * job.gain);
      else
        y = CapOne((0.587 * (c * job.filterG) + 0.299 * (c * job.filterR) +
                    0.114 * (c * job.filterB)) * job.gain);
      // SetRGBF (y, y, y) on a grey picture: the luma of three equal samples is the sample.
      p[i] = T(ToSample<NB>(y));
    }
  } else {
    for (int64_t i = 0; i < n; ++i, p += 3) {
      const double r = FromSample<NB>(p[0]) * job.filterR;
      const double g = FromSample<NB>(p[1]) * job.filterG;
      const double b = FromSample<NB>(p[2]) * job.filterB;
      if (job.outputMode == 1) {
        p[0] = T(ToSample<NB>(r));
        p[1] = T(ToSample<NB>(g));
        p[2] = T(ToSample<NB>(b));
      } else {
        const double y = CapOne((0.587 * g + 0.299 * r + 0.114 * b) * job.gain);
        p[0] = p[1] = p[2] = T(ToSample<NB>(y));
      }
    }
  }
}

// ---- accessor path -------------------------------------------------------------------------

void WavePixelAccessor(C_ImgBuff* rec, const WaveFilterJob& job, int32_t x, int32_t y) {
  if (job.outputMode == 0) {
    double v;
    if (!rec->GetGrayF(x, y, &v)) return;
    v = CapOne(v * job.gain);
    rec->SetRGBF(x, y, v, v, v);
    return;
  }
  double r, g, b;
  if (!rec->GetRGBF(x, y, &r, &g, &b)) return;
  r *= job.filterR;
  g *= job.filterG;
  b *= job.filterB;
  if (job.outputMode == 1) {
    rec->SetRGBF(x, y, r, g, b);
    return;
  }
  const double v = CapOne((0.587 * g + 0.299 * r + 0.114 * b) * job.gain);
  rec->SetRGBF(x, y, v, v, v);
}

struct WaveRun {
  const WaveFilterJob* job;
  const WaveTables* tables;
  int32_t typed;
};

void WaveRows(void* ctx, uint64_t first, uint64_t count) {
  const WaveRun& run = *static_cast<const WaveRun*>(ctx);
  const WaveFilterJob& job = *run.job;
  C_ImgBuff* rec = job.picture->record;
  const RoiRect r{job.x0, job.y0, job.x1, job.y1};
  int32_t yb, ye;
  PieceRows(r, first, count, &yb, &ye);
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t done = run.typed && DispatchTyped(rec->format, [&]<int NB, int CH>() {
      WaveRowTyped<NB, CH>(job, *run.tables, RowPtr<SampleType<NB>>(rec, r.x0, y), RoiWidth(r));
    });
    if (done) continue;
    for (int32_t x = r.x0; x <= r.x1; ++x) WavePixelAccessor(rec, job, x, y);
  }
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t ApplyWaveColorFilter(CImgBuff* img, double wavelengthNm, uint32_t outputMode,
                             uint32_t gainMode, double gain, const RoiRect* roi) {
  if (!img || !img->record) return 0;
  C_ImgBuff* rec = img->record;
  if (!IsValidFormat(rec->format) || !rec->pixels) return 1;  // empty: nothing to do
  if (!(wavelengthNm >= 0) || outputMode > 2 || gainMode > 3) return 0;
  RoiRect r;
  if (!GetRoi(&r, img, roi)) return 0;
  WaveFilterJob job{img, outputMode, 0, 0, 0, 1.0, r.x0, r.y0, r.x1, r.y1};
  double L = 0;
  WaveFilterColour(wavelengthNm, &job.filterR, &job.filterG, &job.filterB, &L);
  const int32_t grey = IsGrayFormat(rec->format);
  if (outputMode == 0) {
    if (!grey) return 1;
    if (gainMode == 0) return 1;
    if (gainMode == 1 && !(L > 0)) return 1;
    if (gainMode == 3 && !(gain >= 0)) return 0;  // negative, or NaN
    job.gain = gainMode == 1 ? 1.0 / L : gainMode == 2 ? L : gain;
  } else if (outputMode == 2) {
    job.gain = gainMode == 1 && L > 0 ? 1.0 / L : 1.0;
  }
  if (outputMode == 1 && grey) {
    if (!rec->ConvertTo(rec->format + 3)) return 0;  // 1 -> 4, 2 -> 5, 3 -> 6; no memory
  }
  WaveTables* tables = nullptr;
  WaveTables storage;
  const int32_t typed = IsTypedFormat(rec->format) && EngineTypedKernels();
  if (typed && FormatClassBits(rec->format) == 8) {
    BuildWaveTables(job, &storage);
    tables = &storage;
  }
  WaveRun run{&job, tables ? tables : &storage, typed};
  RunRows(WaveRows, &run, r);
  if (outputMode == 2 && !grey) {
    const int32_t bits = FormatClassBits(rec->format);
    // Out of memory here leaves a filtered colour picture where grey was asked for: say so.
    if (!rec->ConvertTo(bits == 8 ? 1 : bits == 16 ? 2 : 3)) return 0;
  }
  return 1;
}
