// tab.h - two layout widgets that hold nothing but titles.
//
//   TabPage     one page of a tab: title, title rectangle, the page's widgets (not owned)
//   CFgUITab    a row of page titles over a framed page area; selecting a page hides the
//               old page's widgets and shows the new page's
//   CFgUIGroup  a titled frame drawn around other widgets
//
// Both measure with the container's font size S (14 outside a container): a half-width
// character is S / 2 wide, any other S.
#pragma once

#include <cstdint>

#include "toolkit/label.h"
#include "toolkit/uiobj.h"

class CFgUITab;
typedef void (*FgTabCallback)(CFgUITab* tab, void* user, int32_t newPage, int32_t oldPage);

struct TabPage {
  wchar_t* title = nullptr;  // owned copy
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // title rectangle, widget-relative, inclusive
  CFgUIObj** widgets = nullptr;            // owned array, widgets not owned
  uint64_t count = 0, capacity = 0;
};

class CFgUITab : public CFgUIObj {
 public:
  CFgUITab();
  ~CFgUITab() override;

  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnKeyStateChanged() override;
  void Draw(CFgScreen* screen, CFgFont* font) override;

  // Index of the new page, or -1 (null or empty title, no memory). The first page becomes
  // current without showing or hiding anything.
  int32_t AddPage(const wchar_t* title);
  // Replaces the title and measures this page's title rectangle again; later pages stay.
  int32_t SetPageTitle(int32_t page, const wchar_t* title);
  int32_t RemovePage(int32_t page);
  void Clear();
  int32_t AddWidget(int32_t page, CFgUIObj* widget);
  int32_t SelectPage(int32_t page, int32_t force);
  // Inner page rectangle in window pixels; each output optional.
  int32_t GetPageRect(int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) const;

  FgTabCallback m_callback = nullptr;
  void* m_user = nullptr;
  TabPage* m_pages = nullptr;
  int32_t m_pageCount = 0;
  int32_t m_currentPage = -1;
  int32_t m_pressed = 0;
  int32_t m_pressedPage = -1;

 private:
  uint64_t m_pageCapacity = 0;
};

class CFgUIGroup : public CFgUIObj {
 public:
  CFgUIGroup();
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void SetTitle(const wchar_t* title) { FgSetWidgetText(m_title, title); }
  int32_t GetInnerRect(int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) const;

  wchar_t m_title[kFgWidgetTextUnits] = {};
};
