// filterlist_classes_x11_test.cpp - every real filter class of the plug-in libraries in one
// chain on a real main screen: the list written, the chain emptied, the list loaded, and the
// list written again gives the same bytes and the same keys in the same order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/filterlist.h"
#include "app/mainscreen.h"
#include "app/registry.h"
#include "core/parallel.h"
#include "filters/binary_geometry_fourier/binary_geometry_fourier.h"
#include "filters/colour_pixel/colour_pixel.h"
#include "measure/measure.h"
#include "tests/temp_folder.h"

namespace {

const int g_cpus = (SetProcessorCountForTesting(8), 0);

TEST(FilterListClasses, EveryRegisteredClassRoundTripsThroughOneList) {
  (void)g_cpus;
  if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
  qvtest::TempFolder folder("filterlist_classes");
  ASSERT_TRUE(folder.ok());
  SetConfigFilePathForTesting(folder.WideFile("quorvix_duvu.cfg").c_str());
  ClearFilterClassesForTesting();
  RegisterColourPixelFilters(&RegisterFilterClass, nullptr);
  RegisterBinaryGeometryFourierFilters(&RegisterFilterClass, nullptr);
  RegisterMeasureFilters(&RegisterFilterClass, nullptr);

  auto* screen = new CMainScreen;
  ASSERT_EQ(screen->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
  screen->Layout();
  CSidePanel& panel = screen->m_sidePanel;

  std::vector<std::wstring> keys;
  for (const FilterTableEntry& entry : kFilterTable) {
    CImgFilter* f = CreateFilterById(entry.id);
    ASSERT_NE(f, nullptr) << entry.id << ": every filter of the table has its class now";
    keys.push_back(f->GetKey());
    ASSERT_EQ(screen->AddFilter(f, 0), 1u) << entry.id;
  }
  auto chainKeys = [&] {
    std::vector<std::wstring> now;
    for (uint64_t i = 0; i < panel.FilterCount(); ++i) now.push_back(panel.FilterAt(i)->GetKey());
    return now;
  };
  ASSERT_EQ(chainKeys(), keys);

  ASSERT_EQ(SaveFilterList(screen, folder.WideFile("all.ifl").c_str()), 1);
  const std::string saved = qvtest::ReadWholeFile(folder.File("all.ifl"));
  panel.RemoveAllFilters(0);
  ASSERT_EQ(panel.FilterCount(), 0u);
  ASSERT_EQ(LoadFilterList(screen, folder.WideFile("all.ifl").c_str()), 1);
  EXPECT_EQ(chainKeys(), keys);
  ASSERT_EQ(SaveFilterList(screen, folder.WideFile("again.ifl").c_str()), 1);
  EXPECT_EQ(qvtest::ReadWholeFile(folder.File("again.ifl")), saved);

  delete screen;
  ClearFilterClassesForTesting();
  SetConfigFilePathForTesting(nullptr);
}

}  // namespace
