// freq_mask.cpp - CLfFreqMask: its window, the ring of coefficients cleared in the newest
// transform on the spectrum stack and in the shown spectrum, and its settings.
//
// Controls and results:
//   "revers" or the bar changed   settings copied; window redrawn; frame processed (waits)
//   LoadParams                    the pair "range_min"/"range_max" (a missing one takes the
//                                 bar's value) only when 0 <= min <= max <= 179, then as a
//                                 change of the bar; "revers" anything but "0" ticks
#include "filters/binary_geometry_fourier/freq_mask.h"

#include <cmath>

#include "app/cfgfile.h"
#include "app/spectrum.h"
#include "core/imgbuff.h"
#include "core/parallel.h"
#include "engine/fft.h"

FilterWindowPlace CLfFreqMask::s_classPlace;

int32_t FreqMaskRadiusIndex(int32_t side, int32_t x, int32_t y) {
  const double c = (side - 1) / 2.0;
  const double rmax = std::sqrt(c * c + c * c);
  if (!(rmax > 0)) return 0;
  const double d = std::sqrt((x - c) * (x - c) + (y - c) * (y - c));
  return int32_t(d * 179.0 / rmax + 0.5);
}

namespace {

struct MaskJob {
  SpectrumRecord* record;
  int32_t channels;
  CImgBuff* shown;       // the spectrum picture of the rectangle
  int32_t shownX, shownY;  // where it starts in the N x N spectrum
  int32_t rangeMin, rangeMax;
  uint32_t revers;
};

// One item per spectrum row; each writes only its own row of the planes and of the picture.
void MaskRows(void* ctx, uint64_t first, uint64_t count) {
  const MaskJob& j = *static_cast<const MaskJob*>(ctx);
  const int32_t n = j.record->sideColumns;
  const int32_t w = j.shown->Width(), h = j.shown->Height();
  for (uint64_t i = 0; i < count; ++i) {
    const int32_t y = int32_t(first + i);
    const int32_t sy = y - j.shownY;
    for (int32_t x = 0; x < n; ++x) {
      const int32_t r = FreqMaskRadiusIndex(n, x, y);
      const int32_t inside = r >= j.rangeMin && r <= j.rangeMax;
      if (j.revers ? inside : !inside) continue;
      const uint64_t at = uint64_t(y) * uint64_t(n) + uint64_t(x);
      for (int32_t c = 0; c < j.channels; ++c) {
        j.record->re[c][at] = 0;
        j.record->im[c][at] = 0;
      }
      const int32_t sx = x - j.shownX;
      if (sx >= 0 && sx < w && sy >= 0 && sy < h) j.shown->record->SetGray8(sx, sy, 0);
    }
  }
}

}  // namespace

CLfFreqMask::CLfFreqMask() : CFilterWindow(&s_classPlace) {
  SpectrumStackAddInstance();
  m_layoutItems[0] = {&m_reversBox, L"revers", L"\u53CD\u8EE2", 10, 10, 10, 10, 196, 20};
  m_layoutItems[1] = {&m_rangeBar, nullptr, nullptr, 10, 40, 10, 40, 197, 20};
  AddChild(&m_reversBox);
  AddChild(&m_rangeBar);
  m_reversBox.m_callback = &CLfFreqMask::OnBox;
  m_reversBox.m_user = this;
  m_rangeBar.m_kind = FgBarHorizontal;
  m_rangeBar.m_minimum = 0;
  m_rangeBar.m_maximum = 179;
  m_rangeBar.m_low = 179;
  m_rangeBar.m_high = 179;
  m_rangeBar.m_callback = &CLfFreqMask::OnBar;
  m_rangeBar.m_user = this;
  m_layout = {m_layoutItems, 2, 216, 70, 216, 70, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
}

CLfFreqMask::~CLfFreqMask() { SpectrumStackReleaseInstance(); }

const wchar_t* CLfFreqMask::GetName(const wchar_t* language) {
  // "周波数マスク"
  return IsJapanese(language) ? L"\u5468\u6CE2\u6570\u30DE\u30B9\u30AF" : L"Frequency mask";
}

void CLfFreqMask::Changed() {
  Settings s;
  s.revers = m_reversBox.m_checked ? 1 : 0;
  s.rangeMin = m_rangeBar.m_low;
  s.rangeMax = m_rangeBar.m_high;
  m_settings.Update([&](Settings& stored) { stored = s; });
  FilterDialogChanged(this, this, 0);
}

void CLfFreqMask::OnBox(CFgUIChkButton*, void* user) { static_cast<CLfFreqMask*>(user)->Changed(); }

void CLfFreqMask::OnBar(CFgUIRangeBar*, void* user, int32_t, int32_t) {
  static_cast<CLfFreqMask*>(user)->Changed();
}

void CLfFreqMask::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                          uint32_t, uint32_t) {
  if (!picture || SpectrumStackCount() == 0) return;
  const Settings s = m_settings.Snapshot();
  SpectrumStackEntry entry{};
  if (!PopSpectrum(&entry)) return;
  CImgBuff shown;
  const int32_t n = entry.record.sideColumns;
  if (!picture->Crop(shown, entry.x0, entry.y0, entry.x1, entry.y1) || n < 1 ||
      entry.record.sideRows != n || !entry.record.re[0]) {
    // Nobody else will see this entry again: its block goes with it.
    FftFree(&entry.record);
    return;
  }
  MaskJob job{&entry.record,
              entry.record.format >= ImgFormatRgb24 ? 3 : 1,
              &shown,
              (n - shown.Width()) / 2,
              (n - shown.Height()) / 2,
              s.rangeMin,
              s.rangeMax,
              s.revers};
  ParallelFor(&MaskRows, &job, uint64_t(n));
  if (!PushSpectrum(&entry)) FftFree(&entry.record);
  picture->Paste(shown, entry.x0, entry.y0);
}

void CLfFreqMask::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Settings s = m_settings.Snapshot();
  PackWriteSigned(pack, L"range_min", s.rangeMin);
  PackWriteSigned(pack, L"range_max", s.rangeMax);
  PackWriteFlag(pack, L"revers", s.revers);
}

void CLfFreqMask::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int64_t low = m_rangeBar.m_low, high = m_rangeBar.m_high;
  int32_t foundLow = 0, foundHigh = 0;
  // A value that is not a safe number keeps the bar's own, as a missing key does.
  PackReadSigned(pack, L"range_min", INT32_MIN, INT32_MAX, &low, &foundLow);
  PackReadSigned(pack, L"range_max", INT32_MIN, INT32_MAX, &high, &foundHigh);
  uint32_t revers = m_reversBox.m_checked ? 1 : 0;
  if (PackReadFlagLenient(pack, L"revers", &revers, nullptr)) m_reversBox.m_checked = int32_t(revers);
  if ((foundLow || foundHigh) && low >= 0 && low <= high && high <= 179 &&
      m_rangeBar.IsValid(low, high)) {
    m_rangeBar.m_low = int32_t(low);
    m_rangeBar.m_high = int32_t(high);
    Changed();  // as the bar's callback: copied, redrawn, the frame asked for
    return;
  }
  Settings now = m_settings.Snapshot();
  now.revers = revers;
  m_settings.Update([&](Settings& stored) { stored = now; });
  CFgUICtrl::Redraw();
}
