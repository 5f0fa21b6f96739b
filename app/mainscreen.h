// mainscreen.h - the program's one top-level window: image view, menu strip, scene bar,
// side panel with the chain controller, the dialogs, and the pictures of a frame's road.
//
//   CSidePanel     the panel at the right edge (sidepanel.h); holds the chain controller
//   LayoutRecord   a child's place and whether it is shown
//   CMainScreen    the main window: layout, input routing, UI lock, language, settings
//   RunMainScreen  start-up, the main loop and shut-down (the program's entry calls it)
//   RecordedSourceInfo  the source's size, depth and scenes as last told to the chain
//
// Opening, scene loading and the view upload live in opening.cpp; the guides, the title's
// colour readout and the image information in overlay.cpp.
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

#include <atomic>
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
#include "toolkit/progress.h"
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
  // Loads and shows the scene; 1 when the view was uploaded and the window redrawn.
  int32_t OnSceneChanged(uint64_t position) override;
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
  // n above 100: the limit message, then 100.  n >= 1: count n, position 0.  Shows the bar
  // and listens to it (n = 0 with nothing open: nothing at all).
  void ShowVideoPanel(uint64_t n);
  // Hides the bar; reset: count 1, position 0 (also when already hidden).
  void HideVideoPanel(int32_t reset);
  void UpdateTitle();

  // ---- opening and scene loading (opening.cpp) ------------------------------------------
  // Every change of the source on the UI thread first waits for the worker to be idle and
  // then holds the chain lock, so no run copies a picture being decoded or reallocated.
  // A still image or a video; null asks the user.
  void OpenImage(const wchar_t* path);
  // A numbered sequence: the user chooses its first and last file.
  void OpenSequence();
  // The picture (copied first: it may be one of ours) becomes the new still source.
  void ReplaceSource(CImgBuff* image);
  // The processed frame becomes source and original of a still; *done 1; returns 1.
  int32_t CommitProcessing(CImgBuff* image, int32_t* done);
  // Decodes, turns and processes the current scene; returns when it is shown.  redraw
  // matters only when the source ends up empty (the view is emptied then).
  void LoadCurrentScene(int32_t redraw);
  // Runs the chain on the source (in "Original" shows the source as it is); async 0
  // returns when the frame is shown.
  void Reprocess(int32_t async);
  // The display picture into the view's texture (kept and updated in place while size and
  // format stay), then the window redrawn.  UI thread or filter worker.
  void UploadToView();
  // Records the values and tells the chain (width and height exchanged by a quarter turn).
  void SetChainImageInfo(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                         uint64_t sceneCount);
  // The host's seek: position within the scene bar; 1 when the frame was processed.
  int32_t SeekScene(uint64_t position);
  // The chooser's next start path: a heap copy of path; null or empty frees it.
  void SetCurrentPath(const wchar_t* path);
  // The path whose file name the title shows (kept whole); null or empty clears it.
  void SetFilePath(const wchar_t* path);

  // ---- view overlay, title readout, image information (overlay.cpp) ----------------------
  using CFgUIDialog::DrawOverlay;  // the window's own overlay stays reachable
  // The guides over the view: filter overlays, calibration marks, the scene counter.
  void DrawOverlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                   int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                   int32_t imageX1, int32_t imageY1, int32_t zoom);
  void ShowImageInfo();
  // ---- menus and their commands (menus.cpp) ----------------------------------------------
  // Clears the bar and adds the six menus for the current language: File, View and Config
  // written at each opening, Processing, Measure and Tool now from the filters' names.
  void BuildMenuBar();
  // The bar's command callback (user: the main screen): menu index and item id.
  static void OnMenuCommand(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t id);
  void OnFileCommand(int32_t id);
  void OnViewCommand(int32_t id);
  void OnConfigCommand(int32_t id);
  // A new filter of id into the chain; "can't add filter" when none is made or it is refused.
  void AddFilterFromMenu(uint32_t id);
  // "ms_per_frame" and the scene bar's step and skip flag.
  void SetPlaybackInterval(uint64_t ms);

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

  // Members.  The side panel comes after the view, the calibration dialog, the menu bar and
  // the scene bar: it starts the filter worker, whose redraws of the main window draw them
  // all, so they are built before it and (members go in reverse) destroyed after it.
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
  wchar_t* m_filePath = nullptr;  // heap; null when the title shows no file
  wchar_t m_filterListPath[kMainPathUnits] = {};
  int32_t m_imageInput = 0;
  uint32_t m_lockCount = 0;
  uint32_t m_displayMode = 2;  // 0 "Original", 1 "Guide off", 2 "Std"
  wchar_t* m_chooserStart = nullptr;
  int32_t m_restoreOriginal = 0;
  CImgBuff m_original, m_source, m_display;
  MediaFile* m_media = nullptr;
  uint64_t m_currentScene = 0;
  // Counts the redraws UploadToView made (on the UI thread or the filter worker): a scene
  // load that moved it has shown its frame.
  std::atomic<uint64_t> m_viewShows{0};
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

// The source as last told to the chain before any quarter turn: written by every opening,
// replacing and range operation, read by the rotation commands.
struct RecordedSourceInfo {
  uint64_t width = 0, height = 0, bytesPerPixel = 0, sceneCount = 0;
};
extern RecordedSourceInfo g_recordedSource;

// The six menus' indexes in the bar (-1: not added), written by BuildMenuBar.
enum MainMenu { kMenuFile, kMenuView, kMenuConfig, kMenuProcessing, kMenuMeasure, kMenuTool, kMenuCount };
extern int32_t g_menuIndex[kMenuCount];
constexpr int32_t kMenuIdComposite = 20003;  // Tool: the composite dialog
// The templates of the menus written at each opening, for the main screen's current state
// and language; each in a static buffer of its own, valid until its next call.
const wchar_t* BuildFileMenu(CMainScreen* screen);
const wchar_t* BuildViewMenu(CMainScreen* screen);
const wchar_t* BuildConfigMenu(CMainScreen* screen);

// The most scenes a source is processed up to.
constexpr uint64_t kMaxScenes = 100;

// MediaOpen's progress callback while an MP4 file is indexed (context: the main screen):
// phase 1 opens the progress window, 0 shows "pass n/m" and pumps messages, 2 closes it.
// 0 (cancel) after the abort button or the quit message.
int MediaOpenProgress(uint64_t position, uint64_t count, uint64_t phase, void* mainScreen);
// The progress window MediaOpenProgress keeps; null before its first use.
class CFgUIProgressBox;
CFgUIProgressBox* MediaOpenProgressBox();
// The image view's overlay callback (user: the main screen): the guides in mode "Std".
void DrawGuides(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                int32_t imageX1, int32_t imageY1, int32_t zoom, void* mainScreen);
// Display name of a pixel format ("24bit color", "24bitカラー", "null", "unknown").
const wchar_t* ImageFormatDisplayName(int32_t format, int32_t japanese);
// The readout part of the title for the pixel (x, y) of picture in picker mode (1..7), into
// out of units characters: " - %lucore (x, y) ..." ; " - %lucore" when the point lies
// outside the picture or the mode is 0.
void FormatColorReadout(wchar_t* out, uint64_t units, const CImgBuff* picture, uint32_t mode,
                        int32_t x, int32_t y, uint64_t workers);

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
