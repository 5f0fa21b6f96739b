// widgets_x11_test.cpp - a dialog with a label, two buttons, a check box and a radio group
// in Japanese and English, drawn on a real X server: a PNG screenshot goes to the test
// output folder; pixel checks cover the button bevels, the label's text offset, the icons
// and that text ink stays inside its character cells.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/button.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/label.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using namespace toolkittest;

// ---- the dialog ----
class WidgetDialog : public CFgUIDialog {
 public:
  WidgetDialog() {
    label.SetRect(10, 10, 100, 20);
    label.SetText(L"ABCD");
    title.SetRect(10, 34, 300, 20);
    title.SetText(L"\x8A2D\x5B9A Settings \xFF71\x00A5");  // 設定 Settings ｱ¥
    ok.SetRect(10, 64, 80, 24);
    ok.SetText(L"OK");
    cancel.SetRect(100, 64, 100, 24);
    cancel.SetText(L"\x30AD\x30E3\x30F3\x30BB\x30EB");  // キャンセル
    check.SetRect(10, 100, 200, 20);
    check.SetText(L"\x4FDD\x5B58 save");
    check.m_checked = 1;
    const wchar_t* names[3] = {L"\x8D64 red", L"\x7DD1 green", L"\x9752 blue"};
    for (int i = 0; i < 3; ++i) {
      radio[i].SetRect(10, 126 + 22 * i, 200, 20);
      radio[i].SetText(names[i]);
    }
    AddChild(&label);
    AddChild(&title);
    AddChild(&ok);
    AddChild(&cancel);
    AddChild(&check);
    for (auto& r : radio) AddChild(&r);
    CFgUIChkButton::AddToGroup(&radio[0], &radio[1]);
    CFgUIChkButton::AddToGroup(&radio[0], &radio[2]);
    CFgUIChkButton::SetGroupSelection(&radio[0], 1, 0);
  }
  // Read the back buffer before the swap: the picture just drawn.
  void DrawOverlay() override {
    uint64_t w = m_clientWidth, h = m_clientHeight;
    std::vector<uint8_t> up(size_t(w * h * 3));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, GLsizei(w), GLsizei(h), GL_RGB, GL_UNSIGNED_BYTE, up.data());
    pixels.assign(up.size(), 0);
    for (uint64_t y = 0; y < h; ++y)  // top row first
      std::copy(up.begin() + long((h - 1 - y) * w * 3), up.begin() + long((h - y) * w * 3),
                pixels.begin() + long(y * w * 3));
  }
  const uint8_t* At(int x, int y) const {
    return &pixels[(size_t(y) * m_clientWidth + size_t(x)) * 3];
  }
  int IsDark(int x, int y) const { return At(x, y)[0] < 128; }

  CFgUILabel label, title;
  CFgUIButton ok, cancel;
  CFgUIChkButton check;
  CFgUIChkButton radio[3];
  std::vector<uint8_t> pixels;
};

void ExpectGrey(const WidgetDialog& d, int x, int y, int v, const char* what) {
  const uint8_t* p = d.At(x, y);
  EXPECT_NEAR(p[0], v, 1) << what << " at " << x << "," << y;
  EXPECT_NEAR(p[1], v, 1) << what << " at " << x << "," << y;
  EXPECT_NEAR(p[2], v, 1) << what << " at " << x << "," << y;
}

// Every dark pixel of a text widget lies inside the cells of its characters, and every
// cell of a visible character holds some ink.
void ExpectTextInCells(const WidgetDialog& d, int x, int y, int w, int h, int tx, int ty,
                       const wchar_t* text, const char* what) {
  std::vector<int> starts;
  int pos = tx;
  for (const wchar_t* p = text; *p; ++p) {
    starts.push_back(pos);
    pos += int(FgCharAdvance(uint32_t(*p), 14));
  }
  for (int yy = y; yy < y + h; ++yy)
    for (int xx = x; xx < x + w; ++xx) {
      if (!d.IsDark(xx, yy)) continue;
      EXPECT_TRUE(xx >= tx && xx < pos && yy >= ty && yy < ty + 14)
          << what << ": ink outside the text at " << xx << "," << yy;
    }
  size_t i = 0;
  for (const wchar_t* p = text; *p; ++p, ++i) {
    if (*p == L' ') continue;
    int adv = int(FgCharAdvance(uint32_t(*p), 14)), ink = 0;
    for (int yy = ty; yy < ty + 14; ++yy)
      for (int xx = starts[i]; xx < starts[i] + adv; ++xx) ink += d.IsDark(xx, yy);
    EXPECT_GT(ink, 0) << what << ": no ink in the cell of character " << i;
  }
}

TEST(WidgetsX11Test, DialogScreenshotAndPixelChecks) {
  REQUIRE_DISPLAY();
  WidgetDialog d;
  d.SetFocus(&d.ok);
  d.cancel.m_pressed = 1;
  ASSERT_TRUE(d.Create(40, 40, 320, 200, L"widgets", 0, nullptr));
  d.Redraw();
  ASSERT_EQ(d.pixels.size(), size_t(d.m_clientWidth * d.m_clientHeight * 3));
  std::string path = std::string(QV_TEST_OUT_DIR) + "/widgets_dialog.png";
  EXPECT_TRUE(WritePng(path, d.pixels, int(d.m_clientWidth), int(d.m_clientHeight))) << path;

  // Background.
  ExpectGrey(d, 300, 190, 229, "background");
  // Raised, focused button "OK" at 10, 64, 80 x 24: grey frame, white top and left edge,
  // black bottom and right edge, focused face, white gloss in the top-left corner.
  ExpectGrey(d, 10, 64, 127, "frame");
  ExpectGrey(d, 89, 87, 127, "frame");
  ExpectGrey(d, 11, 80, 255, "white left edge");
  ExpectGrey(d, 50, 65, 255, "white top edge");
  ExpectGrey(d, 88, 80, 0, "black right edge");
  ExpectGrey(d, 50, 86, 0, "black bottom edge");
  const uint8_t* face = d.At(80, 68);
  EXPECT_NEAR(face[0], 204, 1);  // 0.8, 0.95, 0.95
  EXPECT_NEAR(face[1], 242, 1);
  ExpectGrey(d, 13, 67, 255, "gloss");
  // Pressed button "キャンセル" at 100, 64: flat, the grey frame only, unfocused face.
  ExpectGrey(d, 101, 80, 127, "pressed frame");
  ExpectGrey(d, 198, 80, 127, "pressed: grey where the dark edge would be");
  ExpectGrey(d, 150, 86, 127, "pressed: grey where the dark edge would be");
  ExpectGrey(d, 196, 80, 229, "pressed face");

  // Label of width 100 with "ABCD": text from x + 36, y centred: (10 + 30 - 14) / 2 = 13.
  ExpectTextInCells(d, 10, 10, 100, 20, 46, 13, L"ABCD", "label");
  ExpectTextInCells(d, 10, 34, 300, 20, (10 + 310 - int(FgTextWidth(d.title.m_text, 14))) / 2,
                    37, d.title.m_text, "Japanese label");
  ExpectTextInCells(d, 12, 66, 76, 20, (10 + 90 - 14) / 2, 69, L"OK", "button");
  ExpectTextInCells(d, 103, 66, 94, 20, (100 + 200 - 70) / 2, 69, d.cancel.m_text,
                    "Japanese button");
  // Check box at 10, 100: icon 16 x 16 at (10, 102) - checked, unfocused; text at x + 24.
  ExpectGrey(d, 11, 110, 0, "box frame");
  ExpectGrey(d, 21, 113, 255, "box fill");
  ExpectTextInCells(d, 26, 100, 180, 20, 34, 103, d.check.m_text, "check box");
  // Radio member 1 selected: a disc in its circle; member 0 empty.
  ExpectGrey(d, 18, 128 + 22 + 8, 0, "selected disc");
  ExpectGrey(d, 18, 128 + 8, 255, "empty circle");
  ExpectGrey(d, 10, 128, 229, "transparent icon corner");
  ExpectTextInCells(d, 26, 126 + 22, 180, 20, 34, 129 + 22, d.radio[1].m_text, "radio");
  d.Destroy();
}

TEST(WidgetsX11Test, BevelPrimitive) {
  REQUIRE_DISPLAY();
  class Plain : public CFgScreen {} s;
  ASSERT_TRUE(s.Create(40, 40, 120, 60, L"bevel", 0, nullptr));
  ASSERT_TRUE(s.BeginDraw());
  FgDrawBevel(&s, 10, 10, 29, 19, 0.2, 0.4, 0.6, 1.0, 0.0);
  FgFillFramedRect(&s, 40, 10, 49, 19, 1, 0, 0, 0, 0, 1);
  std::vector<uint8_t> up(size_t(s.m_clientWidth * s.m_clientHeight * 3));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, GLsizei(s.m_clientWidth), GLsizei(s.m_clientHeight), GL_RGB,
               GL_UNSIGNED_BYTE, up.data());
  s.EndDraw(0);
  auto at = [&](int x, int y) {
    return &up[size_t(((s.m_clientHeight - 1 - uint64_t(y)) * s.m_clientWidth + uint64_t(x)) * 3)];
  };
  struct Case {
    int x, y, r, g, b;
  } cases[] = {{10, 10, 255, 255, 255}, {10, 15, 255, 255, 255}, {20, 10, 255, 255, 255},
               {29, 15, 0, 0, 0},       {20, 19, 0, 0, 0},       {29, 10, 127, 127, 127},
               {10, 19, 127, 127, 127}, {20, 15, 51, 102, 153},  {9, 15, 0, 0, 0},
               {40, 10, 0, 0, 255},     {45, 15, 255, 0, 0},     {49, 19, 0, 0, 255}};
  for (const Case& c : cases) {
    EXPECT_NEAR(at(c.x, c.y)[0], c.r, 1) << c.x << "," << c.y;
    EXPECT_NEAR(at(c.x, c.y)[1], c.g, 1) << c.x << "," << c.y;
    EXPECT_NEAR(at(c.x, c.y)[2], c.b, 1) << c.x << "," << c.y;
  }
}

}  // namespace
