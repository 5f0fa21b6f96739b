// csvviewer.cpp - the result table window: menu by language, grid placement, "Save CSV";
// then the column widths that keep numbers whole.
// Inside: window - number columns
#include "measure/csvviewer.h"

#include <cstring>

#include "platform/thread.h"
#include "toolkit/filesel.h"
#include "toolkit/font.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

constexpr int32_t kSaveCsv = 101;

}  // namespace

CCsvViewer::CCsvViewer() {
  SetLanguage("jp");
  m_menuBar.m_callback = OnMenu;
  m_menuBar.m_user = this;
  AddChild(&m_menuBar);
  AddChild(&m_cell);
}

CCsvViewer::~CCsvViewer() {
  // The window goes first: once it is gone nothing draws the grid or opens the menus.
  Destroy();
  m_menuBar.ClearMenus();
}

void CCsvViewer::SetLanguage(const char* language) {
  m_english = language && strcmp(language, "jp") == 0 ? 0 : 1;
  m_menuBar.ClearMenus();
  if (m_english)
    m_menuBar.AddMenu(L"File", L"Save CSV\t101\n", nullptr, nullptr);
  else
    m_menuBar.AddMenu(L"ファイル", L"CSV保存\t101\n", nullptr, nullptr);
  Redraw();
}

void CCsvViewer::OnSize(uint64_t width, uint64_t height) {
  int32_t f = 14;
  if (m_menuBar.m_owner && m_menuBar.m_owner->m_font && m_menuBar.m_owner->m_font->Size() >= 1)
    f = int32_t(m_menuBar.m_owner->m_font->Size());
  int64_t h = int64_t(height) - f - 8;
  m_cell.SetRect(0, f + 8, int32_t(width > INT32_MAX ? INT32_MAX : width),
                 int32_t(h < 0 ? 0 : h > INT32_MAX ? INT32_MAX : h));
  Redraw();
}

void CCsvViewer::OnCreate() { OnSize(m_clientWidth, m_clientHeight); }

void CCsvViewer::OnMenu(CFgUIMenuBar*, void* user, int32_t, int32_t command) {
  if (command != kSaveCsv) return;
  CCsvViewer* self = static_cast<CCsvViewer*>(user);
  wchar_t path[1024] = {};
  if (!FgSelectFile(path, 1024, nullptr, self)) return;
  int32_t ok;
  {
    // The owners change their tables from the filter worker under the draw lock; holding it
    // across the save gives every line the same field count. Not across the message box.
    PlatformLockHold hold(FgDrawLock());
    ok = self->m_cell.SaveText(path);
  }
  if (self->m_english)
    FgMessageBox(ok ? L"saved" : L"saving failed", ok ? L"confirmation" : L"error", 1, self);
  else
    FgMessageBox(ok ? L"セーブしました" : L"セーブできませんでした", ok ? L"確認" : L"エラー", 1,
                 self);
}

// ---- number columns -------------------------------------------------------------------

uint64_t NumberTextWidth(const wchar_t* text) {
  if (!text) return 0;
  const wchar_t* p = text;
  if (*p == L'-' || *p == L'+') ++p;
  uint64_t digits = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) ++digits;
  if (*p == L'.')
    for (++p; *p >= L'0' && *p <= L'9'; ++p) ++digits;
  if (!digits) return 0;
  if (*p == L'e' || *p == L'E') {
    ++p;
    if (*p == L'-' || *p == L'+') ++p;
    if (*p < L'0' || *p > L'9') return 0;
    while (*p >= L'0' && *p <= L'9') ++p;
  }
  if (*p) return 0;
  // Digits, signs and points are half-width: the measuring rule counts one each.
  return uint64_t(FgTextWidth(text, 2));
}

void FitColumnToNumbers(CFgUICell* cell, uint64_t column, const uint64_t* rows, uint64_t count, uint64_t width) {
  if (!cell || !cell->m_widths || column >= cell->m_columns) return;
  uint64_t widest = width;
  for (uint64_t i = 0; i < count && cell->m_textFn; ++i) {
    if (rows[i] >= cell->m_rows) continue;
    int32_t align = 0;
    double red = 0, green = 0, blue = 0;
    const uint64_t w = NumberTextWidth(cell->m_textFn(column, rows[i], &align, &red, &green, &blue, cell->m_user));
    if (w > widest) widest = w;
  }
  cell->m_widths[column] = widest;
}

namespace {

// Column 0 of the scene tables counts the scenes from row 2 on: the last row is the widest.
void FitSceneColumn(CFgUICell* cell, uint64_t width) {
  const uint64_t last = cell->m_rows - 1;
  FitColumnToNumbers(cell, 0, &last, 1, width);
}

}  // namespace

void FitFlowTableColumns(CFgUICell* cell, const CFlowData& field, uint64_t width) {
  if (!cell || !cell->m_widths || cell->m_rows < 3) return;
  FitSceneColumn(cell, width);
  const int32_t frames = field.Frames();
  for (int32_t cy = 0; cy < field.Ny(); ++cy)
    for (int32_t cx = 0; cx < field.Nx(); ++cx) {
      const uint64_t column = 2 * (uint64_t(cy) * uint64_t(field.Nx()) + uint64_t(cx)) + 1;
      if (column >= cell->m_columns) return;
      int32_t longest = 0;
      double most = -1;
      for (int32_t s = 0; s < frames; ++s) {
        const FlowVector* v = field.GetVector(cx, cy, s);
        const double l = v ? v->dx * v->dx + v->dy * v->dy : -1;
        if (l > most) {
          most = l;
          longest = s;
        }
      }
      const uint64_t row = uint64_t(longest) + 2;
      FitColumnToNumbers(cell, column, &row, 1, width);
    }
}

void TrackColumnExtremes::Add(int32_t scene, double x, double y) {
  if (sceneLowX < 0 || x < lowX) lowX = x, sceneLowX = scene;
  if (sceneHighX < 0 || x > highX) highX = x, sceneHighX = scene;
  if (sceneLowY < 0 || y < lowY) lowY = y, sceneLowY = scene;
  if (sceneHighY < 0 || y > highY) highY = y, sceneHighY = scene;
}

void FitTrackTableColumns(CFgUICell* cell, const TrackColumnExtremes* ids, uint64_t count, uint64_t width) {
  if (!cell || !cell->m_widths || cell->m_rows < 3) return;
  FitSceneColumn(cell, width);
  for (uint64_t id = 0; id < count; ++id) {
    const TrackColumnExtremes& e = ids[id];
    // A track without points keeps the width: its cells are empty.
    const uint64_t xRows[2] = {uint64_t(e.sceneLowX) + 2, uint64_t(e.sceneHighX) + 2};
    const uint64_t yRows[2] = {uint64_t(e.sceneLowY) + 2, uint64_t(e.sceneHighY) + 2};
    FitColumnToNumbers(cell, 2 * id + 1, xRows, e.sceneLowX >= 0 ? 2 : 0, width);
    FitColumnToNumbers(cell, 2 * id + 2, yRows, e.sceneLowY >= 0 ? 2 : 0, width);
  }
}
