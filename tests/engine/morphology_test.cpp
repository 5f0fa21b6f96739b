// Binary morphology: erosion and dilation against a direct per-pixel reference for the cross
// and the square, the worked shapes of every operation, the background setting and formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "engine/morphology.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

void Picture(CImgBuff& img, const std::vector<std::string>& rows, int32_t format = 1,
             int32_t white = 0) {
  ASSERT_EQ(1, img.Allocate(int32_t(rows[0].size()), int32_t(rows.size()), format));
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const bool obj = rows[y][x] == '#';
      img.SetGray8(int32_t(x), int32_t(y), uint8_t(obj != (white != 0) ? 255 : 0));
    }
}

std::vector<std::string> Rows(const CImgBuff& img, int32_t white = 0) {
  std::vector<std::string> out;
  for (int32_t y = 0; y < img.Height(); ++y) {
    std::string s;
    for (int32_t x = 0; x < img.Width(); ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      s += (v == (white ? 0 : 255)) ? '#' : (v == (white ? 255 : 0)) ? '.' : '?';
    }
    out.push_back(s);
  }
  return out;
}

// Direct reference: inside the rectangle, object when the pixel (erode: and every neighbour;
// dilate: or any neighbour) is an object; outside the rectangle counts as background.
std::vector<uint8_t> ReferenceMorph(const std::vector<uint8_t>& on, int w, int h, RoiRect r,
                                    int conn, bool erode) {
  std::vector<uint8_t> out = on;
  auto at = [&](int x, int y) -> int {
    if (x < r.x0 || x > r.x1 || y < r.y0 || y > r.y1) return 0;
    return on[y * w + x];
  };
  for (int y = r.y0; y <= r.y1; ++y)
    for (int x = r.x0; x <= r.x1; ++x) {
      int all = at(x, y), any = at(x, y);
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((!dx && !dy) || (conn == 4 && dx && dy)) continue;
          all &= at(x + dx, y + dy);
          any |= at(x + dx, y + dy);
        }
      out[y * w + x] = uint8_t(erode ? all : any);
    }
  (void)h;
  return out;
}

TEST(Morphology, ErodeAndDilateMatchTheDirectReference) {
  for (int k = 0; k < 24; ++k) {
    const int w = 37 + k * 11, h = 23 + k * 3;  // widths across word boundaries
    const int conn = k % 2 ? 8 : 4;
    const int32_t white = (k / 2) % 2;
    std::mt19937 rng(300 + k);
    std::vector<uint8_t> on(size_t(w) * h);
    for (auto& b : on) b = int(rng() % 100) < 35 + (k % 4) * 12;
    const RoiRect rects[3] = {{0, 0, w - 1, h - 1}, {3, 2, w - 5, h - 2}, {w - 33, 1, w - 1, h / 2}};
    for (const RoiRect& r : rects) {
      for (bool erode : {true, false}) {
        CImgBuff img;
        ASSERT_EQ(1, img.Allocate(w, h, 1));
        for (int i = 0; i < w * h; ++i)
          static_cast<uint8_t*>(img.Pixels())[i] = uint8_t(on[i] != white ? 255 : 0);
        if (erode) {
          BitMask* m = ImageRegionToBitMask(&img, white, r.x0, r.y0, r.x1, r.y1);
          ASSERT_NE(nullptr, m);
          ErodeStep(m, &img, conn, white, r.x0, r.y0, r.x1, r.y1);
          BitMaskDestroy(m);
        } else {
          ASSERT_EQ(1, DilateStep(&img, conn, white, &r));
        }
        const std::vector<uint8_t> ref = ReferenceMorph(on, w, h, r, conn, erode);
        for (int i = 0; i < w * h; ++i) {
          const uint8_t v = static_cast<uint8_t*>(img.Pixels())[i];
          ASSERT_EQ(ref[i] != white ? 255 : 0, v)
              << "case " << k << (erode ? " erode" : " dilate") << " at " << i % w << "," << i / w;
        }
      }
    }
  }
}

struct ShapeCase {
  const char* name;
  int op;  // 0 erode, 1 dilate, 2 fill holes, 3 outline, 4 thin, 5 exclusive dilation
  int conn;
  std::vector<std::string> in, out;
};

int32_t RunOp(int op, CImgBuff* img, int conn, int32_t white) {
  const int32_t w = img->Width(), h = img->Height();
  switch (op) {
    case 0: {
      BitMask* m = ImageRegionToBitMask(img, white, 0, 0, w - 1, h - 1);
      ErodeStep(m, img, conn, white, 0, 0, w - 1, h - 1);
      BitMaskDestroy(m);
      return 1;
    }
    case 1: return DilateStep(img, conn, white, nullptr);
    case 2: return FillHoles(img, conn, white, nullptr);
    case 3: return ExtractOutline(img, conn, white, nullptr);
    case 4: return Thin(img, conn, white, nullptr);
    default: return DilateExclusive(img, conn, white, 0, 0, w - 1, h - 1);
  }
}

TEST(Morphology, WorkedShapes) {
  const ShapeCase cases[] = {
      {"erode square conn 8", 0, 8, {".....", ".###.", ".###.", ".###.", "....."},
       {".....", ".....", "..#..", ".....", "....."}},
      {"erode square conn 4", 0, 4, {".....", ".###.", ".###.", ".###.", "....."},
       {".....", ".....", "..#..", ".....", "....."}},
      {"erode at the edge", 0, 8, {"###..", "###..", "###.."}, {".....", ".#...", "....."}},
      {"dilate pixel conn 8", 1, 8, {".....", ".....", "..#..", ".....", "....."},
       {".....", ".###.", ".###.", ".###.", "....."}},
      {"dilate pixel conn 4", 1, 4, {".....", ".....", "..#..", ".....", "....."},
       {".....", "..#..", ".###.", "..#..", "....."}},
      {"diagonal ring conn 8 is filled", 2, 8, {"..#..", ".#.#.", "#...#", ".#.#.", "..#.."},
       {"..#..", ".###.", "#####", ".###.", "..#.."}},
      {"diagonal ring conn 4 leaks", 2, 4, {"..#..", ".#.#.", "#...#", ".#.#.", "..#.."},
       {"..#..", ".#.#.", "#...#", ".#.#.", "..#.."}},
      {"outline of a square", 3, 8,
       {".......", ".#####.", ".#####.", ".#####.", ".#####.", ".#####.", "......."},
       {".......", ".#####.", ".#...#.", ".#...#.", ".#...#.", ".#####.", "......."}},
      {"thin a bar conn 8", 4, 8, {"............", ".##########.", ".##########.", ".##########.", "............"},
       {"............", "............", ".##########.", "............", "............"}},
      {"thin a bar conn 4", 4, 4, {"............", ".##########.", ".##########.", ".##########.", "............"},
       {"............", "............", ".##########.", "............", "............"}},
      {"thin a square", 4, 8, {".......", ".#####.", ".#####.", ".#####.", ".#####.", ".#####.", "......."},
       {".......", ".......", ".......", "..###..", ".......", ".......", "......."}},
      {"exclusive dilation keeps the gap", 5, 8, {".......", ".......", "..#.#..", ".......", "......."},
       {".......", ".##.##.", ".##.##.", ".##.##.", "......."}},
      {"exclusive dilation conn 4", 5, 4, {".......", ".......", ".#...#.", ".......", "......."},
       {".......", ".#...#.", "###.###", ".#...#.", "......."}},
  };
  for (const ShapeCase& c : cases) {
    for (int32_t white : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (white ? " white" : " black"));
      CImgBuff img;
      Picture(img, c.in, 1, white);
      ASSERT_EQ(1, RunOp(c.op, &img, c.conn, white));
      EXPECT_EQ(c.out, Rows(img, white));
    }
  }
}

TEST(Morphology, WhiskersFiveAgainstSix) {
  // A line with a spur of 6 pixels (column 7) and one of 5 (column 14), and a free segment
  // of 3 pixels.  The line's own ends run 7 and 9 pixels to the junctions: kept.
  std::vector<std::string> in(14, std::string(24, '.'));
  for (int y = 1; y <= 6; ++y) in[y][7] = '#';
  for (int y = 2; y <= 6; ++y) in[y][14] = '#';
  in[7] = std::string(24, '#');
  in[11] = ".....###................";
  std::vector<std::string> out = in;
  for (int y = 2; y <= 5; ++y) out[y][14] = '.';  // the 5-pixel spur loses its outer 4
  for (int32_t white : {0, 1}) {
    CImgBuff img;
    Picture(img, in, 1, white);
    ASSERT_EQ(1, ShaveWhiskers(&img, 5, 8, white, nullptr));
    EXPECT_EQ(out, Rows(img, white)) << white;
  }
  // maxLength 0 and negative shave nothing.
  for (int32_t len : {0, -3}) {
    CImgBuff img;
    Picture(img, in, 1, 0);
    ASSERT_EQ(1, ShaveWhiskers(&img, len, 8, 0, nullptr));
    EXPECT_EQ(in, Rows(img, 0));
  }
}

TEST(Morphology, ColourAndSixteenBitPictures) {
  // 16-bit gray with a white background: 65535 is background, objects are written as 0.
  CImgBuff g16;
  ASSERT_EQ(1, g16.Allocate(5, 5, 2));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) g16.SetGray16(x, y, 65535);
  g16.SetGray16(2, 2, 1234);
  ASSERT_EQ(1, DilateStep(&g16, 4, 1, nullptr));
  uint16_t v;
  g16.GetGray16(2, 1, &v);
  EXPECT_EQ(0, v);
  g16.GetGray16(2, 2, &v);
  EXPECT_EQ(1234, v);  // unchanged pixels keep their value
  g16.GetGray16(1, 1, &v);
  EXPECT_EQ(65535, v);
  // Colour with a black background: (0, 0, 1) is an object; its outline keeps it as white.
  CImgBuff rgb;
  ASSERT_EQ(1, rgb.Allocate(3, 3, 4));
  rgb.SetRGB8(1, 1, 0, 0, 1);
  ASSERT_EQ(1, ExtractOutline(&rgb, 8, 0, nullptr));
  uint8_t r, g, b;
  rgb.GetRGB8(1, 1, &r, &g, &b);
  EXPECT_EQ(255, r + 0);
  EXPECT_EQ(255, b + 0);
}

// Every operation, typed rows against the accessor path on random pictures of every format.
TEST(Morphology, TypedRowsMatchTheAccessorPath) {
  for (int32_t f = 1; f <= 9; ++f) {
    for (int op = 0; op <= 5; ++op) {
      ExpectTypedMatchesReference(f, "op " + std::to_string(op), [op](CImgBuff* img, const RoiRect* roi) {
        RoiRect r;
        if (!GetRoi(&r, img, roi)) return int32_t(0);
        switch (op) {
          case 0: {
            BitMask* m = ImageRegionToBitMask(img, 0, r.x0, r.y0, r.x1, r.y1);
            ErodeStep(m, img, 8, 0, r.x0, r.y0, r.x1, r.y1);
            BitMaskDestroy(m);
            return int32_t(1);
          }
          case 1: return DilateStep(img, 8, 1, roi);
          case 2: return FillHoles(img, 4, 0, roi);
          case 3: return ExtractOutline(img, 4, 1, roi);
          case 4: return Thin(img, 8, 0, roi);
          default: return DilateExclusive(img, 8, 0, r.x0, r.y0, r.x1, r.y1);
        }
      });
    }
  }
}

// ---- erosion, dilation and outline on gray pictures: word writes, bands of rows ------------

// Direct reference on raw gray samples: object = inside the rectangle and not background.
// op 0 erosion, 1 dilation, 2 outline; changed pixels get the written value, the others keep
// their own (an object of gray 77 stays 77 where erosion does not reach it).
template <class T>
std::vector<T> ReferenceGray(const T* in, int w, int h, RoiRect r, int op, int conn, T bg, T objV,
                             T eraseV) {
  std::vector<T> out(in, in + size_t(w) * h);
  auto obj = [&](int x, int y) -> int {
    if (x < r.x0 || x > r.x1 || y < r.y0 || y > r.y1) return 0;
    return in[size_t(y) * w + x] != bg;
  };
  for (int y = r.y0; y <= r.y1; ++y)
    for (int x = r.x0; x <= r.x1; ++x) {
      // The outline's interior takes the other neighbourhood.
      const int eight = op == 2 ? conn == 4 : conn == 8;
      int all = 1, any = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((!dx && !dy) || (!eight && dx && dy)) continue;
          all &= obj(x + dx, y + dy);
          any |= obj(x + dx, y + dy);
        }
      T& o = out[size_t(y) * w + x];
      if (op == 0 && obj(x, y) && !all) o = eraseV;
      if (op == 1 && !obj(x, y) && any) o = objV;
      if (op == 2 && obj(x, y)) o = all ? eraseV : objV;
    }
  return out;
}

// A gray picture of 8 or 16 bits: about `percent` in 100 pixels background, the others
// random grays (objects, unless a gray happens to equal the background).
void GrayPicture(CImgBuff& img, int w, int h, int32_t format, int32_t white, int percent,
                 uint32_t seed) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool bg = int(rng() % 100) < percent;
      const uint32_t v = bg ? (white ? 0xFFFFFFFFu : 0u) : rng();
      if (format == 1) RowPtr<uint8_t>(img.record, x, y)[0] = uint8_t(v);
      else RowPtr<uint16_t>(img.record, x, y)[0] = uint16_t(v);
    }
}

template <class T>
void ExpectGrayMorphMatches(int w, int h, int32_t format, RoiRect r, int op, int conn,
                            int32_t white, int percent, uint32_t seed) {
  CImgBuff img;
  GrayPicture(img, w, h, format, white, percent, seed);
  const T maxv = T(~T(0));
  const std::vector<T> ref = ReferenceGray<T>(static_cast<const T*>(img.Pixels()), w, h, r, op,
                                              conn, white ? maxv : T(0), white ? T(0) : maxv,
                                              white ? maxv : T(0));
  if (op == 0) {
    BitMask* m = ImageRegionToBitMask(&img, white, r.x0, r.y0, r.x1, r.y1);
    ASSERT_NE(nullptr, m);
    ErodeStep(m, &img, conn, white, r.x0, r.y0, r.x1, r.y1);
    BitMaskDestroy(m);
  } else {
    ASSERT_EQ(1, op == 1 ? DilateStep(&img, conn, white, &r) : ExtractOutline(&img, conn, white, &r));
  }
  const T* got = static_cast<const T*>(img.Pixels());
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(ref[i], got[i]) << "op " << op << " conn " << conn << " white " << white << " "
                              << w << "x" << h << " at " << i % w << "," << i / w;
}

// Rows of every length around the word and the four-word group, rectangles starting at odd
// columns, dense and sparse pictures; with the AVX2 row code and with the plain word code.
TEST(Morphology, GrayWordWritesMatchTheReference) {
  const int widths[] = {1, 2, 31, 32, 33, 95, 127, 128, 129, 161, 257, 300};
  for (int32_t avx2 : {1, 0}) {
    SetBitRowsAvx2(avx2);
    int k = 0;
    for (int w : widths) {
      const int h = 9 + w % 7;
      const RoiRect rects[2] = {{0, 0, w - 1, h - 1}, {w > 4 ? 3 : 0, 1, w > 8 ? w - 2 : w - 1, h - 3}};
      for (const RoiRect& r : rects)
        for (int op = 0; op <= 2; ++op, ++k) {
          SCOPED_TRACE("avx2 " + std::to_string(avx2));
          ExpectGrayMorphMatches<uint8_t>(w, h, 1, r, op, k % 2 ? 8 : 4, (k / 2) % 2,
                                          k % 3 == 0 ? 85 : 45, uint32_t(900 + k));
        }
    }
  }
  SetBitRowsAvx2(1);
}

// Pictures large enough to be cut into bands for the pool: each band reads a row past its
// ends, so a band that wrote its end rows early would change its neighbour's result.
TEST(Morphology, BandsOfLargePicturesMatchTheReference) {
  const int w16 = 1030, h16 = 1000;  // 16-bit gray: several bands
  const int w8 = 4100, h8 = 2050;    // 8-bit gray rows are cheap: bands only from here
  if (ActiveWorkerCount() > 1) {
    EXPECT_GT(BitPassBands(w16, h16, BitPassTyped), 1);
    EXPECT_GT(BitPassBands(w8, h8, BitPassGray8), 1);
  }
  int k = 0;
  for (int op = 0; op <= 2; ++op)
    for (int conn : {4, 8}) {
      ExpectGrayMorphMatches<uint16_t>(w16, h16, 2, RoiRect{0, 0, w16 - 1, h16 - 1}, op, conn,
                                       k % 2, 50, uint32_t(70 + k));
      ++k;
    }
  ExpectGrayMorphMatches<uint16_t>(w16, h16, 2, RoiRect{5, 3, w16 - 9, h16 - 2}, 2, 8, 1, 60, 80);
  ExpectGrayMorphMatches<uint8_t>(w8, h8, 1, RoiRect{0, 0, w8 - 1, h8 - 1}, 1, 8, 0, 50, 81);
  ExpectGrayMorphMatches<uint8_t>(w8, h8, 1, RoiRect{1, 0, w8 - 3, h8 - 1}, 2, 4, 1, 50, 82);
}

// Plain thinning: passes of four sub-iterations, each deciding every pixel from a copy of
// the object map made before it, until a pass deletes nothing.
template <class T>
std::vector<T> ReferenceThin(const T* in, int w, int h, int conn, T bg, T eraseV) {
  std::vector<T> out(in, in + size_t(w) * h);
  std::vector<uint8_t> on(size_t(w) * h);
  for (size_t i = 0; i < on.size(); ++i) on[i] = in[i] != bg;
  for (bool changed = true; changed;) {
    changed = false;
    for (int s = 0; s < 4; ++s) {
      const std::vector<uint8_t> before = on;
      auto at = [&](int x, int y) -> uint32_t {
        return x >= 0 && y >= 0 && x < w && y < h ? before[size_t(y) * w + x] : 0u;
      };
      const int bit = 1 << (conn == 8 ? 4 + s : s);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          if (!at(x, y)) continue;
          const uint32_t code = at(x - 1, y - 1) << 7 | at(x, y - 1) << 6 | at(x + 1, y - 1) << 5 |
                                at(x - 1, y) << 4 | at(x + 1, y) << 3 | at(x - 1, y + 1) << 2 |
                                at(x, y + 1) << 1 | at(x + 1, y + 1);
          if (ThinningFlags[code] & bit) {
            on[size_t(y) * w + x] = 0;
            out[size_t(y) * w + x] = eraseV;
            changed = true;
          }
        }
    }
  }
  return out;
}

// Thinning of blobs on pictures cut into bands and on one band, against the plain passes.
TEST(Morphology, ThinningInBandsMatchesThePlainPasses) {
  struct Case {
    int w, h;
    int32_t format;
    int conn;
    int32_t white;
  };
  // The 16-bit pictures are cut into several bands when the pool has workers.
  const Case cases[] = {
      {61, 45, 1, 8, 0}, {300, 37, 1, 4, 1}, {1030, 1000, 2, 8, 0}, {1030, 1000, 2, 4, 1}};
  for (const Case& c : cases) {
    CImgBuff img;
    ASSERT_EQ(1, img.Allocate(c.w, c.h, c.format));
    const uint32_t maxv = c.format == 1 ? 255u : 65535u, bg = c.white ? maxv : 0u;
    // Discs and bars of gray objects on the background, overlapping now and then.
    std::vector<uint32_t> v(size_t(c.w) * c.h, bg);
    std::mt19937 rng(uint32_t(c.w + c.conn + c.white));
    for (int k = 0; k < c.w * c.h / 400; ++k) {
      const int rad = 1 + int(rng() % 7), cx = int(rng() % c.w), cy = int(rng() % c.h);
      const int bar = k % 3 == 0;
      const uint32_t gray = 1 + rng() % (maxv - 1);
      for (int y = cy - rad; y <= cy + rad; ++y)
        for (int x = cx - rad * (1 + 2 * bar); x <= cx + rad * (1 + 2 * bar); ++x)
          if (x >= 0 && y >= 0 && x < c.w && y < c.h &&
              (bar || (x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad))
            v[size_t(y) * c.w + x] = gray;
    }
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        if (c.format == 1) RowPtr<uint8_t>(img.record, x, y)[0] = uint8_t(v[size_t(y) * c.w + x]);
        else RowPtr<uint16_t>(img.record, x, y)[0] = uint16_t(v[size_t(y) * c.w + x]);
      }
    // The plain passes on the starting picture.
    std::vector<uint32_t> ref(v.size());
    if (c.format == 1) {
      const std::vector<uint8_t> r8 = ReferenceThin<uint8_t>(
          static_cast<const uint8_t*>(img.Pixels()), c.w, c.h, c.conn, uint8_t(bg), uint8_t(bg));
      ref.assign(r8.begin(), r8.end());
    } else {
      const std::vector<uint16_t> r16 = ReferenceThin<uint16_t>(
          static_cast<const uint16_t*>(img.Pixels()), c.w, c.h, c.conn, uint16_t(bg), uint16_t(bg));
      ref.assign(r16.begin(), r16.end());
    }
    // With the AVX2 code lookup and with the plain one; on bands and on one band.
    for (int32_t avx2 : {1, 0}) {
      SetBitRowsAvx2(avx2);
      CImgBuff many, one;
      CopyPicture(many, img);
      CopyPicture(one, img);
      ASSERT_EQ(1, Thin(&many, c.conn, c.white, nullptr));
      const uint64_t workers = ActiveWorkerCount();
      ASSERT_EQ(1, SetWorkerCount(1));
      ASSERT_EQ(1, Thin(&one, c.conn, c.white, nullptr));
      ASSERT_EQ(1, SetWorkerCount(workers));
      EXPECT_TRUE(SamePixels(many, one)) << c.w << "x" << c.h << ": " << FirstDifference(many, one);
      for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
          const uint32_t got = c.format == 1 ? RowPtr<uint8_t>(many.record, x, y)[0]
                                             : RowPtr<uint16_t>(many.record, x, y)[0];
          ASSERT_EQ(ref[size_t(y) * c.w + x], got)
              << c.w << "x" << c.h << " avx2 " << avx2 << " at " << x << "," << y;
        }
    }
    SetBitRowsAvx2(1);
  }
}

TEST(Morphology, Refusals) {
  CImgBuff img, orig;
  FillRandom(img, 20, 10, 1, 4);
  CopyPicture(orig, img);
  const RoiRect outside{25, 0, 30, 5};
  EXPECT_EQ(0, DilateStep(&img, 6, 0, nullptr));
  EXPECT_EQ(0, FillHoles(&img, 0, 0, nullptr));
  EXPECT_EQ(0, ExtractOutline(&img, 4, 0, &outside));
  EXPECT_EQ(0, Thin(&img, 5, 0, nullptr));
  EXPECT_EQ(0, ShaveWhiskers(&img, 5, 3, 0, nullptr));
  EXPECT_EQ(0, DilateExclusive(&img, 8, 0, 0, 0, 20, 9));
  EXPECT_EQ(0, DilateExclusive(&img, 5, 0, 0, 0, 19, 9));  // objects there: the first fill refuses
  ErodeStep(nullptr, &img, 8, 0, 0, 0, 19, 9);
  BitMask* small = BitMaskCreate(3, 3);
  ErodeStep(small, &img, 8, 0, 0, 0, 19, 9);  // a mask of another size is ignored
  BitMaskDestroy(small);
  EXPECT_TRUE(SamePixels(img, orig));
  CImgBuff empty;
  const RoiRect any{0, 0, 3, 3};
  EXPECT_EQ(0, FillHoles(&empty, 8, 0, &any));
  EXPECT_EQ(0, ShaveWhiskers(&empty, 5, 8, 0, nullptr));
  EXPECT_EQ(0, DilateStep(&empty, 8, 0, &any));
}

}  // namespace

// ---- hole filling, exclusive dilation and thinning against literal references ---------------

namespace {

// Object map of a rectangle of an 8- or 16-bit gray picture (rectangle coordinates).
template <class T>
std::vector<uint8_t> ObjectMap(const CImgBuff& img, RoiRect r, T bg) {
  const int rw = r.x1 - r.x0 + 1, rh = r.y1 - r.y0 + 1;
  std::vector<uint8_t> m(size_t(rw) * rh);
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < rw; ++x)
      m[size_t(y) * rw + x] = RowPtr<T>(img.record, r.x0 + x, r.y0 + y)[0] != bg;
  return m;
}

// Breadth-first fill of the positions where want(x, y) holds, from (sx, sy), 4- or
// 8-connected, calling take(x, y) on each.
template <class Want, class Take>
void Fill(int rw, int rh, int sx, int sy, int conn, Want want, Take take) {
  if (!want(sx, sy)) return;
  std::deque<std::pair<int, int>> q{{sx, sy}};
  take(sx, sy);
  while (!q.empty()) {
    auto [x, y] = q.front();
    q.pop_front();
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        if ((!dx && !dy) || (conn == 4 && dx && dy)) continue;
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= rw || ny >= rh || !want(nx, ny)) continue;
        take(nx, ny);
        q.push_back({nx, ny});
      }
  }
}

// Hole filling as the steps say: fills with the other connectivity from every border
// position over clear mask bits set them; what stays clear becomes object.  Returns the
// positions to write (rectangle coordinates).
std::vector<uint8_t> ReferenceFillHoles(std::vector<uint8_t> m, int rw, int rh, int conn) {
  const int other = conn == 4 ? 8 : 4;
  auto want = [&](int x, int y) { return m[size_t(y) * rw + x] == 0; };
  auto take = [&](int x, int y) { m[size_t(y) * rw + x] = 1; };
  for (int y = 0; y < rh; ++y) {
    Fill(rw, rh, 0, y, other, want, take);
    Fill(rw, rh, rw - 1, y, other, want, take);
  }
  for (int x = 0; x < rw; ++x) {
    Fill(rw, rh, x, 0, other, want, take);
    Fill(rw, rh, x, rh - 1, other, want, take);
  }
  std::vector<uint8_t> write(m.size());
  for (size_t i = 0; i < m.size(); ++i) write[i] = m[i] == 0;
  return write;
}

// Exclusive dilation as the steps say: masks M, U, I, V, G, the island filled over M from
// each position still set, V a copy of U with the island filled away from the same seed.
std::vector<uint8_t> ReferenceDilateExclusive(std::vector<uint8_t> M, int rw, int rh, int conn) {
  std::vector<uint8_t> U = M, write(M.size(), 0);
  auto at = [&](const std::vector<uint8_t>& v, int x, int y) -> int {
    return x >= 0 && y >= 0 && x < rw && y < rh ? v[size_t(y) * rw + x] : 0;
  };
  auto anyNeighbour = [&](const std::vector<uint8_t>& v, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        if ((!dx && !dy) || (conn == 4 && dx && dy)) continue;
        if (at(v, x + dx, y + dy)) return true;
      }
    return false;
  };
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < rw; ++x) {
      if (!M[size_t(y) * rw + x]) continue;
      std::vector<uint8_t> I(M.size(), 0);
      int bx0 = x, by0 = y, bx1 = x, by1 = y;
      Fill(rw, rh, x, y, conn, [&](int px, int py) { return M[size_t(py) * rw + px] != 0; },
           [&](int px, int py) {
             M[size_t(py) * rw + px] = 0;
             I[size_t(py) * rw + px] = 1;
             bx0 = std::min(bx0, px), by0 = std::min(by0, py);
             bx1 = std::max(bx1, px), by1 = std::max(by1, py);
           });
      bx0 = std::max(bx0 - 1, 0), by0 = std::max(by0 - 1, 0);
      bx1 = std::min(bx1 + 1, rw - 1), by1 = std::min(by1 + 1, rh - 1);
      std::vector<uint8_t> V = U;
      Fill(rw, rh, x, y, conn, [&](int px, int py) { return V[size_t(py) * rw + px] != 0; },
           [&](int px, int py) { V[size_t(py) * rw + px] = 0; });
      std::vector<uint8_t> G(M.size(), 0);
      for (int py = by0; py <= by1; ++py)
        for (int px = bx0; px <= bx1; ++px)
          G[size_t(py) * rw + px] = !at(I, px, py) && anyNeighbour(I, px, py);
      for (int py = by0; py <= by1; ++py)
        for (int px = bx0; px <= bx1; ++px)
          if (G[size_t(py) * rw + px] && !anyNeighbour(V, px, py)) {
            U[size_t(py) * rw + px] = 1;
            write[size_t(py) * rw + px] = 1;
          }
    }
  return write;
}

// Thinning as the steps say, on the mask of a rectangle: returns the positions deleted.
std::vector<uint8_t> ReferenceThinMask(std::vector<uint8_t> M, int rw, int rh, int conn) {
  std::vector<uint8_t> deleted(M.size(), 0);
  for (bool changed = true; changed;) {
    changed = false;
    for (int s = 0; s < 4; ++s) {
      const std::vector<uint8_t> before = M;
      auto at = [&](int x, int y) -> uint32_t {
        return x >= 0 && y >= 0 && x < rw && y < rh ? before[size_t(y) * rw + x] : 0u;
      };
      const int bit = 1 << (conn == 8 ? 4 + s : s);
      std::vector<uint8_t> D(M.size(), 0);
      for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x) {
          if (!at(x, y)) continue;
          const uint32_t code = at(x - 1, y - 1) << 7 | at(x, y - 1) << 6 | at(x + 1, y - 1) << 5 |
                                at(x - 1, y) << 4 | at(x + 1, y) << 3 | at(x - 1, y + 1) << 2 |
                                at(x, y + 1) << 1 | at(x + 1, y + 1);
          if (ThinningFlags[code] & bit) D[size_t(y) * rw + x] = 1;
        }
      for (size_t i = 0; i < M.size(); ++i)
        if (D[i]) {
          M[i] = 0;
          deleted[i] = 1;
          changed = true;
        }
    }
  }
  return deleted;
}

// Blobs, rings and bars of random grays on the background, with some noise.
template <class T>
void BlobPicture(CImgBuff& img, int w, int h, int32_t format, T bg, uint32_t seed) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  std::mt19937 rng(seed);
  const T maxv = T(~T(0));
  std::vector<T> v(size_t(w) * h, bg);
  for (int k = 0; k < w * h / 60 + 2; ++k) {
    const int rad = 1 + int(rng() % 6), cx = int(rng() % w), cy = int(rng() % h);
    const int kind = int(rng() % 4);
    const T gray = T(1 + rng() % (uint32_t(maxv) - 1));
    for (int y = cy - rad; y <= cy + rad; ++y)
      for (int x = cx - rad; x <= cx + rad; ++x) {
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        const bool in = kind == 0 ? d2 <= rad * rad
                        : kind == 1 ? (d2 <= rad * rad && d2 >= (rad - 1) * (rad - 1))
                        : kind == 2 ? y == cy
                                    : std::max(std::abs(x - cx), std::abs(y - cy)) == rad;
        if (in) v[size_t(y) * w + x] = gray;
      }
  }
  for (auto& p : v)
    if (rng() % 50 == 0) p = p == bg ? T(1 + rng() % 200) : bg;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) RowPtr<T>(img.record, x, y)[0] = v[size_t(y) * w + x];
}

// Runs op on the picture and checks it against the written positions of a reference: those
// get `value`, every other pixel (inside the rectangle or not) keeps its own.
template <class T>
void ExpectWrites(const CImgBuff& before, const CImgBuff& after, RoiRect r,
                  const std::vector<uint8_t>& write, T value, const std::string& what) {
  const int rw = r.x1 - r.x0 + 1;
  for (int y = 0; y < before.Height(); ++y)
    for (int x = 0; x < before.Width(); ++x) {
      const bool in = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
      const T want = in && write[size_t(y - r.y0) * rw + (x - r.x0)]
                         ? value
                         : RowPtr<T>(before.record, x, y)[0];
      ASSERT_EQ(want, RowPtr<T>(after.record, x, y)[0]) << what << " at " << x << "," << y;
    }
}

}  // namespace

TEST(Morphology, HoleFillingAndExclusiveDilationMatchTheSteps) {
  const int widths[] = {1, 5, 31, 32, 33, 64, 95, 130};
  int k = 0;
  for (int w : widths) {
    const int h = 7 + w % 13;
    const RoiRect rects[2] = {{0, 0, w - 1, h - 1},
                              {w > 6 ? 3 : 0, 1, w > 8 ? w - 2 : w - 1, h - 2}};
    for (const RoiRect& r : rects)
      for (int conn : {4, 8})
        for (int32_t white : {0, 1}) {
          ++k;
          CImgBuff img;
          const uint8_t bg = white ? 255 : 0;
          BlobPicture<uint8_t>(img, w, h, 1, bg, uint32_t(4000 + k));
          const int rw = r.x1 - r.x0 + 1, rh = r.y1 - r.y0 + 1;
          const std::vector<uint8_t> m = ObjectMap<uint8_t>(img, r, bg);
          const std::string what = "case " + std::to_string(k) + " " + std::to_string(w) +
                                   " conn " + std::to_string(conn) + " white " +
                                   std::to_string(white);
          CImgBuff a;
          CopyPicture(a, img);
          ASSERT_EQ(1, FillHoles(&a, conn, white, &r));
          ExpectWrites<uint8_t>(img, a, r, ReferenceFillHoles(m, rw, rh, conn),
                                BinaryObjectValue8(white), "fill holes " + what);
          CImgBuff b;
          CopyPicture(b, img);
          ASSERT_EQ(1, DilateExclusive(&b, conn, white, r.x0, r.y0, r.x1, r.y1));
          ExpectWrites<uint8_t>(img, b, r, ReferenceDilateExclusive(m, rw, rh, conn),
                                BinaryObjectValue8(white), "exclusive dilation " + what);
        }
  }
}

// Thinning of a rectangle that starts at an odd column, on pictures cut into bands and on
// small ones, with the AVX2 lookup and without.
TEST(Morphology, ThinningOfARectangleMatchesTheSteps) {
  struct Case {
    int w, h;
    int32_t format;
    RoiRect r;
    int conn;
    int32_t white;
  };
  const Case cases[] = {
      {70, 40, 1, {3, 2, 66, 37}, 8, 0},        {70, 40, 1, {33, 1, 69, 39}, 4, 1},
      {1030, 1000, 2, {5, 3, 1021, 998}, 8, 1}, {1030, 1000, 2, {37, 0, 1029, 990}, 4, 0}};
  int k = 0;
  for (const Case& c : cases) {
    for (int32_t avx2 : {1, 0}) {
      SetBitRowsAvx2(avx2);
      ++k;
      CImgBuff img;
      const int rw = c.r.x1 - c.r.x0 + 1, rh = c.r.y1 - c.r.y0 + 1;
      const std::string what = "case " + std::to_string(k);
      CImgBuff a;
      if (c.format == 1) {
        const uint8_t bg = c.white ? 255 : 0;
        BlobPicture<uint8_t>(img, c.w, c.h, 1, bg, uint32_t(5000 + k));
        CopyPicture(a, img);
        ASSERT_EQ(1, Thin(&a, c.conn, c.white, &c.r));
        ExpectWrites<uint8_t>(img, a, c.r,
                              ReferenceThinMask(ObjectMap<uint8_t>(img, c.r, bg), rw, rh, c.conn),
                              BinaryEraseValue8(c.white), what);
      } else {
        const uint16_t bg = c.white ? 65535 : 0;
        BlobPicture<uint16_t>(img, c.w, c.h, 2, bg, uint32_t(5000 + k));
        CopyPicture(a, img);
        ASSERT_EQ(1, Thin(&a, c.conn, c.white, &c.r));
        ExpectWrites<uint16_t>(img, a, c.r,
                               ReferenceThinMask(ObjectMap<uint16_t>(img, c.r, bg), rw, rh, c.conn),
                               uint16_t(c.white ? 65535 : 0), what);
      }
    }
  }
  SetBitRowsAvx2(1);
}

// The same whiskers inside a rectangle of a larger picture whose pixels around it are all
// objects: outside the rectangle counts as background and is never written.
TEST(Morphology, WhiskersInsideARectangle) {
  std::vector<std::string> in(14, std::string(24, '.'));
  for (int y = 1; y <= 6; ++y) in[y][7] = '#';
  for (int y = 2; y <= 6; ++y) in[y][14] = '#';
  in[7] = std::string(24, '#');
  in[11] = ".....###................";
  std::vector<std::string> out = in;
  for (int y = 2; y <= 5; ++y) out[y][14] = '.';
  const int ox = 5, oy = 3;
  std::vector<std::string> big(in.size() + 6, std::string(in[0].size() + 9, '#'));
  std::vector<std::string> want = big;
  for (size_t y = 0; y < in.size(); ++y) {
    big[oy + y].replace(ox, in[y].size(), in[y]);
    want[oy + y].replace(ox, out[y].size(), out[y]);
  }
  const RoiRect r{ox, oy, ox + int32_t(in[0].size()) - 1, oy + int32_t(in.size()) - 1};
  for (int32_t white : {0, 1}) {
    CImgBuff img;
    Picture(img, big, 1, white);
    ASSERT_EQ(1, ShaveWhiskers(&img, 5, 8, white, &r));
    EXPECT_EQ(want, Rows(img, white)) << white;
  }
}
