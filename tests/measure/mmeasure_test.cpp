// mmeasure_test.cpp - manual measurement without a display: the result line for one to four
// points in both languages, clicks on the test host (fifth click, right click, CLS, switching
// off and on), the window's place shared by the class, and clicks while frames are processed.
#include "measure/mmeasure.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "core/imgbuff.h"
#include "platform/window.h"
#include "tests/app/testhost.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

std::wstring Line(std::vector<MmeasurePoint> points, int32_t japanese = 0, double scale = 1.0,
                  int32_t axisY = 1, uint64_t height = 100, const wchar_t* unit = L"") {
  wchar_t out[256];
  FormatManualResult(out, 256, points.data(), points.size(), japanese, scale, axisY, height,
                     unit);
  return out;
}

TEST(ManualMeasure, ResultLines) {
  (void)g_headless;
  const struct {
    const char* name;
    std::vector<MmeasurePoint> points;
    int32_t japanese;
    double scale;
    int32_t axisY;
    const wchar_t* unit;
    const wchar_t* expected;
  } cases[] = {
      {"none", {}, 0, 1, 1, L"", L""},
      {"position", {{10, 20}}, 0, 1, 1, L"", L"pos(10, 20)"},
      {"position, y up", {{10, 20}}, 0, 1, -1, L"", L"pos(10, 79)"},
      {"position, not calibrated", {{10, 20}}, 1, 3.0, 1, L"mm", L"座標(10, 20)"},
      {"length", {{0, 0}, {3, 4}}, 0, 2.0, 1, L"mm", L"length:10.000000mm"},
      {"length, Japanese", {{3, 4}, {0, 0}}, 1, 0.5, -1, L"mm", L"距離:2.500000mm"},
      {"length of coinciding points", {{5, 5}, {5, 5}}, 0, 1, 1, L"", L"length:0.000000"},
      {"length beyond a double", {{0, 0}, {3, 4}}, 0, 1e308, 1, L"mm", L"length:infmm"},
      {"right angle", {{10, 0}, {0, 0}, {0, 10}}, 0, 1, 1, L"", L"angle:1.570796rad"},
      {"right angle, Japanese", {{10, 0}, {0, 0}, {0, 10}}, 1, 1, 1, L"", L"内積:1.570796rad"},
      {"straight on", {{0, 0}, {5, 5}, {10, 10}}, 0, 1, 1, L"", L"angle:3.141593rad"},
      {"same direction", {{0, 0}, {7, 0}, {0, 3}, {9, 3}}, 0, 1, 1, L"", L"angle:0.000000rad"},
      {"opposite segments", {{0, 0}, {7, 7}, {9, 9}, {2, 2}}, 0, 1, 1, L"",
       L"angle:3.141593rad"},
      {"first equals second", {{4, 4}, {4, 4}, {9, 1}}, 0, 1, 1, L"", L"angle:---"},
      {"third equals second", {{1, 4}, {4, 4}, {4, 4}}, 1, 1, 1, L"", L"内積:---"},
      {"empty second segment", {{0, 0}, {1, 0}, {6, 6}, {6, 6}}, 0, 1, 1, L"", L"angle:---"},
      {"45 degrees, four points", {{0, 0}, {10, 0}, {50, 50}, {60, 60}}, 0, 1, 1, L"",
       L"angle:0.785398rad"},
      {"far corners", {{0, 0}, {32767, 0}, {0, 32767}}, 0, 1, 1, L"", L"angle:0.785398rad"},
  };
  for (const auto& k : cases)
    EXPECT_EQ(std::wstring(k.expected), Line(k.points, k.japanese, k.scale, k.axisY, 100, k.unit))
        << k.name;
  // A unit too long for the line is cut, the number stays.
  std::wstring unit(400, L'u');
  std::wstring line = Line({{0, 0}, {3, 4}}, 0, 1, 1, 100, unit.c_str());
  EXPECT_EQ(255u, line.size());
  EXPECT_EQ(0u, line.find(L"length:5.000000uuu"));
  // A small buffer holds what fits.
  wchar_t small[4];
  MmeasurePoint p{10, 20};
  FormatManualResult(small, 4, &p, 1, 0, 1, 1, 100, L"");
  EXPECT_STREQ(L"pos", small);
}

struct Rig {
  CTestHost host;
  CLfMmeasure* f = new CLfMmeasure;
  explicit Rig(const wchar_t* language = L"en") {
    CImgBuff picture;
    EXPECT_EQ(1, picture.Allocate(200, 100, ImgFormatGray8));
    host.SetLanguage(language);
    host.SetStill(picture);
    EXPECT_EQ(1, host.AddFilter(f, nullptr));
  }
};

TEST(ManualMeasure, ClicksRightClickAndClear) {
  Rig rig;
  CLfMmeasure* f = rig.f;
  EXPECT_STREQ(L"Manual measurement", f->GetName(L"en"));
  EXPECT_STREQ(L"マニュアル計測", f->GetName(L"jp"));
  EXPECT_STREQ(L"manual_measurement", f->GetKey());
  EXPECT_STREQ(L"CLS", f->m_clear.m_text);
  EXPECT_EQ(256u, f->m_clientWidth);
  EXPECT_EQ(48u, f->m_clientHeight);
  EXPECT_EQ(8, f->m_result.m_x);
  EXPECT_EQ(184, f->m_result.m_width);
  EXPECT_EQ(200, f->m_clear.m_x);
  EXPECT_EQ(48, f->m_clear.m_width);
  rig.host.SetScale(2.0, 1, L"mm");
  const uint64_t redraws = rig.host.m_redrawCount.load();
  f->OnLButtonDown(0, 0, 0);
  EXPECT_STREQ(L"pos(0, 0)", f->m_result.m_text);
  EXPECT_GT(rig.host.m_redrawCount.load(), redraws);  // the overlay follows
  f->OnLButtonDown(3, 4, 0);
  EXPECT_STREQ(L"length:10.000000mm", f->m_result.m_text);
  f->OnLButtonDown(6, 8, 0);
  EXPECT_STREQ(L"angle:3.141593rad", f->m_result.m_text);
  f->OnLButtonDown(50, 50, 0);
  f->OnLButtonDown(99, 99, 0);  // a fifth click is ignored
  EXPECT_EQ(4u, f->PointCount());
  EXPECT_EQ(50u, f->m_points[3].x);
  f->OnRButtonDown(0, 0, 0);
  f->OnRButtonDown(0, 0, 0);  // after three points: back to the length line
  EXPECT_STREQ(L"length:10.000000mm", f->m_result.m_text);
  // The calibration reaches the line with the next frame.
  rig.host.ApplyCalibration(1.0, -1, L"cm");
  EXPECT_STREQ(L"length:5.000000cm", f->m_result.m_text);
  f->OnRButtonDown(0, 0, 0);
  EXPECT_STREQ(L"pos(0, 99)", f->m_result.m_text);
  // Off: the line is empty, the points stay; on: the line is back.
  f->m_filterEnabled = 0;
  f->OnEnable(0);
  EXPECT_STREQ(L"", f->m_result.m_text);
  EXPECT_EQ(0, f->m_clear.m_enabled);
  f->m_filterEnabled = 1;
  f->OnEnable(1);
  EXPECT_STREQ(L"pos(0, 99)", f->m_result.m_text);
  EXPECT_EQ(1, f->m_clear.m_enabled);
  CLfMmeasure::OnClear(&f->m_clear, f);
  EXPECT_EQ(0u, f->PointCount());
  EXPECT_STREQ(L"", f->m_result.m_text);
  f->OnRButtonDown(0, 0, 0);  // nothing left to forget
  EXPECT_EQ(0u, f->PointCount());
  rig.host.RequestProcess(0);
  EXPECT_STREQ(L"", f->m_result.m_text);
  // Japanese after a language change.
  rig.host.SetLanguage(L"jp");
  EXPECT_STREQ(L"クリア", f->m_clear.m_text);
  f->OnLButtonDown(10, 20, 0);
  EXPECT_STREQ(L"座標(10, 79)", f->m_result.m_text);
}

TEST(ManualMeasure, ANewFilterOpensWhereTheLastWindowClosed) {
  CTestHost host;
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(20, 10, ImgFormatGray8));
  host.SetStill(picture);
  auto* first = new CLfMmeasure;
  ASSERT_EQ(1, host.AddFilter(first, nullptr));
  ASSERT_NE(nullptr, first->GetWindow());
  // Moved, then closed by its close box.
  first->m_x = 123;
  first->m_y = 77;
  EXPECT_EQ(0, first->OnClose());
  EXPECT_EQ(0u, first->m_dialogVisible);
  EXPECT_EQ(1u, CLfMmeasure::s_classPlace.kept);
  EXPECT_EQ(123, CLfMmeasure::s_classPlace.x);
  auto* second = new CLfMmeasure;
  ASSERT_EQ(1, host.AddFilter(second, nullptr));
  EXPECT_EQ(123, second->m_x);
  EXPECT_EQ(77, second->m_y);
  CLfMmeasure::s_classPlace = FilterWindowPlace{};
}

TEST(ManualMeasure, ClicksWhileFramesAreProcessed) {
  Rig rig;
  CLfMmeasure* f = rig.f;
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    while (!stop.load()) rig.host.RequestProcess(0);
  });
  for (int i = 0; i < 300; ++i) {
    f->OnLButtonDown(i % 7, i % 5, 0);
    if (i % 3 == 0) f->OnRButtonDown(0, 0, 0);
    if (i % 50 == 0) CLfMmeasure::OnClear(&f->m_clear, f);
  }
  stop.store(true);
  feeder.join();
  rig.host.RequestProcess(0);
  wchar_t expected[256];
  FormatManualResult(expected, 256, f->m_points, f->PointCount(), 0, 1.0, 1, 100, L"");
  EXPECT_STREQ(expected, f->m_result.m_text);
}

}  // namespace
