// white_balance.h - CLfWhiteBalance: removes a colour cast by moving a reference colour onto
// the gray axis; the reference comes from three bars, a click on the image or "auto".
//
//   WhiteBarPosition  the bar position of a reference component
//   CLfWhiteBalance   the filter and its settings window
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "engine/colorxform.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/button.h"
#include "toolkit/scrollbar.h"
#include "toolkit/texture.h"

// 255 - (trunc(c x 4294967295) shifted right by 24): 1.0 is the left end.
int32_t WhiteBarPosition(double c);

class CLfWhiteBalance : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10025;

  CLfWhiteBalance();
  ~CLfWhiteBalance() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  using CFilterWindow::OnLButtonDown;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void DrawOverlay() override;
  using CFilterWindow::DrawOverlay;

  // 0 (nothing changed) for a component outside 0 to 1 (or not a number) or a transform
  // that cannot be built; r = g = b needs none.  Moves the bars and refills the swatch.
  int32_t SetGains(double r, double g, double b);
  // Reference white, no transform, bars at the left end, white swatch.
  void ResetGains();
  void GetGains(double* r, double* g, double* b, int32_t* hasTransform);
  // The swatch's first pixel as 8-bit RGB (tests).
  void SwatchColour(uint8_t rgb[3]);

  CFgUIButton m_autoButton, m_initButton;
  CFgUIScrollBar m_bar[3];
  static FilterWindowPlace s_classPlace;

 private:
  static void OnAuto(CFgUIButton* button, void* user);
  static void OnInit(CFgUIButton* button, void* user);
  static void OnBarChanged(CFgUIScrollBar* bar, void* user, int32_t position);
  void UpdateSwatch(double r, double g, double b);

  PlatformLock m_lock;  // after the draw lock: reference colour, transform, bars
  double m_ref[3] = {1, 1, 1};
  ColorXform* m_xform = nullptr;
  std::atomic<uint32_t> m_clickPending{0};
  std::atomic<int64_t> m_clickX{0}, m_clickY{0};
  std::atomic<uint32_t> m_autoPending{0};
  CFgTexture m_swatch;
  FilterLayoutItem m_layoutItems[5];
  CFgTexture* m_textures[1] = {&m_swatch};
};
