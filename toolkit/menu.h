// menu.h - menus built from template text: popup menus in windows of their own and the
// menu bar along the top of a window.
//
//   FgMenuItem      one popup item: label (owned), identifier, submenu (owned) or null
//   CFgUIMenuCtrl   the record of one popup run, shared by the whole menu tree
//   CFgUIMenu       one popup window (a borderless screen) with its items
//   CFgUIMenuBar    the bar of menu titles; opening a title runs its template as a popup
//   FgPopupMenu     runs a template as a popup until an item is chosen or it is cancelled
//
// Template: items "label TAB value LF", ended by the end of the text or a "}" at an item's
// start. value: a decimal identifier (a negative one makes a disabled item, kept as -2) or
// "{" sub-template "}" (a submenu item, identifier -1). A remainder without a TAB ends the
// template; a TAB at the very end, an item without its LF or a "{" without its "}" makes the
// whole template invalid.
#pragma once

#include <cstdint>

#include "toolkit/font.h"
#include "toolkit/uiobj.h"

class CFgUIMenu;

struct FgMenuItem {
  wchar_t* label = nullptr;
  int32_t id = 0;
  CFgUIMenu* submenu = nullptr;
};

class CFgUIMenuCtrl {
 public:
  CFgUIMenu* m_top = nullptr;
  CFgUIMenu* m_active = nullptr;  // holds the capture and takes the input
  int32_t m_chosen = -1;
  int32_t m_done = 0;
  int32_t m_upCloses = 0;  // Up on the top menu's first item closes the popup
  uint64_t m_fontSize = 16;
  double m_text[3] = {0, 0, 0};
  double m_back[3] = {1, 1, 1};
};

class CFgUIMenu : public CFgScreen {
 public:
  CFgUIMenu(CFgUIMenuCtrl* root, CFgUIMenu* parentMenu);
  ~CFgUIMenu() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnRButtonUp(int32_t x, int32_t y) override;
  void OnKeyStateChanged() override;
  void OnChar(wchar_t ch) override;
  void OnCreate() override;
  void OnExpose() override;

  // Builds the item tree from text (recursively for submenus); on failure all of it is
  // freed and 0 returned.
  int32_t Parse(const wchar_t* text, CFgUIMenu* parentMenu);
  // Computes width and height for the root's font size.
  void Measure();
  // Shows the menu with its client origin at desktop (x, y), index highlighted.
  int32_t Show(int32_t x, int32_t y, CFgScreen* parent, int32_t index);
  void Hide();
  void OpenSubmenu(int32_t index);
  void DrawMenu();
  // The item under a client point, -1 outside the items.
  int32_t ItemAt(int32_t x, int32_t y) const;

  CFgFont m_font;
  int32_t m_width = 0, m_height = 0, m_pitch = 0;
  CFgUIMenuCtrl* m_root = nullptr;
  CFgUIMenu* m_parentMenu = nullptr;
  FgMenuItem* m_items = nullptr;
  uint64_t m_count = 0, m_capacity = 0;
  int32_t m_highlight = -1;
  int64_t m_widest = 0;

 private:
  void FreeItems();
  int32_t ParseItems(const wchar_t** cursor, int nested);
  void Highlight(int32_t index);
  void Activate();  // becomes the active menu and takes the capture and the keys
  void CloseAll();
  int32_t ContainsDesktop(int64_t x, int64_t y) const;
};

int32_t FgPopupMenu(const wchar_t* text, int32_t x, int32_t y, CFgUICtrl* colorSource,
                    CFgScreen* parent, int32_t initialIndex);

class CFgUIMenuBar;
typedef void (*FgMenuBarCallback)(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t id);
typedef const wchar_t* (*FgMenuProvider)(void* provider);

struct FgMenuRecord {
  wchar_t* title = nullptr;
  wchar_t* text = nullptr;  // template
  FgMenuProvider provider = nullptr;
  void* providerPtr = nullptr;
  int32_t first = 0, last = -1;  // pixel columns relative to the title line's start
};

class CFgUIMenuBar : public CFgUIObj {
 public:
  CFgUIMenuBar();
  ~CFgUIMenuBar() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void OnChar(wchar_t ch) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;
  void OnFocus() override;
  void OnBlur(CFgUIObj* next) override;

  int32_t AddMenu(const wchar_t* title, const wchar_t* text, FgMenuProvider provider,
                  void* providerPtr);
  void ClearMenus();
  void LayoutTitles();
  // Opens menu i as a popup below its title (initial item 0 from the keyboard).
  void OpenMenu(int32_t i, int32_t fromKeyboard);

  FgMenuBarCallback m_callback = nullptr;
  void* m_user = nullptr;
  FgMenuRecord* m_menus = nullptr;
  int32_t m_menuCount = 0;
  int32_t m_highlight = -1;
  wchar_t* m_titleLine = nullptr;
  int32_t m_barWidth = 0, m_barHeight = 0;
  uint64_t m_fontSize = 0;

 private:
  void HighlightAt(int32_t x, int32_t y);
};

// Test hook: called once the top popup of a run is shown and after every message its
// loop dispatches (tests drive the run from it on the UI thread).
void FgSetPopupMenuHook(void (*hook)(CFgUIMenuCtrl* root));
