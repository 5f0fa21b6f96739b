// bayer_test.cpp - Bayer conversion without a window: defaults and pack, frames equal to a
// direct Demosaic call per setting, the gain box and its rules, typed gains, RESET, the
// settings readings, and the linear demosaic through the chain against OpenCV.
#include "filters/colour_pixel/bayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/demosaic.h"
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

// Counts the filter's requests (a waiting one reports its frame twice to OnProcessed).
class CountingHost : public CTestHost {
 public:
  void RequestProcess(uint32_t async) override {
    m_requests++;
    m_lastAsync = async;
    CTestHost::RequestProcess(async);
  }
  std::atomic<uint64_t> m_requests{0};
  uint32_t m_lastAsync = 99;
};

void Load(CLfBayer& f, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> items) {
  CCfgPack pack;
  pack.SetName(L"bayer_convert");
  for (auto& it : items) pack.AddItem(it.first, it.second);
  f.LoadParams(&pack);
}

void Type(CFgUIEdit* edit, const wchar_t* text) {
  edit->SetLine(0, text);
  edit->OnFocusLost(edit, edit->CallbackArg);
}

TEST(BayerConvert, DefaultsNameAndPack) {
  CLfBayer f;
  EXPECT_STREQ(L"Bayer convert", f.GetName(L"en"));
  EXPECT_STREQ(L"\x30D9\x30A4\x30E4\x30FC\x5909\x63DB", f.GetName(L"jp"));
  EXPECT_STREQ(L"bayer_convert", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  EXPECT_EQ(nullptr, f.m_window);
  const CLfBayer::Settings s = f.GetSettings();
  EXPECT_EQ(2, s.action);
  EXPECT_EQ(0, s.filter);
  EXPECT_EQ(1u, s.gain);
  EXPECT_EQ((std::vector<double>{1.0, 3.344, 1.704, 8.772}),
            std::vector<double>(s.gains, s.gains + 4));
  EXPECT_STREQ(L"3.344", f.m_gainEdit[0].GetText());
  EXPECT_STREQ(L"1.704", f.m_gainEdit[1].GetText());
  EXPECT_STREQ(L"8.772", f.m_gainEdit[2].GetText());
  EXPECT_EQ(1, f.m_resetButton.m_enabled);
  CCfgPack pack;
  pack.SetName(L"bayer_convert");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"action 2", L"filter 0",
                                       L"gain 1", L"gain_r 3.344", L"gain_g 1.704",
                                       L"gain_b 8.772"}),
            PackLines(&pack));
}

// Every operation, arrangement and gain switch: the frame equals Demosaic called directly,
// on the whole frame and in a rectangle.
TEST(BayerConvert, FramesEqualTheEngine) {
  const wchar_t* digits[4] = {L"0", L"1", L"2", L"3"};
  for (int32_t action = 0; action <= 2; ++action)
    for (int32_t filter = 0; filter <= 3; ++filter)
      for (uint32_t gain : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "action " << action << " filter " << filter
                                        << " gain " << gain);
        CLfBayer f;
        Load(f, {{L"action", digits[action]}, {L"filter", digits[filter]},
                 {L"gain", gain ? L"1" : L"0"}, {L"gain_g", L"1.5"}});
        const int32_t format = action == 0 ? ImgFormatRgb48 : ImgFormatGray16;
        const double gains[4] = {1.0, 3.344, 1.5, 8.772};
        for (RoiRect r : {RoiRect{0, 0, 14, 9}, RoiRect{3, 2, 10, 7}}) {
          CImgBuff img, ref;
          MakePicture(img, 15, 10, format, 7);
          MakePicture(ref, 15, 10, format, 7);
          f.Process(&img, 0, r.x0, r.y0, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1, 8, 0);
          ASSERT_EQ(1, Demosaic(&ref, uint32_t(action), uint32_t(filter), gain ? gains : nullptr,
                                &r));
          EXPECT_TRUE(SamePixels(ref, img));
        }
      }
  // A rectangle Demosaic refuses (one column): the frame passes unchanged.
  CLfBayer f;
  CImgBuff img, ref;
  MakePicture(img, 8, 8, ImgFormatGray8);
  MakePicture(ref, 8, 8, ImgFormatGray8);
  f.Process(&img, 0, 3, 0, 1, 8, 8, 0);
  EXPECT_TRUE(SamePixels(ref, img));
}

TEST(BayerConvert, GainBoxRulesAndRequests) {
  CountingHost host;
  CImgBuff src;
  MakePicture(src, 12, 8, ImgFormatGray8);
  host.SetStill(src);
  auto* f = new CLfBayer;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  host.WaitIdle();
  // "gain" unticked: reset, labels and edits off, one waiting request, no gains passed.
  uint64_t before = host.m_requests;
  f->m_gainBox.m_checked = 0;
  f->m_gainBox.m_callback(&f->m_gainBox, f->m_gainBox.m_user);
  EXPECT_EQ(before + 1, host.m_requests.load());
  EXPECT_EQ(0u, host.m_lastAsync);
  EXPECT_EQ(0, f->m_resetButton.m_enabled);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(0, f->m_gainLabel[i].m_enabled);
    EXPECT_EQ(0, f->m_gainEdit[i].m_enabled);
  }
  CImgBuff ref;
  MakePicture(ref, 12, 8, ImgFormatGray8);
  ASSERT_EQ(1, Demosaic(&ref, 2, 0, nullptr, nullptr));
  EXPECT_TRUE(SamePixels(ref, host.m_display));
  // A typed gain while "gain" is off: stored, nothing requested.
  before = host.m_requests;
  Type(&f->m_gainEdit[0], L"2");
  EXPECT_EQ(2.0, f->GetSettings().gains[1]);
  EXPECT_EQ(before, host.m_requests.load());
  // Ticked again: everything on, the frame with gains.
  f->m_gainBox.m_checked = 1;
  f->m_gainBox.m_callback(&f->m_gainBox, f->m_gainBox.m_user);
  EXPECT_EQ(1, f->m_gainEdit[2].m_enabled);
  EXPECT_EQ(1, f->m_resetButton.m_enabled);
  const double gains[4] = {1.0, 2.0, 1.704, 8.772};
  MakePicture(ref, 12, 8, ImgFormatGray8);
  ASSERT_EQ(1, Demosaic(&ref, 2, 0, gains, nullptr));
  EXPECT_TRUE(SamePixels(ref, host.m_display));
  // RESET: the three gains back, one request.
  before = host.m_requests;
  f->m_resetButton.m_callback(&f->m_resetButton, f->m_resetButton.m_user);
  EXPECT_EQ(before + 1, host.m_requests.load());
  EXPECT_EQ(3.344, f->GetSettings().gains[1]);
  EXPECT_STREQ(L"3.344", f->m_gainEdit[0].GetText());
  // An arrangement chosen: stored for the next run, which waits.
  before = host.m_requests;
  CFgUIChkButton::SetGroupSelection(&f->m_filterRadio[0], 2, 0);
  f->m_filterRadio[2].m_callback(&f->m_filterRadio[2], f->m_filterRadio[2].m_user);
  EXPECT_EQ(before + 1, host.m_requests.load());
  EXPECT_EQ(2, f->GetSettings().filter);
  MakePicture(ref, 12, 8, ImgFormatGray8);
  const double defaults[4] = {1.0, 3.344, 1.704, 8.772};
  ASSERT_EQ(1, Demosaic(&ref, 2, 2, defaults, nullptr));
  EXPECT_TRUE(SamePixels(ref, host.m_display));
  // A window disabled as a whole stays so when the pack changes "gain".
  f->EnableDialog(0);
  Load(*f, {{L"gain", L"0"}});
  Load(*f, {{L"gain", L"1"}});
  EXPECT_EQ(0, f->m_gainEdit[0].m_enabled);
  f->EnableDialog(1);
  EXPECT_EQ(1, f->m_gainEdit[0].m_enabled);
}

TEST(BayerConvert, TypedGains) {
  struct Case {
    const wchar_t* typed;
    double gain;          // the R gain afterwards (3.344 before)
    const wchar_t* shown;
  } cases[] = {
      {L"2.5", 2.5, L"2.5"},     {L"2,5", 3.344, L"3.344"}, {L"-1", 3.344, L"3.344"},
      {L".5", 3.344, L"3.344"},  {L"1.2.3", 3.344, L"3.344"}, {L"", 3.344, L"3.344"},
      {L" 2", 3.344, L"3.344"},  {L"0", 0.0, L"0"},          {L"5.", 5.0, L"5."},
      {L"12", 12.0, L"12"},
  };
  for (const Case& c : cases) {
    CountingHost host;
    CImgBuff src;
    MakePicture(src, 6, 4, ImgFormatGray8);
    host.SetStill(src);
    auto* f = new CLfBayer;
    ASSERT_EQ(1, host.AddFilter(f, nullptr));
    f->m_filterEnabled = 1;
    host.WaitIdle();
    const uint64_t before = host.m_requests;
    Type(&f->m_gainEdit[0], c.typed);
    EXPECT_EQ(c.gain, f->GetSettings().gains[1]) << c.typed;
    EXPECT_STREQ(c.shown, f->m_gainEdit[0].GetText()) << c.typed;
    EXPECT_EQ(before + 1, host.m_requests.load()) << c.typed;
    EXPECT_EQ(1.704, f->GetSettings().gains[2]) << c.typed;
  }
}

TEST(BayerConvert, LoadParamsReadings) {
  struct Case {
    const char* name;
    const wchar_t *key, *value;
    int32_t action, filter;
    uint32_t gain;
    double g;  // the G gain
  } cases[] = {
      // The filter starts from action 1, filter 2, gain 0, gain_g 2.
      {"action 0", L"action", L"0", 0, 2, 0, 2.0},
      {"action 3 ignored", L"action", L"3", 1, 2, 0, 2.0},
      {"action -1 ignored", L"action", L"-1", 1, 2, 0, 2.0},
      {"action without digits", L"action", L"abc", 0, 2, 0, 2.0},
      {"filter 3", L"filter", L"3", 1, 3, 0, 2.0},
      {"filter 4 refused by the group", L"filter", L"4", 1, 2, 0, 2.0},
      {"filter 5 refused by the group", L"filter", L"5", 1, 2, 0, 2.0},
      {"filter 6 ignored", L"filter", L"6", 1, 2, 0, 2.0},
      {"gain 1", L"gain", L"1", 1, 2, 1, 2.0},
      {"gain 2 ignored", L"gain", L"2", 1, 2, 0, 2.0},
      {"gain_g 0 ignored", L"gain_g", L"0", 1, 2, 0, 2.0},
      {"gain_g -1 ignored", L"gain_g", L"-1", 1, 2, 0, 2.0},
      {"gain_g text ignored", L"gain_g", L"x", 1, 2, 0, 2.0},
      {"gain_g huge ignored", L"gain_g", L"1e999", 1, 2, 0, 2.0},
      {"gain_g 0.25", L"gain_g", L"0.25", 1, 2, 0, 0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLfBayer f;
    Load(f, {{L"action", L"1"}, {L"filter", L"2"}, {L"gain", L"0"}, {L"gain_g", L"2"}});
    Load(f, {{c.key, c.value}});
    const CLfBayer::Settings s = f.GetSettings();
    EXPECT_EQ(c.action, s.action);
    EXPECT_EQ(c.action, CFgUIChkButton::GetGroupSelection(&f.m_actionRadio[0]));
    EXPECT_EQ(1, f.m_actionRadio[c.action].m_checked);
    EXPECT_EQ(c.filter, s.filter);
    EXPECT_EQ(1, f.m_filterRadio[c.filter].m_checked);
    EXPECT_EQ(c.gain, s.gain);
    EXPECT_EQ(int32_t(c.gain), f.m_gainEdit[1].m_enabled);
    EXPECT_EQ(c.g, s.gains[2]);
    EXPECT_EQ(1.0, s.gains[0]);
    EXPECT_EQ(3.344, s.gains[1]);
  }
  // The saved pack round-trips.
  CLfBayer f;
  Load(f, {{L"action", L"0"}, {L"filter", L"3"}, {L"gain", L"0"}, {L"gain_r", L"2.5"},
           {L"gain_g", L"1"}, {L"gain_b", L"0.125"}});
  EXPECT_STREQ(L"2.5", f.m_gainEdit[0].GetText());
  CCfgPack pack;
  pack.SetName(L"bayer_convert");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"action 0", L"filter 3",
                                       L"gain 0", L"gain_r 2.5", L"gain_g 1", L"gain_b 0.125"}),
            PackLines(&pack));
}

// The R gain typed again and again while the host runs frames back to back: every frame
// shown was made with one R gain, the old or the new, never the old for part of the frame.
TEST(BayerConvert, GainsTypedWhileFramesRun) {
  CTestHost host;
  CImgBuff src;
  MakePicture(src, 48, 32, ImgFormatGray16, 5);
  host.SetStill(src);
  auto* f = new CLfBayer;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  CImgBuff refA, refB;
  MakePicture(refA, 48, 32, ImgFormatGray16, 5);
  MakePicture(refB, 48, 32, ImgFormatGray16, 5);
  const double a[4] = {1.0, 2.0, 3.0, 4.0}, b[4] = {1.0, 8.0, 3.0, 4.0};
  ASSERT_EQ(1, Demosaic(&refA, 2, 0, a, nullptr));
  ASSERT_EQ(1, Demosaic(&refB, 2, 0, b, nullptr));
  Type(&f->m_gainEdit[0], L"2");
  Type(&f->m_gainEdit[1], L"3");
  Type(&f->m_gainEdit[2], L"4");
  std::atomic<uint64_t> shown{0}, mixed{0};
  host.m_onProcessedHook = [&] {
    PlatformLockHold hold(host.ChainLock());
    ++shown;
    if (!SamePixels(refA, host.m_display) && !SamePixels(refB, host.m_display)) ++mixed;
  };
  std::atomic<int> stop{0};
  std::thread frames([&] {
    while (!stop) host.Reprocess(1);
  });
  for (int i = 0; i < 60; ++i) Type(&f->m_gainEdit[0], i % 2 ? L"2" : L"8");
  stop = 1;
  frames.join();
  // One frame waited for with the hook on, so that at least one is seen, however the
  // frames thread was scheduled.
  host.Reprocess(0);
  host.WaitIdle();
  host.m_onProcessedHook = nullptr;
  EXPECT_GT(shown.load(), 0u);
  EXPECT_EQ(0u, mixed.load());
}

#ifdef QV_HAVE_OPENCV
// The linear demosaic through the chain, gains off: OpenCV's bilinear Bayer conversion on
// the interior (OpenCV names a layout by its second row's first two cells).
TEST(BayerConvert, LinearThroughTheChainEqualsOpenCv) {
  const struct {
    const wchar_t* filter;
    int code;
  } cases[] = {{L"0", cv::COLOR_BayerGB2RGB},
               {L"1", cv::COLOR_BayerGR2RGB},
               {L"2", cv::COLOR_BayerBG2RGB},
               {L"3", cv::COLOR_BayerRG2RGB}};
  for (auto c : cases) {
    const int32_t w = 41, h = 29;
    CTestHost host;
    CImgBuff src;
    MakePicture(src, w, h, ImgFormatGray8, 21);
    host.SetStill(src);
    auto* f = new CLfBayer;
    ASSERT_EQ(1, host.AddFilter(f, nullptr));
    Load(*f, {{L"action", L"1"}, {L"filter", c.filter}, {L"gain", L"0"}});
    ASSERT_EQ(1, host.Reprocess(0));
    ASSERT_EQ(ImgFormatRgb24, host.m_display.Format());
    cv::Mat raw(h, w, CV_8UC1, src.Pixels()), rgb;
    cv::cvtColor(raw, rgb, c.code);
    cv::Mat got(h, w, CV_8UC3, host.m_display.Pixels());
    cv::Rect inner(1, 1, w - 2, h - 2);
    cv::Mat diff;
    cv::absdiff(got(inner), rgb(inner), diff);
    EXPECT_EQ(0, cv::countNonZero(diff.reshape(1))) << "filter " << c.filter;
  }
}
#endif

}  // namespace
