// whole_numbers.cpp - pack values read as the C library's unsigned conversion reads them,
// and the digits-only check of typed numbers.
#include "filters/binary_geometry_fourier/whole_numbers.h"

namespace {

int32_t IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

uint64_t ReadUnsignedWrapping(const wchar_t* text, int32_t bits) {
  if (!text) return 0;
  const uint64_t largest = bits >= 64 ? UINT64_MAX : (uint64_t(1) << bits) - 1;
  const wchar_t* p = text;
  while (IsBlank(*p)) ++p;
  int32_t negative = 0;
  if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
  uint64_t magnitude = 0;
  int32_t beyond = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    const uint64_t d = uint64_t(*p - L'0');
    if (beyond || magnitude > (largest - d) / 10) beyond = 1;  // keep reading the digits
    else magnitude = magnitude * 10 + d;
  }
  if (beyond) return largest;
  return negative ? (uint64_t(0) - magnitude) & largest : magnitude;
}

int32_t ReadDigitsOnly(const wchar_t* text, uint64_t max, uint64_t* value) {
  if (!text || !*text) return 0;
  uint64_t v = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9') return 0;
    const uint64_t d = uint64_t(*p - L'0');
    if (v > (UINT64_MAX - d) / 10) return 0;
    v = v * 10 + d;
  }
  if (v > max) return 0;
  if (value) *value = v;
  return 1;
}
