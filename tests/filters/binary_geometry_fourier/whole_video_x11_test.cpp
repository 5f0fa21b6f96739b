// whole_video_x11_test.cpp - the whole-video tools' windows on a real X server over a
// scripted video: a real click on the strobe tool's EXEC composes six moving squares and
// the preview shows them; a real click on the background tool's SAVE writes the mean of the
// scenes, read back by ImageMagick.  Screenshots go to test_out/.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "filters/binary_geometry_fourier/bg_create.h"
#include "filters/binary_geometry_fourier/strobe_photo.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using toolkittest::PumpUntil;

struct Video {
  std::vector<std::unique_ptr<CImgBuff>> frames;
  std::vector<const CImgBuff*> list;
  Video() {
    const int places[6][2] = {{4, 4}, {24, 4}, {44, 4}, {4, 28}, {24, 28}, {44, 28}};
    for (const auto& p : places) {
      frames.push_back(std::make_unique<CImgBuff>());
      CImgBuff& f = *frames.back();
      EXPECT_EQ(1, f.Allocate(64, 48, ImgFormatRgb24));
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
          const bool in = x >= p[0] && x < p[0] + 12 && y >= p[1] && y < p[1] + 12;
          f.SetRGB8(x, y, in ? 255 : 60, in ? 0 : 90, in ? 0 : 120);
        }
      list.push_back(&f);
    }
  }
};

TEST(WholeVideoWindows, StrobeExecByAClickShowsTheResult) {
  REQUIRE_DISPLAY();
  Video video;
  CTestHost host;
  host.SetLanguage(L"en");
  ASSERT_EQ(1, host.SetVideo(video.list, 33333));
  auto* f = new filtertest::ShotFilter<CLfStrobePhoto>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(304u, f->m_clientWidth);
  EXPECT_EQ(552u, f->m_clientHeight);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save("strobe_idle.png");
  filtertest::ClickControl(f, f->m_exec);
  CImgBuff result;
  ASSERT_TRUE(PumpUntil([&] {
    f->CopyComposite(&result);
    return result.Pixels() != nullptr && !f->Busy();
  }, 20000));
  f->Save("strobe_result.png");
  // The result: six squares on the background; the preview shows red inside its area.
  int red = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t r, g, b;
      result.GetRGB8(x, y, &r, &g, &b);
      red += r == 255 && g == 0;
    }
  EXPECT_EQ(6 * 144, red);
  int shownRed = 0;
  for (int y = f->m_preview.m_y; y < f->m_preview.m_y + f->m_preview.m_height; ++y)
    for (int x = f->m_preview.m_x; x < f->m_preview.m_x + f->m_preview.m_width; ++x) {
      const uint8_t* p = &f->pixels[(size_t(y) * f->m_clientWidth + size_t(x)) * 3];
      shownRed += p[0] > 200 && p[1] < 40 && p[2] < 40;
    }
  EXPECT_GT(shownRed, 6 * 144);
  EXPECT_EQ(std::wstring(L"EXEC"), f->m_exec.m_text);
}

TEST(WholeVideoWindows, BackgroundSaveByAClickWritesTheMean) {
  REQUIRE_DISPLAY();
  Video video;
  CTestHost host;
  host.SetLanguage(L"en");
  ASSERT_EQ(1, host.SetVideo(video.list, 33333));
  auto* f = new filtertest::ShotFilter<CLfBgCreate>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_NE(nullptr, f->m_window);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save("bg_create_en.png");
  qvtest::TempFolder dir("bgx11");
  CScriptedDialogs dialogs;
  dialogs.m_paths.push_back(dir.WideFile("bg.png"));
  filtertest::ClickControl(f, f->m_run);
  ASSERT_TRUE(PumpUntil([&] { return !dialogs.m_shown.empty(); }, 20000));
  EXPECT_EQ(L"saved", dialogs.m_shown[0].text);
  // ImageMagick reads the file: (4, 4) is red in one scene of six: mean (102, 75, 100).
  const std::string cmd = "/usr/bin/convert '" + dir.File("bg.png") +
                          "' -format '%[fx:int(255*p{4,4}.r+0.5)] %[fx:int(255*p{4,4}.g+0.5)] "
                          "%[fx:int(255*p{4,4}.b+0.5)] %[fx:int(255*p{0,0}.r+0.5)]' info:";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(nullptr, p);
  int r = -1, g = -1, b = -1, r0 = -1;
  EXPECT_EQ(4, std::fscanf(p, "%d %d %d %d", &r, &g, &b, &r0));
  pclose(p);
  EXPECT_EQ((255 + 5 * 60) / 6, r);
  EXPECT_EQ(5 * 90 / 6, g);
  EXPECT_EQ(5 * 120 / 6, b);
  EXPECT_EQ(60, r0);
  EXPECT_EQ(std::wstring(L"SAVE"), f->m_run.m_text);
}

}  // namespace
