// bg_create_test.cpp - the background tool on the test host: the six methods on hand-made
// scenes and against numpy on random colour scenes, stills, cancel, refused and failed runs,
// the controls and the settings.
#include "filters/binary_geometry_fourier/bg_create.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "app/cfgfile.h"
#include "media/imgio/imgio.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"
#include "tests/test_files.h"

namespace {

// Owned scenes; pictures cannot be copied.
using Frames = std::vector<std::unique_ptr<CImgBuff>>;

CImgBuff* Gray(Frames* frames, int w, int h, uint8_t v) {
  frames->push_back(std::make_unique<CImgBuff>());
  CImgBuff* p = frames->back().get();
  EXPECT_EQ(1, p->Allocate(w, h, ImgFormatGray8));
  std::memset(p->Pixels(), v, size_t(w) * size_t(h));
  return p;
}

// Cancels the tool's run when the chain reaches scene `at` (stands in for a press of
// CANCEL that the message pump of that fetch delivers).
class CancelAt : public CImgFilter {
 public:
  CancelAt(CLfBgCreate* tool, uint64_t at) : tool_(tool), at_(at) {}
  void Process(CImgBuff*, uint64_t scene, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    if (scene == at_ && tool_->Busy()) tool_->m_walk.Cancel();
  }

 private:
  CLfBgCreate* tool_;
  uint64_t at_;
};

struct Rig {
  CTestHost host;
  CLfBgCreate* tool = new CLfBgCreate;
  qvtest::TempFolder dir{"bgcreate"};
  CScriptedDialogs dialogs;
  explicit Rig(const Frames& frames, CImgFilter* before = nullptr) {
    std::vector<const CImgBuff*> list;
    for (const auto& f : frames) list.push_back(f.get());
    if (frames.size() == 1) {
      host.SetStill(*frames[0]);
    } else {
      EXPECT_EQ(1, host.SetVideo(list, 33333));
    }
    if (before) host.AddFilter(before, nullptr);
    host.AddFilter(tool, nullptr);
    host.SetLanguage(L"en");
  }
  // Runs method into out.png; the loaded result, empty when nothing was written.
  void Run(CImgBuff* result, int32_t method, int32_t level = 2) {
    CFgUIChkButton::SetGroupSelection(&tool->m_method[0], method, 0);
    tool->m_noise.m_position = level;
    dialogs.m_paths.push_back(dir.WideFile("out.png"));
    tool->Execute();
    if (MediaFileExists(dir.WideFile("out.png").c_str())) {
      EXPECT_EQ(1, LoadImageFile(result, dir.WideFile("out.png").c_str(), nullptr, nullptr));
    }
  }
  std::wstring LastMessage() const {
    return dialogs.m_shown.empty() ? L"" : dialogs.m_shown.back().text;
  }
};

TEST(BgCreate, NameKeyAndDefaultsPackInOrder) {
  CLfBgCreate f;
  EXPECT_STREQ(L"Generate BG image", f.GetName(L"en"));
  EXPECT_STREQ(L"背景画像の作成", f.GetName(L"jp"));
  EXPECT_STREQ(L"generate_bg_image", f.GetKey());
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"sel 0",
                                       L"noise_level 2"}),
            filtertest::PackLines(&pack));
}

TEST(BgCreate, EachMethodOnThreeGrayScenes) {
  struct Case {
    std::vector<uint8_t> scenes;
    int32_t method;
    uint8_t want;
  };
  const Case cases[] = {
      {{10, 20, 90}, 0, 40}, {{10, 20, 90}, 1, 90}, {{10, 20, 90}, 2, 10},
      {{10, 20, 90}, 4, 70}, {{10, 20, 90}, 5, 10},
      {{10, 11}, 0, 10},  // the mean is truncated
      // m = 110: the maximum 200 is bounded by 2m - n = 160; the minimum 60 stands since
      // 2m - M = 20 lies below it
      {{200, 60, 70}, 4, 160}, {{200, 60, 70}, 5, 60},
  };
  for (const Case& c : cases) {
    Frames frames;
    for (uint8_t v : c.scenes) Gray(&frames, 5, 3, v);
    Rig rig(frames);
    CImgBuff out;
    rig.Run(&out, c.method);
    ASSERT_EQ(5, out.Width()) << "method " << c.method;
    ASSERT_EQ(3, out.Height());
    const uint8_t* p = static_cast<const uint8_t*>(out.Pixels());
    for (int i = 0; i < 15; ++i) EXPECT_EQ(c.want, p[i]) << "method " << c.method << " px " << i;
    EXPECT_EQ(L"saved", rig.LastMessage());
    EXPECT_EQ(std::wstring(L"SAVE"), rig.tool->m_run.m_text);
    EXPECT_EQ(0, rig.tool->Busy());
    ASSERT_EQ(2u, rig.host.m_enableOnlyCalls.size());
    EXPECT_EQ(1u, rig.host.m_enableOnlyCalls[0].first);
    EXPECT_EQ(0u, rig.host.m_enableOnlyCalls[1].first);
  }
}

// Random colour scenes: methods 0, 1, 2, 4 and 5 exactly as numpy folds the same bytes.
TEST(BgCreate, ColourMethodsMatchNumpy) {
  if (std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 without numpy";
  const int w = 13, h = 7, n = 5;
  std::mt19937 rng(7);
  Frames frames;
  std::vector<uint8_t> all;
  for (int i = 0; i < n; ++i) {
    frames.push_back(std::make_unique<CImgBuff>());
    CImgBuff& f = *frames.back();
    ASSERT_EQ(1, f.Allocate(w, h, ImgFormatRgb24));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t rgb[3] = {uint8_t(rng()), uint8_t(rng() % 64), uint8_t(128 + rng() % 128)};
        f.SetRGB8(x, y, rgb[0], rgb[1], rgb[2]);
        all.insert(all.end(), rgb, rgb + 3);
      }
  }
  qvtest::TempFolder py("bgnumpy");
  ASSERT_TRUE(testfiles::WriteFile(py.File("frames.raw"), all));
  qvtest::WriteWholeFile(py.File("ref.py"), R"(import sys, numpy as np
d = sys.argv[1]
f = np.fromfile(d + '/frames.raw', np.uint8).reshape(5, 7, 13, 3).astype(np.int64)
M, n, s = f.max(0), f.min(0), f.sum(0)
m = s // 5
# the noise-removing variants work at 32 bits: 8-bit values widened by bit replication,
# the result narrowed to its top byte
W, N, S = M * 16843009, n * 16843009, s * 16843009
mw = S // 5
out = [m, M, n, None, np.minimum(W, 2 * mw - N) >> 24, np.maximum(N, 2 * mw - W) >> 24]
for i, r in enumerate(out):
    if r is not None:
        np.clip(r, 0, 255).astype(np.uint8).tofile(d + '/ref%d.raw' % i)
)");
  ASSERT_EQ(0, std::system(("/usr/bin/python3 " + py.File("ref.py") + " " + py.path()).c_str()));
  for (int32_t method : {0, 1, 2, 4, 5}) {
    Rig rig(frames);
    CImgBuff out;
    rig.Run(&out, method);
    ASSERT_EQ(w, out.Width());
    const std::vector<uint8_t> ref = testfiles::ReadFile(py.File("ref" + std::to_string(method) + ".raw"));
    ASSERT_EQ(size_t(w * h * 3), ref.size());
    int bad = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t r, g, b;
        out.GetRGB8(x, y, &r, &g, &b);
        const uint8_t* want = &ref[size_t((y * w + x) * 3)];
        bad += r != want[0] || g != want[1] || b != want[2];
      }
    EXPECT_EQ(0, bad) << "method " << method;
  }
}

// A still: every method gives the frame itself (the L*a*b* mean within one level).
TEST(BgCreate, AStillGivesTheFrame) {
  Frames frames;
  frames.push_back(std::make_unique<CImgBuff>());
  CImgBuff& still = *frames[0];
  ASSERT_EQ(1, still.Allocate(6, 4, ImgFormatRgb24));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) still.SetRGB8(x, y, uint8_t(40 * x + 3), uint8_t(60 * y), uint8_t(x * y * 9 + 100));
  for (int32_t method = 0; method < 6; ++method) {
    Rig rig(frames);
    CImgBuff out;
    rig.Run(&out, method, 20);
    ASSERT_EQ(6, out.Width()) << method;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        uint8_t a[3], b[3];
        out.GetRGB8(x, y, &a[0], &a[1], &a[2]);
        still.GetRGB8(x, y, &b[0], &b[1], &b[2]);
        for (int c = 0; c < 3; ++c) {
          if (method == 3) EXPECT_NEAR(int(b[c]), int(a[c]), 1) << x << "," << y;
          else EXPECT_EQ(b[c], a[c]) << method << " " << x << "," << y;
        }
      }
  }
}

TEST(BgCreate, CancelDuringTheLastSceneWritesNothing) {
  Frames frames;
  for (uint8_t v : {10, 20, 90}) Gray(&frames, 4, 4, v);
  CLfBgCreate* tool = new CLfBgCreate;
  CTestHost host;
  std::vector<const CImgBuff*> list{frames[0].get(), frames[1].get(), frames[2].get()};
  ASSERT_EQ(1, host.SetVideo(list, 33333));
  host.AddFilter(new CancelAt(tool, 2), nullptr);
  host.AddFilter(tool, nullptr);
  host.SetLanguage(L"en");
  qvtest::TempFolder dir("bgcancel");
  CScriptedDialogs dialogs;
  dialogs.m_paths.push_back(dir.WideFile("out.png"));
  tool->Execute();
  EXPECT_FALSE(MediaFileExists(dir.WideFile("out.png").c_str()));
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"canceled", dialogs.m_shown[0].text);
  EXPECT_EQ(L"confirmation", dialogs.m_shown[0].caption);
  EXPECT_EQ(0, tool->Busy());
  EXPECT_EQ(std::wstring(L"SAVE"), tool->m_run.m_text);
  // The next run starts with the flag clear.
  host.RemoveFilter(0);
  dialogs.m_paths.push_back(dir.WideFile("out.png"));
  tool->Execute();
  EXPECT_TRUE(MediaFileExists(dir.WideFile("out.png").c_str()));
}

TEST(BgCreate, RunsThatDoNotStartOrFail) {
  Frames frames;
  Gray(&frames, 4, 4, 10);
  Gray(&frames, 4, 4, 20);
  CImgBuff out;
  {  // overwrite declined: no run at all
    Rig rig(frames);
    qvtest::WriteWholeFile(rig.dir.File("out.png"), "old");
    rig.dialogs.m_answers.push_back(0);
    rig.dialogs.m_paths.push_back(rig.dir.WideFile("out.png"));
    rig.tool->Execute();
    ASSERT_EQ(1u, rig.dialogs.m_shown.size());
    EXPECT_EQ(L"Do you want to overwrite it?", rig.dialogs.m_shown[0].text);
    EXPECT_EQ(0u, rig.host.m_seekCount);
    EXPECT_TRUE(rig.host.m_enableOnlyCalls.empty());
    EXPECT_EQ("old", qvtest::ReadWholeFile(rig.dir.File("out.png")));
  }
  {  // chooser cancelled: nothing
    Rig rig(frames);
    rig.tool->Execute();
    EXPECT_TRUE(rig.dialogs.m_shown.empty());
    EXPECT_EQ(0u, rig.host.m_seekCount);
  }
  {  // the tool switched off gets no frame: "failed", nothing written
    Rig rig(frames);
    rig.tool->m_filterEnabled = 0;
    rig.Run(&out, 0);
    EXPECT_FALSE(MediaFileExists(rig.dir.WideFile("out.png").c_str()));
    ASSERT_EQ(1u, rig.dialogs.m_shown.size());
    EXPECT_EQ(L"failed", rig.dialogs.m_shown[0].text);
    EXPECT_EQ(L"error", rig.dialogs.m_shown[0].caption);
    EXPECT_EQ(0, rig.tool->Busy());
  }
  {  // Japanese texts
    Rig rig(frames);
    rig.host.SetLanguage(L"jp");
    rig.tool->m_filterEnabled = 0;
    rig.Run(&out, 1);
    ASSERT_EQ(1u, rig.dialogs.m_shown.size());
    EXPECT_EQ(L"失敗しました", rig.dialogs.m_shown[0].text);
    EXPECT_EQ(L"エラー", rig.dialogs.m_shown[0].caption);
    EXPECT_EQ(std::wstring(L"画像を保存"), rig.tool->m_run.m_text);
  }
}

TEST(BgCreate, NoiseControlsFollowMethodThreeAndTheRun) {
  CLfBgCreate f;
  for (int32_t method = 0; method < 6; ++method) {
    CFgUIChkButton::SetGroupSelection(&f.m_method[0], method, 0);
    f.UpdateControls();
    EXPECT_EQ(method == 3, f.m_noise.m_enabled != 0) << method;
    EXPECT_EQ(method == 3, f.m_noiseLabel.m_enabled != 0) << method;
    EXPECT_TRUE(f.m_method[method].m_enabled);
  }
}

TEST(BgCreate, LoadParamsKeepsWhatIsOutOfRange) {
  struct Case {
    const wchar_t* sel;
    const wchar_t* level;
    int32_t wantSel, wantLevel;
  };
  const Case cases[] = {
      {L"7", L"25", 1, 5}, {L"-1", L"1", 1, 5}, {L"4", L"20", 4, 20}, {L"0", L"2", 0, 2},
      {L"x", L"", 0, 5},  // read as a C library reads a number: no digits is 0
  };
  for (const Case& c : cases) {
    CLfBgCreate f;
    CFgUIChkButton::SetGroupSelection(&f.m_method[0], 1, 0);
    f.m_noise.m_position = 5;
    CCfgPack pack;
    pack.AddItem(L"sel", c.sel);
    pack.AddItem(L"noise_level", c.level);
    f.LoadParams(&pack);
    EXPECT_EQ(c.wantSel, f.Method()) << c.sel;
    EXPECT_EQ(c.wantLevel, f.m_noise.m_position) << c.level;
    CCfgPack out;
    f.SaveParams(&out);
    const std::vector<std::wstring> lines = filtertest::PackLines(&out);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(L"sel " + std::to_wstring(c.wantSel), lines[2]);
    EXPECT_EQ(L"noise_level " + std::to_wstring(c.wantLevel), lines[3]);
  }
}

}  // namespace
