// freq_mask.h - CLfFreqMask, the frequency mask between FFT and IFFT: clears a ring of
// radius indexes (0 near the zero frequency, 179 at the corners) in the newest transform on
// the spectrum stack, or everything outside it, and blackens the cleared part of the shown
// spectrum.
//
//   FreqMaskRadiusIndex  the radius index of coefficient (x, y) of an N x N spectrum
//   CLfFreqMask          the filter and its window (a "revers" box and a two-thumb bar)
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/scrollbar.h"

// trunc(d x 179 / rmax + 0.5), d the distance of (x, y) from ((N - 1) / 2, (N - 1) / 2) and
// rmax that of the corner.
int32_t FreqMaskRadiusIndex(int32_t side, int32_t x, int32_t y);

class CLfFreqMask : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10038;
  struct Settings {
    uint32_t revers = 0;    // clear outside the range instead of inside
    int32_t rangeMin = 179;
    int32_t rangeMax = 179;
  };

  CLfFreqMask();
  ~CLfFreqMask() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  Settings GetSettings() const { return m_settings.Snapshot(); }

  CFgUIChkButton m_reversBox;
  CFgUIRangeBar m_rangeBar;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnBox(CFgUIChkButton* box, void* user);
  static void OnBar(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);
  // Copies the box and the bar into the settings, redraws, asks for the frame (waits).
  void Changed();

  CFilterSettings<Settings> m_settings;
  FilterLayoutItem m_layoutItems[2];
};
