// separation.h - CLfSeparation, "Separation": splits touching objects of a binary picture
// inside the chain rectangle, by the objects' distance levels or by the gray values.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"

class CLfSeparation : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10035;

  CLfSeparation();

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // The levels come from the gray values (1) or the distance from the background (0).
  uint32_t Gray() const { return m_gray.load(); }

  CFgUIChkButton m_grayBox;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnBox(CFgUIChkButton* button, void* user);

  // The box's state as Process reads it on the worker.
  std::atomic<uint32_t> m_gray{0};
  FilterLayoutItem m_layoutItems[1];
};
