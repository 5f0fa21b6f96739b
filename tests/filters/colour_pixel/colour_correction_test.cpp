// colour_correction_test.cpp - the colour correction on the test host: when frames change,
// picks on the image, the patch window's clicks and keys, the pack, and picks racing edits.
#include "filters/colour_pixel/colour_correction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "app/cfgfile.h"
#include "engine/colorxform.h"
#include "engine/whitebalance.h"
#include "tests/app/testhost.h"
#include "toolkit/screen.h"

namespace {

void Fill(CImgBuff& p, int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatRgb24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.SetRGB8(x, y, r, g, b);
}

std::wstring Saved(CLfColorCorrection* cc) {
  CCfgPack pack;
  pack.SetName(L"color_correction");
  cc->SaveParams(&pack);
  std::wstring s;
  for (CCfgItem* it = pack.firstItem; it; it = it->next)
    if (std::wcscmp(it->key, L"if_enable") && std::wcscmp(it->key, L"if_visible"))
      s += std::wstring(it->key) + L" " + it->value + L"\n";
  return s;
}

const wchar_t kDefaults[] =
    L"STD_R 0.686275 ,0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333\n"
    L"STD_G 0.211765 ,0.780392 ,0.580392 ,0.521569 ,0.239216 ,0.337255\n"
    L"STD_B 0.235294 ,0.121569 ,0.286275 ,0.631373 ,0.588235 ,0.584314\n"
    L"IMG_R 0.686275 ,0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333\n"
    L"IMG_G 0.211765 ,0.780392 ,0.580392 ,0.521569 ,0.239216 ,0.337255\n"
    L"IMG_B 0.235294 ,0.121569 ,0.286275 ,0.631373 ,0.588235 ,0.584314\n"
    L"CORRECT_S 0\n";

// The frame corrected by a transform built from the given patches directly.
void Reference(CLfColorCorrection* cc, CImgBuff& frame) {
  double ir[6], ig[6], ib[6], sr[6], sg[6], sb[6];
  for (int i = 0; i < 6; ++i) {
    ColorPatch p = cc->Patch(i);
    ir[i] = p.imgR, ig[i] = p.imgG, ib[i] = p.imgB, sr[i] = p.stdR, sg[i] = p.stdG, sb[i] = p.stdB;
  }
  ColorXform* xf = BuildColorCorrection(ir, ig, ib, sr, sg, sb, int32_t(cc->CorrectS()), 0);
  ASSERT_NE(nullptr, xf);
  ColorXformApply(xf, &frame);
  ColorXformDestroy(xf);
}

TEST(ColorCorrection, NameDefaultsAndPack) {
  CLfColorCorrection cc;
  cc.m_language = L"en";
  EXPECT_STREQ(L"Color correction", cc.GetName(L"en"));
  EXPECT_STREQ(L"\x8272\x88DC\x6B63", cc.GetName(L"jp"));
  EXPECT_STREQ(L"color_correction", cc.GetKey());
  EXPECT_EQ(-1, cc.Selected());
  EXPECT_EQ(0, cc.HasTransform());
  EXPECT_EQ(kDefaults, Saved(&cc));
  uint8_t rgb[3];
  ASSERT_EQ(1, cc.PatchTextureColour(4, 1, rgb));
  EXPECT_EQ(56, rgb[0]);
  EXPECT_EQ(61, rgb[1]);
  EXPECT_EQ(150, rgb[2]);
  // The defaults come back as they went, with a transform now.
  CCfgPack pack;
  cc.SaveParams(&pack);
  CLfColorCorrection other;
  other.LoadParams(&pack);
  EXPECT_EQ(kDefaults, Saved(&other));
  EXPECT_EQ(1, other.HasTransform());
}

TEST(ColorCorrection, LoadTakesAValidSetWholeAndRefusesBadOnes) {
  CLfColorCorrection cc;
  // A set whose patches, taken one by one from the defaults, would pass through refused
  // references: every measured colour moves to the next patch's standard hue.
  CCfgPack good;
  good.AddItem(L"IMG_R", L"0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333 ,0.686275");
  good.AddItem(L"IMG_G", L"0.780392 ,0.580392 ,0.521569 ,0.239216 ,0.337255 ,0.211765");
  good.AddItem(L"IMG_B", L"0.121569 ,0.286275 ,0.631373 ,0.588235 ,0.584314 ,0.235294");
  good.AddItem(L"CORRECT_S", L"yes");
  ASSERT_TRUE(cc.SetMeasuredColor(0, 0.9, 0.2, 0.1));
  cc.LoadParams(&good);
  EXPECT_EQ(0.905882, cc.Patch(0).imgR);
  EXPECT_EQ(0.235294, cc.Patch(5).imgB);
  EXPECT_EQ(175 / 255.0, cc.Patch(0).stdR) << "missing keys take the defaults";
  EXPECT_EQ(1u, cc.CorrectS());
  uint8_t rgb[3];
  cc.PatchTextureColour(0, 1, rgb);
  EXPECT_EQ(231, rgb[0]);

  const std::wstring before = Saved(&cc);
  const wchar_t* bad[][2] = {
      {L"STD_R", L"0.5 ,x ,0.2 ,0.1 ,0.2 ,0.7"},   {L"STD_R", L"0.5 ,1.5 ,0.2 ,0.1 ,0.2 ,0.7"},
      {L"STD_G", L"nan ,0.5 ,0.5 ,0.5 ,0.5 ,0.5"}, {L"STD_B", L"-0.1"},
      {L"IMG_R", L"inf"},
      // A grey measured colour: the correction cannot use it.
      {L"IMG_G", L"0.686275"},
  };
  for (auto& b : bad) {
    CCfgPack p;
    p.AddItem(b[0], b[1]);
    if (!std::wcscmp(b[0], L"IMG_G")) {
      p.AddItem(L"IMG_R", L"0.686275");
      p.AddItem(L"IMG_B", L"0.686275");
    }
    p.AddItem(L"CORRECT_S", L"0");
    cc.LoadParams(&p);
    EXPECT_EQ(before, Saved(&cc)) << b[0] << " " << b[1];
  }
}

TEST(ColorCorrection, FramesUnchangedUntilSetAndGreyPasses) {
  CTestHost host;
  CImgBuff frame;
  Fill(frame, 20, 20, 200, 50, 40);
  host.SetStill(frame);
  auto* cc = new CLfColorCorrection;
  ASSERT_EQ(1, host.AddFilter(cc, nullptr));
  host.Reprocess(0);
  EXPECT_EQ(0, std::memcmp(host.m_display.Pixels(), frame.Pixels(), 20 * 20 * 3));
  ASSERT_EQ(1, cc->SetMeasuredColor(0, 0.9, 0.2, 0.3));
  CImgBuff grey;
  ASSERT_EQ(1, grey.Allocate(8, 8, ImgFormatGray8));
  std::memset(grey.Pixels(), 77, 64);
  host.SetStill(grey);
  host.Reprocess(0);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(77, static_cast<uint8_t*>(host.m_display.Pixels())[i]);
  // Measuring a grey is refused.
  ColorPatch p2 = cc->Patch(2);
  EXPECT_EQ(0, cc->SetMeasuredColor(2, 0.5, 0.5, 0.5));
  EXPECT_EQ(0, cc->SetMeasuredColor(2, 0.5, 1.5, 0.5));
  EXPECT_EQ(0, cc->SetStandardColor(7, 0.5, 0.2, 0.5));
  EXPECT_EQ(p2.imgG, cc->Patch(2).imgG);
}

TEST(ColorCorrection, PickCorrectsInTheSameRunAndWaitsForAPatch) {
  CTestHost host;
  CImgBuff frame;
  Fill(frame, 30, 20, 0, 120, 200);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 10; ++x) frame.SetRGB8(x, y, 255, 0, 0);
  host.SetStill(frame);
  auto* cc = new CLfColorCorrection;
  ASSERT_EQ(1, host.AddFilter(cc, nullptr));
  // No patch selected: the pick waits.
  cc->OnLButtonDown(int64_t(4), int64_t(10), uint8_t(0));
  host.Reprocess(0);
  EXPECT_EQ(1, cc->PickPending());
  EXPECT_EQ(0, cc->HasTransform());
  cc->Select(0);
  host.Reprocess(0);
  EXPECT_EQ(0, cc->PickPending());
  ColorPatch p = cc->Patch(0);
  EXPECT_EQ(1.0, p.imgR);
  EXPECT_EQ(0.0, p.imgG);
  EXPECT_EQ(0.0, p.imgB);
  CImgBuff expect;
  expect.CopyFrom(frame);
  Reference(cc, expect);
  EXPECT_EQ(0, std::memcmp(expect.Pixels(), host.m_display.Pixels(), 30 * 20 * 3));
  EXPECT_NE(0, std::memcmp(frame.Pixels(), host.m_display.Pixels(), 30 * 20 * 3));
  uint8_t rgb[3];
  cc->PatchTextureColour(0, 1, rgb);
  EXPECT_EQ(255, rgb[0]);
  // A pick at the frame's corner averages the pixels inside only.
  cc->OnLButtonDown(int64_t(29), int64_t(19), uint8_t(0));
  host.Reprocess(0);
  EXPECT_NEAR(120 / 255.0, cc->Patch(0).imgG, 1e-12);
}

TEST(ColorCorrection, WindowClicksKeysAndSpace) {
  CLfColorCorrection cc;
  // Upper half selects only.
  cc.OnLButtonDown(int32_t(112 + 10), int32_t(8 + 10));
  EXPECT_EQ(2, cc.Selected());
  ASSERT_EQ(1, cc.SetMeasuredColor(2, 0.2, 0.7, 0.2));
  // Lower half: measured back to standard.
  cc.OnLButtonDown(int32_t(112 + 10), int32_t(8 + 60));
  EXPECT_EQ(cc.Patch(2).stdG, cc.Patch(2).imgG);
  ASSERT_EQ(1, cc.SetMeasuredColor(2, 0.2, 0.7, 0.2));
  cc.OnChar(L'a');
  EXPECT_EQ(0.7, cc.Patch(2).imgG);
  cc.OnChar(L' ');
  EXPECT_EQ(cc.Patch(2).stdG, cc.Patch(2).imgG);
  // Outside every patch: nothing selected anew.
  cc.OnLButtonDown(int32_t(4), int32_t(4));
  EXPECT_EQ(2, cc.Selected());

  struct Case {
    int32_t from;
    uint16_t keys;
    int32_t to;
  } cases[] = {{-1, FgKeyLeft, 0}, {3, FgKeyUp, 0},   {3, FgKeyLeft, 1},
               {3, FgKeyRight, 5}, {3, FgKeyDown, 0}, {3, FgKeyUp | FgKeyDown, 3},
               {0, FgKeyUp | FgKeyRight, 5}, {3, 0, 3}};
  for (const Case& c : cases) {
    cc.Select(c.from);
    cc.SetKeyFlags(c.keys);
    cc.OnKeyStateChanged();
    EXPECT_EQ(c.to, cc.Selected()) << c.from << " " << c.keys;
  }
  cc.SetKeyFlags(0);
}

TEST(ColorCorrection, ResetAndRectangle) {
  CLfColorCorrection cc;
  ASSERT_EQ(1, cc.SetMeasuredColor(1, 0.9, 0.6, 0.1));
  CImgBuff frame;
  Fill(frame, 16, 16, 230, 150, 40);
  CImgBuff before;
  before.CopyFrom(frame);
  cc.Process(&frame, 0, 4, 4, 8, 8, 0, 0);
  uint8_t r, g, b, r0, g0, b0;
  frame.GetRGB8(0, 0, &r, &g, &b);
  before.GetRGB8(0, 0, &r0, &g0, &b0);
  EXPECT_TRUE(r == r0 && g == g0 && b == b0) << "outside the rectangle";
  frame.GetRGB8(5, 5, &r, &g, &b);
  EXPECT_FALSE(r == r0 && g == g0 && b == b0) << "inside the rectangle";
  cc.ResetMeasuredColors();
  EXPECT_EQ(0, cc.HasTransform());
  EXPECT_EQ(cc.Patch(1).stdR, cc.Patch(1).imgR);
}

TEST(ColorCorrection, PicksOnTheWorkerRaceEditsOnTheUiThread) {
  CTestHost host;
  CImgBuff frame;
  Fill(frame, 64, 48, 200, 40, 50);
  for (int y = 0; y < 48; ++y)
    for (int x = 32; x < 64; ++x) frame.SetRGB8(x, y, 40, 60, 200);
  host.SetStill(frame);
  auto* cc = new CLfColorCorrection;
  ASSERT_EQ(1, host.AddFilter(cc, nullptr));
  for (int i = 0; i < 80; ++i) {
    cc->Select(i % 2 ? 0 : 4);
    cc->OnLButtonDown(int64_t(i % 2 ? 10 : 50), int64_t(20), uint8_t(0));
    host.Reprocess(1);
    cc->SetMeasuredColor(2, 0.2 + 0.001 * i, 0.6, 0.25);
    cc->OnChar(L' ');
    if (i % 10 == 0) {
      CCfgPack pack;
      cc->SaveParams(&pack);
      cc->LoadParams(&pack);
    }
    if (i % 17 == 0) cc->ResetMeasuredColors();
  }
  host.Reprocess(0);
  SUCCEED();
}

}  // namespace
