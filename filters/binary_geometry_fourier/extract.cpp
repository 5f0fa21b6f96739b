// extract.cpp - CLfExtract: the colour window and its bars, picks with undo taken on the
// worker, the extraction of the chain rectangle and its tinted preview, the settings pack.
// Inside: preview rows - window - range and undo - callbacks - mouse - processing - settings
//
// Controls and results:
//   "reverse", "fill", "grayscale"  the flag stored; frame processed (waits); "grayscale"
//                                   then applies the enable rule
//   "pickup and set" ticked         mode set, "pickup and add" unticked, the window pushed on
//                                   the undo list, then the whole window (SetRange)
//   "pickup and add" ticked         mode add, "pickup and set" unticked; frame (waits)
//   a pick box unticked             mode none, undo list emptied
//   "preview"                       frame (waits)
//   a bar moved                     its values stored; frame (no wait); picking ends, the undo
//                                   list is emptied and both pick boxes unticked
//   left click, mode set or add     pick pending at the point; frame (waits); the worker
//                                   samples 5 x 5 pixels and a set pick turns into add
//   right click, mode set or add    the last undo record popped into SetRange
// Lock order: the draw lock, then the filter's own; none is held across a waiting request.
#include "filters/binary_geometry_fourier/extract.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/parallel.h"
#include "engine/frame.h"
#include "engine/range.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfExtract::s_classPlace;

// ---------------------------------------------------------------------------------------
// Preview rows
void ExtractPreviewTint(const uint8_t tint[3], uint8_t light[3], uint8_t dark[3]) {
  const int32_t none = tint[0] == 0 && tint[1] == 0 && tint[2] == 0;
  for (int c = 0; c < 3; ++c) {
    light[c] = none ? 127 : (tint[c] ? 192 : 0);
    dark[c] = none ? 0 : (tint[c] ? 64 : 0);
  }
}

namespace {

// 8-bit R, G, B pictures (the common case) straight on the bytes; the mask is the same
// format, written black or white in every channel by the extraction.
void PreviewRowRgb24(const ExtractPreviewJob& j, int32_t y) {
  const int32_t w = j.picture->Width();
  uint8_t* row = static_cast<uint8_t*>(j.picture->Pixels()) + (uint64_t(y) * w) * 3;
  const uint8_t* mrow = static_cast<const uint8_t*>(j.mask->Pixels()) + (uint64_t(y) * w) * 3;
  const int32_t cellRow = ((y - j.y0) >> 2) & 1;
  for (int32_t x = j.x0; x <= j.x1;) {
    // One 4-pixel cell (or its part inside the rectangle) shares its tint.
    const int32_t cellEnd = std::min(j.x1, j.x0 + (((x - j.x0) >> 2) << 2) + 3);
    const uint8_t* t = ((((x - j.x0) >> 2) + cellRow) & 1) ? j.dark : j.light;
    for (; x <= cellEnd; ++x) {
      const uint8_t* m = mrow + uint64_t(x) * 3;
      uint8_t* p = row + uint64_t(x) * 3;
      // The mask's 8-bit gray level is 0 exactly when all three channels are 0.  Selected
      // and dropped pixels alternate at random: a blend by mask, not a branch.
      const int32_t keep = -int32_t((m[0] | m[1] | m[2]) != 0);  // all ones or 0
      for (int c = 0; c < 3; ++c) {
        const int32_t v = p[c], tinted = (v + t[c]) >> 1;
        p[c] = uint8_t((v & keep) | (tinted & ~keep));
      }
    }
  }
}

// Every other format through the accessors, as 8-bit R, G, B.
void PreviewRowAny(const ExtractPreviewJob& j, int32_t y) {
  C_ImgBuff* pic = j.picture->record;
  const C_ImgBuff* mask = j.mask->record;
  for (int32_t x = j.x0; x <= j.x1; ++x) {
    uint8_t g = 0;
    mask->GetGray8(x, y, &g);
    if (g) continue;
    const uint8_t* t = ((((x - j.x0) >> 2) + ((y - j.y0) >> 2)) & 1) ? j.dark : j.light;
    uint8_t r = 0, gg = 0, b = 0;
    pic->GetRGB8(x, y, &r, &gg, &b);
    pic->SetRGB8(x, y, uint8_t((r + t[0]) / 2), uint8_t((gg + t[1]) / 2),
                 uint8_t((b + t[2]) / 2));
  }
}

}  // namespace

void CLfExtract::PreviewRows(void* job, uint64_t first, uint64_t count) {
  const ExtractPreviewJob& j = *static_cast<const ExtractPreviewJob*>(job);
  const int32_t fast = j.picture->Format() == ImgFormatRgb24 && j.mask->Format() == ImgFormatRgb24;
  for (uint64_t i = 0; i < count; ++i) {
    const int32_t y = j.y0 + int32_t(first + i);
    if (fast) PreviewRowRgb24(j, y);
    else PreviewRowAny(j, y);
  }
}

// ---------------------------------------------------------------------------------------
// Window
namespace {

// "色相", "許容範囲", "彩度", "輝度"
const wchar_t* const kLabelJa[4] = {L"\u8272\u76F8", L"\u8A31\u5BB9\u7BC4\u56F2",
                                    L"\u5F69\u5EA6", L"\u8F1D\u5EA6"};
const wchar_t* const kLabelEn[4] = {L"hue", L"tolerance", L"saturation", L"bright"};

void SetUpBar(CFgUIScrollBar* bar, int32_t maximum, int32_t position) {
  bar->m_kind = FgBarHorizontal;
  bar->SetRange(0, maximum, 1, position);
  bar->m_wheelStep = 256;
}

void SetUpRange(CFgUIRangeBar* bar) {
  bar->m_kind = FgBarHorizontal;
  bar->m_minimum = 0;
  bar->m_maximum = 65535;
  bar->m_low = 0;
  bar->m_high = 65535;
  bar->m_wheelStep = 256;
}

}  // namespace

CLfExtract::CLfExtract() : CFilterWindow(&s_classPlace) {
  int n = 0;
  for (int i = 0; i < 4; ++i) {
    m_layoutItems[n++] = {&m_labels[i], kLabelEn[i], kLabelJa[i], 10, 10 + 25 * i,
                          10, 10 + 25 * i, 80, 20};
  }
  m_layoutItems[n++] = {&m_reverseBox, L"reverse", L"\u53CD\u8EE2", 10, 115, 10, 115, 120, 20};
  m_layoutItems[n++] = {&m_fillBox, L"fill", L"\u5857\u308A\u3064\u3076\u3059",  // 塗りつぶす
                        10, 140, 10, 140, 120, 20};
  // "グレースケールとして処理"
  m_layoutItems[n++] = {&m_grayBox, L"grayscale",
                        L"\u30B0\u30EC\u30FC\u30B9\u30B1\u30FC\u30EB\u3068\u3057\u3066\u51E6"
                        L"\u7406",
                        10, 165, 10, 165, 200, 20};
  m_layoutItems[n++] = {&m_toleranceBar, nullptr, nullptr, 95, 35, 75, 35, 274, 20};
  m_layoutItems[n++] = {&m_hueBar, nullptr, nullptr, 95, 10, 75, 10, 274, 20};
  m_layoutItems[n++] = {&m_satBar, nullptr, nullptr, 95, 60, 75, 60, 274, 20};
  m_layoutItems[n++] = {&m_valBar, nullptr, nullptr, 95, 85, 75, 85, 274, 20};
  // "マウスで色選択", "マウスで色追加", "プレビュー"
  m_layoutItems[n++] = {&m_pickSetBox, L"pickup and set",
                        L"\u30DE\u30A6\u30B9\u3067\u8272\u9078\u629E", 245, 115, 245, 115, 130,
                        20};
  m_layoutItems[n++] = {&m_pickAddBox, L"pickup and add",
                        L"\u30DE\u30A6\u30B9\u3067\u8272\u8FFD\u52A0", 245, 140, 245, 140, 130,
                        20};
  m_layoutItems[n++] = {&m_previewBox, L"preview", L"\u30D7\u30EC\u30D3\u30E5\u30FC", 245, 165,
                        245, 165, 130, 20};
  for (int i = 0; i < n; ++i) AddChild(m_layoutItems[i].control);

  SetUpBar(&m_toleranceBar, 32768, m_range.halfWidth);
  SetUpBar(&m_hueBar, 65535, m_range.hue);
  SetUpRange(&m_satBar);
  SetUpRange(&m_valBar);
  for (CFgUIScrollBar* bar : {&m_toleranceBar, &m_hueBar}) {
    bar->m_callback = &CLfExtract::OnScrollBar;
    bar->m_user = this;
  }
  for (CFgUIRangeBar* bar : {&m_satBar, &m_valBar}) {
    bar->m_callback = &CLfExtract::OnRangeBar;
    bar->m_user = this;
  }
  for (CFgUIChkButton* box : {&m_reverseBox, &m_fillBox, &m_grayBox}) {
    box->m_callback = &CLfExtract::OnFlagBox;
    box->m_user = this;
  }
  m_pickSetBox.m_callback = &CLfExtract::OnPickSetBox;
  m_pickAddBox.m_callback = &CLfExtract::OnPickAddBox;
  m_previewBox.m_callback = &CLfExtract::OnPreviewBox;
  for (CFgUIChkButton* box : {&m_pickSetBox, &m_pickAddBox, &m_previewBox}) box->m_user = this;

  m_layout = {m_layoutItems, uint64_t(n), 380, 190, 380, 190, nullptr, 0};
  LayOut(m_language);
  UpdateControls();
}

CLfExtract::~CLfExtract() {
  PlatformLockHold own(m_lock);
  free(m_undo);
  m_undo = nullptr;
  m_undoCount = 0;
}

// The shared layout keeps one width per control; the Japanese labels are narrower (60) and
// the bars wider (294).
void CLfExtract::LayOut(const wchar_t* language) {
  ApplyFilterLayout(m_layout, language, nullptr, nullptr);
  if (!IsJapanese(language)) return;
  for (int i = 0; i < 4; ++i) m_labels[i].SetRect(10, 10 + 25 * i, 60, 20);
  m_hueBar.SetRect(75, 10, 294, 20);
  m_toleranceBar.SetRect(75, 35, 294, 20);
  m_satBar.SetRect(75, 60, 294, 20);
  m_valBar.SetRect(75, 85, 294, 20);
}

const wchar_t* CLfExtract::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\u62BD\u51FA" : L"Extraction";  // "抽出"
}

void CLfExtract::ShowDialog(int32_t show, CFgScreen* parent) {
  SetTintFromGuide();
  CFilterWindow::ShowDialog(show, parent);
  if (show) {
    LayOut(m_language);
    CFgUICtrl::Redraw();
  }
}

void CLfExtract::SetTintFromGuide() {
  uint8_t t[3];
  for (int c = 0; c < 3; ++c) {
    const double v = m_guide[c] * 255.0;
    // A guide colour outside 0 to 1 (or not a number) is clamped, never converted undefined.
    t[c] = v >= 255.0 ? 255 : (v > 0 ? uint8_t(v) : 0);
  }
  PlatformLockHold own(m_lock);
  for (int c = 0; c < 3; ++c) m_tint[c] = t[c];
}

void CLfExtract::OnOverlayColorChanged(double, double, double) {
  SetTintFromGuide();
  if (m_preview.load()) RequestIfEnabled(this, 0);
}

void CLfExtract::UpdateControls() {
  PlatformLockHold draw(FgDrawLock());
  const int32_t colour = m_gray.load() ? 0 : 1;
  SetControlEnabled(&m_hueBar, colour);
  SetControlEnabled(&m_toleranceBar, colour);
  SetControlEnabled(&m_satBar, colour);
}

// ---------------------------------------------------------------------------------------
// Range and undo
ExtractRange CLfExtract::GetRange() {
  PlatformLockHold own(m_lock);
  return m_range;
}

uint32_t CLfExtract::GetPickMode() {
  PlatformLockHold own(m_lock);
  return m_pickMode;
}

uint64_t CLfExtract::GetUndoCount() {
  PlatformLockHold own(m_lock);
  return m_undoCount;
}

void CLfExtract::GetTint(uint8_t out[3]) {
  PlatformLockHold own(m_lock);
  for (int c = 0; c < 3; ++c) out[c] = m_tint[c];
}

void CLfExtract::MoveBars(const ExtractRange& r) {
  if (m_hueBar.IsValidPosition(r.hue)) m_hueBar.m_position = r.hue;
  if (m_toleranceBar.IsValidPosition(r.halfWidth)) m_toleranceBar.m_position = r.halfWidth;
  if (m_satBar.IsValid(r.satLow, r.satHigh)) {
    m_satBar.m_low = r.satLow;
    m_satBar.m_high = r.satHigh;
  }
  if (m_valBar.IsValid(r.valLow, r.valHigh)) {
    m_valBar.m_low = r.valLow;
    m_valBar.m_high = r.valHigh;
  }
}

void CLfExtract::PushUndo(const ExtractRange& r) {
  // When the list cannot grow, the pick goes on without a record.
  auto* grown =
      static_cast<ExtractRange*>(realloc(m_undo, sizeof(ExtractRange) * (m_undoCount + 1)));
  if (!grown) return;
  m_undo = grown;
  m_undo[m_undoCount++] = r;
}

void CLfExtract::ClearUndo() {
  free(m_undo);
  m_undo = nullptr;
  m_undoCount = 0;
}

void CLfExtract::SetRange(const ExtractRange& range) {
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold own(m_lock);
    m_range = range;
    MoveBars(range);
  }
  RequestIfEnabled(this, 1);
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CLfExtract::OnFlagBox(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfExtract*>(user);
  const uint32_t on = box->m_checked ? 1 : 0;
  if (box == &self->m_reverseBox) self->m_reverse.store(on);
  else if (box == &self->m_fillBox) self->m_fill.store(on);
  else self->m_gray.store(on);
  RequestIfEnabled(self, 0);
  if (box == &self->m_grayBox) {
    self->UpdateControls();
    self->CFgUICtrl::Redraw();
  }
}

void CLfExtract::OnPickSetBox(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfExtract*>(user);
  if (!box->m_checked) {
    {
      PlatformLockHold own(self->m_lock);
      self->m_pickMode = PickNone;
      self->ClearUndo();
    }
    self->CFgUICtrl::Redraw();
    return;
  }
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold own(self->m_lock);
    self->m_pickMode = PickSet;
    self->m_pickAddBox.m_checked = 0;
    self->PushUndo(self->m_range);
  }
  self->SetRange(ExtractRange{});
}

void CLfExtract::OnPickAddBox(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfExtract*>(user);
  if (!box->m_checked) {
    {
      PlatformLockHold own(self->m_lock);
      self->m_pickMode = PickNone;
      self->ClearUndo();
    }
    self->CFgUICtrl::Redraw();
    return;
  }
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold own(self->m_lock);
    self->m_pickMode = PickAdd;
    self->m_pickSetBox.m_checked = 0;
  }
  RequestIfEnabled(self, 0);
  self->CFgUICtrl::Redraw();
}

void CLfExtract::OnPreviewBox(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfExtract*>(user);
  self->m_preview.store(box->m_checked ? 1 : 0);
  RequestIfEnabled(self, 0);
  self->CFgUICtrl::Redraw();
}

void CLfExtract::BarMoved(const ExtractRange& range) {
  uint32_t wasPicking = 0;
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold own(m_lock);
    m_range = range;
    wasPicking = m_pickMode != PickNone;
    if (wasPicking) {
      m_pickMode = PickNone;
      ClearUndo();
      m_pickSetBox.m_checked = 0;
      m_pickAddBox.m_checked = 0;
    }
  }
  RequestIfEnabled(this, 1);
  if (wasPicking) CFgUICtrl::Redraw();
}

void CLfExtract::OnScrollBar(CFgUIScrollBar* bar, void* user, int32_t position) {
  auto* self = static_cast<CLfExtract*>(user);
  ExtractRange r = self->GetRange();
  if (position < 0 || position > 65535) return;
  if (bar == &self->m_hueBar) r.hue = uint16_t(position);
  else if (position <= 32768) r.halfWidth = uint16_t(position);
  else return;
  self->BarMoved(r);
}

void CLfExtract::OnRangeBar(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high) {
  auto* self = static_cast<CLfExtract*>(user);
  if (low < 0 || high > 65535 || low > high) return;
  ExtractRange r = self->GetRange();
  if (bar == &self->m_satBar) {
    r.satLow = uint16_t(low);
    r.satHigh = uint16_t(high);
  } else {
    r.valLow = uint16_t(low);
    r.valHigh = uint16_t(high);
  }
  self->BarMoved(r);
}

// ---------------------------------------------------------------------------------------
// Mouse
void CLfExtract::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  {
    PlatformLockHold own(m_lock);
    if (m_pickMode == PickNone) return;
    m_pickX = x;
    m_pickY = y;
    m_pickPending = 1;
  }
  RequestIfEnabled(this, 0);
}

void CLfExtract::OnRButtonDown(int64_t, int64_t, uint8_t) {
  ExtractRange last;
  {
    PlatformLockHold own(m_lock);
    if (m_pickMode == PickNone || m_undoCount == 0) return;
    last = m_undo[--m_undoCount];
    if (m_undoCount == 0) ClearUndo();
  }
  SetRange(last);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfExtract::RunPick(const CImgBuff* picture) {
  m_pickPending = 0;
  if (m_pickMode == PickNone) return;  // picking ended before the worker came to it
  const int64_t px = m_pickX, py = m_pickY;
  // A point outside the picture (an earlier filter made it smaller than the view) has no
  // colour of its own: the pick is dropped, nothing recorded, nothing read.
  if (px < 0 || py < 0 || px >= picture->Width() || py >= picture->Height()) return;
  RoiRect box{int32_t(px) - 2, int32_t(py) - 2, int32_t(px) + 2, int32_t(py) + 2};
  if (!NormalizeRoi(&box, picture)) return;
  PushUndo(m_range);
  const int32_t colour = picture->Format() >= ImgFormatRgb24;
  const C_ImgBuff* rec = picture->record;
  ExtractRange r = m_range;
  uint16_t h = 0, s = 0, v = 0;
  if (m_pickMode == PickSet) {
    rec->GetHSV16(int32_t(px), int32_t(py), &h, &s, &v);
    if (colour) {
      r.hue = h;
      r.halfWidth = 0;
      r.satLow = r.satHigh = s;
    }
    r.valLow = r.valHigh = v;
  }
  for (int32_t sy = box.y0; sy <= box.y1; ++sy)
    for (int32_t sx = box.x0; sx <= box.x1; ++sx) {
      rec->GetHSV16(sx, sy, &h, &s, &v);
      if (colour) {
        AdjustHueInterval(r.hue, r.halfWidth, h, &r.hue, &r.halfWidth);
        r.satLow = std::min(r.satLow, s);
        r.satHigh = std::max(r.satHigh, s);
      }
      r.valLow = std::min(r.valLow, v);
      r.valHigh = std::max(r.valHigh, v);
    }
  m_range = r;
  MoveBars(r);
  if (m_pickMode == PickSet) {
    m_pickMode = PickAdd;
    m_pickSetBox.m_checked = 0;
    m_pickAddBox.m_checked = 1;
  }
  CFgUICtrl::Redraw();
}

void CLfExtract::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                         int64_t height, uint32_t, uint32_t background) {
  if (!picture || picture->Format() == ImgFormatNone) return;
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold own(m_lock);
  if (m_pickPending) RunPick(picture);
  const ExtractRange r = m_range;
  const uint32_t preview = m_preview.load();
  const uint32_t gray = m_gray.load();
  const uint32_t reverse = m_reverse.load();
  const RoiRect rect = ChainRectToRoi(x, y, width, height);

  CImgBuff& mask = m_mask;
  CImgBuff* target = picture;
  uint32_t fill = m_fill.load();
  uint32_t bg = background ? 1 : 0;
  if (preview) {
    const int32_t f = picture->Format();
    if (f >= ImgFormatGray8 && f <= ImgFormatGray32 &&
        !picture->record->ConvertTo(f + (ImgFormatRgb24 - ImgFormatGray8)))
      return;
    // The mask keeps its block from frame to frame: a fresh block per frame costs more in
    // page faults than the whole preview.
    const uint64_t bytes = uint64_t(picture->Width()) * uint64_t(picture->Height()) *
                           uint64_t(ImgBytesPerPixel[picture->Format()]);
    if (mask.Format() == picture->Format() && mask.Width() == picture->Width() &&
        mask.Height() == picture->Height())
      std::memcpy(mask.Pixels(), picture->Pixels(), size_t(bytes));
    else
      mask.record->CopyFrom(*picture->record);
    if (mask.Format() == ImgFormatNone) return;
    target = &mask;
    fill = 1;
    bg = 0;
  }
  const int32_t format = target->Format();
  if (!gray && format >= ImgFormatRgb24) {
    ExtractHsvRange(target, r.hue, r.halfWidth, r.satLow, r.satHigh, r.valLow, r.valHigh,
                    reverse, fill, bg, &rect);
  } else {
    RoiRect roi = rect;
    if (r.valLow <= r.valHigh && NormalizeRoi(&roi, target)) {
      HsvRangeJob job{target, r.hue,    r.halfWidth, r.satLow, r.satHigh, r.valLow,
                      r.valHigh, reverse, bg,         fill,     roi.x0,    roi.y0,
                      roi.x1,    roi.y1};
      const int32_t eight =
          format == ImgFormatGray8 || format == ImgFormatRgb24 || format == ImgFormatCmyk32;
      ParallelFor(eight ? &ExtractRangeRowsGray8 : &ExtractRangeRowsGray16, &job,
                  uint64_t(roi.y1 - roi.y0) + 1);
    }
  }
  if (preview) {
    RoiRect roi = rect;
    if (!NormalizeRoi(&roi, picture)) return;
    ExtractPreviewJob job{picture, &mask, roi.x0, roi.y0, roi.x1, roi.y1, {}, {}};
    ExtractPreviewTint(m_tint, job.light, job.dark);
    ParallelFor(&CLfExtract::PreviewRows, &job, uint64_t(roi.y1 - roi.y0) + 1);
    return;
  }
  mask.Free();  // preview off: no frame-sized block kept
  const int32_t f = picture->Format();
  if (f >= ImgFormatRgb24 && fill && rect.x0 == 0 && rect.y0 == 0 &&
      rect.x1 == picture->Width() - 1 && rect.y1 == picture->Height() - 1)
    picture->record->ConvertTo(f == ImgFormatRgb24 || f == ImgFormatCmyk32 ? ImgFormatGray8
                                                                           : ImgFormatGray16);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfExtract::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PackWriteFlag(pack, L"reverse", m_reverse.load());
  PackWriteFlag(pack, L"fill", m_fill.load());
  PackWriteFlag(pack, L"gray", m_gray.load());
  const ExtractRange r = GetRange();
  PackWriteUnsigned(pack, L"hc", r.hue);
  PackWriteUnsigned(pack, L"hw", r.halfWidth);
  wchar_t text[32];
  swprintf(text, 32, L"%u,%u", unsigned(r.satLow), unsigned(r.satHigh));
  pack->AddItem(L"s", text);
  swprintf(text, 32, L"%u,%u", unsigned(r.valLow), unsigned(r.valHigh));
  pack->AddItem(L"v", text);
}

namespace {

// "low,high", both read as decimals; taken only when 0 <= low <= high <= 65535.
void ReadPair(const CCfgPack* pack, const wchar_t* key, uint16_t* low, uint16_t* high) {
  int64_t v[2] = {-1, -1};
  if (PackReadSignedList(pack, key, 0, 65535, v, 2, nullptr) != 2 || v[0] > v[1]) return;
  *low = uint16_t(v[0]);
  *high = uint16_t(v[1]);
}

}  // namespace

void CLfExtract::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  std::atomic<uint32_t>* flags[3] = {&m_reverse, &m_fill, &m_gray};
  CFgUIChkButton* boxes[3] = {&m_reverseBox, &m_fillBox, &m_grayBox};
  const wchar_t* keys[3] = {L"reverse", L"fill", L"gray"};
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold own(m_lock);
    for (int i = 0; i < 3; ++i) {
      uint32_t v = flags[i]->load();
      if (PackReadFlag(pack, keys[i], &v, nullptr)) {
        flags[i]->store(v);
        boxes[i]->m_checked = int32_t(v);
      }
    }
    ExtractRange r = m_range;
    uint64_t u = 0;
    if (PackReadUnsigned(pack, L"hc", 65535, &u, nullptr)) r.hue = uint16_t(u);
    if (PackReadUnsigned(pack, L"hw", 32768, &u, nullptr)) r.halfWidth = uint16_t(u);
    ReadPair(pack, L"s", &r.satLow, &r.satHigh);
    ReadPair(pack, L"v", &r.valLow, &r.valHigh);
    m_range = r;
    MoveBars(r);
  }
  UpdateControls();
  CFgUICtrl::Redraw();
}
