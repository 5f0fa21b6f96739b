// noise_remover.cpp - CLfNoiseRemover: two limit boxes with their switches, the removal on
// the frame and the settings.
//
// Controls and results:
//   a limit box left       digits only, at most 4294967295: the typed limit, and the limit
//                          in force when switched on (frame processed, waits); other text:
//                          the typed limit shows again, nothing else
//   a switch pressed       limit in force = typed limit or 0; rule; frame processed (waits)
//   LoadParams             switches, typed limits (the box shows the item's text) and the
//                          limits in force; a limit switched off is 0; rule; redraw
#include "filters/binary_geometry_fourier/noise_remover.h"

#include <cwchar>

#include "app/cfgfile.h"
#include "engine/small_islands.h"
#include "filters/binary_geometry_fourier/whole_numbers.h"

FilterWindowPlace CLfNoiseRemover::s_classPlace;

namespace {

void ShowNumber(CFgUIEdit* edit, uint32_t value) {
  wchar_t text[16];
  swprintf(text, 16, L"%u", value);
  edit->SetLine(0, text);
}

}  // namespace

CLfNoiseRemover::CLfNoiseRemover() : CFilterWindow(&s_classPlace) {
  // "pixel以下を削除", "pixel以上を削除"
  m_layoutItems[0] = {&m_minEdit, nullptr, nullptr, 25, 10, 10, 10, 60, 20};
  m_layoutItems[1] = {&m_maxEdit, nullptr, nullptr, 25, 35, 10, 35, 60, 20};
  m_layoutItems[2] = {&m_minBox, L"pixel under del", L"pixel\x4EE5\x4E0B\x3092\x524A\x9664",
                      90, 10, 75, 10, 140, 20};
  m_layoutItems[3] = {&m_maxBox, L"pixel over del", L"pixel\x4EE5\x4E0A\x3092\x524A\x9664",
                      90, 35, 75, 35, 140, 20};
  for (FilterLayoutItem& item : m_layoutItems) AddChild(item.control);
  ShowNumber(&m_minEdit, m_uiMin);  // before the callbacks are attached
  ShowNumber(&m_maxEdit, m_uiMax);
  m_minBox.m_checked = 1;
  m_maxBox.m_checked = 0;
  m_minEdit.OnFocusLost = &CLfNoiseRemover::OnMinLeft;
  m_maxEdit.OnFocusLost = &CLfNoiseRemover::OnMaxLeft;
  m_minEdit.CallbackArg = m_maxEdit.CallbackArg = this;
  m_minBox.m_callback = &CLfNoiseRemover::OnMinBox;
  m_maxBox.m_callback = &CLfNoiseRemover::OnMaxBox;
  m_minBox.m_user = m_maxBox.m_user = this;
  m_layout = {m_layoutItems, 4, 250, 65, 220, 65, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  UpdateControls();
}

const wchar_t* CLfNoiseRemover::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x30CE\x30A4\x30BA\x9664\x53BB" : L"Noise remover";  // "ノイズ除去"
}

void CLfNoiseRemover::UpdateControls() {
  SetControlEnabled(&m_minEdit, m_enableMin != 0);
  SetControlEnabled(&m_maxEdit, m_enableMax != 0);
}

// A number beyond 32 bits is refused like any other bad text: wrapping it would switch the
// limit off (4294967296 gives 0) while the box still shows the digits.  An accepted text is
// left as typed.
void CLfNoiseRemover::LeaveBox(CFgUIEdit* edit, uint32_t* typed, uint32_t enabled,
                               int32_t upper) {
  uint64_t value = 0;
  if (!ReadDigitsOnly(edit->GetText(), UINT32_MAX, &value)) {
    ShowNumber(edit, *typed);
    CFgUICtrl::Redraw();
    return;
  }
  *typed = uint32_t(value);
  if (!enabled) return;
  m_limits.Update([&](Limits& l) { (upper ? l.max : l.min) = uint32_t(value); });
  RequestIfEnabled(this, 0);
}

void CLfNoiseRemover::OnMinLeft(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfNoiseRemover*>(user);
  self->LeaveBox(edit, &self->m_uiMin, self->m_enableMin, 0);
}

void CLfNoiseRemover::OnMaxLeft(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfNoiseRemover*>(user);
  self->LeaveBox(edit, &self->m_uiMax, self->m_enableMax, 1);
}

void CLfNoiseRemover::OnMinBox(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfNoiseRemover*>(user);
  self->m_enableMin = button->m_checked ? 1 : 0;
  self->UpdateControls();
  const uint32_t limit = self->m_enableMin ? self->m_uiMin : 0;
  self->m_limits.Update([&](Limits& l) { l.min = limit; });
  RequestIfEnabled(self, 0);
}

void CLfNoiseRemover::OnMaxBox(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfNoiseRemover*>(user);
  self->m_enableMax = button->m_checked ? 1 : 0;
  self->UpdateControls();
  const uint32_t limit = self->m_enableMax ? self->m_uiMax : 0;
  self->m_limits.Update([&](Limits& l) { l.max = limit; });
  RequestIfEnabled(self, 0);
}

void CLfNoiseRemover::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y,
                              int64_t width, int64_t height, uint32_t connectivity,
                              uint32_t background) {
  if (!picture) return;
  const Limits l = m_limits.Snapshot();
  const RoiRect rect = ChainRectToRoi(x, y, width, height);
  // The engine takes the upper limit as a signed word and reads it back as unsigned.
  RemoveSmallIslands(picture, l.min, int32_t(l.max), int32_t(connectivity),
                     int32_t(background), &rect);
}

void CLfNoiseRemover::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Limits l = m_limits.Snapshot();
  PackWriteFlag(pack, L"enable_min", m_enableMin);
  PackWriteFlag(pack, L"enable_max", m_enableMax);
  PackWriteUnsigned(pack, L"ui_min", m_uiMin);
  PackWriteUnsigned(pack, L"ui_max", m_uiMax);
  PackWriteUnsigned(pack, L"param_min", l.min);
  PackWriteUnsigned(pack, L"param_max", l.max);
}

void CLfNoiseRemover::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int32_t found = 0;
  PackReadFlag(pack, L"enable_min", &m_enableMin, &found);
  if (found) m_minBox.m_checked = int32_t(m_enableMin);
  PackReadFlag(pack, L"enable_max", &m_enableMax, &found);
  if (found) m_maxBox.m_checked = int32_t(m_enableMax);
  // The numbers are read as the C library's unsigned conversion reads them ("-3" is
  // 4294967293); the box shows the item's own text until it next loses the focus.
  const CCfgItem* item = pack->FindItem(L"ui_min");
  if (item && item->value) {
    m_uiMin = uint32_t(ReadUnsignedWrapping(item->value, 32));
    m_minEdit.SetLine(0, item->value);
  }
  item = pack->FindItem(L"ui_max");
  if (item && item->value) {
    m_uiMax = uint32_t(ReadUnsignedWrapping(item->value, 32));
    m_maxEdit.SetLine(0, item->value);
  }
  Limits l = m_limits.Snapshot();
  item = pack->FindItem(L"param_min");
  if (item && item->value) l.min = uint32_t(ReadUnsignedWrapping(item->value, 32));
  item = pack->FindItem(L"param_max");
  if (item && item->value) l.max = uint32_t(ReadUnsignedWrapping(item->value, 32));
  // A limit whose switch is off is off whatever the pack says: the box shows it so.
  if (!m_enableMin) l.min = 0;
  if (!m_enableMax) l.max = 0;
  m_limits.Update([&](Limits& stored) { stored = l; });
  UpdateControls();
  CFgUICtrl::Redraw();
}
