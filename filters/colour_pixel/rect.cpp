// rect.cpp - CLfRect: the process rectangle drawn and moved with the mouse, handed on as the
// chain rectangle, outlined over the view.
// Inside: name - chain - mouse - overlay - settings
//
// Mouse events and results (points inside the image; moves only while a button is held):
//   left down, no drag          drag 1; anchor = last = point; rect = point, 1 x 1; set 1;
//                               frame processed (waits)
//   right down, no drag, set,   drag 2; move origin = rect corner; anchor = last = point
//     point inside the rect
//   right down otherwise        nothing
//   move, drag 0 or same point  nothing
//   move, drag 1                rect spans anchor and point; frame processed (waits)
//   move, drag 2                rect moved by point - anchor, kept on the source;
//                               frame processed (waits)
//   left or right up            drag 0
#include "filters/colour_pixel/rect.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "app/cfgfile.h"
#include "core/imgbuff.h"

const wchar_t* CLfRect::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x51E6\x7406\x9818\x57DF" : L"Process rect";  // "処理領域"
}

// ---------------------------------------------------------------------------------------
// Chain
void CLfRect::ProcessChain(CImgBuff* picture, uint64_t, int64_t* x, int64_t* y, int64_t* width,
                           int64_t* height, uint32_t*, uint32_t*, uint32_t*, uint32_t*) {
  Rect r = m_rect.Snapshot();
  if (r.set) {
    *x = int64_t(r.x);
    *y = int64_t(r.y);
    *width = int64_t(r.w);
    *height = int64_t(r.h);
  } else if (picture && picture->Format() >= 1 && picture->Format() <= 9) {
    // A later rectangle filter without a rectangle gives the later filters the whole picture.
    *x = 0;
    *y = 0;
    *width = int64_t(picture->Width());
    *height = int64_t(picture->Height());
  }
}

// ---------------------------------------------------------------------------------------
// Mouse
void CLfRect::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  if (m_dragMode) return;
  m_dragMode = 1;
  m_anchorX = m_lastX = x;
  m_anchorY = m_lastY = y;
  m_rect.Update([&](Rect& r) { r = Rect{1, uint64_t(x), uint64_t(y), 1, 1}; });
  RequestIfEnabled(this, 0);
}

void CLfRect::OnRButtonDown(int64_t x, int64_t y, uint8_t) {
  Rect r = m_rect.Snapshot();
  if (!r.set || m_dragMode) return;
  uint64_t ux = uint64_t(x), uy = uint64_t(y);
  if (!(r.x <= ux && ux < r.x + r.w && r.y <= uy && uy < r.y + r.h)) return;
  m_dragMode = 2;
  m_originX = int64_t(r.x);
  m_originY = int64_t(r.y);
  m_anchorX = m_lastX = x;
  m_anchorY = m_lastY = y;
}

namespace {

// The move of one axis: offset from the press, not past 0, and the far edge on the last
// pixel of the source; the second clamp wins for a rectangle wider than the source, and the
// result is then raised to 0 instead of wrapping to a huge unsigned corner.
uint64_t MovedCorner(int64_t origin, int64_t point, int64_t anchor, uint64_t length,
                     uint64_t sourceLength) {
  int64_t d = int32_t(uint32_t(point) - uint32_t(anchor));  // signed 32-bit offset
  if (-d > origin) d = -origin;
  __int128 far = __int128(origin) + __int128(length) - 1 + d;
  if (far >= __int128(sourceLength))
    d = int64_t(__int128(sourceLength) - __int128(length) - origin);
  int64_t moved = origin + d;
  return moved < 0 ? 0 : uint64_t(moved);
}

}  // namespace

void CLfRect::OnMouseMove(int64_t x, int64_t y, uint8_t) {
  if (!m_dragMode || (x == m_lastX && y == m_lastY)) return;
  m_lastX = x;
  m_lastY = y;
  if (m_dragMode == 1) {
    uint64_t ax = uint64_t(m_anchorX), ay = uint64_t(m_anchorY);
    uint64_t px = uint64_t(x), py = uint64_t(y);
    m_rect.Update([&](Rect& r) {
      r.x = std::min(ax, px);
      r.w = std::max(ax, px) - r.x + 1;
      r.y = std::min(ay, py);
      r.h = std::max(ay, py) - r.y + 1;
    });
  } else {
    m_rect.Update([&](Rect& r) {
      r.x = MovedCorner(m_originX, x, m_anchorX, r.w, m_sourceWidth);
      r.y = MovedCorner(m_originY, y, m_anchorY, r.h, m_sourceHeight);
    });
  }
  RequestIfEnabled(this, 0);
}

void CLfRect::ButtonUp() { m_dragMode = 0; }
void CLfRect::OnLButtonUp(int64_t, int64_t, uint8_t) { ButtonUp(); }
void CLfRect::OnRButtonUp(int64_t, int64_t, uint8_t) { ButtonUp(); }

// ---------------------------------------------------------------------------------------
// Overlay
void RectOverlayCorners(int64_t x, int64_t y, int64_t w, int64_t h, int32_t viewX0,
                        int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0,
                        int32_t imageY0, int32_t imageX1, int32_t imageY1, int32_t zoom,
                        int32_t* a, int32_t* b, int32_t* c, int32_t* d) {
  // Wrapping 32-bit arithmetic as the view works in; a hostile rectangle draws somewhere
  // wrong, never undefined behaviour.
  auto i32 = [](uint64_t v) { return int32_t(uint32_t(v)); };
  auto add = [](int32_t p, int32_t q) { return int32_t(uint32_t(p) + uint32_t(q)); };
  auto mul = [](int32_t p, int32_t q) { return int32_t(uint32_t(p) * uint32_t(q)); };
  auto scaled = [](int32_t v, double s) {
    double t = std::trunc(v * s);
    if (!(t > -2147483649.0 && t < 2147483648.0)) return t > 0 ? INT32_MAX : INT32_MIN;
    return int32_t(t);
  };
  int32_t pa = i32(uint64_t(x) - uint64_t(int64_t(imageX0)));
  int32_t pb = i32(uint64_t(y) - uint64_t(int64_t(imageY0)));
  int32_t pc = add(pa, i32(uint64_t(w) - 1));
  int32_t pd = add(pb, i32(uint64_t(h) - 1));
  if (zoom == 0 || zoom == -1) {
    double sx = double(int64_t(viewX1) - viewX0 + 1) / double(int64_t(imageX1) - imageX0 + 1);
    double sy = double(int64_t(viewY1) - viewY0 + 1) / double(int64_t(imageY1) - imageY0 + 1);
    if (sx >= 2.0) pc = add(pc, 1);
    if (sy >= 2.0) pd = add(pd, 1);
    pa = scaled(pa, sx);
    pc = scaled(pc, sx);
    pb = scaled(pb, sy);
    pd = scaled(pd, sy);
  } else if (zoom >= 2) {
    pa = mul(pa, zoom);
    pb = mul(pb, zoom);
    pc = add(mul(add(pc, 1), zoom), -1);
    pd = add(mul(add(pd, 1), zoom), -1);
  } else if (zoom <= -2) {
    // zoom is at most -2, so INT32_MIN / zoom cannot overflow.
    int32_t k = int32_t(0u - uint32_t(zoom));
    pa /= k;
    pb /= k;
    pc /= k;
    pd /= k;
  }
  *a = add(pa, viewX0);
  *b = add(pb, viewY0);
  *c = add(pc, viewX0);
  *d = add(pd, viewY0);
}

void CLfRect::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*,
                          int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                          int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                          int32_t zoom) {
  Rect r = m_rect.Snapshot();
  if (!r.set || !toGlX || !toGlY) return;
  int32_t a, b, c, d;
  RectOverlayCorners(int64_t(r.x), int64_t(r.y), int64_t(r.w), int64_t(r.h), viewX0, viewY0,
                     viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom, &a, &b, &c, &d);
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  glBegin(GL_POINTS);
  glVertex2d(toGlX(a), toGlY(b));
  glEnd();
  glBegin(GL_LINE_LOOP);
  glVertex2d(toGlX(a), toGlY(b));
  glVertex2d(toGlX(c), toGlY(b));
  glVertex2d(toGlX(c), toGlY(d));
  glVertex2d(toGlX(a), toGlY(d));
  glEnd();
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfRect::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  Rect r = m_rect.Snapshot();
  PackWriteFlag(pack, L"set", r.set);
  PackWriteUnsigned(pack, L"x", r.x);
  PackWriteUnsigned(pack, L"y", r.y);
  PackWriteUnsigned(pack, L"w", r.w);
  PackWriteUnsigned(pack, L"h", r.h);
}

void CLfRect::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  // Reading stops at the first missing key, and the corners this call read go back to 0
  // (stored filter lists rely on it); "set" is read only after all four.  A value that does
  // not fit 32 bits is refused and the current one kept.
  Rect r = m_rect.Snapshot();
  uint64_t* fields[4] = {&r.x, &r.y, &r.w, &r.h};
  const wchar_t* keys[4] = {L"x", L"y", L"w", L"h"};
  int32_t all = 1;
  for (int i = 0; i < 4 && all; ++i) {
    int32_t found = 0;
    PackReadUnsigned(pack, keys[i], UINT32_MAX, fields[i], &found);
    if (!found) {
      for (int j = 0; j < i; ++j) *fields[j] = 0;
      all = 0;
    }
  }
  if (all) PackReadFlag(pack, L"set", &r.set, nullptr);
  m_rect.Update([&](Rect& stored) { stored = r; });
}
