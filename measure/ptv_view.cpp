// ptv_view.cpp - the particle tracker over the picture: tracks, trails and the radius
// circle, or the vector grid on the "ptv" page; and the clicks that pick the radius or a
// particle.
// Inside: drawing - mouse
#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>

#include "measure/ptv.h"
#include "app/filterctrl.h"
#include "core/text.h"
#include "toolkit/font.h"
#include "toolkit/screen.h"

// ---- drawing --------------------------------------------------------------------------

void CLfPtv::ToView(int32_t* x, int32_t* y) const
{
  const TrackView& v = m_view;
  ImageToView(x, y, v.viewX0, v.viewY0, v.viewX1, v.viewY1, v.imageX0, v.imageY0, v.imageX1, v.imageY1, v.zoom);
  if (v.zoom > 1) {
    *x += v.zoom / 2;
    *y += v.zoom / 2;
  }
}

namespace {

// A position cut to whole pixels; 0 when it does not fit a view coordinate.
int32_t Whole(double v, int32_t* out)
{
  if (!std::isfinite(v) || v <= -1e8 || v >= 1e8) return 0;
  *out = int32_t(v);
  return 1;
}

}  // namespace

void CLfPtv::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont* font, int32_t viewX0,
                         int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                         int32_t imageX1, int32_t imageY1, int32_t zoom)
{
  if (Running() || !toGlX || !toGlY) return;
  m_view = {toGlX, toGlY, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom};
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  const uint64_t current = m_host ? m_host->GetCurrentScene() : 0;
  if (m_page == 2) {
    OverlayMapping m;
    m.toGlX = toGlX;
    m.toGlY = toGlY;
    m.viewX0 = viewX0, m.viewY0 = viewY0, m.viewX1 = viewX1, m.viewY1 = viewY1;
    m.imageX0 = imageX0, m.imageY0 = imageY0, m.imageX1 = imageX1, m.imageY1 = imageY1;
    m.zoom = zoom;
    const int32_t frame = current > uint64_t(INT32_MAX) ? -1 : int32_t(current);
    m_grid.Draw(m_cellColor.m_checked, m, frame, m_arrowZoom.m_position / 10.0, m_guide[0], m_guide[1], m_guide[2],
                1, 1);
    return;
  }
  if (m_pickCount > 0) {
    double radius, scale;
    {
      PlatformLockHold hold(m_lock);
      radius = m_searchRadius;
      scale = m_copyScale;
    }
    double r = scale > 0 ? radius / scale : 0;
    if (zoom >= 1) r *= zoom;
    else if (zoom < -1) r /= -zoom;
    else if (imageX1 >= imageX0) r = r * double(viewX1 - viewX0 + 1) / double(imageX1 - imageX0 + 1);
    int32_t cx = m_pickX, cy = m_pickY;
    ToView(&cx, &cy);
    if (std::isfinite(r) && r < 1e7) {
      glBegin(GL_LINE_LOOP);
      for (int32_t k = 0; k < 36; ++k) {
        const double a = k * 10.0 * M_PI / 180.0;
        glVertex2d(toGlX(int32_t(std::lround(cx + r * std::cos(a)))), toGlY(int32_t(std::lround(cy + r * std::sin(a)))));
      }
      glEnd();
    }
  }
  const int32_t n = m_data.idCount > 0 ? m_data.idCount : 0;
  if (n < 1 || m_idList.m_count < 1) return;
  if (m_idList.m_items[0].flag) {
    for (int32_t id = 0; id < n; ++id) DrawTrack(id);
    return;
  }
  for (int32_t i = 1; i < m_idList.m_count && i <= n; ++i)
    if (m_idList.m_items[i].flag) DrawTrack(i - 1);
}

void CLfPtv::DrawTrack(int32_t id)
{
  const TrackView& v = m_view;
  const uint64_t current = m_host ? m_host->GetCurrentScene() : 0;
  const int32_t c = current > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(current);
  auto at = [&](int32_t scene, int32_t* x, int32_t* y) {
    const ParticleRecord* p = m_index.Find(m_data, scene, id);
    if (!p || !Whole(p->x, x) || !Whole(p->y, y)) return 0;
    ToView(x, y);
    return 1;
  };
  auto line = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    glVertex2d(v.toGlX(x0), v.toGlY(y0));
    glVertex2d(v.toGlX(x1), v.toGlY(y1));
  };
  int32_t x, y;
  if (at(c, &x, &y)) {
    glBegin(GL_LINES);
    line(x - 4, y, x + 5, y);
    line(x, y - 4, x, y + 5);
    glEnd();
    if (m_dispId.m_checked && v.font) {
      wchar_t label[16];
      swprintf(label, 16, L"%ld", long(id) + 1);
      v.font->DrawText(double(x) + 2, double(y) + 2, label);
    }
    if (!m_lineAll.m_checked) {
      glBegin(GL_LINES);
      int32_t px = x, py = y;
      for (int32_t k = 1; k <= m_lineLen.m_position && c - k >= 0; ++k) {
        int32_t qx, qy;
        if (!at(c - k, &qx, &qy)) break;  // a gap ends the trail
        line(px, py, qx, qy);
        px = qx;
        py = qy;
      }
      glEnd();
    }
  }
  if (m_lineAll.m_checked) {
    const int32_t frames = int32_t(std::min<uint64_t>(m_sceneCount, uint64_t(m_data.sceneCount)));
    glBegin(GL_LINES);
    int32_t px = 0, py = 0, have = 0;
    for (int32_t s = 0; s < frames; ++s) {
      int32_t qx, qy;
      const int32_t now = at(s, &qx, &qy);
      if (now && have) line(px, py, qx, qy);
      px = qx;
      py = qy;
      have = now;
    }
    glEnd();
  }
}

// ---- mouse ----------------------------------------------------------------------------

int32_t CLfPtv::PickParticle(int64_t x, int64_t y, int32_t* id, int32_t* first, int32_t* last)
{
  const uint64_t current = m_host ? m_host->GetCurrentScene() : 0;
  if (current >= uint64_t(m_data.sceneCount)) return 0;
  const SceneParticles& sp = m_data.scenes[current];
  int32_t best = -1;
  double bestD = 0;
  for (int32_t i = 0; i < sp.count; ++i) {
    if (sp.records[i].id < 0) continue;
    const double dx = sp.records[i].x - double(x), dy = sp.records[i].y - double(y);
    const double d = dx * dx + dy * dy;
    if (best < 0 || d < bestD) {
      best = i;
      bestD = d;
    }
  }
  if (best < 0) return 0;
  *id = sp.records[best].id;
  *first = *last = 0;
  const int32_t frames = int32_t(std::min<uint64_t>(m_sceneCount, uint64_t(m_data.sceneCount)));
  for (int32_t s = 0; s < frames; ++s) {
    if (!m_index.Find(m_data, s, *id)) continue;
    if (!*first) *first = s + 1;
    *last = s + 1;
  }
  return 1;
}

void CLfPtv::OnLButtonDown(int64_t x, int64_t y, uint8_t flags)
{
  if (Running()) return;
  if (m_page == 0) {
    if (m_pickCount == 0) {
      m_pickCount = 1;
      m_pickX = int32_t(std::clamp<int64_t>(x, INT32_MIN / 2, INT32_MAX / 2));
      m_pickY = int32_t(std::clamp<int64_t>(y, INT32_MIN / 2, INT32_MAX / 2));
    } else {
      const double dx = double(x - m_pickX), dy = double(y - m_pickY);
      double radius;
      {
        PlatformLockHold hold(m_lock);
        radius = std::sqrt(dx * dx + dy * dy) * m_copyScale;
        // A click on the centre itself would give R = 0, with which no track can start.
        if (radius > 0 && std::isfinite(radius)) m_searchRadius = radius;
        radius = m_searchRadius;
      }
      wchar_t text[64];
      FormatDouble(text, 64, radius);
      m_searchEdit.SetLine(0, text);
      CFgUICtrl::Redraw();
    }
  } else if (m_page == 1) {
    int32_t id, first, last;
    if (PickParticle(x, y, &id, &first, &last)) {
      wchar_t text[16];
      swprintf(text, 16, L"%d", id + 1);
      if (flags & 16) {
        m_concat2.SetLine(0, text);
      } else {
        m_eraseId.SetLine(0, text);
        m_splitIdEdit.SetLine(0, text);
        m_concat1.SetLine(0, text);
        if (first) {
          swprintf(text, 16, L"%d", first);
          m_eraseFirst.SetLine(0, text);
          swprintf(text, 16, L"%d", last);
          m_eraseLast.SetLine(0, text);
        }
        const uint64_t current = m_host ? m_host->GetCurrentScene() : 0;
        swprintf(text, 16, L"%d", int32_t(std::min<uint64_t>(current, INT32_MAX - 1)) + 1);
        m_splitScene.SetLine(0, text);
      }
      CFgUICtrl::Redraw();
    }
  }
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::OnRButtonDown(int64_t, int64_t, uint8_t)
{
  if (m_pickCount <= 0) return;
  --m_pickCount;
  if (m_filterEnabled && m_host) m_host->Redraw();
}

void CLfPtv::OnPageChanged(int32_t page, int32_t old)
{
  m_pickCount = 0;
  m_page = page;
  if ((page == 2) != (old == 2) && m_filterEnabled && m_host) m_host->Redraw();
  RefreshDialog();
}
