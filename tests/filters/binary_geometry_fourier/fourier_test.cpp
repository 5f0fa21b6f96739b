// fourier_test.cpp - FFT, IFFT and IFFT EX on the test host: the round trip of the chain
// rectangle, the spectrum picture, pairing newest first, the cases that change nothing, and
// the stack's storage owned by the filters alive.
#include "filters/binary_geometry_fourier/fourier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/spectrum.h"
#include "core/imgbuff.h"
#include "filters/colour_pixel/rect.h"
#include "tests/filters/binary_geometry_fourier/bgf_test_util.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;
using bgftest::Draw;

const uint8_t* Bytes(const CImgBuff& img) { return static_cast<const uint8_t*>(img.Pixels()); }

double Psnr(const CImgBuff& a, const CImgBuff& b, uint64_t bytes) {
  double sum = 0;
  for (uint64_t i = 0; i < bytes; ++i) {
    double d = double(Bytes(a)[i]) - double(Bytes(b)[i]);
    sum += d * d;
  }
  if (sum == 0) return 1e9;
  return 10 * std::log10(255.0 * 255.0 / (sum / double(bytes)));
}

// A smooth 8-bit picture with some detail, so the spectrum is not trivial.
void Scene(CImgBuff& img, int32_t w, int32_t h, int32_t format) {
  MakePicture(img, w, h, format, 3);
}


TEST(Fourier, NamesKeysAndNoWindow) {
  CLfFFT fft;
  CLfIFFT ifft;
  CLfIFFTEX ifftEx;
  EXPECT_STREQ(L"FFT", fft.GetName(L"jp"));
  EXPECT_STREQ(L"fft", fft.GetKey());
  EXPECT_STREQ(L"IFFT", ifft.GetName(L"jp"));
  EXPECT_STREQ(L"ifft", ifft.GetKey());
  EXPECT_STREQ(L"IFFT EX", ifftEx.GetName(L"en"));
  EXPECT_STREQ(L"ifft_ex", ifftEx.GetKey());
  EXPECT_EQ(0, fft.HasDialog());
}

TEST(Fourier, FftAloneLeavesTheSpectrumAndOneEntryOfSide128) {
  CTestHost host;
  CImgBuff src;
  Scene(src, 160, 90, ImgFormatGray8);
  host.SetStill(src);
  CLfRect* rect = new CLfRect;
  ASSERT_EQ(1, host.AddFilter(rect, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  Draw(rect, 20, 10, 119, 69);  // 100 x 60
  // The stack is emptied at the start of a run, so the run's entry is still there.
  ASSERT_EQ(1u, SpectrumStackCount());
  SpectrumStackEntry entry{};
  ASSERT_EQ(1, PopSpectrum(&entry));
  EXPECT_EQ(128, entry.record.sideColumns);
  EXPECT_EQ(128, entry.record.sideRows);
  EXPECT_EQ(20, entry.x0);
  EXPECT_EQ(10, entry.y0);
  EXPECT_EQ(119, entry.x1);
  EXPECT_EQ(69, entry.y1);
  CImgBuff expected;
  ASSERT_EQ(1, src.Crop(expected, 20, 10, 119, 69));
  ASSERT_EQ(1, FftRender(&entry.record, &expected));
  FftFree(&entry.record);
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 160; ++x) {
      const bool inside = x >= 20 && x <= 119 && y >= 10 && y <= 69;
      const uint8_t want =
          inside ? Bytes(expected)[(y - 10) * 100 + (x - 20)] : Bytes(src)[y * 160 + x];
      ASSERT_EQ(want, Bytes(host.m_display)[y * 160 + x]) << x << "," << y;
      if (inside) {
        ASSERT_GE(Bytes(host.m_display)[y * 160 + x], 1) << "only a cleared one is 0";
      }
    }
}

TEST(Fourier, FftThenIfftReturnsTheRectangleEachValueEqualOrOneLess) {
  const int32_t formats[] = {ImgFormatGray8, ImgFormatRgb24};
  for (int32_t format : formats) {
    CTestHost host;
    CImgBuff src;
    Scene(src, 160, 90, format);
    host.SetStill(src);
    CLfRect* rect = new CLfRect;
    ASSERT_EQ(1, host.AddFilter(rect, nullptr));
    ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
    ASSERT_EQ(1, host.AddFilter(new CLfIFFT, nullptr));
    Draw(rect, 20, 10, 119, 69);
    EXPECT_EQ(0u, SpectrumStackCount());
    const uint64_t bytes = uint64_t(160) * 90 * (format == ImgFormatGray8 ? 1 : 3);
    for (uint64_t i = 0; i < bytes; ++i) {
      const int d = int(Bytes(src)[i]) - int(Bytes(host.m_display)[i]);
      ASSERT_TRUE(d == 0 || d == 1) << "byte " << i << " format " << format << " diff " << d;
    }
  }
}

TEST(Fourier, FftThenIfftExStaysAbove30Db) {
  CTestHost host;
  CImgBuff src;
  Scene(src, 160, 90, ImgFormatGray8);
  host.SetStill(src);
  CLfRect* rect = new CLfRect;
  ASSERT_EQ(1, host.AddFilter(rect, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfIFFTEX, nullptr));
  Draw(rect, 20, 10, 119, 69);
  EXPECT_GT(Psnr(src, host.m_display, 160 * 90), 30.0);
}

TEST(Fourier, BlackRectangleSurvivesIfftEx) {
  CTestHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(64, 48, ImgFormatGray8));
  host.SetStill(src);
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfIFFTEX, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_TRUE(SamePixels(src, host.m_display));
}

TEST(Fourier, PairsNewestFirst) {
  CTestHost host;
  CImgBuff src;
  Scene(src, 64, 64, ImgFormatGray8);
  host.SetStill(src);
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfIFFT, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfIFFT, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(0u, SpectrumStackCount());
  EXPECT_GT(Psnr(src, host.m_display, 64 * 64), 30.0);
}

TEST(Fourier, IfftAloneAndOnePixelChangeNothing) {
  CImgBuff src;
  Scene(src, 40, 30, ImgFormatRgb24);
  {
    CTestHost host;
    host.SetStill(src);
    ASSERT_EQ(1, host.AddFilter(new CLfIFFT, nullptr));
    ASSERT_EQ(1, host.AddFilter(new CLfIFFTEX, nullptr));
    ASSERT_EQ(1, host.Reprocess(0));
    EXPECT_TRUE(SamePixels(src, host.m_display));
  }
  {
    CTestHost host;
    host.SetStill(src);
    CLfRect* rect = new CLfRect;
    ASSERT_EQ(1, host.AddFilter(rect, nullptr));
    ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
    Draw(rect, 5, 5, 5, 5);
    EXPECT_EQ(0u, SpectrumStackCount()) << "a single pixel is not transformed";
    EXPECT_TRUE(SamePixels(src, host.m_display));
  }
}

TEST(Fourier, LastFilterGoneFreesTheStackAndANewOneStartsEmpty) {
  {
    CTestHost host;
    CImgBuff src;
    Scene(src, 32, 32, ImgFormatGray8);
    host.SetStill(src);
    ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
    ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
    ASSERT_EQ(1, host.Reprocess(0));
    EXPECT_EQ(2u, SpectrumStackCount());
    EXPECT_GT(SpectrumStackCapacity(), 0u);
  }
  EXPECT_EQ(0u, SpectrumStackInstances());
  EXPECT_EQ(0u, SpectrumStackCount());
  EXPECT_EQ(0u, SpectrumStackCapacity());
  CLfIFFT fresh;
  EXPECT_EQ(1u, SpectrumStackInstances());
  EXPECT_EQ(0u, SpectrumStackCount());
}

}  // namespace
