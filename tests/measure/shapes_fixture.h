// shapes_fixture.h - the binary picture of the end-to-end measurement tests: four white
// shapes of uneven outline on black (their centroids fall between pixels), drawn by OpenCV,
// with OpenCV's own areas and centroids of its 8-connected components as the truth.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace e2e
