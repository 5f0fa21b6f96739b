// overlay.cpp - what the main window shows besides the picture: the guides over the view
// (filter overlays, calibration marks, scene counter), the title with the colour readout
// of the pixel under the cursor, and the image information message.
// Inside: format names - colour readout - guides - title - image information
//
// Readout classes by the display picture's format: 8 (formats 1, 4, 9) prints decimal,
// 16 (2, 5, 8) four hex digits, 32 (every other) eight; XYZ, L*a*b* and L*C*h print doubles
// whatever the class.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <initializer_list>

#include "app/mainscreen.h"
#include "core/colour.h"
#include "core/parallel.h"
#include "toolkit/font.h"
#include "toolkit/msgbox.h"
#include "toolkit/path.h"

// ---------------------------------------------------------------------------------------
// Format names

const wchar_t* ImageFormatDisplayName(int32_t format, int32_t japanese) {
  static const wchar_t* const kJp[] = {
      L"空", L"8bitグレースケール", L"16bitグレースケール", L"32bitグレースケール",
      L"24bitカラー", L"48bitカラー", L"96bitカラー", L"XYZカラー", L"48bitカラー(HSV)",
      L"32bitカラー(CMYK)"};
  static const wchar_t* const kEn[] = {
      L"null", L"8bit grayscale", L"16bit grayscale", L"32bit grayscale", L"24bit color",
      L"48bit color", L"96bit color", L"XYZ color", L"48bit color (HSV)", L"32bit color (CMYK)"};
  if (format < 0 || format > 9) return japanese ? L"不明な形式" : L"unknown";
  return japanese ? kJp[format] : kEn[format];
}

// ---------------------------------------------------------------------------------------
// Colour readout
namespace {

constexpr double kPi = 3.14159265358979323846;
// Longest readout: three doubles of up to 310 digits each ("%lf" of DBL_MAX).
constexpr size_t kReadoutUnits = 1100;

enum ReadoutClass { kClass8, kClass16, kClass32 };

ReadoutClass ClassOf(int32_t format) {
  switch (format) {
    case ImgFormatGray8:
    case ImgFormatRgb24:
    case ImgFormatCmyk32: return kClass8;
    case ImgFormatGray16:
    case ImgFormatRgb48:
    case ImgFormatHsv48: return kClass16;
    default: return kClass32;
  }
}

// Hue 0..254 of an 8-bit colour; integer division truncating toward zero, as C does.
int32_t Hue8(int32_t r, int32_t g, int32_t b, int32_t mx, int32_t mn) {
  if (mx == mn) return 0;
  const int32_t d = mx - mn;
  if (r == mx) return (255 + (g - b) * 42 / d) % 255;
  if (g == mx) return (b - r) * 42 / d + 84;
  return (r - g) * 42 / d + 168;
}

// CMYK at a class's full value: K = full - max, C = max - R, M = max - G, Y = max - B.
template <typename T>
void CmykOf(T r, T g, T b, T full, T* c, T* m, T* y, T* k) {
  T mx = r > g ? r : g;
  if (b > mx) mx = b;
  *k = T(full - mx);
  *c = T(mx - r);
  *m = T(mx - g);
  *y = T(mx - b);
}

// The readout into a buffer of kReadoutUnits, which holds every readout whole.
void FormatReadout(wchar_t* out, const CImgBuff* picture, uint32_t mode, int32_t x, int32_t y,
                   uint64_t workers) {
  const unsigned long cores = static_cast<unsigned long>(workers);
  const long lx = x, ly = y;
  const size_t n = kReadoutUnits;
  swprintf(out, n, L" - %lucore", cores);
  // The point may lie outside the display while it changes size between a run and the next
  // upload: then no value is read.
  if (mode < 1 || mode > 7 || !picture || !picture->Pixels() || x < 0 || y < 0 ||
      x >= picture->Width() || y >= picture->Height())
    return;
  const ReadoutClass cls = ClassOf(picture->Format());
  const C_ImgBuff* rec = picture->record;
  switch (mode) {
    case 1:  // RGB
      if (cls == kClass8) {
        uint8_t r, g, b;
        rec->GetRGB8(x, y, &r, &g, &b);
        swprintf(out, n, L" - %lucore (%ld, %ld) R:%u G:%u B:%u", cores, lx, ly, r, g, b);
      } else if (cls == kClass16) {
        uint16_t r, g, b;
        rec->GetRGB16(x, y, &r, &g, &b);
        swprintf(out, n, L" - %lucore (%ld, %ld) R:%04X G:%04X B:%04X", cores, lx, ly, r, g, b);
      } else {
        uint32_t r, g, b;
        rec->GetRGB32(x, y, &r, &g, &b);
        swprintf(out, n, L" - %lucore (%ld, %ld) R:%08X G:%08X B:%08X", cores, lx, ly, r, g, b);
      }
      return;
    case 2:  // HSV
      if (cls == kClass8) {
        uint8_t r, g, b;
        rec->GetRGB8(x, y, &r, &g, &b);
        int32_t mx = r > g ? r : g, mn = r < g ? r : g;
        if (b > mx) mx = b;
        if (b < mn) mn = b;
        const int32_t h = Hue8(r, g, b, mx, mn);
        const uint32_t s = mx ? uint32_t((mx - mn) * 254 / mx) : 0;
        swprintf(out, n, L" - %lucore (%ld, %ld) H:%.0lf S:%u V:%u", cores, lx, ly,
                 double(h) / 255 * 359, s, uint32_t(mx));
      } else if (cls == kClass16) {
        uint16_t h, s, v;
        rec->GetHSV16(x, y, &h, &s, &v);
        swprintf(out, n, L" - %lucore (%ld, %ld) H:%.0lf S:%04X V:%04X", cores, lx, ly,
                 double(h) / 65535 * 359, s, v);
      } else {
        uint32_t r, g, b, h, s, v;
        rec->GetRGB32(x, y, &r, &g, &b);
        Rgb32ToHsv32(r, g, b, &h, &s, &v);
        swprintf(out, n, L" - %lucore (%ld, %ld) H:%.0lf S:%08X V:%08X", cores, lx, ly,
                 double(h) / 4294967295.0 * 359, s, v);
      }
      return;
    case 3:  // CMY
      if (cls == kClass8) {
        uint8_t r, g, b;
        rec->GetRGB8(x, y, &r, &g, &b);
        swprintf(out, n, L" - %lucore (%ld, %ld) C:%u M:%u Y:%u", cores, lx, ly, 255u - r,
                 255u - g, 255u - b);
      } else if (cls == kClass16) {
        uint16_t r, g, b;
        rec->GetRGB16(x, y, &r, &g, &b);
        swprintf(out, n, L" - %lucore (%ld, %ld) C:%04X M:%04X Y:%04X", cores, lx, ly,
                 65535u - r, 65535u - g, 65535u - b);
      } else {
        uint32_t r, g, b;
        rec->GetRGB32(x, y, &r, &g, &b);
        swprintf(out, n, L" - %lucore (%ld, %ld) C:%08X M:%08X Y:%08X", cores, lx, ly,
                 4294967295u - r, 4294967295u - g, 4294967295u - b);
      }
      return;
    case 4:  // CMYK
      if (cls == kClass8) {
        uint8_t c, m, ye, k;
        rec->GetCMYK8(x, y, &c, &m, &ye, &k);
        swprintf(out, n, L" - %lucore (%ld, %ld) C:%u M:%u Y:%u K:%u", cores, lx, ly, c, m, ye, k);
      } else if (cls == kClass16) {
        uint16_t r, g, b, c, m, ye, k;
        rec->GetRGB16(x, y, &r, &g, &b);
        CmykOf<uint16_t>(r, g, b, 65535, &c, &m, &ye, &k);
        swprintf(out, n, L" - %lucore (%ld, %ld) C:%04X M:%04X Y:%04X K:%04X", cores, lx, ly, c,
                 m, ye, k);
      } else {
        uint32_t r, g, b, c, m, ye, k;
        rec->GetRGB32(x, y, &r, &g, &b);
        CmykOf<uint32_t>(r, g, b, 4294967295u, &c, &m, &ye, &k);
        swprintf(out, n, L" - %lucore (%ld, %ld) C:%08X M:%08X Y:%08X K:%08X", cores, lx, ly, c,
                 m, ye, k);
      }
      return;
    default: break;
  }
  double X = 0, Y = 0, Z = 0;
  if (!rec->GetXYZ(x, y, &X, &Y, &Z)) return;
  if (mode == 5) {
    swprintf(out, n, L" - %lucore (%ld, %ld) X:%lf Y:%lf Z:%lf", cores, lx, ly, X, Y, Z);
    return;
  }
  double L = 0, a = 0, b = 0;
  XyzToLab(X, Y, Z, &L, &a, &b);
  if (mode == 6) {
    swprintf(out, n, L" - %lucore (%ld, %ld) L*:%lf a*:%lf b*:%lf", cores, lx, ly, L, a, b);
    return;
  }
  const double c = std::sqrt(a * a + b * b);
  double h = std::atan2(b, a);
  if (h < 0) h += 2 * kPi;
  swprintf(out, n, L" - %lucore (%ld, %ld) L*:%lf C*:%lf h:%.0lf", cores, lx, ly, L, c,
           h / (2 * kPi) * 360);
}

}  // namespace

// Formatted whole, then cut to the caller's buffer: swprintf leaves a too-short buffer
// undefined.
void FormatColorReadout(wchar_t* out, uint64_t units, const CImgBuff* picture, uint32_t mode,
                        int32_t x, int32_t y, uint64_t workers) {
  if (!out || units == 0) return;
  wchar_t whole[kReadoutUnits];
  FormatReadout(whole, picture, mode, x, y, workers);
  const size_t n = wcsnlen(whole, size_t(units - 1));
  wmemcpy(out, whole, n);
  out[n] = 0;
}

// ---------------------------------------------------------------------------------------
// Guides

void DrawGuides(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                int32_t imageX1, int32_t imageY1, int32_t zoom, void* user) {
  CMainScreen* s = static_cast<CMainScreen*>(user);
  if (!s || s->m_displayMode != 2) return;
  if (s->m_offscreen) {
    // Drawn into a texture of the image's own size: the guides land on its pixels.
    const int32_t w1 = int32_t(s->m_view.PictureWidth() - 1);
    const int32_t h1 = int32_t(s->m_view.PictureHeight() - 1);
    s->DrawOverlay(screen, font, 0, 0, w1, h1, 0, 0, w1, h1, 1);
    return;
  }
  s->DrawOverlay(screen, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1,
                 imageY1, zoom);
}

void CMainScreen::DrawOverlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                              int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                              int32_t imageX1, int32_t imageY1, int32_t zoom) {
  m_sidePanel.DrawOverlays(screen, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0,
                           imageX1, imageY1, zoom);
  if (m_calibration.IsOpen())
    m_calibration.DrawMarks(viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1,
                            zoom);
  const uint64_t count = m_videoPanel.m_count;
  if (!m_source.Pixels() || count < 2 || !font) return;
  const double* c = kGuideColors[m_guideColor <= 7 ? m_guideColor : 1];
  glColor3d(c[0], c[1], c[2]);
  wchar_t text[48];
  swprintf(text, 48, L"%llu/%llu", static_cast<unsigned long long>(m_videoPanel.m_position + 1),
           static_cast<unsigned long long>(count));
  font->DrawText(double(viewX0), double(viewY0), text);
}

// ---------------------------------------------------------------------------------------
// Title

void CMainScreen::UpdateTitle() {
  constexpr uint64_t kTitleUnits = 1280;
  wchar_t part[kReadoutUnits];
  const uint64_t workers = ActiveWorkerCount();
  int32_t ix = m_cursorX, iy = m_cursorY;
  if (m_colorPicker == 0 || !m_view.ClientToImage(&ix, &iy)) {
    FormatColorReadout(part, kReadoutUnits, nullptr, 0, 0, 0, workers);
  } else {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    FormatColorReadout(part, kReadoutUnits, &m_display, m_colorPicker, ix, iy, workers);
  }
  wchar_t title[kTitleUnits];
  const wchar_t* name = m_filePath && m_filePath[0] ? PathFileName(m_filePath) : nullptr;
  // Pieces appended as far as they fit: a long file name is cut, never the buffer overrun.
  size_t at = 0;
  for (const wchar_t* piece : {kProgramTitle, static_cast<const wchar_t*>(part),
                               name ? L"  " : L"", name ? name : L""}) {
    const size_t n = wcsnlen(piece, kTitleUnits - 1 - at);
    wmemcpy(title + at, piece, n);
    at += n;
  }
  title[at] = 0;
  wcsncpy(m_windowTitle, title, kFgTitleUnits - 1);
  m_windowTitle[kFgTitleUnits - 1] = 0;
  if (GetWindow()) SetTitle(m_windowTitle);
}

// ---------------------------------------------------------------------------------------
// Image information

void CMainScreen::ShowImageInfo() {
  const int32_t jp = m_sidePanel.m_language && wcscmp(m_sidePanel.m_language, L"jp") == 0;
  if (!m_source.Pixels()) {
    FgMessageBox(jp ? L"画像を開いていません" : L"image is not open", jp ? L"確認" : L"confirmation",
                 1, this);
    return;
  }
  long width = 0, height = 0;
  int32_t format = 0;
  {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    if (m_display.Pixels()) {
      width = m_display.Width();
      height = m_display.Height();
      format = m_display.Format();
    }
  }
  wchar_t text[256];
  const wchar_t* name = ImageFormatDisplayName(format, jp);
  if (m_sourceFrameTime)
    swprintf(text, 256, jp ? L"幅:%ld 高:%ld %ls %lufps" : L"W:%ld H:%ld %ls %lufps", width,
             height, name, static_cast<unsigned long>(1000 / m_sourceFrameTime));
  else
    swprintf(text, 256, jp ? L"幅:%ld 高:%ld %ls" : L"W:%ld H:%ld %ls", width, height, name);
  FgMessageBox(text, jp ? L"画像情報" : L"info", 1, this);
}
