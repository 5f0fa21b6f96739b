// dialogs.h - the main screen's calibration and save settings dialogs as far as the main
// screen and the settings file need them (their committed values, language and, for the
// calibration, its clicked points), and the slot of the composite dialog, whose library
// fills it through a factory.
//
//   CCalibrationUI   the calibration dialog (calibration.h)
//   CEncodeUI        the committed save settings
//   CCompositeUI     the composite dialog's operations; made by its library's factory
#pragma once

#include <cstdint>

#include "app/calibration.h"
#include "app/config.h"
#include "media/media.h"
#include "toolkit/uiobj.h"

class CMainScreen;

class CEncodeUI : public CFgUIDialog {
 public:
  void SetLanguage(const wchar_t* language);

  uint32_t m_codec = 1;           // AVI frames: 0 uncompressed, 1 MJPG, 2 PNG
  uint32_t m_jpegQuality = 75;
  uint32_t m_rateMode = 0;        // 0 bit rate, 1 quality
  uint32_t m_bitRate = 5000000;
  uint32_t m_quality = 25;
  uint32_t m_keyFrames = 1;       // key-frame switch
  uint32_t m_keyInterval = 10;
  uint32_t m_withGuides = 0;
  uint32_t m_selectedOnly = 0;
  wchar_t m_ext[kConfigExtUnits] = L"png";
  uint32_t m_english = 0;
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
