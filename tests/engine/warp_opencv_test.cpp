// RotateScale and TiltCorrect beside OpenCV's warpAffine and warpPerspective (bilinear,
// inverse map, constant border), where OpenCV is installed.  Ours blends in doubles (or on a
// tenth-pixel grid) and truncates; OpenCV quantises its weights to 1/32 and rounds, so on a
// smooth picture ours equals OpenCV's or is one lower, and the tilt stays within 2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/rotate_scale.h"
#include "engine/tilt.h"
#include "tests/engine/engine_test_util.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// 128 + 100 sin(x / 40) cos(y / 30), in every channel.
void Smooth(CImgBuff& img, int32_t w, int32_t h, int32_t format) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t v = uint8_t(128 + 100 * std::sin(x / 40.0) * std::cos(y / 30.0));
      img.SetRGB8(x, y, v, uint8_t(255 - v), v);
    }
}

cv::Mat Wrap(const CImgBuff& img) {
  return cv::Mat(img.Height(), img.Width(), img.Format() == 1 ? CV_8UC1 : CV_8UC3, img.Pixels());
}

// Compares every channel of the pixels whose source point lies two pixels inside the picture
// (source(x, y, &sx, &sy) gives it, 0 for none): OpenCV's value minus ours must lie in
// lo .. hi.  Returns how many pixels were compared.
template <class SourceFn>
int64_t CompareInside(const CImgBuff& ours, const cv::Mat& theirs, SourceFn source, int32_t lo, int32_t hi,
                      const char* what) {
  const int32_t w = ours.Width(), h = ours.Height(), ch = ours.Format() == 1 ? 1 : 3;
  int64_t compared = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      double sx, sy;
      if (!source(x, y, &sx, &sy) || sx < 2 || sy < 2 || sx > w - 3 || sy > h - 3) continue;
      const uint8_t* p = RowPtr<uint8_t>(ours.record, x, y);
      const uint8_t* q = theirs.ptr<uint8_t>(y) + x * ch;
      for (int32_t k = 0; k < ch; ++k) {
        const int32_t d = int32_t(q[k]) - int32_t(p[k]);
        EXPECT_TRUE(d >= lo && d <= hi) << what << " format " << ours.Format() << " (" << x << ", " << y
                                        << "): ours " << int(p[k]) << ", OpenCV " << int(q[k]);
        if (d < lo || d > hi) return compared;
      }
      ++compared;
    }
  return compared;
}

}  // namespace

TEST(WarpBesideOpenCV, RotateScaleEqualsWarpAffineOrOneLower) {
  const int32_t w = 320, h = 240;
  struct Case {
    int32_t cx, cy;
    double angle, scale;
  } cases[] = {{160, 120, 17.5, 1.0}, {100, 150, -63.0, 1.7}, {200, 80, 140.0, 0.6}, {159, 119, 3.0, 2.5}};
  for (int32_t format : {1, 4})
    for (const Case& c : cases) {
      CImgBuff ours, src;
      Smooth(src, w, h, format);
      enginetest::CopyPicture(ours, src);
      ASSERT_EQ(1, RotateScale(&ours, c.cx, c.cy, c.angle, c.scale, 0, 0));
      // The map from output to source: sx = (dx cos a - dy sin a) / scale + cx, a = -angle.
      const double a = -c.angle * 3.141592653589793 / 180, inv = 1 / c.scale;
      const double hx = (w - 1) / 2, hy = (h - 1) / 2, ca = std::cos(a), sa = std::sin(a);
      cv::Mat M = (cv::Mat_<double>(2, 3) << ca * inv, -sa * inv, c.cx - (hx * ca - hy * sa) * inv, sa * inv,
                   ca * inv, c.cy - (hx * sa + hy * ca) * inv);
      cv::Mat theirs;
      cv::warpAffine(Wrap(src), theirs, M, cv::Size(w, h), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                     cv::BORDER_CONSTANT, cv::Scalar::all(0));
      auto source = [&](int32_t x, int32_t y, double* sx, double* sy) {
        *sx = M.at<double>(0, 0) * x + M.at<double>(0, 1) * y + M.at<double>(0, 2);
        *sy = M.at<double>(1, 0) * x + M.at<double>(1, 1) * y + M.at<double>(1, 2);
        return 1;
      };
      const int64_t compared = CompareInside(ours, theirs, source, 0, 1, "RotateScale");
      EXPECT_GT(compared, w * h / 5);
    }
}

// The homography: four output pixels traced back by TiltCorrect itself, read from pictures
// whose values code their own x (or y) in tenths, so the sampler returns the traced point.
TEST(WarpBesideOpenCV, TiltCorrectWithinTwoOfWarpPerspective) {
  const int32_t w = 320, h = 240;
  CameraModel cam{};
  ASSERT_EQ(1, SetCameraModel(&cam, 8, w, h, 5, 5));
  const double angles[3] = {20, -15, 0};
  const double zoom = 1.2;
  CImgBuff codeX, codeY;
  ASSERT_EQ(1, codeX.Allocate(w, h, 2));
  ASSERT_EQ(1, codeY.Allocate(w, h, 2));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      codeX.SetGray16(x, y, uint16_t(1000 + 100 * x));
      codeY.SetGray16(x, y, uint16_t(1000 + 100 * y));
    }
  ASSERT_EQ(1, TiltCorrect(&codeX, &cam, angles, zoom, 0));
  ASSERT_EQ(1, TiltCorrect(&codeY, &cam, angles, zoom, 0));
  // Source point of an output pixel in pixels, or -1 where the fill was written.
  auto traced = [&](int32_t x, int32_t y, double* sx, double* sy) {
    uint16_t a, b;
    codeX.GetGray16(x, y, &a);
    codeY.GetGray16(x, y, &b);
    if (a == 0 || b == 0) return 0;
    *sx = (a - 1000) / 100.0;
    *sy = (b - 1000) / 100.0;
    return 1;
  };
  const cv::Point2f outPts[4] = {{40, 30}, {280, 30}, {280, 210}, {40, 210}};
  cv::Point2f srcPts[4];
  for (int32_t k = 0; k < 4; ++k) {
    double sx, sy;
    ASSERT_EQ(1, traced(int32_t(outPts[k].x), int32_t(outPts[k].y), &sx, &sy)) << k;
    srcPts[k] = cv::Point2f(float(sx), float(sy));
  }
  const cv::Mat H = cv::getPerspectiveTransform(outPts, srcPts);

  for (int32_t format : {1, 4}) {
    CImgBuff ours, src;
    Smooth(src, w, h, format);
    enginetest::CopyPicture(ours, src);
    ASSERT_EQ(1, TiltCorrect(&ours, &cam, angles, zoom, 0));
    cv::Mat theirs;
    cv::warpPerspective(Wrap(src), theirs, H, cv::Size(w, h), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                        cv::BORDER_CONSTANT, cv::Scalar::all(0));
    const int64_t compared = CompareInside(ours, theirs, traced, -2, 2, "TiltCorrect");
    EXPECT_GT(compared, w * h / 3);
  }
}

#else

TEST(WarpBesideOpenCV, NeedsOpenCV) { GTEST_SKIP() << "OpenCV is not installed"; }

#endif
