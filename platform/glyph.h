// glyph.h - glyph rendering for the toolkit's bitmap fonts: a face picked by name and
// rendered one character at a time into an 8-bit coverage cell (0 none .. 255 full).
//
//   PlatGlyphFace        one opened face at one pixel size (opaque)
//   PlatGlyphOpen/Close  open by face name, sized so the cell height is the pixel size
//   PlatGlyphRender      one character into a cell, top of the cell at the ascent line
//   PlatGlyphFacePath    the font file the name resolved to
//
// Face names are the ones the program's users and settings know ("ＭＳ 明朝" and other
// Japanese desktop faces); they map to the IPA faces (Mincho for the Mincho default, Gothic
// for the rest), else to whatever face covers Japanese. The file a name resolves to is
// pinned for the life of the process, so pictures of text stay the same whatever else gets
// installed meanwhile.
//
// Threads: a face may be used from one thread at a time (the font that owns it serialises
// its page rendering); different faces may render at the same time.
#pragma once

#include <cstdint>
#include <string>

struct PlatGlyphFace;

// The face every font gets when none is named.
extern const wchar_t* const kPlatDefaultFaceName;

// Opens face (null or empty: the default) at pixelSize (2 or more). Null when no face file
// can be found or opened.
PlatGlyphFace* PlatGlyphOpen(const wchar_t* face, int32_t pixelSize);
void PlatGlyphClose(PlatGlyphFace* face);

// Renders code point into the cell at dst (cellWidth x cellHeight bytes, rows stride bytes
// apart, top row first). The cell is cleared first; the glyph's pen starts at the cell's
// left edge with the baseline ascent pixels below its top (a glyph wider than the cell is
// centred in it); what falls outside is cut.
// A code point the face has no glyph for leaves the cell blank. 1 on success (blank
// included), 0 for bad arguments or a glyph the rasteriser refuses.
int PlatGlyphRender(PlatGlyphFace* face, uint32_t codePoint, uint8_t* dst, int32_t cellWidth,
                    int32_t cellHeight, int32_t stride);

// 1 when the face has a glyph for the code point.
int PlatGlyphHas(PlatGlyphFace* face, uint32_t codePoint);

// Ascent in pixels (baseline below the cell top) of an opened face.
int32_t PlatGlyphAscent(PlatGlyphFace* face);

// Path of the file behind an opened face, and the family fontconfig reports for it.
std::string PlatGlyphFacePath(PlatGlyphFace* face);
std::string PlatGlyphFamily(PlatGlyphFace* face);
