// track2d_e2e_x11_test.cpp - 2D tracking through the real program, as a user drives it with
// XTest: a video of a yellow, a green and a blue disk on straight paths (OpenCV, written
// losslessly by ffmpeg), File > Open image, View > zoom 100%, Tool > 2D tracking; each disk
// registered through the window's controls, box first (a drag around it on the picture),
// then its colour ("color set" and a click on the disk, then "color add" unticked to end the
// picking); the boxes with their numbers on the main window; the "track" page's AUTO TRACK;
// a cross on each disk in the last scene, and the TRACK DATA table saved as CSV within 2
// pixels of the truth in every scene.  Screenshot: test_out/e2e_2d_tracking.png.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/app/program_e2e.h"

namespace {

using namespace e2e;

struct Disk {
  int x, y, vx, vy;  // scene 0 and a scene's step
  int b, g, r;       // colour
};
// Yellow, green and blue: none of them the guide colour (red), so a cross on a disk shows.
const Disk kDisks[] = {{22, 22, 5, 1, 0, 255, 255}, {42, 58, 4, -1, 0, 255, 0}, {208, 40, -5, 1, 255, 0, 0}};
constexpr int kScenes = 10;
constexpr int kHalf = 16;  // the boxes drawn: 32 x 32 around each disk

// 240 x 80 pixels on dark gray (above the tool's window, which is centred on the main window),
// disks of radius 6 as argv[2] lists them: "x,y,vx,vy,b,g,r;...".
const char kVideo[] = R"(
import sys, numpy as np, cv2
disks = [tuple(int(v) for v in d.split(',')) for d in sys.argv[2].split(';')]
frames = []
for k in range(10):
    img = np.full((80, 240, 3), 50, np.uint8)
    for x, y, vx, vy, b, g, r in disks:
        cv2.circle(img, (x + vx * k, y + vy * k), 6, (b, g, r), -1)
    frames.append(img)
write_avi(sys.argv[1], frames)
)";

// The tool's window (390 x 292), its tab page from (10, 131): the colour panel's "color set"
// and "color add" boxes, the "track" page's title and AUTO TRACK, and DATA under the tab.
constexpr int kColorSetX = 112, kColorAddX = 192, kPickY = 237;
constexpr int kTrackTabX = 59, kTrackTabY = 121;
constexpr int kAutoX = 314, kAutoY = 201;
constexpr int kDataX = 40, kDataY = 273;

class TrackingEndToEnd : public ProgramTest {
 protected:
  TrackingEndToEnd() : ProgramTest("track2d_e2e") {}
  // The outline of the box of half size kHalf around (x, y) of the picture (its top and left
  // edges), and its ID number 4 pixels right of it from its top edge down.
  bool WaitBox(int x, int y) {
    const int x0 = x - kHalf, y0 = kViewTop + y - kHalf, x1 = x + kHalf - 1, y1 = kViewTop + y + kHalf - 1;
    return WaitLine(x0, y0, x1, y0) && WaitLine(x0, y0, x0, y1) &&
           WaitMain(x1 + 4, y0, 10, 16, [](const std::vector<uint32_t>& p) {
             int lit = 0;  // the glyph's edges blend into the background
             for (uint32_t c : p) lit += Red(c) > Green(c) + 60 && Red(c) > Blue(c) + 60;
             return lit >= 4;
           });
  }
};

TEST_F(TrackingEndToEnd, BoxesOnThePictureAndEveryDiskInTheCsv) {
#if QV_HAVE_XTEST
  std::vector<std::vector<int>> list;
  for (const Disk& d : kDisks) list.push_back({d.x, d.y, d.vx, d.vy, d.b, d.g, d.r});
  ASSERT_EQ(Python(kVideo, "'" + dir_ + "/disks.avi' '" + Tuples(list) + "'"), "");
  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/disks.avi"));
  ASSERT_NO_FATAL_FAILURE(Zoom100());
  ASSERT_NO_FATAL_FAILURE(Menu(kToolMenuX, kItemY0 + 6 * kItemStep, kToolMenuX + 20));  // 2D追跡
  const uint64_t tool = x_.WaitWindow(L"2D\x8FFD\x8DE1", pid_);
  ASSERT_NE(tool, 0u) << Stderr();
  Pause(500);

  // Each disk: its box drawn on the picture, then its colour picked into it.
  for (const Disk& d : kDisks) {
    x_.Drag(main_, d.x - kHalf, kViewTop + d.y - kHalf, d.x + kHalf - 1, kViewTop + d.y + kHalf - 1);
    ASSERT_TRUE(WaitBox(d.x, d.y)) << "no box around " << d.x << "," << d.y;
    ASSERT_TRUE(ClickToChange(tool, kColorSetX, kPickY)) << "color set not ticked";
    // The pick turns "color set" into "color add".
    const std::vector<uint32_t> add = x_.Pixels(tool, kColorAddX - 4, kPickY - 4, 9, 9);
    x_.Click(main_, d.x, kViewTop + d.y);
    ASSERT_TRUE(WaitUntil([&] { return x_.Pixels(tool, kColorAddX - 4, kPickY - 4, 9, 9) != add; }, 30000))
        << "no colour picked at " << d.x << "," << d.y;
    // Unticked, picking ends, so the next press draws a box.
    ASSERT_TRUE(ClickToChange(tool, kColorAddX, kPickY)) << "color add not unticked";
  }
  EXPECT_TRUE(x_.Shot(main_, "e2e_2d_tracking_boxes.png"));

  // AUTO TRACK on the "track" page; the run ends on the last scene with a cross on each disk.
  ASSERT_TRUE(ClickToChange(tool, kTrackTabX, kTrackTabY)) << "no track page";
  x_.Click(tool, kAutoX, kAutoY);
  const int last = kScenes - 1;
  for (const Disk& d : kDisks) {
    const int x = d.x + d.vx * last, y = kViewTop + d.y + d.vy * last;
    EXPECT_TRUE(WaitCross(x, y, 4, 180000)) << "no cross at " << x << "," << y;
  }
  EXPECT_TRUE(x_.Shot(main_, "e2e_2d_tracking.png"));

  // DATA (again while the run may still be ending: the button is off until then).
  const std::wstring table = L"\x8FFD\x8DE1\x30C7\x30FC\x30BF";  // 追跡データ
  ASSERT_NE(ClickForWindow(tool, kDataX, kDataY, table), 0u);
  const std::string csv = dir_ + "/tracks.csv";
  ASSERT_NO_FATAL_FAILURE(SaveTable(table, csv));
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  const size_t ids = sizeof kDisks / sizeof kDisks[0];
  ASSERT_EQ(rows.size(), size_t(kScenes + 2)) << qvtest::ReadWholeFile(csv);
  ASSERT_EQ(rows[0].size(), 2 * ids + 1) << qvtest::ReadWholeFile(csv);
  EXPECT_EQ(rows[0][0], "pixel");
  for (size_t i = 0; i < ids; ++i) {
    EXPECT_EQ(rows[0][2 * i + 1], std::to_string(i + 1));
    for (int s = 0; s < kScenes; ++s) {
      const std::vector<std::string>& row = rows[size_t(s) + 2];
      ASSERT_EQ(row.size(), rows[0].size());
      ASSERT_FALSE(row[2 * i + 1].empty()) << "ID " << i + 1 << " scene " << s + 1;
      EXPECT_NEAR(std::atof(row[2 * i + 1].c_str()), kDisks[i].x + kDisks[i].vx * s, 2.0)
          << "ID " << i + 1 << " scene " << s + 1;
      EXPECT_NEAR(std::atof(row[2 * i + 2].c_str()), kDisks[i].y + kDisks[i].vy * s, 2.0)
          << "ID " << i + 1 << " scene " << s + 1;
    }
  }

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
