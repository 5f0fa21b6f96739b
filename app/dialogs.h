// dialogs.h - the main screen's calibration and save settings dialogs as far as the main
// screen and the settings file need them (their committed values, language and, for the
// calibration, its clicked points), and the slot of the composite dialog, whose library
// fills it through a factory.
//
//   CCalibrationUI   the calibration: scale, Y-axis direction, unit; clicked points
//   CEncodeUI        the save settings dialog (encodeui.h)
//   CCompositeUI     the composite dialog's operations; made by its library's factory
#pragma once

#include <cstdint>

#include "app/config.h"
#include "app/encodeui.h"
#include "media/media.h"
#include "toolkit/uiobj.h"

class CMainScreen;

class CCalibrationUI : public CFgUIDialog {
 public:
  // Open while its window exists: presses on the image then go to it.
  int32_t IsOpen() const { return GetWindow() != nullptr; }
  void AddPoint(int64_t x, int64_t y);
  void SetLanguage(const wchar_t* language);
  // Opens the window with parent; 1 or 0.
  int32_t Build(CFgScreen* parent);

  CMainScreen* m_mainScreen = nullptr;
  double m_scale = 1.0;
  int32_t m_axisY = 1;
  wchar_t m_unit[kConfigUnitUnits] = {};
  uint32_t m_english = 0;
  uint32_t m_pointCount = 0;  // points clicked on the image, at most 2
  int64_t m_points[2][2] = {};
};

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
