// filter.h - the interface of every processing filter, and what overlays and settings
// windows of filters share.
//
//   ComponentCode      colour component the chain's later filters work on (0 = none)
//   PixelToGlFn        pixel-to-OpenGL converter handed to DrawOverlay
//   CImgFilter         base of every filter: the copies the controller keeps current, the
//                      virtual operations in slot order, key, name, parameter save and load
//   ImageToView        maps an image point to a view pixel for DrawOverlay
//   FilterWindowPlace  a settings window's kept position
//   FilterDialog...    the bodies every filter with a settings window shares (a class that
//                      derives CImgFilter first and CFgUIDialog second)
//
// Threads: Process and ProcessChain run on the filter worker; DrawOverlay on whichever
// thread redraws the main window, inside the draw lock; everything else on the UI thread.
#pragma once
#include <cstdint>

class CFilterCtrl;
class CFgScreen;
class CFgFont;
class CFgUIDialog;
class CImgBuff;
class CCfgPack;

enum ComponentCode : uint32_t {
  ComponentNone = 0,
  ComponentR = 1, ComponentG = 2, ComponentB = 3,
  ComponentH = 4, ComponentS = 5, ComponentV = 6,
  ComponentCmyC = 7, ComponentCmyM = 8, ComponentCmyY = 9,
  ComponentCmykC = 10, ComponentCmykM = 11, ComponentCmykY = 12, ComponentCmykK = 13,
  ComponentX = 14, ComponentY = 15, ComponentZ = 16,
  ComponentL = 17, ComponentA = 18, ComponentBStar = 19,
  ComponentChroma = 20, ComponentHue = 21,
};
constexpr uint32_t ComponentCodeLast = 21;

// Turns a pixel column or row of the overlay draw target into an OpenGL coordinate.
typedef double (*PixelToGlFn)(int32_t pixel);

constexpr int kFilterUnitUnits = 256;  // calibration unit, terminator included
constexpr int kFilterKeyUnits = 33;    // filter key, terminator included

class CImgFilter {
 public:
  CImgFilter();
  virtual ~CImgFilter();
  CImgFilter(const CImgFilter&) = delete;
  CImgFilter& operator=(const CImgFilter&) = delete;

  // Computed once from GetName("en"): at most 32 characters, blanks turned into "_",
  // "A" to "Z" lower-cased; never changes afterwards.
  virtual const wchar_t* GetKey();
  // Japanese name only for the language exactly "jp"; English for anything else or null.
  virtual const wchar_t* GetName(const wchar_t* language);
  virtual int32_t HasDialog();
  virtual void EnableDialog(int32_t enable);
  virtual void OnEnable(int32_t enabled);
  // Callers keep the visible and parent fields; the body only opens or hides.
  virtual void ShowDialog(int32_t show, CFgScreen* parent);
  // Reopens a visible window so that it is laid out for the new language.
  virtual void OnLanguageChanged(const wchar_t* language);
  virtual void OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                               uint64_t sceneCount);
  virtual void OnScaleChanged(double scale, int32_t axisY, const wchar_t* unit);
  virtual void OnOverlayColorChanged(double red, double green, double blue);
  virtual void Reserved();
  // View rectangle in window pixels, image rectangle in image pixels, both inclusive;
  // zoom 1 for 1:1, k >= 2 enlarged, k <= -2 reduced, 0 and -1 fit.
  virtual void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen,
                           CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                           int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1,
                           int32_t imageY1, int32_t zoom);
  // Works in place on picture (the chain's picture or the component plane); may change its
  // size and format.  The rectangle is not clipped by the caller.
  virtual void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
                       int64_t height, uint32_t connectivity, uint32_t background);
  // The base calls Process with the values behind the first six pointers; the filters that
  // change the chain state write through the pointers.
  virtual void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y,
                            int64_t* width, int64_t* height, uint32_t* connectivity,
                            uint32_t* background, uint32_t* component, uint32_t* depth);
  // Image pixels; flags bit 0 Shift, bit 1 Ctrl.
  virtual void OnMouseMove(int64_t x, int64_t y, uint8_t flags);
  virtual void OnLButtonDown(int64_t x, int64_t y, uint8_t flags);
  virtual void OnLButtonUp(int64_t x, int64_t y, uint8_t flags);
  virtual void OnRButtonDown(int64_t x, int64_t y, uint8_t flags);
  virtual void OnRButtonUp(int64_t x, int64_t y, uint8_t flags);
  // "if_enable" and, with a settings window, "if_visible"; filters add their keys after.
  virtual void SaveParams(CCfgPack* pack);
  // The first "if_enable" and "if_visible" items, values exactly "0" or "1"; others ignored.
  virtual void LoadParams(CCfgPack* pack);

  // Stores the calibration (a null unit empties it; at most 255 characters kept), then
  // OnScaleChanged with the same arguments.
  void SetScale(double scale, int32_t axisY, const wchar_t* unit);

  // Base fields.  The controller writes the copies (source size to unit) and then calls
  // the matching notification; filters only read them.  The names keep clear of
  // CFgScreen's and CFgUICtrl's own (m_parent, m_visible, m_enabled), which a filter with a
  // settings window also inherits.
  CFilterCtrl* m_host = nullptr;
  uint32_t m_type = 0;  // 1: a group tag
  CFgScreen* m_dialogParent = nullptr;
  const wchar_t* m_language;  // belongs to the controller
  uint32_t m_dialogVisible = 0;
  uint32_t m_parked = 0;
  uint32_t m_filterEnabled = 0;
  uint64_t m_sourceWidth = 0, m_sourceHeight = 0, m_bytesPerPixel = 0, m_sceneCount = 0;
  double m_guide[3] = {1.0, 0.0, 0.0};
  double m_scale = 1.0;
  int32_t m_axisY = 1;
  wchar_t m_unit[kFilterUnitUnits] = {};
  wchar_t m_key[kFilterKeyUnits] = {};
};

// 1 when language is exactly "jp" (a null language is not).
int32_t IsJapanese(const wchar_t* language);

// Maps an image point in place to a view pixel (signed 32-bit arithmetic):
// origin of the image rectangle off; zoom 0 or -1 scales each axis by view size / image
// size and, where that exceeds 2, moves to the middle of the enlarged pixel; zoom >= 2
// multiplies; zoom <= -2 divides by its magnitude toward zero; origin of the view on.
// Always 1.
int32_t ImageToView(int32_t* x, int32_t* y, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                    int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1,
                    int32_t imageY1, int32_t zoom);

// ---- filters with a settings window ---------------------------------------------------
// Such a filter derives CImgFilter first and CFgUIDialog second, keeps a FilterWindowPlace
// of its own (and, for the class, a static one), and overrides with these bodies:
//   HasDialog       return 1
//   EnableDialog    FilterDialogEnable(this, enable)
//   OnClose         return FilterDialogClose(this, this)
//   ShowDialog      lay out for m_language, then FilterDialogShow(this, ...)
// It overrides both DrawOverlay slots (the window's own and the view's) when it draws
// either, so that neither hides the other.

struct FilterWindowPlace {
  uint32_t kept = 0;
  int32_t x = 0, y = 0;
};

void FilterDialogEnable(CFgUIDialog* window, int32_t enable);
// The close box: a visible filter is hidden (visible and parent cleared, ShowDialog(0,
// null)) and its host told (OnDialogClosed); always 0, so the window is never destroyed.
int32_t FilterDialogClose(CImgFilter* filter, CFgUIDialog* window);
// show: opens (or shows again) the window width x height titled title under parent, at
// the filter's own kept place, else the class's, else centred on the parent.  Hiding
// remembers the place in both records.  0 when the window cannot be made.
int32_t FilterDialogShow(CFgUIDialog* window, FilterWindowPlace* own,
                         FilterWindowPlace* classPlace, int32_t show, CFgScreen* parent,
                         uint64_t width, uint64_t height, const wchar_t* title);
// A control changed: redraws the window and, when the filter is enabled and has a host,
// asks for the current frame again (async 0 waits for it).
void FilterDialogChanged(CImgFilter* filter, CFgUIDialog* window, uint32_t async);
