// ptv_e2e_x11_test.cpp - particle tracking through the real program, as a user drives it with
// XTest: a thresholded video of six black particles on white moving on straight lines at
// known speeds (OpenCV, written losslessly by ffmpeg), File > Open image, View > zoom 100%,
// Tool > particle tracking, EXEC; each particle's cross and trail in the main window, and the
// TRACK DATA table saved as CSV following the known motion in every scene.
// Screenshot: test_out/e2e_particle_tracking.png.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/app/program_e2e.h"

namespace {

using namespace e2e;

struct Particle {
  int x, y, vx, vy;  // scene 0 and a scene's step
};
// Far enough apart that each gate holds one particle; at most 4.2 pixels a scene, within the
// default search radius of 5.
const Particle kParticles[] = {{20, 15, 3, 1},  {30, 60, 3, -1}, {110, 20, 2, 2},
                               {150, 65, 4, -1}, {220, 20, -3, 1}, {70, 40, 2, 0}};
constexpr int kScenes = 8;

// 240 x 80 pixels (above the tool's window, which is centred on the main window), discs of
// radius 3 at the places argv[2] lists as "x,y,vx,vy;...".
const char kVideo[] = R"(
import sys, numpy as np, cv2
parts = [tuple(int(v) for v in p.split(',')) for p in sys.argv[2].split(';')]
frames = []
for k in range(8):
    img = np.full((80, 240, 3), 255, np.uint8)
    for x, y, vx, vy in parts:
        cv2.circle(img, (x + vx * k, y + vy * k), 3, (0, 0, 0), -1)
    frames.append(img)
write_avi(sys.argv[1], frames)
)";

// The tool's window (390 x 276): EXEC on the "track" page, DATA under the tab.
constexpr int kExecX = 86, kExecY = 217;
constexpr int kDataX = 40, kDataY = 257;

class ParticleTrackingEndToEnd : public ProgramTest {
 protected:
  ParticleTrackingEndToEnd() : ProgramTest("ptv_e2e") {}
};

TEST_F(ParticleTrackingEndToEnd, TrailsOnThePictureAndTheTracksInTheCsv) {
#if QV_HAVE_XTEST
  std::vector<std::vector<int>> list;
  for (const Particle& p : kParticles) list.push_back({p.x, p.y, p.vx, p.vy});
  ASSERT_EQ(Python(kVideo, "'" + dir_ + "/particles.avi' '" + Tuples(list) + "'"), "");
  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/particles.avi"));
  ASSERT_NO_FATAL_FAILURE(Zoom100());
  ASSERT_NO_FATAL_FAILURE(Menu(kToolMenuX, kItemY0 + 5 * kItemStep, kToolMenuX + 20));  // 粒子追跡/PTV
  const uint64_t tool = x_.WaitWindow(L"\x7C92\x5B50\x8FFD\x8DE1/PTV", pid_);
  ASSERT_NE(tool, 0u) << Stderr();
  Pause(500);
  x_.Click(tool, kExecX, kExecY);

  // The run ends on the last scene: a cross on each particle there, its trail back to scene 0.
  const int last = kScenes - 1;
  for (const Particle& p : kParticles) {
    const int x = p.x + p.vx * last, y = kViewTop + p.y + p.vy * last;
    EXPECT_TRUE(WaitCross(x, y, 4, 180000)) << "no cross at " << x << "," << y;
    EXPECT_TRUE(WaitLine(p.x, kViewTop + p.y, x, y)) << "no trail from " << p.x << "," << p.y;
  }
  EXPECT_TRUE(x_.Shot(main_, "e2e_particle_tracking.png"));

  // DATA, and the track table saved: X and Y columns per track, a row per scene.
  const std::wstring table = L"\x8FFD\x8DE1\x30C7\x30FC\x30BF";  // 追跡データ
  ASSERT_NE(ClickForWindow(tool, kDataX, kDataY, table), 0u);
  const std::string csv = dir_ + "/tracks.csv";
  ASSERT_NO_FATAL_FAILURE(SaveTable(table, csv));
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  const size_t tracks = sizeof kParticles / sizeof kParticles[0];
  ASSERT_EQ(rows.size(), size_t(kScenes + 2)) << qvtest::ReadWholeFile(csv);
  ASSERT_EQ(rows[0].size(), 2 * tracks + 1) << qvtest::ReadWholeFile(csv);
  EXPECT_EQ(rows[0][0], "pixel");
  std::vector<bool> found(tracks, false);
  for (size_t t = 0; t < tracks; ++t) {
    EXPECT_EQ(rows[0][2 * t + 1], std::to_string(t + 1));
    EXPECT_EQ(rows[1][2 * t + 1], "X");
    EXPECT_EQ(rows[1][2 * t + 2], "Y");
    // The particle this track starts on, then every scene on its line.
    const double x0 = std::atof(rows[2][2 * t + 1].c_str()), y0 = std::atof(rows[2][2 * t + 2].c_str());
    size_t k = 0;
    while (k < tracks && !(kParticles[k].x == x0 && kParticles[k].y == y0)) ++k;
    ASSERT_LT(k, tracks) << "track " << t + 1 << " starts at " << x0 << "," << y0;
    EXPECT_FALSE(found[k]);
    found[k] = true;
    for (int s = 0; s < kScenes; ++s) {
      const std::vector<std::string>& row = rows[size_t(s) + 2];
      EXPECT_EQ(row[0], std::to_string(s + 1));
      EXPECT_EQ(std::atof(row[2 * t + 1].c_str()), kParticles[k].x + kParticles[k].vx * s)
          << "track " << t + 1 << " scene " << s + 1 << " '" << row[2 * t + 1] << "'";
      EXPECT_EQ(std::atof(row[2 * t + 2].c_str()), kParticles[k].y + kParticles[k].vy * s)
          << "track " << t + 1 << " scene " << s + 1 << " '" << row[2 * t + 2] << "'";
    }
  }

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
