// sidepanel_stub_h21.cpp - TEMPORARY stand-in for the side panel's AddFilter, so that the
// filter lists and the menus' AddFilter can be built and tested before the side panel
// lands.  Dropped at merge in favour of the real body.
#include "app/mainscreen.h"

int32_t CSidePanel::AddFilter(CImgFilter* filter) {
  if (!filter) return 0;
  uint64_t index = 0;
  if (!CFilterCtrl::AddFilter(filter, &index)) return 0;
  SelectFilter(index);
  if (CFgUIObj::m_visible && m_mainScreen) {
    m_mainScreen->Redraw();
    m_mainScreen->Reprocess(0);
  }
  return 1;
}
