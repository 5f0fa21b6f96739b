// clear.cpp - CLfClear: the rows of "setting" and "adjustment", the window and its settings.
// Inside: rows - window - callbacks - chain - settings
//
// Controls and results:
//   "setting" / "adjustment"   mode; frame processed without waiting
//   "min" / "center" / "max"   the bar moves to 0 / 128 / 255 and reports it
//   value bar                  SetValue: value stored, frame processed without waiting
//   LoadParams                 radio and bar set from the settings; redraw
#include "filters/colour_pixel/clear.h"

#include <algorithm>
#include <cstring>

#include "app/cfgfile.h"
#include "core/imgbuff.h"

FilterWindowPlace CLfClear::s_classPlace;

// ---------------------------------------------------------------------------------------
// Rows
namespace {

struct ClearJob {
  C_ImgBuff* rec;
  RoiRect r;
  uint32_t mode;
  int32_t shift;        // value - 128
  int32_t typed;
  uint8_t value;
  uint8_t table[256];   // 8-bit adjustment
  uint8_t grey[24];     // "setting" of formats 7 to 9: the grey pixel, converted once
};

template <class T>
T ClampAdd(T sample, int64_t shift, int64_t top) {
  const int64_t v = int64_t(sample) + shift;
  return T(v < 0 ? 0 : v > top ? top : v);
}

void AdjustAccessorRow(const ClearJob& job, int32_t y) {
  C_ImgBuff* rec = job.rec;
  const int64_t d = job.shift;
  for (int32_t x = job.r.x0; x <= job.r.x1; ++x) {
    switch (rec->format) {
      case ImgFormatGray8: {
        uint8_t v = 0;
        rec->GetGray8(x, y, &v);
        rec->SetGray8(x, y, ClampAdd<uint8_t>(v, d, 255));
        break;
      }
      case ImgFormatGray16: {
        uint16_t v = 0;
        rec->GetGray16(x, y, &v);
        rec->SetGray16(x, y, ClampAdd<uint16_t>(v, d * 257, 65535));
        break;
      }
      case ImgFormatGray32: {
        uint32_t v = 0;
        rec->GetGray32(x, y, &v);
        rec->SetGray32(x, y, ClampAdd<uint32_t>(v, d * 16843009, 4294967295LL));
        break;
      }
      case ImgFormatRgb24:
      case ImgFormatCmyk32: {
        uint8_t r = 0, g = 0, b = 0;
        rec->GetRGB8(x, y, &r, &g, &b);
        rec->SetRGB8(x, y, ClampAdd<uint8_t>(r, d, 255), ClampAdd<uint8_t>(g, d, 255),
                     ClampAdd<uint8_t>(b, d, 255));
        break;
      }
      case ImgFormatRgb48:
      case ImgFormatHsv48: {
        uint16_t r = 0, g = 0, b = 0;
        rec->GetRGB16(x, y, &r, &g, &b);
        rec->SetRGB16(x, y, ClampAdd<uint16_t>(r, d * 257, 65535),
                      ClampAdd<uint16_t>(g, d * 257, 65535), ClampAdd<uint16_t>(b, d * 257, 65535));
        break;
      }
      default: {  // 32-bit R,G,B and XYZ
        uint32_t r = 0, g = 0, b = 0;
        const int64_t s = d * 16843009, top = 4294967295LL;
        rec->GetRGB32(x, y, &r, &g, &b);
        rec->SetRGB32(x, y, ClampAdd<uint32_t>(r, s, top), ClampAdd<uint32_t>(g, s, top),
                      ClampAdd<uint32_t>(b, s, top));
        break;
      }
    }
  }
}

// clamp(sample + shift) in the sample's own width: a raise stops at the top by a min before
// the add, a fall at 0 by a max before the subtract, so the loop vectorises.
template <class T>
void AdjustTypedRow(T* p, int64_t samples, int64_t shift, int64_t top) {
  if (shift >= 0) {
    const T s = T(shift), limit = T(top - shift);
    for (int64_t i = 0; i < samples; ++i) p[i] = T((p[i] < limit ? p[i] : limit) + s);
  } else {
    const T s = T(-shift);
    for (int64_t i = 0; i < samples; ++i) p[i] = T((p[i] > s ? p[i] : s) - s);
  }
}

void ClearRows(void* ctx, uint64_t first, uint64_t count) {
  const ClearJob& job = *static_cast<const ClearJob*>(ctx);
  C_ImgBuff* rec = job.rec;
  int32_t yb = 0, ye = 0;
  PieceRows(job.r, first, count, &yb, &ye);
  const int32_t format = rec->format;
  const int64_t bpp = ImgBytesPerPixel[format];
  const int64_t span = RoiWidth(job.r);
  const bool direct = job.typed && format >= ImgFormatGray8 && format <= ImgFormatRgb96;
  for (int32_t y = yb; y < ye; ++y) {
    if (job.mode == ClearModeSetting) {
      if (direct) {
        std::memset(RowPtr<uint8_t>(rec, job.r.x0, y), job.value, size_t(span * bpp));
      } else if (job.typed) {
        uint8_t* p = RowPtr<uint8_t>(rec, job.r.x0, y);
        for (int64_t x = 0; x < span; ++x) std::memcpy(p + x * bpp, job.grey, size_t(bpp));
      } else {
        for (int32_t x = job.r.x0; x <= job.r.x1; ++x) rec->SetGray8(x, y, job.value);
      }
      continue;
    }
    if (!direct) {
      AdjustAccessorRow(job, y);
      continue;
    }
    const int64_t samples = span * (format >= ImgFormatRgb24 ? 3 : 1);
    switch (format) {
      case ImgFormatGray8:
      case ImgFormatRgb24: {
        uint8_t* p = RowPtr<uint8_t>(rec, job.r.x0, y);
        for (int64_t i = 0; i < samples; ++i) p[i] = job.table[p[i]];
        break;
      }
      case ImgFormatGray16:
      case ImgFormatRgb48:
        AdjustTypedRow(RowPtr<uint16_t>(rec, job.r.x0, y), samples, int64_t(job.shift) * 257,
                       65535);
        break;
      default:
        AdjustTypedRow(RowPtr<uint32_t>(rec, job.r.x0, y), samples,
                       int64_t(job.shift) * 16843009, 4294967295LL);
        break;
    }
  }
}

}  // namespace

void ClearRect(CImgBuff* picture, const RoiRect& roi, uint32_t mode, uint8_t value,
               int32_t typed) {
  if (!picture || !picture->record || !IsValidFormat(picture->Format())) return;
  if (mode == ClearModeAdjustment && value == 128) return;
  RoiRect r = roi;
  // The chain's rectangle may reach past the frame: only the pixels inside are touched.
  if (!NormalizeRoi(&r, picture)) return;
  ClearJob job{};
  job.rec = picture->record;
  job.r = r;
  job.mode = mode == ClearModeSetting ? ClearModeSetting : ClearModeAdjustment;
  job.shift = int32_t(value) - 128;
  job.typed = typed;
  job.value = value;
  for (int32_t i = 0; i < 256; ++i) job.table[i] = ClampAdd<uint8_t>(uint8_t(i), job.shift, 255);
  if (job.mode == ClearModeSetting && picture->Format() >= ImgFormatXyz) {
    CImgBuff one;
    if (one.Allocate(1, 1, picture->Format()) != 1) return;
    one.record->SetGray8(0, 0, value);
    std::memcpy(job.grey, one.Pixels(), size_t(ImgBytesPerPixel[picture->Format()]));
  }
  if (job.mode == ClearModeSetting && picture->Format() < ImgFormatXyz) {
    // A byte fill is bound by memory: one thread fills as fast as the pool, without waking it.
    ClearRows(&job, 0, uint64_t(RoiHeight(r)));
    return;
  }
  RunRows(&ClearRows, &job, r);
}

// ---------------------------------------------------------------------------------------
// Window
CLfClear::CLfClear() : CFilterWindow(&s_classPlace) {
  // "設定", "調整", "最小", "中央", "最大"
  m_layoutItems[0] = {&m_settingRadio, L"setting", L"\x8A2D\x5B9A", 8, 8, 8, 8, 80, 20};
  m_layoutItems[1] = {&m_adjustRadio, L"adjustment", L"\x8ABF\x6574", 96, 8, 96, 8, 100, 20};
  m_layoutItems[2] = {&m_minButton, L"min", L"\x6700\x5C0F", 8, 36, 8, 36, 80, 20};
  m_layoutItems[3] = {&m_centerButton, L"center", L"\x4E2D\x592E", 96, 36, 96, 36, 80, 20};
  m_layoutItems[4] = {&m_maxButton, L"max", L"\x6700\x5927", 184, 36, 184, 36, 80, 20};
  m_layoutItems[5] = {&m_bar, nullptr, nullptr, 8, 64, 8, 64, 256, 20};
  m_layout = {m_layoutItems, 6, 272, 92, 272, 92, nullptr, 0};

  for (CFgUIChkButton* radio : {&m_settingRadio, &m_adjustRadio}) {
    radio->m_callback = &CLfClear::OnRadio;
    radio->m_user = this;
  }
  CFgUIChkButton::AddToGroup(&m_settingRadio, &m_adjustRadio);
  for (CFgUIButton* button : {&m_minButton, &m_centerButton, &m_maxButton}) {
    button->m_callback = &CLfClear::OnPreset;
    button->m_user = this;
  }
  m_bar.m_kind = FgBarHorizontal;
  m_bar.SetRange(0, 255, 1, 128);
  m_bar.m_callback = &CLfClear::OnBar;
  m_bar.m_user = this;
  AddChild(&m_settingRadio);
  AddChild(&m_adjustRadio);
  AddChild(&m_minButton);
  AddChild(&m_centerButton);
  AddChild(&m_maxButton);
  AddChild(&m_bar);
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  CFgUIChkButton::SetGroupSelection(&m_settingRadio, 1, 0);
  SetValue(128);
}

const wchar_t* CLfClear::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x753B\x7D20\x5024\x8ABF\x6574" : L"Pixel value adjustment";
}

void CLfClear::ShowDialog(int32_t show, CFgScreen* parent) {
  ShowFilterWindow(this, this, m_layout, &m_place, m_classPlace, show, parent);
  // The one rectangle that differs between the languages: the shorter Japanese label.
  if (show && IsJapanese(m_language)) m_adjustRadio.SetRect(96, 8, 80, 20);
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CLfClear::SetValue(int32_t value, int32_t fromBar) {
  if (value < 0 || value > 255) return;
  m_settings.Update([&](Settings& s) { s.value = uint8_t(value); });
  if (!fromBar) m_bar.m_position = value;
  CFgUICtrl::Redraw();
  RequestIfEnabled(this, 1);
}

void CLfClear::OnRadio(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfClear*>(user);
  const int32_t sel = CFgUIChkButton::GetGroupSelection(button);
  if (sel != 0 && sel != 1) return;
  self->m_settings.Update([&](Settings& s) { s.mode = uint32_t(sel); });
  RequestIfEnabled(self, 1);
}

void CLfClear::OnPreset(CFgUIButton* button, void* user) {
  auto* self = static_cast<CLfClear*>(user);
  const int32_t value = button == &self->m_minButton ? 0 : button == &self->m_maxButton ? 255 : 128;
  if (!self->m_bar.IsValidPosition(value)) return;
  self->m_bar.MoveTo(value);  // reports the position to OnBar and redraws
}

void CLfClear::OnBar(CFgUIScrollBar*, void* user, int32_t position) {
  static_cast<CLfClear*>(user)->SetValue(position, 1);
}

// ---------------------------------------------------------------------------------------
// Chain
void CLfClear::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                       int64_t height, uint32_t, uint32_t) {
  const Settings s = m_settings.Snapshot();
  ClearRect(picture, ChainRectToRoi(x, y, width, height), s.mode, s.value);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfClear::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Settings s = m_settings.Snapshot();
  PackWriteFlag(pack, L"mode", s.mode);
  PackWriteSigned(pack, L"sel", m_bar.m_position);
}

void CLfClear::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  uint32_t mode = GetSettings().mode;
  int32_t found = 0;
  PackReadFlagLenient(pack, L"mode", &mode, &found);
  if (found) {
    m_settings.Update([&](Settings& s) { s.mode = mode; });
    CFgUIChkButton::SetGroupSelection(&m_settingRadio, int32_t(mode), 0);
  }
  int64_t sel = 0;
  if (PackReadSigned(pack, L"sel", 0, 255, &sel, nullptr)) SetValue(int32_t(sel));
  CFgUICtrl::Redraw();
}
