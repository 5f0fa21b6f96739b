// window_cut_test.cpp - the window cut on the test host: objects touching the ticked sides
// of the picture or of a processing rectangle earlier in the chain, white backgrounds, the
// boxes, the packs and the labels.
#include "filters/binary_geometry_fourier/window_cut.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/bgf_test_util.h"
#include "tests/filters/binary_geometry_fourier/binary_art.h"
#include "tests/filters/filter_test_util.h"

namespace {

using binarytest::Art;
using binarytest::FromArt;
using binarytest::ToArt;

void Toggle(CFgUIChkButton* box) {
  box->m_checked = box->m_checked ? 0 : 1;
  box->m_callback(box, box->m_user);
}

// One object on each side, one inside, one across the right and bottom corner.
const Art kSides = {
    "..........",
    "#.........",
    "#...##....",
    "....##...#",
    "..........",
    "......#...",
    "......#..#",
    ".........#",
};

Art CutOn(const Art& art, uint32_t bg, CLfWindowCut** out, CTestHost& host,
        CLfRect* rect = nullptr) {
  CImgBuff src;
  FromArt(src, art, ImgFormatGray8, bg);
  host.SetStill(src);
  host.m_connectivity = 8;
  host.m_background = bg;
  if (rect) host.AddFilter(rect, nullptr);
  auto* f = new CLfWindowCut;
  host.AddFilter(f, nullptr);
  *out = f;
  host.Reprocess(0);
  return ToArt(host.m_display, bg);
}

TEST(WindowCut, NameKeyAndTheDefaultsPackInOrder) {
  CLfWindowCut f;
  EXPECT_STREQ(L"Window cut", f.GetName(L"en"));
  EXPECT_STREQ(L"\x30A6\x30A3\x30F3\x30C9\x30A6\x30AB\x30C3\x30C8", f.GetName(L"jp"));
  EXPECT_STREQ(L"window_cut", f.GetKey());
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"top 1", L"bottom 1",
                                       L"left 1", L"right 1"}),
            filtertest::PackLines(&pack));
}

TEST(WindowCut, ObjectsTouchingTheTickedSidesGo) {
  CTestHost host;
  CLfWindowCut* f = nullptr;
  const Art all = CutOn(kSides, 0, &f, host);
  EXPECT_EQ((Art{"..........", "..........", "....##....", "....##....", "..........",
                 "......#...", "......#...", ".........."}),
            all);

  // Only "left": the right-side objects stay.
  Toggle(&f->m_topBox);
  Toggle(&f->m_rightBox);
  Toggle(&f->m_bottomBox);
  const CLfWindowCut::Sides s = f->GetSides();
  EXPECT_EQ(1u, s.left);
  EXPECT_EQ(0u, s.top + s.right + s.bottom);
  EXPECT_EQ((Art{"..........", "..........", "....##....", "....##...#", "..........",
                 "......#...", "......#..#", ".........#"}),
            ToArt(host.m_display, 0));
  // No side: nothing goes.
  Toggle(&f->m_leftBox);
  EXPECT_EQ(kSides, ToArt(host.m_display, 0));
}

// A processing rectangle (1, 1)-(7, 6): objects are erased only inside it, where they touch
// its sides; what lies outside stays.
TEST(WindowCut, ARectangleEarlierInTheChainBoundsTheCut) {
  const Art art = {
      "..........",
      ".###......",
      "..........",
      "...##.....",
      "...##...#.",
      "......####",
      "......#...",
      "......#...",
  };
  CTestHost host;
  auto* rect = new CLfRect;
  CLfWindowCut* f = nullptr;
  CutOn(art, 0, &f, host, rect);
  bgftest::Draw(rect, 1, 1, 7, 6);
  EXPECT_EQ((Art{"..........", "..........", "..........", "...##.....", "...##...#.",
                 "........##", "..........", "......#..."}),
            ToArt(host.m_display, 0));
}

// On white, every pixel that is not white is an object; those touching a side become 255.
TEST(WindowCut, WhiteBackgroundClearsToWhite) {
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(8, 6, ImgFormatGray8));
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 8; ++x) src.SetGray8(x, y, 255);
  src.SetGray8(0, 2, 128);
  src.SetGray8(1, 2, 254);
  src.SetGray8(4, 3, 10);
  CTestHost host;
  host.SetStill(src);
  host.m_background = 1;
  auto* f = new CLfWindowCut;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  uint8_t v = 0;
  host.m_display.GetGray8(0, 2, &v);
  EXPECT_EQ(255, v);
  host.m_display.GetGray8(1, 2, &v);
  EXPECT_EQ(255, v);
  host.m_display.GetGray8(4, 3, &v);
  EXPECT_EQ(10, v);
}

TEST(WindowCut, BoxesAskOnlyWhenEnabledAndPacksTakeExactFlags) {
  CTestHost host;
  CLfWindowCut* f = nullptr;
  CutOn(kSides, 0, &f, host);
  f->m_filterEnabled = 0;
  const uint64_t before = host.m_processedCount.load();
  Toggle(&f->m_leftBox);
  EXPECT_EQ(before, host.m_processedCount.load());
  EXPECT_EQ(0u, f->GetSides().left);

  struct Case {
    const wchar_t* value;
    uint32_t want;
  };
  const Case cases[] = {{L"0", 0}, {L"1", 1}, {L"2", 1}, {L"", 1}, {L" 0", 1}};
  for (const Case& c : cases) {
    CLfWindowCut g;
    g.m_topBox.m_checked = 0;  // out of step: a present key puts the box in step
    CCfgPack p;
    p.AddItem(L"top", c.value);
    p.AddItem(L"bottom", c.value);
    p.AddItem(L"left", c.value);
    p.AddItem(L"right", c.value);
    g.LoadParams(&p);
    const CLfWindowCut::Sides s = g.GetSides();
    EXPECT_EQ(c.want, s.top);
    EXPECT_EQ(c.want, s.bottom);
    EXPECT_EQ(c.want, s.left);
    EXPECT_EQ(c.want, s.right);
    EXPECT_EQ(int32_t(c.want), g.m_topBox.m_checked);
    EXPECT_EQ(int32_t(c.want), g.m_rightBox.m_checked);
  }
  // Each key reaches its own side; saved in the order top, bottom, left, right.
  CLfWindowCut g;
  CCfgPack p;
  p.AddItem(L"left", L"0");
  p.AddItem(L"bottom", L"0");
  g.LoadParams(&p);
  CCfgPack out;
  g.SaveParams(&out);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"top 1", L"bottom 0",
                                       L"left 0", L"right 1"}),
            filtertest::PackLines(&out));
  EXPECT_EQ(1, g.m_topBox.m_checked);
  EXPECT_EQ(0, g.m_bottomBox.m_checked);
}

TEST(WindowCut, LabelsAndPlacesInBothLanguages) {
  struct Case {
    const wchar_t *language, *left, *bottom;
  };
  const Case cases[] = {
      {L"en", L"erase left side object", L"erase bottom side object"},
      {L"jp", L"\x5DE6\x8FBA\x306B\x304B\x304B\x3063\x305F\x7269\x4F53\x3092\x9664\x53BB",
       L"\x4E0B\x8FBA\x306B\x304B\x304B\x3063\x305F\x7269\x4F53\x3092\x9664\x53BB"},
  };
  for (const Case& c : cases) {
    CLfWindowCut f;
    uint64_t w = 0, h = 0;
    ApplyFilterLayout(f.m_layout, c.language, &w, &h);
    EXPECT_EQ(235u, w);
    EXPECT_EQ(115u, h);
    EXPECT_STREQ(c.left, f.m_leftBox.m_text);
    EXPECT_STREQ(c.bottom, f.m_bottomBox.m_text);
    EXPECT_EQ(22, f.m_bottomBox.m_x);
    EXPECT_EQ(85, f.m_bottomBox.m_y);
    EXPECT_EQ(195, f.m_bottomBox.m_width);
    EXPECT_EQ(60, f.m_rightBox.m_y);
  }
}

}  // namespace
