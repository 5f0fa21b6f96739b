// binary_morphology.h - CLfBinary, "Binary image process": one morphological operation on
// the objects of a binary picture inside the chain rectangle (exclusive expansion,
// expansion, degeneracy, thinning with whisker shaving, border extraction, hole filling).
// The window edits a pending copy of the settings; "set" (or a loaded pack) applies it, and
// only the applied copy reaches the frames.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"

class CLfBinary : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10011;
  enum Type : uint32_t {
    kExclusiveExpansion = 0,
    kExpansion = 1,
    kDegeneracy = 2,
    kThinning = 3,
    kExtractBorder = 4,
    kHoleFill = 5,
  };
  // What Process and SaveParams work from; the three change together.
  struct Applied {
    uint32_t type = kHoleFill;
    uint64_t repeat = 1;  // passes of types 0 to 2
    uint64_t shave = 0;   // whisker length of thinning; 0 shaves nothing
  };

  CLfBinary();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { UpdateControls(); }

  Applied GetApplied() const { return m_applied.Snapshot(); }
  // The enable rule: "repeat" for types 0 to 2, "shave" for thinning, "set" while dirty.
  void UpdateControls();
  // "set": the edited copy becomes the applied one; the frame is processed again (waits)
  // when the filter is enabled with a host.
  void Apply();
  // Places, widths and labels of the controls for language.
  void LayOut(const wchar_t* language);

  CFgUIChkButton m_typeRadio[6];  // index = type; the first leads the group
  CFgUILabel m_repeatLabel;
  CFgUIEdit m_repeatEdit;
  CFgUILabel m_shaveLabel;
  CFgUIEdit m_shaveEdit;
  CFgUIButton m_setButton;
  uint32_t m_editedType = kHoleFill;
  uint64_t m_editedRepeat = 1;
  uint64_t m_editedShave = 0;
  uint32_t m_dirty = 0;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnType(CFgUIChkButton* button, void* user);
  static void OnTyped(CFgUIEdit* edit, void* user);
  static void OnRepeatLeft(CFgUIEdit* edit, void* user);
  static void OnShaveLeft(CFgUIEdit* edit, void* user);
  static void OnSet(CFgUIButton* button, void* user);
  void MarkDirty();

  CFilterSettings<Applied> m_applied;
  FilterLayoutItem m_layoutItems[11];
};
