// track2d_edit.cpp - the 2D tracking tool's mouse on the picture: targets drawn, moved and
// added by the right button on the "regist" page, targets selected on the "track" page, and
// the click that answers a manual wait.
//
// Threads: UI thread; targets, boxes and table change under the draw lock because the
// worker's Process and the overlay read them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/filterctrl.h"
#include "core/text.h"
#include "media/media.h"
#include "measure/track2d.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

int32_t CLfTrack2d::AddTargetAt(int32_t x, int32_t y, int32_t w, int32_t h)
{
  CTrack* track = m_panel.CreateTrack();
  if (!track) return -1;
  track->x = x;
  track->y = y;
  track->w = w;
  track->h = h;
  PlatformLockHold hold(FgDrawLock());
  const int32_t index = AddTrack(track);
  if (index < 0) {
    delete track;
    return -1;
  }
  wchar_t label[16];
  swprintf(label, 16, L"%d", index + 1);
  if (!m_idList.InsertItem(-1, label, uint32_t(index), 0)) {
    RemoveTrack(index);
    return -1;
  }
  m_selected = index;
  return index;
}

void CLfTrack2d::OnLButtonDown(int64_t x64, int64_t y64, uint8_t flags)
{
  const int32_t x = int32_t(x64), y = int32_t(y64);
  const int32_t page = m_tab.m_currentPage;
  if (page == kPageRegist && !m_panel.OnLButtonDown(x, y, flags)) return;
  if (!m_host) return;
  if (m_waiting) {
    m_dragMode = 3;
    return;
  }
  const int32_t scene = int32_t(m_host->GetCurrentScene());
  if (scene < 0) return;
  if (page == kPageTrack) {
    int32_t hit = -1;
    {
      PlatformLockHold hold(FgDrawLock());
      for (int32_t t = 0; t < trackCount && hit < 0; ++t) {
        P2dPoint p;
        const CTrack* b = tracks[t];
        if (table.GetPoint(t, scene, &p) && P2dPointCounts(p) && x >= b->x && x <= b->x + b->w - 1 && y >= b->y &&
            y <= b->y + b->h - 1)
          hit = t;
      }
      if (hit >= 0) m_selected = hit;
    }
    if (hit >= 0) ProcessAgain();
    return;
  }
  if (page == kPageEdit) {
    FillEditFields(x, y, (flags & 16) != 0);
    return;
  }
  if (page != kPageRegist) return;
  int32_t hit = -1;
  {
    PlatformLockHold hold(FgDrawLock());
    for (int32_t t = 0; t < trackCount && hit < 0; ++t) {
      const CTrack* b = tracks[t];
      if (x >= b->x && x <= b->x + b->w - 1 && y >= b->y && y <= b->y + b->h - 1) hit = t;
    }
  }
  if (hit < 0) {
    if (AddTargetAt(x, y, 1, 1) < 0) return;
    m_dragMode = 1;
  } else {
    if (hit != m_selected) {
      PlatformLockHold hold(FgDrawLock());
      m_panel.LoadFromTrack(tracks[hit]);
    }
    PlatformLockHold hold(FgDrawLock());
    m_selected = hit;
    m_boxStartX = tracks[hit]->x;
    m_boxStartY = tracks[hit]->y;
    m_dragMode = 2;
  }
  m_dragStartX = m_dragX = x;
  m_dragStartY = m_dragY = y;
  RefreshTrackData();
  CFgUICtrl::Redraw();
  ProcessAgain();
}

void CLfTrack2d::OnMouseMove(int64_t x64, int64_t y64, uint8_t)
{
  const int32_t x = int32_t(x64), y = int32_t(y64);
  if (m_tab.m_currentPage == kPageRegist && !m_panel.OnMouseMove(x, y)) return;
  if (m_dragMode != 1 && m_dragMode != 2) return;
  {
    PlatformLockHold hold(FgDrawLock());
    CTrack* track = SelectedTrack();
    if (!track) return;
    m_dragX = x;
    m_dragY = y;
    if (m_dragMode == 1) {
      track->x = std::min(m_dragStartX, x);
      track->y = std::min(m_dragStartY, y);
      track->w = std::abs(x - m_dragStartX) + 1;
      track->h = std::abs(y - m_dragStartY) + 1;
      m_lastBoxW = track->w;
      m_lastBoxH = track->h;
    } else {
      track->x = m_boxStartX + (x - m_dragStartX);
      track->y = m_boxStartY + (y - m_dragStartY);
      const int64_t scene = m_host ? int64_t(m_host->GetCurrentScene()) : -1;
      if (scene >= 0 && scene < int64_t(table.header.scenes) && m_selected < int32_t(table.header.ids))
        table.SetPoint(m_selected, scene, {double(track->x + track->w / 2), double(track->y + track->h / 2)});
    }
  }
  ProcessAgain();
}

void CLfTrack2d::OnLButtonUp(int64_t x64, int64_t y64, uint8_t)
{
  const int32_t x = int32_t(x64), y = int32_t(y64);
  if (m_tab.m_currentPage == kPageRegist) {
    if (!m_panel.OnLButtonUp(x, y)) return;
    PlatformLockHold hold(FgDrawLock());
    if (CTrack* track = SelectedTrack()) m_panel.StoreToTrack(track);
  }
  if (m_dragMode == 0) return;
  if (m_dragMode == 1) {
    bool moved = false;
    {
      PlatformLockHold hold(FgDrawLock());
      double px, py;
      CTrack* track = SelectedTrack();
      if (track && GetPosition(m_selected, GetCurrentScene(), m_step, &px, &py)) {
        track->CentreOn(px, py);
        moved = true;
      }
    }
    if (moved) ProcessAgain();
  }
  const bool answer = m_dragMode == 3;
  m_dragMode = 0;
  if (answer) AnswerClick(x, y);
  RefreshTrackData();
}

void CLfTrack2d::OnRButtonDown(int64_t x64, int64_t y64, uint8_t)
{
  const int32_t x = int32_t(x64), y = int32_t(y64);
  if (m_tab.m_currentPage != kPageRegist || m_waiting || m_running) return;
  if (!m_panel.OnRButtonDown(x, y)) {
    PlatformLockHold hold(FgDrawLock());
    if (CTrack* track = SelectedTrack()) m_panel.StoreToTrack(track);
    return;
  }
  if (!m_host || int64_t(m_host->GetCurrentScene()) < 0) return;
  const int32_t w = m_lastBoxW, h = m_lastBoxH;
  const int32_t index = AddTargetAt(x - w / 2, y - h / 2, w, h);
  if (index < 0) return;
  {
    PlatformLockHold hold(FgDrawLock());
    m_boxStartX = tracks[index]->x;
    m_boxStartY = tracks[index]->y;
    m_dragMode = 2;
  }
  m_dragStartX = m_dragX = x;
  m_dragStartY = m_dragY = y;
  RefreshTrackData();
  CFgUICtrl::Redraw();
  ProcessAgain();
}

// ---- ID editing -------------------------------------------------------------------------------

namespace {

const wchar_t* EditText(const wchar_t* language, const wchar_t* jp, const wchar_t* en)
{
  return IsJapanese(language) ? jp : en;
}

// An unsigned decimal: blanks skipped, an optional sign, digits up to the first other
// character; a negative number wraps to a huge value, an empty field reads 0.
uint64_t ReadField(const CFgUIEdit& edit)
{
  const wchar_t* t = edit.GetText();
  if (!t) return 0;
  while (*t == L' ' || *t == L'\t') ++t;
  bool negative = false;
  if (*t == L'+' || *t == L'-') negative = *t++ == L'-';
  uint64_t v = 0;
  for (; *t >= L'0' && *t <= L'9'; ++t) v = v * 10 + uint64_t(*t - L'0');
  return negative ? uint64_t(0) - v : v;
}

void SetField(CFgUIEdit& edit, int64_t value)
{
  wchar_t text[24];
  swprintf(text, 24, L"%lld", static_cast<long long>(value));
  edit.SetLine(0, text);
}

}  // namespace

void CLfTrack2d::AppendIdItem(int32_t index)
{
  wchar_t label[16];
  swprintf(label, 16, L"%d", index + 1);
  m_idList.InsertItem(-1, label, uint32_t(index), 0);
}

void CLfTrack2d::BadInput()
{
  FgMessageBox(EditText(m_language, L"入力内容が間違っています", L"The input content is incorrect"),
               EditText(m_language, L"エラー", L"error"), 1, nullptr);
}

void CLfTrack2d::ConnectEditButtons()
{
  m_delId.m_callback = [](CFgUIButton*, void* u) { static_cast<CLfTrack2d*>(u)->DeleteId(); };
  m_delId.m_user = this;
  m_eraseButton.m_callback = [](CFgUIButton*, void* u) { static_cast<CLfTrack2d*>(u)->EraseData(); };
  m_eraseButton.m_user = this;
  m_splitButton.m_callback = [](CFgUIButton*, void* u) { static_cast<CLfTrack2d*>(u)->SplitId(); };
  m_splitButton.m_user = this;
  m_concatButton.m_callback = [](CFgUIButton*, void* u) { static_cast<CLfTrack2d*>(u)->ConcatIds(); };
  m_concatButton.m_user = this;
  m_loadButton.m_callback = [](CFgUIButton*, void* u) { static_cast<CLfTrack2d*>(u)->LoadP2d(); };
  m_loadButton.m_user = this;
  m_saveButton.m_callback = [](CFgUIButton*, void* u) { static_cast<CLfTrack2d*>(u)->SaveP2d(); };
  m_saveButton.m_user = this;
}

int32_t CLfTrack2d::FindNearestId(int32_t x, int32_t y, int32_t* first, int32_t* last)
{
  *first = *last = -1;
  if (!m_host) return -1;
  const int64_t scene = int64_t(m_host->GetCurrentScene());
  const int64_t ids = table.header.ids, scenes = table.header.scenes;
  int32_t best = -1;
  double bestD = 0.0;
  P2dPoint p;
  for (int64_t i = 0; i < ids; ++i) {
    if (!table.GetPoint(int32_t(i), scene, &p) || !P2dPointCounts(p)) continue;
    const double d = (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y);
    if (best < 0 || d < bestD) {
      best = int32_t(i);
      bestD = d;
    }
  }
  if (best < 0) return -1;
  const int64_t sourceScenes = std::min<int64_t>(scenes, int64_t(m_sceneCount));
  for (int64_t s = 0; s < sourceScenes; ++s)
    if (table.GetPoint(best, s, &p) && P2dPointCounts(p)) {
      if (*first < 0) *first = int32_t(s + 1);
      *last = int32_t(s + 1);
    }
  return best;
}

void CLfTrack2d::DeleteId()
{
  {
    PlatformLockHold hold(FgDrawLock());
    if (m_selected < 0 || m_selected >= trackCount || !RemoveTrack(m_selected)) return;
    if (m_selected >= trackCount) m_selected = trackCount - 1;
    if (m_idList.m_count > 1) m_idList.RemoveItem(m_idList.m_count - 1);
  }
  CFgUICtrl::Redraw();
  RefreshTrackData();
  ProcessAgain();
}

void CLfTrack2d::EraseData()
{
  const uint64_t id = ReadField(m_eraseIdEdit), first = ReadField(m_eraseFromEdit), last = ReadField(m_eraseToEdit);
  if (id < 1 || id > table.header.ids || last > table.header.scenes || first > last) {
    BadInput();
    return;
  }
  {
    PlatformLockHold hold(FgDrawLock());
    // A first scene of 0 starts below the table: nothing is erased.
    if (first >= 1) ClearRange(int32_t(id - 1), int32_t(first - 1), int32_t(last - 1));
  }
  RefreshTrackData();
  ProcessAgain();
}

void CLfTrack2d::SplitId()
{
  const uint64_t id = ReadField(m_splitIdEdit), scene = ReadField(m_splitSceneEdit);
  // Scene 0 would ask for a split before the first scene: refused like any bad field.
  if (id < 1 || id > table.header.ids || scene < 1 || scene > table.header.scenes) {
    BadInput();
    return;
  }
  {
    PlatformLockHold hold(FgDrawLock());
    if (SplitTrack(int32_t(id - 1), int32_t(scene - 1))) AppendIdItem(trackCount - 1);
  }
  RefreshTrackData();
  ProcessAgain();
}

void CLfTrack2d::ConcatIds()
{
  const uint64_t a = ReadField(m_concatId1Edit), b = ReadField(m_concatId2Edit);
  if (a == b) return;
  if (a < 1 || a > table.header.ids || b < 1 || b > table.header.ids) {
    BadInput();
    return;
  }
  {
    PlatformLockHold hold(FgDrawLock());
    if (MergeTracks(int32_t(a - 1), int32_t(b - 1)) && m_idList.m_count > 1) {
      m_idList.RemoveItem(m_idList.m_count - 1);
      if (m_selected >= trackCount) m_selected = trackCount - 1;
    }
  }
  RefreshTrackData();
  ProcessAgain();
}

// ---- track files ------------------------------------------------------------------------------

int32_t CLfTrack2d::LoadP2dPath(const char* path)
{
  int32_t ok;
  {
    PlatformLockHold hold(FgDrawLock());
    ok = LoadTracks(path);
    if (ok) {
      ResetIdList();
      // Room for every ID at once: a file may bring a million of them, and the list would
      // otherwise grow eight items at a time.  Without the room only "ALL" is listed.
      if (trackCount > 0 && m_idList.Reserve(trackCount))
        for (int32_t i = 0; i < trackCount; ++i) AppendIdItem(i);
      m_selected = trackCount > 0 ? 0 : -1;
    }
  }
  if (!ok) {
    const bool version = table.error == P2dErrorVersion;
    FgMessageBox(version ? EditText(m_language, L"未対応のバージョンです", L"unsupported version")
                         : EditText(m_language, L"ロードできませんでした", L"loading failed"),
                 EditText(m_language, L"エラー", L"error"), 1, this);
    return 0;
  }
  // The file's calibration only when it is one the system can use.
  const P2dCalibration& c = table.calibration;
  if (m_filterEnabled && m_host && std::isfinite(c.lengthPerPixel) && c.lengthPerPixel > 0.0 &&
      (c.yAxis == 1 || c.yAxis == -1)) {
    wchar_t* unit = Utf8ToWide(c.unit);
    m_host->ApplyCalibration(c.lengthPerPixel, c.yAxis, unit ? unit : L"");
    free(unit);
  }
  CFgUICtrl::Redraw();
  RefreshTrackData();
  ProcessAgain();
  return 1;
}

int32_t CLfTrack2d::SaveP2dPath(const char* path)
{
  int32_t ok;
  {
    PlatformLockHold hold(FgDrawLock());
    ok = table.Save(path);
  }
  FgMessageBox(ok ? EditText(m_language, L"セーブしました", L"saved")
                  : EditText(m_language, L"セーブできませんでした (write)", L"saving failed (write)"),
               ok ? EditText(m_language, L"確認", L"confirmation") : EditText(m_language, L"エラー", L"error"), 1,
               this);
  return ok;
}

void CLfTrack2d::LoadP2d()
{
  wchar_t chosen[1024] = {};
  FileSelectOptions options;
  options.title = EditText(m_language, L"ファイルを選択", L"select file");
  options.startPath = L"temp.p2d";
  options.extensions = L"p2d";
  if (!FgSelectFile(chosen, 1024, &options, this)) return;
  char* path = WideToAnsi(chosen);
  if (!path) {
    FgMessageBox(EditText(m_language, L"メモリー不足です", L"poor memory"), EditText(m_language, L"エラー", L"error"), 1,
                 this);
    return;
  }
  LoadP2dPath(path);
  free(path);
}

void CLfTrack2d::SaveP2d()
{
  wchar_t chosen[1024] = {};
  FileSelectOptions options;
  options.title = EditText(m_language, L"保存するファイル名を選択", L"select file name to save");
  options.startPath = L"temp.p2d";
  options.extensions = L"p2d";
  if (!FgSelectFile(chosen, 1024, &options, this)) return;
  char* path = WideToAnsi(chosen);
  if (!path) {
    FgMessageBox(EditText(m_language, L"メモリー不足です", L"poor memory"), EditText(m_language, L"エラー", L"error"), 1,
                 this);
    return;
  }
  if (chosen[0] && MediaFileExists(chosen) &&
      FgMessageBox(EditText(m_language, L"上書き保存しますか？", L"Do you want to overwrite it?"),
                   EditText(m_language, L"確認", L"confirmation"), 0, this) != 1) {
    free(path);
    return;
  }
  SaveP2dPath(path);
  free(path);
}

void CLfTrack2d::FillEditFields(int32_t x, int32_t y, bool shift)
{
  int32_t first, last;
  const int32_t id = FindNearestId(x, y, &first, &last);
  if (id < 0) return;
  if (shift) {
    SetField(m_concatId2Edit, id + 1);
  } else {
    SetField(m_eraseIdEdit, id + 1);
    SetField(m_splitIdEdit, id + 1);
    SetField(m_concatId1Edit, id + 1);
    if (first >= 0) {
      SetField(m_eraseFromEdit, first);
      SetField(m_eraseToEdit, last);
    }
    SetField(m_splitSceneEdit, int64_t(m_host->GetCurrentScene()) + 1);
  }
  CFgUICtrl::Redraw();
}
