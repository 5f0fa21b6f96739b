// change_conditions.h - CLfConfig, "Change conditions": hands its own connectivity and
// background to the filters after it in the same chain run; the picture is not touched.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/label.h"

class CLfConfig : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10034;

  CLfConfig();

  const wchar_t* GetName(const wchar_t* language) override;
  // The first call, opening or closing, takes the controller's values once (see the .cpp).
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y, int64_t* width,
                    int64_t* height, uint32_t* connectivity, uint32_t* background,
                    uint32_t* component, uint32_t* depth) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  uint32_t Connectivity() const { return m_connect.load(); }
  uint32_t Background() const { return m_bg.load(); }

  CFgUILabel m_connectLabel;
  CFgUIChkButton m_connect4;  // leads the connectivity group
  CFgUIChkButton m_connect8;
  CFgUILabel m_bgLabel;
  CFgUIChkButton m_black;  // leads the background group
  CFgUIChkButton m_white;
  uint32_t m_takenFromHost = 0;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnConnect(CFgUIChkButton* button, void* user);
  static void OnBackground(CFgUIChkButton* button, void* user);
  void ShowValues();

  // Written on the UI thread, read by ProcessChain on the worker: one word each.
  std::atomic<uint32_t> m_connect{8};
  std::atomic<uint32_t> m_bg{1};
  FilterLayoutItem m_layoutItems[6];
};
