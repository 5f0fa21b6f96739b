// opening_x11_test.cpp - opening stills, multi-page files, videos and sequences in the real
// main window (files made by ffmpeg and ImageMagick), the scene limit, frame times, failed
// opens, turning, the play range, seeking, "Original", replacing the source, the MP4
// progress window and the view texture kept between frames.
#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <string>
#include <vector>

#include "app_test_util.h"
#include "mainscreen_fixture.h"
#include "media/media.h"
#include "media/media_file.h"
#include "toolkit/progress.h"

namespace {

using mstest::MainScreenFixture;

class Opening : public MainScreenFixture {
 protected:
  // A recording filter in the chain; the log lives as long as the test.
  void AddRecorder() {
    ASSERT_EQ(screen_->m_sidePanel.AddFilter(new apptest::RecordingFilter(&log_, "f"), nullptr), 1);
    log_.Take();
  }
  std::vector<std::string> Calls(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& l : log_.Take())
      if (l.rfind("f:" + prefix, 0) == 0) out.push_back(l.substr(2));
    return out;
  }
  void TearDown() override {
    // The filters log into log_: the window goes first.
    MainScreenFixture::TearDown();
  }
  std::wstring Title() const { return screen_->m_windowTitle; }
  // An uncompressed AVI of n frames of w x h whose every byte in frame i is i.
  void WriteNumberedAvi(const std::string& path, int n, int w, int h) {
    MediaInfo info{MediaKindVideo, 1, uint64_t(n), 3, uint64_t(w), uint64_t(h), 33333};
    MediaWriteOptions options{};
    options.aviCodec = 0;
    MediaFile* f = MediaCreate(qvtest::Utf8Wide(path).c_str(), &info, &options);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> frame(size_t(w) * h * 3);
    for (int i = 0; i < n; ++i) {
      std::fill(frame.begin(), frame.end(), uint8_t(i));
      ASSERT_EQ(MediaWriteFrame(f, 0, 0, frame.data()), 1);
    }
    ASSERT_EQ(MediaClose(f), 1);
  }
  int SourceByte() const { return static_cast<const uint8_t*>(screen_->m_source.Pixels())[0]; }

  apptest::CallLog log_;
};

TEST_F(Opening, StillsAndMultiPageFilesShowTheSceneBarByTheirPageCount) {
  ASSERT_TRUE(Run("convert -size 40x30 xc:'rgb(10,200,30)' '" + File("still.png") + "'"));
  ASSERT_TRUE(Run("convert -size 40x30 xc:'rgb(10,200,30)' -depth 8 -compress none '" + File("one.tif") + "'"));
  ASSERT_TRUE(Run("convert -size 40x30 xc:red xc:lime xc:blue -depth 8 -compress none '" + File("three.tif") + "'"));
  Open();
  AddRecorder();
  struct Case {
    const char* name;
    int shown;
    uint64_t count;
  } cases[] = {{"three.tif", 1, 3}, {"still.png", 0, 1}, {"one.tif", 0, 1}, {"three.tif", 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(File(c.name));
    screen_->OpenImage(nullptr);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(screen_->m_videoPlace.shown, c.shown);
    EXPECT_EQ(screen_->m_videoPanel.m_visible, c.shown);
    EXPECT_EQ(screen_->m_videoPanel.m_count, c.count);
    EXPECT_EQ(screen_->m_media != nullptr, c.shown == 1);
    EXPECT_EQ(screen_->m_original.Pixels() != nullptr, c.shown == 0);
    if (c.shown) {
      EXPECT_EQ(screen_->m_playEdit.m_end, c.count);
    }
    EXPECT_EQ(Title(), L"quorvix mini 1.9.2 - 8core  " + qvtest::Utf8Wide(c.name));
    const std::vector<std::string> told = Calls("OnSourceChanged");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "OnSourceChanged(40,30,3," + std::to_string(c.count) + ")");
    EXPECT_STREQ(screen_->m_chooserStart, WFile(c.name).c_str());
  }
  // The still shows its colour; the chooser was asked in English with everything that opens.
  Choose(File("still.png"));
  screen_->OpenImage(nullptr);
  EXPECT_EQ(ViewPixel(5, 5), (std::vector<int>{10, 200, 30}));
  EXPECT_EQ(mstest::g_chooserTitles.front(), L"select file");
  // Cancel changes nothing.
  screen_->OpenImage(nullptr);
  EXPECT_NE(screen_->m_source.Pixels(), nullptr);
  EXPECT_EQ(Title(), L"quorvix mini 1.9.2 - 8core  still.png");
  Shot("opening_still.png");
}

TEST_F(Opening, MoreThanAHundredScenesGiveTheLimitMessageOnceInEitherLanguage) {
  ASSERT_TRUE(Run("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=25 -frames:v 250 "
                  "-c:v mjpeg '" + File("long.avi") + "'"));
  ASSERT_TRUE(Run("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=25 -frames:v 101 '" +
                  File("seq%03d.png") + "'"));
  Open();
  AddRecorder();
  screen_->OpenImage(WFile("long.avi").c_str());
  std::vector<mstest::Shown> shown = TakeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, L"quorvix mini can process up to 100 scenes");
  EXPECT_EQ(shown[0].caption, L"limitations");
  EXPECT_EQ(screen_->m_videoPanel.m_count, 100u);
  EXPECT_EQ(screen_->m_playEdit.m_end, 100u);
  // The chain hears the file's depth although the source was empty when it was told.
  EXPECT_EQ(Calls("OnSourceChanged"), std::vector<std::string>{"OnSourceChanged(32,24,3,100)"});

  screen_->SetLanguage(L"jp");
  Choose(File("seq001.png"));
  Choose(File("seq101.png"));
  screen_->OpenSequence();
  shown = TakeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, L"quorvix duvuは100シーンまでしか処理できません");
  EXPECT_EQ(shown[0].caption, L"制限事項");
  EXPECT_EQ(screen_->m_videoPanel.m_count, 100u);
  EXPECT_EQ(screen_->m_playEdit.m_end, 100u);
  EXPECT_EQ(screen_->m_sourceFrameTime, 0u);
  EXPECT_EQ(Title(), L"quorvix mini 1.9.2 - 8core  seq001.png");
  ASSERT_GE(mstest::g_chooserTitles.size(), 2u);
  EXPECT_EQ(mstest::g_chooserTitles[0], L"最初の連番ファイルを選択");
  EXPECT_EQ(mstest::g_chooserTitles[1], L"最後の連番ファイルを選択");
  // The last scene is the 100th file.
  EXPECT_EQ(screen_->SeekScene(99), 1);
  EXPECT_EQ(screen_->m_currentScene, 99u);
  EXPECT_NE(screen_->m_source.Pixels(), nullptr);
  EXPECT_EQ(screen_->SeekScene(100), 0);
}

TEST_F(Opening, TheSameFileAsFirstAndLastOpensOneImage) {
  ASSERT_TRUE(Run("convert -size 20x10 xc:gray '" + File("img0007.png") + "'"));
  Open();
  Choose(File("img0007.png"));
  Choose(File("img0007.png"));
  screen_->OpenSequence();
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(screen_->m_media, nullptr);
  EXPECT_EQ(screen_->m_videoPlace.shown, 0);
  EXPECT_EQ(screen_->m_source.Width(), 20);
  EXPECT_NE(screen_->m_original.Pixels(), nullptr);
  // A cancelled second chooser changes nothing.
  Choose(File("img0007.png"));
  screen_->OpenSequence();
  EXPECT_EQ(screen_->m_source.Width(), 20);
}

TEST_F(Opening, AVideosFrameIntervalBecomesFrameTimeAndWithAutoThePlayInterval) {
  ASSERT_TRUE(Run("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=30 -frames:v 5 "
                  "-c:v mjpeg '" + File("v30.avi") + "'"));
  Open();
  screen_->m_autoFrameInterval = 1;
  screen_->m_frameSkip = 1;
  screen_->OpenImage(WFile("v30.avi").c_str());
  EXPECT_EQ(screen_->m_sourceFrameTime, 33u);
  EXPECT_EQ(screen_->m_playInterval, 33u);
  EXPECT_EQ(screen_->m_videoPanel.m_interval, 33u);
  EXPECT_EQ(screen_->m_videoPanel.m_skip, 1u);
  EXPECT_EQ(screen_->m_videoPanel.m_count, 5u);
  // Without auto the play interval stays as the user set it.
  screen_->m_autoFrameInterval = 0;
  screen_->m_playInterval = 50;
  screen_->m_videoPanel.m_interval = 50;
  screen_->OpenImage(WFile("v30.avi").c_str());
  EXPECT_EQ(screen_->m_sourceFrameTime, 33u);
  EXPECT_EQ(screen_->m_playInterval, 50u);
  EXPECT_EQ(screen_->m_videoPanel.m_interval, 50u);
}

TEST_F(Opening, AFailedOpenSaysSoTwiceAndKeepsThePathInTheTitle) {
  qvtest::WriteWholeFile(File("bad.png"), "not a picture at all");
  ASSERT_TRUE(Run("convert -size 20x10 xc:gray '" + File("good.png") + "'"));
  Open();
  AddRecorder();
  screen_->OpenImage(WFile("good.png").c_str());
  log_.Take();
  screen_->OpenImage(WFile("bad.png").c_str());
  const std::vector<mstest::Shown> shown = TakeMessages();
  ASSERT_EQ(shown.size(), 2u);
  for (const auto& s : shown) {
    EXPECT_EQ(s.text, L"loading failed");
    EXPECT_EQ(s.caption, L"error");
  }
  EXPECT_EQ(screen_->m_source.Pixels(), nullptr);
  EXPECT_EQ(screen_->m_videoPlace.shown, 0);
  EXPECT_EQ(Title(), L"quorvix mini 1.9.2 - 8core  bad.png");
  EXPECT_EQ(Calls("OnSourceChanged"), std::vector<std::string>{"OnSourceChanged(0,0,0,1)"});
  EXPECT_TRUE(Calls("Process").empty());
  // The chooser starts where the last good file was.
  EXPECT_STREQ(screen_->m_chooserStart, WFile("good.png").c_str());
  // The view is empty.
  EXPECT_EQ(screen_->m_view.m_texture.m_store, nullptr);
  // Japanese.
  screen_->SetLanguage(L"jp");
  screen_->OpenImage(WFile("missing.png").c_str());
  const std::vector<mstest::Shown> jp = TakeMessages();
  ASSERT_EQ(jp.size(), 2u);
  EXPECT_EQ(jp[0].text, L"ロードできませんでした");
  EXPECT_EQ(jp[0].caption, L"エラー");
}

TEST_F(Opening, PathsAreKeptWhole) {
  const std::string part(200, 'd');
  const std::string dir = File(part + "/" + part + "/" + part + "/" + part + "/" + part);
  ASSERT_TRUE(Run("mkdir -p '" + dir + "'"));
  const std::string path = dir + "/x.png";
  ASSERT_GT(path.size(), 1024u);
  ASSERT_TRUE(Run("convert -size 8x8 xc:white '" + path + "'"));
  Open();
  Choose(path);
  screen_->OpenImage(nullptr);
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(screen_->m_source.Width(), 8);
  EXPECT_EQ(std::wstring(screen_->m_filePath), qvtest::Utf8Wide(path));
  EXPECT_EQ(std::wstring(screen_->m_chooserStart), qvtest::Utf8Wide(path));
  EXPECT_EQ(Title(), L"quorvix mini 1.9.2 - 8core  x.png");
}

// A scene that cannot be read empties the source and the view and says so; the sequence
// stays open and the next scene loads.
TEST_F(Opening, AnUnreadableSceneEmptiesTheViewAndTheNextOneLoads) {
  for (const char* name : {"s1.png", "s3.png"})
    ASSERT_TRUE(Run("convert -size 64x48 xc:'rgb(90,90,90)' '" + File(name) + "'"));
  qvtest::WriteWholeFile(File("s2.png"), "\x89PNG but nothing more");
  Open();
  AddRecorder();
  Choose(File("s1.png"));
  Choose(File("s3.png"));
  screen_->OpenSequence();
  ASSERT_EQ(screen_->m_videoPanel.m_count, 3u);
  ASSERT_NE(screen_->m_source.Pixels(), nullptr);
  log_.Take();
  EXPECT_EQ(screen_->SeekScene(1), 1);
  const std::vector<mstest::Shown> shown = TakeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, L"loading failed");
  EXPECT_EQ(screen_->m_source.Pixels(), nullptr);
  EXPECT_EQ(screen_->m_view.m_texture.m_store, nullptr);
  EXPECT_TRUE(Calls("Process").empty());
  EXPECT_NE(screen_->m_media, nullptr);
  EXPECT_EQ(screen_->SeekScene(2), 1);
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(Calls("Process"), std::vector<std::string>{"Process(2)"});
  EXPECT_EQ(ViewPixel(40, 30), (std::vector<int>{90, 90, 90}));
}

TEST_F(Opening, TurningAStillTwiceStartsFromTheOriginalEachTime) {
  Open();
  CImgBuff picture, turned;
  apptest::MakePicture(picture, 40, 30, ImgFormatRgb24);
  screen_->ReplaceSource(&picture);
  screen_->m_rotation = 1;
  screen_->LoadCurrentScene(1);
  screen_->LoadCurrentScene(1);
  turned.CopyFrom(picture);
  ASSERT_EQ(RotateImageQuarterTurns(&turned, 1), 1);
  EXPECT_TRUE(apptest::SamePixels(screen_->m_source, turned));
  EXPECT_TRUE(apptest::SamePixels(screen_->m_display, turned));
  EXPECT_TRUE(apptest::SamePixels(screen_->m_original, picture));
  EXPECT_EQ(screen_->m_view.PictureWidth(), 30);
}

TEST_F(Opening, APlayRangeWalksItsScenesAndSeekingStaysInsideIt) {
  // Large enough that the scene counter at the corner leaves most of it visible.
  WriteNumberedAvi(File("numbered.avi"), 40, 64, 48);
  Open();
  AddRecorder();
  screen_->OpenImage(WFile("numbered.avi").c_str());
  EXPECT_EQ(SourceByte(), 0);
  log_.Take();
  screen_->m_rotation = 1;  // the chain hears the turned size, recorded is the unturned
  screen_->SetPlayRange(11, 31, 10);
  EXPECT_EQ(screen_->m_rangeActive, 1);
  EXPECT_EQ(screen_->m_videoPanel.m_count, 3u);
  EXPECT_EQ(g_recordedSource.width, 64u);
  EXPECT_EQ(g_recordedSource.sceneCount, 3u);
  EXPECT_EQ(Calls("OnSourceChanged"), std::vector<std::string>{"OnSourceChanged(48,64,3,3)"});
  screen_->m_rotation = 0;
  const int expected[] = {10, 20, 30};
  for (uint64_t p = 0; p < 3; ++p) {
    ASSERT_EQ(screen_->SeekScene(p), 1);
    EXPECT_EQ(screen_->m_currentScene, uint64_t(expected[p]));
    EXPECT_EQ(screen_->m_videoPanel.m_position, p);
    EXPECT_EQ(SourceByte(), expected[p]);
    EXPECT_EQ(ViewPixel(40, 30), (std::vector<int>{expected[p], expected[p], expected[p]}));
  }
  // At or beyond the count: refused, nothing changes.
  EXPECT_EQ(screen_->SeekScene(3), 0);
  EXPECT_EQ(screen_->SeekScene(5), 0);
  EXPECT_EQ(screen_->m_currentScene, 30u);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 2u);
  // Ranges that cannot be: ignored.
  screen_->SetPlayRange(0, 5, 1);
  screen_->SetPlayRange(5, 4, 1);
  screen_->SetPlayRange(1, 41, 1);
  screen_->SetPlayRange(1, 5, 0);
  EXPECT_EQ(screen_->m_videoPanel.m_count, 3u);
  // The whole file: no range.
  screen_->SetPlayRange(1, 40, 1);
  EXPECT_EQ(screen_->m_rangeActive, 0);
  EXPECT_EQ(screen_->m_videoPanel.m_count, 40u);
  EXPECT_EQ(screen_->SeekScene(39), 1);
  EXPECT_EQ(SourceByte(), 39);
  // The scene counter: the guide colour at the view's corner (drawn by the overlay).
  Shot("opening_range.png");
}

TEST_F(Opening, SeekingAStillRunsItsChainOnceForPositionZeroOnly) {
  Open();
  AddRecorder();
  EXPECT_EQ(screen_->SeekScene(0), 1);  // nothing open: nothing to run
  EXPECT_TRUE(Calls("Process").empty());
  CImgBuff picture;
  apptest::MakePicture(picture, 12, 10, ImgFormatRgb24);
  screen_->ReplaceSource(&picture);
  log_.Take();
  EXPECT_EQ(screen_->SeekScene(0), 1);
  EXPECT_EQ(Calls("Process"), std::vector<std::string>{"Process(0)"});
  EXPECT_EQ(screen_->SeekScene(1), 0);
  EXPECT_TRUE(Calls("Process").empty());
  // A 3-page file refuses 5 and keeps its place.
  ASSERT_TRUE(Run("convert -size 8x8 xc:red xc:lime xc:blue -compress none '" + File("three.tif") + "'"));
  screen_->OpenImage(WFile("three.tif").c_str());
  ASSERT_EQ(screen_->SeekScene(2), 1);
  log_.Take();
  EXPECT_EQ(screen_->SeekScene(5), 0);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 2u);
  EXPECT_TRUE(Calls("Process").empty());
}

TEST_F(Opening, OriginalShowsTheSourceWithoutRunningTheChain) {
  ASSERT_TRUE(Run("convert -size 40x30 xc:'rgb(200,20,90)' '" + File("c.png") + "'"));
  Open();
  AddRecorder();
  screen_->m_displayMode = 0;
  screen_->OpenImage(WFile("c.png").c_str());
  EXPECT_TRUE(Calls("Process").empty());
  EXPECT_EQ(ViewPixel(10, 10), (std::vector<int>{200, 20, 90}));
  screen_->m_displayMode = 2;
  screen_->Reprocess(0);
  EXPECT_EQ(Calls("Process"), std::vector<std::string>{"Process(0)"});
}

TEST_F(Opening, ReplacingAndCommittingMakeAStillWithoutAFileName) {
  WriteNumberedAvi(File("n.avi"), 4, 16, 8);
  Open();
  AddRecorder();
  screen_->OpenImage(WFile("n.avi").c_str());
  ASSERT_EQ(screen_->SeekScene(3), 1);
  ASSERT_EQ(screen_->m_videoPlace.shown, 1);
  log_.Take();
  // The display itself handed back (a tool's "open result"): copied before anything closes.
  screen_->ReplaceSource(&screen_->m_display);
  EXPECT_EQ(screen_->m_media, nullptr);
  EXPECT_EQ(screen_->m_videoPlace.shown, 0);
  EXPECT_EQ(screen_->m_videoPanel.m_count, 1u);
  EXPECT_EQ(screen_->m_filePath, nullptr);
  EXPECT_EQ(Title(), L"quorvix mini 1.9.2 - 8core");
  EXPECT_EQ(SourceByte(), 3);
  EXPECT_EQ(Calls("OnSourceChanged"), std::vector<std::string>{"OnSourceChanged(16,8,3,1)"});
  // Committing a frame of the same size tells the chain nothing new; another size does.
  CImgBuff frame;
  apptest::MakePicture(frame, 16, 8, ImgFormatRgb24);
  int32_t done = 0;
  EXPECT_EQ(screen_->CommitProcessing(&frame, &done), 1);
  EXPECT_EQ(done, 1);
  EXPECT_TRUE(Calls("OnSourceChanged").empty());
  EXPECT_TRUE(apptest::SamePixels(screen_->m_original, frame));
  apptest::MakePicture(frame, 6, 5, ImgFormatGray8);
  EXPECT_EQ(screen_->CommitProcessing(&frame, &done), 1);
  EXPECT_EQ(Calls("OnSourceChanged"), std::vector<std::string>{"OnSourceChanged(6,5,1,1)"});
  EXPECT_TRUE(apptest::SamePixels(screen_->m_source, frame));
  // An empty picture ends in the scene load's message.
  CImgBuff empty;
  screen_->ReplaceSource(&empty);
  EXPECT_EQ(TakeMessages().size(), 1u);
}

TEST_F(Opening, Mp4IndexingShowsItsProgressAndAQuitStillOpensTheFile) {
  ASSERT_TRUE(Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=30 -frames:v 30 "
                  "-c:v libx264 -pix_fmt yuv420p '" + File("v.mp4") + "'"));
  Open();
  screen_->OpenImage(WFile("v.mp4").c_str());
  CFgUIProgressBox* box = MediaOpenProgressBox();
  ASSERT_NE(box, nullptr);
  ASSERT_NE(box->m_bar.m_text, nullptr);
  EXPECT_STREQ(box->m_bar.m_text, L"pass 30/30");
  EXPECT_EQ(box->m_bar.m_current, 30);
  EXPECT_EQ(box->GetWindow(), nullptr);  // closed again
  EXPECT_EQ(screen_->m_videoPanel.m_count, 30u);

  // The quit message met while indexing cancels it; the file opens all the same and a late
  // frame reads.
  PlatPostQuit();
  screen_->OpenImage(WFile("v.mp4").c_str());
  EXPECT_EQ(QuitRequested, 1);
  QuitRequested = 0;
  ASSERT_NE(screen_->m_media, nullptr);
  EXPECT_TRUE(TakeMessages().empty());
  ASSERT_EQ(screen_->SeekScene(29), 1);
  EXPECT_NE(screen_->m_source.Pixels(), nullptr);

  // The abort button cancels.
  EXPECT_EQ(MediaOpenProgress(0, 7, 1, screen_), 1);
  EXPECT_NE(box->GetWindow(), nullptr);
  EXPECT_STREQ(box->m_title, L"check mp4 frames");
  EXPECT_EQ(box->m_bar.m_maximum, 7u);
  EXPECT_EQ(MediaOpenProgress(3, 7, 0, screen_), 1);
  EXPECT_STREQ(box->m_bar.m_text, L"pass 3/7");
  EXPECT_EQ(box->m_bar.m_current, 3);
  EXPECT_EQ(MediaOpenProgress(9, 7, 0, screen_), 1);  // beyond the maximum: bar stays
  EXPECT_EQ(box->m_bar.m_current, 3);
  box->m_abort = 1;
  EXPECT_EQ(MediaOpenProgress(4, 7, 0, screen_), 0);
  EXPECT_EQ(MediaOpenProgress(0, 0, 5, screen_), 1);  // unknown phase: nothing
  EXPECT_EQ(MediaOpenProgress(7, 7, 2, screen_), 1);
  EXPECT_EQ(box->GetWindow(), nullptr);
}

TEST_F(Opening, TheViewKeepsItsTextureWhileSizeAndFormatStay) {
  WriteNumberedAvi(File("n.avi"), 3, 64, 48);
  ASSERT_TRUE(Run("convert -size 20x10 xc:gray '" + File("other.png") + "'"));
  Open();
  screen_->OpenImage(WFile("n.avi").c_str());
  CFgTexture& t = screen_->m_view.m_texture;
  ASSERT_EQ(t.m_hasGlName, 1);
  const uint32_t name = t.m_glName;
  const uint8_t* store = t.m_store;
  ASSERT_EQ(screen_->SeekScene(2), 1);
  EXPECT_EQ(t.m_glName, name);
  EXPECT_EQ(t.m_store, store);
  EXPECT_EQ(ViewPixel(40, 30), (std::vector<int>{2, 2, 2}));
  // Another size: the view follows.
  screen_->OpenImage(WFile("other.png").c_str());
  EXPECT_EQ(screen_->m_view.PictureWidth(), 20);
  EXPECT_EQ(screen_->m_view.PictureHeight(), 10);
  const std::vector<int> gray = ViewPixel(19, 9);
  EXPECT_EQ(gray[0], gray[1]);
  EXPECT_GT(gray[0], 100);
  EXPECT_EQ(ViewPixel(20, 9), ViewPixel(30, 30));  // beyond the picture: background
}

// Playing redraws the window once a scene, in either display path (the chain's worker
// uploads and redraws; "Original" does both on the UI thread): the thumb moves before the
// scene is shown, so the picture that redraw leaves is the one a second redraw would give.
TEST_F(Opening, PlayingRedrawsTheWindowOnceAScene) {
  WriteNumberedAvi(File("n.avi"), 12, 64, 48);
  Open();
  for (uint32_t mode : {2u, 0u}) {
    SCOPED_TRACE(mode);
    screen_->m_displayMode = mode;
    screen_->OpenImage(WFile("n.avi").c_str());
    ASSERT_EQ(screen_->m_videoPanel.m_count, 12u);
    // The opening's own redraws first: the chain's run, then the window's exposures, until
    // no redraw has come for a while.
    screen_->m_sidePanel.WaitIdle();
    auto redraws = [this] {
      std::lock_guard<std::mutex> hold(screen_->lock);
      return screen_->redraws;
    };
    for (uint64_t seen = ~uint64_t(0); seen != redraws();) {
      seen = redraws();
      toolkittest::PumpUntil([] { return false; }, 300);
    }
    screen_->m_videoPanel.m_interval = 1;
    const uint64_t before = redraws();
    screen_->m_videoPanel.Play(+1);
    std::vector<uint8_t> shown;
    {
      std::lock_guard<std::mutex> hold(screen_->lock);
      // Scenes 1 to 11 once each (a second redraw a scene would give 22); the X server may
      // still ask for one exposure of its own at any moment on a loaded machine.
      EXPECT_GE(screen_->redraws - before, 11u);
      EXPECT_LE(screen_->redraws - before, 12u);
      shown = screen_->pixels;
    }
    EXPECT_EQ(screen_->m_videoPanel.m_position, 11u);
    EXPECT_EQ(SourceByte(), 11);
    screen_->Redraw();
    std::lock_guard<std::mutex> hold(screen_->lock);
    EXPECT_TRUE(shown == screen_->pixels) << "the last scene's redraw differs from a fresh one";
  }
  EXPECT_TRUE(TakeMessages().empty());
}

// An AVI whose headers claim far more frames than it holds: playing stops at the first
// scene that cannot be read, with one message; the video stays open and the scenes that
// exist can still be stepped to.
TEST_F(Opening, PlayingStopsAtTheFirstSceneThatFailsToLoad) {
  WriteNumberedAvi(File("lying.avi"), 4, 64, 48);
  std::string bytes = qvtest::ReadWholeFile(File("lying.avi"));
  // Total frames of the main header and of the OpenDML header, and the stream's length.
  const struct {
    const char* id;
    size_t field;
  } counts[] = {{"avih", 16}, {"dmlh", 0}, {"strh", 32}};
  for (const auto& c : counts)
    for (size_t at = bytes.find(c.id); at != std::string::npos && at < 4096; at = bytes.find(c.id, at + 4))
      bytes.replace(at + 8 + c.field, 4, "\xFF\xFF\xFF\x7F", 4);
  qvtest::WriteWholeFile(File("lying.avi"), bytes);
  Open();
  screen_->OpenImage(WFile("lying.avi").c_str());
  ASSERT_NE(screen_->m_media, nullptr);
  ASSERT_GT(screen_->m_media->info.frameCount, 100u);
  ASSERT_EQ(screen_->m_videoPanel.m_count, 100u);
  EXPECT_EQ(TakeMessages().size(), 1u);  // the limit message
  screen_->m_videoPanel.m_interval = 1;
  screen_->m_videoPanel.Play(+1);
  const std::vector<mstest::Shown> shown = TakeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, L"loading failed");
  EXPECT_EQ(screen_->m_videoPanel.m_step, 0);
  EXPECT_EQ(screen_->m_videoPanel.m_position, 4u);
  EXPECT_NE(screen_->m_media, nullptr);
  EXPECT_EQ(screen_->m_view.m_texture.m_store, nullptr);
  EXPECT_EQ(screen_->m_videoPanel.StepBack(), 1);
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(SourceByte(), 3);
  EXPECT_EQ(ViewPixel(40, 30), (std::vector<int>{3, 3, 3}));
}

}  // namespace
