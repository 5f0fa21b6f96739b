// dialogs.cpp - the committed values of the calibration and save settings dialogs, and the
// composite dialog's factory slot.
#include "app/dialogs.h"

#include <cwchar>

namespace {
CompositeFactory g_compositeFactory = nullptr;
uint32_t EnglishFor(const wchar_t* language) {
  return (language && wcscmp(language, L"jp") == 0) ? 0 : 1;
}
}  // namespace

void CCalibrationUI::AddPoint(int64_t x, int64_t y) {
  // Two points make the calibration's distance; a third starts again.
  if (m_pointCount >= 2) m_pointCount = 0;
  m_points[m_pointCount][0] = x;
  m_points[m_pointCount][1] = y;
  ++m_pointCount;
  Redraw();
}

void CCalibrationUI::SetLanguage(const wchar_t* language) { m_english = EnglishFor(language); }

void SetCompositeFactory(CompositeFactory factory) { g_compositeFactory = factory; }
CompositeFactory GetCompositeFactory() { return g_compositeFactory; }
