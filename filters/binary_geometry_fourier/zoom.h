// zoom.h - CLfAtrans ("Zoom"): the user draws a rectangle of the picture's proportions with
// the mouse, moves and turns it, and "set" shows it enlarged and upright over the whole
// picture, optionally mirrored.
//
//   LineAngleDeg, LineAngleRad   direction of a line, exact on the axes
//   ZoomTransform                centre, angle and scale of a committed diagonal
//   ComputeTransform             a diagonal's transform for a picture size, or a refusal
//   ZoomCorners                  the four corners of the rectangle with diagonal P0-P1
//   ZoomOverlayPoints            the corners in view pixels for the overlay
//   CLfAtrans                    the filter, its window and its mouse editing
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"

// +90 / -90 degrees on a vertical line (by the sign of yb - ya), 0 / 180 on a horizontal
// one, else atan2(yb - ya, xb - xa).  Picture y grows downwards.
double LineAngleDeg(double xa, double ya, double xb, double yb);
double LineAngleRad(double xa, double ya, double xb, double yb);

struct ZoomTransform {
  int32_t cx = 0, cy = 0;
  double angle = 0;  // degrees
  double scale = 0;  // 0: none yet (the engine refuses it)
};

// 0, nothing written, for a zero width or height, a diagonal of one point or one shorter
// than 22.6 pixels; else 1 with the centre (middle of the diagonal, toward zero), the angle
// between the picture's diagonal and this one, and the scale that maps it onto the picture's.
// Squares and the centre are worked out in 64 bits.
int32_t ComputeTransform(uint64_t width, uint64_t height, int32_t x0, int32_t y0, int32_t x1,
                         int32_t y1, ZoomTransform* out);

// corners[0] = P0, corners[2] = P1; 1 and 3 complete the rectangle whose sides keep the
// proportions (width - 1) : (height - 1).  Coordinates saturate at 32 bits.
void ZoomCorners(uint64_t width, uint64_t height, int32_t p0x, int32_t p0y, int32_t p1x,
                 int32_t p1y, int32_t corners[4][2]);

// The four corners (picture pixels) as view pixels, in loop order.  An unturned rectangle
// (corners 1 and 2 on one row) maps as the process rectangle's outline does for the zoom
// code; a turned one scales every corner by view extent / picture extent per axis (with one
// picture column or row shown, (view extent + 1) / (picture extent + 1)).
void ZoomOverlayPoints(const int32_t corners[4][2], int32_t viewX0, int32_t viewY0,
                       int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                       int32_t imageX1, int32_t imageY1, int32_t zoom, int32_t out[4][2]);

class CLfAtrans : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10008;
  enum : uint32_t { DragNone = 0, DragKept = 1, DragFree = 2, DragMove = 3, DragRotate = 4 };
  // What Process and the overlay read; written under the lock.
  struct State {
    uint32_t enable = 0;               // a committed diagonal is applied
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // committed diagonal
    uint64_t transformWidth = 0, transformHeight = 0;
    ZoomTransform transform;
    uint32_t mirror = 0;
    uint32_t inputPhase = 1;           // the "input area" box
    uint32_t areaShown = 0;            // a working rectangle exists
    int32_t p0[2] = {0, 0}, p1[2] = {0, 0};
    int32_t corners[4][2] = {};
  };

  CLfAtrans();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  using CFilterWindow::DrawOverlay;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override;
  using CFilterWindow::OnLButtonDown;
  using CFilterWindow::OnLButtonUp;
  using CFilterWindow::OnMouseMove;
  using CFilterWindow::OnRButtonDown;
  using CFilterWindow::OnRButtonUp;
  void OnMouseMove(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnLButtonUp(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonUp(int64_t x, int64_t y, uint8_t flags) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { UpdateButton(); }

  State GetState() const;
  void LayOut(const wchar_t* language);
  // "set": commits the working diagonal when the input phase is on and the diagonal gives a
  // transform; a refused one commits nothing and the input phase stays.
  void Commit();

  CFgUIChkButton m_mirrorBox, m_inputBox;
  CFgUIButton m_setButton;
  static FilterWindowPlace s_classPlace;

  // Drag state (UI thread only).
  uint32_t m_dragMode = DragNone;
  int64_t m_pressX = 0, m_pressY = 0;
  int32_t m_savedP0[2] = {0, 0}, m_savedP1[2] = {0, 0};
  int32_t m_rotationCentre[2] = {0, 0};
  double m_rotationStart = 0;

 private:
  static void OnMirror(CFgUIChkButton* box, void* user);
  static void OnInput(CFgUIChkButton* box, void* user);
  static void OnSet(CFgUIButton* button, void* user);
  void UpdateButton();
  // Under the lock: the working rectangle's corners for the source size.
  void UpdateCorners();
  void SetWorking(int32_t p0x, int32_t p0y, int32_t p1x, int32_t p1y);
  void RedrawHost();

  mutable PlatformLock m_lock;
  State m_state;
  FilterLayoutItem m_layoutItems[3];
};
