// wave_filter.h - CLfWave, the colour filter of one wave length: a picture seen through an
// optical filter in colour or in gray, or a gray picture's brightness corrected by a gain
// taken from the filter's colour.
//
//   CLfWave         the filter and its settings window
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/tab.h"
#include "toolkit/texture.h"
#include "toolkit/uiobj.h"

class CLfWave : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10029;
  struct Settings {
    double waveLength = 0;
    double gain = 0;
    double r = 0, g = 0, b = 0, luma = 0;  // the filter colour and its luma
    int32_t filterMode = 0;                // 0 off, 1 color image, 2 gray image; -1 none
    int32_t gainMode = 0;                  // 0 off, 1 normalize, 2 raw, 3 free; -1 none
    uint32_t inverse = 0;
  };

  CLfWave();
  ~CLfWave() override;

  // ---- filter slots ------------------------------------------------------------------------
  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // ---- window slots ------------------------------------------------------------------------
  void OnEnableAll() override;
  void DrawOverlay() override;
  using CFilterWindow::DrawOverlay;

  Settings GetSettings() const { return m_settings.Snapshot(); }
  uint32_t ColourInput() const { return m_colourInput.load(); }
  // The swatch's first pixel as 8-bit RGB (tests).
  void SwatchColour(uint8_t rgb[3]);

  CFgUILabel m_waveLabel, m_nmLabel;
  CFgUIEdit m_waveEdit, m_gainEdit;
  CFgUIButton m_waveButton[3];  // "R", "G", "B"
  CFgUIGroup m_filterGroup, m_gainGroup;
  CFgUIChkButton m_filterRadio[3];
  CFgUIChkButton m_gainRadio[4];
  CFgUIChkButton m_inverseBox;
  CFgUIButton m_gainButton[4];  // "R STR", "G STR", "B STR", "BRIGHT"
  static FilterWindowPlace s_classPlace;

 private:
  static void OnWaveLengthEdited(CFgUIEdit* edit, void* user);
  static void OnGainEdited(CFgUIEdit* edit, void* user);
  static void OnWaveButton(CFgUIButton* button, void* user);
  static void OnGainButton(CFgUIButton* button, void* user);
  static void OnModeChanged(CFgUIChkButton* button, void* user);
  static void OnInverse(CFgUIChkButton* button, void* user);

  // Enables the controls by the modes and the last picture; windowEnabled counts the window
  // as enabled although EnableAll has not finished yet.
  void RefreshDialog(int32_t windowEnabled);
  void SetWaveLength(double nm);
  void UpdateWaveSwatch();
  void SetEditValue(CFgUIEdit* edit, double value);

  CFilterSettings<Settings> m_settings;
  std::atomic<uint32_t> m_colourInput{0};
  std::atomic<uint32_t> m_updating{0};
  CFgTexture m_swatch;
  FilterLayoutItem m_layoutItems[22];
  CFgTexture* m_textures[1] = {&m_swatch};
};
