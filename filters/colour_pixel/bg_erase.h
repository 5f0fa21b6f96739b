// bg_erase.h - CLfBgErase: removes a stored background picture from every frame, by
// subtraction or by painting what is close to it, or shows the background itself.
//
//   CLfBgErase   the filter and its window
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/scrollbar.h"

class CLfBgErase : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10015;

  CLfBgErase();
  ~CLfBgErase() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { ApplyEnableRules(); }

  // Loads the background from path (null or empty: nothing, no message).  A failed load keeps
  // the old background and shows "loading failed" in the filter's language.  1 when loaded.
  int32_t LoadBackground(const wchar_t* path);
  // The file chooser of "SEL", then the load.
  void SelectBackgroundImage();
  // Level and tile controls only in extraction.
  void ApplyEnableRules();
  int32_t EraseType() { return CFgUIChkButton::GetGroupSelection(&m_subtractRadio) == 0 ? 0 : 1; }
  int32_t TileSize() const;
  // Size of the stored background (tests); 0 x 0 when none.
  void BackgroundSize(int32_t* width, int32_t* height);

  CFgUILabel m_pathLabel;
  CFgUIEdit m_pathEdit;
  CFgUIButton m_selectButton;
  CFgUIChkButton m_subtractRadio;
  CFgUIChkButton m_extractRadio;
  CFgUILabel m_levelLabel;
  CFgUIScrollBar m_levelBar;
  CFgUILabel m_tileLabel;
  CFgUIScrollBar m_tileBar;
  CFgUIChkButton m_previewCheck;
  CFgUIChkButton m_maskCheck;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnCheck(CFgUIChkButton* button, void* user);
  static void OnSelect(CFgUIButton* button, void* user);
  static void OnBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnPathLeft(CFgUIEdit* edit, void* user);

  PlatformLock m_lock;  // after the draw lock: the background picture
  CImgBuff m_background;
  FilterLayoutItem m_layoutItems[11];
};
