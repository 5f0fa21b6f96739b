// track_alloc.h - memory of the track table and the tracker's target list, with a hook that
// lets tests make one allocation fail as if memory ran out.
#pragma once
#include <cstddef>
#include <cstdint>

// malloc and realloc, unless the hook says this one fails (null then; realloc leaves the
// old block as it was).
void* TrackAlloc(size_t bytes);
void* TrackRealloc(void* block, size_t bytes);

// Test hook: the n-th allocation through TrackAlloc or TrackRealloc from now on fails
// (1 = the next one); 0 switches the hook off.
void FailTrackAllocationForTesting(int32_t n);
