// fft.h - the record of one forward Fourier transform of a picture, and its release.
// SpectrumRecord  state of one transform: source size and format, the square side N, and the
//                 real and imaginary planes of one (gray) or three (R, G, B) channels, all in
//                 one owned block; copied by value onto the Fourier filters' spectrum stack.
#pragma once
#include <cstdint>

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

// Frees the record's block (allocated with calloc) and zeroes the whole record, so a record
// released twice, or one that never held a block, is harmless.  1, or 0 for a null pointer.
int32_t FftFree(SpectrumRecord* rec);
