// cell.h - CFgUICell: a grid of text cells asked for cell by cell from the owner's text
// provider, with fixed (header) rows and columns that stay while the rest scrolls, two
// scroll bars of its own, press / move / release callbacks, and CSV export (SaveText).
//
// Geometry (S = container font size): a column is width x (S / 2) + 4 pixels (width in
// half-width characters, 9 after SetSize), a row S + 4; the bars are 16 pixels thick.
// Mouse, by event:
//   press on a cell, not pressed   pressed; press callback, then move callback
//   move over another cell, pressed move callback
//   release over a cell, pressed   not pressed; release callback
//   release outside the cells      stays pressed (later presses are ignored)
//   wheel                          first shown row moves within the vertical bar's range
#pragma once

#include <cstdint>

#include "toolkit/scrollbar.h"
#include "toolkit/uiobj.h"

// Text of cell (column, row). alignment comes in as 0 (below 0 left, 0 centred, above 0
// right) and the colour as the container's text colour; the provider may change both. The
// text must stay valid until the next call; null is an empty cell.
typedef const wchar_t* (*CellTextFn)(uint64_t column, uint64_t row, int32_t* alignment,
                                     double* red, double* green, double* blue, void* user);
typedef void (*FgCellCallback)(uint64_t column, uint64_t row, void* user);

class CFgUICell : public CFgUIObj {
 public:
  CFgUICell();
  ~CFgUICell() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;
  void OnShow(int32_t shown, intptr_t argument) override;

  // The grid's left edge is always 0 (x is not used). 0 for a size below 1.
  int32_t SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
  // 0 (empty grid) for a zero count, more than 2^31 - 1 columns or rows, or no memory.
  int32_t SetSize(uint64_t columns, uint64_t rows, int32_t redraw);
  void Reset(int32_t redraw);
  // One fixed column and fixedRows fixed rows; 0 unless 2+ columns and fixedRows < rows.
  int32_t SelectRow(int32_t ignored, uint64_t fixedRows, int32_t redraw);
  int32_t SetCurrentCell(uint64_t column, uint64_t row);
  void Layout();
  // Writes the grid as CSV: UTF-8, cells joined by ",", CR LF after every row, nothing
  // quoted; a line feed inside a text is written as CR LF too. 0 when the file cannot be
  // written or a text cannot be converted; the old file then stays as it was.
  int32_t SaveText(const wchar_t* path);

  // Cell under a widget-relative point; 0 when none.
  int32_t HitTest(int32_t x, int32_t y, uint64_t* outColumn, uint64_t* outRow) const;
  int32_t FontSize() const;
  int64_t ColumnPixels(uint64_t column) const;

  CellTextFn m_textFn = nullptr;
  FgCellCallback m_onPress = nullptr;
  FgCellCallback m_onMove = nullptr;
  FgCellCallback m_onRelease = nullptr;
  void* m_user = nullptr;
  uint64_t m_columns = 0, m_rows = 0;
  uint64_t m_fixedColumns = 0, m_fixedRows = 0;
  uint64_t* m_widths = nullptr;
  uint64_t m_firstColumn = 0, m_firstRow = 0;
  int32_t m_highlight = 0;
  uint64_t m_highlightColumn0 = 0, m_highlightRow0 = 0, m_highlightColumn1 = 0,
           m_highlightRow1 = 0;
  int32_t m_gridX0 = 0, m_gridY0 = 0, m_gridX1 = -1, m_gridY1 = -1;
  int32_t m_hBarOn = 0, m_vBarOn = 0;
  int32_t m_hasContent = 0;
  int32_t m_pressed = 0;
  uint64_t m_lastColumn = 0, m_lastRow = 0;
  CFgUIScrollBar m_hBar;
  CFgUIScrollBar m_vBar;

 private:
  static void OnHBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnVBar(CFgUIScrollBar* bar, void* user, int32_t position);
  void PlaceBars();
  void ShowBar(CFgUIScrollBar& bar, int32_t on);
  void Clear();
  void DrawCell(CFgScreen* screen, CFgFont* font, uint64_t column, uint64_t row, int32_t x,
                int32_t y, int32_t fixed);
};
