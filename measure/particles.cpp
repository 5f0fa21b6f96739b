// particles.cpp - the particle store of particle tracking and the linking of four
// consecutive particle lists into tracks.
// Inside: store - window buffers - buckets - linking rules - window step
#include "measure/particles.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "measure/track_alloc.h"

// ---- store ----------------------------------------------------------------------------

CParticleData::~CParticleData() { Clear(); }

void CParticleData::Clear()
{
  for (int32_t s = 0; s < sceneCount; ++s) free(scenes[s].records);
  free(scenes);
  scenes = nullptr;
  sceneCount = 0;
  idCount = 0;
}

int32_t CParticleData::SetFrameCount(int32_t n)
{
  if (n < 1) return 0;
  auto table = static_cast<SceneParticles*>(TrackAlloc(size_t(n) * sizeof(SceneParticles)));
  if (!table) return 0;
  const int32_t kept = std::min(n, sceneCount);
  if (kept > 0) memcpy(table, scenes, size_t(kept) * sizeof(SceneParticles));
  for (int32_t s = kept; s < n; ++s) table[s] = {-1, 0, 0, nullptr};
  for (int32_t s = n; s < sceneCount; ++s) free(scenes[s].records);
  free(scenes);
  scenes = table;
  sceneCount = n;
  return 1;
}

int32_t CParticleData::SetParticleCount(int32_t scene, int32_t n)
{
  if (scene < 0 || scene >= sceneCount || n < 0) return 0;
  SceneParticles& sp = scenes[scene];
  ParticleRecord* records = nullptr;
  if (n > 0) {
    records = static_cast<ParticleRecord*>(TrackAlloc(size_t(n) * sizeof(ParticleRecord)));
    if (!records) return 0;
    const int32_t kept = std::min(n, sp.count);
    if (kept > 0) memcpy(records, sp.records, size_t(kept) * sizeof(ParticleRecord));
    for (int32_t i = std::max(kept, 0); i < n; ++i) records[i] = {-1, 0, 0.0, 0.0};
  }
  free(sp.records);
  sp.records = records;
  sp.count = n;
  return 1;
}

int32_t CParticleData::IdCount()
{
  if (idCount != 0) return idCount;
  int32_t highest = -1;
  for (int32_t s = 0; s < sceneCount; ++s) highest = std::max(highest, scenes[s].highestId);
  idCount = highest + 1;
  return idCount;
}

int32_t CParticleData::GetParticle(int32_t scene, int32_t id, ParticleRecord* out) const
{
  if (scene < 0 || scene >= sceneCount || id < 0) return 0;
  const SceneParticles& sp = scenes[scene];
  for (int32_t i = 0; i < sp.count; ++i) {
    if (sp.records[i].id == id) {
      if (out) *out = sp.records[i];
      return 1;
    }
  }
  return 0;
}

int32_t CParticleData::HighestOf(int32_t scene) const
{
  const SceneParticles& sp = scenes[scene];
  int32_t highest = -1;
  for (int32_t i = 0; i < sp.count; ++i) highest = std::max(highest, sp.records[i].id);
  return highest;
}

int32_t CParticleData::RemoveParticle(int32_t scene, int32_t id)
{
  if (scene < 0 || scene >= sceneCount || id < 0) return 0;
  SceneParticles& sp = scenes[scene];
  int32_t at = 0;
  while (at < sp.count && sp.records[at].id != id) ++at;
  if (at == sp.count) return 0;
  memmove(sp.records + at, sp.records + at + 1, size_t(sp.count - at - 1) * sizeof(ParticleRecord));
  --sp.count;
  if (sp.highestId == id) {
    sp.highestId = HighestOf(scene);
    if (idCount == id + 1) {
      int32_t highest = -1;
      for (int32_t s = 0; s < sceneCount; ++s) highest = std::max(highest, scenes[s].highestId);
      idCount = highest + 1;
    }
  }
  return 1;
}

int32_t CParticleData::RemoveId(int32_t id)
{
  if (id < 0) return 0;
  for (int32_t s = 0; s < sceneCount; ++s) {
    SceneParticles& sp = scenes[s];
    int32_t kept = 0;
    for (int32_t i = 0; i < sp.count; ++i) {
      ParticleRecord r = sp.records[i];
      if (r.id == id) continue;
      if (r.id > id) --r.id;
      sp.records[kept++] = r;
    }
    sp.count = kept;
    if (kept == 0) {
      free(sp.records);
      sp.records = nullptr;
    }
    // The records above id were renumbered, so a highest id above it moves down with them;
    // left as it was, a later recount of the ID count would find an id nobody has.
    if (sp.highestId == id) sp.highestId = HighestOf(s);
    else if (sp.highestId > id) --sp.highestId;
  }
  if (idCount != 0) --idCount;
  return 1;
}

int32_t CParticleData::AddParticle(int32_t scene, const ParticleRecord& record)
{
  if (scene < 0 || scene >= sceneCount) return -1;
  SceneParticles& sp = scenes[scene];
  int32_t index = -1;
  if (sp.count < INT32_MAX && SetParticleCount(scene, sp.count + 1)) {
    index = sp.count - 1;
    sp.records[index] = record;
  }
  if (record.id > sp.highestId) {
    sp.highestId = record.id;
    if (idCount < record.id + 1) idCount = record.id + 1;
  }
  return index;
}

void CParticleData::TakeFrom(CParticleData& other)
{
  if (&other == this) return;
  Clear();
  scenes = other.scenes;
  sceneCount = other.sceneCount;
  idCount = other.idCount;
  other.scenes = nullptr;
  other.sceneCount = 0;
  other.idCount = 0;
}

// ---- window buffers -------------------------------------------------------------------

int32_t PtvWindowCreate(PtvWindow* window, int32_t capacity)
{
  *window = PtvWindow{};
  if (capacity < 1) return 0;
  // Enough cells for a fine grid over any spread of the points, bounded so that a tiny
  // radius over a large picture cannot ask for a huge table.
  const int32_t cells = 2 * capacity + 64;
  bool ok = true;
  auto take = [&](size_t bytes) {
    void* p = TrackAlloc(bytes);
    ok = ok && p;
    return p;
  };
  for (int k = 0; k < 4; ++k) {
    window->lists[k].records = static_cast<ParticleRecord*>(take(size_t(capacity) * sizeof(ParticleRecord)));
    window->lists[k].capacity = capacity;
    window->buckets[k].start = static_cast<int32_t*>(take(size_t(cells + 1) * sizeof(int32_t)));
    window->buckets[k].items = static_cast<int32_t*>(take(size_t(capacity) * sizeof(int32_t)));
    window->byId[k] = static_cast<int64_t*>(take(size_t(capacity) * sizeof(int64_t)));
  }
  window->scratch = static_cast<int32_t*>(take(size_t(capacity) * sizeof(int32_t)));
  window->cellCapacity = cells;
  window->listCapacity = capacity;
  if (!ok) {
    PtvWindowFree(window);
    return 0;
  }
  return 1;
}

void PtvWindowFree(PtvWindow* window)
{
  for (int k = 0; k < 4; ++k) {
    free(window->lists[k].records);
    free(window->buckets[k].start);
    free(window->buckets[k].items);
    free(window->byId[k]);
  }
  free(window->scratch);
  *window = PtvWindow{};
}

void PtvWindowRotate(PtvWindow* window)
{
  PtvList oldest = window->lists[0];
  window->lists[0] = window->lists[1];
  window->lists[1] = window->lists[2];
  window->lists[2] = window->lists[3];
  oldest.count = 0;
  window->lists[3] = oldest;
}

// ---- buckets --------------------------------------------------------------------------

namespace {

int32_t CountOf(const PtvList& list) { return std::max(list.count, 0); }

bool Finite(const ParticleRecord& r) { return std::isfinite(r.x) && std::isfinite(r.y); }

// Cell index of a coordinate already checked finite, clamped to the grid.
int32_t CellIndex(double v, double origin, double cell, int32_t n)
{
  double c = std::floor((v - origin) / cell);
  if (!(c >= 0)) return 0;
  if (c >= n - 1) return n - 1;
  return int32_t(c);
}

// Sorts the list's finite records into cells of at least cellSize (one cell when the size
// is not a usable number).  Non-finite records can never be linked: every distance to them
// is infinite or NaN, which no gate and no cost comparison accepts.
void BuildBuckets(PtvWindow* window, int32_t k, double cellSize)
{
  const PtvList& list = window->lists[k];
  PtvBuckets& b = window->buckets[k];
  const int32_t n = CountOf(list);
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (int32_t i = 0; i < n; ++i) {
    const ParticleRecord& r = list.records[i];
    if (!Finite(r)) continue;
    minX = std::min(minX, r.x);
    maxX = std::max(maxX, r.x);
    minY = std::min(minY, r.y);
    maxY = std::max(maxY, r.y);
  }
  b.x0 = minX;
  b.y0 = minY;
  b.cell = cellSize;
  b.nx = b.ny = 1;
  const double spanX = maxX - minX, spanY = maxY - minY;
  if (minX <= maxX && std::isfinite(spanX) && std::isfinite(spanY) && cellSize > 0 && std::isfinite(cellSize)) {
    double cell = cellSize;
    double nx = std::floor(spanX / cell) + 1, ny = std::floor(spanY / cell) + 1;
    while (nx * ny > window->cellCapacity) {
      cell *= 1.5;
      nx = std::floor(spanX / cell) + 1;
      ny = std::floor(spanY / cell) + 1;
    }
    b.cell = cell;
    b.nx = int32_t(nx);
    b.ny = int32_t(ny);
  } else {
    b.x0 = b.y0 = 0;
    b.cell = 1;
  }
  const int32_t cells = b.nx * b.ny;
  std::fill(b.start, b.start + cells + 1, 0);
  int32_t* cellOf = window->scratch;
  for (int32_t i = 0; i < n; ++i) {
    const ParticleRecord& r = list.records[i];
    if (!Finite(r)) {
      cellOf[i] = -1;
      continue;
    }
    int32_t c = (cells == 1) ? 0 : CellIndex(r.y, b.y0, b.cell, b.ny) * b.nx + CellIndex(r.x, b.x0, b.cell, b.nx);
    cellOf[i] = c;
    ++b.start[c + 1];
  }
  for (int32_t c = 0; c < cells; ++c) b.start[c + 1] += b.start[c];
  // Placing in list order keeps each cell's items in list order.
  for (int32_t i = 0; i < n; ++i) {
    if (cellOf[i] < 0) continue;
    // start[c] serves as the cell's fill pointer and ends at the next cell's start.
    b.items[b.start[cellOf[i]]++] = i;
  }
  for (int32_t c = cells; c > 0; --c) b.start[c] = b.start[c - 1];
  b.start[0] = 0;
}

// The inclusive cell ranges that hold every point within radius of (px, py); 0 when no
// point can be in reach (a NaN centre or radius compares false with every distance).
bool CellRange(const PtvBuckets& b, double px, double py, double radius, int32_t* ix0, int32_t* ix1, int32_t* iy0,
               int32_t* iy1)
{
  if (!(radius >= 0) || std::isnan(px) || std::isnan(py)) return false;
  if (b.nx == 1 && b.ny == 1) {
    *ix0 = *ix1 = *iy0 = *iy1 = 0;
    return true;
  }
  // A point the literal scan accepts may lie a rounding error beyond the radius; the pad
  // keeps it in range.
  const double pad = radius * 1e-9 + 1e-9 * (std::fabs(px) + std::fabs(py) + std::fabs(b.x0) + std::fabs(b.y0)) + 1e-300;
  const double r = radius + pad;
  const double lx = std::floor((px - r - b.x0) / b.cell), hx = std::floor((px + r - b.x0) / b.cell);
  const double ly = std::floor((py - r - b.y0) / b.cell), hy = std::floor((py + r - b.y0) / b.cell);
  if (hx < 0 || hy < 0 || lx > b.nx - 1 || ly > b.ny - 1) return false;
  *ix0 = lx < 0 ? 0 : int32_t(lx);
  *iy0 = ly < 0 ? 0 : int32_t(ly);
  *ix1 = hx > b.nx - 1 ? b.nx - 1 : int32_t(hx);
  *iy1 = hy > b.ny - 1 ? b.ny - 1 : int32_t(hy);
  return true;
}

// Calls visit(position) for every bucketed record within reach of the circle.
template <class Visit>
void ForEachNear(const PtvBuckets& b, double px, double py, double radius, Visit&& visit)
{
  int32_t ix0, ix1, iy0, iy1;
  if (!CellRange(b, px, py, radius, &ix0, &ix1, &iy0, &iy1)) return;
  for (int32_t cy = iy0; cy <= iy1; ++cy) {
    const int32_t row = cy * b.nx;
    for (int32_t j = b.start[row + ix0], end = b.start[row + ix1 + 1]; j < end; ++j) visit(b.items[j]);
  }
}

// Sorts (id, position) of the list's records with an id, for lookups of continuing tracks.
void BuildIdIndex(PtvWindow* window, int32_t k)
{
  const PtvList& list = window->lists[k];
  int64_t* keys = window->byId[k];
  int32_t m = 0;
  for (int32_t i = 0; i < CountOf(list); ++i)
    if (list.records[i].id >= 0) keys[m++] = (int64_t(list.records[i].id) << 32) | i;
  std::sort(keys, keys + m);
  window->byIdCount[k] = m;
}

// The first record of id in list k (through its sorted index), or null.
const ParticleRecord* FindById(const PtvWindow* window, int32_t k, int32_t id)
{
  const int64_t* keys = window->byId[k];
  const int64_t* end = keys + window->byIdCount[k];
  const int64_t* at = std::lower_bound(keys, end, int64_t(id) << 32);
  if (at == end || (*at >> 32) != id) return nullptr;
  return &window->lists[k].records[*at & 0xFFFFFFFF];
}

// The gate around the place predicted from prev and last: centre and radius.
void Predict(const ParticleRecord& prev, const ParticleRecord& last, double defaultRadius, int32_t predict,
             int32_t adaptive, double* px, double* py, double* radius)
{
  const double dx = last.x - prev.x, dy = last.y - prev.y;
  *px = predict ? last.x + dx : last.x;
  *py = predict ? last.y + dy : last.y;
  double r = defaultRadius;
  if (adaptive) {
    r = std::sqrt(dx * dx + dy * dy);
    if (predict) r *= 2.0;
    // A slow particle is still looked for within 10 pixels of its predicted place.
    if (r < 10.0) r = 10.0;
  }
  *radius = r;
}

double SquaredDistance(double px, double py, const ParticleRecord& q)
{
  const double dx = q.x - px, dy = q.y - py;
  return dx * dx + dy * dy;
}

}  // namespace

// ---- linking rules --------------------------------------------------------------------

double PtvGateDistance(const ParticleRecord* const chain[4], double defaultRadius, int32_t k, int32_t predict,
                       int32_t adaptive)
{
  if (k < 2 || k > 3) return -1.0;
  double px, py, r;
  Predict(*chain[k - 2], *chain[k - 1], defaultRadius, predict, adaptive, &px, &py, &r);
  const double e = SquaredDistance(px, py, *chain[k]);
  return e <= r * r ? e : -1.0;
}

void PtvIndexWindow(PtvWindow* window, double R, double G)
{
  const double cell = 2.0 * std::max(R, G);
  for (int32_t k = 1; k < 4; ++k) BuildBuckets(window, k, cell);
  BuildIdIndex(window, 1);
  BuildIdIndex(window, 2);
}

void PtvFindNearest(int32_t index, PtvWindow* window, double R, double G, int32_t predict, int32_t adaptive)
{
  const PtvList& l0 = window->lists[0];
  if (index < 0 || index >= CountOf(l0)) return;
  const int32_t id = l0.records[index].id;
  if (id < 0) return;
  const ParticleRecord* b = FindById(window, 2, id);
  if (!b) return;  // the track has ended
  const ParticleRecord* a = FindById(window, 1, id);
  if (!a) return;  // a track has no gaps; nothing to predict from without it
  double px, py, r;
  Predict(*a, *b, G, predict, adaptive, &px, &py, &r);
  const double r2 = r * r;
  const double limit = 2.0 * std::max(R, G);
  const double best0 = limit * limit;
  double best = best0;
  int32_t chosen = -1;
  ParticleRecord* l3 = window->lists[3].records;
  // Strictly below the best so far, ties to the earlier record: the smallest (distance,
  // position) wins, whatever order the cells are visited in.
  ForEachNear(window->buckets[3], px, py, std::min(std::fabs(r), limit), [&](int32_t j) {
    const ParticleRecord& q = l3[j];
    if (q.id >= 0) return;
    const double e = SquaredDistance(px, py, q);
    if (!(e <= r2 && e < best0)) return;
    if (chosen >= 0 && (e > best || (e == best && j > chosen))) return;
    best = e;
    chosen = j;
  });
  if (chosen >= 0) l3[chosen].id = id;
}

int32_t PtvLinkCandidates(int32_t index, PtvWindow* window, int32_t newId, double R, double minRadius, double G,
                          int32_t predict, int32_t adaptive)
{
  PtvList* lists = window->lists;
  if (index < 0 || index >= CountOf(lists[0])) return 0;
  ParticleRecord* p0 = &lists[0].records[index];
  const double limit = 2.0 * std::max(R, G);
  const double best0 = limit * limit;
  const double R2 = R * R;
  const double min2 = minRadius * minRadius;
  double best = best0;
  int32_t c1 = -1, c2 = -1, c3 = -1;
  const ParticleRecord* chain[4] = {p0, nullptr, nullptr, nullptr};
  ForEachNear(window->buckets[1], p0->x, p0->y, std::fabs(R), [&](int32_t i1) {
    const ParticleRecord& q1 = lists[1].records[i1];
    if (q1.id >= 0) return;
    const double s1 = SquaredDistance(p0->x, p0->y, q1);
    // R as entered, not divided by the scale; a particle that did not move starts nothing.
    if (!(s1 <= R2 && s1 > min2)) return;
    const double w = s1 / R2;
    chain[1] = &q1;
    double cx, cy, r;
    Predict(*p0, q1, G, predict, adaptive, &cx, &cy, &r);
    ForEachNear(window->buckets[2], cx, cy, std::fabs(r), [&](int32_t i2) {
      const ParticleRecord& q2 = lists[2].records[i2];
      if (q2.id >= 0) return;
      chain[2] = &q2;
      const double e2 = PtvGateDistance(chain, G, 2, predict, adaptive);
      if (e2 < 0) return;
      double dx, dy, r3;
      Predict(q1, q2, G, predict, adaptive, &dx, &dy, &r3);
      ForEachNear(window->buckets[3], dx, dy, std::fabs(r3), [&](int32_t i3) {
        const ParticleRecord& q3 = lists[3].records[i3];
        if (q3.id >= 0) return;
        chain[3] = &q3;
        const double e3 = PtvGateDistance(chain, G, 3, predict, adaptive);
        if (e3 < 0) return;
        const double cost = ((e2 + e3) * 0.5) * w;
        if (!(cost < best0)) return;
        // Among equal costs the scan in list order keeps the first (q1, q2, q3).
        if (c1 >= 0) {
          if (cost > best) return;
          if (cost == best && (i1 > c1 || (i1 == c1 && (i2 > c2 || (i2 == c2 && i3 > c3))))) return;
        }
        best = cost;
        c1 = i1;
        c2 = i2;
        c3 = i3;
      });
    });
  });
  if (c1 < 0) return 0;
  p0->id = newId;
  lists[1].records[c1].id = newId;
  lists[2].records[c2].id = newId;
  lists[3].records[c3].id = newId;
  return 1;
}

int32_t PtvDropUnlinked(PtvList* list)
{
  int32_t kept = 0;
  for (int32_t i = 0; i < list->count; ++i)
    if (list->records[i].id >= 0) list->records[kept++] = list->records[i];
  list->count = kept;
  return 1;
}

// ---- window step ----------------------------------------------------------------------

void PtvWindowStep(PtvWindow* window, int32_t* nextId, double R, double G, int32_t predict, int32_t adaptive)
{
  PtvIndexWindow(window, R, G);
  PtvList& l0 = window->lists[0];
  const int32_t n = CountOf(l0);
  // Existing tracks claim the newest scene's particles before new tracks form.
  for (int32_t i = 0; i < n; ++i)
    if (l0.records[i].id >= 0) PtvFindNearest(i, window, R, G, predict, adaptive);
  for (int32_t i = 0; i < n; ++i) {
    if (l0.records[i].id >= 0) continue;
    if (PtvLinkCandidates(i, window, *nextId, R, 0.0, G, predict, adaptive)) ++*nextId;
  }
  PtvDropUnlinked(&l0);
}
