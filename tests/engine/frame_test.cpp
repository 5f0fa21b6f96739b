// Rectangle rules of the engine frame and the format classes.
#include <gtest/gtest.h>

#include "engine/frame.h"

namespace {

struct RoiCase {
  const char* name;
  RoiRect in;
  int32_t ok;
  RoiRect out;
};

TEST(GetRoi, TenByTenPicture) {
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(10, 10, 1));
  const RoiCase cases[] = {
      {"corners swapped", {5, 7, 2, 3}, 1, {2, 3, 5, 7}},
      {"clamped both ways", {-5, -5, 20, 20}, 1, {0, 0, 9, 9}},
      {"starts right of the picture", {10, 0, 12, 5}, 0, {0, 0, 0, 0}},
      {"wholly left of the picture", {-4, 2, -1, 6}, 0, {0, 0, 0, 0}},
      {"below the picture", {0, 10, 3, 11}, 0, {0, 0, 0, 0}},
      {"single last pixel", {9, 9, 9, 9}, 1, {9, 9, 9, 9}},
      {"extreme values", {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 1, {0, 0, 9, 9}},
  };
  for (const RoiCase& c : cases) {
    RoiRect out{-1, -1, -1, -1};
    EXPECT_EQ(c.ok, GetRoi(&out, &img, &c.in)) << c.name;
    EXPECT_EQ(c.out.x0, out.x0) << c.name;
    EXPECT_EQ(c.out.y0, out.y0) << c.name;
    EXPECT_EQ(c.out.x1, out.x1) << c.name;
    EXPECT_EQ(c.out.y1, out.y1) << c.name;
  }
  RoiRect out{-1, -1, -1, -1};
  EXPECT_EQ(1, GetRoi(&out, &img, nullptr));
  EXPECT_EQ(0, out.x0);
  EXPECT_EQ(9, out.x1);
  EXPECT_EQ(9, out.y1);
}

TEST(GetRoi, EmptyPicture) {
  CImgBuff img;
  RoiRect out{1, 1, 1, 1};
  EXPECT_EQ(0, GetRoi(&out, &img, nullptr));
  EXPECT_EQ(0, out.x0 | out.y0 | out.x1 | out.y1);
  // With a rectangle: ordered and raised to 0, but nothing to clamp against above.
  const RoiRect in{50, 40, -3, 2};
  EXPECT_EQ(1, GetRoi(&out, &img, &in));
  EXPECT_EQ(0, out.x0);
  EXPECT_EQ(2, out.y0);
  EXPECT_EQ(50, out.x1);
  EXPECT_EQ(40, out.y1);
  EXPECT_EQ(0, GetRoi(nullptr, &img, &in));
}

TEST(NormalizeRoi, WithoutPicture) {
  RoiRect r{8, 9, -2, 3};
  EXPECT_EQ(1, NormalizeRoi(&r, nullptr));
  EXPECT_EQ(0, r.x0);
  EXPECT_EQ(3, r.y0);
  EXPECT_EQ(8, r.x1);
  EXPECT_EQ(9, r.y1);
  RoiRect below{0, -5, 4, -1};
  EXPECT_EQ(0, NormalizeRoi(&below, nullptr));
  RoiRect big{0, 0, 100000, 100000};
  EXPECT_EQ(1, NormalizeRoi(&big, nullptr));
  EXPECT_EQ(100000, big.x1);
  EXPECT_EQ(0, NormalizeRoi(nullptr, nullptr));
}

TEST(FormatClasses, MembersAndSlots) {
  const int32_t bits[10] = {0, 8, 16, 32, 8, 16, 32, 32, 16, 8};
  const FormatSlot slots[10] = {SlotNone,    SlotGray8,    SlotGray16,   SlotGray32,
                                SlotColour8, SlotColour16, SlotColour32, SlotColour32,
                                SlotColour16, SlotColour8};
  for (int32_t f = 0; f <= 9; ++f) {
    EXPECT_EQ(bits[f], FormatClassBits(f)) << f;
    EXPECT_EQ(slots[f], GetFormatSlot(f)) << f;
  }
  EXPECT_EQ(0, FormatClassBits(-1));
  EXPECT_EQ(0, FormatClassBits(10));
  EXPECT_EQ(65535u, FormatClassMax(8));
  EXPECT_EQ(4294967295u, FormatClassMax(7));
  EXPECT_EQ(65535u, BinaryBackground(2, 1));
  EXPECT_EQ(0u, BinaryBackground(2, 0));
}

// The merge lock of one call: pieces on several workers add into one total.
struct SumJob {
  RoiRect r;
  PlatformLock* lock;
  uint64_t total;
};

TEST(RunRows, MergedSumCoversEveryRowOnce) {
  CImgBuff keepPoolAlive;  // the first picture starts the worker pool
  SumJob job{{0, 0, 99, 999}, nullptr, 0};
  MergeLock lock;
  job.lock = lock.Get();
  RunRowsMerged(
      [](void* ctx, uint64_t first, uint64_t count) {
        SumJob* j = static_cast<SumJob*>(ctx);
        uint64_t partial = 0;
        int32_t yb, ye;
        PieceRows(j->r, first, count, &yb, &ye);
        for (int32_t y = yb; y < ye; ++y) partial += uint64_t(y) + 1;
        MergeHold hold(j->lock);
        j->total += partial;
      },
      &job, job.r, lock);
  EXPECT_EQ(1000u * 1001u / 2u, job.total);
}

}  // namespace
