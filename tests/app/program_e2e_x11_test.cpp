// program_e2e_x11_test.cpp - the program end to end, as a user drives it: a copy of
// quorvix-mini in a temporary folder, only synthetic X input (XTest pointer and keys).
// File > Open image with a PNG typed into the chooser, then an AVI typed over the name the
// chooser proposes; the scene bar's step forward / step back / play / stop buttons change
// the picture as they should; File > Save video writes an AVI that ffprobe reads with every
// frame; a screenshot of the main window goes to test_out/; the close request ends the
// program with status 0 and the settings file remembers the folder used.
// There is no window manager: the chooser has to take the keyboard itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/app/program_e2e.h"

namespace {

using qvtest::Capture;
using qvtest::ReadWholeFile;

#if QV_HAVE_XTEST
using namespace e2e;  // the layout constants and helpers
constexpr int kSaveVideoY = 63;
constexpr int kBarY = 480;  // the scene bar's buttons
constexpr int kStopX = 507, kStepBackX = 557, kStepForwardX = 588, kPlayForwardX = 620;
// The picture area that shows the scene (between the menu strip and the scene bar).
constexpr int kViewX = 40, kViewY = 40, kViewW = 560, kViewH = 400;
#endif

class ProgramEndToEndTest : public e2e::ProgramTest {};

TEST_F(ProgramEndToEndTest, OpensAPictureAndAVideoStepsPlaysStopsSavesAndCloses) {
#if QV_HAVE_XTEST
  // Fixtures by independent tools: a 40 x 30 gradient PNG and a 30-frame 10 fps MJPEG AVI.
  ASSERT_TRUE(Run("/usr/bin/convert -size 40x30 gradient:red-blue '" + dir_ + "/pic.png'"));
  ASSERT_TRUE(Run("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 30 "
                  "-c:v mjpeg -q:v 3 '" + dir_ + "/clip.avi'"));

  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  Pause(500);  // its first drawing

  // The PNG: the window names it and shows red at the top, blue at the bottom.
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/pic.png"));
  EXPECT_TRUE(WaitMain(320, 30, 1, 1, [](const std::vector<uint32_t>& p) { return Red(p[0]) > 0xC0; }));
  EXPECT_TRUE(WaitMain(320, 490, 1, 1, [](const std::vector<uint32_t>& p) { return Blue(p[0]) > 0xC0; }));

  // The AVI, typed over the name the chooser proposes.
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/clip.avi"));
  Pause(700);
  auto view = [&] { return x_.Pixels(main_, kViewX, kViewY, kViewW, kViewH); };
  const std::vector<uint32_t> first = view();
  ASSERT_EQ(first.size(), size_t(kViewW) * kViewH);

  // Step forward shows another scene; step back the first again, pixel for pixel.
  x_.Click(main_, kStepForwardX, kBarY);
  std::vector<uint32_t> second;
  EXPECT_TRUE(WaitUntil([&] { return (second = view()) != first; }, 20000));
  x_.Click(main_, kStepBackX, kBarY);
  EXPECT_TRUE(WaitUntil([&] { return view() == first; }, 20000));

  // Play forward moves on by itself; stop holds the picture still, short of the end.
  x_.Click(main_, kPlayForwardX, kBarY);
  Pause(1200);  // about 12 of the 30 scenes at 10 fps
  x_.Click(main_, kStopX, kBarY);
  Pause(500);
  const std::vector<uint32_t> stopped = view();
  EXPECT_NE(stopped, first);
  EXPECT_NE(stopped, second);
  Pause(800);
  EXPECT_EQ(view(), stopped) << "still playing after stop";

  // The main window with the video, for a look.
  EXPECT_TRUE(x_.Shot(main_, "quorvix_mini_e2e.png"));

  // Save video as AVI: every scene, read back by ffprobe.
  Menu(kFileMenuX, kSaveVideoY, 40);
  ASSERT_NO_FATAL_FAILURE(Choose(
      L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E",  // 保存するファイル名を選択
      dir_ + "/out.avi"));
  ASSERT_NO_FATAL_FAILURE(Acknowledge(L"\x78BA\x8A8D"));  // 確認: "セーブしました"
  const std::string probe =
      Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
              "stream=nb_read_frames,width,height -of csv=p=0 '" + dir_ + "/out.avi'");
  EXPECT_EQ(probe, "64,48,30\n");

  // Closing writes the settings file beside the program, remembering the folder used.
  EXPECT_EQ(Close(), 0) << Stderr();
  const std::string settings = ReadWholeFile(dir_ + "/quorvix_duvu.cfg");
  EXPECT_EQ(settings.rfind("[quorvix] {\n cfg_ver 1\n", 0), 0u) << settings;
  EXPECT_NE(settings.find("\n last_dir " + dir_), std::string::npos) << settings;
#endif
}

}  // namespace
