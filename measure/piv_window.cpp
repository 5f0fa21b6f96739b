// piv_window.cpp - the PIV settings window: the "measure" and "result" pages, their
// controls and enable rules, and the settings keys of filter lists.
// Inside: construction - filter slots - layout and enable rules - control callbacks - settings
#include "measure/piv.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "toolkit/screen.h"

namespace {

FilterWindowPlace g_classPlace;  // where the last PIV window was closed

const wchar_t* Text(const wchar_t* language, const wchar_t* jp, const wchar_t* en)
{
  return IsJapanese(language) ? jp : en;
}

// An optional "-" and decimal digits; 1 with the value, 0 for any other text (read as 0
// by the callers) or a number beyond 32 bits.
int32_t ReadNumber(const wchar_t* text, int64_t* value)
{
  *value = 0;
  if (!text) return 0;
  const wchar_t* p = text;
  const bool minus = *p == L'-';
  if (minus) ++p;
  if (!*p) return 0;
  int64_t v = 0;
  for (; *p; ++p) {
    if (*p < L'0' || *p > L'9') return 0;
    v = v * 10 + (*p - L'0');
    if (v > 0xFFFFFFFFll) {
      *value = INT64_MAX;  // outside every range
      return 1;
    }
  }
  *value = minus ? -v : v;
  return 1;
}

const wchar_t* Value(CCfgPack* pack, const wchar_t* key)
{
  CCfgItem* item = pack->FindItem(key);
  return item && item->value ? item->value : nullptr;
}

}  // namespace

// ---- construction ---------------------------------------------------------------------

CLfPiv::CLfPiv()
{
  m_table.m_cell.m_textFn = VectorCellText;
  m_table.m_cell.m_user = this;
  m_tab.AddPage(L"measure");
  m_tab.AddPage(L"result");
  m_tab.m_callback = OnTab;
  m_tab.m_user = this;
  CFgUIChkButton* radios[4] = {&m_cell8, &m_cell16, &m_cell32, &m_cell64};
  const wchar_t* sizes[4] = {L"8", L"16", L"32", L"64"};
  for (int32_t i = 0; i < 4; ++i) {
    radios[i]->SetText(sizes[i]);
    radios[i]->m_callback = OnCellRadio;
    radios[i]->m_user = this;
    if (i > 0) CFgUIChkButton::AddToGroup(&m_cell8, radios[i]);
  }
  CFgUIChkButton::SetGroupSelection(&m_cell8, 2, 0);
  m_method.SetRange(0, 2, 1, 1);
  m_method.m_callback = OnMethodBar;
  m_fast.m_checked = 1;
  m_fast.m_callback = OnRefreshBox;
  m_large.m_checked = 1;
  m_large.m_callback = OnRefreshBox;
  m_search.SetRange(0, 2, 1, 1);
  m_search.m_callback = OnSearchBar;
  m_exec.m_callback = ExecutePressed;
  m_grid.m_checked = 1;
  m_grid.m_callback = OnGridBox;
  m_cells.m_checked = 0;
  m_cells.m_callback = OnCellsBox;
  m_zoom.SetRange(10, 100, 1, 30);
  m_zoom.m_callback = OnZoomBar;
  m_color.SetRange(1, 32, 1, 2);
  m_color.m_callback = OnColorBar;
  m_eraseDir.m_checked = 1;
  m_eraseDir.m_callback = OnEraseBox;
  m_dirBar.SetRange(30, 120, 1, 45);
  m_dirBar.m_callback = OnDirBar;
  m_eraseLen.m_checked = 1;
  m_eraseLen.m_callback = OnEraseBox;
  m_lenBar.SetRange(15, 30, 1, 20);
  m_lenBar.m_callback = OnLenBar;
  m_data.m_callback = OnVectorDataButton;
  // Without a kind a bar draws only its frame and ignores the mouse.
  for (CFgUIScrollBar* bar : {&m_method, &m_search, &m_zoom, &m_color, &m_dirBar, &m_lenBar})
    bar->m_kind = FgBarHorizontal;
  CFgUIObj* users[] = {&m_fast, &m_large, &m_search, &m_exec, &m_grid, &m_cells, &m_zoom, &m_color,
                       &m_eraseDir, &m_dirBar, &m_eraseLen, &m_lenBar, &m_data, &m_method};
  m_fast.m_user = m_large.m_user = m_grid.m_user = m_cells.m_user = m_eraseDir.m_user = m_eraseLen.m_user = this;
  m_search.m_user = m_zoom.m_user = m_color.m_user = m_dirBar.m_user = m_lenBar.m_user = m_method.m_user = this;
  m_exec.m_user = m_data.m_user = this;
  (void)users;
  CFgUIObj* measure[] = {&m_cell8, &m_cell16, &m_cell32, &m_cell64, &m_methodLabel, &m_method, &m_fast,
                         &m_large, &m_searchLabel, &m_search, &m_exec};
  CFgUIObj* result[] = {&m_grid,  &m_cells,    &m_zoomLabel, &m_zoom,     &m_colorLabel, &m_color,
                        &m_eraseDir, &m_dirBar, &m_eraseLen, &m_lenBar, &m_data};
  AddChild(&m_tab);
  for (CFgUIObj* w : measure) {
    m_tab.AddWidget(0, w);
    // The method is chosen only through the settings key: its bar is never shown.
    if (w != &m_methodLabel && w != &m_method) AddChild(w);
  }
  for (CFgUIObj* w : result) {
    m_tab.AddWidget(1, w);
    AddChild(w);
  }
  m_exec.SetText(L"EXEC");
  m_data.SetText(L"DATA");
  UpdateLabels();
  RefreshDialog();
}

CLfPiv::~CLfPiv()
{
  // The windows go first: nothing draws the controls or the table once they are gone.
  m_table.Destroy();
  Destroy();
}

// ---- filter slots ---------------------------------------------------------------------

const wchar_t* CLfPiv::GetName(const wchar_t*) { return L"PIV"; }

void CLfPiv::EnableDialog(int32_t enable)
{
  if (Running()) return;
  FilterDialogEnable(this, enable);
}

void CLfPiv::OnEnableAll() { RefreshDialog(); }

int32_t CLfPiv::OnClose()
{
  if (Running()) return 0;
  return FilterDialogClose(this, this);
}

void CLfPiv::LayOut()
{
  const wchar_t* lang = m_language;
  m_tab.SetPageTitle(0, Text(lang, L"計測", L"measure"));
  m_tab.SetPageTitle(1, Text(lang, L"結果", L"result"));
  m_fast.SetText(Text(lang, L"高速処理をする", L"fast processing"));
  m_large.SetText(Text(lang, L"大きなパターンで検索", L"look at big pattern"));
  m_grid.SetText(Text(lang, L"グリッド表示", L"grid on"));
  m_cells.SetText(Text(lang, L"セルを着色する", L"coloring cells"));
  m_exec.SetText(Running() ? Text(lang, L"中止", L"CANCEL") : Text(lang, L"実行", L"EXEC"));
  m_data.SetText(Text(lang, L"データ", L"DATA"));
  UpdateLabels();
  m_tab.SetRect(8, 8, 208, 328);
  int32_t x0 = 0, y0 = 0, x1 = 0;
  m_tab.GetPageRect(&x0, &y0, &x1, nullptr);
  const int32_t w = x1 - x0 - 15;
  struct Place {
    CFgUIObj* control;
    int32_t x, y, w, h;
  };
  const Place places[] = {
      {&m_cell8, 8, 8, 40, 20},      {&m_cell16, 58, 8, 40, 20},     {&m_cell32, 108, 8, 40, 20},
      {&m_cell64, 158, 8, 40, 20},   {&m_fast, 8, 36, w, 20},        {&m_large, 8, 56, w, 20},
      {&m_searchLabel, 8, 84, w, 20}, {&m_search, 8, 104, w, 20},    {&m_exec, 8, 254, w, 40},
      {&m_methodLabel, 8, 132, w, 20}, {&m_method, 8, 152, w, 20},   {&m_grid, 8, 8, w, 20},
      {&m_cells, 8, 28, w, 20},      {&m_zoomLabel, 8, 56, w, 20},   {&m_zoom, 8, 76, w, 20},
      {&m_colorLabel, 8, 104, w, 20}, {&m_color, 8, 124, w, 20},     {&m_eraseDir, 8, 152, w, 20},
      {&m_dirBar, 8, 172, w, 20},    {&m_eraseLen, 8, 200, w, 20},   {&m_lenBar, 8, 220, w, 20},
      {&m_data, 8, 254, w, 40},
  };
  for (const Place& p : places) p.control->SetRect(x0 + p.x, y0 + p.y, p.w, p.h);
}

void CLfPiv::ShowDialog(int32_t show, CFgScreen* parent)
{
  if (!show) {
    m_table.Destroy();
    FilterDialogShow(this, &m_place, &g_classPlace, 0, parent, 224, 344, L"PIV");
    return;
  }
  LayOut();
  FilterDialogShow(this, &m_place, &g_classPlace, 1, parent, 224, 344, L"PIV");
  RefreshDialog();
  if (m_tablePlaceKept) {
    m_tablePlaceKept = 0;
    ShowVectorData(m_tableX, m_tableY, m_tableWidth, m_tableHeight);
  }
}

void CLfPiv::OnLanguageChanged(const wchar_t* language)
{
  if (m_table.GetWindow()) {
    char lang[8] = {};
    if (language && IsJapanese(language)) strcpy(lang, "jp");
    else strcpy(lang, "en");
    m_table.SetLanguage(lang);
    m_table.SetTitle(m_table.m_english ? L"VECTOR DATA" : L"ベクトルデータ");
    m_tablePlaceKept = 1;
    m_tableX = m_table.m_x;
    m_tableY = m_table.m_y;
    m_tableWidth = m_table.m_clientWidth;
    m_tableHeight = m_table.m_clientHeight;
  }
  CImgFilter::OnLanguageChanged(language);
}

// ---- layout and enable rules ------------------------------------------------------------

void CLfPiv::RefreshDialog()
{
  const int32_t idle = Running() ? 0 : 1;
  const int32_t cell = CellSize();
  struct Rule {
    CFgUIObj* control;
    int32_t enabled;
  };
  const Rule rules[] = {
      {&m_cell8, idle},
      {&m_cell16, idle},
      {&m_cell32, idle},
      {&m_cell64, idle},
      {&m_fast, idle && !(cell == 8 && !m_large.m_checked)},
      {&m_large, idle && m_method.m_position != 2},
      {&m_searchLabel, idle},
      {&m_search, idle},
      {&m_exec, 1},
      {&m_grid, idle},
      {&m_cells, idle},
      {&m_zoom, idle},
      {&m_color, idle},
      {&m_eraseDir, idle},
      {&m_dirBar, idle},
      {&m_eraseLen, idle},
      {&m_lenBar, idle},
      {&m_data, idle},
  };
  for (const Rule& r : rules) {
    if (!r.enabled && m_focusChild == r.control) FocusNext();
    r.control->m_enabled = r.enabled;
  }
  CFgUICtrl::Redraw();
}

void CLfPiv::UpdateLabels()
{
  const wchar_t* lang = m_language;
  const bool ja = IsJapanese(lang) != 0;
  static const wchar_t* kSearchJa[3] = {L"±グリッド/2", L"±グリッド", L"±グリッドx2"};
  static const wchar_t* kSearchEn[3] = {L"grid size / 2", L"grid size", L"grid size x 2"};
  const int32_t sp = m_search.m_position >= 0 && m_search.m_position <= 2 ? m_search.m_position : 1;
  m_searchLabel.SetText(ja ? kSearchJa[sp] : kSearchEn[sp]);
  wchar_t text[64];
  swprintf(text, 64, ja ? L"ベクトルの表示倍率(x%.1f)" : L"zoom(x%.1f)", m_zoom.m_position / 10.0);
  m_zoomLabel.SetText(text);
  swprintf(text, 64, ja ? L"色の変化(%ldpixel/frame毎)" : L"color(every %ldpixel/frame)", long(m_color.m_position));
  m_colorLabel.SetText(text);
  swprintf(text, 64, ja ? L"削除目安%ld度以上異なる" : L"del more than %ld deg", long(m_dirBar.m_position));
  m_eraseDir.SetText(text);
  swprintf(text, 64, ja ? L"削除目安%.1f倍以上長い" : L"del more than %.1f times", m_lenBar.m_position / 10.0);
  m_eraseLen.SetText(text);
  const int32_t mp = m_method.m_position;
  m_methodLabel.SetText(mp == 0   ? (ja ? L"高速相互相関" : L"fast cross correlation")
                        : mp == 1 ? (ja ? L"相互相関" : L"cross correlation")
                                  : (ja ? L"階層相関" : L"hierarchical correlation"));
}

void CLfPiv::RedrawHost()
{
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPiv::LimitsChanged()
{
  {
    PlatformLockHold hold(FgDrawLock());
    m_field.ClearFlags();
  }
  UpdateLabels();
  CFgUICtrl::Redraw();
  RedrawHost();
  if (m_table.GetWindow()) m_table.Redraw();
}

// ---- control callbacks ----------------------------------------------------------------

void CLfPiv::OnTab(CFgUITab*, void* user, int32_t, int32_t) { static_cast<CLfPiv*>(user)->RedrawHost(); }

void CLfPiv::OnCellRadio(CFgUIChkButton*, void* user)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  const int32_t s = self->CellSize();
  if (s != self->m_planCell) {
    self->m_planCell = s;
    self->PlanGrid();
  }
  self->RefreshDialog();
}

void CLfPiv::OnRefreshBox(CFgUIChkButton*, void* user) { static_cast<CLfPiv*>(user)->RefreshDialog(); }

void CLfPiv::OnMethodBar(CFgUIScrollBar*, void* user, int32_t)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  self->UpdateLabels();
  self->RefreshDialog();
}

void CLfPiv::OnSearchBar(CFgUIScrollBar*, void* user, int32_t)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  self->UpdateLabels();
  self->CFgUICtrl::Redraw();
  if (self->m_table.GetWindow()) self->m_table.Redraw();
}

void CLfPiv::OnEraseBox(CFgUIChkButton*, void* user)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  self->RedrawHost();
  if (self->m_table.GetWindow()) self->m_table.Redraw();
}

void CLfPiv::OnDirBar(CFgUIScrollBar*, void* user, int32_t position)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  const double limit = position * 3.14159265358979323846 / 180.0;
  if (limit > 0 && self->m_field.lengthRatio > 1) {
    PlatformLockHold hold(FgDrawLock());
    self->m_field.angleLimit = limit;
  }
  self->LimitsChanged();
}

void CLfPiv::OnLenBar(CFgUIScrollBar*, void* user, int32_t position)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  const double ratio = position / 10.0;
  if (ratio > 1 && self->m_field.angleLimit > 0) {
    PlatformLockHold hold(FgDrawLock());
    self->m_field.lengthRatio = ratio;
  }
  self->LimitsChanged();
}

void CLfPiv::OnGridBox(CFgUIChkButton* box, void* user)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  self->m_field.showGrid = box->m_checked ? 1 : 0;
  self->RedrawHost();
}

void CLfPiv::OnCellsBox(CFgUIChkButton*, void* user) { static_cast<CLfPiv*>(user)->RedrawHost(); }

void CLfPiv::OnZoomBar(CFgUIScrollBar*, void* user, int32_t)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  self->UpdateLabels();
  self->CFgUICtrl::Redraw();
  self->RedrawHost();
}

void CLfPiv::OnColorBar(CFgUIScrollBar*, void* user, int32_t position)
{
  CLfPiv* self = static_cast<CLfPiv*>(user);
  {
    PlatformLockHold hold(FgDrawLock());
    self->m_field.colorBase = position;
    self->m_field.colorStep = position;
  }
  self->UpdateLabels();
  self->CFgUICtrl::Redraw();
  self->RedrawHost();
}

// ---- settings ---------------------------------------------------------------------------

void CLfPiv::SaveParams(CCfgPack* pack)
{
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  wchar_t text[16];
  const int32_t sel = CFgUIChkButton::GetGroupSelection(&m_cell8);
  swprintf(text, 16, L"%d", sel >= 0 && sel <= 3 ? sel : 2);
  pack->AddItem(L"cell_size", text);
  pack->AddItem(L"large_pattern", m_large.m_checked ? L"1" : L"0");
  pack->AddItem(L"fast_scan", m_fast.m_checked ? L"1" : L"0");
  swprintf(text, 16, L"%d", m_search.m_position);
  pack->AddItem(L"search_size", text);
  pack->AddItem(L"grid", m_grid.m_checked ? L"1" : L"0");
  pack->AddItem(L"cell", m_cells.m_checked ? L"1" : L"0");
  swprintf(text, 16, L"%d", m_zoom.m_position);
  pack->AddItem(L"arrow_zoom", text);
  swprintf(text, 16, L"%d", m_color.m_position);
  pack->AddItem(L"color_bar", text);
  pack->AddItem(L"erase_r", m_eraseDir.m_checked ? L"1" : L"0");
  swprintf(text, 16, L"%d", m_dirBar.m_position);
  pack->AddItem(L"erase_r_val", text);
  pack->AddItem(L"erase_l", m_eraseLen.m_checked ? L"1" : L"0");
  swprintf(text, 16, L"%d", m_lenBar.m_position);
  pack->AddItem(L"erase_l_val", text);
}

void CLfPiv::LoadParams(CCfgPack* pack)
{
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int64_t v;
  if (const wchar_t* t = Value(pack, L"cell_size")) {
    ReadNumber(t, &v);
    if (v >= 0 && v <= 3) {
      CFgUIChkButton::SetGroupSelection(&m_cell8, int32_t(v), 0);
      static const int32_t kSizes[4] = {8, 16, 32, 64};
      m_planCell = kSizes[v];
      PlanGrid();
    }
  }
  if (const wchar_t* t = Value(pack, L"level")) {
    ReadNumber(t, &v);
    if (v >= 0 && v <= 2) {
      m_method.m_position = int32_t(v);
      UpdateLabels();
    }
  }
  auto flag = [&](const wchar_t* key, CFgUIChkButton* box) {
    if (const wchar_t* t = Value(pack, key)) box->m_checked = wcscmp(t, L"0") == 0 ? 0 : 1;
  };
  auto bar = [&](const wchar_t* key, CFgUIScrollBar* b) {
    if (const wchar_t* t = Value(pack, key)) {
      ReadNumber(t, &v);
      if (v >= b->m_minimum && v <= b->m_maximum) {
        b->m_position = int32_t(v);
        if (b->m_callback) b->m_callback(b, b->m_user, b->m_position);
      }
    }
  };
  flag(L"large_pattern", &m_large);
  flag(L"fast_scan", &m_fast);
  bar(L"search_size", &m_search);
  flag(L"grid", &m_grid);
  m_field.showGrid = m_grid.m_checked ? 1 : 0;
  flag(L"cell", &m_cells);
  bar(L"arrow_zoom", &m_zoom);
  bar(L"color_bar", &m_color);
  flag(L"erase_r", &m_eraseDir);
  bar(L"erase_r_val", &m_dirBar);
  flag(L"erase_l", &m_eraseLen);
  bar(L"erase_l_val", &m_lenBar);
  RefreshDialog();
}
