// window_cut.h - CLfWindowCut, "Window cut": erases the objects of a binary picture that
// touch the chosen sides of the chain rectangle, so that only objects wholly inside remain.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"

class CLfWindowCut : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10005;
  struct Sides {
    uint32_t left = 1, top = 1, right = 1, bottom = 1;
  };

  CLfWindowCut();

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  Sides GetSides() const { return m_sides.Snapshot(); }

  CFgUIChkButton m_leftBox;
  CFgUIChkButton m_topBox;
  CFgUIChkButton m_rightBox;
  CFgUIChkButton m_bottomBox;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnBox(CFgUIChkButton* button, void* user);

  CFilterSettings<Sides> m_sides;
  FilterLayoutItem m_layoutItems[4];
};
