// anti_shake_x11_test.cpp - the anti-shake tool on a real X server: its window in both
// languages, "specify a reference point" ticked by a real click, boxes clicked on the picture,
// SAVE pressed for real writing the numbered files, and the boxes drawn through the overlay
// pass in the guide colour, at zoom 2 reaching the far side of the last pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/anti_shake.h"
#include "media/imgio/imgio.h"
#include "tests/app/overlay_target.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::ShotWindow;
using qvtest::TempFolder;
using toolkittest::PumpUntil;

void Texture(CImgBuff& img, int32_t w, int32_t h, int32_t ox, int32_t oy) {
  ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t u = uint32_t(x + ox), v = uint32_t(y + oy);
      uint32_t k = (u / 3) * 2654435761u ^ (v / 3) * 40503u;
      k ^= k >> 13;
      img.SetGray8(x, y, uint8_t(40 + (k * 2246822519u >> 24) % 170));
    }
}

class AntiShakeX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(AntiShakeX11, ClickedBoxesAndARealSaveWriteTheAlignedScenes) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  TempFolder folder("antishake_x11");
  ASSERT_TRUE(folder.ok());
  CTestHost host;
  host.SetLanguage(language);
  const int32_t shakes[4][2] = {{0, 0}, {2, -1}, {-3, 2}, {1, 3}};
  std::vector<CImgBuff> scenes(4);
  std::vector<const CImgBuff*> list;
  for (int i = 0; i < 4; ++i) {
    Texture(scenes[size_t(i)], 200, 150, shakes[i][0], shakes[i][1]);
    list.push_back(&scenes[size_t(i)]);
  }
  ASSERT_EQ(1, host.SetVideo(list, 33333));
  auto* f = new ShotWindow<CLfAntiShake>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(268u, f->m_clientWidth);
  EXPECT_EQ(152u, f->m_clientHeight);
  EXPECT_STREQ(ja ? L"画像を保存" : L"SAVE", f->m_save.m_text);
  EXPECT_STREQ(ja ? L"基準点を指定する" : L"specify a reference point", f->m_specify.m_text);
  SaveShot(f, ja ? "anti_shake_jp.png" : "anti_shake_en.png");

  ClickControl(f, f->m_specify);
  ASSERT_TRUE(PumpUntil([&] { return f->m_specify.m_checked == 1; }, 3000));
  ASSERT_EQ(1, host.Reprocess(0));
  f->OnLButtonDown(50, 40, 0);
  f->OnLButtonDown(150, 110, 0);
  ASSERT_EQ(1, f->GetBox(1, nullptr, nullptr, nullptr, nullptr));

  CScriptedDialogs dialogs;
  dialogs.m_paths.push_back(folder.WideFile("s0000.png"));
  ClickControl(f, f->m_save);
  ASSERT_TRUE(PumpUntil([&] { return !dialogs.m_shown.empty(); }, 20000));
  EXPECT_EQ(std::wstring(ja ? L"セーブしました" : L"saved"), dialogs.m_shown.back().text);
  for (int i = 0; i < 4; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "s%04d.png", i);
    CImgBuff got;
    ASSERT_EQ(1, LoadImageFile(&got, folder.WideFile(name).c_str(), nullptr, nullptr)) << name;
    int diff = 0;
    for (int y = 8; y < 142; ++y)
      for (int x = 8; x < 192; ++x) {
        uint8_t p = 0, q = 0;
        got.GetGray8(x, y, &p);
        scenes[0].GetGray8(x, y, &q);
        diff += p != q;
      }
    EXPECT_EQ(0, diff) << name;
  }
  EXPECT_EQ(0, f->GetBox(0, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ(ja ? L"保存" : L"SAVE", f->m_save.m_text);
  SaveShot(f, ja ? "anti_shake_jp_done.png" : "anti_shake_en_done.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, AntiShakeX11, ::testing::Values(L"en", L"jp"));

// Two boxes through the overlay pass at zoom 2: guide-coloured loops whose far edge lies on
// the far side of the box's last pixel.
TEST(AntiShakeOverlayX11, BoxesInTheGuideColour) {
  REQUIRE_DISPLAY();
  qvtest::MainWindowTarget target;
  ASSERT_TRUE(target.Open(240, 200, L"anti shake overlay"));
  CTestHost host;
  CImgBuff still;
  Texture(still, 100, 80, 0, 0);
  host.SetStill(still);
  auto* f = new CLfAntiShake;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  f->m_specify.m_checked = 1;
  f->OnLButtonDown(20, 20, 0);  // box 8: 16..23
  f->OnLButtonDown(60, 50, 0);  // 56..63, 46..53
  ASSERT_EQ(1, f->GetBox(1, nullptr, nullptr, nullptr, nullptr));
  host.SetOverlayColor(0, 1, 0);
  // View 0..199 x 0..159 shows image 0..99 x 0..79 at zoom 2.
  const std::vector<uint8_t> top = target.Pass(host, nullptr, 0, 0, 199, 159, 0, 0, 99, 79, 2);
  ASSERT_FALSE(top.empty());
  const uint64_t w = target.Width(), h = target.Height();
  EXPECT_TRUE(toolkittest::WritePng(std::string(QV_TEST_OUT_DIR) + "/anti_shake_overlay.png", top,
                                    int(w), int(h)));
  auto lit = [&](int x, int y) {
    const uint8_t* p = &top[(uint64_t(y) * w + uint64_t(x)) * 3];
    return p[0] == 0 && p[1] == 255 && p[2] == 0;
  };
  // Box 0: view 32..47 (far side of pixel 23 at zoom 2), box 1: 112..127 x 92..107.
  EXPECT_TRUE(lit(32, 40));
  EXPECT_TRUE(lit(47, 40));
  EXPECT_TRUE(lit(40, 32));
  EXPECT_TRUE(lit(40, 47));
  EXPECT_TRUE(lit(127, 100));
  EXPECT_TRUE(lit(120, 107));
  EXPECT_FALSE(lit(40, 40));
}

}  // namespace
