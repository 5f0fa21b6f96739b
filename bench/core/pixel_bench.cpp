// pixel_bench.cpp - the per-pixel accessor loop of filters and the engine: GetRGB8 from a
// colour picture, SetGray8 into a gray one, over 4096 x 4096 pixels; single-threaded and
// split into row bands over the worker pool.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/imgbuff.h"
#include "core/parallel.h"

namespace {

constexpr int32_t kSide = 4096;

struct Pictures {
  CImgBuff src, dst;
  Pictures(int32_t srcFormat) {
    src.Allocate(kSide, kSide, srcFormat);
    dst.Allocate(kSide, kSide, ImgFormatGray8);
    for (int32_t y = 0; y < kSide; y += 7)
      for (int32_t x = 0; x < kSide; x += 3)
        src.record->SetRGB8(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y));
  }
};

struct RowJob {
  const C_ImgBuff* src;
  C_ImgBuff* dst;
};

void GrayRows(void* ctx, uint64_t first, uint64_t count) {
  RowJob* job = static_cast<RowJob*>(ctx);
  for (uint64_t y = first; y < first + count; y++) {
    for (int32_t x = 0; x < job->src->width; x++) {
      uint8_t r, g, b;
      job->src->GetRGB8(x, static_cast<int32_t>(y), &r, &g, &b);
      job->dst->SetGray8(x, static_cast<int32_t>(y), static_cast<uint8_t>((r + g + b) / 3));
    }
  }
}

void BM_GetRGB8SetGray8(benchmark::State& state) {
  Pictures pics(static_cast<int32_t>(state.range(0)));
  RowJob job{pics.src.record, pics.dst.record};
  for (auto _ : state) {
    GrayRows(&job, 0, kSide);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(BM_GetRGB8SetGray8)->Arg(ImgFormatRgb24)->Arg(ImgFormatRgb48)->Arg(ImgFormatCmyk32)
    ->Unit(benchmark::kMillisecond);

void BM_GetRGB8SetGray8Parallel(benchmark::State& state) {
  Pictures pics(static_cast<int32_t>(state.range(0)));
  RowJob job{pics.src.record, pics.dst.record};
  for (auto _ : state) {
    ParallelFor(GrayRows, &job, kSide);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
  state.counters["workers"] = static_cast<double>(ActiveWorkerCount());
}
BENCHMARK(BM_GetRGB8SetGray8Parallel)->Arg(ImgFormatRgb24)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
