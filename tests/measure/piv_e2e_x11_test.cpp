// piv_e2e_x11_test.cpp - PIV through the real program, as a user drives it with XTest: a
// video of Gaussian particles that all move by (+3.0, +1.5) pixels a frame (numpy, written
// losslessly by ffmpeg), File > Open image, View > zoom 100%, Tool > PIV, "fast processing"
// unticked, EXEC; the planned grid before the run and the grid with its arrows after it in
// the main window, and the VECTOR DATA table saved as CSV within 0.05 pixel of the shift in
// every cell of every scene after the first.  Screenshot: test_out/e2e_piv.png.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/app/program_e2e.h"

namespace {

using namespace e2e;

// 192 x 160 pixels (left of the PIV window, which is centred on the main window), 3 frames at
// 10 frames a second; 1400 particles of sigma 1.1 pixels, drawn at their exact sub-pixel
// places, the field wider than the picture so that particles enter as others leave.
const char kParticles[] = R"(
import sys, numpy as np
W, H, N = 192, 160, 3
rng = np.random.default_rng(12)
n = 1400
x0 = rng.uniform(-20, W + 4, n); y0 = rng.uniform(-12, H + 4, n)
peak = rng.uniform(150, 255, n)
frames = []
for k in range(N):
    img = np.zeros((H + 16, W + 16))
    for x, y, p in zip(x0 + 3.0 * k + 8, y0 + 1.5 * k + 8, peak):
        ix, iy = int(np.floor(x)), int(np.floor(y))
        if ix < 4 or iy < 4 or ix > W + 11 or iy > H + 11:
            continue
        xs = np.arange(ix - 4, ix + 5); ys = np.arange(iy - 4, iy + 5)
        g = np.exp(-((xs[None, :] - x) ** 2 + (ys[:, None] - y) ** 2) / (2 * 1.1 ** 2))
        img[iy - 4:iy + 5, ix - 4:ix + 5] += p * g
    frame = np.clip(img[8:H + 8, 8:W + 8], 0, 255).astype(np.uint8)
    frames.append(np.repeat(frame[:, :, None], 3, axis=2))
write_avi(sys.argv[1], frames)
)";

constexpr double kShiftX = 3.0, kShiftY = 1.5;
// The PIV window (224 x 344): its tab page starts at (10, 29); "fast processing", EXEC/DATA.
constexpr int kFastX = 26, kFastY = 75;
constexpr int kButtonX = 112, kButtonY = 303;
// The planned grid of 32-pixel cells on 192 x 160: 4 x 3 cells from (32, 32).
constexpr int kOrigin = 32, kCell = 32, kNx = 4, kNy = 3;

class PivEndToEnd : public ProgramTest {
 protected:
  PivEndToEnd() : ProgramTest("piv_e2e") {}
  // The grid's lines in the guide colour: the left edge and the top edge, sampled.
  bool WaitGrid() {
    return WaitMain(kOrigin - 1, kViewTop + kOrigin - 1, kNx * kCell + 3, kNy * kCell + 3,
                    [](const std::vector<uint32_t>& p) {
                      const int w = kNx * kCell + 3;
                      auto at = [&](int x, int y) { return IsGuideRed(p[size_t(y * w + x)]); };
                      int lit = 0;  // within a pixel of the line: rasterisation may round either way
                      for (int i = 4; i < kNx * kCell; i += 8) lit += at(1 + i, 0) || at(1 + i, 1) || at(1 + i, 2);
                      for (int j = 4; j < kNy * kCell; j += 8) lit += at(0, 1 + j) || at(1, 1 + j) || at(2, 1 + j);
                      return lit >= (kNx * kCell / 8 + kNy * kCell / 8) - 2;
                    });
  }
};

TEST_F(PivEndToEnd, GridAndArrowsOnThePictureAndTheVectorsInTheCsv) {
#if QV_HAVE_XTEST
  ASSERT_EQ(Python(kParticles, "'" + dir_ + "/particles.avi'"), "");
  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/particles.avi"));
  ASSERT_NO_FATAL_FAILURE(Zoom100());
  ASSERT_NO_FATAL_FAILURE(Menu(kToolMenuX, kItemY0 + 4 * kItemStep, kToolMenuX + 20));  // PIV
  const uint64_t tool = x_.WaitWindow(L"PIV", pid_);
  ASSERT_NE(tool, 0u) << Stderr();

  // The grid the run will use, before it.
  EXPECT_TRUE(WaitGrid()) << "no planned grid";
  // "fast processing" off (the pixel-exact search), then EXEC.
  ASSERT_TRUE(ClickToChange(tool, kFastX, kFastY)) << "fast processing not unticked";
  x_.Click(tool, kButtonX, kButtonY);

  // After the run the last scene shows each cell's arrow, green (2 to 4 pixels a frame), from
  // the cell's centre along the shift times the arrow zoom 3.
  auto arrows = [&] {
    int shown = 0;
    for (int cy = 0; cy < kNy; ++cy)
      for (int cx = 0; cx < kNx; ++cx) {
        const int x = kOrigin + kCell * cx + kCell / 2, y = kViewTop + kOrigin + kCell * cy + kCell / 2;
        const std::vector<uint32_t> p = x_.Pixels(main_, x + 2, y, 6, 4);
        int green = 0;
        for (uint32_t c : p) green += Green(c) > 200 && Red(c) < 80 && Blue(c) < 80;
        shown += green >= 3;
      }
    return shown;
  };
  EXPECT_TRUE(WaitUntil([&] { return arrows() == kNx * kNy; }, 180000)) << arrows() << " arrows";
  EXPECT_TRUE(WaitGrid()) << "no grid with the arrows";
  EXPECT_TRUE(x_.Shot(main_, "e2e_piv.png"));

  // DATA, and the table saved: per scene and cell the speed (pixels a second at 10 frames a
  // second) and the direction.
  const std::wstring table = L"\x30D9\x30AF\x30C8\x30EB\x30C7\x30FC\x30BF";  // ベクトルデータ
  ASSERT_NE(ClickForWindow(tool, kButtonX, kButtonY, table), 0u);
  const std::string csv = dir_ + "/vectors.csv";
  ASSERT_NO_FATAL_FAILURE(SaveTable(table, csv));
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  ASSERT_EQ(rows.size(), 2u + 3u) << qvtest::ReadWholeFile(csv);
  ASSERT_EQ(rows[0].size(), size_t(2 * kNx * kNy + 1)) << qvtest::ReadWholeFile(csv);
  EXPECT_EQ(rows[0][0], "pixel/s");
  EXPECT_EQ(rows[0][1], "1,1");
  EXPECT_EQ(rows[1][0], "rad");
  for (size_t r = 2; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), rows[0].size());
    EXPECT_EQ(rows[r][0], std::to_string(r - 1));
    for (int k = 0; k < kNx * kNy; ++k) {
      const double speed = std::atof(rows[r][size_t(2 * k + 1)].c_str());
      const double direction = std::atof(rows[r][size_t(2 * k + 2)].c_str());
      const double length = speed / 10.0;  // 100 ms a frame
      const double dx = length * std::cos(direction), dy = length * std::sin(direction);
      if (r == 2) {  // the first scene has no vectors
        EXPECT_EQ(speed, 0.0) << "cell " << k;
        continue;
      }
      EXPECT_NEAR(dx, kShiftX, 0.05) << "scene " << r - 1 << " cell " << k;
      EXPECT_NEAR(dy, kShiftY, 0.05) << "scene " << r - 1 << " cell " << k;
    }
  }

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
