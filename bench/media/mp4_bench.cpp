// mp4_bench.cpp - H.264 in MP4 at 1920 x 1080, 100 frames: encoding with openh264, and
// reading an x264 High-profile file (its defaults, B-frames included): the open alone,
// the open plus every frame to R,G,B, one seek, each on one worker and on all of them;
// ffmpeg's single-threaded decode to R,G,B of the same file as the yardstick.
#include "core/parallel.h"
#include "media/h264.h"
#include "media/mp4.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 100;

std::string OursPath() { return "/tmp/qv_mp4_bench_1080p.mp4"; }
std::string X264Path() { return "/tmp/qv_mp4_bench_1080p_x264.mp4"; }

// Frames are windows of one larger picture moving by a few pixels a frame: real motion
// for the encoder, and a row copy per frame to make.
struct Scene {
  int w = kWidth + 2 * kFrames * 3, h = kHeight + 2 * kFrames * 2;
  std::vector<uint8_t> big;
  std::vector<uint8_t> frame;
  Scene() : big(size_t(w) * h * 3), frame(size_t(kWidth) * kHeight * 3) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = &big[(size_t(y) * w + x) * 3];
        p[0] = uint8_t((x * 7 + y * 3) / 5);
        p[1] = uint8_t((x ^ y) & 0xFF);
        p[2] = uint8_t((x / 16 + y / 16) * 20);
      }
  }
  const uint8_t* Frame(int n) {
    for (int y = 0; y < kHeight; ++y)
      memcpy(&frame[size_t(y) * kWidth * 3], &big[((size_t(y) + 2 * n) * w + size_t(3 * n)) * 3], size_t(kWidth) * 3);
    return frame.data();
  }
};

int WriteFile(const std::string& path, Scene& scene) {
  Mp4Writer* w = Mp4WriterOpen(path.c_str(), kWidth, kHeight, 24, 40000, Mp4WriterSettings{0, 8000000, 25});
  if (!w) return 0;
  for (int n = 0; n < kFrames; ++n)
    if (!Mp4WriterAddFrame(w, scene.Frame(n))) {
      Mp4WriterClose(w);
      return 0;
    }
  return Mp4WriterClose(w);
}

bool HaveFfmpeg() { return system("ffmpeg -version >/dev/null 2>&1") == 0; }

struct Fixture {
  bool encoder = false;  // openh264 found
  bool x264 = false;     // the x264 file made
  Fixture() {
    StartWorkerPool();
    encoder = OpenH264Load() == 1;
    if (HaveFfmpeg()) {
      const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 100 "
                              "-c:v libx264 -profile:v high -pix_fmt yuv420p " + X264Path();
      x264 = system(cmd.c_str()) == 0;
    }
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

// Worker count for one run: the argument, 0 for all processors.
void SetWorkers(benchmark::State& state) {
  const uint64_t n = state.range(0) == 0 ? GetProcessorCount() : uint64_t(state.range(0));
  SetWorkerCount(n);
  state.counters["workers"] = double(n);
}

void BM_Mp4Encode1080p(benchmark::State& state) {
  if (!Shared().encoder) return state.SkipWithError("openh264 missing");
  Scene scene;
  for (auto _ : state) {
    if (!WriteFile(OursPath(), scene)) return state.SkipWithError("encode failed");
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Mp4Encode1080p)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The open: tables, frame index, and the first frame decoded.
void BM_Mp4Open1080p(benchmark::State& state) {
  if (!Shared().x264) return state.SkipWithError("ffmpeg missing");
  SetWorkers(state);
  for (auto _ : state) {
    Mp4Reader* r = Mp4ReaderOpen(X264Path().c_str(), nullptr, nullptr);
    if (!r) return state.SkipWithError("open failed");
    benchmark::DoNotOptimize(r->frameCount);
    Mp4ReaderFree(r);
  }
  SetWorkerCount(GetProcessorCount());
}
BENCHMARK(BM_Mp4Open1080p)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Open plus every frame to R,G,B, in order: what the ffmpeg yardstick below does.
void BM_Mp4OpenAndReadAll1080p(benchmark::State& state) {
  if (!Shared().x264) return state.SkipWithError("ffmpeg missing");
  SetWorkers(state);
  std::vector<uint8_t> out(size_t(kWidth) * kHeight * 3);
  for (auto _ : state) {
    Mp4Reader* r = Mp4ReaderOpen(X264Path().c_str(), nullptr, nullptr);
    if (!r) return state.SkipWithError("open failed");
    for (uint32_t f = 0; f < r->frameCount; ++f)
      if (!Mp4DecodeFrame(r, f, out.data(), out.size())) return state.SkipWithError("decode failed");
    Mp4ReaderFree(r);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  SetWorkerCount(GetProcessorCount());
}
BENCHMARK(BM_Mp4OpenAndReadAll1080p)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// One seek on an open file: back to frame 0 and then to the frame asked for (the whole
// file is one GOP, so frame 60 decodes sixty frames before it).
void BM_Mp4Seek1080p(benchmark::State& state) {
  if (!Shared().x264) return state.SkipWithError("ffmpeg missing");
  SetWorkers(state);
  Mp4Reader* r = Mp4ReaderOpen(X264Path().c_str(), nullptr, nullptr);
  if (!r) return state.SkipWithError("open failed");
  std::vector<uint8_t> out(size_t(kWidth) * kHeight * 3);
  const uint64_t target = uint64_t(state.range(1));
  for (auto _ : state) {
    state.PauseTiming();
    Mp4DecodeFrame(r, 50, nullptr, 0);  // somewhere else first
    state.ResumeTiming();
    if (!Mp4DecodeFrame(r, target, out.data(), out.size())) return state.SkipWithError("decode failed");
  }
  Mp4ReaderFree(r);
  SetWorkerCount(GetProcessorCount());
}
BENCHMARK(BM_Mp4Seek1080p)
    ->ArgsProduct({{1, 2, 4, 0}, {0, 1, 3, 20}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

// The yardstick: ffmpeg's decoder on one thread to R,G,B frames written nowhere (process
// start-up included, a few milliseconds).
void BM_FfmpegDecodeToRgb1080pOneThread(benchmark::State& state) {
  if (!Shared().x264) return state.SkipWithError("ffmpeg missing");
  const std::string cmd =
      "ffmpeg -v error -threads 1 -i " + X264Path() + " -f rawvideo -pix_fmt rgb24 -y /dev/null >/dev/null 2>&1";
  for (auto _ : state) {
    if (system(cmd.c_str()) != 0) return state.SkipWithError("ffmpeg failed");
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_FfmpegDecodeToRgb1080pOneThread)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_I420ToRgb1080p(benchmark::State& state) {
  StartWorkerPool();
  std::vector<uint8_t> y(size_t(kWidth) * kHeight, 120), u(y.size() / 4, 100), v(y.size() / 4, 150);
  std::vector<uint8_t> out(y.size() * 3);
  for (auto _ : state) {
    I420ToRgb(kWidth, kHeight, kWidth, y.data(), u.data(), v.data(), out.data(), kWidth, kWidth / 2, kWidth, kHeight);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
  StopWorkerPool();
}
BENCHMARK(BM_I420ToRgb1080p)->Unit(benchmark::kMillisecond);

}  // namespace
