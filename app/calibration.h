// calibration.h - the calibration dialog ("キャリブレーション設定" / "Calibration"): how pixel
// distances become real lengths for every measurement of the chain.  Two clicks on the
// image measure a pixel distance, the user types the real length, SET commits
// scale = length / pixels with the Y-axis direction and the unit.
//
//   CCalibrationUI     the dialog; one instance for the program's life, its window opened by
//                      Build and gone at close; its committed fields are the calibration
//   CalibrationPlace   the process-wide remembered window position
//
// Events and results:
//   radio "Y axis down" / "up"     typed Y axis 1 / -1
//   pixels / length box changed    text read as a C decimal (no number: 0)
//   unit box changed               typed unit (at most 255 characters)
//   click on the image (AddPoint)  first two points kept; the second fills the pixels box
//                                  with their distance; later clicks ignored until reopened
//   SET                            length and pixels finite and above 0: committed and
//                                  handed to the chain, which runs again; else the message
//                                  "the length value is incorrect"; the window stays open
//   close                          the place is remembered (also process-wide)
#pragma once

#include <cstdint>

#include "app/config.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/uiobj.h"

class CMainScreen;

struct CalibrationPlace {
  int32_t placed = 0;
  int32_t x = 0, y = 0;
};
extern CalibrationPlace g_calibrationPlace;

class CCalibrationUI : public CFgUIDialog {
 public:
  CCalibrationUI();
  ~CCalibrationUI() override;

  // Opens the window under parent; the caller makes sure it is not open already.  1/0.
  int32_t Build(CFgScreen* parent);
  // New committed values (unit cut to 255 characters); an open window shows them.
  void SetCalibration(double scale, int32_t axisY, const wchar_t* unit);
  // A left click on the image, in source-picture pixels.
  void AddPoint(int32_t x, int32_t y);
  // The clicked points over the view, in the guide colour; the arguments are those of the
  // filters' overlay drawing.  Inside the main window's drawing section.
  void DrawMarks(int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0,
                 int32_t imageY0, int32_t imageX1, int32_t imageY1, int32_t zoom);
  void SetLanguage(const wchar_t* language);
  int32_t OnClose() override;
  void OnSet();

  // Open while its window exists: presses on the image then go to it.
  int32_t IsOpen() const { return GetWindow() != nullptr; }

  // ---- fields: the remembered place, the clicked points, the committed calibration (read
  // and written directly by the settings file and filter lists), then the typed values ----
  int32_t m_placed = 0;
  int32_t m_placeX = 0, m_placeY = 0;
  int32_t m_pointCount = 0;
  int32_t m_pointX[2] = {0, 1}, m_pointY[2] = {0, 0};
  int32_t m_axisY = 1;
  double m_scale = 1.0;
  wchar_t m_unit[kConfigUnitUnits] = {};
  uint32_t m_english = 0;
  CMainScreen* m_mainScreen = nullptr;
  CFgUIChkButton m_axisDown, m_axisUp;
  CFgUILabel m_pixelsLabel, m_lengthLabel, m_unitLabel;
  CFgUIEdit m_pixelsEdit, m_lengthEdit, m_unitEdit;
  CFgUIButton m_set;
  int32_t m_typedAxisY = 1;
  double m_typedLength = 1.0;
  double m_typedPixels = 1.0;
  wchar_t m_typedUnit[kConfigUnitUnits] = {};

 private:
  // Typed values := committed ones, shown in the controls (no redraw).
  void ShowCommitted();
  void ShowNumber(CFgUIEdit* edit, double value);
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnEditChanged(CFgUIEdit* edit, void* user);
  static void OnButton(CFgUIButton* button, void* user);
};

// The decimal an edit box holds, read as the C library reads a double (leading blanks, sign,
// digits, point, exponent, "inf", "nan"); 0 when it starts with no number.
double ParseEditDouble(const wchar_t* text);
