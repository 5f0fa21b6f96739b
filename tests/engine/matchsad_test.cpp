// The byte kernels of the stretched template search, with the AVX2 forms on and off: bounded
// sums against a plain sum, the 16-bit stretch of every byte against its one-byte form and
// against the stretch table where the factors are accepted, block bounds against the sums
// they bound, and the 8-bit blend against what ShiftImage stores.
#include "engine/matchsad.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/regionplane.h"
#include "engine/shift.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

// Runs body once with the AVX2 forms and once without (on a processor without AVX2 both
// runs take the SSE2 forms), and leaves the switch on.
template <class Fn>
void BothForms(Fn body) {
  for (int32_t avx2 : {1, 0}) {
    SetMatchKernelsAvx2(avx2);
    SCOPED_TRACE("avx2 " + std::to_string(avx2));
    body();
  }
  SetMatchKernelsAvx2(1);
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng() >> 11);
  return v;
}

// Row widths around every vector width and its tails.
const int32_t kWidths[] = {1, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 47, 48, 63, 64, 65, 96, 100, 129, 300};

TEST(MatchSad, BoundedSumsAreTheSumOrPassTheBound) {
  BothForms([] {
    for (int32_t w : kWidths) {
      for (int32_t rows : {1, 3, 8, 33}) {
        const int64_t as = w + 5, bs = w + 11;
        const auto a = RandomBytes(size_t(as * rows), uint32_t(w * 31 + rows));
        const auto b = RandomBytes(size_t(bs * rows), uint32_t(w * 17 + rows + 1));
        StretchFactors f{37, 1, 40000};
        int64_t plain = 0, plainStretched = 0;
        for (int32_t j = 0; j < rows; ++j)
          for (int32_t i = 0; i < w; ++i) {
            plain += std::abs(int32_t(a[size_t(j * as + i)]) - int32_t(b[size_t(j * bs + i)]));
            plainStretched += std::abs(int32_t(StretchByte(a[size_t(j * as + i)], f)) - int32_t(b[size_t(j * bs + i)]));
          }
        for (int64_t limit : {INT64_MAX, plain, plain - 1, plain / 3, int64_t(0)}) {
          const int64_t got = SadBoundedU8(a.data(), as, b.data(), bs, w, rows, limit);
          if (plain <= limit) EXPECT_EQ(plain, got) << "width " << w << " rows " << rows;
          else EXPECT_GT(got, limit) << "width " << w << " rows " << rows;
        }
        for (int64_t limit : {INT64_MAX, plainStretched, plainStretched - 1, int64_t(0)}) {
          const int64_t got = StretchSadBoundedU8(a.data(), as, b.data(), bs, w, rows, f, limit);
          if (plainStretched <= limit) EXPECT_EQ(plainStretched, got) << "width " << w << " rows " << rows;
          else EXPECT_GT(got, limit) << "width " << w << " rows " << rows;
        }
      }
    }
  });
}

// Every byte through every lane position, with factors that overflow 16 bits too: the lanes
// and the one-byte form must agree on bytes no region of those extremes holds as well.
TEST(MatchSad, StretchLanesEqualTheOneByteForm) {
  std::vector<uint8_t> src(256 + 61);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7 + 3);
  const StretchFactors factors[] = {{0, 1, 0}, {0, 255, 0}, {10, 2, 65535}, {200, 4, 1234}, {255, 0, 65535},
                                    {3, 100, 50000}, {0, 0, 0}};
  BothForms([&] {
    for (const StretchFactors& f : factors) {
      for (int32_t w : kWidths) {
        std::vector<uint8_t> dst(size_t(w), 0xAA);
        StretchRowsU8(src.data(), 0, dst.data(), 0, w, 1, f);
        for (int32_t i = 0; i < w; ++i)
          ASSERT_EQ(StretchByte(src[size_t(i)], f), dst[size_t(i)]) << "lo " << int(f.lo) << " at " << i;
      }
    }
  });
}

// Where NormaliseScratch accepts the factors of a range, they give its table on that range.
TEST(MatchSad, AcceptedFactorsReproduceTheStretchTable) {
  NormaliseScratch s;
  ASSERT_EQ(1, s.Prepare(ImgFormatGray8, 0));
  int32_t accepted = 0;
  for (int32_t lo = 0; lo < 256; lo += 3)
    for (int32_t hi = lo; hi < 256; hi += 5) {
      s.Use(CompareGray, uint8_t(lo), uint8_t(hi));
      if (!s.vector) continue;
      ++accepted;
      const StretchFactors f{uint8_t(lo), s.whole, s.fraction};
      for (int32_t v = lo; v <= hi; ++v) ASSERT_EQ(s.table[v], StretchByte(uint8_t(v), f)) << lo << ".." << hi;
    }
  EXPECT_GT(accepted, 1000);
}

TEST(MatchSad, BlockBoundsAreTheSumOfBlockDifferencesAndBoundTheSum) {
  // A 40 x 30 image and an 8 x 6 template of 2 x 2 blocks: the bound at every position of a
  // row from the image's block sums, against the blocks counted directly and the full sum.
  constexpr int32_t W = 40, H = 30, TW = 8, TH = 6, B = 2;
  const auto img = RandomBytes(W * H, 5);
  const auto tpl = RandomBytes(TW * TH, 6);
  std::vector<uint16_t> sums(size_t(W) * H, 0);
  for (int32_t y = 0; y + B <= H; ++y)
    for (int32_t x = 0; x + B <= W; ++x)
      for (int32_t j = 0; j < B; ++j)
        for (int32_t i = 0; i < B; ++i) sums[size_t(y * W + x)] = uint16_t(sums[size_t(y * W + x)] + img[size_t((y + j) * W + x + i)]);
  std::vector<uint16_t> tsums(size_t(TW / B) * (TH / B), 0);
  for (int32_t bj = 0; bj < TH / B; ++bj)
    for (int32_t bi = 0; bi < TW / B; ++bi)
      for (int32_t j = 0; j < B; ++j)
        for (int32_t i = 0; i < B; ++i) tsums[size_t(bj * (TW / B) + bi)] = uint16_t(tsums[size_t(bj * (TW / B) + bi)] + tpl[size_t((bj * B + j) * TW + bi * B + i)]);
  BothForms([&] {
    for (int32_t y = 0; y + TH <= H; ++y) {
      const int32_t count = W - TW + 1;
      std::vector<uint16_t> out(static_cast<size_t>(count));
      BlockBoundsU16(sums.data() + y * W, W, count, tsums.data(), TW / B, TH / B, B, out.data());
      for (int32_t x = 0; x < count; ++x) {
        int64_t blocks = 0, full = 0;
        for (int32_t bj = 0; bj < TH / B; ++bj)
          for (int32_t bi = 0; bi < TW / B; ++bi)
            blocks += std::abs(int32_t(sums[size_t((y + bj * B) * W + x + bi * B)]) - int32_t(tsums[size_t(bj * (TW / B) + bi)]));
        for (int32_t j = 0; j < TH; ++j)
          for (int32_t i = 0; i < TW; ++i) full += std::abs(int32_t(img[size_t((y + j) * W + x + i)]) - int32_t(tpl[size_t(j * TW + i)]));
        ASSERT_EQ(blocks, out[size_t(x)]) << x << "," << y;
        ASSERT_LE(out[size_t(x)], full) << x << "," << y;
      }
    }
  });
}

TEST(MatchSad, BlockBoundsSaturateAtTheTopOf16Bits) {
  // 64 blocks of 16 x 16 white pixels against a black template: 64 x 65280 saturates.
  std::vector<uint16_t> sums(200, 65280), tsums(64, 0), out(40);
  BothForms([&] {
    BlockBoundsU16(sums.data(), 0, 40, tsums.data(), 8, 8, 1, out.data());
    for (uint16_t v : out) ASSERT_EQ(65535, v);
  });
}

// The blend in 256ths is what a fractional ShiftImage stores in 8-bit pictures, gray and
// R, G, B, along rows and along columns.
TEST(MatchSad, BlendEqualsTheShiftOfAnEightBitPicture) {
  for (int32_t format : {ImgFormatGray8, ImgFormatRgb24}) {
    CImgBuff pic;
    FillRandom(pic, 70, 5, format, uint32_t(format + 40));
    const int32_t ch = ImgBytesPerPixel[format], rowBytes = 70 * ch;
    for (uint32_t w : {1u, 64u, 128u, 192u, 255u, 37u}) {
      CImgBuff moved;
      CopyPicture(moved, pic);
      ASSERT_EQ(1, ShiftImage(&moved, -double(w) / 256.0, 0, 0));
      BothForms([&] {
        for (int32_t y = 0; y < 5; ++y) {
          const uint8_t* row = static_cast<const uint8_t*>(pic.Pixels()) + y * rowBytes;
          std::vector<uint8_t> got(static_cast<size_t>(rowBytes - ch));
          BlendBytesU8(row, row + ch, got.data(), rowBytes - ch, w);
          const uint8_t* want = static_cast<const uint8_t*>(moved.Pixels()) + y * rowBytes;
          for (int32_t i = 0; i < rowBytes - ch; ++i)
            ASSERT_EQ(want[i], got[size_t(i)]) << "format " << format << " weight " << w << " row " << y << " at " << i;
        }
      });
      CopyPicture(moved, pic);
      ASSERT_EQ(1, ShiftImage(&moved, 0, -double(w) / 256.0, 0));
      BothForms([&] {
        for (int32_t y = 0; y + 1 < 5; ++y) {
          const uint8_t* row = static_cast<const uint8_t*>(pic.Pixels()) + y * rowBytes;
          std::vector<uint8_t> got(static_cast<size_t>(rowBytes));
          BlendBytesU8(row, row + rowBytes, got.data(), rowBytes, w);
          const uint8_t* want = static_cast<const uint8_t*>(moved.Pixels()) + y * rowBytes;
          for (int32_t i = 0; i < rowBytes; ++i)
            ASSERT_EQ(want[i], got[size_t(i)]) << "format " << format << " weight " << w << " row " << y << " at " << i;
        }
      });
    }
  }
}

}  // namespace
