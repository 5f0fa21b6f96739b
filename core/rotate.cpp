// rotate.cpp - mirroring inside a rectangle and turning whole pictures by quarter turns.
// Pixels move as raw units of the format's size, so one kernel per pixel size serves all
// nine formats.  A quarter turn writes a fresh picture and only then replaces the old
// pixels, so a shortage of memory leaves the picture exactly as it was.
// Inside: pixel-size dispatch - mirror workers - turn workers - quarter turns
#include "core/imgbuff.h"
#include "core/imgops_alloc.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// ---- pixel-size dispatch ------------------------------------------------------------

template <int N>
struct Pixel {
    uint8_t b[N];
};

// Calls f.template operator()<N>() for the pixel size of bytesPerPixel.
template <typename F>
void WithPixelSize(int32_t bytesPerPixel, F&& f)
{
    switch (bytesPerPixel) {
    case 1: f.template operator()<1>(); break;
    case 2: f.template operator()<2>(); break;
    case 3: f.template operator()<3>(); break;
    case 4: f.template operator()<4>(); break;
    case 6: f.template operator()<6>(); break;
    case 12: f.template operator()<12>(); break;
    case 24: f.template operator()<24>(); break;
    default: break;
    }
}

uint8_t* PixelAt(CImgBuff* p, int32_t x, int32_t y, int32_t bpp)
{
    return static_cast<uint8_t*>(p->record->pixels) + (uint64_t(y) * uint64_t(p->record->width) + uint64_t(x)) * uint64_t(bpp);
}

// A turn moves one tile at a time through a scratch tile on the stack: the source tile's
// rows are read whole, turned inside the scratch, and written whole as destination rows.
// Walking down columns directly would stride by the row length, which for power-of-two
// widths lands every access in one cache set and on a new page.  A tile is at most 32 KiB;
// tall tiles write longer runs into each destination row, which lies on a page of its own.
template <int N>
constexpr int32_t TurnRowsPerTile = N == 1 ? 256 : N <= 6 ? 128 : 32;
template <int N>
constexpr int32_t TurnColumnsPerTile = N <= 2 ? 64 : 32;

template <int N, bool Clockwise>
void TurnRows(const RotateJob* job, int32_t firstRow, int32_t endRow)
{
    using P = Pixel<N>;
    constexpr int32_t T = TurnRowsPerTile<N>;
    constexpr int32_t C = TurnColumnsPerTile<N>;
    const int32_t sw = job->sourceWidth;
    const int32_t sh = job->sourceHeight;
    const P* src = static_cast<const P*>(job->source->record->pixels);
    P* dst = static_cast<P*>(job->destination->record->pixels);
    P tile[C * T];      // tile[column][row]: one destination row per source column
    // The destination is sh pixels wide.
    for (int32_t y0 = firstRow; y0 < endRow; y0 += T) {
        const int32_t y1 = std::min(endRow, y0 + T);
        const int32_t rows = y1 - y0;
        for (int32_t x0 = 0; x0 < sw; x0 += C) {
            const int32_t x1 = std::min(sw, x0 + C);
            for (int32_t y = y0; y < y1; ++y) {
                const P* in = src + uint64_t(y) * uint64_t(sw);
                // Clockwise, source row y becomes destination column sh - 1 - y, so the
                // rows of the tile go in backwards.
                const int32_t slot = Clockwise ? y1 - 1 - y : y - y0;
                for (int32_t x = x0; x < x1; ++x) tile[(x - x0) * T + slot] = in[x];
            }
            for (int32_t x = x0; x < x1; ++x) {
                // Clockwise (x, y) -> (sh - 1 - y, x); counter-clockwise (x, y) -> (y, sw - 1 - x).
                P* out = Clockwise ? dst + uint64_t(x) * uint64_t(sh) + uint64_t(sh - y1)
                                   : dst + uint64_t(sw - 1 - x) * uint64_t(sh) + uint64_t(y0);
                memcpy(out, &tile[(x - x0) * T], size_t(rows) * sizeof(P));
            }
        }
    }
}

template <bool Clockwise>
void TurnPiece(RotateJob* job, uint64_t first, uint64_t count)
{
    WithPixelSize(job->bytesPerPixel, [&]<int N>() {
        TurnRows<N, Clockwise>(job, int32_t(first), int32_t(first + count));
    });
}

void MirrorPiece(void* ctx, uint64_t first, uint64_t count) { MirrorRows(static_cast<FlipJob*>(ctx), first, count); }
void SwapPiece(void* ctx, uint64_t first, uint64_t count) { SwapRows(static_cast<FlipJob*>(ctx), first, count); }
void CwPiece(void* ctx, uint64_t first, uint64_t count) { RotateRowsCw(static_cast<RotateJob*>(ctx), first, count); }
void CcwPiece(void* ctx, uint64_t first, uint64_t count) { RotateRowsCcw(static_cast<RotateJob*>(ctx), first, count); }

} // namespace

// ---- mirror workers -----------------------------------------------------------------

void MirrorRows(FlipJob* job, uint64_t first, uint64_t count)
{
    const int32_t bpp = ImgBytesPerPixel[job->picture->record->format];
    WithPixelSize(bpp, [&]<int N>() {
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = job->y0 + int32_t(i);
            auto left = reinterpret_cast<Pixel<N>*>(PixelAt(job->picture, job->x0, y, N));
            std::reverse(left, left + (job->x1 - job->x0 + 1));
        }
    });
}

void SwapRows(FlipJob* job, uint64_t first, uint64_t count)
{
    const int32_t bpp = ImgBytesPerPixel[job->picture->record->format];
    const uint64_t bytes = uint64_t(job->x1 - job->x0 + 1) * uint64_t(bpp);
    // The exchange goes through a scratch block on the stack, a piece at a time: it cannot
    // fail, so a half turn is never left mirrored but not swapped.
    uint8_t scratch[4096];
    for (uint64_t i = first; i < first + count; ++i) {
        uint8_t* a = PixelAt(job->picture, job->x0, job->y0 + int32_t(i), bpp);
        uint8_t* b = PixelAt(job->picture, job->x0, job->y1 - int32_t(i), bpp);
        if (a == b) continue;
        for (uint64_t done = 0; done < bytes; done += sizeof scratch) {
            const uint64_t n = std::min<uint64_t>(sizeof scratch, bytes - done);
            memcpy(scratch, a + done, n);
            memcpy(a + done, b + done, n);
            memcpy(b + done, scratch, n);
        }
    }
}

// ---- turn workers -------------------------------------------------------------------

void RotateRowsCw(RotateJob* job, uint64_t first, uint64_t count) { TurnPiece<true>(job, first, count); }
void RotateRowsCcw(RotateJob* job, uint64_t first, uint64_t count) { TurnPiece<false>(job, first, count); }

// ---- quarter turns ------------------------------------------------------------------

int32_t RotateImageQuarterTurns(CImgBuff* picture, int32_t turns)
{
    if (!picture) return 0;
    C_ImgBuff* rec = picture->record;
    if (rec->format < 1 || rec->format >= ImgFormatCount || rec->width < 1 || rec->height < 1 || !rec->pixels)
        return 0;
    const int32_t r = turns % 4;    // keeps the sign: -3 .. 3
    if (r == 0) return 1;
    if (r == 2 || r == -2) {
        // A half turn is a left-right mirror of every row and a top-bottom exchange, in place.
        FlipJob flip{picture, 0, 0, rec->width - 1, rec->height - 1};
        ParallelFor(MirrorPiece, &flip, uint64_t(rec->height));
        ParallelFor(SwapPiece, &flip, uint64_t(rec->height / 2));
        return 1;
    }
    // A quarter turn: the turned picture is made in full before the old pixels are let go.
    CImgBuff turned;
    if (!AllocateForImgOps(turned.record, rec->height, rec->width, rec->format)) return 0;
    RotateJob job{picture, &turned, rec->width, rec->height, ImgBytesPerPixel[rec->format], rec->format};
    const bool clockwise = r == 1 || r == -3;
    ParallelFor(clockwise ? CwPiece : CcwPiece, &job, uint64_t(rec->height));
    C_ImgBuff* t = turned.record;
    std::swap(rec->format, t->format);
    std::swap(rec->width, t->width);
    std::swap(rec->height, t->height);
    std::swap(rec->pixels, t->pixels);   // the old block leaves with `turned`
    return 1;
}
