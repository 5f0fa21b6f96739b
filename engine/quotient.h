// quotient.h - exact quotients of integer sums by a divisor fixed for a run of
// samples, without a division per sample (a vector loop has none for integers).
//
//   CappedQuotient   a 32-bit sum as a stored sample: 0 at or below 0, else
//                    min(maximum, sum / d) truncated, exactly
#pragma once
#include <cstdint>

// Sums are first capped at (maximum + 1) x d, so the quotient is at most 65536 and a float
// reciprocal is off by at most one, which the remainder test corrects.
struct CappedQuotient {
  int32_t cap;
  float inv;
  int32_t di, mx;
  CappedQuotient(int64_t d, uint32_t maxv) {
    const int64_t capWide = (int64_t(maxv) + 1) * d;
    cap = int32_t(capWide > 2147483647 ? 2147483647 : capWide);
    inv = 1.0f / float(d);
    di = int32_t(d);
    mx = int32_t(maxv);
  }
  inline int32_t operator()(int32_t s) const {
    s = s < 0 ? 0 : s;
    s = s > cap ? cap : s;
    int32_t q = int32_t(float(s) * inv);
    // q may be one too high, so q x d can pass 2^31: the remainder is formed modulo 2^32,
    // where it is exact because its true value lies within (-d, 2d).
    const int32_t rem = int32_t(uint32_t(s) - uint32_t(q) * uint32_t(di));
    q += rem >= di ? 1 : 0;
    q -= rem < 0 ? 1 : 0;
    return q > mx ? mx : q;
  }
};
