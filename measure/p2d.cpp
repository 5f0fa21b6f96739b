// p2d.cpp - the track file ".p2d": the six record operations on a stream, the unit and
// point helpers, and the track table CP2dData that loads and saves whole files.
// A file's sizes are checked against the file before memory is taken, and a table is
// replaced only by a load that succeeded.
// Inside: allocation - byte order - record operations - unit and points - safe save - table
#include "measure/p2d.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/safefile.h"
#include "core/text.h"
#include "measure/track_alloc.h"

// The record operations write numbers as they stand in memory, and the file is to be
// little-endian; a big-endian port would reverse them on the way out.
static_assert(std::endian::native == std::endian::little, "track files are written little-endian");

uint32_t P2dLastError = 0;

// ---- allocation ---------------------------------------------------------------------

namespace {

int32_t g_failAllocAt = 0;

bool ForcedFailure()
{
  if (g_failAllocAt <= 0) return false;
  return --g_failAllocAt == 0;
}

// Room for count points; null when the count does not fit in 32 bits or memory is short.
// Every table size stays below 2^32 points, which no real track table comes near.
P2dPoint* AllocPoints(uint64_t count)
{
  if (count == 0 || count > UINT32_MAX) return nullptr;
  return static_cast<P2dPoint*>(TrackAlloc(size_t(count) * sizeof(P2dPoint)));
}

void FillNoPoint(P2dPoint* points, uint64_t count)
{
  std::fill(points, points + count, P2dNoPoint);
}

}  // namespace

void* TrackAlloc(size_t bytes)
{
  if (ForcedFailure()) return nullptr;
  return malloc(bytes);
}

void* TrackRealloc(void* block, size_t bytes)
{
  if (ForcedFailure()) return nullptr;
  return realloc(block, bytes);
}

void FailTrackAllocationForTesting(int32_t n) { g_failAllocAt = n > 0 ? n : 0; }

// ---- byte order ---------------------------------------------------------------------

namespace {

template <class T>
void Reverse(T* value)
{
  auto bytes = reinterpret_cast<unsigned char*>(value);
  std::reverse(bytes, bytes + sizeof(T));
}

bool ReadWhole(FILE* file, void* buffer, size_t size, size_t count)
{
  return fread(buffer, size, count, file) == count;
}

bool WriteWhole(FILE* file, const void* buffer, size_t size, size_t count)
{
  return fwrite(buffer, size, count, file) == count;
}

int32_t Fail(uint32_t code)
{
  P2dLastError = code;
  return 0;
}

}  // namespace

// ---- record operations --------------------------------------------------------------

int32_t ReadP2dHeader(FILE* file, P2dHeader* header)
{
  if (!file || !header) return Fail(P2dErrorArgument);
  if (!ReadWhole(file, header, sizeof(P2dHeader), 1)) return Fail(P2dErrorFile);
  // Compared as stored: a writer of the other byte order that wrote the magic as a number
  // has no "P2D" at the start and is not a track file of ours.
  if (memcmp(header->magic, "P2D", 4) != 0) return Fail(P2dErrorMagic);
  if (header->byteOrder != P2dByteOrderNative) {
    Reverse(&header->version);
    Reverse(&header->ids);
    Reverse(&header->scenes);
  }
  if (header->version > P2dVersion) return Fail(P2dErrorVersion);
  if (header->ids > P2dMaxCount || header->scenes > P2dMaxCount) return Fail(P2dErrorArgument);
  return 1;
}

int32_t WriteP2dHeader(FILE* file, const P2dHeader* header)
{
  if (!file || !header) return Fail(P2dErrorArgument);
  P2dHeader out = *header;
  out.byteOrder = P2dByteOrderNative;
  out.version = P2dVersion;
  if (!WriteWhole(file, &out, sizeof(out), 1)) return Fail(P2dErrorFile);
  return 1;
}

int32_t ReadP2dCalibration(FILE* file, P2dCalibration* calibration, uint16_t byteOrder)
{
  if (!file || !calibration) return Fail(P2dErrorArgument);
  if (!ReadWhole(file, calibration, sizeof(P2dCalibration), 1)) return Fail(P2dErrorFile);
  if (byteOrder != P2dByteOrderNative) {
    Reverse(&calibration->lengthPerPixel);
    Reverse(&calibration->yAxis);
  }
  // Twelve bytes of text without a terminator would run every reader past the field.
  calibration->unit[sizeof(calibration->unit) - 1] = 0;
  return 1;
}

int32_t WriteP2dCalibration(FILE* file, const P2dCalibration* calibration)
{
  if (!file || !calibration) return Fail(P2dErrorArgument);
  if (!WriteWhole(file, calibration, sizeof(P2dCalibration), 1)) return Fail(P2dErrorFile);
  return 1;
}

int32_t ReadP2dPoints(FILE* file, uint64_t count, P2dPoint* points, uint16_t byteOrder)
{
  P2dLastError = 0;
  if (!file || !points || count == 0 || count > SIZE_MAX / sizeof(P2dPoint)) return Fail(P2dErrorArgument);
  if (!ReadWhole(file, points, sizeof(P2dPoint), size_t(count))) return Fail(P2dErrorFile);
  for (uint64_t i = 0; i < count; ++i) {
    if (byteOrder != P2dByteOrderNative) {
      Reverse(&points[i].x);
      Reverse(&points[i].y);
    }
    if (!P2dPointCounts(points[i])) points[i] = P2dNoPoint;
  }
  return 1;
}

int32_t WriteP2dPoints(FILE* file, uint64_t count, const P2dPoint* points)
{
  if (!file || !points || count == 0 || count > SIZE_MAX / sizeof(P2dPoint)) return Fail(P2dErrorArgument);
  if (!WriteWhole(file, points, sizeof(P2dPoint), size_t(count))) return Fail(P2dErrorFile);
  return 1;
}

// ---- unit and points ----------------------------------------------------------------

bool P2dPointCounts(const P2dPoint& point)
{
  // Written so that NaN fails every comparison and so counts as no point.
  constexpr double kLimit = 16777216.0;  // 2^24
  return point.x >= 0.0 && point.x < kLimit && point.y >= 0.0 && point.y < kLimit;
}

void P2dSetUnit(P2dCalibration* calibration, const wchar_t* unit)
{
  if (!calibration) return;
  memset(calibration->unit, 0, sizeof(calibration->unit));
  char* utf8 = unit ? WideToUtf8(unit) : nullptr;
  if (!utf8) return;
  size_t length = strlen(utf8);
  size_t cut = std::min(length, sizeof(calibration->unit) - 1);
  // Back to the start of the character the cut would split (continuation bytes 10xxxxxx).
  while (cut > 0 && cut < length && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  memcpy(calibration->unit, utf8, cut);
  free(utf8);
}

wchar_t* P2dUnitToWide(const P2dCalibration& calibration)
{
  char unit[sizeof(calibration.unit)];
  memcpy(unit, calibration.unit, sizeof(unit));
  unit[sizeof(unit) - 1] = 0;
  wchar_t* wide = Utf8ToWide(unit);
  if (!wide) return nullptr;
  // The decoder turns malformed bytes into U+FFFD; valid UTF-8, and only valid UTF-8,
  // comes back byte for byte when encoded again, so a difference means the unit was not
  // text and it is shown as no unit rather than as replacement marks.
  char* again = WideToUtf8(wide);
  bool valid = again && strcmp(again, unit) == 0;
  free(again);
  if (valid) return wide;
  free(wide);
  return static_cast<wchar_t*>(calloc(1, sizeof(wchar_t)));
}

// ---- safe save ----------------------------------------------------------------------

bool P2dSaveBeside(const char* path, bool (*write)(FILE*, void*), void* context)
{
  SafeFile out;
  if (!SafeFileOpen(&out, path)) return false;
  if (!write(out.stream, context)) {
    SafeFileAbort(&out);
    return false;
  }
  return SafeFileCommit(&out) == 1;
}

int64_t P2dBytesLeft(FILE* file)
{
  off_t start = ftello(file);
  if (start < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
  off_t end = ftello(file);
  if (fseeko(file, start, SEEK_SET) != 0 || end < start) return -1;
  return int64_t(end - start);
}

namespace {

bool WriteTable(FILE* file, void* context)
{
  const CP2dData* table = static_cast<const CP2dData*>(context);
  P2dLastError = 0;
  if (!WriteP2dHeader(file, &table->header)) return false;
  P2dLastError = 0;
  if (!WriteP2dCalibration(file, &table->calibration)) return false;
  P2dLastError = 0;
  return WriteP2dPoints(file, uint64_t(table->header.ids) * table->header.scenes, table->points) != 0;
}

// Reads a whole track file from the stream into the empty table into; 0 or the error code.
uint32_t LoadInto(FILE* file, CP2dData& into)
{
  int64_t left = P2dBytesLeft(file);
  if (left < 0) return P2dErrorFile;
  P2dHeader header;
  P2dLastError = 0;
  if (!ReadP2dHeader(file, &header)) return P2dLastError;
  if (header.ids == 0 && header.scenes == 0) return P2dErrorArgument;
  // Counts are at most 2^20 each, so this cannot wrap; a table the file cannot hold is
  // refused before its memory is asked for.
  uint64_t count = uint64_t(header.ids) * header.scenes;
  if (uint64_t(sizeof(P2dHeader) + sizeof(P2dCalibration)) + count * sizeof(P2dPoint) > uint64_t(left))
    return P2dErrorFile;
  if (!into.Create(header.ids, header.scenes)) return into.error;
  P2dLastError = 0;
  if (!ReadP2dCalibration(file, &into.calibration, header.byteOrder)) return P2dLastError;
  if (count && !ReadP2dPoints(file, count, into.points, header.byteOrder)) return P2dLastError;
  into.header = header;
  into.header.byteOrder = P2dByteOrderNative;  // the table now holds native numbers
  return P2dErrorNone;
}

}  // namespace

// ---- table --------------------------------------------------------------------------

CP2dData::CP2dData() : points(nullptr) { Clear(); }

CP2dData::~CP2dData() { free(points); }

void CP2dData::Clear()
{
  free(points);
  points = nullptr;
  error = P2dErrorNone;
  memcpy(header.magic, "P2D", 4);
  header.byteOrder = P2dByteOrderNative;
  header.version = P2dVersion;
  header.ids = 0;
  header.scenes = 0;
  calibration.lengthPerPixel = 1.0;
  calibration.yAxis = 1;
  memset(calibration.unit, 0, sizeof(calibration.unit));
  P2dLastError = 0;
}

int32_t CP2dData::Create(uint32_t ids, uint32_t scenes)
{
  error = P2dErrorNone;
  if (ids == 0 && scenes == 0) {
    error = P2dErrorArgument;
    return 0;
  }
  Clear();
  uint64_t count = uint64_t(ids) * scenes;
  if (count) {
    points = AllocPoints(count);
    if (!points) {
      error = P2dErrorMemory;
      return 0;
    }
    FillNoPoint(points, count);
  }
  header.ids = ids;
  header.scenes = scenes;
  return 1;
}

int32_t CP2dData::Load(const char* path)
{
  error = P2dErrorNone;
  FILE* file = path ? fopen(path, "rb") : nullptr;
  if (!file) {
    error = P2dErrorFile;
    return 0;
  }
  int32_t ok = Load(file);
  fclose(file);
  return ok;
}

int32_t CP2dData::Load(FILE* file)
{
  error = P2dErrorNone;
  if (!file) {
    error = P2dErrorFile;
    return 0;
  }
  CP2dData loaded;
  uint32_t code = LoadInto(file, loaded);
  if (code != P2dErrorNone) {
    error = code;
    return 0;
  }
  TakeFrom(loaded);
  return 1;
}

int32_t CP2dData::Save(const char* path)
{
  error = P2dErrorNone;
  if (uint64_t(header.ids) * header.scenes == 0 || !points) {
    error = P2dErrorNothing;
    return 0;
  }
  if (!P2dSaveBeside(path, WriteTable, this)) {
    // A failure before the first write (no folder, no right to create) says nothing in
    // P2dLastError yet.
    error = P2dErrorFile;
    P2dLastError = P2dErrorFile;
    return 0;
  }
  return 1;
}

int32_t CP2dData::AddTrack()
{
  error = P2dErrorNone;
  if (header.ids == UINT32_MAX) {
    error = P2dErrorMemory;
    return -1;
  }
  const uint32_t ids = header.ids;
  const uint32_t scenes = header.scenes;
  if (scenes == 0) {
    ++header.ids;
    return int32_t(ids);
  }
  P2dPoint* grown = AllocPoints(uint64_t(ids + 1) * scenes);
  if (!grown) {
    error = P2dErrorMemory;
    return -1;
  }
  for (uint32_t s = 0; s < scenes; ++s) {
    P2dPoint* row = grown + uint64_t(s) * (ids + 1);
    if (points) memcpy(row, points + uint64_t(s) * ids, ids * sizeof(P2dPoint));
    else FillNoPoint(row, ids);
    row[ids] = P2dNoPoint;
  }
  free(points);
  points = grown;
  ++header.ids;
  return int32_t(ids);
}

int32_t CP2dData::RemoveTrack(int64_t id)
{
  error = P2dErrorNone;
  const uint32_t ids = header.ids;
  const uint32_t scenes = header.scenes;
  if (id < 0 || id >= int64_t(ids)) {
    error = P2dErrorArgument;
    return 0;
  }
  if (scenes == 0 || ids == 1) {
    free(points);
    points = nullptr;
    --header.ids;
    return 1;
  }
  P2dPoint* shrunk = AllocPoints(uint64_t(ids - 1) * scenes);
  if (!shrunk) {
    error = P2dErrorMemory;
    return 0;
  }
  for (uint32_t s = 0; s < scenes; ++s) {
    const P2dPoint* from = points + uint64_t(s) * ids;
    P2dPoint* to = shrunk + uint64_t(s) * (ids - 1);
    memcpy(to, from, size_t(id) * sizeof(P2dPoint));
    memcpy(to + id, from + id + 1, size_t(ids - 1 - id) * sizeof(P2dPoint));
  }
  free(points);
  points = shrunk;
  --header.ids;
  return 1;
}

int32_t CP2dData::SetFrameCount(uint32_t n)
{
  error = P2dErrorNone;
  const uint32_t ids = header.ids;
  if (n == header.scenes) return 1;
  if (n == 0) {
    free(points);
    points = nullptr;
    header.scenes = 0;
    return 1;
  }
  if (ids == 0) {
    header.scenes = n;
    return 1;
  }
  P2dPoint* table = AllocPoints(uint64_t(ids) * n);
  if (!table) {
    error = P2dErrorMemory;
    return 0;
  }
  FillNoPoint(table, uint64_t(ids) * n);
  if (points) memcpy(table, points, uint64_t(ids) * std::min(header.scenes, n) * sizeof(P2dPoint));
  free(points);
  points = table;
  header.scenes = n;
  return 1;
}

int32_t CP2dData::GetPoint(int64_t id, int64_t scene, P2dPoint* point)
{
  error = P2dErrorNone;
  if (!point || !points || id < 0 || id >= int64_t(header.ids) || scene < 0 || scene >= int64_t(header.scenes)) {
    error = P2dErrorArgument;
    return 0;
  }
  *point = points[uint64_t(scene) * header.ids + uint64_t(id)];
  return 1;
}

int32_t CP2dData::SetPoint(int64_t id, int64_t scene, const P2dPoint& point)
{
  error = P2dErrorNone;
  if (!points || id < 0 || id >= int64_t(header.ids) || scene < 0 || scene >= int64_t(header.scenes)) {
    error = P2dErrorArgument;
    return 0;
  }
  points[uint64_t(scene) * header.ids + uint64_t(id)] = point;
  return 1;
}

void CP2dData::TakeFrom(CP2dData& other)
{
  if (&other == this) return;
  free(points);
  error = P2dErrorNone;
  header = other.header;
  calibration = other.calibration;
  points = other.points;
  other.points = nullptr;
  other.Clear();
}
