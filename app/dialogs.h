// dialogs.h - the main screen's calibration and save settings dialogs as far as the main
// screen and the settings file need them (their committed values, language and, for the
// calibration, its clicked points), and the slot of the composite dialog, whose library
// fills it through a factory.
//
//   CCalibrationUI   the calibration dialog (calibration.h)
//   CEncodeUI        the save settings dialog (encodeui.h)
//   CCompositeUI     the composite dialog's operations; made by its library's factory
#pragma once

#include <cstdint>

#include "app/calibration.h"
#include "app/config.h"
#include "app/encodeui.h"
#include "media/media.h"
#include "toolkit/uiobj.h"

class CMainScreen;

class CCompositeUI {
 public:
  virtual ~CCompositeUI() = default;
  virtual void SetLanguage(const wchar_t* language) = 0;
  virtual int32_t Show(CFgScreen* parent) = 0;
  CMainScreen* m_mainScreen = nullptr;
};

// The composite dialog's library registers its constructor here (the program's entry
// does); without one the main screen has no composite dialog and skips it.
typedef CCompositeUI* (*CompositeFactory)();
void SetCompositeFactory(CompositeFactory factory);
CompositeFactory GetCompositeFactory();
