// binary_geometry_fourier.h - the registration call of the binary, geometric and Fourier
// filter library.
//
//   RegisterBinaryGeometryFourierFilters  hands each class of this library to the registry
#pragma once
#include "filters/common/scaffold.h"

// Calls add once per class of the library (flip, FFT, IFFT, IFFT EX, ...) with its FilterId,
// key and maker; the program calls it once at start.
void RegisterBinaryGeometryFourierFilters(FilterRegisterFn add, void* user);
