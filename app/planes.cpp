// planes.cpp - component planes: one colour component of the chain's picture as a gray
// picture for the filters after a component selection, and its way back.
// Per pixel through the image core's converting accessors, so every format is served; the
// R, G, B and C, M, Y components of 8- and 16-bit gray and RGB pictures also have direct row
// loops, checked against the accessor path (EngineTypedKernels(0) selects it).
// Inside: plan - extraction rows - merge rows - public operations
#include <algorithm>

#include "app/filterctrl.h"
#include "core/colour.h"
#include "engine/frame.h"

namespace {

// ---------------------------------------------------------------------------------------
// Plan: plane format, reading size and conversion by picture format and code
struct PlanePlan {
  int32_t planeFormat;   // 1, 2 or 3
  int32_t readingBits;   // 8, 16 or 32
  int32_t convertTo;     // 0, or 5 / 7: the picture is converted first
};

int32_t IsHsvCode(uint32_t code) { return code >= 4 && code <= 6; }
int32_t IsCieCode(uint32_t code) { return code >= 14 && code <= 21; }

PlanePlan PlanFor(int32_t format, uint32_t code) {
  int32_t bits = FormatClassBits(format);
  if (format == ImgFormatXyz) return {ImgFormatGray32, 32, 0};
  if (IsCieCode(code)) return {ImgFormatGray32, 32, ImgFormatXyz};
  if (bits == 8) {
    if (IsHsvCode(code)) return {ImgFormatGray16, 16, ImgFormatRgb48};
    return {ImgFormatGray8, 8, 0};
  }
  if (bits == 16) return {ImgFormatGray16, 16, 0};
  return {ImgFormatGray32, 32, 0};
}

// Reading size of a merge, from the picture's format at that time.
int32_t ReadingBits(int32_t format) { return FormatClassBits(format); }

struct PlaneJob {
  CImgBuff* picture;
  CImgBuff* plane;
  uint32_t code;
  int32_t width;      // columns both pictures have
  int32_t height;
  int32_t bits;       // reading size
};

constexpr uint32_t kFull32 = 4294967295u;

// C, M, Y, K of an RGB triple at full scale (K the smallest complement).
template <class T>
void CmykOf(T full, T r, T g, T b, T* c, T* m, T* y, T* k) {
  T kk = std::min(std::min(T(full - r), T(full - g)), T(full - b));
  *c = T(full - r - kk);
  *m = T(full - g - kk);
  *y = T(full - b - kk);
  *k = kk;
}

// ---------------------------------------------------------------------------------------
// Extraction rows
uint32_t ExtractValue(const C_ImgBuff& p, int32_t x, int32_t y, uint32_t code, int32_t bits) {
  uint32_t ch = (code - 1) % 3;  // R, G, B index for codes 1-3 and 7-9; H, S, V for 4-6
  if (bits == 8) {
    uint8_t c[4] = {0, 0, 0, 0};
    if (code >= 10) {
      p.GetCMYK8(x, y, &c[0], &c[1], &c[2], &c[3]);
      return c[code - 10];
    }
    p.GetRGB8(x, y, &c[0], &c[1], &c[2]);
    return code <= 3 ? c[ch] : 255u - c[ch];
  }
  if (bits == 16) {
    uint16_t c[3] = {0, 0, 0};
    if (IsHsvCode(code)) {
      p.GetHSV16(x, y, &c[0], &c[1], &c[2]);
      return c[ch];
    }
    p.GetRGB16(x, y, &c[0], &c[1], &c[2]);
    if (code <= 3) return c[ch];
    if (code <= 9) return 65535u - c[ch];
    uint16_t k4[4];
    CmykOf<uint16_t>(65535, c[0], c[1], c[2], &k4[0], &k4[1], &k4[2], &k4[3]);
    return k4[code - 10];
  }
  if (code <= 13) {
    uint32_t c[3] = {0, 0, 0};
    p.GetRGB32(x, y, &c[0], &c[1], &c[2]);
    if (code <= 3) return c[ch];
    if (code <= 6) {
      uint32_t hsv[3];
      Rgb32ToHsv32(c[0], c[1], c[2], &hsv[0], &hsv[1], &hsv[2]);
      return hsv[ch];
    }
    if (code <= 9) return kFull32 - c[ch];
    uint32_t k4[4];
    CmykOf<uint32_t>(kFull32, c[0], c[1], c[2], &k4[0], &k4[1], &k4[2], &k4[3]);
    return k4[code - 10];
  }
  double v[3] = {0, 0, 0};
  if (code <= 16) {
    p.GetXYZ(x, y, &v[0], &v[1], &v[2]);
    return PackXyz32(v[code - 14]);
  }
  if (code <= 19) {
    p.GetLab(x, y, &v[0], &v[1], &v[2]);
    return code == 17 ? PackL32(v[0]) : PackAb32(v[code - 17]);
  }
  p.GetLCh(x, y, &v[0], &v[1], &v[2]);
  return code == 20 ? PackC32(v[1]) : PackHue32(v[2]);
}

// Direct rows: R, G, B (codes 1-3) or their complements (7-9) of formats 1, 2, 4 and 5 into
// a plane of the same sample size.  1 when the format and plane fit this path.
int32_t DirectExtractFits(const PlaneJob& job) {
  int32_t f = job.picture->Format();
  uint32_t c = job.code;
  if (!((c >= 1 && c <= 3) || (c >= 7 && c <= 9))) return 0;
  if (f == ImgFormatGray8 || f == ImgFormatRgb24) return job.plane->Format() == ImgFormatGray8;
  if (f == ImgFormatGray16 || f == ImgFormatRgb48) return job.plane->Format() == ImgFormatGray16;
  return 0;
}

template <class T>
void DirectExtractRow(const T* src, T* dst, int32_t width, int32_t step, uint32_t ch,
                      int32_t invert, T full) {
  src += ch;
  if (invert) {
    for (int32_t x = 0; x < width; ++x) dst[x] = T(full - src[x * step]);
  } else {
    for (int32_t x = 0; x < width; ++x) dst[x] = src[x * step];
  }
}

void ExtractRows(void* ctx, uint64_t first, uint64_t count) {
  PlaneJob& job = *static_cast<PlaneJob*>(ctx);
  const C_ImgBuff& p = *job.picture->record;
  C_ImgBuff& q = *job.plane->record;
  int32_t y0 = int32_t(first), y1 = int32_t(first + count);
  if (EngineTypedKernels() && DirectExtractFits(job)) {
    int32_t f = p.format;
    int32_t step = (f == ImgFormatRgb24 || f == ImgFormatRgb48) ? 3 : 1;
    uint32_t ch = step == 3 ? (job.code - 1) % 3 : 0;
    int32_t invert = job.code >= 7;
    for (int32_t y = y0; y < y1; ++y) {
      if (f == ImgFormatGray8 || f == ImgFormatRgb24) {
        DirectExtractRow<uint8_t>(RowPtr<uint8_t>(&p, 0, y), RowPtr<uint8_t>(&q, 0, y),
                                  job.width, step, ch, invert, 255);
      } else {
        DirectExtractRow<uint16_t>(RowPtr<uint16_t>(&p, 0, y), RowPtr<uint16_t>(&q, 0, y),
                                   job.width, step, ch, invert, 65535);
      }
    }
    return;
  }
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = 0; x < job.width; ++x) {
      uint32_t v = ExtractValue(p, x, y, job.code, job.bits);
      if (job.bits == 8) q.SetGray8(x, y, uint8_t(v));
      else if (job.bits == 16) q.SetGray16(x, y, uint16_t(v));
      else q.SetGray32(x, y, v);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Merge rows
// Reads the plane's value at the reading size; 0 where the plane has none.
int32_t PlaneValue(const CImgBuff* plane, int32_t x, int32_t y, int32_t bits, uint32_t* v) {
  if (bits == 8) {
    uint8_t g;
    if (!plane->GetGray8(x, y, &g)) return 0;
    *v = g;
  } else if (bits == 16) {
    uint16_t g;
    if (!plane->GetGray16(x, y, &g)) return 0;
    *v = g;
  } else {
    uint32_t g;
    if (!plane->GetGray32(x, y, &g)) return 0;
    *v = g;
  }
  return 1;
}

void MergeValue(CImgBuff* picture, int32_t x, int32_t y, uint32_t code, int32_t bits,
                uint32_t v) {
  C_ImgBuff& p = *picture->record;
  uint32_t ch = (code - 1) % 3;
  if (bits == 8 || bits == 16) {
    if (IsCieCode(code)) return;  // no such component at this size: the picture keeps its value
    if (IsHsvCode(code)) {
      uint16_t c[3];
      p.GetHSV16(x, y, &c[0], &c[1], &c[2]);
      // The plane was read at 8 bits only when the picture stayed 8-bit; widen like the core.
      c[ch] = uint16_t(bits == 8 ? v * 257u : v);
      p.SetHSV16(x, y, c[0], c[1], c[2]);
      return;
    }
    if (bits == 8) {
      if (code >= 10) {
        uint8_t c[4];
        p.GetCMYK8(x, y, &c[0], &c[1], &c[2], &c[3]);
        c[code - 10] = uint8_t(v);
        p.SetCMYK8(x, y, c[0], c[1], c[2], c[3]);
        return;
      }
      uint8_t c[3];
      p.GetRGB8(x, y, &c[0], &c[1], &c[2]);
      c[ch] = uint8_t(code <= 3 ? v : 255u - v);
      p.SetRGB8(x, y, c[0], c[1], c[2]);
      return;
    }
    uint16_t c[3];
    p.GetRGB16(x, y, &c[0], &c[1], &c[2]);
    if (code <= 9) {
      c[ch] = uint16_t(code <= 3 ? v : 65535u - v);
    } else {
      uint16_t k4[4];
      CmykOf<uint16_t>(65535, c[0], c[1], c[2], &k4[0], &k4[1], &k4[2], &k4[3]);
      k4[code - 10] = uint16_t(v);
      uint32_t k = k4[3];
      for (int i = 0; i < 3; ++i) c[i] = uint16_t(k4[i] + k <= 65535u ? 65535u - k - k4[i] : 0u);
    }
    p.SetRGB16(x, y, c[0], c[1], c[2]);
    return;
  }
  if (code <= 13) {
    uint32_t c[3];
    p.GetRGB32(x, y, &c[0], &c[1], &c[2]);
    if (code <= 3) {
      c[ch] = v;
    } else if (code <= 6) {
      uint32_t hsv[3];
      Rgb32ToHsv32(c[0], c[1], c[2], &hsv[0], &hsv[1], &hsv[2]);
      hsv[ch] = v;
      Hsv32ToRgb32(hsv[0], hsv[1], hsv[2], &c[0], &c[1], &c[2]);
    } else if (code <= 9) {
      c[ch] = kFull32 - v;
    } else {
      uint32_t k4[4];
      CmykOf<uint32_t>(kFull32, c[0], c[1], c[2], &k4[0], &k4[1], &k4[2], &k4[3]);
      k4[code - 10] = v;
      double k = k4[3];
      for (int i = 0; i < 3; ++i)
        c[i] = double(k4[i]) + k <= 4294967295.0 ? uint32_t(kFull32 - k4[3] - k4[i]) : 0u;
    }
    p.SetRGB32(x, y, c[0], c[1], c[2]);
    return;
  }
  double d[3];
  if (code <= 16) {
    p.GetXYZ(x, y, &d[0], &d[1], &d[2]);
    d[code - 14] = UnpackXyz32(v);
    p.SetXYZ(x, y, d[0], d[1], d[2]);
  } else if (code <= 19) {
    p.GetLab(x, y, &d[0], &d[1], &d[2]);
    d[code - 17] = code == 17 ? UnpackL32(v) : UnpackAb32(v);
    p.SetLab(x, y, d[0], d[1], d[2]);
  } else {
    p.GetLCh(x, y, &d[0], &d[1], &d[2]);
    if (code == 20) d[1] = UnpackC32(v);
    else d[2] = UnpackHue32(v);
    p.SetLCh(x, y, d[0], d[1], d[2]);
  }
}

// Direct rows for formats 4 and 5 with codes 1-3 and 7-9 and a plane of the reading size
// and the picture's size.
int32_t DirectMergeFits(const PlaneJob& job) {
  int32_t f = job.picture->Format();
  uint32_t c = job.code;
  if (!((c >= 1 && c <= 3) || (c >= 7 && c <= 9))) return 0;
  if (job.plane->Width() != job.picture->Width() || job.plane->Height() != job.picture->Height())
    return 0;
  if (f == ImgFormatRgb24) return job.plane->Format() == ImgFormatGray8;
  if (f == ImgFormatRgb48) return job.plane->Format() == ImgFormatGray16;
  return 0;
}

template <class T>
void DirectMergeRow(T* dst, const T* src, int32_t width, uint32_t ch, int32_t invert, T full) {
  dst += ch;
  if (invert) {
    for (int32_t x = 0; x < width; ++x) dst[x * 3] = T(full - src[x]);
  } else {
    for (int32_t x = 0; x < width; ++x) dst[x * 3] = src[x];
  }
}

void MergeRows(void* ctx, uint64_t first, uint64_t count) {
  PlaneJob& job = *static_cast<PlaneJob*>(ctx);
  int32_t y0 = int32_t(first), y1 = int32_t(first + count);
  if (EngineTypedKernels() && DirectMergeFits(job)) {
    C_ImgBuff& p = *job.picture->record;
    const C_ImgBuff& q = *job.plane->record;
    uint32_t ch = (job.code - 1) % 3;
    int32_t invert = job.code >= 7;
    for (int32_t y = y0; y < y1; ++y) {
      if (p.format == ImgFormatRgb24) {
        DirectMergeRow<uint8_t>(RowPtr<uint8_t>(&p, 0, y), RowPtr<uint8_t>(&q, 0, y), job.width,
                                ch, invert, 255);
      } else {
        DirectMergeRow<uint16_t>(RowPtr<uint16_t>(&p, 0, y), RowPtr<uint16_t>(&q, 0, y),
                                 job.width, ch, invert, 65535);
      }
    }
    return;
  }
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = 0; x < job.width; ++x) {
      uint32_t v;
      if (!PlaneValue(job.plane, x, y, job.bits, &v)) continue;
      MergeValue(job.picture, x, y, job.code, job.bits, v);
    }
  }
}

// Rows go to the worker pool from ParallelPixelThreshold pixels up.
void RunPlaneRows(ParallelForFn fn, PlaneJob* job) {
  if (job->width <= 0 || job->height <= 0) return;
  RoiRect all{0, 0, job->width - 1, job->height - 1};
  RunRows(fn, job, all);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public operations
int32_t CFilterCtrl::ExtractComponent(CImgBuff* picture, CImgBuff* plane, uint32_t code,
                                      uint32_t* convertedFormat, int32_t width,
                                      int32_t height) {
  if (!picture || !plane || picture == plane) return 0;
  int32_t format = picture->Format();
  if (!IsValidFormat(format) || code < 1 || code > ComponentCodeLast) {
    plane->Free();
    return 0;
  }
  // Only the picture's own columns and rows are read, whatever the caller says.
  width = std::min(width, picture->Width());
  height = std::min(height, picture->Height());
  PlanePlan plan = PlanFor(format, code);
  // The plane first: without it the picture is left in its format.  A plane that already
  // has this geometry keeps its pixels (every one is written below).
  if (plane->Format() != plan.planeFormat || plane->Width() != width ||
      plane->Height() != height) {
    if (!plane->Allocate(width, height, plan.planeFormat)) return 0;
  }
  if (plan.convertTo && format != plan.convertTo) {
    if (!picture->record->ConvertTo(plan.convertTo)) {
      plane->Free();
      return 0;
    }
    if (convertedFormat) *convertedFormat = uint32_t(plan.convertTo);
  }
  PlaneJob job{picture, plane, code, width, height, plan.readingBits};
  RunPlaneRows(&ExtractRows, &job);
  return 1;
}

void CFilterCtrl::MergeComponent(CImgBuff* picture, CImgBuff* plane, uint32_t code) {
  if (!picture || !plane || picture == plane) return;
  int32_t format = picture->Format();
  if (!IsValidFormat(format) || code < 1 || code > ComponentCodeLast) return;
  PlaneJob job{picture, plane, code, picture->Width(), picture->Height(), ReadingBits(format)};
  RunPlaneRows(&MergeRows, &job);
}
