// Small-island removal and window cut: the size rules, connectivity, the background setting
// on 16-bit pictures, edges of the rectangle, colour gray values, and removal against a
// reference labelling on random pictures.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "engine/small_islands.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

void Picture(CImgBuff& img, const std::vector<std::string>& rows) {
  ASSERT_EQ(1, img.Allocate(int32_t(rows[0].size()), int32_t(rows.size()), 1));
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x)
      img.SetGray8(int32_t(x), int32_t(y), rows[y][x] == '#' ? 255 : 0);
}

std::vector<std::string> Rows(const CImgBuff& img) {
  std::vector<std::string> out;
  for (int32_t y = 0; y < img.Height(); ++y) {
    std::string s;
    for (int32_t x = 0; x < img.Width(); ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      s += v ? '#' : '.';
    }
    out.push_back(s);
  }
  return out;
}

// Bars of 1 to 6 pixels and a block of 100 (10 x 10) and one of 99.
CImgBuff* SizesPicture() {
  static CImgBuff img;
  std::vector<std::string> rows(24, std::string(40, '.'));
  for (int n = 1; n <= 6; ++n)
    for (int x = 0; x < n; ++x) rows[2 * n][x] = '#';
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) rows[1 + y][15 + x] = '#';
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 11; ++x) rows[13 + y][15 + x] = '#';
  rows[13][15] = '.';
  rows[13][16] = '.';  // 9 x 11 - 2 = 97
  rows[12][30] = '#';
  rows[12][31] = '#';
  Picture(img, rows);
  return &img;
}

int CountObjects(const CImgBuff& img, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      n += v != 0;
    }
  return n;
}

TEST(RemoveSmallIslands, SizeRules) {
  struct Case {
    uint32_t minSize;
    int32_t maxSize;
    int bars;    // bars of 1..6 pixels left
    int big;     // 100-pixel block left (0/1)
    int other;   // 97-pixel block left
  } cases[] = {{5, 0, 1, 1, 1}, {0, 100, 6, 0, 1}, {0, 97, 6, 0, 0}, {2, 98, 4, 0, 1}};
  for (const Case& c : cases) {
    CImgBuff img;
    CImgBuff* src = SizesPicture();
    CopyPicture(img, *src);
    ASSERT_EQ(1, RemoveSmallIslands(&img, c.minSize, c.maxSize, 8, 0, nullptr));
    int bars = 0;
    for (int n = 1; n <= 6; ++n) bars += CountObjects(img, 0, 2 * n, 9, 2 * n) == n;
    EXPECT_EQ(c.bars, bars) << c.minSize << " " << c.maxSize;
    EXPECT_EQ(c.big * 100, CountObjects(img, 15, 1, 24, 10));
    EXPECT_EQ(c.other * 97, CountObjects(img, 15, 13, 25, 21));
  }
  // 0 and 0: nothing to do, even with a rectangle that would be refused.
  CImgBuff img;
  CopyPicture(img, *SizesPicture());
  const RoiRect bad{100, 100, 120, 120};
  EXPECT_EQ(1, RemoveSmallIslands(&img, 0, 0, 8, 0, &bad));
  EXPECT_EQ(0, RemoveSmallIslands(&img, 5, 0, 8, 0, &bad));
  EXPECT_EQ(0, RemoveSmallIslands(&img, 5, 0, 6, 0, nullptr));
  EXPECT_TRUE(SamePixels(img, *SizesPicture()));
}

TEST(RemoveSmallIslands, ConnectivityAndSixteenBitWhite) {
  CImgBuff img;
  Picture(img, {"....", ".#..", "..#.", "...."});
  CImgBuff four;
  CopyPicture(four, img);
  ASSERT_EQ(1, RemoveSmallIslands(&four, 1, 0, 4, 0, nullptr));
  EXPECT_EQ(0, CountObjects(four, 0, 0, 3, 3));  // two islands of one pixel
  ASSERT_EQ(1, RemoveSmallIslands(&img, 1, 0, 8, 0, nullptr));
  EXPECT_EQ(2, CountObjects(img, 0, 0, 3, 3));  // one island of two

  CImgBuff g16;
  ASSERT_EQ(1, g16.Allocate(5, 3, 2));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) g16.SetGray16(x, y, 65535);
  g16.SetGray16(1, 1, 0);
  g16.SetGray16(3, 1, 300);
  g16.SetGray16(4, 1, 300);
  ASSERT_EQ(1, RemoveSmallIslands(&g16, 1, 0, 4, 1, nullptr));
  uint16_t v;
  g16.GetGray16(1, 1, &v);
  EXPECT_EQ(65535, v);
  g16.GetGray16(3, 1, &v);
  EXPECT_EQ(300, v);
}

// Random pictures and rectangles: what is left is exactly the reference islands of the
// rectangle whose sizes pass.
TEST(RemoveSmallIslands, MatchesReferenceLabelling) {
  for (int k = 0; k < 12; ++k) {
    const int w = 70 + k * 9, h = 50 + k * 2, conn = k % 2 ? 8 : 4;
    std::mt19937 rng(40 + k);
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(w, h, 1));
    uint8_t* p = static_cast<uint8_t*>(img.Pixels());
    for (int i = 0; i < w * h; ++i) p[i] = int(rng() % 100) < 40 ? uint8_t(1 + rng() % 255) : 0;
    const RoiRect r{3, 2, w - 4, h - 5};
    std::vector<uint8_t> expect(p, p + w * h);
    std::vector<int> seen(size_t(w) * h, 0);
    for (int y = r.y0; y <= r.y1; ++y)
      for (int x = r.x0; x <= r.x1; ++x) {
        if (!p[y * w + x] || seen[y * w + x]) continue;
        std::vector<int> comp;
        std::deque<int> q{y * w + x};
        seen[y * w + x] = 1;
        while (!q.empty()) {
          const int c = q.front();
          q.pop_front();
          comp.push_back(c);
          for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
              if ((!dx && !dy) || (conn == 4 && dx && dy)) continue;
              const int nx = c % w + dx, ny = c / w + dy;
              if (nx < r.x0 || ny < r.y0 || nx > r.x1 || ny > r.y1) continue;
              const int n = ny * w + nx;
              if (p[n] && !seen[n]) {
                seen[n] = 1;
                q.push_back(n);
              }
            }
        }
        const size_t n = comp.size();
        if (n <= 3 || n >= 20)
          for (int c : comp) expect[c] = 0;
      }
    ASSERT_EQ(1, RemoveSmallIslands(&img, 3, 20, conn, 0, &r));
    EXPECT_EQ(expect, std::vector<uint8_t>(p, p + w * h)) << k;
  }
}

TEST(WindowCutClearBorder, EdgesAndRectangle) {
  CImgBuff img;
  Picture(img, {"........", ".###..##", ".#......", ".#...#..", "........", "...###.."});
  const RoiRect r{1, 1, 6, 5};
  CImgBuff a;
  CopyPicture(a, img);
  ASSERT_EQ(1, WindowCutClearBorder(&a, 1, 0, 0, 0, 8, 0, &r));
  // The L touches x0 = 1 and goes; the bar at the top right touches only y0 and the right
  // edge and stays (x = 7 is outside the rectangle anyway).
  EXPECT_EQ((std::vector<std::string>{"........", "......##", "........", ".....#..", "........",
                                      "...###.."}),
            Rows(a));
  CImgBuff b;
  CopyPicture(b, img);
  ASSERT_EQ(1, WindowCutClearBorder(&b, 0, 0, 1, 1, 4, 0, &r));
  // Right edge x1 = 6 clears the pixel (6, 1) but not (7, 1) outside; bottom clears the bar.
  EXPECT_EQ((std::vector<std::string>{"........", ".###...#", ".#......", ".#...#..", "........",
                                      "........"}),
            Rows(b));
  EXPECT_EQ(0, WindowCutClearBorder(&b, 1, 1, 1, 1, 5, 0, &r));
  const RoiRect outside{8, 0, 9, 3};
  EXPECT_EQ(0, WindowCutClearBorder(&b, 1, 1, 1, 1, 8, 0, &outside));
}

TEST(WindowCutClearBorder, ColourGrayValuesAndWhiteBackground) {
  CImgBuff rgb;
  ASSERT_EQ(1, rgb.Allocate(3, 1, 4));
  rgb.SetRGB8(0, 0, 10, 0, 0);  // gray 3: an object, cleared to black
  rgb.SetRGB8(1, 0, 1, 0, 0);   // gray 0: background, keeps its colour
  rgb.SetRGB8(2, 0, 10, 0, 0);
  ASSERT_EQ(1, WindowCutClearBorder(&rgb, 1, 0, 0, 0, 8, 0, nullptr));
  uint8_t r, g, b;
  rgb.GetRGB8(0, 0, &r, &g, &b);
  EXPECT_EQ(0, r + g + b);
  rgb.GetRGB8(1, 0, &r, &g, &b);
  EXPECT_EQ(1, r + 0);
  rgb.GetRGB8(2, 0, &r, &g, &b);
  EXPECT_EQ(10, r + 0);  // not connected through the background pixel

  CImgBuff w;
  ASSERT_EQ(1, w.Allocate(4, 2, 1));
  for (int x = 0; x < 4; ++x) w.SetGray8(x, 0, 255);
  for (int x = 0; x < 4; ++x) w.SetGray8(x, 1, 255);
  w.SetGray8(0, 1, 3);
  w.SetGray8(1, 1, 7);
  ASSERT_EQ(1, WindowCutClearBorder(&w, 0, 0, 0, 1, 4, 1, nullptr));
  uint8_t v;
  w.GetGray8(1, 1, &v);
  EXPECT_EQ(255, v);
}

}  // namespace
