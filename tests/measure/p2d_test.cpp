// p2d_test.cpp - the track file: the byte layout of a small file and its big-endian twin,
// hostile files in both byte orders, the record operations' error word, the unit and point
// helpers, the table's growth and shrinking, failed allocations and failed saves, and a
// deterministic mutation run through the fuzz body.
#include "measure/p2d.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "core/text.h"
#include "fuzz/p2d_fuzz.h"
#include "measure/track_alloc.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string OutPath(const char* name) { return std::string(QV_TEST_OUT_DIR) + "/" + name; }

Bytes ReadFile(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool FileExists(const std::string& path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Loads the bytes through the stream form; an empty block goes through a temporary file.
int32_t LoadBytes(CP2dData& table, const Bytes& bytes)
{
  Bytes copy = bytes;
  copy.push_back(0);  // fmemopen wants a block, also for size 0
  FILE* f = bytes.empty() ? tmpfile() : fmemopen(copy.data(), bytes.size(), "rb");
  EXPECT_NE(f, nullptr);
  int32_t r = table.Load(f);
  fclose(f);
  return r;
}

// The example of the file format: 1 ID x 2 scenes, 0.5 per pixel, Y axis 1, unit "mm",
// points (10, 20) and no point.
const Bytes kExampleLE = {
    0x50, 0x32, 0x44, 0x00, 0x4C, 0x48, 0x01, 0x00,  // magic, byte order, version
    0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // 1 ID, 2 scenes
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x3F,  // 0.5
    0x01, 0x00, 0x00, 0x00,                          // Y axis 1
    0x6D, 0x6D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,        // "mm"
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x24, 0x40,  // 10.0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x34, 0x40,  // 20.0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xBF,  // -1.0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xBF,  // -1.0
};
const Bytes kExampleBE = {
    0x50, 0x32, 0x44, 0x00, 0x48, 0x4C, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02,
    0x3F, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01,
    0x6D, 0x6D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x40, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x40, 0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xBF, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xBF, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

void ExpectExampleTable(CP2dData& t)
{
  EXPECT_EQ(t.error, 0u);
  EXPECT_EQ(t.header.ids, 1u);
  EXPECT_EQ(t.header.scenes, 2u);
  EXPECT_EQ(t.header.byteOrder, P2dByteOrderNative);
  EXPECT_EQ(t.calibration.lengthPerPixel, 0.5);
  EXPECT_EQ(t.calibration.yAxis, 1);
  EXPECT_STREQ(t.calibration.unit, "mm");
  P2dPoint p;
  ASSERT_EQ(t.GetPoint(0, 0, &p), 1);
  EXPECT_EQ(p.x, 10.0);
  EXPECT_EQ(p.y, 20.0);
  ASSERT_EQ(t.GetPoint(0, 1, &p), 1);
  EXPECT_EQ(p.x, -1.0);
  EXPECT_EQ(p.y, -1.0);
}

TEST(P2dFile, ExampleIsWrittenByteForByteAndItsBigEndianTwinLoadsToTheSameTable)
{
  CP2dData t;
  ASSERT_EQ(t.Create(1, 2), 1);
  t.calibration.lengthPerPixel = 0.5;
  t.calibration.yAxis = 1;
  P2dSetUnit(&t.calibration, L"mm");
  ASSERT_EQ(t.SetPoint(0, 0, {10.0, 20.0}), 1);
  const std::string path = OutPath("p2d_example.p2d");
  ASSERT_EQ(t.Save(path.c_str()), 1);
  EXPECT_EQ(ReadFile(path), kExampleLE);

  CP2dData little;
  ASSERT_EQ(little.Load(path.c_str()), 1);
  ExpectExampleTable(little);

  CP2dData big;
  ASSERT_EQ(LoadBytes(big, kExampleBE), 1);
  ExpectExampleTable(big);
  const std::string again = OutPath("p2d_example_from_be.p2d");
  ASSERT_EQ(big.Save(again.c_str()), 1);
  EXPECT_EQ(ReadFile(again), kExampleLE);
}

TEST(P2dFile, SavedHeaderAlwaysCarriesThisSystemsOrderAndVersion)
{
  CP2dData t;
  ASSERT_EQ(t.Create(2, 1), 1);
  t.header.byteOrder = 0x4C48;
  t.header.version = 0;
  const std::string path = OutPath("p2d_header.p2d");
  ASSERT_EQ(t.Save(path.c_str()), 1);
  Bytes b = ReadFile(path);
  ASSERT_EQ(b.size(), 40u + 2 * 16);
  EXPECT_EQ(b[4], 0x4C);
  EXPECT_EQ(b[5], 0x48);
  EXPECT_EQ(b[6], 0x01);
  EXPECT_EQ(b[7], 0x00);
}

// ---- hostile files ------------------------------------------------------------------

// A track file in either byte order from plain values.
struct FileSpec {
  bool bigEndian = false;
  const char* magic = "P2D";
  uint16_t version = 1;
  uint32_t ids = 1;
  uint32_t scenes = 1;
  double lengthPerPixel = 2.0;
  int32_t yAxis = -1;
  Bytes unit = {'p', 'x'};
  std::vector<P2dPoint> points = {{3.0, 4.0}};
};

template <class T>
void Put(Bytes& out, T v, bool bigEndian)
{
  uint8_t b[sizeof(T)];
  memcpy(b, &v, sizeof(T));
  if (bigEndian) std::reverse(b, b + sizeof(T));
  out.insert(out.end(), b, b + sizeof(T));
}

Bytes Build(const FileSpec& s)
{
  Bytes out(s.magic, s.magic + 4);
  out.push_back(s.bigEndian ? 0x48 : 0x4C);
  out.push_back(s.bigEndian ? 0x4C : 0x48);
  Put(out, s.version, s.bigEndian);
  Put(out, s.ids, s.bigEndian);
  Put(out, s.scenes, s.bigEndian);
  Put(out, s.lengthPerPixel, s.bigEndian);
  Put(out, s.yAxis, s.bigEndian);
  Bytes unit = s.unit;
  unit.resize(12, 0);
  out.insert(out.end(), unit.begin(), unit.end());
  for (const P2dPoint& p : s.points) {
    Put(out, p.x, s.bigEndian);
    Put(out, p.y, s.bigEndian);
  }
  return out;
}

// A table that every failed load must leave as it was.
void MakeSentinel(CP2dData& t)
{
  ASSERT_EQ(t.Create(2, 1), 1);
  t.SetPoint(1, 0, {7.0, 8.0});
  P2dSetUnit(&t.calibration, L"cm");
}

void ExpectSentinel(CP2dData& t)
{
  EXPECT_EQ(t.header.ids, 2u);
  EXPECT_EQ(t.header.scenes, 1u);
  EXPECT_STREQ(t.calibration.unit, "cm");
  ASSERT_NE(t.points, nullptr);
  EXPECT_EQ(t.points[1].x, 7.0);
  EXPECT_EQ(t.points[1].y, 8.0);
}

TEST(P2dFile, HostileFilesAreRefusedWithTheirCodeAndTheOldTableStays)
{
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  using LayoutEdit = void (*)(FileSpec&);
  using ByteEdit = void (*)(Bytes&);
  struct Case {
    const char* name;
    LayoutEdit layout;   // before the file is built, or null
    ByteEdit bytes;  // after, or null
    uint32_t error;  // 0: loads
  };
  const Case cases[] = {
      {"15 bytes", nullptr, [](Bytes& b) { b.resize(15); }, 1},
      {"empty", nullptr, [](Bytes& b) { b.clear(); }, 1},
      {"magic as a number", [](FileSpec& s) { s.magic = "\x00\x44\x32\x50"; }, nullptr, 3},
      {"magic lower case", [](FileSpec& s) { s.magic = "p2d"; }, nullptr, 3},
      {"version 2", [](FileSpec& s) { s.version = 2; }, nullptr, 4},
      {"version 0xFFFF", [](FileSpec& s) { s.version = 0xFFFF; }, nullptr, 4},
      {"version 0", [](FileSpec& s) { s.version = 0; }, nullptr, 0},
      {"0 x 0", [](FileSpec& s) { s.ids = 0; s.scenes = 0; s.points.clear(); }, nullptr, 6},
      {"IDs 2^20 + 1", [](FileSpec& s) { s.ids = (1u << 20) + 1; s.scenes = 0; s.points.clear(); }, nullptr, 6},
      {"scenes 2^20 + 1", [](FileSpec& s) { s.scenes = (1u << 20) + 1; s.ids = 0; s.points.clear(); }, nullptr, 6},
      {"IDs 2^32 - 1", [](FileSpec& s) { s.ids = 0xFFFFFFFFu; }, nullptr, 6},
      {"IDs 2^20 without scenes", [](FileSpec& s) { s.ids = 1u << 20; s.scenes = 0; s.points.clear(); }, nullptr, 0},
      {"40 bytes claiming 1000 x 1000", [](FileSpec& s) { s.ids = 1000; s.scenes = 1000; s.points.clear(); }, nullptr, 1},
      {"2^20 x 2^20 in 40 bytes", [](FileSpec& s) { s.ids = 1u << 20; s.scenes = 1u << 20; s.points.clear(); }, nullptr, 1},
      {"cut inside the calibration", nullptr, [](Bytes& b) { b.resize(30); }, 1},
      {"cut inside the points", nullptr, [](Bytes& b) { b.pop_back(); }, 1},
      {"cut after the calibration", nullptr, [](Bytes& b) { b.resize(40); }, 1},
      {"extra bytes ignored", nullptr, [](Bytes& b) { b.insert(b.end(), 100, 0xEE); }, 0},
      {"3 x 0 loads with no points", [](FileSpec& s) { s.ids = 3; s.scenes = 0; s.points.clear(); }, nullptr, 0},
      {"0 x 2 loads with no points", [](FileSpec& s) { s.ids = 0; s.scenes = 2; s.points.clear(); }, nullptr, 0},
  };
  for (bool big : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (big ? " (big-endian)" : " (little-endian)"));
      FileSpec s;
      s.bigEndian = big;
      if (c.layout) c.layout(s);
      Bytes b = Build(s);
      if (c.bytes) c.bytes(b);
      CP2dData t;
      MakeSentinel(t);
      const int32_t r = LoadBytes(t, b);
      EXPECT_EQ(t.error, c.error);
      if (c.error) {
        EXPECT_EQ(r, 0);
        ExpectSentinel(t);
        continue;
      }
      ASSERT_EQ(r, 1);
      EXPECT_EQ(t.header.ids, s.ids);
      EXPECT_EQ(t.header.scenes, s.scenes);
      EXPECT_EQ(t.header.byteOrder, P2dByteOrderNative);
      EXPECT_EQ(t.calibration.lengthPerPixel, 2.0);
      EXPECT_EQ(t.calibration.yAxis, -1);
      EXPECT_STREQ(t.calibration.unit, "px");
      EXPECT_EQ(t.points != nullptr, uint64_t(s.ids) * s.scenes != 0);
      if (t.points) {
        EXPECT_EQ(t.points[0].x, 3.0);
        EXPECT_EQ(t.points[0].y, 4.0);
      }
    }
  }
  // A path that cannot be opened.
  CP2dData t;
  MakeSentinel(t);
  EXPECT_EQ(t.Load(OutPath("no_such_folder/none.p2d").c_str()), 0);
  EXPECT_EQ(t.error, 1u);
  ExpectSentinel(t);

  // Units and points that load, but read as less than they claim.
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    FileSpec s;
    s.bigEndian = big;
    s.ids = 7;
    s.points = {{inf, 1.0}, {1.0, nan}, {1e300, 5.0}, {-1.0, 7.5}, {3.0, -0.5}, {16777216.0, 0.0}, {16777215.0, 0.0}};
    s.unit = Bytes(12, 'a');
    CP2dData t2;
    ASSERT_EQ(LoadBytes(t2, Build(s)), 1);
    EXPECT_STREQ(t2.calibration.unit, "aaaaaaaaaaa");  // byte 11 forced to 0
    for (int i = 0; i < 6; ++i) {
      P2dPoint p;
      ASSERT_EQ(t2.GetPoint(i, 0, &p), 1);
      EXPECT_FALSE(P2dPointCounts(p)) << i;
      EXPECT_EQ(p.x, -1.0) << i;
      EXPECT_EQ(p.y, -1.0) << i;
    }
    P2dPoint last;
    ASSERT_EQ(t2.GetPoint(6, 0, &last), 1);
    EXPECT_TRUE(P2dPointCounts(last));

    s.unit = {'m', 0xFF, 'm'};
    ASSERT_EQ(LoadBytes(t2, Build(s)), 1);
    wchar_t* unit = P2dUnitToWide(t2.calibration);
    ASSERT_NE(unit, nullptr);
    EXPECT_STREQ(unit, L"");
    free(unit);
  }
}

TEST(P2dFile, RecordOperationsReportThroughTheLastErrorWord)
{
  FileSpec s;
  Bytes good = Build(s);
  FILE* f = fmemopen(good.data(), good.size(), "rb");
  ASSERT_NE(f, nullptr);
  P2dHeader h;
  P2dCalibration c;
  P2dPoint p;
  P2dLastError = 4;  // the reads that succeed leave it as it was, except the points
  ASSERT_EQ(ReadP2dHeader(f, &h), 1);
  ASSERT_EQ(ReadP2dCalibration(f, &c, h.byteOrder), 1);
  EXPECT_EQ(P2dLastError, 4u);
  ASSERT_EQ(ReadP2dPoints(f, 1, &p, h.byteOrder), 1);  // point by point, as the particle reader
  EXPECT_EQ(P2dLastError, 0u);
  EXPECT_EQ(p.x, 3.0);
  EXPECT_EQ(ReadP2dPoints(f, 1, &p, h.byteOrder), 0);  // nothing left
  EXPECT_EQ(P2dLastError, 1u);
  EXPECT_EQ(ReadP2dPoints(f, 0, &p, h.byteOrder), 0);
  EXPECT_EQ(P2dLastError, 6u);
  EXPECT_EQ(ReadP2dPoints(nullptr, 1, &p, h.byteOrder), 0);
  EXPECT_EQ(P2dLastError, 6u);
  P2dLastError = 0;
  EXPECT_EQ(ReadP2dHeader(f, nullptr), 0);
  EXPECT_EQ(P2dLastError, 6u);
  EXPECT_EQ(WriteP2dCalibration(f, nullptr), 0);
  EXPECT_EQ(P2dLastError, 6u);
  rewind(f);
  EXPECT_EQ(WriteP2dHeader(f, &h), 0);  // a read-only stream: the write falls short
  EXPECT_EQ(P2dLastError, 1u);
  fclose(f);

  Bytes badVersion = good;
  badVersion[6] = 9;
  f = fmemopen(badVersion.data(), badVersion.size(), "rb");
  P2dLastError = 0;
  EXPECT_EQ(ReadP2dHeader(f, &h), 0);
  EXPECT_EQ(P2dLastError, 4u);
  fclose(f);
}

// ---- unit and point helpers ---------------------------------------------------------

TEST(P2dUnit, WideUnitsAreCutAtACharacterBoundaryAndBadTextReadsAsNoUnit)
{
  struct Case {
    const wchar_t* unit;
    const char* stored;
  };
  const Case cases[] = {
      {L"mm", "mm"},
      {L"", ""},
      {nullptr, ""},
      {L"abcdefghijk", "abcdefghijk"},
      {L"abcdefghijklmn", "abcdefghijk"},
      {L"\u00B5\u00B5\u00B5\u00B5\u00B5\u00B5", "\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5"},  // 12 bytes: 10
      {L"\u30DF\u30EA\u30E1\u30FC\u30C8\u30EB", "\xE3\x83\x9F\xE3\x83\xAA\xE3\x83\xA1"},      // 18 bytes: 9
      {L"a\U0001F600\U0001F600\U0001F600", "a\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},               // 13 bytes: 9
  };
  for (const Case& c : cases) {
    P2dCalibration cal;
    memset(&cal, 0x55, sizeof(cal));
    P2dSetUnit(&cal, c.unit);
    EXPECT_STREQ(cal.unit, c.stored);
    for (size_t i = strlen(c.stored); i < 12; ++i) EXPECT_EQ(cal.unit[i], 0) << i;
    wchar_t* back = P2dUnitToWide(cal);
    ASSERT_NE(back, nullptr);
    wchar_t* expected = Utf8ToWide(c.stored);
    EXPECT_STREQ(back, expected);
    free(back);
    free(expected);
  }
  const char* bad[] = {"\xFF", "ab\xE3\x83", "\xC0\xAF", "\xED\xA0\x80", "a\x80"};
  for (const char* b : bad) {
    P2dCalibration cal = {};
    strcpy(cal.unit, b);
    wchar_t* w = P2dUnitToWide(cal);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w, L"") << b;
    free(w);
  }
}

TEST(P2dPoint, OnlyFiniteCoordinatesFrom0Below2To24Count)
{
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    P2dPoint p;
    bool counts;
  } cases[] = {
      {{0.0, 0.0}, true},      {{10.5, 3.25}, true},   {{16777215.9, 1.0}, true}, {{-1.0, -1.0}, false},
      {{-1.0, 7.5}, false},    {{3.0, -0.5}, false},   {{-0.0, 2.0}, true},       {{16777216.0, 1.0}, false},
      {{1e300, 1.0}, false},   {{inf, 1.0}, false},    {{1.0, -inf}, false},      {{nan, 1.0}, false},
      {{1.0, nan}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(P2dPointCounts(c.p), c.counts) << c.p.x << ", " << c.p.y;
}

// ---- table --------------------------------------------------------------------------

void Fill(CP2dData& t)
{
  for (uint32_t s = 0; s < t.header.scenes; ++s)
    for (uint32_t i = 0; i < t.header.ids; ++i) t.SetPoint(i, s, {double(10 * i + s), double(100 + s)});
}

void ExpectFilled(CP2dData& t, uint32_t ids, uint32_t scenes)
{
  for (uint32_t s = 0; s < t.header.scenes; ++s)
    for (uint32_t i = 0; i < t.header.ids; ++i) {
      P2dPoint p;
      ASSERT_EQ(t.GetPoint(i, s, &p), 1);
      if (i < ids && s < scenes) {
        EXPECT_EQ(p.x, double(10 * i + s)) << i << " " << s;
        EXPECT_EQ(p.y, double(100 + s));
      } else {
        EXPECT_EQ(p.x, -1.0) << i << " " << s;
        EXPECT_EQ(p.y, -1.0);
      }
    }
}

TEST(P2dTable, ColumnsAndRowsGrowAndShrinkKeepingEveryPoint)
{
  CP2dData t;
  ASSERT_EQ(t.Create(2, 3), 1);
  Fill(t);
  EXPECT_EQ(t.AddTrack(), 2);
  EXPECT_EQ(t.header.ids, 3u);
  ExpectFilled(t, 2, 3);
  ASSERT_EQ(t.SetFrameCount(2), 1);
  EXPECT_EQ(t.header.scenes, 2u);
  ExpectFilled(t, 2, 2);
  ASSERT_EQ(t.SetFrameCount(5), 1);
  EXPECT_EQ(t.header.scenes, 5u);
  ExpectFilled(t, 2, 2);

  // Removing column 0 moves column 1 down.
  CP2dData r;
  ASSERT_EQ(r.Create(3, 2), 1);
  Fill(r);
  ASSERT_EQ(r.RemoveTrack(0), 1);
  EXPECT_EQ(r.header.ids, 2u);
  P2dPoint p;
  ASSERT_EQ(r.GetPoint(0, 1, &p), 1);
  EXPECT_EQ(p.x, 11.0);
  ASSERT_EQ(r.GetPoint(1, 1, &p), 1);
  EXPECT_EQ(p.x, 21.0);
  EXPECT_EQ(r.RemoveTrack(2), 0);
  EXPECT_EQ(r.error, 6u);

  // Columns without scenes are counts only; the first row makes the table.
  CP2dData e;
  EXPECT_EQ(e.AddTrack(), 0);
  EXPECT_EQ(e.AddTrack(), 1);
  EXPECT_EQ(e.points, nullptr);
  ASSERT_EQ(e.SetFrameCount(1), 1);
  ASSERT_NE(e.points, nullptr);
  ASSERT_EQ(e.GetPoint(1, 0, &p), 1);
  EXPECT_EQ(p.x, -1.0);
  ASSERT_EQ(e.SetFrameCount(0), 1);
  EXPECT_EQ(e.points, nullptr);
  EXPECT_EQ(e.header.ids, 2u);

  // Outside the table: error 6, nothing read or stored.
  p = {5.0, 5.0};
  EXPECT_EQ(t.GetPoint(3, 0, &p), 0);
  EXPECT_EQ(t.error, 6u);
  EXPECT_EQ(p.x, 5.0);
  EXPECT_EQ(t.GetPoint(0, -1, &p), 0);
  EXPECT_EQ(t.SetPoint(0, 5, {1.0, 1.0}), 0);
  EXPECT_EQ(t.error, 6u);
  EXPECT_EQ(t.Create(0, 0), 0);
  EXPECT_EQ(t.error, 6u);
  EXPECT_EQ(t.header.ids, 3u);  // unchanged
}

TEST(P2dTable, FailedAllocationsLeaveTheTableAsItWas)
{
  CP2dData t;
  ASSERT_EQ(t.Create(2, 3), 1);
  Fill(t);
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(t.AddTrack(), -1);
  EXPECT_EQ(t.error, 2u);
  EXPECT_EQ(t.header.ids, 2u);
  ExpectFilled(t, 2, 3);
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(t.SetFrameCount(7), 0);
  EXPECT_EQ(t.error, 2u);
  EXPECT_EQ(t.header.scenes, 3u);
  ExpectFilled(t, 2, 3);
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(t.RemoveTrack(0), 0);
  EXPECT_EQ(t.error, 2u);
  EXPECT_EQ(t.header.ids, 2u);
  ExpectFilled(t, 2, 3);

  // A load whose table cannot be had: error 2, the old table stays.
  FailTrackAllocationForTesting(1);
  EXPECT_EQ(LoadBytes(t, kExampleLE), 0);
  EXPECT_EQ(t.error, 2u);
  ExpectFilled(t, 2, 3);

  FailTrackAllocationForTesting(1);
  EXPECT_EQ(t.Create(4, 4), 0);
  EXPECT_EQ(t.error, 2u);
  EXPECT_EQ(t.header.ids, 0u);
  EXPECT_EQ(t.points, nullptr);
  FailTrackAllocationForTesting(0);
}

// Names in the folder that start with prefix.
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix)
{
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d))
    if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
  closedir(d);
  return names;
}

TEST(P2dTable, SavesThatFailLeaveTheExistingFileAndNoLeftovers)
{
  const std::string folder = OutPath("p2d_save");
  mkdir(folder.c_str(), 0777);
  const std::string path = folder + "/kept.p2d";
  WriteFile(path, kExampleLE);

  // Nothing to save: IDs without scenes.
  CP2dData empty;
  ASSERT_EQ(empty.AddTrack(), 0);
  EXPECT_EQ(empty.Save(path.c_str()), 0);
  EXPECT_EQ(empty.error, 5u);
  EXPECT_EQ(ReadFile(path), kExampleLE);
  const std::string fresh = folder + "/fresh.p2d";
  unlink(fresh.c_str());
  EXPECT_EQ(empty.Save(fresh.c_str()), 0);
  EXPECT_FALSE(FileExists(fresh));

  // A write that falls short: the file size limit stops the points half way.
  CP2dData big;
  ASSERT_EQ(big.Create(100, 100), 1);
  Fill(big);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t saved = big.Save(path.c_str());
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(big.error, 1u);
  EXPECT_EQ(P2dLastError, 1u);
  EXPECT_EQ(ReadFile(path), kExampleLE);

  // The rename fails: a folder stands at the target.
  const std::string folderTarget = folder + "/a_folder.p2d";
  mkdir(folderTarget.c_str(), 0777);
  EXPECT_EQ(big.Save(folderTarget.c_str()), 0);
  EXPECT_EQ(big.error, 1u);

  // The folder cannot be written to at all.
  EXPECT_EQ(big.Save((folder + "/no_such/x.p2d").c_str()), 0);
  EXPECT_EQ(big.error, 1u);

  // No temporary file is left behind by any of them.
  EXPECT_TRUE(FilesStartingWith(folder, "kept.p2d.").empty());
  EXPECT_TRUE(FilesStartingWith(folder, "a_folder.p2d.").empty());

  // A successful save replaces the file whole.
  ASSERT_EQ(big.Save(path.c_str()), 1);
  CP2dData back;
  ASSERT_EQ(back.Load(path.c_str()), 1);
  ExpectFilled(back, 100, 100);
  EXPECT_TRUE(FilesStartingWith(folder, "kept.p2d.").empty());
}

// ---- mutation run -------------------------------------------------------------------

struct Rng {
  uint64_t s;
  uint32_t Next()
  {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(s >> 33);
  }
};

TEST(P2dFile, DamagedCopiesOfTheExampleLoadCleanlyOrFail)
{
  for (const Bytes* base : {&kExampleLE, &kExampleBE}) {
    ASSERT_EQ(FuzzP2dLoad(base->data(), base->size()), 1);
    // Every byte takes telling values.
    const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x10, 0xF0};
    for (size_t at = 0; at < base->size(); ++at)
      for (uint8_t v : values) {
        Bytes m = *base;
        m[at] = v;
        FuzzP2dLoad(m.data(), m.size());
      }
    // Every truncation, and the file with bytes appended.
    for (size_t n = 1; n <= base->size(); ++n) EXPECT_EQ(FuzzP2dLoad(base->data(), n), n == base->size() ? 1 : 0);
    Bytes longer = *base;
    longer.resize(longer.size() + 33, 0xAB);
    EXPECT_EQ(FuzzP2dLoad(longer.data(), longer.size()), 1);
    // 32-bit counts near the limits at both count fields.
    const uint32_t words[] = {0, 1, 2, 3, 4, 0x100000, 0x100001, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    for (size_t field : {size_t(8), size_t(12)})
      for (uint32_t w : words)
        for (bool swap : {false, true}) {
          Bytes m = *base;
          uint8_t b[4];
          memcpy(b, &w, 4);
          if (swap) std::reverse(b, b + 4);
          memcpy(m.data() + field, b, 4);
          FuzzP2dLoad(m.data(), m.size());
        }
    // Seeded random damage of one to eight bytes.
    Rng rng{base == &kExampleLE ? 1u : 2u};
    for (int round = 0; round < 20000; ++round) {
      Bytes m = *base;
      const int n = 1 + int(rng.Next() % 8);
      for (int k = 0; k < n; ++k) m[rng.Next() % m.size()] = uint8_t(rng.Next());
      FuzzP2dLoad(m.data(), m.size());
    }
  }
}

}  // namespace
