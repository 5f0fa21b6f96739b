// imgops_test.cpp - copy, format conversion, canvas resize, crop and paste in all formats,
// small pictures (rows on the calling thread) and large ones (rows on the worker pool).
#include "core/imgbuff.h"
#include "core/imgops_alloc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

uint64_t Bytes(const CImgBuff& p)
{
    return uint64_t(p.Width()) * uint64_t(p.Height()) * uint64_t(ImgBytesPerPixel[p.Format()]);
}

// Random pixels; XYZ gets plain values in 0 .. 1.2 so every getter sees sane doubles.
void FillRandom(CImgBuff& p, uint32_t seed)
{
    std::mt19937 rng(seed);
    if (p.Format() == ImgFormatXyz) {
        std::uniform_real_distribution<double> d(0.0, 1.2);
        auto v = static_cast<double*>(p.Pixels());
        for (uint64_t i = 0; i < Bytes(p) / 8; ++i) v[i] = d(rng);
        return;
    }
    auto b = static_cast<uint8_t*>(p.Pixels());
    for (uint64_t i = 0; i < Bytes(p); ++i) b[i] = uint8_t(rng());
}

std::vector<uint8_t> Snapshot(const CImgBuff& p)
{
    auto b = static_cast<const uint8_t*>(p.Pixels());
    return std::vector<uint8_t>(b, b + Bytes(p));
}

const uint8_t* PixelBytes(const CImgBuff& p, int32_t x, int32_t y)
{
    return static_cast<const uint8_t*>(p.Pixels()) +
           (uint64_t(y) * uint64_t(p.Width()) + uint64_t(x)) * uint64_t(ImgBytesPerPixel[p.Format()]);
}

// What the per-pixel getter of the target format gives, as the bytes the target stores.
std::vector<uint8_t> GetterBytes(const C_ImgBuff& s, int32_t x, int32_t y, int32_t target)
{
    std::vector<uint8_t> out(static_cast<size_t>(ImgBytesPerPixel[target]));
    auto put = [&](const void* v, size_t n) { memcpy(out.data(), v, n); };
    switch (target) {
    case 1: { uint8_t v = 0; s.GetGray8(x, y, &v); put(&v, 1); break; }
    case 2: { uint16_t v = 0; s.GetGray16(x, y, &v); put(&v, 2); break; }
    case 3: { uint32_t v = 0; s.GetGray32(x, y, &v); put(&v, 4); break; }
    case 4: { uint8_t v[3] = {}; s.GetRGB8(x, y, &v[0], &v[1], &v[2]); put(v, 3); break; }
    case 5: { uint16_t v[3] = {}; s.GetRGB16(x, y, &v[0], &v[1], &v[2]); put(v, 6); break; }
    case 6: { uint32_t v[3] = {}; s.GetRGB32(x, y, &v[0], &v[1], &v[2]); put(v, 12); break; }
    case 7: { double v[3] = {}; s.GetXYZ(x, y, &v[0], &v[1], &v[2]); put(v, 24); break; }
    case 8: { uint16_t v[3] = {}; s.GetHSV16(x, y, &v[0], &v[1], &v[2]); put(v, 6); break; }
    default: { uint8_t v[4] = {}; s.GetCMYK8(x, y, &v[0], &v[1], &v[2], &v[3]); put(v, 4); break; }
    }
    return out;
}

TEST(ImgCopy, CopiesEmptiesAndKeepsSelf)
{
    CImgBuff src, dst;
    ASSERT_EQ(src.Allocate(2048, 2048, ImgFormatGray8), 1);     // 4 MiB: a pooled copy
    FillRandom(src, 1);
    dst.CopyFrom(src);
    ASSERT_EQ(dst.Format(), ImgFormatGray8);
    ASSERT_EQ(dst.Width(), 2048);
    EXPECT_EQ(Snapshot(dst), Snapshot(src));

    // Onto itself: a no-op that keeps every pixel (not a cleared picture).
    std::vector<uint8_t> before = Snapshot(src);
    src.CopyFrom(src);
    EXPECT_EQ(Snapshot(src), before);
    src.record->CopyFrom(*src.record);
    EXPECT_EQ(Snapshot(src), before);

    CImgBuff empty;
    dst.CopyFrom(empty);
    EXPECT_EQ(dst.Format(), 0);
    EXPECT_EQ(dst.Pixels(), nullptr);

    // A failed allocation leaves the copy empty.
    CImgBuff small;
    small.Allocate(3, 3, ImgFormatRgb24);
    dst.CopyFrom(small);
    FailImgOpsAllocationForTesting(1);
    dst.CopyFrom(src);
    FailImgOpsAllocationForTesting(0);
    EXPECT_EQ(dst.Format(), 0);
}

// Every pair of formats: the result equals the target getter applied to every source pixel,
// so the direct row kernels cannot drift from the accessors.  Two sizes: rows inline and
// rows on the worker pool.
TEST(ImgConvert, EveryPairMatchesTheGetters)
{
    const int32_t sizes[][2] = {{5, 3}, {67, 65}};
    for (const auto& size : sizes) {
        for (int32_t from = 1; from <= 9; ++from) {
            for (int32_t to = 1; to <= 9; ++to) {
                SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " " << from << " -> " << to);
                CImgBuff src, pic;
                ASSERT_EQ(src.Allocate(size[0], size[1], from), 1);
                FillRandom(src, uint32_t(from * 10 + to));
                pic.CopyFrom(src);
                ASSERT_EQ(pic.record->ConvertTo(to), 1);
                ASSERT_EQ(pic.Format(), to);
                ASSERT_EQ(pic.Width(), size[0]);
                ASSERT_EQ(pic.Height(), size[1]);
                int bad = 0;
                for (int32_t y = 0; y < size[1] && bad < 3; ++y)
                    for (int32_t x = 0; x < size[0] && bad < 3; ++x) {
                        std::vector<uint8_t> want = GetterBytes(*src.record, x, y, to);
                        if (memcmp(PixelBytes(pic, x, y), want.data(), want.size()) != 0) {
                            ADD_FAILURE() << "pixel " << x << "," << y;
                            ++bad;
                        }
                    }
            }
        }
    }
}

// The pairs with vector kernels, at every width around their step sizes (8 and 16 pixels),
// so each step and each scalar tail meets the getters.
TEST(ImgConvert, VectorPairsAtEveryWidth)
{
    const int32_t pairs[][2] = {{1, 2}, {1, 4}, {1, 5}, {2, 1}, {2, 5}, {4, 1}, {4, 5}, {5, 4}};
    for (const auto& pair : pairs) {
        for (int32_t w = 1; w <= 70; w += (w < 40 ? 1 : 29)) {
            SCOPED_TRACE(testing::Message() << "width " << w << " " << pair[0] << " -> " << pair[1]);
            CImgBuff src, pic;
            ASSERT_EQ(src.Allocate(w, 3, pair[0]), 1);
            FillRandom(src, uint32_t(w * 7 + pair[0]));
            pic.CopyFrom(src);
            ASSERT_EQ(pic.record->ConvertTo(pair[1]), 1);
            int bad = 0;
            for (int32_t y = 0; y < 3 && bad < 3; ++y)
                for (int32_t x = 0; x < w && bad < 3; ++x) {
                    std::vector<uint8_t> want = GetterBytes(*src.record, x, y, pair[1]);
                    if (memcmp(PixelBytes(pic, x, y), want.data(), want.size()) != 0) {
                        ADD_FAILURE() << "pixel " << x << "," << y;
                        ++bad;
                    }
                }
        }
    }
}

// The luma of 8-bit RGB for every R and G with the B values at both ends and the middle,
// against the formula itself.
TEST(ImgConvert, LumaOfRgb24IsExact)
{
    for (int32_t b : {0, 1, 127, 128, 254, 255}) {
        SCOPED_TRACE(b);
        CImgBuff p;
        ASSERT_EQ(p.Allocate(256, 256, ImgFormatRgb24), 1);
        auto px = static_cast<uint8_t*>(p.Pixels());
        for (int32_t g = 0; g < 256; ++g)
            for (int32_t r = 0; r < 256; ++r) {
                uint8_t* q = px + 3 * (g * 256 + r);
                q[0] = uint8_t(r);
                q[1] = uint8_t(g);
                q[2] = uint8_t(b);
            }
        ASSERT_EQ(p.record->ConvertTo(ImgFormatGray8), 1);
        auto gray = static_cast<const uint8_t*>(p.Pixels());
        int bad = 0;
        for (int32_t g = 0; g < 256 && bad < 3; ++g)
            for (int32_t r = 0; r < 256 && bad < 3; ++r) {
                const uint32_t want = (299u * uint32_t(r) + 587u * uint32_t(g) + 114u * uint32_t(b) + 500u) / 1000u;
                if (gray[g * 256 + r] != want) {
                    ADD_FAILURE() << "r " << r << " g " << g;
                    ++bad;
                }
            }
    }
}

TEST(ImgConvert, WorkedValues)
{
    CImgBuff p;
    p.Allocate(2, 1, ImgFormatRgb24);
    p.SetRGB8(0, 0, 255, 0, 0);
    p.SetRGB8(1, 0, 10, 200, 30);
    ASSERT_EQ(p.record->ConvertTo(ImgFormatGray8), 1);
    auto g = static_cast<uint8_t*>(p.Pixels());
    EXPECT_EQ(g[0], (299 * 255 + 500) / 1000);
    EXPECT_EQ(g[1], (299 * 10 + 587 * 200 + 114 * 30 + 500) / 1000);

    p.Allocate(1, 1, ImgFormatGray16);
    p.SetGray16(0, 0, 0xABCD);
    p.record->ConvertTo(ImgFormatGray8);
    EXPECT_EQ(static_cast<uint8_t*>(p.Pixels())[0], 0xAB);

    p.Allocate(1, 1, ImgFormatGray8);
    p.SetGray8(0, 0, 0x7F);
    p.record->ConvertTo(ImgFormatRgb48);
    auto w = static_cast<uint16_t*>(p.Pixels());
    EXPECT_EQ(w[0], 0x7F * 257);
    EXPECT_EQ(w[1], 0x7F * 257);
    EXPECT_EQ(w[2], 0x7F * 257);

    // 32-bit luma needs 64-bit sums.
    p.Allocate(1, 1, ImgFormatRgb96);
    p.SetRGB32(0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
    p.record->ConvertTo(ImgFormatGray32);
    EXPECT_EQ(static_cast<uint32_t*>(p.Pixels())[0], 0xFFFFFFFFu);
}

TEST(ImgConvert, RefusalsLeaveThePicture)
{
    CImgBuff p;
    p.Allocate(70, 70, ImgFormatRgb24);
    FillRandom(p, 7);
    std::vector<uint8_t> before = Snapshot(p);
    void* block = p.Pixels();
    struct Case {
        const char* name;
        int32_t target;
        int32_t fail;
        int32_t result;
    } cases[] = {
        {"same format", ImgFormatRgb24, 0, 1},
        {"target 0", 0, 0, 0},
        {"target 10", 10, 0, 0},
        {"target -1", -1, 0, 0},
        {"no memory", ImgFormatGray8, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FailImgOpsAllocationForTesting(c.fail);
        EXPECT_EQ(p.record->ConvertTo(c.target), c.result);
        FailImgOpsAllocationForTesting(0);
        EXPECT_EQ(p.Format(), ImgFormatRgb24);
        EXPECT_EQ(p.Pixels(), block);
        EXPECT_EQ(Snapshot(p), before);
    }
    CImgBuff empty;
    EXPECT_EQ(empty.record->ConvertTo(ImgFormatGray8), 0);
}

TEST(ImgResizeCanvas, KeepsOverlapZeroesRest)
{
    struct Case {
        int32_t w, h;
    } cases[] = {{17, 9}, {5, 9}, {7, 20}, {3, 2}, {1, 1}};
    for (int32_t format : {ImgFormatGray8, ImgFormatRgb48, ImgFormatXyz}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "format " << format << " to " << c.w << "x" << c.h);
            CImgBuff src, p;
            src.Allocate(7, 9, format);
            FillRandom(src, 3);
            p.CopyFrom(src);
            ASSERT_EQ(p.record->ResizeCanvas(c.w, c.h), 1);
            ASSERT_EQ(p.Width(), c.w);
            ASSERT_EQ(p.Height(), c.h);
            const int32_t bpp = ImgBytesPerPixel[format];
            for (int32_t y = 0; y < c.h; ++y)
                for (int32_t x = 0; x < c.w; ++x) {
                    std::vector<uint8_t> want(size_t(bpp), 0);
                    if (x < 7 && y < 9) memcpy(want.data(), PixelBytes(src, x, y), size_t(bpp));
                    ASSERT_EQ(memcmp(PixelBytes(p, x, y), want.data(), size_t(bpp)), 0) << x << "," << y;
                }
        }
    }
    CImgBuff p;
    p.Allocate(4, 4, ImgFormatGray8);
    FillRandom(p, 5);
    void* block = p.Pixels();
    std::vector<uint8_t> before = Snapshot(p);
    EXPECT_EQ(p.record->ResizeCanvas(4, 4), 1);
    EXPECT_EQ(p.Pixels(), block);
    EXPECT_EQ(p.record->ResizeCanvas(0, 4), 0);
    EXPECT_EQ(p.record->ResizeCanvas(4, -1), 0);
    FailImgOpsAllocationForTesting(1);
    EXPECT_EQ(p.record->ResizeCanvas(8, 8), 0);
    FailImgOpsAllocationForTesting(0);
    EXPECT_EQ(p.Width(), 4);
    EXPECT_EQ(Snapshot(p), before);
    CImgBuff empty;
    EXPECT_EQ(empty.record->ResizeCanvas(1, 1), 0);
}

TEST(ImgCrop, RectanglesAndRefusals)
{
    for (int32_t format = 1; format <= 9; ++format) {
        SCOPED_TRACE(format);
        CImgBuff src, dst;
        src.Allocate(90, 60, format);       // 90 x 60 >= 4096: rows on the pool
        FillRandom(src, uint32_t(format));
        // Whole picture, a middle rectangle, a single pixel at the far corner.
        const int32_t rects[][4] = {{0, 0, 89, 59}, {10, 5, 70, 40}, {89, 59, 89, 59}};
        for (const auto& r : rects) {
            ASSERT_EQ(src.Crop(dst, r[0], r[1], r[2], r[3]), 1);
            ASSERT_EQ(dst.Format(), format);
            ASSERT_EQ(dst.Width(), r[2] - r[0] + 1);
            ASSERT_EQ(dst.Height(), r[3] - r[1] + 1);
            const size_t rowBytes = size_t(dst.Width()) * size_t(ImgBytesPerPixel[format]);
            for (int32_t y = 0; y < dst.Height(); ++y)
                ASSERT_EQ(memcmp(PixelBytes(dst, 0, y), PixelBytes(src, r[0], r[1] + y), rowBytes), 0);
        }
    }
    CImgBuff src, dst;
    src.Allocate(10, 8, ImgFormatGray16);
    dst.Allocate(2, 2, ImgFormatGray8);
    void* dstBlock = dst.Pixels();
    const int32_t bad[][4] = {{0, 0, 10, 7}, {0, 0, 9, 8}, {5, 0, 4, 7}, {0, 5, 9, 4}, {-1, 0, 3, 3}, {0, -1, 3, 3}};
    for (const auto& r : bad) {
        EXPECT_EQ(src.Crop(dst, r[0], r[1], r[2], r[3]), 0);
        EXPECT_EQ(dst.Pixels(), dstBlock);  // untouched
        EXPECT_EQ(dst.Format(), ImgFormatGray8);
    }
    CImgBuff empty;
    EXPECT_EQ(empty.Crop(dst, 0, 0, 0, 0), 0);
    FailImgOpsAllocationForTesting(1);
    EXPECT_EQ(src.Crop(dst, 0, 0, 1, 1), 0);
    FailImgOpsAllocationForTesting(0);
    EXPECT_EQ(dst.Format(), 0);     // emptied by the failed allocation
}

// Cropping into the source handle reads the source before its block is replaced.
TEST(ImgCrop, IntoItself)
{
    CImgBuff p, ref;
    p.Allocate(80, 70, ImgFormatRgb24);
    FillRandom(p, 11);
    p.Crop(ref, 5, 6, 50, 60);
    ASSERT_EQ(p.Crop(p, 5, 6, 50, 60), 1);
    EXPECT_EQ(p.Width(), 46);
    EXPECT_EQ(p.Height(), 55);
    EXPECT_EQ(Snapshot(p), Snapshot(ref));
    // A refused allocation leaves the picture as it was.
    std::vector<uint8_t> before = Snapshot(p);
    FailImgOpsAllocationForTesting(1);
    EXPECT_EQ(p.Crop(p, 0, 0, 3, 3), 0);
    FailImgOpsAllocationForTesting(0);
    EXPECT_EQ(Snapshot(p), before);
}

TEST(ImgPaste, PlacementAndRefusals)
{
    CImgBuff dst, src;
    dst.Allocate(100, 100, ImgFormatRgb24);
    src.Allocate(10, 10, ImgFormatRgb24);
    FillRandom(src, 21);
    ASSERT_EQ(dst.Paste(src, 90, 90), 1);
    for (int32_t y = 0; y < 10; ++y)
        ASSERT_EQ(memcmp(PixelBytes(dst, 90, y + 90), PixelBytes(src, 0, y), 30), 0);
    // Nothing else was touched.
    uint64_t nonzero = 0;
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 100; ++x)
            if ((x < 90 || y < 90) && (PixelBytes(dst, x, y)[0] | PixelBytes(dst, x, y)[1] | PixelBytes(dst, x, y)[2]))
                ++nonzero;
    EXPECT_EQ(nonzero, 0u);

    std::vector<uint8_t> before = Snapshot(dst);
    const int32_t bad[][2] = {{91, 90}, {90, 91}, {-1, 0}, {0, -1}, {2147483647, 0}};
    for (const auto& at : bad) {
        EXPECT_EQ(dst.Paste(src, at[0], at[1]), 0);
        EXPECT_EQ(Snapshot(dst), before);
    }
    CImgBuff empty;
    EXPECT_EQ(dst.Paste(empty, 0, 0), 0);
    EXPECT_EQ(empty.Paste(src, 0, 0), 0);
    EXPECT_EQ(dst.Paste(dst, 0, 0), 1);     // onto itself: nothing to move
    EXPECT_EQ(Snapshot(dst), before);
}

// Another format: each pixel is the destination format's getter of the source pixel.
TEST(ImgPaste, ConvertsToTheDestinationFormat)
{
    for (int32_t from = 1; from <= 9; ++from) {
        for (int32_t to = 1; to <= 9; ++to) {
            SCOPED_TRACE(testing::Message() << from << " into " << to);
            CImgBuff dst, src;
            dst.Allocate(70, 64, to);
            src.Allocate(9, 5, from);
            FillRandom(src, uint32_t(from + 100 * to));
            ASSERT_EQ(dst.Paste(src, 61, 59), 1);
            EXPECT_EQ(dst.Format(), to);
            for (int32_t y = 0; y < 5; ++y)
                for (int32_t x = 0; x < 9; ++x) {
                    std::vector<uint8_t> want = from == to
                        ? std::vector<uint8_t>(PixelBytes(src, x, y), PixelBytes(src, x, y) + ImgBytesPerPixel[to])
                        : GetterBytes(*src.record, x, y, to);
                    ASSERT_EQ(memcmp(PixelBytes(dst, 61 + x, 59 + y), want.data(), want.size()), 0) << x << "," << y;
                }
        }
    }
    // The worked case: Rgb24 into Gray16 stores the 16-bit luma of the widened channels.
    CImgBuff g16, rgb;
    g16.Allocate(2, 2, ImgFormatGray16);
    rgb.Allocate(1, 1, ImgFormatRgb24);
    rgb.SetRGB8(0, 0, 10, 200, 30);
    ASSERT_EQ(g16.Paste(rgb, 1, 1), 1);
    uint16_t v = 0;
    g16.GetGray16(1, 1, &v);
    EXPECT_EQ(v, (299u * 10 * 257 + 587u * 200 * 257 + 114u * 30 * 257 + 500) / 1000);
}

} // namespace
