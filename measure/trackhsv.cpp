// trackhsv.cpp - the colour tracker (window test, binarisation, island choice, preview)
// and its panel (layout, bars, picking with undo).
// Inside: window and tint - CTrackHSV - panel construction and layout - panel values and
//         undo - panel operations - panel callbacks
#include "measure/trackhsv.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "app/filter.h"
#include "core/colour.h"
#include "core/imgbuff.h"
#include "engine/islands.h"
#include "engine/morphology.h"
#include "engine/range.h"
#include "engine/small_islands.h"
#include "filters/common/scaffold.h"
#include "measure/track_alloc.h"
#include "toolkit/screen.h"

// ---- window and tint --------------------------------------------------------------------

bool ColourWindowContains(const ColourWindow& w, uint16_t h, uint16_t s, uint16_t v)
{
  if (v < w.valLow || v > w.valHigh || s < w.satLow || s > w.satHigh) return false;
  if (w.halfWidth >= 32768) return true;
  const uint16_t low = uint16_t(w.hue - w.halfWidth);
  const uint16_t high = uint16_t(w.hue + w.halfWidth);
  return low <= high ? (h >= low && h <= high) : (h >= low || h <= high);
}

void TintPixel(CImgBuff* picture, int32_t x, int32_t y, const uint8_t c[3], const uint8_t tint[3])
{
  const bool light = ((x / 4 + y / 4) & 1) == 0;
  const bool black = tint[0] == 0 && tint[1] == 0 && tint[2] == 0;
  uint8_t out[3];
  for (int i = 0; i < 3; ++i) {
    // A black tint would vanish on dark pictures: it is drawn as a gray checkerboard.
    const int t = black ? (light ? 127 : 0) : tint[i] ? (light ? 192 : 64) : 0;
    out[i] = uint8_t((c[i] + t) / 2);
  }
  picture->SetRGB8(x, y, out[0], out[1], out[2]);
}

void TintOutsideWindow(CImgBuff* picture, const ColourWindow& window, const uint8_t tint[3])
{
  if (!picture || !picture->Pixels()) return;
  const C_ImgBuff* rec = picture->record;
  for (int32_t y = 0; y < picture->Height(); ++y) {
    for (int32_t x = 0; x < picture->Width(); ++x) {
      uint16_t h, s, v;
      rec->GetHSV16(x, y, &h, &s, &v);
      if (ColourWindowContains(window, h, s, v)) continue;
      uint16_t r, g, b;
      Hsv16ToRgb16(h, s, v, &r, &g, &b);
      const uint8_t c[3] = {uint8_t(r >> 8), uint8_t(g >> 8), uint8_t(b >> 8)};
      TintPixel(picture, x, y, c, tint);
    }
  }
}

// ---- CTrackHSV ----------------------------------------------------------------------------

CTrackHSV::CTrackHSV() { kind = TrackKindColour; }
CTrackHSV::~CTrackHSV() = default;
CTrackHSV::CTrackHSV(const CTrackHSV& other) : CTrack(other), m_window(other.GetWindow()) {}

CTrack* CTrackHSV::Clone() const { return new (std::nothrow) CTrackHSV(*this); }

ColourWindow CTrackHSV::GetWindow() const
{
  PlatformLockHold hold(m_lock);
  return m_window;
}

void CTrackHSV::SetWindow(const ColourWindow& window)
{
  PlatformLockHold hold(m_lock);
  m_window = window;
}

TrackBinarySettings CTrackHSV::Settings() const { return owner ? owner->binary : TrackBinarySettings{}; }

int32_t CTrackHSV::Binarize(CImgBuff* crop, const ColourWindow& w, const TrackBinarySettings& s) const
{
  if (!crop || !crop->Pixels()) return 0;
  if (!ExtractHsvRange(crop, w.hue, w.halfWidth, w.satLow, w.satHigh, w.valLow, w.valHigh, 0, 1, 1, nullptr))
    return 0;
  if (s.holeFill) FillHoles(crop, s.connect, 1, nullptr);
  int64_t lower = 0, upper = 0;
  if (s.noiseAuto) {
    // From the target's box, not the crop, which is smaller at the picture's edge.
    const int64_t area = int64_t(this->w) * int64_t(this->h);
    lower = area / 100;
    upper = std::max<int64_t>(area / 2, 1);
  } else {
    lower = s.noiseEnableL ? s.noiseL : 0;
    upper = s.noiseEnableH ? s.noiseH : 0;
  }
  // A bound below 0 (a hand-edited pack) means no bound; one beyond 32 bits can never be met
  // by a crop, whose pixel count stays below 2^31.
  lower = std::clamp<int64_t>(lower, 0, INT32_MAX);
  upper = std::clamp<int64_t>(upper, 0, INT32_MAX);
  if (lower > 0 || upper > 0) RemoveSmallIslands(crop, uint32_t(lower), int32_t(upper), s.connect, 1, nullptr);
  if (s.windowCut) WindowCutClearBorder(crop, 1, 1, 1, 1, s.connect, 1, nullptr);
  return 1;
}

int32_t CTrackHSV::Locate(CImgBuff* crop, double* x, double* y)
{
  if (!crop || !crop->Pixels()) return 0;
  const int32_t W = crop->Width(), H = crop->Height();
  const TrackBinarySettings s = Settings();
  {
    PlatformLockHold hold(m_lock);
    if (!Binarize(crop, m_window, s)) return 0;
  }
  IslandParams params = {crop, 1, s.connect, 0, 1, 1.0, 1, nullptr, nullptr};
  const int32_t count = ExtractIslands(&params, nullptr, nullptr, 0, nullptr);
  if (count < 1) return 0;
  auto* records = static_cast<IslandRecord*>(TrackAlloc(size_t(count) * sizeof(IslandRecord)));
  if (!records) return 0;
  const int32_t measured = std::min(count, ExtractIslands(&params, nullptr, records, count, nullptr));
  int32_t chosen = -1;
  if (measured == 1) {
    chosen = 0;
  } else if (measured > 1 && s.multiSelect == 1) {
    const double cx = W * 0.5, cy = H * 0.5;
    double best = 0.0;
    for (int32_t i = 0; i < measured; ++i) {
      const double dx = records[i].gravityX - cx, dy = records[i].gravityY - cy;
      const double d = dx * dx + dy * dy;
      if (chosen < 0 || d < best) {  // strictly nearer: the first of equals stays
        chosen = i;
        best = d;
      }
    }
  } else if (measured > 1 && s.multiSelect == 2) {
    for (int32_t i = 0; i < measured; ++i)
      if (chosen < 0 || records[i].area > records[chosen].area) chosen = i;
  }
  int32_t found = 0;
  if (chosen >= 0) {
    if (x) *x = records[chosen].gravityX;
    if (y) *y = records[chosen].gravityY;
    found = 1;
  }
  free(records);
  return found;
}

void CTrackHSV::DrawPreview(CImgBuff* crop)
{
  if (!crop || !crop->Pixels()) return;
  const TrackBinarySettings s = Settings();
  const uint8_t tint[3] = {owner ? owner->colourR : uint8_t(255), owner ? owner->colourG : uint8_t(255),
                           owner ? owner->colourB : uint8_t(255)};
  const ColourWindow window = GetWindow();
  if (!s.preview) {
    TintOutsideWindow(crop, window, tint);
    return;
  }
  CImgBuff binary;
  binary.CopyFrom(*crop);
  if (!binary.Pixels() || !Binarize(&binary, window, s)) return;
  const C_ImgBuff* src = crop->record;
  const C_ImgBuff* bin = binary.record;
  for (int32_t y = 0; y < crop->Height(); ++y) {
    for (int32_t x = 0; x < crop->Width(); ++x) {
      uint16_t g;
      bin->GetGray16(x, y, &g);
      if (g == 0) continue;  // an object after every step
      uint8_t c[3];
      src->GetRGB8(x, y, &c[0], &c[1], &c[2]);
      TintPixel(crop, x, y, c, tint);
    }
  }
}

// ---- panel construction and layout ----------------------------------------------------------

CPanelHSV::CPanelHSV()
{
  m_hueBar.m_kind = FgBarHorizontal;
  m_hueBar.SetRange(0, 65535, 1, 0);
  m_widthBar.m_kind = FgBarHorizontal;
  m_widthBar.SetRange(0, 32768, 1, 32768);
  for (CFgUIRangeBar* bar : {&m_satBar, &m_valBar}) {
    bar->m_kind = FgBarHorizontal;
    bar->m_minimum = 0;
    bar->m_maximum = 65535;
    bar->m_low = 0;
    bar->m_high = 65535;
    bar->m_user = this;
  }
  m_hueBar.m_callback = OnHueBar;
  m_hueBar.m_user = this;
  m_widthBar.m_callback = OnWidthBar;
  m_widthBar.m_user = this;
  m_satBar.m_callback = OnSatBar;
  m_valBar.m_callback = OnValBar;
  m_setBox.m_callback = OnSetBox;
  m_setBox.m_user = this;
  m_addBox.m_callback = OnAddBox;
  m_addBox.m_user = this;
  m_option.m_callback = OnOption;
  m_option.m_user = this;
  CFgUIObj* controls[] = {&m_option, &m_hueLabel, &m_widthLabel, &m_satLabel, &m_valLabel, &m_hueBar,
                          &m_widthBar, &m_satBar, &m_valBar, &m_setBox, &m_addBox};
  for (CFgUIObj* c : controls) c->m_visible = 0;
}

CPanelHSV::~CPanelHSV() { ClearUndo(); }

void CPanelHSV::Attach(CFgUIDialog* host)
{
  if (!host) return;
  m_host = host;
  CFgUIObj* controls[] = {&m_option, &m_hueLabel, &m_widthLabel, &m_satLabel, &m_valLabel, &m_hueBar,
                          &m_widthBar, &m_satBar, &m_valBar, &m_setBox, &m_addBox};
  for (CFgUIObj* c : controls) host->AddChild(c);
}

void CPanelHSV::Build(int32_t show, int32_t x0, int32_t y0, int32_t x1, int32_t, const wchar_t* language)
{
  CFgUIObj* controls[] = {&m_option, &m_hueLabel, &m_widthLabel, &m_satLabel, &m_valLabel, &m_hueBar,
                          &m_widthBar, &m_satBar, &m_valBar, &m_setBox, &m_addBox};
  if (!show) {
    for (CFgUIObj* c : controls) c->Show(0);
    return;
  }
  const int32_t ja = IsJapanese(language);
  struct Item {
    CFgUIObj* control;
    wchar_t* text;  // null: no text
    const wchar_t *ja, *en;
    int32_t xJa, yJa, wJa, xEn, yEn, wEn;
  } items[] = {
      {&m_hueLabel, m_hueLabel.m_text, L"色相(中心)", L"H center", 8, 8, 72, 8, 8, 56},
      {&m_widthLabel, m_widthLabel.m_text, L"色相(幅)", L"H width", 8, 28, 56, 9, 28, 48},
      {&m_satLabel, m_satLabel.m_text, L"彩度", L"S", 8, 48, 32, 9, 48, 8},
      {&m_valLabel, m_valLabel.m_text, L"輝度", L"V", 8, 68, 32, 8, 68, 8},
      {&m_option, m_option.m_text, L"オプション", L"OPTION", 8, 96, 80, 8, 96, 64},
      {&m_setBox, m_setBox.m_text, L"色選択", L"color set", 96, 96, 96, 80, 96, 96},
      {&m_addBox, m_addBox.m_text, L"色追加", L"color add", 176, 96, 96, 174, 96, 96},
  };
  for (const Item& it : items) {
    FgSetWidgetText(it.text, ja ? it.ja : it.en);
    it.control->SetRect(x0 + (ja ? it.xJa : it.xEn), y0 + (ja ? it.yJa : it.yEn), ja ? it.wJa : it.wEn, 20);
  }
  const int64_t W = int64_t(x1) - x0 - (ja ? 104 : 88);
  if (W >= 1 && W <= INT32_MAX) {
    const int32_t bx = x0 + (ja ? 96 : 80);
    m_hueBar.SetRect(bx, y0 + 8, int32_t(W), 20);
    m_widthBar.SetRect(bx, y0 + 28, int32_t(W), 20);
    m_satBar.SetRect(bx, y0 + 48, int32_t(W), 20);
    m_valBar.SetRect(bx, y0 + 68, int32_t(W), 20);
  }
  for (CFgUIObj* c : controls) c->Show(1);
}

// ---- panel values and undo ------------------------------------------------------------------

ColourWindow CPanelHSV::GetWindow() const
{
  PlatformLockHold hold(m_lock);
  return m_window;
}

void CPanelHSV::SetWindowValues(const ColourWindow& window)
{
  PlatformLockHold hold(m_lock);
  m_window = window;
}

void CPanelHSV::MoveBars(const ColourWindow& w)
{
  if (m_hueBar.IsValidPosition(w.hue)) m_hueBar.m_position = w.hue;
  if (m_widthBar.IsValidPosition(w.halfWidth)) m_widthBar.m_position = w.halfWidth;
  if (m_satBar.IsValid(w.satLow, w.satHigh)) {
    m_satBar.m_low = w.satLow;
    m_satBar.m_high = w.satHigh;
  }
  if (m_valBar.IsValid(w.valLow, w.valHigh)) {
    m_valBar.m_low = w.valLow;
    m_valBar.m_high = w.valHigh;
  }
}

void CPanelHSV::PushUndo(const ColourWindow& window)
{
  // Without memory the pick goes on without an undo step.
  auto* grown = static_cast<ColourWindow*>(TrackRealloc(m_undo, size_t(m_undoCount + 1) * sizeof(ColourWindow)));
  if (!grown) return;
  m_undo = grown;
  m_undo[m_undoCount++] = window;
}

int32_t CPanelHSV::PopUndo(ColourWindow* window)
{
  if (m_undoCount == 0) return 0;
  *window = m_undo[--m_undoCount];
  if (m_undoCount == 0) ClearUndo();
  return 1;
}

void CPanelHSV::ClearUndo()
{
  free(m_undo);
  m_undo = nullptr;
  m_undoCount = 0;
}

void CPanelHSV::RedrawHost()
{
  if (m_host) m_host->Redraw();
}

void CPanelHSV::Changed()
{
  if (m_onChange) m_onChange(m_changeUser, this);
}

// ---- panel operations -------------------------------------------------------------------

void CPanelHSV::DrawPreview(CImgBuff* picture) { TintOutsideWindow(picture, GetWindow(), m_tint); }

CTrack* CPanelHSV::CreateTrack()
{
  auto* track = new (std::nothrow) CTrackHSV;
  if (track) track->SetWindow(GetWindow());
  return track;
}

void CPanelHSV::LoadFromTrack(CTrack* target)
{
  if (!target || target->kind != TrackKindColour) return;
  const ColourWindow w = static_cast<CTrackHSV*>(target)->GetWindow();
  SetWindowValues(w);
  MoveBars(w);
  RedrawHost();
}

void CPanelHSV::StoreToTrack(CTrack* target)
{
  if (!target || target->kind != TrackKindColour) return;
  static_cast<CTrackHSV*>(target)->SetWindow(GetWindow());
}

void CPanelHSV::ResetPicking()
{
  m_setBox.m_checked = 0;
  m_addBox.m_checked = 0;
  m_pickPending = 0;
  ClearUndo();
}

int32_t CPanelHSV::OnProcess(CImgBuff* picture, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, int32_t, int32_t)
{
  if (!m_pickPending || !picture || !picture->Pixels()) return 1;
  // The box is clipped to the picture itself: clipping to the size of a processing
  // rectangle that does not start at 0, 0 would cut it short or empty it.
  const int64_t x0 = std::max<int64_t>(m_pickX - 2, 0), y0 = std::max<int64_t>(m_pickY - 2, 0);
  const int64_t x1 = std::min<int64_t>(m_pickX + 2, picture->Width() - 1);
  const int64_t y1 = std::min<int64_t>(m_pickY + 2, picture->Height() - 1);
  if (x0 > x1 || y0 > y1) return 1;
  const C_ImgBuff* rec = picture->record;
  const ColourWindow before = GetWindow();
  ColourWindow w = before;
  if (m_pickMode == 0) {
    uint16_t h, s, v;
    rec->GetHSV16(int32_t(x0), int32_t(y0), &h, &s, &v);
    w = {h, 0, s, s, v, v};
  }
  for (int64_t y = y0; y <= y1; ++y) {
    for (int64_t x = x0; x <= x1; ++x) {
      uint16_t h, s, v;
      rec->GetHSV16(int32_t(x), int32_t(y), &h, &s, &v);
      AdjustHueInterval(w.hue, w.halfWidth, h, &w.hue, &w.halfWidth);
      w.satLow = std::min(w.satLow, s);
      w.satHigh = std::max(w.satHigh, s);
      w.valLow = std::min(w.valLow, v);
      w.valHigh = std::max(w.valHigh, v);
    }
  }
  // The UI thread waits for this run; the lock keeps a redraw of another thread off the
  // widgets meanwhile.
  PlatformLockHold draw(FgDrawLock());
  PushUndo(before);
  SetWindowValues(w);
  MoveBars(w);
  if (m_pickMode == 0) {
    m_pickMode = 1;
    m_setBox.m_checked = 0;
    m_addBox.m_checked = 1;
  }
  RedrawHost();
  return 1;
}

int32_t CPanelHSV::OnLButtonDown(int32_t, int32_t, uint32_t) { return Picking() ? 0 : 1; }

int32_t CPanelHSV::OnLButtonUp(int32_t x, int32_t y)
{
  if (!Picking()) return 1;
  m_pickPending = 1;
  m_pickX = x;
  m_pickY = y;
  Changed();  // the owner runs the chain and waits: the pick happens in OnProcess
  m_pickPending = 0;
  return 0;
}

int32_t CPanelHSV::Undo(int32_t moveBars)
{
  if (!Picking()) return 1;
  ColourWindow w;
  if (!PopUndo(&w)) return 0;
  SetWindowValues(w);
  if (moveBars) {
    MoveBars(w);
    RedrawHost();
  }
  Changed();
  return 0;
}

int32_t CPanelHSV::OnRButtonDown(int32_t, int32_t) { return Undo(1); }
int32_t CPanelHSV::OnRButtonUp(int32_t, int32_t) { return Undo(0); }

// ---- panel callbacks --------------------------------------------------------------------

void CPanelHSV::EndPickingByBar()
{
  if (!Picking()) return;
  m_setBox.m_checked = 0;
  m_addBox.m_checked = 0;
  m_pickPending = 0;
  RedrawHost();
}

void CPanelHSV::OnHueBar(CFgUIScrollBar*, void* user, int32_t position)
{
  auto* self = static_cast<CPanelHSV*>(user);
  self->EndPickingByBar();
  ColourWindow w = self->GetWindow();
  w.hue = uint16_t(std::clamp(position, 0, 65535));
  self->SetWindowValues(w);
  self->Changed();
}

void CPanelHSV::OnWidthBar(CFgUIScrollBar*, void* user, int32_t position)
{
  auto* self = static_cast<CPanelHSV*>(user);
  self->EndPickingByBar();
  ColourWindow w = self->GetWindow();
  w.halfWidth = uint16_t(std::clamp(position, 0, 32768));
  self->SetWindowValues(w);
  self->Changed();
}

void CPanelHSV::OnSatBar(CFgUIRangeBar*, void* user, int32_t low, int32_t high)
{
  auto* self = static_cast<CPanelHSV*>(user);
  self->EndPickingByBar();
  ColourWindow w = self->GetWindow();
  w.satLow = uint16_t(std::clamp(low, 0, 65535));
  w.satHigh = uint16_t(std::clamp(high, int32_t(w.satLow), 65535));
  self->SetWindowValues(w);
  self->Changed();
}

void CPanelHSV::OnValBar(CFgUIRangeBar*, void* user, int32_t low, int32_t high)
{
  auto* self = static_cast<CPanelHSV*>(user);
  self->EndPickingByBar();
  ColourWindow w = self->GetWindow();
  w.valLow = uint16_t(std::clamp(low, 0, 65535));
  w.valHigh = uint16_t(std::clamp(high, int32_t(w.valLow), 65535));
  self->SetWindowValues(w);
  self->Changed();
}

void CPanelHSV::OnSetBox(CFgUIChkButton* box, void* user)
{
  auto* self = static_cast<CPanelHSV*>(user);
  if (!box->m_checked) {
    self->ClearUndo();
    return;
  }
  self->m_pickMode = 0;
  self->m_addBox.m_checked = 0;
  self->PushUndo(self->GetWindow());
  const ColourWindow whole;
  self->SetWindowValues(whole);
  self->MoveBars(whole);
  self->RedrawHost();
  self->Changed();
}

void CPanelHSV::OnAddBox(CFgUIChkButton* box, void* user)
{
  auto* self = static_cast<CPanelHSV*>(user);
  if (!box->m_checked) {
    self->ClearUndo();
    return;
  }
  self->m_pickMode = 1;
  self->m_setBox.m_checked = 0;
  self->RedrawHost();
}

void CPanelHSV::OnOption(CFgUIButton*, void* user)
{
  auto* self = static_cast<CPanelHSV*>(user);
  if (self->m_owner) self->m_owner->OpenOptions();
}
