// sidepanel.cpp - the side panel: icon sheet, construction, layout and rows, chains and
// tabs, mouse, buttons, drawing, and the host operations filters meet.
// Inside: icon sheet - construction - layout and rows - adding and tabs - mouse - buttons
//         - drawing - host operations
#include "app/sidepanel.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/iconsheet.h"
#include "app/mainscreen.h"
#include "media/media_file.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/msgbox.h"

namespace {

// ---------------------------------------------------------------------------------------
// Icon sheet

constexpr int kCell = kSidePanelRowHeight;
constexpr int kIcons = 4;
constexpr int kSourceWidth = kCell * kIcons;  // 80

struct IconSource {
  std::vector<uint8_t> px = std::vector<uint8_t>(size_t(kSourceWidth) * kCell * 4, 0);
  void Set(int cell, int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    uint8_t* p = &px[(size_t(y) * kSourceWidth + size_t(cell * kCell + x)) * 4];
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
  }
  // Ink of coverage alpha: stored as a first byte of 255 - alpha (decoded to black).
  void Ink(int cell, int x, int y, uint8_t alpha) {
    if (alpha == 0) return;
    if (alpha == 255)
      Set(cell, x, y, 0, 0, 0, 255);
    else
      Set(cell, x, y, uint8_t(255 - alpha), 0, 0, 0);
  }
  void Box(int cell, int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) Set(cell, x, y, r, g, b, 255);
  }
  void Frame(int cell, int x0, int y0, int x1, int y1) {
    for (int x = x0; x <= x1; ++x) {
      Ink(cell, x, y0, 255);
      Ink(cell, x, y1, 255);
    }
    for (int y = y0; y <= y1; ++y) {
      Ink(cell, x0, y, 255);
      Ink(cell, x1, y, 255);
    }
  }
};

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  const double ex = ax + t * dx - px, ey = ay + t * dy - py;
  return std::sqrt(ex * ex + ey * ey);
}

IconSource MakeIconSource() {
  IconSource s;
  // 0, 1: a white box; 1 adds a tick, drawn with 4 x 4 samples per pixel.
  for (int c = 0; c < 2; ++c) {
    s.Box(c, 4, 4, 15, 15, 255, 255, 255);
    s.Frame(c, 4, 4, 15, 15);
  }
  for (int y = 5; y < 15; ++y)
    for (int x = 5; x < 15; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          if (SegmentDistance(px, py, 6.5, 10.0, 9.0, 12.8) <= 1.2 ||
              SegmentDistance(px, py, 9.0, 12.8, 13.6, 6.6) <= 1.2)
            ++hits;
        }
      if (hits) s.Ink(1, x, y, uint8_t(hits * 255 / 16));
    }
  // 2, 3: a small window with a title bar; the shown one has a blue bar and a lit inside.
  for (int c = 2; c < 4; ++c) {
    const bool open = c == 3;
    s.Box(c, 3, 4, 16, 15, open ? 230 : 255, open ? 245 : 255, 255);
    if (open)
      s.Box(c, 3, 4, 16, 7, 40, 90, 200);
    else
      for (int y = 4; y <= 7; ++y)
        for (int x = 3; x <= 16; ++x) s.Ink(c, x, y, 150);
    s.Frame(c, 3, 4, 16, 15);
  }
  return s;
}

// Texts of the four buttons (DEL, UP, DOWN, FLUSH) and of FLUSH's question.
const wchar_t* const kButtonsJp[4] = {L"削除", L"↑", L"↓", L"確定"};
const wchar_t* const kButtonsEn[4] = {L"DEL", L"UP", L"DOWN", L"FLUSH"};

}  // namespace

int32_t MakeSidePanelIcons(CFgTexture* texture) {
  if (!texture) return 0;
  const IconSource s = MakeIconSource();
  return MakeFadedIconSheet(texture, s.px.data(), kCell, kIcons);
}

// ---------------------------------------------------------------------------------------
// Construction

CSidePanel::CSidePanel() {
  for (CFgUIButton* b : {&m_del, &m_up, &m_down, &m_flush}) {
    b->m_callback = OnButton;
    b->m_user = this;
  }
  m_rows.m_kind = FgBarVertical;
  m_rows.m_callback = OnScroll;
  m_rows.m_user = this;
  m_rows.m_visible = 0;
  MakeSidePanelIcons(&m_icons);
}

CSidePanel::~CSidePanel() {
  // The worker must be gone before the panel that answers its host calls.
  Shutdown();
}

void CSidePanel::OnButton(CFgUIButton* button, void* user) {
  CSidePanel* p = static_cast<CSidePanel*>(user);
  if (button == &p->m_del)
    p->Delete();
  else if (button == &p->m_up)
    p->Up();
  else if (button == &p->m_down)
    p->Down();
  else if (button == &p->m_flush)
    p->Flush();
}

void CSidePanel::OnScroll(CFgUIScrollBar*, void* user, int32_t) {
  static_cast<CSidePanel*>(user)->RedrawMain();
}

void CSidePanel::RedrawMain() {
  if (m_mainScreen) m_mainScreen->CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Layout and rows

void CSidePanel::Layout() {
  const wchar_t* const* texts = IsJapanese(m_language) ? kButtonsJp : kButtonsEn;
  CFgUIButton* buttons[4] = {&m_del, &m_up, &m_down, &m_flush};
  for (int i = 0; i < 4; ++i) buttons[i]->SetText(texts[i]);
  const int32_t X = PanelX(), Y = PanelY(), H = PanelHeight();
  m_del.SetRect(X + 5, Y + 5, 102, 24);
  m_up.SetRect(X + 107, Y + 5, 36, 24);
  m_down.SetRect(X + 143, Y + 5, 36, 24);
  m_flush.SetRect(X + 5, Y + H - 29, 174, 24);

  // A video whose play range holds one scene is no still: committing its frame would leave
  // the file open under a source it no longer matches.
  const int32_t stillOnly = m_mainScreen && m_mainScreen->m_source.Height() > 0 &&
                            m_mainScreen->m_videoPanel.m_count == 1 && !m_mainScreen->m_media;
  m_flush.m_enabled = stillOnly;
  if (!stillOnly && m_flush.m_owner && m_flush.m_owner->m_focusChild == &m_flush)
    m_flush.m_owner->FocusNext();

  m_listX = int64_t(X) + 5;
  m_listY = int64_t(Y) + 54;
  m_listWidth = 157;
  m_listHeight = int64_t(H) - 88;
  if (m_listHeight >= 1)
    m_rows.SetRect(int32_t(m_listX + 156), int32_t(m_listY), 16, int32_t(m_listHeight));
  for (int i = 0; i < 4; ++i) {
    m_tabs[i][0] = m_listX + 45 * i;
    m_tabs[i][1] = m_listY - 19;
    m_tabs[i][2] = 38;
    m_tabs[i][3] = 18;
  }
  UpdateRows();
}

void CSidePanel::UpdateRows() {
  const uint64_t count = FilterCount();
  const int64_t height = m_listHeight > 0 ? m_listHeight : 0;
  m_fullRows = uint64_t(height / kSidePanelRowHeight);
  m_visibleRows = m_fullRows + (height % kSidePanelRowHeight ? 1 : 0);

  // The bar's values are 32-bit: a chain beyond that scrolls over its first 2^31 rows.
  const int64_t n = count > uint64_t(INT32_MAX) ? int64_t(INT32_MAX) : int64_t(count);
  int64_t page = int64_t(m_fullRows) < n ? int64_t(m_fullRows) : n;
  // A list lower than one row still scrolls one row at a time: a page of 0 has no thumb and
  // would let the position run past the last row.
  if (n >= 1 && page < 1) page = 1;
  int64_t position = m_rows.m_position;
  int32_t changed = 0;
  if (page + position > n) {
    position = n - page;
    changed = 1;
  }
  if (n >= 1 && position >= 0 && position + page - 1 <= n - 1) {
    m_rows.SetRange(0, int32_t(n - 1), int32_t(page), int32_t(position));
    if (changed && !m_rows.m_inCallback) {
      m_rows.m_inCallback = 1;
      if (m_rows.m_callback) m_rows.m_callback(&m_rows, m_rows.m_user, m_rows.m_position);
      m_rows.m_inCallback = 0;
    }
  } else if (n == 0) {
    m_rows.SetRange(0, 0, 1, 0);
  }

  if (m_fullRows < count) {
    m_scrollNeeded = 1;
    // Never over a hidden panel: the bar is a widget of the main window of its own.
    m_rows.m_visible = CFgUIObj::m_visible;
  } else {
    m_listWidth = 173;
    m_scrollNeeded = 0;
    m_rows.m_visible = 0;
    if (m_rows.m_owner && m_rows.m_owner->m_focusChild == &m_rows) m_rows.m_owner->FocusNext();
  }
}

// ---------------------------------------------------------------------------------------
// Adding and tabs

int32_t CSidePanel::AddFilter(CImgFilter* filter) {
  if (!filter) return 0;
  uint64_t index = 0;
  if (!CFilterCtrl::AddFilter(filter, &index)) return 0;
  SelectFilter(index);
  m_anchor = m_rangeFirst = m_rangeLast = -1;
  if (CFgUIObj::m_visible) {
    UpdateRows();
    RedrawMain();
    if (m_mainScreen) m_mainScreen->Reprocess(0);
  }
  return 1;
}

int32_t CSidePanel::SelectChainTab(uint32_t index) {
  // Checked before parking: a refused tab must not hide the windows of the chain that stays.
  if (index >= uint32_t(kFilterChainCount)) return 0;
  FilterChain& left = CurrentChain();
  for (uint64_t i = 0; i < left.count; ++i) {
    CImgFilter* f = left.filters[i];
    f->m_parked = 1;
    if (f->m_dialogVisible) f->ShowDialog(0, nullptr);
  }
  if (!SelectChain(int32_t(index))) return 0;
  m_anchor = m_rangeFirst = m_rangeLast = -1;
  FilterChain& entered = CurrentChain();
  for (uint64_t i = 0; i < entered.count; ++i) {
    CImgFilter* f = entered.filters[i];
    f->m_parked = 0;
    if (f->m_dialogVisible) f->ShowDialog(1, f->m_dialogParent);
  }
  // The rows and the bar now count the entered chain.
  UpdateRows();
  RedrawMain();
  RequestProcess(0);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Mouse

void CSidePanel::OnLButtonDown(int32_t x, int32_t y) {
  const int64_t wx = int64_t(x) + PanelX(), wy = int64_t(y) + PanelY();
  for (uint32_t i = 0; i < 4; ++i) {
    const int64_t* t = m_tabs[i];
    if (wx >= t[0] && wx < t[0] + t[2] && wy >= t[1] && wy < t[1] + t[3]) {
      SelectChainTab(i);
      return;
    }
  }
  if (wx < m_listX || wx >= m_listX + m_listWidth || wy < m_listY || wy >= m_listY + m_listHeight)
    return;
  const uint64_t r = uint64_t((wy - m_listY) / kSidePanelRowHeight +
                              (m_rows.m_position > 0 ? m_rows.m_position : 0));
  if (r >= FilterCount()) return;
  CImgFilter* f = FilterAt(r);
  const int64_t column = wx - m_listX;
  int32_t toggled = 0;
  if (column < 20) {
    f->m_filterEnabled = f->m_filterEnabled ? 0 : 1;
    f->OnEnable(int32_t(f->m_filterEnabled));
    toggled = 1;
  } else if (column < 40) {
    if (f->HasDialog()) {
      if (f->m_dialogVisible) {
        f->m_dialogVisible = 0;
        f->m_dialogParent = nullptr;
        f->ShowDialog(0, nullptr);
      } else {
        f->m_dialogVisible = 1;
        f->m_dialogParent = m_parentScreen;
        f->ShowDialog(1, m_parentScreen);
      }
    }
  } else {
    FilterChain& chain = CurrentChain();
    if (!(GetKeyFlags() & FgKeyShift))
      m_anchor = -1;
    else if (m_anchor == -1 && chain.selected)
      m_anchor = int32_t(chain.selectedIndex);
    const int32_t row = int32_t(r);
    if (m_anchor == -1) {
      SelectFilter(r);
      m_rangeFirst = m_rangeLast = -1;
    } else if (row != m_anchor) {
      chain.selected = nullptr;
      chain.selectedIndex = 0;
      m_rangeFirst = row < m_anchor ? row : m_anchor;
      m_rangeLast = row < m_anchor ? m_anchor : row;
    } else {
      SelectFilter(r);
      m_rangeFirst = m_rangeLast = -1;
    }
  }
  RedrawMain();
  if (toggled) RequestProcess(0);
}

void CSidePanel::OnRButtonDown(int32_t x, int32_t y) {
  if (m_dragging) return;
  const int64_t wx = int64_t(x) + PanelX(), wy = int64_t(y) + PanelY();
  if (wx < m_listX || wx >= m_listX + m_listWidth || wy < m_listY || wy >= m_listY + m_listHeight)
    return;
  const uint64_t r = uint64_t((wy - m_listY) / kSidePanelRowHeight +
                              (m_rows.m_position > 0 ? m_rows.m_position : 0));
  if (r >= FilterCount()) return;
  const FilterChain& chain = CurrentChain();
  const int64_t row = int64_t(r);
  const bool outside = HasRange() ? (row < m_rangeFirst || row > m_rangeLast)
                                  : (!chain.selected || chain.selectedIndex != r);
  if (outside) {
    m_rangeFirst = m_rangeLast = -1;
    SelectFilter(r);
    RedrawMain();
  }
  m_dragging = 1;
  m_dragStartX = x;
  m_dragStartY = y;
  m_rowsMoved = 0;
  CaptureMouse();
}

void CSidePanel::MoveBlock(int64_t first, int64_t last, int32_t down) {
  // One row: the filter next to the block goes round it, so the block keeps its order.
  if (down)
    for (int64_t k = last; k >= first; --k) SwapFilters(uint64_t(k), uint64_t(k + 1));
  else
    for (int64_t k = first; k <= last; ++k) SwapFilters(uint64_t(k), uint64_t(k - 1));
}

void CSidePanel::OnMouseMove(int32_t, int32_t y) {
  if (!m_dragging) return;
  const int32_t rows = int32_t((int64_t(y) - m_dragStartY) / kSidePanelRowHeight);
  const int32_t delta = rows - m_rowsMoved;
  if (delta == 0) return;
  FilterChain& chain = CurrentChain();
  int64_t first, last;
  if (HasRange()) {
    first = m_rangeFirst;
    last = m_rangeLast;
  } else if (chain.selected) {
    first = last = int64_t(chain.selectedIndex);
  } else {
    return;
  }
  const int64_t count = int64_t(chain.count);
  int32_t moved = 0;
  for (int32_t step = 0; step < (delta > 0 ? delta : -delta); ++step) {
    if (delta > 0) {
      if (last >= count - 1) break;
      MoveBlock(first, last, 1);
      ++first, ++last, ++moved;
    } else {
      if (first <= 0) break;
      MoveBlock(first, last, 0);
      --first, --last, --moved;
    }
  }
  m_rowsMoved += moved;
  if (HasRange()) {
    m_rangeFirst = int32_t(first);
    m_rangeLast = int32_t(last);
  } else {
    SelectFilter(uint64_t(first));
  }
  RedrawMain();
}

void CSidePanel::OnRButtonUp(int32_t, int32_t) {
  if (m_dragging && m_rowsMoved != 0) RequestProcess(0);
  m_dragging = 0;
  ReleaseMouse();
}

// ---------------------------------------------------------------------------------------
// Buttons

void CSidePanel::SingleFromOneRowRange() {
  if (m_rangeFirst == -1 || m_rangeFirst != m_rangeLast) return;
  SelectFilter(uint64_t(m_rangeFirst));
  m_anchor = m_rangeFirst = m_rangeLast = -1;
}

void CSidePanel::Delete() {
  SingleFromOneRowRange();
  if (HasRange()) {
    m_anchor = -1;
    for (int64_t k = m_rangeLast; k >= m_rangeFirst; --k) RemoveFilter(uint64_t(k));
    m_rangeFirst = m_rangeLast = -1;
  } else if (CurrentChain().selected) {
    RemoveFilter(CurrentChain().selectedIndex);
  } else {
    return;
  }
  UpdateRows();
  RedrawMain();
  RequestProcess(0);
}

void CSidePanel::Up() {
  SingleFromOneRowRange();
  if (HasRange()) {
    m_anchor = -1;
    if (m_rangeFirst == 0) return;
    MoveBlock(m_rangeFirst, m_rangeLast, 0);
    --m_rangeFirst;
    --m_rangeLast;
    RedrawMain();
    RequestProcess(0);
    return;
  }
  const FilterChain& chain = CurrentChain();
  if (!chain.selected || chain.selectedIndex == 0) return;
  const uint64_t i = chain.selectedIndex;
  SwapFilters(i, i - 1);
  SelectFilter(i - 1);
  if (int64_t(i - 1) < m_rows.m_position && m_rows.IsValidPosition(int64_t(i - 1)))
    m_rows.m_position = int32_t(i - 1);
  RedrawMain();
  RequestProcess(0);
}

void CSidePanel::Down() {
  SingleFromOneRowRange();
  const FilterChain& chain = CurrentChain();
  if (HasRange()) {
    m_anchor = -1;
    if (uint64_t(m_rangeLast) + 1 >= chain.count) return;
    MoveBlock(m_rangeFirst, m_rangeLast, 1);
    ++m_rangeFirst;
    ++m_rangeLast;
    RedrawMain();
    RequestProcess(0);
    return;
  }
  if (!chain.selected || chain.selectedIndex + 1 >= chain.count) return;
  const uint64_t i = chain.selectedIndex;
  SwapFilters(i, i + 1);
  SelectFilter(i + 1);
  const int64_t position = m_rows.m_position;
  if (int64_t(i + 1) > position + m_rows.m_page - 1 && m_rows.IsValidPosition(position + 1))
    m_rows.m_position = int32_t(position + 1);
  RedrawMain();
  RequestProcess(0);
}

void CSidePanel::Flush() {
  CMainScreen* ms = m_mainScreen;
  auto stillOnly = [ms] {
    return ms->m_source.Height() > 0 && ms->m_videoPanel.m_count == 1 && !ms->m_media;
  };
  if (!ms || !stillOnly() || FilterCount() == 0) return;
  const bool jp = IsJapanese(m_language);
  if (FgMessageBox(jp ? L"処理を確定しメモリー上のデータを更新します"
                      : L"Confirm confirmation process and update data in memory",
                   jp ? L"確認" : L"Confirmation", 0, ms) != 1)
    return;
  CImgBuff processed;
  if (FilterCount() != 0) {
    processed.CopyFrom(ms->m_source);
    Request(&processed, &processed, 0, 0);
  }
  if (stillOnly()) {
    int32_t done = 0;
    ms->CommitProcessing(&processed, &done);
  }
  m_anchor = m_rangeFirst = m_rangeLast = -1;
  RemoveAllFilters(1);
  // As after DEL: the rows and the bar count the emptied chain.
  UpdateRows();
  RequestProcess(0);
  RedrawMain();
}

// ---------------------------------------------------------------------------------------
// Drawing

void CSidePanel::OnAttach() {
  CFgUICtrl* owner = m_owner;
  if (!owner) return;
  if (owner->m_screen) m_icons.AttachToScreen(owner->m_screen);
  for (CFgUIObj* w : {static_cast<CFgUIObj*>(&m_del), static_cast<CFgUIObj*>(&m_up),
                      static_cast<CFgUIObj*>(&m_down), static_cast<CFgUIObj*>(&m_flush),
                      static_cast<CFgUIObj*>(&m_rows)})
    owner->AddChild(w);
}

void CSidePanel::OnShow(int32_t shown, intptr_t) {
  for (CFgUIButton* b : {&m_del, &m_up, &m_down, &m_flush}) {
    b->m_visible = shown;
    b->OnShow(shown, 0);
    if (!shown && b->m_owner && b->m_owner->m_focusChild == b) b->m_owner->FocusNext();
  }
  // A hidden panel hides its bar as well; shown again, the bar follows the rows.
  m_rows.m_visible = shown && m_scrollNeeded;
  m_rows.OnShow(m_rows.m_visible, 0);
  if (!m_rows.m_visible && m_rows.m_owner && m_rows.m_owner->m_focusChild == &m_rows)
    m_rows.m_owner->FocusNext();
}

void CSidePanel::OnEnable(int32_t enabled) { EnableFilterDialogs(uint32_t(enabled != 0)); }

void CSidePanel::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_owner) return;
  const double(*c)[3] = m_owner->m_colors;
  auto fill = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1, int triple) {
    FgFillRect(screen, int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1), c[triple][0],
               c[triple][1], c[triple][2]);
  };
  const int64_t X = PanelX(), Y = PanelY();
  const int64_t X1 = X + PanelWidth() - 1, Y1 = Y + PanelHeight() - 1;
  const int32_t enabled = CFgUIObj::m_enabled;
  // Raised frame: white left and top, black right and bottom.
  FgFillRect(screen, int32_t(X), int32_t(Y), int32_t(X), int32_t(Y1), 1, 1, 1);
  FgFillRect(screen, int32_t(X), int32_t(Y), int32_t(X1), int32_t(Y), 1, 1, 1);
  FgFillRect(screen, int32_t(X1), int32_t(Y), int32_t(X1), int32_t(Y1), 0, 0, 0);
  FgFillRect(screen, int32_t(X), int32_t(Y1), int32_t(X1), int32_t(Y1), 0, 0, 0);

  const int64_t lx1 = m_listX + m_listWidth - 1, ly1 = m_listY + m_listHeight - 1;
  if (m_listHeight >= 1) {
    FgFillFramedRect(screen, int32_t(m_listX), int32_t(m_listY), int32_t(lx1), int32_t(ly1),
                     c[FgColorDisabledText][0], c[FgColorDisabledText][1],
                     c[FgColorDisabledText][2], 0, 0, 0);
  }
  for (int i = 0; i < 4; ++i) {
    const int64_t* t = m_tabs[i];
    const int64_t tx1 = t[0] + t[2] - 1, ty1 = t[1] + t[3] - 1;
    if (enabled)
      FgFillRect(screen, int32_t(t[0]), int32_t(t[1]), int32_t(tx1), int32_t(ty1), 0, 0, 0);
    else
      fill(t[0], t[1], tx1, ty1, FgColorDisabledText);
    int label;
    if (i != m_currentChain) {
      fill(t[0] + 1, t[1] + 1, tx1 - 1, ty1 - 1, FgColorFace);
      label = enabled ? -1 : FgColorDisabledText;
    } else {
      label = FgColorFace;
    }
    if (font) {
      if (label < 0)
        glColor3d(0, 0, 0);
      else
        m_owner->UseColor(label);
      const wchar_t text[2] = {wchar_t(L'1' + i), 0};
      font->DrawText(double(t[0] + 15), double(t[1] + 2), text);
    }
  }
  if (m_listHeight < 3 || m_listWidth < 3) return;

  screen->SetClipRect(int32_t(m_listX + 1), int32_t(m_listY + 1), int32_t(lx1 - 1),
                      int32_t(ly1 - 1));
  const FilterChain& chain = CurrentChain();
  const uint64_t position = uint64_t(m_rows.m_position > 0 ? m_rows.m_position : 0);
  uint32_t off = 0;
  for (uint64_t i = 0; i < position && i < chain.count; ++i)
    if (chain.filters[i]->m_type == 1) off = chain.filters[i]->m_filterEnabled ? 0 : 1;
  const int32_t iconsReady = m_icons.AttachToScreen(screen);
  for (uint64_t k = 0; k < m_visibleRows; ++k) {
    const uint64_t r = position + k;
    if (r >= chain.count) break;
    CImgFilter* f = chain.filters[r];
    if (f->m_type == 1) off = f->m_filterEnabled ? 0 : 1;
    const int64_t ty = m_listY + 1 + int64_t(kSidePanelRowHeight) * int64_t(k), rx = m_listX + 1;
    int fillTriple, textTriple;
    uint64_t faded = 0;
    if (!enabled) {
      fillTriple = FgColorFieldWhite;
      textTriple = FgColorDisabledText;
      faded = kIcons;
    } else {
      const bool selected = (chain.selected && chain.selectedIndex == r) ||
                            (HasRange() && int64_t(r) >= m_rangeFirst && int64_t(r) <= m_rangeLast);
      fillTriple = selected ? FgColorFieldHighlight : FgColorFieldWhite;
      textTriple = (f->m_type != 1 && off) ? FgColorDisabledText : FgColorFieldText;
    }
    fill(rx, ty, lx1 - 1, ty + kSidePanelRowHeight - 1, fillTriple);
    fill(rx, ty + kSidePanelRowHeight - 1, lx1 - 1, ty + kSidePanelRowHeight - 1, textTriple);
    if (iconsReady) {
      m_icons.DrawCell(double(rx), double(ty), kCell, kCell, (f->m_filterEnabled ? 1 : 0) + faded);
      const uint64_t window = f->HasDialog() ? (f->m_dialogVisible ? 3 : 2) : 0;
      m_icons.DrawCell(double(rx + 20), double(ty), kCell, kCell, window + faded);
    }
    if (font) {
      m_owner->UseColor(textTriple);
      const wchar_t* name = f->GetName(m_language);
      if (name) font->DrawText(double(rx + 42), double(ty + 3), name);
    }
  }
  glDisable(GL_STENCIL_TEST);
}

// ---------------------------------------------------------------------------------------
// Host operations

void CSidePanel::OnDialogClosed() { RedrawMain(); }

void CSidePanel::Redraw() { RedrawMain(); }

void CSidePanel::EnableOnly(uint32_t solo, CImgFilter* filter) {
  if (m_mainScreen) m_mainScreen->EnableAll(solo ? 0 : 1);
  CFilterCtrl::EnableOnly(solo, filter);
}

void CSidePanel::RequestProcess(uint32_t async) {
  if (!m_mainScreen) return;
  m_mainScreen->Reprocess(async ? 1 : 0);
  // The frame is shown once more from the caller's thread once it is done.
  if (!async && m_mainScreen->m_source.Height() > 0) OnProcessed();
}

void CSidePanel::OnProcessed() {
  if (m_mainScreen) m_mainScreen->UploadToView();
}

int32_t CSidePanel::SeekFrame(uint64_t position) {
  return m_mainScreen ? m_mainScreen->SeekScene(position) : 0;
}

uint64_t CSidePanel::GetCurrentScene() {
  if (!m_mainScreen || !m_mainScreen->m_media) return 0;
  return m_mainScreen->m_videoPanel.m_position;
}

uint64_t CSidePanel::GetSourceFrameTime() { return GetSourceFrameIntervalUs() / 1000; }

uint64_t CSidePanel::GetSourceFrameIntervalUs() {
  if (!m_mainScreen || !m_mainScreen->m_media) return 0;
  return m_mainScreen->m_media->info.frameIntervalUs;
}

uint64_t CSidePanel::GetPlaybackInterval() {
  return m_mainScreen ? m_mainScreen->m_playInterval : CFilterCtrl::GetPlaybackInterval();
}

void CSidePanel::EnableImageInput(uint32_t enable) {
  if (!m_mainScreen) return;
  CMainScreen& ms = *m_mainScreen;
  ms.m_imageInput = enable != 0;
  if (!ms.CFgUICtrl::m_enabled) {
    ms.m_view.SetEnabled(ms.m_imageInput);
    RedrawMain();
  }
}

void CSidePanel::ApplyCalibration(double scale, int32_t axisY, const wchar_t* unit) {
  // A scale is a real length per pixel: a track file's 0, negative or non-finite one would
  // be committed and saved as a calibration no later start accepts.
  if (!(scale > 0) || !std::isfinite(scale)) return;
  if (!m_mainScreen) {
    CFilterCtrl::ApplyCalibration(scale, axisY, unit);
    return;
  }
  m_mainScreen->m_calibration.SetCalibration(scale, axisY, unit);
  SetScale(scale, axisY, unit);
  RequestProcess(0);
}

void CSidePanel::OpenAsNewImage(CImgBuff* picture) {
  if (m_mainScreen && picture) m_mainScreen->ReplaceSource(picture);
}

void CSidePanel::OpenResultImage(CImgBuff* picture, uint32_t) { OpenAsNewImage(picture); }

namespace {
int32_t CopiedWhole(CImgBuff* out, const CImgBuff& from) {
  out->CopyFrom(from);
  return from.Format() != 0 && out->Format() == from.Format() && out->Width() == from.Width() &&
         out->Height() == from.Height();
}
}  // namespace

int32_t CSidePanel::GetSourceImage(CImgBuff* out) {
  if (!out || !m_mainScreen) return 0;
  return CopiedWhole(out, m_mainScreen->m_source);
}

int32_t CSidePanel::GetOutputImage(CImgBuff* out) {
  if (!out || !m_mainScreen) return 0;
  // The worker writes the display picture under the chain lock.
  PlatformLockHold hold(ChainLock());
  return CopiedWhole(out, m_mainScreen->m_display);
}

void CSidePanel::GetEncodeSettings(MediaWriteOptions* out) {
  if (!out || !m_mainScreen) return;
  const CEncodeUI& e = m_mainScreen->m_encode;
  out->jpegQuality = e.m_jpegQuality;
  out->aviCodec = e.m_codec;
  out->reserved = 0;
  out->h264QualityPct = e.m_rateMode == 1 ? e.m_quality : 0;
  out->h264BitRate = e.m_bitRate;
  out->h264KeyInterval = e.m_keyFrames ? e.m_keyInterval : 0;
}
