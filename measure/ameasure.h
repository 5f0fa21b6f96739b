// ameasure.h - automatic measurement: every island of the frame that reaches the filter is
// measured (24 quantities) into a table of one column per island, saved as CSV, and marked
// on the view with a numbered cross.
//
//   CLfAmeasure                 the filter (FilterId 10012) and its resizable table window
//   AmeasureNameColumnWidth     width of the names column for a language, in half-width
//                               characters
//   SetAmeasureRecordLimitForTesting  record arrays above this many records fail to allocate
//
// Threads: Process runs on the filter worker: it measures into a fresh array outside any
// lock and takes the process-wide draw lock only to swap the array in and size the grid.
// The grid's cell texts, the overlay and "Save CSV" read the records under the draw lock;
// the island flag is an atomic that the menu flips on the UI thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/islands.h"
#include "filters/common/scaffold.h"
#include "toolkit/cell.h"
#include "toolkit/menu.h"

class CLfAmeasure : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10012;
  static constexpr uint64_t kQuantityRows = 24;
  static constexpr int32_t kSaveCsv = 101;
  static constexpr int32_t kIsland = 201;

  CLfAmeasure();
  ~CLfAmeasure() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void OnEnable(int32_t enabled) override;
  // Closing stores the window's place and client size and destroys it; opening uses them
  // (300 x 200 centred on the parent the first time).
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void OnLanguageChanged(const wchar_t* language) override;
  // Keeps the copy that the worker and the table read under the draw lock.
  void OnScaleChanged(double scale, int32_t axisY, const wchar_t* unit) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  using CFilterWindow::DrawOverlay;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnSize(uint64_t width, uint64_t height) override;
  // X sends no size message for the first size: the grid is placed here.
  void OnCreate() override;

  // Both menus in the language ("jp" Japanese, else English); sets the language index.
  void BuildMenu(const wchar_t* language);
  // Draw lock held by the caller.  Frees the records and takes records (count of them,
  // owned from now on; null with 0 empties the table).  Sizes the grid: count + 1 columns,
  // 25 rows, column 0 and row 0 the header.
  void InstallResults(IslandRecord* records, uint64_t count, int32_t redraw);
  // A fresh zeroed array of count records installed in place of the old one; null (the
  // table empty) for 0 or when memory is short.
  IslandRecord* ResizeResults(uint64_t count, int32_t redraw);

  static void OnMenu(CFgUIMenuBar* bar, void* filter, int32_t menu, int32_t command);
  static const wchar_t* IslandMenuLabel(void* filter);
  static const wchar_t* ResultCellText(uint64_t column, uint64_t row, int32_t* alignment,
                                       double* red, double* green, double* blue, void* filter);

  // ---- fields ---------------------------------------------------------------------------
  IslandRecord* m_records = nullptr;  // under the draw lock
  uint64_t m_recordCount = 0;
  CFgUIMenuBar m_menuBar;
  CFgUICell m_grid;
  uint32_t m_sizeStored = 0;
  uint64_t m_storedWidth = 0, m_storedHeight = 0;
  uint32_t m_languageIndex = 0;  // 0 Japanese, 1 English
  std::atomic<uint32_t> m_island{1};
  // The calibration as the table and Process read it, under the draw lock (the base's copy
  // is written by the UI thread without it).
  double m_calScale = 1.0;
  int32_t m_calAxisY = 1;
  wchar_t m_calUnit[kFilterUnitUnits] = {};
  // What the records were measured with, to find the islands' pixels again for the crosses.
  double m_recordScale = 1.0;
  int32_t m_recordAxisY = 1;
  int32_t m_recordHeight = 0;

 private:
  wchar_t m_cellText[kFilterUnitUnits + 16] = {};  // the callback's answer, under the draw lock
};

uint64_t AmeasureNameColumnWidth(uint32_t languageIndex);
// UINT64_MAX lifts the limit; 0 refuses every array.
void SetAmeasureRecordLimitForTesting(uint64_t limit);
