// ptvedit.h - what the particle tracker does with its tracks once they exist: the edits of
// the "edit" page (erase, split, join), the vector grid of the "ptv" page, the texts of the
// TRACK DATA and VECTOR DATA tables, and the id lookup they all share.
//
//   PtvIdIndex           per scene, the track ids sorted with the index of each id's first
//                        record, so a lookup by id is a binary search, not a scan
//   PtvEraseData, PtvSplitId, PtvConcatIds   the three edits, 1-based ids and scenes as typed
//   PtvBuildVectorGridScenes                 the mean displacement per cell for a scene range
//   PtvTrackCellText, PtvVectorCellText      the table texts
//   PtvTrackExtremes                         where the track table's widest numbers lie
//
// A run may leave 4,096 particles per scene and 10^5 tracks; a scan per cell, drawn track
// or grid vector would make a table save, an "ALL" overlay or a grid build quadratic.
#pragma once
#include <cstdint>
#include <vector>

#include "measure/csvviewer.h"
#include "measure/flowdata.h"
#include "measure/particles.h"

class PtvIdIndex {
 public:
  // Rebuilt after every run, load or edit of the store.  0 when memory is short (index empty).
  int32_t Build(const CParticleData& data);
  void Clear();
  // The first record of the id in the scene, as CParticleData::GetParticle finds it; null
  // when there is none or the index does not cover the scene.
  const ParticleRecord* Find(const CParticleData& data, int32_t scene, int32_t id) const;
  int32_t SceneCount() const { return int32_t(m_start.size() > 0 ? m_start.size() - 1 : 0); }

 private:
  std::vector<int64_t> m_start;   // per scene, the first entry of its run in m_entries
  std::vector<int64_t> m_entries; // (id << 32) | record index, sorted within each scene
};

// The edits answer with this: kPtvEditBadInput means nothing changed and the user is told
// "The input content is incorrect".
constexpr int32_t kPtvEditDone = 1;
constexpr int32_t kPtvEditBadInput = 0;

// Removes track id (1-based) from scenes first to last (1-based, inclusive).
int32_t PtvEraseData(CParticleData* data, int32_t id, int32_t first, int32_t last);
// Moves track id's particles from scene (1-based) on to the new id IdCount; the caller adds
// the new list item even when nothing moved.
int32_t PtvSplitId(CParticleData* data, int32_t id, int32_t scene);
// Fills id1's missing scenes from id2, then removes id2 (the ids above it move down one).
int32_t PtvConcatIds(CParticleData* data, int32_t id1, int32_t id2);

// Vectors of scenes first to first + count - 1 of grid from the store (scene 0 keeps
// zeros); sets *failed when its work arrays cannot be had.  Each call writes only the
// frames of its own scenes, so ranges may run in parallel.
void PtvBuildVectorGridScenes(const CParticleData& data, const PtvIdIndex& index, CFlowData* grid, int32_t first,
                              int32_t count, int32_t* failed);

// What the tables need to know besides the store and the grid.
struct PtvTableContext {
  const CParticleData* data = nullptr;
  const PtvIdIndex* index = nullptr;
  const CFlowData* grid = nullptr;
  double scale = 1.0;          // calibrated length per pixel
  int32_t axisY = 1;           // -1: y counts upward from the bottom row
  int32_t sourceHeight = 0;
  const wchar_t* unit = L"";
  int32_t japanese = 0;
  int64_t frameMicroseconds = 0;  // 0: no frame time (stills, numbered sequences)
};

// Alignment out: 0 centred, 1 right.  The text lives in a buffer of each function's own,
// valid until its next call.
const wchar_t* PtvTrackCellText(const PtvTableContext& context, uint64_t column, uint64_t row, int32_t* align);
// ids[k] (k below count) filled from the records the track table shows: the first record
// of track k in each scene.
void PtvTrackExtremes(const CParticleData& data, TrackColumnExtremes* ids, uint64_t count);
const wchar_t* PtvVectorCellText(const PtvTableContext& context, uint64_t column, uint64_t row, int32_t* align);
// Table sizes: 2 x ids + 1 columns, scenes + 2 rows; 0 x 0 when there is nothing to show.
void PtvTrackTableSize(CParticleData& data, uint64_t* columns, uint64_t* rows);
void PtvVectorTableSize(const CFlowData& grid, uint64_t* columns, uint64_t* rows);

// The whole grid over the store's scenes in parallel; 0 when a piece ran short of memory
// or the grid is empty.  The grid's vectors and flags are the only thing written.
int32_t PtvBuildVectorGrid(const CParticleData& data, const PtvIdIndex& index, CFlowData* grid);
