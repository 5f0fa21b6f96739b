// dialogs.cpp - the committed values of the calibration and save settings dialogs, and the
// composite dialog's factory slot.
#include "app/dialogs.h"

#include <cwchar>

namespace {
CompositeFactory g_compositeFactory = nullptr;
}  // namespace

void SetCompositeFactory(CompositeFactory factory) { g_compositeFactory = factory; }
CompositeFactory GetCompositeFactory() { return g_compositeFactory; }
