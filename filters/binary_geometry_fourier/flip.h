// flip.h - CLfFlip, the flip of the chain rectangle: left to right, top to bottom, or both
// (a half turn), chosen by two check boxes in its window.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/uiobj.h"

class CLfFlip : public CImgFilter, public CFgUIDialog {
 public:
  static constexpr uint32_t kFilterId = 10040;
  struct Settings {
    uint32_t flipH = 0;  // each row mirrored
    uint32_t flipV = 0;  // the order of the rows reversed
  };

  CLfFlip();

  // ---- filter slots ------------------------------------------------------------------------
  const wchar_t* GetName(const wchar_t* language) override;
  int32_t HasDialog() override { return 1; }
  void EnableDialog(int32_t enable) override { FilterDialogEnable(this, enable); }
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // ---- window slots ------------------------------------------------------------------------
  int32_t OnClose() override { return FilterDialogClose(this, this); }
  // Both bases name these; each keeps its own body.
  void DrawOverlay() override { CFgUIDialog::DrawOverlay(); }
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override {
    CImgFilter::DrawOverlay(toGlX, toGlY, screen, font, viewX0, viewY0, viewX1, viewY1,
                            imageX0, imageY0, imageX1, imageY1, zoom);
  }
  void OnMouseMove(int32_t x, int32_t y) override { CFgUIDialog::OnMouseMove(x, y); }
  void OnMouseMove(int64_t x, int64_t y, uint8_t f) override { CImgFilter::OnMouseMove(x, y, f); }
  void OnLButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonDown(x, y); }
  void OnLButtonDown(int64_t x, int64_t y, uint8_t f) override {
    CImgFilter::OnLButtonDown(x, y, f);
  }
  void OnLButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonUp(x, y); }
  void OnLButtonUp(int64_t x, int64_t y, uint8_t f) override { CImgFilter::OnLButtonUp(x, y, f); }
  void OnRButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonDown(x, y); }
  void OnRButtonDown(int64_t x, int64_t y, uint8_t f) override {
    CImgFilter::OnRButtonDown(x, y, f);
  }
  void OnRButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonUp(x, y); }
  void OnRButtonUp(int64_t x, int64_t y, uint8_t f) override { CImgFilter::OnRButtonUp(x, y, f); }

  Settings GetSettings() const { return m_settings.Snapshot(); }
  // Places and labels the boxes for language.
  void LayOut(const wchar_t* language);

  CFgUIChkButton m_mirrorBox;   // flip_h
  CFgUIChkButton m_reverseBox;  // flip_v
  FilterWindowPlace m_place;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnBox(CFgUIChkButton* button, void* user);

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[2];
  FilterLayout m_layout;
};
