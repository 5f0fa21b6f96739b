// trackhsv_opencv_test.cpp - the colour tracker beside OpenCV: the binarisation of a
// palette picture against OpenCV's HSV threshold (the palette keeps every colour far from
// the window's edges, where the two HSV scales round differently), and Locate's centre
// against the moments of OpenCV's own mask of a disc.  Skipped where OpenCV is missing.
#include "measure/trackhsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/imgbuff.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

#ifdef QV_HAVE_OPENCV

// 8-bit R, G, B of a hue in degrees, saturation and value 0 to 1.
void HsvToRgb8(double deg, double s, double v, uint8_t out[3])
{
  const double c = v * s, hp = deg / 60.0, x = c * (1 - std::fabs(std::fmod(hp, 2.0) - 1));
  double r = 0, g = 0, b = 0;
  if (hp < 1) r = c, g = x;
  else if (hp < 2) r = x, g = c;
  else if (hp < 3) g = c, b = x;
  else if (hp < 4) g = x, b = c;
  else if (hp < 5) r = x, b = c;
  else r = c, b = x;
  const double m = v - c;
  out[0] = uint8_t(std::lround((r + m) * 255));
  out[1] = uint8_t(std::lround((g + m) * 255));
  out[2] = uint8_t(std::lround((b + m) * 255));
}

cv::Mat ToMat(const CImgBuff& pic)
{
  cv::Mat m(pic.Height(), pic.Width(), CV_8UC3);
  for (int32_t y = 0; y < pic.Height(); ++y)
    for (int32_t x = 0; x < pic.Width(); ++x) {
      cv::Vec3b& p = m.at<cv::Vec3b>(y, x);
      pic.GetRGB8(x, y, &p[0], &p[1], &p[2]);
    }
  return m;
}

TEST(TrackHsvOpenCv, BinarisationMatchesInRangeOnAPalette)
{
  const double hues[] = {0, 30, 50, 60, 70, 90, 180, 300};
  const double sats[] = {0.0, 0.2, 0.6, 1.0};
  const double vals[] = {0.2, 0.5, 1.0};
  std::mt19937 rng(160);
  CImgBuff pic;
  ASSERT_EQ(1, pic.Allocate(48, 36, ImgFormatRgb24));
  for (int32_t y = 0; y < 36; ++y)
    for (int32_t x = 0; x < 48; ++x) {
      uint8_t c[3];
      HsvToRgb8(hues[rng() % 8], sats[rng() % 4], vals[rng() % 3], c);
      pic.SetRGB8(x, y, c[0], c[1], c[2]);
    }
  // 40 to 80 degrees, saturation and value from 0.4 and 0.3.
  ColourWindow w;
  w.hue = 10922;
  w.halfWidth = 3641;
  w.satLow = 26214;
  w.valLow = 19661;
  TrackBinarySettings plain;
  plain.holeFill = 0;
  plain.noiseAuto = 0;
  CTrackHSV track;
  CImgBuff crop;
  crop.CopyFrom(pic);
  ASSERT_EQ(1, track.Binarize(&crop, w, plain));

  cv::Mat hsv, mask;
  cv::cvtColor(ToMat(pic), hsv, cv::COLOR_RGB2HSV_FULL);  // hue 0 to 255 for 0 to 360 degrees
  cv::inRange(hsv, cv::Scalar(28, 102, 77), cv::Scalar(57, 255, 255), mask);
  int32_t inside = 0;
  for (int32_t y = 0; y < 36; ++y)
    for (int32_t x = 0; x < 48; ++x) {
      uint8_t g;
      crop.GetGray8(x, y, &g);
      const bool object = g == 0;
      inside += object;
      EXPECT_EQ(mask.at<uint8_t>(y, x) != 0, object) << x << "," << y;
    }
  EXPECT_GT(inside, 30);
}

TEST(TrackHsvOpenCv, LocateEqualsTheMomentsOfOpenCvsMask)
{
  std::mt19937 rng(161);
  std::uniform_real_distribution<double> frac(0.0, 1.0);
  for (int i = 0; i < 10; ++i) {
    CImgBuff pic;
    ASSERT_EQ(1, pic.Allocate(41, 41, ImgFormatRgb24));
    for (int32_t y = 0; y < 41; ++y)
      for (int32_t x = 0; x < 41; ++x) {
        const uint8_t g = uint8_t(40 + rng() % 180);
        pic.SetRGB8(x, y, g, g, g);
      }
    const double cx = 20 + frac(rng), cy = 19 + frac(rng);
    for (int32_t y = 0; y < 41; ++y)
      for (int32_t x = 0; x < 41; ++x) {
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 64.0) pic.SetRGB8(x, y, 230, 20, 10);
        if ((x - cx - 14) * (x - cx - 14) + (y - cy + 12) * (y - cy + 12) <= 25.0) pic.SetRGB8(x, y, 10, 20, 230);
      }
    CTrackCtrl ctrl;  // default settings: holes filled, automatic noise bounds
    auto* track = new CTrackHSV;
    track->w = track->h = 41;
    ColourWindow w;
    w.hue = 0;
    w.halfWidth = 2000;
    w.satLow = 30000;
    w.valLow = 30000;
    track->SetWindow(w);
    ASSERT_EQ(0, ctrl.AddTrack(track));
    CImgBuff crop;
    crop.CopyFrom(pic);
    double x, y;
    ASSERT_EQ(1, track->Locate(&crop, &x, &y));

    cv::Mat hsv, low, high, mask;
    cv::cvtColor(ToMat(pic), hsv, cv::COLOR_RGB2HSV_FULL);
    cv::inRange(hsv, cv::Scalar(0, 117, 117), cv::Scalar(8, 255, 255), low);
    cv::inRange(hsv, cv::Scalar(248, 117, 117), cv::Scalar(255, 255, 255), high);
    mask = low | high;
    const cv::Moments m = cv::moments(mask, true);
    ASSERT_GT(m.m00, 150.0);
    EXPECT_NEAR(m.m10 / m.m00, x, 1e-9) << i;
    EXPECT_NEAR(m.m01 / m.m00, y, 1e-9) << i;
  }
}

#else

TEST(TrackHsvOpenCv, Skipped) { GTEST_SKIP() << "built without OpenCV"; }

#endif

}  // namespace
