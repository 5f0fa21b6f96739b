// flowdata_test.cpp - the vector field: centred grids, outlier flags from the neighbours,
// speed colours, arrow heads, the image-to-view mapping, and scenes outside the field.
#include "measure/flowdata.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(FlowData, CreateForImageCentresTheGridAndRefusesSmallPictures)
{
  CFlowData f;
  ASSERT_EQ(1, f.CreateForImage(99, 79, 16, 3));
  EXPECT_EQ(4, f.Nx());
  EXPECT_EQ(3, f.Ny());
  EXPECT_EQ(18, f.OriginX());
  EXPECT_EQ(16, f.OriginY());
  EXPECT_EQ(3, f.Frames());
  ASSERT_NE(nullptr, f.GetVector(3, 2, 2));
  EXPECT_EQ(nullptr, f.GetVector(4, 0, 0));
  EXPECT_EQ(nullptr, f.GetVector(0, 3, 0));
  EXPECT_EQ(nullptr, f.GetVector(0, 0, 3));
  EXPECT_EQ(nullptr, f.GetVector(-1, 0, 0));
  // 40 / 16 = 2 cells: no margin of a cell on both sides; the old grid is gone too.
  EXPECT_EQ(0, f.CreateForImage(39, 39, 16, 3));
  EXPECT_EQ(0, f.HasGrid());
  EXPECT_EQ(nullptr, f.GetVector(0, 0, 0));
  struct Bad {
    int32_t x, y, step, nx, ny, frames;
  };
  for (const Bad& b : {Bad{-1, 0, 8, 1, 1, 1}, Bad{0, -1, 8, 1, 1, 1}, Bad{0, 0, 0, 1, 1, 1}, Bad{0, 0, 8, 0, 1, 1},
                       Bad{0, 0, 8, 1, 0, 1}, Bad{0, 0, 8, 1, 1, 0}, Bad{0, 0, 8, 65536, 65536, 2}}) {
    EXPECT_EQ(0, f.Create(b.x, b.y, b.step, b.nx, b.ny, b.frames));
    EXPECT_EQ(0, f.HasGrid());
  }
}

// A 3 x 3 grid, one scene, centre vector c and neighbours given row by row (index 4 unused).
void Fill(CFlowData& f, const FlowVector (&v)[9])
{
  ASSERT_EQ(1, f.Create(0, 0, 10, 3, 3, 1));
  for (int32_t i = 0; i < 9; ++i) *f.GetVector(i % 3, i / 3, 0) = v[i];
}

TEST(FlowData, OutlierFlagsFromTheNeighbours)
{
  CFlowData f;
  const FlowVector z{0, 0}, r{2, 0}, d{0, 2};
  struct Case {
    const char* what;
    FlowVector v[9];
    uint8_t centre;
  };
  const Case cases[] = {
      {"all alike", {r, r, r, r, r, r, r, r, r}, 0},
      {"two perpendicular neighbours only", {z, d, z, z, r, d, z, z, z}, kFlowDirectionOutlier},
      {"one agreeing of two", {z, d, z, z, r, r, z, z, z}, 0},
      {"length 5 against a mean of 2", {r, r, r, r, {5, 0}, r, r, r, r}, kFlowLengthOutlier},
      {"length 3.9 against a mean of 2", {r, r, r, r, {3.9, 0}, r, r, r, r}, 0},
      {"2 agree, 5 disagree", {d, d, d, d, r, d, r, r, z}, kFlowDirectionOutlier},
      {"2 agree, 4 disagree", {d, d, d, d, r, z, r, r, z}, 0},
      {"no neighbours", {z, z, z, z, {9, 9}, z, z, z, z}, 0},
      // Anti-parallel: a cosine rounded past -1 must still count as disagreeing.
      {"opposite neighbours", {z, z, z, {-0.1, -0.7}, {0.1, 0.7}, {-0.1, -0.7}, z, z, z}, kFlowDirectionOutlier},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fill(f, c.v);
    EXPECT_EQ(c.centre, f.CheckVector(1, 1, 0));
    EXPECT_EQ(0, f.FlagsReady(0));
    f.CheckFrame(0);
    EXPECT_EQ(1, f.FlagsReady(0));
    EXPECT_EQ(c.centre, f.GetFlags(1, 1, 0));
  }
  // A zero vector is never flagged.
  Fill(f, cases[1].v);
  EXPECT_EQ(0, f.CheckVector(0, 0, 0));
  f.CheckFrame(-1);
  f.ClearFlags();
  EXPECT_EQ(0, f.FlagsReady(0));
  EXPECT_EQ(0, f.GetFlags(1, 1, 0));
}

TEST(FlowData, AngleBetweenClampsAndIgnoresZero)
{
  EXPECT_EQ(0.0, CFlowData::AngleBetween(0, 0, 1, 0));
  EXPECT_EQ(0.0, CFlowData::AngleBetween(1, 0, 0, 0));
  EXPECT_DOUBLE_EQ(M_PI / 2, CFlowData::AngleBetween(1, 0, 0, 3));
  for (double s : {0.1, 0.3, 0.7, 1e-3, 12345.678}) {
    const double a = CFlowData::AngleBetween(s, 7 * s, -s, -7 * s);
    EXPECT_FALSE(std::isnan(a));
    EXPECT_NEAR(M_PI, a, 1e-7);
    EXPECT_FALSE(std::isnan(CFlowData::AngleBetween(s, 7 * s, s, 7 * s)));
  }
}

TEST(FlowData, SpeedColoursByLength)
{
  CFlowData f;
  struct Case {
    double length;
    double r, g, b;
  };
  for (const Case& c : {Case{2, 0, 0, 1}, Case{3, 0, 1, 0}, Case{5, 1, 1, 0}, Case{7, 1, 0.5, 0}, Case{9, 1, 0, 0},
                        Case{4, 0, 1, 0}, Case{10.5, 1, 0, 0}}) {
    double rgb[3];
    f.SpeedColor(FlowVector{0, -c.length}, 1.0, rgb);
    EXPECT_EQ(c.r, rgb[0]) << c.length;
    EXPECT_EQ(c.g, rgb[1]) << c.length;
    EXPECT_EQ(c.b, rgb[2]) << c.length;
  }
}

TEST(FlowData, ArrowHeadsAndMapping)
{
  double c[4];
  EXPECT_EQ(0, CFlowData::ArrowHead(5, 5, 5, 5, c));
  const double s = std::sin(M_PI / 12);
  ASSERT_EQ(1, CFlowData::ArrowHead(10, 0, 10, 20, c));  // vertical: at mid height
  EXPECT_DOUBLE_EQ(10 + 10 * s, c[0]);
  EXPECT_DOUBLE_EQ(10, c[1]);
  EXPECT_DOUBLE_EQ(10 - 10 * s, c[2]);
  ASSERT_EQ(1, CFlowData::ArrowHead(0, 4, 20, 4, c));  // horizontal: at mid width
  EXPECT_DOUBLE_EQ(10, c[0]);
  EXPECT_DOUBLE_EQ(4 + 10 * s, c[1]);
  ASSERT_EQ(1, CFlowData::ArrowHead(0, 0, 20, 20, c));  // diagonal: behind the tip
  EXPECT_LT(c[0], 20);
  EXPECT_LT(c[1], 20);
  EXPECT_NEAR(std::hypot(20 - c[0], 20 - c[1]), std::hypot(20, 20) / 2, 1e-9);

  OverlayMapping m;
  m.toGlX = [](int32_t p) { return double(p); };
  m.toGlY = [](int32_t p) { return double(p) + 0.25; };
  m.viewX0 = 10, m.viewY0 = 20, m.viewX1 = 109, m.viewY1 = 69;
  m.imageX0 = 4, m.imageY0 = 2, m.imageX1 = 203, m.imageY1 = 101;
  struct Case {
    int32_t zoom;
    double x, y, gx, gy;
  };
  for (const Case& k : {Case{1, 6.5, 3, 13, 21.25}, Case{2, 6.5, 3, 15, 22.25}, Case{-2, 7, 6, 12, 22.25},
                        Case{0, 14, 12, 15, 25.25}, Case{-1, 3.5, 2, 10, 20.25}}) {
    m.zoom = k.zoom;
    double x = k.x, y = k.y;
    ASSERT_EQ(1, OverlayImageToGl(m, &x, &y));
    EXPECT_EQ(k.gx, x) << k.zoom;
    EXPECT_EQ(k.gy, y) << k.zoom;
  }
  m.toGlX = nullptr;
  double x = 1, y = 1;
  EXPECT_EQ(0, OverlayImageToGl(m, &x, &y));
}

TEST(FlowData, CheckFrameOnAnEmptyFieldOrOutsideScenesDoesNothing)
{
  CFlowData f;
  f.CheckFrame(-1);
  f.CheckFrame(0);
  EXPECT_EQ(0, f.CheckVector(0, 0, 0));
  ASSERT_EQ(1, f.Create(0, 0, 4, 2, 2, 2));
  f.CheckFrame(2);
  f.CheckFrame(-2);
  EXPECT_EQ(0, f.FlagsReady(0));
  EXPECT_EQ(0, f.FlagsReady(2));
}

}  // namespace
