// save_x11_test.cpp - saving the frame or every scene from a real main screen, the files read
// back by other tools (ffmpeg, ffprobe, tiffinfo, identify): the depth question, the
// selected area, the view with its guides, videos, multi-page and numbered files, the abort,
// the proposed names and the messages.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/mainscreen.h"
#include "app/registry.h"
#include "core/parallel.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

const int g_cpus = (SetProcessorCountForTesting(8), 0);

int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

bool HaveTools() {
  return Shell("ffmpeg -version") == 0 && Shell("ffprobe -version") == 0 &&
         Shell("command -v tiffinfo") == 0 && Shell("command -v identify") == 0;
}

// Sets the chain's rectangle, as the process rectangle filter does.
class RectFilter : public CImgFilter {
 public:
  void ProcessChain(CImgBuff*, uint64_t, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                    uint32_t*, uint32_t*, uint32_t*, uint32_t*) override {
    *x = 5;
    *y = 7;
    *w = 20;
    *h = 10;
  }
};

// Draws a 10 x 10 block of green points at image pixels (10..19, 20..29).
class GreenBlock : public CImgFilter {
 public:
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*, int32_t, int32_t,
                   int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    glColor3d(0, 1, 0);
    glPointSize(1);
    glBegin(GL_POINTS);
    for (int y = 20; y < 30; ++y)
      for (int x = 10; x < 20; ++x) glVertex2d(toGlX(x), toGlY(y));
    glEnd();
  }
};

// On the third scene it processes: a real click on the abort button of box, or the quit
// message when box is null.
class AbortOnThirdScene : public CImgFilter {
 public:
  void Process(CImgBuff*, uint64_t scene, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    if (!armed || scene != 2) return;
    armed = 0;
    if (box) {
      const CFgUIButton& b = box->m_button;
      PlatTestSendInput(box->GetWindow(), 0, 1, b.m_x + b.m_width / 2, b.m_y + b.m_height / 2);
      PlatTestSendInput(box->GetWindow(), 1, 1, b.m_x + b.m_width / 2, b.m_y + b.m_height / 2);
    } else {
      PlatPostQuit();
    }
    // The UI thread waits for this frame; both events are there when it pumps next.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  std::atomic<int> armed{1};
  CFgUIProgressBox* box = nullptr;
};

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    if (!HaveTools()) GTEST_SKIP() << "ffmpeg, ffprobe, tiffinfo or identify missing";
    ASSERT_TRUE(folder_.ok());
    SetConfigFilePathForTesting(folder_.WideFile("quorvix_duvu.cfg").c_str());
    screen_ = new CMainScreen;
    ASSERT_EQ(screen_->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr), 1);
    screen_->Layout();
    ASSERT_TRUE(toolkittest::PumpUntil([&] { return PlatIsWindowMapped(screen_->GetWindow()) != 0; }, 3000));
    screen_->m_view.m_overlay = DrawGuides;
    screen_->m_view.m_user = screen_;
    dialogs_ = new CScriptedDialogs;
  }
  void TearDown() override {
    delete dialogs_;
    delete screen_;
    SetConfigFilePathForTesting(nullptr);
  }
  std::string F(const std::string& name) const { return folder_.File(name); }
  std::wstring W(const std::string& name) const { return folder_.WideFile(name); }
  std::string Raw(const std::string& file, const char* pixFmt, const std::string& extra = "") {
    const std::string raw = F("decoded.raw");
    std::remove(raw.c_str());
    EXPECT_EQ(Shell("ffmpeg -v error -y -i " + F(file) + " " + extra + " -f rawvideo -pix_fmt " +
                    pixFmt + " " + raw), 0) << file;
    return qvtest::ReadWholeFile(raw);
  }
  static std::string Bytes(const CImgBuff& p) {
    return std::string(static_cast<const char*>(p.Pixels()),
                       size_t(p.Width()) * p.Height() * ImgBytesPerPixel[p.Format()]);
  }
  std::string Probe(const std::string& file) {
    return Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                   "stream=width,height,nb_read_frames -of csv=p=0 " + F(file));
  }
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> t;
    for (const auto& s : dialogs_->m_shown) t.push_back(s.text);
    return t;
  }
  void MakeVideo() {
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=641x480:rate=10 -frames:v 10 "
                    "-c:v png " + F("in.avi")), 0);
    screen_->OpenImage(W("in.avi").c_str());
    ASSERT_EQ(screen_->m_videoPanel.m_count, 10u);
    ASSERT_EQ(screen_->m_display.Width(), 641);
  }

  qvtest::TempFolder folder_{"save"};
  CMainScreen* screen_ = nullptr;
  CScriptedDialogs* dialogs_ = nullptr;
};

TEST_F(SaveTest, SixteenBitGrayToPngSilentlyAndToJpegWithTheDepthQuestion) {
  ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=37x23 -frames:v 1 -pix_fmt gray16be " +
                  F("g16.png")), 0);
  screen_->OpenImage(W("g16.png").c_str());
  ASSERT_EQ(screen_->m_display.Format(), ImgFormatGray16);

  dialogs_->m_paths = {W("out.png")};
  screen_->SaveImage();
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"セーブしました"});
  EXPECT_EQ(Raw("out.png", "gray16le"), Bytes(screen_->m_source));
  EXPECT_EQ(std::wstring(screen_->m_chooserStart), W("out.png"));

  // jpg holds 8 bits: Cancel at the question writes nothing and says nothing more.
  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("out.jpg")};
  dialogs_->m_answers = {0};
  screen_->SaveImage();
  ASSERT_EQ(dialogs_->m_shown.size(), 1u);
  EXPECT_EQ(dialogs_->m_shown[0].caption, L"確認");
  EXPECT_EQ(dialogs_->m_shown[0].kind, 0);
  EXPECT_EQ(dialogs_->m_shown[0].text.substr(0, 12), L"ファイルで扱えるbit数");
  EXPECT_FALSE(MediaFileExists(W("out.jpg").c_str()));
  // OK writes it at 8 bits.
  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("out.jpg")};
  dialogs_->m_answers = {1};
  screen_->SaveImage();
  EXPECT_EQ(Texts().back(), L"セーブしました");
  EXPECT_EQ(Capture("identify -format '%z %w %h' " + F("out.jpg")), "8 37 23");

  // Over an existing file in English: the overwrite question, Cancel keeps it.
  screen_->SetLanguage(L"en");
  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("out.png")};
  dialogs_->m_answers = {0};
  screen_->SaveImage();
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"Do you want to overwrite it?"});
  // A file type that no writer knows: "saving failed (write)", without the depth question.
  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("out.xyz")};
  screen_->SaveImage();
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"saving failed (write)"});
}

TEST_F(SaveTest, SelectedAreaAndTheViewWithItsGuides) {
  ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48 -frames:v 1 -pix_fmt rgb24 " +
                  F("rgb.png")), 0);
  screen_->OpenImage(W("rgb.png").c_str());
  ASSERT_EQ(screen_->m_display.Format(), ImgFormatRgb24);
  screen_->m_encode.m_selectedOnly = 1;
  // No filter set a rectangle: the whole frame.
  ASSERT_EQ(screen_->WriteDisplayedImage(W("whole.png").c_str(), L"jp"), 1);
  EXPECT_EQ(Raw("whole.png", "rgb24"), Bytes(screen_->m_source));

  ASSERT_EQ(screen_->AddFilter(new RectFilter, 1), 1u);
  ASSERT_EQ(screen_->WriteDisplayedImage(W("area.png").c_str(), L"jp"), 1);
  CImgBuff area;
  ASSERT_EQ(screen_->m_source.Crop(area, 5, 7, 24, 16), 1);
  EXPECT_EQ(Probe("area.png"), "20,10,1");
  EXPECT_EQ(Raw("area.png", "rgb24"), Bytes(area));

  screen_->m_sidePanel.RemoveAllFilters(0);
  ASSERT_EQ(screen_->AddFilter(new GreenBlock, 1), 1u);
  screen_->m_encode.m_selectedOnly = 0;
  screen_->m_encode.m_withGuides = 1;
  ASSERT_EQ(screen_->WriteDisplayedImage(W("guides.png").c_str(), L"jp"), 1);
  const std::string got = Raw("guides.png", "rgb24");
  ASSERT_EQ(got.size(), size_t(64 * 48 * 3));
  const std::string want = Bytes(screen_->m_source);
  int green = 0, far = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const size_t i = size_t(y * 64 + x) * 3;
      const bool inBlock = x >= 10 && x < 20 && y >= 20 && y < 30;
      if (inBlock) {
        green += uint8_t(got[i]) == 0 && uint8_t(got[i + 1]) == 255 && uint8_t(got[i + 2]) == 0;
        continue;
      }
      for (int c = 0; c < 3; ++c)
        far += std::abs(int(uint8_t(got[i + c])) - int(uint8_t(want[i + c]))) > 1;
    }
  EXPECT_EQ(green, 100);
  EXPECT_EQ(far, 0);
  EXPECT_EQ(screen_->m_offscreen, 0);
}

TEST_F(SaveTest, EveryScenePerFileType) {
  MakeVideo();
  screen_->m_encode.m_codec = 2;  // PNG frames: lossless, compared exactly
  const std::string source = Raw("in.avi", "rgb24");

  dialogs_->m_paths = {W("out.mp4")};
  screen_->SaveFrames(0, 100);
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"セーブしました"});
  EXPECT_EQ(Probe("out.mp4"), "640,480,10");
  EXPECT_EQ(screen_->m_videoPanel.m_position, 9u);

  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("out.avi")};
  screen_->SaveFrames(0, 100);
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"セーブしました"});
  EXPECT_EQ(Probe("out.avi"), "641,480,10");
  EXPECT_EQ(Raw("out.avi", "rgb24"), source);

  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("out.tif")};
  screen_->SaveFrames(0, 0);
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"セーブしました"});
  EXPECT_EQ(Capture("tiffinfo " + F("out.tif") + " 2>/dev/null | grep -c 'TIFF Directory'"), "10");

  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("n01.png")};
  screen_->SaveFrames(1, 0);
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"セーブしました"});
  EXPECT_EQ(Capture("ls " + folder_.path() + " | grep -c '^n[0-9][0-9]\\.png$'"), "10");
  EXPECT_EQ(Raw("n05.png", "rgb24"), source.substr(size_t(641) * 480 * 3 * 4, size_t(641) * 480 * 3));
  EXPECT_EQ(std::wstring(screen_->m_chooserStart), W("n01.png"));

  // Numbered again: the typed name is new, but files it would write exist.
  dialogs_->m_shown.clear();
  dialogs_->m_paths = {W("n00.png")};
  dialogs_->m_answers = {0};
  screen_->SaveFrames(1, 0);
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"上書き保存しますか？"});
  EXPECT_FALSE(MediaFileExists(W("n00.png").c_str()));
}

TEST_F(SaveTest, AbortKeepsTheFramesWrittenInAClosedFile) {
  MakeVideo();
  AbortOnThirdScene* filter = new AbortOnThirdScene;
  ASSERT_EQ(screen_->AddFilter(filter, 1), 1u);

  // The progress window's own button, clicked while the third scene is processed.
  CFgUIProgressBox box;
  ASSERT_EQ(box.Open(10, 0, L"saving", L"", screen_), 1);
  ASSERT_TRUE(toolkittest::PumpUntil([&] { return PlatIsWindowMapped(box.GetWindow()) != 0; }, 3000));
  filter->box = &box;
  EXPECT_EQ(screen_->WriteAllScenes(W("abort.avi").c_str(), L"jp", 0, &box, 9, 100), -1);
  box.Destroy();
  EXPECT_EQ(Probe("abort.avi"), "641,480,3");
  EXPECT_EQ(screen_->m_videoPanel.m_position, 2u);

  // The quit message met while pumping ends the same way, with "aborted".
  filter->box = nullptr;
  filter->armed = 1;
  dialogs_->m_paths = {W("quit.avi")};
  screen_->SaveFrames(0, 100);
  QuitRequested = 0;
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"中止しました"});
  EXPECT_EQ(Probe("quit.avi"), "641,480,3");
}

TEST_F(SaveTest, ProposedNamesAndNothingToSave) {
  // Nothing open.
  screen_->SetLanguage(L"en");
  screen_->SaveImage();
  screen_->SaveFrames(0, 0);
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"there is no image", L"there is no image"}));
  EXPECT_TRUE(dialogs_->m_asked.empty());

  MakeVideo();
  screen_->SetCurrentPath(W("a.MP4").c_str());
  screen_->SaveImage();
  screen_->SaveFrames(1, 0);
  screen_->SaveFrames(0, 0);
  screen_->SaveFrames(0, 33);
  ASSERT_EQ(dialogs_->m_asked.size(), 4u);
  EXPECT_EQ(dialogs_->m_asked[0].startPath, W("a.png"));
  EXPECT_EQ(dialogs_->m_asked[0].title, L"select file name to save");
  EXPECT_EQ(dialogs_->m_asked[0].extensions, L"jpg jpeg tif tiff png bmp");
  EXPECT_EQ(dialogs_->m_asked[1].startPath, L"");
  EXPECT_EQ(dialogs_->m_asked[2].startPath, W("a.tif"));
  EXPECT_EQ(dialogs_->m_asked[2].extensions, L"tif tiff");
  EXPECT_EQ(dialogs_->m_asked[3].startPath, W("a.avi"));
  EXPECT_EQ(dialogs_->m_asked[3].extensions, L"avi mp4");
  // From a still image the single save proposes the file itself.
  screen_->SetCurrentPath(W("b.png").c_str());
  screen_->SaveImage();
  EXPECT_EQ(dialogs_->m_asked.back().startPath, W("b.png"));

  // A still image has no scenes to save.
  ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=16x8 -frames:v 1 " + F("s.png")), 0);
  screen_->OpenImage(W("s.png").c_str());
  dialogs_->m_shown.clear();
  screen_->SaveFrames(0, 33);
  EXPECT_EQ(Texts(), std::vector<std::wstring>{L"there is no video"});
  EXPECT_EQ(screen_->m_lockCount, 0u);
}

}  // namespace
