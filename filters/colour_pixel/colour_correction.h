// colour_correction.h - CLfColorCorrection: six reference pairs (a standard colour and the
// colour the camera measured for it), set by clicks on the image, and the hue-sector
// correction that takes every measured colour to its standard one.
//
//   ColorPatch          one reference pair, sRGB doubles 0..1
//   CLfColorCorrection  the filter and its window of six patches
#pragma once
#include <cstdint>
#include <atomic>
#include <memory>

#include "app/filter.h"
#include "engine/colorxform.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/texture.h"

struct ColorPatch {
  double stdR, stdG, stdB;
  double imgR, imgG, imgB;
};

class CLfColorCorrection : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10026;
  static constexpr int32_t kPatches = 6;

  CLfColorCorrection();
  ~CLfColorCorrection() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  using CFilterWindow::OnLButtonDown;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;  // the image
  void OnLButtonDown(int32_t x, int32_t y) override;                 // the window
  void OnKeyStateChanged() override;
  void OnChar(wchar_t ch) override;
  void DrawOverlay() override;
  using CFilterWindow::DrawOverlay;

  // 0 (nothing changed) for a patch outside 0..5, a channel outside 0..1 (or no number) or
  // references the correction cannot use.
  int32_t SetStandardColor(int32_t patch, double r, double g, double b);
  int32_t SetMeasuredColor(int32_t patch, double r, double g, double b);
  // Every measured colour becomes its standard one; no transform.
  void ResetMeasuredColors();

  ColorPatch Patch(int32_t patch);
  int32_t Selected();
  void Select(int32_t patch);
  int32_t HasTransform();
  int32_t PickPending() const { return m_pickPending.load(); }
  uint32_t CorrectS();
  // The first pixel of a patch's standard (0) or measured (1) texture (tests).
  int32_t PatchTextureColour(int32_t patch, int32_t measured, uint8_t rgb[3]);

  static FilterWindowPlace s_classPlace;

 private:
  int32_t SetColorLocked(int32_t patch, int32_t measured, double r, double g, double b);
  // Refills the textures of the listed patches from their colours (outside the own lock).
  void RefillPatches(uint32_t mask);
  void MeasuredToStandard(int32_t patch);

  PlatformLock m_lock;  // colours, selection, correctS and the transform
  ColorPatch m_patches[kPatches];
  int32_t m_selected = -1;
  std::atomic<uint32_t> m_pickPending{0};
  std::atomic<int64_t> m_pickX{0}, m_pickY{0};
  uint32_t m_correctS = 0;
  uint32_t m_correctV = 0;
  std::shared_ptr<ColorXform> m_xform;  // a run keeps the one it started with
  CFgTexture m_stdTextures[kPatches];
  CFgTexture m_imgTextures[kPatches];
  CFgTexture* m_textures[2 * kPatches];
};
