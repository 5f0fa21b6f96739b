// fft.cpp - the Fourier transform of pictures through a spectrum record: forward transform of
// a padded square, log-power display of the centred spectrum, filtered inverse, release.
// Gray pictures are one channel, colour pictures three (R, G, B as the accessors read them);
// formats 1 to 6 load and store through typed row kernels, 7 to 9 through the accessors.
// Inside: record checks - load - render - filters - store - entries
#include "engine/fft.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/pixel.h"

namespace {

// ---- record checks ---------------------------------------------------------------------------

inline int32_t ChannelsOf(int32_t format) { return IsGrayFormat(format) ? 1 : 3; }

// Doubles of one record's block: 2 x channels x N x N, or 0 when that passes 64 bits of bytes.
uint64_t BlockDoubles(uint64_t n, int32_t channels) {
  uint64_t d;
  if (__builtin_mul_overflow(n, n, &d) || __builtin_mul_overflow(d, uint64_t(2 * channels), &d) ||
      d > UINT64_MAX / sizeof(double))
    return 0;
  return d;
}

// What FftRender and FftInverse need of a record: a square power-of-two side, a source size
// inside it, a format, the block and every plane of the format's channels.
int32_t UsableRecord(const SpectrumRecord* rec) {
  if (!rec) return 0;
  const int32_t n = rec->sideColumns;
  if (n < 2 || (n & (n - 1)) != 0 || rec->sideRows != n) return 0;
  if (!IsValidFormat(rec->format) || rec->bytesPerPixel == 0 || !rec->block) return 0;
  if (rec->width < 1 || rec->height < 1 || rec->width > n || rec->height > n) return 0;
  for (int32_t c = 0; c < ChannelsOf(rec->format); ++c)
    if (!rec->re[c] || !rec->im[c]) return 0;
  return 1;
}

// ---- load ------------------------------------------------------------------------------------

struct LoadJob {
  const C_ImgBuff* src;
  double* plane[3];
  int64_t n;
};

template <int NB, int CH>
void LoadRowsTyped(LoadJob* j, int32_t y0, int32_t y1) {
  const double full = double(FormatClassMax(j->src->format));
  const int32_t w = j->src->width;
  for (int32_t y = y0; y < y1; ++y) {
    const SampleType<NB>* p = RowPtr<const SampleType<NB>>(j->src, 0, y);
    const int64_t o = int64_t(y) * j->n;
    if constexpr (CH == 1) {
      double* d = j->plane[0] + o;
      for (int32_t x = 0; x < w; ++x) d[x] = double(p[x]) / full;
    } else {
      double* d0 = j->plane[0] + o;
      double* d1 = j->plane[1] + o;
      double* d2 = j->plane[2] + o;
      for (int32_t x = 0; x < w; ++x) {
        d0[x] = double(p[3 * x]) / full;
        d1[x] = double(p[3 * x + 1]) / full;
        d2[x] = double(p[3 * x + 2]) / full;
      }
    }
  }
}

// H,S,V, XYZ and C,M,Y,K as their R,G,B at the depth of their class.
void LoadRowsAccessor(LoadJob* j, int32_t y0, int32_t y1) {
  const C_ImgBuff* s = j->src;
  const int32_t bits = FormatClassBits(s->format);
  const double full = double(FormatClassMax(s->format));
  for (int32_t y = y0; y < y1; ++y) {
    const int64_t o = int64_t(y) * j->n;
    for (int32_t x = 0; x < s->width; ++x) {
      uint32_t r = 0, g = 0, b = 0;
      if (bits == 8) {
        uint8_t r8, g8, b8;
        s->GetRGB8(x, y, &r8, &g8, &b8);
        r = r8, g = g8, b = b8;
      } else if (bits == 16) {
        uint16_t r16, g16, b16;
        s->GetRGB16(x, y, &r16, &g16, &b16);
        r = r16, g = g16, b = b16;
      } else {
        s->GetRGB32(x, y, &r, &g, &b);
      }
      j->plane[0][o + x] = double(r) / full;
      j->plane[1][o + x] = double(g) / full;
      j->plane[2][o + x] = double(b) / full;
    }
  }
}

void LoadPiece(void* ctx, uint64_t first, uint64_t count) {
  LoadJob* j = static_cast<LoadJob*>(ctx);
  const int32_t y0 = int32_t(first), y1 = int32_t(first + count);
  if (!DispatchTyped(j->src->format, [&]<int NB, int CH>() { LoadRowsTyped<NB, CH>(j, y0, y1); }))
    LoadRowsAccessor(j, y0, y1);
}

// ---- store mappings --------------------------------------------------------------------------

// A plane value into a sample of `bits` depth: lowest + trunc(v x span), limited to the depth.
// NaN and values below 0 give the lowest.
struct StoreMap {
  double span;
  uint32_t lowest;
  uint32_t full;
};

inline StoreMap PlainMap(int32_t bits) {
  if (bits == 8) return {255.0, 0, 255};
  if (bits == 16) return {65535.0, 0, 65535};
  return {4294967295.0, 0, 4294967295u};
}
// Rendered spectra start one level above black, so that a displayed 0 always means "removed".
inline StoreMap OffsetMap(int32_t bits) {
  if (bits == 8) return {254.0, 1, 255};
  if (bits == 16) return {65279.0, 256, 65535};
  return {4294901759.0, 65536, 4294967295u};
}
inline uint32_t MapValue(const StoreMap& m, double v) {
  const uint64_t q = uint64_t(m.lowest) + ClampTruncU32(v * m.span);
  return q > m.full ? m.full : uint32_t(q);
}

// ---- store -----------------------------------------------------------------------------------

// Writes rows of the output from value planes: output (x, y) takes plane element
// (y + oy) x n + x + ox.  The value of an element is `value(channel, index)`.
struct StoreJob {
  C_ImgBuff* out;
  StoreMap map;
  int64_t n, ox, oy;
  const SpectrumRecord* rec;  // render: log power of the record's planes; else null
  double scale[3];
  double* plane[3];           // inverse: real parts
};

inline double ValueAt(const StoreJob* j, int32_t c, int64_t i) {
  if (j->rec) {
    const double re = j->rec->re[c][i], im = j->rec->im[c][i];
    const double power = re * re + im * im;
    return std::log10(std::fabs(power) + 1.0) * j->scale[c];
  }
  return j->plane[c][i];
}

template <int NB, int CH>
void StoreRowsTyped(StoreJob* j, int32_t y0, int32_t y1) {
  const int32_t w = j->out->width;
  for (int32_t y = y0; y < y1; ++y) {
    SampleType<NB>* p = RowPtr<SampleType<NB>>(j->out, 0, y);
    const int64_t o = (y + j->oy) * j->n + j->ox;
    for (int32_t x = 0; x < w; ++x) {
      if constexpr (CH == 1) {
        p[x] = SampleType<NB>(MapValue(j->map, ValueAt(j, 0, o + x)));
      } else {
        p[3 * x] = SampleType<NB>(MapValue(j->map, ValueAt(j, 0, o + x)));
        p[3 * x + 1] = SampleType<NB>(MapValue(j->map, ValueAt(j, 1, o + x)));
        p[3 * x + 2] = SampleType<NB>(MapValue(j->map, ValueAt(j, 2, o + x)));
      }
    }
  }
}

void StoreRowsAccessor(StoreJob* j, int32_t y0, int32_t y1) {
  C_ImgBuff* out = j->out;
  const int32_t bits = FormatClassBits(out->format);
  for (int32_t y = y0; y < y1; ++y) {
    const int64_t o = (y + j->oy) * j->n + j->ox;
    for (int32_t x = 0; x < out->width; ++x) {
      const uint32_t r = MapValue(j->map, ValueAt(j, 0, o + x));
      const uint32_t g = MapValue(j->map, ValueAt(j, 1, o + x));
      const uint32_t b = MapValue(j->map, ValueAt(j, 2, o + x));
      if (bits == 8) out->SetRGB8(x, y, uint8_t(r), uint8_t(g), uint8_t(b));
      else if (bits == 16) out->SetRGB16(x, y, uint16_t(r), uint16_t(g), uint16_t(b));
      else out->SetRGB32(x, y, r, g, b);
    }
  }
}

void StorePiece(void* ctx, uint64_t first, uint64_t count) {
  StoreJob* j = static_cast<StoreJob*>(ctx);
  const int32_t y0 = int32_t(first), y1 = int32_t(first + count);
  if (!DispatchTyped(j->out->format, [&]<int NB, int CH>() { StoreRowsTyped<NB, CH>(j, y0, y1); }))
    StoreRowsAccessor(j, y0, y1);
}

void RunStore(StoreJob* j) {
  const RoiRect all{0, 0, j->out->width - 1, j->out->height - 1};
  RunRows(StorePiece, j, all);
}

// ---- filters ---------------------------------------------------------------------------------

struct FilterJob {
  SpectrumRecord* rec;
  const C_ImgBuff* filter;
  int32_t channels;
  int32_t isB;
  int32_t grayBits;  // depth at which a gray source reads the filter
  int64_t ox, oy;
};

// Filter pixel (x, y) as fractions of full scale, one per channel of the spectrum.
inline void FilterFractions(const FilterJob* j, int32_t x, int32_t y, double* f) {
  const C_ImgBuff* p = j->filter;
  if (j->channels == 1) {
    if (j->grayBits == 8) {
      uint8_t v = 0;
      p->GetGray8(x, y, &v);
      f[0] = v / 255.0;
    } else if (j->grayBits == 16) {
      uint16_t v = 0;
      p->GetGray16(x, y, &v);
      f[0] = v / 65535.0;
    } else {
      uint32_t v = 0;
      p->GetGray32(x, y, &v);
      f[0] = v / 4294967295.0;
    }
    return;
  }
  uint32_t r = 0, g = 0, b = 0;
  p->GetRGB32(x, y, &r, &g, &b);
  f[0] = r / 4294967295.0;
  f[1] = g / 4294967295.0;
  f[2] = b / 4294967295.0;
}

void FilterPiece(void* ctx, uint64_t first, uint64_t count) {
  FilterJob* j = static_cast<FilterJob*>(ctx);
  const int64_t n = j->rec->sideColumns;
  for (int32_t fy = int32_t(first); fy < int32_t(first + count); ++fy) {
    const int64_t row = (fy + j->oy) * n + j->ox;
    for (int32_t fx = 0; fx < j->filter->width; ++fx) {
      double f[3];
      FilterFractions(j, fx, fy, f);
      for (int32_t c = 0; c < j->channels; ++c) {
        double& re = j->rec->re[c][row + fx];
        double& im = j->rec->im[c][row + fx];
        if (f[c] == 0.0) {
          re = 0.0;
          im = 0.0;
        } else if (j->isB) {
          const double m = std::sqrt(re * re + im * im);
          if (m > 0.0) {
            const double k = std::sqrt(std::pow(10.0, f[c] / j->rec->logScale[c]) - 1.0) / m;
            re = re * k;
            im = im * k;
          }
        }
      }
    }
  }
}

// Filter B needs the scale that rendering stored.  A zero scale is right only for an all-zero
// spectrum (nothing to rescale); with any coefficient left it means the record was never
// rendered, and dividing by it would fill the picture with infinities.
int32_t ScalesServeFilterB(const SpectrumRecord* rec, int32_t channels) {
  const uint64_t nn = uint64_t(rec->sideColumns) * uint64_t(rec->sideColumns);
  for (int32_t c = 0; c < channels; ++c) {
    const double s = rec->logScale[c];
    if (!std::isfinite(s) || s < 0.0) return 0;
    if (s > 0.0) continue;
    for (uint64_t i = 0; i < nn; ++i)
      if (rec->re[c][i] != 0.0 || rec->im[c][i] != 0.0) return 0;
  }
  return 1;
}

int32_t SameSize(const CImgBuff* f, const SpectrumRecord* rec) {
  return f->record && IsValidFormat(f->Format()) && f->Pixels() && f->Width() == rec->width &&
         f->Height() == rec->height;
}

}  // namespace

// ---- entries ---------------------------------------------------------------------------------

int32_t FftForward(SpectrumRecord* rec, CImgBuff* source) {
  if (!rec || !source || !source->record) return 0;
  const C_ImgBuff* src = source->record;
  if (!IsValidFormat(src->format) || !src->pixels || src->width < 1 || src->height < 1) return 0;
  const int32_t longest = src->width > src->height ? src->width : src->height;
  if (longest < 2 || longest > (1 << 30)) return 0;
  int32_t n = 2;
  while (n < longest) n *= 2;
  const int32_t channels = ChannelsOf(src->format);
  const uint64_t doubles = BlockDoubles(uint64_t(n), channels);
  if (!doubles) return 0;
  // Reuse needs the same side and the same number of planes: by bytes per pixel alone a
  // 32-bit gray block (two planes) would serve a C,M,Y,K source (six) and overrun it.
  const int32_t reuse = rec->block && rec->sideColumns == n && rec->sideRows == n &&
                        rec->bytesPerPixel == ImgBytesPerPixel[src->format] &&
                        IsValidFormat(rec->format) && ChannelsOf(rec->format) == channels;
  if (reuse) {
    ParallelZeroFill(rec->block, 0, doubles * sizeof(double));
  } else {
    FftFree(rec);
    rec->block = std::calloc(doubles, sizeof(double));
    if (!rec->block) return 0;
  }
  const uint64_t nn = uint64_t(n) * uint64_t(n);
  double* planes = static_cast<double*>(rec->block);
  for (int32_t c = 0; c < 3; ++c) {
    rec->re[c] = c < channels ? planes + (2 * c) * nn : nullptr;
    rec->im[c] = c < channels ? planes + (2 * c + 1) * nn : nullptr;
  }
  rec->format = src->format;
  rec->width = src->width;
  rec->height = src->height;
  rec->sideColumns = n;
  rec->sideRows = n;
  rec->bytesPerPixel = ImgBytesPerPixel[src->format];

  // The padding stays at the block's zeros: black in every format (a zero-filled C,M,Y,K
  // pixel would read as white).
  LoadJob load{src, {rec->re[0], rec->re[1], rec->re[2]}, n};
  RunRows(LoadPiece, &load, RoiRect{0, 0, src->width - 1, src->height - 1});
  for (int32_t c = 0; c < channels; ++c) {
    if (!Fft2DForward(rec->re[c], rec->im[c], uint64_t(n), uint64_t(n))) return 0;
    FftShiftQuadrants(rec->re[c], uint64_t(n), uint64_t(n));
    FftShiftQuadrants(rec->im[c], uint64_t(n), uint64_t(n));
  }
  return 1;
}

int32_t FftRender(SpectrumRecord* rec, CImgBuff* output) {
  if (!UsableRecord(rec) || !output || !output->record) return 0;
  const int32_t n = rec->sideColumns;
  const int32_t channels = ChannelsOf(rec->format);
  const uint64_t nn = uint64_t(n) * uint64_t(n);
  double maximum[3];
  for (int32_t c = 0; c < channels; ++c)
    if (!MaxPowerSpectrum(rec->re[c], rec->im[c], nn, &maximum[c])) return 0;
  if (!output->Allocate(rec->width, rec->height, rec->format)) return 0;
  // The scale comes from the maximum over the whole spectrum, which may lie outside the part
  // shown; the values shown are the same log10(power + 1) x scale, computed only where shown.
  StoreJob job{output->record, OffsetMap(FormatClassBits(rec->format)), n, (n - rec->width) / 2,
               (n - rec->height) / 2, rec, {0, 0, 0}, {nullptr, nullptr, nullptr}};
  for (int32_t c = 0; c < channels; ++c) {
    rec->logScale[c] = maximum[c] > 0.0 ? 1.0 / std::log10(maximum[c] + 1.0) : 0.0;
    job.scale[c] = rec->logScale[c];
  }
  RunStore(&job);
  return 1;
}

int32_t FftInverse(SpectrumRecord* rec, CImgBuff* output, CImgBuff* filterA, CImgBuff* filterB) {
  if (!UsableRecord(rec) || !output || !output->record) return 0;
  if (filterA && filterB) return 0;
  CImgBuff* filter = filterA ? filterA : filterB;
  if (filter && !SameSize(filter, rec)) return 0;
  const int32_t n = rec->sideColumns;
  const int32_t channels = ChannelsOf(rec->format);
  if (filterB && !ScalesServeFilterB(rec, channels)) return 0;
  const uint64_t nn = uint64_t(n) * uint64_t(n);
  const uint64_t doubles = BlockDoubles(uint64_t(n), channels);
  if (!doubles) return 0;
  // The inverse runs on copies: the record's planes never receive transformed data.
  double* scratch = static_cast<double*>(std::malloc(doubles * sizeof(double)));
  if (!scratch) return 0;
  // An output that is also the filter picture is allocated only after the filter is read.
  const int32_t outIsFilter = filter == output;
  if (!outIsFilter && !output->Allocate(rec->width, rec->height, rec->format)) {
    std::free(scratch);
    return 0;
  }
  if (filter) {
    const int32_t bpp = rec->bytesPerPixel;
    FilterJob fj{rec, filter->record, channels, filterB ? 1 : 0, bpp == 1 ? 8 : bpp == 2 ? 16 : 32,
                 (n - rec->width) / 2, (n - rec->height) / 2};
    RunRows(FilterPiece, &fj, RoiRect{0, 0, rec->width - 1, rec->height - 1});
  }
  int32_t ok = 1;
  for (int32_t c = 0; c < channels && ok; ++c) {
    FftShiftQuadrants(rec->re[c], uint64_t(n), uint64_t(n));
    FftShiftQuadrants(rec->im[c], uint64_t(n), uint64_t(n));
    double* re = scratch + (2 * c) * nn;
    double* im = scratch + (2 * c + 1) * nn;
    ParallelMemcpy(re, rec->re[c], nn * sizeof(double));
    ParallelMemcpy(im, rec->im[c], nn * sizeof(double));
    ok = Fft2DInverse(re, im, uint64_t(n), uint64_t(n));
  }
  if (ok && outIsFilter) ok = output->Allocate(rec->width, rec->height, rec->format);
  if (ok) {
    // Kept top-left: the padding was added on the right and at the bottom.
    StoreJob job{output->record, PlainMap(FormatClassBits(rec->format)), n, 0, 0, nullptr, {0, 0, 0},
                 {scratch, scratch + 2 * nn, scratch + 4 * nn}};
    if (channels == 1) job.plane[1] = job.plane[2] = nullptr;
    RunStore(&job);
  }
  std::free(scratch);
  return ok;
}

int32_t FftFree(SpectrumRecord* rec) {
  if (!rec) return 0;
  std::free(rec->block);
  std::memset(static_cast<void*>(rec), 0, sizeof(*rec));
  return 1;
}
