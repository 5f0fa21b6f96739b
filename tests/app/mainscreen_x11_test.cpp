// mainscreen_x11_test.cpp - the main window on a real X server: first-start defaults and
// the settings file it leaves, layout, the UI lock, the language switch, mouse routing to
// the selected filter driven by X input, and the wheel by mode.
#include "app/mainscreen.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../toolkit/x11_test_util.h"
#include "app_test_util.h"
#include "core/parallel.h"
#include "tests/temp_folder.h"
#include "toolkit/texture.h"

namespace {

// Eight processors, whatever the machine: the title and "use_cpu" show it.
const int g_cpus = (SetProcessorCountForTesting(8), 0);

using toolkittest::PumpUntil;

// Logs every mouse call it gets with image point and flags.
class MouseFilter : public apptest::RecordingFilter {
 public:
  using RecordingFilter::RecordingFilter;
  void OnMouseMove(int64_t x, int64_t y, uint8_t f) override { Mouse("move", x, y, f); }
  void OnLButtonDown(int64_t x, int64_t y, uint8_t f) override { Mouse("ldown", x, y, f); }
  void OnLButtonUp(int64_t x, int64_t y, uint8_t f) override { Mouse("lup", x, y, f); }
  void OnRButtonDown(int64_t x, int64_t y, uint8_t f) override { Mouse("rdown", x, y, f); }
  void OnRButtonUp(int64_t x, int64_t y, uint8_t f) override { Mouse("rup", x, y, f); }
  // The view draws every enabled filter's overlay on each redraw: not a mouse call.
  void DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t, int32_t, int32_t,
                   int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {}
  void Mouse(const char* what, int64_t x, int64_t y, uint8_t f) {
    Log(std::string(what) + "(" + std::to_string(x) + "," + std::to_string(y) + "," +
        std::to_string(f) + ")");
  }
};

class MainScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(folder_.ok());
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
  }
  void TearDown() override {
    delete screen_;
    SetConfigFilePathForTesting(nullptr);
  }
  void Open() {
    screen_ = new CMainScreen;
    ASSERT_EQ(screen_->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
    screen_->UpdateTitle();
    screen_->Layout();
    ASSERT_TRUE(PumpUntil([&] { return PlatIsWindowMapped(screen_->GetWindow()) != 0; }, 3000));
  }
  std::string ReadSettings() const { return qvtest::ReadWholeFile(folder_.File("quorvix_duvu.cfg")); }
  // A picture of w x h in the view at zoom 1 (image pixel = view pixel from its corner).
  void ShowPicture(int32_t w, int32_t h) {
    CImgBuff picture;
    apptest::MakePicture(picture, w, h, ImgFormatRgb24);
    CFgTexture texture;
    ASSERT_EQ(UploadImageToTexture(&texture, &picture, 1), 1);
    screen_->m_view.SetImage(&texture);
    screen_->m_view.SetZoom(1);
    screen_->m_view.Layout();
  }
  // The filters log into a log on the test's stack: the screen goes first.
  void CloseBeforeTheLog() {
    delete screen_;
    screen_ = nullptr;
  }
  void Send(int kind, uint32_t detail, int32_t x, int32_t y) {
    ASSERT_EQ(PlatTestSendInput(screen_->GetWindow(), kind, detail, x, y), 1);
  }

  qvtest::TempFolder folder_{"mainscreen"};
  CMainScreen* screen_ = nullptr;
};

TEST_F(MainScreenTest, FirstStartDefaultsAndTheSettingsFileItLeaves) {
  Open();
  EXPECT_EQ(screen_->m_clientWidth, 640u);
  EXPECT_EQ(screen_->m_clientHeight, 500u);
  EXPECT_STREQ(screen_->m_windowTitle, L"quorvix mini 1.9.2 - 8core");
  EXPECT_STREQ(screen_->m_sidePanel.m_language, L"jp");
  EXPECT_EQ(screen_->m_displayMode, 2u);
  EXPECT_EQ(screen_->m_wheelMode, 2u);
  EXPECT_EQ(screen_->m_guideColor, 1u);
  EXPECT_EQ(screen_->m_colorPicker, 1u);
  EXPECT_EQ(screen_->m_sidePanel.m_guide[0], 1.0);
  EXPECT_STREQ(screen_->m_extensions[6], L"jpg jpeg tif tiff png bmp dcm avi mp4");
  delete screen_;
  screen_ = nullptr;
  EXPECT_EQ(ReadSettings(),
            "[quorvix] {\n cfg_ver 1\n use_cpu 8\n last_dir \n wheel_mode 2\n color_picker 1\n"
            " guide_color 1\n frame_skip 0\n auto_ms_per_frame 1\n ms_per_frame 33\n zoom 0\n"
            " connect 8\n bg 1\n lang jp\n axis_y 1\n scale 1\n unit \n ext png\n"
            " encode_codec 1\n encode_jpg 75\n encode_mp4_bps_sel 0\n encode_mp4_bps 5000000\n"
            " encode_mp4_ql 25\n encode_mp4_key_sel 1\n encode_mp4_key 10\n}\n");
}

TEST_F(MainScreenTest, SettingsAreAppliedAtStartAndSurviveARestart) {
  qvtest::WriteWholeFile(folder_.File("quorvix_duvu.cfg"),
      "[quorvix] {\n encode_mp4_ql 101\n lang en\n guide_color 3\n zoom 16\n cfg_ver 1\n"
         " use_cpu 3\n ms_per_frame 18446744073709551615\n frame_skip 1\n scale 0.0000001\n"
         " unit mm\n connect 4\n}\n");
  Open();
  EXPECT_STREQ(screen_->m_sidePanel.m_language, L"en");
  EXPECT_EQ(screen_->m_guideColor, 3u);
  EXPECT_EQ(screen_->m_sidePanel.m_guide[2], 1.0);
  EXPECT_EQ(screen_->m_view.m_zoom, 16);
  EXPECT_EQ(ActiveWorkerCount(), 3u);
  EXPECT_STREQ(screen_->m_windowTitle, L"quorvix mini 1.9.2 - 3core");
  EXPECT_EQ(screen_->m_videoPanel.m_interval, 18446744073709551615ull);
  EXPECT_EQ(screen_->m_videoPanel.m_skip, 1u);
  EXPECT_EQ(screen_->m_sidePanel.m_scale, 0.0000001);
  EXPECT_STREQ(screen_->m_sidePanel.m_unit, L"mm");
  EXPECT_EQ(screen_->m_sidePanel.m_connectivity, 4u);
  EXPECT_EQ(screen_->m_encode.m_quality, 101u);
  delete screen_;
  screen_ = nullptr;
  const std::string saved = ReadSettings();
  EXPECT_NE(saved.find(" use_cpu 3\n"), std::string::npos);
  EXPECT_NE(saved.find(" ms_per_frame 18446744073709551615\n"), std::string::npos);
  EXPECT_NE(saved.find(" scale 0.0000001\n"), std::string::npos);
  EXPECT_NE(saved.find(" lang en\n"), std::string::npos);
  Open();  // read again
  EXPECT_EQ(screen_->m_sidePanel.m_scale, 0.0000001);
  EXPECT_EQ(screen_->m_playInterval, 18446744073709551615ull);
  SetCpuCount(0);
}

TEST_F(MainScreenTest, LayoutOfViewSceneBarAndSidePanel) {
  Open();
  EXPECT_EQ(screen_->m_viewPlace.y, 22);
  EXPECT_EQ(screen_->m_view.m_y, 22);
  EXPECT_EQ(screen_->m_view.m_width, 640);
  EXPECT_EQ(screen_->m_view.m_height, 478);
  screen_->ShowVideoPanel(10);
  EXPECT_EQ(screen_->m_videoPanel.m_y, 460);
  EXPECT_EQ(screen_->m_videoPanel.m_width, 640);
  EXPECT_EQ(screen_->m_view.m_height, 438);
  EXPECT_EQ(screen_->m_videoPanel.m_hits[kSceneBarPlayForward].x, 604);
  screen_->ShowSidePanel();
  EXPECT_EQ(screen_->m_view.m_width, 456);
  const CFgUIObj& side = screen_->m_sidePanel;
  EXPECT_EQ(side.m_x, 456);
  EXPECT_EQ(side.m_y, 22);
  EXPECT_EQ(side.m_height, 438);
  EXPECT_EQ(side.m_visible, 1);
  EXPECT_EQ(screen_->m_videoPanel.m_width, 640);  // under both
  // A look at it: the scene bar at scene 4 of 10, the side panel's place.
  screen_->m_videoPanel.m_count = 10;
  screen_->m_videoPanel.m_position = 3;
  screen_->m_videoPanel.UpdateThumb();
  screen_->Redraw();
  for (int i = 0; i < 20; ++i) FgPumpMessages();
  const uint64_t xid = PlatTestFindWindowByTitle(screen_->m_windowTitle, int64_t(getpid()));
  ASSERT_NE(xid, 0u);
  EXPECT_EQ(std::system(("/usr/bin/import -window " + std::to_string(xid) + " '" QV_TEST_OUT_DIR
                         "/mainscreen_panels.png'").c_str()), 0);
  screen_->HideSidePanel();
  screen_->HideVideoPanel(0);
  EXPECT_EQ(screen_->m_view.m_width, 640);
  EXPECT_EQ(screen_->m_view.m_height, 478);
}

TEST_F(MainScreenTest, LockNestsAndRefusesTheClose) {
  Open();
  screen_->m_playEdit.Build(screen_);
  screen_->LockUI();
  screen_->LockUI();
  screen_->UnlockUI();
  EXPECT_EQ(screen_->m_lockCount, 1u);
  EXPECT_EQ(screen_->m_enabled, 0);
  EXPECT_EQ(screen_->m_closeAllowed, 0);
  EXPECT_EQ(screen_->m_playEdit.m_closeAllowed, 0);
  EXPECT_EQ(screen_->m_playEdit.m_set.m_enabled, 0);
  PlatMsg close;
  close.kind = PlatMsgClose;
  close.window = screen_->GetWindow();
  PlatPostMessage(close);
  FgPumpMessages();
  EXPECT_NE(screen_->GetWindow(), nullptr);  // refused
  screen_->UnlockUI();
  screen_->UnlockUI();  // at 0: nothing
  EXPECT_EQ(screen_->m_lockCount, 0u);
  EXPECT_EQ(screen_->m_enabled, 1);
  EXPECT_EQ(screen_->m_closeAllowed, 1);
  EXPECT_EQ(screen_->m_playEdit.m_set.m_enabled, 1);
}

TEST_F(MainScreenTest, LanguageSwitchTellsTheChainOnceAndReopensTheRangeDialog) {
  Open();
  apptest::CallLog log;
  ASSERT_EQ(screen_->m_sidePanel.AddFilter(new apptest::RecordingFilter(&log, "f"), nullptr), 1);
  screen_->m_playEdit.Build(screen_);
  log.Take();
  screen_->SetLanguage(L"en");
  EXPECT_EQ(log.Take(), std::vector<std::string>{"f:OnLanguageChanged(en)"});
  EXPECT_STREQ(screen_->m_playEdit.m_title, L"Video play edit");
  EXPECT_NE(screen_->m_playEdit.GetWindow(), nullptr);
  screen_->SetLanguage(L"en");
  EXPECT_TRUE(log.Take().empty());
  screen_->SetLanguage(L"jp");
  EXPECT_STREQ(screen_->m_playEdit.m_title, L"動画再生設定");
  CloseBeforeTheLog();
}

TEST_F(MainScreenTest, MouseOnTheImageReachesTheSelectedFilter) {
  Open();
  ShowPicture(200, 150);
  apptest::CallLog log;
  auto* filter = new MouseFilter(&log, "m");
  ASSERT_EQ(screen_->m_sidePanel.AddFilter(filter, nullptr), 1);
  ASSERT_EQ(screen_->m_sidePanel.SelectFilter(0), 1);
  ASSERT_EQ(screen_->m_sidePanel.SelectedFilter(), filter);
  log.Take();
  int32_t ix = 30, iy = 60;  // window point, then its image point
  ASSERT_EQ(screen_->m_view.ClientToImage(&ix, &iy), 1);
  // Mouse calls only: the UI lock also reaches the filter, through the side panel, as
  // EnableDialog.
  auto mouseOnly = [&] {
    std::vector<std::string> out;
    for (auto& l : log.Take())
      if (l.find("EnableDialog") == std::string::npos) out.push_back(l);
    return out;
  };
  auto waitFor = [&](size_t n) {
    std::vector<std::string> got;
    PumpUntil([&] {
      for (auto& l : mouseOnly()) got.push_back(l);
      return got.size() >= n;
    }, 3000);
    for (int i = 0; i < 5; ++i) FgPumpMessages();
    for (auto& l : mouseOnly()) got.push_back(l);
    return got;
  };
  const std::string at = "(" + std::to_string(ix) + "," + std::to_string(iy);

  // Press with Shift and Ctrl, a move while held, the release off the image (the menu
  // strip) at the last image point.
  screen_->SetKeyFlags(FgKeyShift | FgKeyCtrl);
  Send(0, 1, 30, 60);
  EXPECT_EQ(waitFor(1), std::vector<std::string>{"m:ldown" + at + ",3)"});
  screen_->SetKeyFlags(FgKeyShift);
  screen_->OnMouseMove(31, 60);
  EXPECT_EQ(log.Take(), std::vector<std::string>{"m:move(" + std::to_string(ix + 1) + "," + std::to_string(iy) + ",1)"});
  screen_->SetKeyFlags(0);
  Send(1, 1, 30, 5);
  EXPECT_EQ(waitFor(1), std::vector<std::string>{"m:lup(" + std::to_string(ix + 1) + "," + std::to_string(iy) + ",0)"});
  // Moves without a button reach no filter; the right button the same way as the left.
  screen_->OnMouseMove(40, 60);
  Send(0, 3, 30, 60);
  Send(1, 3, 30, 60);
  EXPECT_EQ(waitFor(2), (std::vector<std::string>{"m:rdown" + at + ",0)", "m:rup" + at + ",0)"}));
  // A disabled filter gets nothing.
  filter->m_filterEnabled = 0;
  Send(0, 1, 30, 60);
  Send(1, 1, 30, 60);
  EXPECT_TRUE(waitFor(1).empty());
  filter->m_filterEnabled = 1;
  // Locked: nothing without the image-input flag; with it the press comes through.
  screen_->LockUI();
  Send(0, 1, 30, 60);
  Send(1, 1, 30, 60);
  EXPECT_TRUE(waitFor(1).empty());
  screen_->m_imageInput = 1;
  Send(0, 1, 30, 60);
  Send(1, 1, 30, 60);
  EXPECT_EQ(waitFor(2), (std::vector<std::string>{"m:ldown" + at + ",0)", "m:lup" + at + ",0)"}));
  screen_->m_imageInput = 0;
  screen_->UnlockUI();
  // The calibration dialog takes presses while it is open (its points), and no filter.
  ASSERT_EQ(screen_->m_calibration.Create(-1, -1, 100, 100, L"cal", FgStyleDialog, screen_), 1);
  screen_->OnLButtonDown(30, 60);
  screen_->OnLButtonUp(30, 60);
  screen_->OnLButtonDown(30, 60);
  screen_->OnLButtonUp(30, 60);
  screen_->OnRButtonDown(30, 60);
  screen_->OnRButtonUp(30, 60);
  EXPECT_EQ(screen_->m_calibration.m_pointCount, 1);
  EXPECT_TRUE(mouseOnly().empty());
  screen_->m_calibration.Destroy();
  CloseBeforeTheLog();
}

TEST_F(MainScreenTest, WheelByMode) {
  Open();
  ShowPicture(200, 150);
  // A still to load at each step (nothing to load would be a message box).
  apptest::MakePicture(screen_->m_source, 200, 150, ImgFormatRgb24);
  screen_->ShowVideoPanel(5);
  const int32_t zoom = screen_->m_view.m_zoom;
  // Mode 2: over the image the scenes step.
  screen_->OnMouseWheel(100, 100, 2);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 2u);
  EXPECT_EQ(screen_->m_currentScene, 2u);
  screen_->OnMouseWheel(100, 100, 10);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 4u);
  // Mode 1: the view zooms, except over the scene bar, which steps.
  screen_->m_wheelMode = 1;
  screen_->OnMouseWheel(100, 100, -1);
  EXPECT_NE(screen_->m_view.m_zoom, zoom);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 4u);
  screen_->OnMouseWheel(100, 470, -3);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 1u);
  // Mode 0: nothing over the image.
  screen_->m_wheelMode = 0;
  const int32_t zoomNow = screen_->m_view.m_zoom;
  screen_->OnMouseWheel(100, 100, 1);
  EXPECT_EQ(screen_->m_view.m_zoom, zoomNow);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 1u);
  // Over the side panel its rows always scroll, within the page.
  screen_->ShowSidePanel();
  screen_->m_sidePanel.m_rows.SetRange(0, 9, 4, 0);
  screen_->OnMouseWheel(600, 100, 2);
  EXPECT_EQ(screen_->m_sidePanel.m_rows.m_position, 2);
  screen_->OnMouseWheel(600, 100, 20);
  EXPECT_EQ(screen_->m_sidePanel.m_rows.m_position, 6);
  screen_->OnMouseWheel(600, 100, -20);
  EXPECT_EQ(screen_->m_sidePanel.m_rows.m_position, 0);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 1u);
}

}  // namespace
