// Island extraction and measurement: the worked cases as a table, the hole rule for a nested
// island touching its encloser at a corner, record limits, coordinates and the y axis, and
// cross-checks on random pictures against a plain reference labelling written here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "engine/islands.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

constexpr double Pi = 3.14159265358979323846;

// '#' object (255), '.' background (0); other digits give gray value digit * 20 + 15.
void Picture(CImgBuff& img, const std::vector<std::string>& rows, int32_t format = 1) {
  ASSERT_EQ(1, img.Allocate(int32_t(rows[0].size()), int32_t(rows.size()), format));
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const char c = rows[y][x];
      const uint8_t v = c == '#' ? 255 : c == '.' ? 0 : uint8_t((c - '0') * 20 + 15);
      img.SetGray8(int32_t(x), int32_t(y), v);
    }
}

IslandParams Params(CImgBuff* img, int32_t conn, int32_t separate = 0, double scale = 1.0) {
  return IslandParams{img, 0, conn, separate, 0, scale, 0, nullptr, nullptr};
}

// ---- worked cases ----------------------------------------------------------------------------

struct WorkedCase {
  const char* name;
  std::vector<std::string> rows;
  int32_t conn, separate;
  double scale;
  int32_t islands;
  // First island's record
  double area, holeArea, totalArea;
  uint32_t holes;
  uint64_t nested, singlePixelIslands, singlePixelHoles;
};

TEST(ExtractIslands, WorkedCases) {
  const WorkedCase cases[] = {
      {"single pixel", {"...", ".#.", "..."}, 8, 0, 2.5, 1, 6.25, 0, 6.25, 0, 0, 1, 0},
      {"ring", {".....", ".###.", ".#.#.", ".###.", "....."}, 8, 0, 2.0, 1, 32, 4, 36, 1, 0, 0, 1},
      {"ring conn 4", {"###", "#.#", "###"}, 4, 0, 1.0, 1, 8, 1, 9, 1, 0, 0, 1},
      {"nested joined",
       {"#######", "#.....#", "#.###.#", "#.#.#.#", "#.###.#", "#.....#", "#######"},
       8, 0, 1.0, 1, 32, 17, 49, 2, 0, 0, 1},
      // The dot hole belongs to the nested ring alone.
      {"nested separate",
       {"#######", "#.....#", "#.###.#", "#.#.#.#", "#.###.#", "#.....#", "#######"},
       8, 1, 1.0, 2, 24, 16, 40, 1, 1, 0, 1},
      {"two holes", {"#####", "#.#.#", "#####"}, 8, 0, 1.0, 1, 13, 2, 15, 2, 0, 0, 2},
      {"corner-only hole in conn 4 leaks",
       {".###.", "#...#", "#...#", "#...#", ".###."}, 4, 0, 1.0, 4, 3, 0, 3, 0, 0, 0, 0},
  };
  for (const WorkedCase& c : cases) {
    SCOPED_TRACE(c.name);
    CImgBuff img;
    Picture(img, c.rows);
    IslandParams p = Params(&img, c.conn, c.separate, c.scale);
    EXPECT_EQ(c.islands, ExtractIslands(&p, nullptr, nullptr, 0, nullptr));
    IslandRecord recs[8];
    IslandTotals t;
    ASSERT_EQ(c.islands, ExtractIslands(&p, &t, recs, 8, nullptr));
    const IslandRecord& r = recs[0];
    EXPECT_DOUBLE_EQ(c.area, +(r.area));
    EXPECT_DOUBLE_EQ(c.holeArea, +(r.holeArea));
    EXPECT_DOUBLE_EQ(c.totalArea, +(r.totalArea));
    EXPECT_EQ(c.holes, +(r.holes));
    EXPECT_EQ(0u, +(r.reserved));
    EXPECT_EQ(uint64_t(c.islands), +(t.islands));
    EXPECT_EQ(c.nested, +(t.nestedIslands));
    EXPECT_EQ(c.singlePixelIslands, +(t.singlePixelIslands));
    EXPECT_EQ(c.singlePixelHoles, +(t.singlePixelHoles));
  }
}

TEST(ExtractIslands, SinglePixelMetrics) {
  CImgBuff img;
  Picture(img, {"....", "..#.", "...."});
  for (double scale : {1.0, 0.25, 3.0}) {
    IslandParams p = Params(&img, 8, 0, scale);
    IslandRecord r;
    IslandTotals t;
    ASSERT_EQ(1, ExtractIslands(&p, &t, &r, 1, nullptr));
    EXPECT_EQ(2, +(r.firstX));
    EXPECT_EQ(1, +(r.firstY));
    EXPECT_DOUBLE_EQ(2 * scale, +(r.contourX));
    EXPECT_DOUBLE_EQ(1 * scale, +(r.contourY));
    EXPECT_DOUBLE_EQ(2 * scale, +(r.gravityX));
    EXPECT_DOUBLE_EQ(scale, +(r.perimeter));
    EXPECT_DOUBLE_EQ(0.0, +(r.maxRadius));
    EXPECT_DOUBLE_EQ(0.0, +(r.minRadius));
    EXPECT_DOUBLE_EQ(0.0, +(r.averageRadius));
    EXPECT_DOUBLE_EQ(4 * Pi, +(r.circularity));
    EXPECT_DOUBLE_EQ(12.566370614359172, +(r.circularity));
    EXPECT_DOUBLE_EQ(1.0, +(r.longDiameter));
    EXPECT_DOUBLE_EQ(1.0, +(r.shortDiameter));
    EXPECT_EQ(0.0, +(r.inclination));
    EXPECT_EQ(255u, +(r.maxBrightness));
    EXPECT_EQ(255u, +(r.minBrightness));
    EXPECT_DOUBLE_EQ(255.0, +(r.totalBrightness));
    EXPECT_DOUBLE_EQ(scale * scale, +(r.area));
    const double d = 2 * std::sqrt(scale * scale / Pi);
    EXPECT_DOUBLE_EQ(d, +(r.equivalentDiameter));
    EXPECT_DOUBLE_EQ(d * d * d * Pi / 6, +(r.sphereVolume));
    EXPECT_DOUBLE_EQ(scale / 2, +(r.lineLength));
    EXPECT_EQ(1u, +(t.singlePixelIslands));
    EXPECT_DOUBLE_EQ(4 * 3 * scale * scale, +(t.rectArea));
    EXPECT_EQ(1u, +(t.pixels));
  }
}

TEST(ExtractIslands, ScaleZeroGivesNoNaN) {
  CImgBuff img;
  Picture(img, {"....", ".##.", "...."});
  IslandParams p = Params(&img, 8, 0, 0.0);
  IslandRecord r;
  IslandTotals t;
  ASSERT_EQ(1, ExtractIslands(&p, &t, &r, 1, nullptr));
  EXPECT_EQ(0.0, +(r.perimeter));
  EXPECT_EQ(0.0, +(r.circularity));
}

// A bar: perimeter, radii and the rotated box; its long side lies along x (inclination 0) or
// along y (pi / 2); a diagonal's inclination flips sign with the y axis.
TEST(ExtractIslands, ShapeMeasures) {
  CImgBuff img;
  Picture(img, {"..........", ".######...", ".######...", "..........", "..........",
                "........#.", "........#.", "........#.", "........#.", ".........."});
  IslandParams p = Params(&img, 8);
  IslandRecord r[2];
  ASSERT_EQ(2, ExtractIslands(&p, nullptr, r, 2, nullptr));
  EXPECT_DOUBLE_EQ(12.0, +(r[0].perimeter));  // 5 right, 1 down, 5 left, 1 up
  EXPECT_DOUBLE_EQ(6.0, +(r[0].longDiameter));
  EXPECT_DOUBLE_EQ(2.0, +(r[0].shortDiameter));
  EXPECT_DOUBLE_EQ(0.0, +(r[0].inclination));
  EXPECT_DOUBLE_EQ(3.5, +(r[0].contourX));
  EXPECT_DOUBLE_EQ(1.5, +(r[0].contourY));
  EXPECT_DOUBLE_EQ(4.0, +(r[1].longDiameter));
  EXPECT_DOUBLE_EQ(1.0, +(r[1].shortDiameter));
  EXPECT_DOUBLE_EQ(Pi / 2, +(r[1].inclination));
  EXPECT_DOUBLE_EQ(6.0, +(r[1].perimeter));  // down 3 and back up 3
  EXPECT_DOUBLE_EQ(1.5, +(r[1].maxRadius));
  EXPECT_DOUBLE_EQ(0.5, +(r[1].minRadius));

  CImgBuff diag;
  Picture(diag, {"#.....", ".#....", "..#...", "...#..", "....#.", ".....#"});
  for (int32_t yAxis : {0, -1}) {
    IslandParams q = Params(&diag, 8);
    q.yAxis = yAxis;
    IslandRecord d;
    ASSERT_EQ(1, ExtractIslands(&q, nullptr, &d, 1, nullptr));
    EXPECT_NEAR(yAxis == -1 ? -Pi / 4 : Pi / 4, +(d.inclination), 1e-12);
    EXPECT_NEAR(1.0, +(d.shortDiameter), 1e-9);
    EXPECT_NEAR(5 * std::sqrt(2.0) + 1, +(d.longDiameter), 1e-9);
    EXPECT_NEAR(10 * std::sqrt(2.0), +(d.perimeter), 1e-9);
  }
}

// conn 4, nested islands kept apart: the nested bar touches the enclosing island only at its
// corners, and the hole right of the bar has the bar, not the island, on its left.  It is
// still a hole of the enclosing island.
TEST(ExtractIslands, HoleLeftOfANestedIslandTouchingAtACorner) {
  CImgBuff img;
  Picture(img, {"#######", "#..####", "#.#.###", "#.#.###", "#.#.###", "#..####", "#######"});
  for (int32_t separate : {1, 0}) {
    SCOPED_TRACE(separate);
    IslandParams p = Params(&img, 4, separate);
    IslandRecord r[2];
    IslandTotals t;
    const int32_t n = ExtractIslands(&p, &t, r, 2, nullptr);
    ASSERT_EQ(separate ? 2 : 1, n);
    EXPECT_EQ(2u, +(r[0].holes));
    EXPECT_DOUBLE_EQ(10.0, +(r[0].holeArea));  // 7 pixels left of the bar, 3 right of it
    EXPECT_EQ(separate ? 1u : 0u, +(t.nestedIslands));
    EXPECT_DOUBLE_EQ(separate ? 36.0 : 39.0, +(r[0].area));
    if (separate) {
      EXPECT_DOUBLE_EQ(3.0, +(r[1].area));
      EXPECT_EQ(0u, +(r[1].holes));
    }
  }
}

TEST(ExtractIslands, WhiteBackgroundAndWeights) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(4, 1, 1));
  const uint8_t v[4] = {255, 0, 200, 255};
  for (int x = 0; x < 4; ++x) img.SetGray8(x, 0, v[x]);
  IslandParams p = Params(&img, 8);
  p.valueFlag = 1;
  IslandRecord r;
  ASSERT_EQ(1, ExtractIslands(&p, nullptr, &r, 1, nullptr));
  EXPECT_DOUBLE_EQ(2.0, +(r.area));
  EXPECT_EQ(200u, +(r.maxBrightness));
  EXPECT_EQ(0u, +(r.minBrightness));
  EXPECT_DOUBLE_EQ(100.0, +(r.averageBrightness));
  // Weights 255 at x = 1 and 55 at x = 2.
  EXPECT_DOUBLE_EQ((255.0 * 1 + 55.0 * 2) / 310.0, +(r.gravityX));
  p.unweighted = 1;
  ASSERT_EQ(1, ExtractIslands(&p, nullptr, &r, 1, nullptr));
  EXPECT_DOUBLE_EQ(1.5, +(r.gravityX));
}

TEST(ExtractIslands, MaxRecordsProgressAndCoordinates) {
  CImgBuff img;
  Picture(img, {"#.#.#", ".....", "#...#"});
  IslandParams p = Params(&img, 8);
  IslandRecord r[5];
  std::memset(r, 0xAB, sizeof(r));
  ASSERT_EQ(3, ExtractIslands(&p, nullptr, r, 3, nullptr));
  EXPECT_EQ(0, +(r[0].firstX));
  EXPECT_EQ(2, +(r[1].firstX));
  EXPECT_EQ(4, +(r[2].firstX));
  EXPECT_EQ(0xABu, reinterpret_cast<uint8_t*>(&r[3])[0]);  // untouched beyond maxRecords

  struct Stop {
    int calls = 0;
    static int32_t Fn(int32_t islands, int32_t maxRecords, void* user) {
      Stop* s = static_cast<Stop*>(user);
      ++s->calls;
      EXPECT_EQ(s->calls, islands);
      (void)maxRecords;
      return islands == 2;
    }
  };
  for (int32_t maxRecords : {0, 5}) {
    Stop s;
    p.progress = Stop::Fn;
    p.user = &s;
    EXPECT_EQ(2, ExtractIslands(&p, nullptr, r, maxRecords, nullptr)) << maxRecords;
    EXPECT_EQ(2, s.calls);
  }

  // The y axis: a 100-row picture, rectangle from row 10, island centred on rectangle row 5.
  CImgBuff tall;
  ASSERT_EQ(1, tall.Allocate(20, 100, 1));
  for (int y = 14; y <= 16; ++y)
    for (int x = 6; x <= 8; ++x) tall.SetGray8(x, y, 255);
  const RoiRect roi{3, 10, 19, 40};
  IslandParams q = Params(&tall, 8, 0, 0.5);
  q.yAxis = -1;
  IslandRecord one;
  IslandTotals t;
  ASSERT_EQ(1, ExtractIslands(&q, &t, &one, 1, &roi));
  EXPECT_EQ(6, +(one.firstX));
  EXPECT_EQ(14, +(one.firstY));
  EXPECT_DOUBLE_EQ((99 - 15) * 0.5, +(one.gravityY));
  EXPECT_DOUBLE_EQ((99 - 15) * 0.5, +(one.contourY));
  EXPECT_DOUBLE_EQ(7 * 0.5, +(one.gravityX));
  EXPECT_DOUBLE_EQ((17 * 0.5) * (31 * 0.5), +(t.rectArea));
  q.yAxis = 0;
  ASSERT_EQ(1, ExtractIslands(&q, &t, &one, 1, &roi));
  EXPECT_DOUBLE_EQ(15 * 0.5, +(one.gravityY));
}

TEST(ExtractIslands, RefusalsAndThePictureStaysAsItWas) {
  CImgBuff img, orig;
  FillRandom(img, 30, 20, 1, 3);
  CopyPicture(orig, img);
  IslandRecord r[4];
  IslandParams p = Params(&img, 8);
  EXPECT_EQ(-1, ExtractIslands(nullptr, nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(-1, ExtractIslands(&p, nullptr, nullptr, 3, nullptr));
  EXPECT_EQ(-1, ExtractIslands(&p, nullptr, r, -1, nullptr));
  IslandParams bad = Params(&img, 6);
  EXPECT_EQ(-1, ExtractIslands(&bad, nullptr, r, 4, nullptr));
  const RoiRect outside{30, 0, 40, 5};
  EXPECT_EQ(-1, ExtractIslands(&p, nullptr, r, 4, &outside));
  CImgBuff empty;
  IslandParams e = Params(&empty, 8);
  const RoiRect any{0, 0, 3, 3};
  EXPECT_EQ(-1, ExtractIslands(&e, nullptr, r, 4, &any));
  EXPECT_EQ(-1, ExtractIslands(&e, nullptr, nullptr, 0, nullptr));
  IslandParams none = Params(nullptr, 8);
  EXPECT_EQ(-1, ExtractIslands(&none, nullptr, nullptr, 0, nullptr));
  EXPECT_GT(ExtractIslands(&p, nullptr, r, 4, nullptr), 0);
  EXPECT_TRUE(SamePixels(img, orig));
}

// Typed rows against the accessor path: records byte for byte, every format.
TEST(ExtractIslands, EveryFormatMatchesTheAccessorPath) {
  for (int32_t f = 1; f <= 9; ++f) {
    for (int32_t flag = 0; flag <= 1; ++flag) {
      CImgBuff img;
      FillRandom(img, 61, 37, f, 900u + f);
      IslandParams p = Params(&img, 8, 1, 0.75);
      p.valueFlag = flag;
      std::vector<IslandRecord> a(400), b(400);
      IslandTotals ta, tb;
      const RoiRect roi{2, 3, 58, 33};
      SetEngineTypedKernels(1);
      const int32_t na = ExtractIslands(&p, &ta, a.data(), 400, &roi);
      SetEngineTypedKernels(0);
      const int32_t nb = ExtractIslands(&p, &tb, b.data(), 400, &roi);
      SetEngineTypedKernels(1);
      ASSERT_EQ(na, nb) << f;
      ASSERT_GT(na, 0);
      EXPECT_EQ(0, std::memcmp(a.data(), b.data(), sizeof(IslandRecord) * na)) << f << " " << flag;
      EXPECT_EQ(0, std::memcmp(&ta, &tb, sizeof(ta))) << f;
    }
  }
}

// ---- cross-check against a reference labelling ---------------------------------------------

struct RefIsland {
  int firstX, firstY;
  uint64_t pixels;  // own pixels plus joined ones
  double sumX, sumY;
};

// Plain labelling by breadth-first search, then, without separation, islands lying inside
// another island's hole (background not reachable from the island's box border with
// 4-connectivity) join it, in raster order of first pixels.
std::vector<RefIsland> ReferenceIslands(const std::vector<uint8_t>& on, int w, int h, int conn,
                                        bool separate) {
  std::vector<int> label(on.size(), -1);
  std::vector<std::vector<int>> members;
  for (int i = 0; i < w * h; ++i) {
    if (!on[i] || label[i] >= 0) continue;
    const int id = int(members.size());
    members.emplace_back();
    std::deque<int> q{i};
    label[i] = id;
    while (!q.empty()) {
      const int c = q.front();
      q.pop_front();
      members[id].push_back(c);
      const int x = c % w, y = c / w;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((!dx && !dy) || (conn == 4 && dx && dy)) continue;
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
          const int n = ny * w + nx;
          if (on[n] && label[n] < 0) {
            label[n] = id;
            q.push_back(n);
          }
        }
    }
  }
  std::vector<int> owner(members.size());
  for (size_t k = 0; k < owner.size(); ++k) owner[k] = int(k);
  std::vector<RefIsland> out;
  for (size_t k = 0; k < members.size(); ++k) {
    if (owner[k] != int(k)) continue;
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int c : members[k]) {
      x0 = std::min(x0, c % w), x1 = std::max(x1, c % w);
      y0 = std::min(y0, c / w), y1 = std::max(y1, c / w);
    }
    if (!separate) {
      const int bw = x1 - x0 + 1, bh = y1 - y0 + 1;
      std::vector<uint8_t> reached(size_t(bw) * bh, 0);
      std::deque<int> q;
      for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
          const bool border = x == 0 || y == 0 || x == bw - 1 || y == bh - 1;
          if (border && label[(y0 + y) * w + x0 + x] != int(k)) {
            reached[y * bw + x] = 1;
            q.push_back(y * bw + x);
          }
        }
      while (!q.empty()) {
        const int c = q.front();
        q.pop_front();
        const int x = c % bw, y = c / bw;
        const int nb[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (auto& n : nb) {
          if (n[0] < 0 || n[1] < 0 || n[0] >= bw || n[1] >= bh) continue;
          const int j = n[1] * bw + n[0];
          if (reached[j] || label[(y0 + n[1]) * w + x0 + n[0]] == int(k)) continue;
          reached[j] = 1;
          q.push_back(j);
        }
      }
      for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
          const int l = label[(y0 + y) * w + x0 + x];
          if (!reached[y * bw + x] && l >= 0 && l != int(k) && owner[l] == l) owner[l] = int(k);
        }
    }
    out.push_back(RefIsland{members[k][0] % w, members[k][0] / w, 0, 0, 0});
  }
  // Sums over every pixel of each surviving island.
  for (size_t k = 0; k < members.size(); ++k) {
    int top = int(k);
    while (owner[top] != top) top = owner[top];
    for (RefIsland& r : out) {
      if (r.firstY * w + r.firstX != members[top][0]) continue;
      for (int c : members[k]) {
        ++r.pixels;
        r.sumX += c % w;
        r.sumY += c / w;
      }
    }
  }
  return out;
}

TEST(ExtractIslands, RandomPicturesAgreeWithReferenceLabelling) {
  for (int k = 0; k < 24; ++k) {
    const int w = 50 + k * 5, h = 40 + (k % 5) * 7;
    const int conn = k % 2 ? 8 : 4;
    const bool separate = (k / 2) % 2;
    std::mt19937 rng(7000 + k);
    // Sparse blobs and rings over noise give nested islands as well as plain ones.
    std::vector<uint8_t> on(size_t(w) * h, 0);
    const int density = 20 + (k % 3) * 15;
    for (auto& b : on) b = int(rng() % 100) < density;
    for (int ring = 0; ring < 4; ++ring) {
      const int cx = 5 + int(rng() % (w - 10)), cy = 5 + int(rng() % (h - 10));
      for (int y = cy - 4; y <= cy + 4; ++y)
        for (int x = cx - 4; x <= cx + 4; ++x) {
          const int d = std::max(std::abs(x - cx), std::abs(y - cy));
          on[y * w + x] = d == 4 ? 1 : d == 3 ? 0 : on[y * w + x];
        }
    }
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(w, h, 1));
    for (int i = 0; i < w * h; ++i) static_cast<uint8_t*>(img.Pixels())[i] = on[i] ? 255 : 0;
    const std::vector<RefIsland> ref = ReferenceIslands(on, w, h, conn, separate);
    IslandParams p = Params(&img, conn, separate);
    p.unweighted = 1;
    SCOPED_TRACE("case " + std::to_string(k));
    EXPECT_EQ(int32_t(ref.size()), ExtractIslands(&p, nullptr, nullptr, 0, nullptr));
    std::vector<IslandRecord> rec(ref.size() + 1);
    IslandTotals t;
    ASSERT_EQ(int32_t(ref.size()), ExtractIslands(&p, &t, rec.data(), int32_t(rec.size()), nullptr));
    uint64_t pixels = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      ASSERT_EQ(+(ref[i].firstX), +(rec[i].firstX)) << i;
      ASSERT_EQ(+(ref[i].firstY), +(rec[i].firstY)) << i;
      EXPECT_DOUBLE_EQ(double(+(ref[i].pixels)), +(rec[i].area)) << i;
      EXPECT_NEAR(+(ref[i].sumX) / +(ref[i].pixels), +(rec[i].gravityX), 1e-9) << i;
      EXPECT_NEAR(+(ref[i].sumY) / +(ref[i].pixels), +(rec[i].gravityY), 1e-9) << i;
      pixels += ref[i].pixels;
    }
    EXPECT_EQ(pixels, +(t.pixels));
    EXPECT_EQ(uint64_t(ref.size()), +(t.islands));
  }
}

TEST(TraceContour, RegionsOfAMask) {
  BitMask* m = BitMaskCreate(4, 3);
  for (int x = 0; x < 3; ++x) BitMaskSetPixel(m, x, 1, 1);
  ScratchArray<ContourPoint> pts;
  EXPECT_EQ(4, TraceContour(m, 0, 1, 8, 0, &pts));  // right 2, back 2
  EXPECT_EQ(-1, TraceContour(m, 3, 1, 8, 0, &pts));
  EXPECT_EQ(-1, TraceContour(m, 0, 1, 5, 0, &pts));
  BitMaskSetPixel(m, 3, 0, 1);
  EXPECT_EQ(1, TraceContour(m, 3, 0, 4, 0, &pts));
  EXPECT_EQ(6, TraceContour(m, 0, 1, 8, 0, &pts));  // the corner pixel joins with conn 8
  BitMaskDestroy(m);
  double w, h;
  const ContourPoint line[2] = {{0, 0}, {3, 0}};
  EXPECT_DOUBLE_EQ(4.0, RotatedExtent(line, 2, 0, &w, &h));
  EXPECT_NEAR(4.0, RotatedExtent(line, 2, 90, &w, &h), 1e-12);
  EXPECT_NEAR(4.0, h, 1e-12);
}

}  // namespace

// ---- every quantity against the steps, followed one by one ---------------------------------

namespace {

// A plain 2-D bit picture for the reference.
struct Grid {
  int w = 0, h = 0;
  std::vector<uint8_t> v;
  Grid() = default;
  Grid(int w_, int h_) : w(w_), h(h_), v(size_t(w_) * h_, 0) {}
  int at(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h ? v[size_t(y) * w + x] : 0; }
  void set(int x, int y, int b) { v[size_t(y) * w + x] = uint8_t(b); }
};

// Fill over the positions of g whose bit equals `from`, writing `to`, 4- or 8-connected;
// calls each(x, y) per position.  Returns the count.
template <class Each>
uint64_t GridFill(Grid& g, int sx, int sy, int conn, int from, int to, Each each) {
  if (g.at(sx, sy) != from || sx < 0 || sy < 0 || sx >= g.w || sy >= g.h) return 0;
  std::deque<std::pair<int, int>> q{{sx, sy}};
  g.set(sx, sy, to);
  uint64_t n = 0;
  while (!q.empty()) {
    auto [x, y] = q.front();
    q.pop_front();
    ++n;
    each(x, y);
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        if ((!dx && !dy) || (conn == 4 && dx && dy)) continue;
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= g.w || ny >= g.h || g.at(nx, ny) != from) continue;
        g.set(nx, ny, to);
        q.push_back({nx, ny});
      }
  }
  return n;
}

const int CDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
const int CDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

std::vector<ContourPoint> RefContour(const Grid& g, int x, int y, int conn, bool inner) {
  std::vector<int> tries = inner ? (conn == 4 ? std::vector<int>{4, 6} : std::vector<int>{3, 4, 5, 6})
                                 : (conn == 4 ? std::vector<int>{2, 4} : std::vector<int>{2, 3, 4, 5});
  int first = -1;
  for (int t : tries)
    if (g.at(x + CDx[t], y + CDy[t])) {
      first = t;
      break;
    }
  std::vector<ContourPoint> pts;
  if (first < 0) return {{double(x), double(y)}};
  int cx = x, cy = y, d = first;
  for (;;) {
    pts.push_back({double(cx), double(cy)});
    cx += CDx[d];
    cy += CDy[d];
    int next = -1;
    for (int k = 0, nd = (d + 6) % 8; k < (conn == 4 ? 4 : 7); ++k, nd = (nd + (conn == 4 ? 2 : 1)) % 8)
      if (g.at(cx + CDx[nd], cy + CDy[nd])) {
        next = nd;
        break;
      }
    if (cx == x && cy == y && next == first) break;
    d = next;
  }
  return pts;
}

double RefClosedLength(const std::vector<ContourPoint>& p) {
  double len = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const ContourPoint& a = p[i];
    const ContourPoint& b = p[(i + 1) % p.size()];
    len += (a.x != b.x && a.y != b.y) ? std::sqrt(2.0) : 1.0;
  }
  return len;
}

double RefExtent(const std::vector<ContourPoint>& p, double deg, double* w, double* h) {
  const double t = deg * 0.017453292519943295;
  double umin = 1e300, umax = -1e300, vmin = 1e300, vmax = -1e300;
  for (const ContourPoint& q : p) {
    const double u = q.x * std::cos(t) - q.y * std::sin(t), v = q.x * std::sin(t) + q.y * std::cos(t);
    umin = std::min(umin, u), umax = std::max(umax, u), vmin = std::min(vmin, v), vmax = std::max(vmax, v);
  }
  *w = umax - umin + 1;
  *h = vmax - vmin + 1;
  return *w * *h;
}

void RefMinArea(const std::vector<ContourPoint>& p, double* shortSide, double* longSide, double* incl) {
  double area[30], w, h, bw = 0, bh = 0, best = 0;
  int bestDeg = 0;
  for (int k = 0; k < 30; ++k) {
    area[k] = RefExtent(p, 3 * k, &w, &h);
    if (k == 0 || area[k] < best) best = area[k], bestDeg = 3 * k, bw = w, bh = h;
  }
  auto refine = [&](int deg) {
    const double a = RefExtent(p, deg, &w, &h);
    if (a < best) best = a, bestDeg = deg, bw = w, bh = h;
  };
  const bool min0 = area[29] > area[0] && area[1] >= area[0];
  if (min0) refine(1), refine(2);
  for (int k = 1; k <= 29; ++k) {
    const bool m = k < 29 ? area[k - 1] > area[k] && area[k + 1] >= area[k]
                          : area[28] > area[29] && area[0] >= area[29];
    if (m) refine(3 * k - 2), refine(3 * k - 1), refine(3 * k + 1), refine(3 * k + 2);
  }
  if (min0) refine(88), refine(89);
  if (bw < bh) *shortSide = bw, *longSide = bh, *incl = Pi / 2 - bestDeg * Pi / 180;
  else *shortSide = bh, *longSide = bw, *incl = -bestDeg * Pi / 180;
}

// The extraction of an 8-bit gray picture step by step; records and totals.
int RefExtract(const CImgBuff& img, const IslandParams& p, RoiRect r, std::vector<IslandRecord>* out,
               IslandTotals* tot) {
  const int rw = r.x1 - r.x0 + 1, rh = r.y1 - r.y0 + 1, conn = p.conn;
  const uint8_t bg = p.valueFlag ? 255 : 0;
  Grid O(rw, rh);
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < rw; ++x) {
      uint8_t v;
      img.GetGray8(r.x0 + x, r.y0 + y, &v);
      O.set(x, y, v != bg);
    }
  Grid N = O;
  std::memset(tot, 0, sizeof(*tot));
  tot->rectArea = (rw * p.scale) * (rh * p.scale);
  int sx = 0, sy = 0;
  for (;;) {
    int fx = -1, fy = sy;
    for (int x = sx; fy < rh && fx < 0; ++fy, x = 0)
      for (; x < rw; ++x)
        if (O.at(x, fy)) {
          fx = x;
          break;
        }
    if (fx < 0) break;
    --fy;
    Grid T(rw, rh);
    int bx0 = fx, by0 = fy, bx1 = fx, by1 = fy;
    Grid Oc = O;
    GridFill(Oc, fx, fy, conn, 1, 0, [&](int x, int y) {
      T.set(x, y, 1);
      bx0 = std::min(bx0, x), by0 = std::min(by0, y), bx1 = std::max(bx1, x), by1 = std::max(by1, y);
    });
    const int bw = bx1 - bx0 + 1, bh = by1 - by0 + 1;
    Grid A(bw, bh), B(bw, bh);
    for (int y = 0; y < bh; ++y)
      for (int x = 0; x < bw; ++x) A.set(x, y, T.at(bx0 + x, by0 + y)), B.set(x, y, T.at(bx0 + x, by0 + y));
    auto none = [](int, int) {};
    for (int y = 0; y < bh; ++y) GridFill(B, 0, y, 4, 0, 1, none), GridFill(B, bw - 1, y, 4, 0, 1, none);
    for (int x = 0; x < bw; ++x) GridFill(B, x, 0, 4, 0, 1, none), GridFill(B, x, bh - 1, 4, 0, 1, none);
    uint64_t nested = 0;
    for (int y = 0; y < bh; ++y)
      for (int x = 0; x < bw; ++x) {
        if (B.at(x, y)) continue;
        const int o = O.at(bx0 + x, by0 + y);
        B.set(x, y, o);
        if (p.separateNested) {
          if (N.at(bx0 + x, by0 + y)) {
            ++nested;
            GridFill(N, bx0 + x, by0 + y, conn, 1, 0, none);
          }
        } else {
          A.set(x, y, o);
        }
      }
    for (int y = 0; y < bh; ++y)
      for (int x = 0; x < bw; ++x)
        if (A.at(x, y)) O.set(bx0 + x, by0 + y, 0);

    // Measuring.
    IslandRecord rec;
    IslandSummary s;
    std::memset(&rec, 0, sizeof(rec));
    std::memset(&s, 0, sizeof(s));
    s.nestedIslands = nested;
    int ax = -1, ay = -1;
    for (int y = 0; y < bh && ax < 0; ++y)
      for (int x = 0; x < bw; ++x)
        if (A.at(x, y)) {
          ax = x, ay = y;
          break;
        }
    rec.firstX = bx0 + ax;
    rec.firstY = by0 + ay;
    std::vector<ContourPoint> c = RefContour(A, ax, ay, conn, false);
    double mx = 0, my = 0;
    for (const ContourPoint& q : c) mx += q.x, my += q.y;
    const double cx = bx0 + mx / c.size(), cy = by0 + my / c.size();
    rec.contourX = cx;
    rec.contourY = cy;
    rec.perimeter = c.size() >= 2 ? p.scale * RefClosedLength(c) : p.scale;
    uint64_t count = 0;
    uint32_t vmax = 0, vmin = 4294967295u;
    double total = 0, sw = 0, swx = 0, swy = 0;
    for (int y = 0; y < bh; ++y)
      for (int x = 0; x < bw; ++x) {
        if (!A.at(x, y)) continue;
        uint8_t v;
        img.GetGray8(r.x0 + bx0 + x, r.y0 + by0 + y, &v);
        ++count;
        vmax = std::max<uint32_t>(vmax, v), vmin = std::min<uint32_t>(vmin, v);
        total += v;
        const double wgt = p.unweighted ? 1 : p.valueFlag ? 255 - v : v;
        sw += wgt, swx += wgt * (bx0 + x), swy += wgt * (by0 + y);
      }
    if (sw != 0) rec.gravityX = swx / sw, rec.gravityY = swy / sw;
    rec.maxBrightness = vmax;
    rec.minBrightness = vmin;
    rec.totalBrightness = total;
    if (count) rec.averageBrightness = total / count;
    if (count == 1) s.singlePixelIslands = 1;
    rec.area = count * p.scale * p.scale;
    // Holes: K = B with A added; a hole starts at a clear pixel whose left neighbour is set,
    // and is this island's when a pixel of A borders it (else it is a nested island's hole).
    Grid K(bw, bh);
    for (size_t i = 0; i < K.v.size(); ++i) K.v[i] = A.v[i] | B.v[i];
    uint32_t holes = 0;
    double holeArea = 0, holePerim = 0;
    for (int y = 0; y < bh; ++y)
      for (int x = 0; x < bw; ++x) {
        if (K.at(x, y) || !K.at(x - 1, y)) continue;
        std::vector<ContourPoint> hc = RefContour(K, x - 1, y, conn, true);
        bool bordersA = false;
        const uint64_t n = GridFill(K, x, y, 4, 0, 1, [&](int hx, int hy) {
          bordersA = bordersA || A.at(hx - 1, hy) || A.at(hx + 1, hy) || A.at(hx, hy - 1) ||
                     A.at(hx, hy + 1);
        });
        if (!bordersA) continue;
        ++holes;
        holePerim += hc.size() >= 2 ? p.scale * RefClosedLength(hc) : p.scale;
        holeArea += n * p.scale * p.scale;
        if (n == 1) ++s.singlePixelHoles;
      }
    rec.holes = holes;
    rec.holeArea = holeArea;
    rec.holePerimeter = holePerim;
    rec.totalArea = rec.area + holeArea;
    const double d = 2 * std::sqrt(rec.totalArea / Pi);
    rec.equivalentDiameter = d;
    rec.sphereVolume = (d / 2) * (d / 2) * Pi * d * 2 / 3;
    rec.lineLength = (rec.perimeter + holePerim) * 0.5;
    rec.circularity = 4 * Pi * rec.totalArea / (rec.perimeter * rec.perimeter);
    double rmax = 0, rmin = 0, rsum = 0;
    for (size_t i = 0; i < c.size(); ++i) {
      const double rr = p.scale * std::sqrt((c[i].x + bx0 - cx) * (c[i].x + bx0 - cx) +
                                            (c[i].y + by0 - cy) * (c[i].y + by0 - cy));
      if (i == 0 || rr > rmax) rmax = rr;
      if (i == 0 || rr < rmin) rmin = rr;
      rsum += rr;
    }
    rec.maxRadius = rmax;
    rec.minRadius = rmin;
    rec.averageRadius = rsum / c.size();
    std::vector<ContourPoint> turned = c;
    for (ContourPoint& q : turned) {
      q.x += bx0;
      q.y += by0;
      if (p.yAxis == -1) q.y = (rh - 1) - q.y;
    }
    double sh, lo, inc;
    RefMinArea(turned, &sh, &lo, &inc);
    rec.shortDiameter = sh;
    rec.longDiameter = lo;
    rec.inclination = inc;
    tot->islands += 1;
    tot->holes += holes;
    tot->nestedIslands += nested;
    tot->singlePixelIslands += s.singlePixelIslands;
    tot->singlePixelHoles += s.singlePixelHoles;
    tot->area += rec.area;
    tot->holeArea += holeArea;
    tot->maxBrightness += rec.maxBrightness;
    tot->minBrightness += rec.minBrightness;
    tot->totalBrightness += rec.totalBrightness;
    tot->averageBrightness += rec.averageBrightness;
    tot->pixels += count;
    out->push_back(rec);
    sx = bx0 + 1;
    sy = by0;
  }
  const double H = img.Height();
  for (IslandRecord& o : *out) {
    o.firstX += r.x0, o.firstY += r.y0;
    o.contourX += r.x0, o.contourY += r.y0, o.gravityX += r.x0, o.gravityY += r.y0;
    if (p.yAxis == -1) o.contourY = (H - 1) - o.contourY, o.gravityY = (H - 1) - o.gravityY;
    o.contourX *= p.scale, o.contourY *= p.scale, o.gravityX *= p.scale, o.gravityY *= p.scale;
  }
  return int(out->size());
}

void ExpectSameRecord(const IslandRecord& a, const IslandRecord& b, const std::string& what) {
  auto near = [&](double x, double y, const char* name) {
    EXPECT_NEAR(x, y, 1e-9 * std::max(1.0, std::fabs(x))) << what << " " << name;
  };
  EXPECT_EQ(0u, +(b.reserved)) << what;
  EXPECT_EQ(+(a.firstX), +(b.firstX)) << what;
  EXPECT_EQ(+(a.firstY), +(b.firstY)) << what;
  near(a.contourX, b.contourX, "contour x");
  near(a.contourY, b.contourY, "contour y");
  near(a.gravityX, b.gravityX, "gravity x");
  near(a.gravityY, b.gravityY, "gravity y");
  near(a.area, b.area, "area");
  EXPECT_EQ(+(a.holes), +(b.holes)) << what;
  near(a.holeArea, b.holeArea, "hole area");
  near(a.totalArea, b.totalArea, "total area");
  near(a.perimeter, b.perimeter, "perimeter");
  near(a.holePerimeter, b.holePerimeter, "hole perimeter");
  EXPECT_EQ(+(a.maxBrightness), +(b.maxBrightness)) << what;
  EXPECT_EQ(+(a.minBrightness), +(b.minBrightness)) << what;
  near(a.totalBrightness, b.totalBrightness, "total brightness");
  near(a.averageBrightness, b.averageBrightness, "average brightness");
  near(a.lineLength, b.lineLength, "line length");
  near(a.circularity, b.circularity, "circularity");
  near(a.equivalentDiameter, b.equivalentDiameter, "equivalent diameter");
  near(a.sphereVolume, b.sphereVolume, "sphere volume");
  near(a.maxRadius, b.maxRadius, "maximum radius");
  near(a.minRadius, b.minRadius, "minimum radius");
  near(a.averageRadius, b.averageRadius, "average radius");
  near(a.longDiameter, b.longDiameter, "long diameter");
  near(a.shortDiameter, b.shortDiameter, "short diameter");
  near(a.inclination, b.inclination, "inclination");
}

}  // namespace

TEST(ExtractIslands, EveryQuantityFollowsTheSteps) {
  for (int k = 0; k < 32; ++k) {
    const int w = 45 + k * 3, h = 38 + (k % 4) * 5;
    const int conn = k % 2 ? 8 : 4;
    const int32_t separate = (k / 2) % 2, white = (k / 4) % 2, yAxis = (k / 8) % 2 ? -1 : 0;
    std::mt19937 rng(8100 + k);
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(w, h, 1));
    // Noise, rings with islands inside, bars; object grays vary for the weights.
    std::vector<uint8_t> on(size_t(w) * h, 0);
    for (auto& b : on) b = int(rng() % 100) < 18 + (k % 3) * 12;
    for (int ring = 0; ring < 5; ++ring) {
      const int rad = 3 + int(rng() % 4), cx = rad + int(rng() % (w - 2 * rad)),
                cy = rad + int(rng() % (h - 2 * rad));
      for (int y = cy - rad; y <= cy + rad; ++y)
        for (int x = cx - rad; x <= cx + rad; ++x) {
          const int d = std::max(std::abs(x - cx), std::abs(y - cy));
          on[size_t(y) * w + x] = d == rad ? 1 : d == rad - 1 ? 0 : on[size_t(y) * w + x];
        }
    }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t g = uint8_t(1 + rng() % 254);
        img.SetGray8(x, y, on[size_t(y) * w + x] ? (white ? uint8_t(255 - g) : g) : (white ? 255 : 0));
      }
    IslandParams p{&img, white, conn, separate, int32_t(k % 3 == 0), k % 5 == 0 ? 1.0 : 0.37 + k * 0.05,
                   yAxis, nullptr, nullptr};
    const RoiRect rects[2] = {{0, 0, w - 1, h - 1}, {3, 2, w - 5, h - 3}};
    for (const RoiRect& r : rects) {
      const std::string what = "case " + std::to_string(k) + " rect " + std::to_string(r.x0);
      std::vector<IslandRecord> ref;
      IslandTotals rt;
      const int n = RefExtract(img, p, r, &ref, &rt);
      ASSERT_EQ(n, ExtractIslands(&p, nullptr, nullptr, 0, &r)) << what;
      std::vector<IslandRecord> got(size_t(n) + 1);
      IslandTotals t;
      ASSERT_EQ(n, ExtractIslands(&p, &t, got.data(), n + 1, &r)) << what;
      for (int i = 0; i < n; ++i) ExpectSameRecord(ref[i], got[i], what + " island " + std::to_string(i));
      EXPECT_NEAR(rt.rectArea, +(t.rectArea), 1e-9 * rt.rectArea) << what;
      EXPECT_EQ(+(rt.islands), +(t.islands)) << what;
      EXPECT_EQ(+(rt.holes), +(t.holes)) << what;
      EXPECT_EQ(+(rt.nestedIslands), +(t.nestedIslands)) << what;
      EXPECT_EQ(+(rt.singlePixelIslands), +(t.singlePixelIslands)) << what;
      EXPECT_EQ(+(rt.singlePixelHoles), +(t.singlePixelHoles)) << what;
      EXPECT_NEAR(rt.area, +(t.area), 1e-9 * std::max(1.0, rt.area)) << what;
      EXPECT_NEAR(rt.holeArea, +(t.holeArea), 1e-9 * std::max(1.0, rt.holeArea)) << what;
      EXPECT_EQ(+(rt.maxBrightness), +(t.maxBrightness)) << what;
      EXPECT_EQ(+(rt.minBrightness), +(t.minBrightness)) << what;
      EXPECT_NEAR(rt.totalBrightness, +(t.totalBrightness), 1e-9 * std::max(1.0, rt.totalBrightness)) << what;
      EXPECT_NEAR(rt.averageBrightness, +(t.averageBrightness), 1e-9 * std::max(1.0, rt.averageBrightness)) << what;
      EXPECT_EQ(+(rt.pixels), +(t.pixels)) << what;
    }
  }
}
