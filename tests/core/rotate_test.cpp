// rotate_test.cpp - mirror workers and quarter turns in all nine formats, against a plain
// per-pixel reference, on pictures small (inline) and large enough for the worker pool.
#include "core/imgbuff.h"
#include "core/imgops_alloc.h"
#include "core/parallel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

uint64_t Bytes(const CImgBuff& p)
{
    return uint64_t(p.Width()) * uint64_t(p.Height()) * uint64_t(ImgBytesPerPixel[p.Format()]);
}

std::vector<uint8_t> Snapshot(const CImgBuff& p)
{
    auto b = static_cast<const uint8_t*>(p.Pixels());
    return std::vector<uint8_t>(b, b + Bytes(p));
}

void FillRandom(CImgBuff& p, uint32_t seed)
{
    std::mt19937 rng(seed);
    auto b = static_cast<uint8_t*>(p.Pixels());
    for (uint64_t i = 0; i < Bytes(p); ++i) b[i] = uint8_t(rng());
}

CImgBuff* MakeGray(int32_t w, int32_t h, std::initializer_list<uint8_t> values)
{
    auto p = new CImgBuff;
    p->Allocate(w, h, ImgFormatGray8);
    memcpy(p->Pixels(), values.begin(), values.size());
    return p;
}

// Reference turn: one pixel at a time, clockwise quarter turns r = 0..3.
std::vector<uint8_t> ReferenceTurn(const std::vector<uint8_t>& px, int32_t w, int32_t h, int32_t bpp, int32_t r)
{
    std::vector<uint8_t> out(px.size());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int32_t dx, dy, dw;
            switch (r) {
            case 1: dx = h - 1 - y; dy = x; dw = h; break;
            case 2: dx = w - 1 - x; dy = h - 1 - y; dw = w; break;
            case 3: dx = y; dy = w - 1 - x; dw = h; break;
            default: dx = x; dy = y; dw = w; break;
            }
            memcpy(&out[(size_t(dy) * size_t(dw) + size_t(dx)) * size_t(bpp)],
                   &px[(size_t(y) * size_t(w) + size_t(x)) * size_t(bpp)], size_t(bpp));
        }
    return out;
}

TEST(RotateQuarterTurns, WorkedExample)
{
    struct Case {
        int32_t turns;
        int32_t w, h;
        std::vector<uint8_t> rows;
    } cases[] = {
        {1, 2, 3, {4, 1, 5, 2, 6, 3}},
        {5, 2, 3, {4, 1, 5, 2, 6, 3}},
        {-3, 2, 3, {4, 1, 5, 2, 6, 3}},
        {-1, 2, 3, {3, 6, 2, 5, 1, 4}},
        {3, 2, 3, {3, 6, 2, 5, 1, 4}},
        {2, 3, 2, {6, 5, 4, 3, 2, 1}},
        {-2, 3, 2, {6, 5, 4, 3, 2, 1}},
        {0, 3, 2, {1, 2, 3, 4, 5, 6}},
        {4, 3, 2, {1, 2, 3, 4, 5, 6}},
        {-8, 3, 2, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.turns);
        std::unique_ptr<CImgBuff> p(MakeGray(3, 2, {1, 2, 3, 4, 5, 6}));
        void* block = p->Pixels();
        ASSERT_EQ(RotateImageQuarterTurns(p.get(), c.turns), 1);
        EXPECT_EQ(p->Width(), c.w);
        EXPECT_EQ(p->Height(), c.h);
        EXPECT_EQ(Snapshot(*p), c.rows);
        if (c.turns % 2 == 0) {
            EXPECT_EQ(p->Pixels(), block);    // half turns work in place
        }
    }
}

// Every format, odd sizes, inline and pooled: each turn matches the reference, and four
// single turns (or one and its opposite) give the picture back.
TEST(RotateQuarterTurns, AllFormatsMatchReference)
{
    const int32_t sizes[][2] = {{7, 5}, {1, 9}, {131, 77}};
    for (int32_t format = 1; format <= 9; ++format) {
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << "format " << format << " " << s[0] << "x" << s[1]);
            CImgBuff p;
            ASSERT_EQ(p.Allocate(s[0], s[1], format), 1);
            FillRandom(p, uint32_t(format * 31 + s[0]));
            const std::vector<uint8_t> original = Snapshot(p);
            const int32_t bpp = ImgBytesPerPixel[format];
            for (int32_t turns : {1, 2, 3, -1, -2}) {
                CImgBuff q;
                q.CopyFrom(p);
                ASSERT_EQ(RotateImageQuarterTurns(&q, turns), 1);
                const int32_t r = ((turns % 4) + 4) % 4;
                EXPECT_EQ(q.Width(), r % 2 ? s[1] : s[0]);
                EXPECT_EQ(q.Format(), format);
                EXPECT_EQ(Snapshot(q), ReferenceTurn(original, s[0], s[1], bpp, r)) << "turns " << turns;
            }
            for (int i = 0; i < 4; ++i) ASSERT_EQ(RotateImageQuarterTurns(&p, 1), 1);
            EXPECT_EQ(Snapshot(p), original);
            RotateImageQuarterTurns(&p, 1);
            RotateImageQuarterTurns(&p, -1);
            EXPECT_EQ(p.Width(), s[0]);
            EXPECT_EQ(Snapshot(p), original);
        }
    }
}

TEST(RotateQuarterTurns, RefusalsChangeNothing)
{
    CImgBuff empty;
    EXPECT_EQ(RotateImageQuarterTurns(&empty, 1), 0);
    EXPECT_EQ(RotateImageQuarterTurns(&empty, 2), 0);
    EXPECT_EQ(RotateImageQuarterTurns(nullptr, 1), 0);

    // Memory shortage for the turned picture: the picture stays exactly as it was.
    CImgBuff p;
    p.Allocate(70, 90, ImgFormatRgb48);
    FillRandom(p, 9);
    const std::vector<uint8_t> before = Snapshot(p);
    void* block = p.Pixels();
    for (int32_t turns : {1, -1, 3}) {
        FailImgOpsAllocationForTesting(1);
        EXPECT_EQ(RotateImageQuarterTurns(&p, turns), 0);
        FailImgOpsAllocationForTesting(0);
        EXPECT_EQ(p.Width(), 70);
        EXPECT_EQ(p.Height(), 90);
        EXPECT_EQ(p.Format(), ImgFormatRgb48);
        EXPECT_EQ(p.Pixels(), block);
        EXPECT_EQ(Snapshot(p), before);
    }
}

// The workers on a rectangle inside a larger picture: only the rectangle moves.
TEST(MirrorWorkers, RectangleInsidePicture)
{
    for (int32_t format : {ImgFormatGray8, ImgFormatRgb24, ImgFormatXyz}) {
        SCOPED_TRACE(format);
        const int32_t bpp = ImgBytesPerPixel[format];
        // 300 XYZ pixels make rows of 7200 bytes: longer than one exchange piece.
        CImgBuff p;
        p.Allocate(300, 9, format);
        FillRandom(p, 4);
        const std::vector<uint8_t> before = Snapshot(p);
        auto at = [&](const std::vector<uint8_t>& v, int32_t x, int32_t y) {
            return std::vector<uint8_t>(v.begin() + (y * 300 + x) * bpp, v.begin() + (y * 300 + x + 1) * bpp);
        };
        FlipJob job{&p, 2, 1, 296, 7};  // 295 wide, 7 high
        MirrorRows(&job, 0, 7);
        SwapRows(&job, 0, 7 / 2);
        const std::vector<uint8_t> after = Snapshot(p);
        for (int32_t y = 0; y < 9; ++y)
            for (int32_t x = 0; x < 300; ++x) {
                bool inside = x >= 2 && x <= 296 && y >= 1 && y <= 7;
                int32_t sx = inside ? 2 + 296 - x : x;
                int32_t sy = inside ? 1 + 7 - y : y;    // the middle row 4 only mirrors
                ASSERT_EQ(at(after, x, y), at(before, sx, sy)) << x << "," << y;
            }
    }
    // A one-pixel-wide mirror changes nothing.
    CImgBuff p;
    p.Allocate(5, 5, ImgFormatGray16);
    FillRandom(p, 2);
    const std::vector<uint8_t> before = Snapshot(p);
    FlipJob thin{&p, 3, 0, 3, 4};
    MirrorRows(&thin, 0, 5);
    EXPECT_EQ(Snapshot(p), before);
}

// With one worker a piece holds every row, so the turn walks several tiles down the
// picture, the last one partly filled.
TEST(RotateQuarterTurns, TallPieceOnOneWorker)
{
    const uint64_t all = ActiveWorkerCount();
    SetWorkerCount(1);
    for (int32_t format = 1; format <= 9; ++format) {
        SCOPED_TRACE(format);
        CImgBuff p;
        p.Allocate(97, 530, format);
        FillRandom(p, uint32_t(format));
        const std::vector<uint8_t> original = Snapshot(p);
        for (int32_t turns : {1, -1}) {
            CImgBuff q;
            q.CopyFrom(p);
            ASSERT_EQ(RotateImageQuarterTurns(&q, turns), 1);
            EXPECT_EQ(Snapshot(q), ReferenceTurn(original, 97, 530, ImgBytesPerPixel[format], turns == 1 ? 1 : 3));
        }
    }
    if (all > 0) SetWorkerCount(all);
}

// The same turn with one worker and with all of them gives the same bytes.
TEST(RotateQuarterTurns, SameResultWithOneOrAllWorkers)
{
    CImgBuff p;
    p.Allocate(515, 263, ImgFormatRgb24);
    FillRandom(p, 77);
    const uint64_t all = ActiveWorkerCount();
    std::vector<uint8_t> results[2];
    for (int i = 0; i < 2; ++i) {
        SetWorkerCount(i == 0 ? 1 : (all > 0 ? all : 1));
        CImgBuff q;
        q.CopyFrom(p);
        RotateImageQuarterTurns(&q, 1);
        q.record->ConvertTo(ImgFormatGray8);
        results[i] = Snapshot(q);
    }
    if (all > 0) SetWorkerCount(all);
    EXPECT_EQ(results[0], results[1]);
}

} // namespace
