// mp4_bench.cpp - H.264 in MP4 at 1920 x 1080, 100 frames: encoding, opening (the frame
// index decodes the whole file once), reading every frame in order, and ffmpeg's
// single-threaded decode of the same file as a yardstick.
#include "media/h264.h"
#include "media/mp4.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 100;

std::string BenchPath() { return "/tmp/qv_mp4_bench_1080p.mp4"; }

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

struct Fixture {
  bool ready = false;
  Fixture() {
    if (!OpenH264Load()) return;
    Scene scene;
    ready = WriteFile(BenchPath(), scene) == 1;
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_Mp4Encode1080p(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("openh264 missing");
  Scene scene;
  for (auto _ : state) {
    if (!WriteFile("/tmp/qv_mp4_bench_encode.mp4", scene)) return state.SkipWithError("encode failed");
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Mp4Encode1080p)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Mp4OpenAndIndex1080p(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("openh264 missing");
  for (auto _ : state) {
    Mp4Reader* r = Mp4ReaderOpen(BenchPath().c_str(), nullptr, nullptr);
    if (!r) return state.SkipWithError("open failed");
    benchmark::DoNotOptimize(r->frameCount);
    Mp4ReaderFree(r);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Mp4OpenAndIndex1080p)->Unit(benchmark::kMillisecond)->Iterations(3);

// Decoding every frame to R,G,B after the open, in order.
void BM_Mp4ReadAllFrames1080p(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("openh264 missing");
  Mp4Reader* r = Mp4ReaderOpen(BenchPath().c_str(), nullptr, nullptr);
  if (!r) return state.SkipWithError("open failed");
  std::vector<uint8_t> out(size_t(kWidth) * kHeight * 3);
  for (auto _ : state) {
    for (uint32_t f = 0; f < r->frameCount; ++f)
      if (!Mp4DecodeFrame(r, f, out.data(), out.size())) return state.SkipWithError("decode failed");
  }
  state.SetItemsProcessed(state.iterations() * r->frameCount);
  Mp4ReaderFree(r);
}
BENCHMARK(BM_Mp4ReadAllFrames1080p)->Unit(benchmark::kMillisecond)->Iterations(3);

// The yardstick: ffmpeg's own decoder on one thread, writing nowhere (process start-up
// included, a few milliseconds).
void BM_FfmpegDecode1080pOneThread(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("openh264 missing");
  if (system("ffmpeg -version >/dev/null 2>&1") != 0) return state.SkipWithError("ffmpeg not installed");
  const std::string cmd = "ffmpeg -v error -threads 1 -c:v h264 -i " + BenchPath() + " -f null - >/dev/null 2>&1";
  for (auto _ : state) {
    if (system(cmd.c_str()) != 0) return state.SkipWithError("ffmpeg failed");
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_FfmpegDecode1080pOneThread)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Same, to R,G,B frames like ours (the conversion is part of what we time).
void BM_FfmpegDecodeToRgb1080pOneThread(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("openh264 missing");
  if (system("ffmpeg -version >/dev/null 2>&1") != 0) return state.SkipWithError("ffmpeg not installed");
  const std::string cmd = "ffmpeg -v error -threads 1 -c:v h264 -i " + BenchPath() +
                          " -pix_fmt rgb24 -sws_flags fast_bilinear -f null - >/dev/null 2>&1";
  for (auto _ : state) {
    if (system(cmd.c_str()) != 0) return state.SkipWithError("ffmpeg failed");
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_FfmpegDecodeToRgb1080pOneThread)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

namespace {

void BM_I420ToRgb1080p(benchmark::State& state) {
  std::vector<uint8_t> y(size_t(kWidth) * kHeight, 120), u(y.size() / 4, 100), v(y.size() / 4, 150);
  std::vector<uint8_t> out(y.size() * 3);
  for (auto _ : state) {
    I420ToRgb(kWidth, kHeight, kWidth, y.data(), u.data(), v.data(), out.data(), kWidth, kWidth / 2, kWidth, kHeight);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_I420ToRgb1080p)->Unit(benchmark::kMillisecond);

}  // namespace
