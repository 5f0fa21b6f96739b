// ptvedit.cpp - track edits, the vector grid from the tracks, the table texts and the id
// index under them.
// Inside: id index - edits - vector grid - tables
#include "measure/ptvedit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "core/parallel.h"

// ---- id index -------------------------------------------------------------------------

void PtvIdIndex::Clear()
{
  m_start.clear();
  m_entries.clear();
}

int32_t PtvIdIndex::Build(const CParticleData& data)
{
  Clear();
  try {
    int64_t total = 0;
    for (int32_t s = 0; s < data.sceneCount; ++s) total += std::max(data.scenes[s].count, 0);
    m_start.resize(size_t(data.sceneCount) + 1);
    m_entries.reserve(size_t(total));
    for (int32_t s = 0; s < data.sceneCount; ++s) {
      m_start[size_t(s)] = int64_t(m_entries.size());
      const SceneParticles& sp = data.scenes[s];
      for (int32_t i = 0; i < sp.count; ++i) {
        if (sp.records[i].id >= 0) m_entries.push_back((int64_t(sp.records[i].id) << 32) | int64_t(uint32_t(i)));
      }
      // Sorting the packed pair keeps the lowest record index first among equal ids, which
      // is the record a scan from the front would find.
      std::sort(m_entries.begin() + m_start[size_t(s)], m_entries.end());
    }
    m_start[size_t(data.sceneCount)] = int64_t(m_entries.size());
  } catch (const std::bad_alloc&) {
    Clear();
    return 0;
  }
  return 1;
}

const ParticleRecord* PtvIdIndex::Find(const CParticleData& data, int32_t scene, int32_t id) const
{
  if (id < 0 || scene < 0 || scene >= SceneCount() || scene >= data.sceneCount) return nullptr;
  const auto begin = m_entries.begin() + m_start[size_t(scene)];
  const auto end = m_entries.begin() + m_start[size_t(scene) + 1];
  const auto at = std::lower_bound(begin, end, int64_t(id) << 32);
  if (at == end || int32_t(*at >> 32) != id) return nullptr;
  const int32_t record = int32_t(uint32_t(*at & 0xffffffff));
  if (record >= data.scenes[scene].count) return nullptr;
  return &data.scenes[scene].records[record];
}

// ---- edits ----------------------------------------------------------------------------

int32_t PtvEraseData(CParticleData* data, int32_t id, int32_t first, int32_t last)
{
  const int32_t ids = data->IdCount();
  if (id < 1 || id > ids || first < 1 || first > last || last > data->sceneCount) return kPtvEditBadInput;
  for (int32_t s = first - 1; s <= last - 1; ++s) data->RemoveParticle(s, id - 1);
  return kPtvEditDone;
}

int32_t PtvSplitId(CParticleData* data, int32_t id, int32_t scene)
{
  const int32_t ids = data->IdCount();
  if (id < 1 || id > ids || scene < 1 || scene > data->sceneCount || ids == INT32_MAX) return kPtvEditBadInput;
  for (int32_t s = scene - 1; s < data->sceneCount; ++s) {
    ParticleRecord record;
    if (!data->GetParticle(s, id - 1, &record)) continue;
    data->RemoveParticle(s, id - 1);
    record.id = ids;
    data->AddParticle(s, record);
  }
  return kPtvEditDone;
}

int32_t PtvConcatIds(CParticleData* data, int32_t id1, int32_t id2)
{
  const int32_t ids = data->IdCount();
  if (id1 < 1 || id1 > ids || id2 < 1 || id2 > ids || id1 == id2) return kPtvEditBadInput;
  for (int32_t s = 0; s < data->sceneCount; ++s) {
    ParticleRecord own, other;
    if (data->GetParticle(s, id1 - 1, &own) && own.valid > 0) continue;
    if (data->GetParticle(s, id1 - 1, &own)) data->RemoveParticle(s, id1 - 1);
    if (data->GetParticle(s, id2 - 1, &other) && other.valid > 0) {
      other.id = id1 - 1;
      data->AddParticle(s, other);
    }
  }
  data->RemoveId(id2 - 1);
  return kPtvEditDone;
}

// ---- vector grid ----------------------------------------------------------------------

void PtvBuildVectorGridScenes(const CParticleData& data, const PtvIdIndex& index, CFlowData* grid, int32_t first,
                              int32_t count, int32_t* failed)
{
  const int32_t nx = grid->Nx(), ny = grid->Ny(), step = grid->Step();
  const int32_t x0 = grid->OriginX(), y0 = grid->OriginY();
  if (nx < 1 || ny < 1 || step < 1) return;
  const size_t cells = size_t(nx) * size_t(ny);
  double* sumX = static_cast<double*>(malloc(cells * sizeof(double)));
  double* sumY = static_cast<double*>(malloc(cells * sizeof(double)));
  uint64_t* hits = static_cast<uint64_t*>(malloc(cells * sizeof(uint64_t)));
  if (!sumX || !sumY || !hits) {
    __atomic_store_n(failed, 1, __ATOMIC_RELAXED);
    free(sumX);
    free(sumY);
    free(hits);
    return;
  }
  const int64_t right = int64_t(x0) + int64_t(nx) * step, bottom = int64_t(y0) + int64_t(ny) * step;
  for (int32_t s = std::max(first, 1); s < first + count && s < data.sceneCount; ++s) {
    std::fill(sumX, sumX + cells, 0.0);
    std::fill(sumY, sumY + cells, 0.0);
    std::fill(hits, hits + cells, uint64_t(0));
    const SceneParticles& sp = data.scenes[s];
    for (int32_t i = 0; i < sp.count; ++i) {
      const ParticleRecord& p = sp.records[i];
      if (p.id < 0) continue;
      const ParticleRecord* q = index.Find(data, s - 1, p.id);
      if (!q || (q->x == p.x && q->y == p.y)) continue;
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      const double tx = std::trunc(p.x), ty = std::trunc(p.y);
      if (tx < x0 || tx >= double(right) || ty < y0 || ty >= double(bottom)) continue;
      const int64_t cx = int64_t(tx), cy = int64_t(ty);
      const size_t cell = size_t((cy - y0) / step) * size_t(nx) + size_t((cx - x0) / step);
      sumX[cell] += p.x - q->x;
      sumY[cell] += p.y - q->y;
      ++hits[cell];
    }
    if (s >= grid->Frames()) continue;
    for (int32_t cy = 0; cy < ny; ++cy) {
      for (int32_t cx = 0; cx < nx; ++cx) {
        const size_t cell = size_t(cy) * size_t(nx) + size_t(cx);
        FlowVector* v = grid->GetVector(cx, cy, s);
        if (!v) continue;
        if (hits[cell] > 0) *v = {sumX[cell] / double(hits[cell]), sumY[cell] / double(hits[cell])};
        else *v = {0.0, 0.0};
      }
    }
    // The flags were computed on the old vectors; a grid built from tracks has none set.
    grid->ClearFrameFlags(s);
  }
  free(sumX);
  free(sumY);
  free(hits);
}

// ---- tables ---------------------------------------------------------------------------

void PtvTrackTableSize(CParticleData& data, uint64_t* columns, uint64_t* rows)
{
  const int32_t ids = data.IdCount();
  if (ids <= 0 || data.sceneCount <= 0) {
    *columns = *rows = 0;
    return;
  }
  *columns = 2 * uint64_t(ids) + 1;
  *rows = uint64_t(data.sceneCount) + 2;
}

void PtvVectorTableSize(const CFlowData& grid, uint64_t* columns, uint64_t* rows)
{
  if (grid.Nx() <= 0 || grid.Ny() <= 0 || grid.Frames() <= 0) {
    *columns = *rows = 0;
    return;
  }
  *columns = 2 * uint64_t(grid.Nx()) * uint64_t(grid.Ny()) + 1;
  *rows = uint64_t(grid.Frames()) + 2;
}

namespace {

const wchar_t* UnitOr(const wchar_t* unit, const wchar_t* fallback) { return unit && unit[0] ? unit : fallback; }

}  // namespace

const wchar_t* PtvTrackCellText(const PtvTableContext& c, uint64_t column, uint64_t row, int32_t* align)
{
  static thread_local wchar_t text[64];
  text[0] = 0;
  if (align) *align = 0;
  if (!c.data || !c.index || c.data->sceneCount <= 0 || c.data->idCount <= 0) return text;
  const CParticleData& data = *c.data;
  const uint64_t ids = uint64_t(data.idCount);
  if (column > 2 * ids || row > uint64_t(data.sceneCount) + 1) return text;
  if (row == 0) {
    if (column == 0) swprintf(text, 64, L"%ls", UnitOr(c.unit, L"pixel"));
    else if (column % 2 == 1) swprintf(text, 64, L"%lu", (unsigned long)((column - 1) / 2 + 1));
    return text;
  }
  if (row == 1) {
    if (column > 0) swprintf(text, 64, L"%ls", column % 2 == 1 ? L"X" : L"Y");
    return text;
  }
  if (column == 0) {
    if (align) *align = 1;
    swprintf(text, 64, L"%lu", (unsigned long)(row - 1));
    return text;
  }
  const int32_t id = int32_t((column - 1) / 2);
  const ParticleRecord* p = c.index->Find(data, int32_t(row - 2), id);
  if (!p) return text;
  if (column % 2 == 1) {
    swprintf(text, 64, L"%.1lf", p->x * c.scale);
  } else {
    const double y = c.axisY < 0 ? double(c.sourceHeight - 1) - p->y : p->y;
    swprintf(text, 64, L"%.1lf", y * c.scale);
  }
  return text;
}

void PtvTrackExtremes(const CParticleData& data, TrackColumnExtremes* ids, uint64_t count)
{
  // The scene each track was last seen in: a later record of the same id in that scene is
  // not the one shown.
  int32_t* seen = new (std::nothrow) int32_t[count ? count : 1];
  if (!seen) return;
  for (uint64_t k = 0; k < count; ++k) seen[k] = -1;
  for (int32_t s = 0; s < data.sceneCount; ++s) {
    const SceneParticles& sp = data.scenes[s];
    for (int32_t i = 0; i < sp.count; ++i) {
      const ParticleRecord& r = sp.records[i];
      if (r.id < 0 || uint64_t(r.id) >= count || seen[r.id] == s) continue;
      seen[r.id] = s;
      ids[r.id].Add(s, r.x, r.y);
    }
  }
  delete[] seen;
}

const wchar_t* PtvVectorCellText(const PtvTableContext& c, uint64_t column, uint64_t row, int32_t* align)
{
  static thread_local wchar_t text[64];
  text[0] = 0;
  if (align) *align = 0;
  if (!c.grid || c.grid->Nx() <= 0 || c.grid->Ny() <= 0 || c.grid->Frames() <= 0) return text;
  const CFlowData& grid = *c.grid;
  const uint64_t nx = uint64_t(grid.Nx()), cellCount = nx * uint64_t(grid.Ny());
  if (column > 2 * cellCount || row > uint64_t(grid.Frames()) + 1) return text;
  const uint64_t cell = column > 0 ? (column - 1) / 2 : 0;
  if (row == 0) {
    if (column == 0) swprintf(text, 64, L"%ls/s", UnitOr(c.unit, L"pixel"));
    else if (column % 2 == 1) swprintf(text, 64, L"%lu,%lu", (unsigned long)(cell % nx + 1), (unsigned long)(cell / nx + 1));
    return text;
  }
  if (row == 1) {
    if (column == 0) swprintf(text, 64, L"%ls", L"rad");
    else if (column % 2 == 1) swprintf(text, 64, L"%ls", c.japanese ? L"速度" : L"speed");
    else swprintf(text, 64, L"%ls", c.japanese ? L"方位" : L"direction");
    return text;
  }
  if (column == 0) {
    if (align) *align = 1;
    swprintf(text, 64, L"%lu", (unsigned long)(row - 1));
    return text;
  }
  const FlowVector* v = grid.GetVector(int32_t(cell % nx), int32_t(cell / nx), int32_t(row - 2));
  if (!v) return text;
  if (column % 2 == 1) {
    // Without a frame time there is no speed to give.
    if (c.frameMicroseconds <= 0) {
      swprintf(text, 64, L"---");
      return text;
    }
    const double perSecond = 1000000.0 / double(c.frameMicroseconds);
    swprintf(text, 64, L"%.1lf", perSecond * std::sqrt((c.scale * v->dx) * (c.scale * v->dx) + (c.scale * v->dy) * (c.scale * v->dy)));
  } else {
    const double dy = c.axisY > 0 ? v->dy : -v->dy;
    swprintf(text, 64, L"%.2lf", std::atan2(dy, v->dx));
  }
  return text;
}

namespace {

struct GridBuild {
  const CParticleData* data;
  const PtvIdIndex* index;
  CFlowData* grid;
  int32_t failed;
};

void GridPiece(void* context, uint64_t first, uint64_t count)
{
  auto* build = static_cast<GridBuild*>(context);
  PtvBuildVectorGridScenes(*build->data, *build->index, build->grid, int32_t(first), int32_t(count), &build->failed);
}

}  // namespace

int32_t PtvBuildVectorGrid(const CParticleData& data, const PtvIdIndex& index, CFlowData* grid)
{
  if (!grid->HasGrid() || data.sceneCount < 1) return 0;
  GridBuild build = {&data, &index, grid, 0};
  ParallelFor(GridPiece, &build, uint64_t(data.sceneCount));
  return __atomic_load_n(&build.failed, __ATOMIC_RELAXED) ? 0 : 1;
}
