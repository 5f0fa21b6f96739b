// list.h - CFgUIList: a vertical list of text items with its own vertical scroll bar.
//
//   ListItem    one item: text (at most 255 characters), user value, flag
//   CFgUIList   single selection (a click or Up/Down selects one item and reports it) or,
//               after Clear with mode 2, check mode (a click or Space toggles an item's tick)
//
// Rows are S pixels high (the container font's size), starting 1 pixel below the top; the
// scroll bar takes the 16 rightmost pixels and is shown only while the items do not fit.
// Input, by event:
//   press on an item      single: select it; check: toggle it and make it the selected
//                         index; then keep it in view, redraw, report (list, user, index)
//   press below the items nothing
//   Down / Up             single: select the next / previous item, keep it in view, report;
//                         check: redraw only
//   Space (check mode)    toggle the selected item, report; other keys: the base rule
//   wheel                 first shown item moves by the notches within the bar's range
#pragma once

#include <cstdint>

#include "toolkit/scrollbar.h"
#include "toolkit/uiobj.h"

constexpr int kFgListTextUnits = 256;

struct ListItem {
  wchar_t text[kFgListTextUnits];
  uint32_t userValue;
  int32_t flag;  // selected (single selection) or ticked (check mode)
};

class CFgUIList;
typedef void (*FgListCallback)(CFgUIList* list, void* user, int32_t index);

class CFgUIList : public CFgUIObj {
 public:
  CFgUIList();
  ~CFgUIList() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void OnKeyUp(wchar_t ch) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;
  void OnShow(int32_t shown, intptr_t argument) override;
  void OnBlur(CFgUIObj* next) override;
  void OnMouseLeave() override;

  int32_t SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
  // Frees every item; mode 2 switches to check mode for good.
  void Clear(int32_t mode, int32_t redraw);
  int32_t Reserve(int32_t n);
  // index -1 appends; 0 for an index below -1 or at or beyond the count, or no memory.
  // The selected index stays where it was (the flag moves with its item).
  int32_t InsertItem(int32_t index, const wchar_t* text, uint32_t userValue, int32_t redraw);
  int32_t RemoveItem(int32_t index);
  int32_t SetTopIndex(int32_t index);
  // Single selection only; -1 selects nothing. Neither reports nor redraws.
  int32_t Select(int32_t index);
  int32_t SetChecked(int32_t index, int32_t flag);
  void UpdateScrollRange();
  void EnsureVisible();

  int32_t FontSize() const;
  int32_t RowsPerPage() const;

  FgListCallback m_callback = nullptr;
  void* m_user = nullptr;
  CFgUIScrollBar m_bar;
  int32_t m_hovered = -1;
  ListItem* m_items = nullptr;
  int32_t m_count = 0;
  int32_t m_capacity = 0;
  int32_t m_selected = -1;
  int32_t m_firstShown = -1;
  int32_t m_checkMode = 0;
  int32_t m_barInUse = 0;

 private:
  static void OnBarMoved(CFgUIScrollBar* bar, void* user, int32_t position);
  void ShowBar(int32_t shown);
  void Report(int32_t index);
  void Keep(int32_t redraw);
  int32_t RowAt(int32_t x, int32_t y) const;
};
