// track2d_run_test.cpp - the 2D tracking tool's runs on the scripted host: the scene range
// from the scene shown, STEP's next target and scene, automatic runs of colour targets over
// a moving red disc against its known path, the manual wait answered by clicks on SKIP,
// NO DATA, LOST and CANCEL posted while it waits, a quit, and the mouse that draws boxes.
#include "measure/track2d.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/imgbuff.h"
#include "platform/window.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"
#include "toolkit/screen.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

ColourWindow RedWindow()
{
  ColourWindow w;
  w.hue = 0;
  w.halfWidth = 2000;
  w.satLow = 30000;
  w.valLow = 30000;
  return w;
}

// A gray picture with a hard-edged red disc of radius 8 (none for a negative radius).
std::unique_ptr<CImgBuff> DiscFrame(int32_t w, int32_t h, double cx, double cy, double radius = 8.0)
{
  auto pic = std::make_unique<CImgBuff>();
  EXPECT_EQ(1, pic->Allocate(w, h, ImgFormatRgb24));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double dx = x - cx, dy = y - cy;
      if (radius > 0 && dx * dx + dy * dy <= radius * radius) pic->SetRGB8(x, y, 255, 0, 0);
      else pic->SetRGB8(x, y, 128, 128, 128);
    }
  return pic;
}

// The true centre of the disc: the pixel-set centroid, as the tracker should find it.
void Centroid(double cx, double cy, double* ox, double* oy)
{
  double sx = 0, sy = 0, n = 0;
  for (int y = int(cy) - 10; y <= int(cy) + 10; ++y)
    for (int x = int(cx) - 10; x <= int(cx) + 10; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 64.0) {
        sx += x;
        sy += y;
        n += 1;
      }
  *ox = sx / n;
  *oy = sy / n;
}

struct Rig {
  CTestHost host;
  CLfTrack2d* f = new CLfTrack2d;
  std::vector<std::unique_ptr<CImgBuff>> frames;
  CScriptedDialogs dialogs;

  Rig()
  {
    (void)g_headless;
    QuitRequested = 0;
    host.SetLanguage(L"en");
    host.AddFilter(f, nullptr);
    // Runs start from the track page (the regist page would give targets the panel's colour).
    f->m_tab.SelectPage(CLfTrack2d::kPageTrack, 0);
    f->m_tab.m_callback(&f->m_tab, f->m_tab.m_user, CLfTrack2d::kPageTrack, 0);
  }
  ~Rig() { QuitRequested = 0; }

  void Video(int32_t w, int32_t h, int32_t n, double (*px)(int), double (*py)(int), int32_t vanish = -1)
  {
    std::vector<const CImgBuff*> list;
    for (int32_t i = 0; i < n; ++i) {
      frames.push_back(DiscFrame(w, h, px(i), py(i), i == vanish ? -1.0 : 8.0));
      list.push_back(frames.back().get());
    }
    ASSERT_EQ(1, host.SetVideo(list, 40000));
  }

  int32_t AddColourTarget(int32_t cx, int32_t cy, int32_t size = 41)
  {
    auto* t = new CTrackHSV;
    t->SetWindow(RedWindow());
    t->w = t->h = size;
    t->x = cx - size / 2;
    t->y = cy - size / 2;
    const int32_t index = f->AddTrack(t);
    EXPECT_GE(index, 0);
    return index;
  }

  void Click(const CFgUIButton& b)
  {
    for (int kind : {int(PlatMsgLButtonDown), int(PlatMsgLButtonUp)}) {
      PlatMsg m;
      m.kind = kind;
      m.window = f->GetWindow();
      m.x = b.m_x + b.m_width / 2;
      m.y = b.m_y + b.m_height / 2;
      PlatPostMessage(m);
    }
  }

  P2dPoint Point(int32_t id, int64_t scene)
  {
    P2dPoint p = P2dNoPoint;
    f->table.GetPoint(id, scene, &p);
    return p;
  }
};

double StillX(int) { return 30.0; }
double StillY(int) { return 20.0; }

TEST(Track2dRun, SceneRangeFollowsTheSceneShownAndTheDirection)
{
  Rig rig;
  rig.Video(64, 48, 100, StillX, StillY);
  rig.AddColourTarget(30, 20, 21);
  ASSERT_EQ(1, rig.host.SeekFrame(40));
  int32_t first = -1, last = -1;
  ASSERT_EQ(1, rig.f->GetSceneRange(&first, &last));
  EXPECT_EQ(40, first);
  EXPECT_EQ(99, last);
  rig.f->m_step = -1;
  ASSERT_EQ(1, rig.f->GetSceneRange(&first, &last));
  EXPECT_EQ(0, first);
  EXPECT_EQ(40, last);
  EXPECT_EQ(0, rig.f->GoToScene(100));
  EXPECT_EQ(0, rig.f->GoToScene(-1));

  // A forward run from scene 40 covers 40 to 99 and nothing before.
  rig.f->m_step = 1;
  rig.f->ExecuteAuto();
  EXPECT_FALSE(P2dPointCounts(rig.Point(0, 39)));
  for (int64_t s = 40; s < 100; ++s) ASSERT_TRUE(P2dPointCounts(rig.Point(0, s))) << s;
  EXPECT_STREQ(L"EXEC", rig.f->m_autoButton.m_text);
  EXPECT_EQ(0u, rig.f->m_running);
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  // The main screen was locked for the run and unlocked after it.
  ASSERT_GE(rig.host.m_enableOnlyCalls.size(), 2u);
  EXPECT_EQ(1u, rig.host.m_enableOnlyCalls.front().first);
  EXPECT_EQ(0u, rig.host.m_enableOnlyCalls.back().first);

  // Backward from 40 down to 0.
  rig.f->m_step = -1;
  rig.f->ExecuteAuto();
  for (int64_t s = 0; s <= 40; ++s) ASSERT_TRUE(P2dPointCounts(rig.Point(0, s))) << s;
}

TEST(Track2dRun, NoScenesNoRun)
{
  Rig rig;
  int32_t first = 0, last = 0;
  EXPECT_EQ(0, rig.f->GetSceneRange(&first, &last));
  rig.f->ExecuteAuto();  // nothing to walk; the button still reads EXEC after it
  EXPECT_STREQ(L"EXEC", rig.f->m_autoButton.m_text);
}

// A curved path at up to 6 px per scene.
double PathX(int i) { return 160.0 + 100.0 * std::sin(i * 0.06) + 0.37; }
double PathY(int i) { return 120.0 + 80.0 * std::sin(i * 0.045 + 0.3) - 0.21; }

TEST(Track2dRun, AutomaticRunFollowsTheDiscWithinHalfAPixel)
{
  for (int dir : {1, -1}) {
    Rig rig;
    rig.Video(320, 240, 60, PathX, PathY);
    const int start = dir > 0 ? 0 : 59;
    ASSERT_EQ(1, rig.host.SeekFrame(uint64_t(start)));
    rig.AddColourTarget(int32_t(PathX(start)), int32_t(PathY(start)));
    rig.f->m_step = dir;
    rig.f->m_predict = 1;
    rig.f->ExecuteAuto();
    for (int s = 0; s < 60; ++s) {
      double tx, ty;
      Centroid(PathX(s), PathY(s), &tx, &ty);
      const P2dPoint p = rig.Point(0, s);
      ASSERT_TRUE(P2dPointCounts(p)) << dir << " " << s;
      EXPECT_NEAR(PathX(s), p.x, 0.5) << dir << " " << s;
      EXPECT_NEAR(PathY(s), p.y, 0.5) << dir << " " << s;
      EXPECT_NEAR(tx, p.x, 1e-9);
      EXPECT_NEAR(ty, p.y, 1e-9);
    }
    EXPECT_TRUE(rig.dialogs.m_shown.empty());
  }
}

TEST(Track2dRun, StepNextTargetAndScene)
{
  Rig rig;
  rig.Video(64, 48, 10, StillX, StillY);
  for (int i = 0; i < 3; ++i) rig.AddColourTarget(30, 20, 21);
  // By scene: target 2 at scene 5 -> target 0, scene 6.
  ASSERT_EQ(1, rig.host.SeekFrame(5));
  rig.f->m_selected = 2;
  rig.f->m_order = 0;
  rig.f->Step();
  EXPECT_TRUE(P2dPointCounts(rig.Point(2, 5)));
  EXPECT_EQ(0, rig.f->m_selected);
  EXPECT_EQ(6u, rig.host.GetCurrentScene());
  // At the last scene: the message, the selection stays.
  ASSERT_EQ(1, rig.host.SeekFrame(9));
  rig.f->m_selected = 2;
  rig.f->Step();
  ASSERT_EQ(1u, rig.dialogs.m_shown.size());
  EXPECT_EQ(L"end of scene", rig.dialogs.m_shown[0].text);
  EXPECT_EQ(L"confirmation", rig.dialogs.m_shown[0].caption);
  EXPECT_EQ(2, rig.f->m_selected);
  EXPECT_EQ(9u, rig.host.GetCurrentScene());
  // By ID at the last scene: target 1 of 3 -> target 2, scene 0.
  rig.f->m_order = 1;
  rig.f->m_selected = 1;
  rig.f->Step();
  EXPECT_EQ(2, rig.f->m_selected);
  EXPECT_EQ(0u, rig.host.GetCurrentScene());
  // Only ID: same target, next scene.
  rig.f->m_order = 2;
  rig.f->Step();
  EXPECT_EQ(2, rig.f->m_selected);
  EXPECT_EQ(1u, rig.host.GetCurrentScene());
  // No selection: nothing.
  rig.f->m_selected = -1;
  rig.f->Step();
  EXPECT_EQ(1u, rig.host.GetCurrentScene());
}

TEST(Track2dRun, OnlyIdWithoutSelectionTracksEveryTarget)
{
  Rig rig;
  rig.Video(64, 48, 5, StillX, StillY);
  rig.AddColourTarget(30, 20, 21);
  rig.AddColourTarget(30, 20, 21);
  rig.f->m_order = 2;
  rig.f->m_selected = -1;
  rig.f->ExecuteAuto();
  for (int32_t id = 0; id < 2; ++id)
    for (int64_t s = 0; s < 5; ++s) EXPECT_TRUE(P2dPointCounts(rig.Point(id, s))) << id << " " << s;
  EXPECT_EQ(1, rig.f->m_selected);  // the last target worked on
}

// The run waits at the scene where the disc vanishes; the answer is posted by clicking a
// button of the window once the wait has begun.
struct WaitCase {
  const char* answer;
  bool stored;      // a point stored at the vanishing scene
  double storedX;   // its x when stored
  bool laterScenes; // the target goes on after it
};

TEST(Track2dRun, ManualWaitAnswers)
{
  const WaitCase cases[] = {
      {"skip", false, 0, true},
      {"nodata", true, -1, true},
      {"lost", false, 0, false},
      {"cancel", false, 0, false},
  };
  for (const WaitCase& c : cases) {
    Rig rig;
    rig.Video(64, 48, 6, StillX, StillY, 3);
    rig.AddColourTarget(30, 20, 21);
    std::atomic<int> waits{0};
    std::string answer = c.answer;
    rig.host.m_onProcessedHook = [&] {
      if (!rig.f->m_waiting || waits.load() != 0) return;
      ++waits;
      if (answer == "skip") rig.Click(rig.f->m_skipButton);
      else if (answer == "nodata") rig.Click(rig.f->m_noDataButton);
      else if (answer == "lost") rig.Click(rig.f->m_lostButton);
      else rig.Click(rig.f->m_autoButton);  // the run's button: cancel
    };
    rig.f->ExecuteAuto();
    rig.host.m_onProcessedHook = nullptr;
    SCOPED_TRACE(c.answer);
    EXPECT_GE(waits.load(), 1);
    EXPECT_TRUE(P2dPointCounts(rig.Point(0, 2)));
    const P2dPoint p = rig.Point(0, 3);
    if (c.stored) {
      EXPECT_EQ(c.storedX, p.x);
      EXPECT_FALSE(P2dPointCounts(p));
    } else if (std::string(c.answer) != "lost") {
      EXPECT_EQ(P2dNoPoint.x, p.x);
    }
    EXPECT_EQ(1, waits.load());
    for (int64_t s = 4; s < 6; ++s) EXPECT_EQ(c.laterScenes, P2dPointCounts(rig.Point(0, s))) << s;
    EXPECT_EQ(0u, rig.f->m_waiting);
    EXPECT_EQ(0u, rig.f->m_running);
    if (std::string(c.answer) == "cancel") {
      ASSERT_EQ(1u, rig.dialogs.m_shown.size());
      EXPECT_EQ(L"canceled", rig.dialogs.m_shown[0].text);
      EXPECT_FALSE(P2dPointCounts(rig.Point(0, 4)));
    } else {
      EXPECT_TRUE(rig.dialogs.m_shown.empty());
    }
    EXPECT_EQ(0u, rig.host.m_imageInput);
  }
}

TEST(Track2dRun, QuitDuringTheWaitEndsTheRunWithoutStoring)
{
  Rig rig;
  rig.Video(64, 48, 6, StillX, StillY, 3);
  rig.AddColourTarget(30, 20, 21);
  std::atomic<int> waits{0};
  rig.host.m_onProcessedHook = [&] {
    if (rig.f->m_waiting && waits.exchange(1) == 0) PlatPostQuit();
  };
  rig.f->ExecuteAuto();
  rig.host.m_onProcessedHook = nullptr;
  EXPECT_EQ(1, QuitRequested);
  EXPECT_EQ(1, waits.load());
  for (int64_t s = 3; s < 6; ++s) EXPECT_EQ(P2dNoPoint.x, rig.Point(0, s).x) << s;
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  EXPECT_EQ(0u, rig.f->m_running);
}

TEST(Track2dRun, StepWaitLocksTheScreenAndClosingTheWindowEndsIt)
{
  Rig rig;
  rig.Video(64, 48, 6, StillX, StillY, 3);
  rig.AddColourTarget(30, 20, 21);
  ASSERT_EQ(1, rig.host.SeekFrame(3));
  rig.f->m_selected = 0;
  std::atomic<int> waits{0};
  rig.host.m_onProcessedHook = [&] {
    if (!rig.f->m_waiting || waits.exchange(1) != 0) return;
    PlatMsg m;
    m.kind = PlatMsgClose;
    m.window = rig.f->GetWindow();
    PlatPostMessage(m);
  };
  rig.host.m_enableOnlyCalls.clear();
  rig.f->Step();
  rig.host.m_onProcessedHook = nullptr;
  EXPECT_EQ(1, waits.load());
  EXPECT_EQ(0u, rig.f->m_waiting);
  EXPECT_EQ(P2dNoPoint.x, rig.Point(0, 3).x);
  EXPECT_EQ(0u, rig.f->m_dialogVisible);
  ASSERT_EQ(2u, rig.host.m_enableOnlyCalls.size());
  EXPECT_EQ(1u, rig.host.m_enableOnlyCalls[0].first);
  EXPECT_EQ(0u, rig.host.m_enableOnlyCalls[1].first);
}

TEST(Track2dRun, StillImageRunLocatesWithoutAsking)
{
  Rig rig;
  auto still = DiscFrame(64, 48, 30.3, 20.6);
  rig.host.SetStill(*still);
  rig.AddColourTarget(30, 20, 21);
  rig.f->ExecuteAuto();
  double tx, ty;
  Centroid(30.3, 20.6, &tx, &ty);
  const P2dPoint p = rig.Point(0, 0);
  EXPECT_NEAR(tx, p.x, 1e-9);
  EXPECT_NEAR(ty, p.y, 1e-9);
}

// ---- mouse -----------------------------------------------------------------------------

TEST(Track2dMouse, DrawAndRightPressBoxes)
{
  Rig rig;
  rig.Video(200, 200, 3, StillX, StillY);
  rig.f->m_tab.SelectPage(CLfTrack2d::kPageRegist, 0);
  rig.f->m_tab.m_callback(&rig.f->m_tab, rig.f->m_tab.m_user, CLfTrack2d::kPageRegist, 0);
  rig.f->OnLButtonDown(10, 10, 0);
  rig.f->OnMouseMove(4, 30, 0);
  rig.f->OnLButtonUp(4, 30, 0);
  ASSERT_EQ(1, rig.f->trackCount);
  CTrack* t = rig.f->tracks[0];
  EXPECT_EQ(4, t->x);
  EXPECT_EQ(10, t->y);
  EXPECT_EQ(7, t->w);
  EXPECT_EQ(21, t->h);
  ASSERT_EQ(2, rig.f->m_idList.m_count);
  EXPECT_STREQ(L"1", rig.f->m_idList.m_items[1].text);
  rig.f->OnRButtonDown(100, 100, 0);
  rig.f->OnLButtonUp(100, 100, 0);
  ASSERT_EQ(2, rig.f->trackCount);
  t = rig.f->tracks[1];
  EXPECT_EQ(97, t->x);
  EXPECT_EQ(90, t->y);
  EXPECT_EQ(7, t->w);
  EXPECT_EQ(21, t->h);
  EXPECT_EQ(1, rig.f->m_selected);
  // Moving the first box so its corner lands at (40, 50) stores its centre (43, 60).
  rig.f->OnLButtonDown(5, 11, 0);
  EXPECT_EQ(0, rig.f->m_selected);
  rig.f->OnMouseMove(5 + 36, 11 + 40, 0);
  rig.f->OnLButtonUp(5 + 36, 11 + 40, 0);
  const P2dPoint p = rig.Point(0, 0);
  EXPECT_EQ(43.0, p.x);
  EXPECT_EQ(60.0, p.y);
}

TEST(Track2dMouse, TrackPageSelectsOnlyBoxesWithAPoint)
{
  Rig rig;
  rig.Video(64, 48, 3, StillX, StillY);
  rig.AddColourTarget(30, 20, 21);
  rig.f->m_selected = -1;
  rig.f->OnLButtonDown(30, 20, 0);
  EXPECT_EQ(-1, rig.f->m_selected);
  rig.f->table.SetPoint(0, 0, {30.0, 20.0});
  rig.f->OnLButtonDown(30, 20, 0);
  EXPECT_EQ(0, rig.f->m_selected);
}

// ---- ID editing and files ----------------------------------------------------------------

struct EditRig : Rig {
  EditRig()
  {
    Video(64, 48, 10, StillX, StillY);
    for (int i = 0; i < 3; ++i) {
      AddColourTarget(30, 20, 21);
      f->AppendIdItem(i);
    }
    f->m_tab.SelectPage(CLfTrack2d::kPageEdit, 0);
    f->m_tab.m_callback(&f->m_tab, f->m_tab.m_user, CLfTrack2d::kPageEdit, 0);
  }
  void Set(CFgUIEdit& e, const wchar_t* t) { e.SetLine(0, t); }
};

TEST(Track2dEdit, FieldsCheckedBeforeAnythingChanges)
{
  EditRig rig;
  for (int64_t s = 0; s < 10; ++s) rig.f->table.SetPoint(0, s, {10.0, 10.0});
  struct Case {
    const wchar_t *id, *first, *last;
    bool message;
  } cases[] = {{L"0", L"1", L"2", true}, {L"4", L"1", L"2", true}, {L"1", L"8", L"5", true},
               {L"1", L"1", L"11", true}, {L"1", L"0", L"3", false}};
  for (const Case& c : cases) {
    rig.dialogs.m_shown.clear();
    rig.Set(rig.f->m_eraseIdEdit, c.id);
    rig.Set(rig.f->m_eraseFromEdit, c.first);
    rig.Set(rig.f->m_eraseToEdit, c.last);
    rig.f->EraseData();
    ASSERT_EQ(c.message ? 1u : 0u, rig.dialogs.m_shown.size()) << c.id << c.first << c.last;
    if (c.message) {
      EXPECT_EQ(L"The input content is incorrect", rig.dialogs.m_shown[0].text);
    }
    for (int64_t s = 0; s < 10; ++s) EXPECT_TRUE(P2dPointCounts(rig.Point(0, s)));
  }
  // A good range erases scenes 2 to 4 (numbered from 1).
  rig.Set(rig.f->m_eraseFromEdit, L"2");
  rig.Set(rig.f->m_eraseToEdit, L"4");
  rig.f->EraseData();
  EXPECT_TRUE(P2dPointCounts(rig.Point(0, 0)));
  for (int64_t s = 1; s <= 3; ++s) EXPECT_FALSE(P2dPointCounts(rig.Point(0, s)));
  EXPECT_TRUE(P2dPointCounts(rig.Point(0, 4)));
}

TEST(Track2dEdit, ConcatSplitAndDelete)
{
  EditRig rig;
  rig.f->table.SetPoint(0, 0, {10.0, 10.0});
  rig.f->table.SetPoint(2, 5, {12.0, 11.0});
  rig.Set(rig.f->m_concatId1Edit, L"3");
  rig.Set(rig.f->m_concatId2Edit, L"3");
  rig.f->ConcatIds();
  EXPECT_EQ(3, rig.f->trackCount);
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  rig.Set(rig.f->m_concatId1Edit, L"1");
  rig.f->ConcatIds();
  ASSERT_EQ(2, rig.f->trackCount);
  ASSERT_EQ(3, rig.f->m_idList.m_count);
  EXPECT_STREQ(L"2", rig.f->m_idList.m_items[2].text);
  EXPECT_EQ(12.0, rig.Point(0, 5).x);
  // Split ID 1 at scene 6 (from 1): its point of scene 5 (from 0) moves to a new ID 3.
  rig.Set(rig.f->m_splitIdEdit, L"1");
  rig.Set(rig.f->m_splitSceneEdit, L"6");
  rig.f->SplitId();
  ASSERT_EQ(3, rig.f->trackCount);
  EXPECT_STREQ(L"3", rig.f->m_idList.m_items[3].text);
  EXPECT_EQ(12.0, rig.Point(2, 5).x);
  EXPECT_FALSE(P2dPointCounts(rig.Point(0, 5)));
  // After the ID's last point: nothing added.
  rig.Set(rig.f->m_splitSceneEdit, L"9");
  rig.f->SplitId();
  EXPECT_EQ(3, rig.f->trackCount);
  // DEL ID of the last target selects the new last.
  rig.f->m_selected = 2;
  rig.f->DeleteId();
  EXPECT_EQ(2, rig.f->trackCount);
  EXPECT_EQ(1, rig.f->m_selected);
  EXPECT_EQ(3, rig.f->m_idList.m_count);
}

TEST(Track2dEdit, NearestIdFillsTheFields)
{
  EditRig rig;
  rig.f->table.SetPoint(1, 0, {10.0, 10.0});
  rig.f->table.SetPoint(2, 0, {20.0, 10.0});
  rig.f->table.SetPoint(1, 6, {10.0, 10.0});
  int32_t first, last;
  EXPECT_EQ(1, rig.f->FindNearestId(15, 10, &first, &last));  // a tie: the lower ID
  EXPECT_EQ(1, first);
  EXPECT_EQ(7, last);
  rig.f->OnLButtonDown(15, 10, 0);
  EXPECT_STREQ(L"2", rig.f->m_eraseIdEdit.GetText());
  EXPECT_STREQ(L"1", rig.f->m_eraseFromEdit.GetText());
  EXPECT_STREQ(L"7", rig.f->m_eraseToEdit.GetText());
  EXPECT_STREQ(L"1", rig.f->m_splitSceneEdit.GetText());
  rig.f->OnLButtonDown(19, 10, 16);  // Shift: only id2
  EXPECT_STREQ(L"3", rig.f->m_concatId2Edit.GetText());
  EXPECT_STREQ(L"2", rig.f->m_concatId1Edit.GetText());
  EXPECT_STREQ(L"2", rig.f->m_eraseIdEdit.GetText());
}

TEST(Track2dFiles, SaveLoadAndRefusedFiles)
{
  qvtest::TempFolder dir("track2d");
  const std::string path = dir.File("t.p2d");
  {
    Rig empty;  // no targets: nothing to save
    EXPECT_EQ(0, empty.f->SaveP2dPath(path.c_str()));
    ASSERT_EQ(1u, empty.dialogs.m_shown.size());
    EXPECT_EQ(L"saving failed (write)", empty.dialogs.m_shown[0].text);
    EXPECT_NE(0, access(path.c_str(), F_OK));
  }
  EditRig rig;
  rig.f->table.SetPoint(1, 2, {30.0, 20.0});
  EXPECT_EQ(1, rig.f->SaveP2dPath(path.c_str()));
  EXPECT_EQ(L"saved", rig.dialogs.m_shown.back().text);
  // A version 2 file: refused, targets kept.
  {
    FILE* in = fopen(path.c_str(), "rb");
    std::vector<unsigned char> bytes(4096);
    bytes.resize(fread(bytes.data(), 1, bytes.size(), in));
    fclose(in);
    const std::string bad = dir.File("v2.p2d");
    // The version word follows the magic and the byte-order word.
    bytes[6] = 2;
    bytes[7] = 0;
    FILE* out = fopen(bad.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    EXPECT_EQ(0, rig.f->LoadP2dPath(bad.c_str()));
    EXPECT_EQ(L"unsupported version", rig.dialogs.m_shown.back().text);
    EXPECT_EQ(3, rig.f->trackCount);
    EXPECT_EQ(4, rig.f->m_idList.m_count);
  }
  EXPECT_EQ(1, rig.f->LoadP2dPath(path.c_str()));
  ASSERT_EQ(3, rig.f->trackCount);
  EXPECT_EQ(uint32_t(TrackKindBox), rig.f->tracks[1]->kind);
  EXPECT_EQ(30.0, rig.Point(1, 2).x);
  EXPECT_EQ(4, rig.f->m_idList.m_count);
  EXPECT_EQ(0, rig.f->m_selected);
}

// ---- overlay geometry and colour ---------------------------------------------------------

TEST(Track2dOverlay, BoxOutlinesTraceAndColour)
{
  EditRig rig;
  CLfTrack2d::OverlayView v{nullptr, nullptr, nullptr, 0, 0, 639, 479, 0, 0, 319, 239, 2};
  int32_t x0, y0, x1, y1;
  CLfTrack2d::BoxCorners(10, 10, 5, 5, 0, v, &x0, &y0, &x1, &y1);
  EXPECT_EQ(20, x0);
  EXPECT_EQ(20, y0);
  EXPECT_EQ(29, x1);
  EXPECT_EQ(29, y1);
  CLfTrack2d::BoxCorners(10, 10, 5, 5, 2, v, &x0, &y0, &x1, &y1);
  EXPECT_EQ(18, x0);
  EXPECT_EQ(31, y1);
  CLfTrack2d::BoxCorners(10, 10, 5, 5, 1, v, &x0, &y0, &x1, &y1);
  EXPECT_EQ(19, x0);
  EXPECT_EQ(30, y1);

  // Line length 3 at scene 9, step +1, no point in scene 7: only 9 -> 8 remains.
  for (int64_t s = 5; s <= 9; ++s)
    if (s != 7) rig.f->table.SetPoint(0, s, {double(s), 5.0});
  rig.f->m_lineBar.m_position = 3;
  rig.f->m_lineAll.m_checked = 0;
  int32_t cross, cx, cy, count, seg[64];
  rig.f->TraceSegments(0, 9, v, &cross, &cx, &cy, seg, &count, 16);
  ASSERT_EQ(1, cross);
  EXPECT_EQ(19, cx);  // 9 x 2 + 1: the centre of the magnified pixel
  EXPECT_EQ(11, cy);
  ASSERT_EQ(1, count);
  EXPECT_EQ(19, seg[0]);
  EXPECT_EQ(17, seg[2]);
  // Backward ("revers"): the later scenes, none after 9.
  rig.f->m_step = -1;
  rig.f->TraceSegments(0, 9, v, &cross, &cx, &cy, seg, &count, 16);
  EXPECT_EQ(0, count);
  rig.f->m_step = 1;
  // No point in the scene shown: no cross; with "all scene" the whole trace still.
  rig.f->m_lineAll.m_checked = 1;
  rig.f->TraceSegments(0, 7, v, &cross, &cx, &cy, seg, &count, 16);
  EXPECT_EQ(0, cross);
  EXPECT_EQ(2, count);  // 5-6 and 8-9

  rig.host.m_processedCount = 0;
  rig.f->OnOverlayColorChanged(1.0, 0.5, 0.0);
  EXPECT_EQ(255, rig.f->colourR);
  EXPECT_EQ(255, rig.f->colourG);
  EXPECT_EQ(0, rig.f->colourB);
  EXPECT_EQ(0, rig.f->m_panel.m_tint[2]);
  EXPECT_GE(rig.host.m_processedCount.load(), 1u);
  rig.host.m_processedCount = 0;
  rig.f->OnOverlayColorChanged(0.7, 0.1, 0.0);  // the same bytes: nothing more
  EXPECT_EQ(0u, rig.host.m_processedCount.load());
}

}  // namespace
