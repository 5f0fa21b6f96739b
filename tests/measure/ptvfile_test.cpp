// ptvfile_test.cpp - the particle store as a track file: the bytes written for a small
// store, stores without ids or scenes, the ID count after a load, refused files that leave
// the store as it was, and files exchanged both ways with the track table and the 2D
// tracker.
#include "measure/ptvfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "measure/particles.h"
#include "measure/track.h"
#include "measure/track_alloc.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string OutPath(const char* name) { return std::string(QV_TEST_OUT_DIR) + "/" + name; }

P2dCalibration Calibration(double scale, int32_t yAxis, const wchar_t* unit)
{
  P2dCalibration c;
  c.lengthPerPixel = scale;
  c.yAxis = yAxis;
  P2dSetUnit(&c, unit);
  return c;
}

Bytes Write(CParticleData& store, const P2dCalibration& c)
{
  FILE* f = tmpfile();
  EXPECT_EQ(1, PtvWriteP2d(f, &store, c));
  EXPECT_EQ(0u, P2dLastError);
  Bytes bytes(size_t(ftell(f)));
  rewind(f);
  EXPECT_EQ(bytes.size(), fread(bytes.data(), 1, bytes.size(), f));
  fclose(f);
  return bytes;
}

int32_t Read(CParticleData& store, Bytes bytes, P2dCalibration* c = nullptr)
{
  FILE* f = tmpfile();
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  int32_t r = PtvReadP2d(f, &store, c);
  fclose(f);
  return r;
}

P2dPoint PointAt(const Bytes& file, uint32_t ids, uint32_t scene, uint32_t id)
{
  P2dPoint p;
  memcpy(&p, file.data() + 40 + (uint64_t(scene) * ids + id) * 16, 16);
  return p;
}

// Three scenes, ids 0 to 2: a missing id, a particle whose valid flag is 0, a second
// record of an id (the first stands for it), an unlinked particle.
void SmallStore(CParticleData& d)
{
  ASSERT_EQ(1, d.SetFrameCount(3));
  d.AddParticle(0, {1, 1, 10.5, 20.25});
  d.AddParticle(0, {0, 1, 1.0, 2.0});
  d.AddParticle(1, {0, 0, 3.0, 4.0});    // not valid: absent
  d.AddParticle(1, {2, 1, 5.0, 6.0});
  d.AddParticle(1, {2, 1, 99.0, 99.0});  // the second record of id 2
  d.AddParticle(2, {-1, 1, 7.0, 8.0});   // in no track
  d.AddParticle(2, {1, 1, 9.0, 10.0});
}

TEST(PtvFile, WritesOneRowPerSceneWithNoPointWhereAnIdIsAbsent)
{
  CParticleData d;
  SmallStore(d);
  const Bytes file = Write(d, Calibration(0.5, -1, L"\x00B5m"));  // "µm"
  ASSERT_EQ(40u + 3 * 3 * 16, file.size());
  const uint8_t head[] = {'P', '2', 'D', 0, 0x4C, 0x48, 1, 0, 3, 0, 0, 0, 3, 0, 0, 0};
  EXPECT_EQ(0, memcmp(head, file.data(), 16));
  double scale;
  int32_t y;
  memcpy(&scale, file.data() + 16, 8);
  memcpy(&y, file.data() + 24, 4);
  EXPECT_EQ(0.5, scale);
  EXPECT_EQ(-1, y);
  EXPECT_STREQ("\xC2\xB5m", reinterpret_cast<const char*>(file.data() + 28));
  const P2dPoint expected[3][3] = {{{1, 2}, {10.5, 20.25}, {-1, -1}},
                                   {{-1, -1}, {-1, -1}, {5, 6}},
                                   {{-1, -1}, {9, 10}, {-1, -1}}};
  for (uint32_t s = 0; s < 3; ++s) {
    for (uint32_t i = 0; i < 3; ++i) {
      P2dPoint p = PointAt(file, 3, s, i);
      EXPECT_EQ(expected[s][i].x, p.x) << s << " " << i;
      EXPECT_EQ(expected[s][i].y, p.y) << s << " " << i;
    }
  }
  // Read back: one valid particle per point, in id order.
  CParticleData back;
  P2dCalibration c{};
  ASSERT_EQ(1, Read(back, file, &c));
  EXPECT_EQ(0.5, c.lengthPerPixel);
  EXPECT_EQ(-1, c.yAxis);
  EXPECT_EQ(3, back.sceneCount);
  EXPECT_EQ(3, back.IdCount());
  ASSERT_EQ(2, back.scenes[0].count);
  EXPECT_EQ(0, back.scenes[0].records[0].id);
  EXPECT_EQ(1u, back.scenes[0].records[0].valid);
  EXPECT_EQ(10.5, back.scenes[0].records[1].x);
  EXPECT_EQ(1, back.scenes[1].count);
  EXPECT_EQ(2, back.scenes[1].highestId);
}

TEST(PtvFile, StoresWithoutIdsOrScenesAndTheIdCountAfterALoad)
{
  // No ids: header and calibration only; reads back as that many empty scenes.
  CParticleData empty;
  ASSERT_EQ(1, empty.SetFrameCount(5));
  Bytes file = Write(empty, Calibration(1, 1, L""));
  ASSERT_EQ(40u, file.size());
  CParticleData back;
  ASSERT_EQ(1, Read(back, file));
  EXPECT_EQ(5, back.sceneCount);
  EXPECT_EQ(0, back.IdCount());
  CParticleData none;
  EXPECT_EQ(40u, Write(none, Calibration(1, 1, L"")).size());
  ASSERT_EQ(1, Read(back, Write(none, Calibration(1, 1, L""))));
  EXPECT_EQ(0, back.sceneCount);

  // Ids up to 9 early, only 0 and 1 in the last scene: 10 ids.
  CParticleData d;
  ASSERT_EQ(1, d.SetFrameCount(4));
  for (int32_t i = 0; i < 10; ++i) d.AddParticle(0, {i, 1, double(i), 1.0});
  d.AddParticle(3, {0, 1, 1.0, 1.0});
  d.AddParticle(3, {1, 1, 2.0, 1.0});
  ASSERT_EQ(1, Read(back, Write(d, Calibration(1, 1, L"mm"))));
  EXPECT_EQ(10, back.IdCount());
  EXPECT_EQ(2, back.scenes[3].count);
  EXPECT_EQ(0, back.scenes[2].count);
}

// A file that does not load leaves the store as it was and says why.
TEST(PtvFile, RefusedFilesLeaveTheStoreAsItWas)
{
  CParticleData good;
  SmallStore(good);
  const Bytes file = Write(good, Calibration(1, 1, L""));
  auto with = [&](size_t at, std::vector<uint8_t> bytes) {
    Bytes b = file;
    memcpy(b.data() + at, bytes.data(), bytes.size());
    return b;
  };
  struct Case {
    const char* name;
    Bytes bytes;
    uint32_t error;
  } cases[] = {
      {"empty", {}, P2dErrorFile},
      {"short header", Bytes(file.begin(), file.begin() + 10), P2dErrorFile},
      {"short calibration", Bytes(file.begin(), file.begin() + 30), P2dErrorFile},
      {"short points", Bytes(file.begin(), file.end() - 1), P2dErrorFile},
      {"magic", with(0, {'P', '2', 'X'}), P2dErrorMagic},
      {"version 2", with(6, {2, 0}), P2dErrorVersion},
      {"ids beyond the cap", with(8, {1, 0, 0x10, 0}), P2dErrorArgument},
      {"more ids than the file holds", with(8, {0, 0, 0x0F, 0}), P2dErrorFile},
      {"scenes beyond signed", with(12, {0xFF, 0xFF, 0xFF, 0xFF}), P2dErrorArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CParticleData d;
    SmallStore(d);
    P2dCalibration cal = Calibration(3, 1, L"kept");
    EXPECT_EQ(0, Read(d, c.bytes, &cal));
    EXPECT_EQ(c.error, P2dLastError);
    EXPECT_EQ(3, d.sceneCount);
    EXPECT_EQ(3, d.IdCount());
    EXPECT_EQ(3, d.scenes[1].count);
    EXPECT_EQ(3.0, cal.lengthPerPixel);
  }
  CParticleData d;
  EXPECT_EQ(0, PtvReadP2d(nullptr, &d, nullptr));
  EXPECT_EQ(uint32_t(P2dErrorArgument), P2dLastError);
  EXPECT_EQ(0, PtvWriteP2d(nullptr, &d, Calibration(1, 1, L"")));
  EXPECT_EQ(uint32_t(P2dErrorArgument), P2dLastError);
  // Out of memory half-way: the store stays.
  SmallStore(d);
  FailTrackAllocationForTesting(2);
  EXPECT_EQ(0, Read(d, file));
  FailTrackAllocationForTesting(0);
  EXPECT_EQ(uint32_t(P2dErrorMemory), P2dLastError);
  EXPECT_EQ(3, d.sceneCount);
  // A stream that cannot be written.
  FILE* ro = fopen(OutPath("ptvfile_ro.p2d").c_str(), "wb");
  fclose(ro);
  ro = fopen(OutPath("ptvfile_ro.p2d").c_str(), "rb");
  EXPECT_EQ(0, PtvWriteP2d(ro, &d, Calibration(1, 1, L"")));
  EXPECT_EQ(uint32_t(P2dErrorFile), P2dLastError);
  fclose(ro);
}

// Files pass both ways between particle tracking, the track table and the 2D tracker.
TEST(PtvFile, ExchangedWithTheTrackTableAndThe2DTracker)
{
  CParticleData d;
  SmallStore(d);
  const std::string path = OutPath("ptvfile_exchange.p2d");
  {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_EQ(1, PtvWriteP2d(f, &d, Calibration(0.25, 1, L"mm")));
    fclose(f);
  }
  CP2dData table;
  ASSERT_EQ(1, table.Load(path.c_str()));
  ASSERT_EQ(3u, table.header.ids);
  ASSERT_EQ(3u, table.header.scenes);
  EXPECT_EQ(0.25, table.calibration.lengthPerPixel);
  for (int32_t s = 0; s < 3; ++s) {
    for (int32_t i = 0; i < 3; ++i) {
      P2dPoint p;
      ASSERT_EQ(1, table.GetPoint(i, s, &p));
      ParticleRecord r;
      bool present = d.GetParticle(s, i, &r) && r.valid;
      EXPECT_EQ(present ? r.x : -1.0, p.x) << s << " " << i;
      EXPECT_EQ(present ? r.y : -1.0, p.y) << s << " " << i;
    }
  }
  CTrackCtrl tracker;
  ASSERT_EQ(1, tracker.LoadTracks(path.c_str()));
  EXPECT_EQ(3, tracker.trackCount);
  P2dPoint p;
  ASSERT_EQ(1, tracker.table.GetPoint(1, 2, &p));
  EXPECT_EQ(9.0, p.x);

  // The other way: a table saved by the track table loads with the same particles.
  table.SetPoint(2, 0, {30.0, 40.0});
  table.SetPoint(0, 2, {-1.0, -1.0});
  const std::string back = OutPath("ptvfile_table.p2d");
  ASSERT_EQ(1, table.Save(back.c_str()));
  CParticleData loaded;
  FILE* f = fopen(back.c_str(), "rb");
  P2dCalibration c;
  ASSERT_EQ(1, PtvReadP2d(f, &loaded, &c));
  fclose(f);
  EXPECT_EQ(0.25, c.lengthPerPixel);
  for (int32_t s = 0; s < 3; ++s) {
    for (int32_t i = 0; i < 3; ++i) {
      ASSERT_EQ(1, table.GetPoint(i, s, &p));
      ParticleRecord r;
      const int32_t found = loaded.GetParticle(s, i, &r);
      EXPECT_EQ(p.x >= 0 ? 1 : 0, found) << s << " " << i;
      if (found) {
        EXPECT_EQ(p.x, r.x);
        EXPECT_EQ(p.y, r.y);
      }
    }
  }
}

}  // namespace
