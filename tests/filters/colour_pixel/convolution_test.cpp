// convolution_test.cpp - the convolution filter without a window: its defaults and pack, the
// pending set reaching the frames only at "set", the settings readings, and the frames equal
// to direct engine calls on the test host.
#include "filters/colour_pixel/convolution.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/convolve.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;
using filtertest::PackLines;

std::wstring Identity() {
  std::wstring s;
  for (int i = 0; i < 81; ++i) s += std::wstring(i ? L"," : L"") + (i == 40 ? L"1" : L"0");
  return s;
}

TEST(Convolution, DefaultsLeavePicturesUnchanged) {
  CLfFilter f;
  EXPECT_STREQ(L"Filter", f.GetName(L"en"));
  EXPECT_STREQ(L"\x30D5\x30A3\x30EB\x30BF\x30FC", f.GetName(L"jp"));
  EXPECT_STREQ(L"filter", f.GetKey());
  EXPECT_EQ(1, f.m_grid.m_values[4][4]);
  EXPECT_STREQ(L"1", f.m_divEdit.GetText());
  EXPECT_EQ(0, f.m_setButton.m_enabled);
  EXPECT_EQ(1, f.m_autoDivBox.m_checked);
  CCfgPack pack;
  pack.SetName(L"filter");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"size 3",
                                       L"filter_array " + Identity(), L"div 1", L"auto_div 1",
                                       L"type 0"}),
            PackLines(&pack));
  for (int32_t format : {1, 2, 3, 4, 5, 6}) {
    CImgBuff img, ref;
    MakePicture(img, 13, 7, format);
    MakePicture(ref, 13, 7, format);
    f.Process(&img, 0, 0, 0, 13, 7, 8, 0);
    EXPECT_TRUE(SamePixels(ref, img)) << format;
  }
}

TEST(Convolution, PendingReachesFramesOnlyAtSet) {
  CLfFilter f;
  CFgUIChkButton::SetGroupSelection(&f.m_sizeRadio[0], 1, 0);
  f.m_sizeRadio[1].m_callback(&f.m_sizeRadio[1], f.m_sizeRadio[1].m_user);
  f.m_grid.OnLButtonDown(2 * 30, 2 * 20);  // a cell of the 5 x 5 block
  EXPECT_EQ(1, f.m_setButton.m_enabled);
  EXPECT_EQ(3u, f.GetApplied().size);
  CImgBuff img, ref;
  MakePicture(img, 16, 9, ImgFormatGray8);
  MakePicture(ref, 16, 9, ImgFormatGray8);
  f.Process(&img, 0, 0, 0, 16, 9, 8, 0);
  EXPECT_TRUE(SamePixels(ref, img));
  f.Apply();
  EXPECT_EQ(0, f.m_setButton.m_enabled);
  CLfFilter::Applied a = f.GetApplied();
  EXPECT_EQ(5u, a.size);
  EXPECT_EQ(1, a.kernel[0]);
  EXPECT_EQ(1, a.kernel[12]);
  f.Process(&img, 0, 0, 0, 16, 9, 8, 0);
  RoiRect roi{0, 0, 15, 8};
  ASSERT_EQ(1, ConvolveInt(&ref, 5, a.kernel, 1, 1, &roi));
  EXPECT_TRUE(SamePixels(ref, img));
  // Median disables the grid, the divisor and "auto div"; only the size counts.
  f.m_medianBox.m_checked = 1;
  f.m_medianBox.m_callback(&f.m_medianBox, f.m_medianBox.m_user);
  EXPECT_EQ(0, f.m_grid.m_enabled);
  EXPECT_EQ(0, f.m_divEdit.m_enabled);
  EXPECT_EQ(0, f.m_autoDivBox.m_enabled);
  f.Apply();
  MakePicture(img, 16, 9, ImgFormatGray8);
  MakePicture(ref, 16, 9, ImgFormatGray8);
  f.Process(&img, 0, 0, 0, 16, 9, 8, 0);
  ASSERT_EQ(1, MedianFilter(&ref, 5, &roi));
  EXPECT_TRUE(SamePixels(ref, img));
}

TEST(Convolution, DivisorBox) {
  struct Case {
    const wchar_t *typed, *shown;
    int32_t div;
  } cases[] = {{L"24", L"24", 24},   {L"0", L"1", 1},     {L"-3", L"1", 1},
               {L"2.5", L"1", 1},    {L"", L"1", 1},      {L"2147483647", L"2147483647", 2147483647},
               {L"2147483648", L"1", 1}};
  for (const Case& c : cases) {
    CLfFilter f;
    f.m_divEdit.SetLine(0, c.typed);
    f.m_divEdit.OnFocusLost(&f.m_divEdit, f.m_divEdit.CallbackArg);
    EXPECT_STREQ(c.shown, f.m_divEdit.GetText()) << c.typed;
    EXPECT_EQ(c.div, f.m_pendingDiv) << c.typed;
  }
}

TEST(Convolution, LoadParamsReadings) {
  struct Case {
    const wchar_t *size, *list, *div;  // null: key missing
    uint64_t expectSize;
    int32_t expectDiv;
    int32_t cell0, cell40, cell80;
  } cases[] = {
      {nullptr, nullptr, L"24", 3, 24, 0, 1, 0},
      {nullptr, nullptr, L"2.5", 3, 1, 0, 1, 0},
      {nullptr, nullptr, L"-3", 3, 1, 0, 1, 0},
      {nullptr, nullptr, L"0", 3, 1, 0, 1, 0},
      {nullptr, nullptr, L"4294967297", 3, 1, 0, 1, 0},
      {nullptr, nullptr, L"2147483648", 3, 1, 0, 1, 0},
      {L"4", L"5,5,5", nullptr, 3, 1, 0, 1, 0},
      {L"5", nullptr, nullptr, 3, 1, 0, 1, 0},
      {L"5", L"7,8", nullptr, 5, 1, 7, 1, 0},  // short: the rest kept
      {L"9", L"9,x,4294967296", nullptr, 9, 1, 9, 1, 0},
  };
  for (const Case& c : cases) {
    CLfFilter f;
    CCfgPack pack;
    pack.SetName(L"filter");
    if (c.size) pack.AddItem(L"size", c.size);
    if (c.list) pack.AddItem(L"filter_array", c.list);
    if (c.div) pack.AddItem(L"div", c.div);
    f.LoadParams(&pack);
    CLfFilter::Applied a = f.GetApplied();
    SCOPED_TRACE(testing::Message() << (c.size ? "size" : "") << " " << (c.div ? "div" : ""));
    EXPECT_EQ(c.expectSize, a.size);
    EXPECT_EQ(c.expectDiv, a.div);
    EXPECT_EQ(c.cell0, a.matrix[0][0]);
    EXPECT_EQ(c.cell40, a.matrix[4][4]);
    EXPECT_EQ(c.cell80, a.matrix[8][8]);
    EXPECT_EQ(0, f.m_setButton.m_enabled);
  }
  // A long list: only 81 elements are read; a full round trip of a changed filter.
  std::wstring longList;
  for (int i = 0; i < 90; ++i) longList += std::wstring(i ? L"," : L"") + std::to_wstring(i - 40);
  CLfFilter f;
  CCfgPack in;
  in.SetName(L"filter");
  in.AddItem(L"size", L"7");
  in.AddItem(L"filter_array", longList.c_str());
  in.AddItem(L"div", L"13");
  in.AddItem(L"auto_div", L"0");
  in.AddItem(L"type", L"1");
  f.LoadParams(&in);
  CLfFilter::Applied a = f.GetApplied();
  EXPECT_EQ(-40, a.matrix[0][0]);
  EXPECT_EQ(40, a.matrix[8][8]);
  EXPECT_EQ(1u, a.type);
  EXPECT_EQ(0u, a.autoDiv);
  EXPECT_EQ(1, f.m_medianBox.m_checked);
  EXPECT_EQ(2, CFgUIChkButton::GetGroupSelection(&f.m_sizeRadio[0]));
  CCfgPack out;
  out.SetName(L"filter");
  f.SaveParams(&out);
  std::wstring first81;
  for (int i = 0; i < 81; ++i) first81 += std::wstring(i ? L"," : L"") + std::to_wstring(i - 40);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"size 7",
                                       L"filter_array " + first81, L"div 13", L"auto_div 0",
                                       L"type 1"}),
            PackLines(&out));
}

TEST(Convolution, SmoothOnTheHostEqualsTheEngine) {
  CTestHost host;
  CImgBuff src;
  MakePicture(src, 20, 12, ImgFormatRgb24);
  host.SetStill(src);
  auto* f = new CLfFilter;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  CCfgPack pack;
  pack.SetName(L"filter");
  std::wstring list;
  for (int i = 0; i < 81; ++i) {
    int r = i / 9, c = i % 9, v = 0;
    if (r >= 3 && r <= 5 && c >= 3 && c <= 5) v = (r == 4 && c == 4) ? 12 : (r == 4 || c == 4) ? 2 : 1;
    list += std::wstring(i ? L"," : L"") + std::to_wstring(v);
  }
  pack.AddItem(L"size", L"3");
  pack.AddItem(L"filter_array", list.c_str());
  pack.AddItem(L"div", L"24");
  pack.AddItem(L"auto_div", L"0");
  f->LoadParams(&pack);  // applies and processes the frame
  const int32_t kernel[9] = {1, 2, 1, 2, 12, 2, 1, 2, 1};
  CImgBuff ref;
  MakePicture(ref, 20, 12, ImgFormatRgb24);
  RoiRect roi{0, 0, 19, 11};
  ASSERT_EQ(1, ConvolveInt(&ref, 3, kernel, 0, 24, &roi));
  EXPECT_TRUE(SamePixels(ref, host.m_display));
}

}  // namespace
