// separation_test.cpp - the separation filter on the test host: two discs joined by a neck
// split, the gray-level mode against the engine, rectangles reaching beyond the picture,
// the box and its pack value.
#include "filters/binary_geometry_fourier/separation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/separate.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/binary_art.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::SamePixels;
using binarytest::Art;
using binarytest::Blank;
using binarytest::CountIslands;
using binarytest::FromArt;
using binarytest::ToArt;

void Toggle(CFgUIChkButton* box) {
  box->m_checked = box->m_checked ? 0 : 1;
  box->m_callback(box, box->m_user);
}

// Two discs of radius 7 whose centres are 16 apart, joined by a neck 3 pixels wide.
Art Dumbbell() {
  Art a = Blank(36, 20);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 36; ++x) {
      const int32_t d1 = (x - 9) * (x - 9) + (y - 10) * (y - 10);
      const int32_t d2 = (x - 25) * (x - 25) + (y - 10) * (y - 10);
      if (d1 <= 49 || d2 <= 49 || (x > 9 && x < 25 && y >= 9 && y <= 11))
        a[size_t(y)][size_t(x)] = '#';
    }
  return a;
}

TEST(Separation, NameKeyAndPack) {
  CLfSeparation f;
  EXPECT_STREQ(L"Separation", f.GetName(L"en"));
  EXPECT_STREQ(L"\x7269\x4F53\x306E\x5206\x96E2", f.GetName(L"jp"));
  EXPECT_STREQ(L"separation", f.GetKey());
  EXPECT_EQ(0, f.m_grayBox.m_checked);
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"gray 0"}),
            filtertest::PackLines(&pack));
}

TEST(Separation, TwoDiscsJoinedByANeckBecomeTwoObjects) {
  for (uint32_t bg = 0; bg <= 1; ++bg) {
    SCOPED_TRACE(testing::Message() << "bg " << bg);
    CTestHost host;
    CImgBuff src;
    FromArt(src, Dumbbell(), ImgFormatGray8, bg);
    ASSERT_EQ(1, CountIslands(Dumbbell(), 8));
    host.SetStill(src);
    host.m_background = bg;
    auto* f = new CLfSeparation;
    ASSERT_EQ(1, host.AddFilter(f, nullptr));
    ASSERT_EQ(1, host.Reprocess(0));
    const Art out = ToArt(host.m_display, bg);
    EXPECT_EQ(2, CountIslands(out, 8));
    // Only the split is cleared: the discs' middles stay.
    EXPECT_EQ('#', out[10][9]);
    EXPECT_EQ('#', out[10][25]);
  }
}

TEST(Separation, GrayBoxChoosesTheLevelsAndAsksForTheFrame) {
  CTestHost host;
  CImgBuff src;
  apptest::MakePicture(src, 30, 20, ImgFormatGray8, 3);
  host.SetStill(src);
  host.m_background = 0;
  auto* f = new CLfSeparation;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  const uint64_t before = host.m_processedCount.load();
  Toggle(&f->m_grayBox);
  EXPECT_EQ(1u, f->Gray());
  EXPECT_GT(host.m_processedCount.load(), before);
  CImgBuff want;
  want.CopyFrom(src);
  RoiRect all{0, 0, 29, 19};
  ASSERT_EQ(1, SeparateParticles(&want, 1, 8, 0, &all));
  EXPECT_FALSE(SamePixels(src, want));
  EXPECT_TRUE(SamePixels(want, host.m_display));
  // A disabled filter only stores.
  f->m_filterEnabled = 0;
  const uint64_t now = host.m_processedCount.load();
  Toggle(&f->m_grayBox);
  EXPECT_EQ(0u, f->Gray());
  EXPECT_EQ(now, host.m_processedCount.load());
}

// Unlike most operations the split does not clip: a rectangle partly outside changes
// nothing; one inside splits only there.
TEST(Separation, RectangleBeyondThePictureChangesNothing) {
  CImgBuff picture;
  FromArt(picture, Dumbbell(), ImgFormatGray8, 0);
  CImgBuff original;
  original.CopyFrom(picture);
  CLfSeparation f;
  f.Process(&picture, 0, 0, 0, 37, 20, 8, 0);
  f.Process(&picture, 0, -1, 0, 36, 20, 8, 0);
  f.Process(&picture, 0, 30, 15, 10, 10, 8, 0);
  EXPECT_TRUE(SamePixels(original, picture));
  f.Process(&picture, 0, 0, 0, 36, 20, 8, 0);
  EXPECT_FALSE(SamePixels(original, picture));
  f.Process(&picture, 0, 0, 0, 36, 20, 5, 0);  // another connectivity: refused
}

TEST(Separation, PackValueOtherThanZeroTicks) {
  struct Case {
    const wchar_t* value;
    int32_t start, want;
  };
  const Case cases[] = {{L"2", 0, 1}, {L"", 0, 1}, {L"1", 0, 1}, {L"0", 1, 0}, {L" 0", 0, 1},
                        {nullptr, 1, 1}, {nullptr, 0, 0}};
  for (const Case& c : cases) {
    CLfSeparation f;
    if (c.start) Toggle(&f.m_grayBox);
    CCfgPack p;
    if (c.value) p.AddItem(L"gray", c.value);
    f.LoadParams(&p);
    EXPECT_EQ(c.want, f.m_grayBox.m_checked) << (c.value ? c.value : L"(none)");
    EXPECT_EQ(uint32_t(c.want), f.Gray());
    CCfgPack out;
    f.SaveParams(&out);
    EXPECT_STREQ(c.want ? L"1" : L"0", out.FindItem(L"gray")->value);
  }
}

TEST(Separation, LabelInBothLanguages) {
  CLfSeparation f;
  uint64_t w = 0, h = 0;
  ApplyFilterLayout(f.m_layout, L"jp", &w, &h);
  EXPECT_STREQ(L"\x8F1D\x5EA6\x753B\x50CF", f.m_grayBox.m_text);
  EXPECT_EQ(112u, w);
  EXPECT_EQ(36u, h);
  ApplyFilterLayout(f.m_layout, L"en", &w, &h);
  EXPECT_STREQ(L"gray scale", f.m_grayBox.m_text);
  EXPECT_EQ(8, f.m_grayBox.m_x);
  EXPECT_EQ(96, f.m_grayBox.m_width);
}

}  // namespace
