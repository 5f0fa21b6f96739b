// binary_geometry_fourier.cpp - the registration call of the binary, geometric and Fourier
// filter library.  A new class of the library adds one line to kClasses.
#include "filters/binary_geometry_fourier/binary_geometry_fourier.h"

#include <new>

#include "filters/binary_geometry_fourier/extract.h"
#include "filters/binary_geometry_fourier/flip.h"
#include "filters/binary_geometry_fourier/fourier.h"
#include "filters/binary_geometry_fourier/change_conditions.h"
#include "filters/binary_geometry_fourier/binary_morphology.h"
#include "filters/binary_geometry_fourier/noise_remover.h"
#include "filters/binary_geometry_fourier/window_cut.h"
#include "filters/binary_geometry_fourier/separation.h"
#include "filters/binary_geometry_fourier/freq_mask.h"
#include "filters/binary_geometry_fourier/projective.h"
#include "filters/binary_geometry_fourier/zoom.h"
#include "filters/binary_geometry_fourier/bg_create.h"
#include "filters/binary_geometry_fourier/strobe_photo.h"
#include "filters/binary_geometry_fourier/anti_shake.h"

namespace {

template <class T>
CImgFilter* Make() {
  return new (std::nothrow) T;
}

const FilterClassEntry kClasses[] = {
    {CLfFlip::kFilterId, L"flip", &Make<CLfFlip>},
    {CLfFFT::kFilterId, L"fft", &Make<CLfFFT>},
    {CLfIFFT::kFilterId, L"ifft", &Make<CLfIFFT>},
    {CLfIFFTEX::kFilterId, L"ifft_ex", &Make<CLfIFFTEX>},
    {CLfConfig::kFilterId, L"change_conditions", &Make<CLfConfig>},
    {CLfBinary::kFilterId, L"binary_image_process", &Make<CLfBinary>},
    {CLfNoiseRemover::kFilterId, L"noise_remover", &Make<CLfNoiseRemover>},
    {CLfWindowCut::kFilterId, L"window_cut", &Make<CLfWindowCut>},
    {CLfSeparation::kFilterId, L"separation", &Make<CLfSeparation>},
    {CLfExtract::kFilterId, L"extraction", &Make<CLfExtract>},
    {CLfFreqMask::kFilterId, L"frequency_mask", &Make<CLfFreqMask>},
    {CLfAtrans::kFilterId, L"zoom", &Make<CLfAtrans>},
    {CLfPtrans::kFilterId, L"projective_transformation", &Make<CLfPtrans>},
    {CLfBgCreate::kFilterId, L"generate_bg_image", &Make<CLfBgCreate>},
    {CLfStrobePhoto::kFilterId, L"strobe_photo", &Make<CLfStrobePhoto>},
    {CLfAntiShake::kFilterId, L"anti_shake_/_composit", &Make<CLfAntiShake>},
};

}  // namespace

void RegisterBinaryGeometryFourierFilters(FilterRegisterFn add, void* user) {
  if (!add) return;
  for (const FilterClassEntry& entry : kClasses) add(entry, user);
}
