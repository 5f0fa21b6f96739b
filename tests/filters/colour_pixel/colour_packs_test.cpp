// colour_packs_test.cpp - the packs of the colour map, the colour correction and background
// removal go through a filter list file and come back to filters the registry makes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "filters/colour_pixel/bg_erase.h"
#include "filters/colour_pixel/colormap.h"
#include "filters/colour_pixel/colour_correction.h"
#include "filters/colour_pixel/colour_pixel.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"

namespace {

TEST(ColourPacks, RoundTripThroughAFilterList) {
  CLfColorMap map;
  map.OnCommand(103);
  map.OnCommand(201);
  map.OnCommand(302);
  CLfColorCorrection cc;
  ASSERT_EQ(1, cc.SetMeasuredColor(3, 0.05, 0.6, 0.7));
  CCfgPack s;
  s.AddItem(L"CORRECT_S", L"1");
  cc.LoadParams(&s);  // the missing colours: the defaults, refused for nothing
  ASSERT_EQ(1, cc.SetMeasuredColor(3, 0.05, 0.6, 0.7));
  CLfBgErase bg;
  CFgUIChkButton::SetGroupSelection(&bg.m_subtractRadio, 1, 0);
  bg.m_levelBar.MoveTo(9);
  bg.m_tileBar.MoveTo(5);
  CImgFilter* filters[] = {&map, &cc, &bg};

  qvtest::TempFolder dir("colour_packs");
  ASSERT_TRUE(dir.ok());
  CCfgFile file;
  for (CImgFilter* f : filters) f->SaveParams(file.AddPack(f->GetKey()));
  ASSERT_EQ(1, file.Save(dir.WideFile("list.txt").c_str()));
  CCfgFile back;
  ASSERT_EQ(1, back.Load(dir.WideFile("list.txt").c_str()));
  struct Ctx {
    CCfgFile* back;
    CCfgFile again;
    int made = 0;
  } ctx{&back, {}, 0};
  RegisterColourPixelFilters(
      [](const FilterClassEntry& e, void* user) {
        auto* c = static_cast<Ctx*>(user);
        const std::wstring key = e.key;
        if (key != L"color_map" && key != L"color_correction" && key != L"background_removal")
          return;
        std::unique_ptr<CImgFilter> f(e.make());
        ASSERT_TRUE(f);
        EXPECT_EQ(key, f->GetKey());
        f->LoadParams(c->back->FindPack(e.key));
        f->SaveParams(c->again.AddPack(e.key));
        ++c->made;
      },
      &ctx);
  EXPECT_EQ(3, ctx.made);
  using filtertest::PackLines;
  for (CImgFilter* f : filters) {
    std::vector<std::wstring> before = PackLines(file.FindPack(f->GetKey()));
    EXPECT_GT(before.size(), 2u);
    EXPECT_EQ(before, PackLines(ctx.again.FindPack(f->GetKey()))) << f->GetKey();
  }
  std::vector<std::wstring> lines = PackLines(ctx.again.FindPack(L"color_correction"));
  EXPECT_EQ(L"CORRECT_S 1", lines.back());
  EXPECT_EQ(L"IMG_R 0.686275 ,0.905882 ,0.274510 ,0.050000 ,0.219608 ,0.733333",
            lines[lines.size() - 4]);
}

}  // namespace
