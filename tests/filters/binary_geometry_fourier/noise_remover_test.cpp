// noise_remover_test.cpp - the noise remover on the test host: which islands go at each
// limit, the switches and their boxes, the typed numbers, the packs (numbers read as the C
// library reads them) and the labels.
#include "filters/binary_geometry_fourier/noise_remover.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/binary_art.h"
#include "tests/filters/filter_test_util.h"

namespace {

using binarytest::AddBlock;
using binarytest::Art;
using binarytest::Blank;
using binarytest::FromArt;
using binarytest::ToArt;

void Toggle(CFgUIChkButton* box) {
  box->m_checked = box->m_checked ? 0 : 1;
  box->m_callback(box, box->m_user);
}
void TypeAndLeave(CFgUIEdit* edit, const wchar_t* text) {
  edit->SetLine(0, text);
  edit->OnFocusLost(edit, edit->CallbackArg);
}

// Rows of islands of 1, 5, 10, 11 and 30 pixels on background 0.
Art SmallIslands() {
  Art a = Blank(40, 9);
  AddBlock(a, 1, 1, 1, 1);
  AddBlock(a, 4, 1, 8, 1);
  AddBlock(a, 11, 1, 20, 1);
  AddBlock(a, 23, 1, 33, 1);
  AddBlock(a, 1, 4, 30, 4);
  AddBlock(a, 1, 7, 5, 8);  // 10 in two rows
  return a;
}

// Islands of 999, 1000 and 1001 pixels.
Art LargeIslands() {
  Art a = Blank(90, 42);
  AddBlock(a, 1, 1, 25, 40);  // 1000
  AddBlock(a, 30, 1, 54, 40);
  a[40][54] = '.';            // 999
  AddBlock(a, 60, 1, 84, 40);
  a[41][60] = '#';            // 1001
  return a;
}

struct Host {
  CTestHost host;
  CLfNoiseRemover* f = nullptr;
  explicit Host(const Art& art) {
    CImgBuff src;
    FromArt(src, art, ImgFormatGray8, 0);
    host.SetStill(src);
    host.m_background = 0;
    f = new CLfNoiseRemover;
    EXPECT_EQ(1, host.AddFilter(f, nullptr));
    EXPECT_EQ(1, host.Reprocess(0));
  }
  Art Shown() { return ToArt(host.m_display, 0); }
};

TEST(NoiseRemover, NameKeyAndTheDefaultsPackInOrder) {
  CLfNoiseRemover f;
  EXPECT_STREQ(L"Noise remover", f.GetName(L"en"));
  EXPECT_STREQ(L"\x30CE\x30A4\x30BA\x9664\x53BB", f.GetName(L"jp"));
  EXPECT_STREQ(L"noise_remover", f.GetKey());
  EXPECT_STREQ(L"10", f.m_minEdit.GetText());
  EXPECT_STREQ(L"1000", f.m_maxEdit.GetText());
  EXPECT_EQ(1, f.m_minBox.m_checked);
  EXPECT_EQ(0, f.m_maxBox.m_checked);
  EXPECT_EQ(1, f.m_minEdit.m_enabled);
  EXPECT_EQ(0, f.m_maxEdit.m_enabled);
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"enable_min 1",
                                       L"enable_max 0", L"ui_min 10", L"ui_max 1000",
                                       L"param_min 10", L"param_max 0"}),
            filtertest::PackLines(&pack));
}

TEST(NoiseRemover, DefaultsRemoveIslandsOfOneToTenPixels) {
  Host h(SmallIslands());
  Art want = Blank(40, 9);
  AddBlock(want, 23, 1, 33, 1);
  AddBlock(want, 1, 4, 30, 4);
  EXPECT_EQ(want, h.Shown());
}

TEST(NoiseRemover, UpperLimitRemovesIslandsOfItsSizeAndMore) {
  Host h(LargeIslands());
  Toggle(&h.f->m_maxBox);  // "pixel over del", 1000 typed
  EXPECT_EQ(1000u, h.f->GetLimits().max);
  EXPECT_EQ(1, h.f->m_maxEdit.m_enabled);
  Art want = Blank(90, 42);
  AddBlock(want, 30, 1, 54, 40);
  want[40][54] = '.';
  EXPECT_EQ(want, h.Shown());
}

TEST(NoiseRemover, SwitchingALimitOffHandsZeroAndOnAgainTheTypedValue) {
  Host h(SmallIslands());
  Toggle(&h.f->m_minBox);
  EXPECT_EQ(0u, h.f->m_enableMin);
  EXPECT_EQ(0, h.f->m_minEdit.m_enabled);
  EXPECT_EQ(0u, h.f->GetLimits().min);
  EXPECT_EQ(SmallIslands(), h.Shown());  // nothing removed
  Toggle(&h.f->m_minBox);
  EXPECT_EQ(1, h.f->m_minEdit.m_enabled);
  EXPECT_EQ(10u, h.f->GetLimits().min);
  EXPECT_NE(SmallIslands(), h.Shown());
  // Switched off while it holds the focus: the box passes the focus on.
  h.f->m_focusChild = &h.f->m_minEdit;
  h.f->m_minEdit.m_focused = 1;
  Toggle(&h.f->m_minBox);
  EXPECT_NE(&h.f->m_minEdit, h.f->m_focusChild);
}

TEST(NoiseRemover, TypedNumbers) {
  struct Case {
    const wchar_t* text;
    uint32_t uiMin, paramMin;
    const wchar_t* shown;
  };
  const Case cases[] = {
      {L"12a", 10, 10, L"10"},
      {L"", 10, 10, L"10"},
      {L"-5", 10, 10, L"10"},
      // Beyond 32 bits: refused, not wrapped to 0 (which would switch the limit off).
      {L"4294967296", 10, 10, L"10"},
      {L"4294967295", 4294967295u, 4294967295u, L"4294967295"},
      {L"0025", 25, 25, L"0025"},  // accepted text stays as typed
      {L"0", 0, 0, L"0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::wstring(c.text).size() << " chars");
    CLfNoiseRemover f;
    TypeAndLeave(&f.m_minEdit, c.text);
    EXPECT_EQ(c.uiMin, f.m_uiMin);
    EXPECT_EQ(c.paramMin, f.GetLimits().min);
    EXPECT_STREQ(c.shown, f.m_minEdit.GetText());
    EXPECT_EQ(0u, f.GetLimits().max);
  }
  // With the upper limit off, a typed upper limit is kept but not handed on.
  CLfNoiseRemover f;
  TypeAndLeave(&f.m_maxEdit, L"500");
  EXPECT_EQ(500u, f.m_uiMax);
  EXPECT_EQ(0u, f.GetLimits().max);
  Toggle(&f.m_maxBox);
  EXPECT_EQ(500u, f.GetLimits().max);
}

TEST(NoiseRemover, TypedLimitOfAnEnabledFilterReprocessesWithIt) {
  Host h(SmallIslands());
  const uint64_t before = h.host.m_processedCount.load();
  TypeAndLeave(&h.f->m_minEdit, L"11");
  EXPECT_GT(h.host.m_processedCount.load(), before);
  Art want = Blank(40, 9);
  AddBlock(want, 1, 4, 30, 4);
  EXPECT_EQ(want, h.Shown());
  // A disabled filter stores without asking.
  h.f->m_filterEnabled = 0;
  const uint64_t now = h.host.m_processedCount.load();
  TypeAndLeave(&h.f->m_minEdit, L"3");
  Toggle(&h.f->m_maxBox);
  EXPECT_EQ(now, h.host.m_processedCount.load());
  EXPECT_EQ(3u, h.f->GetLimits().min);
}

TEST(NoiseRemover, PacksReadNumbersAsTheLibraryConversionDoes) {
  CLfNoiseRemover f;
  CCfgPack pack;
  pack.AddItem(L"ui_min", L"25");
  f.LoadParams(&pack);
  EXPECT_EQ(25u, f.m_uiMin);
  EXPECT_STREQ(L"25", f.m_minEdit.GetText());
  EXPECT_EQ(10u, f.GetLimits().min);  // the limit in force comes from "param_min"

  CCfgPack negative;
  negative.AddItem(L"ui_min", L"-3");
  f.LoadParams(&negative);
  EXPECT_EQ(4294967293u, f.m_uiMin);
  EXPECT_STREQ(L"-3", f.m_minEdit.GetText());
  f.m_minEdit.OnFocusLost(&f.m_minEdit, &f);  // left unchanged: the stored value shows
  EXPECT_STREQ(L"4294967293", f.m_minEdit.GetText());
  EXPECT_EQ(4294967293u, f.m_uiMin);
  EXPECT_EQ(10u, f.GetLimits().min);

  struct Case {
    const wchar_t* text;
    uint32_t want;
  };
  const Case reads[] = {
      {L"12", 12},          {L"  7", 7},        {L"+9", 9},          {L"15px", 15},
      {L"abc", 0},          {L"", 0},           {L"4294967295", 4294967295u},
      {L"4294967296", 4294967295u},  {L"99999999999999999999999", 4294967295u},
      {L"-1", 4294967295u},
  };
  for (const Case& c : reads) {
    CLfNoiseRemover g;
    CCfgPack p;
    p.AddItem(L"enable_max", L"1");
    p.AddItem(L"ui_max", c.text);
    p.AddItem(L"param_min", c.text);
    p.AddItem(L"param_max", c.text);
    g.LoadParams(&p);
    EXPECT_EQ(c.want, g.m_uiMax) << std::wstring(c.text).size();
    EXPECT_EQ(c.want, g.GetLimits().min);
    EXPECT_EQ(c.want, g.GetLimits().max);
    EXPECT_STREQ(c.text, g.m_maxEdit.GetText());
  }

  // A switch that is off hands 0, whatever "param_min" says; its box shows it off.
  CLfNoiseRemover off;
  CCfgPack p;
  p.AddItem(L"enable_min", L"0");
  p.AddItem(L"param_min", L"50");
  off.LoadParams(&p);
  EXPECT_EQ(0u, off.GetLimits().min);
  EXPECT_EQ(0, off.m_minBox.m_checked);
  EXPECT_EQ(0, off.m_minEdit.m_enabled);

  // Switch values other than "0" or "1" are ignored; the box still shows the flag.
  CLfNoiseRemover odd;
  odd.m_minBox.m_checked = 0;  // out of step with the flag
  CCfgPack q;
  q.AddItem(L"enable_min", L"2");
  odd.LoadParams(&q);
  EXPECT_EQ(1u, odd.m_enableMin);
  EXPECT_EQ(1, odd.m_minBox.m_checked);

  // Saved and read back.
  CLfNoiseRemover a, b;
  CCfgPack in;
  in.AddItem(L"enable_max", L"1");
  in.AddItem(L"ui_max", L"300");
  in.AddItem(L"param_max", L"300");
  a.LoadParams(&in);
  CCfgPack saved;
  a.SaveParams(&saved);
  b.LoadParams(&saved);
  CCfgPack again;
  b.SaveParams(&again);
  EXPECT_EQ(filtertest::PackLines(&saved), filtertest::PackLines(&again));
  EXPECT_EQ(300u, b.GetLimits().max);
  EXPECT_EQ(10u, b.GetLimits().min);
}

TEST(NoiseRemover, LabelsAndPlacesInBothLanguages) {
  struct Case {
    const wchar_t* language;
    const wchar_t *under, *over;
    uint64_t width;
    int32_t editX, boxX;
  };
  const Case cases[] = {
      {L"en", L"pixel under del", L"pixel over del", 250, 25, 90},
      {L"jp", L"pixel\x4EE5\x4E0B\x3092\x524A\x9664", L"pixel\x4EE5\x4E0A\x3092\x524A\x9664", 220,
       10, 75},
  };
  for (const Case& c : cases) {
    CLfNoiseRemover f;
    uint64_t w = 0, h = 0;
    ApplyFilterLayout(f.m_layout, c.language, &w, &h);
    EXPECT_EQ(c.width, w);
    EXPECT_EQ(65u, h);
    EXPECT_STREQ(c.under, f.m_minBox.m_text);
    EXPECT_STREQ(c.over, f.m_maxBox.m_text);
    EXPECT_EQ(c.editX, f.m_maxEdit.m_x);
    EXPECT_EQ(35, f.m_maxEdit.m_y);
    EXPECT_EQ(60, f.m_maxEdit.m_width);
    EXPECT_EQ(c.boxX, f.m_maxBox.m_x);
    EXPECT_EQ(140, f.m_maxBox.m_width);
  }
}

}  // namespace
