// whole_numbers.h - the two ways the binary filters read whole numbers: as the C library's
// unsigned conversion reads a value from a settings pack (lenient, wrapping), and as an edit
// box accepts typed text (digits only, refused when too large).
//
//   ReadUnsignedWrapping   pack value: blanks, sign, digits; a minus negates modulo 2^bits
//   ReadDigitsOnly         typed text: one or more of "0" to "9" and nothing else
#pragma once
#include <cstdint>

// Leading blanks, an optional "+" or "-", then digits up to the first other character; no
// digits read as 0; a magnitude beyond the largest value of `bits` (32 or 64) reads as that
// largest value, whatever the sign; otherwise a minus sign negates modulo 2^bits ("-3" with
// 32 bits is 4294967293).  A null text reads as 0.
uint64_t ReadUnsignedWrapping(const wchar_t* text, int32_t bits);

// 1 and *value set when text is not empty, holds only the digits "0" to "9" and its value is
// at most max; else 0 and *value untouched (a value beyond 64 bits is refused, not wrapped).
int32_t ReadDigitsOnly(const wchar_t* text, uint64_t max, uint64_t* value);
