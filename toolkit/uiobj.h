// uiobj.h - the widget base, the widget container and the dialog.
//
//   CFgUIObj     base widget: rectangle in client pixels, visible / enabled / focused /
//                tab-stop / in-callback flags, sibling links and owner
//   CFgUICtrl    container: eight colour triples, the ordered child list, focused,
//                capturing and hovered child, the screen it draws into, its font;
//                routes mouse input, moves the focus, redraws the whole window
//   CFgUIDialog  a CFgScreen joined with a CFgUICtrl: every dialog and tool window
//
// Children are members of their dialog (never owned or deleted by the container), added
// once in drawing order and never removed. Widgets report to their owner through a plain
// function pointer and a user pointer; the owner then reads the widget's state.
#pragma once

#include <cstdint>

#include "toolkit/screen.h"

class CFgFont;
class CFgUICtrl;

class CFgUIObj : public CFgInput {
 public:
  CFgUIObj();
  ~CFgUIObj() override;
  CFgUIObj(const CFgUIObj&) = delete;
  CFgUIObj& operator=(const CFgUIObj&) = delete;

  // Key flags are the owner's screen's (the one process-wide word); 0 without a screen.
  void SetKeyFlags(uint16_t flags) override;
  uint16_t GetKeyFlags() override;
  // Tab / Enter move the focus forward, Shift+Tab / Escape back.
  void OnKeyUp(wchar_t ch) override;

  // Draws in window pixels (its own x, y) inside a drawing section of screen.
  virtual void Draw(CFgScreen* screen, CFgFont* font);
  virtual void OnAttach();
  virtual void OnRect(int32_t x, int32_t y, int32_t width, int32_t height);
  virtual void OnShow(int32_t shown, intptr_t argument);
  virtual void OnEnable(int32_t enabled);
  virtual void OnFocus();
  virtual void OnBlur(CFgUIObj* next);
  virtual void OnMouseEnter();
  virtual void OnMouseLeave();

  int32_t SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
  void Show(int32_t shown, intptr_t argument = 0);
  void CaptureMouse();
  // Gives up the capture when this widget holds it (button release of capturing widgets).
  void ReleaseMouse();
  int32_t FocusPrevious();
  // The owner's screen, or null.
  CFgScreen* GetScreen() const;
  int32_t Contains(int32_t x, int32_t y) const;

  int32_t m_x = 0, m_y = 0, m_width = 0, m_height = 0;
  int32_t m_visible = 1;
  int32_t m_enabled = 1;
  int32_t m_focused = 0;
  int32_t m_tabStop = 1;
  int32_t m_inCallback = 0;
  CFgUIObj* m_next = nullptr;
  CFgUIObj* m_prev = nullptr;
  CFgUICtrl* m_owner = nullptr;
};

// Colour triples of a container, by number.
enum : int {
  FgColorFieldText = 0,
  FgColorFieldWhite = 1,
  FgColorFieldHighlight = 2,
  FgColorBarDrawing = 3,
  FgColorControlText = 4,
  FgColorFace = 5,
  FgColorFocusedFace = 6,
  FgColorDisabledText = 7,
  FgColorCount = 8
};

class CFgUICtrl {
 public:
  CFgUICtrl();
  virtual ~CFgUICtrl();
  CFgUICtrl(const CFgUICtrl&) = delete;
  CFgUICtrl& operator=(const CFgUICtrl&) = delete;

  virtual void DrawBackground();
  virtual void DrawOverlay();
  virtual void OnEnableAll();

  void AddChild(CFgUIObj* child);
  int32_t SetFocus(CFgUIObj* child);
  int32_t FocusNext();
  void Redraw();
  void EnableAll(int32_t on);

  // Routing: x, y in client pixels of the container's window.
  void OnMouseMove(int32_t x, int32_t y);
  void OnLButtonDown(int32_t x, int32_t y);
  void OnLButtonUp(int32_t x, int32_t y);
  void OnRButtonDown(int32_t x, int32_t y);
  void OnRButtonUp(int32_t x, int32_t y);
  void OnMButtonDown(int32_t x, int32_t y);
  void OnMButtonUp(int32_t x, int32_t y);
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches);

  // Colour triples: set one, or make one the current GL colour (inside a drawing section).
  void SetColor(int index, double r, double g, double b);
  void UseColor(int index) const;

  double m_colors[FgColorCount][3];
  CFgUIObj* m_firstChild = nullptr;
  CFgUIObj* m_lastChild = nullptr;
  CFgUIObj* m_focusChild = nullptr;
  CFgUIObj* m_captureChild = nullptr;
  CFgUIObj* m_hoverChild = nullptr;
  CFgScreen* m_screen = nullptr;
  // The container's font (size 14, default face) for its children's text; owned.
  CFgFont* m_font = nullptr;
  int32_t m_enabled = 1;

 private:
  enum class MouseEvent { Move, LDown, LUp, RDown, RUp, MDown, MUp, Wheel };
  void Route(MouseEvent event, int32_t x, int32_t y, int32_t notches);
};

// Hooks through which the font code gives every dialog its container font, and keeps
// rendered glyph pages shared across windows. By default they are the glyph font's own
// (font.h); hooks set to null leave the font null.
struct FgContainerFontHooks {
  CFgFont* (*create)(CFgScreen* screen) = nullptr;  // size 14, default face, bound to screen
  void (*destroy)(CFgFont* font) = nullptr;         // called with the draw lock held
  void (*share)(CFgFont* font) = nullptr;           // exchange pages with the default font
};
void FgSetContainerFontHooks(const FgContainerFontHooks& hooks);

class CFgUIDialog : public CFgScreen, public CFgUICtrl {
 public:
  CFgUIDialog();
  ~CFgUIDialog() override;

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnRButtonDown(int32_t x, int32_t y) override;
  void OnRButtonUp(int32_t x, int32_t y) override;
  void OnMButtonDown(int32_t x, int32_t y) override;
  void OnMButtonUp(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void OnSpecialKeyDown(uint16_t code) override;
  void OnSpecialKeyUp(uint16_t code) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void OnKeyDown(wchar_t ch) override;
  void OnKeyUp(wchar_t ch) override;
  void OnChar(wchar_t ch) override;

  int32_t OnClose() override;
  void OnCreate() override;
  void OnExpose() override;
  void DrawBackground() override;

 private:
  // The focused child when it may take keys (visible and enabled), else null.
  CFgUIObj* KeyTarget() const;
};
