// rect.h - CLfRect, the process rectangle: the user drags a rectangle on the image view, and
// every later filter of the chain works inside it.  No window, no pixel changed.
//
//   RectOverlayCorners  the outline's corners in view pixels for a zoom code
//   CLfRect             the filter: mouse drawing and moving, the chain rectangle, overlay
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"

// The corners a, b (top-left) and c, d (bottom-right) of the rectangle x, y, w, h in view
// pixels, in signed 32-bit arithmetic: fit modes (0, -1) scale, growing the far corner by
// one where the scale is 2 or more; k >= 2 encloses the whole enlarged last pixel; k <= -2
// divides.
void RectOverlayCorners(int64_t x, int64_t y, int64_t w, int64_t h, int32_t viewX0,
                        int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0,
                        int32_t imageY0, int32_t imageX1, int32_t imageY1, int32_t zoom,
                        int32_t* a, int32_t* b, int32_t* c, int32_t* d);

class CLfRect : public CImgFilter {
 public:
  static constexpr uint32_t kFilterId = 10000;
  struct Rect {
    uint32_t set = 0;
    uint64_t x = 0, y = 0, w = 0, h = 0;
  };

  const wchar_t* GetName(const wchar_t* language) override;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override;
  void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y, int64_t* width,
                    int64_t* height, uint32_t* connectivity, uint32_t* background,
                    uint32_t* component, uint32_t* depth) override;
  void OnMouseMove(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonUp(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonUp(int64_t x, int64_t y, uint8_t flags) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // The rectangle as the worker and the overlay see it.
  Rect GetRect() const { return m_rect.Snapshot(); }

  // Drag state, UI thread only: 0 none, 1 drawing (left), 2 moving (right).
  uint32_t m_dragMode = 0;
  int64_t m_originX = 0, m_originY = 0;
  int64_t m_anchorX = 0, m_anchorY = 0;
  int64_t m_lastX = 0, m_lastY = 0;

 private:
  void ButtonUp();
  // The rectangle is read by the worker and the drawing thread while the UI thread drags it.
  CFilterSettings<Rect> m_rect;
};
