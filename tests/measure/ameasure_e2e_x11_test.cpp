// ameasure_e2e_x11_test.cpp - automatic measurement through the real program, as a user
// drives it with XTest: a binary picture of four white shapes on black (made by OpenCV),
// File > Open image, Config > background black, View > zoom 100%, Measure > auto
// measurement; a cross in the guide colour lies on every island's centre of gravity in the
// main window, and the table saved as CSV holds OpenCV's areas and centroids
// (connectedComponentsWithStats, 8-connected).  Screenshot: test_out/e2e_auto_measurement.png.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/measure/shapes_fixture.h"

namespace {

using namespace e2e;

class AutoMeasurementEndToEnd : public ShapesTest {
 protected:
  AutoMeasurementEndToEnd() : ShapesTest("ameasure_e2e") {}
};

TEST_F(AutoMeasurementEndToEnd, CrossesOnTheIslandsAndOpenCvsAreasAndCentroidsInTheCsv) {
#if QV_HAVE_XTEST
  ASSERT_NO_FATAL_FAILURE(OpenShapes());
  ASSERT_NO_FATAL_FAILURE(AutoMeasurement());
  EXPECT_TRUE(x_.Shot(main_, "e2e_auto_measurement.png"));

  // The table as CSV: a column per island, rows 3 and 4 the centre of gravity, row 5 the area.
  const std::string csv = dir_ + "/islands.csv";
  ASSERT_NO_FATAL_FAILURE(SaveTable(kAutoMeasurementTitle, csv));
  ExpectIslandTable(ReadCsv(csv), truth_, 1.0, "");  // no unit

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
