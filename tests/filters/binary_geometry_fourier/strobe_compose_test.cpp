// strobe_compose_test.cpp - the strobe composition on scripted scenes: the block change test
// against the engine's crop-and-score form, the colour threshold, partial edge blocks, a
// whole run that restores a textured background and composes six moving squares, a set
// background, and runs that must fail.
#include "filters/binary_geometry_fourier/strobe_compose.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "engine/region.h"

namespace {

using Frames = std::vector<std::unique_ptr<CImgBuff>>;

class ListScenes : public StrobeScenes {
 public:
  explicit ListScenes(const Frames& frames) : frames_(frames) {}
  int32_t Fetch(uint64_t scene, CImgBuff* out) override {
    ++fetches;
    if (stopAtFetch && fetches == stopAtFetch) return -1;
    if (scene >= frames_.size()) return 0;
    out->CopyFrom(*frames_[scene]);
    return 1;
  }
  int fetches = 0;
  int stopAtFetch = 0;

 private:
  const Frames& frames_;
};

CImgBuff* Add(Frames* frames, int w, int h, int32_t format) {
  frames->push_back(std::make_unique<CImgBuff>());
  EXPECT_EQ(1, frames->back()->Allocate(w, h, format));
  return frames->back().get();
}

void FillGray(CImgBuff* p, int x0, int y0, int w, int h, uint8_t v) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) p->SetGray8(x, y, v);
}

bool SamePixels(const CImgBuff& a, const CImgBuff& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format()) return false;
  return std::memcmp(a.Pixels(), b.Pixels(),
                     size_t(a.Width()) * a.Height() * ImgBytesPerPixel[a.Format()]) == 0;
}

// The change test as first written: both blocks cropped and scored by the engine.
std::vector<uint8_t> LiteralChangedBlocks(const CImgBuff& a, const CImgBuff& b) {
  std::vector<uint8_t> flags;
  for (int by = 0; by < (a.Height() + 3) / 4; ++by)
    for (int bx = 0; bx < (a.Width() + 3) / 4; ++bx) {
      CImgBuff ca, cb;
      const int x0 = bx * 4, y0 = by * 4;
      bool alike = a.Crop(ca, x0, y0, x0 + 3, y0 + 3) && b.Crop(cb, x0, y0, x0 + 3, y0 + 3) &&
                   RegionDissimilarity(&ca, &cb, 0, 0, 0, 0) <= 8.0;
      flags.push_back(alike ? 0 : 1);
    }
  return flags;
}

TEST(StrobeCompose, ChangedBlocksMatchTheCropAndScoreForm) {
  std::mt19937 rng(11);
  for (int32_t format : {ImgFormatGray8, ImgFormatRgb24, ImgFormatGray16, ImgFormatRgb48}) {
    for (auto [w, h] : {std::pair{33, 18}, std::pair{64, 48}, std::pair{3, 3}}) {
      CImgBuff a, b;
      ASSERT_EQ(1, a.Allocate(w, h, format));
      ASSERT_EQ(1, b.Allocate(w, h, format));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int base = int(rng() % 200);
          // Per block an offset around the threshold, so both answers occur.
          const int off = int(((x / 4) * 7 + (y / 4) * 3) % 44) - 22 + int(rng() % 3) - 1;
          const uint8_t v = uint8_t(std::clamp(base + off, 0, 255));
          a.SetRGB8(x, y, uint8_t(base), uint8_t(base / 2), uint8_t(base / 3));
          b.SetRGB8(x, y, v, uint8_t(base / 2 + off / 2), uint8_t(base / 3));
        }
      StrobeGrid grid;
      StrobeChangedBlocks(a, b, &grid);
      EXPECT_EQ(LiteralChangedBlocks(a, b), grid.flags) << format << " " << w << "x" << h;
    }
  }
}

TEST(StrobeCompose, BlockDifferencesAtTheLimit) {
  struct Case {
    int32_t format;
    int offset;
    uint8_t changed;
  };
  const Case cases[] = {
      {ImgFormatGray8, 20, 0}, {ImgFormatGray8, 21, 1}, {ImgFormatGray8, -20, 0},
      {ImgFormatRgb24, 20, 0},  // the three channels are averaged
      {ImgFormatRgb24, 21, 1},
  };
  for (const Case& c : cases) {
    CImgBuff a, b;
    ASSERT_EQ(1, a.Allocate(8, 4, c.format));
    ASSERT_EQ(1, b.Allocate(8, 4, c.format));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        a.SetRGB8(x, y, 100, 100, 100);
        const uint8_t v = uint8_t(x < 4 ? 100 + c.offset : 100);
        b.SetRGB8(x, y, v, v, v);
      }
    StrobeGrid grid;
    StrobeChangedBlocks(a, b, &grid);
    EXPECT_EQ((std::vector<uint8_t>{c.changed, 0}), grid.flags) << c.format << " " << c.offset;
  }
}

TEST(StrobeCompose, TwoIdenticalScenesGiveSceneZero) {
  Frames frames;
  for (int i = 0; i < 2; ++i) {
    CImgBuff* p = Add(&frames, 16, 12, ImgFormatRgb24);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x) p->SetRGB8(x, y, uint8_t(x * 9), uint8_t(y * 13), 77);
  }
  ListScenes scenes(frames);
  StrobeJob job;
  job.scenes = &scenes;
  job.sceneCount = 2;
  CImgBuff mask, out, last;
  ASSERT_EQ(1, BuildMotionMask(&mask, *frames[0], job));
  for (int i = 0; i < 16 * 12; ++i) EXPECT_EQ(0, static_cast<uint8_t*>(mask.Pixels())[i]);
  job.lastBackground = &last;
  ASSERT_EQ(1, StrobeComposeAll(&out, job));
  EXPECT_TRUE(SamePixels(*frames[0], last));
  EXPECT_TRUE(SamePixels(*frames[0], out));
}

TEST(StrobeCompose, ColourDistanceAtTheThreshold) {
  // (32, 32, 16) is exactly 48 away, (42, 21, 2) exactly 47; both change their block.
  struct Case {
    uint8_t r, g, b;
    int32_t threshold;
    bool copied;
  };
  const Case cases[] = {{132, 132, 116, 48, true}, {142, 121, 102, 48, false},
                        {142, 121, 102, 47, true}, {132, 132, 116, 49, false}};
  for (const Case& c : cases) {
    Frames frames;
    CImgBuff* scene = Add(&frames, 4, 4, ImgFormatRgb24);
    CImgBuff bg;
    ASSERT_EQ(1, bg.Allocate(4, 4, ImgFormatRgb24));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        bg.SetRGB8(x, y, 100, 100, 100);
        scene->SetRGB8(x, y, c.r, c.g, c.b);
      }
    ListScenes scenes(frames);
    StrobeJob job;
    job.scenes = &scenes;
    job.sceneCount = 1;
    job.threshold = c.threshold;
    CImgBuff out;
    ASSERT_EQ(1, ComposeStrobe(&out, bg, job));
    EXPECT_TRUE(SamePixels(c.copied ? *scene : bg, out)) << int(c.r) << " at " << c.threshold;
  }
}

TEST(StrobeCompose, PartialEdgeBlocksStayBlackInTheRestoredBackground) {
  Frames frames;
  for (int i = 0; i < 2; ++i) FillGray(Add(&frames, 10, 6, ImgFormatGray8), 0, 0, 10, 6, 120);
  ListScenes scenes(frames);
  StrobeJob job;
  job.scenes = &scenes;
  job.sceneCount = 2;
  CImgBuff out, last;
  job.lastBackground = &last;
  ASSERT_EQ(1, StrobeComposeAll(&out, job));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) {
      uint8_t v = 0;
      last.GetGray8(x, y, &v);
      EXPECT_EQ((x >= 8 || y >= 4) ? 0 : 120, v) << x << "," << y;
      out.GetGray8(x, y, &v);
      EXPECT_EQ(120, v) << x << "," << y;  // the scenes differ from black by more than 48
    }
}

// A static textured background and a saturated 12 x 12 square at a new place in each of six
// scenes: the background comes back pixel for pixel, the result is it plus six squares.
TEST(StrobeCompose, SixMovingSquaresOnATexturedBackground) {
  const int w = 64, h = 48;
  CImgBuff bg;
  ASSERT_EQ(1, bg.Allocate(w, h, ImgFormatRgb24));
  std::mt19937 rng(5);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t v = uint8_t(98 + rng() % 5);
      bg.SetRGB8(x, y, v, uint8_t(v + 10), uint8_t(v - 20));
    }
  const int places[6][2] = {{4, 4}, {24, 4}, {44, 4}, {4, 28}, {24, 28}, {44, 28}};
  Frames frames;
  CImgBuff want;
  want.CopyFrom(bg);
  for (const auto& p : places) {
    CImgBuff* s = Add(&frames, w, h, ImgFormatRgb24);
    s->CopyFrom(bg);
    for (int y = p[1]; y < p[1] + 12; ++y)
      for (int x = p[0]; x < p[0] + 12; ++x) {
        s->SetRGB8(x, y, 255, 255, 0);
        want.SetRGB8(x, y, 255, 255, 0);
      }
  }
  ListScenes scenes(frames);
  StrobeJob job;
  job.scenes = &scenes;
  job.sceneCount = 6;
  CImgBuff out, last;
  job.lastBackground = &last;
  ASSERT_EQ(1, StrobeComposeAll(&out, job));
  EXPECT_TRUE(SamePixels(bg, last));
  EXPECT_TRUE(SamePixels(want, out));

  // The same with the background set by hand and no mask: used as it is, no restoration.
  ListScenes again(frames);
  job.scenes = &again;
  job.useSetBackground = 1;
  CImgBuff empty;
  job.setBackground = &bg;
  job.setMask = &empty;
  CImgBuff out2;
  ASSERT_EQ(1, StrobeComposeAll(&out2, job));
  EXPECT_TRUE(SamePixels(want, out2));
  EXPECT_EQ(1 + 1 + 6, again.fetches);  // first scene, the composition's scene 0, the walk
}

TEST(StrobeCompose, RunsThatFail) {
  Frames frames;
  FillGray(Add(&frames, 8, 8, ImgFormatGray8), 0, 0, 8, 8, 50);
  FillGray(Add(&frames, 12, 8, ImgFormatGray8), 0, 0, 12, 8, 50);  // another size
  CImgBuff out;
  {
    ListScenes scenes(frames);
    StrobeJob job;
    job.scenes = &scenes;
    job.sceneCount = 2;
    EXPECT_EQ(0, StrobeComposeAll(&out, job));
  }
  {  // a set background or mask of another size
    ListScenes scenes(frames);
    StrobeJob job;
    job.scenes = &scenes;
    job.sceneCount = 1;
    job.useSetBackground = 1;
    job.setBackground = frames[1].get();
    EXPECT_EQ(0, StrobeComposeAll(&out, job));
    CImgBuff mask;
    ASSERT_EQ(1, mask.Allocate(4, 4, ImgFormatGray8));
    job.setBackground = frames[0].get();
    job.setMask = &mask;
    EXPECT_EQ(0, StrobeComposeAll(&out, job));
    CImgBuff none;
    job.setBackground = &none;
    EXPECT_EQ(0, StrobeComposeAll(&out, job));
  }
  {  // stopped during the walk
    Frames same;
    FillGray(Add(&same, 8, 8, ImgFormatGray8), 0, 0, 8, 8, 50);
    FillGray(Add(&same, 8, 8, ImgFormatGray8), 0, 0, 8, 8, 90);
    ListScenes scenes(same);
    scenes.stopAtFetch = 3;
    StrobeJob job;
    job.scenes = &scenes;
    job.sceneCount = 2;
    CImgBuff last;
    job.lastBackground = &last;
    EXPECT_EQ(0, StrobeComposeAll(&out, job));
    EXPECT_EQ(nullptr, last.Pixels());
  }
}

}  // namespace
