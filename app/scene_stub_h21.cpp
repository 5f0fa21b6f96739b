// scene_stub_h21.cpp - TEMPORARY stand-ins for opening, scene loading, the view upload and
// the guides, so that saving and filter lists can be built and tested before those land.
// Dropped at merge in favour of the real bodies.
#include <cwchar>

#include "app/mainscreen.h"
#include "media/imgio/imgio.h"
#include "media/media_file.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"

void CMainScreen::SetCurrentPath(const wchar_t* path) {
  if (!path || !path[0]) {
    free(m_chooserStart);
    m_chooserStart = nullptr;
    return;
  }
  const size_t n = wcslen(path);
  wchar_t* copy = static_cast<wchar_t*>(realloc(m_chooserStart, (n + 1) * sizeof(wchar_t)));
  if (!copy) return;
  wmemcpy(copy, path, n + 1);
  m_chooserStart = copy;
}

void CMainScreen::SetFilePath(const wchar_t* path) {
  wcsncpy(m_filePath, path ? path : L"", kMainPathUnits - 1);
  m_filePath[kMainPathUnits - 1] = 0;
}

void CMainScreen::OpenImage(const wchar_t* path) {
  wchar_t chosen[kMainPathUnits] = {};
  if (!path) {
    FileSelectOptions o;
    o.startPath = m_chooserStart;
    o.extensions = m_extensions[6];
    if (!FgSelectFile(chosen, kMainPathUnits - 1, &o, this)) return;
  } else {
    wcsncpy(chosen, path, kMainPathUnits - 1);
  }
  if (!chosen[0]) return;
  if (m_media) MediaClose(m_media);
  m_media = nullptr;
  m_rangeActive = 0;
  m_source.Free();
  m_currentScene = 0;
  m_sourceFrameTime = 0;
  LockUI();
  MediaFile* media = MediaOpen(chosen, nullptr, nullptr);
  uint64_t w = media ? media->info.width : 0, h = media ? media->info.height : 0;
  int32_t ok = 0;
  if (media && media->info.frameCount <= 1) {
    ok = LoadImageFromMedia(&m_source, media, 0);
    MediaClose(media);
    HideVideoPanel();
    m_videoPanel.m_count = 1;
    m_videoPanel.m_position = 0;
  } else if (media) {
    m_media = media;
    const uint64_t n = media->info.frameCount < 100 ? media->info.frameCount : 100;
    m_videoPanel.m_count = n;
    m_videoPanel.m_position = 0;
    m_videoPanel.UpdateThumb();
    ShowVideoPanel();
    if (media->info.frameIntervalUs / 1000) {
      m_sourceFrameTime = media->info.frameIntervalUs / 1000;
      if (m_autoFrameInterval) m_playInterval = m_videoPanel.m_interval = m_sourceFrameTime;
    }
    ok = 1;
  }
  if (ok) SetCurrentPath(chosen);
  else HideVideoPanel();
  wcsncpy(m_filePath, chosen, kMainPathUnits - 1);
  if (m_media) m_original.Free();
  else m_original.CopyFrom(m_source);
  m_restoreOriginal = 0;
  m_rotation = 0;
  m_sidePanel.SetImageInfo(w, h, m_source.Format() ? ImgBytesPerPixel[m_source.Format()] : 0,
                           m_videoPanel.m_count);
  LoadCurrentScene(1);
  UnlockUI();
}

void CMainScreen::LoadCurrentScene(int32_t redraw) {
  if (m_media && !LoadImageFromMedia(&m_source, m_media, m_currentScene)) m_source.Free();
  if (m_restoreOriginal) {
    m_restoreOriginal = 0;
    m_source.CopyFrom(m_original);
  }
  if (!m_source.Pixels()) {
    m_view.m_texture.Clear();
    if (redraw) Redraw();
    return;
  }
  Reprocess(0);
}

void CMainScreen::Reprocess(uint32_t async) {
  if (!m_source.Pixels()) return;
  if (m_displayMode == 0) {
    m_display.CopyFrom(m_source);
    UploadToView();
    return;
  }
  m_sidePanel.Request(&m_display, &m_source, m_currentScene, int32_t(async));
  // The stand-in panel answers no OnProcessed: the view follows here.
  if (!async) UploadToView();
}

void CMainScreen::UploadToView() {
  int32_t ok = 0;
  {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    CFgTexture* texture = m_view.ReleaseTexture();
    ok = UploadImageToTexture(texture, &m_display, 1);
    m_view.m_textureChanged = 0;
    m_view.Layout();
    if (ok && !texture->m_screen && m_view.GetScreen()) texture->AttachToScreen(m_view.GetScreen());
  }
  if (ok) Redraw();
}

void DrawGuides(CFgScreen* screen, CFgFont* font, int32_t vx0, int32_t vy0, int32_t vx1,
                int32_t vy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom,
                void* user) {
  CMainScreen* s = static_cast<CMainScreen*>(user);
  if (!s || s->m_displayMode != 2) return;
  if (s->m_offscreen) {
    const int32_t w = int32_t(s->m_view.PictureWidth()), h = int32_t(s->m_view.PictureHeight());
    vx0 = ix0 = 0;
    vy0 = iy0 = 0;
    vx1 = ix1 = w - 1;
    vy1 = iy1 = h - 1;
    zoom = 1;
  }
  s->m_sidePanel.DrawOverlays(screen, font, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom);
}
