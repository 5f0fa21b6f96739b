// png_jpeg_bench.cpp - open + read and create + write of a 4096 x 3072 RGB PNG and JPEG
// through the media handle, beside the bare library doing the same decode or encode in
// the plainest loop (the floor): the difference is what the handle's layer costs.
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "media/media.h"

namespace {

constexpr uint64_t kW = 4096, kH = 3072;

// A camera-like frame: smooth gradients with a little noise, so both codecs work as they
// would on real pictures.
const std::vector<uint8_t>& Picture() {
  static const std::vector<uint8_t> px = [] {
    // The program runs with its worker pool; row work of the handle uses it.
    if (!StartWorkerPool()) abort();
    std::vector<uint8_t> v(kW * kH * 3);
    uint32_t seed = 1;
    for (uint64_t y = 0; y < kH; ++y)
      for (uint64_t x = 0; x < kW; ++x)
        for (uint64_t c = 0; c < 3; ++c) {
          seed = seed * 1664525u + 1013904223u;
          v[(y * kW + x) * 3 + c] = uint8_t(x * 160 / kW + y * 60 / kH + c * 10 + (seed >> 29));
        }
    return v;
  }();
  return px;
}

std::string Folder() {
  static const std::string dir = [] {
    std::string d = "/tmp/qv_png_jpeg_bench_" + std::to_string(getpid());
    std::string cmd = "mkdir -p " + d;
    if (system(cmd.c_str()) != 0) abort();
    atexit([] {
      const std::string rm = "rm -rf /tmp/qv_png_jpeg_bench_" + std::to_string(getpid());
      if (system(rm.c_str()) != 0) fputs("could not remove the sample folder\n", stderr);
    });
    return d;
  }();
  return dir;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool WriteThroughHandle(const std::string& path, uint32_t quality) {
  MediaInfo info{MediaKindStill, 1, 1, 3, kW, kH, 0};
  MediaWriteOptions opt{};
  opt.jpegQuality = quality;
  MediaFile* f = MediaCreate(Wide(path).c_str(), &info, &opt);
  if (!f) return false;
  const int ok = MediaWriteFrame(f, 0, 0, Picture().data());
  return MediaClose(f) == 1 && ok == 1;
}

const std::string& SampleFile(const char* ext) {
  static const std::string png = Folder() + "/sample.png";
  static const std::string jpg = Folder() + "/sample.jpg";
  static const bool made = WriteThroughHandle(png, 0) && WriteThroughHandle(jpg, 90);
  if (!made) abort();
  return ext[0] == 'p' ? png : jpg;
}

void ReadThroughHandle(benchmark::State& state, const char* ext) {
  const std::wstring path = Wide(SampleFile(ext));
  std::vector<uint8_t> frame(kW * kH * 3);
  for (auto _ : state) {
    MediaFile* f = MediaOpen(path.c_str(), nullptr, nullptr);
    if (!f || MediaReadFrame(f, 0, 0, 0, frame.data()) != 1) state.SkipWithError("read failed");
    MediaClose(f);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * frame.size()));
}

void BM_PngReadHandle(benchmark::State& state) { ReadThroughHandle(state, "png"); }
void BM_JpegReadHandle(benchmark::State& state) { ReadThroughHandle(state, "jpg"); }

// libpng's plainest whole-image decode (what pngtopnm does before its output), into a
// buffer that is either reused (range 0: the absolute floor) or new for every image
// (range 1: what any decode-at-open reader pays for fresh memory).
void BM_PngDecodeBare(benchmark::State& state) {
  const std::string path = SampleFile("png");
  std::vector<uint8_t> frame(kW * kH * 3);
  std::vector<png_bytep> rows(kH);
  for (auto _ : state) {
    uint8_t* block = state.range(0) ? static_cast<uint8_t*>(malloc(kW * kH * 3)) : frame.data();
    for (uint64_t y = 0; y < kH; ++y) rows[y] = block + y * kW * 3;
    FILE* fp = fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
    } else {
      png_init_io(png, fp);
      png_read_info(png, info);
      png_read_image(png, rows.data());
      png_read_end(png, info);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(fp);
    benchmark::DoNotOptimize(block);
    if (block != frame.data()) free(block);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * frame.size()));
}

// libjpeg's plainest decode (djpeg's loop without its output writer).
void BM_JpegDecodeBare(benchmark::State& state) {
  const std::string path = SampleFile("jpg");
  std::vector<uint8_t> frame(kW * kH * 3);
  for (auto _ : state) {
    FILE* fp = fopen(path.c_str(), "rb");
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, fp);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = frame.data() + uint64_t(d.output_scanline) * kW * 3;
      jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    fclose(fp);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * frame.size()));
}

void WriteHandle(benchmark::State& state, const char* ext) {
  const std::string path = Folder() + "/out." + ext;
  for (auto _ : state)
    if (!WriteThroughHandle(path, 90)) state.SkipWithError("write failed");
  state.SetBytesProcessed(int64_t(state.iterations() * kW * kH * 3));
}

void BM_PngWriteHandle(benchmark::State& state) { WriteHandle(state, "png"); }
void BM_JpegWriteHandle(benchmark::State& state) { WriteHandle(state, "jpg"); }

void BM_PngEncodeBare(benchmark::State& state) {
  const std::string path = Folder() + "/bare.png";
  std::vector<png_bytep> rows(kH);
  for (uint64_t y = 0; y < kH; ++y) rows[y] = const_cast<png_bytep>(Picture().data() + y * kW * 3);
  for (auto _ : state) {
    FILE* fp = fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
    } else {
      png_init_io(png, fp);
      png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                   PNG_FILTER_TYPE_DEFAULT);
      png_write_info(png, info);
      png_write_image(png, rows.data());
      png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    fclose(fp);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kW * kH * 3));
}

void BM_JpegEncodeBare(benchmark::State& state) {
  const std::string path = Folder() + "/bare.jpg";
  for (auto _ : state) {
    FILE* fp = fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, fp);
    c.image_width = kW;
    c.image_height = kH;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(Picture().data() + uint64_t(c.next_scanline) * kW * 3);
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(fp);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kW * kH * 3));
}

}  // namespace

BENCHMARK(BM_PngReadHandle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngDecodeBare)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegReadHandle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecodeBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngWriteHandle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngEncodeBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegWriteHandle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegEncodeBare)->Unit(benchmark::kMillisecond);
