// window_cut.cpp - CLfWindowCut: four side boxes, the clearing on the frame and the
// settings.
//
// Controls and results:
//   a side box pressed   the side's flag = the box; frame processed (waits) when enabled
//   LoadParams           "top", "bottom", "left", "right" exactly "0" or "1"; a box whose key
//                        is present shows its flag; redraw
#include "filters/binary_geometry_fourier/window_cut.h"

#include "app/cfgfile.h"
#include "engine/small_islands.h"

FilterWindowPlace CLfWindowCut::s_classPlace;

CLfWindowCut::CLfWindowCut() : CFilterWindow(&s_classPlace) {
  // "左辺にかかった物体を除去", "上辺に...", "右辺に...", "下辺に..."
  m_layoutItems[0] = {&m_leftBox, L"erase left side object",
                      L"\x5DE6\x8FBA\x306B\x304B\x304B\x3063\x305F\x7269\x4F53\x3092\x9664\x53BB",
                      22, 10, 22, 10, 195, 20};
  m_layoutItems[1] = {&m_topBox, L"erase top side object",
                      L"\x4E0A\x8FBA\x306B\x304B\x304B\x3063\x305F\x7269\x4F53\x3092\x9664\x53BB",
                      22, 35, 22, 35, 195, 20};
  m_layoutItems[2] = {&m_rightBox, L"erase right side object",
                      L"\x53F3\x8FBA\x306B\x304B\x304B\x3063\x305F\x7269\x4F53\x3092\x9664\x53BB",
                      22, 60, 22, 60, 195, 20};
  m_layoutItems[3] = {&m_bottomBox, L"erase bottom side object",
                      L"\x4E0B\x8FBA\x306B\x304B\x304B\x3063\x305F\x7269\x4F53\x3092\x9664\x53BB",
                      22, 85, 22, 85, 195, 20};
  for (FilterLayoutItem& item : m_layoutItems) {
    auto* box = static_cast<CFgUIChkButton*>(item.control);
    box->m_checked = 1;
    box->m_callback = &CLfWindowCut::OnBox;
    box->m_user = this;
    AddChild(box);
  }
  m_layout = {m_layoutItems, 4, 235, 115, 235, 115, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
}

const wchar_t* CLfWindowCut::GetName(const wchar_t* language) {
  // "ウィンドウカット"
  return IsJapanese(language) ? L"\x30A6\x30A3\x30F3\x30C9\x30A6\x30AB\x30C3\x30C8"
                              : L"Window cut";
}

void CLfWindowCut::OnBox(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfWindowCut*>(user);
  const uint32_t on = button->m_checked ? 1 : 0;
  self->m_sides.Update([&](Sides& s) {
    if (button == &self->m_leftBox) s.left = on;
    else if (button == &self->m_topBox) s.top = on;
    else if (button == &self->m_rightBox) s.right = on;
    else s.bottom = on;
  });
  RequestIfEnabled(self, 0);
}

void CLfWindowCut::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                           int64_t height, uint32_t connectivity, uint32_t background) {
  if (!picture) return;
  const Sides s = m_sides.Snapshot();
  const RoiRect rect = ChainRectToRoi(x, y, width, height);
  WindowCutClearBorder(picture, int32_t(s.left), int32_t(s.top), int32_t(s.right),
                       int32_t(s.bottom), int32_t(connectivity), int32_t(background), &rect);
}

void CLfWindowCut::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Sides s = m_sides.Snapshot();
  PackWriteFlag(pack, L"top", s.top);
  PackWriteFlag(pack, L"bottom", s.bottom);
  PackWriteFlag(pack, L"left", s.left);
  PackWriteFlag(pack, L"right", s.right);
}

void CLfWindowCut::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Sides s = m_sides.Snapshot();
  struct Key {
    const wchar_t* key;
    uint32_t* flag;
    CFgUIChkButton* box;
  };
  const Key keys[4] = {{L"top", &s.top, &m_topBox},
                       {L"bottom", &s.bottom, &m_bottomBox},
                       {L"left", &s.left, &m_leftBox},
                       {L"right", &s.right, &m_rightBox}};
  for (const Key& k : keys) {
    int32_t found = 0;
    PackReadFlag(pack, k.key, k.flag, &found);  // anything but "0" or "1" is ignored
    if (found) k.box->m_checked = int32_t(*k.flag);
  }
  m_sides.Update([&](Sides& stored) { stored = s; });
  CFgUICtrl::Redraw();
}
