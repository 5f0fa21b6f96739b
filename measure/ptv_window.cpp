// ptv_window.cpp - the particle tracker's settings window: the "trace" group over the
// "track", "edit" and "ptv" pages, the control callbacks, and the TRACK DATA / VECTOR DATA
// table window.
// Inside: window - layout - control callbacks - table window
#include <algorithm>
#include <cwchar>
#include <new>

#include "app/filterctrl.h"
#include "measure/ptv.h"
#include "toolkit/screen.h"

namespace {

FilterWindowPlace g_classPlace;  // where the last particle-tracking window was closed

constexpr uint64_t kWindowWidth = 390;
constexpr uint64_t kWindowHeight = 276;

const wchar_t* Text(const wchar_t* language, const wchar_t* jp, const wchar_t* en)
{
  return IsJapanese(language) ? jp : en;
}

}  // namespace

// ---- window -----------------------------------------------------------------------------

void CLfPtv::ShowDialog(int32_t show, CFgScreen* parent)
{
  if (!show) {
    m_table.Destroy();
    FilterDialogShow(this, &m_place, &g_classPlace, 0, nullptr, kWindowWidth, kWindowHeight, nullptr);
    return;
  }
  // A hidden window is laid out again too: the language may have changed meanwhile.
  Layout();
  if (!FilterDialogShow(this, &m_place, &g_classPlace, 1, parent, kWindowWidth, kWindowHeight, GetName(m_language)))
    return;
  RefreshDialog();
  if (m_tableReopen) {
    m_tableReopen = 0;
    ShowDataWindow(m_tableX, m_tableY, m_tableWidth, m_tableHeight);
  }
}

void CLfPtv::OnLanguageChanged(const wchar_t* language)
{
  if (m_table.GetWindow()) {
    m_table.SetLanguage(IsJapanese(language) ? "jp" : "en");
    m_table.SetTitle(m_table.m_english ? L"TRACK DATA" : L"追跡データ");
    m_tableX = m_table.m_x;
    m_tableY = m_table.m_y;
    m_tableWidth = m_table.m_clientWidth;
    m_tableHeight = m_table.m_clientHeight;
    m_tableReopen = 1;
  }
  CImgFilter::OnLanguageChanged(language);
}

void CLfPtv::RedrawHost()
{
  if (m_filterEnabled && m_host) m_host->Redraw();
}

// ---- layout -----------------------------------------------------------------------------

void CLfPtv::Layout()
{
  const wchar_t* l = m_language;
  const bool ja = IsJapanese(l) != 0;
  m_group.SetTitle(Text(l, L"軌跡", L"trace"));
  m_group.SetRect(8, 8, 374, 94);
  int32_t gx0 = 0, gy0 = 0, gx1 = 0, gy1 = 0;
  m_group.GetInnerRect(&gx0, &gy0, &gx1, &gy1);
  m_dispId.SetText(Text(l, L"ID表示", L"id"));
  m_dispId.SetRect(gx0 + 8, gy0 + 8, 72, 20);
  m_lineAll.SetText(Text(l, L"全てのシーン", L"all scene"));
  m_lineAll.SetRect(gx0 + 8, gy0 + 28, 120, 20);
  m_lineLabel.SetText(Text(l, L"軌跡長", L"line length"));
  m_lineLabel.SetRect(gx0 + 8, gy0 + 48, ja ? 48 : 80, 20);
  const int32_t barX = ja ? 64 : 96;
  const int32_t barWidth = (gx1 - 80) - gx0 - (barX - 1);
  // A group too narrow for the bar leaves it where it was rather than give it no width.
  if (barWidth >= 1) m_lineLen.SetRect(gx0 + barX, gy0 + 48, barWidth, 20);
  m_idList.SetRect(gx1 - 72, gy0 + 8, 66, std::max(1, (gy1 - gy0) - 15));

  m_tab.SetRect(8, 110, 374, 128);
  m_tab.SetPageTitle(0, Text(l, L"追跡", L"track"));
  m_tab.SetPageTitle(1, Text(l, L"修正", L"edit"));
  m_tab.SetPageTitle(2, L"ptv");
  int32_t x = 0, y = 0, x1 = 0, y1 = 0;
  m_tab.GetPageRect(&x, &y, &x1, &y1);

  // "track"
  m_searchLabel.SetText(Text(l, L"検索半径", L"search r"));
  m_searchLabel.SetRect(x + 8, y + 8, 64, 20);
  m_searchEdit.SetRect(x + 80, y + 8, 64, 20);
  m_unitLabel.SetRect(x + 152, y + 8, 64, 20);
  m_predict.SetText(Text(l, L"予測フレーム", L"prediction frame"));
  m_predict.SetRect(x + 8, y + 28, ja ? 112 : 140, 20);
  m_adaptive.SetText(Text(l, L"検索半径最適化", L"optimized search scope"));
  m_adaptive.SetRect(x + 8, y + 48, ja ? 128 : 192, 20);
  m_exec.SetText(Running() ? Text(l, L"中止", L"CANCEL") : Text(l, L"実行", L"EXEC"));
  m_exec.SetRect(x + 8, y + 72, 136, 28);

  // "edit"
  m_eraseIdLabel.SetText(Text(l, L"ID", L"id"));
  m_eraseIdLabel.SetRect(x + 8, y + 10, 16, 20);
  m_eraseId.SetRect(x + 32, y + 10, 48, 20);
  m_eraseSceneLabel.SetText(Text(l, L"シーン", L"scene"));
  m_eraseSceneLabel.SetRect(x + 88, y + 10, 48, 20);
  m_eraseFirst.SetRect(x + 144, y + 10, 48, 20);
  m_eraseToLabel.SetText(Text(l, L"～", L"-"));
  m_eraseToLabel.SetRect(x + (ja ? 188 : 192), y + 10, 16, 20);
  m_eraseLast.SetRect(x + 208, y + 10, 48, 20);
  m_eraseButton.SetText(Text(l, L"データ削除", L"DATA ERASE"));
  m_eraseButton.SetRect(x + 268, y + 6, 96, 28);
  m_splitIdLabel.SetText(Text(l, L"ID", L"id"));
  m_splitIdLabel.SetRect(x + 8, y + 44, 16, 20);
  m_splitIdEdit.SetRect(x + 32, y + 44, 48, 20);
  m_splitSceneLabel.SetText(Text(l, L"シーン以降", L"after the scene"));
  m_splitSceneLabel.SetRect(x + 88, y + 44, ja ? 80 : 120, 20);
  m_splitScene.SetRect(x + 208, y + 44, 48, 20);
  m_splitButton.SetText(Text(l, L"ID分割", L"SPLIT ID"));
  m_splitButton.SetRect(x + 268, y + 40, 96, 28);
  m_concat1Label.SetText(Text(l, L"ID1", L"id1"));
  m_concat1Label.SetRect(x + 8, y + 78, 24, 20);
  m_concat1.SetRect(x + 32, y + 78, 48, 20);
  m_concat2Label.SetText(Text(l, L"ID2", L"id2"));
  m_concat2Label.SetRect(x + 88, y + 78, 24, 20);
  m_concat2.SetRect(x + 112, y + 78, 48, 20);
  m_concatButton.SetText(Text(l, L"ID結合", L"CONCAT ID"));
  m_concatButton.SetRect(x + 268, y + 74, 96, 28);

  // "ptv"
  CFgUIChkButton* radios[4] = {&m_cell8, &m_cell16, &m_cell32, &m_cell64};
  const int32_t radioX[4] = {8, 54, 104, 154};
  for (int32_t i = 0; i < 4; ++i) radios[i]->SetRect(x + radioX[i], y + 10, 40, 20);
  m_gridOn.SetText(Text(l, L"グリッド表示", L"grid on"));
  m_gridOn.SetRect(x + 8, y + 30, 158, 20);
  m_cellColor.SetText(Text(l, L"セルを着色する", L"coloring cells"));
  m_cellColor.SetRect(x + 8, y + 50, 158, 20);
  m_zoomLabel.SetRect(x + 204, y + 8, 158, 20);
  m_arrowZoom.SetRect(x + 204, y + 28, 158, 20);
  m_colorLabel.SetRect(x + 204, y + 60, 158, 20);
  m_colorStep.SetRect(x + 204, y + 80, 158, 20);
  m_gridExec.SetText(Text(l, L"実行", L"EXEC"));
  m_gridExec.SetRect(x + 8, y + 72, 186, 28);
  UpdateScaleLabels();

  m_dataButton.SetText(Text(l, L"データ", L"DATA"));
  m_dataButton.SetRect(8, y1 + 8, 64, 28);
  m_load.SetText(Text(l, L"ロード", L"LOAD"));
  m_load.SetRect(245, y1 + 8, 64, 28);
  m_save.SetText(Text(l, L"セーブ", L"SAVE"));
  m_save.SetRect(317, y1 + 8, 64, 28);
}

void CLfPtv::UpdateScaleLabels()
{
  const bool ja = IsJapanese(m_language) != 0;
  wchar_t text[64];
  swprintf(text, 64, ja ? L"表示倍率(x%.1f)" : L"zoom(x%.1f)", m_arrowZoom.m_position / 10.0);
  m_zoomLabel.SetText(text);
  swprintf(text, 64, ja ? L"%dpixel/frame毎" : L"every %dpixel/frame", m_colorStep.m_position);
  m_colorLabel.SetText(text);
}

// ---- control callbacks ------------------------------------------------------------------

void CLfPtv::OnTab(CFgUITab*, void* user, int32_t page, int32_t old)
{
  static_cast<CLfPtv*>(user)->OnPageChanged(page, old);
}

void CLfPtv::OnCellRadio(CFgUIChkButton*, void* user)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  static const int32_t kSizes[4] = {8, 16, 32, 64};
  const int32_t selected = CFgUIChkButton::GetGroupSelection(&self->m_cell8);
  if (selected >= 0 && selected <= 3) self->OnCellSizeChosen(kSizes[selected]);
}

void CLfPtv::OnGridBox(CFgUIChkButton* box, void* user)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  {
    PlatformLockHold draw(FgDrawLock());
    self->m_grid.showGrid = box->m_checked ? 1 : 0;
  }
  self->RedrawHost();
}

void CLfPtv::OnCellsBox(CFgUIChkButton*, void* user) { static_cast<CLfPtv*>(user)->RedrawHost(); }

void CLfPtv::OnLineBar(CFgUIScrollBar*, void* user, int32_t) { static_cast<CLfPtv*>(user)->RedrawHost(); }

void CLfPtv::OnZoomBar(CFgUIScrollBar*, void* user, int32_t)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  if (self->m_inBarCallback) return;
  self->m_inBarCallback = 1;
  self->UpdateScaleLabels();
  self->CFgUICtrl::Redraw();
  self->RedrawHost();
  self->m_inBarCallback = 0;
}

void CLfPtv::OnColorBar(CFgUIScrollBar*, void* user, int32_t position)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  if (self->m_inBarCallback) return;
  self->m_inBarCallback = 1;
  {
    PlatformLockHold draw(FgDrawLock());
    self->m_grid.colorBase = position;
    self->m_grid.colorStep = position;
  }
  self->UpdateScaleLabels();
  self->CFgUICtrl::Redraw();
  self->RedrawHost();
  self->m_inBarCallback = 0;
}

void CLfPtv::OnEditButton(CFgUIButton* button, void* user)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  if (button == &self->m_eraseButton) self->EraseData();
  else if (button == &self->m_splitButton) self->SplitId();
  else if (button == &self->m_concatButton) self->ConcatIds();
  else if (button == &self->m_gridExec) self->BuildVectorGrid();
}

void CLfPtv::OnDataPressed(CFgUIButton*, void* user) { static_cast<CLfPtv*>(user)->OpenDataWindow(); }

// ---- table window -----------------------------------------------------------------------

PtvTableContext CLfPtv::TableContext()
{
  PtvTableContext c;
  c.data = &m_data;
  c.index = &m_index;
  c.grid = &m_grid;
  {
    PlatformLockHold hold(m_lock);
    c.scale = m_copyScale;
    c.axisY = m_copyAxisY;
    wcsncpy(m_tableUnit, m_copyUnit, kPtvUnitUnits - 1);
    m_tableUnit[kPtvUnitUnits - 1] = 0;
  }
  c.unit = m_tableUnit;
  c.sourceHeight = m_srcHeight;
  c.japanese = IsJapanese(m_language);
  // Microseconds keep the fraction of a millisecond that the speed needs.
  c.frameMicroseconds = m_host ? int64_t(std::min<uint64_t>(m_host->GetSourceFrameIntervalUs(), INT64_MAX)) : 0;
  return c;
}

const wchar_t* CLfPtv::TrackCellText(uint64_t column, uint64_t row, int32_t* alignment, double* red, double* green,
                                     double* blue, void* user)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  if (!self) return nullptr;
  if (self->m_page == 2) return VectorCellText(column, row, alignment, red, green, blue, user);
  return PtvTrackCellText(self->TableContext(), column, row, alignment);
}

const wchar_t* CLfPtv::VectorCellText(uint64_t column, uint64_t row, int32_t* alignment, double*, double*, double*,
                                      void* user)
{
  CLfPtv* self = static_cast<CLfPtv*>(user);
  if (!self) return nullptr;
  return PtvVectorCellText(self->TableContext(), column, row, alignment);
}

namespace {

// The grid of a table window sized to columns x rows; with at least 2 x 3 the first column
// and the first two rows are fixed headers and the current cell lies past them.
void SizeTable(CFgUICell& cell, uint64_t columns, uint64_t rows, int32_t laidOut)
{
  cell.Reset(0);
  if (columns > 0 && rows > 0 && cell.SetSize(columns, rows, 0) && columns >= 2 && rows >= 3) {
    cell.SelectRow(0, 2, 0);
    cell.SetCurrentCell(1, 2);
  }
  if (laidOut) cell.Layout();
}

}  // namespace

void CLfPtv::RefreshDataWindow()
{
  if (!m_table.GetWindow()) return;
  {
    PlatformLockHold draw(FgDrawLock());
    uint64_t columns = 0, rows = 0;
    if (m_page == 2) PtvVectorTableSize(m_grid, &columns, &rows);
    else PtvTrackTableSize(m_data, &columns, &rows);
    SizeTable(m_table.m_cell, columns, rows, 1);
    FitDataColumns();
  }
  m_table.Redraw();
}

void CLfPtv::FitDataColumns()
{
  CFgUICell& cell = m_table.m_cell;
  if (!cell.m_widths || cell.m_columns < 2 || cell.m_rows < 3) return;
  if (m_page == 2) {
    FitFlowTableColumns(&cell, m_grid, kResultColumnWidth);
  } else {
    const uint64_t count = (cell.m_columns - 1) / 2;
    TrackColumnExtremes* ids = new (std::nothrow) TrackColumnExtremes[count];
    if (!ids) return;  // the columns keep their width
    PtvTrackExtremes(m_data, ids, count);
    FitTrackTableColumns(&cell, ids, count, kResultColumnWidth);
    delete[] ids;
  }
  if (m_table.GetWindow()) cell.Layout();
}

void CLfPtv::OpenDataWindow()
{
  m_table.SetLanguage(IsJapanese(m_language) ? "jp" : "en");
  if (m_table.GetWindow())
    ShowDataWindow(m_table.m_x, m_table.m_y, m_table.m_clientWidth, m_table.m_clientHeight);
  else
    ShowDataWindow(-1, -1, 0, 0);
}

void CLfPtv::ShowDataWindow(int32_t x, int32_t y, uint64_t w, uint64_t h)
{
  const bool vectors = m_page == 2;
  const wchar_t* title = vectors ? (m_table.m_english ? L"VECTOR DATA" : L"ベクトルデータ")
                                 : (m_table.m_english ? L"TRACK DATA" : L"追跡データ");
  const int32_t open = m_table.GetWindow() != nullptr;
  {
    PlatformLockHold draw(FgDrawLock());
    uint64_t columns = 0, rows = 0;
    // Without tracks both tables are empty, the vector one too.
    if (m_data.IdCount() > 0 && m_data.sceneCount > 0) {
      if (vectors) PtvVectorTableSize(m_grid, &columns, &rows);
      else PtvTrackTableSize(m_data, &columns, &rows);
    }
    SizeTable(m_table.m_cell, columns, rows, open);
    FitDataColumns();
  }
  if (open) {
    if (!m_table.m_visible) m_table.ShowWindow(1);
    m_table.Redraw();
    return;
  }
  CFgScreen* parent = GetWindow() ? static_cast<CFgScreen*>(this) : m_dialogParent;
  const bool placed = x >= 0 && y >= 0;
  m_table.Create(placed ? x : -1, placed ? y : -1, w ? w : 300, h ? h : 300, title, 1, parent);
}
