// progress_test.cpp - progress box layout, the bar's filled part, the abort button and the
// refused close box, without a display (the window layer's headless mode).
#include "toolkit/progress.h"

#include <gtest/gtest.h>

#include "toolkit/font.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

TEST(ProgressTest, LayoutForTheFontSizeAndText) {
  (void)g_headless;
  CFgUIProgressBox box;
  ASSERT_TRUE(box.m_font == nullptr || box.m_font->Size() == 14u);
  struct Case {
    const wchar_t* text;
    int w, h;
    int barW, textX;
  } cases[] = {
      {nullptr, 244, 94, 228, 10},
      {L"", 244, 94, 228, 10},
      {L"check mp4 frames", 244, 94, 228, 10},                 // 112 pixels: below 16 s
      {L"0123456789012345678901234567890123456789", 300, 94, 284, 10},  // 280 pixels
      {L"全角の文字だけで書いた長い説明の行です。", 300, 94, 284, 10},
  };
  for (const Case& c : cases) {
    int32_t w = 0, h = 0;
    box.Layout(c.text, &w, &h);
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(box.m_bar.m_x, 8);
    EXPECT_EQ(box.m_bar.m_y, 30);
    EXPECT_EQ(box.m_bar.m_width, c.barW);
    EXPECT_EQ(box.m_bar.m_height, 18);
    EXPECT_EQ(box.m_textX, c.textX);
    EXPECT_EQ(box.m_textY, 8);
    EXPECT_EQ(box.m_textWidth, c.w - 20);
    EXPECT_EQ(box.m_button.m_x, (c.w - 58) / 2);
    EXPECT_EQ(box.m_button.m_y, 56);
    EXPECT_EQ(box.m_button.m_width, 58);
    EXPECT_EQ(box.m_button.m_height, 30);
    EXPECT_EQ(box.m_button.m_visible, 1);
  }
  EXPECT_STREQ(box.m_button.m_text, L"中断");
}

TEST(ProgressTest, FilledPart) {
  CFgUIProgressBar bar;
  bar.SetRect(8, 30, 228, 18);  // x1 = 235
  struct Case {
    const char* name;
    uint64_t maximum;
    int32_t current;
    int64_t edge;
  } cases[] = {
      {"no maximum shows full", 0, 0, 235},
      {"zero leaves one dark column", 100, 0, 10},
      {"half", 100, 50, 10 + 113},
      {"done leaves no white", 100, 100, 236},
      {"negative current held at 0", 100, -5, 10},
      {"current beyond maximum held", 100, 1000, 236},
      {"largest current", 0x7fffffff, 0x7fffffff, 236},
      {"huge maximum", UINT64_MAX, 0x7fffffff, 10},
  };
  for (const Case& c : cases) {
    bar.m_maximum = c.maximum;
    bar.m_current = c.current;
    EXPECT_EQ(bar.UnfilledStart(), c.edge) << c.name;
  }
}

TEST(ProgressTest, AbortButtonAndCloseBox) {
  CFgUIProgressBox box;
  ASSERT_EQ(box.Open(10, 0, L"progress", L"working", nullptr), 1);
  EXPECT_EQ(box.m_closeAllowed, 0);
  EXPECT_EQ(box.m_bar.m_maximum, 10u);
  EXPECT_STREQ(box.m_bar.m_text, L"working");
  EXPECT_EQ(box.m_abort, 0);

  PlatMsg close;
  close.kind = PlatMsgClose;
  close.window = box.GetWindow();
  PlatPostMessage(close);
  FgPumpMessages();
  EXPECT_NE(box.GetWindow(), nullptr);  // still open

  box.m_bar.m_current = 4;
  box.Redraw();
  int32_t bx = box.m_button.m_x + 5, by = box.m_button.m_y + 5;
  box.OnLButtonDown(bx, by);
  EXPECT_EQ(box.m_abort, 0);
  box.OnLButtonUp(bx, by);
  EXPECT_EQ(box.m_abort, 1);

  // Opening again clears the flag.
  box.Destroy();
  ASSERT_EQ(box.Open(5, 0, L"again", nullptr, nullptr), 1);
  EXPECT_EQ(box.m_abort, 0);
  EXPECT_EQ(box.m_bar.m_current, 0);
  box.Destroy();
}

}  // namespace
