// Tracking blocks, the point matcher, CompensateShift and two-point stabilisation: the block
// grid and selection rules, frames that must come back unchanged, and frames rendered from one
// smooth scene moved or turned by known amounts, which stabilisation must undo.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/shift.h"
#include "engine/stabilize.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/scene_test_util.h"

using namespace enginetest;
using enginetest::Scene;

namespace {

constexpr double kPi = 3.141592653589793;

struct Reference {
  CImgBuff a, b;
  int32_t refX[2], refY[2];
  CImgBuff* templates[2];
  explicit Reference(CImgBuff& frame) {
    TrackBlock best, second;
    EXPECT_EQ(1, SelectTrackingBlocks(&frame, 32, 32, frame.Width() - 33, frame.Height() - 33, 32, 32, &best,
                                      &second));
    frame.Crop(a, best.x0, best.y0, best.x1, best.y1);
    frame.Crop(b, second.x0, second.y0, second.x1, second.y1);
    refX[0] = best.x0, refY[0] = best.y0, refX[1] = second.x0, refY[1] = second.y0;
    templates[0] = &a;
    templates[1] = &b;
  }
};

// A block texture whose row means and column means both vary, of amplitude amp.
void Texture(CImgBuff& img, int32_t x0, int32_t y0, int32_t size, double amp) {
  for (int32_t y = y0; y < y0 + size; ++y)
    for (int32_t x = x0; x < x0 + size; ++x)
      img.SetGray8(x, y, uint8_t(128 + amp * (std::sin(x / 2.3) + std::sin(y / 1.7)) / 2));
}

}  // namespace

TEST(TrackingBlocks, GridIsCentredInTheRectangle) {
  CImgBuff img;
  FillRandom(img, 120, 110, 4, 1);
  TrackBlock* list = nullptr;
  ASSERT_EQ(9, BuildTrackingBlocks(&img, 0, 0, 99, 99, 32, 32, &list));
  const int32_t xs[3] = {2, 34, 66};
  for (int32_t k = 0; k < 9; ++k) {
    EXPECT_EQ(xs[k % 3], list[k].x0) << k;
    EXPECT_EQ(xs[k / 3], list[k].y0) << k;
    EXPECT_EQ(list[k].x0 + 31, list[k].x1) << k;
    EXPECT_GT(TrackBlockScore(list[k]), 0) << k;
  }
  EXPECT_EQ(97, list[8].x1);
  std::free(list);
  // An odd margin puts its extra pixel on the right: 0..36 with blocks of 16 leaves 5.
  ASSERT_EQ(2, BuildTrackingBlocks(&img, 0, 0, 36, 15, 16, 16, &list));
  EXPECT_EQ(2, list[0].x0);
  EXPECT_EQ(33, list[1].x1);
  std::free(list);

  struct Case {
    const char* name;
    int32_t x0, y0, x1, y1, bw, bh;
  } refused[] = {{"block wider than the rectangle", 0, 0, 30, 40, 32, 32}, {"block 0", 0, 0, 50, 50, 0, 8},
                 {"x1 beyond the picture", 0, 0, 120, 50, 8, 8},          {"x0 above x1", 40, 0, 30, 50, 8, 8},
                 {"negative x0", -1, 0, 50, 50, 8, 8}};
  for (const Case& c : refused) {
    list = nullptr;
    EXPECT_EQ(0, BuildTrackingBlocks(&img, c.x0, c.y0, c.x1, c.y1, c.bw, c.bh, &list)) << c.name;
    EXPECT_EQ(nullptr, list) << c.name;
  }
  CImgBuff empty;
  EXPECT_EQ(0, BuildTrackingBlocks(&empty, 0, 0, 10, 10, 4, 4, &list));
  EXPECT_EQ(0, BuildTrackingBlocks(&img, 0, 0, 10, 10, 4, 4, nullptr));
}

// Selection: one block refused; equal best scores keep the earlier; with two blocks the
// second is the other; the last block's plain score is the bar the weighted ones must clear.
TEST(TrackingBlocks, SelectionRules) {
  TrackBlock best{}, second{};
  CImgBuff one;
  FillRandom(one, 40, 40, 1, 3);
  EXPECT_EQ(0, SelectTrackingBlocks(&one, 0, 0, 39, 39, 32, 32, &best, &second));

  CImgBuff twins;
  ASSERT_EQ(1, twins.Allocate(64, 32, 1));
  Texture(twins, 0, 0, 32, 100);
  CImgBuff left;
  twins.Crop(left, 0, 0, 31, 31);
  twins.Paste(left, 32, 0);  // the same pixels: the same score
  ASSERT_EQ(1, SelectTrackingBlocks(&twins, 0, 0, 63, 31, 32, 32, &best, &second));
  EXPECT_EQ(0, best.x0);
  EXPECT_EQ(32, second.x0);

  // Three blocks in a row, the strongest first.  The middle one, 32 pixels from the best,
  // weighs 32 / 99.9 of its score against the last block's plain score.
  struct Case {
    double middle, last;
    int32_t secondX;
  } cases[] = {{40, 20, 64}, {110, 20, 32}, {0, 20, 64}};
  for (const Case& c : cases) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(96, 32, 1));
    Texture(img, 0, 0, 32, 120);
    Texture(img, 32, 0, 32, c.middle);
    Texture(img, 64, 0, 32, c.last);
    TrackBlock* list = nullptr;
    ASSERT_EQ(3, BuildTrackingBlocks(&img, 0, 0, 95, 31, 32, 32, &list));
    if (c.middle == 40) {
      EXPECT_GT(TrackBlockScore(list[1]), TrackBlockScore(list[2]));  // yet not chosen
    }
    std::free(list);
    ASSERT_EQ(1, SelectTrackingBlocks(&img, 0, 0, 95, 31, 32, 32, &best, &second));
    EXPECT_EQ(0, best.x0);
    EXPECT_EQ(c.secondX, second.x0) << "middle amplitude " << c.middle;
  }
}

TEST(MatchPointSubpixel, RadiusLimitsTheWholePixelSearch) {
  const Scene scene(7, 160, 120);
  CImgBuff img, tpl;
  scene.Render(img, 160, 120);
  ASSERT_EQ(1, img.Crop(tpl, 60, 40, 91, 71));
  struct Case {
    int32_t x, y, radius, ok;
    double dx, dy;
  } cases[] = {{60, 40, 1, 1, 0, 0},  {53, 47, 8, 1, 7, -7}, {58, 41, 3, 1, 2, -1},
               {60, 40, 0, 0, 0, 0},  {60, 40, -5, 0, 0, 0}};
  for (const Case& c : cases) {
    double dx = 99, dy = 99;
    EXPECT_EQ(c.ok, MatchPointSubpixel(&img, &tpl, c.x, c.y, c.radius, &dx, &dy, 0)) << c.x << ", " << c.y;
    EXPECT_EQ(c.ok ? c.dx : 99, dx) << c.x << ", " << c.y << " radius " << c.radius;
    EXPECT_EQ(c.ok ? c.dy : 99, dy) << c.x << ", " << c.y << " radius " << c.radius;
  }
  // Radius 1 makes no whole-pixel search: two pixels off, the answer stays within one.
  double dx = 0, dy = 0;
  ASSERT_EQ(1, MatchPointSubpixel(&img, &tpl, 58, 40, 1, &dx, &dy, 0));
  EXPECT_LE(std::fabs(dx), 1.0);
  CImgBuff empty;
  EXPECT_EQ(0, MatchPointSubpixel(&img, &empty, 60, 40, 4, &dx, &dy, 0));
  EXPECT_EQ(0, MatchPointSubpixel(&img, &tpl, 60, 40, 4, nullptr, &dy, 0));
}

TEST(CompensateShift, WholeOrFractionalMoves) {
  CImgBuff img;
  FillRandom(img, 20, 9, 4, 2);
  struct Case {
    int32_t whole;
    double dx, dy;
    double mx, my;  // the move it must make
  } cases[] = {{1, 2.9, 0, -2, 0}, {0, 2.9, 0, -2.9, 0}, {1, -1.5, 3.99, 1, -3}, {0, 0.25, -1.75, -0.25, 1.75}};
  for (const Case& c : cases) {
    CImgBuff got, want;
    CopyPicture(got, img);
    CopyPicture(want, img);
    ASSERT_EQ(1, CompensateShift(c.whole, &got, c.dx, c.dy, 255));
    ASSERT_EQ(1, ShiftImage(&want, c.mx, c.my, 255));
    EXPECT_TRUE(SamePixels(got, want)) << c.dx << ", " << c.dy << ": " << FirstDifference(got, want);
  }
  const double bad[][2] = {{std::nan(""), 0}, {0, INFINITY}, {-3e9, 0}, {0, 3e9}};
  for (const auto& b : bad) {
    CImgBuff got;
    CopyPicture(got, img);
    EXPECT_EQ(0, CompensateShift(1, &got, b[0], b[1], 0));
    EXPECT_EQ(0, CompensateShift(0, &got, b[0], b[1], 0));
    EXPECT_TRUE(SamePixels(got, img));
  }
}

// The reference frame itself: odd sizes come back unchanged; even sizes lose row and column 0
// to the fill (the turn's centre moves the content by one pixel, the re-match moves it back).
TEST(StabilizeTwoPoints, ReferenceFrameComesBack) {
  struct Case {
    int32_t w, h, whole;
  } cases[] = {{201, 151, 1}, {201, 151, 0}, {200, 150, 1}, {200, 150, 0}};
  for (const Case& c : cases) {
    const Scene scene(3, c.w, c.h);
    CImgBuff ref;
    scene.Render(ref, c.w, c.h);
    Reference r(ref);
    CImgBuff frame;
    CopyPicture(frame, ref);
    ASSERT_EQ(1, StabilizeTwoPoints(c.whole, &frame, r.templates, r.refX, r.refY, 12, 255, 1)) << c.w;
    const int32_t even = c.w % 2 == 0;
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = 0; x < c.w; ++x) {
        uint8_t got, want = 255;
        frame.GetGray8(x, y, &got);
        if (!even || (x > 0 && y > 0)) ref.GetGray8(x, y, &want);
        ASSERT_EQ(want, got) << c.w << " x " << c.h << " whole " << c.whole << " (" << x << ", " << y << ")";
      }
  }
}

// Frames of the scene moved by known amounts or turned by 2 degrees: the measured points, the
// turn and scale they imply, and the result measured again against the reference.
TEST(StabilizeTwoPoints, UndoesKnownMovesAndTurns) {
  const int32_t w = 241, h = 181;
  const Scene scene(5, w, h);
  CImgBuff ref;
  scene.Render(ref, w, h);
  Reference r(ref);
  struct Case {
    double deg, mx, my;
  } cases[] = {{0, 3.4, -2.7}, {0, -5.0, 1.3}, {2, 0, 0}, {-1.5, 2.2, 0.6}};
  for (const Case& c : cases) {
    CImgBuff frame;
    scene.Render(frame, w, h, c.deg, c.mx, c.my);
    // Where the blocks now lie: their centres turn and move, the templates stay upright.
    const double t = c.deg * kPi / 180;
    double want[2][2];
    for (int32_t i = 0; i < 2; ++i) {
      const double qx = r.refX[i] + 15.5 - w / 2, qy = r.refY[i] + 15.5 - h / 2;
      want[i][0] = w / 2 + std::cos(t) * qx - std::sin(t) * qy + c.mx - 15.5;
      want[i][1] = h / 2 + std::sin(t) * qx + std::cos(t) * qy + c.my - 15.5;
    }
    double outX[2], outY[2];
    ASSERT_EQ(1, StabilizeTwoPointsEx(&frame, r.templates, r.refX, r.refY, r.refX, r.refY, 12, 0, outX, outY));
    // Rotated blocks are not the template any more: looser there.
    const double tol = c.deg == 0 ? 0.1 : 0.35;
    for (int32_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(want[i][0], outX[i], tol) << "deg " << c.deg << " point " << i;
      EXPECT_NEAR(want[i][1], outY[i], tol) << "deg " << c.deg << " point " << i;
    }
    const double Rx = r.refX[1] - r.refX[0], Ry = r.refY[1] - r.refY[0];
    const double Mx = outX[1] - outX[0], My = outY[1] - outY[0];
    const double theta = std::atan2(Ry, Rx) - std::atan2(My, Mx);
    EXPECT_NEAR(-c.deg, theta * 180 / kPi, 0.1) << "deg " << c.deg;
    EXPECT_NEAR(1.0, std::sqrt(Rx * Rx + Ry * Ry) / std::sqrt(Mx * Mx + My * My), 0.002) << "deg " << c.deg;
    // The corrected frame puts both blocks back where they were.
    for (int32_t i = 0; i < 2; ++i) {
      double dx = 9, dy = 9;
      ASSERT_EQ(1, MatchPointSubpixel(&frame, r.templates[i], r.refX[i], r.refY[i], 4, &dx, &dy, 0));
      EXPECT_LE(std::fabs(dx), c.deg == 0 ? 0.1 : 0.3) << "deg " << c.deg << " point " << i;
      EXPECT_LE(std::fabs(dy), c.deg == 0 ? 0.1 : 0.3) << "deg " << c.deg << " point " << i;
    }
  }
}

TEST(StabilizeTwoPoints, RefusalsLeaveTheFrame) {
  const Scene scene(9, 161, 121);
  CImgBuff ref;
  scene.Render(ref, 161, 121);
  Reference r(ref);
  CImgBuff empty;
  CImgBuff* noTemplate[2] = {r.templates[0], &empty};
  CImgBuff* same[2] = {r.templates[0], r.templates[0]};
  const int32_t sameX[2] = {r.refX[0], r.refX[0]}, sameY[2] = {r.refY[0], r.refY[0]};
  CImgBuff* nulls[2] = {r.templates[0], nullptr};
  struct Case {
    const char* name;
    CImgBuff* const* templates;
    const int32_t *refX, *refY;
    int32_t radius;
  } cases[] = {{"empty template", noTemplate, r.refX, r.refY, 8},
               {"null template", nulls, r.refX, r.refY, 8},
               {"no templates", nullptr, r.refX, r.refY, 8},
               {"null refX", r.templates, nullptr, r.refY, 8},
               {"radius 0", r.templates, r.refX, r.refY, 0},
               {"both points found in one place", same, sameX, sameY, 8}};
  for (const Case& c : cases) {
    CImgBuff frame;
    scene.Render(frame, 161, 121, 0, 1.5, -2);
    CImgBuff orig;
    CopyPicture(orig, frame);
    EXPECT_EQ(0, StabilizeTwoPoints(0, &frame, c.templates, c.refX, c.refY, c.radius, 0, 1)) << c.name;
    EXPECT_TRUE(SamePixels(frame, orig)) << c.name;
  }
  CImgBuff frame;
  CopyPicture(frame, ref);
  EXPECT_EQ(0, StabilizeTwoPointsEx(&frame, r.templates, r.refX, r.refY, nullptr, r.refY, 8, 0, nullptr, nullptr));
  EXPECT_EQ(0, StabilizeTwoPoints(0, &empty, r.templates, r.refX, r.refY, 8, 0, 1));
}
