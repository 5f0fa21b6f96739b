// lut_x11_test.cpp - the pseudo-colour and mask windows on a real X server, in both
// languages: "Preset" > "Thermal graph1" chosen from the menu bar by mouse (the frame takes
// its colours), the "manual" page with the grips dragged to 64..191 and "SET", a click on the
// strip undoing it, a swatch and the red bar on "palette"; the mask window's boxes and its
// "image load"; screenshots.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/imgbuff.h"
#include "filters/colour_pixel/lut.h"
#include "filters/colour_pixel/mask.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"
#include "tests/temp_folder.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/menu.h"

namespace {

using toolkittest::PumpUntil;

// Opens "Preset" (item 2) of the popup and chooses the first item of its submenu, by mouse.
struct MenuRun {
  int stage = 0;
  uint64_t presetItems = 0;
};
MenuRun* g_run = nullptr;

void ClickMenu(CFgUIMenu* m, int x, int y) {
  PlatMsg move;
  move.kind = PlatMsgMouseMove;
  move.window = m->GetWindow();
  move.x = x;
  move.y = y;
  PlatPostMessage(move);
  PlatTestSendInput(m->GetWindow(), 0, 1, x, y);
  PlatTestSendInput(m->GetWindow(), 1, 1, x, y);
}

void Drive(CFgUIMenuCtrl* root) {
  MenuRun* r = g_run;
  CFgUIMenu* top = root->m_top;
  if (!r || root->m_done || !top || !top->m_visible) return;
  CFgUIMenu* sub = top->m_count > 2 ? top->m_items[2].submenu : nullptr;
  if (r->stage == 0) {
    r->stage = 1;
    ClickMenu(top, 5, 2 + 2 * top->m_pitch + 3);
  } else if (r->stage == 1 && sub && root->m_active == sub && sub->m_visible) {
    r->stage = 2;
    r->presetItems = sub->m_count;
    ClickMenu(sub, 5, 2 + 3);
  }
}

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

bool SameTables(const LutTables& a, const LutTables& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class LutX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(LutX11, PresetRangeUndoAndPalette) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  const std::string tag = ja ? "jp" : "en";
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff ramp;
  ASSERT_EQ(1, ramp.Allocate(256, 16, ImgFormatGray8));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 256; ++x) ramp.SetGray8(x, y, uint8_t(x));
  host.SetStill(ramp);
  auto* f = new filtertest::ShotFilter<CLfLut>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_EQ(1, host.Reprocess(0));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(360u, f->m_clientWidth);
  EXPECT_EQ(264u, f->m_clientHeight);
  const int32_t m = f->MenuHeight();
  ASSERT_EQ(22, m) << "the toolkit's 14-pixel font";
  EXPECT_EQ(136, f->m_tab.m_y);
  EXPECT_EQ(120, f->m_tab.m_height);  // y 136 to 255
  EXPECT_STREQ(ja ? L"\x521D\x671F\x5316" : L"RESET", f->m_resetTablesButton.m_text);
  EXPECT_STREQ(ja ? L"\x8272\x3092\x8FFD\x52A0" : L"ADD", f->m_addButton.m_text);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save("lut_" + tag + ".png");

  // "LUT" > "Preset" > first item, by mouse.
  MenuRun run;
  g_run = &run;
  FgSetPopupMenuHook(Drive);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, 12, 8));
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, 12, 8));
  LutTables thermal{};
  ASSERT_EQ(1, LutPreset(101, &thermal));
  EXPECT_TRUE(PumpUntil([&] { return SameTables(thermal, f->GetTables()); }, 5000));
  FgSetPopupMenuHook(nullptr);
  g_run = nullptr;
  EXPECT_EQ(ja ? 5u : 4u, run.presetItems) << "the spectrum only in Japanese";
  host.WaitIdle();
  ASSERT_EQ(ImgFormatRgb24, host.m_display.Format());
  for (int x : {0, 1, 85, 128, 255}) {
    uint8_t c[3];
    host.m_display.GetRGB8(x, 8, &c[0], &c[1], &c[2]);
    EXPECT_EQ((Rgb{thermal.t[0][x], thermal.t[1][x], thermal.t[2][x]}), (Rgb{c[0], c[1], c[2]}))
        << x;
  }
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save("lut_" + tag + "_thermal.png");
  // The strip shows the tables: column 200 of the strip in the window.
  const uint8_t* s = &f->pixels[size_t(((m + 20) * 360 + 8 + 200) * 3)];
  EXPECT_NEAR(thermal.t[0][200], s[0], 2);
  EXPECT_NEAR(thermal.t[1][200], s[1], 2);
  EXPECT_NEAR(thermal.t[2][200], s[2], 2);

  // "manual": the grips dragged to 64 and 191, then "SET" with the current colour (black,
  // lightness kept: a gray ramp over the range).
  const TabPage& manual = f->m_tab.m_pages[1];
  filtertest::SendButton(f, 1, f->m_tab.m_x + (manual.x0 + manual.x1) / 2,
                         f->m_tab.m_y + (manual.y0 + manual.y1) / 2);
  ASSERT_TRUE(PumpUntil([&] { return f->CurrentPage() == 1; }, 3000));
  const int32_t ry = f->m_range.m_y + 12;
  FgRangeGeometry g = f->m_range.Geometry();
  ASSERT_EQ(1, g.valid);
  int32_t px = int32_t(g.lowPos - 4);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, px, ry));
  ASSERT_TRUE(PumpUntil([&] { return f->m_range.m_dragMode == 1; }, 3000));
  f->OnMouseMove(px + 62, ry);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, px + 62, ry));
  ASSERT_TRUE(PumpUntil([&] { return f->m_range.m_dragMode == 0; }, 3000));
  g = f->m_range.Geometry();
  px = int32_t(g.highPos + 4);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, px, ry));
  ASSERT_TRUE(PumpUntil([&] { return f->m_range.m_dragMode == 3; }, 3000));
  f->OnMouseMove(px - 62, ry);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, px - 62, ry));
  ASSERT_TRUE(PumpUntil([&] { return f->m_range.m_dragMode == 0; }, 3000));
  EXPECT_EQ(64, f->m_range.m_low);
  EXPECT_EQ(191, f->m_range.m_high);
  EXPECT_STREQ(L"64", f->m_lowLabel.m_text);
  EXPECT_STREQ(L"191", f->m_highLabel.m_text);
  EXPECT_TRUE(SameTables(thermal, f->GetTables())) << "the bar alone changes no table";
  filtertest::ClickControl(f, f->m_setButton);
  LutTables filled = thermal;
  LutRangeFill(&filled, 64, 191, 0, 0, 0, 1);
  ASSERT_TRUE(PumpUntil([&] { return SameTables(filled, f->GetTables()); }, 5000));
  host.WaitIdle();
  uint8_t c[3];
  host.m_display.GetRGB8(100, 3, &c[0], &c[1], &c[2]);
  EXPECT_EQ((Rgb{filled.t[0][100], filled.t[1][100], filled.t[2][100]}), (Rgb{c[0], c[1], c[2]}));
  f->Save("lut_" + tag + "_set.png");

  // The strip: x 264 is beside it, x 8 on it (undo).
  filtertest::SendButton(f, 1, 264, m + 20);
  EXPECT_TRUE(SameTables(filled, f->GetTables()));
  filtertest::SendButton(f, 1, 8, m + 20);
  ASSERT_TRUE(PumpUntil([&] { return SameTables(thermal, f->GetTables()); }, 5000));
  host.WaitIdle();
  host.m_display.GetRGB8(100, 3, &c[0], &c[1], &c[2]);
  EXPECT_EQ((Rgb{thermal.t[0][100], thermal.t[1][100], thermal.t[2][100]}),
            (Rgb{c[0], c[1], c[2]}));

  // A click on the image while "manual" shows: the worker samples the 5 x 5 square of the
  // source ramp and moves the range bar of the open window.
  f->OnLButtonDown(int64_t(100), int64_t(8), uint8_t(0));
  ASSERT_TRUE(PumpUntil([&] { return f->m_range.m_low == 98; }, 5000));
  EXPECT_EQ(102, f->m_range.m_high);
  EXPECT_STREQ(L"98", f->m_lowLabel.m_text);
  EXPECT_STREQ(L"102", f->m_highLabel.m_text);
  f->Save("lut_" + tag + "_pick.png");

  // "palette": swatch 2 (red) pressed, then the red bar dragged left: only that swatch.
  const TabPage& palette = f->m_tab.m_pages[0];
  filtertest::SendButton(f, 1, f->m_tab.m_x + (palette.x0 + palette.x1) / 2,
                         f->m_tab.m_y + (palette.y0 + palette.y1) / 2);
  ASSERT_TRUE(PumpUntil([&] { return f->CurrentPage() == 0; }, 3000));
  filtertest::SendButton(f, 1, 9 + 64 + 10, m + 41 + 10);
  ASSERT_TRUE(PumpUntil([&] { return f->m_paletteIndex == 2; }, 3000));
  EXPECT_EQ(255, f->m_colourBar[0].m_position);
  FgScrollGeometry sg = f->m_colourBar[0].Geometry();
  ASSERT_EQ(1, sg.valid);
  const int32_t tx = int32_t(sg.thumbStart + sg.thumbLength / 2), ty = f->m_colourBar[0].m_y + 12;
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 0, 1, tx, ty));
  ASSERT_TRUE(PumpUntil([&] { return f->m_colourBar[0].m_dragging != 0; }, 3000));
  f->OnMouseMove(tx - 120, ty);
  ASSERT_EQ(1, PlatTestSendInput(f->GetWindow(), 1, 1, tx - 120, ty));
  ASSERT_TRUE(PumpUntil([&] { return f->m_colourBar[0].m_dragging == 0; }, 3000));
  const int red = f->m_palette[2][0];
  EXPECT_LT(red, 200);
  EXPECT_EQ(red, f->m_colourBar[0].m_position);
  EXPECT_EQ(std::to_wstring(red), std::wstring(f->m_colourLabel[0].m_text));
  EXPECT_EQ(255, f->m_palette[3][1]);
  EXPECT_EQ(0, f->m_palette[3][0]) << "swatch 3 unchanged";
  EXPECT_TRUE(SameTables(thermal, f->GetTables()));
  f->Save("lut_" + tag + "_palette.png");
  // The swatch on the screen: its centre has the new red; swatch 3 stays green.
  const uint8_t* sw = &f->pixels[size_t(((m + 41 + 15) * 360 + 9 + 64 + 15) * 3)];
  EXPECT_NEAR(red, sw[0], 2);
  const uint8_t* green = &f->pixels[size_t(((m + 41 + 15) * 360 + 9 + 96 + 15) * 3)];
  EXPECT_EQ((Rgb{0, 255, 0}), (Rgb{green[0], green[1], green[2]}));
}

INSTANTIATE_TEST_SUITE_P(Languages, LutX11, ::testing::Values(L"en", L"jp"));

class MaskX11 : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(MaskX11, BoxesAndImageLoad) {
  REQUIRE_DISPLAY();
  const wchar_t* language = GetParam();
  const int ja = IsJapanese(language);
  qvtest::TempFolder dir("mask_x11");
  ASSERT_TRUE(dir.ok());
  std::string pgm = "P5\n32 24\n255\n" + std::string(32 * 24, char(40));
  qvtest::WriteWholeFile(dir.File("m.pgm"), pgm);
  ASSERT_EQ(0, std::system(("/usr/bin/convert " + dir.File("m.pgm") + " " + dir.File("m.png"))
                               .c_str()));
  CTestHost host;
  host.SetLanguage(language);
  CImgBuff frame;
  ASSERT_EQ(1, frame.Allocate(32, 24, ImgFormatGray8));
  std::memset(frame.Pixels(), 100, 32 * 24);
  host.SetStill(frame);
  auto* f = new filtertest::ShotFilter<CLfMask>;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_EQ(1, host.Reprocess(0));
  ASSERT_NE(nullptr, f->m_window);
  EXPECT_EQ(ja ? 150u : 170u, f->m_clientWidth);
  EXPECT_EQ(110u, f->m_clientHeight);
  EXPECT_EQ(0, f->m_previewBox.m_enabled);
  ASSERT_TRUE(PumpUntil([&] { return !f->pixels.empty(); }, 3000));
  f->Save(std::string("mask_") + (ja ? "jp" : "en") + ".png");
  // "mask out of range" off: without a mask the frame keeps its values.
  filtertest::ClickControl(f, f->m_outOfRangeBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetDefaultMask() == 0; }, 3000));
  host.WaitIdle();
  EXPECT_EQ(0, static_cast<const uint8_t*>(host.m_display.Pixels())[0]) << "preview of nothing";
  CScriptedDialogs dialogs;
  dialogs.m_paths.push_back(dir.WideFile("m.png"));
  filtertest::ClickControl(f, f->m_loadButton);
  ASSERT_TRUE(PumpUntil([&] { return f->GetMask() != nullptr; }, 5000));
  ASSERT_EQ(1u, dialogs.m_asked.size());
  EXPECT_EQ(ja ? L"\x30DE\x30B9\x30AF\x753B\x50CF\x3092\x9078\x629E" : L"select mask image",
            dialogs.m_asked[0].title);
  EXPECT_EQ(1, f->m_previewBox.m_enabled);
  host.WaitIdle();
  EXPECT_EQ(40, static_cast<const uint8_t*>(host.m_display.Pixels())[5]) << "the mask shown";
  filtertest::ClickControl(f, f->m_previewBox);
  ASSERT_TRUE(PumpUntil([&] { return f->GetPreview() == 0; }, 3000));
  host.WaitIdle();
  EXPECT_EQ(60, static_cast<const uint8_t*>(host.m_display.Pixels())[5]);
  f->Save(std::string("mask_") + (ja ? "jp" : "en") + "_loaded.png");
}

INSTANTIATE_TEST_SUITE_P(Languages, MaskX11, ::testing::Values(L"en", L"jp"));

}  // namespace
