// list.cpp - the list box: item storage, scroll range, keeping the selection in view,
// mouse, wheel and keys, drawing.
// Inside: items - scrolling - input - drawing
#include "toolkit/list.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "toolkit/draw.h"
#include "toolkit/font.h"

CFgUIList::CFgUIList() {
  m_bar.m_kind = FgBarVertical;
  m_bar.SetRange(-1, -1, 1, -1);
  m_bar.m_visible = 0;
  m_bar.m_enabled = 0;
  m_bar.m_tabStop = 0;
}

CFgUIList::~CFgUIList() {
  m_callback = nullptr;
  free(m_items);
  m_items = nullptr;
}

int32_t CFgUIList::FontSize() const {
  if (m_owner && m_owner->m_font && m_owner->m_font->Size() >= 1)
    return int32_t(m_owner->m_font->Size() > 4096 ? 4096 : m_owner->m_font->Size());
  return 14;
}

int32_t CFgUIList::RowsPerPage() const {
  int32_t rows = m_height / FontSize();
  return rows < 1 ? 1 : rows;
}

// ---------------------------------------------------------------------------------------
// Items
int32_t CFgUIList::SetRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!CFgUIObj::SetRect(x, y, width, height)) return 0;
  m_bar.SetRect(int32_t(int64_t(x) + width - 16), y, 16, height);
  if (m_owner) m_bar.m_page = RowsPerPage();
  EnsureVisible();
  return 1;
}

void CFgUIList::ShowBar(int32_t shown) {
  // A bar never shows beside a hidden list; Show passes the focus on when it had it.
  int32_t visible = shown && m_visible;
  if (m_bar.m_visible != visible) m_bar.Show(visible);
}

void CFgUIList::Clear(int32_t mode, int32_t redraw) {
  free(m_items);
  m_items = nullptr;
  m_count = m_capacity = 0;
  m_selected = m_firstShown = -1;
  m_hovered = -1;
  if (mode == 2) m_checkMode = 1;
  m_barInUse = 0;
  ShowBar(0);
  m_bar.m_enabled = 0;
  if (m_bar.IsValidPosition(0)) m_bar.MoveTo(0);
  m_bar.m_minimum = m_bar.m_maximum = -1;  // as for any list without items
  if (redraw && m_owner) m_owner->Redraw();
}

int32_t CFgUIList::Reserve(int32_t n) {
  if (n < 1) return 0;
  int64_t grown = int64_t(m_capacity) + (int64_t(n) + 7) / 8 * 8;
  if (grown > INT32_MAX / 2) return 0;
  void* p = realloc(m_items, size_t(grown) * sizeof(ListItem));
  if (!p) return 0;
  m_items = static_cast<ListItem*>(p);
  m_capacity = int32_t(grown);
  return 1;
}

int32_t CFgUIList::InsertItem(int32_t index, const wchar_t* text, uint32_t userValue,
                              int32_t redraw) {
  if (index < -1 || (index >= 0 && index >= m_count)) return 0;
  if (m_count >= m_capacity && !Reserve(8)) return 0;
  int32_t at = index < 0 ? m_count : index;
  if (at < m_count)
    memmove(m_items + at + 1, m_items + at, size_t(m_count - at) * sizeof(ListItem));
  ListItem& item = m_items[at];
  size_t n = text ? wcslen(text) : 0;
  if (n > size_t(kFgListTextUnits - 1)) n = kFgListTextUnits - 1;
  if (n) wmemcpy(item.text, text, n);
  item.text[n] = 0;
  item.userValue = userValue;
  item.flag = 0;
  ++m_count;
  int32_t oldFirst = m_firstShown;
  if (m_firstShown < 0) m_firstShown = 0;
  UpdateScrollRange();
  if (m_firstShown != oldFirst) m_bar.m_position = m_firstShown;
  if (redraw && m_owner) m_owner->Redraw();
  return 1;
}

int32_t CFgUIList::RemoveItem(int32_t index) {
  if (index < 0 || index >= m_count) return 0;
  memmove(m_items + index, m_items + index + 1, size_t(m_count - index - 1) * sizeof(ListItem));
  --m_count;
  if (m_count == 0) {
    free(m_items);
    m_items = nullptr;
    m_capacity = 0;
  }
  // An index left pointing past the last item would name no item at all.
  if (m_selected == index || m_selected >= m_count) m_selected = -1;
  if (m_hovered >= m_count) m_hovered = -1;
  int32_t oldFirst = m_firstShown;
  if (m_firstShown > m_count - 1) m_firstShown = m_count - 1;
  UpdateScrollRange();
  if (m_firstShown != oldFirst && m_firstShown >= 0) m_bar.m_position = m_firstShown;
  if (m_owner) m_owner->Redraw();
  return 1;
}

int32_t CFgUIList::Select(int32_t index) {
  if (m_checkMode || index < -1 || index >= m_count) return 0;
  if (m_selected >= 0 && m_selected < m_count) m_items[m_selected].flag = 0;
  m_selected = index;
  if (index >= 0) m_items[index].flag = 1;
  Keep(0);
  return 1;
}

int32_t CFgUIList::SetChecked(int32_t index, int32_t flag) {
  if (!m_checkMode || index < 0 || index >= m_count) return 0;
  m_items[index].flag = flag;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Scrolling
void CFgUIList::UpdateScrollRange() {
  if (m_count > 0) {
    m_bar.m_minimum = 0;
    m_bar.m_maximum = m_count - 1;
    m_barInUse = 1;
    m_bar.m_enabled = 1;
    if (m_height >= 3 && m_owner && (m_height - 2) / FontSize() >= m_count) {
      m_bar.m_position = 0;
      m_barInUse = 0;
      m_bar.m_enabled = 0;
    }
    ShowBar(m_barInUse);
  } else {
    m_barInUse = 0;
    ShowBar(0);
    m_bar.m_enabled = 0;
    m_bar.m_minimum = m_bar.m_maximum = -1;
  }
}

int32_t CFgUIList::SetTopIndex(int32_t index) {
  if (index < -1 || index >= m_count) return 0;
  m_firstShown = index;
  UpdateScrollRange();
  if (m_count > 0) {
    int32_t p = index < 0 ? 0 : index;
    if (m_bar.IsValidPosition(p) && p != m_bar.m_position) m_bar.MoveTo(p);
  }
  return 1;
}

// Brings the selected item into view (single selection, in a container, with items).
void CFgUIList::Keep(int32_t redraw) {
  if (m_checkMode || !m_owner || m_count <= 0) return;
  int32_t rows = RowsPerPage();
  int32_t first = m_firstShown < 0 ? 0 : m_firstShown;
  if (m_selected >= 0 && m_selected < m_count) {
    if (m_selected < first)
      first = m_selected;
    else if (int64_t(m_selected) >= int64_t(first) + rows)
      first = m_selected - rows + 1;
  }
  m_firstShown = first;
  // The bar only mirrors the first shown item here; its report would set the same value.
  m_bar.m_position = first;
  if (redraw) m_owner->Redraw();
}

void CFgUIList::EnsureVisible() { Keep(1); }

void CFgUIList::OnBarMoved(CFgUIScrollBar*, void* user, int32_t position) {
  CFgUIList* list = static_cast<CFgUIList*>(user);
  if (position != list->m_firstShown) list->SetTopIndex(position);
}

// ---------------------------------------------------------------------------------------
// Input
int32_t CFgUIList::RowAt(int32_t x, int32_t y) const {
  if (x < 1 || int64_t(x) > int64_t(m_width) - 16 || y < 1 || y >= m_height) return -1;
  if (m_firstShown < 0) return -1;
  int64_t row = (int64_t(y) - 1) / FontSize() + m_firstShown;
  return row < m_count ? int32_t(row) : -1;
}

void CFgUIList::Report(int32_t index) {
  if (!m_callback || m_inCallback) return;
  m_inCallback = 1;
  m_callback(this, m_user, index);
  m_inCallback = 0;
}

void CFgUIList::OnMouseMove(int32_t x, int32_t y) {
  int32_t row = RowAt(x, y);
  if (row == m_hovered) return;
  m_hovered = row;
  if (m_owner) m_owner->Redraw();
}

void CFgUIList::OnLButtonDown(int32_t x, int32_t y) {
  int32_t row = RowAt(x, y);
  if (row < 0) return;
  if (m_checkMode) {
    m_items[row].flag = !m_items[row].flag;
    m_selected = row;
  } else {
    Select(row);
  }
  EnsureVisible();
  if (m_owner) m_owner->Redraw();
  Report(row);
}

void CFgUIList::OnMouseWheel(int32_t, int32_t, int32_t notches) {
  if (m_count <= 0 || notches == 0) return;
  int64_t first = m_firstShown < 0 ? 0 : m_firstShown;
  int64_t next = first + notches;
  if (notches < 0) {
    if (next < m_bar.m_minimum) next = m_bar.m_minimum;
  } else {
    int64_t last = int64_t(m_bar.m_maximum) - m_bar.m_page + 1;
    if (next > last) next = last;
  }
  if (next < 0) next = 0;
  if (next != m_firstShown && next < m_count) SetTopIndex(int32_t(next));
}

void CFgUIList::OnKeyStateChanged() {
  uint16_t f = GetKeyFlags();
  int32_t next = m_selected;
  if (f & FgKeyDown) {
    if (m_selected + 1 < m_count) next = m_selected + 1;
  } else if (f & FgKeyUp) {
    if (m_selected > 0) next = m_selected - 1;
  }
  if (next == m_selected) return;
  if (!m_checkMode) {
    Select(next);
    EnsureVisible();
    Report(next);
  }
  if (m_owner) m_owner->Redraw();
}

void CFgUIList::OnSpecialKeyRepeat() { OnKeyStateChanged(); }

void CFgUIList::OnKeyUp(wchar_t ch) {
  if (!m_checkMode || ch != 32) {
    CFgUIObj::OnKeyUp(ch);
    return;
  }
  if (m_selected < 0 || m_selected >= m_count) return;
  m_items[m_selected].flag = !m_items[m_selected].flag;
  EnsureVisible();
  if (m_owner) m_owner->Redraw();
  Report(m_selected);
}

void CFgUIList::OnBlur(CFgUIObj*) {
  m_hovered = -1;
  if (m_owner) m_owner->Redraw();
}

void CFgUIList::OnMouseLeave() {
  m_hovered = -1;
  if (m_owner) m_owner->Redraw();
}

void CFgUIList::OnAttach() {
  m_bar.m_callback = OnBarMoved;
  m_bar.m_user = this;
  m_bar.m_tabStop = 0;
  m_owner->AddChild(&m_bar);
  m_bar.CFgUIObj::SetRect(int32_t(int64_t(m_x) + m_width - 16), m_y, 16,
                          m_height < 1 ? 1 : m_height);
  m_bar.m_page = RowsPerPage();
  UpdateScrollRange();
  EnsureVisible();
}

void CFgUIList::OnShow(int32_t shown, intptr_t) {
  int32_t visible = shown && m_barInUse;
  if (m_bar.m_visible != visible) m_bar.Show(visible);
}

// ---------------------------------------------------------------------------------------
// Drawing
void CFgUIList::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen || !m_owner) return;
  const double(*c)[3] = m_owner->m_colors;
  const double* text = c[m_enabled ? FgColorFieldText : FgColorDisabledText];
  const double* field =
      c[!m_enabled ? FgColorFace : m_focused ? FgColorFieldHighlight : FgColorFieldWhite];
  const double* frame = c[FgColorBarDrawing];
  int32_t x1 = m_x + m_width - 1, y1 = m_y + m_height - 1;
  FgFillFramedRect(screen, m_x, m_y, x1, y1, field[0], field[1], field[2], frame[0], frame[1],
                   frame[2]);
  int32_t S = FontSize();
  if (m_width < S + 16 || m_height < 32 || m_count <= 0 || m_firstShown < 0) return;
  int32_t clipRight = m_bar.m_visible ? m_x + m_width - 17 : m_x + m_width - 2;
  int32_t clipBottom = m_y + m_height - 2;
  screen->SetClipRect(m_x + 1, m_y + 1, clipRight, clipBottom);
  int64_t top = int64_t(m_y) + 1;
  for (int32_t i = m_firstShown; i < m_count && top <= clipBottom; ++i, top += S) {
    const ListItem& item = m_items[i];
    int32_t t = int32_t(top);
    if (item.flag) {
      FgFillRect(screen, m_x + 1, t, clipRight, t + S - 1, text[0], text[1], text[2]);
      glColor3d(field[0], field[1], field[2]);
    } else {
      if (i == m_hovered && m_enabled) {
        const double* under = c[m_focused ? FgColorFieldWhite : FgColorFieldHighlight];
        FgFillRect(screen, m_x + 1, t, clipRight, t + S - 1, under[0], under[1], under[2]);
      }
      glColor3d(text[0], text[1], text[2]);
    }
    if (font) font->DrawText(double(m_x) + 1, double(t), item.text);
  }
  glDisable(GL_STENCIL_TEST);
}
