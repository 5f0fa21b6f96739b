// font_x11_test.cpp - glyph fonts on a real X server: the half-width advances, glyphs
// inside their cells, pages rendered once and shared with a second window, boxes for a
// font without a face, refused sizes.
#include "toolkit/font.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/label.h"
#include "toolkit/uiobj.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using namespace toolkittest;

// Bounding box of pixels darker than the white ground.
struct Ink {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, count = 0;
};
Ink FindInk(const std::vector<uint8_t>& px, uint64_t w, uint64_t h, int rx0, int ry0, int rx1,
            int ry1) {
  Ink k;
  for (int y = ry0; y <= ry1; ++y)
    for (int x = rx0; x <= rx1; ++x) {
      const uint8_t* p = &px[size_t(((h - 1 - uint64_t(y)) * w + uint64_t(x)) * 3)];
      if (p[0] > 200) continue;
      ++k.count;
      k.x0 = std::min(k.x0, x);
      k.y0 = std::min(k.y0, y);
      k.x1 = std::max(k.x1, x);
      k.y1 = std::max(k.y1, y);
    }
  return k;
}

void White() {
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
}

TEST(FontTest, HalfWidthRule) {
  struct Case {
    uint32_t ch;
    int64_t advance;
  } cases[] = {{'A', 7}, {0xFF71, 7}, {165, 7}, {8254, 7}, {0xFF61, 7}, {0xFF9F, 7},
               {0x3042, 14}, {0xFF60, 14}, {0xFFA0, 14}, {0x00E9, 14}, {127, 7}, {128, 14}};
  for (const Case& c : cases) EXPECT_EQ(FgCharAdvance(c.ch, 14), c.advance) << c.ch;
  EXPECT_EQ(FgTextWidth(L"ABCD", 14), 28);
  EXPECT_EQ(FgTextWidth(L"\x3042" L"A", 15), 22);
  EXPECT_EQ(FgTextWidth(nullptr, 14), 0);
}

TEST(FontTest, RefusedSizesLeaveNoFace) {
  CFgFont f;
  EXPECT_EQ(f.CreateGdiFont(1, nullptr), 0);
  EXPECT_EQ(f.m_face, nullptr);
  EXPECT_EQ(f.FaceName()[0], 0);
  EXPECT_EQ(f.EnsurePage(0), 0);
  EXPECT_EQ(f.Page(0)->m_store, nullptr);
  EXPECT_EQ(f.CreateGdiFont(14, nullptr), 1);
  EXPECT_EQ(std::wstring(f.FaceName()), std::wstring(L"\xFF2D\xFF33 \x660E\x671D"));
  EXPECT_EQ(f.EnsurePage(512), 0);
  EXPECT_EQ(f.Page(512), nullptr);
}

class Screen : public CFgScreen {};

TEST(FontX11Test, GlyphsDrawInsideTheirCellsAndPagesRenderOnce) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(30, 30, 200, 60, L"font", 0, nullptr));
  CFgFont f;
  ASSERT_EQ(f.CreateGdiFont(14, nullptr), 1);
  ASSERT_EQ(f.AttachToScreen(&s), 1);
  EXPECT_EQ(f.AttachToScreen(&s), 0);  // already bound
  ASSERT_TRUE(s.BeginDraw());
  White();
  glColor3d(0, 0, 0);
  uint64_t before = CFgFont::RenderedPageCount();
  EXPECT_EQ(f.DrawChar(10, 10, L'A'), 7);
  EXPECT_EQ(f.DrawChar(30, 10, 0x3042), 14);
  EXPECT_EQ(f.DrawChar(60, 10, 0xFF71), 7);
  EXPECT_EQ(f.DrawChar(80, 10, 165), 7);
  EXPECT_EQ(CFgFont::RenderedPageCount() - before, 4u);  // pages 0, 96, 510 and 1
  EXPECT_EQ(f.DrawText(100, 10, L"A\x3042" L"A"), 28);
  EXPECT_EQ(CFgFont::RenderedPageCount() - before, 4u);  // nothing rendered again
  EXPECT_EQ(f.DrawChar(0, 0, wchar_t(0x1F600)), 0);      // beyond the 16-bit pages
  uint64_t w = s.m_clientWidth, h = s.m_clientHeight;
  std::vector<uint8_t> px = ReadBack(w, h);
  s.EndDraw(1);
  struct Cell {
    int x, width;
  } cells[] = {{10, 7}, {30, 14}, {60, 7}, {80, 7}};
  // Ink of each glyph stays within its own cell: rows 10..23, its columns.
  Ink all = FindInk(px, w, h, 0, 0, int(w) - 1, int(h) - 1);
  EXPECT_GE(all.y0, 10);
  EXPECT_LE(all.y1, 23);
  for (const Cell& c : cells) {
    Ink k = FindInk(px, w, h, c.x, 0, c.x + c.width - 1, int(h) - 1);
    EXPECT_GT(k.count, 3) << c.x;
    Ink wider = FindInk(px, w, h, c.x - 2, 0, c.x + c.width + 1, int(h) - 1);
    EXPECT_EQ(wider.count, k.count) << "ink outside the cell at " << c.x << ": " << wider.x0 << ".." << wider.x1 << " " << wider.y0 << ".." << wider.y1;
  }
  // The run of three: all ink within its 28 pixels.
  Ink run = FindInk(px, w, h, 95, 0, 140, int(h) - 1);
  EXPECT_GE(run.x0, 100);
  EXPECT_LE(run.x1, 127);
  f.DetachFromScreen();
  EXPECT_EQ(f.Screen(), nullptr);
  EXPECT_EQ(f.Page(0)->m_screen, nullptr);
}

TEST(FontX11Test, AFontWithoutAFaceDrawsBoxes) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(30, 30, 100, 40, L"boxes", 0, nullptr));
  CFgFont sizeOnly, f;
  sizeOnly.m_size = 10;  // as a font whose face could not be made
  f.Assign(&sizeOnly);
  EXPECT_EQ(f.Size(), 10u);
  EXPECT_EQ(f.FaceName()[0], 0);
  ASSERT_EQ(f.AttachToScreen(&s), 1);
  ASSERT_TRUE(s.BeginDraw());
  White();
  glColor3d(0, 0, 0);
  EXPECT_EQ(f.DrawChar(20, 5, L'x'), 5);
  std::vector<uint8_t> px = ReadBack(s.m_clientWidth, s.m_clientHeight);
  s.EndDraw(0);
  Ink k = FindInk(px, s.m_clientWidth, s.m_clientHeight, 0, 0, int(s.m_clientWidth) - 1,
                  int(s.m_clientHeight) - 1);
  EXPECT_EQ(k.count, 5 * 10);
  EXPECT_EQ(k.x0, 20);
  EXPECT_EQ(k.y0, 5);
  f.DetachFromScreen();
}

class TextDialog : public CFgUIDialog {
 public:
  explicit TextDialog(const wchar_t* text) {
    label.SetRect(0, 0, 200, 30);
    label.SetText(text);
    AddChild(&label);
  }
  CFgUILabel label;
};

TEST(FontX11Test, PagesAreSharedWithASecondWindow) {
  REQUIRE_DISPLAY();
  // Cyrillic: a page no other test of this program draws.
  const wchar_t* text = L"\x0416\x0436";
  TextDialog a(text);
  ASSERT_TRUE(a.Create(30, 30, 200, 30, L"first", 0, nullptr));
  ASSERT_NE(a.m_font, nullptr);
  uint64_t page = 0x416 / 128;
  ASSERT_NE(a.m_font->Page(page)->m_store, nullptr);  // rendered by the first redraw
  uint64_t before = CFgFont::RenderedPageCount();
  TextDialog b(text);
  ASSERT_TRUE(b.Create(260, 30, 200, 30, L"second", 0, nullptr));
  EXPECT_EQ(CFgFont::RenderedPageCount(), before);  // copied, not rendered again
  CFgTexture* pa = a.m_font->Page(page);
  CFgTexture* pb = b.m_font->Page(page);
  ASSERT_NE(pb->m_store, nullptr);
  EXPECT_EQ(pb->m_useCurrentColor, 1);
  EXPECT_EQ(pb->m_screen, static_cast<CFgScreen*>(&b));
  EXPECT_EQ(memcmp(pa->m_store, pb->m_store, size_t(pa->m_storeSize)), 0);
  ASSERT_NE(FgDefaultFont(), nullptr);
  EXPECT_NE(FgDefaultFont()->Page(page)->m_store, nullptr);
}

}  // namespace
