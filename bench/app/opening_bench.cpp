// opening_bench.cpp - opening and playing a 1920 x 1080, 100-frame video in the real main
// window: an MJPG AVI and an H.264 MP4 made by ffmpeg.  Each scene in turn is decoded,
// run through the (empty) chain, converted into the view's texture and drawn; the
// yardstick is `ffmpeg -threads 1 -i file -f null -` on the same file in the same run.
// Reported: our frames per second, ffmpeg's, and ours relative to ffmpeg's (the time of
// our decode-and-display over ffmpeg's decode alone); our decode alone as its own row.
// Needs an X display (scripts/bench starts Xvfb without one) and ffmpeg.
#include <benchmark/benchmark.h>

#include <GL/gl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "app/config.h"
#include "app/mainscreen.h"
#include "core/parallel.h"
#include "media/imgio/imgio.h"
#include "toolkit/msgbox.h"

namespace {

constexpr int kFrames = 100;

struct Files {
  std::string folder, avi, mp4;
  bool ok = false;
  Files() {
    char pattern[] = "/tmp/qv_opening_bench_XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder = pattern;
    avi = folder + "/play.avi";
    mp4 = folder + "/play.mp4";
    const std::string source =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v 100 ";
    ok = std::system((source + "-c:v mjpeg -q:v 3 '" + avi + "'").c_str()) == 0 &&
         std::system((source + "-c:v libx264 -pix_fmt yuv420p '" + mp4 + "'").c_str()) == 0;
  }
  ~Files() {
    if (!folder.empty()) (void)!std::system(("rm -rf '" + folder + "'").c_str());
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

const std::string& PathOf(int64_t which) { return which == 0 ? TheFiles().avi : TheFiles().mp4; }
const char* LabelOf(int64_t which) { return which == 0 ? "MJPG AVI" : "H.264 MP4"; }

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// ffmpeg's single-threaded decode of the whole file, seconds.
double FfmpegSeconds(const std::string& path) {
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(("ffmpeg -v error -threads 1 -i '" + path + "' -f null -").c_str());
  const auto t1 = std::chrono::steady_clock::now();
  return rc == 0 ? Seconds(t0, t1) : 0;
}

int32_t NoBox(const wchar_t*, const wchar_t*, int32_t, CFgScreen*) { return 0; }

// Open, then the play loop over every scene: decoded, processed, uploaded and drawn (GPU
// work finished).
void BM_OpenAndPlay(benchmark::State& state) {
  if (!PlatHasDisplay()) {
    state.SkipWithError("no X display");
    return;
  }
  if (!TheFiles().ok) {
    state.SkipWithError("ffmpeg could not make the files");
    return;
  }
  const std::string& path = PathOf(state.range(0));
  StartWorkerPool();
  SetConfigFilePathForTesting(Wide(TheFiles().folder + "/quorvix_duvu.cfg").c_str());
  FgSetMessageBoxOverride(NoBox);
  CMainScreen* screen = new CMainScreen;
  // The program's first window (640 x 500), or one enlarged for the picture.
  const uint64_t w = state.range(1) ? 1280 : 640, h = state.range(1) ? 800 : 500;
  if (!screen->Create(-1, -1, w, h, kProgramTitle, FgStyleResizable, nullptr)) {
    state.SkipWithError("no window");
    delete screen;
    return;
  }
  screen->Layout();
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    screen->OpenImage(Wide(path).c_str());
    // The scene bar's own play loop, as fast as it goes (no frame waits for its time).
    screen->m_videoPanel.m_interval = 1;
    screen->m_videoPanel.m_skip = 0;
    screen->m_videoPanel.Play(1);
    if (screen->BeginDraw()) {
      glFinish();
      screen->EndDraw(0);
    }
    const double s = Seconds(t0, std::chrono::steady_clock::now());
    state.SetIterationTime(s);
    ours += s;
    theirs += FfmpegSeconds(path);
  }
  const double n = double(state.iterations());
  state.counters["fps"] = kFrames * n / ours;
  if (theirs > 0) {
    state.counters["ffmpeg_fps"] = kFrames * n / theirs;
    state.counters["x_ffmpeg"] = ours / theirs;  // target: at most 1.5
  }
  state.SetLabel(std::string(LabelOf(state.range(0))) + (state.range(1) ? ", 1280 x 800" : ", 640 x 500"));
  delete screen;
  FgSetMessageBoxOverride(nullptr);
  SetConfigFilePathForTesting(nullptr);
}
BENCHMARK(BM_OpenAndPlay)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The two display steps of every frame apart, on a 1080p frame already shown: the
// conversion into the view's texture (in place; and, to compare, into a new texture each
// time) and one redraw of the whole window.
void BM_DisplaySteps(benchmark::State& state) {
  if (!PlatHasDisplay() || !TheFiles().ok) {
    state.SkipWithError("no X display or no files");
    return;
  }
  StartWorkerPool();
  SetConfigFilePathForTesting(Wide(TheFiles().folder + "/quorvix_duvu.cfg").c_str());
  FgSetMessageBoxOverride(NoBox);
  CMainScreen* screen = new CMainScreen;
  const uint64_t w = state.range(1) ? 1280 : 640, h = state.range(1) ? 800 : 500;
  if (!screen->Create(-1, -1, w, h, kProgramTitle, FgStyleResizable, nullptr)) {
    state.SkipWithError("no window");
    delete screen;
    return;
  }
  screen->Layout();
  screen->OpenImage(Wide(TheFiles().avi).c_str());
  for (auto _ : state) {
    if (state.range(0) == 0) {
      UploadImageToTexture(&screen->m_view.m_texture, &screen->m_display, 1);
    } else if (state.range(0) == 2) {
      // For comparison: a new GL texture and store every frame, bound again.
      UploadImageToTexture(screen->m_view.ReleaseTexture(), &screen->m_display, 1);
      screen->m_view.m_texture.AttachToScreen(screen);
    } else {
      screen->Redraw();
    }
    if (screen->BeginDraw()) {
      glFinish();
      screen->EndDraw(0);
    }
  }
  static const char* const kStep[] = {"view upload", "window redraw", "view upload, new texture"};
  state.SetLabel(std::string(kStep[state.range(0)]) +
                (state.range(1) ? ", 1280 x 800" : ", 640 x 500"));
  delete screen;
  FgSetMessageBoxOverride(nullptr);
  SetConfigFilePathForTesting(nullptr);
}
BENCHMARK(BM_DisplaySteps)->ArgsProduct({{0, 2, 1}, {0, 1}})->UseRealTime()->Unit(benchmark::kMillisecond);

// Our decode alone: open and every frame into a picture, as the scene load reads them.
void BM_DecodeOnly(benchmark::State& state) {
  if (!TheFiles().ok) {
    state.SkipWithError("ffmpeg could not make the files");
    return;
  }
  StartWorkerPool();
  const std::wstring path = Wide(PathOf(state.range(0)));
  CImgBuff picture;
  for (auto _ : state) {
    MediaFile* media = MediaOpen(path.c_str(), nullptr, nullptr);
    if (!media) {
      state.SkipWithError("open failed");
      return;
    }
    for (uint64_t f = 0; f < kFrames; ++f) LoadImageFromMedia(&picture, media, f);
    MediaClose(media);
  }
  state.counters["fps"] =
      benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(LabelOf(state.range(0)));
}
BENCHMARK(BM_DecodeOnly)->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
