// ameasure_opencv_test.cpp - auto measurement against OpenCV as an independent yardstick:
// random binary pictures (black and white background, connectivity 4 and 8, the island
// option on) measured by the filter and labelled by connectedComponentsWithStats; the
// islands matched by their first pixel must agree in count, area and centre of gravity, and
// with connectivity 8 in the outer contour's length and the number of holes (hole contours
// of findContours, and pieces of background labelled on their own; a nested island's hole is
// not its encloser's).  Built only where OpenCV is installed.
#include <gtest/gtest.h>

#ifdef QV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <map>
#include <random>
#include <utility>

#include "core/imgbuff.h"
#include "measure/ameasure.h"
#include "platform/window.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Component {
  int64_t area = 0;
  double sumX = 0, sumY = 0;
  int32_t firstX = -1, firstY = -1;
};

TEST(AutoMeasureOpenCv, RandomPicturesAgreeWithConnectedComponents) {
  (void)g_headless;
  std::mt19937 rng(20261211);
  int pictures = 0;
  for (int round = 0; round < 24; ++round) {
    const int32_t w = 24 + int32_t(rng() % 60), h = 16 + int32_t(rng() % 40);
    const uint32_t white = round & 1;
    const uint32_t conn = (round & 2) ? 8 : 4;
    const double density = 0.25 + 0.05 * (round % 6);
    SCOPED_TRACE("round " + std::to_string(round) + " " + std::to_string(w) + "x" +
                 std::to_string(h) + " conn " + std::to_string(conn) +
                 (white ? " white" : " black"));
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
    auto* p = static_cast<uint8_t*>(img.Pixels());
    cv::Mat mask(h, w, CV_8U);
    std::bernoulli_distribution object(density);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const bool on = object(rng);
        // Objects are the pixels that differ from the background: full white on black, and
        // full black on white, so that the brightness weights are all alike.
        p[y * w + x] = on == !white ? 255 : 0;
        mask.at<uint8_t>(y, x) = on ? 255 : 0;
      }
    CLfAmeasure f;
    f.m_island.store(1);
    f.Process(&img, 0, 0, 0, w, h, conn, white);
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, int(conn),
                                                   CV_32S);
    ASSERT_EQ(uint64_t(n - 1), f.m_recordCount);
    std::vector<Component> comps(static_cast<size_t>(n));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int l = labels.at<int32_t>(y, x);
        if (!l) continue;
        Component& c = comps[size_t(l)];
        if (c.firstX < 0) c.firstX = x, c.firstY = y;
        c.area++;
        c.sumX += x;
        c.sumY += y;
      }
    // With connectivity 8 the outer contours are the engine's too (OpenCV traces objects
    // 8-connected), and a hole is a 4-connected piece of background, as OpenCV sees it.
    std::map<int, double> outerLength;
    std::map<int, int> holes;
    if (conn == 8) {
      std::vector<std::vector<cv::Point>> contours;
      std::vector<cv::Vec4i> tree;
      cv::findContours(mask.clone(), contours, tree, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
      for (size_t i = 0; i < contours.size(); ++i) {
        if (tree[i][3] >= 0) {
          const cv::Point q = contours[size_t(tree[i][3])][0];
          holes[labels.at<int32_t>(q.y, q.x)]++;
        } else {
          const cv::Point q = contours[i][0];
          // arcLength sums in single precision: the steps are counted here instead.
          const std::vector<cv::Point>& k = contours[i];
          int64_t axial = 0, diagonal = 0;
          for (size_t j = 0; j < k.size(); ++j) {
            const cv::Point d = k[(j + 1) % k.size()] - k[j];
            (d.x && d.y ? diagonal : axial)++;
          }
          outerLength[labels.at<int32_t>(q.y, q.x)] =
              double(axial) + double(diagonal) * 1.41421356237309504880;
        }
      }
    }
    // Holes by labelling the background: a piece of it (4-connected beside 8-connected
    // objects, 8-connected beside 4-connected ones) that keeps off the picture's edge is a
    // hole of the island just above its first pixel.
    std::map<int, int> holesByLabel;
    {
      cv::Mat back = 255 - mask, backLabels;
      const int m = cv::connectedComponents(back, backLabels, conn == 8 ? 4 : 8, CV_32S);
      std::vector<int> touches(static_cast<size_t>(m), 0), above(static_cast<size_t>(m), -1);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const int b = backLabels.at<int32_t>(y, x);
          if (!b) continue;
          if (x == 0 || y == 0 || x == w - 1 || y == h - 1) touches[size_t(b)] = 1;
          if (above[size_t(b)] < 0 && y > 0) above[size_t(b)] = labels.at<int32_t>(y - 1, x);
        }
      for (int b = 1; b < m; ++b)
        if (!touches[size_t(b)]) holesByLabel[above[size_t(b)]]++;
    }
    int32_t lastY = -1, lastX = -1;
    for (uint64_t i = 0; i < f.m_recordCount; ++i) {
      // A copy: the record is packed, and the checks take their values by reference.
      const IslandRecord& packed = f.m_records[i];
      struct {
        int32_t firstX, firstY;
        double area, gravityX, gravityY, perimeter;
        uint32_t holes;
      } r{packed.firstX, packed.firstY, packed.area, packed.gravityX, packed.gravityY,
          packed.perimeter, packed.holes};
      ASSERT_TRUE(r.firstX >= 0 && r.firstX < w && r.firstY >= 0 && r.firstY < h) << i;
      // Raster order of first pixels.
      EXPECT_TRUE(r.firstY > lastY || (r.firstY == lastY && r.firstX > lastX)) << i;
      lastY = r.firstY;
      lastX = r.firstX;
      const int l = labels.at<int32_t>(r.firstY, r.firstX);
      ASSERT_NE(0, l) << "first pixel of record " << i << " is background";
      const Component& c = comps[size_t(l)];
      EXPECT_EQ(c.firstX, r.firstX) << i;
      EXPECT_EQ(c.firstY, r.firstY) << i;
      EXPECT_EQ(stats.at<int32_t>(l, cv::CC_STAT_TOP), r.firstY) << i;
      EXPECT_EQ(double(stats.at<int32_t>(l, cv::CC_STAT_AREA)), r.area) << i;
      EXPECT_NEAR(centroids.at<double>(l, 0), r.gravityX, 1e-9) << i;
      EXPECT_NEAR(centroids.at<double>(l, 1), r.gravityY, 1e-9) << i;
      if (conn == 8) {
        if (c.area > 1 && outerLength.count(l))
          EXPECT_NEAR(outerLength[l], r.perimeter, 1e-9) << i;
        EXPECT_EQ(uint32_t(holes.count(l) ? holes[l] : 0), r.holes) << i;
      }
      if (conn == 8)
        EXPECT_EQ(uint32_t(holesByLabel.count(l) ? holesByLabel[l] : 0), r.holes) << i;
    }
    ++pictures;
  }
  EXPECT_EQ(24, pictures);
}

}  // namespace

#else
TEST(AutoMeasureOpenCv, NeedsOpenCv) { GTEST_SKIP() << "OpenCV not installed"; }
#endif
