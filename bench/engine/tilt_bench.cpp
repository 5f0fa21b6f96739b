// TiltCorrect on a 1920 x 1080 picture, gray and R, G, B 8-bit, one worker and all (pan 20,
// tilt -15, zoom 1.2), and OpenCV warpPerspective (bilinear, inverse map, constant border)
// with a homography of about the same shape beside it.
#include "bench/engine/engine_bench_util.h"
#include "engine/tilt.h"

using namespace enginebench;

namespace {

void RunTilt(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  Fixture f(format);
  CameraModel cam{};
  SetCameraModel(&cam, 8, W, H, 5, 5);
  const double angles[3] = {20, -15, 0};
  for (auto _ : state) benchmark::DoNotOptimize(TiltCorrect(&f.img, &cam, angles, 1.2, 0));
}

}  // namespace

static void BM_TiltCorrectGray(benchmark::State& state) { RunTilt(state, 1); }
ENGINE_BENCH(BM_TiltCorrectGray);
static void BM_TiltCorrectRgb(benchmark::State& state) { RunTilt(state, 4); }
ENGINE_BENCH(BM_TiltCorrectRgb);

#ifdef QV_HAVE_OPENCV
namespace {

void RunWarpPerspective(benchmark::State& state, int type) {
  Workers(state, state.range(0));
  cv::Mat src = RandomMat(type), dst;
  const cv::Point2f out[4] = {{0, 0}, {W, 0}, {W, H}, {0, H}};
  const cv::Point2f in[4] = {{120, 60}, {W - 60, 10}, {W - 20, H - 30}, {80, H - 120}};
  const cv::Mat Hm = cv::getPerspectiveTransform(out, in);
  for (auto _ : state) {
    cv::warpPerspective(src, dst, Hm, src.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(dst.data);
  }
}

}  // namespace

static void BM_OpenCVWarpPerspectiveGray(benchmark::State& state) { RunWarpPerspective(state, CV_8UC1); }
ENGINE_BENCH(BM_OpenCVWarpPerspectiveGray);
static void BM_OpenCVWarpPerspectiveRgb(benchmark::State& state) { RunWarpPerspective(state, CV_8UC3); }
ENGINE_BENCH(BM_OpenCVWarpPerspectiveRgb);
#endif
