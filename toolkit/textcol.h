// textcol.h - text laid out in monospaced columns (the edit box and its neighbours): a
// half-width character takes one column, a full-width one two, a tab runs to the next
// multiple of four. Texts are zero-terminated and may hold line feeds (10).
//
// Two column rules, kept apart on purpose:
//   measuring rule (TextColumns only): one column for the font's half-width characters
//     (below 128, 165, 8254, 0xFF61..0xFF9F), two otherwise
//   position rule (everything else): one column below code 256, two otherwise
// Tab (both): from column c to c + 4 - c mod 4 (a full 4 at a multiple of 4).
//
// Every function is safe on any thread and takes null as the empty text.
#pragma once

#include <cstdint>
#include <string>

// Columns of the whole text by the measuring rule; a line feed counts one column when
// countLineFeeds is non-zero, else none.
int64_t TextColumns(const wchar_t* text, int32_t countLineFeeds);
// Walking the first line by the position rule: the start column of the first character
// that ends beyond column (the line's width when it ends first); 0 for a negative column.
int64_t LineColumnStart(const wchar_t* text, int64_t column);
// The same walk, giving that character's index (the first line's length when it ends
// first); 0 for a negative column.
int64_t LineCharAtColumn(const wchar_t* text, int64_t column);
// The same walk across line feeds; stops at the terminator (its index) whatever column
// asks; 0 for a negative column.
int64_t CharAtColumn(const wchar_t* text, int64_t column);
// Width in columns of the character CharAtColumn finds: a tab 4 - column mod 4 (4 at a
// multiple of 4), code 256 or more 2, else 1. flag, when given, is set to 1.
int64_t CharColumnsAt(const wchar_t* text, int64_t column, int32_t* flag);

// Units of the buffer the edit box expands into, terminator included.
constexpr uint64_t kFgExpandTabsUnits = 1024;
// Copies text with every tab replaced by blanks up to the next tab stop (position rule,
// counted from the start of each line) and drops a line feed that ends the copy. Writes at
// most capacity - 1 units and a terminator (a longer expansion is cut there); returns the
// units written. Nothing is written for capacity 0.
uint64_t ExpandTabs(const wchar_t* text, wchar_t* out, uint64_t capacity);
// The same without a length limit.
std::wstring ExpandTabs(const wchar_t* text);
