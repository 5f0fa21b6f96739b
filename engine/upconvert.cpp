// upconvert.cpp - UpConvert: widening by the image core, then the smoothing step: two integer
// convolutions (a weighted mean, then a mild sharpening) and a mean pass that pulls pixels
// onto their 3 x 3 neighbourhood mean unless they lie across an edge.
// The mean pass reads a copy and keeps running column sums of three rows, so each pixel costs
// a few additions; the 3 x 3 count is 9 inside and 6 or 4 at the picture's edges.
// Inside: mean pass - smoothing step - entry
#include "engine/upconvert.h"

#include <type_traits>

#include "engine/convolve.h"
#include "engine/pixel.h"

namespace {

// ---- mean pass -----------------------------------------------------------------------------

struct MeanJob {
  const C_ImgBuff* copy;
  C_ImgBuff* picture;
  int32_t width, height;
};

// Division by the pixel count of the neighbourhood; the constant cases let the compiler
// multiply instead of divide.
template <class S>
inline S DivCount(S s, int32_t n) {
  switch (n) {
    case 9: return s / 9;
    case 6: return s / 6;
    case 4: return s / 4;
    case 3: return s / 3;
    case 2: return s / 2;
    default: return s;
  }
}

template <class T, int CH>
void MeanRowsT(const MeanJob& job, int32_t yb, int32_t ye) {
  typedef std::conditional_t<sizeof(T) == 2, uint32_t, uint64_t> S;  // 9 x 65535 fits 32 bits
  const S threshold = sizeof(T) == 2 ? 513 : 131073;
  const int32_t w = job.width, h = job.height;
  for (int32_t y = yb; y < ye; ++y) {
    const int32_t v0 = y > 0 ? y - 1 : 0, v1 = y + 1 < h ? y + 1 : h - 1;
    const int32_t rows = v1 - v0 + 1;
    const T* rp[3];
    for (int32_t v = v0; v <= v1; ++v) rp[v - v0] = RowPtr<const T>(job.copy, 0, v);
    const T* centre = RowPtr<const T>(job.copy, 0, y);
    T* out = RowPtr<T>(job.picture, 0, y);
    auto colSum = [&](int32_t u, int32_t c) {
      S s = 0;
      for (int32_t j = 0; j < rows; ++j) s += rp[j][int64_t(u) * CH + c];
      return s;
    };
    for (int32_t x = 0; x < w; ++x) {
      const int32_t u0 = x > 0 ? x - 1 : 0, u1 = x + 1 < w ? x + 1 : w - 1;
      const int32_t n = rows * (u1 - u0 + 1);
      S mean[CH];
      bool near = true;
      for (int32_t c = 0; c < CH; ++c) {
        S s = 0;
        for (int32_t u = u0; u <= u1; ++u) s += colSum(u, c);
        mean[c] = DivCount<S>(s, n);
        const S v = centre[int64_t(x) * CH + c];
        near = near && (mean[c] > v ? mean[c] - v : v - mean[c]) < threshold;
      }
      if (near)
        for (int32_t c = 0; c < CH; ++c) out[int64_t(x) * CH + c] = T(mean[c]);
    }
  }
}

void MeanRows(void* ctx, uint64_t first, uint64_t count) {
  const MeanJob& job = *static_cast<const MeanJob*>(ctx);
  const int32_t yb = int32_t(first), ye = int32_t(first + count);
  switch (job.picture->format) {
    case 2: MeanRowsT<uint16_t, 1>(job, yb, ye); break;
    case 3: MeanRowsT<uint32_t, 1>(job, yb, ye); break;
    case 5: MeanRowsT<uint16_t, 3>(job, yb, ye); break;
    default: MeanRowsT<uint32_t, 3>(job, yb, ye); break;
  }
}

// ---- smoothing step ------------------------------------------------------------------------

const int32_t kMean[9] = {0, 1, 0, 1, 5, 1, 0, 1, 0};
const int32_t kSharpen[9] = {0, -1, 0, -1, 10, -1, 0, -1, 0};

int32_t SmoothStep(CImgBuff* img) {
  if (!ConvolveInt(img, 3, kMean, 1, 1, nullptr)) return 0;
  if (!ConvolveInt(img, 3, kSharpen, 1, 1, nullptr)) return 0;
  CImgBuff copy;
  copy.CopyFrom(*img);
  if (!copy.Pixels()) return 0;  // the mean pass must not read an empty copy
  MeanJob job{copy.record, img->record, img->Width(), img->Height()};
  RunRows(MeanRows, &job, RoiRect{0, 0, job.width - 1, job.height - 1});
  return 1;
}

int32_t BitsPerChannel(int32_t format) {
  switch (format) {
    case 1: case 4: return 8;
    case 2: case 5: return 16;
    case 3: case 6: return 32;
    default: return 0;
  }
}

}  // namespace

// ---- entry ---------------------------------------------------------------------------------

int32_t UpConvert(CImgBuff* img, uint32_t bits) {
  if (!img || !img->record || (bits != 16 && bits != 32)) return 0;
  const int32_t format = img->Format();
  const int32_t cur = BitsPerChannel(format);
  if (!cur || !img->Pixels()) return 0;
  if (uint32_t(cur) == bits) return 1;
  const int32_t f16 = IsGrayFormat(format) ? 2 : 5, f32 = IsGrayFormat(format) ? 3 : 6;
  if (bits == 16) {
    if (!img->record->ConvertTo(f16)) return 0;
    return cur == 8 ? SmoothStep(img) : 1;  // from 32 bits: the high halves, no smoothing
  }
  if (cur == 8) {
    if (!img->record->ConvertTo(f16) || !SmoothStep(img)) return 0;
  }
  if (!img->record->ConvertTo(f32)) return 0;
  return SmoothStep(img);
}
