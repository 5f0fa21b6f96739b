// lut_test.cpp - the pseudo-colour filter: entries of the presets and colour lists, the
// frames on the test host (row kernels against the accessor path, against OpenCV), the
// table edits and the undo, the pick, the pack, LUT files, and the two locks under load.
#include "filters/colour_pixel/lut.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/cfgfile.h"
#include "core/colour.h"
#include "core/imgbuff.h"
#include "filters/colour_pixel/mask.h"
#include "filters/colour_pixel/swatch.h"
#include "media/imgio/imgio.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"
#include "toolkit/filesel.h"
#include "toolkit/path.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

using apptest::MakePicture;
using apptest::SamePixels;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb Entry(const LutTables& t, int i) { return {t.t[0][i], t.t[1][i], t.t[2][i]}; }

bool Same(const LutTables& a, const LutTables& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

LutTables PresetTables(int command) {
  LutTables t{};
  EXPECT_EQ(1, LutPreset(command, &t));
  return t;
}

void LoadPack(CLfLut* f, std::initializer_list<std::pair<const wchar_t*, std::wstring>> items) {
  CCfgPack pack;
  pack.SetName(L"pseudo-color");
  for (auto& kv : items) pack.AddItem(kv.first, kv.second.c_str());
  f->LoadParams(&pack);
}

std::wstring Identity() {
  std::wstring s;
  for (int i = 0; i < 256; ++i) s += (i ? L"," : L"") + std::to_wstring(i);
  return s;
}

// ---- entries -------------------------------------------------------------------------
TEST(LutEntries, PresetsAsTheTablesWereAlwaysMade) {
  struct Case {
    int command, index;
    Rgb expected;
  } cases[] = {
      {101, 0, {0, 0, 0}},       {101, 1, {0, 0, 6}},         {101, 85, {0, 255, 255}},
      {101, 128, {2, 255, 0}},   {101, 170, {255, 255, 0}},   {101, 255, {255, 255, 255}},
      {102, 0, {0, 0, 255}},     {102, 255, {255, 0, 0}},     {103, 0, {0, 0, 0}},
      {103, 31, {0, 0, 0}},      {103, 32, {36, 36, 36}},     {103, 63, {36, 36, 36}},
      {103, 64, {73, 73, 73}},   {103, 223, {219, 219, 219}}, {103, 224, {255, 255, 255}},
      {103, 255, {255, 255, 255}}, {104, 63, {0, 0, 0}},      {104, 64, {85, 85, 85}},
      {104, 127, {85, 85, 85}},  {104, 128, {170, 170, 170}}, {104, 255, {255, 255, 255}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, Entry(PresetTables(c.command), c.index))
        << c.command << " entry " << c.index;
  EXPECT_TRUE(LutIsGray(PresetTables(103)));
  EXPECT_TRUE(LutIsGray(PresetTables(104)));
  EXPECT_FALSE(LutIsGray(PresetTables(101)));
  LutTables untouched{};
  std::memset(&untouched, 7, sizeof untouched);
  EXPECT_EQ(0, LutPreset(106, &untouched));
  EXPECT_EQ(0, LutPreset(100, &untouched));
  EXPECT_EQ(7, untouched.t[2][255]);
}

TEST(LutEntries, SpectrumSkips700Nanometres) {
  LutTables t = PresetTables(105);
  auto at = [](double nm) {
    double X, Y, Z, r, g, b;
    WavelengthToXyz(nm, &X, &Y, &Z);
    XyzToSrgb(X, Y, Z, &r, &g, &b);
    return Rgb{SwatchByte(r), SwatchByte(g), SwatchByte(b)};
  };
  EXPECT_EQ(at(400), Entry(t, 0));
  EXPECT_EQ(at(699), Entry(t, 254));
  EXPECT_EQ(at(701), Entry(t, 255));
  EXPECT_EQ(at(550), Entry(t, 127));  // 400 + floor(301 x 127 / 255)
}

TEST(LutEntries, ColourLists) {
  const uint8_t black[2] = {0, 255}, white[2] = {0, 255};
  uint8_t r = 9, g = 9, b = 9;
  EXPECT_EQ(0, LutInterpolate(5, &r, &g, &b, black, black, black, 0, 1));
  EXPECT_EQ(9, r);
  const uint8_t one[1] = {77};
  for (int i : {0, 128, 255}) {
    ASSERT_EQ(1, LutInterpolate(i, &r, &g, &b, one, one, one, 1, 1));
    EXPECT_EQ(77, r);
  }
  // Two bands without interpolation: k = trunc(i / 127.5).
  for (int i = 0; i < 256; ++i) {
    LutInterpolate(i, &r, &g, &b, black, white, white, 2, 0);
    ASSERT_EQ(i < 128 ? 0 : 255, r) << i;
  }
  // A gradation: trunc of the weighted sum, in the order the tables were always made.
  for (int i = 0; i < 256; ++i) {
    LutInterpolate(i, &r, &g, &b, black, white, white, 2, 1);
    double pos = i / 255.0 * 1;
    ASSERT_EQ(pos >= 1 ? 255 : int(std::trunc(255 * (pos - 0) + 0 * (1 - pos))), r) << i;
  }
}

TEST(LutEntries, RangeFill) {
  LutTables t = PresetTables(104);
  LutTables before = t;
  LutRangeFill(&t, 200, 100, 1, 2, 3, 0);  // low above high: nothing
  EXPECT_EQ(0, std::memcmp(&t, &before, sizeof t));
  LutRangeFill(&t, 10, 20, 255, 0, 0, 0);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ((i >= 10 && i <= 20 ? Rgb{255, 0, 0} : Entry(before, i)), Entry(t, i)) << i;
  // Lightness-keeping: rising lightness with the red hue on the way.
  LutRangeFill(&t, 0, 255, 255, 0, 0, 1);
  EXPECT_EQ(0, t.t[1][0]);
  EXPECT_EQ(255, t.t[0][255]);
  for (int i = 1; i < 256; ++i)
    ASSERT_GE(t.t[0][i] * 299 + t.t[1][i] * 587 + t.t[2][i] * 114 + 2,
              t.t[0][i - 1] * 299 + t.t[1][i - 1] * 587 + t.t[2][i - 1] * 114)
        << i;
  EXPECT_GT(t.t[0][128], t.t[1][128]);
}

// The lightness-keeping fill beside scikit-image's lab2rgb, where python has it.
TEST(LutEntries, RangeFillAgreesWithScikitImage) {
  if (std::system("/usr/bin/python3 -c 'import skimage' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 without scikit-image";
  qvtest::TempFolder dir("lut_lab");
  ASSERT_TRUE(dir.ok());
  const Rgb colours[] = {{255, 0, 0}, {30, 140, 200}, {250, 240, 20}, {128, 128, 128}};
  std::string script =
      "import numpy as np, sys\n"
      "from skimage.color import rgb2lab, lab2rgb\n"
      "from skimage.color.colorconv import rgb_from_xyz\n"
      "out = []\n"
      "for r, g, b in [" ;
  for (const Rgb& c : colours)
    script += "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "),";
  script +=
      "]:\n"
      "  lab = rgb2lab(np.array([[[r / 255.0, g / 255.0, b / 255.0]]]))[0, 0]\n"
      "  k = np.arange(256)\n"
      "  labs = np.stack([k / 255.0 * 100, np.full(256, lab[1]), np.full(256, lab[2])], -1)\n"
      "  rgb = np.clip(lab2rgb(labs[None])[0], 0, 1)\n"
      "  fy = (labs[:, 0] + 16) / 116\n"
      "  f = np.stack([fy + labs[:, 1] / 500, fy, fy - labs[:, 2] / 200], -1)\n"
      "  xyz = np.where(f > 6 / 29, f ** 3, 3 * (6 / 29) ** 2 * (f - 4 / 29)) * [0.95047, 1, 1.08883]\n"
      "  lin = xyz @ rgb_from_xyz.T\n"
      "  inside = np.all((xyz >= 0) & (lin >= 0) & (lin <= 1), -1)\n"
      "  v = np.floor(rgb * 4294967295.0) // 16777216\n"
      "  out.append(np.where(inside[:, None], v, -1))\n"
      "np.savetxt(sys.argv[1], np.concatenate(out).astype(int), fmt='%d')\n";
  qvtest::WriteWholeFile(dir.File("lab.py"), script);
  ASSERT_EQ(0, std::system(("/usr/bin/python3 " + dir.File("lab.py") + " " + dir.File("out.txt") +
                            " 2>/dev/null").c_str()));
  std::string text = qvtest::ReadWholeFile(dir.File("out.txt"));
  std::vector<int> v;
  for (const char* p = text.c_str(); *p;) {
    char* end;
    long n = std::strtol(p, &end, 10);
    if (end == p) break;
    v.push_back(int(n));
    p = end;
  }
  ASSERT_EQ(size_t(4 * 256 * 3), v.size());
  // Colours outside the sRGB gamut are clipped differently (scikit-image clips XYZ first);
  // the comparison covers the entries inside it, which are most of them.
  int worst = 0, compared = 0;
  for (int c = 0; c < 4; ++c) {
    LutTables t{};
    LutRangeFill(&t, 0, 255, uint8_t(colours[c].r), uint8_t(colours[c].g), uint8_t(colours[c].b), 1);
    for (int k = 0; k < 256; ++k)
      for (int ch = 0; ch < 3; ++ch) {
        int want = v[(c * 256 + k) * 3 + ch];
        if (want < 0) continue;
        ++compared;
        worst = std::max(worst, std::abs(t.t[ch][k] - want));
      }
  }
  EXPECT_LE(worst, 1);
  EXPECT_GT(compared, 4 * 256 * 3 / 4);
}

// ---- frames --------------------------------------------------------------------------
// Every format, gray and colour tables, rectangles inside, across and at the borders: the
// row kernels give exactly the accessors' pixels.
TEST(LutFrames, RowKernelsEqualTheAccessorPath) {
  const LutTables tables[2] = {PresetTables(101), PresetTables(103)};
  const RoiRect rects[] = {{0, 0, 36, 22}, {3, 2, 20, 9}, {36, 0, 36, 22}, {0, 22, 36, 22}};
  for (int format = 1; format <= 9; ++format)
    for (int gray = 0; gray < 2; ++gray)
      for (const RoiRect& roi : rects) {
        CImgBuff fast, reference;
        MakePicture(fast, 37, 23, format, uint32_t(format * 7 + roi.x0));
        reference.CopyFrom(fast);
        ASSERT_EQ(1, LutMapRect(&fast, tables[gray], gray, roi));
        ASSERT_EQ(1, LutMapRectReference(&reference, tables[gray], gray, roi));
        ASSERT_TRUE(SamePixels(fast, reference))
            << "format " << format << " gray " << gray << " x0 " << roi.x0 << " y0 " << roi.y0;
      }
  CImgBuff picture;
  MakePicture(picture, 8, 8, ImgFormatGray8);
  EXPECT_EQ(0, LutMapRect(&picture, tables[0], 0, RoiRect{0, 0, 8, 7})) << "past the edge";
}

TEST(LutFrames, OnTheHost) {
  CTestHost host;
  CImgBuff ramp;
  ASSERT_EQ(1, ramp.Allocate(256, 2, ImgFormatGray8));
  for (int i = 0; i < 256; ++i) ramp.SetGray8(i, 0, uint8_t(i)), ramp.SetGray8(i, 1, uint8_t(i));
  host.SetStill(ramp);
  auto* lut = new CLfLut;
  ASSERT_EQ(1, host.AddFilter(lut, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_TRUE(SamePixels(ramp, host.m_display)) << "a new filter changes nothing";
  lut->OnMenuCommand(101);
  ASSERT_EQ(ImgFormatRgb24, host.m_display.Format());
  LutTables t = PresetTables(101);
  for (int i = 0; i < 256; ++i) {
    uint8_t r, g, b;
    host.m_display.GetRGB8(i, 1, &r, &g, &b);
    ASSERT_EQ(Entry(t, i), (Rgb{r, g, b})) << i;
  }
  // 16-bit gray: indexed by the high byte, written as 16-bit colour.
  CImgBuff deep;
  ASSERT_EQ(1, deep.Allocate(3, 1, ImgFormatGray16));
  deep.SetGray16(0, 0, 0x80FF);
  deep.SetGray16(1, 0, 0x0100);
  deep.SetGray16(2, 0, 0xFFFF);
  host.SetStill(deep);
  ASSERT_EQ(1, host.Reprocess(0));
  ASSERT_EQ(ImgFormatRgb48, host.m_display.Format());
  uint16_t r, g, b;
  host.m_display.GetRGB16(0, 0, &r, &g, &b);
  EXPECT_EQ((Rgb{2 * 257, 255 * 257, 0}), (Rgb{r, g, b}));
  host.m_display.GetRGB16(1, 0, &r, &g, &b);
  EXPECT_EQ((Rgb{0, 0, 6 * 257}), (Rgb{r, g, b}));
  // A gray table turns a colour picture gray in its own format.
  lut->OnMenuCommand(104);
  CImgBuff colour;
  ASSERT_EQ(1, colour.Allocate(2, 1, ImgFormatRgb24));
  colour.SetRGB8(0, 0, 200, 100, 0);   // luma 119 -> band 85
  colour.SetRGB8(1, 0, 255, 255, 255);
  host.SetStill(colour);
  ASSERT_EQ(1, host.Reprocess(0));
  ASSERT_EQ(ImgFormatRgb24, host.m_display.Format());
  uint8_t c[3];
  host.m_display.GetRGB8(0, 0, &c[0], &c[1], &c[2]);
  EXPECT_EQ((Rgb{85, 85, 85}), (Rgb{c[0], c[1], c[2]}));
  // A rectangle of 4294967295 x 4294967295 from a list is cut to the picture at once.
  lut->Process(&colour, 0, 1, 0, 4294967295LL, 4294967295LL, 8, 0);
  colour.GetRGB8(0, 0, &c[0], &c[1], &c[2]);
  EXPECT_EQ((Rgb{200, 100, 0}), (Rgb{c[0], c[1], c[2]}));
  colour.GetRGB8(1, 0, &c[0], &c[1], &c[2]);
  EXPECT_EQ((Rgb{255, 255, 255}), (Rgb{c[0], c[1], c[2]}));
  CImgBuff empty;
  lut->Process(&empty, 0, 0, 0, 10, 10, 8, 0);
  EXPECT_EQ(0, empty.Format());
}

#ifdef QV_HAVE_OPENCV
// 8-bit gray and 8-bit colour (indexed by the luma) beside OpenCV's table lookup.
TEST(LutFrames, EqualsOpenCvLut) {
  for (int command : {101, 102, 105, 103}) {
    LutTables t = PresetTables(command);
    const int gray = LutIsGray(t);
    CImgBuff g8, rgb;
    MakePicture(g8, 61, 17, ImgFormatGray8, uint32_t(command));
    MakePicture(rgb, 61, 17, ImgFormatRgb24, uint32_t(command));
    cv::Mat in(17, 61, CV_8UC1, g8.Pixels());
    cv::Mat index(17, 61, CV_8UC1);
    const uint8_t* p = static_cast<const uint8_t*>(rgb.Pixels());
    for (int i = 0; i < 61 * 17; ++i)
      index.data[i] = uint8_t((299 * p[3 * i] + 587 * p[3 * i + 1] + 114 * p[3 * i + 2] + 500) / 1000);
    cv::Mat lut1(1, 256, CV_8UC1, t.t[0]);
    cv::Mat lut3(1, 256, CV_8UC3);
    for (int i = 0; i < 256; ++i)
      for (int ch = 0; ch < 3; ++ch) lut3.data[i * 3 + ch] = t.t[ch][i];
    cv::Mat want1, want3, index3;
    cv::merge(std::vector<cv::Mat>{index, index, index}, index3);
    cv::LUT(gray ? in : index3, gray ? lut1 : lut3, want1);
    cv::LUT(index3, lut3, want3);
    const RoiRect whole{0, 0, 60, 16};
    ASSERT_EQ(1, LutMapRect(&g8, t, gray, whole));
    ASSERT_EQ(1, LutMapRect(&rgb, t, 0, whole));
    if (gray) {
      EXPECT_EQ(0, std::memcmp(g8.Pixels(), want1.data, 61 * 17)) << command;
    } else {
      EXPECT_EQ(ImgFormatRgb24, g8.Format());
    }
    EXPECT_EQ(0, std::memcmp(rgb.Pixels(), want3.data, 61 * 17 * 3)) << command;
  }
}
#endif

// ---- edits, undo, window state ----------------------------------------------------------
TEST(LutEdits, UndoAndStops) {
  CLfLut lut;
  lut.OnMenuCommand(101);
  LutTables thermal = lut.GetTables();
  lut.OnMenuCommand(103);
  lut.Undo();
  EXPECT_TRUE(Same(thermal, lut.GetTables()));
  lut.Undo();
  EXPECT_TRUE(Same(thermal, lut.GetTables())) << "twice = once";
  EXPECT_EQ(0u, lut.GetGrayFlag());
  // An empty stop list changes nothing but still takes the undo copy.
  lut.BuildFromPalette();
  EXPECT_TRUE(Same(thermal, lut.GetTables()));
  // One stop: the whole table; two: a gradation; reset empties the list.
  lut.SelectSwatch(2);  // red
  lut.AddStop();
  LutTables t = lut.GetTables();
  for (int i = 0; i < 256; ++i) ASSERT_EQ((Rgb{255, 0, 0}), Entry(t, i));
  lut.SelectSwatch(4);  // blue
  lut.AddStop();
  t = lut.GetTables();
  EXPECT_EQ((Rgb{255, 0, 0}), Entry(t, 0));
  EXPECT_EQ((Rgb{0, 0, 255}), Entry(t, 255));
  EXPECT_EQ((Rgb{127, 0, 128}), Entry(t, 128));
  lut.m_interpolateBox.m_checked = 0;
  lut.m_interpolateBox.m_callback(&lut.m_interpolateBox, lut.m_interpolateBox.m_user);
  t = lut.GetTables();
  EXPECT_EQ((Rgb{255, 0, 0}), Entry(t, 127));
  EXPECT_EQ((Rgb{0, 0, 255}), Entry(t, 128));
  for (int i = 2; i < 256; ++i) lut.AddStop();
  EXPECT_EQ(256u, lut.GetStopCount());
  LutTables full = lut.GetTables();
  lut.AddStop();  // the 257th
  EXPECT_EQ(256u, lut.GetStopCount());
  EXPECT_TRUE(Same(full, lut.GetTables()));
  lut.ResetTables();
  EXPECT_EQ(0u, lut.GetStopCount());
  EXPECT_EQ(1u, lut.GetGrayFlag());
  uint8_t rgb[3];
  ASSERT_EQ(1, lut.StripColour(200, rgb));
  EXPECT_EQ((Rgb{200, 200, 200}), (Rgb{rgb[0], rgb[1], rgb[2]}));
}

TEST(LutEdits, SwatchesBarsAndSet) {
  CLfLut lut;
  lut.OnMenuCommand(104);
  LutTables before = lut.GetTables();
  lut.SelectSwatch(5);  // (0, 255, 255)
  EXPECT_EQ(255, lut.m_colourBar[1].m_position);
  EXPECT_STREQ(L"255", lut.m_colourLabel[2].m_text);
  EXPECT_STREQ(L"0", lut.m_colourLabel[0].m_text);
  EXPECT_TRUE(Same(before, lut.GetTables())) << "a swatch press";
  lut.m_colourBar[0].MoveTo(100);
  EXPECT_EQ(100, lut.m_palette[5][0]);
  EXPECT_STREQ(L"100", lut.m_colourLabel[0].m_text);
  uint8_t rgb[3];
  lut.SwatchColour(5, rgb);
  EXPECT_EQ((Rgb{100, 255, 255}), (Rgb{rgb[0], rgb[1], rgb[2]}));
  lut.SwatchColour(4, rgb);
  EXPECT_EQ((Rgb{0, 0, 255}), (Rgb{rgb[0], rgb[1], rgb[2]})) << "only the current swatch";
  EXPECT_TRUE(Same(before, lut.GetTables())) << "a colour bar";
  // "SET" over 64..191 without keeping the lightness.
  lut.m_range.m_low = 64;
  lut.m_range.m_high = 191;
  lut.m_preserveBox.m_checked = 0;
  lut.m_setButton.m_callback(&lut.m_setButton, lut.m_setButton.m_user);
  LutTables t = lut.GetTables();
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ((i >= 64 && i <= 191 ? Rgb{100, 255, 255} : Entry(before, i)), Entry(t, i)) << i;
  lut.ResetPalette();
  EXPECT_EQ(0, lut.m_palette[5][0]);
  EXPECT_STREQ(L"0", lut.m_colourLabel[0].m_text);
  EXPECT_EQ(5, lut.m_paletteIndex);
}

TEST(LutEdits, PickOnlyOnTheManualPageAndInsideThePicture) {
  CTestHost host;
  CImgBuff picture;
  ASSERT_EQ(1, picture.Allocate(10, 10, ImgFormatGray8));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) picture.SetGray8(x, y, uint8_t(100 + x + 10 * y));
  host.SetStill(picture);
  auto* lut = new CLfLut;
  ASSERT_EQ(1, host.AddFilter(lut, nullptr));
  EXPECT_EQ(2, lut->CurrentPage());
  lut->OnLButtonDown(int64_t(0), int64_t(0), uint8_t(0));
  host.Reprocess(0);
  EXPECT_EQ(0, lut->m_range.m_low);
  EXPECT_EQ(255, lut->m_range.m_high);
  lut->m_tab.SelectPage(0, 0);
  lut->OnLButtonDown(int64_t(5), int64_t(5), uint8_t(0));
  host.Reprocess(0);
  EXPECT_EQ(0, lut->m_range.m_low);
  lut->m_tab.SelectPage(1, 0);
  // At the corner only the 3 x 3 pixels inside count: 100..122.
  lut->OnLButtonDown(int64_t(0), int64_t(0), uint8_t(0));
  host.Reprocess(0);
  EXPECT_EQ(100, lut->m_range.m_low);
  EXPECT_EQ(122, lut->m_range.m_high);
  EXPECT_STREQ(L"100", lut->m_lowLabel.m_text);
  EXPECT_STREQ(L"122", lut->m_highLabel.m_text);
  lut->OnLButtonDown(int64_t(9), int64_t(9), uint8_t(0));
  host.Reprocess(0);
  EXPECT_EQ(177, lut->m_range.m_low);
  EXPECT_EQ(199, lut->m_range.m_high);
  // Wholly outside: nothing read, the bar stays.
  lut->OnLButtonDown(int64_t(-5), int64_t(40), uint8_t(0));
  host.Reprocess(0);
  EXPECT_EQ(177, lut->m_range.m_low);
}

// ---- pack ------------------------------------------------------------------------------
TEST(LutPack, DefaultsAndLists) {
  CLfLut lut;
  lut.m_filterEnabled = 1;
  CCfgPack pack;
  pack.SetName(L"pseudo-color");
  lut.SaveParams(&pack);
  std::vector<std::wstring> want = {
      L"if_enable 1", L"if_visible 0", L"LUT_R " + Identity(), L"LUT_G " + Identity(),
      L"LUT_B " + Identity(),
      L"PAL_R 0,255,255,0,0,0,255,255,85,107,36,73,109,146,182,219",
      L"PAL_G 0,255,0,255,0,255,0,255,85,107,36,73,109,146,182,219",
      L"PAL_B 0,255,0,0,255,255,255,0,85,107,36,73,109,146,182,219",
      L"PRESERVE_LUMINANCE 1", L"INTERPOLATE 1"};
  EXPECT_EQ(want, filtertest::PackLines(&pack));

  std::wstring many;
  for (int i = 0; i < 300; ++i) many += (i ? L"," : L"") + std::to_wstring(255 - i % 256);
  LoadPack(&lut, {{L"LUT_R", L"10,20,300,40"}, {L"LUT_G", L"5,-1,7"}, {L"LUT_B", many},
                  {L"PAL_R", L"1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"},
                  {L"PAL_G", L"abc,9"}, {L"PRESERVE_LUMINANCE", L"x"}, {L"INTERPOLATE", L"0"}});
  LutTables t = lut.GetTables();
  EXPECT_EQ((Rgb{10, 5, 255}), Entry(t, 0));
  EXPECT_EQ((Rgb{20, 1, 254}), Entry(t, 1));
  EXPECT_EQ((Rgb{2, 2, 253}), Entry(t, 2));
  EXPECT_EQ(3, t.t[0][3]) << "300 ends the list";
  EXPECT_EQ(0, t.t[2][255]);
  EXPECT_EQ(16, lut.m_palette[15][0]);
  EXPECT_EQ(0, lut.m_palette[0][1]);
  EXPECT_EQ(9, lut.m_palette[1][1]);
  EXPECT_EQ(1, lut.m_preserveBox.m_checked) << "anything but 0 is on";
  EXPECT_EQ(0, lut.m_interpolateBox.m_checked);
  EXPECT_EQ(0u, lut.GetGrayFlag());
  // The bars and their labels show the current colour after a load.
  EXPECT_EQ(1, lut.m_colourBar[0].m_position);
  EXPECT_STREQ(L"1", lut.m_colourLabel[0].m_text);
  EXPECT_STREQ(L"0", lut.m_colourLabel[1].m_text);
  // No undo copy: the undo goes back to the identity of the new filter.
  lut.Undo();
  EXPECT_EQ((Rgb{200, 200, 200}), Entry(lut.GetTables(), 200));
}

// ---- LUT files -------------------------------------------------------------------------
class LutFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    path = dir.WideFile("a.lut");
    lut.m_filterEnabled = 1;
    lut.m_dialogVisible = 1;
    lut.m_language = L"en";
  }
  void Run(int command, const std::wstring& chosen, std::initializer_list<int32_t> answers = {}) {
    dialogs.m_paths.push_back(chosen);
    for (int32_t a : answers) dialogs.m_answers.push_back(a);
    lut.OnMenuCommand(command);
  }
  std::wstring LastText() { return dialogs.m_shown.empty() ? L"" : dialogs.m_shown.back().text; }

  qvtest::TempFolder dir{"lut_files"};
  std::wstring path;
  CLfLut lut;
  CScriptedDialogs dialogs;
};

TEST_F(LutFiles, SaveWritesThePackAndOpenBringsItBack) {
  Run(2, path);
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"saved", dialogs.m_shown[0].text);
  EXPECT_EQ(L"confirmation", dialogs.m_shown[0].caption);
  EXPECT_EQ(L"select file name to save", dialogs.m_asked[0].title);
  EXPECT_EQ(L"lut", dialogs.m_asked[0].extensions);
  EXPECT_NE(std::wstring::npos, dialogs.m_asked[0].startPath.find(L"/temp.lut"));
  std::string id;
  for (int i = 0; i < 256; ++i) id += (i ? "," : "") + std::to_string(i);
  std::string want = "[pseudo-color] {\n lut_ver 1\n if_enable 1\n if_visible 1\n LUT_R " + id +
                     "\n LUT_G " + id + "\n LUT_B " + id +
                     "\n PAL_R 0,255,255,0,0,0,255,255,85,107,36,73,109,146,182,219"
                     "\n PAL_G 0,255,0,255,0,255,0,255,85,107,36,73,109,146,182,219"
                     "\n PAL_B 0,255,0,0,255,255,255,0,85,107,36,73,109,146,182,219"
                     "\n PRESERVE_LUMINANCE 1\n INTERPOLATE 1\n}\n";
  EXPECT_EQ(want, qvtest::ReadWholeFile(dir.File("a.lut")));

  lut.OnMenuCommand(101);
  lut.SetPaletteComponent(0, 77);
  lut.m_preserveBox.m_checked = 0;
  LutTables thermal = lut.GetTables();
  Run(2, path, {1});  // overwrite: yes
  EXPECT_EQ(L"Do you want to overwrite it?", dialogs.m_shown[1].text);
  EXPECT_EQ(0, dialogs.m_shown[1].kind);
  EXPECT_EQ(L"saved", LastText());
  lut.ResetTables();
  lut.ResetPalette();
  lut.m_preserveBox.m_checked = 1;
  Run(1, path);
  EXPECT_EQ(L"select file", dialogs.m_asked.back().title);
  EXPECT_TRUE(Same(thermal, lut.GetTables()));
  EXPECT_EQ(77, lut.m_palette[0][0]);
  EXPECT_EQ(0, lut.m_preserveBox.m_checked);
  EXPECT_EQ(3u, dialogs.m_shown.size()) << "a good open says nothing";
}

TEST_F(LutFiles, OpenRefusals) {
  lut.OnMenuCommand(102);
  const LutTables before = lut.GetTables();
  struct Case {
    const char* content;  // null: no file
    const wchar_t* message;
  } cases[] = {
      {"[pseudo-color] {\n lut_ver 2\n LUT_R 1,1,1\n if_enable 0\n}\n",
       L"It is a file created with a newer version and can not be read"},
      {"[pseudo-color] {\n LUT_R 1,1,1\n if_enable 0\n}\n", L"loading failed"},
      {"[other] {\n lut_ver 1\n LUT_R 1,1,1\n}\n", L"loading failed"},
      {"", L"loading failed"},
      {nullptr, L"loading failed"},
  };
  for (const Case& c : cases) {
    std::remove(dir.File("a.lut").c_str());
    if (c.content) qvtest::WriteWholeFile(dir.File("a.lut"), c.content);
    size_t shown = dialogs.m_shown.size();
    Run(1, path);
    ASSERT_EQ(shown + 1, dialogs.m_shown.size()) << (c.content ? c.content : "missing");
    EXPECT_EQ(c.message, LastText());
    EXPECT_EQ(L"error", dialogs.m_shown.back().caption);
    EXPECT_TRUE(Same(before, lut.GetTables()));
    EXPECT_EQ(1u, lut.m_filterEnabled);
  }
  lut.m_language = L"jp";
  qvtest::WriteWholeFile(dir.File("a.lut"), "[pseudo-color] {\n lut_ver 2\n}\n");
  Run(1, path);
  EXPECT_EQ(L"\x3088\x308A\x65B0\x3057\x3044\x30D0\x30FC\x30B8\x30E7\x30F3\x3067\x4F5C\x6210"
            L"\x3055\x308C\x305F\x30D5\x30A1\x30A4\x30EB\x306A\x306E\x3067\x8AAD\x3081\x307E"
            L"\x305B\x3093",
            LastText());
  EXPECT_EQ(L"\x30A8\x30E9\x30FC", dialogs.m_shown.back().caption);
  // Versions below 2, numbers or not, load.
  for (const char* v : {"-1", "abc"}) {
    qvtest::WriteWholeFile(dir.File("a.lut"),
                           std::string("[pseudo-color] {\n lut_ver ") + v + "\n LUT_G 9\n}\n");
    size_t shown = dialogs.m_shown.size();
    Run(1, path);
    EXPECT_EQ(shown, dialogs.m_shown.size()) << v;
    EXPECT_EQ(9, lut.GetTables().t[1][0]) << v;
    lut.OnMenuCommand(102);
  }
  // Cancel in the chooser: nothing at all.
  size_t shown = dialogs.m_shown.size();
  Run(1, L"");
  EXPECT_EQ(shown, dialogs.m_shown.size());
}

TEST_F(LutFiles, SaveRefusalsLeaveFilesAsTheyWere) {
  qvtest::WriteWholeFile(dir.File("a.lut"), "keep me");
  Run(2, path, {0});  // "Cancel" to the overwrite question
  EXPECT_EQ("keep me", qvtest::ReadWholeFile(dir.File("a.lut")));
  EXPECT_EQ(1u, dialogs.m_shown.size());
  // A folder that does not exist cannot take the file; nothing is left behind.
  Run(2, dir.WideFile("missing/b.lut"));
  EXPECT_EQ(L"saving failed", LastText());
  EXPECT_EQ(L"error", dialogs.m_shown.back().caption);
  lut.m_language = L"jp";
  Run(2, dir.WideFile("missing/b.lut"));
  EXPECT_EQ(L"\x30BB\x30FC\x30D6\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F", LastText());
  // A folder without write rights (not for a user who may write everywhere).
  ASSERT_EQ(0, mkdir(dir.File("ro").c_str(), 0555));
  if (access(dir.File("ro").c_str(), W_OK) == 0) return;
  size_t shown = dialogs.m_shown.size();
  Run(2, dir.WideFile("ro/b.lut"));
  ASSERT_EQ(shown + 1, dialogs.m_shown.size());
  EXPECT_EQ(L"\x30BB\x30FC\x30D6\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F", LastText());
}

std::wstring g_chosen;
std::wstring g_title;
// Remembers the folder it ended in, as the real chooser does.
int32_t MovingChooser(wchar_t* buffer, uint64_t, const FileSelectOptions* options, CFgScreen*) {
  FgRememberFolder(L"/");
  g_title = options && options->title ? options->title : L"";
  std::wcscpy(buffer, g_chosen.c_str());
  return 1;
}

TEST_F(LutFiles, JapaneseSavedAndTheChoosersFolderPutBack) {
  lut.m_language = L"jp";
  ASSERT_EQ(1, FgRememberFolder(L"/tmp"));
  g_chosen = path;
  FgSetSelectFileOverride(&MovingChooser);
  lut.OnMenuCommand(2);
  EXPECT_EQ(L"\x30BB\x30FC\x30D6\x3057\x307E\x3057\x305F", LastText());
  EXPECT_EQ(L"\x78BA\x8A8D", dialogs.m_shown.back().caption);
  EXPECT_EQ(L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E",
            g_title);
  EXPECT_STREQ(L"/tmp", LastFolder);
  lut.OnMenuCommand(1);
  EXPECT_EQ(L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E", g_title);
  EXPECT_STREQ(L"/tmp", LastFolder);
}

// ---- locks -----------------------------------------------------------------------------
// The UI thread edits, undoes, opens files, drags the range bar and loads masks a fixed
// number of times while the worker processes frames with picks pending; a watchdog fails
// instead of hanging.
TEST(LutLocks, EditsWhileFramesRun) {
  qvtest::TempFolder dir("lut_locks");
  ASSERT_TRUE(dir.ok());
  CTestHost host;
  CImgBuff picture;
  MakePicture(picture, 64, 48, ImgFormatGray8);
  host.SetStill(picture);
  // A mask before the pseudo-colour filter, loaded again and again on the way.
  auto* mask = new CLfMask;
  ASSERT_EQ(1, host.AddFilter(mask, nullptr));
  CImgBuff maskPicture;
  MakePicture(maskPicture, 40, 30, ImgFormatGray8, 5);
  ASSERT_EQ(1, SaveImageFile(&maskPicture, dir.WideFile("m.bmp").c_str(), nullptr, nullptr));
  auto* lut = new CLfLut;
  ASSERT_EQ(1, host.AddFilter(lut, nullptr));
  lut->m_tab.SelectPage(1, 0);
  {
    CScriptedDialogs dialogs;
    dialogs.m_paths.push_back(dir.WideFile("x.lut"));
    lut->OnMenuCommand(2);
  }
  std::atomic<bool> done{false};
  std::atomic<uint64_t> frames{0};
  std::thread watchdog([&] {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done.load() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!done.load()) {
      ADD_FAILURE() << "the locks wait on each other";
      std::_Exit(1);
    }
  });
  host.m_onProcessedHook = [&] { frames.fetch_add(1); };
  {
    CScriptedDialogs dialogs;
    for (int i = 0; i < 60; ++i) {
      host.Reprocess(1);
      lut->OnLButtonDown(int64_t(i % 64), int64_t(5), uint8_t(0));  // a pick for the worker
      host.Reprocess(1);
      lut->OnMenuCommand(101 + i % 5);
      lut->AddStop();
      lut->m_range.m_low = i % 100;
      lut->m_range.m_high = 100 + i % 100;
      lut->m_range.m_callback(&lut->m_range, lut->m_range.m_user, i % 100, 100 + i % 100);
      lut->SetRange();
      lut->Undo();
      if (i % 10 == 0) {
        dialogs.m_paths.push_back(dir.WideFile("x.lut"));
        lut->OnMenuCommand(1);
      }
      ASSERT_EQ(1, mask->LoadMaskImage(dir.WideFile("m.bmp").c_str()));
    }
  }
  // A frame waited for, with the hook still counting: at least that one is seen, however
  // the worker was scheduled during the loop.
  host.Reprocess(0);
  host.WaitIdle();
  host.m_onProcessedHook = nullptr;
  done.store(true);
  watchdog.join();
  EXPECT_GT(frames.load(), 0u);
}

}  // namespace
