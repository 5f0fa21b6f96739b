// lutfmx_fuzz.cpp - the open commands of the pseudo-colour filter (LUT files) and of the
// convolution filter (".fmx" files), on a file from memory answered by the scripted file
// chooser: the first byte picks the command, the second the picture's format.  The filter
// sits in the chain, so a loaded file also runs it; what it then keeps must be writable
// again whole.
#include "app/cfgfile.h"
#include "filters/colour_pixel/convolution.h"
#include "filters/colour_pixel/lut.h"
#include "fuzz/cfg_fuzz.h"
#include "fuzz/filter_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzWorld();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  FuzzFilterWorld& world = FuzzWorld();
  world.ShowPicture(data[1]);
  FuzzMemoryFile file(data + 2, size - 2);
  if (!file.ok()) return 0;

  CImgFilter* filter = nullptr;
  if (data[0] & 1) filter = new CLfFilter;
  else filter = new CLfLut;
  uint64_t index = 0;
  if (!world.host.AddFilter(filter, &index)) {
    delete filter;
    return 0;
  }
  filter->m_filterEnabled = 1;
  world.dialogs.m_paths.clear();
  world.dialogs.m_answers.clear();
  world.dialogs.m_paths.push_back(file.widePath());
  if (data[0] & 1) {
    auto* conv = static_cast<CLfFilter*>(filter);
    CLfFilter::OnMenuCommand(&conv->m_menuBar, conv, CLfFilter::s_menuIndex, CLfFilter::kOpenFilter);
  } else {
    static_cast<CLfLut*>(filter)->OnMenuCommand(1);
  }
  world.host.Reprocess(0);
  world.dialogs.m_shown.clear();
  world.dialogs.m_asked.clear();

  CCfgPack saved;
  saved.SetName(filter->GetKey());
  filter->SaveParams(&saved);
  FILE* sink = fopen("/dev/null", "wb");
  if (sink) {
    if (saved.Write(sink) != 1) abort();
    fclose(sink);
  }
  world.host.RemoveFilter(index);
  return 0;
}
