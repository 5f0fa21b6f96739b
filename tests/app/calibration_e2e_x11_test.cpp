// calibration_e2e_x11_test.cpp - the calibration through the real program, as a user drives it
// with XTest: the shapes picture (OpenCV), Config > Calibration, two clicks on the picture
// 150 pixels apart (a cross at the first, then the line to the second on the main window),
// "75" typed as the length and "mm" as the unit, SET; after closing the dialog the auto
// measurement table saved as CSV reads "単位:mm" with OpenCV's centroids at half a millimetre a
// pixel.  Screenshot: test_out/e2e_calibration.png.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/measure/shapes_fixture.h"

namespace {

using namespace e2e;

// The dialog's boxes and button (window pixels of the dialog).
constexpr int kEditX = 200, kLengthY = 94, kUnitY = 122;
constexpr int kSetX = 140, kSetY = 154;

class CalibrationEndToEnd : public ShapesTest {
 protected:
  CalibrationEndToEnd() : ShapesTest("calibration_e2e") {}
  // A click into the dialog's box at y, its text replaced by typed.
  void Retype(uint64_t dialog, int y, const std::string& typed) {
    x_.Click(dialog, kEditX, y);
    ASSERT_TRUE(x_.Key(XK_End));
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(x_.Key(XK_BackSpace));
    ASSERT_TRUE(x_.Type(typed));
  }
};

TEST_F(CalibrationEndToEnd, MarksOnThePictureAndTheTablesUnitFollows) {
#if QV_HAVE_XTEST
  ASSERT_NO_FATAL_FAILURE(OpenShapes());

  // Config > Calibration: the dialog takes the clicks on the picture.
  ASSERT_NO_FATAL_FAILURE(Menu(kConfigMenuX, kItemY0 + 6 * kItemStep, kConfigMenuX + 60));
  const std::wstring title = L"\x30AD\x30E3\x30EA\x30D6\x30EC\x30FC\x30B7\x30E7\x30F3\x8A2D\x5B9A";
  const uint64_t dialog = x_.WaitWindow(title, pid_);
  ASSERT_NE(dialog, 0u) << Stderr();
  Pause(500);
  // Image points (10, 8) and (130, 98): 120 across, 90 down, 150 apart.
  x_.Click(main_, 10, kViewTop + 8);
  EXPECT_TRUE(WaitCross(10, kViewTop + 8, 4)) << "no cross at the first point";
  x_.Click(main_, 130, kViewTop + 98);
  EXPECT_TRUE(WaitLine(10, kViewTop + 8, 130, kViewTop + 98)) << "no line to the second point";
  EXPECT_TRUE(x_.Shot(main_, "e2e_calibration.png"));

  // 75 mm over the 150 pixels: half a millimetre a pixel.
  ASSERT_NO_FATAL_FAILURE(Retype(dialog, kLengthY, "75"));
  ASSERT_NO_FATAL_FAILURE(Retype(dialog, kUnitY, "mm"));
  x_.Click(dialog, kSetX, kSetY);
  Pause(1000);
  EXPECT_TRUE(x_.Shot(dialog, "e2e_calibration_dialog.png"));
  ASSERT_EQ(PlatTestRequestClose(dialog), 1);  // the window manager's close
  ASSERT_TRUE(x_.WaitGone(title, pid_));

  // The auto measurement table in millimetres; its crosses stay on the islands.
  ASSERT_NO_FATAL_FAILURE(AutoMeasurement());
  const std::string csv = dir_ + "/islands_mm.csv";
  ASSERT_NO_FATAL_FAILURE(SaveTable(kAutoMeasurementTitle, csv));
  ExpectIslandTable(ReadCsv(csv), truth_, 0.5, "\xE5\x8D\x98\xE4\xBD\x8D:mm");  // 単位:mm

  EXPECT_EQ(Close(), 0) << Stderr();
  // The calibration outlives the program in its settings.
  const std::string settings = qvtest::ReadWholeFile(dir_ + "/quorvix_duvu.cfg");
  EXPECT_NE(settings.find("\n scale 0.5\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("\n unit mm\n"), std::string::npos) << settings;
#endif
}

}  // namespace
