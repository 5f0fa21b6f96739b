// flowdata.cpp - the vector field: grid and arrays, outlier flags, speed colours, drawing.
#include "measure/flowdata.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>
#include <new>

int32_t OverlayImageToGl(const OverlayMapping& m, double* x, double* y)
{
  if (!m.toGlX || !m.toGlY || !x || !y) return 0;
  double px = *x - m.imageX0, py = *y - m.imageY0;
  if (m.zoom == 0 || m.zoom == -1) {
    const double iw = double(m.imageX1) - m.imageX0 + 1, ih = double(m.imageY1) - m.imageY0 + 1;
    if (iw != 0) px *= (double(m.viewX1) - m.viewX0 + 1) / iw;
    if (ih != 0) py *= (double(m.viewY1) - m.viewY0 + 1) / ih;
  } else if (m.zoom >= 2) {
    px *= m.zoom;
    py *= m.zoom;
  } else if (m.zoom <= -2) {
    px /= -double(m.zoom);
    py /= -double(m.zoom);
  }
  px = std::round(px + m.viewX0);
  py = std::round(py + m.viewY0);
  // The converters take whole pixels: a point far outside the view is held at the 32-bit
  // edge rather than wrapped to the other side.
  auto pixel = [](double v) {
    if (!(v > -2147483648.0)) return INT32_MIN;
    if (!(v < 2147483647.0)) return INT32_MAX;
    return int32_t(v);
  };
  *x = m.toGlX(pixel(px));
  *y = m.toGlY(pixel(py));
  return 1;
}

CFlowData::~CFlowData() { Clear(); }

void CFlowData::Clear()
{
  free(vectors_);
  free(flags_);
  free(ready_);
  vectors_ = nullptr;
  flags_ = nullptr;
  ready_ = nullptr;
  originX_ = originY_ = step_ = nx_ = ny_ = frames_ = 0;
}

int32_t CFlowData::Create(int32_t originX, int32_t originY, int32_t step, int32_t nx, int32_t ny, int32_t frames)
{
  Clear();
  if (originX < 0 || originY < 0 || step < 1 || nx < 1 || ny < 1 || frames < 1) return 0;
  const uint64_t cells = uint64_t(nx) * uint64_t(ny);
  if (cells > 0xFFFFFFFFull) return 0;
  const uint64_t entries = cells * uint64_t(frames);
  if (entries > 0xFFFFFFFFull) return 0;
  vectors_ = static_cast<FlowVector*>(calloc(size_t(entries), sizeof(FlowVector)));
  flags_ = static_cast<uint8_t*>(calloc(size_t(entries), 1));
  ready_ = static_cast<uint8_t*>(calloc(size_t(frames), 1));
  if (!vectors_ || !flags_ || !ready_) {
    Clear();
    return 0;
  }
  originX_ = originX;
  originY_ = originY;
  step_ = step;
  nx_ = nx;
  ny_ = ny;
  frames_ = frames;
  return 1;
}

int32_t CFlowData::CreateForImage(int32_t lastX, int32_t lastY, int32_t step, int32_t frames)
{
  if (step < 1 || lastX < 0 || lastY < 0 || lastX == INT32_MAX || lastY == INT32_MAX) {
    Clear();
    return 0;
  }
  const int32_t w = lastX + 1, h = lastY + 1;
  if (w < step || h < step || w / step < 3 || h / step < 3) {
    Clear();
    return 0;
  }
  const int32_t nx = w / step - 2, ny = h / step - 2;
  return Create((w - nx * step) / 2, (h - ny * step) / 2, step, nx, ny, frames);
}

FlowVector* CFlowData::GetVector(int32_t x, int32_t y, int32_t frame)
{
  if (!vectors_ || x < 0 || y < 0 || frame < 0 || x >= nx_ || y >= ny_ || frame >= frames_) return nullptr;
  return &vectors_[Index(x, y, frame)];
}

const FlowVector* CFlowData::GetVector(int32_t x, int32_t y, int32_t frame) const
{
  return const_cast<CFlowData*>(this)->GetVector(x, y, frame);
}

uint8_t CFlowData::GetFlags(int32_t x, int32_t y, int32_t frame) const
{
  if (!flags_ || !GetVector(x, y, frame)) return 0;
  return flags_[Index(x, y, frame)];
}

int32_t CFlowData::FlagsReady(int32_t frame) const
{
  return ready_ && frame >= 0 && frame < frames_ ? ready_[frame] : 0;
}

double CFlowData::AngleBetween(double ax, double ay, double bx, double by)
{
  if ((ax == 0 && ay == 0) || (bx == 0 && by == 0)) return 0.0;
  double c = (ax * bx + ay * by) / (std::hypot(ax, ay) * std::hypot(bx, by));
  // Rounding can carry the cosine of (anti)parallel vectors past +-1, where arccos is NaN
  // and every comparison with the limit fails.
  if (c > 1.0) c = 1.0;
  if (c < -1.0) c = -1.0;
  return std::acos(c);
}

uint8_t CFlowData::CheckVector(int32_t x, int32_t y, int32_t frame) const
{
  const FlowVector* v = GetVector(x, y, frame);
  if (!v || (v->dx == 0 && v->dy == 0)) return 0;
  static const int32_t kAround[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  double sum = 0.0;
  int32_t counted = 0, agree = 0, disagree = 0;
  for (const auto& d : kAround) {
    const FlowVector* n = GetVector(x + d[0], y + d[1], frame);
    if (!n || (n->dx == 0 && n->dy == 0)) continue;
    sum += std::hypot(n->dx, n->dy);
    ++counted;
    if (AngleBetween(v->dx, v->dy, n->dx, n->dy) >= angleLimit) ++disagree;
    else ++agree;
  }
  uint8_t flags = 0;
  if (counted < 3) {
    if (counted >= 1 && agree == 0) flags |= kFlowDirectionOutlier;
  } else if (2 * agree < disagree) {
    flags |= kFlowDirectionOutlier;
  }
  if (counted > 0 && std::hypot(v->dx, v->dy) >= sum / counted * lengthRatio) flags |= kFlowLengthOutlier;
  return flags;
}

void CFlowData::CheckFrame(int32_t frame)
{
  if (!HasGrid() || !flags_ || !ready_ || frame < -1 || frame >= frames_) return;
  const int32_t first = frame < 0 ? 0 : frame, last = frame < 0 ? frames_ - 1 : frame;
  for (int32_t f = first; f <= last; ++f) {
    // The test reads no flags, so one pass gives what repeating until nothing changes would.
    for (int32_t y = 0; y < ny_; ++y)
      for (int32_t x = 0; x < nx_; ++x) flags_[Index(x, y, f)] = CheckVector(x, y, f);
    ready_[f] = 1;
  }
}

void CFlowData::ClearFlags()
{
  if (!HasGrid() || !flags_ || !ready_) return;
  const uint64_t entries = uint64_t(nx_) * uint64_t(ny_) * uint64_t(frames_);
  for (uint64_t i = 0; i < entries; ++i) flags_[i] = 0;
  for (int32_t f = 0; f < frames_; ++f) ready_[f] = 0;
}

void CFlowData::ClearFrameFlags(int32_t frame)
{
  if (!HasGrid() || !flags_ || !ready_ || frame < 0 || frame >= frames_) return;
  for (int32_t y = 0; y < ny_; ++y)
    for (int32_t x = 0; x < nx_; ++x) flags_[Index(x, y, frame)] = 0;
  ready_[frame] = 1;
}

void CFlowData::SpeedColor(const FlowVector& v, double b, double rgb[3]) const
{
  const double l = std::hypot(v.dx, v.dy), c1 = colorBase, c2 = colorStep;
  if (l <= c1) rgb[0] = 0, rgb[1] = 0, rgb[2] = b;
  else if (l <= c1 + c2) rgb[0] = 0, rgb[1] = b, rgb[2] = 0;
  else if (l <= c1 + 2 * c2) rgb[0] = b, rgb[1] = b, rgb[2] = 0;
  else if (l <= c1 + 3 * c2) rgb[0] = b, rgb[1] = b / 2, rgb[2] = 0;
  else rgb[0] = b, rgb[1] = 0, rgb[2] = 0;
}

void CFlowData::SetSpeedColor(const FlowVector& v, double b) const
{
  double rgb[3];
  SpeedColor(v, b, rgb);
  glColor3d(rgb[0], rgb[1], rgb[2]);
}

int32_t CFlowData::ArrowHead(double x1, double y1, double x2, double y2, double c[4])
{
  if (x1 == x2 && y1 == y2) return 0;
  const double l = std::hypot(x2 - x1, y2 - y1) / 2, h = 3.14159265358979323846 / 12;
  if (x1 == x2) {
    c[0] = x1 + l * std::sin(h), c[1] = (y1 + y2) / 2, c[2] = x1 - l * std::sin(h), c[3] = (y1 + y2) / 2;
  } else if (y1 == y2) {
    c[0] = (x1 + x2) / 2, c[1] = y1 + l * std::sin(h), c[2] = (x1 + x2) / 2, c[3] = y1 - l * std::sin(h);
  } else {
    const double a = std::atan2(y1 - y2, x1 - x2);
    c[0] = x2 + l * std::cos(a - h), c[1] = y2 + l * std::sin(a - h);
    c[2] = x2 + l * std::cos(a + h), c[3] = y2 + l * std::sin(a + h);
  }
  return 1;
}

void CFlowData::DrawArrow(const OverlayMapping& m, double x1, double y1, double x2, double y2)
{
  double c[4];
  if (!ArrowHead(x1, y1, x2, y2, c)) return;
  if (!OverlayImageToGl(m, &x1, &y1)) return;
  OverlayImageToGl(m, &x2, &y2);
  OverlayImageToGl(m, &c[0], &c[1]);
  OverlayImageToGl(m, &c[2], &c[3]);
  glBegin(GL_LINES);
  glVertex2d(x1, y1);
  glVertex2d(x2, y2);
  glEnd();
  glBegin(GL_POLYGON);
  glVertex2d(x2, y2);
  glVertex2d(c[0], c[1]);
  glVertex2d(c[2], c[3]);
  glEnd();
}

int32_t CFlowData::DrawGrid(int32_t ox, int32_t oy, int32_t step, int32_t nx, int32_t ny, const OverlayMapping& m,
                            double red, double green, double blue)
{
  if (!m.toGlX || !m.toGlY || step < 1 || nx < 1 || ny < 1) return 0;
  glColor3d(red, green, blue);
  glBegin(GL_LINES);
  const double right = double(ox) + double(nx) * step, bottom = double(oy) + double(ny) * step;
  for (int32_t j = 0; j <= ny; ++j) {
    double ax = ox, ay = double(oy) + double(j) * step, bx = right, by = ay;
    OverlayImageToGl(m, &ax, &ay);
    OverlayImageToGl(m, &bx, &by);
    glVertex2d(ax, ay);
    glVertex2d(bx, by);
  }
  for (int32_t i = 0; i <= nx; ++i) {
    double ax = double(ox) + double(i) * step, ay = oy, bx = ax, by = bottom;
    OverlayImageToGl(m, &ax, &ay);
    OverlayImageToGl(m, &bx, &by);
    glVertex2d(ax, ay);
    glVertex2d(bx, by);
  }
  glEnd();
  return 1;
}

int32_t CFlowData::Shown(int32_t x, int32_t y, int32_t frame, int32_t hideDirection, int32_t hideLength) const
{
  const FlowVector* v = GetVector(x, y, frame);
  if (!v || (v->dx == 0 && v->dy == 0)) return 0;
  uint8_t mask = 0;
  if (hideDirection) mask |= kFlowDirectionOutlier;
  if (hideLength) mask |= kFlowLengthOutlier;
  return (flags_[Index(x, y, frame)] & mask) == 0;
}

int32_t CFlowData::Draw(int32_t cells, const OverlayMapping& m, int32_t frame, double arrowZoom, double red,
                        double green, double blue, int32_t hideDirection, int32_t hideLength)
{
  // Vectors, flags and ready bytes are read only for a scene the field holds.
  const int32_t inside = HasGrid() && flags_ && ready_ && frame >= 0 && frame < frames_;
  if (inside && !ready_[frame]) CheckFrame(frame);
  if (cells && inside && m.toGlX && m.toGlY) {
    glBegin(GL_QUADS);
    for (int32_t y = 0; y < ny_; ++y) {
      for (int32_t x = 0; x < nx_; ++x) {
        if (!Shown(x, y, frame, hideDirection, hideLength)) continue;
        SetSpeedColor(vectors_[Index(x, y, frame)], 0.5);
        double ax = double(originX_) + double(step_) * x, ay = double(originY_) + double(step_) * y;
        double bx = ax + step_, by = ay + step_;
        OverlayImageToGl(m, &ax, &ay);
        OverlayImageToGl(m, &bx, &by);
        glVertex2d(ax, ay);
        glVertex2d(bx, ay);
        glVertex2d(bx, by);
        glVertex2d(ax, by);
      }
    }
    if (selectedX >= 0 && selectedY >= 0 && selectedX < nx_ && selectedY < ny_) {
      glColor3d(0, 0.5, 0.5);
      double ax = double(originX_) + double(step_) * selectedX, ay = double(originY_) + double(step_) * selectedY;
      double bx = ax + step_, by = ay + step_;
      OverlayImageToGl(m, &ax, &ay);
      OverlayImageToGl(m, &bx, &by);
      glVertex2d(ax, ay);
      glVertex2d(bx, ay);
      glVertex2d(bx, by);
      glVertex2d(ax, by);
    }
    glEnd();
  }
  if (showGrid && HasGrid()) DrawGrid(originX_, originY_, step_, nx_, ny_, m, red, green, blue);
  if (!inside || !m.toGlX || !m.toGlY) return 1;
  auto centre = [&](int32_t x, int32_t y, double* cx, double* cy) {
    *cx = double(originX_) + double(step_) * x + step_ / 2;
    *cy = double(originY_) + double(step_) * y + step_ / 2;
  };
  for (int32_t y = 0; y < ny_; ++y) {
    for (int32_t x = 0; x < nx_; ++x) {
      if (!Shown(x, y, frame, hideDirection, hideLength)) continue;
      const FlowVector& v = vectors_[Index(x, y, frame)];
      SetSpeedColor(v, 1.0);
      double cx, cy;
      centre(x, y, &cx, &cy);
      DrawArrow(m, cx, cy, cx + v.dx * arrowZoom, cy + v.dy * arrowZoom);
    }
  }
  const FlowVector* s = GetVector(selectedX, selectedY, frame);
  if (s && (s->dx != 0 || s->dy != 0)) {
    glColor3d(0, 1, 1);
    double cx, cy;
    centre(selectedX, selectedY, &cx, &cy);
    DrawArrow(m, cx, cy, cx + s->dx * arrowZoom, cy + s->dy * arrowZoom);
  }
  return 1;
}
