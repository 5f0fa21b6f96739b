// track2d_edit.cpp - the 2D tracking tool's mouse on the picture: targets drawn, moved and
// added by the right button on the "regist" page, targets selected on the "track" page, and
// the click that answers a manual wait.
//
// Threads: UI thread; targets, boxes and table change under the draw lock because the
// worker's Process and the overlay read them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/filterctrl.h"
#include "measure/track2d.h"
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
