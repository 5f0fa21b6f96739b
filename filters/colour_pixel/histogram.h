// histogram.h - CLfHistogram, the live histogram of the chain rectangle and the linear stretch
// of a chosen level range to the full sample range; a click on the histogram fits the range
// to the levels that occur, a second click resets it.
//
//   HistogramCounts       the counts of one frame: colour flag, largest shown count, bins
//   DrawHistogramPicture  the 256 x 100 histogram picture of counts, range and view
//   CLfHistogram          the filter and its settings window
#pragma once
#include <cstdint>
#include <memory>

#include "app/filter.h"
#include "core/imgbuff.h"
#include "engine/levels.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/scrollbar.h"
#include "toolkit/texture.h"

struct HistogramCounts {
  uint32_t colour = 0;    // 1 for colour pictures: three arrays (R, G, B), else one (gray)
  uint64_t maxCount = 0;  // largest count of levels 1 to 254 over the arrays in use
  uint64_t bins[3][256] = {};
};

// Gray: 8-bit gray picture; colour: R, G, B bars in their own channel, so overlaps mix.
// Bars are 255 inside [min, max] and 127 outside, at most 99 rows; disabled: black becomes 64.
int32_t DrawHistogramPicture(const HistogramCounts& counts, uint64_t min, uint64_t max,
                             uint64_t view, int32_t enabled, CImgBuff* out);

class CLfHistogram : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10006;
  static constexpr int32_t kAreaX0 = 10, kAreaY0 = 10, kAreaX1 = 265, kAreaY1 = 109;
  struct Settings {
    uint64_t min = 0, max = 255, view = 10000;
    uint32_t fit = 0;
    // Replaced whole on a range change; a run keeps the table it started with alive.
    std::shared_ptr<const LevelLut> table;
  };

  CLfHistogram();

  const wchar_t* GetName(const wchar_t* language) override;
  void OnEnable(int32_t enabled) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // The click rule inside the histogram area; other clicks go to the controls.
  using CFilterWindow::DrawOverlay;
  using CFilterWindow::OnLButtonDown;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void DrawOverlay() override;

  Settings GetSettings() const { return m_settings.Snapshot(); }
  HistogramCounts GetCounts();
  // The histogram picture as last drawn (a copy).
  void CopyPicture(CImgBuff* out);

  CFgUIRangeBar m_rangeBar;
  CFgUIScrollBar m_viewBar;
  CFgTexture m_texture;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnRange(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);
  static void OnView(CFgUIScrollBar* bar, void* user, int32_t position);
  // Sets the range bar to (low, high) and runs its callback unless one is running.
  void MoveRangeBar(int32_t low, int32_t high);
  void RebuildTable();
  // Under the draw lock and m_lock.
  void RedrawPicture();

  CFilterSettings<Settings> m_settings;
  PlatformLock m_lock;  // after the draw lock: counts and picture
  HistogramCounts m_counts;
  CImgBuff m_picture;
  CFgTexture* m_textures[1] = {&m_texture};
  FilterLayoutItem m_layoutItems[2];
};
