// SeparateParticles: overlapping discs cut in two (black and white backgrounds), a ring
// without a summit, gray plateaus, refusals, and the whole operation against a plain
// version of its rules (254-pass grassfire, per-level hole fills, flood-fill pruning and
// labelling, full growth sweeps) on random particle fields of every format.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "engine/separate.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/filter_reference.h"

namespace {

using namespace enginetest;

const int N4[4][2] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
const int N8[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};

struct Grid {
  int w, h;
  std::vector<int> v;
  int& at(int x, int y) { return v[size_t(y) * w + x]; }
  bool in(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
};

// Flood fill from (x, y) over pixels where pred holds, calling paint on each (visited once).
template <class Pred, class Paint>
void Flood(Grid& g, int x, int y, int conn, Pred pred, Paint paint) {
  std::vector<char> seen(g.v.size(), 0);
  std::deque<std::pair<int, int>> q;
  if (!pred(x, y)) return;
  q.push_back({x, y});
  seen[size_t(y) * g.w + x] = 1;
  while (!q.empty()) {
    auto [cx, cy] = q.front();
    q.pop_front();
    paint(cx, cy);
    for (int k = 0; k < conn; ++k) {
      const int u = cx + (conn == 8 ? N8[k][0] : N4[k][0]), t = cy + (conn == 8 ? N8[k][1] : N4[k][1]);
      if (!g.in(u, t) || seen[size_t(t) * g.w + u] || !pred(u, t)) continue;
      seen[size_t(t) * g.w + u] = 1;
      q.push_back({u, t});
    }
  }
}

// ---- the plain rules ---------------------------------------------------------------------

// The seed search step by step, rule by rule: per level, the background reachable from
// the border (c2) is marked, what is left over are the holes; each hole is filled and then
// erased from its first pixel together with everything connected to it (c1).  That erase
// also takes any component of the same level lying inside the hole, though it encloses
// nothing itself (a particle in the hole of a ring-shaped one loses its summit).
void LiteralSeeds(Grid& A, int c1, int c2, int maxLevel, Grid& T) {
  const int w = A.w, h = A.h;
  for (int L = 1; L <= maxLevel; ++L) {
    Grid P{w, h, std::vector<int>(A.v.size(), 0)};
    for (size_t i = 0; i < A.v.size(); ++i) P.v[i] = A.v[i] == L ? 255 : 0;
    Grid Q = P;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((x == 0 || y == 0 || x == w - 1 || y == h - 1) && Q.at(x, y) == 0)
          Flood(Q, x, y, c2, [&](int u, int t) { return Q.at(u, t) == 0; }, [&](int u, int t) { Q.at(u, t) = 255; });
    for (int& v : Q.v) v = 255 - v;
    std::vector<std::pair<int, int>> holes;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (Q.at(x, y) == 255) {
          holes.push_back({x, y});
          Flood(Q, x, y, c2, [&](int u, int t) { return Q.at(u, t) == 255; }, [&](int u, int t) { Q.at(u, t) = 0; });
        }
    for (auto [x, y] : holes)
      Flood(P, x, y, c2, [&](int u, int t) { return P.at(u, t) == 0; }, [&](int u, int t) { P.at(u, t) = 255; });
    for (auto [x, y] : holes)
      Flood(P, x, y, c1, [&](int u, int t) { return P.at(u, t) != 0; }, [&](int u, int t) { P.at(u, t) = 0; });
    for (size_t i = 0; i < P.v.size(); ++i)
      if (P.v[i]) T.v[i] = 255;
  }
}

int32_t RefSeparate(CImgBuff* img, int32_t grayMode, int32_t conn, int32_t valueFlag, const RoiRect* roi,
                    bool literalSeeds = false, Grid* levelsOut = nullptr, Grid* seedsOut = nullptr) {
  if (!IsValidFormat(img->Format()) || (conn != 4 && conn != 8)) return 0;
  RoiRect r{0, 0, img->Width() - 1, img->Height() - 1};
  if (roi) {
    r = *roi;
    if (r.x0 < 0 || r.y0 < 0 || r.x0 > r.x1 || r.y0 > r.y1 || r.x1 >= img->Width() || r.y1 >= img->Height())
      return 0;
  }
  CImgBuff crop;
  img->Crop(crop, r.x0, r.y0, r.x1, r.y1);
  crop.record->ConvertTo(1);
  const int w = crop.Width(), h = crop.Height();
  Grid A{w, h, std::vector<int>(size_t(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t v;
      crop.GetGray8(x, y, &v);
      A.at(x, y) = v;
    }
  int maxLevel = 0;
  if (!grayMode) {
    for (int& v : A.v) v = (valueFlag ? 255 - v : v) ? 255 : 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((x == 0 || y == 0 || x == w - 1 || y == h - 1) && A.at(x, y) == 255) A.at(x, y) = 1;
    for (int level = 1; level <= 254; ++level) {
      Grid B = A;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          if (A.at(x, y) != 255) continue;
          for (auto& d : N8)
            if (A.in(x + d[0], y + d[1]) && A.at(x + d[0], y + d[1]) == level - 1) {
              B.at(x, y) = level;
              break;
            }
        }
      A = B;
    }
    CImgBuff s;
    s.Allocate(w, h, 1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) s.SetGray8(x, y, uint8_t(A.at(x, y)));
    const int32_t ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    filterref::ConvolveInt(&s, 3, ones, 1, 1, nullptr);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t v;
        s.GetGray8(x, y, &v);
        A.at(x, y) = v;
      }
  }
  for (int v : A.v) maxLevel = std::max(maxLevel, v);
  if (!grayMode && maxLevel == 0) return 0;
  const int c1 = conn, c2 = conn == 4 ? 8 : 4;

  // Seeds: per level, the components (c1) that enclose nothing: no part of their complement
  // (c2) is cut off from the outside of the rectangle.  Checked inside each component's
  // bounding box grown by one pixel, whose outer ring is outside the component.
  Grid T{w, h, std::vector<int>(A.v.size(), 0)};
  Grid comp{w, h, std::vector<int>(A.v.size(), 0)};
  if (literalSeeds) LiteralSeeds(A, c1, c2, maxLevel, T);
  for (int y = 0; y < h && !literalSeeds; ++y)
    for (int x = 0; x < w; ++x) {
      const int L = A.at(x, y);
      if (L == 0 || comp.at(x, y)) continue;
      std::vector<std::pair<int, int>> px;
      Flood(A, x, y, c1, [&](int u, int t) { return A.at(u, t) == L && !comp.at(u, t); },
            [&](int u, int t) { comp.at(u, t) = 1; px.push_back({u, t}); });
      int bx0 = x, by0 = y, bx1 = x, by1 = y;
      for (auto [u, t] : px) bx0 = std::min(bx0, u), by0 = std::min(by0, t), bx1 = std::max(bx1, u), by1 = std::max(by1, t);
      Grid box{bx1 - bx0 + 3, by1 - by0 + 3, {}};
      box.v.assign(size_t(box.w) * box.h, 0);
      for (auto [u, t] : px) box.at(u - bx0 + 1, t - by0 + 1) = 1;  // 1 = the component
      Flood(box, 0, 0, c2, [&](int u, int t) { return box.at(u, t) == 0; }, [&](int u, int t) { box.at(u, t) = 2; });
      bool encloses = false;
      for (int v : box.v) encloses = encloses || v == 0;
      if (!encloses)
        for (auto [u, t] : px) T.at(u, t) = 255;
    }
  if (levelsOut) *levelsOut = A;
  if (seedsOut) *seedsOut = T;
  // Pruning over every row and column.
  Grid K = A;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!T.at(x, y) || !K.at(x, y)) continue;
      const int v = K.at(x, y);
      bool higher = false;
      for (int k = 0; k < c1; ++k) {
        const int u = x + (c1 == 8 ? N8[k][0] : N4[k][0]), t = y + (c1 == 8 ? N8[k][1] : N4[k][1]);
        if (A.in(u, t) && A.at(u, t) > v) higher = true;
      }
      if (higher) Flood(K, x, y, c1, [&](int u, int t) { return K.at(u, t) == v; }, [&](int u, int t) { K.at(u, t) = 0; });
    }
  for (size_t i = 0; i < T.v.size(); ++i)
    if (T.v[i] && !K.v[i]) T.v[i] = 0;
  // Labels.
  Grid S{w, h, std::vector<int>(A.v.size(), 0)};
  Grid U = T;
  int label = 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!U.at(x, y)) continue;
      Flood(U, x, y, 8, [&](int u, int t) { return U.at(u, t) != 0; }, [&](int u, int t) { U.at(u, t) = 0; S.at(u, t) = label; });
      label = label == 255 ? 1 : label + 1;
    }
  // Growth: full synchronous sweeps per level.
  std::vector<std::pair<int, int>> order;
  if (conn == 8) for (auto& d : N8) order.push_back({d[0], d[1]});
  else for (auto& d : N4) order.push_back({d[0], d[1]});
  for (int L = (maxLevel == 0 ? 255 : maxLevel - 1); L >= 1; --L) {
    for (;;) {
      Grid G{w, h, std::vector<int>(A.v.size(), 0)};
      bool changed = false;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          if (A.at(x, y) != L || S.at(x, y)) continue;
          int found = 0;
          bool clash = false;
          for (auto [dx, dy] : order) {
            if (!S.in(x + dx, y + dy)) continue;
            const int l = S.at(x + dx, y + dy);
            if (!l) continue;
            if (found && l != found) { clash = true; break; }
            found = l;
          }
          if (found && !clash) G.at(x, y) = found;
        }
      for (size_t i = 0; i < G.v.size(); ++i)
        if (G.v[i]) S.v[i] = G.v[i], changed = true;
      if (!changed) break;
    }
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int a = S.at(x, y);
      if (!a) continue;
      for (auto [dx, dy] : order) {
        if (!S.in(x + dx, y + dy)) continue;
        const int n = S.at(x + dx, y + dy);
        if (n && n != a && n < a) { S.at(x, y) = 0; break; }
      }
    }
  if (conn == 8) {
    Grid G = S;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (G.at(x, y)) continue;
        int cand = 0, count = 0;
        for (auto& d : N4) {
          if (!G.in(x + d[0], y + d[1])) continue;
          const int l = G.at(x + d[0], y + d[1]);
          if (!l) continue;
          if (!cand) cand = l, count = 1;
          else if (l == cand) ++count;
          else break;
        }
        if (count == 3) S.at(x, y) = cand;
      }
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!S.at(x, y)) img->SetGray8(r.x0 + x, r.y0 + y, valueFlag ? 255 : 0);
  return 1;
}

// ---- pictures ------------------------------------------------------------------------------

void Disc(CImgBuff& img, double cx, double cy, double rad, uint8_t v) {
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad) img.SetGray8(x, y, v);
}

// 8-connected islands of pixels that differ from the background.
int Islands(const CImgBuff& img, uint8_t background) {
  Grid g{img.Width(), img.Height(), std::vector<int>(size_t(img.Width()) * img.Height())};
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      g.at(x, y) = v != background;
    }
  int n = 0;
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x)
      if (g.at(x, y)) {
        ++n;
        Flood(g, x, y, 8, [&](int u, int t) { return g.at(u, t) != 0; }, [&](int u, int t) { g.at(u, t) = 0; });
      }
  return n;
}

TEST(SeparateParticles, OverlappingDiscsComeApart) {
  for (int32_t conn : {4, 8}) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(60, 40, 1));
    Disc(img, 20, 20, 12, 255);
    Disc(img, 38, 20, 12, 255);
    ASSERT_EQ(1, Islands(img, 0));
    CImgBuff before;
    CopyPicture(before, img);
    ASSERT_EQ(1, SeparateParticles(&img, 0, conn, 0, nullptr));
    EXPECT_EQ(2, Islands(img, 0)) << conn;
    // Kept pixels keep their value; nothing becomes an object.
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) {
        uint8_t a, b;
        img.GetGray8(x, y, &a);
        before.GetGray8(x, y, &b);
        EXPECT_TRUE(a == b || a == 0);
      }
    // Dark objects on white: the same cut, painted white.
    CImgBuff dark;
    ASSERT_EQ(1, dark.Allocate(60, 40, 1));
    std::memset(dark.Pixels(), 255, 2400);
    Disc(dark, 20, 20, 12, 0);
    Disc(dark, 38, 20, 12, 0);
    ASSERT_EQ(1, SeparateParticles(&dark, 0, conn, 1, nullptr));
    const uint8_t* p = static_cast<const uint8_t*>(img.Pixels());
    const uint8_t* q = static_cast<const uint8_t*>(dark.Pixels());
    for (int i = 0; i < 2400; ++i) ASSERT_EQ(255 - p[i], q[i]) << i;
  }
}

TEST(SeparateParticles, RingWithoutSummitIsPaintedOut) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(40, 40, 1));
  Disc(img, 20, 20, 15, 255);
  Disc(img, 20, 20, 9, 0);
  ASSERT_EQ(1, SeparateParticles(&img, 0, 8, 0, nullptr));
  EXPECT_EQ(0, Islands(img, 0));
}

TEST(SeparateParticles, GrayModePlateausAndBlack) {
  // Two cones on black overlapping in a saddle: one blob before, two after.
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(40, 20, 1));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const double a = 200 - 10 * std::hypot(x - 12, y - 10), b = 200 - 10 * std::hypot(x - 27, y - 10);
      img.SetGray8(x, y, uint8_t(std::max(0.0, std::max(a, b))));
    }
  ASSERT_EQ(1, Islands(img, 0));
  for (int32_t conn : {4, 8}) {
    CImgBuff c;
    CopyPicture(c, img);
    ASSERT_EQ(1, SeparateParticles(&c, 1, conn, 0, nullptr));
    EXPECT_EQ(2, Islands(c, 0)) << conn;
  }
  CImgBuff black;
  ASSERT_EQ(1, black.Allocate(8, 8, 4));
  ASSERT_EQ(1, SeparateParticles(&black, 1, 8, 1, nullptr));
  uint8_t r, g, b;
  black.GetRGB8(3, 3, &r, &g, &b);
  EXPECT_EQ(255, r);  // painted with the white fill
  EXPECT_EQ(255, b);
}

TEST(SeparateParticles, Refusals) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(20, 20, 1));
  Disc(img, 10, 10, 5, 255);
  CImgBuff before;
  CopyPicture(before, img);
  const RoiRect swapped{5, 5, 2, 8}, past{0, 0, 20, 19}, negative{-1, 0, 5, 5};
  EXPECT_EQ(0, SeparateParticles(&img, 0, 8, 0, &swapped));
  EXPECT_EQ(0, SeparateParticles(&img, 0, 8, 0, &past));
  EXPECT_EQ(0, SeparateParticles(&img, 0, 8, 0, &negative));
  EXPECT_EQ(0, SeparateParticles(&img, 0, 5, 0, nullptr));
  const RoiRect empty{0, 0, 3, 3};  // all background
  EXPECT_EQ(0, SeparateParticles(&img, 0, 8, 0, &empty));
  EXPECT_TRUE(SamePixels(img, before));
  CImgBuff none;
  ASSERT_EQ(1, none.Allocate(9, 9, 2));
  EXPECT_EQ(0, SeparateParticles(&none, 0, 4, 0, nullptr));
  CImgBuff nothing;
  EXPECT_EQ(0, SeparateParticles(&nothing, 0, 4, 0, nullptr));
  EXPECT_EQ(0, SeparateParticles(nullptr, 0, 4, 0, nullptr));
}

// Running out of memory at any work plane is a refusal: 0 and the picture as it was; once
// every plane can be had, the result is the normal one.
TEST(SeparateParticles, NoMemoryLeavesThePictureUnchanged) {
  for (int32_t gray : {0, 1}) {
    // Two cones meeting in a saddle: their peaks are the summits in gray mode, their bases
    // two overlapping discs in binary mode.
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(60, 40, 4));
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) {
        const double a = 200 - 10 * std::hypot(x - 20, y - 20), b = 200 - 10 * std::hypot(x - 36, y - 20);
        img.SetGray8(x, y, uint8_t(std::max(0.0, std::max(a, b))));
      }
    CImgBuff before, expected;
    CopyPicture(before, img);
    CopyPicture(expected, img);
    ASSERT_EQ(1, SeparateParticles(&expected, gray, 8, 0, nullptr));
    ASSERT_FALSE(SamePixels(expected, before));
    int32_t n = 1;
    for (;; ++n) {
      ASSERT_LT(n, 100) << "the hook never lets the call through";
      CImgBuff work;
      CopyPicture(work, img);
      FailSeparateAllocationForTesting(n);
      const int32_t result = SeparateParticles(&work, gray, 8, 0, nullptr);
      FailSeparateAllocationForTesting(0);
      if (result) {
        EXPECT_TRUE(SamePixels(work, expected)) << FirstDifference(work, expected);
        break;
      }
      EXPECT_TRUE(SamePixels(work, before)) << "plane " << n << ": " << FirstDifference(work, before);
    }
    EXPECT_GT(n, 1) << "no plane was taken through the hook";
  }
}

// Fields of random discs (a few hundred particles, so labels wrap past 255), thin lines and
// holes, in every format; binary and gray mode; rectangles touching the edges.
TEST(SeparateParticles, MatchesThePlainRules) {
  std::mt19937 rng(8);
  for (int32_t f = 1; f <= 9; ++f) {
    for (int32_t conn : {4, 8}) {
      for (int32_t gray : {0, 1}) {
        const int32_t valueFlag = (f + conn + gray) % 2;
        CImgBuff g8;
        ASSERT_EQ(1, g8.Allocate(150, 110, 1));
        std::memset(g8.Pixels(), valueFlag ? 255 : 0, 150 * 110);
        for (int k = 0; k < 400; ++k) {
          const double rad = 1.0 + rng() % 60 / 10.0;
          Disc(g8, rng() % 150, rng() % 110, rad, valueFlag ? uint8_t(rng() % 60) : uint8_t(120 + rng() % 136));
        }
        for (int k = 0; k < 30; ++k) Disc(g8, rng() % 150, rng() % 110, 1.5, valueFlag ? 255 : 0);
        CImgBuff fast;
        ASSERT_EQ(1, fast.Allocate(150, 110, f));
        ASSERT_EQ(1, fast.Paste(g8, 0, 0));
        const RoiRect rects[] = {{0, 0, 149, 109}, {40, 0, 149, 70}, {3, 5, 90, 109}};
        for (const RoiRect& rc : rects) {
          CImgBuff a, b;
          CopyPicture(a, fast);
          CopyPicture(b, fast);
          const int32_t ra = SeparateParticles(&a, gray, conn, valueFlag, &rc);
          const int32_t rb = RefSeparate(&b, gray, conn, valueFlag, &rc);
          ASSERT_EQ(rb, ra);
          ASSERT_TRUE(SamePixels(a, b)) << "format " << f << " conn " << conn << " gray " << gray
                                        << " rect " << rc.x0 << "," << rc.y0 << ": " << FirstDifference(a, b);
        }
      }
    }
  }
}

}  // namespace

namespace {

// On pictures where no component of a level lies inside a hole of another component of the
// same level (touching discs, rings, cones), the summits are exactly those of the step-by-step
// seed search: the cut is the same pixel for pixel.
TEST(SeparateParticles, SameCutAsTheStepByStepSeedSearch) {
  struct Shape {
    double cx, cy, rad;
    uint8_t v;
  };
  struct Case {
    const char* name;
    std::vector<Shape> shapes;
    int32_t grayMode;
  } cases[] = {
      {"two overlapping discs", {{20, 20, 12, 255}, {38, 20, 12, 255}}, 0},
      {"three discs in a chain", {{12, 20, 9, 255}, {27, 22, 10, 255}, {44, 19, 8, 255}}, 0},
      {"small disc on a large one", {{22, 20, 14, 255}, {42, 20, 6, 255}}, 0},
      {"ring", {{30, 20, 15, 255}, {30, 20, 9, 0}}, 0},
      {"two rings touching", {{17, 20, 14, 255}, {17, 20, 6, 0}, {43, 20, 14, 255}, {43, 20, 6, 0}}, 0},
      {"gray discs", {{20, 20, 12, 90}, {38, 20, 12, 200}, {30, 20, 4, 250}}, 1},
  };
  for (const Case& c : cases) {
    for (int32_t conn : {4, 8}) {
      for (int32_t valueFlag : {0, 1}) {
        CImgBuff img;
        ASSERT_EQ(1, img.Allocate(60, 40, 1));
        std::memset(img.Pixels(), valueFlag && !c.grayMode ? 255 : 0, 2400);
        for (const Shape& s : c.shapes)
          Disc(img, s.cx, s.cy, s.rad, valueFlag && !c.grayMode ? uint8_t(255 - s.v) : s.v);
        CImgBuff a, b;
        CopyPicture(a, img);
        CopyPicture(b, img);
        ASSERT_EQ(RefSeparate(&b, c.grayMode, conn, valueFlag, nullptr, true),
                  SeparateParticles(&a, c.grayMode, conn, valueFlag, nullptr));
        EXPECT_TRUE(SamePixels(a, b)) << c.name << " conn " << conn << " valueFlag " << valueFlag
                                      << ": " << FirstDifference(a, b);
      }
    }
  }
  // Cones meeting in a saddle, in gray mode.
  CImgBuff cones;
  ASSERT_EQ(1, cones.Allocate(60, 40, 1));
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      const double a = 200 - 9 * std::hypot(x - 20, y - 20), b = 230 - 11 * std::hypot(x - 37, y - 18);
      cones.SetGray8(x, y, uint8_t(std::max(0.0, std::max(a, b))));
    }
  for (int32_t conn : {4, 8}) {
    CImgBuff a, b;
    CopyPicture(a, cones);
    CopyPicture(b, cones);
    ASSERT_EQ(1, SeparateParticles(&a, 1, conn, 0, nullptr));
    ASSERT_EQ(1, RefSeparate(&b, 1, conn, 0, nullptr, true));
    EXPECT_TRUE(SamePixels(a, b)) << "cones conn " << conn << ": " << FirstDifference(a, b);
  }
}

// A disc in the hole of a ring-shaped particle: the ring has no summit and is painted out,
// the disc keeps its own.  Erasing each filled hole together with everything connected to it
// would also erase the disc's summit wherever a level of the ring around it equals the
// disc's top level, and the disc would vanish with the ring.
TEST(SeparateParticles, ParticleInsideARingKeepsItsSummit) {
  for (int32_t conn : {4, 8}) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(40, 40, 1));
    Disc(img, 20, 20, 15, 255);
    Disc(img, 20, 20, 9, 0);
    Disc(img, 20, 20, 3, 255);
    CImgBuff literal;
    CopyPicture(literal, img);
    ASSERT_EQ(1, SeparateParticles(&img, 0, conn, 0, nullptr));
    EXPECT_EQ(1, Islands(img, 0)) << conn;
    uint8_t centre;
    img.GetGray8(20, 20, &centre);
    EXPECT_EQ(255, centre) << conn;
    // The picture does reach the case: the step-by-step erase loses the disc.
    ASSERT_EQ(1, RefSeparate(&literal, 0, conn, 0, nullptr, true));
    EXPECT_EQ(0, Islands(literal, 0)) << conn;
  }
}

}  // namespace
