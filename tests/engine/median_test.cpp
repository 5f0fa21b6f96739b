// MedianFilter: the worked corner and 32-bit cases, refusals, and every fast path (sorted
// columns, selection networks, sliding histogram, border selection) against a full sort of
// each window on random pictures of every format.
#include <gtest/gtest.h>

#include <vector>

#include "engine/convolve.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/filter_reference.h"

namespace {

using namespace enginetest;

TEST(MedianFilter, CornerTakesTheUpperMiddleOfFour) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(2, 2, 1));
  img.SetGray8(0, 0, 10);
  img.SetGray8(1, 0, 20);
  img.SetGray8(0, 1, 30);
  img.SetGray8(1, 1, 40);
  ASSERT_EQ(1, MedianFilter(&img, 3, nullptr));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      EXPECT_EQ(30, v);
    }
}

TEST(MedianFilter, ThirtyTwoBitSamplesCompareUnsigned) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(3, 3, 3));
  img.SetGray32(1, 0, 4294967295u);
  img.SetGray32(1, 1, 0);
  img.SetGray32(1, 2, 1);
  img.SetGray32(0, 1, 77);  // outside the rectangle: must not take part nor change
  const RoiRect column{1, 0, 1, 2};
  ASSERT_EQ(1, MedianFilter(&img, 3, &column));
  uint32_t v;
  img.GetGray32(1, 1, &v);
  EXPECT_EQ(1u, v);
  img.GetGray32(0, 1, &v);
  EXPECT_EQ(77u, v);
}

TEST(MedianFilter, RefusalsLeaveThePictureUnchanged) {
  CImgBuff img, before;
  FillRandom(img, 9, 7, 5, 3);
  CopyPicture(before, img);
  const RoiRect outside{-9, -9, -1, -1};
  for (uint64_t size : {0ull, 2ull, 4ull, 10ull, 4294967297ull})
    EXPECT_EQ(0, MedianFilter(&img, size, nullptr)) << size;
  EXPECT_EQ(0, MedianFilter(&img, 3, &outside));
  EXPECT_TRUE(SamePixels(img, before));
  CImgBuff empty;
  EXPECT_EQ(0, MedianFilter(&empty, 3, nullptr));
  EXPECT_EQ(0, MedianFilter(nullptr, 3, nullptr));
}

// Sizes that reach each kernel: 1 (identity), 3 (sorted columns), 5 to 9 (networks, or the
// histogram for 8-bit from 7), 11 (histogram or nth_element), and windows wider than the
// rectangle.
TEST(MedianFilter, MatchesAFullSortOnEveryFormat) {
  for (uint64_t size : {1ull, 3ull, 5ull, 7ull, 9ull, 11ull}) {
    for (int32_t f = 1; f <= 9; ++f) {
      auto check = [&](int32_t w, int32_t h) {
        std::vector<RoiRect> rects = TestRects(w, h);
        for (size_t n = 0; n <= rects.size(); ++n) {
          const RoiRect* roi = n == 0 ? nullptr : &rects[n - 1];
          CImgBuff fast, ref;
          FillRandom(fast, w, h, f, uint32_t(n * 13 + f * 7 + size));
          CopyPicture(ref, fast);
          ASSERT_EQ(filterref::MedianFilter(&ref, size, roi), MedianFilter(&fast, size, roi));
          ASSERT_TRUE(SamePixels(fast, ref)) << "size " << size << " format " << f << " rect "
                                             << n << ": " << FirstDifference(fast, ref);
        }
      };
      check(97, 29);  // rows longer than one chunk of network lanes
      check(8, 6);
    }
  }
}

// Pictures large enough to be filtered in place in several bands of rows (on a machine with
// two or more workers): the rows on either side of every band boundary must see the
// originals of their neighbours, never a neighbour band's results.
TEST(MedianFilter, BandsMatchAFullSort) {
  for (uint64_t size : {1ull, 3ull, 5ull, 7ull, 9ull}) {
    for (int32_t f : {1, 2, 3, 4, 5, 6}) {
      const RoiRect inner{7, 3, 150, 117};
      for (const RoiRect* roi : {static_cast<const RoiRect*>(nullptr), &inner}) {
        CImgBuff fast, ref;
        FillRandom(fast, 160, 121, f, uint32_t(size * 31 + f));
        CopyPicture(ref, fast);
        ASSERT_EQ(1, MedianFilter(&fast, size, roi));
        ASSERT_EQ(1, filterref::MedianFilter(&ref, size, roi));
        ASSERT_TRUE(SamePixels(fast, ref)) << "size " << size << " format " << f << " rect "
                                           << (roi != nullptr) << ": " << FirstDifference(fast, ref);
      }
    }
  }
}

// Few distinct values: many ties inside every window.
TEST(MedianFilter, TiesGiveTheSameElement) {
  for (int32_t f : {1, 2, 3, 4}) {
    for (uint64_t size : {3ull, 5ull, 7ull, 9ull}) {
      CImgBuff fast, ref;
      FillRandom(fast, 40, 30, f, uint32_t(size));
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) fast.SetRGB8(x, y, uint8_t((x * y) % 3 * 100), 7, uint8_t(x % 2 * 255));
      CopyPicture(ref, fast);
      ASSERT_EQ(1, MedianFilter(&fast, size, nullptr));
      filterref::MedianFilter(&ref, size, nullptr);
      ASSERT_TRUE(SamePixels(fast, ref)) << "format " << f << " size " << size << ": "
                                         << FirstDifference(fast, ref);
    }
  }
}

// Rectangles one or two rows tall or one column wide: windows cut on both sides at once.
TEST(MedianFilter, ThinRectanglesMatchAFullSort) {
  const RoiRect rects[] = {{2, 5, 40, 5}, {0, 0, 44, 1}, {3, 1, 3, 20}, {1, 7, 2, 9}};
  for (uint64_t size : {3ull, 5ull, 7ull, 9ull}) {
    for (int32_t f : {1, 2, 3, 4, 5, 6}) {
      for (const RoiRect& rc : rects) {
        CImgBuff fast, ref;
        FillRandom(fast, 45, 22, f, uint32_t(size * 5 + f));
        CopyPicture(ref, fast);
        ASSERT_EQ(1, MedianFilter(&fast, size, &rc));
        ASSERT_EQ(1, filterref::MedianFilter(&ref, size, &rc));
        ASSERT_TRUE(SamePixels(fast, ref)) << "size " << size << " format " << f << " rect "
                                           << rc.x0 << "," << rc.y0 << "," << rc.x1 << ","
                                           << rc.y1 << ": " << FirstDifference(fast, ref);
      }
    }
  }
}

// Random pictures of two values: a comparator network that selects correctly from every
// pattern of 0s and 1s selects correctly from any input, so many random 0-1 windows probe
// the fixed networks far better than random levels do.
TEST(MedianFilter, ZeroOneWindowsMatchAFullSort) {
  for (uint64_t size : {3ull, 5ull, 7ull, 9ull}) {
    for (int32_t f : {1, 2, 4}) {
      CImgBuff fast, ref;
      FillRandom(fast, 150, 90, f, uint32_t(size * 7 + f));
      for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 150; ++x) {
          uint8_t r, g, b;
          fast.GetRGB8(x, y, &r, &g, &b);
          fast.SetRGB8(x, y, uint8_t(r & 1), uint8_t(g >> 7), uint8_t((b >> 3) & 1));
        }
      CopyPicture(ref, fast);
      ASSERT_EQ(1, MedianFilter(&fast, size, nullptr));
      ASSERT_EQ(1, filterref::MedianFilter(&ref, size, nullptr));
      ASSERT_TRUE(SamePixels(fast, ref)) << "size " << size << " format " << f << ": "
                                         << FirstDifference(fast, ref);
    }
  }
}

}  // namespace
