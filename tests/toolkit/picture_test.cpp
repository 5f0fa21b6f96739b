// picture_test.cpp - picture view layout (bars, image area, fit rectangle), zoom steps and
// centring, window-to-picture mapping and attaching, without a display (the window
// layer's headless mode).
#include "toolkit/picture.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

void Give(CFgUIPicture& p, uint64_t w, uint64_t h) {
  CFgTexture t;
  ASSERT_EQ(t.Create(w, h, 1, 1, 0, nullptr), 1);
  p.SetImage(&t);
}

struct R {
  int32_t x0, y0, x1, y1;
};
::testing::AssertionResult Same(const FgPictureRect& a, const R& b) {
  if (a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x0 << "," << a.y0 << "," << a.x1 << ","
                                       << a.y1 << ")";
}

TEST(PictureTest, LayoutBarsAreaAndFit) {
  (void)g_headless;
  struct Case {
    const char* name;
    int x, y, w, h, iw, ih, zoom;
    int hUsed, vUsed;
    R area;
    int hPage, hMax, vPage, vMax;
    R fit;
  } cases[] = {
      {"1:1 both bars", 0, 0, 400, 300, 640, 480, 1, 1, 1, {0, 0, 383, 283}, 384, 639, 284, 479,
       {0, 0, 383, 283}},
      {"fit, one column left", 0, 0, 400, 300, 640, 480, 0, 0, 0, {0, 0, 399, 299}, 1, 0, 1, 0,
       {-1, 0, 398, 299}},
      {"fit, narrower", 0, 0, 400, 200, 640, 480, 0, 0, 0, {0, 0, 399, 199}, 1, 0, 1, 0,
       {66, 0, 331, 199}},
      {"fit, wide picture", 0, 0, 400, 300, 800, 100, 0, 0, 0, {0, 0, 399, 299}, 1, 0, 1, 0,
       {0, 124, 399, 173}},
      {"fit, offset widget", 10, 20, 400, 200, 640, 480, 0, 0, 0, {10, 20, 409, 219}, 1, 0, 1,
       0, {76, 20, 341, 219}},
      {"stretch", 0, 0, 400, 300, 640, 480, -1, 0, 0, {0, 0, 399, 299}, 1, 0, 1, 0,
       {0, 0, 399, 299}},
      {"x2", 0, 0, 400, 300, 640, 480, 2, 1, 1, {0, 0, 383, 283}, 192, 639, 142, 479,
       {0, 0, 383, 283}},
      {"x4", 5, 5, 400, 300, 640, 480, 4, 1, 1, {5, 5, 388, 288}, 96, 639, 71, 479,
       {5, 5, 388, 288}},
      {"1/2 fits", 0, 0, 400, 300, 640, 480, -2, 0, 0, {0, 0, 399, 299}, 1, 0, 1, 0,
       {0, 0, 399, 299}},
      {"1/4 fits", 0, 0, 400, 300, 640, 480, -4, 0, 0, {0, 0, 399, 299}, 1, 0, 1, 0,
       {0, 0, 399, 299}},
      {"1/2, too tall", 0, 0, 400, 200, 640, 480, -2, 0, 1, {0, 0, 383, 199}, 1, 0, 400, 479,
       {0, 0, 383, 199}},
      {"vertical only", 0, 0, 700, 300, 640, 480, 1, 0, 1, {0, 0, 683, 299}, 1, 0, 300, 479,
       {0, 0, 683, 299}},
      {"vertical brings horizontal", 0, 0, 650, 300, 640, 480, 1, 1, 1, {0, 0, 633, 283}, 634,
       639, 284, 479, {0, 0, 633, 283}},
      {"horizontal only", 0, 0, 630, 500, 640, 480, 1, 1, 0, {0, 0, 629, 483}, 630, 639, 1, 0,
       {0, 0, 629, 483}},
      {"exact fit", 0, 0, 640, 480, 640, 480, 1, 0, 0, {0, 0, 639, 479}, 1, 0, 1, 0,
       {0, 0, 639, 479}},
      {"reduced to nothing", 0, 0, 400, 300, 3, 3, -4, 0, 0, {0, 0, 399, 299}, 1, 0, 1, 0,
       {0, 0, 399, 299}},
  };
  for (const Case& c : cases) {
    CFgUIPicture p;
    p.m_zoom = c.zoom;
    ASSERT_EQ(p.SetRect(c.x, c.y, c.w, c.h), 1);
    Give(p, uint64_t(c.iw), uint64_t(c.ih));
    EXPECT_EQ(p.m_hBarUsed, c.hUsed) << c.name;
    EXPECT_EQ(p.m_vBarUsed, c.vUsed) << c.name;
    EXPECT_EQ(p.m_hBar.m_visible, c.hUsed) << c.name;
    EXPECT_EQ(p.m_vBar.m_visible, c.vUsed) << c.name;
    EXPECT_TRUE(Same(p.m_imageArea, c.area)) << c.name;
    EXPECT_TRUE(Same(p.m_fitRect, c.fit)) << c.name;
    EXPECT_EQ(p.m_hBar.m_page, c.hPage) << c.name;
    EXPECT_EQ(p.m_hBar.m_maximum, c.hMax) << c.name;
    EXPECT_EQ(p.m_vBar.m_page, c.vPage) << c.name;
    EXPECT_EQ(p.m_vBar.m_maximum, c.vMax) << c.name;
    if (c.hUsed) {
      EXPECT_EQ(p.m_hBar.m_width, c.area.x1 - c.area.x0 + 1) << c.name;
      EXPECT_EQ(p.m_hBar.m_y, c.y + c.h - 16) << c.name;
    }
    if (c.vUsed) {
      EXPECT_EQ(p.m_vBar.m_height, c.area.y1 - c.area.y0 + 1) << c.name;
      EXPECT_EQ(p.m_vBar.m_x, c.x + c.w - 16) << c.name;
    }
    EXPECT_EQ(p.m_hasPicture, std::string(c.name) != "reduced to nothing") << c.name;
  }

  CFgUIPicture empty;
  EXPECT_EQ(empty.SetRect(0, 0, 0, 10), 0);
  ASSERT_EQ(empty.SetRect(0, 0, 100, 100), 1);
  EXPECT_EQ(empty.m_hasPicture, 0);
  empty.ZoomBy(1);
  EXPECT_EQ(empty.m_zoom, 0);
}

TEST(PictureTest, PositionsSurviveAndStayInsideThePicture) {
  CFgUIPicture p;
  p.m_zoom = 1;
  p.SetRect(0, 0, 400, 300);
  Give(p, 640, 480);
  p.m_hBar.m_position = 256;  // the last valid position for a page of 384
  p.m_vBar.m_position = 100;
  p.Layout();
  EXPECT_EQ(p.m_hBar.m_position, 256);
  EXPECT_EQ(p.m_vBar.m_position, 100);
  p.SetRect(0, 0, 500, 400);  // bigger view: pages grow, positions are lowered
  EXPECT_EQ(p.m_hBar.m_page, 484);
  EXPECT_EQ(p.m_hBar.m_position, 640 - 484);
  EXPECT_EQ(p.m_vBar.m_position, 480 - 384);
  Give(p, 640, 480);  // same size: no layout, positions kept
  EXPECT_EQ(p.m_hBar.m_position, 640 - 484);
}

TEST(PictureTest, ZoomSteps) {
  struct Case {
    int from, steps, to;
  } cases[] = {{0, 1, 1},   {1, 1, 2},   {1, -1, -2}, {4, 5, 4},    {2, 1, 4},
               {4, -1, 2},  {2, -1, 1},  {-2, -1, -4}, {-4, 1, -2}, {-2, 1, 1},
               {0, -1, 1},  {0, -2, -2}, {0, 3, 4},   {-1, 1, 1},   {-1, -2, -2},
               {1, -100, -4}, {1, INT_MAX, 4}, {1, INT_MIN, -4}, {3, 1, 4}, {-3, 1, 1},
               {0, 0, 0},   {-4, -1, -4}};
  for (const Case& c : cases) {
    CFgUIPicture p;
    p.SetRect(0, 0, 400, 300);
    Give(p, 640, 480);
    p.m_zoom = c.from;
    p.Layout();
    p.ZoomBy(c.steps);
    EXPECT_EQ(p.m_zoom, c.to) << c.from << " by " << c.steps;
  }
}

TEST(PictureTest, ZoomKeepsTheViewCentre) {
  CFgUIPicture p;
  p.SetRect(0, 0, 400, 300);
  Give(p, 640, 480);
  p.SetZoom(1);  // from fit: the picture's centre (320, 240)
  EXPECT_EQ(p.m_hBar.m_position, 320 - 192);
  EXPECT_EQ(p.m_vBar.m_position, 240 - 142);
  p.m_hBar.m_position = 100;  // centre x 100 + 192 = 292
  p.m_vBar.m_position = 0;    // centre y 142
  p.SetZoom(2);
  EXPECT_EQ(p.m_hBar.m_position, 292 - 96);
  EXPECT_EQ(p.m_vBar.m_position, 142 - 71);
  p.m_hBar.m_position = 0;  // centre 96: 96 - 192 < 0 becomes 0
  p.SetZoom(1);
  EXPECT_EQ(p.m_hBar.m_position, 0);
  p.SetZoom(0);
  EXPECT_EQ(p.m_hBarUsed, 0);
  EXPECT_EQ(p.m_hBar.m_position, 0);
}

TEST(PictureTest, ClientToImage) {
  struct Case {
    const char* name;
    int w, h, zoom, hPos, vPos;
    int x, y;
    int ok, ix, iy;
  } cases[] = {
      {"x2 top-left + 10", 400, 300, 2, 30, 40, 10, 10, 1, 35, 45},
      {"x2 on the vertical bar", 400, 300, 2, 0, 0, 390, 10, 0, 0, 0},
      {"x2 on the horizontal bar", 400, 300, 2, 0, 0, 10, 290, 0, 0, 0},
      {"1:1 with positions", 400, 300, 1, 100, 50, 383, 283, 1, 483, 333},
      {"fit first column", 400, 200, 0, 0, 0, 66, 0, 1, 0, 0},
      {"fit last pixel", 400, 200, 0, 0, 0, 331, 199, 1, 637, 477},
      {"fit left of the picture", 400, 200, 0, 0, 0, 65, 0, 0, 0, 0},
      {"stretch last pixel", 400, 300, -1, 0, 0, 399, 299, 1, 638, 478},
      {"1/2", 400, 300, -2, 0, 0, 10, 10, 1, 20, 20},
      {"1/2 below the picture", 400, 300, -2, 0, 0, 10, 250, 0, 0, 0},
      {"outside the widget", 400, 300, 1, 0, 0, -1, 5, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CFgUIPicture p;
    p.m_zoom = c.zoom;
    p.SetRect(0, 0, c.w, c.h);
    Give(p, 640, 480);
    p.m_hBar.m_position = c.hPos;
    p.m_vBar.m_position = c.vPos;
    int32_t x = c.x, y = c.y;
    EXPECT_EQ(p.ClientToImage(&x, &y), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(x, c.ix) << c.name;
      EXPECT_EQ(y, c.iy) << c.name;
    }
  }
  CFgUIPicture p;
  EXPECT_EQ(p.ClientToImage(nullptr, nullptr), 0);
}

TEST(PictureTest, AttachEnableAndShow) {
  CFgUIDialog dlg;
  CFgUIObj before;
  CFgUIPicture p;
  p.m_zoom = 1;
  p.SetRect(0, 0, 400, 300);
  Give(p, 640, 480);
  dlg.AddChild(&before);
  dlg.AddChild(&p);
  ASSERT_EQ(dlg.Create(0, 0, 420, 320, L"picture", FgStyleDialog, nullptr), 1);
  // The bars follow the picture in the container, without tab stops or callbacks.
  EXPECT_EQ(p.m_next, &p.m_hBar);
  EXPECT_EQ(p.m_hBar.m_next, &p.m_vBar);
  EXPECT_EQ(p.m_hBar.m_tabStop, 0);
  EXPECT_EQ(p.m_hBar.m_user, &p);
  EXPECT_EQ(p.m_hBar.m_callback, nullptr);
  EXPECT_EQ(p.m_hBar.m_maximum, 639);

  dlg.SetFocus(&p.m_vBar);
  p.SetEnabled(0);
  EXPECT_EQ(p.m_enabled, 0);
  EXPECT_EQ(p.m_hBar.m_enabled, 0);
  EXPECT_NE(dlg.m_focusChild, &p.m_vBar);
  p.SetEnabled(1);
  EXPECT_EQ(p.m_vBar.m_enabled, 1);

  p.Show(0);
  EXPECT_EQ(p.m_hBar.m_visible, 0);
  EXPECT_EQ(p.m_vBar.m_visible, 0);
  p.Show(1);
  EXPECT_EQ(p.m_hBar.m_visible, 1);
  p.SetZoom(0);
  EXPECT_EQ(p.m_hBar.m_visible, 0);
  p.Show(1);
  EXPECT_EQ(p.m_hBar.m_visible, 0);  // only bars in use follow the picture

  // A scroll by the user reaches the view through the container's redraw.
  p.SetZoom(1);
  dlg.Redraw();
  EXPECT_EQ(p.m_hBar.PageDown(), 1);
  EXPECT_EQ(p.m_hBar.m_position, 128 + 384 > 256 ? 256 : 128 + 384);
}

}  // namespace
