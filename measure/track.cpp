// track.cpp - the 2D tracker: its targets and panels, the box placement before a target is
// located, the two runs over the scenes, and the editing of tracks (clear, merge, split,
// load).  The owner answers through the virtual operations; nothing here knows a window.
// Inside: targets and panels - owner defaults - target list - positions and steps - runs -
//         editing
#include "measure/track.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/imgbuff.h"
#include "measure/track_alloc.h"

// ---- targets and panels -------------------------------------------------------------

CTrack::CTrack() : owner(nullptr), kind(TrackKindBox), lost(0), x(0), y(0), w(1), h(1) {}
CTrack::~CTrack() = default;
void CTrack::DrawPreview(CImgBuff*) {}
int32_t CTrack::Locate(CImgBuff*, double*, double*) { return 0; }
void CTrack::Reserved() {}
CTrack* CTrack::Clone() const { return new (std::nothrow) CTrack(*this); }

void CTrack::CentreOn(double px, double py)
{
  // Callers pass counted points or predictions from two of them, so |p| < 2^26 and the
  // results stay well inside 32 bits for any box size.
  x = int32_t(std::trunc(px - (w - 1) * 0.5));
  y = int32_t(std::trunc(py - (h - 1) * 0.5));
}

CTrackPanel::~CTrackPanel() = default;
void CTrackPanel::DrawPreview(CImgBuff*) {}
void CTrackPanel::Build(int32_t, int32_t, int32_t, int32_t, int32_t, const wchar_t*) {}
CTrack* CTrackPanel::CreateTrack() { return nullptr; }
void CTrackPanel::LoadFromTrack(CTrack*) {}
void CTrackPanel::StoreToTrack(CTrack*) {}
void CTrackPanel::ResetPicking() {}
int32_t CTrackPanel::OnProcess(CImgBuff*, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, int32_t, int32_t)
{
  return 1;
}
int32_t CTrackPanel::OnMouseMove(int32_t, int32_t) { return 1; }
int32_t CTrackPanel::OnLButtonDown(int32_t, int32_t, uint32_t) { return 1; }
int32_t CTrackPanel::OnLButtonUp(int32_t, int32_t) { return 1; }
int32_t CTrackPanel::OnRButtonDown(int32_t, int32_t) { return 1; }
int32_t CTrackPanel::OnRButtonUp(int32_t, int32_t) { return 1; }

// ---- owner defaults -----------------------------------------------------------------

CTrackCtrl::~CTrackCtrl()
{
  // Directly rather than by RemoveTrack(0), which may refuse when memory is short and
  // would then leave targets behind.
  RemoveAllTracks();
  table.Clear();
}

int32_t CTrackCtrl::GetSceneRange(int32_t*, int32_t*) { return 0; }
int32_t CTrackCtrl::GoToScene(int32_t) { return 0; }
int32_t CTrackCtrl::GetCurrentScene() { return 0; }
int32_t CTrackCtrl::Yield() { return 0; }
void CTrackCtrl::Redraw() {}
CImgBuff* CTrackCtrl::GetSceneImage() { return nullptr; }
int32_t CTrackCtrl::WaitManualInput(int32_t, int32_t, int32_t*, int32_t*) { return 0; }
void CTrackCtrl::OpenOptions() {}

// ---- target list --------------------------------------------------------------------

int32_t CTrackCtrl::AddTrack(CTrack* target)
{
  if (!target || target->w < 1 || target->h < 1) return -1;
  // A box wholly left of or above the picture can never see a pixel of it.
  if (int64_t(target->x) + target->w - 1 < 0 || int64_t(target->y) + target->h - 1 < 0) return -1;
  const int32_t scene = GetCurrentScene();
  if (trackCount == INT32_MAX) return -1;
  // Grown by half again rather than by one: a track file may bring a million IDs, and
  // growing one entry at a time would copy the array a million times.
  if (trackCount == trackCapacity && !ReserveTracks(std::max<int64_t>(8, int64_t(trackCapacity) * 3 / 2))) return -1;
  tracks[trackCount++] = target;
  target->owner = this;
  // Targets and columns go together, so one column at most is missing; one attempt only.
  if (table.header.ids < uint32_t(trackCount)) table.AddTrack();
  if (table.header.ids < uint32_t(trackCount)) {
    // Without a column of its own the target would read and write its neighbour's points:
    // hand it back to the caller.
    --trackCount;
    target->owner = nullptr;
    if (trackCount == 0) {
      free(tracks);
      tracks = nullptr;
      trackCapacity = 0;
    }
    return -1;
  }
  if (scene >= 0 && int64_t(table.header.scenes) < int64_t(scene) + 1) table.SetFrameCount(uint32_t(scene) + 1);
  return trackCount - 1;
}

int32_t CTrackCtrl::RemoveTrack(int32_t index)
{
  if (!ValidTarget(index)) return 0;
  // The smaller table first: when it cannot be had, column i must stay target i's.
  if (int64_t(index) < int64_t(table.header.ids)) {
    if (!table.RemoveTrack(index)) return 0;
  } else {
    table.error = P2dErrorArgument;
  }
  delete tracks[index];
  memmove(tracks + index, tracks + index + 1, size_t(trackCount - 1 - index) * sizeof(CTrack*));
  if (--trackCount == 0) {
    free(tracks);
    tracks = nullptr;
    trackCapacity = 0;
  }
  return 1;
}

void CTrackCtrl::RemoveAllTracks()
{
  for (int32_t i = 0; i < trackCount; ++i) delete tracks[i];
  free(tracks);
  tracks = nullptr;
  trackCount = 0;
  trackCapacity = 0;
}

int32_t CTrackCtrl::ReserveTracks(int64_t capacity)
{
  if (capacity <= trackCapacity) return 1;
  if (capacity > INT32_MAX) capacity = INT32_MAX;
  auto grown = static_cast<CTrack**>(TrackRealloc(tracks, size_t(capacity) * sizeof(CTrack*)));
  if (!grown) return 0;
  tracks = grown;
  trackCapacity = int32_t(capacity);
  return 1;
}

void CTrackCtrl::ClearLostFlags()
{
  for (int32_t i = 0; i < trackCount; ++i) tracks[i]->lost = 0;
}

// ---- positions and steps ------------------------------------------------------------

int32_t CTrackCtrl::GetPosition(int32_t target, int32_t scene, int32_t step, double* x, double* y)
{
  // Any other step would look at the same scenes again or skip some.
  if (step != 1 && step != -1) return 0;
  const int64_t scenes = table.header.scenes;
  if (target < 0 || int64_t(target) >= int64_t(table.header.ids) || scene < 0 || scene >= scenes) return 0;
  P2dPoint p;
  auto found = [&](int64_t s) {
    if (!table.GetPoint(target, s, &p) || !P2dPointCounts(p)) return false;
    if (x) *x = p.x;
    if (y) *y = p.y;
    return true;
  };
  if (found(scene)) return 1;
  // Back against the direction of tracking first (where the track came from), then ahead.
  for (int64_t s = int64_t(scene) - step; s >= 0 && s < scenes; s -= step)
    if (found(s)) return 1;
  for (int64_t s = int64_t(scene) + step; s >= 0 && s < scenes; s += step)
    if (found(s)) return 1;
  if (x) *x = 0.0;
  if (y) *y = 0.0;
  return 0;
}

void CTrackCtrl::StepTrack(int32_t target, int32_t scene, int32_t step, int32_t predict)
{
  if (!ValidTarget(target) || scene < 0 || int64_t(scene) >= int64_t(table.header.scenes)) return;
  CTrack* track = tracks[target];
  double px, py;
  if (GetPosition(target, scene, step, &px, &py)) track->CentreOn(px, py);
  const bool inside = step > 0 ? scene >= 2 : int64_t(scene) + 2 < int64_t(table.header.scenes);
  if (!predict || step == 0 || !inside) return;
  // Constant velocity from the two scenes before this one in the tracking direction.
  P2dPoint p1, p2;
  if (table.GetPoint(target, int64_t(scene) - step, &p1) && P2dPointCounts(p1) &&
      table.GetPoint(target, int64_t(scene) - 2 * int64_t(step), &p2) && P2dPointCounts(p2))
    track->CentreOn(2.0 * p1.x - p2.x, 2.0 * p1.y - p2.y);
}

void CTrackCtrl::TrackFrame(const CImgBuff* picture, int32_t target, int32_t scene, int32_t step, int32_t predict,
                            int32_t manual)
{
  if (!ValidTarget(target) || tracks[target]->lost) return;
  currentTarget = target;
  currentScene = scene;
  skip = 0;
  StepTrack(target, scene, step, predict);

  P2dPoint point = P2dNoPoint;
  bool found = false;
  CTrack* track = tracks[target];
  if (!manual && picture && picture->Pixels()) {
    // The box clipped to the picture; a box wholly outside crops nothing.
    const int64_t x0 = track->x > 0 ? track->x : 0;
    const int64_t y0 = track->y > 0 ? track->y : 0;
    int64_t x1 = int64_t(track->x) + track->w - 1;
    int64_t y1 = int64_t(track->y) + track->h - 1;
    if (x1 > picture->Width() - 1) x1 = picture->Width() - 1;
    if (y1 > picture->Height() - 1) y1 = picture->Height() - 1;
    CImgBuff crop;
    double lx, ly;
    if (x0 <= x1 && y0 <= y1 && picture->Crop(crop, int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)) &&
        track->Locate(&crop, &lx, &ly)) {
      point = {lx + double(x0), ly + double(y0)};
      // An answer that is no position (NaN, far outside) is no answer: the user decides.
      found = P2dPointCounts(point);
      if (!found) point = P2dNoPoint;
    }
  }
  if (!found) {
    int32_t mx = 0, my = 0;
    const int32_t answered = WaitManualInput(target, scene, &mx, &my);
    // The owner's handlers run during the wait; the target may be gone.
    if (!ValidTarget(target)) return;
    track = tracks[target];
    if (answered) {
      point = {double(mx), double(my)};
    } else {
      track->lost = 1;
    }
  }
  if (skip) {
    skip = 0;  // the user skipped this scene: its point and the box stay
    return;
  }
  if (!Yield()) {
    table.SetPoint(target, scene, point);
    if (!Yield() && P2dPointCounts(point) && ValidTarget(target)) tracks[target]->CentreOn(point.x, point.y);
  }
  skip = 0;
}

// ---- runs ---------------------------------------------------------------------------

namespace {

// The run's own copy of the owner's scene picture (null: empty).
void CopySceneImage(CImgBuff* from, CImgBuff& run)
{
  if (from && from != &run) run.CopyFrom(*from);
  else if (!from) run.Free();
}

}  // namespace

void CTrackCtrl::RunTracking(int32_t step, int32_t predict, int32_t manual)
{
  currentTarget = -1;
  currentScene = -1;
  int32_t first = 0, last = -1;
  // A step of 0 would track the same scene for ever.
  if ((step != 1 && step != -1) || !GetSceneRange(&first, &last) || trackCount == 0) return;
  ClearLostFlags();
  CImgBuff picture;
  for (int64_t scene = step > 0 ? first : last; scene >= first && scene <= last; scene += step) {
    for (int32_t t = 0; t < trackCount; ++t) StepTrack(t, int32_t(scene), step, predict);
    if (!GoToScene(int32_t(scene))) break;
    CopySceneImage(GetSceneImage(), picture);
    currentScene = int32_t(scene);
    bool stop = false;
    int32_t alive = 0;
    for (int32_t t = 0; t < trackCount; ++t) {
      if (Yield()) {
        stop = true;
        break;
      }
      TrackFrame(&picture, t, int32_t(scene), step, predict, manual);
      if (ValidTarget(t) && !tracks[t]->lost) ++alive;
    }
    if (stop || alive == 0) break;
  }
  ClearLostFlags();
  Redraw();
}

void CTrackCtrl::RunTrackingSelected(int32_t step, int32_t predict, int32_t only, int32_t manual)
{
  currentTarget = -1;
  currentScene = -1;
  int32_t first = 0, last = -1;
  if ((step != 1 && step != -1) || !GetSceneRange(&first, &last) || trackCount == 0) return;
  int32_t from = 0, to = trackCount - 1;
  if (only != -1) {
    if (only < 0 || only >= trackCount) return;
    from = to = only;
  }
  ClearLostFlags();
  CImgBuff picture;
  for (int32_t t = from; t <= to && t < trackCount; ++t) {
    currentTarget = t;
    for (int64_t scene = step > 0 ? first : last; scene >= first && scene <= last; scene += step) {
      StepTrack(t, int32_t(scene), step, predict);
      if (!GoToScene(int32_t(scene))) break;
      CopySceneImage(GetSceneImage(), picture);
      currentScene = int32_t(scene);
      if (Yield()) break;
      TrackFrame(&picture, t, int32_t(scene), step, predict, manual);
      if (!ValidTarget(t) || tracks[t]->lost) break;
    }
    if (Yield()) break;
  }
  ClearLostFlags();
  Redraw();
}

// ---- editing ------------------------------------------------------------------------

int32_t CTrackCtrl::ClearRange(int32_t target, int32_t first, int32_t last)
{
  if (target < 0 || int64_t(target) >= int64_t(table.header.ids) || first < 0 ||
      int64_t(last) >= int64_t(table.header.scenes) || first > last)
    return 0;
  for (int32_t s = first; s <= last; ++s) table.SetPoint(target, s, P2dNoPoint);
  return 1;
}

int32_t CTrackCtrl::MergeTracks(int32_t a, int32_t b)
{
  // Merging a track into itself would end in removing it with all its points.
  if (a == b || !ValidTarget(a) || !ValidTarget(b)) return 0;
  for (uint32_t s = 0; s < table.header.scenes; ++s) {
    P2dPoint pa, pb;
    if (table.GetPoint(a, s, &pa) && !P2dPointCounts(pa) && table.GetPoint(b, s, &pb) && P2dPointCounts(pb))
      table.SetPoint(a, s, pb);
  }
  return RemoveTrack(b);
}

int32_t CTrackCtrl::SplitTrack(int32_t target, int32_t scene)
{
  if (!ValidTarget(target) || scene < 0) return 0;
  int64_t from = -1;
  P2dPoint p;
  for (int64_t s = scene; s < int64_t(table.header.scenes) && from < 0; ++s)
    if (table.GetPoint(target, s, &p) && P2dPointCounts(p)) from = s;
  if (from < 0) return 0;
  CTrack* copy = tracks[target]->Clone();
  if (!copy) return 0;
  const int32_t id = AddTrack(copy);
  if (id < 0) {
    delete copy;
    return 0;
  }
  for (int64_t s = from; s < int64_t(table.header.scenes); ++s) {
    if (table.GetPoint(target, s, &p) && P2dPointCounts(p)) {
      table.SetPoint(id, s, p);
      table.SetPoint(target, s, P2dNoPoint);
    }
  }
  return 1;
}

int32_t CTrackCtrl::LoadTracks(const char* path)
{
  // Into a table of its own first: a file that does not load must not cost the user the
  // tracks on screen.
  CP2dData loaded;
  if (!loaded.Load(path)) {
    table.error = loaded.error;
    return 0;
  }
  RemoveAllTracks();
  table.TakeFrom(loaded);
  const int32_t scene = GetCurrentScene();
  const uint32_t ids = table.header.ids;
  // The whole target array at once (the header caps IDs at 2^20): a file of IDs without
  // scenes is 40 bytes, and must not cost more than one allocation per target.
  if (!ReserveTracks(ids)) {
    table.Clear();
    table.error = P2dErrorMemory;
    return 0;
  }
  for (uint32_t i = 0; i < ids; ++i) {
    double px = 0.0, py = 0.0;
    GetPosition(int32_t(i), scene, 1, &px, &py);
    CTrack* track = new (std::nothrow) CTrack;
    if (track) {
      track->x = int32_t(std::trunc(px)) - 5;
      track->y = int32_t(std::trunc(py)) - 5;
      track->w = 11;
      track->h = 11;
    }
    if (!track || AddTrack(track) < 0) {
      delete track;
      RemoveAllTracks();
      table.Clear();
      return 0;
    }
  }
  return 1;
}
