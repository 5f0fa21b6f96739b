// convert.h - CLfConvert, the component extraction: the chain rectangle of every colour frame
// becomes one of 19 components (grey, or a colour that shows it); over the whole frame the
// grey result leaves as the grey format of the frame's depth.  Grey frames pass unchanged and
// the window's controls are disabled while they come.
//
//   ConvertComponentMode  ExtractComponent's mode of a selection and the "CMYK" state
//   CLfConvert            the filter and its settings window
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"

constexpr int32_t kConvertButtonCount = 19;
constexpr int32_t kConvertIndexGray = 3;
constexpr int32_t kConvertIndexV = 6;
constexpr int32_t kConvertIndexK = 10;
constexpr int32_t kConvertIndexL = 14;

// Selection 0 to 18 to mode 1 to 22; C, M, Y (7 to 9) with black removed when cmyk is set.
// 0 for a selection outside 0 to 18.
int32_t ConvertComponentMode(int32_t sel, uint32_t cmyk);

class CLfConvert : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10001;
  struct Settings {
    uint32_t color = 0;  // write the component as a colour
    uint32_t cmyk = 0;   // C, M, Y with black removed
    int32_t sel = kConvertIndexGray;
  };

  CLfConvert();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // EnableAll has set every control but not yet the window's own flag.
  void OnEnableAll() override { UpdateControls(1); }

  Settings GetSettings() const { return m_settings.Snapshot(); }
  uint32_t GrayInput() const { return m_grayInput.load(); }

  CFgUIChkButton m_radio[kConvertButtonCount];  // index 0 "R" leads the group
  CFgUIChkButton m_colorBox;
  CFgUIChkButton m_cmykBox;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnComponentChanged(CFgUIChkButton* button, void* user);
  static void OnColorChanged(CFgUIChkButton* button, void* user);
  static void OnCmykChanged(CFgUIChkButton* button, void* user);
  // Grey input: everything off.  Else "K" only with "CMYK", "color" off for GRAY, V and L*,
  // "CMYK" off for K.  A window disabled as a whole stays so unless windowEnabled.  Takes
  // the draw lock: the worker calls it when the kind of frame changes.
  void UpdateControls(int32_t windowEnabled = 0);

  CFilterSettings<Settings> m_settings;
  // 1 while the last frame Process saw was not a colour picture; the worker writes it, the
  // UI thread reads it in UpdateControls.
  std::atomic<uint32_t> m_grayInput{1};
  FilterLayoutItem m_layoutItems[kConvertButtonCount + 2];
};
