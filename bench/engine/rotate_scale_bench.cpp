// RotateScale on a 1920 x 1080 picture, gray and R, G, B 8-bit, one worker and all: a turn
// with a mild enlargement, and OpenCV warpAffine (bilinear, inverse map, constant border)
// with the same map beside it.
#include <cmath>

#include "bench/engine/engine_bench_util.h"
#include "engine/rotate_scale.h"

using namespace enginebench;

namespace {

constexpr double kAngle = 17.5, kScale = 1.25;

void RunRotate(benchmark::State& state, int32_t format) {
  Workers(state, state.range(0));
  Fixture f(format);
  for (auto _ : state) benchmark::DoNotOptimize(RotateScale(&f.img, W / 2, H / 2, kAngle, kScale, 0, 0));
}

}  // namespace

static void BM_RotateScaleGray(benchmark::State& state) { RunRotate(state, 1); }
ENGINE_BENCH(BM_RotateScaleGray);
static void BM_RotateScaleRgb(benchmark::State& state) { RunRotate(state, 4); }
ENGINE_BENCH(BM_RotateScaleRgb);

#ifdef QV_HAVE_OPENCV
namespace {

void RunWarpAffine(benchmark::State& state, int type) {
  Workers(state, state.range(0));
  cv::Mat src = RandomMat(type), dst;
  const double a = -kAngle * 3.141592653589793 / 180, inv = 1 / kScale;
  const double hx = (W - 1) / 2, hy = (H - 1) / 2, cx = W / 2, cy = H / 2, c = std::cos(a), s = std::sin(a);
  cv::Mat M = (cv::Mat_<double>(2, 3) << c * inv, -s * inv, cx - (hx * c - hy * s) * inv, s * inv, c * inv,
               cy - (hx * s + hy * c) * inv);
  for (auto _ : state) {
    cv::warpAffine(src, dst, M, src.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(dst.data);
  }
}

}  // namespace

static void BM_OpenCVWarpAffineGray(benchmark::State& state) { RunWarpAffine(state, CV_8UC1); }
ENGINE_BENCH(BM_OpenCVWarpAffineGray);
static void BM_OpenCVWarpAffineRgb(benchmark::State& state) { RunWarpAffine(state, CV_8UC3); }
ENGINE_BENCH(BM_OpenCVWarpAffineRgb);
#endif
