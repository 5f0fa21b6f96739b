// bayer.h - CLfBayer, the Bayer conversion: the chain rectangle of every frame is turned into
// a raw colour-filter-array picture (mosaic) or colour is rebuilt from one (linear or ACPI
// demosaic), for one of the four 2 x 2 arrangements, with or without per-colour gains.
//
//   CLfBayer   the filter and its settings window
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"

class CLfBayer : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10019;
  static constexpr double kDefaultGains[4] = {1.0, 3.344, 1.704, 8.772};
  // What one run works from: the controls' state and the gains, copied whole at its start.
  struct Settings {
    int32_t action = 2;   // Demosaic mode: 0 mosaic, 1 linear, 2 ACPI; -1 none selected
    int32_t filter = 0;   // arrangement: 0 GRBG, 1 GBRG, 2 RGGB, 3 BGGR
    uint32_t gain = 1;    // gains passed on
    double gains[4] = {1.0, 3.344, 1.704, 8.772};  // indexed by CfaColor
  };

  CLfBayer();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // EnableAll has set every control but not yet the window's own flag.
  void OnEnableAll() override { UpdateControls(1); }

  Settings GetSettings() const { return m_settings.Snapshot(); }

  CFgUIChkButton m_actionRadio[3];   // "bayer", "demosaic(linear)", "demosaic(acpi)"
  CFgUIChkButton m_filterRadio[4];   // "GRBG", "GBRG", "RGGB", "BGGR"
  CFgUIChkButton m_gainBox;
  CFgUIButton m_resetButton;
  CFgUILabel m_gainLabel[3];         // "R", "G", "B"
  CFgUIEdit m_gainEdit[3];           // R, G, B gains
  static FilterWindowPlace s_classPlace;

 private:
  static void OnOptionChanged(CFgUIChkButton* button, void* user);
  static void OnGainEdited(CFgUIEdit* edit, void* user);
  static void OnReset(CFgUIButton* button, void* user);
  // Reset, labels and edits follow the gain box; a window disabled as a whole stays so
  // unless windowEnabled.
  void UpdateControls(int32_t windowEnabled = 0);
  // The group selections and the gain box into the settings a run copies.
  void StoreOptions();
  void ShowGain(int32_t colour);  // 1 R, 2 G, 3 B

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[15];
};
