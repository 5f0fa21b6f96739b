// text.h - text and number helpers shared by every user interface and file format.
// Wide text (wchar_t) is the system's own; ANSI and UTF-8 copies exist only at the edges
// (file names handed to the C runtime, settings files, track files).  The ANSI code page
// is UTF-8 on this platform.  Numbers are parsed strictly: any stray character gives 0.
#pragma once

#include <cstdint>

// Conversions return a new block from calloc that the caller releases with free.  The
// block of a non-empty result is one element longer than the text and its terminator,
// and that extra element is 0.  A null text gives null where the argument may be null.
char* WideToAnsi(const wchar_t* text);     // null gives null; "" gives a new ""
wchar_t* AnsiToWide(const char* text);     // text must not be null
char* WideToUtf8(const wchar_t* text);     // null gives null; "" gives a new ""
wchar_t* Utf8ToWide(const char* text);     // text must not be null

// Cuts the zeros after the decimal point, and the point itself when nothing follows it:
// "1.500" -> "1.5", "2.000" -> "2", "100" stays "100".  In place.
void TrimTrailingZeros(wchar_t* text);

// Writes value as "%lf" does (six decimals, always '.'), cut to count - 1 characters, and
// trims trailing zeros.  count counts the terminator; a count below 1 writes nothing.
wchar_t* FormatDouble(wchar_t* buffer, int64_t count, double value);

// Strict parsers; text must not be null.  Malformed text gives 0.
double ParseDouble(const wchar_t* text, int32_t allowMinus);
int32_t ParseInt(const wchar_t* text);
uint64_t ParseUInt64(const wchar_t* text);

// Pointer to the '.' that starts the extension of path, or null.  Folder separators are
// not considered; a '.' in first place is not an extension.
wchar_t* FindExtension(const wchar_t* path);
