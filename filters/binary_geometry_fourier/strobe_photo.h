// strobe_photo.h - CLfStrobePhoto, "Strobe photo": one still picture in which the moving
// objects of every scene stand together on one background.  The background is restored
// from the scenes, or set from a captured scene or the last run's background with an object
// mask painted in 4 x 4 blocks on the main view; the result is previewed, saved or opened.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "app/scenewalk.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/picture.h"
#include "toolkit/scrollbar.h"
#include "toolkit/texture.h"

class CLfStrobePhoto : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10031;

  CLfStrobePhoto();
  ~CLfStrobePhoto() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void EnableDialog(int32_t enable) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  int32_t OnClose() override;
  void OnEnableAll() override;
  void OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                       uint64_t sceneCount) override;
  void DrawOverlay() override { CFgUIDialog::DrawOverlay(); }
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void OnMouseMove(int32_t x, int32_t y) override { CFgUIDialog::OnMouseMove(x, y); }
  void OnMouseMove(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonDown(x, y); }
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonUp(x, y); }
  void OnLButtonUp(int64_t x, int64_t y, uint8_t flags) override;
  void LoadParams(CCfgPack* pack) override;

  // Enabled states from busy, mask editing and "set bg image"; redraw.
  void RefreshDialog();
  void OnCurrentFrame();
  void OnCurrentBg();
  void OnMaskStart();
  void OnMaskEnd();
  void OnMaskClear();
  void OnThresholdChanged();
  // EXEC; during a run (the button then reads CANCEL) it only cancels.
  void Execute();
  void OnOpenResult();
  void SaveImage();

  // The colour distance of the next run: (bar position + 3) x 16.
  int32_t Threshold() const { return (m_extract.m_position + 3) * 16; }
  int32_t Busy() const { return m_walk.Busy(); }
  int32_t MaskEditing() const { return m_maskEdit.load(); }
  // Copies under the draw lock (empty pictures stay empty).
  void CopyBackground(CImgBuff* out);
  void CopyMask(CImgBuff* out);
  void CopyComposite(CImgBuff* out);
  void CopyLastBackground(CImgBuff* out);

  // Averages every masked pixel's 8-bit R, G, B with a checkerboard of 4 x 4 cells drawn
  // from the guide colour; rows in parallel.
  static void ShadeMask(CImgBuff* frame, const CImgBuff& mask, const double guide[3]);

  CFgUIPicture m_preview;
  CFgUIChkButton m_setBg;
  CFgUIButton m_currentFrame, m_currentBg;
  CFgUILabel m_maskLabel;
  CFgUIButton m_start, m_end, m_cls;
  CFgUIScrollBar m_extract;
  CFgUILabel m_extractLabel;
  CFgUIButton m_exec, m_open, m_save;
  CSceneWalk m_walk;  // busy and cancel flags and the capture picture
  static FilterWindowPlace s_classPlace;

 private:
  int32_t Message(const wchar_t* ja, const wchar_t* en, int32_t error, int32_t kind);
  CFgScreen* Parent();
  // Shows picture in the preview (UI thread).
  void ShowPreview(const CImgBuff& picture);

  // Pictures and drag state change under the draw lock, which Process holds while it
  // shades and DrawOverlay while it draws.
  CImgBuff m_mask, m_background, m_composite, m_lastBackground;
  std::atomic<int32_t> m_dragging{0};
  std::atomic<int32_t> m_maskEdit{0};
  int32_t m_dragStartX = 0, m_dragStartY = 0, m_dragX = 0, m_dragY = 0;
  uint64_t m_knownWidth = 0, m_knownHeight = 0;
  CFgTexture m_previewTexture;
  FilterLayoutItem m_layoutItems[13];
};
