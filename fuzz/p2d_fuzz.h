// p2d_fuzz.h - the shared body of the track-file fuzz target and of the deterministic
// mutation test: the input is loaded from memory through the stream loader of the track
// table and through the particle-tracking reader.  Any input must end in a clean failure
// (an error code, no table, the store as it was) or a table whose counts fit the input and
// whose points are all either positions or no point, and a store that holds exactly the
// table's positions.
#pragma once
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "measure/p2d.h"
#include "measure/particles.h"
#include "measure/ptvfile.h"

// The particle reader on the same bytes: a refused file leaves the store's one scene as it
// was; a loaded one holds one valid particle per position of the table, in ID order.
inline void FuzzPtvRead(const uint8_t* data, size_t size, CP2dData* table) {
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!fp) return;
  CParticleData store;
  if (!store.SetFrameCount(1) || store.AddParticle(0, {0, 1, 1.0, 1.0}) != 0) abort();
  P2dCalibration calibration;
  int32_t ok = PtvReadP2d(fp, &store, &calibration);
  fclose(fp);
  if (!ok) {
    if (table || P2dLastError == P2dErrorNone || P2dLastError > P2dErrorArgument) abort();
    if (store.sceneCount != 1 || store.scenes[0].count != 1 || store.IdCount() != 1) abort();
    return;
  }
  if (calibration.unit[11] != 0) abort();
  if (!table) {
    // Only a file without IDs and scenes loads here but not as a table.
    if (store.sceneCount != 0 || store.IdCount() != 0) abort();
    return;
  }
  const uint32_t ids = table->header.ids;
  if (uint32_t(store.sceneCount) != table->header.scenes || uint32_t(store.IdCount()) > ids) abort();
  for (int32_t s = 0; s < store.sceneCount; ++s) {
    int32_t k = 0;
    const SceneParticles& sp = store.scenes[s];
    for (uint32_t i = 0; i < ids; ++i) {
      const P2dPoint& p = table->points[uint64_t(s) * ids + i];
      if (!P2dPointCounts(p)) continue;
      if (k >= sp.count) abort();
      const ParticleRecord& r = sp.records[k++];
      if (r.id != int32_t(i) || !r.valid || r.x != p.x || r.y != p.y) abort();
    }
    if (k != sp.count) abort();
  }
}

// 1 when the input loaded, 0 when it was refused; aborts when a promise is broken.
inline int FuzzP2dLoad(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty block; the tests cover it by file
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!fp) return 0;
  CP2dData table;
  int32_t ok = table.Load(fp);
  fclose(fp);
  FuzzPtvRead(data, size, ok ? &table : nullptr);
  if (!ok) {
    if (table.error == P2dErrorNone || table.error > P2dErrorArgument || table.points) abort();
    return 0;
  }
  const uint64_t count = uint64_t(table.header.ids) * table.header.scenes;
  if (40 + 16 * count > size || (count != 0) != (table.points != nullptr)) abort();
  for (uint64_t i = 0; i < count; ++i) {
    const P2dPoint& p = table.points[i];
    if (!P2dPointCounts(p) && !(p.x == -1.0 && p.y == -1.0)) abort();
  }
  if (table.calibration.unit[11] != 0) abort();
  wchar_t* unit = P2dUnitToWide(table.calibration);
  if (unit && wcslen(unit) > 11) abort();
  free(unit);
  return 1;
}
