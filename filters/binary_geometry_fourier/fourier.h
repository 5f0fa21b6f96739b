// fourier.h - the Fourier filters without a window: the forward transform of the chain
// rectangle onto the spectrum stack, and the two inverse transforms that take it back.
//
//   CLfFourierBase  counts itself among the owners of the spectrum stack
//   CLfFFT          rectangle -> its log power spectrum; the transform pushed
//   CLfIFFT         newest transform popped; the spectrum picture masks it (black removes)
//   CLfIFFTEX       as CLfIFFT, the spectrum picture also sets the magnitudes
#pragma once
#include <cstdint>

#include "app/filter.h"

class CLfFourierBase : public CImgFilter {
 public:
  CLfFourierBase();
  ~CLfFourierBase() override;
  CLfFourierBase(const CLfFourierBase&) = delete;
  CLfFourierBase& operator=(const CLfFourierBase&) = delete;
};

class CLfFFT : public CLfFourierBase {
 public:
  static constexpr uint32_t kFilterId = 10036;
  const wchar_t* GetName(const wchar_t*) override { return L"FFT"; }
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
};

class CLfIFFT : public CLfFourierBase {
 public:
  static constexpr uint32_t kFilterId = 10037;
  const wchar_t* GetName(const wchar_t*) override { return L"IFFT"; }
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
};

class CLfIFFTEX : public CLfFourierBase {
 public:
  static constexpr uint32_t kFilterId = 10039;
  const wchar_t* GetName(const wchar_t*) override { return L"IFFT EX"; }
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
};
