// levels_x11_test.cpp - the gamma and histogram windows on a real X server, in both
// languages: sizes and labels, real clicks and keys through the X server that change the
// frame the chain gives, a range bar grip dragged, the histogram bars read back, screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "filters/colour_pixel/gamma.h"
#include "filters/colour_pixel/histogram.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

template <class Base>
using Shot = filtertest::ShotFilter<Base>;

void Click(CFgScreen* s, int32_t x, int32_t y) { filtertest::SendButton(s, 1, x, y); }
void Key(CFgScreen* s, uint32_t key) { filtertest::SendKey(s, key); }

class LevelsX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(LevelsX11, GammaWindowDrivenByClicksAndKeys) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(4, 1, ImgFormatGray8));
  const uint8_t in[4] = {0, 64, 128, 255};
  std::memcpy(src.Pixels(), in, 4);
  host.SetStill(src);
  auto* f = new Shot<CLfGamma>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 310u : 350u, f->m_clientWidth);
  EXPECT_EQ(100u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\x5143\x74B0\x5883" : L"orignal", f->m_fromLabel.m_text);
  EXPECT_EQ(ja ? 165 : 185, f->m_gammaEdit.m_x);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save(ja ? "gamma_jp.png" : "gamma_en.png");

  // "correction" mode by a real click: 128 becomes 109.
  Click(f, f->m_radio[1].m_x + 8, f->m_radio[1].m_y + 10);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().type == 1; }, 3000));
  ASSERT_TRUE(PumpUntil([&] { return static_cast<const uint8_t*>(host.m_display.Pixels())[2] == 109; }, 3000));
  EXPECT_EQ(0, f->m_gammaEdit.m_enabled);
  // Back to "gamma", the box typed "1" and left by Enter: nothing changes any more.
  Click(f, f->m_radio[0].m_x + 8, f->m_radio[0].m_y + 10);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().type == 0; }, 3000));
  Click(f, f->m_gammaEdit.m_x + 20, f->m_gammaEdit.m_y + 10);
  for (int i = 0; i < 5; ++i) Key(f, 0xFF08);  // BackSpace
  for (int i = 0; i < 5; ++i) Key(f, 0xFFFF);  // Delete
  Key(f, '1');
  Key(f, 0xFF0D);  // Enter leaves the box (Tab stays in it)
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().gamma == 1.0; }, 3000))
      << std::string(f->m_gammaEdit.GetText(), f->m_gammaEdit.GetText() + wcslen(f->m_gammaEdit.GetText())) << " focused " << f->m_gammaEdit.m_focused;
  ASSERT_TRUE(PumpUntil([&] { return static_cast<const uint8_t*>(host.m_display.Pixels())[2] == 128; }, 3000));
  EXPECT_EQ(64, static_cast<const uint8_t*>(host.m_display.Pixels())[1]);
  f->Save(ja ? "gamma_jp_typed.png" : "gamma_en_typed.png");
}

TEST_P(LevelsX11, HistogramGripDraggedAndBarsReadBack) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(16, 4, ImgFormatGray8));
  auto* p = static_cast<uint8_t*>(src.Pixels());
  for (int i = 0; i < 64; ++i) p[i] = uint8_t(i < 32 ? 100 : 150 + (i % 2) * 50);
  host.SetStill(src);
  auto* f = new Shot<CLfHistogram>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(276u, f->m_clientWidth);
  EXPECT_EQ(167u, f->m_clientHeight);
  ASSERT_EQ(1, host.Reprocess(0));
  // The highest bar (level 100, 32 pixels) fills rows 1 to 99 of the picture at (10, 10):
  // white in the window; the frame around it black.
  ASSERT_TRUE(PumpUntil([&] {
    if (f->pixels.empty()) return false;
    const uint8_t* px = &f->pixels[(size_t(10 + 50) * f->m_clientWidth + 10 + 100) * 3];
    return px[0] == 255;
  }, 3000));
  const uint8_t* frame = &f->pixels[(size_t(9) * f->m_clientWidth + 50) * 3];
  EXPECT_EQ(0, frame[0]);
  f->Save(ja ? "histogram_jp.png" : "histogram_en.png");

  // The wheel over the low grip (the test input has no pointer motion, so no drag): min
  // rises, the frame is stretched.
  FgRangeGeometry g = f->m_rangeBar.Geometry();
  ASSERT_TRUE(g.valid);
  int32_t gy = f->m_rangeBar.m_y + 10;
  int32_t gx = f->m_rangeBar.m_x + int32_t(g.lowPos - g.start) - 4;
  for (uint32_t button : {4u, 5u}) {
    for (int i = 0; i < 30 && f->GetSettings().min == 0; ++i) {
      filtertest::SendButton(f, button, gx, gy);
    }
  }
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().min > 0; }, 3000));
  for (int k = 0; k < 20; ++k) FgPumpMessages();
  const uint64_t min = f->GetSettings().min;
  EXPECT_EQ(int32_t(min), f->m_rangeBar.m_low);
  ASSERT_EQ(1, host.Reprocess(0));
  const uint8_t* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  uint64_t max = f->GetSettings().max;
  for (int i = 0; i < 64; ++i) {
    uint64_t v = p[i];
    uint64_t want = v < min ? 0 : v > max ? 255 : (max == min ? 0 : (v - min) * 255 / (max - min));
    ASSERT_EQ(want, out[i]) << i << " min " << min;
  }
  f->Save(ja ? "histogram_jp_stretched.png" : "histogram_en_stretched.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, LevelsX11, ::testing::Values(L"en", L"jp"));

}  // namespace
