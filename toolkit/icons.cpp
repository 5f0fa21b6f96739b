// icons.cpp - the shared check-box and radio-button icon sheet: its pixel art, made once
// from a few shapes, its reference count and the one-draw binding.
//
// Each icon is a 14 x 14 figure inside a transparent 1-pixel margin: a square (check box)
// or a circle (radio button) with a 1-pixel frame, black (disabled 127), filled with
// 205, 243, 243 focused, white unfocused, 224 disabled; a checked box carries a thick tick
// from the lower left up to the upper right, a selected radio button a disc, both black
// (disabled 195).
#include "toolkit/icons.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kSheetW = kFgIconCell * kFgIconColumns;  // 96
constexpr int kSheetH = kFgIconCell * kFgIconRows;     // 32

uint8_t g_pixels[kSheetW * kSheetH * 4];
int g_pixelsMade = 0;
CFgTexture* g_sheet = nullptr;
uint64_t g_refs = 0;

PlatformLock& SheetLock() {
  static PlatformLock* lock = new PlatformLock;  // outlives every check box
  return *lock;
}

// Distance from point p to the segment a-b.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  double vx = bx - ax, vy = by - ay, wx = px - ax, wy = py - ay;
  double t = (vx * wx + vy * wy) / (vx * vx + vy * vy);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  double dx = px - (ax + t * vx), dy = py - (ay + t * vy);
  return std::sqrt(dx * dx + dy * dy);
}

void Put(int x, int y, const uint8_t rgb[3]) {
  uint8_t* p = g_pixels + (size_t(y) * kSheetW + size_t(x)) * 4;
  p[0] = rgb[0];
  p[1] = rgb[1];
  p[2] = rgb[2];
  p[3] = 255;
}

void MakeIcon(int row, int column) {
  int state = column / 2, checked = column % 2;  // state 0 focused, 1 unfocused, 2 disabled
  static const uint8_t kFill[3][3] = {{205, 243, 243}, {255, 255, 255}, {224, 224, 224}};
  const uint8_t frame[3] = {uint8_t(state == 2 ? 127 : 0), uint8_t(state == 2 ? 127 : 0),
                            uint8_t(state == 2 ? 127 : 0)};
  const uint8_t mark[3] = {uint8_t(state == 2 ? 195 : 0), uint8_t(state == 2 ? 195 : 0),
                           uint8_t(state == 2 ? 195 : 0)};
  int ox = column * kFgIconCell, oy = row * kFgIconCell;
  for (int y = 1; y <= 14; ++y) {
    for (int x = 1; x <= 14; ++x) {
      double cx = x + 0.5, cy = y + 0.5;
      if (row == 0) {
        int edge = x == 1 || x == 14 || y == 1 || y == 14;
        const uint8_t* c = edge ? frame : kFill[state];
        if (!edge && checked &&
            (SegmentDistance(cx, cy, 4, 7.5, 6.5, 11) <= 1.2 ||
             SegmentDistance(cx, cy, 6.5, 11, 12, 4) <= 1.2))
          c = mark;
        Put(ox + x, oy + y, c);
      } else {
        double d = std::sqrt((cx - 8) * (cx - 8) + (cy - 8) * (cy - 8));
        if (d > 7) continue;  // outside the circle stays transparent
        const uint8_t* c = d > 6 ? frame : kFill[state];
        if (checked && d <= 3.2) c = mark;
        Put(ox + x, oy + y, c);
      }
    }
  }
}

void MakePixels() {
  if (g_pixelsMade) return;
  memset(g_pixels, 0, sizeof g_pixels);
  for (int row = 0; row < kFgIconRows; ++row)
    for (int column = 0; column < kFgIconColumns; ++column) MakeIcon(row, column);
  g_pixelsMade = 1;
}

}  // namespace

int32_t AcquireIconSheet() {
  PlatformLockHold hold(SheetLock());
  if (g_refs == 0) {
    MakePixels();
    CFgTexture* t = new CFgTexture;
    if (!t->Create(kFgIconCell, kFgIconCell, kFgIconColumns, kFgIconRows, 1, g_pixels)) {
      delete t;
      return 0;
    }
    g_sheet = t;
  }
  ++g_refs;
  return 1;
}

void ReleaseIconSheet() {
  // Draw lock first, as in drawing: freeing the sheet deletes its GL texture, which takes
  // the draw lock, and a drawing thread holds that lock while it waits for the sheet's.
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(SheetLock());
  if (g_refs == 0) return;
  if (--g_refs == 0) {
    delete g_sheet;
    g_sheet = nullptr;
  }
}

CFgTexture* FgIconSheet() {
  PlatformLockHold hold(SheetLock());
  return g_sheet;
}

const uint8_t* FgIconSheetPixels() {
  PlatformLockHold hold(SheetLock());
  MakePixels();
  return g_pixels;
}

int32_t FgDrawIcon(CFgScreen* screen, int32_t x, int32_t y, uint64_t cell) {
  if (!screen) return 0;
  // Draw lock first, then the sheet: the binding lasts only this one draw.
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(SheetLock());
  if (!g_sheet || !g_sheet->AttachToScreen(screen)) return 0;
  int32_t ok = g_sheet->DrawCell(x, y, kFgIconCell, kFgIconCell, cell);
  g_sheet->ReleaseGL();
  return ok;
}
