// zoom_test.cpp - the zoom of a rotatable area on the test host: drawing, moving and turning
// the working rectangle, "set" and the transform it commits (or refuses), frames against the
// engine's RotateScale, the packs, and the overlay's corner mapping.
#include "filters/binary_geometry_fourier/zoom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/rotate_scale.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::SamePixels;
using filtertest::PackLines;

void Load(CLfAtrans* f, std::vector<std::pair<const wchar_t*, const wchar_t*>> items) {
  CCfgPack pack;
  for (auto& kv : items) pack.AddItem(kv.first, kv.second);
  f->LoadParams(&pack);
}

void Drag(CLfAtrans* f, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint8_t flags) {
  f->OnLButtonDown(x0, y0, flags);
  f->OnMouseMove(x1, y1, flags);
  f->OnLButtonUp(x1, y1, flags);
}

struct Fixture {
  CTestHost host;
  CImgBuff src;
  CLfAtrans* f = nullptr;
  explicit Fixture(int32_t w = 640, int32_t h = 480) {
    apptest::MakePicture(src, w, h, ImgFormatRgb24, 9);
    host.SetStill(src);
    f = new CLfAtrans;
    EXPECT_EQ(1, host.AddFilter(f, nullptr));
  }
  // The frame shown equals RotateScale with the filter's committed transform.
  bool MatchesEngine(uint32_t white = 1) {
    CImgBuff want;
    want.CopyFrom(src);
    const CLfAtrans::State s = f->GetState();
    EXPECT_EQ(1, RotateScale(&want, s.transform.cx, s.transform.cy, s.transform.angle,
                             s.transform.scale, int32_t(s.mirror), white));
    return SamePixels(want, host.m_display);
  }
};

TEST(Zoom, NameKeyAndNewPack) {
  CLfAtrans f;
  EXPECT_STREQ(L"Zoom", f.GetName(L"en"));
  EXPECT_STREQ(L"\u90E8\u5206\u62E1\u5927", f.GetName(L"jp"));
  EXPECT_STREQ(L"zoom", f.GetKey());
  EXPECT_EQ(1, f.m_inputBox.m_checked);
  EXPECT_EQ(1, f.m_setButton.m_enabled);
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ(PackLines(&pack), (std::vector<std::wstring>{L"if_enable 0", L"if_visible 0",
                                                          L"mirror 0", L"enable 0",
                                                          L"diagonal 0,0,0,0"}));
}

TEST(Zoom, LineAnglesAndTransforms) {
  EXPECT_EQ(90.0, LineAngleDeg(5, 5, 5, 9));
  EXPECT_EQ(90.0, LineAngleDeg(5, 5, 5, 5));
  EXPECT_EQ(-90.0, LineAngleDeg(5, 5, 5, 1));
  EXPECT_EQ(180.0, LineAngleDeg(5, 5, 1, 5));
  EXPECT_EQ(0.0, LineAngleDeg(5, 5, 9, 5));
  ZoomTransform t;
  ASSERT_EQ(1, ComputeTransform(640, 480, 0, 0, 639, 479, &t));
  EXPECT_NEAR(0.0, t.angle, 1e-12);
  EXPECT_NEAR(1.001753, t.scale, 5e-7);
  EXPECT_EQ(319, t.cx);
  EXPECT_EQ(239, t.cy);
  // A point or a diagonal under 22.6 pixels is refused and writes nothing.
  ZoomTransform kept = t;
  EXPECT_EQ(0, ComputeTransform(640, 480, 5, 5, 5, 5, &t));
  EXPECT_EQ(0, ComputeTransform(640, 480, 0, 0, 16, 15, &t));  // 21.9
  EXPECT_EQ(0, ComputeTransform(0, 480, 0, 0, 100, 100, &t));
  EXPECT_EQ(kept.scale, t.scale);
  EXPECT_EQ(1, ComputeTransform(640, 480, 0, 0, 16, 16, &t));  // 22.63
  // 40000 squared twice overflows 32 bits; the sum is made in 64.
  ASSERT_EQ(1, ComputeTransform(640, 480, 0, 0, 40000, 40000, &t));
  EXPECT_NEAR(800.0 / std::sqrt(2.0 * 40000.0 * 40000.0), t.scale, 1e-12);
  EXPECT_EQ(20000, t.cx);
  ASSERT_EQ(1, ComputeTransform(640, 480, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, &t));
  EXPECT_EQ(0, t.cx) << "the middle of the widest diagonal, toward zero";
  EXPECT_EQ(0, t.cy);
}

TEST(Zoom, CornersKeepThePicturesProportions) {
  int32_t c[4][2];
  ZoomCorners(640, 480, 0, 0, 639, 479, c);
  EXPECT_EQ(639, c[1][0]);
  EXPECT_EQ(0, c[1][1]);
  EXPECT_EQ(0, c[3][0]);
  EXPECT_EQ(479, c[3][1]);
  // A horizontal diagonal: the rectangle is turned, its sides 4 : 3 around the line.
  ZoomCorners(640, 480, 100, 100, 300, 100, c);
  EXPECT_NEAR(std::hypot(c[1][0] - 100, c[1][1] - 100) / std::hypot(c[3][0] - 100, c[3][1] - 100),
              639.0 / 479.0, 0.02);
  EXPECT_LT(c[1][1], 100);
  EXPECT_GT(c[3][1], 100);
  ZoomCorners(1, 1, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX, c);  // saturates, no overflow
}

TEST(Zoom, LeftDragKeepsTheProportionsAndGrowsOnlyDownRight) {
  Fixture x;
  Drag(x.f, 100, 100, 420, 200, 0);
  CLfAtrans::State s = x.f->GetState();
  EXPECT_EQ(1u, s.areaShown);
  EXPECT_EQ(420, s.p1[0]);
  EXPECT_EQ(339, s.p1[1]);  // (320 / 639) x 479 = 239.87
  x.f->OnLButtonDown(100, 100, 0);
  x.f->OnMouseMove(420, 200, 0);
  x.f->OnMouseMove(90, 300, 0);  // left of the press: P1 stays
  x.f->OnMouseMove(300, 90, 0);  // above it
  x.f->OnLButtonUp(300, 90, 0);
  s = x.f->GetState();
  EXPECT_EQ(420, s.p1[0]);
  EXPECT_EQ(339, s.p1[1]);
  EXPECT_EQ(uint32_t(CLfAtrans::DragNone), x.f->m_dragMode);
  ASSERT_EQ(1, x.host.Reprocess(0));
  EXPECT_TRUE(SamePixels(x.src, x.host.m_display)) << "the input phase changes no frame";
}

TEST(Zoom, TallPictureFollowsY) {
  Fixture x(300, 600);
  Drag(x.f, 10, 10, 200, 110, 0);
  const CLfAtrans::State s = x.f->GetState();
  EXPECT_EQ(10 + int32_t(100.0 / 599 * 299), s.p1[0]);
  EXPECT_EQ(110, s.p1[1]);
}

TEST(Zoom, SetOnTheWholeDiagonalAndTheFrames) {
  Fixture x;
  Drag(x.f, 0, 0, 639, 479, 0);
  x.f->Commit();
  const CLfAtrans::State s = x.f->GetState();
  EXPECT_EQ(1u, s.enable);
  EXPECT_EQ(0u, s.inputPhase);
  EXPECT_EQ(0, x.f->m_inputBox.m_checked);
  EXPECT_EQ(0, x.f->m_setButton.m_enabled);
  EXPECT_NEAR(0.0, s.transform.angle, 1e-12);
  EXPECT_NEAR(1.001753, s.transform.scale, 5e-7);
  EXPECT_EQ(319, s.transform.cx);
  EXPECT_EQ(239, s.transform.cy);
  EXPECT_TRUE(x.MatchesEngine());
  // Mirror, and the background of the chain for what falls outside.
  x.f->m_mirrorBox.m_checked = 1;
  x.f->m_mirrorBox.m_callback(&x.f->m_mirrorBox, x.f);
  EXPECT_TRUE(x.MatchesEngine());
  x.host.m_background = 0;
  ASSERT_EQ(1, x.host.Reprocess(0));
  EXPECT_TRUE(x.MatchesEngine(0));
  CCfgPack pack;
  x.f->SaveParams(&pack);
  EXPECT_STREQ(L"0,0,639,479", pack.FindItem(L"diagonal")->value);
  EXPECT_STREQ(L"1", pack.FindItem(L"mirror")->value);
}

TEST(Zoom, ShiftDragLineBecomesThePicturesDiagonal) {
  Fixture x;
  Drag(x.f, 100, 100, 300, 100, 1);
  x.f->Commit();
  const CLfAtrans::State s = x.f->GetState();
  EXPECT_EQ(200, s.transform.cx);
  EXPECT_EQ(100, s.transform.cy);
  EXPECT_NEAR(std::atan2(479.0, 639.0) * 180 / 3.14159265358979323846, s.transform.angle, 1e-9);
  EXPECT_NEAR(800.0 / 200.0, s.transform.scale, 1e-12);
  EXPECT_TRUE(x.MatchesEngine());
}

TEST(Zoom, RefusedDiagonalCommitsNothing) {
  Fixture x;
  Drag(x.f, 0, 0, 639, 479, 0);
  x.f->Commit();
  x.f->m_inputBox.m_checked = 1;
  x.f->m_inputBox.m_callback(&x.f->m_inputBox, x.f);
  CLfAtrans::State s = x.f->GetState();
  EXPECT_EQ(1u, s.areaShown) << "the committed diagonal is the working one again";
  EXPECT_EQ(639, s.p1[0]);
  EXPECT_TRUE(SamePixels(x.src, x.host.m_display));
  Drag(x.f, 50, 50, 60, 57, 0);  // 12 pixels
  x.f->Commit();
  s = x.f->GetState();
  EXPECT_EQ(1u, s.inputPhase);
  EXPECT_EQ(1, x.f->m_inputBox.m_checked);
  EXPECT_EQ(639, s.x1) << "the old diagonal stays committed";
  EXPECT_EQ(1u, s.enable);
  // Unticking the box goes back to the transform in force.
  x.f->m_inputBox.m_checked = 0;
  x.f->m_inputBox.m_callback(&x.f->m_inputBox, x.f);
  EXPECT_TRUE(x.MatchesEngine());
}

TEST(Zoom, RightButtonMovesOrTurnsInsideTheCircle) {
  Fixture x;
  Drag(x.f, 100, 100, 300, 100, 1);  // centre (200, 100), radius 100
  x.f->OnRButtonDown(200, 250, 0);   // outside the circle
  EXPECT_EQ(uint32_t(CLfAtrans::DragNone), x.f->m_dragMode);
  x.f->OnRButtonDown(210, 110, 0);
  EXPECT_EQ(uint32_t(CLfAtrans::DragMove), x.f->m_dragMode);
  x.f->OnMouseMove(230, 90, 0);
  x.f->OnRButtonUp(230, 90, 0);
  CLfAtrans::State s = x.f->GetState();
  EXPECT_EQ(120, s.p0[0]);
  EXPECT_EQ(80, s.p0[1]);
  EXPECT_EQ(320, s.p1[0]);
  EXPECT_EQ(80, s.p1[1]);
  // Shift: a quarter turn about the centre (220, 80).
  x.f->OnRButtonDown(250, 80, 1);
  EXPECT_EQ(uint32_t(CLfAtrans::DragRotate), x.f->m_dragMode);
  x.f->OnMouseMove(220, 110, 1);
  x.f->OnRButtonUp(220, 110, 1);
  s = x.f->GetState();
  EXPECT_EQ(220, s.p0[0]);
  EXPECT_EQ(-20, s.p0[1]);
  EXPECT_EQ(220, s.p1[0]);
  EXPECT_EQ(180, s.p1[1]);
  EXPECT_EQ(uint32_t(CLfAtrans::DragNone), x.f->m_dragMode);
  // No rectangle, no drag.
  Fixture y;
  y.f->OnRButtonDown(5, 5, 0);
  EXPECT_EQ(uint32_t(CLfAtrans::DragNone), y.f->m_dragMode);
}

TEST(Zoom, PacksRestoreTheZoom) {
  {
    Fixture x;
    Load(x.f, {{L"mirror", L"1"}, {L"enable", L"1"}, {L"diagonal", L"10,20,330,260"}});
    const CLfAtrans::State s = x.f->GetState();
    EXPECT_EQ(1u, s.enable);
    EXPECT_EQ(0, x.f->m_inputBox.m_checked);
    EXPECT_EQ(1, x.f->m_mirrorBox.m_checked);
    EXPECT_EQ(170, s.transform.cx);
    ASSERT_EQ(1, x.host.Reprocess(0));
    EXPECT_TRUE(x.MatchesEngine());
  }
  {
    // No source yet: the transform is made on the first frame.
    CTestHost host;
    auto* f = new CLfAtrans;
    ASSERT_EQ(1, host.AddFilter(f, nullptr));
    Load(f, {{L"enable", L"1"}, {L"diagonal", L"10,20,330,260"}});
    EXPECT_EQ(0.0, f->GetState().transform.scale);
    CImgBuff src;
    apptest::MakePicture(src, 640, 480, ImgFormatGray8, 2);
    host.SetStill(src);
    ASSERT_EQ(1, host.Reprocess(0));
    const CLfAtrans::State s = f->GetState();
    EXPECT_EQ(640u, s.transformWidth);
    EXPECT_GT(s.transform.scale, 0.0);
    CImgBuff want;
    want.CopyFrom(src);
    RotateScale(&want, s.transform.cx, s.transform.cy, s.transform.angle, s.transform.scale, 0, 1);
    EXPECT_TRUE(SamePixels(want, host.m_display));
  }
  struct Case {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
    uint32_t enable, mirror;
  } cases[] = {
      {{{L"enable", L"1"}, {L"diagonal", L"10,20,330"}}, 0, 0},
      {{{L"enable", L"1"}, {L"diagonal", L"10,20,330,99999999999"}}, 0, 0},
      {{{L"enable", L"2"}, {L"mirror", L"x"}}, 0, 0},
      {{{L"enable", L"1"}}, 1, 0},
  };
  for (const Case& c : cases) {
    CLfAtrans f;
    Load(&f, c.items);
    EXPECT_EQ(c.enable, f.GetState().enable);
    EXPECT_EQ(c.mirror, f.GetState().mirror);
    EXPECT_EQ(0u, f.GetState().inputPhase);
  }
}

TEST(Zoom, OverlayPoints) {
  // Unturned: the process rectangle's outline of corners 1 and 3.
  int32_t corners[4][2];
  ZoomCorners(640, 480, 100, 100, 420, 339, corners);
  for (int32_t zoom : {1, 2, -2, 0}) {
    int32_t p[4][2], a, b, c, d;
    ZoomOverlayPoints(corners, 10, 20, 649, 499, 0, 0, 639, 479, zoom, p);
    RectOverlayCorners(100, 100, 321, 240, 10, 20, 649, 499, 0, 0, 639, 479, zoom, &a, &b, &c, &d);
    EXPECT_EQ(a, p[0][0]);
    EXPECT_EQ(b, p[0][1]);
    EXPECT_EQ(c, p[2][0]);
    EXPECT_EQ(d, p[2][1]);
    EXPECT_EQ(c, p[1][0]);
    EXPECT_EQ(b, p[1][1]);
  }
  // Turned: scaled by the extents; one picture column shown uses (extent + 1) ratios.
  ZoomCorners(640, 480, 100, 100, 300, 100, corners);
  int32_t p[4][2];
  ZoomOverlayPoints(corners, 0, 0, 320, 240, 0, 0, 640, 480, 0, p);
  EXPECT_EQ(50, p[0][0]);
  EXPECT_EQ(150, p[2][0]);
  ZoomOverlayPoints(corners, 0, 0, 7, 240, 100, 0, 100, 480, 0, p);
  EXPECT_EQ(0, p[0][0]);
  EXPECT_EQ(8 * 200, p[2][0]);
}

}  // namespace
