// filter_fuzz.h - what the filter fuzz targets share: the plug-in classes registered as the
// program registers them, the key registry built, message boxes and file choosers scripted
// (no window ever opens), and one scripted host showing a small picture whose format the
// input chooses.
#pragma once
#include <sanitizer/lsan_interface.h>

#include <cstdint>
#include <cstdlib>

#include "app/registry.h"
#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/binary_geometry_fourier.h"
#include "filters/colour_pixel/colour_pixel.h"
#include "measure/measure.h"
#include "tests/app/testhost.h"

struct FuzzFilterWorld {
  CScriptedDialogs dialogs;
  CTestHost host;

  FuzzFilterWorld() {
    RegisterColourPixelFilters(&RegisterFilterClass, nullptr);
    RegisterBinaryGeometryFourierFilters(&RegisterFilterClass, nullptr);
    RegisterMeasureFilters(&RegisterFilterClass, nullptr);
    if (!BuildFilterRegistry()) abort();
    // Every filter once through the chain before the first input: what a process sets up
    // once (fontconfig's configuration, kept until exit, whose pointers LeakSanitizer
    // cannot see) is then not taken for a leak of the input that happened to come first.
    __lsan_disable();
    ShowPicture(0);
    for (uint64_t i = 0; i < FilterRegistryCount(); ++i) {
      CImgFilter* filter = CreateFilterByKey(FilterRegistryRecords()[i].key);
      uint64_t index = 0;
      if (!filter) continue;
      if (!host.AddFilter(filter, &index)) {
        delete filter;
        continue;
      }
      filter->m_filterEnabled = 1;
      host.Reprocess(0);
      host.RemoveFilter(index);
    }
    __lsan_enable();
  }

  // A 9 x 7 picture of one of three formats, filled from a fixed pattern, made the host's
  // still source.
  void ShowPicture(uint8_t choice) {
    static const ImgFormat formats[] = {ImgFormatGray8, ImgFormatGray16, ImgFormatRgb24};
    CImgBuff picture;
    if (!picture.Allocate(9, 7, formats[choice % 3])) abort();
    auto* p = static_cast<uint8_t*>(picture.Pixels());
    const uint64_t bytes = 9 * 7 * uint64_t(ImgBytesPerPixel[picture.Format()]);
    for (uint64_t i = 0; i < bytes; ++i) p[i] = uint8_t(i * 37 + (i / 5) * 11);
    host.SetStill(picture);
  }
};

// The targets make it in LLVMFuzzerInitialize, before any input.
inline FuzzFilterWorld& FuzzWorld() {
  static FuzzFilterWorld* world = new FuzzFilterWorld;  // lives to the end of the process
  return *world;
}
