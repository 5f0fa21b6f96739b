// track_fuzz.cpp - LOAD of the 2D tracker (CTrackCtrl::LoadTracks) on a track file from
// memory.  A refused file keeps the target on screen and its table, unless the load got as
// far as replacing them (then nothing is left); a loaded one gives one plain 11 x 11 box
// per ID, owned by the tracker, and a table with the row of the current scene.
#include "fuzz/cfg_fuzz.h"
#include "measure/track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzMemoryFile file(data, size);
  if (!file.ok()) return 0;
  CTrackCtrl tracker;
  auto* kept = new CTrack;
  kept->w = kept->h = 5;
  if (tracker.AddTrack(kept) != 0) abort();
  if (!tracker.LoadTracks(file.path())) {
    const bool replaced = tracker.trackCount == 0;
    if (replaced ? tracker.table.header.ids != 0 || tracker.table.points
                 : tracker.trackCount != 1 || tracker.tracks[0] != kept || tracker.table.header.ids != 1)
      abort();
    return 0;
  }
  const uint32_t ids = tracker.table.header.ids;
  if (uint32_t(tracker.trackCount) != ids || ids > (1u << 20) || tracker.trackCapacity < tracker.trackCount) abort();
  if (ids > 0 && tracker.table.header.scenes == 0) abort();  // the current scene's row
  for (int32_t i = 0; i < tracker.trackCount; ++i) {
    const CTrack* t = tracker.tracks[i];
    if (t->owner != &tracker || t->kind != 0 || t->w != 11 || t->h != 11) abort();
  }
  return 0;
}
