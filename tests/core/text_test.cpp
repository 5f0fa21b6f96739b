// text_test.cpp - conversions, decimal formatting, strict parsers and extension search.
#include "core/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

struct Utf8Case {
    const char* name;
    std::wstring wide;
    std::string utf8;
};

// Round trips both ways, and the extra 0 element after the terminator.
TEST(TextConvert, Utf8RoundTrip)
{
    const Utf8Case cases[] = {
        {"ascii", L"abc", "abc"},
        {"micro sign", L"\u00B5m", "\xC2\xB5m"},
        {"japanese", L"\u6587\u5B57", "\xE6\x96\x87\xE5\xAD\x97"},
        {"astral", L"\U0001F600", "\xF0\x9F\x98\x80"},
        {"mixed", L"a\u00E9\u20AC\U00010348z", "a\xC3\xA9\xE2\x82\xAC\xF0\x90\x8D\x88z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char* u = WideToUtf8(c.wide.c_str());
        ASSERT_NE(u, nullptr);
        EXPECT_EQ(std::string(u), c.utf8);
        EXPECT_EQ(u[c.utf8.size() + 1], 0);     // the extra element
        free(u);
        char* a = WideToAnsi(c.wide.c_str());
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(std::string(a), c.utf8);
        free(a);
        wchar_t* w = Utf8ToWide(c.utf8.c_str());
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(std::wstring(w), c.wide);
        EXPECT_EQ(w[c.wide.size() + 1], 0);
        free(w);
        w = AnsiToWide(c.utf8.c_str());
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(std::wstring(w), c.wide);
        free(w);
    }
}

TEST(TextConvert, NullAndEmpty)
{
    EXPECT_EQ(WideToAnsi(nullptr), nullptr);
    EXPECT_EQ(WideToUtf8(nullptr), nullptr);
    char* a = WideToAnsi(L"");
    char* u = WideToUtf8(L"");
    wchar_t* w1 = AnsiToWide("");
    wchar_t* w2 = Utf8ToWide("");
    ASSERT_TRUE(a && u && w1 && w2);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(u[0], 0);
    EXPECT_EQ(w1[0], 0);
    EXPECT_EQ(w2[0], 0);
    free(a);
    free(u);
    free(w1);
    free(w2);
}

// Malformed input never reads past the terminator and never fails: bad parts become U+FFFD.
TEST(TextConvert, MalformedBecomesReplacement)
{
    struct Case {
        const char* name;
        const char* utf8;
        std::wstring wide;
    } cases[] = {
        {"lone continuation", "a\x80" "b", L"a\uFFFDb"},
        {"truncated at end", "a\xE6\x96", L"a\uFFFD"},
        {"truncated before ascii", "\xE6\x96z", L"\uFFFDz"},
        {"overlong slash", "\xC0\xAF", L"\uFFFD\uFFFD"},
        {"overlong three byte", "\xE0\x80\xAF", L"\uFFFD"},
        {"surrogate", "\xED\xA0\x80", L"\uFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD"},
        {"bad lead", "\xFF", L"\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wchar_t* w = Utf8ToWide(c.utf8);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(std::wstring(w), c.wide);
        free(w);
    }
    // Wide text: a UTF-16 surrogate pair joins, lone surrogates and out-of-range values do not.
    const wchar_t pair[] = {wchar_t(0xD83D), wchar_t(0xDE00), 0};
    const wchar_t lone[] = {L'a', wchar_t(0xDC00), wchar_t(0xD800), L'b', wchar_t(0x110000), 0};
    char* u = WideToUtf8(pair);
    EXPECT_STREQ(u, "\xF0\x9F\x98\x80");
    free(u);
    u = WideToUtf8(lone);
    EXPECT_STREQ(u, "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    free(u);
}

std::wstring Format(int64_t count, double v)
{
    wchar_t buf[64];
    wmemset(buf, L'#', 64);
    FormatDouble(buf, count, v);
    return std::wstring(buf);
}

TEST(TextNumber, FormatDouble)
{
    struct Case {
        int64_t count;
        double value;
        const wchar_t* text;
    } cases[] = {
        {32, 2.5, L"2.5"},
        {32, -3.0, L"-3"},
        {32, 0.0000001, L"0"},
        {32, 0.0, L"0"},
        {32, 1e15, L"1000000000000000"},
        {32, -0.125, L"-0.125"},
        {32, 1.0 / 3.0, L"0.333333"},
        {5, 123.456, L"123"},       // cut to "123." and the point trimmed
        {4, 12345.0, L"123"},       // cut inside the integer part: kept as printed
        {2, 7.0, L"7"},
        {1, 7.0, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(Format(c.count, c.value), c.text);
    }
}

TEST(TextNumber, FormatDoubleEdges)
{
    EXPECT_EQ(FormatDouble(nullptr, 32, 1.0), nullptr);
    wchar_t buf[4] = {L'x', L'y', L'z', 0};
    EXPECT_EQ(FormatDouble(buf, 0, 1.0), buf);      // nothing written
    EXPECT_EQ(FormatDouble(buf, -5, 1.0), buf);
    EXPECT_EQ(std::wstring(buf), L"xyz");
    // The largest double prints 309 digits; a small buffer gets the cut start, no overrun.
    wchar_t big[400];
    FormatDouble(big, 400, 1.7976931348623157e308);
    EXPECT_EQ(wcslen(big), 309u);
    EXPECT_EQ(Format(8, 1.7976931348623157e308), L"1797693");
}

TEST(TextNumber, TrimTrailingZeros)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"1.500", L"1.5"}, {L"2.000", L"2"}, {L"0.000000", L"0"}, {L"100", L"100"},
        {L"-0.500000", L"-0.5"}, {L".000", L""}, {L"", L""}, {L"10.0100", L"10.01"},
    };
    for (const auto& c : cases) {
        wchar_t buf[32];
        wcscpy(buf, c.in);
        TrimTrailingZeros(buf);
        EXPECT_EQ(std::wstring(buf), c.out) << "input " << testing::PrintToString(std::wstring(c.in));
    }
}

TEST(TextNumber, ParseDouble)
{
    struct Case {
        const wchar_t* text;
        int32_t allowMinus;
        double value;
    } cases[] = {
        {L"1.25", 0, 1.25}, {L"-1.25", 1, -1.25}, {L"-1.25", 0, 0.0}, {L".5", 0, 0.0},
        {L"5.", 0, 5.0}, {L"1.2.3", 0, 0.0}, {L"12a", 0, 0.0}, {L"", 0, 0.0},
        {L"-", 1, 0.0}, {L"-.5", 1, 0.0}, {L"007", 0, 7.0}, {L" 1", 0, 0.0},
        {L"1e5", 0, 0.0}, {L"0.001", 1, 0.001}, {L"123456.789", 0, 123456.789},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(ParseDouble(c.text, c.allowMinus), c.value)
            << testing::PrintToString(std::wstring(c.text)) << " allowMinus " << c.allowMinus;
    }
    // Very many decimals must not misbehave (10^k becomes infinite, the value 0).
    std::wstring longText = L"1." + std::wstring(400, L'1');
    double v = ParseDouble(longText.c_str(), 0);
    EXPECT_FALSE(std::isnan(v));
}

TEST(TextNumber, ParseInt)
{
    struct Case {
        const wchar_t* text;
        int32_t value;
    } cases[] = {
        {L"-42", -42}, {L"2147483647", 2147483647}, {L"2147483648", 0}, {L"9999999999", 0},
        {L"12 ", 0}, {L"+5", 0}, {L"-", 0}, {L"", 0}, {L"0", 0}, {L"-0", 0}, {L"17", 17},
        {L"-2147483647", -2147483647}, {L"99999999999999999999999", 0}, {L"1-", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseInt(c.text), c.value) << testing::PrintToString(std::wstring(c.text));
}

TEST(TextNumber, ParseUInt64)
{
    struct Case {
        const wchar_t* text;
        uint64_t value;
    } cases[] = {
        {L"18446744073709551615", 18446744073709551615ull}, {L"18446744073709551616", 0},
        {L"30000000000000000000", 0}, {L"", 0}, {L"-1", 0}, {L"42", 42}, {L"4x", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseUInt64(c.text), c.value) << testing::PrintToString(std::wstring(c.text));
}

TEST(TextPath, FindExtension)
{
    const wchar_t* p1 = L"a.b.png";
    EXPECT_EQ(FindExtension(p1), p1 + 3);
    EXPECT_EQ(FindExtension(L".hidden"), nullptr);
    EXPECT_EQ(FindExtension(L"noext"), nullptr);
    const wchar_t* p2 = L"d.x/file";
    EXPECT_EQ(FindExtension(p2), p2 + 1);      // separators are not considered
    EXPECT_EQ(FindExtension(L""), nullptr);
    EXPECT_EQ(FindExtension(nullptr), nullptr);
    const wchar_t* p3 = L"name.";
    EXPECT_EQ(FindExtension(p3), p3 + 4);
}

} // namespace
