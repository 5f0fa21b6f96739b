// Colour transform: how often the operation runs, 8-, 16- and 32-bit pictures against each
// other, the interpolation levels of deep channels, the formats that go through a working
// copy, a new operation on a used transform, and many threads filling one cache.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/colorxform.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

std::atomic<uint64_t> g_runs{0};

// A non-linear operation with a spike, so that a wrong interpolation level shows.
uint8_t Spike(uint8_t c) { return c == 128 ? 255 : uint8_t(c / 2); }
void SpikeOp(uint8_t* r, uint8_t* g, uint8_t* b, void*) {
  g_runs.fetch_add(1, std::memory_order_relaxed);
  *r = Spike(*r);
  *g = Spike(*g);
  *b = Spike(*b);
}

// Uses its parameter block: a channel rotation plus an offset.
void RotateOp(uint8_t* r, uint8_t* g, uint8_t* b, void* params) {
  const uint8_t add = *static_cast<uint8_t*>(params);
  const uint8_t t = *r;
  *r = uint8_t(*g + add);
  *g = *b;
  *b = t;
}

struct Xform {
  ColorXform* xf = ColorXformCreate();
  ~Xform() { ColorXformDestroy(xf); }
};

ColorXform* MakeSpike(Xform& x) {
  EXPECT_NE(nullptr, x.xf);
  EXPECT_NE(nullptr, ColorXformSetOperation(x.xf, SpikeOp, 0));
  return x.xf;
}

TEST(ColorXform, OneColourRunsOneCellAndSecondApplyRunsNothing) {
  Xform x;
  MakeSpike(x);
  CImgBuff img, again;
  ASSERT_EQ(1, img.Allocate(300, 200, 4));
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t px = 0; px < 300; ++px) img.SetRGB8(px, y, 10, 128, 77);
  CopyPicture(again, img);
  g_runs = 0;
  ASSERT_EQ(1, ColorXformApply(x.xf, &img));
  EXPECT_EQ(64u, g_runs.load());
  uint8_t r, g, b;
  img.GetRGB8(299, 199, &r, &g, &b);
  EXPECT_EQ(5, r);
  EXPECT_EQ(255, g);
  EXPECT_EQ(38, b);
  ASSERT_EQ(1, ColorXformApply(x.xf, &again));
  EXPECT_EQ(64u, g_runs.load());
  EXPECT_TRUE(SamePixels(img, again));
}

TEST(ColorXform, DeepPicturesOfAnEightBitPictureGiveItsResultWidened) {
  Xform x;
  MakeSpike(x);
  CImgBuff p8, p16, p32;
  FillRandom(p8, 97, 61, 4, 1);
  ASSERT_EQ(1, p16.Allocate(97, 61, 5));
  ASSERT_EQ(1, p32.Allocate(97, 61, 6));
  const uint8_t* s = static_cast<const uint8_t*>(p8.Pixels());
  for (int64_t i = 0; i < 97 * 61 * 3; ++i) {
    static_cast<uint16_t*>(p16.Pixels())[i] = uint16_t(s[i] * 257);
    static_cast<uint32_t*>(p32.Pixels())[i] = s[i] * 16843009u;
  }
  for (CImgBuff* p : {&p8, &p16, &p32}) ASSERT_EQ(1, ColorXformApply(x.xf, p));
  for (int64_t i = 0; i < 97 * 61 * 3; ++i) {
    ASSERT_EQ(s[i] * 257, static_cast<uint16_t*>(p16.Pixels())[i]) << i;
    ASSERT_EQ(s[i] * 16843009u, static_cast<uint32_t*>(p32.Pixels())[i]) << i;
  }
}

// out = (v - lo x 257) / range x (T(hi) x 257 - T(lo) x 257) + T(lo) x 257, truncated.
uint16_t Interpolated16(uint16_t v, uint32_t lo, uint32_t hi) {
  const double tlo = Spike(uint8_t(lo)) * 257.0, thi = Spike(uint8_t(hi)) * 257.0;
  if (hi == lo) return uint16_t(tlo);
  return uint16_t((double(v) - lo * 257.0) / ((hi - lo) * 257.0) * (thi - tlo) + tlo);
}

TEST(ColorXform, SixteenBitLevelsAndTheirNeighbours) {
  struct Case {
    uint16_t v;
    uint32_t lo, hi;
  };
  const Case cases[] = {{0xFFFF, 255, 255}, {0x80FF, 0x80, 0x81}, {0x807F, 0x7F, 0x80},
                        {0x8080, 0x80, 0x81}, {0x0000, 0, 1},     {0x0101, 1, 2},
                        {0x0100, 0, 1},       {0xFEFF, 0xFE, 0xFF}};
  Xform x;
  MakeSpike(x);
  for (const Case& c : cases) {
    uint16_t px[3] = {c.v, c.v, 1000};
    ColorXformRun16(x.xf, px, 1);
    EXPECT_EQ(Interpolated16(c.v, c.lo, c.hi), px[0]) << std::hex << c.v;
    EXPECT_EQ(Interpolated16(1000, 3, 4), px[2]);
  }
  uint16_t white[3] = {65535, 65535, 65535};
  ColorXformRun16(x.xf, white, 1);
  EXPECT_EQ(127 * 257, white[0]);  // T(255) x 257

  uint32_t p32[3] = {0x80FFFFFFu, 0x807F7F7Fu, 0xFFFFFFFFu};
  ASSERT_EQ(1, ColorXformPixel32(x.xf, p32));
  EXPECT_EQ(uint32_t((double(0x80FFFFFFu) - 128.0 * 16843009) / 16843009.0 * (64.0 - 255.0) * 16843009 +
                     255.0 * 16843009),
            p32[0]);
  EXPECT_EQ(uint32_t((double(0x807F7F7Fu) - 127.0 * 16843009) / 16843009.0 * (255.0 - 63.0) * 16843009 +
                     63.0 * 16843009),
            p32[1]);
  EXPECT_EQ(127u * 16843009u, p32[2]);
}

TEST(ColorXform, NoOperationAndBadArguments) {
  Xform x;
  CImgBuff img, orig, empty;
  FillRandom(img, 40, 30, 4, 2);
  CopyPicture(orig, img);
  EXPECT_EQ(1, ColorXformApply(x.xf, &img));
  EXPECT_TRUE(SamePixels(orig, img));
  EXPECT_EQ(0, ColorXformApply(nullptr, &img));
  EXPECT_EQ(0, ColorXformApply(x.xf, &empty));
  EXPECT_EQ(0, ColorXformApply(x.xf, nullptr));
  EXPECT_EQ(0, ColorXformDestroy(nullptr));
  EXPECT_EQ(nullptr, ColorXformSetOperation(nullptr, SpikeOp, 4));
  uint8_t r = 1, g = 2, b = 3;
  EXPECT_EQ(0, ColorXformLookup(x.xf, &r, &g, &b));  // no operation
}

// Formats other than R,G,B go through R,G,B of their depth and come back in their own format.
TEST(ColorXform, WorkingCopyFormatsComeBackInTheirFormat) {
  struct Case {
    int32_t format, via;
  };
  const Case cases[] = {{1, 4}, {9, 4}, {2, 5}, {8, 5}, {3, 6}, {7, 6}};
  for (const Case& c : cases) {
    Xform a, b;
    MakeSpike(a);
    MakeSpike(b);
    CImgBuff img, manual;
    FillRandom(img, 45, 33, c.format, 3 + c.format);
    CopyPicture(manual, img);
    ASSERT_EQ(1, ColorXformApply(a.xf, &img));
    ASSERT_EQ(c.format, img.Format());
    ASSERT_EQ(1, manual.record->ConvertTo(c.via));
    ASSERT_EQ(1, ColorXformApply(b.xf, &manual));
    ASSERT_EQ(1, manual.record->ConvertTo(c.format));
    EXPECT_TRUE(SamePixels(img, manual)) << c.format << ": " << FirstDifference(img, manual);
  }
  // A 16-bit gray level v through the spike: R = G = B, so gray stays the interpolated level.
  Xform x;
  MakeSpike(x);
  CImgBuff g16;
  ASSERT_EQ(1, g16.Allocate(2, 1, 2));
  g16.SetGray16(0, 0, 0x80FF);
  g16.SetGray16(1, 0, 0x0100);
  ASSERT_EQ(1, ColorXformApply(x.xf, &g16));
  uint16_t v;
  g16.GetGray16(0, 0, &v);
  EXPECT_EQ(Interpolated16(0x80FF, 0x80, 0x81), v);
  g16.GetGray16(1, 0, &v);
  EXPECT_EQ(Interpolated16(0x0100, 0, 1), v);
}

TEST(ColorXform, NewOperationOnUsedTransformDropsOldResults) {
  Xform x;
  MakeSpike(x);
  CImgBuff img, orig;
  FillRandom(img, 64, 64, 4, 4);
  CopyPicture(orig, img);
  ASSERT_EQ(1, ColorXformApply(x.xf, &img));
  uint8_t* add = static_cast<uint8_t*>(ColorXformSetOperation(x.xf, RotateOp, 1));
  ASSERT_NE(nullptr, add);
  *add = 3;
  CopyPicture(img, orig);
  ASSERT_EQ(1, ColorXformApply(x.xf, &img));
  const uint8_t* o = static_cast<const uint8_t*>(orig.Pixels());
  const uint8_t* p = static_cast<const uint8_t*>(img.Pixels());
  for (int64_t i = 0; i < 64 * 64; ++i) {
    ASSERT_EQ(uint8_t(o[3 * i + 1] + 3), p[3 * i]);
    ASSERT_EQ(o[3 * i + 2], p[3 * i + 1]);
    ASSERT_EQ(o[3 * i], p[3 * i + 2]);
  }
}

TEST(ColorXform, ManyThreadsFillEachCellOnce) {
  CImgBuff img, orig;
  FillRandom(img, 700, 500, 4, 5);
  CopyPicture(orig, img);
  std::vector<uint8_t> seen(ColorCellCount, 0);
  const uint8_t* p = static_cast<const uint8_t*>(orig.Pixels());
  uint64_t cells = 0;
  for (int64_t i = 0; i < 700 * 500; ++i) {
    const uint32_t c = (p[3 * i] >> 2) << 12 | (p[3 * i + 1] >> 2) << 6 | (p[3 * i + 2] >> 2);
    if (!seen[c]) ++cells;
    seen[c] = 1;
  }
  Xform x;
  MakeSpike(x);
  g_runs = 0;
  // The pool's workers share one apply; further threads apply the same transform at once.
  std::vector<CImgBuff> copies(4);
  for (CImgBuff& c : copies) CopyPicture(c, img);
  std::vector<std::thread> threads;
  for (CImgBuff& c : copies) threads.emplace_back([&x, &c] { EXPECT_EQ(1, ColorXformApply(x.xf, &c)); });
  ASSERT_EQ(1, ColorXformApply(x.xf, &img));
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(64 * cells, g_runs.load());
  for (CImgBuff& c : copies) EXPECT_TRUE(SamePixels(img, c));
  const uint8_t* o = static_cast<const uint8_t*>(orig.Pixels());
  for (int64_t i = 0; i < 700 * 500 * 3; i += 17) ASSERT_EQ(Spike(o[i]), static_cast<const uint8_t*>(img.Pixels())[i]);
}

}  // namespace
