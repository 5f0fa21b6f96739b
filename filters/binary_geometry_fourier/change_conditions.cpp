// change_conditions.cpp - CLfConfig: two radio groups, the chain values it writes and its
// settings.
//
// Controls and results:
//   "4" / "8"            connect stored; frame processed (waits) when enabled with a host
//   "black" / "white"    bg stored; likewise
//   first ShowDialog     the controller's connectivity and background copied, once
//   LoadParams           "connect" exactly "4" or "8", "bg" exactly "0" or "1"; redraw
#include "filters/binary_geometry_fourier/change_conditions.h"

#include <cwchar>

#include "app/cfgfile.h"
#include "app/filterctrl.h"

FilterWindowPlace CLfConfig::s_classPlace;

CLfConfig::CLfConfig() : CFilterWindow(&s_classPlace) {
  // "近傍接続", "黒", "背景色", "白"
  m_layoutItems[0] = {&m_connectLabel, L"connect", L"\x8FD1\x508D\x63A5\x7D9A", 8, 8, 8, 8, 64, 20};
  m_layoutItems[1] = {&m_connect4, L"4", L"4", 8, 28, 8, 28, 60, 20};
  m_layoutItems[2] = {&m_connect8, L"8", L"8", 106, 28, 106, 28, 60, 20};
  m_layoutItems[3] = {&m_bgLabel, L"bg color", L"\x80CC\x666F\x8272", 8, 54, 8, 54, 64, 20};
  m_layoutItems[4] = {&m_black, L"black", L"\x9ED2", 8, 74, 8, 74, 64, 20};
  m_layoutItems[5] = {&m_white, L"white", L"\x767D", 106, 74, 106, 74, 64, 20};
  for (FilterLayoutItem& item : m_layoutItems) AddChild(item.control);
  CFgUIChkButton::AddToGroup(&m_connect4, &m_connect8);
  CFgUIChkButton::AddToGroup(&m_black, &m_white);
  m_connect4.m_callback = m_connect8.m_callback = &CLfConfig::OnConnect;
  m_black.m_callback = m_white.m_callback = &CLfConfig::OnBackground;
  m_connect4.m_user = m_connect8.m_user = m_black.m_user = m_white.m_user = this;
  m_layout = {m_layoutItems, 6, 176, 100, 176, 100, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  ShowValues();
}

const wchar_t* CLfConfig::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x6761\x4EF6\x5909\x66F4" : L"Change conditions";  // "条件変更"
}

void CLfConfig::ShowValues() {
  CFgUIChkButton::SetGroupSelection(&m_connect4, m_connect.load() == 4 ? 0 : 1, 0);
  CFgUIChkButton::SetGroupSelection(&m_black, m_bg.load() == 0 ? 0 : 1, 0);
}

// The copy is made once in the filter's life, before the filter's own keys of a pack are
// read (the base LoadParams shows or hides first), so loaded values win over it.  A run
// writes its changes through the controller's two fields and puts them back at its end:
// reading them while a run goes on could copy another CLfConfig's values, so the copy
// waits until the worker is idle.
void CLfConfig::ShowDialog(int32_t show, CFgScreen* parent) {
  if (!m_takenFromHost && m_host) {
    m_host->WaitIdle();
    const uint32_t connect = m_host->m_connectivity;
    const uint32_t bg = m_host->m_background;
    m_connect.store(connect == 4 ? 4 : 8);
    m_bg.store(bg ? 1 : 0);
    m_takenFromHost = 1;
    ShowValues();
  }
  CFilterWindow::ShowDialog(show, parent);
}

void CLfConfig::OnConnect(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfConfig*>(user);
  self->m_connect.store(button == &self->m_connect4 ? 4 : 8);
  RequestIfEnabled(self, 0);
}

void CLfConfig::OnBackground(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfConfig*>(user);
  self->m_bg.store(button == &self->m_black ? 0 : 1);
  RequestIfEnabled(self, 0);
}

// Only the chain state changes; the runner puts both values back when the run ends.
void CLfConfig::ProcessChain(CImgBuff*, uint64_t, int64_t*, int64_t*, int64_t*, int64_t*,
                             uint32_t* connectivity, uint32_t* background, uint32_t*,
                             uint32_t*) {
  if (connectivity) *connectivity = m_connect.load();
  if (background) *background = m_bg.load();
}

void CLfConfig::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  pack->AddItem(L"connect", m_connect.load() == 4 ? L"4" : L"8");
  pack->AddItem(L"bg", m_bg.load() ? L"1" : L"0");
}

void CLfConfig::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  const CCfgItem* connect = pack->FindItem(L"connect");
  if (connect && connect->value) {
    if (wcscmp(connect->value, L"4") == 0) m_connect.store(4);
    else if (wcscmp(connect->value, L"8") == 0) m_connect.store(8);
  }
  uint32_t bg = m_bg.load();
  if (PackReadFlag(pack, L"bg", &bg, nullptr)) m_bg.store(bg);
  ShowValues();
  CFgUICtrl::Redraw();
}
