// Three filters inverting a 1920 x 1080 24-bit RGB frame: waiting requests through the chain
// controller's worker (frame copied in and out, the chain run, the hand-over) against the
// same three Process calls made directly, in one run.  The ratio of the two times is the
// cost of the worker round trip.
#include <benchmark/benchmark.h>

#include "app/filterctrl.h"
#include "engine/invert.h"

namespace {

class InvertFilter : public CImgFilter {
 public:
  void Process(CImgBuff* p, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
               uint32_t) override {
    RoiRect r{int32_t(x), int32_t(y), int32_t(x + w - 1), int32_t(y + h - 1)};
    Invert(p, &r);
  }
};

void Fill(CImgBuff& img) {
  img.Allocate(1920, 1080, ImgFormatRgb24);
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (uint64_t i = 0; i < 1920ull * 1080 * 3; ++i) p[i] = uint8_t(i * 31);
}

void BM_ChainSyncRequest(benchmark::State& state) {
  CFilterCtrl ctrl;
  for (int i = 0; i < 3; ++i) ctrl.AddFilter(new InvertFilter, nullptr);
  CImgBuff in, out;
  Fill(in);
  for (auto _ : state) {
    ctrl.Request(&out, &in, 0, 0);
    benchmark::DoNotOptimize(out.Pixels());
  }
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChainSyncRequest)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DirectProcess(benchmark::State& state) {
  InvertFilter f[3];
  CImgBuff img;
  Fill(img);
  for (auto _ : state) {
    for (InvertFilter& one : f) one.Process(&img, 0, 0, 0, 1920, 1080, 8, 1);
    benchmark::DoNotOptimize(img.Pixels());
  }
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DirectProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Where the round trip's time goes: the same requests run on the caller's thread (no worker
// thread to wake), and the one copy of the input frame that every request makes.
namespace {
void BM_InlineSyncRequest(benchmark::State& state) {
  CFilterCtrl::SetRefuseWorkerForTesting(1);
  CFilterCtrl ctrl;
  CFilterCtrl::SetRefuseWorkerForTesting(0);
  for (int i = 0; i < 3; ++i) ctrl.AddFilter(new InvertFilter, nullptr);
  CImgBuff in, out;
  Fill(in);
  for (auto _ : state) ctrl.Request(&out, &in, 0, 0);
}
BENCHMARK(BM_InlineSyncRequest)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_OneCopy(benchmark::State& state) {
  CImgBuff in, mid;
  Fill(in);
  Fill(mid);
  for (auto _ : state) CopyPictureReusing(&mid, &in);
}
BENCHMARK(BM_OneCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace
