// select.h - CLfSelect, the component selection: a grid of radio buttons, one per colour
// component, and a "CMYK" box; in the chain it only sets the component the later filters
// work on.
//
//   SelectComponentCode  the ComponentCode of a radio index and the "CMYK" state
//   CLfSelect            the filter and its settings window
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/uiobj.h"

constexpr int32_t kSelectButtonCount = 19;
constexpr int32_t kSelectIndexK = 10;

// Index 0 to 18 to code: C, M, Y (7 to 9) of the four-colour model with cmyk; K and every
// index after it 3 further on.
uint32_t SelectComponentCode(int32_t sel, uint32_t cmyk);

class CLfSelect : public CImgFilter, public CFgUIDialog {
 public:
  static constexpr uint32_t kFilterId = 10018;
  struct Settings {
    uint32_t cmyk = 0;
    int32_t sel = 0;
  };

  CLfSelect();

  // ---- filter slots ------------------------------------------------------------------------
  const wchar_t* GetName(const wchar_t* language) override;
  int32_t HasDialog() override { return 1; }
  void EnableDialog(int32_t enable) override { FilterDialogEnable(this, enable); }
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y, int64_t* width,
                    int64_t* height, uint32_t* connectivity, uint32_t* background,
                    uint32_t* component, uint32_t* depth) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // ---- window slots ------------------------------------------------------------------------
  int32_t OnClose() override { return FilterDialogClose(this, this); }
  void OnEnableAll() override { ApplyEnableRules(); }
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
  // The code ProcessChain hands on.
  uint32_t CurrentCode() const;

  CFgUIChkButton m_radio[kSelectButtonCount];  // index 0 "ALL" leads the group
  CFgUIChkButton m_cmykBox;
  FilterWindowPlace m_place;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnCmyk(CFgUIChkButton* button, void* user);
  // "CMYK" disabled while "K" is selected; "K" enabled only with cmyk set.
  void ApplyEnableRules();

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[kSelectButtonCount + 1];
  FilterLayout m_layout;
};
