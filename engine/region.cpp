// region.cpp - RegionDissimilarity, RegionDissimilarityAt and RegionStatistics.
// The score converts the region and the template once into comparison planes (gray, R, G, B
// or L*a*b*), stretches them when asked, and sums the differences in scan order on the
// calling thread: integer sums for gray and R, G, B, one running double for L*a*b*, so the
// score is the same whatever the number of workers that converted the planes.
// RegionScorer answers RegionDissimilarityAt for many points of one image and template.
// Inside: dissimilarity - fractional position - scorer - statistics
#include "engine/region.h"

#include <cmath>
#include <cstring>

#include "core/colour.h"
#include "engine/matchsad.h"
#include "engine/regionplane.h"
#include "engine/shift.h"

namespace {

int32_t Usable(const CImgBuff* img) {
  return img && img->record && IsValidFormat(img->record->format) && img->record->pixels &&
         img->record->width >= 1 && img->record->height >= 1;
}

}  // namespace

// ---- dissimilarity -------------------------------------------------------------------------

double RegionDissimilarity(CImgBuff* image, CImgBuff* templ, int32_t x, int32_t y, int32_t normalise,
                           int32_t colourMode) {
  if (!Usable(image) || !Usable(templ)) return -1.0;
  const int32_t tw = templ->Width(), th = templ->Height();
  // Negative corners would put the region outside the image: refused like a region that
  // reaches past the right or bottom edge.
  if (x < 0 || y < 0) return -1.0;
  if (int64_t(x) + tw > image->Width() || int64_t(y) + th > image->Height()) return -1.0;
  const CompareMode mode = CompareModeFor(templ->Format(), colourMode);
  // Small templates, the matcher's common case, stay on the calling thread.
  const int32_t parallel = int64_t(tw) * th >= ParallelPixelThreshold;
  const int32_t labFifty = normalise && mode == CompareLab;
  ComparePlane region, tmpl;
  if (!BuildPlane(image->record, x, y, tw, th, mode, labFifty, parallel, &region)) return -1.0;
  if (!BuildPlane(templ->record, 0, 0, tw, th, mode, labFifty, parallel, &tmpl)) return -1.0;
  if (normalise && mode != CompareLab) {
    if (!NormalisePlaneU8(&region) || !NormalisePlaneU8(&tmpl)) return -1.0;
  }
  return ScorePlanes(region, 0, 0, tmpl, 0, nullptr);
}

// ---- fractional position -------------------------------------------------------------------

double RegionDissimilarityAt(CImgBuff* image, CImgBuff* templ, double x, double y, int32_t normalise,
                             int32_t colourMode) {
  if (!Usable(image) || !Usable(templ)) return -1.0;
  // Positions between -1 and 0 would truncate to 0 and be read as if inside; refuse every
  // negative (and every non-finite) position instead.
  if (!(x >= 0.0) || !(y >= 0.0) || !(x < 2147483647.0) || !(y < 2147483647.0)) return -1.0;
  const int32_t ix = int32_t(x), iy = int32_t(y);
  const int64_t x1 = int64_t(ix) + templ->Width(), y1 = int64_t(iy) + templ->Height();
  if (x1 >= image->Width() || y1 >= image->Height()) return -1.0;
  // The enlarged region is copied row by row here rather than cropped: it is small, and the
  // refinement asks for dozens of them, each not worth a hand-over to the worker pool.
  CImgBuff moved;
  const int32_t cw = int32_t(x1) - ix + 1, ch = int32_t(y1) - iy + 1;
  if (!moved.Allocate(cw, ch, image->Format())) return -1.0;
  const size_t rowBytes = size_t(cw) * size_t(ImgBytesPerPixel[image->Format()]);
  for (int32_t j = 0; j < ch; ++j)
    std::memcpy(RowPtr<uint8_t>(moved.record, 0, j), RowPtr<uint8_t>(image->record, ix, iy + j), rowBytes);
  const double fx = x - ix, fy = y - iy;
  if ((fx != 0 || fy != 0) && !ShiftImage(&moved, -fx, -fy, 0)) return -1.0;
  return RegionDissimilarity(&moved, templ, 0, 0, normalise, colourMode);
}

// ---- scorer --------------------------------------------------------------------------------

int32_t RegionScorer::Prepare(CImgBuff* image, CImgBuff* templ, int32_t normalise, int32_t colourMode) {
  image_ = image;
  templ_ = templ;
  normalise_ = normalise;
  colourMode_ = colourMode;
  ready_ = 0;
  seen_ = 0;
  factorsKept_ = 0;
  if (!Usable(image) || !Usable(templ)) return 0;
  tw_ = templ->Width();
  th_ = templ->Height();
  if (int64_t(tw_) + 1 > image->Width() || int64_t(th_) + 1 > image->Height()) return 0;  // no point fits
  mode_ = CompareModeFor(templ->Format(), colourMode);
  const int32_t parallel = int64_t(tw_) * th_ >= ParallelPixelThreshold;
  if (!BuildPlane(templ->record, 0, 0, tw_, th_, mode_, normalise && mode_ == CompareLab, parallel, &tmpl_)) return 0;
  if (normalise && mode_ != CompareLab && !NormalisePlaneU8(&tmpl_)) return 0;
  // The stretch of a region reads back through the image's format, as the enlarged region's.
  if (mode_ != CompareLab && !scratch_.Prepare(image->Format(), 0, mode_)) return 0;
  bytes_ = (image->Format() == ImgFormatGray8 && mode_ == CompareGray) ||
           (image->Format() == ImgFormatRgb24 && mode_ == CompareRgb);
  if (bytes_) {
    const int64_t rowBytes = int64_t(tw_) * tmpl_.Channels();
    if (!rows_.Reserve(rowBytes * (th_ + 1) + rowBytes * th_) || !scratch_.buf.Reserve(rowBytes * th_)) return 0;
  }
  moved_.Free();  // made at the first point the 8-bit path does not serve
  ready_ = 1;
  return 1;
}

double RegionScorer::At(double x, double y) {
  // The same point asked for again (the refinement's levels share corners) has the same
  // score: every step of the score depends on the point alone.
  for (int32_t i = 0; i < seen_; ++i)
    if (seenX_[i] == x && seenY_[i] == y) return seenScore_[i];
  const double s = Score(x, y);
  if (seen_ < kRemembered) {
    seenX_[seen_] = x;
    seenY_[seen_] = y;
    seenScore_[seen_++] = s;
  }
  return s;
}

double RegionScorer::Score(double x, double y) {
  if (!ready_) return RegionDissimilarityAt(image_, templ_, x, y, normalise_, colourMode_);
  // The refusals of RegionDissimilarityAt, in its order.
  if (!(x >= 0.0) || !(y >= 0.0) || !(x < 2147483647.0) || !(y < 2147483647.0)) return -1.0;
  const int32_t ix = int32_t(x), iy = int32_t(y);
  if (int64_t(ix) + tw_ >= image_->Width() || int64_t(iy) + th_ >= image_->Height()) return -1.0;
  const double fx = x - ix, fy = y - iy;
  if (bytes_) {
    const double wx = fx * 256.0, wy = fy * 256.0;
    if (wx == std::floor(wx) && wy == std::floor(wy)) return ScoreBytes(ix, iy, uint32_t(wx), uint32_t(wy));
  }
  if (moved_.Format() == 0 && !moved_.Allocate(tw_ + 1, th_ + 1, image_->Format()))
    return RegionDissimilarityAt(image_, templ_, x, y, normalise_, colourMode_);
  const size_t rowBytes = size_t(tw_ + 1) * size_t(ImgBytesPerPixel[image_->Format()]);
  for (int32_t j = 0; j <= th_; ++j)
    std::memcpy(RowPtr<uint8_t>(moved_.record, 0, j), RowPtr<uint8_t>(image_->record, ix, iy + j), rowBytes);
  if ((fx != 0 || fy != 0) && !ShiftImage(&moved_, -fx, -fy, 0)) return -1.0;
  const int32_t parallel = int64_t(tw_) * th_ >= ParallelPixelThreshold;
  if (!BuildPlane(moved_.record, 0, 0, tw_, th_, mode_, normalise_ && mode_ == CompareLab, parallel, &region_))
    return -1.0;
  if (normalise_ && mode_ != CompareLab && !NormalisePlaneU8(&region_, &scratch_)) return -1.0;
  return ScorePlanes(region_, 0, 0, tmpl_, 0, nullptr);
}

// 8-bit gray or R, G, B at (ix + wx / 256, iy + wy / 256): the rows blended with the next
// pixel, then with the next row, each truncated, as ShiftImage would store them; then the
// region's stretch and sum straight from those bytes.
double RegionScorer::ScoreBytes(int32_t ix, int32_t iy, uint32_t wx, uint32_t wy) {
  const int32_t ch = tmpl_.Channels(), rowBytes = tw_ * ch;
  const int64_t imageStride = int64_t(image_->Width()) * ch;
  const uint8_t* src = RowPtr<uint8_t>(image_->record, ix, iy);
  const uint8_t* r = src;
  int64_t rStride = imageStride;
  if (wx) {
    const int32_t rows = wy ? th_ + 1 : th_;
    for (int32_t j = 0; j < rows; ++j)
      BlendBytesU8(src + j * imageStride, src + j * imageStride + ch, rows_.Data() + int64_t(j) * rowBytes, rowBytes, wx);
    r = rows_.Data();
    rStride = rowBytes;
  }
  const uint8_t* c = r;
  int64_t cStride = rStride;
  if (wy) {
    uint8_t* shifted = rows_.Data() + int64_t(rowBytes) * (th_ + 1);
    for (int32_t j = 0; j < th_; ++j)
      BlendBytesU8(r + j * rStride, r + (j + 1) * rStride, shifted + int64_t(j) * rowBytes, rowBytes, wy);
    c = shifted;
    cStride = rowBytes;
  }
  int64_t sad;
  if (!normalise_) {
    sad = SadBoundedU8(c, cStride, tmpl_.u8.Data(), tmpl_.stride, rowBytes, th_, INT64_MAX);
  } else {
    uint8_t lo, hi;
    ByteExtremesU8(c, cStride, rowBytes, th_, &lo, &hi);
    // Neighbouring points mostly share their extremes: the vector factors of the last few
    // are kept.
    int32_t k = 0;
    while (k < factorsKept_ && !(factorLo_[k] == lo && factorHi_[k] == hi)) ++k;
    if (k == factorsKept_) {
      scratch_.Use(mode_, lo, hi);
      k = factorsKept_ < kFactorsKept ? factorsKept_++ : int32_t(nextFactor_++ % kFactorsKept);
      factorLo_[k] = lo;
      factorHi_[k] = hi;
      factorVector_[k] = scratch_.vector;
      factor_[k] = StretchFactors{lo, scratch_.whole, scratch_.fraction};
    }
    if (factorVector_[k]) {
      sad = StretchSadBoundedU8(c, cStride, tmpl_.u8.Data(), tmpl_.stride, rowBytes, th_, factor_[k], INT64_MAX);
    } else {
      scratch_.Use(mode_, lo, hi);
      scratch_.StretchRows(mode_, c, cStride, tw_, th_, scratch_.buf.Data(), rowBytes);
      sad = SadBoundedU8(scratch_.buf.Data(), rowBytes, tmpl_.u8.Data(), tmpl_.stride, rowBytes, th_, INT64_MAX);
    }
  }
  return ScoreFromSadU8(mode_, sad, tw_, th_);
}

// ---- statistics ----------------------------------------------------------------------------

namespace {

// Spread and roughness of a run of channel means: the sums of squared deviations from the
// overall mean and the sums of absolute second differences (counted from the fourth mean).
struct MeanRun {
  double dev[3] = {0, 0, 0};
  double rough[3] = {0, 0, 0};
  double hist[2][3] = {{0, 0, 0}, {0, 0, 0}};  // previous and the one before
  int64_t k = 0;

  void Add(const double m[3], const double mean[3]) {
    for (int c = 0; c < 3; ++c) {
      const double d = m[c] - mean[c];
      dev[c] += d * d;
      if (k >= 3) rough[c] += std::fabs((m[c] - hist[0][c]) - (hist[0][c] - hist[1][c]));
      hist[1][c] = hist[0][c];
      hist[0][c] = m[c];
    }
    ++k;
  }
};

}  // namespace

int32_t RegionStatistics(CImgBuff* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, RegionStats* out) {
  if (!out || !Usable(image)) return 0;
  if (x0 < 0 || y0 < 0 || x0 > x1 || y0 > y1 || x1 >= image->Width() || y1 >= image->Height()) return 0;
  const int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
  // Row means come from the row being scanned; column sums are kept for the whole width so
  // that one pass over the pixels serves both.  Each sum is taken in the same order as a
  // separate pass over rows or columns would take it.
  PlaneBuffer<double> rowSums, colSums;
  if (!rowSums.Reserve(3 * int64_t(h)) || !colSums.Reserve(3 * int64_t(w))) return 0;
  std::memset(colSums.Data(), 0, sizeof(double) * 3 * size_t(w));
  const C_ImgBuff* rec = image->record;
  double mn[3] = {0, 0, 0}, mx[3] = {0, 0, 0}, sum[3] = {0, 0, 0};
  for (int32_t y = y0; y <= y1; ++y) {
    double rs[3] = {0, 0, 0};
    for (int32_t x = x0; x <= x1; ++x) {
      double X, Y, Z, lab[3];
      rec->GetXYZ(x, y, &X, &Y, &Z);
      XyzToLab(X, Y, Z, &lab[0], &lab[1], &lab[2]);
      double* cs = colSums.Data() + 3 * int64_t(x - x0);
      for (int c = 0; c < 3; ++c) {
        if (x == x0 && y == y0) {
          mn[c] = mx[c] = lab[c];
        } else {
          mn[c] = lab[c] < mn[c] ? lab[c] : mn[c];
          mx[c] = lab[c] > mx[c] ? lab[c] : mx[c];
        }
        sum[c] += lab[c];
        rs[c] += lab[c];
        cs[c] += lab[c];
      }
    }
    std::memcpy(rowSums.Data() + 3 * int64_t(y - y0), rs, sizeof rs);
  }
  RegionStats st;
  std::memset(&st, 0, sizeof st);
  const double area = double(w) * double(h);
  double mean[3];
  for (int c = 0; c < 3; ++c) {
    mean[c] = sum[c] / area;
    st.v[3 * c] = mn[c];
    st.v[3 * c + 1] = mx[c];
    st.v[3 * c + 2] = mean[c];
  }
  MeanRun rows, cols;
  for (int32_t j = 0; j < h; ++j) {
    const double* s = rowSums.Data() + 3 * int64_t(j);
    const double m[3] = {s[0] / w, s[1] / w, s[2] / w};
    rows.Add(m, mean);
  }
  for (int32_t i = 0; i < w; ++i) {
    const double* s = colSums.Data() + 3 * int64_t(i);
    const double m[3] = {s[0] / h, s[1] / h, s[2] / h};
    cols.Add(m, mean);
  }
  auto larger = [](double a, double b) { return a > b ? a : b; };
  st.v[9] = std::sqrt(rows.dev[0] / h);
  st.v[10] = std::sqrt(cols.dev[0] / w);
  st.v[11] = std::sqrt(larger(rows.dev[1] / h, rows.dev[2] / h));
  st.v[12] = std::sqrt(larger(cols.dev[1] / w, cols.dev[2] / w));
  st.v[13] = rows.rough[0];
  st.v[14] = cols.rough[0];
  st.v[15] = larger(rows.rough[1], rows.rough[2]);
  st.v[16] = larger(cols.rough[1], cols.rough[2]);
  *out = st;
  return 1;
}
