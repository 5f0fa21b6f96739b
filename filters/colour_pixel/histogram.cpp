// histogram.cpp - CLfHistogram: counts of every processed frame, the histogram picture, the
// stretch of [min, max] and the fit on a click.
// Inside: picture - window - callbacks - process - settings
//
// Click on the histogram area:
//   full range, enabled     fit request set; frame requested (no wait); the next run fits
//                           the range bar to the occupied levels, the one after stretches
//   full range, disabled    nothing
//   narrowed range          range bar back to 0..255 (its callback resets min and max)
// Locks: the draw lock, then m_lock, then the settings lock, always in this order; requests
// for frames never wait, since the worker itself may be the caller.
#include "filters/colour_pixel/histogram.h"

#include <algorithm>
#include <cstring>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "toolkit/draw.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfHistogram::s_classPlace;

namespace {

void FreeLevelLut(const LevelLut* lut) { FreeLut(const_cast<LevelLut*>(lut)); }

uint64_t LargestInner(const uint64_t* bins) {
  uint64_t m = 0;
  for (int i = 1; i < 255; ++i) m = std::max(m, bins[i]);
  return m;
}

}  // namespace

int32_t DrawHistogramPicture(const HistogramCounts& counts, uint64_t min, uint64_t max,
                             uint64_t view, int32_t enabled, CImgBuff* out) {
  if (!out) return 0;
  int32_t colour = counts.colour ? 1 : 0;
  if (!out->Allocate(256, 100, colour ? ImgFormatRgb24 : ImgFormatGray8)) return 0;
  uint8_t* p = static_cast<uint8_t*>(out->Pixels());
  int32_t channels = colour ? 3 : 1;
  std::memset(p, 0, size_t(256) * 100 * channels);
  uint64_t scale = uint64_t(double(counts.maxCount) / 10000.0 * double(view));
  if (scale < 1) scale = 1;
  for (int32_t a = 0; a < channels; ++a) {
    for (uint64_t i = 0; i < 256; ++i) {
      uint64_t h = counts.bins[a][i] / scale;  // count * 100 / scale, kept from overflow
      if (counts.bins[a][i] <= UINT64_MAX / 100) h = counts.bins[a][i] * 100 / scale;
      h = std::min<uint64_t>(h, 99);
      if (h < 1) continue;
      uint8_t level = (i >= min && i <= max) ? 255 : 127;
      for (uint64_t row = 100 - h; row <= 99; ++row) p[(row * 256 + i) * channels + a] = level;
    }
  }
  if (!enabled) {
    for (uint64_t px = 0; px < uint64_t(256) * 100; ++px) {
      uint8_t* q = p + px * channels;
      int32_t black = 1;
      for (int32_t a = 0; a < channels; ++a) black &= q[a] == 0;
      if (black)
        for (int32_t a = 0; a < channels; ++a) q[a] = 64;
    }
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// Window
CLfHistogram::CLfHistogram() : CFilterWindow(&s_classPlace) {
  m_rangeBar.m_kind = FgBarHorizontal;
  m_viewBar.m_kind = FgBarHorizontal;
  m_rangeBar.m_minimum = 0;
  m_rangeBar.m_maximum = 255;
  m_rangeBar.m_low = 0;
  m_rangeBar.m_high = 255;
  m_rangeBar.m_callback = &CLfHistogram::OnRange;
  m_rangeBar.m_user = this;
  m_viewBar.SetRange(1, 10000, 1, 10000);
  m_viewBar.m_callback = &CLfHistogram::OnView;
  m_viewBar.m_user = this;
  const int32_t barY = kAreaY1 - kAreaY0 + 13, viewY = kAreaY1 - kAreaY0 + 38;
  m_layoutItems[0] = {&m_rangeBar, nullptr, nullptr, 2, barY, 2, barY, 272, 20};
  m_layoutItems[1] = {&m_viewBar, nullptr, nullptr, 2, viewY, 2, viewY, 272, 20};
  AddChild(&m_rangeBar);
  AddChild(&m_viewBar);
  const uint64_t w = kAreaX1 - kAreaX0 + 21, h = kAreaY1 - kAreaY0 + 68;
  m_layout = {m_layoutItems, 2, w, h, w, h, m_textures, 1};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  m_texture.Create(256, 100, 1, 1, 0, nullptr);
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  RedrawPicture();
}

const wchar_t* CLfHistogram::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x30D2\x30B9\x30C8\x30B0\x30E9\x30E0" : L"Histogram";
}

HistogramCounts CLfHistogram::GetCounts() {
  PlatformLockHold hold(m_lock);
  return m_counts;
}

void CLfHistogram::CopyPicture(CImgBuff* out) {
  PlatformLockHold hold(m_lock);
  if (out && m_picture.Format()) out->CopyFrom(m_picture);
}

void CLfHistogram::RedrawPicture() {
  Settings s = m_settings.Snapshot();
  DrawHistogramPicture(m_counts, s.min, s.max, s.view, m_filterEnabled != 0, &m_picture);
  UploadImageToTexture(&m_texture, &m_picture, 1);
  CFgUICtrl::Redraw();
}

void CLfHistogram::DrawOverlay() {
  CFgUIDialog::DrawOverlay();
  CFgScreen* screen = m_screen;
  if (!screen) return;
  // A black frame one pixel outside the picture, then the picture in its own size.
  FgFillRect(screen, kAreaX0 - 1, kAreaY0 - 1, kAreaX1 + 1, kAreaY0 - 1, 0, 0, 0);
  FgFillRect(screen, kAreaX0 - 1, kAreaY1 + 1, kAreaX1 + 1, kAreaY1 + 1, 0, 0, 0);
  FgFillRect(screen, kAreaX0 - 1, kAreaY0 - 1, kAreaX0 - 1, kAreaY1 + 1, 0, 0, 0);
  FgFillRect(screen, kAreaX1 + 1, kAreaY0 - 1, kAreaX1 + 1, kAreaY1 + 1, 0, 0, 0);
  m_texture.DrawCell(kAreaX0, kAreaY0, 256, 100, 0);
}

void CLfHistogram::OnEnable(int32_t enabled) {
  CImgFilter::OnEnable(enabled);
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  RedrawPicture();
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CLfHistogram::RebuildTable() {
  Settings s = m_settings.Snapshot();
  std::shared_ptr<const LevelLut> table;
  LevelLut* lut = BuildStretchLut(uint16_t(s.min * 256), uint16_t(s.max * 256 + 255));
  if (lut) table = std::shared_ptr<const LevelLut>(lut, &FreeLevelLut);
  m_settings.Update([&](Settings& stored) { stored.table = std::move(table); });
}

void CLfHistogram::MoveRangeBar(int32_t low, int32_t high) {
  PlatformLockHold draw(FgDrawLock());
  m_rangeBar.m_low = low;
  m_rangeBar.m_high = high;
  if (!m_rangeBar.m_inCallback && m_rangeBar.m_callback) {
    m_rangeBar.m_inCallback = 1;
    m_rangeBar.m_callback(&m_rangeBar, m_rangeBar.m_user, low, high);
    m_rangeBar.m_inCallback = 0;
  }
  CFgUICtrl::Redraw();
}

void CLfHistogram::OnRange(CFgUIRangeBar*, void* user, int32_t low, int32_t high) {
  auto* self = static_cast<CLfHistogram*>(user);
  if (low < 0 || high > 255 || low > high) return;
  Settings s = self->m_settings.Snapshot();
  if (s.min == uint64_t(low) && s.max == uint64_t(high)) return;
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold hold(self->m_lock);
    self->m_settings.Update([&](Settings& stored) {
      stored.min = uint64_t(low);
      stored.max = uint64_t(high);
    });
    self->RebuildTable();
    if (!self->m_filterEnabled) self->RedrawPicture();
  }
  if (self->m_filterEnabled && self->m_host) self->m_host->RequestProcess(1);
}

void CLfHistogram::OnView(CFgUIScrollBar*, void* user, int32_t position) {
  auto* self = static_cast<CLfHistogram*>(user);
  if (position < 1 || position > 10000) return;
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(self->m_lock);
  if (self->m_settings.Snapshot().view == uint64_t(position)) return;
  self->m_settings.Update([&](Settings& s) { s.view = uint64_t(position); });
  self->RedrawPicture();
}

void CLfHistogram::OnLButtonDown(int32_t x, int32_t y) {
  if (x < kAreaX0 || x > kAreaX1 || y < kAreaY0 || y > kAreaY1) {
    CFilterWindow::OnLButtonDown(x, y);
    return;
  }
  Settings s = m_settings.Snapshot();
  if (s.min == 0 && s.max == 255) {
    if (!m_filterEnabled) return;
    m_settings.Update([](Settings& stored) { stored.fit = 1; });
    if (m_host) m_host->RequestProcess(1);
    return;
  }
  if (m_rangeBar.m_minimum == 0 && m_rangeBar.m_maximum == 255) MoveRangeBar(0, 255);
}

// ---------------------------------------------------------------------------------------
// Process
void CLfHistogram::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                           int64_t height, uint32_t, uint32_t) {
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  int32_t format = picture ? picture->Format() : 0;
  // Counted outside the locks: the window stays responsive while a large frame is counted.
  HistogramCounts counts;
  int32_t counted = 0;
  if (format) {
    if (IsGrayFormat(format)) {
      counted = ComputeHistogram(picture, 1, counts.bins[0], nullptr, &roi);
      if (counted) counts.maxCount = LargestInner(counts.bins[0]);
    } else {
      counts.colour = 1;
      counted = 1;
      for (int32_t a = 0; a < 3; ++a) counted &= ComputeHistogram(picture, 2 + a, counts.bins[a], nullptr, &roi);
      for (int32_t a = 0; a < 3 && counted; ++a)
        counts.maxCount = std::max(counts.maxCount, LargestInner(counts.bins[a]));
    }
  }
  Settings s;
  int32_t fit = 0;
  uint64_t lowest = 0, highest = 0;
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold hold(m_lock);
    if (!format) {
      m_counts = HistogramCounts();
      m_picture.Allocate(256, 100, ImgFormatGray8);
      std::memset(m_picture.Pixels(), 0, 256 * 100);
      UploadImageToTexture(&m_texture, &m_picture, 1);
      CFgUICtrl::Redraw();
      return;
    }
    // A refused rectangle keeps the previous frame's counts (the picture is still drawn).
    if (counted) m_counts = counts;
    else m_counts.maxCount = 0;
    m_settings.Update([&](Settings& stored) {
      s = stored;
      fit = stored.fit;
      stored.fit = 0;
    });
    if (fit) {
      int32_t arrays = m_counts.colour ? 3 : 1;
      int32_t found = 0;
      for (uint64_t i = 0; i < 256; ++i) {
        int32_t any = 0;
        for (int32_t a = 0; a < arrays; ++a) any |= m_counts.bins[a][i] != 0;
        if (!any) continue;
        if (!found) lowest = i;
        highest = i;
        found = 1;
      }
    }
  }
  if (fit) {
    if (lowest <= highest && highest <= uint64_t(m_rangeBar.m_maximum) &&
        lowest >= uint64_t(m_rangeBar.m_minimum))
      MoveRangeBar(int32_t(lowest), int32_t(highest));
    return;
  }
  if (!(s.min == 0 && s.max == 255)) {
    int32_t bits = FormatClassBits(format);
    if (bits == 8 || bits == 16) {
      if (s.table) ApplyStretchLut(picture, s.table.get(), &roi);
    } else {
      StretchLevels(picture, uint16_t(s.min * 256), uint16_t(s.max * 256 + 255), &roi);
    }
  }
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  RedrawPicture();
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfHistogram::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  Settings s = m_settings.Snapshot();
  PackWriteUnsigned(pack, L"min", s.min);
  PackWriteUnsigned(pack, L"max", s.max);
  PackWriteUnsigned(pack, L"view", s.view);
}

void CLfHistogram::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Settings s = m_settings.Snapshot();
  uint64_t min = s.min, max = s.max, view = s.view;
  if (PackReadUnsigned(pack, L"min", 255, &min, nullptr) &&
      PackReadUnsigned(pack, L"max", 255, &max, nullptr) && min <= max) {
    {
      PlatformLockHold draw(FgDrawLock());
      PlatformLockHold hold(m_lock);
      m_settings.Update([&](Settings& stored) {
        stored.min = min;
        stored.max = max;
      });
      RebuildTable();
    }
    MoveRangeBar(int32_t(min), int32_t(max));
  }
  if (PackReadUnsigned(pack, L"view", 10000, &view, nullptr) && view >= 1) {
    m_settings.Update([&](Settings& stored) { stored.view = view; });
    m_viewBar.SetRange(1, 10000, 1, int32_t(view));
  }
}
