// lut_window.cpp - the pseudo-colour window: the strip, the swatches, the pages "palette",
// "manual" and "auto", the menu "LUT" and the painting.
// Inside: layout - presses and painting - palette - callbacks
//
// Events and results (M = font height + 8, the menu bar's height):
//   press on the strip (8..263, M+8..M+37)   undo of the last table edit
//   press on swatch i                        current colour i; bars and labels follow;
//                                            tables and picture unchanged
//   colour bar moved                         the current colour and its swatch only
//   range bar moved, pick on the image       the two labels only
//   "SET", "ADD", "interpolate", "RESET"
//   beside the strip, menu presets           table edits (undo copy, refresh, frame again)
//   "RESET" beside the swatches              palette back to its defaults
#include "filters/colour_pixel/lut.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "core/imgbuff.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/screen.h"

namespace {

const wchar_t kMenuEn[] =
    L"Open LUT\t1\nSave LUT\t2\nPreset\t{Thermal graph1\t101\nThermal graph2\t102\n"
    L"Grayscale8\t103\nGrayscale4\t104\n}\n";
// "LUTを開く", "LUTを保存", "プリセット": "サーモグラフ1", "サーモグラフ2",
// "8階調グレースケール", "4階調グレースケール", "スペクトル"
const wchar_t kMenuJa[] =
    L"LUT\x3092\x958B\x304F\t1\nLUT\x3092\x4FDD\x5B58\t2\n\x30D7\x30EA\x30BB\x30C3\x30C8\t{"
    L"\x30B5\x30FC\x30E2\x30B0\x30E9\x30D5" L"1\t101\n"
    L"\x30B5\x30FC\x30E2\x30B0\x30E9\x30D5" L"2\t102\n"
    L"8\x968E\x8ABF\x30B0\x30EC\x30FC\x30B9\x30B1\x30FC\x30EB\t103\n"
    L"4\x968E\x8ABF\x30B0\x30EC\x30FC\x30B9\x30B1\x30FC\x30EB\t104\n"
    L"\x30B9\x30DA\x30AF\x30C8\x30EB\t105\n}\n";

void ShowNumber(CFgUILabel* label, int32_t value) {
  wchar_t text[16];
  swprintf(text, 16, L"%d", value);
  label->SetText(text);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Layout
int32_t CLfLut::MenuHeight() const { return int32_t((m_font ? m_font->Size() : 14) + 8); }

void CLfLut::BuildControls() {
  AddChild(&m_menuBar);
  m_menuBar.m_callback = &CLfLut::OnMenu;
  m_menuBar.m_user = this;
  m_menuBar.AddMenu(L"LUT", kMenuEn, nullptr, nullptr);
  AddChild(&m_resetTablesButton);
  AddChild(&m_resetPaletteButton);
  m_resetTablesButton.m_callback = &CLfLut::OnResetTables;
  m_resetTablesButton.m_user = this;
  m_resetPaletteButton.m_callback = &CLfLut::OnResetPalette;
  m_resetPaletteButton.m_user = this;
  AddChild(&m_tab);
  m_tab.AddPage(L"palette");
  m_tab.AddPage(L"manual");
  m_tab.AddPage(L"auto");
  m_tab.SelectPage(2, 1);
  m_tab.m_callback = &CLfLut::OnPage;
  m_tab.m_user = this;
  const double colours[3][3] = {{0.9, 0.7, 0.7}, {0.7, 0.9, 0.7}, {0.7, 0.7, 0.9}};
  for (int32_t c = 0; c < 3; ++c) {
    CFgUIScrollBar& bar = m_colourBar[c];
    bar.m_kind = FgBarHorizontal;
    bar.SetRange(0, 255, 1, m_palette[m_paletteIndex][c]);
    for (int k = 0; k < 3; ++k) bar.m_barColor[k] = colours[c][k];
    bar.m_callback = &CLfLut::OnColourBar;
    bar.m_user = this;
    AddChild(&bar);
    m_tab.AddWidget(0, &bar);
  }
  for (int32_t c = 0; c < 3; ++c) {
    AddChild(&m_colourLabel[c]);
    m_tab.AddWidget(0, &m_colourLabel[c]);
    ShowNumber(&m_colourLabel[c], m_palette[m_paletteIndex][c]);
  }
  m_range.m_kind = FgBarHorizontal;
  m_range.m_minimum = 0;
  m_range.m_maximum = 255;
  m_range.m_low = 0;
  m_range.m_high = 255;
  m_range.m_callback = &CLfLut::OnRangeChanged;
  m_range.m_user = this;
  m_lowLabel.SetText(L"0");
  m_highLabel.SetText(L"255");
  m_preserveBox.m_checked = 1;
  m_setButton.m_callback = &CLfLut::OnSetRange;
  m_setButton.m_user = this;
  m_addButton.m_callback = &CLfLut::OnAddStop;
  m_addButton.m_user = this;
  m_interpolateBox.m_checked = 1;
  m_interpolateBox.m_callback = &CLfLut::OnInterpolate;
  m_interpolateBox.m_user = this;
  CFgUIObj* manual[] = {&m_range, &m_lowLabel, &m_highLabel, &m_preserveBox, &m_setButton};
  for (CFgUIObj* w : manual) {
    AddChild(w);
    m_tab.AddWidget(1, w);
  }
  CFgUIObj* automatic[] = {&m_addButton, &m_interpolateBox};
  for (CFgUIObj* w : automatic) {
    AddChild(w);
    m_tab.AddWidget(2, w);
  }
  m_layout.items = m_layoutItems;
  m_layout.count = 16;
  m_layout.widthEn = m_layout.widthJa = 360;
  m_layout.heightEn = m_layout.heightJa = 264;
  m_layout.textures = m_textureList;
  m_layout.textureCount = 17;
  Layout();
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
}

void CLfLut::Layout() {
  const int32_t m = MenuHeight();
  int32_t n = 0;
  auto place = [&](CFgUIObj* w, const wchar_t* en, const wchar_t* ja, int32_t x, int32_t y,
                   int32_t width, int32_t height) {
    m_layoutItems[n++] = {w, en, ja, x, y, x, y, width, height};
  };
  // "初期化" twice, "輝度を残す", "設定", "色を追加", "補完する"
  place(&m_resetTablesButton, L"RESET", L"\x521D\x671F\x5316", 272, m + 8, 80, 30);
  place(&m_resetPaletteButton, L"RESET", L"\x521D\x671F\x5316", 272, m + 40, 80, 66);
  // The page area only while it has a height left under a tall menu bar.
  place(&m_tab, nullptr, nullptr, 8, m + 114, 344, 142 - m >= 1 ? 142 - m : 1);
  for (int32_t c = 0; c < 3; ++c)
    place(&m_colourBar[c], nullptr, nullptr, 16, m + 144 + 28 * c, 294, 24);
  for (int32_t c = 0; c < 3; ++c)
    place(&m_colourLabel[c], nullptr, nullptr, 314, m + 144 + 28 * c, 32, 24);
  place(&m_range, nullptr, nullptr, 48, m + 144, 264, 24);
  place(&m_lowLabel, nullptr, nullptr, 16, m + 144, 32, 24);
  place(&m_highLabel, nullptr, nullptr, 312, m + 144, 32, 24);
  place(&m_preserveBox, L"preserve luminance", L"\x8F1D\x5EA6\x3092\x6B8B\x3059", 16, m + 172,
        328, 24);
  place(&m_setButton, L"SET", L"\x8A2D\x5B9A", 16, m + 200, 328, 24);
  place(&m_addButton, L"ADD", L"\x8272\x3092\x8FFD\x52A0", 16, m + 200, 328, 24);
  place(&m_interpolateBox, L"interpolate", L"\x88DC\x5B8C\x3059\x308B", 16, m + 172, 328, 24);
  m_layout.count = uint64_t(n);
}

void CLfLut::ShowDialog(int32_t show, CFgScreen* parent) {
  if (show) {
    const int32_t jp = IsJapanese(m_language);
    m_menuBar.ClearMenus();
    m_menuBar.AddMenu(L"LUT", jp ? kMenuJa : kMenuEn, nullptr, nullptr);
    m_menuBar.LayoutTitles();
    // "パレット", "手動", "自動"
    m_tab.SetPageTitle(0, jp ? L"\x30D1\x30EC\x30C3\x30C8" : L"palette");
    m_tab.SetPageTitle(1, jp ? L"\x624B\x52D5" : L"manual");
    m_tab.SetPageTitle(2, jp ? L"\x81EA\x52D5" : L"auto");
    Layout();
  }
  CFilterWindow::ShowDialog(show, parent);
  if (show && m_window) {
    // The window's own font is known now; the places follow its height.
    Layout();
    ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
    m_menuBar.LayoutTitles();
    CFgUICtrl::Redraw();
  }
}

// ---------------------------------------------------------------------------------------
// Presses and painting
void CLfLut::OnLButtonDown(int32_t x, int32_t y) {
  const int32_t m = MenuHeight();
  if (x >= 8 && x < 264 && y >= m + 8 && y < m + 38) {
    Undo();
    return;
  }
  for (int32_t i = 0; i < 16; ++i) {
    int32_t r = i / 8, c = i % 8;
    if (x >= 9 + 32 * c && x < 39 + 32 * c && y >= m + 41 + 32 * r && y < m + 71 + 32 * r) {
      SelectSwatch(i);
      return;
    }
  }
  CFilterWindow::OnLButtonDown(x, y);
}

void CLfLut::DrawOverlay() {
  CFgUIDialog::DrawOverlay();
  CFgScreen* screen = m_screen;
  if (!screen) return;
  const int32_t m = MenuHeight();
  const int32_t i = m_paletteIndex;
  const int32_t X = 1 + 32 * (i % 8), Y = 1 + 32 * (i / 8);
  // A white ring inside a red one, one pixel each, around the current swatch.
  FgFillRect(screen, X + 6, m + Y + 38, X + 39, m + Y + 71, 1, 0, 0);
  FgFillRect(screen, X + 7, m + Y + 39, X + 38, m + Y + 70, 1, 1, 1);
  for (int32_t k = 0; k < 16; ++k) {
    int32_t r = k / 8, c = k % 8;
    if (m_swatch[k].AttachToScreen(this) == 1)
      m_swatch[k].DrawCell(9 + 32 * c, m + 41 + 32 * r, 30, 30, 0);
  }
  if (m_strip.AttachToScreen(this) == 1) m_strip.DrawCell(8, m + 8, 256, 30, 0);
}

int32_t CLfLut::StripColour(int32_t column, uint8_t rgb[3]) {
  rgb[0] = rgb[1] = rgb[2] = 0;
  if (column < 0 || column > 255) return 0;
  CImgBuff picture;
  PlatformLockHold draw(FgDrawLock());
  if (CopyTextureToImage(&picture, &m_strip) != 1) return 0;
  return picture.GetRGB8(column, 0, &rgb[0], &rgb[1], &rgb[2]);
}

int32_t CLfLut::SwatchColour(int32_t index, uint8_t rgb[3]) {
  rgb[0] = rgb[1] = rgb[2] = 0;
  if (index < 0 || index > 15) return 0;
  CImgBuff picture;
  PlatformLockHold draw(FgDrawLock());
  if (CopyTextureToImage(&picture, &m_swatch[index]) != 1) return 0;
  return picture.GetRGB8(0, 0, &rgb[0], &rgb[1], &rgb[2]);
}

// ---------------------------------------------------------------------------------------
// Palette
void CLfLut::FillSwatch(int32_t index) {
  CImgBuff picture;
  if (picture.Allocate(30, 30, ImgFormatRgb24) != 1) return;  // this swatch is skipped
  auto* p = static_cast<uint8_t*>(picture.Pixels());
  for (int32_t k = 0; k < 900; ++k)
    for (int c = 0; c < 3; ++c) p[k * 3 + c] = m_palette[index][c];
  PlatformLockHold draw(FgDrawLock());
  UploadImageToTexture(&m_swatch[index], &picture, 1);
}

void CLfLut::ShowPaletteColour() {
  PlatformLockHold draw(FgDrawLock());
  for (int32_t c = 0; c < 3; ++c) {
    int32_t v = m_palette[m_paletteIndex][c];
    // The field, not MoveTo: the bar's callback would write the colour back.
    if (m_colourBar[c].IsValidPosition(v)) m_colourBar[c].m_position = v;
    ShowNumber(&m_colourLabel[c], v);
  }
}

void CLfLut::ResetPalette() {
  std::memcpy(m_palette, kLutDefaultPalette, sizeof m_palette);
  for (int32_t i = 0; i < 16; ++i) FillSwatch(i);
  ShowPaletteColour();
  CFgUICtrl::Redraw();
}

void CLfLut::SelectSwatch(int32_t index) {
  if (index < 0 || index > 15) return;
  {
    PlatformLockHold draw(FgDrawLock());
    m_paletteIndex = index;
  }
  ShowPaletteColour();
  CFgUICtrl::Redraw();
}

void CLfLut::SetPaletteComponent(int32_t channel, int32_t value) {
  if (channel < 0 || channel > 2 || value < 0 || value > 255) return;
  m_palette[m_paletteIndex][channel] = uint8_t(value);
  FillSwatch(m_paletteIndex);
  {
    PlatformLockHold draw(FgDrawLock());
    if (m_colourBar[channel].IsValidPosition(value)) m_colourBar[channel].m_position = value;
    ShowNumber(&m_colourLabel[channel], value);
  }
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CLfLut::OnMenu(CFgUIMenuBar*, void* user, int32_t, int32_t id) {
  static_cast<CLfLut*>(user)->OnMenuCommand(id);
}

void CLfLut::OnResetTables(CFgUIButton*, void* user) {
  static_cast<CLfLut*>(user)->ResetTables();
}

void CLfLut::OnResetPalette(CFgUIButton*, void* user) {
  static_cast<CLfLut*>(user)->ResetPalette();
}

void CLfLut::OnColourBar(CFgUIScrollBar* bar, void* user, int32_t position) {
  auto* self = static_cast<CLfLut*>(user);
  int32_t c = int32_t(bar - self->m_colourBar);
  self->SetPaletteComponent(c, position);
}

void CLfLut::OnRangeChanged(CFgUIRangeBar*, void* user, int32_t low, int32_t high) {
  auto* self = static_cast<CLfLut*>(user);
  {
    PlatformLockHold draw(FgDrawLock());
    ShowNumber(&self->m_lowLabel, low);
    ShowNumber(&self->m_highLabel, high);
  }
  self->CFgUICtrl::Redraw();
}

void CLfLut::OnPage(CFgUITab*, void* user, int32_t newPage, int32_t) {
  static_cast<CLfLut*>(user)->m_page.store(newPage);
}

void CLfLut::OnSetRange(CFgUIButton*, void* user) { static_cast<CLfLut*>(user)->SetRange(); }

void CLfLut::OnAddStop(CFgUIButton*, void* user) { static_cast<CLfLut*>(user)->AddStop(); }

void CLfLut::OnInterpolate(CFgUIChkButton*, void* user) {
  static_cast<CLfLut*>(user)->BuildFromPalette();
}
