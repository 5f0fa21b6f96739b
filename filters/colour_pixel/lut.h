// lut.h - CLfLut, the pseudo-colour filter: every pixel of the chain rectangle becomes the
// colour that three 256-entry tables give its 8-bit gray value.  The tables are built in the
// filter's window (presets, range fills, gradations from added colours), undone by a click
// on the strip, kept in the filter's pack and in LUT files.
//
//   LutTables          the three tables (red, green, blue), entry i for gray value i
//   LutInterpolate     the colour of one entry from a list of colours (gradation or bands)
//   LutPreset          the tables of a preset command (101 to 105)
//   LutRangeFill       entries low..high filled with one colour, lightness-keeping or flat
//   LutIsGray          1 when the three tables are equal
//   LutMapRect         maps a clipped rectangle of a picture through the tables (row kernels
//                      over the pool); LutMapRectReference is the per-pixel accessor path
//   CLfLut             the filter, its window and its LUT files
#pragma once
#include <atomic>
#include <cstdint>

#include "app/filter.h"
#include "engine/frame.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/menu.h"
#include "toolkit/scrollbar.h"
#include "toolkit/tab.h"
#include "toolkit/texture.h"

class CImgBuff;

struct LutTables {
  uint8_t t[3][256];
};

// The palette a new filter offers, and "RESET" beside the swatches restores.
extern const uint8_t kLutDefaultPalette[16][3];

// Entry index (0 to 255) of a list of count colours; 0 and nothing written when count is 0.
int32_t LutInterpolate(int32_t index, uint8_t* r, uint8_t* g, uint8_t* b, const uint8_t* reds,
                       const uint8_t* greens, const uint8_t* blues, uint32_t count,
                       uint32_t interpolate);
// Fills out for preset command 101 to 105; 0 (out untouched) for any other command.
int32_t LutPreset(int32_t command, LutTables* out);
// Entries low..high (nothing when low > high) of tables become (r, g, b), or with preserve
// set the colour's hue and chroma at the lightness of each entry.
void LutRangeFill(LutTables* tables, int32_t low, int32_t high, uint8_t r, uint8_t g,
                  uint8_t b, uint32_t preserve);
int32_t LutIsGray(const LutTables& tables);
// roi already inside the picture.  Gray tables keep the format; colour tables turn gray
// pictures into colour of their depth first (0, picture unchanged, when that fails).
int32_t LutMapRect(CImgBuff* picture, const LutTables& tables, int32_t grayTable,
                   const RoiRect& roi);
int32_t LutMapRectReference(CImgBuff* picture, const LutTables& tables, int32_t grayTable,
                            const RoiRect& roi);

class CLfLut : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10028;
  static constexpr uint32_t kMaxStops = 256;

  CLfLut();
  ~CLfLut() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  using CFilterWindow::OnLButtonDown;
  // A click on the image: a pick for the next run, only on the "manual" page.
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  // A press in the window: the strip undoes, a swatch is chosen, the rest goes to controls.
  void OnLButtonDown(int32_t x, int32_t y) override;
  void DrawOverlay() override;
  using CFilterWindow::DrawOverlay;

  static int32_t InterpolatePalette(int32_t index, uint8_t* r, uint8_t* g, uint8_t* b,
                                    const uint8_t* reds, const uint8_t* greens,
                                    const uint8_t* blues, uint32_t count, uint32_t interpolate) {
    return LutInterpolate(index, r, g, b, reds, greens, blues, count, interpolate);
  }
  void BuildFromPalette();
  void RefreshDialog();
  void OnMenuCommand(int32_t command);

  // Table edits and the undo (UI thread).
  void ResetTables();
  void ApplyPreset(int32_t command);
  void SetRange();  // "SET": range bar, current colour, "preserve luminance"
  void AddStop();   // "ADD"
  void Undo();
  // Window operations that leave the tables alone.
  void ResetPalette();
  void SelectSwatch(int32_t index);
  void SetPaletteComponent(int32_t channel, int32_t value);

  LutTables GetTables();
  uint32_t GetGrayFlag();
  uint32_t GetStopCount();
  int32_t MenuHeight() const;
  int32_t CurrentPage() const { return m_tab.m_currentPage; }
  // The strip's texels read back (column i of row 0 for entry i); 0 without a store.
  int32_t StripColour(int32_t column, uint8_t rgb[3]);
  int32_t SwatchColour(int32_t index, uint8_t rgb[3]);

  // Controls, in the order the window holds them.
  CFgUIMenuBar m_menuBar;
  CFgUIButton m_resetTablesButton, m_resetPaletteButton;
  CFgUITab m_tab;
  CFgUIScrollBar m_colourBar[3];
  CFgUILabel m_colourLabel[3];
  CFgUIRangeBar m_range;
  CFgUILabel m_lowLabel, m_highLabel;
  CFgUIChkButton m_preserveBox;
  CFgUIButton m_setButton;
  CFgUIButton m_addButton;
  CFgUIChkButton m_interpolateBox;

  uint8_t m_palette[16][3];
  int32_t m_paletteIndex = 0;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnMenu(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t id);
  static void OnResetTables(CFgUIButton* button, void* user);
  static void OnResetPalette(CFgUIButton* button, void* user);
  static void OnColourBar(CFgUIScrollBar* bar, void* user, int32_t position);
  static void OnRangeChanged(CFgUIRangeBar* bar, void* user, int32_t low, int32_t high);
  static void OnSetRange(CFgUIButton* button, void* user);
  static void OnAddStop(CFgUIButton* button, void* user);
  static void OnInterpolate(CFgUIChkButton* button, void* user);
  static void OnPage(CFgUITab* tab, void* user, int32_t newPage, int32_t oldPage);

  // Takes the undo copy, lets change write the tables, refreshes; then asks for the frame
  // (no lock held) and redraws.
  template <class Fn>
  void TableEdit(Fn&& change);
  void FillSwatch(int32_t index);
  void ShowPaletteColour();  // bars and labels follow the current palette colour
  void PickRange(CImgBuff* picture);
  void OpenLut();
  void SaveLut();
  void Message(const wchar_t* ja, const wchar_t* en, int32_t error);
  void Layout();
  void BuildControls();

  PlatformLock m_tableLock;  // after the draw lock: tables, undo, stops, gray flag
  LutTables m_tables;
  LutTables m_undo;
  uint32_t m_grayTable = 1;
  uint8_t m_stops[kMaxStops][3] = {};
  uint32_t m_stopCount = 0;
  std::atomic<uint32_t> m_pickPending{0};
  std::atomic<int32_t> m_page{2};  // the tab's current page, for the worker's pick
  std::atomic<int64_t> m_pickX{0}, m_pickY{0};
  CFgTexture m_strip;
  CFgTexture m_swatch[16];
  CFgTexture* m_textureList[17];
  FilterLayoutItem m_layoutItems[17];
};
