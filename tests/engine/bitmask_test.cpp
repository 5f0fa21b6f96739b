// Bit masks and seed fill: layout, picture to mask by the channel test, the general seed fill
// against a plain breadth-first reference, queue growth and order, and the run extraction.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "engine/bitmask.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

// Plain reference: the 4- or 8-connected set of `on` pixels holding (sx, sy).
std::vector<uint8_t> ReferenceComponent(const std::vector<uint8_t>& on, int w, int h, int sx,
                                        int sy, int conn) {
  std::vector<uint8_t> out(on.size(), 0);
  if (!on[sy * w + sx]) return out;
  std::deque<std::pair<int, int>> q{{sx, sy}};
  out[sy * w + sx] = 1;
  while (!q.empty()) {
    auto [x, y] = q.front();
    q.pop_front();
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        if ((dx == 0 && dy == 0) || (conn == 4 && dx != 0 && dy != 0)) continue;
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= w || ny >= h || !on[ny * w + nx] || out[ny * w + nx]) continue;
        out[ny * w + nx] = 1;
        q.push_back({nx, ny});
      }
  }
  return out;
}

std::vector<uint8_t> RandomBinary(int w, int h, uint32_t seed, int percent) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size_t(w) * h);
  for (auto& b : v) b = int(rng() % 100) < percent;
  return v;
}

TEST(BitMask, LayoutAndBounds) {
  BitMask* m = BitMaskCreate(33, 2);
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(64, m->strideBits);
  EXPECT_EQ(1, BitMaskSetPixel(m, 32, 1, 1));
  EXPECT_EQ(0x80000000u, m->bits[3]);  // fourth word, most significant bit
  EXPECT_EQ(0u, m->bits[0] | m->bits[1] | m->bits[2]);
  EXPECT_EQ(1, BitMaskGetPixel(m, 32, 1));
  EXPECT_EQ(1, BitMaskSetPixel(m, 0, 0, 7));
  EXPECT_EQ(0x80000000u, m->bits[0]);
  for (auto [x, y] : {std::pair{-1, 0}, {33, 0}, {0, 2}, {0, -1}}) {
    EXPECT_EQ(0, BitMaskGetPixel(m, x, y));
    EXPECT_EQ(0, BitMaskSetPixel(m, x, y, 1));
  }
  BitMask* c = BitMaskClone(m);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(1, BitMaskGetPixel(c, 32, 1));
  EXPECT_EQ(1, BitMaskSetPixel(m, 32, 1, 0));
  EXPECT_EQ(0u, m->bits[3]);
  EXPECT_EQ(1, BitMaskGetPixel(c, 32, 1));
  BitMaskDestroy(m);
  BitMaskDestroy(c);
  EXPECT_EQ(nullptr, BitMaskCreate(0, 5));
  EXPECT_EQ(nullptr, BitMaskCreate(5, -1));
  EXPECT_EQ(nullptr, BitMaskCreate(2000000000, 2000000000));
  EXPECT_EQ(nullptr, BitMaskClone(nullptr));
  BitMaskDestroy(nullptr);
}

TEST(BitMask, RowRangesAndRuns) {
  BitMask* m = BitMaskCreate(100, 1);
  uint32_t* row = BitMaskRow(m, 0);
  RowSetRange(row, 3, 70);
  for (int x = 0; x < 100; ++x) EXPECT_EQ(x >= 3 && x <= 70, RowTest(row, x)) << x;
  EXPECT_EQ(3, RowRunStart(row, 40));
  EXPECT_EQ(70, RowRunEnd(row, 40, BitMaskStrideWords(m)));
  RowClearRange(row, 31, 32);
  EXPECT_EQ(30, RowRunEnd(row, 3, BitMaskStrideWords(m)));
  EXPECT_EQ(33, RowRunStart(row, 64));
  EXPECT_EQ(33, RowNextSet(row, 31, 99));
  EXPECT_EQ(-1, RowNextSet(row, 71, 99));
  RowSetRange(row, 90, 99);
  EXPECT_EQ(99, RowRunEnd(row, 95, BitMaskStrideWords(m)));  // stops at the row's end
  BitMaskDestroy(m);
}

TEST(ImageRegionToBitMask, ChannelTestAndRefusals) {
  CImgBuff rgb;
  ASSERT_EQ(1, rgb.Allocate(4, 3, 4));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) rgb.SetRGB8(x, y, 255, 255, 255);
  rgb.SetRGB8(1, 1, 255, 255, 254);
  BitMask* m = ImageRegionToBitMask(&rgb, 1, 0, 0, 3, 2);
  ASSERT_NE(nullptr, m);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(x == 1 && y == 1, BitMaskGetPixel(m, x, y));
  BitMaskDestroy(m);
  // Background 0 on a colour picture: (0, 0, 1) is an object.
  rgb.SetRGB8(2, 0, 0, 0, 1);
  m = ImageRegionToBitMask(&rgb, 0, 2, 0, 3, 0);
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(2, m->width);
  EXPECT_EQ(1, BitMaskGetPixel(m, 0, 0));
  BitMaskDestroy(m);
  EXPECT_EQ(nullptr, ImageRegionToBitMask(&rgb, 0, 0, 0, 4, 2));  // x1 = width
  EXPECT_EQ(nullptr, ImageRegionToBitMask(&rgb, 0, 2, 0, 1, 2));
  EXPECT_EQ(nullptr, ImageRegionToBitMask(&rgb, 0, 0, -1, 1, 2));
  CImgBuff empty;
  EXPECT_EQ(nullptr, ImageRegionToBitMask(&empty, 0, 0, 0, 0, 0));
  EXPECT_EQ(nullptr, ImageRegionToBitMask(nullptr, 0, 0, 0, 0, 0));
}

// Every format, both backgrounds: the typed rows against the per-pixel channel test.
TEST(ImageRegionToBitMask, EveryFormatMatchesThePerPixelTest) {
  for (int32_t f = 1; f <= 9; ++f) {
    for (int32_t inv = 0; inv <= 1; ++inv) {
      CImgBuff img;
      FillRandom(img, 75, 9, f, 31u * f + inv);
      const uint32_t bg = inv ? (f == 1 || f == 4 || f == 9 ? 255u : f == 2 || f == 5 || f == 8 ? 65535u : 4294967295u) : 0u;
      // Make a third of the pixels exact background.
      for (int y = 0; y < 9; ++y)
        for (int x = (y % 3); x < 75; x += 3) {
          if (f == 1 || f == 4 || f == 9) img.SetRGB8(x, y, uint8_t(bg), uint8_t(bg), uint8_t(bg));
          else if (f == 2 || f == 5 || f == 8) img.SetRGB16(x, y, uint16_t(bg), uint16_t(bg), uint16_t(bg));
          else img.SetRGB32(x, y, bg, bg, bg);
        }
      const int x0 = 3, y0 = 1, x1 = 70, y1 = 8;
      BitMask* m = ImageRegionToBitMask(&img, inv, x0, y0, x1, y1);
      ASSERT_NE(nullptr, m);
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          int obj;
          if (f == 1 || f == 4 || f == 9) {
            uint8_t r, g, b;
            img.GetRGB8(x, y, &r, &g, &b);
            obj = r != bg || g != bg || b != bg;
          } else if (f == 2 || f == 5 || f == 8) {
            uint16_t r, g, b;
            img.GetRGB16(x, y, &r, &g, &b);
            obj = r != bg || g != bg || b != bg;
          } else {
            uint32_t r, g, b;
            img.GetRGB32(x, y, &r, &g, &b);
            obj = r != bg || g != bg || b != bg;
          }
          ASSERT_EQ(obj, BitMaskGetPixel(m, x - x0, y - y0)) << f << " " << inv << " " << x << "," << y;
        }
      // Padding bits of each row stay clear.
      for (int y = 0; y < m->height; ++y)
        EXPECT_EQ(0u, BitMaskRow(m, y)[BitMaskStrideWords(m) - 1] & ~LastWordMask(m->width));
      BitMaskDestroy(m);
    }
  }
}

// The 8-bit packing, with the AVX2 row code and with the plain word code, against a bit at a
// time: every length around one and two words, odd start addresses, both backgrounds.
TEST(PackRowNotEqual8, MatchesTheBitByBitTestWithAndWithoutAvx2) {
  std::mt19937 rng(77);
  std::vector<uint8_t> px(200);
  for (int32_t avx2 : {1, 0}) {
    SetBitRowsAvx2(avx2);
    for (int n = 1; n <= 130; ++n) {
      for (uint8_t bg : {uint8_t(0), uint8_t(255)}) {
        for (auto& v : px) v = rng() % 3 ? bg : uint8_t(rng());
        const int start = n % 5;
        std::vector<uint32_t> out((n + 31) / 32 + 1, 0xDEADBEEFu);
        PackRowNotEqual8(px.data() + start, out.data(), n, bg);
        for (int i = 0; i < (n + 31) / 32 * 32; ++i) {
          const uint32_t want = i < n && px[start + i] != bg;
          ASSERT_EQ(want, (out[i >> 5] >> (31 - (i & 31))) & 1u)
              << "avx2 " << avx2 << " n " << n << " bit " << i;
        }
        EXPECT_EQ(0xDEADBEEFu, out[(n + 31) / 32]) << "wrote past the row, n " << n;
      }
    }
  }
  SetBitRowsAvx2(1);
}

struct GridUser {
  std::vector<uint8_t>* on;
  std::vector<uint8_t>* painted;
  int w;
  int calls;
};
int32_t AcceptOn(int32_t x, int32_t y, void* user, BitMask*) {
  GridUser* u = static_cast<GridUser*>(user);
  ++u->calls;
  if (!(*u->on)[y * u->w + x]) return 0;
  (*u->painted)[y * u->w + x] = 1;
  return 1;
}

TEST(SeedFill, WorkedCases) {
  // 1 x 1: a queue of 3 entries and the one pixel filled.
  std::vector<uint8_t> on{1}, painted{0};
  GridUser u{&on, &painted, 1, 0};
  SeedFill* f = SeedFillCreate(0, 0, 0, 0, AcceptOn, 4, &u);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(3, f->queue.capacity);
  EXPECT_EQ(1, SeedFillFrom(f, 0, 0));
  EXPECT_EQ(1, painted[0]);
  SeedFillDestroy(f);

  // Spans along the shorter side.
  f = SeedFillCreate(0, 0, 4, 2, AcceptOn, 8, &u);
  EXPECT_EQ(1, f->columnSpans);
  SeedFillDestroy(f);
  f = SeedFillCreate(0, 0, 2, 4, AcceptOn, 8, &u);
  EXPECT_EQ(0, f->columnSpans);
  SeedFillDestroy(f);
  EXPECT_EQ(nullptr, SeedFillCreate(0, 0, 2, 4, AcceptOn, 6, &u));
  EXPECT_EQ(nullptr, SeedFillCreate(3, 0, 2, 4, AcceptOn, 4, &u));
  EXPECT_EQ(0, SeedFillFrom(nullptr, 0, 0));

  // A diagonal: whole with 8-connectivity, only the seed with 4.
  for (int conn : {4, 8}) {
    std::vector<uint8_t> diag(36, 0), p(36, 0);
    for (int i = 0; i < 6; ++i) diag[i * 6 + i] = 1;
    GridUser d{&diag, &p, 6, 0};
    f = SeedFillCreate(0, 0, 5, 5, AcceptOn, conn, &d);
    ASSERT_EQ(1, SeedFillFrom(f, 2, 2));
    int n = 0;
    for (uint8_t b : p) n += b;
    EXPECT_EQ(conn == 8 ? 6 : 1, n);
    SeedFillDestroy(f);
  }

  // A refused seed is marked visited; a second fill from it asks nothing.
  std::vector<uint8_t> off(9, 0), p(9, 0);
  GridUser r{&off, &p, 3, 0};
  f = SeedFillCreate(0, 0, 2, 2, AcceptOn, 4, &r);
  EXPECT_EQ(1, SeedFillFrom(f, 1, 1));
  EXPECT_EQ(1, r.calls);
  EXPECT_EQ(1, BitMaskGetPixel(f->visited, 1, 1));
  EXPECT_EQ(1, SeedFillFrom(f, 1, 1));
  EXPECT_EQ(1, r.calls);
  EXPECT_EQ(1, SeedFillFrom(f, 5, 1));  // outside: nothing, no error
  SeedFillDestroy(f);
}

// Random pictures, both connectivities, both span directions, a rectangle inside the
// picture: the fill paints exactly the reference component clipped to the rectangle.
TEST(SeedFill, MatchesReferenceOnRandomPictures) {
  for (int k = 0; k < 24; ++k) {
    const int w = 23 + k * 3, h = 61 - k * 2, conn = k % 2 ? 8 : 4;
    std::vector<uint8_t> on = RandomBinary(w, h, 100 + k, 45 + k % 3 * 10);
    const int x0 = 2, y0 = 1, x1 = w - 3, y1 = h - 2;
    std::vector<uint8_t> clipped(on.size(), 0);
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) clipped[y * w + x] = on[y * w + x];
    std::mt19937 rng(k);
    for (int s = 0; s < 5; ++s) {
      const int sx = x0 + int(rng() % (x1 - x0 + 1)), sy = y0 + int(rng() % (y1 - y0 + 1));
      std::vector<uint8_t> painted(on.size(), 0);
      GridUser u{&on, &painted, w, 0};
      SeedFill* f = SeedFillCreate(x0, y0, x1, y1, AcceptOn, conn, &u);
      ASSERT_NE(nullptr, f);
      ASSERT_EQ(1, SeedFillFrom(f, sx, sy));
      EXPECT_EQ(f->queue.head, f->queue.tail);
      EXPECT_EQ(ReferenceComponent(clipped, w, h, sx, sy, conn), painted) << k << " " << s;
      SeedFillDestroy(f);
    }
  }
}

// A checkerboard with 8-connectivity is all one-pixel spans; its front outgrows the first
// capacity: the queue grows, wraps and keeps every span.
TEST(SeedFill, QueueGrowsThroughACheckerboard) {
  const int w = 64, h = 80;
  std::vector<uint8_t> on(w * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = (y & 1); x < w; x += 2) on[y * w + x] = 1;
  std::vector<uint8_t> painted(on.size(), 0);
  GridUser u{&on, &painted, w, 0};
  SeedFill* f = SeedFillCreate(0, 0, w - 1, h - 1, AcceptOn, 8, &u);
  const int32_t cap0 = f->queue.capacity;
  ASSERT_EQ(1, SeedFillFrom(f, 31, 41));
  EXPECT_GT(f->queue.capacity, cap0);
  EXPECT_EQ(on, painted);
  SeedFillDestroy(f);
}

TEST(SpanQueue, GrowKeepsOrderWhenWrappedAndPickNarrowest) {
  SpanQueue q{static_cast<SeedSpan*>(std::calloc(4, sizeof(SeedSpan))), 4, 2, 1, 100};
  // Entries at 2, 3, 0 (wrapped): widths 5, 1, 3.
  q.entries[2] = {0, 5, 10};
  q.entries[3] = {0, 1, 11};
  q.entries[0] = {0, 3, 12};
  ASSERT_EQ(1, SpanQueueGrow(&q));
  EXPECT_EQ(8, q.capacity);
  std::vector<int> lines;
  for (int i = q.head; i != q.tail; i = (i + 1) % q.capacity) lines.push_back(q.entries[i].line);
  EXPECT_EQ((std::vector<int>{10, 11, 12}), lines);
  SpanQueuePickNarrowest(&q);
  EXPECT_EQ(11, q.entries[q.head].line);
  q.limit = 8;
  EXPECT_EQ(0, SpanQueueGrow(&q));  // the limit holds
  EXPECT_EQ(8, q.capacity);
  std::free(q.entries);
  SpanQueue empty{nullptr, 0, 0, 0, 100};
  EXPECT_EQ(0, SpanQueueGrow(&empty));
}

TEST(SeedFill, FillIfEqualAndNotEqual) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(6, 4, 1));
  for (int x = 0; x < 6; ++x) img.SetGray8(x, 1, 9);  // a wall across row 1
  FillRecord rec{&img, 0, 0, 5, 3, 0, 50};
  SeedFill* f = SeedFillCreate(0, 0, 5, 3, FillIfEqual, 4, &rec);
  ASSERT_EQ(1, SeedFillFrom(f, 0, 3));
  SeedFillDestroy(f);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      uint8_t v;
      img.GetGray8(x, y, &v);
      EXPECT_EQ(y == 1 ? 9 : y == 0 ? 0 : 50, v) << x << "," << y;
    }
  FillRecord rec2{&img, 0, 0, 5, 1, 0, 7};  // the record's rectangle stops at row 1
  f = SeedFillCreate(0, 0, 5, 3, FillIfNotEqual, 4, &rec2);
  ASSERT_EQ(1, SeedFillFrom(f, 2, 1));
  SeedFillDestroy(f);
  uint8_t v;
  img.GetGray8(2, 1, &v);
  EXPECT_EQ(7, v);
  img.GetGray8(2, 2, &v);
  EXPECT_EQ(50, v);
  EXPECT_EQ(0, FillIfEqual(9, 9, &rec, nullptr));
}

TEST(BitMaskTakeIsland, MatchesReferenceComponents) {
  for (int k = 0; k < 16; ++k) {
    const int w = 40 + k * 7, h = 30 + k, conn = k % 2 ? 8 : 4;
    std::vector<uint8_t> on = RandomBinary(w, h, 500 + k, 40 + k % 4 * 8);
    BitMask* m = BitMaskCreate(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) BitMaskSetPixel(m, x, y, on[y * w + x]);
    std::vector<uint8_t> left = on;
    ScratchArray<MaskRun> runs;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (!left[y * w + x]) continue;
        std::vector<uint8_t> ref = ReferenceComponent(left, w, h, x, y, conn);
        runs.Clear();
        MaskBox box;
        ASSERT_EQ(1, BitMaskTakeIsland(m, x, y, conn == 8, &runs, &box));
        std::vector<uint8_t> got(on.size(), 0);
        int bx0 = w, by0 = h, bx1 = -1, by1 = -1;
        for (size_t i = 0; i < runs.Size(); ++i)
          for (int xx = runs[i].x0; xx <= runs[i].x1; ++xx) {
            EXPECT_EQ(0, got[runs[i].y * w + xx]);
            got[runs[i].y * w + xx] = 1;
          }
        for (int yy = 0; yy < h; ++yy)
          for (int xx = 0; xx < w; ++xx)
            if (ref[yy * w + xx]) {
              bx0 = std::min(bx0, xx), by0 = std::min(by0, yy);
              bx1 = std::max(bx1, xx), by1 = std::max(by1, yy);
              left[yy * w + xx] = 0;
            }
        ASSERT_EQ(ref, got) << k << " at " << x << "," << y;
        EXPECT_EQ(bx0, box.x0);
        EXPECT_EQ(by0, box.y0);
        EXPECT_EQ(bx1, box.x1);
        EXPECT_EQ(by1, box.y1);
      }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(0, BitMaskGetPixel(m, x, y));
    BitMaskDestroy(m);
  }
}

}  // namespace

namespace {

int32_t AcceptCapped(int32_t, int32_t, void* user, BitMask*) {
  int* calls = static_cast<int*>(user);
  return ++*calls < 1000;
}

}  // namespace

// Sizes and coordinates at the ends of the 32-bit range: a mask whose padded row would not
// fit a 32-bit stride is refused, and a fill over a rectangle at the ends of the range either
// is refused or completes; neither steps a coordinate past the range.
TEST(BitMask, EndsOfTheCoordinateRange) {
  for (int32_t w : {INT32_MAX, INT32_MAX - 1, INT32_MAX - 30}) {
    BitMask* m = BitMaskCreate(w, 1);
    if (m) {
      EXPECT_GE(m->strideBits, m->width) << w;
      EXPECT_EQ(0, m->strideBits % 32) << w;
    }
    BitMaskDestroy(m);
  }
  struct Rect {
    int32_t x0, y0, x1, y1;
  } rects[] = {{INT32_MAX - 5, 0, INT32_MAX, 3},          {INT32_MAX - 5, 0, INT32_MAX - 1, 3},
               {0, INT32_MAX - 3, 9, INT32_MAX},          {INT32_MIN, 0, INT32_MIN + 5, 2},
               {0, INT32_MIN, 3, INT32_MIN + 9},          {INT32_MAX - 6, INT32_MAX - 6, INT32_MAX, INT32_MAX}};
  for (const Rect& r : rects) {
    for (int32_t conn : {4, 8}) {
      int calls = 0;
      SeedFill* f = SeedFillCreate(r.x0, r.y0, r.x1, r.y1, AcceptCapped, conn, &calls);
      if (!f) continue;
      EXPECT_EQ(1, SeedFillFrom(f, r.x1, r.y1));
      EXPECT_EQ(1, SeedFillFrom(f, r.x0, r.y0));
      SeedFillDestroy(f);
    }
  }
}
