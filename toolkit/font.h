// font.h - the toolkit's bitmap text.
//
//   CFgFont           a glyph font: 512 lazily rendered pages of 128 glyphs (16 x 8 cells,
//                     RGBA, coverage in all four channels, drawn in the caller's colour)
//   ShareDefaultFont  exchanges rendered pages with the process-wide default font (size 14,
//                     default face), so a page is rendered once per process
//   FgCharAdvance / FgTextWidth   the half-width rule every layout measures with
//
// Half-width rule: a code below 128, 165, 8254 or 0xFF61..0xFF9F advances size / 2, every
// other character the full size. Page 0 cells are size / 2 wide, other pages' size wide;
// cells are size high, the glyph's top at the cell's top.
//
// Lock order: draw lock, then the glyph-cache lock, then a font's lock, then page locks.
// Drawing runs inside a drawing section of the font's screen.
#pragma once

#include <cstdint>

#include "platform/thread.h"
#include "toolkit/texture.h"

struct PlatGlyphFace;

constexpr int kFgFontPages = 512;
constexpr int kFgFaceUnits = 32;  // face name field, terminator included

class CFgFont {
 public:
  CFgFont();
  virtual ~CFgFont();
  CFgFont(const CFgFont&) = delete;
  CFgFont& operator=(const CFgFont&) = delete;

  // Empties face name, size, screen and face handle (pages untouched).
  void Init();
  // Opens the face (null: the default face) at size pixels; 0 below size 2 or when no face
  // can be opened (the size is kept then and the font draws nothing). Keeps the binding.
  int32_t CreateGdiFont(uint64_t size, const wchar_t* face);
  // Frees every page's store and the face; GL names of pages are not deleted here
  // (DetachFromScreen does that, with the window still alive).
  void Release();
  // Takes other's face and size, keeping this font's binding.
  void Assign(CFgFont* other);
  int32_t AttachToScreen(CFgScreen* screen);
  void DetachFromScreen();
  // Renders page when it has no store yet; 1 when it has one.
  int32_t EnsurePage(uint64_t page);
  // Draw with the cell's top-left at window pixel (x, y); the current GL colour is the
  // text colour. DrawChar returns the advance (0 when nothing could be drawn); DrawText the
  // sum over the characters that were drawn.
  int32_t DrawChar(double x, double y, wchar_t ch);
  int64_t DrawText(double x, double y, const wchar_t* text);
  // Exchanges rendered pages with the default font D (same face and size only).
  void SharePages(CFgFont* defaultFont);

  // Advance of one character and width of a text under the half-width rule.
  int64_t Advance(wchar_t ch) const;
  int64_t TextWidth(const wchar_t* text) const;

  uint64_t Size() const { return m_size; }
  const wchar_t* FaceName() const { return m_faceName; }
  CFgScreen* Screen() const { return m_screen; }
  CFgTexture* Page(uint64_t page) { return page < kFgFontPages ? &m_pages[page] : nullptr; }

  // Pages rendered by any font of the process so far (tests see whether a page was shared
  // or rendered again).
  static uint64_t RenderedPageCount();

  wchar_t m_faceName[kFgFaceUnits] = {};
  uint64_t m_size = 0;
  CFgTexture* m_pages = nullptr;  // kFgFontPages of them
  CFgScreen* m_screen = nullptr;
  PlatformLock m_lock;
  PlatGlyphFace* m_face = nullptr;

 private:
  int32_t RenderPage(uint64_t page);
};

// 1 when ch is half-width by the toolkit's rule.
int32_t FgIsHalfWidth(uint32_t ch);
// size / 2 for a half-width character, else size.
int64_t FgCharAdvance(uint32_t ch, uint64_t size);
// Sum of the advances of a zero-terminated text (0 for null).
int64_t FgTextWidth(const wchar_t* text, uint64_t size);

// The process-wide default font (created on first use; null when it cannot be made).
CFgFont* FgDefaultFont();
void ShareDefaultFont(CFgFont* font);

// The container font every dialog gets: size 14, default face, bound to screen.
CFgFont* FgCreateContainerFont(CFgScreen* screen);
// Deletes the pages' GL names (inside a section of its screen), frees and deletes the font.
void FgDestroyContainerFont(CFgFont* font);
