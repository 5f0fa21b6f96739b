// track2valopt.h - the "Binary tracking settings" window of the 2D tracker: how the colour
// tracker turns the crop of a box into islands (noise removal, edge removal, hole filling),
// which island it takes among several, and what the preview shows.
//
//   CTrack2ValOptUI  the window; edits the tracker's TrackBinarySettings, which take the
//                    window's values only when SET is pressed
//
// UI thread only.  The owner keeps the object for its whole life; the window exists between
// Open and its closing, and the settings pointer stays valid meanwhile (it points into the
// owner).
#pragma once
#include <cstdint>

#include "measure/track.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/tab.h"
#include "toolkit/uiobj.h"

class CTrack2ValOptUI;
// Called after SET with the new preview value.
typedef void (*Track2ValChangeFn)(void* user, int32_t preview, CTrack2ValOptUI* dialog);

constexpr int kTrack2ValLanguageUnits = 64;  // the kept language, terminator included
// The number boxes land in signed 32-bit settings: larger values are refused.
constexpr uint32_t kTrack2ValMaxBound = 2147483647u;

class CTrack2ValOptUI : public CFgUIDialog {
 public:
  // The widgets in their initial states, the radios joined; no window.
  CTrack2ValOptUI();
  ~CTrack2ValOptUI() override;

  // Keeps a copy of the language, sets the title and every text for it, places the
  // controls, applies the enable rule and redraws; nothing for a null or empty language.
  void Build(const wchar_t* language);
  // Shows settings in the controls and opens the window centred on parent; 0 for null
  // settings (nothing changed) or when the window cannot be made.
  int32_t Open(TrackBinarySettings* settings, CFgScreen* parent);
  // The enable rule of the noise controls.
  void UpdateControls();
  // SET: the controls into the settings, then the change callback.
  void Apply();
  // The close box destroys the window; the object stays with its owner.
  int32_t OnClose() override;

  // ---- controls, in the window's child order ----------------------------------------------
  CFgUIGroup m_group;
  CFgUIChkButton m_select[3];  // manual, by prediction, by size; 0 leads the group
  CFgUIChkButton m_noiseAuto;
  CFgUIChkButton m_noiseLess;
  CFgUIEdit m_lowEdit;
  CFgUIChkButton m_noiseMore;
  CFgUIEdit m_highEdit;
  CFgUIChkButton m_windowCut;
  CFgUIChkButton m_holeFill;
  CFgUIChkButton m_preview;
  CFgUIButton m_set;

  // ---- state -----------------------------------------------------------------------------
  TrackBinarySettings* m_settings = nullptr;
  wchar_t m_language[kTrack2ValLanguageUnits] = L"jp";
  Track2ValChangeFn m_onChange = nullptr;
  void* m_changeUser = nullptr;
  uint32_t m_pendingLow = 0, m_pendingHigh = 0;

 private:
  static void OnNoiseToggled(CFgUIChkButton* box, void* user);
  static void OnSetPressed(CFgUIButton* button, void* user);
  static void OnLowFocusLost(CFgUIEdit* edit, void* user);
  static void OnHighFocusLost(CFgUIEdit* edit, void* user);
  // A typed bound: accepted into pending, or the box shows pending again.
  static void CheckBound(CFgUIEdit* edit, uint32_t* pending);
};
