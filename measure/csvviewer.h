// csvviewer.h - the result table window of the tools that keep tables over many scenes, and
// the column widths that keep every number of a result table whole.
//   CCsvViewer           a resizable window with one "File" menu ("Save CSV") over a cell grid
//                        whose texts all come from the owner's cell-text callback; saves what
//                        it shows
//   NumberTextWidth      width of a number's text in half-width characters, 0 for other texts
//   FitColumnToNumbers   a column widened to the widest number among some of its cells
//   FitFlowTableColumns  the VECTOR DATA layout of a flow field (scene, then speed and
//                        direction per cell) fitted to its longest vectors
//   TrackColumnExtremes  the scenes of one track's extreme coordinates
//   FitTrackTableColumns the TRACK DATA layout (scene, then X and Y per track) fitted to them
#pragma once

#include <cstdint>

#include "measure/flowdata.h"
#include "toolkit/cell.h"
#include "toolkit/menu.h"
#include "toolkit/uiobj.h"

class CCsvViewer : public CFgUIDialog {
 public:
  CCsvViewer();
  ~CCsvViewer() override;

  // "jp" gives the Japanese menu, anything else the English one.
  void SetLanguage(const char* language);
  void OnSize(uint64_t width, uint64_t height) override;
  // The window system sends no size message for the first size: the grid is placed here.
  void OnCreate() override;
  static void OnMenu(CFgUIMenuBar* bar, void* viewer, int32_t menu, int32_t command);

  CFgUIMenuBar m_menuBar;
  CFgUICell m_cell;
  uint32_t m_english = 0;  // 0 Japanese texts, 1 English
};

// The width the grid gives every column, in half-width characters.
constexpr uint64_t kResultColumnWidth = 9;

// Cells clip their text, and a right-aligned number wider than its column would lose its
// leading digits without a sign ("1281375.000" read as "81375.000").  Owners therefore
// widen such a column through the grid's width table; texts that are not numbers (headers,
// units, "---") may still be clipped.

// The width of text in half-width characters when it reads as a number (an optional sign,
// digits with an optional fraction, an optional exponent), else 0.
uint64_t NumberTextWidth(const wchar_t* text);

// Sets the column to the widest number among the grid's texts of the given rows, never below
// width (also narrowing a column widened before back to it).  The owner names the rows that
// can hold the widest number: every text of a column is one provider call.  Nothing happens
// outside the grid.  The caller lays the grid out afterwards.
void FitColumnToNumbers(CFgUICell* cell, uint64_t column, const uint64_t* rows, uint64_t count, uint64_t width);

// A grid laid out as the vector tables are (column 0 the scene from row 2 on; columns 2k + 1
// and 2k + 2 the speed and direction of cell k, row 2 + s scene s): the scene column and each
// speed column fitted as above, from the scene of the cell's longest vector, whose speed is
// the largest whatever the calibration.  Directions ("%.2f" of an angle in radians) stay
// within the width.
void FitFlowTableColumns(CFgUICell* cell, const CFlowData& field, uint64_t width);

// The scenes holding one track's lowest and highest x and y (-1 while it has no point).  A
// track table shows x and y through a scale and possibly a flipped axis, both monotone, so
// the widest text of an X or Y column is that of one of these scenes.
struct TrackColumnExtremes {
  int32_t sceneLowX = -1, sceneHighX = -1, sceneLowY = -1, sceneHighY = -1;
  double lowX = 0, highX = 0, lowY = 0, highY = 0;
  void Add(int32_t scene, double x, double y);
};

// A grid laid out as the track tables are (column 0 the scene from row 2 on; columns 2k + 1
// and 2k + 2 the X and Y of track k, row 2 + s scene s): the scene column and both columns
// of every track k below count fitted to the extremes of ids[k].
void FitTrackTableColumns(CFgUICell* cell, const TrackColumnExtremes* ids, uint64_t count, uint64_t width);
