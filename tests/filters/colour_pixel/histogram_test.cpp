// histogram_test.cpp - the histogram filter without a window: the picture of the counts, the
// stretch at 8 and 32 bits, the fit and reset clicks on the test host, the settings readings
// and a range bar moved while the host processes frames back to back.
#include "filters/colour_pixel/histogram.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using filtertest::PackLines;

void SetRange(CLfHistogram* f, int32_t lo, int32_t hi) {
  f->m_rangeBar.m_low = lo;
  f->m_rangeBar.m_high = hi;
  f->m_rangeBar.m_callback(&f->m_rangeBar, f->m_rangeBar.m_user, lo, hi);
}

std::vector<uint8_t> Run8(CLfHistogram* f, const std::vector<uint8_t>& levels) {
  CImgBuff img;
  EXPECT_EQ(1, img.Allocate(int32_t(levels.size()), 1, ImgFormatGray8));
  auto* p = static_cast<uint8_t*>(img.Pixels());
  for (size_t i = 0; i < levels.size(); ++i) p[i] = levels[i];
  f->Process(&img, 0, 0, 0, int64_t(levels.size()), 1, 8, 0);
  return std::vector<uint8_t>(p, p + levels.size());
}

// Polls for what an asynchronous run leaves behind; false after five seconds.
template <class Fn>
bool WaitFor(Fn done) {
  for (int i = 0; i < 5000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

TEST(Histogram, DefaultsNameAndPack) {
  CLfHistogram f;
  EXPECT_STREQ(L"Histogram", f.GetName(L"en"));
  EXPECT_STREQ(L"\x30D2\x30B9\x30C8\x30B0\x30E9\x30E0", f.GetName(L"jp"));
  EXPECT_STREQ(L"histogram", f.GetKey());
  EXPECT_EQ(276u, f.m_layout.widthEn);
  EXPECT_EQ(167u, f.m_layout.heightJa);
  EXPECT_EQ(nullptr, f.GetSettings().table);
  CCfgPack pack;
  pack.SetName(L"histogram");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"min 0", L"max 255",
                                       L"view 10000"}),
            PackLines(&pack));
}

TEST(Histogram, StretchEightBit) {
  CLfHistogram f;
  f.m_filterEnabled = 1;
  EXPECT_EQ((std::vector<uint8_t>{63, 64, 128, 191, 192}), Run8(&f, {63, 64, 128, 191, 192}));
  SetRange(&f, 64, 191);
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 128, 255, 255}), Run8(&f, {63, 64, 128, 191, 192}));
  // min = max: 0 up to the level, 255 above it.
  SetRange(&f, 100, 100);
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 255}), Run8(&f, {99, 100, 101}));
}

TEST(Histogram, StretchThirtyTwoBit) {
  CLfHistogram f;
  f.m_filterEnabled = 1;
  SetRange(&f, 64, 191);
  const uint32_t in[] = {0, 64u << 24, (64u << 24) + 1, (192u << 24) - 2, (192u << 24) - 1,
                         4294967295u};
  CImgBuff img;
  ASSERT_EQ(1, img.Allocate(6, 1, ImgFormatGray32));
  auto* p = static_cast<uint32_t*>(img.Pixels());
  for (int i = 0; i < 6; ++i) p[i] = in[i];
  f.Process(&img, 0, 0, 0, 6, 1, 8, 0);
  EXPECT_EQ(0u, p[0]);
  EXPECT_EQ(0u, p[1]);
  EXPECT_LT(0u, p[2]);
  EXPECT_GT(4294967295u, p[3]);
  EXPECT_EQ(4294967295u, p[4]);
  EXPECT_EQ(4294967295u, p[5]);
}

TEST(Histogram, PictureOfTheCounts) {
  HistogramCounts c;
  c.bins[0][0] = 1000000;  // outside the scale, cut at 99 rows
  c.bins[0][10] = 50;
  c.bins[0][20] = 100;
  c.bins[0][255] = 7;
  c.maxCount = 100;
  CImgBuff pic;
  ASSERT_EQ(1, DrawHistogramPicture(c, 0, 15, 10000, 1, &pic));
  ASSERT_EQ(ImgFormatGray8, pic.Format());
  auto at = [&](int x, int y) { return static_cast<const uint8_t*>(pic.Pixels())[y * 256 + x]; };
  EXPECT_EQ(0, at(0, 0));     // bars stop at 99 rows
  EXPECT_EQ(255, at(0, 1));
  EXPECT_EQ(255, at(10, 50));  // 50 * 100 / 100 = 50 rows: rows 50 to 99, inside the range
  EXPECT_EQ(0, at(10, 49));
  EXPECT_EQ(127, at(20, 1));   // the highest bar reaches row 1, outside the range
  EXPECT_EQ(0, at(20, 0));
  EXPECT_EQ(127, at(255, 99)); // 7 rows
  EXPECT_EQ(0, at(255, 92));
  EXPECT_EQ(0, at(5, 99));
  // view 100 magnifies 100 times: scale 1, every occupied level cut at 99 rows.
  ASSERT_EQ(1, DrawHistogramPicture(c, 0, 255, 100, 1, &pic));
  EXPECT_EQ(255, at(10, 1));
  EXPECT_EQ(0, at(10, 0));
  // Disabled: black becomes 64.
  ASSERT_EQ(1, DrawHistogramPicture(c, 0, 255, 10000, 0, &pic));
  EXPECT_EQ(64, at(5, 99));
  EXPECT_EQ(255, at(20, 99));
  // Colour: each array in its own channel, overlaps mix.
  HistogramCounts rgb;
  rgb.colour = 1;
  rgb.maxCount = 10;
  rgb.bins[0][30] = 10;
  rgb.bins[1][30] = 5;
  rgb.bins[2][200] = 10;
  ASSERT_EQ(1, DrawHistogramPicture(rgb, 0, 100, 10000, 1, &pic));
  ASSERT_EQ(ImgFormatRgb24, pic.Format());
  auto px = [&](int x, int y, int a) {
    return static_cast<const uint8_t*>(pic.Pixels())[(y * 256 + x) * 3 + a];
  };
  EXPECT_EQ(255, px(30, 99, 0));
  EXPECT_EQ(255, px(30, 99, 1));
  EXPECT_EQ(0, px(30, 99, 2));
  EXPECT_EQ(255, px(30, 10, 0));
  EXPECT_EQ(0, px(30, 10, 1));
  EXPECT_EQ(127, px(200, 99, 2));
  EXPECT_EQ(0, px(200, 99, 0));
}

TEST(Histogram, ProcessCountsAndDraws) {
  CLfHistogram f;
  f.m_filterEnabled = 1;
  std::vector<uint8_t> levels(300, 0);
  for (int i = 0; i < 20; ++i) levels[i] = 100;
  for (int i = 20; i < 30; ++i) levels[i] = 150;
  Run8(&f, levels);
  HistogramCounts c = f.GetCounts();
  EXPECT_EQ(0u, c.colour);
  EXPECT_EQ(270u, c.bins[0][0]);
  EXPECT_EQ(20u, c.maxCount);  // level 0 stays out of the scale
  CImgBuff pic;
  f.CopyPicture(&pic);
  ASSERT_EQ(ImgFormatGray8, pic.Format());
  const auto* p = static_cast<const uint8_t*>(pic.Pixels());
  EXPECT_EQ(255, p[1 * 256 + 100]);
  EXPECT_EQ(0, p[0 * 256 + 100]);
  EXPECT_EQ(255, p[50 * 256 + 150]);
  EXPECT_EQ(0, p[49 * 256 + 150]);
  // An empty picture gives a black picture.
  CImgBuff empty;
  f.Process(&empty, 0, 0, 0, 1, 1, 8, 0);
  f.CopyPicture(&pic);
  EXPECT_EQ(0, static_cast<const uint8_t*>(pic.Pixels())[99 * 256 + 100]);
}

TEST(Histogram, ClickFitsThenStretchesThenResets) {
  CTestHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(4, 1, ImgFormatGray8));
  const uint8_t in[4] = {40, 60, 80, 120};
  std::memcpy(src.Pixels(), in, 4);
  host.SetStill(src);
  auto* f = new CLfHistogram;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  // Disabled: a click does nothing.
  f->m_filterEnabled = 0;
  f->OnLButtonDown(100, 50);
  EXPECT_EQ(0u, f->GetSettings().fit);
  f->m_filterEnabled = 1;
  ASSERT_EQ(1, host.Reprocess(0));
  // The click asks for a frame without waiting; that run fits the range, and the range
  // change asks for one more.
  f->OnLButtonDown(100, 50);
  ASSERT_TRUE(WaitFor([&] { return f->GetSettings().min == 40; }));
  EXPECT_EQ(40u, f->GetSettings().min);
  EXPECT_EQ(120u, f->GetSettings().max);
  EXPECT_EQ(40, f->m_rangeBar.m_low);
  EXPECT_EQ(120, f->m_rangeBar.m_high);
  ASSERT_EQ(1, host.Reprocess(0));
  const auto* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(255, out[3]);
  EXPECT_EQ(63, out[1]);  // (60 - 40) * 255 / 80
  // A click outside the histogram leaves the range; one inside resets it.
  f->OnLButtonDown(5, 5);
  EXPECT_EQ(40u, f->GetSettings().min);
  f->OnLButtonDown(137, 20);
  EXPECT_EQ(0u, f->GetSettings().min);
  EXPECT_EQ(255u, f->GetSettings().max);
  EXPECT_EQ(255, f->m_rangeBar.m_high);
}

TEST(Histogram, LoadParamsReadings) {
  struct Case {
    const wchar_t *min, *max, *view;  // null: key missing
    uint64_t expectMin, expectMax, expectView;
  } cases[] = {
      {L"10", L"20", L"500", 10, 20, 500},
      {L"10", nullptr, nullptr, 0, 255, 10000},
      {L"200", L"100", nullptr, 0, 255, 10000},
      {L"0", L"256", nullptr, 0, 255, 10000},
      {L"7", L"7", L"0", 7, 7, 10000},
      {nullptr, nullptr, L"10001", 0, 255, 10000},
      {nullptr, nullptr, L"1", 0, 255, 1},
  };
  for (const Case& c : cases) {
    CLfHistogram f;
    CCfgPack pack;
    pack.SetName(L"histogram");
    if (c.min) pack.AddItem(L"min", c.min);
    if (c.max) pack.AddItem(L"max", c.max);
    if (c.view) pack.AddItem(L"view", c.view);
    f.LoadParams(&pack);
    CLfHistogram::Settings s = f.GetSettings();
    EXPECT_EQ(c.expectMin, s.min);
    EXPECT_EQ(c.expectMax, s.max);
    EXPECT_EQ(c.expectView, s.view);
    EXPECT_EQ(int32_t(c.expectMin), f.m_rangeBar.m_low);
    EXPECT_EQ(int32_t(c.expectMax), f.m_rangeBar.m_high);
    EXPECT_EQ(int32_t(c.expectView), f.m_viewBar.m_position);
    EXPECT_EQ(c.expectMin != 0 || c.expectMax != 255, s.table != nullptr);
  }
}

// The fit path asks for a frame from the worker while the UI side moves the range bar and
// the host processes frames back to back: it must end, without deadlock.
TEST(Histogram, RangeBarMovedWhileFramesRun) {
  CTestHost host;
  CImgBuff src;
  apptest::MakePicture(src, 64, 48, ImgFormatRgb24);
  host.SetStill(src);
  auto* f = new CLfHistogram;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  std::atomic<int> stop{0};
  std::thread frames([&] {
    while (!stop) host.Reprocess(1);
  });
  for (int i = 0; i < 300; ++i) {
    SetRange(f, i % 100, 100 + i % 150);
    if (i % 10 == 0) {
      SetRange(f, 0, 255);
      f->OnLButtonDown(100, 50);
    }
  }
  stop = 1;
  frames.join();
  ASSERT_EQ(1, host.Reprocess(0));
}

}  // namespace
