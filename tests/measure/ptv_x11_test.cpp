// ptv_x11_test.cpp - the particle tracker's overlay on a real X server: crosses and ids at
// known particles in the guide colour, a trail broken at a gap, nothing for a track absent
// from the current scene unless "all scene" is on; screenshots to test_out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/filterctrl.h"
#include "measure/ptv.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/font.h"

namespace {

// The overlay pass in a real main window with its font, read back top row first.
std::vector<uint8_t> DrawPass(qvtest::MainWindowTarget& target, CFilterCtrl& ctrl) {
  return target.Pass(ctrl, target.Screen().m_font, 0, 0, 199, 159, 0, 0, 199, 159, 1, true);
}

TEST(PtvOverlayX11, TracksTrailsAndGaps)
{
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(220, 180, L"particle tracking overlay"));
  CMainScreen& screen = target.Screen();
  CTestHost host;
  host.SetLanguage(L"en");
  host.SetOverlayColor(0, 1, 0);
  std::vector<CImgBuff> frames(12);
  std::vector<const CImgBuff*> list;
  for (auto& f : frames) {
    ASSERT_EQ(1, f.Allocate(200, 160, ImgFormatGray8));
    list.push_back(&f);
  }
  ASSERT_EQ(1, host.SetVideo(list, 40000));
  auto* p = new CLfPtv;
  ASSERT_EQ(1, host.AddFilter(p, nullptr));
  // Track 1 (id 0) moves 10 px right a scene through scenes 0-9 with a gap at scene 4;
  // track 2 (id 1) lives in scenes 2-3 only.
  ASSERT_EQ(1, p->m_data.SetFrameCount(12));
  for (int32_t s = 0; s < 10; ++s)
    if (s != 4) p->m_data.AddParticle(s, {0, 1, 20.0 + 10 * s, 40.0});
  p->m_data.AddParticle(2, {1, 1, 60.0, 120.0});
  p->m_data.AddParticle(3, {1, 1, 70.0, 120.0});
  p->RebuildIndex();
  p->RebuildIdList();
  ASSERT_EQ(1, host.SeekFrame(7));
  p->m_lineLen.m_position = 10;
  std::vector<uint8_t> top = DrawPass(target, host);
  ASSERT_FALSE(top.empty());
  const int w = int(screen.m_clientWidth);
  auto lit = [&](int x, int y) {
    const uint8_t* q = &top[size_t(y * w + x) * 3];
    return q[1] > 128 && q[0] < 64 && q[2] < 64;
  };
  EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/ptv_overlay_trail.png", top, w,
                                    int(screen.m_clientHeight)));
  const int px = 90, py = 40;  // track 1 in scene 7
  for (int d = -4; d <= 4; ++d) {
    EXPECT_TRUE(lit(px + d, py - 1) || lit(px + d, py)) << "arm x " << d;
    EXPECT_TRUE(lit(px, py + d)) << "arm y " << d;
  }
  EXPECT_FALSE(lit(px, py - 6));
  int label = 0;
  for (int y = py + 2; y < py + 2 + 14; ++y)
    for (int x = px + 2; x < px + 2 + 12; ++x) label += lit(x, y);
  EXPECT_GT(label, 5);
  // The trail back to scene 5 (x 70), broken at the gap of scene 4: nothing between 40 and 60.
  EXPECT_TRUE(lit(75, 40) || lit(75, 39));
  EXPECT_FALSE(lit(50, 40) || lit(50, 39));
  // Track 2 is not in scene 7: nothing at (60..70, 120).
  EXPECT_FALSE(lit(65, 120) || lit(65, 119));

  // "all scene": track 2 drawn whole though absent from scene 7; the gap still breaks track 1.
  p->m_lineAll.m_checked = 1;
  top = DrawPass(target, host);
  EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/ptv_overlay_all.png", top, w,
                                    int(screen.m_clientHeight)));
  EXPECT_TRUE(lit(65, 120) || lit(65, 119));
  EXPECT_TRUE(lit(35, 40) || lit(35, 39));
  EXPECT_FALSE(lit(50, 40) || lit(50, 39));
  EXPECT_TRUE(lit(105, 40) || lit(105, 39));  // to scene 9, beyond the current one
}

}  // namespace
