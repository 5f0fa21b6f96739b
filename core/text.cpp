// text.cpp - wide/ANSI/UTF-8 conversions, decimal formatting and strict number parsers.
// The ANSI code page is UTF-8 here, so the ANSI and UTF-8 pairs share one codec.  Code
// points that cannot be encoded (lone surrogates, values past U+10FFFF) and malformed
// UTF-8 become U+FFFD rather than failing, so a conversion never gives a partial text.
// Inside: UTF-8 codec - conversions - number formatting - parsers - extension
#include "core/text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// ---- UTF-8 codec --------------------------------------------------------------------

// Reads one code point from wide text.  A UTF-16 surrogate pair stored in two wchar_t
// units (text that came from a UTF-16 source unchanged) is joined into one code point.
uint32_t NextWide(const wchar_t*& p)
{
    uint32_t c = uint32_t(p[0]);
    ++p;
    if (c >= 0xD800 && c <= 0xDBFF) {
        uint32_t low = uint32_t(p[0]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++p;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
        return kReplacement;
    }
    if ((c >= 0xDC00 && c <= 0xDFFF) || c > 0x10FFFF) return kReplacement;
    return c;
}

int Utf8Length(uint32_t c)
{
    if (c < 0x80) return 1;
    if (c < 0x800) return 2;
    if (c < 0x10000) return 3;
    return 4;
}

char* PutUtf8(char* out, uint32_t c)
{
    if (c < 0x80) {
        *out++ = char(c);
    } else if (c < 0x800) {
        *out++ = char(0xC0 | (c >> 6));
        *out++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = char(0xE0 | (c >> 12));
        *out++ = char(0x80 | ((c >> 6) & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    } else {
        *out++ = char(0xF0 | (c >> 18));
        *out++ = char(0x80 | ((c >> 12) & 0x3F));
        *out++ = char(0x80 | ((c >> 6) & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    }
    return out;
}

// Reads one code point from zero-terminated UTF-8.  A malformed sequence (bad lead byte,
// missing continuation, overlong form, surrogate, past U+10FFFF) gives U+FFFD and skips
// its longest valid prefix, so a truncated sequence before the terminator stops there.
uint32_t NextUtf8(const unsigned char*& p)
{
    uint32_t b0 = p[0];
    if (b0 < 0x80) {
        ++p;
        return b0;
    }
    int need;
    uint32_t c;
    uint32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1; c = b0 & 0x1F; minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2; c = b0 & 0x0F; minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3; c = b0 & 0x07; minimum = 0x10000;
    } else {
        ++p;
        return kReplacement;
    }
    const unsigned char* q = p + 1;
    for (int i = 0; i < need; ++i) {
        uint32_t b = q[0];      // the terminator is not a continuation byte, so this stops there
        if ((b & 0xC0) != 0x80) {
            p = q;
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3F);
        ++q;
    }
    p = q;
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
    return c;
}

// ---- conversions --------------------------------------------------------------------

char* WideToUtf8Block(const wchar_t* text)
{
    if (!text) return nullptr;
    size_t n = 1;   // terminator
    for (const wchar_t* p = text; *p;) n += size_t(Utf8Length(NextWide(p)));
    // One element more than text and terminator need; calloc leaves it 0.
    char* block = static_cast<char*>(calloc(n + 1, 1));
    if (!block) return nullptr;
    char* out = block;
    for (const wchar_t* p = text; *p;) out = PutUtf8(out, NextWide(p));
    return block;
}

wchar_t* Utf8ToWideBlock(const char* text)
{
    if (!text) return nullptr;
    size_t n = 1;
    for (auto p = reinterpret_cast<const unsigned char*>(text); *p;) {
        NextUtf8(p);
        ++n;
    }
    wchar_t* block = static_cast<wchar_t*>(calloc(n + 1, sizeof(wchar_t)));
    if (!block) return nullptr;
    wchar_t* out = block;
    for (auto p = reinterpret_cast<const unsigned char*>(text); *p;) *out++ = wchar_t(NextUtf8(p));
    return block;
}

} // namespace

char* WideToAnsi(const wchar_t* text) { return WideToUtf8Block(text); }
wchar_t* AnsiToWide(const char* text) { return Utf8ToWideBlock(text); }
char* WideToUtf8(const wchar_t* text) { return WideToUtf8Block(text); }
wchar_t* Utf8ToWide(const char* text) { return Utf8ToWideBlock(text); }

// ---- number formatting --------------------------------------------------------------

void TrimTrailingZeros(wchar_t* text)
{
    if (!text || !text[0]) return;
    size_t len = wcslen(text);
    if (!wmemchr(text, L'.', len)) return;
    // A '.' exists, so the walk back stops at it or at a non-zero digit after it.
    size_t end = len;
    while (text[end - 1] == L'0') --end;
    if (text[end - 1] == L'.') --end;
    text[end] = 0;
}

wchar_t* FormatDouble(wchar_t* buffer, int64_t count, double value)
{
    if (!buffer) return nullptr;
    if (count < 1) return buffer;   // no room even for the terminator: write nothing
    // std::to_chars with fixed precision prints exactly as "%lf" does in the "C" locale,
    // whatever locale some library has set; 309 digits of DBL_MAX plus sign and decimals fit.
    char text[400];
    auto res = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 6);
    size_t len = res.ec == std::errc() ? size_t(res.ptr - text) : 0;
    buffer[0] = L'0';
    for (int64_t i = 1; i < count; ++i) buffer[i] = 0;
    size_t room = size_t(count - 1);
    if (len > room) len = room;     // a longer print is cut
    for (size_t i = 0; i < len; ++i) buffer[i] = wchar_t(text[i]);
    buffer[count - 1] = 0;
    TrimTrailingZeros(buffer);
    return buffer;
}

// ---- parsers ------------------------------------------------------------------------

double ParseDouble(const wchar_t* text, int32_t allowMinus)
{
    if (!text) return 0.0;
    bool negative = false;
    const wchar_t* p = text;
    if (allowMinus && *p == L'-') {
        negative = true;
        ++p;
    }
    if (*p == 0 || *p == L'.') return 0.0;
    uint64_t n = 0;     // wraps past 19 digits; such texts are not used
    int64_t decimals = 0;
    bool point = false;
    for (; *p; ++p) {
        if (*p == L'.') {
            if (point) return 0.0;
            point = true;
        } else if (*p >= L'0' && *p <= L'9') {
            n = n * 10 + uint64_t(*p - L'0');
            if (point) ++decimals;
        } else {
            return 0.0;
        }
    }
    double v = double(n);
    if (decimals > 0) v = v / std::pow(10.0, double(decimals));
    return negative ? -v : v;
}

int32_t ParseInt(const wchar_t* text)
{
    if (!text) return 0;
    const wchar_t* p = text;
    bool negative = false;
    if (*p == L'-') {
        negative = true;
        ++p;
    }
    if (*p == 0) return 0;
    int32_t v = 0;
    for (; *p; ++p) {
        if (*p < L'0' || *p > L'9') return 0;
        int32_t d = int32_t(*p - L'0');
        if (v > (INT32_MAX - d) / 10) return 0;
        v = v * 10 + d;
    }
    return negative ? -v : v;
}

uint64_t ParseUInt64(const wchar_t* text)
{
    if (!text || !*text) return 0;
    uint64_t v = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return 0;
        uint64_t d = uint64_t(*p - L'0');
        if (v > (UINT64_MAX - d) / 10) return 0;
        v = v * 10 + d;
    }
    return v;
}

// ---- extension ----------------------------------------------------------------------

wchar_t* FindExtension(const wchar_t* path)
{
    if (!path || !path[0]) return nullptr;
    const wchar_t* dot = wcsrchr(path, L'.');
    if (!dot || dot == path) return nullptr;
    return const_cast<wchar_t*>(dot);
}
