// freq_mask_x11_test.cpp - the frequency mask window on a real X server, in both languages:
// its size and labels, the wheel over the bar and a real click on "revers" that change the
// processed frame as the same settings from a pack do, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/fourier.h"
#include "filters/binary_geometry_fourier/freq_mask.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::SendButton;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

// The same chain without a window, its mask set from a pack.
void Reference(const CImgBuff& src, const CLfFreqMask::Settings& s, CImgBuff* out) {
  CTestHost host;
  host.SetStill(src);
  auto* mask = new CLfFreqMask;
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  ASSERT_EQ(1, host.AddFilter(mask, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfIFFT, nullptr));
  CCfgPack pack;
  const std::wstring lo = std::to_wstring(s.rangeMin), hi = std::to_wstring(s.rangeMax);
  pack.AddItem(L"range_min", lo.c_str());
  pack.AddItem(L"range_max", hi.c_str());
  pack.AddItem(L"revers", s.revers ? L"1" : L"0");
  mask->LoadParams(&pack);
  ASSERT_EQ(1, host.Reprocess(0));
  out->CopyFrom(host.m_display);
}

class FreqMaskX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(FreqMaskX11, BarAndBoxChangeTheFrame) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 64, 48, ImgFormatGray8, 5);
  host.SetStill(src);
  ASSERT_EQ(1, host.AddFilter(new CLfFFT, nullptr));
  auto* f = new ShotWindow<CLfFreqMask>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_EQ(1, host.AddFilter(new CLfIFFT, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(216u, f->m_clientWidth);
  EXPECT_EQ(70u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\u53CD\u8EE2" : L"revers", f->m_reversBox.m_text);
  EXPECT_EQ(197, f->m_rangeBar.m_width);
  SaveShot(f, ja ? "frequency_mask_jp.png" : "frequency_mask_en.png");
  ASSERT_EQ(1, host.Reprocess(0));
  CImgBuff before;
  before.CopyFrom(host.m_display);

  // The wheel just left of the low grip (the test input has no pointer motion, so no drag)
  // moves range_min: the ring widens inwards.
  FgRangeGeometry g = f->m_rangeBar.Geometry();
  ASSERT_TRUE(g.valid);
  const int32_t gx = f->m_rangeBar.m_x + int32_t(g.lowPos - g.start) - 4;
  const int32_t gy = f->m_rangeBar.m_y + 10;
  for (uint32_t button : {4u, 5u})
    for (int i = 0; i < 30 && f->GetSettings().rangeMin > 150; ++i) SendButton(f, button, gx, gy);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().rangeMin < 179; }, 3000));
  for (int i = 0; i < 5; ++i) FgPumpMessages();
  CImgBuff want;
  Reference(src, f->GetSettings(), &want);
  ASSERT_TRUE(PumpUntil([&] { return apptest::SamePixels(want, host.m_display); }, 3000));
  EXPECT_FALSE(apptest::SamePixels(before, host.m_display));

  ClickControl(f, f->m_reversBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSettings().revers == 1; }, 3000));
  Reference(src, f->GetSettings(), &want);
  ASSERT_TRUE(PumpUntil([&] { return apptest::SamePixels(want, host.m_display); }, 3000));
  SaveShot(f, ja ? "frequency_mask_jp_set.png" : "frequency_mask_en_set.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, FreqMaskX11, ::testing::Values(L"en", L"jp"));

}  // namespace
