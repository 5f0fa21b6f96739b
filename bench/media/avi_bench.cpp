// avi_bench.cpp - reading every frame of 100-frame 1920 x 1080 AVI files (MJPG and 24-bit
// DIB), beside `ffmpeg -i file -f null -` on the same files in the same run, and writing.
#include "media/avi.h"
#include "core/parallel.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kW = 1920, kH = 1080, kFrames = 100;

std::vector<uint8_t> Frame(uint32_t i) {
  std::vector<uint8_t> f(size_t(kW) * kH * 3);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      uint8_t* p = &f[(size_t(y) * kW + x) * 3];
      p[0] = uint8_t(x / 8 + i);
      p[1] = uint8_t(y / 4);
      p[2] = uint8_t((x + y) / 16 + ((x * 7 + y * 13) & 7));
    }
  return f;
}

const std::string& Sample(uint32_t codec) {
  static std::string paths[3];
  std::string& path = paths[codec];
  if (!path.empty()) return path;
  path = (std::filesystem::temp_directory_path() / ("qv_avi_bench_" + std::to_string(codec) + ".avi")).string();
  AviFile* avi = AviWriterOpen(path.c_str(), kW, kH, 24, 40000, codec, 85);
  if (!avi) return path;
  for (uint32_t i = 0; i < kFrames; ++i) {
    std::vector<uint8_t> f = Frame(i);
    AviWriteFrame(avi, f.data());
  }
  AviWriterClose(avi);
  return path;
}

void ReadAll(benchmark::State& state, uint32_t codec) {
  StartWorkerPool();
  const std::string& path = Sample(codec);
  std::vector<uint8_t> buffer(size_t(kW) * kH * 3);
  for (auto _ : state) {
    AviFile* avi = AviReaderOpen(path.c_str());
    if (!avi) {
      state.SkipWithError("open failed");
      break;
    }
    for (uint32_t i = 0; i < kFrames; ++i)
      if (!AviReadFramesDirect(avi, i, 1, buffer.data())) state.SkipWithError("read failed");
    AviWriterClose(avi);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.counters["frames/s"] = benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void Ffmpeg(benchmark::State& state, uint32_t codec) {
  const std::string& path = Sample(codec);
  if (system("ffmpeg -version >/dev/null 2>&1") != 0) {
    state.SkipWithError("ffmpeg not installed");
    return;
  }
  std::string cmd = "ffmpeg -v quiet -nostdin -i " + path + " -f null - >/dev/null 2>&1";
  for (auto _ : state)
    if (system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
  state.counters["frames/s"] = benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void Write(benchmark::State& state, uint32_t codec) {
  StartWorkerPool();
  std::vector<uint8_t> f = Frame(0);
  std::string path = (std::filesystem::temp_directory_path() / "qv_avi_bench_write.avi").string();
  for (auto _ : state) {
    AviFile* avi = AviWriterOpen(path.c_str(), kW, kH, 24, 40000, codec, 85);
    for (uint32_t i = 0; i < 10; ++i) AviWriteFrame(avi, f.data());
    AviWriterClose(avi);
  }
  state.counters["frames/s"] = benchmark::Counter(10.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_AviReadMjpg(benchmark::State& s) { ReadAll(s, AviCodecMjpg); }
void BM_FfmpegNullMjpg(benchmark::State& s) { Ffmpeg(s, AviCodecMjpg); }
void BM_AviReadDib24(benchmark::State& s) { ReadAll(s, AviCodecDib); }
void BM_FfmpegNullDib24(benchmark::State& s) { Ffmpeg(s, AviCodecDib); }
void BM_AviWriteMjpg(benchmark::State& s) { Write(s, AviCodecMjpg); }
void BM_AviWriteDib24(benchmark::State& s) { Write(s, AviCodecDib); }
void BM_AviWritePng(benchmark::State& s) { Write(s, AviCodecPng); }

}  // namespace

BENCHMARK(BM_AviReadMjpg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegNullMjpg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AviReadDib24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegNullDib24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AviWriteMjpg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AviWriteDib24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AviWritePng)->Unit(benchmark::kMillisecond)->UseRealTime();
