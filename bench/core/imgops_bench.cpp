// imgops_bench.cpp - format conversion and quarter turns on a 4096 x 4096 picture, with one
// worker and with every worker of the pool (the argument is the worker count, 0 = all).
#include "core/imgbuff.h"
#include "core/parallel.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

void UseWorkers(benchmark::State& state)
{
    GetProcessorCount();
    uint64_t n = state.range(0) == 0 ? GetProcessorCount() : uint64_t(state.range(0));
    if (!SetWorkerCount(n)) state.SkipWithError("worker count refused");
    state.counters["workers"] = double(ActiveWorkerCount());
}

void Fill(CImgBuff& p)
{
    auto b = static_cast<uint8_t*>(p.Pixels());
    uint64_t n = uint64_t(p.Width()) * uint64_t(p.Height()) * uint64_t(ImgBytesPerPixel[p.Format()]);
    for (uint64_t i = 0; i < n; ++i) b[i] = uint8_t(i * 2654435761u >> 13);
}

constexpr int32_t kSide = 4096;

// Each iteration converts a fresh copy, made outside the timing.
void BenchConvert(benchmark::State& state, int32_t from, int32_t to)
{
    CImgBuff src, work;
    src.Allocate(kSide, kSide, from);
    Fill(src);
    UseWorkers(state);
    for (auto _ : state) {
        state.PauseTiming();
        work.Free();
        work.CopyFrom(src);
        state.ResumeTiming();
        work.record->ConvertTo(to);
        benchmark::DoNotOptimize(work.Pixels());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}

void BM_ConvertRgb24ToGray8(benchmark::State& state) { BenchConvert(state, ImgFormatRgb24, ImgFormatGray8); }
void BM_ConvertGray8ToRgb48(benchmark::State& state) { BenchConvert(state, ImgFormatGray8, ImgFormatRgb48); }

// Turns the same picture over and over: a quarter turn of a square keeps its size.
void BenchRotate(benchmark::State& state, int32_t turns)
{
    CImgBuff p;
    p.Allocate(kSide, kSide, ImgFormatRgb24);
    Fill(p);
    UseWorkers(state);
    for (auto _ : state) {
        RotateImageQuarterTurns(&p, turns);
        benchmark::DoNotOptimize(p.Pixels());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}

void BM_RotateQuarter(benchmark::State& state) { BenchRotate(state, 1); }
void BM_RotateHalf(benchmark::State& state) { BenchRotate(state, 2); }

BENCHMARK(BM_ConvertRgb24ToGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertGray8ToRgb48)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotateQuarter)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotateHalf)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
