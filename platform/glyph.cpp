// glyph.cpp - glyph cells through fontconfig (which file a face name means) and FreeType
// (coverage of one character at a cell size).
// Inside: face-name mapping - pinned resolution - face open/close - rendering
#include "platform/glyph.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>

#include "platform/x11_private.h"  // WideToUtf8

const wchar_t* const kPlatDefaultFaceName = L"\xFF2D\xFF33 \x660E\x671D";  // MS Mincho

struct PlatGlyphFace {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  int32_t ascent = 0;
  std::string path;
  std::string family;
};

namespace {

// ---------------------------------------------------------------------------------------
// Face-name mapping. The desktop faces the program's settings name do not exist here; the
// IPA faces were drawn to the same metrics. Names are compared as given and in ASCII
// lower case.
struct FaceAlias {
  const wchar_t* name;
  const char* family;
};
const FaceAlias kAliases[] = {
    {L"\xFF2D\xFF33 \x660E\x671D", "IPAMincho"},           // MS Mincho
    {L"\xFF2D\xFF33 \xFF30\x660E\x671D", "IPAMincho"},     // MS PMincho
    {L"ms mincho", "IPAMincho"},
    {L"ms pmincho", "IPAMincho"},
    {L"ipamincho", "IPAMincho"},
    {L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF", "IPAGothic"},        // MS Gothic
    {L"\xFF2D\xFF33 \xFF30\x30B4\x30B7\x30C3\x30AF", "IPAGothic"},  // MS PGothic
    {L"ms gothic", "IPAGothic"},
    {L"ms pgothic", "IPAGothic"},
    {L"ms ui gothic", "IPAGothic"},
    {L"\x30E1\x30A4\x30EA\x30AA", "IPAGothic"},  // Meiryo
    {L"meiryo", "IPAGothic"},
    {L"ipagothic", "IPAGothic"},
};

std::wstring AsciiLower(const std::wstring& s) {
  std::wstring r = s;
  for (wchar_t& c : r)
    if (c >= L'A' && c <= L'Z') c = wchar_t(c + 32);
  return r;
}

struct Resolved {
  std::string path;
  int index = 0;
  std::string family;
};

// Matches family exactly (any of the matched face's family names); with family empty,
// any face that covers Japanese.
int MatchFamily(const char* family, Resolved* out) {
  FcPattern* pat = family && *family ? FcPatternCreate() : FcNameParse((const FcChar8*)":lang=ja");
  if (!pat) return 0;
  if (family && *family) FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)family);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  if (!match) return 0;
  int ok = 0;
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
    // Fontconfig always answers with something: only an equal family name counts.
    FcChar8* fam = nullptr;
    std::string firstFamily;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &fam) == FcResultMatch; ++i) {
      if (i == 0) firstFamily = (const char*)fam;
      if (!family || !*family || FcStrCmpIgnoreCase(fam, (const FcChar8*)family) == 0) ok = 1;
    }
    if (ok) {
      out->path = (const char*)file;
      int index = 0;
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      out->index = index;
      out->family = firstFamily;
    }
  }
  FcPatternDestroy(match);
  return ok;
}

std::mutex g_resolveLock;
int g_fcReady = 0;

void ReleaseFontconfig() {
  std::lock_guard<std::mutex> hold(g_resolveLock);
  FcFini();
}

std::map<std::wstring, Resolved>* g_pinned = nullptr;  // never freed: lives with the process

// Name -> file, once per process.
int Resolve(const std::wstring& name, Resolved* out) {
  std::lock_guard<std::mutex> hold(g_resolveLock);
  if (!g_pinned) g_pinned = new std::map<std::wstring, Resolved>;
  auto it = g_pinned->find(name);
  if (it != g_pinned->end()) {
    *out = it->second;
    return 1;
  }
  if (!g_fcReady) {
    if (!FcInit()) return 0;
    // Fontconfig keeps its configuration until told to let go; we need it only here.
    atexit(ReleaseFontconfig);
    g_fcReady = 1;
  }
  std::wstring lower = AsciiLower(name);
  const char* mapped = nullptr;
  for (const FaceAlias& a : kAliases)
    if (name == a.name || lower == a.name) mapped = a.family;
  int nonAscii = 0;
  for (wchar_t c : name) nonAscii |= c >= 0x80;
  Resolved r;
  int ok = 0;
  if (mapped) {
    ok = MatchFamily(mapped, &r);
  } else if (!nonAscii) {
    // A Latin family name: that face when it is installed and covers Japanese.
    std::string utf8 = platx::WideToUtf8(name.c_str());
    ok = MatchFamily(utf8.c_str(), &r);
    if (ok) {
      FcPattern* pat = FcNameParse((const FcChar8*)":lang=ja");
      FcPatternAddString(pat, FC_FAMILY, (const FcChar8*)utf8.c_str());
      FcObjectSet* os = FcObjectSetBuild(FC_FILE, nullptr);
      FcFontSet* set = FcFontList(nullptr, pat, os);
      ok = set && set->nfont > 0;
      if (set) FcFontSetDestroy(set);
      FcObjectSetDestroy(os);
      FcPatternDestroy(pat);
    }
  }
  // Any other Japanese desktop face: Gothic; then anything that covers Japanese (plain
  // "sans-serif" may pick a face without kana or kanji).
  if (!ok) ok = MatchFamily("IPAGothic", &r);
  if (!ok) ok = MatchFamily(nullptr, &r);
  if (!ok) return 0;
  (*g_pinned)[name] = r;
  *out = r;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Open and close
PlatGlyphFace* PlatGlyphOpen(const wchar_t* face, int32_t pixelSize) {
  if (pixelSize < 2 || pixelSize > 4096) return nullptr;
  std::wstring name = face && *face ? face : kPlatDefaultFaceName;
  Resolved r;
  if (!Resolve(name, &r)) return nullptr;
  PlatGlyphFace* g = new PlatGlyphFace;
  g->path = r.path;
  g->family = r.family;
  if (FT_Init_FreeType(&g->library) ||
      FT_New_Face(g->library, r.path.c_str(), r.index, &g->face)) {
    PlatGlyphClose(g);
    return nullptr;
  }
  FT_Select_Charmap(g->face, FT_ENCODING_UNICODE);
  // The cell height (ascender + descender) equals the pixel size, as the desktop's
  // font height does; the width follows the same scale.
  FT_Size_RequestRec req;
  memset(&req, 0, sizeof req);
  req.type = FT_SIZE_REQUEST_TYPE_CELL;
  req.height = FT_Long(pixelSize) * 64;
  if (FT_IS_SCALABLE(g->face) ? FT_Request_Size(g->face, &req) != 0
                              : FT_Set_Pixel_Sizes(g->face, 0, FT_UInt(pixelSize)) != 0) {
    PlatGlyphClose(g);
    return nullptr;
  }
  // From the unrounded scale: the size metrics round the ascender up and the descender
  // down, which would push descenders one row out of the cell.
  FT_Pos asc = FT_IS_SCALABLE(g->face)
                   ? FT_MulFix(g->face->ascender, g->face->size->metrics.y_scale)
                   : g->face->size->metrics.ascender;
  g->ascent = int32_t((asc + 32) >> 6);
  if (g->ascent > pixelSize) g->ascent = pixelSize;
  return g;
}

void PlatGlyphClose(PlatGlyphFace* face) {
  if (!face) return;
  if (face->face) FT_Done_Face(face->face);
  if (face->library) FT_Done_FreeType(face->library);
  delete face;
}

int32_t PlatGlyphAscent(PlatGlyphFace* face) { return face ? face->ascent : 0; }
std::string PlatGlyphFacePath(PlatGlyphFace* face) { return face ? face->path : std::string(); }
std::string PlatGlyphFamily(PlatGlyphFace* face) { return face ? face->family : std::string(); }

int PlatGlyphHas(PlatGlyphFace* face, uint32_t codePoint) {
  return face && face->face && FT_Get_Char_Index(face->face, codePoint) != 0;
}

// ---------------------------------------------------------------------------------------
// Rendering
int PlatGlyphRender(PlatGlyphFace* face, uint32_t codePoint, uint8_t* dst, int32_t cellWidth,
                    int32_t cellHeight, int32_t stride) {
  if (!face || !face->face || !dst || cellWidth < 1 || cellHeight < 1 || stride < cellWidth)
    return 0;
  for (int32_t y = 0; y < cellHeight; ++y) memset(dst + size_t(y) * size_t(stride), 0, size_t(cellWidth));
  FT_UInt index = FT_Get_Char_Index(face->face, codePoint);
  if (index == 0) return 1;  // no glyph: the cell stays blank
  if (FT_Load_Glyph(face->face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) return 0;
  FT_GlyphSlot slot = face->face->glyph;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) return 0;
  int64_t left = slot->bitmap_left;
  // A glyph drawn wider than its cell (the yen sign is full width in the IPA faces, half
  // width on the desktop) is centred in the cell rather than cut on one side.
  int64_t advance = (int64_t(slot->advance.x) + 32) >> 6;
  if (advance > cellWidth) left -= (advance - cellWidth) / 2;
  int64_t top = int64_t(face->ascent) - slot->bitmap_top;
  int mono = bm.pixel_mode == FT_PIXEL_MODE_MONO;
  int grays = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
  for (int64_t row = 0; row < int64_t(bm.rows); ++row) {
    int64_t y = top + row;
    if (y < 0 || y >= cellHeight) continue;
    const unsigned char* src = bm.buffer + row * bm.pitch;
    uint8_t* out = dst + size_t(y) * size_t(stride);
    for (int64_t col = 0; col < int64_t(bm.width); ++col) {
      int64_t x = left + col;
      if (x < 0 || x >= cellWidth) continue;
      int v = mono ? ((src[col >> 3] >> (7 - (col & 7))) & 1) * 255
                   : (grays == 255 ? src[col] : src[col] * 255 / grays);
      out[x] = uint8_t(v);
    }
  }
  return 1;
}
