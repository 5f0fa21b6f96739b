// select.cpp - CLfSelect: the component radio grid, its "CMYK" box, the code it hands on
// and its settings.
// Inside: code - window - callbacks and rules - chain - settings
//
// Controls and results:
//   radio pressed     sel = the group's index; frame processed (waits); rules
//   "CMYK" pressed    cmyk = the box; frame processed (waits); rules
//   LoadParams        group and box set from the settings (focus stays); rules; redraw
#include "filters/colour_pixel/select.h"

#include "app/cfgfile.h"

FilterWindowPlace CLfSelect::s_classPlace;

namespace {

struct SelectButtonText {
  const wchar_t* en;
  const wchar_t* ja;
  int32_t xEn, yEn, xJa, yJa;
};

// "全て", "R成分", "色相", "彩度", "輝度" and the "成分" ending of the rest.
#define QV_PART L"\x6210\x5206"
const SelectButtonText kButtons[kSelectButtonCount] = {
    {L"ALL", L"\x5168\x3066", 20, 95, 20, 95},
    {L"R", L"R" QV_PART, 20, 10, 20, 10},
    {L"G", L"G" QV_PART, 20, 30, 20, 30},
    {L"B", L"B" QV_PART, 20, 50, 20, 50},
    {L"H", L"\x8272\x76F8", 70, 10, 90, 10},
    {L"S", L"\x5F69\x5EA6", 70, 30, 90, 30},
    {L"V", L"\x8F1D\x5EA6", 70, 50, 90, 50},
    {L"C", L"C" QV_PART, 120, 10, 160, 10},
    {L"M", L"M" QV_PART, 120, 30, 160, 30},
    {L"Y", L"Y" QV_PART, 120, 50, 160, 50},
    {L"K", L"K" QV_PART, 120, 70, 160, 70},
    {L"X", L"X" QV_PART, 170, 10, 230, 10},
    {L"Y", L"Y" QV_PART, 170, 30, 230, 30},
    {L"Z", L"Z" QV_PART, 170, 50, 230, 50},
    {L"L*", L"L*" QV_PART, 220, 10, 300, 10},
    {L"a*", L"a*" QV_PART, 220, 30, 300, 30},
    {L"b*", L"b*" QV_PART, 220, 50, 300, 50},
    {L"C*", L"C*" QV_PART, 270, 30, 370, 30},
    {L"h", L"h" QV_PART, 270, 50, 370, 50},
};
#undef QV_PART

}  // namespace

uint32_t SelectComponentCode(int32_t sel, uint32_t cmyk) {
  if (cmyk && sel >= 7 && sel <= 9) return uint32_t(sel + 3);
  if (sel >= kSelectIndexK) return uint32_t(sel + 3);
  return sel < 0 ? 0u : uint32_t(sel);
}

// ---------------------------------------------------------------------------------------
// Window
CLfSelect::CLfSelect() : CFilterWindow(&s_classPlace) {
  for (int32_t i = 0; i < kSelectButtonCount; ++i) {
    const SelectButtonText& t = kButtons[i];
    m_layoutItems[i] = {&m_radio[i], t.en, t.ja, t.xEn, t.yEn, t.xJa, t.yJa, 70, 20};
    m_radio[i].SetText(t.en);
    m_radio[i].m_callback = &CLfSelect::OnRadio;
    m_radio[i].m_user = this;
    AddChild(&m_radio[i]);
    if (i > 0) CFgUIChkButton::AddToGroup(&m_radio[0], &m_radio[i]);
  }
  m_layoutItems[kSelectButtonCount] = {&m_cmykBox, L"CMYK", L"CMYK", 120, 95, 160, 95, 100, 20};
  m_cmykBox.SetText(L"CMYK");
  m_cmykBox.m_callback = &CLfSelect::OnCmyk;
  m_cmykBox.m_user = this;
  AddChild(&m_cmykBox);
  m_layout = {m_layoutItems, kSelectButtonCount + 1, 325, 125, 450, 125, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  CFgUIChkButton::SetGroupSelection(&m_radio[0], 0, 0);
  m_cmykBox.m_checked = 0;
  ApplyEnableRules();
}

const wchar_t* CLfSelect::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x6210\x5206\x9078\x629E" : L"Select components";
}

// ---------------------------------------------------------------------------------------
// Callbacks and rules
void CLfSelect::OnRadio(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfSelect*>(user);
  int32_t sel = CFgUIChkButton::GetGroupSelection(button);
  if (sel < 0 || sel >= kSelectButtonCount) return;
  self->m_settings.Update([&](Settings& s) { s.sel = sel; });
  RequestIfEnabled(self, 0);
  self->ApplyEnableRules();
}

void CLfSelect::OnCmyk(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfSelect*>(user);
  uint32_t cmyk = button->m_checked ? 1 : 0;
  self->m_settings.Update([&](Settings& s) { s.cmyk = cmyk; });
  RequestIfEnabled(self, 0);
  self->ApplyEnableRules();
}

void CLfSelect::ApplyEnableRules() {
  Settings s = m_settings.Snapshot();
  SetControlEnabled(&m_cmykBox, s.sel != kSelectIndexK);
  SetControlEnabled(&m_radio[kSelectIndexK], s.cmyk != 0);
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Chain
uint32_t CLfSelect::CurrentCode() const {
  Settings s = m_settings.Snapshot();
  return SelectComponentCode(s.sel, s.cmyk);
}

void CLfSelect::ProcessChain(CImgBuff*, uint64_t, int64_t*, int64_t*, int64_t*, int64_t*,
                             uint32_t*, uint32_t*, uint32_t* component, uint32_t*) {
  if (component) *component = CurrentCode();
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfSelect::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  Settings s = m_settings.Snapshot();
  PackWriteFlag(pack, L"cmyk", s.cmyk);
  PackWriteSigned(pack, L"sel", s.sel);
}

void CLfSelect::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Settings s = m_settings.Snapshot();
  PackReadFlag(pack, L"cmyk", &s.cmyk, nullptr);
  int64_t sel = s.sel;
  // Signed decimal as "%d" reads it ("1x" is 1); only an index of a button is taken.
  if (PackReadSigned(pack, L"sel", 0, kSelectButtonCount - 1, &sel, nullptr))
    s.sel = int32_t(sel);
  m_settings.Update([&](Settings& stored) { stored = s; });
  CFgUIChkButton::SetGroupSelection(&m_radio[0], s.sel, 0);
  m_cmykBox.m_checked = int32_t(s.cmyk);
  ApplyEnableRules();
}
