// csvviewer.h - the result table window of the tools that keep tables over many scenes.
//   CCsvViewer  a resizable window with one "File" menu ("Save CSV") over a cell grid whose
//               texts all come from the owner's cell-text callback; saves what it shows
#pragma once

#include <cstdint>

#include "toolkit/cell.h"
#include "toolkit/menu.h"
#include "toolkit/uiobj.h"

class CCsvViewer : public CFgUIDialog {
 public:
  CCsvViewer();
  ~CCsvViewer() override;

  // "jp" gives the Japanese menu, anything else the English one.
  void SetLanguage(const char* language);
  void OnSize(uint64_t width, uint64_t height) override;
  // The window system sends no size message for the first size: the grid is placed here.
  void OnCreate() override;
  static void OnMenu(CFgUIMenuBar* bar, void* viewer, int32_t menu, int32_t command);

  CFgUIMenuBar m_menuBar;
  CFgUICell m_cell;
  uint32_t m_english = 0;  // 0 Japanese texts, 1 English
};
