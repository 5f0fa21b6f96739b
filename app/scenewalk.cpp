// scenewalk.cpp - the run bracket of scene-walking tools and the fetch of one scene.
#include "app/scenewalk.h"

#include <cwchar>

#include "app/filterctrl.h"
#include "toolkit/screen.h"
#include "toolkit/uiobj.h"

CSceneWalk::~CSceneWalk() { End(); }

int32_t CSceneWalk::Begin(CImgFilter* tool, CFgUIButton* button) {
  if (!tool || !tool->m_host || m_busy.load()) return 0;
  m_tool = tool;
  m_button = button;
  {
    PlatformLockHold hold(m_lock);
    m_capture.Free();
    m_captured = 0;
  }
  m_cancel.store(0);
  m_busy.store(1);
  tool->m_host->EnableOnly(1, tool);
  if (button) {
    wmemcpy(m_label, button->m_text, kFgWidgetTextUnits);
    button->SetText(IsJapanese(tool->m_language) ? L"\x4E2D\x6B62" : L"CANCEL");  // "中止"
    if (button->m_owner) button->m_owner->Redraw();
  }
  return 1;
}

void CSceneWalk::End() {
  if (!m_busy.load()) return;
  {
    PlatformLockHold hold(m_lock);
    m_capture.Free();
    m_captured = 0;
  }
  if (m_button) {
    m_button->SetText(m_label);
    if (m_button->m_owner) m_button->m_owner->Redraw();
  }
  m_busy.store(0);
  m_cancel.store(0);
  CImgFilter* tool = m_tool;
  m_tool = nullptr;
  m_button = nullptr;
  if (tool && tool->m_host) tool->m_host->EnableOnly(0, tool);
}

int32_t CSceneWalk::FetchScene(uint64_t position, CImgBuff* out) {
  if (!m_busy.load() || !m_tool || !m_tool->m_host) return SceneRefused;
  {
    PlatformLockHold hold(m_lock);
    m_captured = 0;
  }
  int32_t result = SceneRefused;
  if (m_tool->m_host->SeekFrame(position)) {
    PlatformLockHold hold(m_lock);
    if (m_captured) {
      result = SceneFetched;
      if (out && !CopyPictureReusing(out, &m_capture)) result = SceneRefused;
    }
  }
  FgPumpMessages();
  if (m_cancel.load() || QuitRequested) return SceneStopped;
  return result;
}

void CSceneWalk::Capture(const CImgBuff* frame) {
  if (!frame || !m_busy.load()) return;
  PlatformLockHold hold(m_lock);
  if (CopyPictureReusing(&m_capture, frame)) m_captured = 1;
}
