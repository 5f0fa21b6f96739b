// videopanel.cpp - the scene bar: icon sheet, layout, thumb, stepping, the play loop,
// mouse and keys, drawing.
// Inside: icon sheet - clock - layout and thumb - stepping - play loop - input - drawing
#include "app/videopanel.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "app/iconsheet.h"
#include "platform/thread.h"
#include "toolkit/draw.h"

namespace {

// ---------------------------------------------------------------------------------------
// Icon sheet

constexpr int kCell = 32;
constexpr int kCells = 9;
constexpr int kSourceWidth = kCell * kCells;  // 288

// Source pixels: a first byte of 1 to 254 means black with alpha 255 - b; 0 or 255 means
// the four bytes are red, green, blue, alpha as they stand.
struct Source {
  std::vector<uint8_t> px = std::vector<uint8_t>(size_t(kSourceWidth) * kCell * 4, 0);
  void Set(int cell, int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    uint8_t* p = &px[(size_t(y) * kSourceWidth + size_t(cell * kCell + x)) * 4];
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
  }
  void Black(int cell, int x, int y, uint8_t alpha) {
    if (alpha == 255) Set(cell, x, y, 0, 0, 0, 255);
    else Set(cell, x, y, uint8_t(255 - alpha), 0, 0, 0);
  }
};

double Edge(double ax, double ay, double bx, double by, double px, double py) {
  return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

bool InTriangle(double px, double py, const double t[6]) {
  const double d0 = Edge(t[0], t[1], t[2], t[3], px, py);
  const double d1 = Edge(t[2], t[3], t[4], t[5], px, py);
  const double d2 = Edge(t[4], t[5], t[0], t[1], px, py);
  const bool neg = d0 < 0 || d1 < 0 || d2 < 0, pos = d0 > 0 || d1 > 0 || d2 > 0;
  return !(neg && pos);
}

// Coverage of a shape by 4 x 4 samples per pixel, as an alpha.
template <typename Inside>
void Paint(Source& s, int cell, Inside inside) {
  for (int y = 0; y < kCell; ++y)
    for (int x = 0; x < kCell; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx)
          if (inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)) ++hits;
      if (hits) s.Black(cell, x, y, uint8_t(hits * 255 / 16));
    }
}

void Button(Source& s, int cell) {
  for (int y = 2; y < 30; ++y)
    for (int x = 2; x < 30; ++x) {
      const bool frame = x == 2 || y == 2 || x == 29 || y == 29;
      if (frame) s.Black(cell, x, y, 160);
      else s.Set(cell, x, y, 255, 255, 255, 255);
    }
}

void Triangle(Source& s, int cell, double tipX, double baseX) {
  const double t[6] = {tipX, 16, baseX, 9, baseX, 23};
  Paint(s, cell, [&](double x, double y) { return InTriangle(x, y, t); });
}
void Dot(Source& s, int cell, double cx) {
  Paint(s, cell, [&](double x, double y) { return (x - cx) * (x - cx) + (y - 16) * (y - 16) <= 9.0; });
}
void Bar(Source& s, int cell, double x0) {
  Paint(s, cell, [&](double x, double y) { return x >= x0 && x < x0 + 3 && y >= 9 && y < 23; });
}

Source MakeSource() {
  Source s;
  for (int c = 0; c <= 6; ++c) Button(s, c);
  Bar(s, 0, 8);          // to the start
  Triangle(s, 0, 12, 22);
  Triangle(s, 1, 10, 21);  // play backward
  Triangle(s, 2, 7, 17);   // step back
  Dot(s, 2, 22);
  Dot(s, 3, 16);           // stop
  Dot(s, 4, 10);           // step forward
  Triangle(s, 4, 25, 15);
  Triangle(s, 5, 22, 11);  // play forward
  Triangle(s, 6, 20, 10);  // to the end
  Bar(s, 6, 21);
  // Track piece: a horizontal line across the cell.
  Paint(s, 7, [](double, double y) { return y >= 15 && y < 17; });
  // Thumb: a vertical bar with round ends.
  Paint(s, 8, [](double x, double y) {
    const double cy = y < 8 ? 8 : (y > 24 ? 24 : y);
    return (x - 16) * (x - 16) + (y - cy) * (y - cy) <= 9.0;
  });
  return s;
}

// ---------------------------------------------------------------------------------------
// Clock

uint32_t PlatformTick() { return PlatformTickCount(); }
void PlatformSleepMs(uint32_t ms) { PlatformSleep(ms); }
VideoPanelClock g_clock{PlatformTick, PlatformSleepMs};

constexpr uint32_t kSleepSlice = 50;

}  // namespace

void SetVideoPanelClockForTesting(const VideoPanelClock& clock) {
  g_clock.tick = clock.tick ? clock.tick : PlatformTick;
  g_clock.sleep = clock.sleep ? clock.sleep : PlatformSleepMs;
}

int32_t MakeSceneBarIcons(CFgTexture* texture) {
  if (!texture) return 0;
  const Source s = MakeSource();
  return MakeFadedIconSheet(texture, s.px.data(), kCell, kCells);
}

// ---------------------------------------------------------------------------------------
// Layout and thumb

CVideoPanel::CVideoPanel() {
  const uint64_t cells[kSceneBarRecords] = {1, 2, 3, 4, 5, 8};
  for (int i = 0; i < kSceneBarRecords; ++i) m_hits[i].cell = cells[i];
  m_hits[kSceneBarThumb].hitWidth = 12;
  MakeSceneBarIcons(&m_icons);
}

CVideoPanel::~CVideoPanel() = default;

void CVideoPanel::Layout() {
  const int32_t r = m_x + m_width - 36;
  const int32_t y = m_y + 4;
  const int32_t xs[5] = {r - 144, r - 64, r - 112, r - 32, r};  // in record order
  for (int i = 0; i < 5; ++i) {
    m_hits[i].x = m_hits[i].hitX = xs[i];
    m_hits[i].y = y;
    m_hits[i].hitWidth = 32;
  }
  if (r - 144 > 32) {
    m_trackStart = 0;
    m_trackEnd = int64_t(r) - 176;
  } else {
    m_trackStart = m_trackEnd = -1;
  }
  m_hits[kSceneBarThumb].y = y;
  UpdateThumb();
}

void CVideoPanel::UpdateThumb() {
  const int64_t length = m_trackEnd - m_trackStart + 1;
  int64_t x = m_trackStart;
  // Without a track the thumb stays at its start (-1: not drawn, not hit).
  if (m_count >= 2 && m_trackStart >= 0) x = m_trackStart + int64_t(uint64_t(length) * m_position / (m_count - 1));
  VideoPanelHit& t = m_hits[kSceneBarThumb];
  t.x = int32_t(x);
  t.hitX = t.x + (32 - 12) / 2;
}

// ---------------------------------------------------------------------------------------
// Stepping

void CVideoPanel::RedrawOwner() {
  if (m_owner) m_owner->Redraw();
}

// The thumb moves before the listener shows the scene, so the window the listener redraws
// is the one a redraw here would give: one redraw a scene, not two (under software GL a
// whole-window redraw is close to half of a 1080p scene's time while playing).
void CVideoPanel::Changed() {
  UpdateThumb();
  if (m_listener && m_listener->OnSceneChanged(m_position)) return;
  RedrawOwner();
}

int32_t CVideoPanel::SetScene(uint64_t n) {
  if (n >= m_count) return 0;
  m_position = n;
  Changed();
  return 1;
}

int32_t CVideoPanel::StepForward() {
  if (m_position + 1 >= m_count) return 0;
  m_step = 0;
  ++m_position;
  Changed();
  return 1;
}

int32_t CVideoPanel::StepBack() {
  if (m_position == 0) return 0;
  m_step = 0;
  --m_position;
  Changed();
  return 1;
}

// ---------------------------------------------------------------------------------------
// Play loop

bool CVideoPanel::Wait(uint32_t ms) {
  // Slices keep the window alive however long the interval (a 1-frame-a-second file, a
  // huge "ms_per_frame"); stop and quit end the wait.
  while (ms > 0 && m_step != 0) {
    const uint32_t slice = ms < kSleepSlice ? ms : kSleepSlice;
    g_clock.sleep(slice);
    ms -= slice;
    if (!FgPumpMessages()) return false;
  }
  return true;
}

void CVideoPanel::Play(int32_t s) {
  const int32_t previous = m_step;
  m_step = s;
  if (previous != 0 || s == 0) return;
  int64_t next = 0;
  while (m_step != 0) {
    const uint32_t t1 = g_clock.tick();
    if (next == 0) next = m_step;
    const int64_t position = int64_t(m_position), count = int64_t(m_count);
    if (next > 0 && position + next >= count) next = count - position - 1;
    if (next < 0 && -next > position) next = -position;
    if (next == 0) {
      m_step = 0;
      return;
    }
    const int64_t target = position + next;
    if (target >= 0 && target < count) {
      m_position = uint64_t(target);
      Changed();
    }
    next = 0;
    const uint32_t elapsed = g_clock.tick() - t1;  // unsigned: a wrap still gives the time
    // The interval is never 0, but a caller's 0 must not divide.
    const uint64_t interval = m_interval ? m_interval : 1;
    uint64_t sleep = 0;
    if (elapsed <= interval) {
      sleep = interval - elapsed;
    } else if (m_skip) {
      next = int64_t(elapsed / interval + 1) * m_step;
      sleep = elapsed % interval;
    }
    while (sleep > 0 && m_step != 0) {
      const uint32_t part = sleep > UINT32_MAX ? UINT32_MAX : uint32_t(sleep);
      if (!Wait(part)) {
        m_step = 0;
        return;
      }
      sleep -= part;
    }
    if (!FgPumpMessages()) {
      m_step = 0;  // the quit flag is set: the main loop ends too
      return;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Input

void CVideoPanel::OnMouseMove(int32_t x, int32_t y) {
  if (m_dragStartX != 0) {
    const int64_t length = m_trackEnd - m_trackStart + 1;
    if (length <= 0) return;
    int64_t d = (int64_t(x) - int64_t(m_dragStartX)) * int64_t(m_count) / length;
    const int64_t start = int64_t(m_dragStartPosition);
    if (start + d < 0) d = -start;
    if (start + d > int64_t(m_count) - 1) d = int64_t(m_count) - 1 - start;
    if (uint64_t(start + d) != m_position) SetScene(uint64_t(start + d));
    return;
  }
  const int64_t wx = int64_t(x) + m_x, wy = int64_t(y) + m_y;
  int32_t hovered = -1;
  for (int32_t i = 0; i < kSceneBarRecords; ++i) {
    const VideoPanelHit& h = m_hits[i];
    if (h.x < 0) continue;
    if (wx >= h.hitX && wx < int64_t(h.hitX) + h.hitWidth && wy >= h.y && wy < int64_t(h.y) + h.height) {
      hovered = i;
      break;
    }
  }
  if (hovered != m_hovered) {
    m_hovered = hovered;
    RedrawOwner();
  }
}

void CVideoPanel::OnLButtonDown(int32_t x, int32_t) {
  switch (m_hovered) {
    case kSceneBarPlayBack: Play(-1); break;
    case kSceneBarStepBack: StepBack(); break;
    case kSceneBarStop: m_step = 0; break;
    case kSceneBarStepForward: StepForward(); break;
    case kSceneBarPlayForward: Play(+1); break;
    case kSceneBarThumb:
      m_step = 0;
      m_dragStartPosition = m_position;
      m_dragStartX = uint32_t(x);
      CaptureMouse();
      break;
    default: break;
  }
}

void CVideoPanel::OnLButtonUp(int32_t, int32_t) {
  if (m_dragStartX == 0) return;
  m_dragStartX = 0;
  m_dragStartPosition = 0;
  ReleaseMouse();
}

void CVideoPanel::OnKeyStateChanged() {
  const uint16_t keys = GetKeyFlags();
  const bool shift = (keys & FgKeyShift) != 0;
  if (keys & FgKeyRight) {
    if (shift) Play(+1);
    else StepForward();
  } else if (keys & FgKeyLeft) {
    if (shift) Play(-1);
    else StepBack();
  } else if (keys & (FgKeyUp | FgKeyDown)) {
    m_step = 0;
  }
}

void CVideoPanel::OnSpecialKeyRepeat() { OnKeyStateChanged(); }

// ---------------------------------------------------------------------------------------
// Drawing

int64_t SceneBarTrackPieces(int64_t start, int64_t end, int64_t* out) {
  if (start < 0 || end < 0) return 0;
  int64_t n = 0;
  // Signed: with a track end below 15 an unsigned "end - 15" wrapped and the pieces never
  // ended.
  for (int64_t x = start + 15; x < end - 15 && n < kMaxTrackPieces - 1; x += 30) out[n++] = x;
  out[n++] = end - 16;
  return n;
}

void CVideoPanel::OnAttach() {
  if (CFgScreen* s = GetScreen()) m_icons.AttachToScreen(s);
}

void CVideoPanel::Draw(CFgScreen* screen, CFgFont*) {
  if (!screen) return;
  FgFillRect(screen, m_x, m_y, m_x + m_width - 1, m_y + m_height - 1, 1, 1, 1);
  if (!m_icons.AttachToScreen(screen)) return;
  const uint64_t faded = m_enabled ? 0 : kCells;
  for (int32_t i = 0; i < 5; ++i) {
    const VideoPanelHit& h = m_hits[i];
    if (h.x < 0) continue;
    if (m_enabled && m_hovered == i)
      FgFillRect(screen, h.x, m_y, h.x + h.width - 1, m_y + m_height - 1, 0.7, 1.0, 1.0);
    m_icons.DrawCell(h.x, h.y, 32, 32, h.cell + faded);
  }
  const VideoPanelHit& thumb = m_hits[kSceneBarThumb];
  if (m_hovered == kSceneBarThumb)
    FgFillRect(screen, thumb.hitX, m_y, thumb.hitX + thumb.hitWidth - 1, m_y + m_height - 1, 0.7, 1.0, 1.0);
  int64_t pieces[kMaxTrackPieces];
  const int64_t n = SceneBarTrackPieces(m_trackStart, m_trackEnd, pieces);
  for (int64_t i = 0; i < n; ++i) m_icons.DrawCell(double(pieces[i]), thumb.y, 32, 32, 7 + faded);
  if (thumb.x >= 0) m_icons.DrawCell(thumb.x, thumb.y, 32, 32, 8 + faded);
}
