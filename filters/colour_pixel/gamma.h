// gamma.h - CLfGamma, the power curve on every sample of the chain rectangle: a plain gamma
// (or its reciprocal) or a move from one display gamma to another.
//
//   GammaExponent  the (g0, g1) pair of a setting: the curve's exponent is g1 / g0
//   CLfGamma       the filter and its settings window
#pragma once
#include <cstdint>
#include <memory>

#include "app/filter.h"
#include "engine/levels.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"

// (1, gamma) for type 0, (gamma, 1) with rev, (to, from) for type 1, (from, to) for type 2;
// 0 for a type above 2.
int32_t GammaExponent(uint32_t type, double gamma, uint32_t rev, double from, double to,
                      double* outG0, double* outG1);

class CLfGamma : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10007;
  struct Settings {
    uint32_t type = 0;
    double gamma = 2.2;
    uint32_t rev = 1;
    double from = 2.2;
    double to = 1.8;
    // Replaced whole when the curve changes; a run holds its own reference, so the table it
    // reads stays alive while the window builds the next one.
    std::shared_ptr<const LevelLut> table;
  };

  CLfGamma();

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { ApplyEnableRules(); }

  Settings GetSettings() const { return m_settings.Snapshot(); }
  // Builds the table of the current curve (none for a type above 2 or an exponent part not
  // above 0).
  void BuildTable();

  CFgUIChkButton m_radio[3];  // "gamma" leads the group
  CFgUILabel m_gammaLabel;
  CFgUIEdit m_gammaEdit;
  CFgUIChkButton m_revBox;
  CFgUILabel m_fromLabel;
  CFgUIEdit m_fromEdit;
  CFgUILabel m_toLabel;
  CFgUIEdit m_toEdit;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnRev(CFgUIChkButton* button, void* user);
  static void OnEditLeft(CFgUIEdit* edit, void* user);
  // Gamma controls in type 0, "orignal" and "new" in types 1 and 2.
  void ApplyEnableRules();

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[10];
};
