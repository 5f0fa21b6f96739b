// piv.h - the PIV tool: a grid of square cells over the picture, each cell of scene i found
// in scene i - 1 by normalised template matching refined to a quarter pixel, the
// displacements kept in a CFlowData, drawn as speed-coloured arrows and tabled per scene.
//
//   PivCellRecord    one cell's pattern and matched position during a pair
//   PivMatchContext  what the matching of one pair reads
//   PivJob           one frame pair handed to the pair thread
//   CLfPiv           the filter (FilterId 10033, key "piv"): the run (EXEC), its settings
//                    window with the "measure" and "result" pages, the overlay, cell
//                    selection and deletion, and the VECTOR DATA table
//
// Threads: everything but Process and DrawOverlay runs on the UI thread.  A run walks the
// scenes through the host; each pair is computed on a thread of its own (cutting, matching
// and storing over the worker pool) while the UI thread dispatches messages, so CANCEL
// stays live.  The field is written only by the pair thread while the overlay draws nothing;
// changes made on the UI thread outside a run hold the draw lock.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "app/scenewalk.h"
#include "core/imgbuff.h"
#include "measure/csvviewer.h"
#include "measure/flowdata.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/scrollbar.h"
#include "toolkit/tab.h"
#include "toolkit/uiobj.h"

constexpr uint32_t kFilterIdPiv = 10033;
constexpr int kPivUnitUnits = 64;  // the calibration copy's unit, terminator included

struct PivCellRecord {
  CImgBuff* pattern = nullptr;  // owned
  int32_t size = 0;             // pattern side in pixels
  double x = 0.0, y = 0.0;      // pattern's top left in the current picture; then the match
  double score = 0.0;
};

struct PivMatchContext {
  CImgBuff* searched = nullptr;  // the previous picture
  PivCellRecord* cells = nullptr;
  int32_t cellSize = 0, nx = 0, ny = 0;
  int32_t range = 0;  // search range in pixels
  int32_t pyramid = 0, large = 0, subpixel = 0;
  // Cutting: the current picture and the grid origin; any failure sets failed.
  const CImgBuff* current = nullptr;
  int32_t originX = 0, originY = 0;
  std::atomic<int32_t> failed{0};
  // Storing: the field and the scene written.
  CFlowData* field = nullptr;
  int32_t scene = 0;
  void* cancelUser = nullptr;  // the running instance
};

struct PivJob {
  CImgBuff* previous = nullptr;
  CImgBuff* current = nullptr;
  int32_t scene = 0;
  int32_t method = 0;  // 0 pyramid ("fast processing"), 1 full search, 2 hierarchical
  int32_t large = 0;
  int32_t factor = 1;  // -2 half a cell, 1 a cell, 2 two cells
  CFlowData* field = nullptr;
  void* cancelUser = nullptr;
  std::atomic<int32_t> result{-1};
};

class CLfPiv : public CImgFilter, public CFgUIDialog {
 public:
  CLfPiv();
  ~CLfPiv() override;

  // ---- filter slots -------------------------------------------------------------------------
  const wchar_t* GetName(const wchar_t* language) override;
  int32_t HasDialog() override { return 1; }
  void EnableDialog(int32_t enable) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void OnLanguageChanged(const wchar_t* language) override;
  void OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t sceneCount) override;
  // While a run captures, keeps the frame as the filters before it left it; always keeps
  // the calibration copy current.  The picture is not changed.
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width, int64_t height,
               uint32_t connectivity, uint32_t background) override;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t viewX0,
                   int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                   int32_t imageX1, int32_t imageY1, int32_t zoom) override;
  using CFgUIDialog::DrawOverlay;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  using CFgUIDialog::OnLButtonDown;
  using CFgUIDialog::OnRButtonDown;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // The close box: refused while running.
  int32_t OnClose() override;
  void OnEnableAll() override;

  // ---- the run --------------------------------------------------------------------------
  // EXEC: starts a run over every scene, or cancels the running one.
  void Execute();
  static void ExecutePressed(CFgUIButton* button, void* tool);
  // The grid plan from the source size and the cell size.
  void PlanGrid();
  // One pair on a thread of its own while this thread dispatches messages: 1 computed.
  int32_t RunInThread(CImgBuff* previous, CImgBuff* current, int32_t scene, int32_t method, int32_t large,
                      int32_t factor, CFlowData* field);
  static void WorkerBody(PivJob* job);
  static void CutCells(void* context, uint64_t first, uint64_t count);
  static void MatchCells(void* context, uint64_t first, uint64_t count);
  static void StoreVectors(void* context, uint64_t first, uint64_t count);
  static int32_t MatchHierarchical(CImgBuff* picture, PivMatchContext* context, int32_t levels);
  static int32_t IsCancelled(void* instance);
  int32_t Running() const { return m_running.load(); }
  // The method, large-pattern flag and factor a pair is computed with, as the controls
  // stand.
  int32_t Method() const;
  int32_t Factor() const;
  int32_t CellSize() const;

  // ---- window ---------------------------------------------------------------------------
  void RefreshDialog();
  void UpdateLabels();

  // ---- view and table -------------------------------------------------------------------
  static const wchar_t* VectorCellText(uint64_t column, uint64_t row, int32_t* alignment, double* red,
                                       double* green, double* blue, void* tool);
  void ShowVectorData(int32_t x, int32_t y, uint64_t width, uint64_t height);
  // The table's grid sized for the field (step 1 of ShowVectorData).
  void SizeVectorTable();
  static void OnVectorDataButton(CFgUIButton* button, void* tool);

  // ---- state ----------------------------------------------------------------------------
  int32_t m_planX = 0, m_planY = 0, m_planCell = 32, m_planNx = 0, m_planNy = 0;
  uint64_t m_planScenes = 0;
  CFlowData m_field;
  std::atomic<int32_t> m_running{0};
  std::atomic<int32_t> m_cancel{0};
  std::atomic<int32_t> m_pairScene{-1};  // the scene whose pair is being computed, else -1
  CSceneWalk m_walk;

  CCsvViewer m_table;
  double m_copyScale = 1.0;
  int32_t m_copyAxisY = 1;
  wchar_t m_copyUnit[kPivUnitUnits] = {};
  uint32_t m_tablePlaceKept = 0;
  int32_t m_tableX = 0, m_tableY = 0;
  uint64_t m_tableWidth = 0, m_tableHeight = 0;
  wchar_t m_cellText[64] = {};

  FilterWindowPlace m_place;
  CFgUITab m_tab;
  CFgUIChkButton m_cell8, m_cell16, m_cell32, m_cell64;
  CFgUILabel m_methodLabel;
  CFgUIScrollBar m_method;
  CFgUIChkButton m_fast, m_large;
  CFgUILabel m_searchLabel;
  CFgUIScrollBar m_search;
  CFgUIChkButton m_eraseDir;
  CFgUIScrollBar m_dirBar;
  CFgUIChkButton m_eraseLen;
  CFgUIScrollBar m_lenBar;
  CFgUIChkButton m_grid, m_cells;
  CFgUILabel m_zoomLabel;
  CFgUIScrollBar m_zoom;
  CFgUILabel m_colorLabel;
  CFgUIScrollBar m_color;
  CFgUIButton m_exec, m_data;

 private:
  CFgScreen* MessageParent();
  void Message(const wchar_t* jp, const wchar_t* en, int32_t error);
  void LayOut();
  // Host Redraw when the tool is enabled and has a host.
  void RedrawHost();
  // The flags of the field were made stale by new limits.
  void LimitsChanged();
  static void OnTab(CFgUITab* tab, void* user, int32_t newPage, int32_t oldPage);
  static void OnCellRadio(CFgUIChkButton* button, void* user);
  static void OnRefreshBox(CFgUIChkButton* button, void* user);
  static void OnSearchBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnEraseBox(CFgUIChkButton* button, void* user);
  static void OnDirBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnLenBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnGridBox(CFgUIChkButton* button, void* user);
  static void OnCellsBox(CFgUIChkButton* button, void* user);
  static void OnZoomBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnColorBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnMethodBar(CFgUIScrollBar* bar, void* user, int32_t position);
};
