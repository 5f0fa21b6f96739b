// Range extraction: hue intervals, level windows, the colour table, the hue pick, and the
// typed kernels against the accessor path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/range.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

uint8_t Gray8At(CImgBuff& img, int32_t x, int32_t y) {
  uint8_t v = 0;
  img.GetGray8(x, y, &v);
  return v;
}

TEST(ExtractHsvRange, HueIntervals) {
  // One pixel per hue sample: pure colours of every sector and the wrap around red.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(4, 1, 5));
  img.SetRGB16(0, 0, 65535, 0, 0);      // hue 0
  img.SetRGB16(1, 0, 65535, 0, 6000);   // hue just below 65535 (wraps)
  img.SetRGB16(2, 0, 65535, 6000, 0);   // hue 999
  img.SetRGB16(3, 0, 0, 65535, 0);      // hue 21844
  CImgBuff all;
  CopyPicture(all, img);
  // Hue 0, halfWidth 1000: 64536..65535 and 0..1000; fill 1 marks the selected as 65535.
  ASSERT_EQ(1, ExtractHsvRange(&img, 0, 1000, 0, 65535, 0, 65535, 0, 1, 0, nullptr));
  EXPECT_EQ(255, Gray8At(img, 0, 0));
  EXPECT_EQ(255, Gray8At(img, 1, 0));
  EXPECT_EQ(255, Gray8At(img, 2, 0));
  EXPECT_EQ(0, Gray8At(img, 3, 0));
  ASSERT_EQ(1, ExtractHsvRange(&all, 12345, 32768, 0, 65535, 0, 65535, 0, 1, 0, nullptr));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(255, Gray8At(all, x, 0)) << x;
  EXPECT_EQ(0, ExtractHsvRange(&all, 0, 32769, 0, 65535, 0, 65535, 0, 1, 0, nullptr));
  EXPECT_EQ(0, ExtractHsvRange(&all, 0, 10, 5, 4, 0, 65535, 0, 1, 0, nullptr));
  EXPECT_EQ(0, ExtractHsvRange(&all, 0, 10, 0, 65535, 9, 8, 0, 1, 0, nullptr));
}

TEST(ExtractHsvRange, GrayWindowsAndReverse) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(256, 1, 1));
  for (int i = 0; i < 256; ++i) img.SetGray8(i, 0, uint8_t(i));
  CImgBuff g2;
  CopyPicture(g2, img);
  // The low bytes of the range are ignored on 8-bit pictures: levels 16 to 32.
  ASSERT_EQ(1, ExtractHsvRange(&img, 0, 0, 0, 65535, 0x1000, 0x20FF, 0, 0, 0, nullptr));
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(i >= 16 && i <= 32 ? i : 0, Gray8At(img, i, 0)) << i;
  // satMin above 0: a gray pixel has saturation 0 and is removed.
  ASSERT_EQ(1, ExtractHsvRange(&g2, 0, 32768, 1, 65535, 0, 65535, 0, 0, 0, nullptr));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(0, Gray8At(g2, i, 0)) << i;

  // reverse 1, fill 0 on colour: the inside becomes background, the rest keeps its colour.
  CImgBuff rgb;
  ASSERT_EQ(1, rgb.Allocate(2, 1, 4));
  rgb.SetRGB8(0, 0, 250, 10, 10);  // red: inside
  rgb.SetRGB8(1, 0, 10, 10, 250);  // blue: outside
  ASSERT_EQ(1, ExtractHsvRange(&rgb, 0, 2000, 0, 65535, 0, 65535, 1, 0, 0, nullptr));
  uint8_t r, g, b;
  rgb.GetRGB8(0, 0, &r, &g, &b);
  EXPECT_EQ(0, r + g + b);
  rgb.GetRGB8(1, 0, &r, &g, &b);
  EXPECT_EQ(10, r);
  EXPECT_EQ(250, b);
  // fill 1, valueFlag 1: selected become 0, removed 255.
  rgb.SetRGB8(0, 0, 250, 10, 10);
  ASSERT_EQ(1, ExtractHsvRange(&rgb, 0, 2000, 0, 65535, 0, 65535, 0, 1, 1, nullptr));
  rgb.GetRGB8(0, 0, &r, &g, &b);
  EXPECT_EQ(0, r + g + b);
  rgb.GetRGB8(1, 0, &r, &g, &b);
  EXPECT_EQ(255 * 3, r + g + b);
}

TEST(ExtractLevelRange, EightBitThreshold) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(256, 1, 1));
  for (int i = 0; i < 256; ++i) img.SetGray8(i, 0, uint8_t(i));
  ASSERT_EQ(1, ExtractLevelRange(&img, 257, 65535, 0, 1, 0, nullptr));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(i >= 1 ? 255 : 0, Gray8At(img, i, 0)) << i;
  CImgBuff empty;
  const RoiRect any{0, 0, 4, 4};
  EXPECT_EQ(1, ExtractLevelRange(&empty, 0, 100, 0, 1, 0, &any));
  EXPECT_EQ(0, ExtractLevelRange(&empty, 0, 100, 0, 1, 0, nullptr));
  const RoiRect outside{300, 0, 400, 0};
  EXPECT_EQ(0, ExtractLevelRange(&img, 0, 100, 0, 1, 0, &outside));
}

TEST(HsvRangeTable, MatchesTheComputedWindow) {
  HsvRangeTable* t = BuildHsvRangeTable(0, 3000, 20000, 65535, 10000, 65535, 0);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(0u, t->grayValid);
  EXPECT_EQ(1, t->colour[31 * 1024]);          // pure red
  EXPECT_EQ(0, t->colour[31 * 32]);            // pure green
  EXPECT_EQ(0, t->colour[31 * 1024 + 31 * 32 + 31]);  // white: no saturation
  for (int i = 0; i < 256; ++i) EXPECT_EQ(0, t->gray[i]);
  std::free(t);
  HsvRangeTable* rev = BuildHsvRangeTable(0, 3000, 0, 65535, 0x4000, 0x80FF, 1);
  ASSERT_NE(nullptr, rev);
  EXPECT_EQ(1u, rev->grayValid);
  EXPECT_EQ(1, rev->gray[0x3F]);
  EXPECT_EQ(0, rev->gray[0x40]);
  EXPECT_EQ(0, rev->gray[0x80]);
  EXPECT_EQ(1, rev->gray[0x81]);
  EXPECT_EQ(1, rev->colour[31 * 1024]);  // bright red: value above the window
  EXPECT_EQ(0, rev->colour[15 * 1024]);  // darker red (value 31710): inside, so removed
  EXPECT_EQ(1, rev->colour[15 * 32]);
  std::free(rev);
  EXPECT_EQ(nullptr, BuildHsvRangeTable(0, 32769, 0, 1, 0, 1, 0));
  EXPECT_EQ(nullptr, BuildHsvRangeTable(0, 10, 2, 1, 0, 1, 0));
}

TEST(AdjustHueInterval, WidensTheShorterWay) {
  struct Case {
    uint16_t c, w, h, outC, outW;
  };
  const Case cases[] = {
      {1000, 100, 1500, 1200, 300},   // up is shorter
      {1000, 100, 950, 1000, 100},    // already inside
      {1000, 100, 500, 800, 300},     // down is shorter
      {0, 100, 65000, 65318, 318},    // down across the wrap
      {5, 32768, 40000, 5, 32768},    // the whole circle
      {0, 32000, 32768, 384, 32384},  // equal distances go down... check below
  };
  for (const Case& k : cases) {
    uint16_t c = 0, w = 0;
    AdjustHueInterval(k.c, k.w, k.h, &c, &w);
    if (k.c == 0 && k.w == 32000) {
      // lo = 33536, hi = 32000: down = 768, up = 768; a tie widens downward by 384.
      EXPECT_EQ(65152, c);
      EXPECT_EQ(32384, w);
      continue;
    }
    EXPECT_EQ(k.outC, c) << k.c << " " << k.w << " " << k.h;
    EXPECT_EQ(k.outW, w) << k.c << " " << k.w << " " << k.h;
  }
  AdjustHueInterval(1, 2, 3, nullptr, nullptr);
}

TEST(Range, TypedKernelsMatchAccessors) {
  HsvRangeTable* table = BuildHsvRangeTable(40000, 9000, 3000, 65535, 2000, 60000, 0);
  ASSERT_NE(nullptr, table);
  struct Setting {
    uint32_t reverse, fill, valueFlag;
  };
  const Setting settings[] = {{0, 0, 0}, {1, 1, 0}, {0, 1, 1}, {1, 0, 1}};
  for (int32_t f = 1; f <= 9; ++f) {
    for (const Setting& s : settings) {
      ExpectTypedMatchesReference(f, "ExtractHsvRange", [&](CImgBuff* p, const RoiRect* r) {
        return ExtractHsvRange(p, 60000, 12000, 2000, 60000, 3000, 62000, s.reverse, s.fill,
                               s.valueFlag, r);
      });
      ExpectTypedMatchesReference(f, "ExtractHsvRange sat 0", [&](CImgBuff* p, const RoiRect* r) {
        return ExtractHsvRange(p, 0, 32768, 0, 65535, 0x3000, 0xB0FF, s.reverse, s.fill,
                               s.valueFlag, r);
      });
      ExpectTypedMatchesReference(f, "ExtractLevelRange", [&](CImgBuff* p, const RoiRect* r) {
        return ExtractLevelRange(p, 0x2345, 0xC000, s.reverse, s.fill, s.valueFlag, r);
      });
      for (int kind = 0; kind < 3; ++kind) {
        ExpectTypedMatchesReference(f, "range workers", [&](CImgBuff* p, const RoiRect* r) {
          RoiRect rr;
          if (!GetRoi(&rr, p, r)) return 0;
          HsvRangeJob job{p, 50000, 20000, 1000, 65000, 4000, 61000, s.reverse, s.valueFlag,
                          s.fill, rr.x0, rr.y0, rr.x1, rr.y1};
          ParallelForFn fn = kind == 0   ? ExtractRangeRowsGray8
                             : kind == 1 ? ExtractRangeRowsGray16
                                         : ExtractRangeRowsHsv;
          RunRows(fn, &job, rr);
          return 1;
        });
      }
      for (int kind = 0; kind < 2; ++kind) {
        ExpectTypedMatchesReference(f, "table workers", [&](CImgBuff* p, const RoiRect* r) {
          RoiRect rr;
          if (!GetRoi(&rr, p, r)) return 0;
          HsvTableJob job{p, table, s.valueFlag, s.fill, rr.x0, rr.y0, rr.x1, rr.y1};
          RunRows(kind == 0 ? ExtractRowsGray : ExtractRowsColor, &job, rr);
          return 1;
        });
      }
    }
  }
  std::free(table);
}

}  // namespace

namespace {

using namespace enginetest;

TEST(ExtractHsvRange, EightBitColourMatchesAccessorsOnEveryQuotient) {
  // Window ends on whole quotients, where an inexact division would land on the wrong side:
  // a / d = 1/2 of a sixth is 5461, 1/3 is 3640 (from 3640.67); d / max = 1/2 is 32767 and
  // 2/3 is 43689 (from 43689.33).
  struct Setting {
    uint16_t hue, halfWidth, satMin, satMax, valMin, valMax;
  };
  const Setting settings[] = {
      {5461 + 3000, 3000, 0, 65535, 0, 65535},        {65535 - 5461, 5461, 0, 65535, 0, 65535},
      {3640, 0, 0, 65535, 0, 65535},                  {21844 + 3640, 1820, 0, 65535, 0, 65535},
      {0, 32768, 32767, 43689, 0, 65535},             {0, 32768, 32768, 43688, 257, 65278},
      {43688 - 3640, 3640, 1, 65534, 0, 65535},       {60000, 12000, 2000, 60000, 3000, 62000},
  };
  for (const Setting& s : settings) {
    for (uint32_t reverse = 0; reverse <= 1; ++reverse) {
      CImgBuff typed, reference;
      FillEveryQuotient(typed);
      CopyPicture(reference, typed);
      const RoiRect inner{1, 3, 509, 508};  // bands that don't start on the picture's edge
      SetEngineTypedKernels(1);
      ASSERT_EQ(1, ExtractHsvRange(&typed, s.hue, s.halfWidth, s.satMin, s.satMax, s.valMin,
                                   s.valMax, reverse, 1, 0, &inner));
      SetEngineTypedKernels(0);
      ASSERT_EQ(1, ExtractHsvRange(&reference, s.hue, s.halfWidth, s.satMin, s.satMax,
                                   s.valMin, s.valMax, reverse, 1, 0, &inner));
      SetEngineTypedKernels(1);
      EXPECT_TRUE(SamePixels(typed, reference))
          << s.hue << " " << s.halfWidth << " " << s.satMin << ": "
          << FirstDifference(typed, reference);
    }
  }
}

TEST(Range, LargePicturesSplitIntoBandsMatchAccessors) {
  // Large enough that the entries hand bands of rows to several workers.
  for (int32_t f : {1, 4, 5}) {
    ExpectTypedMatchesReference(
        f, "ExtractHsvRange large",
        [](CImgBuff* p, const RoiRect* r) {
          return ExtractHsvRange(p, 50000, 9000, 1000, 64000, 2000, 63000, 0, 0, 1, r);
        },
        900, 733);
    ExpectTypedMatchesReference(
        f, "ExtractLevelRange large",
        [](CImgBuff* p, const RoiRect* r) {
          return ExtractLevelRange(p, 0x3000, 0xA0FF, 1, 1, 0, r);
        },
        900, 733);
  }
}

}  // namespace

namespace {

using namespace enginetest;

// The colour extraction filter fills its own jobs with the chain's rectangle, normalised
// without the picture: corners may lie beyond it.  The workers then change exactly what the
// part of the rectangle inside the picture covers, and read and write nothing outside.
TEST(RangeWorkers, CallerRectanglesReachingBeyondThePicture) {
  const int32_t w = 37, h = 19;
  struct Case {
    const char* name;
    RoiRect job;
    RoiRect inside;  // x0 > x1: nothing inside
  };
  const Case cases[] = {
      {"right and bottom beyond", {0, 0, w + 10, h + 7}, {0, 0, w - 1, h - 1}},
      {"left and top negative", {-5, -3, 4, 5}, {0, 0, 4, 5}},
      {"corner", {w - 2, h - 2, w + 100, h + 100}, {w - 2, h - 2, w - 1, h - 1}},
      {"wholly right", {w + 1, 0, w + 9, h - 1}, {1, 0, 0, 0}},
      {"wholly below", {0, h, w - 1, h + 3}, {1, 0, 0, 0}},
      {"to the int32 limit", {3, 2, INT32_MAX, INT32_MAX}, {3, 2, w - 1, h - 1}},
  };
  HsvRangeTable* table = BuildHsvRangeTable(40000, 9000, 3000, 65535, 2000, 60000, 0);
  ASSERT_NE(nullptr, table);
  const ParallelForFn tableWorkers[2] = {ExtractRowsGray, ExtractRowsColor};
  const ParallelForFn rangeWorkers[3] = {ExtractRangeRowsGray8, ExtractRangeRowsGray16,
                                         ExtractRangeRowsHsv};
  for (int32_t typedKernels = 0; typedKernels <= 1; ++typedKernels)
    for (int32_t f = 1; f <= 9; ++f)
      for (const Case& c : cases)
        for (int32_t k = 0; k < 5; ++k) {
          CImgBuff got, want;
          FillRandom(got, w, h, f, uint32_t(55 + f + k));
          CopyPicture(want, got);
          SetEngineTypedKernels(typedKernels);
          if (c.inside.x0 <= c.inside.x1) {
            const RoiRect& in = c.inside;
            if (k < 2) {
              HsvTableJob job{&want, table, 1, 1, in.x0, in.y0, in.x1, in.y1};
              tableWorkers[k](&job, 0, uint64_t(RoiHeight(in)));
            } else {
              HsvRangeJob job{&want, 50000, 20000, 1000, 65000, 4000, 61000, 0, 0, 1,
                              in.x0, in.y0, in.x1, in.y1};
              rangeWorkers[k - 2](&job, 0, uint64_t(RoiHeight(in)));
            }
          }
          const RoiRect& r = c.job;
          if (k < 2) {
            HsvTableJob job{&got, table, 1, 1, r.x0, r.y0, r.x1, r.y1};
            tableWorkers[k](&job, 0, uint64_t(RoiHeight(r)));
          } else {
            HsvRangeJob job{&got, 50000, 20000, 1000, 65000, 4000, 61000, 0, 0, 1,
                            r.x0, r.y0, r.x1, r.y1};
            rangeWorkers[k - 2](&job, 0, uint64_t(RoiHeight(r)));
          }
          SetEngineTypedKernels(1);
          EXPECT_TRUE(SamePixels(got, want))
              << c.name << " format " << f << " worker " << k << " typed " << typedKernels
              << ": " << FirstDifference(got, want);
        }
  std::free(table);
}

}  // namespace

namespace {

// The R,G,B 8 kernels of range extraction (and of component extraction) replace integer
// divisions: hue and saturation quotients by single-precision division, the gray's / 1000 by
// a shift and a multiply.  A window test shows a wrong quotient only where a window end falls
// on it, so the shortcuts are checked here on their whole domain.
TEST(RangeKernels, DivisionShortcutsAreExactOnTheirWholeDomain) {
  int64_t wrong = 0;
  for (int32_t d = 1; d <= 255; ++d)
    for (int32_t a = -d; a <= d; ++a)  // hue: a channel difference within the range d
      wrong += int32_t(float(a * 10922) / float(d)) != a * 10922 / d;
  for (int32_t mx = 1; mx <= 255; ++mx)
    for (int32_t d = 0; d <= mx; ++d)  // saturation: a range at most the maximum
      wrong += int32_t(float(d * 65534) / float(mx)) != d * 65534 / mx;
  for (uint32_t sum = 500; sum <= 299u * 255 + 587u * 255 + 114u * 255 + 500; ++sum)
    wrong += (((sum >> 3) * 33555u) >> 22) != sum / 1000;
  EXPECT_EQ(0, wrong);
}

}  // namespace

namespace {

using namespace enginetest;

TEST(ExtractHsvRange, EightBitColourOfEveryColourMatchesAccessors) {
  // All 2^24 colours, colour i at pixel i, against windows whose ends sit on the sector bases
  // (green 21844, blue 43688) and at the red wrap, so a pixel given the wrong sector or a
  // hue off by one lands on the other side.
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(4096, 4096, 4));
  uint8_t* p = static_cast<uint8_t*>(picture.Pixels());
  for (uint32_t i = 0; i < (1u << 24); ++i, p += 3) {
    p[0] = uint8_t(i >> 16);
    p[1] = uint8_t(i >> 8);
    p[2] = uint8_t(i);
  }
  struct Setting {
    uint16_t hue, halfWidth, satMin, valMin;
  };
  const Setting settings[] = {
      {21844 + 2000, 2000, 0, 0}, {43688 - 3000, 3000, 0, 0}, {65535 - 700, 701, 16384, 4000}};
  for (const Setting& s : settings) {
    CImgBuff typed, reference;
    CopyPicture(typed, picture);
    CopyPicture(reference, picture);
    SetEngineTypedKernels(1);
    ASSERT_EQ(1, ExtractHsvRange(&typed, s.hue, s.halfWidth, s.satMin, 65535, s.valMin, 65535,
                                 0, 1, 0, nullptr));
    SetEngineTypedKernels(0);
    ASSERT_EQ(1, ExtractHsvRange(&reference, s.hue, s.halfWidth, s.satMin, 65535, s.valMin,
                                 65535, 0, 1, 0, nullptr));
    SetEngineTypedKernels(1);
    EXPECT_TRUE(SamePixels(typed, reference)) << s.hue << ": " << FirstDifference(typed, reference);
  }
}

}  // namespace
