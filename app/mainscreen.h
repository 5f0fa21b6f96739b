// mainscreen.h - the program's one top-level window: image view, menu strip, scene bar,
// side panel with the chain controller, the dialogs, and the pictures of a frame's road.
//
//   CSidePanel     the panel at the right edge; holds the one chain controller
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
#include "app/videopanel.h"
#include "core/imgbuff.h"
#include "media/media.h"
#include "toolkit/menu.h"
#include "toolkit/picture.h"
#include "toolkit/progress.h"
#include "toolkit/scrollbar.h"
#include "toolkit/uiobj.h"

class CMainScreen;

constexpr int32_t kSidePanelWidth = 184;
constexpr uint64_t kMainPathUnits = 1024;
extern const wchar_t kProgramTitle[];  // "quorvix mini 1.9.2"

class CSidePanel : public CFgUIObj, public CFilterCtrl {
 public:
  CSidePanel();
  ~CSidePanel() override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
  // The chain's own AddFilter stays callable beside the panel's.
  using CFilterCtrl::AddFilter;
  // Appends filter to the current chain and selects it; when the panel is visible its rows
  // follow and the frame is processed again.  1/0 (a null filter, or the chain refused it).
  int32_t AddFilter(CImgFilter* filter);

  CMainScreen* m_mainScreen = nullptr;
  CFgUIScrollBar m_rows;  // the filter rows' scroll bar
};

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
  // The menus of the current language (the menu commands fill them).
  void BuildMenuBar();
  static void OnMenuCommand(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t id);

  // Settings file (mainscreen_config.cpp).
  void LoadConfig();
  void SaveConfig();

  // Filter lists and the chain (filterlist.cpp).
  void OpenFilterList();
  void SaveFilterList();
  // The menus' way to put a new filter into the current chain: the side panel takes it
  // (0, nothing else done, when it refuses), is shown, and with reprocess the frame is
  // processed again and waited for.  The side panel's result.
  uint32_t AddFilter(CImgFilter* filter, int32_t reprocess);

  // Saving images and videos (save.cpp).
  void SaveImage();
  // interval not 0: a video of that frame interval (ms); else numbered files or one
  // multi-page file.
  void SaveFrames(int32_t numbered, uint64_t interval);
  // 1 saved, 0 failed, -1 declined by the user.
  int32_t WriteDisplayedImage(const wchar_t* path, const wchar_t* language);
  // Scenes 0 to last; 1 saved, 0 failed, -1 aborted (the file keeps what was written).
  int32_t WriteAllScenes(const wchar_t* path, const wchar_t* language, int32_t numbered,
                         CFgUIProgressBox* window, uint64_t last, uint64_t interval);
  // The view with its guides and overlays at the picture's own size, as 8-bit R,G,B.
  int32_t RenderViewWithGuides(CImgBuff* out);

  // ---- opening and scene loading, used by the saving and filter-list operations --------
  void OpenImage(const wchar_t* path);
  void LoadCurrentScene(int32_t redraw);
  void Reprocess(uint32_t async);
  void UploadToView();
  void SetCurrentPath(const wchar_t* path);
  // The path whose file name the title shows; null or empty clears it.
  void SetFilePath(const wchar_t* path);

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
// The image view's overlay callback (user: the main screen): the guides and the filters'
// overlays; with the off-screen flag set, for an image rectangle of the picture's own size.
void DrawGuides(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                int32_t imageX1, int32_t imageY1, int32_t zoom, void* mainScreen);
// Guide colour index 0..7 -> red, green, blue.
extern const double kGuideColors[8][3];

// The program: pool, main screen, window (640 x 500), main loop, shut-down.  0 after a
// normal run; 1 with a message on stderr when there is no display or the window cannot be
// made.
int RunMainScreen();
CMainScreen* TheMainScreen();
