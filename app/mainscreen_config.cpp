// mainscreen_config.cpp - the settings file against the main screen: what a read accepted
// is applied key by key in the file's table order, whatever the order of the lines; the
// write gathers the values from the members that hold them.
#include <cwchar>

#include "app/config.h"
#include "app/mainscreen.h"
#include "core/parallel.h"
#include "core/safefile.h"
#include "toolkit/path.h"

namespace {

void CopyText(wchar_t* dst, uint64_t units, const wchar_t* src) {
  if (!src) src = L"";
  size_t n = wcslen(src);
  if (n > units - 1) n = units - 1;
  wmemcpy(dst, src, n);
  dst[n] = 0;
}

}  // namespace

void CMainScreen::LoadConfig() {
  // The settings are rewritten at every exit: a run killed during that write left its
  // temporary beside them, and no later save may happen in that folder to sweep it.
  SafeFileSweepWide(ConfigFilePath());
  ConfigValues v;
  uint32_t accepted = 0;
  if (!ReadConfigFile(ConfigFilePath(), &v, &accepted)) return;
  const uint64_t processors = GetProcessorCount();
  if (accepted & kCfgUseCpu) {
    if (v.useCpu <= 0 || uint64_t(v.useCpu) > processors) SetWorkerCount(processors);
    else SetCpuCount(v.useCpu);
  }
  if (accepted & kCfgLastDir) FgRememberFolder(v.lastDir);
  if (accepted & kCfgWheelMode) m_wheelMode = uint32_t(v.wheelMode);
  if (accepted & kCfgColorPicker) {
    m_colorPicker = uint32_t(v.colorPicker);
    UpdateTitle();
  }
  if (accepted & kCfgGuideColor) SetGuideColor(v.guideColor);
  if (accepted & kCfgFrameSkip) {
    m_frameSkip = v.frameSkip;
    if (m_playInterval != 0) {
      m_videoPanel.m_skip = uint32_t(v.frameSkip);
      m_videoPanel.m_interval = m_playInterval;
    }
  }
  if (accepted & kCfgAutoMsPerFrame) m_autoFrameInterval = v.autoMsPerFrame;
  if (accepted & kCfgMsPerFrame) {
    m_playInterval = v.msPerFrame;
    m_videoPanel.m_interval = v.msPerFrame;
    m_videoPanel.m_skip = uint32_t(m_frameSkip);
  }
  if (accepted & kCfgZoom) {
    m_view.SetZoom(v.zoom);
    Redraw();
  }
  if (accepted & kCfgConnect) SetConnectivity(uint32_t(v.connect));
  if ((accepted & kCfgBackground) && uint32_t(v.background) != m_sidePanel.m_background) {
    m_sidePanel.m_background = uint32_t(v.background);
    m_sidePanel.RequestProcess(0);
  }
  if (accepted & kCfgLanguage) SetLanguage(v.language);
  if (accepted & kCfgAxisY) m_calibration.m_axisY = v.axisY;
  if (accepted & kCfgScale) m_calibration.m_scale = v.scale;
  if (accepted & kCfgUnit) CopyText(m_calibration.m_unit, kConfigUnitUnits, v.unit);
  m_sidePanel.SetScale(m_calibration.m_scale, m_calibration.m_axisY, m_calibration.m_unit);
  m_sidePanel.RequestProcess(0);
  if (accepted & kCfgExt) CopyText(m_encode.m_ext, kConfigExtUnits, v.ext);
  if (accepted & kCfgEncodeCodec) m_encode.m_codec = v.encodeCodec;
  if (accepted & kCfgEncodeJpg) m_encode.m_jpegQuality = v.encodeJpg;
  if (accepted & kCfgMp4BpsSel) m_encode.m_rateMode = v.mp4BpsSel;
  if (accepted & kCfgMp4Bps) m_encode.m_bitRate = v.mp4Bps;
  if (accepted & kCfgMp4Ql) m_encode.m_quality = v.mp4Ql;
  if (accepted & kCfgMp4KeySel) m_encode.m_keyFrames = v.mp4KeySel;
  if (accepted & kCfgMp4Key) m_encode.m_keyInterval = v.mp4Key;
}

void CMainScreen::SaveConfig() {
  ConfigValues v;
  const uint64_t active = ActiveWorkerCount();
  v.useCpu = active > GetProcessorCount() ? -1 : int32_t(active);
  CopyText(v.lastDir, kConfigTextUnits, LastFolder);
  v.wheelMode = int32_t(m_wheelMode);
  v.colorPicker = int32_t(m_colorPicker);
  v.guideColor = int32_t(m_guideColor);
  v.frameSkip = m_frameSkip;
  v.autoMsPerFrame = m_autoFrameInterval;
  v.msPerFrame = m_playInterval;
  v.zoom = m_view.m_zoom;
  v.connect = int32_t(m_sidePanel.m_connectivity);
  v.background = int32_t(m_sidePanel.m_background);
  CopyText(v.language, kConfigTextUnits, m_sidePanel.m_language);
  v.axisY = m_calibration.m_axisY;
  v.scale = m_calibration.m_scale;
  CopyText(v.unit, kConfigUnitUnits, m_calibration.m_unit);
  CopyText(v.ext, kConfigExtUnits, m_encode.m_ext);
  v.encodeCodec = m_encode.m_codec;
  v.encodeJpg = m_encode.m_jpegQuality;
  v.mp4BpsSel = m_encode.m_rateMode;
  v.mp4Bps = m_encode.m_bitRate;
  v.mp4Ql = m_encode.m_quality;
  v.mp4KeySel = m_encode.m_keyFrames;
  v.mp4Key = m_encode.m_keyInterval;
  const wchar_t* path = ConfigFilePath();
  if (!path[0] || !MakeConfigFolder(path)) return;
  WriteConfigFile(path, v);  // a failed write keeps the last settings; no message
}
