// ptvfile.cpp - the particle store written to and read from a track file.
// Each scene is one row of the file: filled in one pass over the scene's records and
// written as one block; read as one block and stored with one sizing of the scene.
#include "measure/ptvfile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "measure/particles.h"
#include "measure/track_alloc.h"

namespace {

int32_t Fail(uint32_t code)
{
  P2dLastError = code;
  return 0;
}

}  // namespace

int32_t PtvWriteP2d(FILE* file, CParticleData* store, const P2dCalibration& calibration)
{
  P2dLastError = 0;
  if (!file || !store) return Fail(P2dErrorArgument);
  const int32_t ids = store->IdCount();
  const int32_t scenes = store->sceneCount;
  // A file the readers would refuse is not written at all.
  if (ids < 0 || uint32_t(ids) > P2dMaxCount || uint32_t(scenes) > P2dMaxCount) return Fail(P2dErrorArgument);
  P2dPoint* row = nullptr;
  uint8_t* seen = nullptr;
  if (ids > 0 && scenes > 0) {
    row = static_cast<P2dPoint*>(TrackAlloc(size_t(ids) * sizeof(P2dPoint)));
    seen = static_cast<uint8_t*>(TrackAlloc(size_t(ids)));
    if (!row || !seen) {
      free(row);
      free(seen);
      return Fail(P2dErrorMemory);
    }
  }
  P2dHeader header;
  memcpy(header.magic, "P2D", 4);
  header.byteOrder = P2dByteOrderNative;
  header.version = P2dVersion;
  header.ids = uint32_t(ids);
  header.scenes = uint32_t(scenes);
  int32_t ok = WriteP2dHeader(file, &header) && WriteP2dCalibration(file, &calibration);
  for (int32_t s = 0; ok && row && s < scenes; ++s) {
    std::fill(row, row + ids, P2dNoPoint);
    memset(seen, 0, size_t(ids));
    const SceneParticles& sp = store->scenes[s];
    for (int32_t i = 0; i < sp.count; ++i) {
      const ParticleRecord& r = sp.records[i];
      if (r.id < 0 || r.id >= ids || seen[r.id]) continue;
      seen[r.id] = 1;  // the first record of an ID stands for it, valid or not
      const P2dPoint point = {r.x, r.y};
      if (r.valid && P2dPointCounts(point)) row[r.id] = point;
    }
    ok = WriteP2dPoints(file, uint64_t(ids), row);
  }
  free(row);
  free(seen);
  if (!ok) return 0;
  P2dLastError = 0;
  return 1;
}

int32_t PtvReadP2d(FILE* file, CParticleData* store, P2dCalibration* calibration)
{
  P2dLastError = 0;
  if (!file || !store) return Fail(P2dErrorArgument);
  const int64_t left = P2dBytesLeft(file);
  if (left < 0) return Fail(P2dErrorFile);
  P2dHeader header;
  if (!ReadP2dHeader(file, &header)) return 0;
  P2dCalibration read;
  if (!ReadP2dCalibration(file, &read, header.byteOrder)) return 0;
  // Counts are at most 2^20 each (the header reader's cap), so neither the product nor the
  // signed conversions below can overflow; a file too short for its table is refused
  // before any memory is asked for.
  const uint64_t count = uint64_t(header.ids) * header.scenes;
  if (uint64_t(sizeof(P2dHeader) + sizeof(P2dCalibration)) + count * sizeof(P2dPoint) > uint64_t(left))
    return Fail(P2dErrorFile);
  const int32_t ids = int32_t(header.ids), scenes = int32_t(header.scenes);
  CParticleData loaded;
  if (scenes > 0 && !loaded.SetFrameCount(scenes)) return Fail(P2dErrorMemory);
  P2dPoint* row = nullptr;
  if (ids > 0 && scenes > 0) {
    row = static_cast<P2dPoint*>(TrackAlloc(size_t(ids) * sizeof(P2dPoint)));
    if (!row) return Fail(P2dErrorMemory);
  }
  int32_t highest = -1;
  for (int32_t s = 0; row && s < scenes; ++s) {
    if (!ReadP2dPoints(file, uint64_t(ids), row, header.byteOrder)) {
      free(row);
      return 0;
    }
    int32_t n = 0;
    for (int32_t i = 0; i < ids; ++i) n += P2dPointCounts(row[i]) ? 1 : 0;
    if (n == 0) continue;
    if (!loaded.SetParticleCount(s, n)) {
      free(row);
      return Fail(P2dErrorMemory);
    }
    SceneParticles& sp = loaded.scenes[s];
    int32_t k = 0;
    for (int32_t i = 0; i < ids; ++i)
      if (P2dPointCounts(row[i])) sp.records[k++] = {i, 1, row[i].x, row[i].y};
    sp.highestId = sp.records[n - 1].id;
    highest = std::max(highest, sp.highestId);
  }
  free(row);
  loaded.idCount = highest + 1;
  store->TakeFrom(loaded);
  if (calibration) *calibration = read;
  P2dLastError = 0;
  return 1;
}
