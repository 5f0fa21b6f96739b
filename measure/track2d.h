// track2d.h - the 2D tracking tool: a filter of the chain whose window registers targets
// (the colour panel), tracks them over the scenes, edits their IDs and shows their
// coordinates in the "TRACK DATA" table.
//
//   CLfTrack2d   the filter (FilterId 10021, key "2d_tracking"), its window of three pages
//                ("regist", "track", "edit"), its enable rules and settings keys, the binary
//                tracking settings it opens and the table window it fills
//
// Threads: everything but Process runs on the UI thread.  Process runs on the filter
// worker; the targets, the track table and the calibration copy that it and the table
// window read change under the process-wide draw lock.
#pragma once
#include <cstdint>

#include "filters/common/scaffold.h"
#include "measure/csvviewer.h"
#include "measure/track.h"
#include "measure/track2valopt.h"
#include "measure/trackhsv.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/list.h"
#include "toolkit/scrollbar.h"
#include "toolkit/tab.h"

constexpr int kTrack2dUnitUnits = 64;   // the calibration copy's unit, terminator included
constexpr int kTrack2dCellUnits = 64;   // one cell text, terminator included
constexpr uint32_t kTrack2dAllIds = 0xFFFFFFFFu;  // the "ALL" item's ID index (-1)

class CLfTrack2d : public CFilterWindow, public CTrackCtrl {
 public:
  static constexpr uint32_t kFilterId = 10021;
  enum Page : int32_t { kPageRegist = 0, kPageTrack = 1, kPageEdit = 2 };

  CLfTrack2d();
  ~CLfTrack2d() override;

  // ---- filter slots ------------------------------------------------------------------------
  const wchar_t* GetName(const wchar_t* language) override;
  // Nothing while a run is going.
  void EnableDialog(int32_t enable) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void OnLanguageChanged(const wchar_t* language) override;
  void OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t sceneCount) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width, int64_t height,
               uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // The close box: refused while a run is going.
  int32_t OnClose() override;
  void OnEnableAll() override;

  // ---- tracker owner ---------------------------------------------------------------------
  // The binary tracking settings, laid out for the language, over this window.
  void OpenOptions() override;

  // ---- window ----------------------------------------------------------------------------
  // The enable rules, then a redraw.
  void RefreshDialog();
  // DATA: the table window in the language, at its place when it exists.
  void OpenTrackData();
  void ShowTrackData(int32_t x, int32_t y, uint64_t width, uint64_t height);
  // Sizes the grid from the track table again and redraws the table window when it exists
  // (after any change of targets or table).
  void RefreshTrackData();
  static const wchar_t* TrackCellText(uint64_t column, uint64_t row, int32_t* alignment, double* red,
                                      double* green, double* blue, void* user);
  // The ID list back to "ALL" alone, selected.
  void ResetIdList();
  // Sets the calibration copy (as Process does when the filter's calibration changed).
  void CopyCalibration(double scale, int32_t axisY, const wchar_t* unit);
  // The selected target, or null (call under the draw lock).
  CTrack* SelectedTrack();
  int32_t CurrentPage() const { return m_tab.m_currentPage; }

  // ---- runs and manual answers (track2d_run.cpp) -------------------------------------------
  // Forward: the scene shown to the last; backward: the first to the scene shown.
  int32_t GetSceneRange(int32_t* first, int32_t* last) override;
  int32_t GoToScene(int32_t scene) override;
  // Pumps the queued messages; non-zero once cancel or quit was asked.
  int32_t Yield() override;
  // Hides the window's own Redraw: the tracker's redraw processes the frame again.
  void Redraw() override;
  CImgBuff* GetSceneImage() override;
  int32_t WaitManualInput(int32_t target, int32_t scene, int32_t* x, int32_t* y) override;
  // The buttons: STEP, AUTO TRACK / MANUAL TRACK (the cancel button while a run goes), the
  // three answers.
  void Step();
  void ExecuteAuto() { Execute(0); }
  void ExecuteManual() { Execute(1); }
  void AnswerSkip();
  void AnswerNoData();
  void AnswerLost();
  // A click on the picture while an answer is awaited (image point).
  void AnswerClick(int32_t x, int32_t y);
  // RequestProcess(0) when the filter is enabled.
  void ProcessAgain();
  // The capture picture the next Process copies its frame into (null: none); the run's
  // buffer is kept so that every scene reuses its memory.
  CImgBuff* m_capture = nullptr;
  CImgBuff m_runPicture;
  int32_t m_answered = 0;    // the manual answer arrived (or the wait was ended)
  uint32_t m_stepWait = 0;   // a STEP's wait is going: the close box ends it

  // ---- mouse on the picture (track2d_edit.cpp) ----------------------------------------------
  using CFilterWindow::OnLButtonDown;
  using CFilterWindow::OnLButtonUp;
  using CFilterWindow::OnMouseMove;
  using CFilterWindow::OnRButtonDown;
  void OnMouseMove(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonUp(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  // A new target from the panel with the box, its ID list item and the selection; its index
  // or -1 (nothing kept).
  int32_t AddTargetAt(int32_t x, int32_t y, int32_t w, int32_t h);

  // ---- ID editing and track files (track2d_edit.cpp) ----------------------------------------
  // The ID whose point in the scene shown counts nearest to (x, y) (the lower on a tie), with
  // its first and last scene holding a point (from 1); -1 when there is none.
  int32_t FindNearestId(int32_t x, int32_t y, int32_t* first, int32_t* last);
  void DeleteId();
  void EraseData();
  void SplitId();
  void ConcatIds();
  void LoadP2d();
  void SaveP2d();
  // Loads a track file (the part of LOAD after the chooser); 1 on success.
  int32_t LoadP2dPath(const char* path);
  // Saves the table (the part of SAVE after the chooser and the overwrite question).
  int32_t SaveP2dPath(const char* path);
  // Appends the ID list's item for target index ("%d" of index + 1).
  void AppendIdItem(int32_t index);

  // ---- overlay (track2d_overlay.cpp) -----------------------------------------------------------
  using CFilterWindow::DrawOverlay;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t viewX0,
                   int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1,
                   int32_t imageY1, int32_t zoom) override;
  void OnOverlayColorChanged(double red, double green, double blue) override;
  struct OverlayView {
    PixelToGlFn toGlX, toGlY;
    CFgFont* font;
    int32_t viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom;
  };
  // Style 0 plain, 1 selected or a run's target (a second outline 2 pixels out), 2 waiting
  // (1 pixel out).
  void DrawTarget(int32_t id, int32_t style, const OverlayView& v);
  void DrawTrace(int32_t id, int32_t scene, const OverlayView& v);
  // The view corners of a box's outline grown by grow pixels on every side.
  static void BoxCorners(int32_t x, int32_t y, int32_t w, int32_t h, int32_t grow, const OverlayView& v,
                         int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1);
  // The trace's segments (view pixels, four numbers each) of an ID at a scene.
  void TraceSegments(int32_t id, int32_t scene, const OverlayView& v, int32_t* cross, int32_t* crossX,
                     int32_t* crossY, int32_t* segments, int32_t* count, int32_t capacity);

  // ---- state -----------------------------------------------------------------------------
  // Calibration last copied from the filter: the table's texts use it.
  double m_copyScale = 1.0;
  int32_t m_copyAxisY = 1;
  wchar_t m_copyUnit[kTrack2dUnitUnits] = {};
  uint64_t m_sourceHeightCopy = 0;
  // Run state: manual run, running, cancel asked, waiting for a manual answer, "lost".
  uint32_t m_manualRun = 0, m_running = 0, m_cancel = 0, m_waiting = 0, m_lostAnswer = 0;
  int32_t m_answerX = 0, m_answerY = 0;
  // Mouse: drag mode (0 none, 1 new box, 2 moving a box, 3 a manual answer pressed).
  int32_t m_dragMode = 0;
  int32_t m_selected = -1;
  int32_t m_dragStartX = 0, m_dragStartY = 0, m_dragX = 0, m_dragY = 0;
  int32_t m_boxStartX = 0, m_boxStartY = 0;
  int32_t m_lastBoxW = 1, m_lastBoxH = 1;
  // Run options.
  int32_t m_step = 1;
  int32_t m_order = 0;  // 0 by scene, 1 by ID, 2 only the selected ID
  int32_t m_predict = 1;

  CPanelHSV m_panel;
  CTrack2ValOptUI m_options;
  CCsvViewer m_table;
  // The table window's place and size over a language change, and whether to reopen it.
  int32_t m_tableX = -1, m_tableY = -1;
  uint64_t m_tableW = 0, m_tableH = 0;
  uint32_t m_tableReopen = 0;
  // Set while a language change closes and reopens the window: the binary settings stay
  // open and are relabelled instead.
  uint32_t m_relayout = 0;

  // ---- controls --------------------------------------------------------------------------
  CFgUIGroup m_group;
  CFgUIChkButton m_dispId, m_lineAll;
  CFgUILabel m_lineLabel;
  CFgUIScrollBar m_lineBar;
  CFgUIList m_idList;
  CFgUITab m_tab;
  CFgUIButton m_delId;
  CFgUIChkButton m_predictBox, m_reversBox;
  CFgUIChkButton m_orderRadio[3];
  CFgUIButton m_stepButton, m_autoButton, m_manualButton;
  CFgUIButton m_skipButton, m_noDataButton, m_lostButton;
  CFgUILabel m_eraseIdLabel, m_eraseSceneLabel, m_eraseToLabel;
  CFgUIEdit m_eraseIdEdit, m_eraseFromEdit, m_eraseToEdit;
  CFgUIButton m_eraseButton;
  CFgUILabel m_splitIdLabel, m_splitSceneLabel;
  CFgUIEdit m_splitIdEdit, m_splitSceneEdit;
  CFgUIButton m_splitButton;
  CFgUILabel m_concatId1Label, m_concatId2Label;
  CFgUIEdit m_concatId1Edit, m_concatId2Edit;
  CFgUIButton m_concatButton;
  CFgUIButton m_dataButton, m_loadButton, m_saveButton;

 private:
  // Texts and places for the current language.
  void Layout();
  // The page's panel shown (regist) or hidden with its picking ended.
  void ShowPagePanel(int32_t page);
  void TitleTable();
  // Draw lock held: the grid sized for the track table, its columns fitted to the numbers.
  void SizeTrackTable();
  void FitTrackColumns();

  static void OnDisplayOption(CFgUIChkButton* box, void* user);
  static void OnLineBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnIdList(CFgUIList* list, void* user, int32_t index);
  static void OnPage(CFgUITab* tab, void* user, int32_t newPage, int32_t oldPage);
  static void OnPredict(CFgUIChkButton* box, void* user);
  static void OnRevers(CFgUIChkButton* box, void* user);
  static void OnOrder(CFgUIChkButton* box, void* user);
  static void OnPanelChanged(void* user, CPanelHSV* panel);
  static void OnOptionsChanged(void* user, int32_t preview, CTrack2ValOptUI* dialog);
  static void OnData(CFgUIButton* button, void* user);
  void Execute(int32_t manual);
  void ConnectRunButtons();
  void ConnectEditButtons();
  void BadInput();
  void FillEditFields(int32_t x, int32_t y, bool shift);
  // The boxes centred on their points in the scene, unless a box is dragged or a run goes.
  void FollowPoints(uint64_t scene);
  static void OnRunButton(CFgUIButton* button, void* user);

  wchar_t m_cell[kTrack2dCellUnits] = {};
};
