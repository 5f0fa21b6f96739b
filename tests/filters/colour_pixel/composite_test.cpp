// composite_test.cpp - the Composite window without a display: composing by each colour
// model, sizes and result formats, the channel rows' rules, delete, save, and L*a*b* against
// scikit-image.
#include "filters/colour_pixel/composite.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/imgio/imgio.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"

namespace {

void Grey8(CImgBuff& p, int32_t w, int32_t h, uint8_t v) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatGray8));
  std::memset(p.Pixels(), v, size_t(w) * size_t(h));
}

void Grey16(CImgBuff& p, int32_t w, int32_t h, uint16_t v) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatGray16));
  for (int i = 0; i < w * h; ++i) static_cast<uint16_t*>(p.Pixels())[i] = v;
}

TEST(Composite, ModelsSizesAndFormats) {
  CImgBuff a, b, c, k, result;
  Grey8(a, 4, 3, 10);
  Grey8(b, 4, 3, 200);
  Grey8(c, 4, 3, 77);
  CImgBuff* ch[4] = {&a, &b, &c, &k};
  ASSERT_EQ(1, CompositeChannels(ch, 0, &result));
  ASSERT_EQ(ImgFormatRgb24, result.Format());
  uint8_t r, g, bl;
  result.GetRGB8(2, 2, &r, &g, &bl);
  EXPECT_EQ(10, r);
  EXPECT_EQ(200, g);
  EXPECT_EQ(77, bl);

  // A 16-bit grey in channel 2 alone: green only, 16 bits.
  CImgBuff e1, e3, g16;
  Grey16(g16, 5, 5, 40000);
  CImgBuff* only[4] = {&e1, &g16, &e3, nullptr};
  ASSERT_EQ(1, CompositeChannels(only, 0, &result));
  ASSERT_EQ(ImgFormatRgb48, result.Format());
  uint16_t R, G, B;
  result.GetRGB16(1, 1, &R, &G, &B);
  EXPECT_EQ(0, R);
  EXPECT_EQ(40000, G);
  EXPECT_EQ(0, B);

  // 100 x 50 and 80 x 60 give 100 x 60; outside a channel's picture it reads 0.
  CImgBuff wide, tall;
  Grey8(wide, 100, 50, 50);
  Grey8(tall, 80, 60, 90);
  CImgBuff* mixed[4] = {&wide, &tall, &e3, nullptr};
  ASSERT_EQ(1, CompositeChannels(mixed, 0, &result));
  EXPECT_EQ(100, result.Width());
  EXPECT_EQ(60, result.Height());
  result.GetRGB8(90, 55, &r, &g, &bl);
  EXPECT_EQ(0, r | g | bl);
  result.GetRGB8(90, 10, &r, &g, &bl);
  EXPECT_EQ(50, r);
  EXPECT_EQ(0, g);

  // The largest bytes per pixel decides: 8-bit RGB (3) beside 16-bit grey (2) gives 8 bits.
  CImgBuff rgb;
  ASSERT_EQ(1, rgb.Allocate(2, 2, ImgFormatRgb24));
  CImgBuff* bytes[4] = {&rgb, &g16, &e3, nullptr};
  ASSERT_EQ(1, CompositeChannels(bytes, 0, &result));
  EXPECT_EQ(ImgFormatRgb24, result.Format());
  CImgBuff g32, rgb48;
  ASSERT_EQ(1, g32.Allocate(2, 2, ImgFormatGray32));
  ASSERT_EQ(1, rgb48.Allocate(2, 2, ImgFormatRgb48));
  CImgBuff* bytes2[4] = {&g32, &rgb48, &e3, nullptr};
  ASSERT_EQ(1, CompositeChannels(bytes2, 0, &result));
  EXPECT_EQ(ImgFormatRgb48, result.Format());
  CImgBuff* none[4] = {&e1, &e3, &e1, nullptr};
  EXPECT_EQ(0, CompositeChannels(none, 0, &result));
  EXPECT_EQ(ImgFormatNone, result.Format());
}

TEST(Composite, CmykAndLab) {
  CImgBuff zero, full, half, result;
  Grey8(zero, 2, 2, 0);
  Grey8(full, 2, 2, 255);
  Grey8(half, 2, 2, 128);
  uint8_t r, g, b;
  struct Case {
    CImgBuff *c, *m, *y, *k;
    uint8_t r, g, b;
  } cases[] = {{&zero, &zero, &zero, &full, 0, 0, 0},
               {&full, &zero, &zero, &zero, 0, 255, 255},
               {&half, &zero, &zero, &half, 0, 127, 127},  // C + K above the maximum: R 0
               {&zero, &zero, &zero, &zero, 255, 255, 255}};
  for (const Case& c : cases) {
    CImgBuff* ch[4] = {c.c, c.m, c.y, c.k};
    ASSERT_EQ(1, CompositeChannels(ch, 3, &result));
    result.GetRGB8(0, 0, &r, &g, &b);
    EXPECT_EQ(c.r, r);
    EXPECT_EQ(c.g, g);
    EXPECT_EQ(c.b, b);
  }
  // CMY: the complement.
  CImgBuff* cmy[4] = {&full, &zero, &half, nullptr};
  ASSERT_EQ(1, CompositeChannels(cmy, 2, &result));
  result.GetRGB8(0, 0, &r, &g, &b);
  EXPECT_EQ(0, r);
  EXPECT_EQ(255, g);
  EXPECT_EQ(127, b);

  // L*a*b* at half: L* 50 and a*, b* near -0.5.
  CImgBuff h16;
  Grey16(h16, 2, 2, 32768);
  CImgBuff* lab[4] = {&h16, &h16, &h16, nullptr};
  ASSERT_EQ(1, CompositeChannels(lab, 5, &result));
  double L, A, B;
  result.GetLab(0, 0, &L, &A, &B);
  EXPECT_NEAR(50, L, 0.2);
  EXPECT_NEAR(-0.5, A, 0.6);
  EXPECT_NEAR(-0.5, B, 0.6);
}

// Random L*a*b* channels composed into R,G,B agree with scikit-image's lab2rgb within a level.
TEST(Composite, LabAgreesWithScikitImage) {
  qvtest::TempFolder dir("composite_lab");
  ASSERT_TRUE(dir.ok());
  const int w = 32, h = 16;
  CImgBuff L, A, B, result;
  Grey8(L, w, h, 0);
  Grey8(A, w, h, 0);
  Grey8(B, w, h, 0);
  for (int i = 0; i < w * h; ++i) {
    static_cast<uint8_t*>(L.Pixels())[i] = uint8_t(40 + (i * 7) % 180);
    static_cast<uint8_t*>(A.Pixels())[i] = uint8_t(100 + (i * 13) % 56);
    static_cast<uint8_t*>(B.Pixels())[i] = uint8_t(100 + (i * 5) % 56);
  }
  CImgBuff* ch[4] = {&L, &A, &B, nullptr};
  ASSERT_EQ(1, CompositeChannels(ch, 5, &result));
  std::string raw;
  for (CImgBuff* p : {&L, &A, &B}) raw.append(static_cast<const char*>(p->Pixels()), w * h);
  qvtest::WriteWholeFile(dir.File("lab.raw"), raw);
  std::string script =
      "import numpy as np, skimage.color as c\n"
      "v = np.fromfile('" + dir.File("lab.raw") + "', np.uint8).astype(np.float64).reshape(3, -1)\n"
      "M = 4294967295.0\n"
      "g = v * 16843009.0\n"
      "lab = np.stack([100 * g[0] / M, 255 * g[1] / M - 128, 255 * g[2] / M - 128], -1)\n"
      "rgb = np.clip(c.lab2rgb(lab.reshape(1, -1, 3)), 0, 1) * 255\n"
      "np.round(rgb).astype(np.uint8).tofile('" + dir.File("rgb.raw") + "')\n";
  qvtest::WriteWholeFile(dir.File("lab.py"), script);
  ASSERT_EQ(0, std::system(("/usr/bin/python3 '" + dir.File("lab.py") + "'").c_str()));
  std::string want = qvtest::ReadWholeFile(dir.File("rgb.raw"));
  ASSERT_EQ(size_t(w * h * 3), want.size());
  int worst = 0;
  for (int i = 0; i < w * h * 3; ++i)
    worst = std::max(worst, std::abs(int(uint8_t(want[size_t(i)])) -
                                     int(static_cast<uint8_t*>(result.Pixels())[i])));
  EXPECT_LE(worst, 1);
}

TEST(Composite, RowsDeleteModeAndSave) {
  qvtest::TempFolder dir("composite_rows");
  ASSERT_TRUE(dir.ok());
  CImgBuff grey;
  Grey8(grey, 6, 4, 120);
  ASSERT_EQ(1, SaveImageFile(&grey, dir.WideFile("g.png").c_str(), nullptr, nullptr));
  CCompositeDialog d;
  d.SetLanguage(L"en");
  EXPECT_EQ(0, d.m_path[3].m_enabled);
  EXPECT_EQ(0, d.m_save.m_enabled);
  EXPECT_STREQ(L"SEL", d.m_select[0].m_text);
  d.SetLanguage(L"jp");
  EXPECT_STREQ(L"\x9078\x629E", d.m_select[0].m_text);
  d.SetLanguage(L"en");
  // A typed path loads; DEL does not clear a typed channel.
  d.m_path[0].SetLine(0, dir.WideFile("g.png").c_str());
  d.m_path[0].OnFocusLost(&d.m_path[0], d.m_path[0].CallbackArg);
  ASSERT_EQ(6, d.m_result.Width());
  EXPECT_EQ(1, d.m_save.m_enabled);
  d.m_delete[0].m_callback(&d.m_delete[0], d.m_delete[0].m_user);
  EXPECT_EQ(6, d.m_result.Width());
  // SEL: a cancelled chooser changes nothing; a chosen file sets the flag, then DEL clears.
  {
    CScriptedDialogs dialogs;
    d.m_select[1].m_callback(&d.m_select[1], d.m_select[1].m_user);
    EXPECT_EQ(ImgFormatNone, d.m_channels[1].Format());
    dialogs.m_paths.push_back(dir.WideFile("g.png"));
    d.m_select[1].m_callback(&d.m_select[1], d.m_select[1].m_user);
    EXPECT_EQ(L"select file", dialogs.m_asked.back().title);
  }
  EXPECT_EQ(-1, d.m_chosen[1]);
  EXPECT_EQ(dir.WideFile("g.png"), std::wstring(d.m_path[1].GetText()));
  d.m_delete[1].m_callback(&d.m_delete[1], d.m_delete[1].m_user);
  EXPECT_EQ(ImgFormatNone, d.m_channels[1].Format());
  EXPECT_EQ(std::wstring(), std::wstring(d.m_path[1].GetText() ? d.m_path[1].GetText() : L""));
  // CMYK enables row 4; leaving it keeps channel 4's picture.
  ASSERT_EQ(1, d.LoadChannel(3, dir.WideFile("g.png").c_str()));
  CFgUIChkButton::SetGroupSelection(&d.m_mode[0], 3, 0);
  d.m_mode[3].m_callback(&d.m_mode[3], d.m_mode[3].m_user);
  EXPECT_EQ(1, d.m_path[3].m_enabled);
  CFgUIChkButton::SetGroupSelection(&d.m_mode[0], 0, 0);
  d.m_mode[0].m_callback(&d.m_mode[0], d.m_mode[0].m_user);
  EXPECT_EQ(0, d.m_path[3].m_enabled);
  EXPECT_EQ(6, d.m_channels[3].Width());
  // A broken typed path empties the channel after one message.
  {
    CScriptedDialogs dialogs;
    d.m_path[0].SetLine(0, dir.WideFile("missing.png").c_str());
    d.m_path[0].OnFocusLost(&d.m_path[0], d.m_path[0].CallbackArg);
    EXPECT_EQ(1u, dialogs.m_shown.size());
    EXPECT_EQ(ImgFormatNone, d.m_channels[0].Format());
    EXPECT_EQ(ImgFormatNone, d.m_result.Format());
    EXPECT_EQ(0, d.m_save.m_enabled);
    d.m_save.m_callback(&d.m_save, d.m_save.m_user);
    ASSERT_EQ(2u, dialogs.m_shown.size());
    EXPECT_EQ(L"there is no image", dialogs.m_shown[1].text);
  }
  // SAVE writes a PNG ImageMagick reads back.
  ASSERT_EQ(1, d.LoadChannel(2, dir.WideFile("g.png").c_str()));
  d.Compose();
  {
    CScriptedDialogs dialogs;
    dialogs.m_paths.push_back(dir.WideFile("out.png"));
    dialogs.m_answers.push_back(1);
    d.m_save.m_callback(&d.m_save, d.m_save.m_user);
  }
  std::string cmd = "/usr/bin/convert '" + dir.File("out.png") + "' -depth 8 rgb:'" +
                    dir.File("out.rgb") + "'";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::string raw = qvtest::ReadWholeFile(dir.File("out.rgb"));
  ASSERT_EQ(size_t(6 * 4 * 3), raw.size());
  EXPECT_EQ(0, uint8_t(raw[0]));
  EXPECT_EQ(0, uint8_t(raw[1]));
  EXPECT_EQ(120, uint8_t(raw[2]));
}

}  // namespace
