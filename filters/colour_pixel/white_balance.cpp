// white_balance.cpp - CLfWhiteBalance: the reference colour and its transform, the click
// sample and "auto" taken on the worker, the bars and buttons, the settings pack.
// Inside: window - reference colour - callbacks - processing - settings
//
// Controls and results:
//   bar moved to p      its component = (255 - p) / 255; SetGains; accepted: request (no wait)
//   "auto"              auto pending; request (no wait)
//   "init"              ResetGains; request (waits)
//   click on the image  click pending at the point; request (no wait)
// Lock order: the draw lock, then the filter's own; no lock is held across a waiting request.
#include "filters/colour_pixel/white_balance.h"

#include <cmath>
#include <cstdio>
#include <cwchar>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/whitebalance.h"
#include "filters/colour_pixel/swatch.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfWhiteBalance::s_classPlace;

namespace {

constexpr int32_t kSwatchSide = 96;

}  // namespace

int32_t WhiteBarPosition(double c) { return 255 - SwatchByte(c); }

// ---------------------------------------------------------------------------------------
// Window
CLfWhiteBalance::CLfWhiteBalance() : CFilterWindow(&s_classPlace) {
  m_layoutItems[0] = {&m_autoButton, L"auto", L"\x30AA\x30FC\x30C8", 112, 8, 112, 8, 96, 44};
  m_layoutItems[1] = {&m_initButton, L"init", L"\x521D\x671F\x5316", 112, 60, 112, 60, 96, 44};
  AddChild(&m_autoButton);
  AddChild(&m_initButton);
  m_autoButton.m_callback = &CLfWhiteBalance::OnAuto;
  m_autoButton.m_user = this;
  m_initButton.m_callback = &CLfWhiteBalance::OnInit;
  m_initButton.m_user = this;
  const double colours[3][3] = {{0.9, 0.7, 0.7}, {0.7, 0.9, 0.7}, {0.7, 0.7, 0.9}};
  for (int i = 0; i < 3; ++i) {
    CFgUIScrollBar& bar = m_bar[i];
    m_layoutItems[2 + i] = {&bar, nullptr, nullptr, 8, 112 + 28 * i, 8, 112 + 28 * i, 200, 20};
    bar.m_kind = FgBarHorizontal;
    bar.SetRange(0, 255, 1, 0);
    for (int c = 0; c < 3; ++c) bar.m_barColor[c] = colours[i][c];
    bar.m_callback = &CLfWhiteBalance::OnBarChanged;
    bar.m_user = this;
    AddChild(&bar);
  }
  m_layout.items = m_layoutItems;
  m_layout.count = 5;
  m_layout.widthEn = m_layout.widthJa = 216;
  m_layout.heightEn = m_layout.heightJa = 194;
  m_layout.textures = m_textures;
  m_layout.textureCount = 1;
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  m_swatch.Create(kSwatchSide, kSwatchSide, 1, 1, 0, nullptr);
  SetGains(1, 1, 1);
}

CLfWhiteBalance::~CLfWhiteBalance() {
  PlatformLockHold draw(FgDrawLock());
  ColorXformDestroy(m_xform);
  m_swatch.ReleaseGL();
}

const wchar_t* CLfWhiteBalance::GetName(const wchar_t* language) {
  // "ホワイトバランス"
  return IsJapanese(language) ? L"\x30DB\x30EF\x30A4\x30C8\x30D0\x30E9\x30F3\x30B9"
                              : L"White balance";
}

void CLfWhiteBalance::DrawOverlay() {
  CFgUIDialog::DrawOverlay();
  if (m_swatch.AttachToScreen(this) == 1) m_swatch.DrawCell(8, 8, kSwatchSide, kSwatchSide, 0);
}

void CLfWhiteBalance::UpdateSwatch(double r, double g, double b) {
  PlatformLockHold draw(FgDrawLock());
  FillSwatch(&m_swatch, kSwatchSide, kSwatchSide, r, g, b);
  if (m_window) CFgUICtrl::Redraw();
}

void CLfWhiteBalance::SwatchColour(uint8_t rgb[3]) { ReadSwatchColour(&m_swatch, rgb); }

// ---------------------------------------------------------------------------------------
// Reference colour
int32_t CLfWhiteBalance::SetGains(double r, double g, double b) {
  const double c[3] = {r, g, b};
  for (double v : c)
    if (!(v >= 0 && v <= 1)) return 0;  // NaN included
  PlatformLockHold draw(FgDrawLock());
  {
    PlatformLockHold own(m_lock);
    // Only a colour with three equal components is neutral already: equal red and green
    // alone still leave a blue cast to correct.
    ColorXform* xform = nullptr;
    if (!(r == g && g == b)) {
      xform = BuildWhiteBalance(r, g, b);
      if (!xform) return 0;
    }
    m_ref[0] = r;
    m_ref[1] = g;
    m_ref[2] = b;
    ColorXformDestroy(m_xform);
    m_xform = xform;
    // The fields, not MoveTo: the bars' callback would set the colour again.
    for (int i = 0; i < 3; ++i) {
      int32_t p = WhiteBarPosition(c[i]);
      if (m_bar[i].IsValidPosition(p)) m_bar[i].m_position = p;
    }
  }
  UpdateSwatch(r, g, b);
  return 1;
}

void CLfWhiteBalance::ResetGains() {
  PlatformLockHold draw(FgDrawLock());
  {
    PlatformLockHold own(m_lock);
    m_ref[0] = m_ref[1] = m_ref[2] = 1;
    ColorXformDestroy(m_xform);
    m_xform = nullptr;
    for (CFgUIScrollBar& bar : m_bar) bar.m_position = 0;
  }
  UpdateSwatch(1, 1, 1);
}

void CLfWhiteBalance::GetGains(double* r, double* g, double* b, int32_t* hasTransform) {
  PlatformLockHold own(m_lock);
  if (r) *r = m_ref[0];
  if (g) *g = m_ref[1];
  if (b) *b = m_ref[2];
  if (hasTransform) *hasTransform = m_xform ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CLfWhiteBalance::OnAuto(CFgUIButton*, void* user) {
  auto* self = static_cast<CLfWhiteBalance*>(user);
  self->m_autoPending.store(1);
  RequestIfEnabled(self, 1);
}

void CLfWhiteBalance::OnInit(CFgUIButton*, void* user) {
  auto* self = static_cast<CLfWhiteBalance*>(user);
  self->ResetGains();
  RequestIfEnabled(self, 0);
}

void CLfWhiteBalance::OnBarChanged(CFgUIScrollBar* bar, void* user, int32_t position) {
  auto* self = static_cast<CLfWhiteBalance*>(user);
  int i = int(bar - self->m_bar);
  if (i < 0 || i > 2) return;
  double c[3];
  self->GetGains(&c[0], &c[1], &c[2], nullptr);
  c[i] = (255 - position) / 255.0;
  if (self->SetGains(c[0], c[1], c[2]) == 1) RequestIfEnabled(self, 1);
}

void CLfWhiteBalance::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  m_clickX.store(x);
  m_clickY.store(y);
  m_clickPending.store(1);
  RequestIfEnabled(this, 1);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfWhiteBalance::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                              int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold own(m_lock);
  int32_t format = picture->Format();
  // Gray pictures keep clicks and "auto" pending for the first colour picture.
  if (format < ImgFormatRgb24 || format > ImgFormatCmyk32) return;
  if (!m_xform && !m_clickPending.load() && !m_autoPending.load()) return;
  if (m_clickPending.exchange(0)) {
    int64_t px = m_clickX.load(), py = m_clickY.load();
    double sum[3] = {0, 0, 0};
    int32_t n = 0;
    for (int64_t dy = -2; dy <= 2; ++dy)
      for (int64_t dx = -2; dx <= 2; ++dx) {
        int64_t sx = px + dx, sy = py + dy;
        if (sx < 0 || sy < 0 || sx >= picture->Width() || sy >= picture->Height()) continue;
        double r, g, b;
        if (picture->record->GetRGBF(int32_t(sx), int32_t(sy), &r, &g, &b) != 1) continue;
        sum[0] += r;
        sum[1] += g;
        sum[2] += b;
        ++n;
      }
    if (n) SetGains(sum[0] / n, sum[1] / n, sum[2] / n);
  }
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  // A rectangle reaching past the picture works on the part inside it.
  if (NormalizeRoi(&roi, picture) != 1) return;
  int32_t whole = roi.x0 == 0 && roi.y0 == 0 && roi.x1 == picture->Width() - 1 &&
                  roi.y1 == picture->Height() - 1;
  CImgBuff crop;
  CImgBuff* work = picture;
  if (!whole) {
    if (picture->Crop(crop, roi.x0, roi.y0, roi.x1, roi.y1) != 1) return;
    work = &crop;
  }
  if (m_autoPending.exchange(0) && work->Format()) {
    double r = 0, g = 0, b = 0;
    uint32_t limitsUsed = 0;
    int32_t got = EstimateWhite(work, &r, &g, &b, 60, 40, &limitsUsed) == 1 && limitsUsed;
    if (!got) got = EstimateWhite(work, &r, &g, &b, 0, 0, &limitsUsed) == 1;
    if (got) SetGains(r, g, b);
  }
  if (!m_xform) return;
  if (ColorXformApply(m_xform, work) != 1) return;
  if (!whole) picture->Paste(crop, roi.x0, roi.y0);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfWhiteBalance::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  double c[3];
  int32_t has = 0;
  GetGains(&c[0], &c[1], &c[2], &has);
  if (!has) return;
  const wchar_t* keys[3] = {L"R", L"G", L"B"};
  for (int i = 0; i < 3; ++i) {
    wchar_t text[400];
    swprintf(text, 400, L"%lf", c[i]);
    pack->AddItem(keys[i], text);
  }
}

void CLfWhiteBalance::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  double c[3];
  const wchar_t* keys[3] = {L"R", L"G", L"B"};
  for (int i = 0; i < 3; ++i) {
    const CCfgItem* item = pack->FindItem(keys[i]);
    if (!item) return;
    c[i] = wcstod(item->value, nullptr);
    if (!(c[i] >= 0)) return;
  }
  SetGains(c[0], c[1], c[2]);
}
