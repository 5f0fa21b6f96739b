// convolution_x11_test.cpp - the convolution filter's window on a real X server, in both
// languages: cells clicked and right-clicked, digits typed, "5x5" chosen, a divisor typed and
// left, "set" pressed: the frame equals the engine's own call; screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/convolve.h"
#include "filters/colour_pixel/convolution.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

void Button(CFgScreen* s, uint32_t button, int32_t x, int32_t y) {
  filtertest::SendButton(s, button, x, y);
}
void Key(CFgScreen* s, uint32_t key) { filtertest::SendKey(s, key); }

class ConvolutionX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ConvolutionX11, EditedGridAppliedBySet) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 24, 16, ImgFormatGray8);
  host.SetStill(src);
  auto* f = new filtertest::ShotFilter<CLfFilter>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_EQ(1, host.Reprocess(0));  // the identity kernel: the frame as it is
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(290u, f->m_clientWidth);
  EXPECT_EQ(352u, f->m_clientHeight);
  EXPECT_STREQ(ja ? L"\x6C7A\x5B9A" : L"set", f->m_setButton.m_text);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save(ja ? "filter_jp.png" : "filter_en.png");

  const int32_t gx = f->m_grid.m_x, gy = f->m_grid.m_y;
  // "5x5", then cell (2, 2) clicked twice, (3, 4) right-clicked, (6, 6) typed 7.
  Button(f, 1, f->m_sizeRadio[1].m_x + 8, f->m_sizeRadio[1].m_y + 10);
  ASSERT_TRUE(PumpUntil([&] { return f->m_pendingSize == 5; }, 3000));
  Button(f, 1, gx + 2 * 30 + 5, gy + 2 * 20 + 5);
  Button(f, 1, gx + 2 * 30 + 5, gy + 2 * 20 + 5);
  Button(f, 3, gx + 3 * 30 + 5, gy + 4 * 20 + 5);
  Button(f, 1, gx + 6 * 30 + 5, gy + 6 * 20 + 5);  // 1, then typed over
  Key(f, '7');
  ASSERT_TRUE(PumpUntil([&] { return f->m_grid.m_values[6][6] == 7; }, 3000));
  EXPECT_EQ(2, f->m_grid.m_values[2][2]);
  EXPECT_EQ(-1, f->m_grid.m_values[4][3]);
  // "auto div" off and divisor 9 typed, left by Enter.
  Button(f, 1, f->m_autoDivBox.m_x + 8, f->m_autoDivBox.m_y + 10);
  ASSERT_TRUE(PumpUntil([&] { return f->m_pendingAutoDiv == 0; }, 3000));
  Button(f, 1, f->m_divEdit.m_x + 20, f->m_divEdit.m_y + 10);
  for (int i = 0; i < 3; ++i) Key(f, 0xFF08);
  for (int i = 0; i < 3; ++i) Key(f, 0xFFFF);
  Key(f, '9');
  Key(f, 0xFF0D);
  ASSERT_TRUE(PumpUntil([&] { return f->m_pendingDiv == 9; }, 3000));
  // Nothing reached the frame yet.
  EXPECT_TRUE(apptest::SamePixels(src, host.m_display));
  EXPECT_EQ(1, f->m_setButton.m_enabled);
  f->Save(ja ? "filter_jp_pending.png" : "filter_en_pending.png");
  Button(f, 1, f->m_setButton.m_x + 100, f->m_setButton.m_y + 15);
  ASSERT_TRUE(PumpUntil([&] { return f->m_modified == 0; }, 3000));
  int32_t kernel[25];
  ASSERT_EQ(1, f->m_grid.GetKernel(kernel));
  EXPECT_EQ(2, kernel[0]);
  EXPECT_EQ(-1, kernel[11]);
  EXPECT_EQ(1, kernel[12]);
  EXPECT_EQ(7, kernel[24]);
  CImgBuff ref;
  apptest::MakePicture(ref, 24, 16, ImgFormatGray8);
  RoiRect roi{0, 0, 23, 15};
  ASSERT_EQ(1, ConvolveInt(&ref, 5, kernel, 0, 9, &roi));
  EXPECT_TRUE(apptest::SamePixels(ref, host.m_display));
  f->Save(ja ? "filter_jp_set.png" : "filter_en_set.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, ConvolutionX11, ::testing::Values(L"en", L"jp"));

}  // namespace
