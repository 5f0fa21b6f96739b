// zoom.cpp - CLfAtrans ("Zoom"): the transform of a committed diagonal, the working rectangle
// edited with the mouse and drawn over the view, the window and its settings.
// Inside: geometry - window - mouse - processing - overlay - settings
//
// Mouse in the input phase ("input area" ticked; picture pixels; flags bit 0 Shift):
//   left press                P0 = P1 = point; Shift: free diagonal (mode 2), else one of
//                             the picture's proportions growing to the lower right (mode 1)
//   right press in the circle move (mode 3), with Shift turn about the centre (mode 4);
//   through the corners       outside it nothing
//   move in modes 1 to 4      the working diagonal follows; corners; the view redrawn
//   left / right release      ends modes 1, 2 / 3, 4
// Controls:
//   "mirror"        mirror stored; frame processed (waits)
//   "input area"    ticked: the committed diagonal becomes the working one (or none);
//                   then the button rule, redraw, frame (waits)
//   "set"           the working diagonal committed when it gives a transform (else nothing);
//                   input area unticked, button rule, redraw, frame (waits)
#include "filters/binary_geometry_fourier/zoom.h"

#include <GL/gl.h>

#include <cmath>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "engine/rotate_scale.h"
#include "filters/colour_pixel/rect.h"

FilterWindowPlace CLfAtrans::s_classPlace;

// ---------------------------------------------------------------------------------------
// Geometry
namespace {

constexpr double kPi = 3.14159265358979323846;

int32_t Saturate(double v) {
  if (!(v > -2147483649.0)) return INT32_MIN;  // NaN too
  if (!(v < 2147483648.0)) return INT32_MAX;
  return int32_t(v);
}

// rot(phi) of (u, v), each coordinate truncated toward zero.
void Rotate(double u, double v, double phi, double* outU, double* outV) {
  *outU = std::trunc(u * std::cos(phi) - v * std::sin(phi));
  *outV = std::trunc(v * std::cos(phi) + u * std::sin(phi));
}

}  // namespace

double LineAngleRad(double xa, double ya, double xb, double yb) {
  if (xb == xa) return yb >= ya ? kPi / 2 : -kPi / 2;
  if (yb == ya) return xb > xa ? 0.0 : kPi;
  return std::atan2(yb - ya, xb - xa);
}

double LineAngleDeg(double xa, double ya, double xb, double yb) {
  if (xb == xa) return yb >= ya ? 90.0 : -90.0;
  if (yb == ya) return xb > xa ? 0.0 : 180.0;
  return std::atan2(yb - ya, xb - xa) * 180.0 / kPi;
}

int32_t ComputeTransform(uint64_t width, uint64_t height, int32_t x0, int32_t y0, int32_t x1,
                         int32_t y1, ZoomTransform* out) {
  if (!out || width == 0 || height == 0) return 0;
  if (x0 == x1 && y0 == y1) return 0;
  // Differences in 64 bits and squares in doubles: "0,0,40000,40000" from a list overflows
  // 32 bits, and a diagonal across the whole 32-bit range overflows even 64.
  const int64_t dx = int64_t(x1) - x0, dy = int64_t(y1) - y0;
  const double length = std::sqrt(double(dx) * double(dx) + double(dy) * double(dy));
  if (length < 22.6) return 0;
  const double w = double(width), h = double(height);
  out->scale = std::sqrt(w * w + h * h) / length;
  out->angle = LineAngleDeg(0, 0, w - 1, h - 1) - LineAngleDeg(x0, y0, x1, y1);
  out->cx = int32_t((int64_t(x0) + x1) / 2);
  out->cy = int32_t((int64_t(y0) + y1) / 2);
  return 1;
}

void ZoomCorners(uint64_t width, uint64_t height, int32_t p0x, int32_t p0y, int32_t p1x,
                 int32_t p1y, int32_t corners[4][2]) {
  const double theta = LineAngleRad(0, 0, double(width) - 1, double(height) - 1);
  const double dx = double(p1x) - p0x, dy = double(p1y) - p0y;
  double u, v;
  corners[0][0] = p0x;
  corners[0][1] = p0y;
  corners[2][0] = p1x;
  corners[2][1] = p1y;
  Rotate(std::cos(theta) * dx, std::cos(theta) * dy, -theta, &u, &v);
  corners[1][0] = Saturate(p0x + u);
  corners[1][1] = Saturate(p0y + v);
  Rotate(std::sin(theta) * dx, std::sin(theta) * dy, kPi / 2 - theta, &u, &v);
  corners[3][0] = Saturate(p0x + u);
  corners[3][1] = Saturate(p0y + v);
}

void ZoomOverlayPoints(const int32_t corners[4][2], int32_t viewX0, int32_t viewY0,
                       int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                       int32_t imageX1, int32_t imageY1, int32_t zoom, int32_t out[4][2]) {
  if (corners[0][1] == corners[1][1]) {
    // Not turned: the outline of corners 1 and 3 as the process rectangle draws its own.
    int32_t a, b, c, d;
    RectOverlayCorners(corners[0][0], corners[0][1], int64_t(corners[2][0]) - corners[0][0] + 1,
                       int64_t(corners[2][1]) - corners[0][1] + 1, viewX0, viewY0, viewX1,
                       viewY1, imageX0, imageY0, imageX1, imageY1, zoom, &a, &b, &c, &d);
    const int32_t loop[4][2] = {{a, b}, {c, b}, {c, d}, {a, d}};
    for (int i = 0; i < 4; ++i) out[i][0] = loop[i][0], out[i][1] = loop[i][1];
    return;
  }
  // Turned: each corner scaled by view extent / picture extent.  With one picture column
  // (or row) shown that extent is 0; that axis then uses (view extent + 1) / (picture
  // extent + 1) as the unturned rule does, instead of a division by zero.
  const double pw = double(int64_t(imageX1) - imageX0), ph = double(int64_t(imageY1) - imageY0);
  const double vw = double(int64_t(viewX1) - viewX0), vh = double(int64_t(viewY1) - viewY0);
  const double sx = pw != 0 ? vw / pw : (vw + 1) / (pw + 1);
  const double sy = ph != 0 ? vh / ph : (vh + 1) / (ph + 1);
  for (int i = 0; i < 4; ++i) {
    out[i][0] = Saturate(double(viewX0) + std::trunc((double(corners[i][0]) - imageX0) * sx));
    out[i][1] = Saturate(double(viewY0) + std::trunc((double(corners[i][1]) - imageY0) * sy));
  }
}

// ---------------------------------------------------------------------------------------
// Window
CLfAtrans::CLfAtrans() : CFilterWindow(&s_classPlace) {
  m_layoutItems[0] = {&m_mirrorBox, L"mirror", L"\u93E1\u50CF", 10, 10, 10, 10, 85, 20};  // 鏡像
  // "領域指定"
  m_layoutItems[1] = {&m_inputBox, L"input area", L"\u9818\u57DF\u6307\u5B9A", 10, 40, 10, 40,
                      120, 20};
  m_layoutItems[2] = {&m_setButton, L"set", L"\u6C7A\u5B9A", 10, 70, 10, 70, 210, 30};  // 決定
  AddChild(&m_mirrorBox);
  AddChild(&m_inputBox);
  AddChild(&m_setButton);
  m_mirrorBox.m_callback = &CLfAtrans::OnMirror;
  m_mirrorBox.m_user = this;
  m_inputBox.m_callback = &CLfAtrans::OnInput;
  m_inputBox.m_user = this;
  m_inputBox.m_checked = 1;
  m_setButton.m_callback = &CLfAtrans::OnSet;
  m_setButton.m_user = this;
  m_layout = {m_layoutItems, 3, 230, 110, 230, 110, nullptr, 0};
  LayOut(m_language);
  UpdateButton();
}

void CLfAtrans::LayOut(const wchar_t* language) {
  ApplyFilterLayout(m_layout, language, nullptr, nullptr);
  if (IsJapanese(language)) m_inputBox.SetRect(10, 40, 85, 20);
}

const wchar_t* CLfAtrans::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\u90E8\u5206\u62E1\u5927" : L"Zoom";  // "部分拡大"
}

void CLfAtrans::ShowDialog(int32_t show, CFgScreen* parent) {
  CFilterWindow::ShowDialog(show, parent);
  if (show) {
    LayOut(m_language);
    CFgUICtrl::Redraw();
  }
}

CLfAtrans::State CLfAtrans::GetState() const {
  PlatformLockHold own(m_lock);
  return m_state;
}

void CLfAtrans::UpdateButton() { SetControlEnabled(&m_setButton, m_inputBox.m_checked ? 1 : 0); }

void CLfAtrans::UpdateCorners() {
  ZoomCorners(m_sourceWidth, m_sourceHeight, m_state.p0[0], m_state.p0[1], m_state.p1[0],
              m_state.p1[1], m_state.corners);
}

void CLfAtrans::SetWorking(int32_t p0x, int32_t p0y, int32_t p1x, int32_t p1y) {
  PlatformLockHold own(m_lock);
  m_state.p0[0] = p0x;
  m_state.p0[1] = p0y;
  m_state.p1[0] = p1x;
  m_state.p1[1] = p1y;
  UpdateCorners();
}

void CLfAtrans::RedrawHost() {
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfAtrans::OnMirror(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfAtrans*>(user);
  {
    PlatformLockHold own(self->m_lock);
    self->m_state.mirror = box->m_checked ? 1 : 0;
  }
  RequestIfEnabled(self, 0);
}

void CLfAtrans::OnInput(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfAtrans*>(user);
  {
    PlatformLockHold own(self->m_lock);
    State& s = self->m_state;
    s.inputPhase = box->m_checked ? 1 : 0;
    if (box->m_checked) {
      if (s.enable) {
        s.areaShown = 1;
        s.p0[0] = s.x0;
        s.p0[1] = s.y0;
        s.p1[0] = s.x1;
        s.p1[1] = s.y1;
        self->UpdateCorners();
      } else {
        s.areaShown = 0;
      }
    }
  }
  self->UpdateButton();
  FilterDialogChanged(self, self, 0);
}

void CLfAtrans::OnSet(CFgUIButton*, void* user) { static_cast<CLfAtrans*>(user)->Commit(); }

void CLfAtrans::Commit() {
  if (!m_inputBox.m_checked) return;
  {
    PlatformLockHold own(m_lock);
    State& s = m_state;
    ZoomTransform t = s.transform;
    // A diagonal the transform refuses is not committed: the zoom shown and the saved
    // "diagonal" would no longer belong together.
    if (!ComputeTransform(m_sourceWidth, m_sourceHeight, s.p0[0], s.p0[1], s.p1[0], s.p1[1],
                          &t))
      return;
    s.x0 = s.p0[0];
    s.y0 = s.p0[1];
    s.x1 = s.p1[0];
    s.y1 = s.p1[1];
    s.transformWidth = m_sourceWidth;
    s.transformHeight = m_sourceHeight;
    s.transform = t;
    s.enable = 1;
    s.inputPhase = 0;
  }
  m_dragMode = DragNone;
  m_inputBox.m_checked = 0;
  UpdateButton();
  FilterDialogChanged(this, this, 0);
}

// ---------------------------------------------------------------------------------------
// Mouse
void CLfAtrans::OnLButtonDown(int64_t x, int64_t y, uint8_t flags) {
  if (m_dragMode != DragNone || !m_inputBox.m_checked) return;
  m_pressX = x;
  m_pressY = y;
  const int32_t px = int32_t(x), py = int32_t(y);  // picture points fit 32 bits
  {
    PlatformLockHold own(m_lock);
    m_state.areaShown = 1;
  }
  SetWorking(px, py, px, py);
  if (flags & 1) {
    m_dragMode = DragFree;
  } else {
    m_dragMode = DragKept;
    m_savedP0[0] = m_savedP1[0] = px;
    m_savedP0[1] = m_savedP1[1] = py;
  }
  RedrawHost();
}

void CLfAtrans::OnRButtonDown(int64_t x, int64_t y, uint8_t flags) {
  State s = GetState();
  if (m_dragMode != DragNone || !s.areaShown) return;
  const int64_t cx = (int64_t(s.p0[0]) + s.p1[0]) / 2, cy = (int64_t(s.p0[1]) + s.p1[1]) / 2;
  const double toPress = std::hypot(double(x - cx), double(y - cy));
  const double toCorner = std::hypot(double(s.p0[0] - cx), double(s.p0[1] - cy));
  if (toPress > toCorner) return;  // outside the circle through the corners
  m_pressX = x;
  m_pressY = y;
  for (int i = 0; i < 2; ++i) {
    m_savedP0[i] = s.p0[i];
    m_savedP1[i] = s.p1[i];
  }
  if (flags & 1) {
    m_rotationCentre[0] = int32_t(cx);
    m_rotationCentre[1] = int32_t(cy);
    m_rotationStart = LineAngleRad(double(cx), double(cy), double(x), double(y));
    m_dragMode = DragRotate;
  } else {
    m_dragMode = DragMove;
  }
}

void CLfAtrans::OnMouseMove(int64_t x, int64_t y, uint8_t) {
  State s = GetState();
  const double w = double(m_sourceWidth), h = double(m_sourceHeight);
  switch (m_dragMode) {
    case DragKept: {
      if (!(x > m_pressX && y > m_pressY)) return;
      // Grows only to the lower right, along the picture's own diagonal.
      if (w >= h) {
        const double t = w > 1 ? double(x - m_pressX) / (w - 1) * (h - 1) : 0;
        SetWorking(s.p0[0], s.p0[1], int32_t(x), Saturate(s.p0[1] + std::trunc(t)));
      } else {
        const double t = h > 1 ? double(y - m_pressY) / (h - 1) * (w - 1) : 0;
        SetWorking(s.p0[0], s.p0[1], Saturate(s.p0[0] + std::trunc(t)), int32_t(y));
      }
      break;
    }
    case DragFree:
      SetWorking(s.p0[0], s.p0[1], int32_t(x), int32_t(y));
      break;
    case DragMove: {
      const double dx = double(x - m_pressX), dy = double(y - m_pressY);
      SetWorking(Saturate(m_savedP0[0] + dx), Saturate(m_savedP0[1] + dy),
                 Saturate(m_savedP1[0] + dx), Saturate(m_savedP1[1] + dy));
      break;
    }
    case DragRotate: {
      const double cx = m_rotationCentre[0], cy = m_rotationCentre[1];
      const double r = LineAngleRad(cx, cy, double(x), double(y)) - m_rotationStart;
      double a0, b0, a1, b1;
      Rotate(m_savedP0[0] - cx, m_savedP0[1] - cy, r, &a0, &b0);
      Rotate(m_savedP1[0] - cx, m_savedP1[1] - cy, r, &a1, &b1);
      SetWorking(Saturate(cx + a0), Saturate(cy + b0), Saturate(cx + a1), Saturate(cy + b1));
      break;
    }
    default:
      return;
  }
  RedrawHost();
}

void CLfAtrans::OnLButtonUp(int64_t, int64_t, uint8_t) {
  if (m_dragMode == DragKept || m_dragMode == DragFree) m_dragMode = DragNone;
}

void CLfAtrans::OnRButtonUp(int64_t, int64_t, uint8_t) {
  if (m_dragMode == DragMove || m_dragMode == DragRotate) m_dragMode = DragNone;
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfAtrans::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                        uint32_t, uint32_t background) {
  if (!picture || picture->Format() == ImgFormatNone) return;
  State s;
  {
    PlatformLockHold own(m_lock);
    if (m_state.inputPhase || !m_state.enable) return;
    const uint64_t w = uint64_t(picture->Width()), h = uint64_t(picture->Height());
    if (w != m_state.transformWidth || h != m_state.transformHeight) {
      UpdateCorners();
      m_state.transformWidth = w;
      m_state.transformHeight = h;
      ComputeTransform(w, h, m_state.x0, m_state.y0, m_state.x1, m_state.y1,
                       &m_state.transform);
    }
    s = m_state;
  }
  RotateScale(picture, s.transform.cx, s.transform.cy, s.transform.angle, s.transform.scale,
              int32_t(s.mirror), background ? 1 : 0);
}

// ---------------------------------------------------------------------------------------
// Overlay
void CLfAtrans::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*,
                            int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                            int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                            int32_t zoom) {
  const State s = GetState();
  if (!s.inputPhase || !s.areaShown || !toGlX || !toGlY) return;
  int32_t p[4][2];
  ZoomOverlayPoints(s.corners, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1,
                    imageY1, zoom, p);
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  glBegin(GL_POINTS);
  glVertex2d(toGlX(p[0][0]), toGlY(p[0][1]));
  glEnd();
  glBegin(GL_LINE_LOOP);
  for (int i = 0; i < 4; ++i) glVertex2d(toGlX(p[i][0]), toGlY(p[i][1]));
  glEnd();
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfAtrans::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const State s = GetState();
  PackWriteFlag(pack, L"mirror", s.mirror);
  PackWriteFlag(pack, L"enable", s.enable);
  const int64_t diagonal[4] = {s.x0, s.y0, s.x1, s.y1};
  PackWriteSignedList(pack, L"diagonal", diagonal, 4);
}

void CLfAtrans::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  {
    PlatformLockHold own(m_lock);
    State& s = m_state;
    int32_t found = 0;
    if (PackReadFlag(pack, L"mirror", &s.mirror, &found) || found)
      m_mirrorBox.m_checked = int32_t(s.mirror);
    PackReadFlag(pack, L"enable", &s.enable, nullptr);
    int64_t d[4] = {s.x0, s.y0, s.x1, s.y1};
    const int32_t stored = PackReadSignedList(pack, L"diagonal", INT32_MIN, INT32_MAX, d, 4, &found);
    if (found) {
      s.x0 = int32_t(d[0]);
      s.y0 = int32_t(d[1]);
      s.x1 = int32_t(d[2]);
      s.y1 = int32_t(d[3]);
      if (stored < 4) s.enable = 0;  // a missing (or unreadable) element
    }
    if (s.enable) {
      s.p0[0] = s.x0;
      s.p0[1] = s.y0;
      s.p1[0] = s.x1;
      s.p1[1] = s.y1;
      UpdateCorners();
      s.transformWidth = m_sourceWidth;
      s.transformHeight = m_sourceHeight;
      ComputeTransform(m_sourceWidth, m_sourceHeight, s.x0, s.y0, s.x1, s.y1, &s.transform);
    }
    s.inputPhase = 0;
    s.areaShown = 0;
  }
  m_inputBox.m_checked = 0;
  m_dragMode = DragNone;
  UpdateButton();
  CFgUICtrl::Redraw();
}
