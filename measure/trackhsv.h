// trackhsv.h - the colour tracker of the 2D tracker and its settings panel.
//
//   ColourWindow  hue centre and half width, saturation and value ranges (16-bit HSV)
//   CTrackHSV     a target that finds itself: binarises the crop of its box by its colour
//                 window and the tracker's binary settings, takes one island's centre of
//                 gravity; paints its preview into the crop
//   CPanelHSV     the colour panel: four bars, picking on the picture ("color set" starts
//                 anew, "color add" widens, the right button undoes), "OPTION"
//
// Threads: Locate runs on the UI thread inside a run; DrawPreview and CPanelHSV::OnProcess
// on the filter worker inside the owner's Process; everything else of the panel on the UI
// thread.  The six values of a target and of the panel change under a lock of their own,
// so a reader always sees one whole window, never half an old and half a new one.
#pragma once
#include <cstdint>

#include "measure/track.h"
#include "platform/thread.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/scrollbar.h"
#include "toolkit/uiobj.h"

struct ColourWindow {
  uint16_t hue = 0;
  uint16_t halfWidth = 32768;  // 32768 admits every hue
  uint16_t satLow = 0, satHigh = 65535;
  uint16_t valLow = 0, valHigh = 65535;
};

// Whether a pixel of 16-bit HSV lies in the window (the hue window may cross 0).
bool ColourWindowContains(const ColourWindow& window, uint16_t h, uint16_t s, uint16_t v);

// Blends pixel (x, y) of picture half and half with the 4 x 4 checkerboard of the tint
// colour anchored at the picture's top-left corner; c is the pixel's 8-bit colour.
void TintPixel(CImgBuff* picture, int32_t x, int32_t y, const uint8_t c[3], const uint8_t tint[3]);
// The raw window preview: every pixel outside the window gets its own colour (its HSV back
// to RGB, high bytes) blended with the tint; pixels inside stay.
void TintOutsideWindow(CImgBuff* picture, const ColourWindow& window, const uint8_t tint[3]);

class CTrackHSV : public CTrack {
 public:
  // Kind 2, the whole-range window.
  CTrackHSV();
  ~CTrackHSV() override;

  void DrawPreview(CImgBuff* crop) override;
  // Binarises the crop in place and answers the chosen island's centre of gravity.
  int32_t Locate(CImgBuff* crop, double* x, double* y) override;
  void Reserved() override {}
  // A colour tracker with the same window, so a split track keeps its colour.
  CTrack* Clone() const override;

  ColourWindow GetWindow() const;
  void SetWindow(const ColourWindow& window);
  // The binarisation steps on the whole crop: objects black, the rest white.  0 when the
  // window is refused (the crop then unchanged).
  int32_t Binarize(CImgBuff* crop, const ColourWindow& window, const TrackBinarySettings& settings) const;

 protected:
  CTrackHSV(const CTrackHSV& other);

 private:
  // The owner's settings, or the defaults for a target that has none.
  TrackBinarySettings Settings() const;

  mutable PlatformLock m_lock;  // the six values
  ColourWindow m_window;
};

class CPanelHSV;
typedef void (*PanelChangeFn)(void* user, CPanelHSV* panel);

class CPanelHSV : public CTrackPanel {
 public:
  CPanelHSV();
  ~CPanelHSV() override;

  // Remembers the host window and appends the controls to it: "OPTION", the four labels,
  // the hue, width, saturation and value bars, "color set", "color add".
  void Attach(CFgUIDialog* host);

  void DrawPreview(CImgBuff* picture) override;
  void Build(int32_t show, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const wchar_t* language) override;
  CTrack* CreateTrack() override;
  void LoadFromTrack(CTrack* target) override;
  void StoreToTrack(CTrack* target) override;
  void ResetPicking() override;
  int32_t OnProcess(CImgBuff* picture, uint64_t frame, uint64_t x, uint64_t y, uint64_t w, uint64_t h,
                    int32_t connectivity, int32_t background) override;
  int32_t OnLButtonDown(int32_t x, int32_t y, uint32_t flags) override;
  int32_t OnLButtonUp(int32_t x, int32_t y) override;
  int32_t OnRButtonDown(int32_t x, int32_t y) override;
  int32_t OnRButtonUp(int32_t x, int32_t y) override;

  int32_t Picking() const { return m_setBox.m_checked || m_addBox.m_checked; }
  ColourWindow GetWindow() const;
  uint64_t UndoCount() const { return m_undoCount; }

  // ---- set by the owner ------------------------------------------------------------------
  PanelChangeFn m_onChange = nullptr;
  void* m_changeUser = nullptr;
  CTrackCtrl* m_owner = nullptr;
  uint8_t m_tint[3] = {255, 255, 255};
  CFgUIDialog* m_host = nullptr;

  // ---- picking ---------------------------------------------------------------------------
  uint32_t m_pickPending = 0;
  uint32_t m_pickMode = 0;  // 0 set, 1 add
  int64_t m_pickX = 0, m_pickY = 0;

  // ---- controls --------------------------------------------------------------------------
  CFgUILabel m_hueLabel, m_widthLabel, m_satLabel, m_valLabel;
  CFgUIScrollBar m_hueBar, m_widthBar;
  CFgUIRangeBar m_satBar, m_valBar;
  CFgUIButton m_option;
  CFgUIChkButton m_setBox, m_addBox;

 private:
  void SetWindowValues(const ColourWindow& window);
  // Each bar to its value when it fits.
  void MoveBars(const ColourWindow& window);
  void PushUndo(const ColourWindow& window);
  int32_t PopUndo(ColourWindow* window);
  void ClearUndo();
  void RedrawHost();
  void Changed();
  // A bar moved: picking ends (the undo list stays).
  void EndPickingByBar();
  // Right button: the last window back; 0 when the panel took the event.
  int32_t Undo(int32_t moveBars);

  static void OnHueBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnWidthBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnSatBar(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);
  static void OnValBar(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);
  static void OnSetBox(CFgUIChkButton* box, void* user);
  static void OnAddBox(CFgUIChkButton* box, void* user);
  static void OnOption(CFgUIButton* button, void* user);

  mutable PlatformLock m_lock;  // the six values
  ColourWindow m_window;
  ColourWindow* m_undo = nullptr;  // owned, grows by one per push
  uint64_t m_undoCount = 0;
};
