// textcol.cpp - column measures of monospaced text: the measuring rule, the position rule
// and tab expansion.
#include "toolkit/textcol.h"

namespace {

int64_t TabEnd(int64_t column) { return column + 4 - column % 4; }

// Position rule: one column below code 256, two otherwise.
int64_t PositionWidth(wchar_t c) { return uint32_t(c) < 256 ? 1 : 2; }

int IsMeasureHalf(uint32_t c) {
  return c < 128 || c == 165 || c == 8254 || (c >= 0xFF61 && c <= 0xFF9F);
}

// Walks by the position rule until a character ends beyond column. stopAtLineFeed limits
// the walk to the first line. outStart: that character's start column (or the total);
// returns its index (or the number of characters walked).
int64_t Walk(const wchar_t* text, int64_t column, int stopAtLineFeed, int64_t* outStart) {
  int64_t col = 0, i = 0;
  for (; text[i]; ++i) {
    wchar_t c = text[i];
    if (c == 10 && stopAtLineFeed) break;
    int64_t end = c == 9 ? TabEnd(col) : col + PositionWidth(c);
    if (end > column) break;
    col = end;
  }
  if (outStart) *outStart = col;
  return i;
}

}  // namespace

int64_t TextColumns(const wchar_t* text, int32_t countLineFeeds) {
  if (!text) return 0;
  int64_t col = 0;
  for (; *text; ++text) {
    uint32_t c = uint32_t(*text);
    if (c == 10)
      col += countLineFeeds ? 1 : 0;
    else if (c == 9)
      col = TabEnd(col);
    else
      col += IsMeasureHalf(c) ? 1 : 2;
  }
  return col;
}

int64_t LineColumnStart(const wchar_t* text, int64_t column) {
  if (!text || column < 0) return 0;
  int64_t start = 0;
  Walk(text, column, 1, &start);
  return start;
}

int64_t LineCharAtColumn(const wchar_t* text, int64_t column) {
  if (!text || column < 0) return 0;
  return Walk(text, column, 1, nullptr);
}

int64_t CharAtColumn(const wchar_t* text, int64_t column) {
  if (!text || column < 0) return 0;
  return Walk(text, column, 0, nullptr);
}

int64_t CharColumnsAt(const wchar_t* text, int64_t column, int32_t* flag) {
  if (flag) *flag = 1;
  if (!text) return 1;
  wchar_t c = text[CharAtColumn(text, column)];
  if (c == 9) {
    int64_t m = column % 4;
    return m == 0 ? 4 : 4 - m;
  }
  return uint32_t(c) >= 256 ? 2 : 1;
}

uint64_t ExpandTabs(const wchar_t* text, wchar_t* out, uint64_t capacity) {
  if (!out || capacity == 0) return 0;
  uint64_t n = 0;
  int64_t col = 0;
  if (text) {
    for (; *text && n < capacity - 1; ++text) {
      wchar_t c = *text;
      if (c == 9) {
        int64_t end = TabEnd(col);
        for (; col < end && n < capacity - 1; ++col) out[n++] = L' ';
        col = end;
        continue;
      }
      out[n++] = c;
      col = c == 10 ? 0 : col + PositionWidth(c);
    }
  }
  if (n > 0 && out[n - 1] == 10) --n;  // a line feed that ends the copy is dropped
  out[n] = 0;
  return n;
}

std::wstring ExpandTabs(const wchar_t* text) {
  std::wstring r;
  int64_t col = 0;
  if (text) {
    for (; *text; ++text) {
      wchar_t c = *text;
      if (c == 9) {
        int64_t end = TabEnd(col);
        r.append(size_t(end - col), L' ');
        col = end;
        continue;
      }
      r += c;
      col = c == 10 ? 0 : col + PositionWidth(c);
    }
  }
  if (!r.empty() && r.back() == 10) r.pop_back();
  return r;
}
