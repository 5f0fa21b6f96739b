// Line and circle rasterisers: plotting order, coverage of every short line, the circle's
// extremes, meeting points and connectivity.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "engine/plot.h"

namespace {

typedef std::vector<std::pair<int32_t, int32_t>> Points;

int32_t Record(int32_t x, int32_t y, void* ctx) {
  static_cast<Points*>(ctx)->push_back({x, y});
  return 0;
}

Points Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  Points p;
  PlotLine(x0, y0, x1, y1, Record, &p);
  return p;
}

TEST(PlotLine, OrderFromBothEnds) {
  EXPECT_EQ((Points{{0, 0}, {4, 1}, {1, 0}, {3, 1}, {2, 1}, {2, 0}}), Line(0, 0, 4, 1));
  EXPECT_EQ((Points{{3, 3}, {3, 3}}), Line(3, 3, 3, 3));
}

TEST(PlotLine, WorkedLines) {
  struct Case {
    int32_t x0, y0, x1, y1;
    std::set<std::pair<int32_t, int32_t>> pixels;
  } cases[] = {
      {5, 3, 9, 3, {{5, 3}, {6, 3}, {7, 3}, {8, 3}, {9, 3}}},
      {9, 3, 5, 3, {{5, 3}, {6, 3}, {7, 3}, {8, 3}, {9, 3}}},
      {2, 0, 2, 4, {{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}}},
      {2, 4, 2, 0, {{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}}},
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {3, -3, 0, 0, {{0, 0}, {1, -1}, {2, -2}, {3, -3}}},
  };
  for (const Case& c : cases) {
    const Points p = Line(c.x0, c.y0, c.x1, c.y1);
    const std::set<std::pair<int32_t, int32_t>> got(p.begin(), p.end());
    EXPECT_EQ(c.pixels, got) << c.x0 << "," << c.y0 << " - " << c.x1 << "," << c.y1;
  }
}

// Every line with ends in -3..3: both ends plotted, every step of the major axis covered,
// each pixel less than a pixel from the ideal line (the meeting column may hold the
// pixels of both halves).
TEST(PlotLine, EveryShortLineCoversItsMajorAxis) {
  for (int32_t x0 = -3; x0 <= 3; ++x0)
    for (int32_t y0 = -3; y0 <= 3; ++y0)
      for (int32_t x1 = -3; x1 <= 3; ++x1)
        for (int32_t y1 = -3; y1 <= 3; ++y1) {
          const Points p = Line(x0, y0, x1, y1);
          const std::set<std::pair<int32_t, int32_t>> s(p.begin(), p.end());
          const bool xMajor = std::abs(x1 - x0) >= std::abs(y1 - y0);
          const int32_t lo = xMajor ? std::min(x0, x1) : std::min(y0, y1);
          const int32_t hi = xMajor ? std::max(x0, x1) : std::max(y0, y1);
          ASSERT_TRUE(s.count({x0, y0}) && s.count({x1, y1}));
          std::set<int32_t> major;
          for (auto [x, y] : s) {
            major.insert(xMajor ? x : y);
            // Distance along the minor axis from the ideal line, times the major extent.
            const int32_t dMaj = xMajor ? x1 - x0 : y1 - y0, dMin = xMajor ? y1 - y0 : x1 - x0;
            const int32_t u = xMajor ? x - x0 : y - y0, v = xMajor ? y - y0 : x - x0;
            if (dMaj != 0) {
              EXPECT_LT(std::abs(v * dMaj - u * dMin), std::abs(dMaj));
            }
          }
          ASSERT_EQ(size_t(hi - lo + 1), major.size())
              << x0 << "," << y0 << " - " << x1 << "," << y1;
        }
}

// Differences are formed in 64 bits: corners at the ends of the 32-bit range neither
// overflow nor wrap into a short line.
TEST(PlotLine, CornersAtTheEndsOfTheRange) {
  EXPECT_TRUE(Line(INT32_MIN, 0, INT32_MAX, 0).empty());
  EXPECT_TRUE(Line(0, INT32_MAX, 0, -1).empty());
  EXPECT_EQ((Points{{INT32_MAX - 2, INT32_MIN}, {INT32_MAX, INT32_MIN + 1},
                    {INT32_MAX - 1, INT32_MIN + 1}, {INT32_MAX - 1, INT32_MIN}}),
            Line(INT32_MAX - 2, INT32_MIN, INT32_MAX, INT32_MIN + 1));
}

TEST(PlotCircle, ExtremesMeetingPointsAndConnectivity) {
  Points p;
  EXPECT_EQ(1, PlotCircle(Record, &p));
  std::set<std::pair<int32_t, int32_t>> s(p.begin(), p.end());
  for (auto pt : Points{{255, 127}, {255, 128}, {0, 127}, {0, 128}, {127, 255}, {128, 255},
                        {127, 0}, {128, 0}, {218, 217}, {217, 218}})
    EXPECT_TRUE(s.count(pt)) << pt.first << "," << pt.second;
  for (auto [x, y] : s) {
    EXPECT_TRUE(x >= 0 && x <= 255 && y >= 0 && y <= 255) << x << "," << y;
    // 8-connected: every pixel has two neighbours on the outline.
    int32_t neighbours = 0;
    for (int32_t dy = -1; dy <= 1; ++dy)
      for (int32_t dx = -1; dx <= 1; ++dx)
        if ((dx || dy) && s.count({x + dx, y + dy})) ++neighbours;
    EXPECT_GE(neighbours, 2) << x << "," << y;
  }
  for (int32_t y = 0; y <= 255; ++y) {
    int32_t left = 0, right = 0;
    for (auto [x, yy] : s)
      if (yy == y) (x < 128 ? left : right) = 1;
    EXPECT_TRUE(left && right) << "row " << y;
  }
  // Symmetric about the centre between 127 and 128.
  for (auto [x, y] : s) EXPECT_TRUE(s.count({255 - x, y}) && s.count({y, x}));
  EXPECT_EQ(size_t(8 * 91), p.size());
}

TEST(PlotCircle, OctantRadiusFalls) {
  Points p;
  PlotCircleOctant(0, 0, 1, Record, &p);
  ASSERT_EQ(91u, p.size());
  EXPECT_EQ(std::make_pair(0, 128), p[0]);
  EXPECT_EQ(std::make_pair(45, 120), p[45]);
  EXPECT_EQ(std::make_pair(90, 91), p[90]);
}

}  // namespace
