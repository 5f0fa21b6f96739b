// binary_x11_test.cpp - the binary filters' windows on a real X server, driven by real
// clicks and keys over a binary picture that a view window shows as the main view does:
// "thinning" and 5 in "shave" change nothing before "set"; 50 typed in the noise remover;
// "erase left side object" unticked.  The view's pixels are read back and screenshots go
// to test_out/.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/imgbuff.h"
#include "engine/morphology.h"
#include "engine/separate.h"
#include "filters/binary_geometry_fourier/binary_morphology.h"
#include "filters/binary_geometry_fourier/change_conditions.h"
#include "filters/binary_geometry_fourier/noise_remover.h"
#include "filters/binary_geometry_fourier/separation.h"
#include "filters/binary_geometry_fourier/window_cut.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/binary_art.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/uiobj.h"
#include "toolkit/picture.h"
#include "toolkit/texture.h"

namespace {

using binarytest::AddBlock;
using binarytest::Art;
using binarytest::Blank;
using binarytest::FromArt;
using binarytest::ToArt;
using filtertest::SendButton;
using filtertest::SendKey;
using toolkittest::PumpUntil;

constexpr int32_t kZoom = 4;

// The processed frame in a picture view at 4 x, as the main window's view shows it.
class ViewWindow : public filtertest::ShotWindow<CFgUIDialog> {
 public:
  ViewWindow() { AddChild(&m_view); }
  int32_t Open(int32_t w, int32_t h) {
    if (!Create(20, 20, uint64_t(w * kZoom + 40), uint64_t(h * kZoom + 40), L"view", 0, nullptr))
      return 0;
    m_view.SetRect(0, 0, int32_t(m_clientWidth), int32_t(m_clientHeight));
    return 1;
  }
  // Shows picture, redraws and reads back which image pixels the view shows as objects.
  Art Shown(CImgBuff& picture, uint32_t bg, const std::string& shot) {
    CFgTexture texture;
    EXPECT_EQ(1, UploadImageToTexture(&texture, &picture, 1));
    m_view.SetImage(&texture);
    m_view.SetZoom(kZoom);
    m_view.Layout();
    pixels.clear();
    CFgUICtrl::Redraw();
    EXPECT_TRUE(PumpUntil([&] { return !pixels.empty(); }, 3000));
    Art art = Blank(picture.Width(), picture.Height());
    std::vector<int> seen(size_t(picture.Width()) * size_t(picture.Height()), 0);
    const uint8_t back = bg ? 255 : 0;
    for (int32_t wy = 0; wy < int32_t(m_clientHeight); ++wy)
      for (int32_t wx = 0; wx < int32_t(m_clientWidth); ++wx) {
        int32_t ix = wx, iy = wy;
        if (!m_view.ClientToImage(&ix, &iy)) continue;
        if (ix < 0 || iy < 0 || ix >= picture.Width() || iy >= picture.Height()) continue;
        const size_t at = size_t(iy) * size_t(picture.Width()) + size_t(ix);
        if (seen[at]++) continue;  // the first window pixel of each image pixel
        const uint8_t* px = &pixels[(size_t(wy) * m_clientWidth + size_t(wx)) * 3];
        if (px[0] != back || px[1] != back || px[2] != back) art[size_t(iy)][size_t(ix)] = '#';
      }
    for (int s : seen) EXPECT_NE(0, s);  // the whole picture is in view
    filtertest::SaveShot(this, shot);
    return art;
  }
  CFgUIPicture m_view;
};

void Click(CFgScreen* s, const CFgUIObj& w, int32_t dx = 8) {
  SendButton(s, 1, w.m_x + dx, w.m_y + w.m_height / 2);
}

// Clicks into a box, empties it and types text; Enter leaves it (Tab stays in a box).
void TypeInto(CFgScreen* s, const CFgUIEdit& box, const char* text) {
  Click(s, box, 20);
  for (int i = 0; i < 6; ++i) SendKey(s, 0xFF08);  // BackSpace
  for (int i = 0; i < 6; ++i) SendKey(s, 0xFFFF);  // Delete
  for (const char* p = text; *p; ++p) SendKey(s, uint32_t(*p));
  SendKey(s, 0xFF0D);
}

class BinaryX11 : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  std::string Name(const char* stem) const {
    return std::string(stem) + (IsJapanese(GetParam()) ? "_jp.png" : "_en.png");
  }
};

// Thick bars on white: dark objects (the controller's 8 and white).
TEST_P(BinaryX11, ThinningWithShaveAppliedOnlyBySet) {
  REQUIRE_DISPLAY();
  Art art = Blank(40, 30);
  AddBlock(art, 3, 3, 36, 9);
  AddBlock(art, 16, 3, 23, 26);
  AddBlock(art, 3, 20, 10, 26);
  CImgBuff src;
  FromArt(src, art, ImgFormatGray8, 1);
  CTestHost host;
  host.SetLanguage(GetParam());
  host.SetStill(src);
  auto* f = new filtertest::ShotFilter<CLfBinary>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(275u, f->m_clientWidth);
  EXPECT_EQ(180u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(GetParam()), f->m_title);
  ASSERT_EQ(1, host.Reprocess(0));  // hole filling: nothing to fill
  ViewWindow view;
  ASSERT_EQ(1, view.Open(40, 30));
  EXPECT_EQ(art, view.Shown(host.m_display, 1, Name("binary_view_start")));
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));

  Click(f, f->m_typeRadio[CLfBinary::kThinning]);
  ASSERT_TRUE(PumpUntil([&] { return f->m_editedType == CLfBinary::kThinning; }, 3000));
  EXPECT_EQ(1, f->m_shaveEdit.m_enabled);
  EXPECT_EQ(0, f->m_repeatEdit.m_enabled);
  TypeInto(f, f->m_shaveEdit, "5");
  ASSERT_TRUE(PumpUntil([&] { return f->m_editedShave == 5; }, 3000));
  EXPECT_EQ(1, f->m_setButton.m_enabled);
  f->Save(Name("binary_pending"));
  EXPECT_EQ(art, view.Shown(host.m_display, 1, Name("binary_view_pending")));

  Click(f, f->m_setButton, 100);
  ASSERT_TRUE(PumpUntil([&] { return f->m_dirty == 0; }, 3000));
  CImgBuff want;
  want.CopyFrom(src);
  RoiRect all{0, 0, 39, 29};
  Thin(&want, 8, 1, &all);
  ShaveWhiskers(&want, 5, 8, 1, &all);
  ASSERT_TRUE(apptest::SamePixels(want, host.m_display));
  const Art thinned = view.Shown(host.m_display, 1, Name("binary_view_set"));
  EXPECT_EQ(ToArt(want, 1), thinned);
  EXPECT_NE(art, thinned);
  f->Save(Name("binary_set"));
}

// Islands of 10, 30, 50, 51 and 200 pixels on white.
TEST_P(BinaryX11, NoiseRemoverLimitTypedAndLeft) {
  REQUIRE_DISPLAY();
  Art art = Blank(50, 30);
  AddBlock(art, 1, 1, 10, 1);    // 10
  AddBlock(art, 14, 1, 19, 5);   // 30
  AddBlock(art, 23, 1, 32, 5);   // 50
  AddBlock(art, 36, 1, 45, 5);
  art[6][36] = '#';              // 51
  AddBlock(art, 5, 10, 24, 19);  // 200
  CImgBuff src;
  FromArt(src, art, ImgFormatGray8, 1);
  CTestHost host;
  host.SetLanguage(GetParam());
  host.SetStill(src);
  auto* f = new filtertest::ShotFilter<CLfNoiseRemover>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(IsJapanese(GetParam()) ? 220u : 250u, f->m_clientWidth);
  EXPECT_STREQ(f->GetName(GetParam()), f->m_title);
  ASSERT_EQ(1, host.Reprocess(0));
  ViewWindow view;
  ASSERT_EQ(1, view.Open(50, 30));
  Art want = art;
  for (int32_t x = 1; x <= 10; ++x) want[1][size_t(x)] = '.';  // the default 10
  EXPECT_EQ(want, view.Shown(host.m_display, 1, Name("noise_view_10")));
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));

  TypeInto(f, f->m_minEdit, "50");
  ASSERT_TRUE(PumpUntil([&] { return f->GetLimits().min == 50; }, 3000));
  EXPECT_STREQ(L"50", f->m_minEdit.GetText());
  want = Blank(50, 30);
  AddBlock(want, 36, 1, 45, 5);
  want[6][36] = '#';
  AddBlock(want, 5, 10, 24, 19);
  EXPECT_EQ(want, view.Shown(host.m_display, 1, Name("noise_view_50")));
  f->Save(Name("noise_remover"));
}

TEST_P(BinaryX11, WindowCutLeftSideUnticked) {
  REQUIRE_DISPLAY();
  Art art = Blank(30, 20);
  AddBlock(art, 0, 5, 6, 9);     // on the left edge
  AddBlock(art, 12, 6, 18, 12);  // inside
  AddBlock(art, 25, 0, 27, 3);   // on the top edge
  CImgBuff src;
  FromArt(src, art, ImgFormatGray8, 1);
  CTestHost host;
  host.SetLanguage(GetParam());
  host.SetStill(src);
  auto* f = new filtertest::ShotFilter<CLfWindowCut>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(235u, f->m_clientWidth);
  EXPECT_EQ(115u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(GetParam()), f->m_title);
  ASSERT_EQ(1, host.Reprocess(0));
  ViewWindow view;
  ASSERT_EQ(1, view.Open(30, 20));
  Art inside = Blank(30, 20);
  AddBlock(inside, 12, 6, 18, 12);
  EXPECT_EQ(inside, view.Shown(host.m_display, 1, Name("window_cut_view_all")));
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));

  Click(f, f->m_leftBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetSides().left == 0; }, 3000));
  AddBlock(inside, 0, 5, 6, 9);  // the left-edge object is back
  EXPECT_EQ(inside, view.Shown(host.m_display, 1, Name("window_cut_view_left_off")));
  f->Save(Name("window_cut"));
}

// A Config before a noise remover over white blocks on black: "black", then "4" reach the
// remover, while the controller keeps its 8 and white.
TEST_P(BinaryX11, ChangeConditionsRadiosReachTheFiltersAfterIt) {
  REQUIRE_DISPLAY();
  Art art = Blank(20, 12);
  AddBlock(art, 2, 2, 4, 3);
  AddBlock(art, 5, 4, 7, 5);  // touches the first block only diagonally
  AddBlock(art, 12, 2, 16, 8);
  CImgBuff src;
  FromArt(src, art, ImgFormatGray8, 0);
  CTestHost host;
  host.SetLanguage(GetParam());
  host.SetStill(src);
  auto* config = new filtertest::ShotFilter<CLfConfig>;
  ASSERT_EQ(1, host.AddFilter(config, nullptr));
  ASSERT_NE(nullptr, config->m_window);
  EXPECT_EQ(176u, config->m_clientWidth);
  EXPECT_EQ(100u, config->m_clientHeight);
  EXPECT_STREQ(config->GetName(GetParam()), config->m_title);
  auto* remover = new CLfNoiseRemover;
  ASSERT_EQ(1, host.AddFilter(remover, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  ViewWindow view;
  ASSERT_EQ(1, view.Open(20, 12));
  // First the controller's white: the black around the blocks is one large object and stays.
  EXPECT_EQ(art, view.Shown(host.m_display, 0, Name("config_view_white")));
  ASSERT_TRUE(PumpUntil([&] { return !config->pixels.empty(); }, 3000));
  Click(config, config->m_black);
  ASSERT_TRUE(PumpUntil([&] { return config->Background() == 0; }, 3000));
  // Black and 8 neighbours: the two small blocks are one island of 12, above the limit 10.
  Art want = art;
  EXPECT_EQ(want, view.Shown(host.m_display, 0, Name("config_view_8")));
  Click(config, config->m_connect4);
  ASSERT_TRUE(PumpUntil([&] { return config->Connectivity() == 4; }, 3000));
  // 4 neighbours: two islands of 6, both removed.
  want = Blank(20, 12);
  AddBlock(want, 12, 2, 16, 8);
  EXPECT_EQ(want, view.Shown(host.m_display, 0, Name("config_view_4")));
  EXPECT_EQ(8u, host.m_connectivity);
  EXPECT_EQ(1u, host.m_background);
  config->Save(Name("change_conditions"));
}

TEST_P(BinaryX11, SeparationBoxClicked) {
  REQUIRE_DISPLAY();
  CImgBuff src;
  apptest::MakePicture(src, 24, 16, ImgFormatGray8, 9);
  CTestHost host;
  host.SetLanguage(GetParam());
  host.SetStill(src);
  auto* f = new filtertest::ShotFilter<CLfSeparation>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(112u, f->m_clientWidth);
  EXPECT_EQ(36u, f->m_clientHeight);
  EXPECT_STREQ(f->GetName(GetParam()), f->m_title);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  Click(f, f->m_grayBox);
  ASSERT_TRUE(PumpUntil([&] { return f->Gray() == 1; }, 3000));
  CImgBuff want;
  want.CopyFrom(src);
  RoiRect all{0, 0, 23, 15};
  ASSERT_EQ(1, SeparateParticles(&want, 1, 8, 1, &all));
  EXPECT_TRUE(apptest::SamePixels(want, host.m_display));
  f->Save(Name("separation"));
}

INSTANTIATE_TEST_SUITE_P(Languages, BinaryX11, ::testing::Values(L"en", L"jp"));

}  // namespace
