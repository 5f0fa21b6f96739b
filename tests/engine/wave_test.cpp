// Wavelength colour filter: the filter colours, output and gain modes, format changes,
// refusals, and the typed kernels against the accessor path.
#include <gtest/gtest.h>

#include <limits>

#include "engine/wave.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

TEST(WaveFilterColour, PrimariesAndBlack) {
  struct Case {
    double nm, r, g, b;
  };
  const Case cases[] = {{610, 1, 0, 0}, {550.1, 0, 1, 0}, {465.8, 0, 0, 1},
                        {900, 0, 0, 0}, {300, 0, 0, 0},   {1e300, 0, 0, 0}};
  for (const Case& c : cases) {
    double r, g, b, L;
    WaveFilterColour(c.nm, &r, &g, &b, &L);
    EXPECT_NEAR(c.r, r, 1e-3) << c.nm;
    EXPECT_NEAR(c.g, g, 1e-3) << c.nm;
    EXPECT_NEAR(c.b, b, 1e-3) << c.nm;
  }
}


TEST(ApplyWaveColorFilter, At610Nanometres) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(1, 1, 4));
  img.SetRGB8(0, 0, 200, 100, 50);
  ASSERT_EQ(1, ApplyWaveColorFilter(&img, 610, 1, 0, 0, nullptr));
  uint8_t r, g, b;
  img.GetRGB8(0, 0, &r, &g, &b);
  EXPECT_EQ(200, r);
  EXPECT_EQ(0, g);
  EXPECT_EQ(0, b);

  const struct {
    uint32_t gainMode;
    uint8_t grey;
  } greys[] = {{1, 200}, {0, 59}};
  for (const auto& c : greys) {
    CImgBuff p;
    ASSERT_EQ(1, p.Allocate(1, 1, 4));
    p.SetRGB8(0, 0, 200, 100, 50);
    ASSERT_EQ(1, ApplyWaveColorFilter(&p, 610, 2, c.gainMode, 0, nullptr));
    EXPECT_EQ(1, p.Format());  // grey output of the 8-bit class
    uint8_t v;
    p.GetGray8(0, 0, &v);
    EXPECT_EQ(c.grey, v) << c.gainMode;
  }
}

TEST(ApplyWaveColorFilter, BlackFilterAndGains) {
  CImgBuff img, orig;
  FillRandom(img, 16, 8, 1, 21);
  CopyPicture(orig, img);
  EXPECT_EQ(1, ApplyWaveColorFilter(&img, 900, 0, 1, 0, nullptr));  // L = 0: unchanged
  EXPECT_TRUE(SamePixels(img, orig));
  EXPECT_EQ(1, ApplyWaveColorFilter(&img, 300, 2, 1, 0, nullptr));  // black
  for (int32_t x = 0; x < 16; ++x) {
    uint8_t v;
    img.GetGray8(x, 4, &v);
    EXPECT_EQ(0, v);
  }
  CImgBuff g16;
  ASSERT_EQ(1, g16.Allocate(3, 1, 2));
  g16.SetGray16(0, 0, 1000);
  g16.SetGray16(1, 0, 40000);
  ASSERT_EQ(1, ApplyWaveColorFilter(&g16, 550, 0, 3, 2.0, nullptr));
  uint16_t v;
  g16.GetGray16(0, 0, &v);
  EXPECT_EQ(2000, v);
  g16.GetGray16(1, 0, &v);
  EXPECT_EQ(65535, v);
  EXPECT_EQ(0, ApplyWaveColorFilter(&g16, 550, 0, 3, -1.0, nullptr));
  EXPECT_EQ(0, ApplyWaveColorFilter(&g16, 550, 0, 3, std::numeric_limits<double>::quiet_NaN(),
                                    nullptr));
  // An infinite free gain saturates without letting a NaN through (0 x infinity).
  ASSERT_EQ(1, ApplyWaveColorFilter(&g16, 550, 0, 3, std::numeric_limits<double>::infinity(),
                                    nullptr));
  g16.GetGray16(2, 0, &v);
  EXPECT_EQ(0, v);
  g16.GetGray16(0, 0, &v);
  EXPECT_EQ(65535, v);
}

TEST(ApplyWaveColorFilter, FormatChangesAndRefusals) {
  CImgBuff grey;
  FillRandom(grey, 20, 10, 2, 5);
  const RoiRect small{2, 2, 3, 3};
  ASSERT_EQ(1, ApplyWaveColorFilter(&grey, 610, 1, 0, 0, &small));
  EXPECT_EQ(5, grey.Format());
  uint16_t r, g, b;
  grey.GetRGB16(10, 8, &r, &g, &b);  // outside: a grey colour pixel
  EXPECT_EQ(r, g);
  EXPECT_EQ(g, b);

  CImgBuff colour, orig;
  FillRandom(colour, 20, 10, 4, 6);
  CopyPicture(orig, colour);
  EXPECT_EQ(1, ApplyWaveColorFilter(&colour, 610, 0, 3, 2.0, nullptr));  // nothing to do
  EXPECT_TRUE(SamePixels(colour, orig));
  ASSERT_EQ(1, ApplyWaveColorFilter(&colour, 550, 2, 0, 0, &small));
  EXPECT_EQ(1, colour.Format());
  uint8_t v, luma;
  colour.GetGray8(15, 9, &v);
  orig.GetGray8(15, 9, &luma);
  EXPECT_EQ(luma, v);

  CopyPicture(colour, orig);
  EXPECT_EQ(0, ApplyWaveColorFilter(&colour, -1, 1, 0, 0, nullptr));
  EXPECT_EQ(0, ApplyWaveColorFilter(&colour, std::numeric_limits<double>::quiet_NaN(), 1, 0, 0,
                                    nullptr));
  EXPECT_EQ(0, ApplyWaveColorFilter(&colour, 500, 3, 0, 0, nullptr));
  EXPECT_EQ(0, ApplyWaveColorFilter(&colour, 500, 1, 4, 0, nullptr));
  const RoiRect outside{30, 0, 40, 5};
  EXPECT_EQ(0, ApplyWaveColorFilter(&colour, 500, 1, 0, 0, &outside));
  EXPECT_TRUE(SamePixels(colour, orig));
  CImgBuff empty;
  EXPECT_EQ(1, ApplyWaveColorFilter(&empty, -1, 9, 9, 0, nullptr));
}

TEST(ApplyWaveColorFilter, TypedKernelsMatchAccessors) {
  for (int32_t f = 1; f <= 9; ++f)
    for (uint32_t out = 0; out <= 2; ++out)
      for (uint32_t gainMode = 0; gainMode <= 3; ++gainMode)
        ExpectTypedMatchesReference(
            f, "wave out " + std::to_string(out) + " gain " + std::to_string(gainMode),
            [&](CImgBuff* p, const RoiRect* r) {
              return ApplyWaveColorFilter(p, 575.5, out, gainMode, 1.7, r);
            },
            41, 23);
}

}  // namespace
