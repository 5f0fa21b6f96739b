// track2d_overlay.cpp - what the 2D tracking tool draws over the image view: the boxes of
// its targets with their ID numbers, each ID's trace, and the overlay colour it takes from
// the guide colour.
//
// Threads: DrawOverlay runs under the process-wide draw lock on the thread that redraws
// the view; the targets and the table change under the same lock.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <vector>

#include "app/filterctrl.h"
#include "measure/track2d.h"
#include "toolkit/font.h"
#include "toolkit/screen.h"

namespace {

void MapPoint(const P2dPoint& p, const CLfTrack2d::OverlayView& v, int32_t* x, int32_t* y)
{
  *x = int32_t(std::trunc(p.x));
  *y = int32_t(std::trunc(p.y));
  ImageToView(x, y, v.viewX0, v.viewY0, v.viewX1, v.viewY1, v.imageX0, v.imageY0, v.imageX1, v.imageY1, v.zoom);
  // The centre of the magnified pixel.
  if (v.zoom > 1) {
    *x += v.zoom / 2;
    *y += v.zoom / 2;
  }
}

}  // namespace

void CLfTrack2d::BoxCorners(int32_t x, int32_t y, int32_t w, int32_t h, int32_t grow, const OverlayView& v,
                            int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1)
{
  *x0 = x;
  *y0 = y;
  *x1 = x + w - 1;
  *y1 = y + h - 1;
  ImageToView(x0, y0, v.viewX0, v.viewY0, v.viewX1, v.viewY1, v.imageX0, v.imageY0, v.imageX1, v.imageY1, v.zoom);
  ImageToView(x1, y1, v.viewX0, v.viewY0, v.viewX1, v.viewY1, v.imageX0, v.imageY0, v.imageX1, v.imageY1, v.zoom);
  // The far corner to the far edge of its magnified pixel.
  if (v.zoom > 1) {
    *x1 += v.zoom - 1;
    *y1 += v.zoom - 1;
  }
  *x0 -= grow;
  *y0 -= grow;
  *x1 += grow;
  *y1 += grow;
}

void CLfTrack2d::DrawTarget(int32_t id, int32_t style, const OverlayView& v)
{
  if (id < 0 || id >= trackCount) return;
  const CTrack* t = tracks[id];
  auto loop = [&](int32_t grow) {
    int32_t x0, y0, x1, y1;
    BoxCorners(t->x, t->y, t->w, t->h, grow, v, &x0, &y0, &x1, &y1);
    glBegin(GL_LINE_LOOP);
    glVertex2d(v.toGlX(x0), v.toGlY(y0));
    glVertex2d(v.toGlX(x1), v.toGlY(y0));
    glVertex2d(v.toGlX(x1), v.toGlY(y1));
    glVertex2d(v.toGlX(x0), v.toGlY(y1));
    glEnd();
    return x1;
  };
  loop(0);
  if (style == 1) loop(2);
  else if (style == 2) loop(1);
  if (m_dispId.m_checked && v.font) {
    int32_t x0, y0, x1, y1;
    BoxCorners(t->x, t->y, t->w, t->h, 0, v, &x0, &y0, &x1, &y1);
    wchar_t text[24];
    swprintf(text, 24, L"%ld", long(id) + 1);
    // The font places text at window pixels, not at the converters' GL coordinates.
    v.font->DrawText(double(x1) + 4, double(y0), text);
  }
}

void CLfTrack2d::TraceSegments(int32_t id, int32_t scene, const OverlayView& v, int32_t* cross, int32_t* crossX,
                               int32_t* crossY, int32_t* segments, int32_t* count, int32_t capacity)
{
  *cross = 0;
  *count = 0;
  const int64_t scenes = table.header.scenes;
  P2dPoint p;
  auto add = [&](int32_t ax, int32_t ay, int32_t bx, int32_t by) {
    if (*count >= capacity) return;
    int32_t* s = segments + 4 * *count;
    s[0] = ax;
    s[1] = ay;
    s[2] = bx;
    s[3] = by;
    ++*count;
  };
  if (m_lineAll.m_checked) {
    bool have = false;
    int32_t px = 0, py = 0;
    const int64_t last = std::min<int64_t>(scenes, int64_t(m_sceneCount));
    for (int64_t s = 0; s < last; ++s) {
      if (!table.GetPoint(id, s, &p) || !P2dPointCounts(p)) {
        have = false;
        continue;
      }
      int32_t x, y;
      MapPoint(p, v, &x, &y);
      if (have) add(px, py, x, y);
      px = x;
      py = y;
      have = true;
    }
  }
  if (!table.GetPoint(id, scene, &p) || !P2dPointCounts(p)) return;
  MapPoint(p, v, crossX, crossY);
  *cross = 1;
  const int32_t length = m_lineBar.m_position;
  if (m_lineAll.m_checked || length <= 0) return;
  bool have = true;
  int32_t px = *crossX, py = *crossY;
  for (int32_t k = 1; k <= length; ++k) {
    const int64_t s = int64_t(scene) - int64_t(k) * m_step;
    if (s < 0 || s >= scenes) continue;
    if (!table.GetPoint(id, s, &p) || !P2dPointCounts(p)) {
      have = false;
      continue;
    }
    int32_t x, y;
    MapPoint(p, v, &x, &y);
    if (have) add(px, py, x, y);
    px = x;
    py = y;
    have = true;
  }
}

void CLfTrack2d::DrawTrace(int32_t id, int32_t scene, const OverlayView& v)
{
  if (id < 0 || id >= int32_t(table.header.ids)) return;
  int32_t cross = 0, cx = 0, cy = 0, count = 0;
  std::vector<int32_t> segments;
  const int32_t capacity = int32_t(std::min<uint64_t>(table.header.scenes, 1u << 20)) + 1;
  segments.resize(size_t(capacity) * 4);
  TraceSegments(id, scene, v, &cross, &cx, &cy, segments.data(), &count, capacity);
  glBegin(GL_LINES);
  if (cross) {
    glVertex2d(v.toGlX(cx - 4), v.toGlY(cy));
    glVertex2d(v.toGlX(cx + 5), v.toGlY(cy));
    glVertex2d(v.toGlX(cx), v.toGlY(cy - 4));
    glVertex2d(v.toGlX(cx), v.toGlY(cy + 5));
  }
  for (int32_t i = 0; i < count; ++i) {
    const int32_t* s = segments.data() + 4 * i;
    glVertex2d(v.toGlX(s[0]), v.toGlY(s[1]));
    glVertex2d(v.toGlX(s[2]), v.toGlY(s[3]));
  }
  glEnd();
}

void CLfTrack2d::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont* font, int32_t viewX0,
                             int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                             int32_t imageX1, int32_t imageY1, int32_t zoom)
{
  PlatformLockHold hold(FgDrawLock());
  if (table.header.ids == 0 || !m_host || !toGlX || !toGlY) return;
  const OverlayView v{toGlX, toGlY, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom};
  const int32_t scene = int32_t(m_host->GetCurrentScene());
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  if (m_waiting || (m_running && m_order != 0)) {
    if (currentTarget >= 0 && currentTarget < trackCount) {
      DrawTarget(currentTarget, m_waiting ? 2 : 1, v);
      DrawTrace(currentTarget, scene, v);
    }
    return;
  }
  const int32_t page = m_tab.m_currentPage;
  if (m_running || page == kPageRegist) {
    for (int32_t t = 0; t < trackCount; ++t)
      if (!tracks[t]->lost) DrawTarget(t, t == m_selected ? 1 : 0, v);
    return;
  }
  const bool all = m_idList.m_count > 0 && m_idList.m_items[0].flag;
  for (int32_t i = 1; i < m_idList.m_count; ++i) {
    const int32_t id = int32_t(m_idList.m_items[i].userValue);
    if (!all && !m_idList.m_items[i].flag) continue;
    P2dPoint p;
    if (id < trackCount && table.GetPoint(id, scene, &p) && P2dPointCounts(p))
      DrawTarget(id, id == m_selected ? 1 : 0, v);
    DrawTrace(id, scene, v);
  }
}

void CLfTrack2d::OnOverlayColorChanged(double red, double green, double blue)
{
  CFilterWindow::OnOverlayColorChanged(red, green, blue);
  const uint8_t r = red > 0 ? 255 : 0, g = green > 0 ? 255 : 0, b = blue > 0 ? 255 : 0;
  if (r == colourR && g == colourG && b == colourB) return;
  {
    PlatformLockHold hold(FgDrawLock());
    colourR = r;
    colourG = g;
    colourB = b;
    m_panel.m_tint[0] = r;
    m_panel.m_tint[1] = g;
    m_panel.m_tint[2] = b;
  }
  ProcessAgain();
}
