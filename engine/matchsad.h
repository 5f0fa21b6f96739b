// matchsad.h - the byte kernels of the contrast-stretched template search: sums of absolute
// differences that give up once they pass a bound, the same with the stretch of each image
// byte done in 16-bit lanes on the way, the stretch of a block on its own, lower bounds of
// stretched sums from block sums, and the 8-bit blends and extremes of the refinement.  Each
// has a plain form, an SSE2 form and an AVX2 form, the widest the processor has chosen at run
// time; all give the same bytes and sums.
//
//   StretchFactors        one contrast stretch in the form the vector loops compute
//   MatchKernelForm       which form runs (with a switch for tests)
//   SadBoundedU8          plain sum of absolute differences with a bound
//   StretchSadBoundedU8   the same with the image bytes stretched first
//   StretchRowsU8         a block of bytes stretched into another
//   StretchByte           the stretch of one byte, as every lane computes it
//   StretchedBoundsU16    lower bounds of stretched sums from block sums, 16 positions at once
//   BlendBytesU8          linear interpolation of two byte rows with a weight in 256ths
//   ByteExtremesU8        lowest and highest byte of a block
#pragma once
#include <cstdint>

// A stretch v -> (v - lo) x whole + ((v - lo) x fraction) >> 16: the lanes subtract lo with
// saturation at 0, multiply in 16 bits, add, and saturate the signed 16-bit result to 0..255.
// Where the factors reproduce a stretch table over lo..hi (NormaliseScratch checks that), the
// bytes are the table's.
struct StretchFactors {
  uint8_t lo;
  uint16_t whole, fraction;
};

inline uint8_t StretchByte(uint8_t v, const StretchFactors& f) {
  const uint32_t d = v > f.lo ? uint32_t(v - f.lo) : 0u;
  const uint16_t t = uint16_t(uint16_t(d * f.whole) + uint16_t((d * f.fraction) >> 16));
  const int16_t s = int16_t(t);
  return s < 0 ? 0 : s > 255 ? 255 : uint8_t(s);
}

// The forms of the kernels: plain loops, SSE2 (every x86-64 processor), AVX2.
enum MatchKernelForms : int32_t { MatchPlain = 0, MatchSse2 = 1, MatchAvx2 = 2 };
// The widest form that runs: the processor's widest, at most the switch's (MatchAvx2 unless
// a test asks for a narrower one to check it against the others).
int32_t MatchKernelForm();
void SetMatchKernelForm(int32_t widest);

// Sum over rows x rowBytes of |a - b|.  Once a partial sum (taken every few rows) is above
// limit the rest is skipped: the result is then some value above limit, otherwise the sum.
int64_t SadBoundedU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride, int32_t rowBytes,
                     int32_t rows, int64_t limit);
// The same with every byte of a stretched by f first.
int64_t StretchSadBoundedU8(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t bStride,
                            int32_t rowBytes, int32_t rows, const StretchFactors& f, int64_t limit);
// dst = the stretch of src by f, rows x rowBytes.
void StretchRowsU8(const uint8_t* src, int64_t srcStride, uint8_t* dst, int64_t dstStride, int32_t rowBytes,
                   int32_t rows, const StretchFactors& f);

// Per position: the bracket of its stretched block sums (see StretchedBoundsU16).
struct BoundLanes {
  const uint16_t* loSum;     // lo x bytes per block
  const uint16_t* whole;     // the linear form of the stretch
  const uint16_t* fraction;
  const uint16_t* slackLo;   // the stretched block sum lies in G - slackLo .. G + slackHi
  const uint16_t* slackHi;
};

// out[k], k < count: a lower bound of the sum of absolute differences between a template and
// the stretched region at position k, from block sums: for each of the nby x nbx blocks,
// with S = sums[bj x step x stride + k + bi x step] the unstretched block sum, D = S - loSum
// and G = whole x D + (fraction x D) >> 16, the distance from the template's block sum
// tsums[bj x nbx + bi] to the bracket G - slackLo .. G + slackHi; added with saturation at
// 65535 (still a lower bound).  All sums of 16 bits, as the lanes compute them.
void StretchedBoundsU16(const uint16_t* sums, int64_t stride, int32_t count, const uint16_t* tsums, int32_t nbx,
                        int32_t nby, int32_t step, const BoundLanes& lanes, uint16_t* out);

// dst[i] = ((256 - weight) x a[i] + weight x b[i]) >> 8 for i < n, weight 1..255: what a
// picture's fractional shift by weight / 256 of a pixel stores in 8 bits, since those blends
// are exact in doubles and their truncation is the shift.
void BlendBytesU8(const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t n, uint32_t weight);

// The lowest and highest byte of rows x rowBytes (255 and 0 for an empty block).
void ByteExtremesU8(const uint8_t* p, int64_t stride, int32_t rowBytes, int32_t rows, uint8_t* lo, uint8_t* hi);
