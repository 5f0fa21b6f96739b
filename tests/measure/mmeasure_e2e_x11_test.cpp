// mmeasure_e2e_x11_test.cpp - manual measurement through the real program, as a user drives
// it with XTest: a gray picture made by ImageMagick, File > Open image, View > zoom 100%,
// Measure > manual measurement, two clicks on the picture 150 pixels apart (a 3-4-5
// triangle); the line between them in the guide colour on the main window, and the tool's
// window showing exactly what a label reading "距離:150.000000" shows (drawn by the toolkit
// in the test's own window beside it).  Screenshot: test_out/e2e_manual_measurement.png.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/program_e2e.h"
#include "toolkit/label.h"
#include "toolkit/uiobj.h"

namespace {

using namespace e2e;

class ManualMeasurementEndToEnd : public ProgramTest {
 protected:
  ManualMeasurementEndToEnd() : ProgramTest("mmeasure_e2e") {}
};

TEST_F(ManualMeasurementEndToEnd, TheLineOnThePictureAndItsLengthInTheWindow) {
#if QV_HAVE_XTEST
  ASSERT_TRUE(Run("/usr/bin/convert -size 200x120 xc:'rgb(90,90,90)' '" + dir_ + "/gray.png'"));
  ASSERT_NE(StartAndWaitMain(), 0u) << Stderr();
  ASSERT_NO_FATAL_FAILURE(OpenFile(dir_ + "/gray.png"));
  ASSERT_NO_FATAL_FAILURE(Zoom100());
  ASSERT_NO_FATAL_FAILURE(Menu(kMeasureMenuX, kItemY0 + kItemStep, kMeasureMenuX + 20));  // マニュアル計測
  const std::wstring title = L"\x30DE\x30CB\x30E5\x30A2\x30EB\x8A08\x6E2C";
  const uint64_t tool = x_.WaitWindow(title, pid_);
  ASSERT_NE(tool, 0u) << Stderr();

  // Image points (20, 20) and (140, 110): 120 across, 90 down, 150 apart.
  x_.Click(main_, 20, kViewTop + 20);
  x_.Click(main_, 140, kViewTop + 110);
  EXPECT_TRUE(WaitLine(20, kViewTop + 20, 140, kViewTop + 110));

  // The result line, as the toolkit draws that text in a label of the same place and size.
  CFgUIDialog reference;
  CFgUILabel label;
  label.SetText(L"\x8DDD\x96E2:150.000000");  // 距離:150.000000
  reference.AddChild(&label);
  label.SetRect(8, 8, 184, 32);
  ASSERT_EQ(reference.Create(0, 0, 256, 48, L"reference", 0, nullptr), 1);
  const uint64_t mine = x_.WaitWindow(L"reference", int64_t(getpid()));
  ASSERT_NE(mine, 0u);
  std::vector<uint32_t> want;
  ASSERT_TRUE(WaitUntil([&] {
    reference.Redraw();
    FgPumpMessages();
    want = x_.Pixels(mine, 8, 8, 184, 32);
    int text = 0;
    for (uint32_t c : want) text += Red(c) < 100;
    return text > 30;  // the text is drawn
  }, 20000));
  std::vector<uint32_t> got;
  EXPECT_TRUE(WaitUntil([&] { return (got = x_.Pixels(tool, 8, 8, 184, 32)) == want; }, 30000))
      << "the tool's window does not read 距離:150.000000";
  EXPECT_TRUE(x_.Shot(main_, "e2e_manual_measurement.png"));
  reference.Destroy();

  EXPECT_EQ(Close(), 0) << Stderr();
#endif
}

}  // namespace
