// main.cpp - the program quorvix-mini: the one place that registers the plug-in libraries
// (filters, measurement, the composite dialog) with the main screen, then runs it.  The
// program takes no command line: it opens empty.
#include "app/dialogs.h"
#include "app/mainscreen.h"
#include "app/registry.h"
#include "filters/binary_geometry_fourier/binary_geometry_fourier.h"
#include "filters/colour_pixel/colour_pixel.h"
#include "filters/colour_pixel/composite.h"
#include "measure/measure.h"

int main() {
  // Before the main screen: its construction builds the key registry and the menus from
  // the classes registered by then.
  RegisterColourPixelFilters(&RegisterFilterClass, nullptr);
  RegisterBinaryGeometryFourierFilters(&RegisterFilterClass, nullptr);
  RegisterMeasureFilters(&RegisterFilterClass, nullptr);
  SetCompositeFactory(&MakeCompositeUI);
  return RunMainScreen();
}
