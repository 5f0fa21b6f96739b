// picture_bench.cpp - one full redraw of a window holding a picture view of a 4096 x 3072
// picture, at zoom code 0 (fit) and 1 (1:1 with scroll bars). Needs an X display; without
// one the benchmark says so and skips.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include "core/imgbuff.h"
#include "toolkit/picture.h"
#include "toolkit/texture.h"

namespace {

void BM_PictureRedraw(benchmark::State& state) {
  if (!PlatHasDisplay()) {
    state.SkipWithError("no X display");
    return;
  }
  CImgBuff pic;
  if (!pic.Allocate(4096, 3072, 4)) {
    state.SkipWithError("no memory");
    return;
  }
  uint8_t* p = static_cast<uint8_t*>(pic.Pixels());
  for (uint64_t i = 0; i < uint64_t(4096) * 3072 * 3; ++i) p[i] = uint8_t(i * 7);
  CFgUIDialog dlg;
  CFgUIPicture view;
  view.SetRect(0, 0, 800, 600);
  dlg.AddChild(&view);
  if (!dlg.Create(10, 10, 800, 600, L"picture bench", FgStyleDialog, nullptr) ||
      !UploadImageToTexture(view.ReleaseTexture(), &pic, 1)) {
    state.SkipWithError("window or texture unavailable");
    return;
  }
  view.SetZoom(int32_t(state.range(0)));
  dlg.Redraw();  // first draw attaches and uploads the texture
  for (auto _ : state) {
    dlg.Redraw();
    if (dlg.BeginDraw()) {
      glFinish();  // count the GPU work, not only the submission
      dlg.EndDraw(0);
    }
  }
  state.SetLabel(state.range(0) == 0 ? "fit" : "1:1");
}
BENCHMARK(BM_PictureRedraw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
