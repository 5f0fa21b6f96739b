// ptv_test.cpp - the particle-tracking filter on the scripted host: runs over binary frames
// (too few scenes, exactly four, cancels early and late, a tool switched off, the detection
// limit), the accuracy of tracks of sub-pixel discs moved rigidly, and its track files
// through the scripted file chooser and message box.
#include "measure/ptv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "measure/ptvfile.h"
#include "tests/app/testhost.h"

namespace {

struct Disc {
  double x, y;
};

// Hard-edged discs: a pixel is set when its centre lies within radius of the disc's centre.
void DrawFrame(CImgBuff& pic, int32_t w, int32_t h, const std::vector<Disc>& discs, double radius)
{
  ASSERT_EQ(1, pic.Allocate(w, h, ImgFormatGray8));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pic.SetGray8(x, y, 0);
  for (const Disc& d : discs) {
    for (int32_t y = int32_t(std::floor(d.y - radius)); y <= int32_t(std::ceil(d.y + radius)); ++y) {
      for (int32_t x = int32_t(std::floor(d.x - radius)); x <= int32_t(std::ceil(d.x + radius)); ++x) {
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) <= radius * radius) pic.SetGray8(x, y, 255);
      }
    }
  }
}

struct Rig {
  CTestHost host;
  CLfPtv* ptv = new CLfPtv;
  CScriptedDialogs dialogs;

  explicit Rig(const std::vector<std::vector<Disc>>& scenes, int32_t w = 64, int32_t h = 48, double radius = 1.5)
  {
    std::vector<CImgBuff> frames(scenes.size());  // the host keeps copies
    std::vector<const CImgBuff*> list;
    for (size_t i = 0; i < scenes.size(); ++i) {
      DrawFrame(frames[i], w, h, scenes[i], radius);
      list.push_back(&frames[i]);
    }
    EXPECT_EQ(1, host.SetVideo(list, 33333));
    host.m_background = 0;  // white objects on black
    host.SetLanguage(L"en");
    host.AddFilter(ptv, nullptr);
  }
  std::vector<std::wstring> Shown() const
  {
    std::vector<std::wstring> texts;
    for (auto& s : dialogs.m_shown) texts.push_back(s.text + L"|" + s.caption);
    return texts;
  }
  std::vector<std::wstring> IdList() const
  {
    std::vector<std::wstring> items;
    for (int32_t i = 0; i < ptv->m_idList.m_count; ++i) items.push_back(ptv->m_idList.m_items[i].text);
    return items;
  }
};

// One disc moving 2 pixels a scene, and a disc that stays put.
std::vector<std::vector<Disc>> MovingDisc(int32_t scenes)
{
  std::vector<std::vector<Disc>> s;
  for (int32_t t = 0; t < scenes; ++t) s.push_back({{5.0 + 2 * t, 10.0}, {50.0, 40.0}});
  return s;
}

TEST(PtvRun, NeedsFourScenes)
{
  Rig rig(MovingDisc(3));
  rig.ptv->Execute();
  EXPECT_EQ((std::vector<std::wstring>{L"need an image of 4 frames or more|error"}), rig.Shown());
  EXPECT_EQ(0u, rig.host.m_seekCount);
  EXPECT_TRUE(rig.host.m_enableOnlyCalls.empty());
  rig.host.SetLanguage(L"jp");
  rig.ptv->Execute();
  EXPECT_EQ(std::wstring(L"4フレーム以上の画像が必要です|エラー"), rig.Shown()[1]);
}

TEST(PtvRun, ExactlyFourScenesMakeOneTrackAndTheButtonReadsCancelMeanwhile)
{
  Rig rig(MovingDisc(4));
  std::vector<std::wstring> labels;
  int32_t lockedDuringRun = 1;
  rig.host.m_onProcessedHook = [&] {
    labels.push_back(rig.ptv->m_exec.m_text);
    lockedDuringRun &= !rig.ptv->m_searchEdit.m_enabled && !rig.ptv->m_load.m_enabled && !rig.ptv->m_idList.m_enabled;
  };
  rig.ptv->Execute();
  rig.host.m_onProcessedHook = nullptr;
  EXPECT_TRUE(rig.Shown().empty());
  EXPECT_EQ(4u, rig.host.m_seekCount);
  EXPECT_EQ((std::vector<std::wstring>(4, L"CANCEL")), labels);
  EXPECT_EQ(std::wstring(L"EXEC"), rig.ptv->m_exec.m_text);
  EXPECT_EQ(0, rig.ptv->Running());
  EXPECT_EQ(1, lockedDuringRun);
  EXPECT_EQ(1, rig.ptv->m_searchEdit.m_enabled);
  ASSERT_EQ(2u, rig.host.m_enableOnlyCalls.size());
  EXPECT_EQ(1u, rig.host.m_enableOnlyCalls[0].first);
  EXPECT_EQ(0u, rig.host.m_enableOnlyCalls[1].first);
  EXPECT_EQ(rig.ptv, rig.host.m_enableOnlyCalls[0].second);
  CParticleData& d = rig.ptv->m_data;
  ASSERT_EQ(4, d.sceneCount);
  EXPECT_EQ(1, d.IdCount());
  for (int32_t s = 0; s < 4; ++s) {
    ASSERT_EQ(1, d.scenes[s].count) << s;  // the still disc joined nothing
    EXPECT_NEAR(5.0 + 2 * s, d.scenes[s].records[0].x, 0.01);
    EXPECT_NEAR(10.0, d.scenes[s].records[0].y, 0.01);
    EXPECT_EQ(0, d.scenes[s].records[0].id);
  }
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"1"}), rig.IdList());
  EXPECT_EQ(1, rig.ptv->m_idList.m_items[0].flag);
}

TEST(PtvRun, CancelEarlyKeepsEmptyScenesAndCancelLaterClearsTheStore)
{
  for (uint64_t cancelAt : {1u, 5u}) {
    SCOPED_TRACE(cancelAt);
    Rig rig(MovingDisc(20));
    rig.ptv->m_data.SetFrameCount(2);  // an earlier result goes either way
    // The second press arrives while scene cancelAt is being fetched.
    rig.host.m_onProcessedHook = [&] {
      if (rig.host.m_processedCount.load() == cancelAt + 1) rig.ptv->m_walk.Cancel();
    };
    rig.ptv->Execute();
    rig.host.m_onProcessedHook = nullptr;
    EXPECT_EQ((std::vector<std::wstring>{L"canceled|confirmation"}), rig.Shown());
    EXPECT_EQ(cancelAt + 1, rig.host.m_seekCount);  // no seek after the press
    EXPECT_EQ(cancelAt < 3 ? 20 : 0, rig.ptv->m_data.sceneCount);
    EXPECT_EQ(0, rig.ptv->m_data.IdCount());
    for (int32_t s = 0; s < rig.ptv->m_data.sceneCount; ++s) EXPECT_EQ(0, rig.ptv->m_data.scenes[s].count);
    EXPECT_TRUE(rig.IdList().empty());
    EXPECT_EQ(std::wstring(L"EXEC"), rig.ptv->m_exec.m_text);
    EXPECT_EQ(0, rig.ptv->Running());
  }
}

TEST(PtvRun, AQuitEndsTheRunWithoutAWordAndAToolSwitchedOffFails)
{
  Rig rig(MovingDisc(8));
  rig.host.m_onProcessedHook = [&] {
    if (rig.host.m_processedCount.load() == 6) QuitRequested = 1;
  };
  rig.ptv->Execute();
  rig.host.m_onProcessedHook = nullptr;
  QuitRequested = 0;
  EXPECT_TRUE(rig.Shown().empty());
  EXPECT_EQ(6u, rig.host.m_seekCount);
  EXPECT_EQ(0, rig.ptv->m_data.sceneCount);

  rig.ptv->m_filterEnabled = 0;  // switched off in the chain: no frame reaches it
  rig.ptv->Execute();
  EXPECT_EQ((std::vector<std::wstring>{L"failed|error"}), rig.Shown());
  EXPECT_EQ(0, rig.ptv->m_data.sceneCount);
  EXPECT_TRUE(rig.IdList().empty());
}

TEST(PtvRun, AtMost4096ParticlesAScene)
{
  // 100 x 50 dots 4 pixels apart, moving 1 pixel a scene: 5,000 islands, of which the
  // first 4,096 in raster order are tracked.
  std::vector<std::vector<Disc>> scenes(4);
  for (int32_t t = 0; t < 4; ++t)
    for (int32_t j = 0; j < 50; ++j)
      for (int32_t i = 0; i < 100; ++i) scenes[size_t(t)].push_back({2.0 + 4 * i + t, 2.0 + 4 * j});
  Rig rig(scenes, 410, 204, 0.0);
  rig.ptv->m_predict.m_checked = 0;
  rig.ptv->m_adaptive.m_checked = 0;
  rig.ptv->m_searchRadius = 1.5;
  rig.ptv->Execute();
  EXPECT_TRUE(rig.Shown().empty());
  CParticleData& d = rig.ptv->m_data;
  EXPECT_EQ(4096, d.IdCount());
  for (int32_t s = 0; s < 4; ++s) {
    ASSERT_EQ(4096, d.scenes[s].count);
    const ParticleRecord& last = d.scenes[s].records[4095];
    EXPECT_EQ(2.0 + 4 * 95 + s, last.x);
    EXPECT_EQ(2.0 + 4 * 40, last.y);
  }
}

TEST(PtvRun, SearchRadiusTakesOnlyValuesAboveZero)
{
  CLfPtv ptv;
  EXPECT_EQ(std::wstring(L"5"), ptv.m_searchEdit.GetText());
  struct Case {
    const wchar_t* typed;
    double radius;
    const wchar_t* shown;
  } cases[] = {{L"2.5", 2.5, L"2.5"}, {L"-3", 2.5, L"2.5"}, {L"0", 2.5, L"2.5"}, {L"abc", 2.5, L"2.5"}, {L"12", 12, L"12"}};
  for (const Case& c : cases) {
    ptv.m_searchEdit.SetLine(0, c.typed);
    ptv.OnSearchRadiusEdit();
    EXPECT_EQ(c.radius, ptv.m_searchRadius) << c.typed;
    EXPECT_EQ(std::wstring(c.shown), ptv.m_searchEdit.GetText()) << c.typed;
  }
}

// ---- accuracy -------------------------------------------------------------------------

struct Truth {
  std::vector<std::vector<Disc>> scenes;  // disc k of every scene is the same body
  size_t moving = 0;                      // the first discs move, the rest stand still
};

// About 200 discs on a jittered grid 20 pixels apart (at least 18 apart), moved rigidly by
// up to 5.4 pixels a scene (translation plus a slow turn), and a row of still discs.
Truth RigidCloud(uint32_t seed)
{
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> jitter(-1.0, 1.0);
  Truth t;
  std::vector<Disc> start;
  for (int32_t j = 0; j < 14; ++j)
    for (int32_t i = 0; i < 14; ++i) start.push_back({30 + 20.0 * i + jitter(rng), 30 + 20.0 * j + jitter(rng)});
  t.moving = start.size();
  const double cx = 160, cy = 160;
  for (int32_t s = 0; s < 30; ++s) {
    std::vector<Disc> scene;
    const double a = 0.004 * s, c = std::cos(a), sn = std::sin(a);
    for (const Disc& d : start) {
      const double dx = d.x - cx, dy = d.y - cy;
      scene.push_back({cx + c * dx - sn * dy + 4.5 * s, cy + sn * dx + c * dy + 1.0 * s});
    }
    for (int32_t i = 0; i < 10; ++i) scene.push_back({40.0 + 50 * i + 0.3, 450.25});
    t.scenes.push_back(scene);
  }
  return t;
}

TEST(PtvAccuracy, RigidlyMovedDiscsGiveOneWholeTrackEach)
{
  const Truth truth = RigidCloud(5);
  for (int32_t options = 0; options < 2; ++options) {
    SCOPED_TRACE(options ? "P and A on" : "P and A off");
    Rig rig(truth.scenes, 560, 480, 3.0);
    rig.ptv->m_predict.m_checked = options;
    rig.ptv->m_adaptive.m_checked = options;
    rig.ptv->m_searchRadius = 8;
    rig.ptv->Execute();
    EXPECT_TRUE(rig.Shown().empty());
    CParticleData& d = rig.ptv->m_data;
    ASSERT_EQ(30, d.sceneCount);
    EXPECT_EQ(int32_t(truth.moving), d.IdCount());
    // Each track follows one body through all 30 scenes.
    double sum2 = 0, worst = 0;
    int64_t n = 0;
    std::vector<int32_t> bodyOf(size_t(d.IdCount()), -1);
    for (int32_t s = 0; s < 30; ++s) {
      EXPECT_EQ(int32_t(truth.moving), d.scenes[s].count) << s;
      for (int32_t i = 0; i < d.scenes[s].count; ++i) {
        const ParticleRecord& r = d.scenes[s].records[i];
        size_t best = 0;
        double bestD = 1e9;
        for (size_t k = 0; k < truth.scenes[size_t(s)].size(); ++k) {
          const Disc& t = truth.scenes[size_t(s)][k];
          const double e = std::hypot(r.x - t.x, r.y - t.y);
          if (e < bestD) {
            bestD = e;
            best = k;
          }
        }
        ASSERT_LT(best, truth.moving);  // no still disc is tracked
        ASSERT_GE(r.id, 0);
        ASSERT_LT(r.id, d.IdCount());
        if (bodyOf[size_t(r.id)] < 0) bodyOf[size_t(r.id)] = int32_t(best);
        EXPECT_EQ(bodyOf[size_t(r.id)], int32_t(best)) << "track " << r.id << " scene " << s;
        worst = std::max(worst, bestD);
        sum2 += bestD * bestD;
        ++n;
      }
    }
    EXPECT_LE(worst, 0.4);
    EXPECT_LE(std::sqrt(sum2 / double(n)), 0.2);
  }
}

// Random discs with births, deaths and crossings: link precision and recall over the discs
// that stand alone are printed for the record; the bounds only catch a linking gone wrong.
TEST(PtvAccuracy, RandomDiscsLinkPrecisionAndRecall)
{
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(0, 1);
  struct Body {
    int32_t id;
    double x, y, vx, vy;
  };
  int32_t nextBody = 0;
  auto born = [&] {
    const double speed = u(rng) * 4, a = u(rng) * 6.2832;
    return Body{nextBody++, 10 + u(rng) * 380, 10 + u(rng) * 380, speed * std::cos(a), speed * std::sin(a)};
  };
  std::vector<Body> bodies;
  for (int i = 0; i < 300; ++i) bodies.push_back(born());
  std::vector<std::vector<Disc>> scenes;
  std::vector<std::vector<int32_t>> idsOf;
  for (int32_t t = 0; t < 30; ++t) {
    std::vector<Disc> scene;
    std::vector<int32_t> ids;
    for (Body& b : bodies) {
      if (u(rng) < 0.02 || b.x < 4 || b.y < 4 || b.x > 396 || b.y > 396) b = born();
      scene.push_back({b.x, b.y});
      ids.push_back(b.id);
      b.x += b.vx;
      b.y += b.vy;
    }
    scenes.push_back(scene);
    idsOf.push_back(ids);
  }
  // A disc counts when no other disc comes near enough to merge with it.
  auto isolated = [&](int32_t s, size_t k) {
    for (size_t j = 0; j < scenes[size_t(s)].size(); ++j)
      if (j != k && std::hypot(scenes[size_t(s)][j].x - scenes[size_t(s)][k].x,
                               scenes[size_t(s)][j].y - scenes[size_t(s)][k].y) < 9)
        return false;
    return true;
  };
  auto bodyAt = [&](int32_t s, double x, double y) {
    for (size_t k = 0; k < scenes[size_t(s)].size(); ++k)
      if (std::hypot(scenes[size_t(s)][k].x - x, scenes[size_t(s)][k].y - y) < 0.5 && isolated(s, k))
        return idsOf[size_t(s)][k];
    return -1;
  };
  int64_t trueLinks = 0;
  for (int32_t s = 0; s + 1 < 30; ++s)
    for (size_t k = 0; k < scenes[size_t(s)].size(); ++k)
      for (size_t j = 0; j < scenes[size_t(s + 1)].size(); ++j)
        if (idsOf[size_t(s + 1)][j] == idsOf[size_t(s)][k] && isolated(s, k) && isolated(s + 1, j)) ++trueLinks;
  Rig rig(scenes, 400, 400, 3.0);
  rig.ptv->m_searchRadius = 6;
  rig.ptv->Execute();
  CParticleData& d = rig.ptv->m_data;
  int64_t links = 0, right = 0;
  for (int32_t s = 0; s + 1 < d.sceneCount; ++s) {
    for (int32_t i = 0; i < d.scenes[s].count; ++i) {
      const ParticleRecord& a = d.scenes[s].records[i];
      ParticleRecord b;
      if (!d.GetParticle(s + 1, a.id, &b)) continue;
      // Links to merged discs belong to no single body and are left out of both counts.
      const int32_t ba = bodyAt(s, a.x, a.y), bb = bodyAt(s + 1, b.x, b.y);
      if (ba < 0 || bb < 0) continue;
      ++links;
      if (ba == bb) ++right;
    }
  }
  const double precision = double(right) / double(std::max<int64_t>(links, 1));
  const double recall = double(right) / double(std::max<int64_t>(trueLinks, 1));
  printf("random discs: %lld links, %lld right, %lld true: precision %.4f recall %.4f\n", (long long)links,
         (long long)right, (long long)trueLinks, precision, recall);
  RecordProperty("precision", std::to_string(precision));
  RecordProperty("recall", std::to_string(recall));
  EXPECT_GT(precision, 0.95);
  EXPECT_GT(recall, 0.9);
}

// ---- track files ----------------------------------------------------------------------

std::string OutPath(const char* name) { return std::string(QV_TEST_OUT_DIR) + "/" + name; }

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(PtvFiles, SaveAfterARunAndLoadBack)
{
  Rig rig(MovingDisc(6));
  rig.host.SetScale(0.5, -1, L"mm");
  rig.ptv->Execute();
  ASSERT_EQ(1, rig.ptv->m_data.IdCount());
  const std::string path = OutPath("ptv_run.p2d");
  remove(path.c_str());
  rig.dialogs.m_paths = {Wide(path)};
  rig.ptv->SaveP2d();
  EXPECT_EQ((std::vector<std::wstring>{L"saved|confirmation"}), rig.Shown());
  ASSERT_EQ(1u, rig.dialogs.m_asked.size());
  EXPECT_EQ(std::wstring(L"select file name to save"), rig.dialogs.m_asked[0].title);
  CP2dData table;
  ASSERT_EQ(1, table.Load(path.c_str()));
  EXPECT_EQ(1u, table.header.ids);
  EXPECT_EQ(6u, table.header.scenes);
  EXPECT_EQ(0.5, table.calibration.lengthPerPixel);
  EXPECT_EQ(-1, table.calibration.yAxis);
  EXPECT_STREQ("mm", table.calibration.unit);

  // Overwrite asked; "Cancel" keeps the file.
  rig.dialogs.m_paths = {Wide(path)};
  rig.dialogs.m_answers = {0};
  rig.ptv->SaveP2d();
  EXPECT_EQ(std::wstring(L"Do you want to overwrite it?|confirmation"), rig.Shown().back());

  // Loading replaces the store, rebuilds the ID list and applies the file's calibration.
  rig.host.SetScale(1.0, 1, L"px");
  rig.ptv->m_data.Clear();
  rig.ptv->RebuildIdList();
  const uint64_t calibrations = rig.host.m_calibrationCount;
  rig.dialogs.m_paths = {Wide(path)};
  rig.ptv->LoadP2d();
  EXPECT_EQ(1, rig.ptv->m_data.IdCount());
  EXPECT_EQ(6, rig.ptv->m_data.sceneCount);
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"1"}), rig.IdList());
  EXPECT_EQ(calibrations + 1, rig.host.m_calibrationCount);
  EXPECT_EQ(0.5, rig.host.m_scale);
}

TEST(PtvFiles, RefusedFilesKeepStoreAndIdListAndOddCalibrationsAreNotApplied)
{
  Rig rig(MovingDisc(6));
  rig.ptv->Execute();
  CP2dData table;
  ASSERT_EQ(1, table.Create(2, 3));
  table.SetPoint(1, 0, {4.0, 5.0});
  table.calibration.lengthPerPixel = 0.0;  // not a calibration anyone could set
  const std::string odd = OutPath("ptv_odd.p2d");
  ASSERT_EQ(1, table.Save(odd.c_str()));
  // Version 2: two messages, the store and the list as they were.
  std::vector<uint8_t> bytes(40 + 2 * 3 * 16, 0);
  FILE* f = fopen(odd.c_str(), "rb");
  ASSERT_EQ(bytes.size(), fread(bytes.data(), 1, bytes.size(), f));
  fclose(f);
  bytes[6] = 2;
  const std::string v2 = OutPath("ptv_v2.p2d");
  f = fopen(v2.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  rig.dialogs.m_paths = {Wide(v2)};
  rig.ptv->LoadP2d();
  EXPECT_EQ((std::vector<std::wstring>{L"unsupported version|error", L"loading failed|error"}), rig.Shown());
  EXPECT_EQ(6, rig.ptv->m_data.sceneCount);
  EXPECT_EQ(1, rig.ptv->m_data.IdCount());
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"1"}), rig.IdList());
  // A missing file.
  rig.dialogs.m_paths = {Wide(OutPath("ptv_missing.p2d"))};
  rig.ptv->LoadP2d();
  EXPECT_EQ(std::wstring(L"loading failed|error"), rig.Shown().back());
  // Scale 0 in the file: the points load, the calibration stays.
  const uint64_t calibrations = rig.host.m_calibrationCount;
  rig.dialogs.m_paths = {Wide(odd)};
  rig.ptv->LoadP2d();
  EXPECT_EQ(calibrations, rig.host.m_calibrationCount);
  EXPECT_EQ(3, rig.ptv->m_data.sceneCount);
  EXPECT_EQ(2, rig.ptv->m_data.IdCount());
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"1", L"2"}), rig.IdList());
  // A folder that cannot be written.
  rig.dialogs.m_paths = {L"/nonexistent_folder/x.p2d"};
  rig.ptv->SaveP2d();
  EXPECT_EQ(std::wstring(L"saving failed|error"), rig.Shown().back());
}

}  // namespace
