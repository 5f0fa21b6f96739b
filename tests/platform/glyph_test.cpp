// glyph_test.cpp - face-name mapping to the installed IPA faces, the pinned face file, the
// cell metrics (height = pixel size, glyph top at the ascent line) and blank cells for
// characters a face lacks.
#include "platform/glyph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Face {
  PlatGlyphFace* f;
  Face(const wchar_t* name, int size) : f(PlatGlyphOpen(name, size)) {}
  ~Face() { PlatGlyphClose(f); }
};

// Rows and columns that carry any coverage in a cell of w x h.
struct Extent {
  int top = -1, bottom = -1, left = -1, right = -1;
  long sum = 0;
};
Extent Measure(const std::vector<uint8_t>& cell, int w, int h) {
  Extent e;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t v = cell[size_t(y * w + x)];
      if (!v) continue;
      e.sum += v;
      if (e.top < 0) e.top = y;
      e.bottom = y;
      if (e.left < 0 || x < e.left) e.left = x;
      if (x > e.right) e.right = x;
    }
  return e;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(tolower(c));
  return s;
}

TEST(GlyphTest, FaceNamesMapToTheIpaFaces) {
  struct Case {
    const wchar_t* name;
    const char* fileHas;
  } cases[] = {
      {nullptr, "mincho"},
      {L"", "mincho"},
      {L"\xFF2D\xFF33 \x660E\x671D", "mincho"},                    // the default face
      {L"MS Mincho", "mincho"},
      {L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF", "gothic"},        // another desktop face
      {L"\x30E1\x30A4\x30EA\x30AA", "gothic"},
      {L"\x6E38\x30B4\x30B7\x30C3\x30AF", "gothic"},               // unknown Japanese name
      {L"No Such Face Anywhere", "gothic"},                        // unknown Latin name
  };
  for (const Case& c : cases) {
    Face face(c.name, 14);
    ASSERT_NE(face.f, nullptr);
    EXPECT_NE(Lower(PlatGlyphFacePath(face.f)).find(c.fileHas), std::string::npos)
        << PlatGlyphFacePath(face.f);
    // Whatever the face, kana must be there (a plain sans-serif match may lack them).
    EXPECT_TRUE(PlatGlyphHas(face.f, 0x3042));
  }
}

TEST(GlyphTest, TheResolvedFileIsPinned) {
  Face a(nullptr, 14), b(nullptr, 20);
  ASSERT_TRUE(a.f && b.f);
  EXPECT_EQ(PlatGlyphFacePath(a.f), PlatGlyphFacePath(b.f));
}

TEST(GlyphTest, GlyphsStayInsideACellAsHighAsTheSize) {
  for (int size : {10, 14, 24}) {
    Face face(nullptr, size);
    ASSERT_NE(face.f, nullptr);
    int asc = PlatGlyphAscent(face.f);
    EXPECT_GT(asc, size / 2);
    EXPECT_LE(asc, size);
    // A cell twice as tall as the size: no ink may fall below the size.
    for (uint32_t ch : {uint32_t('A'), uint32_t('g'), uint32_t('|'), 0x660Eu, 0x3042u}) {
      int w = 2 * size, h = 2 * size;
      std::vector<uint8_t> cell(size_t(w * h), 7);
      ASSERT_EQ(PlatGlyphRender(face.f, ch, cell.data(), w, h, w), 1);
      Extent e = Measure(cell, w, h);
      ASSERT_GE(e.top, 0) << ch;
      EXPECT_LT(e.bottom, size) << "size " << size << " char " << ch;
      int advance = ch < 128 ? size / 2 : size;
      EXPECT_LE(e.right, advance) << "size " << size << " char " << ch;
    }
    // 'A' stands on the baseline: its lowest ink is the row above the ascent line's end.
    std::vector<uint8_t> cell(size_t(size * size));
    PlatGlyphRender(face.f, 'A', cell.data(), size, size, size);
    Extent e = Measure(cell, size, size);
    EXPECT_NEAR(e.bottom, asc - 1, 1) << size;
  }
}

TEST(GlyphTest, MissingGlyphLeavesTheCellBlankAndBadArgumentsFail) {
  Face face(nullptr, 14);
  ASSERT_NE(face.f, nullptr);
  std::vector<uint8_t> cell(14 * 14, 9);
  EXPECT_FALSE(PlatGlyphHas(face.f, 0xE000));  // private use: no glyph in the IPA faces
  EXPECT_EQ(PlatGlyphRender(face.f, 0xE000, cell.data(), 14, 14, 14), 1);
  EXPECT_EQ(Measure(cell, 14, 14).sum, 0);
  // A stride wider than the cell leaves the bytes between rows alone.
  std::vector<uint8_t> wide(20 * 14, 9);
  EXPECT_EQ(PlatGlyphRender(face.f, 'W', wide.data(), 7, 14, 20), 1);
  for (int y = 0; y < 14; ++y)
    for (int x = 7; x < 20; ++x) EXPECT_EQ(wide[size_t(y * 20 + x)], 9);
  EXPECT_EQ(PlatGlyphRender(nullptr, 'A', cell.data(), 14, 14, 14), 0);
  EXPECT_EQ(PlatGlyphRender(face.f, 'A', nullptr, 14, 14, 14), 0);
  EXPECT_EQ(PlatGlyphRender(face.f, 'A', cell.data(), 0, 14, 14), 0);
  EXPECT_EQ(PlatGlyphRender(face.f, 'A', cell.data(), 14, 14, 13), 0);
  EXPECT_EQ(PlatGlyphOpen(nullptr, 1), nullptr);
  EXPECT_EQ(PlatGlyphOpen(nullptr, 0), nullptr);
}

}  // namespace
