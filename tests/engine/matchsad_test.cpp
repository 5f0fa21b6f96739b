// The byte kernels of the stretched template search in every form (plain, SSE2, AVX2): bounded
// sums against a plain sum, the 16-bit stretch of every byte against its one-byte form and
// against the stretch table where the factors are accepted, the block-sum bounds against the
// stretched sums they bound, and the 8-bit blend against what ShiftImage stores.
#include "engine/matchsad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/regionplane.h"
#include "engine/shift.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

// Runs body with the AVX2, the SSE2 and the plain forms (on a processor without AVX2 the
// first run takes the SSE2 forms too), and leaves the widest on.
template <class Fn>
void EveryForm(Fn body) {
  for (int32_t form : {MatchAvx2, MatchSse2, MatchPlain}) {
    SetMatchKernelForm(form);
    SCOPED_TRACE("form " + std::to_string(form));
    body();
  }
  SetMatchKernelForm(MatchAvx2);
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
  EveryForm([] {
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
  EveryForm([&] {
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

// The bound of a position from unstretched block sums and its stretch's bracket never passes
// the stretched sum, whatever the extremes: ranges the vector factors reproduce and ranges
// they do not (the slack then from the table's distance to them), formats that read gray
// back exactly and one that does not (HSV), gray and R, G, B.  The lane forms agree with
// each other position by position.
TEST(MatchSad, StretchedBoundsNeverPassTheStretchedSum) {
  struct Case {
    int32_t format;
    CompareMode mode;
    int32_t step;
  } const cases[] = {{ImgFormatGray8, CompareGray, 2}, {ImgFormatGray8, CompareGray, 4},
                     {ImgFormatHsv48, CompareGray, 3}, {ImgFormatRgb24, CompareRgb, 2}};
  std::mt19937 rng(77);
  for (const Case& c : cases) {
    const int32_t ch = c.mode == CompareGray ? 1 : 3, m = c.step * c.step * ch;
    NormaliseScratch s;
    ASSERT_EQ(1, s.Prepare(c.format, 0));
    for (int32_t trial = 0; trial < 300; ++trial) {
      // A region of 8 x 8 pixels in lo .. hi (with both ends present) and a stretched template.
      const int32_t lo = int32_t(rng() % 200), hi = trial % 7 == 0 ? lo : lo + 1 + int32_t(rng() % uint32_t(255 - lo));
      constexpr int32_t T = 8;
      std::vector<uint8_t> region(size_t(T * T * ch)), tpl(region.size());
      for (auto& v : region) v = uint8_t(lo + int32_t(rng() % uint32_t(hi - lo + 1)));
      region[0] = uint8_t(lo);
      region[1] = uint8_t(hi);
      s.Use(c.mode, uint8_t(lo), uint8_t(hi));
      // Half the trials with the template equal to the stretched region but for one pixel,
      // where the sum is small and a bound too high would show.
      for (size_t i = 0; i < tpl.size(); ++i) tpl[i] = trial % 2 ? s.table[region[i]] : uint8_t(rng());
      tpl[5] = uint8_t(tpl[5] ^ 1);
      int64_t sad = 0;
      for (size_t i = 0; i < region.size(); ++i) sad += std::abs(int32_t(s.table[region[i]]) - int32_t(tpl[i]));
      // The pair's bracket as the search makes it.
      const int32_t n = hi - lo;
      int64_t whole = s.whole, fraction = s.fraction, lowDev = 0, highDev = 0;
      if (!s.vector) {
        const double factor = n > 0 ? 255.0 / n : 0.0;
        whole = int64_t(factor);
        fraction = int64_t((factor - double(whole)) * 65536.0);
        for (int32_t d = 0; d <= n; ++d) {
          const int64_t l = whole * d + ((fraction * d) >> 16), t = s.table[lo + d];
          lowDev = std::max(lowDev, l - t);
          highDev = std::max(highDev, t - l);
        }
      }
      const uint16_t loSum = uint16_t(lo * m), w16 = uint16_t(whole), f16 = uint16_t(fraction);
      const uint16_t slackLo = uint16_t(std::min<int64_t>(65535, m - 1 + m * lowDev));
      const uint16_t slackHi = uint16_t(std::min<int64_t>(65535, m * highDev));
      // Block sums of the region and the template at one position.
      const int32_t nb = T / c.step;
      std::vector<uint16_t> sums(size_t(T * T), 0), tsums(size_t(nb * nb), 0);
      for (int32_t by = 0; by < nb; ++by)
        for (int32_t bx = 0; bx < nb; ++bx)
          for (int32_t j = 0; j < c.step; ++j)
            for (int32_t i = 0; i < c.step * ch; ++i) {
              const size_t at = size_t((by * c.step + j) * T * ch + bx * c.step * ch + i);
              uint16_t& sum = sums[size_t(by * c.step * T + bx * c.step)];
              sum = uint16_t(sum + region[at]);
              tsums[size_t(by * nb + bx)] = uint16_t(tsums[size_t(by * nb + bx)] + tpl[at]);
            }
      const BoundLanes lanes{&loSum, &w16, &f16, &slackLo, &slackHi};
      uint16_t bound = 0;
      StretchedBoundsU16(sums.data(), T, 1, tsums.data(), nb, nb, c.step, lanes, &bound);
      ASSERT_LE(bound, sad) << "format " << c.format << " range " << lo << ".." << hi << " vector " << s.vector;
    }
  }
  // Lane forms against the one-position form on random sums and lanes, every count.
  std::vector<uint16_t> sums(64 * 40), tsums(16), lane(5 * 40), want(40), got(40);
  for (auto& v : sums) v = uint16_t(rng() % 4096);
  for (auto& v : tsums) v = uint16_t(rng() % 4096);
  for (auto& v : lane) v = uint16_t(rng() % 300);
  const BoundLanes lanes{lane.data(), lane.data() + 40, lane.data() + 80, lane.data() + 120, lane.data() + 160};
  for (int32_t count = 1; count <= 40; ++count) {
    SetMatchKernelForm(MatchPlain);
    for (int32_t k = 0; k < count; ++k) {
      const BoundLanes one{lanes.loSum + k, lanes.whole + k, lanes.fraction + k, lanes.slackLo + k, lanes.slackHi + k};
      StretchedBoundsU16(sums.data() + k, 40, 1, tsums.data(), 4, 4, 3, one, &want[size_t(k)]);
    }
    EveryForm([&] {
      StretchedBoundsU16(sums.data(), 40, count, tsums.data(), 4, 4, 3, lanes, got.data());
      for (int32_t k = 0; k < count; ++k) ASSERT_EQ(want[size_t(k)], got[size_t(k)]) << "count " << count << " at " << k;
    });
  }
}

TEST(MatchSad, StretchedBoundsSaturateAtTheTopOf16Bits) {
  // 64 blocks whose bracket lies far above a black template: 64 x 65280 saturates.
  std::vector<uint16_t> sums(200, 65280), tsums(64, 0), out(40), zero(40, 0), one(40, 1);
  const BoundLanes lanes{zero.data(), one.data(), zero.data(), zero.data(), zero.data()};
  EveryForm([&] {
    StretchedBoundsU16(sums.data(), 0, 40, tsums.data(), 8, 8, 1, lanes, out.data());
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
      EveryForm([&] {
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
      EveryForm([&] {
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
