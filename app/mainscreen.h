// mainscreen.h - the program's one top-level window: image view, menu strip, scene bar,
// side panel with the chain controller, the dialogs, and the pictures of a frame's road.
//
//   CSidePanel     the panel at the right edge (sidepanel.h); holds the chain controller
//   LayoutRecord   a child's place and whether it is shown
//   CMainScreen    the main window: layout, input routing, UI lock, language, settings
//   RunMainScreen  start-up, the main loop and shut-down (the program's entry calls it)
//
// Mouse on the image (window pixels in, image pixels out; flags 1 Shift, 2 Ctrl):
//   press on the image       held; calibration open: AddPoint (left) or drop a point
//                            (right); else the selected enabled filter; not the container
//   press off the image      the container (menu, scene bar, side panel)
//   move with a button held  on the image: the point is remembered and the filter told
//                            (not while calibrating); then the container
//   release of a held button at the image point, else the last one; the filter (not while
//                            calibrating); not the container
//   locked window            presses reach the image only with image input on and inside
//                            the view; else the container (whose controls are disabled)
// Wheel: over the side panel its rows scroll; with the scene bar shown and mode 2 (or over
// the bar) scenes step; mode 1 zooms; else nothing.
#pragma once

#include <cstdint>

#include "app/dialogs.h"
#include "app/filterctrl.h"
#include "app/playedit.h"
#include "app/sidepanel.h"
#include "app/videopanel.h"
#include "core/imgbuff.h"
#include "media/media.h"
#include "toolkit/menu.h"
#include "toolkit/picture.h"
#include "toolkit/scrollbar.h"
#include "toolkit/uiobj.h"

class CMainScreen;

constexpr int32_t kSidePanelWidth = 184;
constexpr uint64_t kMainPathUnits = 1024;
extern const wchar_t kProgramTitle[];  // "quorvix mini 1.9.2"

struct LayoutRecord {
  int32_t x = 0, y = 0, width = 0, height = 0;
  int32_t shown = 0;
};

class CMainScreen : public CFgUIDialog, public CVideoPanelListener, public CPlayEditOwner {
 public:
  CMainScreen();
  ~CMainScreen() override;

  // Input (toolkit slots).
  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnRButtonDown(int32_t x, int32_t y) override;
  void OnRButtonUp(int32_t x, int32_t y) override;
  void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
  void OnSize(uint64_t width, uint64_t height) override;
  void DrawBackground() override;

  // Scene bar and range dialog.
  void OnSceneChanged(uint64_t position) override;
  void GetPlaySource(int32_t* hasPicture, int32_t* hasMedia, uint64_t* frameCount,
                     uint64_t* currentScene) override;
  void SetPlayRange(uint64_t start, uint64_t end, uint64_t step) override;

  void LockUI();
  void UnlockUI();
  void SetLanguage(const wchar_t* language);
  int32_t SetConnectivity(uint32_t n);
  void SetGuideColor(int32_t index);
  void Layout();
  void ShowSidePanel();
  void HideSidePanel();
  void ShowVideoPanel();
  void HideVideoPanel();
  void UpdateTitle();

  // Scene loading and the view (opening and scene loading).
  void Reprocess(int32_t async);
  void UploadToView();
  int32_t SeekScene(uint64_t position);
  void ReplaceSource(CImgBuff* image);
  int32_t CommitProcessing(CImgBuff* image, int32_t* done);
  // The menus of the current language (the menu commands fill them).
  void BuildMenuBar();
  static void OnMenuCommand(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t id);

  // Settings file (mainscreen_config.cpp).
  void LoadConfig();
  void SaveConfig();

  // Members, in the order of the design.
  CFgUIPicture m_view;
  CCalibrationUI m_calibration;
  CCompositeUI* m_composite = nullptr;  // owned; null without the composite library
  CEncodeUI m_encode;
  CPlayEditUI m_playEdit;
  uint32_t m_guideColor = 1;
  int32_t m_rotation = 0;
  uint64_t m_sourceFrameTime = 0;
  int32_t m_autoFrameInterval = 1;
  uint32_t m_colorPicker = 1;
  uint32_t m_wheelMode = 2;
  int32_t m_offscreen = 0;
  CFgUIMenuBar m_menuBar;
  CVideoPanel m_videoPanel;
  CSidePanel m_sidePanel;
  wchar_t m_windowTitle[kFgTitleUnits] = {};
  wchar_t m_filePath[kMainPathUnits] = {};
  wchar_t m_filterListPath[kMainPathUnits] = {};
  int32_t m_imageInput = 0;
  uint32_t m_lockCount = 0;
  uint32_t m_displayMode = 2;  // 0 "Original", 1 "Guide off", 2 "Std"
  wchar_t* m_chooserStart = nullptr;
  int32_t m_restoreOriginal = 0;
  CImgBuff m_original, m_source, m_display;
  MediaFile* m_media = nullptr;
  uint64_t m_currentScene = 0;
  int32_t m_frameSkip = 0;
  uint64_t m_playInterval = 33;
  int32_t m_rangeActive = 0;
  uint64_t m_rangeFirst = 0, m_rangeLast = 0, m_rangeStep = 0;
  LayoutRecord m_viewPlace{0, 0, 0, 0, 1}, m_videoPlace, m_sidePlace;
  int32_t m_leftHeld = 0, m_rightHeld = 0;
  int32_t m_imageX = 0, m_imageY = 0;
  int32_t m_cursorX = 0, m_cursorY = 0;
  wchar_t* m_extensions[7] = {};  // open: still, multi-page, video; save: same; all that opens

 private:
  uint8_t ModifierFlags();
  CImgFilter* MouseFilter();
  // 1 when a press at (x, y) may go on to the image while the window is locked.
  int32_t PressAllowed(int32_t x, int32_t y);
  void ReleaseButton(int32_t right, int32_t x, int32_t y);
};

// SetWorkerCount with count 0 or below meaning every processor and a count above them
// lowered; the active worker count afterwards.
int32_t SetCpuCount(int32_t count);
// "a b", or the one that is not empty, or ""; null only without memory.  Free with free.
wchar_t* JoinWithSpace(const wchar_t* a, const wchar_t* b);
// Guide colour index 0..7 -> red, green, blue.
extern const double kGuideColors[8][3];

// The program: pool, main screen, window (640 x 500), main loop, shut-down.  0 after a
// normal run; 1 with a message on stderr when there is no display or the window cannot be
// made.
int RunMainScreen();
CMainScreen* TheMainScreen();
