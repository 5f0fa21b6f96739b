// noise_remover.h - CLfNoiseRemover, "Noise remover": erases the islands of a binary
// picture of at most a lower and/or at least an upper number of pixels inside the chain
// rectangle.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"

class CLfNoiseRemover : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10004;
  // The limits handed to the engine; 0 switches a limit off.
  struct Limits {
    uint32_t min = 10;
    uint32_t max = 0;
  };

  CLfNoiseRemover();

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { UpdateControls(); }

  Limits GetLimits() const { return m_limits.Snapshot(); }
  // A box is enabled exactly while its limit is in force.
  void UpdateControls();

  CFgUIEdit m_minEdit;
  CFgUIEdit m_maxEdit;
  CFgUIChkButton m_minBox;  // "pixel under del"
  CFgUIChkButton m_maxBox;  // "pixel over del"
  // The limits as typed, and whether each is in force (UI thread only).
  uint32_t m_uiMin = 10;
  uint32_t m_uiMax = 1000;
  uint32_t m_enableMin = 1;
  uint32_t m_enableMax = 0;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnMinLeft(CFgUIEdit* edit, void* user);
  static void OnMaxLeft(CFgUIEdit* edit, void* user);
  static void OnMinBox(CFgUIChkButton* button, void* user);
  static void OnMaxBox(CFgUIChkButton* button, void* user);
  // The focus-loss body of either box.
  void LeaveBox(CFgUIEdit* edit, uint32_t* typed, uint32_t enabled, int32_t upper);

  CFilterSettings<Limits> m_limits;
  FilterLayoutItem m_layoutItems[4];
};
