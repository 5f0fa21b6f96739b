// ameasure.cpp - automatic measurement: islands of each frame into a table and crosses.
// Inside: names and widths - construction and menus - the window - table texts -
//         processing - overlay - settings
#include "measure/ameasure.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>
#include <cwchar>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "measure/csvviewer.h"
#include "toolkit/filesel.h"
#include "toolkit/font.h"
#include "toolkit/label.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

// ---- names and widths ----------------------------------------------------------------------
struct Quantity {
  const wchar_t* en;
  const wchar_t* ja;
};
const Quantity kQuantities[CLfAmeasure::kQuantityRows] = {
    {L"center of contour x", L"輪郭の中心 X"},
    {L"center of contour y", L"輪郭の中心 Y"},
    {L"center of gravity x", L"重心 X"},
    {L"center of gravity y", L"重心 Y"},
    {L"area", L"面積"},
    {L"number of holes", L"穴の数"},
    {L"hole area", L"穴面積"},
    {L"total area", L"総面積"},
    {L"perimeter length", L"周囲長"},
    {L"hole perimeter length", L"穴の周囲長"},
    {L"maximum brightness", L"最大輝度"},
    {L"minimum brightness", L"最小輝度"},
    {L"total brightness", L"合計輝度"},
    {L"average brightness", L"平均輝度"},
    {L"line length", L"線長"},
    {L"circularity", L"円形度"},
    {L"equivalent circle diameter", L"等価円直径"},
    {L"sphere volume", L"球体の体積"},
    {L"maximum radius", L"最大半径"},
    {L"minimum radius", L"最小半径"},
    {L"average radius", L"平均半径"},
    {L"long diameter", L"長径"},
    {L"short diameter", L"短径"},
    {L"inclination of major axis", L"長径の傾き"},
};

std::atomic<uint64_t> g_recordLimit{UINT64_MAX};

IslandRecord* AllocateRecords(uint64_t count) {
  uint64_t limit = g_recordLimit.load();
  if (!count || count > limit) return nullptr;
  return static_cast<IslandRecord*>(calloc(size_t(count), sizeof(IslandRecord)));
}

// Font size of the window's container; 14 before the menu bar is attached.
int32_t MenuFontSize(const CFgUIMenuBar& bar) {
  if (bar.m_owner && bar.m_owner->m_font && bar.m_owner->m_font->Size() >= 1)
    return int32_t(bar.m_owner->m_font->Size());
  return 14;
}

// Truncates toward zero; 0 when the value is not a finite number inside 32 bits.
int32_t TruncToInt(double v, int32_t* out) {
  if (!std::isfinite(v) || v <= -2147483648.0 || v >= 2147483648.0) return 0;
  *out = int32_t(v);
  return 1;
}

}  // namespace

uint64_t AmeasureNameColumnWidth(uint32_t languageIndex) {
  // The display width of the longest name (half-width 1, full-width 2), measured once.
  static const uint64_t widths[2] = {
      [] {
        uint64_t w = 0;
        for (const Quantity& q : kQuantities) {
          int64_t t = FgTextWidth(q.ja, 2);
          if (t > 0 && uint64_t(t) > w) w = uint64_t(t);
        }
        return w ? w : 12;
      }(),
      [] {
        uint64_t w = 0;
        for (const Quantity& q : kQuantities) {
          int64_t t = FgTextWidth(q.en, 2);
          if (t > 0 && uint64_t(t) > w) w = uint64_t(t);
        }
        return w ? w : 26;
      }()};
  return widths[languageIndex ? 1 : 0];
}

void SetAmeasureRecordLimitForTesting(uint64_t limit) { g_recordLimit.store(limit); }

// ---------------------------------------------------------------------------------------
// Construction and menus
CLfAmeasure::CLfAmeasure() : CFilterWindow(nullptr) {
  AmeasureNameColumnWidth(0);
  BuildMenu(L"jp");
  m_menuBar.m_callback = &CLfAmeasure::OnMenu;
  m_menuBar.m_user = this;
  m_grid.m_textFn = &CLfAmeasure::ResultCellText;
  m_grid.m_user = this;
  AddChild(&m_menuBar);
  AddChild(&m_grid);
}

CLfAmeasure::~CLfAmeasure() {
  // The window goes first: once it is gone nothing draws the grid or opens the menus.
  Destroy();
  {
    PlatformLockHold draw(FgDrawLock());
    InstallResults(nullptr, 0, 0);
  }
  m_menuBar.ClearMenus();
}

const wchar_t* CLfAmeasure::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"自動計測" : L"Auto measurement";
}

void CLfAmeasure::BuildMenu(const wchar_t* language) {
  PlatformLockHold draw(FgDrawLock());
  m_languageIndex = IsJapanese(language) ? 0 : 1;
  m_menuBar.ClearMenus();
  if (m_languageIndex) {
    m_menuBar.AddMenu(L"File", L"Save CSV\t101\n", nullptr, nullptr);
    m_menuBar.AddMenu(L"Option", nullptr, &CLfAmeasure::IslandMenuLabel, this);
  } else {
    m_menuBar.AddMenu(L"ファイル", L"CSV保存\t101\n", nullptr, nullptr);
    m_menuBar.AddMenu(L"オプション", nullptr, &CLfAmeasure::IslandMenuLabel, this);
  }
  // The names column follows the language at once, not only from the next frame.
  if (m_grid.m_columns && m_grid.m_widths) {
    m_grid.m_widths[0] = AmeasureNameColumnWidth(m_languageIndex);
    m_grid.Layout();
  }
}

const wchar_t* CLfAmeasure::IslandMenuLabel(void* filter) {
  auto* self = static_cast<CLfAmeasure*>(filter);
  const uint32_t on = self->m_island.load();
  if (self->m_languageIndex) return on ? L"*Island\t201\n" : L" Island\t201\n";
  return on ? L"✓島処理\t201\n" : L"　島処理\t201\n";
}

void CLfAmeasure::OnMenu(CFgUIMenuBar*, void* filter, int32_t, int32_t command) {
  auto* self = static_cast<CLfAmeasure*>(filter);
  if (command == kSaveCsv) {
    wchar_t path[1024] = {};
    if (!FgSelectFile(path, 1024, nullptr, self)) return;
    int32_t ok;
    {
      // The worker swaps the records under the draw lock: every line of one save comes
      // from one frame.  Not across the message box.
      PlatformLockHold draw(FgDrawLock());
      ok = self->m_grid.SaveText(path);
    }
    if (self->m_languageIndex)
      FgMessageBox(ok ? L"saved" : L"saving failed", ok ? L"confirmation" : L"error", 1, self);
    else
      FgMessageBox(ok ? L"セーブしました" : L"セーブできませんでした", ok ? L"確認" : L"エラー",
                   1, self);
  } else if (command == kIsland) {
    self->m_island.fetch_xor(1);
    RequestIfEnabled(self, 0);
  }
}

// ---------------------------------------------------------------------------------------
// The window
void CLfAmeasure::OnEnable(int32_t enabled) {
  CImgFilter::OnEnable(enabled);
  EnableAll(enabled != 0);
  if (enabled) return;
  PlatformLockHold draw(FgDrawLock());
  m_grid.Reset(0);
  if (m_grid.m_owner) CFgUICtrl::Redraw();
}

void CLfAmeasure::ShowDialog(int32_t show, CFgScreen* parent) {
  if (!show) {
    if (!m_window) return;
    m_place = FilterWindowPlace{1, m_x, m_y};
    m_sizeStored = 1;
    m_storedWidth = m_clientWidth;
    m_storedHeight = m_clientHeight;
    Destroy();
    return;
  }
  if (m_window) {
    ShowWindow(1);
    CFgUICtrl::Redraw();
    return;
  }
  const uint64_t w = m_sizeStored && m_storedWidth ? m_storedWidth : 300;
  const uint64_t h = m_sizeStored && m_storedHeight ? m_storedHeight : 200;
  const int32_t x = m_place.kept ? m_place.x : -1, y = m_place.kept ? m_place.y : -1;
  if (Create(x, y, w, h, GetName(m_language), FgStyleResizable, parent)) CFgUICtrl::Redraw();
}

void CLfAmeasure::OnLanguageChanged(const wchar_t* language) {
  BuildMenu(language);
  CImgFilter::OnLanguageChanged(language);
}

void CLfAmeasure::OnScaleChanged(double scale, int32_t axisY, const wchar_t* unit) {
  PlatformLockHold draw(FgDrawLock());
  m_calScale = scale;
  m_calAxisY = axisY;
  FgSetWidgetText(m_calUnit, unit ? unit : L"");
}

void CLfAmeasure::OnSize(uint64_t width, uint64_t height) {
  const int32_t f = MenuFontSize(m_menuBar);
  const int64_t h = int64_t(height) - f - 8;
  {
    PlatformLockHold draw(FgDrawLock());
    m_grid.SetRect(0, f + 8, int32_t(width > INT32_MAX ? INT32_MAX : width),
                   int32_t(h < 0 ? 0 : h > INT32_MAX ? INT32_MAX : h));
  }
  CFgUICtrl::Redraw();
}

void CLfAmeasure::OnCreate() { OnSize(m_clientWidth, m_clientHeight); }

// ---------------------------------------------------------------------------------------
// Table texts
const wchar_t* CLfAmeasure::ResultCellText(uint64_t column, uint64_t row, int32_t* alignment,
                                           double*, double*, double*, void* filter) {
  auto* self = static_cast<CLfAmeasure*>(filter);
  wchar_t* out = self->m_cellText;
  const size_t cap = sizeof(self->m_cellText) / sizeof(wchar_t);
  out[0] = 0;
  if (!self->m_records || !self->m_recordCount || column > self->m_recordCount ||
      row > kQuantityRows)
    return out;
  if (column == 0) {
    if (alignment) *alignment = -1;
    if (row == 0) {
      if (self->m_calUnit[0])
        swprintf(out, cap, self->m_languageIndex ? L"unit:%ls" : L"単位:%ls", self->m_calUnit);
    } else {
      const Quantity& q = kQuantities[row - 1];
      swprintf(out, cap, L"%ls", self->m_languageIndex ? q.en : q.ja);
    }
    return out;
  }
  if (row == 0) {
    if (alignment) *alignment = 0;
    swprintf(out, cap, L"ID%lu", (unsigned long)column);
    return out;
  }
  if (alignment) *alignment = 1;
  const IslandRecord& r = self->m_records[column - 1];
  const double values[kQuantityRows] = {r.contourX,        r.contourY,
                                        r.gravityX,        r.gravityY,
                                        r.area,            0,
                                        r.holeArea,        r.totalArea,
                                        r.perimeter,       r.holePerimeter,
                                        0,                 0,
                                        r.totalBrightness, r.averageBrightness,
                                        r.lineLength,      r.circularity,
                                        r.equivalentDiameter, r.sphereVolume,
                                        r.maxRadius,       r.minRadius,
                                        r.averageRadius,   r.longDiameter,
                                        r.shortDiameter,   r.inclination};
  switch (row) {
    case 6: swprintf(out, cap, L"%d", int(r.holes)); break;
    case 11: swprintf(out, cap, L"%u", unsigned(r.maxBrightness)); break;
    case 12: swprintf(out, cap, L"%u", unsigned(r.minBrightness)); break;
    default: swprintf(out, cap, L"%.3f", values[row - 1]); break;
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Processing
IslandRecord* CLfAmeasure::ResizeResults(uint64_t count, int32_t redraw) {
  IslandRecord* fresh = AllocateRecords(count);
  PlatformLockHold draw(FgDrawLock());
  InstallResults(fresh, fresh ? count : 0, redraw);
  return fresh;
}

void CLfAmeasure::InstallResults(IslandRecord* records, uint64_t count, int32_t redraw) {
  free(m_records);
  m_records = records;
  m_recordCount = records ? count : 0;
  if (!m_recordCount) {
    m_grid.Reset(0);
  } else if (m_grid.SetSize(m_recordCount + 1, kQuantityRows + 1, 0)) {
    m_grid.m_widths[0] = AmeasureNameColumnWidth(m_languageIndex);
    // Any quantity of an island may be its column's widest number.
    uint64_t quantityRows[kQuantityRows];
    for (uint64_t r = 0; r < kQuantityRows; ++r) quantityRows[r] = r + 1;
    for (uint64_t c = 1; c <= m_recordCount; ++c)
      FitColumnToNumbers(&m_grid, c, quantityRows, kQuantityRows, kResultColumnWidth);
    m_grid.SelectRow(0, 1, 0);
    m_grid.Layout();
  }
  if (redraw && m_grid.m_owner) CFgUICtrl::Redraw();
}

void CLfAmeasure::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                          int64_t height, uint32_t connectivity, uint32_t background) {
  if (!picture) return;
  double scale;
  int32_t axisY;
  {
    PlatformLockHold draw(FgDrawLock());
    scale = m_calScale;
    axisY = m_calAxisY;
  }
  IslandParams params{picture, int32_t(background != 0), int32_t(connectivity),
                      int32_t(m_island.load() != 0), 0, scale, axisY, nullptr, nullptr};
  const RoiRect roi = ChainRectToRoi(x, y, width, height);
  IslandTotals totals;
  const int32_t count = ExtractIslands(&params, &totals, nullptr, 0, &roi);
  if (count < 1) {
    ResizeResults(0, 1);
    return;
  }
  // The whole table when memory allows, else the first islands by halving powers of two.
  uint64_t capacity = uint64_t(count);
  IslandRecord* fresh = AllocateRecords(capacity);
  for (uint64_t p = NextPow2(capacity); !fresh && p > 1;) {
    p >>= 1;
    capacity = p;
    fresh = AllocateRecords(capacity);
  }
  if (!fresh) {
    ResizeResults(0, 1);
    return;
  }
  const int32_t measured = ExtractIslands(&params, &totals, fresh, int32_t(capacity), &roi);
  if (measured < 1) {
    free(fresh);
    ResizeResults(0, 1);
    return;
  }
  const uint64_t kept = uint64_t(measured) < capacity ? uint64_t(measured) : capacity;
  PlatformLockHold draw(FgDrawLock());
  const int32_t hadColumns = m_grid.m_columns != 0;
  const uint64_t column = m_grid.m_firstColumn, row = m_grid.m_firstRow;
  m_recordScale = scale;
  m_recordAxisY = axisY;
  m_recordHeight = picture->Height();
  InstallResults(fresh, kept, 0);
  if (hadColumns) m_grid.SetCurrentCell(column, row);
  if (m_grid.m_owner) CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Overlay
void CLfAmeasure::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont* font,
                              int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                              int32_t imageX0, int32_t imageY0, int32_t imageX1,
                              int32_t imageY1, int32_t zoom) {
  if (!toGlX || !toGlY) return;
  PlatformLockHold draw(FgDrawLock());
  if (!m_records || !m_recordCount) return;
  double fx, fy;
  if (zoom == 0 || zoom == -1) {
    fx = double(int64_t(viewX1) - viewX0 + 1) / double(int64_t(imageX1) - imageX0 + 1);
    fy = double(int64_t(viewY1) - viewY0 + 1) / double(int64_t(imageY1) - imageY0 + 1);
  } else if (zoom < -1) {
    fx = fy = 1.0 / -double(zoom);
  } else {
    fx = fy = double(zoom);
  }
  // A scale of 0 (or not a number) leaves no way back to the pixels: no crosses then.
  const double scale = m_recordScale;
  if (!(scale != 0) || !std::isfinite(scale)) return;
  const int32_t halfX = fx >= 2.0 ? int32_t(fx * 0.5) : 0;
  const int32_t halfY = fy >= 2.0 ? int32_t(fy * 0.5) : 0;
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  for (uint64_t i = 0; i < m_recordCount; ++i) {
    const IslandRecord& r = m_records[i];
    double gy = r.gravityY / scale;
    if (m_recordAxisY < 0) gy = double(m_recordHeight - 1) - gy;
    int32_t cx, cy, px, py;
    if (!TruncToInt(r.gravityX / scale, &cx) || !TruncToInt(gy, &cy)) continue;
    if (!TruncToInt((double(cx) - imageX0) * fx, &px) ||
        !TruncToInt((double(cy) - imageY0) * fy, &py))
      continue;
    const int64_t vx = int64_t(px) + halfX + viewX0, vy = int64_t(py) + halfY + viewY0;
    if (vx < INT32_MIN + 8 || vx > INT32_MAX - 8 || vy < INT32_MIN + 8 || vy > INT32_MAX - 8)
      continue;
    px = int32_t(vx);
    py = int32_t(vy);
    glBegin(GL_LINES);
    glVertex2d(toGlX(px), toGlY(py - 3));
    glVertex2d(toGlX(px), toGlY(py + 4));
    glVertex2d(toGlX(px - 3), toGlY(py));
    glVertex2d(toGlX(px + 4), toGlY(py));
    glEnd();
    if (font) {
      wchar_t label[32];
      swprintf(label, 32, L"ID:%lu", (unsigned long)(i + 1));
      font->DrawText(double(px) + 3, double(py) + 3, label);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfAmeasure::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PackWriteFlag(pack, L"island", m_island.load());
}

void CLfAmeasure::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  uint32_t island = m_island.load();
  int32_t found = 0;
  PackReadFlag(pack, L"island", &island, &found);
  m_island.store(island);
  if (found) CFgUICtrl::Redraw();
}
