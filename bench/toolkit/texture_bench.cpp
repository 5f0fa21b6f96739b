// texture_bench.cpp - picture upload into a texture (row-parallel conversion plus one GL
// upload) for a 4096 x 3072 RGB and 16-bit gray picture, and drawing 10,000 glyphs.
// Needs an X display (xvfb-run); without one the GL part is skipped and only the
// conversion into the store is measured.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include "core/imgbuff.h"
#include "toolkit/font.h"
#include "toolkit/texture.h"

namespace {

class Screen : public CFgScreen {};

Screen* BenchScreen() {
  static Screen* s = nullptr;
  static int tried = 0;
  if (!tried) {
    tried = 1;
    if (PlatHasDisplay()) {
      s = new Screen;
      if (!s->Create(20, 20, 640, 480, L"bench", 0, nullptr)) s = nullptr;
    }
  }
  return s;
}

void Upload(benchmark::State& state, int32_t format) {
  CImgBuff pic;
  if (!pic.Allocate(4096, 3072, format)) {
    state.SkipWithError("no memory");
    return;
  }
  uint8_t* p = static_cast<uint8_t*>(pic.Pixels());
  uint64_t n = uint64_t(4096) * 3072 * uint64_t(ImgBytesPerPixel[format]);
  for (uint64_t i = 0; i < n; ++i) p[i] = uint8_t(i * 31);
  CFgTexture t;
  UploadImageToTexture(&t, &pic, 1);
  if (Screen* s = BenchScreen()) t.AttachToScreen(s);  // then every upload reaches GL
  for (auto _ : state) benchmark::DoNotOptimize(UploadImageToTexture(&t, &pic, 1));
  state.SetItemsProcessed(int64_t(state.iterations()) * 4096 * 3072);
  state.SetLabel(t.m_hasGlName ? "with GL upload" : "store only");
  t.ReleaseGL();
}

void BM_UploadRgb24(benchmark::State& state) { Upload(state, ImgFormatRgb24); }
void BM_UploadGray16(benchmark::State& state) { Upload(state, ImgFormatGray16); }
BENCHMARK(BM_UploadRgb24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UploadGray16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawGlyphs10000(benchmark::State& state) {
  Screen* s = BenchScreen();
  if (!s) {
    state.SkipWithError("no X display");
    return;
  }
  CFgFont font;
  font.CreateGdiFont(14, nullptr);
  font.AttachToScreen(s);
  // Latin and kana, 100 lines of 100 characters.
  wchar_t line[101];
  for (int i = 0; i < 100; ++i) line[i] = i % 3 ? wchar_t(L'A' + i % 26) : wchar_t(0x3042 + i % 80);
  line[100] = 0;
  for (auto _ : state) {
    s->BeginDraw();
    glColor3d(0, 0, 0);
    int64_t total = 0;
    for (int y = 0; y < 100; ++y) total += font.DrawText(0, (y % 34) * 14, line);
    glFinish();
    s->EndDraw(0);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 10000);
  font.DetachFromScreen();
}
BENCHMARK(BM_DrawGlyphs10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
