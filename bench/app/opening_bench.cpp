// opening_bench.cpp - playing videos in the real main window (640 x 500, the program's
// first window) with the scene bar's own play loop.  Each scene in turn is decoded, run
// through the (empty) chain, converted into the view's texture and drawn.
//   BM_PlayAsFastAsItGoes  a 1920 x 1080, 100-frame MJPG AVI and H.264 MP4 made by ffmpeg,
//                          played with no frame waiting for its time; the yardstick is
//                          `ffmpeg -threads 1 -i file -f null -` on the same file in the same
//                          run.  Reported: frames shown a second, ffmpeg's decode rate, ours
//                          relative to it (x_ffmpeg: our time over ffmpeg's; goal 1.3 at
//                          most) and the window redraws a shown frame (goal 1).
//   BM_PlayAtTheVideosRate a 25 fps 640 x 480 MJPG AVI of 100 frames played at its own rate
//                          without skipping: frames shown a second of wall clock (goal 25).
//   BM_DisplaySteps, BM_DecodeOnly  the parts of a frame's time apart.
// Needs an X display (scripts/bench starts Xvfb without one) and ffmpeg.
#include <benchmark/benchmark.h>

#include <GL/gl.h>
#include <unistd.h>

#include <atomic>
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
  std::string folder, avi, mp4, sd;
  bool ok = false;
  Files() {
    char pattern[] = "/tmp/qv_opening_bench_XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder = pattern;
    avi = folder + "/play.avi";
    mp4 = folder + "/play.mp4";
    sd = folder + "/sd25.avi";
    const std::string source =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v 100 ";
    ok = std::system((source + "-c:v mjpeg -q:v 3 '" + avi + "'").c_str()) == 0 &&
         std::system((source + "-c:v libx264 -pix_fmt yuv420p '" + mp4 + "'").c_str()) == 0 &&
         std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 100 "
                      "-c:v mjpeg -q:v 3 '" + sd + "'").c_str()) == 0;
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

// The main window counting its redraws (the worker redraws too).
class CountingMainScreen : public CMainScreen {
 public:
  void DrawOverlay() override {
    CFgUIDialog::DrawOverlay();
    ++redraws;
  }
  std::atomic<uint64_t> redraws{0};
};

// The main window of a first start, or null (the state says why).
CountingMainScreen* MakeWindow(benchmark::State& state) {
  if (!PlatHasDisplay()) {
    state.SkipWithError("no X display");
    return nullptr;
  }
  if (!TheFiles().ok) {
    state.SkipWithError("ffmpeg could not make the files");
    return nullptr;
  }
  StartWorkerPool();
  SetConfigFilePathForTesting(Wide(TheFiles().folder + "/quorvix_duvu.cfg").c_str());
  FgSetMessageBoxOverride(NoBox);
  CountingMainScreen* screen = new CountingMainScreen;
  if (!screen->Create(-1, -1, 640, 500, kProgramTitle, FgStyleResizable, nullptr)) {
    state.SkipWithError("no window");
    delete screen;
    return nullptr;
  }
  screen->Layout();
  return screen;
}

void DropWindow(CountingMainScreen* screen) {
  delete screen;
  FgSetMessageBoxOverride(nullptr);
  SetConfigFilePathForTesting(nullptr);
}

// Waits for the GPU, so that the time counts the drawing it was asked for.
void Finish(CMainScreen* screen) {
  if (screen->BeginDraw()) {
    glFinish();
    screen->EndDraw(0);
  }
}

// Opens the file (not timed), then plays it from the first scene to the last: the scenes
// shown by the loop, the seconds it took, the redraws it made.
struct PlayRun {
  uint64_t shown = 0, redraws = 0;
  double seconds = 0;
};
PlayRun Play(CountingMainScreen* screen, const std::string& path, uint64_t interval) {
  screen->OpenImage(Wide(path).c_str());
  Finish(screen);
  screen->m_videoPanel.m_interval = interval;
  screen->m_videoPanel.m_skip = 0;
  const uint64_t first = screen->m_videoPanel.m_position, redraws = screen->redraws.load();
  const auto t0 = std::chrono::steady_clock::now();
  screen->m_videoPanel.Play(1);
  Finish(screen);
  PlayRun run;
  run.seconds = Seconds(t0, std::chrono::steady_clock::now());
  run.shown = screen->m_videoPanel.m_position - first;
  run.redraws = screen->redraws.load() - redraws;
  return run;
}

void BM_PlayAsFastAsItGoes(benchmark::State& state) {
  CountingMainScreen* screen = MakeWindow(state);
  if (!screen) return;
  const std::string& path = PathOf(state.range(0));
  double ours = 0, theirs = 0;
  uint64_t shown = 0, redraws = 0;
  for (auto _ : state) {
    const PlayRun run = Play(screen, path, 1);
    state.SetIterationTime(run.seconds);
    ours += run.seconds;
    shown += run.shown;
    redraws += run.redraws;
    theirs += FfmpegSeconds(path);
  }
  const double n = double(state.iterations());
  state.counters["fps"] = double(shown) / ours;
  state.counters["redraws_per_frame"] = shown ? double(redraws) / double(shown) : 0;
  if (theirs > 0) {
    state.counters["ffmpeg_fps"] = kFrames * n / theirs;
    // Our time a frame over ffmpeg's: goal 1.3 at most.
    state.counters["x_ffmpeg"] = (ours / double(shown)) / (theirs / (kFrames * n));
  }
  state.SetLabel(std::string(LabelOf(state.range(0))) + " 1920 x 1080, 640 x 500 window");
  DropWindow(screen);
}
BENCHMARK(BM_PlayAsFastAsItGoes)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// At the video's own rate (40 ms a frame, as opening sets it), no skipping: every scene is
// shown, and a loop that keeps up shows 25 a second.
void BM_PlayAtTheVideosRate(benchmark::State& state) {
  CountingMainScreen* screen = MakeWindow(state);
  if (!screen) return;
  double seconds = 0;
  uint64_t shown = 0, redraws = 0;
  for (auto _ : state) {
    const PlayRun run = Play(screen, TheFiles().sd, 40);
    state.SetIterationTime(run.seconds);
    seconds += run.seconds;
    shown += run.shown;
    redraws += run.redraws;
  }
  state.counters["fps"] = double(shown) / seconds;
  state.counters["redraws_per_frame"] = shown ? double(redraws) / double(shown) : 0;
  state.SetLabel("MJPG AVI 640 x 480 at 25 fps, 640 x 500 window");
  DropWindow(screen);
}
BENCHMARK(BM_PlayAtTheVideosRate)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

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
