// ConvolveInt and ConvolveDouble: worked values (automatic divisors inside and at corners,
// clamping, constants kept), refusals, and the fast kernels against the pixel-by-pixel rules
// on random pictures of every format, rectangles touching every border included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "engine/convolve.h"
#include "engine/simd.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/filter_reference.h"

namespace {

using namespace enginetest;

const int32_t kSmooth[9] = {1, 2, 1, 2, 12, 2, 1, 2, 1};
const int32_t kEdge[9] = {-1, -2, -1, -2, 12, -2, -1, -2, -1};

TEST(ConvolveInt, AutomaticDivisorInteriorAndCorner) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(5, 5, 1));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) img.SetGray8(x, y, uint8_t(10 * x + 7 * y + 3));
  CImgBuff ref;
  CopyPicture(ref, img);
  ASSERT_EQ(1, ConvolveInt(&img, 3, kSmooth, 1, 999, nullptr));
  auto at = [&](int x, int y) { uint8_t v; ref.GetGray8(x, y, &v); return int(v); };
  int interior = 0;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) interior += kSmooth[j * 3 + i] * at(1 + i, 1 + j);
  const int corner = 12 * at(0, 0) + 2 * at(1, 0) + 2 * at(0, 1) + at(1, 1);
  uint8_t v;
  img.GetGray8(2, 2, &v);
  EXPECT_EQ(interior / 24, v);
  img.GetGray8(0, 0, &v);
  EXPECT_EQ(corner / 17, v);
}

TEST(ConvolveInt, EdgeKernelClampsTheUndividedSum) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(8, 5, 1));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 8; ++x) img.SetGray8(x, y, x < 4 ? 40 : 100);
  ASSERT_EQ(1, ConvolveInt(&img, 3, kEdge, 1, 0, nullptr));
  uint8_t v;
  img.GetGray8(1, 2, &v);
  EXPECT_EQ(0, v);  // flat: wsum 0, sum 0
  img.GetGray8(4, 2, &v);
  EXPECT_EQ(240, v);  // first bright column: centre row 920, outer rows -340 each
  img.GetGray8(3, 2, &v);
  EXPECT_EQ(0, v);  // dark side of the step: negative sum
  img.GetGray8(0, 0, &v);
  EXPECT_EQ(40, v);  // corner: wsum 7 divides 7 x 40
}

TEST(ConvolveInt, SixteenBitClampAndTruncation) {
  struct Case {
    const char* name;
    std::vector<uint16_t> pixels;  // one row
    int32_t k[9];
    int32_t divisor;
    uint16_t expect;  // pixel 0
  } cases[] = {
      {"65537 x 3 over 3", {65535, 6}, {0, 0, 0, 0, 3, 1, 0, 0, 0}, 3, 65535},
      {"negative sum", {500, 6}, {0, 0, 0, 0, -1, 0, 0, 0, 0}, 3, 0},
      {"7 over 2", {7, 0}, {0, 0, 0, 0, 1, 0, 0, 0, 0}, 2, 3},
  };
  for (const Case& c : cases) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(int32_t(c.pixels.size()), 1, 2));
    for (size_t x = 0; x < c.pixels.size(); ++x) img.SetGray16(int32_t(x), 0, c.pixels[x]);
    ASSERT_EQ(1, ConvolveInt(&img, 3, c.k, 0, c.divisor, nullptr)) << c.name;
    uint16_t v;
    img.GetGray16(0, 0, &v);
    EXPECT_EQ(c.expect, v) << c.name;
  }
}

TEST(ConvolveInt, RefusalsLeaveThePictureUnchanged) {
  CImgBuff img, before;
  FillRandom(img, 9, 7, 4, 5);
  CopyPicture(before, img);
  const int32_t big[25] = {1};
  const RoiRect outside{20, 20, 30, 30};
  struct Case {
    const char* name;
    uint64_t size;
    int32_t autoDiv, divisor;
    const RoiRect* roi;
  } cases[] = {{"size 0", 0, 1, 1, nullptr},     {"size 2", 2, 1, 1, nullptr},
               {"size 4", 4, 1, 1, nullptr},     {"divisor 0", 3, 0, 0, nullptr},
               {"divisor -3", 3, 0, -3, nullptr}, {"rectangle outside", 3, 1, 1, &outside},
               {"size 2^32 + 1", 4294967297ull, 1, 1, nullptr}};
  for (const Case& c : cases) {
    EXPECT_EQ(0, ConvolveInt(&img, c.size, big, c.autoDiv, c.divisor, c.roi)) << c.name;
    EXPECT_TRUE(SamePixels(img, before)) << c.name;
  }
  EXPECT_EQ(0, ConvolveInt(&img, 3, nullptr, 1, 1, nullptr));
  CImgBuff empty;
  EXPECT_EQ(0, ConvolveInt(&empty, 3, kSmooth, 1, 1, nullptr));
  EXPECT_EQ(0, ConvolveInt(nullptr, 3, kSmooth, 1, 1, nullptr));
  // With the automatic divisor the divisor argument is not looked at.
  EXPECT_EQ(1, ConvolveInt(&img, 3, kSmooth, 1, -5, nullptr));
}

// Random kernels of every size the callers use, and beyond the rectangle, with both divisor
// modes and weights large enough to need 64- and 128-bit sums.
TEST(ConvolveInt, MatchesTheRuleOnEveryFormat) {
  std::mt19937 rng(77);
  struct Kind {
    uint64_t size;
    int32_t autoDiv, divisor;
    int32_t range;  // weights in -range .. range, a third of them 0
  } kinds[] = {{1, 1, 1, 5},  {3, 1, 1, 20},  {3, 0, 7, 20},     {5, 1, 1, 100},
               {5, 0, 3, 9},  {7, 1, 1, 50},  {9, 1, 1, 1000},   {9, 0, 40, 2000000},
               {3, 0, 1, 2147483647}, {21, 1, 1, 3}};
  for (const Kind& k : kinds) {
    std::vector<int32_t> kernel(k.size * k.size);
    std::uniform_int_distribution<int32_t> d(-k.range, k.range);
    for (auto& w : kernel) w = rng() % 3 == 0 ? 0 : d(rng);
    for (int32_t f = 1; f <= 9; ++f) {
      const std::string what = "size " + std::to_string(k.size) + " range " + std::to_string(k.range);
      auto check = [&](int32_t w, int32_t h) {
        std::vector<RoiRect> rects = TestRects(w, h);
        for (size_t n = 0; n <= rects.size(); ++n) {
          const RoiRect* roi = n == 0 ? nullptr : &rects[n - 1];
          CImgBuff fast, ref;
          FillRandom(fast, w, h, f, uint32_t(n * 31 + f + k.size));
          CopyPicture(ref, fast);
          ASSERT_EQ(filterref::ConvolveInt(&ref, k.size, kernel.data(), k.autoDiv, k.divisor, roi),
                    ConvolveInt(&fast, k.size, kernel.data(), k.autoDiv, k.divisor, roi));
          ASSERT_TRUE(SamePixels(fast, ref)) << what << " format " << f << " rect " << n << ": "
                                             << FirstDifference(fast, ref);
        }
      };
      check(47, 23);
      check(6, 5);  // narrower than most windows: border columns only
    }
  }
}

// Kernels that are a column of integers times a row of integers take the row-then-column
// path, in bands of rows without a copy of the picture; each must give exactly what the rule
// gives, beside kernels that only nearly split, on every format and rectangle (a rectangle
// lower or narrower than the kernel included).
TEST(ConvolveInt, SeparableKernelsMatchTheRule) {
  std::mt19937 rng(5);
  auto outer = [](std::vector<int32_t> col, std::vector<int32_t> row) {
    std::vector<int32_t> k(col.size() * row.size());
    for (size_t j = 0; j < col.size(); ++j)
      for (size_t i = 0; i < row.size(); ++i) k[j * row.size() + i] = col[j] * row[i];
    return k;
  };
  std::vector<int32_t> randomCol(7), randomRow(7);
  for (auto& v : randomCol) v = int32_t(rng() % 11) - 5;
  for (auto& v : randomRow) v = int32_t(rng() % 9) - 4;
  randomRow[3] = 6;  // a nonzero row, so the product is not all zero
  struct Case {
    const char* name;
    std::vector<int32_t> kernel;
    int32_t autoDiv, divisor;
  };
  std::vector<Case> cases = {
      {"binomial 5", outer({1, 4, 6, 4, 1}, {1, 4, 6, 4, 1}), 1, 1},
      {"binomial 3 fixed", outer({1, 2, 1}, {1, 2, 1}), 0, 16},
      {"box 3", outer({1, 1, 1}, {1, 1, 1}), 1, 1},
      {"box 9", outer(std::vector<int32_t>(9, 1), std::vector<int32_t>(9, 1)), 1, 1},
      {"sobel x", outer({1, 2, 1}, {-1, 0, 1}), 0, 1},
      {"sobel y", outer({-1, 0, 1}, {1, 2, 1}), 1, 1},
      {"common factor", outer({2, -3, 2}, {4, 6, 4}), 1, 1},
      {"random 7", outer(randomCol, randomRow), 1, 1},
      {"random 7 fixed", outer(randomCol, randomRow), 0, 13},
      {"zero rows", outer({0, 1, 0, 2, 0}, {3, 0, 1, 0, 3}), 1, 1},
      {"nearly split", [&] { auto k = outer({1, 4, 6, 4, 1}, {1, 4, 6, 4, 1}); k[7] += 1; return k; }(), 1, 1},
  };
  for (const Case& c : cases) {
    const uint64_t size = uint64_t(std::sqrt(double(c.kernel.size())) + 0.5);
    for (int32_t f = 1; f <= 9; ++f) {
      // 260 rows: several bands, filtered where they lie, on the worker pool.
      for (auto wh : {std::pair<int32_t, int32_t>{47, 23}, {9, 40}, {40, 4}, {33, 260}}) {
        std::vector<RoiRect> rects = TestRects(wh.first, wh.second);
        for (size_t n = 0; n <= rects.size(); ++n) {
          const RoiRect* roi = n == 0 ? nullptr : &rects[n - 1];
          CImgBuff fast, ref;
          FillRandom(fast, wh.first, wh.second, f, uint32_t(n * 13 + f));
          CopyPicture(ref, fast);
          ASSERT_EQ(filterref::ConvolveInt(&ref, size, c.kernel.data(), c.autoDiv, c.divisor, roi),
                    ConvolveInt(&fast, size, c.kernel.data(), c.autoDiv, c.divisor, roi));
          ASSERT_TRUE(SamePixels(fast, ref)) << c.name << " format " << f << " " << wh.first << "x"
                                             << wh.second << " rect " << n << ": " << FirstDifference(fast, ref);
        }
      }
    }
  }
  // Even sizes stay refused, split or not.
  CImgBuff img;
  FillRandom(img, 20, 20, 1, 3);
  const std::vector<int32_t> even = outer({1, 1}, {1, 1});
  EXPECT_EQ(0, ConvolveInt(&img, 2, even.data(), 1, 1, nullptr));
}

// 8-bit pictures under kernels whose absolute weights sum to at most 257 sum in 16-bit lanes
// modulo 2^16.  Kernels right at that bound (window sums spanning all 65536 values) and one
// past it, all positive, mixed and all negative, separable or not, on pictures of random
// values and of only 0 and 255 (windows at both ends of their range), with the AVX2 and the
// baseline builds of the kernels.
TEST(ConvolveInt, SixteenBitSumsMatchTheRuleAtTheirBound) {
  auto outer = [](std::vector<int32_t> col, std::vector<int32_t> row) {
    std::vector<int32_t> k(col.size() * row.size());
    for (size_t j = 0; j < col.size(); ++j)
      for (size_t i = 0; i < row.size(); ++i) k[j * row.size() + i] = col[j] * row[i];
    return k;
  };
  struct Case {
    const char* name;
    std::vector<int32_t> kernel;
  };
  const std::vector<Case> cases = {
      {"positive 257", {30, 30, 30, 30, 17, 30, 30, 30, 30}},
      {"mixed 257", {-40, 25, -31, 60, 9, 20, -12, 45, -15}},
      {"negative 257", {-30, -30, -30, -30, -17, -30, -30, -30, -30}},
      {"positive 258", {30, 30, 30, 30, 18, 30, 30, 30, 30}},
      {"mixed 5 x 5 257", [] {
         std::vector<int32_t> k(25);
         int32_t abs = 0;
         for (int i = 0; i < 25; ++i) {
           k[size_t(i)] = i == 12 ? 0 : (i % 3 == 0 ? -1 : 1) * (3 + i % 7);
           abs += std::abs(k[size_t(i)]);
         }
         k[12] = 257 - abs;  // the centre takes up the rest, positive
         return k;
       }()},
      {"separable binomial 5", outer({1, 4, 6, 4, 1}, {1, 4, 6, 4, 1})},
      {"separable mixed 256", outer({1, 2, 1}, {-30, 0, 34})},
      {"separable one row 257", outer({0, 1, 0}, {100, 57, 100})},
      {"separable 7, mixed", outer({1, -1, 2, 3, 2, -1, 1}, {2, 0, -3, 4, -3, 0, 2})},
      {"separable 9 x 9 box", outer(std::vector<int32_t>(9, 1), std::vector<int32_t>(9, 1))},
  };
  struct Division {
    int32_t autoDiv, divisor;
  } divisions[] = {{1, 1}, {0, 1}, {0, 7}, {0, 64}};
  for (int32_t avx2 : {1, 0}) {
    SetEngineAvx2(avx2);
    for (const Case& c : cases) {
      const uint64_t size = uint64_t(std::sqrt(double(c.kernel.size())) + 0.5);
      for (const Division& dv : divisions) {
        for (int32_t f : {1, 4, 9}) {
          for (int32_t extremes : {0, 1}) {
            std::vector<RoiRect> rects = TestRects(37, 70);
            for (size_t n = 0; n <= rects.size(); ++n) {
              const RoiRect* roi = n == 0 ? nullptr : &rects[n - 1];
              CImgBuff fast, ref;
              FillRandom(fast, 37, 70, f, uint32_t(n * 17 + f));
              if (extremes) {
                uint8_t* p = static_cast<uint8_t*>(fast.Pixels());
                for (int64_t i = 0; i < int64_t(37) * 70 * ImgBytesPerPixel[f]; ++i) p[i] = p[i] & 16 ? 255 : 0;
              }
              CopyPicture(ref, fast);
              ASSERT_EQ(filterref::ConvolveInt(&ref, size, c.kernel.data(), dv.autoDiv, dv.divisor, roi),
                        ConvolveInt(&fast, size, c.kernel.data(), dv.autoDiv, dv.divisor, roi));
              ASSERT_TRUE(SamePixels(fast, ref))
                  << c.name << " divisor " << dv.autoDiv << "/" << dv.divisor << " format " << f << " extremes "
                  << extremes << " avx2 " << avx2 << " rect " << n << ": " << FirstDifference(fast, ref);
            }
          }
        }
      }
    }
  }
  SetEngineAvx2(1);
}

TEST(ConvolveDouble, ConstantPicturesStayConstant) {
  const double smooth[9] = {1, 2, 1, 2, 3, 2, 1, 2, 1};
  const double sharp[9] = {-1, -2, -1, -2, 18, -2, -1, -2, -1};
  for (const double* k : {smooth, sharp}) {
    for (int32_t f : {1, 2, 3, 4, 5, 6}) {
      CImgBuff img;
      ASSERT_EQ(1, img.Allocate(6, 4, f));
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) img.SetRGB8(x, y, 173, 173, 173);
      CImgBuff before;
      CopyPicture(before, img);
      ASSERT_EQ(1, ConvolveDouble(&img, nullptr, k));
      EXPECT_TRUE(SamePixels(img, before)) << "format " << f << ": " << FirstDifference(img, before);
    }
  }
}

TEST(ConvolveDouble, TruncatesAndSaturates) {
  // 2 x 1 picture, weights only on the centre row: pixel 0 sees (v0 x w4 + v1 x w5) / wsum.
  struct Case {
    const char* name;
    uint8_t v0, v1;
    double w4, w5;
    uint8_t expect;
  } cases[] = {{"254.9 truncates", 255, 0, 0.9996, 0.0, 254},
               {"above saturates", 250, 0, 2.0, -1.5, 255},
               {"divided by wsum", 200, 100, 1.0, 1.0, 150},
               {"negative gives 0", 10, 200, 1.0, -1.0, 0},
               {"wsum below 1 not divided", 100, 0, 0.5, 0.0, 50},
               {"NaN gives 0", 100, 0, std::numeric_limits<double>::quiet_NaN(), 0.0, 0}};
  for (const Case& c : cases) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(2, 1, 1));
    img.SetGray8(0, 0, c.v0);
    img.SetGray8(1, 0, c.v1);
    const double k[9] = {0, 0, 0, 0, c.w4, c.w5, 0, 0, 0};
    ASSERT_EQ(1, ConvolveDouble(&img, nullptr, k));
    uint8_t v;
    img.GetGray8(0, 0, &v);
    EXPECT_EQ(c.expect, v) << c.name;
  }
  CImgBuff empty;
  const double one[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(0, ConvolveDouble(&empty, nullptr, one));
  CImgBuff small;
  ASSERT_EQ(1, small.Allocate(2, 2, 1));
  EXPECT_EQ(0, ConvolveDouble(&small, nullptr, nullptr));
}

TEST(ConvolveDouble, MatchesTheRuleOnEveryFormat) {
  const double kernels[][9] = {{1, 2, 1, 2, 3, 2, 1, 2, 1},
                               {-1, -2, -1, -2, 18, -2, -1, -2, -1},
                               {0.1, 0, -0.3, 0.25, 0.7, 0, 1e-3, -0.05, 0.33},
                               {0, 0, 0, 0, 1e12, 0, 0, 0, -1e12}};
  int n = 0;
  for (const auto& k : kernels) {
    for (int32_t f = 1; f <= 9; ++f) {
      for (auto [w, h] : {std::pair{53, 41}, std::pair{1, 5}, std::pair{4, 1}, std::pair{2, 2}}) {
        CImgBuff fast, ref;
        FillRandom(fast, w, h, f, uint32_t(++n));
        CopyPicture(ref, fast);
        ASSERT_EQ(1, ConvolveDouble(&fast, nullptr, k));
        ASSERT_EQ(1, filterref::ConvolveDouble(&ref, k));
        ASSERT_TRUE(SamePixels(fast, ref)) << "format " << f << " " << w << "x" << h << ": "
                                           << FirstDifference(fast, ref);
      }
    }
  }
}

// XYZ doubles are filtered as R, G, B: the stored doubles stay finite colours.
TEST(ConvolveInt, XyzIsFilteredAsColour) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(4, 4, 7));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) img.SetRGB8(x, y, uint8_t(60 * x), 90, uint8_t(50 * y));
  ASSERT_EQ(1, ConvolveInt(&img, 3, kSmooth, 1, 1, nullptr));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      double X, Y, Z;
      img.GetXYZ(x, y, &X, &Y, &Z);
      EXPECT_TRUE(X >= 0 && X < 1.2 && Y >= 0 && Y < 1.2 && Z >= 0 && Z < 1.3) << x << "," << y;
    }
  }
}

}  // namespace
