// projective_x11_test.cpp - the projective transformation window on a real X server, in both
// languages: size, labels and places, focal length, pixel size and pan typed with real keys,
// a real click on "set" that re-projects the frame as TiltCorrect does, and screenshots.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/imgbuff.h"
#include "engine/tilt.h"
#include "filters/binary_geometry_fourier/projective.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using filtertest::ClickControl;
using filtertest::SaveShot;
using filtertest::SendKey;
using filtertest::ShotWindow;
using toolkittest::PumpUntil;

// Clicks into a box (the box left before loses the focus and is checked), empties it and
// types text.
void TypeInto(CFgScreen* s, CFgUIEdit& box, const char* text) {
  filtertest::SendButton(s, 1, box.m_x + box.m_width - 4, box.m_y + box.m_height / 2);
  for (int i = 0; i < 4; ++i) SendKey(s, 0xFF08);  // BackSpace
  for (int i = 0; i < 4; ++i) SendKey(s, 0xFFFF);  // Delete
  for (const char* p = text; *p; ++p) SendKey(s, uint32_t(uint8_t(*p)));
}

class ProjectiveX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ProjectiveX11, TypedCameraAndSetReprojectTheFrame) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff src;
  apptest::MakePicture(src, 160, 120, ImgFormatRgb24, 8);
  host.SetStill(src);
  auto* f = new ShotWindow<CLfPtrans>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(270u, f->m_clientWidth);
  EXPECT_EQ(180u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(language), f->m_title);
  EXPECT_STREQ(ja ? L"\u7126\u70B9\u8DDD\u96E2" : L"focal length", f->m_labels[0].m_text);
  EXPECT_EQ(ja ? 60 : 85, f->m_labels[0].m_width);
  EXPECT_EQ(ja ? 140 : 70, f->m_labels[2].m_width);
  EXPECT_STREQ(ja ? L"\u64AE\u50CF\u7D20\u5B50\u30B5\u30A4\u30BA\u304B\u3089\u8A08\u7B97"
                  : L"calc from CCD size",
               f->m_calcButton.m_text);
  EXPECT_EQ(0, f->m_setButton.m_enabled);
  SaveShot(f, ja ? "projective_jp.png" : "projective_en.png");

  TypeInto(f, f->m_edits[CLfPtrans::BoxFocal], "8");
  TypeInto(f, f->m_edits[CLfPtrans::BoxPixel], "5");
  TypeInto(f, f->m_edits[CLfPtrans::BoxPan], "25");
  TypeInto(f, f->m_edits[CLfPtrans::BoxTilt], "95");
  TypeInto(f, f->m_edits[CLfPtrans::BoxZoom], "1");  // leaves tilt: refused, 0 comes back
  ASSERT_TRUE(PumpUntil([&] { return f->Field(CLfPtrans::BoxPan) == 25.0; }, 3000));
  EXPECT_EQ(8.0, f->Field(CLfPtrans::BoxFocal));
  EXPECT_EQ(5.0, f->Field(CLfPtrans::BoxPixel));
  EXPECT_EQ(1, f->m_setButton.m_enabled);
  ASSERT_TRUE(PumpUntil(
      [&] { return std::wstring(f->m_edits[CLfPtrans::BoxTilt].GetText()) == L"0"; }, 3000));
  SaveShot(f, ja ? "projective_jp_typed.png" : "projective_en_typed.png");

  ClickControl(f, f->m_setButton);
  ASSERT_TRUE(PumpUntil([&] { return f->GetState().committed == 1; }, 3000));
  CImgBuff want;
  want.CopyFrom(src);
  CameraModel m{};
  ASSERT_EQ(1, SetCameraModel(&m, 8, 160, 120, 5, 5));
  const double angles[3] = {25, 0, 0};
  ASSERT_EQ(1, TiltCorrect(&want, &m, angles, 1.0, 1));
  ASSERT_TRUE(PumpUntil([&] { return apptest::SamePixels(want, host.m_display); }, 3000));
  EXPECT_FALSE(apptest::SamePixels(src, host.m_display));
  EXPECT_EQ(0, f->m_setButton.m_enabled);
  SaveShot(f, ja ? "projective_jp_set.png" : "projective_en_set.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, ProjectiveX11, ::testing::Values(L"en", L"jp"));

}  // namespace
