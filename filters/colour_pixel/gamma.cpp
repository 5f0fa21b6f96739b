// gamma.cpp - CLfGamma: three curve modes, a level table for 8- and 16-bit pictures and the
// direct curve for 32-bit ones.
// Inside: exponent - window - callbacks and rules - process - settings
//
// Controls and results:
//   radio pressed         type = index; rules; redraw; table rebuilt; frame processed (waits)
//   "correction" pressed  rev = box; in type 0 only: table rebuilt, frame processed (waits)
//   edit box left         an unsigned decimal is stored; the active mode's box rebuilds the
//                         table and processes the frame; a refused text shows the stored value
//   LoadParams            boxes and group follow the settings; rules; redraw; table rebuilt
#include "filters/colour_pixel/gamma.h"

#include <cwchar>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/text.h"

FilterWindowPlace CLfGamma::s_classPlace;

namespace {

void SetEditDouble(CFgUIEdit* edit, double value) {
  wchar_t text[400];
  if (swprintf(text, 400, L"%lf", value) < 0) text[0] = 0;
  TrimTrailingZeros(text);
  edit->SetLine(0, text);
}

void FreeLevelLut(const LevelLut* lut) { FreeLut(const_cast<LevelLut*>(lut)); }

}  // namespace

int32_t GammaExponent(uint32_t type, double gamma, uint32_t rev, double from, double to,
                      double* outG0, double* outG1) {
  double g0 = 1, g1 = 1;
  switch (type) {
    case 0: g0 = rev ? gamma : 1.0; g1 = rev ? 1.0 : gamma; break;
    case 1: g0 = to; g1 = from; break;
    case 2: g0 = from; g1 = to; break;
    default: return 0;
  }
  *outG0 = g0;
  *outG1 = g1;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Window
CLfGamma::CLfGamma() : CFilterWindow(&s_classPlace) {
  // "ガンマ変換", "画像を補正", "表示を再現", "ガンマ", "補正", "元環境", "新環境"
  m_layoutItems[0] = {&m_radio[0], L"gamma", L"\x30AC\x30F3\x30DE\x5909\x63DB", 10, 10, 10, 10, 100, 20};
  m_layoutItems[1] = {&m_radio[1], L"correction", L"\x753B\x50CF\x3092\x88DC\x6B63", 10, 40, 10, 40, 100, 20};
  m_layoutItems[2] = {&m_radio[2], L"view", L"\x8868\x793A\x3092\x518D\x73FE", 10, 70, 10, 70, 100, 20};
  m_layoutItems[3] = {&m_gammaLabel, L"gamma", L"\x30AC\x30F3\x30DE", 120, 10, 120, 10, 40, 20};
  m_layoutItems[4] = {&m_gammaEdit, nullptr, nullptr, 185, 10, 165, 10, 40, 20};
  // The two languages differ in width here: one rectangle serves both, the wider one.
  m_layoutItems[5] = {&m_revBox, L"correction", L"\x88DC\x6B63", 235, 10, 215, 10, 100, 20};
  m_layoutItems[6] = {&m_fromLabel, L"orignal", L"\x5143\x74B0\x5883", 120, 55, 120, 55, 55, 20};
  m_layoutItems[7] = {&m_fromEdit, nullptr, nullptr, 185, 55, 165, 55, 40, 20};
  m_layoutItems[8] = {&m_toLabel, L"new", L"\x65B0\x74B0\x5883", 225, 55, 215, 55, 40, 20};
  m_layoutItems[9] = {&m_toEdit, nullptr, nullptr, 260, 55, 260, 55, 40, 20};
  for (int32_t i = 0; i < 3; ++i) {
    m_radio[i].m_callback = &CLfGamma::OnRadio;
    m_radio[i].m_user = this;
  }
  m_revBox.m_callback = &CLfGamma::OnRev;
  m_revBox.m_user = this;
  for (CFgUIEdit* edit : {&m_gammaEdit, &m_fromEdit, &m_toEdit}) {
    edit->OnFocusLost = &CLfGamma::OnEditLeft;
    edit->CallbackArg = this;
  }
  for (const FilterLayoutItem& item : m_layoutItems) AddChild(item.control);
  CFgUIChkButton::AddToGroup(&m_radio[0], &m_radio[1]);
  CFgUIChkButton::AddToGroup(&m_radio[0], &m_radio[2]);
  m_layout = {m_layoutItems, 10, 350, 100, 310, 100, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  Settings s = m_settings.Snapshot();
  CFgUIChkButton::SetGroupSelection(&m_radio[0], 0, 0);
  SetEditDouble(&m_gammaEdit, s.gamma);
  SetEditDouble(&m_fromEdit, s.from);
  SetEditDouble(&m_toEdit, s.to);
  m_revBox.m_checked = int32_t(s.rev);
  ApplyEnableRules();
  BuildTable();
}

const wchar_t* CLfGamma::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x30AC\x30F3\x30DE\x5909\x63DB" : L"Gamma";
}

void CLfGamma::BuildTable() {
  Settings s = m_settings.Snapshot();
  double g0, g1;
  std::shared_ptr<const LevelLut> table;
  if (GammaExponent(s.type, s.gamma, s.rev, s.from, s.to, &g0, &g1)) {
    LevelLut* lut = BuildGammaLut(g0, g1);
    if (lut) table = std::shared_ptr<const LevelLut>(lut, &FreeLevelLut);
  }
  m_settings.Update([&](Settings& stored) { stored.table = std::move(table); });
}

// ---------------------------------------------------------------------------------------
// Callbacks and rules
void CLfGamma::OnRadio(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfGamma*>(user);
  int32_t type = CFgUIChkButton::GetGroupSelection(button);
  if (type < 0 || type > 2) return;
  self->m_settings.Update([&](Settings& s) { s.type = uint32_t(type); });
  self->ApplyEnableRules();
  self->BuildTable();
  RequestIfEnabled(self, 0);
}

void CLfGamma::OnRev(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfGamma*>(user);
  uint32_t rev = button->m_checked ? 1 : 0;
  uint32_t type = 0;
  self->m_settings.Update([&](Settings& s) {
    s.rev = rev;
    type = s.type;
  });
  if (type != 0) return;
  self->BuildTable();
  RequestIfEnabled(self, 0);
}

void CLfGamma::OnEditLeft(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfGamma*>(user);
  Settings s = self->m_settings.Snapshot();
  double* field = edit == &self->m_gammaEdit ? &s.gamma
                  : edit == &self->m_fromEdit ? &s.from
                                              : &s.to;
  if (!EditCheckUnsignedDecimal(edit, field)) {
    self->CFgUICtrl::Redraw();
    return;
  }
  double value = *field;
  self->m_settings.Update([&](Settings& stored) {
    if (edit == &self->m_gammaEdit) stored.gamma = value;
    else if (edit == &self->m_fromEdit) stored.from = value;
    else stored.to = value;
  });
  int32_t active = edit == &self->m_gammaEdit ? s.type == 0 : (s.type == 1 || s.type == 2);
  if (!active) return;
  self->BuildTable();
  RequestIfEnabled(self, 0);
}

void CLfGamma::ApplyEnableRules() {
  int32_t plain = m_settings.Snapshot().type == 0;
  SetControlEnabled(&m_gammaLabel, plain);
  SetControlEnabled(&m_gammaEdit, plain);
  SetControlEnabled(&m_revBox, plain);
  SetControlEnabled(&m_fromLabel, !plain);
  SetControlEnabled(&m_fromEdit, !plain);
  SetControlEnabled(&m_toLabel, !plain);
  SetControlEnabled(&m_toEdit, !plain);
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Process
void CLfGamma::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                       int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  Settings s = m_settings.Snapshot();
  if (!s.table) return;
  if (s.type == 0 && s.gamma == 1.0) return;
  if ((s.type == 1 || s.type == 2) && s.from == s.to) return;
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  int32_t bits = FormatClassBits(picture->Format());
  if (bits == 8 || bits == 16) {
    ApplyLevelLut(picture, s.table.get(), &roi);
    return;
  }
  double g0, g1;
  if (GammaExponent(s.type, s.gamma, s.rev, s.from, s.to, &g0, &g1))
    GammaCorrect(picture, g0, g1, &roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfGamma::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  Settings s = m_settings.Snapshot();
  PackWriteUnsigned(pack, L"type", s.type);
  PackWriteDouble(pack, L"gamma", s.gamma);
  PackWriteFlag(pack, L"rev", s.rev);
  PackWriteDouble(pack, L"from", s.from);
  PackWriteDouble(pack, L"to", s.to);
}

void CLfGamma::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Settings s = m_settings.Snapshot();
  int64_t type = s.type;
  if (PackReadSigned(pack, L"type", 0, 2, &type, nullptr)) s.type = uint32_t(type);
  PackReadFlag(pack, L"rev", &s.rev, nullptr);
  // A number that is not finite ("nan", "inf", "1e999") is ignored and the box keeps the
  // stored value; any other text shows as it was read.
  struct {
    const wchar_t* key;
    double* value;
    CFgUIEdit* edit;
  } const numbers[] = {{L"gamma", &s.gamma, &m_gammaEdit},
                       {L"from", &s.from, &m_fromEdit},
                       {L"to", &s.to, &m_toEdit}};
  for (const auto& n : numbers) {
    if (PackReadDouble(pack, n.key, n.value, nullptr))
      n.edit->SetLine(0, pack->FindItem(n.key)->value);
    else
      SetEditDouble(n.edit, *n.value);
  }
  m_settings.Update([&](Settings& stored) {
    stored.type = s.type;
    stored.gamma = s.gamma;
    stored.rev = s.rev;
    stored.from = s.from;
    stored.to = s.to;
  });
  CFgUIChkButton::SetGroupSelection(&m_radio[0], int32_t(s.type), 0);
  m_revBox.m_checked = int32_t(s.rev);
  ApplyEnableRules();
  BuildTable();
}
