// rect_test.cpp - the process rectangle: the mouse table replayed on the test host, the chain
// rectangle it hands on, the overlay corners per zoom code, and its settings.
#include "filters/colour_pixel/rect.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/cfgfile.h"
#include "filters/colour_pixel/pixel.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::MakePicture;

// Records the requests filters make (the host itself counts each frame shown twice).
class RequestHost : public CTestHost {
 public:
  void RequestProcess(uint32_t async) override {
    requests.push_back(async);
    CTestHost::RequestProcess(async);
  }
  std::vector<uint32_t> requests;
};

struct Fixture {
  RequestHost host;
  CLfRect* rect = new CLfRect;
  Fixture(int32_t width = 640, int32_t height = 480) {
    CImgBuff still;
    MakePicture(still, width, height, ImgFormatGray8);
    host.SetStill(still);
    EXPECT_EQ(1, host.AddFilter(rect, nullptr));
  }
  // Requests so far; all of them waited.
  uint64_t Processed() const {
    for (uint32_t async : host.requests) EXPECT_EQ(0u, async);
    return host.requests.size();
  }
};

void ExpectRect(const CLfRect& f, uint32_t set, uint64_t x, uint64_t y, uint64_t w, uint64_t h) {
  CLfRect::Rect r = f.GetRect();
  EXPECT_EQ(set, r.set);
  EXPECT_EQ(x, r.x);
  EXPECT_EQ(y, r.y);
  EXPECT_EQ(w, r.w);
  EXPECT_EQ(h, r.h);
}

TEST(ProcessRect, NameKeyAndNoWindow) {
  CLfRect f;
  EXPECT_STREQ(L"Process rect", f.GetName(L"en"));
  EXPECT_STREQ(L"Process rect", f.GetName(nullptr));
  EXPECT_STREQ(L"\x51E6\x7406\x9818\x57DF", f.GetName(L"jp"));
  EXPECT_STREQ(L"process_rect", f.GetKey());
  EXPECT_EQ(0, f.HasDialog());
  ExpectRect(f, 0, 0, 0, 0, 0);
  EXPECT_EQ(0u, f.m_dragMode);
}

TEST(ProcessRect, ClickDrawsOnePixelAndWaitsForOneRun) {
  Fixture t;
  t.rect->OnLButtonDown(50, 40, 0);
  ExpectRect(*t.rect, 1, 50, 40, 1, 1);
  EXPECT_EQ(1u, t.Processed());
  EXPECT_EQ(1u, t.rect->m_dragMode);
  t.rect->OnLButtonUp(50, 40, 0);
  EXPECT_EQ(0u, t.rect->m_dragMode);
  EXPECT_EQ(1u, t.Processed());  // a release processes nothing
  // A disabled filter draws but asks for nothing.
  t.rect->m_filterEnabled = 0;
  t.rect->OnLButtonDown(7, 8, 0);
  ExpectRect(*t.rect, 1, 7, 8, 1, 1);
  EXPECT_EQ(1u, t.Processed());
}

TEST(ProcessRect, DrawingSpansTheAnchorAndThePoint) {
  Fixture t;
  t.rect->OnLButtonDown(100, 100, 0);
  t.rect->OnMouseMove(80, 120, 0);
  ExpectRect(*t.rect, 1, 80, 100, 21, 21);
  EXPECT_EQ(2u, t.Processed());
  t.rect->OnMouseMove(80, 120, 0);  // the same point again: nothing
  EXPECT_EQ(2u, t.Processed());
  t.rect->OnMouseMove(130, 90, 0);
  ExpectRect(*t.rect, 1, 100, 90, 31, 11);
  // A second button during the drag is ignored; either button up ends the drag.
  t.rect->OnRButtonDown(105, 95, 0);
  EXPECT_EQ(1u, t.rect->m_dragMode);
  t.rect->OnRButtonUp(105, 95, 0);
  EXPECT_EQ(0u, t.rect->m_dragMode);
  uint64_t before = t.Processed();
  t.rect->OnMouseMove(10, 10, 0);
  ExpectRect(*t.rect, 1, 100, 90, 31, 11);
  EXPECT_EQ(before, t.Processed());
}

// Right-button moves on a 640 x 480 source, replayed as the comment table of rect.cpp says.
TEST(ProcessRect, MovesStopAtTheEdges) {
  struct Case {
    const char* name;
    uint64_t x, y, w, h;     // rectangle before (loaded)
    int64_t pressX, pressY;  // right press
    int64_t toX, toY;        // move
    uint64_t ex, ey;         // corner after
  } cases[] = {
      {"right edge", 600, 10, 30, 20, 605, 15, 639, 15, 610, 10},
      {"left edge", 610, 10, 30, 20, 610, 15, 0, 15, 0, 10},
      {"inside", 100, 100, 30, 20, 110, 110, 90, 130, 80, 120},
      {"top edge", 100, 5, 30, 20, 110, 10, 110, 0, 100, 0},
      {"bottom edge", 100, 400, 30, 20, 110, 410, 110, 479, 100, 460},
      {"wider than the source", 0, 0, 700, 20, 5, 5, 10, 5, 0, 0},
      {"taller than the source, moved up", 0, 0, 20, 500, 5, 5, 5, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture t;
    CCfgPack pack;
    pack.SetName(L"process_rect");
    pack.AddItem(L"set", L"1");
    pack.AddItem(L"x", std::to_wstring(c.x).c_str());
    pack.AddItem(L"y", std::to_wstring(c.y).c_str());
    pack.AddItem(L"w", std::to_wstring(c.w).c_str());
    pack.AddItem(L"h", std::to_wstring(c.h).c_str());
    t.rect->LoadParams(&pack);
    t.rect->OnRButtonDown(c.pressX, c.pressY, 0);
    EXPECT_EQ(2u, t.rect->m_dragMode);
    EXPECT_EQ(0u, t.Processed());  // a press processes nothing yet
    t.rect->OnMouseMove(c.toX, c.toY, 0);
    ExpectRect(*t.rect, 1, c.ex, c.ey, c.w, c.h);
    EXPECT_EQ(1u, t.Processed());
    t.rect->OnLButtonUp(c.toX, c.toY, 0);
    EXPECT_EQ(0u, t.rect->m_dragMode);
  }
}

TEST(ProcessRect, RightPressOutsideOrWithoutARectangleStartsNothing) {
  Fixture t;
  t.rect->OnRButtonDown(5, 5, 0);  // no rectangle yet
  EXPECT_EQ(0u, t.rect->m_dragMode);
  t.rect->OnLButtonDown(10, 10, 0);
  t.rect->OnMouseMove(19, 19, 0);
  t.rect->OnLButtonUp(19, 19, 0);
  for (auto p : std::vector<std::pair<int64_t, int64_t>>{{9, 15}, {20, 15}, {15, 9}, {15, 20}}) {
    t.rect->OnRButtonDown(p.first, p.second, 0);
    EXPECT_EQ(0u, t.rect->m_dragMode) << p.first << "," << p.second;
    t.rect->OnMouseMove(100, 100, 0);
    ExpectRect(*t.rect, 1, 10, 10, 10, 10);
  }
}

TEST(ProcessRect, ChainRectangle) {
  CLfRect f;
  CImgBuff pic;
  MakePicture(pic, 64, 48, ImgFormatRgb24);
  int64_t x = 3, y = 4, w = 5, h = 6;
  uint32_t conn = 8, bg = 1, comp = 2, depth = 1;
  f.ProcessChain(&pic, 0, &x, &y, &w, &h, &conn, &bg, &comp, &depth);
  EXPECT_EQ((std::vector<int64_t>{0, 0, 64, 48}), (std::vector<int64_t>{x, y, w, h}));
  EXPECT_EQ((std::vector<uint32_t>{8, 1, 2, 1}), (std::vector<uint32_t>{conn, bg, comp, depth}));
  // An empty picture leaves the rectangle as it is.
  CImgBuff empty;
  x = 3, y = 4, w = 5, h = 6;
  f.ProcessChain(&empty, 0, &x, &y, &w, &h, &conn, &bg, &comp, &depth);
  EXPECT_EQ((std::vector<int64_t>{3, 4, 5, 6}), (std::vector<int64_t>{x, y, w, h}));
  // A drawn one is handed on as stored, even beyond the picture.
  f.OnLButtonDown(60, 40, 0);
  f.OnMouseMove(100, 90, 0);
  f.ProcessChain(&pic, 0, &x, &y, &w, &h, &conn, &bg, &comp, &depth);
  EXPECT_EQ((std::vector<int64_t>{60, 40, 41, 51}), (std::vector<int64_t>{x, y, w, h}));
}

// [Rect, undrawn Rect, Reversal]: the second rectangle gives the whole picture back.
TEST(ProcessRect, AnUndrawnSecondRectangleGivesTheWholePicture) {
  CTestHost host;
  CImgBuff src;
  MakePicture(src, 40, 30, ImgFormatGray8);
  host.SetStill(src);
  CLfRect* first = new CLfRect;
  ASSERT_EQ(1, host.AddFilter(first, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfRect, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfReversal, nullptr));
  first->OnLButtonDown(5, 5, 0);
  first->OnMouseMove(9, 9, 0);
  first->OnLButtonUp(9, 9, 0);
  ASSERT_EQ(ImgFormatGray8, host.m_display.Format());
  const uint8_t* in = static_cast<const uint8_t*>(src.Pixels());
  const uint8_t* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  for (int i = 0; i < 40 * 30; ++i) ASSERT_EQ(255 - in[i], out[i]) << i;
  // Without the second one only the drawn rectangle is inverted.
  ASSERT_EQ(1, host.RemoveFilter(1));
  ASSERT_EQ(1, host.Reprocess(0));
  out = static_cast<const uint8_t*>(host.m_display.Pixels());
  for (int yy = 0; yy < 30; ++yy)
    for (int xx = 0; xx < 40; ++xx) {
      int i = yy * 40 + xx;
      bool inside = xx >= 5 && xx <= 9 && yy >= 5 && yy <= 9;
      ASSERT_EQ(inside ? 255 - in[i] : in[i], out[i]) << xx << "," << yy;
    }
}

// Corners per zoom code: view (10, 20)-(x1, y1) over image (0, 0)-(99, 79) unless noted.
TEST(ProcessRect, OverlayCornersPerZoomCode) {
  struct Case {
    const char* name;
    int64_t x, y, w, h;
    int32_t vx1, vy1;  // view's far corner
    int32_t zoom;
    int32_t a, b, c, d;
  } cases[] = {
      {"1:1", 5, 6, 10, 20, 109, 99, 1, 15, 26, 24, 45},
      // Fit at scale 2.0: the far corner grows by one before scaling.
      {"fit 2.0", 5, 6, 10, 20, 209, 179, 0, 20, 32, 40, 72},
      {"fit -1 at 2.0", 5, 6, 10, 20, 209, 179, -1, 20, 32, 40, 72},
      // Fit at 1.5: no growth, truncation toward zero.
      {"fit 1.5", 5, 6, 10, 20, 159, 139, 0, 17, 29, 31, 57},
      // k = 3: a x 3, (c + 1) x 3 - 1.
      {"zoom 3", 5, 6, 10, 20, 109, 99, 3, 25, 38, 54, 97},
      // k = -2: halves, truncated.
      {"zoom -2", 5, 6, 10, 20, 109, 99, -2, 12, 23, 17, 32},
  };
  for (const Case& c : cases) {
    int32_t a, b, cc, d;
    RectOverlayCorners(c.x, c.y, c.w, c.h, 10, 20, c.vx1, c.vy1, 0, 0, 99, 79, c.zoom, &a, &b, &cc,
                       &d);
    EXPECT_EQ((std::vector<int32_t>{c.a, c.b, c.c, c.d}), (std::vector<int32_t>{a, b, cc, d}))
        << c.name;
  }
  // Relative to the visible image area.
  int32_t a, b, cc, d;
  RectOverlayCorners(50, 40, 10, 10, 0, 0, 99, 79, 40, 30, 139, 109, 1, &a, &b, &cc, &d);
  EXPECT_EQ((std::vector<int32_t>{10, 10, 19, 19}), (std::vector<int32_t>{a, b, cc, d}));
  // Hostile values give some corners, never a fault (the sanitizers watch).
  RectOverlayCorners(INT64_MAX, INT64_MIN, -1, 0, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, 0,
                     0, 0, 0, 0, &a, &b, &cc, &d);
  RectOverlayCorners(1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, INT32_MIN, &a, &b, &cc, &d);
  RectOverlayCorners(4294967295LL, 1, 4294967295LL, 1, 0, 0, 0, 0, 0, 0, 0, 0, INT32_MAX, &a, &b,
                     &cc, &d);
}

CCfgPack* MakePack(CCfgPack& pack, std::vector<std::pair<const wchar_t*, const wchar_t*>> items) {
  pack.SetName(L"process_rect");
  for (auto& kv : items) pack.AddItem(kv.first, kv.second);
  return &pack;
}

TEST(ProcessRect, SettingsKeysInOrder) {
  CLfRect f;
  f.OnLButtonDown(50, 40, 0);
  f.OnMouseMove(4000000000LL, 41, 0);  // any 32-bit value is stored and written whole
  CCfgPack pack;
  pack.SetName(L"process_rect");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"set 1", L"x 50", L"y 40",
                                       L"w 3999999951", L"h 2"}),
            filtertest::PackLines(&pack));
  CLfRect g;
  g.LoadParams(&pack);
  ExpectRect(g, 1, 50, 40, 3999999951u, 2);
}

TEST(ProcessRect, LoadParamsReadings) {
  struct Case {
    const char* name;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
    uint32_t set;
    uint64_t x, y, w, h;
  } cases[] = {
      // The filter starts at set 1, 1, 2, 3, 4.
      {"all", {{L"set", L"0"}, {L"x", L"5"}, {L"y", L"6"}, {L"w", L"7"}, {L"h", L"8"}}, 0, 5, 6, 7, 8},
      {"missing x changes nothing", {{L"set", L"0"}, {L"y", L"6"}}, 1, 1, 2, 3, 4},
      {"missing y zeroes x", {{L"set", L"0"}, {L"x", L"5"}}, 1, 0, 2, 3, 4},
      {"missing w zeroes x and y", {{L"set", L"0"}, {L"x", L"5"}, {L"y", L"6"}}, 1, 0, 0, 3, 4},
      {"missing h zeroes x, y and w",
       {{L"set", L"0"}, {L"x", L"5"}, {L"y", L"6"}, {L"w", L"7"}}, 1, 0, 0, 0, 4},
      {"other set text keeps the flag",
       {{L"set", L"yes"}, {L"x", L"5"}, {L"y", L"6"}, {L"w", L"7"}, {L"h", L"8"}}, 1, 5, 6, 7, 8},
      {"lenient numbers", {{L"x", L" 05"}, {L"y", L"+6"}, {L"w", L"7e3"}, {L"h", L"x"}}, 1, 5, 6, 7, 0},
      {"zero size handed on", {{L"x", L"0"}, {L"y", L"0"}, {L"w", L"0"}, {L"h", L"0"}}, 1, 0, 0, 0, 0},
      // Refused: beyond 32 bits, and a minus that would wrap; the current values stay.
      {"unsafe values kept",
       {{L"x", L"4294967296"}, {L"y", L"-1"}, {L"w", L"99999999999999999999999"}, {L"h", L"4294967295"}},
       1, 1, 2, 3, 4294967295u},
  };
  for (const Case& c : cases) {
    CLfRect f;
    CCfgPack start;
    f.LoadParams(MakePack(start, {{L"set", L"1"}, {L"x", L"1"}, {L"y", L"2"}, {L"w", L"3"}, {L"h", L"4"}}));
    CCfgPack pack;
    f.LoadParams(MakePack(pack, c.items));
    SCOPED_TRACE(c.name);
    ExpectRect(f, c.set, c.x, c.y, c.w, c.h);
  }
}

}  // namespace
