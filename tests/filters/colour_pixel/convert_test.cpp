// convert_test.cpp - component extraction without a window: the modes per button, the
// defaults, the frames (grey format per depth class, colour kept, a smaller rectangle), the
// enable rules with grey and colour frames on the test host, the settings readings, and the
// channels that OpenCV computes the same way.
#include "filters/colour_pixel/convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/component.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

using apptest::MakePicture;
using apptest::SamePixels;
using filtertest::PackLines;

void Load(CLfConvert& f, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> items) {
  CCfgPack pack;
  pack.SetName(L"component_extraction");
  for (auto& it : items) pack.AddItem(it.first, it.second);
  f.LoadParams(&pack);
}

// Every control's enabled flag: the 19 radios, "color", "CMYK".
std::vector<int32_t> Enabled(const CLfConvert& f) {
  std::vector<int32_t> out;
  for (const CFgUIChkButton& r : f.m_radio) out.push_back(r.m_enabled);
  out.push_back(f.m_colorBox.m_enabled);
  out.push_back(f.m_cmykBox.m_enabled);
  return out;
}

TEST(ComponentExtraction, ModesPerButton) {
  const int32_t off[kConvertButtonCount] = {2, 3, 4, 1, 5, 6, 7, 8, 9, 10,
                                            14, 15, 16, 17, 18, 19, 20, 21, 22};
  const int32_t on[kConvertButtonCount] = {2, 3, 4, 1, 5, 6, 7, 11, 12, 13,
                                           14, 15, 16, 17, 18, 19, 20, 21, 22};
  for (int32_t i = 0; i < kConvertButtonCount; ++i) {
    EXPECT_EQ(off[i], ConvertComponentMode(i, 0)) << i;
    EXPECT_EQ(on[i], ConvertComponentMode(i, 1)) << i;
  }
  EXPECT_EQ(0, ConvertComponentMode(-1, 0));
  EXPECT_EQ(0, ConvertComponentMode(19, 1));
}

TEST(ComponentExtraction, DefaultsNameAndPack) {
  CLfConvert f;
  EXPECT_STREQ(L"Component extraction", f.GetName(L"en"));
  EXPECT_STREQ(L"\x6210\x5206\x62BD\x51FA", f.GetName(L"jp"));
  EXPECT_STREQ(L"Component extraction", f.GetName(L"jp "));
  EXPECT_STREQ(L"component_extraction", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  EXPECT_EQ(nullptr, f.m_window);
  EXPECT_EQ(3, CFgUIChkButton::GetGroupSelection(&f.m_radio[0]));
  EXPECT_EQ(1u, f.GrayInput());
  EXPECT_EQ(std::vector<int32_t>(21, 0), Enabled(f));  // no colour frame yet
  CCfgPack pack;
  pack.SetName(L"component_extraction");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"cmyk 0", L"color 0",
                                       L"sel 3"}),
            PackLines(&pack));
}

// Colour off over the whole frame: the grey format of the depth class, holding what the
// engine wrote; colour on: the format stays.
TEST(ComponentExtraction, WholeFrameFormats) {
  struct Case {
    int32_t format, grey;
  } cases[] = {{ImgFormatRgb24, ImgFormatGray8},  {ImgFormatCmyk32, ImgFormatGray8},
               {ImgFormatRgb48, ImgFormatGray16}, {ImgFormatHsv48, ImgFormatGray16},
               {ImgFormatRgb96, ImgFormatGray32}, {ImgFormatXyz, ImgFormatGray32}};
  for (const Case& c : cases)
    for (const wchar_t* sel : {L"0", L"3", L"5", L"9", L"14"})
      for (const wchar_t* color : {L"0", L"1"}) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << " sel " << sel
                                        << " color " << color);
        CLfConvert f;
        Load(f, {{L"sel", sel}, {L"color", color}});
        const CLfConvert::Settings s = f.GetSettings();
        CImgBuff img, ref;
        MakePicture(img, 11, 6, c.format, 5);
        MakePicture(ref, 11, 6, c.format, 5);
        f.Process(&img, 0, 0, 0, 11, 6, 8, 0);
        ASSERT_EQ(1, ExtractComponent(&ref, ConvertComponentMode(s.sel, 0), int32_t(s.color),
                                      nullptr));
        if (!s.color) {
          ASSERT_EQ(1, ref.record->ConvertTo(c.grey));
        }
        EXPECT_EQ(s.color ? c.format : c.grey, img.Format());
        EXPECT_TRUE(SamePixels(ref, img));
      }
}

// A rectangle smaller than the frame: a colour picture with a grey rectangle, the rest as it
// was; a rectangle reaching past the frame is no whole frame either.
TEST(ComponentExtraction, SmallerRectangleKeepsTheColourFormat) {
  CLfConvert f;
  CImgBuff img, orig;
  MakePicture(img, 12, 8, ImgFormatRgb24);
  MakePicture(orig, 12, 8, ImgFormatRgb24);
  f.Process(&img, 0, 2, 3, 5, 4, 8, 0);
  ASSERT_EQ(ImgFormatRgb24, img.Format());
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 12; ++x) {
      const uint8_t* p = RowPtr<uint8_t>(img.record, x, y);
      const uint8_t* o = RowPtr<uint8_t>(orig.record, x, y);
      if (x >= 2 && x <= 6 && y >= 3 && y <= 6) {
        const uint8_t grey = uint8_t((299 * o[0] + 587 * o[1] + 114 * o[2] + 500) / 1000);
        EXPECT_TRUE(p[0] == grey && p[1] == grey && p[2] == grey) << x << "," << y;
      } else {
        EXPECT_TRUE(p[0] == o[0] && p[1] == o[1] && p[2] == o[2]) << x << "," << y;
      }
    }
  CImgBuff past;
  MakePicture(past, 12, 8, ImgFormatRgb24);
  f.Process(&past, 0, 0, 0, 20, 20, 8, 0);
  EXPECT_EQ(ImgFormatRgb24, past.Format());
  // Nothing of the frame inside the rectangle: refused, unchanged.
  MakePicture(past, 12, 8, ImgFormatRgb24);
  f.Process(&past, 0, 30, 30, 5, 5, 8, 0);
  EXPECT_TRUE(SamePixels(orig, past));
}

TEST(ComponentExtraction, YellowWithAndWithoutBlackRemoved) {
  for (const wchar_t* cmyk : {L"0", L"1"}) {
    CLfConvert f;
    Load(f, {{L"sel", L"9"}, {L"cmyk", cmyk}});
    CImgBuff img, orig;
    MakePicture(img, 7, 5, ImgFormatRgb24, 3);
    MakePicture(orig, 7, 5, ImgFormatRgb24, 3);
    f.Process(&img, 0, 0, 0, 7, 5, 8, 0);
    ASSERT_EQ(ImgFormatGray8, img.Format());
    for (int32_t i = 0; i < 35; ++i) {
      const uint8_t* o = static_cast<const uint8_t*>(orig.Pixels()) + 3 * i;
      const int32_t want = cmyk[0] == L'0' ? 255 - o[2] : std::max({o[0], o[1], o[2]}) - o[2];
      EXPECT_EQ(want, static_cast<const uint8_t*>(img.Pixels())[i]) << i;
    }
  }
}

TEST(ComponentExtraction, EnableRules) {
  CLfConvert f;
  CImgBuff colour, grey;
  MakePicture(colour, 4, 3, ImgFormatRgb24);
  MakePicture(grey, 4, 3, ImgFormatGray16);
  f.Process(&colour, 0, 0, 0, 4, 3, 8, 0);
  EXPECT_EQ(0u, f.GrayInput());
  std::vector<int32_t> want(21, 1);
  want[kConvertIndexK] = 0;   // "K" needs "CMYK"
  want[19] = 0;               // GRAY: no "color"
  EXPECT_EQ(want, Enabled(f));
  // "color" ticked and kept while GRAY, V and L* switch it off.
  f.m_colorBox.m_checked = 1;
  f.m_colorBox.m_callback(&f.m_colorBox, f.m_colorBox.m_user);
  for (int32_t sel : {0, kConvertIndexV, 17, kConvertIndexL}) {
    CFgUIChkButton::SetGroupSelection(&f.m_radio[0], sel, 0);
    f.m_radio[sel].m_callback(&f.m_radio[sel], f.m_radio[sel].m_user);
    const int32_t off = sel == kConvertIndexV || sel == kConvertIndexL;
    EXPECT_EQ(!off, f.m_colorBox.m_enabled) << sel;
    EXPECT_EQ(1, f.m_colorBox.m_checked) << sel;
    EXPECT_EQ(1u, f.GetSettings().color) << sel;
  }
  // L* with "color" still ticked: written as grey, and the frame keeps its colour format.
  CImgBuff img;
  MakePicture(img, 4, 3, ImgFormatRgb24);
  f.Process(&img, 0, 0, 0, 4, 3, 8, 0);
  EXPECT_EQ(ImgFormatRgb24, img.Format());
  // "CMYK" enables "K"; "K" selected disables "CMYK".
  f.m_cmykBox.m_checked = 1;
  f.m_cmykBox.m_callback(&f.m_cmykBox, f.m_cmykBox.m_user);
  EXPECT_EQ(1, f.m_radio[kConvertIndexK].m_enabled);
  CFgUIChkButton::SetGroupSelection(&f.m_radio[0], kConvertIndexK, 0);
  f.m_radio[kConvertIndexK].m_callback(&f.m_radio[kConvertIndexK], f.m_radio[kConvertIndexK].m_user);
  EXPECT_EQ(0, f.m_cmykBox.m_enabled);
  EXPECT_EQ(1, f.m_colorBox.m_enabled);
  // A grey frame switches all 21 off; the next colour frame brings the rules back.
  f.Process(&grey, 0, 0, 0, 4, 3, 8, 0);
  EXPECT_EQ(std::vector<int32_t>(21, 0), Enabled(f));
  EXPECT_EQ(ImgFormatGray16, grey.Format());
  MakePicture(colour, 4, 3, ImgFormatRgb24);  // the last run made it grey
  f.Process(&colour, 0, 0, 0, 4, 3, 8, 0);
  EXPECT_EQ(1, f.m_radio[kConvertIndexK].m_enabled);
  EXPECT_EQ(0, f.m_cmykBox.m_enabled);
  // A window disabled as a whole stays so when a colour frame follows a grey one.
  f.Process(&grey, 0, 0, 0, 4, 3, 8, 0);
  f.EnableDialog(0);
  MakePicture(colour, 4, 3, ImgFormatRgb24);
  f.Process(&colour, 0, 0, 0, 4, 3, 8, 0);
  EXPECT_EQ(std::vector<int32_t>(21, 0), Enabled(f));
  f.EnableDialog(1);
  EXPECT_EQ(1, f.m_radio[0].m_enabled);
  EXPECT_EQ(0, f.m_cmykBox.m_enabled);
  // "K" loaded without "CMYK": stays selected though disabled, and K is still extracted.
  Load(f, {{L"cmyk", L"0"}});
  EXPECT_EQ(0, f.m_radio[kConvertIndexK].m_enabled);
  EXPECT_EQ(kConvertIndexK, CFgUIChkButton::GetGroupSelection(&f.m_radio[0]));
  CImgBuff k, kref;
  MakePicture(k, 4, 3, ImgFormatRgb24, 9);
  MakePicture(kref, 4, 3, ImgFormatRgb24, 9);
  f.Process(&k, 0, 0, 0, 4, 3, 8, 0);
  ASSERT_EQ(1, ExtractComponent(&kref, 14, 1, nullptr));  // "color" is still ticked
  EXPECT_TRUE(SamePixels(kref, k));
}

TEST(ComponentExtraction, LoadParamsReadings) {
  struct Case {
    const char* name;
    const wchar_t *cmyk, *color, *sel;  // null: key missing
    uint32_t expectCmyk, expectColor;
    int32_t expectSel;
  } cases[] = {
      // The filter starts from cmyk 1, color 1, sel 7.
      {"all three", L"0", L"0", L"12", 0, 0, 12},
      {"19 ignored", nullptr, nullptr, L"19", 1, 1, 7},
      {"-1 ignored", nullptr, nullptr, L"-1", 1, 1, 7},
      {"huge ignored", nullptr, nullptr, L"4294967299", 1, 1, 7},
      {"no digits read as 0", nullptr, nullptr, L"abc", 1, 1, 0},
      {"leading digits", nullptr, nullptr, L"5x", 1, 1, 5},
      {"cmyk 2 ignored", L"2", nullptr, nullptr, 1, 1, 7},
      {"color yes ignored", nullptr, L"yes", nullptr, 1, 1, 7},
      {"K", nullptr, nullptr, L"10", 1, 1, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLfConvert f;
    Load(f, {{L"cmyk", L"1"}, {L"color", L"1"}, {L"sel", L"7"}});
    CCfgPack pack;
    pack.SetName(L"component_extraction");
    if (c.cmyk) pack.AddItem(L"cmyk", c.cmyk);
    if (c.color) pack.AddItem(L"color", c.color);
    if (c.sel) pack.AddItem(L"sel", c.sel);
    f.LoadParams(&pack);
    EXPECT_EQ(c.expectCmyk, f.GetSettings().cmyk);
    EXPECT_EQ(c.expectColor, f.GetSettings().color);
    EXPECT_EQ(c.expectSel, f.GetSettings().sel);
    EXPECT_EQ(c.expectSel, CFgUIChkButton::GetGroupSelection(&f.m_radio[0]));
    EXPECT_EQ(int32_t(c.expectCmyk), f.m_cmykBox.m_checked);
    EXPECT_EQ(int32_t(c.expectColor), f.m_colorBox.m_checked);
  }
}

// A grey video on the host: every control off, frames unchanged; the first colour frame
// enables them and is extracted.  A radio pressed waits for its frame.
TEST(ComponentExtraction, GreyThenColourFramesOnTheHost) {
  CTestHost host;
  CImgBuff g0, g1, c2;
  MakePicture(g0, 10, 6, ImgFormatGray8, 1);
  MakePicture(g1, 10, 6, ImgFormatGray8, 2);
  MakePicture(c2, 10, 6, ImgFormatRgb48, 3);
  ASSERT_EQ(1, host.SetVideo({&g0, &g1, &c2}, 40000));
  auto* f = new CLfConvert;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_TRUE(SamePixels(g0, host.m_display));
  EXPECT_EQ(std::vector<int32_t>(21, 0), Enabled(*f));
  ASSERT_EQ(1, host.SeekFrame(1));
  EXPECT_TRUE(SamePixels(g1, host.m_display));
  EXPECT_EQ(std::vector<int32_t>(21, 0), Enabled(*f));
  ASSERT_EQ(1, host.SeekFrame(2));
  EXPECT_EQ(1, f->m_radio[0].m_enabled);
  EXPECT_EQ(0, f->m_colorBox.m_enabled);  // GRAY
  CImgBuff ref;
  MakePicture(ref, 10, 6, ImgFormatRgb48, 3);
  ASSERT_EQ(1, ExtractComponent(&ref, 1, 0, nullptr));
  ASSERT_EQ(1, ref.record->ConvertTo(ImgFormatGray16));
  EXPECT_TRUE(SamePixels(ref, host.m_display));
  // "B": the request waits, so the display already holds B.
  const uint64_t runs = host.m_processedCount.load();
  CFgUIChkButton::SetGroupSelection(&f->m_radio[0], 2, 0);
  f->m_radio[2].m_callback(&f->m_radio[2], f->m_radio[2].m_user);
  EXPECT_GT(host.m_processedCount.load(), runs);
  ASSERT_EQ(ImgFormatGray16, host.m_display.Format());
  for (int32_t i = 0; i < 60; ++i)
    EXPECT_EQ(static_cast<const uint16_t*>(c2.Pixels())[3 * i + 2],
              static_cast<const uint16_t*>(host.m_display.Pixels())[i]);
}

// Turns every other frame grey before the extraction sees it.
class AlternateGrey : public CImgFilter {
 public:
  const wchar_t* GetName(const wchar_t*) override { return L"Alternate grey"; }
  void Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    if (m_runs++ % 2) picture->record->ConvertTo(ImgFormatGray8);
  }
  std::atomic<uint64_t> m_runs{0};
};

// Grey and colour frames back to back, so the worker switches the controls on and off, while
// the UI thread chooses components and loads packs: no deadlock, and the last frame's kind
// decides the controls.
TEST(ComponentExtraction, ControlsSwitchedByTheWorkerWhileTheUserClicks) {
  CTestHost host;
  CImgBuff src;
  MakePicture(src, 32, 24, ImgFormatRgb24);
  host.SetStill(src);
  auto* alternate = new AlternateGrey;
  ASSERT_EQ(1, host.AddFilter(alternate, nullptr));
  auto* f = new CLfConvert;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  alternate->m_filterEnabled = 1;
  f->m_filterEnabled = 1;
  // A fixed number of frames, each waited for, while the user clicks for at least as long:
  // what holds whatever the scheduling is that every frame is taken, nothing deadlocks, and
  // the last frame's kind decides the controls (requests may share a run, so the number of
  // runs is not a result).
  constexpr uint64_t kFrames = 60;
  std::atomic<int> done{0};
  std::atomic<int> refused{0};
  std::thread frames([&] {
    for (uint64_t k = 0; k < kFrames; ++k)
      if (host.Reprocess(0) != 1) refused++;
    done = 1;
  });
  for (int i = 0; i < 200 || !done; ++i) {
    const int32_t sel = i % kConvertButtonCount;
    CFgUIChkButton::SetGroupSelection(&f->m_radio[0], sel, 0);
    f->m_radio[sel].m_callback(&f->m_radio[sel], f->m_radio[sel].m_user);
    if (i % 20 == 0) Load(*f, {{L"cmyk", i % 40 ? L"1" : L"0"}});
  }
  frames.join();
  host.WaitIdle();
  EXPECT_EQ(0, refused.load());
  // One more frame of a known kind: the controls follow it.
  const bool grey = alternate->m_runs.load() % 2 == 1;
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(grey ? 1u : 0u, f->GrayInput());
  EXPECT_EQ(grey ? 0 : 1, f->m_radio[0].m_enabled);
}

#ifdef QV_HAVE_OPENCV
// Where OpenCV computes a channel the same way: R, G, B as they are, C, M, Y as full minus
// the channel, V as max(R, G, B) (its HSV V plane) and K as full minus that.
TEST(ComponentExtraction, ChannelsEqualOpenCv) {
  const int32_t w = 37, h = 23;
  CImgBuff src;
  MakePicture(src, w, h, ImgFormatRgb24, 11);
  cv::Mat rgb(h, w, CV_8UC3, src.Pixels());
  std::vector<cv::Mat> planes;
  cv::split(rgb, planes);
  cv::Mat hsv;
  cv::cvtColor(rgb, hsv, cv::COLOR_RGB2HSV);
  std::vector<cv::Mat> hsvPlanes;
  cv::split(hsv, hsvPlanes);
  struct Case {
    int32_t sel;
    cv::Mat want;
  } cases[] = {{0, planes[0]},       {1, planes[1]},       {2, planes[2]},
               {7, 255 - planes[0]}, {8, 255 - planes[1]}, {9, 255 - planes[2]},
               {kConvertIndexV, hsvPlanes[2]}, {kConvertIndexK, 255 - hsvPlanes[2]}};
  for (const Case& c : cases) {
    CLfConvert f;
    const std::wstring sel = std::to_wstring(c.sel);
    Load(f, {{L"sel", sel.c_str()}, {L"cmyk", c.sel == kConvertIndexK ? L"1" : L"0"}});
    CImgBuff img;
    MakePicture(img, w, h, ImgFormatRgb24, 11);
    f.Process(&img, 0, 0, 0, w, h, 8, 0);
    ASSERT_EQ(ImgFormatGray8, img.Format());
    cv::Mat got(h, w, CV_8UC1, img.Pixels()), want;
    c.want.convertTo(want, CV_8UC1);
    EXPECT_EQ(0, cv::countNonZero(got != want)) << "sel " << c.sel;
  }
}
#endif

}  // namespace
