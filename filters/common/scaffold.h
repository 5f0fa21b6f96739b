// scaffold.h - what every filter of the filter libraries shares on top of the filter
// interface: its window's layout per language, the chain rectangle as an engine rectangle,
// reading and writing settings packs safely, the checks of typed numbers, the enable helper,
// the settings copy a run works from, and the registration of a library's classes.
//
//   FilterLayoutItem     one control's label and rectangle in both languages
//   FilterLayout         a window's controls and client size in both languages
//   ApplyFilterLayout    places and labels the controls for a language
//   CFilterWindow        base of every filter with a settings window: the shared bodies
//   RequestIfEnabled     asks the host for the current frame when the filter is enabled
//   ChainRectToRoi       chain rectangle to RoiRect, saturated instead of wrapped
//   PackRead...          settings pack readers: found / valid, unsafe values refused
//   PackWrite...         settings pack writers of the stored value
//   CheckPositiveWhole   focus-loss check of a "positive whole number" box
//   CheckUnsignedDecimal focus-loss check of an "unsigned decimal" box
//   SetControlEnabled    enables a control, tells it, passes the focus on when it leaves
//   CFilterSettings<T>   a filter's settings behind its own lock; Process takes a copy
//   FilterClassEntry     one class of a filter library for the registry: id, key, maker
//   FilterRegisterFn     the registry's entry point handed to a library's registration call
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "app/registry.h"
#include "engine/frame.h"
#include "platform/thread.h"
#include "toolkit/uiobj.h"

class CCfgPack;
class CFgUIEdit;
class CFgTexture;

// ---- layout --------------------------------------------------------------------------------
struct FilterLayoutItem {
  CFgUIObj* control;
  const wchar_t* labelEn;  // null: the control keeps its text (edit boxes, pictures)
  const wchar_t* labelJa;
  int32_t xEn, yEn, xJa, yJa;
  int32_t width, height;
};

struct FilterLayout {
  const FilterLayoutItem* items;
  uint64_t count;
  uint64_t widthEn, heightEn, widthJa, heightJa;
  CFgTexture* const* textures;  // the window's pictures; may be null
  uint64_t textureCount;
};

// Places and labels every control for language (Japanese exactly for "jp"); outWidth and
// outHeight receive the window's client size for it.  Labels go to buttons, check boxes and
// labels; other controls only move.
void ApplyFilterLayout(const FilterLayout& layout, const wchar_t* language, uint64_t* outWidth,
                       uint64_t* outHeight);

// The body of ShowDialog of every filter with a window: lays out for the filter's language,
// then opens or hides at the remembered place (FilterDialogShow), titled with the filter's
// name.  The layout's textures are attached to the window once it is shown, so that the
// first drawing finds them on the window's context (a new window, after a language change,
// gets them again).
int32_t ShowFilterWindow(CImgFilter* filter, CFgUIDialog* window, const FilterLayout& layout,
                         FilterWindowPlace* own, FilterWindowPlace* classPlace, int32_t show,
                         CFgScreen* parent);

// A filter with a settings window: CImgFilter first, CFgUIDialog second, with the shared
// bodies of the window slots.  A filter fills m_layout in its constructor and passes its
// class's remembered place; the slots both bases name (DrawOverlay, the mouse) reach each
// base's own body unless the filter overrides them.
class CFilterWindow : public CImgFilter, public CFgUIDialog {
 public:
  explicit CFilterWindow(FilterWindowPlace* classPlace) : m_classPlace(classPlace) {}

  int32_t HasDialog() override { return 1; }
  void EnableDialog(int32_t enable) override { FilterDialogEnable(this, enable); }
  void ShowDialog(int32_t show, CFgScreen* parent) override {
    ShowFilterWindow(this, this, m_layout, &m_place, m_classPlace, show, parent);
  }
  int32_t OnClose() override { return FilterDialogClose(this, this); }

  void DrawOverlay() override { CFgUIDialog::DrawOverlay(); }
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override {
    CImgFilter::DrawOverlay(toGlX, toGlY, screen, font, viewX0, viewY0, viewX1, viewY1,
                            imageX0, imageY0, imageX1, imageY1, zoom);
  }
  void OnMouseMove(int32_t x, int32_t y) override { CFgUIDialog::OnMouseMove(x, y); }
  void OnMouseMove(int64_t x, int64_t y, uint8_t f) override { CImgFilter::OnMouseMove(x, y, f); }
  void OnLButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonDown(x, y); }
  void OnLButtonDown(int64_t x, int64_t y, uint8_t f) override {
    CImgFilter::OnLButtonDown(x, y, f);
  }
  void OnLButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonUp(x, y); }
  void OnLButtonUp(int64_t x, int64_t y, uint8_t f) override { CImgFilter::OnLButtonUp(x, y, f); }
  void OnRButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonDown(x, y); }
  void OnRButtonDown(int64_t x, int64_t y, uint8_t f) override {
    CImgFilter::OnRButtonDown(x, y, f);
  }
  void OnRButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonUp(x, y); }
  void OnRButtonUp(int64_t x, int64_t y, uint8_t f) override { CImgFilter::OnRButtonUp(x, y, f); }

  FilterLayout m_layout{};
  FilterWindowPlace m_place;           // this instance's remembered place
  FilterWindowPlace* m_classPlace;     // the class's, shared by its instances
};

// ---- requests and rectangles ---------------------------------------------------------------
// Asks the host to process the current frame again when the filter is enabled and has a
// host; async 0 waits for the result.
void RequestIfEnabled(CImgFilter* filter, uint32_t async);

// x0 = x, y0 = y, x1 = x + w - 1, y1 = y + h - 1, worked out in 64 bits and saturated to
// 32 bits: a huge width clips at the picture's edge instead of wrapping to a small one.
RoiRect ChainRectToRoi(int64_t x, int64_t y, int64_t width, int64_t height);

// ---- settings packs ------------------------------------------------------------------------
// Each reader looks the key up; *outFound tells whether it was there (may be null).  The
// value is written only when the text is valid for the reading and safe: otherwise the
// current value stays and the result is 0.  1 when a value was stored.
//
// Flag: "0" or "1" exactly.
int32_t PackReadFlag(const CCfgPack* pack, const wchar_t* key, uint32_t* value,
                     int32_t* outFound);
// Flag, lenient: any text other than "0" gives 1.
int32_t PackReadFlagLenient(const CCfgPack* pack, const wchar_t* key, uint32_t* value,
                            int32_t* outFound);
// Unsigned decimal as a C library conversion reads it: leading blanks, an optional sign,
// digits; reading stops at the first other character ("1x" gives 1; no digits gives 0).
// Refused: a value above max (an overflow included) and a minus sign on a non-zero value.
int32_t PackReadUnsigned(const CCfgPack* pack, const wchar_t* key, uint64_t max,
                         uint64_t* value, int32_t* outFound);
// Signed decimal in the same way; refused outside min to max (an overflow included).
int32_t PackReadSigned(const CCfgPack* pack, const wchar_t* key, int64_t min, int64_t max,
                       int64_t* value, int32_t* outFound);
// Decimal number as the C library reads a double; refused when not finite.
int32_t PackReadDouble(const CCfgPack* pack, const wchar_t* key, double* value,
                       int32_t* outFound);
// A comma list of signed whole numbers, element by element into values[0 .. count - 1];
// an element that is unsafe (or missing) keeps its value.  Returns the elements stored.
int32_t PackReadSignedList(const CCfgPack* pack, const wchar_t* key, int64_t min, int64_t max,
                           int64_t* values, uint64_t count, int32_t* outFound);

void PackWriteFlag(CCfgPack* pack, const wchar_t* key, uint32_t value);
void PackWriteUnsigned(CCfgPack* pack, const wchar_t* key, uint64_t value);
void PackWriteSigned(CCfgPack* pack, const wchar_t* key, int64_t value);
// "%lf" cut by TrimTrailingZeros.
void PackWriteDouble(CCfgPack* pack, const wchar_t* key, double value);
void PackWriteSignedList(CCfgPack* pack, const wchar_t* key, const int64_t* values,
                         uint64_t count);

// ---- typed numbers -------------------------------------------------------------------------
// "Positive whole number": digits only, value 1 to max.  1 and *value set, else 0.
int32_t CheckPositiveWhole(const wchar_t* text, uint64_t max, uint64_t* value);
// "Unsigned decimal": not empty, no leading ".", digits and at most one "."; finite.
int32_t CheckUnsignedDecimal(const wchar_t* text, double* value);
// Focus-loss bodies: a text the check accepts is stored; a refused one is replaced by the
// stored value ("%lu", or "%lf" cut by TrimTrailingZeros).  1 when the text was accepted.
int32_t EditCheckPositiveWhole(CFgUIEdit* edit, uint64_t max, uint64_t* value);
int32_t EditCheckUnsignedDecimal(CFgUIEdit* edit, double* value);

// ---- enabling controls ---------------------------------------------------------------------
// Sets the control's state, calls its OnEnable, and passes the focus on when a control that
// holds it is disabled.  On the filter worker call it only inside the draw lock.
void SetControlEnabled(CFgUIObj* control, int32_t enabled);

// ---- settings a run works from -------------------------------------------------------------
// The UI thread changes the settings under the lock; Process takes one copy under it and
// works from that, so a run never sees half an edit.  Tables and pictures that the UI thread
// rebuilds belong in T as std::shared_ptr, so the run's copy keeps its own alive.
template <class T>
class CFilterSettings {
 public:
  T Snapshot() const {
    PlatformLockHold hold(m_lock);
    return m_value;
  }
  template <class Fn>
  void Update(Fn&& change) {
    PlatformLockHold hold(m_lock);
    change(m_value);
  }

 private:
  mutable PlatformLock m_lock;
  T m_value{};
};

// ---- registration --------------------------------------------------------------------------
// FilterClassEntry and FilterRegisterFn belong to the registry (app/registry.h), which
// receives the classes: RegisterFilterClass is the FilterRegisterFn the program hands over.
