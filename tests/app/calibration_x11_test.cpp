// calibration_x11_test.cpp - the calibration dialog over the real main window, driven by X
// input: two clicks on the image and a typed length commit a scale to every filter, refused
// lengths in both languages, the calibration in force on opening, the Y axis, the marks over
// the view read back as pixels, and the language switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/calibration.h"
#include "app/mainscreen.h"
#include "main_window_test_util.h"
#include "testhost.h"

namespace {

using apptest::RecordingFilter;

class CalibrationTest : public mwtest::MainWindowTest {
 protected:
  void OpenWithFilters() {
    Open();
    screen_->ShowSidePanel();
    for (int i = 0; i < 2; ++i)
      ASSERT_EQ(Panel().AddFilter(new RecordingFilter(&log_, "f" + std::to_string(i))), 1);
  }
  CCalibrationUI& Dialog() { return screen_->m_calibration; }
  void OpenDialog() {
    ASSERT_EQ(Dialog().Build(screen_), 1);
    ASSERT_TRUE(toolkittest::PumpUntil(
        [&] { return PlatIsWindowMapped(Dialog().GetWindow()) != 0; }, 3000));
  }
  void ClickImage(int32_t ix, int32_t iy) {
    int32_t x, y;
    ASSERT_TRUE(WindowPointOf(ix, iy, &x, &y));
    Click(x, y);
  }
  void ClickInDialog(const CFgUIObj& w) {
    filtertest::ClickControl(&Dialog(), w);
    filtertest::Settle();
  }
  // Empties the box, then types text into it with real keys.
  void Type(CFgUIEdit& edit, const std::wstring& text) {
    edit.SetLine(0, L"");
    ClickInDialog(edit);
    for (wchar_t c : text) filtertest::SendKey(&Dialog(), uint32_t(c));
  }
  // The dialog and the still it measures on, at zoom 1.
  void Measuring() {
    OpenWithFilters();
    ShowStill(64, 48);
    screen_->m_view.SetZoom(1);
    screen_->m_view.Layout();
    OpenDialog();
    Calls();
  }
};

TEST_F(CalibrationTest, TwoClicksAndALengthCommitTheScaleToEveryFilter) {
  Measuring();
  EXPECT_STREQ(Dialog().m_pixelsEdit.GetText(), L"1");
  EXPECT_STREQ(Dialog().m_lengthEdit.GetText(), L"1");
  ClickImage(10, 10);
  EXPECT_EQ(Dialog().m_pointCount, 1);
  ClickImage(13, 14);
  EXPECT_EQ(Dialog().m_pointCount, 2);
  EXPECT_STREQ(Dialog().m_pixelsEdit.GetText(), L"5");
  // A third click changes nothing.
  ClickImage(40, 30);
  EXPECT_EQ(Dialog().m_pointCount, 2);
  EXPECT_EQ(Dialog().m_pointX[1], 13);
  EXPECT_STREQ(Dialog().m_pixelsEdit.GetText(), L"5");
  // The clicks reached no filter.
  EXPECT_TRUE(Calls().empty());
  Type(Dialog().m_lengthEdit, L"2.5");
  Type(Dialog().m_unitEdit, L"mm");
  ClickInDialog(Dialog().m_set);
  EXPECT_EQ(Dialog().m_scale, 0.5);
  EXPECT_STREQ(Dialog().m_unit, L"mm");
  EXPECT_EQ(Panel().m_scale, 0.5);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Panel().FilterAt(i)->m_scale, 0.5);
    EXPECT_STREQ(Panel().FilterAt(i)->m_unit, L"mm");
  }
  std::vector<std::string> lines = Calls();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "f0:OnScaleChanged"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "f1:Process(0)"), lines.end());
  // The window stays open; closed and opened again, a new measurement starts.
  EXPECT_TRUE(Dialog().IsOpen());
  Dialog().OnClose();
  Dialog().Destroy();
  OpenDialog();
  EXPECT_EQ(Dialog().m_pointCount, 0);
  EXPECT_STREQ(Dialog().m_pixelsEdit.GetText(), L"1");
  EXPECT_STREQ(Dialog().m_lengthEdit.GetText(), L"0.5");
  EXPECT_STREQ(Dialog().m_unitEdit.GetText(), L"mm");
}

TEST_F(CalibrationTest, RefusedLengthsInBothLanguages) {
  Measuring();
  Dialog().m_scale = 2.0;
  CScriptedDialogs dialogs;
  struct Case {
    const wchar_t* length;
    const wchar_t* pixels;
  } const cases[] = {
      {L"abc", L"1"},       {L"1", L"0"},  {L"inf", L"1"},        {L"nan", L"1"},
      {L"-3", L"1"},        {L"1", L"-0"}, {L"1e308", L"1e-308"},  // the quotient overflows
      {L"1e-320", L"1e10"},                                        // or vanishes
  };
  for (const wchar_t* language : {L"jp", L"en"}) {
    screen_->SetLanguage(language);
    const bool jp = std::wstring(language) == L"jp";
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.length, c.length + wcslen(c.length)) + " / " +
                   std::string(c.pixels, c.pixels + wcslen(c.pixels)));
      Dialog().m_lengthEdit.SetLine(0, c.length);
      Dialog().m_pixelsEdit.SetLine(0, c.pixels);
      dialogs.m_shown.clear();
      Dialog().OnSet();
      ASSERT_EQ(dialogs.m_shown.size(), 1u);
      EXPECT_EQ(dialogs.m_shown[0].text,
                jp ? L"長さの値が間違っています" : L"the length value is incorrect");
      EXPECT_EQ(dialogs.m_shown[0].caption, jp ? L"エラー" : L"error");
      EXPECT_EQ(dialogs.m_shown[0].kind, 1);
      EXPECT_EQ(Dialog().m_scale, 2.0);
    }
  }
  // Leading blanks and an exponent read as the C library reads them.
  Dialog().m_lengthEdit.SetLine(0, L"  2e-1xyz");
  Dialog().m_pixelsEdit.SetLine(0, L"4");
  dialogs.m_shown.clear();
  Dialog().OnSet();
  EXPECT_TRUE(dialogs.m_shown.empty());
  EXPECT_DOUBLE_EQ(Dialog().m_scale, 0.05);
}

TEST_F(CalibrationTest, OpensWithTheCalibrationInForceAndKeepsItOnSet) {
  OpenWithFilters();
  struct Case {
    double scale;
    const wchar_t* shown;
  } const cases[] = {
      {0.05, L"0.05"}, {0.0000001, L"0.0000001"}, {1234.5, L"1234.5"}, {1.0 / 3, nullptr}};
  for (const Case& c : cases) {
    Dialog().m_scale = c.scale;
    wcscpy(Dialog().m_unit, L"mm");
    OpenDialog();
    EXPECT_STREQ(Dialog().m_pixelsEdit.GetText(), L"1");
    if (c.shown) {
      EXPECT_STREQ(Dialog().m_lengthEdit.GetText(), c.shown);
    }
    EXPECT_STREQ(Dialog().m_unitEdit.GetText(), L"mm");
    ClickInDialog(Dialog().m_set);
    EXPECT_EQ(Dialog().m_scale, c.scale);
    EXPECT_EQ(Panel().FilterAt(0)->m_scale, c.scale);
    Dialog().OnClose();
    Dialog().Destroy();
  }
  // "Y axis up" and SET: -1 for the filters, with the scale.
  OpenDialog();
  EXPECT_EQ(Dialog().m_axisDown.m_checked, 1);
  ClickInDialog(Dialog().m_axisUp);
  ClickInDialog(Dialog().m_set);
  EXPECT_EQ(Dialog().m_axisY, -1);
  EXPECT_EQ(Panel().FilterAt(1)->m_axisY, -1);
  Dialog().OnClose();
  Dialog().Destroy();
  OpenDialog();
  EXPECT_EQ(Dialog().m_axisUp.m_checked, 1);
  // A calibration handed over while open shows in the boxes.
  Dialog().SetCalibration(0.25, 1, L"km");
  EXPECT_STREQ(Dialog().m_lengthEdit.GetText(), L"0.25");
  EXPECT_STREQ(Dialog().m_unitEdit.GetText(), L"km");
  EXPECT_EQ(Dialog().m_axisDown.m_checked, 1);
  // The place is remembered for the next opening.
  const int32_t x = Dialog().m_x, y = Dialog().m_y;
  Dialog().OnClose();
  Dialog().Destroy();
  EXPECT_EQ(g_calibrationPlace.placed, 1);
  EXPECT_EQ(g_calibrationPlace.x, x);
  EXPECT_EQ(g_calibrationPlace.y, y);
}

TEST_F(CalibrationTest, MarksOverTheViewInTheGuideColour) {
  Open();
  OpenDialog();
  struct View {
    int32_t zoom;
  } view{4};
  screen_->m_overlayHook = [&] { Dialog().DrawMarks(100, 100, 499, 399, 0, 0, 99, 74, view.zoom); };
  auto red = [&](int x, int y) {
    const uint8_t* p = screen_->At(x, y);
    return p[0] > 200 && p[1] < 60 && p[2] < 60;
  };
  // No point: nothing.
  Picture();
  EXPECT_FALSE(red(114, 122));
  // One point at zoom 4: (3, 5) is drawn at the middle of its magnified pixel, view (14, 22),
  // as a cross 10 pixels each way.
  Dialog().AddPoint(3, 5);
  Picture();
  for (int x = 110; x <= 119; ++x) EXPECT_TRUE(red(x, 122)) << x;
  EXPECT_FALSE(red(109, 122));
  EXPECT_FALSE(red(120, 122));
  for (int y = 118; y <= 127; ++y) EXPECT_TRUE(red(114, y)) << y;
  EXPECT_FALSE(red(114, 117));
  EXPECT_FALSE(red(114, 128));
  // Zoom 1 and -2 map without the half pixel; the guide colour follows the setting.
  struct Case {
    int32_t zoom, x, y;
  } const cases[] = {{1, 103, 105}, {-2, 101, 102}};
  for (const Case& c : cases) {
    view.zoom = c.zoom;
    Picture();
    EXPECT_TRUE(red(c.x, c.y)) << c.zoom;
    EXPECT_TRUE(red(c.x - 4, c.y)) << c.zoom;
  }
  // Two points: a line from the first to the second, the second included.
  view.zoom = 4;
  Dialog().AddPoint(6, 5);
  Picture();
  for (int x = 114; x <= 126; ++x) EXPECT_TRUE(red(x, 122)) << x;
  EXPECT_FALSE(red(110, 122));
  EXPECT_FALSE(red(127, 122));
  Save("calibration_marks.png");
  screen_->SetGuideColor(2);
  Picture();
  const uint8_t* p = screen_->At(120, 122);
  EXPECT_TRUE(p[1] > 200 && p[0] < 60);
  // Closed: no marks.
  Dialog().Destroy();
  Picture();
  EXPECT_FALSE(red(120, 122));
  const uint8_t* q = screen_->At(120, 122);
  EXPECT_FALSE(q[1] > 200 && q[0] < 60);
  screen_->m_overlayHook = nullptr;
}

TEST_F(CalibrationTest, TextsOfBothLanguagesAndTheSwitchReopens) {
  Open();
  OpenDialog();
  EXPECT_STREQ(Dialog().m_title, L"キャリブレーション設定");
  EXPECT_STREQ(Dialog().m_axisDown.m_text, L"Y軸下向き");
  EXPECT_STREQ(Dialog().m_axisUp.m_text, L"Y軸上向き");
  EXPECT_STREQ(Dialog().m_pixelsLabel.m_text, L"ピクセル距離");
  EXPECT_STREQ(Dialog().m_lengthLabel.m_text, L"実距離");
  EXPECT_STREQ(Dialog().m_unitLabel.m_text, L"単位");
  EXPECT_STREQ(Dialog().m_set.m_text, L"設定");
  EXPECT_EQ(Dialog().m_clientWidth, 280u);
  EXPECT_EQ(Dialog().m_clientHeight, 176u);
  screen_->SetLanguage(L"en");
  ASSERT_TRUE(Dialog().IsOpen());
  EXPECT_STREQ(Dialog().m_title, L"Calibration");
  EXPECT_STREQ(Dialog().m_axisDown.m_text, L"Y axis down");
  EXPECT_STREQ(Dialog().m_axisUp.m_text, L"Y axis up");
  EXPECT_STREQ(Dialog().m_pixelsLabel.m_text, L"pixels");
  EXPECT_STREQ(Dialog().m_lengthLabel.m_text, L"length");
  EXPECT_STREQ(Dialog().m_unitLabel.m_text, L"unit");
  EXPECT_STREQ(Dialog().m_set.m_text, L"SET");
  EXPECT_EQ(Dialog().m_set.m_y, 140);
  EXPECT_EQ(Dialog().m_set.m_width, 264);
  // A window of its own, for its picture: the calibration in force, then two clicks.
  {
    filtertest::ShotWindow<CCalibrationUI> shot;
    shot.m_mainScreen = screen_;
    shot.m_english = 1;
    shot.m_scale = 0.05;
    wcscpy(shot.m_unit, L"mm");
    ASSERT_EQ(shot.Build(screen_), 1);
    shot.AddPoint(10, 10);
    shot.AddPoint(13, 14);
    EXPECT_STREQ(shot.m_pixelsEdit.GetText(), L"5");
    filtertest::SaveShot(&shot, "calibration_en.png");
    shot.m_english = 0;
    shot.Destroy();
    ASSERT_EQ(shot.Build(screen_), 1);
    filtertest::SaveShot(&shot, "calibration_jp.png");
    shot.Destroy();
  }
  // Closed, the switch only changes the language.
  Dialog().OnClose();
  Dialog().Destroy();
  screen_->SetLanguage(L"jp");
  EXPECT_FALSE(Dialog().IsOpen());
  EXPECT_EQ(Dialog().m_english, 0u);
}

}  // namespace
