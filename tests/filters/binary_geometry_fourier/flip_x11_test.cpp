// flip_x11_test.cpp - the flip window on a real X server, in both languages: its size,
// labels and places, real clicks on its boxes that flip the processed frame, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/flip.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

// Keeps the picture of every redraw (the back buffer before the swap), top row first.
class ShotFlip : public CLfFlip {
 public:
  void DrawOverlay() override {
    CLfFlip::DrawOverlay();
    uint64_t w = m_clientWidth, h = m_clientHeight;
    std::vector<uint8_t> up = toolkittest::ReadBack(w, h);
    pixels.assign(up.size(), 0);
    for (uint64_t y = 0; y < h; ++y)
      std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
                pixels.begin() + long(y * w * 3));
  }
  std::vector<uint8_t> pixels;
};

void Click(CFgScreen* s, const CFgUIObj& w) {
  int32_t x = w.m_x + 8, y = w.m_y + w.m_height / 2;
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 0, 1, x, y));
  ASSERT_EQ(1, PlatTestSendInput(s->GetWindow(), 1, 1, x, y));
}

class FlipX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(FlipX11, ClickedBoxesFlipTheFrame) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 24, 12, ImgFormatRgb24, 7);
  host.SetStill(src);
  ShotFlip* f = new ShotFlip;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 150u : 230u, f->m_clientWidth);
  EXPECT_EQ(60u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\x6C34\x5E73" : L"vertical", f->m_mirrorBox.m_text);
  EXPECT_STREQ(ja ? L"\x5782\x76F4" : L"horizontal", f->m_reverseBox.m_text);
  EXPECT_EQ(ja ? 80 : 120, f->m_reverseBox.m_x);
  EXPECT_EQ(ja ? 60 : 100, f->m_reverseBox.m_width);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));

  // The mirror box: every row mirrored.
  Click(f, f->m_mirrorBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().flipH == 1; }, 3000));
  CImgBuff want;
  apptest::MakePicture(want, 24, 12, ImgFormatRgb24, 7);
  FlipJob job{&want, 0, 0, 23, 11};
  MirrorRows(&job, 0, 12);
  EXPECT_TRUE(apptest::SamePixels(want, host.m_display));

  // Then the reverse box: the half turn.
  Click(f, f->m_reverseBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().flipV == 1; }, 3000));
  SwapRows(&job, 0, 6);
  EXPECT_TRUE(apptest::SamePixels(want, host.m_display));

  f->CFgUICtrl::Redraw();
  std::string path =
      std::string(QV_TEST_OUT_DIR) + "/" + (ja ? "flip_jp.png" : "flip_en.png");
  EXPECT_TRUE(toolkittest::WritePng(path, f->pixels, int(f->m_clientWidth),
                                    int(f->m_clientHeight)))
      << path;
}

INSTANTIATE_TEST_SUITE_P(Languages, FlipX11, ::testing::Values(L"en", L"jp"));

}  // namespace
