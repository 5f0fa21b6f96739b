// imgbuff_test.cpp - pixel formats, the pixel allocator and its cache of large blocks, and the
// life of records and handles.
#include "core/imgbuff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "core/parallel.h"

namespace {

bool AllZero(const void* p, uint64_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  for (uint64_t i = 0; i < n; i++) {
    if (b[i] != 0) return false;
  }
  return true;
}

uint64_t HeaderOf(const void* pixels) {
  uint64_t size;
  std::memcpy(&size, static_cast<const unsigned char*>(pixels) - 8, 8);
  return size;
}

}  // namespace

// A freed block of some megabytes waits for an allocation of its size and comes back to it
// (zeroed again where the allocation asks for zeros); one of another size or a small one
// does not take it; after about a second the trimming thread gives every waiting block back.
TEST(ImgBuff, LargeFreedBlocksAreTakenAgainThenGivenBack) {
  const uint64_t count = uint64_t(3) << 20, bpp = 3;
  const uint64_t size = (count * bpp + 8 + 4095) / 4096 * 4096;
  void* a = AllocPixelsUncleared(count, bpp);
  ASSERT_NE(a, nullptr);
  std::memset(a, 0x5A, count * bpp);
  const uint64_t before = CachedPixelBytes();
  FreePixels(a);
  EXPECT_EQ(CachedPixelBytes(), before + size);

  void* other = AllocPixelsUncleared(count + 4096, bpp);  // one page more: not the same size
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, a);
  void* small = AllocPixels(1000, 1);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(small, a);
  FreePixels(small);

  void* again = AllocPixels(count, bpp);
  EXPECT_EQ(again, a) << "the waiting block of this size";
  EXPECT_EQ(PixelBlockSize(again), size);
  EXPECT_TRUE(AllZero(again, count * bpp));
  FreePixels(again);
  FreePixels(other);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (CachedPixelBytes() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(CachedPixelBytes(), 0u);
}

TEST(ImgBuff, BytesPerPixelTable) {
  const int32_t expected[ImgFormatCount] = {0, 1, 2, 4, 3, 6, 12, 24, 6, 4};
  for (int32_t f = 0; f < ImgFormatCount; f++) EXPECT_EQ(ImgBytesPerPixel[f], expected[f]) << f;
}

TEST(ImgBuff, AllocPixels) {
  struct Case {
    uint64_t count, bpp, blockSize;
  };
  const Case cases[] = {
      {640 * 480, 3, 925696},  // 921,608 rounded up to a multiple of 4096
      {0, 1, 4096},
      {4088, 1, 4096},  // exactly one page with the header
      {4089, 1, 8192},
      {1, 24, 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    void* p = AllocPixels(c.count, c.bpp);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(HeaderOf(p), c.blockSize);
    EXPECT_EQ(PixelBlockSize(p), c.blockSize);
    EXPECT_TRUE(AllZero(p, c.count * c.bpp));
    FreePixels(p);
  }
  // Sizes whose product or rounding overflows are refused, not wrapped into a small block.
  EXPECT_EQ(AllocPixels(UINT64_MAX, 2), nullptr);
  EXPECT_EQ(AllocPixels(UINT64_MAX / 3 + 1, 3), nullptr);
  EXPECT_EQ(AllocPixels(UINT64_MAX - 10, 1), nullptr);
  EXPECT_EQ(AllocPixels(UINT64_MAX - 5000, 1), nullptr);
  FreePixels(nullptr);
}

TEST(ImgBuff, AllocateWorkedExample) {
  C_ImgBuff img;
  ASSERT_EQ(img.Allocate(640, 480, ImgFormatRgb24), 1);
  EXPECT_EQ(img.format, ImgFormatRgb24);
  EXPECT_EQ(img.width, 640);
  EXPECT_EQ(img.height, 480);
  EXPECT_TRUE(AllZero(img.pixels, 921600));
  EXPECT_EQ(HeaderOf(img.pixels), 925696u);

  // Same geometry: the block stays and is zeroed again.
  void* before = img.pixels;
  std::memset(img.pixels, 0x5A, 921600);
  ASSERT_EQ(img.Allocate(640, 480, ImgFormatRgb24), 1);
  EXPECT_EQ(img.pixels, before);
  EXPECT_TRUE(AllZero(img.pixels, 921600));

  // A large picture is zeroed by the pool; same geometry clears it the same way.
  ASSERT_EQ(img.Allocate(2048, 1024, ImgFormatGray8), 1);
  std::memset(img.pixels, 0xFF, 2048 * 1024);
  img.Clear();
  EXPECT_TRUE(AllZero(img.pixels, 2048 * 1024));
}

TEST(ImgBuff, AllocateRefusals) {
  struct Case {
    const char* name;
    int32_t w, h, f;
  };
  const Case cases[] = {
      {"zero size", 0, 0, 0},
      {"bad format 10", 10, 10, 10},
      {"negative format", 10, 10, -1},
      {"format 0", 10, 10, 0},
      {"negative width", -1, 5, 1},
      {"zero height", 5, 0, 1},
      {"2^31 bytes", 65536, 32768, ImgFormatGray8},
      {"just over 2^31 bytes", 46341, 46341, ImgFormatGray8},
      {"2^31 bytes of XYZ", 9460, 9460, ImgFormatXyz},
      {"largest sides", INT_MAX, INT_MAX, ImgFormatXyz},
      {"largest width", INT_MAX, 1, ImgFormatRgb24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    C_ImgBuff img;
    ASSERT_EQ(img.Allocate(4, 4, ImgFormatGray16), 1);
    EXPECT_EQ(img.Allocate(c.w, c.h, c.f), 0);
    EXPECT_EQ(img.format, 0);
    EXPECT_EQ(img.width, 0);
    EXPECT_EQ(img.height, 0);
    EXPECT_EQ(img.pixels, nullptr);
  }
  // On an empty record, (0, 0, 0) is its own geometry: 1, still empty.
  C_ImgBuff empty;
  EXPECT_EQ(empty.Allocate(0, 0, 0), 1);
  EXPECT_EQ(empty.pixels, nullptr);
  empty.Clear();
}

TEST(ImgBuff, Contains) {
  C_ImgBuff img;
  ASSERT_EQ(img.Allocate(7, 5, ImgFormatGray8), 1);
  struct Case {
    int32_t x, y, inside;
  };
  const Case cases[] = {{0, 0, 1},  {6, 4, 1},  {-1, 0, 0},     {0, -1, 0},     {7, 0, 0},
                        {0, 5, 0},  {7, 5, 0},  {INT_MIN, 0, 0}, {0, INT_MAX, 0}, {3, 2, 1}};
  for (const Case& c : cases) EXPECT_EQ(img.Contains(c.x, c.y), c.inside) << c.x << "," << c.y;
  C_ImgBuff empty;
  EXPECT_EQ(empty.Contains(0, 0), 0);
}

TEST(ImgBuff, Handle) {
  CImgBuff h;
  ASSERT_NE(h.record, nullptr);
  C_ImgBuff* record = h.record;
  EXPECT_EQ(h.Is8BitPerChannel(), 0);
  ASSERT_EQ(h.Allocate(3, 2, ImgFormatCmyk32), 1);
  EXPECT_EQ(h.Format(), ImgFormatCmyk32);
  EXPECT_EQ(h.Width(), 3);
  EXPECT_EQ(h.Height(), 2);
  h.Free();
  EXPECT_EQ(h.record, record) << "the handle keeps its record";
  EXPECT_EQ(h.Pixels(), nullptr);
  EXPECT_EQ(h.Format(), 0);
  h.Free();  // twice is harmless

  for (int32_t f = -1; f <= 10; f++) {
    h.record->format = f;  // the test only reads the code
    EXPECT_EQ(h.Is8BitPerChannel(), (f == 1 || f == 4 || f == 9) ? 1 : 0) << f;
  }
  h.record->format = 0;
}

TEST(ImgBuff, FirstPictureStartsThePool) {
  while (WorkerPoolReferenceCount() > 0) StopWorkerPool();
  ASSERT_EQ(SetProcessorCountForTesting(4), 1);
  {
    C_ImgBuff first;
    EXPECT_EQ(WorkerPoolReferenceCount(), 1u);
    C_ImgBuff second;
    EXPECT_EQ(WorkerPoolReferenceCount(), 1u) << "only while the count is 0";
  }
  StopWorkerPool();

  // One processor: every construction asks and nothing starts.
  ASSERT_EQ(SetProcessorCountForTesting(1), 1);
  {
    C_ImgBuff a, b;
    EXPECT_EQ(WorkerPoolReferenceCount(), 0u);
    EXPECT_EQ(WorkerPoolLiveThreads(), 0u);
    ASSERT_EQ(a.Allocate(1024, 1024, ImgFormatRgb24), 1);  // zeroed inline
    EXPECT_TRUE(AllZero(a.pixels, 1024 * 1024 * 3));
  }
  ASSERT_EQ(SetProcessorCountForTesting(0), 1);
}
