// convert.cpp - CLfConvert: the component list, the window, the enable rules, the frames and
// the settings.
// Inside: components - window - callbacks and rules - chain - settings
//
// Events and results:
//   component radio     sel = the group's index; frame processed (waits); rules
//   "color"             color = the box; frame processed (waits)
//   "CMYK"              cmyk = the box; frame processed (waits); rules
//   grey frame          passes unchanged; first after a colour one: every control off
//   colour frame        component extracted; first after a grey one: rules
//   LoadParams          group and boxes set from the settings; rules; no processing
#include "filters/colour_pixel/convert.h"

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/component.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfConvert::s_classPlace;

namespace {

struct ConvertButtonText {
  const wchar_t* en;
  const wchar_t* ja;
  int32_t xEn, yEn, xJa, yJa;
  int32_t mode, cmykMode;
};

// "R成分" ... : the "成分" ending; "グレー", "色相", "彩度", "輝度".  The English L* and C*
// carry no asterisk, a* and b* do.
#define QV_PART L"\x6210\x5206"
const ConvertButtonText kButtons[kConvertButtonCount] = {
    {L"R", L"R" QV_PART, 30, 10, 30, 10, 2, 2},
    {L"G", L"G" QV_PART, 30, 30, 30, 30, 3, 3},
    {L"B", L"B" QV_PART, 30, 50, 30, 50, 4, 4},
    {L"GRAY", L"\x30B0\x30EC\x30FC", 30, 70, 30, 70, 1, 1},
    {L"H", L"\x8272\x76F8", 70, 10, 100, 10, 5, 5},
    {L"S", L"\x5F69\x5EA6", 70, 30, 100, 30, 6, 6},
    {L"V", L"\x8F1D\x5EA6", 70, 50, 100, 50, 7, 7},
    {L"C", L"C" QV_PART, 110, 10, 170, 10, 8, 11},
    {L"M", L"M" QV_PART, 110, 30, 170, 30, 9, 12},
    {L"Y", L"Y" QV_PART, 110, 50, 170, 50, 10, 13},
    {L"K", L"K" QV_PART, 110, 70, 170, 70, 14, 14},
    {L"X", L"X" QV_PART, 150, 10, 240, 10, 15, 15},
    {L"Y", L"Y" QV_PART, 150, 30, 240, 30, 16, 16},
    {L"Z", L"Z" QV_PART, 150, 50, 240, 50, 17, 17},
    {L"L", L"L*" QV_PART, 190, 10, 310, 10, 18, 18},
    {L"a*", L"a*" QV_PART, 190, 30, 310, 30, 19, 19},
    {L"b*", L"b*" QV_PART, 190, 50, 310, 50, 20, 20},
    {L"C", L"C*" QV_PART, 230, 30, 380, 30, 21, 21},
    {L"h", L"h" QV_PART, 230, 50, 380, 50, 22, 22},
};
#undef QV_PART

constexpr int32_t kRadioWidthEn = 40, kRadioWidthJa = 70;

// The grey format of a colour format's depth class.
int32_t GreyOfClass(int32_t format) {
  switch (FormatClassBits(format)) {
    case 8: return ImgFormatGray8;
    case 16: return ImgFormatGray16;
    default: return ImgFormatGray32;
  }
}

}  // namespace

int32_t ConvertComponentMode(int32_t sel, uint32_t cmyk) {
  if (sel < 0 || sel >= kConvertButtonCount) return 0;
  return cmyk ? kButtons[sel].cmykMode : kButtons[sel].mode;
}

// ---------------------------------------------------------------------------------------
// Window
CLfConvert::CLfConvert() : CFilterWindow(&s_classPlace) {
  for (int32_t i = 0; i < kConvertButtonCount; ++i) {
    const ConvertButtonText& t = kButtons[i];
    m_layoutItems[i] = {&m_radio[i], t.en, t.ja, t.xEn, t.yEn, t.xJa, t.yJa, kRadioWidthEn, 20};
    m_radio[i].m_callback = &CLfConvert::OnComponentChanged;
    m_radio[i].m_user = this;
    if (i > 0) CFgUIChkButton::AddToGroup(&m_radio[0], &m_radio[i]);
  }
  // "色を着ける"
  m_layoutItems[kConvertButtonCount] = {&m_colorBox, L"color", L"\x8272\x3092\x7740\x3051\x308B",
                                        30, 95, 30, 95, 100, 20};
  m_layoutItems[kConvertButtonCount + 1] = {&m_cmykBox, L"CMYK", L"CMYK", 110, 95, 170, 95,
                                            100, 20};
  m_colorBox.m_callback = &CLfConvert::OnColorChanged;
  m_colorBox.m_user = this;
  m_cmykBox.m_callback = &CLfConvert::OnCmykChanged;
  m_cmykBox.m_user = this;
  for (int32_t i = 0; i < kConvertButtonCount; ++i) AddChild(&m_radio[i]);
  AddChild(&m_colorBox);
  AddChild(&m_cmykBox);
  m_layout = {m_layoutItems, kConvertButtonCount + 2, 290, 125, 465, 125, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  const Settings s = m_settings.Snapshot();
  CFgUIChkButton::SetGroupSelection(&m_radio[0], s.sel, 0);
  m_colorBox.m_checked = int32_t(s.color);
  m_cmykBox.m_checked = int32_t(s.cmyk);
  UpdateControls();
}

const wchar_t* CLfConvert::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x6210\x5206\x62BD\x51FA" : L"Component extraction";
}

void CLfConvert::ShowDialog(int32_t show, CFgScreen* parent) {
  // The radio buttons are wider in Japanese; the layout table holds one width per control.
  const int32_t width = IsJapanese(m_language) ? kRadioWidthJa : kRadioWidthEn;
  for (int32_t i = 0; i < kConvertButtonCount; ++i) m_layoutItems[i].width = width;
  CFilterWindow::ShowDialog(show, parent);
}

// ---------------------------------------------------------------------------------------
// Callbacks and rules
void CLfConvert::OnComponentChanged(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfConvert*>(user);
  const int32_t sel = CFgUIChkButton::GetGroupSelection(button);
  if (sel < 0 || sel >= kConvertButtonCount) return;
  self->m_settings.Update([&](Settings& s) { s.sel = sel; });
  RequestIfEnabled(self, 0);
  self->UpdateControls();
}

void CLfConvert::OnColorChanged(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfConvert*>(user);
  const uint32_t color = button->m_checked ? 1 : 0;
  self->m_settings.Update([&](Settings& s) { s.color = color; });
  RequestIfEnabled(self, 0);
}

void CLfConvert::OnCmykChanged(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfConvert*>(user);
  const uint32_t cmyk = button->m_checked ? 1 : 0;
  self->m_settings.Update([&](Settings& s) { s.cmyk = cmyk; });
  RequestIfEnabled(self, 0);
  self->UpdateControls();
}

void CLfConvert::UpdateControls(int32_t windowEnabled) {
  // The worker changes widget state only inside the draw lock, as every drawing does; the
  // UI thread takes it too, so the two never interleave on one control.
  PlatformLockHold draw(FgDrawLock());
  if (windowEnabled || CFgUICtrl::m_enabled) {
    const Settings s = m_settings.Snapshot();
    if (m_grayInput.load()) {
      for (CFgUIChkButton& r : m_radio) SetControlEnabled(&r, 0);
      SetControlEnabled(&m_colorBox, 0);
      SetControlEnabled(&m_cmykBox, 0);
    } else {
      for (int32_t i = 0; i < kConvertButtonCount; ++i)
        SetControlEnabled(&m_radio[i], i != kConvertIndexK || s.cmyk != 0);
      SetControlEnabled(&m_colorBox, s.sel != kConvertIndexGray && s.sel != kConvertIndexV &&
                                         s.sel != kConvertIndexL);
      SetControlEnabled(&m_cmykBox, s.sel != kConvertIndexK);
    }
  }
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Chain
void CLfConvert::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                         int64_t height, uint32_t, uint32_t) {
  const int32_t format = picture ? picture->Format() : 0;
  const uint32_t grey = format >= 4 && format <= 9 ? 0 : 1;
  if (m_grayInput.exchange(grey) != grey) UpdateControls();
  if (grey) return;
  const Settings s = m_settings.Snapshot();
  const RoiRect roi = ChainRectToRoi(x, y, width, height);
  // A refused rectangle leaves the frame as it is; nothing to report.
  ExtractComponent(picture, ConvertComponentMode(s.sel, s.cmyk), int32_t(s.color), &roi);
  const RoiRect whole{0, 0, picture->Width() - 1, picture->Height() - 1};
  if (!s.color && roi.x0 == whole.x0 && roi.y0 == whole.y0 && roi.x1 == whole.x1 &&
      roi.y1 == whole.y1)
    picture->record->ConvertTo(GreyOfClass(format));
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfConvert::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Settings s = m_settings.Snapshot();
  PackWriteFlag(pack, L"cmyk", s.cmyk);
  PackWriteFlag(pack, L"color", s.color);
  PackWriteSigned(pack, L"sel", s.sel);
}

void CLfConvert::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Settings s = m_settings.Snapshot();
  PackReadFlag(pack, L"cmyk", &s.cmyk, nullptr);
  PackReadFlag(pack, L"color", &s.color, nullptr);
  int64_t sel = s.sel;
  // Read as "%d" reads it: "1x" is 1, text without digits 0 (R); only a button's index.
  if (PackReadSigned(pack, L"sel", 0, kConvertButtonCount - 1, &sel, nullptr))
    s.sel = int32_t(sel);
  m_settings.Update([&](Settings& stored) { stored = s; });
  {
    PlatformLockHold draw(FgDrawLock());
    m_colorBox.m_checked = int32_t(s.color);
    m_cmykBox.m_checked = int32_t(s.cmyk);
    CFgUIChkButton::SetGroupSelection(&m_radio[0], s.sel, 0);
  }
  UpdateControls();
}
