// imgops_bench.cpp - format conversion and quarter turns on a 4096 x 4096 picture, with one
// worker and with every worker of the pool (the argument is the worker count, 0 = all);
// the hot conversions on a 1920 x 1080 frame beside OpenCV cvtColor where found.
#include "core/imgbuff.h"
#include "core/parallel.h"

#include <benchmark/benchmark.h>

#include <cstring>

#ifdef QV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

void UseWorkers(benchmark::State& state)
{
    GetProcessorCount();
    uint64_t n = state.range(0) == 0 ? GetProcessorCount() : uint64_t(state.range(0));
    if (!SetWorkerCount(n)) state.SkipWithError("worker count refused");
#ifdef QV_HAVE_OPENCV
    cv::setNumThreads(int(n));
#endif
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
void BenchConvert(benchmark::State& state, int32_t from, int32_t to, int32_t width = kSide, int32_t height = kSide)
{
    CImgBuff src, work;
    src.Allocate(width, height, from);
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
    state.SetItemsProcessed(int64_t(state.iterations()) * width * height);
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

// One video frame through the pairs with vector kernels.
constexpr int32_t kFrameW = 1920, kFrameH = 1080;
void BM_FrameGray8ToRgb24(benchmark::State& state) { BenchConvert(state, ImgFormatGray8, ImgFormatRgb24, kFrameW, kFrameH); }
void BM_FrameRgb24ToGray8(benchmark::State& state) { BenchConvert(state, ImgFormatRgb24, ImgFormatGray8, kFrameW, kFrameH); }
void BM_FrameRgb24ToRgb48(benchmark::State& state) { BenchConvert(state, ImgFormatRgb24, ImgFormatRgb48, kFrameW, kFrameH); }
void BM_FrameRgb48ToRgb24(benchmark::State& state) { BenchConvert(state, ImgFormatRgb48, ImgFormatRgb24, kFrameW, kFrameH); }
void BM_FrameGray16ToGray8(benchmark::State& state) { BenchConvert(state, ImgFormatGray16, ImgFormatGray8, kFrameW, kFrameH); }
void BM_FrameGray8ToRgb48(benchmark::State& state) { BenchConvert(state, ImgFormatGray8, ImgFormatRgb48, kFrameW, kFrameH); }
BENCHMARK(BM_FrameGray8ToRgb24)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FrameRgb24ToGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FrameRgb24ToRgb48)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FrameRgb48ToRgb24)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FrameGray16ToGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FrameGray8ToRgb48)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same row kernels into a picture that already exists (a paste across formats), which
// leaves out the fresh block's first-touch page faults that ConvertTo pays on every call.
void BenchPaste(benchmark::State& state, int32_t from, int32_t to)
{
    CImgBuff src, dst;
    src.Allocate(kFrameW, kFrameH, from);
    dst.Allocate(kFrameW, kFrameH, to);
    Fill(src);
    UseWorkers(state);
    for (auto _ : state) {
        dst.Paste(src, 0, 0);
        benchmark::DoNotOptimize(dst.Pixels());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFrameW * kFrameH);
}
void BM_FramePasteGray8IntoRgb24(benchmark::State& state) { BenchPaste(state, ImgFormatGray8, ImgFormatRgb24); }
void BM_FramePasteRgb24IntoGray8(benchmark::State& state) { BenchPaste(state, ImgFormatRgb24, ImgFormatGray8); }
BENCHMARK(BM_FramePasteGray8IntoRgb24)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FramePasteRgb24IntoGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();

#ifdef QV_HAVE_OPENCV
// cvtColor into a destination kept from the last iteration, as a video loop would.
void BenchCvtColor(benchmark::State& state, int type, int code)
{
    cv::Mat src(kFrameH, kFrameW, type), dst;
    for (size_t i = 0; i < src.total() * src.elemSize(); ++i) src.data[i] = uint8_t(i * 2654435761u >> 13);
    UseWorkers(state);
    for (auto _ : state) {
        cv::cvtColor(src, dst, code);
        benchmark::DoNotOptimize(dst.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFrameW * kFrameH);
}
// The whole 4096 x 4096 picture beside BM_ConvertRgb24ToGray8, into a destination kept from
// the last iteration.
void BM_CvConvertRgb24ToGray8(benchmark::State& state)
{
    cv::Mat src(kSide, kSide, CV_8UC3), dst;
    for (size_t i = 0; i < src.total() * src.elemSize(); ++i) src.data[i] = uint8_t(i * 2654435761u >> 13);
    UseWorkers(state);
    for (auto _ : state) {
        cv::cvtColor(src, dst, cv::COLOR_RGB2GRAY);
        benchmark::DoNotOptimize(dst.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(BM_CvConvertRgb24ToGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CvFrameGray8ToRgb24(benchmark::State& state) { BenchCvtColor(state, CV_8UC1, cv::COLOR_GRAY2RGB); }
void BM_CvFrameRgb24ToGray8(benchmark::State& state) { BenchCvtColor(state, CV_8UC3, cv::COLOR_RGB2GRAY); }
BENCHMARK(BM_CvFrameGray8ToRgb24)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CvFrameRgb24ToGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
#endif

BENCHMARK(BM_ConvertRgb24ToGray8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertGray8ToRgb48)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotateQuarter)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotateHalf)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
