// track2d.cpp - the 2D tracking tool's window: construction, layout by language, the enable
// rules, the settings keys, the source change, the frame's panel and preview, and the
// "TRACK DATA" table.
// Inside: construction - filter slots - layout - enable rules - settings - processing -
//         track data - callbacks
#include "measure/track2d.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "core/text.h"
#include "toolkit/screen.h"

namespace {

FilterWindowPlace g_classPlace;

constexpr uint64_t kWindowW = 390, kWindowH = 292;

const wchar_t* Text(const wchar_t* language, const wchar_t* jp, const wchar_t* en)
{
  return IsJapanese(language) ? jp : en;
}

void SetEnabled(CFgUIObj& control, bool on) { SetControlEnabled(&control, on ? 1 : 0); }

}  // namespace

// ---- construction -----------------------------------------------------------------------

CLfTrack2d::CLfTrack2d() : CFilterWindow(&g_classPlace)
{
  m_dispId.m_checked = 1;
  m_dispId.m_callback = OnDisplayOption;
  m_dispId.m_user = this;
  m_lineAll.m_callback = OnDisplayOption;
  m_lineAll.m_user = this;
  m_lineBar.m_kind = FgBarHorizontal;
  m_lineBar.SetRange(0, 30, 1, 10);
  m_lineBar.m_callback = OnLineBar;
  m_lineBar.m_user = this;
  m_idList.Clear(2, 0);  // several IDs may be shown at once
  m_idList.m_callback = OnIdList;
  m_idList.m_user = this;
  m_tab.m_callback = OnPage;
  m_tab.m_user = this;
  m_predictBox.m_checked = 1;
  m_predictBox.m_callback = OnPredict;
  m_predictBox.m_user = this;
  m_reversBox.m_callback = OnRevers;
  m_reversBox.m_user = this;
  for (int i = 1; i < 3; ++i) CFgUIChkButton::AddToGroup(&m_orderRadio[0], &m_orderRadio[i]);
  CFgUIChkButton::SetGroupSelection(&m_orderRadio[0], 0, 0);
  for (CFgUIChkButton& r : m_orderRadio) {
    r.m_callback = OnOrder;
    r.m_user = this;
  }
  m_dataButton.m_callback = OnData;
  ConnectRunButtons();
  m_dataButton.m_user = this;
  m_table.m_cell.m_textFn = TrackCellText;
  m_table.m_cell.m_user = this;
  m_options.m_onChange = OnOptionsChanged;
  m_options.m_changeUser = this;

  CFgUIObj* children[] = {&m_group,        &m_dispId,        &m_lineAll,        &m_lineLabel,
                          &m_lineBar,      &m_idList,        &m_tab,            &m_delId,
                          &m_predictBox,   &m_reversBox,     &m_orderRadio[0],  &m_orderRadio[1],
                          &m_orderRadio[2], &m_stepButton,   &m_autoButton,     &m_manualButton,
                          &m_skipButton,   &m_noDataButton,  &m_lostButton,     &m_eraseIdLabel,
                          &m_eraseIdEdit,  &m_eraseSceneLabel, &m_eraseFromEdit, &m_eraseToLabel,
                          &m_eraseToEdit,  &m_eraseButton,   &m_splitIdLabel,   &m_splitIdEdit,
                          &m_splitSceneLabel, &m_splitSceneEdit, &m_splitButton, &m_concatId1Label,
                          &m_concatId1Edit, &m_concatId2Label, &m_concatId2Edit, &m_concatButton,
                          &m_dataButton,   &m_loadButton,    &m_saveButton};
  for (CFgUIObj* child : children) AddChild(child);

  m_panel.m_owner = this;
  m_panel.m_onChange = OnPanelChanged;
  m_panel.m_changeUser = this;
  m_panel.Attach(this);

  ResetIdList();
  m_tab.AddPage(L"regist");
  m_tab.AddPage(L"track");
  m_tab.AddPage(L"edit");
  m_tab.AddWidget(kPageRegist, &m_delId);
  CFgUIObj* trackPage[] = {&m_predictBox,   &m_reversBox,   &m_orderRadio[0], &m_orderRadio[1],
                           &m_orderRadio[2], &m_stepButton, &m_autoButton,    &m_manualButton,
                           &m_skipButton,   &m_noDataButton, &m_lostButton};
  for (CFgUIObj* w : trackPage) {
    m_tab.AddWidget(kPageTrack, w);
    w->m_visible = 0;
  }
  CFgUIObj* editPage[] = {&m_eraseIdLabel,    &m_eraseIdEdit,    &m_eraseSceneLabel, &m_eraseFromEdit,
                          &m_eraseToLabel,    &m_eraseToEdit,    &m_eraseButton,     &m_splitIdLabel,
                          &m_splitIdEdit,     &m_splitSceneLabel, &m_splitSceneEdit, &m_splitButton,
                          &m_concatId1Label,  &m_concatId1Edit,  &m_concatId2Label,  &m_concatId2Edit,
                          &m_concatButton};
  for (CFgUIObj* w : editPage) {
    m_tab.AddWidget(kPageEdit, w);
    w->m_visible = 0;
  }
  Layout();
  RefreshDialog();
}

CLfTrack2d::~CLfTrack2d()
{
  // The windows go first, so that nothing draws the widgets or the table meanwhile.
  m_table.Destroy();
  m_options.Destroy();
  Destroy();
  PlatformLockHold hold(FgDrawLock());
  table.Clear();
  while (trackCount > 0) RemoveTrack(trackCount - 1);
}

// ---- filter slots -----------------------------------------------------------------------

const wchar_t* CLfTrack2d::GetName(const wchar_t* language) { return Text(language, L"2D追跡", L"2D tracking"); }

void CLfTrack2d::EnableDialog(int32_t enable)
{
  if (m_running) return;
  FilterDialogEnable(this, enable);
}

int32_t CLfTrack2d::OnClose()
{
  if (m_running) return 0;
  // A STEP's wait ends like a cancel: nothing is stored for the waiting target.
  if (m_waiting) {
    m_cancel = 1;
    m_answered = 1;
  }
  return FilterDialogClose(this, this);
}

void CLfTrack2d::OnEnableAll() { RefreshDialog(); }

void CLfTrack2d::ShowDialog(int32_t show, CFgScreen* parent)
{
  if (!show) {
    m_table.Destroy();
    if (!m_relayout) m_options.Destroy();
    FilterDialogShow(this, &m_place, m_classPlace, 0, nullptr, kWindowW, kWindowH, nullptr);
    return;
  }
  Layout();
  m_tab.SelectPage(kPageRegist, 1);
  ShowPagePanel(kPageRegist);
  RefreshDialog();
  FilterDialogShow(this, &m_place, m_classPlace, 1, parent, kWindowW, kWindowH, GetName(m_language));
  if (m_tableReopen && m_window) {
    m_tableReopen = 0;
    ShowTrackData(m_tableX, m_tableY, m_tableW, m_tableH);
  }
}

void CLfTrack2d::OnLanguageChanged(const wchar_t* language)
{
  if (m_table.GetWindow()) {
    m_table.SetLanguage(IsJapanese(language) ? "jp" : "en");
    TitleTable();
    m_tableX = m_table.m_x;
    m_tableY = m_table.m_y;
    m_tableW = m_table.m_clientWidth;
    m_tableH = m_table.m_clientHeight;
    m_tableReopen = 1;
  }
  if (m_options.GetWindow()) m_options.Build(language);
  m_relayout = 1;
  CImgFilter::OnLanguageChanged(language);
  m_relayout = 0;
}

void CLfTrack2d::OnSourceChanged(uint64_t, uint64_t height, uint64_t, uint64_t sceneCount)
{
  {
    PlatformLockHold hold(FgDrawLock());
    ResetIdList();
    // The table first: with no columns left, removing a target needs no smaller table, so
    // it cannot fail for want of memory.
    table.Clear();
    while (trackCount > 0) RemoveTrack(trackCount - 1);
    table.Clear();
    table.SetFrameCount(uint32_t(std::min<uint64_t>(sceneCount, UINT32_MAX)));
    m_selected = -1;
    m_sourceHeightCopy = height;
  }
  RefreshTrackData();
  RequestIfEnabled(this, 0);
}

void CLfTrack2d::OpenOptions()
{
  m_options.Build(m_language && *m_language ? m_language : L"en");
  m_options.Open(&binary, this);
}

// ---- layout -------------------------------------------------------------------------------

void CLfTrack2d::Layout()
{
  const wchar_t* l = m_language;
  m_group.SetTitle(Text(l, L"軌跡", L"trace"));
  m_group.SetRect(8, 8, 374, 94);
  int32_t ix0 = 0, iy0 = 0, ix1 = 0, iy1 = 0;
  m_group.GetInnerRect(&ix0, &iy0, &ix1, &iy1);
  m_dispId.SetText(Text(l, L"ID表示", L"id"));
  m_dispId.SetRect(ix0 + 8, iy0 + 4, 72, 20);
  m_lineAll.SetText(Text(l, L"全てのシーン", L"all scene"));
  m_lineAll.SetRect(ix0 + 8, iy0 + 24, 120, 20);
  m_lineLabel.SetText(Text(l, L"軌跡長", L"line length"));
  m_lineLabel.SetRect(ix0 + 8, iy0 + 44, 80, 20);
  const int32_t listX = ix1 - 72;
  m_idList.SetRect(listX, iy0, 66, std::max(1, iy1 - 15 - iy0));
  m_lineBar.SetRect(ix0 + 96, iy0 + 44, std::max(1, listX - 8 - (ix0 + 96)), 20);

  m_tab.SetRect(8, 110, 374, 144);
  m_tab.SetPageTitle(kPageRegist, Text(l, L"登録", L"regist"));
  m_tab.SetPageTitle(kPageTrack, Text(l, L"追跡", L"track"));
  m_tab.SetPageTitle(kPageEdit, Text(l, L"修正", L"edit"));
  int32_t x = 0, y = 0, x1 = 0, y1 = 0;
  m_tab.GetPageRect(&x, &y, &x1, &y1);

  m_delId.SetText(Text(l, L"ID削除", L"DEL ID"));
  m_delId.SetRect(x + 296, y + 96, 64, 20);

  m_predictBox.SetText(Text(l, L"予測フレーム", L"prediction frame"));
  m_predictBox.SetRect(x + 8, y + 8, 140, 20);
  m_reversBox.SetText(Text(l, L"逆方向処理", L"revers"));
  m_reversBox.SetRect(x + 8, y + 28, 140, 20);
  const wchar_t* orders[3][2] = {{L"シーン毎", L"by scene"}, {L"ID毎", L"by id"}, {L"単独ID", L"only id"}};
  for (int i = 0; i < 3; ++i) {
    m_orderRadio[i].SetText(Text(l, orders[i][0], orders[i][1]));
    m_orderRadio[i].SetRect(x + 152, y + 8 + 20 * i, 96, 20);
  }
  m_stepButton.SetText(Text(l, L"ステップ処理", L"STEP"));
  m_stepButton.SetRect(x + 244, y + 8, 120, 44);
  m_autoButton.SetText(Text(l, L"自動追跡", L"AUTO TRACK"));
  m_autoButton.SetRect(x + 244, y + 56, 120, 28);
  m_manualButton.SetText(Text(l, L"マニュアル追跡", L"MANUAL TRACK"));
  m_manualButton.SetRect(x + 244, y + 88, 120, 28);
  m_skipButton.SetText(Text(l, L"スキップ", L"SKIP"));
  m_skipButton.SetRect(x + 8, y + 56, 140, 20);
  m_noDataButton.SetText(Text(l, L"データ無し", L"NO DATA"));
  m_noDataButton.SetRect(x + 8, y + 76, 140, 20);
  m_lostButton.SetText(Text(l, L"消失", L"LOST"));
  m_lostButton.SetRect(x + 8, y + 96, 140, 20);

  m_eraseIdLabel.SetText(Text(l, L"ID", L"id"));
  m_eraseIdLabel.SetRect(x + 4, y + 10, 28, 20);
  m_eraseIdEdit.SetRect(x + 32, y + 10, 48, 20);
  m_eraseSceneLabel.SetText(Text(l, L"シーン", L"scene"));
  m_eraseSceneLabel.SetRect(x + 84, y + 10, 56, 20);
  m_eraseFromEdit.SetRect(x + 144, y + 10, 48, 20);
  m_eraseToLabel.SetText(Text(l, L"～", L"-"));
  m_eraseToLabel.SetRect(x + 192, y + 10, 16, 20);
  m_eraseToEdit.SetRect(x + 208, y + 10, 48, 20);
  m_eraseButton.SetText(Text(l, L"データ削除", L"DATA ERASE"));
  m_eraseButton.SetRect(x + 268, y + 6, 96, 28);
  m_splitIdLabel.SetText(Text(l, L"ID", L"id"));
  m_splitIdLabel.SetRect(x + 4, y + 44, 28, 20);
  m_splitIdEdit.SetRect(x + 32, y + 44, 48, 20);
  m_splitSceneLabel.SetText(Text(l, L"シーン以降", L"after the scene"));
  m_splitSceneLabel.SetRect(x + 84, y + 44, 120, 20);
  m_splitSceneEdit.SetRect(x + 208, y + 44, 48, 20);
  m_splitButton.SetText(Text(l, L"ID分割", L"SPLIT ID"));
  m_splitButton.SetRect(x + 268, y + 40, 96, 28);
  m_concatId1Label.SetText(Text(l, L"ID1", L"id1"));
  m_concatId1Label.SetRect(x + 4, y + 78, 28, 20);
  m_concatId1Edit.SetRect(x + 32, y + 78, 48, 20);
  m_concatId2Label.SetText(Text(l, L"ID2", L"id2"));
  m_concatId2Label.SetRect(x + 84, y + 78, 28, 20);
  m_concatId2Edit.SetRect(x + 112, y + 78, 48, 20);
  m_concatButton.SetText(Text(l, L"ID結合", L"CONCAT ID"));
  m_concatButton.SetRect(x + 268, y + 74, 96, 28);

  m_dataButton.SetText(Text(l, L"データ", L"DATA"));
  m_dataButton.SetRect(8, y1 + 8, 64, 28);
  m_loadButton.SetText(Text(l, L"ロード", L"LOAD"));
  m_loadButton.SetRect(245, y1 + 8, 64, 28);
  m_saveButton.SetText(Text(l, L"セーブ", L"SAVE"));
  m_saveButton.SetRect(317, y1 + 8, 64, 28);
  if (m_tab.m_currentPage == kPageRegist) ShowPagePanel(kPageRegist);
}

void CLfTrack2d::ShowPagePanel(int32_t page)
{
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  m_tab.GetPageRect(&x0, &y0, &x1, &y1);
  if (page == kPageRegist) {
    {
      PlatformLockHold hold(FgDrawLock());
      m_panel.LoadFromTrack(SelectedTrack());
    }
    m_panel.Build(1, x0, y0, x1, y1, m_language);
  } else {
    m_panel.Build(0, x0, y0, x1, y1, m_language);
    m_panel.ResetPicking();
  }
}

// ---- enable rules -------------------------------------------------------------------------

void CLfTrack2d::RefreshDialog()
{
  const bool R = m_running != 0, W = m_waiting != 0, M = m_manualRun != 0;
  const bool idle = !R && !W;
  CFgUIObj* idleControls[] = {&m_group,       &m_dispId,        &m_lineAll,       &m_idList,
                              &m_tab,         &m_predictBox,    &m_reversBox,     &m_orderRadio[0],
                              &m_orderRadio[1], &m_orderRadio[2], &m_stepButton,  &m_dataButton,
                              &m_loadButton,  &m_saveButton};
  for (CFgUIObj* c : idleControls) SetEnabled(*c, idle);
  SetEnabled(m_lineLabel, idle && !m_lineAll.m_checked);
  SetEnabled(m_lineBar, idle && !m_lineAll.m_checked);
  SetEnabled(m_autoButton, !M && (R || !W));  // the cancel button of an automatic run
  SetEnabled(m_manualButton, (M || !R) && (R || !W));
  SetEnabled(m_skipButton, W || M);
  SetEnabled(m_noDataButton, W || M);
  SetEnabled(m_lostButton, (W || M) && R);
  CFgUICtrl::Redraw();
}

// ---- settings -----------------------------------------------------------------------------

void CLfTrack2d::SaveParams(CCfgPack* pack)
{
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PackWriteFlag(pack, L"disp_id", m_dispId.m_checked);
  PackWriteFlag(pack, L"line_all", m_lineAll.m_checked);
  PackWriteSigned(pack, L"line_len", m_lineBar.m_position);
  PackWriteFlag(pack, L"active_scope", m_predictBox.m_checked);
  PackWriteFlag(pack, L"revers", m_reversBox.m_checked);
  PackWriteSigned(pack, L"track_order", std::max(0, CFgUIChkButton::GetGroupSelection(&m_orderRadio[0])));
  PackWriteSigned(pack, L"connect", binary.connect);
  PackWriteSigned(pack, L"multi_select", binary.multiSelect);
  PackWriteFlag(pack, L"noise_auto", binary.noiseAuto);
  PackWriteFlag(pack, L"noise_enable_l", binary.noiseEnableL);
  PackWriteFlag(pack, L"noise_enable_h", binary.noiseEnableH);
  PackWriteSigned(pack, L"noise_l", binary.noiseL);
  PackWriteSigned(pack, L"noise_h", binary.noiseH);
  PackWriteFlag(pack, L"window_cut", binary.windowCut);
  PackWriteFlag(pack, L"holl_fill", binary.holeFill);
  PackWriteFlag(pack, L"preview", binary.preview);
}

void CLfTrack2d::LoadParams(CCfgPack* pack)
{
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  uint32_t flag;
  int64_t n;
  auto box = [&](const wchar_t* key, CFgUIChkButton& b) {
    if (PackReadFlag(pack, key, &flag, nullptr)) b.m_checked = int32_t(flag);
  };
  auto setting = [&](const wchar_t* key, int32_t& field) {
    if (PackReadFlag(pack, key, &flag, nullptr)) field = int32_t(flag);
  };
  box(L"disp_id", m_dispId);
  box(L"line_all", m_lineAll);
  if (PackReadSigned(pack, L"line_len", 0, 30, &n, nullptr)) m_lineBar.m_position = int32_t(n);
  box(L"active_scope", m_predictBox);
  box(L"revers", m_reversBox);
  if (PackReadSigned(pack, L"track_order", 0, 2, &n, nullptr))
    CFgUIChkButton::SetGroupSelection(&m_orderRadio[0], int32_t(n), 0);
  if (PackReadSigned(pack, L"connect", 4, 8, &n, nullptr) && (n == 4 || n == 8)) binary.connect = int32_t(n);
  if (PackReadSigned(pack, L"multi_select", 0, 2, &n, nullptr)) binary.multiSelect = int32_t(n);
  setting(L"noise_auto", binary.noiseAuto);
  setting(L"noise_enable_l", binary.noiseEnableL);
  setting(L"noise_enable_h", binary.noiseEnableH);
  // The same bounds as the settings window's boxes: the values land in signed 32 bits.
  if (PackReadSigned(pack, L"noise_l", 1, INT32_MAX, &n, nullptr)) binary.noiseL = int32_t(n);
  if (PackReadSigned(pack, L"noise_h", 1, INT32_MAX, &n, nullptr)) binary.noiseH = int32_t(n);
  setting(L"window_cut", binary.windowCut);
  setting(L"holl_fill", binary.holeFill);
  setting(L"preview", binary.preview);
  // The run options follow the restored controls.
  m_step = m_reversBox.m_checked ? -1 : 1;
  m_order = std::max(0, CFgUIChkButton::GetGroupSelection(&m_orderRadio[0]));
  m_predict = m_predictBox.m_checked ? 1 : 0;
  RefreshDialog();
}

// ---- processing ---------------------------------------------------------------------------

CTrack* CLfTrack2d::SelectedTrack()
{
  return m_selected >= 0 && m_selected < trackCount ? tracks[m_selected] : nullptr;
}

void CLfTrack2d::CopyCalibration(double scale, int32_t axisY, const wchar_t* unit)
{
  {
    PlatformLockHold hold(FgDrawLock());
    m_copyScale = scale;
    m_copyAxisY = axisY;
    wcsncpy(m_copyUnit, unit ? unit : L"", kTrack2dUnitUnits - 1);
    m_copyUnit[kTrack2dUnitUnits - 1] = 0;
    if (scale > 0.0 && (axisY == 1 || axisY == -1)) {
      table.calibration.lengthPerPixel = scale;
      table.calibration.yAxis = axisY;
      P2dSetUnit(&table.calibration, m_copyUnit);
    } else {
      table.error = P2dErrorArgument;
    }
    // The coordinates shown scale with the calibration: their columns follow.
    if (m_table.m_cell.m_hasContent) {
      FitTrackColumns();
      m_table.m_cell.Layout();
    }
  }
  if (m_table.GetWindow()) m_table.Redraw();
}

void CLfTrack2d::Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width, int64_t height,
                         uint32_t connectivity, uint32_t background)
{
  binary.connect = int32_t(connectivity);
  // The filter's calibration is written on the UI thread before the frame is requested.
  if (m_copyScale != m_scale || m_copyAxisY != m_axisY || wcsncmp(m_copyUnit, m_unit, kTrack2dUnitUnits - 1) != 0)
    CopyCalibration(m_scale, m_axisY, m_unit);
  // The run or step waits in the host for this frame: it is the scene's picture.
  if (m_capture && picture && picture->Pixels()) m_capture->CopyFrom(*picture);
  FollowPoints(scene);
  if (!picture || m_tab.m_currentPage != kPageRegist) return;
  if (!m_panel.OnProcess(picture, scene, uint64_t(x), uint64_t(y), uint64_t(width), uint64_t(height),
                         int32_t(connectivity), int32_t(background)))
    return;
  PlatformLockHold hold(FgDrawLock());
  CTrack* track = SelectedTrack();
  if (!track || !picture->Pixels()) return;
  m_panel.StoreToTrack(track);
  // The box clipped to the picture; the preview goes into that crop only.
  const int64_t x0 = std::max<int64_t>(track->x, 0), y0 = std::max<int64_t>(track->y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(track->x) + track->w - 1, picture->Width() - 1);
  const int64_t y1 = std::min<int64_t>(int64_t(track->y) + track->h - 1, picture->Height() - 1);
  if (x0 > x1 || y0 > y1) return;
  CImgBuff crop;
  if (!picture->Crop(crop, int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1))) return;
  track->DrawPreview(&crop);
  picture->Paste(crop, int32_t(x0), int32_t(y0));
}

// ---- track data ---------------------------------------------------------------------------

void CLfTrack2d::ResetIdList()
{
  m_idList.Clear(2, 0);
  m_idList.InsertItem(-1, L"ALL", kTrack2dAllIds, 0);
  m_idList.SetChecked(0, 1);
}

void CLfTrack2d::TitleTable()
{
  if (m_table.GetWindow()) m_table.SetTitle(m_table.m_english ? L"TRACK DATA" : L"追跡データ");
}

void CLfTrack2d::OpenTrackData()
{
  m_table.SetLanguage(IsJapanese(m_language) ? "jp" : "en");
  if (m_table.GetWindow())
    ShowTrackData(m_table.m_x, m_table.m_y, m_table.m_clientWidth, m_table.m_clientHeight);
  else
    ShowTrackData(-1, -1, 0, 0);
}

void CLfTrack2d::SizeTrackTable()
{
  CFgUICell& cell = m_table.m_cell;
  cell.Reset(0);
  if (table.header.ids > 0 && table.header.scenes > 0) {
    cell.SetSize(2 * uint64_t(table.header.ids) + 1, uint64_t(table.header.scenes) + 2, 0);
    cell.SelectRow(0, 2, 0);
    FitTrackColumns();
  }
  cell.Layout();
}

void CLfTrack2d::FitTrackColumns()
{
  const CP2dData& t = table;
  const uint64_t count = t.header.ids, scenes = t.header.scenes;
  // Only a grid that could be sized has columns to fit (fewer than 2^31 of them).
  if (!t.points || !count || !scenes || 2 * count + 1 != m_table.m_cell.m_columns) return;
  TrackColumnExtremes* ids = new (std::nothrow) TrackColumnExtremes[count];
  if (!ids) return;  // the columns keep their width
  for (uint64_t scene = 0; scene < scenes; ++scene)
    for (uint64_t id = 0; id < count; ++id) {
      const P2dPoint& p = t.points[scene * count + id];
      if (P2dPointCounts(p)) ids[id].Add(int32_t(scene), p.x, p.y);
    }
  FitTrackTableColumns(&m_table.m_cell, ids, count, kResultColumnWidth);
  delete[] ids;
}

void CLfTrack2d::RefreshTrackData()
{
  if (!m_table.GetWindow()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    SizeTrackTable();
  }
  m_table.Redraw();
}

void CLfTrack2d::ShowTrackData(int32_t x, int32_t y, uint64_t width, uint64_t height)
{
  {
    PlatformLockHold hold(FgDrawLock());
    SizeTrackTable();
  }
  const wchar_t* title = m_table.m_english ? L"TRACK DATA" : L"追跡データ";
  if (!m_table.GetWindow()) {
    const bool placed = x >= 0 && y >= 0;
    m_table.Create(placed ? x : -1, placed ? y : -1, width ? width : 300, height ? height : 300, title,
                   FgStyleResizable, this);
  } else {
    m_table.SetTitle(title);
    if (!m_table.m_visible) m_table.ShowWindow(1);
    m_table.Redraw();
  }
}

const wchar_t* CLfTrack2d::TrackCellText(uint64_t c, uint64_t r, int32_t* alignment, double*, double*, double*,
                                         void* user)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  wchar_t* out = self->m_cell;
  out[0] = 0;
  if (alignment) *alignment = 0;
  const CP2dData& t = self->table;
  if (c == 0) {
    if (r == 0) {
      swprintf(out, kTrack2dCellUnits, L"%ls", self->m_copyUnit[0] ? self->m_copyUnit : L"pixel");
    } else if (r >= 2) {
      swprintf(out, kTrack2dCellUnits, L"%llu", static_cast<unsigned long long>(r - 1));
      if (alignment) *alignment = 1;
    }
    return out;
  }
  const uint64_t id = (c - 1) / 2;
  if (id >= t.header.ids) return out;
  const bool isX = (c % 2) == 1;
  if (r == 0) {
    if (isX) swprintf(out, kTrack2dCellUnits, L"%llu", static_cast<unsigned long long>(id + 1));
    return out;
  }
  if (r == 1) {
    wcscpy(out, isX ? L"X" : L"Y");
    return out;
  }
  const uint64_t scene = r - 2;
  if (scene >= t.header.scenes || !t.points) return out;
  const P2dPoint p = t.points[scene * t.header.ids + id];
  if (!P2dPointCounts(p)) return out;
  double v;
  if (isX) {
    v = p.x * self->m_copyScale;
  } else {
    const double y = self->m_copyAxisY < 0 ? double(self->m_sourceHeightCopy) - 1.0 - p.y : p.y;
    v = y * self->m_copyScale;
  }
  swprintf(out, kTrack2dCellUnits, L"%.1lf", v);
  return out;
}

// ---- callbacks ----------------------------------------------------------------------------

void CLfTrack2d::OnDisplayOption(CFgUIChkButton*, void* user)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  self->RefreshDialog();
  if (self->m_host) self->m_host->Redraw();
}

void CLfTrack2d::OnLineBar(CFgUIScrollBar*, void* user, int32_t)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  if (self->m_filterEnabled && self->m_host) self->m_host->Redraw();
}

void CLfTrack2d::OnIdList(CFgUIList* list, void* user, int32_t index)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  if (index >= 0 && index < list->m_count) {
    if (list->m_items[index].userValue == kTrack2dAllIds) {
      for (int32_t i = 0; i < list->m_count; ++i) list->SetChecked(i, list->m_items[i].userValue == kTrack2dAllIds);
    } else {
      for (int32_t i = 0; i < list->m_count; ++i)
        if (list->m_items[i].userValue == kTrack2dAllIds) list->SetChecked(i, 0);
    }
  }
  self->RefreshDialog();
  if (self->m_host) self->m_host->Redraw();
}

void CLfTrack2d::OnPage(CFgUITab*, void* user, int32_t newPage, int32_t)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  self->ShowPagePanel(newPage);
  self->CFgUICtrl::Redraw();
  RequestIfEnabled(self, 0);
}

void CLfTrack2d::OnPredict(CFgUIChkButton* box, void* user) { static_cast<CLfTrack2d*>(user)->m_predict = box->m_checked ? 1 : 0; }

void CLfTrack2d::OnRevers(CFgUIChkButton* box, void* user)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  self->m_step = box->m_checked ? -1 : 1;
  RequestIfEnabled(self, 0);
}

void CLfTrack2d::OnOrder(CFgUIChkButton* box, void* user)
{
  static_cast<CLfTrack2d*>(user)->m_order = std::max(0, CFgUIChkButton::GetGroupSelection(box));
}

void CLfTrack2d::OnPanelChanged(void* user, CPanelHSV* panel)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  {
    PlatformLockHold hold(FgDrawLock());
    CTrack* track = self->SelectedTrack();
    if (track && track->kind == TrackKindColour) panel->StoreToTrack(track);
  }
  RequestIfEnabled(self, 0);
}

void CLfTrack2d::OnOptionsChanged(void* user, int32_t, CTrack2ValOptUI*) { RequestIfEnabled(static_cast<CLfTrack2d*>(user), 0); }

void CLfTrack2d::OnData(CFgUIButton*, void* user) { static_cast<CLfTrack2d*>(user)->OpenTrackData(); }
