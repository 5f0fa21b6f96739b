// mask.h - CLfMask: subtracts a mask picture, loaded from an image file, from every frame
// inside the chain rectangle, channel by channel on the 16-bit scale and never below 0;
// outside the mask picture a default value (0 or the maximum) stands in.  The preview shows
// the mask itself.  Made only from filter lists (no menu command).
//
//   MaskApply           the frame loop: row kernels over the pool for frames of formats 1 to 6
//   MaskApplyReference  the same through the pixel accessors (every format; the tests' measure)
//   CLfMask             the filter, its window and its settings
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "app/filter.h"
#include "engine/frame.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/button.h"

class CImgBuff;

// roi already inside frame; mask may be null or empty (every pixel outside it).
void MaskApply(CImgBuff* frame, const CImgBuff* mask, uint32_t preview, uint16_t defaultMask,
               const RoiRect& roi);
void MaskApplyReference(CImgBuff* frame, const CImgBuff* mask, uint32_t preview,
                        uint16_t defaultMask, const RoiRect& roi);

class CLfMask : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10014;

  CLfMask();

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { ApplyEnableRule(); }

  // Decodes the first frame of the file into a new picture; only a good decode replaces the
  // mask and the path.  1 or 0.
  int32_t LoadMaskImage(const wchar_t* path);
  // The "image load" button's work after the chooser: load, then preview on, then the frame.
  void LoadFromButton(const wchar_t* path);

  uint32_t GetPreview();
  uint16_t GetDefaultMask();
  std::wstring GetPath();
  // The mask a run would use (null without one).
  std::shared_ptr<const CImgBuff> GetMask();

  CFgUIChkButton m_previewBox;
  CFgUIChkButton m_outOfRangeBox;
  CFgUIButton m_loadButton;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnPreview(CFgUIChkButton* box, void* user);
  static void OnOutOfRange(CFgUIChkButton* box, void* user);
  static void OnLoad(CFgUIButton* button, void* user);
  void ApplyEnableRule();
  void LoadFailed();

  PlatformLock m_lock;  // mask, path and the two settings; never held across a request
  uint32_t m_preview = 1;
  uint16_t m_defaultMask = 65535;
  std::shared_ptr<const CImgBuff> m_mask;  // a run holds its own reference
  std::wstring m_path;                     // kept whole, whatever its length
  FilterLayoutItem m_layoutItems[3];
};
