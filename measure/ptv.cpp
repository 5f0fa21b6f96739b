// ptv.cpp - the particle-tracking filter: its controls, the tracking run over the scenes
// (detection by island extraction, linking by the four-scene window) and its track files.
// Inside: construction - filter slots - tracking run - track files - controls
#include "measure/ptv.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/text.h"
#include "measure/ptvfile.h"
#include "measure/track_alloc.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

// One particle run at a time in the process: two tracking filters could each have their
// EXEC pressed, and a second run inside the first one's message dispatching would walk the
// same host at the same time.  The second request is refused without a word.
std::atomic<int32_t> g_runActive{0};

const wchar_t* Text(const wchar_t* language, const wchar_t* jp, const wchar_t* en)
{
  return IsJapanese(language) ? jp : en;
}

}  // namespace

// ---- construction ---------------------------------------------------------------------

CLfPtv::CLfPtv()
{
  m_exec.m_callback = OnExecPressed;
  m_exec.m_user = this;
  m_load.m_callback = OnLoadPressed;
  m_load.m_user = this;
  m_save.m_callback = OnSavePressed;
  m_save.m_user = this;
  m_searchEdit.OnFocusLost = OnSearchFocusLost;
  m_searchEdit.CallbackArg = this;
  m_searchEdit.SetLine(0, L"5");
  m_predict.m_checked = 1;
  m_adaptive.m_checked = 1;
  m_idList.Clear(2, 0);  // several items may be selected
  m_dispId.m_checked = 1;
  m_idList.m_callback = OnIdListClicked;
  m_idList.m_user = this;
  m_dispId.m_callback = OnTraceOption;
  m_dispId.m_user = this;
  m_lineAll.m_callback = OnTraceOption;
  m_lineAll.m_user = this;
  m_lineLen.m_kind = FgBarHorizontal;
  m_lineLen.SetRange(0, 30, 1, 10);
  m_lineLen.m_callback = OnLineBar;
  m_lineLen.m_user = this;
  CFgUIChkButton* radios[4] = {&m_cell8, &m_cell16, &m_cell32, &m_cell64};
  const wchar_t* sizes[4] = {L"8", L"16", L"32", L"64"};
  for (int32_t i = 0; i < 4; ++i) {
    radios[i]->SetText(sizes[i]);
    radios[i]->m_callback = OnCellRadio;
    radios[i]->m_user = this;
    if (i > 0) CFgUIChkButton::AddToGroup(&m_cell8, radios[i]);
  }
  CFgUIChkButton::SetGroupSelection(&m_cell8, 2, 0);
  m_gridOn.m_checked = 1;
  m_gridOn.m_callback = OnGridBox;
  m_gridOn.m_user = this;
  m_cellColor.m_callback = OnCellsBox;
  m_cellColor.m_user = this;
  m_arrowZoom.m_kind = FgBarHorizontal;
  m_arrowZoom.SetRange(10, 100, 1, 30);
  m_arrowZoom.m_callback = OnZoomBar;
  m_arrowZoom.m_user = this;
  m_colorStep.m_kind = FgBarHorizontal;
  m_colorStep.SetRange(1, 32, 1, 2);
  m_colorStep.m_callback = OnColorBar;
  m_colorStep.m_user = this;
  CFgUIButton* edits[3] = {&m_eraseButton, &m_splitButton, &m_concatButton};
  for (CFgUIButton* b : edits) {
    b->m_callback = OnEditButton;
    b->m_user = this;
  }
  m_gridExec.m_callback = OnEditButton;
  m_gridExec.m_user = this;
  m_dataButton.m_callback = OnDataPressed;
  m_dataButton.m_user = this;
  m_tab.m_callback = OnTab;
  m_tab.m_user = this;
  m_table.m_cell.m_textFn = TrackCellText;
  m_table.m_cell.m_user = this;

  CFgUIObj* trackPage[] = {&m_searchLabel, &m_searchEdit, &m_unitLabel, &m_predict, &m_adaptive, &m_exec};
  CFgUIObj* editPage[] = {&m_eraseIdLabel,  &m_eraseId,      &m_eraseSceneLabel, &m_eraseFirst,  &m_eraseToLabel,
                          &m_eraseLast,     &m_eraseButton,  &m_splitIdLabel,    &m_splitIdEdit, &m_splitSceneLabel,
                          &m_splitScene,    &m_splitButton,  &m_concat1Label,    &m_concat1,     &m_concat2Label,
                          &m_concat2,       &m_concatButton};
  CFgUIObj* ptvPage[] = {&m_cell8,     &m_cell16,    &m_cell32,    &m_cell64,    &m_gridOn,  &m_cellColor,
                         &m_zoomLabel, &m_arrowZoom, &m_colorLabel, &m_colorStep, &m_gridExec};
  CFgUIObj* display[] = {&m_group, &m_dispId, &m_lineAll, &m_lineLabel, &m_lineLen, &m_idList, &m_tab};
  for (CFgUIObj* child : display) AddChild(child);
  m_tab.AddPage(L"track");
  m_tab.AddPage(L"edit");
  m_tab.AddPage(L"ptv");
  for (CFgUIObj* w : trackPage) {
    AddChild(w);
    m_tab.AddWidget(0, w);
  }
  for (CFgUIObj* w : editPage) {
    AddChild(w);
    m_tab.AddWidget(1, w);
    w->m_visible = 0;
  }
  for (CFgUIObj* w : ptvPage) {
    AddChild(w);
    m_tab.AddWidget(2, w);
    w->m_visible = 0;
  }
  CFgUIObj* buttons[] = {&m_dataButton, &m_load, &m_save};
  for (CFgUIObj* child : buttons) AddChild(child);
  Layout();
  RefreshDialog();
}

CLfPtv::~CLfPtv()
{
  // The windows go first: nothing draws the controls or the table once they are gone.
  m_table.Destroy();
  Destroy();
  free(m_islands);
  m_data.Clear();
}

// ---- filter slots ---------------------------------------------------------------------

const wchar_t* CLfPtv::GetName(const wchar_t* language)
{
  return IsJapanese(language) ? L"粒子追跡/PTV" : L"Particle tracking / PTV";
}

void CLfPtv::EnableDialog(int32_t enable)
{
  if (Running()) return;
  FilterDialogEnable(this, enable);
}

void CLfPtv::OnEnableAll() { RefreshDialog(); }

int32_t CLfPtv::OnClose()
{
  if (Running()) return 0;
  return FilterDialogClose(this, this);
}

void CLfPtv::OnSourceChanged(uint64_t width, uint64_t height, uint64_t, uint64_t sceneCount)
{
  // Tracks belong to the source they were found in.
  if (Running()) return;
  auto clamp = [](uint64_t v) { return int32_t(std::min<uint64_t>(v, INT32_MAX)); };
  int32_t created = 0;
  {
    PlatformLockHold draw(FgDrawLock());
    m_data.Clear();
    m_index.Clear();
    m_grid.Clear();
    m_srcWidth = clamp(width);
    m_srcHeight = clamp(height);
    created = m_grid.CreateForImage(m_srcWidth - 1, m_srcHeight - 1, m_cellSize, clamp(sceneCount));
  }
  if (created && m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width, int64_t height,
                     uint32_t connectivity, uint32_t background)
{
  if (m_walk.Busy()) {
    m_walk.Capture(picture);
    PlatformLockHold hold(m_lock);
    auto clamp = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    m_roi = {clamp(x), clamp(y), clamp(x + width - 1), clamp(y + height - 1)};
    m_islandParams.valueFlag = int32_t(background);
    m_islandParams.conn = int32_t(connectivity);
  }
  int32_t changed = 0;
  {
    PlatformLockHold hold(m_lock);
    if (m_copyScale != m_scale || m_copyAxisY != m_axisY || wcsncmp(m_copyUnit, m_unit, kPtvUnitUnits - 1) != 0) {
      m_copyScale = m_scale;
      m_copyAxisY = m_axisY;
      wcsncpy(m_copyUnit, m_unit, kPtvUnitUnits - 1);
      m_copyUnit[kPtvUnitUnits - 1] = 0;
      m_unitLabel.SetText(m_copyUnit);
      changed = 1;
    }
  }
  // The numbers shown scale with the calibration: their columns follow.  The table's texts
  // take the lock above, so this waits until it is released (draw lock first).
  if (changed && !Running()) {
    {
      PlatformLockHold draw(FgDrawLock());
      FitDataColumns();
    }
    if (m_table.GetWindow()) m_table.Redraw();
  }
}

// ---- tracking run ---------------------------------------------------------------------

CFgScreen* CLfPtv::MessageParent() { return GetWindow() ? static_cast<CFgScreen*>(this) : m_dialogParent; }

int32_t CLfPtv::Message(const wchar_t* jp, const wchar_t* en, int32_t error, int32_t kind)
{
  const wchar_t* caption = error ? Text(m_language, L"エラー", L"error") : Text(m_language, L"確認", L"confirmation");
  return FgMessageBox(Text(m_language, jp, en), caption, kind, MessageParent());
}

void CLfPtv::Execute()
{
  if (Running()) {
    m_walk.Cancel();
    return;
  }
  if (g_runActive.load()) return;
  m_pickCount = 0;
  if (m_sceneCount < 4) {
    Message(L"4フレーム以上の画像が必要です", L"need an image of 4 frames or more", 1);
    return;
  }
  if (m_sceneCount > uint64_t(INT32_MAX)) {
    Message(L"メモリー不足です", L"poor memory", 1);
    return;
  }
  int32_t expected = 0;
  if (!g_runActive.compare_exchange_strong(expected, 1)) return;
  {
    CSceneWalkRun run(&m_walk, this, &m_exec);
    if (run.Started()) {
      RefreshDialog();
      m_data.Clear();
      if (!TrackFrames(int32_t(m_sceneCount - 1))) m_data.Clear();
      m_work.Free();
      // A quit ends the run as a cancel does, without a word: the program is closing.
      if (m_walk.Cancelled() && !QuitRequested) Message(L"中止しました", L"canceled", 0);
      RebuildIndex();
      RebuildIdList();
    }
  }
  g_runActive.store(0);
  RefreshDataWindow();
  RefreshDialog();
}

void CLfPtv::Detect(const CImgBuff* picture, PtvList* list)
{
  RoiRect roi;
  IslandParams params;
  {
    PlatformLockHold hold(m_lock);
    roi = m_roi;
    params = m_islandParams;
  }
  // The engine measures with scale 1 and y downward, so the centres are picture pixels.
  params.img = const_cast<CImgBuff*>(picture);
  params.separateNested = 0;
  params.unweighted = 1;
  params.scale = 1.0;
  params.yAxis = 1;
  params.progress = nullptr;
  params.user = nullptr;
  const int32_t n = ExtractIslands(&params, nullptr, m_islands, kPtvMaxParticles, &roi);
  // A scene beyond the limit yields its first islands; the engine counts on past it.
  const int32_t kept = std::min(n, kPtvMaxParticles);
  list->count = std::max(kept, 0);
  for (int32_t i = 0; i < list->count; ++i) list->records[i] = {-1, 1, m_islands[i].contourX, m_islands[i].contourY};
}

int32_t CLfPtv::StoreScene(int32_t scene, const PtvList& list)
{
  if (!m_data.SetParticleCount(scene, list.count)) return 0;
  if (list.count > 0) memcpy(m_data.scenes[scene].records, list.records, size_t(list.count) * sizeof(ParticleRecord));
  return 1;
}

int32_t CLfPtv::TrackFrames(int32_t last)
{
  if (last < 3) return 0;
  PtvWindow window;
  bool memory = !m_data.SetFrameCount(last + 1) || !PtvWindowCreate(&window, kPtvMaxParticles);
  if (!memory) {
    free(m_islands);
    m_islands = static_cast<IslandRecord*>(TrackAlloc(size_t(kPtvMaxParticles) * sizeof(IslandRecord)));
    memory = !m_islands;
  }
  if (memory) {
    PtvWindowFree(&window);
    Message(L"メモリー不足です", L"poor memory", 1);
    return 0;
  }
  int32_t result = 1;
  int32_t fetched = 0;
  // Fetches scene into the newest list: 1, or 0 when the walk was stopped.
  auto fetch = [&](int32_t scene, PtvList* list) {
    const int32_t r = m_walk.FetchScene(uint64_t(scene), &m_work);
    if (r == SceneStopped) return 0;
    list->count = 0;  // a refused scene has no particles; tracks through it end
    if (r == SceneFetched) {
      ++fetched;
      Detect(&m_work, list);
    }
    return 1;
  };
  int32_t nextId = 0;
  for (int32_t scene = 0; scene < 3; ++scene) {
    if (!fetch(scene, &window.lists[scene + 1])) goto done;  // stopped early: empty scenes stay
  }
  for (int32_t t = 3; t <= last; ++t) {
    PtvWindowRotate(&window);
    if (!fetch(t, &window.lists[3])) {
      result = 0;
      goto done;
    }
    double R, G;
    const int32_t P = m_predict.m_checked ? 1 : 0, A = m_adaptive.m_checked ? 1 : 0;
    {
      PlatformLockHold hold(m_lock);
      R = m_searchRadius;
      G = R / m_copyScale;
    }
    PtvWindowStep(&window, &nextId, R, G, P, A);
    if (!StoreScene(t - 3, window.lists[0])) {
      Message(L"メモリー不足です", L"poor memory", 1);
      result = 0;
      goto done;
    }
  }
  m_data.idCount = nextId;
  for (int32_t k = 1; k <= 3; ++k) {
    PtvDropUnlinked(&window.lists[k]);
    if (!StoreScene(last - 3 + k, window.lists[k])) {
      Message(L"メモリー不足です", L"poor memory", 1);
      result = 0;
      goto done;
    }
  }
  // No scene reached this filter (switched off in the chain, or every seek refused): say
  // so rather than end as if the video had no particles.
  if (fetched == 0) {
    Message(L"失敗しました", L"failed", 1);
    result = 0;
  }
done:
  PtvWindowFree(&window);
  free(m_islands);
  m_islands = nullptr;
  m_work.Free();
  return result;
}

// ---- track files ----------------------------------------------------------------------

int32_t CLfPtv::WriteP2d(FILE* file)
{
  P2dCalibration calibration;
  {
    PlatformLockHold hold(m_lock);
    calibration.lengthPerPixel = m_scale;
    calibration.yAxis = m_axisY;
  }
  P2dSetUnit(&calibration, m_unit);
  return PtvWriteP2d(file, &m_data, calibration);
}

int32_t CLfPtv::ReadP2d(FILE* file)
{
  P2dCalibration calibration;
  if (!PtvReadP2d(file, &m_data, &calibration)) {
    if (P2dLastError == P2dErrorVersion) Message(L"未対応のバージョンです", L"unsupported version", 1);
    return 0;
  }
  // A calibration that could not have been set by hand is not applied; the points stand.
  const bool usable = std::isfinite(calibration.lengthPerPixel) && calibration.lengthPerPixel > 0 &&
                      (calibration.yAxis == 1 || calibration.yAxis == -1);
  if (usable && m_filterEnabled && m_host) {
    wchar_t* unit = P2dUnitToWide(calibration);
    m_host->ApplyCalibration(calibration.lengthPerPixel, calibration.yAxis, unit ? unit : L"");
    free(unit);
  }
  return 1;
}

namespace {

bool WriteStore(FILE* file, void* context) { return static_cast<CLfPtv*>(context)->WriteP2d(file) != 0; }

}  // namespace

int32_t CLfPtv::AskTrackFile(const wchar_t* jpTitle, const wchar_t* enTitle, wchar_t* path, uint64_t units)
{
  wcsncpy(path, L"temp.p2d", size_t(units));
  FileSelectOptions options;
  options.title = Text(m_language, jpTitle, enTitle);
  options.startPath = L"temp.p2d";
  options.extensions = L"p2d";
  return FgSelectFile(path, units, &options, MessageParent());
}

void CLfPtv::SaveP2d()
{
  wchar_t path[1024];
  if (Running() || !AskTrackFile(L"保存するファイル名を選択", L"select file name to save", path, 1024)) return;
  char* ansi = WideToAnsiPath(path);
  if (!ansi) {
    Message(L"メモリー不足です", L"poor memory", 1);
    return;
  }
  if (path[0] && MediaFileExists(path) &&
      Message(L"上書き保存しますか？", L"Do you want to overwrite it?", 0, 0) != 1) {
    free(ansi);
    return;
  }
  // Written beside the target and renamed over it when complete: a failed save keeps the
  // file that was there.
  const bool ok = P2dSaveBeside(ansi, WriteStore, this);
  free(ansi);
  if (!ok) Message(L"セーブできませんでした", L"saving failed", 1);
  else Message(L"セーブしました", L"saved", 0);
}

void CLfPtv::LoadP2d()
{
  wchar_t path[1024];
  if (Running() || !AskTrackFile(L"ファイルを選択", L"select file", path, 1024)) return;
  char* ansi = WideToAnsiPath(path);
  FILE* file = ansi ? fopen(ansi, "rb") : nullptr;
  free(ansi);
  if (file && ReadP2d(file)) {
    fclose(file);
    RebuildIndex();
    RebuildIdList();
    RefreshDataWindow();
    CFgUICtrl::Redraw();
    if (m_filterEnabled && m_host) m_host->Redraw();
    return;
  }
  if (file) fclose(file);
  Message(L"ロードできませんでした", L"loading failed", 1);
}

// ---- controls -------------------------------------------------------------------------

void CLfPtv::RebuildIdList()
{
  // The overlay reads the list's ticks on whichever thread draws.
  PlatformLockHold draw(FgDrawLock());
  m_idList.Clear(2, 0);
  const int32_t ids = m_data.IdCount();
  if (ids > 0) {
    m_idList.InsertItem(-1, L"ALL", 0, 0);
    if (ids < INT32_MAX && m_idList.Reserve(ids + 1)) {
      wchar_t text[16];
      for (int32_t i = 1; i <= ids; ++i) {
        swprintf(text, 16, L"%d", i);
        if (!m_idList.InsertItem(-1, text, uint32_t(i), 0)) break;
      }
    }
    m_idList.SetChecked(0, 1);
  }
  CFgUICtrl::Redraw();
}

void CLfPtv::RefreshDialog()
{
  const int32_t idle = Running() ? 0 : 1;
  const int32_t tracks = idle && m_page != 2 ? 1 : 0;
  struct Rule {
    CFgUIObj* control;
    int32_t enabled;
  } rules[] = {{&m_group, tracks},      {&m_lineLabel, tracks && !m_lineAll.m_checked},
               {&m_tab, idle},         {&m_dataButton, idle},
               {&m_idList, tracks},    {&m_dispId, tracks},      {&m_lineAll, tracks},     {&m_load, tracks},
               {&m_save, tracks},      {&m_lineLen, tracks && !m_lineAll.m_checked},
               {&m_searchLabel, idle}, {&m_searchEdit, idle},    {&m_unitLabel, idle},     {&m_predict, idle},
               {&m_adaptive, idle},    {&m_gridOn, idle}};
  // The EXEC buttons stay: the track page's one cancels a run.
  for (const Rule& rule : rules) {
    if (!rule.enabled && m_focusChild == rule.control) FocusNext();
    rule.control->m_enabled = rule.enabled;
  }
  CFgUICtrl::Redraw();
}

void CLfPtv::OnIdListClick(int32_t index)
{
  if (index < 0 || index >= m_idList.m_count) return;
  {
    PlatformLockHold draw(FgDrawLock());
    if (index == 0) {
      for (int32_t i = 1; i < m_idList.m_count; ++i) m_idList.SetChecked(i, 0);
      m_idList.SetChecked(0, 1);
    } else {
      m_idList.SetChecked(0, 0);
    }
  }
  RefreshDialog();
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::OnIdListClicked(CFgUIList*, void* user, int32_t index) { static_cast<CLfPtv*>(user)->OnIdListClick(index); }

void CLfPtv::OnTraceOption(CFgUIChkButton*, void* user)
{
  auto* self = static_cast<CLfPtv*>(user);
  self->RefreshDialog();
  if (self->m_filterEnabled && self->m_host) self->m_host->Redraw();
}

void CLfPtv::OnSearchRadiusEdit()
{
  const double value = ParseDouble(m_searchEdit.GetText() ? m_searchEdit.GetText() : L"", 0);
  if (value > 0) {
    PlatformLockHold hold(m_lock);
    m_searchRadius = value;
    return;
  }
  wchar_t text[64];
  FormatDouble(text, 64, m_searchRadius);
  m_searchEdit.SetLine(0, text);
  CFgUICtrl::Redraw();
}

// ---- edits and the vector grid --------------------------------------------------------

namespace {

// The leading decimal number of a box (base 10); an empty or non-numeric box reads 0.
int32_t LeadingNumber(const CFgUIEdit& edit)
{
  const wchar_t* text = const_cast<CFgUIEdit&>(edit).GetText();
  if (!text) return 0;
  const wchar_t* p = text;
  while (*p == L' ' || *p == L'\t') ++p;
  const bool minus = *p == L'-';
  if (*p == L'-' || *p == L'+') ++p;
  int64_t v = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    v = v * 10 + (*p - L'0');
    if (v > INT32_MAX) v = int64_t(INT32_MAX) + 1;  // beyond every valid entry
  }
  if (minus) v = -v;
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

void CLfPtv::RebuildIndex()
{
  PlatformLockHold draw(FgDrawLock());
  // A failed index finds nothing: tables and overlay then show no particles rather than
  // wrong ones.
  m_index.Build(m_data);
}

void CLfPtv::EraseData()
{
  if (Running()) return;
  int32_t result;
  {
    PlatformLockHold draw(FgDrawLock());
    result = PtvEraseData(&m_data, LeadingNumber(m_eraseId), LeadingNumber(m_eraseFirst), LeadingNumber(m_eraseLast));
    if (result == kPtvEditDone) RebuildIndex();
  }
  if (result != kPtvEditDone) {
    FgMessageBox(Text(m_language, L"入力内容が間違っています", L"The input content is incorrect"),
                 Text(m_language, L"エラー", L"error"), 1, nullptr);
    return;
  }
  if (m_table.GetWindow()) m_table.Redraw();
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::SplitId()
{
  if (Running()) return;
  int32_t result;
  {
    PlatformLockHold draw(FgDrawLock());
    result = PtvSplitId(&m_data, LeadingNumber(m_splitIdEdit), LeadingNumber(m_splitScene));
    if (result == kPtvEditDone) RebuildIndex();
  }
  if (result != kPtvEditDone) {
    FgMessageBox(Text(m_language, L"入力内容が間違っています", L"The input content is incorrect"),
                 Text(m_language, L"エラー", L"error"), 1, nullptr);
    return;
  }
  // The new id gets its item even when nothing moved; its label is its position.
  {
    PlatformLockHold draw(FgDrawLock());
    wchar_t text[16];
    swprintf(text, 16, L"%d", int32_t(m_idList.m_count));
    m_idList.InsertItem(-1, text, uint32_t(m_idList.m_count), 0);
  }
  RefreshDataWindow();
  CFgUICtrl::Redraw();
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::ConcatIds()
{
  if (Running()) return;
  int32_t result;
  {
    PlatformLockHold draw(FgDrawLock());
    result = PtvConcatIds(&m_data, LeadingNumber(m_concat1), LeadingNumber(m_concat2));
    if (result == kPtvEditDone) RebuildIndex();
  }
  if (result != kPtvEditDone) {
    FgMessageBox(Text(m_language, L"入力内容が間違っています", L"The input content is incorrect"),
                 Text(m_language, L"エラー", L"error"), 1, nullptr);
    return;
  }
  {
    PlatformLockHold draw(FgDrawLock());
    if (m_idList.m_count > 0) m_idList.RemoveItem(int32_t(m_idList.m_count) - 1);
  }
  RefreshDataWindow();
  CFgUICtrl::Redraw();
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::BuildVectorGrid()
{
  if (Running()) return;
  int32_t ok = 0;
  {
    PlatformLockHold draw(FgDrawLock());
    m_grid.Clear();
    if (m_grid.CreateForImage(m_srcWidth - 1, m_srcHeight - 1, m_cellSize,
                              int32_t(std::min<uint64_t>(m_sceneCount, INT32_MAX))))
      ok = PtvBuildVectorGrid(m_data, m_index, &m_grid);
  }
  if (!ok) Message(L"失敗しました", L"failed", 1);
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::OnCellSizeChosen(int32_t size)
{
  if (size == m_cellSize || Running()) return;
  int32_t created;
  {
    PlatformLockHold draw(FgDrawLock());
    m_cellSize = size;
    m_grid.Clear();
    created = m_grid.CreateForImage(m_srcWidth - 1, m_srcHeight - 1, m_cellSize,
                                    int32_t(std::min<uint64_t>(m_sceneCount, INT32_MAX)));
  }
  if (created && m_filterEnabled && m_host) m_host->Redraw();
}

// ---- settings -------------------------------------------------------------------------

namespace {

const wchar_t* Value(CCfgPack* pack, const wchar_t* key)
{
  CCfgItem* item = pack->FindItem(key);
  return item && item->value ? item->value : nullptr;
}

// Optional minus and digits only; anything else reads 0.
int64_t StrictNumber(const wchar_t* text)
{
  const wchar_t* p = text;
  const bool minus = *p == L'-';
  if (minus) ++p;
  if (!*p) return 0;
  int64_t v = 0;
  for (; *p; ++p) {
    if (*p < L'0' || *p > L'9') return 0;
    if (v < INT64_MAX / 20) v = v * 10 + (*p - L'0');
  }
  return minus ? -v : v;
}

// The leading decimal number of a text, none reading 0.
int64_t LeadingValue(const wchar_t* text)
{
  const wchar_t* p = text;
  while (*p == L' ' || *p == L'\t') ++p;
  const bool minus = *p == L'-';
  if (*p == L'-' || *p == L'+') ++p;
  int64_t v = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p)
    if (v < INT64_MAX / 20) v = v * 10 + (*p - L'0');
  return minus ? -v : v;
}

}  // namespace

void CLfPtv::SaveParams(CCfgPack* pack)
{
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  wchar_t text[64];
  pack->AddItem(L"disp_id", m_dispId.m_checked ? L"1" : L"0");
  pack->AddItem(L"line_all", m_lineAll.m_checked ? L"1" : L"0");
  swprintf(text, 64, L"%ld", long(m_lineLen.m_position));
  pack->AddItem(L"line_len", text);
  // R keeps its precision: one decimal would turn a picked 0.03 into 0.
  double radius;
  {
    PlatformLockHold hold(m_lock);
    radius = m_searchRadius;
  }
  FormatDouble(text, 64, radius);
  pack->AddItem(L"search_r", text);
  pack->AddItem(L"active_scope", m_predict.m_checked ? L"1" : L"0");
  pack->AddItem(L"active_range", m_adaptive.m_checked ? L"1" : L"0");
  swprintf(text, 64, L"%d", CFgUIChkButton::GetGroupSelection(&m_cell8));
  pack->AddItem(L"cell_size", text);
  pack->AddItem(L"grid", m_gridOn.m_checked ? L"1" : L"0");
  pack->AddItem(L"cell", m_cellColor.m_checked ? L"1" : L"0");
  swprintf(text, 64, L"%d", m_arrowZoom.m_position);
  pack->AddItem(L"arrow_zoom", text);
  swprintf(text, 64, L"%d", m_colorStep.m_position);
  pack->AddItem(L"color_bar", text);
}

void CLfPtv::LoadParams(CCfgPack* pack)
{
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  auto binary = [&](const wchar_t* key, CFgUIChkButton* box) {
    const wchar_t* t = Value(pack, key);
    if (t && (wcscmp(t, L"0") == 0 || wcscmp(t, L"1") == 0)) box->m_checked = t[0] == L'1' ? 1 : 0;
  };
  auto onUnlessZero = [&](const wchar_t* key, CFgUIChkButton* box) {
    if (const wchar_t* t = Value(pack, key)) box->m_checked = wcscmp(t, L"0") == 0 ? 0 : 1;
  };
  auto bar = [&](const wchar_t* key, CFgUIScrollBar* b) {
    if (const wchar_t* t = Value(pack, key)) {
      const int64_t v = StrictNumber(t);
      if (v >= b->m_minimum && v <= b->m_maximum) {
        b->m_position = int32_t(v);
        if (b->m_callback) b->m_callback(b, b->m_user, b->m_position);
      }
    }
  };
  binary(L"disp_id", &m_dispId);
  binary(L"line_all", &m_lineAll);
  if (const wchar_t* t = Value(pack, L"line_len")) {
    const int64_t v = LeadingValue(t);
    if (v >= 0 && v <= 30) m_lineLen.m_position = int32_t(v);
  }
  if (const wchar_t* t = Value(pack, L"search_r")) {
    const double v = ParseDouble(t, 0);
    if (v > 0 && std::isfinite(v)) {
      {
        PlatformLockHold hold(m_lock);
        m_searchRadius = v;
      }
      wchar_t text[64];
      FormatDouble(text, 64, v);
      m_searchEdit.SetLine(0, text);
    }
  }
  binary(L"active_scope", &m_predict);
  binary(L"active_range", &m_adaptive);
  if (const wchar_t* t = Value(pack, L"cell_size")) {
    const int64_t v = StrictNumber(t);
    if (v >= 0 && v <= 3) {
      static const int32_t kSizes[4] = {8, 16, 32, 64};
      CFgUIChkButton::SetGroupSelection(&m_cell8, int32_t(v), 0);
      m_cellSize = kSizes[v];
    }
  }
  onUnlessZero(L"grid", &m_gridOn);
  m_grid.showGrid = m_gridOn.m_checked ? 1 : 0;
  onUnlessZero(L"cell", &m_cellColor);
  bar(L"arrow_zoom", &m_arrowZoom);
  bar(L"color_bar", &m_colorStep);
  RefreshDialog();
}

void CLfPtv::OnExecPressed(CFgUIButton*, void* user) { static_cast<CLfPtv*>(user)->Execute(); }
void CLfPtv::OnLoadPressed(CFgUIButton*, void* user) { static_cast<CLfPtv*>(user)->LoadP2d(); }
void CLfPtv::OnSavePressed(CFgUIButton*, void* user) { static_cast<CLfPtv*>(user)->SaveP2d(); }
void CLfPtv::OnSearchFocusLost(CFgUIEdit*, void* user) { static_cast<CLfPtv*>(user)->OnSearchRadiusEdit(); }
