// UpConvert: the worked rows (a kept step, smoothed neighbours 100 / 101, constants), depth
// and format refusals, and the whole chain against the plain rule on random pictures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "engine/upconvert.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/filter_reference.h"

namespace {

using namespace enginetest;

CImgBuff* Gray8Rows(CImgBuff& img, const std::vector<uint8_t>& row, int32_t rows) {
  EXPECT_EQ(1, img.Allocate(int32_t(row.size()), rows, 1));
  for (int32_t y = 0; y < rows; ++y)
    for (size_t x = 0; x < row.size(); ++x) img.SetGray8(int32_t(x), y, row[x]);
  return &img;
}

std::vector<uint16_t> Row16(const CImgBuff& img, int32_t y) {
  std::vector<uint16_t> r;
  for (int32_t x = 0; x < img.Width(); ++x) {
    uint16_t v;
    img.GetGray16(x, y, &v);
    r.push_back(v);
  }
  return r;
}

TEST(UpConvert, WorkedRows) {
  struct Case {
    const char* name;
    std::vector<uint8_t> in;
    int32_t checkRow;
    std::vector<uint16_t> expect;
  } cases[] = {
      {"step kept", {0, 0, 0, 255, 255, 255}, 1, {0, 0, 0, 65535, 65535, 65535}},
      // The top and bottom rows are smoothed too, over their shorter windows: the blur is
      // not fully undone there (K1 divides by 8 and K2 by 7 on an edge).
      {"step, top row", {0, 0, 0, 255, 255, 255}, 0, {0, 411, 2469, 63064, 65123, 65535}},
      {"100 / 101 smoothed", {100, 100, 101, 101, 101, 100}, 1, {25700, 25783, 25873, 25954, 25874, 25829}},
  };
  for (const Case& c : cases) {
    CImgBuff img;
    ASSERT_EQ(1, UpConvert(Gray8Rows(img, c.in, 3), 16)) << c.name;
    ASSERT_EQ(2, img.Format());
    EXPECT_EQ(c.expect, Row16(img, c.checkRow)) << c.name;
  }
}

TEST(UpConvert, ConstantsWidenExactly) {
  for (uint8_t c : {0, 1, 77, 254, 255}) {
    CImgBuff img;
    Gray8Rows(img, std::vector<uint8_t>(7, c), 5);
    ASSERT_EQ(1, UpConvert(&img, 16));
    for (int y = 0; y < 5; ++y) EXPECT_EQ(std::vector<uint16_t>(7, uint16_t(c * 257)), Row16(img, y));
    CImgBuff deep;
    Gray8Rows(deep, std::vector<uint8_t>(4, c), 4);
    ASSERT_EQ(1, UpConvert(&deep, 32));
    ASSERT_EQ(3, deep.Format());
    uint32_t v;
    deep.GetGray32(3, 3, &v);
    EXPECT_EQ(uint32_t(c) * 16843009u, v);
  }
}

TEST(UpConvert, DepthsAndRefusals) {
  CImgBuff img, before;
  FillRandom(img, 5, 4, 4, 1);
  CopyPicture(before, img);
  for (uint32_t bits : {0u, 8u, 24u, 31u, 64u}) EXPECT_EQ(0, UpConvert(&img, bits)) << bits;
  EXPECT_TRUE(SamePixels(img, before));
  for (int32_t f : {7, 8, 9}) {
    CImgBuff other, kept;
    FillRandom(other, 3, 3, f, 2);
    CopyPicture(kept, other);
    EXPECT_EQ(0, UpConvert(&other, 16)) << f;
    EXPECT_TRUE(SamePixels(other, kept));
  }
  CImgBuff empty;
  EXPECT_EQ(0, UpConvert(&empty, 16));
  EXPECT_EQ(0, UpConvert(nullptr, 16));

  CImgBuff g16, g16b;
  FillRandom(g16, 6, 5, 2, 3);
  CopyPicture(g16b, g16);
  EXPECT_EQ(1, UpConvert(&g16, 16));
  EXPECT_TRUE(SamePixels(g16, g16b));

  CImgBuff g32;
  FillRandom(g32, 6, 5, 3, 4);
  uint32_t v32;
  g32.GetGray32(2, 3, &v32);
  EXPECT_EQ(1, UpConvert(&g32, 16));
  ASSERT_EQ(2, g32.Format());
  uint16_t v16;
  g32.GetGray16(2, 3, &v16);
  EXPECT_EQ(uint16_t(v32 >> 16), v16);  // narrowed, not smoothed
}

// The plain rule: conversion by the image core, the two reference convolutions, then the
// mean pass read through the accessors.
void RefSmooth(CImgBuff* img) {
  const int32_t k1[9] = {0, 1, 0, 1, 5, 1, 0, 1, 0};
  const int32_t k2[9] = {0, -1, 0, -1, 10, -1, 0, -1, 0};
  filterref::ConvolveInt(img, 3, k1, 1, 1, nullptr);
  filterref::ConvolveInt(img, 3, k2, 1, 1, nullptr);
  CImgBuff copy;
  CopyPicture(copy, *img);
  const bool wide = FormatClassBits(img->Format()) == 32;
  const int64_t threshold = wide ? 131073 : 513;
  for (int32_t y = 0; y < img->Height(); ++y) {
    for (int32_t x = 0; x < img->Width(); ++x) {
      int64_t sum[3] = {0, 0, 0}, n = 0;
      uint32_t v[3];
      const int32_t ch = filterref::Read(copy, x, y, v);
      for (int32_t j = y - 1; j <= y + 1; ++j)
        for (int32_t i = x - 1; i <= x + 1; ++i) {
          if (i < 0 || j < 0 || i >= img->Width() || j >= img->Height()) continue;
          uint32_t s[3];
          filterref::Read(copy, i, j, s);
          for (int32_t c = 0; c < ch; ++c) sum[c] += s[c];
          ++n;
        }
      uint32_t mean[3];
      bool near = true;
      for (int32_t c = 0; c < ch; ++c) {
        mean[c] = uint32_t(sum[c] / n);
        near = near && std::llabs(int64_t(mean[c]) - int64_t(v[c])) < threshold;
      }
      if (ch == 1) mean[1] = mean[2] = mean[0];
      if (near) filterref::Write(*img, x, y, mean);
    }
  }
}

void RefUpConvert(CImgBuff* img, uint32_t bits) {
  const int32_t f = img->Format();
  const int32_t cur = f == 1 || f == 4 ? 8 : (f == 2 || f == 5 ? 16 : 32);
  const int32_t f16 = IsGrayFormat(f) ? 2 : 5, f32 = IsGrayFormat(f) ? 3 : 6;
  if (uint32_t(cur) == bits) return;
  if (bits == 16) {
    img->record->ConvertTo(f16);
    if (cur == 8) RefSmooth(img);
    return;
  }
  if (cur == 8) {
    img->record->ConvertTo(f16);
    RefSmooth(img);
  }
  img->record->ConvertTo(f32);
  RefSmooth(img);
}

TEST(UpConvert, MatchesThePlainRule) {
  for (int32_t f = 1; f <= 6; ++f) {
    for (uint32_t bits : {16u, 32u}) {
      for (auto [w, h] : {std::pair{41, 23}, std::pair{1, 4}, std::pair{3, 1}}) {
        CImgBuff fast, ref;
        FillRandom(fast, w, h, f, uint32_t(f * 10 + bits + w));
        // Smooth areas as well as noise, so that both sides of the threshold occur.
        for (int32_t y = 0; y < h; ++y)
          for (int32_t x = 0; x < w / 2; ++x) fast.SetRGB8(x, y, uint8_t(100 + (x + y) % 3), 50, 200);
        CopyPicture(ref, fast);
        ASSERT_EQ(1, UpConvert(&fast, bits));
        RefUpConvert(&ref, bits);
        ASSERT_TRUE(SamePixels(fast, ref)) << "format " << f << " bits " << bits << ": "
                                           << FirstDifference(fast, ref);
      }
    }
  }
}

}  // namespace
