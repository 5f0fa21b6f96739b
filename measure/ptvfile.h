// ptvfile.h - the particle store as a track file ".p2d", shared with the 2D tracker: one ID
// per track, one row per scene, (-1, -1) where a track has no valid particle.
//
//   PtvWriteP2d   writes header, calibration and points of a store to an open stream
//   PtvReadP2d    fills a store from an open stream; a failed read leaves it as it was
#pragma once
#include <cstdint>
#include <cstdio>

#include "measure/p2d.h"

class CParticleData;

// IDs = store.IdCount(), scenes = the store's scene count.  The point of an ID in a scene
// is that of the scene's first record with the ID when its valid flag is set and it is a
// position (P2dPointCounts), else (-1, -1).  1, or 0 with P2dLastError: 6 for a null stream
// or counts beyond what a track file may hold, 2 when memory is short, 1 for a failed write.
int32_t PtvWriteP2d(FILE* file, CParticleData* store, const P2dCalibration& calibration);

// Reads a whole track file from the stream's position.  The file's sizes are checked
// against the stream before memory is taken; every point that counts becomes a valid
// particle of its ID, in ID order.  On success the store is replaced, its ID count is 1 +
// the highest ID that received a particle, and calibration (may be null) receives the
// file's calibration as read.  0 with P2dLastError (1, 2, 3, 4 or 6) and the store and
// calibration untouched otherwise.
int32_t PtvReadP2d(FILE* file, CParticleData* store, P2dCalibration* calibration);
