// select.h - CLfSelect, the component selection: a grid of radio buttons, one per colour
// component, and a "CMYK" box; in the chain it only sets the component the later filters
// work on.
//
//   SelectComponentCode  the ComponentCode of a radio index and the "CMYK" state
//   CLfSelect            the filter and its settings window
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"

constexpr int32_t kSelectButtonCount = 19;
constexpr int32_t kSelectIndexK = 10;

// Index 0 to 18 to code: C, M, Y (7 to 9) of the four-colour model with cmyk; K and every
// index after it 3 further on.
uint32_t SelectComponentCode(int32_t sel, uint32_t cmyk);

class CLfSelect : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10018;
  struct Settings {
    uint32_t cmyk = 0;
    int32_t sel = 0;
  };

  CLfSelect();

  const wchar_t* GetName(const wchar_t* language) override;
  void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y, int64_t* width,
                    int64_t* height, uint32_t* connectivity, uint32_t* background,
                    uint32_t* component, uint32_t* depth) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { ApplyEnableRules(); }

  Settings GetSettings() const { return m_settings.Snapshot(); }
  // The code ProcessChain hands on.
  uint32_t CurrentCode() const;

  CFgUIChkButton m_radio[kSelectButtonCount];  // index 0 "ALL" leads the group
  CFgUIChkButton m_cmykBox;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnCmyk(CFgUIChkButton* button, void* user);
  // "CMYK" disabled while "K" is selected; "K" enabled only with cmyk set.
  void ApplyEnableRules();

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[kSelectButtonCount + 1];
};
