// white_balance_test.cpp - the white balance on the test host: the reference colour from
// bars, clicks and "auto", which pictures and which rectangle it changes, and its pack.
#include "filters/colour_pixel/white_balance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "app/cfgfile.h"
#include "filters/colour_pixel/rect.h"
#include "filters/colour_pixel/wave_filter.h"
#include "tests/app/testhost.h"

namespace {

std::wstring Saved(CLfWhiteBalance* wb) {
  CCfgPack pack;
  pack.SetName(L"white_balance");
  wb->SaveParams(&pack);
  std::wstring s;
  for (CCfgItem* it = pack.firstItem; it; it = it->next)
    if (std::wcscmp(it->key, L"if_enable") && std::wcscmp(it->key, L"if_visible"))
      s += std::wstring(it->key) + L" " + it->value + L"\n";
  return s;
}

void Fill(CImgBuff& p, int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatRgb24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.SetRGB8(x, y, r, g, b);
}

// a* and b* of an 8-bit sRGB colour (D65).
void Lab(uint8_t r8, uint8_t g8, uint8_t b8, double* a, double* b) {
  auto lin = [](uint8_t v) {
    double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  double R = lin(r8), G = lin(g8), B = lin(b8);
  double X = (0.4124 * R + 0.3576 * G + 0.1805 * B) / 0.95047;
  double Y = 0.2126 * R + 0.7152 * G + 0.0722 * B;
  double Z = (0.0193 * R + 0.1192 * G + 0.9505 * B) / 1.08883;
  auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
  *a = 500 * (f(X) - f(Y));
  *b = 200 * (f(Y) - f(Z));
}

TEST(WhiteBalance, NameAndNewFilter) {
  CLfWhiteBalance wb;
  EXPECT_STREQ(L"White balance", wb.GetName(L"en"));
  EXPECT_STREQ(L"\x30DB\x30EF\x30A4\x30C8\x30D0\x30E9\x30F3\x30B9", wb.GetName(L"jp"));
  EXPECT_STREQ(L"white_balance", wb.GetKey());
  EXPECT_EQ(L"", Saved(&wb));
  uint8_t rgb[3];
  wb.SwatchColour(rgb);
  EXPECT_EQ(255, rgb[0] & rgb[1] & rgb[2]);
}

TEST(WhiteBalance, BarsInitAndPack) {
  CLfWhiteBalance wb;
  wb.m_bar[0].MoveTo(128);
  EXPECT_EQ(L"R 0.498039\nG 1.000000\nB 1.000000\n", Saved(&wb));
  uint8_t rgb[3];
  wb.SwatchColour(rgb);
  EXPECT_EQ(127, rgb[0]);
  wb.m_initButton.m_callback(&wb.m_initButton, wb.m_initButton.m_user);
  for (CFgUIScrollBar& bar : wb.m_bar) EXPECT_EQ(0, bar.m_position);
  wb.SwatchColour(rgb);
  EXPECT_EQ(255, rgb[0] & rgb[1] & rgb[2]);
  EXPECT_EQ(L"", Saved(&wb));
  // The green bar alone leaves a cast to correct.
  wb.m_bar[1].MoveTo(51);
  EXPECT_EQ(L"R 1.000000\nG 0.800000\nB 1.000000\n", Saved(&wb));
  // Loading: all three present, finite and within 0 to 1, or nothing changes.
  auto load = [&](std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> kv) {
    CCfgPack pack;
    pack.SetName(L"white_balance");
    for (auto& p : kv) pack.AddItem(p.first, p.second);
    wb.LoadParams(&pack);
  };
  load({{L"R", L"0.5"}, {L"G", L"0.6"}});
  load({{L"R", L"nan"}, {L"G", L"0.6"}, {L"B", L"0.5"}});
  load({{L"R", L"1.5"}, {L"G", L"0.6"}, {L"B", L"0.5"}});
  load({{L"R", L"-0.5"}, {L"G", L"0.6"}, {L"B", L"0.5"}});
  EXPECT_EQ(L"R 1.000000\nG 0.800000\nB 1.000000\n", Saved(&wb));
  load({{L"R", L"0.5"}, {L"G", L"0.6"}, {L"B", L"0.7"}});
  EXPECT_EQ(L"R 0.500000\nG 0.600000\nB 0.700000\n", Saved(&wb));
  EXPECT_EQ(WhiteBarPosition(0.6), wb.m_bar[1].m_position);
  load({{L"R", L"0.4"}, {L"G", L"0.4"}, {L"B", L"0.4"}});
  EXPECT_EQ(L"", Saved(&wb)) << "a neutral colour needs no transform";
}

TEST(WhiteBalance, GrayPicturesNeverChangeAndClicksWait) {
  CTestHost host;
  CImgBuff gray;
  ASSERT_EQ(1, gray.Allocate(8, 8, ImgFormatGray8));
  std::memset(gray.Pixels(), 90, 64);
  host.SetStill(gray);
  auto* wb = new CLfWhiteBalance;
  ASSERT_EQ(1, host.AddFilter(wb, nullptr));
  wb->m_bar[0].MoveTo(100);
  wb->OnLButtonDown(int64_t(3), int64_t(3), uint8_t(0));
  host.Reprocess(0);
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(90, static_cast<const uint8_t*>(host.m_display.Pixels())[i]);
  // The click waits for the first colour picture.
  CImgBuff colour;
  Fill(colour, 8, 8, 200, 170, 140);
  host.SetStill(colour);
  host.Reprocess(0);
  uint8_t r, g, b;
  host.m_display.GetRGB8(4, 4, &r, &g, &b);
  double a = 0, bb = 0;
  Lab(r, g, b, &a, &bb);
  EXPECT_LT(std::hypot(a, bb), 1.5) << int(r) << " " << int(g) << " " << int(b);
  double rr, gg, bl;
  wb->GetGains(&rr, &gg, &bl, nullptr);
  EXPECT_NEAR(200 / 255.0, rr, 1e-9);
}

TEST(WhiteBalance, ClickAtTheCornerAndOutside) {
  CTestHost host;
  CImgBuff colour;
  Fill(colour, 6, 6, 200, 170, 140);
  host.SetStill(colour);
  auto* wb = new CLfWhiteBalance;
  ASSERT_EQ(1, host.AddFilter(wb, nullptr));
  wb->OnLButtonDown(int64_t(1000), int64_t(-5), uint8_t(0));
  host.Reprocess(0);
  int32_t has = 1;
  wb->GetGains(nullptr, nullptr, nullptr, &has);
  EXPECT_EQ(0, has) << "no pixel of the square inside";
  wb->OnLButtonDown(int64_t(5), int64_t(0), uint8_t(0));
  host.Reprocess(0);
  wb->GetGains(nullptr, nullptr, nullptr, &has);
  EXPECT_EQ(1, has);
  // A rectangle reaching past the picture works on the part inside it.
  CImgBuff direct;
  Fill(direct, 6, 6, 200, 170, 140);
  wb->Process(&direct, 0, 2, 0, int64_t(1) << 40, 1000, 0, 0);
  uint8_t r, g, b;
  direct.GetRGB8(5, 5, &r, &g, &b);
  EXPECT_NE(200, r);
  EXPECT_LE(std::abs(int(r) - int(b)), 3);
  direct.GetRGB8(1, 5, &r, &g, &b);
  EXPECT_EQ(200, r) << "left of the rectangle";
}

TEST(WhiteBalance, RectangleOnlyAndAutoLooksOnlyInside) {
  CTestHost host;
  CImgBuff colour;
  Fill(colour, 20, 20, 100, 140, 220);  // a blue cast outside
  for (int y = 5; y < 15; ++y)
    for (int x = 5; x < 15; ++x) colour.SetRGB8(x, y, 200, 170, 140);  // a warm one inside
  host.SetStill(colour);
  auto* rect = new CLfRect;
  ASSERT_EQ(1, host.AddFilter(rect, nullptr));
  auto* wb = new CLfWhiteBalance;
  ASSERT_EQ(1, host.AddFilter(wb, nullptr));
  rect->OnLButtonDown(5, 5, 0);
  rect->OnMouseMove(14, 14, 0);
  rect->OnLButtonUp(14, 14, 0);
  wb->m_autoButton.m_callback(&wb->m_autoButton, wb->m_autoButton.m_user);
  host.Reprocess(0);
  uint8_t r, g, b;
  host.m_display.GetRGB8(10, 10, &r, &g, &b);
  double a = 0, bb = 0;
  Lab(r, g, b, &a, &bb);
  EXPECT_LT(std::hypot(a, bb), 1.5) << int(r) << " " << int(g) << " " << int(b);
  host.m_display.GetRGB8(2, 2, &r, &g, &b);
  EXPECT_EQ(100, r);
  EXPECT_EQ(140, g);
  EXPECT_EQ(220, b);
}

// The UI thread drags bars, presses "auto" and "init", clicks and switches the colour
// filter's modes while the worker runs gray and colour frames with clicks pending.  A
// watchdog ends the process instead of letting a lock-up hang the run.
TEST(WhiteBalance, LockStress) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(120), [&] { return done; })) {
      std::fprintf(stderr, "white balance lock stress: no progress in 120 s\n");
      std::abort();
    }
  });
  {
    CTestHost host;
    CImgBuff gray, colour;
    ASSERT_EQ(1, gray.Allocate(64, 48, ImgFormatGray8));
    std::memset(gray.Pixels(), 77, 64 * 48);
    Fill(colour, 64, 48, 210, 160, 120);
    host.SetStill(colour);
    auto* wave = new CLfWave;
    auto* wb = new CLfWhiteBalance;
    ASSERT_EQ(1, host.AddFilter(wb, nullptr));
    ASSERT_EQ(1, host.AddFilter(wave, nullptr));
    uint32_t seed = 12345;
    auto next = [&](uint32_t n) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) % n;
    };
    for (int i = 0; i < 400; ++i) {
      switch (next(7)) {
        case 0: wb->m_bar[next(3)].MoveTo(int32_t(next(256))); break;
        case 1: wb->m_autoButton.m_callback(&wb->m_autoButton, wb->m_autoButton.m_user); break;
        case 2: wb->OnLButtonDown(int64_t(next(70)) - 3, int64_t(next(50)) - 3, uint8_t(0)); break;
        case 3: wb->m_initButton.m_callback(&wb->m_initButton, wb->m_initButton.m_user); break;
        case 4: {
          int32_t n = int32_t(next(3));
          CFgUIChkButton::SetGroupSelection(&wave->m_filterRadio[0], n, 0);
          wave->m_filterRadio[n].m_callback(&wave->m_filterRadio[n], wave);
          break;
        }
        case 5: {
          int32_t n = int32_t(next(3));
          wave->m_waveButton[n].m_callback(&wave->m_waveButton[n], wave);
          break;
        }
        default: host.SetStill(next(2) ? gray : colour); break;
      }
      host.Reprocess(1);
    }
    host.Reprocess(0);
  }
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  cv.notify_one();
  watchdog.join();
}

}  // namespace
