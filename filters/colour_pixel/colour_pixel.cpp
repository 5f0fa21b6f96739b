// colour_pixel.cpp - the registration call of the colour and pixel filter library.
#include "filters/colour_pixel/colour_pixel.h"

#include <new>

// Component extraction and Bayer conversion.
#include "filters/colour_pixel/bayer.h"
#include "filters/colour_pixel/convert.h"
#include "filters/colour_pixel/clear.h"
#include "filters/colour_pixel/downconv.h"
#include "filters/colour_pixel/convolution.h"
#include "filters/colour_pixel/gamma.h"
#include "filters/colour_pixel/histogram.h"
#include "filters/colour_pixel/pixel.h"
#include "filters/colour_pixel/rect.h"
#include "filters/colour_pixel/select.h"
#include "filters/colour_pixel/wave_filter.h"
#include "filters/colour_pixel/white_balance.h"
#include "filters/colour_pixel/lut.h"
#include "filters/colour_pixel/mask.h"
#include "filters/colour_pixel/colormap.h"
#include "filters/colour_pixel/colour_correction.h"
#include "filters/colour_pixel/bg_erase.h"

namespace {

template <class T>
CImgFilter* Make() {
  return new (std::nothrow) T;
}

const FilterClassEntry kClasses[] = {
    // Component extraction and Bayer conversion.
    {CLfConvert::kFilterId, L"component_extraction", &Make<CLfConvert>},
    {CLfBayer::kFilterId, L"bayer_convert", &Make<CLfBayer>},
    {CLfRect::kFilterId, L"process_rect", &Make<CLfRect>},
    {CLfReversal::kFilterId, L"reversal", &Make<CLfReversal>},
    {CLfFlattingHistogram::kFilterId, L"equalize_histogram", &Make<CLfFlattingHistogram>},
    {CLfSelect::kFilterId, L"select_components", &Make<CLfSelect>},
    {CLfGroup::kFilterId, L"group_tag", &Make<CLfGroup>},
    {CLfUpConv::kFilterId, L"up_convert", &Make<CLfUpConv>},
    {CLfWave::kFilterId, L"color_filter", &Make<CLfWave>},
    {CLfWhiteBalance::kFilterId, L"white_balance", &Make<CLfWhiteBalance>},
    {CLfDownConv::kFilterId, L"down_convert", &Make<CLfDownConv>},
    {CLfClear::kFilterId, L"pixel_value_adjustment", &Make<CLfClear>},
    {CLfGamma::kFilterId, L"gamma", &Make<CLfGamma>},
    {CLfHistogram::kFilterId, L"histogram", &Make<CLfHistogram>},
    {CLfFilter::kFilterId, L"filter", &Make<CLfFilter>},
    {CLfLut::kFilterId, L"pseudo-color", &Make<CLfLut>},
    {CLfMask::kFilterId, L"mask", &Make<CLfMask>},
    {CLfColorMap::kFilterId, L"color_map", &Make<CLfColorMap>},
    {CLfColorCorrection::kFilterId, L"color_correction", &Make<CLfColorCorrection>},
    {CLfBgErase::kFilterId, L"background_removal", &Make<CLfBgErase>},
};

}  // namespace

void RegisterColourPixelFilters(FilterRegisterFn add, void* user) {
  if (!add) return;
  for (const FilterClassEntry& entry : kClasses) add(entry, user);
}
