// pixel_test.cpp - reversal, equalisation, group tags and up convert on the test host, their
// names, keys and packs, and the library's registration call.
#include "filters/colour_pixel/pixel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "engine/upconvert.h"
#include "filters/colour_pixel/colour_pixel.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;

// Draws the rectangle (x0, y0)-(x1, y1) into a rectangle filter as the mouse does.
void Draw(CLfRect* rect, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  rect->OnLButtonDown(x0, y0, 0);
  rect->OnMouseMove(x1, y1, 0);
  rect->OnLButtonUp(x1, y1, 0);
}

TEST(PixelFilters, NamesKeysAndPacks) {
  struct Case {
    std::unique_ptr<CImgFilter> filter;
    const wchar_t *en, *ja, *key;
    uint32_t type;
  };
  Case cases[] = {
      {std::make_unique<CLfReversal>(), L"Reversal", L"\x53CD\x8EE2", L"reversal", 0},
      {std::make_unique<CLfFlattingHistogram>(), L"Equalize histogram",
       L"\x30D2\x30B9\x30C8\x30B0\x30E9\x30E0\x5E73\x5766\x5316", L"equalize_histogram", 0},
      {std::make_unique<CLfGroup>(), L"Group tag", L"\x30B0\x30EB\x30FC\x30D7\x30BF\x30B0",
       L"group_tag", 1},
      {std::make_unique<CLfUpConv>(), L"Up convert",
       L"\x30A2\x30C3\x30D7\x30B3\x30F3\x30D0\x30FC\x30C8", L"up_convert", 0},
  };
  for (Case& c : cases) {
    EXPECT_STREQ(c.en, c.filter->GetName(L"en"));
    EXPECT_STREQ(c.en, c.filter->GetName(nullptr));
    EXPECT_STREQ(c.ja, c.filter->GetName(L"jp"));
    EXPECT_STREQ(c.key, c.filter->GetKey());
    EXPECT_EQ(c.type, c.filter->m_type);
    EXPECT_EQ(0, c.filter->HasDialog());
    c.filter->m_filterEnabled = 1;
    CCfgPack pack;
    pack.SetName(c.key);
    c.filter->SaveParams(&pack);
    ASSERT_NE(nullptr, pack.firstItem);
    EXPECT_STREQ(L"if_enable", pack.firstItem->key);
    EXPECT_STREQ(L"1", pack.firstItem->value);
    EXPECT_EQ(nullptr, pack.firstItem->next) << "only if_enable";
  }
}

TEST(PixelFilters, ReversalInsideTheRectangleOnlyAndTwiceGivesTheOriginal) {
  CTestHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(20, 10, ImgFormatGray8));
  std::memset(src.Pixels(), 10, 200);
  host.SetStill(src);
  CLfRect* rect = new CLfRect;
  ASSERT_EQ(1, host.AddFilter(rect, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfReversal, nullptr));
  Draw(rect, 2, 3, 7, 5);
  const uint8_t* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      bool inside = x >= 2 && x <= 7 && y >= 3 && y <= 5;
      ASSERT_EQ(inside ? 245 : 10, out[y * 20 + x]) << x << "," << y;
    }
  // Twice, on a busy colour picture: the original again.
  CImgBuff colour;
  MakePicture(colour, 33, 17, ImgFormatRgb48);
  host.SetStill(colour);
  ASSERT_EQ(1, host.AddFilter(new CLfReversal, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_TRUE(SamePixels(colour, host.m_display));
}

TEST(PixelFilters, EqualisationLeavesTheOutside) {
  CTestHost host;
  CImgBuff src;
  MakePicture(src, 40, 30, ImgFormatRgb24);
  // A narrow range inside, so that equalisation must change it.
  uint8_t* p = static_cast<uint8_t*>(src.Pixels());
  for (int i = 0; i < 40 * 30 * 3; ++i) p[i] = uint8_t(100 + p[i] % 20);
  host.SetStill(src);
  CLfRect* rect = new CLfRect;
  ASSERT_EQ(1, host.AddFilter(rect, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfFlattingHistogram, nullptr));
  Draw(rect, 10, 5, 29, 24);
  const uint8_t* in = static_cast<const uint8_t*>(src.Pixels());
  const uint8_t* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  int changedInside = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) {
        int i = (y * 40 + x) * 3 + c;
        if (x >= 10 && x <= 29 && y >= 5 && y <= 24) changedInside += in[i] != out[i];
        else ASSERT_EQ(in[i], out[i]) << x << "," << y;
      }
  EXPECT_GT(changedInside, 0);
}

TEST(PixelFilters, GroupTagsSkipTheirFiltersAndChangeNoPixel) {
  CTestHost host;
  CImgBuff src;
  MakePicture(src, 16, 8, ImgFormatGray8);
  host.SetStill(src);
  CLfGroup* off = new CLfGroup;
  ASSERT_EQ(1, host.AddFilter(off, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfReversal, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfGroup, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfReversal, nullptr));
  off->m_filterEnabled = 0;
  ASSERT_EQ(1, host.Reprocess(0));
  const uint8_t* in = static_cast<const uint8_t*>(src.Pixels());
  const uint8_t* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  for (int i = 0; i < 16 * 8; ++i) ASSERT_EQ(255 - in[i], out[i]) << i;
  // Tags alone, on or off, leave the picture as it is.
  host.RemoveAllFilters(1);
  ASSERT_EQ(1, host.AddFilter(new CLfGroup, nullptr));
  CLfGroup* second = new CLfGroup;
  ASSERT_EQ(1, host.AddFilter(second, nullptr));
  second->m_filterEnabled = 0;
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_TRUE(SamePixels(src, host.m_display));
}

// The up-convert table, straight on ProcessChain; each result is compared exactly with the
// steps done by hand.
TEST(PixelFilters, UpConvertTable) {
  struct Case {
    uint32_t depth;
    int32_t format;
    int32_t via;  // format UpConvert works on; 0: nothing happens
    uint32_t bits, depthAfter;
  } cases[] = {
      {1, ImgFormatGray8, ImgFormatGray8, 16, 2},   {1, ImgFormatRgb24, ImgFormatRgb24, 16, 2},
      {1, ImgFormatGray16, ImgFormatGray8, 16, 2},  {1, ImgFormatGray32, ImgFormatGray8, 16, 2},
      {1, ImgFormatRgb48, ImgFormatRgb24, 16, 2},   {1, ImgFormatHsv48, ImgFormatRgb24, 16, 2},
      {1, ImgFormatCmyk32, ImgFormatRgb24, 16, 2},  {2, ImgFormatGray16, ImgFormatGray16, 32, 4},
      {2, ImgFormatRgb48, ImgFormatRgb48, 32, 4},   {2, ImgFormatGray8, ImgFormatGray16, 32, 4},
      {2, ImgFormatRgb24, ImgFormatRgb48, 32, 4},   {2, ImgFormatCmyk32, ImgFormatRgb48, 32, 4},
      {4, ImgFormatGray32, 0, 0, 4},                {8, ImgFormatXyz, 0, 0, 8},
      {3, ImgFormatGray8, 0, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << " format " << c.format);
    CImgBuff pic, expected;
    MakePicture(pic, 23, 11, c.format);
    expected.CopyFrom(pic);
    if (c.via) {
      // Only a picture that went another way returns to its entry format.
      if (c.via != c.format) expected.record->ConvertTo(c.via);
      UpConvert(&expected, c.bits);
      if (c.via != c.format) expected.record->ConvertTo(c.format);
    }
    CLfUpConv f;
    int64_t x = 1, y = 2, w = 3, h = 4;
    uint32_t conn = 8, bg = 1, comp = 0, depth = c.depth;
    f.ProcessChain(&pic, 0, &x, &y, &w, &h, &conn, &bg, &comp, &depth);
    EXPECT_EQ(c.depthAfter, depth);
    EXPECT_TRUE(SamePixels(expected, pic));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4}), (std::vector<int64_t>{x, y, w, h}));
  }
  // An empty picture: the depth rises all the same.
  CLfUpConv f;
  CImgBuff empty;
  int64_t v = 0;
  uint32_t u = 0, depth = 1;
  f.ProcessChain(&empty, 0, &v, &v, &v, &v, &u, &u, &u, &depth);
  EXPECT_EQ(2u, depth);
}

TEST(PixelFilters, UpConvertInTheChain) {
  CTestHost host;
  CImgBuff gray;
  MakePicture(gray, 24, 12, ImgFormatGray8);
  host.SetStill(gray);
  ASSERT_EQ(1, host.AddFilter(new CLfUpConv, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(ImgFormatGray16, host.m_display.Format());
  ASSERT_EQ(1, host.AddFilter(new CLfUpConv, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(ImgFormatGray32, host.m_display.Format());
  // Depth 4 and 8 pictures pass unchanged.
  for (int32_t format : {ImgFormatGray32, ImgFormatRgb96, ImgFormatXyz}) {
    CImgBuff pic;
    MakePicture(pic, 24, 12, format);
    host.SetStill(pic);
    ASSERT_EQ(1, host.Reprocess(0));
    EXPECT_TRUE(SamePixels(pic, host.m_display)) << format;
  }
  // C,M,Y,K with depth 1: converted back to C,M,Y,K with the depth raised, then the runner's
  // final conversion to the format of depth 2.
  host.RemoveAllFilters(1);
  ASSERT_EQ(1, host.AddFilter(new CLfUpConv, nullptr));
  CImgBuff cmyk, expected;
  MakePicture(cmyk, 24, 12, ImgFormatCmyk32);
  expected.CopyFrom(cmyk);
  expected.record->ConvertTo(ImgFormatRgb24);
  UpConvert(&expected, 16);
  expected.record->ConvertTo(ImgFormatCmyk32);
  expected.record->ConvertTo(ImgFormatRgb48);
  host.SetStill(cmyk);
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(ImgFormatRgb48, host.m_display.Format());
  EXPECT_TRUE(SamePixels(expected, host.m_display));
}

TEST(ColourPixelLibrary, RegistersEveryClassByIdAndKey) {
  std::map<uint32_t, std::wstring> seen;
  RegisterColourPixelFilters(
      [](const FilterClassEntry& e, void* user) {
        auto* m = static_cast<std::map<uint32_t, std::wstring>*>(user);
        std::unique_ptr<CImgFilter> f(e.make());
        ASSERT_NE(nullptr, f);
        EXPECT_STREQ(e.key, f->GetKey());  // the key the registry files it under is its own
        (*m)[e.id] = e.key;
      },
      &seen);
  EXPECT_EQ((std::map<uint32_t, std::wstring>{{10000, L"process_rect"},
                                              {10001, L"component_extraction"},
                                              {10003, L"reversal"},
                                              {10006, L"histogram"},
                                              {10007, L"gamma"},
                                              {10010, L"filter"},
                                              {10014, L"mask"},
                                              {10015, L"background_removal"},
                                              {10017, L"equalize_histogram"},
                                              {10018, L"select_components"},
                                              {10019, L"bayer_convert"},
                                              {10022, L"group_tag"},
                                              {10023, L"up_convert"},
                                              {10024, L"down_convert"},
                                              {10025, L"white_balance"},
                                              {10026, L"color_correction"},
                                              {10027, L"pixel_value_adjustment"},
                                              {10028, L"pseudo-color"},
                                              {10029, L"color_filter"},
                                              {10030, L"color_map"}}),
            seen);
  RegisterColourPixelFilters(nullptr, nullptr);  // nothing to call: nothing happens
}

}  // namespace
