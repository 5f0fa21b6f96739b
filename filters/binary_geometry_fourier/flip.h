// flip.h - CLfFlip, the flip of the chain rectangle: left to right, top to bottom, or both
// (a half turn), chosen by two check boxes in its window.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"

class CLfFlip : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10040;
  struct Settings {
    uint32_t flipH = 0;  // each row mirrored
    uint32_t flipV = 0;  // the order of the rows reversed
  };

  CLfFlip();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  Settings GetSettings() const { return m_settings.Snapshot(); }
  // Places and labels the boxes for language.
  void LayOut(const wchar_t* language);

  CFgUIChkButton m_mirrorBox;   // flip_h
  CFgUIChkButton m_reverseBox;  // flip_v
  static FilterWindowPlace s_classPlace;

 private:
  static void OnBox(CFgUIChkButton* button, void* user);

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[2];
};
