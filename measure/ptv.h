// ptv.h - the particle-tracking filter: finds the particles of every scene of a binarised
// video, links them into tracks and keeps them per scene; saves and loads them as track
// files shared with the 2D tracker.
//
//   CLfPtv   the filter (FilterId 10020) and its settings window's controls: EXEC of the
//            "track" page, search radius, the two linking options, the ID list, LOAD, SAVE
//
// Everything but Process runs on the UI thread.  A run walks the scenes through the host
// (the scene walk); Process, on the filter worker inside each seek, hands over the frame as
// the filters before it left it, with the chain's rectangle, connectivity and background.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "app/filter.h"
#include "app/scenewalk.h"
#include "engine/frame.h"
#include "engine/islands.h"
#include "measure/csvviewer.h"
#include "measure/flowdata.h"
#include "measure/p2d.h"
#include "measure/particles.h"
#include "measure/ptvedit.h"
#include "platform/thread.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/list.h"
#include "toolkit/scrollbar.h"
#include "toolkit/tab.h"
#include "toolkit/uiobj.h"

constexpr uint32_t kFilterIdParticleTracking = 10020;
constexpr int kPtvUnitUnits = 64;  // the calibration copy's unit, terminator included

class CLfPtv : public CImgFilter, public CFgUIDialog {
 public:
  CLfPtv();
  ~CLfPtv() override;

  const wchar_t* GetName(const wchar_t* language) override;
  int32_t HasDialog() override { return 1; }
  // Opens the window laid out for the language (and the table window when it is to be
  // reopened), or closes both.
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  // An open table window is retitled and reopened where it was with the settings window.
  void OnLanguageChanged(const wchar_t* language) override;
  // Nothing while a run is going on.
  void EnableDialog(int32_t enable) override;
  void OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t sceneCount) override;
  // The picture is not changed: while a run captures, it is kept with the rectangle,
  // connectivity and background; on every call the calibration copy follows the filter's.
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width, int64_t height,
               uint32_t connectivity, uint32_t background) override;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t viewX0,
                   int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                   int32_t imageX1, int32_t imageY1, int32_t zoom) override;
  // The window's own overlay pass stays visible beside the view's.
  using CFgUIDialog::DrawOverlay;
  // "track" page: the first click sets the centre of the radius circle, every later one R;
  // "edit" page: the nearest particle's id goes into the edit boxes (with Shift, into ID2).
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  // Removes the radius circle.
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // The close box: refused while running.
  int32_t OnClose() override;
  // Enables or disables the controls that a run or the page locks.
  void OnEnableAll() override;

  // EXEC: starts a run over every scene, or cancels the running one.
  void Execute();
  // The scene walk with detection and linking over scenes 0 to last (at least 3): 1 when it
  // ran to the end or was stopped within its first three scenes, 0 on failure or a later
  // stop.
  int32_t TrackFrames(int32_t last);
  // SAVE and LOAD, and their stream bodies.
  void SaveP2d();
  void LoadP2d();
  int32_t WriteP2d(FILE* file);
  int32_t ReadP2d(FILE* file);

  // The enabled state of the controls by the run state, then a redraw.
  void RefreshDialog();
  // The ID list: "ALL", then "1" to IdCount, with "ALL" selected; empty without tracks.
  void RebuildIdList();
  // The search-radius box lost the focus: a value above 0 becomes R, anything else shows R
  // again.
  void OnSearchRadiusEdit();
  int32_t Running() const { return m_walk.Busy(); }

  // The "edit" page's three edits, read from their boxes (1-based ids and scenes); a bad
  // entry is refused with a message and changes nothing.
  void EraseData();
  void SplitId();
  void ConcatIds();
  // EXEC of the "ptv" page: the grid laid anew for the picture and filled from the tracks.
  void BuildVectorGrid();
  // The cell size radio: a new size empties the grid and keeps the tracks.
  void OnCellSizeChosen(int32_t size);
  // A click on the ID list: "ALL" clears every other item, any other item clears "ALL".
  void OnIdListClick(int32_t index);
  // The page shown: 0 "track", 1 "edit", 2 "ptv".  A change drops the radius circle.
  void OnPageChanged(int32_t page, int32_t old);
  // The particle of the current scene nearest to (x, y), and the first and last scene
  // (1-based) of its id; 0 when the scene has none.
  int32_t PickParticle(int64_t x, int64_t y, int32_t* id, int32_t* first, int32_t* last);
  // One track over the picture: cross, id, trail or the whole track.
  void DrawTrack(int32_t id);
  // The id index follows every change of the store.
  void RebuildIndex();

  // The window's texts for the language and the places of its controls.
  void Layout();
  // The arrow-zoom and colour-step labels from their bars.
  void UpdateScaleLabels();
  // DATA: the table window opened, or sized again and redrawn where it is.
  void OpenDataWindow();
  // Titles and sizes the table for the page, then opens it at (x, y) (centred over the
  // window when either is negative) with a client of w x h (300 where 0), or shows it.
  void ShowDataWindow(int32_t x, int32_t y, uint64_t w, uint64_t h);
  // The track table sized again after a run, load, split or join, when the window is open.
  void RefreshDataWindow();
  // Draw lock held: the table's columns widened to its widest numbers (the page's table).
  void FitDataColumns();
  // The table's cell texts: the track table, or the vector table while "ptv" is current.
  static const wchar_t* TrackCellText(uint64_t column, uint64_t row, int32_t* alignment, double* red,
                                      double* green, double* blue, void* user);
  static const wchar_t* VectorCellText(uint64_t column, uint64_t row, int32_t* alignment, double* red,
                                       double* green, double* blue, void* user);

  // ---- controls -------------------------------------------------------------------------
  CFgUIGroup m_group;  // "trace"
  CFgUILabel m_lineLabel;
  CFgUITab m_tab;
  CFgUILabel m_eraseIdLabel, m_eraseSceneLabel, m_eraseToLabel;
  CFgUILabel m_splitIdLabel, m_splitSceneLabel;
  CFgUILabel m_concat1Label, m_concat2Label;
  CFgUIButton m_eraseButton, m_splitButton, m_concatButton;
  CFgUILabel m_zoomLabel, m_colorLabel;
  CFgUIButton m_gridExec;  // EXEC of the "ptv" page
  CFgUIButton m_dataButton;
  CFgUIButton m_exec;
  CFgUIList m_idList;
  CFgUILabel m_searchLabel;
  CFgUIEdit m_searchEdit;
  CFgUILabel m_unitLabel;
  CFgUIChkButton m_predict;   // "prediction frame": P of the linking
  CFgUIChkButton m_adaptive;  // "optimized search scope": A of the linking
  CFgUIButton m_load;
  CFgUIButton m_save;
  CFgUIChkButton m_dispId;   // "id"
  CFgUIChkButton m_lineAll;  // "all scene"
  CFgUIScrollBar m_lineLen;  // trail length in scenes
  CFgUIEdit m_eraseId, m_eraseFirst, m_eraseLast;
  CFgUIEdit m_splitIdEdit, m_splitScene;
  CFgUIEdit m_concat1, m_concat2;
  CFgUIChkButton m_cell8, m_cell16, m_cell32, m_cell64;
  CFgUIChkButton m_gridOn;
  CFgUIChkButton m_cellColor;  // "coloring cells"
  CFgUIScrollBar m_arrowZoom;  // arrow zoom x 10
  CFgUIScrollBar m_colorStep;

  // ---- data -----------------------------------------------------------------------------
  CParticleData m_data;
  PtvIdIndex m_index;
  CFlowData m_grid;
  int32_t m_cellSize = 32;
  int32_t m_srcHeight = 0;
  int32_t m_srcWidth = 0;
  double m_searchRadius = 5.0;  // R, calibrated length units
  int32_t m_pickCount = 0;
  int32_t m_pickX = 0, m_pickY = 0;
  int32_t m_page = 0;
  // The calibration the linking and the tables use, refreshed by Process.
  double m_copyScale = 1.0;
  int32_t m_copyAxisY = 1;
  wchar_t m_copyUnit[kPtvUnitUnits] = {};
  CSceneWalk m_walk;
  CCsvViewer m_table;
  // The table window closed by a language change opens again here with the window.
  uint32_t m_tableReopen = 0;
  int32_t m_tableX = 0, m_tableY = 0;
  uint64_t m_tableWidth = 0, m_tableHeight = 0;
  FilterWindowPlace m_place;

 private:
  static void OnTab(CFgUITab* tab, void* user, int32_t page, int32_t old);
  static void OnCellRadio(CFgUIChkButton* button, void* user);
  static void OnGridBox(CFgUIChkButton* button, void* user);
  static void OnCellsBox(CFgUIChkButton* button, void* user);
  static void OnLineBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnZoomBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnColorBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnEditButton(CFgUIButton* button, void* user);
  static void OnDataPressed(CFgUIButton* button, void* user);
  // The table's texts from the store, the grid and the calibration copy.
  PtvTableContext TableContext();
  void RedrawHost();
  int32_t m_inBarCallback = 0;
  wchar_t m_tableUnit[kPtvUnitUnits] = {};  // the unit the table texts were last made with  // a bar's callback does not run again from inside itself
  static void OnExecPressed(CFgUIButton* button, void* user);
  static void OnLoadPressed(CFgUIButton* button, void* user);
  static void OnSavePressed(CFgUIButton* button, void* user);
  static void OnSearchFocusLost(CFgUIEdit* edit, void* user);
  static void OnIdListClicked(CFgUIList* list, void* user, int32_t index);
  static void OnTraceOption(CFgUIChkButton* button, void* user);
  // The window when it is open, else the window it would open over.
  CFgScreen* MessageParent();
  int32_t Message(const wchar_t* jp, const wchar_t* en, int32_t error, int32_t kind = 1);
  // The file chooser for a track file, titled for the language; 1 with the path chosen.
  int32_t AskTrackFile(const wchar_t* jpTitle, const wchar_t* enTitle, wchar_t* path, uint64_t units);
  // Detects the islands of the fetched picture into list (count 0 when it fails).
  void Detect(const CImgBuff* picture, PtvList* list);
  int32_t StoreScene(int32_t scene, const PtvList& list);

  // What DrawTrack needs of the DrawOverlay call it serves.
  struct TrackView {
    PixelToGlFn toGlX, toGlY;
    CFgFont* font;
    int32_t viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom;
  } m_view = {};
  // An image pixel to a view pixel, to the middle of a magnified pixel.
  void ToView(int32_t* x, int32_t* y) const;
  PlatformLock m_lock;  // the recorded detection settings and the calibration copy
  RoiRect m_roi = {0, 0, -1, -1};
  IslandParams m_islandParams = {};
  CImgBuff m_work;
  IslandRecord* m_islands = nullptr;  // kPtvMaxParticles, during a run
};
