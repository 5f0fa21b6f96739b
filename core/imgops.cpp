// imgops.cpp - whole-picture operations: copy, format conversion, canvas resize, crop, paste.
// Conversions choose one row kernel per (source, target) pair before the row loop: direct
// kernels for depth changes, gray replication and luma; the per-pixel getters of the target
// format for every other pair.  The direct kernels give exactly what the getters give.
// Inside: allocation hook - row kernels - kernel choice - record operations - handle operations
#include "core/imgbuff.h"
#include "core/imgops_alloc.h"
#include "core/parallel.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define QV_IMGOPS_X86 1
#include <immintrin.h>
#endif
#include <type_traits>
#include <utility>

// ---- allocation hook ----------------------------------------------------------------

namespace {
std::atomic<int32_t> g_failCountdown{0};
}

namespace {
// 1 when the failure hook says this allocation fails (the record is then emptied).
bool HookRefuses(C_ImgBuff* record)
{
    int32_t left = g_failCountdown.load();
    while (left > 0 && !g_failCountdown.compare_exchange_weak(left, left - 1)) {
    }
    if (left != 1) return false;
    record->Allocate(0, 0, 0);  // empties the record, as a refused block does
    return true;
}
}

int32_t AllocateForImgOps(C_ImgBuff* record, int32_t width, int32_t height, int32_t format)
{
    if (HookRefuses(record)) return 0;
    return record->Allocate(width, height, format);
}

int32_t AllocateUnclearedForImgOps(C_ImgBuff* record, int32_t width, int32_t height, int32_t format)
{
    if (HookRefuses(record)) return 0;
    return record->AllocateUncleared(width, height, format);
}

void FailImgOpsAllocationForTesting(int32_t n) { g_failCountdown.store(n > 0 ? n : 0); }

namespace {

// ---- row kernels --------------------------------------------------------------------

// Converts source row y, all of it, into out in the target format.
typedef void (*ConvertRowFn)(const C_ImgBuff* src, int32_t y, uint8_t* out);
// A typed row kernel: n samples (or pixels, as its name says) from s into d.
typedef void (*SampleRowFn)(const uint8_t* s, uint8_t* d, int64_t n);

template <typename T>
const T* RowOf(const C_ImgBuff* src, int32_t y, int32_t channels)
{
    return static_cast<const T*>(src->pixels) + uint64_t(y) * uint64_t(src->width) * uint64_t(channels);
}

// Widening replicates bits, narrowing keeps the high part (8, 16 and 32-bit channels).
template <typename S, typename D>
inline D Rescale(S v)
{
    if constexpr (sizeof(S) == sizeof(D)) return D(v);
    else if constexpr (sizeof(S) == 1 && sizeof(D) == 2) return D(v * 257u);
    else if constexpr (sizeof(S) == 2 && sizeof(D) == 4) return D(uint32_t(v) * 65537u);
    else if constexpr (sizeof(S) == 1 && sizeof(D) == 4) return D(uint32_t(v) * 16843009u);
    else if constexpr (sizeof(S) == 2 && sizeof(D) == 1) return D(v >> 8);
    else if constexpr (sizeof(S) == 4 && sizeof(D) == 2) return D(v >> 16);
    else return D(v >> 24);
}

// Same channel count, another depth (gray to gray, RGB to RGB).
template <typename S, typename D, int Channels>
void DepthRow(const C_ImgBuff* src, int32_t y, uint8_t* out)
{
    const S* s = RowOf<S>(src, y, Channels);
    D* d = reinterpret_cast<D*>(out);
    const int64_t n = int64_t(src->width) * Channels;
    for (int64_t i = 0; i < n; ++i) d[i] = Rescale<S, D>(s[i]);
}

// Gray into all three channels, at the target depth.
template <typename S, typename D>
void ReplicateRow(const C_ImgBuff* src, int32_t y, uint8_t* out)
{
    const S* s = RowOf<S>(src, y, 1);
    D* d = reinterpret_cast<D*>(out);
    const int32_t w = src->width;
    for (int32_t i = 0; i < w; ++i) {
        D v = Rescale<S, D>(s[i]);
        d[3 * i] = v;
        d[3 * i + 1] = v;
        d[3 * i + 2] = v;
    }
}

// (299 R + 587 G + 114 B + 500) / 1000 at the source depth; 64-bit sums cover 32-bit channels.
template <typename T>
void LumaRow(const C_ImgBuff* src, int32_t y, uint8_t* out)
{
    const T* s = RowOf<T>(src, y, 3);
    T* d = reinterpret_cast<T*>(out);
    const int32_t w = src->width;
    for (int32_t i = 0; i < w; ++i) {
        using Acc = std::conditional_t<sizeof(T) == 4, uint64_t, uint32_t>;
        Acc sum = Acc(299) * s[3 * i] + Acc(587) * s[3 * i + 1] + Acc(114) * s[3 * i + 2] + 500;
        d[i] = T(sum / 1000);
    }
}

// ---- vector row kernels -------------------------------------------------------------
// The pairs that video frames and the engine's working formats go through, in SIMD steps
// (SSE2 is always there on x86-64; SSSE3 and AVX2 are asked of the processor once).  Each
// kernel finishes its row with the scalar rule, and every step gives exactly that rule's
// result, so the kernels above stay the reference the tests hold these to.

bool HasSsse3()
{
#ifdef QV_IMGOPS_X86
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
#else
    return false;
#endif
}

bool HasAvx2()
{
#ifdef QV_IMGOPS_X86
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

// 8 to 16 bits: v * 257 is the byte beside itself.
void Widen8To16Samples(const uint8_t* s, uint8_t* out, int64_t n)
{
    uint16_t* d = reinterpret_cast<uint16_t*>(out);
    int64_t i = 0;
#ifdef QV_IMGOPS_X86
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_unpacklo_epi8(v, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), _mm_unpackhi_epi8(v, v));
    }
#endif
    for (; i < n; ++i) d[i] = Rescale<uint8_t, uint16_t>(s[i]);
}

// 16 to 8 bits: the high byte.
void Narrow16To8Samples(const uint8_t* in, uint8_t* d, int64_t n)
{
    const uint16_t* s = reinterpret_cast<const uint16_t*>(in);
    int64_t i = 0;
#ifdef QV_IMGOPS_X86
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), 8);
        const __m128i b = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8)), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < n; ++i) d[i] = Rescale<uint16_t, uint8_t>(s[i]);
}

#ifdef QV_IMGOPS_X86
// Byte shuffles that spread 16 grays over 48 RGB bytes, and 8 16-bit grays over 24 words.
alignas(16) constexpr int8_t kSpreadBytes[3][16] = {
    {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5},
    {5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10},
    {10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15},
};
alignas(16) constexpr int8_t kSpreadWords[3][16] = {
    {0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5},
    {4, 5, 6, 7, 6, 7, 6, 7, 8, 9, 8, 9, 8, 9, 10, 11},
    {10, 11, 10, 11, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15},
};

__attribute__((target("ssse3"))) inline __m128i Mask(const int8_t (&m)[16])
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

__attribute__((target("ssse3"))) int64_t Gray8ToRgb24Ssse3(const uint8_t* s, uint8_t* d, int64_t n)
{
    const __m128i m0 = Mask(kSpreadBytes[0]), m1 = Mask(kSpreadBytes[1]), m2 = Mask(kSpreadBytes[2]);
    int64_t i = 0;
    for (; i + 16 <= n; i += 16, d += 48) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_shuffle_epi8(v, m0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_shuffle_epi8(v, m1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_shuffle_epi8(v, m2));
    }
    return i;
}

// Eight 16-bit grays in w to 24 words at d.
__attribute__((target("ssse3"))) inline void SpreadWords(__m128i w, uint8_t* d, __m128i m0, __m128i m1, __m128i m2)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_shuffle_epi8(w, m0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_shuffle_epi8(w, m1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_shuffle_epi8(w, m2));
}

__attribute__((target("ssse3"))) int64_t Gray8ToRgb48Ssse3(const uint8_t* s, uint8_t* d, int64_t n)
{
    const __m128i m0 = Mask(kSpreadWords[0]), m1 = Mask(kSpreadWords[1]), m2 = Mask(kSpreadWords[2]);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8, d += 48) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
        SpreadWords(_mm_unpacklo_epi8(v, v), d, m0, m1, m2);
    }
    return i;
}

__attribute__((target("ssse3"))) int64_t Gray16ToRgb48Ssse3(const uint8_t* s, uint8_t* d, int64_t n)
{
    const __m128i m0 = Mask(kSpreadWords[0]), m1 = Mask(kSpreadWords[1]), m2 = Mask(kSpreadWords[2]);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8, d += 48)
        SpreadWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i)), d, m0, m1, m2);
    return i;
}

// Luma of 8-bit RGB exactly: 299 R + 587 G + 114 B = 8 (37 R + 73 G + 14 B) + (3 R + 3 G + 2 B),
// so (sum + 500) / 1000 = (main + 62 + (rest + 4) / 8) / 125 with every coefficient a signed
// byte for the byte-pair multiply-adds and every partial sum inside a 16-bit lane; the last
// division is a multiply-high by 33555 and a shift of 6, exact for these sums.  Pixels 0..4
// of a step come from the 16 bytes at p, pixels 5..7 from the 16 bytes at p + 8.
alignas(16) constexpr int8_t kLumaShuffles[4][16] = {
    {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, -1, -1, -1, -1, -1, -1},     // R, G of pixels 0..4
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, 8, 10, 11, 13, 14},  // R, G of pixels 5..7
    {2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1},   // B, 0 of pixels 0..4
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, -1, 12, -1, 15, -1},  // B, 0 of pixels 5..7
};
constexpr int16_t kLumaRg = int16_t(73 << 8 | 37), kLumaRestRg = int16_t(3 << 8 | 3);
constexpr int16_t kLumaB = 14, kLumaRestB = 2;

__attribute__((target("ssse3"))) int64_t Rgb24ToGray8Ssse3(const uint8_t* p, uint8_t* d, int64_t n)
{
    const __m128i rgLo = Mask(kLumaShuffles[0]), rgHi = Mask(kLumaShuffles[1]);
    const __m128i bLo = Mask(kLumaShuffles[2]), bHi = Mask(kLumaShuffles[3]);
    const __m128i kRg = _mm_set1_epi16(kLumaRg), kB = _mm_set1_epi16(kLumaB);
    const __m128i kRestRg = _mm_set1_epi16(kLumaRestRg), kRestB = _mm_set1_epi16(kLumaRestB);
    const __m128i c62 = _mm_set1_epi16(62), c4 = _mm_set1_epi16(4), c33555 = _mm_set1_epi16(int16_t(33555));
    int64_t i = 0;
    for (; i + 8 <= n; i += 8, p += 24) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        const __m128i rg = _mm_or_si128(_mm_shuffle_epi8(lo, rgLo), _mm_shuffle_epi8(hi, rgHi));
        const __m128i b = _mm_or_si128(_mm_shuffle_epi8(lo, bLo), _mm_shuffle_epi8(hi, bHi));
        const __m128i main = _mm_add_epi16(_mm_maddubs_epi16(rg, kRg), _mm_maddubs_epi16(b, kB));
        const __m128i rest = _mm_add_epi16(_mm_maddubs_epi16(rg, kRestRg), _mm_maddubs_epi16(b, kRestB));
        const __m128i eighth = _mm_add_epi16(_mm_add_epi16(main, c62), _mm_srli_epi16(_mm_add_epi16(rest, c4), 3));
        const __m128i grey = _mm_srli_epi16(_mm_mulhi_epu16(eighth, c33555), 6);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(grey, grey));
    }
    return i;
}

__attribute__((target("avx2"))) inline __m256i Mask2(const int8_t (&m)[16])
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m)));
}

__attribute__((target("avx2"))) inline __m256i LoadHalves(const uint8_t* a, const uint8_t* b)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// Sixteen pixels a step: each 128-bit half does the SSSE3 step, pixels 0..7 from p and
// 8..15 from p + 24.
__attribute__((target("avx2"))) int64_t Rgb24ToGray8Avx2(const uint8_t* p, uint8_t* d, int64_t n)
{
    const __m256i rgLo = Mask2(kLumaShuffles[0]), rgHi = Mask2(kLumaShuffles[1]);
    const __m256i bLo = Mask2(kLumaShuffles[2]), bHi = Mask2(kLumaShuffles[3]);
    const __m256i kRg = _mm256_set1_epi16(kLumaRg), kB = _mm256_set1_epi16(kLumaB);
    const __m256i kRestRg = _mm256_set1_epi16(kLumaRestRg), kRestB = _mm256_set1_epi16(kLumaRestB);
    const __m256i c62 = _mm256_set1_epi16(62), c4 = _mm256_set1_epi16(4);
    const __m256i c33555 = _mm256_set1_epi16(int16_t(33555));
    int64_t i = 0;
    for (; i + 16 <= n; i += 16, p += 48) {
        const __m256i lo = LoadHalves(p, p + 24);
        const __m256i hi = LoadHalves(p + 8, p + 32);
        const __m256i rg = _mm256_or_si256(_mm256_shuffle_epi8(lo, rgLo), _mm256_shuffle_epi8(hi, rgHi));
        const __m256i b = _mm256_or_si256(_mm256_shuffle_epi8(lo, bLo), _mm256_shuffle_epi8(hi, bHi));
        const __m256i main = _mm256_add_epi16(_mm256_maddubs_epi16(rg, kRg), _mm256_maddubs_epi16(b, kB));
        const __m256i rest = _mm256_add_epi16(_mm256_maddubs_epi16(rg, kRestRg), _mm256_maddubs_epi16(b, kRestB));
        const __m256i eighth =
            _mm256_add_epi16(_mm256_add_epi16(main, c62), _mm256_srli_epi16(_mm256_add_epi16(rest, c4), 3));
        const __m256i grey = _mm256_srli_epi16(_mm256_mulhi_epu16(eighth, c33555), 6);
        // Bytes 0..7 of each half hold the half's eight grays.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(grey, grey), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm256_castsi256_si128(bytes));
    }
    return i;
}
#endif

void Gray8ToRgb24Pixels(const uint8_t* s, uint8_t* d, int64_t n)
{
    int64_t i = 0;
#ifdef QV_IMGOPS_X86
    if (HasSsse3()) i = Gray8ToRgb24Ssse3(s, d, n);
#endif
    for (; i < n; ++i) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = s[i];
}

void Gray8ToRgb48Pixels(const uint8_t* s, uint8_t* out, int64_t n)
{
    int64_t i = 0;
#ifdef QV_IMGOPS_X86
    if (HasSsse3()) i = Gray8ToRgb48Ssse3(s, out, n);
#endif
    uint16_t* d = reinterpret_cast<uint16_t*>(out);
    for (; i < n; ++i) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = Rescale<uint8_t, uint16_t>(s[i]);
}

void Gray16ToRgb48Pixels(const uint8_t* in, uint8_t* out, int64_t n)
{
    int64_t i = 0;
#ifdef QV_IMGOPS_X86
    if (HasSsse3()) i = Gray16ToRgb48Ssse3(in, out, n);
#endif
    const uint16_t* s = reinterpret_cast<const uint16_t*>(in);
    uint16_t* d = reinterpret_cast<uint16_t*>(out);
    for (; i < n; ++i) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = s[i];
}

void Rgb24ToGray8Pixels(const uint8_t* s, uint8_t* d, int64_t n)
{
    int64_t i = 0;
#ifdef QV_IMGOPS_X86
    if (HasAvx2()) i = Rgb24ToGray8Avx2(s, d, n);
    if (HasSsse3()) i += Rgb24ToGray8Ssse3(s + 3 * i, d + i, n - i);
#endif
    for (; i < n; ++i) d[i] = uint8_t((299u * s[3 * i] + 587u * s[3 * i + 1] + 114u * s[3 * i + 2] + 500u) / 1000u);
}

// Row adapter: a typed kernel over source row y; Samples per pixel are handed to it.
template <SampleRowFn Kernel, int SourceBytes, int Samples>
void VectorRow(const C_ImgBuff* src, int32_t y, uint8_t* out)
{
    const uint8_t* s = static_cast<const uint8_t*>(src->pixels) + uint64_t(y) * uint64_t(src->width) * SourceBytes;
    Kernel(s, out, int64_t(src->width) * Samples);
}

// The reference rule: every pixel read with the target format's getter, stored as it comes.
template <int Target>
void GetterRow(const C_ImgBuff* src, int32_t y, uint8_t* out)
{
    const int32_t w = src->width;
    for (int32_t x = 0; x < w; ++x) {
        if constexpr (Target == ImgFormatGray8) {
            uint8_t v = 0;
            src->GetGray8(x, y, &v);
            out[x] = v;
        } else if constexpr (Target == ImgFormatGray16) {
            uint16_t v = 0;
            src->GetGray16(x, y, &v);
            reinterpret_cast<uint16_t*>(out)[x] = v;
        } else if constexpr (Target == ImgFormatGray32) {
            uint32_t v = 0;
            src->GetGray32(x, y, &v);
            reinterpret_cast<uint32_t*>(out)[x] = v;
        } else if constexpr (Target == ImgFormatRgb24) {
            uint8_t r = 0, g = 0, b = 0;
            src->GetRGB8(x, y, &r, &g, &b);
            out[3 * x] = r;
            out[3 * x + 1] = g;
            out[3 * x + 2] = b;
        } else if constexpr (Target == ImgFormatRgb48) {
            uint16_t r = 0, g = 0, b = 0;
            src->GetRGB16(x, y, &r, &g, &b);
            uint16_t* d = reinterpret_cast<uint16_t*>(out) + 3 * x;
            d[0] = r;
            d[1] = g;
            d[2] = b;
        } else if constexpr (Target == ImgFormatRgb96) {
            uint32_t r = 0, g = 0, b = 0;
            src->GetRGB32(x, y, &r, &g, &b);
            uint32_t* d = reinterpret_cast<uint32_t*>(out) + 3 * x;
            d[0] = r;
            d[1] = g;
            d[2] = b;
        } else if constexpr (Target == ImgFormatXyz) {
            double X = 0, Y = 0, Z = 0;
            src->GetXYZ(x, y, &X, &Y, &Z);
            double* d = reinterpret_cast<double*>(out) + 3 * x;
            d[0] = X;
            d[1] = Y;
            d[2] = Z;
        } else if constexpr (Target == ImgFormatHsv48) {
            uint16_t h = 0, s = 0, v = 0;
            src->GetHSV16(x, y, &h, &s, &v);
            uint16_t* d = reinterpret_cast<uint16_t*>(out) + 3 * x;
            d[0] = h;
            d[1] = s;
            d[2] = v;
        } else {
            uint8_t c = 0, m = 0, ye = 0, k = 0;
            src->GetCMYK8(x, y, &c, &m, &ye, &k);
            out[4 * x] = c;
            out[4 * x + 1] = m;
            out[4 * x + 2] = ye;
            out[4 * x + 3] = k;
        }
    }
}

// ---- kernel choice ------------------------------------------------------------------

ConvertRowFn GetterKernel(int32_t target)
{
    switch (target) {
    case ImgFormatGray8: return GetterRow<ImgFormatGray8>;
    case ImgFormatGray16: return GetterRow<ImgFormatGray16>;
    case ImgFormatGray32: return GetterRow<ImgFormatGray32>;
    case ImgFormatRgb24: return GetterRow<ImgFormatRgb24>;
    case ImgFormatRgb48: return GetterRow<ImgFormatRgb48>;
    case ImgFormatRgb96: return GetterRow<ImgFormatRgb96>;
    case ImgFormatXyz: return GetterRow<ImgFormatXyz>;
    case ImgFormatHsv48: return GetterRow<ImgFormatHsv48>;
    default: return GetterRow<ImgFormatCmyk32>;
    }
}

// Direct kernels of the integer gray and RGB formats; null where only the getters apply.
// Rows are source format 1..6, columns target format 1..6.
#define QV_D(S, D, C) DepthRow<S, D, C>
#define QV_R(S, D) ReplicateRow<S, D>
const ConvertRowFn kDirect[6][6] = {
    // to Gray8              Gray16                    Gray32                    Rgb24                  Rgb48                   Rgb96
    {nullptr, QV_D(uint8_t, uint16_t, 1), QV_D(uint8_t, uint32_t, 1), QV_R(uint8_t, uint8_t), QV_R(uint8_t, uint16_t), QV_R(uint8_t, uint32_t)},
    {QV_D(uint16_t, uint8_t, 1), nullptr, QV_D(uint16_t, uint32_t, 1), QV_R(uint16_t, uint8_t), QV_R(uint16_t, uint16_t), QV_R(uint16_t, uint32_t)},
    {QV_D(uint32_t, uint8_t, 1), QV_D(uint32_t, uint16_t, 1), nullptr, QV_R(uint32_t, uint8_t), QV_R(uint32_t, uint16_t), QV_R(uint32_t, uint32_t)},
    {LumaRow<uint8_t>, nullptr, nullptr, nullptr, QV_D(uint8_t, uint16_t, 3), QV_D(uint8_t, uint32_t, 3)},
    {nullptr, LumaRow<uint16_t>, nullptr, QV_D(uint16_t, uint8_t, 3), nullptr, QV_D(uint16_t, uint32_t, 3)},
    {nullptr, nullptr, LumaRow<uint32_t>, QV_D(uint32_t, uint8_t, 3), QV_D(uint32_t, uint16_t, 3), nullptr},
};
#undef QV_D
#undef QV_R

// The vector kernels of the hot pairs, where they replace a direct kernel above.
ConvertRowFn VectorKernel(int32_t source, int32_t target)
{
    switch (source * 16 + target) {
    case ImgFormatGray8 * 16 + ImgFormatGray16: return VectorRow<Widen8To16Samples, 1, 1>;
    case ImgFormatGray8 * 16 + ImgFormatRgb24: return VectorRow<Gray8ToRgb24Pixels, 1, 1>;
    case ImgFormatGray8 * 16 + ImgFormatRgb48: return VectorRow<Gray8ToRgb48Pixels, 1, 1>;
    case ImgFormatGray16 * 16 + ImgFormatGray8: return VectorRow<Narrow16To8Samples, 2, 1>;
    case ImgFormatGray16 * 16 + ImgFormatRgb48: return VectorRow<Gray16ToRgb48Pixels, 2, 1>;
    case ImgFormatRgb24 * 16 + ImgFormatGray8: return VectorRow<Rgb24ToGray8Pixels, 3, 1>;
    case ImgFormatRgb24 * 16 + ImgFormatRgb48: return VectorRow<Widen8To16Samples, 3, 3>;
    case ImgFormatRgb48 * 16 + ImgFormatRgb24: return VectorRow<Narrow16To8Samples, 6, 3>;
    default: return nullptr;
    }
}

// The scalar rule of a pair: its direct kernel, else the target's getters.
ConvertRowFn ScalarKernel(int32_t source, int32_t target)
{
    if (source >= 1 && source <= 6 && target >= 1 && target <= 6 && kDirect[source - 1][target - 1])
        return kDirect[source - 1][target - 1];
    return GetterKernel(target);
}

ConvertRowFn ChooseKernel(int32_t source, int32_t target)
{
    if (ConvertRowFn fast = VectorKernel(source, target)) return fast;
    return ScalarKernel(source, target);
}

bool WorthThePool(int64_t width, int64_t height) { return width * height >= ParallelPixelThreshold; }

void RunRows(ParallelForFn fn, void* ctx, int64_t rows, bool parallel)
{
    if (parallel) ParallelFor(fn, ctx, uint64_t(rows));
    else fn(ctx, 0, uint64_t(rows));
}

uint64_t BytesOf(const C_ImgBuff* p)
{
    return uint64_t(p->width) * uint64_t(p->height) * uint64_t(ImgBytesPerPixel[p->format]);
}

bool ValidFormat(int32_t f) { return f >= 1 && f < ImgFormatCount; }

// Hands the pixels, format and size of `from` to `to`; `to`'s old block goes to `from`.
void ExchangeRecords(C_ImgBuff* to, C_ImgBuff* from)
{
    std::swap(to->format, from->format);
    std::swap(to->width, from->width);
    std::swap(to->height, from->height);
    std::swap(to->pixels, from->pixels);
}

struct ConvertJob {
    const C_ImgBuff* src;
    uint8_t* dst;
    uint64_t dstRowBytes;
    ConvertRowFn row;
};

void ConvertPiece(void* ctx, uint64_t first, uint64_t count)
{
    auto job = static_cast<ConvertJob*>(ctx);
    for (uint64_t y = first; y < first + count; ++y) job->row(job->src, int32_t(y), job->dst + y * job->dstRowBytes);
}

struct CropJob {
    const uint8_t* src;
    uint8_t* dst;
    uint64_t srcRowBytes;
    uint64_t dstRowBytes;
    uint64_t srcOffset;     // byte of (x0, y0)
};

void CropPiece(void* ctx, uint64_t first, uint64_t count)
{
    auto job = static_cast<CropJob*>(ctx);
    for (uint64_t r = first; r < first + count; ++r)
        memcpy(job->dst + r * job->dstRowBytes, job->src + job->srcOffset + r * job->srcRowBytes, job->dstRowBytes);
}

struct PasteJob {
    const C_ImgBuff* src;
    uint8_t* dst;
    uint64_t dstRowBytes;
    uint64_t dstOffset;     // byte of (x, y)
    uint64_t srcRowBytes;
    ConvertRowFn row;       // null: same format, whole-row copies
};

void PastePiece(void* ctx, uint64_t first, uint64_t count)
{
    auto job = static_cast<PasteJob*>(ctx);
    auto src = static_cast<const uint8_t*>(job->src->pixels);
    for (uint64_t r = first; r < first + count; ++r) {
        uint8_t* out = job->dst + job->dstOffset + r * job->dstRowBytes;
        if (job->row) job->row(job->src, int32_t(r), out);
        else memcpy(out, src + r * job->srcRowBytes, job->srcRowBytes);
    }
}

} // namespace

// ---- record operations --------------------------------------------------------------

C_ImgBuff* C_ImgBuff::CopyFrom(const C_ImgBuff& src)
{
    // Copying onto itself would first clear the pixels it is meant to keep.
    if (&src == this) return this;
    if (!AllocateUnclearedForImgOps(this, src.width, src.height, src.format)) return this;
    if (!pixels) return this;   // an empty source on an empty record
    uint64_t n = BytesOf(this);
    if (n >= ParallelByteThreshold) ParallelMemcpy(pixels, src.pixels, n);
    else memcpy(pixels, src.pixels, n);
    return this;
}

int32_t C_ImgBuff::ConvertTo(int32_t target)
{
    if (!ValidFormat(format) || !pixels) return 0;
    if (target == format) return 1;
    if (!ValidFormat(target)) return 0;
    C_ImgBuff temp;
    // Every row is written in full, so the block needs no zero fill first.
    if (!AllocateUnclearedForImgOps(&temp, width, height, target)) return 0;
    ConvertJob job{this, static_cast<uint8_t*>(temp.pixels), uint64_t(width) * uint64_t(ImgBytesPerPixel[target]),
                   ChooseKernel(format, target)};
    RunRows(ConvertPiece, &job, height, WorthThePool(width, height));
    ExchangeRecords(this, &temp);   // temp now holds and frees the old block
    return 1;
}

int32_t C_ImgBuff::ResizeCanvas(int32_t newWidth, int32_t newHeight)
{
    if (!ValidFormat(format) || !pixels) return 0;
    if (newWidth == width && newHeight == height) return 1;
    C_ImgBuff temp;
    if (!AllocateForImgOps(&temp, newWidth, newHeight, format)) return 0;
    const uint64_t bpp = uint64_t(ImgBytesPerPixel[format]);
    const uint64_t rowBytes = uint64_t(newWidth < width ? newWidth : width) * bpp;
    const int32_t rows = newHeight < height ? newHeight : height;
    auto s = static_cast<const uint8_t*>(pixels);
    auto d = static_cast<uint8_t*>(temp.pixels);
    for (int32_t y = 0; y < rows; ++y)
        memcpy(d + uint64_t(y) * uint64_t(newWidth) * bpp, s + uint64_t(y) * uint64_t(width) * bpp, rowBytes);
    ExchangeRecords(this, &temp);
    return 1;
}

// ---- handle operations --------------------------------------------------------------

CImgBuff* CImgBuff::CopyFrom(const CImgBuff& src)
{
    record->CopyFrom(*src.record);
    return this;
}

int32_t CImgBuff::Crop(CImgBuff& dst, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const
{
    const C_ImgBuff* s = record;
    if (!ValidFormat(s->format) || !s->pixels) return 0;
    if (x0 > x1 || y0 > y1 || x0 < 0 || y0 < 0 || x1 >= s->width || y1 >= s->height) return 0;
    // Cropping into the source itself: cut into a temporary first, or the source's block
    // would be gone before the rows are read.
    if (&dst == this || dst.record == record) {
        CImgBuff temp;
        if (!Crop(temp, x0, y0, x1, y1)) return 0;
        ExchangeRecords(record, temp.record);
        return 1;
    }
    const int32_t w = x1 - x0 + 1;
    const int32_t h = y1 - y0 + 1;
    // Every row of the result is copied in full: no zero fill first.
    if (!AllocateUnclearedForImgOps(dst.record, w, h, s->format)) return 0;
    const uint64_t bpp = uint64_t(ImgBytesPerPixel[s->format]);
    CropJob job{static_cast<const uint8_t*>(s->pixels), static_cast<uint8_t*>(dst.record->pixels),
                uint64_t(s->width) * bpp, uint64_t(w) * bpp, (uint64_t(y0) * uint64_t(s->width) + uint64_t(x0)) * bpp};
    RunRows(CropPiece, &job, h, WorthThePool(w, h));
    return 1;
}

int32_t CImgBuff::Paste(const CImgBuff& src, int32_t x, int32_t y)
{
    C_ImgBuff* d = record;
    const C_ImgBuff* s = src.record;
    if (!ValidFormat(d->format) || !ValidFormat(s->format) || !d->pixels || !s->pixels) return 0;
    if (x < 0 || y < 0 || int64_t(x) + s->width > d->width || int64_t(y) + s->height > d->height) return 0;
    // Onto itself only (0, 0) fits, and that changes nothing.
    if (s == d) return 1;
    const uint64_t bpp = uint64_t(ImgBytesPerPixel[d->format]);
    PasteJob job{s,
                 static_cast<uint8_t*>(d->pixels),
                 uint64_t(d->width) * bpp,
                 (uint64_t(y) * uint64_t(d->width) + uint64_t(x)) * bpp,
                 uint64_t(s->width) * uint64_t(ImgBytesPerPixel[s->format]),
                 s->format == d->format ? nullptr : ChooseKernel(s->format, d->format)};
    RunRows(PastePiece, &job, s->height, WorthThePool(s->width, s->height));
    return 1;
}
