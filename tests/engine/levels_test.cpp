// Level tables, gamma, stretch and histogram: the worked values, refusals, and the typed
// kernels against the accessor path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/levels.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

TEST(LevelLut, GammaTables) {
  LevelLut* id = BuildGammaLut(1, 1);
  ASSERT_NE(nullptr, id);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(i, id->table8[i]);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(i, id->table16[i]);
  EXPECT_EQ(1, FreeLut(id));

  LevelLut* sq = BuildGammaLut(1, 2);
  ASSERT_NE(nullptr, sq);
  EXPECT_EQ(64, sq->table8[128]);
  EXPECT_EQ(1, sq->table16[256]);
  FreeLut(sq);

  LevelLut* root = BuildGammaLut(2, 1);  // exponent 0.5: the 16-bit table has its own values
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(3620, root->table16[200]);
  EXPECT_EQ(4095, root->table16[256]);
  EXPECT_EQ(225, root->table8[200]);
  FreeLut(root);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (auto g : {std::pair{0.0, 1.0}, {1.0, 0.0}, {-1.0, 1.0}, {nan, 1.0}, {1.0, nan}, {inf, inf}})
    EXPECT_EQ(nullptr, BuildGammaLut(g.first, g.second)) << g.first << " " << g.second;
  EXPECT_EQ(0, FreeLut(nullptr));
}

TEST(LevelLut, StretchTables) {
  LevelLut* s = BuildStretchLut(16384, 49407);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, s->table16[16383]);
  EXPECT_EQ(0, s->table16[16384]);
  EXPECT_EQ(65535, s->table16[49407]);
  EXPECT_EQ(65535, s->table16[49408]);
  EXPECT_EQ(0, s->table8[63]);
  EXPECT_EQ(0, s->table8[64]);
  EXPECT_EQ(127, s->table8[128]);
  EXPECT_EQ(255, s->table8[192]);
  FreeLut(s);
  EXPECT_EQ(nullptr, BuildStretchLut(300, 200));
  LevelLut* flat = BuildStretchLut(500, 500);
  ASSERT_NE(nullptr, flat);
  EXPECT_EQ(0, flat->table16[500]);
  EXPECT_EQ(65535, flat->table16[501]);
  FreeLut(flat);
}

TEST(LevelLut, ApplyAndGammaRefusals) {
  CImgBuff img, orig;
  FillRandom(img, 8, 8, 1, 3);
  CopyPicture(orig, img);
  EXPECT_EQ(0, ApplyLevelLut(&img, nullptr, nullptr));
  EXPECT_EQ(0, GammaCorrect(&img, 0, 1, nullptr));
  EXPECT_EQ(0, GammaCorrect(&img, 1, -1, nullptr));
  const RoiRect outside{-4, 2, -1, 6};
  EXPECT_EQ(0, GammaCorrect(&img, 1, 2, &outside));
  EXPECT_TRUE(SamePixels(img, orig));
  CImgBuff g32;
  ASSERT_EQ(1, g32.Allocate(1, 1, 3));
  EXPECT_EQ(0, GammaCorrect(&g32, 1, std::numeric_limits<double>::quiet_NaN(), nullptr));
  CImgBuff empty;
  const RoiRect any{0, 0, 3, 3};
  LevelLut* lut = BuildGammaLut(1, 2);
  EXPECT_EQ(0, ApplyLevelLut(&empty, lut, &any));
  EXPECT_EQ(0, GammaCorrect(&empty, 1, 2, &any));
  EXPECT_EQ(0, StretchLevels(&empty, 0, 10, &any));
  FreeLut(lut);
}

TEST(StretchLevels, Gray32Values) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(5, 1, 3));
  const uint32_t in[5] = {1073741824u, 1000u, 3238002687u, 2147483648u, 4294967295u};
  const uint32_t out[5] = {0u, 0u, 4294967295u, 2130836488u, 4294967295u};
  for (int i = 0; i < 5; ++i) img.SetGray32(i, 0, in[i]);
  ASSERT_EQ(1, StretchLevels(&img, 16384, 49407, nullptr));
  for (int i = 0; i < 5; ++i) {
    uint32_t v;
    img.GetGray32(i, 0, &v);
    EXPECT_EQ(out[i], v) << i;
  }
  // lo above hi is refused without a change.
  img.SetGray32(0, 0, 12345);
  EXPECT_EQ(0, StretchLevels(&img, 300, 200, nullptr));
  uint32_t v;
  img.GetGray32(0, 0, &v);
  EXPECT_EQ(12345u, v);
}

TEST(ComputeHistogram, WorkedValues) {
  CImgBuff rgb;
  ASSERT_EQ(1, rgb.Allocate(1, 1, 4));
  rgb.SetRGB8(0, 0, 10, 20, 30);
  uint64_t bins[256], maxBin = 99;
  ASSERT_EQ(1, ComputeHistogram(&rgb, 3, bins, &maxBin, nullptr));
  for (int k = 0; k < 256; ++k) EXPECT_EQ(k == 20 ? 1u : 0u, bins[k]) << k;
  EXPECT_EQ(1u, maxBin);
  ASSERT_EQ(1, ComputeHistogram(&rgb, 1, bins, &maxBin, nullptr));
  EXPECT_EQ(1u, bins[18]);

  CImgBuff cmyk;
  ASSERT_EQ(1, cmyk.Allocate(1, 1, 9));
  cmyk.SetCMYK8(0, 0, 200, 0, 0, 100);
  ASSERT_EQ(1, ComputeHistogram(&cmyk, 2, bins, &maxBin, nullptr));
  EXPECT_EQ(1u, bins[0]);
  ASSERT_EQ(1, ComputeHistogram(&cmyk, 3, bins, &maxBin, nullptr));
  EXPECT_EQ(1u, bins[155]);
  ASSERT_EQ(1, ComputeHistogram(&cmyk, 4, bins, &maxBin, nullptr));
  EXPECT_EQ(1u, bins[155]);

  for (int k = 0; k < 256; ++k) bins[k] = 7;
  maxBin = 7;
  EXPECT_EQ(0, ComputeHistogram(&rgb, 0, bins, &maxBin, nullptr));
  EXPECT_EQ(0, ComputeHistogram(&rgb, 5, bins, &maxBin, nullptr));
  EXPECT_EQ(0, ComputeHistogram(&rgb, 1, nullptr, &maxBin, nullptr));
  CImgBuff empty;
  const RoiRect any{0, 0, 3, 3};
  EXPECT_EQ(0, ComputeHistogram(&empty, 1, bins, &maxBin, &any));
  EXPECT_EQ(7u, bins[0]);
  EXPECT_EQ(7u, bins[255]);
  EXPECT_EQ(7u, maxBin);
}

TEST(ComputeHistogram, CountsEveryPixelOfTheRectangleOnce) {
  CImgBuff img;
  FillRandom(img, 300, 200, 1, 11);
  const RoiRect r{10, 5, 289, 194};
  uint64_t bins[256], maxBin = 0;
  ASSERT_EQ(1, ComputeHistogram(&img, 1, bins, &maxBin, &r));
  uint64_t expect[256] = {};
  for (int32_t y = r.y0; y <= r.y1; ++y)
    for (int32_t x = r.x0; x <= r.x1; ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      ++expect[v];
    }
  uint64_t total = 0, mx = 0;
  for (int k = 0; k < 256; ++k) {
    EXPECT_EQ(expect[k], bins[k]) << k;
    total += bins[k];
    mx = std::max(mx, bins[k]);
  }
  EXPECT_EQ(280u * 190u, total);
  EXPECT_EQ(mx, maxBin);
}

TEST(Levels, TypedKernelsMatchAccessors) {
  LevelLut* gamma = BuildGammaLut(1, 2.2);
  LevelLut* stretch = BuildStretchLut(5000, 60000);
  ASSERT_NE(nullptr, gamma);
  ASSERT_NE(nullptr, stretch);
  for (int32_t f = 1; f <= 9; ++f) {
    ExpectTypedMatchesReference(f, "ApplyLevelLut", [&](CImgBuff* p, const RoiRect* r) {
      return ApplyLevelLut(p, gamma, r);
    });
    ExpectTypedMatchesReference(f, "ApplyStretchLut", [&](CImgBuff* p, const RoiRect* r) {
      return ApplyStretchLut(p, stretch, r);
    });
    ExpectTypedMatchesReference(f, "GammaCorrect", [](CImgBuff* p, const RoiRect* r) {
      return GammaCorrect(p, 2.0, 1.0, r);
    });
    ExpectTypedMatchesReference(f, "StretchLevels", [](CImgBuff* p, const RoiRect* r) {
      return StretchLevels(p, 12000, 50000, r);
    });
    for (int32_t mode = 1; mode <= 4; ++mode) {
      // The histogram does not change the picture: compare the bins instead.
      ExpectTypedMatchesReference(f, "ComputeHistogram", [mode](CImgBuff* p, const RoiRect* r) {
        uint64_t bins[256], maxBin;
        const int32_t ok = ComputeHistogram(p, mode, bins, &maxBin, r);
        // Write the bins into the picture's first bytes so the comparison sees them.
        uint8_t* px = static_cast<uint8_t*>(p->Pixels());
        const size_t room = size_t(p->Width()) * p->Height() * ImgBytesPerPixel[p->Format()];
        std::memcpy(px, bins, std::min(room, sizeof bins));
        return ok;
      });
    }
  }
  FreeLut(gamma);
  FreeLut(stretch);
}

}  // namespace

namespace {

using namespace enginetest;

// Callers that run the histogram workers themselves may hand a rectangle reaching beyond the
// picture: only the pixels that exist are counted, nothing outside is read.
TEST(HistogramWorkers, CallerRectangleBeyondThePictureCountsThePicture) {
  const int32_t w = 29, h = 13;
  for (int32_t typedKernels = 0; typedKernels <= 1; ++typedKernels)
    for (int32_t f = 1; f <= 9; ++f) {
      CImgBuff img;
      FillRandom(img, w, h, f, uint32_t(90 + f));
      SetEngineTypedKernels(typedKernels);
      uint64_t want[256], maxBin;
      ASSERT_EQ(1, ComputeHistogram(&img, 2, want, &maxBin, nullptr));
      uint64_t got[256] = {};
      const RoiRect r{-4, -2, w + 6, h + 9};
      HistogramJob job{&img, r.x0, r.y0, r.x1, r.y1, got, nullptr};
      HistogramRowsMode2(&job, 0, uint64_t(RoiHeight(r)));
      SetEngineTypedKernels(1);
      for (int k = 0; k < 256; ++k) EXPECT_EQ(want[k], got[k]) << "format " << f << " bin " << k;
    }
}

}  // namespace
