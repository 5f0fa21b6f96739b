// font.cpp - CFgFont: lazily rendered glyph pages, drawing, and the page exchange with
// the process-wide default font; the half-width rule; the container font of dialogs.
// Inside: half-width rule - construction and face - binding - pages - drawing - sharing
#include "toolkit/font.h"

#include <GL/gl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/glyph.h"

namespace {

std::atomic<uint64_t> g_renderedPages{0};

// Sizes above this make pages larger than any texture; nobody reads text that big.
constexpr uint64_t kMaxFontSize = 1024;

int32_t PageHasStore(CFgTexture& page) {
  PlatformLockHold hold(page.Lock());
  return page.m_store != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Half-width rule
int32_t FgIsHalfWidth(uint32_t ch) {
  return ch < 128 || ch == 165 || ch == 8254 || (ch >= 0xFF61 && ch <= 0xFF9F);
}

int64_t FgCharAdvance(uint32_t ch, uint64_t size) {
  return FgIsHalfWidth(ch) ? int64_t(size / 2) : int64_t(size);
}

int64_t FgTextWidth(const wchar_t* text, uint64_t size) {
  if (!text) return 0;
  int64_t w = 0;
  for (; *text; ++text) w += FgCharAdvance(uint32_t(*text), size);
  return w;
}

int64_t CFgFont::Advance(wchar_t ch) const { return FgCharAdvance(uint32_t(ch), m_size); }
int64_t CFgFont::TextWidth(const wchar_t* text) const { return FgTextWidth(text, m_size); }

uint64_t CFgFont::RenderedPageCount() { return g_renderedPages.load(); }

// ---------------------------------------------------------------------------------------
// Construction and face
CFgFont::CFgFont() {
  m_pages = new CFgTexture[kFgFontPages];
  Init();
}

CFgFont::~CFgFont() {
  Release();
  delete[] m_pages;
}

void CFgFont::Init() {
  m_faceName[0] = 0;
  m_size = 0;
  m_screen = nullptr;
  m_face = nullptr;
}

int32_t CFgFont::CreateGdiFont(uint64_t size, const wchar_t* face) {
  CFgScreen* bound = m_screen;
  Release();
  if (size < 2 || size > kMaxFontSize) return 0;
  m_size = size;
  m_face = PlatGlyphOpen(face, int32_t(size));
  if (m_face) {
    const wchar_t* name = face && *face ? face : kPlatDefaultFaceName;
    size_t n = wcslen(name);
    if (n > size_t(kFgFaceUnits - 1)) n = kFgFaceUnits - 1;
    wmemcpy(m_faceName, name, n);
    m_faceName[n] = 0;
  }
  if (bound) AttachToScreen(bound);
  return m_face != nullptr;
}

void CFgFont::Release() {
  PlatformLockHold hold(m_lock);
  for (int p = 0; p < kFgFontPages; ++p) m_pages[p].Clear();
  PlatGlyphClose(m_face);
  Init();
}

void CFgFont::Assign(CFgFont* other) {
  if (!other || other == this) return;
  CFgScreen* bound = m_screen;
  Release();
  if (!other->m_faceName[0]) {
    m_size = other->m_size;
  } else {
    std::wstring face = other->m_faceName;
    CreateGdiFont(other->m_size, face.c_str());
  }
  if (bound && !m_screen) AttachToScreen(bound);
}

// ---------------------------------------------------------------------------------------
// Binding
int32_t CFgFont::AttachToScreen(CFgScreen* screen) {
  if (!screen) return 0;
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (m_screen || m_size == 0) return 0;
  for (int p = 0; p < kFgFontPages; ++p) {
    if (!PageHasStore(m_pages[p])) continue;
    if (!m_pages[p].AttachToScreen(screen)) {
      for (int q = 0; q < kFgFontPages; ++q)
        if (m_pages[q].m_screen == screen) m_pages[q].ReleaseGL();
      return 0;
    }
  }
  m_screen = screen;
  return 1;
}

void CFgFont::DetachFromScreen() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  for (int p = 0; p < kFgFontPages; ++p)
    if (m_pages[p].m_screen) m_pages[p].ReleaseGL();
  m_screen = nullptr;
}

// ---------------------------------------------------------------------------------------
// Pages
int32_t CFgFont::EnsurePage(uint64_t page) {
  if (page >= uint64_t(kFgFontPages)) return 0;
  CFgTexture& pg = m_pages[page];
  if (PageHasStore(pg)) return 1;
  // Draw lock before the font's lock: binding the page opens a drawing section.
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (PageHasStore(pg)) return 1;
  if (m_size < 2) return 0;
  uint64_t cellWidth = page == 0 ? m_size / 2 : m_size;
  if (!pg.Create(cellWidth, m_size, 16, 8, 1, nullptr)) return 0;
  pg.m_useCurrentColor = 1;
  if (!RenderPage(page)) {
    pg.Clear();
    return 0;
  }
  if (m_screen) {
    // A page that kept its GL name through a release is bound already: send the new pixels.
    if (pg.m_screen == m_screen && pg.m_hasGlName)
      pg.Upload();
    else
      pg.AttachToScreen(m_screen);
  }
  return 1;
}

// Every texel of glyph coverage v is (v, v, v, v): drawn in the caller's colour, blended
// by coverage. A font without a face draws every glyph as an opaque box.
int32_t CFgFont::RenderPage(uint64_t page) {
  CFgTexture& pg = m_pages[page];
  PlatformLockHold hold(pg.Lock());
  uint64_t cw = pg.m_cellWidth, ch = pg.m_cellHeight, stride = pg.m_bufferWidth * 4;
  if (!m_faceName[0] || !m_face) {
    for (uint64_t y = 0; y < ch * 8; ++y) memset(pg.m_store + y * stride, 255, size_t(cw * 16 * 4));
    g_renderedPages.fetch_add(1);
    return 1;
  }
  std::vector<uint8_t> cell;
  cell.resize(size_t(cw * ch));
  for (uint64_t r = 0; r < 8; ++r) {
    for (uint64_t c = 0; c < 16; ++c) {
      uint32_t code = uint32_t(page * 128 + r * 16 + c);
      // Half-width characters of the other pages take the left half of their cell, as
      // their advance says.
      int32_t glyphWidth = int32_t(FgIsHalfWidth(code) ? m_size / 2 : cw);
      std::fill(cell.begin(), cell.end(), uint8_t(0));
      if (!PlatGlyphRender(m_face, code, cell.data(), glyphWidth, int32_t(ch), int32_t(cw)))
        continue;  // a glyph the rasteriser refuses stays blank
      for (uint64_t y = 0; y < ch; ++y) {
        uint8_t* d = pg.m_store + (r * ch + y) * stride + c * cw * 4;
        const uint8_t* s = cell.data() + y * cw;
        for (uint64_t x = 0; x < cw; ++x, d += 4) d[0] = d[1] = d[2] = d[3] = s[x];
      }
    }
  }
  g_renderedPages.fetch_add(1);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Drawing
int32_t CFgFont::DrawChar(double x, double y, wchar_t ch) {
  if (!m_screen || !m_size) return 0;
  uint32_t code = uint32_t(ch);
  if (code > 0xFFFF) return 0;  // pages cover the 16-bit range only
  if (!EnsurePage(code / 128)) return 0;
  if (!m_pages[code / 128].DrawCell(x, y, 0, 0, code % 128)) return 0;
  return int32_t(Advance(ch));
}

int64_t CFgFont::DrawText(double x, double y, const wchar_t* text) {
  if (!text || !m_screen || !m_size) return 0;
  int64_t total = 0;
  for (; *text; ++text) total += DrawChar(x + double(total), y, *text);
  return total;
}

// ---------------------------------------------------------------------------------------
// Sharing
void CFgFont::SharePages(CFgFont* d) {
  if (!d || d == this) return;
  if (!m_faceName[0] || !d->m_faceName[0] || m_size != d->m_size ||
      wcscmp(m_faceName, d->m_faceName) != 0)
    return;
  PlatformLockHold draw(FgDrawLock());
  for (int p = 0; p < kFgFontPages; ++p) {
    int32_t mine = PageHasStore(m_pages[p]), theirs = PageHasStore(d->m_pages[p]);
    if (theirs && !mine) {
      m_pages[p].CopyFrom(&d->m_pages[p]);
      m_pages[p].m_useCurrentColor = 1;
      if (m_screen) m_pages[p].AttachToScreen(m_screen);
    } else if (mine && !theirs) {
      d->m_pages[p].CopyFrom(&m_pages[p]);
      d->m_pages[p].m_useCurrentColor = 1;
    }
  }
}

namespace {

PlatformLock& GlyphCacheLock() {
  static PlatformLock* lock = new PlatformLock;  // lives with the process
  return *lock;
}
CFgFont* g_defaultFont = nullptr;

}  // namespace

CFgFont* FgDefaultFont() {
  // Draw lock first: a default font that cannot be made is deleted here, and deleting its
  // page textures takes the draw lock.
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(GlyphCacheLock());
  if (!g_defaultFont) {
    CFgFont* f = new CFgFont;
    if (!f->CreateGdiFont(14, nullptr)) {
      delete f;  // tried again next time
      return nullptr;
    }
    g_defaultFont = f;
  }
  return g_defaultFont;
}

void ShareDefaultFont(CFgFont* font) {
  if (!font) return;
  PlatformLockHold draw(FgDrawLock());
  CFgFont* d = FgDefaultFont();
  if (!d) return;
  PlatformLockHold hold(GlyphCacheLock());
  font->SharePages(d);
}

CFgFont* FgCreateContainerFont(CFgScreen* screen) {
  CFgFont* f = new CFgFont;
  f->CreateGdiFont(14, nullptr);
  if (screen) f->AttachToScreen(screen);
  return f;
}

void FgDestroyContainerFont(CFgFont* font) {
  if (!font) return;
  PlatformLockHold draw(FgDrawLock());
  font->DetachFromScreen();
  delete font;
}
