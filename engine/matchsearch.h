// matchsearch.h - what the levels of the whole-pixel template search share between
// match.cpp (planning, the plain row worker, merging) and matchstretch.cpp (the row worker of
// the contrast-stretched search).
//
//   Best              a scored position with its distance to the tie centre
//   Better            the total order of positions: score, distance, y, x
//   SearchJob         one level's search: planes, window, centre, cancel, shared best
//   StretchedSearchRows  the row worker for normalised gray and R, G, B searches
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/match.h"
#include "engine/regionplane.h"

struct Best {
  double score;
  double dist;
  int32_t x, y;
};

// (score, squared distance to the centre, y, x): a total order over positions, so the best
// of a level is the same however its rows were split and in whatever order they were scored.
inline bool Better(const Best& a, const Best& b) {
  if (a.score != b.score) return a.score < b.score;
  if (a.dist != b.dist) return a.dist < b.dist;
  if (a.y != b.y) return a.y < b.y;
  return a.x < b.x;
}

struct SearchJob {
  const ComparePlane* img;
  const ComparePlane* tpl;
  int32_t normalise;
  int32_t x0, x1, y0;   // clamped window (rows are counted from y0)
  int32_t px0, py0;     // level position of plane pixel (0, 0)
  int32_t cx, cy;
  MatchCancelFn cancel;
  void* user;
  PlatformLock* lock;
  // Shared, written only under the lock.
  int32_t merged;
  Best best;
  std::atomic<int32_t> cancelled;
  std::atomic<int32_t> failed;  // a piece could not get its scratch memory
};

// Offers a piece's best to the job, once, under the lock.
void MergeBest(SearchJob& job, const Best& mine);

// Candidate rows first .. first + count - 1 of a normalised gray or R, G, B search: the same
// positions and scores as the plain worker, with the extremes of every region from sliding
// windows, regions that share extremes stretched once as a block, vector sums, and positions
// left as soon as their sum passes the piece's best.
void StretchedSearchRows(void* ctx, uint64_t first, uint64_t count);
