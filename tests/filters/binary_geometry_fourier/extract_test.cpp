// extract_test.cpp - colour extraction on the test host: the pack and the defaults, the hue
// window across 0, the gray path, picks with their undo steps, picks at the corner and off
// the picture, the tinted preview, the bars that end picking, a cross-check with OpenCV where
// it is installed, and the worker and the UI thread at the same time.
#include "filters/binary_geometry_fourier/extract.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <random>
#include <thread>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/range.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/bgf_test_util.h"
#include "tests/filters/filter_test_util.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using apptest::SamePixels;
using filtertest::PackLines;

void Press(CFgUIChkButton* box) {
  box->m_checked = box->m_checked ? 0 : 1;
  box->m_callback(box, box->m_user);
}

void Load(CLfExtract* f, std::vector<std::pair<const wchar_t*, const wchar_t*>> items) {
  CCfgPack pack;
  for (auto& kv : items) pack.AddItem(kv.first, kv.second);
  f->LoadParams(&pack);
}

ExtractRange Range(uint16_t hc, uint16_t hw, uint16_t s0, uint16_t s1, uint16_t v0,
                   uint16_t v1) {
  ExtractRange r;
  r.hue = hc;
  r.halfWidth = hw;
  r.satLow = s0;
  r.satHigh = s1;
  r.valLow = v0;
  r.valHigh = v1;
  return r;
}

// Two 8 x 8 patches side by side on a 16 x 8 picture: red left, blue right.
void Patches(CImgBuff& img) {
  ASSERT_EQ(1, img.Allocate(16, 8, ImgFormatRgb24));
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 16; ++x)
      x < 8 ? img.SetRGB8(x, y, 200, 40, 30) : img.SetRGB8(x, y, 30, 60, 190);
}

ExtractRange WindowOf(uint8_t r, uint8_t g, uint8_t b) {
  CImgBuff one;
  one.Allocate(1, 1, ImgFormatRgb24);
  one.SetRGB8(0, 0, r, g, b);
  uint16_t h, s, v;
  one.record->GetHSV16(0, 0, &h, &s, &v);
  return Range(h, 0, s, s, v, v);
}

TEST(Extract, NameKeyDefaultsAndTheirPack) {
  CLfExtract f;
  EXPECT_STREQ(L"Extraction", f.GetName(L"en"));
  EXPECT_STREQ(L"\u62BD\u51FA", f.GetName(L"jp"));
  EXPECT_STREQ(L"extraction", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ(PackLines(&pack),
            (std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"reverse 0", L"fill 0",
                                       L"gray 0", L"hc 0", L"hw 32768", L"s 0,65535",
                                       L"v 0,65535"}));
  EXPECT_EQ(32768, f.m_toleranceBar.m_maximum);
  EXPECT_EQ(32768, f.m_toleranceBar.m_position);
  EXPECT_EQ(256, f.m_hueBar.m_wheelStep);
  EXPECT_EQ(65535, f.m_valBar.m_high);
}

TEST(Extract, DefaultsChangeNothingAndFillMakesAWholeColourPictureGray) {
  CImgBuff src;
  apptest::MakePicture(src, 24, 16, ImgFormatRgb24, 5);
  CTestHost host;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_TRUE(SamePixels(src, host.m_display));
  Press(&f->m_fillBox);
  ASSERT_EQ(ImgFormatGray8, host.m_display.Format());
  // The controller's background is white, so the foreground is black.
  for (int32_t i = 0; i < 24 * 16; ++i)
    ASSERT_EQ(0, static_cast<const uint8_t*>(host.m_display.Pixels())[i]);
}

TEST(Extract, FillInsideASmallerRectangleKeepsTheColourPicture) {
  CImgBuff src;
  apptest::MakePicture(src, 24, 16, ImgFormatRgb48, 5);
  CTestHost host;
  host.SetStill(src);
  auto* rect = new CLfRect;
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(rect, nullptr));
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Press(&f->m_fillBox);
  bgftest::Draw(rect, 2, 2, 9, 9);
  ASSERT_EQ(ImgFormatRgb48, host.m_display.Format());
  uint16_t r, g, b;
  ASSERT_EQ(1, host.m_display.GetRGB16(5, 5, &r, &g, &b));
  EXPECT_EQ(0, r + g + b);
}

TEST(Extract, PackReadingAcceptsOnlyWhatTheBarsCanShow) {
  struct Case {
    const wchar_t* key;
    const wchar_t* value;
    ExtractRange want;
  };
  const ExtractRange d;
  const Case cases[] = {
      {L"hc", L"65535", Range(65535, 32768, 0, 65535, 0, 65535)},
      {L"hc", L"65536", d},
      {L"hc", L"12abc", Range(12, 32768, 0, 65535, 0, 65535)},
      {L"hc", L"-1", d},
      {L"hw", L"32768", d},
      {L"hw", L"32769", d},
      {L"hw", L"7", Range(0, 7, 0, 65535, 0, 65535)},
      {L"s", L"10,20", Range(0, 32768, 10, 20, 0, 65535)},
      {L"s", L"20,10", d},
      {L"s", L"10", d},
      {L"s", L"0,65536", d},
      {L"v", L"x,5", Range(0, 32768, 0, 65535, 0, 5)},  // no digits read as 0
      {L"v", L"5,5", Range(0, 32768, 0, 65535, 5, 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << "=" << c.value);
    CLfExtract f;
    Load(&f, {{c.key, c.value}});
    EXPECT_TRUE(f.GetRange() == c.want);
  }
  CLfExtract f;
  Load(&f, {{L"reverse", L"1"}, {L"fill", L"2"}, {L"gray", L"1"}, {L"hc", L"100"},
            {L"s", L"1,2"}});
  EXPECT_EQ(1, f.m_reverseBox.m_checked);
  EXPECT_EQ(0, f.m_fillBox.m_checked);
  EXPECT_EQ(1, f.m_grayBox.m_checked);
  EXPECT_EQ(100, f.m_hueBar.m_position);
  EXPECT_EQ(1, f.m_satBar.m_low);
  EXPECT_EQ(2, f.m_satBar.m_high);
  EXPECT_EQ(0, f.m_hueBar.m_enabled) << "gray on: the colour bars are off";
  EXPECT_EQ(0, f.m_satBar.m_enabled);
  EXPECT_EQ(1, f.m_valBar.m_enabled);
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_STREQ(L"1", pack.FindItem(L"gray")->value);
  EXPECT_STREQ(L"1,2", pack.FindItem(L"s")->value);
}

// Every hue once on an H, S, V picture: centre 1000 with half width 3000 keeps 63536 to
// 65535 and 0 to 4000; everything else gets the background.
TEST(Extract, HueWindowCrossingZero) {
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(256, 256, ImgFormatHsv48));
  auto* p = static_cast<uint16_t*>(src.Pixels());
  for (uint32_t i = 0; i < 65536; ++i) {
    p[i * 3] = uint16_t(i);
    p[i * 3 + 1] = 65535;
    p[i * 3 + 2] = 65535;
  }
  CTestHost host;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Load(f, {{L"hc", L"1000"}, {L"hw", L"3000"}});
  ASSERT_EQ(1, host.Reprocess(0));
  CImgBuff removed;
  ASSERT_EQ(1, removed.Allocate(1, 1, ImgFormatHsv48));
  removed.record->SetGray16(0, 0, 65535);  // white background
  const uint16_t* bgPixel = static_cast<const uint16_t*>(removed.Pixels());
  const uint16_t* out = static_cast<const uint16_t*>(host.m_display.Pixels());
  for (uint32_t i = 0; i < 65536; ++i) {
    const bool kept = i >= 63536 || i <= 4000;
    const uint16_t* want = kept ? &p[i * 3] : bgPixel;
    ASSERT_EQ(0, std::memcmp(want, &out[i * 3], 6)) << "hue " << i;
  }
}

// "grayscale" on 8-bit colour: luma against the high bytes of the value window.
TEST(Extract, GrayscaleComparesLumaWithTheValueWindow) {
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(256, 3, ImgFormatRgb24));
  for (int32_t x = 0; x < 256; ++x) {
    src.SetRGB8(x, 0, uint8_t(x), uint8_t(x), uint8_t(x));
    src.SetRGB8(x, 1, uint8_t(x), 0, uint8_t(255 - x));
    src.SetRGB8(x, 2, 255, uint8_t(x), 0);
  }
  CTestHost host;
  host.m_background = 0;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Load(f, {{L"gray", L"1"}, {L"v", L"32768,65535"}, {L"s", L"60000,65535"}});
  ASSERT_EQ(1, host.Reprocess(0));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 256; ++x) {
      uint8_t luma = 0, r, g, b, r0, g0, b0;
      src.GetGray8(x, y, &luma);
      src.GetRGB8(x, y, &r0, &g0, &b0);
      host.m_display.GetRGB8(x, y, &r, &g, &b);
      if (luma >= 128) {
        EXPECT_TRUE(r == r0 && g == g0 && b == b0) << x << "," << y;
      } else {
        EXPECT_TRUE(r == 0 && g == 0 && b == 0) << x << "," << y;
      }
    }
}

// A gray picture is judged by value even with a saturation window that no gray pixel meets.
TEST(Extract, GrayPictureByValueOnly) {
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(256, 1, ImgFormatGray16));
  for (int32_t x = 0; x < 256; ++x) src.SetGray16(x, 0, uint16_t(x * 257));
  CTestHost host;
  host.m_background = 0;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Load(f, {{L"s", L"100,200"}, {L"v", L"1000,30000"}, {L"reverse", L"1"}});
  ASSERT_EQ(1, host.Reprocess(0));
  for (int32_t x = 0; x < 256; ++x) {
    uint16_t v = 0;
    host.m_display.GetGray16(x, 0, &v);
    const bool inside = x * 257 >= 1000 && x * 257 <= 30000;
    EXPECT_EQ(inside ? 0 : x * 257, v) << x;
  }
}

// "pickup and set", two clicks, then right clicks: the first click's window, the whole
// window, the window before, and then nothing.
TEST(Extract, PicksAndTheirUndoSteps) {
  CImgBuff src;
  Patches(src);
  CTestHost host;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  const ExtractRange before = Range(100, 50, 10, 20, 30, 40);
  Load(f, {{L"hc", L"100"}, {L"hw", L"50"}, {L"s", L"10,20"}, {L"v", L"30,40"}});
  f->OnLButtonDown(3, 3, 0);  // mode none: nothing
  EXPECT_EQ(0u, f->GetUndoCount());

  Press(&f->m_pickSetBox);
  EXPECT_EQ(uint32_t(CLfExtract::PickSet), f->GetPickMode());
  EXPECT_TRUE(f->GetRange() == ExtractRange{});
  EXPECT_EQ(1u, f->GetUndoCount());
  f->OnLButtonDown(3, 3, 0);
  const ExtractRange first = WindowOf(200, 40, 30);
  EXPECT_TRUE(f->GetRange() == first);
  EXPECT_EQ(uint32_t(CLfExtract::PickAdd), f->GetPickMode());
  EXPECT_EQ(0, f->m_pickSetBox.m_checked);
  EXPECT_EQ(1, f->m_pickAddBox.m_checked);
  EXPECT_EQ(first.hue, f->m_hueBar.m_position);
  EXPECT_EQ(0, f->m_toleranceBar.m_position);
  // Only the red patch is kept; the blue one is white (the background).
  uint8_t r, g, b;
  host.m_display.GetRGB8(2, 2, &r, &g, &b);
  EXPECT_EQ(200, r);
  host.m_display.GetRGB8(12, 2, &r, &g, &b);
  EXPECT_EQ(255, r + 0 * g * b);

  f->OnLButtonDown(12, 4, 0);
  const ExtractRange second = f->GetRange();
  EXPECT_GT(second.halfWidth, 0);
  EXPECT_EQ(3u, f->GetUndoCount());
  EXPECT_TRUE(SamePixels(src, host.m_display)) << "both patches kept";

  f->OnRButtonDown(0, 0, 0);
  EXPECT_TRUE(f->GetRange() == first);
  f->OnRButtonDown(0, 0, 0);
  EXPECT_TRUE(f->GetRange() == ExtractRange{});
  f->OnRButtonDown(0, 0, 0);
  EXPECT_TRUE(f->GetRange() == before);
  EXPECT_EQ(0u, f->GetUndoCount());
  f->OnRButtonDown(0, 0, 0);
  EXPECT_TRUE(f->GetRange() == before);
  EXPECT_EQ(uint32_t(CLfExtract::PickAdd), f->GetPickMode()) << "undo leaves the mode";
}

TEST(Extract, AddFromTheWholeWindowChangesNothingButRecords) {
  CImgBuff src;
  Patches(src);
  CTestHost host;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Press(&f->m_pickAddBox);
  f->OnLButtonDown(3, 3, 0);
  f->OnLButtonDown(12, 3, 0);
  EXPECT_TRUE(f->GetRange() == ExtractRange{});
  EXPECT_EQ(2u, f->GetUndoCount());
  // Unticking forgets the list.
  Press(&f->m_pickAddBox);
  EXPECT_EQ(0u, f->GetUndoCount());
  EXPECT_EQ(uint32_t(CLfExtract::PickNone), f->GetPickMode());
}

TEST(Extract, MovingABarEndsPicking) {
  CImgBuff src;
  Patches(src);
  CTestHost host;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Press(&f->m_pickSetBox);
  f->OnLButtonDown(3, 3, 0);
  ASSERT_EQ(2u, f->GetUndoCount());
  f->m_valBar.m_low = 10;
  f->m_valBar.m_callback(&f->m_valBar, f->m_valBar.m_user, 10, f->m_valBar.m_high);
  EXPECT_EQ(uint32_t(CLfExtract::PickNone), f->GetPickMode());
  EXPECT_EQ(0u, f->GetUndoCount());
  EXPECT_EQ(0, f->m_pickAddBox.m_checked);
  EXPECT_EQ(10, f->GetRange().valLow);
  f->OnRButtonDown(0, 0, 0);
  EXPECT_EQ(10, f->GetRange().valLow);
}

// A corner pick samples the part of its box inside the picture; a pick off the picture
// (a chain that shrank it) is dropped without a record.
TEST(Extract, CornerAndOffPicturePicks) {
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(6, 6, ImgFormatRgb24));
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 6; ++x)
      src.SetRGB8(x, y, uint8_t(100 + x * 20), uint8_t(50 + y * 10), 40);
  CTestHost host;
  host.SetStill(src);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  Press(&f->m_pickSetBox);
  f->OnLButtonDown(0, 0, 0);
  ExtractRange want = WindowOf(100, 50, 40);
  for (int32_t y = 0; y <= 2; ++y)
    for (int32_t x = 0; x <= 2; ++x) {
      uint16_t h, s, v;
      src.record->GetHSV16(x, y, &h, &s, &v);
      AdjustHueInterval(want.hue, want.halfWidth, h, &want.hue, &want.halfWidth);
      want.satLow = std::min(want.satLow, s);
      want.satHigh = std::max(want.satHigh, s);
      want.valLow = std::min(want.valLow, v);
      want.valHigh = std::max(want.valHigh, v);
    }
  EXPECT_TRUE(f->GetRange() == want);
  ASSERT_EQ(2u, f->GetUndoCount());
  const int64_t points[][2] = {{6, 0}, {0, 6}, {-1, 2}, {100000, 100000}, {INT64_MIN, 3}};
  for (const auto& pt : points) {
    f->OnLButtonDown(pt[0], pt[1], 0);
    EXPECT_TRUE(f->GetRange() == want) << pt[0] << "," << pt[1];
    EXPECT_EQ(2u, f->GetUndoCount());
    EXPECT_EQ(uint32_t(CLfExtract::PickAdd), f->GetPickMode());
  }
  // A set pick off the picture leaves set mode as it was.
  Press(&f->m_pickSetBox);
  f->OnLButtonDown(9, 9, 0);
  EXPECT_EQ(uint32_t(CLfExtract::PickSet), f->GetPickMode());
  EXPECT_TRUE(f->GetRange() == ExtractRange{});
}

TEST(Extract, PreviewTintsTheDroppedPixelsOfAGrayPicture) {
  struct Case {
    double guide[3];
    uint8_t light[3], dark[3];
  } cases[] = {
      {{1, 0, 0}, {146, 50, 50}, {82, 50, 50}},
      {{0, 0, 0}, {113, 113, 113}, {50, 50, 50}},
      {{0, 1, 1}, {50, 146, 146}, {50, 82, 82}},
  };
  for (const Case& c : cases) {
    CImgBuff src;
    ASSERT_EQ(1, src.Allocate(12, 10, ImgFormatGray8));
    std::memset(src.Pixels(), 100, 120);
    CTestHost host;
    host.SetStill(src);
    host.SetOverlayColor(c.guide[0], c.guide[1], c.guide[2]);
    auto* rect = new CLfRect;
    auto* f = new CLfExtract;
    ASSERT_EQ(1, host.AddFilter(rect, nullptr));
    ASSERT_EQ(1, host.AddFilter(f, nullptr));
    Load(f, {{L"v", L"0,50000"}, {L"reverse", L"1"}});  // 100 x 257 lies inside: dropped
    Press(&f->m_previewBox);
    bgftest::Draw(rect, 1, 1, 10, 8);
    ASSERT_EQ(ImgFormatRgb24, host.m_display.Format()) << "made colour for the rest of the chain";
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 12; ++x) {
        uint8_t px[3];
        host.m_display.GetRGB8(x, y, &px[0], &px[1], &px[2]);
        const bool inside = x >= 1 && x <= 10 && y >= 1 && y <= 8;
        const bool light = (((x - 1) / 4 + (y - 1) / 4) & 1) == 0;
        for (int ch = 0; ch < 3; ++ch) {
          const uint8_t want = !inside ? 100 : (light ? c.light[ch] : c.dark[ch]);
          ASSERT_EQ(want, px[ch]) << x << "," << y << " channel " << ch;
        }
      }
  }
}

// The fast 8-bit rows equal the accessor rows on every format's reading.
TEST(Extract, PreviewRowsFastPathEqualsTheAccessors) {
  std::mt19937 rng(7);
  CImgBuff pic, mask;
  ASSERT_EQ(1, pic.Allocate(37, 11, ImgFormatRgb24));
  ASSERT_EQ(1, mask.Allocate(37, 11, ImgFormatRgb24));
  auto* p = static_cast<uint8_t*>(pic.Pixels());
  for (int i = 0; i < 37 * 11 * 3; ++i) p[i] = uint8_t(rng());
  for (int i = 0; i < 37 * 11; ++i) {
    const uint8_t m = (rng() & 1) ? 255 : 0;
    std::memset(static_cast<uint8_t*>(mask.Pixels()) + i * 3, m, 3);
  }
  CImgBuff viaAccessors, mask48;
  viaAccessors.record->CopyFrom(*pic.record);
  ASSERT_EQ(1, viaAccessors.record->ConvertTo(ImgFormatCmyk32));  // not the fast path
  mask48.record->CopyFrom(*mask.record);
  ASSERT_EQ(1, mask48.record->ConvertTo(ImgFormatRgb48));
  const uint8_t tint[3] = {255, 0, 40};
  ExtractPreviewJob fast{&pic, &mask, 3, 1, 34, 9, {}, {}};
  ExtractPreviewTint(tint, fast.light, fast.dark);
  ExtractPreviewJob slow = fast;
  slow.picture = &viaAccessors;
  slow.mask = &mask48;
  CLfExtract::PreviewRows(&fast, 0, 9);
  CLfExtract::PreviewRows(&slow, 0, 9);
  for (int32_t y = 0; y < 11; ++y)
    for (int32_t x = 0; x < 37; ++x) {
      uint8_t a[3], b[3];
      pic.GetRGB8(x, y, &a[0], &a[1], &a[2]);
      viaAccessors.GetRGB8(x, y, &b[0], &b[1], &b[2]);
      ASSERT_EQ(0, std::memcmp(a, b, 3)) << x << "," << y;
    }
}

TEST(Extract, TintFollowsTheGuideColour) {
  CTestHost host;
  host.SetOverlayColor(0.5, 1.0, 0.0);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  uint8_t t[3];
  f->GetTint(t);
  EXPECT_EQ(127, t[0]);
  EXPECT_EQ(255, t[1]);
  EXPECT_EQ(0, t[2]);
}

#ifdef QV_HAVE_OPENCV
// The colour path against OpenCV's HSV on the float picture (degrees, S = delta / max,
// V = max) and inRange, on random pixels and a hue wheel.  Pixels within 4 hue or 2 S/V
// units of a bound differ by rounding only and are left out.
TEST(Extract, ColourPathMatchesOpenCv) {
  const int w = 360, h = 200;
  cv::Mat rgb(h, w, CV_8UC3);
  std::mt19937 rng(11);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      cv::Vec3b& p = rgb.at<cv::Vec3b>(y, x);
      if (y < 100) {
        p = cv::Vec3b(uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
      } else {  // hue wheel
        cv::Mat one(1, 1, CV_32FC3, cv::Scalar(x, 0.85, 0.4 + 0.005 * (y - 100)));
        cv::Mat back;
        cv::cvtColor(one, back, cv::COLOR_HSV2RGB);
        cv::Vec3f c = back.at<cv::Vec3f>(0, 0);
        p = cv::Vec3b(uint8_t(c[0] * 255), uint8_t(c[1] * 255), uint8_t(c[2] * 255));
      }
    }
  cv::Mat f32;
  rgb.convertTo(f32, CV_32FC3, 1.0 / 255);
  cv::Mat hsv;
  cv::cvtColor(f32, hsv, cv::COLOR_RGB2HSV);
  struct Case {
    uint16_t hc, hw, s0, s1, v0, v1;
  } cases[] = {{0, 3000, 20000, 65535, 10000, 65535},     // red, across 0
               {21844, 5000, 0, 40000, 30000, 60000},     // green
               {50000, 12000, 30000, 65535, 0, 65535},
               {60000, 8000, 0, 65535, 20000, 50000}};
  auto deg = [](uint32_t hv) {
    // The red sector below 0 is wrapped at 65535, the others count from 0 by 10922 per 60.
    return hv >= 54613 ? 360.0 - (65535.0 - hv) * 60.0 / 10922.0 : hv * 60.0 / 10922.0;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "centre " << c.hc);
    CImgBuff src;
    ASSERT_EQ(1, src.Allocate(w, h, ImgFormatRgb24));
    std::memcpy(src.Pixels(), rgb.data, size_t(w) * h * 3);
    CTestHost host;
    host.m_background = 0;
    host.SetStill(src);
    auto* f = new CLfExtract;
    ASSERT_EQ(1, host.AddFilter(f, nullptr));
    const std::wstring hc = std::to_wstring(c.hc), hw = std::to_wstring(c.hw);
    const std::wstring sr = std::to_wstring(c.s0) + L"," + std::to_wstring(c.s1);
    const std::wstring vr = std::to_wstring(c.v0) + L"," + std::to_wstring(c.v1);
    Load(f, {{L"hc", hc.c_str()}, {L"hw", hw.c_str()}, {L"s", sr.c_str()}, {L"v", vr.c_str()},
             {L"fill", L"1"}});
    ASSERT_EQ(1, host.Reprocess(0));
    // A whole colour picture with fill becomes 8-bit gray: kept pixels white on black.
    const CImgBuff& pic = host.m_display;
    ASSERT_EQ(ImgFormatGray8, pic.Format());
    const uint16_t lo = uint16_t(c.hc - c.hw), hi = uint16_t(c.hc + c.hw);
    const double dlo = deg(lo), dhi = deg(hi);
    cv::Mat in1, in2, inside;
    const double s0 = c.s0 / 65534.0, s1 = c.s1 / 65534.0, v0 = c.v0 / 65535.0, v1 = c.v1 / 65535.0;
    if (dlo <= dhi) {
      cv::inRange(hsv, cv::Scalar(dlo, s0, v0), cv::Scalar(dhi, s1, v1), inside);
    } else {  // across 0: two windows OR-ed
      cv::inRange(hsv, cv::Scalar(dlo, s0, v0), cv::Scalar(360, s1, v1), in1);
      cv::inRange(hsv, cv::Scalar(0, s0, v0), cv::Scalar(dhi, s1, v1), in2);
      cv::bitwise_or(in1, in2, inside);
    }
    int compared = 0, differ = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const cv::Vec3f v = hsv.at<cv::Vec3f>(y, x);
        const double hue16 = v[0] >= 300 ? 65535.0 - (360 - v[0]) * 10922.0 / 60 : v[0] * 10922.0 / 60;
        auto nearHue = [&](uint16_t b) {
          double d = std::fabs(hue16 - b);
          return std::min(d, 65536 - d) <= 4;
        };
        if (v[1] > 0 && (nearHue(lo) || nearHue(hi))) continue;
        if (std::fabs(v[1] * 65534 - c.s0) <= 2 || std::fabs(v[1] * 65534 - c.s1) <= 2) continue;
        if (std::fabs(v[2] * 65535 - c.v0) <= 2 || std::fabs(v[2] * 65535 - c.v1) <= 2) continue;
        ++compared;
        uint8_t g = 0;
        pic.GetGray8(x, y, &g);
        if ((g == 255) != (inside.at<uint8_t>(y, x) != 0)) ++differ;
      }
    EXPECT_GT(compared, w * h * 95 / 100);
    EXPECT_EQ(0, differ);
  }
}
#endif

// The UI thread drags bars, toggles boxes and right-clicks while the worker processes gray
// and colour frames with picks pending.  A watchdog turns a hang into a failure.
TEST(Extract, LockStress) {
  CImgBuff colour, gray;
  Patches(colour);
  ASSERT_EQ(1, gray.Allocate(16, 8, ImgFormatGray8));
  CTestHost host;
  host.SetStill(colour);
  auto* f = new CLfExtract;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  std::atomic<int> done{0};
  std::thread watchdog([&] {
    for (int i = 0; i < 600 && !done.load(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!done.load()) {
      ADD_FAILURE() << "lock stress hung";
      std::_Exit(1);
    }
  });
  std::atomic<int> frames{0};
  host.m_onProcessedHook = [&] {
    if (frames.fetch_add(1) < 400) host.RequestProcess(1);
  };
  for (int i = 0; i < 300; ++i) {
    switch (i % 8) {
      case 0: Press(&f->m_pickSetBox); break;
      case 1: f->OnLButtonDown(i % 16, i % 8, 0); break;
      case 2:
        f->m_hueBar.m_position = (i * 977) % 65536;
        f->m_hueBar.m_callback(&f->m_hueBar, f, f->m_hueBar.m_position);
        break;
      case 3: Press(&f->m_pickAddBox); f->OnLButtonDown(3, 3, 0); break;
      case 4: f->OnRButtonDown(0, 0, 0); break;
      case 5: Press(&f->m_grayBox); break;
      case 6: Press(&f->m_previewBox); break;
      case 7: host.SetStill(i % 16 == 7 ? gray : colour); host.RequestProcess(1); break;
    }
  }
  ASSERT_EQ(1, host.Reprocess(0));
  done.store(1);
  watchdog.join();
  host.m_onProcessedHook = nullptr;
}

}  // namespace
