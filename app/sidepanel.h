// sidepanel.h - the panel at the right edge of the main window: the current filter chain as
// rows, four chain tabs, DEL / UP / DOWN / FLUSH, and the one chain controller, whose host
// operations it answers against the main screen.
//
//   CSidePanel       the panel; a widget of the main window and the chain controller
//   MakeSidePanelIcons  its icon sheet: 4 cells of 20 x 20 and their faded copies
//
// Events and results (rows are 20 pixels high; r = row under the pointer + scroll position):
//   left press on a tab          SelectChainTab(tab)
//   left press, enable box       filter on/off, OnEnable, redraw, RequestProcess(0)
//   left press, window box       settings window shown or hidden (filters that have one)
//   left press, name             no Shift: select r; Shift with an anchor (or a selection,
//                                which becomes the anchor): range anchor..r, or select r
//                                when r is the anchor
//   left press elsewhere         nothing (below the last row, outside the list)
//   right press on a row         r outside the range / not selected: select r; drag starts
//   move while dragging          the block (range or selected row) follows whole rows,
//                                stopping at either end of the chain
//   right release                drag ends; RequestProcess(0) when rows moved
//   DEL / UP / DOWN              a one-row range first becomes the single selection
//   FLUSH                        still source, one scene, filters present, OK: the processed
//                                frame becomes the source and every chain empties
#pragma once

#include <cstdint>

#include "app/filterctrl.h"
#include "toolkit/button.h"
#include "toolkit/scrollbar.h"
#include "toolkit/texture.h"
#include "toolkit/uiobj.h"

class CMainScreen;

constexpr int32_t kSidePanelRowHeight = 20;

// Fills texture with the four row icons (off, on, window hidden, window shown) and their
// faded row, and uploads it.  0 on failure.
int32_t MakeSidePanelIcons(CFgTexture* texture);

class CSidePanel : public CFgUIObj, public CFilterCtrl {
 public:
  CSidePanel();
  ~CSidePanel() override;

  void Layout();
  void UpdateRows();
  // Appends to the current chain and selects it; 0 for null or when the chain cannot grow.
  int32_t AddFilter(CImgFilter* filter);
  // The controller's own: appends without selecting, showing or processing.
  using CFilterCtrl::AddFilter;
  // 0 for an index beyond 3 (nothing changes then).
  int32_t SelectChainTab(uint32_t index);

  // The buttons' actions (also what their callbacks call).
  void Delete();
  void Up();
  void Down();
  void Flush();

  // ---- widget ----------------------------------------------------------------------------
  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnRButtonDown(int32_t x, int32_t y) override;
  void OnRButtonUp(int32_t x, int32_t y) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;
  void OnShow(int32_t shown, intptr_t argument) override;
  void OnEnable(int32_t enabled) override;

  // ---- host operations, answered against the main screen -----------------------------------
  void OnDialogClosed() override;
  void EnableOnly(uint32_t solo, CImgFilter* filter) override;
  void RequestProcess(uint32_t async) override;
  void OnProcessed() override;
  void Redraw() override;
  int32_t SeekFrame(uint64_t position) override;
  uint64_t GetCurrentScene() override;
  uint64_t GetSourceFrameTime() override;
  uint64_t GetPlaybackInterval() override;
  void EnableImageInput(uint32_t enable) override;
  void ApplyCalibration(double scale, int32_t axisY, const wchar_t* unit) override;
  void OpenAsNewImage(CImgBuff* picture) override;
  int32_t GetSourceImage(CImgBuff* out) override;
  int32_t GetOutputImage(CImgBuff* out) override;
  void OpenResultImage(CImgBuff* picture, uint32_t flag) override;
  void GetEncodeSettings(MediaWriteOptions* out) override;
  uint64_t GetSourceFrameIntervalUs() override;

  // The widget's rectangle (CFilterCtrl has a width and height of its own: the source's).
  int32_t PanelX() const { return CFgUIObj::m_x; }
  int32_t PanelY() const { return CFgUIObj::m_y; }
  int32_t PanelWidth() const { return CFgUIObj::m_width; }
  int32_t PanelHeight() const { return CFgUIObj::m_height; }

  // ---- members: the owner, the controls, the selection and the list's geometry -------------
  CMainScreen* m_mainScreen = nullptr;
  CFgUIButton m_del, m_up, m_down, m_flush;
  CFgUIScrollBar m_rows;  // scrolls the filter rows
  CFgTexture m_icons;
  int32_t m_anchor = -1;
  int32_t m_rangeFirst = -1, m_rangeLast = -1;
  int64_t m_listX = 0, m_listY = 0, m_listWidth = 0, m_listHeight = 0;
  uint64_t m_fullRows = 0;
  uint64_t m_visibleRows = 0;
  uint32_t m_scrollNeeded = 0;
  int64_t m_tabs[4][4] = {};  // x, y, width, height
  uint32_t m_dragging = 0;
  int32_t m_dragStartX = 0, m_dragStartY = 0;
  int32_t m_rowsMoved = 0;

 private:
  int32_t HasRange() const { return m_rangeFirst != -1 && m_rangeLast != -1; }
  // A range of one row becomes the single selection of that row.
  void SingleFromOneRowRange();
  void RedrawMain();
  // Moves the rows first..last one row down (down 1) or up, keeping their order.
  void MoveBlock(int64_t first, int64_t last, int32_t down);
  static void OnButton(CFgUIButton* button, void* user);
  static void OnScroll(CFgUIScrollBar* bar, void* user, int32_t position);
};
