// extract.h - CLfExtract, colour extraction: keeps the pixels of the chain rectangle whose
// colour lies inside a window of hue, saturation and value (set by bars or picked from the
// image, picks undone by the right button), or shows the selection as a tinted preview.
//
//   ExtractRange           the six window values on the 16-bit HSV scale
//   ExtractPreviewTint     the light and dark checkerboard tint of a guide colour
//   CLfExtract             the filter and its settings window
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "core/imgbuff.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/scrollbar.h"

struct ExtractRange {
  uint16_t hue = 0;           // centre of the hue window
  uint16_t halfWidth = 32768; // 32768 admits every hue
  uint16_t satLow = 0, satHigh = 65535;
  uint16_t valLow = 0, valHigh = 65535;
  bool operator==(const ExtractRange& o) const {
    return hue == o.hue && halfWidth == o.halfWidth && satLow == o.satLow &&
           satHigh == o.satHigh && valLow == o.valLow && valHigh == o.valHigh;
  }
};

// Per channel: a non-zero component gives 192 (light) and 64 (dark), a zero one 0 and 0;
// all three zero give 127 and 0 everywhere.
void ExtractPreviewTint(const uint8_t tint[3], uint8_t light[3], uint8_t dark[3]);

// The job of CLfExtract::PreviewRows.
struct ExtractPreviewJob {
  CImgBuff* picture;
  const CImgBuff* mask;
  int32_t x0, y0, x1, y1;
  uint8_t light[3], dark[3];
};

class CLfExtract : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10002;
  enum : uint32_t { PickNone = 0, PickSet = 1, PickAdd = 2 };

  CLfExtract();
  ~CLfExtract() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void OnOverlayColorChanged(double red, double green, double blue) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  using CFilterWindow::OnLButtonDown;
  using CFilterWindow::OnRButtonDown;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { UpdateControls(); }

  // Stores the window, moves the bars that can show it, then asks for the frame without
  // waiting and redraws.
  void SetRange(const ExtractRange& range);
  // The enable rule: the hue, tolerance and saturation bars only while gray is off.
  void UpdateControls();
  // Places and labels the controls for language.
  void LayOut(const wchar_t* language);
  // The preview's row worker (an ExtractPreviewJob), one ParallelFor item per row y0 + i of
  // the normalised rectangle: a pixel whose mask pixel reads 8-bit gray 0 becomes (c + t) / 2
  // per 8-bit channel, t from the 4 x 4 cell checkerboard anchored at (x0, y0) (light where
  // the cell indexes add up to an even number).
  static void PreviewRows(void* job, uint64_t first, uint64_t count);

  ExtractRange GetRange();
  uint32_t GetPickMode();
  uint64_t GetUndoCount();
  void GetTint(uint8_t out[3]);

  CFgUILabel m_labels[4];  // hue, tolerance, saturation, bright
  CFgUIChkButton m_reverseBox, m_fillBox, m_grayBox;
  CFgUIScrollBar m_toleranceBar, m_hueBar;
  CFgUIRangeBar m_satBar, m_valBar;
  CFgUIChkButton m_pickSetBox, m_pickAddBox, m_previewBox;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnFlagBox(CFgUIChkButton* box, void* user);
  static void OnPickSetBox(CFgUIChkButton* box, void* user);
  static void OnPickAddBox(CFgUIChkButton* box, void* user);
  static void OnPreviewBox(CFgUIChkButton* box, void* user);
  static void OnScrollBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnRangeBar(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);
  // A bar moved by the user: picking ends and its undo list is forgotten.
  void BarMoved(const ExtractRange& range);
  // Under the lock: the bars moved to the range where it fits them (fields only, so that
  // their callbacks, which end picking, do not run).
  void MoveBars(const ExtractRange& range);
  void PushUndo(const ExtractRange& range);
  void ClearUndo();
  // On the worker, both locks held: the 5 x 5 sample around the pick point.
  void RunPick(const CImgBuff* picture);
  void SetTintFromGuide();

  PlatformLock m_lock;  // after the draw lock: range, pick state, undo list, tint
  ExtractRange m_range;
  ExtractRange* m_undo = nullptr;
  uint64_t m_undoCount = 0;
  uint32_t m_pickMode = PickNone;
  uint32_t m_pickPending = 0;
  int64_t m_pickX = 0, m_pickY = 0;
  uint8_t m_tint[3] = {255, 0, 0};
  CImgBuff m_mask;  // the preview's selection, kept between frames (worker, under the lock)
  std::atomic<uint32_t> m_reverse{0}, m_fill{0}, m_gray{0}, m_preview{0};
  FilterLayoutItem m_layoutItems[14];
};
