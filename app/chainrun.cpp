// chainrun.cpp - one frame through the current chain on the filter worker, the overlay pass
// and the pixel-to-OpenGL converters of the overlay draw target.
// Inside: clock - chain run - overlay pass - draw target and converters
#include "app/filterctrl.h"
#include "app/spectrum.h"
#include "toolkit/screen.h"
#include "toolkit/texture.h"

// ---------------------------------------------------------------------------------------
// Clock
namespace {

uint32_t PlatformTick() { return PlatformTickCount(); }
void PlatformGiveUpSlice() { PlatformSleep(0); }

std::atomic<uint32_t (*)()> g_tick{&PlatformTick};
std::atomic<void (*)()> g_yield{&PlatformGiveUpSlice};

// Bytes per sample: gray formats their bytes per pixel, colour formats a third of them
// (XYZ 8, 16-bit HSV 2, 8-bit CMYK 1); 0 for no format.
uint32_t BytesPerSample(int32_t format) {
  if (format >= 1 && format <= 3) return uint32_t(ImgBytesPerPixel[format]);
  if (format >= 4 && format <= 9) return uint32_t(ImgBytesPerPixel[format] / 3);
  return 0;
}

// The format a picture returns to for a depth; 0 leaves it as it is.
int32_t FormatForDepth(int32_t format, uint32_t depth) {
  if (format >= 4 && format <= 9) {
    switch (depth) {
      case 1: return ImgFormatRgb24;
      case 2: return ImgFormatRgb48;
      case 4: return ImgFormatRgb96;
      case 8: return ImgFormatXyz;
      default: return 0;
    }
  }
  if (format >= 1 && format <= 3) {
    switch (depth) {
      case 1: return ImgFormatGray8;
      case 2: return ImgFormatGray16;
      case 4: return ImgFormatGray32;
      default: return 0;
    }
  }
  return 0;
}

}  // namespace

void SetChainRunClockForTesting(const ChainRunClock& clock) {
  g_tick.store(clock.tick ? clock.tick : &PlatformTick);
  g_yield.store(clock.yield ? clock.yield : &PlatformGiveUpSlice);
}

// ---------------------------------------------------------------------------------------
// Chain run
void CFilterCtrl::ProcessFrame(CImgBuff* picture, uint64_t scene) {
  if (!picture) return;
  int32_t format = picture->Format();
  if (format < 1 || format > 9) return;  // an empty picture: not even the stack changes

  int64_t x = 0, y = 0, width = picture->Width(), height = picture->Height();
  uint32_t depth = BytesPerSample(format);
  uint32_t keptConnectivity = m_connectivity;
  uint32_t keptBackground = m_background;

  EmptySpectrumStack();

  uint32_t active = 0;
  uint32_t skipping = 0;
  uint32_t (*tick)() = g_tick.load();
  uint32_t lastYield = tick();
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) {
    CImgFilter* filter = chain.filters[i];
    if (filter->m_type == 1) {
      // A group tag is never run; it switches the filters up to the next tag.
      skipping = filter->m_filterEnabled ? 0 : 1;
      continue;
    }
    if (skipping || !filter->m_filterEnabled) continue;
    uint32_t now = tick();
    // Unsigned difference: a wrap of the tick count counts as more than 50 ms.
    if (now - lastYield > 50 || now < lastYield) {
      g_yield.load()();
      lastYield = now;
    }
    uint32_t component = active;
    filter->ProcessChain(active ? &m_plane : picture, scene, &x, &y, &width, &height,
                         &m_connectivity, &m_background, &component, &depth);
    if (component != active) {
      if (active) MergeComponent(picture, &m_plane, active);
      active = component;
      int32_t f = picture->Format();
      if (active && f >= 1 && f <= 9)
        ExtractComponent(picture, &m_plane, active, nullptr, picture->Width(), picture->Height());
      else if (active)
        m_plane.Free();  // the filters after it get an empty plane, not one of an earlier run
    }
  }
  if (active) MergeComponent(picture, &m_plane, active);

  int32_t target = FormatForDepth(picture->Format(), depth);
  if (target && BytesPerSample(picture->Format()) != depth) picture->record->ConvertTo(target);

  m_connectivity = keptConnectivity;
  m_background = keptBackground;
  m_lastRect[0] = int32_t(x);
  m_lastRect[1] = int32_t(y);
  m_lastRect[2] = int32_t(uint64_t(x) + uint64_t(width) - 1);
  m_lastRect[3] = int32_t(uint64_t(y) + uint64_t(height) - 1);
  // The plane keeps its pixels for the next run of the same size; a plane of another size
  // is dropped so that it does not hold memory the next frames never use.
  if (m_plane.Width() != picture->Width() || m_plane.Height() != picture->Height())
    m_plane.Free();
}

// ---------------------------------------------------------------------------------------
// Overlay pass
void CFilterCtrl::DrawOverlays(CFgScreen* screen, CFgFont* font, int32_t viewX0,
                               int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0,
                               int32_t imageY0, int32_t imageX1, int32_t imageY1,
                               int32_t zoom) {
  if (!screen || !screen->m_glContext) return;
  if (viewX0 > viewX1 || viewY0 > viewY1 || imageX0 > imageX1 || imageY0 > imageY1) return;
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) {
    CImgFilter* filter = chain.filters[i];
    // Group tags are not consulted: a filter inside a switched-off group still draws.
    if (!filter->m_filterEnabled) continue;
    filter->DrawOverlay(&PixelToGlX, &PixelToGlY, screen, font, viewX0, viewY0, viewX1, viewY1,
                        imageX0, imageY0, imageX1, imageY1, zoom);
  }
}

// ---------------------------------------------------------------------------------------
// Draw target and converters
namespace {

struct OverlayTarget {
  CFgScreen* mainWindow = nullptr;
  CFgTexture* texture = nullptr;
  uint32_t padded = 0;
  uint32_t sizeKnown = 0;
  uint64_t cellWidth = 0, cellHeight = 0, bufferWidth = 0, bufferHeight = 0;
};
OverlayTarget g_target;

// The texture's size, read on first use after it was set.
void KnowTextureSize() {
  if (g_target.sizeKnown) return;
  CFgTexture* t = g_target.texture;
  g_target.cellWidth = t->m_cellWidth;
  g_target.cellHeight = t->m_cellHeight;
  g_target.bufferWidth = t->m_bufferWidth;
  g_target.bufferHeight = t->m_bufferHeight;
  g_target.sizeKnown = 1;
}

}  // namespace

void SetOverlayMainWindow(CFgScreen* screen) { g_target.mainWindow = screen; }
CFgScreen* OverlayMainWindow() { return g_target.mainWindow; }

void SetOverlayTexture(CFgTexture* texture, uint32_t padded) {
  g_target.texture = texture;
  g_target.padded = texture ? padded : 0;
  g_target.sizeKnown = 0;
}

double PixelToGlX(int32_t x) {
  if (g_target.texture) {
    KnowTextureSize();
    if (g_target.padded) {
      double p = double(g_target.bufferWidth);
      return (x - p / 2) / (p / 2) + 1 / p;
    }
    double w = double(g_target.cellWidth);
    return (x - w / 2) / (w / 2);
  }
  // A main screen whose window is not made yet has no pixels to map onto.
  if (g_target.mainWindow && g_target.mainWindow->m_clientWidth) {
    double w = double(g_target.mainWindow->m_clientWidth);
    return (x - w / 2) / (w / 2) + 1 / w;  // half a pixel right: onto the pixel's centre
  }
  return 0.0;
}

double PixelToGlY(int32_t y) {
  if (g_target.texture) {
    KnowTextureSize();
    if (g_target.padded) {
      double q = double(g_target.bufferHeight);
      return (y - q / 2) / (q / 2) + 1 / q;  // rows of the padded target are not flipped
    }
    double h = double(g_target.cellHeight);
    return (h - y - h / 2) / (h / 2);
  }
  if (g_target.mainWindow && g_target.mainWindow->m_clientHeight) {
    double h = double(g_target.mainWindow->m_clientHeight);
    // A quarter of a pixel down (0.5 / H): points and lines land on the row they name.
    return (h - y - h / 2) / (h / 2) - 0.5 / h;
  }
  return 0.0;
}
