// cell.cpp - the cell table: layout of grid and bars, hit testing and mouse, drawing of
// fixed and scrolling cells, and the CSV writer.
// Inside: sizes and layout - scrolling - mouse - drawing - CSV text
#include "toolkit/cell.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/safefile.h"
#include "core/text.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"

namespace {

constexpr uint64_t kMaxCount = INT32_MAX;  // bar positions are 32-bit
constexpr uint64_t kMaxWidth = 1u << 20;   // a wider column is drawn as this wide

}  // namespace

CFgUICell::CFgUICell() {
  m_hBar.m_kind = FgBarHorizontal;
  m_vBar.m_kind = FgBarVertical;
  for (CFgUIScrollBar* b : {&m_hBar, &m_vBar}) {
    b->SetRange(0, 0, 1, 0);
    b->m_tabStop = 0;
    b->m_visible = 0;
  }
}

CFgUICell::~CFgUICell() {
  m_textFn = nullptr;
  free(m_widths);
  m_widths = nullptr;
}

int32_t CFgUICell::FontSize() const {
  if (m_owner && m_owner->m_font && m_owner->m_font->Size() >= 1)
    return int32_t(m_owner->m_font->Size() > 4096 ? 4096 : m_owner->m_font->Size());
  return 14;
}

int64_t CFgUICell::ColumnPixels(uint64_t column) const {
  uint64_t w = m_widths && column < m_columns ? m_widths[column] : 0;
  if (w > kMaxWidth) w = kMaxWidth;
  return int64_t(w) * (FontSize() / 2) + 4;
}

// ---------------------------------------------------------------------------------------
// Sizes and layout
void CFgUICell::PlaceBars() {
  m_hBar.CFgUIObj::SetRect(m_x, int32_t(int64_t(m_y) + m_height - 16),
                           m_width > 16 ? m_width - 16 : 1, 16);
  m_vBar.CFgUIObj::SetRect(int32_t(int64_t(m_x) + m_width - 16), m_y, 16,
                           m_height > 16 ? m_height - 16 : 1);
}

int32_t CFgUICell::SetRect(int32_t, int32_t y, int32_t width, int32_t height) {
  if (!CFgUIObj::SetRect(0, y, width, height)) return 0;
  PlaceBars();
  Layout();
  return 1;
}

void CFgUICell::Clear() {
  free(m_widths);
  m_widths = nullptr;
  m_columns = m_rows = m_fixedColumns = m_fixedRows = 0;
  m_firstColumn = m_firstRow = 0;
  m_highlight = 0;
  m_highlightColumn0 = m_highlightRow0 = m_highlightColumn1 = m_highlightRow1 = 0;
}

int32_t CFgUICell::SetSize(uint64_t columns, uint64_t rows, int32_t redraw) {
  Clear();
  int32_t ok = 0;
  if (columns && rows && columns <= kMaxCount && rows <= kMaxCount) {
    m_widths = static_cast<uint64_t*>(malloc(size_t(columns) * sizeof(uint64_t)));
    if (m_widths) {
      for (uint64_t i = 0; i < columns; ++i) m_widths[i] = 9;
      m_columns = columns;
      m_rows = rows;
      ok = 1;
    }
  }
  Layout();
  if (redraw && m_owner) m_owner->Redraw();
  return ok;
}

void CFgUICell::Reset(int32_t redraw) {
  Clear();
  Layout();
  if (redraw && m_owner) m_owner->Redraw();
}

int32_t CFgUICell::SelectRow(int32_t, uint64_t fixedRows, int32_t redraw) {
  if (m_columns < 2 || fixedRows >= m_rows) return 0;
  m_fixedColumns = 1;
  m_fixedRows = fixedRows;
  if (m_firstColumn == 0) m_firstColumn = 1;
  if (m_firstRow < fixedRows) m_firstRow = fixedRows;
  Layout();
  if (redraw && m_owner) m_owner->Redraw();
  return 1;
}

void CFgUICell::ShowBar(CFgUIScrollBar& bar, int32_t on) {
  int32_t visible = on && m_visible;
  if (bar.m_visible != visible) bar.Show(visible);
}

void CFgUICell::Layout() {
  int64_t S = FontSize(), rowH = S + 4;
  int64_t totalW = 0;
  for (uint64_t i = 0; i < m_columns; ++i) totalW += ColumnPixels(i);
  int64_t totalH = int64_t(m_rows) * rowH;
  int64_t w = m_width, h = m_height;
  if (totalW == 0 || totalH == 0) {
    m_hBarOn = m_vBarOn = 0;
    ShowBar(m_hBar, 0);
    ShowBar(m_vBar, 0);
    m_hBar.SetRange(0, 0, 1, 0);
    m_vBar.SetRange(0, 0, 1, 0);
    m_hasContent = 0;
    m_gridX0 = m_x;
    m_gridY0 = m_y;
    m_gridX1 = int32_t(m_x + w - 1);
    m_gridY1 = int32_t(m_y + h - 1);
    return;
  }
  m_hasContent = 1;
  int hOn = 0, vOn = 0;
  if (totalW > w) {
    hOn = 1;
    vOn = totalH > h - 16;
  } else if (totalH > h) {
    vOn = 1;
    hOn = totalW > w - 16;
  }
  m_hBarOn = hOn;
  m_vBarOn = vOn;
  m_gridX0 = m_x;
  m_gridY0 = m_y;
  m_gridX1 = int32_t(m_x + w - 1 - (vOn ? 16 : 0));
  m_gridY1 = int32_t(m_y + h - 1 - (hOn ? 16 : 0));
  int64_t gridW = int64_t(m_gridX1) - m_gridX0 + 1, gridH = int64_t(m_gridY1) - m_gridY0 + 1;
  if (hOn) m_hBar.CFgUIObj::SetRect(m_x, m_gridY1 + 1, int32_t(gridW < 1 ? 1 : gridW), 16);
  if (vOn) m_vBar.CFgUIObj::SetRect(m_gridX1 + 1, m_y, 16, int32_t(gridH < 1 ? 1 : gridH));

  if (vOn) {
    int64_t fixedH = int64_t(m_fixedRows) * rowH;
    if (fixedH >= gridH) {
      m_vBar.SetRange(0, 0, 1, 0);
    } else {
      int64_t shown = (gridH - fixedH) / rowH;
      if (shown < 1) shown = 1;
      int64_t lo = int64_t(m_fixedRows), hi = int64_t(m_rows) - shown;
      if (hi < lo) hi = lo;
      int64_t first = int64_t(m_firstRow);
      if (first < lo) first = lo;
      if (first > hi) first = hi;
      m_firstRow = uint64_t(first);
      m_vBar.SetRange(int32_t(lo), int32_t(m_rows - 1), int32_t(shown), int32_t(first));
    }
    ShowBar(m_vBar, 1);
  } else {
    if (m_vBar.m_position != 0) m_firstRow = m_fixedRows;
    ShowBar(m_vBar, 0);
    m_vBar.SetRange(0, 0, 1, 0);
  }

  if (!hOn) {
    if (m_hBar.m_position != 0) m_firstColumn = m_fixedColumns;
    ShowBar(m_hBar, 0);
    m_hBar.SetRange(0, 0, 1, 0);
  } else {
    int64_t fixedW = 0;
    for (uint64_t i = 0; i < m_fixedColumns && i < m_columns; ++i) fixedW += ColumnPixels(i);
    if (fixedW >= gridW) {
      m_hBar.SetRange(0, 0, 1, 0);
    } else {
      int64_t remaining = gridW - fixedW, used = 0, page = 0;
      for (uint64_t i = m_columns; i > m_fixedColumns; --i) {
        used += ColumnPixels(i - 1);
        if (used > remaining) break;
        ++page;
      }
      if (page < 1) page = 1;
      int64_t lo = int64_t(m_fixedColumns), hi = int64_t(m_columns) - page;
      if (hi < lo) hi = lo;
      int64_t first = int64_t(m_firstColumn);
      if (first < lo) first = lo;
      if (first > hi) first = hi;
      m_firstColumn = uint64_t(first);
      m_hBar.SetRange(int32_t(lo), int32_t(m_columns - 1), int32_t(page), int32_t(first));
    }
    ShowBar(m_hBar, 1);
  }
}

// ---------------------------------------------------------------------------------------
// Scrolling
int32_t CFgUICell::SetCurrentCell(uint64_t column, uint64_t row) {
  if (column >= m_columns || row >= m_rows || column < m_fixedColumns || row < m_fixedRows)
    return 0;
  m_firstColumn = column;
  m_firstRow = row;
  if (m_vBar.IsValidPosition(int64_t(row)) && !m_vBar.m_inCallback) m_vBar.MoveTo(int32_t(row));
  if (m_hBar.IsValidPosition(int64_t(column)) && !m_hBar.m_inCallback)
    m_hBar.MoveTo(int32_t(column));
  Layout();
  if (m_owner) m_owner->Redraw();
  return 1;
}

void CFgUICell::OnHBar(CFgUIScrollBar*, void* user, int32_t p) {
  CFgUICell* c = static_cast<CFgUICell*>(user);
  if (p < 0 || uint64_t(p) == c->m_firstColumn || uint64_t(p) >= c->m_columns ||
      uint64_t(p) < c->m_fixedColumns || c->m_firstRow < c->m_fixedRows ||
      c->m_firstRow >= c->m_rows)
    return;
  c->m_firstColumn = uint64_t(p);
  if (c->m_owner) c->m_owner->Redraw();
}

void CFgUICell::OnVBar(CFgUIScrollBar*, void* user, int32_t p) {
  CFgUICell* c = static_cast<CFgUICell*>(user);
  if (p < 0 || uint64_t(p) == c->m_firstRow || uint64_t(p) >= c->m_rows ||
      uint64_t(p) < c->m_fixedRows || c->m_firstColumn < c->m_fixedColumns ||
      c->m_firstColumn >= c->m_columns)
    return;
  c->m_firstRow = uint64_t(p);
  if (c->m_owner) c->m_owner->Redraw();
}

// ---------------------------------------------------------------------------------------
// Mouse
int32_t CFgUICell::HitTest(int32_t x, int32_t y, uint64_t* outColumn, uint64_t* outRow) const {
  int64_t gridW = int64_t(m_gridX1) - m_gridX0 + 1, gridH = int64_t(m_gridY1) - m_gridY0 + 1;
  if (x < 0 || y < 0 || x >= gridW || y >= gridH || !m_columns || !m_rows) return 0;
  int64_t left = 0;
  uint64_t column = UINT64_MAX;
  for (uint64_t i = 0; i < m_fixedColumns && i < m_columns && column == UINT64_MAX; ++i) {
    int64_t w = ColumnPixels(i);
    if (x < left + w) column = i;
    left += w;
  }
  for (uint64_t i = m_firstColumn; i < m_columns && column == UINT64_MAX && left <= x; ++i) {
    int64_t w = ColumnPixels(i);
    if (x < left + w) column = i;
    left += w;
  }
  if (column == UINT64_MAX) return 0;
  uint64_t rowH = uint64_t(FontSize()) + 4;
  uint64_t row = uint64_t(y) / rowH;
  if (row >= m_fixedRows) row = row + m_firstRow - m_fixedRows;
  if (row >= m_rows) return 0;
  *outColumn = column;
  *outRow = row;
  return 1;
}

void CFgUICell::OnLButtonDown(int32_t x, int32_t y) {
  uint64_t c, r;
  if (m_pressed || !HitTest(x, y, &c, &r)) return;
  m_pressed = 1;
  m_lastColumn = c;
  m_lastRow = r;
  if (m_onPress) m_onPress(c, r, m_user);
  if (m_onMove) m_onMove(c, r, m_user);
}

void CFgUICell::OnMouseMove(int32_t x, int32_t y) {
  uint64_t c, r;
  if (!m_pressed || !HitTest(x, y, &c, &r)) return;
  if (c == m_lastColumn && r == m_lastRow) return;
  m_lastColumn = c;
  m_lastRow = r;
  if (m_onMove) m_onMove(c, r, m_user);
}

void CFgUICell::OnLButtonUp(int32_t x, int32_t y) {
  uint64_t c, r;
  if (!m_pressed || !HitTest(x, y, &c, &r)) return;
  m_pressed = 0;
  m_lastColumn = m_lastRow = 0;
  if (m_onRelease) m_onRelease(c, r, m_user);
}

void CFgUICell::OnMouseWheel(int32_t, int32_t, int32_t notches) {
  if (!m_columns || !m_rows) return;
  int64_t first = int64_t(m_firstRow);
  if (notches < 0 && first > m_vBar.m_minimum) {
    int64_t next = first + notches;
    if (next < m_vBar.m_minimum) next = m_vBar.m_minimum;  // stop at the top
    SetCurrentCell(m_firstColumn, uint64_t(next));
  } else if (notches > 0 && first + m_vBar.m_page - 1 < m_vBar.m_maximum) {
    int64_t last = int64_t(m_vBar.m_maximum) - m_vBar.m_page + 1;
    int64_t next = first + notches < last ? first + notches : last;
    SetCurrentCell(m_firstColumn, uint64_t(next));
  }
}

void CFgUICell::OnAttach() {
  PlaceBars();
  m_hBar.m_kind = FgBarHorizontal;
  m_vBar.m_kind = FgBarVertical;
  for (CFgUIScrollBar* b : {&m_hBar, &m_vBar}) {
    b->SetRange(0, 0, 1, 0);
    b->m_tabStop = 0;
    b->m_user = this;
  }
  m_hBar.m_callback = OnHBar;
  m_vBar.m_callback = OnVBar;
  m_owner->AddChild(&m_hBar);
  m_owner->AddChild(&m_vBar);
  Layout();
}

void CFgUICell::OnShow(int32_t shown, intptr_t) {
  ShowBar(m_hBar, shown && m_hBarOn);
  ShowBar(m_vBar, shown && m_vBarOn);
}

// ---------------------------------------------------------------------------------------
// Drawing
void CFgUICell::DrawCell(CFgScreen* screen, CFgFont* font, uint64_t column, uint64_t row,
                         int32_t x, int32_t y, int32_t fixed) {
  const double(*c)[3] = m_owner->m_colors;
  int32_t S = FontSize();
  int32_t w = int32_t(ColumnPixels(column)), h = S + 4;
  int32_t x1 = x + w - 1, y1 = y + h - 1;
  int inHighlight = m_highlight && column >= m_highlightColumn0 && column <= m_highlightColumn1 &&
                    row >= m_highlightRow0 && row <= m_highlightRow1;
  const double* face;
  double text[3];
  if (fixed) {
    face = c[inHighlight ? FgColorDisabledText : FgColorFace];
    const double* t = c[inHighlight ? FgColorFace : FgColorFieldText];
    if (!m_enabled) t = c[FgColorDisabledText];
    for (int k = 0; k < 3; ++k) text[k] = t[k];
  } else {
    face = c[inHighlight ? FgColorFieldHighlight : FgColorFieldWhite];
    const double* t = c[m_enabled ? FgColorFieldText : FgColorDisabledText];
    for (int k = 0; k < 3; ++k) text[k] = t[k];
  }
  screen->SetClipRect(m_gridX0, m_gridY0, m_gridX1, m_gridY1);
  if (fixed) {
    FgFillRect(screen, x, y, x1, y1, face[0], face[1], face[2]);
    FgFillRect(screen, x, y, x1, y, 1, 1, 1);
    FgFillRect(screen, x, y, x, y1, 1, 1, 1);
    FgFillRect(screen, x, y1, x1, y1, 0, 0, 0);
    FgFillRect(screen, x1, y, x1, y1, 0, 0, 0);
  } else {
    const double* line = c[FgColorFace];
    FgFillRect(screen, x, y, x1, y1, line[0], line[1], line[2]);
    FgFillRect(screen, x, y, x1 - 1, y1 - 1, face[0], face[1], face[2]);
  }
  int32_t align = 0;
  double r = c[FgColorFieldText][0], g = c[FgColorFieldText][1], b = c[FgColorFieldText][2];
  const wchar_t* s = m_textFn ? m_textFn(column, row, &align, &r, &g, &b, m_user) : nullptr;
  if (!s || !*s || !font) return;
  if (!fixed && m_enabled) {
    text[0] = r;
    text[1] = g;
    text[2] = b;
  }
  int64_t tw = FgTextWidth(s, uint64_t(S));
  int64_t tx = align < 0 ? x + 2 : align > 0 ? x1 - 1 - tw : x + (w - tw) / 2;
  // The text stays inside the cell less one pixel, and inside the grid.
  int32_t cx0 = x + 1 > m_gridX0 ? x + 1 : m_gridX0, cy0 = y + 1 > m_gridY0 ? y + 1 : m_gridY0;
  int32_t cx1 = x1 - 1 < m_gridX1 ? x1 - 1 : m_gridX1, cy1 = y1 - 1 < m_gridY1 ? y1 - 1 : m_gridY1;
  if (cx0 > cx1 || cy0 > cy1) return;
  screen->SetClipRect(cx0, cy0, cx1, cy1);
  glColor3d(text[0], text[1], text[2]);
  font->DrawText(double(tx), double(y) + 2, s);
}

void CFgUICell::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_owner || !m_hasContent) return;
  int32_t rowH = FontSize() + 4;
  // Left edges of the fixed and the shown scrolling columns; tops of the rows likewise.
  struct Span {
    uint64_t index;
    int32_t at;
  };
  std::vector<Span> cols, rows;
  int nc = 0, nr = 0, nfc = 0, nfr = 0;
  int64_t x = m_gridX0;
  for (uint64_t i = 0; i < m_fixedColumns && i < m_columns && x <= m_gridX1; ++i, ++nfc, ++nc) {
    cols.push_back({i, int32_t(x)});
    x += ColumnPixels(i);
  }
  for (uint64_t i = m_firstColumn; i < m_columns && x <= m_gridX1; ++i, ++nc) {
    cols.push_back({i, int32_t(x)});
    x += ColumnPixels(i);
  }
  int64_t y = m_gridY0;
  for (uint64_t i = 0; i < m_fixedRows && i < m_rows && y <= m_gridY1; ++i, ++nfr, ++nr) {
    rows.push_back({i, int32_t(y)});
    y += rowH;
  }
  for (uint64_t i = m_firstRow; i < m_rows && y <= m_gridY1; ++i, ++nr) {
    rows.push_back({i, int32_t(y)});
    y += rowH;
  }
  // Fixed corner, fixed rows, fixed column, then the scrolling cells.
  for (int r = 0; r < nfr; ++r)
    for (int k = 0; k < nfc; ++k) DrawCell(screen, font, cols[k].index, rows[r].index, cols[k].at, rows[r].at, 1);
  for (int r = 0; r < nfr; ++r)
    for (int k = nfc; k < nc; ++k) DrawCell(screen, font, cols[k].index, rows[r].index, cols[k].at, rows[r].at, 1);
  for (int r = nfr; r < nr; ++r)
    for (int k = 0; k < nfc; ++k) DrawCell(screen, font, cols[k].index, rows[r].index, cols[k].at, rows[r].at, 1);
  for (int r = nfr; r < nr; ++r)
    for (int k = nfc; k < nc; ++k) DrawCell(screen, font, cols[k].index, rows[r].index, cols[k].at, rows[r].at, 0);
  glDisable(GL_STENCIL_TEST);
}

// ---------------------------------------------------------------------------------------
// CSV text
namespace {

// One field of the CSV text. RFC 4180 quoting for a text holding a comma, a quote or a line
// break: a header such as "12,40" would otherwise add a field and shift every column after
// it. Every line feed of the file is CR LF, those inside a text as well.
int32_t WriteField(FILE* f, const char* bytes) {
  int32_t quote = strpbrk(bytes, ",\"\r\n") != nullptr;
  if (quote && fputc('"', f) == EOF) return 0;
  for (const char* p = bytes; *p; ++p) {
    if (*p == '\n') {
      if (fwrite("\r\n", 1, 2, f) != 2) return 0;
    } else if (*p == '"') {
      if (fwrite("\"\"", 1, 2, f) != 2) return 0;
    } else if (fputc(*p, f) == EOF) {
      return 0;
    }
  }
  if (quote && fputc('"', f) == EOF) return 0;
  return 1;
}

}  // namespace

int32_t CFgUICell::SaveText(const wchar_t* path) {
  if (!path || !*path) return 0;
  // Written beside the target and renamed over it after a good close: a failed write
  // keeps the old table.  Binary mode: the line ends are written as CR LF here.
  SafeFile out;
  if (!SafeFileOpenWide(&out, path)) return 0;
  FILE* f = out.stream;
  double textColor[3] = {0, 0, 0};
  if (m_owner)
    for (int k = 0; k < 3; ++k) textColor[k] = m_owner->m_colors[FgColorFieldText][k];
  int32_t ok = 1;
  for (uint64_t r = 0; r < m_rows && ok; ++r) {
    for (uint64_t c = 0; c < m_columns && ok; ++c) {
      int32_t align = 0;
      double red = textColor[0], green = textColor[1], blue = textColor[2];
      const wchar_t* s = m_textFn ? m_textFn(c, r, &align, &red, &green, &blue, m_user) : nullptr;
      if (s && *s) {
        char* bytes = WideToUtf8(s);
        if (!bytes) {
          ok = 0;  // never an empty cell in place of one that could not be converted
          break;
        }
        ok = WriteField(f, bytes);
        free(bytes);
      }
      if (!ok) break;
      const char* sep = c + 1 < m_columns ? "," : "\r\n";
      size_t n = c + 1 < m_columns ? 1 : 2;
      if (fwrite(sep, 1, n, f) != n) ok = 0;
    }
  }
  if (!ok) {
    SafeFileAbort(&out);
    return 0;
  }
  return SafeFileCommit(&out);
}
