// colormap_test.cpp - the colour map: counts by view, the painting of each type, the white
// background, hostile XYZ values, the menus, the pack, saving, and the a*b* counts against
// a per-pixel reference and scikit-image.
#include "filters/colour_pixel/colormap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/colour.h"
#include "core/parallel.h"
#include "filters/colour_pixel/diagram.h"
#include "media/imgio/imgio.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"

namespace {

void Fill(CImgBuff& p, int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatRgb24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.SetRGB8(x, y, r, g, b);
}

void Feed(CLfColorMap& map, CImgBuff& frame) {
  map.Process(&frame, 0, 0, 0, frame.Width(), frame.Height(), 0, 0);
}

// The background pixel at (x, y) repainted at lightness L (views 0, 1) or value V (view 2),
// as 8-bit R, G, B.
void Repainted(const CImgBuff* bg, int32_t x, int32_t y, uint32_t view, double level,
               uint8_t rgb[3]) {
  CImgBuff one;
  one.Allocate(1, 1, ImgFormatRgb24);
  uint8_t r, g, b;
  bg->GetRGB8(x, y, &r, &g, &b);
  one.SetRGB8(0, 0, r, g, b);
  if (view == 2) {
    uint16_t h, s, v;
    one.record->GetHSV16(0, 0, &h, &s, &v);
    one.SetHSV16(0, 0, h, s, uint16_t(level));
  } else {
    double X, Y, Z, L, a, bb;
    one.GetXYZ(0, 0, &X, &Y, &Z);
    XyzToLab(X, Y, Z, &L, &a, &bb);
    one.SetLab(0, 0, level, a, bb);
  }
  one.GetRGB8(0, 0, &rgb[0], &rgb[1], &rgb[2]);
}

// Every inside pixel of the diagram against the level expected for its count.
int32_t WrongPixels(CLfColorMap& map, uint32_t view, double occupied, double empty) {
  CImgBuff d;
  EXPECT_EQ(1, map.CopyDiagram(&d));
  const CImgBuff* bg = view == 0 ? XyDiagramBackground : view == 1 ? LabDiagramBackground
                                                                   : HsvDiagramBackground;
  int32_t wrong = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      uint8_t g;
      bg->GetGray8(x, y, &g);
      uint8_t want[3] = {0, 0, 0}, got[3];
      if (g != 0) Repainted(bg, x, y, view, map.Count(255 - y, x) ? occupied : empty, want);
      d.GetRGB8(x, y, &got[0], &got[1], &got[2]);
      if (std::memcmp(want, got, 3)) ++wrong;
    }
  return wrong;
}

TEST(ColorMap, NameMenusAndDefaults) {
  CLfColorMap map;
  map.m_language = L"en";
  EXPECT_STREQ(L"Color map", map.GetName(L"en"));
  EXPECT_STREQ(L"\x8272\x5206\x5E03\x56F3", map.GetName(L"jp"));
  EXPECT_STREQ(L"color_map", map.GetKey());
  EXPECT_EQ(0u, map.View());
  EXPECT_EQ(1u, map.Type());
  EXPECT_EQ(0u, map.Background());
  EXPECT_EQ(std::wstring(L"Color diagram\t{*xy\t101\n L*a*b*\t102\n HSV\t103\n}\n"
                         L"type\t{ Std\t201\n*Log\t202\n Distribution\t203\n}\n"
                         L"Bg color\t{*Black\t301\n White\t302\n}\n"),
            map.BuildMenu());
  map.OnCommand(103);
  map.OnCommand(201);
  map.OnCommand(302);
  map.OnCommand(999);
  map.m_language = L"jp";
  EXPECT_EQ(std::wstring(L"\x8272\x5EA6\x56F3\t{\x3000xy\t101\n\x3000L*a*b*\t102\n\x2713HSV\t103\n}\n"
                         L"\x8868\x793A\x65B9\x6CD5\t{\x2713\x6A19\x6E96\t201\n"
                         L"\x3000log\x5909\x63DB\t202\n\x3000\x5206\x5E03\t203\n}\n"
                         L"\x80CC\x666F\x8272\t{\x3000\x9ED2\t301\n\x2713\x767D\t302\n}\n"),
            map.BuildMenu());
}

TEST(ColorMap, PackRoundTripAndHostileValues) {
  CLfColorMap map;
  map.OnCommand(102);
  map.OnCommand(203);
  map.OnCommand(302);
  CCfgPack pack;
  pack.SetName(L"color_map");
  map.SaveParams(&pack);
  auto lines = filtertest::PackLines(&pack);
  std::wstring all;
  for (auto& l : lines) all += l + L"\n";
  EXPECT_NE(std::wstring::npos, all.find(L"view 1\ntype 2\nbg 255\n"));
  CLfColorMap other;
  other.LoadParams(&pack);
  EXPECT_EQ(1u, other.View());
  EXPECT_EQ(2u, other.Type());
  EXPECT_EQ(255u, other.Background());

  struct Case {
    const wchar_t *key, *value;
    uint32_t view, type, bg;
  } cases[] = {
      {L"view", L"7", 1, 2, 255},  {L"view", L"x1", 0, 2, 255}, {L"view", L"-1", 1, 2, 255},
      {L"type", L"1x", 1, 0, 255}, {L"bg", L"128", 1, 2, 255},  {L"bg", L"0", 1, 2, 0},
      {L"view", L"99999999999999999999999", 0, 2, 255}, {L"view", L"2", 2, 2, 255},
  };
  for (const Case& c : cases) {
    CLfColorMap m;
    m.LoadParams(&pack);
    CCfgPack p;
    p.AddItem(c.key, c.value);
    m.LoadParams(&p);
    EXPECT_EQ(c.view, m.View()) << c.key << " " << c.value;
    EXPECT_EQ(c.type, m.Type()) << c.key << " " << c.value;
    EXPECT_EQ(c.bg, m.Background()) << c.key << " " << c.value;
  }
}

TEST(ColorMap, OneColourStandardAndDistribution) {
  CImgBuff frame;
  Fill(frame, 40, 30, 200, 60, 30);
  for (uint32_t view = 0; view < 3; ++view) {
    CLfColorMap map;
    map.OnCommand(int32_t(101 + view));
    map.OnCommand(201);
    Feed(map, frame);
    uint32_t occupied = 0, total = 0;
    for (uint32_t r = 0; r < 256; ++r)
      for (uint32_t c = 0; c < 256; ++c)
        if (map.Count(r, c)) ++occupied, total += map.Count(r, c);
    EXPECT_EQ(1u, occupied) << view;
    EXPECT_EQ(1200u, total) << view;
    EXPECT_EQ(0, WrongPixels(map, view, view == 2 ? 65535 : 100, view == 2 ? 39321 : 30))
        << "standard, view " << view;
    map.OnCommand(203);
    Feed(map, frame);
    EXPECT_EQ(0, WrongPixels(map, view, view == 2 ? 65535 : 75, view == 2 ? 39321 : 30))
        << "distribution, view " << view;
  }
}

TEST(ColorMap, GreyLightsTheDiscCentreAndBlackCountsOffTheLocus) {
  CImgBuff grey;
  Fill(grey, 16, 16, 90, 90, 90);
  CLfColorMap hsv;
  hsv.OnCommand(103);
  Feed(hsv, grey);
  EXPECT_EQ(256u, hsv.Count(128, 128));
  CImgBuff d;
  ASSERT_EQ(1, hsv.CopyDiagram(&d));
  uint8_t r, g, b;
  d.GetRGB8(128, 127, &r, &g, &b);  // row 128 shows at y = 255 - 128
  uint8_t want[3];
  Repainted(HsvDiagramBackground, 128, 127, 2, 65535, want);
  EXPECT_TRUE(r == want[0] && g == want[1] && b == want[2]) << "the centre at full value";
  EXPECT_EQ(255, std::max({r, g, b}));

  CImgBuff black;
  Fill(black, 10, 10, 0, 0, 0);
  CLfColorMap xy;
  xy.OnCommand(201);
  Feed(xy, black);
  EXPECT_EQ(100u, xy.Count(0, 0));
  EXPECT_EQ(0, WrongPixels(xy, 0, 100, 30)) << "cell (0, 0) lies outside the locus";
  ASSERT_EQ(1, xy.CopyDiagram(&d));
  d.GetRGB8(0, 255, &r, &g, &b);
  EXPECT_EQ(0, r | g | b);
}

TEST(ColorMap, WhiteBackgroundAndEmptyFrame) {
  CLfColorMap map;
  map.OnCommand(302);
  CImgBuff empty;
  Feed(map, empty);  // the plain background, nothing counted
  CImgBuff d;
  ASSERT_EQ(1, map.CopyDiagram(&d));
  uint8_t r, g, b;
  for (int c : {0, 255}) {
    d.GetRGB8(c, 0, &r, &g, &b);
    EXPECT_EQ(255, r & g & b);
  }
  d.GetRGB8(80, 120, &r, &g, &b);
  EXPECT_NE(255, r & g & b) << "the inside keeps its colours";
  map.Process(nullptr, 0, 0, 0, 0, 0, 0, 0);
}

TEST(ColorMap, XyzPicturesWithHugeAndNanValues) {
  CImgBuff xyz;
  ASSERT_EQ(1, xyz.Allocate(4, 1, ImgFormatXyz));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  xyz.SetXYZ(0, 0, 1e300, 1e300, 1e300);
  xyz.SetXYZ(1, 0, nan, 0.5, 0.2);
  xyz.SetXYZ(2, 0, -5, 40, 1e9);
  xyz.SetXYZ(3, 0, 0.3, 0.3, 0.3);
  for (uint32_t view = 0; view < 3; ++view) {
    std::vector<uint32_t> counts(65536);
    RoiRect all{0, 0, 3, 0};
    ColorMapCount(&xyz, all, view, counts.data());
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    EXPECT_GE(total, 1u) << view;
    EXPECT_LE(total, 4u) << view;
    CLfColorMap map;
    map.OnCommand(int32_t(101 + view));
    Feed(map, xyz);
  }
}

TEST(ColorMap, SavingBeforeAFrameAndAfter) {
  qvtest::TempFolder dir("colormap");
  ASSERT_TRUE(dir.ok());
  for (const wchar_t* lang : {L"en", L"jp"}) {
    CLfColorMap map;
    map.m_language = lang;
    CScriptedDialogs dialogs;
    map.OnCommand(1);
    ASSERT_EQ(1u, dialogs.m_shown.size());
    bool jp = std::wstring(lang) == L"jp";
    EXPECT_EQ(jp ? L"\x753B\x50CF\x304C\x3042\x308A\x307E\x305B\x3093" : L"there is no image",
              dialogs.m_shown[0].text);
    EXPECT_EQ(jp ? L"\x78BA\x8A8D" : L"confirmation", dialogs.m_shown[0].caption);
    EXPECT_TRUE(dialogs.m_asked.empty());
  }
  CLfColorMap map;
  map.m_language = L"en";
  CImgBuff frame;
  Fill(frame, 8, 8, 10, 200, 40);
  Feed(map, frame);
  CImgBuff shown;
  ASSERT_EQ(1, map.CopyDiagram(&shown));
  {
    CScriptedDialogs dialogs;
    dialogs.m_paths.push_back(dir.WideFile("map.png"));
    dialogs.m_answers.push_back(1);
    map.OnCommand(1);
    ASSERT_FALSE(dialogs.m_asked.empty());
    EXPECT_EQ(L"select file name to save", dialogs.m_asked[0].title);
  }
  CImgBuff back;
  ASSERT_EQ(1, LoadImageFile(&back, dir.WideFile("map.png").c_str(), nullptr, nullptr));
  ASSERT_EQ(256, back.Width());
  ASSERT_EQ(0, std::memcmp(back.Pixels(), shown.Pixels(), 256 * 256 * 3));
  // ImageMagick reads the same pixels.
  std::string cmd = "/usr/bin/convert '" + dir.File("map.png") + "' rgb:'" + dir.File("map.rgb") + "'";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::string raw = qvtest::ReadWholeFile(dir.File("map.rgb"));
  ASSERT_EQ(size_t(256 * 256 * 3), raw.size());
  EXPECT_EQ(0, std::memcmp(raw.data(), shown.Pixels(), raw.size()));
}

// a*b* counts of a random frame: the cached 8-bit path equals the per-pixel accessors, and
// scikit-image's L*a*b* puts nearly every pixel in the same cell.
TEST(ColorMap, LabCountsMatchReferenceAndScikitImage) {
  const int w = 160, h = 120;
  CImgBuff frame;
  ASSERT_EQ(1, frame.Allocate(w, h, ImgFormatRgb24));
  std::mt19937 rng(7);
  auto* p = static_cast<uint8_t*>(frame.Pixels());
  for (int i = 0; i < w * h * 3; ++i) p[i] = uint8_t(rng());
  std::vector<uint32_t> counts(65536), reference(65536, 0);
  for (int pass = 0; pass < 2; ++pass) {  // the second pass reads the filled cache
    ColorMapCount(&frame, RoiRect{0, 0, w - 1, h - 1}, 1, counts.data());
    std::fill(reference.begin(), reference.end(), 0u);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double X, Y, Z, L, a, b;
        frame.GetXYZ(x, y, &X, &Y, &Z);
        XyzToLab(X, Y, Z, &L, &a, &b);
        ++reference[int(std::trunc((b + 128) / 255 * 255)) * 256 +
                    int(std::trunc((a + 128) / 255 * 255))];
      }
    ASSERT_EQ(reference, counts) << "pass " << pass;
  }
  // A sub-rectangle counts only its pixels.
  ColorMapCount(&frame, RoiRect{10, 10, 19, 14}, 1, counts.data());
  uint64_t total = 0;
  for (uint32_t c : counts) total += c;
  EXPECT_EQ(50u, total);

  qvtest::TempFolder dir("colormap_sk");
  ASSERT_TRUE(dir.ok());
  qvtest::WriteWholeFile(dir.File("in.rgb"),
                         std::string(reinterpret_cast<const char*>(p), size_t(w * h * 3)));
  std::string script =
      "import numpy as np, skimage.color as c\n"
      "a = np.fromfile('" + dir.File("in.rgb") + "', np.uint8).reshape(" + std::to_string(h) +
      "," + std::to_string(w) + ",3)\n"
      "lab = c.rgb2lab(a)\n"
      "col = np.trunc((lab[...,1] + 128) / 255 * 255).astype(np.int32)\n"
      "row = np.trunc((lab[...,2] + 128) / 255 * 255).astype(np.int32)\n"
      "(row * 256 + col).astype(np.int32).tofile('" + dir.File("cells.bin") + "')\n";
  qvtest::WriteWholeFile(dir.File("lab.py"), script);
  ASSERT_EQ(0, std::system(("/usr/bin/python3 '" + dir.File("lab.py") + "'").c_str()));
  std::string cells = qvtest::ReadWholeFile(dir.File("cells.bin"));
  ASSERT_EQ(size_t(w * h * 4), cells.size());
  const auto* sk = reinterpret_cast<const int32_t*>(cells.data());
  // The engine's sRGB matrix and white differ from scikit-image's in the fifth digit, so a
  // colour near a cell's edge may land in the neighbouring cell, never further.
  int agree = 0, near = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double X, Y, Z, L, a, b;
      frame.GetXYZ(x, y, &X, &Y, &Z);
      XyzToLab(X, Y, Z, &L, &a, &b);
      int cell = int(std::trunc((b + 128) / 255 * 255)) * 256 + int(std::trunc((a + 128) / 255 * 255));
      agree += cell == sk[y * w + x];
      near += std::abs(cell % 256 - sk[y * w + x] % 256) <= 1 &&
              std::abs(cell / 256 - sk[y * w + x] / 256) <= 1;
    }
  EXPECT_GE(agree, w * h * 995 / 1000) << agree << " of " << w * h;
  EXPECT_EQ(w * h, near);
}

TEST(ColorMap, XyAndHsvCountsOfEightBitFramesMatchTheAccessors) {
  const int w = 200, h = 150;
  CImgBuff frame;
  ASSERT_EQ(1, frame.Allocate(w, h, ImgFormatRgb24));
  std::mt19937 rng(11);
  auto* p = static_cast<uint8_t*>(frame.Pixels());
  for (int i = 0; i < w * h * 3; ++i) p[i] = uint8_t(rng());
  // Greys, primaries and the hues on the disc's axes too.
  const uint8_t special[][3] = {{0, 0, 0}, {255, 255, 255}, {9, 9, 9}, {255, 0, 0},
                                {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255},
                                {255, 0, 255}, {128, 0, 255}, {127, 255, 0}, {1, 0, 0}};
  for (size_t i = 0; i < sizeof special / sizeof special[0]; ++i)
    frame.SetRGB8(int32_t(i), 0, special[i][0], special[i][1], special[i][2]);
  std::vector<uint32_t> counts(65536), reference(65536);
  for (uint32_t view : {0u, 2u}) {
    ColorMapCount(&frame, RoiRect{0, 0, w - 1, h - 1}, view, counts.data());
    std::fill(reference.begin(), reference.end(), 0u);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (view == 2) {
          uint16_t hh, ss, vv;
          uint32_t px, py;
          frame.record->GetHSV16(x, y, &hh, &ss, &vv);
          HueSatToDiscPoint(256, hh, ss, &px, &py);
          ++reference[py * 256 + px];
        } else {
          double X, Y, Z;
          frame.GetXYZ(x, y, &X, &Y, &Z);
          double s = X + Y + Z;
          ++reference[s == 0 ? 0 : int(255 * Y / s) * 256 + int(255 * X / s)];
        }
      }
    EXPECT_EQ(reference, counts) << "view " << view;
  }
}

TEST(ColorMap, WorkerCountDoesNotChangeTheCounts) {
  CImgBuff frame;
  ASSERT_EQ(1, frame.Allocate(300, 200, ImgFormatRgb48));
  std::mt19937 rng(3);
  auto* p = static_cast<uint16_t*>(frame.Pixels());
  for (int i = 0; i < 300 * 200 * 3; ++i) p[i] = uint16_t(rng());
  std::vector<uint32_t> a(65536), b(65536);
  for (uint32_t view = 0; view < 3; ++view) {
    uint32_t ma = ColorMapCount(&frame, RoiRect{0, 0, 299, 199}, view, a.data());
    uint64_t workers = ActiveWorkerCount();
    SetWorkerCount(1);
    uint32_t mb = ColorMapCount(&frame, RoiRect{0, 0, 299, 199}, view, b.data());
    if (workers) SetWorkerCount(workers);
    EXPECT_EQ(ma, mb);
    EXPECT_EQ(a, b) << view;
  }
}

TEST(ColorMap, RunsOnTheHostAndLeavesTheFrame) {
  CTestHost host;
  CImgBuff frame;
  Fill(frame, 32, 24, 30, 90, 200);
  host.SetStill(frame);
  auto* map = new CLfColorMap;
  ASSERT_EQ(1, host.AddFilter(map, nullptr));
  host.Reprocess(0);
  ASSERT_EQ(0, std::memcmp(host.m_display.Pixels(), frame.Pixels(), 32 * 24 * 3));
  uint32_t total = 0;
  for (uint32_t r = 0; r < 256; ++r)
    for (uint32_t c = 0; c < 256; ++c) total += map->Count(r, c);
  EXPECT_EQ(768u, total);
}

}  // namespace
