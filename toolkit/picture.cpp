// picture.cpp - CFgUIPicture: layout of image area, bars and fit rectangle, zoom steps,
// window-to-picture mapping, drawing with fill and overlay callbacks, drawing for saving.
// Inside: construction and placing - layout - zoom - mapping - drawing
#include "toolkit/picture.h"

#include <GL/gl.h>

#include <algorithm>

#include "toolkit/draw.h"

// ---------------------------------------------------------------------------------------
// Construction and placing
CFgUIPicture::CFgUIPicture() {
  m_hBar.m_kind = FgBarHorizontal;
  m_vBar.m_kind = FgBarVertical;
  m_hBar.m_tabStop = 0;
  m_vBar.m_tabStop = 0;
  m_hBar.m_user = this;
  m_vBar.m_user = this;
}

CFgUIPicture::~CFgUIPicture() {
  // The bars and the texture are members; the GL name dies with its context or here.
  m_texture.ReleaseGL();
}

int32_t CFgUIPicture::SetRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  return CFgUIObj::SetRect(x, y, width, height);
}

void CFgUIPicture::OnRect(int32_t, int32_t, int32_t, int32_t) {
  PlaceBars();
  Layout();
}

// Horizontal bar (x, y1 - 15) width - 16 by 16; vertical bar (x1 - 15, y) 16 by
// height - 16; a bar that would be smaller than one pixel is left where it was.
void CFgUIPicture::PlaceBars() {
  int64_t x1 = int64_t(m_x) + m_width - 1, y1 = int64_t(m_y) + m_height - 1;
  if (m_width - 16 >= 1) {
    m_hBar.CFgUIObj::SetRect(m_x, int32_t(y1 - 15), m_width - 16, 16);
    m_hBarRect = {m_x, int32_t(y1 - 15), int32_t(x1 - 16), int32_t(y1)};
  }
  if (m_height - 16 >= 1) {
    m_vBar.CFgUIObj::SetRect(int32_t(x1 - 15), m_y, 16, m_height - 16);
    m_vBarRect = {int32_t(x1 - 15), m_y, int32_t(x1), int32_t(y1 - 16)};
  }
}

void CFgUIPicture::DropBar(CFgUIScrollBar* bar) {
  if (bar->m_visible) bar->Show(0);  // a hidden bar with the focus passes it on
  bar->SetRange(0, 0, 1, 0);
}

void CFgUIPicture::OnAttach() {
  PlaceBars();
  m_hBar.m_kind = FgBarHorizontal;
  m_vBar.m_kind = FgBarVertical;
  CFgUIScrollBar* bars[2] = {&m_hBar, &m_vBar};
  for (CFgUIScrollBar* b : bars) {
    b->SetRange(0, 0, 1, 0);
    b->m_tabStop = 0;
    b->m_user = this;
    // No callback: a bar moved by the user redraws the container and the picture reads
    // the positions when it draws.
    if (m_owner) m_owner->AddChild(b);
  }
  Layout();
  if (m_texture.m_store && m_owner && m_owner->m_screen)
    m_texture.AttachToScreen(m_owner->m_screen);
}

void CFgUIPicture::OnShow(int32_t shown, intptr_t) {
  if (m_hBarUsed) m_hBar.Show(shown);
  if (m_vBarUsed) m_vBar.Show(shown);
}

void CFgUIPicture::SetEnabled(int32_t on) {
  on = on != 0;
  m_enabled = on;
  OnEnable(on);
  CFgUIScrollBar* bars[2] = {&m_hBar, &m_vBar};
  for (CFgUIScrollBar* b : bars) {
    b->m_enabled = on;
    b->OnEnable(on);
    if (!on && m_owner && m_owner->m_focusChild == b) m_owner->FocusNext();
  }
}

// ---------------------------------------------------------------------------------------
// Layout
//   z 0 / -1       no bar; image area = widget; fit rectangle at z 0
//   z 1, +-2..4    zoomed size sw, sh; horizontal bar when w < sw (then vertical when
//                  sh > h - 16), else vertical when sh > h (then horizontal when
//                  sw > w - 16); image area = widget less the bars in use
//   bars in use    range 0 .. picture size - 1, page = visible picture amount, position
//                  kept, lowered so the view stays inside the picture
void CFgUIPicture::Layout() {
  m_hasPicture = 1;
  int64_t w = m_width, h = m_height;
  int64_t iw = PictureWidth(), ih = PictureHeight();
  int32_t z = m_zoom;
  int useH = 0, useV = 0;
  if (z == 0 || z == -1) {
    if (iw == 0 || ih == 0) {
      m_hasPicture = 0;
      m_hBarUsed = m_vBarUsed = 0;
      DropBar(&m_hBar);
      DropBar(&m_vBar);
      m_imageArea = {m_x, m_y, int32_t(m_x + w - 1), int32_t(m_y + h - 1)};
      m_fitRect = m_imageArea;
      return;
    }
  } else {
    int64_t sw = iw, sh = ih;
    if (z >= 2) {
      sw = z * iw;
      sh = z * ih;
    } else if (z <= -2) {
      sw = iw / -int64_t(z);
      sh = ih / -int64_t(z);
    }
    if (sw == 0 || sh == 0) {
      m_hasPicture = 0;
      m_hBarUsed = m_vBarUsed = 0;
      DropBar(&m_hBar);
      DropBar(&m_vBar);
      m_imageArea = {m_x, m_y, int32_t(m_x + w - 1), int32_t(m_y + h - 1)};
      m_fitRect = m_imageArea;
      return;
    }
    if (w < sw) {
      useH = 1;
      useV = sh > h - 16;
    } else if (sh > h) {
      useV = 1;
      useH = sw > w - 16;
    }
  }
  m_hBarUsed = useH;
  m_vBarUsed = useV;

  int64_t aw = useV ? w - 16 : w, ah = useH ? h - 16 : h;
  m_imageArea = {m_x, m_y, int32_t(m_x + aw - 1), int32_t(m_y + ah - 1)};
  if (useH && aw >= 1) m_hBar.CFgUIObj::SetRect(m_x, m_hBar.m_y, int32_t(aw), 16);
  if (useV && ah >= 1) m_vBar.CFgUIObj::SetRect(m_vBar.m_x, m_y, 16, int32_t(ah));

  int64_t vw = aw, vh = ah;
  if (z >= 2) {
    vw = aw / z;
    vh = ah / z;
  } else if (z <= -2) {
    vw = aw * -int64_t(z);
    vh = ah * -int64_t(z);
  }
  struct Axis {
    CFgUIScrollBar* bar;
    int used;
    int64_t size, visible;
  } axes[2] = {{&m_hBar, useH, iw, vw}, {&m_vBar, useV, ih, vh}};
  for (const Axis& a : axes) {
    if (!a.used) {
      DropBar(a.bar);
      continue;
    }
    int64_t pos = a.bar->m_position;
    if (pos + a.visible > a.size) pos = a.size - a.visible;
    if (pos < 0) pos = 0;
    if (a.visible >= 1 && pos + a.visible - 1 <= a.size - 1)
      a.bar->SetRange(0, int32_t(a.size - 1), int32_t(a.visible), int32_t(pos));
    if (!a.bar->m_visible && m_visible) a.bar->Show(1);
  }

  m_fitRect = m_imageArea;
  if (z == 0) {
    const FgPictureRect& A = m_imageArea;
    int64_t fw = A.Height() * iw / ih;
    if (fw <= A.Width()) {
      int64_t x0 = (int64_t(A.x0) + A.x1) / 2 - fw / 2;
      m_fitRect = {int32_t(x0), A.y0, int32_t(x0 + fw - 1), A.y1};
    } else {
      int64_t fh = A.Width() * ih / iw;
      int64_t y0 = (int64_t(A.y0) + A.y1) / 2 - fh / 2;
      m_fitRect = {A.x0, int32_t(y0), A.x1, int32_t(y0 + fh - 1)};
    }
  }
}

// ---------------------------------------------------------------------------------------
// Zoom
void CFgUIPicture::SetZoom(int32_t code) {
  int64_t cx = m_hBarUsed ? int64_t(m_hBar.m_position) + m_hBar.m_page / 2 : PictureWidth() / 2;
  int64_t cy = m_vBarUsed ? int64_t(m_vBar.m_position) + m_vBar.m_page / 2 : PictureHeight() / 2;
  m_zoom = code;
  Layout();
  struct Axis {
    CFgUIScrollBar* bar;
    int used;
    int64_t centre;
  } axes[2] = {{&m_hBar, m_hBarUsed, cx}, {&m_vBar, m_vBarUsed, cy}};
  for (const Axis& a : axes) {
    if (!a.used) continue;
    int64_t pos = a.centre - a.bar->m_page / 2;
    if (pos < 0) pos = 0;
    if (!a.bar->IsValidPosition(pos)) continue;
    a.bar->MoveTo(int32_t(pos));
  }
}

// From a fit code the first step gives 1:1. Each further step doubles or halves:
//   positive: 1, 2 -> doubled;  -4, -2 -> halved toward -1, and -1 becomes 1
//   negative: 4, 2 -> halved, and 0 becomes -2;  -2, -4 -> doubled
// held to -4 .. 4, so the codes reached by steps are -4, -2, 1, 2, 4.
// No steps change nothing, also from a fit code (a partial wheel notch arrives as 0).
void CFgUIPicture::ZoomBy(int32_t steps) {
  if (!m_hasPicture || steps == 0) return;
  int32_t z = m_zoom;
  int64_t n = steps;
  if (z == 0 || z == -1) {
    z = 1;
    if (n > 0) --n;
    else if (n < 0) ++n;
  }
  while (n != 0) {
    int32_t before = z;
    if (n > 0) {
      if (z >= 1) z *= 2;
      else {
        z /= 2;
        if (z == -1 || z == 0) z = 1;
      }
      --n;
    } else {
      if (z <= -1) z *= 2;
      else {
        z /= 2;
        if (z == 0) z = -2;
      }
      ++n;
    }
    z = std::clamp(z, -4, 4);
    if (z == before) break;  // held at an end: further steps change nothing
  }
  if (z == m_zoom) return;
  SetZoom(z);
  if (m_owner) m_owner->Redraw();
}

// ---------------------------------------------------------------------------------------
// Mapping
int32_t CFgUIPicture::ClientToImage(int32_t* x, int32_t* y) const {
  if (!x || !y) return 0;
  int64_t iw = PictureWidth(), ih = PictureHeight();
  int32_t z = m_zoom;
  const FgPictureRect& A = m_imageArea;
  if (z == 0 ? !m_fitRect.Contains(*x, *y) : !A.Contains(*x, *y)) return 0;
  int64_t px = int64_t(*x) - A.x0, py = int64_t(*y) - A.y0;
  if (z == 0) {
    if (m_fitRect.Width() < 1 || m_fitRect.Height() < 1) return 0;
    px = (int64_t(*x) - m_fitRect.x0) * iw / m_fitRect.Width();
    py = (int64_t(*y) - m_fitRect.y0) * ih / m_fitRect.Height();
  } else if (z == -1) {
    px = px * iw / A.Width();
    py = py * ih / A.Height();
  } else if (z >= 2) {
    px /= z;
    py /= z;
  } else if (z <= -2) {
    px *= -int64_t(z);
    py *= -int64_t(z);
  }
  px += m_hBar.m_position;
  py += m_vBar.m_position;
  *x = int32_t(std::clamp<int64_t>(px, INT32_MIN, INT32_MAX));
  *y = int32_t(std::clamp<int64_t>(py, INT32_MIN, INT32_MAX));
  return px >= 0 && px < iw && py >= 0 && py < ih;
}

// ---------------------------------------------------------------------------------------
// Texture hand-over
void CFgUIPicture::SetImage(CFgTexture* texture) {
  int64_t iw = PictureWidth(), ih = PictureHeight();
  m_texture.CopyFrom(texture);
  m_textureChanged = 0;
  if (iw != PictureWidth() || ih != PictureHeight()) Layout();
  if (m_texture.m_store && !m_texture.m_hasGlName && m_owner && m_owner->m_screen)
    m_texture.AttachToScreen(m_owner->m_screen);
}

CFgTexture* CFgUIPicture::ReleaseTexture() {
  m_texture.ReleaseGL();
  return &m_texture;
}

// ---------------------------------------------------------------------------------------
// Drawing
// The texture on this screen's context with the fill callback's latest drawing in it.
void CFgUIPicture::PrepareTexture(CFgScreen* screen, CFgFont* font) {
  if (m_texture.m_screen != screen || !m_texture.m_hasGlName) {
    if (m_texture.m_screen && m_texture.m_screen != screen) m_texture.ReleaseGL();
    m_texture.AttachToScreen(screen);
  }
  if (m_textureChanged) {
    // Undo what the fill callback did to the GL texture last time.
    m_textureChanged = 0;
    m_texture.Upload();
  }
  if (m_fill) {
    m_fill(screen, font, &m_texture, m_user);
    m_textureChanged = 1;
  }
}

void CFgUIPicture::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen) return;
  const double* bg = m_background;
  FgFillRect(screen, m_x, m_y, int32_t(int64_t(m_x) + m_width - 1),
             int32_t(int64_t(m_y) + m_height - 1), bg[0], bg[1], bg[2]);
  if (!m_hasPicture || !m_texture.m_store) return;
  const FgPictureRect& A = m_imageArea;
  screen->SetClipRect(A.x0, A.y0, A.x1, A.y1);
  FgFillRect(screen, A.x0, A.y0, A.x1, A.y1, bg[0], bg[1], bg[2]);

  int64_t iw = PictureWidth(), ih = PictureHeight();
  int64_t sx = 0, sw = iw, sy = 0, sh = ih;
  if (m_hBarUsed) {
    sx = m_hBar.m_position;
    sw = m_hBar.m_page + (sx + m_hBar.m_page < iw ? 1 : 0);  // one more column, clipped
  }
  if (m_vBarUsed) {
    sy = m_vBar.m_position;
    sh = m_vBar.m_page + (sy + m_vBar.m_page < ih ? 1 : 0);
  }
  int32_t z = m_zoom;
  FgPictureRect d;
  if (z == -1) {
    d = A;
  } else if (z == 0) {
    d = m_fitRect;
  } else {
    int64_t dw = sw, dh = sh;
    if (z >= 2) {
      dw = z * sw;
      dh = z * sh;
    } else if (z <= -2) {
      dw = sw / -int64_t(z);
      dh = sh / -int64_t(z);
    }
    d = {A.x0, A.y0, int32_t(A.x0 + dw - 1), int32_t(A.y0 + dh - 1)};
  }

  PrepareTexture(screen, font);
  m_texture.DrawSubRect(double(d.x0), double(d.y0), double(d.Width()), double(d.Height()),
                        double(sx), double(sy), double(sw), double(sh));
  if (m_overlay)
    m_overlay(screen, font, d.x0, d.y0, d.x1, d.y1, int32_t(sx), int32_t(sy),
              int32_t(sx + sw - 1), int32_t(sy + sh - 1), z, m_user);
  glDisable(GL_STENCIL_TEST);
}

// The render target reads back with its bottom row as row 0, while window pixels count
// from the top: the overlay is drawn through a vertical flip so its picture coordinates
// land on the same rows as the picture's own.
void CFgUIPicture::DrawContent(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_hasPicture || !m_texture.m_store) return;
  int64_t iw = PictureWidth(), ih = PictureHeight();
  PrepareTexture(screen, font);
  m_texture.DrawFill();
  // The overlay draws with the projection as it is: its owner maps pixel rows onto the
  // render target itself (row 0 at the bottom, so it reads back as row 0), the same rule the
  // picture and any text or texture in the overlay follow.
  if (m_overlay)
    m_overlay(screen, font, 0, 0, int32_t(iw - 1), int32_t(ih - 1), 0, 0, int32_t(iw - 1),
              int32_t(ih - 1), 1, m_user);
  glDisable(GL_STENCIL_TEST);
}
