// scrollbar.cpp - scroll bar and range bar: geometry, steps, mouse, wheel and keys, drawing.
// Inside: shared frame and arrow sheet - scroll bar geometry - scroll bar input - scroll
// bar drawing - range bar geometry - range bar input - range bar drawing
#include "toolkit/scrollbar.h"

#include <GL/gl.h>

#include <algorithm>
#include <vector>

#include "toolkit/draw.h"
#include "toolkit/texture.h"

// ---------------------------------------------------------------------------------------
// Shared frame and arrow sheet
namespace {

constexpr int kArrowCell = 32;

// One filled triangle per cell, pointing up, down, left, right; row 1 holds the same in
// grey for disabled bars. Drawn in the current colour (triple 1), so black stays black.
std::vector<uint8_t> MakeArrowPixels() {
  const int w = kArrowCell * 4, h = kArrowCell * 2;
  std::vector<uint8_t> px(size_t(w * h * 4), 0);
  for (int row = 0; row < 2; ++row) {
    uint8_t grey = row == 0 ? 0 : 150;
    for (int dir = 0; dir < 4; ++dir) {
      for (int v = 0; v < kArrowCell; ++v) {
        for (int u = 0; u < kArrowCell; ++u) {
          // Triangle pointing up in local (a across, b along) coordinates, then turned.
          int a = 0, b = 0;
          switch (dir) {
            case 0: a = u, b = v; break;                    // up
            case 1: a = u, b = kArrowCell - 1 - v; break;   // down
            case 2: a = v, b = u; break;                    // left
            default: a = v, b = kArrowCell - 1 - u; break;  // right
          }
          // Apex at b = 9, base at b = 22, half-width growing one per row.
          int inside = b >= 9 && b <= 22 && std::abs(2 * a - (kArrowCell - 1)) <= 2 * (b - 9) + 1;
          uint8_t* p = &px[size_t(((row * kArrowCell + v) * w + dir * kArrowCell + u) * 4)];
          p[0] = p[1] = p[2] = grey;
          p[3] = inside ? 255 : 0;
        }
      }
    }
  }
  return px;
}

CFgTexture* MakeArrowSheet() {
  CFgTexture* t = new CFgTexture;
  std::vector<uint8_t> px = MakeArrowPixels();
  if (!t->Create(kArrowCell, kArrowCell, 4, 2, 1, px.data())) {
    delete t;
    return nullptr;
  }
  t->m_useCurrentColor = 1;
  return t;
}

CFgTexture* g_arrowSheet = nullptr;

void UseTriple(const CFgUIObj* o, int index, double* rgb) {
  static const double kDefaults[FgColorCount][3] = {
      {0, 0, 0}, {1, 1, 1}, {0.8, 0.95, 0.95}, {0, 0, 0},
      {0, 0, 0}, {0.9, 0.9, 0.9}, {0.8, 0.95, 0.95}, {0.7, 0.7, 0.7}};
  const double* c = o->m_owner ? o->m_owner->m_colors[index] : kDefaults[index];
  rgb[0] = c[0];
  rgb[1] = c[1];
  rgb[2] = c[2];
}

void Fill(CFgScreen* s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const double* c) {
  if (x1 < x0 || y1 < y0) return;
  FgFillRect(s, int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1), c[0], c[1], c[2]);
}

// Fills along-axis range [a0, a1] across the bar's inner width.
void FillAlong(CFgScreen* s, const CFgUIObj* bar, int vertical, int64_t a0, int64_t a1,
               const double* c) {
  if (vertical)
    Fill(s, int64_t(bar->m_x) + 1, a0, int64_t(bar->m_x) + bar->m_width - 2, a1, c);
  else
    Fill(s, a0, int64_t(bar->m_y) + 1, a1, int64_t(bar->m_y) + bar->m_height - 2, c);
}

int32_t Clamp32(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// A pointer movement along the axis, held to 2^31 pixels either way: times a count of at
// most 2^32 positions it stays inside 64 bits, and such a move already reaches either end.
int64_t ClampMove(int64_t moved) {
  return std::clamp<int64_t>(moved, -(int64_t(1) << 31), int64_t(1) << 31);
}

}  // namespace

CFgTexture* FgArrowSheet() { return g_arrowSheet; }

void FgDrawBarFrame(CFgScreen* screen, CFgUIObj* bar) {
  double c[3];
  int64_t x0 = bar->m_x, y0 = bar->m_y;
  int64_t x1 = x0 + bar->m_width - 1, y1 = y0 + bar->m_height - 1;
  UseTriple(bar, FgColorBarDrawing, c);
  Fill(screen, x0, y0, x1, y1, c);
  if (bar->m_width - 2 > 2 && bar->m_height - 2 > 2) {
    int index = !bar->m_enabled ? FgColorFieldWhite
                : bar->m_focused ? FgColorFocusedFace
                                 : FgColorFace;
    UseTriple(bar, index, c);
    Fill(screen, x0 + 1, y0 + 1, x1 - 1, y1 - 1, c);
  }
}

// ---------------------------------------------------------------------------------------
// Scroll bar geometry
CFgUIScrollBar::CFgUIScrollBar() {
  // The sheet lives for the process: bars of every window share it.
  static CFgTexture* sheet = MakeArrowSheet();
  g_arrowSheet = sheet;
}

CFgUIScrollBar::~CFgUIScrollBar() = default;

int64_t CFgUIScrollBar::AxisStart() const { return m_kind == FgBarVertical ? m_y : m_x; }
int64_t CFgUIScrollBar::AxisSize() const {
  return m_kind == FgBarVertical ? m_height : m_width;
}

void CFgUIScrollBar::SetRange(int32_t minimum, int32_t maximum, int32_t page,
                              int32_t position) {
  m_minimum = minimum;
  m_maximum = maximum;
  m_page = page;
  m_position = position;
}

int32_t CFgUIScrollBar::IsValidPosition(int64_t position) const {
  return position >= m_minimum && position + m_page - 1 <= m_maximum;
}

// A = start + 1, B = start + size - 2; with B - A + 1 >= 36:
//   arrows A..A+15 and B-15..B, track A+16..B-16 of T = B - A - 31 pixels
//   thumb = max(4, page * T / R), R = maximum - minimum + 1
//   thumb start = A + 16 + (position - minimum) * (T - thumb) / N, N = free positions;
//   A + 16 when N < 1 (a page covering the whole range)
FgScrollGeometry CFgUIScrollBar::Geometry() const {
  FgScrollGeometry g;
  int64_t start = AxisStart(), size = AxisSize();
  g.innerStart = start + 1;
  g.innerEnd = start + size - 2;
  if (g.innerEnd - g.innerStart + 1 < 36) return g;
  g.valid = 1;
  g.track = g.innerEnd - g.innerStart - 31;
  int64_t range = int64_t(m_maximum) - m_minimum + 1;
  int64_t len = range > 0 ? int64_t(m_page) * g.track / range : g.track;
  g.thumbLength = std::max<int64_t>(4, len);
  g.freePositions = int64_t(m_maximum) - m_page - m_minimum + 1;
  g.thumbStart = g.innerStart + 16;
  if (g.freePositions >= 1)
    g.thumbStart += (int64_t(m_position) - m_minimum) * (g.track - g.thumbLength) /
                    g.freePositions;
  return g;
}

// ---------------------------------------------------------------------------------------
// Scroll bar input
//   press on first arrow   -> LineUp (when above the minimum)
//   press on last arrow    -> LineDown
//   press before thumb     -> PageUp;  after thumb -> PageDown
//   press on thumb         -> drag starts (capture taken when free)
//   press, bar too short   -> LineDown
//   move while dragging    -> position follows the pointer, clamped to the range
//   release                -> drag ends, capture released
void CFgUIScrollBar::MoveTo(int32_t position) {
  m_position = position;
  if (m_inCallback) return;
  m_inCallback = 1;
  if (m_callback) m_callback(this, m_user, m_position);
  m_inCallback = 0;
  if (m_owner) m_owner->Redraw();
}

int32_t CFgUIScrollBar::LineDown() {
  if (int64_t(m_position) + m_page - 1 >= m_maximum) return 0;
  MoveTo(m_position + 1);
  return 1;
}

int32_t CFgUIScrollBar::LineUp() {
  if (m_position <= m_minimum) return 0;
  MoveTo(m_position - 1);
  return 1;
}

int32_t CFgUIScrollBar::PageDown() {
  if (int64_t(m_position) + m_page - 1 >= m_maximum) return 0;
  int64_t next = int64_t(m_position) + m_page;
  int64_t last = std::max<int64_t>(int64_t(m_maximum) - m_page + 1, m_minimum);
  if (next > last) next = last;  // fewer than a page of positions remain
  MoveTo(Clamp32(next));
  return 1;
}

int32_t CFgUIScrollBar::PageUp() {
  if (m_position <= m_minimum) return 0;
  int64_t next = int64_t(m_position) - m_page;
  if (next < m_minimum) next = m_minimum;
  MoveTo(Clamp32(next));
  return 1;
}

void CFgUIScrollBar::OnLButtonDown(int32_t x, int32_t y) {
  if (m_kind != FgBarVertical && m_kind != FgBarHorizontal) return;
  FgScrollGeometry g = Geometry();
  if (!g.valid) {
    LineDown();
    return;
  }
  int64_t p = AxisStart() + (m_kind == FgBarVertical ? y : x);
  if (p <= g.innerStart + 15) {
    if (m_position > m_minimum) LineUp();
  } else if (p >= g.innerEnd - 15) {
    LineDown();
  } else if (p < g.thumbStart) {
    PageUp();
  } else if (p < g.thumbStart + g.thumbLength) {
    m_dragging = 1;
    m_dragPosition = m_position;
    m_pressX = int32_t(int64_t(m_x) + x);
    m_pressY = int32_t(int64_t(m_y) + y);
    CaptureMouse();
    if (m_owner) m_owner->Redraw();
  } else {
    PageDown();
  }
}

void CFgUIScrollBar::OnMouseMove(int32_t x, int32_t y) {
  if (!m_dragging || (m_kind != FgBarVertical && m_kind != FgBarHorizontal)) return;
  FgScrollGeometry g = Geometry();
  if (!g.valid) return;
  // A usable track or a scroll amount below one would divide by zero or move nothing.
  int64_t usable = g.track + 4 - g.thumbLength;
  if (usable < 1 || g.freePositions < 1) return;
  int64_t moved = ClampMove(m_kind == FgBarVertical ? int64_t(m_y) + y - m_pressY
                                                    : int64_t(m_x) + x - m_pressX);
  int64_t next = int64_t(m_dragPosition) + g.freePositions * moved / usable;
  if (next > int64_t(m_maximum) - m_page + 1) next = int64_t(m_maximum) - m_page + 1;
  if (next < m_minimum) next = m_minimum;
  if (next == m_position || !IsValidPosition(next)) return;
  MoveTo(int32_t(next));
}

void CFgUIScrollBar::OnLButtonUp(int32_t, int32_t) {
  m_dragging = 0;
  ReleaseMouse();
}

void CFgUIScrollBar::OnMouseWheel(int32_t, int32_t, int32_t notches) {
  if (m_kind != FgBarVertical && m_kind != FgBarHorizontal) return;
  int64_t delta = int64_t(notches) * m_wheelStep;
  int64_t next = m_position;
  if (delta < 0 && m_position > m_minimum) {
    next = std::max<int64_t>(m_position + delta, m_minimum);
  } else if (delta > 0 && int64_t(m_position) + m_page - 1 < m_maximum) {
    next = m_position + delta;
    if (next + m_page - 1 > m_maximum) next = int64_t(m_maximum) - m_page + 1;
  }
  if (next == m_position || !IsValidPosition(next)) return;
  MoveTo(int32_t(next));
}

void CFgUIScrollBar::OnKeyStateChanged() {
  uint16_t f = GetKeyFlags();
  int shift = (f & FgKeyShift) != 0;
  if ((m_kind == FgBarVertical && (f & FgKeyDown)) ||
      (m_kind == FgBarHorizontal && (f & FgKeyRight))) {
    if (shift)
      PageDown();
    else
      LineDown();
  } else if ((m_kind == FgBarVertical && (f & FgKeyUp)) ||
             (m_kind == FgBarHorizontal && (f & FgKeyLeft))) {
    if (shift)
      PageUp();
    else
      LineUp();
  }
}

void CFgUIScrollBar::OnSpecialKeyRepeat() { OnKeyStateChanged(); }

// ---------------------------------------------------------------------------------------
// Scroll bar drawing
void CFgUIScrollBar::Draw(CFgScreen* screen, CFgFont*) {
  if (!screen) return;
  FgDrawBarFrame(screen, this);
  if (m_kind != FgBarVertical && m_kind != FgBarHorizontal) return;
  FgScrollGeometry g = Geometry();
  if (!g.valid) return;
  int vertical = m_kind == FgBarVertical;
  double c[3] = {m_barColor[0], m_barColor[1], m_barColor[2]};
  if (!m_enabled) UseTriple(this, FgColorFace, c);
  int64_t trackStart = g.innerStart + 16, trackEnd = g.innerEnd - 16;
  // The thumb keeps the frame's inner colour; only the track around it is painted.
  FillAlong(screen, this, vertical, trackStart, std::min(g.thumbStart - 1, trackEnd), c);
  FillAlong(screen, this, vertical, std::max(g.thumbStart + g.thumbLength, trackStart),
            trackEnd, c);

  CFgTexture* sheet = g_arrowSheet;
  if (!sheet) return;
  double white[3];
  UseTriple(this, FgColorFieldWhite, white);
  glColor3d(white[0], white[1], white[2]);
  if (!sheet->AttachToScreen(screen)) return;
  uint64_t first = vertical ? 0 : 2;
  if (!m_enabled) first += 4;
  double across0 = vertical ? m_x + 1 : m_y + 1;
  double acrossLen = double(vertical ? m_width - 2 : m_height - 2);
  if (vertical) {
    sheet->DrawCell(across0, double(g.innerStart), acrossLen, 16, first);
    sheet->DrawCell(across0, double(g.innerEnd - 15), acrossLen, 16, first + 1);
  } else {
    sheet->DrawCell(double(g.innerStart), across0, 16, acrossLen, first);
    sheet->DrawCell(double(g.innerEnd - 15), across0, 16, acrossLen, first + 1);
  }
  // Unbound again so the next window can take the sheet.
  sheet->ReleaseGL();
}

// ---------------------------------------------------------------------------------------
// Range bar geometry
CFgUIRangeBar::CFgUIRangeBar() = default;
CFgUIRangeBar::~CFgUIRangeBar() = default;

int32_t CFgUIRangeBar::IsValid(int64_t low, int64_t high) const {
  return m_minimum <= low && low <= high && high <= m_maximum;
}

// P(v) = start + 8 + (v - minimum) * (n - 17) / (maximum - minimum); the grips sit at
// P(low) - 7 .. P(low) - 1 and P(high) + 1 .. P(high) + 7, the span between them. An
// empty range (maximum = minimum) puts every value at the scale's start.
int64_t CFgUIRangeBar::ValuePos(const FgRangeGeometry& g, int64_t value) const {
  int64_t span = int64_t(m_maximum) - m_minimum;
  if (span <= 0) return g.start + 8;
  return g.start + 8 + (value - m_minimum) * (g.size - 17) / span;
}

FgRangeGeometry CFgUIRangeBar::Geometry() const {
  FgRangeGeometry g;
  g.start = m_kind == FgBarVertical ? m_y : m_x;
  g.size = m_kind == FgBarVertical ? m_height : m_width;
  if (g.size - 2 < 15) return g;
  g.valid = 1;
  g.lowPos = ValuePos(g, m_low);
  g.highPos = ValuePos(g, m_high);
  return g;
}

// ---------------------------------------------------------------------------------------
// Range bar input
//   press on low grip / span / high grip (tested in that order) -> drag mode 1 / 2 / 3
//   move: delta = (max - min + 1) * moved / (n - 16); 0 or the last applied delta: nothing
//     mode 1 low = press low + delta in min..high;  mode 3 high in low..max
//     mode 2 both by delta, cut so the span stays inside min..max
//   wheel: before P(low) the low, after P(high) the high, between both (span kept)
//   keys: Down/Right +1, Up/Left -1; Shift only high, Ctrl only low, else both
void CFgUIRangeBar::Apply(int32_t low, int32_t high) {
  m_low = low;
  m_high = high;
  if (m_inCallback) return;
  m_inCallback = 1;
  if (m_callback) m_callback(this, m_user, m_low, m_high);
  m_inCallback = 0;
  if (m_owner) m_owner->Redraw();
}

void CFgUIRangeBar::OnLButtonDown(int32_t x, int32_t y) {
  if (m_dragMode || (m_kind != FgBarVertical && m_kind != FgBarHorizontal)) return;
  FgRangeGeometry g = Geometry();
  if (!g.valid) return;
  int64_t p = g.start + (m_kind == FgBarVertical ? y : x);
  int32_t mode = 0;
  if (p >= g.lowPos - 7 && p <= g.lowPos - 1)
    mode = 1;
  else if (p >= g.lowPos && p <= g.highPos)
    mode = 2;
  else if (p >= g.highPos + 1 && p <= g.highPos + 7)
    mode = 3;
  if (!mode) return;
  m_dragMode = mode;
  m_lastDelta = 0;
  m_pressLow = m_low;
  m_pressHigh = m_high;
  m_pressX = int32_t(int64_t(m_x) + x);
  m_pressY = int32_t(int64_t(m_y) + y);
  CaptureMouse();
}

void CFgUIRangeBar::OnMouseMove(int32_t x, int32_t y) {
  if (!m_dragMode) return;
  FgRangeGeometry g = Geometry();
  if (!g.valid) return;
  int64_t moved = ClampMove(m_kind == FgBarVertical ? int64_t(m_y) + y - m_pressY
                                                    : int64_t(m_x) + x - m_pressX);
  int64_t delta = (int64_t(m_maximum) - m_minimum + 1) * moved / (g.size - 16);
  if (delta == 0) return;
  int64_t low = m_low, high = m_high;
  if (m_dragMode == 1) {
    low = std::clamp<int64_t>(int64_t(m_pressLow) + delta, m_minimum,
                              std::max<int64_t>(m_high, m_minimum));
  } else if (m_dragMode == 3) {
    high = std::clamp<int64_t>(int64_t(m_pressHigh) + delta,
                               std::min<int64_t>(m_low, m_maximum), m_maximum);
  } else {
    if (delta < 0 && int64_t(m_pressLow) + delta < m_minimum)
      delta = int64_t(m_minimum) - m_pressLow;
    if (delta > 0 && int64_t(m_pressHigh) + delta > m_maximum)
      delta = int64_t(m_maximum) - m_pressHigh;
    low = int64_t(m_pressLow) + delta;
    high = int64_t(m_pressHigh) + delta;
  }
  if (delta == m_lastDelta) return;
  if (!IsValid(low, high)) return;
  m_lastDelta = Clamp32(delta);
  if (low == m_low && high == m_high) return;
  Apply(int32_t(low), int32_t(high));
}

void CFgUIRangeBar::OnLButtonUp(int32_t, int32_t) {
  m_dragMode = 0;
  ReleaseMouse();
}

void CFgUIRangeBar::OnMouseWheel(int32_t x, int32_t y, int32_t notches) {
  if (m_dragMode || (m_kind != FgBarVertical && m_kind != FgBarHorizontal)) return;
  FgRangeGeometry g = Geometry();
  if (!g.valid) return;
  int64_t delta = int64_t(notches) * m_wheelStep;
  int64_t p = g.start + (m_kind == FgBarVertical ? y : x);
  int64_t low = m_low, high = m_high;
  if (p < g.lowPos) {
    low = std::clamp<int64_t>(low + delta, m_minimum, std::max<int64_t>(high, m_minimum));
  } else if (p > g.highPos) {
    high = std::clamp<int64_t>(high + delta, std::min<int64_t>(low, m_maximum), m_maximum);
  } else {
    if (low + delta < m_minimum) delta = m_minimum - low;
    if (high + delta > m_maximum) delta = m_maximum - high;
    low += delta;
    high += delta;
  }
  if ((low == m_low && high == m_high) || !IsValid(low, high)) return;
  Apply(int32_t(low), int32_t(high));
}

void CFgUIRangeBar::OnKeyStateChanged() {
  uint16_t f = GetKeyFlags();
  int step = 0;
  if ((m_kind == FgBarVertical && (f & FgKeyDown)) ||
      (m_kind == FgBarHorizontal && (f & FgKeyRight)))
    step = 1;
  else if ((m_kind == FgBarVertical && (f & FgKeyUp)) ||
           (m_kind == FgBarHorizontal && (f & FgKeyLeft)))
    step = -1;
  if (!step) return;
  int64_t low = m_low, high = m_high;
  if (f & FgKeyShift)
    high += step;
  else if (f & FgKeyCtrl)
    low += step;
  else if ((step < 0 && low > m_minimum) || (step > 0 && high < m_maximum)) {
    low += step;
    high += step;
  }
  if ((low == m_low && high == m_high) || !IsValid(low, high)) return;
  Apply(int32_t(low), int32_t(high));
}

void CFgUIRangeBar::OnSpecialKeyRepeat() { OnKeyStateChanged(); }

// ---------------------------------------------------------------------------------------
// Range bar drawing
void CFgUIRangeBar::Draw(CFgScreen* screen, CFgFont*) {
  if (!screen) return;
  FgDrawBarFrame(screen, this);
  if (m_kind != FgBarVertical && m_kind != FgBarHorizontal) return;
  FgRangeGeometry g = Geometry();
  if (!g.valid) return;
  int vertical = m_kind == FgBarVertical;
  double c[3] = {m_gripColor[0], m_gripColor[1], m_gripColor[2]};
  if (!m_enabled) UseTriple(this, FgColorFace, c);
  int64_t inner0 = g.start + 1, inner1 = g.start + g.size - 2;
  FillAlong(screen, this, vertical, inner0, std::min(g.lowPos - 8, inner1), c);
  FillAlong(screen, this, vertical, std::max(g.highPos + 8, inner0), inner1, c);
  FillAlong(screen, this, vertical, g.lowPos - 1, g.lowPos - 1, c);
  FillAlong(screen, this, vertical, g.highPos + 1, g.highPos + 1, c);
  if (m_highlight) FillAlong(screen, this, vertical, g.lowPos, g.highPos, m_highlightColor);
}
