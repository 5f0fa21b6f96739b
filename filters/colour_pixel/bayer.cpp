// bayer.cpp - CLfBayer: the window, the gain boxes, the frames and the settings.
// Inside: window - callbacks and rules - chain - settings
//
// Events and results:
//   operation, arrangement radio, "gain"   stored for the runs; frame processed (waits); rules
//   gain box left      digits with at most one "." (not first) become that gain, else the box
//                      shows the gain again; frame processed (waits) while "gain" is ticked
//   RESET              gains 3.344, 1.704, 8.772; frame processed (waits) while "gain" is ticked
//   LoadParams         controls and gains from the pack; rules; no processing
#include "filters/colour_pixel/bayer.h"

#include <cmath>

#include "app/cfgfile.h"
#include "core/text.h"
#include "engine/demosaic.h"

FilterWindowPlace CLfBayer::s_classPlace;

namespace {

// Rectangles whose width differs between the languages: English, Japanese.
struct WidthPair {
  int32_t en, ja;
};
// Operation 0 to 2, arrangement 0 to 3, gain box, reset, labels R G B, edits R G B.
const WidthPair kWidths[15] = {{64, 104}, {152, 184}, {152, 184}, {56, 56},  {56, 56},
                               {56, 56},  {56, 56},   {56, 72},   {224, 176}, {16, 16},
                               {16, 16},  {16, 16},   {224, 176}, {224, 176}, {224, 176}};

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfBayer::CLfBayer() : CFilterWindow(&s_classPlace) {
  // "ベイヤー化", "デモザイク(線形補間)", "デモザイク(ACPI)", "ゲイン", "初期化"
  m_layoutItems[0] = {&m_actionRadio[0], L"bayer", L"\x30D9\x30A4\x30E4\x30FC\x5316",
                      10, 10, 10, 10, 64, 20};
  m_layoutItems[1] = {&m_actionRadio[1], L"demosaic(linear)",
                      L"\x30C7\x30E2\x30B6\x30A4\x30AF(\x7DDA\x5F62\x88DC\x9593)", 10, 30, 10, 30,
                      152, 20};
  m_layoutItems[2] = {&m_actionRadio[2], L"demosaic(acpi)",
                      L"\x30C7\x30E2\x30B6\x30A4\x30AF(ACPI)", 10, 50, 10, 50, 152, 20};
  const wchar_t* arrangements[4] = {L"GRBG", L"GBRG", L"RGGB", L"BGGR"};
  for (int32_t i = 0; i < 4; ++i)
    m_layoutItems[3 + i] = {&m_filterRadio[i], arrangements[i], arrangements[i], 10, 80 + 20 * i,
                            10, 80 + 20 * i, 56, 20};
  m_layoutItems[7] = {&m_gainBox, L"gain", L"\x30B2\x30A4\x30F3", 96, 80, 96, 80, 56, 20};
  m_layoutItems[8] = {&m_resetButton, L"RESET", L"\x521D\x671F\x5316", 96, 100, 96, 100, 224, 20};
  const wchar_t* colours[3] = {L"R", L"G", L"B"};
  for (int32_t i = 0; i < 3; ++i) {
    m_layoutItems[9 + i] = {&m_gainLabel[i], colours[i], colours[i], 80, 120 + 20 * i,
                            80, 120 + 20 * i, 16, 20};
    m_layoutItems[12 + i] = {&m_gainEdit[i], nullptr, nullptr, 96, 120 + 20 * i,
                             96, 120 + 20 * i, 224, 20};
  }
  m_layout = {m_layoutItems, 15, 330, 190, 280, 190, nullptr, 0};

  for (int32_t i = 1; i < 3; ++i) CFgUIChkButton::AddToGroup(&m_actionRadio[0], &m_actionRadio[i]);
  for (int32_t i = 1; i < 4; ++i) CFgUIChkButton::AddToGroup(&m_filterRadio[0], &m_filterRadio[i]);
  const Settings s = m_settings.Snapshot();
  CFgUIChkButton::SetGroupSelection(&m_actionRadio[0], s.action, 0);
  CFgUIChkButton::SetGroupSelection(&m_filterRadio[0], s.filter, 0);
  m_gainBox.m_checked = int32_t(s.gain);
  for (int32_t c = 1; c <= 3; ++c) ShowGain(c);
  for (CFgUIChkButton* b : {&m_actionRadio[0], &m_actionRadio[1], &m_actionRadio[2],
                            &m_filterRadio[0], &m_filterRadio[1], &m_filterRadio[2],
                            &m_filterRadio[3], &m_gainBox}) {
    b->m_callback = &CLfBayer::OnOptionChanged;
    b->m_user = this;
  }
  m_resetButton.m_callback = &CLfBayer::OnReset;
  m_resetButton.m_user = this;
  for (CFgUIEdit& e : m_gainEdit) {
    e.OnFocusLost = &CLfBayer::OnGainEdited;
    e.CallbackArg = this;
  }
  for (int32_t i = 0; i < 15; ++i) AddChild(m_layoutItems[i].control);
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  UpdateControls();
}

const wchar_t* CLfBayer::GetName(const wchar_t* language) {
  // "ベイヤー変換"
  return IsJapanese(language) ? L"\x30D9\x30A4\x30E4\x30FC\x5909\x63DB" : L"Bayer convert";
}

void CLfBayer::ShowDialog(int32_t show, CFgScreen* parent) {
  // Several controls are narrower or wider in Japanese; the layout table holds one width.
  const int32_t ja = IsJapanese(m_language);
  for (int32_t i = 0; i < 15; ++i) m_layoutItems[i].width = ja ? kWidths[i].ja : kWidths[i].en;
  CFilterWindow::ShowDialog(show, parent);
}

void CLfBayer::ShowGain(int32_t colour) {
  wchar_t text[400];
  FormatDouble(text, 400, m_settings.Snapshot().gains[colour]);
  m_gainEdit[colour - 1].SetLine(0, text);
}

// ---------------------------------------------------------------------------------------
// Callbacks and rules
void CLfBayer::StoreOptions() {
  const int32_t action = CFgUIChkButton::GetGroupSelection(&m_actionRadio[0]);
  const int32_t filter = CFgUIChkButton::GetGroupSelection(&m_filterRadio[0]);
  const uint32_t gain = m_gainBox.m_checked ? 1 : 0;
  m_settings.Update([&](Settings& s) {
    s.action = action;
    s.filter = filter;
    s.gain = gain;
  });
}

void CLfBayer::OnOptionChanged(CFgUIChkButton*, void* user) {
  auto* self = static_cast<CLfBayer*>(user);
  self->StoreOptions();
  RequestIfEnabled(self, 0);
  self->UpdateControls();
}

void CLfBayer::OnGainEdited(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfBayer*>(user);
  const int32_t colour = int32_t(edit - self->m_gainEdit) + 1;
  if (colour < 1 || colour > 3) return;
  double gain = 0;
  // Digits and at most one "." that does not come first: "5." is 5, a lone "0" a gain of 0.
  if (CheckUnsignedDecimal(edit->GetText(), &gain)) {
    self->m_settings.Update([&](Settings& s) { s.gains[colour] = gain; });
  } else {
    self->ShowGain(colour);
    self->CFgUICtrl::Redraw();
  }
  if (self->GetSettings().gain) RequestIfEnabled(self, 0);
}

void CLfBayer::OnReset(CFgUIButton*, void* user) {
  auto* self = static_cast<CLfBayer*>(user);
  self->m_settings.Update([](Settings& s) {
    for (int32_t c = 1; c <= 3; ++c) s.gains[c] = kDefaultGains[c];
  });
  for (int32_t c = 1; c <= 3; ++c) self->ShowGain(c);
  self->CFgUICtrl::Redraw();
  if (self->GetSettings().gain) RequestIfEnabled(self, 0);
}

void CLfBayer::UpdateControls(int32_t windowEnabled) {
  if (windowEnabled || CFgUICtrl::m_enabled) {
    const int32_t on = m_gainBox.m_checked != 0;
    SetControlEnabled(&m_resetButton, on);
    for (CFgUILabel& l : m_gainLabel) SetControlEnabled(&l, on);
    for (CFgUIEdit& e : m_gainEdit) SetControlEnabled(&e, on);
  }
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Chain
void CLfBayer::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                       int64_t height, uint32_t, uint32_t) {
  // One copy for the whole frame: a gain typed meanwhile waits for the next run.
  const Settings s = m_settings.Snapshot();
  const RoiRect roi = ChainRectToRoi(x, y, width, height);
  // No selection (-1) becomes a mode Demosaic refuses; a refused frame passes unchanged.
  Demosaic(picture, uint32_t(s.action), uint32_t(s.filter), s.gain ? s.gains : nullptr, &roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfBayer::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Settings s = m_settings.Snapshot();
  PackWriteSigned(pack, L"action", CFgUIChkButton::GetGroupSelection(&m_actionRadio[0]));
  PackWriteSigned(pack, L"filter", CFgUIChkButton::GetGroupSelection(&m_filterRadio[0]));
  PackWriteFlag(pack, L"gain", m_gainBox.m_checked ? 1 : 0);
  PackWriteDouble(pack, L"gain_r", s.gains[1]);
  PackWriteDouble(pack, L"gain_g", s.gains[2]);
  PackWriteDouble(pack, L"gain_b", s.gains[3]);
}

void CLfBayer::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int64_t n = 0;
  // Read as "%ld" reads it ("abc" is 0); only an operation's index is taken.
  if (PackReadSigned(pack, L"action", 0, 2, &n, nullptr))
    CFgUIChkButton::SetGroupSelection(&m_actionRadio[0], int32_t(n), 0);
  // 4 and 5 name the 6 x 6 arrangements, which the window offers no button for: the group
  // refuses them and keeps its selection.
  if (PackReadSigned(pack, L"filter", 0, 5, &n, nullptr))
    CFgUIChkButton::SetGroupSelection(&m_filterRadio[0], int32_t(n), 0);
  uint32_t gain = 0;
  if (PackReadFlag(pack, L"gain", &gain, nullptr)) m_gainBox.m_checked = int32_t(gain);
  const wchar_t* keys[4] = {nullptr, L"gain_r", L"gain_g", L"gain_b"};
  for (int32_t c = 1; c <= 3; ++c) {
    const CCfgItem* item = pack->FindItem(keys[c]);
    if (!item || !item->value) continue;
    // No sign allowed; 0 also stands for text that does not parse.  A value too large for a
    // double is no gain either.
    const double v = ParseDouble(item->value, 0);
    if (!(v > 0) || !std::isfinite(v)) continue;
    m_settings.Update([&](Settings& s) { s.gains[c] = v; });
    ShowGain(c);
  }
  StoreOptions();
  UpdateControls();
}
