// fft.h - the Fourier transform of pictures: radix-2 kernels on plain arrays of doubles, and
// the forward transform, display and inverse of a picture through a spectrum record.
// SpectrumRecord  state of one transform: source size and format, the square side N, and the
//                 real and imaginary planes of one (gray) or three (R, G, B) channels, all in
//                 one owned block; copied by value onto the Fourier filters' spectrum stack.
//
// Kernels (fft_core.cpp): Fft1D, Fft2DForward / Fft2DInverse, TransposeMatrix,
// FftShiftQuadrants, PowerSpectrum, MaxPowerSpectrum, LogScaleSpectrum.  Planes are row-major, w x h doubles.
// The forward transform is X[k] = sum x[j] e^(-2 pi i jk / n), unscaled; the inverse divides
// by n at each 1-D pass, so by w x h in two dimensions.
//
// Pictures (fft.cpp): FftForward fills a record from a picture, FftRender draws its log power
// with the zero frequency centred, FftInverse edits the spectrum through a mask (filter A) or a
// magnitude picture (filter B) and transforms it back, FftFree releases the record's block.
#pragma once
#include <cstdint>

#include "engine/frame.h"

#pragma pack(push, 1)
struct SpectrumRecord {
  int32_t format;        // ImgFormat of the source picture
  int32_t width;         // source width
  int32_t height;        // source height
  int32_t sideColumns;   // N, the smallest power of two >= max(width, height)
  int32_t sideRows;      // N again: the spectrum is square
  int32_t bytesPerPixel; // of the source format
  int32_t flag;          // set to 1 by the filter that fills the record; the engine never reads it
  double* re[3];         // real planes, channel 0..2, each N x N row-major
  double* im[3];         // imaginary planes
  double logScale[3];    // 1 / log10(maximum power + 1) per channel, written when rendering
  void* block;           // the one zero-filled allocation holding every plane
};
#pragma pack(pop)
static_assert(sizeof(SpectrumRecord) == 108, "SpectrumRecord is a packed 108-byte record");

// ---- kernels ---------------------------------------------------------------------------------

// In-place transform of n complex values (re, im), n a power of two.  sign -1 is forward, +1
// inverse (divided by n).  With tableFlag set, forward transforms of at most 4096 points take
// their twiddles from the fixed 4096-entry table, otherwise they are computed.  1, or 0 for a
// null array, an n that is not a power of two, a sign other than -1 and +1, or no memory for
// the call's twiddles (the arrays then untouched).
int32_t Fft1D(uint64_t n, int32_t sign, double* re, double* im, int32_t tableFlag);
// 2-D transforms of a w x h complex plane, w and h powers of two of at least 2: every row,
// then every column.  1, or 0 (planes untouched) for a null plane or another size; 0 also when
// working memory runs out, the planes then possibly half transformed.
int32_t Fft2DForward(double* re, double* im, uint64_t w, uint64_t h);
int32_t Fft2DInverse(double* re, double* im, uint64_t w, uint64_t h);
// dst[c * rows + r] = src[r * cols + c].  dst may equal src (a temporary copy is made); other
// overlaps are not allowed.  1, or 0 for a null array, a size past 64 bits or no memory.
int32_t TransposeMatrix(double* dst, double* src, uint64_t cols, uint64_t rows);
// Exchanges element (r, c) with (r + h/2, (c + w/2) mod w) for r < h/2: for even sizes the
// diagonal quadrants trade places, zero frequency (0, 0) moving to (h/2, w/2).  1; 0 for a
// null plane.
int32_t FftShiftQuadrants(double* plane, uint64_t w, uint64_t h);
// out[i] = re[i]^2 + im[i]^2; out may be re or im.  1, or 0 for a null pointer or n of 0.
int32_t PowerSpectrum(double* out, const double* re, const double* im, uint64_t n);
// The largest re[i]^2 + im[i]^2 of n elements into *maximum (0 for n of 0): the maximum that
// LogScaleSpectrum finds in PowerSpectrum's output, without writing that plane.  1, or 0 for
// a null pointer or when the call's lock cannot be made.
int32_t MaxPowerSpectrum(const double* re, const double* im, uint64_t n, double* maximum);
// Every value becomes log10(|x| + 1) x scale with scale = 1 / log10(max |x| + 1), so the
// largest is 1.  All-zero values give scale 0 and values 0.  scale is written when given.
// 1, or 0 when the call's lock cannot be made (values untouched).
int32_t LogScaleSpectrum(double* values, uint64_t n, double* scale);

// ---- pictures --------------------------------------------------------------------------------

// Transforms a picture of format 1..9 and at least 2 pixels in one direction into rec: the
// source is padded with black on the right and at the bottom to N x N, gray read as one
// channel and colour as R, G, B, each value a fraction of its depth's maximum; the planes hold
// the spectrum with the zero frequency at (N/2, N/2).  rec's block is reused when N and the
// channel count match, otherwise freed and allocated anew.  1, or 0 (rec may keep a block
// that the caller frees).
int32_t FftForward(SpectrumRecord* rec, CImgBuff* source);
// output becomes the log power of the spectrum in the source's size and format, the part of
// the N x N spectrum from column (N - w)/2 and row (N - h)/2, values 1..255 (256..65535,
// 65536..4294967295 for deeper formats) so that nothing renders black.  Stores each channel's
// log scale in rec.  1, or 0 for an unusable record or no memory.
int32_t FftRender(SpectrumRecord* rec, CImgBuff* output);
// Edits the displayed part of rec's spectrum by at most one filter picture of the source's
// size (A: pixel 0 removes the coefficient, others keep it; B: pixel 0 removes it, a fraction f
// sets its power to (maximum power + 1)^f - 1), transforms it back and stores the real part
// into output in the source's size and format.  1, or 0 for an unusable record, both filters,
// a filter of another size, B on a record with a zero log scale whose spectrum is not all zero
// (never rendered), or no memory.
int32_t FftInverse(SpectrumRecord* rec, CImgBuff* output, CImgBuff* filterA, CImgBuff* filterB);

// Frees the record's block (allocated with calloc) and zeroes the whole record, so a record
// released twice, or one that never held a block, is harmless.  1, or 0 for a null pointer.
int32_t FftFree(SpectrumRecord* rec);
