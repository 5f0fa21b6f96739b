// mmeasure.cpp - manual measurement: clicked points, the result line, the overlay.
// Inside: result line - filter and window - clicks - overlay
#include "measure/mmeasure.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "app/filterctrl.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfMmeasure::s_classPlace;

// ---------------------------------------------------------------------------------------
// Result line
namespace {

// The line of up to four points into line (kLineUnits, always terminated).
constexpr size_t kLineUnits = 320;  // the longest number part with a 255-unit unit
void BuildLine(wchar_t* line, const MmeasurePoint* points, uint64_t count, int32_t japanese,
               double scale, int32_t axisY, uint64_t sourceHeight, const wchar_t* unit) {
  line[0] = 0;
  auto dx = [&](int i, int j) { return int64_t(points[i].x) - int64_t(points[j].x); };
  auto dy = [&](int i, int j) { return int64_t(points[i].y) - int64_t(points[j].y); };
  if (count == 1) {
    int64_t y = int64_t(points[0].y);
    if (axisY < 0) y = int64_t(sourceHeight) - y - 1;
    swprintf(line, kLineUnits, japanese ? L"座標(%ld, %ld)" : L"pos(%ld, %ld)",
             long(points[0].x), long(y));
  } else if (count == 2) {
    const int64_t ex = dx(1, 0), ey = dy(1, 0);
    const double length = std::sqrt(double(ex * ex + ey * ey)) * scale;
    // A length beyond what "%f" prints in the line leaves it empty rather than cut.
    if (swprintf(line, kLineUnits, japanese ? L"距離:%f" : L"length:%f", length) < 0) {
      line[0] = 0;
      return;
    }
    size_t used = wcslen(line);
    for (const wchar_t* u = unit; u && *u && used + 1 < kLineUnits; ++u) line[used++] = *u;
    line[used] = 0;
  } else {
    int64_t ax, ay, bx, by;
    if (count == 3) {
      ax = dx(0, 1), ay = dy(0, 1), bx = dx(2, 1), by = dy(2, 1);
    } else {
      ax = dx(1, 0), ay = dy(1, 0), bx = dx(3, 2), by = dy(3, 2);
    }
    const int64_t aa = ax * ax + ay * ay, bb = bx * bx + by * by;
    if (aa == 0 || bb == 0) {
      swprintf(line, kLineUnits, L"%ls", japanese ? L"内積:---" : L"angle:---");
      return;
    }
    // Rounding can carry the cosine of (anti)parallel directions just past 1.
    double c = double(ax * bx + ay * by) / (std::sqrt(double(aa)) * std::sqrt(double(bb)));
    c = std::clamp(c, -1.0, 1.0);
    swprintf(line, kLineUnits, japanese ? L"内積:%frad" : L"angle:%frad", std::acos(c));
  }
}

}  // namespace

void FormatManualResult(wchar_t* out, uint64_t capacity, const MmeasurePoint* points,
                        uint64_t count, int32_t japanese, double scale, int32_t axisY,
                        uint64_t sourceHeight, const wchar_t* unit) {
  if (!out || !capacity) return;
  out[0] = 0;
  if (!points || count == 0) return;
  if (count > CLfMmeasure::kMaxPoints) count = CLfMmeasure::kMaxPoints;
  // Built whole, then cut to the caller's buffer: a formatter that runs out of room may
  // leave its buffer unterminated.
  wchar_t line[kLineUnits];
  BuildLine(line, points, count, japanese, scale, axisY, sourceHeight, unit);
  uint64_t n = 0;
  for (; line[n] && n + 1 < capacity; ++n) out[n] = line[n];
  out[n] = 0;
}

// ---------------------------------------------------------------------------------------
// Filter and window
CLfMmeasure::CLfMmeasure() : CFilterWindow(&s_classPlace) {
  m_clear.m_callback = &CLfMmeasure::OnClear;
  m_clear.m_user = this;
  m_layoutItems[0] = {&m_result, nullptr, nullptr, 8, 8, 8, 8, 184, 32};
  m_layoutItems[1] = {&m_clear, L"CLS", L"クリア", 200, 8, 200, 8, 48, 32};
  AddChild(&m_result);
  AddChild(&m_clear);
  m_layout = {m_layoutItems, 2, 256, 48, 256, 48, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
}

CLfMmeasure::~CLfMmeasure() { Destroy(); }

const wchar_t* CLfMmeasure::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"マニュアル計測" : L"Manual measurement";
}

void CLfMmeasure::OnEnable(int32_t enabled) {
  CImgFilter::OnEnable(enabled);
  if (enabled) {
    UpdateText(1);
  } else {
    PlatformLockHold draw(FgDrawLock());
    m_result.SetText(L"");
  }
  EnableAll(enabled != 0);
}

void CLfMmeasure::ShowDialog(int32_t show, CFgScreen* parent) {
  CFilterWindow::ShowDialog(show, parent);
  if (show) UpdateText(0);
}

void CLfMmeasure::OnLanguageChanged(const wchar_t* language) {
  {
    PlatformLockHold draw(FgDrawLock());
    m_japanese = IsJapanese(language);
  }
  CFilterWindow::OnLanguageChanged(language);
  UpdateText(0);
}

void CLfMmeasure::OnScaleChanged(double scale, int32_t axisY, const wchar_t* unit) {
  PlatformLockHold draw(FgDrawLock());
  m_calScale = scale;
  m_calAxisY = axisY;
  FgSetWidgetText(m_calUnit, unit ? unit : L"");
}

void CLfMmeasure::OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                                  uint64_t sceneCount) {
  CFilterWindow::OnSourceChanged(width, height, bytesPerPixel, sceneCount);
  PlatformLockHold draw(FgDrawLock());
  m_height = height;
}

void CLfMmeasure::Process(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
                          uint32_t) {
  UpdateText(0);
}

void CLfMmeasure::UpdateText(int32_t host) {
  {
    PlatformLockHold draw(FgDrawLock());
    wchar_t line[kFgWidgetTextUnits];
    FormatManualResult(line, kFgWidgetTextUnits, m_points, PointCount(), m_japanese,
                       m_calScale, m_calAxisY, m_height, m_calUnit);
    m_result.SetText(line);
  }
  // The host's redraw takes the chain lock, which comes before the draw lock.
  if (host && m_filterEnabled && m_host) m_host->Redraw();
  CFgUICtrl::Redraw();
}

void CLfMmeasure::OnClear(CFgUIButton*, void* filter) {
  auto* self = static_cast<CLfMmeasure*>(filter);
  {
    PlatformLockHold draw(FgDrawLock());
    self->m_pointCount.store(0, std::memory_order_release);
    self->m_result.SetText(L"");
  }
  if (self->m_filterEnabled && self->m_host) self->m_host->Redraw();
  self->CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Clicks
void CLfMmeasure::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  if (x < 0 || y < 0 || x > INT32_MAX || y > INT32_MAX) return;
  {
    PlatformLockHold draw(FgDrawLock());
    const uint64_t n = PointCount();
    if (n >= kMaxPoints) return;  // a fifth click is ignored
    m_points[n] = MmeasurePoint{uint32_t(x), uint32_t(y)};
    m_pointCount.store(n + 1, std::memory_order_release);
  }
  UpdateText(1);
}

void CLfMmeasure::OnRButtonDown(int64_t, int64_t, uint8_t) {
  {
    PlatformLockHold draw(FgDrawLock());
    const uint64_t n = PointCount();
    if (n == 0) return;
    m_pointCount.store(n - 1, std::memory_order_release);
  }
  UpdateText(1);
}

// ---------------------------------------------------------------------------------------
// Overlay
void CLfMmeasure::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*,
                              int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                              int32_t imageX0, int32_t imageY0, int32_t imageX1,
                              int32_t imageY1, int32_t zoom) {
  if (!toGlX || !toGlY) return;
  PlatformLockHold draw(FgDrawLock());
  const uint64_t n = PointCount();
  if (n == 0) return;
  int32_t px[kMaxPoints], py[kMaxPoints];
  for (uint64_t i = 0; i < n; ++i) {
    px[i] = int32_t(m_points[i].x);
    py[i] = int32_t(m_points[i].y);
    ImageToView(&px[i], &py[i], viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1,
                imageY1, zoom);
    // The middle of the magnified pixel.
    if (zoom > 1) px[i] += zoom / 2, py[i] += zoom / 2;
  }
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  auto vertex = [&](int32_t x, int32_t y) { glVertex2d(toGlX(x), toGlY(y)); };
  auto point = [&](uint64_t i) {
    glBegin(GL_POINTS);
    vertex(px[i], py[i]);
    glEnd();
  };
  switch (n) {
    case 1:
      glBegin(GL_LINES);
      vertex(px[0] - 4, py[0]);
      vertex(px[0] + 5, py[0]);
      vertex(px[0], py[0] - 4);
      vertex(px[0], py[0] + 5);
      glEnd();
      break;
    case 2:
      glBegin(GL_LINES);
      vertex(px[0], py[0]);
      vertex(px[1], py[1]);
      glEnd();
      point(1);
      break;
    case 3:
      glBegin(GL_LINE_STRIP);
      vertex(px[0], py[0]);
      vertex(px[1], py[1]);
      vertex(px[2], py[2]);
      glEnd();
      point(2);
      break;
    default:
      glBegin(GL_LINES);
      vertex(px[0], py[0]);
      vertex(px[1], py[1]);
      vertex(px[2], py[2]);
      vertex(px[3], py[3]);
      glEnd();
      point(1);
      point(3);
      break;
  }
}
