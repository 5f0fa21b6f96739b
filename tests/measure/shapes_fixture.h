// shapes_fixture.h - the binary picture of the end-to-end measurement tests: four white
// shapes of uneven outline on black (their centroids fall between pixels), drawn by OpenCV,
// with OpenCV's own areas and centroids of its 8-connected components as the truth; the
// program opened on it, and the auto measurement's crosses and table checked against it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/program_e2e.h"

namespace e2e {

struct Island {
  double area = 0, x = 0, y = 0;
};

// Writes the 320 x 120 picture to argv[1] (kept within 120 rows so that a tool window
// centred on the main window covers none of it) and prints one line per island: area,
// centroid x, centroid y.
inline const char kShapesProgram[] = R"(
import sys, numpy as np, cv2
img = np.zeros((120, 320), np.uint8)
cv2.ellipse(img, (50, 45), (22, 12), 30, 0, 360, 255, -1)
cv2.circle(img, (140, 62), 17, 255, -1)
cv2.ellipse(img, (228, 40), (30, 9), -20, 0, 360, 255, -1)
cv2.fillPoly(img, [np.array([[268, 66], [306, 78], [296, 111], [259, 99]], np.int32)], 255)
cv2.imwrite(sys.argv[1], img)
n, labels, stats, centroids = cv2.connectedComponentsWithStats(img, connectivity=8)
for i in range(1, n):
    print(int(stats[i, cv2.CC_STAT_AREA]), repr(float(centroids[i][0])), repr(float(centroids[i][1])))
)";

inline std::vector<Island> ParseIslands(const std::string& text) {
  std::vector<Island> out;
  std::istringstream in(text);
  Island i;
  while (in >> i.area >> i.x >> i.y) out.push_back(i);
  return out;
}

// The auto measurement table as saved (rows of cells): a column per island in any order,
// the first cell unitCell, rows 3 and 4 the centre of gravity and row 5 the area, equal to
// the truth times scale (lengths) and scale squared (areas) to the table's three decimals.
inline void ExpectIslandTable(const std::vector<std::vector<std::string>>& rows,
                              const std::vector<Island>& truth, double scale,
                              const std::string& unitCell) {
  ASSERT_EQ(rows.size(), 25u);
  ASSERT_EQ(rows[0].size(), truth.size() + 1);
  EXPECT_EQ(rows[0][0], unitCell);
  std::vector<bool> matched(truth.size(), false);
  for (size_t c = 1; c < rows[0].size(); ++c) {
    EXPECT_EQ(rows[0][c], "ID" + std::to_string(c));
    const double x = std::atof(rows[3][c].c_str()) / scale, y = std::atof(rows[4][c].c_str()) / scale;
    const double area = std::atof(rows[5][c].c_str()) / (scale * scale);
    size_t best = 0;
    for (size_t k = 1; k < truth.size(); ++k)
      if (std::hypot(truth[k].x - x, truth[k].y - y) < std::hypot(truth[best].x - x, truth[best].y - y))
        best = k;
    EXPECT_FALSE(matched[best]) << "two columns for one island";
    matched[best] = true;
    const double tolerance = 0.0006 / scale;
    EXPECT_NEAR(x, truth[best].x, tolerance) << "ID" << c;
    EXPECT_NEAR(y, truth[best].y, tolerance) << "ID" << c;
    EXPECT_NEAR(area, truth[best].area, 0.0006 / (scale * scale)) << "ID" << c;
  }
}

// The program on the shapes picture.
class ShapesTest : public ProgramTest {
 protected:
  using ProgramTest::ProgramTest;
#if QV_HAVE_XTEST
  // The picture and its truth made; the program started with it open, the background black
  // (the white shapes are the objects) and the view at 100%.
  void OpenShapes() {
    truth_ = ParseIslands(Python(kShapesProgram, "'" + dir_ + "/shapes.png'"));
    ASSERT_EQ(truth_.size(), 4u);
    ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
    ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/shapes.png"));
    ASSERT_NO_FATAL_FAILURE(BlackBackground());
    ASSERT_NO_FATAL_FAILURE(Zoom100());
  }
  // Measure > auto measurement: its window, and a cross on each island's centre of gravity
  // (cut to whole pixels), arms 3 pixels each way.
  void AutoMeasurement() {
    ASSERT_NO_FATAL_FAILURE(Menu(kMeasureMenuX, kItemY0, kMeasureMenuX + 20));
    ASSERT_NE(x_.WaitWindow(kAutoMeasurementTitle, pid_), 0u) << Stderr();
    for (const Island& i : truth_)
      EXPECT_TRUE(WaitCross(int(i.x), kViewTop + int(i.y), 3)) << "no cross at " << i.x << "," << i.y;
  }
#endif
  static constexpr const wchar_t* kAutoMeasurementTitle = L"\x81EA\x52D5\x8A08\x6E2C";  // 自動計測
  std::vector<Island> truth_;
};

}  // namespace e2e
