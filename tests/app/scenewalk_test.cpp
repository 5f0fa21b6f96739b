// scenewalk_test.cpp - the scene walk of the tools on the test host: scenes fetched as the
// filters before the tool left them, the run bracket undone on every way out, cancel, quit,
// refused positions and a tool that is switched off; and the scripted dialogs.
#include "app/scenewalk.h"

#include <gtest/gtest.h>

#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

// Adds 1 to every byte: the tool must see frames as the filters before it left them.
class PlusOne : public CImgFilter {
 public:
  void Process(CImgBuff* p, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    uint8_t* b = static_cast<uint8_t*>(p->Pixels());
    for (int i = 0; i < p->Width() * p->Height(); ++i) b[i] = uint8_t(b[i] + 1);
  }
};

class Tool : public CImgFilter {
 public:
  void Process(CImgBuff* p, uint64_t scene, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    scenes.push_back(scene);
    walk.Capture(p);
  }
  CSceneWalk walk;
  std::vector<uint64_t> scenes;
};

struct Video {
  CTestHost host;
  Tool* tool = new Tool;
  CFgUIButton button;
  Video(int frames = 3) {
    std::vector<CImgBuff> pics(static_cast<size_t>(frames));
    std::vector<const CImgBuff*> list;
    for (int i = 0; i < frames; ++i) {
      EXPECT_EQ(1, pics[size_t(i)].Allocate(2, 2, ImgFormatGray8));
      std::memset(pics[size_t(i)].Pixels(), 10 * (i + 1), 4);
      list.push_back(&pics[size_t(i)]);
    }
    EXPECT_EQ(1, host.SetVideo(list, 33333));
    host.AddFilter(new PlusOne, nullptr);
    host.AddFilter(tool, nullptr);
    host.SetLanguage(L"en");
    button.SetText(L"EXEC");
  }
};

TEST(SceneWalk, FetchesEachSceneAsTheFiltersBeforeTheToolLeftIt) {
  Video v;
  v.host.SetPlayRange(100, 2);
  {
    CSceneWalkRun run(&v.tool->walk, v.tool, &v.button);
    ASSERT_EQ(1, run.Started());
    EXPECT_EQ(1, v.tool->walk.Busy());
    EXPECT_EQ(std::wstring(L"CANCEL"), v.button.m_text);
    EXPECT_EQ(0, CSceneWalk().Begin(nullptr, nullptr));
    EXPECT_EQ(0, v.tool->walk.Begin(v.tool, nullptr));  // already busy
    CImgBuff frame;
    for (uint64_t i = 0; i < 3; ++i) {
      ASSERT_EQ(SceneFetched, v.tool->walk.FetchScene(i, &frame));
      EXPECT_EQ(10 * (i + 1) + 1, static_cast<uint8_t*>(frame.Pixels())[3]);
      EXPECT_EQ(i, v.host.GetCurrentScene());
    }
    EXPECT_EQ(SceneRefused, v.tool->walk.FetchScene(3, &frame));
    EXPECT_EQ((std::vector<uint64_t>{100, 102, 104}), v.tool->scenes);
  }
  EXPECT_EQ(0, v.tool->walk.Busy());
  EXPECT_EQ(std::wstring(L"EXEC"), v.button.m_text);
  ASSERT_EQ(2u, v.host.m_enableOnlyCalls.size());
  EXPECT_EQ(1u, v.host.m_enableOnlyCalls[0].first);
  EXPECT_EQ(v.tool, v.host.m_enableOnlyCalls[0].second);
  EXPECT_EQ(0u, v.host.m_enableOnlyCalls[1].first);
  // Outside a run nothing is fetched.
  EXPECT_EQ(SceneRefused, v.tool->walk.FetchScene(0, nullptr));
}

TEST(SceneWalk, CancelQuitAndAToolSwitchedOffEndTheWalkAndUndoTheBracket) {
  Video v;
  v.host.SetLanguage(L"jp");
  auto walkUntilStopped = [&]() -> int {
    CSceneWalkRun run(&v.tool->walk, v.tool, &v.button);
    EXPECT_EQ(std::wstring(L"\x4E2D\x6B62"), v.button.m_text);
    for (uint64_t i = 0; i < 3; ++i) {
      int32_t r = v.tool->walk.FetchScene(i, nullptr);
      if (r != SceneFetched) return int(i) * 10 + (r == SceneStopped ? 1 : 2);
      if (i == 1) v.tool->walk.Cancel();  // the second press, as a pumped message would
    }
    return -1;
  };
  EXPECT_EQ(21, walkUntilStopped());  // the fetch after the press reports it
  EXPECT_EQ(0, v.tool->walk.Busy());
  EXPECT_EQ(0, v.tool->walk.Cancelled());
  EXPECT_EQ(std::wstring(L"EXEC"), v.button.m_text);

  QuitRequested = 1;
  EXPECT_EQ(1, walkUntilStopped());
  QuitRequested = 0;

  v.tool->m_filterEnabled = 0;  // switched off in the chain: its Process gets no frames
  EXPECT_EQ(2, walkUntilStopped());
  EXPECT_EQ(6u, v.host.m_enableOnlyCalls.size());
  EXPECT_EQ(0u, v.host.m_enableOnlyCalls.back().first);
}

TEST(TestHost, AnswersLikeThePanel) {
  CTestHost host;
  CImgBuff still;
  apptest::MakePicture(still, 5, 4, ImgFormatRgb24);
  host.SetStill(still);
  EXPECT_EQ(5u, host.m_width);
  EXPECT_EQ(1u, host.m_sceneCount);
  EXPECT_EQ(0u, host.GetSourceFrameTime());
  EXPECT_EQ(1, host.SeekFrame(0));  // a still runs its chain at position 0
  EXPECT_EQ(0, host.SeekFrame(1));
  CImgBuff out;
  EXPECT_EQ(1, host.GetOutputImage(&out));
  EXPECT_TRUE(apptest::SamePixels(still, out));
  uint64_t shown = host.m_processedCount.load();
  host.RequestProcess(0);  // the worker's OnProcessed and one more on this thread
  EXPECT_EQ(shown + 2, host.m_processedCount.load());

  Video v(2);
  EXPECT_EQ(33u, v.host.GetSourceFrameTime());
  EXPECT_EQ(33333u, v.host.GetSourceFrameIntervalUs());
  v.host.m_intervalUs = 999;
  EXPECT_EQ(0u, v.host.GetSourceFrameTime());
  EXPECT_EQ(0, v.host.SeekFrame(2));
  EXPECT_EQ(0, v.host.SeekFrame(uint64_t(-1)));

  v.host.m_encode = {90, 1, 0, 80, 2000000, 30};
  MediaWriteOptions o{};
  v.host.GetEncodeSettings(&o);
  EXPECT_EQ(0u, o.h264QualityPct);
  EXPECT_EQ(0u, o.h264KeyInterval);
  EXPECT_EQ(2000000u, o.h264BitRate);
  v.host.m_encodeQualityMode = 1;
  v.host.m_encodeKeySwitch = 1;
  v.host.GetEncodeSettings(&o);
  EXPECT_EQ(80u, o.h264QualityPct);
  EXPECT_EQ(30u, o.h264KeyInterval);

  v.host.ApplyCalibration(0.1, -1, L"mm");
  EXPECT_EQ(std::wstring(L"mm"), v.tool->m_unit);
  EXPECT_EQ(-1, v.tool->m_axisY);

  v.host.OpenAsNewImage(&still);
  EXPECT_EQ(1u, v.host.m_newImageCount);
  EXPECT_EQ(0u, v.host.m_isVideo);
  EXPECT_EQ(4u, v.host.m_height);
}

TEST(ScriptedDialogs, RecordQuestionsAndAnswerFromTheScript) {
  wchar_t path[16];
  {
    CScriptedDialogs script;
    script.m_answers = {1};
    script.m_paths = {L"/tmp/a.png", std::wstring(40, L'x')};
    EXPECT_EQ(1, FgMessageBox(L"Do you want to overwrite it?", L"save", 0, nullptr));
    EXPECT_EQ(0, FgMessageBox(L"second", nullptr, 1, nullptr));  // script ran out
    FileSelectOptions opt;
    opt.title = L"Open";
    opt.extensions = L"png bmp";
    EXPECT_EQ(1, FgSelectFile(path, 16, &opt, nullptr));
    EXPECT_EQ(std::wstring(L"/tmp/a.png"), path);
    EXPECT_EQ(0, FgSelectFile(path, 16, &opt, nullptr));  // never a cut path
    EXPECT_EQ(0, FgSelectFile(path, 16, nullptr, nullptr));  // cancelled
    EXPECT_EQ(0, FgSelectFile(nullptr, 16, nullptr, nullptr));
    ASSERT_EQ(2u, script.m_shown.size());
    EXPECT_EQ(std::wstring(L"save"), script.m_shown[0].caption);
    EXPECT_EQ(1, script.m_shown[1].kind);
    ASSERT_EQ(3u, script.m_asked.size());
    EXPECT_EQ(std::wstring(L"png bmp"), script.m_asked[0].extensions);
  }
}

}  // namespace
