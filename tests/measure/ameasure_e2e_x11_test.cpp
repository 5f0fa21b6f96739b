// ameasure_e2e_x11_test.cpp - automatic measurement through the real program, as a user
// drives it with XTest: a binary picture of four white shapes on black (made by OpenCV),
// File > Open image, Config > background black, View > zoom 100%, Measure > auto
// measurement; a cross in the guide colour lies on every island's centre of gravity in the
// main window, and the table saved as CSV holds OpenCV's areas and centroids
// (connectedComponentsWithStats, 8-connected).  Screenshot: test_out/e2e_auto_measurement.png.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/program_e2e.h"
#include "tests/measure/shapes_fixture.h"

namespace {

using namespace e2e;

class AutoMeasurementEndToEnd : public ProgramTest {
 protected:
  AutoMeasurementEndToEnd() : ProgramTest("ameasure_e2e") {}
};

TEST_F(AutoMeasurementEndToEnd, CrossesOnTheIslandsAndOpenCvsAreasAndCentroidsInTheCsv) {
#if QV_HAVE_XTEST
  const std::vector<Island> truth = ParseIslands(Python(kShapesProgram, "'" + dir_ + "/shapes.png'"));
  ASSERT_EQ(truth.size(), 4u);

  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/shapes.png"));
  ASSERT_NO_FATAL_FAILURE(BlackBackground());  // the white shapes are the objects
  ASSERT_NO_FATAL_FAILURE(Zoom100());
  ASSERT_NO_FATAL_FAILURE(Menu(kMeasureMenuX, kItemY0, kMeasureMenuX + 20));  // 自動計測
  ASSERT_NE(x_.WaitWindow(L"\x81EA\x52D5\x8A08\x6E2C", pid_), 0u) << Stderr();

  // A cross on each centre of gravity (cut to whole pixels), arms 3 pixels each way.
  for (const Island& i : truth)
    EXPECT_TRUE(WaitCross(int(i.x), kViewTop + int(i.y), 3)) << "no cross at " << i.x << "," << i.y;
  EXPECT_TRUE(x_.Shot(main_, "e2e_auto_measurement.png"));

  // The table as CSV: a column per island, rows 3 and 4 the centre of gravity, row 5 the area.
  const std::string csv = dir_ + "/islands.csv";
  ASSERT_NO_FATAL_FAILURE(SaveTable(L"\x81EA\x52D5\x8A08\x6E2C", csv));
  ExpectIslandTable(ReadCsv(csv), truth, 1.0, "");  // no unit

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
