// button.h - push buttons, check boxes and radio groups.
//
//   CFgUIButton     push button: pressed between press and release, reports the release
//   CFgUIChkButton  check box; a radio button once it belongs to a radio group (a ring of
//                   members around a leader that keeps the selected index)
//
// Events and results (both kinds; check boxes take Space only, buttons Space and Enter):
//   left press / key down            pressed = 1, owner redraws, capture taken when free
//   left release / key up, pressed   pressed = 0, capture cleared, callback (wherever the
//                                    pointer is: no hit test); a check box first toggles,
//                                    a radio member first selects itself
//   left release / key up, released  nothing
//   other key up                     the base widget's focus moves
//   radio member, key state change   Down/Right: next index (wrapping to 0), else Up/Left:
//                                    previous (wrapping to the last); that member is
//                                    pressed and activated at once
#pragma once

#include <cstdint>

#include "toolkit/label.h"
#include "toolkit/uiobj.h"

class CFgUIButton;
class CFgUIChkButton;
typedef void (*FgButtonCallback)(CFgUIButton* button, void* user);
typedef void (*FgChkButtonCallback)(CFgUIChkButton* button, void* user);

class CFgUIButton : public CFgUIObj {
 public:
  CFgUIButton();
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnKeyDown(wchar_t ch) override;
  void OnKeyUp(wchar_t ch) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void SetText(const wchar_t* text) { FgSetWidgetText(m_text, text); }

  FgButtonCallback m_callback = nullptr;
  void* m_user = nullptr;
  wchar_t m_text[kFgWidgetTextUnits] = {};
  int32_t m_pressed = 0;

 private:
  void Press();
  void Release();
};

class CFgUIChkButton : public CFgUIObj {
 public:
  CFgUIChkButton();
  ~CFgUIChkButton() override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnKeyStateChanged() override;
  void OnKeyDown(wchar_t ch) override;
  void OnKeyUp(wchar_t ch) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void SetText(const wchar_t* text) { FgSetWidgetText(m_text, text); }

  // Links button into leader's group (leader first becomes a group of its own); members
  // get indexes 1, 2, ... in the order added. 0 for a null or grouped button, or a leader
  // that belongs to another group.
  static int32_t AddToGroup(CFgUIChkButton* leader, CFgUIChkButton* button);
  // The group's selected index; -1 when none or not grouped.
  static int32_t GetGroupSelection(CFgUIChkButton* button);
  // Checks member n (-1: none) and unchecks the old one; with giveFocus the member takes
  // its owner's focus. 0 for n below -1, an ungrouped button or no member n (then nothing
  // changes). Does not redraw.
  static int32_t SetGroupSelection(CFgUIChkButton* button, int32_t n, int32_t giveFocus);

  FgChkButtonCallback m_callback = nullptr;
  void* m_user = nullptr;
  wchar_t m_text[kFgWidgetTextUnits] = {};
  int32_t m_checked = 0;
  int32_t m_selection = -1;
  int32_t m_index = -1;
  CFgUIChkButton* m_leader = nullptr;
  CFgUIChkButton* m_nextMember = nullptr;
  CFgUIChkButton* m_last = nullptr;
  int32_t m_pressed = 0;

 private:
  void Press();
  void Activate();
};
