// menu.cpp - menu templates, popup menus and their run, the menu bar.
// Inside: helpers - template parsing - popup geometry and drawing - popup input - popup
// run - menu bar
#include "toolkit/menu.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "toolkit/draw.h"

// ---------------------------------------------------------------------------------------
// Helpers
namespace {

void (*g_popupHook)(CFgUIMenuCtrl* root) = nullptr;

wchar_t* CopyRange(const wchar_t* begin, const wchar_t* end) {
  size_t n = size_t(end - begin);
  wchar_t* c = static_cast<wchar_t*>(malloc((n + 1) * sizeof(wchar_t)));
  if (!c) return nullptr;
  wmemcpy(c, begin, n);
  c[n] = 0;
  return c;
}

wchar_t* CopyText(const wchar_t* t) { return CopyRange(t, t + wcslen(t)); }

// Signed base-10 of at most 31 characters; text after the digits is ignored.
int32_t ReadIdentifier(const wchar_t* begin, const wchar_t* end) {
  if (end - begin > 31) end = begin + 31;
  const wchar_t* p = begin;
  int negative = 0;
  if (p < end && (*p == L'-' || *p == L'+')) negative = *p++ == L'-';
  int64_t v = 0;
  while (p < end && *p >= L'0' && *p <= L'9') {
    v = v * 10 + (*p++ - L'0');
    if (v > int64_t(INT32_MAX) + 1) v = int64_t(INT32_MAX) + 1;  // held, never wrapped
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return int32_t(v);
}

// Columns of a label by the position rule: one below code 256, two otherwise.
int64_t LabelColumns(const wchar_t* t) {
  int64_t n = 0;
  for (; *t; ++t) n += uint32_t(*t) < 256 ? 1 : 2;
  return n;
}

}  // namespace

void FgSetPopupMenuHook(void (*hook)(CFgUIMenuCtrl* root)) { g_popupHook = hook; }

// ---------------------------------------------------------------------------------------
// Template parsing
CFgUIMenu::CFgUIMenu(CFgUIMenuCtrl* root, CFgUIMenu* parentMenu)
    : m_root(root), m_parentMenu(parentMenu) {}

CFgUIMenu::~CFgUIMenu() {
  FreeItems();
  if (GetWindow()) {
    m_font.DetachFromScreen();  // page names die with the window's context
    Destroy();
  }
  m_font.Release();
}

void CFgUIMenu::FreeItems() {
  for (uint64_t i = 0; i < m_count; ++i) {
    free(m_items[i].label);
    delete m_items[i].submenu;
  }
  free(m_items);
  m_items = nullptr;
  m_count = m_capacity = 0;
  m_widest = 0;
}

int32_t CFgUIMenu::Parse(const wchar_t* text, CFgUIMenu* parentMenu) {
  FreeItems();
  m_parentMenu = parentMenu;
  if (!text) return 0;
  const wchar_t* cursor = text;
  if (!ParseItems(&cursor, 0)) {
    FreeItems();
    return 0;
  }
  return 1;
}

// One level of items. nested: the level ends only at its "}" (consumed); at the top level
// the end of the text or a "}" ends it.
int32_t CFgUIMenu::ParseItems(const wchar_t** cursor, int nested) {
  const wchar_t* p = *cursor;
  int anySubmenu = 0;
  int64_t widest = 0;
  for (;;) {
    if (*p == 0) {
      if (nested) return 0;  // "{" without its "}"
      break;
    }
    if (*p == L'}') {
      if (nested) ++p;
      break;
    }
    const wchar_t* start = p;
    const wchar_t* tab = p;
    while (*tab && *tab != 9) ++tab;
    if (*tab == 0) {
      if (nested) return 0;
      break;  // a remainder without a TAB ends the template; the items before it stand
    }
    const wchar_t* value = tab + 1;
    if (*value == 0) return 0;
    FgMenuItem item;
    if (*value == L'{') {
      item.submenu = new (std::nothrow) CFgUIMenu(m_root, this);
      if (!item.submenu) return 0;
      const wchar_t* sub = value + 1;
      if (!item.submenu->ParseItems(&sub, 1)) {
        delete item.submenu;
        return 0;
      }
      item.id = -1;
      anySubmenu = 1;
      const wchar_t* lf = sub;
      while (*lf && *lf != 10) ++lf;
      if (*lf != 10) {
        delete item.submenu;
        return 0;
      }
      p = lf + 1;
    } else {
      const wchar_t* lf = value;
      while (*lf && *lf != 10) ++lf;
      if (*lf != 10) return 0;  // the last item too must end with a line feed
      item.id = ReadIdentifier(value, lf);
      if (item.id < 0) item.id = -2;
      p = lf + 1;
    }
    item.label = CopyRange(start, tab);
    if (!item.label) {
      delete item.submenu;
      return 0;
    }
    if (m_count >= m_capacity) {
      uint64_t cap = m_capacity + 8;
      FgMenuItem* grown =
          static_cast<FgMenuItem*>(realloc(m_items, size_t(cap) * sizeof(FgMenuItem)));
      if (!grown) {
        free(item.label);
        delete item.submenu;
        return 0;
      }
      m_items = grown;
      m_capacity = cap;
    }
    m_items[m_count++] = item;
    int64_t cols = LabelColumns(item.label);
    if (cols > widest) widest = cols;
  }
  m_widest = widest + (anySubmenu ? 1 : 0);
  *cursor = p;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Popup geometry and drawing
//   width = widest columns * s / 2 + 4, height = n * (s + 2) + 2; item i on rows
//   2 + i * (s + 2) .. + s - 1, the last two rows of each pitch a gap
void CFgUIMenu::Measure() {
  int64_t s = int64_t(m_root->m_fontSize);
  m_pitch = int32_t(s + 2);
  m_width = int32_t(m_widest * s / 2 + 4);
  m_height = int32_t(int64_t(m_count) * (s + 2) + 2);
}

int32_t CFgUIMenu::ItemAt(int32_t x, int32_t y) const {
  int64_t s = int64_t(m_root->m_fontSize);
  if (x < 2 || y < 2 || x > m_width - 3 || y > m_height - 3 || m_pitch <= 0) return -1;
  int64_t i = (int64_t(y) - 2) / m_pitch;
  if ((int64_t(y) - 2) % m_pitch >= s) return -1;  // the gap between items
  return i < int64_t(m_count) ? int32_t(i) : -1;
}

int32_t CFgUIMenu::Show(int32_t x, int32_t y, CFgScreen* parent, int32_t index) {
  m_highlight = index >= 0 && uint64_t(index) < m_count ? index : -1;
  if (!GetWindow()) {
    if (x < 0 || y < 0) return 0;
    Measure();
    if (m_width < 1 || m_height < 1) return 0;
    // The font first: the window's first drawing (OnCreate) needs it.
    if (!m_font.CreateGdiFont(m_root->m_fontSize, nullptr)) return 0;
    if (!Create(x, y, uint64_t(m_width), uint64_t(m_height), L"", FgStylePopup, parent)) {
      Destroy();
      return 0;
    }
    if (!m_font.AttachToScreen(this)) {
      Destroy();
      return 0;
    }
    DrawMenu();
    return 1;
  }
  ShowWindow(1);
  DrawMenu();
  return 1;
}

void CFgUIMenu::Hide() {
  if (!GetWindow()) return;
  for (uint64_t i = 0; i < m_count; ++i)
    if (m_items[i].submenu) m_items[i].submenu->Hide();
  ReleaseMouse();
  m_highlight = -1;
  ShowWindow(0);
}

void CFgUIMenu::OnCreate() { DrawMenu(); }
void CFgUIMenu::OnExpose() { DrawMenu(); }

void CFgUIMenu::DrawMenu() {
  if (!GetWindow() || !BeginDraw()) return;
  const double* tc = m_root->m_text;
  const double* bc = m_root->m_back;
  int64_t s = int64_t(m_root->m_fontSize);
  FgDrawBevel(this, 0, 0, m_width - 1, m_height - 1, bc[0], bc[1], bc[2], 1, 0);
  SetClipRect(2, 2, m_width - 3, m_height - 3);
  double grey[3] = {(tc[0] + bc[0]) / 2, (tc[1] + bc[1]) / 2, (tc[2] + bc[2]) / 2};
  for (uint64_t i = 0; i < m_count; ++i) {
    const FgMenuItem& it = m_items[i];
    int64_t y = 2 + int64_t(i) * m_pitch;
    const double* c = tc;
    if (int64_t(i) == m_highlight) {
      FgFillRect(this, 2, int32_t(y), int32_t((s / 2) * m_widest + 1), int32_t(y + s - 1),
                 tc[0], tc[1], tc[2]);
      c = bc;
    } else if (it.id == -2) {
      c = grey;
    }
    glColor3d(c[0], c[1], c[2]);
    m_font.DrawText(2, double(y), it.label);
    if (it.submenu)
      FgFillRect(this, int32_t((m_widest - 1) * (s / 2) + 2), int32_t(y + 1), m_width - 4,
                 int32_t(y + s - 2), c[0], c[1], c[2]);
  }
  glDisable(GL_STENCIL_TEST);
  EndDraw(1);
}

// ---------------------------------------------------------------------------------------
// Popup input (only the active menu reacts; client pixels of the menu holding the capture)
//   move over an item        highlight it; chosen = its identifier (-1 submenu/disabled)
//   left press               inside this or a parent menu: nothing; outside all: close
//                            everything with -1
//   left release             this menu: open a submenu, ignore a disabled item, else end;
//                            a parent menu: it becomes active and replays the click
//   right release            hide this menu; top: end with the choice so far; submenu:
//                            parent active again, chosen -1
//   Down / Up                next / previous item; Up at the top menu's first item: -1
//   Right / Left             open the submenu / back to the parent
//   Escape                   close everything with -1;  Enter, Space: as a left release
void CFgUIMenu::Highlight(int32_t index) {
  if (index == m_highlight) return;
  m_highlight = index;
  int32_t id = index >= 0 ? m_items[index].id : -1;
  m_root->m_chosen = id < 0 ? -1 : id;
  DrawMenu();
}

void CFgUIMenu::Activate() {
  m_root->m_active = this;
  CaptureMouse();
  PlatFocusWindow(GetWindow());
}

void CFgUIMenu::CloseAll() {
  if (m_root->m_top) m_root->m_top->Hide();
  m_root->m_chosen = -1;
  m_root->m_done = 1;
}

int32_t CFgUIMenu::ContainsDesktop(int64_t x, int64_t y) const {
  return GetWindow() && m_visible && x >= m_x && x < int64_t(m_x) + m_width && y >= m_y &&
         y < int64_t(m_y) + m_height;
}

void CFgUIMenu::OpenSubmenu(int32_t index) {
  for (uint64_t i = 0; i < m_count; ++i)
    if (m_items[i].submenu) m_items[i].submenu->Hide();
  if (m_highlight < 0) return;
  CFgUIMenu* sub = m_items[m_highlight].submenu;
  if (!sub) return;
  int64_t x = int64_t(m_x) + m_width - m_pitch / 2;
  int64_t y = int64_t(m_y) + 2 + int64_t(m_highlight) * m_pitch;
  if (!sub->Show(int32_t(x), int32_t(y), this, index)) {
    m_root->m_chosen = -1;
    return;
  }
  sub->Activate();
  int32_t id = sub->m_highlight >= 0 ? sub->m_items[sub->m_highlight].id : -1;
  m_root->m_chosen = index < 0 || id < 0 ? -1 : id;
}

void CFgUIMenu::OnMouseMove(int32_t x, int32_t y) {
  if (m_root->m_active != this) return;
  int32_t i = ItemAt(x, y);
  if (i >= 0) Highlight(i);
}

void CFgUIMenu::OnLButtonDown(int32_t x, int32_t y) {
  if (m_root->m_active != this) return;
  int64_t dx = int64_t(m_x) + x, dy = int64_t(m_y) + y;
  for (const CFgUIMenu* m = this; m; m = m->m_parentMenu)
    if (m->ContainsDesktop(dx, dy)) return;
  CloseAll();
}

void CFgUIMenu::OnLButtonUp(int32_t x, int32_t y) {
  if (m_root->m_active != this) return;
  int64_t dx = int64_t(m_x) + x, dy = int64_t(m_y) + y;
  if (ContainsDesktop(dx, dy)) {
    if (m_highlight < 0) return;
    const FgMenuItem& it = m_items[m_highlight];
    if (it.submenu)
      OpenSubmenu(-1);
    else if (it.id != -2)
      m_root->m_done = 1;
    return;
  }
  for (CFgUIMenu* p = m_parentMenu; p; p = p->m_parentMenu) {
    if (!p->ContainsDesktop(dx, dy)) continue;
    for (uint64_t i = 0; i < p->m_count; ++i)
      if (p->m_items[i].submenu) p->m_items[i].submenu->Hide();
    m_root->m_chosen = -1;
    p->Activate();
    int32_t px = int32_t(dx - p->m_x), py = int32_t(dy - p->m_y);
    p->OnMouseMove(px, py);
    p->OnLButtonDown(px, py);
    p->OnLButtonUp(px, py);
    return;
  }
}

void CFgUIMenu::OnRButtonUp(int32_t, int32_t) {
  if (m_root->m_active != this) return;
  Hide();
  if (!m_parentMenu) {
    m_root->m_done = 1;
    return;
  }
  m_root->m_chosen = -1;
  m_parentMenu->Activate();
}

void CFgUIMenu::OnKeyStateChanged() {
  if (m_root->m_active != this) return;
  uint16_t f = GetKeyFlags();
  if (f & FgKeyDown) {
    if (m_highlight + 1 < int64_t(m_count)) Highlight(m_highlight + 1);
  } else if (f & FgKeyUp) {
    if (m_highlight <= 0 && !m_parentMenu && m_root->m_upCloses) {
      CloseAll();
      return;
    }
    if (m_highlight > 0) Highlight(m_highlight - 1);
  } else if (f & FgKeyRight) {
    if (m_highlight >= 0 && m_items[m_highlight].submenu) {
      SetKeyFlags(uint16_t(f & ~FgKeyRight));
      OpenSubmenu(0);
    }
  } else if ((f & FgKeyLeft) && m_parentMenu) {
    SetKeyFlags(uint16_t(f & ~FgKeyLeft));
    Hide();
    m_root->m_chosen = -1;
    m_parentMenu->Activate();
  }
}

void CFgUIMenu::OnChar(wchar_t ch) {
  if (m_root->m_active != this) return;
  if (ch == 27) {
    CloseAll();
  } else if ((ch == 10 || ch == 32) && m_highlight >= 0) {
    const FgMenuItem& it = m_items[m_highlight];
    if (it.submenu)
      OpenSubmenu(-1);
    else if (it.id != -2)
      m_root->m_done = 1;
  }
}

// ---------------------------------------------------------------------------------------
// Popup run
int32_t FgPopupMenu(const wchar_t* text, int32_t x, int32_t y, CFgUICtrl* colorSource,
                    CFgScreen* parent, int32_t initialIndex) {
  CFgUIMenuCtrl root;
  if (colorSource) {
    for (int k = 0; k < 3; ++k) {
      root.m_text[k] = colorSource->m_colors[FgColorControlText][k];
      root.m_back[k] = colorSource->m_colors[FgColorFace][k];
    }
    if (colorSource->m_font && colorSource->m_font->Size() >= 2)
      root.m_fontSize = colorSource->m_font->Size();
  }
  CFgUIMenu* top = new (std::nothrow) CFgUIMenu(&root, nullptr);
  if (!top) return -1;
  root.m_top = top;
  if (!top->Parse(text, nullptr)) {
    delete top;
    return -1;
  }
  int32_t highlight = -1;
  if (initialIndex >= 0 && uint64_t(initialIndex) < top->m_count) {
    highlight = initialIndex;
    int32_t id = top->m_items[initialIndex].id;
    root.m_chosen = id < 0 ? -1 : id;
  }
  root.m_upCloses = 1;
  if (!top->Show(x, y, parent, highlight)) {
    delete top;
    return -1;
  }
  root.m_active = top;
  top->CaptureMouse();
  if (g_popupHook) g_popupHook(&root);
  PlatMsg msg;
  while (!root.m_done) {
    if (!PlatGetMessage(&msg) || msg.kind == PlatMsgQuit) {
      // Shutting down: no menu command may run now.
      QuitRequested = 1;
      root.m_chosen = -1;
      break;
    }
    PlatDispatchMessage(msg);
    if (g_popupHook) g_popupHook(&root);
  }
  PlatReleaseMouse();
  delete top;
  if (parent && parent->GetWindow()) PlatFocusWindow(parent->GetWindow());
  return root.m_chosen;
}

// ---------------------------------------------------------------------------------------
// Menu bar
//   move / left press on the bar   highlight the title under x - 8 (none: -1); below the
//                                  bar no highlight; a press beside every title drops the
//                                  container's focus
//   left release                   opens the highlighted title
//   Right / Left                   next / previous title, wrapping; Down opens it from the
//                                  keyboard (first item highlighted)
//   Enter / Space                  opens the highlighted title from the keyboard
//   focus / blur                   first title highlighted / none
CFgUIMenuBar::CFgUIMenuBar() = default;
CFgUIMenuBar::~CFgUIMenuBar() { ClearMenus(); }

int32_t CFgUIMenuBar::AddMenu(const wchar_t* title, const wchar_t* text,
                              FgMenuProvider provider, void* providerPtr) {
  if (!title || !title[0]) return -1;
  FgMenuRecord r;
  r.title = CopyText(title);
  r.text = text ? CopyText(text) : nullptr;
  if (!r.title || (text && !r.text)) {
    free(r.title);
    free(r.text);
    return -1;
  }
  r.provider = provider;
  r.providerPtr = providerPtr;
  // The window's drawing (on any thread) reads the records and the title line.
  PlatformLockHold draw(FgDrawLock());
  FgMenuRecord* grown = static_cast<FgMenuRecord*>(
      realloc(m_menus, size_t(m_menuCount + 1) * sizeof(FgMenuRecord)));
  if (!grown) {
    free(r.title);
    free(r.text);
    return -1;
  }
  m_menus = grown;
  m_menus[m_menuCount] = r;
  ++m_menuCount;
  LayoutTitles();
  return m_menuCount - 1;
}

void CFgUIMenuBar::ClearMenus() {
  PlatformLockHold draw(FgDrawLock());  // drawing reads what is freed here
  for (int32_t i = 0; i < m_menuCount; ++i) {
    free(m_menus[i].title);
    free(m_menus[i].text);
  }
  free(m_menus);
  m_menus = nullptr;
  m_menuCount = 0;
  free(m_titleLine);
  m_titleLine = nullptr;
  m_highlight = -1;
}

// Title i starts 2 h after the end of title i - 1 (h = s / 2), its width its half-width
// width cut down to a whole multiple of h; the title line joins the titles with two blanks.
void CFgUIMenuBar::LayoutTitles() {
  PlatformLockHold draw(FgDrawLock());  // the title line is replaced under any drawing
  uint64_t s = m_owner && m_owner->m_font && m_owner->m_font->Size() ? m_owner->m_font->Size()
                                                                       : 14;
  int64_t h = int64_t(s / 2);
  m_fontSize = s;
  m_barHeight = int32_t(s + 8);
  std::wstring line;
  int64_t next = 0;
  for (int32_t i = 0; i < m_menuCount; ++i) {
    if (i) line += L"  ";
    line += m_menus[i].title;
    int64_t w = FgTextWidth(m_menus[i].title, s);
    if (h > 0) w = w / h * h;
    m_menus[i].first = int32_t(next);
    m_menus[i].last = int32_t(next + w - 1);
    next = next + w + 2 * h;
  }
  free(m_titleLine);
  m_titleLine = CopyText(line.c_str());
}

void CFgUIMenuBar::OnAttach() { LayoutTitles(); }

void CFgUIMenuBar::HighlightAt(int32_t x, int32_t y) {
  int32_t hit = -1;
  if (y < m_barHeight) {
    int64_t cx = int64_t(x) - 8;
    for (int32_t i = 0; i < m_menuCount; ++i)
      if (cx >= m_menus[i].first && cx <= m_menus[i].last) hit = i;
  }
  if (hit != m_highlight) {
    m_highlight = hit;
    if (m_owner) m_owner->Redraw();
  }
}

void CFgUIMenuBar::OnMouseMove(int32_t x, int32_t y) { HighlightAt(x, y); }

void CFgUIMenuBar::OnLButtonDown(int32_t x, int32_t y) {
  HighlightAt(x, y);
  if (m_highlight < 0 && y < m_barHeight && m_owner) m_owner->SetFocus(nullptr);
}

void CFgUIMenuBar::OnLButtonUp(int32_t, int32_t) {
  if (m_highlight >= 0) OpenMenu(m_highlight, 0);
}

void CFgUIMenuBar::OnKeyStateChanged() {
  if (m_menuCount < 1) return;
  uint16_t f = GetKeyFlags();
  if (f & FgKeyRight) {
    m_highlight = m_highlight + 1 >= m_menuCount ? 0 : m_highlight + 1;
  } else if (f & FgKeyLeft) {
    m_highlight = m_highlight <= 0 ? m_menuCount - 1 : m_highlight - 1;
  } else if ((f & FgKeyDown) && m_highlight >= 0) {
    SetKeyFlags(uint16_t(f & ~FgKeyDown));
    OpenMenu(m_highlight, 1);
    return;
  } else {
    return;
  }
  if (m_owner) m_owner->Redraw();
}

void CFgUIMenuBar::OnSpecialKeyRepeat() { OnKeyStateChanged(); }

void CFgUIMenuBar::OnChar(wchar_t ch) {
  if ((ch == 10 || ch == 32) && m_highlight >= 0) OpenMenu(m_highlight, 1);
}

void CFgUIMenuBar::OnFocus() {
  m_highlight = m_menuCount > 0 ? 0 : -1;
}

void CFgUIMenuBar::OnBlur(CFgUIObj*) { m_highlight = -1; }

void CFgUIMenuBar::OpenMenu(int32_t i, int32_t fromKeyboard) {
  if (i < 0 || i >= m_menuCount) return;
  CFgScreen* screen = GetScreen();
  int64_t x = screen ? int64_t(screen->m_x) + 8 + m_menus[i].first : 0;
  int64_t y = screen ? int64_t(screen->m_y) + int64_t(m_fontSize) + 8 : 0;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  const wchar_t* text =
      m_menus[i].provider ? m_menus[i].provider(m_menus[i].providerPtr) : m_menus[i].text;
  int32_t id = FgPopupMenu(text, int32_t(x), int32_t(y), m_owner, screen, fromKeyboard ? 0 : -1);
  if (id >= 0 && m_callback) m_callback(this, m_user, i, id);
  if (m_owner) {
    m_owner->SetFocus(nullptr);
    m_owner->Redraw();
  }
}

void CFgUIMenuBar::Draw(CFgScreen* screen, CFgFont* font) {
  if (!screen) return;
  if (m_owner && m_owner->m_font && m_owner->m_font->Size() != m_fontSize) LayoutTitles();
  // The bar always spans the whole window.
  CFgUIObj::SetRect(0, 0, int32_t(screen->m_clientWidth), int32_t(m_fontSize + 8));
  int32_t x1 = m_width - 1, y1 = m_height - 1;
  const double* face = m_owner ? m_owner->m_colors[FgColorFace] : nullptr;
  static const double kGrey[3] = {0.9, 0.9, 0.9};
  if (!face) face = kGrey;
  FgDrawBevel(screen, 0, 0, x1, y1, face[0], face[1], face[2], 1, 0);
  if (m_menuCount < 1) return;
  screen->SetClipRect(2, 2, m_width - 3, m_height - 3);
  if (m_highlight >= 0 && m_highlight < m_menuCount && m_owner) {
    const double* c = m_owner->m_colors[FgColorFocusedFace];
    FgFillRect(screen, m_menus[m_highlight].first + 8, 2, m_menus[m_highlight].last + 8,
               m_height - 3, c[0], c[1], c[2]);
  }
  if (font && m_owner && m_titleLine) {
    m_owner->UseColor(m_enabled ? FgColorControlText : FgColorDisabledText);
    font->DrawText(8, 4, m_titleLine);
  }
  glDisable(GL_STENCIL_TEST);
}
