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

void CEncodeUI::SetLanguage(const wchar_t* language) { m_english = EnglishFor(language); }

void SetCompositeFactory(CompositeFactory factory) { g_compositeFactory = factory; }
CompositeFactory GetCompositeFactory() { return g_compositeFactory; }
