// Image shift: worked rows and columns, fills at every depth, the two-step order, refusals,
// and the typed kernels against the accessor path and against a copy-based reference.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/colour.h"
#include "engine/shift.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

void MakeRow(CImgBuff& img, const std::vector<int>& v, int32_t format = 1, bool column = false) {
  ASSERT_EQ(1, img.Allocate(column ? 1 : int32_t(v.size()), column ? int32_t(v.size()) : 1, format));
  for (size_t i = 0; i < v.size(); ++i)
    img.SetGray8(column ? 0 : int32_t(i), column ? int32_t(i) : 0, uint8_t(v[i]));
}

std::vector<int> ReadRow(const CImgBuff& img, bool column = false) {
  std::vector<int> out;
  const int32_t n = column ? img.Height() : img.Width();
  for (int32_t i = 0; i < n; ++i) {
    uint8_t g = 0;
    img.GetGray8(column ? 0 : i, column ? i : 0, &g);
    out.push_back(g);
  }
  return out;
}

struct RowCase {
  const char* name;
  std::vector<int> in;
  double dx;
  bool whole;
  uint8_t fill;
  std::vector<int> expected;
};

TEST(ShiftImage, WorkedRowsAndColumns) {
  const RowCase cases[] = {
      {"half right, fill 0", {10, 20, 30}, 0.5, false, 0, {5, 15, 25}},
      {"half left, fill 255", {10, 20, 30}, -0.5, false, 255, {15, 25, 142}},
      {"whole right by 1", {10, 20, 30, 40}, 1, true, 0, {0, 10, 20, 30}},
      {"whole left by 2", {10, 20, 30, 40}, -2, true, 0, {30, 40, 0, 0}},
      // 1.25 = whole 1, then 0.25 toward higher indexes: (0,10,20,30) blended with the left
      {"1.25 right", {10, 20, 30, 40}, 1.25, false, 0, {0, 7, 17, 27}},
      // -1.25 = whole -1 giving (20,30,40,0), then -0.25: 0.75 v(i) + 0.25 v(i+1)
      {"1.25 left", {10, 20, 30, 40}, -1.25, false, 0, {22, 32, 30, 0}},
      {"exactly the width", {10, 20, 30}, 3, true, 9, {9, 9, 9}},
      {"beyond the width, left", {10, 20, 30}, -7, true, 9, {9, 9, 9}},
      {"whole by the largest int", {10, 20, 30}, 2147483647.0, true, 1, {1, 1, 1}},
      {"whole by the smallest int", {10, 20, 30}, -2147483648.0, true, 1, {1, 1, 1}},
      {"zero", {10, 20, 30}, 0, false, 255, {10, 20, 30}},
  };
  for (const RowCase& c : cases) {
    for (bool column : {false, true}) {
      CImgBuff img;
      MakeRow(img, c.in, 1, column);
      const int32_t r = c.whole ? (column ? ShiftImageWhole(&img, 0, int32_t(c.dx), c.fill)
                                          : ShiftImageWhole(&img, int32_t(c.dx), 0, c.fill))
                                : (column ? ShiftImage(&img, 0, c.dx, c.fill) : ShiftImage(&img, c.dx, 0, c.fill));
      EXPECT_EQ(1, r) << c.name;
      EXPECT_EQ(c.expected, ReadRow(img, column)) << c.name << (column ? " (column)" : " (row)");
    }
  }
}

TEST(ShiftImage, HorizontalThenVerticalOnItsResult) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(3, 3, 1));
  const uint8_t p = 201, fill = 40;
  img.SetGray8(0, 0, p);
  ASSERT_EQ(1, ShiftImage(&img, 0.5, 0.5, fill));
  uint8_t g;
  img.GetGray8(0, 0, &g);
  const int inner = int(0.5 * p + 0.5 * fill);
  EXPECT_EQ(int(0.5 * inner + 0.5 * fill), g);
  // (1, 1) received a quarter of p through the two steps: trunc(0.5 trunc(0.5 p)).
  img.GetGray8(1, 1, &g);
  EXPECT_EQ(int(0.5 * int(0.5 * p)), g);
}

TEST(ShiftImage, FillAtEachDepth) {
  // 16-bit gray with fill 255: vacated pixels are 65535 and the first column blends with it.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(3, 1, 2));
  img.SetGray16(0, 0, 1000);
  img.SetGray16(1, 0, 2000);
  img.SetGray16(2, 0, 3000);
  ASSERT_EQ(1, ShiftImage(&img, 1.5, 0, 255));
  uint16_t v[3];
  for (int i = 0; i < 3; ++i) img.GetGray16(i, 0, &v[i]);
  EXPECT_EQ(65535, v[0]);
  EXPECT_EQ(int(0.5 * 1000 + 0.5 * 65535), v[1]);
  EXPECT_EQ(1500, v[2]);

  // 32-bit colour: fill 128 at 32 bits is 128 * 16843009 in every channel.
  ASSERT_EQ(1, img.Allocate(2, 1, 6));
  ASSERT_EQ(1, ShiftImageWhole(&img, 1, 0, 128));
  uint32_t r, g, b;
  img.GetRGB32(0, 0, &r, &g, &b);
  EXPECT_EQ(128u * 16843009u, r);
  EXPECT_EQ(r, b);

  // XYZ: the fractional fill is the XYZ of the 32-bit gray, doubles stored as computed.
  ASSERT_EQ(1, img.Allocate(2, 1, 7));
  img.SetXYZ(0, 0, 0.2, 0.3, 0.4);
  img.SetXYZ(1, 0, 0.6, 0.5, 0.4);
  ASSERT_EQ(1, ShiftImage(&img, 0.25, 0, 200));
  double fX, fY, fZ, X, Y, Z;
  Rgb32ToXyz(200u * 16843009u, 200u * 16843009u, 200u * 16843009u, &fX, &fY, &fZ);
  img.GetXYZ(0, 0, &X, &Y, &Z);
  EXPECT_DOUBLE_EQ(0.75 * 0.2 + 0.25 * fX, X);
  EXPECT_DOUBLE_EQ(0.75 * 0.4 + 0.25 * fZ, Z);
  img.GetXYZ(1, 0, &X, &Y, &Z);
  EXPECT_DOUBLE_EQ(0.75 * 0.6 + 0.25 * 0.2, X);
}

TEST(ShiftImage, WholeMovesKeepStoredPixelsExactly) {
  // C,M,Y,K pixels with ink under black would change if moved through R, G, B.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(3, 2, 9));
  img.SetCMYK8(0, 0, 10, 20, 30, 40);
  img.SetCMYK8(1, 1, 50, 60, 70, 80);
  ASSERT_EQ(1, ShiftImageWhole(&img, 1, 0, 0));
  uint8_t c, m, y, k;
  img.GetCMYK8(1, 0, &c, &m, &y, &k);
  EXPECT_EQ((std::vector<int>{10, 20, 30, 40}), (std::vector<int>{c, m, y, k}));
  img.GetCMYK8(2, 1, &c, &m, &y, &k);
  EXPECT_EQ((std::vector<int>{50, 60, 70, 80}), (std::vector<int>{c, m, y, k}));
  img.GetCMYK8(0, 1, &c, &m, &y, &k);  // fill 0 as SetGray8 writes it: K = 255
  EXPECT_EQ(255, k);
}

TEST(ShiftImage, RefusesBadInputUnchanged) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[][2] = {{nan, 0}, {0, nan}, {inf, 0}, {0, -inf}, {3e9, 0}, {0, -2147483649.5}};
  CImgBuff img, before;
  FillRandom(img, 9, 7, 1, 3);
  CopyPicture(before, img);
  for (const auto& d : bad) {
    EXPECT_EQ(0, ShiftImage(&img, d[0], d[1], 0)) << d[0] << ", " << d[1];
    EXPECT_TRUE(SamePixels(img, before));
  }
  CImgBuff empty;
  EXPECT_EQ(0, ShiftImage(&empty, 1.5, 0, 0));
  EXPECT_EQ(0, ShiftImageWhole(&empty, 1, 0, 0));
  EXPECT_EQ(0, ShiftImage(nullptr, 1.5, 0, 0));
  EXPECT_EQ(0, ShiftImageWhole(nullptr, 1, 1, 0));
  // The largest whole part that fits is still accepted (everything becomes the fill).
  EXPECT_EQ(1, ShiftImage(&img, -2147483648.75, 0, 7));
  uint8_t g;
  img.GetGray8(8, 6, &g);
  EXPECT_EQ(7, g);
}

// The algorithm as written with a copy: whole rows, whole columns, then each fraction read
// from a fresh copy, every channel through the slot's accessors.
void ReferenceShift(CImgBuff& img, double dx, double dy, uint8_t fill) {
  const int32_t w = img.Width(), h = img.Height();
  const bool colour = img.Format() >= 4;
  const double maxv = FormatClassMax(img.Format());
  const int32_t bits = FormatClassBits(img.Format());
  const double F = bits == 8 ? fill : bits == 16 ? fill * 257.0 : double(fill) * 16843009.0;
  auto get = [&](const CImgBuff& s, int32_t x, int32_t y, double* c) {
    uint32_t r, g, b;
    if (bits == 8) {
      uint8_t a, e, f;
      s.GetRGB8(x, y, &a, &e, &f);
      r = a, g = e, b = f;
    } else if (bits == 16) {
      uint16_t a, e, f;
      s.GetRGB16(x, y, &a, &e, &f);
      r = a, g = e, b = f;
    } else {
      s.GetRGB32(x, y, &r, &g, &b);
    }
    c[0] = r, c[1] = g, c[2] = b;
  };
  auto put = [&](int32_t x, int32_t y, const double* c) {
    uint32_t v[3];
    for (int k = 0; k < 3; ++k) v[k] = c[k] > maxv ? uint32_t(maxv) : uint32_t(c[k]);
    if (!colour) {
      if (bits == 8) img.SetGray8(x, y, uint8_t(v[0]));
      else if (bits == 16) img.SetGray16(x, y, uint16_t(v[0]));
      else img.SetGray32(x, y, v[0]);
    } else if (bits == 8) img.SetRGB8(x, y, uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]));
    else if (bits == 16) img.SetRGB16(x, y, uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2]));
    else img.SetRGB32(x, y, v[0], v[1], v[2]);
  };
  const int32_t ix = int32_t(dx), iy = int32_t(dy);
  ASSERT_EQ(1, ShiftImageWhole(&img, ix, iy, fill));
  for (int pass = 0; pass < 2; ++pass) {
    const double f = pass == 0 ? dx - ix : dy - iy;
    if (f == 0) continue;
    CImgBuff copy;
    copy.CopyFrom(img);
    const int32_t lines = pass == 0 ? h : w, n = pass == 0 ? w : h;
    for (int32_t l = 0; l < lines; ++l) {
      for (int32_t i = 0; i < n; ++i) {
        const int32_t j = f > 0 ? i - 1 : i + 1;
        double a[3], b[3] = {F, F, F}, o[3];
        get(copy, pass == 0 ? i : l, pass == 0 ? l : i, a);
        if (j >= 0 && j < n) get(copy, pass == 0 ? j : l, pass == 0 ? l : j, b);
        const double g = std::fabs(f);
        for (int k = 0; k < 3; ++k) o[k] = (1 - g) * a[k] + g * b[k];
        put(pass == 0 ? i : l, pass == 0 ? l : i, o);
      }
    }
  }
}

TEST(ShiftImage, KernelsMatchAccessorPathAndReference) {
  const double shifts[][2] = {{0.37, 0}, {0, -0.81}, {2.6, -1.3}, {-5.5, 3.25}, {-0.05, 0.999}};
  for (int32_t format = 1; format <= 9; ++format) {
    for (const auto& d : shifts) {
      CImgBuff typed, accessor;
      FillRandom(typed, 97, 61, format, uint32_t(format * 31 + int(d[0] * 10)));
      CopyPicture(accessor, typed);
      SetEngineTypedKernels(1);
      ASSERT_EQ(1, ShiftImage(&typed, d[0], d[1], 77));
      SetEngineTypedKernels(0);
      ASSERT_EQ(1, ShiftImage(&accessor, d[0], d[1], 77));
      SetEngineTypedKernels(1);
      EXPECT_TRUE(SamePixels(typed, accessor))
          << "format " << format << " by " << d[0] << ", " << d[1] << ": " << FirstDifference(typed, accessor);
      if (format <= 6) {
        CImgBuff ref;
        FillRandom(ref, 97, 61, format, uint32_t(format * 31 + int(d[0] * 10)));
        ReferenceShift(ref, d[0], d[1], 77);
        EXPECT_TRUE(SamePixels(typed, ref))
            << "reference, format " << format << " by " << d[0] << ", " << d[1] << ": "
            << FirstDifference(typed, ref);
      }
    }
  }
}

}  // namespace
