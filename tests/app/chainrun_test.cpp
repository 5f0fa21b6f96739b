// chainrun_test.cpp - the chain runner (group tags, chain state, component switching, the
// depth at the end, the time-slice yield), the overlay pass, the converters of the overlay
// draw target and the Fourier filters' spectrum stack.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "app/filterctrl.h"
#include "app/spectrum.h"
#include "tests/app/app_test_util.h"
#include "toolkit/screen.h"
#include "toolkit/texture.h"

namespace {

using apptest::CallLog;
using apptest::MakePicture;
using apptest::RecordingFilter;
using Lines = std::vector<std::string>;

// A filter whose ProcessChain is a test's lambda.
class StateFilter : public CImgFilter {
 public:
  using Fn = std::function<void(CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*,
                                uint32_t*, uint32_t*, uint32_t*)>;
  explicit StateFilter(Fn fn) : fn_(std::move(fn)) {}
  void ProcessChain(CImgBuff* p, uint64_t, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                    uint32_t* c, uint32_t* b, uint32_t* comp, uint32_t* depth) override {
    fn_(p, x, y, w, h, c, b, comp, depth);
  }
  Fn fn_;
};

StateFilter* SetComponent(uint32_t code) {
  return new StateFilter([code](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*,
                                uint32_t*, uint32_t* comp, uint32_t*) { *comp = code; });
}

// The controller without a worker: ProcessFrame runs on the test's thread.
struct Runner {
  Runner() {
    CFilterCtrl::SetRefuseWorkerForTesting(1);
    ctrl = new CFilterCtrl;
    CFilterCtrl::SetRefuseWorkerForTesting(0);
  }
  ~Runner() { delete ctrl; }
  void Add(CImgFilter* f) { ASSERT_EQ(1, ctrl->AddFilter(f, nullptr)); }
  CFilterCtrl* ctrl;
};

SpectrumStackEntry EntryWithBlock() {
  SpectrumStackEntry e{};
  e.record.block = std::calloc(1, 64);
  e.x1 = e.y1 = 3;
  return e;
}

TEST(ChainRun, AnEmptyPictureCallsNoFilterAndKeepsTheStack) {
  CallLog log;
  Runner r;
  r.Add(new RecordingFilter(&log, "f"));
  SpectrumStackAddInstance();
  SpectrumStackEntry e = EntryWithBlock();
  ASSERT_EQ(1, PushSpectrum(&e));
  log.Take();
  CImgBuff empty;
  r.ctrl->ProcessFrame(&empty, 0);
  EXPECT_TRUE(log.Take().empty());
  EXPECT_EQ(1u, SpectrumStackCount());
  // The next real run empties it (and frees the block: the leak check watches).
  CImgBuff pic;
  MakePicture(pic, 4, 4, ImgFormatGray8);
  r.ctrl->ProcessFrame(&pic, 0);
  EXPECT_EQ(0u, SpectrumStackCount());
  EXPECT_EQ(8u, SpectrumStackCapacity());
  SpectrumStackReleaseInstance();
}

TEST(ChainRun, GroupTagsSwitchTheirFiltersButNotTheirOverlays) {
  CallLog log;
  Runner r;
  auto tag = [](uint32_t enabled) {
    CImgFilter* t = new CImgFilter;
    t->m_type = 1;
    t->m_filterEnabled = enabled;
    return t;
  };
  CImgFilter* t0 = tag(0);
  r.Add(new RecordingFilter(&log, "before"));
  r.Add(t0);
  r.Add(new RecordingFilter(&log, "a"));
  r.Add(new RecordingFilter(&log, "b"));
  CImgFilter* t1 = tag(1);
  r.Add(t1);
  RecordingFilter* c = new RecordingFilter(&log, "c");
  r.Add(c);
  RecordingFilter* d = new RecordingFilter(&log, "d");
  r.Add(d);
  t0->m_filterEnabled = 0;  // AddFilter enabled the tags
  d->m_filterEnabled = 0;
  log.Take();
  CImgBuff pic;
  MakePicture(pic, 4, 4, ImgFormatGray8);
  r.ctrl->ProcessFrame(&pic, 7);
  EXPECT_EQ((Lines{"before:Process(7)", "c:Process(7)"}), log.Take());

  // Overlays: every enabled filter, group tags not consulted; a screen needs a context.
  CFgScreen screen;
  r.ctrl->DrawOverlays(&screen, nullptr, 0, 0, 9, 9, 0, 0, 9, 9, 1);
  EXPECT_TRUE(log.Take().empty());
  screen.m_glContext = reinterpret_cast<PlatGlContext*>(&screen);  // never used as one
  r.ctrl->DrawOverlays(&screen, nullptr, 0, 0, 9, 9, 0, 0, 9, 9, 1);
  EXPECT_EQ((Lines{"before:DrawOverlay", "a:DrawOverlay", "b:DrawOverlay", "c:DrawOverlay"}),
            log.Take());
  for (auto rect : std::vector<std::vector<int32_t>>{{5, 0, 4, 9, 0, 0, 9, 9},
                                                     {0, 5, 9, 4, 0, 0, 9, 9},
                                                     {0, 0, 9, 9, 5, 0, 4, 9},
                                                     {0, 0, 9, 9, 0, 5, 9, 4}}) {
    r.ctrl->DrawOverlays(&screen, nullptr, rect[0], rect[1], rect[2], rect[3], rect[4], rect[5],
                         rect[6], rect[7], 1);
    EXPECT_TRUE(log.Take().empty());
  }
  screen.m_glContext = nullptr;
  for (uint64_t i = 0; i < r.ctrl->FilterCount(); ++i)
    if (auto* f = dynamic_cast<RecordingFilter*>(r.ctrl->FilterAt(i))) f->log_ = nullptr;
}

TEST(ChainRun, AComponentPlaneBetweenTwoSelectionsReplacesItsChannel) {
  Runner r;
  CImgBuff pic, orig;
  MakePicture(pic, 70, 70, ImgFormatRgb24);  // 4900 pixels: the rows go to the pool
  orig.CopyFrom(pic);
  int32_t seenFormat = -1;
  bool planeIsG = true;
  r.Add(SetComponent(ComponentG));
  r.Add(new StateFilter([&](CImgBuff* p, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*,
                            uint32_t*, uint32_t*, uint32_t*) {
    seenFormat = p->Format();
    for (int32_t y = 0; y < 70; ++y)
      for (int32_t x = 0; x < 70; ++x) {
        uint8_t v, rr, g, b;
        p->GetGray8(x, y, &v);
        orig.GetRGB8(x, y, &rr, &g, &b);
        planeIsG = planeIsG && v == g;
        p->SetGray8(x, y, uint8_t(x + y));
      }
  }));
  r.Add(SetComponent(ComponentNone));
  // After the plane was merged the picture itself is handed on.
  r.Add(new StateFilter([&](CImgBuff* p, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*,
                            uint32_t*, uint32_t*, uint32_t*) { EXPECT_EQ(&pic, p); }));
  r.ctrl->ProcessFrame(&pic, 0);
  EXPECT_EQ(ImgFormatGray8, seenFormat);
  EXPECT_TRUE(planeIsG);
  ASSERT_EQ(ImgFormatRgb24, pic.Format());
  for (int32_t y = 0; y < 70; ++y)
    for (int32_t x = 0; x < 70; ++x) {
      uint8_t a[3], b[3];
      pic.GetRGB8(x, y, &a[0], &a[1], &a[2]);
      orig.GetRGB8(x, y, &b[0], &b[1], &b[2]);
      ASSERT_EQ(b[0], a[0]);
      ASSERT_EQ(uint8_t(x + y), a[1]);
      ASSERT_EQ(b[2], a[2]);
    }
}

TEST(ChainRun, ExtractionConversionsReturnToTheSampleSize) {
  struct Case {
    int32_t format;
    uint32_t code;
    int32_t planeFormat;  // what the filters after the selection get
    int32_t result;
  } cases[] = {
      {ImgFormatRgb24, ComponentS, ImgFormatGray16, ImgFormatRgb24},
      {ImgFormatGray8, ComponentX, ImgFormatGray32, ImgFormatRgb24},
      {ImgFormatHsv48, ComponentX, ImgFormatGray32, ImgFormatRgb48},
      {ImgFormatCmyk32, ComponentR, ImgFormatGray8, ImgFormatCmyk32},  // no conversion: kept
      {ImgFormatCmyk32, ComponentH, ImgFormatGray16, ImgFormatRgb24},
      {ImgFormatGray16, ComponentB, ImgFormatGray16, ImgFormatGray16},
      {ImgFormatXyz, ComponentL, ImgFormatGray32, ImgFormatXyz},
  };
  for (const Case& c : cases) {
    Runner r;
    CImgBuff pic;
    MakePicture(pic, 8, 6, c.format);
    int32_t seen = -1;
    r.Add(SetComponent(c.code));
    r.Add(new StateFilter([&](CImgBuff* p, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*,
                              uint32_t*, uint32_t*, uint32_t*) { seen = p->Format(); }));
    r.ctrl->ProcessFrame(&pic, 0);
    EXPECT_EQ(c.planeFormat, seen) << c.format << " " << c.code;
    EXPECT_EQ(c.result, pic.Format()) << c.format << " " << c.code;
    EXPECT_EQ(8, pic.Width());
  }
}

TEST(ChainRun, StateChangesReachLaterFiltersOfTheRunOnly) {
  Runner r;
  std::vector<uint32_t> seen, depths;
  r.ctrl->m_connectivity = 8;
  r.ctrl->m_background = 1;
  r.Add(new StateFilter([&](CImgBuff*, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                            uint32_t* c, uint32_t* b, uint32_t*, uint32_t* depth) {
    seen.push_back(*c);
    EXPECT_EQ(0, *x);
    EXPECT_EQ(0, *y);
    EXPECT_EQ(5, *w);
    EXPECT_EQ(3, *h);
    depths.push_back(*depth);
    *c = 4;
    *b = 0;
    *x = 2;
    *y = 1;
    *w = 0;
  }));
  r.Add(new StateFilter([&](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t* c,
                            uint32_t* b, uint32_t*, uint32_t* depth) {
    seen.push_back(*c);
    EXPECT_EQ(0u, *b);
    *depth = 2;
  }));
  CImgBuff pic;
  MakePicture(pic, 5, 3, ImgFormatRgb24);
  r.ctrl->ProcessFrame(&pic, 0);
  EXPECT_EQ((std::vector<uint32_t>{8, 4}), seen);
  EXPECT_EQ(8u, r.ctrl->m_connectivity);
  EXPECT_EQ(1u, r.ctrl->m_background);
  // Width 0: the last rectangle ends one column before it starts.
  EXPECT_EQ(2, r.ctrl->m_lastRect[0]);
  EXPECT_EQ(1, r.ctrl->m_lastRect[1]);
  EXPECT_EQ(1, r.ctrl->m_lastRect[2]);
  EXPECT_EQ(3, r.ctrl->m_lastRect[3]);
  EXPECT_EQ(ImgFormatRgb48, pic.Format());  // depth 2 asked for
  seen.clear();
  r.ctrl->ProcessFrame(&pic, 0);
  EXPECT_EQ(8u, seen[0]);  // the next run starts from the controller's own value again
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), depths);  // the picture's sample size at the start
}

namespace clock {
std::vector<uint32_t> ticks;
size_t next = 0;
int yields = 0;
uint32_t Tick() { return next < ticks.size() ? ticks[next++] : ticks.back(); }
void Yield() { yields++; }
}  // namespace clock

TEST(ChainRun, YieldsWhenMoreThan50msPassedOrTheTickWrapped) {
  struct Case {
    std::vector<uint32_t> ticks;  // start, then one per filter that runs
    int yields;
  } cases[] = {
      {{1000, 1050, 1050}, 0},
      {{1000, 1020, 1100}, 1},  // measured from the last yield, not the last filter
      {{1000, 1051, 1060}, 1},
      {{1000, 1051, 1102}, 2},
      {{0xFFFFFFF0u, 5, 6}, 1},  // a wrap counts as more
      {{0xFFFFFFF0u, 0xFFFFFFF1u, 40}, 1},
  };
  for (const Case& c : cases) {
    Runner r;
    r.Add(new CImgFilter);
    r.Add(new CImgFilter);
    clock::ticks = c.ticks;
    clock::next = 0;
    clock::yields = 0;
    SetChainRunClockForTesting({&clock::Tick, &clock::Yield});
    CImgBuff pic;
    MakePicture(pic, 2, 2, ImgFormatGray8);
    r.ctrl->ProcessFrame(&pic, 0);
    SetChainRunClockForTesting({});
    EXPECT_EQ(c.yields, clock::yields) << c.ticks[1];
  }
}

TEST(OverlayConverters, WindowPaddedTextureAndCell) {
  CFgScreen window;
  window.m_clientWidth = 640;
  window.m_clientHeight = 500;
  SetOverlayTexture(nullptr, 0);
  SetOverlayMainWindow(nullptr);
  EXPECT_EQ(0.0, PixelToGlX(10));
  EXPECT_EQ(0.0, PixelToGlY(10));
  SetOverlayMainWindow(&window);
  EXPECT_DOUBLE_EQ(1.0 / 640, PixelToGlX(320));
  EXPECT_DOUBLE_EQ(-0.001, PixelToGlY(250));
  EXPECT_DOUBLE_EQ(-1.0 + 1.0 / 640, PixelToGlX(0));

  CFgTexture padded;
  padded.m_cellWidth = 600;
  padded.m_cellHeight = 400;
  padded.m_bufferWidth = 1024;
  padded.m_bufferHeight = 512;
  SetOverlayTexture(&padded, 1);
  EXPECT_DOUBLE_EQ(1.0 / 1024, PixelToGlX(512));
  EXPECT_DOUBLE_EQ(-1.0 + 1.0 / 512, PixelToGlY(0));
  // The size is read once after the texture was set.
  padded.m_bufferWidth = 2048;
  EXPECT_DOUBLE_EQ(1.0 / 1024, PixelToGlX(512));
  SetOverlayTexture(&padded, 0);
  EXPECT_DOUBLE_EQ(0.0, PixelToGlX(300));
  EXPECT_DOUBLE_EQ(1.0, PixelToGlY(0));
  SetOverlayTexture(nullptr, 0);
  EXPECT_DOUBLE_EQ(1.0 / 640, PixelToGlX(320));
  SetOverlayMainWindow(nullptr);
}

TEST(SpectrumStackOps, GrowsByEightPopsNewestFirstAndEmptyingFreesBlocks) {
  SpectrumStackAddInstance();
  SpectrumStackAddInstance();
  for (int i = 0; i < 9; ++i) {
    SpectrumStackEntry e = EntryWithBlock();
    e.x0 = i;
    ASSERT_EQ(1, PushSpectrum(&e));
  }
  EXPECT_EQ(9u, SpectrumStackCount());
  EXPECT_EQ(16u, SpectrumStackCapacity());
  SpectrumStackEntry out;
  ASSERT_EQ(1, PopSpectrum(&out));
  EXPECT_EQ(8, out.x0);
  FftFree(&out.record);  // popped: the block is the popper's
  EmptySpectrumStack();
  EXPECT_EQ(0u, SpectrumStackCount());
  EXPECT_EQ(16u, SpectrumStackCapacity());
  EXPECT_EQ(0, PopSpectrum(&out));
  // The release that is not the last keeps the array; the last frees it and what is on it.
  SpectrumStackEntry e = EntryWithBlock();
  ASSERT_EQ(1, PushSpectrum(&e));
  SpectrumStackReleaseInstance();
  EXPECT_EQ(16u, SpectrumStackCapacity());
  SpectrumStackReleaseInstance();
  EXPECT_EQ(0u, SpectrumStackCapacity());
  EXPECT_EQ(0u, SpectrumStackCount());
  SpectrumStackReleaseInstance();  // below zero: nothing
  EXPECT_EQ(0u, SpectrumStackInstances());
}

}  // namespace
