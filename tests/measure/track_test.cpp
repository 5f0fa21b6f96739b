// track_test.cpp - the 2D tracker against a scripted owner: scenes whose pictures hold one
// dot per target, a stop request that the owner raises at a chosen scene, scripted manual
// answers, and a target kind that finds its own dot in the crop of its box.
#include "measure/track.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/imgbuff.h"
#include "measure/track_alloc.h"

namespace {

constexpr int32_t kWidth = 96;
constexpr int32_t kHeight = 64;

// Finds the pixel of its own gray value (100 + marker) in the crop.
class DotTrack : public CTrack {
 public:
  int32_t marker = 0;
  int32_t locateCalls = 0;
  explicit DotTrack(int32_t m) : marker(m) { kind = 7; }
  int32_t Locate(CImgBuff* crop, double* x, double* y) override {
    ++locateCalls;
    for (int32_t cy = 0; cy < crop->Height(); ++cy)
      for (int32_t cx = 0; cx < crop->Width(); ++cx) {
        uint8_t v = 0;
        crop->GetGray8(cx, cy, &v);
        if (v == 100 + marker) {
          *x = cx + 0.25;  // a fraction shows that the crop offset is added as it stands
          *y = cy;
          return 1;
        }
      }
    return 0;
  }
  CTrack* Clone() const override { return new DotTrack(*this); }
};

struct Answer {
  bool given;
  int32_t x, y;
  bool skip;
};

class ScriptedOwner : public CTrackCtrl {
 public:
  int32_t first = 0, last = 19;
  bool rangeOk = true;
  int32_t refuseSceneFrom = 1 << 30;        // GoToScene refuses this scene and later ones
  int32_t scene = 0;                        // GetCurrentScene
  int32_t stopAfterScene = 1 << 30;         // Yield asks to stop once this scene was sought
  std::function<bool(int32_t marker, int32_t scene, int32_t* x, int32_t* y)> dot;  // dot of a scene
  std::map<std::pair<int32_t, int32_t>, Answer> answers;  // (target, scene) -> manual answer
  std::vector<std::string> log;
  int32_t redraws = 0;
  int32_t yields = 0;
  bool stop = false;
  bool noPicture = false;
  CImgBuff picture;

  int32_t GetSceneRange(int32_t* f, int32_t* l) override {
    *f = first;
    *l = last;
    return rangeOk;
  }
  int32_t GoToScene(int32_t s) override {
    log.push_back("go " + std::to_string(s));
    if (s >= refuseSceneFrom) return 0;
    picture.Allocate(kWidth, kHeight, ImgFormatGray8);
    for (int32_t m = 0; m < 4 && dot; ++m) {
      int32_t x, y;
      if (dot(m, s, &x, &y)) picture.SetGray8(x, y, uint8_t(100 + m));
    }
    if (s >= stopAfterScene) stop = true;
    return 1;
  }
  int32_t GetCurrentScene() override { return scene; }
  int32_t Yield() override {
    ++yields;
    return stop;
  }
  void Redraw() override { ++redraws; }
  CImgBuff* GetSceneImage() override { return noPicture ? nullptr : &picture; }
  int32_t WaitManualInput(int32_t target, int32_t s, int32_t* x, int32_t* y) override {
    log.push_back("wait " + std::to_string(target) + " " + std::to_string(s));
    auto it = answers.find({target, s});
    if (it == answers.end()) return 0;
    if (it->second.skip) skip = 1;
    *x = it->second.x;
    *y = it->second.y;
    return it->second.given;
  }

  DotTrack* Add(int32_t marker, int32_t x, int32_t y, int32_t w = 9, int32_t h = 9) {
    auto t = new DotTrack(marker);
    t->x = x;
    t->y = y;
    t->w = w;
    t->h = h;
    if (AddTrack(t) < 0) {
      delete t;
      return nullptr;
    }
    return t;
  }
  P2dPoint Point(int32_t id, int32_t s) {
    P2dPoint p = {-9.0, -9.0};
    table.GetPoint(id, s, &p);
    return p;
  }
  std::vector<std::string> Sought() const {
    std::vector<std::string> out;
    for (const std::string& e : log)
      if (e.rfind("go ", 0) == 0) out.push_back(e);
    return out;
  }
};

std::vector<std::string> Range(const char* prefix, int32_t from, int32_t to) {
  std::vector<std::string> out;
  for (int32_t s = from; s <= to; ++s) out.push_back(prefix + std::to_string(s));
  return out;
}

// ---- positions and box placement ----------------------------------------------------

TEST(TrackCtrl, GetPositionLooksBackAgainstTheStepThenAhead)
{
  ScriptedOwner o;
  ASSERT_NE(o.Add(0, 0, 0), nullptr);
  ASSERT_EQ(o.table.SetFrameCount(10), 1);
  struct Case {
    std::vector<int32_t> scenesWithPoints;  // point (s * 10 + 1, s) in each
    int32_t scene, step;
    int32_t result;
    double x;  // expected x (y = (x - 1) / 10)
  } cases[] = {
      {{7}, 3, 1, 1, 71.0},       // back 2, 1, 0, then ahead 4 .. 7
      {{7}, 3, -1, 1, 71.0},      // ahead first: 4 .. 7
      {{0, 4}, 3, 1, 1, 1.0},     // back first, even past a nearer point ahead
      {{0, 4}, 3, -1, 1, 41.0},   // with step -1 "back" means later scenes
      {{3, 4}, 3, 1, 1, 31.0},    // the scene's own point
      {{}, 3, 1, 0, 0.0},         // none: 0 and (0, 0)
      {{9}, 0, -1, 1, 91.0},
      {{0}, 9, 1, 1, 1.0},
  };
  for (const Case& c : cases) {
    o.ClearRange(0, 0, 9);
    for (int32_t s : c.scenesWithPoints) o.table.SetPoint(0, s, {s * 10 + 1.0, double(s)});
    double x = -5, y = -5;
    EXPECT_EQ(o.GetPosition(0, c.scene, c.step, &x, &y), c.result) << c.scene << " " << c.step;
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.result ? (c.x - 1) / 10 : 0.0);
  }
  // Refused outright, x and y untouched: outside the table, or a step that would loop.
  o.table.SetPoint(0, 2, {5.0, 5.0});
  const int32_t bad[][3] = {{1, 2, 1}, {-1, 2, 1}, {0, -1, 1}, {0, 10, 1}, {0, 3, 0}, {0, 3, 2}, {0, 3, -2}};
  for (auto& b : bad) {
    double x = -5, y = -5;
    EXPECT_EQ(o.GetPosition(b[0], b[1], b[2], &x, &y), 0);
    EXPECT_EQ(x, -5.0);
    EXPECT_EQ(y, -5.0);
  }
}

TEST(TrackCtrl, StepTrackCentresOnThePositionOrThePrediction)
{
  ScriptedOwner o;
  DotTrack* t = o.Add(0, 0, 0, 5, 5);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(o.table.SetFrameCount(10), 1);
  o.table.SetPoint(0, 3, {10.0, 10.0});
  o.table.SetPoint(0, 4, {14.0, 12.0});
  o.StepTrack(0, 5, 1, 1);  // 2 (14, 12) - (10, 10) = (18, 14)
  EXPECT_EQ(t->x, 16);
  EXPECT_EQ(t->y, 12);
  o.StepTrack(0, 5, 1, 0);  // no prediction: scene 4's point
  EXPECT_EQ(t->x, 12);
  EXPECT_EQ(t->y, 10);
  o.table.SetPoint(0, 3, P2dNoPoint);
  o.StepTrack(0, 5, 1, 1);  // one point only: no prediction
  EXPECT_EQ(t->x, 12);
  EXPECT_EQ(t->y, 10);

  // Backward: scenes 7 and 6 predict scene 5.
  o.ClearRange(0, 0, 9);
  o.table.SetPoint(0, 7, {30.0, 20.0});
  o.table.SetPoint(0, 6, {27.0, 21.0});
  o.StepTrack(0, 5, -1, 1);  // (24, 22)
  EXPECT_EQ(t->x, 22);
  EXPECT_EQ(t->y, 20);
  // Scene 8 backward would need scene 10, outside the table: the position only.
  o.table.SetPoint(0, 9, {50.0, 50.0});
  o.StepTrack(0, 8, -1, 1);
  EXPECT_EQ(t->x, 48);
  // Outside the table or not a target: the box stays.
  o.StepTrack(0, 10, 1, 1);
  o.StepTrack(1, 5, 1, 1);
  EXPECT_EQ(t->x, 48);
}

TEST(TrackCtrl, BoxesCentreByTruncationTowardZero)
{
  struct Case {
    int32_t w;
    double px;
    int32_t x;
  } cases[] = {{9, 20.7, 16}, {9, -0.5, -4}, {9, 4.0, 0}, {1, 3.9, 3}, {10, 4.0, -0}, {10, 3.0, -1}, {2, 0.2, 0}};
  for (const Case& c : cases) {
    CTrack t;
    t.w = c.w;
    t.h = c.w;
    t.CentreOn(c.px, c.px);
    EXPECT_EQ(t.x, c.x) << c.w << " " << c.px;
    EXPECT_EQ(t.y, c.x);
  }
}

// ---- target list --------------------------------------------------------------------

TEST(TrackCtrl, AddTrackRefusesBoxesThatCannotSeeThePicture)
{
  struct Case {
    int32_t x, y, w, h;
    bool accepted;
  } cases[] = {
      {-5, 3, 5, 5, false}, {-4, 3, 5, 5, true},  {3, -5, 5, 5, false}, {3, -4, 5, 5, true},
      {0, 0, 0, 5, false},  {0, 0, 5, 0, false},  {0, 0, -3, 5, false}, {INT32_MIN, 0, 5, 5, false},
      {0, 0, 1, 1, true},   {5000, 5000, 5, 5, true},
  };
  ScriptedOwner o;
  int32_t count = 0;
  for (const Case& c : cases) {
    DotTrack* t = o.Add(0, c.x, c.y, c.w, c.h);
    EXPECT_EQ(t != nullptr, c.accepted) << c.x << " " << c.y << " " << c.w << " " << c.h;
    if (t) {
      EXPECT_EQ(o.tracks[count], t);
      EXPECT_EQ(t->owner, &o);
      ++count;
    }
    EXPECT_EQ(o.trackCount, count);
    EXPECT_EQ(o.table.header.ids, uint32_t(count));
  }
  EXPECT_EQ(o.AddTrack(nullptr), -1);
}

TEST(TrackCtrl, NewTargetsGetARowForTheCurrentScene)
{
  ScriptedOwner o;
  EXPECT_EQ(o.table.header.scenes, 0u);
  ASSERT_NE(o.Add(0, 0, 0), nullptr);
  EXPECT_EQ(o.table.header.scenes, 1u);
  ASSERT_NE(o.table.points, nullptr);
  o.scene = 6;
  ASSERT_NE(o.Add(1, 0, 0), nullptr);
  EXPECT_EQ(o.table.header.scenes, 7u);
  EXPECT_EQ(o.table.header.ids, 2u);
  o.scene = 2;  // enough rows already
  ASSERT_NE(o.Add(2, 0, 0), nullptr);
  EXPECT_EQ(o.table.header.scenes, 7u);
}

TEST(TrackCtrl, RemovingATargetMovesTheLaterOnesAndTheirColumnsDown)
{
  ScriptedOwner o;
  o.table.SetFrameCount(3);
  DotTrack* t[3];
  for (int32_t i = 0; i < 3; ++i) {
    t[i] = o.Add(i, 0, 0);
    ASSERT_NE(t[i], nullptr);
    for (int32_t s = 0; s < 3; ++s) o.table.SetPoint(i, s, {100.0 * i + s, 1.0});
  }
  // The smaller table cannot be had: refused, target 1 still owns column 1.
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(o.RemoveTrack(1), 0);
  FailTrackAllocationForTesting(0);
  EXPECT_EQ(o.trackCount, 3);
  EXPECT_EQ(o.tracks[1], t[1]);
  EXPECT_EQ(o.Point(1, 2).x, 102.0);

  EXPECT_EQ(o.RemoveTrack(1), 1);
  EXPECT_EQ(o.trackCount, 2);
  EXPECT_EQ(o.table.header.ids, 2u);
  EXPECT_EQ(o.tracks[0], t[0]);
  EXPECT_EQ(o.tracks[1], t[2]);
  for (int32_t s = 0; s < 3; ++s) {
    EXPECT_EQ(o.Point(0, s).x, 0.0 + s);
    EXPECT_EQ(o.Point(1, s).x, 200.0 + s);
  }
  EXPECT_EQ(o.RemoveTrack(2), 0);
  EXPECT_EQ(o.RemoveTrack(-1), 0);
  EXPECT_EQ(o.RemoveTrack(0), 1);
  EXPECT_EQ(o.RemoveTrack(0), 1);
  EXPECT_EQ(o.trackCount, 0);
  EXPECT_EQ(o.tracks, nullptr);
  EXPECT_EQ(o.table.header.ids, 0u);
  EXPECT_EQ(o.table.points, nullptr);
}

TEST(TrackCtrl, AddTrackWithoutMemoryHandsTheTargetBack)
{
  ScriptedOwner o;
  DotTrack* spare = new DotTrack(1);
  FailTrackAllocationForTesting(1);  // the target list, made by the first target
  EXPECT_EQ(o.AddTrack(spare), -1);
  EXPECT_EQ(o.trackCount, 0);
  EXPECT_EQ(o.tracks, nullptr);
  ASSERT_NE(o.Add(0, 0, 0), nullptr);
  FailTrackAllocationForTesting(1);  // the table's new column (the list has room)
  EXPECT_EQ(o.AddTrack(spare), -1);
  FailTrackAllocationForTesting(0);
  EXPECT_EQ(o.trackCount, 1);
  EXPECT_EQ(o.table.header.ids, 1u);
  EXPECT_EQ(spare->owner, nullptr);
  // The list grows when it is full: that growth failing hands the target back as well.
  while (o.trackCount < o.trackCapacity) ASSERT_NE(o.Add(0, 0, 0), nullptr);
  const int32_t full = o.trackCount;
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(o.AddTrack(spare), -1);
  FailTrackAllocationForTesting(0);
  EXPECT_EQ(o.trackCount, full);
  EXPECT_EQ(o.table.header.ids, uint32_t(full));
  EXPECT_EQ(spare->owner, nullptr);
  EXPECT_EQ(o.AddTrack(spare), full);  // still whole: it can be added later
}

// ---- editing ------------------------------------------------------------------------

TEST(TrackCtrl, MergeTakesTheSecondTracksPointsWhereTheFirstHasNone)
{
  ScriptedOwner o;
  o.table.SetFrameCount(10);
  ASSERT_NE(o.Add(0, 0, 0), nullptr);
  ASSERT_NE(o.Add(1, 0, 0), nullptr);
  ASSERT_NE(o.Add(2, 0, 0), nullptr);
  for (int32_t s = 0; s <= 4; ++s) o.table.SetPoint(0, s, {double(s), 0.0});
  for (int32_t s = 3; s <= 9; ++s) o.table.SetPoint(1, s, {100.0 + s, 1.0});
  o.table.SetPoint(2, 0, {77.0, 7.0});
  EXPECT_EQ(o.MergeTracks(0, 0), 0);
  EXPECT_EQ(o.MergeTracks(0, 3), 0);
  EXPECT_EQ(o.trackCount, 3);
  EXPECT_EQ(o.MergeTracks(0, 1), 1);
  EXPECT_EQ(o.trackCount, 2);
  for (int32_t s = 0; s <= 9; ++s) EXPECT_EQ(o.Point(0, s).x, s <= 4 ? double(s) : 100.0 + s) << s;
  EXPECT_EQ(o.Point(1, 0).x, 77.0);  // the old target 2 is ID 1 now
}

TEST(TrackCtrl, SplitMovesTheLaterPointsToACopyOfTheTarget)
{
  ScriptedOwner o;
  o.table.SetFrameCount(10);
  DotTrack* t = o.Add(3, 4, 5, 7, 9);
  ASSERT_NE(t, nullptr);
  t->lost = 1;
  for (int32_t s = 0; s <= 4; ++s) o.table.SetPoint(0, s, {double(s), 2.0});
  EXPECT_EQ(o.SplitTrack(0, 5), 0);  // nothing from scene 5 on
  EXPECT_EQ(o.trackCount, 1);
  EXPECT_EQ(o.SplitTrack(1, 0), 0);
  EXPECT_EQ(o.SplitTrack(0, -1), 0);

  o.table.SetPoint(0, 7, {7.0, 2.0});
  o.table.SetPoint(0, 9, {9.0, 2.0});
  ASSERT_EQ(o.SplitTrack(0, 5), 1);
  ASSERT_EQ(o.trackCount, 2);
  auto copy = dynamic_cast<DotTrack*>(o.tracks[1]);
  ASSERT_NE(copy, nullptr);  // the same kind, with its own settings
  EXPECT_EQ(copy->marker, 3);
  EXPECT_EQ(copy->kind, 7u);
  EXPECT_EQ(copy->lost, 1u);
  EXPECT_EQ(copy->x, 4);
  EXPECT_EQ(copy->h, 9);
  EXPECT_EQ(copy->owner, &o);
  for (int32_t s = 0; s <= 9; ++s) {
    const bool own = s <= 4;
    const bool moved = s == 7 || s == 9;
    EXPECT_EQ(o.Point(0, s).x, own ? double(s) : -1.0) << s;
    EXPECT_EQ(o.Point(1, s).x, moved ? double(s) : -1.0) << s;
  }
}

TEST(TrackCtrl, ClearRangeRefusesRangesOutsideTheTable)
{
  ScriptedOwner o;
  o.table.SetFrameCount(5);
  ASSERT_NE(o.Add(0, 0, 0), nullptr);
  for (int32_t s = 0; s < 5; ++s) o.table.SetPoint(0, s, {1.0, 1.0});
  const int32_t bad[][3] = {{1, 0, 4}, {-1, 0, 4}, {0, -1, 2}, {0, 0, 5}, {0, 3, 2}};
  for (auto& b : bad) EXPECT_EQ(o.ClearRange(b[0], b[1], b[2]), 0);
  EXPECT_EQ(o.ClearRange(0, 1, 3), 1);
  for (int32_t s = 0; s < 5; ++s) EXPECT_EQ(o.Point(0, s).x, s >= 1 && s <= 3 ? -1.0 : 1.0);
}

// ---- runs ---------------------------------------------------------------------------

// Dot of target m in scene s: moving 2 pixels right and 1 down per scene.
bool MovingDot(int32_t m, int32_t s, int32_t* x, int32_t* y) {
  *x = 10 + 2 * s + 30 * m;
  *y = 8 + s;
  return m < 2;
}

TEST(TrackCtrl, RunFollowsEveryTargetAndStopsWhenAllAreLost)
{
  ScriptedOwner o;
  o.dot = [](int32_t m, int32_t s, int32_t* x, int32_t* y) { return s != 12 && MovingDot(m, s, x, y); };
  o.table.SetFrameCount(20);
  DotTrack* a = o.Add(0, 6, 4);   // around (10, 8)
  DotTrack* b = o.Add(1, 36, 4);  // around (40, 8)
  ASSERT_TRUE(a && b);
  o.RunTracking(1, 1, 0);
  EXPECT_EQ(o.Sought(), Range("go ", 0, 12));
  const std::vector<std::string> waits = {"wait 0 12", "wait 1 12"};
  EXPECT_EQ(std::vector<std::string>(o.log.end() - 2, o.log.end()), waits);
  for (int32_t s = 0; s < 12; ++s) {
    int32_t x, y;
    for (int32_t m = 0; m < 2; ++m) {
      MovingDot(m, s, &x, &y);
      EXPECT_EQ(o.Point(m, s).x, x + 0.25) << m << " " << s;
      EXPECT_EQ(o.Point(m, s).y, y);
    }
  }
  EXPECT_EQ(o.Point(0, 12).x, -1.0);
  EXPECT_EQ(o.Point(1, 13).x, -1.0);
  EXPECT_EQ(a->lost, 0u);
  EXPECT_EQ(b->lost, 0u);
  EXPECT_EQ(o.redraws, 1);
  EXPECT_EQ(o.currentScene, 12);
  EXPECT_EQ(o.currentTarget, 1);
}

TEST(TrackCtrl, ALostTargetIsLeftAloneWhileTheOthersGoOn)
{
  ScriptedOwner o;
  o.last = 6;
  o.dot = [](int32_t m, int32_t s, int32_t* x, int32_t* y) { return !(m == 0 && s == 3) && MovingDot(m, s, x, y); };
  o.table.SetFrameCount(7);
  DotTrack* a = o.Add(0, 6, 4);
  ASSERT_NE(o.Add(1, 36, 4), nullptr);
  o.RunTracking(1, 0, 0);
  EXPECT_EQ(o.Sought(), Range("go ", 0, 6));
  EXPECT_EQ(o.Point(0, 2).x, 14.25);
  EXPECT_EQ(o.Point(0, 3).x, -1.0);
  EXPECT_EQ(o.Point(0, 4).x, -1.0);
  EXPECT_EQ(o.Point(0, 6).x, -1.0);
  EXPECT_EQ(o.Point(1, 6).x, 52.25);
  EXPECT_EQ(a->lost, 0u);
  // The lost target was asked once, in scene 3, and never located again.
  EXPECT_EQ(std::count(o.log.begin(), o.log.end(), "wait 0 3"), 1);
  EXPECT_EQ(a->locateCalls, 4);
}

TEST(TrackCtrl, RunsBackwardAndAcrossThePictureEdge)
{
  ScriptedOwner o;
  o.first = 2;
  o.last = 5;
  // The dot runs along the left edge; the box hangs over it and is clipped for the crop.
  o.dot = [](int32_t m, int32_t s, int32_t* x, int32_t* y) {
    *x = s - 2;
    *y = 3 + s;
    return m == 0;
  };
  o.table.SetFrameCount(8);
  DotTrack* a = o.Add(0, -1, 4);
  ASSERT_NE(a, nullptr);
  o.RunTracking(-1, 1, 0);
  EXPECT_EQ(o.Sought(), (std::vector<std::string>{"go 5", "go 4", "go 3", "go 2"}));
  for (int32_t s = 2; s <= 5; ++s) {
    EXPECT_EQ(o.Point(0, s).x, s - 2 + 0.25) << s;
    EXPECT_EQ(o.Point(0, s).y, 3.0 + s);
  }
  EXPECT_EQ(o.Point(0, 6).x, -1.0);
  EXPECT_EQ(a->x, -3);  // centred on (0.25, 5): trunc(-3.75)
  EXPECT_EQ(a->y, 1);
}

TEST(TrackCtrl, ManualRunsStoreTheAnswersAndSkipKeepsThePoint)
{
  ScriptedOwner o;
  o.last = 4;
  o.table.SetFrameCount(5);
  CTrack* t = new CTrack;
  t->w = t->h = 5;
  ASSERT_EQ(o.AddTrack(t), 0);
  o.table.SetPoint(0, 2, {9.0, 9.0});
  o.answers[{0, 0}] = {true, 20, 30, false};
  o.answers[{0, 1}] = {true, 22, 31, false};
  o.answers[{0, 2}] = {true, 50, 50, true};  // skip: scene 2 keeps (9, 9), the box stays
  o.answers[{0, 3}] = {true, 26, 33, false};
  o.RunTracking(1, 0, 1);
  EXPECT_EQ(o.Sought(), Range("go ", 0, 4));  // scene 4 unanswered: lost there
  EXPECT_EQ(o.Point(0, 0).x, 20.0);
  EXPECT_EQ(o.Point(0, 1).y, 31.0);
  EXPECT_EQ(o.Point(0, 2).x, 9.0);
  EXPECT_EQ(o.Point(0, 3).x, 26.0);
  EXPECT_EQ(o.Point(0, 4).x, -1.0);
  EXPECT_EQ(o.skip, 0u);
  EXPECT_EQ(t->x, 24);  // centred on scene 3's answer

  // A plain box in an automatic run cannot locate itself and asks the user, as does any
  // target when the owner has no picture.
  o.log.clear();
  o.noPicture = true;
  o.answers[{0, 4}] = {true, 1, 1, false};
  o.TrackFrame(nullptr, 0, 4, 1, 0, 0);
  EXPECT_EQ(o.log, std::vector<std::string>{"wait 0 4"});
  EXPECT_EQ(o.Point(0, 4).x, 1.0);
}

TEST(TrackCtrl, YieldStopsTheRunsAndRefusedScenesEndThem)
{
  // RunTrackingSelected over both targets; the user cancels while scene 3 of target 0 runs.
  ScriptedOwner o;
  o.last = 6;
  o.dot = MovingDot;
  o.table.SetFrameCount(7);
  DotTrack* a = o.Add(0, 6, 4);
  DotTrack* b = o.Add(1, 36, 4);
  ASSERT_TRUE(a && b);
  o.stopAfterScene = 3;
  o.RunTrackingSelected(1, 1, -1, 0);
  EXPECT_EQ(o.Sought(), Range("go ", 0, 3));
  EXPECT_EQ(o.Point(0, 2).x, 14.25);
  EXPECT_EQ(o.Point(0, 3).x, -1.0);  // stopped before it was stored
  EXPECT_EQ(o.Point(1, 0).x, -1.0);  // target 1 never ran
  EXPECT_EQ(b->locateCalls, 0);
  EXPECT_EQ(o.redraws, 1);
  EXPECT_EQ(o.currentTarget, 0);
  EXPECT_EQ(o.currentScene, 3);

  // Without a stop, one target on its own, and a scene the owner refuses ends its pass.
  o.stop = false;
  o.stopAfterScene = 1 << 30;
  o.log.clear();
  o.refuseSceneFrom = 5;
  o.RunTrackingSelected(1, 1, 1, 0);
  EXPECT_EQ(o.Sought(), Range("go ", 0, 5));
  EXPECT_EQ(o.Point(1, 4).x, 48.25);
  EXPECT_EQ(o.Point(0, 4).x, -1.0);
  EXPECT_EQ(o.redraws, 2);

  // RunTracking stops on Yield as well; a refused range, no targets or a bad index do
  // nothing at all (no redraw).
  o.log.clear();
  o.refuseSceneFrom = 1 << 30;
  o.stopAfterScene = 1;
  o.stop = false;
  o.RunTracking(1, 0, 0);
  EXPECT_EQ(o.Sought(), Range("go ", 0, 1));
  EXPECT_EQ(o.redraws, 3);
  o.log.clear();
  o.RunTrackingSelected(1, 0, 2, 0);
  o.RunTracking(0, 0, 0);
  o.rangeOk = false;
  o.RunTracking(1, 0, 0);
  EXPECT_TRUE(o.log.empty());
  EXPECT_EQ(o.redraws, 3);
  EXPECT_EQ(o.currentScene, -1);
}

// ---- loading ------------------------------------------------------------------------

std::string SaveTable(const char* name, uint32_t ids, uint32_t scenes, const std::vector<std::pair<int, P2dPoint>>& pts)
{
  CP2dData t;
  EXPECT_EQ(t.Create(ids, scenes), 1);
  for (auto& [index, p] : pts) t.points[index] = p;
  P2dSetUnit(&t.calibration, L"mm");
  std::string path = std::string(QV_TEST_OUT_DIR) + "/" + name;
  EXPECT_EQ(t.Save(path.c_str()), 1);
  return path;
}

TEST(TrackCtrl, LoadTracksMakesPlainBoxesAtTheLoadedPoints)
{
  // 3 IDs x 3 scenes; the current scene is 1.
  const std::string path = SaveTable("track_load.p2d", 3, 3,
                                     {{3 * 1 + 0, {20.7, 30.2}}, {3 * 0 + 1, {5.9, 6.1}}, {3 * 2 + 1, {60.0, 60.0}}});
  ScriptedOwner o;
  o.scene = 1;
  ASSERT_NE(o.Add(3, 0, 0), nullptr);
  ASSERT_EQ(o.LoadTracks(path.c_str()), 1);
  ASSERT_EQ(o.trackCount, 3);
  EXPECT_STREQ(o.table.calibration.unit, "mm");
  struct Box {
    int32_t x, y;
  } boxes[] = {{15, 25}, {0, 1}, {-5, -5}};  // own point, the one looked back to, none at all
  for (int32_t i = 0; i < 3; ++i) {
    CTrack* t = o.tracks[i];
    EXPECT_EQ(dynamic_cast<DotTrack*>(t), nullptr);
    EXPECT_EQ(t->kind, 0u);
    EXPECT_EQ(t->x, boxes[i].x) << i;
    EXPECT_EQ(t->y, boxes[i].y) << i;
    EXPECT_EQ(t->w, 11);
    EXPECT_EQ(t->h, 11);
    EXPECT_EQ(t->owner, &o);
  }
  EXPECT_EQ(o.Point(1, 2).x, 60.0);

  // IDs without scenes get the row of the current scene.
  const std::string bare = std::string(QV_TEST_OUT_DIR) + "/track_bare.p2d";
  FILE* f = fopen(bare.c_str(), "wb");
  P2dHeader h = {{'P', '2', 'D', 0}, P2dByteOrderNative, 1, 3, 0};
  P2dCalibration c = {1.0, 1, {}};
  ASSERT_EQ(WriteP2dHeader(f, &h), 1);
  ASSERT_EQ(WriteP2dCalibration(f, &c), 1);
  fclose(f);
  o.scene = 0;
  ASSERT_EQ(o.LoadTracks(bare.c_str()), 1);
  EXPECT_EQ(o.trackCount, 3);
  EXPECT_EQ(o.table.header.scenes, 1u);
  EXPECT_EQ(o.tracks[2]->x, -5);
}

// The header's cap with no scene: 40 bytes of file, 2^20 IDs.  Every ID becomes a target
// (the array grows once, not once per ID), and the table gets the row of the current scene.
TEST(TrackCtrl, LoadTracksTakesTheLargestIdCountWithoutScenes)
{
  const std::string path = std::string(QV_TEST_OUT_DIR) + "/track_many_ids.p2d";
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  P2dHeader h = {{'P', '2', 'D', 0}, P2dByteOrderNative, 1, 1u << 20, 0};
  P2dCalibration c = {1.0, 1, {}};
  ASSERT_EQ(WriteP2dHeader(f, &h), 1);
  ASSERT_EQ(WriteP2dCalibration(f, &c), 1);
  ASSERT_EQ(ftell(f), 40);
  fclose(f);

  ScriptedOwner o;
  ASSERT_NE(o.Add(3, 0, 0), nullptr);  // replaced by the load
  ASSERT_EQ(o.LoadTracks(path.c_str()), 1);
  ASSERT_EQ(o.trackCount, 1 << 20);
  EXPECT_EQ(o.table.header.ids, 1u << 20);
  EXPECT_EQ(o.table.header.scenes, 1u);
  for (int32_t i : {0, 1, 12345, (1 << 20) - 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(o.tracks[i]->x, -5);
    EXPECT_EQ(o.tracks[i]->y, -5);
    EXPECT_EQ(o.tracks[i]->owner, &o);
    EXPECT_EQ(o.Point(i, 0).x, -1.0);
  }
  // The list still works as a list after the load: one more, one less.
  ASSERT_NE(o.Add(4, 0, 0), nullptr);
  EXPECT_EQ(o.trackCount, (1 << 20) + 1);
  EXPECT_EQ(o.RemoveTrack(0), 1);
  EXPECT_EQ(o.trackCount, 1 << 20);
  EXPECT_EQ(o.table.header.ids, 1u << 20);
}

TEST(TrackCtrl, AFailedLoadKeepsTheTargetsAndTheirTable)
{
  ScriptedOwner o;
  o.table.SetFrameCount(2);
  DotTrack* a = o.Add(0, 1, 1);
  ASSERT_NE(a, nullptr);
  o.table.SetPoint(0, 1, {4.0, 4.0});
  const std::string bad = std::string(QV_TEST_OUT_DIR) + "/track_bad.p2d";
  FILE* f = fopen(bad.c_str(), "wb");
  const uint8_t version2[16] = {'P', '2', 'D', 0, 0x4C, 0x48, 2, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  fwrite(version2, 1, sizeof(version2), f);
  fclose(f);
  EXPECT_EQ(o.LoadTracks(bad.c_str()), 0);
  EXPECT_EQ(o.table.error, 4u);
  EXPECT_EQ(o.LoadTracks((std::string(QV_TEST_OUT_DIR) + "/no_such_file.p2d").c_str()), 0);
  EXPECT_EQ(o.table.error, 1u);
  ASSERT_EQ(o.trackCount, 1);
  EXPECT_EQ(o.tracks[0], a);
  EXPECT_EQ(o.Point(0, 1).x, 4.0);

  // A target that cannot be added after the load: everything goes, the table is empty.
  const std::string path = SaveTable("track_load_fail.p2d", 3, 1, {});
  FailTrackAllocationForTesting(2);  // the loaded table, then the target array fails
  EXPECT_EQ(o.LoadTracks(path.c_str()), 0);
  FailTrackAllocationForTesting(0);
  EXPECT_EQ(o.table.error, 2u);
  EXPECT_EQ(o.trackCount, 0);
  EXPECT_EQ(o.tracks, nullptr);
  EXPECT_EQ(o.table.header.ids, 0u);
  EXPECT_EQ(o.table.points, nullptr);
}

}  // namespace
