// wave_filter.cpp - CLfWave: the settings window, the checks of its two number boxes, the
// enabling rules, the settings pack, and the hand-over of the settings to the engine.
// Inside: window - swatch - enabling - callbacks - processing - settings
//
// Controls and results ("request": the host processes the frame again and waits):
//   wave length box, focus lost   accepted: wave length, filter colour, swatch; request
//                                 refused: the box shows the wave length again
//   gain box, focus lost          accepted: gain; request; refused: the box shows the gain
//   "R", "G", "B"                 wave length 610, 550.1, 465.8; colour, swatch; request
//   "R STR" .. "BRIGHT"           gain = r, g, b or luma as the box shows it; request
//   radio of either group         enabling rules; request
//   "inverse"                     request when the gain mode is the free gain
// A box that Process disabled meanwhile gets its stored value back and requests nothing.
#include "filters/colour_pixel/wave_filter.h"

#include <cfloat>
#include <cmath>
#include <cwchar>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/text.h"
#include "engine/wave.h"
#include "filters/colour_pixel/swatch.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfWave::s_classPlace;

namespace {

constexpr int32_t kSwatchWidth = 94, kSwatchHeight = 28;
const double kPresetWave[3] = {610.0, 550.1, 465.8};

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfWave::CLfWave() : CFilterWindow(&s_classPlace) {
  int n = 0;
  auto item = [&](CFgUIObj* c, const wchar_t* en, const wchar_t* ja, int32_t xEn, int32_t yEn,
                  int32_t xJa, int32_t yJa, int32_t w, int32_t h) {
    m_layoutItems[n++] = {c, en, ja, xEn, yEn, xJa, yJa, w, h};
    AddChild(c);
  };
  // Groups first, so the controls inside them draw on top.
  item(&m_filterGroup, nullptr, nullptr, 8, 32, 8, 32, 126, 132);
  item(&m_gainGroup, nullptr, nullptr, 142, 32, 134, 32, 110, 132);
  item(&m_waveLabel, L"wave length", L"\x6CE2\x9577", 8, 8, 8, 8, 77, 20);
  item(&m_waveEdit, nullptr, nullptr, 87, 10, 38, 10, 64, 18);
  item(&m_nmLabel, L"nm", L"nm", 153, 8, 104, 8, 14, 20);
  const wchar_t* waveText[3] = {L"R", L"G", L"B"};
  for (int i = 0; i < 3; ++i) {
    item(&m_waveButton[i], waveText[i], waveText[i], 188 + 24 * i, 8, 188 + 24 * i, 8, 16, 20);
    m_waveButton[i].m_callback = &CLfWave::OnWaveButton;
    m_waveButton[i].m_user = this;
  }
  const wchar_t* filterEn[3] = {L"off", L"color image", L"gray image"};
  const wchar_t* filterJa[3] = {L"OFF", L"\x30AB\x30E9\x30FC\x51FA\x529B",
                                L"\x30B0\x30EC\x30FC\x51FA\x529B"};
  for (int i = 0; i < 3; ++i) {
    item(&m_filterRadio[i], filterEn[i], filterJa[i], 20, 52 + 20 * i, 20, 52 + 20 * i, 104, 20);
    m_filterRadio[i].m_callback = &CLfWave::OnModeChanged;
    m_filterRadio[i].m_user = this;
    if (i) CFgUIChkButton::AddToGroup(&m_filterRadio[0], &m_filterRadio[i]);
  }
  const wchar_t* gainEn[4] = {L"off", L"normalize", L"raw", L""};
  const wchar_t* gainJa[4] = {L"OFF", L"\x6B63\x898F\x5316", L"RAW\x5316", L""};
  const int32_t gainW[4] = {88, 92, 88, 24};
  for (int i = 0; i < 4; ++i) {
    item(&m_gainRadio[i], gainEn[i], gainJa[i], 154, 52 + 20 * i, 146, 52 + 20 * i, gainW[i],
         20);
    m_gainRadio[i].m_callback = &CLfWave::OnModeChanged;
    m_gainRadio[i].m_user = this;
    if (i) CFgUIChkButton::AddToGroup(&m_gainRadio[0], &m_gainRadio[i]);
  }
  item(&m_gainEdit, nullptr, nullptr, 178, 112, 170, 112, 64, 20);
  item(&m_inverseBox, L"inverse", L"\x9006\x6570", 154, 132, 146, 132, 88, 20);
  m_inverseBox.m_callback = &CLfWave::OnInverse;
  m_inverseBox.m_user = this;
  const wchar_t* strEn[4] = {L"R STR", L"G STR", L"B STR", L"BRIGHT"};
  const wchar_t* strJa[4] = {L"R\x6210\x5206\x91CF", L"G\x6210\x5206\x91CF",
                             L"B\x6210\x5206\x91CF", L"\x8F1D\x5EA6"};
  for (int i = 0; i < 4; ++i) {
    item(&m_gainButton[i], strEn[i], strJa[i], 8 + 63 * i, 172, 8 + 63 * i, 172, 55, 20);
    m_gainButton[i].m_callback = &CLfWave::OnGainButton;
    m_gainButton[i].m_user = this;
  }
  m_layout.items = m_layoutItems;
  m_layout.count = uint64_t(n);
  m_layout.widthEn = m_layout.widthJa = 260;
  m_layout.heightEn = m_layout.heightJa = 200;
  m_layout.textures = m_textures;
  m_layout.textureCount = 1;
  m_waveEdit.OnFocusLost = &CLfWave::OnWaveLengthEdited;
  m_waveEdit.CallbackArg = this;
  m_gainEdit.OnFocusLost = &CLfWave::OnGainEdited;
  m_gainEdit.CallbackArg = this;
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  CFgUIChkButton::SetGroupSelection(&m_filterRadio[0], 0, 0);
  CFgUIChkButton::SetGroupSelection(&m_gainRadio[0], 0, 0);
  m_inverseBox.m_checked = 0;
  m_swatch.Create(kSwatchWidth, kSwatchHeight, 1, 1, 0, nullptr);
  RefreshDialog(1);
  UpdateWaveSwatch();
}

CLfWave::~CLfWave() {
  PlatformLockHold draw(FgDrawLock());
  m_swatch.ReleaseGL();
}

const wchar_t* CLfWave::GetName(const wchar_t* language) {
  // "カラーフィルター"
  return IsJapanese(language) ? L"\x30AB\x30E9\x30FC\x30D5\x30A3\x30EB\x30BF\x30FC"
                              : L"Color filter";
}

void CLfWave::ShowDialog(int32_t show, CFgScreen* parent) {
  PlatformLockHold draw(FgDrawLock());
  int32_t ja = IsJapanese(m_language);
  m_filterGroup.SetTitle(ja ? L"\x30D5\x30A3\x30EB\x30BF" : L"filter");
  m_gainGroup.SetTitle(ja ? L"\x30B2\x30A4\x30F3" : L"gain");
  if (show) SetEditValue(&m_gainEdit, m_settings.Snapshot().gain);
  CFilterWindow::ShowDialog(show, parent);
}

void CLfWave::SetEditValue(CFgUIEdit* edit, double value) {
  wchar_t text[400];
  FormatDouble(text, 400, value);
  m_updating.store(1);
  edit->SetLine(0, text);
  m_updating.store(0);
}

// ---------------------------------------------------------------------------------------
// Swatch
void CLfWave::UpdateWaveSwatch() {
  Settings s = m_settings.Snapshot();
  PlatformLockHold draw(FgDrawLock());
  FillSwatch(&m_swatch, kSwatchWidth, kSwatchHeight, s.r, s.g, s.b);
  if (m_window) CFgUICtrl::Redraw();
}

void CLfWave::SwatchColour(uint8_t rgb[3]) { ReadSwatchColour(&m_swatch, rgb); }

void CLfWave::DrawOverlay() {
  CFgUIDialog::DrawOverlay();
  if (m_swatch.AttachToScreen(this) == 1)
    m_swatch.DrawCell(20, 120, kSwatchWidth, kSwatchHeight, 0);
}

// ---------------------------------------------------------------------------------------
// Enabling
void CLfWave::OnEnableAll() {
  RefreshDialog(1);
  CFgUICtrl::Redraw();
}

void CLfWave::RefreshDialog(int32_t windowEnabled) {
  PlatformLockHold draw(FgDrawLock());
  m_updating.store(1);
  if (windowEnabled || m_enabled) {
    Settings s = m_settings.Snapshot();
    SetControlEnabled(&m_waveEdit, 1);
    for (CFgUIButton& b : m_waveButton) SetControlEnabled(&b, 1);
    for (CFgUIChkButton& r : m_filterRadio) SetControlEnabled(&r, 1);
    int32_t first = -1, rest = -1;  // -1: unchanged
    if (s.filterMode == 0) first = rest = m_colourInput.load() ? 0 : 1;
    if (s.filterMode == 1) first = rest = 0;
    if (s.filterMode == 2) first = 1, rest = 0;
    if (first >= 0) {
      SetControlEnabled(&m_gainRadio[0], first);
      SetControlEnabled(&m_gainRadio[1], first);
      SetControlEnabled(&m_gainRadio[2], rest);
      SetControlEnabled(&m_gainRadio[3], rest);
      SetControlEnabled(&m_gainEdit, rest);
      SetControlEnabled(&m_inverseBox, rest);
      for (CFgUIButton& b : m_gainButton) SetControlEnabled(&b, rest);
    }
  }
  m_updating.store(0);
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CLfWave::SetWaveLength(double nm) {
  double r = 0, g = 0, b = 0, luma = 0;
  WaveFilterColour(nm, &r, &g, &b, &luma);
  m_settings.Update([&](Settings& s) {
    s.waveLength = nm;
    s.r = r;
    s.g = g;
    s.b = b;
    s.luma = luma;
  });
}

void CLfWave::OnWaveLengthEdited(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfWave*>(user);
  {
    // The worker enables and disables the box inside the draw lock; no lock is held while
    // the request waits for the run.
    PlatformLockHold draw(FgDrawLock());
    double nm = self->m_settings.Snapshot().waveLength;
    // A box the worker disabled meanwhile only gets its value back.
    if (!edit->m_enabled) {
      self->SetEditValue(edit, nm);
      return;
    }
    if (EditCheckUnsignedDecimal(edit, &nm) != 1) {
      self->CFgUICtrl::Redraw();
      return;
    }
    self->SetWaveLength(nm);
    self->UpdateWaveSwatch();
  }
  RequestIfEnabled(self, 0);
}

void CLfWave::OnGainEdited(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfWave*>(user);
  if (self->m_updating.load()) return;
  {
    PlatformLockHold draw(FgDrawLock());
    double gain = self->m_settings.Snapshot().gain;
    if (!edit->m_enabled) {
      self->SetEditValue(edit, gain);
      return;
    }
    if (EditCheckUnsignedDecimal(edit, &gain) != 1) {
      self->CFgUICtrl::Redraw();
      return;
    }
    self->m_settings.Update([&](Settings& s) { s.gain = gain; });
  }
  RequestIfEnabled(self, 0);
}

void CLfWave::OnWaveButton(CFgUIButton* button, void* user) {
  auto* self = static_cast<CLfWave*>(user);
  int i = int(button - self->m_waveButton);
  if (i < 0 || i > 2) return;
  self->SetWaveLength(kPresetWave[i]);
  self->SetEditValue(&self->m_waveEdit, kPresetWave[i]);
  self->UpdateWaveSwatch();
  self->CFgUICtrl::Redraw();
  RequestIfEnabled(self, 0);
}

void CLfWave::OnGainButton(CFgUIButton* button, void* user) {
  auto* self = static_cast<CLfWave*>(user);
  int i = int(button - self->m_gainButton);
  if (i < 0 || i > 3) return;
  Settings s = self->m_settings.Snapshot();
  double values[4] = {s.r, s.g, s.b, s.luma};
  // The gain is the value the box shows (six decimals at most), so box and gain agree.
  wchar_t text[400];
  FormatDouble(text, 400, values[i]);
  double gain = wcstod(text, nullptr);
  self->m_settings.Update([&](Settings& stored) { stored.gain = gain; });
  self->SetEditValue(&self->m_gainEdit, gain);
  self->CFgUICtrl::Redraw();
  RequestIfEnabled(self, 0);
}

void CLfWave::OnModeChanged(CFgUIChkButton*, void* user) {
  auto* self = static_cast<CLfWave*>(user);
  int32_t filterMode = CFgUIChkButton::GetGroupSelection(&self->m_filterRadio[0]);
  int32_t gainMode = CFgUIChkButton::GetGroupSelection(&self->m_gainRadio[0]);
  self->m_settings.Update([&](Settings& s) {
    s.filterMode = filterMode;
    s.gainMode = gainMode;
  });
  self->RefreshDialog(0);
  self->CFgUICtrl::Redraw();
  RequestIfEnabled(self, 0);
}

void CLfWave::OnInverse(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfWave*>(user);
  uint32_t inverse = button->m_checked ? 1 : 0;
  int32_t gainMode = 0;
  self->m_settings.Update([&](Settings& s) {
    s.inverse = inverse;
    gainMode = s.gainMode;
  });
  if (gainMode == 3) RequestIfEnabled(self, 0);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfWave::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                      int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  int32_t format = picture->Format();
  uint32_t colour = format >= 4 && format <= 9 ? 1 : 0;
  if (m_colourInput.exchange(colour) != colour) {
    PlatformLockHold draw(FgDrawLock());
    RefreshDialog(0);
    if (m_window) CFgUICtrl::Redraw();
  }
  Settings s = m_settings.Snapshot();
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  double gain = s.gain;
  if (s.inverse) {
    // 1 / 0 would hand the engine an infinite factor, and 0 x infinity is no number: the
    // largest finite factor keeps black black and saturates every other value.
    gain = s.gain > 0 ? 1.0 / s.gain : DBL_MAX;
  }
  ApplyWaveColorFilter(picture, s.waveLength, uint32_t(s.filterMode), uint32_t(s.gainMode),
                       gain, &roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfWave::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  Settings s = m_settings.Snapshot();
  PackWriteDouble(pack, L"wave_length", s.waveLength);
  PackWriteDouble(pack, L"gain_free", s.gain);
  PackWriteSigned(pack, L"filter", s.filterMode);
  PackWriteSigned(pack, L"gain", s.gainMode);
  PackWriteFlag(pack, L"inverse", s.inverse);
}

namespace {

// The number a box takes: as the box's check reads it, else 0.
double BoxNumber(const wchar_t* text) {
  double v = 0;
  if (!CheckUnsignedDecimal(text, &v)) return 0;
  // The box shows "%lf": the stored value is exactly what it shows.
  wchar_t shown[400];
  FormatDouble(shown, 400, v);
  return wcstod(shown, nullptr);
}

}  // namespace

void CLfWave::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  PlatformLockHold draw(FgDrawLock());
  CImgFilter::LoadParams(pack);
  Settings s = m_settings.Snapshot();
  if (const CCfgItem* t = pack->FindItem(L"wave_length")) {
    s.waveLength = BoxNumber(t->value);
    SetEditValue(&m_waveEdit, s.waveLength);
  }
  if (const CCfgItem* t = pack->FindItem(L"gain_free")) {
    s.gain = BoxNumber(t->value);
    SetEditValue(&m_gainEdit, s.gain);
  }
  auto mode = [&](const wchar_t* key, int32_t count, CFgUIChkButton* leader, int32_t* field) {
    int64_t n = 0;
    int32_t found = 0;
    if (!PackReadSigned(pack, key, INT32_MIN, INT32_MAX, &n, &found) && found) n = 0;
    if (!found) return;
    // Text that is no number reads as 0 ("x" selects the first radio).
    if (n >= 0 && n < count) {
      *field = int32_t(n);
      CFgUIChkButton::SetGroupSelection(leader, int32_t(n), 0);
    }
  };
  mode(L"filter", 3, &m_filterRadio[0], &s.filterMode);
  mode(L"gain", 4, &m_gainRadio[0], &s.gainMode);
  PackReadFlagLenient(pack, L"inverse", &s.inverse, nullptr);
  m_inverseBox.m_checked = int32_t(s.inverse);
  m_settings.Update([&](Settings& stored) { stored = s; });
  SetWaveLength(s.waveLength);
  RefreshDialog(0);
  UpdateWaveSwatch();
}
