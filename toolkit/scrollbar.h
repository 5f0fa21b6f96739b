// scrollbar.h - the two bar widgets: a classic scroll bar and a two-grip range bar.
//
//   CFgUIScrollBar   arrows, track and thumb over an integer range with a page size; used
//                    stand-alone as a value slider and inside the picture view, tables, lists
//   CFgUIRangeBar    a low..high interval inside a range: two grips and a draggable span
//   FgScrollGeometry / FgRangeGeometry   where the parts of a bar lie along its axis
//
// Both share the frame (triple 3 outline, triple 5 inside, 6 focused, 1 disabled) and the
// orientation rule: kind 1 vertical (y, height), kind 2 horizontal (x, width); any other
// kind draws only the frame and ignores input. Both notify through one callback; while it
// runs the widget's in-callback flag is set, and changes made meanwhile update the values
// but neither call back again nor redraw.
#pragma once

#include <cstdint>

#include "toolkit/uiobj.h"

class CFgTexture;
class CFgUIScrollBar;
class CFgUIRangeBar;

typedef void (*FgScrollBarCallback)(CFgUIScrollBar* bar, void* user, int32_t position);
typedef void (*FgRangeBarCallback)(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);

enum : int32_t { FgBarVertical = 1, FgBarHorizontal = 2 };

// Scroll bar parts along the axis, in window pixels. valid is 0 when the inner length is
// below 36 (then only the frame is drawn and every press steps forward).
struct FgScrollGeometry {
  int32_t valid = 0;
  int64_t innerStart = 0, innerEnd = 0;  // A, B
  int64_t track = 0;                     // T = B - A - 31, from A + 16 to B - 16
  int64_t thumbLength = 0;
  int64_t freePositions = 0;             // N = maximum - page - minimum + 1
  int64_t thumbStart = 0;
};

// Range bar value positions along the axis; valid is 0 when the inner length is below 15.
struct FgRangeGeometry {
  int32_t valid = 0;
  int64_t start = 0, size = 0;
  int64_t lowPos = 0, highPos = 0;  // P(low), P(high)
};

class CFgUIScrollBar : public CFgUIObj {
 public:
  CFgUIScrollBar();
  ~CFgUIScrollBar() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void Draw(CFgScreen* screen, CFgFont* font) override;

  // Steps: 0 when nothing could move; else the position moves, the callback runs once and
  // the container redraws.
  int32_t LineDown();
  int32_t LineUp();
  int32_t PageDown();
  int32_t PageUp();

  // Sets minimum, maximum, page and position together (no callback, no redraw).
  void SetRange(int32_t minimum, int32_t maximum, int32_t page, int32_t position);
  int32_t IsValidPosition(int64_t position) const;
  FgScrollGeometry Geometry() const;
  // Stores position and, unless a callback is running, reports it and redraws the
  // container (how every move made by the bar or its owner ends).
  void MoveTo(int32_t position);

  FgScrollBarCallback m_callback = nullptr;
  void* m_user = nullptr;
  int32_t m_kind = 0;
  int32_t m_minimum = 0, m_maximum = 0, m_page = 1, m_position = 0;
  int32_t m_wheelStep = 1;
  int32_t m_dragging = 0, m_dragPosition = 0, m_pressX = 0, m_pressY = 0;
  double m_barColor[3] = {0.7, 0.7, 0.7};

 private:
  int64_t AxisStart() const;
  int64_t AxisSize() const;
};

class CFgUIRangeBar : public CFgUIObj {
 public:
  CFgUIRangeBar();
  ~CFgUIRangeBar() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void Draw(CFgScreen* screen, CFgFont* font) override;

  int32_t IsValid(int64_t low, int64_t high) const;
  FgRangeGeometry Geometry() const;
  // Value position P(v): grips sit relative to the minimum.
  int64_t ValuePos(const FgRangeGeometry& g, int64_t value) const;

  FgRangeBarCallback m_callback = nullptr;
  void* m_user = nullptr;
  int32_t m_kind = 0;
  int32_t m_minimum = 0, m_maximum = 0, m_low = 0, m_high = 0;
  int32_t m_wheelStep = 1;
  int32_t m_dragMode = 0;  // 0 none, 1 low grip, 2 span, 3 high grip
  int32_t m_lastDelta = 0;
  int32_t m_pressLow = 0, m_pressHigh = 0, m_pressX = 0, m_pressY = 0;
  int32_t m_highlight = 0;
  double m_highlightColor[3] = {0, 0, 0};
  double m_gripColor[3] = {0.7, 0.7, 0.7};

 private:
  void Apply(int32_t low, int32_t high);
};

// Draws the frame shared by both bars (triple 3 outline; inside triple 5, 6 when focused,
// 1 when disabled). Inside a drawing section.
void FgDrawBarFrame(CFgScreen* screen, CFgUIObj* bar);

// The process-wide arrow sheet (4 x 2 cells of 32 x 32 RGBA: up, down, left, right, then
// the same greyed); made with the first scroll bar, null when that failed.
CFgTexture* FgArrowSheet();
