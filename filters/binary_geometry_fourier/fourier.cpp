// fourier.cpp - FFT, IFFT and IFFT EX: the engine's transforms between the chain rectangle
// and the spectrum stack.  Entries are used newest first, so nested pairs match.
#include "filters/binary_geometry_fourier/fourier.h"

#include "app/spectrum.h"
#include "core/imgbuff.h"
#include "engine/fft.h"
#include "filters/common/scaffold.h"

namespace {

// Pops the newest transform and puts its inverse back into the rectangle it came from, the
// spectrum picture there (as the filters in between left it) going in as filter A (mask) or B
// (mask and magnitudes).  Whatever fails, the popped block is freed and the picture stays.
void InverseFromStack(CImgBuff* picture, int32_t asMagnitudes) {
  if (!picture || SpectrumStackCount() == 0) return;
  SpectrumStackEntry entry{};
  if (!PopSpectrum(&entry)) return;
  CImgBuff spectrum;
  if (picture->Crop(spectrum, entry.x0, entry.y0, entry.x1, entry.y1) &&
      entry.record.sideColumns >= 2) {
    CImgBuff result;
    const int32_t ok = asMagnitudes ? FftInverse(&entry.record, &result, nullptr, &spectrum)
                                    : FftInverse(&entry.record, &result, &spectrum, nullptr);
    if (ok) picture->Paste(result, entry.x0, entry.y0);
  }
  FftFree(&entry.record);
}

}  // namespace

CLfFourierBase::CLfFourierBase() { SpectrumStackAddInstance(); }
CLfFourierBase::~CLfFourierBase() { SpectrumStackReleaseInstance(); }

void CLfFFT::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                     int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  const RoiRect rect = ChainRectToRoi(x, y, width, height);
  CImgBuff shown;
  if (!picture->Crop(shown, rect.x0, rect.y0, rect.x1, rect.y1)) return;
  SpectrumStackEntry entry{};
  entry.record.flag = 1;
  entry.x0 = rect.x0;
  entry.y0 = rect.y0;
  entry.x1 = rect.x1;
  entry.y1 = rect.y1;
  if (!FftForward(&entry.record, &shown) || !FftRender(&entry.record, &shown) ||
      !PushSpectrum(&entry)) {
    FftFree(&entry.record);
    return;
  }
  picture->Paste(shown, rect.x0, rect.y0);
}

void CLfIFFT::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
                      uint32_t) {
  InverseFromStack(picture, 0);
}

void CLfIFFTEX::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                        uint32_t, uint32_t) {
  InverseFromStack(picture, 1);
}
