// diagram.cpp - the colour diagram backgrounds and the hue-saturation disc point.
// Inside: plotting - outline and outside - the three makers - shared backgrounds - disc point
#include "filters/colour_pixel/diagram.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

#include "core/colour.h"
#include "engine/plot.h"

CImgBuff* XyDiagramBackground = nullptr;
CImgBuff* LabDiagramBackground = nullptr;
CImgBuff* HsvDiagramBackground = nullptr;

namespace {

constexpr int32_t kSide = 256;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

// ---------------------------------------------------------------------------------------
// Plotting
int32_t DiagramPlotPixel(int32_t x, int32_t y, void* ctx) {
  auto* c = static_cast<DiagramPlotContext*>(ctx);
  return c->picture->SetGray8(x, y, c->grey);
}

// ---------------------------------------------------------------------------------------
// Outline and outside
void DrawSpectralLocus(CImgBuff* picture, uint8_t grey) {
  if (!picture) return;
  DiagramPlotContext ctx{picture, grey};
  int32_t px[95], py[95];
  for (int32_t i = 0; i < 95; ++i) {
    double X, Y, Z;
    WavelengthToXyz(360.0 + 5.0 * i, &X, &Y, &Z);
    double s = X + Y + Z;
    px[i] = int32_t(X / s * 255);
    py[i] = 255 - int32_t(Y / s * 255);
  }
  for (int32_t i = 0; i < 95; ++i) {
    int32_t j = i ? i - 1 : 94;  // the last point closes onto the first
    int32_t x0 = px[j], y0 = py[j], x1 = px[i], y1 = py[i];
    if (y0 == y1) {
      for (int32_t x = std::min(x0, x1); x <= std::max(x0, x1); ++x)
        DiagramPlotPixel(x, y0, &ctx);
    } else if (x0 == x1) {
      for (int32_t y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
        DiagramPlotPixel(x0, y, &ctx);
    } else {
      PlotLine(x0, y0, x1, y1, &DiagramPlotPixel, &ctx);
    }
  }
}

void FillDiagramOutside(CImgBuff* picture, uint8_t grey) {
  if (!picture || picture->Format() == ImgFormatNone) return;
  uint8_t outside = 0;
  picture->GetGray8(0, 0, &outside);
  int32_t w = picture->Width(), h = picture->Height();
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint8_t v;
      picture->GetGray8(x, y, &v);
      if (v != outside) break;
      picture->SetGray8(x, y, grey);
    }
    for (int32_t x = w - 1; x >= 0; --x) {
      uint8_t v;
      picture->GetGray8(x, y, &v);
      if (v != outside) break;
      picture->SetGray8(x, y, grey);
    }
  }
}

// ---------------------------------------------------------------------------------------
// The makers
namespace {

// Steps 1 to 4 of every maker; false when the picture cannot be had.
bool PrepareDiagram(CImgBuff* picture, uint8_t bg, bool locus) {
  if (!picture || picture->Allocate(kSide, kSide, ImgFormatRgb24) != 1) return false;
  if (bg == 0) {
    auto* p = static_cast<uint8_t*>(picture->Pixels());
    std::fill(p, p + kSide * kSide * 3, uint8_t(255));
  }
  uint8_t outline = bg == 128 ? 0 : 128;
  if (locus) {
    DrawSpectralLocus(picture, outline);
  } else {
    DiagramPlotContext ctx{picture, outline};
    PlotCircle(&DiagramPlotPixel, &ctx);
  }
  FillDiagramOutside(picture, bg);
  return true;
}

template <class Fn>
void ColourInside(CImgBuff* picture, uint8_t bg, Fn&& colour) {
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      uint8_t v;
      picture->GetGray8(x, y, &v);
      if (v != bg) colour(x, y);
    }
}

}  // namespace

int32_t MakeXyDiagram(CImgBuff* picture, double Y, uint8_t bg) {
  if (!PrepareDiagram(picture, bg, true)) return 0;
  ColourInside(picture, bg, [&](int32_t x, int32_t y) {
    double cx = x / 255.0, cy = (255 - y) / 255.0;
    double X = Y / cy * cx, Z = Y / cy * (1 - cx - cy);
    picture->SetXYZ(x, y, X, Y, Z);
  });
  return 1;
}

int32_t MakeLabDiagram(CImgBuff* picture, double L, uint8_t bg) {
  if (!PrepareDiagram(picture, bg, false)) return 0;
  ColourInside(picture, bg, [&](int32_t x, int32_t y) {
    double a = x * 255.0 / 256.0 - 128, b = 128 - y * 255.0 / 256.0;
    picture->SetLab(x, y, L, a, b);
  });
  return 1;
}

int32_t MakeHsvDiagram(CImgBuff* picture, uint8_t bg) {
  if (!PrepareDiagram(picture, bg, false)) return 0;
  ColourInside(picture, bg, [&](int32_t x, int32_t y) {
    double dx = x - 128, dy = 128 - y;
    double angle = std::atan2(dy, dx);
    if (angle < 0) angle += 2 * kPi;
    double hue = std::min(angle / (2 * kPi) * 65535, 65535.0);
    double sat = std::min(std::sqrt(dx * dx + dy * dy) / 128 * 65535, 65535.0);
    picture->SetHSV16(x, y, uint16_t(hue), uint16_t(sat), 65535);
  });
  return 1;
}

// ---------------------------------------------------------------------------------------
// Shared backgrounds
namespace {

CImgBuff* MakeBackground(int32_t (*make)(CImgBuff*)) {
  auto* picture = new (std::nothrow) CImgBuff;
  if (!picture) return nullptr;
  if (make(picture) != 1) {
    delete picture;
    return nullptr;
  }
  return picture;
}

}  // namespace

void EnsureDiagramBackgrounds() {
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  if (!XyDiagramBackground)
    XyDiagramBackground = MakeBackground([](CImgBuff* p) { return MakeXyDiagram(p, 0.5, 0); });
  if (!LabDiagramBackground)
    LabDiagramBackground = MakeBackground([](CImgBuff* p) { return MakeLabDiagram(p, 50, 0); });
  if (!HsvDiagramBackground)
    HsvDiagramBackground = MakeBackground([](CImgBuff* p) { return MakeHsvDiagram(p, 0); });
}

// ---------------------------------------------------------------------------------------
// Disc point
int32_t HueSatToDiscPoint(uint32_t size, uint16_t hue, uint16_t sat, uint32_t* px,
                          uint32_t* py) {
  double half = size * 0.5;
  double a = hue / 65535.0 * 2 * kPi;
  double r = sat / 65535.0 * half;
  // The axis directions are placed without cos and sin, so a grey lands on the centre and
  // the four quarter turns on exact pixels.
  int64_t d = int64_t(a / kPi * 18000);
  double x, y;
  if (d == 0) {
    x = half + r, y = half;
  } else if (d == 9000) {
    x = half, y = half + r;
  } else if (d == 18000) {
    x = half - r, y = half;
  } else if (d == 27000) {
    x = half, y = half - r;
  } else {
    if (a > kPi) a -= 2 * kPi;
    x = half + r * std::cos(a);
    y = half + r * std::sin(a);
  }
  double top = size ? size - 1.0 : 0.0;
  x = std::clamp(x, 0.0, top);
  y = std::clamp(y, 0.0, top);
  if (px) *px = uint32_t(x);
  if (py) *py = uint32_t(y);
  return 1;
}
