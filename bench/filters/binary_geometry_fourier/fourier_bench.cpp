// The band-stop chain FFT, Frequency mask, IFFT over a whole 1920 x 1080 8-bit R, G, B frame
// (N = 2048, three channels), as the chain runner calls the three filters, one worker and all.
#include "bench/engine/engine_bench_util.h"
#include "app/spectrum.h"
#include "filters/binary_geometry_fourier/fourier.h"
#include "filters/binary_geometry_fourier/freq_mask.h"

using namespace enginebench;

static void BM_FftMaskIfft(benchmark::State& state) {
  Workers(state, state.range(0));
  Fixture fx(ImgFormatRgb24);
  CLfFFT fft;
  CLfFreqMask mask;
  CLfIFFT ifft;
  mask.m_rangeBar.m_low = 20;
  mask.m_rangeBar.m_high = 60;
  mask.m_rangeBar.m_callback(&mask.m_rangeBar, mask.m_rangeBar.m_user, 20, 60);
  for (auto _ : state) {
    EmptySpectrumStack();
    fft.Process(&fx.img, 0, 0, 0, W, H, 8, 0);
    mask.Process(&fx.img, 0, 0, 0, W, H, 8, 0);
    ifft.Process(&fx.img, 0, 0, 0, W, H, 8, 0);
    state.PauseTiming();
    fx.Restore();
    state.ResumeTiming();
  }
  EmptySpectrumStack();
}
BENCHMARK(BM_FftMaskIfft)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
