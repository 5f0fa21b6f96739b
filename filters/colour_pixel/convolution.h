// convolution.h - CLfFilter, the integer convolution (fixed or automatic divisor) or median
// of 3 x 3 to 9 x 9 on the chain rectangle.  The window edits a pending set; "set" (or a
// loaded pack, a preset or a ".fmx" file) applies it, and only the applied set reaches the
// frames.  The window's menu opens and saves ".fmx" files and applies the five presets
// (convolution_menu.cpp).
//
//   CLfFilter  the filter, its window and its settings
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "filters/colour_pixel/convolution_grid.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/menu.h"

class CLfFilter : public CFilterWindow, public CFEditClient {
 public:
  static constexpr uint32_t kFilterId = 10010;
  // What Process works from; written whole by the apply step.
  struct Applied {
    uint64_t size = 3;
    int32_t matrix[9][9] = {};
    int32_t kernel[81] = {};
    uint32_t autoDiv = 1;
    uint32_t type = 0;
    int32_t div = 1;
  };

  // Menu commands.
  enum : int32_t {
    kOpenFilter = 1,
    kSaveFilter = 2,
    kSmooth = 101,
    kSharpen = 102,
    kEdge = 103,
    kSmooth2 = 104,
    kSharpen2 = 105,
  };

  CLfFilter();

  const wchar_t* GetName(const wchar_t* language) override;
  // The menu is built anew, in the current language, every time the window opens.
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  // EnableAll has set every control but not yet the window's own flag.
  void OnEnableAll() override { UpdateControls(1); }
  void OnEdited() override { SetChanged(); }

  Applied GetApplied() const { return m_applied.Snapshot(); }
  // The "set" button's work: the pending set becomes the applied one; the frame is
  // processed again (waits) when the filter is enabled.
  void Apply();

  // ---- menu, presets and ".fmx" files (convolution_menu.cpp) -------------------------------
  // Clears the bar and adds the "Filter" menu in the language; keeps its index.
  static void BuildMenu(CFgUIMenuBar* bar, const wchar_t* language);
  // The bar's callback (user: the filter): another menu or a command outside 1 to 105 is
  // ignored.
  static void OnMenuCommand(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t command);
  // Asks for a file and loads it; every failure is one message and changes nothing.
  void OpenFilterFile();
  // Asks for a file (and before overwriting one), writes "fmx_ver" and the settings through
  // a temporary beside it, and reports the result.
  void SaveFilterFile();
  // 101 to 105: the preset's pack applied as a loaded one.  0 for another command.
  int32_t ApplyPreset(int32_t command);
  // The index AddMenu gave the "Filter" menu (one for the process).
  static int32_t s_menuIndex;

  CFgUIMenuBar m_menuBar;
  CFEdit m_grid;
  CFgUIChkButton m_sizeRadio[4];  // 3x3 leads the group
  CFgUILabel m_divLabel;
  CFgUIEdit m_divEdit;
  CFgUIChkButton m_medianBox;
  CFgUIChkButton m_autoDivBox;
  CFgUIButton m_setButton;
  uint64_t m_pendingSize = 3;
  int32_t m_pendingDiv = 1;
  uint32_t m_pendingMedian = 0;
  uint32_t m_pendingAutoDiv = 1;
  uint32_t m_modified = 0;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnSizeChosen(CFgUIChkButton* button, void* user);
  static void OnMedianToggled(CFgUIChkButton* button, void* user);
  static void OnAutoDivToggled(CFgUIChkButton* button, void* user);
  static void OnSetPressed(CFgUIButton* button, void* user);
  static void OnDivisorChanged(CFgUIEdit* edit, void* user);
  static void OnDivisorCommitted(CFgUIEdit* edit, void* user);
  void SetChanged();
  // "set" only while something is pending; with "median" the grid, divisor and "auto div"
  // are off, with "auto div" the divisor.  A window disabled as a whole stays so unless
  // windowEnabled.
  void UpdateControls(int32_t windowEnabled = 0);

  CFilterSettings<Applied> m_applied;
  FilterLayoutItem m_layoutItems[11];
};
