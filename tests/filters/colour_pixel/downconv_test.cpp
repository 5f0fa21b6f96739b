// downconv_test.cpp - down convert: the depth table, pictures against the format conversion,
// two in a row on the test host, name, key and pack.
#include "filters/colour_pixel/downconv.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/upconvert.h"
#include "filters/colour_pixel/pixel.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;

TEST(DownConvert, NameKeyAndPack) {
  CLfDownConv f;
  EXPECT_STREQ(L"Down convert", f.GetName(L"en"));
  EXPECT_STREQ(L"Down convert", f.GetName(L"jp "));
  EXPECT_STREQ(L"\x30C0\x30A6\x30F3\x30B3\x30F3\x30D0\x30FC\x30C8", f.GetName(L"jp"));
  EXPECT_STREQ(L"down_convert", f.GetKey());
  EXPECT_EQ(0, f.HasDialog());
  f.m_filterEnabled = 1;
  CCfgPack pack;
  pack.SetName(L"down_convert");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1"}), filtertest::PackLines(&pack));
}

TEST(DownConvert, DepthTable) {
  struct Case {
    uint32_t depth;
    int32_t format;
    int32_t to;  // the conversion expected; 0: the picture stays as it is
    uint32_t depthAfter;
  } cases[] = {
      {4, ImgFormatGray32, ImgFormatGray16, 2}, {4, ImgFormatRgb96, ImgFormatRgb48, 2},
      {4, ImgFormatHsv48, ImgFormatRgb48, 2},   {4, ImgFormatCmyk32, ImgFormatRgb48, 2},
      {4, ImgFormatGray8, ImgFormatGray16, 2},  {4, ImgFormatXyz, 0, 2},
      {2, ImgFormatRgb48, ImgFormatRgb24, 1},   {2, ImgFormatGray16, ImgFormatGray8, 1},
      {2, ImgFormatHsv48, ImgFormatRgb24, 1},   {2, ImgFormatCmyk32, ImgFormatRgb24, 1},
      {2, ImgFormatXyz, 0, 1},                  {1, ImgFormatGray8, 0, 1},
      {1, ImgFormatRgb48, 0, 1},                {8, ImgFormatXyz, 0, 8},
      {3, ImgFormatGray32, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << " format " << c.format);
    CImgBuff pic, expected;
    MakePicture(pic, 17, 9, c.format);
    expected.CopyFrom(pic);
    if (c.to) expected.record->ConvertTo(c.to);
    CLfDownConv f;
    int64_t x = 1, y = 2, w = 3, h = 4;
    uint32_t conn = 8, bg = 1, comp = 5, depth = c.depth;
    f.ProcessChain(&pic, 0, &x, &y, &w, &h, &conn, &bg, &comp, &depth);
    EXPECT_EQ(c.depthAfter, depth);
    EXPECT_TRUE(SamePixels(expected, pic));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 8, 1, 5}),
              (std::vector<int64_t>{x, y, w, h, conn, bg, comp}));
  }
  // The high halves, checked by value and not only against the conversion.
  CImgBuff gray;
  ASSERT_EQ(1, gray.Allocate(2, 1, ImgFormatGray32));
  static_cast<uint32_t*>(gray.Pixels())[0] = 0x12345678u;
  static_cast<uint32_t*>(gray.Pixels())[1] = 0xFFFF0001u;
  CLfDownConv f;
  int64_t v = 0;
  uint32_t u = 0, depth = 4;
  f.ProcessChain(&gray, 0, &v, &v, &v, &v, &u, &u, &u, &depth);
  ASSERT_EQ(ImgFormatGray16, gray.Format());
  EXPECT_EQ(0x1234u, static_cast<uint16_t*>(gray.Pixels())[0]);
  EXPECT_EQ(0xFFFFu, static_cast<uint16_t*>(gray.Pixels())[1]);
  // An empty picture or none: the depth falls all the same.
  CImgBuff empty;
  depth = 2;
  f.ProcessChain(&empty, 0, &v, &v, &v, &v, &u, &u, &u, &depth);
  EXPECT_EQ(1u, depth);
  depth = 4;
  f.ProcessChain(nullptr, 0, &v, &v, &v, &v, &u, &u, &u, &depth);
  EXPECT_EQ(2u, depth);
  f.ProcessChain(&empty, 0, &v, &v, &v, &v, &u, &u, &u, nullptr);
}

TEST(DownConvert, TwoInARowFromDepthFourEndAtEightBits) {
  CTestHost host;
  CImgBuff gray;
  MakePicture(gray, 24, 12, ImgFormatGray8);
  host.SetStill(gray);
  // Up twice to depth 4, then down twice: back at 8 bits, the high bytes of the 32 bits.
  ASSERT_EQ(1, host.AddFilter(new CLfUpConv, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfUpConv, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfDownConv, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(ImgFormatGray16, host.m_display.Format());
  ASSERT_EQ(1, host.AddFilter(new CLfDownConv, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(ImgFormatGray8, host.m_display.Format());
  CImgBuff path;
  path.CopyFrom(gray);
  UpConvert(&path, 16);
  UpConvert(&path, 32);
  path.record->ConvertTo(ImgFormatGray16);
  path.record->ConvertTo(ImgFormatGray8);
  EXPECT_TRUE(SamePixels(path, host.m_display));
  // A 32-bit still starts at depth 4: two down converts give 8 bits of its high bytes.
  host.RemoveAllFilters(1);
  CImgBuff deep, expected;
  MakePicture(deep, 24, 12, ImgFormatRgb96);
  expected.CopyFrom(deep);
  expected.record->ConvertTo(ImgFormatRgb24);
  host.SetStill(deep);
  ASSERT_EQ(1, host.AddFilter(new CLfDownConv, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfDownConv, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(ImgFormatRgb24, host.m_display.Format());
  EXPECT_TRUE(SamePixels(expected, host.m_display));
}

}  // namespace
