// regionplane.h - the prepared planes behind the region score and the template search: a
// rectangle of a picture converted once into the values the comparison reads (8-bit gray,
// 8-bit R, G, B, or L*a*b* doubles), and the kernels that score a template plane against a
// position of an image plane.  Converting once per call instead of once per candidate
// position is what makes the search affordable; the per-position kernels allocate nothing.
//
//   CompareMode       gray, RGB or L*a*b*, chosen by the template's format and colour mode
//   PlaneBuffer       an owned array that reports a failed allocation instead of throwing
//   ComparePlane      one converted rectangle
//   BuildPlane        fills a ComparePlane from a picture
//   NormaliseScratch  per-caller scratch for the contrast stretch of one candidate region
//   ScorePlanes       the score of a template plane at a position of an image plane
//   RegionExtremesRow lowest and highest value of the template-sized regions along a row
//   WindowExtremes    the same for every region of a block of rows, by sliding windows
//   StretchedSadU8    the stretched sum of a region whose extremes are known
//   RegionScorer      RegionDissimilarityAt of one template at many points of one image
#pragma once
#include <cstdint>
#include <new>

#include "engine/frame.h"
#include "engine/matchsad.h"

enum CompareMode : int32_t { CompareGray = 0, CompareRgb = 1, CompareLab = 2 };

inline CompareMode CompareModeFor(int32_t templateFormat, int32_t colourMode) {
  if (templateFormat >= 4 && templateFormat <= 9) return colourMode == 0 ? CompareRgb : CompareLab;
  return CompareGray;
}

template <class T>
class PlaneBuffer {
 public:
  PlaneBuffer() = default;
  ~PlaneBuffer() { delete[] p_; }
  PlaneBuffer(const PlaneBuffer&) = delete;
  PlaneBuffer& operator=(const PlaneBuffer&) = delete;
  // 1 with room for n elements (contents undefined), 0 when memory is short.
  int32_t Reserve(int64_t n) {
    if (n <= size_) return 1;
    delete[] p_;
    p_ = nullptr;
    size_ = 0;
    if (n < 0 || uint64_t(n) > (uint64_t(1) << 40) / sizeof(T)) return 0;
    p_ = new (std::nothrow) T[size_t(n)];
    if (!p_) return 0;
    size_ = n;
    return 1;
  }
  T* Data() const { return p_; }

 private:
  T* p_ = nullptr;
  int64_t size_ = 0;
};

// Values of a rectangle of a picture: gray 1 byte per pixel, RGB 3 bytes, L*a*b* 3 doubles.
struct ComparePlane {
  CompareMode mode = CompareGray;
  int32_t format = 0;    // format of the picture it came from (for the contrast round trip)
  int32_t w = 0, h = 0;
  int64_t stride = 0;    // elements per row: w or 3 w
  PlaneBuffer<uint8_t> u8;
  PlaneBuffer<double> lab;

  const uint8_t* U8(int32_t x, int32_t y) const { return u8.Data() + y * stride + int64_t(x) * Channels(); }
  const double* Lab(int32_t x, int32_t y) const { return lab.Data() + y * stride + int64_t(x) * 3; }
  int32_t Channels() const { return mode == CompareGray ? 1 : 3; }
};

// Converts the rectangle (x0, y0) .. (x0 + w - 1, y0 + h - 1), which the caller keeps inside
// the picture.  normaliseLab: each L*a*b* value becomes the pixel's colour with L* = 50 as the
// picture's format stores and reads it back (the L*a*b* contrast step, which does not depend on
// the neighbours).  Rows go to the worker pool when parallel is set and the rectangle is large.
// 1, or 0 when memory is short.
int32_t BuildPlane(const C_ImgBuff* rec, int32_t x0, int32_t y0, int32_t w, int32_t h, CompareMode mode,
                   int32_t normaliseLab, int32_t parallel, ComparePlane* out);

// Stretches a whole gray or RGB plane in place to its own 0..255 range, the values then made
// what the plane's format stores and reads back (templates are stretched once per call).
int32_t NormalisePlaneU8(ComparePlane* plane);
struct NormaliseScratch;
// The same with the caller's scratch, whose tables are then made for the plane's format.
int32_t NormalisePlaneU8(ComparePlane* plane, NormaliseScratch* scratch);

// Scratch of one caller for stretching candidate regions: a template-sized buffer, and the
// image format's read-back of every stretched gray level (formats that do not store an 8-bit
// gray exactly) with a one-pixel picture for the R, G, B read-back.
struct NormaliseScratch {
  PlaneBuffer<uint8_t> buf;
  int32_t format = 0;        // format the tables below were made for; 0 = not yet
  uint8_t grayBack[256];
  int32_t rgbExact = 1;      // R, G, B come back as stored
  C_ImgBuff one;
  // The stretch of the last extremes asked for: its table, and when the stretch is also
  // d x whole + (d x fraction) / 65536 for every d = v - lo of the range (checked against
  // the table), the vector loop's factors.
  int32_t lastLo = -1, lastHi = -1;
  uint8_t table[256];
  int32_t vector = 0;
  uint16_t whole = 0, fraction = 0;
  int32_t oneFormat = 0;     // format `one` was made for; 0 = not made
  // Makes the tables for a format and room for n bytes, for stretches in the given mode;
  // 1, or 0 when memory is short.
  int32_t Prepare(int32_t format, int64_t n, CompareMode mode = CompareRgb);
  // Makes the stretch of (lo, hi) the current one (after Prepare).  Every table entry is
  // defined: levels outside lo..hi take the ends' values.
  void Use(CompareMode mode, uint8_t lo, uint8_t hi);
  // Rows of w pixels through the current table and the format's read-back.
  void StretchRows(CompareMode mode, const uint8_t* src, int64_t srcStride, int32_t w, int32_t rows, uint8_t* dst,
                   int64_t dstStride);
};

// Score of tmpl (already stretched when normalise is set) against the region of img with its
// top-left at plane position (px, py); the region is inside img.  Gray and RGB with normalise
// stretch a copy of the region in scratch (which must have room for tmpl's bytes).
double ScorePlanes(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl,
                   int32_t normalise, NormaliseScratch* scratch);

// lo[k], hi[k]: the lowest and highest value (any channel) of the tw x th region at plane
// position (px0 + k, py), k = 0 .. count - 1; the regions are inside img.  scratch has room
// for 2 x (count + tw - 1) x channels bytes.
void RegionExtremesRow(const ComparePlane& img, int32_t px0, int32_t py, int32_t count, int32_t tw, int32_t th,
                       uint8_t* lo, uint8_t* hi, uint8_t* scratch);

// lo[r x across + k], hi[r x across + k]: the lowest and highest value (any channel) of the
// tw x th region at plane position (px0 + k, py0 + r), k < across, r < rows; the regions are
// inside img.  Sliding-window passes down the columns and then along the rows take a few
// operations per element whatever the template's size.  scratch has room for
// WindowExtremesScratch bytes.
int64_t WindowExtremesScratch(int32_t across, int32_t rows, int32_t tw, int32_t th, int32_t channels);
void WindowExtremes(const ComparePlane& img, int32_t px0, int32_t py0, int32_t across, int32_t rows, int32_t tw,
                    int32_t th, uint8_t* lo, uint8_t* hi, uint8_t* scratch);

// The sum of absolute differences between tmpl (stretched) and the region at (px, py)
// stretched with its extremes lo and hi: what ScorePlanes with normalise sums.  Gray and RGB.
int64_t StretchedSadU8(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl, uint8_t lo,
                       uint8_t hi, NormaliseScratch* scratch);
// The score of a gray or RGB sum of absolute differences.
double ScoreFromSadU8(CompareMode mode, int64_t sad, int32_t w, int32_t h);

// Sums of a template plane against a position of an image plane, without the stretch, that
// give up as soon as the running sum exceeds limit (L*a*b*: once its score exceeds limit's),
// so the position can then neither win nor tie; *out is the full sum when the result is 1.  Gray and RGB sums are integers, the
// L*a*b* sum a double taken in the same order as SumLabDiff.
int32_t BoundedSumU8(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl, int64_t limit,
                     int64_t* out);
int32_t BoundedSumLab(const ComparePlane& img, int32_t px, int32_t py, const ComparePlane& tmpl, double limit,
                      double* out);
// The score of an unstretched sum.
double ScoreFromSum(CompareMode mode, double sum, int32_t w, int32_t h);

// The kernels, exposed for their tests.
int64_t SumAbsDiffU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride,
                     int32_t rowBytes, int32_t rows);
double SumLabDiff(const double* a, int64_t aStride, const double* b, int64_t bStride, int32_t w,
                  int32_t rows);

// Scores one template at many fractional positions of one image exactly as
// RegionDissimilarityAt does, without making its pictures and planes again for each point:
// the template's plane is made and stretched once, the enlarged region goes to a picture kept
// for the purpose, and points asked for again are answered from memory.  8-bit gray and R, G, B
// pictures at positions in 256ths of a pixel take the shift and the stretch straight from the
// image bytes (the shift's blends are exact there, so its truncated results are integers).
class RegionScorer {
 public:
  // 1 when prepared; 0 (unusable pictures, memory short) leaves At to RegionDissimilarityAt.
  int32_t Prepare(CImgBuff* image, CImgBuff* templ, int32_t normalise, int32_t colourMode);
  double At(double x, double y);

 private:
  double Score(double x, double y);
  double ScoreBytes(int32_t ix, int32_t iy, uint32_t wx, uint32_t wy);

  CImgBuff* image_ = nullptr;
  CImgBuff* templ_ = nullptr;
  int32_t normalise_ = 0, colourMode_ = 0, ready_ = 0, bytes_ = 0;
  CompareMode mode_ = CompareGray;
  int32_t tw_ = 0, th_ = 0;
  ComparePlane tmpl_, region_;
  NormaliseScratch scratch_;
  CImgBuff moved_;
  PlaneBuffer<uint8_t> rows_;  // 8-bit path: the rows blended across, then the region
  static constexpr int32_t kFactorsKept = 8;
  uint8_t factorLo_[kFactorsKept], factorHi_[kFactorsKept];
  int32_t factorVector_[kFactorsKept];
  StretchFactors factor_[kFactorsKept];
  int32_t factorsKept_ = 0;
  uint32_t nextFactor_ = 0;
  static constexpr int32_t kRemembered = 64;
  double seenX_[kRemembered], seenY_[kRemembered], seenScore_[kRemembered];
  int32_t seen_ = 0;
};
