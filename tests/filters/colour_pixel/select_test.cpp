// select_test.cpp - component selection without a window: the codes, the enable rules, the
// settings readings, and every pack of this library written to a settings file and read back.
#include "filters/colour_pixel/select.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "filters/colour_pixel/clear.h"
#include "filters/colour_pixel/colour_pixel.h"
#include "filters/colour_pixel/convolution.h"
#include "filters/colour_pixel/gamma.h"
#include "filters/colour_pixel/histogram.h"
#include "filters/colour_pixel/lut.h"
#include "filters/colour_pixel/mask.h"
#include "filters/colour_pixel/pixel.h"
#include "filters/colour_pixel/rect.h"
#include "filters/colour_pixel/wave_filter.h"
#include "filters/colour_pixel/white_balance.h"
// Component extraction and Bayer conversion.
#include "filters/colour_pixel/bayer.h"
#include "filters/colour_pixel/convert.h"
#include "tests/filters/filter_test_util.h"

namespace {

TEST(SelectComponents, CodesPerButton) {
  // Index: code with "CMYK" off, code with it on.
  const uint32_t off[kSelectButtonCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                            13, 14, 15, 16, 17, 18, 19, 20, 21};
  const uint32_t on[kSelectButtonCount] = {0, 1, 2, 3, 4, 5, 6, 10, 11, 12,
                                           13, 14, 15, 16, 17, 18, 19, 20, 21};
  for (int32_t i = 0; i < kSelectButtonCount; ++i) {
    EXPECT_EQ(off[i], SelectComponentCode(i, 0)) << i;
    EXPECT_EQ(on[i], SelectComponentCode(i, 1)) << i;
  }
}

TEST(SelectComponents, DefaultsNameAndRules) {
  CLfSelect f;
  EXPECT_STREQ(L"Select components", f.GetName(L"en"));
  EXPECT_STREQ(L"\x6210\x5206\x9078\x629E", f.GetName(L"jp"));
  EXPECT_STREQ(L"select_components", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  EXPECT_EQ(0u, f.GetSettings().cmyk);
  EXPECT_EQ(0, f.GetSettings().sel);
  EXPECT_EQ(0, CFgUIChkButton::GetGroupSelection(&f.m_radio[0]));
  EXPECT_EQ(0, f.m_cmykBox.m_checked);
  EXPECT_EQ(1, f.m_cmykBox.m_enabled);
  EXPECT_EQ(0, f.m_radio[kSelectIndexK].m_enabled);  // "K" needs "CMYK"
  EXPECT_EQ(nullptr, f.m_window);                     // made without opening anything
  CCfgPack pack;
  pack.SetName(L"select_components");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"cmyk 0", L"sel 0"}),
            filtertest::PackLines(&pack));
}

TEST(SelectComponents, LoadParamsReadings) {
  struct Case {
    const char* name;
    const wchar_t *cmyk, *sel;  // null: key missing
    uint32_t expectCmyk;
    int32_t expectSel;
    uint32_t code;
    int32_t boxEnabled, kEnabled;
  } cases[] = {
      // The filter starts with cmyk 1, sel 7 (code 10).
      {"C with CMYK", L"1", L"7", 1, 7, 10, 1, 1},
      {"C without", L"0", L"7", 0, 7, 7, 1, 0},
      {"19 ignored", nullptr, L"19", 1, 7, 10, 1, 1},
      {"-1 ignored", nullptr, L"-1", 1, 7, 10, 1, 1},
      {"1x selects 1", nullptr, L"1x", 1, 1, 1, 1, 1},
      {"huge ignored", nullptr, L"4294967303", 1, 7, 10, 1, 1},
      {"other cmyk text ignored", L"yes", nullptr, 1, 7, 10, 1, 1},
      {"K without CMYK", L"0", L"10", 0, 10, 13, 0, 0},
      {"h", nullptr, L"18", 1, 18, 21, 1, 1},
      {"ALL", nullptr, L"0", 1, 0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLfSelect f;
    CCfgPack start;
    start.SetName(L"select_components");
    start.AddItem(L"cmyk", L"1");
    start.AddItem(L"sel", L"7");
    f.LoadParams(&start);
    CCfgPack pack;
    pack.SetName(L"select_components");
    if (c.cmyk) pack.AddItem(L"cmyk", c.cmyk);
    if (c.sel) pack.AddItem(L"sel", c.sel);
    f.LoadParams(&pack);
    EXPECT_EQ(c.expectCmyk, f.GetSettings().cmyk);
    EXPECT_EQ(c.expectSel, f.GetSettings().sel);
    EXPECT_EQ(c.code, f.CurrentCode());
    EXPECT_EQ(c.expectSel, CFgUIChkButton::GetGroupSelection(&f.m_radio[0]));
    EXPECT_EQ(int32_t(c.expectCmyk), f.m_cmykBox.m_checked);
    EXPECT_EQ(c.boxEnabled, f.m_cmykBox.m_enabled);
    EXPECT_EQ(c.kEnabled, f.m_radio[kSelectIndexK].m_enabled);
    uint32_t component = 99;
    int64_t v = 0;
    uint32_t u = 0;
    f.ProcessChain(nullptr, 0, &v, &v, &v, &v, &u, &u, &component, &u);
    EXPECT_EQ(c.code, component);
  }
}

// Every class of the library: its pack written into a settings file, read back into a new
// filter, written again: the same lines.
TEST(ColourPixelPacks, RoundTripThroughASettingsFile) {
  std::vector<std::unique_ptr<CImgFilter>> filters;
  RegisterColourPixelFilters(
      [](const FilterClassEntry& e, void* user) {
        static_cast<std::vector<std::unique_ptr<CImgFilter>>*>(user)->emplace_back(e.make());
      },
      &filters);
  ASSERT_EQ(20u, filters.size());
  // Non-default settings where a filter has any.
  for (auto& f : filters) {
    f->m_filterEnabled = 1;
    // Component extraction and Bayer conversion.
    if (auto* c = dynamic_cast<CLfConvert*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"cmyk", L"1");
      p.AddItem(L"color", L"1");
      p.AddItem(L"sel", L"12");
      c->LoadParams(&p);
    }
    if (auto* b = dynamic_cast<CLfBayer*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"action", L"1");
      p.AddItem(L"filter", L"3");
      p.AddItem(L"gain", L"0");
      p.AddItem(L"gain_b", L"0.5");
      b->LoadParams(&p);
    }
    if (auto* r = dynamic_cast<CLfRect*>(f.get())) {
      r->OnLButtonDown(12, 34, 0);
      r->OnMouseMove(4294967295LL, 40, 0);
    }
    if (auto* s = dynamic_cast<CLfSelect*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"cmyk", L"1");
      p.AddItem(L"sel", L"9");
      s->LoadParams(&p);
    }
    if (auto* w = dynamic_cast<CLfWave*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"wave_length", L"550.1");
      p.AddItem(L"gain_free", L"0.25");
      p.AddItem(L"filter", L"2");
      p.AddItem(L"gain", L"3");
      p.AddItem(L"inverse", L"1");
      w->LoadParams(&p);
    }
    if (auto* b = dynamic_cast<CLfWhiteBalance*>(f.get())) {
      EXPECT_EQ(1, b->SetGains(0.8, 0.7, 0.6));
    }
    if (auto* c = dynamic_cast<CLfClear*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"mode", L"0");
      p.AddItem(L"sel", L"200");
      c->LoadParams(&p);
    }
    if (auto* c = dynamic_cast<CLfFilter*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"size", L"5");
      p.AddItem(L"filter_array", L"1,-2,3");
      p.AddItem(L"div", L"7");
      c->LoadParams(&p);
    }
    if (auto* h = dynamic_cast<CLfHistogram*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"min", L"12");
      p.AddItem(L"max", L"200");
      p.AddItem(L"view", L"321");
      h->LoadParams(&p);
    }
    if (auto* l = dynamic_cast<CLfLut*>(f.get())) {
      l->OnMenuCommand(101);
      l->SetPaletteComponent(1, 42);
      l->m_interpolateBox.m_checked = 0;
    }
    if (auto* m = dynamic_cast<CLfMask*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"preview", L"0");
      p.AddItem(L"default_mask", L"0");
      m->LoadParams(&p);
    }
    if (auto* g = dynamic_cast<CLfGamma*>(f.get())) {
      CCfgPack p;
      p.SetName(L"x");
      p.AddItem(L"type", L"1");
      p.AddItem(L"from", L"2.5");
      g->LoadParams(&p);
    }
  }
  CCfgFile file;
  for (auto& f : filters) f->SaveParams(file.AddPack(f->GetKey()));
  const std::wstring path = L"" QV_TEST_OUT_DIR L"/colour_pixel_packs.txt";
  ASSERT_EQ(1, file.Save(path.c_str()));
  CCfgFile back;
  ASSERT_EQ(1, back.Load(path.c_str()));
  using filtertest::PackLines;
  CCfgFile again;
  struct Ctx {
    CCfgFile* back;
    CCfgFile* again;
  } ctx{&back, &again};
  RegisterColourPixelFilters(
      [](const FilterClassEntry& e, void* user) {
        auto* c = static_cast<Ctx*>(user);
        std::unique_ptr<CImgFilter> f(e.make());
        f->LoadParams(c->back->FindPack(e.key));
        f->SaveParams(c->again->AddPack(e.key));
      },
      &ctx);
  for (auto& f : filters) {
    std::vector<std::wstring> before = PackLines(file.FindPack(f->GetKey()));
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(before, PackLines(again.FindPack(f->GetKey()))) << f->GetKey();
  }
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"set 1", L"x 12", L"y 34",
                                       L"w 4294967284", L"h 7"}),
            PackLines(again.FindPack(L"process_rect")));
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"cmyk 1", L"sel 9"}),
            PackLines(again.FindPack(L"select_components")));
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"type 1", L"gamma 2.2",
                                       L"rev 1", L"from 2.5", L"to 1.8"}),
            PackLines(again.FindPack(L"gamma")));
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"min 12", L"max 200",
                                       L"view 321"}),
            PackLines(again.FindPack(L"histogram")));
  // Component extraction and Bayer conversion.
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"cmyk 1", L"color 1",
                                       L"sel 12"}),
            PackLines(again.FindPack(L"component_extraction")));
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"action 1", L"filter 3",
                                       L"gain 0", L"gain_r 3.344", L"gain_g 1.704", L"gain_b 0.5"}),
            PackLines(again.FindPack(L"bayer_convert")));
}

}  // namespace
