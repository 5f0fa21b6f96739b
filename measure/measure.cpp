// measure.cpp - the registration call of the measurement library.
#include "measure/measure.h"

#include <new>

#include "measure/ameasure.h"
#include "measure/mmeasure.h"
#include "measure/piv.h"
#include "measure/ptv.h"
#include "measure/track2d.h"

namespace {

template <class T>
CImgFilter* Make() {
  return new (std::nothrow) T;
}

const FilterClassEntry kClasses[] = {
    {CLfAmeasure::kFilterId, L"auto_measurement", &Make<CLfAmeasure>},
    {CLfMmeasure::kFilterId, L"manual_measurement", &Make<CLfMmeasure>},
    {kFilterIdParticleTracking, L"particle_tracking_/_ptv", &Make<CLfPtv>},
    {kFilterIdPiv, L"piv", &Make<CLfPiv>},
    {CLfTrack2d::kFilterId, L"2d_tracking", &Make<CLfTrack2d>},
};

}  // namespace

void RegisterMeasureFilters(FilterRegisterFn add, void* user) {
  if (!add) return;
  for (const FilterClassEntry& entry : kClasses) add(entry, user);
}
