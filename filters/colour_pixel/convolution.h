// convolution.h - CLfFilter, the integer convolution (fixed or automatic divisor) or median
// of 3 x 3 to 9 x 9 on the chain rectangle.  The window edits a pending set; "set" (or a
// loaded pack) applies it, and only the applied set reaches the frames.
//
//   CLfFilter  the filter, its window and its settings
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/colour_pixel/convolution_grid.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"

class CLfFilter : public CFilterWindow, public CFEditClient {
 public:
  static constexpr uint32_t kFilterId = 10010;
  // What Process works from; written whole by the apply step.
  struct Applied {
    uint64_t size = 3;
    int32_t matrix[9][9] = {};
    int32_t kernel[81] = {};
    uint32_t autoDiv = 1;
    uint32_t type = 0;
    int32_t div = 1;
  };

  CLfFilter();

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { ApplyEnableRules(); }
  void OnEdited() override { MarkModified(); }

  Applied GetApplied() const { return m_applied.Snapshot(); }
  // The "set" button's work: the pending set becomes the applied one; the frame is
  // processed again (waits) when the filter is enabled.
  void Apply();

  CFEdit m_grid;
  CFgUIChkButton m_sizeRadio[4];  // 3x3 leads the group
  CFgUILabel m_divLabel;
  CFgUIEdit m_divEdit;
  CFgUIChkButton m_medianBox;
  CFgUIChkButton m_autoDivBox;
  CFgUIButton m_setButton;
  uint64_t m_pendingSize = 3;
  int32_t m_pendingDiv = 1;
  uint32_t m_pendingMedian = 0;
  uint32_t m_pendingAutoDiv = 1;
  uint32_t m_modified = 0;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnSize(CFgUIChkButton* button, void* user);
  static void OnMedian(CFgUIChkButton* button, void* user);
  static void OnAutoDiv(CFgUIChkButton* button, void* user);
  static void OnSet(CFgUIButton* button, void* user);
  static void OnDivChanged(CFgUIEdit* edit, void* user);
  static void OnDivLeft(CFgUIEdit* edit, void* user);
  void MarkModified();
  // "set" only while something is pending; with "median" the grid, divisor and "auto div"
  // are off.
  void ApplyEnableRules();

  CFilterSettings<Applied> m_applied;
  FilterLayoutItem m_layoutItems[11];
};
