// piv_view.cpp - what the PIV tool shows of its result: the vectors (or the planned grid)
// over the view, cell selection and deletion by mouse, and the VECTOR DATA table.
#include "measure/piv.h"

#include <cmath>
#include <cstdio>
#include <cwchar>

#include "app/filterctrl.h"
#include "toolkit/screen.h"

// ---- overlay --------------------------------------------------------------------------

void CLfPiv::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*, int32_t viewX0,
                         int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                         int32_t imageX1, int32_t imageY1, int32_t zoom)
{
  // The pair thread writes the field while a run is going on.
  if (Running()) return;
  OverlayMapping m;
  m.toGlX = toGlX;
  m.toGlY = toGlY;
  m.viewX0 = viewX0, m.viewY0 = viewY0, m.viewX1 = viewX1, m.viewY1 = viewY1;
  m.imageX0 = imageX0, m.imageY0 = imageY0, m.imageX1 = imageX1, m.imageY1 = imageY1;
  m.zoom = zoom;
  if (m_tab.m_currentPage == 1) {
    uint64_t scene = m_host ? m_host->GetCurrentScene() : 0;
    const int32_t frame = scene > uint64_t(INT32_MAX) ? -1 : int32_t(scene);
    m_field.Draw(m_cells.m_checked, m, frame, m_zoom.m_position / 10.0, m_guide[0], m_guide[1], m_guide[2],
                 m_eraseDir.m_checked, m_eraseLen.m_checked);
  } else {
    CFlowData::DrawGrid(m_planX, m_planY, m_planCell, m_planNx, m_planNy, m, m_guide[0], m_guide[1], m_guide[2]);
  }
}

// ---- mouse ----------------------------------------------------------------------------

void CLfPiv::OnLButtonDown(int64_t x, int64_t y, uint8_t)
{
  if (Running() || x < 0 || y < 0 || !m_field.HasGrid() || m_field.OriginX() < 0 || m_field.OriginY() < 0 ||
      m_field.Step() < 1)
    return;
  if (x < m_field.OriginX() || y < m_field.OriginY()) return;
  const int64_t cx = (x - m_field.OriginX()) / m_field.Step(), cy = (y - m_field.OriginY()) / m_field.Step();
  if (cx >= m_field.Nx() || cy >= m_field.Ny()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    if (m_field.selectedX == cx && m_field.selectedY == cy) {
      m_field.selectedX = m_field.selectedY = -1;
    } else {
      m_field.selectedX = int32_t(cx);
      m_field.selectedY = int32_t(cy);
    }
  }
  RedrawHost();
}

void CLfPiv::OnRButtonDown(int64_t, int64_t, uint8_t)
{
  if (Running() || m_field.selectedX < 0 || m_field.selectedY < 0 || !m_host) return;
  const uint64_t scene = m_host->GetCurrentScene();
  if (scene >= uint64_t(m_field.Frames())) return;
  {
    PlatformLockHold hold(FgDrawLock());
    FlowVector* v = m_field.GetVector(m_field.selectedX, m_field.selectedY, int32_t(scene));
    if (!v || (v->dx == 0 && v->dy == 0)) return;
    v->dx = v->dy = 0;
    m_field.selectedX = m_field.selectedY = -1;
    // The neighbours of the deleted vector lose one neighbour each.
    m_field.CheckFrame(int32_t(scene));
  }
  RedrawHost();
  if (m_table.GetWindow()) m_table.Redraw();
}

// ---- table ----------------------------------------------------------------------------

const wchar_t* CLfPiv::VectorCellText(uint64_t column, uint64_t row, int32_t* alignment, double*, double*,
                                      double*, void* tool)
{
  CLfPiv* self = static_cast<CLfPiv*>(tool);
  if (!self) return nullptr;
  const CFlowData& f = self->m_field;
  if (!f.HasGrid()) return nullptr;
  wchar_t* text = self->m_cellText;
  const uint64_t units = sizeof(self->m_cellText) / sizeof(wchar_t);
  text[0] = 0;
  const bool ja = IsJapanese(self->m_language) != 0;
  const uint64_t cells = uint64_t(f.Nx()) * uint64_t(f.Ny());
  if (alignment) *alignment = 0;
  if (column == 0) {
    if (row == 0) {
      swprintf(text, units, L"%ls/s", self->m_copyUnit[0] ? self->m_copyUnit : L"pixel");
    } else if (row == 1) {
      swprintf(text, units, L"rad");
    } else {
      if (alignment) *alignment = 1;
      swprintf(text, units, L"%lu", (unsigned long)(row - 1));
    }
    return text;
  }
  const uint64_t k = (column - 1) / 2;
  if (k >= cells) return nullptr;
  const int32_t cx = int32_t(k % uint64_t(f.Nx())), cy = int32_t(k / uint64_t(f.Nx()));
  const bool speed = (column - 1) % 2 == 0;
  if (row == 0) {
    if (!speed) return nullptr;
    swprintf(text, units, L"%lu,%lu", (unsigned long)(cx + 1), (unsigned long)(cy + 1));
    return text;
  }
  if (row == 1) {
    swprintf(text, units, L"%ls", speed ? (ja ? L"速度" : L"speed") : (ja ? L"方位" : L"direction"));
    return text;
  }
  if (row - 2 >= uint64_t(f.Frames())) return nullptr;
  const FlowVector* v = f.GetVector(cx, cy, int32_t(row - 2));
  if (!v) return nullptr;
  if (speed) {
    // The frame interval in microseconds keeps its fraction of a millisecond; without one
    // (sequences, stills) there is no speed to show.
    const double t = self->m_host ? double(self->m_host->GetSourceFrameIntervalUs()) / 1000.0 : 0.0;
    if (!(t > 0)) {
      swprintf(text, units, L"---");
      return text;
    }
    const double l = std::sqrt((self->m_copyScale * v->dx) * (self->m_copyScale * v->dx) +
                               (self->m_copyScale * v->dy) * (self->m_copyScale * v->dy));
    swprintf(text, units, L"%.1lf", l * 1000.0 / t);
  } else {
    const double dy = self->m_copyAxisY < 1 ? -v->dy : v->dy;
    swprintf(text, units, L"%.2lf", std::atan2(dy, v->dx));
  }
  return text;
}

void CLfPiv::SizeVectorTable()
{
  CFgUICell& grid = m_table.m_cell;
  grid.Reset(0);
  if (m_field.HasGrid()) {
    const uint64_t columns = 2 * uint64_t(m_field.Nx()) * uint64_t(m_field.Ny()) + 1;
    const uint64_t rows = uint64_t(m_field.Frames()) + 2;
    if (grid.SetSize(columns, rows, 0) && columns >= 2 && rows >= 3) {
      FitFlowTableColumns(&grid, m_field, kResultColumnWidth);
      grid.SelectRow(0, 2, 0);
      grid.SetCurrentCell(1, 2);
    }
  }
  if (m_table.GetWindow()) grid.Layout();
}

void CLfPiv::ShowVectorData(int32_t x, int32_t y, uint64_t width, uint64_t height)
{
  {
    PlatformLockHold hold(FgDrawLock());
    SizeVectorTable();
  }
  if (!m_table.GetWindow()) {
    CFgScreen* parent = GetWindow() ? static_cast<CFgScreen*>(this) : m_dialogParent;
    const int32_t px = x >= 0 && y >= 0 ? x : -1, py = x >= 0 && y >= 0 ? y : -1;
    m_table.Create(px, py, width ? width : 300, height ? height : 300,
                   m_table.m_english ? L"VECTOR DATA" : L"ベクトルデータ", 1, parent);
  } else if (!m_table.m_visible) {
    m_table.ShowWindow(1);
  }
  m_table.Redraw();
}

void CLfPiv::OnVectorDataButton(CFgUIButton*, void* tool)
{
  CLfPiv* self = static_cast<CLfPiv*>(tool);
  self->m_table.SetLanguage(IsJapanese(self->m_language) ? "jp" : "en");
  if (self->m_table.GetWindow())
    self->ShowVectorData(self->m_table.m_x, self->m_table.m_y, self->m_table.m_clientWidth,
                         self->m_table.m_clientHeight);
  else
    self->ShowVectorData(-1, -1, 0, 0);
}
