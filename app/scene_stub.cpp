// scene_stub.cpp - stand-ins for the main screen's scene loading and view upload, enough for
// the side panel and the calibration dialog until the opening code replaces them.
#include "app/mainscreen.h"

#include "toolkit/texture.h"

void CMainScreen::Reprocess(int32_t async) {
  if (m_source.Height() <= 0) return;
  if (m_displayMode == 0) {
    {
      PlatformLockHold hold(m_sidePanel.ChainLock());
      m_display.CopyFrom(m_source);
    }
    UploadToView();
    return;
  }
  m_sidePanel.Request(&m_display, &m_source, m_currentScene, async);
}

void CMainScreen::UploadToView() {
  int32_t ok = 0;
  {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    CFgTexture* texture = m_view.ReleaseTexture();
    ok = UploadImageToTexture(texture, &m_display, 1);
    m_view.m_textureChanged = 0;
    m_view.Layout();
    if (ok && m_view.m_owner && m_view.m_owner->m_screen) texture->AttachToScreen(m_view.m_owner->m_screen);
  }
  if (ok) CFgUICtrl::Redraw();
}

int32_t CMainScreen::SeekScene(uint64_t position) {
  if (!m_media) return position == 0 ? 1 : 0;
  if (position >= m_videoPanel.m_count) return 0;
  m_videoPanel.m_position = position;
  m_videoPanel.UpdateThumb();
  OnSceneChanged(position);
  CFgUICtrl::Redraw();
  return 1;
}

void CMainScreen::ReplaceSource(CImgBuff* image) {
  m_sidePanel.WaitIdle();
  m_source.CopyFrom(*image);
  m_original.CopyFrom(*image);
  m_filePath[0] = 0;
  m_sidePanel.SetImageInfo(uint64_t(image->Width()), uint64_t(image->Height()),
                           uint64_t(image->Format() ? ImgBytesPerPixel[image->Format()] : 0), 1);
  m_sidePanel.Layout();
  Reprocess(0);
}

int32_t CMainScreen::CommitProcessing(CImgBuff* image, int32_t* done) {
  if (done) *done = 1;
  m_sidePanel.WaitIdle();
  m_source.CopyFrom(*image);
  m_original.CopyFrom(*image);
  m_sidePanel.SetImageInfo(uint64_t(image->Width()), uint64_t(image->Height()),
                           uint64_t(image->Format() ? ImgBytesPerPixel[image->Format()] : 0), 1);
  Reprocess(0);
  return 1;
}
