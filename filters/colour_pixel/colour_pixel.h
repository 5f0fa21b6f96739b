// colour_pixel.h - the registration call of the colour and pixel filter library.
//
//   RegisterColourPixelFilters  hands each class of this library to the registry
#pragma once
#include "filters/common/scaffold.h"

// Calls add once per class (process rect, reversal, equalize histogram, select components,
// group tag, up convert, colour filter, white balance, down convert, pixel value adjustment,
// gamma, histogram, convolution filter)
// with its FilterId, key and maker; the program calls it once at start.
void RegisterColourPixelFilters(FilterRegisterFn add, void* user);
