// UpscaleImage2x and the doubled-resolution composite: pixel doubling through 8-bit R, G, B,
// the size refusal, the lattice after a lone first frame, the cell offset rule, the landing
// of an offset frame, truncated neighbour means in the hole fill, the fill entering the sums,
// and an end to the hole fill when nothing was ever added.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/upscale.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/scene_test_util.h"

using namespace enginetest;

namespace {

uint8_t Gray8At(const CImgBuff& img, int32_t x, int32_t y) {
  uint8_t v = 0;
  img.GetGray8(x, y, &v);
  return v;
}

size_t Cells(const UpscaleComposite* c) { return size_t(2 * c->width) * size_t(2 * c->height); }

}  // namespace

TEST(UpscaleImage2x, EveryPixelBecomesFourThrough8Bits) {
  for (int32_t format = 1; format <= 9; ++format) {
    CImgBuff img, orig;
    FillRandom(img, 7, 5, format, 21);
    CopyPicture(orig, img);
    ASSERT_EQ(1, UpscaleImage2x(&img)) << format;
    ASSERT_EQ(14, img.Width());
    ASSERT_EQ(10, img.Height());
    ASSERT_EQ(format, img.Format());
    // What SetRGB8 of the 8-bit R, G, B makes of the source pixel.
    CImgBuff one;
    ASSERT_EQ(1, one.Allocate(1, 1, format));
    const int32_t bpp = ImgBytesPerPixel[format];
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x) {
        uint8_t r, g, b;
        orig.GetRGB8(x, y, &r, &g, &b);
        one.SetRGB8(0, 0, r, g, b);
        for (int32_t k = 0; k < 4; ++k)
          ASSERT_EQ(0, std::memcmp(one.Pixels(), RowPtr<uint8_t>(img.record, 2 * x + (k & 1), 2 * y + (k >> 1)), bpp))
              << "format " << format << " (" << x << ", " << y << ") copy " << k;
      }
  }
  CImgBuff deep;
  ASSERT_EQ(1, deep.Allocate(1, 1, 2));
  deep.SetGray16(0, 0, 0x1234);
  ASSERT_EQ(1, UpscaleImage2x(&deep));
  uint16_t v;
  deep.GetGray16(1, 1, &v);
  EXPECT_EQ(0x1212, v);  // the low bits are lost on the way through 8 bits
  CImgBuff empty;
  EXPECT_EQ(0, UpscaleImage2x(&empty));
  EXPECT_EQ(0, UpscaleImage2x(nullptr));
  for (int32_t format = 1; format <= 6; ++format)
    ExpectTypedMatchesReference(format, "UpscaleImage2x", [](CImgBuff* img, const RoiRect*) { return UpscaleImage2x(img); });
}

TEST(CompositeUpscale, TooSmallFramesAreRefused) {
  struct Case {
    int32_t w, h;
  } cases[] = {{94, 200}, {200, 94}, {95, 95}};
  for (const Case& c : cases) {
    CImgBuff img;
    FillRandom(img, c.w, c.h, 4, 1);
    EXPECT_EQ(nullptr, CompositeUpscaleCreate(&img)) << c.w << " x " << c.h;
  }
  CImgBuff empty;
  EXPECT_EQ(nullptr, CompositeUpscaleCreate(&empty));
  EXPECT_EQ(nullptr, CompositeUpscaleCreate(nullptr));
  EXPECT_EQ(0, CompositeUpscaleFinish(nullptr, &empty));
}

// A lone first frame of odd size: (2x, 2y) is its pixel; one hole-fill pass makes side cells
// the mean of their two side neighbours and centre cells the mean of four corners; the last
// column and row use the neighbours they have.
TEST(CompositeUpscale, LoneFirstFrameFillsTheLattice) {
  for (int32_t format : {1, 4}) {
    const Scene scene(2, 131, 111);
    CImgBuff frame, orig;
    scene.Render(frame, 131, 111);
    if (format == 4) {
      ASSERT_EQ(1, frame.record->ConvertTo(4));
    }
    CopyPicture(orig, frame);
    UpscaleComposite* comp = CompositeUpscaleCreate(&frame);
    ASSERT_NE(nullptr, comp);
    EXPECT_TRUE(SamePixels(frame, orig)) << "the first frame is already steady";
    EXPECT_EQ(1, comp->colorMode);
    EXPECT_EQ(2, comp->factor);
    CImgBuff result;
    ASSERT_EQ(1, CompositeUpscaleFinish(comp, &result));
    ASSERT_EQ(262, result.Width());
    ASSERT_EQ(222, result.Height());
    ASSERT_EQ(format, result.Format());
    auto p = [&](int32_t x, int32_t y) { return uint32_t(Gray8At(orig, x, y)); };
    for (int32_t y = 0; y < 111; ++y)
      for (int32_t x = 0; x < 131; ++x) {
        const int32_t xr = x + 1 < 131 ? x + 1 : -1, yd = y + 1 < 111 ? y + 1 : -1;
        const uint32_t side = xr >= 0 ? (p(x, y) + p(xr, y)) / 2 : p(x, y);
        const uint32_t below = yd >= 0 ? (p(x, y) + p(x, yd)) / 2 : p(x, y);
        uint32_t centre = p(x, y);
        if (xr >= 0 && yd >= 0) centre = (p(x, y) + p(xr, y) + p(x, yd) + p(xr, yd)) / 4;
        else if (xr >= 0) centre = (p(x, y) + p(xr, y)) / 2;
        else if (yd >= 0) centre = (p(x, y) + p(x, yd)) / 2;
        ASSERT_EQ(p(x, y), Gray8At(result, 2 * x, 2 * y)) << x << ", " << y;
        ASSERT_EQ(side, Gray8At(result, 2 * x + 1, 2 * y)) << x << ", " << y;
        ASSERT_EQ(below, Gray8At(result, 2 * x, 2 * y + 1)) << x << ", " << y;
        ASSERT_EQ(centre, Gray8At(result, 2 * x + 1, 2 * y + 1)) << x << ", " << y;
      }
  }
}

TEST(CompositeUpscale, CellOffsetRoundsHalvesAwayFromZero) {
  const struct {
    double e;
    int32_t offset;
  } cases[] = {{0.5, -1}, {-0.5, 1}, {0.49, 0}, {-0.49, 0}, {0, 0}, {1, -1}, {-1, 1}, {0.51, -1}};
  for (const auto& c : cases) EXPECT_EQ(c.offset, CompositeCellOffset(c.e)) << c.e;
}

// A frame a fraction of a pixel off: its samples land one cell over, column 0 dropped; a frame
// moved by whole pixels with fill 255 adds white where stabilisation uncovered the edge; a
// frame of another size is refused and changes nothing.
TEST(CompositeUpscale, AddedFramesLandInTheirCells) {
  const int32_t w = 131, h = 111;
  const Scene scene(4, w, h);
  CImgBuff first;
  scene.Render(first, w, h);
  UpscaleComposite* comp = CompositeUpscaleCreate(&first);
  ASSERT_NE(nullptr, comp);
  const int64_t W = 2 * w;

  CImgBuff moved;
  scene.Render(moved, w, h, 0, 3, 0);
  ASSERT_EQ(1, CompositeUpscaleAddFrame(comp, &moved, 255));
  for (int32_t y = 0; y < h; ++y) {
    const int64_t cell = 2 * y * W + 2 * (w - 1);
    EXPECT_EQ(2u, comp->count[cell]);
    EXPECT_EQ(uint32_t(Gray8At(first, w - 1, y)) + 255u, comp->sumR[cell]) << y;
  }

  CImgBuff half;
  scene.Render(half, w, h, 0, 0.4, 0);  // 0.8 doubled pixels: offset -1
  ASSERT_EQ(1, CompositeUpscaleAddFrame(comp, &half, 0));
  for (int32_t y = 0; y < h; y += 10) {
    EXPECT_EQ(0u, comp->count[2 * y * W + W - 1]) << "column 0 was dropped, nothing reaches the last";
    EXPECT_EQ(1u, comp->count[2 * y * W + 1]) << y;
    EXPECT_EQ(1u, comp->count[2 * y * W + 2 * (w - 1) - 1]) << y;
  }

  std::vector<uint32_t> before(comp->count, comp->count + Cells(comp));
  CImgBuff other;
  FillRandom(other, w + 1, h, 1, 3);
  EXPECT_EQ(0, CompositeUpscaleAddFrame(comp, &other, 0));
  EXPECT_EQ(0, CompositeUpscaleAddFrame(nullptr, &moved, 0));
  EXPECT_EQ(0, std::memcmp(before.data(), comp->count, before.size() * sizeof(uint32_t)));
  CImgBuff result;
  EXPECT_EQ(1, CompositeUpscaleFinish(comp, &result));
}

// Neighbour means are truncated before weighting: sides of mean 100 and 101 and a corner of
// mean 103 give 505 / 5 = 101.  With every plane emptied, the hole fill ends at once and the
// result is the doubled first frame.
TEST(CompositeUpscale, HoleFillMeansAndAnEmptyPlane) {
  const Scene scene(6, 131, 111);
  CImgBuff first, doubled;
  scene.Render(first, 131, 111);
  CopyPicture(doubled, first);
  ASSERT_EQ(1, UpscaleImage2x(&doubled));

  UpscaleComposite* comp = CompositeUpscaleCreate(&first);
  ASSERT_NE(nullptr, comp);
  const size_t bytes = Cells(comp) * sizeof(uint32_t);
  for (uint32_t* plane : {comp->sumR, comp->sumG, comp->sumB, comp->count}) std::memset(plane, 0, bytes);
  const int32_t W = 2 * comp->width;
  auto set = [&](int32_t X, int32_t Y, uint32_t sum, uint32_t n) {
    comp->sumR[Y * W + X] = comp->sumG[Y * W + X] = comp->sumB[Y * W + X] = sum;
    comp->count[Y * W + X] = n;
  };
  set(0, 11, 201, 2);  // side neighbour, mean 100
  set(1, 10, 101, 1);  // side neighbour, mean 101
  set(0, 10, 207, 2);  // corner neighbour, mean 103
  CImgBuff result;
  ASSERT_EQ(1, CompositeUpscaleFinish(comp, &result));
  EXPECT_EQ(101, Gray8At(result, 1, 11));
  EXPECT_EQ(103, Gray8At(result, 0, 10));

  UpscaleComposite* none = CompositeUpscaleCreate(&first);
  ASSERT_NE(nullptr, none);
  for (uint32_t* plane : {none->sumR, none->sumG, none->sumB, none->count}) std::memset(plane, 0, bytes);
  CImgBuff untouched;
  ASSERT_EQ(1, CompositeUpscaleFinish(none, &untouched));
  EXPECT_TRUE(SamePixels(untouched, doubled)) << FirstDifference(untouched, doubled);
}
