// p2d_fuzz.h - the shared body of the track-file fuzz target and of the deterministic
// mutation test: the input is loaded from memory through the stream loader.  Any input
// must end in a clean failure (an error code, no table) or a table whose counts fit the
// input and whose points are all either positions or no point.
#pragma once
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "measure/p2d.h"

// 1 when the input loaded, 0 when it was refused; aborts when a promise is broken.
inline int FuzzP2dLoad(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty block; the tests cover it by file
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!fp) return 0;
  CP2dData table;
  int32_t ok = table.Load(fp);
  fclose(fp);
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
