// program_e2e_x11_test.cpp - the program end to end, as a user drives it: a copy of
// quorvix-mini in a temporary folder, only synthetic X input (XTest pointer and keys).
// File > Open image with a PNG typed into the chooser, then an AVI typed over the name the
// chooser proposes; the scene bar's step forward / step back / play / stop buttons change
// the picture as they should; File > Save video over an existing AVI, the overwrite
// question answered, writes an AVI that ffprobe reads with every frame and leaves no
// temporary beside it; a screenshot of the main window goes to test_out/; the close request ends the
// program with status 0 and the settings file remembers the folder used.
// There is no window manager: the chooser has to take the keyboard itself.
#include <gtest/gtest.h>

#include <algorithm>
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

  // Save video as AVI over an older, smaller one: every scene, read back by ffprobe.
  ASSERT_TRUE(Run("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=32x24:rate=5 -frames:v 7 "
                  "-c:v mjpeg -q:v 3 '" + dir_ + "/out.avi'"));
  Menu(kFileMenuX, kSaveVideoY, 40);
  ASSERT_NO_FATAL_FAILURE(Choose(
      L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E",  // 保存するファイル名を選択
      dir_ + "/out.avi"));
  // 確認: "上書き保存しますか？", its "OK" left of the middle (beside "Cancel")
  ASSERT_NO_FATAL_FAILURE(Acknowledge(L"\x78BA\x8A8D", -48));
  ASSERT_NO_FATAL_FAILURE(Acknowledge(L"\x78BA\x8A8D"));  // 確認: "セーブしました"
  const std::string probe =
      Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
              "stream=nb_read_frames,width,height -of csv=p=0 '" + dir_ + "/out.avi'");
  EXPECT_EQ(probe, "64,48,30\n");
  EXPECT_EQ(Capture("ls -A '" + dir_ + "' | grep -c '^\\.qvsave-' || true"), "0\n");

  // Closing writes the settings file beside the program, remembering the folder used.
  EXPECT_EQ(Close(), 0) << Stderr();
  const std::string settings = ReadWholeFile(dir_ + "/quorvix_duvu.cfg");
  EXPECT_EQ(settings.rfind("[quorvix] {\n cfg_ver 1\n", 0), 0u) << settings;
  EXPECT_NE(settings.find("\n last_dir " + dir_), std::string::npos) << settings;
#endif
}

// An AVI whose headers claim 2^31 - 1 frames while it holds 4: play stops at the first scene
// that cannot be read, with one message; stop and step back still work on the open video,
// and the close request ends the program.
TEST_F(ProgramEndToEndTest, PlayStopsAtTheFirstSceneThatFailsWithOneMessage) {
#if QV_HAVE_XTEST
  const std::string avi = dir_ + "/lying.avi";
  ASSERT_TRUE(Run("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 4 "
                  "-c:v mjpeg -q:v 3 '" + avi + "'"));
  std::string bytes = ReadWholeFile(avi);
  // Total frames of the main and the OpenDML header, and the stream's length.
  const struct {
    const char* id;
    size_t field;
  } counts[] = {{"avih", 16}, {"dmlh", 0}, {"strh", 32}};
  int patched = 0;
  for (const auto& c : counts)
    for (size_t at = bytes.find(c.id); at != std::string::npos && at < 4096; at = bytes.find(c.id, at + 4)) {
      bytes.replace(at + 8 + c.field, 4, "\xFF\xFF\xFF\x7F", 4);
      ++patched;
    }
  ASSERT_GE(patched, 2);
  qvtest::WriteWholeFile(avi, bytes);

  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  Pause(500);
  // Opening it: more scenes than the program processes, said once.
  ASSERT_NO_FATAL_FAILURE(Menu(kFileMenuX, kItemY0, 40));
  ASSERT_NO_FATAL_FAILURE(Choose(L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E", avi));  // ファイルを選択
  ASSERT_NO_FATAL_FAILURE(Acknowledge(L"\x5236\x9650\x4E8B\x9805"));                      // 制限事項
  ASSERT_NE(x_.WaitWindow(BaseTitle() + L"  lying.avi", pid_, 60000), 0u) << Stderr();
  Pause(700);
  auto view = [&] { return x_.Pixels(main_, kViewX, kViewY, kViewW, kViewH); };
  const std::vector<uint32_t> first = view();

  // Play: scenes 1 to 3 show, the fifth fails: one message, and no other comes.
  x_.Click(main_, kPlayForwardX, kBarY);
  const std::wstring error = L"\x30A8\x30E9\x30FC";  // エラー
  ASSERT_NO_FATAL_FAILURE(Acknowledge(error));
  EXPECT_EQ(x_.WaitWindow(error, pid_, 4000), 0u) << "a second message";
  EXPECT_TRUE(x_.Shot(main_, "quorvix_mini_e2e_failed_scene.png"));

  // Stop, then step back: the last scene that exists shows, and stays.
  x_.Click(main_, kStopX, kBarY);
  x_.Click(main_, kStepBackX, kBarY);
  std::vector<uint32_t> back;
  EXPECT_TRUE(WaitUntil([&] {
    back = view();
    return back != first && std::count(back.begin(), back.end(), back[0]) < long(back.size());
  }, 20000)) << "step back after the failed scene shows no picture";
  Pause(800);
  EXPECT_EQ(view(), back);
  EXPECT_EQ(x_.WaitWindow(error, pid_, 500), 0u);

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

// An MP4 without colour tags, as ffmpeg writes it from an R,G,B picture of colour bars (the
// BT.601 matrix of its size): opened and played, the window shows each bar in the colour it
// was drawn with, within 3 levels, red and cyan included (read as BT.709 they showed as
// (255, 24, 0) and (0, 230, 255)).
TEST_F(ProgramEndToEndTest, AnUntaggedMp4PlaysInTheColoursItWasMadeFrom) {
#if QV_HAVE_XTEST
  const int bars[][3] = {{253, 0, 0}, {0, 255, 255}, {0, 200, 0}, {30, 30, 220}, {220, 200, 20}, {200, 40, 200}};
  std::string draw = "/usr/bin/convert -size 112x480";
  for (const auto& b : bars)
    draw += " xc:'rgb(" + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) + ")'";
  ASSERT_TRUE(Run(draw + " +append +repage -crop 640x480+0+0 +repage '" + dir_ + "/bars.png'"));
  ASSERT_TRUE(Run("ffmpeg -loglevel error -y -loop 1 -framerate 25 -i '" + dir_ + "/bars.png' -frames:v 20 "
                  "-c:v libx264 -pix_fmt yuv420p -crf 4 '" + dir_ + "/bars.mp4'"));
  ASSERT_EQ(Capture("ffprobe -v error -select_streams v:0 -show_entries stream=color_space -of csv=p=0 '" + dir_ +
                    "/bars.mp4'"),
            "unknown\n");

  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  Pause(500);
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/bars.mp4"));
  x_.Click(main_, kPlayForwardX, kBarY);
  Pause(1500);
  x_.Click(main_, kStopX, kBarY);
  Pause(500);
  EXPECT_TRUE(x_.Shot(main_, "quorvix_mini_e2e_untagged_mp4.png"));
  // Along a row through the middle of the picture, each bar's colour over a stretch of 20
  // pixels or more.
  const std::vector<uint32_t> row = x_.Pixels(main_, 0, 240, 640, 1);
  ASSERT_EQ(row.size(), 640u);
  for (const auto& b : bars) {
    int run = 0, longest = 0;
    for (uint32_t c : row) {
      const bool near = std::abs(Red(c) - b[0]) <= 3 && std::abs(Green(c) - b[1]) <= 3 && std::abs(Blue(c) - b[2]) <= 3;
      run = near ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    EXPECT_GE(longest, 20) << "bar (" << b[0] << ", " << b[1] << ", " << b[2] << ")";
  }
  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

TEST_F(ProgramEndToEndTest, AutoMeasurementShowsALargeAreaWhole) {
#if QV_HAVE_XTEST
  ASSERT_EQ(std::system(("/usr/bin/convert -size 640x480 xc:black -fill white -draw 'rectangle 20,20 619,459' "
                         "-type Grayscale -depth 8 '" + dir_ + "/area.png'").c_str()),
            0);
  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/area.png"));

  ASSERT_NO_FATAL_FAILURE(Menu(kMeasureMenuX, kItemY0, kMeasureMenuX + 20));
  const uint64_t table = x_.WaitWindow(L"\x81EA\x52D5\x8A08\x6E2C", pid_);  // 自動計測
  ASSERT_NE(table, 0u) << Stderr();
  // The grid below the menu line: header cells are raised, with a black line along their
  // right and bottom.  The top-left cell's bottom line gives the row pitch, the header
  // row's right lines the columns' edges.
  const int w = 300, h = 200;
  std::vector<uint32_t> px;
  auto at = [&](int i, int j) { return px[size_t(j) * w + i]; };
  int top = -1, pitch = -1, x0 = 0, x1 = 0;
  auto dark = [](uint32_t c) { return Red(c) < 100 && Green(c) < 100 && Blue(c) < 100; };
  // Ink of row `row` of the first island's column: left and right ends, right < 0 if none.
  auto ink = [&](int row, int* left, int* right) {
    const int y0 = top + row * pitch;
    *left = w;
    *right = -1;
    for (int j = y0 + 1; j < y0 + pitch - 1 && j < h; ++j)
      for (int i = x0; i <= x1; ++i)
        if (dark(at(i, j))) {
          *left = std::min(*left, i);
          *right = std::max(*right, i);
        }
  };
  // The frame is measured on the worker: wait until the total's row holds a number.
  const bool drawn = WaitUntil(
      [&] {
        px = x_.Pixels(table, 0, 0, w, h);
        if (px.size() != size_t(w) * h) return false;
        top = pitch = -1;
        for (int j = 1; j < h && top < 0; ++j)
          if (at(2, j) == 0xFFFFFFu && at(2, j - 1) != 0xFFFFFFu) top = j;
        if (top < 0) return false;
        for (int j = top + 1; j < h && pitch < 0; ++j)
          if (at(2, j) == 0) pitch = j - top + 1;
        if (pitch <= 8) return false;
        std::vector<int> edges;
        for (int i = 0; i < w; ++i)
          if (at(i, top + 1) == 0) edges.push_back(i);
        if (edges.size() < 2) return false;
        x0 = edges[0] + 1;
        x1 = edges[1];  // the first island's column
        int left = 0, right = -1;
        ink(8, &left, &right);
        return right >= 0;
      },
      30000);
  EXPECT_TRUE(x_.Shot(table, "quorvix_mini_e2e_auto_measurement.png"));
  ASSERT_TRUE(drawn) << "no total area drawn in the table";
  const int half = (pitch - 4) / 2;
  EXPECT_GE(x1 - x0 + 1, 10 * half + 4) << "the column holds fewer than ten characters";
  // Rows 7 and 8, the hole's area and the total area: their ink starts where ten
  // right-aligned characters start.
  for (int row : {7, 8}) {
    int left = 0, right = -1;
    ink(row, &left, &right);
    ASSERT_GE(right, 0) << "no number in row " << row;
    EXPECT_GE(left, x1 - 1 - 10 * half) << row;
    EXPECT_LT(left, x1 - 1 - 9 * half) << row;
    EXPECT_GT(left, x0 + 1) << row;
  }

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
