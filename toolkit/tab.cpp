// tab.cpp - CFgUITab (pages, title rectangles, selection, mouse and keys, drawing) and
// CFgUIGroup (titled frame).
// Inside: helpers - pages - selection and input - tab drawing - group
#include "toolkit/tab.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "toolkit/draw.h"
#include "toolkit/font.h"

// ---------------------------------------------------------------------------------------
// Helpers
namespace {

constexpr int64_t kDefaultFontSize = 14;

int64_t FontSizeOf(const CFgUIObj* w) {
  if (w->m_owner && w->m_owner->m_font && w->m_owner->m_font->Size())
    return int64_t(w->m_owner->m_font->Size());
  return kDefaultFontSize;
}

wchar_t* CopyText(const wchar_t* text) {
  size_t n = wcslen(text);
  wchar_t* c = static_cast<wchar_t*>(malloc((n + 1) * sizeof(wchar_t)));
  if (c) wmemcpy(c, text, n + 1);
  return c;
}

void Line(CFgScreen* s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const double* c) {
  if (x1 < x0 || y1 < y0) return;
  FgFillRect(s, int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1), c[0], c[1], c[2]);
}

const double kBlack[3] = {0, 0, 0};

}  // namespace

// ---------------------------------------------------------------------------------------
// Pages
CFgUITab::CFgUITab() = default;

CFgUITab::~CFgUITab() {
  Clear();
  free(m_pages);
}

int32_t CFgUITab::AddPage(const wchar_t* title) {
  if (!title || !title[0]) return -1;
  if (uint64_t(m_pageCount) >= m_pageCapacity) {
    uint64_t cap = m_pageCapacity + 8;
    TabPage* grown = static_cast<TabPage*>(realloc(m_pages, size_t(cap) * sizeof(TabPage)));
    if (!grown) return -1;
    m_pages = grown;
    m_pageCapacity = cap;
  }
  int32_t index = m_pageCount;
  m_pages[index] = TabPage();
  ++m_pageCount;
  if (!SetPageTitle(index, title)) {
    --m_pageCount;
    return -1;
  }
  if (m_currentPage < 0) m_currentPage = index;
  return index;
}

// Title rectangle of page n: x0 = 1 + sum over earlier pages of (x1 - x0) + 2, y0 = 1,
// x1 = x0 + W + 4, y1 = S + 7, W the title's width by the half-width rule.
int32_t CFgUITab::SetPageTitle(int32_t page, const wchar_t* title) {
  if (page < 0 || page >= m_pageCount || !title || !title[0]) return 0;
  wchar_t* copy = CopyText(title);
  if (!copy) return 0;
  TabPage& p = m_pages[page];
  free(p.title);
  p.title = copy;
  int64_t s = FontSizeOf(this);
  int64_t x0 = 1;
  for (int32_t i = 0; i < page; ++i) x0 += int64_t(m_pages[i].x1) - m_pages[i].x0 + 2;
  p.x0 = int32_t(x0);
  p.y0 = 1;
  p.x1 = int32_t(x0 + FgTextWidth(copy, uint64_t(s)) + 4);
  p.y1 = int32_t(s + 3 + 4);
  return 1;
}

int32_t CFgUITab::RemovePage(int32_t page) {
  if (page < 0 || page >= m_pageCount) return 0;
  free(m_pages[page].title);
  free(m_pages[page].widgets);
  for (int32_t i = page; i + 1 < m_pageCount; ++i) m_pages[i] = m_pages[i + 1];
  --m_pageCount;
  if (m_currentPage > m_pageCount - 1) m_currentPage = m_pageCount - 1;
  if (m_pressedPage >= m_pageCount) {
    m_pressed = 0;
    m_pressedPage = -1;
  }
  return 1;
}

void CFgUITab::Clear() {
  while (m_pageCount > 0) RemovePage(0);
  m_currentPage = -1;
}

int32_t CFgUITab::AddWidget(int32_t page, CFgUIObj* widget) {
  if (page < 0 || page >= m_pageCount || !widget) return 0;
  TabPage& p = m_pages[page];
  if (p.count >= p.capacity) {
    uint64_t cap = p.capacity + 8;
    CFgUIObj** grown =
        static_cast<CFgUIObj**>(realloc(p.widgets, size_t(cap) * sizeof(CFgUIObj*)));
    if (!grown) return 0;
    p.widgets = grown;
    p.capacity = cap;
  }
  p.widgets[p.count++] = widget;
  widget->Show(page == m_currentPage ? 1 : 0);
  return 1;
}

int32_t CFgUITab::GetPageRect(int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) const {
  if (m_width < 1 || m_height < 1) return 0;
  int64_t s = FontSizeOf(this);
  if (x0) *x0 = m_x + 2;
  if (y0) *y0 = int32_t(m_y + 7 + s);
  if (x1) *x1 = m_x + m_width - 3;
  if (y1) *y1 = m_y + m_height - 3;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Selection and input
//   left press on a title      -> that page is pressed (capture taken when free)
//   left release, pressed      -> capture released, the pressed page selected wherever
//                                 the release happened
//   Right / Left (2+ pages)    -> next / previous page, wrapping; both together cancel
int32_t CFgUITab::SelectPage(int32_t page, int32_t force) {
  if (page < 0 || page >= m_pageCount) return 0;
  if (page == m_currentPage && !force) return 1;
  int32_t old = m_currentPage;
  if (old >= 0 && old < m_pageCount && old != page) {
    TabPage& o = m_pages[old];
    for (uint64_t i = 0; i < o.count; ++i) o.widgets[i]->Show(0);
  }
  m_currentPage = page;
  TabPage& n = m_pages[page];
  for (uint64_t i = 0; i < n.count; ++i) n.widgets[i]->Show(1);
  if (m_owner) m_owner->Redraw();
  if (m_callback) m_callback(this, m_user, page, old);
  return 1;
}

void CFgUITab::OnLButtonDown(int32_t x, int32_t y) {
  for (int32_t i = 0; i < m_pageCount; ++i) {
    const TabPage& p = m_pages[i];
    if (x >= p.x0 && x <= p.x1 && y >= p.y0 && y <= p.y1) {
      m_pressedPage = i;
      m_pressed = 1;
      CaptureMouse();
      return;
    }
  }
}

void CFgUITab::OnLButtonUp(int32_t, int32_t) {
  if (!m_pressed) return;
  int32_t page = m_pressedPage;
  m_pressed = 0;
  m_pressedPage = -1;
  ReleaseMouse();
  SelectPage(page, 0);
}

void CFgUITab::OnKeyStateChanged() {
  if (m_pageCount < 2) return;
  uint16_t f = GetKeyFlags();
  int step = ((f & FgKeyRight) ? 1 : 0) - ((f & FgKeyLeft) ? 1 : 0);
  if (!step) return;
  int32_t cur = m_currentPage < 0 ? 0 : m_currentPage;
  SelectPage((cur + step + m_pageCount) % m_pageCount, 0);
}

// ---------------------------------------------------------------------------------------
// Tab drawing: the page outline (left, bottom, right), the top edge along the titles'
// bottom row, each title outlined on three sides; the current title has no line under it.
void CFgUITab::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || m_width < 1 || m_height < 1) return;
  int64_t x = m_x, y = m_y, xr = x + m_width - 1, yb = y + m_height - 1;
  int64_t s = FontSizeOf(this);
  int64_t top = y + s + 7;  // the titles' bottom row
  screen->SetClipRect(m_x, m_y, int32_t(xr), int32_t(yb));
  Line(screen, x, top, x, yb, kBlack);
  Line(screen, x, yb, xr, yb, kBlack);
  Line(screen, xr, top, xr, yb, kBlack);
  Line(screen, x, top, xr, top, kBlack);
  const double* face = m_owner ? m_owner->m_colors[FgColorFace] : nullptr;
  const double* focusFace = m_owner ? m_owner->m_colors[FgColorFocusedFace] : nullptr;
  for (int32_t i = 0; i < m_pageCount; ++i) {
    const TabPage& p = m_pages[i];
    int64_t X0 = x + p.x0, X1 = x + p.x1, Y0 = y + p.y0, Y1 = y + p.y1;
    if (i == m_currentPage) {
      // Opens into the page: the edge under it takes the inside's colour.
      const double* inside = m_focused ? focusFace : face;
      if (inside) Line(screen, X0 + 1, Y0 + 1, X1 - 1, Y1, inside);
    }
    Line(screen, X0, Y0, X0, Y1, kBlack);
    Line(screen, X0, Y0, X1, Y0, kBlack);
    Line(screen, X1, Y0, X1, Y1, kBlack);
  }
  if (font && m_owner) {
    m_owner->UseColor(m_enabled ? FgColorControlText : FgColorDisabledText);
    for (int32_t i = 0; i < m_pageCount; ++i)
      font->DrawText(double(x + m_pages[i].x0 + 3), double(y + m_pages[i].y0 + 4),
                     m_pages[i].title);
  }
  glDisable(GL_STENCIL_TEST);
}

// ---------------------------------------------------------------------------------------
// Group
CFgUIGroup::CFgUIGroup() = default;

int32_t CFgUIGroup::GetInnerRect(int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) const {
  if (m_width < 1 || m_height < 1) return 0;
  int64_t s = FontSizeOf(this);
  if (x0) *x0 = m_x + 2;
  if (y0) *y0 = int32_t(m_y + 2 + s);
  if (x1) *x1 = m_x + m_width - 3;
  if (y1) *y1 = m_y + m_height - 3;
  return 1;
}

// The frame's top edge runs at y + (S - 1) / 2 and breaks where the title stands
// (x + 6 .. x + 6 + title width - 1).
void CFgUIGroup::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || m_width < 1 || m_height < 1) return;
  int64_t x = m_x, y = m_y, xr = x + m_width - 1, yb = y + m_height - 1;
  int64_t s = FontSizeOf(this);
  int64_t tw = FgTextWidth(m_title, uint64_t(s));
  int64_t hy = y + (s - 1) / 2;
  screen->SetClipRect(m_x, m_y, int32_t(xr), int32_t(yb));
  if (font && m_owner) {
    m_owner->UseColor(m_enabled ? FgColorControlText : FgColorDisabledText);
    font->DrawText(double(x + 6), double(y), m_title);
  }
  Line(screen, x, hy, x + 5, hy, kBlack);
  Line(screen, x, hy, x, yb, kBlack);
  Line(screen, x, yb, xr, yb, kBlack);
  Line(screen, xr, hy, xr, yb, kBlack);
  Line(screen, x + 7 + tw - 1, hy, xr, hy, kBlack);
  glDisable(GL_STENCIL_TEST);
}
