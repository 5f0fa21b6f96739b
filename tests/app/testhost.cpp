// testhost.cpp - the scripted host and the scripted dialogs of the filter tests.
#include "tests/app/testhost.h"

#include <cwchar>

#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"

// ---------------------------------------------------------------------------------------
// CTestHost
CTestHost::CTestHost() = default;

CTestHost::~CTestHost() {
  // The worker may be calling OnProcessed: it must be gone before this part is.
  Shutdown();
  ClearFrames();
}

void CTestHost::ClearFrames() {
  for (CImgBuff* f : m_frames) delete f;
  m_frames.clear();
}

void CTestHost::TellSource() {
  uint64_t bpp = m_source.Format() ? uint64_t(ImgBytesPerPixel[m_source.Format()]) : 0;
  uint64_t scenes = m_isVideo ? m_frames.size() : (m_source.Format() ? 1 : 0);
  SetImageInfo(uint64_t(m_source.Width()), uint64_t(m_source.Height()), bpp, scenes);
}

void CTestHost::SetStill(const CImgBuff& picture) {
  {
    PlatformLockHold hold(ChainLock());
    ClearFrames();
    m_isVideo = 0;
    m_position = 0;
    m_intervalUs = 0;
    m_source.CopyFrom(picture);
  }
  TellSource();
}

int32_t CTestHost::SetVideo(const std::vector<const CImgBuff*>& frames, uint64_t intervalUs) {
  if (frames.empty()) return 0;
  std::vector<CImgBuff*> copies;
  for (const CImgBuff* f : frames) {
    CImgBuff* c = new CImgBuff;
    if (!f || !c->CopyFrom(*f)->Format()) {
      delete c;
      for (CImgBuff* d : copies) delete d;
      return 0;
    }
    copies.push_back(c);
  }
  {
    PlatformLockHold hold(ChainLock());
    ClearFrames();
    m_frames = copies;
    m_isVideo = 1;
    m_position = 0;
    m_intervalUs = intervalUs;
    m_source.CopyFrom(*m_frames[0]);
  }
  TellSource();
  return 1;
}

void CTestHost::SetPlayRange(uint64_t first, uint64_t step) {
  m_rangeFirst = first;
  m_rangeStep = step;
}

int32_t CTestHost::Reprocess(uint32_t async) {
  {
    PlatformLockHold hold(ChainLock());
    if (!m_source.Format()) return 0;
  }
  Request(&m_display, &m_source, SceneOf(m_position), int32_t(async));
  return 1;
}

void CTestHost::OnDialogClosed() {
  m_dialogClosedCount++;
  m_redrawCount++;
}

void CTestHost::EnableOnly(uint32_t solo, CImgFilter* filter) {
  m_enableOnlyCalls.emplace_back(solo, filter);
  CFilterCtrl::EnableOnly(solo, filter);
}

void CTestHost::RequestProcess(uint32_t async) {
  // The panel shows the frame once more on the calling thread after a waiting request.
  if (Reprocess(async) && !async) OnProcessed();
}

void CTestHost::OnProcessed() {
  {
    // As the main screen uploads the display picture to the view under the chain lock.
    PlatformLockHold hold(ChainLock());
    m_processedCount++;
    m_redrawCount++;
  }
  if (m_onProcessedHook) m_onProcessedHook();
}

void CTestHost::Redraw() { m_redrawCount++; }

int32_t CTestHost::SeekFrame(uint64_t position) {
  m_seekCount++;
  if (!m_isVideo) {
    // A still accepts position 0, and the chain runs on it.
    if (position != 0) return 0;
    Reprocess(0);
    return 1;
  }
  if (position >= m_frames.size()) return 0;
  {
    PlatformLockHold hold(ChainLock());
    m_position = position;
    CopyPictureReusing(&m_source, m_frames[position]);
  }
  Reprocess(0);
  return 1;
}

uint64_t CTestHost::GetCurrentScene() { return m_isVideo ? m_position : 0; }
uint64_t CTestHost::GetSourceFrameTime() { return m_isVideo ? m_intervalUs / 1000 : 0; }
uint64_t CTestHost::GetSourceFrameIntervalUs() { return m_isVideo ? m_intervalUs : 0; }
uint64_t CTestHost::GetPlaybackInterval() { return m_playbackMs; }
void CTestHost::EnableImageInput(uint32_t enable) { m_imageInput = enable != 0; }

void CTestHost::ApplyCalibration(double scale, int32_t axisY, const wchar_t* unit) {
  m_calibrationCount++;
  SetScale(scale, axisY, unit);
  RequestProcess(0);
}

void CTestHost::OpenAsNewImage(CImgBuff* picture) {
  if (!picture) return;
  m_newImageCount++;
  SetStill(*picture);
  Reprocess(0);
}

void CTestHost::OpenResultImage(CImgBuff* picture, uint32_t) { OpenAsNewImage(picture); }

int32_t CTestHost::GetSourceImage(CImgBuff* out) {
  if (!out) return 0;
  PlatformLockHold hold(ChainLock());
  return out->CopyFrom(m_source)->Format() ? 1 : 0;
}

int32_t CTestHost::GetOutputImage(CImgBuff* out) {
  if (!out) return 0;
  PlatformLockHold hold(ChainLock());
  return out->CopyFrom(m_display)->Format() ? 1 : 0;
}

void CTestHost::GetEncodeSettings(MediaWriteOptions* out) {
  if (!out) return;
  *out = m_encode;
  if (m_encodeQualityMode != 1) out->h264QualityPct = 0;
  if (!m_encodeKeySwitch) out->h264KeyInterval = 0;
}

// ---------------------------------------------------------------------------------------
// CScriptedDialogs
namespace {

CScriptedDialogs* g_script = nullptr;

std::wstring Text(const wchar_t* t) { return t ? std::wstring(t) : std::wstring(); }

int32_t ScriptedBox(const wchar_t* text, const wchar_t* caption, int32_t kind, CFgScreen*) {
  if (!g_script) return 0;
  g_script->m_shown.push_back({Text(text), Text(caption), kind});
  if (g_script->m_answers.empty()) return 0;
  int32_t a = g_script->m_answers.front();
  g_script->m_answers.pop_front();
  return a;
}

int32_t ScriptedChooser(wchar_t* buffer, uint64_t size, const FileSelectOptions* options,
                        CFgScreen*) {
  if (!g_script) return 0;
  g_script->m_asked.push_back({Text(options ? options->title : nullptr),
                               Text(options ? options->startPath : nullptr),
                               Text(options ? options->extensions : nullptr)});
  if (g_script->m_paths.empty()) return 0;
  std::wstring path = g_script->m_paths.front();
  g_script->m_paths.pop_front();
  if (path.empty() || path.size() >= size) return 0;
  wmemcpy(buffer, path.c_str(), path.size() + 1);
  return 1;
}

}  // namespace

CScriptedDialogs::CScriptedDialogs() {
  g_script = this;
  FgSetMessageBoxOverride(&ScriptedBox);
  FgSetSelectFileOverride(&ScriptedChooser);
}

CScriptedDialogs::~CScriptedDialogs() {
  FgSetMessageBoxOverride(nullptr);
  FgSetSelectFileOverride(nullptr);
  g_script = nullptr;
}
