// calibration_stub_h21m.cpp - TEMPORARY stand-in for opening the calibration dialog, so that
// the Config menu's "Calibration" item can be dispatched before the dialog lands.  Dropped
// at merge in favour of the real body.
#include "app/dialogs.h"

int32_t CCalibrationUI::Build(CFgScreen*) { return 0; }
