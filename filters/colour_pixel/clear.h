// clear.h - CLfClear, the pixel value adjustment: in the chain rectangle it either sets every
// pixel to one grey value ("setting") or shifts every channel by the value minus 128 with
// clamping ("adjustment"); the value comes from a bar and three preset buttons.
//
//   ClearRect   the work on one picture, typed rows for formats 1 to 6
//   CLfClear    the filter and its settings window
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "engine/frame.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/scrollbar.h"

enum : uint32_t { ClearModeSetting = 0, ClearModeAdjustment = 1 };

// Sets (mode 0) or shifts (mode 1) the pixels of roi, normalised against the picture first;
// a refused rectangle or an empty picture leaves everything unchanged.  typed 0 runs every
// format through the record's accessors (the reference the typed rows are tested against).
void ClearRect(CImgBuff* picture, const RoiRect& roi, uint32_t mode, uint8_t value,
               int32_t typed = 1);

class CLfClear : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10027;
  struct Settings {
    uint8_t value = 128;
    uint32_t mode = ClearModeAdjustment;
  };

  CLfClear();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // Stores the value, moves the bar to it (unless the bar itself reports it), redraws and
  // asks for the current frame without waiting when the filter is enabled.
  void SetValue(int32_t value, int32_t fromBar = 0);
  Settings GetSettings() const { return m_settings.Snapshot(); }

  CFgUIChkButton m_settingRadio, m_adjustRadio;  // one group: 0 "setting", 1 "adjustment"
  CFgUIButton m_minButton, m_centerButton, m_maxButton;
  CFgUIScrollBar m_bar;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnPreset(CFgUIButton* button, void* user);
  static void OnBar(CFgUIScrollBar* bar, void* user, int32_t position);

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[6];
};
