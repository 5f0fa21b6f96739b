// EqualizeHistogram: equal shares (512 and 600 pixels), the spread of small rectangles, tie
// order, refusals, the merge sort, and the whole operation against the plain rule (records,
// stable sort, level hand-out with a floating accumulator) on every format, including calls
// one after the other on one thread, whose work blocks are kept from call to call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "core/parallel.h"
#include "engine/equalize.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/filter_reference.h"

namespace {

using namespace enginetest;

std::map<uint32_t, int> LevelCounts(const CImgBuff& img) {
  std::map<uint32_t, int> m;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      ++m[v];
    }
  return m;
}

TEST(EqualizeHistogram, EqualSharesOfEightBitLevels) {
  // 512 pixels: two per level whatever the input, a uniform one included.
  for (bool uniform : {true, false}) {
    CImgBuff img;
    FillRandom(img, 32, 16, 1, 9);
    if (uniform) std::memset(img.Pixels(), 90, 512);
    ASSERT_EQ(1, EqualizeHistogram(&img, nullptr));
    auto m = LevelCounts(img);
    ASSERT_EQ(256u, m.size());
    for (auto [level, n] : m) EXPECT_EQ(2, n) << level;
  }
  // 600 = 2 x 256 + 88: 88 levels get 3, 168 get 2; 255 gets 2, 0 gets 3.
  CImgBuff img;
  FillRandom(img, 30, 20, 1, 10);
  ASSERT_EQ(1, EqualizeHistogram(&img, nullptr));
  auto m = LevelCounts(img);
  int threes = 0, twos = 0;
  for (auto [level, n] : m) (n == 3 ? threes : twos) += 1;
  EXPECT_EQ(88, threes);
  EXPECT_EQ(168, twos);
  EXPECT_EQ(2, m[255]);
  EXPECT_EQ(3, m[0]);
}

TEST(EqualizeHistogram, SmallRectanglesSpreadFromTheTop) {
  struct Case {
    std::vector<uint8_t> in;  // one row
    std::vector<uint8_t> out;
  } cases[] = {{{5, 9, 7}, {85, 255, 170}}, {{40}, {255}}, {{3, 3}, {255, 127}}};
  for (const Case& c : cases) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(int32_t(c.in.size()), 1, 1));
    std::memcpy(img.Pixels(), c.in.data(), c.in.size());
    ASSERT_EQ(1, EqualizeHistogram(&img, nullptr));
    EXPECT_EQ(0, std::memcmp(img.Pixels(), c.out.data(), c.out.size()));
  }
}

TEST(EqualizeHistogram, TiesGoToTheBrighterNeighbourhoodThenRowMajor) {
  // Row 7, 7, 200: the second 7 sees 200 beside it and ranks above the first.
  CImgBuff row;
  ASSERT_EQ(1, row.Allocate(3, 1, 1));
  const uint8_t r3[3] = {7, 7, 200};
  std::memcpy(row.Pixels(), r3, 3);
  ASSERT_EQ(1, EqualizeHistogram(&row, nullptr));
  const uint8_t expect[3] = {85, 170, 255};
  EXPECT_EQ(0, std::memcmp(row.Pixels(), expect, 3));
  // 3 x 3 with the two 50s mirrored top and bottom: equal keys, so row-major order decides.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(3, 3, 1));
  const uint8_t px[9] = {10, 50, 200, 10, 10, 200, 10, 50, 200};
  std::memcpy(img.Pixels(), px, 9);
  ASSERT_EQ(1, EqualizeHistogram(&img, nullptr));
  uint8_t top, bottom;
  img.GetGray8(1, 0, &top);
  img.GetGray8(1, 2, &bottom);
  EXPECT_GT(top, bottom);
}

TEST(EqualizeHistogram, Refusals) {
  CImgBuff img, before;
  FillRandom(img, 6, 5, 4, 1);
  CopyPicture(before, img);
  const RoiRect outside{10, 10, 20, 20};
  EXPECT_EQ(0, EqualizeHistogram(&img, &outside));
  EXPECT_TRUE(SamePixels(img, before));
  CImgBuff wide;
  ASSERT_EQ(1, wide.Allocate(65537, 1, 1));
  EXPECT_EQ(0, EqualizeHistogram(&wide, nullptr));
  const RoiRect fits{1, 0, 65536, 0};
  EXPECT_EQ(1, EqualizeHistogram(&wide, &fits));
  CImgBuff empty;
  EXPECT_EQ(0, EqualizeHistogram(&empty, nullptr));
  EXPECT_EQ(0, EqualizeHistogram(nullptr, nullptr));
  EXPECT_EQ(0, ParallelMergeSort(nullptr, 3));
  EqualizeRecord one{1, 2, 3, 4};
  EXPECT_EQ(0, ParallelMergeSort(&one, 0));
  EXPECT_EQ(0, EqualizeGrayPlane(&img, 6, 5));  // not a gray plane
}

// 65536 x 65536 pixels are 2^32 records: the count no longer fits the ranking's 32-bit
// indices, so the plane is refused instead of being ranked into buffers sized by a wrapped
// count.  (The record claims the size over a 1 x 1 block; nothing may be read.)
TEST(EqualizeHistogram, FourGigapixelPlaneIsRefused) {
  CImgBuff plane;
  ASSERT_EQ(1, plane.Allocate(1, 1, 1));
  plane.record->width = 65536;
  plane.record->height = 65536;
  const int32_t result = EqualizeGrayPlane(&plane, 65536, 65536);
  plane.record->width = 1;
  plane.record->height = 1;
  EXPECT_EQ(0, result);
}

TEST(ParallelMergeSort, StableDescendingOnValueThenKey) {
  std::mt19937 rng(4);
  for (uint64_t n : {1ull, 2ull, 7ull, 1000ull, 70001ull}) {
    std::vector<EqualizeRecord> r(n);
    for (uint64_t i = 0; i < n; ++i)
      r[i] = EqualizeRecord{uint32_t(rng() % 5), int32_t(rng() % 7) - 3, uint16_t(i), uint16_t(i >> 16)};
    std::vector<EqualizeRecord> expect = r;
    std::stable_sort(expect.begin(), expect.end(), [](const EqualizeRecord& a, const EqualizeRecord& b) {
      return a.value != b.value ? a.value > b.value : a.key > b.key;
    });
    ASSERT_EQ(1, ParallelMergeSort(r.data(), n));
    EXPECT_EQ(0, std::memcmp(r.data(), expect.data(), n * sizeof(EqualizeRecord))) << n;
  }
}

// ---- the plain rule --------------------------------------------------------------------------

int32_t RefKey(const std::vector<uint32_t>& p, int32_t w, int32_t h, int32_t x, int32_t y) {
  double sum = 0;
  int n = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int u = x + dx, v = y + dy;
      if ((dx || dy) && u >= 0 && v >= 0 && u < w && v < h) sum += p[size_t(v) * w + u], ++n;
    }
  const double value = p[size_t(y) * w + x];
  const double k = n ? std::trunc(sum / n - value) : -value;
  return int32_t(std::max(-2147483648.0, std::min(2147483647.0, k)));
}

void RefPlane(std::vector<uint32_t>& p, int32_t w, int32_t h, int32_t bits) {
  std::vector<EqualizeRecord> r;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      r.push_back(EqualizeRecord{p[size_t(y) * w + x], RefKey(p, w, h, x, y), uint16_t(x), uint16_t(y)});
  std::stable_sort(r.begin(), r.end(), [](const EqualizeRecord& a, const EqualizeRecord& b) {
    return a.value != b.value ? a.value > b.value : a.key > b.key;
  });
  const size_t n = r.size();
  const double levels = std::ldexp(1.0, bits);
  std::vector<bool> given(n, false);
  size_t i = 0;
  if (bits < 32 && double(n) >= levels) {
    double acc = 0;
    for (int64_t level = int64_t(levels) - 1; level >= 0; --level) {
      acc += double(n) / levels;
      const int64_t give = int64_t(acc);
      acc -= double(give);
      for (int64_t g = 0; g < give && i < n; ++g, ++i) p[size_t(r[i].y) * w + r[i].x] = uint32_t(level), given[i] = true;
    }
  } else {
    const double step = levels / double(n);
    int64_t level = int64_t(levels) - 1;
    double frac = 0;
    for (; i < n; ++i) {
      p[size_t(r[i].y) * w + r[i].x] = uint32_t(level);
      given[i] = true;
      frac += step;
      const int64_t whole = int64_t(frac);
      frac -= double(whole);
      if (level - whole < 0) break;
      level -= whole;
    }
  }
  for (size_t k = 0; k < n; ++k)
    if (!given[k]) p[size_t(r[k].y) * w + r[k].x] = 0;
}

void RefEqualize(CImgBuff* img, const RoiRect* roi) {
  RoiRect r;
  ASSERT_EQ(1, GetRoi(&r, img, roi));
  const int32_t w = r.x1 - r.x0 + 1, h = r.y1 - r.y0 + 1;
  const int32_t bits = FormatClassBits(img->Format());
  const int32_t channels = IsGrayFormat(img->Format()) ? 1 : 3;
  CImgBuff crop;
  ASSERT_EQ(1, img->Crop(crop, r.x0, r.y0, r.x1, r.y1));
  for (int32_t c = 0; c < channels; ++c) {
    std::vector<uint32_t> p(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t v[3];
        filterref::Read(crop, x, y, v);
        p[size_t(y) * w + x] = v[c];
      }
    RefPlane(p, w, h, bits);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t v[3];
        filterref::Read(crop, x, y, v);
        v[c] = p[size_t(y) * w + x];
        if (channels == 1) v[1] = v[2] = v[0];
        filterref::Write(crop, x, y, v);
      }
  }
  img->Paste(crop, r.x0, r.y0);
}

TEST(EqualizeHistogram, MatchesThePlainRuleOnEveryFormat) {
  for (int32_t f = 1; f <= 9; ++f) {
    for (auto [w, h] : {std::pair{53, 29}, std::pair{17, 9}, std::pair{1, 1}}) {
      std::vector<RoiRect> rects = TestRects(w, h);
      for (size_t n = 0; n <= rects.size(); ++n) {
        const RoiRect* roi = n == 0 ? nullptr : &rects[n - 1];
        CImgBuff fast, ref;
        FillRandom(fast, w, h, f, uint32_t(n + 100 * f + w));
        // Flat patches: ties broken by neighbours and position.
        for (int y = 0; y < h / 2; ++y)
          for (int x = 0; x < w / 3; ++x) fast.SetRGB8(x, y, 100, 100, 100);
        CopyPicture(ref, fast);
        const int32_t ok = EqualizeHistogram(&fast, roi);
        CImgBuff check;
        CopyPicture(check, ref);
        RoiRect rr;
        if (!GetRoi(&rr, &check, roi)) {
          EXPECT_EQ(0, ok);
          continue;
        }
        ASSERT_EQ(1, ok);
        RefEqualize(&ref, roi);
        ASSERT_TRUE(SamePixels(fast, ref)) << "format " << f << " " << w << "x" << h << " rect "
                                           << n << ": " << FirstDifference(fast, ref);
      }
    }
  }
}

// Pictures large enough for the worker pool, whose 8-bit planes are ranked in bands of rows
// (one per worker, so several worker counts): the same as the plain rule, band boundaries
// included, with flat patches across them.
TEST(EqualizeHistogram, BandsOfRowsMatchThePlainRule) {
  const uint64_t all = GetProcessorCount();
  for (uint64_t workers : {uint64_t(1), uint64_t(3), all}) {
    if (workers > all) continue;
    ASSERT_EQ(1, SetWorkerCount(workers));
    for (int32_t f : {1, 4}) {
      for (auto [w, h] : {std::pair{97, 131}, std::pair{4100, 2}}) {
        SCOPED_TRACE(testing::Message() << workers << " workers, format " << f << " " << w << "x" << h);
        CImgBuff fast, ref;
        FillRandom(fast, w, h, f, uint32_t(w + f));
        for (int y = h / 4; y < h * 3 / 4; ++y)
          for (int x = 0; x < w / 2; ++x) fast.SetRGB8(x, y, 77, 77, 77);
        CopyPicture(ref, fast);
        ASSERT_EQ(1, EqualizeHistogram(&fast, nullptr));
        RefEqualize(&ref, nullptr);
        EXPECT_TRUE(SamePixels(fast, ref)) << FirstDifference(fast, ref);
      }
    }
  }
  SetWorkerCount(all);
}

// Calls one after the other on this thread, of pool-sized pictures whose count tables, tie
// planes, crops and channel planes the thread keeps between calls: a size, format or worker
// count that differs from the last call's must not see what that call left behind.  Whole
// pictures (equalised in place when gray) and rectangles (through the kept crop); pixel
// counts that give the equal-share buckets of several widths, and flat patches whose order
// comes from the neighbours and the position.
TEST(EqualizeHistogram, CallAfterCallWithKeptBlocksMatchesThePlainRule) {
  const uint64_t all = GetProcessorCount();
  struct Size {
    int32_t w, h;
  };
  const Size sizes[] = {{131, 97}, {64, 65}, {300, 211}, {4101, 3}, {97, 131}};
  uint32_t seed = 7;
  for (uint64_t workers : {all, uint64_t(1), uint64_t(3)}) {
    if (workers > all) continue;
    ASSERT_EQ(1, SetWorkerCount(workers));
    for (int32_t f = 1; f <= 9; ++f) {
      for (const Size& z : sizes) {
        // The large sizes on the 8-bit gray and colour planes only: the plain rule is slow.
        if (z.w * z.h > 20000 && f != 1 && f != 4) continue;
        for (int32_t whole = 1; whole >= 0; --whole) {
          SCOPED_TRACE(testing::Message() << workers << " workers, format " << f << " " << z.w << "x" << z.h
                                          << (whole ? " whole" : " rectangle"));
          CImgBuff fast, ref;
          FillRandom(fast, z.w, z.h, f, ++seed);
          for (int y = z.h / 3; y < z.h * 2 / 3; ++y)
            for (int x = z.w / 4; x < z.w * 3 / 4; ++x) fast.SetRGB8(x, y, 140, 140, 140);
          CopyPicture(ref, fast);
          const RoiRect inner{1, 1, z.w - 2, z.h - 2};
          const RoiRect* roi = whole ? nullptr : &inner;
          ASSERT_EQ(1, EqualizeHistogram(&fast, roi));
          RefEqualize(&ref, roi);
          ASSERT_TRUE(SamePixels(fast, ref)) << FirstDifference(fast, ref);
        }
      }
    }
  }
  SetWorkerCount(all);
}

}  // namespace
