// measure.h - the registration call of the measurement library.
//
//   RegisterMeasureFilters  hands each filter class of this library to the registry
#pragma once
#include "filters/common/scaffold.h"

// Calls add once per class (auto measurement, manual measurement, particle tracking, PIV, 2D
// tracking) with its FilterId, key and maker; the program calls it once at start.
void RegisterMeasureFilters(FilterRegisterFn add, void* user);
