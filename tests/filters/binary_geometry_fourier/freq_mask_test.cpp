// freq_mask_test.cpp - the frequency mask on the test host: radius indexes at N 128, the
// ranges that clear nothing and the mean, the band-stop and band-pass against numpy, the
// shown spectrum blackened, the mask alone and with a rectangle that is gone, and its packs.
#include "filters/binary_geometry_fourier/freq_mask.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "app/spectrum.h"
#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/fourier.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/bgf_test_util.h"
#include "tests/filters/filter_test_util.h"
#include "tests/test_files.h"

namespace {

using apptest::SamePixels;
using filtertest::PackLines;

const uint8_t* Bytes(const CImgBuff& img) { return static_cast<const uint8_t*>(img.Pixels()); }

void SetRange(CLfFreqMask* f, int32_t low, int32_t high) {
  f->m_rangeBar.m_low = low;
  f->m_rangeBar.m_high = high;
  f->m_rangeBar.m_callback(&f->m_rangeBar, f->m_rangeBar.m_user, low, high);
}

void Load(CLfFreqMask* f, std::vector<std::pair<const wchar_t*, const wchar_t*>> items) {
  CCfgPack pack;
  for (auto& kv : items) pack.AddItem(kv.first, kv.second);
  f->LoadParams(&pack);
}

TEST(FreqMask, NameKeyAndDefaults) {
  CLfFreqMask f;
  EXPECT_STREQ(L"Frequency mask", f.GetName(L"en"));
  EXPECT_STREQ(L"\u5468\u6CE2\u6570\u30DE\u30B9\u30AF", f.GetName(L"jp"));
  EXPECT_STREQ(L"frequency_mask", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ(PackLines(&pack),
            (std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"range_min 179",
                                       L"range_max 179", L"revers 0"}));
}

TEST(FreqMask, RadiusIndexes) {
  // N 128: the centre (63.5, 63.5) lies between the four middle coefficients.
  for (int32_t y : {63, 64})
    for (int32_t x : {63, 64}) EXPECT_EQ(1, FreqMaskRadiusIndex(128, x, y));
  EXPECT_EQ(179, FreqMaskRadiusIndex(128, 0, 0));
  EXPECT_EQ(179, FreqMaskRadiusIndex(128, 127, 127));
  EXPECT_EQ(179, FreqMaskRadiusIndex(128, 0, 127));
  EXPECT_EQ(0, FreqMaskRadiusIndex(1, 0, 0));
}

TEST(FreqMask, PacksTakeOnlyAGoodPair) {
  struct Case {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
    int32_t low, high;
    uint32_t revers;
  } cases[] = {
      {{{L"range_min", L"5"}, {L"range_max", L"10"}}, 5, 10, 0},
      {{{L"range_min", L"10"}, {L"range_max", L"5"}}, 179, 179, 0},
      {{{L"range_min", L"-1"}, {L"range_max", L"5"}}, 179, 179, 0},
      {{{L"range_min", L"0"}, {L"range_max", L"180"}}, 179, 179, 0},
      {{{L"range_min", L"10"}}, 10, 179, 0},  // the missing one is the bar's
      {{{L"range_max", L"5"}}, 179, 179, 0},  // 179 > 5: refused
      {{{L"revers", L""}}, 179, 179, 1},
      {{{L"revers", L"2"}}, 179, 179, 1},
      {{{L"revers", L"0"}}, 179, 179, 0},
  };
  for (const Case& c : cases) {
    CLfFreqMask f;
    Load(&f, c.items);
    const CLfFreqMask::Settings s = f.GetSettings();
    EXPECT_EQ(c.low, s.rangeMin);
    EXPECT_EQ(c.high, s.rangeMax);
    EXPECT_EQ(c.low, f.m_rangeBar.m_low);
    EXPECT_EQ(c.revers, s.revers);
    EXPECT_EQ(int32_t(c.revers), f.m_reversBox.m_checked);
  }
  CLfFreqMask f;
  Load(&f, {{L"range_min", L"0"}, {L"range_max", L"0"}});
  Load(&f, {{L"range_max", L"7"}});
  EXPECT_EQ(7, f.GetSettings().rangeMax);
  EXPECT_EQ(0, f.GetSettings().rangeMin);
}

struct Chain {
  CTestHost host;
  CLfRect* rect = nullptr;
  CLfFreqMask* mask = nullptr;
};

// FFT, mask and (with inverse) IFFT over the rectangle (x0, y0)-(x1, y1).
void Build(Chain& c, const CImgBuff& src, int32_t inverse) {
  c.host.SetStill(src);
  c.rect = new CLfRect;
  c.mask = new CLfFreqMask;
  ASSERT_EQ(1, c.host.AddFilter(c.rect, nullptr));
  ASSERT_EQ(1, c.host.AddFilter(new CLfFFT, nullptr));
  ASSERT_EQ(1, c.host.AddFilter(c.mask, nullptr));
  if (inverse) {
    ASSERT_EQ(1, c.host.AddFilter(new CLfIFFT, nullptr));
  }
}

TEST(FreqMask, RangeZeroToZeroClearsNothingZeroToOneTheMean) {
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(128, 128, ImgFormatGray8));
  std::memset(src.Pixels(), 90, 128 * 128);
  Chain c;
  Build(c, src, 1);
  SetRange(c.mask, 0, 0);
  EXPECT_TRUE(SamePixels(src, c.host.m_display));
  SetRange(c.mask, 0, 1);
  for (int i = 0; i < 128 * 128; ++i) ASSERT_EQ(0, Bytes(c.host.m_display)[i]) << i;
}

TEST(FreqMask, ShownSpectrumBlackWhereCleared) {
  CImgBuff src;
  apptest::MakePicture(src, 160, 90, ImgFormatRgb24, 3);
  Chain c;
  Build(c, src, 0);
  SetRange(c.mask, 0, 20);
  bgftest::Draw(c.rect, 20, 10, 119, 69);  // 100 x 60: N 128, shown from (14, 34)
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 100; ++x) {
      const bool cleared = FreqMaskRadiusIndex(128, x + 14, y + 34) <= 20;
      uint8_t r, g, b;
      c.host.m_display.GetRGB8(20 + x, 10 + y, &r, &g, &b);
      if (cleared) {
        ASSERT_EQ(0, r + g + b) << x << "," << y;
      } else {
        ASSERT_GT(r, 0) << x << "," << y;
      }
    }
  // The changed entry went back on the stack for an inverse to take.
  ASSERT_EQ(1u, SpectrumStackCount());
  SpectrumStackEntry e{};
  ASSERT_EQ(1, PopSpectrum(&e));
  for (int ch = 0; ch < 3; ++ch) {
    EXPECT_EQ(0.0, e.record.re[ch][64 * 128 + 64]);
    EXPECT_NE(0.0, e.record.re[ch][0] * e.record.re[ch][0] + e.record.im[ch][0] * e.record.im[ch][0]);
  }
  FftFree(&e.record);
}

TEST(FreqMask, AloneOrWithItsRectangleGoneChangesNothing) {
  CImgBuff src;
  apptest::MakePicture(src, 40, 30, ImgFormatGray8, 3);
  {
    CTestHost host;
    host.SetStill(src);
    ASSERT_EQ(1, host.AddFilter(new CLfFreqMask, nullptr));
    ASSERT_EQ(1, host.Reprocess(0));
    EXPECT_TRUE(SamePixels(src, host.m_display));
  }
  // An entry whose rectangle no longer lies in the picture is dropped and its block freed
  // (the sanitizer's leak check sees the rest).
  CLfFreqMask mask;
  SpectrumStackEntry e{};
  CImgBuff piece;
  ASSERT_EQ(1, src.Crop(piece, 0, 0, 15, 15));
  ASSERT_EQ(1, FftForward(&e.record, &piece));
  e.x0 = 30;
  e.y0 = 20;
  e.x1 = 45;
  e.y1 = 35;
  EmptySpectrumStack();
  ASSERT_EQ(1, PushSpectrum(&e));
  CImgBuff pic;
  pic.CopyFrom(src);
  mask.Process(&pic, 0, 0, 0, 40, 30, 8, 0);
  EXPECT_EQ(0u, SpectrumStackCount());
  EXPECT_TRUE(SamePixels(src, pic));
}

TEST(FreqMask, CountsAmongTheStacksOwners) {
  {
    CImgBuff src;
    apptest::MakePicture(src, 32, 32, ImgFormatGray8, 3);
    Chain c;
    Build(c, src, 0);
    ASSERT_EQ(1, c.host.Reprocess(0));
    EXPECT_EQ(2u, SpectrumStackInstances());
    EXPECT_EQ(1u, SpectrumStackCount()) << "the masked entry waits for an inverse";
  }
  EXPECT_EQ(0u, SpectrumStackInstances());
  EXPECT_EQ(0u, SpectrumStackCapacity()) << "the last owner freed the stack";
}

// ---- numpy ---------------------------------------------------------------------------------
bool HaveNumpy() { return std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") == 0; }

// FFT, mask, IFFT of a 100 x 60 rectangle against numpy's band-stop and band-pass.
TEST(FreqMask, BandStopAndBandPassMatchNumpy) {
  if (!HaveNumpy()) GTEST_SKIP() << "no numpy";
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(120, 80, ImgFormatGray8));
  for (int32_t y = 0; y < 80; ++y)
    for (int32_t x = 0; x < 120; ++x)
      src.SetGray8(x, y, uint8_t(128 + 60 * std::sin(x * 0.9) + 50 * std::cos(y * 0.13)));
  struct Case {
    int32_t low, high;
    uint32_t revers;
  } cases[] = {{5, 40, 0}, {0, 10, 1}, {30, 179, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.low << ".." << k.high << " revers " << k.revers);
    Chain c;
    Build(c, src, 1);
    if (k.revers) {
      c.mask->m_reversBox.m_checked = 1;
      c.mask->m_reversBox.m_callback(&c.mask->m_reversBox, c.mask);
    }
    SetRange(c.mask, k.low, k.high);
    bgftest::Draw(c.rect, 10, 12, 109, 71);
    CImgBuff piece;
    ASSERT_EQ(1, src.Crop(piece, 10, 12, 109, 71));
    std::vector<uint8_t> in(20);
    const int32_t head[5] = {100, 60, k.low, k.high, int32_t(k.revers)};
    std::memcpy(in.data(), head, 20);
    in.insert(in.end(), Bytes(piece), Bytes(piece) + 6000);
    const std::string inPath = "freq_mask_np_in.bin", outPath = "freq_mask_np_out.bin";
    ASSERT_TRUE(testfiles::WriteFile(inPath, in));
    const std::string script = std::string(QV_TEST_DATA_DIR) + "/filters/freq_mask_reference.py";
    ASSERT_EQ(0, std::system(("/usr/bin/python3 '" + script + "' " + inPath + " " + outPath).c_str()));
    const std::vector<uint8_t> out = testfiles::ReadFile(outPath);
    ASSERT_EQ(6000u * 8, out.size());
    const double* want = reinterpret_cast<const double*>(out.data());
    for (int32_t y = 0; y < 80; ++y)
      for (int32_t x = 0; x < 120; ++x) {
        uint8_t got = 0;
        c.host.m_display.GetGray8(x, y, &got);
        if (x < 10 || x > 109 || y < 12 || y > 71) {
          uint8_t s = 0;
          src.GetGray8(x, y, &s);
          ASSERT_EQ(s, got);
          continue;
        }
        const double v = std::fmin(255.0, std::fmax(0.0, want[(y - 12) * 100 + (x - 10)]));
        ASSERT_LE(std::fabs(v - got), 1.0) << x << "," << y << " numpy " << v;
      }
  }
}

}  // namespace
